// What must hold after every check of the fault-injection run, whatever the plan made fail;
// see ChaosRun.h.
#include <algorithm>

#include "ChaosRun.h"
#include "ChaosSeams.h"
#include "Injector.h"
#include "core/AgentTexts.h"

namespace pw::chaos {

namespace {

using soak::Outcome;
using soak::OutcomeText;

bool StartsWith(const std::string& line, const std::string& prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(const std::string& line, const std::string& part) {
    return line.find(part) != std::string::npos;
}

bool AnyLine(const std::vector<std::string>& trace, const std::string& part) {
    return std::any_of(trace.begin(), trace.end(),
                       [&](const std::string& line) { return Contains(line, part); });
}

// The mailbox whose certificate every check refuses.
constexpr char kRefusedCertificate[] = "expired@x";

// A status injected into the mailbox's session that is Secure Channel's verdict on the
// certificate (SEC_E_WRONG_PRINCIPAL, SEC_E_UNTRUSTED_ROOT, SEC_E_CERT_UNKNOWN,
// SEC_E_CERT_EXPIRED): the certificate is then refused rightly.
bool CertificateVerdictInjected(const std::string& line) {
    for (const Injector::Injected& injected : Injector::Instance().InjectedThisCheck()) {
        const int64_t code = injected.fault.code;
        if (StartsWith(line, "mailbox " + injected.mailbox + " ") &&
            (code == 0x80090322 || code == 0x80090325 || code == 0x80090327 || code == 0x80090328))
            return true;
    }
    return false;
}

} // namespace

std::vector<std::string> ChaosRun::Judge(const CheckPlan& plan,
                                         const std::vector<std::string>& trace) {
    std::vector<std::string> wrong;
    if (!soak::Traced(trace, "check due"))
        wrong.push_back("no check ran");
    JudgeMailboxes(plan, trace, wrong);
    for (const std::string& line : trace) {
        if (Contains(line, ": TLS established in "))
            ++tlsSessions_;
        // Only a failure that the dial-up library's own call raised may leave the check.
        if (Contains(line, "uncaught exception") ||
            (StartsWith(line, "check failed: ") &&
             (plan.ras.code == 0 || !Contains(line, "(ERASError)"))))
            wrong.push_back("an exception escaped: " + line);
        if (StartsWith(line, "mailbox ") && Contains(line, "(ECertificateError)") &&
            !StartsWith(line, std::string("mailbox ") + kRefusedCertificate) &&
            !CertificateVerdictInjected(line))
            wrong.push_back("a good certificate refused: " + line);
    }
    for (const soak::Watched& box : boxes_) {
        const std::string login = "POP3 " + box.user + "@" + box.server + " (";
        for (const std::string& line : trace)
            if (box.tls && StartsWith(line, login) && Contains(line, "): logged in, STAT"))
                wrong.push_back(box.address + " logged in without TLS");
    }
    JudgeRestingState(wrong);
    JudgeLeftovers(plan, wrong);
    wrong.insert(wrong.end(), surprises_.begin(), surprises_.end());
    const DWORD boundMs = static_cast<DWORD>(settings_.timeOut * 2 + 10) * 1000;
    if (Injector::Instance().LongestGapMs() > boundMs)
        wrong.push_back("a network wait lasted " +
                        std::to_string(Injector::Instance().LongestGapMs()) +
                        " ms, past its bound of " + std::to_string(boundMs) + " ms");
    if (poked_ && seams_->poker.Busy())
        wrong.push_back("the tray message and \"CLOSE\" got no answer");
    else if (poked_ && !seams_->poker.Answered())
        wrong.push_back(seams_->poker.Problem());
    if (ended_ || TPlaceHolder::Probe(*agent_).Ended())
        wrong.push_back("the agent ended");
    return wrong;
}

void ChaosRun::JudgeMailboxes(const CheckPlan& plan, const std::vector<std::string>& trace,
                              std::vector<std::string>& wrong) {
    std::vector<std::pair<Outcome, std::string>> seen;
    bool anyReached = false;
    for (const soak::Watched& box : boxes_) {
        std::string failure;
        seen.emplace_back(Observe(trace, box, failure), failure);
        anyReached |= seen.back().first != Outcome::NotReached;
    }
    if (anyReached && accountsUnread_)
        wrong.push_back("a mailbox was reached that the agent could not have read");
    if (!anyReached) {
        // Only a dial that failed twice, or accounts that could not be read, leave every
        // mailbox alone.
        const bool dialFailed = plan.ras.code != 0 && (AnyLine(trace, "RAS dial failed") ||
                                                       AnyLine(trace, "(ERASError)"));
        if (!dialFailed && !accountsUnread_)
            wrong.push_back("no mailbox was reached");
        for (soak::Watched& box : boxes_)
            soak::Count(box, Outcome::NotReached, dialFailed || accountsUnread_, "");
        return;
    }
    std::string notReached;
    for (size_t i = 0; i < boxes_.size(); ++i) {
        soak::Watched& box = boxes_[i];
        const auto& [got, failure] = seen[i];
        const Outcome expected = clearPasswordsRefused_
                                     ? Outcome::Failed
                                     : soak::Expected(box.role, plan.silent, plan.newMail);
        // A fault that may fail the session: failing is as good as the expected outcome.
        const bool excused =
            got == Outcome::Failed && !Injector::Instance().OnlyBenign(box.address);
        soak::Count(box, got, got == expected || excused, failure);
        if (got == expected || excused)
            continue;
        if (got == Outcome::NotReached)
            notReached += " " + box.address;
        else
            wrong.push_back(box.address + " " + OutcomeText(got) + " (expected " +
                            OutcomeText(expected) + (failure.empty() ? "" : ": " + failure) + ")");
    }
    if (!notReached.empty())
        wrong.push_back("not reached:" + notReached);
    const bool newMailFound = !seen.empty() && seen.back().first == Outcome::OneNewMessage;
    if (soak::Traced(trace, "start client: CXsystem.exe /PWGM") != newMailFound)
        wrong.push_back(newMailFound ? "the client was not started for the new mail"
                                     : "the client was started without new mail");
}

void ChaosRun::JudgeRestingState(std::vector<std::string>& wrong) {
    const TPlaceHolder::Probe probe(*agent_);
    if (probe.TrayImage() != TPlaceHolder::kImageStandAlone)
        wrong.push_back("the tray shows Image" + std::to_string(probe.TrayImage()));
    if (agent_->TrayIcon1.ToolTip() != kTipIdle)
        wrong.push_back("the tool tip says \"" + agent_->TrayIcon1.ToolTip() + "\"");
    if (!probe.MenuEnabled(kCheckNow1) || !probe.MenuEnabled(kStatus1))
        wrong.push_back("the menu items are disabled");
    if (!agent_->ExeTimer.Enabled())
        wrong.push_back("the minute tick is off");
    if (agent_->Timer2.Enabled())
        wrong.push_back("the busy animation runs");
    if (probe.Cycle().Busy() || !probe.Cycle().Mailbox().empty())
        wrong.push_back("the check cycle is not at rest");
}

void ChaosRun::JudgeLeftovers(const CheckPlan& plan, std::vector<std::string>& wrong) {
    if (agent_->POPbox.IsSocketOpen())
        wrong.push_back("the mail component's socket is open");
    if (seams_->winsock.OpenSockets() != 0)
        wrong.push_back(std::to_string(seams_->winsock.OpenSockets()) + " sockets not closed");
    if (test::SspiCalls::LiveContexts() != 0 || test::SspiCalls::LiveCredentials() > 1)
        wrong.push_back(std::to_string(test::SspiCalls::LiveContexts()) + " TLS contexts and " +
                        std::to_string(test::SspiCalls::LiveCredentials()) +
                        " credentials still held");
    const soak::ServerHost::Sessions sessions = host_.CountSessions();
    for (int s = 0; s < soak::kServerCount; ++s)
        if (sessions.finished[s] != sessions.accepted[s])
            wrong.push_back(std::string(soak::ServerName(soak::Server(s))) + " server: " +
                            std::to_string(sessions.accepted[s] - sessions.finished[s]) +
                            " sessions still open");
    // The line the agent dialled is hung up, unless the hang-up itself was made to fail.
    test::WriteTextFile(rasConfig_, "delay 1\n# between checks\n");
    const std::vector<std::string> lines = seams_->RasLines();
    if (std::find(lines.begin(), lines.end(), "Office") != lines.end()) {
        if (plan.ras.function != "RasHangUpA")
            wrong.push_back("the dialled line was left up");
        seams_->ResetRas();
    }
}

} // namespace pw::chaos
