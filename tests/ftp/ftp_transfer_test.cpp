// The FTP client against a real FTP server (pyftpdlib on loopback), in both
// data connection modes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "file_size_limit.h"
#include "foundation/log.h"
#include "foundation/server_state.h"
#include "ftp_fixture.h"
#include "network/bridge.h"
#include "network/ftp.h"
#include "platform/files.h"
#include "recording_view.h"
#include "temp_dir.h"
#include "terminal/progress.h"

using namespace ql;
using testing_support::read_whole_file;

namespace {

// Bytes of every value, line ends of both kinds and NULs included.
std::string binary_content(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
    if (size > 8) bytes.replace(0, 8, std::string("\r\n\n\r\0\0\x1a\xff", 8));
    return bytes;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> starting_with(const std::vector<std::string>& lines,
                                       const std::string& head) {
    std::vector<std::string> found;
    for (const auto& l : lines) {
        if (l.rfind(head, 0) == 0) found.push_back(l);
    }
    return found;
}

class FtpServerTest : public ::testing::Test {
  protected:
    void SetUp() override { start(); }
    void TearDown() override {
        ftp_reset();
        socket_layer_reset();
    }

    void start(testing_support::FtpServerOptions options = {}) {
        log_reset();
        ftp_reset();
        socket_layer_reset();
        progress_reset();
        server = std::make_unique<testing_support::FtpServer>(options);
        ASSERT_TRUE(server->start()) << server->error();
        ftp_set_control_port(server->port());
    }

    int open(int passive) {
        return ftp_open("127.0.0.1", server->user(), server->password(), passive);
    }

    std::unique_ptr<testing_support::FtpServer> server;
    testing_support::RecordingView view;
    testing_support::TempDir local;
};

// Every test of this group runs once passive and once active (on a fixed
// free data port, so that parallel tests do not compete for 8000 and up).
class FtpModeTest : public FtpServerTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        FtpServerTest::SetUp();
        if (!passive()) ftp_set_data_port(testing_support::free_loopback_port());
        ASSERT_EQ(open(passive() ? 1 : 0), 0) << server->server_log();
    }
    bool passive() const { return GetParam(); }
};

}  // namespace

TEST_P(FtpModeTest, ListingNamesTheFilesWithoutAProgressDisplay) {
    server->write("a.txt", "alpha");
    server->write("b.dat", "beta");
    EXPECT_EQ(ftp_dir(local.file("list")), 0);
    std::string listing = local.read("list");
    EXPECT_NE(listing.find("a.txt"), std::string::npos) << listing;
    EXPECT_NE(listing.find("b.dat"), std::string::npos) << listing;
    EXPECT_TRUE(view.texts(item::kProgressTitle).empty());
    EXPECT_TRUE(view.has_line("FTP:Dir:"));

    // An empty name lists into "ftpdir" in the current directory.
    std::string here = platform::current_directory();
    ASSERT_EQ(::chdir(local.path().c_str()), 0);
    int rc = ftp_dir("");
    ASSERT_EQ(::chdir(here.c_str()), 0);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(local.read("ftpdir").find("a.txt"), std::string::npos);
}

TEST_P(FtpModeTest, DownloadIsByteExactAndReplacesThePreviousFile) {
    std::string content = binary_content(300000, 1);
    server->write("data.bin", content);
    local.write("data.bin", "previous");
    EXPECT_EQ(ftp_recv(local.file("data.bin"), "data.bin"), 0);
    EXPECT_TRUE(local.read("data.bin") == content);
    EXPECT_FALSE(exists(local.file("data.bin.qlpart")));
    EXPECT_EQ(ftp_connection().listing_mode, 0);
    EXPECT_EQ(ftp_connection().data, kNoSocket);
    auto retr = starting_with(server->commands(), "RETR");
    EXPECT_EQ(retr, std::vector<std::string>{"RETR data.bin"});
}

TEST_P(FtpModeTest, UploadIsByteExactWithProgress) {
    std::string content = binary_content(100000, 2);
    std::string source = local.write("up.bin", content);
    EXPECT_EQ(ftp_send(source, "up.bin"), 0);
    EXPECT_TRUE(server->read("up.bin") == content);
    EXPECT_EQ(local.read("up.bin"), content);  // the source is untouched
    auto titles = view.texts(item::kProgressTitle);
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(titles.front(), "FTP SEND: up.bin : 100000");
    EXPECT_EQ(view.text(item::kProgressTitle), " ");
    EXPECT_TRUE(view.has_line("FTP:Send:"));

    // The same name again overwrites it.
    EXPECT_EQ(ftp_send(local.write("small.txt", "x"), "up.bin"), 0);
    EXPECT_EQ(server->read("up.bin"), "x");
}

