// The agent's main window: its components, start-up, the tray menu, the settings and how the
// program ends; see PWiseF.h. The due check is in PWiseFCheck.cpp, the walk over the mailboxes
// in PWiseFWalk.cpp, the client's commands in PWiseFClient.cpp, what the tray shows in
// PWiseFTray.cpp.
#include "PWiseF.h"

#include <optional>

#include "agent/Settings.h"
#include "core/Errors.h"
#include "core/Text.h"
#include "win/ExceptionHook.h"
#include "win/Clock.h"
#include "win/MessagePump.h"
#include "win/ProgramFile.h"
#include "win/Trace.h"

namespace pw {

namespace {

constexpr int kIconBase = 100; // resource number of Image1 is 101
// After a wake the network is given a moment before the catch-up check; a server found
// unreachable just after it is tried again a minute later.
constexpr UINT kCatchUpDelayMs = 20 * 1000;
constexpr UINT kRetryDelayMs = 60 * 1000;

WindowSpec PlaceHolderSpec(HWND owner) {
    WindowSpec layout;
    layout.ClassName = "TPlaceHolder";
    layout.Caption = "PlaceHolder";
    layout.Style = WS_OVERLAPPEDWINDOW;
    layout.ExStyle = 0;
    layout.Left = -5000;
    layout.Top = 0;
    layout.Width = 165;
    layout.Height = 248;
    layout.Owner = owner;
    return layout;
}

UniqueMenu MakePopupMenu() {
    UniqueMenu menu(CreatePopupMenu());
    AppendMenuA(menu.get(), MF_STRING, kStatus1, "&Status");
    AppendMenuA(menu.get(), MF_STRING, kCheckNow1, "&Check Now!");
    AppendMenuA(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu.get(), MF_STRING, kClose1, "&Close");
    return menu;
}

} // namespace

AgentEnvironment AgentEnvironment::System(std::vector<std::string> args) {
    AgentEnvironment env;
    if (args.empty())
        args.push_back(ProgramFilePath());
    else
        args[0] = ProgramFilePath();
    env.Args = std::move(args);
    env.Now = [] {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return now;
    };
    env.Monotonic = [] { return MonotonicMilliseconds(); };
    env.TimeSeparator = [] {
        char separator[8] = {};
        if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, sizeof separator) <= 0)
            return std::string(":");
        return std::string(separator);
    };
    env.LongTime = [] {
        char text[64] = {};
        GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text, sizeof text);
        return std::string(text);
    };
    env.AsteriskSound = [] { MessageBeep(MB_ICONASTERISK); };
    env.RunProgram = [](const std::string& commandLine, UINT show) {
        Trace("start program: " + commandLine);
        WinExec(commandLine.c_str(), show);
    };
    env.EndProgram = [] { ExitProcess(0); };
    return env;
}

