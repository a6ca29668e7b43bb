// Fuzzes the header field lookup: arbitrary bytes loaded as header lines, then the lookups the
// POP3 client makes and a few decoded fields.
#include <cstddef>
#include <cstdint>

#include "core/Errors.h"
#include "core/Headers.h"
#include "core/MemoryStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pw::TMemoryStream stream;
    stream.Write(data, size);
    stream.SetPosition(0);
    pw::TmsHeaders headers;
    headers.LoadFromStream(stream);
    for (const char* name : {"X-UIDL", "Message-ID", "Subject", "Content-Type", "=?"}) {
        try {
            const std::string value = headers.GetFieldValue(name);
            (void)value;
        } catch (const pw::Exception&) {
        }
    }
    headers.TruncateAtBody();
    return 0;
}
