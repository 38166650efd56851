// One timed FTP transfer with the server's FTP client, for run.sh.
//
//   ftp_bench get|put <port> <user> <password> <local file> <remote name> [active]
//
// Logs in on 127.0.0.1:<port> (passive unless "active" is given), moves the
// file, and prints the seconds the transfer itself took (login excluded),
// like curl's time_total minus its connect time. Exit status 0 on success.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "network/ftp.h"

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: ftp_bench get|put port user password local remote [active]\n");
        return 2;
    }
    std::string direction = argv[1];
    ql::ftp_set_control_port(std::atoi(argv[2]));
    bool passive = !(argc > 7 && std::string(argv[7]) == "active");
    if (int rc = ql::ftp_open("127.0.0.1", argv[3], argv[4], passive ? 1 : 0); rc != 0) {
        std::fprintf(stderr, "ftp_open failed: %d\n", rc);
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    int rc = direction == "get" ? ql::ftp_recv(argv[5], argv[6]) : ql::ftp_send(argv[5], argv[6]);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ql::ftp_quit();
    if (rc != 0) {
        std::fprintf(stderr, "transfer failed: %d\n", rc);
        return 1;
    }
    std::printf("%.4f\n", seconds);
    return 0;
}
