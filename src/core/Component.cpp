// Ownership and removal notices of components; see Component.h.
#include "Component.h"

#include <algorithm>

namespace pw {

TComponent::~TComponent() {
    // Owned components go first, newest first, while this one is still whole.
    DestroyComponents();
    const auto notified = std::move(notified_);
    for (TComponent* other : notified) {
        other->RemoveFreeNotification(this);
        other->Notification(*this, TOperation::opRemove);
    }
}

void TComponent::DestroyComponents() {
    while (!owned_.empty())
        owned_.pop_back();
}

void TComponent::FreeNotification(TComponent* other) {
    if (other == nullptr || other == this)
        return;
    if (std::find(other->notified_.begin(), other->notified_.end(), this) == other->notified_.end())
        other->notified_.push_back(this);
    if (std::find(notified_.begin(), notified_.end(), other) == notified_.end())
        notified_.push_back(other);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    if (other == nullptr)
        return;
    auto& list = other->notified_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    notified_.erase(std::remove(notified_.begin(), notified_.end(), other), notified_.end());
}

void TComponent::Notification(TComponent&, TOperation) {}

} // namespace pw
