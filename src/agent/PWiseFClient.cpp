// The client's commands: the poke handler of the agent's DDE item, and the client's check with
// its "CHECK:" reply, which waits in the check cycle's queue while a walk runs; see PWiseF.h.
#include "PWiseF.h"

#include "core/Errors.h"
#include "core/ScopeExit.h"
#include "core/Text.h"
#include "win/ExceptionHook.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

namespace {
// Rounds of pending messages before a command is carried out: what the client sent just before
// it (acknowledgements, the end of a conversation) is handled first.
constexpr int kPumpsBeforeCommand = 10;
} // namespace

void TPlaceHolder::BackgroundCallsPokeData(const std::string& text,
                                           DdeServer::Acknowledgement ack) {
    for (int i = 0; i < kPumpsBeforeCommand; ++i)
        ProcessMessages();
    const ClientCommand command = ParseClientCommand(text);
    if (command.kind == ClientCommand::Done) {
        try {
            ArrivedCount = StrToInt(command.argument);
        } catch (const EConvertError& e) {
            HandleUncaughtException(e, "dde in: DONE: without a count");
            return;
        }
        cycle_.SetClientAnswered(true);
        return;
    }
    if (!BackgroundMode)
        return;
    switch (command.kind) {
    case ClientCommand::Close:
        cycle_.Halt(false);
        ShowCheckState();
        // Acknowledged before the end, which leaves no moment to do it after.
        ack.Send();
        EndProgram();
        break;
    case ClientCommand::NewTime:
        if (const auto minutes = TryStrToInt(command.argument))
            CheckInterval = *minutes;
        break;
    case ClientCommand::Stop:
        cycle_.Halt(false);
        ShowCheckState();
        SetToolTip(StalledTip(Environment.LongTime()));
        break;
    case ClientCommand::Start:
        cycle_.Resume();
        ShowCheckState();
        SetToolTip(ContinuedTip(Environment.LongTime()));
        break;
    case ClientCommand::Check:
        cycle_.Halt(true);
        ShowCheckState();
        // A poke that arrives from inside a running walk's message processing waits: the
        // reporting check runs from the queue once that walk has returned.
        if (cycle_.Admit(CheckCycle::Request::ClientCheck, &ack) == CheckCycle::Admission::Queued) {
            Trace("client check waits for the running check");
            return;
        }
        RunClientCheck(std::move(ack));
        break;
    default:
        break;
    }
}

void TPlaceHolder::RunClientCheck(DdeServer::Acknowledgement ack) {
    cycle_.SetClient(CheckCycle::ClientPhase::Walking);
    // However the check is left, the command is acknowledged (by the ack's own end) after it.
    const ScopeExit end([this] {
        cycle_.SetClient(CheckCycle::ClientPhase::None);
        ShowCheckState();
        PostQueuedChecks();
    });
    ShowCheckState();
    try {
        CheckForClient();
    } catch (const std::exception& e) {
        HandleUncaughtException(e, "client check failed");
    }
    ack.Send();
}

// The client's check: every mailbox, each announced, and the entries of those with new mail
// in the reply. It leaves the menu, the minute tick and a line it dialled as they are.
void TPlaceHolder::CheckForClient() {
    cycle_.StartReport();
    try {
        if (!DialForCheck()) {
            cycle_.SetClient(CheckCycle::ClientPhase::Replying);
            FinishCheck();
            return;
        }
        ProcessMessages();
        WalkPolicy policy;
        policy.NoteEachMailbox = true;
        WalkMailboxes(policy, [this](const AccountRecord& record, int32_t newMessages) {
            const std::string address = record.AccountAddress.str();
            cycle_.AddToReport(ReportEntry(record.AccountUser.str(), POPbox.Server, POPbox.UserName,
                                           address, POPbox.Password, newMessages));
            Trace("report: " + address + " has " + std::to_string(newMessages) + " new");
        });
    } catch (const std::exception& e) {
        TraceCaught("client check failed", e);
    }
    cycle_.SetClient(CheckCycle::ClientPhase::Replying);
    FinishCheck();
    const std::vector<std::string> report = cycle_.Report();
    ClientLink->SendReport(report);
}

void TPlaceHolder::PostQueuedChecks() {
    if (cycle_.HasQueued())
        PostMessageA(form_.Handle(), kRunQueuedChecksMessage, 0, 0);
}

void TPlaceHolder::RunQueuedChecks() {
    DdeServer::Acknowledgement ack;
    if (ended_ || !cycle_.TakeQueued(ack))
        return;
    RunClientCheck(std::move(ack));
}

void TPlaceHolder::ClientinnChange() {
    ProcessMessages();
}

} // namespace pw
