#pragma once
// A value behind a mutex of its own, held for the whole of one call: the
// state of a binding object whose calls each work on it whole (a parser, an
// encoder, a signer).
//
// Calls keep the interpreter lock and run no Python code while they hold the
// mutex, so it is never contended from Python; what it adds is the refusal of
// every later call once an internal fault escaped with the value half
// changed. A Python error raised on purpose (`PendingError`) is taken to
// leave the value sound: the operation raises it before changing anything.
#include <mutex>
#include <string_view>
#include <utility>

#include "binding/errors.hpp"

namespace trovik::py {

// `Refuse` raises the poisoned text: `TrovikError` unless the object's
// documentation names another exception.
template <class T, void (*Refuse)(std::string_view) = raise_trovik>
class Guarded {
public:
    template <class... A>
    explicit Guarded(const char* poisoned_text, A&&... args)
        : poisoned_text_(poisoned_text), value_(std::forward<A>(args)...) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    // Runs `f` on the value, or raises the poisoned text once a fault has
    // escaped an earlier call.
    template <class F>
    decltype(auto) with(F&& f) {
        std::unique_lock lock(mutex_);
        if (poisoned_) {
            lock.unlock();
            Refuse(poisoned_text_);
        }
        try {
            return std::forward<F>(f)(value_);
        } catch (const PendingError&) {
            throw;
        } catch (...) {
            poisoned_ = true;
            throw;
        }
    }

private:
    std::mutex mutex_;
    bool poisoned_ = false;
    const char* poisoned_text_;
    T value_;
};

}  // namespace trovik::py
