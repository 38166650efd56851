// Windows implementation of platform/cert_store.h: every certificate of the
// system store "ROOT" (the machine's and the user's trusted roots).
// windows.h has to come before wincrypt.h.
#include <windows.h>

#include <wincrypt.h>

#include "platform/cert_store.h"

namespace platform {

int system_root_certificates(std::vector<std::vector<uint8_t>>& out) {
    out.clear();
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (store == nullptr) return -1;
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert != nullptr;
         cert = CertEnumCertificatesInStore(store, cert)) {
        if (cert->dwCertEncodingType != X509_ASN_ENCODING) continue;
        out.emplace_back(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded);
    }
    CertCloseStore(store, 0);
    return 0;
}

}  // namespace platform
