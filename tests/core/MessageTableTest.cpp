// The message table and the exceptions that take their texts from it.
#include "core/Errors.h"
#include "core/MessageTable.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace pw {
namespace {

TEST(MessageTable, HoldsComponentAndWinsockTextsExactly) {
    EXPECT_EQ(LoadMessage(57000), "Operation timed out");
    EXPECT_EQ(LoadMessage(57013), "Invalid query format.  @ symbol not present");
    EXPECT_EQ(LoadMessage(57112), "Unable to execute attachment #%d\nbecause file name is blank");
    EXPECT_EQ(LoadMessage(57113), "Error executing ShellExec.  Error code %d");
    EXPECT_EQ(LoadMessage(57118), "Article number is not in valid range");
    EXPECT_EQ(LoadMessage(10000), "[0] No Error");
    EXPECT_EQ(LoadMessage(10061), "[10061] Connection refused");
    EXPECT_EQ(LoadMessage(11004), "[11004] Valid name, no data record of requested type");
}

TEST(MessageTable, MissingNumbersAreEmpty) {
    for (uint32_t id : {0u, 1u, 10001u, 10101u, 57022u, 57099u, 57119u, 65535u, 4294967295u})
        EXPECT_EQ(LoadMessage(id), "") << id;
}

TEST(MessageTable, CountsEveryRow) {
    int component = 0;
    int winsock = 0;
    for (uint32_t id = 0; id < 70000; ++id) {
        if (LoadMessage(id).empty())
            continue;
        (id >= 57000 ? component : winsock)++;
    }
    EXPECT_EQ(component, 22 + 19);
    EXPECT_EQ(winsock, 52);
}

TEST(MessageTable, SocketErrorTextFallsBackToTheNumber) {
    EXPECT_EQ(SocketErrorText(10054), "[10054] Connection reset by peer");
    EXPECT_EQ(SocketErrorText(10101), "Error #10101");
}

TEST(Exceptions, ArgumentlessOnesCarryTheirStandardTexts) {
    EXPECT_STREQ(ETimedOutError().what(), "Operation timed out");
    EXPECT_STREQ(ECanceledError().what(), "Operation has been canceled");
}

TEST(Exceptions, EveryClassIsADirectChildOfTheBase) {
    auto check = [](const Exception& e, const char* text) {
        EXPECT_STREQ(e.what(), text);
        EXPECT_EQ(e.Message(), text);
    };
    check(ESocketError("s"), "s");
    check(EServerError("-ERR no"), "-ERR no");
    check(EWinsockDLLError("w"), "w");
    check(ERASError("r"), "r");
    check(EConvertError("c"), "c");
    check(EInOutError("i"), "i");
    static_assert(std::is_base_of_v<Exception, ECanceledError>);
    static_assert(!std::is_base_of_v<ESocketError, ETimedOutError>);
}

TEST(Exceptions, DiagnosticsNameTheClass) {
    EXPECT_EQ(ExceptionClassName(ESocketError("s")), "ESocketError");
    EXPECT_EQ(ExceptionClassName(ETimedOutError()), "ETimedOutError");
    EXPECT_EQ(ExceptionClassName(ECanceledError()), "ECanceledError");
    EXPECT_EQ(ExceptionClassName(std::out_of_range("o")), "std::out_of_range");
    EXPECT_EQ(ExceptionClassName(std::runtime_error("r")), "std::runtime_error");
    EXPECT_EQ(ExceptionClassName(std::bad_alloc()), "std::bad_alloc");
}

} // namespace
} // namespace pw
