#pragma once
// A shared handle to one store, guarded by an asynchronous lock.
//
// Copies of the handle share the store, which lives until the last copy is
// dropped. Each operation takes the lock for itself alone, so operations on
// one store run one at a time, in the order they reach the lock. A file
// store's operations run on the runtime's pool for blocking work (file syncs
// can stall for a long time, and the runtime's workers serve every link);
// the operation still holds the lock until its file work is done, and a
// cancelled caller stops waiting only after it: cancellation never splits an
// operation, so an append either happened or did not.
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <variant>

#include <asio/awaitable.hpp>

#include "trovik/core/transport.hpp"
#include "trovik/sync/file.hpp"
#include "trovik/sync/memory.hpp"
#include "trovik/sync/store.hpp"

namespace trovik::sync {

using StoreKind = std::variant<MemoryStore, FileStore>;

namespace detail {
struct SharedState;
}

class SharedStore {
public:
    explicit SharedStore(StoreKind store);

    // The record is copied (the borrow ends at the call) or handed over.
    asio::awaitable<core::Status> append(std::span<const std::uint8_t> record) const;
    asio::awaitable<core::Status> append(core::Bytes record) const;
    asio::awaitable<Fetched> peek() const;
    asio::awaitable<Fetched> pop() const;
    asio::awaitable<Count> len() const;
    asio::awaitable<FetchedEntry> peek_entry() const;

    // The same operations done at once, when that needs no waiting (a memory
    // store whose lock is free); else nothing, and `record` is left as it was.
    std::optional<core::Status> try_append(core::Bytes& record) const;
    std::optional<Fetched> try_peek() const;
    std::optional<Fetched> try_pop() const;
    std::optional<Count> try_len() const;
    asio::awaitable<std::expected<bool, core::Error>> remove_entry(std::uint64_t position) const;

private:
    std::shared_ptr<detail::SharedState> state_;
};

static_assert(Store<SharedStore>);

}  // namespace trovik::sync
