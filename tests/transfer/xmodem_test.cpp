#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "fake_line.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "recording_view.h"
#include "temp_dir.h"
#include "terminal/progress.h"
#include "terminal/xmodem.h"
#include "xm_peers.h"

using testing_support::RecordingView;
using testing_support::TempDir;
using transfer_test::FakePort;
using transfer_test::make_block;
using transfer_test::ReceiverPeer;
using transfer_test::SenderPeer;

namespace {

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

std::vector<std::string> folder_entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Xmodem : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::log_reset();
        ql::settings_reset_defaults();
        ql::settings().interchardelay = 1;
        ql::port_reset_state();
        ql::progress_reset();
        ql::xm_reset();
        // Short waits: a quiet fake line sleeps through each of them.
        ql::xm_set_timing({60, 10, 35});
        ql::crc16_table_init();
    }
    void TearDown() override {
        ql::xm_reset();
        ql::settings_reset_defaults();
        ql::log_reset();
    }
    std::string written(size_t from = 0) const {
        std::string all;
        for (size_t i = from; i < line.line->writes.size(); ++i) all += line.line->writes[i];
        return all;
    }

    RecordingView view;
    TempDir dir;
    FakePort line;
};

TEST(Crc16, MatchesTheXmodemCheckValue) {
    ql::crc16_table_init();
    EXPECT_EQ(ql::crc16("123456789", 9), 0x31C3);
    EXPECT_EQ(ql::crc16("", 0), 0);
}

// ---- sending ----

TEST_F(Xmodem, CrcReceiverGetsOneKBlocksThenSmallOnesForTheTail) {
    std::string content = pattern(2048 + 500);
    std::string path = dir.write("A.TXT", content);
    ReceiverPeer peer(*line.line, "C");
    ASSERT_EQ(ql::xm_send(line.port, path, 1, 0x00), 0);
    EXPECT_EQ(peer.headers, (std::vector<std::string>{"STX", "STX", "SOH", "SOH", "SOH", "SOH"}));
    EXPECT_EQ(peer.data, content + std::string(12, '\0'));
    EXPECT_EQ(peer.eots, 1);
    EXPECT_EQ(peer.damaged, 0);
    EXPECT_TRUE(view.has_line("XM:Send [ " + path + " ] [ 2548 ]"));
    EXPECT_TRUE(view.has_line("SEND SUCCESSFUL"));
}

TEST_F(Xmodem, OneKBlockIsUsedWhileAtLeast896BytesRemain) {
    std::string content = pattern(1024 + 900);
    ReceiverPeer peer(*line.line, "C");
    ASSERT_EQ(ql::xm_send(line.port, dir.write("B", content), 1, 0x1A), 0);
    EXPECT_EQ(peer.headers, (std::vector<std::string>{"STX", "STX"}));
    EXPECT_EQ(peer.data, content + std::string(124, '\x1a'));
}

TEST_F(Xmodem, NakReceiverGetsChecksumBlocksEvenWhenOneKWasOffered) {
    std::string content = pattern(256);  // an exact multiple: no padded block
    ReceiverPeer peer(*line.line, "\x15");
    ASSERT_EQ(ql::xm_send(line.port, dir.write("C", content), 1, 0), 0);
    EXPECT_EQ(peer.headers, (std::vector<std::string>{"SOH", "SOH"}));
    EXPECT_EQ(peer.data, content);
    EXPECT_EQ(line.line->writes[0].size(), 132u);
}

TEST_F(Xmodem, CrcWithoutOneKSends133ByteBlocks) {
    ReceiverPeer peer(*line.line, "C");
    ASSERT_EQ(ql::xm_send(line.port, dir.write("D", pattern(2000)), 0, 0), 0);
    EXPECT_EQ(line.line->writes[0].size(), 133u);
    EXPECT_EQ(peer.headers.size(), 16u);
}

TEST_F(Xmodem, EmptyFileGoesStraightToEot) {
    ReceiverPeer peer(*line.line, "C");
    ASSERT_EQ(ql::xm_send(line.port, dir.write("E", ""), 1, 0), 0);
    EXPECT_EQ(written(), "\x04");
}

TEST_F(Xmodem, BlockNumbersWrapFrom255ToZero) {
    std::string content = pattern(300 * 128);
    ReceiverPeer peer(*line.line, "\x15");
    ASSERT_EQ(ql::xm_send(line.port, dir.write("F", content), 0, 0), 0);
    ASSERT_EQ(peer.numbers.size(), 300u);
    EXPECT_EQ(peer.numbers[254], 255);
    EXPECT_EQ(peer.numbers[255], 0);
    EXPECT_EQ(peer.numbers[256], 1);
    EXPECT_EQ(peer.data, content);
}

