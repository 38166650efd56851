// Special files and links in the working folder, end to end: the command
// loop on a pseudo-terminal, the test playing the terminal. A pipe named by
// a command must be answered with the command's failure reply at once, and
// the next command served; a download must never write through a link or a
// file that sits at a temporary name.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "ftp_fixture.h"
#include "network/bridge.h"
#include "network/ftp.h"
#include "network/relay.h"
#include "network/socket.h"
#include "platform/clock.h"
#include "platform/serial.h"
#include "pty_pair.h"
#include "recording_view.h"
#include "relayd/relay_server.h"
#include "serial/modem.h"
#include "serial/port.h"
#include "served_line.h"
#include "server_reset.h"
#include "temp_dir.h"
#include "terminal/commands.h"
#include "terminal/dispatcher.h"
#include "terminal/frame.h"
#include "terminal/progress.h"
#include "terminal/xmodem.h"
#include "termsim.h"

using testing_support::PtyPair;
using testing_support::read_whole_file;
using testing_support::reset_everything;
using testing_support::TempDir;

namespace {

constexpr char kAck = 0x06;

bool is_fifo(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

bool is_link(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

class SpecialFiles : public testing_support::ServedLine {
  protected:
    void SetUp() override {
        ServedLine::SetUp();
        workdir = dir.path() + "/";
        ql::settings().workdir = workdir;
        ql::command_timings().copy_tries = 2;
        ql::command_timings().copy_retry_ms = 10;
        pipe = dir.file("PIPE");
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
        dir.write("A.TXT", "abc");
    }

    // The reply line to one command; empty when none came within 20 s (the
    // server hangs).
    std::string ask(const std::string& text) {
        termsim::Reply r = exchange(text);
        return r.present ? r.line() : std::string();
    }
    // The server still answers.
    void expect_served(const std::string& after) {
        EXPECT_EQ(ask("LINEBID"), "0") << "no answer after " << after;
    }

    std::string workdir;
    std::string pipe;
};

TEST_F(SpecialFiles, LocalCommandsRefuseAPipeAndServeTheNextCommand) {
    start();
    EXPECT_EQ(ask("COPY,PIPE,OUT.TXT"), "1COPY FAILED");
    expect_served("COPY from a pipe");
    EXPECT_EQ(ask("COPY,A.TXT,PIPE"), "1COPY FAILED");
    expect_served("COPY to a pipe");
    EXPECT_EQ(ask("APPEND,A.TXT,PIPE"), "1APPEND FAILED");
    expect_served("APPEND to a pipe");
    EXPECT_EQ(ask("DIR,PIPE"), "1OPEN ERROR {List} [" + pipe + "] ");
    expect_served("DIR into a pipe");
    EXPECT_EQ(ask("RECV,PIPE"), "1 " + pipe + " FILE NOT FOUND");
    expect_served("RECV of a pipe");
    EXPECT_EQ(ask("SYSTEM,PIPE,x"), "1SYSTEM FAILED");
    EXPECT_EQ(ask("LOAD,PIPE"), "1PROG LOAD FAILED");
    EXPECT_EQ(ask("EXEC,PIPE"), "1PROG LOAD FAILED");
    expect_served("LOAD and EXEC of a pipe");
    EXPECT_TRUE(is_fifo(pipe));
    EXPECT_FALSE(std::filesystem::exists(dir.file("OUT.TXT")));
}

TEST_F(SpecialFiles, SendIntoAPipeReceivesNothingAndServesTheNextCommand) {
    start();
    EXPECT_EQ(ask("SEND,PIPE,3"), "0");
    pty.write(std::string(1, kAck));
    // The receive refuses the pipe before its first prompt: no 'C' comes.
    EXPECT_EQ(pty.read(1, 3000), "");
    expect_served("SEND into a pipe");
    EXPECT_TRUE(is_fifo(pipe));
}

TEST_F(SpecialFiles, CallCounterThatIsAPipeGivesNoNumber) {
    ASSERT_EQ(::mkfifo(dir.file("QLCALLNO.DAT").c_str(), 0600), 0);
    start();
    EXPECT_EQ(ask("GETCALLNO"), "0CALL:0");
    expect_served("GETCALLNO with a pipe for a counter");
}

using SpecialFilesFtp = testing_support::WithFtp<SpecialFiles>;

TEST_F(SpecialFilesFtp, TransfersRefuseAPipeAndServeTheNextCommand) {
    ftp.write("remote.txt", "from the server");
    ql::settings().lastftpsend = true;
    ASSERT_EQ(::mkfifo(dir.file("FTPSENDX.INI").c_str(), 0600), 0);  // the sent-file register
    start();
    EXPECT_EQ(ask(open_frame), "0FTP OPEN SUCCESSFUL ^");
    EXPECT_EQ(ask("FTP,DBIN,PIPE").substr(0, 17), "1FTP DBIN FAILED:");
    expect_served("FTP DBIN of a pipe");
    EXPECT_EQ(ask("FTP,SEND,PIPE").substr(0, 17), "1FTP SEND FAILED:");
    EXPECT_EQ(ask("FTP,RECV,PIPE,remote.txt").substr(0, 17), "1FTP RECV FAILED:");
    EXPECT_EQ(ask("FTP,DIR,PIPE").substr(0, 16), "1FTP DIR FAILED:");
    expect_served("FTP into a pipe");
    // A register that is a pipe is neither read nor written through.
    EXPECT_EQ(ask("FTP,SEND,A.TXT"), "0FTP SEND SUCCESSFUL");
    expect_served("FTP SEND with a pipe for a register");
    EXPECT_EQ(ftp.read("A.TXT"), "abc");
    EXPECT_TRUE(is_fifo(pipe));
}

TEST_F(SpecialFilesFtp, DownloadsNeverWriteThroughWhatSitsAtTheOldTemporaryName) {
    TempDir outside;
    std::string victim = outside.write("victim", "precious");
    ftp.write("DL.TXT", "downloaded");
    ftp.write("DL2.TXT", "second");
    // A link and a file at the names downloads used to be written under.
    ASSERT_EQ(::symlink(victim.c_str(), dir.file("DL.TXT.qlpart").c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), dir.file("GONE.TXT.qlpart").c_str()), 0);
    dir.write("DL2.TXT.qlpart", "somebody's file");
    start();
    EXPECT_EQ(ask(open_frame), "0FTP OPEN SUCCESSFUL ^");
    EXPECT_EQ(ask("FTP,RECV,DL.TXT"), "0FTP RECV SUCCESSFUL");
    EXPECT_EQ(ask("FTP,RECV,DL2.TXT"), "0FTP RECV SUCCESSFUL");
    EXPECT_EQ(ask("FTP,RECV,GONE.TXT").substr(0, 17), "1FTP RECV FAILED:");
    EXPECT_EQ(dir.read("DL.TXT"), "downloaded");
    EXPECT_EQ(dir.read("DL2.TXT"), "second");
    EXPECT_EQ(read_whole_file(victim), "precious");
    EXPECT_TRUE(is_link(dir.file("DL.TXT.qlpart")));
    EXPECT_TRUE(is_link(dir.file("GONE.TXT.qlpart")));
    EXPECT_EQ(dir.read("DL2.TXT.qlpart"), "somebody's file");

    // A link at the target itself is replaced, not written through.
    ASSERT_EQ(::symlink(victim.c_str(), dir.file("LINKED.TXT").c_str()), 0);
    ftp.write("LINKED.TXT", "new");
    EXPECT_EQ(ask("FTP,RECV,LINKED.TXT"), "0FTP RECV SUCCESSFUL");
    EXPECT_FALSE(is_link(dir.file("LINKED.TXT")));
    EXPECT_EQ(dir.read("LINKED.TXT"), "new");
    EXPECT_EQ(read_whole_file(victim), "precious");
}

using SpecialFilesRelay = testing_support::WithRelay<SpecialFiles>;

TEST_F(SpecialFilesRelay, DownloadsRefuseAPipeAndNeverWriteThroughTheOldTemporaryName) {
    TempDir outside;
    std::string victim = outside.write("victim", "precious");
    remote.write("r.txt", "relayed");
    ASSERT_EQ(::symlink(victim.c_str(), dir.file("R.TXT.relay-part").c_str()), 0);
    dir.write("S.TXT.relay-part", "somebody's file");
    start();
    EXPECT_EQ(ask("IPCOMM,OPEN"), "0IP OPEN SUCCESSFUL ^");
    EXPECT_EQ(ask("IPCOMM,RECV,PIPE,r.txt").substr(0, 16), "1IP RECV FAILED:");
    EXPECT_EQ(ask("IPCOMM,SEND,PIPE").substr(0, 16), "1IP SEND FAILED:");
    expect_served("IPCOMM with a pipe");
    EXPECT_EQ(ask("IPCOMM,RECV,R.TXT,r.txt"), "0IP RECV SUCCESSFUL");
    EXPECT_EQ(ask("IPCOMM,RECV,S.TXT,r.txt"), "0IP RECV SUCCESSFUL");
    EXPECT_EQ(dir.read("R.TXT"), "relayed");
    EXPECT_EQ(dir.read("S.TXT"), "relayed");
    EXPECT_EQ(read_whole_file(victim), "precious");
    EXPECT_TRUE(is_link(dir.file("R.TXT.relay-part")));
    EXPECT_EQ(dir.read("S.TXT.relay-part"), "somebody's file");
    EXPECT_TRUE(is_fifo(pipe));
}

}  // namespace
