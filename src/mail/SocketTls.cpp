// The socket's TLS layer; see SocketTls.h. The handshake is a loop of the socket's own sends
// and counted receives, so that it is timed out and cancelled like every other wait.
#include "SocketTls.h"

#include "core/Errors.h"
#include "core/MessageTable.h"
#include "mail/agsocket.h"
#include "mail/agwsock.h"
#include "win/Trace.h"

namespace pw {

SocketTls::SocketTls(TlsPeer peer) : channel_(std::move(peer)) {}

bool SocketTls::Receive(std::string_view bytes, std::string& plain) {
    in_.append(bytes);
    // During the handshake the records wait for the next step.
    return !channel_.Established() || channel_.Decrypt(in_, plain, reply_);
}

bool SocketTls::DecryptPending(std::string& plain) {
    return in_.empty() || channel_.Decrypt(in_, plain, reply_);
}

std::string SocketTls::Wrap(std::string_view plain) {
    std::string records = std::move(reply_);
    reply_.clear();
    channel_.Encrypt(plain, records);
    return records;
}

std::string SocketTls::Shutdown() noexcept {
    std::string alert;
    if (channel_.Established())
        channel_.Shutdown(alert);
    return alert;
}

void TagSocket::StartTls(TlsPeer peer) {
    if (!IsSocketOpen())
        RaiseSocketError(kMsgNotConnected);
    // What goes to the server next; after a failure, the alert that says why.
    std::string out;
    try {
        // Nothing the server sent after its last clear-text line may be read as clear text, and
        // no TLS server speaks before our hello: whatever came is refused unread.
        if (!received_.empty())
            throw ETlsError("the server sent more before the TLS handshake began");
        tls_ = std::make_unique<SocketTls>(std::move(peer));
        tls_->Start(out);
        bool established = false;
        while (!established) {
            SendBytes(out);
            out.clear();
            const bool stepped = ReceiveUntil([&] {
                if (!tls_->HasInput())
                    return false;
                established = tls_->Continue(out);
                return established || !out.empty();
            });
            if (!stepped || (!established && out.empty())) {
                // As for every read: the time-out first, since it must close the connection.
                RaiseWaitEnd({WaitEnd::Expired, WaitEnd::Canceled, WaitEnd::Failed});
                throw ETlsError("the server closed the connection during the TLS handshake");
            }
        }
        SendBytes(out);
        // Records that came with the end of the handshake are the first data.
        if (!tls_->DecryptPending(received_))
            throw ETlsError("the server closed the TLS session at once");
    } catch (...) {
        TraceCaughtCurrent("TLS handshake");
        SendAtOnce(out);
        Close();
        throw;
    }
}

void TagSocket::SendAtOnce(std::string& bytes) {
    while (!bytes.empty() && IsSocketOpen()) {
        const int sent =
            SharedWinsock().send(SocketHandle, bytes.data(), static_cast<int>(bytes.size()), 0);
        if (sent == SOCKET_ERROR || sent <= 0)
            return; // the rest goes with the next send, or with nothing when the socket closes
        bytes.erase(0, static_cast<size_t>(sent));
    }
}

void TagSocket::SendData(const std::string& bytes) {
    SendBytes(tls_ == nullptr ? bytes : tls_->Wrap(bytes));
}

void TagSocket::EndTls() {
    if (tls_ == nullptr)
        return;
    // Never waits: the connection is closing; an alert that does not fit at once is dropped.
    std::string alert = tls_->Shutdown();
    SendAtOnce(alert);
}

std::optional<int> TagSocket::TlsPinnedDaysLeft() const {
    if (tls_ == nullptr)
        return std::nullopt;
    return tls_->PinnedDaysLeft();
}

} // namespace pw
