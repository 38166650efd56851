// The console server facing a hostile terminal: what reaches standard
// output and the log file when fields carry line breaks, escape sequences
// and passwords, and a confined line refusing a name outside its folder.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "pty_pair.h"
#include "server_process.h"
#include "temp_dir.h"
#include "termsim.h"

namespace {

using testing_support::exchange;
using testing_support::kStartMs;
using testing_support::PtyPair;
using testing_support::ServerProcess;
using testing_support::settings_text;
using testing_support::TempDir;

TEST(ConsoleGuard, OutputAndLogKeepOneLinePerEventAndNoSecret) {
    TempDir dir;
    std::string work = dir.file("work");
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    dir.write("outside.txt", "secret");
    PtyPair line;
    ASSERT_TRUE(line.ok());
    std::string ini = dir.write(
        "quaylink.ini", settings_text({"commport=" + line.slave_path(), "connect=direct",
                                       "interchardelay=50", "workdir=" + work, "logfile=CREATE",
                                       "logdir=" + dir.path(), "confine=yes"}));
    ServerProcess server(ini, 1);
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();

    EXPECT_EQ(exchange(line, "DELETE,x\nERR: [01/01/26 00:00:00   ][    0][FORGED LINE]").line(),
              "0DELETE SUCCESSFUL");
    EXPECT_EQ(exchange(line, "DELETE\x1b[2J,y").line(), "0DELETE SUCCESSFUL");
    // Nothing listens on port 1: the open fails after the request is logged.
    EXPECT_EQ(exchange(line, "FTP,OPEN,127.0.0.1,quay,s3cret,1,1").line().substr(0, 16),
              "1FTP OPEN FAILED");
    EXPECT_EQ(exchange(line, "RECV,..\\outside.txt").line(),
              "1 " + work + "/../outside.txt FILE NOT FOUND");
    exchange(line, "LINESTOP");
    ASSERT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();

    std::string out = server.transcript();
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    EXPECT_EQ(out.find("s3cret"), std::string::npos) << out;
    for (const std::string& l : server.lines()) {
        EXPECT_NE(l.rfind("ERR: [01/01/26", 0), 0u) << "forged: " << l;
    }
    EXPECT_GE(server.find_line("DELETE x\\x0AERR: [01/01/26 00:00:00   ][    0][FORGED LINE]"), 0)
        << out;
    EXPECT_GE(server.find_line("STATUS: DELETE\\x1B[2J"), 0) << out;
    EXPECT_GE(server.find_line("FTP:[ 1 ][ 127.0.0.1 ][ quay ][ ******** ]"), 0) << out;
    EXPECT_GE(server.find_line("Outside the working folder, refused: " + work + "/../outside.txt"),
              0)
        << out;

    std::string log = dir.read("quaylink.log");
    EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
    EXPECT_EQ(log.find('\x1b'), std::string::npos) << log;
    size_t start = 0;
    for (size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string l = log.substr(start, end - start);
        bool whole = (l.rfind("INFO:[", 0) == 0 || l.rfind("ERR: [", 0) == 0) && l.back() == ']';
        EXPECT_TRUE(whole) << "not one event: " << l;
        EXPECT_NE(l.rfind("ERR: [01/01/26", 0), 0u) << "forged: " << l;
    }
}

}  // namespace
