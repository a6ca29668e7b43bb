// The agent's check cycle as one object: what runs now, the mailbox in hand, the report being
// built, whether the client has halted checking, and the requests that came meanwhile. Every
// wait of a check processes messages, so a "CHECK", a menu click or a tick arrives in the middle
// of one; what becomes of each is decided here, in Admit.
#pragma once

#include <atomic>
#include <deque>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/MailboxAlerts.h"
#include "core/ServerReason.h"
#include "core/Wake.h"
#include "win/DdeServer.h"

namespace pw {

class CheckCycle {
public:
    // A due check (a minute tick or "Check Now!" found it due): the walk over the mailboxes,
    // then either its plain end or the retrieval it asks for, by DDE (background mode) or by
    // the client program (stand-alone mode).
    enum class DuePhase { None, Walking, Finishing, AskingClient, ClientProgram };
    // The client's "CHECK": the walk, then the "CHECK:" reply.
    enum class ClientPhase { None, Walking, Replying };

    enum class Request {
        DueCheck,    // a minute tick or "Check Now!"
        ClientCheck, // the client's "CHECK"
    };
    enum class Admission {
        RunNow,
        Queued,  // runs from the queue once no walk or reply uses the mailboxes' results
        Dropped, // the check that runs now serves it
    };

    DuePhase Due() const { return due_; }
    ClientPhase Client() const { return client_; }
    // A walk over the mailboxes is under way (the tray shows the busy animation).
    bool Walking() const { return due_ == DuePhase::Walking || client_ == ClientPhase::Walking; }
    bool Busy() const { return due_ != DuePhase::None || client_ != ClientPhase::None; }

    // One check at a time. A due request while anything runs is dropped: the running check, or
    // the retrieval it started, covers it. A "CHECK" waits while a walk runs or a client check
    // is not yet over; the waits for the client leave the mailboxes free, so a client that
    // wants the "CHECK:" reply before it answers "DONE:" is served at once. A queued "CHECK"
    // keeps its acknowledgement (moved from *ack) until it has run.
    Admission Admit(Request request, DdeServer::Acknowledgement* ack = nullptr);
    // The next queued "CHECK", when one may run now, taken out of the queue.
    bool TakeQueued(DdeServer::Acknowledgement& ack);
    bool HasQueued() const { return !queued_.empty(); }

    void SetDue(DuePhase phase) { due_ = phase; }
    // The due check and its retrieval are over. A "CHECK" that came during it keeps the minute
    // tick held until "START".
    void EndDueCheck();
    void SetClient(ClientPhase phase) { client_ = phase; }

    // The client's "STOP", "CHECK" and "CLOSE" halt checking: a due check leaves its walk before
    // the next mailbox, and the minute tick is held off; "START" undoes both.
    void Halt(bool byCheckCommand);
    void Resume();
    bool Halted() const { return halted_; }
    bool TickHeld() const { return tickHeld_; }

    // The mailbox the walk is at; empty outside a session.
    const std::string& Mailbox() const { return mailbox_; }
    void SetMailbox(std::string address) { mailbox_ = std::move(address); }

    // What the last walk found: the addresses with new mail (due check) or the report entries
    // (client check).
    const std::vector<std::string>& Report() const { return report_; }
    void StartReport() { report_.clear(); }
    void AddToReport(std::string line) { report_.push_back(std::move(line)); }

    // The retrieval exchange with the running client is over: it answered "DONE:", or it could
    // not be asked.
    bool ClientAnswered() const { return clientAnswered_; }
    void SetClientAnswered(bool answered) { clientAnswered_ = answered; }
    // The client program started in stand-alone mode has ended; set by the launcher's thread.
    bool ClientProgramEnded() const { return clientProgramEnded_.load(); }
    void SetClientProgramEnded(bool ended) { clientProgramEnded_ = ended; }

    // Time that passed without the agent (sleep, a frozen process), and the scheduled minutes
    // that checks have served, so that none is checked twice.
    WakeWatch& Wake() { return wake_; }
    CheckedMinutes& Served() { return served_; }
    // The catch-up check that a wake asked for, and the scheduled minutes it serves.
    void SetCatchUp(std::vector<int64_t> missed) { catchUpMissed_ = std::move(missed); }
    // The catch-up is taken care of (it runs now, or another check served it).
    void ServeCatchUp();
    // A new wake: each mailbox may be tried again once more after it.
    void NewWake() { retried_.clear(); }
    // A mailbox that failed as unreachable just after a wake; false when it had its retry.
    bool AddRetry(const std::string& mailbox);
    void RetrySucceeded(const std::string& mailbox) { retries_.erase(mailbox); }
    std::set<std::string> TakeRetries() { return std::exchange(retries_, {}); }
    // Mailboxes whose servers asked for fewer logins.
    LoginDelays& Delays() { return delays_; }

    // The failures to tell of the walk that runs: one balloon when it ends.
    void AddAlert(MailboxAlert alert) { alerts_.push_back(std::move(alert)); }
    bool HasAlerts() const { return !alerts_.empty(); }
    std::vector<MailboxAlert> TakeAlerts() { return std::exchange(alerts_, {}); }

    // Everything back to its state at program start.
    void Reset();

private:
    bool CheckCommandMustWait() const;

    DuePhase due_ = DuePhase::None;
    ClientPhase client_ = ClientPhase::None;
    bool halted_ = false;
    bool tickHeld_ = false;
    bool tickHeldPastDueCheck_ = false; // a "CHECK" came during the due check that runs
    bool clientAnswered_ = false;
    std::atomic<bool> clientProgramEnded_{false};
    std::string mailbox_;
    std::vector<std::string> report_;
    std::deque<DdeServer::Acknowledgement> queued_;
    WakeWatch wake_;
    CheckedMinutes served_;
    std::vector<int64_t> catchUpMissed_;
    std::set<std::string> retries_;
    std::set<std::string> retried_; // tried again after the last wake already
    LoginDelays delays_;
    std::vector<MailboxAlert> alerts_;
};

} // namespace pw