TEST_F(Xmodem, SendStartFailuresWriteNothing) {
    std::string path = dir.write("G", pattern(10));
    for (const std::string& start : {std::string(), std::string("\x18"), std::string("Z")}) {
        FakePort fresh;
        ReceiverPeer peer(*fresh.line, start);
        EXPECT_EQ(ql::xm_send(fresh.port, path, 1, 0), -999);
        EXPECT_TRUE(fresh.line->writes.empty());
    }
}

TEST_F(Xmodem, RejectedBlockIsResentAndTheTransferCompletes) {
    std::string content = pattern(300);
    ReceiverPeer peer(*line.line, "\x15");
    peer.answers = {{1, "\x15"}, {2, ""}};  // block 2 NAKed, then unanswered once
    ASSERT_EQ(ql::xm_send(line.port, dir.write("H", content), 0, 0), 0);
    EXPECT_EQ(peer.data.substr(0, 300), content);
    EXPECT_EQ(peer.numbers, (std::vector<int>{1, 2, 3}));
}

TEST_F(Xmodem, BlockFailuresEndWithOneCan) {
    struct Case {
        std::map<int, std::string> answers;
        int rc;
    };
    std::map<int, std::string> naks, silence, mixed;
    for (int i = 0; i < 10; ++i) {
        naks[i] = "\x15";
        silence[i] = "";
        mixed[i] = i == 9 ? "\x15" : "?";
    }
    const Case cases[] = {{naks, -203}, {silence, -999}, {mixed, -203}, {{{0, "\x18"}}, -200}};
    std::string path = dir.write("I", pattern(200));
    for (const Case& c : cases) {
        FakePort fresh;
        ReceiverPeer peer(*fresh.line, "\x15");
        peer.answers = c.answers;
        EXPECT_EQ(ql::xm_send(fresh.port, path, 0, 0), c.rc);
        EXPECT_EQ(peer.cans, 1);
        EXPECT_EQ(peer.eots, 0);
    }
    EXPECT_TRUE(view.has_line("SEND ERROR  RC : -203  ERRNO : "));
}

TEST_F(Xmodem, EotIsRepeatedUntilAcknowledged) {
    ReceiverPeer peer(*line.line, "\x15");
    peer.answers = {{1, "\x15"}, {2, ""}};
    EXPECT_EQ(ql::xm_send(line.port, dir.write("J", "x"), 0, 0), 0);
    EXPECT_EQ(peer.eots, 3);

    FakePort never;
    ReceiverPeer deaf(*never.line, "\x15");
    for (int i = 1; i <= 10; ++i) deaf.answers[i] = "";
    EXPECT_EQ(ql::xm_send(never.port, dir.file("J"), 0, 0), -201);
    EXPECT_EQ(deaf.eots, 10);
    EXPECT_EQ(deaf.cans, 0);

    FakePort cancelled;
    ReceiverPeer quitter(*cancelled.line, "\x15");
    quitter.answers = {{1, "\x18"}};
    EXPECT_EQ(ql::xm_send(cancelled.port, dir.file("J"), 0, 0), -201);
    EXPECT_EQ(quitter.eots, 1);
    EXPECT_EQ(quitter.cans, 0);
}

TEST_F(Xmodem, MissingFileIsReportedOnlyInDebug) {
    EXPECT_EQ(ql::xm_send(line.port, dir.file("NONE"), 1, 0), -2);
    EXPECT_FALSE(view.has_line("XM:File Open"));
    ql::xm_set_debug(1);
    EXPECT_EQ(ql::xm_send(line.port, dir.file("NONE"), 1, 0), -2);
    EXPECT_TRUE(view.has_line("XM:File Open: errno [2]"));
    EXPECT_TRUE(line.line->writes.empty());
}

TEST_F(Xmodem, DebugLinesFollowTheFlag) {
    std::string path = dir.write("K", "x");
    {
        FakePort fresh;
        ReceiverPeer peer(*fresh.line, "Z");
        ql::xm_send(fresh.port, path, 1, 0);
    }
    EXPECT_FALSE(view.has_line("XM:Start:Unknown data"));
    ql::xm_set_debug(1);
    FakePort fresh;
    ReceiverPeer peer(*fresh.line, "Z");
    ql::xm_send(fresh.port, path, 1, 0);
    EXPECT_TRUE(view.has_line("XM:Start:Unknown data"));
}

