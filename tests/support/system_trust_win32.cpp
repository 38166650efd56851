// SystemTrust on Windows: the CA goes into the user's "ROOT" certificate
// store, where the TLS backend's root list comes from, and out again.
#include <windows.h>

#include <wincrypt.h>

#include <vector>

#include "system_trust.h"
#include "temp_dir.h"

namespace testing_support {

namespace {

// The DER bytes of the first certificate of a PEM text.
std::vector<BYTE> first_certificate(const std::string& pem) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return {};
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

}  // namespace

SystemTrust::SystemTrust(const std::string& ca_pem_file) {
    std::vector<BYTE> der = first_certificate(read_whole_file(ca_pem_file));
    if (der.empty()) {
        error_ = "no certificate in " + ca_pem_file;
        return;
    }
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (store == nullptr) {
        error_ = "cannot open the ROOT store";
        return;
    }
    if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                         static_cast<DWORD>(der.size()),
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        added_.assign(der.begin(), der.end());
    } else {
        error_ = "cannot add the CA to the ROOT store: error " + std::to_string(GetLastError());
    }
    CertCloseStore(store, 0);
}

SystemTrust::~SystemTrust() {
    if (added_.empty()) return;
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (store == nullptr) return;
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(added_.data()),
        static_cast<DWORD>(added_.size()));
    if (wanted != nullptr) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, wanted, nullptr);
        if (found != nullptr) CertDeleteCertificateFromStore(found);  // frees found
        CertFreeCertificateContext(wanted);
    }
    CertCloseStore(store, 0);
}

}  // namespace testing_support
