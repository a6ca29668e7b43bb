// The tray message and the "CLOSE" poke; see Poker.h. The poke goes through DDEML as a client
// would send it, synchronously with a bound, so that an agent that does not answer is told.
#include "Poker.h"

#include <ddeml.h>

#include <cstring>

#include "support/TrayIcon.h"
#include "win/MessagePump.h"

namespace pw::chaos {

namespace {

HDDEDATA CALLBACK IgnoreTransactions(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr;
}

// One DDEML client instance with its three names, for this thread.
class DdeClient {
public:
    explicit DdeClient(const std::string& service) {
        if (DdeInitializeA(&instance_, &IgnoreTransactions, APPCMD_CLIENTONLY, 0) !=
            DMLERR_NO_ERROR)
            instance_ = 0;
        service_ = Name(service.c_str());
        topic_ = Name("BackgroundConversation");
        item_ = Name("BackgroundCalls");
    }
    ~DdeClient() {
        for (HSZ name : {service_, topic_, item_})
            if (name != nullptr)
                DdeFreeStringHandle(instance_, name);
        if (instance_ != 0)
            DdeUninitialize(instance_);
    }
    DdeClient(const DdeClient&) = delete;
    DdeClient& operator=(const DdeClient&) = delete;

    // The problem, or empty when the agent acknowledged the poke.
    std::string Poke(const char* text) {
        if (instance_ == 0)
            return "no DDEML instance";
        const HCONV conversation = DdeConnect(instance_, service_, topic_, nullptr);
        if (conversation == nullptr)
            return "no DDE conversation (error " + std::to_string(DdeGetLastError(instance_)) + ")";
        DWORD result = 0;
        const HDDEDATA ack =
            DdeClientTransaction(reinterpret_cast<LPBYTE>(const_cast<char*>(text)),
                                 static_cast<DWORD>(std::strlen(text) + 1), conversation, item_,
                                 CF_TEXT, XTYP_POKE, Poker::kAnswerBoundMs, &result);
        const UINT error = DdeGetLastError(instance_);
        DdeDisconnect(conversation);
        if (ack == nullptr)
            return std::string(text) + " not acknowledged (error " + std::to_string(error) + ")";
        return std::string();
    }

private:
    HSZ Name(const char* text) const {
        return instance_ != 0 ? DdeCreateStringHandleA(instance_, text, CP_WINANSI) : nullptr;
    }

    DWORD instance_ = 0;
    HSZ service_ = nullptr;
    HSZ topic_ = nullptr;
    HSZ item_ = nullptr;
};

} // namespace

Poker::Poker(std::string service)
    : service_(std::move(service)), request_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      thread_([this] { Run(); }) {}

Poker::~Poker() {
    stop_ = true;
    SetEvent(request_.get());
    thread_.join();
}

void Poker::Poke(HWND trayWindow) {
    if (busy_.exchange(true))
        return;
    ++pokes_;
    tray_ = trayWindow;
    SetEvent(request_.get());
}

void Poker::Run() {
    DdeClient client(service_);
    while (WaitForSingleObject(request_.get(), INFINITE) == WAIT_OBJECT_0 && !stop_) {
        std::string problem;
        DWORD_PTR ignored = 0;
        if (SendMessageTimeoutA(tray_.load(), TTrayIcon::kCallbackMessage, 0, WM_MOUSEMOVE,
                                SMTO_NORMAL, kAnswerBoundMs, &ignored) == 0)
            problem =
                "the tray message was not answered (error " + std::to_string(GetLastError()) + ")";
        const std::string poked = client.Poke("CLOSE");
        if (!poked.empty())
            problem += (problem.empty() ? "" : "; ") + poked;
        problem_ = problem;
        answered_ = problem.empty();
        busy_ = false;
        // A wait on the agent's thread sleeps until woken: it must see that this is done.
        WakeWaits();
    }
}

} // namespace pw::chaos
