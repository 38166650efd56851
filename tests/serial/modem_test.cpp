// Modem initialisation, the call wait, hang-up and the trace, against the
// modem simulator (or a scripted peer) on a pty.
#include <atomic>
#include <thread>

#include "modem_sim.h"
#include "serial/modem.h"
#include "serial_fixture.h"

using serial_testing::elapsed;
using serial_testing::SerialTest;
using testing_support::ModemSim;

namespace {

class Modem : public SerialTest {
  protected:
    void SetUp() override {
        SerialTest::SetUp();
        ql::modem_reset_state();
        ql::serial_set_time_divisor(10);
        ql::settings().modem = true;
        ql::settings().workdir = dir.path() + "/";
        port = open_pty(9600);
        ASSERT_NE(port, nullptr);
    }
    void TearDown() override {
        ql::port_close(port);
        ql::modem_reset_state();
        SerialTest::TearDown();
    }
    // Lets modem_status see the simulator's lines.
    void watch(ModemSim& sim) {
        ql::set_modem_status_source([&sim] { return sim.lines(); });
    }

    ql::Port* port = nullptr;
    std::string none[3];
};

TEST_F(Modem, EmptyInitKeysSendTheDefaultsEachAcknowledged) {
    ModemSim sim(pty);
    EXPECT_EQ(ql::modem_init(port, none), 0);
    EXPECT_EQ(sim.commands(), (std::vector<std::string>{"AT&F", "ATE0V1X4S0=2"}));
}

TEST_F(Modem, AnInitStringWithoutCrGetsOne) {
    ModemSim sim(pty);
    std::string init[3] = {"ATZ", "", "ATS7=60\r"};
    EXPECT_EQ(ql::modem_init(port, init), 0);
    EXPECT_EQ(sim.commands(), (std::vector<std::string>{"ATZ", "ATE0V1X4S0=2", "ATS7=60"}));
}

TEST_F(Modem, NumericResultsAreAcknowledgements) {
    ModemSim sim(pty);
    sim.set_echo(false);
    sim.set_verbose(false);
    std::string init[3] = {"ATV0", "ATS0=1", ""};
    EXPECT_EQ(ql::modem_init(port, init), 0);
}

TEST_F(Modem, AnEchoReadAloneIsFollowedByAnotherRead) {
    std::thread peer([this] {
        for (const char* command : {"AT&F\r", "ATE0V1X4S0=2\r"}) {
            std::string got = pty.read_until("\r", 3000);
            pty.write(got);          // the echo first ...
            platform::sleep_ms(80);  // ... well apart from the result
            pty.write(got == command ? "\r\nOK\r\n" : "\r\nERROR\r\n");
        }
    });
    EXPECT_EQ(ql::modem_init(port, none), 0);
    peer.join();
}

TEST_F(Modem, ErrorOrSilenceFailsTheInitialisation) {
    ModemSim sim(pty);
    sim.reject("ATE0");
    EXPECT_EQ(ql::modem_init(port, none), -1);
    EXPECT_EQ(sim.commands().size(), 2u);
    sim.set_silent(true);
    uint64_t start = platform::monotonic_ms64();
    EXPECT_EQ(ql::modem_init(port, none), -1);
    EXPECT_GE(elapsed(start), 1000u);  // the 10 s answer wait, scaled
}

TEST_F(Modem, TraceKeepsOnlyPrintableCharacters) {
    ql::modem_trace("\r\nOK\r\n", 1, ql::kFromModem);
    ql::modem_trace("ATH0\r", 1, ql::kToModem);
    ql::modem_trace(
        "a~b\x7f"
        "c\xe9"
        "d}",
        1, ql::kToModem);
    ql::modem_trace("hidden", 0, ql::kToModem);
    EXPECT_TRUE(view.has_line("FROM MODEM = [OK]"));
    EXPECT_TRUE(view.has_line("TO MODEM =   [ATH0]"));
    EXPECT_TRUE(view.has_line("TO MODEM =   [abcd}]"));
    EXPECT_FALSE(view.has_line("hidden"));
    // A long answer is traced (the log itself cuts its lines).
    ql::modem_trace(std::string(600, 'x'), 1, ql::kFromModem);
    EXPECT_TRUE(view.has_line("FROM MODEM = [" + std::string(100, 'x')));
}

TEST_F(Modem, InitDialogueIsTracedWithTheDebugFlag) {
    ModemSim sim(pty);
    ql::log_state().debug = 1;
    EXPECT_EQ(ql::modem_init(port, none), 0);
    EXPECT_TRUE(view.has_line("TO MODEM =   [AT&F]"));
    EXPECT_TRUE(view.has_line("FROM MODEM = ["));
}

TEST_F(Modem, ACallThatConnectsIsNumbered) {
    ModemSim sim(pty);
    watch(sim);
    ASSERT_EQ(ql::modem_init(port, none), 0);  // S0=2: answers on the second ring
    ql::set_call_number(9);
    sim.ring(6);
    EXPECT_EQ(ql::modem_wait_call(port), 0);
    EXPECT_TRUE(sim.connected());
    EXPECT_EQ(ql::call_number(), 1);
    EXPECT_EQ(view.text(ql::item::kStatusLine), "WAITING FOR CALL");
    // Data now reaches the far end.
    ql::port_write(port, "\x02GETCALLNO", 10);
    EXPECT_EQ(sim.take_data(3000), "\x02GETCALLNO");
    ql::modem_hangup(port);
    EXPECT_TRUE(sim.wait_for_command("ATH0", 3000));
    EXPECT_FALSE(sim.connected());
}

TEST_F(Modem, TheCallerHangingUpIsReportedAsNoCarrier) {
    ModemSim sim(pty);
    watch(sim);
    sim.set_auto_answer(1);
    sim.ring(3);
    ASSERT_EQ(ql::modem_wait_call(port), 0);
    sim.drop_carrier();
    char buffer[513];
    int n = ql::port_read(port, buffer, 512, 10000, ql::kNoBlockHint);
    EXPECT_NE(std::string(buffer, n).find("NO CARRIER"), std::string::npos);
    EXPECT_EQ(ql::modem_status(port, ql::kModemCarrier), 0u);
}

TEST_F(Modem, RingingWithoutConnectGivesUpAfterThePolls) {
    ModemSim sim(pty);
    watch(sim);
    sim.set_echo(false);
    sim.ring(3, 100);  // S0=0: never answers
    uint64_t start = platform::monotonic_ms64();
    EXPECT_EQ(ql::modem_wait_call(port), -1);
    EXPECT_GE(elapsed(start), 120u * 25u);
    EXPECT_EQ(ql::call_number(), 0);
}

TEST_F(Modem, CarrierWithConnectIsTracedEvenWithoutDebug) {
    ql::log_state().debug = 0;
    ql::set_modem_status_source([] { return unsigned(platform::kLineCarrier); });
    pty.write("\r\nCONNECT 19200\r\n");
    EXPECT_EQ(ql::modem_wait_call(port), 0);
    EXPECT_TRUE(view.has_line("FROM MODEM = [CONNECT 19200]"));
    EXPECT_EQ(ql::call_number(), 1);
}

TEST_F(Modem, TheStopRequestEndsTheWait) {
    ModemSim sim(pty);
    watch(sim);
    std::atomic<uint64_t> asked{0};
    std::thread operator_stop([&asked] {
        platform::sleep_ms(100);  // within the first second's pause
        asked = platform::monotonic_ms64();
        ql::server_state().stop_request = true;
    });
    EXPECT_EQ(ql::modem_wait_call(port), ql::kModemStopped);
    uint64_t answered = platform::monotonic_ms64();
    operator_stop.join();
    // Answered at once, not at the end of the pause (900 ms later).
    EXPECT_LT(answered - asked.load(), 700u);
}

TEST_F(Modem, StatusMasksMapToTheLines) {
    ql::set_modem_status_source([] { return unsigned(platform::kLineRing | platform::kLineDsr); });
    EXPECT_EQ(ql::modem_status(port, ql::kModemRing), 0x40u);
    EXPECT_EQ(ql::modem_status(port, ql::kModemDsr), 0x20u);
    EXPECT_EQ(ql::modem_status(port, ql::kModemCarrier), 0u);
    EXPECT_EQ(ql::modem_status(port, ql::kModemCts), 0u);
    EXPECT_EQ(ql::modem_status(port, 0x41), 0u);
    // A pty has no modem lines: nothing set, no error.
    ql::set_modem_status_source(nullptr);
    EXPECT_EQ(ql::modem_status(port, ql::kModemCarrier), 0u);
}

}  // namespace
