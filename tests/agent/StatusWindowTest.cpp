// The status window and the tray pictures, driven through the agent's real handlers with an
// injected clock; the window's controls are read back as the user would see them, and the tray
// pictures as the shell receives them.
#include "agent/PWiseF.h"
#include "core/Password.h"
#include "pop3script/ScriptedPop3Server.h"
#include "support/AgentTesting.h"
#include "styling/Gdi.h"
#include "win/MessagePump.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <vector>

namespace pw {
namespace {

using test::AccountLine;
using test::WriteTextFile;

std::string Text(HWND control) {
    char text[512] = {};
    GetWindowTextA(control, text, sizeof text);
    return text;
}

std::vector<std::string> Items(HWND control, UINT countMessage, UINT textMessage) {
    std::vector<std::string> items;
    const LRESULT count = SendMessageA(control, countMessage, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[512] = {};
        SendMessageA(control, textMessage, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

// The picture of an icon in its size, drawn on a fixed background: CopyIcon keeps the picture,
// not the handle, so pictures are what can be compared.
std::vector<uint32_t> IconPixels(HICON icon, int size) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const UniqueGdiObject bitmap(
        CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    const UniqueMemoryDC dc(CreateCompatibleDC(nullptr));
    const SelectedObject selected(dc.get(), bitmap.get());
    std::fill_n(static_cast<uint32_t*>(bits), size * size, 0x00123456u);
    DrawIconEx(dc.get(), 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    GdiFlush();
    return std::vector<uint32_t>(static_cast<uint32_t*>(bits),
                                 static_cast<uint32_t*>(bits) + size * size);
}

class StatusWindowTest : public test::AgentHarness {
protected:
    StatusWindowTest() : AgentHarness("pw-status-") {}

    void TearDown() override {
        agent_.reset();
        window_.reset();
        AgentHarness::TearDown();
    }

    TPlaceHolder& Start(std::vector<std::string> args) {
        AgentHarness::Start(std::move(args));
        window_ = std::make_unique<TpwSchedule>(app_->Handle());
        agent_->SetStatusWindow(window_.get());
        window_->OnShow = [this](TpwSchedule& w) { agent_->FillStatusWindow(w); };
        // The shell's view of the tray: the number of the image each icon it got shows.
        agent_->TrayIcon1.ShellNotifyIcon = [this](DWORD message, TNotifyIconData* data) {
            if (message == NIM_DELETE || message == NIM_SETVERSION || !agent_)
                return TRUE;
            const int shown = ImageNumber(data->hIcon);
            if (shownImages_.empty() || shownImages_.back() != shown)
                shownImages_.push_back(shown);
            return TRUE;
        };
        ProcessMessages(); // the icon's first refresh
        shownImages_.clear();
        return *agent_;
    }

    // The number of the image whose picture drawn for the tray's size the icon shows: the
    // tray gets that picture, not a copy of the window's 32-pixel one.
    int ImageNumber(HICON icon) const {
        const int size = agent_->TrayIcon1.IconSize();
        const auto pixels = IconPixels(icon, size);
        for (int n = 1; n <= TPlaceHolder::kImageCount; ++n) {
            const UniqueIcon sized(static_cast<HICON>(
                LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(100 + n), IMAGE_ICON, size,
                           size, 0))); // Image1 is resource 101
            if (IconPixels(sized.get(), size) == pixels)
                return n;
        }
        return 0;
    }

    HWND Control(TpwSchedule::ControlId id) const { return window_->Control(id); }
    std::vector<std::string> Mailboxes() const {
        return Items(Control(TpwSchedule::idListBox1), LB_GETCOUNT, LB_GETTEXT);
    }
    std::vector<std::string> ScheduleList() const {
        return Items(Control(TpwSchedule::idComboBox1), CB_GETCOUNT, CB_GETLBTEXT);
    }
    bool Checked(TpwSchedule::ControlId id) const {
        return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    bool ControlVisible(TpwSchedule::ControlId id) const {
        return IsWindowVisible(Control(id)) != FALSE;
    }

    std::vector<int> shownImages_;
    std::unique_ptr<TpwSchedule> window_;
};

TEST_F(StatusWindowTest, OpensWithItsCaptionSizeAndStoredTexts) {
    Start({"10"});
    window_->Show();
    EXPECT_TRUE(window_->Visible());
    char caption[64] = {};
    GetWindowTextA(window_->Handle(), caption, sizeof caption);
    EXPECT_STREQ(caption, "Mail Agent Schedule");
    EXPECT_EQ(FindWindowA(nullptr, "Mail Agent Schedule"), window_->Handle());
    RECT client{};
    GetClientRect(window_->Handle(), &client);
    EXPECT_EQ(client.right, 453);
    EXPECT_EQ(client.bottom, 178);
    EXPECT_EQ(GetWindowLongA(window_->Handle(), GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL), 0);

    for (int id = TpwSchedule::idLabel1; id <= TpwSchedule::idPanel1; ++id)
        EXPECT_EQ(Control(static_cast<TpwSchedule::ControlId>(id)),
                  GetDlgItem(window_->Handle(), id))
            << id;
    EXPECT_EQ(Control(static_cast<TpwSchedule::ControlId>(TpwSchedule::idPanel1 + 1)), nullptr);
    EXPECT_EQ(Text(Control(TpwSchedule::idLabel1)), "Watched Mailboxes:");
    EXPECT_EQ(Text(Control(TpwSchedule::idLabel2)), "Countdown:");
    EXPECT_EQ(Text(Control(TpwSchedule::idLabel8)), "[ No new messages currently arrived... ]");
    EXPECT_EQ(window_->Label3(), "10 minutes till next checking event...");
    EXPECT_FALSE(ControlVisible(TpwSchedule::idComboBox1));
    for (auto box : {TpwSchedule::idCheckBox1, TpwSchedule::idCheckBox2, TpwSchedule::idCheckBox3})
        EXPECT_FALSE(IsWindowEnabled(Control(box))) << box;

    // Places that the eye checks against the design: list, Label3's fixed box, the Close panel.
    auto place = [&](TpwSchedule::ControlId id) {
        RECT r{};
        GetWindowRect(Control(id), &r);
        MapWindowPoints(nullptr, window_->Handle(), reinterpret_cast<POINT*>(&r), 2);
        return std::vector<LONG>{r.left, r.top, r.right - r.left, r.bottom - r.top};
    };
    EXPECT_EQ(place(TpwSchedule::idListBox1), (std::vector<LONG>{16, 38, 161, 113}));
    EXPECT_EQ(place(TpwSchedule::idLabel3), (std::vector<LONG>{190, 121, 259, 30}));
    EXPECT_EQ(place(TpwSchedule::idPanel1), (std::vector<LONG>{352, 153, 96, 21}));
}

TEST_F(StatusWindowTest, ScheduleTableShowsTheFirstEntryNotEarlierThanNow) {
    // The profile reader trims values; quotes keep an entry's leading blank.
    WriteTextFile(dir_ + "Corvex.INI", "[Auto Schedule]\r\nType=2\r\nTime1=06:00\r\n"
                                       "Time2=\" 7:00\"\r\nTime3=12:00\r\nTime4=x9:00\r\n"
                                       "Time5=18:00\r\nTime6=  \r\n");
    Start({"10"});
    now_.wHour = 13;
    now_.wMinute = 10;
    window_->Show();
    EXPECT_EQ(ScheduleList(), (std::vector<std::string>{"06:00", "12:00", "18:00"}));
    EXPECT_EQ(Text(Control(TpwSchedule::idComboBox1)), "18:00");
    EXPECT_TRUE(ControlVisible(TpwSchedule::idComboBox1));
    EXPECT_EQ(Text(Control(TpwSchedule::idLabel2)), "Schedule table");
    EXPECT_EQ(window_->Label3(), "");

    window_->Close();
    now_.wHour = 19;
    now_.wMinute = 0;
    window_->Show();
    EXPECT_EQ(ScheduleList(), (std::vector<std::string>{"06:00", "12:00", "18:00"}));
    EXPECT_EQ(Text(Control(TpwSchedule::idComboBox1)), "");

    now_.wHour = 18; // an entry equal to now is not earlier than now
    window_->Show();
    EXPECT_EQ(Text(Control(TpwSchedule::idComboBox1)), "18:00");
}

TEST_F(StatusWindowTest, CountdownLineFollowsTheMinuteTickWhileOpen) {
    TPlaceHolder& agent = Start({"10"});
    window_->Show();
    agent.ExeTimerTimer();
    agent.ExeTimerTimer();
    agent.ExeTimerTimer();
    EXPECT_EQ(window_->Label3(), "7 minutes till next checking event...");
    window_->Close();
    window_->Show();
    EXPECT_EQ(window_->Label3(), "7 minutes till next checking event...");
    EXPECT_EQ(Text(Control(TpwSchedule::idLabel2)), "Countdown:");
}

TEST_F(StatusWindowTest, ListsEveryRecordWithAServerAndShowsTheThreeSettings) {
    WriteTextFile(dir_ + "vtMailDa.dat",
                  AccountLine("a@x", "pop.x") + AccountLine("noat", "pop.x") +
                      AccountLine("empty@x", "") + AccountLine("blank@x", "   ") +
                      AccountLine("b@y", "pop.y"));
    // Interval, permanent connection, scripts, (unused), printing.
    WriteTextFile(dir_ + "setupRAS.RAS", "\r\n\r\n\r\n10\r\n0\r\n1\r\n0\r\n1\r\n");
    Start({"10"});
    window_->Show();
    EXPECT_EQ(Mailboxes(), (std::vector<std::string>{"a@x", "noat", "b@y"}));
    EXPECT_TRUE(Checked(TpwSchedule::idCheckBox1));
    EXPECT_FALSE(Checked(TpwSchedule::idCheckBox2));
    EXPECT_TRUE(Checked(TpwSchedule::idCheckBox3));

    window_->Close();
    window_->Show(); // filled afresh, not appended to
    EXPECT_EQ(Mailboxes().size(), 3u);

    WriteTextFile(dir_ + "setupRAS.RAS", "\r\n\r\n\r\n10\r\n0\r\n1\r\n0\r\n0\r\n");
    Start({"10"});
    window_->Show();
    EXPECT_FALSE(Checked(TpwSchedule::idCheckBox3));
}

TEST_F(StatusWindowTest, CheckCycleWritesTheCountdownLineWhileTheWindowIsHidden) {
    TPlaceHolder& agent = Start({"4"});
    agent.CheckNow1Click(); // a due check with no mailboxes
    EXPECT_FALSE(window_->Visible());
    EXPECT_EQ(Text(Control(TpwSchedule::idLabel3)), "4 minutes till next checking event...");
}

TEST_F(StatusWindowTest, CloseLooksPressedWhileHeldAndClosesOnRelease) {
    Start({"10"});
    window_->Show();
    const HWND panel = Control(TpwSchedule::idPanel1);
    EXPECT_EQ(Text(panel), "Close");
    EXPECT_EQ(window_->Panel1().BevelWidth(), 3);
    EXPECT_EQ(window_->Panel1().BorderWidth(), 1);

    SendMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    EXPECT_EQ(window_->Panel1().BevelWidth(), 1);
    SendMessageA(panel, WM_LBUTTONUP, 0, MAKELPARAM(200, 10)); // released beside it
    EXPECT_EQ(window_->Panel1().BevelWidth(), 3);
    EXPECT_TRUE(window_->Visible());

    SendMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    SendMessageA(panel, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    EXPECT_EQ(window_->Panel1().BevelWidth(), 3);
    EXPECT_FALSE(window_->Visible());
}

TEST_F(StatusWindowTest, TrayDoubleClickOpensTheWindowUntilItIsClosed) {
    TPlaceHolder& agent = Start({"10"});
    bool shown = false;
    bool menuEnabledWhileOpen = true;
    window_->OnShow = [&](TpwSchedule& w) {
        shown = true;
        menuEnabledWhileOpen = Probe().MenuEnabled(kStatus1) || Probe().MenuEnabled(kCheckNow1);
        agent.FillStatusWindow(w);
    };
    const HWND panel = Control(TpwSchedule::idPanel1);
    PostMessageA(agent.TrayIcon1.CallbackHandle(), TTrayIcon::kCallbackMessage, 0,
                 WM_LBUTTONDBLCLK);
    PostMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageA(panel, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(test::PumpUntil([&] { return shown && Probe().MenuEnabled(kStatus1); }));
    EXPECT_FALSE(window_->Visible());
    EXPECT_FALSE(menuEnabledWhileOpen);
    EXPECT_EQ(window_->Label3(), "10 minutes till next checking event...");
    EXPECT_TRUE(Probe().MenuEnabled(kCheckNow1));
}

TEST_F(StatusWindowTest, BusyAnimationShowsTheNineFramesInOrderThenTheRestingIcon) {
    TPlaceHolder& agent = Start({"10"});
    std::vector<std::vector<uint32_t>> pictures;
    for (int n = 1; n <= TPlaceHolder::kImageCount; ++n)
        pictures.push_back(IconPixels(agent.Image(n), 32));
    for (size_t i = 0; i < pictures.size(); ++i)
        for (size_t j = i + 1; j < pictures.size(); ++j)
            EXPECT_NE(pictures[i], pictures[j]) << "Image" << i + 1 << " and Image" << j + 1;

    shownImages_.clear();
    Probe().StartBusyAnimation();
    EXPECT_TRUE(agent.Timer2.Enabled());
    for (int tick = 0; tick < 11; ++tick)
        agent.Timer2Timer();
    Probe().FinishCheck();
    EXPECT_EQ(shownImages_, (std::vector<int>{5, 6, 7, 8, 9, 10, 11, 12, 13, 5, 6, 2}));
    EXPECT_FALSE(agent.Timer2.Enabled());

    shownImages_.clear();
    Probe().StartBusyAnimation(); // starts again at the first frame
    agent.Timer2Timer();
    Probe().FinishCheck();
    EXPECT_EQ(shownImages_, (std::vector<int>{5, 2}));
}

TEST_F(StatusWindowTest, BusyAnimationRunsOnItsOwnTimer) {
    TPlaceHolder& agent = Start({"10"});
    shownImages_.clear();
    Probe().StartBusyAnimation();
    EXPECT_TRUE(test::PumpUntil([&] { return shownImages_.size() >= 3; }));
    Probe().FinishCheck();
    ASSERT_GE(shownImages_.size(), 4u);
    EXPECT_EQ(std::vector<int>(shownImages_.begin(), shownImages_.begin() + 3),
              (std::vector<int>{5, 6, 7}));
    EXPECT_EQ(shownImages_.back(), 2);
    EXPECT_FALSE(agent.Timer2.Enabled());
    // More than two frames' time: no frame comes after the end.
    const size_t afterFinish = shownImages_.size();
    EXPECT_TRUE(test::NeverWithin([&] { return shownImages_.size() > afterFinish; }, 800));
}

TEST_F(StatusWindowTest, BackgroundModeRestsOnImage4UntilMessagesArriveThenImage3) {
    TPlaceHolder& agent = Start({"10", "/BGR"});
    shownImages_.clear();
    Probe().StartBusyAnimation();
    agent.Timer2Timer();
    Probe().FinishCheck();
    agent.BackgroundCallsPokeData("DONE:2", DdeServer::Acknowledgement());
    Probe().StartBusyAnimation();
    agent.Timer2Timer();
    Probe().FinishCheck();
    EXPECT_EQ(shownImages_, (std::vector<int>{5, 4, 5, 3}));
    EXPECT_EQ(Probe().TrayImage(), 3);
}

// Stand-alone retrievals: a mailbox with a message the client has not fetched, and no client
// program, so that each check "retrieves" what the flag file says.
class StandAloneRetrieval : public StatusWindowTest {
protected:
    void SetUp() override {
        StatusWindowTest::SetUp();
        test::Mailbox box{"one", "pw", {}};
        test::MailMessage m;
        m.headers = "Subject: hi\r\nMessage-ID: <one-1@x>";
        m.body = "body";
        m.uid = "one-1";
        box.messages.push_back(m);
        server_.AddMailbox(box);
        server_.Start();
        WriteTextFile(dir_ + "vtMailDa.dat",
                      AccountLine("one@x", "127.0.0.1:" + std::to_string(server_.Port())));
    }
    void Retrieve(TPlaceHolder& agent, const std::string& flag) {
        WriteTextFile(dir_ + "PWise.flg", flag);
        agent.CheckNow1Click();
        agent.Timer1Timer();
    }
    test::ScriptedPop3Server server_;
};

TEST_F(StandAloneRetrieval, ImageOneAndTheArrivedCountStayAfterALaterRetrievalOfNone) {
    TPlaceHolder& agent = Start({"10"});
    agent.shoot.OnFinished = nullptr; // the start fails; its failure event ends the wait
    window_->Show();
    EXPECT_EQ(window_->Label8(), "[ No new messages currently arrived... ]");
    window_->Close();
    EXPECT_EQ(Probe().TrayImage(), 2);

    Retrieve(agent, "2\r\n");
    EXPECT_EQ(Probe().ArrivedCount(), 2);
    EXPECT_EQ(window_->Label8(), "[ 2 new messages currently arrived... ]");
    EXPECT_EQ(shownImages_.back(), 1);

    Retrieve(agent, "0\r\n");
    EXPECT_EQ(Probe().ArrivedCount(), 0);
    EXPECT_EQ(shownImages_.back(), 1);
    window_->Show();
    EXPECT_EQ(window_->Label8(), "[ 2 new messages currently arrived... ]");
    EXPECT_EQ(window_->Label3(), "10 minutes till next checking event...");
}

} // namespace
} // namespace pw
