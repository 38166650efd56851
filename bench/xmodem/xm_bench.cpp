// Benchmark driver for the block transfer.
//
//   xm_bench send DEVICE FILE          xm_send in 1K-CRC mode on DEVICE
//   xm_bench recv DEVICE FILE SIZE     xm_recv with CRC/1K on DEVICE
//   xm_bench relay [-b BAUD] [-w FILE] [-e FILE] A B
//                                      joins two ends until both commands
//                                      ended (or until killed when neither
//                                      end is a command); with -w the
//                                      commands start once FILE exists;
//                                      with -e it writes to FILE, once the
//                                      relay ends, the microseconds from
//                                      A's last byte to B's last byte: with
//                                      the sender at A, how long the
//                                      receiver took to answer the EOT
// An end is "pty:PATH" (a pseudo-terminal whose slave is linked at PATH, for
// our side) or "cmd:COMMAND" (a program on pipes, for lrzsz, which flushes
// its terminal and so must not sit on a pty itself). With -b the relay
// delivers each direction at BAUD with 10 bits a byte, as a serial line
// would. Exit status 0 on success.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "foundation/operator_view.h"
#include "foundation/settings.h"
#include "platform/serial.h"
#include "serial/port.h"
#include "terminal/xmodem.h"

extern char** environ;

namespace {

ql::Port* open_line(const char* device) {
    std::unique_ptr<platform::SerialDevice> dev;
    int rc = platform::serial_open(device, dev);
    if (rc != 0) {
        std::fprintf(stderr, "xm_bench: cannot open %s: %s\n", device, std::strerror(rc));
        return nullptr;
    }
    return ql::port_from_device(std::move(dev));
}

// With XM_BENCH_DEBUG set, the transfer's log lines (debug ones included)
// go to standard error.
class StderrView final : public ql::OperatorView {
  public:
    void set_text(int, const std::string&) override {}
    void set_enabled(int, bool) override {}
    void status_list_append(const std::string& line, bool) override {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    void status_list_clear() override {}
    int message_box(const std::string&, const std::string&, ql::Buttons, ql::Icon) override {
        return ql::answer::kOk;
    }
    void post_command(int) override {}
    int bar_width_chars() override { return 40; }
};

int run_transfer(int argc, char** argv) {
    static StderrView view;
    if (std::getenv("XM_BENCH_DEBUG") != nullptr) {
        ql::set_operator_view(&view);
        ql::xm_set_debug(1);
    }
    ql::crc16_table_init();
    ql::Port* port = open_line(argv[2]);
    if (port == nullptr) return 2;
    int rc;
    if (std::strcmp(argv[1], "send") == 0) {
        rc = ql::xm_send(port, argv[3], 1, 0x00);
    } else {
        long long size = argc > 4 ? std::atoll(argv[4]) : 0;
        rc = ql::xm_recv(port, argv[3], 1, size);
    }
    ql::port_close(port);
    if (rc != 0) std::fprintf(stderr, "xm_bench %s: result %d\n", argv[1], rc);
    return rc == 0 ? 0 : 1;
}

// One end of the relay: where its bytes come from and go to.
struct End {
    int in = -1;   // read this end's bytes here
    int out = -1;  // write bytes for this end here
    pid_t pid = -1;
    std::string link;
};

// One direction of the pump, with the time each byte is delivered.
struct Link {
    int from, to;
    int64_t byte_ns;  // 0 = deliver at once
    std::deque<std::pair<int64_t, char>> queue;
    int64_t line_free_ns = 0;  // when the paced line finishes its last byte
    int64_t last_in_ns = 0;    // when the last byte was read from `from`
    bool open = true;
};

// Set by SIGTERM: the relay ends its pump and still writes its -e figure
// (a relay between two ptys runs until it is killed).
volatile sig_atomic_t g_terminated = 0;

void on_terminate(int) {
    g_terminated = 1;
}

int64_t now_ns() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// A raw pseudo-terminal pair; the slave stays open for the relay's life so
// that the master never sees a hang-up.
bool open_pty(int* master_out, int* slave_out, std::string* name_out) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) return false;
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) return false;
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    *master_out = master;
    *slave_out = slave;
    *name_out = name;
    return true;
}

