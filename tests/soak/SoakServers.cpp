// The soak's scripted servers (the host process) and the agent side's link to them: pipes on
// the host's standard input and output, one request line and one answer line at a time.
#include "SoakServers.h"

#include <algorithm>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "core/Text.h"
#include "pop3script/ScriptedPop3Server.h"

namespace pw::soak {

namespace {

using test::MailMessage;
using test::Response;
using test::ScriptedPop3Server;
using test::SessionScript;

// Generous: the host answers at once, apart from the wait for sessions to end.
constexpr DWORD kAnswerLimitMs = 60000;
constexpr DWORD kSessionEndLimitMs = 5000;
constexpr std::size_t kLongestAnswer = 4096;

MailMessage Message(const std::string& id, const std::string& extraHeaders = "") {
    return {"From: soak@example.org\r\nSubject: " + id + "\r\n" + extraHeaders + "Message-ID: <" +
                id + "@soak>",
            "body of " + id + "\r\n", id};
}

test::Mailbox Box(const ScriptedUser& user, std::vector<MailMessage> messages) {
    return {user.name, user.password, std::move(messages)};
}

// One line from a handle, without its line end; false at the end of input.
bool ReadInputLine(HANDLE input, std::string& line) {
    line.clear();
    char c = 0;
    DWORD got = 0;
    while (ReadFile(input, &c, 1, &got, nullptr) && got == 1) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        if (line.size() < kLongestAnswer)
            line += c;
    }
    return false;
}

void WriteAll(HANDLE output, const std::string& text) {
    DWORD written = 0;
    if (!WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size())
        throw std::runtime_error("cannot write to the pipe (error " +
                                 std::to_string(GetLastError()) + ")");
}

} // namespace

const char* ServerName(Server server) {
    static constexpr const char* kNames[kServerCount] = {"healthy",    "closer", "resetter",
                                                         "long lines", "flaky",  "fresh"};
    return kNames[server];
}

int RunServerHost() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    try {
        std::array<ScriptedPop3Server, kServerCount> servers;

        servers[kHealthy].AddMailbox(Box(kAlpha, {Message("alpha-1")}));
        servers[kHealthy].AddMailbox(Box(kBeta, {Message("beta-1"), Message("beta-2")}));

        servers[kCloser].AddMailbox(Box(kCloserUser, {Message("closer-1")}));
        SessionScript closes;
        closes.greeting = Response::Line("+OK closing at once").ThenClose();
        servers[kCloser].SetScript(closes);

        servers[kResetter].AddMailbox(Box(kResetUser, {Message("reset-1")}));
        SessionScript resets;
        resets.replies["TOP"] =
            Response::Raw("+OK top of message follows\r\nFrom: soak@example.org\r\nSubj")
                .ThenReset();
        servers[kResetter].SetScript(resets);

        servers[kLongLines].AddMailbox(
            Box(kLongUser, {Message("long-1", "X-Padding: " + std::string(3000, 'h') + "\r\n")}));
        SessionScript longLines;
        longLines.greeting = Response::Line("+OK " + std::string(600, 'g'));
        longLines.handler = [](const test::CommandContext& command) -> std::optional<Response> {
            if (command.verb != "USER")
                return std::nullopt;
            command.Default(); // takes the name in
            return Response::Line("+OK " + std::string(1000, 'u'));
        };
        servers[kLongLines].SetScript(longLines);

        servers[kFlaky].AddMailbox(Box(kFlakyUser, {Message("flaky-1")}));
        servers[kFresh].AddMailbox(Box(kGamma, {Message("gamma-1")}));

        std::ostringstream ports;
        ports << "ports";
        for (auto& server : servers) {
            server.Start();
            ports << ' ' << server.Port();
        }
        ports << ' ' << ScriptedPop3Server::UnusedPort() << '\n';
        WriteAll(output, ports.str());

        SessionScript silent;
        silent.greeting = Response::Hang();
        std::string line;
        while (ReadInputLine(input, line) && line != "quit") {
            std::istringstream request(line);
            std::string verb;
            request >> verb;
            if (verb == "check") {
                int check = 0, isSilent = 0, newMail = 0;
                request >> check >> isSilent >> newMail;
                servers[kFlaky].SetScript(isSilent ? silent : SessionScript());
                std::vector<MailMessage> messages = {Message("gamma-1")};
                if (newMail)
                    messages.push_back(Message("gamma-new-" + std::to_string(check)));
                servers[kFresh].SetMailboxes({Box(kGamma, std::move(messages))});
                WriteAll(output, "ok\n");
            } else if (verb == "sessions") {
                std::ostringstream answer;
                answer << "sessions";
                for (auto& server : servers) {
                    const std::size_t accepted = server.ConnectionCount();
                    server.WaitForFinishedSessions(accepted, kSessionEndLimitMs);
                    answer << ' ' << accepted << ' ' << server.FinishedSessionCount();
                }
                WriteAll(output, answer.str() + "\n");
            } else {
                WriteAll(output, "unknown request: " + line + "\n");
            }
        }
        return 0;
    } catch (const std::exception& e) {
        WriteAll(output, std::string("server host failed: ") + e.what() + "\n");
        return 1;
    }
}

