// A thin DDEML binding: one instance per thread with its callback routed to an event, owned
// string handles, a client conversation that can open an advise link and poke text, and a
// bounded, NUL-safe read of the data a peer sends (every byte of it is hostile).
#pragma once

#include <windows.h>

#include <ddeml.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace pw {

class DdeInstance;

// A DDE string handle. Unlike the other handles it can only be freed together with the
// instance that made it, so it is a small class of its own rather than a UniqueHandle traits
// type. Move-only; it must not outlive its instance.
class DdeString {
public:
    DdeString() = default;
    DdeString(DWORD instance, std::string_view text);
    DdeString(const DdeString&) = delete;
    DdeString& operator=(const DdeString&) = delete;
    DdeString(DdeString&& other) noexcept;
    DdeString& operator=(DdeString&& other) noexcept;
    ~DdeString() { reset(); }

    HSZ get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset();

private:
    DWORD instance_ = 0;
    HSZ handle_ = nullptr;
};

// One call of the DDEML callback.
struct DdeTransaction {
    UINT type = 0;
    UINT format = 0;
    HCONV conversation = nullptr;
    HSZ string1 = nullptr; // topic (server side), or topic of the client's conversation
    HSZ string2 = nullptr; // item or service
    HDDEDATA data = nullptr;
    ULONG_PTR data1 = 0;
    ULONG_PTR data2 = 0;
};

// A DDEML instance of this thread. The callback has no user pointer, so the instance is found
// through a per-thread pointer: at most one instance per thread at a time.
class DdeInstance {
public:
    DdeInstance();
    DdeInstance(const DdeInstance&) = delete;
    DdeInstance& operator=(const DdeInstance&) = delete;
    ~DdeInstance();

    DWORD Id() const { return id_; }
    DdeString String(std::string_view text) const { return DdeString(id_, text); }
    // The text of a string handle (at most 255 characters, as DDEML names are).
    std::string Text(HSZ handle) const;
    bool Same(HSZ handle, std::string_view text) const;

    // Registers a service name for this instance until the instance ends.
    bool RegisterService(std::string_view name);

    // Re-enables the callbacks of a conversation that a CBR_BLOCK result stopped; DDEML then
    // delivers the blocked transaction again.
    bool EnableCallbacks(HCONV conversation);

    // Called for every transaction; the result is what DDEML gets. Empty: nothing is accepted.
    // Exceptions are handed to the application-wide handler and give a null result.
    std::function<HDDEDATA(DdeInstance& sender, const DdeTransaction& transaction)> OnTransaction;

private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conversation, HSZ string1,
                                      HSZ string2, HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);

    DWORD id_ = 0;
    DdeString service_;
};

// At most this many bytes of a peer's data are read; the rest is dropped.
constexpr std::size_t kMaxDdeText = 64 * 1024;

// The text of CF_TEXT data: a bounded copy that ends at the first NUL.
std::string DdeDataText(HDDEDATA data, std::size_t maxBytes = kMaxDdeText);

// CF_TEXT data holding the text and its ending NUL, for an item; null on failure.
HDDEDATA MakeDdeText(const DdeInstance& instance, HSZ item, std::string_view text);

// A client conversation, disconnected when it ends.
class DdeConversation {
public:
    DdeConversation() = default;
    DdeConversation(const DdeConversation&) = delete;
    DdeConversation& operator=(const DdeConversation&) = delete;
    ~DdeConversation() { Disconnect(); }

    bool Connect(const DdeInstance& instance, std::string_view service, std::string_view topic);
    void Disconnect();
    bool Connected() const { return handle_ != nullptr; }
    HCONV Handle() const { return handle_; }

    // Asks for a warm advise link (change notices without data) on the item.
    bool StartAdvise(std::string_view item, DWORD timeoutMs);
    // Starts an asynchronous CF_TEXT poke of the text and its NUL; true when it was started.
    bool PokeAsync(std::string_view item, std::string_view text);

private:
    HSZ Item(std::string_view item);

    const DdeInstance* instance_ = nullptr;
    HCONV handle_ = nullptr;
    // The item's name lives as long as the conversation: an asynchronous transaction may still
    // refer to it after the call that started it.
    std::string itemText_;
    DdeString item_;
};

} // namespace pw