TPlaceHolder::TPlaceHolder(TApplication& application, AgentEnvironment environment)
    : Environment(std::move(environment)), Application(application), PopupMenu1(MakePopupMenu()),
      Timer1(CreateOwned<TTimer>(10000, false)), ExeTimer(CreateOwned<TTimer>(60000, false)),
      Halta(CreateOwned<TTimer>(200, false)), Timer2(CreateOwned<TTimer>(350, false)),
      CatchUpTimer(CreateOwned<TTimer>(kCatchUpDelayMs, false)),
      RetryTimer(CreateOwned<TTimer>(kRetryDelayMs, false)), shoot(CreateOwned<TProcess>()),
      POPbox(CreateOwned<TmsRemotePOP>()), DialUp(CreateOwned<TagRas>(Environment.RasLibraryPath)),
      AppException1(CreateOwned<TAppException>()), TrayIcon1(CreateOwned<TTrayIcon>()),
      Dde(std::make_unique<DdeInstance>()),
      BackgroundConversation(std::make_unique<DdeServer>(
          ProgramName(Environment.Args.empty() ? std::string() : Environment.Args[0]),
          "BackgroundConversation")),
      form_(PlaceHolderSpec(application.Handle()),
            [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                return HandleMessage(msg, wParam, lParam, result);
            }) {
    for (int i = 0; i < kImageCount; ++i) {
        const auto resource = static_cast<WORD>(kIconBase + 1 + i);
        Images[i].reset(static_cast<HICON>(LoadImageA(
            GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource), IMAGE_ICON, 32, 32, 0)));
        // Every picture is also drawn in the tray's sizes: the tray loads the one it shows.
        TrayIcon1.SetIconResource(Images[i].get(), GetModuleHandleA(nullptr), resource);
    }
    Timer1.OnTimer = [this](TObject&) { Timer1Timer(); };
    ExeTimer.OnTimer = [this](TObject&) { ExeTimerTimer(); };
    Halta.OnTimer = [this](TObject&) { HaltaTimer(); };
    Timer2.OnTimer = [this](TObject&) { Timer2Timer(); };
    CatchUpTimer.OnTimer = [this](TObject&) { CatchUpTimerTimer(); };
    RetryTimer.OnTimer = [this](TObject&) { RetryTimerTimer(); };

    shoot.Command = "CXsystem.exe";
    shoot.ShowWindow = TShowWindow::swShow;
    shoot.Wait = true;
    shoot.OnFinished = [this](TObject&, DWORD) { shootFinished(); };
    // A client that cannot be started ends the wait as if it had retrieved nothing.
    shoot.OnFailed = [this](TObject&, DWORD error) {
        Trace("client could not be started: error " + std::to_string(error));
        cycle_.SetClientProgramEnded(true);
    };

    POPbox.SetWinsockLoaded(true);
    POPbox.DefaultPort = 110;
    POPbox.SetTimeOut(120);
    POPbox.SetMessageDirectory(".\\");

    DialUp.ForceService = false;
    DialUp.RemovePassword = false;

    AppException1.ShowExcep = false;

    NoTask1 = &CreateOwned<TNoTask>(Application.Title());
    NoTask1->Loaded();

    // Every way the application window closes ends the program as closing the main window does.
    Application.OnClose = [this] { FormClose(); };

    TrayIcon1.OwnerWindow = Application.Handle();
    TrayIcon1.PopupMenu = PopupMenu1.get();
    TrayIcon1.OnDblClick = [this](TObject&) { TrayIcon1DblClick(); };
    // A click on a balloon opens the status window, as a double click on the icon does.
    TrayIcon1.OnBalloonClick = [this](TObject&) { TrayIcon1DblClick(); };
    TrayIcon1.OnMenuCommand = [this](TObject&, UINT id) { OnMenuCommand(id); };
    TrayIcon1.SetIcon(Image(kImageStandAlone));
    TrayIcon1.SetActive(true);

    ClientLink = std::make_unique<TClientLink>(static_cast<IClientLinkHost&>(*this), *Dde);
    BackgroundConversation->OnPoke = [this](DdeServer&, const std::string& item,
                                            const std::string& text,
                                            DdeServer::Acknowledgement ack) {
        if (!SameTextAscii(item, BackgroundCalls.Name)) {
            Trace("dde in, item " + DdeLogText(item) + " ignored: " + DdeLogText(text));
            return;
        }
        Trace("dde in: " + DdeLogText(text));
        BackgroundCalls.Text = text;
        BackgroundCallsPokeData(text, std::move(ack));
    };
    BackgroundConversation->OnRequest = [this](DdeServer&, const std::string& item) {
        return SameTextAscii(item, BackgroundCalls.Name)
                   ? std::optional<std::string>(BackgroundCalls.Text)
                   : std::nullopt;
    };
    BackgroundConversation->SetOnAcknowledged(
        [](const std::string& text) { Trace("dde ack: " + DdeLogText(text)); });

    FormCreate();
}

TPlaceHolder::~TPlaceHolder() {
    Application.OnClose = nullptr;
    SetApplicationExceptionHandler(nullptr);
    // The components hook and use this window: free them while it still exists.
    DestroyComponents();
}

