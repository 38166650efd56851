// Makes a test CA trusted the way the system's own CAs are, for the tests of
// verification without a CA file, and undoes it.
//
// Linux: OpenSSL's default paths honour SSL_CERT_FILE, which is pointed at
// the CA for the test (the system's folder stays trusted beside it).
// Windows: the CA goes into the current user's "Root" store and is deleted again
// (under wine no confirmation dialog appears; a real Windows would ask).
#pragma once

#include <string>

namespace testing_support {

class SystemTrust {
  public:
    // Trusts the CA certificates of the PEM file; ok() says whether that
    // worked, error() why not.
    explicit SystemTrust(const std::string& ca_pem_file);
    ~SystemTrust();  // undoes it
    SystemTrust(const SystemTrust&) = delete;
    SystemTrust& operator=(const SystemTrust&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

  private:
    std::string added_;  // what the destructor undoes (per system)
    std::string error_;
};

}  // namespace testing_support
