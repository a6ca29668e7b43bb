// POP3 client; see mspop3.h. Only USER, PASS, STAT, LIST, TOP, UIDL and QUIT go on the wire:
// nothing here retrieves or deletes mail.
#include "mspop3.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "core/Errors.h"
#include "core/MemoryStream.h"
#include "core/MessageTable.h"
#include "core/Pop3Reply.h"
#include "core/Text.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

TmsCustomPOP::TmsCustomPOP(TComponent* owner) : TmsMailBase(owner) {
    ServiceName = "pop3";
    DefaultPort = 110;
}

int TmsCustomPOP::ReplyCode(const std::string& line) {
    return Pop3ReplyCode(line);
}

void TmsCustomPOP::CheckParams() {
    if (UserName.empty())
        RaiseSocketError(kMsgUserNameRequired);
    if (Password.empty())
        RaiseSocketError(kMsgPasswordRequired);
}

void TmsCustomPOP::Open() {
    Stage_ = TStage::Connecting;
    CheckParams();
    ResetState();
    TmsMailBase::Open();
}

void TmsCustomPOP::RequirePositiveReply() {
    // A peer that closed before the line was complete leaves an empty reply: also an error.
    if (ReadReply(LastReply) != 1)
        throw EServerError(LastReply);
}

void TmsCustomPOP::Command(const std::string& line) {
    SendLine(line);
    RequirePositiveReply();
}

void TmsCustomPOP::Greet() {
    Stage_ = TStage::Connecting;
    repliesOwed_ = false;
    ResetState();
    ConnectSocket();
    if (Tls == TlsMode::Implicit)
        Secure();
    RequirePositiveReply();
    if (Tls == TlsMode::Stls) {
        SendLine("STLS");
        if (ReadReply(LastReply) != 1) {
            Close(); // no USER or PASS follows in clear text
            throw ETlsRequiredError("the server refused STLS: " + LastReply);
        }
        Secure();
    }
}

void TmsCustomPOP::Login() {
    Greet();
    if (!TlsActive() && !AllowClearPasswords) {
        Close();
        throw EClearPasswordError("the password would be sent in clear text");
    }
    // Asked inside TLS when there is TLS: what a server says before it cannot be trusted.
    if (AskCapabilities && ServerCapabilities() == nullptr && !LearnCapabilities()) {
        Open();
        Greet();
    }
    Stage_ = TStage::LoggingIn;
    if (Pipelining()) {
        PipelinedLogin();
        return;
    }
    Command("USER " + UserName);
    Command("PASS " + Password);
    Stage_ = TStage::LoggedIn;
    GetStat();
}

void TmsCustomPOP::Secure() {
    Stage_ = TStage::Securing;
    LARGE_INTEGER start{}, end{}, frequency{};
    QueryPerformanceCounter(&start);
    StartTls(TlsPeer{PeerHostName(), TlsPin});
    if (!TraceEnabled())
        return;
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    char took[32];
    snprintf(took, sizeof took, "%.1f",
             frequency.QuadPart > 0
                 ? 1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart)
                 : 0.0);
    Trace(SessionName() + ": TLS established in " + took + " ms");
}

void TmsCustomPOP::GetStat() {
    Command("STAT");
    ReadStatReply(LastReply, MessageCount, MailboxSize);
}

void TmsCustomPOP::Logout() {
    if (repliesOwed_) {
        // Replies to commands sent ahead are on their way: a QUIT's could not be told from them.
        Trace(SessionName() + ": replies still owed: closed without QUIT");
        return;
    }
    Command("QUIT");
}

std::string TmsCustomPOP::SessionName() const {
    return "POP3 " + UserName + "@" + Server + " (USER " + UserName + ", PASS " +
           MaskSecret(Password) + ")";
}

std::string TmsCustomPOP::SessionState() const {
    return std::string(TlsActive() ? "logged in over TLS" : "logged in") + ", STAT " +
           std::to_string(MessageCount) + " " + std::to_string(MailboxSize);
}

TmsRemoteInfoItem& TmsRemoteInfo::Add() {
    items_.push_back(std::make_unique<TmsRemoteInfoItem>());
    return *items_.back();
}

void TmsRemoteInfo::Clear() {
    while (!items_.empty())
        items_.pop_back();
}

TmsRemotePOP::TmsRemotePOP(TComponent* owner) : TmsCustomPOP(owner) {}

void TmsRemotePOP::SetMessageDirectory(const std::string& value) {
    MessageDirectory_ = value;
    if (!value.empty() && value.back() != '\\')
        MessageDirectory_ += '\\';
}

