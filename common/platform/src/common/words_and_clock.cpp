// The command-line word splitting and the system clock object, the same on
// every OS.
#include "platform/clock.h"
#include "platform/process.h"

namespace platform {

std::vector<std::string> split_command_line(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word.push_back(c);
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

namespace {

class SystemClock final : public Clock {
  public:
    uint32_t now_ms() override { return monotonic_ms(); }
    void sleep(uint32_t ms) override { sleep_ms(ms); }
};

}  // namespace

Clock& system_clock() {
    static SystemClock clock;
    return clock;
}

}  // namespace platform
