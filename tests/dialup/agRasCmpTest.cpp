// The dial-up component against the simulated RAS library (its call log shows what was dialled,
// written back and hung up) and against Wine's own rasapi32, which has no phone book.
#include "dialup/agRasCmp.h"
#include "support/Testing.h"
#include "win/Binding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/Text.h"
#include "support/WindowsPath.h"
#include "win/MessagePump.h"
#include "win/Timer.h"

namespace pw {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

constexpr char kNoRas[] = "Unable to detect\rRAS on your system.";
constexpr char kInvalidService[] =
    "Invalid service name:\rPlease check your settings on the \"communications-tab\" in "
    "\"File/Settings\"";

constexpr char kPhoneBook[] = "delay 5\n"
                              "entry Office\nuser office-user\nconnect 14\nip 10.0.0.7\n"
                              "entry Home\nuser home-user\npassword saved-secret\nconnect 3\n"
                              "entry Silent\nsilent\n"
                              "entry Busy\nrefuse 676\n"
                              "entry NoAnswer\nfail 678 3\n";

constexpr int32_t kDialBoundSeconds = 10;

std::string TempPath(const char* suffix) {
    char directory[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(MAX_PATH, directory);
    return std::string(directory, n) + "dialup-" + std::to_string(GetCurrentProcessId()) + suffix;
}

std::string HandleText(HANDLE handle) {
    char text[16] = {};
    std::snprintf(text, sizeof text, "0x%08lX",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}

struct Box {
    std::string text;
    UINT type;
};

class DialUp : public ::testing::Test {
protected:
    // The simulated library's settings, put back as they were after each test.
    std::optional<test::ScopedEnvironmentVariable> simConfig_;
    std::optional<test::ScopedEnvironmentVariable> simLog_;

    void SetUp() override {
        simConfig_.emplace("PW_RASSIM_CONFIG", configPath_);
        simLog_.emplace("PW_RASSIM_LOG", logPath_);
        WriteConfig(kPhoneBook);
        sim_ = LoadRasLibrary(simPath_);
        ASSERT_TRUE(sim_) << simPath_;
        ASSERT_NE(GetProcAddress(sim_.get(), "PwRasSimReset"), nullptr)
            << "Wine loaded its own rasapi32: run with WINEDLLOVERRIDES=rasapi32=n,b";
        ResetSim();
        DeleteFileA(logPath_.c_str());
    }

    void TearDown() override {
        ResetSim();
        sim_.reset();
        simConfig_.reset();
        simLog_.reset();
        DeleteFileA(configPath_.c_str());
        DeleteFileA(logPath_.c_str());
    }

    void ResetSim() {
        using ResetFn = void(WINAPI*)();
        if (const auto reset = LookUpFunction<ResetFn>(sim_.get(), "PwRasSimReset"))
            reset();
    }

    void WriteConfig(const std::string& text) {
        FILE* file = std::fopen(configPath_.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }

    std::string LogText() {
        std::string text;
        FILE* file = std::fopen(logPath_.c_str(), "rb");
        if (file == nullptr)
            return text;
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, n);
        std::fclose(file);
        return text;
    }

    // The log lines of one library function, in call order.
    std::vector<std::string> Calls(const std::string& function) {
        std::vector<std::string> lines;
        for (const std::string& line : SplitLines(LogText())) {
            if (StartsWith(line, function + " "))
                lines.push_back(line);
        }
        return lines;
    }

    // Message boxes are recorded, never shown; status texts and hang-up notices too. A dial that
    // never hears from the library ends after kDialBoundSeconds instead of the default two
    // minutes, so a broken library fails the test quickly.
    void Watch(TagRas& ras) {
        ras.TimeOut = kDialBoundSeconds;
        ras.ShowMessageBox = [this](HWND, const char* text, const char*, UINT type) {
            boxes.push_back({text, type});
            return IDOK;
        };
        ras.OnStatusChange = [this, &ras](TObject& sender, const std::string& text) {
            EXPECT_EQ(&sender, &ras);
            statuses.push_back(text);
        };
        ras.OnDisconnected = [this](TObject&) { ++disconnects; };
    }

    const std::string simPath_ = test::WindowsPath(PW_RASSIM_DLL);
    const std::string configPath_ = TempPath("-config.txt");
    const std::string logPath_ = TempPath("-log.txt");
    UniqueModule sim_;
    std::vector<Box> boxes;
    std::vector<std::string> statuses;
    int disconnects = 0;
};

TEST_F(DialUp, ReadsTheEntriesInOrderAndValidatesTheServiceIgnoringCase) {
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    EXPECT_THAT(ras.Entries, ElementsAre("Office", "Home", "Silent", "Busy", "NoAnswer"));
    EXPECT_TRUE(ras.RasAvailable());
    EXPECT_THAT(Calls("RasEnumEntriesA"), ElementsAre(HasSubstr("cb=6600 -> 0 count=5")));

    ras.SetService("oFFICE");
    EXPECT_EQ(ras.Service(), "oFFICE");
    EXPECT_THAT(boxes, IsEmpty());

    ras.SetService("Nowhere");
    EXPECT_EQ(ras.Service(), "");
    ASSERT_THAT(boxes, SizeIs(1));
    EXPECT_EQ(boxes[0].text, kInvalidService);
    EXPECT_EQ(boxes[0].type, UINT(MB_ICONERROR | MB_OK));

    ras.SetService("Home");
    ras.SetService("");
    EXPECT_EQ(ras.Service(), "");
    EXPECT_THAT(boxes, SizeIs(1));
}

// A phone book that cannot be read once, at creation or when the service is set, neither shows a
// box nor stops the dialling: the next read, or the list read before, serves.
TEST_F(DialUp, APhoneBookThatCannotBeReadOnceChangesNothing) {
    WriteConfig(std::string(kPhoneBook) +
                "callfail RasEnumEntriesA 610 1\ncallfail RasEnumEntriesA 611 3\n");
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    EXPECT_THAT(ras.Entries, IsEmpty());
    ras.SetService("Office");
    EXPECT_EQ(ras.Service(), "Office");
    ras.SetService("Home");
    EXPECT_EQ(ras.Service(), "Home");
    EXPECT_EQ(ras.LastError, 611u);
    EXPECT_THAT(ras.Entries, SizeIs(5));
    EXPECT_THAT(boxes, IsEmpty());
}

TEST_F(DialUp, MoreThan25EntriesLeaveTheListEmptyAndRefuseEveryService) {
    std::string config;
    for (int i = 1; i <= 26; ++i)
        config += "entry E" + std::to_string(i) + "\n";
    WriteConfig(config);
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    EXPECT_THAT(ras.Entries, IsEmpty());
    EXPECT_FALSE(ras.RasAvailable());
    ras.SetService("E1");
    EXPECT_EQ(ras.Service(), "");
    ASSERT_THAT(boxes, SizeIs(1));
    EXPECT_EQ(boxes[0].text, kNoRas);
    EXPECT_EQ(boxes[0].type, UINT(MB_ICONERROR | MB_OK));
}

TEST_F(DialUp, ForceServiceCountsOnlyAConnectionOfTheEntryInItsExactCase) {
    WriteConfig(std::string(kPhoneBook) + "connection 0x500 Office\nip 10.9.9.9\n");
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.SetService("office");
    EXPECT_FALSE(ras.IsConnected());
    EXPECT_EQ(ras.ConnHandle(), TagRas::kNoConnection);

    ras.SetService("Office");
    ras.Connect();
    EXPECT_TRUE(ras.Connected);
    EXPECT_FALSE(ras.Dialled);
    EXPECT_EQ(HandleText(ras.ConnHandle()), "0x00000500");
    EXPECT_THAT(Calls("RasDialA"), IsEmpty());
    EXPECT_THAT(Calls("RasGetProjectionInfoA"), IsEmpty());
}

TEST_F(DialUp, WithoutForceServiceTheFirstConnectionWithAnAddressCounts) {
    WriteConfig(std::string(kPhoneBook) +
                "connection 0x500 Elsewhere\nconnection 0x600 Other\nip 192.168.5.5\n");
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.ForceService = false;
    ras.SetService("Office");
    ras.Connect();
    EXPECT_TRUE(ras.Connected);
    EXPECT_FALSE(ras.Dialled);
    EXPECT_EQ(HandleText(ras.ConnHandle()), "0x00000600");
    EXPECT_THAT(Calls("RasDialA"), IsEmpty());
    EXPECT_THAT(Calls("RasGetProjectionInfoA"),
                ElementsAre(HasSubstr("handle=0x00000500 projection=0x00008021 cb=24 -> 0"),
                            HasSubstr("handle=0x00000600 projection=0x00008021 cb=24 -> 0")));

    // A connection whose projection fails ends the search with the library's error.
    WriteConfig(std::string(kPhoneBook) +
                "connection 0x500 Elsewhere\nprojerr 731\nconnection 0x600 Other\nip 10.1.1.1\n");
    try {
        ras.IsConnected();
        FAIL() << "no ERASError";
    } catch (const ERASError& e) {
        EXPECT_STREQ(e.what(), "The protocol is not configured.");
    }
    EXPECT_EQ(ras.LastError, 731u);
}

TEST_F(DialUp, EmptyServiceDialsNothingAndCountsTheLineAsUp) {
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.Connect();
    EXPECT_TRUE(ras.Connected);
    EXPECT_FALSE(ras.Dialled);
    EXPECT_FALSE(ras.Failed);
    EXPECT_THAT(Calls("RasDialA"), IsEmpty());
}

TEST_F(DialUp, DialReportsStatusTextsInOrderAndHangUpReleasesTheLine) {
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.SetService("Office");
    ras.Connect();
    EXPECT_TRUE(ras.Connected);
    EXPECT_TRUE(ras.Dialled);
    EXPECT_FALSE(ras.Failed);
    // States 0 1 2 3 4 5 19 6 10 11 12 14 18 21, then connected.
    EXPECT_THAT(statuses,
                ElementsAre("Opening port...", "", "Connecting device...", "Connecting device...",
                            "Connecting device...", "Authenticating...", "Authenticating...", "",
                            "", "", "", "Authenticated", "", "Logging on to network...",
                            "Connected"));
    const std::string handle = HandleText(ras.ConnHandle());
    EXPECT_THAT(Calls("RasDialA"), ElementsAre(AllOf(HasSubstr("entry=\"Office\""),
                                                     HasSubstr("notifierType=0xFFFFFFFF notifier=" +
                                                               HandleText(ras.NotifyWindow())),
                                                     HasSubstr("-> 0 handle=" + handle))));

    ras.HangUp();
    ras.HangUp(); // the line is down: no second hang-up of a closed handle, no second end
    EXPECT_THAT(Calls("RasHangUpA"), ElementsAre(HasSubstr("handle=" + handle + " -> 0")));
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(ras.Connected);
    EXPECT_TRUE(ras.Dialled);
    EXPECT_EQ(ras.ConnHandle(), TagRas::kNoConnection);
}

TEST_F(DialUp, AThrowingStatusHandlerDoesNotStopTheDial) {
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.SetService("Home");
    ras.OnStatusChange = [](TObject&, const std::string&) { throw ERASError("handler"); };
    ras.Connect();
    EXPECT_TRUE(ras.Connected);
    EXPECT_TRUE(ras.Dialled);
}

TEST_F(DialUp, ASavedPasswordIsUsedAndNothingIsWrittenBack) {
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.SetService("Home");
    ras.UserName = "agent-user";
    ras.Password = "ignored";
    ras.Connect();
    EXPECT_THAT(Calls("RasSetEntryDialParamsA"), IsEmpty());
    EXPECT_THAT(Calls("RasDialA"),
                ElementsAre(HasSubstr("user=\"agent-user\" password=\"saved-secret\"")));
}

TEST_F(DialUp, WithoutASavedPasswordThePropertiesAreWrittenBackWithTheRemoveFlag) {
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.SetService("Office");
    ras.UserName = " dial-user ";
    ras.Password = "pw1";
    ras.Connect();
    ras.HangUp();

    // Written back without the password: the next dial writes again, with the saved user name
    // when the property is blank.
    ras.UserName = " \t";
    ras.Password = "pw2";
    ras.RemovePassword = false;
    ras.Connect();
    EXPECT_THAT(Calls("RasSetEntryDialParamsA"),
                ElementsAre(HasSubstr("user=\" dial-user \" password=\"pw1\" domain=\"\" "
                                      "removePassword=1 -> 0"),
                            HasSubstr("user=\" dial-user \" password=\"pw2\" domain=\"\" "
                                      "removePassword=0 -> 0")));
    EXPECT_THAT(Calls("RasDialA"), ElementsAre(HasSubstr("user=\" dial-user \" password=\"pw1\""),
                                               HasSubstr("user=\" dial-user \" password=\"pw2\"")));
}

TEST_F(DialUp, ATimedOutDialRaisesAndIsHungUp) {
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.SetService("Silent");
    ras.TimeOut = 1;
    const DWORD start = GetTickCount();
    EXPECT_THROW(ras.Connect(), ETimedOutError);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_TRUE(ras.Failed);
    EXPECT_FALSE(ras.Cancelled);
    EXPECT_FALSE(ras.Dialled);
    EXPECT_FALSE(ras.Connected);
    EXPECT_EQ(ras.ConnHandle(), TagRas::kNoConnection);
    const auto dials = Calls("RasDialA");
    ASSERT_THAT(dials, SizeIs(1));
    const std::string handle = dials[0].substr(dials[0].rfind("handle="));
    EXPECT_THAT(Calls("RasHangUpA"), ElementsAre(HasSubstr(handle + " -> 0")));
    EXPECT_EQ(disconnects, 0);

    // Nothing is left to hang up, and the next dial runs as the first did.
    ras.Cancel();
    EXPECT_THAT(Calls("RasHangUpA"), SizeIs(1));
    ras.TimeOut = 2;
    EXPECT_THROW(ras.Connect(), ETimedOutError);
    EXPECT_THAT(Calls("RasHangUpA"), SizeIs(2));
}

TEST_F(DialUp, AnErrorNoticeEndsTheWaitBeforeConnectedAndHangsUp) {
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.SetService("NoAnswer");
    try {
        ras.Connect();
        FAIL() << "no ERASError";
    } catch (const ERASError& e) {
        EXPECT_STREQ(e.what(), "The remote computer did not answer.");
    }
    EXPECT_EQ(ras.LastError, 678u);
    EXPECT_TRUE(ras.Failed);
    EXPECT_FALSE(ras.Connected);
    EXPECT_FALSE(ras.Dialled);
    EXPECT_THAT(statuses, SizeIs(4)); // three steps, then the failing one
    EXPECT_THAT(Calls("RasHangUpA"), SizeIs(1));
}

TEST_F(DialUp, ARefusedDialRaisesWithTheLibrarysTextAndLeavesNothingToHangUp) {
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.SetService("Busy");
    try {
        ras.Connect();
        FAIL() << "no ERASError";
    } catch (const ERASError& e) {
        EXPECT_STREQ(e.what(), "The line is busy.");
    }
    EXPECT_EQ(ras.LastError, 676u);
    EXPECT_TRUE(ras.Failed);
    EXPECT_FALSE(ras.Dialled);
    EXPECT_THAT(Calls("RasHangUpA"), IsEmpty());
}

TEST_F(DialUp, CancelFromAStatusHandlerEndsTheWaitAndHangsUpThePendingDial) {
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.SetService("Office");
    ras.OnStatusChange = [&](TObject&, const std::string&) {
        if (statuses.size() < 3)
            statuses.push_back("seen");
        if (statuses.size() == 3)
            ras.Cancel();
    };
    try {
        ras.Connect();
        FAIL() << "no ECanceledError";
    } catch (const ECanceledError& e) {
        EXPECT_STREQ(e.what(), "Operation has been canceled");
    }
    EXPECT_TRUE(ras.Cancelled);
    EXPECT_TRUE(ras.Failed);
    EXPECT_FALSE(ras.Connected);
    EXPECT_FALSE(ras.Dialled);
    EXPECT_EQ(ras.ConnHandle(), TagRas::kNoConnection);
    EXPECT_THAT(Calls("RasHangUpA"), ElementsAre(HasSubstr("-> 0")));
    EXPECT_EQ(disconnects, 0);
}

TEST_F(DialUp, CancelFromATimerEndsAWaitThatNeverTimesOut) {
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.SetService("Silent");
    ras.TimeOut = 0;
    TTimer timer(nullptr, 1500, true);
    timer.OnTimer = [&](TObject&) {
        timer.SetEnabled(false);
        ras.Cancel();
    };
    const DWORD start = GetTickCount();
    EXPECT_THROW(ras.Connect(), ECanceledError);
    EXPECT_GE(GetTickCount() - start, 1400u);
    EXPECT_TRUE(ras.Cancelled);
    EXPECT_THAT(Calls("RasHangUpA"), SizeIs(1));
}

TEST_F(DialUp, MinimizeAtConnectMinimisesTheDialogAboutASecondLater) {
    const UniqueWindow dialog(CreateWindowExA(0, "#32770", "Dial-up",
                                              WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100,
                                              nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(dialog);
    TagRas ras(nullptr, simPath_);
    Watch(ras);
    ras.SetService("Home");
    ras.MinimizeAtConnect = true;
    const DWORD start = GetTickCount();
    ras.Connect();
    EXPECT_GE(GetTickCount() - start, 1000u);
    EXPECT_TRUE(ras.Dialled);
    EXPECT_TRUE(IsIconic(dialog.get()));
}

TEST_F(DialUp, ErrorTextsComeFromTheLibraryOrNameTheNumber) {
    EXPECT_EQ(RasError(691, sim_.get()).Message(), "The user name or password was not accepted.");
    EXPECT_EQ(RasError(5000, sim_.get()).Message(), "RAS error no 5000");
}

TEST_F(DialUp, AMissingLibraryMakesEveryOperationDoNothing) {
    for (const char* path : {"Z:\\nowhere\\rasapi32.dll", "rasapi32.dll"}) {
        SCOPED_TRACE(path);
        TagRas ras(nullptr, path);
        Watch(ras);
        EXPECT_THAT(ras.Entries, IsEmpty());
        ras.SetService("Office");
        ASSERT_THAT(boxes, SizeIs(1));
        EXPECT_EQ(boxes[0].text, kNoRas);
        boxes.clear();
        EXPECT_FALSE(ras.IsConnected());
        ras.Connect();
        EXPECT_TRUE(ras.Connected); // no service to dial
        ras.Cancel();
        EXPECT_TRUE(ras.Connected); // no RasHangUpA: nothing changes
        EXPECT_EQ(RasError(678, nullptr).Message(), "");
    }
    EXPECT_EQ(LogText(), "");
}

// Wine's own library, loaded from the system directory as in the field: no phone book.
TEST(DialUpWithWineRas, NothingDialsAndEveryServiceIsRefused) {
    // No variable of the environment makes the program load another file.
    {
        const test::ScopedEnvironmentVariable path("PW_RASAPI_PATH",
                                                   test::WindowsPath(PW_RASSIM_DLL));
        ASSERT_EQ(GetProcAddress(LoadRasLibrary().get(), "PwRasSimReset"), nullptr);
    }
    TagRas ras;
    std::vector<std::string> texts;
    ras.ShowMessageBox = [&](HWND, const char* text, const char*, UINT) {
        texts.push_back(text);
        return IDOK;
    };
    EXPECT_THAT(ras.Entries, IsEmpty());
    ras.SetService("Office");
    EXPECT_EQ(ras.Service(), "");
    EXPECT_THAT(texts, ElementsAre(kNoRas));
    ras.Connect();
    EXPECT_TRUE(ras.Connected);
    EXPECT_FALSE(ras.Dialled);
    ras.HangUp();
    EXPECT_FALSE(ras.Connected);
}

} // namespace
} // namespace pw
