// The program launcher: directory normalisation, start-up record, exit code and failure
// reports, on the waiting thread. The started program is exithelper.exe, which writes where
// and how it was started.
#include "support/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "core/Text.h"
#include "support_components/SupportTesting.h"

namespace pw {
namespace {

using testing::ReadFileText;
using testing::TempDirectory;
using testing::WaitFor;

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

// What the launcher's events saw, written from the waiting thread.
struct Outcome {
    std::mutex lock;
    int finished = 0;
    int failed = 0;
    DWORD code = 0;
    DWORD threadId = 0;

    void Attach(TProcess& process) {
        process.OnFinished = [this](TObject&, DWORD exitCode) { Record(finished, exitCode); };
        process.OnFailed = [this](TObject&, DWORD error) { Record(failed, error); };
    }
    void Record(int& counter, DWORD value) {
        std::lock_guard<std::mutex> guard(lock);
        ++counter;
        code = value;
        threadId = GetCurrentThreadId();
    }
    int Events() {
        std::lock_guard<std::mutex> guard(lock);
        return finished + failed;
    }
};

std::vector<std::string> ReportLines(const std::string& file) {
    return SplitLines(ReadFileText(file));
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
    TempDirectory work;
    TempDirectory reports;
    const std::string report = reports.File("report.txt");
    TProcess process;
    Outcome outcome;
    outcome.Attach(process);
    process.Command = HelperCommand(3, report);
    process.SetDirectory(" " + work.Path() + "\\");
    process.ShowWindow = TShowWindow::swShowMinimized;
    process.Wait = true;

    process.Execute();
    ASSERT_TRUE(WaitFor([&] { return outcome.Events() > 0; }));
    WaitFor([] { return false; }, 500); // a second report would come now
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
    TempDirectory reports;
    const std::string report = reports.File("report.txt");
    TProcess process;
    Outcome outcome;
    outcome.Attach(process);
    process.Command = HelperCommand(0, report);
    process.Wait = true;

    process.Execute();
    ASSERT_TRUE(WaitFor([&] { return outcome.Events() > 0; }));
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
    TempDirectory reports;
    TProcess process;
    Outcome outcome;
    outcome.Attach(process);
    process.Command = HelperCommand(7, reports.File("report.txt"));
    process.SetDirectory("C:\\");
    process.Wait = true;

    process.Execute();
    ASSERT_TRUE(WaitFor([&] { return outcome.Events() > 0; }));
    EXPECT_EQ(process.Directory(), "C:");
    EXPECT_EQ(outcome.finished, 1);
    EXPECT_EQ(outcome.code, 7u);
}

TEST(Launcher, WithoutWaitStartsTheProgramAndReportsNothing) {
    TempDirectory reports;
    const std::string report = reports.File("report.txt");
    TProcess process;
    Outcome outcome;
    outcome.Attach(process);
    process.Command = HelperCommand(5, report);

    process.Execute();
    ASSERT_TRUE(WaitFor([&] { return testing::FileExists(report); }));
    WaitFor([] { return false; }, 1000);
    EXPECT_EQ(outcome.Events(), 0);
}

TEST(Launcher, ProgramThatCannotStartIsReportedAsFailure) {
    TProcess process;
    Outcome outcome;
    outcome.Attach(process);
    process.Command = "pw-no-such-program-4711.exe /x";
    process.Wait = true;

    process.Execute();
    ASSERT_TRUE(WaitFor([&] { return outcome.Events() > 0; }));
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(outcome.finished, 0);
    EXPECT_EQ(outcome.code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(outcome.threadId, GetCurrentThreadId());
}

} // namespace
} // namespace pw
