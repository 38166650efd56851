// End-to-end tests of `quaylink --console`: the real program in a process of
// its own, its line a pseudo-terminal pair, its output read line by line.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "modem_sim.h"
#include "pty_pair.h"
#include "server_process.h"
#include "temp_dir.h"
#include "termsim.h"

namespace {

using testing_support::exchange;
using testing_support::kStartMs;
using testing_support::kStepMs;
using testing_support::ModemSim;
using testing_support::PtyPair;
using testing_support::ServerProcess;
using testing_support::settings_text;
using testing_support::TempDir;

using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Index of each part in the output, each searched after the one before;
// fails the test at the first part missing.
void expect_in_order(const ServerProcess& server, const std::vector<std::string>& parts) {
    size_t from = 0;
    for (const std::string& part : parts) {
        int at = server.find_line(part, from);
        ASSERT_GE(at, 0) << "missing, or out of order: \"" << part << "\"\n" << server.transcript();
        from = static_cast<size_t>(at) + 1;
    }
}

class ConsoleServer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(access(testing_support::quaylink_program().c_str(), X_OK), 0)
            << "no program at " << testing_support::quaylink_program();
        work = dir.path() + "/work";
        ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    }

    // A settings file with the working directory and a fresh log in the
    // test's folder, plus the given lines.
    std::string write_settings(std::vector<std::string> setup,
                               const std::vector<std::string>& ports = {},
                               const std::string& more_sections = "") {
        setup.push_back("workdir=" + work);
        setup.push_back("logfile=CREATE");
        setup.push_back("logdir=" + dir.path());
        return dir.write("quaylink.ini", settings_text(setup, ports) + more_sections);
    }

    // Ends a server that stays up by itself: SIGTERM acts like EXIT.
    void terminate_and_expect_clean_end(ServerProcess& server) {
        server.signal(SIGTERM);
        EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
    }

    TempDir dir;
    std::string work;
};

// ---------------------------------------------------------------------------
// Direct line: served once, the program ends after LINESTOP.

TEST_F(ConsoleServer, DirectLineIsServedOnceAndTheProgramEndsAfterLinestop) {
    PtyPair line;
    ASSERT_TRUE(line.ok());
    std::string ini =
        write_settings({"commport=" + line.slave_path(), "connect=direct", "baudrate=115200",
                        "interchardelay=50", "passive=yes", "ftpdataport=2021"});
    ServerProcess server(ini, 1);
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();

    // The line parameters, the thread's start and the start-up log lines,
    // in this order, before the line is served.
    expect_in_order(
        server, {"PORT:  " + line.slave_path(), "BAUD:  115200", "CONNECT:  Direct",
                 "Starting Communications", "DIR Path: " + work, "CFG File: " + ini,
                 "LOG File: " + dir.path() + "/quaylink.log", "COMMPORT = ", "BAUD = 115200",
                 "INTER CHAR DELAY = 50", "DIRECT CONNECT", "FTP PASSIVE MODE ON",
                 "FIXED FTP CLIENT DATA PORT: 2021", "VERBOSE MODE", "READY..", "STATUS: READY"});
    EXPECT_LT(server.find_line("MODEM"), 0) << server.transcript();
    EXPECT_LT(server.find_line("databin"), 0) << "only modem lines get a databin folder";

    // The line works: a command, then LINESTOP.
    termsim::Reply bid = exchange(line, "LINEBID");
    EXPECT_TRUE(bid.present && bid.checksum_ok) << termsim::describe(bid);
    EXPECT_EQ(bid.status, '0') << termsim::describe(bid);
    exchange(line, "LINESTOP");

    // A direct line is served once: the thread ends and posts the exit
    // command, and the program ends by itself.
    EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
    int ready = server.find_line("STATUS: READY");
    expect_in_order(server,
                    {"STATUS: READY", "STATUS: OFFLINE", "Communication thread Ending", "OFFLINE"});
    EXPECT_LT(server.find_line("Waiting For Virtual USB", static_cast<size_t>(ready)), 0);

    // The activity log got the same lines.
    std::string log = dir.read("quaylink.log");
    EXPECT_NE(log.find("DIRECT CONNECT"), std::string::npos) << log;
    EXPECT_NE(log.find("Communication thread Ending"), std::string::npos) << log;
}

