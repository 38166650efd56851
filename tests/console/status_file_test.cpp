// The status file, the metrics file and quaylink-status against the real
// console server: a scripted session on a pseudo-terminal, read back from
// the files while it runs and after it ended.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/flat_json.h"
#include "pty_pair.h"
#include "server_process.h"
#include "temp_dir.h"
#include "termsim.h"

namespace {

using testing_support::exchange;
using testing_support::kStartMs;
using testing_support::PtyPair;
using testing_support::ServerProcess;
using testing_support::settings_text;
using testing_support::TempDir;

constexpr size_t kBlock = 1024;
constexpr int kBlocks = 10;

// Polls the status file until pred holds for it (or timeout_ms passed); the
// last object read.
template <typename Pred>
ql::FlatObject wait_for_status(const std::string& path, Pred pred, int timeout_ms = kStartMs) {
    ql::FlatObject o;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        if (ql::parse_flat_json(testing_support::read_whole_file(path), o) && pred(o)) return o;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < end);
    return o;
}

bool in_state(const ql::FlatObject& o, const char* state) {
    return ql::flat_text(o, "state") == state;
}

// Runs a program; its exit status and what it printed.
int run(const std::string& command, std::string& output) {
    output.clear();
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) return -1;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) output.append(buffer, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string status_program() {
    return std::string(std::getenv("QL_BIN_DIR")) + "/quaylink-status";
}

class StatusFile : public ::testing::Test {
  protected:
    void SetUp() override {
        work = dir.path() + "/cradle1";
        ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
        status = work + "/quaylink.status";
        metrics = dir.path() + "/quaylink-cradle1.prom";
    }

    // Plays the terminal's side of a RECV of kBlocks 1K blocks: ACKs the
    // reply, asks for CRC, and ACKs each block. After the second block it
    // holds the third block's ACK until the status file shows the transfer
    // under way.
    void receive_with_a_pause(PtyPair& line, ql::FlatObject& seen_mid) {
        termsim::Reply reply = exchange(line, "RECV,BIG.DAT");
        ASSERT_EQ(reply.line(), "0" + std::to_string(kBlock * kBlocks)) << termsim::describe(reply);
        line.write(std::string(1, '\x06'));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        line.write(std::string(1, 'C'));
        for (int block = 1; block <= kBlocks; ++block) {
            std::string bytes = line.read_exactly(3 + kBlock + 2, 10000);
            ASSERT_EQ(bytes.size(), 3 + kBlock + 2) << "block " << block;
            ASSERT_EQ(static_cast<uint8_t>(bytes[1]), block);
            if (block == 2) {
                // The byte count reaches the file at most once a second.
                std::this_thread::sleep_for(std::chrono::milliseconds(1100));
            }
            line.write(std::string(1, '\x06'));
            if (block == 2) {
                seen_mid = wait_for_status(
                    status,
                    [](const ql::FlatObject& o) {
                        return ql::flat_int(o, "transfer_done") >= static_cast<int64_t>(2 * kBlock);
                    },
                    4000);
            }
        }
        ASSERT_EQ(line.read_exactly(1, 10000), "\x04");
        line.write(std::string(1, '\x06'));
    }

    TempDir dir;
    std::string work, status, metrics;
};

TEST_F(StatusFile, ASessionIsFollowedStateByStateAndCountedExactly) {
    PtyPair line;
    ASSERT_TRUE(line.ok());
    dir.write("cradle1/BIG.DAT", std::string(kBlock * kBlocks, 'x'));
    std::string ini =
        dir.write("cradle1.ini", settings_text({"commport=" + line.slave_path(), "connect=direct",
                                                "interchardelay=50", "workdir=" + work}));
    ServerProcess server(ini, 1, {"--metrics-file=" + metrics});
    ASSERT_TRUE(server.started());
    ql::FlatObject o = wait_for_status(status, [](auto& s) { return in_state(s, "READY"); });
    ASSERT_TRUE(in_state(o, "READY")) << server.transcript();
    EXPECT_EQ(ql::flat_text(o, "line"), "cradle1");
    EXPECT_EQ(ql::flat_int(o, "pid"), server.pid());
    EXPECT_EQ(ql::flat_text(o, "port"), line.slave_path());
    EXPECT_EQ(ql::flat_text(o, "last_frame_time"), "") << "no frame yet";

    // Up and ready: quaylink-status says so, and so does its exit status.
    std::string out;
    EXPECT_EQ(run(status_program() + " " + work, out), 0) << out;
    EXPECT_NE(out.find("cradle1   READY"), std::string::npos) << out;
    EXPECT_NE(out.find("never"), std::string::npos) << out;

    EXPECT_EQ(exchange(line, "LINEBID").status, '0');
    EXPECT_EQ(exchange(line, "NOSUCHWORD").lead, 0x18);
    EXPECT_EQ(exchange(line, "COPY,NONE.TXT,X.TXT").status, '1');
    // The terminal's listing is what it was before the line was watched:
    // BIG.DAT and the list itself, no status file.
    std::string listed = exchange(line, "DIR,LIST.TXT").line();
    EXPECT_EQ(listed.substr(listed.size() - 8), " COUNT 2") << listed;
    line.write(
        "\x02"
        "DATETIME"
        "\x01");  // a wrong checksum
    line.read(256, 5000);
    ql::FlatObject mid;
    receive_with_a_pause(line, mid);
    EXPECT_TRUE(in_state(mid, "TRANSFER")) << ql::write_flat_json(mid);
    EXPECT_EQ(ql::flat_text(mid, "command"), "RECV");
    EXPECT_EQ(ql::flat_text(mid, "transfer_direction"), "out");
    EXPECT_EQ(ql::flat_int(mid, "transfer_total"), static_cast<int64_t>(kBlock * kBlocks));
    EXPECT_GE(ql::flat_int(mid, "transfer_done"), static_cast<int64_t>(2 * kBlock));
    EXPECT_LT(ql::flat_int(mid, "transfer_done"), static_cast<int64_t>(kBlock * kBlocks));

    // The metrics file passes Prometheus' own check while the line runs.
    std::string check;
    EXPECT_EQ(run("promtool check metrics < " + metrics, check), 0) << check;

    exchange(line, "LINESTOP");
    EXPECT_EQ(server.wait_exit(kStartMs), 0) << server.transcript();

    o = wait_for_status(status, [](auto& s) { return in_state(s, "ENDED"); });
    EXPECT_TRUE(in_state(o, "ENDED")) << ql::write_flat_json(o);
    EXPECT_EQ(ql::flat_text(o, "last_frame_command"), "LINESTOP");
    const std::pair<const char*, int64_t> counts[] = {
        {"sessions", 1},    {"commands", 6},       {"commands_failed", 2},
        {"files_sent", 1},  {"bytes_sent", 10240}, {"files_received", 0},
        {"line_errors", 1}, {"ftp_operations", 0}};
    for (const auto& [name, value] : counts) EXPECT_EQ(ql::flat_int(o, name), value) << name;
    std::string prom = testing_support::read_whole_file(metrics);
    EXPECT_NE(prom.find("quaylink_up{line=\"cradle1\"} 0\n"), std::string::npos) << prom;
    EXPECT_NE(prom.find("quaylink_commands_total{line=\"cradle1\",result=\"failed\"} 2\n"),
              std::string::npos)
        << prom;
    EXPECT_EQ(run("promtool check metrics < " + metrics, check), 0) << check;

    // Ended: not up. The same file with the state it had while serving,
    // left by a program that is gone, is DOWN.
    EXPECT_EQ(run(status_program() + " " + status, out), 1) << out;
    EXPECT_NE(out.find("ENDED"), std::string::npos) << out;
    std::string text = testing_support::read_whole_file(status);
    text.replace(text.find("\"ENDED\""), 7, "\"READY\"");
    dir.write("cradle1/quaylink.status", text);
    EXPECT_EQ(run("NO_COLOR=1 " + status_program() + " --json " + dir.path(), out), 1) << out;
    EXPECT_NE(out.find("\"shown_state\": \"DOWN\""), std::string::npos) << out;
}

}  // namespace
