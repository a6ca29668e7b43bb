// Fuzzes the TLS record framing with a server's bytes: it raises nothing but ETlsError, never
// reads outside them, and whole records split the same way one record at a time.
#include "core/TlsRecord.h"

#include <cstdint>
#include <string_view>

#include "FuzzReference.h"
#include "core/Errors.h"

using pw::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    pw::ServerOfferedVersion(bytes);
    size_t whole = 0;
    try {
        whole = pw::WholeTlsRecordsLength(bytes);
    } catch (const pw::ETlsError&) {
        return 0;
    }
    Check(whole <= size, "whole records lie within the bytes");
    size_t stepped = 0;
    while (const size_t length = pw::FirstTlsRecordLength(bytes.substr(stepped))) {
        Check(length >= pw::kTlsRecordHeader && length <= pw::kMaxTlsRecord, "a record is bounded");
        stepped += length;
    }
    Check(stepped == whole, "one record at a time splits alike");
    Check(pw::FirstTlsRecordLength(bytes.substr(whole)) == 0, "what is left is not whole");
    return 0;
}