TEST_F(ConsoleServer, SigtermWhileServingEndsTheProgram) {
    PtyPair line;
    ASSERT_TRUE(line.ok());
    std::string ini = write_settings({"commport=" + line.slave_path(), "connect=direct"});
    ServerProcess server(ini, 10);
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
    expect_in_order(server, {"STATUS: READY", "Quaylink Ending[C]..", "STATUS: OFFLINE",
                             "Communication thread Ending"});
}

// ---------------------------------------------------------------------------
// A line that goes away, and stop requests while the line is idle.

// CPU time (user + system) the process has used so far, in milliseconds;
// -1 when it cannot be read.
long long cpu_ms(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');  // the name may hold blanks
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = -1, stime = -1;
    // Fields from the state (3rd) on; utime and stime are the 14th and 15th.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoll(field);
        if (i == 15) stime = std::stoll(field);
    }
    if (utime < 0 || stime < 0) return -1;
    return (utime + stime) * 1000 / sysconf(_SC_CLK_TCK);
}

// Share of one core the process used over ms milliseconds, in per cent.
double cpu_share(int pid, int ms) {
    long long before = cpu_ms(pid);
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    long long used = cpu_ms(pid) - before;
    return 100.0 * static_cast<double>(used) / static_cast<double>(ms_since(start));
}

// Serves one command, pulls the cable (closes the pty's master) and checks
// that the server then sits quietly, still up, until SIGTERM ends it.
void expect_quiet_after_the_line_goes(ServerProcess& server, PtyPair& line) {
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();
    termsim::Reply bid = exchange(line, "LINEBID");
    EXPECT_EQ(bid.status, '0') << termsim::describe(bid);
    line.close_master();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // A spinning loop takes what the scheduler gives it (a whole core when
    // the machine is free, a fifth of one on a busy one); a waiting one a
    // few milliseconds in three seconds, however busy the machine is.
    double share = cpu_share(server.pid(), 3000);
    std::printf("CPU with the line gone: %.2f %% of a core\n", share);
    EXPECT_LT(share, 5.0) << "per cent of a core with the line gone\n" << server.transcript();
    EXPECT_TRUE(server.running()) << server.transcript();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
}

TEST_F(ConsoleServer, DirectLineThatGoesAwayIsWaitedOnWithoutSpinning) {
    for (const char* mode : {"altreadport=no", "altreadport=yes"}) {
        SCOPED_TRACE(mode);
        PtyPair line;
        ASSERT_TRUE(line.ok());
        std::string ini = write_settings(
            {"commport=" + line.slave_path(), "connect=direct", "interchardelay=50", mode});
        ServerProcess server(ini, 1);
        ASSERT_TRUE(server.started());
        expect_quiet_after_the_line_goes(server, line);
    }
}

TEST_F(ConsoleServer, UsbDeviceThatGoesAwayIsWaitedForAgainWithoutSpinning) {
    PtyPair line;
    ASSERT_TRUE(line.ok());
    std::string device = dir.file("ttyUSB0");
    ASSERT_EQ(symlink(line.slave_path().c_str(), device.c_str()), 0);
    std::string ini = write_settings({"commport=" + device, "connect=usb", "interchardelay=50"});
    ServerProcess server(ini, 1);
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();
    int ready = server.find_line("STATUS: READY");
    termsim::Reply bid = exchange(line, "LINEBID");
    EXPECT_EQ(bid.status, '0') << termsim::describe(bid);

    // Unplugged: the link now leads nowhere, and the open handle hangs up.
    line.close_master();
    ASSERT_GE(server.wait_for_line("STATUS: WAIT USB", kStepMs, static_cast<size_t>(ready)), 0)
        << server.transcript();
    expect_in_order(server, {"STATUS: READY", "USB DEVICE LOST", "Waiting For Virtual USB",
                             "STATUS: WAIT USB"});
    double share = cpu_share(server.pid(), 3000);
    std::printf("CPU while waiting for the device again: %.2f %% of a core\n", share);
    EXPECT_LT(share, 5.0) << server.transcript();

    // Plugged in again (a new line behind the same name): served again.
    PtyPair again;
    ASSERT_TRUE(again.ok());
    ASSERT_EQ(unlink(device.c_str()), 0);
    ASSERT_EQ(symlink(again.slave_path().c_str(), device.c_str()), 0);
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs, static_cast<size_t>(ready) + 1), 0)
        << server.transcript();
    EXPECT_EQ(exchange(again, "LINEBID").status, '0');
    terminate_and_expect_clean_end(server);
}

