// The TLS channel over plain blocking sockets: against dovecot's POP3S, against stunnel fronts
// with good and bad certificates, through a relay that cuts the stream into single bytes, and
// against servers that break the handshake. The Windows status codes are tested in the core.
#include <winsock2.h>

#include "mail/TlsChannel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "core/Errors.h"
#include "core/ScopeExit.h"
#include "core/TlsStatus.h"
#include "pop3script/ScriptedPop3Server.h"
#include "support/TlsEnv.h"
#include "win/Handles.h"

namespace pw {
namespace {

using test::ScriptedPop3Server;

struct WinsockSession {
    WinsockSession() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() { WSACleanup(); }
};

// A blocking loopback connection; every receive gives up after 20 s, so a fault fails a test
// instead of hanging it.
class Connection {
public:
    explicit Connection(uint16_t port) : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const DWORD limitMs = 20000;
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limitMs),
                   sizeof limitMs);
        if (connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { closesocket(socket_); }

    void Send(std::string& bytes) {
        if (!bytes.empty() &&
            send(socket_, bytes.data(), int(bytes.size()), 0) != int(bytes.size()))
            throw std::runtime_error("send failed");
        bytes.clear();
    }
    // Appends what came; false when the peer closed or nothing came in time.
    bool Receive(std::string& in) {
        char buffer[8192];
        const int n = recv(socket_, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        in.append(buffer, size_t(n));
        return true;
    }

private:
    SOCKET socket_;
};

// A TLS session over a connection, as the socket component drives a channel.
class TlsSession {
public:
    TlsSession(uint16_t port, TlsPeer peer) : connection(port), channel(std::move(peer)) {}

    void Handshake() {
        channel.Start(out);
        connection.Send(out);
        for (;;) {
            if (!connection.Receive(in))
                throw std::runtime_error("the server ended the handshake");
            const bool done = channel.Continue(in, out);
            connection.Send(out);
            if (done)
                return;
        }
    }
    // The next reply line (or, with multiLine, lines up to "."), decrypted.
    std::string Reply(bool multiLine = false) {
        const std::string end = multiLine ? "\r\n.\r\n" : "\r\n";
        for (;;) {
            const size_t at = plain.find(end);
            if (at != std::string::npos) {
                std::string reply = plain.substr(0, at + end.size());
                plain.erase(0, at + end.size());
                return reply;
            }
            // The reply and the server's close_notify may come in one piece.
            const bool open = channel.Decrypt(in, plain, out);
            connection.Send(out);
            if (plain.find(end) != std::string::npos)
                continue;
            if (!open)
                throw std::runtime_error("close_notify before the reply");
            if (!connection.Receive(in))
                throw std::runtime_error("the server closed before the reply");
        }
    }
    std::string Command(const std::string& line, bool multiLine = false) {
        channel.Encrypt(line + "\r\n", out);
        connection.Send(out);
        return Reply(multiLine);
    }
    // True when the server's close_notify arrives before its end of the connection.
    bool ClosedByPeer() {
        for (;;) {
            if (!channel.Decrypt(in, plain, out))
                return true;
            if (!connection.Receive(in))
                return false;
        }
    }

    WinsockSession winsock;
    Connection connection;
    TlsChannel channel;
    std::string in, out, plain;
};

std::string CertificateErrorOf(const std::function<void()>& act) {
    try {
        act();
    } catch (const ECertificateError& e) {
        return e.Message();
    }
    return "(no ECertificateError)";
}

// "AB:CD:..." in upper case: a pin as a user might copy it from a certificate viewer.
std::string AsViewerFingerprint(const std::string& hex) {
    std::string text;
    for (size_t i = 0; i < hex.size(); i += 2)
        text += (i > 0 ? ":" : "") + hex.substr(i, 2);
    std::transform(text.begin(), text.end(), text.begin(), ::toupper);
    return text;
}

using TlsChannelDovecot = test::TlsTest;

TEST_F(TlsChannelDovecot, Pop3sDialogue) {
    TlsSession session(tls.dovecotTlsPort, TlsPeer{"localhost", ""});
    session.Handshake();
    EXPECT_TRUE(session.channel.Established());
    EXPECT_EQ(session.Reply().substr(0, 3), "+OK");
    const std::string capa = session.Command("CAPA", true);
    EXPECT_EQ(capa.substr(0, 3), "+OK");
    EXPECT_NE(capa.find("\r\nUIDL\r\n"), std::string::npos) << capa;
    EXPECT_EQ(session.Command("QUIT").substr(0, 3), "+OK");
    // Dovecot closes after QUIT without a close_notify of its own; ours still goes out.
    session.channel.Shutdown(session.out);
    EXPECT_FALSE(session.out.empty());
}

TEST_F(TlsChannelDovecot, DottedAddressMatchesTheAddressInTheCertificate) {
    TlsSession session(tls.dovecotTlsPort, TlsPeer{"127.0.0.1", ""});
    session.Handshake();
    EXPECT_EQ(session.Reply().substr(0, 3), "+OK");
}

TEST_F(TlsChannelDovecot, RecordsArriveByteByByte) {
    TlsSession session(tls.dovecotTlsPort, TlsPeer{"localhost", ""});
    session.Handshake();
    // Collect the whole greeting record first, then hand it over a byte at a time.
    std::string records = session.in;
    while (FirstTlsRecordLength(records) == 0 && session.connection.Receive(records)) {
    }
    session.in.clear();
    for (char byte : records) {
        session.in += byte;
        ASSERT_TRUE(session.channel.Decrypt(session.in, session.plain, session.out));
    }
    EXPECT_TRUE(session.in.empty());
    EXPECT_EQ(session.plain.substr(0, 4), "+OK ");
}

TEST_F(TlsChannelDovecot, LongTextIsCutIntoRecordsTheSessionAllows) {
    TlsSession session(tls.dovecotTlsPort, TlsPeer{"localhost", ""});
    session.Handshake();
    std::string records;
    session.channel.Encrypt(std::string(40000, 'x'), records);
    size_t count = 0;
    for (std::string_view rest = records; !rest.empty(); ++count) {
        const size_t length = FirstTlsRecordLength(rest);
        ASSERT_GT(length, 0u);
        rest.remove_prefix(length);
    }
    EXPECT_GE(count, 3u);
}

TEST_F(TlsChannelDovecot, HandshakeTimePerConnection) {
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        TlsSession session(tls.dovecotTlsPort, TlsPeer{"localhost", ""});
        session.Handshake();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        session.channel.Shutdown(session.out);
        session.connection.Send(session.out);
    }
    std::sort(ms.begin(), ms.end());
    // A figure for the record, not a bound.
    std::printf("TLS handshake with dovecot: median %.1f ms, min %.1f, max %.1f (20 runs)\n",
                ms[ms.size() / 2], ms.front(), ms.back());
    RecordProperty("handshake_median_ms", std::to_string(ms[ms.size() / 2]));
}

// The stunnel fronts forward to a scripted server that the test runs on the backend port.
class TlsChannelFronts : public test::TlsTest {
protected:
    void SetUp() override {
        test::TlsTest::SetUp();
        if (IsSkipped())
            return;
        server.Start(tls.backend);
    }
    std::string GreetingVia(uint16_t front, TlsPeer peer) {
        TlsSession session(front, std::move(peer));
        session.Handshake();
        return session.Reply();
    }
    ScriptedPop3Server server;
};

TEST_F(TlsChannelFronts, TrustedCertificateForTheNamePasses) {
    EXPECT_EQ(GreetingVia(tls.good, TlsPeer{"localhost", ""}), "+OK pwtest POP3 server ready\r\n");
}

TEST_F(TlsChannelFronts, CloseNotifyEndsTheSession) {
    TlsSession session(tls.good, TlsPeer{"localhost", ""});
    session.Handshake();
    EXPECT_EQ(session.Reply(), "+OK pwtest POP3 server ready\r\n");
    // The scripted server closes after QUIT; stunnel turns that into a close_notify.
    EXPECT_EQ(session.Command("QUIT").substr(0, 3), "+OK");
    EXPECT_TRUE(session.ClosedByPeer());
    // Once closed, nothing more is read.
    session.in = std::string("\x17\x03\x03\x00\x01x", 6);
    EXPECT_FALSE(session.channel.Decrypt(session.in, session.plain, session.out));
    EXPECT_EQ(session.in.size(), 6u);
    session.channel.Shutdown(session.out);
    EXPECT_FALSE(session.out.empty()); // our own close_notify
}

// Windows' answer to a close_notify, where Wine's Secure Channel decrypts it as an empty record.
DECRYPT_MESSAGE_FN realDecryptMessage = nullptr;
SECURITY_STATUS SEC_ENTRY DecryptMessageAsWindows(PCtxtHandle context, PSecBufferDesc message,
                                                  ULONG sequence, PULONG quality) {
    const bool alert = message->pBuffers[0].cbBuffer > 0 &&
                       static_cast<const char*>(message->pBuffers[0].pvBuffer)[0] == '\x15';
    const SECURITY_STATUS status = realDecryptMessage(context, message, sequence, quality);
    return status == SEC_E_OK && alert ? SEC_I_CONTEXT_EXPIRED : status;
}

TEST_F(TlsChannelFronts, CloseNotifyReportedAsWindowsDoesEndsTheSession) {
    SecurityFunctionTableA windows = SharedSspi().Sspi();
    realDecryptMessage = windows.DecryptMessage;
    windows.DecryptMessage = DecryptMessageAsWindows;
    SharedSspi().ReplaceTable(&windows);
    const ScopeExit restore([] { SharedSspi().ReplaceTable(nullptr); });
    TlsSession session(tls.good, TlsPeer{"localhost", ""});
    session.Handshake();
    EXPECT_EQ(session.Command("QUIT").substr(0, 3), "+OK");
    EXPECT_TRUE(session.ClosedByPeer());
}

TEST_F(TlsChannelFronts, BadCertificatesFailWithTheUsersWords) {
    EXPECT_EQ(CertificateErrorOf([&] {
                  GreetingVia(tls.expired, TlsPeer{"localhost", ""});
              }),
              "the server's certificate has expired");
    EXPECT_EQ(CertificateErrorOf([&] {
                  GreetingVia(tls.wrongName, TlsPeer{"localhost", ""});
              }),
              "the server's certificate does not match the name localhost");
    EXPECT_EQ(CertificateErrorOf([&] {
                  GreetingVia(tls.selfSigned, TlsPeer{"localhost", ""});
              }),
              "the server's certificate is not trusted");
}

TEST_F(TlsChannelFronts, APinReplacesTheChainAndNameCheckForItsCertificateOnly) {
    const std::string pin = AsViewerFingerprint(tls.selfSignedSha256);
    EXPECT_EQ(GreetingVia(tls.selfSigned, TlsPeer{"localhost", pin}),
              "+OK pwtest POP3 server ready\r\n");
    // Even a name the certificate does not carry: the pin alone decides.
    EXPECT_EQ(GreetingVia(tls.selfSigned, TlsPeer{"elsewhere.example", pin}),
              "+OK pwtest POP3 server ready\r\n");
    std::string wrong = tls.selfSignedSha256;
    wrong[0] = wrong[0] == '0' ? '1' : '0';
    EXPECT_EQ(CertificateErrorOf([&] {
                  GreetingVia(tls.selfSigned, TlsPeer{"localhost", wrong});
              }),
              "the server's certificate does not match the pinned fingerprint");
    // A trusted certificate that is not the pinned one fails too.
    EXPECT_EQ(CertificateErrorOf([&] {
                  GreetingVia(tls.good, TlsPeer{"localhost", pin});
              }),
              "the server's certificate does not match the pinned fingerprint");
}

// splitproxy.exe between the channel and dovecot: every byte its own TCP segment.
class SplitProxy {
public:
    explicit SplitProxy(uint16_t targetPort) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        if (!CreatePipe(&read, &write, &inherit, 0))
            throw std::runtime_error("no pipe");
        UniqueKernelHandle readEnd(read), writeEnd(write);
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::string command =
            std::string("\"") + PW_SPLITPROXY_EXE + "\" 0 127.0.0.1:" + std::to_string(targetPort);
        PROCESS_INFORMATION info{};
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                            nullptr, nullptr, &startup, &info))
            throw std::runtime_error("cannot start " + command);
        process_.reset(info.hProcess);
        CloseHandle(info.hThread);
        writeEnd.reset();
        std::string line;
        char c = 0;
        DWORD n = 0;
        while (line.find('\n') == std::string::npos && ReadFile(read, &c, 1, &n, nullptr) && n == 1)
            line += c;
        port_ = static_cast<uint16_t>(std::strtoul(line.c_str(), nullptr, 10));
        if (port_ == 0)
            throw std::runtime_error("splitproxy printed no port");
    }
    ~SplitProxy() {
        TerminateProcess(process_.get(), 0);
        WaitForSingleObject(process_.get(), 10000);
    }
    uint16_t Port() const { return port_; }

