// An infrared cradle on the master side of a pty pair, for tests.
//
// The cradle echoes 0x0F only when the line runs at its own rate (the rate
// the code under test set on the slave side). After an echo it takes the
// rate command: 0x07, a digit ('2' 9600 ... '6' 115200), 'Q', and then
// runs at the new rate. Every byte received is recorded with the rate it
// came at.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.h"

namespace testing_support {

class IrCradleSim {
  public:
    struct Byte {
        char value;
        int baud;  // the line's rate when it arrived
    };

    // Starts listening on the master of line; rate 0 = a cradle that never
    // answers.
    IrCradleSim(PtyPair& line, int rate);
    ~IrCradleSim();
    IrCradleSim(const IrCradleSim&) = delete;
    IrCradleSim& operator=(const IrCradleSim&) = delete;

    std::vector<Byte> received() const;
    // Bytes received after the last echo the cradle gave.
    std::string after_echo() const;
    int echoes() const;
    // The rate the cradle runs at now.
    int rate() const;

  private:
    void run();
    void handle(char byte, int baud);

    PtyPair& line_;
    mutable std::mutex mutex_;
    std::atomic<bool> stop_{false};
    int rate_;
    int echoes_ = 0;
    char pending_digit_ = 0;
    std::vector<Byte> received_;
    std::string after_echo_;
    std::thread thread_;
};

}  // namespace testing_support
