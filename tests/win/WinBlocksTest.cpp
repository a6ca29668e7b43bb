// The Win32 building blocks: the wait helper, timers, utility windows, ownership, the trace,
// the device-context scopes.
#include "core/Component.h"
#include "support/Testing.h"
#include "win/Handles.h"
#include "win/MessagePump.h"
#include "win/Timer.h"
#include "win/Trace.h"
#include "win/UtilityWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pw {
namespace {

ULONGLONG ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return ((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
    };
    return ms(kernel) + ms(user);
}

TEST(WaitUntil, SleepsInsteadOfSpinning) {
    const ULONGLONG cpuBefore = ProcessCpuMs();
    const DWORD start = GetTickCount();
    WaitMilliseconds(1000);
    const DWORD wall = GetTickCount() - start;
    const ULONGLONG cpu = ProcessCpuMs() - cpuBefore;
    EXPECT_GE(wall, 990u);
    // A spinning wait burns about as much processor time as wall time.
    EXPECT_LT(cpu, wall / 2) << "cpu " << cpu << " ms over " << wall << " ms";
}

TEST(WaitUntil, DispatchesMessagesInsideTheWaitInOrder) {
    std::vector<int> seen;
    UtilityWindow window([&](UINT msg, WPARAM wParam, LPARAM, LRESULT&) {
        if (msg != WM_APP)
            return false;
        seen.push_back(static_cast<int>(wParam));
        if (wParam == 1) // a handler that nests a wait of its own
            WaitUntil([&] { return seen.size() >= 3; });
        return true;
    });
    for (int i = 1; i <= 3; ++i)
        PostMessageA(window.Handle(), WM_APP, i, 0);
    WaitUntil([&] { return seen.size() >= 3; });
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));

    // A wait that begins by blocking still takes what is queued at once, in order.
    seen.clear();
    for (int i = 4; i <= 6; ++i)
        PostMessageA(window.Handle(), WM_APP, i, 0);
    const DWORD start = GetTickCount();
    WaitUntil([&] { return seen.size() >= 3; }, 20000, WaitStart::Block);
    EXPECT_EQ(seen, (std::vector<int>{4, 5, 6}));
    EXPECT_LT(GetTickCount() - start, 20000u) << "the queued messages did not end the block";

    // A pump tells whether it found anything: the caller's second look is saved when not.
    PostMessageA(window.Handle(), WM_APP, 7, 0);
    EXPECT_TRUE(ProcessMessages());
    EXPECT_FALSE(ProcessMessages());
}

TEST(WaitUntil, BlocksUntilAnotherThreadWakesIt) {
    // Without messages the wait tests its condition once, then once more for the wake: it does
    // not look at the flag on a period of its own.
    std::atomic<bool> flag{false};
    std::thread worker([&] {
        Sleep(300);
        flag = true;
        WakeWaits();
    });
    int tests = 0;
    WaitUntil([&] {
        ++tests;
        return flag.load();
    });
    worker.join();
    EXPECT_TRUE(flag);
    EXPECT_LE(tests, 4) << "the wait woke on its own";

    // A wake that comes while no one waits ends the next blocking round: none is lost.
    WakeWaits();
    tests = 0;
    WaitUntil([&] { return ++tests >= 2; });
    EXPECT_EQ(tests, 2);
}

TEST(TTimer, TicksWhileEnabledAndStopsWhenDisabled) {
    TTimer timer(nullptr, 20, false);
    int ticks = 0;
    timer.OnTimer = [&](TObject& sender) {
        EXPECT_EQ(&sender, &timer);
        if (++ticks == 3)
            timer.SetEnabled(false);
    };
    timer.SetEnabled(true);
    WaitUntil([&] { return ticks >= 3; });
    WaitMilliseconds(100);
    EXPECT_EQ(ticks, 3);
}

using test::PumpUntil;

