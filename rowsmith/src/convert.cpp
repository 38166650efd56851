// The inventory conversion: a byte-by-byte line reader over a read buffer,
// records collected in a write buffer, and all-or-nothing handling of the two
// files (the target goes back to its old length whenever the source is kept).
#include "rowsmith/convert.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "platform/file_handle.h"
#include "platform/files.h"
#include "source_file.h"

namespace rowsmith {

namespace {

constexpr size_t kLineLimit = 512;  // characters kept of one line
constexpr size_t kFieldLimit = 63;  // characters kept of one field
constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kFlushAt = 60 * 1024;
constexpr int kRetryDelayMs = 200;
// The inventory file may also be a device chosen by the operator (NUL,
// /dev/null); the data file is removed afterwards, so it must be a file.
// A link at the inventory file is refused, never appended through: the
// file may be a link someone else put where the operator's file belongs.
constexpr platform::ExclusiveOpen kTargetOpen{
    .read = false, .device_allowed = true, .no_link = true};

Message make_message(const char* caption, const char* what, const std::string& path, int error) {
    return {caption, std::string(what) + "\r\n" + path + "\r\nRC = " + std::to_string(error)};
}

// The state of one run: both files, the pending output and the counters.
class Run {
  public:
    Run(const std::string& source, const std::string& target, const ConvertSettings& settings)
        : source_(source), target_(target), settings_(settings) {}
    ~Run() {
        platform::file_close(in_);
        platform::file_close(out_);
    }

    ConvertOutcome go();

  private:
    int open_target();
    int copy_lines();
    void take(const char* from, const char* to);
    int end_line();
    int flush_output();
    int finish();
    int fail(int result, int error, const Message& message);
    void tell(const Message& message) const {
        if (settings_.show) settings_.show(message);
    }

    const std::string& source_;
    const std::string& target_;
    const ConvertSettings& settings_;
    platform::FileHandle in_ = platform::kNoFile;
    platform::FileHandle out_ = platform::kNoFile;
    int64_t target_start_ = 0;  // target length before this run
    int64_t source_read_ = 0;   // bytes read from the source
    int64_t tail_from_ = 0;     // offset just past the last line feed
    bool header_due_ = false;
    bool target_touched_ = false;
    char line_[kLineLimit];
    size_t line_length_ = 0;
    std::string output_;
    ConvertOutcome outcome_;
};

ConvertOutcome Run::go() {
    // A first look, so that a missing data file creates no inventory file.
    int error = platform::file_open_shared_read(source_, in_);
    platform::file_close(in_);
    if (error != 0) {
        fail(kSourceOpenFailed, error, open_failed_message(source_, error));
        return outcome_;
    }
    int result = open_target();
    // The data file is read only while the inventory file is held: a run
    // that waited for the lock finds what the run before it left, which may
    // be nothing at all, and never converts the same lines again.
    if (result == kConverted) {
        error = platform::file_open_shared_read(source_, in_);
        if (error != 0)
            result = fail(kSourceOpenFailed, error, open_failed_message(source_, error));
    }
    if (result == kConverted) result = copy_lines();
    if (result == kConverted) result = finish();
    if (result != kConverted && target_touched_ && out_ != platform::kNoFile) {
        // Keep the inventory file as it was, so the kept source converts once.
        if (platform::file_truncate(out_, target_start_) == 0) platform::file_flush(out_);
        outcome_.lines = 0;
    }
    outcome_.result = result;
    return outcome_;
}

int Run::fail(int result, int error, const Message& message) {
    outcome_.result = result;
    outcome_.system_error = error;
    tell(message);
    return result;
}

// Opens the target, retrying while another program holds it.
int Run::open_target() {
    int attempts = settings_.open_attempts > 0 ? settings_.open_attempts : 1;
    int error = 0;
    bool busy = false;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        error = platform::file_open_exclusive(target_, kTargetOpen, out_, busy);
        if (error == 0 || !busy) break;
        if (attempt == attempts) break;
        if (settings_.wait_before_retry)
            settings_.wait_before_retry();
        else
            platform::sleep_ms(kRetryDelayMs);
    }
    if (error == 0) error = platform::file_seek_end(out_, target_start_);
    if (error != 0) {
        return fail(busy ? kTargetLocked : kTargetOpenFailed, error,
                    open_failed_message(target_, error));
    }
    // Decided while the file is held, so a run that waited for the lock
    // does not add a second header behind the first run's records.
    header_due_ = target_start_ == 0;
    return kConverted;
}

int Run::copy_lines() {
    char chunk[kReadChunk];
    output_.reserve(kFlushAt + 2 * kLineLimit);
    for (;;) {
        size_t got = 0;
        int error = platform::file_read_some(in_, chunk, sizeof chunk, got);
        if (error != 0) return fail(kSourceReadFailed, error, read_failed_message(source_, error));
        if (got == 0) break;
        // Line by line through the chunk; a line may go on in the next one.
        const char* end = chunk + got;
        for (const char* at = chunk; at < end;) {
            const char* feed = static_cast<const char*>(std::memchr(at, '\n', end - at));
            take(at, feed ? feed : end);
            if (!feed) break;
            tail_from_ = source_read_ + (feed - chunk) + 1;
            int result = end_line();
            if (result != kConverted) return result;
            at = feed + 1;
        }
        source_read_ += static_cast<int64_t>(got);
    }
    return flush_output();
}

// Adds the bytes [from, to) of one line, skipping carriage returns, up to the
// line limit.
void Run::take(const char* from, const char* to) {
    size_t room = kLineLimit - line_length_;
    size_t count = static_cast<size_t>(to - from);
    if (room == 0 || count == 0) return;
    if (!std::memchr(from, '\r', count)) {
        count = std::min(count, room);
        std::memcpy(line_ + line_length_, from, count);
        line_length_ += count;
        return;
    }
    for (; from < to && line_length_ < kLineLimit; ++from)
        if (*from != '\r') line_[line_length_++] = *from;
}

int Run::end_line() {
    if (outcome_.lines == 0 && header_due_) {
        const std::string& header = header_line();
        size_t written = 0;
        target_touched_ = true;
        int error = platform::file_write_all(out_, header.data(), header.size(), written);
        if (error != 0)
            return fail(kHeaderWriteFailed, error, write_failed_message(target_, error));
    }
    append_record(line_, line_length_, output_);
    ++outcome_.lines;
    line_length_ = 0;
    return output_.size() >= kFlushAt ? flush_output() : kConverted;
}

int Run::flush_output() {
    if (output_.empty()) return kConverted;
    size_t written = 0;
    target_touched_ = true;
    int error = platform::file_write_all(out_, output_.data(), output_.size(), written);
    output_.clear();
    if (error != 0) return fail(kRecordWriteFailed, error, write_failed_message(target_, error));
    return kConverted;
}

// Makes the records durable, then takes the converted lines out of the source.
int Run::finish() {
    if (outcome_.lines == 0) return kConverted;
    int error = platform::file_flush(out_);
    if (error == 0) error = platform::flush_folder_of(target_);
    if (error != 0) return fail(kRecordWriteFailed, error, write_failed_message(target_, error));
    error = remove_source(source_, in_, tail_from_, source_read_);
    if (error != 0) return fail(kSourceRemoveFailed, error, remove_failed_message(source_, error));
    error = platform::file_close(out_);
    if (error != 0) {
        // The source is already gone; the records were flushed before.
        outcome_.system_error = error;
    }
    return kConverted;
}

}  // namespace

