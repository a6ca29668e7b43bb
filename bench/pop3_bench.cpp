// Measures (a) the processor time a socket wait burns while a server says nothing and (b) the
// time per mailbox of a check, next to a minimal blocking POP3 checker in the same process.
//   pop3_bench [--rounds N] [--no-idle] [--floor-only]
//              [host:port user-pattern password-pattern [accounts]]
// "%d" in the patterns is replaced by 1..accounts (default 8), cycled over the 100 mailboxes.
// Without a server the scripted one is used. Each mailbox must hold at least two messages.
// (b) runs N rounds (default 5) over the 100 mailboxes, ten at a time checked by the component,
// by the reference and by the reference with nothing new (the agent's dialogue: one
// message examined, the floor of a scheduled check under this Winsock), and reports the medians
// and the median of the rounds' ratios; the last line, "bench: ...", is for scripts. The
// component asks the server's capabilities as the agent does, and the reference then sends the
// same commands in the same groups. --floor-only runs the third side alone (the floor beside a
// scheduled check of the agent, scripts/bench.sh) and ends with "floor: ...".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "core/Text.h"
#include "mail/agwsock.h"
#include "mail/mspop3.h"
#include "pop3script/ScriptedPop3Server.h"

namespace pw {
namespace {

constexpr int kMailboxes = 100;
constexpr int kTurnMailboxes = 10; // a side's turn in a round; kMailboxes is a multiple of it

struct Account {
    std::string user;
    std::string password;
};

ULONGLONG Ms(const FILETIME& t) {
    return ((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
}

ULONGLONG ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return Ms(kernel) + Ms(user);
}

ULONGLONG ThreadCpuMs() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return Ms(kernel) + Ms(user);
}

// Milliseconds since an arbitrary start, finer than GetTickCount's ticks on Windows.
double NowMs() {
    static const double perMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return double(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / perMs;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string Expand(const std::string& pattern, int n) {
    const size_t at = pattern.find("%d");
    return at == std::string::npos
               ? pattern
               : pattern.substr(0, at) + std::to_string(n) + pattern.substr(at + 2);
}

void IdleWait() {
    test::ScriptedPop3Server server;
    test::SessionScript silent;
    silent.greeting = test::Response::Hang();
    server.SetScript(silent);
    server.Start();
    TmsRemotePOP pop;
    pop.SetWinsockLoaded(true);
    pop.SetTimeOut(10);
    pop.Server = "127.0.0.1:" + std::to_string(server.Port());
    pop.UserName = "bench";
    pop.Password = "bench";
    pop.Open();
    pop.ResetState();
    pop.ConnectSocket();
    const ULONGLONG cpu0 = ProcessCpuMs(), thread0 = ThreadCpuMs();
    const DWORD wall0 = GetTickCount();
    std::string line;
    try {
        pop.ReadReply(line);
    } catch (const ETimedOutError&) {
    }
    const DWORD wall = GetTickCount() - wall0;
    const ULONGLONG cpu = ProcessCpuMs() - cpu0, thread = ThreadCpuMs() - thread0;
    std::printf("(a) silent server, ReadReply until its 10 s time-out: wall %lu ms, process cpu "
                "%llu ms (%.2f%% of wall), waiting thread cpu %llu ms\n",
                static_cast<unsigned long>(wall), cpu, 100.0 * double(cpu) / double(wall), thread);
}

// The reference: blocking Winsock calls, a buffered reader, no messages, no time-outs. Pipelined
// (for a server that says PIPELINING), it groups the commands as the component does.
class BlockingChecker {
public:
    BlockingChecker(const std::string& server, bool pipelined) : pipelined_(pipelined) {
        const size_t colon = server.find(':');
        address_.sin_family = AF_INET;
        address_.sin_addr.s_addr = Ws().inet_addr(server.substr(0, colon).c_str());
        address_.sin_port = Ws().htons(static_cast<u_short>(std::stoi(server.substr(colon + 1))));
    }

    // Counts the new messages newest first against one known id, as the agent does.
    int CountNew(const Account& account, const std::string& knownId) {
        socket_ = Ws().socket(AF_INET, SOCK_STREAM, 0);
        if (Ws().connect(socket_, reinterpret_cast<sockaddr*>(&address_), sizeof address_) != 0)
            throw Exception("reference: cannot connect");
        pending_.clear();
        Expect(ReadLine());
        if (pipelined_)
            Send("USER " + account.user + "\r\nPASS " + account.password + "\r\nSTAT");
        Expect(Command("USER " + account.user));
        Expect(Command("PASS " + account.password));
        const std::string stat = Command("STAT");
        Expect(stat);
        int count = std::stoi(stat.substr(4));
        int fresh = 0;
        for (int n = count; n >= 1; --n) {
            const std::string number = std::to_string(n);
            if (pipelined_)
                Send("LIST " + number + "\r\nTOP " + number + " 1\r\nUIDL " + number);
            Expect(Command("LIST " + number));
            Expect(Command("TOP " + number + " 1"));
            while (ReadLine() != ".") {
            }
            const std::string uidl = Command("UIDL " + number);
            const std::string id = uidl.substr(uidl.find(' ', 4) + 1);
            if (id == knownId)
                break;
            ++fresh;
        }
        Expect(Command("QUIT"));
        Ws().closesocket(socket_);
        return fresh;
    }

private:
    static const TagWinsock& Ws() { return SharedWinsock(); }
    static void Expect(const std::string& reply) {
        if (reply.empty() || reply[0] != '+')
            throw Exception("reference: " + reply);
    }
    void Send(const std::string& lines) {
        const std::string text = lines + "\r\n";
        Ws().send(socket_, text.data(), static_cast<int>(text.size()), 0);
    }
    // Sends the command, unless it went with its group already, and reads its reply.
    std::string Command(const std::string& line) {
        if (!pipelined_ || line == "QUIT")
            Send(line);
        return ReadLine();
    }
    std::string ReadLine() {
        for (;;) {
            if (auto line = TakeLine(pending_))
                return *line;
            char chunk[4096];
            const int n = Ws().recv(socket_, chunk, sizeof chunk, 0);
            if (n <= 0)
                throw Exception("reference: connection lost");
            pending_.append(chunk, static_cast<size_t>(n));
        }
    }

    bool pipelined_;
    sockaddr_in address_{};
    SOCKET socket_ = INVALID_SOCKET;
    std::string pending_;
};

void Mailboxes(const std::string& server, const std::vector<Account>& accounts, int rounds,
               bool floorOnly) {
    TmsRemotePOP pop;
    pop.SetWinsockLoaded(true);
    pop.SetTimeOut(30);
    pop.Server = server;
    pop.AskCapabilities = true; // as the agent does
    WSADATA data;
    SharedWinsock().WSAStartup(0x0101, &data); // for the reference checker

    // Mark every message but the newest as known, by its UIDL id. The newest ids give the
    // agent's own dialogue when nothing is new: one message examined.
    std::vector<std::string> knownIds, newestIds;
    for (const Account& account : accounts) {
        pop.UserName = account.user;
        pop.Password = account.password;
        pop.OpenMailbox();
        if (pop.MessageCount < 2)
            throw Exception(account.user + ": needs at least two messages");
        knownIds.push_back(pop.GetUniqueId(pop.MessageCount - 2, ""));
        newestIds.push_back(pop.GetUniqueId(pop.MessageCount - 1, ""));
        pop.CloseMailbox();
    }

    // The known-ids files are written before the clock runs: one per account.
    for (size_t a = 0; a < accounts.size(); ++a) {
        pop.UserName = accounts[a].user;
        std::ofstream(pop.KnownIdsFileName(), std::ios::binary) << knownIds[a] << ";bench\r\n";
    }

    // The reference speaks the component's dialogue: pipelined where the server allows it.
    const bool pipelined =
        pop.ServerCapabilities() != nullptr && pop.ServerCapabilities()->Pipelining;
    std::printf("    the server says %s: the reference %s\n",
                pop.ServerCapabilities() != nullptr
                    ? CapabilitiesText(*pop.ServerCapabilities()).c_str()
                    : "nothing",
                pipelined ? "pipelines as the component does" : "sends one command at a time");
    BlockingChecker reference(server, pipelined);
    int wrong = 0;
    std::vector<double> components, references, ratios, floors;
    for (int round = 1; round <= rounds; ++round) {
        // The three sides take turns ten mailboxes at a time, each first in turn, so that a
        // load that comes and goes on the machine falls on all of them alike. (Turns of one
        // mailbox made every side about twice as slow.)
        double spent[3] = {0, 0, 0};
        for (int block = 0; block < kMailboxes / kTurnMailboxes; ++block) {
            for (int turn = 0; turn < 3; ++turn) {
                const int which = (block + turn) % 3;
                if (floorOnly && which != 2)
                    continue;
                const double start = NowMs();
                for (int i = block * kTurnMailboxes; i < (block + 1) * kTurnMailboxes; ++i) {
                    const size_t a = static_cast<size_t>(i) % accounts.size();
                    if (which == 0) {
                        pop.UserName = accounts[a].user;
                        pop.Password = accounts[a].password;
                        pop.OpenMailbox();
                        pop.CountNewMessages();
                        pop.CloseMailbox();
                        wrong += pop.NewMessageCount != 1;
                    } else if (which == 1) {
                        wrong += reference.CountNew(accounts[a], knownIds[a]) != 1;
                    } else {
                        wrong += reference.CountNew(accounts[a], newestIds[a]) != 0;
                    }
                }
                spent[which] += NowMs() - start;
            }
        }
        components.push_back(spent[0] / kMailboxes);
        references.push_back(spent[1] / kMailboxes);
        floors.push_back(spent[2] / kMailboxes);
        ratios.push_back(floorOnly ? 0.0 : components.back() / references.back());
        std::printf("    round %d: TmsRemotePOP %.3f ms/mailbox, blocking reference %.3f "
                    "ms/mailbox, blocking with nothing new %.3f ms/mailbox\n",
                    round, components.back(), references.back(), floors.back());
    }
    for (const Account& account : accounts) {
        pop.UserName = account.user;
        std::remove(pop.KnownIdsFileName().c_str());
    }
    SharedWinsock().WSACleanup();
    // The ratio is the median of each round's own: a round's sides share its load, and a round
    // that a load hit harder than the rest does not move it.
    const double component = Median(components), blocking = Median(references);
    const double ratio = Median(ratios), floor = Median(floors);
    if (floorOnly) {
        std::printf("floor: floor_ms=%.3f rounds=%d wrong=%d\n", floor, rounds, wrong);
        return;
    }
    std::printf("(b) %d mailboxes at %s, median of %d rounds: TmsRemotePOP %.3f ms/mailbox, "
                "blocking reference %.3f ms/mailbox, ratio %.2f; blocking with nothing new "
                "%.3f ms/mailbox%s\n",
                kMailboxes, server.c_str(), rounds, component, blocking, ratio, floor,
                wrong ? " (SOME COUNTS WERE WRONG)" : "");
    std::printf("bench: component_ms=%.3f reference_ms=%.3f ratio=%.3f floor_ms=%.3f rounds=%d "
                "wrong=%d\n",
                component, blocking, ratio, floor, rounds, wrong);
}

int Run(int argc, char** argv) {
    int rounds = 5;
    bool idle = true;
    bool floorOnly = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::stoi(argv[++i]));
        else if (arg == "--no-idle")
            idle = false;
        else if (arg == "--floor-only")
            floorOnly = true;
        else
            args.push_back(arg);
    }
    if (idle)
        IdleWait();
    if (args.size() >= 3) {
        const int count = args.size() >= 4 ? std::stoi(args[3]) : 8;
        std::vector<Account> accounts;
        for (int n = 1; n <= count; ++n)
            accounts.push_back({Expand(args[1], n), Expand(args[2], n)});
        Mailboxes(args[0], accounts, rounds, floorOnly);
        return 0;
    }
    test::ScriptedPop3Server server;
    std::vector<Account> accounts;
    for (int n = 1; n <= 8; ++n) {
        test::Mailbox box{"bench" + std::to_string(n), "secret" + std::to_string(n), {}};
        for (int m = 1; m <= 3; ++m)
            box.messages.push_back({"From: a@example.org\r\nSubject: " + std::to_string(m),
                                    "body\r\n",
                                    "id-" + std::to_string(n) + "-" + std::to_string(m)});
        accounts.push_back({box.user, box.password});
        server.AddMailbox(box);
    }
    server.Start();
    Mailboxes("127.0.0.1:" + std::to_string(server.Port()), accounts, rounds, floorOnly);
    return 0;
}

} // namespace
} // namespace pw

int main(int argc, char** argv) {
    try {
        return pw::Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "pop3_bench: %s\n", error.what());
        return 1;
    }
}
