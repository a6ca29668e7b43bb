// Dial-up component; see agRasCmp.h. The records are the oldest 32-bit ANSI forms of the RAS
// structures, which every RAS version accepts; their sizes are pinned below.
#include "agRasCmp.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "core/Text.h"
#include "win/Binding.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

namespace {

#pragma pack(push, 4)
struct RasEntryNameRecord {
    DWORD dwSize;
    char szEntryName[257];
};

struct RasConnRecord {
    DWORD dwSize;
    HANDLE hrasconn;
    char szEntryName[257];
    char szDeviceType[17];
    char szDeviceName[129];
};

struct RasPppIpRecord {
    DWORD dwSize;
    DWORD dwError;
    char szIpAddress[16];
};

struct RasDialParamsRecord {
    DWORD dwSize;
    char szEntryName[257];
    char szPhoneNumber[129];
    char szCallbackNumber[129];
    char szUserName[257];
    char szPassword[257];
    char szDomain[16];
};
#pragma pack(pop)

static_assert(sizeof(void*) == 4, "the RAS record forms here are the 32-bit ones");
static_assert(sizeof(RasEntryNameRecord) == 264);
static_assert(sizeof(RasConnRecord) == 412);
static_assert(offsetof(RasConnRecord, szEntryName) == 8);
static_assert(sizeof(RasPppIpRecord) == 24);
static_assert(sizeof(RasDialParamsRecord) == 1052);
static_assert(offsetof(RasDialParamsRecord, szUserName) == 519);
static_assert(offsetof(RasDialParamsRecord, szPassword) == 776);

using RasEnumEntriesFn = DWORD(WINAPI*)(LPCSTR, LPCSTR, RasEntryNameRecord*, LPDWORD, LPDWORD);
using RasEnumConnectionsFn = DWORD(WINAPI*)(RasConnRecord*, LPDWORD, LPDWORD);
using RasGetProjectionInfoFn = DWORD(WINAPI*)(HANDLE, DWORD, LPVOID, LPDWORD);
using RasGetEntryDialParamsFn = DWORD(WINAPI*)(LPCSTR, RasDialParamsRecord*, LPBOOL);
using RasSetEntryDialParamsFn = DWORD(WINAPI*)(LPCSTR, RasDialParamsRecord*, BOOL);
using RasDialFn = DWORD(WINAPI*)(LPVOID, LPCSTR, RasDialParamsRecord*, DWORD, LPVOID, HANDLE*);
using RasHangUpFn = DWORD(WINAPI*)(HANDLE);
using RasGetErrorStringFn = DWORD(WINAPI*)(UINT, LPSTR, DWORD);

constexpr size_t kMaxEntries = 25;
constexpr size_t kMaxConnections = 10;
constexpr size_t kMaxIpAddressChars = 15;
constexpr DWORD kNotifierWindow = 0xFFFFFFFF;
constexpr DWORD kProjectionPppIp = 0x8021;
constexpr uint32_t kStateConnected = 0x2000;
constexpr DWORD kMinimizeDelayMs = 1000;

constexpr char kNoRasText[] = "Unable to detect\rRAS on your system.";
constexpr char kInvalidServiceText[] = "Invalid service name:\rPlease check your settings on the "
                                       "\"communications-tab\" in \"File/Settings\"";

// A name field of a record from the library: never read past the field, even unterminated.
template <size_t N> std::string FieldText(const char (&field)[N], size_t maxChars = N - 1) {
    return std::string(field, strnlen(field, std::min(maxChars, N)));
}

// Longer values are cut; the field always ends in a NUL.
template <size_t N> void SetField(char (&field)[N], std::string_view value) {
    std::memset(field, 0, N);
    std::memcpy(field, value.data(), std::min(value.size(), N - 1));
}

bool IsAbsolutePath(const char* path) {
    const bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                       path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    const bool unc = path[0] == '\\' && path[1] == '\\';
    return drive || unc;
}

// The status text's string number in the RAS library for a dial state; 0 for none.
UINT StatusStringId(uint32_t state) {
    switch (state) {
    case 0:
        return 120;
    case 2:
    case 3:
    case 4:
        return 122;
    case 5:
    case 19:
        return 124;
    case 14:
        return 131;
    case 21:
        return 128;
    case kStateConnected:
        return 129;
    default:
        return 0;
    }
}

// The dial parameters hold a password: wiped when they go out of scope.
struct DialParams {
    DialParams() { record.dwSize = sizeof record; }
    DialParams(const DialParams&) = delete;
    DialParams& operator=(const DialParams&) = delete;
    ~DialParams() { SecureZeroMemory(&record, sizeof record); }
    RasDialParamsRecord record{};
};

} // namespace

