// The console server as a separate process: `quaylink --console` started
// from the folder of the built programs with a settings file of the test's
// own, its standard output collected line by line.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "termsim.h"

namespace testing_support {

class ServerProcess {
  public:
    // Starts QL_BIN_DIR/quaylink --console -I<settings_path> plus extra
    // words. time_divisor > 1 shortens every wait of the line
    // (QUAYLINK_TIME_DIVISOR). Check started().
    ServerProcess(const std::string& settings_path, int time_divisor,
                  const std::vector<std::string>& extra_words = {});
    // Kills the process when it still runs.
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool started() const { return pid_ > 0; }
    int pid() const { return pid_; }

    // Waits until some output line contains part (counting from line index
    // from); returns that line's index, or -1 after timeout_ms.
    int wait_for_line(const std::string& part, int timeout_ms, size_t from = 0);
    // Every line printed so far.
    std::vector<std::string> lines() const;
    // Index of the first line from `from` on that contains part, or -1.
    int find_line(const std::string& part, size_t from = 0) const;
    // Everything printed so far, one line per row (for failure messages).
    std::string transcript() const;

    void signal(int signo);
    // Waits up to timeout_ms for the process to end; its exit code, 128 +
    // signal when a signal ended it, or -1 when it still runs.
    int wait_exit(int timeout_ms);
    // True while the process runs.
    bool running();

  private:
    void collect(int fd);

    int pid_ = -1;
    int status_ = -1;
    bool reaped_ = false;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool eof_ = false;
    std::thread reader_;
};

// Generous limits: the machine is shared and the program runs under the
// sanitizers. Start: until the server is ready; step: one reply.
constexpr int kStartMs = 30000;
constexpr int kStepMs = 20000;

// Sends one command frame from the terminal's side of line and returns the
// decoded reply (waiting up to kStepMs for it, and for pieces that follow).
termsim::Reply exchange(PtyPair& line, const std::string& command);

// The quaylink program under test: QL_BIN_DIR/quaylink.
std::string quaylink_program();

// Settings file text in the profile format: [setup] with the given
// "key=value" lines, CR LF line ends.
std::string settings_text(const std::vector<std::string>& setup_lines,
                          const std::vector<std::string>& ports_lines = {});

}  // namespace testing_support
