// The command loop end to end: serve_terminal on the slave side of a
// pseudo-terminal pair, the test (or the termsim program) playing the
// terminal on the master side.
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "file_size_limit.h"
#include "foundation/log.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "ftp_fixture.h"
#include "network/bridge.h"
#include "network/ftp.h"
#include "network/relay.h"
#include "network/socket.h"
#include "platform/clock.h"
#include "platform/process.h"
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
using testing_support::reset_everything;
using testing_support::TempDir;

namespace {

constexpr char kAck = 0x06;

class Serve : public testing_support::ServedLine {
  protected:
    void SetUp() override {
        ServedLine::SetUp();
        workdir = dir.path() + "/";
        ql::settings().workdir = workdir;
    }

    // Status and text of the reply to one command, checked for a correct
    // checksum and the usual lead byte STX.
    std::string ask(const std::string& text) {
        termsim::Reply r = exchange(text);
        EXPECT_TRUE(r.checksum_ok) << text;
        EXPECT_EQ(r.lead, 0x02) << text;
        return r.line();
    }
    // Waits for the loop to end; its result, or -1 when it did not end.
    int wait_end(int ms = 20000) {
        for (int waited = 0; waited < ms && !finished; waited += 10) platform::sleep_ms(10);
        if (!finished) return -1;
        server.join();
        return result;
    }
    // Runs the termsim program on the master side with the given lines;
    // returns its exit status and leaves its output in termsim_output.
    int run_termsim(const std::vector<std::string>& lines) {
        int fd = ::dup(pty.master_fd());  // inherited: not close-on-exec
        std::string cmd = std::string(QL_TERMSIM) + " -t 20000 --fd " + std::to_string(fd);
        for (const auto& l : lines) cmd += " '" + l + "'";
        std::string out = dir.file("termsim.out");
        int status = platform::run_command_line(cmd + " > '" + out + "' 2>&1");
        ::close(fd);
        termsim_output = testing_support::read_whole_file(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string workdir;
    std::string termsim_output;
};

TEST_F(Serve, FramesRepliesAndTheEndOfTheLoop) {
    start();
    termsim::Reply r = exchange("DATETIME");
    EXPECT_EQ(r.lead, 0x02);
    EXPECT_EQ(r.status, '0');
    EXPECT_EQ(r.text.size(), 14u);
    EXPECT_TRUE(r.checksum_ok);

    EXPECT_EQ(exchange("FOO").raw, "\x18");
    EXPECT_EQ(exchange("LINEST").raw, "\x18");  // too short for LINESTOP
    std::string bad = termsim::command_frame("DATETIME");
    bad.back() = static_cast<char>(bad.back() + 1);
    EXPECT_EQ(exchange_bytes(bad).line(), "1CHECK SUM ERROR");
    EXPECT_EQ(exchange_bytes("ATDT123\r").raw, "\x15");

    EXPECT_EQ(ask("LINESTOPX"), "0");
    EXPECT_EQ(wait_end(), ql::kServeStopped);
    EXPECT_TRUE(view.has_line("READY.."));
}

TEST_F(Serve, CwdFailureFallsBackToTheWorkingDirectory) {
    dir.write("A.TXT", std::string(1234, 'a'));
    dir.write("EMPTY.TXT", "");
    std::filesystem::create_directory(dir.file("sub"));
    start();
    EXPECT_EQ(ask("CWD,sub"), "0");
    EXPECT_EQ(ask("RECV,A.TXT"), "1 " + workdir + "sub/A.TXT FILE NOT FOUND");
    EXPECT_EQ(ask("CWD,missing"), "1 " + workdir + "missing INVALID DIRECTORY");
    EXPECT_EQ(ask("RECV,a.txt"), "01234");
    pty.write(std::string(1, 'X'));  // not ACK: no transfer
    platform::sleep_ms(300);         // let the server's read of the answer end
    EXPECT_EQ(exchange_again("RECV,EMPTY.TXT").line(), "1 " + workdir + "EMPTY.TXT FILE NOT FOUND");
    EXPECT_FALSE(view.has_line("XM:Send"));
}

// A folder path of about a hundred characters is taken whole; a missing
// one too long to repeat in a reply is said so, not cut.
TEST_F(Serve, CwdTakesLongFolderPathsAndNeverCutsTheReply) {
    const std::string long_path =
        "site_inventory_2026/terminal_uploads_from_handheld_devices/warehouse_north/dock_7";
    std::filesystem::create_directories(dir.file(long_path));
    dir.write(long_path + "/A.TXT", "abc");
    start();
    EXPECT_EQ(ask("CWD," + long_path), "0");
    EXPECT_EQ(ask("RECV,A.TXT"), "03");
    pty.write(std::string(1, 'X'));  // not ACK: no transfer
    platform::sleep_ms(300);
    const std::string missing = long_path + "/and_a_folder_that_is_not_there";
    const std::string reply = exchange_again("CWD," + missing).line();
    ASSERT_GT(missing.size() + 19, size_t(ql::kReplyTextMax));
    EXPECT_EQ(reply, "1 INVALID DIRECTORY (name too long to repeat)");
}

TEST_F(Serve, DirCountsFilesAndTheListItself) {
    dir.write("A.TXT", "a");
    dir.write("B.TXT", "bb");
    std::filesystem::create_directory(dir.file("folder"));
    start();
    EXPECT_EQ(ask("DIR,LIST.TXT"), "0" + workdir + "LIST.TXT COUNT 3");
    EXPECT_EQ(ask("DIRX,LIST2.TXT"), "0" + workdir + "LIST2.TXT COUNT 4");
}

TEST_F(Serve, CopyDeleteAndTheirGivenForms) {
    dir.write("TOP", "top");
    std::filesystem::create_directory(dir.file("sub"));
    dir.write("sub/TOP", "sub");
    start();
    EXPECT_EQ(ask("CWD,sub"), "0");
    // COPYDEL is the given form: source below the working directory itself,
    // destination exactly as sent.
    EXPECT_EQ(ask("COPYDEL,TOP," + dir.file("given")), "0COPY SUCCESSFUL");
    EXPECT_EQ(dir.read("given"), "top");
    EXPECT_FALSE(std::filesystem::exists(dir.file("sub/" + dir.file("given"))));
    EXPECT_EQ(ask("COPY,TOP,COPY2"), "0COPY SUCCESSFUL");
    EXPECT_EQ(dir.read("sub/COPY2"), "sub");
    EXPECT_EQ(ask("APPEND,TOP,COPY2"), "0APPEND SUCCESSFUL");
    EXPECT_EQ(dir.read("sub/COPY2"), "subsub");
    EXPECT_EQ(ask("COPY,NONE,X"), "1COPY FAILED");
    // DELETED removes only the given name, nothing below the subdirectory.
    EXPECT_EQ(ask("DELETED," + dir.file("given")), "0DELETE SUCCESSFUL");
    EXPECT_FALSE(std::filesystem::exists(dir.file("given")));
    EXPECT_EQ(ask("DELETE,COPY2"), "0DELETE SUCCESSFUL");
    EXPECT_EQ(ask("DELETE,COPY2"), "0DELETE SUCCESSFUL");
    EXPECT_TRUE(std::filesystem::exists(dir.file("sub/TOP")));
}

TEST_F(Serve, LoadIsPolledByStatWithTheBusyLeadByte) {
    std::filesystem::copy_file(QL_TEST_CHILD, dir.file("loader"));
    ql::command_timings().poll_wait_ms = 200;
    start();
    termsim::Reply r = exchange("LOAD,loader,wait=" + dir.file("go") + " exit=12");
    EXPECT_EQ(r.lead, kAck);
    EXPECT_EQ(r.line(), "8BUSY");
    EXPECT_TRUE(r.checksum_ok);
    r = exchange("STAT");
    EXPECT_EQ(r.lead, kAck);
    EXPECT_EQ(r.line(), "8BUSY");
    dir.write("go", "");
    for (int i = 0; i < 200 && r.lead == kAck; ++i) r = exchange("STAT");
    EXPECT_EQ(r.lead, 0x02);
    EXPECT_EQ(r.line(), "00012DONE");
    EXPECT_EQ(ask("STAT"), "1PROG STAT ERROR");
    EXPECT_EQ(ask("SYSTEM,missing,x"), "1SYSTEM FAILED");
    EXPECT_EQ(ask("LOAD,missing"), "1PROG LOAD FAILED");
}

TEST_F(Serve, CallNumberIsReportedOnce) {
    start();
    EXPECT_EQ(ask("LINEBID"), "0");
    EXPECT_EQ(ask("GETCALLNO"), "0CALL:1");
    EXPECT_EQ(ask("LINEBID"), "0");
    EXPECT_EQ(ask("GETCALLNO"), "0CALL:2");
    ql::set_call_number(41);
    EXPECT_EQ(ask("LINEBID"), "0CALL:41");
}

TEST_F(Serve, RecvSendsTheFileAfterTheTerminalsAck) {
    std::string content;
    for (int i = 0; i < 1234; ++i) content += static_cast<char>(i * 7);
    dir.write("A.TXT", content);
    start();
    EXPECT_EQ(run_termsim({":recv A.TXT " + dir.file("got")}), 0) << termsim_output;
    EXPECT_NE(termsim_output.find("< STX 0 1234 (checksum ok)"), std::string::npos)
        << termsim_output;
    EXPECT_EQ(dir.read("got"), content);
    // Logged once the server has read termsim's last ACK, which may be after
    // termsim ended.
    EXPECT_TRUE(view.wait_for_line("SEND SUCCESSFUL"));
}

TEST_F(Serve, PromptSentWithTheAckStartsTheDownloadAtOnce) {
    // A receiver that sends its first 'C' in the same write as the ACK:
    // the prompt must reach the transfer, not be swallowed with the ACK
    // (the sender would then wait for a prompt that never comes again).
    std::string content;
    for (int i = 0; i < 1234; ++i) content += static_cast<char>(i * 13);
    dir.write("A.TXT", content);
    start();
    termsim::Reply reply = exchange("RECV,A.TXT");
    ASSERT_EQ(reply.line(), "01234") << termsim::describe(reply);
    uint64_t asked = platform::monotonic_ms64();
    pty.write(std::string("\x06") + "C");
    std::string block = pty.read_exactly(1029, 5000);
    ASSERT_EQ(block.size(), 1029u) << "no 1K block within 5 s of the prompt";
    EXPECT_LT(platform::monotonic_ms64() - asked, 5000u);
    EXPECT_EQ(block[0], '\x02');
    EXPECT_EQ(block.substr(3, 1024), content.substr(0, 1024));

    // The rest in 128-byte CRC blocks, then the end of file.
    std::string got = block.substr(3, 1024);
    for (int i = 0; i < 2; ++i) {
        pty.write(std::string(1, kAck));
        std::string small = pty.read_exactly(133, 5000);
        ASSERT_EQ(small.size(), 133u);
        EXPECT_EQ(small[0], '\x01');
        got += small.substr(3, 128);
    }
    pty.write(std::string(1, kAck));
    EXPECT_EQ(pty.read_exactly(1, 5000), "\x04");
    pty.write(std::string(1, kAck));
    EXPECT_EQ(got.substr(0, content.size()), content);
    EXPECT_EQ(exchange_again("LINEBID").line(), "0");
    EXPECT_TRUE(view.has_line("SEND SUCCESSFUL"));
}

TEST_F(Serve, SendReceivesTheFileIntoTheCurrentSubdirectory) {
    std::filesystem::create_directory(dir.file("sub"));
    std::string content(3000, 'q');
    content += "tail";
    dir.write("upload", content);
    start();
    EXPECT_EQ(run_termsim({"CWD,sub", ":expect 0", ":send " + dir.file("upload") + " DATA.TXT"}), 0)
        << termsim_output;
    EXPECT_EQ(dir.read("sub/DATA.TXT"), content);
}

TEST_F(Serve, SendThatCannotBeSavedFailsAtTheTerminalAndTheNextCommandIsAnswered) {
    // The disk fills up during the transfer (a block cannot be written: the
    // server cancels, the terminal answers with its own CAN right before its
    // next command) or only at the end (the commit's flush fails: the EOT is
    // refused).
    dir.write("A.TXT", "a");
    dir.write("during", std::string(20000, 'd'));
    dir.write("at_end", std::string(3000, 'e'));
    start();
    for (const std::string upload : {"during", "at_end"}) {
        dir.write("DATA.TXT", "yesterday's records");
        std::filesystem::remove(dir.file("B.TXT"));
        int rc;
        {
            testing_support::FileSizeLimit full(1024);
            ASSERT_TRUE(full.active());
            rc = run_termsim({":send " + dir.file(upload) + " DATA.TXT", "COPY,A.TXT,B.TXT",
                              ":expect 0COPY SUCCESSFUL"});
        }
        EXPECT_EQ(rc, 1) << upload << "\n" << termsim_output;
        EXPECT_NE(termsim_output.find("< STX 0 COPY SUCCESSFUL"), std::string::npos)
            << upload << "\n"
            << termsim_output;
        EXPECT_EQ(dir.read("B.TXT"), "a") << upload;
        EXPECT_EQ(dir.read("DATA.TXT"), "yesterday's records") << upload;
    }
    EXPECT_TRUE(view.has_line("XM:DoRecv: File not saved [27]"));
}

TEST_F(Serve, NoCarrierEndsTheCall) {
    start();
    EXPECT_EQ(exchange_bytes("\r\nNO CARRIER\r\n").raw, "\x15");
    EXPECT_EQ(wait_end(), ql::kServeCallEnded);
    EXPECT_TRUE(view.has_line("CALL ENDED"));
}

TEST_F(Serve, ModemLineEndsAfterSevenSilentReads) {
    ql::serial_set_time_divisor(50);  // 100 ms per empty read
    ql::settings().modem = true;
    uint64_t begin = platform::monotonic_ms64();
    start();
    EXPECT_EQ(wait_end(), ql::kServeCallEnded);
    // Seven reads of 100 ms each at the least.
    EXPECT_GE(platform::monotonic_ms64() - begin, 650u);
    EXPECT_TRUE(view.has_line("ERROR CALL LOST"));
}

TEST_F(Serve, DirectLineOutlastsSilenceUntilStopped) {
    ql::serial_set_time_divisor(50);
    start();
    platform::sleep_ms(1500);  // fifteen empty reads or so
    EXPECT_FALSE(finished);
    ql::server_state().stop_request = true;
    EXPECT_EQ(wait_end(), ql::kServeStopped);
}

TEST_F(Serve, StopRequestEndsTheReadBetweenFramesAtOnce) {
    start();  // real time: each read between frames lasts 2.5 s here
    EXPECT_EQ(ask("LINEBID"), "0");
    uint64_t asked = platform::monotonic_ms64();
    ql::server_state().stop_request = true;
    EXPECT_EQ(wait_end(), ql::kServeStopped);
    EXPECT_LT(platform::monotonic_ms64() - asked, 1500u);
}

TEST_F(Serve, UsbDeviceThatGoesAwayEndsTheConnection) {
    ql::settings().connect_kind = ql::kConnectUsb;
    start();
    EXPECT_EQ(ask("LINEBID"), "0");
    pty.close_master();
    EXPECT_EQ(wait_end(), ql::kServeCallEnded);
    EXPECT_TRUE(view.has_line("USB DEVICE LOST"));
}

TEST_F(Serve, DirectLineThatGoesAwayKeepsWaitingUntilStopped) {
    ql::serial_set_time_divisor(50);  // 100 ms per read
    start();
    EXPECT_EQ(ask("LINEBID"), "0");
    pty.close_master();
    platform::sleep_ms(1000);
    EXPECT_FALSE(finished);
    EXPECT_FALSE(view.has_line("USB DEVICE LOST"));
    ql::server_state().stop_request = true;
    EXPECT_EQ(wait_end(), ql::kServeStopped);
}

// ---- FTP and IPCOMM reach real servers ------------------------------------

using ServeFtp = testing_support::WithFtp<Serve>;

TEST_F(ServeFtp, OpenSendCopyDelAndClose) {
    dir.write("A.TXT", "payload");
    start();
    EXPECT_EQ(ask(open_frame), "0FTP OPEN SUCCESSFUL ^");
    EXPECT_EQ(ask("FTP,SEND,A.TXT"), "0FTP SEND SUCCESSFUL");
    EXPECT_EQ(ftp.read("A.TXT"), "payload");
    // COPYDEL: the COPY row fits first, the COPYDEL row wins.
    EXPECT_EQ(ask("FTP,COPYDEL,A.TXT,B.TXT"), "0FTP COPY SUCCESSFUL");
    bool copydel = false;
    for (const auto& c : ftp.commands()) copydel |= c.rfind("COPYDEL A.TXT B.TXT", 0) == 0;
    EXPECT_TRUE(copydel);
    EXPECT_EQ(ask("FTP,XYZ"), "1INVALID COMMAND");
    EXPECT_EQ(ask("FTP,CLOSE"), "0FTP CLOSE SUCCESSFUL");
    EXPECT_FALSE(ql::ftp_bridge_connected());
}

TEST_F(ServeFtp, StartFolderAfterOpen) {
    std::filesystem::create_directory(ftp.file("incoming"));
    ql::settings().ftpdir = "incoming";
    start();
    EXPECT_EQ(ask(open_frame), "0FTP CHG DIR SUCCESSFUL");
    EXPECT_TRUE(ql::ftp_bridge_connected());
}

TEST_F(ServeFtp, StartFolderThatFailsClosesTheConnection) {
    ql::settings().ftpdir = "nowhere";
    start();
    EXPECT_EQ(ask(open_frame), "1FTP CLOSE SUCCESSFUL");
    EXPECT_FALSE(ql::ftp_bridge_connected());
}

using ServeRelay = testing_support::WithRelay<Serve>;

TEST_F(ServeRelay, OpenWithDefaultsThenCopyDelIsACopy) {
    remote.write("a.txt", "relayed");
    dir.write("UP.TXT", "up");
    start();
    EXPECT_EQ(ask("IPCOMM,OPEN"), "0IP OPEN SUCCESSFUL ^");
    // Only three letters are compared: COPYDEL is COPY (9), not a delete.
    EXPECT_EQ(ask("IPCOMM,COPYDEL,a.txt,b.txt"), "0IP COPY SUCCESSFUL");
    EXPECT_EQ(remote.read("b.txt"), "relayed");
    EXPECT_EQ(remote.read("a.txt"), "relayed");
    EXPECT_EQ(ask("IPCOMM,SEND,UP.TXT"), "0IP SEND SUCCESSFUL");
    EXPECT_EQ(remote.read("UP.TXT"), "up");
    EXPECT_EQ(ask("IPCOMM,XYZ"), "1INVALID COMMAND");
    EXPECT_EQ(ask("IPCOMM,CLOSE"), "0IP CLOSE SUCCESSFUL");
}

TEST_F(ServeRelay, OpenWithTheWrongLoginFails) {
    relay->set_login("OTHER");
    start();
    EXPECT_EQ(ask("IPCOMM,OPEN").substr(0, 15), "1IP OPEN FAILED");
}

}  // namespace
