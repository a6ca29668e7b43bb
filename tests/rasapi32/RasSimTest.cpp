// The simulated RAS library as the dial-up component sees it: record forms and sizes, the
// size checks, progress notices to a window, scripted outcomes, dial parameters and the log.
#include <gtest/gtest.h>

#include "rasapi32/RasRecords.h"
#include "support/Testing.h"
#include "rasapi32/SimConfig.h"
#include "win/Handles.h"
#include "win/MessagePump.h"
#include "win/UtilityWindow.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pw::rassim {
namespace {

using EnumEntriesFn = DWORD(WINAPI*)(LPCSTR, LPCSTR, RasEntryName*, LPDWORD, LPDWORD);
using EnumConnectionsFn = DWORD(WINAPI*)(RasConn*, LPDWORD, LPDWORD);
using GetProjectionInfoFn = DWORD(WINAPI*)(HANDLE, DWORD, void*, LPDWORD);
using GetEntryDialParamsFn = DWORD(WINAPI*)(LPCSTR, RasDialParams*, LPBOOL);
using SetEntryDialParamsFn = DWORD(WINAPI*)(LPCSTR, RasDialParams*, BOOL);
using DialFn = DWORD(WINAPI*)(void*, LPCSTR, RasDialParams*, DWORD, void*, HANDLE*);
using HangUpFn = DWORD(WINAPI*)(HANDLE);
using GetErrorStringFn = DWORD(WINAPI*)(UINT, LPSTR, DWORD);
using ResetFn = void(WINAPI*)();

using Notice = std::pair<WPARAM, LPARAM>; // dial state, error

std::string EntryBlock(const std::string& name, const std::string& lines = "") {
    return "entry " + name + "\n" + lines;
}

class RasSim : public ::testing::Test {
protected:
    // The simulated library's settings, put back as they were after each test.
    std::optional<test::ScopedEnvironmentVariable> simConfig_;
    std::optional<test::ScopedEnvironmentVariable> simLog_;

    void SetUp() override {
        simConfig_.emplace("PW_RASSIM_CONFIG", configPath_);
        simLog_.emplace("PW_RASSIM_LOG", logPath_);
        DeleteFileA(logPath_.c_str());
        WriteConfig("");
        module_.reset(LoadLibraryA(PW_RASSIM_DLL));
        ASSERT_TRUE(module_) << "cannot load " << PW_RASSIM_DLL;
        ASSERT_NE(GetProcAddress(module_.get(), "PwRasSimReset"), nullptr)
            << "Wine loaded its built-in rasapi32; run with WINEDLLOVERRIDES=rasapi32=n,b";
        enumEntries_ = Proc<EnumEntriesFn>("RasEnumEntriesA");
        enumConnections_ = Proc<EnumConnectionsFn>("RasEnumConnectionsA");
        getProjectionInfo_ = Proc<GetProjectionInfoFn>("RasGetProjectionInfoA");
        getDialParams_ = Proc<GetEntryDialParamsFn>("RasGetEntryDialParamsA");
        setDialParams_ = Proc<SetEntryDialParamsFn>("RasSetEntryDialParamsA");
        dial_ = Proc<DialFn>("RasDialA");
        hangUp_ = Proc<HangUpFn>("RasHangUpA");
        getErrorString_ = Proc<GetErrorStringFn>("RasGetErrorStringA");
        reset_ = Proc<ResetFn>("PwRasSimReset");
        reset_();
    }

    void TearDown() override {
        if (reset_ && module_)
            reset_();
        module_.reset();
        simConfig_.reset();
        simLog_.reset();
        DeleteFileA(configPath_.c_str());
        DeleteFileA(logPath_.c_str());
    }

    template <typename F> F Proc(const char* name) {
        const FARPROC proc = GetProcAddress(module_.get(), name);
        EXPECT_NE(proc, nullptr) << name;
        F f;
        static_assert(sizeof f == sizeof proc);
        std::memcpy(&f, &proc, sizeof f);
        return f;
    }

