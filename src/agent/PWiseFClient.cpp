// The client's commands: the poke handler of the agent's DDE item and the client checks that
// wait for a running check; see PWiseF.h.
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
            HandleUncaughtException(e);
            return;
        }
        Shared.ClientDone = true;
        return;
    }
    if (!BackgroundMode)
        return;
    switch (command.kind) {
    case ClientCommand::Close:
        ExeTimer.SetEnabled(false);
        Shared.StopRequested = true;
        // Acknowledged before the end, which leaves no moment to do it after.
        ack.Send();
        EndProgram();
        break;
    case ClientCommand::NewTime:
        if (const auto minutes = TryStrToInt(command.argument))
            CheckInterval = *minutes;
        break;
    case ClientCommand::Stop:
        ExeTimer.SetEnabled(false);
        Shared.StopRequested = true;
        SetToolTip(StalledTip(Environment.LongTime()));
        break;
    case ClientCommand::Start:
        ExeTimer.SetEnabled(true);
        Shared.StopRequested = false;
        SetToolTip(ContinuedTip(Environment.LongTime()));
        break;
    case ClientCommand::Check:
        ExeTimer.SetEnabled(false);
        Shared.StopRequested = true;
        checkCommandDuringDueCheck_ = dueCheckRunning_;
        // A poke that arrives from inside a running check's message processing waits: the
        // reporting check runs from the queue once that check has returned. The waits for the
        // client (its "DONE:", its program) leave POPbox idle, so the reporting check runs there
        // at once: a client that wants the "CHECK:" reply before it answers "DONE:" is served.
        if (MailboxesInUse()) {
            Trace("client check waits for the running check");
            deferredChecks_.push_back(std::move(ack));
            return;
        }
        RunClientCheck(std::move(ack));
        break;
    default:
        break;
    }
}

void TPlaceHolder::RunClientCheck(DdeServer::Acknowledgement ack) {
    clientCheckRunning_ = true;
    // However the check is left, the command is acknowledged (by the ack's own end) after it.
    const ScopeExit end([this] {
        clientCheckRunning_ = false;
        EndBusyAnimation();
        if (!deferredChecks_.empty())
            PostMessageA(form_.Handle(), kRunDeferredChecksMessage, 0, 0);
    });
    try {
        CheckForClient();
    } catch (const std::exception& e) {
        Trace(std::string("client check failed: ") + e.what());
        HandleUncaughtException(e);
    }
    ack.Send();
}

void TPlaceHolder::RunDeferredChecks() {
    if (ended_ || deferredChecks_.empty() || MailboxesInUse())
        return;
    DdeServer::Acknowledgement ack = std::move(deferredChecks_.front());
    deferredChecks_.pop_front();
    RunClientCheck(std::move(ack));
}

void TPlaceHolder::ClientinnChange() {
    ProcessMessages();
}

} // namespace pw