TEST(UtilityWindow, BroadcastsReachTheTopLevelKindOnlyAndNoticesReachBoth) {
    const UINT broadcast = RegisterWindowMessageA("PwWinBlocksTestBroadcast");
    const UINT notice = WM_APP + 7;
    std::vector<UINT> topSeen;
    std::vector<UINT> messageOnlySeen;
    const auto recorder = [broadcast](std::vector<UINT>& seen) {
        return [&seen, broadcast](UINT msg, WPARAM, LPARAM, LRESULT&) {
            if (msg != broadcast && msg != notice)
                return false;
            seen.push_back(msg);
            return true;
        };
    };
    UtilityWindow top(UtilityWindow::Kind::TopLevel, recorder(topSeen));
    UtilityWindow messageOnly(UtilityWindow::Kind::MessageOnly, recorder(messageOnlySeen));

    ASSERT_TRUE(PostMessageA(HWND_BROADCAST, broadcast, 0, 0));
    ASSERT_TRUE(PostMessageA(top.Handle(), notice, 0, 0));
    ASSERT_TRUE(PostMessageA(messageOnly.Handle(), notice, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return topSeen.size() >= 2 && !messageOnlySeen.empty(); }));
    WaitMilliseconds(200); // a stray broadcast would arrive by now
    EXPECT_EQ(topSeen, (std::vector<UINT>{broadcast, notice}));
    EXPECT_EQ(messageOnlySeen, (std::vector<UINT>{notice}));
}

TEST(UtilityWindow, OnlyTheMessageOnlyKindSitsUnderTheMessageParent) {
    const auto layoutOf = [](const char* caption, bool messageOnly) {
        WindowSpec layout;
        layout.ClassName = "PwWinBlocksTestWindow";
        layout.Caption = caption;
        layout.MessageOnly = messageOnly;
        return layout;
    };
    const RoutedWindow messageOnly(layoutOf("message-only", true), nullptr);
    const RoutedWindow top(layoutOf("top-level", false), nullptr);

    // Not asked of FindWindowA: Windows passes message-only windows by, Wine finds them.
    EXPECT_NE(GetAncestor(messageOnly.Handle(), GA_PARENT), GetDesktopWindow());
    EXPECT_EQ(GetAncestor(top.Handle(), GA_PARENT), GetDesktopWindow());
    EXPECT_EQ(FindWindowExA(HWND_MESSAGE, nullptr, "PwWinBlocksTestWindow", "message-only"),
              messageOnly.Handle());
    EXPECT_EQ(FindWindowA("PwWinBlocksTestWindow", "top-level"), top.Handle());
    EXPECT_EQ(FindWindowExA(HWND_MESSAGE, nullptr, "PwWinBlocksTestWindow", "top-level"), nullptr);
}

using SeenMessages = std::vector<std::pair<UINT, HWND>>;

// Records the creation and end messages that reach the handler, with the handle the window
// held at each; WM_CREATE answers createResult.
class CreationWatch {
public:
    CreationWatch(SeenMessages& seen, LRESULT createResult)
        : window_(UtilityWindow::Kind::MessageOnly,
                  [this, &seen, createResult](UINT msg, WPARAM, LPARAM, LRESULT& result) {
                      if (msg != WM_NCCREATE && msg != WM_CREATE && msg != WM_NCDESTROY)
                          return false;
                      seen.emplace_back(msg, window_.Handle());
                      result = msg == WM_NCCREATE ? TRUE : msg == WM_CREATE ? createResult : 0;
                      return true;
                  }) {}

    HWND Handle() const { return window_.Handle(); }

private:
    UtilityWindow window_;
};

TEST(RoutedWindow, HandlerSeesItsCreationWithTheHandleAlreadySet) {
    SeenMessages seen;
    const CreationWatch watch(seen, 0);
    ASSERT_NE(watch.Handle(), nullptr);
    EXPECT_EQ(seen, (SeenMessages{{WM_NCCREATE, watch.Handle()}, {WM_CREATE, watch.Handle()}}));
}

TEST(RoutedWindow, CreationRefusedByTheHandlerThrowsAndEndsTheWindow) {
    SeenMessages seen;
    EXPECT_THROW(CreationWatch(seen, -1), std::runtime_error);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].first, static_cast<UINT>(WM_NCDESTROY));
    EXPECT_FALSE(IsWindow(seen[0].second));
}

TEST(RoutedWindow, GivesUpItsHandleWhenTheWindowIsDestroyedElsewhere) {
    UtilityWindow window(UtilityWindow::Kind::MessageOnly, nullptr);
    ASSERT_TRUE(DestroyWindow(window.Handle()));
    EXPECT_EQ(window.Handle(), nullptr);
}

struct Probe : TComponent {
    Probe(TComponent* owner, std::vector<std::string>* log, std::string name)
        : TComponent(owner), log_(log), name_(std::move(name)) {}
    ~Probe() override { log_->push_back("free " + name_); }
    void Notification(TComponent&, TOperation op) override {
        if (op == TOperation::opRemove)
            log_->push_back(name_ + " told");
    }
    std::vector<std::string>* log_;
    std::string name_;
};