    void WriteConfig(const std::string& text) {
        std::ofstream(configPath_, std::ios::binary | std::ios::trunc) << text;
    }

    std::vector<std::string> LogLines(const std::string& prefix = "") {
        std::ifstream in(logPath_, std::ios::binary);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.compare(0, prefix.size(), prefix) == 0)
                lines.push_back(line);
        }
        return lines;
    }

    // The component's call: 25 records of 264 bytes.
    DWORD EnumEntries(std::vector<std::string>& names, DWORD records = 25, DWORD size = 264) {
        std::vector<RasEntryName> buffer(records);
        if (records > 0)
            buffer[0].dwSize = size;
        cb_ = records * static_cast<DWORD>(sizeof(RasEntryName));
        count_ = 0;
        const DWORD result =
            enumEntries_(nullptr, nullptr, records ? buffer.data() : nullptr, &cb_, &count_);
        names.clear();
        for (DWORD i = 0; result == 0 && i < count_; ++i) {
            EXPECT_EQ(buffer[i].dwSize, 264u);
            names.emplace_back(buffer[i].szEntryName);
        }
        return result;
    }

    DWORD EnumConnections(std::vector<RasConn>& list, DWORD records = 10, DWORD size = 412) {
        list.assign(records, RasConn{});
        list[0].dwSize = size;
        cb_ = records * static_cast<DWORD>(sizeof(RasConn));
        count_ = 0;
        const DWORD result = enumConnections_(list.data(), &cb_, &count_);
        list.resize(result == 0 ? count_ : 0);
        return result;
    }

    DWORD Projection(HANDLE connection, std::string& ip) {
        RasPppIp record{};
        record.dwSize = sizeof record;
        DWORD cb = sizeof record;
        const DWORD result = getProjectionInfo_(connection, kProjectionPppIp, &record, &cb);
        ip.assign(record.szIpAddress, strnlen(record.szIpAddress, sizeof record.szIpAddress));
        return result;
    }

    static RasDialParams ParamsFor(const std::string& entry) {
        RasDialParams params{};
        params.dwSize = sizeof params;
        std::strncpy(params.szEntryName, entry.c_str(), kEntryNameChars);
        return params;
    }

    DWORD Dial(const std::string& entry, HANDLE& connection, const std::string& user = "bob",
               const std::string& password = "pw") {
        RasDialParams params = ParamsFor(entry);
        std::strncpy(params.szUserName, user.c_str(), kUserNameChars);
        std::strncpy(params.szPassword, password.c_str(), kPasswordChars);
        return dial_(nullptr, nullptr, &params, kNotifierWindow, window_.Handle(), &connection);
    }

    // Pumps until count notices have come or the bound has passed.
    void WaitForNotices(size_t count, DWORD boundMs = 5000) {
        test::PumpUntil([&] { return notices_.size() >= count; }, boundMs);
    }

    const test::TempFolder folder_{"rassim-"};
    const std::string configPath_ = folder_.File("rassim.cfg");
    const std::string logPath_ = folder_.File("rassim.log");
    const UINT dialEventMessage_ = RegisterWindowMessageA("RASDIALEVENT");
    std::vector<Notice> notices_;
    UtilityWindow window_{[this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        if (msg != dialEventMessage_)
            return false;
        notices_.emplace_back(wParam, lParam);
        result = 0;
        return true;
    }};
    UniqueModule module_;
    DWORD cb_ = 0;
    DWORD count_ = 0;
    EnumEntriesFn enumEntries_ = nullptr;
    EnumConnectionsFn enumConnections_ = nullptr;
    GetProjectionInfoFn getProjectionInfo_ = nullptr;
    GetEntryDialParamsFn getDialParams_ = nullptr;
    SetEntryDialParamsFn setDialParams_ = nullptr;
    DialFn dial_ = nullptr;
    HangUpFn hangUp_ = nullptr;
    GetErrorStringFn getErrorString_ = nullptr;
    ResetFn reset_ = nullptr;
};

