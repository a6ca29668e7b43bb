// The simulated Remote Access Service library: the eight ANSI functions the dial-up component
// calls, answering from the configuration file (read at every call) and from what this process
// has dialled, hung up and written back since the library was loaded.
#include "RasRecords.h"
#include "SimConfig.h"
#include "SimLog.h"

#include "core/Text.h"
#include "win/Handles.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace pw::rassim {

namespace {

constexpr DWORD kMaxConfigBytes = 1024 * 1024;
constexpr uint32_t kFirstDialHandle = 0x00010001;
constexpr char kDeviceType[] = "modem";
constexpr char kDeviceName[] = "Simulated Modem";

// A dial made through RasDialA; it stays until it is hung up, and counts as a connection
// once it has reached the connected state.
struct Dial {
    uint32_t handle = 0;
    std::string entry; // as the phone book spells it
    LineInfo line;
    DialScript script;
    uint32_t delayMs = 0;
    HWND window = nullptr;
    UINT message = 0;
    bool connected = false;
    bool ended = false; // hung up or reset: the worker posts nothing more
    uint64_t connectedOrder = 0;
};

// What RasSetEntryDialParamsA stored for an entry; it overrides the configuration file.
struct WrittenParams {
    std::string user;
    std::string domain;
    std::optional<std::string> password;
};

struct SimState {
    std::mutex mutex;
    std::vector<std::shared_ptr<Dial>> dials;
    std::vector<uint32_t> hungUpStatic;
    std::map<std::string, WrittenParams> written; // by upper-cased entry name
    uint32_t nextHandle = kFirstDialHandle;
    uint64_t connectCounter = 0;
    // Calls per function since the configuration's text last changed, for "callfail".
    std::string configText;
    std::map<std::string, uint32_t> calls;
};

SimState& State() {
    static SimState state;
    return state;
}

// Reads the configuration; report: its bad lines go to the log.
SimConfig LoadConfig(bool report = true) {
    const std::string path = EnvironmentValue("PW_RASSIM_CONFIG");
    if (path.empty())
        return {};
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        if (report)
            LogLine("config: cannot open " + Quoted(path));
        return {};
    }
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
        if (text.size() + got > kMaxConfigBytes) {
            if (report)
                LogLine("config: larger than 1 MiB, ignored");
            return {};
        }
        text.append(chunk, got);
    }
    SimConfig config = ParseSimConfig(text);
    for (const std::string& problem : config.problems) {
        if (report)
            LogLine("config: " + problem);
    }
    SimState& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    if (text != state.configText) {
        state.configText = std::move(text);
        state.calls.clear();
    }
    return config;
}

// The code a "callfail" line gives this call of the function, or 0.
uint32_t InjectedFailure(const char* function) {
    const SimConfig config = LoadConfig(false);
    SimState& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    const uint32_t call = ++state.calls[UpperCaseAscii(function)];
    for (const CallFailure& failure : config.callFailures) {
        if (SameTextAscii(failure.function, function) && failure.ordinal == call)
            return failure.code;
    }
    return 0;
}

template <size_t N> std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

template <size_t N> void SetField(char (&field)[N], std::string_view value) {
    std::memset(field, 0, N);
    std::memcpy(field, value.data(), std::min(value.size(), N - 1));
}

uint32_t HandleValue(HANDLE handle) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}

HANDLE HandleFrom(uint32_t value) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

bool StaticIsHungUp(const SimState& state, uint32_t handle) {
    return std::find(state.hungUpStatic.begin(), state.hungUpStatic.end(), handle) !=
           state.hungUpStatic.end();
}

std::shared_ptr<Dial> FindDial(const SimState& state, uint32_t handle) {
    for (const auto& dial : state.dials) {
        if (dial->handle == handle)
            return dial;
    }
    return nullptr;
}

// The listed connections: the configured ones not hung up, then the dialled ones in the order
// they connected.
struct ListedConnection {
    uint32_t handle;
    std::string entry;
    LineInfo line;
};

