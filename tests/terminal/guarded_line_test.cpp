// What a hostile or careless terminal can do to the log and to the machine,
// end to end over a pseudo-terminal pair: secrets never reach a log line,
// control characters cannot forge or split lines, and the confine and
// programs settings keep a terminal inside the working folder.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sstream>
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
using testing_support::reset_everything;
using testing_support::TempDir;

namespace {

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The working folder is work/ inside the test's folder; the log file and
// anything "outside" live beside it.
class Guarded : public testing_support::ServedLine {
  protected:
    void SetUp() override {
        ServedLine::SetUp();
        ASSERT_EQ(::mkdir(dir.file("work").c_str(), 0755), 0);
        workdir = dir.file("work") + "/";
        ql::settings().workdir = workdir;
        ql::log_state().mode = 1;
        ql::set_log_path(dir.file("quaylink.log"));
    }

    std::string ask(const std::string& text) {
        termsim::Reply r = exchange(text);
        EXPECT_TRUE(r.checksum_ok) << text;
        return r.line();
    }

    std::vector<std::string> log_file_lines() const {
        return split_lines(testing_support::read_whole_file(dir.file("quaylink.log")));
    }

    // Every line of the log file and of the status list is one whole event.
    void expect_whole_lines() const {
        for (const std::string& line : log_file_lines()) {
            bool head = line.rfind("INFO:[", 0) == 0 || line.rfind("ERR: [", 0) == 0;
            EXPECT_TRUE(head && line.back() == ']') << "not one event: " << line;
        }
        for (const std::string& line : view.lines()) {
            EXPECT_TRUE(line.rfind("INFO: ", 0) == 0 || line.rfind("ERR:  ", 0) == 0) << line;
            for (char c : line) EXPECT_GE(static_cast<unsigned char>(c), 32u) << line;
        }
    }

    // True when some line of the log file or the status list holds text.
    bool logged(const std::string& text) const {
        for (const std::string& line : log_file_lines()) {
            if (line.find(text) != std::string::npos) return true;
        }
        return view.has_line(text);
    }

    std::string workdir;
};

// ---- Secrets -----------------------------------------------------------------

class GuardedSecrets : public Guarded {
  protected:
    void SetUp() override {
        Guarded::SetUp();
        testing_support::FtpServerOptions o;
        o.password = "Pw9zQx";
        ftp = std::make_unique<testing_support::FtpServer>(o);
        ASSERT_TRUE(ftp->start()) << ftp->error();
        relay = std::make_unique<relayd::RelayServer>(remote.path());
        ASSERT_EQ(relay->start(), 0);
        relay->set_login("K3yW0rd");
        // The bridges log every request, as after every settings load.
        ql::ftp_set_defaults("127.0.0.1", "quay", "Dfl7pw", 1);
    }
    void TearDown() override {
        Guarded::TearDown();
        relay.reset();
        ftp.reset();
    }
    std::string ftp_open(const std::string& password) {
        return "FTP,OPEN,127.0.0.1,quay," + password + ",1," + ftp->port_text();
    }
    std::string relay_open(const std::string& login) {
        return "IPCOMM,OPEN,127.0.0.1," + login + "," + relay->port_text();
    }

