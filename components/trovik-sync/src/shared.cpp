#include "trovik/sync/shared.hpp"

#include <exception>
#include <functional>
#include <type_traits>
#include <utility>

#include <asio/associated_executor.hpp>
#include <asio/async_result.hpp>
#include <asio/execution/outstanding_work.hpp>
#include <asio/post.hpp>
#include <asio/prefer.hpp>
#include <asio/use_awaitable.hpp>

#include "trovik/core/async/mutex.hpp"
#include "trovik/core/async/runtime.hpp"

namespace trovik::sync {

struct detail::SharedState {
    explicit SharedState(StoreKind store_) : store(std::move(store_)) {}
    core::async::Mutex mutex;
    StoreKind store;
};

namespace {

// Runs `work` on the pool for blocking work and resumes the caller on its own
// executor with the result. The wait ignores cancellation: the work goes on
// regardless, and its outcome must reach the caller, which holds the store's
// lock until then. `work` is moved from at the call.
template <class R>
asio::awaitable<R> on_blocking_pool(std::move_only_function<R()>& work) {
    return asio::async_initiate<const asio::use_awaitable_t<>&, void(std::exception_ptr, R)>(
        [](auto handler, std::move_only_function<R()> work) {
            auto executor =
                asio::prefer(asio::get_associated_executor(handler), asio::execution::outstanding_work.tracked);
            core::async::post_blocking([work = std::move(work), handler = std::move(handler), executor]() mutable {
                std::exception_ptr fault;
                R result{};
                try {
                    result = work();
                } catch (...) {
                    fault = std::current_exception();
                }
                asio::post(executor, [handler = std::move(handler), fault, result = std::move(result)]() mutable {
                    std::move(handler)(fault, std::move(result));
                });
            });
        },
        asio::use_awaitable, std::move(work));
}

// Runs one store operation under the store's lock: in place for the memory
// store, on the blocking pool for the file store. `op` is called with the
// store (either kind) and names its result type. The operations below call it
// from plain functions, never inside a co_await expression (CONTRIBUTING.md,
// "g++ 12 and coroutines").
template <class Op>
auto locked(std::shared_ptr<detail::SharedState> state, Op op)
    -> asio::awaitable<std::invoke_result_t<Op&, FileStore&>> {
    using R = std::invoke_result_t<Op&, FileStore&>;
    std::optional<core::async::MutexGuard> guard = state->mutex.try_lock();
    if (!guard) guard.emplace(co_await state->mutex.async_lock(asio::use_awaitable));
    if (auto* memory = std::get_if<MemoryStore>(&state->store)) co_return op(*memory);
    std::move_only_function<R()> work = [state, op = std::move(op)]() mutable -> R {
        return op(std::get<FileStore>(state->store));
    };
    co_return co_await on_blocking_pool<R>(work);
}

}  // namespace

SharedStore::SharedStore(StoreKind store) : state_(std::make_shared<detail::SharedState>(std::move(store))) {}

asio::awaitable<core::Status> SharedStore::append(std::span<const std::uint8_t> record) const {
    // Copied now, so the caller's borrow ends here and the file work, which
    // may outlive the caller, owns what it writes.
    return append(core::Bytes(record.begin(), record.end()));
}

asio::awaitable<core::Status> SharedStore::append(core::Bytes record) const {
    return locked(state_, [owned = std::move(record)](auto& store) mutable -> core::Status {
        return store.append(std::move(owned));
    });
}

asio::awaitable<Fetched> SharedStore::peek() const {
    return locked(state_, [](auto& store) -> Fetched { return store.peek(); });
}

asio::awaitable<Fetched> SharedStore::pop() const {
    return locked(state_, [](auto& store) -> Fetched { return store.pop(); });
}

namespace {

// Runs `op` on a memory store whose lock is free, at once.
template <class Op>
auto at_once(detail::SharedState& state, Op op) -> std::optional<std::invoke_result_t<Op&, MemoryStore&>> {
    auto* memory = std::get_if<MemoryStore>(&state.store);
    if (!memory) return std::nullopt;
    std::optional<core::async::MutexGuard> guard = state.mutex.try_lock();
    if (!guard) return std::nullopt;
    return op(*memory);
}

}  // namespace

std::optional<core::Status> SharedStore::try_append(core::Bytes& record) const {
    return at_once(*state_, [&](MemoryStore& store) { return store.append(std::move(record)); });
}

std::optional<Fetched> SharedStore::try_peek() const {
    return at_once(*state_, [](MemoryStore& store) -> Fetched { return store.peek(); });
}

std::optional<Fetched> SharedStore::try_pop() const {
    return at_once(*state_, [](MemoryStore& store) -> Fetched { return store.pop(); });
}

std::optional<Count> SharedStore::try_len() const {
    return at_once(*state_, [](MemoryStore& store) -> Count { return store.len(); });
}

namespace {
// The file store counts its in-memory index, so no file work is needed.
asio::awaitable<Count> count(std::shared_ptr<detail::SharedState> state) {
    std::optional<core::async::MutexGuard> guard = state->mutex.try_lock();
    if (!guard) guard.emplace(co_await state->mutex.async_lock(asio::use_awaitable));
    co_return std::visit([](const auto& store) { return store.len(); }, state->store);
}
}  // namespace

asio::awaitable<Count> SharedStore::len() const { return count(state_); }

asio::awaitable<FetchedEntry> SharedStore::peek_entry() const {
    return locked(state_, [](auto& store) -> FetchedEntry { return store.peek_entry(); });
}

asio::awaitable<std::expected<bool, core::Error>> SharedStore::remove_entry(std::uint64_t position) const {
    return locked(state_,
                  [position](auto& store) -> std::expected<bool, core::Error> { return store.remove_entry(position); });
}

}  // namespace trovik::sync
