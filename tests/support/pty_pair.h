// A pseudo-terminal pair for serial tests: the code under test opens the
// slave path like any serial device; the test drives the master side.
#pragma once

#include <cstddef>
#include <string>

namespace testing_support {

class PtyPair {
  public:
    // Opens a pair with the slave in raw mode. Check ok().
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }

    // The device path the code under test opens ("/dev/pts/N").
    const std::string& slave_path() const { return slave_path_; }

    // The master's file descriptor (non-blocking), for simulators.
    int master_fd() const { return master_; }

    // Writes all bytes to the master: the slave side reads them.
    bool write(const std::string& bytes);
    bool write(const void* data, size_t count);

    // Waits up to timeout_ms for data from the slave side, then returns
    // what is there (at most max bytes); empty on timeout.
    std::string read(size_t max, int timeout_ms);

    // Reads until count bytes arrived or timeout_ms passed in all.
    std::string read_exactly(size_t count, int timeout_ms);

    // Reads until the data read contains needle or timeout_ms passed in
    // all; returns everything read.
    std::string read_until(const std::string& needle, int timeout_ms);

    // Throws away whatever the slave side has written so far.
    void discard();

    // The baud rate the slave side is set to, as the code under test set it
    // (the kernel shares the slave's settings with the master); -1 on error.
    int slave_baud() const;

    // The helper keeps the slave open itself so that the master never sees
    // a hang-up between the opens of the code under test. release_slave()
    // closes that extra descriptor.
    void release_slave();

    // Closes the master side: a pulled cable or unplugged cradle as the
    // code under test sees it (its reads report a hang-up).
    void close_master();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
};

}  // namespace testing_support
