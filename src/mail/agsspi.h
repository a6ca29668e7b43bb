// The run-time binding to Secure Channel and the certificate checks: "secur32.dll" (or
// "sspicli.dll") and "crypt32.dll" are loaded from the system directory on first use. The
// program links neither library.
#pragma once

// The chain parameters' URL retrieval time-out is among the fields this adds.
#ifndef CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#endif
#include <windows.h>
#include <wincrypt.h>
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <security.h>
// SCH_CREDENTIALS and TLS_PARAMETERS (the only way to TLS 1.3) stand behind this switch.
#ifndef SCHANNEL_USE_BLACKLISTS
#define SCHANNEL_USE_BLACKLISTS
#endif
#include <subauth.h>
#include <schannel.h>

#include <string>

#include "win/Binding.h"
#include "win/Handles.h"

namespace pw {

class TagSspi {
public:
    // The library names are a seam for tests; the product uses the defaults.
    explicit TagSspi(std::string securityLibrary = "secur32.dll",
                     std::string fallbackLibrary = "sspicli.dll",
                     std::string certificateLibrary = "crypt32.dll");
    TagSspi(const TagSspi&) = delete;
    TagSspi& operator=(const TagSspi&) = delete;

    bool IsLoaded() const { return table_ != nullptr && static_cast<bool>(crypt32_); }
    // Loads both libraries unless loaded; raises ESecurityDLLError naming what is missing.
    void Load();

    // Secure Channel's function table; loads the libraries on first use.
    const SecurityFunctionTableA& Sspi();
    // Puts another table in its place (null: Secure Channel's own again), through which tests
    // make Secure Channel answer as a Windows would that they do not run on.
    void ReplaceTable(const SecurityFunctionTableA* table);
    // Counts the replacements: what was acquired through an earlier table is acquired again.
    unsigned TableGeneration() const { return generation_; }

    BOOL CertGetCertificateChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT cert, LPFILETIME time,
                                 HCERTSTORE additionalStore, PCERT_CHAIN_PARA para, DWORD flags,
                                 LPVOID reserved, PCCERT_CHAIN_CONTEXT* chain);
    BOOL CertVerifyCertificateChainPolicy(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain,
                                          PCERT_CHAIN_POLICY_PARA para,
                                          PCERT_CHAIN_POLICY_STATUS status);
    void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain);
    PCERT_EXTENSION CertFindExtension(LPCSTR objId, DWORD count, CERT_EXTENSION* extensions);
    BOOL CryptDecodeObjectEx(DWORD encoding, LPCSTR structType, const BYTE* encoded,
                             DWORD encodedSize, DWORD flags, PCRYPT_DECODE_PARA para, void* decoded,
                             DWORD* decodedSize);
    BOOL CertFreeCertificateContext(PCCERT_CONTEXT cert);
    BOOL CryptEncodeObjectEx(DWORD encoding, LPCSTR structType, const void* structInfo, DWORD flags,
                             PCRYPT_ENCODE_PARA para, void* encoded, DWORD* encodedSize);
    BOOL CryptHashCertificate2(LPCWSTR algorithm, DWORD flags, void* reserved, const BYTE* data,
                               DWORD size, BYTE* hash, DWORD* hashSize);

private:
    // The certificate library's function, typed; raises ESecurityDLLError when it is missing.
    template <typename Function> Function CryptProc(const char* name) {
        Load();
        return TypedProc<Function>(RequireProc(crypt32_.get(), name));
    }
    static FARPROC RequireProc(HMODULE library, const char* name);

    std::string securityLibrary_;
    std::string fallbackLibrary_;
    std::string certificateLibrary_;
    UniqueModule security_;
    UniqueModule crypt32_;
    const SecurityFunctionTableA* table_ = nullptr;
    const SecurityFunctionTableA* replacement_ = nullptr;
    unsigned generation_ = 0;
};

// The one binding of the process, loaded when a TLS channel first needs it.
TagSspi& SharedSspi();

// A credentials or security-context handle, freed through the shared binding's table entry
// Free (FreeCredentialsHandle or DeleteSecurityContext).
template <auto Free> class UniqueSecHandle {
public:
    UniqueSecHandle() = default;
    UniqueSecHandle(const UniqueSecHandle&) = delete;
    UniqueSecHandle& operator=(const UniqueSecHandle&) = delete;
    ~UniqueSecHandle() { reset(); }
    // The handle, or null while none is held (as the first call of a handshake wants it).
    SecHandle* get() { return held_ ? &handle_ : nullptr; }
    // Where a call writes a new handle; Hold() once that call succeeded.
    SecHandle* Fill() { return &handle_; }
    void Hold() { held_ = true; }
    explicit operator bool() const { return held_; }
    void reset() {
        // Held only after the binding loaded, so the table is there.
        if (held_)
            (SharedSspi().Sspi().*Free)(&handle_);
        held_ = false;
    }

private:
    SecHandle handle_{};
    bool held_ = false;
};
using UniqueCredentials = UniqueSecHandle<&SecurityFunctionTableA::FreeCredentialsHandle>;
using UniqueSecurityContext = UniqueSecHandle<&SecurityFunctionTableA::DeleteSecurityContext>;

struct CertContextTraits {
    using pointer = PCCERT_CONTEXT;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { SharedSspi().CertFreeCertificateContext(h); }
};
struct CertChainTraits {
    using pointer = PCCERT_CHAIN_CONTEXT;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { SharedSspi().CertFreeCertificateChain(h); }
};
using UniqueCertContext = UniqueHandle<CertContextTraits>;
using UniqueCertChain = UniqueHandle<CertChainTraits>;

} // namespace pw