// Our programs open the slave by its link; the relay uses the master.
bool open_pty_end(const std::string& link, End& end) {
    int master, slave;
    std::string name;
    if (!open_pty(&master, &slave, &name)) return false;
    ::unlink(link.c_str());
    if (::symlink(name.c_str(), link.c_str()) != 0) return false;
    end.in = end.out = master;
    end.link = link;
    return true;
}

// lrzsz flushes its terminal, so it runs on pipes; its bytes still cross a
// pty inside the relay, so that every way pays the same pty hops.
bool open_cmd_end(const std::string& command, End& end, std::vector<Link>& links) {
    int to[2], from[2];
    if (::pipe2(to, O_CLOEXEC) != 0 || ::pipe2(from, O_CLOEXEC) != 0) return false;
    int master, slave;
    std::string name;
    if (!open_pty(&master, &slave, &name)) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from[1], 1);
    const char* args[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    int rc =
        ::posix_spawn(&end.pid, "/bin/sh", &actions, nullptr, const_cast<char**>(args), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(to[0]);
    ::close(from[1]);
    links.push_back({from[0], master, 0});
    links.push_back({master, to[1], 0});
    end.in = end.out = slave;
    return rc == 0;
}

void take_in(Link& l, const char* data, size_t n) {
    int64_t now = now_ns();
    l.last_in_ns = now;
    int64_t t = std::max(now, l.line_free_ns);
    for (size_t i = 0; i < n; ++i) {
        t += l.byte_ns;
        l.queue.emplace_back(l.byte_ns > 0 ? t : now, data[i]);
    }
    l.line_free_ns = t;
}

// A paced line hands bytes over the way a UART with a 16-byte FIFO does:
// when 14 have arrived, or when the oldest has waited four character times.
constexpr size_t kFifoTrigger = 14;
constexpr int64_t kFifoTimeoutChars = 4;

// When the link next has something to hand over: at the 14th byte, or four
// character times after the last byte of a run (the next byte comes later
// than that, or not at all).
int64_t next_delivery(const Link& l) {
    if (l.queue.empty()) return INT64_MAX;
    if (l.byte_ns == 0) return 0;
    size_t n = std::min(l.queue.size(), kFifoTrigger);
    for (size_t i = 0; i + 1 < n; ++i) {
        int64_t quiet = l.queue[i].first + kFifoTimeoutChars * l.byte_ns;
        if (l.queue[i + 1].first > quiet) return quiet;
    }
    if (n == kFifoTrigger) return l.queue[n - 1].first;
    return l.queue[n - 1].first + kFifoTimeoutChars * l.byte_ns;
}

bool deliver_due(Link& l) {
    int64_t now = now_ns();
    if (l.queue.empty() || next_delivery(l) > now) return false;
    std::string out;
    while (!l.queue.empty() && l.queue.front().first <= now) {
        out += l.queue.front().second;
        l.queue.pop_front();
    }
    size_t done = 0;
    while (done < out.size()) {
        ssize_t w = ::write(l.to, out.data() + done, out.size() - done);
        if (w <= 0) break;  // the far end is gone
        done += static_cast<size_t>(w);
    }
    return !out.empty();
}

bool commands_ended(End* ends) {
    bool any_cmd = false;
    for (int i = 0; i < 2; ++i) {
        if (ends[i].pid < 0) continue;
        any_cmd = true;
        int status;
        if (ends[i].pid > 0 && ::waitpid(ends[i].pid, &status, WNOHANG) == ends[i].pid) {
            ends[i].pid = 0;
        }
    }
    return any_cmd && ends[0].pid <= 0 && ends[1].pid <= 0;
}

// Moves bytes until the commands have ended and the line has been quiet for
// a moment (their last answers still get delivered).
void pump(std::vector<Link>& links, End* ends) {
    std::vector<char> buffer(65536);
    std::vector<pollfd> fds(links.size());
    int64_t last_traffic = now_ns();
    for (;;) {
        bool pending = false;
        int64_t wait_ns = 20000000;
        for (size_t i = 0; i < links.size(); ++i) {
            fds[i] = {links[i].open ? links[i].from : -1, POLLIN, 0};
            if (!links[i].queue.empty()) {
                pending = true;
                wait_ns =
                    std::min(wait_ns, std::max<int64_t>(0, next_delivery(links[i]) - now_ns()));
            }
        }
        if (g_terminated != 0) return;
        if (!pending && commands_ended(ends) && now_ns() - last_traffic > 200000000) return;
        timespec wait{static_cast<time_t>(wait_ns / 1000000000),
                      static_cast<long>(wait_ns % 1000000000)};
        ::ppoll(fds.data(), fds.size(), &wait, nullptr);
        for (size_t i = 0; i < links.size(); ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP)) {
                ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
                if (n > 0) {
                    take_in(links[i], buffer.data(), static_cast<size_t>(n));
                    last_traffic = now_ns();
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    links[i].open = false;  // a command's output ended
                }
            }
            if (deliver_due(links[i])) last_traffic = now_ns();
        }
    }
}

