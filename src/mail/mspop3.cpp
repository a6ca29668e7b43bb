// POP3 client; see mspop3.h. Only USER, PASS, STAT, LIST, TOP, UIDL and QUIT go on the wire:
// nothing here retrieves or deletes mail.
#include "mspop3.h"

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

void TmsCustomPOP::Login() {
    Stage_ = TStage::Connecting;
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
    if (!TlsActive() && !AllowClearPasswords) {
        Close();
        throw EClearPasswordError("the password would be sent in clear text");
    }
    Stage_ = TStage::LoggingIn;
    Command("USER " + UserName);
    Command("PASS " + Password);
    Stage_ = TStage::LoggedIn;
    GetStat();
}

void TmsCustomPOP::Secure() {
    Stage_ = TStage::Securing;
    LARGE_INTEGER start{}, end{}, frequency{};
    QueryPerformanceCounter(&start);
    StartTls(TlsPeer{HostPart(), TlsPin});
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
    for (int32_t index = MessageCount - 1; index >= 0; --index) {
        const int32_t examined = MessageCount - 1 - index;
        if (examined >= MaxMessagesExamined)
            throw EServerLimitError("walk stopped after " + std::to_string(examined) +
                                    " messages: the limit for one mailbox");
        if ((GetTickCount() - start) / 1000 >= WalkTimeLimit)
            throw EServerLimitError("walk stopped after " + std::to_string(WalkTimeLimit) +
                                    " s: the time limit for one mailbox");
        TmsRemoteInfoItem item;
        GetMessageInfo(index, item);
        std::string id = item.Headers.GetFieldValue("X-UIDL");
        if (Trim(id).empty())
            id = item.Headers.GetFieldValue("Message-ID");
        id = GetUniqueId(index, id);
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
    const std::string rest = AfterStatus(LastReply);
    const size_t blank = rest.find(' ');
    item.Size = StrToIntDef(blank == std::string::npos ? rest : rest.substr(blank + 1), 0);

    Command("TOP " + number + " 1");
    TMemoryStream stream;
    ReadMultiLine(stream, 0);
    stream.SetPosition(0);
    item.Headers.ProcessMessages = &pw::ProcessMessages;
    item.Headers.LoadFromStream(stream);
    item.Headers.TruncateAtBody();
}

std::string TmsRemotePOP::GetUniqueId(int32_t index, const std::string& fallback) {
    SendLine("UIDL " + std::to_string(index + 1));
    std::string line;
    try {
        ReadReply(line);
    } catch (const Exception& e) {
        TraceCaught("UIDL " + std::to_string(index + 1), e);
        line.clear(); // the header's id serves instead
    }
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
