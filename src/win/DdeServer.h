// A DDE server of one service and topic built on the DDE messages themselves: a poke's
// acknowledgement is posted when its handler lets go of it, which may be long after the poke
// arrived. (DDEML's way to hold an acknowledgement, CBR_BLOCK, is acknowledged at once and
// never delivered again by Wine's DDEML, so it cannot be relied on.) Clients may use DDEML.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "win/UtilityWindow.h"

namespace pw {

class DdeServer {
public:
    struct State;

    // The acknowledgement of one poke; move-only. It is posted (positive) when Send is called
    // or the last owner drops it; a client that has ended the conversation meanwhile gets none.
    class Acknowledgement {
    public:
        Acknowledgement() = default;
        Acknowledgement(std::shared_ptr<State> state, HWND client, LPARAM lParam, HGLOBAL data,
                        bool release, std::string text);
        Acknowledgement(Acknowledgement&& other) noexcept;
        Acknowledgement& operator=(Acknowledgement&& other) noexcept;
        Acknowledgement(const Acknowledgement&) = delete;
        Acknowledgement& operator=(const Acknowledgement&) = delete;
        ~Acknowledgement() { Send(); }

        void Send();
        bool Pending() const { return client_ != nullptr; }

    private:
        std::shared_ptr<State> state_;
        HWND client_ = nullptr;
        LPARAM lParam_ = 0;
        HGLOBAL data_ = nullptr;
        bool release_ = false;
        std::string text_;
    };

    // Answers WM_DDE_INITIATE for this service and topic (letter case ignored).
    DdeServer(std::string service, std::string topic);
    DdeServer(const DdeServer&) = delete;
    DdeServer& operator=(const DdeServer&) = delete;
    ~DdeServer(); // ends every open conversation

    HWND Handle() const { return window_.Handle(); }
    const std::string& Service() const { return service_; }

    // A CF_TEXT poke on an item: the text is a bounded copy up to its first NUL. The poke is
    // acknowledged when ack is released. Unassigned: pokes are refused.
    std::function<void(DdeServer& sender, const std::string& item, const std::string& text,
                       Acknowledgement ack)>
        OnPoke;
    // A CF_TEXT request: the item's text, or nothing to refuse it.
    std::function<std::optional<std::string>(DdeServer& sender, const std::string& item)> OnRequest;
    // Told the text of each poke whose acknowledgement has just been posted.
    void SetOnAcknowledged(std::function<void(const std::string& text)> handler);

private:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void Initiate(HWND client, LPARAM lParam);
    void Poke(HWND client, LPARAM lParam);
    void Request(HWND client, LPARAM lParam);
    void Terminate(HWND client);
    void Refuse(HWND client, UINT msg, LPARAM lParam);

    std::string service_;
    std::string topic_;
    std::shared_ptr<State> state_;
    UtilityWindow window_;
};

} // namespace pw
