// POP3 client; see mspop3.h. Only USER, PASS, STAT, LIST, TOP, UIDL and QUIT go on the wire:
// nothing here retrieves or deletes mail.
#include "mspop3.h"

#include <fstream>
#include <iterator>

#include "core/Delimited.h"
#include "core/Errors.h"
#include "core/MemoryStream.h"
#include "core/MessageTable.h"
#include "core/Text.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

namespace {

// The reply without its status word and the blank after it ("+OK ").
std::string AfterStatus(const std::string& reply) {
    return reply.size() > 4 ? reply.substr(4) : std::string();
}

} // namespace

TmsCustomPOP::TmsCustomPOP(TComponent* owner) : TmsMailBase(owner) {
    ServiceName = "pop3";
    DefaultPort = 110;
}

int TmsCustomPOP::ReplyCode(const std::string& line) {
    if (line.empty())
        return 0;
    return line[0] == '+' ? 1 : line[0] == '-' ? -1 : 0;
}

void TmsCustomPOP::CheckParams() {
    if (UserName.empty())
        RaiseSocketError(kMsgUserNameRequired);
    if (Password.empty())
        RaiseSocketError(kMsgPasswordRequired);
}

void TmsCustomPOP::Open() {
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
    ResetState();
    ConnectSocket();
    RequirePositiveReply();
    Command("USER " + UserName);
    Command("PASS " + Password);
    GetStat();
}

void TmsCustomPOP::GetStat() {
    Command("STAT");
    std::string rest = AfterStatus(LastReply);
    size_t blank = rest.find(' ');
    if (blank == std::string::npos)
        return;
    MessageCount = StrToInt(std::string_view(rest).substr(0, blank));
    rest.erase(0, blank + 1);
    blank = rest.find(' ');
    MailboxSize = StrToInt(std::string_view(rest).substr(0, blank));
}

void TmsCustomPOP::Logout() {
    Command("QUIT");
}

std::string TmsCustomPOP::SessionName() const {
    return "POP3 " + UserName + "@" + Server + " (USER " + UserName + ", PASS " +
           MaskSecret(Password) + ")";
}

std::string TmsCustomPOP::SessionState() const {
    return "logged in, STAT " + std::to_string(MessageCount) + " " + std::to_string(MailboxSize);
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
    KnownIds = SplitLines(text);
}

void TmsRemotePOP::CountNewMessages() {
    LoadKnownIds();
    NewMessageSize = 0;
    NewMessageCount = 0;
    for (int32_t index = MessageCount - 1; index >= 0; --index) {
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
    } catch (const Exception&) {
        line.clear(); // the header's id serves instead
    }
    line = Trim(line);
    if (line.empty() || line[0] != '+')
        return fallback;
    const std::string rest = AfterStatus(line);
    const size_t blank = rest.find(' ');
    if (blank == std::string::npos)
        return fallback;
    return Trim(std::string_view(rest).substr(blank + 1));
}

bool TmsRemotePOP::IsKnownId(const std::string& id) const {
    for (auto it = KnownIds.rbegin(); it != KnownIds.rend(); ++it) {
        if (Trim(GetDelimitedField(1, *it, ';')) == id)
            return true;
    }
    return false;
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