    std::unique_ptr<testing_support::FtpServer> ftp;
    TempDir remote;
    std::unique_ptr<relayd::RelayServer> relay;
};

TEST_F(GuardedSecrets, PasswordAndLoginAreMaskedAtEveryVerbosity) {
    start();
    for (int verbosity = 0; verbosity <= 2; ++verbosity) {
        SCOPED_TRACE(verbosity);
        ql::log_state().verbosity = verbosity;
        // A refused login and an accepted one, for each bridge.
        EXPECT_EQ(ask(ftp_open("s3cret")).substr(0, 16), "1FTP OPEN FAILED");
        EXPECT_EQ(ask(ftp_open("Pw9zQx")), "0FTP OPEN SUCCESSFUL ^");
        EXPECT_EQ(ask(relay_open("l0gin")).substr(0, 15), "1IP OPEN FAILED");
        EXPECT_EQ(ask(relay_open("K3yW0rd")), "0IP OPEN SUCCESSFUL ^");
    }
    // An open without a password logs in with the settings' one.
    EXPECT_EQ(ask("FTP,OPEN,127.0.0.1,quay,,1," + ftp->port_text()).substr(0, 16),
              "1FTP OPEN FAILED");
    for (const char* secret : {"s3cret", "Pw9zQx", "l0gin", "K3yW0rd", "Dfl7pw"}) {
        EXPECT_FALSE(logged(secret)) << secret;
    }
    EXPECT_TRUE(logged("FTP:[ 1 ][ 127.0.0.1 ][ quay ][ ******** ]"));
    EXPECT_TRUE(logged("IP:[ 1 ][ 127.0.0.1 ][ ******** ][ " + relay->port_text() + " ]"));
    EXPECT_TRUE(logged("] FTP,OPEN,127.0.0.1,quay,********,1,"));
    EXPECT_TRUE(logged("] IPCOMM,OPEN,127.0.0.1,********,"));
}

// ---- Control characters ------------------------------------------------------

TEST_F(Guarded, ALineFeedInAFieldCannotForgeALogLine) {
    ql::log_state().verbosity = 1;  // the command and its fields are logged
    start();
    EXPECT_EQ(ask("DELETE,x\nERR: [01/01/26 00:00:00   ][    0][FORGED LINE]"),
              "0DELETE SUCCESSFUL");
    EXPECT_EQ(ask("DELETE,\x1b[2J\x1b]0;owned\x07"), "0DELETE SUCCESSFUL");
    ql::log_state().verbosity = 2;  // the whole frame is logged
    EXPECT_EQ(ask("DELETE,y\r\nERR: forged"), "0DELETE SUCCESSFUL");
    expect_whole_lines();
    for (const std::string& line : log_file_lines()) {
        EXPECT_EQ(line.rfind("ERR: [01/01/26 00:00:00", 0), std::string::npos) << line;
    }
    EXPECT_TRUE(logged("DELETE x\\x0AERR: [01/01/26 00:00:00   ][    0][FORGED LINE]"));
    EXPECT_TRUE(logged("DELETE \\x1B[2J\\x1B]0;owned\\x07"));
    EXPECT_TRUE(logged("DELETE,y\\x0D\\x0AERR: forged"));
}

TEST_F(Guarded, NewFileNamesWithLineBreaksAreRefused) {
    dir.write("work/A.TXT", "a");
    ql::settings().passive = true;
    start();
    EXPECT_EQ(ask("COPY,A.TXT,new\nline.txt"), "1COPY FAILED");
    EXPECT_EQ(ask("APPEND,A.TXT,new\rline.txt"), "1APPEND FAILED");
    EXPECT_EQ(ask("COPYD,A.TXT," + dir.file("work/given\nname")), "1COPY FAILED");
    EXPECT_EQ(ask("SEND,up\nload.txt,10"), "1SEND FAILED");
    EXPECT_EQ(ask("RECV,A.TXT\n"), "1 " + workdir + "A.TXT\n FILE NOT FOUND");
    EXPECT_EQ(ask("DIR,list\n.txt"), "1OPEN ERROR {List} [" + workdir + "list\n.txt] ");
    // Local names of downloads and listings are refused before any traffic.
    EXPECT_EQ(ask("FTP,RECV,got\n.txt,remote.txt"), "1FTP LOCAL NAME REFUSED");
    EXPECT_EQ(ask("FTP,DIR,dir\r.txt"), "1FTP LOCAL NAME REFUSED");
    EXPECT_EQ(ask("IPCOMM,RECV,got\n.txt,remote.txt"), "1IP LOCAL NAME REFUSED");
    EXPECT_EQ(ask("DIR,LIST.TXT"), "0" + workdir + "LIST.TXT COUNT 2");
    EXPECT_TRUE(logged("Line break in a new file name, refused: new\\x0Aline.txt"));
    expect_whole_lines();
}

TEST_F(Guarded, AListingKeepsOneLinePerFile) {
    // Made by some other program: the listing escapes the name.
    for (const char* name : {"A.TXT", "B.TXT", "new\nline.txt", "cr\rname", "tab\tname"}) {
        dir.write(std::string("work/") + name, "x");
    }
    start();
    EXPECT_EQ(ask("DIR,LIST.TXT"), "0" + workdir + "LIST.TXT COUNT 6");
    std::vector<std::string> lines = split_lines(dir.read("work/LIST.TXT"));
    ASSERT_EQ(lines.size(), 6u) << dir.read("work/LIST.TXT");
    EXPECT_NE(dir.read("work/LIST.TXT").find(" new\\x0Aline.txt\n"), std::string::npos);
    EXPECT_EQ(dir.read("work/LIST.TXT").find('\r'), std::string::npos);
}

// ---- confine=yes -------------------------------------------------------------

class Confined : public Guarded {
  protected:
    void SetUp() override {
        Guarded::SetUp();
        ql::settings().confine = true;
        dir.write("outside.txt", "secret");
        dir.write("work/A.TXT", "inside");
        std::filesystem::create_directory(dir.file("work/sub"));
        std::filesystem::create_directory(dir.file("elsewhere"));
        dir.write("elsewhere/B.TXT", "far");
        // Links: one that leads out of the tree, one that stays inside.
        std::filesystem::create_directory_symlink(dir.file("elsewhere"), dir.file("work/out"));
        std::filesystem::create_symlink(dir.file("outside.txt"), dir.file("work/leak.txt"));
        std::filesystem::create_directory_symlink(dir.file("work/sub"), dir.file("work/in"));
        std::filesystem::create_symlink(dir.file("elsewhere/new.txt"), dir.file("work/dangling"));
    }
};

// A name in the system's temporary folder that no other run uses, removed
// before and after: a file left there by a faulty build must not fail every
// later run on the machine.
class StrayFile {
  public:
    StrayFile()
        : path_("/tmp/ql-confine-" + std::to_string(::getpid()) + "-" +
                std::filesystem::path(dir_.path()).filename().string() + ".txt") {
        std::filesystem::remove(path_);
    }
    ~StrayFile() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }

