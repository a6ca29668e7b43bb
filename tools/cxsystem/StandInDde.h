// The stand-in client's DDE side: it serves "CXsystem" / "TalkerConversion" / "TalkerCalls",
// grants (or, when told, refuses) the agent's warm advise link, logs every poke, answers
// "GET:" by retrieving the listed mailboxes and poking "DONE:" + count at the agent, and pokes
// at the agent every line that a test or the demo appends to its control file.
//
// Control file (PW_CXSTAND_COMMANDS, default "CXsystem.cmd" beside the program): polled every
// 200 ms; each complete line (ended by LF) is one text to poke, "\r", "\n" and "\\" written as
// escapes. Only append to it: lines already poked are counted, not removed.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MailRetrieval.h"
#include "win/Dde.h"
#include "win/Timer.h"
#include "win/UtilityWindow.h"

namespace pw {

class StandInLog;

struct StandInDdeOptions {
    bool refuseAdvise = false; // refuse the advise link on "TalkerCalls"
    bool answerGet = true;     // false: log "GET:" but never answer it
    // Before retrieving for a "GET:", poke "CHECK" at the agent and wait for its "CHECK:" reply
    // (at most checkReplyLimitMs; then the retrieval goes ahead and the log says so).
    bool checkFirst = false;
    UINT checkReplyLimitMs = 20000;
    std::string agentService = "pwagent";
    std::string controlFile;
    RetrievalSettings retrieval;
};

// The text of one control-file line with its escapes undone.
std::string UnescapeControlLine(std::string_view line);

class StandInDde {
public:
    StandInDde(StandInDdeOptions options, StandInLog& log);
    StandInDde(const StandInDde&) = delete;
    StandInDde& operator=(const StandInDde&) = delete;
    ~StandInDde();

    // Pokes the text at the agent on a conversation of its own, closed once acknowledged.
    void PokeAgent(const std::string& text);

private:
    struct Outgoing {
        std::string text;
        std::unique_ptr<DdeConversation> conversation;
        bool finished = false;
    };

    HDDEDATA Transaction(const DdeTransaction& transaction);
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void PollControlFile();
    void StartNextRetrieval();
    void AskForCheck();
    void CheckAnswered(const std::string& how);
    void RetrievalDone(int count);
    void DropFinished();

    static constexpr UINT kRetrievalDoneMessage = WM_APP + 1;
    static constexpr UINT kDropFinishedMessage = WM_APP + 2;
    static constexpr UINT kAskForCheckMessage = WM_APP + 3;
    static constexpr UINT kCheckAnsweredMessage = WM_APP + 4;

    StandInDdeOptions options_;
    StandInLog& log_;
    UtilityWindow window_;
    DdeInstance dde_;
    TTimer controlTimer_;
    size_t controlLinesDone_ = 0;
    TTimer askForCheckTimer_; // the "CHECK" goes out a moment after the "GET:" was taken
    TTimer checkReplyTimer_;
    std::deque<std::string> waitingForCheck_; // "GET:" lists held until the "CHECK:" reply
    std::vector<Outgoing> outgoing_;
    std::deque<std::string> retrievals_; // "GET:" lists waiting for the worker
    std::thread worker_;
    bool retrieving_ = false;
};

} // namespace pw
