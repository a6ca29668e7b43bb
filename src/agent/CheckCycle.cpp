// The check cycle's state and its rules; see CheckCycle.h.
#include "CheckCycle.h"

namespace pw {

bool CheckCycle::CheckCommandMustWait() const {
    return due_ == DuePhase::Walking || client_ != ClientPhase::None;
}

CheckCycle::Admission CheckCycle::Admit(Request request, DdeServer::Acknowledgement* ack) {
    if (request == Request::DueCheck)
        return Busy() ? Admission::Dropped : Admission::RunNow;
    if (!CheckCommandMustWait() && queued_.empty())
        return Admission::RunNow;
    queued_.push_back(ack != nullptr ? std::move(*ack) : DdeServer::Acknowledgement());
    return Admission::Queued;
}

bool CheckCycle::TakeQueued(DdeServer::Acknowledgement& ack) {
    if (queued_.empty() || CheckCommandMustWait())
        return false;
    ack = std::move(queued_.front());
    queued_.pop_front();
    return true;
}

void CheckCycle::EndDueCheck() {
    due_ = DuePhase::None;
    mailbox_.clear();
    tickHeld_ = tickHeldPastDueCheck_ && halted_;
    tickHeldPastDueCheck_ = false;
}

void CheckCycle::Halt(bool byCheckCommand) {
    halted_ = true;
    tickHeld_ = true;
    if (byCheckCommand && due_ != DuePhase::None)
        tickHeldPastDueCheck_ = true;
}

void CheckCycle::Resume() {
    halted_ = false;
    tickHeld_ = false;
    tickHeldPastDueCheck_ = false;
}

void CheckCycle::ServeCatchUp() {
    for (const int64_t stamp : catchUpMissed_)
        served_.Add(stamp);
    catchUpMissed_.clear();
}

bool CheckCycle::AddRetry(const std::string& mailbox) {
    if (!retried_.insert(mailbox).second)
        return false;
    retries_.insert(mailbox);
    return true;
}

void CheckCycle::Reset() {
    due_ = DuePhase::None;
    client_ = ClientPhase::None;
    halted_ = false;
    tickHeld_ = false;
    tickHeldPastDueCheck_ = false;
    clientAnswered_ = false;
    clientProgramEnded_ = false;
    mailbox_.clear();
    report_.clear();
    queued_.clear();
    wake_ = WakeWatch();
    served_ = CheckedMinutes();
    catchUpMissed_.clear();
    retries_.clear();
    retried_.clear();
    delays_ = LoginDelays();
    alerts_.clear();
}

} // namespace pw
