// The agent's rules on text: schedule decisions, its texts, the flag file, report lines, client
// commands and their redaction.
#include "core/AgentTexts.h"
#include "core/ClientCommands.h"
#include "core/FlagFile.h"
#include "core/Redaction.h"
#include "core/Schedule.h"

#include "support/ScheduleTables.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

using test::Table;

TEST(FirstDueEntry, OneDigitAndTwoDigitHoursBothMatch) {
    const auto table = Table({"7:05", "07:05"});
    EXPECT_EQ(FirstDueEntry(table, FormatHourMinute(7, 5, ":")), 0u);
    EXPECT_EQ(FirstDueEntry(table, FormatHourMinute(7, 6, ":")), std::nullopt);
}

TEST(FirstDueEntry, UntrimmedEntriesMatchAndNormalizingStopsWhereAScanStops) {
    auto table = Table({"  08:30", " 12:00 ", " 13:00"});
    const auto match = FirstDueEntry(table, "12:00");
    ASSERT_EQ(match, 1u);
    EXPECT_EQ(table[0], "  08:30"); // asking changes nothing
    NormalizeScheduleEntries(table, *match + 1);
    EXPECT_EQ(table[0], "08:30");
    EXPECT_EQ(table[1], "12:00");
    EXPECT_EQ(table[2], " 13:00");
}

TEST(FirstDueEntry, BrokenEntriesNeverMatch) {
    const auto table = Table({"0705", "ab:cd", "7:xx", "", "  "});
    EXPECT_EQ(FirstDueEntry(table, "07:05"), std::nullopt);
}

TEST(FirstDueEntry, AClockWithAnotherSeparatorNeverMatches) {
    const auto table = Table({"07:05", "7.05"});
    EXPECT_EQ(FirstDueEntry(table, FormatHourMinute(7, 5, ".")), std::nullopt);
}

TEST(AgentTexts, AreExact) {
    EXPECT_EQ(CountdownText(3), "3 minutes till next checking event...");
    EXPECT_EQ(CountdownText(-1), "-1 minutes till next checking event...");
    EXPECT_EQ(CheckingText("a@b"), "Checking a@b for new messages...");
    EXPECT_EQ(NewMailWaitingText("a@b"),
              "a@b: New messages waiting. Executing CXC for retrieval...");
    EXPECT_EQ(ArrivedText(2), "[ 2 new messages currently arrived... ]");
    EXPECT_EQ(StalledTip("10:11:12"), "CXC agent: Stalled at 10:11:12 by CXC's demand...");
    EXPECT_EQ(ContinuedTip("10:11:12"),
              "CXC agent: Background task continued at 10:11:12 by CXC's demand...");
}

TEST(FlagFileCount, ReadsTheFirstLineOnly) {
    EXPECT_EQ(FlagFileCount("3\r\n7\r\n"), 3);
    EXPECT_EQ(FlagFileCount("12"), 12);
    EXPECT_EQ(FlagFileCount("x\r\n5"), 0);
    EXPECT_EQ(FlagFileCount(""), 0);
    EXPECT_EQ(FlagFileCount("4 messages"), 0);
}

TEST(ReportEntry, JoinsSixFields) {
    EXPECT_EQ(ReportEntry("bob", "pop.x", "bob", "bob@x", "pw", 2), "bob^pop.x^bob^bob@x^pw^2");
}

TEST(ParseClientCommand, TestsPrefixesInOrderWithCase) {
    auto kind = [](const char* text) { return ParseClientCommand(text).kind; };
    EXPECT_EQ(kind("DONE:3"), ClientCommand::Done);
    EXPECT_EQ(ParseClientCommand("DONE:3").argument, "3");
    EXPECT_EQ(kind("done:3"), ClientCommand::None);
    EXPECT_EQ(kind("CLOSE"), ClientCommand::Close);
    EXPECT_EQ(ParseClientCommand("NEWTIME: 15 ").argument, "15");
    EXPECT_EQ(kind("STOPPING NOW"), ClientCommand::Stop);
    EXPECT_EQ(kind("START"), ClientCommand::Start);
    EXPECT_EQ(kind("CHECKING"), ClientCommand::Check);
    EXPECT_EQ(kind("CHECK"), ClientCommand::Check);
    EXPECT_EQ(kind(" STOP"), ClientCommand::None);
    EXPECT_EQ(kind(""), ClientCommand::None);
}

TEST(ParseClientCommand, OnlyTheFirstLineCounts) {
    EXPECT_EQ(ParseClientCommand("START\r\nSTOP").kind, ClientCommand::Start);
    EXPECT_EQ(ParseClientCommand("\r\nSTOP").kind, ClientCommand::None);
}

TEST(DdeLogText, MasksReportPasswordsAndShowsControlBytes) {
    const std::string report = "CHECK:\r\n" +
                               ReportEntry("joe", "pop.x", "joe", "joe@x", "s3^", 2) + "\r\n" +
                               ReportEntry("ann", "pop.y", "ann", "ann@y", "", 1) + "\r\n";
    EXPECT_EQ(DdeLogText(report), "CHECK:\\r\\njoe^pop.x^joe^joe@x^***^2\\r\\n"
                                  "ann^pop.y^ann^ann@y^^1\\r\\n");
    EXPECT_EQ(DdeLogText("GET:a@x^b@y"), "GET:a@x^b@y");
    EXPECT_EQ(DdeLogText(std::string("START\tX\x01", 8)), "START\\x09X\\x01");
}

} // namespace
} // namespace pw
