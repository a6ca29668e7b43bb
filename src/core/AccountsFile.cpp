// Reader of the accounts file; see AccountsFile.h.
#include "AccountsFile.h"

#include "Delimited.h"
#include "Password.h"

namespace pw {

namespace {

constexpr char kFieldDelimiter = '^';

std::string Field(int n, std::string_view line) {
    return Trim(GetDelimitedField(n, line, kFieldDelimiter));
}

} // namespace

AccountTable ReadAccountsFile(std::string_view text) {
    AccountTable table;
    for (const std::string& line : SplitLines(text)) {
        if (line.empty() || line[0] != '1')
            continue;
        if (Field(6, line) == "True")
            continue;
        // The table has room for 100; the first 100 watched accounts win.
        if (table.AccountCount == AccountTable::kCapacity)
            break;
        AccountRecord& record = table.Records[table.AccountCount++];
        record.AccountAddress = Field(2, line);
        record.AccountServer = Field(3, line);
        record.AccountPassword = UnscramblePassword(Field(4, line));
        record.AccountUser = Field(8, line);
    }
    return table;
}

} // namespace pw
