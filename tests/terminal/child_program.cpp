// A small program that the program start and poll tests start. It reads its
// orders from its arguments (any position, so it works whatever words come
// before them):
//   args=PATH   write every argument, one per line, to PATH first
//   wait=PATH   wait until PATH exists or its folder is gone (at most 60 s)
//   sleep=MS    sleep MS milliseconds
//   signal=N    end by signal N
//   exit=N      exit status N (default 0)
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* value_of(int argc, char** argv, const char* key) {
    size_t n = std::strlen(key);
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], key, n) == 0 && argv[i][n] == '=') return argv[i] + n + 1;
    }
    return nullptr;
}

void write_args(int argc, char** argv, const char* path) {
    std::FILE* f = std::fopen(path, "w");
    if (f == nullptr) return;
    for (int i = 0; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
    std::fclose(f);
}

// The folder check lets a program that a test left behind end as soon as
// the test's temporary folder is removed.
void wait_for(const char* path) {
    std::string folder = path;
    folder = folder.substr(0, folder.find_last_of('/') + 1) + ".";
    struct stat st;
    for (int i = 0; i < 3000; ++i) {
        if (::stat(path, &st) == 0 || ::stat(folder.c_str(), &st) != 0) return;
        ::usleep(20000);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* p = value_of(argc, argv, "args")) write_args(argc, argv, p);
    if (const char* p = value_of(argc, argv, "wait")) wait_for(p);
    if (const char* p = value_of(argc, argv, "sleep")) ::usleep(std::atoi(p) * 1000);
    if (const char* p = value_of(argc, argv, "signal")) ::raise(std::atoi(p));
    const char* code = value_of(argc, argv, "exit");
    return code ? std::atoi(code) : 0;
}
