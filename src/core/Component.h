// The root of every object that fires events. Events are std::function members that are
// empty when unassigned; Fire skips empty ones and always passes the firing object first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace pw {

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

class TMemoryStream;

using TNotifyEvent = std::function<void(TObject& Sender)>;
using TmsErrorEvent = std::function<void(TObject& Sender, std::string& Msg)>;
using TmsProgressEvent = std::function<void(TObject& Sender, int32_t Perc, int32_t Transferred)>;
using TmsNumNotifyEvent = std::function<void(TObject& Sender, int32_t Num)>;
using TmsUserMsgSaveEvent =
    std::function<void(TObject& Sender, int32_t Num, TMemoryStream& Contents)>;

// Calls an event when it is assigned.
template <typename Event, typename... Args> void Fire(const Event& event, Args&&... args) {
    if (event)
        event(std::forward<Args>(args)...);
}

// Processes pending window messages. The Win32 build passes its message pump; natively, and
// where nobody cares, it is empty and calling it does nothing.
using MessagePump = std::function<void()>;

inline void Pump(const MessagePump& pump) {
    if (pump)
        pump();
}

} // namespace pw
