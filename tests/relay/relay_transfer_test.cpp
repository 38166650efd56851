// Uploads and downloads through the loopback relay server, in stream and in
// packet mode, with files of 0, 1, 1000, 1020 bytes and 1 MiB, and the ways
// a transfer can fail.
#include <string>
#include <tuple>

#include "platform/files.h"
#include "relay_fixture.h"

namespace {

using relay_testing::pattern;
using relay_testing::RelayTest;
using testing_support::read_whole_file;

// ---- Round trips in both modes and every size -------------------------

class RoundTrip : public RelayTest,
                  public ::testing::WithParamInterface<std::tuple<bool, size_t>> {};

TEST_P(RoundTrip, UploadThenDownloadGivesTheSameBytes) {
    const bool stream = std::get<0>(GetParam());
    const size_t size = std::get<1>(GetParam());
    server->set_stream(stream);
    open();
    const std::string content = pattern(size);
    const std::string src = local.write("UP.DAT", content);
    const std::string back = local.file("BACK.DAT");

    if (size == 0) {
        // An empty file is refused before any traffic.
        server->clear_records();
        EXPECT_EQ(ql::relay_send_file(src, "R.DAT"), ql::relay_result::kCannotStart);
        EXPECT_TRUE(logged("IP:FileSend File Open Err[" + src + "] Empty File"));
        EXPECT_TRUE(server->requests().empty());
        remote.write("R.DAT", "");
    } else {
        ASSERT_EQ(ql::relay_send_file(src, "R.DAT"), 0);
        EXPECT_EQ(remote.read("R.DAT"), content);
        EXPECT_EQ(ql::relay_stream_mode(), stream);
        EXPECT_TRUE(logged(stream
                               ? "IP:FileSend Stream: Complete: Bytes=[" + std::to_string(size)
                               : "IP:FileSend Packet: Complete: Bytes=[" + std::to_string(size)));
    }

    ASSERT_EQ(ql::relay_receive_file(back, "R.DAT"), 0);
    EXPECT_EQ(read_whole_file(back), content);
    EXPECT_FALSE(platform::path_exists(back + ".relay-part"));
    EXPECT_EQ(ql::relay_data_socket(), ql::kNoSocket);
    EXPECT_EQ(server->sequence_errors(), 0);

    std::vector<std::string> want;
    if (size > 0) want = {"101230R.DAT", "101232R.DAT"};
    want.push_back("101220R.DAT");
    want.push_back("101222R.DAT");
    ASSERT_TRUE(server->wait_for_notifications(want.size(), 5000));
    EXPECT_EQ(server->notifications(), want);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(0, 1, 1000, 1020, 1 << 20)));

// ---- Upload order and failures ----------------------------------------

