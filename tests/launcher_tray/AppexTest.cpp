// The exception logger: records in the log file, the exception box, and a log file that
// cannot be written.
#include "support/Appex.h"

#include <gtest/gtest.h>

#include "core/Errors.h"
#include "core/Text.h"
#include "support/Testing.h"

namespace pw {
namespace {

using test::ReadAll;
using test::TempFolder;

SYSTEMTIME At(WORD hour, WORD minute, WORD second) {
    SYSTEMTIME time{};
    time.wYear = 2024;
    time.wMonth = 3;
    time.wDay = 5;
    time.wDayOfWeek = 2;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    return time;
}

class Logger : public ::testing::Test {
protected:
    Logger() {
        logger.ShowExcep = false;
        logger.Now = [this] { return now; };
        logger.ShowExceptionBox = [this](const std::string& message) { shown.push_back(message); };
    }

    TempFolder directory;
    TAppException logger;
    TObject sender;
    SYSTEMTIME now = At(14, 7, 9);
    std::vector<std::string> shown;
};

TEST_F(Logger, DateLineLeavesOutTheTimeAtMidnightOnly) {
    const std::string midnight = FormatLogDateTime(At(0, 0, 0));
    const std::string afternoon = FormatLogDateTime(At(14, 7, 9));
    ASSERT_FALSE(midnight.empty());
    EXPECT_EQ(midnight.find(' '), std::string::npos) << midnight;
    EXPECT_EQ(afternoon.substr(0, midnight.size() + 1), midnight + " ");
    EXPECT_GT(afternoon.size(), midnight.size() + 1);
    EXPECT_NE(FormatLogDateTime(At(0, 0, 1)), midnight);
}

TEST_F(Logger, NewFileHoldsExactlyOneRecordWithUserLine) {
    logger.ErrorLog = directory.File("errors.log");
    logger.UserName = "alice";
    logger.LogException(sender, EServerError("-ERR mailbox locked"));
    EXPECT_EQ(ReadAll(logger.ErrorLog),
              "User: alice\r\n" + FormatLogDateTime(now) + "\r\n-ERR mailbox locked\r\n\r\n");
}

TEST_F(Logger, AppendsRecordsInOrderWithoutUserLineWhenUserNameEmpty) {
    logger.ErrorLog = directory.File("errors.log");
    {
        // A file that exists is appended to, never truncated.
        const UniqueFile file(CreateFileA(logger.ErrorLog.c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        WriteFile(file.get(), "old\r\n", 5, &written, nullptr);
    }
    logger.LogException(sender, std::runtime_error("first"));
    now = At(0, 0, 0);
    logger.LogException(sender, EConvertError("second"));

    const auto lines = SplitLines(ReadAll(logger.ErrorLog));
    const std::vector<std::string> expected = {"old", FormatLogDateTime(At(14, 7, 9)), "first",
                                               "",    FormatLogDateTime(At(0, 0, 0)),  "second",
                                               ""};
    EXPECT_EQ(lines, expected);
}

TEST_F(Logger, NoFileIsTouchedWhenNoLogIsNamed) {
    char previous[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(directory.Path().c_str()));
    for (const char* name : {"", "   ", " \t "}) {
        logger.ErrorLog = name;
        logger.LogException(sender, EServerError("dropped"));
    }
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(directory.Files().empty());
    EXPECT_TRUE(shown.empty());
}

TEST_F(Logger, ShowsTheExceptionAfterLoggingIt) {
    logger.ErrorLog = directory.File("errors.log");
    logger.ShowExcep = true;
    logger.ShowExceptionBox = [this](const std::string& message) {
        shown.push_back(message);
        // The record is complete before the box appears.
        if (!logger.ErrorLog.empty()) {
            EXPECT_NE(ReadAll(logger.ErrorLog).find(message + "\r\n\r\n"), std::string::npos);
        }
    };
    logger.LogException(sender, ESocketError("Connection refused"));
    EXPECT_EQ(shown, std::vector<std::string>{"Connection refused"});

    logger.ErrorLog.clear();
    logger.LogException(sender, ESocketError("again"));
    EXPECT_EQ(shown.size(), 2u);
}

TEST_F(Logger, UnwritableLogRaisesInOutErrorAndTheHookContainsIt) {
    logger.ErrorLog = directory.File("missing") + "\\errors.log";
    logger.ShowExcep = true;
    try {
        logger.LogException(sender, EServerError("boom"));
        FAIL() << "no EInOutError";
    } catch (const EInOutError& e) {
        EXPECT_TRUE(StartsWith(e.Message(), "I/O error ")) << e.Message();
        EXPECT_GT(StrToIntDef(e.Message().substr(10), 0), 0) << e.Message();
    }
    EXPECT_TRUE(shown.empty());

    logger.HandleException(sender, EServerError("boom"));
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(directory.Files().empty());

    // With a writable log the hook behaves as the handler.
    logger.ErrorLog = directory.File("errors.log");
    logger.HandleException(sender, EServerError("logged"));
    EXPECT_EQ(shown, std::vector<std::string>{"logged"});
    EXPECT_NE(ReadAll(logger.ErrorLog).find("logged"), std::string::npos);
}

} // namespace
} // namespace pw
