// TPlaceHolder, the agent's hidden main window: it holds the agent's whole state and owns every
// component, and its handlers are the agent: start-up, the tray menu, the check cycle and the
// client start in stand-alone mode.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent/CheckCycle.h"
#include "agent/Application.h"
#include "agent/ClientLink.h"
#include "agent/pwScheduleF.h"
#include "core/AccountsFile.h"
#include "core/AgentIni.h"
#include "core/AgentTexts.h"
#include "core/ClientCommands.h"
#include "core/FlagFile.h"
#include "core/Redaction.h"
#include "core/Schedule.h"
#include "core/DialupFile.h"
#include "core/MailboxAlerts.h"
#include "core/Component.h"
#include "dialup/agRasCmp.h"
#include "mail/mspop3.h"
#include "support/Appex.h"
#include "support/NoTask.h"
#include "support/TrayIcon.h"
#include "support/process.h"
#include "win/Dde.h"
#include "win/DdeServer.h"
#include "win/Handles.h"
#include "win/Timer.h"
#include "win/UtilityWindow.h"

namespace pw {

// What the agent takes from its surroundings. The defaults are the real ones; tests replace
// the clock, the command line and the ways the agent acts on the outside world.
struct AgentEnvironment {
    std::vector<std::string> Args;              // argument 0 is the program's path
    std::function<SYSTEMTIME()> Now;            // local time
    std::function<uint64_t()> Monotonic;        // milliseconds that run on through sleep
    std::function<std::string()> TimeSeparator; // the system's time separator
    std::function<std::string()> LongTime;      // the current time in the long time format
    std::function<void()> AsteriskSound;
    // Starts a program by the system's usual search, not waited for.
    std::function<void(const std::string& commandLine, UINT show)> RunProgram;
    // Ends the program at once; the tray icon has been removed before it is called.
    std::function<void()> EndProgram;
    // Seconds that each network wait of a mailbox session may last.
    int32_t MailboxTimeOut = 240;
    // The dial-up library by full path; empty (the product): the system's "rasapi32.dll".
    std::string RasLibraryPath;

    static AgentEnvironment System(std::vector<std::string> args);
};

enum MenuCommand : UINT { kStatus1 = 1, kCheckNow1 = 2, kClose1 = 4 };

// The agent's DDE server item: its name and its text (answered to a request; the last poke).
struct TDdeServerItem {
    std::string Name;
    std::string Text;
};

// The agent's hidden main window. Its public surface is what the window's description names:
// the components it owns and their handlers. Everything else is the agent's own state.
class TPlaceHolder : public TComponent, public IFormOwner, private IClientLinkHost {
    // First, so that the components made from it (the dial-up library's path) find it made.
    AgentEnvironment Environment;

public:
    static constexpr int kImageCount = 13;
    // What each of the thirteen pictures stands for.
    enum ImageNumber : int {
        kImageRetrieved = 1,      // stand-alone: new messages were retrieved
        kImageStandAlone = 2,     // stand-alone: the application's and the resting tray picture
        kImageBackground = 3,     // background: the application's picture; resting after new mail
        kImageBackgroundIdle = 4, // background: resting with nothing new
        kImageBusyFirst = 5,      // 5 to 13: the nine frames of the busy animation
    };
    static constexpr int kBusyFrames = kImageCount - kImageBusyFirst + 1;
    // Work that DDE notices leave for the queue.
    static constexpr UINT kClientinnChangeMessage = WM_APP + 20;
    static constexpr UINT kRunQueuedChecksMessage = WM_APP + 21;

    class Probe;

    TPlaceHolder(TApplication& application, AgentEnvironment environment);
    ~TPlaceHolder() override;

    // The status window; created after this window, as at program start.
    void SetStatusWindow(TpwSchedule* window) { Schedule = window; }
    // Fills the status window from the agent's state: its OnShow.
    void FillStatusWindow(TpwSchedule& window);
    // Replaces the DDE link with the client (the real one is made with the window).
    void SetClientLink(std::unique_ptr<IClientLink> link) { ClientLink = std::move(link); }

    HWND FormHandle() override { return form_.Handle(); }
    HICON Image(int number) const { return Images[number - 1].get(); }
    // Ends the program at once, removing the tray icon first.
    void EndProgram();

