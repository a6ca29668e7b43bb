// Shared pieces of the mail component tests: a scripted server on loopback, a clock, and the
// socket with its internal state in reach.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/Errors.h"
#include "mail/agsocket.h"
#include "mail/agwsock.h"
#include "mail/mspop3.h"
#include "pop3script/ScriptedPop3Server.h"

namespace pw::test {

// The socket with what its descendants see made public.
class TestSocket : public TagSocket {
public:
    using TagSocket::LastReply;
    using TagSocket::ServiceName;
};

inline std::string Loopback(uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

// A server that plays one session script for every connection.
inline void StartWith(ScriptedPop3Server& server, const SessionScript& script) {
    server.SetScript(script);
    server.Start();
}

// A client for alice's mailbox of the scripted server, with a time-out that no loaded machine
// reaches.
inline void PrepareAlicesClient(TmsCustomPOP& pop) {
    pop.SetWinsockLoaded(true);
    pop.SetTimeOut(30);
    pop.UserName = "alice";
    pop.Password = "secret";
}

// A small message whose unique id is uid (its UIDL and the subject).
inline MailMessage PlainMessage(const std::string& uid) {
    return {"From: a@example.org\r\nSubject: " + uid + "\r\n", "Hello\r\n", uid};
}

// Milliseconds since construction.
class Stopwatch {
public:
    DWORD Elapsed() const { return GetTickCount() - start_; }

private:
    DWORD start_ = GetTickCount();
};

// The message of the exception of type E that action raises; fails the test otherwise.
template <typename E> std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const E& error) {
        return error.what();
    } catch (const std::exception& other) {
        ADD_FAILURE() << "unexpected exception: " << other.what();
        return {};
    }
    ADD_FAILURE() << "no exception";
    return {};
}

} // namespace pw::test
