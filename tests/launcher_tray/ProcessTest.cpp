// The program launcher: directory normalisation, start-up record, exit code and failure
// reports, on the waiting thread, and a component that goes away while its program runs. The
// started programs are exithelper.exe, which writes where and how it was started, and this
// test program itself in its held-child mode, which runs until the test lets it end.
#include "support/process.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "core/Text.h"
#include "support/Testing.h"

namespace pw {
namespace {

using test::PumpUntil;
using test::ReadAll;
using test::TempFolder;

std::string ExitHelper() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, n);
    directory.erase(directory.find_last_of('\\') + 1);
    return directory + PW_EXITHELPER_RELATIVE;
}

std::string HelperCommand(int exitCode, const std::string& reportFile) {
    return "\"" + ExitHelper() + "\" " + std::to_string(exitCode) + " \"" + reportFile + "\"";
}

// "support_tests.exe --pw-held-child NAME" runs no test: it counts itself in on the semaphore
// NAME-started, waits for the event NAME-release and exits with kHeldExitCode. It is decided
// before main, so nothing of the test framework runs or prints in the child.
constexpr char kHeldChildSwitch[] = "--pw-held-child";
constexpr DWORD kHeldExitCode = 42;
constexpr DWORD kBoundMs = 60000;

DWORD RunAsHeldChild(const std::string& name) {
    const UniqueKernelHandle started(
        OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (name + "-started").c_str()));
    const UniqueKernelHandle release(OpenEventA(SYNCHRONIZE, FALSE, (name + "-release").c_str()));
    if (!started || !release)
        return 1;
    ReleaseSemaphore(started.get(), 1, nullptr);
    return WaitForSingleObject(release.get(), kBoundMs) == WAIT_OBJECT_0 ? kHeldExitCode : 2;
}

[[maybe_unused]] const bool kHeldChild = [] {
    if (__argc == 3 && lstrcmpA(__argv[1], kHeldChildSwitch) == 0)
        ExitProcess(RunAsHeldChild(__argv[2]));
    return false;
}();

// The parent's side: the command that starts a held child, and the means to see it run and to
// let it end.
class HeldChildren {
public:
    HeldChildren()
        : name_("pw-launcher-test-" + std::to_string(GetCurrentProcessId())),
          started_(CreateSemaphoreA(nullptr, 0, 16, (name_ + "-started").c_str())),
          release_(CreateEventA(nullptr, TRUE, FALSE, (name_ + "-release").c_str())) {}
    ~HeldChildren() { Release(); }

    std::string Command() const {
        char path[MAX_PATH + 1] = {};
        const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
        return "\"" + std::string(path, n) + "\" " + kHeldChildSwitch + " " + name_;
    }
    bool WaitStarted() const { return WaitForSingleObject(started_.get(), kBoundMs) == 0; }
    void Release() const { SetEvent(release_.get()); }

private:
    std::string name_;
    UniqueKernelHandle started_;
    UniqueKernelHandle release_;
};

// What the launcher's events saw, written from the waiting thread. Once poisoned, the outcome
// stands for an object that is gone: an event that still arrives is counted apart.
struct Outcome {
    std::mutex lock;
    int finished = 0;
    int failed = 0;
    DWORD code = 0;
    DWORD threadId = 0;
    bool poisoned = false;
    int afterPoison = 0;

    void Attach(TProcess& process) {
        process.OnFinished = [this](TObject&, DWORD exitCode) { Record(finished, exitCode); };
        process.OnFailed = [this](TObject&, DWORD error) { Record(failed, error); };
    }
    void Record(int& counter, DWORD value) {
        std::lock_guard<std::mutex> guard(lock);
        ++counter;
        code = value;
        threadId = GetCurrentThreadId();
        if (poisoned)
            ++afterPoison;
    }
    int Events() {
        std::lock_guard<std::mutex> guard(lock);
        return finished + failed;
    }
    void Poison() {
        std::lock_guard<std::mutex> guard(lock);
        poisoned = true;
    }
};

