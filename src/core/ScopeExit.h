// Runs an action when the scope it guards is left, by return or by exception: the one place
// that owns an end which every path must reach.
#pragma once

#include <utility>

namespace pw {

template <typename Action> class ScopeExit {
public:
    explicit ScopeExit(Action action) : action_(std::move(action)) {}
    ~ScopeExit() { action_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Action action_;
};

} // namespace pw