UniqueModule LoadRasLibrary(const std::string& path) {
    if (path.empty())
        return LoadSystemLibrary("rasapi32.dll");
    // A relative name would be looked for in the current directory: refuse it.
    if (path.size() > MAX_PATH || !IsAbsolutePath(path.c_str()))
        return UniqueModule();
    return UniqueModule(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

ERASError RasError(uint32_t code, HMODULE library) {
    const auto getErrorString = LookUpFunction<RasGetErrorStringFn>(library, "RasGetErrorStringA");
    if (!getErrorString)
        return ERASError(std::string());
    char text[256] = {};
    if (getErrorString(code, text, sizeof text) != 0)
        return ERASError("RAS error no " + std::to_string(code));
    return ERASError(FieldText(text));
}

TagRas::TagRas(TComponent* owner, const std::string& libraryPath)
    : TComponent(owner), Timer(nullptr, 1000, false), Library(LoadRasLibrary(libraryPath)) {
    Timer.OnTimer = [this](TObject&) { CountdownTick(); };
    DialEventMessage = RegisterWindowMessageA("RASDIALEVENT");
    if (owner == nullptr || !owner->Designing())
        CreateNotifyWindow();
    GetEntries();
}

TagRas::~TagRas() = default;

template <typename Function> Function TagRas::RasFunction(const char* name) const {
    return LookUpFunction<Function>(Library.get(), name);
}

void TagRas::CreateNotifyWindow() {
    if (NotifyWindow_)
        return;
    NotifyWindow_ = std::make_unique<UtilityWindow>(
        UtilityWindow::Kind::MessageOnly,
        [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
            return DialEvent(msg, wParam, lParam, result);
        });
}

const std::vector<std::string>& TagRas::GetEntries() {
    Entries.clear();
    const auto enumEntries = RasFunction<RasEnumEntriesFn>("RasEnumEntriesA");
    if (!enumEntries)
        return Entries;
    std::array<RasEntryNameRecord, kMaxEntries> records{};
    records[0].dwSize = sizeof(RasEntryNameRecord);
    DWORD size = sizeof records;
    DWORD count = 0;
    LastError = enumEntries(nullptr, nullptr, records.data(), &size, &count);
    if (LastError != 0)
        return Entries;
    const size_t n = std::min<size_t>(count, records.size());
    for (size_t i = 0; i < n; ++i)
        Entries.push_back(FieldText(records[i].szEntryName));
    return Entries;
}

void TagRas::SetService(const std::string& value) {
    const auto showError = [this](const char* text) {
        if (ShowMessageBox)
            ShowMessageBox(nullptr, text, nullptr, MB_ICONERROR | MB_OK);
    };
    if (value.empty()) {
        Service_.clear();
        return;
    }
    // A list left empty by a read that failed (the phone book busy for a moment) is read again
    // before RAS counts as missing: one failure must not stop the dialling for good.
    const bool readAgain = !RasAvailable();
    if (readAgain)
        GetEntries();
    if (!RasAvailable()) {
        showError(kNoRasText);
        return;
    }
    if (!readAgain) {
        // Likewise a phone book that cannot be read this time is no phone book without the
        // entry: the value is looked up in the list read before.
        std::vector<std::string> known = Entries;
        GetEntries();
        if (LastError != 0) {
            Trace("RAS phone book cannot be read (error " + std::to_string(LastError) +
                  "): the entries read before count");
            Entries = std::move(known);
        }
    }
    if (std::none_of(Entries.begin(), Entries.end(),
                     [&](const std::string& entry) { return SameTextAscii(entry, value); })) {
        showError(kInvalidServiceText);
        Service_.clear();
        return;
    }
    Service_ = value;
}

bool TagRas::IsConnected() {
    const auto enumConnections = RasFunction<RasEnumConnectionsFn>("RasEnumConnectionsA");
    if (!enumConnections)
        return false;
    std::array<RasConnRecord, kMaxConnections> records{};
    records[0].dwSize = sizeof(RasConnRecord);
    DWORD size = sizeof records;
    DWORD count = 0;
    LastError = enumConnections(records.data(), &size, &count);
    if (LastError != 0)
        throw RasError(LastError, Library.get());
    const size_t n = std::min<size_t>(count, records.size());
    for (size_t i = 0; i < n; ++i) {
        if (FieldText(records[i].szEntryName) == Service_) {
            ConnHandle_ = records[i].hrasconn;
            return true;
        }
    }
    if (ForceService)
        return false;
    const auto getProjection = RasFunction<RasGetProjectionInfoFn>("RasGetProjectionInfoA");
    if (!getProjection)
        return false;
    for (size_t i = 0; i < n; ++i) {
        RasPppIpRecord ip{};
        ip.dwSize = sizeof ip;
        DWORD ipSize = sizeof ip;
        LastError = getProjection(records[i].hrasconn, kProjectionPppIp, &ip, &ipSize);
        if (LastError != 0)
            throw RasError(LastError, Library.get());
        if (!FieldText(ip.szIpAddress, kMaxIpAddressChars).empty()) {
            ConnHandle_ = records[i].hrasconn;
            return true;
        }
    }
    return false;
}

void TagRas::Connect() {
    Failed = false;
    Cancelled = false;
    if (IsConnected() || Service_.empty()) {
        Connected = true;
        Dialled = false;
        return;
    }
    const auto getParams = RasFunction<RasGetEntryDialParamsFn>("RasGetEntryDialParamsA");
    const auto setParams = RasFunction<RasSetEntryDialParamsFn>("RasSetEntryDialParamsA");
    const auto dial = RasFunction<RasDialFn>("RasDialA");
    if (!getParams || !setParams || !dial)
        return;
    CreateNotifyWindow();

    ConnHandle_ = kNoConnection;
    Connected = false;
    CancelRequested = false;
    TimedOut = false;

    DialParams params;
    SetField(params.record.szEntryName, Service_);
    BOOL passwordSaved = FALSE;
    LastError = getParams(nullptr, &params.record, &passwordSaved);
    if (LastError != 0)
        FailDial(LastError, false);
    const bool useUserName = !TrimView(UserName).empty();
    if (useUserName)
        SetField(params.record.szUserName, UserName);
    if (!passwordSaved) {
        SetField(params.record.szPassword, Password);
        if (useUserName)
            SetField(params.record.szUserName, UserName);
        LastError = setParams(nullptr, &params.record, RemovePassword ? TRUE : FALSE);
        if (LastError != 0)
            FailDial(LastError, false);
    }
    Trace("RAS dial \"" + Service_ + "\" user \"" + FieldText(params.record.szUserName) +
          "\" password " + MaskSecret(FieldText(params.record.szPassword)));

    HANDLE handle = nullptr;
    const DWORD result =
        dial(nullptr, nullptr, &params.record, kNotifierWindow, NotifyWindow(), &handle);
    ConnHandle_ = handle;
    PendingDial_ = handle != nullptr;
    if (result != 0)
        FailDial(result, true);

    Countdown = TimeOut;
    Timer.SetEnabled(true);
    try {
        WaitUntil([this] { return Connected || LastError != 0 || CancelRequested || TimedOut; });
    } catch (...) {
        TraceCaughtCurrent("RAS dial wait");
        Timer.SetEnabled(false);
        throw;
    }
    Timer.SetEnabled(false);

    if (LastError != 0)
        FailDial(LastError, true);
    if (CancelRequested)
        FailCancelled();
    if (TimedOut) {
        Trace("RAS dial timed out");
        Failed = true;
        HangUp(); // the pending dial would otherwise keep the port
        Dialled = false;
        throw ETimedOutError();
    }
    Dialled = true;
    PendingDial_ = false;
    Trace("RAS connected");

    if (MinimizeAtConnect) {
        // The pause lets the dial-up dialog settle; it pumps so that the program stays alive,
        // and a Cancel that arrives during it still ends the Connect as cancelled.
        WaitMilliseconds(kMinimizeDelayMs);
        if (CancelRequested)
            FailCancelled();
        MinimizeDialog();
    }
}

void TagRas::FailDial(uint32_t code, bool hangUp) {
    Trace("RAS dial failed: error " + std::to_string(code));
    LastError = code;
    Failed = true;
    if (hangUp)
        HangUp();
    Dialled = false;
    throw RasError(code, Library.get());
}

void TagRas::FailCancelled() {
    Trace("RAS dial cancelled");
    Cancelled = true;
    Failed = true;
    // Cancel has hung up already; a progress notice dispatched after it may not revive it.
    Connected = false;
    Dialled = false;
    throw ECanceledError();
}

void TagRas::MinimizeDialog() {
    const HWND dialog = FindWindowA("#32770", nullptr);
    if (dialog == nullptr)
        return;
    // A hung dialog in another program must not hang this one.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

void TagRas::Cancel() {
    HangUp();
    Cancelled = true;
    CancelRequested = true;
}

void TagRas::HangUp() {
    const auto hangUp = RasFunction<RasHangUpFn>("RasHangUpA");
    if (!hangUp)
        return;
    // No live connection: a line hung up already (Dialled stays set) or never dialled here.
    // Its handle is closed and its end was told: no hang-up call, no second event.
    if (ConnHandle_ == kNoConnection && !PendingDial_) {
        Connected = false;
        return;
    }
    try {
        if ((Dialled && RasAvailable()) || PendingDial_) {
            hangUp(ConnHandle_);
            PendingDial_ = false;
            Trace("RAS hung up");
            if (Dialled)
                Fire(OnDisconnected, *this);
        }
        Connected = false;
        ConnHandle_ = kNoConnection;
    } catch (...) {
        // HangUp never raises; the line state stays as it was.
        TraceCaughtCurrent("RAS hang-up");
    }
}

bool TagRas::DialEvent(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (DialEventMessage == 0 || msg != DialEventMessage)
        return false;
    result = 0;
    const auto state = static_cast<uint32_t>(wParam);
    const auto error = static_cast<uint32_t>(lParam);
    // A failing status handler must not cost the notice its effect on the wait.
    try {
        if (OnStatusChange)
            OnStatusChange(*this, StatusText(state));
    } catch (...) {
        TraceCaughtCurrent("RAS status handler");
    }
    if (!Connected && state == kStateConnected)
        Connected = true;
    if (error != 0)
        LastError = error;
    return true;
}

std::string TagRas::StatusText(uint32_t state) const {
    const UINT id = StatusStringId(state);
    if (id == 0 || !Library)
        return std::string();
    char text[255] = {};
    const int n = LoadStringA(Library.get(), id, text, sizeof text);
    if (n <= 0)
        return std::string();
    return std::string(text, std::min<size_t>(static_cast<size_t>(n), sizeof text - 1));
}

void TagRas::CountdownTick() {
    // A TimeOut of 0 or less never expires.
    if (Countdown > 0 && --Countdown == 0)
        TimedOut = true;
}

} // namespace pw
