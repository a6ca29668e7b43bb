// DDE server on the DDE messages; see DdeServer.h. The message rules followed: the server
// answers WM_DDE_INITIATE with new atoms (the client deletes them), acknowledges a poke by
// reusing its lParam, frees a released poke's data only after a positive acknowledgement, and
// posts nothing to a client after either side has terminated.
#include "DdeServer.h"

#include <dde.h>

#include <algorithm>
#include <cstddef>
#include <set>
#include <utility>

#include "win/Dde.h"

namespace pw {

struct DdeServer::State {
    HWND window = nullptr;
    std::set<HWND> clients;
    std::function<void(const std::string&)> acknowledged;
};

namespace {

constexpr WORD kAckPositive = 0x8000;   // DDEACK.fAck
constexpr WORD kPokeRelease = 0x2000;   // DDEPOKE.fRelease
constexpr std::size_t kValueOffset = 4; // DDEPOKE / DDEDATA: flags word, format word, value

std::string AtomText(ATOM atom) {
    char text[256] = {};
    const UINT n = atom != 0 ? GlobalGetAtomNameA(atom, text, sizeof text) : 0;
    return std::string(text, n < sizeof text ? n : 0);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.data(),
                                                  static_cast<int>(a.size()), b.data(),
                                                  static_cast<int>(b.size())) == CSTR_EQUAL;
}

// The flags, format and text of a DDEPOKE block; the text is bounded and ends at a NUL.
struct PokeBlock {
    WORD flags = 0;
    WORD format = 0;
    std::string text;
};

std::optional<PokeBlock> ReadPokeBlock(HGLOBAL data) {
    if (data == nullptr)
        return std::nullopt;
    const SIZE_T size = GlobalSize(data);
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(data));
    if (bytes == nullptr)
        return std::nullopt;
    std::optional<PokeBlock> block;
    if (size >= kValueOffset) {
        block.emplace();
        block->flags = static_cast<WORD>(bytes[0] | (bytes[1] << 8));
        block->format = static_cast<WORD>(bytes[2] | (bytes[3] << 8));
        const SIZE_T length = std::min<SIZE_T>(size - kValueOffset, kMaxDdeText);
        const char* value = reinterpret_cast<const char*>(bytes + kValueOffset);
        block->text.assign(value, std::find(value, value + length, '\0'));
    }
    GlobalUnlock(data);
    return block;
}

HGLOBAL MakeDataBlock(const std::string& text) {
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, kValueOffset + text.size() + 1);
    if (data == nullptr)
        return nullptr;
    auto* bytes = static_cast<unsigned char*>(GlobalLock(data));
    if (bytes == nullptr) {
        GlobalFree(data);
        return nullptr;
    }
    DDEDATA header = {};
    header.fResponse = 1;
    header.fRelease = 1;
    header.cfFormat = CF_TEXT;
    memcpy(bytes, &header, kValueOffset);
    memcpy(bytes + kValueOffset, text.c_str(), text.size() + 1);
    GlobalUnlock(data);
    return data;
}

} // namespace

DdeServer::Acknowledgement::Acknowledgement(std::shared_ptr<State> state, HWND client,
                                            LPARAM lParam, HGLOBAL data, bool release,
                                            std::string text)
    : state_(std::move(state)), client_(client), lParam_(lParam), data_(data), release_(release),
      text_(std::move(text)) {}

DdeServer::Acknowledgement::Acknowledgement(Acknowledgement&& other) noexcept
    : state_(std::move(other.state_)), client_(std::exchange(other.client_, nullptr)),
      lParam_(other.lParam_), data_(other.data_), release_(other.release_),
      text_(std::move(other.text_)) {}

DdeServer::Acknowledgement&
DdeServer::Acknowledgement::operator=(Acknowledgement&& other) noexcept {
    if (this != &other) {
        Send();
        state_ = std::move(other.state_);
        client_ = std::exchange(other.client_, nullptr);
        lParam_ = other.lParam_;
        data_ = other.data_;
        release_ = other.release_;
        text_ = std::move(other.text_);
    }
    return *this;
}

void DdeServer::Acknowledgement::Send() {
    const HWND client = std::exchange(client_, nullptr);
    if (client == nullptr)
        return;
    UINT_PTR data = 0;
    UINT_PTR item = 0;
    UnpackDDElParam(WM_DDE_POKE, lParam_, &data, &item);
    const bool live = state_->window != nullptr && state_->clients.count(client) != 0;
    if (live) {
        const LPARAM ack = ReuseDDElParam(lParam_, WM_DDE_POKE, WM_DDE_ACK, kAckPositive, item);
        if (PostMessageA(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(state_->window), ack)) {
            // A positive acknowledgement hands a released block back to us.
            if (release_)
                GlobalFree(data_);
            if (state_->acknowledged)
                state_->acknowledged(text_);
            return;
        }
        FreeDDElParam(WM_DDE_ACK, ack);
    } else {
        FreeDDElParam(WM_DDE_POKE, lParam_);
    }
    // Nobody takes the acknowledgement: what it would have handed over is ours to free.
    GlobalDeleteAtom(static_cast<ATOM>(item));
    GlobalFree(data_);
}

