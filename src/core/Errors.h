// Exception classes of the agent and its components. Failures are told apart by class;
// every class is a direct child of Exception and carries only its message.
#pragma once

#include <exception>
#include <string>

namespace pw {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    // The class's own name, for diagnostics ("ESocketError").
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string message_;
};

#define PW_DECLARE_EXCEPTION(Name)                                                                 \
    class Name : public Exception {                                                                \
    public:                                                                                        \
        using Exception::Exception;                                                                \
        const char* ClassName() const noexcept override { return #Name; }                          \
    }

// A socket-level failure: a Windows Sockets code, a missing property, no connection.
PW_DECLARE_EXCEPTION(ESocketError);
// The server answered negatively; the message is its reply line.
PW_DECLARE_EXCEPTION(EServerError);
// The Windows Sockets library or one of its functions is missing.
PW_DECLARE_EXCEPTION(EWinsockDLLError);
// An error reported by the dial-up (RAS) library.
PW_DECLARE_EXCEPTION(ERASError);
// A text that should hold a number does not.
PW_DECLARE_EXCEPTION(EConvertError);
// A file or decoder input/output failure ("Invalid Character" from the Base64 decoder).
PW_DECLARE_EXCEPTION(EInOutError);
// A server went past a bound that no real mailbox comes near (a reply's size, a walk's length
// or time); the session is given up.
PW_DECLARE_EXCEPTION(EServerLimitError);
// The Secure Channel (SSPI) or certificate library, or one of their functions, is missing.
PW_DECLARE_EXCEPTION(ESecurityDLLError);
// A TLS handshake or record failed: a protocol error, a bad or over-long record.
PW_DECLARE_EXCEPTION(ETlsError);
// The server's certificate failed the check; the message is the reason as a user reads it.
PW_DECLARE_EXCEPTION(ECertificateError);
// TLS is required for the server (STLS) but the server refused to start it.
PW_DECLARE_EXCEPTION(ETlsRequiredError);
// The settings forbid a password in clear text and the connection has no TLS.
PW_DECLARE_EXCEPTION(EClearPasswordError);

#undef PW_DECLARE_EXCEPTION

// A waiting operation was cancelled; the message is always "Operation has been canceled".
class ECanceledError : public Exception {
public:
    ECanceledError();
    const char* ClassName() const noexcept override { return "ECanceledError"; }
};

// A waiting operation ran out of time; the message is always "Operation timed out".
class ETimedOutError : public Exception {
public:
    ETimedOutError();
    const char* ClassName() const noexcept override { return "ETimedOutError"; }
};

// The class of any exception as a diagnostic names it: the agent's own by their names, the
// standard library's common ones as "std::bad_alloc" and so on, anything else "std::exception".
std::string ExceptionClassName(const std::exception& e);

} // namespace pw
