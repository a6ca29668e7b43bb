// The TCP client connection under every mail conversation: non-blocking Winsock calls driven by
// notifications to a hidden window, line framing, one-second time-outs and cancelling.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Component.h"
#include "mail/DialLink.h"
#include "mail/SocketTls.h"
#include "win/Timer.h"
#include "win/UtilityWindow.h"

namespace pw {

class TMemoryStream;

// A countdown in whole seconds on a one-second window timer. The timer stays armed from a
// wait's Start until Release (when the connection closes), so that the waits of one session
// do not each set and kill a timer: under Wine every such call is a round trip to its server.
class TTimeCounter : public TObject {
public:
    TTimeCounter();

    // Counting starts with Remaining := Limit. A timer still armed keeps its phase, so that its
    // first tick may come at once: one tick more is allowed then, and no wait is cut short.
    void Start();
    // Counting stops; the timer stays armed for the next wait.
    void Stop();
    // The timer stops too: nothing ticks until the next Start.
    void Release();
    bool Counting() const { return counting_; }

    TTimer Timer;
    int32_t Remaining = 0;
    int32_t Limit = 60;
    bool Expired = false; // set by Tick, cleared only by the socket's ResetState

private:
    void Tick();

    bool counting_ = false;
};

class TagSocket : public TComponent {
public:
    static constexpr UINT WM_HOSTLOOKUP = WM_USER + 148;
    static constexpr UINT WM_SERVLOOKUP = WM_USER + 149;
    static constexpr UINT WM_SOCKETEVENT = WM_USER + 150;

    explicit TagSocket(TComponent* owner = nullptr);
    ~TagSocket() override;

    bool WinsockLoaded() const;
    void SetWinsockLoaded(bool value);

    // The dial-up link, when any. Must be a component (so that its removal clears it here).
    IDialLink* RAS() const { return RAS_; }
    void SetRAS(IDialLink* value);

    int32_t TimeOut() const { return Counter.Limit; }
    void SetTimeOut(int32_t value) { Counter.Limit = value; }

    std::string Server;
    uint16_t DefaultPort = 0;
    // The most a multi-line reply may bring (a header block is a few KiB): a server that sends
    // more fails the read with EServerLimitError, the connection closed.
    size_t MaxMultiLineSize = 1024 * 1024;

    TNotifyEvent OnOpen;
    TNotifyEvent OnClosing;
    TNotifyEvent OnClosed;
    TNotifyEvent OnCancel;
    TmsErrorEvent OnError;
    TmsProgressEvent OnProgress;

    virtual void ResetState();
    virtual int ReplyCode(const std::string& line);
    virtual void Open();
    virtual void Close();
    virtual void CancelOperation();

    void ConnectSocket();
    void SendLine(const std::string& line);
    // Several command lines in one send, for a server that takes commands ahead of its replies.
    void SendLines(const std::vector<std::string>& lines);
    int ReadReply(std::string& line);
    // statusLineEnded: the reply's status line has been read, so that a body of the final "."
    // line alone ends the reply too (a list that may be empty).
    void ReadMultiLine(TMemoryStream& stream, int32_t expectedSize, bool statusLineEnded = false);

    // Runs a TLS handshake on the connected socket (for implicit TLS right after the connect,
    // for STLS after the server agreed); from then on every line goes through the channel.
    // A failure (ETlsError, ECertificateError, ESecurityDLLError, time-out, cancel) closes the
    // connection. Nothing in the clear-text dialogue changes while this is not called.
    void StartTls(TlsPeer peer);
    bool TlsActive() const { return tls_ != nullptr && tls_->Established(); }
    // With pins, once the session is up: whole days until the pinned certificate's end.
    std::optional<int> TlsPinnedDaysLeft() const;
    // The host the TLS session must prove: the host as looked up, or, for an address, the
    // address actually connected in dotted decimal (inet_addr also reads "127.1" and octal).
    const std::string& PeerHostName() const { return peerHostName_; }

    bool IsSocketOpen() const { return SocketHandle != INVALID_SOCKET; }
    // The time counter's timer is armed: from a connection's first wait to its close, never
    // without one (an idle program would wake every second).
    bool TimeCounterArmed() const { return Counter.Timer.Enabled(); }
    uint32_t StartupCount() const { return StartupCount_; }