DdeServer::DdeServer(std::string service, std::string topic)
    : service_(std::move(service)), topic_(std::move(topic)), state_(std::make_shared<State>()),
      // Top-level: clients find the server by broadcasting WM_DDE_INITIATE.
      window_(UtilityWindow::Kind::TopLevel,
              [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                  return HandleMessage(msg, wParam, lParam, result);
              }) {
    state_->window = window_.Handle();
}

DdeServer::~DdeServer() {
    for (HWND client : state_->clients)
        PostMessageA(client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window_.Handle()), 0);
    state_->clients.clear();
    state_->window = nullptr;
}

void DdeServer::SetOnAcknowledged(std::function<void(const std::string& text)> handler) {
    state_->acknowledged = std::move(handler);
}

bool DdeServer::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    const HWND client = reinterpret_cast<HWND>(wParam);
    result = 0;
    switch (msg) {
    case WM_DDE_INITIATE:
        Initiate(client, lParam);
        return true;
    case WM_DDE_POKE:
        Poke(client, lParam);
        return true;
    case WM_DDE_REQUEST:
        Request(client, lParam);
        return true;
    case WM_DDE_ADVISE:
    case WM_DDE_UNADVISE:
    case WM_DDE_EXECUTE:
        Refuse(client, msg, lParam);
        return true;
    case WM_DDE_TERMINATE:
        Terminate(client);
        return true;
    default:
        return false;
    }
}

void DdeServer::Initiate(HWND client, LPARAM lParam) {
    const ATOM service = LOWORD(lParam);
    const ATOM topic = HIWORD(lParam);
    if ((service != 0 && !SameName(AtomText(service), service_)) ||
        (topic != 0 && !SameName(AtomText(topic), topic_)))
        return;
    const ATOM replyService = GlobalAddAtomA(service_.c_str());
    const ATOM replyTopic = GlobalAddAtomA(topic_.c_str());
    state_->clients.insert(client);
    SendMessageA(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window_.Handle()),
                 MAKELPARAM(replyService, replyTopic));
}

void DdeServer::Poke(HWND client, LPARAM lParam) {
    UINT_PTR data = 0;
    UINT_PTR item = 0;
    if (!UnpackDDElParam(WM_DDE_POKE, lParam, &data, &item))
        return;
    const HGLOBAL block = reinterpret_cast<HGLOBAL>(data);
    const std::optional<PokeBlock> poke = ReadPokeBlock(block);
    if (state_->clients.count(client) == 0 || !poke || poke->format != CF_TEXT || !OnPoke) {
        Refuse(client, WM_DDE_POKE, lParam);
        return;
    }
    const std::string itemName = AtomText(static_cast<ATOM>(item));
    OnPoke(*this, itemName, poke->text,
           Acknowledgement(state_, client, lParam, block, (poke->flags & kPokeRelease) != 0,
                           poke->text));
}

void DdeServer::Request(HWND client, LPARAM lParam) {
    const UINT format = LOWORD(lParam);
    const ATOM item = HIWORD(lParam);
    if (state_->clients.count(client) == 0) {
        GlobalDeleteAtom(item);
        return;
    }
    std::optional<std::string> text;
    if (format == CF_TEXT && OnRequest)
        text = OnRequest(*this, AtomText(item));
    const HGLOBAL data = text ? MakeDataBlock(*text) : nullptr;
    const WPARAM self = reinterpret_cast<WPARAM>(window_.Handle());
    if (data != nullptr) {
        const LPARAM reply = PackDDElParam(WM_DDE_DATA, reinterpret_cast<UINT_PTR>(data), item);
        if (!PostMessageA(client, WM_DDE_DATA, self, reply)) {
            FreeDDElParam(WM_DDE_DATA, reply);
            GlobalFree(data);
            GlobalDeleteAtom(item);
        }
        return;
    }
    const LPARAM reply = PackDDElParam(WM_DDE_ACK, 0, item);
    if (!PostMessageA(client, WM_DDE_ACK, self, reply)) {
        FreeDDElParam(WM_DDE_ACK, reply);
        GlobalDeleteAtom(item);
    }
}

void DdeServer::Refuse(HWND client, UINT msg, LPARAM lParam) {
    const WPARAM self = reinterpret_cast<WPARAM>(window_.Handle());
    LPARAM reply = 0;
    ATOM atom = 0;
    if (msg == WM_DDE_EXECUTE) {
        reply = PackDDElParam(WM_DDE_ACK, 0, static_cast<UINT_PTR>(lParam));
    } else if (msg == WM_DDE_UNADVISE) {
        atom = HIWORD(lParam);
        reply = PackDDElParam(WM_DDE_ACK, 0, atom);
    } else {
        // Poke and advise: the item is the second half of a packed lParam, which is reused.
        UINT_PTR data = 0;
        UINT_PTR item = 0;
        UnpackDDElParam(msg, lParam, &data, &item);
        atom = static_cast<ATOM>(item);
        reply = ReuseDDElParam(lParam, msg, WM_DDE_ACK, 0, item);
    }
    // On a negative acknowledgement the client keeps and frees its own data.
    if (state_->clients.count(client) == 0 || !PostMessageA(client, WM_DDE_ACK, self, reply)) {
        FreeDDElParam(WM_DDE_ACK, reply);
        if (atom != 0)
            GlobalDeleteAtom(atom);
    }
}

void DdeServer::Terminate(HWND client) {
    if (state_->clients.erase(client) != 0)
        PostMessageA(client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window_.Handle()), 0);
}

} // namespace pw