TEST_F(ConsoleServer, SigtermWhileTheLineIsIdleEndsWithoutWaitingForTheRead) {
    for (const char* mode : {"altreadport=no", "altreadport=yes"}) {
        SCOPED_TRACE(mode);
        PtyPair line;
        ASSERT_TRUE(line.ok());
        std::string ini = write_settings({"commport=" + line.slave_path(), "connect=direct", mode});
        ServerProcess server(ini, 1);  // real time: a read between frames lasts 5 s
        ASSERT_TRUE(server.started());
        ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();
        // Just answered, so the next read has its whole 5 s ahead of it.
        EXPECT_EQ(exchange(line, "LINEBID").status, '0');
        auto asked = Clock::now();
        server.signal(SIGTERM);
        EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
        long long took = ms_since(asked);
        std::printf("%s: SIGTERM to the end of the program: %lld ms\n", mode, took);
        EXPECT_LT(took, 2500) << server.transcript();
    }
}

// ---------------------------------------------------------------------------
// USB virtual COM port: waits for the device, serves it, waits again.

TEST_F(ConsoleServer, UsbWithoutDeviceWaitsUntilSigintThenEnds) {
    std::string device = dir.file("ttyUSB-missing");
    std::string ini = write_settings({"commport=" + device, "connect=usb"});
    ServerProcess server(ini, 10);  // polls every 100 ms
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: WAIT USB", kStartMs), 0) << server.transcript();
    expect_in_order(server, {"CONNECT:  USB", "USB CONNECT", "VERBOSE MODE",
                             "Waiting For Virtual USB", "STATUS: WAIT USB"});

    // Many polls later it still waits, and has not given up on the port.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_TRUE(server.running()) << server.transcript();
    EXPECT_LT(server.find_line("COMM OPEN"), 0) << server.transcript();
    EXPECT_LT(server.find_line("STATUS: READY"), 0) << server.transcript();

    server.signal(SIGINT);
    EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
    expect_in_order(server, {"STATUS: WAIT USB", "STATUS: OFFLINE", "Communication thread Ending"});
    EXPECT_LT(server.find_line("STATUS: READY"), 0) << server.transcript();
}

TEST_F(ConsoleServer, UsbDeviceAppearingIsServedAndAfterLinestopWaitedForAgain) {
    PtyPair line;
    ASSERT_TRUE(line.ok());
    std::string device = dir.file("ttyUSB0");
    std::string ini = write_settings({"commport=" + device, "connect=usb", "baudrate=115200"});
    // Real time: the 3000 ms pause after LINESTOP is looked at below.
    ServerProcess server(ini, 1);
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: WAIT USB", kStartMs), 0) << server.transcript();

    // The device appears: a link to the pty's slave side.
    ASSERT_EQ(symlink(line.slave_path().c_str(), device.c_str()), 0);
    int ready = server.wait_for_line("STATUS: READY", kStartMs);
    ASSERT_GE(ready, 0) << server.transcript();
    termsim::Reply bid = exchange(line, "LINEBID");
    EXPECT_EQ(bid.status, '0') << termsim::describe(bid);

    // The device goes away and the terminal ends the session.
    ASSERT_EQ(unlink(device.c_str()), 0);
    auto stopped = Clock::now();
    exchange(line, "LINESTOP");
    int waiting = server.wait_for_line("STATUS: WAIT USB", kStartMs, static_cast<size_t>(ready));
    long long paused = ms_since(stopped);
    ASSERT_GE(waiting, 0) << server.transcript();
    // 3000 ms pass before the wait for the port starts again (1 s of
    // slack for a slow reader of the reply).
    EXPECT_GE(paused, 2000) << server.transcript();
    // Still the same thread: it did not end in between.
    EXPECT_LT(server.find_line("Communication thread Ending"), 0) << server.transcript();
    EXPECT_LT(server.find_line("Starting Communications", static_cast<size_t>(ready)), 0);
    EXPECT_TRUE(server.running());

    // The device comes back and is served again.
    ASSERT_EQ(symlink(line.slave_path().c_str(), device.c_str()), 0);
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs, static_cast<size_t>(waiting)), 0)
        << server.transcript();
    termsim::Reply again = exchange(line, "LINEBID");
    EXPECT_EQ(again.status, '0') << termsim::describe(again);

    server.signal(SIGINT);
    EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
    expect_in_order(server,
                    {"Quaylink Ending[C]..", "STATUS: OFFLINE", "Communication thread Ending"});
}