bool TPlaceHolder::HandleMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
    result = 0;
    switch (msg) {
    case WM_CLOSE:
        FormClose();
        return true;
    case WM_QUERYENDSESSION:
        result = TRUE;
        return true;
    case WM_ENDSESSION:
        if (wParam)
            FormClose();
        return true;
    case kClientinnChangeMessage:
        ClientinnChange();
        return true;
    case kRunQueuedChecksMessage:
        RunQueuedChecks();
        return true;
    case WM_POWERBROADCAST:
        PowerBroadcast(wParam);
        result = TRUE;
        return true;
    case WM_TIMECHANGE:
        TimeChange();
        return true;
    default:
        return false;
    }
}

void TPlaceHolder::OnMenuCommand(UINT id) {
    switch (id) {
    case kStatus1:
        if (MenuItemsEnabled())
            Status1Click();
        break;
    case kCheckNow1:
        if (MenuItemsEnabled())
            CheckNow1Click();
        break;
    case kClose1:
        Close1Click();
        break;
    default:
        break;
    }
}

void TPlaceHolder::RunProgram(const std::string& commandLine, UINT show) {
    Fire(Environment.RunProgram, commandLine, show);
}

void TPlaceHolder::PostClientItemChange() {
    PostMessageA(form_.Handle(), kClientinnChangeMessage, 0, 0);
}

void TPlaceHolder::EndProgram() {
    if (ended_)
        return;
    ended_ = true;
    Trace("agent ends");
    TrayIcon1.SetActive(false);
    Fire(Environment.EndProgram);
}

// ---------------------------------------------------------------------------------------------
// Start-up and lifetime

