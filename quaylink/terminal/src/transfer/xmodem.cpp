#include "terminal/xmodem.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "foundation/line_status.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "terminal/frame.h"
#include "terminal/progress.h"
#include "xm_file.h"

namespace ql {

namespace {

// The block buffer: header (3), up to 1024 data bytes, up to 2 check bytes,
// with room to spare for a read that runs one byte long.
constexpr size_t kBlockBufferSize = 1048;
constexpr int kBlockRetries = 10;
constexpr int kEotRetries = 10;
constexpr int kStartPrompts = 6;
constexpr int kCrcPrompts = 3;
constexpr int kSilentAnswers = 10;
constexpr int kBadBlocks = 10;
// Below this many unsent bytes a 1024-byte block would be mostly padding.
constexpr int64_t kOneKTail = 896;
// Log texts are cut to this length (file names can be long).
constexpr size_t kMessageMax = 511;

uint16_t g_crc_table[256];
std::atomic<bool> g_crc_ready{false};
std::atomic<int> g_debug{0};
XmTiming g_timing;

// State of one transfer; every call starts from a fresh one.
struct Transfer {
    Port* line = nullptr;
    int block_size = 128;
    int crc = 0;    // 1 = CRC-16, 0 = checksum
    int one_k = 0;  // send: 1024-byte blocks; receive: start with 'C'
    uint8_t pad = 0;
    int64_t size = 0;  // file size (send) or announced size (receive)
    uint8_t* buffer = nullptr;
    uint8_t answer = 0;
    int last_read = 0;
    bool modem = false;
};

void xm_log(const std::string& text, int error) {
    log_event(text.size() > kMessageMax ? text.substr(0, kMessageMax) : text, error, 0);
}

void debug_error(const std::string& text) {
    if (g_debug.load() != 0) xm_log(text, 99);
}

void write_byte(Transfer& t, uint8_t byte) {
    port_write(t.line, &byte, 1);
}

// Reads one answer byte; 0 bytes read leaves answer 0.
int read_answer(Transfer& t, uint32_t wait_ms) {
    char got[2] = {};
    int n = port_read(t.line, got, 1, wait_ms, t.crc);
    t.answer = n > 0 ? static_cast<uint8_t>(got[0]) : 0;
    return n;
}

int block_length(const Transfer& t) {
    return 3 + t.block_size + 1 + t.crc;
}

void modem_pause(const Transfer& t) {
    if (t.modem) platform::sleep_ms(g_timing.modem_pause_ms);
}

std::unique_ptr<uint8_t[]> take_buffer() {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kBlockBufferSize]);
}

// ---- sending ----

// One block, up to 10 attempts. 0, -200 (CAN), -203 (rejected, at least one
// NAK) or -999 (no usable answer).
int send_packet(Transfer& t) {
    int result = xm_result::kNoStart;
    for (int attempt = 0; attempt < kBlockRetries; ++attempt) {
        t.answer = 0;
        modem_pause(t);
        port_write(t.line, t.buffer, block_length(t));
        read_answer(t, g_timing.answer_wait_ms);
        if (t.answer == line::kAck) return xm_result::kOk;
        if (t.answer == line::kCan) return xm_result::kCancelled;
        if (t.answer == line::kNak) result = xm_result::kRetries;
        // Every block sent again is a line error: a block refused, or one
        // whose answer never came.
        line_status_line_error();
    }
    return result;
}

// Sends EOT until it is acknowledged.
int send_eot(Transfer& t) {
    for (int attempt = 0; attempt < kEotRetries; ++attempt) {
        write_byte(t, line::kEot);
        read_answer(t, g_timing.answer_wait_ms);
        if (t.answer == line::kAck) return xm_result::kOk;
        if (t.answer == line::kCan) {
            debug_error("XM:DoSend:comm_read: revd CAN");
            return xm_result::kEotFailed;
        }
    }
    return xm_result::kEotFailed;
}

void seal_block(Transfer& t, uint8_t number) {
    uint8_t* data = t.buffer + 3;
    t.buffer[0] = t.one_k != 0 ? line::kStx : line::kSoh;
    t.buffer[1] = number;
    t.buffer[2] = static_cast<uint8_t>(255 - number);
    if (t.crc != 0) {
        uint16_t crc = crc16(data, static_cast<size_t>(t.block_size));
        data[t.block_size] = static_cast<uint8_t>(crc >> 8);
        data[t.block_size + 1] = static_cast<uint8_t>(crc & 0xFF);
    } else {
        data[t.block_size] = checksum8(data, t.block_size);
    }
}

