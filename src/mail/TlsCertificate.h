// The check of a server's certificate, our own so that it decides the same on every Windows:
// pins when the settings give any, else the chain to a trusted root, the name or address, and
// revocation as far as the cache knows it. The chain is built with bounded URL retrieval, since
// it runs on the window thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/CertificatePins.h"
#include "mail/agsspi.h"

namespace pw {

// How long one URL retrieval (a missing intermediate) may take while the chain is built.
constexpr DWORD kChainUrlRetrievalTimeoutMs = 3000;

// The SHA-256 of the certificate's encoding and of its SubjectPublicKeyInfo, as lowercase hex,
// from the platform's hash; empty when it cannot be taken.
std::string CertificateSha256(PCCERT_CONTEXT cert);
std::string PublicKeySha256(PCCERT_CONTEXT cert);

// Whole days from now until the certificate's end (negative once it has ended).
int CertificateDaysLeft(PCCERT_CONTEXT cert, const FILETIME& now);

// Raises ECertificateError with the user's words when the certificate does not pass: with pins,
// unless one of them names it; without, unless its chain, name (or address: host is then the
// dotted address connected) and revocation status pass.
void CheckServerCertificate(PCCERT_CONTEXT cert, const std::string& host,
                            const std::vector<CertificatePin>& pins);

} // namespace pw