std::vector<ListedConnection> Connections(const SimConfig& config, const SimState& state) {
    std::vector<ListedConnection> list;
    for (const StaticConnection& c : config.connections) {
        if (!StaticIsHungUp(state, c.handle))
            list.push_back({c.handle, c.entry, c.line});
    }
    std::vector<std::shared_ptr<Dial>> connected;
    for (const auto& dial : state.dials) {
        if (dial->connected)
            connected.push_back(dial);
    }
    std::sort(connected.begin(), connected.end(),
              [](const auto& a, const auto& b) { return a->connectedOrder < b->connectedOrder; });
    for (const auto& dial : connected)
        list.push_back({dial->handle, dial->entry, dial->line});
    return list;
}

uint32_t NewHandle(const SimConfig& config, SimState& state) {
    for (;;) {
        const uint32_t handle = state.nextHandle++;
        if (handle == 0 || FindDial(state, handle))
            continue;
        const bool configured =
            std::any_of(config.connections.begin(), config.connections.end(),
                        [&](const StaticConnection& c) { return c.handle == handle; });
        if (!configured)
            return handle;
    }
}

// Runs one library call: the body adds its arguments and outputs to the log line and returns
// the result. Nothing thrown may cross into the caller.
template <typename Body> DWORD Logged(const char* function, Body body) {
    CallLine line(function);
    DWORD result = ERROR_NOT_ENOUGH_MEMORY;
    try {
        const uint32_t injected = InjectedFailure(function);
        if (injected != 0) {
            line.Out("callfail", injected);
            result = injected;
        } else {
            result = body(line);
        }
    } catch (...) {
        line.Out("exception", "out of memory");
    }
    try {
        LogLine(line.Finish(result));
    } catch (...) {
    }
    return result;
}

// Lists records of a fixed size the way the platform's enumerations do: the first record's
// size field must be right, and a short buffer gets the size it needs back.
template <typename Record, typename Fill>
DWORD EnumerateRecords(CallLine& line, Record* records, LPDWORD cb, LPDWORD count, size_t n,
                       Fill fill) {
    if (!cb || !count)
        return ERROR_INVALID_PARAMETER;
    line.Arg("cb", *cb);
    if (!records && *cb != 0)
        return ERROR_INVALID_PARAMETER;
    if (records && *cb >= sizeof(DWORD) && records->dwSize != sizeof(Record)) {
        line.Arg("size", records->dwSize);
        return kErrorInvalidSize;
    }
    const DWORD needed = static_cast<DWORD>(n * sizeof(Record));
    *count = static_cast<DWORD>(n);
    line.Out("count", *count);
    if (*cb < needed) {
        *cb = needed;
        line.Out("cb", needed);
        return kErrorBufferTooSmall;
    }
    for (size_t i = 0; i < n; ++i) {
        std::memset(&records[i], 0, sizeof(Record));
        records[i].dwSize = sizeof(Record);
        fill(records[i], i);
    }
    *cb = needed;
    return 0;
}

void ArgPhonebook(CallLine& line, LPCSTR phonebook) {
    if (phonebook)
        line.Arg("phonebook", std::string_view(phonebook, strnlen(phonebook, MAX_PATH)));
}

struct WorkerStart {
    std::shared_ptr<Dial> dial;
    HMODULE module;
};

// Posts the dial's progress notices in order, each after the configured pause, and stops
// as soon as the dial is hung up.
void RunDialScript(const std::shared_ptr<Dial>& dial) {
    std::vector<std::pair<DWORD, DWORD>> notices; // state, error
    for (uint32_t i = 0; i < dial->script.steps && i < kProgressStates.size(); ++i)
        notices.emplace_back(kProgressStates[i], 0);
    if (dial->script.outcome == DialOutcome::Connect)
        notices.emplace_back(kStateConnected, 0);
    else
        notices.emplace_back(kProgressStates[dial->script.steps], dial->script.code);

    SimState& state = State();
    for (const auto& [dialState, error] : notices) {
        Sleep(dial->delayMs);
        const std::lock_guard<std::mutex> lock(state.mutex);
        if (dial->ended)
            return;
        // Listed before the notice goes out, so that a caller who sees "connected" finds it.
        if (dialState == kStateConnected) {
            dial->connected = true;
            dial->connectedOrder = ++state.connectCounter;
        }
        PostMessageA(dial->window, dial->message, dialState, static_cast<LPARAM>(error));
        LogLine("event handle=" + Hex(dial->handle) + " state=" + std::to_string(dialState) +
                " error=" + std::to_string(error));
    }
}

