#include "tests/support/TrustedRoot.h"

namespace testing_support {
namespace {
// The local machine's root store: adding to it asks nobody, unlike the
// current user's.
fw::UniqueCertStore OpenRootStore() {
    return fw::UniqueCertStore(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root"));
}
}  // namespace

TrustedRoot::TrustedRoot(const std::vector<BYTE>& der) : m_der(der) {
    const fw::UniqueCertStore root = OpenRootStore();
    m_added = root && CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, m_der.data(),
                                                       static_cast<DWORD>(m_der.size()),
                                                       CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
}

TrustedRoot::~TrustedRoot() {
    if (!m_added) return;
    const fw::UniqueCertStore root = OpenRootStore();
    PCCERT_CONTEXT added = CertCreateCertificateContext(X509_ASN_ENCODING, m_der.data(), static_cast<DWORD>(m_der.size()));
    if (!root || !added) return;
    if (PCCERT_CONTEXT stored = CertFindCertificateInStore(root.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                           added, nullptr))
        CertDeleteCertificateFromStore(stored);  // frees `stored`
    CertFreeCertificateContext(added);
}

}  // namespace testing_support