private:
    UniqueKernelHandle process_;
    uint16_t port_ = 0;
};

TEST_F(TlsChannelDovecot, OneByteSegmentsBothWays) {
    SplitProxy proxy(tls.dovecotTlsPort);
    TlsSession session(proxy.Port(), TlsPeer{"localhost", ""});
    session.Handshake();
    EXPECT_EQ(session.Reply().substr(0, 3), "+OK");
    EXPECT_EQ(session.Command("CAPA", true).substr(0, 3), "+OK");
    EXPECT_EQ(session.Command("QUIT").substr(0, 3), "+OK");
}

// A one-connection server on a thread that reads the ClientHello and answers with raw bytes.
class RawServer {
public:
    explicit RawServer(std::string answer) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, answer] {
            const SOCKET peer = accept(listener_, nullptr, nullptr);
            if (peer == INVALID_SOCKET)
                return;
            char buffer[4096];
            recv(peer, buffer, sizeof buffer, 0);
            send(peer, answer.data(), int(answer.size()), 0);
            closesocket(peer);
        });
    }
    ~RawServer() {
        closesocket(listener_);
        thread_.join();
    }
    uint16_t Port() const { return port_; }

private:
    WinsockSession winsock_;
    SOCKET listener_;
    uint16_t port_ = 0;
    std::thread thread_;
};

