#include <doctest/doctest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <vector>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/bind_executor.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/dispatch.hpp>
#include <asio/experimental/awaitable_operators.hpp>

#include "async_support.hpp"
#include "trovik/core/async/mutex.hpp"

using namespace trovik::core::async;
using namespace trovik::core::async::testing;
using namespace asio::experimental::awaitable_operators;

namespace {

// Collects completions of callback-style lock waits, in the order they ran.
// Shared with the handlers, which may still be returning when the test
// thread has heard from the last of them.
struct Recorder : std::enable_shared_from_this<Recorder> {
    std::mutex guard;
    std::vector<int> order;
    std::vector<bool> aborted;
    std::promise<void> all_done;
    int expected;
    explicit Recorder(int n) : aborted(n), expected(n) {}
    static std::shared_ptr<Recorder> make(int n) { return std::make_shared<Recorder>(n); }

    auto handler(Strand strand, int i, std::vector<MutexGuard>* keep = nullptr) {
        return asio::bind_executor(strand, [self = shared_from_this(), i, keep](std::error_code ec, MutexGuard guard) {
            CHECK(guard.owns_lock() == !ec);
            bool last;
            {
                std::lock_guard lock(self->guard);
                if (ec) {
                    CHECK(ec == asio::error::operation_aborted);
                    self->aborted[i] = true;
                } else {
                    self->order.push_back(i);
                    if (keep) keep->push_back(std::move(guard));
                }
                last = --self->expected == 0;
            }
            guard.unlock();  // before the test thread hears of it
            if (last) self->all_done.set_value();
        });
    }
    void wait() { REQUIRE(all_done.get_future().wait_for(patience) == std::future_status::ready); }
};

void emit_on(Strand strand, asio::cancellation_signal& signal) {
    std::promise<void> emitted;
    asio::post(strand, [&] {
        signal.emit(asio::cancellation_type::terminal);
        emitted.set_value();
    });
    emitted.get_future().wait();
}

}  // namespace

TEST_CASE("try_lock takes a free mutex only, and the guard releases it") {
    Mutex mutex;
    auto first = mutex.try_lock();
    REQUIRE(first);
    CHECK(first->owns_lock());
    CHECK_FALSE(mutex.try_lock());
    first->unlock();
    CHECK_FALSE(first->owns_lock());
    auto second = mutex.try_lock();
    CHECK(second);
    second.reset();
    CHECK(mutex.try_lock());
}

TEST_CASE("a guard may outlive its mutex") {
    std::optional<MutexGuard> guard;
    {
        Mutex mutex;
        guard = mutex.try_lock();
    }
    REQUIRE(guard);
    guard.reset();  // unlocks state the guard kept alive
}

TEST_CASE("waiters get the lock in the order they asked for it, and try_lock never jumps the queue") {
    constexpr int n = 16;
    Mutex mutex;
    auto held = mutex.try_lock();
    auto rec = Recorder::make(n);
    std::vector<MutexGuard> keep;
    for (int i = 0; i < n; ++i)
        mutex.async_lock(rec->handler(runtime().make_strand(), i));
    held.reset();
    rec->wait();
    std::vector<int> expected(n);
    for (int i = 0; i < n; ++i)
        expected[i] = i;
    CHECK(rec->order == expected);
    CHECK(mutex.try_lock());

    // While someone waits, the lock is never free for a passer-by.
    auto one = Recorder::make(1);
    held = mutex.try_lock();
    mutex.async_lock(one->handler(runtime().make_strand(), 0, &keep));
    held.reset();
    one->wait();
    CHECK_FALSE(mutex.try_lock());
    keep.clear();
    CHECK(mutex.try_lock());
}

TEST_CASE("a cancelled waiter never takes the lock; the next one does") {
    Mutex mutex;
    auto held = mutex.try_lock();
    auto strand_a = runtime().make_strand();
    auto strand_b = runtime().make_strand();
    asio::cancellation_signal cancel_a;
    auto rec = Recorder::make(2);
    std::vector<MutexGuard> keep;
    mutex.async_lock(asio::bind_cancellation_slot(cancel_a.slot(), rec->handler(strand_a, 0)));
    mutex.async_lock(rec->handler(strand_b, 1, &keep));
    emit_on(strand_a, cancel_a);
    held.reset();
    rec->wait();
    CHECK(rec->aborted[0]);
    CHECK(rec->order == std::vector<int>{1});
    CHECK_FALSE(mutex.try_lock());
    keep.clear();
    CHECK(mutex.try_lock());
}

