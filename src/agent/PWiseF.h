// TPlaceHolder, the agent's hidden main window: it holds the agent's whole state and owns every
// component, and its handlers are the agent: start-up, the tray menu, the check cycle and the
// client start in stand-alone mode.
#pragma once

#include <windows.h>

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/AgentState.h"
#include "agent/Application.h"
#include "agent/ClientLink.h"
#include "agent/pwScheduleF.h"
#include "core/AccountsFile.h"
#include "core/AgentIni.h"
#include "core/AgentRules.h"
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

class TPlaceHolder : public TComponent, public IFormOwner, private IClientLinkHost {
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
    // Work that DDE notices leave for the queue.
    static constexpr UINT kClientinnChangeMessage = WM_APP + 20;
    static constexpr UINT kRunDeferredChecksMessage = WM_APP + 21;

    TPlaceHolder(TApplication& application, AgentEnvironment environment);
    ~TPlaceHolder() override;

    // The status window; created after this window, as at program start.
    void SetStatusWindow(TpwSchedule* window) { Schedule = window; }
    // Replaces the DDE link with the client (the real one is made with the window).
    void SetClientLink(std::unique_ptr<IClientLink> link) { ClientLink = std::move(link); }

    HWND FormHandle() override { return form_.Handle(); }
    bool Ended() const { return ended_; }
    // The flags and texts the handlers share (one instance each, reset at start-up).
    const AgentProcessState& State() const { return Shared; }

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
    void shootFinished();
    // A command poked by the client; ack is released when the command has been carried out.
    void BackgroundCallsPokeData(const std::string& text, DdeServer::Acknowledgement ack);
    void ClientinnChange();

    // The check cycle.
    bool CheckAllMailboxes();
    void CheckForClient();
    bool ConnectDialUp();
    // The dial of both checks: a second try after a failure; when that fails too, the check
    // ends (menu enabled, resting icon) and false is returned.
    bool DialForCheck();
    void HangUpDialUp();
    void StartBusyAnimation();
    void FinishCheck();
    void LoadSettings();
    void FillStatusWindow(TpwSchedule& window);

    // Ends the program at once, removing the tray icon first.
    void EndProgram();

    // Menu item states; several handlers read Status1's as the sign that the agent is idle.
    bool MenuEnabled(MenuCommand item) const;
    void EnableMenuItem(MenuCommand item, bool enabled);

    void SetToolTip(const std::string& text) override;
    void SetTrayIcon(HICON icon);
    HICON Image(int number) const { return Images[number - 1].get(); }
    // Number of the image the agent last gave the tray icon.
    int TrayImage() const { return trayImage_; }

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

    // Components.
    TApplication& Application;
    AgentEnvironment Environment;
    UniqueMenu PopupMenu1;
    TTimer& Timer1;   // every 10 s: the resting tray picture; the flag-file watch
    TTimer& ExeTimer; // every 60 s: the minute tick that decides when a check is due
    TTimer& Halta;    // 200 ms after the client is found gone: ends the agent
    TTimer& Timer2;   // every 350 ms during a check: the busy animation of the tray icon
    std::array<UniqueIcon, kImageCount> Images; // Image1 to Image13, see ImageNumber
    TProcess& shoot;                            // the launcher that starts the mail client
    TmsRemotePOP& POPbox;
    TagRas& DialUp;
    TAppException& AppException1;
    TNoTask* NoTask1 = nullptr;
    TTrayIcon& TrayIcon1;
    TpwSchedule* Schedule = nullptr;
    std::unique_ptr<DdeInstance> Dde; // the agent's DDEML instance, for the client conversation
    std::unique_ptr<IClientLink> ClientLink;
    std::unique_ptr<DdeServer> BackgroundConversation;
    TDdeServerItem BackgroundCalls{"BackgroundCalls", "START"};

private:
    // What the client link may use of the agent.
    AgentProcessState& SharedState() override { return Shared; }
    const std::string& ProgramDirectory() const override { return ProgramDir; }
    void ResetArrivedCount() override { ArrivedCount = 0; }
    void RunProgram(const std::string& commandLine, UINT show) override;
    void EndSoon() override { Halta.SetEnabled(true); }
    void PostClientItemChange() override;

    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void OnMenuCommand(UINT id);
    void PumpBetweenMailboxes();
    // Accounts without an "@" in their address are never contacted.
    static bool IsWatched(const AccountRecord& record);
    void PrepareMailbox(const AccountRecord& record);
    // The one mailbox session of both checks: opens the prepared mailbox, counts its new mail
    // and closes it in every case. The count, or nothing when the mailbox holds no messages or
    // could not be checked (the trace says why).
    std::optional<int32_t> CountNewMail(const AccountRecord& record, bool pumpBeforeCounting);
    void CloseMailboxQuietly();
    // Tells the user, once, why a mailbox cannot be checked when it is something to act on.
    void ReportMailboxFailure(const std::string& address, const std::exception& error);
    // Traces the alert and shows it as a balloon unless the settings turn balloons off.
    void ShowAlert(const std::optional<std::string>& text);
    bool StatusVisible() const { return Schedule != nullptr && Schedule->Visible(); }
    void SetLabel3(const std::string& text);
    void SetLabel8(const std::string& text);
    void RunStandAloneRetrieval();
    void RefreshCountdownLabel();
    bool AnyCheckRunning() const;
    // POPbox is in use: a scheduled or a client check walks the mailboxes.
    bool MailboxesInUse() const;
    void RunDueCheck();
    void EndDueCheck();
    void EndBusyAnimation();
    void ShowRestingIcon();
    void RunClientCheck(DdeServer::Acknowledgement ack);
    void RunDeferredChecks();

    AgentProcessState Shared;
    RoutedWindow form_;
    bool ended_ = false;
    bool dueCheckRunning_ = false;            // from a due minute tick to the end of its retrieval
    bool clientCheckRunning_ = false;         // CheckForClient for a "CHECK" command
    bool checkCommandDuringDueCheck_ = false; // a "CHECK" came while a due check ran
    // "CHECK" commands that arrived while a check ran, in order; each runs once no check runs.
    std::deque<DdeServer::Acknowledgement> deferredChecks_;
    int trayImage_ = 0; // number of the image the tray shows, for the trace
};

} // namespace pw
