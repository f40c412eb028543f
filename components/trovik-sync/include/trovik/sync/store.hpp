#pragma once
// The interface of a store-and-forward buffer: a first-in, first-out queue of
// byte records that bridges a link outage.
//
// A store keeps its records in the order they were appended and never
// reorders, merges or drops one by itself. Every record also has a position
// that no other record of the same open store ever shares, so a caller that
// read the oldest record, let go of the store while it sent the record, and
// came back to remove it can tell whether it is still the one it read
// (`remove_entry`): a store reached by several tasks never loses a record
// that was not delivered.
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include <asio/awaitable.hpp>

#include "trovik/core/error.hpp"
#include "trovik/core/message.hpp"
#include "trovik/core/transport.hpp"

namespace trovik::sync {

// The oldest record together with its position in the store.
struct Entry {
    std::uint64_t position = 0;
    core::Bytes record;
    friend bool operator==(const Entry&, const Entry&) = default;
};

// A record, or nothing when the store is empty; or a failure.
using Fetched = std::expected<std::optional<core::Bytes>, core::Error>;
using FetchedEntry = std::expected<std::optional<Entry>, core::Error>;
using Count = std::expected<std::size_t, core::Error>;
using Text = std::expected<std::optional<std::string>, core::Error>;

// append: the record becomes the newest. peek: a copy of the oldest record.
// pop: the oldest record, removed. len: how many records are held.
// peek_entry: the oldest record with its position. remove_entry(position):
// removes the oldest record when it is still the one at `position` (true), or
// leaves the store alone when that record has already left it (false).
template <class S>
concept Store = requires(S& store, std::span<const std::uint8_t> record, std::uint64_t position) {
    { store.append(record) } -> std::same_as<asio::awaitable<core::Status>>;
    { store.peek() } -> std::same_as<asio::awaitable<Fetched>>;
    { store.pop() } -> std::same_as<asio::awaitable<Fetched>>;
    { store.len() } -> std::same_as<asio::awaitable<Count>>;
    { store.peek_entry() } -> std::same_as<asio::awaitable<FetchedEntry>>;
    { store.remove_entry(position) } -> std::same_as<asio::awaitable<std::expected<bool, core::Error>>>;
};

// A record as text: nothing stays nothing; valid UTF-8 becomes its text;
// anything else is the codec error "the record is not UTF-8 text".
Text as_text(std::optional<core::Bytes> record);

// `peek`, then `as_text`.
template <Store S>
asio::awaitable<Text> peek_text(S& store) {
    auto record = co_await store.peek();
    if (!record) co_return std::unexpected(std::move(record.error()));
    co_return as_text(std::move(*record));
}

// `pop`, then `as_text`: the record is gone even when it is not text.
template <Store S>
asio::awaitable<Text> pop_text(S& store) {
    auto record = co_await store.pop();
    if (!record) co_return std::unexpected(std::move(record.error()));
    co_return as_text(std::move(*record));
}

}  // namespace trovik::sync
