// The test relay server keeps every remote name inside its root folder:
// names that climb out and symbolic links that lead out are refused like
// missing files, absolute names count from the root, and nothing outside is
// read, written or deleted.
#include <filesystem>
#include <memory>
#include <string>

#include "relay_fixture.h"

namespace {

namespace fs = std::filesystem;

class RelaydRoot : public ::testing::Test {
  protected:
    void SetUp() override {
        ql::log_reset();
        ql::relay_reset();
        ql::progress_reset();
        ql::socket_layer_reset();
        root = base.path() + "/root";
        fs::create_directories(root + "/sub");
        victim = base.write("victim.txt", "outside");
        server = std::make_unique<relayd::RelayServer>(root);
        ASSERT_EQ(server->start(), 0);
        ASSERT_EQ(ql::relay_open("127.0.0.1", "u", server->port_text()), 0);
    }
    void TearDown() override {
        ql::relay_reset();
        server.reset();
    }

    testing_support::TempDir base, local;
    testing_support::RecordingView view;
    std::string root, victim;
    std::unique_ptr<relayd::RelayServer> server;
};

TEST_F(RelaydRoot, NamesThatClimbOutAreRefusedAndTouchNothing) {
    // "220../../../etc/hostname": no size of a file outside comes back.
    EXPECT_EQ(ql::relay_receive_file(local.file("h"), "../../../etc/hostname"), -1);
    EXPECT_TRUE(view.has_line("Remote Open Err:550"));
    EXPECT_EQ(ql::relay_receive_file(local.file("v"), "..\\victim.txt"), -1);
    // "210../victim.txt": the file outside survives.
    EXPECT_EQ(ql::relay_file_op("../victim.txt", "", 2), 550);
    EXPECT_EQ(ql::relay_file_op("sub/../../victim.txt", "", 2), 550);
    EXPECT_EQ(testing_support::read_whole_file(victim), "outside");
    // Copies neither read from nor write to the outside.
    EXPECT_EQ(ql::relay_file_op("../victim.txt", "stolen.txt", 0), 550);
    base.write("root/in.txt", "x");
    EXPECT_EQ(ql::relay_file_op("in.txt", "../planted.txt", 0), 550);
    EXPECT_FALSE(fs::exists(base.file("planted.txt")));
    EXPECT_NE(ql::relay_change_dir(".."), 0);
    EXPECT_NE(ql::relay_send_file(local.write("up.txt", "up"), "../up.txt"), 0);
    EXPECT_FALSE(fs::exists(base.file("up.txt")));
}

TEST_F(RelaydRoot, AbsoluteNamesCountFromTheRoot) {
    EXPECT_EQ(ql::relay_file_op(victim, "", 2), 550);  // no such file below the root
    EXPECT_EQ(ql::relay_file_op("/../victim.txt", "", 2), 550);
    base.write("root/top.txt", "top");
    EXPECT_EQ(ql::relay_receive_file(local.file("t"), "/top.txt"), 0);
    EXPECT_EQ(local.read("t"), "top");
}

TEST_F(RelaydRoot, LinksThatLeadOutAreRefused) {
    std::error_code folder_link, file_link;
    fs::create_directory_symlink(base.path(), root + "/out", folder_link);
    fs::create_symlink(victim, root + "/link.txt", file_link);
    if (folder_link || file_link)  // no links on this system or in its C++ runtime
        GTEST_SKIP() << "no symbolic links here: "
                     << (folder_link ? folder_link : file_link).message();
    EXPECT_EQ(ql::relay_file_op("out/victim.txt", "", 2), 550);
    EXPECT_EQ(ql::relay_receive_file(local.file("l"), "link.txt"), -1);
    EXPECT_NE(ql::relay_change_dir("out"), 0);
    EXPECT_EQ(testing_support::read_whole_file(victim), "outside");
}

TEST_F(RelaydRoot, NamesInsideStillWork) {
    base.write("root/sub/a.txt", "inside");
    EXPECT_EQ(ql::relay_receive_file(local.file("a"), "sub/../sub/a.txt"), 0);
    EXPECT_EQ(local.read("a"), "inside");
    EXPECT_EQ(ql::relay_change_dir("sub"), 0);
    EXPECT_EQ(ql::relay_file_op("a.txt", "b.txt", 0), 0);
    EXPECT_EQ(ql::relay_file_op("../sub/b.txt", "", 2), 0);
    EXPECT_FALSE(fs::exists(root + "/sub/b.txt"));
}

}  // namespace
