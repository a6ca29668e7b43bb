// The fault-injection run's plan; see FaultPlan.h. The codes are the ones Windows documents for
// each call (the Winsock and Secure Channel reference pages), nothing invented.
#include "FaultPlan.h"

#include <cstdio>

namespace pw::chaos {

namespace {

// Secure Channel's status codes, as the reference pages name them.
constexpr int64_t kInsufficientMemory = 0x80090300;
constexpr int64_t kInvalidHandle = 0x80090301;
constexpr int64_t kUnsupportedFunction = 0x80090302;
constexpr int64_t kTargetUnknown = 0x80090303;
constexpr int64_t kInternalError = 0x80090304;
constexpr int64_t kSecPkgNotFound = 0x80090305;
constexpr int64_t kNotOwner = 0x80090306;
constexpr int64_t kInvalidToken = 0x80090308;
constexpr int64_t kQopNotSupported = 0x8009030A;
constexpr int64_t kLogonDenied = 0x8009030C;
constexpr int64_t kUnknownCredentials = 0x8009030D;
constexpr int64_t kNoCredentials = 0x8009030E;
constexpr int64_t kMessageAltered = 0x8009030F;
constexpr int64_t kOutOfSequence = 0x80090310;
constexpr int64_t kNoAuthenticatingAuthority = 0x80090311;
constexpr int64_t kContextExpired = 0x80090317;
constexpr int64_t kBufferTooSmall = 0x80090321;
constexpr int64_t kWrongPrincipal = 0x80090322;
constexpr int64_t kDecryptFailure = 0x80090330;
constexpr int64_t kCryptoSystemInvalid = 0x80090337;
constexpr int64_t kApplicationProtocolMismatch = 0x80090367;

std::vector<FaultKind> MakeKinds() {
    using E = Effect;
    using S = Site;
    return {
        // Winsock calls that fail, with the codes of their reference pages.
        {"WSAStartup fails", S::WsaStartup, E::Fail, {10091, 10092, 10036, 10067, 10014}, 1, false},
        {"socket fails",
         S::CreateSocket,
         E::Fail,
         {10050, 10047, 10036, 10024, 10055, 10043, 10041, 10044, 10022},
         1,
         false},
        {"WSAAsyncGetHostByName fails",
         S::HostLookup,
         E::Fail,
         {10050, 10055, 10036, 10035},
         1,
         false},
        {"host lookup answers an error",
         S::HostLookupNotice,
         E::Fail,
         {10050, 10055, 11001, 11002, 11003, 11004},
         1,
         false},
        {"WSAAsyncSelect fails",
         S::AsyncSelect,
         E::Fail,
         {10093, 10050, 10022, 10036, 10038},
         1,
         false},
        {"connect fails",
         S::Connect,
         E::Fail,
         {10050, 10048, 10004, 10036, 10037, 10049, 10047, 10061, 10014, 10022, 10056, 10051, 10065,
          10055, 10038, 10060, 10013},
         1,
         false},
        {"FD_CONNECT carries an error",
         S::ConnectNotice,
         E::Fail,
         {10047, 10061, 10051, 10014, 10022, 10056, 10024, 10055, 10057, 10060},
         1,
         false},
        {"send fails",
         S::Send,
         E::Fail,
         {10050, 10013, 10004, 10036, 10014, 10052, 10055, 10057, 10038, 10045, 10058, 10040, 10065,
          10022, 10053, 10054, 10060},
         8,
         false},
        {"recv fails",
         S::Recv,
         E::Fail,
         {10050, 10014, 10057, 10004, 10036, 10052, 10038, 10045, 10058, 10040, 10022, 10053, 10060,
          10054},
         16,
         false},
        {"FD_READ carries an error", S::ReadNotice, E::Fail, {10050}, 10, false},
        {"FD_CLOSE carries an error", S::CloseNotice, E::Fail, {10050, 10054, 10053}, 1, false},
        // Winsock calls that succeed in part or say "not yet", and notices in the orders
        // Windows may send them.
        {"send takes part of the bytes (percent)", S::Send, E::Partly, {10, 50, 90}, 8, true},
        {"send says WSAEWOULDBLOCK", S::Send, E::WouldBlock, {10035}, 8, true},
        {"recv takes one byte", S::Recv, E::Partly, {1}, 16, true},
        {"recv takes a few bytes", S::Recv, E::Partly, {3, 17, 100}, 16, true},
        {"recv says WSAEWOULDBLOCK", S::Recv, E::WouldBlock, {10035}, 16, true},
        {"FD_READ late (ms), after FD_CLOSE", S::ReadNotice, E::Delay, {1, 20, 150}, 10, true},
        {"FD_READ twice, nothing to read", S::ReadNotice, E::Twice, {0}, 10, true},
        {"FD_CONNECT late (ms)", S::ConnectNotice, E::Delay, {5, 50, 300}, 1, true},
        {"host lookup answers late (ms)", S::HostLookupNotice, E::Delay, {5, 50, 300}, 1, true},
        {"closesocket reports an error",
         S::CloseSocket,
         E::Fail,
         {10050, 10038, 10036, 10004},
         1,
         true},
        // Secure Channel, at each step of the handshake and of the records.
        {"AcquireCredentialsHandle fails",
         S::AcquireCredentials,
         E::Fail,
         {kInsufficientMemory, kInternalError, kNoCredentials, kNotOwner, kSecPkgNotFound,
          kUnknownCredentials},
         2,
         false},
        {"InitializeSecurityContext fails",
         S::InitializeContext,
         E::Fail,
         {kInsufficientMemory, kInternalError, kInvalidHandle, kInvalidToken, kLogonDenied,
          kNoAuthenticatingAuthority, kNoCredentials, kTargetUnknown, kUnsupportedFunction,
          kWrongPrincipal, kApplicationProtocolMismatch},
         4,
         false},
        {"EncryptMessage fails",
         S::Encrypt,
         E::Fail,
         {kBufferTooSmall, kContextExpired, kCryptoSystemInvalid, kInsufficientMemory,
          kInvalidHandle, kInvalidToken, kQopNotSupported},
         7,
         false},
        {"DecryptMessage fails",
         S::Decrypt,
         E::Fail,
         {kBufferTooSmall, kCryptoSystemInvalid, kInvalidHandle, kInvalidToken, kMessageAltered,
          kOutOfSequence, kQopNotSupported, kDecryptFailure},
         8,
         false},
        {"QueryContextAttributes fails",
         S::QueryAttributes,
         E::Fail,
         {kInvalidHandle, kUnsupportedFunction},
         3,
         false},
        {"ApplyControlToken fails",
         S::ApplyControlToken,
         E::Fail,
         {kInvalidHandle, kInvalidToken, kUnsupportedFunction},
         1,
         true},
    };
}

bool IsSecureChannel(Site site) {
    return site >= Site::AcquireCredentials;
}

// The RAS calls the dial-up component makes, and how many of each a check's dial makes at most.
struct RasCall {
    const char* name;
    int ordinals;
};
const RasCall kRasCalls[] = {
    {"RasEnumConnectionsA", 3},
    {"RasGetProjectionInfoA", 3},
    {"RasEnumEntriesA", 1},
    {"RasGetEntryDialParamsA", 2},
    {"RasSetEntryDialParamsA", 2},
    {"RasDialA", 2},
    {"RasHangUpA", 1},
};

// A RAS error from the documented range (600 and up), now and then one the code has a text for.
int64_t RasErrorCode(Random& random) {
    static const std::vector<int64_t> known = {603, 608, 617, 623, 628, 629, 633,
                                               676, 678, 679, 680, 691, 718, 769};
    return random.Chance(50) ? random.Pick(known) : static_cast<int64_t>(601 + random.Below(199));
}

RasPlan MakeRasPlan(Random& random) {
    RasPlan plan;
    const uint32_t roll = random.Below(100);
    plan.lineUp = roll < 40;
    plan.dialOutcome = "connect 3";
    if (roll < 70)
        return plan;
    plan.code = RasErrorCode(random);
    const uint32_t which = random.Below(9);
    if (which < 7) {
        const RasCall& call = kRasCalls[which];
        plan.function = call.name;
        plan.callFailure = std::string("callfail ") + call.name + " " + std::to_string(plan.code) +
                           " " + std::to_string(1 + random.Below(call.ordinals));
    } else if (which == 7) {
        plan.function = "a dial progress notice";
        plan.dialOutcome =
            "fail " + std::to_string(plan.code) + " " + std::to_string(random.Below(4));
    } else {
        plan.function = "RasDialA at once";
        plan.dialOutcome = "refuse " + std::to_string(plan.code);
    }
    return plan;
}

} // namespace

uint32_t Random::Next() {
    // SplitMix64: small, and the same everywhere.
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 16);
}

