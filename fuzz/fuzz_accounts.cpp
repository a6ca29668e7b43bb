// Fuzzes the accounts file reader with arbitrary file contents, and the password routine
// with the same bytes.
#include "core/AccountsFile.h"
#include "core/Password.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const pw::AccountTable table = pw::ReadAccountsFile(text);
    if (table.AccountCount < 0 || table.AccountCount > pw::AccountTable::kCapacity)
        std::abort();
    for (const pw::AccountRecord& record : table.Records)
        if (record.AccountAddress.size() > 200 || record.AccountServer.size() > 200 ||
            record.AccountUser.size() > 200 || record.AccountPassword.size() > 32)
            std::abort();
    for (int i = table.AccountCount; i < pw::AccountTable::kCapacity; ++i)
        if (!table.Records[i].AccountAddress.empty() || !table.Records[i].AccountUser.empty())
            std::abort();

    // Same length, and an involution on every byte in the tables (blank and above).
    const std::string once = pw::UnscramblePassword(text);
    if (once.size() != text.size())
        std::abort();
    const std::string twice = pw::UnscramblePassword(once);
    for (size_t i = 0; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x20 && twice[i] != text[i])
            std::abort();
    return 0;
}
