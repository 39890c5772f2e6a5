// ScopeGuard: runs a function when the scope ends, unless dismissed.
#pragma once

#include <utility>

namespace base {

template <class F> class TScopeExit {
public:
    explicit TScopeExit(F f) : f_(std::move(f)) {}
    ~TScopeExit() {
        if (armed_) f_();
    }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;
    // The function will not run.
    void Dismiss() { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

// auto restore = base::ScopeExit([&] { ... });
template <class F> [[nodiscard]] TScopeExit<F> ScopeExit(F f) {
    return TScopeExit<F>(std::move(f));
}

} // namespace base
