// Temporary files and a server killed in the middle of an upload: the file
// it was receiving into stays behind, and the next start removes it; DIR
// never shows such files to a terminal.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "pty_pair.h"
#include "server_process.h"
#include "temp_dir.h"
#include "termsim.h"

namespace {

using testing_support::exchange;
using testing_support::kStartMs;
using testing_support::kStepMs;
using testing_support::PtyPair;
using testing_support::ServerProcess;
using testing_support::settings_text;
using testing_support::TempDir;

// Names in the folder that have the temporary-file pattern.
std::vector<std::string> temp_files_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (platform::is_temp_file_name(name)) names.push_back(name);
    }
    return names;
}

TEST(ConsoleTempFiles, KilledUploadLeavesItsFileAndTheNextStartRemovesIt) {
    ASSERT_EQ(access(testing_support::quaylink_program().c_str(), X_OK), 0);
    TempDir dir;
    std::string work = dir.path() + "/work";
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    PtyPair line;
    ASSERT_TRUE(line.ok());
    std::string ini = dir.write(
        "quaylink.ini", settings_text({"commport=" + line.slave_path(), "connect=direct",
                                       "baudrate=115200", "interchardelay=50", "workdir=" + work,
                                       "logfile=CREATE", "logdir=" + dir.path(),
                                       // only the upload's temporary files here
                                       "statusfile=off"}));
    dir.write("work/A.TXT", "a");

    // An upload that has begun: the server prompts for the first block.
    {
        ServerProcess server(ini, 1);
        ASSERT_TRUE(server.started());
        ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();
        termsim::Reply r = exchange(line, "SEND,UP.TXT,5000");
        EXPECT_EQ(r.line(), "0") << termsim::describe(r);
        line.write("\x06");
        EXPECT_EQ(line.read(1, kStepMs), "C") << server.transcript();
        server.signal(SIGKILL);
        EXPECT_EQ(server.wait_exit(kStartMs), 128 + SIGKILL);
    }
    std::vector<std::string> left = temp_files_in(work);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].substr(left[0].size() - 7), "-UP.TXT");
    EXPECT_FALSE(std::filesystem::exists(work + "/UP.TXT"));
    // Names of the pattern that are not files are left alone, and not listed.
    std::filesystem::create_symlink(work + "/A.TXT", work + "/.qltmp-0000000000000001-LINK");

    ServerProcess server(ini, 1);
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();
    EXPECT_GE(server.find_line("Removed stale temporary files"), 0) << server.transcript();
    EXPECT_EQ(temp_files_in(work), std::vector<std::string>{".qltmp-0000000000000001-LINK"});
    // A.TXT and the list file itself; neither the link nor a temporary file.
    termsim::Reply r = exchange(line, "DIR,LIST.TXT");
    EXPECT_EQ(r.line(), "0" + work + "/LIST.TXT COUNT 2") << termsim::describe(r);
    std::string listing = dir.read("work/LIST.TXT");
    EXPECT_EQ(listing.find(".qltmp-"), std::string::npos) << listing;
    exchange(line, "LINESTOP");
    EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
}

}  // namespace
