// The root of every object that fires events. Events are std::function members that are
// empty when unassigned; Fire skips empty ones and always passes the firing object first.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pw {

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

enum class TOperation { opInsert, opRemove };

// A component has an owner that frees it, may own components itself, and can ask to be told
// when another component goes away (so that it never keeps a dangling reference).
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
    ~TComponent() override;

    TComponent* Owner() const { return owner_; }

    // Design state: set on components that stand in a form being designed rather than run.
    bool Designing() const { return designing_; }
    void SetDesigning(bool value) { designing_ = value; }

    // Creates a component owned by this one; it lives until this one is destroyed.
    template <typename T, typename... Args> T& CreateOwned(Args&&... args) {
        auto component = std::make_unique<T>(this, std::forward<Args>(args)...);
        T& result = *component;
        owned_.push_back(std::move(component));
        return result;
    }
    const std::vector<std::unique_ptr<TComponent>>& Components() const { return owned_; }

    // Asks to have Notification(other, opRemove) called when other is destroyed.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

protected:
    virtual void Notification(TComponent& component, TOperation operation);
    // Frees the owned components now, newest first (for an owner whose own members they use).
    void DestroyComponents();

private:
    TComponent* owner_;
    bool designing_ = false;
    std::vector<std::unique_ptr<TComponent>> owned_;
    std::vector<TComponent*> notified_; // components to tell when this one goes away
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