int do_send(Transfer& t, std::FILE* file) {
    uint8_t number = 1;
    int64_t sent = 0;
    int result = xm_result::kOk;
    for (;;) {
        if (t.one_k != 0 && t.size - sent < kOneKTail) {
            t.one_k = 0;
            t.block_size = 128;
        }
        uint8_t* data = t.buffer + 3;
        size_t got = std::fread(data, 1, static_cast<size_t>(t.block_size), file);
        if (got < static_cast<size_t>(t.block_size) && std::ferror(file)) {
            debug_error(strformat("XM:DoSend:fread [%d]", errno));
            result = xm_result::kFileRead;
            break;
        }
        if (got == 0) return send_eot(t);
        std::memset(data + got, t.pad, static_cast<size_t>(t.block_size) - got);
        seal_block(t, number);
        int rc = send_packet(t);
        if (rc != xm_result::kOk) {
            debug_error(strformat("XM:DoSend:SendPacket [%d]", rc));
            result = rc;
            break;
        }
        sent += static_cast<int64_t>(got);
        show_progress("", progress_kind::kSerialSend, t.size, sent);
        ++number;
    }
    write_byte(t, line::kCan);
    return result;
}

// Waits for the receiver's start byte and sets the mode from it. 0 or -999.
int await_start(Transfer& t) {
    if (read_answer(t, g_timing.start_wait_ms) <= 0) {
        debug_error("XM:Start:Recd Timeout");
        return xm_result::kNoStart;
    }
    if (t.answer == line::kNak) {
        t.one_k = 0;
        t.crc = 0;
    } else if (t.answer == line::kCrcRequest) {
        t.crc = 1;
        if (t.one_k != 0) t.block_size = 1024;
    } else if (t.answer == line::kCan) {
        debug_error("XM:Start:Recd CAN");
        return xm_result::kNoStart;
    } else {
        debug_error("XM:Start:Unknown data");
        return xm_result::kNoStart;
    }
    return xm_result::kOk;
}