// Events that hold their outcome themselves, for a start that may outlive the test's scope:
// the outcome's use count falls back to one when the waiting thread has let go of them.
void AttachShared(TProcess& process, const std::shared_ptr<Outcome>& outcome) {
    process.OnFinished = [outcome](TObject&, DWORD code) {
        outcome->Record(outcome->finished, code);
    };
    process.OnFailed = [outcome](TObject&, DWORD error) {
        outcome->Record(outcome->failed, error);
    };
}

std::vector<std::string> ReportLines(const std::string& file) {
    return SplitLines(ReadAll(file));
}

TEST(Launcher, NormalisesTheDirectory) {
    EXPECT_EQ(NormalizeDirectory(" C:\\work\\dir\\"), "C:\\work\\dir");
    EXPECT_EQ(NormalizeDirectory("\tC:\\work\\dir\r\n"), "C:\\work\\dir");
    EXPECT_EQ(NormalizeDirectory("C:\\"), "C:");
    EXPECT_EQ(NormalizeDirectory("C:\\work/"), "C:\\work");
    // One backslash, then one slash: never more.
    EXPECT_EQ(NormalizeDirectory("C:/work/\\"), "C:/work");
    EXPECT_EQ(NormalizeDirectory("C:\\work\\\\"), "C:\\work\\");
    EXPECT_EQ(NormalizeDirectory("C:\\work\\/"), "C:\\work\\");
    EXPECT_EQ(NormalizeDirectory("\\"), "");
    EXPECT_EQ(NormalizeDirectory("  "), "");
}

TEST(Launcher, RunsInTheNormalisedDirectoryAndReportsExitCodeOnceOnTheWaitingThread) {
    TempFolder work;
    TempFolder reports;
    const std::string report = reports.File("report.txt");
    TProcess process;
    Outcome outcome;
    outcome.Attach(process);
    process.Command = HelperCommand(3, report);
    process.SetDirectory(" " + work.Path() + "\\");
    process.ShowWindow = TShowWindow::swShowMinimized;
    process.Wait = true;

    process.Execute();
    ASSERT_TRUE(PumpUntil([&] { return outcome.Events() > 0; }));
    PumpUntil([] { return false; }, 500); // a second report would come now
    EXPECT_EQ(outcome.finished, 1);
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(outcome.code, 3u);
    EXPECT_NE(outcome.threadId, GetCurrentThreadId());
    EXPECT_EQ(process.Directory(), work.Path());

    const auto lines = ReportLines(report);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(SameTextAscii(lines[0], work.Path())) << lines[0];
    EXPECT_EQ(lines[1], std::to_string(SW_SHOWMINIMIZED));
    EXPECT_EQ(StrToInt(lines[2]) & STARTF_USESHOWWINDOW, STARTF_USESHOWWINDOW);
}

