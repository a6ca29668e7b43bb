// The watched mailboxes and the reader of the client's accounts file "vtMailDa.dat": one line
// per mailbox, fields separated by "^".
#pragma once

#include "Text.h"

#include <array>
#include <string_view>

namespace pw {

struct AccountRecord {
    BoundedText<200> AccountAddress;
    BoundedText<200> AccountServer;
    BoundedText<200> AccountUser;
    BoundedText<32> AccountPassword; // already unscrambled
};

struct AccountTable {
    static constexpr int kCapacity = 100;
    // Records[0] to Records[AccountCount - 1] are in use, in file order.
    std::array<AccountRecord, kCapacity> Records;
    int AccountCount = 0;
};

// Builds the table from the file's text (line ends CR LF, LF or CR). Lines starting with "1"
// are accounts; field 6 "True" marks one that is not watched. Watched accounts past the
// capacity are ignored.
AccountTable ReadAccountsFile(std::string_view text);

} // namespace pw
