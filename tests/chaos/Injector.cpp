// The fault-injection run's switchboard; see Injector.h.
#include "Injector.h"

#include <algorithm>

namespace pw::chaos {

Injector& Injector::Instance() {
    static Injector instance;
    return instance;
}

void Injector::BeginCheck(const CheckPlan& plan) {
    plan_ = &plan;
    paused_ = false;
    session_.clear();
    calls_.clear();
    injected_.clear();
    socketCalls_ = 0;
    lastCall_ = 0;
    longestGapMs_ = 0;
}

// A new session starts its counts anew.
void Injector::Follow() {
    std::string mailbox = CurrentMailbox ? CurrentMailbox() : std::string();
    if (mailbox != session_) {
        session_ = std::move(mailbox);
        calls_.clear();
        lastCall_ = 0;
    }
}

const PlannedFault* Injector::Strike(Site site) {
    if (paused_ || plan_ == nullptr)
        return nullptr;
    Follow();
    if (session_.empty())
        return nullptr;
    const int call = ++calls_[site];
    const auto faults = plan_->sessions.find(session_);
    if (faults == plan_->sessions.end())
        return nullptr;
    for (const PlannedFault& fault : faults->second) {
        if (FaultKinds()[fault.kind].site == site && fault.ordinal == call) {
            injected_.push_back({session_, fault});
            ++tally_[Describe(fault)];
            ++kinds_[FaultKinds()[fault.kind].name];
            ++total_;
            return &fault;
        }
    }
    return nullptr;
}

void Injector::Touch() {
    if (paused_ || plan_ == nullptr)
        return;
    Follow();
    const DWORD now = GetTickCount();
    if (!session_.empty()) {
        if (lastCall_ != 0)
            longestGapMs_ = std::max(longestGapMs_, now - lastCall_);
        lastCall_ = now;
    }
    if (++socketCalls_ == plan_->pokeAt && OnPoke)
        OnPoke();
}

bool Injector::OnlyBenign(const std::string& mailbox) const {
    return std::all_of(injected_.begin(), injected_.end(), [&](const Injected& injected) {
        return injected.mailbox != mailbox || FaultKinds()[injected.fault.kind].benign;
    });
}

} // namespace pw::chaos
