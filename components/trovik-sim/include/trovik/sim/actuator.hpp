#pragma once
// An actuator that records every command instead of acting on it.
#include <memory>
#include <mutex>
#include <vector>

namespace trovik::sim {

// Every command received, oldest first. Shared, so a test can keep reading
// the log while the actuator is in use.
template <class Command>
class ActuatorLog {
public:
    void append(Command command) {
        std::lock_guard lock(mutex_);
        commands_.push_back(std::move(command));
    }
    std::vector<Command> copy() const {
        std::lock_guard lock(mutex_);
        return commands_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Command> commands_;
};

template <class Command>
class RecordingActuator {
public:
    RecordingActuator() : log_(std::make_shared<ActuatorLog<Command>>()) {}

    // Records the command unchanged (NaN and infinities included).
    void apply(Command command) { log_->append(std::move(command)); }
    // A copy of every command so far: later commands do not change it.
    std::vector<Command> commands() const { return log_->copy(); }
    std::shared_ptr<ActuatorLog<Command>> log() const { return log_; }

private:
    std::shared_ptr<ActuatorLog<Command>> log_;
};

}  // namespace trovik::sim
