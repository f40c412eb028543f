#pragma once
// The machinery shared by every waiting operation of the primitives in this
// directory (mutex, queue, one-shot, broadcast).
//
// A waiting operation is a node in its primitive's FIFO list. Whatever wakes it
// (an unlock, a push, a publish) decides under the primitive's lock and then
// posts the delivery to the waiter's own executor; the waiter settles its
// result there, again under the lock, and only then calls its handler. A
// cancellation arrives through the handler's cancellation slot, which Asio
// emits on that same executor. So between the wake-up and the delivery the
// cancellation can still win: the primitive then takes back what it had handed
// over (the lock, the value) and the operation ends with operation_aborted,
// having taken nothing.
//
// Executors: the handler's associated executor must serialise the handler with
// the emission of its cancellation signal, as a one-thread executor (the
// runtime's, an event loop's) or a strand does; a handler without an
// associated executor is completed on the runtime.
#include <optional>
#include <system_error>
#include <tuple>
#include <type_traits>
#include <utility>

#include <asio/associated_cancellation_slot.hpp>
#include <asio/associated_executor.hpp>
#include <asio/cancellation_type.hpp>
#include <asio/execution/outstanding_work.hpp>
#include <asio/post.hpp>
#include <asio/prefer.hpp>

#include "trovik/core/async/runtime.hpp"

namespace trovik::core::async::detail {

class WaitNode {
public:
    // Queues the delivery on the waiter's executor. Called under the owning
    // primitive's lock, exactly once per wake-up.
    virtual void post_delivery() = 0;

protected:
    ~WaitNode() = default;

private:
    friend class WaitList;
    WaitNode* prev_ = nullptr;
    WaitNode* next_ = nullptr;
    bool linked_ = false;
};

// An intrusive FIFO of waiting nodes; guarded by the owning primitive's lock.
class WaitList {
public:
    WaitList() = default;
    WaitList(const WaitList&) = delete;
    WaitList& operator=(const WaitList&) = delete;

    bool empty() const noexcept { return head_ == nullptr; }
    static bool linked(const WaitNode& node) noexcept { return node.linked_; }

    void push_back(WaitNode* node) noexcept {
        node->prev_ = tail_;
        node->next_ = nullptr;
        node->linked_ = true;
        (tail_ ? tail_->next_ : head_) = node;
        tail_ = node;
    }

    WaitNode* pop_front() noexcept {
        WaitNode* node = head_;
        if (node) erase(node);
        return node;
    }

    void erase(WaitNode* node) noexcept {
        (node->prev_ ? node->prev_->next_ : head_) = node->next_;
        (node->next_ ? node->next_->prev_ : tail_) = node->prev_;
        node->prev_ = node->next_ = nullptr;
        node->linked_ = false;
    }

    // Wakes every node, in order.
    void post_all() noexcept {
        while (WaitNode* node = pop_front())
            node->post_delivery();
    }

private:
    WaitNode* head_ = nullptr;
    WaitNode* tail_ = nullptr;
};

struct NoExecutor {};

template <class Handler>
auto completion_executor(const Handler& handler) {
    if constexpr (std::is_same_v<asio::associated_executor_t<Handler, NoExecutor>, NoExecutor>)
        return asio::prefer(runtime().executor(), asio::execution::outstanding_work.tracked);
    else
        return asio::prefer(asio::get_associated_executor(handler), asio::execution::outstanding_work.tracked);
}

// One waiting operation: the primitive-specific node `Base` plus the handler.
//
// `Base` provides
//   using Result = std::tuple<std::error_code, ...>;   the handler's arguments
//   void cancel();                  under its lock: withdraw or take back
//   std::optional<Result> settle(); under its lock: the outcome, or nullopt
//                                   after putting itself back in the list
// and calls post_delivery() (under its lock) whenever it wakes the node.
template <class Base, class Handler>
class WaitOp final : public Base {
public:
    template <class H, class... Args>
    explicit WaitOp(H&& handler, Args&&... args)
        : Base(std::forward<Args>(args)...),
          handler_(std::forward<H>(handler)),
          executor_(completion_executor(handler_)) {}

    // Creates the operation and starts it. The slot is connected before the
    // node becomes visible to other threads.
    template <class H, class... Args>
    static void launch(H&& handler, Args&&... args) {
        auto* op = new WaitOp(std::forward<H>(handler), std::forward<Args>(args)...);
        op->slot_ = asio::get_associated_cancellation_slot(op->handler_);
        if (op->slot_.is_connected()) op->slot_.template emplace<Canceller>(op);
        op->start();  // may already be delivered (and gone) when this returns
    }

    void post_delivery() override {
        asio::post(executor_, [this] { deliver(); });
    }

private:
    struct Canceller {
        WaitOp* op;
        void operator()(asio::cancellation_type_t type) const {
            if (type != asio::cancellation_type::none) op->cancel();
        }
    };

    void deliver() {
        std::optional<typename Base::Result> result = this->settle();
        if (!result) return;  // back in the list, still waiting
        if (slot_.is_connected()) slot_.clear();
        Handler handler = std::move(handler_);
        auto work = std::move(executor_);  // keeps the context busy until the call
        delete this;
        std::apply(std::move(handler), std::move(*result));
    }

    Handler handler_;
    std::decay_t<decltype(completion_executor(std::declval<const Handler&>()))> executor_;
    asio::cancellation_slot slot_;
};

}  // namespace trovik::core::async::detail
