#pragma once
// Emptying a store onto a link, oldest record first.
#include <cstddef>
#include <expected>
#include <string_view>

#include <asio/awaitable.hpp>

#include "trovik/core/error.hpp"
#include "trovik/core/transport.hpp"
#include "trovik/sync/store.hpp"

namespace trovik::sync {

// Sends every record to `topic`, oldest first, and gives how many were sent.
//
// A record leaves the store only once the transport has taken it: a failed
// send ends the drain with the transport's error, leaving that record and
// every later one in the store, in order (the records sent before it are
// gone, and their count is not reported). Records appended during the drain
// are sent by it if they arrive before it finds the store empty.
//
// The store is held only around each peek and each removal, never across a
// send, so other tasks may use it meanwhile. The removal therefore names the
// record it read: when another task took that record while it was being sent,
// the drain counts it as sent and removes nothing, so a record that was never
// sent is never removed in its place.
//
// The caller holds whatever lock gives it the transport for the whole drain;
// the drain neither connects nor consumes the transport.
template <Store S, core::Transport T>
asio::awaitable<std::expected<std::size_t, core::Error>> drain_to(S& store, T& transport, std::string_view topic) {
    std::size_t count = 0;
    for (;;) {
        auto head = co_await store.peek_entry();
        if (!head) co_return std::unexpected(std::move(head.error()));
        if (!*head) co_return count;
        Entry& entry = **head;
        if (auto sent = co_await transport.send(topic, entry.record); !sent)
            co_return std::unexpected(std::move(sent.error()));
        if (auto removed = co_await store.remove_entry(entry.position); !removed)
            co_return std::unexpected(std::move(removed.error()));
        ++count;
    }
}

}  // namespace trovik::sync