    // Fires OnError with the text for the number (the handler may rewrite it) and raises
    // ESocketError with it; number 0 is no error and returns.
    void RaiseSocketError(uint16_t number);

protected:
    void Notification(TComponent& component, TOperation operation) override;

    std::string ServiceName;
    std::string LastReply;

    // The text of Server before its first ":" (all of it without one), without blanks around
    // it or a final dot.
    std::string HostPart() const;
    // The port connected to, once Open has resolved it.
    uint16_t PeerPort() const { return RemotePort; }
    // The peer's close has been seen (its notice arrived while a wait pumped).
    bool PeerClosed() const { return ClosedByPeer; }

private:
    static constexpr size_t kReplyBufferSize = 256;
    static constexpr size_t kHostNameSize = 128;
    static constexpr size_t kServiceNameSize = 64;

    bool SocketWndProc(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    int32_t PortPart() const;
    void ResolveHost();
    void ResolvePort();
    void CreateSocket();
    void CancelAsyncRequest();
    // Waits, with the counter running, until the condition holds or the operation is cancelled
    // or out of time.
    void WaitCounted(const std::function<bool()>& condition);
    // How a wait can have ended other than by its condition: out of time, cancelled, or an
    // error that Winsock reported for the connection or the lookup.
    enum class WaitEnd { Expired, Canceled, Failed };
    // Raises for the first of these endings, in the order given, that holds: ETimedOutError,
    // ECanceledError, or ESocketError with the reported error. Returns when none holds. The
    // order decides which exception the caller sees when several hold, so each caller states it.
    void RaiseWaitEnd(std::initializer_list<WaitEnd> order);

    enum class Arrival { None, Data, Closed };
    // One non-blocking recv into the receive buffer; raises for an error other than "not yet".
    Arrival ReceiveAvailable();
    // Takes the next reply line (up to and with its LF, cut to the reply buffer's size) out of
    // the receive buffer; false while no LF has arrived.
    bool TakeLine(std::string& line);
    // Runs step on what has been received until it returns true, receiving more as it comes;
    // waits (counted) only when nothing is there. True once step is satisfied or the peer has
    // closed; false when the wait ended by cancel, time-out or a reported error.
    bool ReceiveUntil(const std::function<bool()>& step);
    // Sends every byte, waiting (counted) only when the send buffer is full.
    void SendBytes(const std::string& bytes);
    // Sends a line's bytes, through the channel once TLS runs.
    void SendData(const std::string& bytes);
    // The closing alert of a TLS session, sent when it fits at once (never waits).
    void EndTls();
    // Sends what fits without waiting and erases it from bytes.
    void SendAtOnce(std::string& bytes);
    // The error of the last Winsock call, raised unless it only says "not yet" or the operation
    // was cancelled.
    void CheckWouldBlock();
    [[noreturn]] void RaiseTimedOut();
    [[noreturn]] void RaiseCanceled();

    IDialLink* RAS_ = nullptr;
    TComponent* rasComponent_ = nullptr;

    TTimeCounter Counter;
    UtilityWindow EventWindow;
    WSADATA WsaData{};
    SOCKET SocketHandle = INVALID_SOCKET;
    HANDLE AsyncHandle = nullptr;
    unsigned long RemoteAddress = 0;
    uint16_t RemotePort = 0;
    std::string peerHostName_;
    uint32_t StartupCount_ = 0;

    // What arrived and was not yet taken: the rest of a packet after a reply line belongs to the
    // next read. scanned_ bytes of it are known to hold no LF.
    std::string received_;
    size_t scanned_ = 0;
    std::vector<char> receiveChunk_;
    // With TLS: the channel and its buffers.
    std::unique_ptr<SocketTls> tls_;

    bool Canceled = false;
    bool HostResolved = false;
    bool ServiceResolved = false;
    bool ConnectDone = false;
    bool ReadReady = false;
    bool ClosedByPeer = false;
    bool ErrorPending = false;
    uint16_t AsyncError = 0;

    // Winsock writes a lookup's result here after the call returns: it must outlive the request.
    std::array<char, kHostNameSize> hostName_{};
    std::array<char, kServiceNameSize> serviceName_{};
    std::array<char, MAXGETHOSTSTRUCT> lookupResult_{};
};

} // namespace pw
