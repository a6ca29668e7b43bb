// The POP3 client's text rules: reply status, STAT numbers, UIDL ids and the known-ids lookup.
#include "core/Errors.h"
#include "core/Pop3Reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pw {
namespace {

TEST(ReplyCode, Pop3LooksAtTheFirstCharacterOnly) {
    EXPECT_EQ(Pop3ReplyCode("+OK 2 messages"), 1);
    EXPECT_EQ(Pop3ReplyCode("+"), 1);
    EXPECT_EQ(Pop3ReplyCode("-ERR [AUTH] Authentication failed."), -1);
    EXPECT_EQ(Pop3ReplyCode(""), 0);
    EXPECT_EQ(Pop3ReplyCode(" +OK"), 0);
    EXPECT_EQ(Pop3ReplyCode("OK"), 0);
}

TEST(ReplyCode, SocketRuleReadsThreeDigits) {
    EXPECT_EQ(NumericReplyCode("250 Ok"), 250);
    EXPECT_EQ(NumericReplyCode("2501"), 250);
    EXPECT_EQ(NumericReplyCode("25"), 25);
    EXPECT_EQ(NumericReplyCode("-12 x"), -12);
    EXPECT_EQ(NumericReplyCode("+OK"), -1);
    EXPECT_EQ(NumericReplyCode("25x"), -1);
    EXPECT_EQ(NumericReplyCode(""), -1);
}

TEST(StatReply, GivesCountAndSize) {
    int32_t count = -1;
    int32_t size = -1;
    ReadStatReply("+OK 3 4712", count, size);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(size, 4712);
    ReadStatReply("+OK 0 0 octets follow", count, size);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(size, 0);
}

TEST(StatReply, WithoutABlankAfterTheCountKeepsBothNumbers) {
    for (const char* reply : {"+OK", "+OK ", "+OK 3", "+"}) {
        int32_t count = 7;
        int32_t size = 9;
        ReadStatReply(reply, count, size);
        EXPECT_EQ(count, 7) << reply;
        EXPECT_EQ(size, 9) << reply;
    }
}

TEST(StatReply, NumbersThatAreNotDecimalRaiseAfterWhatWasRead) {
    int32_t count = 7;
    int32_t size = 9;
    try {
        ReadStatReply("+OK x 5", count, size);
        FAIL() << "no EConvertError";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
    }
    EXPECT_EQ(count, 7);
    // The count is in place before the size fails.
    EXPECT_THROW(ReadStatReply("+OK 3 4k", count, size), EConvertError);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(size, 9);
    EXPECT_THROW(ReadStatReply("+OK 3 ", count, size), EConvertError);
    EXPECT_THROW(ReadStatReply("+OK  3 5", count, size), EConvertError);
    EXPECT_THROW(ReadStatReply("+OK 99999999999 5", count, size), EConvertError);
}

TEST(UidlReply, GivesTheTrimmedTextAfterTheNumber) {
    EXPECT_EQ(UidlReplyId("+OK 2 QhdPYR:00WBw1Ph7x7", "fb"), "QhdPYR:00WBw1Ph7x7");
    EXPECT_EQ(UidlReplyId("  +OK 2   id with blanks \t\r", "fb"), "id with blanks");
    EXPECT_EQ(UidlReplyId("+OK 2 a b", "fb"), "a b");
}

TEST(UidlReply, FallsBackWhenThereIsNoId) {
    for (const char* line :
         {"-ERR no such message", "", "   ", "+OK", "+OK 2", "+OK 2   ", "OK 2 id", "+OKAY2id"})
        EXPECT_EQ(UidlReplyId(line, "<m@x>"), "<m@x>") << '"' << line << '"';
}

TEST(KnownIds, EachLineIsOneIdBeforeItsSemicolon) {
    EXPECT_EQ(SplitKnownIds("u1;2004-01-01\r\n u2 ; x\nu3\r"),
              (std::vector<std::string>{"u1;2004-01-01", " u2 ; x", "u3"}));
    EXPECT_EQ(SplitKnownIds(""), std::vector<std::string>{});
    EXPECT_EQ(KnownIdOfLine(" abc ; 2004-01-01"), "abc");
    EXPECT_EQ(KnownIdOfLine("whole line"), "whole line");
    EXPECT_EQ(KnownIdOfLine(";rest"), "");
    EXPECT_EQ(KnownIdOfLine("a;b;c"), "a");
}

TEST(KnownIds, MatchExactlyWithLetterCase) {
    const std::vector<std::string> lines = {"abc ; 2004-01-01", "ABD", "<m3@example.org>"};
    EXPECT_TRUE(KnownIdsHold(lines, "abc"));
    EXPECT_TRUE(KnownIdsHold(lines, "<m3@example.org>"));
    EXPECT_FALSE(KnownIdsHold(lines, "ABC"));
    EXPECT_FALSE(KnownIdsHold(lines, "abd"));
    EXPECT_FALSE(KnownIdsHold(lines, "abc ; 2004-01-01")); // never the whole line
    EXPECT_FALSE(KnownIdsHold(lines, ""));
    EXPECT_FALSE(KnownIdsHold({}, "abc"));
}

TEST(KnownIds, AnEmptyIdMatchesABlankOrCommentLine) {
    EXPECT_TRUE(KnownIdsHold({"abc", "   "}, ""));
    EXPECT_TRUE(KnownIdsHold({";only a comment", "abc"}, ""));
}

} // namespace
} // namespace pw