int run_relay(int argc, char** argv) {
    int baud = 0;
    const char* go_file = nullptr;
    const char* answer_file = nullptr;
    int arg = 2;
    while (argc - arg > 2) {
        if (std::strcmp(argv[arg], "-b") == 0) {
            baud = std::atoi(argv[arg + 1]);
        } else if (std::strcmp(argv[arg], "-w") == 0) {
            go_file = argv[arg + 1];
        } else if (std::strcmp(argv[arg], "-e") == 0) {
            answer_file = argv[arg + 1];
        } else {
            return 2;
        }
        arg += 2;
    }
    if (argc - arg != 2) return 2;
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGTERM, on_terminate);
    End ends[2];
    std::vector<Link> links;
    // Terminals first, so that a program's first prompt finds its peer.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 2; ++i) {
            std::string endpoint = argv[arg + i];
            bool is_pty = endpoint.rfind("pty:", 0) == 0;
            if (!is_pty && endpoint.rfind("cmd:", 0) != 0) return 2;
            if (is_pty != (pass == 0)) continue;
            while (!is_pty && go_file != nullptr && ::access(go_file, F_OK) != 0) ::usleep(2000);
            bool ok = is_pty ? open_pty_end(endpoint.substr(4), ends[i])
                             : open_cmd_end(endpoint.substr(4), ends[i], links);
            if (!ok) {
                std::fprintf(stderr, "xm_bench relay: cannot open %s\n", endpoint.c_str());
                return 2;
            }
        }
    }
    int64_t byte_ns = baud > 0 ? 10 * 1000000000LL / baud : 0;
    links.push_back({ends[0].in, ends[1].out, byte_ns});
    links.push_back({ends[1].in, ends[0].out, byte_ns});
    pump(links, ends);
    if (answer_file != nullptr) {
        const Link& from_a = links[links.size() - 2];
        const Link& from_b = links[links.size() - 1];
        if (std::FILE* f = std::fopen(answer_file, "w")) {
            std::fprintf(f, "%lld\n",
                         static_cast<long long>((from_b.last_in_ns - from_a.last_in_ns) / 1000));
            std::fclose(f);
        }
    }
    for (auto& e : ends) {
        if (!e.link.empty()) ::unlink(e.link.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && (std::strcmp(argv[1], "send") == 0 || std::strcmp(argv[1], "recv") == 0)) {
        return run_transfer(argc, argv);
    }
    if (argc >= 4 && std::strcmp(argv[1], "relay") == 0) return run_relay(argc, argv);
    std::fprintf(stderr,
                 "usage: xm_bench send DEVICE FILE | recv DEVICE FILE SIZE |"
                 " relay [-b BAUD] [-w FILE] [-e FILE] END END\n");
    return 2;
}
