// Secure Channel binding; see agsspi.h. Secure Channel hands out one table of functions, taken
// once; the certificate functions are looked up when called, like the Winsock binding's.
#include "agsspi.h"

#include "core/Errors.h"

namespace pw {

namespace {

UniqueModule LoadQuietly(const std::string& name) {
    // No "cannot find the library" box on a machine without it.
    const UINT previousMode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    UniqueModule module = LoadSystemLibrary(name.c_str());
    SetErrorMode(previousMode);
    return module;
}

} // namespace

TagSspi::TagSspi(std::string securityLibrary, std::string fallbackLibrary,
                 std::string certificateLibrary)
    : securityLibrary_(std::move(securityLibrary)), fallbackLibrary_(std::move(fallbackLibrary)),
      certificateLibrary_(std::move(certificateLibrary)) {}

FARPROC TagSspi::RequireProc(HMODULE library, const char* name) {
    const FARPROC address = LookUpFunction<FARPROC>(library, name);
    if (address == nullptr)
        throw ESecurityDLLError(std::string("Function ") + name + " not found");
    return address;
}

void TagSspi::Load() {
    if (table_ == nullptr) {
        // Newer systems keep the functions in sspicli.dll, which secur32.dll forwards to.
        std::string missing;
        for (const std::string* name : {&securityLibrary_, &fallbackLibrary_}) {
            UniqueModule module = LoadQuietly(*name);
            const auto init = LookUpFunction<decltype(&::InitSecurityInterfaceA)>(
                module.get(), "InitSecurityInterfaceA");
            const SecurityFunctionTableA* table = init != nullptr ? init() : nullptr;
            if (table != nullptr) {
                security_ = std::move(module);
                table_ = table;
                break;
            }
            if (missing.empty())
                missing = module ? "Function InitSecurityInterfaceA not found"
                                 : "Secure Channel not found (" + *name + ")";
        }
        if (table_ == nullptr)
            throw ESecurityDLLError(missing);
    }
    if (!crypt32_) {
        crypt32_ = LoadQuietly(certificateLibrary_);
        if (!crypt32_)
            throw ESecurityDLLError("Certificate library not found (" + certificateLibrary_ + ")");
    }
}

const SecurityFunctionTableA& TagSspi::Sspi() {
    Load();
    return replacement_ != nullptr ? *replacement_ : *table_;
}

void TagSspi::ReplaceTable(const SecurityFunctionTableA* table) {
    replacement_ = table;
    ++generation_;
}

// Calls the certificate library's function of the same name as the wrapper.
#define PW_CRYPT_CALL(name, ...) CryptProc<decltype(&::name)>(#name)(__VA_ARGS__)

BOOL TagSspi::CertGetCertificateChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT cert, LPFILETIME time,
                                      HCERTSTORE additionalStore, PCERT_CHAIN_PARA para,
                                      DWORD flags, LPVOID reserved, PCCERT_CHAIN_CONTEXT* chain) {
    return PW_CRYPT_CALL(CertGetCertificateChain, engine, cert, time, additionalStore, para, flags,
                         reserved, chain);
}
BOOL TagSspi::CertVerifyCertificateChainPolicy(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain,
                                               PCERT_CHAIN_POLICY_PARA para,
                                               PCERT_CHAIN_POLICY_STATUS status) {
    return PW_CRYPT_CALL(CertVerifyCertificateChainPolicy, policy, chain, para, status);
}
void TagSspi::CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain) {
    PW_CRYPT_CALL(CertFreeCertificateChain, chain);
}
PCERT_EXTENSION TagSspi::CertFindExtension(LPCSTR objId, DWORD count, CERT_EXTENSION* extensions) {
    return PW_CRYPT_CALL(CertFindExtension, objId, count, extensions);
}
BOOL TagSspi::CryptDecodeObjectEx(DWORD encoding, LPCSTR structType, const BYTE* encoded,
                                  DWORD encodedSize, DWORD flags, PCRYPT_DECODE_PARA para,
                                  void* decoded, DWORD* decodedSize) {
    return PW_CRYPT_CALL(CryptDecodeObjectEx, encoding, structType, encoded, encodedSize, flags,
                         para, decoded, decodedSize);
}
BOOL TagSspi::CertFreeCertificateContext(PCCERT_CONTEXT cert) {
    return PW_CRYPT_CALL(CertFreeCertificateContext, cert);
}

BOOL TagSspi::CryptEncodeObjectEx(DWORD encoding, LPCSTR structType, const void* structInfo,
                                  DWORD flags, PCRYPT_ENCODE_PARA para, void* encoded,
                                  DWORD* encodedSize) {
    return PW_CRYPT_CALL(CryptEncodeObjectEx, encoding, structType, structInfo, flags, para,
                         encoded, encodedSize);
}
BOOL TagSspi::CryptHashCertificate2(LPCWSTR algorithm, DWORD flags, void* reserved,
                                    const BYTE* data, DWORD size, BYTE* hash, DWORD* hashSize) {
    // Windows Vista and later; the headers show it only to programs that require them.
    using Function = BOOL(WINAPI*)(LPCWSTR, DWORD, void*, const BYTE*, DWORD, BYTE*, DWORD*);
    return CryptProc<Function>("CryptHashCertificate2")(algorithm, flags, reserved, data, size,
                                                        hash, hashSize);
}

#undef PW_CRYPT_CALL

TagSspi& SharedSspi() {
    // Destroyed, and so unloaded, when the program ends.
    static TagSspi shared;
    return shared;
}

} // namespace pw
