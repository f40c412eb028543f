#pragma once
// Receiving without losing a message to a caller that gave up.
//
// A receive whose future is cancelled after its operation already took a
// message hands the message back (`GiveBack`, the `on_dropped` of a
// serialised receive); the owner's next receive gives it out first
// (`take_returned`). The owner's lock stays held until the message has reached
// Python or gone back, so no later call overtakes it.
#include <deque>
#include <optional>
#include <utility>

#include "binding/python.hpp"
#include "trovik/core/message.hpp"

namespace trovik::py {

// Messages given back, oldest first; guarded by the owner's lock.
using ReturnedMessages = std::deque<core::Message>;

inline std::optional<core::Message> take_returned(ReturnedMessages& returned) {
    if (returned.empty()) return std::nullopt;
    core::Message message = std::move(returned.front());
    returned.pop_front();
    return message;
}

// Puts a received message back at the head of its owner's `returned`.
struct GiveBack {
    template <class State>
    void operator()(State& owner, std::optional<core::Message>& message) const {
        if (message) owner.returned.push_front(std::move(*message));
        message.reset();
    }
};

// The future's value of a receive: a Python `Message`, or None.
PyObject* message_or_none(std::optional<core::Message>& message);

}  // namespace trovik::py
