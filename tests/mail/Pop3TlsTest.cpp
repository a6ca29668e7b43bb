// The POP3 client over TLS: implicit TLS and STLS against the runner's dovecot and its TLS
// fronts for the scripted server, certificate failures, refusals, and what goes on the wire.
#include "MailTesting.h"

#include "core/ScopeExit.h"
#include "mail/agsspi.h"
#include "mail/mspop3.h"
#include "support/DovecotEnv.h"
#include "support/TlsEnv.h"
#include "support/WinsockCalls.h"

#include <string>

namespace pw {
namespace {

using test::ErrorOf;
using test::PlainMessage;
using test::Response;
using test::ScriptedPop3Server;
using test::SessionScript;

class Pop3TlsTest : public test::TlsTest {
protected:
    void SetUp() override {
        test::TlsTest::SetUp();
        if (IsSkipped())
            return;
        pop.SetWinsockLoaded(true);
        pop.SetTimeOut(20);
        pop.UserName = "alice";
        pop.Password = "tls-secret";
    }
    // The scripted server behind the fronts, with two messages for alice.
    void ServeBehindTheFronts(const SessionScript& script = {}) {
        server.AddMailbox({"alice", "tls-secret", {PlainMessage("u1"), PlainMessage("u2")}});
        server.SetScript(script);
        server.Start(tls.backend);
    }
    void UseFront(uint16_t port, TlsMode mode = TlsMode::Implicit) {
        pop.Server = test::Loopback(port);
        pop.Tls = mode;
    }

