// Helpers shared by the tests that drive the agent: whole-file reads and writes, accounts-file
// lines, the diagnostic trace the agent writes, and the harness that starts the agent in-process
// with injected surroundings.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "agent/PWiseF.h"
#include "core/Password.h"
#include "support/Testing.h"

namespace pw::test {

// The agent's trace: switched on for the whole test program at its first use, so call it before
// the first agent starts. Lines are read back without their time stamps.
class TraceFile {
public:
    explicit TraceFile(const std::string& name) : path_(TempDir() + name) {
        DeleteFileA(path_.c_str());
        SetEnvironmentVariableA("PWAGENT_TRACE", path_.c_str());
    }
    // The trace's length now: lines written after it are LinesSince(Mark()).
    size_t Mark() const {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data))
            return 0;
        return static_cast<size_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
    }
    std::vector<std::string> LinesSince(size_t mark) const {
        std::vector<std::string> lines;
        std::istringstream in(ReadAll(path_, mark));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line.size() > kStampLength ? line.substr(kStampLength) : line);
        }
        return lines;
    }

private:
    static constexpr size_t kStampLength = 13; // "hh:mm:ss.zzz "
    std::string path_;
};

// The trace of this test program, switched on before its first agent starts.
inline const TraceFile& AgentTrace() {
    static const TraceFile trace("pw-agent-trace-" + std::to_string(GetCurrentProcessId()) +
                                 ".txt");
    return trace;
}

// The agent in-process, in a folder of the test's own with a flag file, with an injected clock,
// time separator and long time, no sound, and program starts and ends recorded instead of done.
class AgentHarness : public ::testing::Test {
protected:
    explicit AgentHarness(std::string prefix) : prefix_(std::move(prefix)) {}

    void SetUp() override {
        folder_.emplace(prefix_);
        dir_ = folder_->Path() + "\\";
        currentDirectory_.emplace(dir_);
        WriteTextFile(dir_ + "PWise.flg", "0\r\n");
        traceStart_ = AgentTrace().Mark();
        now_.wYear = 2026;
        now_.wMonth = 12;
        now_.wDay = 9;
        now_.wHour = 12;
        now_.wMinute = 0;
    }
    void TearDown() override {
        agent_.reset();
        app_.reset();
        currentDirectory_.reset();
        folder_.reset();
    }

    AgentEnvironment Environment(std::vector<std::string> args) {
        AgentEnvironment env = AgentEnvironment::System({});
        args.insert(args.begin(), dir_ + "pwagent.exe");
        env.Args = args;
        env.Now = [this] { return now_; };
        env.Monotonic = [this] { return mono_; };
        env.TimeSeparator = [this] { return separator_; };
        env.LongTime = [] { return std::string("12:34:56"); };
        env.AsteriskSound = [this] {
            if (asteriskSound_)
                asteriskSound_();
        };
        env.RunProgram = [this](const std::string& command, UINT show) {
            started_.push_back(command);
            startedShows_.push_back(show);
        };
        // The real end leaves the process; here a pending mailbox wait ends instead.
        env.EndProgram = [this] {
            ++ends_;
            if (agent_)
                agent_->POPbox.CancelOperation();
        };
        env.MailboxTimeOut = mailboxTimeOut_;
        env.RasLibraryPath = rasLibraryPath_;
        return env;
    }

    TPlaceHolder& Start(std::vector<std::string> args) {
        agent_.reset();
        app_ = std::make_unique<TApplication>("Vantiro's Automation Agent");
        agent_ = std::make_unique<TPlaceHolder>(*app_, Environment(std::move(args)));
        return *agent_;
    }

    // What the agent shows of itself beyond its components and handlers.
    TPlaceHolder::Probe Probe() const { return TPlaceHolder::Probe(*agent_); }

    // Trace lines this test wrote, without their time stamps.
    std::vector<std::string> TraceLines() const { return AgentTrace().LinesSince(traceStart_); }
    std::string TraceText() const {
        std::string text;
        for (const auto& line : TraceLines())
            text += line + "\n";
        return text;
    }
    int CountTrace(const std::string& line) const {
        const auto lines = TraceLines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    bool Traced(const std::string& line) const { return CountTrace(line) > 0; }

    std::string prefix_;
    std::optional<TempFolder> folder_;
    std::optional<CurrentDirectoryScope> currentDirectory_;
    std::string dir_;
    size_t traceStart_ = 0;
    SYSTEMTIME now_{};
    uint64_t mono_ = 1000000; // the monotonic clock, milliseconds
    std::string separator_ = ":";
    std::vector<std::string> started_; // command lines of the programs the agent started
    std::vector<UINT> startedShows_;   // and how each was to be shown
    int ends_ = 0;
    int32_t mailboxTimeOut_ = 240;
    std::function<void()> asteriskSound_; // the system sound, silent unless a test sets it
    std::string rasLibraryPath_;
    std::unique_ptr<TApplication> app_;
    std::unique_ptr<TPlaceHolder> agent_;
};

} // namespace pw::test
