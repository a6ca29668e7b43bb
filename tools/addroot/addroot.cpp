// addroot CAFILE: adds a CA certificate (PEM or DER) to the local machine's trusted roots of
// the Windows (or Wine prefix) it runs in, so that TLS tests meet the strict default check.
// The local machine's store asks no confirmation, unlike the current user's. A test tool only.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int Fail(const char* what, const char* file) {
    std::fprintf(stderr, "addroot: %s %s (error %lu)\n", what, file,
                 static_cast<unsigned long>(GetLastError()));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: addroot CAFILE (PEM or DER)\n");
        return 2;
    }
    const char* file = argv[1];
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && text.empty())
        return Fail("cannot read", file);

    std::vector<BYTE> der;
    if (text.find("-----BEGIN") != std::string::npos) {
        DWORD size = 0;
        if (!CryptStringToBinaryA(text.c_str(), DWORD(text.size()), CRYPT_STRING_BASE64HEADER,
                                  nullptr, &size, nullptr, nullptr))
            return Fail("no PEM certificate in", file);
        der.resize(size);
        if (!CryptStringToBinaryA(text.c_str(), DWORD(text.size()), CRYPT_STRING_BASE64HEADER,
                                  der.data(), &size, nullptr, nullptr))
            return Fail("no PEM certificate in", file);
        der.resize(size);
    } else {
        der.assign(text.begin(), text.end());
    }

    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    if (store == nullptr)
        return Fail("cannot open the local machine's ROOT store for", file);
    const BOOL added =
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), DWORD(der.size()),
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const int status = added ? 0 : Fail("cannot add", file);
    CertCloseStore(store, 0);
    if (status == 0)
        std::printf("addroot: %s is a trusted root now\n", file);
    return status;
}