TEST_F(RasSim, WithoutConfigurationThePhoneBookAndConnectionListAreEmpty) {
    const test::ScopedEnvironmentVariable noConfig("PW_RASSIM_CONFIG", std::nullopt);
    std::vector<std::string> names;
    EXPECT_EQ(EnumEntries(names), 0u);
    EXPECT_EQ(count_, 0u);
    std::vector<RasConn> list;
    EXPECT_EQ(EnumConnections(list), 0u);
    EXPECT_EQ(count_, 0u);
}

TEST_F(RasSim, EntriesComeInFileOrderAndLongNamesAreCut) {
    const std::string longName(300, 'L');
    WriteConfig(EntryBlock("Office") + EntryBlock("My ISP") + EntryBlock(longName));
    std::vector<std::string> names;
    ASSERT_EQ(EnumEntries(names), 0u);
    EXPECT_EQ(names, (std::vector<std::string>{"Office", "My ISP", longName.substr(0, 256)}));
    EXPECT_EQ(cb_, 3 * 264u);

    // The file is read at every call.
    WriteConfig(EntryBlock("Home"));
    ASSERT_EQ(EnumEntries(names), 0u);
    EXPECT_EQ(names, (std::vector<std::string>{"Home"}));
}

TEST_F(RasSim, EnumerationsCheckTheRecordSizeAndReportTheBufferNeeded) {
    std::string config;
    for (int i = 0; i < 30; ++i)
        config += EntryBlock("Entry" + std::to_string(i));
    config += "connection 0x100 Office\nconnection 0x200 Home\n";
    WriteConfig(config);

    std::vector<std::string> names;
    EXPECT_EQ(EnumEntries(names, 25, 261), kErrorInvalidSize);
    // More entries than the component's 25 records hold.
    EXPECT_EQ(EnumEntries(names), kErrorBufferTooSmall);
    EXPECT_EQ(cb_, 30 * 264u);
    EXPECT_EQ(count_, 30u);
    EXPECT_EQ(EnumEntries(names, 0), kErrorBufferTooSmall);
    EXPECT_EQ(cb_, 30 * 264u);
    ASSERT_EQ(EnumEntries(names, 30), 0u);
    EXPECT_EQ(names.back(), "Entry29");

    std::vector<RasConn> list;
    EXPECT_EQ(EnumConnections(list, 10, 411), kErrorInvalidSize);
    EXPECT_EQ(EnumConnections(list, 1), kErrorBufferTooSmall);
    EXPECT_EQ(cb_, 2 * 412u);
    EXPECT_EQ(count_, 2u);
}

TEST_F(RasSim, ConfiguredConnectionsAnswerTheirIpProjection) {
    WriteConfig("connection 0x1234 Office\nip 10.1.2.3\n"
                "connection 77 Home\n"
                "connection 0x99 Broken\nprojerr 731\n");
    std::vector<RasConn> list;
    ASSERT_EQ(EnumConnections(list), 0u);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].dwSize, 412u);
    EXPECT_EQ(list[0].hrasconn, reinterpret_cast<HANDLE>(0x1234));
    EXPECT_STREQ(list[0].szEntryName, "Office");
    EXPECT_STREQ(list[0].szDeviceType, "modem");
    EXPECT_EQ(list[1].hrasconn, reinterpret_cast<HANDLE>(77));

    std::string ip;
    EXPECT_EQ(Projection(list[0].hrasconn, ip), 0u);
    EXPECT_EQ(ip, "10.1.2.3");
    EXPECT_EQ(Projection(list[1].hrasconn, ip), 0u);
    EXPECT_EQ(ip, "");
    EXPECT_EQ(Projection(list[2].hrasconn, ip), 731u);
    EXPECT_EQ(Projection(reinterpret_cast<HANDLE>(0x4321), ip), kErrorInvalidHandle);

    RasPppIp record{};
    record.dwSize = 28;
    DWORD cb = sizeof record;
    EXPECT_EQ(getProjectionInfo_(list[0].hrasconn, kProjectionPppIp, &record, &cb),
              kErrorInvalidSize);
    cb = 8;
    EXPECT_EQ(getProjectionInfo_(list[0].hrasconn, kProjectionPppIp, &record, &cb),
              kErrorBufferTooSmall);
    EXPECT_EQ(cb, 24u);
    EXPECT_EQ(getProjectionInfo_(list[0].hrasconn, 0x80021, &record, &cb),
              kErrorProtocolNotConfigured);

    // A configured line can be hung up; it is then no longer listed.
    EXPECT_EQ(hangUp_(list[0].hrasconn), 0u);
    EXPECT_EQ(hangUp_(list[0].hrasconn), kErrorInvalidHandle);
    ASSERT_EQ(EnumConnections(list), 0u);
    EXPECT_EQ(list.size(), 2u);
}

