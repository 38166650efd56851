// relayd: the loopback relay server as a program, for trying the server's
// relay commands by hand.
//
//   relayd [--root DIR] [--port N] [--packet] [--login TEXT] [--never-read]
//
// Serves the files of DIR (default: the current folder) on 127.0.0.1 until
// interrupted; no name reaches outside DIR. --never-read accepts stream
// uploads and never reads them (a peer that has stopped reading).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/event.h"
#include "platform/signals.h"
#include "relayd/relay_server.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: relayd [--root DIR] [--port N] [--packet] [--login TEXT] "
                 "[--never-read]\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string root = ".";
    std::string login;
    long port = 0;
    bool packet = false;
    bool never_read = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--root" && more) {
            root = argv[++i];
        } else if (a == "--port" && more) {
            port = std::strtol(argv[++i], nullptr, 10);
        } else if (a == "--login" && more) {
            login = argv[++i];
        } else if (a == "--packet") {
            packet = true;
        } else if (a == "--never-read") {
            never_read = true;
        } else {
            usage();
            return 2;
        }
    }
    if (port < 0 || port > 65535) {
        usage();
        return 2;
    }

    // Set up before any thread starts (the requests are blocked in every
    // thread made after it), then waited for.
    platform::Event ending;
    int watch = platform::on_termination_request([&ending] { ending.set(); });
    if (watch != 0) {
        std::fprintf(stderr, "relayd: cannot watch for interrupts: %s\n", std::strerror(watch));
        return 1;
    }

    relayd::RelayServer server(root);
    server.set_stream(!packet);
    server.set_login(login);
    server.stream_never_read(never_read);
    int err = server.start(static_cast<uint16_t>(port));
    if (err != 0) {
        std::fprintf(stderr, "relayd: cannot listen: %s\n", std::strerror(err));
        return 1;
    }
    std::printf("relayd listening on 127.0.0.1:%u (%s mode)\n", server.port(),
                packet ? "packet" : "stream");
    std::fflush(stdout);
    while (!ending.wait(60 * 1000)) {
    }
    server.stop();
    return 0;
}
