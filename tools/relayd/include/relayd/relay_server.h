// A scriptable relay server on the loopback interface, for tests, the
// benchmark and the relayd tool.
//
// It speaks the relay protocol from the server's side: length-prefixed,
// sequence-numbered frames with three-digit codes on a command connection
// and on data connections it hands out ports for. Remote files live in a
// folder given at construction (the "remote directory"). Every request is
// recorded, every 101 notification is recorded, and every frame's sequence
// byte is checked against the counter the server keeps in step with the
// client (it takes the first byte it sees as the starting value).
//
// It can be told to misbehave: refuse a request code, stay silent, drop the
// connection, answer with wrong sequence bytes, answer a load with 888 for
// ever, stop a stream download early, or accept a stream upload and never
// read it.
//
// Every remote name stays inside the root: a name that is absolute, climbs
// out with "..", or leads out through a symbolic link is refused like a
// missing file ("550...").
//
// All members are safe to call from the test thread while the server's
// threads run.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets.h"

namespace relayd {

// One frame received by the server.
struct Request {
    bool data = false;     // on a data connection (else the command connection)
    uint8_t sequence = 0;  // the sequence byte it carried
    std::string payload;   // the payload, cut to kRecordedPayload bytes
    size_t length = 0;     // the full payload length
};

inline constexpr size_t kRecordedPayload = 96;

// Largest body (sequence byte plus payload) the server accepts.
inline constexpr size_t kMaxBody = 2052;

class RelayServer {
  public:
    // root: the folder that holds the remote files; it must exist.
    explicit RelayServer(std::string root);
    ~RelayServer();
    RelayServer(const RelayServer&) = delete;
    RelayServer& operator=(const RelayServer&) = delete;

    // Listens on 127.0.0.1 (port 0 = any free port) for the command
    // connection and on a second free port for data connections. Returns 0
    // or the system error number.
    int start(uint16_t port = 0);

    // Closes every socket and joins every thread. Called by the destructor.
    void stop();

    // The command port, as a number and as text for relay_open.
    uint16_t port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }
    uint16_t data_port() const { return data_port_; }

    // ---- Behaviour ----------------------------------------------------
    // Login text that "100" must carry; empty accepts any (default).
    void set_login(const std::string& text);
    // Answer to "099": stream mode ("000V") or packet mode ("000P").
    void set_stream(bool on);
    // Bytes per "221" reply, 1 to 1020 (default 1020).
    void set_block_size(int bytes);
    // A load ("300", "301"): answer 888 `polls` times (-1 = for ever), then
    // `final_code` with `text` after it.
    void set_load(int polls, int final_code, const std::string& text);
    // First reply field of the copy call "251" (default "CALLED <name>").
    void set_call_result(const std::string& text);
    // Whole payload of the reply to "150" instead of "000127.0.0.1,<port>".
    void set_port_reply(const std::string& payload);
    // Answers every request with `code` by "<reply_code>REFUSED" (for "530"
    // no file bytes are read after it).
    void refuse(int code, int reply_code);
    // Drops the connection when a request with `code` arrives.
    void close_on(int code);
    // Reads requests with `code` and never answers them.
    void silent_on(int code);
    // Before the reply to `code`, sends `frames` copies of it with a wrong
    // sequence byte. With 1 the right reply follows; with 2 or more nothing
    // else is sent (the client gives up) and the counter does not move.
    void bad_sequence_on(int code, int frames);
    // A stream download ("521") sends at most `bytes` bytes, then closes the
    // data connection (close = true) or goes silent.
    void stream_stop_after(long bytes, bool close);
    // A stream upload ("530") is accepted with "000", and then not one byte
    // of the file is read (the receive buffer is kept small, so the client's
    // sends soon find no room). The connection stays open until the client
    // closes it or the server stops.
    void stream_never_read(bool on);
    // Answers requests with `code` only once release_holds is called (or
    // the server stops), so that a test can step in while the client waits.
    void hold_on(int code);
    void release_holds();
    // Drops every fault set by refuse, close_on, silent_on, bad_sequence_on,
    // stream_stop_after and stream_never_read.
    void clear_faults();

