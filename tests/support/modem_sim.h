// A Hayes-style modem on the master side of a pty pair, for tests.
//
// A thread answers AT commands the way a modem does (echo on or off, text
// or numeric results, OK, ERROR for refused commands, or silence), rings
// and connects on request, and in data mode collects what the server sends
// so that a test can play the terminal at the other end. A pty has no modem
// lines: lines() gives the ones this modem would show, for
// ql::set_modem_status_source.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.h"

namespace testing_support {

class ModemSim {
  public:
    // Starts answering on the master of line (which must outlive this).
    explicit ModemSim(PtyPair& line);
    ~ModemSim();
    ModemSim(const ModemSim&) = delete;
    ModemSim& operator=(const ModemSim&) = delete;

    // Command echo (E1 / E0), text or numeric results (V1 / V0). A modem
    // starts with echo and text results, as after AT&F.
    void set_echo(bool on);
    void set_verbose(bool on);
    // A silent modem reads commands but answers nothing.
    void set_silent(bool on);
    // Command lines that begin with prefix (e.g. "ATZ") are answered ERROR.
    void reject(const std::string& prefix);
    // Rings per call before it answers by itself (register S0; 0 = only on
    // ATA). Init strings with S0=n set it too.
    void set_auto_answer(int rings);

    // An incoming call: rings up to max_rings times, every ring_ms, and
    // answers (CONNECT) after S0 rings or on ATA.
    void ring(int max_rings, int ring_ms = 150);
    // The caller hangs up: NO CARRIER, carrier off.
    void drop_carrier();

    // platform::ModemLines bits this modem shows now.
    unsigned lines() const;
    // True while a call is up (from CONNECT until ATH or the caller hangs up).
    bool connected() const;
    // Command lines received (without the CR), in order.
    std::vector<std::string> commands() const;
    // Waits until a command line beginning with prefix has been received.
    bool wait_for_command(const std::string& prefix, int timeout_ms);
    // Waits until the modem is connected (true) or timeout_ms passes.
    bool wait_connected(int timeout_ms);

    // Data mode: bytes the server sent during the call, taken once; waits up
    // to timeout_ms for the first.
    std::string take_data(int timeout_ms);
    // Sends bytes to the server during a call (the terminal's side).
    void send_data(const std::string& bytes);

  private:
    void run();
    void handle_command_byte(char c);
    void handle_data(const std::string& bytes);
    void execute(const std::string& line);
    bool apply_settings(const std::string& body);
    void result(int code, const std::string& text);
    void tick_ring();
    void connect_call();

    PtyPair& line_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> stop_{false};
    bool echo_ = true, verbose_ = true, silent_ = false;
    bool connected_ = false;  // carrier: a call is up
    bool online_ = false;     // data mode (left with +++, back with ATO)
    int auto_answer_ = 0;
    int rings_left_ = 0, rings_done_ = 0, ring_ms_ = 150;
    long long next_ring_ = 0;
    std::string pending_;
    std::vector<std::string> rejected_, commands_;
    std::string data_;
    std::thread thread_;
};

}  // namespace testing_support