const std::vector<FaultKind>& FaultKinds() {
    static const std::vector<FaultKind> kinds = MakeKinds();
    return kinds;
}

CheckPlan MakeCheckPlan(uint32_t seed, const std::vector<std::string>& mailboxes,
                        const std::vector<bool>& tls, int faultsPerCheck) {
    Random random(seed);
    CheckPlan plan;
    plan.seed = seed;
    const std::vector<FaultKind>& kinds = FaultKinds();
    for (int i = 0; i < faultsPerCheck && !mailboxes.empty(); ++i) {
        const uint32_t box = random.Below(static_cast<uint32_t>(mailboxes.size()));
        size_t kind = 0;
        do
            kind = random.Below(static_cast<uint32_t>(kinds.size()));
        while (IsSecureChannel(kinds[kind].site) && !tls[box]);
        PlannedFault fault;
        fault.kind = kind;
        fault.ordinal =
            1 + static_cast<int>(random.Below(static_cast<uint32_t>(kinds[kind].ordinals)));
        fault.code = random.Pick(kinds[kind].codes);
        plan.sessions[mailboxes[box]].push_back(fault);
    }
    plan.ras = MakeRasPlan(random);
    plan.newCredentials = random.Chance(20);
    plan.silent = random.Chance(10);
    plan.newMail = random.Chance(14);
    plan.pokeAt = random.Chance(30) ? 1 + static_cast<int>(random.Below(60)) : 0;
    return plan;
}

StartupPlan MakeStartupPlan(uint32_t seed, const std::vector<std::string>& files) {
    Random random(seed ^ 0x5A17u);
    StartupPlan plan;
    for (const std::string& file : files) {
        if (!random.Chance(40))
            continue;
        plan.lockedOpens[file] =
            random.Chance(15) ? StartupPlan::kForGood : 1 + static_cast<int>(random.Below(3));
    }
    return plan;
}

std::string Describe(const PlannedFault& fault) {
    const FaultKind& kind = FaultKinds()[fault.kind];
    std::string text = kind.name;
    if (kind.effect == Effect::Fail) {
        char code[16];
        if (fault.code > 0xFFFF)
            std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(fault.code));
        else
            std::snprintf(code, sizeof code, "%ld", static_cast<long>(fault.code));
        text += std::string(" ") + code;
    } else if (kind.effect == Effect::Partly || kind.effect == Effect::Delay) {
        text += " " + std::to_string(fault.code);
    }
    return text;
}

} // namespace pw::chaos
