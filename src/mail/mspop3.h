// The POP3 client that only inspects a mailbox: log in, read its status, and count the
// messages newer than the last one the mail client has recorded as fetched.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/AgentIni.h"
#include "core/Headers.h"
#include "mail/msmb.h"

namespace pw {

class TMemoryStream;

class TmsCustomPOP : public TmsMailBase {
public:
    explicit TmsCustomPOP(TComponent* owner = nullptr);

    std::string UserName;
    std::string Password;
    int32_t MessageCount = -1;
    int32_t MailboxSize = -1;

    // How the session is secured: Off is the plain dialogue; Implicit runs the TLS handshake
    // before the greeting; Stls sends "STLS" after it and fails with ETlsRequiredError when the
    // server refuses. TlsPin, when set, replaces the certificate's chain and name check.
    TlsMode Tls = TlsMode::Off;
    std::string TlsPin;
    // False: USER and PASS are never sent without TLS (EClearPasswordError instead).
    bool AllowClearPasswords = true;

    // How far the last Login came: tells a refused login from a server that could not be
    // reached or secured.
    enum class TStage { Connecting, Securing, LoggingIn, LoggedIn };
    TStage Stage() const { return Stage_; }

    TmsNumNotifyEvent OnRetrieving;
    TmsNumNotifyEvent OnRetrieved;
    TmsNumNotifyEvent OnDeleting;

    // "+" is 1, "-" is -1, anything else (an empty line too) 0.
    int ReplyCode(const std::string& line) override;
    // Checks the parameters before anything else happens, then opens as the socket does.
    void Open() override;

    void Login() override;
    void Logout() override;
    virtual void SaveMessage(int32_t number, TMemoryStream& stream) = 0;
    virtual void CheckParams();

    void GetStat();

    const std::string& LastReplyLine() const { return LastReply; }

protected:
    std::string SessionName() const override;
    std::string SessionState() const override;
    // Sends a command and requires a positive reply; EServerError with the reply otherwise.
    void Command(const std::string& line);
    void RequirePositiveReply();

private:
    void Secure();

    TStage Stage_ = TStage::Connecting;
};

class TmsRemoteInfoItem {
public:
    int32_t Size = 0;
    TmsHeaders Headers;
};

class TmsRemoteInfo {
public:
    ~TmsRemoteInfo() { Clear(); }

    size_t Count() const { return items_.size(); }
    TmsRemoteInfoItem& Items(size_t index) { return *items_.at(index); }
    TmsRemoteInfoItem& Add();
    void Clear();

private:
    std::vector<std::unique_ptr<TmsRemoteInfoItem>> items_;
};

class TmsRemotePOP : public TmsCustomPOP {
public:
    explicit TmsRemotePOP(TComponent* owner = nullptr);

    const std::string& MessageDirectory() const { return MessageDirectory_; }
    // Kept ending in a backslash; empty stays empty.
    void SetMessageDirectory(const std::string& value);

    TmsRemoteInfo RemoteInfo;
    TNotifyEvent OnUpdatingInfo;
    TNotifyEvent OnUpdatingInfoBHG;
    TNotifyEvent OnInfoUpdated;
    TNotifyEvent OnTransferringData;
    TNotifyEvent OnDataTransfered;
    TmsNumNotifyEvent OnNextInfoUpdated;
    TmsUserMsgSaveEvent OnUserMessageSave;

    std::vector<std::string> KnownIds;
    int32_t NewMessageCount = 0;
    int32_t NewMessageSize = 0;
    // Bounds of one walk, far above real mailboxes (a walk costs three commands a message): a
    // server that claims ever more messages with ever new ids cannot hold a check for hours.
    // Past either, CountNewMessages fails with EServerLimitError.
    int32_t MaxMessagesExamined = 50000;
    uint32_t WalkTimeLimit = 600; // seconds

    // Newest first, stopping at the first message whose id the known-ids file holds.
    void CountNewMessages();
    void GetMessageInfo(int32_t index, TmsRemoteInfoItem& item);
    std::string GetUniqueId(int32_t index, const std::string& fallback);
    bool IsKnownId(const std::string& id) const;
    void SaveMessage(int32_t number, TMemoryStream& stream) override;

    // The known-ids file of the current mailbox, in the current directory.
    std::string KnownIdsFileName() const { return UserName + "@" + Server + ".MES"; }

private:
    void LoadKnownIds();

    std::string MessageDirectory_;
};

} // namespace pw
