// network/tls.h for a build without a TLS library: every connect says so.
#include "network/tls.h"

namespace ql {

struct TlsChannel {};

bool tls_available() {
    return false;
}

std::string tls_library() {
    return "none";
}

int tls_connect(SocketHandle, const TlsOptions&, TlsChannel*, TlsChannel*& out, int,
                std::string& why) {
    out = nullptr;
    why = "this build of the program has no TLS library";
    return tls_result::kUnavailable;
}

int tls_read(TlsChannel*, void*, size_t, int, int& count) {
    count = 0;
    return tls_result::kReceive;
}

int tls_write_all(TlsChannel*, const void*, size_t, int) {
    return tls_result::kSend;
}

void tls_close(TlsChannel*& channel, int) {
    delete channel;
    channel = nullptr;
}

}  // namespace ql
