// The agent's main window and its handlers; see PWiseF.h.
#include "PWiseF.h"

#include <optional>

#include "agent/Settings.h"
#include "core/Errors.h"
#include "core/ScopeExit.h"
#include "core/Text.h"
#include "win/ExceptionHook.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

AgentProcessState Shared;

namespace {

constexpr int kIconBase = 100; // resource number of Image1 is 101

constexpr int kPumpsBeforeCommand = 10;

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

std::string ModuleFileName() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n < MAX_PATH ? n : 0);
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The program file's name without its extension: the agent's DDE service name.
std::string ProgramName(const std::vector<std::string>& args) {
    const std::string path = args.empty() ? std::string() : args[0];
    std::string name = path.substr(DirectoryOf(path).size());
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

} // namespace

AgentEnvironment AgentEnvironment::System(std::vector<std::string> args) {
    AgentEnvironment env;
    if (args.empty())
        args.push_back(ModuleFileName());
    else
        args[0] = ModuleFileName();
    env.Args = std::move(args);
    env.Now = [] {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return now;
    };
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
    : Application(application), Environment(std::move(environment)), PopupMenu1(MakePopupMenu()),
      Timer1(CreateOwned<TTimer>(10000, false)), ExeTimer(CreateOwned<TTimer>(60000, false)),
      Halta(CreateOwned<TTimer>(200, false)), Timer2(CreateOwned<TTimer>(350, false)),
      shoot(CreateOwned<TProcess>()), POPbox(CreateOwned<TmsRemotePOP>()),
      DialUp(CreateOwned<TagRas>(Environment.RasLibraryPath)),
      AppException1(CreateOwned<TAppException>()), TrayIcon1(CreateOwned<TTrayIcon>()),
      Dde(std::make_unique<DdeInstance>()),
      BackgroundConversation(
          std::make_unique<DdeServer>(ProgramName(Environment.Args), "BackgroundConversation")),
      form_(PlaceHolderSpec(application.Handle()),
            [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                return HandleMessage(msg, wParam, lParam, result);
            }) {
    for (int i = 0; i < kImageCount; ++i)
        Images[i].reset(static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr),
                                                      MAKEINTRESOURCEA(kIconBase + 1 + i),
                                                      IMAGE_ICON, 32, 32, 0)));
    Timer1.OnTimer = [this](TObject&) { Timer1Timer(); };
    ExeTimer.OnTimer = [this](TObject&) { ExeTimerTimer(); };
    Halta.OnTimer = [this](TObject&) { HaltaTimer(); };
    Timer2.OnTimer = [this](TObject&) { Timer2Timer(); };

    shoot.Command = "CXsystem.exe";
    shoot.ShowWindow = TShowWindow::swShow;
    shoot.Wait = true;
    shoot.OnFinished = [this](TObject&, DWORD) { shootFinished(); };
    // A client that cannot be started ends the wait as if it had retrieved nothing.
    shoot.OnFailed = [](TObject&, DWORD error) {
        Trace("client could not be started: error " + std::to_string(error));
        Shared.ClientFinished = true;
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
    TrayIcon1.OnMenuCommand = [this](TObject&, UINT id) { OnMenuCommand(id); };
    TrayIcon1.SetIcon(Image(2));
    TrayIcon1.SetActive(true);

    ClientLink = std::make_unique<TClientLink>(*this, *Dde);
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
    case kRunDeferredChecksMessage:
        RunDeferredChecks();
        return true;
    default:
        return false;
    }
}

void TPlaceHolder::OnMenuCommand(UINT id) {
    switch (id) {
    case kStatus1:
        if (MenuEnabled(kStatus1))
            Status1Click();
        break;
    case kCheckNow1:
        if (MenuEnabled(kCheckNow1))
            CheckNow1Click();
        break;
    case kClose1:
        Close1Click();
        break;
    default:
        break;
    }
}