// ---------------------------------------------------------------------------
// Modem: a modem that never says OK.

TEST_F(ConsoleServer, ModemThatNeverAnswersGivesUpAfterThreeAttemptsAndStaysUp) {
    PtyPair line;
    ASSERT_TRUE(line.ok());
    ModemSim modem(line);
    modem.set_silent(true);
    std::string ini = write_settings({"commport=" + line.slave_path(), "connect=modem"}, {},
                                     "[modem init]\r\ninit1=ATZ\r\n");
    ServerProcess server(ini, 10);  // 1 s per silent answer instead of 10 s
    ASSERT_TRUE(server.started());
    int failed = server.wait_for_line("MESSAGE [WM_MODEM] MODEM INIT FAILED", 120000);
    ASSERT_GE(failed, 0) << server.transcript();

    expect_in_order(
        server, {"CONNECT: Modem", "Creating Dir " + work + "/databin", "Starting Communications",
                 "MODEM DEVICE", "MODEM INIT 1:ATZ", "VERBOSE MODE", "MODEM INIT FAILED",
                 "MESSAGE [WM_MODEM] MODEM INIT FAILED"});
    struct stat info {};
    EXPECT_EQ(stat((work + "/databin").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));

    // Three attempts, each starting with the first init string.
    std::vector<std::string> commands = modem.commands();
    int attempts = 0;
    for (const std::string& c : commands) attempts += c.rfind("ATZ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(attempts, 3) << "commands received: " << commands.size();
    EXPECT_LT(server.find_line("STATUS: READY"), 0);

    // The thread ends without the exit command: the program stays up.
    ASSERT_GE(
        server.wait_for_line("Communication thread Ending", kStepMs, static_cast<size_t>(failed)),
        0)
        << server.transcript();
    EXPECT_EQ(server.wait_exit(1000), -1) << server.transcript();
    terminate_and_expect_clean_end(server);
}

// A stop while the modem dialogue waits for an answer, and while the server
// waits for the terminal's ACK after a RECV reply: each wait used to run
// its course (10 s, 5 s) first. Real time in both.
TEST_F(ConsoleServer, SigtermEndsTheModemDialogueAndTheAckWaitWithinASecond) {
    {
        SCOPED_TRACE("modem answer");
        PtyPair line;
        ASSERT_TRUE(line.ok());
        ModemSim modem(line);
        modem.set_silent(true);
        std::string ini = write_settings({"commport=" + line.slave_path(), "connect=modem"});
        ServerProcess server(ini, 1);
        ASSERT_TRUE(server.started());
        ASSERT_TRUE(modem.wait_for_command("AT&F", kStartMs)) << server.transcript();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // in the answer wait
        auto asked = Clock::now();
        server.signal(SIGTERM);
        EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
        long long took = ms_since(asked);
        std::printf("SIGTERM in the modem dialogue to the end of the program: %lld ms\n", took);
        EXPECT_LT(took, 2500) << server.transcript();
        EXPECT_LT(server.find_line("MODEM INIT FAILED"), 0) << server.transcript();
    }
    {
        SCOPED_TRACE("ACK wait");
        PtyPair line;
        ASSERT_TRUE(line.ok());
        dir.write("work/A.TXT", "abc");
        std::string ini = write_settings({"commport=" + line.slave_path(), "connect=direct"});
        ServerProcess server(ini, 1);
        ASSERT_TRUE(server.started());
        ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();
        EXPECT_EQ(exchange(line, "RECV,A.TXT").status, '0');  // no ACK follows
        auto asked = Clock::now();
        server.signal(SIGTERM);
        EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
        long long took = ms_since(asked);
        std::printf("SIGTERM in the ACK wait to the end of the program: %lld ms\n", took);
        EXPECT_LT(took, 2500) << server.transcript();
    }
}

// interchardelay=0 made every frame wait out the whole 5 s read time-out.
TEST_F(ConsoleServer, ZeroInterCharacterDelayIsIgnoredAndCommandsAnswerPromptly) {
    PtyPair line;
    ASSERT_TRUE(line.ok());
    std::string ini = write_settings(
        {"commport=" + line.slave_path(), "connect=direct", "interchardelay=0", "baudrate=x"});
    ServerProcess server(ini, 1);
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();
    expect_in_order(server, {"Baud rate x ignored: must be at least 1",
                             "Inter-character delay 0 ignored: must be at least 1 ms",
                             "BAUD = 57600", "INTER CHAR DELAY = 125"});
    auto asked = Clock::now();
    EXPECT_EQ(exchange(line, "LINEBID").status, '0');
    EXPECT_LT(ms_since(asked), 3000) << server.transcript();
    terminate_and_expect_clean_end(server);
}

// ---------------------------------------------------------------------------
// A port that cannot be opened.

// The failure says why and what to do; without --exit-on-failure the port
// is tried again every 30 s (here 1.5 s), quietly, and served once the
// device is there: a cradle plugged in later.
TEST_F(ConsoleServer, WrongPortIsExplainedAndTriedAgainUntilItOpens) {
    const std::string device = dir.file("no-such-device");
    std::string ini = write_settings({"commport=7", "connect=direct"}, {"com7=" + device});
    ServerProcess server(ini, 20);
    ASSERT_TRUE(server.started());
    int failed = server.wait_for_line("MESSAGE [COMM OPEN]", kStartMs);
    ASSERT_GE(failed, 0) << server.transcript();
    EXPECT_EQ(server.lines()[static_cast<size_t>(failed)],
              "MESSAGE [COMM OPEN] COMM OPEN FAILED / PORT=7 / " + device +
                  ": no such device; is the cradle plugged in?");
    ASSERT_GE(server.wait_for_line("trying again every 30 s", kStepMs), 0) << server.transcript();
    expect_in_order(server, {"PORT:  COM7", "COMMPORT = 7", "DIRECT CONNECT",
                             "Comm CreateFile Error: 2 (" + device + ": no such device",
                             "MESSAGE [COMM OPEN]", "STATUS: OFFLINE", "trying again"});

    // About four retries: one line a minute (3 s here) at most, no new start.
    std::this_thread::sleep_for(std::chrono::milliseconds(6500));
    int retries = 0;
    for (const std::string& line : server.lines()) {
        retries += line.find("Retrying PORT=7") != std::string::npos ? 1 : 0;
        EXPECT_EQ(line.find("BUTTON:"), std::string::npos) << line;
    }
    EXPECT_GE(retries, 1) << server.transcript();
    EXPECT_LE(retries, 3) << server.transcript();
    EXPECT_EQ(server.find_line("MESSAGE [COMM OPEN]", static_cast<size_t>(failed) + 1), -1)
        << server.transcript();

    // The cradle is plugged in: the device appears and is served.
    PtyPair line;
    ASSERT_TRUE(line.ok());
    ASSERT_EQ(symlink(line.slave_path().c_str(), device.c_str()), 0);
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();
    EXPECT_EQ(exchange(line, "LINEBID").status, '0');
    terminate_and_expect_clean_end(server);
}

// The working folder and the log folder are checked at the start, and a
// missing one is named with what to do, before any terminal fails on it.
TEST_F(ConsoleServer, MissingWorkingAndLogFoldersAreSaidAtTheStart) {
    PtyPair line;
    ASSERT_TRUE(line.ok());
    const std::string missing_work = dir.path() + "/no-work";
    const std::string missing_log = dir.path() + "/no-log";
    std::string ini = dir.write(
        "quaylink.ini",
        settings_text({"commport=" + line.slave_path(), "connect=direct", "workdir=" + missing_work,
                       "logfile=CREATE", "logdir=" + missing_log}));
    ServerProcess server(ini, 10);
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();
    expect_in_order(server, {"Working folder " + missing_work +
                                 " does not exist: create it or change workdir in Settings",
                             "Log folder " + missing_log +
                                 " does not exist: create it or change logdir in Settings",
                             "STATUS: READY"});
    terminate_and_expect_clean_end(server);
}

// Under a service manager the program must end instead of sitting there
// without a line, so that it is started again.
TEST_F(ConsoleServer, WrongPortWithExitOnFailureEndsWithStatusOne) {
    std::string ini =
        write_settings({"commport=7", "connect=direct"}, {"com7=" + dir.file("no-such-device")});
    ServerProcess server(ini, 1, {"--exit-on-failure"});
    ASSERT_TRUE(server.started());
    EXPECT_EQ(server.wait_exit(kStartMs), 1) << server.transcript();
    expect_in_order(server, {"MESSAGE [COMM OPEN]", "STATUS: OFFLINE", "exit status 1"});
}

// A served session still ends with status 0 under the same option.
TEST_F(ConsoleServer, ExitOnFailureKeepsStatusZeroAfterASession) {
    PtyPair line;
    ASSERT_TRUE(line.ok());
    std::string ini = write_settings({"commport=" + line.slave_path(), "connect=direct"});
    ServerProcess server(ini, 10, {"--exit-on-failure"});
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("STATUS: READY", kStartMs), 0) << server.transcript();
    EXPECT_EQ(exchange(line, "LINEBID").status, '0');
    exchange(line, "LINESTOP");
    EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();
    EXPECT_LT(server.find_line("exit status 1"), 0) << server.transcript();
}