TEST_F(Xmodem, ProgressShowsTheFileAndEndsBlank) {
    std::string path = dir.write("L", pattern(1000));
    ReceiverPeer peer(*line.line, "\x15");
    ASSERT_EQ(ql::xm_send(line.port, path, 0, 0), 0);
    auto titles = view.texts(ql::item::kProgressTitle);
    ASSERT_GE(titles.size(), 2u);
    EXPECT_EQ(titles.front(), "SENDING: " + path + " : 1000");
    EXPECT_EQ(titles.back(), " ");
    auto counts = view.texts(ql::item::kProgressPercent);
    ASSERT_GE(counts.size(), 3u);
    EXPECT_EQ(counts[counts.size() - 2], "100%    1000");
}

// ---- receiving ----

TEST_F(Xmodem, ReceivesOneKCrcBlocksAndTrimsToTheAnnouncedSize) {
    std::string content = pattern(3000);
    std::string path = dir.file("DATA.TXT");
    SenderPeer peer(*line.line, content, true);
    ASSERT_EQ(ql::xm_recv(line.port, path, 1, 3000), 0);
    EXPECT_TRUE(peer.finished);
    EXPECT_EQ(peer.prompts, "C");
    EXPECT_EQ(testing_support::read_whole_file(path), content);
    EXPECT_EQ(folder_entries(dir.path()), std::vector<std::string>{"DATA.TXT"});
    EXPECT_TRUE(view.has_line("RECV SUCCESSFUL"));
    EXPECT_EQ(view.texts(ql::item::kProgressTitle).front(), "RECEIVING: " + path + " : 3000");
}

TEST_F(Xmodem, WithoutAnnouncedSizeTheLastBlockIsKeptWhole) {
    std::string content = pattern(200);
    SenderPeer peer(*line.line, content, false);
    ASSERT_EQ(ql::xm_recv(line.port, dir.file("X"), 0, 0), 0);
    EXPECT_EQ(peer.prompts, "N");
    EXPECT_FALSE(peer.crc);
    EXPECT_EQ(dir.read("X"), content + std::string(56, '\x1a'));
}

TEST_F(Xmodem, SmallBlocksAfterCrcPromptSwitchTheSizeDown) {
    std::string content = pattern(1000);
    SenderPeer peer(*line.line, content, false);  // CRC, 128-byte blocks only
    ASSERT_EQ(ql::xm_recv(line.port, dir.file("Y"), 1, 1000), 0);
    EXPECT_TRUE(peer.crc);
    EXPECT_EQ(dir.read("Y"), content);
}

TEST_F(Xmodem, FallsBackToChecksumAfterThreeSilentCrcPrompts) {
    std::string content = pattern(130);
    SenderPeer peer(*line.line, content, true);
    peer.ignore_prompts = 3;
    ASSERT_EQ(ql::xm_recv(line.port, dir.file("Z"), 1, 130), 0);
    EXPECT_EQ(peer.prompts, "CCCN");
    EXPECT_FALSE(peer.crc);
    EXPECT_EQ(dir.read("Z"), content);
}

TEST_F(Xmodem, NoSenderFailsAfterSixPromptsAndKeepsThePreviousFile) {
    std::string path = dir.write("DATA.TXT", "yesterday");
    SenderPeer peer(*line.line, "new", true);
    peer.ignore_prompts = 100;
    EXPECT_EQ(ql::xm_recv(line.port, path, 1, 3), -999);
    EXPECT_EQ(peer.prompts, "CCCNNN");
    EXPECT_EQ(peer.cans, 0);
    EXPECT_EQ(dir.read("DATA.TXT"), "yesterday");
    EXPECT_EQ(folder_entries(dir.path()), std::vector<std::string>{"DATA.TXT"});
    EXPECT_TRUE(view.has_line("XM:StartRecvPacket errno ["));
    EXPECT_TRUE(view.has_line("rc [-999]"));
}

TEST_F(Xmodem, UnexpectedFirstByteIsCancelled) {
    SenderPeer peer(*line.line, "abc", true);
    peer.replace_once[0] = "hello";
    EXPECT_EQ(ql::xm_recv(line.port, dir.file("N"), 1, 3), -1);
    EXPECT_EQ(peer.cans, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("N")));
}

