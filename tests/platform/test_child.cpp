// A small program the process tests start:
//   test_child exit N          ends with exit status N
//   test_child sleep MS        sleeps MS milliseconds, then ends with 0
//   test_child args FILE ...   writes the arguments after FILE to FILE, one
//                              per line, and ends with the argument count
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "exit") == 0) return std::atoi(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "sleep") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "args") == 0) {
        std::FILE* out = std::fopen(argv[2], "wb");
        if (out == nullptr) return 100;
        for (int i = 3; i < argc; ++i) std::fprintf(out, "%s\n", argv[i]);
        std::fclose(out);
        return argc - 3;
    }
    return 99;
}