// ---------------------------------------------------------------------------
// Start-up without a settings file, and the options.

TEST_F(ConsoleServer, WithoutSettingsFileWritesTheDefaultsAndStarts) {
    std::string ini = dir.file("fresh.ini");
    ServerProcess server(ini, 20);
    ASSERT_TRUE(server.started());
    ASSERT_GE(server.wait_for_line("Starting Communications", kStartMs), 0) << server.transcript();
    expect_in_order(server, {"Running Quaylink V2.28", "Creating Config File " + ini, "written",
                             "STATUS: OFFLINE", "Starting Communications"});
    std::string text = testing_support::read_whole_file(ini);
    EXPECT_NE(text.find("commport="), std::string::npos) << text;
    EXPECT_NE(text.find("baudrate=57600"), std::string::npos) << text;
    EXPECT_NE(text.find("interchardelay=125"), std::string::npos) << text;
    EXPECT_NE(text.find("connect=irda"), std::string::npos) << text;
    terminate_and_expect_clean_end(server);
}

TEST_F(ConsoleServer, HelpListsTheOptionsAndStartsNothing) {
    ServerProcess server(dir.file("unused.ini"), 1, {"--help"});
    ASSERT_TRUE(server.started());
    EXPECT_EQ(server.wait_exit(kStartMs), 0);
    server.wait_for_line("\x01", 2000);  // until the output is complete
    std::string all = server.transcript();
    for (const char* option : {"-I", "-Z", "--console", "--exit-on-failure", "--version"})
        EXPECT_NE(all.find(option), std::string::npos) << option << "\n" << all;
    EXPECT_EQ(all.find("Running Quaylink"), std::string::npos) << all;
    EXPECT_EQ(access(dir.file("unused.ini").c_str(), F_OK), -1);
}

