// Secure Channel as the TLS channel sees it, through the binding's replaceable table: every
// credentials and security-context handle is counted from the call that made it to the one that
// released it, and a fault hook may make a call answer with an error instead (the real call is
// then not made, so nothing changes in Secure Channel). One at a time per process.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <utility>

#include "mail/agsspi.h"

namespace pw::test {

class SspiCalls {
public:
    enum class Call { AcquireCredentials, InitializeContext, Encrypt, Decrypt, Query, Control };
    // The status a call is to answer with instead, or nothing for the real call.
    using Fault = std::function<std::optional<SECURITY_STATUS>(Call)>;

    explicit SspiCalls(Fault fault = {}) {
        fault_ = std::move(fault);
        real_ = SharedSspi().Sspi();
        table_ = real_;
        table_.AcquireCredentialsHandleA = &Acquire;
        table_.FreeCredentialsHandle = &FreeCredentials;
        table_.InitializeSecurityContextA = &Initialize;
        table_.DeleteSecurityContext = &DeleteContext;
        table_.EncryptMessage = &Encrypt;
        table_.DecryptMessage = &Decrypt;
        table_.QueryContextAttributesA = &Query;
        table_.ApplyControlToken = &Control;
        Install();
    }
    ~SspiCalls() {
        SharedSspi().ReplaceTable(nullptr);
        fault_ = nullptr;
    }
    SspiCalls(const SspiCalls&) = delete;
    SspiCalls& operator=(const SspiCalls&) = delete;

    // Installs the table again: the channel then acquires its credentials anew.
    void Install() { SharedSspi().ReplaceTable(&table_); }

    static size_t LiveCredentials() { return credentials_.size(); }
    static size_t LiveContexts() { return contexts_.size(); }
    static long CredentialsAcquired() { return credentialsAcquired_; }
    static long ContextsMade() { return contextsMade_; }

private:
    using Key = std::pair<ULONG_PTR, ULONG_PTR>;
    static Key KeyOf(const SecHandle* handle) { return {handle->dwLower, handle->dwUpper}; }

    static void Count(std::set<Key>& held, long& made, const SecHandle* handle) {
        held.insert(KeyOf(handle));
        ++made;
    }

    static std::optional<SECURITY_STATUS> Injected(Call call) {
        return fault_ ? fault_(call) : std::nullopt;
    }

    static SECURITY_STATUS SEC_ENTRY Acquire(SEC_CHAR* principal, SEC_CHAR* package, ULONG use,
                                             void* logonId, void* authData, SEC_GET_KEY_FN getKey,
                                             void* getKeyArgument, PCredHandle credentials,
                                             PTimeStamp expiry) {
        if (const auto status = Injected(Call::AcquireCredentials))
            return *status;
        const SECURITY_STATUS status =
            real_.AcquireCredentialsHandleA(principal, package, use, logonId, authData, getKey,
                                            getKeyArgument, credentials, expiry);
        if (status == SEC_E_OK)
            Count(credentials_, credentialsAcquired_, credentials);
        return status;
    }
    static SECURITY_STATUS SEC_ENTRY FreeCredentials(PCredHandle credentials) {
        credentials_.erase(KeyOf(credentials));
        return real_.FreeCredentialsHandle(credentials);
    }
    static SECURITY_STATUS SEC_ENTRY Initialize(PCredHandle credentials, PCtxtHandle context,
                                                SEC_CHAR* target, ULONG request, ULONG reserved1,
                                                ULONG representation, PSecBufferDesc input,
                                                ULONG reserved2, PCtxtHandle newContext,
                                                PSecBufferDesc output, ULONG* attributes,
                                                PTimeStamp expiry) {
        if (const auto status = Injected(Call::InitializeContext))
            return *status;
        const SECURITY_STATUS status = real_.InitializeSecurityContextA(
            credentials, context, target, request, reserved1, representation, input, reserved2,
            newContext, output, attributes, expiry);
        // The first call of a handshake makes the context, whatever it goes on to say.
        if (context == nullptr && status >= 0)
            Count(contexts_, contextsMade_, newContext);
        return status;
    }
    static SECURITY_STATUS SEC_ENTRY DeleteContext(PCtxtHandle context) {
        contexts_.erase(KeyOf(context));
        return real_.DeleteSecurityContext(context);
    }
    static SECURITY_STATUS SEC_ENTRY Encrypt(PCtxtHandle context, ULONG quality,
                                             PSecBufferDesc message, ULONG sequence) {
        if (const auto status = Injected(Call::Encrypt))
            return *status;
        return real_.EncryptMessage(context, quality, message, sequence);
    }
    static SECURITY_STATUS SEC_ENTRY Decrypt(PCtxtHandle context, PSecBufferDesc message,
                                             ULONG sequence, PULONG quality) {
        if (const auto status = Injected(Call::Decrypt))
            return *status;
        return real_.DecryptMessage(context, message, sequence, quality);
    }
    static SECURITY_STATUS SEC_ENTRY Query(PCtxtHandle context, ULONG attribute, void* buffer) {
        if (const auto status = Injected(Call::Query))
            return *status;
        return real_.QueryContextAttributesA(context, attribute, buffer);
    }
    static SECURITY_STATUS SEC_ENTRY Control(PCtxtHandle context, PSecBufferDesc input) {
        if (const auto status = Injected(Call::Control))
            return *status;
        return real_.ApplyControlToken(context, input);
    }

    static inline Fault fault_;
    static inline SecurityFunctionTableA real_{};
    static inline SecurityFunctionTableA table_{};
    static inline std::set<Key> credentials_;
    static inline std::set<Key> contexts_;
    static inline long credentialsAcquired_ = 0;
    static inline long contextsMade_ = 0;
};

} // namespace pw::test