TEST_F(RasSim, DialParamsComeFromThePhoneBookAndWhatWasWrittenBack) {
    WriteConfig(EntryBlock("Office", "user bob\npassword secret\n") +
                EntryBlock("Home", "user ann\n"));
    RasDialParams params = ParamsFor("office");
    BOOL saved = FALSE;
    ASSERT_EQ(getDialParams_(nullptr, &params, &saved), 0u);
    EXPECT_TRUE(saved);
    EXPECT_STREQ(params.szUserName, "bob");
    EXPECT_STREQ(params.szPassword, "secret");

    params = ParamsFor("Home");
    ASSERT_EQ(getDialParams_(nullptr, &params, &saved), 0u);
    EXPECT_FALSE(saved);
    EXPECT_STREQ(params.szUserName, "ann");
    EXPECT_STREQ(params.szPassword, "");

    // Written with the password kept: the phone book now holds it.
    std::strcpy(params.szUserName, "carl");
    std::strcpy(params.szPassword, "pw2");
    ASSERT_EQ(setDialParams_(nullptr, &params, FALSE), 0u);
    params = ParamsFor("Home");
    ASSERT_EQ(getDialParams_(nullptr, &params, &saved), 0u);
    EXPECT_TRUE(saved);
    EXPECT_STREQ(params.szUserName, "carl");
    EXPECT_STREQ(params.szPassword, "pw2");

    // Written with the remove flag: the user stays, the password goes.
    std::strcpy(params.szUserName, "dora");
    ASSERT_EQ(setDialParams_(nullptr, &params, TRUE), 0u);
    params = ParamsFor("Home");
    ASSERT_EQ(getDialParams_(nullptr, &params, &saved), 0u);
    EXPECT_FALSE(saved);
    EXPECT_STREQ(params.szUserName, "dora");
    EXPECT_STREQ(params.szPassword, "");

    EXPECT_EQ(LogLines("RasSetEntryDialParamsA"),
              (std::vector<std::string>{
                  "RasSetEntryDialParamsA entry=\"Home\" user=\"carl\" password=\"pw2\" "
                  "domain=\"\" removePassword=0 -> 0",
                  "RasSetEntryDialParamsA entry=\"Home\" user=\"dora\" password=\"pw2\" "
                  "domain=\"\" removePassword=1 -> 0"}));

    params = ParamsFor("Nowhere");
    EXPECT_EQ(getDialParams_(nullptr, &params, &saved), kErrorCannotFindPhonebookEntry);
    EXPECT_EQ(setDialParams_(nullptr, &params, TRUE), kErrorCannotFindPhonebookEntry);
    params = ParamsFor("Home");
    params.dwSize = 1060;
    EXPECT_EQ(getDialParams_(nullptr, &params, &saved), kErrorInvalidSize);
    EXPECT_EQ(setDialParams_(nullptr, &params, TRUE), kErrorInvalidSize);
}

