// The communication thread on a modem line, in this process: the modem
// simulator's lines are not visible through a pty to another process, so the
// call loop is driven here with the simulator as the line status source.
#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/log.h"
#include "foundation/operator_view.h"
#include "foundation/server_state.h"
#include "foundation/settings.h"
#include "modem_sim.h"
#include "pty_pair.h"
#include "recording_view.h"
#include "serial/modem.h"
#include "serial/port.h"
#include "temp_dir.h"
#include "terminal/communication.h"
#include "termsim.h"

namespace {

using testing_support::ModemSim;
using testing_support::PtyPair;
using testing_support::RecordingView;
using testing_support::TempDir;

bool eventually(const std::function<bool()>& condition, int timeout_ms = 30000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

int count_prefix(const std::vector<std::string>& commands, const std::string& prefix) {
    int n = 0;
    for (const std::string& c : commands) n += c.find(prefix) != std::string::npos ? 1 : 0;
    return n;
}

// Positions of the commands containing any of the given words, as one
// word per command: "INIT" for the first init string, "HANGUP" for ATH0.
std::vector<std::string> init_and_hangups(const std::vector<std::string>& commands) {
    std::vector<std::string> out;
    for (const std::string& c : commands) {
        if (c.find("AT&F") != std::string::npos) out.push_back("INIT");
        if (c.find("ATH0") != std::string::npos) out.push_back("HANGUP");
    }
    return out;
}

class ModemCalls : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(line.ok());
        ql::settings_reset_defaults();
        ql::log_reset();
        ql::server_state_reset();
        ql::port_reset_state();
        ql::modem_reset_state();
        ql::serial_set_time_divisor(10);
        ql::set_modem_status_source([this] { return modem.lines(); });
    }
    void TearDown() override {
        ql::server_state().stop_request = true;
        if (worker.joinable()) worker.join();
        ql::set_modem_status_source(nullptr);
        ql::serial_set_time_divisor(1);
        ql::modem_reset_state();
        ql::port_reset_state();
        ql::log_reset();
    }

    void start(const std::string& init2) {
        dir.write("quaylink.ini", "[setup]\r\ncommport=" + line.slave_path() +
                                      "\r\nconnect=modem\r\nworkdir=" + dir.path() +
                                      "/\r\n[modem init]\r\ninit2=" + init2 + "\r\n");
        ql::server_paths_set(dir.path() + "/", "quaylink.ini");
        ql::server_state().worker_running = true;
        worker = std::thread([] { ql::communication_thread(); });
    }

    int status_count(const std::string& text) const {
        int n = 0;
        for (const std::string& t : view.texts(ql::item::kStatusLine)) n += t == text ? 1 : 0;
        return n;
    }

    // One exchange with the server in data mode; the reply's line.
    std::string exchange(const std::string& command) {
        modem.send_data(termsim::command_frame(command));
        return termsim::decode_reply(modem.take_data(20000)).line();
    }

    TempDir dir;
    PtyPair line;
    ModemSim modem{line};
    RecordingView view;
    std::thread worker;
};

TEST_F(ModemCalls, EachCallIsHungUpAndTheModemInitialisedAgainUntilLinestop) {
    start("ATE0V1X4S0=2");
    ASSERT_TRUE(eventually([&] { return status_count("WAITING FOR CALL") == 1; }));

    // First call: served, then the caller hangs up.
    modem.ring(6);
    ASSERT_TRUE(modem.wait_connected(20000));
    ASSERT_TRUE(eventually([&] { return status_count("READY") >= 1; }));
    EXPECT_EQ(exchange("LINEBID")[0], '0');
    modem.drop_carrier();

    // Hung up, initialised again, waiting for the next call.
    ASSERT_TRUE(eventually([&] { return status_count("WAITING FOR CALL") == 2; }))
        << ::testing::PrintToString(modem.commands());
    EXPECT_EQ(init_and_hangups(modem.commands()),
              (std::vector<std::string>{"INIT", "HANGUP", "INIT"}));

    // Second call ends with LINESTOP: hang-up and the end of the thread.
    int ready_before = status_count("READY");
    modem.ring(6);
    ASSERT_TRUE(modem.wait_connected(20000));
    ASSERT_TRUE(eventually([&] { return status_count("READY") > ready_before; }));
    exchange("LINESTOP");
    ASSERT_TRUE(eventually([&] { return !ql::server_state().worker_running.load(); }));
    worker.join();

    EXPECT_EQ(init_and_hangups(modem.commands()),
              (std::vector<std::string>{"INIT", "HANGUP", "INIT", "HANGUP"}));
    EXPECT_EQ(view.commands(), std::vector<int>{ql::command::kExit});
    EXPECT_EQ(view.text(ql::item::kStatusLine), "OFFLINE");
    EXPECT_TRUE(view.has_line("MODEM DEVICE"));
    EXPECT_TRUE(view.has_line("Creating Dir " + dir.path() + "/databin"));
}

TEST_F(ModemCalls, StopWhileTheModemFailsToInitialiseEndsWithoutFurtherAttempts) {
    modem.set_silent(true);
    start("ATE0V1S0=0");
    ASSERT_TRUE(eventually([&] { return count_prefix(modem.commands(), "AT&F") == 1; }));
    ql::server_state().no_exit = true;
    ql::server_state().stop_request = true;
    ASSERT_TRUE(eventually([&] { return !ql::server_state().worker_running.load(); }));
    worker.join();
    EXPECT_EQ(count_prefix(modem.commands(), "AT&F"), 1);
    EXPECT_FALSE(view.has_line("MODEM INIT FAILED"));
    EXPECT_TRUE(view.boxes().empty());
}

TEST_F(ModemCalls, ARingNeverAnsweredInitialisesAgainWithoutHangingUpAndStopEndsTheThread) {
    start("ATE0V1S0=0");  // the modem does not answer by itself
    ASSERT_TRUE(eventually([&] { return status_count("WAITING FOR CALL") == 1; }));
    modem.ring(3);
    ASSERT_TRUE(eventually([&] { return status_count("WAITING FOR CALL") == 2; }))
        << ::testing::PrintToString(modem.commands());
    EXPECT_FALSE(modem.connected());
    EXPECT_EQ(init_and_hangups(modem.commands()), (std::vector<std::string>{"INIT", "INIT"}));

    // STOP: the call wait ends, the modem is hung up, no exit command.
    ql::server_state().no_exit = true;
    ql::server_state().stop_request = true;
    ASSERT_TRUE(eventually([&] { return !ql::server_state().worker_running.load(); }));
    worker.join();
    // A stop does not wait for the modem's answer to ATH0: the simulator
    // may take the line in after the thread has ended.
    EXPECT_TRUE(eventually([&] {
        return init_and_hangups(modem.commands()) ==
               std::vector<std::string>{"INIT", "INIT", "HANGUP"};
    })) << ::testing::PrintToString(modem.commands());
    EXPECT_TRUE(view.commands().empty());
    EXPECT_FALSE(ql::server_state().no_exit.load()) << "the thread clears the no-exit flag";
    EXPECT_EQ(count_prefix(modem.commands(), "ATA"), 0);
}

}  // namespace
