// Relay file transfers: uploads and downloads in stream and packet mode,
// and the upload with a copy call.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/log.h"
#include "network/local_file.h"
#include "platform/files.h"
#include "relay_internal.h"
#include "terminal/progress.h"

namespace ql {

using relay_detail::exchange;
using relay_detail::log_line;
using relay_detail::notify;
using relay_detail::RelayState;
using relay_detail::reply_text;
using relay_detail::state;

namespace {

// Asks the relay server for the transfer mode of this transfer.
void query_mode() {
    RelayState& st = state();
    st.stream = false;
    size_t length = 0;
    int code = 0;
    int rc = exchange(st.data, "099", length, code);
    st.stream = rc == relay_result::kOk && code == 0 && length >= 4 && st.reply[3] == 'V';
}

// Result of an exchange judged by its reply: the transport error, else the
// reply code.
int judged(int rc, int code) {
    return rc != relay_result::kOk ? rc : code;
}

int upload_stream(std::FILE* f, const std::string& local, const std::string& remote, int64_t size) {
    RelayState& st = state();
    log_line(strformat("IP:FileSend Stream Xmit [%s]", remote.c_str()));
    int64_t count = 0;
    size_t length = 0;
    int code = 0;
    int rc =
        exchange(st.data, strformat("530%8.8lld%s", static_cast<long long>(size), remote.c_str()),
                 length, code);
    if (rc == relay_result::kOk && code == 0) {
        notify("101230", remote);
        for (;;) {
            // A stop request ends the upload as a broken connection would.
            if (socket_stop_requested()) break;
            size_t n = std::fread(st.piece.data(), 1, st.piece.size(), f);
            if (n == 0) break;
            size_t sent = 0;
            int send_rc = relay_detail::send_all(st.data, st.piece.data(), n, sent);
            count += static_cast<int64_t>(sent);
            if (send_rc != relay_result::kOk) break;
            show_progress(local, progress_kind::kRelaySend, size, count);
        }
        log_line(
            strformat("IP:FileSend Stream: Complete: Bytes=[%lld]", static_cast<long long>(count)));
    }
    std::fclose(f);

    int result =
        relay_receive_frame(st.data, st.reply.data(), st.reply.size(), length, st.final_timeout_ms);
    if (result == relay_result::kOk) result = relay_reply_code(st.reply.data(), length);
    if (count != size) {
        log_line(strformat("IP:Socket Bytes Send Err: Size=%lld Count=%lld",
                           static_cast<long long>(size), static_cast<long long>(count)));
        result = relay_result::kFailed;
    }
    notify(result == relay_result::kOk ? "101232" : "101233", remote);
    return result;
}

int upload_packet(std::FILE* f, const std::string& local, const std::string& remote, int64_t size) {
    RelayState& st = state();
    log_line(strformat("IP:FileSend Packet Xmit [%s]", remote.c_str()));
    size_t length = 0;
    int code = 0;
    int rc = exchange(st.data, "230" + remote, length, code);
    int result = judged(rc, code);
    if (result == relay_result::kOk) {
        notify("101230", remote);
        int64_t count = 0;
        std::memcpy(st.block.data(), "231", 3);
        for (;;) {
            if (socket_stop_requested()) {
                result = relay_result::kFailed;
                break;
            }
            size_t n = std::fread(st.block.data() + 3, 1, kRelayUploadBlock, f);
            if (n == 0) break;
            rc = exchange(st.data, st.block.data(), n + 3, length, code);
            count += static_cast<int64_t>(n);
            result = judged(rc, code);
            if (result != relay_result::kOk) break;
            show_progress(local, progress_kind::kRelaySend, size, count);
        }
        // A file that cannot be read to its end must not be closed remotely
        // as if it were complete.
        if (result == relay_result::kOk && std::ferror(f)) result = relay_result::kFailed;
        log_line(
            strformat("IP:FileSend Packet: Complete: Bytes=[%lld]", static_cast<long long>(count)));
    }
    std::fclose(f);
    show_progress(local, progress_kind::kRelaySend, size, kProgressEnd);
    if (result == relay_result::kOk) {
        rc = exchange(st.data, "232" + remote, length, code);
        result = judged(rc, code);
    }
    notify(result == relay_result::kOk ? "101232" : "101233", remote);
    return result;
}

int download_stream(std::FILE* f, const std::string& local, const std::string& remote,
                    int64_t size) {
    RelayState& st = state();
    log_line(strformat("IP:FileRecv Stream Xmit [%s][%lld]", remote.c_str(),
                       static_cast<long long>(size)));
    int result = relay_result::kOk;
    int64_t count = 0;
    int rc = relay_send_frame(st.data, "521", 3);
    if (rc != relay_result::kOk) {
        log_line(strformat("IP:Socket Write Error RC=%d", rc));
        result = relay_result::kFailed;
    } else {
        // An empty file needs no read: waiting for bytes that never come
        // would only cost the time-out.
        while (count < size) {
            // Never more than the announced size: whatever follows the file
            // on the connection is not part of it.
            const size_t want = static_cast<size_t>(
                std::min<int64_t>(size - count, static_cast<int64_t>(st.piece.size())));
            int n = 0;
            rc = tcp_receive(st.data, st.piece.data(), want, st.reply_timeout_ms, n);
            // A stop request ends the download as a broken connection would.
            if (rc == socket_result::kOk && n > 0 && socket_stop_requested()) {
                rc = socket_result::kReceive;
                n = 0;
            }
            if (rc != socket_result::kOk) {
                log_line(strformat("IP:Socket Read Err RC=%d bytes=%d", rc, n));
                break;
            }
            if (n == 0) break;
            if (std::fwrite(st.piece.data(), 1, static_cast<size_t>(n), f) !=
                static_cast<size_t>(n)) {
                log_line(strformat("IP:FileRecv File Write Err[%s] RC=%d", local.c_str(), errno));
                result = relay_result::kLocalWrite;
                break;
            }
            count += n;
            show_progress(local, progress_kind::kRelayRecv, size, count);
        }
        log_line(
            strformat("IP:FileRecv Stream: Complete: Bytes=[%lld]", static_cast<long long>(count)));
    }
    if (std::fclose(f) != 0 && result == relay_result::kOk) result = relay_result::kLocalWrite;
    if (count != size) {
        log_line(strformat("IP:Socket Bytes Recv Error: Size=%lld Count=%lld",
                           static_cast<long long>(size), static_cast<long long>(count)));
        result = relay_result::kSizeMismatch;
    }
    return result;
}

int download_packet(std::FILE* f, const std::string& local, const std::string& remote,
                    int64_t size) {
    RelayState& st = state();
    log_line(strformat("IP:FileRecv Packet Xmit [%s][%lld]", remote.c_str(),
                       static_cast<long long>(size)));
    int result = relay_result::kOk;
    bool end_of_file = false;
    int64_t count = 0;
    size_t length = 0;
    int code = 0;
    for (;;) {
        if (socket_stop_requested() ||
            exchange(st.data, "221", length, code) != relay_result::kOk) {
            result = relay_result::kFailed;
            break;
        }
        if (code == 999) {
            end_of_file = true;
            break;
        }
        if (code != 0) {
            log_line(strformat("IP:FileRecv Remote Read Err RC=%d", code));
            result = relay_result::kRemoteRead;
            break;
        }
        size_t n = length > 3 ? length - 3 : 0;
        if (std::fwrite(st.reply.data() + 3, 1, n, f) != n) {
            log_line(strformat("IP:FileRecv File Write Err[%s] RC=%d", local.c_str(), errno));
            result = relay_result::kLocalWrite;
            break;
        }
        count += static_cast<int64_t>(n);
        show_progress(local, progress_kind::kRelayRecv, size, count);
    }
    if (std::fclose(f) != 0 && result == relay_result::kOk) result = relay_result::kLocalWrite;
    log_line(
        strformat("IP:FileRecv Packet: Complete: Bytes=[%lld]", static_cast<long long>(count)));
    show_progress(local, progress_kind::kRelayRecv, size, kProgressEnd);
    if (end_of_file && result == relay_result::kOk) {
        int rc = exchange(st.data, "222" + remote, length, code);
        result = judged(rc, code);
    }
    return result;
}

// Puts a complete download in place of the local file (a link there is
// replaced, not followed).
int commit_download(platform::TempFile& temp, const std::string& local, const LocalFile* held) {
    int rc = local_download_commit(local, held, temp);
    if (rc == 0) return relay_result::kOk;
    log_line(strformat("IP:FileRecv File Write Err[%s] RC=%d", local.c_str(), rc));
    return relay_result::kLocalWrite;
}

}  // namespace

int relay_send_file(const std::string& local, const std::string& remote, LocalFile* held) {
    RelayState& st = state();
    int64_t size = 0;
    std::FILE* f = nullptr;
    // A file that cannot be read counts as empty, as the operators know it.
    if (local_upload_open(local, held, f, size) != 0 || size <= 0) {
        if (f != nullptr) std::fclose(f);
        log_line(strformat("IP:FileSend File Open Err[%s] Empty File", local.c_str()));
        return relay_result::kCannotStart;
    }
    if (relay_open_data() != relay_result::kOk) {
        std::fclose(f);
        return relay_result::kCannotStart;
    }
    query_mode();
    show_progress(local, progress_kind::kRelaySend, size, kProgressStart);
    int result =
        st.stream ? upload_stream(f, local, remote, size) : upload_packet(f, local, remote, size);
    relay_detail::close_slot(st.data);
    return result;
}

int relay_send_and_call(const std::string& local, const std::string& remote, std::string& result,
                        LocalFile* held) {
    result.clear();
    int rc = relay_send_file(local, remote, held);
    if (rc != relay_result::kOk) return rc;
    size_t length = 0;
    int code = 0;
    rc = exchange(state().command, "251" + remote, length, code);
    if (rc != relay_result::kOk) return rc;
    if (code != 0) {
        log_line(strformat("IP:Copy Call Cmd Error RC=%d", code));
        return code;
    }
    relay_split_fields(reply_text(length));
    result = state().fields[0];
    return relay_result::kOk;
}

int relay_receive_file(const std::string& local, const std::string& remote, const LocalFile* held) {
    RelayState& st = state();
    // Created exclusively for the target: nothing already there is written.
    // Only a file is replaced: a folder, a pipe or a device keeps its name.
    platform::TempFile temp;
    int create_error = local_download_begin(local, held, temp);
    if (create_error != 0) {
        log_line(strformat("IP:FileRecv File Create Err[%s] RC=%d", local.c_str(), create_error));
        return relay_result::kFailed;
    }
    std::FILE* f = temp.file;
    auto discard = [&] {
        f = nullptr;
        platform::discard_temp_file(temp);
    };
    if (relay_open_data() != relay_result::kOk) {
        discard();
        return relay_result::kCannotStart;
    }
    query_mode();

    size_t length = 0;
    int code = 0;
    int rc = exchange(st.data, "220" + remote, length, code);
    if (rc != relay_result::kOk) {
        discard();
        relay_detail::close_slot(st.data);
        notify("101223", remote);
        return rc;
    }
    if (code != 0) {
        log_line(strformat("Remote Open Err:%d", code));
        discard();
        relay_detail::close_slot(st.data);
        return relay_result::kFailed;
    }
    const int64_t size = std::strtoll(reply_text(length), nullptr, 10);
    notify("101220", remote);
    show_progress(local, progress_kind::kRelayRecv, size, kProgressStart);

    // The transfer functions close the file.
    std::FILE* out = f;
    f = nullptr;
    temp.file = nullptr;
    int result = st.stream ? download_stream(out, local, remote, size)
                           : download_packet(out, local, remote, size);
    if (result == relay_result::kOk) result = commit_download(temp, local, held);
    if (result == relay_result::kOk) {
        notify("101222", remote);
    } else {
        notify("101223", remote);
        platform::discard_temp_file(temp);
    }
    relay_detail::close_slot(st.data);
    return result;
}

}  // namespace ql
