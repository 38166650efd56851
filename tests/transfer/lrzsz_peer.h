// An lrzsz program (sx or rx) as the far end of a pty line.
//
// lrzsz flushes its terminal after acknowledgements, which on a pty can
// throw away bytes of its peer, so it runs on pipes and a pump thread moves
// the bytes between the pipes and the pty master. The pump can damage the
// stream on the way: corrupt, drop or cut off chosen bytes.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "pty_pair.h"
#include "temp_dir.h"

namespace transfer_test {

// What the pump does with byte number `offset` (from 0) of one direction.
// kAsNak: the byte arrives as NAK (an ACK damaged into a rejection).
enum class Fault { kPass, kCorrupt, kDrop, kAsNak };
using FaultRule = std::function<Fault(size_t offset)>;

class LrzszPeer {
  public:
    // Starts "sh -c 'cd folder && exec command'" with its standard input and
    // output on pipes pumped to pty's master. Check ok().
    LrzszPeer(testing_support::PtyPair& pty, const std::string& folder, const std::string& command);
    ~LrzszPeer();  // stops the pump, ends the program if it still runs

    bool ok() const { return pid_ > 0; }

    // Faults for the bytes towards the program (to_peer) and from it.
    void set_faults(FaultRule to_peer, FaultRule from_peer);

    // Waits up to timeout_ms for the program to end; its exit status, or -1
    // when it was still running (it is then killed).
    int wait_exit(int timeout_ms);

    // What the program wrote to standard error.
    std::string errors() const;

  private:
    void pump();
    void stop_program();

    testing_support::PtyPair& pty_;
    pid_t pid_ = -1;
    int to_child_ = -1;                    // our end of its standard input
    int from_child_ = -1;                  // our end of its standard output
    testing_support::TempDir errors_dir_;  // its standard error, in a folder of its own
    std::string errors_path_;
    std::atomic<bool> stop_{false};
    std::mutex rules_mutex_;
    FaultRule to_peer_, from_peer_;
    std::thread pump_thread_;
    int exit_status_ = -1;
};

}  // namespace transfer_test