TEST_F(ConsoleServer, VersionShowsTheSuiteAndTheProgramAndStartsNothing) {
    ServerProcess server(dir.file("unused.ini"), 1, {"--version"});
    ASSERT_TRUE(server.started());
    EXPECT_EQ(server.wait_exit(kStartMs), 0);
    server.wait_for_line("\x01", 2000);
    std::vector<std::string> lines = server.lines();
    ASSERT_EQ(lines.size(), 2u) << server.transcript();
    EXPECT_EQ(lines[0], "quaylink (quaylink suite) 2.28");
    EXPECT_EQ(lines[1], "Quaylink V2.28");
    EXPECT_EQ(access(dir.file("unused.ini").c_str(), F_OK), -1);
}

// The service options exist for Windows; here each says so, points to the
// systemd unit, and starts no server. A missing line name is a usage error.
TEST_F(ConsoleServer, ServiceOptionsSayTheyAreForWindowsAndStartNothing) {
    for (const char* option : {"--install-service", "--remove-service", "--service"}) {
        ServerProcess server(dir.file("unused.ini"), 1, {option, "cradle1"});
        ASSERT_TRUE(server.started());
        EXPECT_EQ(server.wait_exit(kStartMs), 1) << option;
        server.wait_for_line("\x01", 2000);
        std::string all = server.transcript();
        EXPECT_NE(all.find("Windows feature"), std::string::npos) << option << "\n" << all;
        EXPECT_NE(all.find("quaylink@NAME"), std::string::npos) << option << "\n" << all;
        EXPECT_EQ(all.find("Running Quaylink"), std::string::npos) << option << "\n" << all;
    }
    ServerProcess missing(dir.file("unused.ini"), 1, {"--install-service"});
    ASSERT_TRUE(missing.started());
    EXPECT_EQ(missing.wait_exit(kStartMs), 2);
    missing.wait_for_line("\x01", 2000);
    EXPECT_NE(missing.transcript().find("--install-service needs a value"), std::string::npos)
        << missing.transcript();
    EXPECT_EQ(access(dir.file("unused.ini").c_str(), F_OK), -1);
}

}  // namespace
