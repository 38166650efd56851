// The operating system's trusted root certificates, for a TLS library that
// cannot read the system's store by itself.
//
// POSIX systems keep the store as files (/etc/ssl/certs) that OpenSSL reads
// through its default paths, so there the list is empty. Windows keeps it
// in the certificate store "ROOT", which OpenSSL 3.0 does not read: there
// the list holds each certificate of that store.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// Fills out with the DER encoding of every trusted root certificate the
// TLS library would not find by itself (none on POSIX). Returns 0, or -1
// when the store cannot be opened (out is then empty).
int system_root_certificates(std::vector<std::vector<uint8_t>>& out);

}  // namespace platform