int64_t file_length(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    long size = std::ftell(file);
    if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

// ---- receiving ----

// Reads one block (or EOT, CAN) after writing the answer byte; up to 10
// silent attempts. 0 when something arrived, else -103 (CAN written).
int recv_packet(Transfer& t) {
    int length = block_length(t);
    for (int attempt = 0; attempt < kSilentAnswers; ++attempt) {
        std::memset(t.buffer, 0, static_cast<size_t>(length));
        write_byte(t, t.answer);
        t.last_read = port_read(t.line, reinterpret_cast<char*>(t.buffer), length,
                                g_timing.answer_wait_ms, t.crc);
        if (t.last_read < 0) {
            debug_error(strformat("XM:RecvPacket [%d]", t.last_read));
            break;
        }
        if (t.last_read > 0) return xm_result::kOk;
    }
    write_byte(t, line::kCan);
    return xm_result::kNoBlock;
}

// Prompts for the first block; up to 6 prompts ('C' three times when CRC is
// wanted, then NAK). 0 with the first block in the buffer, -1 or -999.
int start_recv_packet(Transfer& t) {
    bool nak_only = t.one_k == 0;
    for (int prompt = 0; prompt < kStartPrompts; ++prompt) {
        if (prompt >= kCrcPrompts) nak_only = true;
        t.crc = nak_only ? 0 : 1;
        t.block_size = nak_only ? 128 : 1024;
        uint8_t ask = nak_only ? line::kNak : line::kCrcRequest;
        int length = block_length(t);
        std::memset(t.buffer, 0, static_cast<size_t>(length));
        modem_pause(t);
        write_byte(t, ask);
        t.last_read = port_read(t.line, reinterpret_cast<char*>(t.buffer), length,
                                g_timing.answer_wait_ms, t.crc);
        if (t.last_read <= 0) continue;
        uint8_t first = t.buffer[0];
        if (first == line::kSoh || first == line::kStx) return xm_result::kOk;
        if (first == line::kNak) {
            t.one_k = 0;
            nak_only = true;
            continue;
        }
        debug_error(strformat("XM:StartRecvPacket [%d][%x]", t.last_read,
                              static_cast<unsigned>(static_cast<int>(static_cast<int8_t>(first)))));
        write_byte(t, line::kCan);
        return xm_result::kUnexpectedStart;
    }
    return xm_result::kNoStart;
}

// True when the check bytes of the data block in the buffer are right.
bool check_ok(Transfer& t) {
    const uint8_t* data = t.buffer + 3;
    if (t.crc != 0) {
        uint16_t got = static_cast<uint16_t>((data[t.block_size] << 8) | data[t.block_size + 1]);
        uint16_t want = crc16(data, static_cast<size_t>(t.block_size));
        if (got != want) {
            debug_error("XM:DoRecv: CRC check");
            debug_error(strformat("Bytes:[%d] XM:crc[%ld] crc_check[%ld]", t.last_read,
                                  static_cast<long>(got), static_cast<long>(want)));
            return false;
        }
    } else if (data[t.block_size] != checksum8(data, t.block_size)) {
        debug_error("XM:DoRecv: Checksum");
        return false;
    }
    return true;
}

enum class BlockVerdict {
    kGood,    // the expected block, intact
    kRepeat,  // the block accepted last, intact, sent again
    kBad,
};

// Judges the data block in the buffer. repeat_of is the number of the block
// accepted last, or -1 before the first one.
BlockVerdict judge_block(Transfer& t, uint8_t expected, int repeat_of) {
    if (t.last_read < block_length(t)) {
        // Cut short by a quiet line: the zeros left in the buffer could
        // happen to check out, so a short block never counts.
        debug_error(strformat("XM:DoRecv: short block [%d]", t.last_read));
        return BlockVerdict::kBad;
    }
    if (t.buffer[1] + t.buffer[2] != 255) {
        debug_error("XM:DoRecv: ones compliment");
        return BlockVerdict::kBad;
    }
    if (t.buffer[1] != expected) {
        // The sender missed our ACK and sends the last block again: it is
        // acknowledged once more and its bytes dropped, or one lost ACK
        // would cost the whole file.
        if (t.buffer[1] == repeat_of && check_ok(t)) return BlockVerdict::kRepeat;
        debug_error(
            strformat("XM:DoRecv: Bytes:[%d] seq#:[%x][%x]", t.last_read, t.buffer[1], expected));
        return BlockVerdict::kBad;
    }
    return check_ok(t) ? BlockVerdict::kGood : BlockVerdict::kBad;
}

int do_recv(Transfer& t, XmFile& file) {
    uint8_t expected = 1;
    int last_accepted = -1;
    int64_t received = 0;
    int bad = 0;
    for (;;) {
        uint8_t first = t.buffer[0];
        BlockVerdict verdict = BlockVerdict::kBad;
        if (first == line::kSoh || first == line::kStx) {
            if (first == line::kSoh && t.block_size == 1024) {
                t.block_size = 128;
                t.one_k = 0;
            }
            verdict = judge_block(t, expected, last_accepted);
        } else if (first == line::kEot) {
            // Answered by answer_eot once the file is in place.
            return xm_result::kOk;
        } else if (first == line::kCan) {
            debug_error("XM:DoRecv: rcvd CAN");
            return xm_result::kCancelled;
        } else {
            debug_error(strformat("XM:DoRecv: default error [%x]", first));
        }
        if (verdict == BlockVerdict::kRepeat) {
            // Nothing written, nothing counted: only the lost ACK again.
            t.answer = line::kAck;
        } else if (verdict == BlockVerdict::kGood) {
            int64_t count = t.block_size;
            if (t.size > 0 && received + count > t.size)
                count = std::max<int64_t>(t.size - received, 0);
            if (!file.write(t.buffer + 3, static_cast<size_t>(count))) {
                debug_error("XM:DoRecv: File write error");
                write_byte(t, line::kCan);
                return xm_result::kFileWrite;
            }
            received += count;
            last_accepted = expected;
            ++expected;
            bad = 0;
            t.answer = line::kAck;
            show_progress("", progress_kind::kSerialRecv, t.size, received);
        } else {
            t.answer = line::kNak;
            line_status_line_error();
            if (++bad >= kBadBlocks) {
                debug_error("XM:DoRecv: retry error");
                write_byte(t, line::kCan);
                return xm_result::kRetries;
            }
        }
        int rc = recv_packet(t);
        if (rc != xm_result::kOk) return rc;
    }
}

// Answers the sender's EOT. The terminal takes an ACK to mean that its
// upload is safe (an application may delete its data on it), so the file is
// committed first - flushed, synced and renamed over the target - and the
// ACK follows only when that succeeded. A failed commit (the disk full at
// the flush, a refused rename) is answered with NAK; the sender repeats its
// EOT on that, and the repeat is read and answered with CAN, so that the
// terminal sees a failed transfer and no stray EOT is left on the line for
// the command loop. 0 or -104.
int answer_eot(Transfer& t, XmFile& file, const std::string& path) {
    if (file.commit()) {
        write_byte(t, line::kAck);
        return xm_result::kOk;
    }
    int error = file.error();
    xm_log(strformat("XM:DoRecv: File not saved [%d] %s [ %s ]", error, std::strerror(error),
                     path.c_str()),
           99);
    write_byte(t, line::kNak);
    port_read(t.line, reinterpret_cast<char*>(t.buffer), block_length(t), g_timing.answer_wait_ms,
              t.crc);
    write_byte(t, line::kCan);
    return xm_result::kFileWrite;
}

}  // namespace

void crc16_table_init() {
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1;
        }
        g_crc_table[i] = static_cast<uint16_t>(crc);
    }
    g_crc_ready.store(true, std::memory_order_release);
}

