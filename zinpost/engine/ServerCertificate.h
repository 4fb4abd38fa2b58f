#pragma once
// Who an https server is. The system may trust its certificate for the host
// (a public CA, or a company's own CA installed in Windows, a TLS-inspecting
// proxy's among them); otherwise only the certificate pinned for the server
// at first contact will do. Which one a request met is judged after its head
// went out and before its body (a password, a document) follows.
#include <windows.h>
#include <wincrypt.h>

#include <string>

enum class ServerIdentity {
    Trusted,       // the system trusts the chain for the host
    Pinned,        // not trusted, but the pinned certificate
    FirstContact,  // not trusted, and nothing pinned yet
    Changed,       // not trusted, and not the pinned certificate
};

// The SHA-256 of a certificate's DER bytes in lower-case hex (as openssl's
// fingerprint, without colons); "" when it cannot be computed.
std::string CertificateSha256(PCCERT_CONTEXT certificate);

// Whether the system trusts `chain` for a TLS server named `host`: the root,
// the dates and the name, whatever the request ignored to get this far.
// Revocation that cannot be checked does not count against it.
bool TrustedForServer(PCCERT_CHAIN_CONTEXT chain, const std::string& host);

// Whether a send failed on the server's certificate (and not on the network).
bool IsCertificateProblem(DWORD error);

// The server's identity from the chain its connection presented; `sha256`
// gets the leaf's hash. A missing chain reads as a changed certificate.
ServerIdentity JudgeServer(PCCERT_CHAIN_CONTEXT chain, const std::string& host, const std::string& pin,
                           std::string& sha256);
