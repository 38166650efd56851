// Block transfers against a terminal that sends arbitrary bytes: the
// receiver (and, for some inputs, the sender) runs over a fake line whose
// incoming bytes are the input. Waits are zero, so a silent line ends the
// transfer after its prompts without sleeping.
//
// Input: one option byte, then the line bytes.
//   bit 0: receive asks for CRC and 1K blocks (else checksum only)
//   bit 1: the receive announces a size (the next two bytes, big-endian)
//   bit 2: run the sender instead of the receiver
//   bit 3: the sender may use 1K blocks
//   bit 4: the receive replaces a file that is already there
//
// Checked: a failed receive leaves the previous file (or none) as it was, a
// good one keeps whole blocks or the announced size, and no temporary file
// stays behind.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fake_line.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "fuzz_support.h"
#include "terminal/xmodem.h"

namespace {

const std::string& sent_file() {
    // 1,500 bytes: one 1K block and then 128-byte blocks, or twelve blocks.
    static const std::string path = [] {
        std::string content;
        for (int i = 0; i < 1500; ++i) content += static_cast<char>('A' + i % 26);
        return fuzz::write_file("SEND.DAT", content);
    }();
    return path;
}

void check_receive(const std::string& target, int rc, const std::string* previous,
                   int64_t announced) {
    std::error_code ec;
    bool exists = std::filesystem::exists(target, ec);
    if (rc != ql::xm_result::kOk) {
        if (previous == nullptr && exists) __builtin_trap();
        if (previous != nullptr) {
            std::ifstream in(target, std::ios::binary);
            std::string content{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
            if (content != *previous) __builtin_trap();
        }
        return;
    }
    if (!exists) __builtin_trap();
    auto size = static_cast<int64_t>(std::filesystem::file_size(target, ec));
    if (announced > 0 ? size > announced : size % 128 != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string_view input = fuzz::bytes(data, size);
    const uint8_t options = data[0];
    input.remove_prefix(1);
    int64_t announced = 0;
    if ((options & 2) != 0 && input.size() >= 2) {
        announced = (static_cast<uint8_t>(input[0]) << 8) | static_cast<uint8_t>(input[1]);
        input.remove_prefix(2);
    }

    ql::log_reset();
    ql::settings_reset_defaults();
    ql::settings().interchardelay = 0;
    ql::serial_set_time_divisor(1000000);
    ql::port_reset_state();
    ql::xm_reset();
    ql::xm_set_debug(1);
    ql::xm_set_timing(ql::XmTiming{0, 0, 0});
    const std::string& source = sent_file();

    {
        transfer_test::FakePort line;
        if (!input.empty()) line.line->queue(std::string(input));
        if ((options & 4) != 0) {
            ql::xm_send(line.port, source, (options & 8) != 0 ? 1 : 0, 0x1A);
        } else {
            const std::string previous = "the file that was there before\r\n";
            std::string target = fuzz::scratch() + "/RECV.DAT";
            if ((options & 16) != 0) fuzz::write_file("RECV.DAT", previous);
            int rc = ql::xm_recv(line.port, target, options & 1, announced);
            check_receive(target, rc, (options & 16) != 0 ? &previous : nullptr, announced);
            fuzz::remove_file("RECV.DAT");
        }
    }
    // A receive leaves the received file or nothing: no temporary file.
    if (fuzz::scratch_listing() != std::vector<std::string>{"SEND.DAT"}) __builtin_trap();

    ql::xm_reset();
    ql::serial_set_time_divisor(1);
    ql::log_reset();
    return 0;
}
