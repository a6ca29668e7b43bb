// The framing of TLS records as they arrive from a server, before Secure Channel sees them:
// the header's checks, whole records and the partial one after them, and the version a server
// answers with. Every byte is the server's: nothing here trusts a length it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pw {

// A record's content type, its first byte: change_cipher_spec, alert, handshake,
// application_data and heartbeat are all a peer may send.
constexpr unsigned char kTlsRecordChangeCipherSpec = 20;
constexpr unsigned char kTlsRecordAlert = 21;
constexpr unsigned char kTlsRecordHandshake = 22;
constexpr unsigned char kTlsRecordHeartbeat = 24;
constexpr size_t kTlsRecordHeader = 5;

// The largest TLS record a peer may send: the 5-byte header, 16 KiB of data and 2 KiB of
// expansion.
constexpr size_t kMaxTlsRecord = kTlsRecordHeader + 16384 + 2048;

// Protocol versions as the wire writes them.
constexpr uint16_t kSsl30 = 0x0300;
constexpr uint16_t kTls10 = 0x0301;
constexpr uint16_t kTls11 = 0x0302;
constexpr uint16_t kTls12 = 0x0303;
constexpr uint16_t kTls13 = 0x0304;

// The length of the whole record at the front of bytes, 0 while it has not all come. Raises
// ETlsError when the front is no TLS record header (a clear-text server, say) or announces
// more than kMaxTlsRecord.
size_t FirstTlsRecordLength(std::string_view bytes);

// How many bytes at the front are whole records; what follows is a record still arriving.
// Raises as FirstTlsRecordLength for any record header among them.
size_t WholeTlsRecordsLength(std::string_view bytes);

// The version a server chose, from the ServerHello at the front of its first handshake record,
// or from the record header of an alert it sent instead; nothing while neither has come.
std::optional<uint16_t> ServerOfferedVersion(std::string_view bytes);

// "TLS 1.0"; "version 0x0205" for one without a name.
std::string TlsVersionName(uint16_t version);

// The version of Secure Channel's protocol bit (SP_PROT_*_CLIENT or _SERVER), 0 for none known.
uint16_t TlsVersionOfProtocol(uint32_t protocol);

// "the server offers only TLS 1.0": why a session below TLS 1.2 is refused.
std::string OldTlsVersionText(uint16_t version);

} // namespace pw
