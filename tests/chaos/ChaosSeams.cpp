// The fault-injection run's seams; see ChaosSeams.h.
#include "ChaosSeams.h"

#include <array>

#include "Injector.h"
#include "agent/Settings.h"
#include "core/Text.h"
#include "rasapi32/RasRecords.h"
#include "win/Binding.h"

namespace pw::chaos {

namespace {

// Which step of Secure Channel a table entry is.
Site SiteOf(test::SspiCalls::Call call) {
    switch (call) {
    case test::SspiCalls::Call::AcquireCredentials:
        return Site::AcquireCredentials;
    case test::SspiCalls::Call::InitializeContext:
        return Site::InitializeContext;
    case test::SspiCalls::Call::Encrypt:
        return Site::Encrypt;
    case test::SspiCalls::Call::Decrypt:
        return Site::Decrypt;
    case test::SspiCalls::Call::Query:
        return Site::QueryAttributes;
    case test::SspiCalls::Call::Control:
        break;
    }
    return Site::ApplyControlToken;
}

std::optional<SECURITY_STATUS> SecureChannelFault(test::SspiCalls::Call call) {
    if (const PlannedFault* fault = Injector::Instance().Strike(SiteOf(call)))
        return static_cast<SECURITY_STATUS>(fault->code);
    return std::nullopt;
}

// The file name of a path, upper-cased: the key of the locks.
std::string FileKey(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return UpperCaseAscii(slash == std::string::npos ? path : path.substr(slash + 1));
}

} // namespace

ChaosRun::Seams::Seams()
    : sspi(&SecureChannelFault),
      ras_(LoadLibraryExA(PW_RASSIM_DLL, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {}

ChaosRun::Seams::~Seams() {
    Unlock();
}

void ChaosRun::Seams::Lock(const std::map<std::string, int>& lockedOpens) {
    locked_.clear();
    refused_.clear();
    for (const auto& [file, opens] : lockedOpens)
        locked_[UpperCaseAscii(file)] = opens;
    SetClientFileOpener([this](const std::string& path) -> HANDLE {
        const std::string key = FileKey(path);
        const auto locked = locked_.find(key);
        // Only a file that is there can be held by the client.
        if (locked != locked_.end() && locked->second > 0 &&
            GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            --locked->second;
            ++refused_[key];
            // As the client writing the file with no sharing would make it answer.
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
        return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    });
}

void ChaosRun::Seams::Unlock() {
    SetClientFileOpener(nullptr);
    locked_.clear();
}

int ChaosRun::Seams::RefusedOpens(const std::string& file) const {
    const auto refused = refused_.find(UpperCaseAscii(file));
    return refused == refused_.end() ? 0 : refused->second;
}

std::vector<std::string> ChaosRun::Seams::RasLines() const {
    using EnumConnections = DWORD(WINAPI*)(rassim::RasConn*, LPDWORD, LPDWORD);
    const auto enumerate = LookUpFunction<EnumConnections>(ras_.get(), "RasEnumConnectionsA");
    std::vector<std::string> lines;
    if (enumerate == nullptr)
        return lines;
    std::array<rassim::RasConn, 10> records{};
    records[0].dwSize = sizeof(rassim::RasConn);
    DWORD size = sizeof records;
    DWORD count = 0;
    if (enumerate(records.data(), &size, &count) != 0)
        return {"(the connection list cannot be read)"};
    for (DWORD i = 0; i < count && i < records.size(); ++i)
        lines.emplace_back(records[i].szEntryName,
                           strnlen(records[i].szEntryName, sizeof records[i].szEntryName));
    return lines;
}

void ChaosRun::Seams::ResetRas() const {
    using Reset = void(WINAPI*)();
    if (const auto reset = LookUpFunction<Reset>(ras_.get(), "PwRasSimReset"))
        reset();
}

} // namespace pw::chaos
