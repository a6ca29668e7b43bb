// The numbered texts of the mail components and the Windows Sockets error texts, looked up by
// number. This table is the one source of every such text in the program.
#pragma once

#include <cstdint>
#include <string>

namespace pw {

enum MessageId : uint16_t {
    kMsgTimedOut = 57000,
    kMsgCanceled = 57001,
    kMsgServerRequired = 57002,
    kMsgInvalidWinsockVersion = 57003,
    kMsgErrorResolvingHost = 57004,
    kMsgServiceNameRequired = 57005,
    kMsgNotConnected = 57008,
    kMsgFunctionNotFound = 57010,
    kMsgWinsockNotLoaded = 57011,
    kMsgWinsockNotFound = 57012,
    kMsgUserNameRequired = 57103,
    kMsgPasswordRequired = 57104,
};

// The text stored under a number; empty when there is none.
std::string LoadMessage(uint32_t id);

// The text for a socket-level failure: the stored text, or "Error #" and the number when the
// table holds none.
std::string SocketErrorText(uint32_t id);

} // namespace pw