// The worker holds a reference on this library, so that a caller who frees it during a dial
// does not pull the code from under the thread.
DWORD WINAPI DialWorker(void* parameter) {
    std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
    const HMODULE module = start->module;
    try {
        RunDialScript(start->dial);
    } catch (...) {
    }
    start.reset();
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

bool StartWorker(const std::shared_ptr<Dial>& dial) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&DialWorker), &module))
        return false;
    auto start = std::make_unique<WorkerStart>(WorkerStart{dial, module});
    UniqueKernelHandle thread(CreateThread(nullptr, 0, DialWorker, start.get(), 0, nullptr));
    if (!thread) {
        FreeLibrary(module);
        return false;
    }
    start.release();
    return true;
}

const char* KnownErrorText(UINT code) {
    struct Text {
        UINT code;
        const char* text;
    };
    static const Text texts[] = {
        {600, "An operation is still pending."},
        {602, "The port is already in use."},
        {603, "The buffer given is too small."},
        {608, "The device does not exist."},
        {619, "The connection to the remote computer could not be made."},
        {623, "The phone-book entry could not be found."},
        {631, "The port was disconnected by the user."},
        {632, "The record size is wrong."},
        {638, "The request took too long."},
        {676, "The line is busy."},
        {678, "The remote computer did not answer."},
        {680, "There is no dial tone."},
        {691, "The user name or password was not accepted."},
        {718, "The remote computer stopped answering."},
        {730, "The network protocols are not yet negotiated."},
        {731, "The protocol is not configured."},
    };
    for (const Text& t : texts) {
        if (t.code == code)
            return t.text;
    }
    return nullptr;
}

} // namespace

} // namespace pw::rassim

using namespace pw::rassim;