// What the channel does with a handshake answer that is not one.
void HandshakeWith(const std::string& answer, const std::function<void(TlsSession&)>& check) {
    RawServer server(answer);
    TlsSession session(server.Port(), TlsPeer{"localhost", ""});
    session.channel.Start(session.out);
    session.connection.Send(session.out);
    while (session.connection.Receive(session.in)) {
    }
    check(session);
}

TEST(TlsChannelHandshake, ServerClosingInTheMiddleLeavesThePartialRecordUnread) {
    const std::string partial("\x16\x03\x03\x00\x40\x02\x00\x00", 8);
    HandshakeWith(partial, [&](TlsSession& session) {
        EXPECT_FALSE(session.channel.Continue(session.in, session.out));
        EXPECT_EQ(session.in, partial);
        EXPECT_FALSE(session.channel.Established());
        EXPECT_THROW(session.channel.Encrypt("x", session.out), ETlsError);
    });
}

TEST(TlsChannelHandshake, BrokenAnswersFailAsTlsErrors) {
    for (const std::string& answer :
         {std::string("+OK POP3 server ready\r\n"),               // clear text on 995
          std::string("\x15\x03\x03\x00\x02\x02\x28", 7),         // handshake_failure
          std::string("\x16\x03\x03\x00\x04\x02\x00\x00\x00", 9), // an empty ServerHello
          std::string("\x16\x03\x03\xff\xff", 5)}) {              // an over-long record
        HandshakeWith(answer, [&](TlsSession& session) {
            EXPECT_THROW(session.channel.Continue(session.in, session.out), ETlsError)
                << StatusHex(uint32_t(static_cast<unsigned char>(answer[0])));
        });
    }
}