bool TPlaceHolder::MenuEnabled(MenuCommand item) const {
    return (GetMenuState(PopupMenu1.get(), item, MF_BYCOMMAND) & (MF_DISABLED | MF_GRAYED)) == 0;
}

void TPlaceHolder::EnableMenuItem(MenuCommand item, bool enabled) {
    ::EnableMenuItem(PopupMenu1.get(), item, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void TPlaceHolder::SetToolTip(const std::string& text) {
    if (text != TrayIcon1.ToolTip())
        Trace("tool tip: " + text);
    TrayIcon1.SetToolTip(text);
}

void TPlaceHolder::SetTrayIcon(HICON icon) {
    for (int i = 0; i < kImageCount; ++i)
        if (Images[i].get() == icon && i + 1 != trayImage_) {
            trayImage_ = i + 1;
            Trace("tray icon: Image" + std::to_string(trayImage_));
        }
    TrayIcon1.SetIcon(icon);
}

void TPlaceHolder::SetLabel3(const std::string& text) {
    if (Schedule != nullptr)
        Schedule->SetLabel3(text);
}

void TPlaceHolder::SetLabel8(const std::string& text) {
    if (Schedule != nullptr)
        Schedule->SetLabel8(text);
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
    Shared.ReportLines.clear();
    SetWindowPos(form_.Handle(), nullptr, -5000, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    Shared.StopRequested = false;
    Shared.CheckRunning = false;
    Timer1.SetEnabled(false);

    const auto& args = Environment.Args;
    ProgramDir = DirectoryOf(args.empty() ? std::string() : args[0]);
    CheckInterval = args.size() > 1 ? StrToIntDef(args[1], 0) : 0;
    BackgroundMode = args.size() > 2 && args[2] == "/BGR";
    Trace("start: interval " + std::to_string(CheckInterval) +
          (BackgroundMode ? ", background mode" : ", stand-alone mode"));

    if (BackgroundMode) {
        Application.SetIcon(Image(3));
        SetTrayIcon(Image(3));
    } else {
        Application.SetIcon(Image(2));
        SetTrayIcon(Application.Icon());
    }

    if (CheckInterval == 0) {
        EndProgram();
        return;
    }
    MinutesElapsed = 0;
    ArrivedCount = 0;
    ExeTimer.SetEnabled(true);
    LoadSettings();
    Timer1.SetEnabled(true);
    SetToolTip(kTipIdle);
}

void TPlaceHolder::FormClose() {
    Shared.ReportLines.clear();
    EndProgram();
}

void TPlaceHolder::HaltaTimer() {
    Halta.SetEnabled(false);
    FormClose();
}

void TPlaceHolder::TrayIcon1DblClick() {
    if (!MenuEnabled(kStatus1))
        return;
    Status1Click();
}

void TPlaceHolder::Status1Click() {
    if (Schedule == nullptr)
        return;
    EnableMenuItem(kCheckNow1, false);
    EnableMenuItem(kStatus1, false);
    Schedule->Show();
    Application.BringToFront();
    SetForegroundWindow(Schedule->Handle());
    WaitUntil([this] { return !Schedule->Visible(); });
    EnableMenuItem(kStatus1, true);
    EnableMenuItem(kCheckNow1, true);
    // Showing the window brought the task-bar button back: take it away again.
    NoTask1->SetHideForm(false);
    ProcessMessages();
    NoTask1->SetHideForm(true);
}

void TPlaceHolder::CheckNow1Click() {
    if (!Timer1.Enabled())
        return;
    MinutesElapsed = CheckInterval;
    ExeTimerTimer();
}

void TPlaceHolder::Close1Click() {
    if (!MenuEnabled(kStatus1)) {
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
    Shared.ClientFinished = true;
}

// ---------------------------------------------------------------------------------------------
// Settings

void TPlaceHolder::LoadSettings() {
    if (auto text = ReadFileText("vtMailDa.dat"))
        Accounts = ReadAccountsFile(*text);
    if (auto text = ReadFileText(ProgramDir + "setupRAS.RAS")) {
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
    }
    ScheduleType = Trim(ReadClientSetting("Auto Schedule", "Type")).substr(0, 1);
    if (BackgroundMode)
        ScheduleType = "1";
    for (int i = 0; i < kScheduleEntries; ++i)
        ScheduleTimes[i] =
            ReadClientSetting("Auto Schedule", "Time" + std::to_string(i + 1)).substr(0, 5);
    Trace("settings: " + std::to_string(Accounts.AccountCount) + " accounts, interval " +
          std::to_string(CheckInterval) + (ScheduleType == "2" ? ", schedule table" : ""));
}

// ---------------------------------------------------------------------------------------------
// The check cycle

void TPlaceHolder::RefreshCountdownLabel() {
    SetLabel3(CountdownText(CheckInterval - MinutesElapsed));
}

bool TPlaceHolder::AnyCheckRunning() const {
    return dueCheckRunning_ || MailboxesInUse();
}

bool TPlaceHolder::MailboxesInUse() const {
    return Shared.CheckRunning || clientCheckRunning_;
}

void TPlaceHolder::ExeTimerTimer() {
    // One check at a time: a tick that a "START" let through, or "Check Now!", while a check or
    // its retrieval runs is dropped.
    if (AnyCheckRunning())
        return;
    bool due = false;
    if (ScheduleType != "2") {
        ++MinutesElapsed;
        if (StatusVisible())
            GuardedCall([this] { RefreshCountdownLabel(); });
        due = MinutesElapsed >= CheckInterval;
    } else {
        const SYSTEMTIME now = Environment.Now();
        due = ScheduleDue(ScheduleTimes,
                          FormatHourMinute(now.wHour, now.wMinute, Environment.TimeSeparator()));
    }
    if (!due)
        return;

    Trace("check due");
    // A failure the check does not handle itself (the dial-up library failing while it looks
    // for a connection, a client that cannot be started) goes to the exception handler; the
    // check still ends as every check does, or the minute tick would stay off for good.
    try {
        RunDueCheck();
    } catch (const std::exception& e) {
        Trace(std::string("check failed: ") + e.what());
        HandleUncaughtException(e);
    }
}

void TPlaceHolder::RunDueCheck() {
    dueCheckRunning_ = true;
    ExeTimer.SetEnabled(false);
    const ScopeExit end([this] { EndDueCheck(); });
    SetToolTip(kTipChecking);
    if (!CheckAllMailboxes())
        return;
    if (BackgroundMode) {
        SetToolTip(kTipAsking);
        ClientLink->AskClientToRetrieve(Shared.PendingAccounts);
        SetToolTip(kTipIdle);
    } else {
        RunStandAloneRetrieval();
    }
}

// The end of a due check and of the retrieval it started, however they were left: nothing in
// here may throw.
void TPlaceHolder::EndDueCheck() {
    Shared.CheckRunning = false;
    EndBusyAnimation();
    try {
        HangUpDialUp();
    } catch (const std::exception& e) {
        Trace(std::string("hang up failed: ") + e.what());
    }
    SetToolTip(ArrivedCount > 0 ? kTipRetrieved : kTipIdle);
    MinutesElapsed = 0;
    SetLabel3(CountdownText(CheckInterval));
    // A "CHECK" that came during this check keeps the minute tick off until "START".
    const bool held = std::exchange(checkCommandDuringDueCheck_, false) && Shared.StopRequested;
    ExeTimer.SetEnabled(!held);
    EnableMenuItem(kCheckNow1, true);
    EnableMenuItem(kStatus1, true);
    dueCheckRunning_ = false;
    if (!deferredChecks_.empty())
        PostMessageA(form_.Handle(), kRunDeferredChecksMessage, 0, 0);
}

void TPlaceHolder::EndBusyAnimation() {
    if (!Timer2.Enabled())
        return;
    Timer2.SetEnabled(false);
    ShowRestingIcon();
}

void TPlaceHolder::RunStandAloneRetrieval() {
    SetToolTip(kTipExecuting);
    shoot.ShowWindow = TShowWindow::swShowMinimized;
    shoot.SetDirectory(ProgramDir);
    shoot.Command = "CXsystem.exe /PWGM";
    shoot.Wait = true;
    Shared.ClientFinished = false;
    Trace("start client: CXsystem.exe /PWGM");
    shoot.Execute();
    EnableMenuItem(kStatus1, false);
    EnableMenuItem(kCheckNow1, false);
    WaitUntil([] { return Shared.ClientFinished.load(); });
    HangUpDialUp();
    const auto flag = ReadFileText(ProgramDir + "PWise.flg");
    ArrivedCount = flag ? FlagFileCount(*flag) : 0;
    Trace("client ended: " + std::to_string(ArrivedCount) + " messages retrieved");
    if (ArrivedCount > 0) {
        Application.SetIcon(Image(1));
        SetToolTip(kTipRetrieved);
    }
    GuardedCall([this] {
        if (StatusVisible() && ScheduleType != "2")
            RefreshCountdownLabel();
        if (ArrivedCount > 0)
            SetLabel8(ArrivedText(ArrivedCount));
    });
}

void TPlaceHolder::PrepareMailbox(const AccountRecord& record) {
    CloseMailboxQuietly();
    POPbox.Password = record.AccountPassword.str();
    POPbox.Server = record.AccountServer.str();
    POPbox.UserName = record.AccountUser.str();
    POPbox.SetTimeOut(Environment.MailboxTimeOut);
    POPbox.NewMessageSize = 0;
    const std::string checking = CheckingText(record.AccountAddress.str());
    SetLabel3(checking);
    SetToolTip(checking);
}

void TPlaceHolder::CloseMailboxQuietly() {
    try {
        POPbox.CloseMailbox();
    } catch (const std::exception&) {
    }
}

bool TPlaceHolder::CheckAllMailboxes() {
    Shared.CheckRunning = true;
    Shared.PendingAccounts.clear();
    bool result = false;
    StartBusyAnimation();
    if (StatusVisible())
        GuardedCall([this] { Schedule->Close(); });
    EnableMenuItem(kStatus1, false);
    EnableMenuItem(kCheckNow1, false);

    if (!DialForCheck()) {
        Shared.CheckRunning = false;
        return false;
    }
    ProcessMessages();
    if (BackgroundMode)
        ClientLink->SendToClient("CHECKSTART");

    for (int i = 0; i < Accounts.AccountCount; ++i) {
        ProcessMessages();
        ProcessMessages();
        if (Shared.StopRequested)
            break;
        const AccountRecord& record = Accounts.Records[i];
        const std::string address = record.AccountAddress.str();
        if (address.find('@') == std::string::npos)
            continue;
        try {
            PrepareMailbox(record);
            ProcessMessages();
            POPbox.OpenMailbox();
            if (POPbox.MessageCount > 0) {
                ProcessMessages();
                POPbox.NewMessageCount = 0;
                POPbox.CountNewMessages();
                CloseMailboxQuietly();
                Trace("mailbox " + address + ": " + std::to_string(POPbox.NewMessageCount) +
                      " new");
                if (POPbox.NewMessageCount > 0) {
                    if (!BackgroundMode) {
                        SetLabel3(NewMailWaitingText(address));
                        Fire(Environment.AsteriskSound);
                        Shared.CheckRunning = false;
                        FinishCheck();
                        return true;
                    }
                    Shared.PendingAccounts += "^" + address;
                }
            }
        } catch (const std::exception& e) {
            Trace("mailbox " + address + " failed: " + e.what());
            CloseMailboxQuietly();
        }
    }
    CloseMailboxQuietly();

    if (Shared.StopRequested) {
        Shared.CheckRunning = false;
        FinishCheck();
        return false;
    }
    EnableMenuItem(kStatus1, true);
    EnableMenuItem(kCheckNow1, true);
    if (!Shared.PendingAccounts.empty())
        Shared.PendingAccounts.erase(0, 1);
    if (BackgroundMode)
        result = !Shared.PendingAccounts.empty();
    FinishCheck();
    Shared.CheckRunning = false;
    if (BackgroundMode)
        ClientLink->SendToClient("CHECKSTOP");
    return result;
}

void TPlaceHolder::CheckForClient() {
    Shared.PendingAccounts.clear();
    Shared.ReportLines.clear();
    StartBusyAnimation();
    try {
        if (!DialForCheck())
            return;
        ProcessMessages();
        for (int i = 0; i < Accounts.AccountCount; ++i) {
            ProcessMessages();
            ProcessMessages();
            const AccountRecord& record = Accounts.Records[i];
            const std::string address = record.AccountAddress.str();
            if (address.find('@') == std::string::npos)
                continue;
            PrepareMailbox(record);
            ClientLink->SendToClient("CHECKNOTE:" + CheckingText(address));
            ProcessMessages();
            try {
                POPbox.OpenMailbox();
                if (POPbox.MessageCount > 0) {
                    POPbox.NewMessageCount = 0;
                    POPbox.CountNewMessages();
                    CloseMailboxQuietly();
                    if (POPbox.NewMessageCount > 0) {
                        const std::string entry =
                            ReportEntry(record.AccountUser.str(), POPbox.Server, POPbox.UserName,
                                        address, POPbox.Password, POPbox.NewMessageCount);
                        if (!Shared.PendingAccounts.empty())
                            Shared.PendingAccounts += "|";
                        Shared.PendingAccounts += entry;
                        Shared.ReportLines.push_back(entry);
                        Trace("report: " + address + " has " +
                              std::to_string(POPbox.NewMessageCount) + " new");
                    }
                }
            } catch (const std::exception& e) {
                Trace("mailbox " + address + " failed: " + e.what());
                CloseMailboxQuietly();
            }
        }
        CloseMailboxQuietly();
    } catch (const std::exception& e) {
        Trace(std::string("client check failed: ") + e.what());
    }
    FinishCheck();
    ClientLink->SendToClient("CHECK:" + Trim(Shared.PendingAccounts));
}

bool TPlaceHolder::DialForCheck() {
    if (ConnectDialUp())
        return true;
    HangUpDialUp();
    if (ConnectDialUp())
        return true;
    EnableMenuItem(kStatus1, true);
    EnableMenuItem(kCheckNow1, true);
    FinishCheck();
    return false;
}

bool TPlaceHolder::ConnectDialUp() {
    if (Trim(DialEntry).empty() || Trim(DialUserName).empty() || Trim(DialPassword).empty())
        NoDial = true;
    if (NoDial)
        return true;
    if (DialUp.IsConnected())
        return true;
    WaitMilliseconds(500);
    DialUp.SetService(DialEntry);
    DialUp.UserName = DialUserName;
    DialUp.Password = DialPassword;
    bool succeeded = false;
    for (int attempt = 1; attempt <= 5; ++attempt) {
        try {
            Trace("dial " + DialEntry + ", attempt " + std::to_string(attempt));
            DialUp.Connect();
        } catch (const std::exception& e) {
            Trace(std::string("dial failed: ") + e.what());
            DialUp.Failed = true;
        }
        succeeded = !DialUp.Failed;
        if (!succeeded) {
            try {
                DialUp.Cancel();
            } catch (const std::exception&) {
            }
            WaitMilliseconds(1000);
        }
        if (succeeded || DialUp.Cancelled)
            break;
    }
    if (succeeded && DialUp.Cancelled)
        return false;
    return succeeded;
}

void TPlaceHolder::HangUpDialUp() {
    if (!NoDial && DialUp.Dialled) {
        Trace("hang up");
        DialUp.HangUp();
    }
}

void TPlaceHolder::StartBusyAnimation() {
    Shared.AnimationFrame = 0;
    Timer2.SetEnabled(true);
}

void TPlaceHolder::Timer2Timer() {
    SetTrayIcon(Image(5 + Shared.AnimationFrame));
    Shared.AnimationFrame += 1;
    if (Shared.AnimationFrame > 8)
        Shared.AnimationFrame = 0;
}

void TPlaceHolder::FinishCheck() {
    Timer2.SetEnabled(false);
    Timer1Timer();
}

void TPlaceHolder::ShowRestingIcon() {
    if (BackgroundMode)
        SetTrayIcon(ArrivedCount <= 0 ? Image(4) : Image(3));
    else
        SetTrayIcon(ArrivedCount <= 0 ? Application.Icon() : Image(1));
}

void TPlaceHolder::Timer1Timer() {
    ShowRestingIcon();
    if (!BackgroundMode && !FileExists(ProgramDir + "PWise.flg")) {
        Trace("flag file gone");
        FormClose();
    }
}

// ---------------------------------------------------------------------------------------------
// Commands from the client

void TPlaceHolder::BackgroundCallsPokeData(const std::string& text,
                                           DdeServer::Acknowledgement ack) {
    for (int i = 0; i < kPumpsBeforeCommand; ++i)
        ProcessMessages();
    const ClientCommand command = ParseClientCommand(text);
    if (command.kind == ClientCommand::Done) {
        try {
            ArrivedCount = StrToInt(command.argument);
        } catch (const EConvertError& e) {
            HandleUncaughtException(e);
            return;
        }
        Shared.ClientDone = true;
        return;
    }
    if (!BackgroundMode)
        return;
    switch (command.kind) {
    case ClientCommand::Close:
        ExeTimer.SetEnabled(false);
        Shared.StopRequested = true;
        // Acknowledged before the end, which leaves no moment to do it after.
        ack.Send();
        EndProgram();
        break;
    case ClientCommand::NewTime:
        if (const auto minutes = TryStrToInt(command.argument))
            CheckInterval = *minutes;
        break;
    case ClientCommand::Stop:
        ExeTimer.SetEnabled(false);
        Shared.StopRequested = true;
        SetToolTip(StalledTip(Environment.LongTime()));
        break;
    case ClientCommand::Start:
        ExeTimer.SetEnabled(true);
        Shared.StopRequested = false;
        SetToolTip(ContinuedTip(Environment.LongTime()));
        break;
    case ClientCommand::Check:
        ExeTimer.SetEnabled(false);
        Shared.StopRequested = true;
        checkCommandDuringDueCheck_ = dueCheckRunning_;
        // A poke that arrives from inside a running check's message processing waits: the
        // reporting check runs from the queue once that check has returned. The waits for the
        // client (its "DONE:", its program) leave POPbox idle, so the reporting check runs there
        // at once: a client that wants the "CHECK:" reply before it answers "DONE:" is served.
        if (MailboxesInUse()) {
            Trace("client check waits for the running check");
            deferredChecks_.push_back(std::move(ack));
            return;
        }
        RunClientCheck(std::move(ack));
        break;
    default:
        break;
    }
}

void TPlaceHolder::RunClientCheck(DdeServer::Acknowledgement ack) {
    clientCheckRunning_ = true;
    // However the check is left, the command is acknowledged (by the ack's own end) after it.
    const ScopeExit end([this] {
        clientCheckRunning_ = false;
        EndBusyAnimation();
        if (!deferredChecks_.empty())
            PostMessageA(form_.Handle(), kRunDeferredChecksMessage, 0, 0);
    });
    try {
        CheckForClient();
    } catch (const std::exception& e) {
        Trace(std::string("client check failed: ") + e.what());
        HandleUncaughtException(e);
    }
    ack.Send();
}

void TPlaceHolder::RunDeferredChecks() {
    if (ended_ || deferredChecks_.empty() || MailboxesInUse())
        return;
    DdeServer::Acknowledgement ack = std::move(deferredChecks_.front());
    deferredChecks_.pop_front();
    RunClientCheck(std::move(ack));
}

void TPlaceHolder::ClientinnChange() {
    ProcessMessages();
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
