#include "zinpost/engine/ServerCertificate.h"

#include "framework/Sha256.h"
#include "framework/Text.h"

#include <wininet.h>

std::string CertificateSha256(PCCERT_CONTEXT certificate) {
    if (!certificate) return std::string();
    // Over the encoded bytes: the certificate's own SHA-256 property is not
    // the same everywhere (Wine answers other bytes for it).
    BYTE hash[32];
    if (!fw::Sha256(certificate->pbCertEncoded, certificate->cbCertEncoded, hash)) return std::string();
    std::string text;
    for (BYTE b : hash) text += fw::Format("%02x", b);
    return text;
}

bool TrustedForServer(PCCERT_CHAIN_CONTEXT chain, const std::string& host) {
    if (!chain) return false;
    // The chain itself first: not every policy check counts a chain that
    // ends below any trusted root (Wine's does not).
    const DWORD allowed = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    if (chain->TrustStatus.dwErrorStatus & ~allowed) return false;
    std::wstring name = fw::AnsiToWide(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA para{};
    para.cbSize = sizeof para;
    para.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    para.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &status) && status.dwError == 0;
}

bool IsCertificateProblem(DWORD error) {
    switch (error) {
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
        return true;
    default:
        return false;
    }
}

ServerIdentity JudgeServer(PCCERT_CHAIN_CONTEXT chain, const std::string& host, const std::string& pin,
                           std::string& sha256) {
    sha256.clear();
    if (!chain || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return ServerIdentity::Changed;
    sha256 = CertificateSha256(chain->rgpChain[0]->rgpElement[0]->pCertContext);
    if (sha256.empty()) return ServerIdentity::Changed;
    if (TrustedForServer(chain, host)) return ServerIdentity::Trusted;
    if (pin.empty()) return ServerIdentity::FirstContact;
    return _stricmp(sha256.c_str(), pin.c_str()) == 0 ? ServerIdentity::Pinned : ServerIdentity::Changed;
}
