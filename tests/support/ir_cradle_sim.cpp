// Infrared cradle simulator for tests.
#include "ir_cradle_sim.h"

namespace testing_support {

namespace {

int digit_rate(char digit) {
    switch (digit) {
        case '2':
            return 9600;
        case '3':
            return 19200;
        case '4':
            return 38400;
        case '5':
            return 57600;
        case '6':
            return 115200;
        default:
            return 0;
    }
}

}  // namespace

IrCradleSim::IrCradleSim(PtyPair& line, int rate) : line_(line), rate_(rate) {
    thread_ = std::thread([this] { run(); });
}

IrCradleSim::~IrCradleSim() {
    stop_ = true;
    thread_.join();
}

std::vector<IrCradleSim::Byte> IrCradleSim::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::string IrCradleSim::after_echo() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return after_echo_;
}

int IrCradleSim::echoes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return echoes_;
}

int IrCradleSim::rate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rate_;
}

void IrCradleSim::run() {
    while (!stop_) {
        std::string bytes = line_.read(256, 10);
        if (bytes.empty()) continue;
        // Read the rate right away: the code under test keeps it until the
        // cradle has answered or its read has timed out.
        int baud = line_.slave_baud();
        for (char byte : bytes) handle(byte, baud);
    }
}

void IrCradleSim::handle(char byte, int baud) {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.push_back(Byte{byte, baud});
    if (byte == 0x0F && rate_ != 0 && baud == rate_) {
        ++echoes_;
        after_echo_.clear();
        line_.write(&byte, 1);
        return;
    }
    if (echoes_ == 0) return;
    after_echo_ += byte;
    if (byte == 'Q' && pending_digit_ != 0) {
        if (int rate = digit_rate(pending_digit_)) rate_ = rate;
        pending_digit_ = 0;
    } else if (byte != 0x07 && byte != 'Q') {
        pending_digit_ = byte;
    }
}

}  // namespace testing_support
