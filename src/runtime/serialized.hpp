#pragma once
// An object whose awaitable calls run one at a time, in the order Python made
// them.
//
// `Serialized<State>` holds the state behind an asynchronous lock shared with
// every call in flight. A binding writes each operation as a coroutine over
// the held state and hands it to `call`, which does the rest: it finds the
// caller's loop first (no running loop raises and queues nothing), takes the
// call's place in the lock's line inside the call itself (so calls are served
// in issue order), runs the operation on the loop, and keeps the lock until
// the result has reached Python or, when the future was cancelled, went back
// through `on_dropped` (so no later call overtakes a message given back).
// `call_now_or_wait` also takes the operation's at-once form, for the many
// calls that need not wait at all: they never start a coroutine.
//
// State hooks, each optional:
//   bool calls_python() const;        the calls may run Python (then they carry
//                                     a copy of the caller's context); must be
//                                     safe to read without the lock
//   void enter(const TaskContext&);   called once the lock is held
//   void leave() noexcept;            called before the lock is released
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#include <asio/awaitable.hpp>

#include "runtime/bridge.hpp"
#include "trovik/core/async/mutex.hpp"

namespace trovik::py {

template <class State>
class Serialized {
    struct Cell {
        template <class... A>
        explicit Cell(A&&... args) : state(std::forward<A>(args)...) {}
        core::async::Mutex mutex;
        State state;
    };

public:
    // The state held for one call: the lock is released when it goes (or by
    // `unlock`, for an operation that lets others in before it ends).
    class Held {
    public:
        Held() noexcept = default;  // holds nothing
        Held(std::shared_ptr<Cell> cell, core::async::MutexGuard guard) noexcept
            : cell_(std::move(cell)), guard_(std::move(guard)) {}
        Held(Held&& other) noexcept = default;
        Held& operator=(Held&&) = delete;
        ~Held() { unlock(); }

        State& operator*() const noexcept { return cell_->state; }
        State* operator->() const noexcept { return &cell_->state; }

        void unlock() noexcept {
            if (!guard_) return;
            if constexpr (requires(State& s) { s.leave(); }) cell_->state.leave();
            guard_.unlock();
        }

    private:
        std::shared_ptr<Cell> cell_;
        core::async::MutexGuard guard_;
    };

    template <class... A>
    explicit Serialized(std::in_place_t, A&&... args) : cell_(std::make_shared<Cell>(std::forward<A>(args)...)) {}

    // Starts one call. `op(Held&)` returns the operation's asio::awaitable<R>
    // and owns what it needs (its captures live as long as the call);
    // `convert(R&)` (or `convert()` for void) gives the future's value as a
    // new reference; `on_dropped(State&, R&)` takes back a value whose future
    // was cancelled.
    template <class Op, class Convert, class Drop = detail::NoDrop>
    PyObject* call(Op op, Convert convert, Drop on_dropped = {}) const {
        return start(current_task_context(calls_python()), std::move(op), std::move(convert), std::move(on_dropped));
    }

    // The same, trying `now(State&)` first: with the lock free it gives the
    // result at once (a std::optional<R>, or for void a bool), or declines
    // because the operation would have to wait; only then does the operation
    // run. `op` is the operation, or, when it must take ownership of what
    // `now` only borrows, a callable making it (called only if needed).
    template <class Now, class Op, class Convert, class Drop = detail::NoDrop>
    PyObject* call_now_or_wait(Now now, Op op, Convert convert, Drop on_dropped = {}) const {
        using Operation = decltype(operation(op));
        using R = typename std::invoke_result_t<Operation&, Held&>::value_type;
        using Result = std::conditional_t<std::is_void_v<R>, bool, std::optional<R>>;
        std::optional<Held> held;  // until the result has reached Python
        return now_or_wait(
            running_loop(), calls_python(), Wakes::Waiters,
            [&]() -> Result {
                std::optional<core::async::MutexGuard> guard = cell_->mutex.try_lock();
                if (!guard) return Result{};
                held.emplace(cell_, std::move(*guard));
                return now(**held);
            },
            [&](const TaskContext& context) {
                held.reset();
                return run<R>(cell_, context, operation(op));
            },
            Converter<R, Convert>{std::move(convert)}, Dropper<R, Drop>{std::move(on_dropped)});
    }

