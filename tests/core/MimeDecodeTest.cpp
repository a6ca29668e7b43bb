// Encoded words, Base64 and quoted-printable: the decoding rules, the bounds, the errors, the
// message pump, and termination on inputs that re-create the markers they remove.
#include "core/Errors.h"
#include "core/MemoryStream.h"
#include "core/MimeDecode.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

TEST(DecodeEncodedWords, DecodesBAndQWordsJoiningWhatFollows) {
    EXPECT_EQ(DecodeEncodedWords("=?iso-8859-1?Q?a=3Db_c?="), "a=b c");
    EXPECT_EQ(DecodeEncodedWords("=?us-ascii?B?SGVsbG8=?= World"), "HelloWorld");
    EXPECT_EQ(DecodeEncodedWords("Re: =?x?b?SGk=?=  =?x?q?_there?= !"), "Re: Hi there!");
    EXPECT_EQ(DecodeEncodedWords("snake_case =?x?Q?a?="), "snake case a");
    EXPECT_EQ(DecodeEncodedWords("=?x?Q?=41?="), "A");    // "?=" right after "?Q" opens an escape
    EXPECT_EQ(DecodeEncodedWords("=?x?q?=41?="), "41?="); // ...only after upper-case letters
    EXPECT_EQ(DecodeEncodedWords("=?x?B?SGk=?="), "Hi");
    EXPECT_THROW(DecodeEncodedWords("=?x?B?SG k=?="), EInOutError);
}

TEST(DecodeEncodedWords, LeavesTextWithoutCompleteWordAlone) {
    for (const char* text : {"a =? b", "snake_case", "=?", "=?x?Q?abc", "=?x?B?=", "=?="})
        EXPECT_EQ(DecodeEncodedWords(text), text);
}

TEST(DecodeEncodedWords, KeepsWordWithoutKnownEncodingAndGoesOn) {
    EXPECT_EQ(DecodeEncodedWords("=?x?X?abc?= =?x?Q?d?="), "=?x?X?abc?= d");
    EXPECT_EQ(DecodeEncodedWords("<=?abc?=@host>"), "<=?abc?=@host>");
    EXPECT_EQ(DecodeEncodedWords("=?x?\?= =?x?"), "=?x?\?= =?x?");
    // The kept word and the following "?=" form a new "=?": not a word of its own.
    EXPECT_EQ(DecodeEncodedWords("=?x?X?=?= tail"), "=?x?X?=?= tail");
}

TEST(DecodeEncodedWords, DecodesProducedWordsAgainAndEnds) {
    EXPECT_EQ(DecodeEncodedWords("=?x?Q?=3D=3F?="), "=?");
    EXPECT_EQ(DecodeEncodedWords("=?x?Q?=3D=3Fx=3FQ=3Fa=3F=3D?="), "a");
    EXPECT_EQ(DecodeEncodedWords("=?x?B?PT94P1E/YV9iPz0=?="), "a b"); // "=?x?Q?a_b?="
}

TEST(DecodeEncodedWords, EndsOnMarkerRecreatingInput) {
    const std::string pieces[] = {"=?x?Q?=3D=3F?=", "=?x?X?=?=", "=?=?",      "?==?",       "=?B?=",
                                  "=?x?B?PT8=?=",   "_=?",       "=?x?Q?\?=", "=?x?Q?=3D?="};
    for (const std::string& a : pieces)
        for (const std::string& b : pieces) {
            std::string text;
            while (text.size() + a.size() + b.size() <= 255)
                text += a + b;
            try {
                EXPECT_LE(DecodeEncodedWords(text).size(), 255u);
            } catch (const EInOutError&) {
                // Base64 of a joined piece may hold a "?": fine, as long as it ends.
            }
        }
}

TEST(DecodeEncodedWords, CutsResultTo255) {
    const std::string head(250, 'h');
    EXPECT_EQ(DecodeEncodedWords(head + "=?x?Q?0123456789?= tail"), head + "01234");
}

TEST(Base64, CharValueTable) {
    const std::pair<char, int> values[] = {{'A', 0},  {'Z', 25}, {'a', 26}, {'z', 51}, {'0', 52},
                                           {'9', 61}, {'+', 62}, {'/', 63}, {'=', 255}};
    for (const auto& [c, value] : values)
        EXPECT_EQ(Base64CharValue(c), value) << c;
    for (char bad : {' ', '-', '\0', '\r', '\n', '@', '[', '`', '{', '\xff'}) {
        try {
            Base64CharValue(bad);
            ADD_FAILURE() << int(bad);
        } catch (const EInOutError& e) {
            EXPECT_STREQ(e.what(), "Invalid Character");
        }
    }
}