TEST_P(FtpModeTest, DataBinUploadsLetTheServerChooseTheName) {
    EXPECT_EQ(ftp_dbin(local.write("scan.dat", "1234")), 0);
    EXPECT_EQ(server->read("dbin-001.dat"), "1234");
    EXPECT_EQ(ftp_dbin(local.write("empty.dat", "")), 0);
    EXPECT_TRUE(exists(server->file("dbin-002.dat")));
    EXPECT_EQ(server->read("dbin-002.dat"), "");
    EXPECT_EQ(starting_with(server->commands(), "STOR").size(), 2u);
    EXPECT_TRUE(view.has_line("FTP:Dbin:"));
}

TEST_P(FtpModeTest, FailedDownloadKeepsTheLocalFileAndTheConnection) {
    std::string target = local.write("keep.txt", "old content");
    ftp_set_log_flag(true);
    EXPECT_EQ(ftp_recv(target, "missing.txt"), -133);
    EXPECT_EQ(local.read("keep.txt"), "old content");
    EXPECT_FALSE(exists(target + ".qlpart"));
    EXPECT_TRUE(view.has_line("Response error 550"));
    EXPECT_TRUE(view.has_line("FTP:Get Failed"));
    EXPECT_EQ(ftp_connection().data, kNoSocket);

    server->write("there.txt", "here");
    EXPECT_EQ(ftp_recv(local.file("there.txt"), "there.txt"), 0);
    EXPECT_EQ(local.read("there.txt"), "here");
}

