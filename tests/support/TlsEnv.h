// The TLS peers of the tests: the test runner (scripts/wine-ctest.sh) makes a throw-away CA
// (scripts/certs.sh), makes it a trusted root of the Wine prefix, serves POP3S from dovecot
// and puts one stunnel front per certificate kind before a clear-text port on which a test
// starts its scripted server. Tests derive from TlsTest and skip without them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace pw::test {

// A port from the environment; empty when unset or not a port.
inline std::optional<uint16_t> PortFromEnvironment(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr)
        return std::nullopt;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

struct TlsEnv {
    uint16_t dovecotTlsPort = 0;   // PW_DOVECOT_TLS_PORT: dovecot's POP3S, certificate "server"
    uint16_t good = 0;             // PW_TLS_FRONT_GOOD: signed by the CA for localhost, 127.0.0.1
    uint16_t expired = 0;          // PW_TLS_FRONT_EXPIRED: the same names, expired in 2020
    uint16_t wrongName = 0;        // PW_TLS_FRONT_WRONGNAME: signed by the CA for wrong.example
    uint16_t selfSigned = 0;       // PW_TLS_FRONT_SELFSIGNED: self-signed for localhost, 127.0.0.1
    uint16_t renewed = 0;          // PW_TLS_FRONT_RENEWED: the self-signed one renewed, same key
    uint16_t expiring = 0;         // PW_TLS_FRONT_EXPIRING: signed by the CA, ends in 7 days
    uint16_t tls10 = 0;            // PW_TLS_FRONT_TLS10: certificate "server", TLS 1.0 only
    uint16_t backend = 0;          // PW_TLS_BACKEND_PORT: where every front forwards to
    std::string selfSignedSha256;  // PW_TLS_SELFSIGNED_SHA256
    std::string selfSignedSpki256; // PW_TLS_SELFSIGNED_SPKI256: its public key's SHA-256
    std::string expiringSha256;    // PW_TLS_EXPIRING_SHA256

    static std::optional<TlsEnv> FromEnvironment() {
        TlsEnv env;
        const std::pair<const char*, uint16_t*> ports[] = {
            {"PW_DOVECOT_TLS_PORT", &env.dovecotTlsPort},
            {"PW_TLS_FRONT_GOOD", &env.good},
            {"PW_TLS_FRONT_EXPIRED", &env.expired},
            {"PW_TLS_FRONT_WRONGNAME", &env.wrongName},
            {"PW_TLS_FRONT_SELFSIGNED", &env.selfSigned},
            {"PW_TLS_FRONT_RENEWED", &env.renewed},
            {"PW_TLS_FRONT_EXPIRING", &env.expiring},
            {"PW_TLS_FRONT_TLS10", &env.tls10},
            {"PW_TLS_BACKEND_PORT", &env.backend}};
        for (const auto& [name, port] : ports) {
            const std::optional<uint16_t> value = PortFromEnvironment(name);
            if (!value)
                return std::nullopt;
            *port = *value;
        }
        const std::pair<const char*, std::string*> hashes[] = {
            {"PW_TLS_SELFSIGNED_SHA256", &env.selfSignedSha256},
            {"PW_TLS_SELFSIGNED_SPKI256", &env.selfSignedSpki256},
            {"PW_TLS_EXPIRING_SHA256", &env.expiringSha256}};
        for (const auto& [name, hash] : hashes) {
            const char* value = std::getenv(name);
            if (value == nullptr)
                return std::nullopt;
            *hash = value;
        }
        return env;
    }
};

// A test against the runner's TLS peers; skipped when there are none.
class TlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::optional<TlsEnv> env = TlsEnv::FromEnvironment();
        if (!env)
            GTEST_SKIP() << "no TLS peers (PW_DOVECOT_TLS_PORT, PW_TLS_FRONT_*, "
                            "PW_TLS_BACKEND_PORT unset: scripts/wine-ctest.sh sets them as root)";
        tls = *env;
    }
    TlsEnv tls;
};

} // namespace pw::test
