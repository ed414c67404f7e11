#pragma once

#include <utility>

namespace zlt {

// Runs a clean-up when the scope ends, however it ends.
template <typename TAction>
class TScopeExit {
public:
    explicit TScopeExit(TAction AAction) : FAction(std::move(AAction)) {}
    ~TScopeExit() { FAction(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    TAction FAction;
};

} // namespace zlt