TEST_F(RasSim, ConnectPostsProgressInOrderThenListsTheLineUntilHungUp) {
    WriteConfig("delay 5\n" + EntryBlock("Office", "connect 4\nip 192.168.7.9\n"));
    HANDLE connection = nullptr;
    // Dialled with other letter case: the connection carries the phone book's spelling.
    ASSERT_EQ(Dial("OFFICE", connection), 0u);
    ASSERT_NE(connection, nullptr);
    std::string ip;
    EXPECT_EQ(Projection(connection, ip), kErrorProjectionNotComplete);

    WaitForNotices(5);
    EXPECT_EQ(notices_,
              (std::vector<Notice>{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {kStateConnected, 0}}));
    std::vector<RasConn> list;
    ASSERT_EQ(EnumConnections(list), 0u);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].hrasconn, connection);
    EXPECT_STREQ(list[0].szEntryName, "Office");
    EXPECT_EQ(Projection(connection, ip), 0u);
    EXPECT_EQ(ip, "192.168.7.9");

    EXPECT_EQ(hangUp_(connection), 0u);
    ASSERT_EQ(EnumConnections(list), 0u);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(hangUp_(connection), kErrorInvalidHandle);

    const std::vector<std::string> dials = LogLines("RasDialA");
    ASSERT_EQ(dials.size(), 1u);
    EXPECT_EQ(dials[0].rfind("RasDialA entry=\"OFFICE\" phone=\"\" user=\"bob\" password=\"pw\" "
                             "domain=\"\" notifierType=0xFFFFFFFF notifier=",
                             0),
              0u)
        << dials[0];
    EXPECT_EQ(LogLines("event").size(), 5u);
}

TEST_F(RasSim, FailedDialReportsTheErrorAfterTheGivenStatesAndIsNotListed) {
    WriteConfig("delay 5\n" + EntryBlock("Office", "fail 678 2\n"));
    HANDLE connection = nullptr;
    ASSERT_EQ(Dial("Office", connection), 0u);
    WaitForNotices(3);
    EXPECT_TRUE(test::NeverWithin([this] { return notices_.size() > 3; }, 300));
    EXPECT_EQ(notices_, (std::vector<Notice>{{0, 0}, {1, 0}, {2, 678}}));
    std::vector<RasConn> list;
    ASSERT_EQ(EnumConnections(list), 0u);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(hangUp_(connection), 0u);
}

TEST_F(RasSim, RefusedAndSilentDialsPostNothing) {
    WriteConfig("delay 5\n" + EntryBlock("Busy", "refuse 676\n") + EntryBlock("Quiet", "silent\n"));
    HANDLE connection = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(Dial("Busy", connection), 676u);
    EXPECT_EQ(connection, nullptr);

    ASSERT_EQ(Dial("Quiet", connection), 0u);
    ASSERT_NE(connection, nullptr);
    EXPECT_TRUE(test::NeverWithin([this] { return !notices_.empty(); }, 300));
    std::string ip;
    EXPECT_EQ(Projection(connection, ip), kErrorProjectionNotComplete);
    EXPECT_EQ(hangUp_(connection), 0u);
}

TEST_F(RasSim, HangingUpDuringADialStopsItsNotices) {
    WriteConfig("delay 60\n" + EntryBlock("Office"));
    HANDLE connection = nullptr;
    ASSERT_EQ(Dial("Office", connection), 0u);
    WaitForNotices(1);
    ASSERT_EQ(hangUp_(connection), 0u);
    const size_t seen = notices_.size();
    EXPECT_TRUE(test::NeverWithin([&] { return notices_.size() > seen; }, 400));
    EXPECT_LT(seen, kProgressStates.size());
}

TEST_F(RasSim, FreeingTheLibraryDuringADialIsSafe) {
    WriteConfig("delay 20\n" + EntryBlock("Office", "connect 3\n"));
    HANDLE connection = nullptr;
    ASSERT_EQ(Dial("Office", connection), 0u);
    module_.reset();
    // The worker keeps the library mapped until its last notice is out.
    WaitForNotices(4);
    EXPECT_EQ(notices_.back(), Notice(kStateConnected, 0));
}

