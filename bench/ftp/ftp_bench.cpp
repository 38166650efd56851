// One timed FTP transfer with the server's FTP client, for run.sh.
//
//   ftp_bench get|put|rtt <port> <user> <password> <local file> <remote name>
//             [active] [--tls explicit|implicit] [--cafile PEM] [--epsv]
//             [--count N]
//
// Logs in on 127.0.0.1:<port> (passive unless "active" is given), moves the
// file, and prints the seconds the transfer itself took (login excluded),
// like curl's time_total minus its connect time. "rtt" downloads the (tiny)
// remote file N times (default 21) on the one connection and prints the
// median milliseconds of one such transfer: the control round trips and the
// data connection's set-up, which is what a small file costs. Exit status 0
// on success.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "network/ftp.h"

namespace {

struct Args {
    std::string direction, user, password, local, remote;
    int port = 0;
    bool passive = true;
    int count = 21;
    ql::FtpOptions options;
};

bool parse(int argc, char** argv, Args& a) {
    if (argc < 7) return false;
    a.direction = argv[1];
    a.port = std::atoi(argv[2]);
    a.user = argv[3];
    a.password = argv[4];
    a.local = argv[5];
    a.remote = argv[6];
    for (int i = 7; i < argc; ++i) {
        std::string w = argv[i];
        bool has_value = i + 1 < argc;
        if (w == "active") {
            a.passive = false;
        } else if (w == "--epsv") {
            a.options.epsv = true;
        } else if (w == "--tls" && has_value) {
            std::string mode = argv[++i];
            a.options.tls =
                mode == "implicit" ? ql::FtpTlsMode::kImplicit : ql::FtpTlsMode::kExplicit;
        } else if (w == "--cafile" && has_value) {
            a.options.ca_file = argv[++i];
        } else if (w == "--count" && has_value) {
            a.count = std::max(1, std::atoi(argv[++i]));
        } else {
            return false;
        }
    }
    return true;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Median milliseconds of count downloads of the remote file.
int round_trips(const Args& a, double& median_ms) {
    std::vector<double> times;
    for (int i = 0; i < a.count; ++i) {
        auto start = std::chrono::steady_clock::now();
        if (int rc = ql::ftp_recv(a.local, a.remote); rc != 0) return rc;
        times.push_back(seconds_since(start) * 1000.0);
    }
    std::sort(times.begin(), times.end());
    median_ms = times[times.size() / 2];
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Args a;
    if (!parse(argc, argv, a)) {
        std::fprintf(stderr,
                     "usage: ftp_bench get|put|rtt port user password local remote [active] "
                     "[--tls explicit|implicit] [--cafile PEM] [--epsv] [--count N]\n");
        return 2;
    }
    ql::ftp_set_control_port(a.port);
    ql::ftp_set_options(a.options);
    if (int rc = ql::ftp_open("127.0.0.1", a.user, a.password, a.passive ? 1 : 0); rc != 0) {
        std::fprintf(stderr, "ftp_open failed: %d\n", rc);
        return 1;
    }
    int rc = 0;
    double result = 0;
    if (a.direction == "rtt") {
        rc = round_trips(a, result);
    } else {
        auto start = std::chrono::steady_clock::now();
        rc = a.direction == "get" ? ql::ftp_recv(a.local, a.remote)
                                  : ql::ftp_send(a.local, a.remote);
        result = seconds_since(start);
    }
    ql::ftp_quit();
    if (rc != 0) {
        std::fprintf(stderr, "transfer failed: %d\n", rc);
        return 1;
    }
    std::printf("%.4f\n", result);
    return 0;
}