TEST_F(Xmodem, DamagedBlocksAreNakedAndResent) {
    std::string content = pattern(1500);
    SenderPeer peer(*line.line, content, true);
    peer.mutate = [](int index, int sent_before, const std::string& block) {
        if (sent_before > 0) return block;
        std::string b = block;
        if (index == 0) b[100] ^= 0x01;  // data bit flipped: CRC fails
        if (index == 1) {                // number and complement both wrong
            b[1] = 9;
            b[2] = static_cast<char>(255 - 9);
        }
        if (index == 2) b.resize(b.size() / 2);  // cut short
        if (index == 3) b[2] ^= 0x10;            // complement wrong, data intact
        return b;
    };
    ASSERT_EQ(ql::xm_recv(line.port, dir.file("R"), 1, 1500), 0);
    EXPECT_EQ(peer.naks, 4);
    EXPECT_EQ(dir.read("R"), content);
}

TEST_F(Xmodem, RepeatOfTheBlockJustAcceptedIsAcknowledgedAndDropped) {
    // The terminal misses the ACKs of the first block and of a 1K block in
    // the middle and sends each again: both repeats get ACK, nothing is
    // written twice, no NAK is sent.
    std::string content = pattern(5000);
    SenderPeer peer(*line.line, content, true);
    peer.miss_ack_once = {0, 2};
    ASSERT_EQ(ql::xm_recv(line.port, dir.file("S"), 1, 5000), 0);
    EXPECT_EQ(peer.naks, 0);
    EXPECT_EQ(peer.acks, 2 + 4 + 8);  // the two repeats, four 1K blocks, eight small ones
    EXPECT_EQ(dir.read("S"), content);
}

TEST_F(Xmodem, OtherOutOfOrderBlocksAreStillAnsweredWithNak) {
    std::string content = pattern(400);
    SenderPeer peer(*line.line, content, false);
    // Block 1 again where block 3 is due (two back), then block 4 (ahead).
    peer.replace_once[2] = make_block(1, content.substr(0, 128), true, false);
    std::string fourth = content.substr(384);
    fourth.resize(128, '\x1a');
    peer.mutate = [&](int index, int sent_before, const std::string& block) {
        return index == 2 && sent_before == 0 ? make_block(4, fourth, true, false) : block;
    };
    ASSERT_EQ(ql::xm_recv(line.port, dir.file("S"), 1, 400), 0);
    EXPECT_EQ(peer.naks, 2);
    EXPECT_EQ(dir.read("S"), content);
}

TEST_F(Xmodem, DamagedRepeatOfTheLastBlockIsAnsweredWithNak) {
    std::string content = pattern(400);
    SenderPeer peer(*line.line, content, false);
    std::string again = make_block(1, content.substr(0, 128), true, false);
    again[50] ^= 0x20;  // the repeat arrives damaged: not taken for a repeat
    peer.replace_once[1] = again;
    ASSERT_EQ(ql::xm_recv(line.port, dir.file("S"), 1, 400), 0);
    EXPECT_EQ(peer.naks, 1);
    EXPECT_EQ(dir.read("S"), content);
}

TEST_F(Xmodem, ShortBlockOfZerosIsNotTakenForAGoodOne) {
    // A checksum block of zeros cut after its header: the zeros in the
    // buffer would pass the sum check.
    std::string content(256, '\0');
    SenderPeer peer(*line.line, content, false);
    peer.mutate = [](int index, int sent_before, const std::string& block) {
        return index == 1 && sent_before == 0 ? block.substr(0, 40) : block;
    };
    ASSERT_EQ(ql::xm_recv(line.port, dir.file("Q"), 0, 0), 0);
    EXPECT_EQ(peer.naks, 1);
    EXPECT_EQ(dir.read("Q"), content);
}

TEST_F(Xmodem, ReceiveFailuresLeaveThePreviousFileAndNothingElse) {
    struct Case {
        const char* name;
        std::function<void(SenderPeer&)> setup;
        int rc;
        int cans;
    };
    const Case cases[] = {
        {"ten bad blocks",
         [](SenderPeer& p) {
             p.mutate = [](int i, int, const std::string& b) {
                 return i == 1 ? b.substr(0, 3) + std::string(b.size() - 3, 'x') : b;
             };
         },
         -203, 1},
        {"cancel", [](SenderPeer& p) { p.replace_once[2] = "\x18"; }, -200, 0},
        {"silence", [](SenderPeer& p) { p.go_silent_after = 1; }, -103, 1},
    };
    for (const Case& c : cases) {
        FakePort fresh;
        std::string path = dir.write("DATA.TXT", "yesterday's records");
        ::chmod(path.c_str(), 0640);
        SenderPeer peer(*fresh.line, pattern(5000), true);
        c.setup(peer);
        EXPECT_EQ(ql::xm_recv(fresh.port, path, 1, 5000), c.rc) << c.name;
        EXPECT_EQ(peer.cans, c.cans) << c.name;
        EXPECT_EQ(dir.read("DATA.TXT"), "yesterday's records") << c.name;
        EXPECT_EQ(folder_entries(dir.path()), std::vector<std::string>{"DATA.TXT"}) << c.name;
    }
    EXPECT_TRUE(view.has_line("RECV ERROR  RC : -203  ERRNO : "));
}