void TmsRemotePOP::LoadKnownIds() {
    KnownIds.clear();
    std::ifstream file(KnownIdsFileName(), std::ios::binary);
    if (!file)
        return; // no file yet: every message is new
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    KnownIds = SplitKnownIds(text);
}

void TmsRemotePOP::CountNewMessages() {
    LoadKnownIds();
    NewMessageSize = 0;
    NewMessageCount = 0;
    const DWORD start = GetTickCount();
    const bool pipelined = Pipelining();
    // Without known ids nothing ends the walk early: the next message's commands go ahead.
    const int32_t ahead = pipelined && KnownIds.empty() ? 1 : 0;
    // The commands of the messages from sent up have gone; those below index are owed replies.
    int32_t sent = MessageCount;
    for (int32_t index = MessageCount - 1; index >= 0; --index) {
        const int32_t examined = MessageCount - 1 - index;
        std::string limit;
        if (examined >= MaxMessagesExamined)
            limit = std::to_string(examined) + " messages: the limit for one mailbox";
        else if ((GetTickCount() - start) / 1000 >= WalkTimeLimit)
            limit = std::to_string(WalkTimeLimit) + " s: the time limit for one mailbox";
        if (!limit.empty()) {
            SkipMessageReplies(index - sent + 1); // the dialogue stays in step for QUIT
            repliesOwed_ = false;
            throw EServerLimitError("walk stopped after " + limit);
        }
        TmsRemoteInfoItem item;
        std::string uidlReply;
        if (pipelined) {
            // Never past the walk's bounds: what is sent is read.
            SendMessageCommands(
                sent, std::max({index - ahead, int32_t{0}, MessageCount - MaxMessagesExamined}));
            std::optional<std::string> refused = TakeMessageInfo(item, uidlReply);
            if (refused)
                SkipMessageReplies(index - sent);
            repliesOwed_ = sent < index && !refused;
            if (refused)
                throw EServerError(*refused);
        } else {
            GetMessageInfo(index, item);
        }
        std::string id = item.Headers.GetFieldValue("X-UIDL");
        if (Trim(id).empty())
            id = item.Headers.GetFieldValue("Message-ID");
        id = pipelined ? UidlReplyId(uidlReply, id) : GetUniqueId(index, id);
        if (IsKnownId(id))
            break;
        NewMessageSize += item.Size;
        ++NewMessageCount;
    }
    Trace(SessionName() + ": " + std::to_string(NewMessageCount) + " new of " +
          std::to_string(MessageCount));
}

void TmsRemotePOP::GetMessageInfo(int32_t index, TmsRemoteInfoItem& item) {
    const std::string number = std::to_string(index + 1);
    Command("LIST " + number);
    item.Size = ListedSize(LastReply);
    Command("TOP " + number + " 1");
    ReadHeaders(item);
}

int32_t TmsRemotePOP::ListedSize(const std::string& reply) {
    const std::string rest = AfterStatus(reply);
    const size_t blank = rest.find(' ');
    return StrToIntDef(blank == std::string::npos ? rest : rest.substr(blank + 1), 0);
}

void TmsRemotePOP::ReadHeaders(TmsRemoteInfoItem& item) {
    TMemoryStream stream;
    ReadMultiLine(stream, 0);
    stream.SetPosition(0);
    item.Headers.ProcessMessages = &pw::ProcessMessages;
    item.Headers.LoadFromStream(stream);
    item.Headers.TruncateAtBody();
}

std::string TmsRemotePOP::GetUniqueId(int32_t index, const std::string& fallback) {
    SendLine("UIDL " + std::to_string(index + 1));
    // A negative reply gives the header's id; a failed read (time-out, a closed or refused TLS
    // session) fails the walk: the session it ran on cannot go on.
    std::string line;
    ReadReply(line);
    return UidlReplyId(line, fallback);
}

bool TmsRemotePOP::IsKnownId(const std::string& id) const {
    return KnownIdsHold(KnownIds, id);
}

void TmsRemotePOP::SaveMessage(int32_t number, TMemoryStream& stream) {
    if (OnUserMessageSave) {
        OnUserMessageSave(*this, number, stream);
        return;
    }
    const std::string path = MessageDirectory_ + "msg_" + std::to_string(number) + ".eml";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(stream.Data().data(), static_cast<std::streamsize>(stream.Size()));
    if (!file)
        throw EInOutError("Cannot create file " + path);
}

} // namespace pw