uint16_t crc16(const void* data, size_t count) {
    if (!g_crc_ready.load(std::memory_order_acquire)) crc16_table_init();
    const auto* p = static_cast<const uint8_t*>(data);
    unsigned crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc = (g_crc_table[((crc >> 8) ^ p[i]) & 0xFF] ^ (crc << 8)) & 0xFFFF;
    }
    return static_cast<uint16_t>(crc);
}

namespace {

int send_stream(Port* line, std::FILE* file, const std::string& path, int one_k, uint8_t pad) {
    Transfer t;
    t.line = line;
    t.modem = settings().modem;
    t.pad = pad;
    t.size = file_length(file);
    xm_log(strformat("XM:Send [ %s ] [ %ld ]", path.c_str(), static_cast<long>(t.size)), 0);
    auto buffer = take_buffer();
    if (!buffer) {
        xm_log("XM:Malloc Error", 99);
        std::fclose(file);
        return xm_result::kNoBuffer;
    }
    t.buffer = buffer.get();
    t.one_k = one_k != 0 ? 1 : 0;
    t.block_size = 128;
    int result = t.size < 0 ? xm_result::kFileRead : await_start(t);
    if (result != xm_result::kOk) {
        std::fclose(file);
        return result;
    }
    show_progress(path, progress_kind::kSerialSend, t.size, kProgressStart);
    result = do_send(t, file);
    std::fclose(file);
    show_progress(path, progress_kind::kSerialSend, t.size, kProgressEnd);
    if (result == xm_result::kOk) {
        xm_log("SEND SUCCESSFUL", 0);
    } else {
        xm_log(strformat("SEND ERROR  RC : %d  ERRNO : %d", result, errno), 0);
    }
    return result;
}

}  // namespace

int xm_send(Port* line, const std::string& path, int one_k, uint8_t pad) {
    int open_error = 0;
    std::FILE* file = platform::open_regular_file(path, platform::FileAccess::read, open_error);
    if (file == nullptr) {
        debug_error(strformat("XM:File Open: errno [%d]", open_error));
        return xm_result::kOpenFailed;
    }
    return send_stream(line, file, path, one_k, pad);
}

int xm_send_handle(Port* line, platform::FileHandle& file, const std::string& path, int one_k,
                   uint8_t pad) {
    int open_error = 0;
    std::FILE* stream = platform::stream_from_handle(file, platform::FileAccess::read, open_error);
    if (stream == nullptr) {
        platform::file_close(file);
        debug_error(strformat("XM:File Open: errno [%d]", open_error));
        return xm_result::kOpenFailed;
    }
    return send_stream(line, stream, path, one_k, pad);
}

int xm_recv(Port* line, const std::string& path, int crc_1k, int64_t announced_size,
            const XmHeld* held) {
    Transfer t;
    t.line = line;
    t.modem = settings().modem;
    t.size = announced_size > 0 ? announced_size : 0;
    xm_log(strformat("XM:Recv [ %s ] [ %ld ]", path.c_str(), static_cast<long>(announced_size)), 0);
    XmFile file;
    if (!(held != nullptr ? file.open_in(*held->dir, held->leaf) : file.open(path))) {
        debug_error(strformat("XM:File Open: errno [%d]", file.error()));
        return xm_result::kOpenFailed;
    }
    auto buffer = take_buffer();
    if (!buffer) {
        xm_log("XM:Malloc Error", 99);
        file.discard();
        return xm_result::kNoBuffer;
    }
    t.buffer = buffer.get();
    t.one_k = crc_1k != 0 ? 1 : 0;
    int result = start_recv_packet(t);
    if (result != xm_result::kOk) {
        file.discard();
        xm_log(strformat("XM:StartRecvPacket errno [%d] rc [%d]", errno, result), 99);
        return result;
    }
    show_progress(path, progress_kind::kSerialRecv, t.size, kProgressStart);
    result = do_recv(t, file);
    if (result == xm_result::kOk) result = answer_eot(t, file, path);
    if (result != xm_result::kOk) file.discard();
    show_progress(path, progress_kind::kSerialRecv, t.size, kProgressEnd);
    if (result == xm_result::kOk) {
        xm_log("RECV SUCCESSFUL", 0);
    } else {
        xm_log(strformat("RECV ERROR  RC : %d  ERRNO : %d", result, errno), 0);
    }
    return result;
}

void xm_set_debug(int on) {
    g_debug.store(on != 0 ? 1 : 0);
}

int xm_debug() {
    return g_debug.load();
}

void xm_set_timing(const XmTiming& timing) {
    g_timing = timing;
}

void xm_reset() {
    g_timing = XmTiming{};
    g_debug = 0;
}

}  // namespace ql