    // ---- Observations -------------------------------------------------
    std::vector<Request> requests() const;
    // Payload codes of the requests, in order ("100", "150", "099", ...),
    // without notifications.
    std::vector<std::string> codes() const;
    // Payloads of the 101 notifications, in order ("101230A.TXT", ...).
    std::vector<std::string> notifications() const;
    // Frames whose sequence byte did not match the server's counter.
    int sequence_errors() const;
    // Command and data connections accepted so far.
    int command_connections() const;
    int data_connections() const;
    // Data connections open now.
    int open_data_connections() const;
    // Completed loads, uploads, downloads as seen by the server.
    int uploads_completed() const;
    // Blocks until `count` requests (notifications included) have arrived or
    // `ms` milliseconds passed; returns whether they arrived.
    bool wait_for_requests(size_t count, int ms) const;
    // Blocks until `count` notifications have arrived or `ms` milliseconds
    // passed; returns whether they arrived.
    bool wait_for_notifications(size_t count, int ms) const;
    // Forgets the recorded requests and notifications.
    void clear_records();

    // Full path of a remote file in the root folder.
    std::string path(const std::string& name) const;

    // The path a remote name stands for (relative to the current remote
    // directory, '\\' read as '/'), or "" when it would lead outside the
    // root.
    std::string resolve(const std::string& name) const;

  private:
    struct Conn;
    void accept_loop(platform::SocketHandle listener, bool data);
    void serve(std::shared_ptr<Conn> conn);
    bool handle(Conn& c, int code, const std::string& payload);
    bool reply(Conn& c, int code_of_request, const std::string& payload);
    bool send_frame(Conn& c, uint8_t sequence, const std::string& payload);
    void record(Conn& c, uint8_t sequence, const std::string& payload);
    uint8_t check_sequence(uint8_t got);
    void check_notification_sequence(Conn& c, uint8_t got);
    std::string confined(const std::string& relative) const;
    void hold_unread(Conn& c);
    void close_read_file(Conn& c);

    bool handle_command(Conn& c, int code, const std::string& arg);
    bool handle_data(Conn& c, int code, const std::string& arg);
    bool stream_upload(Conn& c, const std::string& arg);
    bool stream_download(Conn& c);
    std::string listing();

    std::string root_;
    uint16_t port_ = 0;
    uint16_t data_port_ = 0;
    platform::SocketHandle listener_ = platform::kNoSocket;
    platform::SocketHandle data_listener_ = platform::kNoSocket;
    bool running_ = false;
    std::atomic<bool> stopping_{false};  // ends the waits of the connection threads

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<std::thread> threads_;
    std::vector<std::shared_ptr<Conn>> conns_;

    // Behaviour.
    std::string login_;
    bool stream_ = true;
    int block_size_ = 1020;
    int load_polls_ = 0;
    int load_final_ = 0;
    std::string load_text_ = "LOAD DONE";
    int load_left_ = 0;
    std::string call_result_;
    std::string port_reply_;
    std::map<int, int> refuse_;
    std::map<int, bool> close_on_;
    std::map<int, bool> silent_on_;
    std::map<int, bool> hold_on_;
    std::condition_variable released_;
    std::map<int, int> bad_sequence_;
    long stream_limit_ = -1;
    bool stream_limit_close_ = true;
    bool never_read_ = false;

    // State.
    int expected_ = -1;    // next sequence byte, -1 until the first frame
    int64_t replies_ = 0;  // replies sent that moved the counter
    std::string cwd_;      // below root, "" or "sub/"
    int listing_no_ = 0;

    // Records.
    std::vector<Request> requests_;
    std::vector<std::string> notifications_;
    int sequence_errors_ = 0;
    int command_conns_ = 0;
    int data_conns_ = 0;
    int open_data_ = 0;
    int uploads_ = 0;
};

}  // namespace relayd