  private:
    TempDir dir_;  // only its unique name is used
    std::string path_;
};

TEST_F(Confined, NamesThatLeaveTheWorkingFolderAreRefused) {
    StrayFile stray;
    start();
    const std::string outside = dir.file("outside.txt");
    EXPECT_EQ(ask("RECV,..\\outside.txt"), "1 " + workdir + "../outside.txt FILE NOT FOUND");
    EXPECT_EQ(ask("RECV,leak.txt"), "1 " + workdir + "leak.txt FILE NOT FOUND");
    EXPECT_EQ(ask("RECV,out/B.TXT"), "1 " + workdir + "out/B.TXT FILE NOT FOUND");
    EXPECT_EQ(ask("SEND,../up.txt,5"), "1SEND FAILED");
    EXPECT_EQ(ask("COPY,A.TXT,out/copy.txt"), "1COPY FAILED");
    EXPECT_EQ(ask("COPY,A.TXT,dangling"), "1COPY FAILED");
    EXPECT_EQ(ask("APPEND,leak.txt,A2.TXT"), "1APPEND FAILED");
    EXPECT_EQ(ask("COPYD,A.TXT,C:" + stray.path()), "1COPY FAILED");
    EXPECT_EQ(ask("DELETED," + outside), "1DELETE FAILED");
    EXPECT_EQ(ask("DELETE,out\\B.TXT"), "1DELETE FAILED");
    EXPECT_EQ(ask("CWD,.."), "1 " + workdir + ".. INVALID DIRECTORY");
    EXPECT_EQ(ask("CWD,out"), "1 " + workdir + "out INVALID DIRECTORY");
    EXPECT_EQ(ask("LOADD,/usr/bin/true"), "1PROG LOAD FAILED");
    EXPECT_EQ(ask("FTP,SEND,../outside.txt"), "1FTP LOCAL NAME REFUSED");
    EXPECT_EQ(ask("IPCOMM,DIR,out/list.txt"), "1IP LOCAL NAME REFUSED");
    EXPECT_EQ(dir.read("outside.txt"), "secret");
    EXPECT_EQ(dir.read("elsewhere/B.TXT"), "far");
    EXPECT_FALSE(std::filesystem::exists(dir.file("up.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere/copy.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere/new.txt")));
    EXPECT_FALSE(std::filesystem::exists(stray.path()));
    EXPECT_TRUE(logged("NAMES CONFINED TO " + workdir));
    EXPECT_TRUE(logged("Outside the working folder, refused: " + outside));
    EXPECT_TRUE(logged("Outside the working folder, refused: " + workdir + "leak.txt"));
}

