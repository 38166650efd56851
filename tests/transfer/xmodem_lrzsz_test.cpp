// Block transfers against lrzsz, an independent implementation, over a
// pseudo-terminal pair, with and without damage on the line.
#include <filesystem>

#include <gtest/gtest.h>

#include "file_size_limit.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "lrzsz_peer.h"
#include "platform/serial.h"
#include "pty_pair.h"
#include "recording_view.h"
#include "temp_dir.h"
#include "terminal/progress.h"
#include "terminal/xmodem.h"

using testing_support::PtyPair;
using testing_support::RecordingView;
using testing_support::TempDir;
using transfer_test::Fault;
using transfer_test::LrzszPeer;

namespace {

std::string pattern(size_t size, unsigned seed) {
    std::string s(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

std::vector<std::string> folder_entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A fault rule for one stretch of a stream.
transfer_test::FaultRule at(size_t from, size_t to, Fault fault) {
    return [=](size_t offset) { return offset >= from && offset < to ? fault : Fault::kPass; };
}

class Lrzsz : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::log_reset();
        ql::settings_reset_defaults();
        ql::settings().interchardelay = 50;
        ql::port_reset_state();
        ql::progress_reset();
        ql::xm_reset();
        ql::xm_set_debug(1);
        ASSERT_TRUE(pty.ok());
        std::unique_ptr<platform::SerialDevice> device;
        ASSERT_EQ(platform::serial_open(pty.slave_path(), device), 0);
        port = ql::port_from_device(std::move(device));
        ASSERT_NE(port, nullptr);
        pty.release_slave();
    }
    void TearDown() override {
        ql::port_close(port);
        ql::xm_reset();
        ql::settings_reset_defaults();
        ql::log_reset();
    }

    // Sends content with xm_send to "rx <options> IN.DAT"; returns xm_send's
    // result and leaves what rx wrote in *received.
    int send_to_rx(const std::string& options, const std::string& content, int one_k,
                   std::string* received, transfer_test::FaultRule to_peer = nullptr,
                   transfer_test::FaultRule from_peer = nullptr) {
        std::string path = out.write("OUT.DAT", content);
        LrzszPeer rx(pty, in.path(), "rx -q " + options + " IN.DAT");
        EXPECT_TRUE(rx.ok());
        rx.set_faults(std::move(to_peer), std::move(from_peer));
        int rc = ql::xm_send(port, path, one_k, 0x00);
        rx.wait_exit(rc == 0 ? 15000 : 500);
        *received = in.read("IN.DAT");
        if (rc != 0) ADD_FAILURE_AT(__FILE__, __LINE__) << "rx said: " << rx.errors();
        return rc;
    }

    // Receives with xm_recv from "sx <options> OUT.DAT" into IN.DAT.
    int recv_from_sx(const std::string& options, const std::string& content,
                     transfer_test::FaultRule to_peer = nullptr,
                     transfer_test::FaultRule from_peer = nullptr) {
        out.write("OUT.DAT", content);
        LrzszPeer sx(pty, out.path(), "sx -q " + options + " OUT.DAT");
        EXPECT_TRUE(sx.ok());
        sx.set_faults(std::move(to_peer), std::move(from_peer));
        int rc = ql::xm_recv(port, in.file("IN.DAT"), 1, static_cast<int64_t>(content.size()));
        sx.wait_exit(rc == 0 ? 15000 : 500);
        return rc;
    }

    RecordingView view;
    PtyPair pty;
    ql::Port* port = nullptr;
    TempDir out, in;
};

TEST_F(Lrzsz, SendToRxInChecksumMode) {
    std::string content = pattern(40 * 128, 1);
    std::string got;
    ASSERT_EQ(send_to_rx("", content, 1, &got), 0);
    EXPECT_EQ(got, content);
}

TEST_F(Lrzsz, SendToRxInCrcModeWithOneKBlocks) {
    std::string content = pattern(50000, 2);
    std::string got;
    ASSERT_EQ(send_to_rx("-c", content, 1, &got), 0);
    // rx keeps our zero fill of the last 128-byte block.
    ASSERT_EQ(got.size(), (content.size() + 127) / 128 * 128);
    EXPECT_EQ(got.substr(0, content.size()), content);
    EXPECT_EQ(got.substr(content.size()), std::string(got.size() - content.size(), '\0'));
}

TEST_F(Lrzsz, SendToRxInCrcModeWithSmallBlocks) {
    std::string content = pattern(30 * 128, 3);
    std::string got;
    ASSERT_EQ(send_to_rx("-c", content, 0, &got), 0);
    EXPECT_EQ(got, content);
}

TEST_F(Lrzsz, ReceiveFromSxWithAndWithoutOneK) {
    for (const std::string options : {"-k", ""}) {
        std::string content = pattern(20000 + options.size(), 4);
        ASSERT_EQ(recv_from_sx(options, content), 0) << options;
        EXPECT_EQ(in.read("IN.DAT"), content) << options;
        EXPECT_EQ(folder_entries(in.path()), std::vector<std::string>{"IN.DAT"});
    }
}

TEST_F(Lrzsz, DamagedBlocksFromSxAreRepairedByResending) {
    std::string content = pattern(12000, 5);
    // A corrupted byte in the second 1K block, then a block cut short.
    auto damage = [](size_t offset) {
        if (offset == 1029 + 500) return Fault::kCorrupt;
        if (offset >= 4 * 1029 + 900 && offset < 4 * 1029 + 1029) return Fault::kDrop;
        return Fault::kPass;
    };
    ASSERT_EQ(recv_from_sx("-k", content, nullptr, damage), 0);
    EXPECT_EQ(in.read("IN.DAT"), content);
    EXPECT_TRUE(view.has_line("XM:DoRecv: CRC check"));
    EXPECT_TRUE(view.has_line("XM:DoRecv: short block"));
}

TEST_F(Lrzsz, DamagedBlocksAndLostAnswersToRxAreRepaired) {
    ql::xm_set_timing({30000, 1500, 35});
    std::string content = pattern(10 * 1024, 6);
    std::string got;
    // Block 3 corrupted on its first trip; rx's answer to block 5 lost, so
    // block 5 goes twice (rx acknowledges the repeat).
    ASSERT_EQ(send_to_rx("-c", content, 1, &got, at(2 * 1029 + 10, 2 * 1029 + 11, Fault::kCorrupt),
                         [](size_t offset) {
                             // 'C', then one ACK per block: the 6th byte is the ACK of block 5.
                             return offset == 5 ? Fault::kDrop : Fault::kPass;
                         }),
              0);
    EXPECT_EQ(got, content);
}

TEST_F(Lrzsz, SxThatMissesOurAcksRepeatsBlocksWhichAreAcknowledgedAndDropped) {
    std::string content = pattern(12000, 10);
    // Towards sx: 'C', then one ACK per block. The ACKs of blocks 2 and 7
    // arrive damaged (as NAK), so sx sends those blocks a second time.
    auto damage = [](size_t offset) {
        return offset == 2 || offset == 7 ? Fault::kAsNak : Fault::kPass;
    };
    ASSERT_EQ(recv_from_sx("-k", content, damage, nullptr), 0);
    EXPECT_EQ(in.read("IN.DAT"), content);
    EXPECT_EQ(folder_entries(in.path()), std::vector<std::string>{"IN.DAT"});
}

TEST_F(Lrzsz, DeadLineFromSxFailsAndKeepsThePreviousFile) {
    ql::xm_set_timing({30000, 150, 35});
    in.write("IN.DAT", "yesterday's records");
    std::string content = pattern(20000, 7);
    int rc = recv_from_sx("-k", content, nullptr, at(3 * 1029, SIZE_MAX, Fault::kDrop));
    EXPECT_EQ(rc, ql::xm_result::kNoBlock);
    EXPECT_EQ(in.read("IN.DAT"), "yesterday's records");
    EXPECT_EQ(folder_entries(in.path()), std::vector<std::string>{"IN.DAT"});
}

TEST_F(Lrzsz, GarbledLineFromSxFailsWithRetriesAndKeepsThePreviousFile) {
    ql::xm_set_timing({30000, 1000, 35});
    in.write("IN.DAT", "yesterday's records");
    std::string content = pattern(20000, 8);
    // Every byte after the first two blocks is damaged.
    int rc = recv_from_sx("-k", content, nullptr, at(2 * 1029, SIZE_MAX, Fault::kCorrupt));
    EXPECT_EQ(rc, ql::xm_result::kRetries);
    EXPECT_EQ(in.read("IN.DAT"), "yesterday's records");
    EXPECT_EQ(folder_entries(in.path()), std::vector<std::string>{"IN.DAT"});
}

TEST_F(Lrzsz, CommitThatFailsIsAFailedTransferForSxAndKeepsThePreviousFile) {
    in.write("IN.DAT", "yesterday's records");
    std::string content = pattern(3000, 11);
    out.write("OUT.DAT", content);
    LrzszPeer sx(pty, out.path(), "sx -q -k OUT.DAT");
    ASSERT_TRUE(sx.ok());
    int rc;
    {
        // Every block fits the file's buffer, so only the flush of the
        // commit meets the limit: a disk that fills up at the very end.
        testing_support::FileSizeLimit full(1024);
        ASSERT_TRUE(full.active());
        rc = ql::xm_recv(port, in.file("IN.DAT"), 1, static_cast<int64_t>(content.size()));
    }
    EXPECT_EQ(rc, ql::xm_result::kFileWrite);
    // sx never hears its EOT acknowledged: it ends with an error or is
    // still trying.
    EXPECT_NE(sx.wait_exit(1000), 0);
    EXPECT_EQ(in.read("IN.DAT"), "yesterday's records");
    EXPECT_EQ(folder_entries(in.path()), std::vector<std::string>{"IN.DAT"});
    EXPECT_TRUE(view.has_line("XM:DoRecv: File not saved [27]"));
}

TEST_F(Lrzsz, DeadLineToRxFailsWithOneCan) {
    ql::xm_set_timing({30000, 100, 35});
    std::string content = pattern(8000, 9);
    std::string path = out.write("OUT.DAT", content);
    LrzszPeer rx(pty, in.path(), "rx -q -c IN.DAT");
    ASSERT_TRUE(rx.ok());
    rx.set_faults(nullptr, at(3, SIZE_MAX, Fault::kDrop));  // 'C' and two ACKs get through
    EXPECT_EQ(ql::xm_send(port, path, 1, 0), ql::xm_result::kNoStart);
    EXPECT_TRUE(view.has_line("XM:DoSend:SendPacket [-999]"));
}

}  // namespace