TEST_F(RelayTest, StreamUploadSendsHeaderWithEightDigitSize) {
    open();
    const std::string src = local.write("A.TXT", "hello");
    ASSERT_EQ(ql::relay_send_file(src, "B.TXT"), 0);
    EXPECT_EQ(server->codes(), (std::vector<std::string>{"100", "150", "099", "530"}));
    bool seen = false;
    for (const auto& r : server->requests()) {
        if (r.payload.rfind("530", 0) == 0) {
            EXPECT_EQ(r.payload, "53000000005B.TXT");
            EXPECT_TRUE(r.data);
            seen = true;
        }
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(view.text(ql::item::kProgressTitle), "IP SEND: " + src + " : 5");
}

TEST_F(RelayTest, PacketUploadSendsBlocksOf1000) {
    server->set_stream(false);
    open();
    const std::string src = local.write("A.TXT", pattern(2500));
    ASSERT_EQ(ql::relay_send_file(src, "B.TXT"), 0);
    EXPECT_EQ(server->codes(),
              (std::vector<std::string>{"100", "150", "099", "230", "231", "231", "231", "232"}));
    std::vector<size_t> blocks;
    for (const auto& r : server->requests()) {
        if (r.payload.rfind("231", 0) == 0) blocks.push_back(r.length - 3);
    }
    EXPECT_EQ(blocks, (std::vector<size_t>{1000, 1000, 500}));
    // The packet mode clears the display at its end.
    EXPECT_EQ(view.text(ql::item::kProgressTitle), " ");
}

TEST_F(RelayTest, MissingLocalFileIsRefusedWithoutTraffic) {
    open();
    server->clear_records();
    EXPECT_EQ(ql::relay_send_file(local.file("NONE.TXT"), "X"), ql::relay_result::kCannotStart);
    EXPECT_TRUE(logged("Empty File"));
    EXPECT_TRUE(server->requests().empty());
}

TEST_F(RelayTest, RefusedStreamHeaderSendsNoBytesAndFailsAfterTheFinalWait) {
    ql::relay_set_timeouts(2000, 100);
    server->refuse(530, 550);
    open();
    const std::string src = local.write("A.TXT", pattern(3000));
    EXPECT_EQ(ql::relay_send_file(src, "B.TXT"), ql::relay_result::kFailed);
    EXPECT_TRUE(logged("IP:Socket Bytes Send Err: Size=3000 Count=0"));
    EXPECT_FALSE(logged("IP:FileSend Stream: Complete"));
    ASSERT_TRUE(server->wait_for_notifications(1, 5000));
    EXPECT_EQ(server->notifications(), std::vector<std::string>{"101233B.TXT"});
    EXPECT_EQ(server->uploads_completed(), 0);
    EXPECT_EQ(ql::relay_data_socket(), ql::kNoSocket);
    EXPECT_NE(ql::relay_command_socket(), ql::kNoSocket);  // the relay stays open
}

TEST_F(RelayTest, RefusedPacketBlockFailsWithTheServersCode) {
    server->set_stream(false);
    server->refuse(231, 552);
    open();
    const std::string src = local.write("A.TXT", pattern(1500));
    EXPECT_EQ(ql::relay_send_file(src, "B.TXT"), 552);
    EXPECT_TRUE(logged("IP:FileSend Packet: Complete: Bytes=[1000]"));
    std::vector<std::string> codes = server->codes();
    EXPECT_EQ(codes.back(), "231");  // no 232 after a refused block
    ASSERT_TRUE(server->wait_for_notifications(2, 5000));
    EXPECT_EQ(server->notifications().back(), "101233B.TXT");
    EXPECT_FALSE(platform::path_exists(remote.file("B.TXT")));
    EXPECT_EQ(server->uploads_completed(), 0);
}

TEST_F(RelayTest, UploadWithoutADataPortCannotStart) {
    server->refuse(150, 425);
    open();
    const std::string src = local.write("A.TXT", "x");
    EXPECT_EQ(ql::relay_send_file(src, "B.TXT"), ql::relay_result::kCannotStart);
    EXPECT_TRUE(logged("IP:Port Cmd Error RC=425"));
}

TEST_F(RelayTest, SendAndCallReturnsTheFirstFieldOfTheCallReply) {
    server->set_call_result("JOB 17");
    open();
    const std::string src = local.write("A.TXT", "abc");
    std::string result;
    ASSERT_EQ(ql::relay_send_and_call(src, "B.TXT", result), 0);
    EXPECT_EQ(result, "JOB 17");
    EXPECT_EQ(server->codes().back(), "251");

    server->refuse(251, 551);
    EXPECT_EQ(ql::relay_send_and_call(src, "B.TXT", result), 551);
    EXPECT_TRUE(logged("IP:Copy Call Cmd Error RC=551"));
}

// ---- Download failures --------------------------------------------------

TEST_F(RelayTest, StreamThatStopsEarlyFailsAndKeepsThePreviousFile) {
    remote.write("BIG.DAT", pattern(5000));
    const std::string dest = local.write("BIG.DAT", "previous");
    server->stream_stop_after(1500, true);
    open();
    EXPECT_EQ(ql::relay_receive_file(dest, "BIG.DAT"), ql::relay_result::kSizeMismatch);
    EXPECT_TRUE(logged("IP:Socket Bytes Recv Error: Size=5000 Count=1500"));
    EXPECT_EQ(read_whole_file(dest), "previous");
    EXPECT_FALSE(platform::path_exists(dest + ".relay-part"));
    ASSERT_TRUE(server->wait_for_notifications(2, 5000));
    EXPECT_EQ(server->notifications().back(), "101223BIG.DAT");
}

TEST_F(RelayTest, SilentStreamEndsAtTheReadTimeOut) {
    ql::relay_set_timeouts(1000, 1000);  // whole reply frames must fit it, under wine too
    remote.write("BIG.DAT", pattern(5000));
    server->stream_stop_after(10, false);
    open();
    const std::string dest = local.file("NEW.DAT");
    EXPECT_EQ(ql::relay_receive_file(dest, "BIG.DAT"), ql::relay_result::kSizeMismatch);
    EXPECT_TRUE(logged("IP:Socket Read Err RC=-7 bytes=0"));
    EXPECT_FALSE(platform::path_exists(dest));
}

TEST_F(RelayTest, PacketDownloadOfAnEmptyFileGetsEndAtOnce) {
    server->set_stream(false);
    remote.write("E.DAT", "");
    open();
    const std::string dest = local.file("E.DAT");
    ASSERT_EQ(ql::relay_receive_file(dest, "E.DAT"), 0);
    EXPECT_TRUE(platform::path_exists(dest));
    EXPECT_EQ(read_whole_file(dest), "");
    EXPECT_TRUE(logged("IP:FileRecv Packet: Complete: Bytes=[0]"));
}

TEST_F(RelayTest, PacketDownloadTakesServerSizedBlocks) {
    server->set_stream(false);
    server->set_block_size(7);
    remote.write("S.DAT", pattern(50));
    open();
    ASSERT_EQ(ql::relay_receive_file(local.file("S.DAT"), "S.DAT"), 0);
    EXPECT_EQ(local.read("S.DAT"), pattern(50));
    size_t reads = 0;
    for (const auto& c : server->codes()) reads += c == "221";
    EXPECT_EQ(reads, 9u);  // 7 full blocks, 1 partial, and the end
}

TEST_F(RelayTest, RefusedBlockGivesMinus100AndNoFile) {
    server->set_stream(false);
    server->refuse(221, 553);
    remote.write("S.DAT", "abc");
    open();
    const std::string dest = local.file("S.DAT");
    EXPECT_EQ(ql::relay_receive_file(dest, "S.DAT"), ql::relay_result::kRemoteRead);
    EXPECT_TRUE(logged("IP:FileRecv Remote Read Err RC=553"));
    EXPECT_FALSE(platform::path_exists(dest));
}

TEST_F(RelayTest, RefusedCloseAfterACompleteDownloadFailsIt) {
    server->set_stream(false);
    server->refuse(222, 554);
    remote.write("S.DAT", "abc");
    open();
    const std::string dest = local.file("S.DAT");
    EXPECT_EQ(ql::relay_receive_file(dest, "S.DAT"), 554);
    EXPECT_FALSE(platform::path_exists(dest));
    ASSERT_TRUE(server->wait_for_notifications(2, 5000));
    EXPECT_EQ(server->notifications().back(), "101223S.DAT");
}

TEST_F(RelayTest, DroppedDataConnectionFailsThePacketDownload) {
    server->set_stream(false);
    server->close_on(221);
    remote.write("S.DAT", "abc");
    open();
    EXPECT_EQ(ql::relay_receive_file(local.file("S.DAT"), "S.DAT"), ql::relay_result::kFailed);
    EXPECT_TRUE(logged("IP:Socket Read Error RC=-9"));
    EXPECT_NE(ql::relay_command_socket(), ql::kNoSocket);
}

TEST_F(RelayTest, DroppedRemoteOpenReturnsTheErrorAndNotifiesTheFailure) {
    server->close_on(220);
    remote.write("S.DAT", "abc");
    open();
    const std::string dest = local.file("S.DAT");
    EXPECT_EQ(ql::relay_receive_file(dest, "S.DAT"), ql::relay_result::kNoHeader);
    EXPECT_FALSE(platform::path_exists(dest));
    EXPECT_FALSE(platform::path_exists(dest + ".relay-part"));
    EXPECT_EQ(ql::relay_data_socket(), ql::kNoSocket);
    EXPECT_NE(ql::relay_command_socket(), ql::kNoSocket);
    ASSERT_TRUE(server->wait_for_notifications(1, 5000));
    EXPECT_EQ(server->notifications(), std::vector<std::string>{"101223S.DAT"});
}

TEST_F(RelayTest, MissingRemoteFileIsRemoteOpenError) {
    open();
    const std::string dest = local.write("KEEP.DAT", "keep");
    server->clear_records();
    EXPECT_EQ(ql::relay_receive_file(dest, "NONE.DAT"), ql::relay_result::kFailed);
    EXPECT_TRUE(logged("Remote Open Err:550"));
    EXPECT_EQ(read_whole_file(dest), "keep");
    EXPECT_TRUE(server->notifications().empty());
}

TEST_F(RelayTest, DownloadIntoAMissingFolderCannotCreateTheFile) {
    open();
    remote.write("S.DAT", "abc");
    const std::string dest = local.file("no/such/folder/S.DAT");
    server->clear_records();
    EXPECT_EQ(ql::relay_receive_file(dest, "S.DAT"), ql::relay_result::kFailed);
    EXPECT_TRUE(logged("IP:FileRecv File Create Err[" + dest + "]"));
    EXPECT_TRUE(server->requests().empty());
}

}  // namespace
