#pragma once
// A blocking mutex that remembers an internal fault.
//
// The broker and its links keep plain lists behind short critical sections.
// If an internal fault (an exception) unwinds through one of them, the list
// may be half changed, so the lock refuses every later user with a fault of
// its own, naming itself, instead of handing out broken state.
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>

namespace trovik::loopback {

class FaultAwareMutex {
public:
    // `name` is a literal naming the lock in fault messages, e.g. "broker lock".
    explicit FaultAwareMutex(const char* name) noexcept : name_(name) {}
    FaultAwareMutex(const FaultAwareMutex&) = delete;
    FaultAwareMutex& operator=(const FaultAwareMutex&) = delete;

    class Lock {
    public:
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        ~Lock() {
            if (std::uncaught_exceptions() > unwinding_) owner_.poisoned_ = true;
            owner_.mutex_.unlock();
        }

    private:
        friend class FaultAwareMutex;
        explicit Lock(FaultAwareMutex& owner) : owner_(owner), unwinding_(std::uncaught_exceptions()) {}
        FaultAwareMutex& owner_;
        int unwinding_;
    };

    // Takes the lock; throws std::logic_error when an earlier fault poisoned it.
    [[nodiscard]] Lock lock() {
        mutex_.lock();
        if (poisoned_) {
            mutex_.unlock();
            throw std::logic_error(std::string(name_) + ": poisoned by an earlier internal fault");
        }
        return Lock(*this);
    }

private:
    std::mutex mutex_;
    bool poisoned_ = false;
    const char* name_;
};

}  // namespace trovik::loopback