ServerHost::ServerHost(const std::string& program) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE hostInput = nullptr, toHost = nullptr, fromHost = nullptr, hostOutput = nullptr;
    if (!CreatePipe(&hostInput, &toHost, &inherited, 0))
        throw std::runtime_error("cannot create a pipe");
    UniqueKernelHandle hostInputEnd(hostInput);
    toHost_.reset(toHost);
    if (!CreatePipe(&fromHost, &hostOutput, &inherited, 0))
        throw std::runtime_error("cannot create a pipe");
    UniqueKernelHandle hostOutputEnd(hostOutput);
    fromHost_.reset(fromHost);
    // Only the host's ends are inherited.
    SetHandleInformation(toHost_.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromHost_.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = hostInputEnd.get();
    startup.hStdOutput = hostOutputEnd.get();
    startup.hStdError = hostOutputEnd.get(); // its failures arrive as answers
    std::string commandLine = "\"" + program + "\" " + kServerHostArgument;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info))
        throw std::runtime_error("cannot start the server host (error " +
                                 std::to_string(GetLastError()) + ")");
    CloseHandle(info.hThread);
    process_.reset(info.hProcess);

    const std::string answer = ReadLine();
    std::istringstream in(answer);
    std::string word;
    in >> word;
    for (auto& port : ports_)
        in >> port;
    in >> refusedPort_;
    if (word != "ports" || !in)
        throw std::runtime_error("the server host did not start: " + answer);
}

ServerHost::~ServerHost() {
    try {
        Send("quit");
    } catch (const std::exception&) {
    }
    if (WaitForSingleObject(process_.get(), 20000) != WAIT_OBJECT_0)
        TerminateProcess(process_.get(), 99);
}

void ServerHost::Prepare(int check, bool silent, bool newMail) {
    const std::string request =
        "check " + std::to_string(check) + " " + (silent ? "1" : "0") + " " + (newMail ? "1" : "0");
    const std::string answer = Ask(request);
    if (answer != "ok")
        throw std::runtime_error("the server host answered \"" + answer + "\" to " + request);
}

ServerHost::Sessions ServerHost::CountSessions() {
    const std::string answer = Ask("sessions");
    std::istringstream in(answer);
    std::string word;
    in >> word;
    Sessions sessions;
    for (int i = 0; i < kServerCount; ++i)
        in >> sessions.accepted[i] >> sessions.finished[i];
    if (word != "sessions" || !in)
        throw std::runtime_error("the server host answered \"" + answer + "\" to sessions");
    return sessions;
}

std::string ServerHost::Ask(const std::string& request) {
    Send(request);
    return ReadLine();
}

void ServerHost::Send(const std::string& line) {
    WriteAll(toHost_.get(), line + "\n");
}

// Polls the pipe so that a host that stops answering fails the soak instead of hanging it.
std::string ServerHost::ReadLine() {
    const DWORD start = GetTickCount();
    for (;;) {
        if (auto line = TakeLine(pending_))
            return *line;
        if (pending_.size() > kLongestAnswer)
            throw std::runtime_error("the server host's answer is too long: " +
                                     pending_.substr(0, 200));
        DWORD available = 0;
        if (!PeekNamedPipe(fromHost_.get(), nullptr, 0, nullptr, &available, nullptr))
            throw std::runtime_error("the server host has ended: " + pending_);
        if (available == 0) {
            if (GetTickCount() - start > kAnswerLimitMs)
                throw std::runtime_error("the server host does not answer");
            Sleep(10);
            continue;
        }
        char buffer[512];
        DWORD got = 0;
        if (!ReadFile(fromHost_.get(), buffer,
                      std::min<DWORD>(available, static_cast<DWORD>(sizeof buffer)), &got, nullptr))
            throw std::runtime_error("the server host has ended: " + pending_);
        pending_.append(buffer, got);
    }
}

} // namespace pw::soak
