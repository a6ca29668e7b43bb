// The POP3 client that only inspects a mailbox: log in, read its status, and count the
// messages newer than the last one the mail client has recorded as fetched.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/AgentIni.h"
#include "core/Headers.h"
#include "core/Pop3Capabilities.h"
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
    // Off: the dialogue as it always was. On: "CAPA" once per server (host and port) in the
    // component's life, after the greeting (and inside TLS) of the first session; where the
    // server allows PIPELINING, USER, PASS and STAT go in one send, and so do the walk's LIST,
    // TOP and UIDL of a message. "-ERR", no answer within the time-out or a close mean no
    // capabilities; a session that did not survive the question starts again without it.
    bool AskCapabilities = false;
    // What the current server said of itself, once asked; null before.
    const Pop3Capabilities* ServerCapabilities() const;

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
    // The server takes commands ahead of its replies (asked, and it said PIPELINING).
    bool Pipelining() const;
    // Reads the next reply of commands sent together into LastReply; empty once the peer has
    // closed (as a reply cut short is). Its ReplyCode.
    int ReadOwedReply();

    // Commands sent ahead still owe replies: a failure now leaves the dialogue out of step, and
    // the session ends without QUIT.
    bool repliesOwed_ = false;

private:
    // The connection up to the login: the greeting, with TLS as asked.
    void Greet();
    // Sends "CAPA" and keeps what the server said; false when the session is over or out of
    // step (it has been closed then).
    bool LearnCapabilities();
    std::string CapabilitiesKey() const;
    void PipelinedLogin();
    void Secure();

    TStage Stage_ = TStage::Connecting;
    std::map<std::string, Pop3Capabilities> capabilities_; // by CapabilitiesKey
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
    // The size of a positive LIST reply, 0 when it gives none.
    static int32_t ListedSize(const std::string& reply);
    // Reads a positive TOP reply's header block into the item.
    void ReadHeaders(TmsRemoteInfoItem& item);
    // Sends the LIST, TOP and UIDL of the messages from below sent down to lowest, in one send.
    void SendMessageCommands(int32_t& sent, int32_t lowest);
    // Reads the replies to one message's LIST, TOP and UIDL sent together, every one of them
    // even when one is negative; the first refusal of LIST or TOP, if any.
    std::optional<std::string> TakeMessageInfo(TmsRemoteInfoItem& item, std::string& uidlReply);
    // Reads and drops the replies owed for messages sent ahead.
    void SkipMessageReplies(int32_t messages);

    std::string MessageDirectory_;
};

} // namespace pw
