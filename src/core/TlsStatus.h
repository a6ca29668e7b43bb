// What a failed TLS step means to the user: the status codes that Secure Channel and the
// certificate policy give, turned into the exception of their kind. Pure, so that every Windows
// code is tested even where another platform's Secure Channel answers differently.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pw {

// Certificate chain policy results (CERT_E_*, TRUST_E_*, CRYPT_E_*).
constexpr uint32_t kCertExpired = 0x800B0101;
constexpr uint32_t kCertUntrustedRoot = 0x800B0109;
constexpr uint32_t kCertChaining = 0x800B010A;
constexpr uint32_t kCertRevoked = 0x800B010C;
constexpr uint32_t kCertNameMismatch = 0x800B010F;
constexpr uint32_t kTrustCertSignature = 0x80096004;
// Secure Channel results that speak of the certificate (SEC_E_*).
constexpr uint32_t kSecWrongPrincipal = 0x80090322;
constexpr uint32_t kSecCertUnknown = 0x80090327;
constexpr uint32_t kSecCertExpired = 0x80090328;
constexpr uint32_t kSecUntrustedRoot = 0x80090325;

// The words a user reads for each way a certificate fails.
std::string CertificateNotTrustedText();
std::string CertificateNameMismatchText(std::string_view host);
std::string CertificateExpiredText();
std::string CertificatePinMismatchText();

// The failed chain policy's status as the user's words; every status that is not an expired
// certificate or a wrong name means the certificate is not trusted.
std::string CertificatePolicyText(uint32_t status, std::string_view host);

// Raises ECertificateError with CertificatePolicyText.
[[noreturn]] void RaiseCertificatePolicyFailure(uint32_t status, std::string_view host);

// Raises the exception for a Secure Channel step that failed with status: ECertificateError
// when the status is about the server's certificate, otherwise ETlsError with the step and the
// code ("TLS handshake failed (0x80090308)").
[[noreturn]] void RaiseTlsFailure(std::string_view step, uint32_t status, std::string_view host);

// A TLS record's content type, its first byte: change_cipher_spec, alert, handshake,
// application_data and heartbeat are all a peer may send.
constexpr unsigned char kTlsRecordChangeCipherSpec = 20;
constexpr unsigned char kTlsRecordAlert = 21;
constexpr unsigned char kTlsRecordHeartbeat = 24;

// The largest TLS record a peer may send: the 5-byte header, 16 KiB of data and 2 KiB of
// expansion.
constexpr size_t kMaxTlsRecord = 5 + 16384 + 2048;

// The length of the whole record at the front of bytes, 0 while it has not all come. Raises
// ETlsError when the front is no TLS record header (a clear-text server, say) or announces
// more than kMaxTlsRecord.
size_t FirstTlsRecordLength(std::string_view bytes);

// The four bytes of a dotted IPv4 address ("127.0.0.1"); empty when the text is not one
// (a host name).
std::optional<std::array<uint8_t, 4>> DottedAddressBytes(std::string_view host);

// "0x80090308": a status as eight hex digits.
std::string StatusHex(uint32_t status);

} // namespace pw