ConvertOutcome convert(const std::string& source, const std::string& target,
                       const ConvertSettings& settings) {
    Run run(source, target, settings);
    return run.go();
}

int64_t file_length(const std::string& path) {
    return std::max<int64_t>(platform::file_size(path), 0);
}

const std::string& header_line() {
    static const std::string header =
        "TAG_NUMBER,SERIAL_ID,ASSET_ID,DEPTID,MODEL,LOCATION,AREA_ID,DESCR,CUSTODIAN,EMPLID,"
        "MANUFACTURER,MATCH_STATUS,REVIEW_SW,HDWR_SOFTWR_SW,IP_ADDRESS,IP_ALIAS,SOFTWARE_VERSION,"
        "IT_ASSET_ID,SCAN_BUSINESS_UNIT,HAND_HELD_OPERATOR,COMMENTS\r\n";
    return header;
}

void append_record(const char* line, size_t length, std::string& out) {
    // The line is text: a NUL byte ends it, as it would a C string.
    const void* nul = std::memchr(line, '\0', length);
    if (nul) length = static_cast<size_t>(static_cast<const char*>(nul) - line);
    const char* end = line + length;
    const char* comma = static_cast<const char*>(std::memchr(line, ',', length));
    const char* first_end = comma ? comma : end;
    const char* second = comma ? comma + 1 : end;
    const char* second_comma =
        static_cast<const char*>(std::memchr(second, ',', static_cast<size_t>(end - second)));
    const char* second_end = second_comma ? second_comma : end;

    size_t first_length = std::min<size_t>(static_cast<size_t>(first_end - line), kFieldLimit);
    size_t second_length = std::min<size_t>(static_cast<size_t>(second_end - second), kFieldLimit);
    out.append(second, second_length);
    out.append(",,NEXT,,,");
    out.append(line, first_length);
    out.append(",,,,,,O,N,,,,,,,,\r\n");
}

Message open_failed_message(const std::string& path, int system_error) {
    return make_message("OPEN ERROR", "File open failed", path, system_error);
}

Message write_failed_message(const std::string& path, int system_error) {
    return make_message("WRITE ERROR", "File write failed", path, system_error);
}

Message read_failed_message(const std::string& path, int system_error) {
    return make_message("READ ERROR", "File read failed", path, system_error);
}

Message remove_failed_message(const std::string& path, int system_error) {
    return make_message("DELETE ERROR", "File delete failed", path, system_error);
}

}  // namespace rowsmith
