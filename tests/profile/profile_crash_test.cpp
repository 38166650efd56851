// A writer killed at random moments never leaves a file that is neither the
// old nor the new content.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include <gtest/gtest.h>

#include "profile/profile.h"
#include "temp_dir.h"

namespace {

TEST(ProfileCrash, KilledWriterLeavesOldOrNewContent) {
    testing_support::TempDir dir;
    const std::string head = "; settings\r\n[setup]\r\n" + std::string(4000, ';') + "\r\n";
    const std::string tail = "[other]\r\nx=1\r\n";
    const std::string a = head + "key=AAAA\r\n" + tail;
    const std::string b = head + "key=BBBBBBBB\r\n" + tail;
    const std::string path = dir.write("c.ini", a);

    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0;; ++i)
                profile::profile_put(path, "setup", "key", (i % 2) ? "AAAA" : "BBBBBBBB", 0);
        }
        ::usleep(std::uniform_int_distribution<int>(200, 5000)(rng));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::string now = dir.read("c.ini");
        ASSERT_TRUE(now == a || now == b) << "round " << round << " size " << now.size();
    }
}

}  // namespace