TEST_F(Xmodem, EotIsAcknowledgedOnlyOnceTheFileIsInPlace) {
    std::string path = dir.write("DATA.TXT", "yesterday's records");
    std::string content = pattern(3000);
    SenderPeer peer(*line.line, content, true);
    std::string at_ack;
    peer.on_finished = [&] { at_ack = dir.read("DATA.TXT"); };
    ASSERT_EQ(ql::xm_recv(line.port, path, 1, 3000), 0);
    EXPECT_TRUE(peer.finished);
    EXPECT_EQ(at_ack, content);
}

TEST_F(Xmodem, FailedCommitIsAFailedTransferForTheSender) {
    // A target that cannot be replaced: while the last block is on its way,
    // a local program puts a folder with a file in it at the target's name.
    std::string path = dir.write("DATA.TXT", "yesterday's records");
    SenderPeer peer(*line.line, pattern(300), true);
    peer.mutate = [&](int index, int sent_before, const std::string& block) {
        if (index == 2 && sent_before == 0) {
            std::filesystem::remove(path);
            std::filesystem::create_directory(path);
            dir.write("DATA.TXT/KEEP", "keep");
        }
        return block;
    };
    EXPECT_EQ(ql::xm_recv(line.port, path, 1, 300), ql::xm_result::kFileWrite);
    EXPECT_FALSE(peer.finished);
    // NAK to the EOT, then CAN to the EOT the sender repeats on it.
    ASSERT_GE(line.line->writes.size(), 2u);
    EXPECT_EQ(written(line.line->writes.size() - 2), "\x15\x18");
    EXPECT_EQ(peer.cans, 1);
    EXPECT_EQ(dir.read("DATA.TXT/KEEP"), "keep");
    EXPECT_EQ(folder_entries(dir.path()), std::vector<std::string>{"DATA.TXT"});
    EXPECT_TRUE(view.has_line("XM:DoRecv: File not saved"));
    EXPECT_TRUE(view.has_line("RECV ERROR  RC : -104"));
}

TEST_F(Xmodem, ReceivingOverALongerFileLeavesOnlyTheNewBytesAndItsMode) {
    std::string path = dir.write("DATA.TXT", pattern(10000));
    ::chmod(path.c_str(), 0640);
    std::string content = pattern(700);
    SenderPeer peer(*line.line, content, true);
    ASSERT_EQ(ql::xm_recv(line.port, path, 1, 700), 0);
    EXPECT_EQ(dir.read("DATA.TXT"), content);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(Xmodem, NewFileGetsReadWritePermissionLessTheUmask) {
    mode_t old = ::umask(022);
    SenderPeer peer(*line.line, "abc", true);
    int rc = ql::xm_recv(line.port, dir.file("NEW"), 1, 3);
    ::umask(old);
    ASSERT_EQ(rc, 0);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("NEW").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(Xmodem, UnwritableTargetCannotBeOpened) {
    std::filesystem::create_directory(dir.file("FOLDER"));
    EXPECT_EQ(ql::xm_recv(line.port, dir.file("FOLDER"), 1, 0), -2);
    EXPECT_EQ(ql::xm_recv(line.port, dir.file("MISSING/X"), 1, 0), -2);
    EXPECT_TRUE(line.line->writes.empty()) << "no prompt before the file is ready";
    if (::geteuid() != 0) {
        std::string path = dir.write("RO", "keep");
        ::chmod(path.c_str(), 0444);
        EXPECT_EQ(ql::xm_recv(line.port, path, 1, 0), -2);
        EXPECT_EQ(dir.read("RO"), "keep");
    }
}

TEST_F(Xmodem, MoreBlocksThanAnnouncedAddNothing) {
    std::string content = pattern(1024);
    SenderPeer peer(*line.line, content, false);
    ASSERT_EQ(ql::xm_recv(line.port, dir.file("T"), 0, 100), 0);
    EXPECT_EQ(dir.read("T"), content.substr(0, 100));
}

}  // namespace