TEST_CASE("a cancellation racing the hand-over either loses or passes the lock on") {
    // The holder unlocks while the waiter's cancellation is emitted on the
    // waiter's strand. Whichever wins, the lock ends up free once every guard
    // is gone, and the waiter holds it exactly when it completed without error.
    std::mt19937 rng(7);
    int took = 0, withdrew = 0;
    for (int round = 0; round < 300; ++round) {
        Mutex mutex;
        auto held = mutex.try_lock();
        auto strand = runtime().make_strand();
        asio::cancellation_signal cancel;
        auto rec = Recorder::make(2);
        std::vector<MutexGuard> keep;
        mutex.async_lock(asio::bind_cancellation_slot(cancel.slot(), rec->handler(strand, 0, &keep)));
        mutex.async_lock(rec->handler(runtime().make_strand(), 1, &keep));
        std::promise<void> emitted;
        asio::post(strand, [&] {
            cancel.emit(asio::cancellation_type::terminal);
            emitted.set_value();
        });
        if (rng() % 2) std::this_thread::yield();
        held.reset();
        emitted.get_future().wait();
        rec->wait();
        if (rec->aborted[0]) {
            ++withdrew;
            CHECK(rec->order == std::vector<int>{1});
        } else {
            ++took;
            CHECK(rec->order == std::vector<int>{0, 1});
        }
        keep.clear();
        CHECK(mutex.try_lock());
    }
    CHECK(took + withdrew == 300);
}

TEST_CASE("losing a race against a timer leaves the mutex untaken") {
    auto mutex = std::make_shared<Mutex>();
    auto outcome = run([](std::shared_ptr<Mutex> mutex) -> asio::awaitable<int> {
        auto held = mutex->try_lock();
        auto result = co_await (mutex->async_lock() || sleep_for(1ms));
        CHECK(result.index() == 1);
        held.reset();
        // Had the lost wait kept the lock, this would fail.
        co_return mutex->try_lock() ? 1 : 0;
    }(mutex));
    CHECK(outcome == 1);
}

TEST_CASE("many tasks with random cancellations keep mutual exclusion and never leak the lock") {
    constexpr int tasks = 64;
    constexpr int rounds = 200;
    auto mutex = std::make_shared<Mutex>();
    auto inside = std::make_shared<std::atomic<int>>(0);
    auto entered = std::make_shared<std::atomic<int>>(0);
    auto timed_out = std::make_shared<std::atomic<int>>(0);

    auto worker = [](std::shared_ptr<Mutex> mutex, std::shared_ptr<std::atomic<int>> inside,
                     std::shared_ptr<std::atomic<int>> entered, std::shared_ptr<std::atomic<int>> timed_out,
                     unsigned seed) -> asio::awaitable<void> {
        std::mt19937 rng(seed);
        for (int r = 0; r < rounds; ++r) {
            std::optional<MutexGuard> guard;
            if (rng() % 3 == 0) {
                // Give up after a short while; a won race holds the guard.
                auto result = co_await (mutex->async_lock() || sleep_for(std::chrono::microseconds(rng() % 300)));
                if (result.index() == 0)
                    guard.emplace(std::move(std::get<0>(result)));
                else
                    ++*timed_out;
            } else {
                guard.emplace(co_await mutex->async_lock());
            }
            if (!guard) continue;
            CHECK(guard->owns_lock());
            // Left on every path, an abort's unwinding included, before the
            // guard (declared earlier) unlocks.
            struct Occupant {
                std::atomic<int>& inside;
                explicit Occupant(std::atomic<int>& n) : inside(n) { CHECK(++inside == 1); }
                ~Occupant() { CHECK(--inside == 0); }
            } occupant(*inside);
            ++*entered;
            if (rng() % 2) co_await sleep_for(std::chrono::microseconds(rng() % 100));
        }
    };

    std::vector<std::future<void>> futures;
    std::vector<Task> aborted;
    std::mt19937 rng(42);
    for (int i = 0; i < tasks; ++i) {
        if (i % 4 == 3) {
            // These are aborted from the test thread at a random moment.
            aborted.push_back(spawn(worker(mutex, inside, entered, timed_out, rng())));
        } else {
            futures.push_back(start(worker(mutex, inside, entered, timed_out, rng())));
        }
    }
    std::vector<AbortHandle> handles;
    for (auto& task : aborted)
        handles.push_back(task.abort_handle());
    for (auto& task : aborted) {
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 500));
        task.abort();
    }
    for (auto& f : futures)
        finish(f);
    // Aborted tasks unwind on their own; the lock must come free once they have.
    bool free = false;
    for (int i = 0; i < 6000 && !free; ++i) {
        bool all_finished = true;
        for (auto& h : handles)
            all_finished = all_finished && h.finished();
        if (all_finished && mutex->try_lock())
            free = true;
        else
            std::this_thread::sleep_for(10ms);
    }
    CHECK(free);
    CHECK(*inside == 0);
    CHECK(*entered > 0);
}