TEST_F(RasSim, DialRejectsBadArgumentsAndUnknownEntries) {
    WriteConfig(EntryBlock("Office"));
    HANDLE connection = nullptr;
    RasDialParams params = ParamsFor("Office");
    params.dwSize = 1049;
    EXPECT_EQ(dial_(nullptr, nullptr, &params, kNotifierWindow, window_.Handle(), &connection),
              kErrorInvalidSize);
    params.dwSize = sizeof params;
    EXPECT_EQ(dial_(nullptr, nullptr, &params, 1, window_.Handle(), &connection),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Dial("Nowhere", connection), kErrorCannotFindPhonebookEntry);
    EXPECT_EQ(connection, nullptr);
}

TEST_F(RasSim, ErrorStringsAndStatusTexts) {
    char text[256] = {};
    ASSERT_EQ(getErrorString_(678, text, sizeof text), 0u);
    EXPECT_STREQ(text, "The remote computer did not answer.");
    ASSERT_EQ(getErrorString_(777, text, sizeof text), 0u);
    EXPECT_STREQ(text, "RAS simulated error 777");
    EXPECT_NE(getErrorString_(12345, text, sizeof text), 0u);
    EXPECT_EQ(getErrorString_(678, text, 5), kErrorInsufficientBuffer);

    const std::vector<std::pair<UINT, std::string>> expected = {
        {120, "Opening port..."},   {122, "Connecting device..."},
        {124, "Authenticating..."}, {128, "Logging on to network..."},
        {129, "Connected"},         {131, "Authenticated"}};
    for (const auto& [id, wording] : expected) {
        char buffer[256] = {};
        ASSERT_GT(LoadStringA(module_.get(), id, buffer, 255), 0) << id;
        EXPECT_EQ(buffer, wording);
    }
}

TEST_F(RasSim, ACallFailureHitsTheNthCallSinceTheConfigurationChanged) {
    WriteConfig(EntryBlock("Office") + "callfail RasEnumConnectionsA 610 2\n");
    std::vector<RasConn> list;
    EXPECT_EQ(EnumConnections(list), 0u);
    EXPECT_EQ(EnumConnections(list), 610u);
    EXPECT_EQ(EnumConnections(list), 0u);
    // The same text again counts on; a changed one starts the count anew.
    WriteConfig(EntryBlock("Office") + "callfail RasEnumConnectionsA 610 2\n");
    EXPECT_EQ(EnumConnections(list), 0u);
    WriteConfig(EntryBlock("Office") + "callfail rasenumconnectionsa 611 1\n");
    EXPECT_EQ(EnumConnections(list), 611u);
    EXPECT_EQ(LogLines("RasEnumConnectionsA").back(), "RasEnumConnectionsA -> 611 callfail=611");
}

TEST_F(RasSim, BadConfigurationLinesAreSkippedAndLogged) {
    WriteConfig(std::string("password orphan\n"
                            "entry\n"
                            "connect 3\n"
                            "delay lots\n"
                            "connection 0 Zero\n"
                            "connection 0x10 Dup\nconnection 0x10 Dup\n"
                            "entry Good\r\n"
                            "fail 0 2\nconnect 99\nrefuse\nbogus words\ncallfail RasDialA 0 1\n"
                            "connect 1\n") +
                std::string("\0\xff\x01 junk\n", 10) + "entry Also good\n");
    std::vector<std::string> names;
    ASSERT_EQ(EnumEntries(names), 0u);
    EXPECT_EQ(names, (std::vector<std::string>{"Good", "Also good"}));
    std::vector<RasConn> list;
    ASSERT_EQ(EnumConnections(list), 0u);
    EXPECT_EQ(list.size(), 1u);
    // Two calls, twelve skipped lines each.
    EXPECT_EQ(LogLines("config: line").size(), 24u);
}

} // namespace
} // namespace pw::rassim
