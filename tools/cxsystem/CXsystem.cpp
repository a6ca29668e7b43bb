// CXsystem.exe, the stand-in mail client of the tests and the demo (never shipped): owns a
// "TCXCmainForm" window while it runs and serves the agent over DDE (StandInDde.h); with "/PWGM"
// it retrieves the new mail of every watched mailbox, writes the count to "PWise.flg" in its
// own directory and exits.
#include <windows.h>

#include <memory>
#include <thread>

#include "MailRetrieval.h"
#include "MainForm.h"
#include "StandInDde.h"
#include "Pop3Connection.h"
#include "StandInFiles.h"
#include "StandInLog.h"
#include "StandInOptions.h"
#include "win/MessagePump.h"

namespace pw {
namespace {

std::string EnvironmentText(const char* name) {
    char buffer[MAX_PATH + 1] = {};
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string();
}

// More than any settings file holds; a bigger one is not read.
constexpr size_t kMaxSettingsFileBytes = 1024 * 1024;

RetrievalSettings SettingsFromEnvironment() {
    RetrievalSettings settings;
    if (auto ms = ParseMilliseconds(EnvironmentText("PW_CXSTAND_TIMEOUT_MS")); ms && *ms > 0)
        settings.timeoutMs = *ms;
    settings.saveFolder = CurrentDirectory() + "retrieved";
    // The agent's settings file beside the program says which servers want TLS.
    if (auto text = ReadWholeFile(ProgramDirectory() + "pwagent.ini", kMaxSettingsFileBytes))
        settings.security = ParseAgentIni(*text);
    return settings;
}

// The agent reads the first line; the file must go on existing for a stand-alone agent.
bool WriteFlagFile(int count, StandInLog& log) {
    const std::string path = ProgramDirectory() + "PWise.flg";
    if (!RewriteFile(path, std::to_string(count) + "\r\n")) {
        log.Write("flag file: cannot write " + path);
        return false;
    }
    log.Write("flag file: wrote " + std::to_string(count) + " to " + path);
    return true;
}

class JoinOnExit {
public:
    explicit JoinOnExit(std::thread& thread) : thread_(thread) {}
    ~JoinOnExit() {
        if (thread_.joinable())
            thread_.join();
    }
    JoinOnExit(const JoinOnExit&) = delete;
    JoinOnExit& operator=(const JoinOnExit&) = delete;

private:
    std::thread& thread_;
};

int RunStandIn(HINSTANCE instance, const char* arguments, int showCommand, StandInLog& log) {
    StandInOptions options = ParseStandInCommandLine(arguments);
    if (!options.exitAfterMs)
        options.exitAfterMs = ParseMilliseconds(EnvironmentText("PW_CXSTAND_EXIT_AFTER_MS"));
    if (!options.otherText.empty())
        log.Write("start: arguments \"" + options.otherText + "\" taken as a plain start");
    log.Write(options.retrieve ? "start: mode retrieval (/PWGM)" : "start: mode window");

    WinsockSession winsock;
    std::unique_ptr<StandInDde> dde;
    if (!options.noDde) {
        StandInDdeOptions ddeOptions;
        ddeOptions.refuseAdvise = options.refuseAdvise;
        ddeOptions.answerGet = !options.noDone;
        ddeOptions.checkFirst = options.checkFirst;
        ddeOptions.retrieval = SettingsFromEnvironment();
        const std::string controlFile = EnvironmentText("PW_CXSTAND_COMMANDS");
        ddeOptions.controlFile =
            controlFile.empty() ? ProgramDirectory() + "CXsystem.cmd" : controlFile;
        dde = std::make_unique<StandInDde>(std::move(ddeOptions), log);
    }
    TCXCmainForm form(instance, log);
    int retrieved = 0;
    std::thread worker;
    JoinOnExit joiner(worker);
    if (options.retrieve) {
        form.SetStatus("Retrieving new mail...");
        form.OnRetrievalDone = [](TCXCmainForm& sender, int count) {
            sender.SetStatus(std::to_string(count) + " messages retrieved");
            sender.Close();
        };
        worker = std::thread([&form, &retrieved, &log, accounts = LoadAccounts(log),
                              settings = SettingsFromEnvironment()] {
            try {
                retrieved = RetrieveNewMail(accounts, MailboxSelection::All(), settings, log);
            } catch (const std::exception& e) {
                log.Write(std::string("retrieval: failed: ") + e.what());
            }
            form.PostRetrievalDone(retrieved);
        });
    }
    form.Show(showCommand);
    if (options.exitAfterMs) {
        log.Write("start: closing after " + std::to_string(*options.exitAfterMs) + " ms");
        form.CloseAfter(*options.exitAfterMs);
    }
    RunMessageLoop();
    if (!options.retrieve)
        return 0;
    // A window closed during the retrieval still lets it finish and report.
    if (worker.joinable())
        worker.join();
    return WriteFlagFile(retrieved, log) ? 0 : 1;
}

} // namespace
} // namespace pw

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int showCommand) {
    const std::string logPath = pw::EnvironmentText("PW_CXSTAND_LOG");
    pw::StandInLog log(logPath.empty() ? pw::ProgramDirectory() + "CXsystem.log" : logPath);
    log.Write(std::string("start: command line ") + GetCommandLineA());
    log.Write("start: working directory " + pw::CurrentDirectory());
    int exitCode = 1;
    try {
        exitCode =
            pw::RunStandIn(instance, arguments != nullptr ? arguments : "", showCommand, log);
    } catch (const std::exception& e) {
        log.Write(std::string("failed: ") + e.what());
    }
    log.Write("exit: code " + std::to_string(exitCode));
    return exitCode;
}