TEST(TlsChannel, AnInvalidPinIsRefusedBeforeAnyConnection) {
    EXPECT_THROW(TlsChannel(TlsPeer{"localhost", "12:34"}), ETlsError);
}

TEST(TagSspi, MissingLibrariesAndFunctionsRaiseTheirOwnError) {
    const auto messageOf = [](TagSspi& binding) -> std::string {
        try {
            binding.Load();
        } catch (const ESecurityDLLError& e) {
            return e.Message();
        }
        return "(loaded)";
    };
    TagSspi none("nosuch-sspi.dll", "nosuch-sspi2.dll");
    EXPECT_EQ(messageOf(none), "Secure Channel not found (nosuch-sspi.dll)");
    EXPECT_FALSE(none.IsLoaded());
    TagSspi noFunction("kernel32.dll", "user32.dll");
    EXPECT_EQ(messageOf(noFunction), "Function InitSecurityInterfaceA not found");
    TagSspi noCrypt("secur32.dll", "sspicli.dll", "nosuch-crypt.dll");
    EXPECT_EQ(messageOf(noCrypt), "Certificate library not found (nosuch-crypt.dll)");
    TagSspi real;
    EXPECT_EQ(messageOf(real), "(loaded)");
    EXPECT_TRUE(real.IsLoaded());
    TagSspi noChainFunction("secur32.dll", "sspicli.dll", "kernel32.dll");
    EXPECT_THROW(noChainFunction.CertFreeCertificateChain(nullptr), ESecurityDLLError);
}