TEST_F(Confined, NamesInsideTheTreeStillWork) {
    start();
    EXPECT_EQ(ask("RECV,a.txt"), "06");
    pty.write("X");  // not ACK: no transfer
    platform::sleep_ms(300);
    // A link that stays inside.
    EXPECT_EQ(exchange_again("COPY,A.TXT,in/C.TXT").line(), "0COPY SUCCESSFUL");
    EXPECT_EQ(dir.read("work/sub/C.TXT"), "inside");
    EXPECT_EQ(ask("COPYD,A.TXT," + workdir + "sub/D.TXT"), "0COPY SUCCESSFUL");
    EXPECT_EQ(ask("CWD,sub"), "0");
    EXPECT_EQ(ask("COPY,C.TXT,..\\E.TXT"), "0COPY SUCCESSFUL");  // ".." that stays inside
    EXPECT_EQ(dir.read("work/E.TXT"), "inside");
    EXPECT_EQ(ask("DIR,LIST.TXT"), "0" + workdir + "sub/LIST.TXT COUNT 3");
    EXPECT_EQ(ask("DELETED," + workdir + "sub/D.TXT"), "0DELETE SUCCESSFUL");
    EXPECT_EQ(ask("CWD,"), "0");
    EXPECT_FALSE(logged("Outside the working folder"));
}

// A local user who swaps a checked name for a link to the outside between
// the reply and its use: the file or folder opened at the check is the one
// used, so nothing outside is read or written.
class ConfinedRace : public Confined {
  protected:
    // work/<name> moves to work/<name>.old (inside the tree); a link to
    // target takes its place.
    void swap_for_link(const std::string& name, const std::string& target) {
        std::filesystem::rename(dir.file("work/" + name), dir.file("work/" + name + ".old"));
        std::filesystem::create_symlink(target, dir.file("work/" + name));
    }