TEST_P(FtpModeTest, DownloadIntoAMissingFolderCannotBeCreated) {
    server->write("a.txt", "a");
    ftp_set_log_flag(true);
    EXPECT_EQ(ftp_recv(local.file("no/such/folder/a.txt"), "a.txt"), -131);
    EXPECT_EQ(ftp_dir(local.file("no/such/list")), -131);
    EXPECT_TRUE(view.has_line("FTP:Create Error:"));
    EXPECT_TRUE(starting_with(server->commands(), "RETR").empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpModeTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST_F(FtpServerTest, WrongPasswordIsRefusedAndTheConnectionClosed) {
    EXPECT_EQ(ftp_open("127.0.0.1", server->user(), "wrong", 1), -6);
    EXPECT_FALSE(ftp_connection().connected);
    EXPECT_EQ(ftp_connection().control, kNoSocket);
    EXPECT_EQ(ftp_cwd("x"), -132);
}

TEST_F(FtpServerTest, ChangeDirectoryThenDownload) {
    ASSERT_EQ(::mkdir(server->file("in").c_str(), 0755), 0);
    server->write("in/a.txt", "inside");
    ASSERT_EQ(open(1), 0);
    EXPECT_EQ(ftp_cwd("missing"), -132);
    EXPECT_EQ(ftp_cwd("in"), 0);
    EXPECT_EQ(ftp_recv(local.file("a.txt"), "a.txt"), 0);
    EXPECT_EQ(local.read("a.txt"), "inside");
}

TEST_F(FtpServerTest, CopyFamilyRunsOnTheServer) {
    server->write("a.txt", "A");
    server->write("t.txt", "T");
    ASSERT_EQ(open(1), 0);
    EXPECT_EQ(ftp_copy("a.txt", "b.txt", 0), 0);
    EXPECT_EQ(server->read("b.txt"), "A");
    EXPECT_EQ(ftp_copy("a.txt", "t.txt", 1), 0);
    EXPECT_EQ(server->read("t.txt"), "TA");
    EXPECT_EQ(ftp_copy("b.txt", "c.txt", 10), 0);
    EXPECT_FALSE(exists(server->file("b.txt")));
    EXPECT_EQ(server->read("c.txt"), "A");
    EXPECT_EQ(ftp_copy("c.txt", "t.txt", 11), 0);
    EXPECT_FALSE(exists(server->file("c.txt")));
    EXPECT_EQ(server->read("t.txt"), "TAA");
    EXPECT_EQ(ftp_copy("nothing.txt", "d.txt", 0), -135);
    auto copies = server->commands();
    EXPECT_NE(std::find(copies.begin(), copies.end(), "COPYDEL b.txt c.txt"), copies.end());
}

TEST_F(FtpServerTest, AnnouncedSizeDrivesTheProgressDisplay) {
    testing_support::FtpServerOptions options;
    options.announce_size = true;
    start(options);
    server->write("big.bin", binary_content(50000, 3));
    ASSERT_EQ(open(1), 0);
    EXPECT_EQ(ftp_recv(local.file("big.bin"), "big.bin"), 0);
    auto titles = view.texts(item::kProgressTitle);
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(titles.front(), "FTP RECV: big.bin : 50000");
    EXPECT_EQ(view.text(item::kProgressTitle), " ");
    auto percents = view.texts(item::kProgressPercent);
    EXPECT_NE(std::find(percents.begin(), percents.end(), "100%    50000"), percents.end());
}

TEST_F(FtpServerTest, ActiveDataPortsRotateFrom8000AndWrapAfter8999) {
    ASSERT_EQ(open(0), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(ftp_dir(local.file("list")), 0) << i;
    ftp_set_data_port_counter(8999);
    ASSERT_EQ(ftp_dir(local.file("list")), 0);
    ASSERT_EQ(ftp_dir(local.file("list")), 0);
    std::vector<std::string> expected = {"PORT 127,0,0,1,31,64", "PORT 127,0,0,1,31,65",
                                         "PORT 127,0,0,1,31,66", "PORT 127,0,0,1,35,39",
                                         "PORT 127,0,0,1,31,64"};
    EXPECT_EQ(starting_with(server->commands(), "PORT"), expected);
}

TEST_F(FtpServerTest, FixedDataPortServesEveryActiveTransfer) {
    int port = testing_support::free_loopback_port();
    ftp_set_data_port(port);
    server->write("a.txt", "a");
    ASSERT_EQ(open(0), 0);
    std::string source = local.write("up.txt", "up");
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(ftp_send(source, "up.txt"), 0) << i;  // we close first: TIME_WAIT on our side
        ASSERT_EQ(ftp_recv(local.file("a.txt"), "a.txt"), 0) << i;
    }
    char expected[64];
    std::snprintf(expected, sizeof expected, "PORT 127,0,0,1,%d,%d", port / 256, port % 256);
    auto ports = starting_with(server->commands(), "PORT");
    EXPECT_EQ(ports.size(), 6u);
    EXPECT_TRUE(std::all_of(ports.begin(), ports.end(), [&](auto& p) { return p == expected; }));
}

// A download that ends early on this side leaves the server with replies
// still to give (426, 226, and the answer to the disk-full line). They are
// read before the next command, or the connection is closed and reopened,
// so that the next command gets its own answer. Each case is followed by a
// listing and a download through the bridge, as a terminal would ask.
class FtpEarlyEndTest : public FtpServerTest {
  protected:
    void TearDown() override {
        server_state().stop_request = false;
        ftp_bridge_reset();
        FtpServerTest::TearDown();
    }
    int bridge(const std::string& request) { return ftp_bridge(1, request, reply); }
    void open_bridge() {
        server->write("big.bin", std::string(4 << 20, 'x'));
        server->write("small.txt", "small");
        ftp_set_defaults("127.0.0.1", server->user(), server->password(), 1);
        ASSERT_EQ(bridge("1"), 0) << reply;
    }
    void expect_next_commands_served() {
        EXPECT_EQ(bridge("3," + local.file("list.txt")), 0) << reply << server->server_log();
        EXPECT_NE(local.read("list.txt").find("small.txt"), std::string::npos);
        EXPECT_EQ(bridge("5," + local.file("small.txt") + ",small.txt"), 0) << reply;
        EXPECT_EQ(local.read("small.txt"), "small");
        ftp_bridge_close();
    }
    std::string reply;
};

TEST_F(FtpEarlyEndTest, DiskFullOnDownload) {
    open_bridge();
    int rc = 0;
    {
        testing_support::FileSizeLimit full(256 * 1024);
        ASSERT_TRUE(full.active());
        rc = bridge("5," + local.file("big.bin") + ",big.bin");
    }
    EXPECT_EQ(rc, -133) << reply;
    EXPECT_FALSE(exists(local.file("big.bin")));
    expect_next_commands_served();
}

// The transfer abandoned on this side: a stop asked for while a slow
// download runs. The closing replies are not waited for then; the control
// connection is closed and the next command opens a fresh one.
TEST_F(FtpEarlyEndTest, DownloadAbandonedByAStop) {
    testing_support::FtpServerOptions slow;
    slow.rate = 256 * 1024;
    start(slow);
    open_bridge();
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        server_state().stop_request = true;
    });
    const auto asked = std::chrono::steady_clock::now();
    int rc = bridge("5," + local.file("big.bin") + ",big.bin");
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - asked)
                          .count();
    stopper.join();
    server_state().stop_request = false;
    EXPECT_EQ(rc, -133) << reply;
    EXPECT_LT(took, 10000);  // the whole file would take 16 s
    EXPECT_FALSE(ftp_connection().connected);
    expect_next_commands_served();
}
