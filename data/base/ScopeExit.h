#pragma once

#include <utility>

namespace sorvanto {

// Runs an action when the scope ends, however it ends: puts back a flag or a state that an
// exception must not leave set.
template <typename F> class TScopeExit {
public:
    explicit TScopeExit(F action) : action_(std::move(action)) {}
    ~TScopeExit() { action_(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    F action_;
};

} // namespace sorvanto