// Secure Channel answering as Windows does where Wine answers otherwise: a table whose entries
// a test replaces, restored when it ends.
class ReplacedTable {
public:
    ReplacedTable() : table(SharedSspi().Sspi()) { real = table; }
    ~ReplacedTable() { SharedSspi().ReplaceTable(nullptr); }
    void Install() { SharedSspi().ReplaceTable(&table); }
    SecurityFunctionTableA table;
    static SecurityFunctionTableA real;
};
SecurityFunctionTableA ReplacedTable::real{};

TEST_F(TlsChannelFronts, AServerOfOnlyTls10IsRefusedInItsOwnWords) {
    try {
        GreetingVia(tls.tls10, TlsPeer{"localhost", ""});
        ADD_FAILURE() << "a TLS 1.0 session was accepted";
    } catch (const ETlsVersionError& e) {
        EXPECT_EQ(e.Message(), "the server offers only TLS 1.0");
    }
}

// A Windows whose policy still allows TLS 1.0 negotiates it: the version check refuses it.
SECURITY_STATUS SEC_ENTRY QueryAsTls10(PCtxtHandle context, ULONG attribute, void* buffer) {
    const SECURITY_STATUS status =
        ReplacedTable::real.QueryContextAttributesA(context, attribute, buffer);
    if (attribute == SECPKG_ATTR_CONNECTION_INFO && status == SEC_E_OK)
        static_cast<SecPkgContext_ConnectionInfo*>(buffer)->dwProtocol = SP_PROT_TLS1_0_CLIENT;
    return status;
}

TEST_F(TlsChannelFronts, AnOldVersionNegotiatedAfterAllIsRefusedAfterTheHandshake) {
    ReplacedTable windows;
    windows.table.QueryContextAttributesA = QueryAsTls10;
    windows.Install();
    EXPECT_THROW(GreetingVia(tls.good, TlsPeer{"localhost", ""}), ETlsVersionError);
}

// Secure Channel that cannot hand the server's certificate over has failed: that is no verdict
// on the certificate, and the user must not read that it is not trusted.
SECURITY_STATUS SEC_ENTRY QueryWithoutCertificate(PCtxtHandle context, ULONG attribute,
                                                  void* buffer) {
    if (attribute == SECPKG_ATTR_REMOTE_CERT_CONTEXT)
        return SEC_E_INVALID_HANDLE;
    return ReplacedTable::real.QueryContextAttributesA(context, attribute, buffer);
}

TEST_F(TlsChannelFronts, ACertificateSecureChannelCannotHandOverIsNoUntrustedOne) {
    ReplacedTable windows;
    windows.table.QueryContextAttributesA = QueryWithoutCertificate;
    windows.Install();
    try {
        GreetingVia(tls.good, TlsPeer{"localhost", ""});
        ADD_FAILURE() << "the handshake went through";
    } catch (const ETlsError& e) {
        EXPECT_EQ(e.Message(), "TLS handshake failed (0x80090301)");
    }
}

// What AcquireCredentialsHandle was asked for; SCH_CREDENTIALS refused as Windows 10 and older
// refuse it, or taken as Windows 11 takes it (handed on to Wine as the classic form).
std::vector<DWORD> acquiredVersions;
SCHANNEL_CRED classicAsked{};
TLS_PARAMETERS modernAsked{};
bool modernRefused = true;
SECURITY_STATUS SEC_ENTRY AcquireAsWindows(SEC_CHAR* principal, SEC_CHAR* package, ULONG use,
                                           void* logon, void* data, SEC_GET_KEY_FN getKey,
                                           void* argument, PCredHandle handle, PTimeStamp expiry) {
    const DWORD version = *static_cast<const DWORD*>(data);
    acquiredVersions.push_back(version);
    SCHANNEL_CRED classic{};
    if (version == SCH_CREDENTIALS_VERSION) {
        const auto* modern = static_cast<const SCH_CREDENTIALS*>(data);
        modernAsked = *modern->pTlsParameters;
        if (modernRefused)
            return SEC_E_UNKNOWN_CREDENTIALS;
        classic.dwVersion = SCHANNEL_CRED_VERSION;
        classic.dwFlags = modern->dwFlags;
        classic.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        data = &classic;
    } else {
        classicAsked = *static_cast<const SCHANNEL_CRED*>(data);
    }
    return ReplacedTable::real.AcquireCredentialsHandleA(principal, package, use, logon, data,
                                                         getKey, argument, handle, expiry);
}

