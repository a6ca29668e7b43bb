// The client's files as the agent reads them: delimited fields, password unscrambling, the
// accounts and dial-up files, and schedule times.
#include "core/AccountsFile.h"
#include "core/Delimited.h"
#include "core/DialupFile.h"
#include "core/Password.h"
#include "core/Schedule.h"

#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <string>

namespace pw {
namespace {

std::string Join(std::initializer_list<std::string> fields, const std::string& delimiter) {
    std::string result;
    for (const std::string& field : fields) {
        if (&field != fields.begin())
            result += delimiter;
        result += field;
    }
    return result;
}

// --- Delimited fields ---

TEST(DelimitedFields, CountIgnoresTrailingBlanksOfTheWholeText) {
    EXPECT_EQ(CountDelimitedFields("", '^'), 0);
    EXPECT_EQ(CountDelimitedFields("  \t ", '^'), 0);
    EXPECT_EQ(CountDelimitedFields("a", '^'), 1);
    EXPECT_EQ(CountDelimitedFields("a^b^^d", '^'), 4);
    EXPECT_EQ(CountDelimitedFields("a^b^   ", '^'), 3);
    EXPECT_EQ(CountDelimitedFields("^", '^'), 2);
}

TEST(DelimitedFields, FieldsAreUntrimmedAndTheLastCarriesThePadding) {
    const std::string text = " x ^b^^d";
    EXPECT_EQ(GetDelimitedField(1, text, '^'), " x ");
    EXPECT_EQ(GetDelimitedField(2, text, '^'), "b");
    EXPECT_EQ(GetDelimitedField(3, text, '^'), ""); // adjacent delimiters
    EXPECT_EQ(GetDelimitedField(4, text, '^'), "d   ");
    EXPECT_EQ(GetDelimitedField(1, "abc", '^'), "abc   ");
    EXPECT_EQ(GetDelimitedField(3, "a^b^   ", '^'), "      ");
}

TEST(DelimitedFields, OutOfRangeNumbersGiveEmpty) {
    for (int n : {0, -1, INT_MIN, 5, 6, INT_MAX})
        EXPECT_EQ(GetDelimitedField(n, "a^b^c^d", '^'), "") << n;
    EXPECT_EQ(GetDelimitedField(1, "", '^'), "");
    EXPECT_EQ(GetDelimitedField(1, "   ", '^'), "");
}

TEST(DelimitedFields, ABlankOrControlDelimiterMeetsThePadding) {
    // The padding's blanks are delimiters themselves here, so the last field gets none.
    EXPECT_EQ(GetDelimitedField(2, "a b", ' '), "b");
    EXPECT_EQ(GetDelimitedField(3, "a b  ", ' '), "");
    EXPECT_EQ(GetDelimitedField(2, "a\tb\t", '\t'), "b");
    EXPECT_EQ(GetDelimitedField(3, "a\tb\t", '\t'), "");
    EXPECT_EQ(GetDelimitedField(2, "a\tb", '\t'), "b   ");
}

TEST(DelimitedFields, KnownIdsUseSemicolon) {
    EXPECT_EQ(GetDelimitedField(1, "<id@host>;2001-01-01;x", ';'), "<id@host>");
    EXPECT_EQ(GetDelimitedField(1, ";rest", ';'), "");
    EXPECT_EQ(GetDelimitedField(1, "whole line", ';'), "whole line   ");
}

// --- Password ---

TEST(Password, EveryCharacterFromBlankUpRoundTripsAndIsScrambled) {
    std::string all;
    for (int c = 0x20; c <= 0xFF; ++c)
        all += static_cast<char>(c);
    const std::string scrambled = UnscramblePassword(all);
    EXPECT_EQ(UnscramblePassword(scrambled), all);
    int unchanged = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        unchanged += scrambled[i] == all[i];
        // Only a blank may become a character that trimming a field would remove.
        if (all[i] != ' ') {
            EXPECT_GT(static_cast<unsigned char>(scrambled[i]), 0x20) << i;
        }
    }
    EXPECT_LE(unchanged, 2); // the blank and the middle of table A
}

TEST(Password, TablesHoldEachCharacterOnce) {
    const std::string tables = std::string(kPasswordTableA) + std::string(kPasswordTableB);
    EXPECT_EQ(tables.size(), 0x100u - 0x20u);
    for (int c = 0x20; c <= 0xFF; ++c) {
        const size_t first = tables.find(static_cast<char>(c));
        EXPECT_NE(first, std::string::npos) << c;
        EXPECT_EQ(first, tables.rfind(static_cast<char>(c))) << c;
    }
}

// The client scrambles with the same tables; this pins them to the documented example.
TEST(Password, MatchesTheDocumentedExample) {
    EXPECT_EQ(UnscramblePassword("Pa55 w0rd"), "\xDD\xB5\x66\x66\x20\x53\xAD\xD3\x3E");
    EXPECT_EQ(UnscramblePassword("\xDD\xB5\x66\x66\x20\x53\xAD\xD3\x3E"), "Pa55 w0rd");
    EXPECT_EQ(UnscramblePassword("secret"), "\xCB\x3C\x71\xD3\x3C\xC3");
}

TEST(Password, CharactersInNeitherTableBecomeTheFirstOfB) {
    const std::string fallback(1, kPasswordTableB.front());
    EXPECT_EQ(UnscramblePassword(std::string("\0", 1)), fallback);
    EXPECT_EQ(UnscramblePassword("\t\x1f"), fallback + fallback);
    EXPECT_EQ(UnscramblePassword(""), "");
}

// --- Accounts file ---

std::string AccountLine(const std::string& address, const std::string& field6,
                        const std::string& password = UnscramblePassword("secret"),
                        const std::string& user = "joe") {
    return Join({"1", address, "pop.example.org", password, "", field6, "", user}, "^");
}

TEST(AccountsFile, EightFieldLineBecomesOneTrimmedRecord) {
    const AccountTable table =
        ReadAccountsFile(Join({"1", " joe@example.org ", "pop.example.org ",
                               " " + UnscramblePassword("pass w"), "", "False", "", "  joe.user "},
                              "^") +
                         "\r\n");
    ASSERT_EQ(table.AccountCount, 1);
    const AccountRecord& record = table.Records[0];
    EXPECT_EQ(record.AccountAddress, "joe@example.org");
    EXPECT_EQ(record.AccountServer, "pop.example.org");
    EXPECT_EQ(record.AccountPassword, "pass w");
    EXPECT_EQ(record.AccountUser, "joe.user");
}

TEST(AccountsFile, SkipsUnwatchedAndNonAccountLinesWithoutGaps) {
    const std::string text = AccountLine("a@x", "True") + "\n" + AccountLine("b@x", "true") + "\r" +
                             "0" + AccountLine("c@x", "") + "\r\n" + " " + AccountLine("d@x", "") +
                             "\n\n" + AccountLine("e@x", " True ") + "\n" + "1^f@x^server\n" + "1";
    const AccountTable table = ReadAccountsFile(text);
    ASSERT_EQ(table.AccountCount, 3);
    EXPECT_EQ(table.Records[0].AccountAddress, "b@x");
    EXPECT_EQ(table.Records[1].AccountAddress, "f@x"); // e@x: " True " trims to "True"
    EXPECT_EQ(table.Records[1].AccountServer, "server");
    EXPECT_EQ(table.Records[1].AccountUser, "");
    EXPECT_EQ(table.Records[1].AccountPassword, "");
    EXPECT_EQ(table.Records[2].AccountAddress, ""); // a bare "1" is still an account
}

TEST(AccountsFile, LongFieldsAreCutToTheirBounds) {
    const std::string address(250, 'a');
    const std::string password(40, 'p');
    const AccountTable table =
        ReadAccountsFile(AccountLine(address, "", UnscramblePassword(password), address));
    ASSERT_EQ(table.AccountCount, 1);
    EXPECT_EQ(table.Records[0].AccountAddress, address.substr(0, 200));
    EXPECT_EQ(table.Records[0].AccountUser, address.substr(0, 200));
    EXPECT_EQ(table.Records[0].AccountPassword, password.substr(0, 32));
}

TEST(AccountsFile, KeepsTheFirstHundredWatchedAccounts) {
    std::string text = AccountLine("skipped@x", "True") + "\n";
    for (int i = 1; i <= 105; ++i)
        text += AccountLine("user" + std::to_string(i) + "@x", "") + "\n";
    const AccountTable table = ReadAccountsFile(text);
    ASSERT_EQ(table.AccountCount, 100);
    EXPECT_EQ(table.Records[0].AccountAddress, "user1@x");
    EXPECT_EQ(table.Records[99].AccountAddress, "user100@x");
}

// --- Dial-up file ---

std::string Lines(std::initializer_list<std::string> lines) {
    return Join(lines, "\r\n") + "\r\n";
}

TEST(DialupFile, FullFileInStandAloneMode) {
    const DialupSettings settings = ReadDialupFile(
        Lines({" My ISP ", "joe ", UnscramblePassword(" pw "), "15", " 1 ", "1", "1", "1", "0"}),
        false);
    EXPECT_EQ(settings.DialEntry, " My ISP ");
    EXPECT_EQ(settings.DialUserName, "joe ");
    EXPECT_EQ(settings.DialPassword, " pw ");
    EXPECT_EQ(settings.CheckInterval, 15);
    EXPECT_TRUE(settings.PermanentConnection);
    EXPECT_TRUE(settings.NoDial);
    EXPECT_TRUE(settings.InterpretScripts);
    EXPECT_TRUE(settings.PrintIncoming);
}

TEST(DialupFile, MissingLinesReadAsEmptyAndOff) {
    const std::string threeLines = "entry\nuser\n" + UnscramblePassword("pw");
    const DialupSettings standAlone = ReadDialupFile(threeLines, false);
    EXPECT_EQ(standAlone.DialPassword, "pw");
    EXPECT_EQ(standAlone.CheckInterval, 0);
    EXPECT_FALSE(standAlone.PermanentConnection || standAlone.NoDial ||
                 standAlone.InterpretScripts || standAlone.PrintIncoming);
    EXPECT_FALSE(ReadDialupFile(threeLines, true).CheckInterval.has_value());

    // Only blanks and line ends after line 3: the word is read at the end of the file.
    EXPECT_EQ(ReadDialupFile("e\nu\np\n  \n\t\n", false).CheckInterval, 0);
    const DialupSettings empty = ReadDialupFile("", false);
    EXPECT_EQ(empty.DialEntry, "");
    EXPECT_EQ(empty.CheckInterval, 0);
}

TEST(DialupFile, FlagsAreOnOnlyForATrimmedOne) {
    for (const char* off : {"10", "true", "01", "", "1 1"}) {
        const DialupSettings settings =
            ReadDialupFile(Lines({"e", "u", "p", "5", off, off, "1", off}), false);
        EXPECT_FALSE(settings.PermanentConnection || settings.InterpretScripts ||
                     settings.PrintIncoming)
            << off;
    }
}

int32_t IntervalOf(const std::string& line4) {
    return *ReadDialupFile("e\nu\np\n" + line4 + "\n1\n", false).CheckInterval;
}

TEST(DialupFile, IntervalTakesTheLeadingDigitsOfOneWord) {
    EXPECT_EQ(IntervalOf("15abc"), 15);
    EXPECT_EQ(IntervalOf("abc"), 0);
    EXPECT_EQ(IntervalOf("  \t42 7"), 42);
    EXPECT_EQ(IntervalOf("-5"), -5);
    EXPECT_EQ(IntervalOf("+7"), 7);
    EXPECT_EQ(IntervalOf("-"), 0);
    EXPECT_EQ(IntervalOf("--5"), 0);
    EXPECT_EQ(IntervalOf("-2147483648"), INT32_MIN);
    EXPECT_EQ(IntervalOf("2147483647"), INT32_MAX);
    // The digit that would overflow ends the number like any other misfit.
    EXPECT_EQ(IntervalOf("2147483648"), 214748364);
    EXPECT_EQ(IntervalOf("99999999999999999999"), 999999999);
}

TEST(DialupFile, WordIsAtMost32CharactersAndTheRestOfItsLineIsSkipped) {
    const std::string word = std::string(31, '0') + "12";
    const DialupSettings settings =
        ReadDialupFile(Lines({"e", "u", "p", word + " 9", "1", "0", "x", "1"}), false);
    EXPECT_EQ(settings.CheckInterval, 1);
    EXPECT_TRUE(settings.PermanentConnection);
    EXPECT_FALSE(settings.InterpretScripts);
    EXPECT_TRUE(settings.PrintIncoming);
}

TEST(DialupFile, EmptyLineFourTakesTheNextWordAndShiftsTheLines) {
    const std::string text = "e\ru\rp\r\r \r20 junk\r0\r1\rskip\r1\r";
    const DialupSettings standAlone = ReadDialupFile(text, false);
    EXPECT_EQ(standAlone.CheckInterval, 20);
    EXPECT_FALSE(standAlone.PermanentConnection); // "0"
    EXPECT_TRUE(standAlone.InterpretScripts);     // "1"
    EXPECT_TRUE(standAlone.PrintIncoming);        // the last "1"

    // Background mode skips line 4 as a line, so nothing moves.
    const DialupSettings background = ReadDialupFile(text, true);
    EXPECT_FALSE(background.CheckInterval.has_value());
    EXPECT_FALSE(background.PermanentConnection); // " "
    EXPECT_FALSE(background.InterpretScripts);    // "20 junk"
    EXPECT_TRUE(background.PrintIncoming);        // "1"
}

// --- Schedule ---

TEST(Schedule, SplitsAtTheFirstColonWithTwoMinuteCharacters) {
    const auto split = [](const char* text) {
        const ScheduleTime time = SplitScheduleTime(text);
        return std::make_pair(time.Hour, time.Minute);
    };
    EXPECT_EQ(split("7:05"), std::make_pair(7, 5));
    EXPECT_EQ(split("07:05"), std::make_pair(7, 5));
    EXPECT_EQ(split(" 8:3"), std::make_pair(8, 3));
    EXPECT_EQ(split("23:595"), std::make_pair(23, 59));
    for (const char* bad : {"", "0705", "ab:cd", "7:x5", "x:05", ":05", "7:", "7:0:5", "7 :05"})
        EXPECT_EQ(split(bad), std::make_pair(-1, -1)) << bad;
}

TEST(Schedule, EntryMatchesAfterTrimAndCut) {
    EXPECT_EQ(NormalizeScheduleEntry("  8:3"), "8:3");
    EXPECT_EQ(NormalizeScheduleEntry(" 12:30:00 "), "12:30");
    EXPECT_TRUE(ScheduleEntryMatches(" 08:30", {8, 30}));
    EXPECT_TRUE(ScheduleEntryMatches("  8:3", {8, 3}));
    EXPECT_FALSE(ScheduleEntryMatches("8:30", {8, 31}));
    EXPECT_FALSE(ScheduleEntryMatches("8:30", {9, 30}));
    // An empty or broken entry never matches, even a clock that could not be read.
    EXPECT_FALSE(ScheduleEntryMatches("", {-1, -1}));
    EXPECT_FALSE(ScheduleEntryMatches("-1:-1", {-1, -1}));
}

} // namespace
} // namespace pw