    // Handlers.
    void FormCreate();
    void FormClose();
    void TrayIcon1DblClick();
    void Status1Click();
    void CheckNow1Click();
    void Close1Click();
    void HaltaTimer();
    void Timer1Timer();
    void ExeTimerTimer();
    void Timer2Timer();
    void CatchUpTimerTimer();
    void RetryTimerTimer();
    void shootFinished();
    // A command poked by the client; ack is released when the command has been carried out.
    void BackgroundCallsPokeData(const std::string& text, DdeServer::Acknowledgement ack);
    void ClientinnChange();

    // Components.
    TApplication& Application;
    UniqueMenu PopupMenu1;
    TTimer& Timer1;       // every 10 s: the resting tray picture; the flag-file watch
    TTimer& ExeTimer;     // every 60 s: the minute tick that decides when a check is due
    TTimer& Halta;        // 200 ms after the client is found gone: ends the agent
    TTimer& Timer2;       // every 350 ms during a check: the busy animation of the tray icon
    TTimer& CatchUpTimer; // once, a little after a wake: the catch-up check
    TTimer& RetryTimer;   // a minute after a wake's failure to reach a server: the retry
    std::array<UniqueIcon, kImageCount> Images; // Image1 to Image13, see ImageNumber
    TProcess& shoot;                            // the launcher that starts the mail client
    TmsRemotePOP& POPbox;
    TagRas& DialUp;
    TAppException& AppException1;
    TNoTask* NoTask1 = nullptr;
    TTrayIcon& TrayIcon1;
    TpwSchedule* Schedule = nullptr;
    std::unique_ptr<DdeInstance> Dde; // the agent's DDEML instance, for the client conversation
    std::unique_ptr<IClientLink> ClientLink; // Convinn with its item Clientinn
    std::unique_ptr<DdeServer> BackgroundConversation;
    TDdeServerItem BackgroundCalls{"BackgroundCalls", "START"};

private:
    // What a walk over the watched mailboxes does; each check states what differs.
    struct WalkPolicy {
        // The first mailbox with new mail ends the walk (the stand-alone due check: the client
        // it starts fetches every mailbox anyway).
        bool StopAtFirstNew = false;
        // Messages are let through once more between the login and the walk over the
        // messages (due checks).
        bool PumpBeforeCounting = false;
        // The client's "STOP" ends the walk after the mailbox in hand (due checks; the client's
        // own "CHECK" has halted checking itself, so its walk cannot honour it).
        bool HonourHalt = false;
        // Each mailbox is announced to the client by "CHECKNOTE:" (the client's check).
        bool NoteEachMailbox = false;
        // Only these mailboxes (the retry of those a wake found unreachable); all when null.
        const std::set<std::string>* Only = nullptr;
    };
    enum class WalkEnd { Completed, Halted, FoundNew };
    // What ended, for the one function that shows the cycle's state.
    enum class CheckEnd { None, DueCheck };

    // What the client link may use of the agent.
    const std::string& ProgramDirectory() const override { return ProgramDir; }
    void ResetArrivedCount() override { ArrivedCount = 0; }
    void RunProgram(const std::string& commandLine, UINT show) override;
    void EndSoon() override { Halta.SetEnabled(true); }
    void PostClientItemChange() override;
    bool ClientAnswered() const override { return cycle_.ClientAnswered(); }
    void SetClientAnswered(bool answered) override { cycle_.SetClientAnswered(answered); }
    void SetToolTip(const std::string& text) override;

    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void OnMenuCommand(UINT id);
    void LoadSettings();

    // The check cycle: PWiseFCheck.cpp. fromTimer: the minute tick itself, not "Check Now!".
    void MinuteTick(bool fromTimer);
    // A due check that ends however it is left, over every mailbox or only the given ones.
    void RunGuardedDueCheck(const std::set<std::string>* only);
    void RunDueCheck(const std::set<std::string>* only);
    void EndDueCheck();
    bool CheckAllMailboxes(const std::set<std::string>* only);
    void RunStandAloneRetrieval();
    bool ConnectDialUp();
    // The dial of both checks: a second try after a failure; when that fails too, the walk
    // ends (resting icon) and false is returned.
    bool DialForCheck();
    void HangUpDialUp();
    // The one walk over the watched mailboxes of both checks; found is told each mailbox with
    // new mail and its count.
    WalkEnd WalkMailboxes(const WalkPolicy& policy,
                          const std::function<void(const AccountRecord&, int32_t)>& found);
    // The end of a walk: the busy animation stops, the resting icon and the flag-file watch.
    void FinishCheck();
    void PumpBetweenMailboxes();
    void PrepareMailbox(const AccountRecord& record);
    // The one mailbox session of both checks: opens the prepared mailbox, counts its new mail
    // and closes it in every case. The count, or nothing when the mailbox holds no messages or
    // could not be checked (the trace says why).
    std::optional<int32_t> CountNewMail(const AccountRecord& record, bool pumpBeforeCounting);
    void CloseMailboxQuietly();
    // Tells the user, once, why a mailbox cannot be checked when it is something to act on;
    // a failure of the moment, a server's wish for fewer logins and a network still coming up
    // after a wake are only traced (and acted on).
    void ReportMailboxFailure(const std::string& address, const std::exception& error);

