// The stand-in client's DDE side; see StandInDde.h.
#include "StandInDde.h"

#include "StandInFiles.h"
#include "StandInLog.h"
#include "core/Redaction.h"
#include "core/Text.h"

namespace pw {

namespace {
constexpr char kService[] = "CXsystem";
constexpr char kTopic[] = "TalkerConversion";
constexpr char kItem[] = "TalkerCalls";
constexpr char kAgentTopic[] = "BackgroundConversation";
constexpr char kAgentItem[] = "BackgroundCalls";
constexpr UINT kControlPollMs = 200;
// Long enough for the agent to have closed the conversation of its "GET:".
constexpr UINT kAskForCheckDelayMs = 300;
constexpr std::size_t kMaxControlFileBytes = 1024 * 1024;
} // namespace

std::string UnescapeControlLine(std::string_view line) {
    std::string text;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            text += line[i];
            continue;
        }
        const char next = line[++i];
        text += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    }
    return text;
}

StandInDde::StandInDde(StandInDdeOptions options, StandInLog& log)
    : options_(std::move(options)), log_(log),
      window_([this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
          return HandleMessage(msg, wParam, lParam, result);
      }),
      controlTimer_(nullptr, kControlPollMs, true),
      askForCheckTimer_(nullptr, kAskForCheckDelayMs, false),
      checkReplyTimer_(nullptr, options_.checkReplyLimitMs, false) {
    dde_.OnTransaction = [this](DdeInstance&, const DdeTransaction& transaction) {
        return Transaction(transaction);
    };
    // Registered before the message loop runs, so that a program that started us and waits
    // for us to become idle can connect at once.
    log_.Write(dde_.RegisterService(kService) ? "dde: serving CXsystem"
                                              : "dde: cannot register CXsystem");
    controlTimer_.OnTimer = [this](TObject&) { PollControlFile(); };
    askForCheckTimer_.OnTimer = [this](TObject&) { AskForCheck(); };
    checkReplyTimer_.OnTimer = [this](TObject&) { CheckAnswered("no CHECK: reply in time"); };
}

StandInDde::~StandInDde() {
    controlTimer_.SetEnabled(false);
    if (worker_.joinable())
        worker_.join();
    outgoing_.clear();
    dde_.OnTransaction = nullptr;
}

HDDEDATA StandInDde::Transaction(const DdeTransaction& t) {
    switch (t.type) {
    case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(dde_.Same(t.string1, kTopic) ? TRUE : FALSE);
    case XTYP_ADVSTART:
        if (!dde_.Same(t.string2, kItem))
            return reinterpret_cast<HDDEDATA>(FALSE);
        log_.Write(options_.refuseAdvise ? "dde: advise link refused" : "dde: advise link granted");
        return reinterpret_cast<HDDEDATA>(options_.refuseAdvise ? FALSE : TRUE);
    case XTYP_ADVREQ:
        return MakeDdeText(dde_, t.string2, "");
    case XTYP_POKE: {
        if (!dde_.Same(t.string2, kItem) || t.format != CF_TEXT)
            return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
        const std::string text = DdeDataText(t.data);
        log_.Write("poke: " + DdeLogText(text));
        if (StartsWith(text, "CHECK:") && !waitingForCheck_.empty())
            PostMessageA(window_.Handle(), kCheckAnsweredMessage, 0, 0);
        if (StartsWith(text, "GET:")) {
            if (options_.answerGet && options_.checkFirst) {
                waitingForCheck_.push_back(text.substr(4));
                PostMessageA(window_.Handle(), kAskForCheckMessage, 0, 0);
            } else if (options_.answerGet) {
                retrievals_.push_back(text.substr(4));
                PostMessageA(window_.Handle(), kRetrievalDoneMessage, 0, -1);
            } else {
                log_.Write("dde: not answering GET:");
            }
        }
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
    }
    case XTYP_XACT_COMPLETE:
    case XTYP_DISCONNECT:
        for (Outgoing& poke : outgoing_) {
            if (poke.finished || poke.conversation->Handle() != t.conversation)
                continue;
            poke.finished = true;
            log_.Write((t.type == XTYP_DISCONNECT ? "agent ended the conversation: "
                        : t.data != nullptr       ? "ack: "
                                                  : "nack: ") +
                       DdeLogText(poke.text));
            // Conversations are not closed from inside DDEML's callback.
            PostMessageA(window_.Handle(), kDropFinishedMessage, 0, 0);
        }
        return nullptr;
    default:
        return nullptr;
    }
}

