// The run-time Winsock binding: loading, missing pieces, and the counted start-ups of sockets.
#include "MailTesting.h"

namespace pw {
namespace {

using test::ErrorOf;

TEST(Winsock, MissingLibraryAndFunctionsAreReportedByName) {
    TagWinsock missing("pw-no-such-winsock.dll");
    EXPECT_EQ(ErrorOf<EWinsockDLLError>([&] { missing.Load(); }), "Winsock not found");
    EXPECT_FALSE(missing.IsLoaded());
    EXPECT_EQ(ErrorOf<EWinsockDLLError>([&] { missing.WSAGetLastError(); }),
              "Winsock is not loaded");

    // A system library that is not Winsock lacks every function.
    TagWinsock other("kernel32.dll");
    other.Load();
    EXPECT_TRUE(other.IsLoaded());
    EXPECT_EQ(ErrorOf<EWinsockDLLError>([&] { other.WSAAsyncSelect(0, nullptr, 0, 0); }),
              "Function WSAAsyncSelect not found");
    other.Unload();
    other.Unload();
    EXPECT_FALSE(other.IsLoaded());
}

TEST(Winsock, WrappersReachTheLibraryAndSplitNotifications) {
    TagWinsock winsock;
    winsock.Load();
    EXPECT_EQ(winsock.inet_addr("127.0.0.1"), 0x0100007Fu);
    EXPECT_EQ(winsock.inet_addr("not an address"), INADDR_NONE);
    EXPECT_EQ(winsock.htons(0x1234), 0x3412);
    const LPARAM lParam = MAKELPARAM(FD_CLOSE, WSAECONNRESET);
    EXPECT_EQ(TagWinsock::AsyncErrorOf(lParam), WSAECONNRESET);
    EXPECT_EQ(TagWinsock::SelectEventOf(lParam), FD_CLOSE);
}

TEST(Winsock, EachNewSocketUnloadsTheSharedBinding) {
    TagSocket first;
    first.SetWinsockLoaded(true);
    EXPECT_TRUE(first.WinsockLoaded());
    TagSocket second;
    EXPECT_FALSE(first.WinsockLoaded());

    // Not loaded: the first Winsock call fails, and OnError is not involved.
    bool errorFired = false;
    second.OnError = [&](TObject&, std::string&) { errorFired = true; };
    second.Server = "127.0.0.1:110";
    EXPECT_EQ(ErrorOf<EWinsockDLLError>([&] { second.Open(); }), "Winsock is not loaded");
    EXPECT_FALSE(errorFired);
}

TEST(Winsock, DestroyingASocketCleansUpOncePerOpen) {
    auto& winsock = SharedWinsock();
    winsock.Load();
    // Start from no start-up at all (no server of another test is alive here).
    for (int i = 0; i < 100 && winsock.WSACleanup() == 0; ++i) {
    }
    {
        TagSocket socket;
        socket.SetWinsockLoaded(true);
        WSADATA data;
        ASSERT_EQ(winsock.WSAStartup(0x0101, &data), 0); // the test's own start-up
        socket.Server = "127.0.0.1:1";                   // no lookups: dotted address with a port
        for (int i = 0; i < 3; ++i) {
            socket.Open();
            socket.Close();
        }
        EXPECT_EQ(socket.StartupCount(), 3u);
    }
    // Exactly the test's own start-up is left.
    EXPECT_EQ(winsock.WSACleanup(), 0);
    EXPECT_EQ(winsock.WSACleanup(), SOCKET_ERROR);
}

} // namespace
} // namespace pw
