// relay_bench: relay transfers through the loopback relay server, against a
// plain TCP copy of the same bytes on loopback (the ceiling).
//
//   relay_bench [MiB] [runs]
//
// Uploads and downloads a file of MiB mebibytes (default 16) in stream and
// in packet mode, runs times each (default 5), and prints the median
// throughput of every case in MiB/s and its share of the plain copy.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "network/relay.h"
#include "relayd/relay_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void write_random(const std::string& path, size_t bytes) {
    std::mt19937_64 rng(7);
    std::vector<uint64_t> block(8192);
    std::ofstream out(path, std::ios::binary);
    for (size_t done = 0; done < bytes;) {
        for (auto& w : block) w = rng();
        size_t n = std::min(bytes - done, block.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        done += n;
    }
}

// The ceiling: the file read in 64 KiB pieces, sent over a loopback TCP
// connection, and written to another file by a second thread.
double plain_copy(const std::string& from, const std::string& to) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);

    auto start = Clock::now();
    std::thread receiver([&] {
        int fd = ::accept(listener, nullptr, nullptr);
        std::FILE* out = std::fopen(to.c_str(), "wb");
        std::vector<char> buf(65536);
        for (;;) {
            ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0) break;
            std::fwrite(buf.data(), 1, static_cast<size_t>(n), out);
        }
        std::fclose(out);
        ::close(fd);
    });
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::vector<char> buf(65536);
    for (;;) {
        size_t n = std::fread(buf.data(), 1, buf.size(), in);
        if (n == 0) break;
        for (size_t sent = 0; sent < n;) {
            ssize_t r = ::send(fd, buf.data() + sent, n - sent, MSG_NOSIGNAL);
            if (r <= 0) break;
            sent += static_cast<size_t>(r);
        }
    }
    std::fclose(in);
    ::close(fd);
    receiver.join();
    ::close(listener);
    return seconds_since(start);
}

struct Case {
    const char* name;
    bool stream;
    bool upload;
};

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (mib == 0 || runs <= 0) {
        std::fprintf(stderr, "usage: relay_bench [MiB] [runs]\n");
        return 2;
    }
    const size_t bytes = mib << 20;

    // Files live in memory (/dev/shm) when it is there, so that the figures
    // measure the network path and not the disk: a download is flushed to
    // disk before it is renamed into place, the plain copy is not.
    // BENCH_TMPDIR chooses another folder.
    std::string base = "/tmp";
    if (const char* env = std::getenv("BENCH_TMPDIR"); env != nullptr && *env != '\0') {
        base = env;
    } else if (::access("/dev/shm", W_OK) == 0) {
        base = "/dev/shm";
    }
    std::string pattern = base + "/relaybench.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return 1;
    const std::string work = pattern;
    const std::string remote = work + "/remote";
    std::filesystem::create_directory(remote);
    const std::string source = work + "/big.bin";
    write_random(source, bytes);
    // The file the downloads fetch.
    std::filesystem::copy_file(source, remote + "/down.bin");

    relayd::RelayServer server(remote);
    if (server.start() != 0) return 1;

    std::vector<double> plain;
    for (int i = 0; i < runs; ++i) plain.push_back(plain_copy(source, work + "/plain.bin"));
    const double ceiling = mib / median(plain);
    std::printf("relay_bench: %zu MiB, %d runs, median throughput on loopback, files in %s\n", mib,
                runs, base.c_str());
    std::printf("  %-24s %8.1f MiB/s\n", "plain TCP copy", ceiling);

    const Case cases[] = {{"stream upload", true, true},
                          {"stream download", true, false},
                          {"packet upload", false, true},
                          {"packet download", false, false}};
    int failures = 0;
    for (const Case& c : cases) {
        server.set_stream(c.stream);
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            if (ql::relay_open("127.0.0.1", "bench", server.port_text()) != 0) return 1;
            auto start = Clock::now();
            int rc = c.upload ? ql::relay_send_file(source, "up.bin")
                              : ql::relay_receive_file(work + "/down.bin", "down.bin");
            times.push_back(seconds_since(start));
            ql::relay_close_all();
            if (rc != 0) {
                std::fprintf(stderr, "%s failed: %d\n", c.name, rc);
                failures++;
            }
        }
        const double speed = mib / median(times);
        std::printf("  %-24s %8.1f MiB/s  (%4.1f%% of plain)", c.name, speed,
                    100.0 * speed / ceiling);
        if (!c.stream) {
            // Packet mode is one request/reply per block: its cost is the
            // round trip, not the bytes.
            const double blocks = static_cast<double>(bytes) / (c.upload ? 1000.0 : 1020.0);
            std::printf("  %.1f us per round trip", 1e6 * median(times) / blocks);
        }
        std::printf("\n");
    }
    server.stop();
    std::filesystem::remove_all(work);
    return failures == 0 ? 0 : 1;
}
