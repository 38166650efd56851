// network/tls.h on OpenSSL 3.
//
// OpenSSL never touches the socket itself: a small BIO moves the bytes with
// the platform layer's calls that never wait, and every wait (for the
// handshake, a read, room to write) is the socket layer's stop-aware wait
// with its deadline. So the same code serves every OS the platform layer
// serves, and a silent server cannot hold a TLS call longer than a plain
// one.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <vector>

#include "../socket_wait.h"
#include "network/tls.h"
#include "platform/cert_store.h"
#include "platform/sockets.h"

namespace ql {

struct TlsChannel {
    SSL* ssl = nullptr;
    SSL_CTX* ctx = nullptr;
    SocketHandle socket = kNoSocket;
    // The session that the next connection resuming from this one takes:
    // the newest ticket that arrived here or on a connection that resumed
    // from this one (a server may accept each TLS 1.3 ticket only once),
    // else this connection's own session.
    SSL_SESSION* next_session = nullptr;
    // The channel this one resumed from, which gets its session back.
    TlsChannel* parent = nullptr;
};

namespace {

// ---- the BIO over a platform socket ----

int bio_write(BIO* bio, const char* bytes, int length) {
    BIO_clear_retry_flags(bio);
    auto s = static_cast<SocketHandle>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    long n = platform::socket_send(s, bytes, static_cast<size_t>(length));
    if (n < 0 && platform::socket_would_block()) BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int bio_read(BIO* bio, char* buffer, int capacity) {
    BIO_clear_retry_flags(bio);
    auto s = static_cast<SocketHandle>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    long n = platform::socket_receive(s, buffer, static_cast<size_t>(capacity));
    if (n < 0 && platform::socket_would_block()) BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

long bio_ctrl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* socket_bio_method() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ql socket");
        BIO_meth_set_write(m, bio_write);
        BIO_meth_set_read(m, bio_read);
        BIO_meth_set_ctrl(m, bio_ctrl);
        return m;
    }();
    return method;
}

BIO* socket_bio(SocketHandle s) {
    BIO* bio = BIO_new(socket_bio_method());
    if (bio == nullptr) return nullptr;
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(s)));
    BIO_set_init(bio, 1);
    return bio;
}

// ---- waits ----

// Waits for what the last call asked for. True when the socket is ready.
bool wait_for(SocketHandle s, int ssl_error, int timeout_ms) {
    platform::SocketEvent event = ssl_error == SSL_ERROR_WANT_WRITE
                                      ? platform::SocketEvent::kWritable
                                      : platform::SocketEvent::kReadable;
    return wait_in_stop_slices(timeout_ms,
                               [&](int ms) { return platform::socket_wait(s, event, ms); }) > 0;
}

bool wants_io(int ssl_error) {
    return ssl_error == SSL_ERROR_WANT_READ || ssl_error == SSL_ERROR_WANT_WRITE;
}

// ---- set-up ----

// Adds the system's root certificates that OpenSSL does not read by itself
// (Windows' store; nothing on POSIX).
void add_system_roots(SSL_CTX* ctx) {
    std::vector<std::vector<uint8_t>> roots;
    platform::system_root_certificates(roots);
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    for (const auto& der : roots) {
        const unsigned char* p = der.data();
        X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        if (cert == nullptr) continue;
        X509_STORE_add_cert(store, cert);  // a duplicate is refused harmlessly
        X509_free(cert);
    }
    ERR_clear_error();
}