    ScriptedPop3Server server;
    TmsRemotePOP pop;
};

TEST_F(Pop3TlsTest, ImplicitTlsCarriesTheSameDialogueAndNoPasswordInClear) {
    ServeBehindTheFronts();
    UseFront(tls.good);
    const test::WinsockCalls wire;
    pop.OpenMailbox();
    EXPECT_TRUE(pop.TlsActive());
    EXPECT_EQ(pop.MessageCount, 2);
    pop.CountNewMessages();
    EXPECT_EQ(pop.NewMessageCount, 2);
    pop.CloseMailbox();
    EXPECT_FALSE(pop.IsSocketOpen());
    const std::vector<std::string> expected = {
        "USER alice", "PASS tls-secret", "STAT",    "LIST 2", "TOP 2 1",
        "UIDL 2",     "LIST 1",          "TOP 1 1", "UIDL 1", "QUIT"};
    EXPECT_EQ(server.Transcript(), expected);
    EXPECT_EQ(wire.Sent().find("tls-secret"), std::string::npos);
    EXPECT_EQ(wire.Sent().find("USER"), std::string::npos);
}

TEST_F(Pop3TlsTest, EachCertificateFaultFailsTheMailboxClosedBeforeAnyLogin) {
    ServeBehindTheFronts();
    struct Case {
        uint16_t port;
        std::string pin;
        std::string words;
    };
    const Case cases[] = {
        {tls.expired, "", "the server's certificate has expired"},
        {tls.wrongName, "", "the server's certificate does not match the name 127.0.0.1"},
        {tls.selfSigned, "", "the server's certificate is not trusted"},
        {tls.good, tls.selfSignedSha256,
         "the server's certificate does not match the pinned "
         "fingerprint"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        UseFront(c.port);
        pop.TlsPin = c.pin;
        EXPECT_EQ(ErrorOf<ECertificateError>([&] { pop.OpenMailbox(); }), c.words);
        EXPECT_FALSE(pop.IsSocketOpen());
        EXPECT_FALSE(pop.TimeCounterArmed());
        EXPECT_EQ(pop.Stage(), TmsCustomPOP::TStage::Securing);
    }
    EXPECT_TRUE(server.Transcript().empty());

    // A pinned self-signed certificate is accepted for its host.
    UseFront(tls.selfSigned);
    pop.TlsPin = tls.selfSignedSha256;
    pop.OpenMailbox();
    EXPECT_EQ(pop.MessageCount, 2);
    pop.CloseMailbox();
}

TEST_F(Pop3TlsTest, RefusedStlsAndForbiddenClearPasswordsSendNoPassword) {
    SessionScript script;
    script.replies["STLS"] = Response::Line("-ERR not here");
    ServeBehindTheFronts(script);
    pop.Server = test::Loopback(tls.backend);
    pop.Tls = TlsMode::Stls;
    EXPECT_NE(ErrorOf<ETlsRequiredError>([&] { pop.OpenMailbox(); }).find("-ERR not here"),
              std::string::npos);
    EXPECT_FALSE(pop.IsSocketOpen());

    pop.Tls = TlsMode::Off;
    pop.AllowClearPasswords = false;
    EXPECT_EQ(ErrorOf<EClearPasswordError>([&] { pop.OpenMailbox(); }),
              "the password would be sent in clear text");
    EXPECT_FALSE(pop.IsSocketOpen());
    EXPECT_EQ(server.Transcript(), std::vector<std::string>{"STLS"});
}

TEST_F(Pop3TlsTest, ASilentServerTimesOutDuringTheHandshake) {
    // A listener that never accepts: the connect completes, the handshake waits for ever.
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    pop.Server = test::Loopback(ntohs(address.sin_port));
    pop.Tls = TlsMode::Implicit;
    pop.SetTimeOut(1);
    EXPECT_EQ(ErrorOf<ETimedOutError>([&] { pop.OpenMailbox(); }), "Operation timed out");
    EXPECT_FALSE(pop.IsSocketOpen());
    EXPECT_FALSE(pop.TimeCounterArmed());
    ::closesocket(listener);
}

TEST_F(Pop3TlsTest, TheAddressCheckedIsTheAddressConnected) {
    ServeBehindTheFronts();
    // Short forms that inet_addr reads as 127.0.0.1 are checked as that address (the
    // certificate names it), not as a name; blanks and a final dot are dropped first.
    for (const std::string host : {"127.1", " 127.0.0.1. ", "0x7f.0.0.1"}) {
        SCOPED_TRACE(host);
        pop.Server = host + ":" + std::to_string(tls.good);
        pop.Tls = TlsMode::Implicit;
        pop.OpenMailbox();
        EXPECT_EQ(pop.PeerHostName(), "127.0.0.1");
        EXPECT_EQ(pop.MessageCount, 2);
        pop.CloseMailbox();
    }
    pop.Server = "0177.0.0.1:" + std::to_string(tls.wrongName);
    EXPECT_EQ(ErrorOf<ECertificateError>([&] { pop.OpenMailbox(); }),
              "the server's certificate does not match the name 127.0.0.1");
}

TEST_F(Pop3TlsTest, BytesAfterTheStlsAnswerNeverReachTheReplyReader) {
    SessionScript script;
    script.replies["STLS"] = Response::Raw("+OK begin TLS\r\n+OK injected\r\n");
    ServeBehindTheFronts(script);
    pop.Server = test::Loopback(tls.backend);
    pop.Tls = TlsMode::Stls;
    EXPECT_EQ(ErrorOf<ETlsError>([&] { pop.OpenMailbox(); }),
              "the server sent more before the TLS handshake began");
    EXPECT_FALSE(pop.IsSocketOpen());
    EXPECT_EQ(server.Transcript(), std::vector<std::string>{"STLS"});
}

// A server that renegotiates while the agent reads a reply, as Secure Channel reports it on
// Windows: the record decrypts with SEC_I_RENEGOTIATE, and the next handshake round has an
// answer for the server.
namespace renegotiation {
SecurityFunctionTableA real{};
bool armed = false;
bool refuseCertificate = false;
bool failHandshake = false;
char answer[] = "RENEGOTIATION-ANSWER";
SECURITY_STATUS SEC_ENTRY Decrypt(PCtxtHandle context, PSecBufferDesc message, ULONG sequence,
                                  PULONG quality) {
    const SECURITY_STATUS status = real.DecryptMessage(context, message, sequence, quality);
    if (status != SEC_E_OK || !armed)
        return status;
    return SEC_I_RENEGOTIATE;
}
SECURITY_STATUS SEC_ENTRY Initialize(PCredHandle credentials, PCtxtHandle context, SEC_CHAR* target,
                                     ULONG flags, ULONG reserved, ULONG data, PSecBufferDesc input,
                                     ULONG reserved2, PCtxtHandle newContext, PSecBufferDesc output,
                                     PULONG attributes, PTimeStamp expiry) {
    if (failHandshake && context != nullptr) {
        // The alert that ISC_REQ_EXTENDED_ERROR asks Secure Channel for.
        output->pBuffers[0].pvBuffer = answer;
        output->pBuffers[0].cbBuffer = sizeof answer - 1;
        return SEC_E_ILLEGAL_MESSAGE;
    }
    if (!armed)
        return real.InitializeSecurityContextA(credentials, context, target, flags, reserved, data,
                                               input, reserved2, newContext, output, attributes,
                                               expiry);
    armed = false;
    output->pBuffers[0].pvBuffer = answer;
    output->pBuffers[0].cbBuffer = sizeof answer - 1;
    return SEC_E_OK;
}
SECURITY_STATUS SEC_ENTRY Free(void* buffer) {
    return buffer == answer ? SEC_E_OK : real.FreeContextBuffer(buffer);
}
SECURITY_STATUS SEC_ENTRY Query(PCtxtHandle context, ULONG attribute, void* buffer) {
    // The renegotiated session shows no certificate at all: not one to trust.
    if (refuseCertificate && attribute == SECPKG_ATTR_REMOTE_CERT_CONTEXT) {
        *static_cast<PCCERT_CONTEXT*>(buffer) = nullptr;
        return SEC_E_OK;
    }
    return real.QueryContextAttributesA(context, attribute, buffer);
}
} // namespace renegotiation

TEST_F(Pop3TlsTest, ARenegotiationIsAnsweredAtOnceAndARefusedCertificateClosesTheSession) {
    ServeBehindTheFronts();
    UseFront(tls.good);
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse);
        pop.OpenMailbox();
        renegotiation::real = SharedSspi().Sspi();
        SecurityFunctionTableA windows = renegotiation::real;
        windows.DecryptMessage = renegotiation::Decrypt;
        windows.InitializeSecurityContextA = renegotiation::Initialize;
        windows.FreeContextBuffer = renegotiation::Free;
        windows.QueryContextAttributesA = renegotiation::Query;
        SharedSspi().ReplaceTable(&windows);
        const ScopeExit restore([] { SharedSspi().ReplaceTable(nullptr); });
        const test::WinsockCalls wire;
        pop.SendLine("STAT");
        renegotiation::armed = true;
        renegotiation::refuseCertificate = refuse;
        std::string line;
        if (!refuse) {
            EXPECT_EQ(pop.ReadReply(line), 1);
            // Sent while reading, not held back for the next command.
            const std::string sent = wire.Sent();
            EXPECT_EQ(sent.substr(sent.size() - (sizeof renegotiation::answer - 1)),
                      renegotiation::answer);
        } else {
            EXPECT_THROW(pop.ReadReply(line), ECertificateError);
        }
        renegotiation::armed = false;
        renegotiation::refuseCertificate = false;
        // The answer was no real handshake, so the session cannot go on either way; a refused
        // certificate must have closed it already.
        EXPECT_EQ(pop.IsSocketOpen(), !refuse);
        pop.Close();
    }
}

TEST_F(Pop3TlsTest, AHandshakeThatFailsSendsItsAlertBeforeClosing) {
    ServeBehindTheFronts();
    UseFront(tls.good);
    renegotiation::real = SharedSspi().Sspi();
    SecurityFunctionTableA windows = renegotiation::real;
    windows.InitializeSecurityContextA = renegotiation::Initialize;
    windows.FreeContextBuffer = renegotiation::Free;
    SharedSspi().ReplaceTable(&windows);
    const ScopeExit restore([] {
        SharedSspi().ReplaceTable(nullptr);
        renegotiation::failHandshake = false;
    });
    renegotiation::failHandshake = true;
    const test::WinsockCalls wire;
    EXPECT_THROW(pop.OpenMailbox(), ETlsError);
    EXPECT_FALSE(pop.IsSocketOpen());
    const std::string sent = wire.Sent();
    ASSERT_GE(sent.size(), sizeof renegotiation::answer - 1);
    EXPECT_EQ(sent.substr(sent.size() - (sizeof renegotiation::answer - 1)), renegotiation::answer);
}

class Pop3DovecotTlsTest : public test::DovecotTest {};

TEST_F(Pop3DovecotTlsTest, StlsAndPop3sReachTheSameMailbox) {
    const std::optional<test::TlsEnv> tls = test::TlsEnv::FromEnvironment();
    if (!tls)
        GTEST_SKIP() << "no dovecot TLS port";
    const test::DovecotUser& user = dovecot.User(6);
    dovecot.ClearMailbox(user.name);
    dovecot.Deliver(user.name, "From: a@example.org\r\nSubject: tls\r\n\r\nHello\r\n");
    for (const TlsMode mode : {TlsMode::Stls, TlsMode::Implicit}) {
        TmsRemotePOP pop;
        dovecot.LogInAs(pop, user);
        pop.Tls = mode;
        pop.AskCapabilities = true;
        if (mode == TlsMode::Implicit)
            pop.Server = test::Loopback(tls->dovecotTlsPort);
        const test::WinsockCalls wire;
        pop.OpenMailbox();
        EXPECT_TRUE(pop.TlsActive());
        EXPECT_EQ(pop.MessageCount, 1);
        pop.CountNewMessages();
        EXPECT_EQ(pop.NewMessageCount, 1);
        pop.CloseMailbox();
        // Asked inside TLS, where what the server says can be trusted.
        EXPECT_EQ(wire.Sent().find("CAPA"), std::string::npos);
        ASSERT_NE(pop.ServerCapabilities(), nullptr);
        EXPECT_TRUE(pop.ServerCapabilities()->Pipelining);
    }
}

} // namespace
} // namespace pw