TEST(Base64, PadsShortGroupsAndMidTextPads) {
    EXPECT_EQ(DecodeBase64("SGVsbG8=", 255), "Hello");
    EXPECT_EQ(DecodeBase64("SGk=", 255), "Hi");
    EXPECT_EQ(DecodeBase64("SGk", 255), "Hi");
    EXPECT_EQ(DecodeBase64("SG==", 255), "H");
    EXPECT_EQ(DecodeBase64("SG=", 255), "H");
    EXPECT_EQ(DecodeBase64("SG", 255), "H");
    EXPECT_EQ(DecodeBase64("S", 255), "");
    EXPECT_EQ(DecodeBase64("", 255), "");
    EXPECT_EQ(DecodeBase64("====", 255), "");
    EXPECT_EQ(DecodeBase64("SA==SGk=", 255), std::string("H\0\0Hi", 5));
}

TEST(Base64, MaximumKeepsDataBytesButAllCharactersAreChecked) {
    EXPECT_EQ(DecodeBase64("SGVsbG8=", 3), "Hel");
    EXPECT_EQ(DecodeBase64("SGk=", 2), "Hi");
    EXPECT_EQ(DecodeBase64("SGk=", 0), "");
    EXPECT_THROW(DecodeBase64("SGk=SG\n=", 1), EInOutError);
}

TEST(QuotedPrintable, DecodeLineReplacesEscapesOnce) {
    auto decoded = [](std::string line) {
        TQuotedPrintable::DecodeLine(line);
        return line;
    };
    EXPECT_EQ(decoded("a=3Db="), "a=b=");
    EXPECT_EQ(decoded("=3D41"), "=41");
    EXPECT_EQ(decoded("=3d=e9"), "=\xe9");
    EXPECT_EQ(decoded("x=4"), std::string("x\x04")); // one digit left before the end
    EXPECT_EQ(decoded("=4g =G1 =="), "=4g =G1 ==");
    EXPECT_EQ(decoded("=00"), std::string(1, '\0'));
    EXPECT_EQ(decoded("="), "=");
}

std::string DecodeLines(const std::vector<std::string>& lines) {
    TMemoryStream stream;
    TQuotedPrintable(stream, lines).Decode();
    return stream.Data();
}

TEST(QuotedPrintable, DecodeJoinsSoftBreaksAndEndsLines) {
    EXPECT_EQ(DecodeLines({"a=", "b=3D=", "c", "", "d"}), "ab=c\r\n\r\nd\r\n");
    EXPECT_EQ(DecodeLines({"a=3D", "b"}), "a=\r\nb\r\n"); // an escaped "=" is data
    EXPECT_EQ(DecodeLines({"a\x1a", "b=1A"}), "a\x1a"
                                              "b\x1a");
    EXPECT_EQ(DecodeLines({std::string(300, 'x')}), std::string(255, 'x') + "\r\n");
}

TEST(QuotedPrintable, PumpsPerParagraphAndStopsOnAbort) {
    TMemoryStream stream;
    const std::vector<std::string> lines{"a", "b=", "c", "d"};
    int pumped = 0;
    TQuotedPrintable decoder(stream, lines, [&] { ++pumped; });
    decoder.Decode();
    EXPECT_EQ(pumped, 3);

    stream.Clear();
    TQuotedPrintable* running = nullptr;
    TQuotedPrintable aborting(stream, lines, [&] { running->Abort = true; });
    running = &aborting;
    aborting.Decode();
    EXPECT_EQ(stream.Data(), "a\r\n");
}

TEST(QuotedPrintable, ParagraphMustStayBelowBufferSize) {
    // 98 soft-broken lines of 250 bytes, then a last line: 24574 bytes fit, 24575 do not.
    std::vector<std::string> lines(98, std::string(250, 'q') + "=");
    lines.push_back(std::string(72, 'q'));
    EXPECT_EQ(DecodeLines(lines).size(), 24574u);
    lines.back() += 'q';
    try {
        DecodeLines(lines);
        FAIL() << "no exception";
    } catch (const EInOutError&) {
        FAIL() << "wrong class";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Paragraph is too large");
    }
}

TEST(QuotedPrintable, TextGivesFirstDecodedLineCut) {
    EXPECT_EQ(DecodeQuotedPrintableText("a=0D=0Ab", 255), "a");
    EXPECT_EQ(DecodeQuotedPrintableText("a=3Db_c", 3), "a=b");
    EXPECT_EQ(DecodeQuotedPrintableText("", 255), "");
    int pumped = 0;
    DecodeQuotedPrintableText("x", 255, [&] { ++pumped; });
    EXPECT_EQ(pumped, 1);
}

} // namespace
} // namespace pw