    // Holds work/<name> as another program would while the server waits.
    int hold(const std::string& name) {
        int fd = ::open(dir.file("work/" + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        EXPECT_EQ(::flock(fd, LOCK_EX), 0);
        return fd;
    }
};

TEST_F(ConfinedRace, RecvSendsTheFileCheckedNotTheLinkPutInItsPlace) {
    dir.write("work/swap.txt", "inside");
    start();
    ASSERT_EQ(ask("RECV,swap.txt"), "06");
    swap_for_link("swap.txt", dir.file("outside.txt"));
    pty.write(std::string("\x06") + "C");
    std::string block = pty.read_exactly(133, 5000);
    ASSERT_EQ(block.size(), 133u) << testing_support::read_whole_file(dir.file("quaylink.log"));
    EXPECT_EQ(block.substr(3, 6), "inside");
    pty.write("\x06");
    EXPECT_EQ(pty.read_exactly(1, 5000), "\x04");
    pty.write("\x06");
    platform::sleep_ms(200);
    EXPECT_EQ(ask("DATETIME").size(), 15u);
}

TEST_F(ConfinedRace, SendWritesIntoTheFolderCheckedNotTheLinkPutInItsPlace) {
    start();
    ASSERT_EQ(ask("SEND,sub/new.txt,5"), "0");
    swap_for_link("sub", dir.file("elsewhere"));
    pty.write("\x06");
    ASSERT_EQ(pty.read_exactly(1, 5000), "C");
    std::string data = "hello" + std::string(123, '\x1a');
    uint16_t crc = ql::crc16(data.data(), data.size());
    pty.write(std::string("\x01\x01\xfe") + data + static_cast<char>(crc >> 8) +
              static_cast<char>(crc & 0xff));
    EXPECT_EQ(pty.read_exactly(1, 5000), "\x06");
    pty.write("\x04");
    EXPECT_EQ(pty.read_exactly(1, 5000), "\x06");
    platform::sleep_ms(200);
    EXPECT_EQ(ask("DATETIME").size(), 15u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere/new.txt")));
    EXPECT_EQ(dir.read("work/sub.old/new.txt"), "hello");
}

TEST_F(ConfinedRace, CopyAndAppendWaitingForTheirTargetKeepTheFolderChecked) {
    dir.write("elsewhere/D.TXT", "far");
    start();
    for (const char* word : {"COPY", "APPEND"}) {
        SCOPED_TRACE(word);
        std::filesystem::create_directory(dir.file("work/sub"));
        int held = hold("sub/D.TXT");
        // The target is busy: the server waits and tries again, and the
        // folder is swapped meanwhile.
        pty.write(termsim::command_frame(std::string(word) + ",A.TXT,sub/D.TXT"));
        platform::sleep_ms(500);
        swap_for_link("sub", dir.file("elsewhere"));
        ::close(held);
        EXPECT_EQ(exchange_bytes("").line(), std::string("0") + word + " SUCCESSFUL");
        EXPECT_EQ(dir.read("elsewhere/D.TXT"), "far");
        EXPECT_EQ(dir.read("work/sub.old/D.TXT"), "inside");
        std::filesystem::remove(dir.file("work/sub"));
        std::filesystem::remove_all(dir.file("work/sub.old"));
    }
}

// The local files of FTP and IPCOMM commands: the server waits for the
// login (or the listing request) while a folder or a file the name passes
// through is swapped for a link to the outside.
using ConfinedRaceFtp = testing_support::WithFtp<ConfinedRace>;
using ConfinedRaceRelay = testing_support::WithRelay<ConfinedRace>;

TEST_F(ConfinedRaceFtp, FtpTransfersUseTheLocalFileChecked) {
    ftp.write("remote.txt", "from ftp");
    dir.write("work/up.txt", "inside");
    ql::ftp_set_control_port(ftp.port());  // for the open each command makes itself
    start();
    ftp.hold("USER");
    pty.write(termsim::command_frame("FTP,RECV,sub/got.txt,remote.txt"));
    ASSERT_TRUE(ftp.received("USER"));
    swap_for_link("sub", dir.file("elsewhere"));
    ftp.release("USER");
    EXPECT_EQ(exchange_bytes("").line(), "0FTP RECV SUCCESSFUL");
    EXPECT_EQ(dir.read("work/sub.old/got.txt"), "from ftp");
    EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere/got.txt")));

    ASSERT_EQ(ask("FTP,CLOSE"), "0FTP CLOSE SUCCESSFUL");
    ftp.hold("USER");
    pty.write(termsim::command_frame("FTP,SEND,up.txt,up.txt"));
    ASSERT_TRUE(ftp.received("USER", 2));
    swap_for_link("up.txt", dir.file("outside.txt"));
    ftp.release("USER");
    EXPECT_EQ(exchange_bytes("").line(), "0FTP SEND SUCCESSFUL");
    EXPECT_EQ(ftp.read("up.txt"), "inside");
}

TEST_F(ConfinedRaceRelay, RelayListingGoesIntoTheFolderChecked) {
    start();
    ASSERT_EQ(ask("IPCOMM,OPEN"), "0IP OPEN SUCCESSFUL ^");
    relay->clear_records();
    relay->hold_on(200);
    pty.write(termsim::command_frame("IPCOMM,DIR,sub/list.txt"));
    ASSERT_TRUE(relay->wait_for_requests(1, 20000));
    swap_for_link("sub", dir.file("elsewhere"));
    relay->release_holds();
    EXPECT_EQ(exchange_bytes("").line(), "0IP DIR SUCCESSFUL");
    EXPECT_TRUE(std::filesystem::exists(dir.file("work/sub.old/list.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere/list.txt")));
}

TEST_F(Confined, HardLinkedFilesAreRefused) {
    ASSERT_EQ(::link(dir.file("outside.txt").c_str(), dir.file("work/hard.txt").c_str()), 0);
    start();
    EXPECT_EQ(ask("APPEND,A.TXT,hard.txt"), "1APPEND FAILED");
    EXPECT_EQ(ask("COPY,A.TXT,hard.txt"), "1COPY FAILED");
    EXPECT_EQ(ask("COPY,hard.txt,C.TXT"), "1COPY FAILED");
    EXPECT_EQ(ask("RECV,hard.txt"), "1 " + workdir + "hard.txt FILE NOT FOUND");
    EXPECT_EQ(ask("SEND,hard.txt,5"), "1SEND FAILED");
    EXPECT_EQ(ask("DIR,hard.txt"), "1OPEN ERROR {List} [" + workdir + "hard.txt] ");
    // Local files of FTP and IPCOMM commands too, before any traffic.
    EXPECT_EQ(ask("FTP,SEND,hard.txt"), "1FTP LOCAL NAME REFUSED");
    EXPECT_EQ(ask("FTP,RECV,hard.txt,remote.txt"), "1FTP LOCAL NAME REFUSED");
    EXPECT_EQ(ask("IPCOMM,RECV,hard.txt"), "1IP LOCAL NAME REFUSED");
    EXPECT_EQ(dir.read("outside.txt"), "secret");
    EXPECT_FALSE(std::filesystem::exists(dir.file("work/C.TXT")));
    EXPECT_TRUE(logged("Hard-linked file, refused: " + workdir + "hard.txt"));
}

TEST_F(Confined, CopiesAndTransfersIntoAFolderClearItsStaleTemporaryFiles) {
    const std::string stale = "work/sub/.qltmp-0123456789abcdef-D.TXT";
    dir.write(stale, std::string(4096, 'x'));
    start();
    EXPECT_EQ(ask("COPY,A.TXT,sub/D.TXT"), "0COPY SUCCESSFUL");
    EXPECT_FALSE(std::filesystem::exists(dir.file(stale)));
    dir.write(stale, "x");
    ASSERT_EQ(ask("SEND,sub/E.TXT,0"), "0");
    pty.write("\x06");
    ASSERT_EQ(pty.read_exactly(1, 5000), "C");
    pty.write("\x18");  // the terminal gives up: the folder was cleared at the start
    platform::sleep_ms(300);
    EXPECT_FALSE(std::filesystem::exists(dir.file(stale)));
}

TEST_F(Guarded, WithoutConfineATerminalMayLeaveTheWorkingFolder) {
    dir.write("outside.txt", "secret");
    start();
    EXPECT_EQ(ask("RECV,..\\outside.txt"), "06");
    pty.write("X");
    platform::sleep_ms(300);
    EXPECT_EQ(exchange_again("COPY,..\\outside.txt,..\\copy.txt").line(), "0COPY SUCCESSFUL");
    EXPECT_EQ(dir.read("copy.txt"), "secret");
    EXPECT_EQ(ask("DELETED," + dir.file("copy.txt")), "0DELETE SUCCESSFUL");
}

// ---- programs=no ---------------------------------------------------------------

TEST_F(Guarded, ProgramsOffRefusesEveryWayOfStartingOne) {
    ql::settings().programs = false;
    std::string marker = dir.file("ran");
    dir.write("work/run.sh", "#!/bin/sh\ntouch '" + marker + "'\n");
    ::chmod(dir.file("work/run.sh").c_str(), 0755);
    start();
    EXPECT_EQ(ask("SYSTEM,run.sh,;touch " + marker), "1SYSTEM FAILED");
    EXPECT_EQ(ask("LOAD,run.sh"), "1PROG LOAD FAILED");
    EXPECT_EQ(ask("LOADD," + dir.file("work/run.sh")), "1PROG LOAD FAILED");
    EXPECT_EQ(ask("EXEC,run.sh"), "1PROG LOAD FAILED");
    EXPECT_EQ(ask("EXECD,/usr/bin/touch,touch " + marker), "1PROG LOAD FAILED");
    EXPECT_EQ(ask("STAT"), "1PROG STAT ERROR");
    platform::sleep_ms(200);
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_TRUE(logged("PROGRAMS OFF"));
    EXPECT_TRUE(logged("Programs are switched off, refused: EXECD"));
    EXPECT_TRUE(logged("Programs are switched off, refused: SYSTEM"));
}

TEST_F(Guarded, ProgramsOnByDefault) {
    std::string marker = dir.file("ran");
    start();
    EXPECT_EQ(ask("EXECD,/usr/bin/touch,touch " + marker), "00000DONE");
    EXPECT_TRUE(std::filesystem::exists(marker));
}

}  // namespace
