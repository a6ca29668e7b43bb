// Header line list: field lookup (matching, the character after the colon, unfolding,
// decoding and its exceptions) and cutting off the body of a TOP reply.
#include "core/Errors.h"
#include "core/Headers.h"
#include "core/MemoryStream.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

TmsHeaders MakeHeaders(std::initializer_list<const char*> lines) {
    TmsHeaders headers;
    for (const char* line : lines)
        headers.Add(line);
    return headers;
}

TEST(HeadersGetFieldValue, MatchesFirstLineByUpperCasedNameWithColon) {
    const TmsHeaders headers =
        MakeHeaders({"Message: no", "MESSAGE-id: <abc.123>", "Message-ID: <second>", "X-Other: 1"});
    EXPECT_EQ(headers.GetFieldValue("Message-ID"), "<abc.123>");
    EXPECT_EQ(headers.GetFieldValue("message-id:"), "<abc.123>");
    EXPECT_EQ(headers.GetFieldValue("Message"), "no"); // "Message:" is not a prefix of "-ID"
    EXPECT_EQ(headers.GetFieldValue("X-Missing"), "");
    EXPECT_EQ(TmsHeaders().GetFieldValue("Subject"), "");
}

TEST(HeadersGetFieldValue, DropsOneCharacterAfterColonThenTrims) {
    const TmsHeaders headers =
        MakeHeaders({"Subject:Hello", "To: \t  a@b \x01", "Cc:", "Bcc: ", "X-Uidl:  42 "});
    EXPECT_EQ(headers.GetFieldValue("Subject"), "ello");
    EXPECT_EQ(headers.GetFieldValue("To"), "a@b");
    EXPECT_EQ(headers.GetFieldValue("Cc"), "");
    EXPECT_EQ(headers.GetFieldValue("Bcc"), "");
    EXPECT_EQ(headers.GetFieldValue("X-UIDL"), "42");
}

TEST(HeadersGetFieldValue, UnfoldsContinuationLinesUntilOtherLine) {
    const TmsHeaders headers = MakeHeaders(
        {"Received: from a", "\tby b ", "   with c", "Subject: s", " more", "", " body"});
    EXPECT_EQ(headers.GetFieldValue("Received"), "from a by b with c");
    EXPECT_EQ(headers.GetFieldValue("Subject"), "s more"); // the empty line ends the field
}

TEST(HeadersGetFieldValue, DecodesAndCutsAllButContentTypeAndXUidl) {
    const std::string word = "=?x?Q?a_b?=";
    const std::string longValue(300, 'v');
    const TmsHeaders headers =
        MakeHeaders({("Subject: " + word).c_str(), ("X-UIDL: " + word).c_str(),
                     ("content-type: " + word).c_str(), ("Comments: " + longValue).c_str(),
                     ("X-Uidl-Long: " + longValue).c_str()});
    EXPECT_EQ(headers.GetFieldValue("Subject"), "a b");
    EXPECT_EQ(headers.GetFieldValue("x-uidl"), word);
    EXPECT_EQ(headers.GetFieldValue("Content-Type:"), word);
    EXPECT_EQ(headers.GetFieldValue("Comments"), longValue.substr(0, 255));
    EXPECT_EQ(headers.GetFieldValue("X-Uidl-Long"), longValue.substr(0, 255)); // another name

    const TmsHeaders longUidl = MakeHeaders({("X-UIDL: " + longValue).c_str()});
    EXPECT_EQ(longUidl.GetFieldValue("X-UIDL"), longValue);
}

TEST(HeadersGetFieldValue, InvalidBase64ReachesCallerAndPumpIsUsed) {
    TmsHeaders headers = MakeHeaders({"Message-ID: =?x?B?SG k=?=", "Subject: =?x?B?SGk=?="});
    int pumped = 0;
    headers.ProcessMessages = [&] { ++pumped; };
    EXPECT_EQ(headers.GetFieldValue("Subject"), "Hi");
    EXPECT_GT(pumped, 0);
    try {
        headers.GetFieldValue("Message-ID");
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "Invalid Character");
    }
}

TEST(HeadersTruncateAtBody, KeepsLinesBeforeFirstEmptyLine) {
    TmsHeaders reply = MakeHeaders({"A: 1", " 2", "B: 3", "", "body", "", "."});
    reply.TruncateAtBody();
    EXPECT_EQ(reply.Lines(), (std::vector<std::string>{"A: 1", " 2", "B: 3"}));

    TmsHeaders noBody = MakeHeaders({"A: 1", "B: 2"});
    noBody.TruncateAtBody();
    EXPECT_EQ(noBody.Count(), 2u);
}

TEST(HeadersLoadFromStream, ReplacesLinesWithTextFromPosition) {
    TMemoryStream stream;
    stream.Write("skip\r\nA: 1\r\nB: 2\nC: 3\r\r\n.\r\n");
    stream.SetPosition(6);
    TmsHeaders headers = MakeHeaders({"old"});
    headers.LoadFromStream(stream);
    EXPECT_EQ(headers.Lines(), (std::vector<std::string>{"A: 1", "B: 2", "C: 3", "", "."}));
    EXPECT_EQ(stream.Position(), stream.Size());
}

} // namespace
} // namespace pw
