// Hayes modem simulator for tests.
#include "modem_sim.h"

#include <cctype>
#include <chrono>

#include "platform/clock.h"
#include "platform/serial.h"

namespace testing_support {

namespace {

enum Result { kOk = 0, kConnect = 1, kRing = 2, kNoCarrier = 3, kError = 4 };

long long now_ms() {
    return static_cast<long long>(platform::monotonic_ms64());
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Reads the decimal number at text[i], moving i past it; 0 without digits.
int number_at(const std::string& text, size_t& i) {
    int value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        value = value * 10 + (text[i++] - '0');
    return value;
}

}  // namespace

ModemSim::ModemSim(PtyPair& line) : line_(line) {
    thread_ = std::thread([this] { run(); });
}

ModemSim::~ModemSim() {
    stop_ = true;
    thread_.join();
}

void ModemSim::set_echo(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    echo_ = on;
}

void ModemSim::set_verbose(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    verbose_ = on;
}

void ModemSim::set_silent(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    silent_ = on;
}

void ModemSim::reject(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex_);
    rejected_.push_back(upper(prefix));
}

void ModemSim::set_auto_answer(int rings) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto_answer_ = rings;
}

void ModemSim::ring(int max_rings, int ring_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    rings_left_ = max_rings;
    rings_done_ = 0;
    ring_ms_ = ring_ms;
    next_ring_ = now_ms();
}

void ModemSim::drop_carrier() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected_) return;
    connected_ = online_ = false;
    result(kNoCarrier, "NO CARRIER");
    changed_.notify_all();
}

unsigned ModemSim::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    unsigned lines = platform::kLineCts | platform::kLineDsr;
    if (rings_left_ > 0) lines |= platform::kLineRing;
    if (connected_) lines |= platform::kLineCarrier;
    return lines;
}

bool ModemSim::connected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connected_;
}

std::vector<std::string> ModemSim::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

bool ModemSim::wait_for_command(const std::string& prefix, int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
        for (const auto& c : commands_)
            if (c.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    });
}

bool ModemSim::wait_connected(int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return connected_; });
}

std::string ModemSim::take_data(int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return !data_.empty(); });
    std::string out;
    out.swap(data_);
    return out;
}

void ModemSim::send_data(const std::string& bytes) {
    line_.write(bytes);
}

void ModemSim::run() {
    while (!stop_) {
        std::string bytes = line_.read(4096, 10);
        std::lock_guard<std::mutex> lock(mutex_);
        if (online_) {
            handle_data(bytes);
        } else {
            for (char c : bytes) handle_command_byte(c);
        }
        tick_ring();
    }
}

void ModemSim::handle_data(const std::string& bytes) {
    if (bytes.empty()) return;
    data_ += bytes;
    // The escape sequence returns to command mode; the call (the carrier)
    // stays up until ATH.
    size_t escape = data_.find("+++");
    if (escape != std::string::npos) {
        std::string rest = data_.substr(escape + 3);
        data_.erase(escape);
        online_ = false;
        result(kOk, "OK");
        for (char c : rest) handle_command_byte(c);
    }
    changed_.notify_all();
}

void ModemSim::handle_command_byte(char c) {
    if (echo_ && !silent_) line_.write(&c, 1);
    if (c == '\n') return;
    if (c != '\r') {
        pending_ += c;
        return;
    }
    std::string line;
    line.swap(pending_);
    if (line.empty()) return;
    commands_.push_back(line);
    changed_.notify_all();
    execute(line);
}

void ModemSim::execute(const std::string& line) {
    std::string command = upper(line);
    if (silent_) return;
    if (command.compare(0, 2, "AT") != 0) {
        result(kError, "ERROR");
        return;
    }
    for (const auto& prefix : rejected_) {
        if (command.compare(0, prefix.size(), prefix) == 0) {
            result(kError, "ERROR");
            return;
        }
    }
    if (command.find('A', 2) == 2 && rings_left_ > 0) {  // ATA: answer the call
        connect_call();
        return;
    }
    if (!apply_settings(command.substr(2))) {
        result(kError, "ERROR");
        return;
    }
    result(kOk, "OK");
}

// Applies the settings of a command line after "AT"; false on nonsense.
bool ModemSim::apply_settings(const std::string& body) {
    size_t i = 0;
    while (i < body.size()) {
        char letter = body[i++];
        if (letter == ' ') continue;
        if (letter == '&') {  // &F and friends: factory settings
            if (i < body.size() && body[i++] == 'F') echo_ = verbose_ = true, auto_answer_ = 0;
            number_at(body, i);
            continue;
        }
        if (letter == 'S') {
            int reg = number_at(body, i);
            if (i >= body.size() || body[i] != '=') return i < body.size() && body[i] == '?';
            ++i;
            int value = number_at(body, i);
            if (reg == 0) auto_answer_ = value;
            continue;
        }
        if (!std::isalpha(static_cast<unsigned char>(letter))) return false;
        int value = number_at(body, i);
        if (letter == 'E') echo_ = value != 0;
        if (letter == 'V') verbose_ = value != 0;
        if (letter == 'Z') echo_ = verbose_ = true, auto_answer_ = 0;
        if (letter == 'H') connected_ = online_ = false, rings_left_ = 0;
        if (letter == 'O' && connected_) online_ = true;
    }
    return true;
}

void ModemSim::result(int code, const std::string& text) {
    if (verbose_)
        line_.write("\r\n" + text + "\r\n");
    else
        line_.write(std::to_string(code) + "\r");
}

void ModemSim::tick_ring() {
    if (rings_left_ <= 0 || connected_ || now_ms() < next_ring_) return;
    result(kRing, "RING");
    ++rings_done_;
    --rings_left_;
    next_ring_ = now_ms() + ring_ms_;
    if (auto_answer_ > 0 && rings_done_ >= auto_answer_) connect_call();
}

void ModemSim::connect_call() {
    rings_left_ = 0;
    connected_ = online_ = true;
    if (verbose_)
        line_.write("\r\nCONNECT 9600\r\n");
    else
        line_.write("1\r");
    changed_.notify_all();
}

}  // namespace testing_support