    // Sleep and clock changes: PWiseFWake.cpp.
    void PowerBroadcast(WPARAM event);
    void TimeChange();
    void NoteWake(const std::string& how);
    int64_t LocalMinute() const;

    // The client's commands: PWiseFClient.cpp.
    void RunClientCheck(DdeServer::Acknowledgement ack);
    void CheckForClient();
    void RunQueuedChecks();
    void PostQueuedChecks();

    // What the user sees of the cycle: PWiseFTray.cpp. ShowCheckState is the one place that
    // sets the menu items, the minute tick and the busy or resting tray picture from the cycle,
    // and after a due check its tool tip.
    void ShowCheckState(CheckEnd ended = CheckEnd::None);
    // The menu items are enabled: no walk of a due check, no client program, no status window.
    bool MenuItemsEnabled() const;
    void StartBusyAnimation();
    void ShowRestingIcon();
    // Traces the alert and shows it as a balloon at once unless balloons are off (what the
    // settings file tells at start-up).
    void ShowAlert(const std::optional<std::string>& text);
    // Traces the alert of a walk's mailbox and keeps it for the walk's one balloon.
    void QueueAlert(const std::string& text, MailboxAlert alert);
    // The alerts the walk collected, in one balloon.
    void ShowAlerts();
    void SetTrayIcon(HICON icon);
    bool StatusVisible() const { return Schedule != nullptr && Schedule->Visible(); }
    void SetLabel3(const std::string& text);
    void SetLabel8(const std::string& text);
    void RefreshCountdownLabel();

    // Fields.
    std::string ProgramDir;
    bool BackgroundMode = false;
    int32_t ArrivedCount = 0;
    int32_t CheckInterval = 0;
    int32_t MinutesElapsed = 0;
    AccountTable Accounts; // AccountTable with AccountCount
    // The agent's own optional "pwagent.ini": TLS per server, clear-text passwords, balloons.
    AgentSettingsFile AgentIni;
    MailboxAlerts Alerts;
    std::string ScheduleType;
    ScheduleTable ScheduleTimes;
    std::string DialEntry;
    std::string DialUserName;
    std::string DialPassword;
    bool PermanentConnection = false;
    bool NoDial = false;
    bool InterpretScripts = false;
    bool PrintIncoming = false;
    int32_t AnimationFrame = 0; // the next busy frame, 0 .. kBusyFrames - 1

    CheckCycle cycle_;
    RoutedWindow form_;
    bool started_ = false;          // start-up has enabled the minute tick
    bool statusWindowOpen_ = false; // "&Status" waits for the window to close
    bool ended_ = false;
    int trayImage_ = 0; // number of the image the tray shows, for the trace
};

// What tests may see of the agent beyond its components and handlers: values read now, and the
// busy animation's start and end, which a test drives frame by frame.
class TPlaceHolder::Probe {
public:
    explicit Probe(TPlaceHolder& agent) : agent_(agent) {}

    const std::string& ProgramDir() const { return agent_.ProgramDir; }
    bool BackgroundMode() const { return agent_.BackgroundMode; }
    int32_t ArrivedCount() const { return agent_.ArrivedCount; }
    int32_t CheckInterval() const { return agent_.CheckInterval; }
    int32_t MinutesElapsed() const { return agent_.MinutesElapsed; }
    int32_t AccountCount() const { return agent_.Accounts.AccountCount; }
    const std::string& ScheduleType() const { return agent_.ScheduleType; }
    const AgentSettingsFile& AgentIni() const { return agent_.AgentIni; }
    const CheckCycle& Cycle() const { return agent_.cycle_; }
    bool MenuEnabled(MenuCommand item) const;
    // Number of the image the agent last gave the tray icon.
    int TrayImage() const { return agent_.trayImage_; }
    bool Ended() const { return agent_.ended_; }

    void StartBusyAnimation() { agent_.StartBusyAnimation(); }
    void FinishCheck() { agent_.FinishCheck(); }

private:
    TPlaceHolder& agent_;
};

} // namespace pw