void TPlaceHolder::FormCreate() {
    SetApplicationExceptionHandler(
        [this](const std::exception& e) { AppException1.HandleException(*this, e); });
    // Nothing of an earlier start survives: every flag, text and frame as at program start.
    cycle_.Reset();
    AnimationFrame = 0;
    started_ = false;
    SetWindowPos(form_.Handle(), nullptr, -5000, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    Timer1.SetEnabled(false);

    const auto& args = Environment.Args;
    ProgramDir = DirectoryOf(args.empty() ? std::string() : args[0]);
    CheckInterval = args.size() > 1 ? StrToIntDef(args[1], 0) : 0;
    BackgroundMode = args.size() > 2 && args[2] == "/BGR";
    Trace("start: interval " + std::to_string(CheckInterval) +
          (BackgroundMode ? ", background mode" : ", stand-alone mode"));

    if (BackgroundMode) {
        Application.SetIcon(Image(kImageBackground));
        SetTrayIcon(Image(kImageBackground));
    } else {
        Application.SetIcon(Image(kImageStandAlone));
        SetTrayIcon(Application.Icon());
    }

    if (CheckInterval == 0) {
        EndProgram();
        return;
    }
    MinutesElapsed = 0;
    ArrivedCount = 0;
    cycle_.Wake().CheckEnded(Environment.Monotonic());
    started_ = true;
    ShowCheckState();
    LoadSettings();
    Timer1.SetEnabled(true);
    SetToolTip(kTipIdle);
}

void TPlaceHolder::FormClose() {
    EndProgram();
}

void TPlaceHolder::HaltaTimer() {
    Halta.SetEnabled(false);
    FormClose();
}

void TPlaceHolder::TrayIcon1DblClick() {
    if (!MenuItemsEnabled())
        return;
    Status1Click();
}

void TPlaceHolder::Status1Click() {
    if (Schedule == nullptr)
        return;
    statusWindowOpen_ = true;
    ShowCheckState();
    Schedule->Show();
    Application.BringToFront();
    SetForegroundWindow(Schedule->Handle());
    WaitUntil([this] { return !Schedule->Visible(); });
    statusWindowOpen_ = false;
    ShowCheckState();
    // Showing the window brought the task-bar button back: take it away again.
    NoTask1->SetHideForm(false);
    ProcessMessages();
    NoTask1->SetHideForm(true);
}

void TPlaceHolder::CheckNow1Click() {
    if (!Timer1.Enabled())
        return;
    MinutesElapsed = CheckInterval;
    MinuteTick(false);
}

void TPlaceHolder::Close1Click() {
    if (!MenuItemsEnabled()) {
        GuardedCall([this] {
            if (Schedule != nullptr)
                Schedule->Close();
            ProcessMessages();
        });
    }
    if (!BackgroundMode)
        Fire(Environment.RunProgram, std::string("CXsystem.exe"), UINT{SW_SHOWNORMAL});
    EndProgram();
}

void TPlaceHolder::shootFinished() {
    cycle_.SetClientProgramEnded(true);
}

// ---------------------------------------------------------------------------------------------
// Settings

void TPlaceHolder::LoadSettings() {
    DWORD error = ERROR_SUCCESS;
    if (auto text = ReadFileText("vtMailDa.dat", &error, PauseUnpumped))
        Accounts = ReadAccountsFile(*text);
    else
        TraceUnreadable("vtMailDa.dat", error);
    if (auto text = ReadFileText(ProgramDir + "setupRAS.RAS", &error, PauseUnpumped)) {
        const DialupSettings dial = ReadDialupFile(*text, BackgroundMode);
        DialEntry = dial.DialEntry;
        DialUserName = dial.DialUserName;
        DialPassword = dial.DialPassword;
        if (dial.CheckInterval)
            CheckInterval = *dial.CheckInterval;
        PermanentConnection = dial.PermanentConnection;
        NoDial = dial.NoDial;
        InterpretScripts = dial.InterpretScripts;
        PrintIncoming = dial.PrintIncoming;
    } else {
        TraceUnreadable("setupRAS.RAS", error);
    }
    if (auto text = ReadFileText(ProgramDir + "pwagent.ini", &error, PauseUnpumped)) {
        AgentIni = ParseAgentIni(*text);
        for (const std::string& warning : AgentIni.Warnings)
            Trace(warning);
        if (AgentIni.UnreadableLine)
            ShowAlert(UnreadableSettingsText(*AgentIni.UnreadableLine));
    } else if (!FileMissing(error)) {
        // The file is there and says how servers are to be reached: not knowing what it says
        // must not weaken the agent. No server gets a password in clear text.
        TraceUnreadable("pwagent.ini", error);
        AgentIni.UnreadableDefaults = true;
        ShowAlert(UnreadableSettingsText(std::nullopt));
    }
    // A settings file that cannot be read gives empty values, as the profile call would.
    const bool settingsReadable = ClientSettingsReadable(error, PauseUnpumped);
    if (!settingsReadable)
        TraceUnreadable("Corvex.INI", error);
    const auto setting = [settingsReadable](const std::string& key) {
        return settingsReadable ? ReadClientSetting("Auto Schedule", key) : std::string();
    };
    ScheduleType = Trim(setting("Type")).substr(0, 1);
    if (BackgroundMode)
        ScheduleType = "1";
    for (size_t i = 0; i < kScheduleEntries; ++i)
        ScheduleTimes[i] = setting("Time" + std::to_string(i + 1)).substr(0, 5);
    Trace("settings: " + std::to_string(Accounts.AccountCount) + " accounts, interval " +
          std::to_string(CheckInterval) +
          (IsScheduleTable(ScheduleType) ? ", schedule table" : ""));
}

void TPlaceHolder::FillStatusWindow(TpwSchedule& window) {
    TpwScheduleState state;
    state.ScheduleType = ScheduleType;
    state.ScheduleTimes = ScheduleTimes;
    state.CheckInterval = CheckInterval;
    state.MinutesElapsed = MinutesElapsed;
    state.ArrivedCount = ArrivedCount;
    state.InterpretScripts = InterpretScripts;
    state.PermanentConnection = PermanentConnection;
    state.PrintIncoming = PrintIncoming;
    const SYSTEMTIME now = Environment.Now();
    state.Now = FormatHourMinute(now.wHour, now.wMinute, Environment.TimeSeparator());
    state.Accounts = Accounts;
    window.FormShow(state);
}

} // namespace pw