// A context per connection: the CA bundle may differ between opens, and an
// FTP client holds at most two connections at once.
SSL_CTX* make_context(const TlsOptions& options, std::string& why) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr) {
        why = "cannot create a TLS context";
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // Some servers end a data connection by closing the socket without a
    // close notice; the FTP reply that follows says whether the transfer
    // was complete, so such an end is not an error here.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Sessions are kept by keep_session, not in OpenSSL's cache.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    if (!options.verify) return ctx;
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    int ok = 0;
    if (options.ca_file.empty()) {
        ok = SSL_CTX_set_default_verify_paths(ctx);
        add_system_roots(ctx);
    } else {
        ok = SSL_CTX_load_verify_locations(ctx, options.ca_file.c_str(), nullptr);
    }
    if (ok != 1) {
        why = options.ca_file.empty() ? "cannot load the system's CA certificates"
                                      : "cannot load the CA file " + options.ca_file;
        SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

// Names the host to check and, for a name, to send as SNI.
bool set_host(SSL* ssl, const TlsOptions& options) {
    std::string host = strip_brackets(options.host);
    platform::IpAddress literal;
    bool is_address = platform::parse_ip(host, literal);
    if (!is_address && SSL_set_tlsext_host_name(ssl, host.c_str()) != 1) return false;
    if (!options.verify) return true;
    if (is_address) return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    return SSL_set1_host(ssl, host.c_str()) == 1;
}

// Why a handshake failed, in words for the log.
std::string failure_reason(SSL* ssl, int ssl_error, bool timed_out, int& code) {
    long verify = SSL_get_verify_result(ssl);
    if (verify != X509_V_OK) {
        code = tls_result::kVerify;
        return std::string("certificate refused: ") + X509_verify_cert_error_string(verify);
    }
    code = tls_result::kHandshake;
    if (timed_out) return "handshake timed out";
    unsigned long e = ERR_peek_last_error();
    if (e != 0) {
        const char* reason = ERR_reason_error_string(e);
        return std::string("handshake failed: ") + (reason != nullptr ? reason : "unknown");
    }
    if (ssl_error == SSL_ERROR_SYSCALL || ssl_error == SSL_ERROR_ZERO_RETURN)
        return "handshake failed: the server closed the connection";
    return "handshake failed";
}

// A session (a TLS 1.3 ticket) arrived: it becomes the one the next
// connection resuming from the channel (or from the channel this one
// resumed from) takes. Keeps the reference OpenSSL hands over.
int keep_session(SSL* ssl, SSL_SESSION* session) {
    auto* channel = static_cast<TlsChannel*>(SSL_get_app_data(ssl));
    TlsChannel* owner = channel->parent != nullptr ? channel->parent : channel;
    SSL_SESSION_free(owner->next_session);
    owner->next_session = session;
    return 1;
}

void free_channel(TlsChannel* channel) {
    if (channel == nullptr) return;
    SSL_SESSION_free(channel->next_session);
    SSL_free(channel->ssl);
    SSL_CTX_free(channel->ctx);
    delete channel;
}

}  // namespace

bool tls_available() {
    return true;
}

std::string tls_library() {
    return OpenSSL_version(OPENSSL_VERSION);
}

int tls_connect(SocketHandle s, const TlsOptions& options, TlsChannel* resume, TlsChannel*& out,
                int timeout_ms, std::string& why) {
    out = nullptr;
    ERR_clear_error();
    auto* channel = new TlsChannel;
    channel->socket = s;
    // A connection that resumes another shares its context, and with it the
    // trusted CAs: the system's roots are read once per FTP open, not again
    // for every transfer (on Windows that is the whole ROOT store, which
    // takes long enough to slow every file down).
    if (resume != nullptr && SSL_CTX_up_ref(resume->ctx) == 1) {
        channel->ctx = resume->ctx;
    } else {
        channel->ctx = make_context(options, why);
    }
    if (channel->ctx == nullptr) {
        delete channel;
        return tls_result::kSetup;
    }
    channel->ssl = SSL_new(channel->ctx);
    BIO* bio = channel->ssl != nullptr ? socket_bio(s) : nullptr;
    if (bio == nullptr || !set_host(channel->ssl, options)) {
        if (bio != nullptr) BIO_free(bio);
        free_channel(channel);
        why = "cannot set up the TLS connection";
        return tls_result::kSetup;
    }
    SSL_set_bio(channel->ssl, bio, bio);
    SSL_set_app_data(channel->ssl, channel);
    SSL_CTX_sess_set_new_cb(channel->ctx, keep_session);
    if (resume != nullptr) {
        channel->parent = resume;
        SSL_SESSION* session = resume->next_session;
        if (session != nullptr) SSL_SESSION_up_ref(session);
        if (session == nullptr) session = SSL_get1_session(resume->ssl);
        if (session != nullptr) {
            SSL_set_session(channel->ssl, session);
            SSL_SESSION_free(session);
        }
    }
    for (;;) {
        int rc = SSL_connect(channel->ssl);
        if (rc == 1) break;
        int err = SSL_get_error(channel->ssl, rc);
        bool timed_out = wants_io(err) && !wait_for(s, err, timeout_ms);
        if (!wants_io(err) || timed_out) {
            int code = tls_result::kHandshake;
            why = failure_reason(channel->ssl, err, timed_out, code);
            free_channel(channel);
            return code;
        }
    }
    out = channel;
    return tls_result::kOk;
}

int tls_read(TlsChannel* channel, void* buffer, size_t capacity, int timeout_ms, int& count) {
    count = 0;
    if (channel == nullptr) return tls_result::kReceive;
    SocketHandle s = channel->socket;
    for (;;) {
        size_t n = 0;
        if (SSL_read_ex(channel->ssl, buffer, capacity, &n) == 1) {
            count = static_cast<int>(n);
            return tls_result::kOk;
        }
        int err = SSL_get_error(channel->ssl, 0);
        if (err == SSL_ERROR_ZERO_RETURN) return tls_result::kOk;
        if (!wants_io(err) || !wait_for(s, err, timeout_ms)) return tls_result::kReceive;
    }
}

int tls_write_all(TlsChannel* channel, const void* bytes, size_t length, int timeout_ms) {
    if (channel == nullptr) return tls_result::kSend;
    SocketHandle s = channel->socket;
    const char* p = static_cast<const char*>(bytes);
    size_t done = 0;
    while (done < length) {
        size_t n = 0;
        if (SSL_write_ex(channel->ssl, p + done, length - done, &n) == 1) {
            done += n;
            continue;
        }
        int err = SSL_get_error(channel->ssl, 0);
        if (!wants_io(err) || !wait_for(s, err, timeout_ms)) return tls_result::kSend;
    }
    return tls_result::kOk;
}

void tls_close(TlsChannel*& channel, int timeout_ms) {
    if (channel == nullptr) return;
    SocketHandle s = channel->socket;
    // Our close notice tells an upload's server that all the data came. Then
    // wait for the server's notice or its close: closing a socket with
    // unread bytes (TLS 1.3 session tickets the server sent after the
    // handshake) resets the connection, and a reset makes the server drop
    // upload data it has not read yet.
    for (;;) {
        int rc = SSL_shutdown(channel->ssl);
        if (rc == 1) break;
        if (rc == 0) continue;  // sent ours; the next call reads theirs
        int err = SSL_get_error(channel->ssl, rc);
        if (!wants_io(err) || !wait_for(s, err, timeout_ms)) break;
    }
    free_channel(channel);
    channel = nullptr;
}

}  // namespace ql