bool StandInDde::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    if (msg == kDropFinishedMessage) {
        DropFinished();
        return true;
    }
    if (msg == kAskForCheckMessage) {
        askForCheckTimer_.SetEnabled(true);
        return true;
    }
    if (msg == kCheckAnsweredMessage) {
        CheckAnswered("CHECK: reply received");
        return true;
    }
    if (msg == kRetrievalDoneMessage) {
        // lParam -1: a new request only; otherwise the worker's count in wParam.
        if (lParam != -1)
            RetrievalDone(static_cast<int>(wParam));
        StartNextRetrieval();
        return true;
    }
    return false;
}

void StandInDde::StartNextRetrieval() {
    if (retrieving_ || retrievals_.empty())
        return;
    if (worker_.joinable())
        worker_.join();
    const std::string list = retrievals_.front();
    retrievals_.pop_front();
    retrieving_ = true;
    log_.Write("retrieval: for " + DdeLogText(list));
    worker_ = std::thread([this, list, target = window_.Handle()] {
        int count = 0;
        try {
            count = RetrieveNewMail(LoadAccounts(log_), MailboxSelection::FromList(list),
                                    options_.retrieval, log_);
        } catch (const std::exception& e) {
            log_.Write(std::string("retrieval: failed: ") + e.what());
        }
        PostMessageA(target, kRetrievalDoneMessage, static_cast<WPARAM>(count), 0);
    });
}

void StandInDde::AskForCheck() {
    askForCheckTimer_.SetEnabled(false);
    log_.Write("dde: asking for a check before answering GET:");
    checkReplyTimer_.SetEnabled(true);
    PokeAgent("CHECK");
}

// The held "GET:" lists go to the retrieval once the agent has answered the "CHECK" (or has
// not within the limit).
void StandInDde::CheckAnswered(const std::string& how) {
    checkReplyTimer_.SetEnabled(false);
    if (waitingForCheck_.empty())
        return;
    log_.Write("dde: " + how);
    for (std::string& list : waitingForCheck_)
        retrievals_.push_back(std::move(list));
    waitingForCheck_.clear();
    StartNextRetrieval();
}

void StandInDde::RetrievalDone(int count) {
    retrieving_ = false;
    PokeAgent("DONE:" + std::to_string(count));
}

void StandInDde::PokeAgent(const std::string& text) {
    Outgoing poke{text, std::make_unique<DdeConversation>(), false};
    if (!poke.conversation->Connect(dde_, options_.agentService, kAgentTopic)) {
        log_.Write("poke to agent failed, no conversation: " + DdeLogText(text));
        return;
    }
    if (!poke.conversation->PokeAsync(kAgentItem, text)) {
        log_.Write("poke to agent failed: " + DdeLogText(text));
        return;
    }
    log_.Write("poke sent: " + DdeLogText(text));
    outgoing_.push_back(std::move(poke));
}

void StandInDde::DropFinished() {
    for (auto it = outgoing_.begin(); it != outgoing_.end();)
        it = it->finished ? outgoing_.erase(it) : it + 1;
}

void StandInDde::PollControlFile() {
    if (options_.controlFile.empty())
        return;
    const auto content = ReadWholeFile(options_.controlFile, kMaxControlFileBytes);
    if (!content)
        return;
    size_t start = 0;
    size_t line = 0;
    for (size_t end; (end = content->find('\n', start)) != std::string::npos; start = end + 1) {
        if (line++ < controlLinesDone_)
            continue;
        ++controlLinesDone_;
        std::string text = content->substr(start, end - start);
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        PokeAgent(UnescapeControlLine(text));
    }
}

} // namespace pw
