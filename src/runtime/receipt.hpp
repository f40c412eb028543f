#pragma once
// Receiving without losing a message to a caller that gave up.
//
// A receive whose future is cancelled after its task already took a message
// hands the message back; the owner's next receive gives it out first. The
// owner's asynchronous lock stays held (in the receipt) until the message has
// reached Python or gone back, so no later call overtakes it.
#include <deque>
#include <memory>
#include <optional>
#include <utility>

#include "binding/convert.hpp"
#include "shared/message.hpp"
#include "trovik/core/message.hpp"

namespace trovik::py {

// Messages given back, oldest first; guarded by the owner's asynchronous lock.
using ReturnedMessages = std::deque<core::Message>;

inline std::optional<core::Message> take_returned(ReturnedMessages& returned) {
    if (returned.empty()) return std::nullopt;
    core::Message message = std::move(returned.front());
    returned.pop_front();
    return message;
}

// A received message with the owner's lock (`Held`) still held.
template <class Held>
struct Receipt {
    std::optional<core::Message> message;
    std::optional<Held> held;
    std::shared_ptr<void> owner;  // keeps `returned` alive
    ReturnedMessages* returned = nullptr;
};

template <class Held>
Receipt<Held> make_receipt(std::optional<core::Message> message, Held&& held, std::shared_ptr<void> owner,
                           ReturnedMessages& returned) {
    Receipt<Held> receipt;
    receipt.message = std::move(message);
    receipt.held.emplace(std::move(held));
    receipt.owner = std::move(owner);
    receipt.returned = &returned;
    return receipt;
}

// The future's value: the message as a Python `Message`, or None.
template <class Held>
PyObject* resolve_receipt(Receipt<Held>& receipt) {
    if (!receipt.message) return none();
    return make_message(*receipt.message);
}

// The `on_dropped` of a receive: the message goes back ahead of later ones.
template <class Held>
void return_receipt(Receipt<Held>& receipt) {
    if (receipt.message && receipt.returned) receipt.returned->push_front(std::move(*receipt.message));
    receipt.message.reset();
}

}  // namespace trovik::py
