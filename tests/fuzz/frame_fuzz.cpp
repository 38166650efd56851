// Command frames as a terminal sends them: the bytes go through a fake line
// into the frame reader, frame after frame, and every good command is split
// into the field slots and answered. The whole input is split once more as a
// command body of its own.
#include <cstring>

#include "fake_line.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "fuzz_support.h"
#include "platform/clock.h"
#include "terminal/frame.h"

namespace {

// Reply pauses cost nothing.
class NoPause final : public platform::Clock {
  public:
    uint32_t now_ms() override { return 0; }
    void sleep(uint32_t) override {}
};

void check_slots() {
    for (int i = 0; i < ql::kFieldCount; ++i) {
        if (std::strlen(ql::field(i)) >= ql::kFieldSlotSize) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static NoPause clock;
    std::string_view input = fuzz::bytes(data, size);

    ql::log_reset();
    ql::log_state().verbosity = 1 + static_cast<int>(size & 1);
    ql::settings_reset_defaults();
    ql::settings().interchardelay = 0;
    ql::serial_set_time_divisor(1000000);
    ql::port_reset_state();
    ql::fields_reset();
    ql::frame_set_clock(&clock);

    {
        transfer_test::FakePort line;
        if (!input.empty()) line.line->queue(std::string(input));
        ql::Frame frame;
        // Every read takes at least one byte, so this ends with the input.
        for (size_t reads = 0; reads <= size; ++reads) {
            ql::FrameKind kind = ql::read_frame(line.port, frame, 0);
            if (kind == ql::FrameKind::kIdle) break;
            if (frame.count > ql::kFrameMax) __builtin_trap();
            ql::send_line_answer(line.port, kind);
            if (kind == ql::FrameKind::kCommand) {
                check_slots();
                ql::send_reply(line.port, ql::line::kStx, '0', ql::field(1));
            }
        }
    }

    ql::split_command(input);
    check_slots();
    ql::set_field(static_cast<int>(size % 10) - 1, input);
    check_slots();

    ql::frame_set_clock(nullptr);
    ql::serial_set_time_divisor(1);
    ql::log_reset();
    return 0;
}