extern "C" {

DWORD WINAPI RasEnumEntriesA(LPCSTR reserved, LPCSTR phonebook, RasEntryName* entries, LPDWORD cb,
                             LPDWORD count) {
    return Logged("RasEnumEntriesA", [&](CallLine& line) -> DWORD {
        ArgPhonebook(line, phonebook);
        if (reserved)
            return ERROR_INVALID_PARAMETER;
        const SimConfig config = LoadConfig();
        return EnumerateRecords(line, entries, cb, count, config.entries.size(),
                                [&](RasEntryName& record, size_t i) {
                                    SetField(record.szEntryName, config.entries[i].name);
                                });
    });
}

DWORD WINAPI RasEnumConnectionsA(RasConn* connections, LPDWORD cb, LPDWORD count) {
    return Logged("RasEnumConnectionsA", [&](CallLine& line) -> DWORD {
        const SimConfig config = LoadConfig();
        SimState& state = State();
        const std::lock_guard<std::mutex> lock(state.mutex);
        const std::vector<ListedConnection> list = Connections(config, state);
        return EnumerateRecords(line, connections, cb, count, list.size(),
                                [&](RasConn& record, size_t i) {
                                    record.hrasconn = HandleFrom(list[i].handle);
                                    SetField(record.szEntryName, list[i].entry);
                                    SetField(record.szDeviceType, kDeviceType);
                                    SetField(record.szDeviceName, kDeviceName);
                                });
    });
}

DWORD WINAPI RasGetProjectionInfoA(HANDLE connection, DWORD projection, void* info, LPDWORD cb) {
    return Logged("RasGetProjectionInfoA", [&](CallLine& line) -> DWORD {
        line.HexArg("handle", HandleValue(connection)).HexArg("projection", projection);
        if (!info || !cb)
            return ERROR_INVALID_PARAMETER;
        line.Arg("cb", *cb);
        const SimConfig config = LoadConfig();
        SimState& state = State();
        const std::lock_guard<std::mutex> lock(state.mutex);
        const uint32_t handle = HandleValue(connection);
        std::optional<LineInfo> lineInfo;
        if (const auto dial = FindDial(state, handle)) {
            if (!dial->connected)
                return kErrorProjectionNotComplete;
            lineInfo = dial->line;
        } else {
            for (const ListedConnection& c : Connections(config, state)) {
                if (c.handle == handle)
                    lineInfo = c.line;
            }
        }
        if (!lineInfo)
            return kErrorInvalidHandle;
        if (projection != kProjectionPppIp)
            return kErrorProtocolNotConfigured;
        if (*cb < sizeof(RasPppIp)) {
            *cb = sizeof(RasPppIp);
            line.Out("cb", *cb);
            return kErrorBufferTooSmall;
        }
        auto* record = static_cast<RasPppIp*>(info);
        if (record->dwSize != sizeof(RasPppIp)) {
            line.Arg("size", record->dwSize);
            return kErrorInvalidSize;
        }
        if (lineInfo->projectionError != 0)
            return lineInfo->projectionError;
        record->dwError = 0;
        SetField(record->szIpAddress, lineInfo->ip);
        *cb = sizeof(RasPppIp);
        line.Out("ip", FieldText(record->szIpAddress));
        return 0;
    });
}

DWORD WINAPI RasGetEntryDialParamsA(LPCSTR phonebook, RasDialParams* params, LPBOOL passwordSaved) {
    return Logged("RasGetEntryDialParamsA", [&](CallLine& line) -> DWORD {
        ArgPhonebook(line, phonebook);
        if (!params || !passwordSaved)
            return ERROR_INVALID_PARAMETER;
        if (params->dwSize != sizeof(RasDialParams)) {
            line.Arg("size", params->dwSize);
            return kErrorInvalidSize;
        }
        const std::string name = FieldText(params->szEntryName);
        line.Arg("entry", name);
        const SimConfig config = LoadConfig();
        const PhoneBookEntry* entry = FindEntry(config, name);
        if (!entry)
            return kErrorCannotFindPhonebookEntry;
        WrittenParams saved{entry->user, entry->domain, entry->password};
        {
            SimState& state = State();
            const std::lock_guard<std::mutex> lock(state.mutex);
            const auto written = state.written.find(pw::UpperCaseAscii(entry->name));
            if (written != state.written.end())
                saved = written->second;
        }
        SetField(params->szPhoneNumber, "");
        SetField(params->szCallbackNumber, "");
        SetField(params->szUserName, saved.user);
        SetField(params->szPassword, saved.password.value_or(""));
        SetField(params->szDomain, saved.domain);
        *passwordSaved = saved.password ? TRUE : FALSE;
        line.Out("user", FieldText(params->szUserName))
            .Out("password", FieldText(params->szPassword))
            .Out("saved", saved.password ? 1 : 0);
        return 0;
    });
}

DWORD WINAPI RasSetEntryDialParamsA(LPCSTR phonebook, RasDialParams* params, BOOL removePassword) {
    return Logged("RasSetEntryDialParamsA", [&](CallLine& line) -> DWORD {
        ArgPhonebook(line, phonebook);
        if (!params)
            return ERROR_INVALID_PARAMETER;
        if (params->dwSize != sizeof(RasDialParams)) {
            line.Arg("size", params->dwSize);
            return kErrorInvalidSize;
        }
        WrittenParams written{FieldText(params->szUserName), FieldText(params->szDomain),
                              FieldText(params->szPassword)};
        const std::string name = FieldText(params->szEntryName);
        line.Arg("entry", name)
            .Arg("user", written.user)
            .Arg("password", *written.password)
            .Arg("domain", written.domain)
            .Arg("removePassword", removePassword ? 1 : 0);
        const SimConfig config = LoadConfig();
        const PhoneBookEntry* entry = FindEntry(config, name);
        if (!entry)
            return kErrorCannotFindPhonebookEntry;
        if (removePassword)
            written.password.reset();
        SimState& state = State();
        const std::lock_guard<std::mutex> lock(state.mutex);
        state.written[pw::UpperCaseAscii(entry->name)] = written;
        return 0;
    });
}

DWORD WINAPI RasDialA(void* extensions, LPCSTR phonebook, RasDialParams* params, DWORD notifierType,
                      void* notifier, HANDLE* connection) {
    return Logged("RasDialA", [&](CallLine& line) -> DWORD {
        ArgPhonebook(line, phonebook);
        if (extensions)
            line.Arg("extensions", 1);
        if (!params || !connection)
            return ERROR_INVALID_PARAMETER;
        *connection = nullptr;
        if (params->dwSize != sizeof(RasDialParams)) {
            line.Arg("size", params->dwSize);
            return kErrorInvalidSize;
        }
        const std::string name = FieldText(params->szEntryName);
        line.Arg("entry", name)
            .Arg("phone", FieldText(params->szPhoneNumber))
            .Arg("user", FieldText(params->szUserName))
            .Arg("password", FieldText(params->szPassword))
            .Arg("domain", FieldText(params->szDomain))
            .HexArg("notifierType", notifierType)
            .HexArg("notifier", HandleValue(notifier));
        // Only window notification is simulated: a dial always runs asynchronously here.
        if (notifierType != kNotifierWindow || !notifier)
            return ERROR_INVALID_PARAMETER;
        const SimConfig config = LoadConfig();
        const PhoneBookEntry* entry = FindEntry(config, name);
        if (!entry)
            return kErrorCannotFindPhonebookEntry;
        if (entry->dial.outcome == DialOutcome::Refuse)
            return entry->dial.code;

        auto dial = std::make_shared<Dial>();
        dial->entry = entry->name;
        dial->line = entry->line;
        dial->script = entry->dial;
        dial->delayMs = config.delayMs;
        dial->window = static_cast<HWND>(notifier);
        dial->message = RegisterWindowMessageA("RASDIALEVENT");
        SimState& state = State();
        const std::lock_guard<std::mutex> lock(state.mutex);
        dial->handle = NewHandle(config, state);
        if (dial->script.outcome != DialOutcome::Silent && !StartWorker(dial))
            return ERROR_NOT_ENOUGH_MEMORY;
        state.dials.push_back(dial);
        *connection = HandleFrom(dial->handle);
        line.HexOut("handle", dial->handle);
        return 0;
    });
}

DWORD WINAPI RasHangUpA(HANDLE connection) {
    return Logged("RasHangUpA", [&](CallLine& line) -> DWORD {
        const uint32_t handle = HandleValue(connection);
        line.HexArg("handle", handle);
        const SimConfig config = LoadConfig();
        SimState& state = State();
        const std::lock_guard<std::mutex> lock(state.mutex);
        if (const auto dial = FindDial(state, handle)) {
            dial->ended = true;
            state.dials.erase(std::find(state.dials.begin(), state.dials.end(), dial));
            return 0;
        }
        for (const StaticConnection& c : config.connections) {
            if (c.handle == handle && !StaticIsHungUp(state, handle)) {
                state.hungUpStatic.push_back(handle);
                return 0;
            }
        }
        return kErrorInvalidHandle;
    });
}

DWORD WINAPI RasGetErrorStringA(UINT code, LPSTR text, DWORD size) {
    return Logged("RasGetErrorStringA", [&](CallLine& line) -> DWORD {
        line.Arg("code", code).Arg("size", size);
        if (!text)
            return ERROR_INVALID_PARAMETER;
        std::string message;
        if (const char* known = KnownErrorText(code))
            message = known;
        else if (code >= 600 && code < 800)
            message = "RAS simulated error " + std::to_string(code);
        else
            return ERROR_INVALID_PARAMETER;
        if (size < message.size() + 1)
            return kErrorInsufficientBuffer;
        std::memcpy(text, message.c_str(), message.size() + 1);
        line.Out("text", message);
        return 0;
    });
}

// Not part of RAS: forgets every dial, hang-up, written dial parameter and call count of this
// process, so that tests sharing one process start from the configuration file alone.
void WINAPI PwRasSimReset() {
    Logged("PwRasSimReset", [](CallLine&) -> DWORD {
        SimState& state = State();
        const std::lock_guard<std::mutex> lock(state.mutex);
        for (const auto& dial : state.dials)
            dial->ended = true;
        state.dials.clear();
        state.hungUpStatic.clear();
        state.written.clear();
        state.calls.clear();
        return 0;
    });
}

} // extern "C"
