// The socket's TLS layer; see SocketTls.h. The handshake is a loop of the socket's own sends
// and counted receives, so that it is timed out and cancelled like every other wait.
#include "SocketTls.h"

#include "core/Errors.h"
#include "core/MessageTable.h"
#include "mail/agsocket.h"
#include "mail/agwsock.h"
#include "win/Trace.h"

namespace pw {

SocketTls::SocketTls(TlsPeer peer, std::string leftover)
    : channel_(std::move(peer)), in_(std::move(leftover)) {}

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
    try {
        // Nothing the server sent after its last clear-text line may be read as clear text.
        tls_ = std::make_unique<SocketTls>(std::move(peer), std::move(received_));
        received_.clear();
        scanned_ = 0;
        std::string out;
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
        Close();
        throw;
    }
}

void TagSocket::SendData(const std::string& bytes) {
    SendBytes(tls_ == nullptr ? bytes : tls_->Wrap(bytes));
}

void TagSocket::EndTls() {
    if (tls_ == nullptr)
        return;
    const std::string alert = tls_->Shutdown();
    // Never waits: the connection is closing; an alert that does not fit at once is dropped.
    if (!alert.empty())
        SharedWinsock().send(SocketHandle, alert.data(), static_cast<int>(alert.size()), 0);
}

} // namespace pw
