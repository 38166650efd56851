// POSIX implementation of platform/signals.h: the signals are blocked and a
// watcher thread takes them with sigwait, so the handler may do anything a
// normal thread may (lock, log, notify).
#include "platform/signals.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace platform {

int on_termination_request(std::function<void()> handler) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    int err = ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (err != 0) return err;
    std::thread([set, handler = std::move(handler)]() {
        for (;;) {
            int sig = 0;
            if (::sigwait(&set, &sig) == 0) handler();
        }
    }).detach();
    return 0;
}

}  // namespace platform