    // Waits for this object's turn from inside another object's operation, as
    // the first thing that operation does (so its place is taken in issue
    // order). `context` must carry a copy of the caller's context when
    // `calls_python()`.
    asio::awaitable<Held> hold(TaskContext context) const { return acquire(cell_, std::move(context)); }

    // The state held now, when the lock is free with nobody in line; for
    // synchronous calls that must not wait (a busy transport refuses).
    std::optional<Held> try_hold() const {
        std::optional<core::async::MutexGuard> guard = cell_->mutex.try_lock();
        if (!guard) return std::nullopt;
        return Held(cell_, std::move(*guard));
    }

    bool calls_python() const {
        if constexpr (requires(const State& s) { s.calls_python(); })
            return cell_->state.calls_python();
        else
            return false;
    }

    // The state without the lock, for the parts of it that are safe to touch
    // without it (fixed at construction, or guarded on their own).
    State& unguarded() const noexcept { return cell_->state; }

private:
    struct Nothing {};
    template <class R>
    struct Done {
        std::conditional_t<std::is_void_v<R>, Nothing, R> value;
        Held held;
    };

    // The operation itself, or what its maker makes.
    template <class Op>
    static auto operation(Op& op) {
        if constexpr (std::is_invocable_v<Op&, Held&>)
            return std::move(op);
        else
            return op();
    }

    // The future's value from either form of a result.
    template <class R, class Convert>
    struct Converter {
        Convert convert;
        PyObject* operator()() { return convert(); }
        template <class V>
            requires std::is_same_v<V, R>
        PyObject* operator()(V& value) {
            return convert(value);
        }
        PyObject* operator()(Done<R>& done) {
            if constexpr (std::is_void_v<R>)
                return convert();
            else
                return convert(done.value);
        }
    };

    // A finished value whose future was cancelled goes back, the lock held.
    template <class R, class Drop>
    struct Dropper {
        Drop on_dropped;
        void operator()(Done<R>& done) {
            if constexpr (!std::is_void_v<R>) {
                if constexpr (std::is_invocable_v<Drop&, State&, R&>) on_dropped(*done.held, done.value);
            }
        }
    };

    template <class Op, class Convert, class Drop>
    PyObject* start(const TaskContext& context, Op op, Convert convert, Drop on_dropped) const {
        using R = typename std::invoke_result_t<Op&, Held&>::value_type;
        return start_awaitable(context, run<R>(cell_, context, std::move(op)),
                               Converter<R, Convert>{std::move(convert)}, Dropper<R, Drop>{std::move(on_dropped)});
    }

    static asio::awaitable<Held> acquire(std::shared_ptr<Cell> cell, TaskContext context) {
        std::optional<core::async::MutexGuard> guard = cell->mutex.try_lock();
        if (!guard) guard.emplace(co_await cell->mutex.async_lock());
        Held held(std::move(cell), std::move(*guard));
        if constexpr (requires(State& s) { s.enter(context); }) (*held).enter(context);
        co_return held;
    }

    template <class R, class Op>
    static asio::awaitable<Done<R>> run(std::shared_ptr<Cell> cell, TaskContext context, Op op) {
        std::optional<core::async::MutexGuard> guard = cell->mutex.try_lock();
        if (!guard) guard.emplace(co_await cell->mutex.async_lock());
        Held held(std::move(cell), std::move(*guard));
        if constexpr (requires(State& s) { s.enter(context); }) (*held).enter(context);
        if constexpr (std::is_void_v<R>) {
            co_await op(held);
            Done<R> done{Nothing{}, std::move(held)};
            co_return done;
        } else {
            R value = co_await op(held);
            Done<R> done{std::move(value), std::move(held)};
            co_return done;
        }
    }

    std::shared_ptr<Cell> cell_;
};

}  // namespace trovik::py
