// SystemTrust on Windows: the CA goes into the current user's "Root"
// certificate store (the registry store itself: wine reports a delete
// through the "ROOT" collection as done but keeps the certificate), which
// the collection that the TLS backend reads includes, and out again.
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

HCERTSTORE open_user_root() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                         L"Root");
}

// Deletes every certificate with the subject of der: the one added here,
// and one that an earlier run which ended abruptly left (the test CA is made
// anew each run; an old one under the same name would be found first).
void remove_same_subject(HCERTSTORE store, const std::string& der) {
    PCCERT_CONTEXT wanted =
        CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                     static_cast<DWORD>(der.size()));
    if (wanted == nullptr) return;
    for (int i = 0; i < 100; ++i) {
        PCCERT_CONTEXT found =
            CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                       &wanted->pCertInfo->Subject, nullptr);
        if (found == nullptr || !CertDeleteCertificateFromStore(found)) break;  // frees found
    }
    CertFreeCertificateContext(wanted);
}

}  // namespace

SystemTrust::SystemTrust(const std::string& ca_pem_file) {
    std::vector<BYTE> der = first_certificate(read_whole_file(ca_pem_file));
    if (der.empty()) {
        error_ = "no certificate in " + ca_pem_file;
        return;
    }
    HCERTSTORE store = open_user_root();
    if (store == nullptr) {
        error_ = "cannot open the user's Root store";
        return;
    }
    std::string bytes(der.begin(), der.end());
    remove_same_subject(store, bytes);
    if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                         static_cast<DWORD>(der.size()),
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        added_ = bytes;
    } else {
        error_ = "cannot add the CA to the Root store: error " + std::to_string(GetLastError());
    }
    CertCloseStore(store, 0);
}

SystemTrust::~SystemTrust() {
    if (added_.empty()) return;
    HCERTSTORE store = open_user_root();
    if (store == nullptr) return;
    remove_same_subject(store, added_);
    CertCloseStore(store, 0);
}

}  // namespace testing_support
