#pragma once
// A value shared between threads behind a mutex of its own, held for the
// whole of each call. Devices and lines are reached from the Python thread
// and from a client's transaction, which runs without the interpreter lock.
#include <mutex>
#include <utility>

namespace trovik::modbus {

template <class T>
class Locked {
public:
    template <class... A>
    explicit Locked(A&&... args) : value_(std::forward<A>(args)...) {}
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

    template <class F>
    decltype(auto) with(F&& f) {
        std::lock_guard lock(mutex_);
        return std::forward<F>(f)(value_);
    }

private:
    std::mutex mutex_;
    T value_;
};

}  // namespace trovik::modbus
