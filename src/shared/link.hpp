#pragma once
// The links behind every Python transport, and the transport that holds one.
//
// `Link` holds any link type (loopback, MQTT, CoAP, host, and the wrappers
// around another `Link`) behind one object form: a new link type needs no
// list to join, only the Transport and Receive operations. A link that runs
// Python (a host link, bare or wrapped) says so, and is told the context of
// the call that drives it.
//
// A Python `PyTransport` keeps its link in a slot, a serialised object shared
// with every call in flight: calls run one at a time, in issue order; `take`
// empties the slot when the transport is handed on.
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include <asio/awaitable.hpp>

#include "runtime/bridge.hpp"
#include "runtime/receipt.hpp"
#include "runtime/serialized.hpp"
#include "trovik/core/transport.hpp"

namespace trovik::py {

class Link {
public:
    template <class T>
        requires core::Transport<T> && core::Receive<T> && (!std::is_same_v<std::remove_cvref_t<T>, Link>)
    explicit Link(T link) : model_(std::make_unique<Model<T>>(std::move(link))) {}
    Link(Link&&) noexcept = default;
    Link& operator=(Link&&) noexcept = default;

    asio::awaitable<core::Status> connect() { return model_->connect(); }
    asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t> payload) {
        return model_->send(topic, payload);
    }
    asio::awaitable<core::Status> subscribe(std::string_view filter) { return model_->subscribe(filter); }
    asio::awaitable<core::Received> recv() { return model_->recv(); }

    // The same operations done at once, for links that can (the loopback
    // link): the outcome, or nothing when the link would have to wait or has
    // no such form.
    std::optional<core::Status> try_connect() { return model_->try_connect(); }
    std::optional<core::Status> try_send(std::string_view topic, std::span<const std::uint8_t> payload) {
        return model_->try_send(topic, payload);
    }
    std::optional<core::Status> try_subscribe(std::string_view filter) { return model_->try_subscribe(filter); }
    std::optional<core::Received> try_recv() { return model_->try_recv(); }

    // Whether a link that runs Python sits in this one (itself, or inside
    // wrappers): its calls then need the driving call's context.
    bool calls_python() const { return model_->calls_python(); }
    // Hands the driving call's context to every link within that runs
    // Python, or clears it with nullopt.
    void set_caller(const std::optional<TaskContext>& caller) { model_->set_caller(caller); }
    // Whether it delivers messages at all (a host link without `recv` only
    // sends, and a ladder never listens on it).
    bool delivers() const { return model_->delivers(); }

private:
    struct Concept : core::DynTransport {
        virtual std::optional<core::Status> try_connect() = 0;
        virtual std::optional<core::Status> try_send(std::string_view topic, std::span<const std::uint8_t> payload) = 0;
        virtual std::optional<core::Status> try_subscribe(std::string_view filter) = 0;
        virtual std::optional<core::Received> try_recv() = 0;
        virtual bool calls_python() const = 0;
        virtual void set_caller(const std::optional<TaskContext>& caller) = 0;
        virtual bool delivers() const = 0;
    };

    // A wrapper exposes the link it wraps as `inner()`.
    template <class T>
    static constexpr bool wraps_link = requires(T& t) {
        { t.inner() } -> std::same_as<Link&>;
    };

    template <class T>
    struct Model final : Concept {
        explicit Model(T l) : link(std::move(l)) {}
        asio::awaitable<core::Status> connect() override { return link.connect(); }
        asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t> payload) override {
            return link.send(topic, payload);
        }
        asio::awaitable<core::Status> subscribe(std::string_view filter) override { return link.subscribe(filter); }
        asio::awaitable<core::Received> recv() override { return link.recv(); }
        std::optional<core::Status> try_connect() override {
            if constexpr (requires { link.connect_now(); })
                return link.connect_now();
            else
                return std::nullopt;
        }
        std::optional<core::Status> try_send(std::string_view topic, std::span<const std::uint8_t> payload) override {
            if constexpr (requires { link.send_now(topic, payload); })
                return link.send_now(topic, payload);
            else
                return std::nullopt;
        }
        std::optional<core::Status> try_subscribe(std::string_view filter) override {
            if constexpr (requires { link.subscribe_now(filter); })
                return link.subscribe_now(filter);
            else
                return std::nullopt;
        }
        std::optional<core::Received> try_recv() override {
            if constexpr (requires { link.try_recv(); })
                return link.try_recv();
            else
                return std::nullopt;
        }
        bool calls_python() const override {
            if constexpr (requires { link.calls_python(); })
                return link.calls_python();
            else if constexpr (wraps_link<T>)
                return const_cast<T&>(link).inner().calls_python();
            else
                return false;
        }
        void set_caller(const std::optional<TaskContext>& caller) override {
            if constexpr (requires { link.set_caller(caller); })
                link.set_caller(caller);
            else if constexpr (wraps_link<T>)
                link.inner().set_caller(caller);
        }
        bool delivers() const override {
            if constexpr (requires { link.delivers(); })
                return link.delivers();
            else
                return true;
        }
        T link;
    };

    std::unique_ptr<Concept> model_;
};

static_assert(core::Transport<Link> && core::Receive<Link>);

// What a transport refuses with when it is handed on in the middle of a call,
// and what every use of a transport already handed on raises.
inline constexpr const char* kTransportBusy = "this transport is busy with a call";
inline constexpr const char* kTransportSpent = "this transport was already added to a ladder or a wrapper";

// The slot of a Python transport: made holding a link, emptied at most once.
class SlotState {
public:
    explicit SlotState(Link held) : link(std::move(held)), python_(link->calls_python()) {}

    std::optional<Link> link;
    // Messages a `recv` took for a caller that stopped waiting before it got
    // them: the next `recv` hands them out.
    ReturnedMessages returned;

    bool calls_python() const noexcept { return python_; }
    void enter(const TaskContext& caller) {
        if (python_ && link) link->set_caller(caller);
    }
    void leave() noexcept {
        if (python_ && link) link->set_caller(std::nullopt);
    }
    // The link, or TaskFailure kTransportSpent when it was handed on.
    Link& held() {
        if (!link) throw TaskFailure::trovik(std::string(kTransportSpent));
        return *link;
    }

private:
    const bool python_;  // fixed: what the link said when the slot was made
};

using TransportSlot = Serialized<SlotState>;

// The Python `PyTransport`. As a parameter type, `In<PyTransport>`.
struct PyTransport {
    TransportSlot slot;
};

// A new Python `PyTransport` holding `link`.
PyObject* make_transport(Link link);
// Moves the link out, never waiting. Raises TrovikError kTransportBusy while
// a call holds or waits for the slot (it is then unchanged), and
// kTransportSpent when it was already empty.
Link take(const TransportSlot& slot);
// False only when the slot is known to be empty; true while it is busy.
bool is_available(const TransportSlot& slot);

}  // namespace trovik::py
