// SystemTrust on Linux: SSL_CERT_FILE, which OpenSSL's default paths read.
#include <cstdlib>

#include "system_trust.h"

namespace testing_support {

SystemTrust::SystemTrust(const std::string& ca_pem_file) {
    const char* before = std::getenv("SSL_CERT_FILE");
    added_ = before != nullptr ? before : "";
    if (::setenv("SSL_CERT_FILE", ca_pem_file.c_str(), 1) != 0) error_ = "setenv failed";
}

SystemTrust::~SystemTrust() {
    if (added_.empty()) {
        ::unsetenv("SSL_CERT_FILE");
    } else {
        ::setenv("SSL_CERT_FILE", added_.c_str(), 1);
    }
}

}  // namespace testing_support