TEST(Launcher, PassesHiddenShowCommandAndInheritsDirectoryWhenEmpty) {
    TempFolder reports;
    const std::string report = reports.File("report.txt");
    TProcess process;
    Outcome outcome;
    outcome.Attach(process);
    process.Command = HelperCommand(0, report);
    process.Wait = true;

    process.Execute();
    ASSERT_TRUE(PumpUntil([&] { return outcome.Events() > 0; }));
    EXPECT_EQ(outcome.finished, 1);
    EXPECT_EQ(outcome.code, 0u);
    char current[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    const auto lines = ReportLines(report);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(SameTextAscii(lines[0], current)) << lines[0];
    EXPECT_EQ(lines[1], std::to_string(SW_HIDE));
}

TEST(Launcher, DriveRootLosesItsBackslashAndStillStarts) {
    TempFolder reports;
    TProcess process;
    Outcome outcome;
    outcome.Attach(process);
    process.Command = HelperCommand(7, reports.File("report.txt"));
    process.SetDirectory("C:\\");
    process.Wait = true;

    process.Execute();
    ASSERT_TRUE(PumpUntil([&] { return outcome.Events() > 0; }));
    EXPECT_EQ(process.Directory(), "C:");
    EXPECT_EQ(outcome.finished, 1);
    EXPECT_EQ(outcome.code, 7u);
}

TEST(Launcher, WithoutWaitStartsTheProgramAndReportsNothing) {
    TempFolder reports;
    const std::string report = reports.File("report.txt");
    TProcess process;
    Outcome outcome;
    outcome.Attach(process);
    process.Command = HelperCommand(5, report);

    process.Execute();
    ASSERT_TRUE(PumpUntil([&] { return test::FileExists(report); }));
    PumpUntil([] { return false; }, 1000);
    EXPECT_EQ(outcome.Events(), 0);
}

TEST(Launcher, ComponentDestroyedWhileItsProgramRunsFiresNothingWhenTheProgramEnds) {
    HeldChildren children;
    const auto gone = std::make_shared<Outcome>();
    Outcome kept;
    TProcess keptProcess;
    kept.Attach(keptProcess);
    keptProcess.Command = children.Command();
    keptProcess.Wait = true;
    {
        TProcess process;
        AttachShared(process, gone);
        process.Command = children.Command();
        process.Wait = true;
        process.Execute();
    }
    gone->Poison();
    keptProcess.Execute();

    ASSERT_TRUE(children.WaitStarted());
    ASSERT_TRUE(children.WaitStarted());
    children.Release();
    ASSERT_TRUE(PumpUntil([&] { return kept.Events() > 0; }, kBoundMs));
    EXPECT_EQ(kept.finished, 1);
    EXPECT_EQ(kept.code, kHeldExitCode);
    // The waiting thread drops its copies of the events only when it ends, after its program.
    ASSERT_TRUE(PumpUntil([&] { return gone.use_count() == 1; }, kBoundMs));
    EXPECT_EQ(gone->Events(), 0);
    EXPECT_EQ(gone->afterPoison, 0);
}

TEST(Launcher, ComponentDestroyedAtOnceStillStartsItsProgramInTheNormalisedDirectory) {
    TempFolder work;
    TempFolder reports;
    const std::string report = reports.File("report.txt");
    {
        TProcess process;
        process.Command = HelperCommand(0, report);
        process.SetDirectory(" " + work.Path() + "\\");
        process.Execute();
    }
    ASSERT_TRUE(PumpUntil([&] { return test::FileExists(report); }));
    const auto lines = ReportLines(report);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(SameTextAscii(lines[0], work.Path())) << lines[0];
}

TEST(Launcher, DestructionWaitsForARunningEventToReturn) {
    TempFolder reports;
    auto process = std::make_unique<TProcess>();
    std::atomic<bool> entered{false};
    std::atomic<bool> returned{false};
    std::atomic<bool> senderUsable{false};
    TProcess* const component = process.get();
    process->OnFinished = [&](TObject& sender, DWORD) {
        entered = true;
        Sleep(300); // long enough for a destruction that does not wait to get under way
        senderUsable = &sender == component && component->Directory() == "C:";
        returned = true;
    };
    process->SetDirectory("C:\\");
    process->Command = HelperCommand(0, reports.File("report.txt"));
    process->Wait = true;
    process->Execute();

    ASSERT_TRUE(PumpUntil([&] { return entered.load(); }));
    process.reset();
    EXPECT_TRUE(returned);
    EXPECT_TRUE(senderUsable);
}

TEST(Launcher, ProgramThatCannotStartIsReportedAsFailure) {
    TProcess process;
    Outcome outcome;
    outcome.Attach(process);
    process.Command = "pw-no-such-program-4711.exe /x";
    process.Wait = true;

    process.Execute();
    ASSERT_TRUE(PumpUntil([&] { return outcome.Events() > 0; }));
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(outcome.finished, 0);
    EXPECT_EQ(outcome.code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(outcome.threadId, GetCurrentThreadId());
}

} // namespace
} // namespace pw