TEST_F(TlsChannelFronts, NewCredentialsFirstThenTheClassicOnesAndOneHandleForEverySession) {
    for (const bool refused : {true, false}) {
        ReplacedTable windows;
        windows.table.AcquireCredentialsHandleA = AcquireAsWindows;
        windows.Install();
        acquiredVersions.clear();
        modernRefused = refused;
        for (int session = 0; session < 3; ++session)
            EXPECT_EQ(GreetingVia(tls.good, TlsPeer{"localhost", ""}),
                      "+OK pwtest POP3 server ready\r\n");
        const std::vector<DWORD> expected =
            refused ? std::vector<DWORD>{SCH_CREDENTIALS_VERSION, SCHANNEL_CRED_VERSION}
                    : std::vector<DWORD>{SCH_CREDENTIALS_VERSION};
        EXPECT_EQ(acquiredVersions, expected);
        constexpr DWORD old = SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
        EXPECT_EQ(modernAsked.grbitDisabledProtocols & old, old);
        EXPECT_EQ(modernAsked.grbitDisabledProtocols & SP_PROT_TLS1_3_CLIENT, 0u);
    }
    EXPECT_EQ(classicAsked.grbitEnabledProtocols, DWORD(SP_PROT_TLS1_2_CLIENT));
    EXPECT_NE(classicAsked.dwFlags & SCH_USE_STRONG_CRYPTO, 0u);
    EXPECT_NE(classicAsked.dwFlags & SCH_CRED_MANUAL_CRED_VALIDATION, 0u);
}

TEST_F(TlsChannelFronts, AKeyPinSurvivesARenewalWhereACertificatePinFails) {
    const std::string key = "spki:" + tls.selfSignedSpki256;
    EXPECT_EQ(GreetingVia(tls.renewed, TlsPeer{"localhost", key}),
              "+OK pwtest POP3 server ready\r\n");
    EXPECT_EQ(CertificateErrorOf([&] {
                  GreetingVia(tls.renewed, TlsPeer{"localhost", tls.selfSignedSha256});
              }),
              "the server's certificate does not match the pinned fingerprint");
    // Today's certificate and tomorrow's key, side by side before the change.
    const std::string both = tls.selfSignedSha256 + ", " + key;
    EXPECT_EQ(GreetingVia(tls.selfSigned, TlsPeer{"localhost", both}),
              "+OK pwtest POP3 server ready\r\n");
    EXPECT_EQ(GreetingVia(tls.renewed, TlsPeer{"localhost", both}),
              "+OK pwtest POP3 server ready\r\n");
}

TEST_F(TlsChannelFronts, APinnedCertificateTellsTheDaysItHasLeft) {
    TlsSession pinned(tls.expiring, TlsPeer{"localhost", tls.expiringSha256});
    pinned.Handshake();
    ASSERT_TRUE(pinned.channel.PinnedDaysLeft().has_value());
    EXPECT_GE(*pinned.channel.PinnedDaysLeft(), 5);
    EXPECT_LE(*pinned.channel.PinnedDaysLeft(), 7);
    TlsSession trusted(tls.expiring, TlsPeer{"localhost", ""});
    trusted.Handshake();
    EXPECT_FALSE(trusted.channel.PinnedDaysLeft().has_value());
}

// A decryption that reports plaintext outside the record and uses none of it.
SECURITY_STATUS SEC_ENTRY DecryptOutOfBounds(PCtxtHandle, PSecBufferDesc message, ULONG, PULONG) {
    SecBuffer* buffers = message->pBuffers;
    const ULONG length = buffers[0].cbBuffer;
    buffers[0].pvBuffer = static_cast<char*>(buffers[0].pvBuffer) + length + 16;
    buffers[0].cbBuffer = 4;
    buffers[1] = {length, SECBUFFER_EXTRA, nullptr};
    return SEC_E_OK;
}

TEST_F(TlsChannelFronts, AMisbehavingDecryptionNeitherReadsOutsideTheRecordNorLoops) {
    TlsSession session(tls.good, TlsPeer{"localhost", ""});
    session.Handshake();
    ReplacedTable broken;
    broken.table.DecryptMessage = DecryptOutOfBounds;
    broken.Install();
    while (FirstTlsRecordLength(session.in) == 0)
        ASSERT_TRUE(session.connection.Receive(session.in));
    EXPECT_THROW(session.channel.Decrypt(session.in, session.plain, session.out), ETlsError);
    EXPECT_EQ(session.plain, "");
}

} // namespace
} // namespace pw