TEST(TComponent, OwnerFreesItsComponentsNewestFirst) {
    std::vector<std::string> log;
    {
        TComponent owner;
        owner.CreateOwned<Probe>(&log, "a");
        owner.CreateOwned<Probe>(&log, "b");
    }
    EXPECT_EQ(log, (std::vector<std::string>{"free b", "free a"}));
}

TEST(TComponent, FreeNotificationTellsTheOtherSideOnce) {
    std::vector<std::string> log;
    Probe watcher(nullptr, &log, "watcher");
    {
        Probe watched(nullptr, &log, "watched");
        watcher.FreeNotification(&watched);
        watcher.FreeNotification(&watched);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"free watched", "watcher told"}));
}

TEST(Trace, AppendsOneLinePerEventWhenSwitchedOn) {
    const test::TempFolder folder("pw-trace-");
    const std::string path = folder.File("trace.txt");
    // The trace reads its switch once, at its first use in the process.
    const test::ScopedEnvironmentVariable trace("PWAGENT_TRACE", path);
    ASSERT_TRUE(TraceEnabled());
    Trace("first");
    Trace("second " + MaskSecret("hunter2"));
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    in.close(); // a reader that does not share deletion would keep the file below
    const std::string s = text.str();
    EXPECT_NE(s.find(" first\r\n"), std::string::npos);
    EXPECT_NE(s.find(" second ***\r\n"), std::string::npos);
    EXPECT_EQ(s.find("hunter2"), std::string::npos);

    // A reader deletes the file between lines while the trace holds it open. Windows then
    // reports the handle's file delete-pending or without links (Wine reports neither, so the
    // query says it here): the next line closes it, which completes the delete, and starts a
    // new file with nothing of the old one.
    ASSERT_TRUE(DeleteFileA(path.c_str())) << "the open trace lets a reader delete it";
    int asked = 0;
    const TraceFileDeletedQuery saved =
        SetTraceFileDeletedQuery([&](HANDLE) { return ++asked == 1; });
    Trace("third");
    Trace("fourth");
    SetTraceFileDeletedQuery(saved);
    EXPECT_EQ(asked, 2);
    std::ifstream again(path, std::ios::binary);
    std::stringstream fresh;
    fresh << again.rdbuf();
    const std::string t = fresh.str();
    EXPECT_EQ(t.find("first"), std::string::npos);
    EXPECT_NE(t.find(" third\r\n"), std::string::npos);
    EXPECT_NE(t.find(" fourth\r\n"), std::string::npos);
}

// The system keeps a cache of window DCs: a DC given back is the next one handed out, one still
// held is not.
TEST(ScreenDC, GivesItsDcBackWhenItsScopeEnds) {
    HDC first = nullptr;
    {
        const ScreenDC screen;
        first = screen.get();
    }
    ASSERT_NE(first, nullptr);
    const ScreenDC again;
    const ScreenDC other;
    EXPECT_EQ(again.get(), first);
    EXPECT_NE(other.get(), first);
}

TEST(PaintScope, PaintsTheInvalidAreaAndEndsThePaintWhenItsScopeEnds) {
    HWND handle = nullptr;
    HDC paintDc = nullptr;
    RECT painted{};
    bool validWhilePainting = false;
    WindowSpec layout;
    layout.ClassName = "PwPaintScopeTest";
    layout.Width = 60;
    layout.Height = 40;
    RoutedWindow window(layout, [&](UINT msg, WPARAM, LPARAM, LRESULT& result) {
        if (msg != WM_PAINT || handle == nullptr)
            return false;
        const PaintScope paint(handle);
        paintDc = paint.get();
        painted = paint.Info().rcPaint;
        validWhilePainting = GetUpdateRect(handle, nullptr, FALSE) == FALSE;
        result = 0;
        return true;
    });
    handle = window.Handle();
    ShowWindow(handle, SW_SHOWNA);
    UpdateWindow(handle);
    RECT dirty{10, 5, 30, 20};
    InvalidateRect(handle, &dirty, FALSE);
    paintDc = nullptr;
    UpdateWindow(handle);

    ASSERT_NE(paintDc, nullptr);
    EXPECT_TRUE(validWhilePainting);
    RECT both{};
    UnionRect(&both, &painted, &dirty);
    EXPECT_TRUE(EqualRect(&both, &painted))
        << painted.left << "," << painted.top << " " << painted.right << "," << painted.bottom;
    const WindowDC after(handle, WindowDC::Client);
    EXPECT_EQ(after.get(), paintDc);
}

} // namespace
} // namespace pw
