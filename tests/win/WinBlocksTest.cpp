// The Win32 building blocks: the wait helper, timers, utility windows, ownership, the trace.
#include "core/Component.h"
#include "win/MessagePump.h"
#include "win/Timer.h"
#include "win/Trace.h"
#include "win/UtilityWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>
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
}

TEST(WaitUntil, SeesAFlagSetByAnotherThread) {
    std::atomic<bool> flag{false};
    std::thread worker([&] {
        Sleep(100);
        flag = true;
    });
    WaitUntil([&] { return flag.load(); });
    worker.join();
    EXPECT_TRUE(flag);
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
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + "pw-trace-test.txt";
    DeleteFileA(path.c_str());
    // The trace reads its switch once, at its first use in the process.
    SetEnvironmentVariableA("PWAGENT_TRACE", path.c_str());
    ASSERT_TRUE(TraceEnabled());
    Trace("first");
    Trace("second " + MaskSecret("hunter2"));
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    EXPECT_NE(s.find(" first\r\n"), std::string::npos);
    EXPECT_NE(s.find(" second ***\r\n"), std::string::npos);
    EXPECT_EQ(s.find("hunter2"), std::string::npos);
}

} // namespace
} // namespace pw
