#pragma once
// The interfaces every messaging link implements, and the object form that
// lets one link be held without knowing its type.
//
// `Transport` connects, sends and subscribes; `Receive` hands out delivered
// messages. Both are asynchronous, as Asio coroutines. A caller that knows the
// concrete link calls it directly; `AnyTransport` holds any link behind one
// heap object (`Erased<T>` adapts a link type to `DynTransport`), so link
// types that contain other links keep a fixed size.
//
// Topic, payload and filter arguments are borrowed for as long as the
// operation is pending: the caller keeps them alive until it completes.
#include <concepts>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include <asio/awaitable.hpp>

#include "trovik/core/error.hpp"
#include "trovik/core/message.hpp"

namespace trovik::core {

using Status = std::expected<void, Error>;
// The next message; nothing once the link has ended; or a failure.
using Received = std::expected<std::optional<Message>, Error>;

template <class L>
concept Transport = requires(L& link, std::string_view topic, std::span<const std::uint8_t> payload) {
    { link.connect() } -> std::same_as<asio::awaitable<Status>>;
    { link.send(topic, payload) } -> std::same_as<asio::awaitable<Status>>;
    { link.subscribe(topic) } -> std::same_as<asio::awaitable<Status>>;
};

template <class L>
concept Receive = requires(L& link) {
    { link.recv() } -> std::same_as<asio::awaitable<Received>>;
};

// The object form of a link. The awaitables it returns may move between the
// runtime's worker threads.
class DynTransport {
public:
    virtual ~DynTransport() = default;
    virtual asio::awaitable<Status> connect() = 0;
    virtual asio::awaitable<Status> send(std::string_view topic, std::span<const std::uint8_t> payload) = 0;
    virtual asio::awaitable<Status> subscribe(std::string_view filter) = 0;
    virtual asio::awaitable<Received> recv() = 0;
};

// Gives a link type the object form; owns one link.
template <class T>
    requires Transport<T> && Receive<T>
class Erased final : public DynTransport {
public:
    explicit Erased(T link) : link_(std::move(link)) {}
    asio::awaitable<Status> connect() override { return link_.connect(); }
    asio::awaitable<Status> send(std::string_view topic, std::span<const std::uint8_t> payload) override {
        return link_.send(topic, payload);
    }
    asio::awaitable<Status> subscribe(std::string_view filter) override { return link_.subscribe(filter); }
    asio::awaitable<Received> recv() override { return link_.recv(); }

    T& link() noexcept { return link_; }

private:
    T link_;
};

// An owning handle to any link; itself a Transport and a Receive.
class AnyTransport {
public:
    explicit AnyTransport(std::unique_ptr<DynTransport> link) : link_(std::move(link)) {}
    template <class T>
    static AnyTransport of(T link) {
        return AnyTransport(std::make_unique<Erased<T>>(std::move(link)));
    }

    asio::awaitable<Status> connect() { return link_->connect(); }
    asio::awaitable<Status> send(std::string_view topic, std::span<const std::uint8_t> payload) {
        return link_->send(topic, payload);
    }
    asio::awaitable<Status> subscribe(std::string_view filter) { return link_->subscribe(filter); }
    asio::awaitable<Received> recv() { return link_->recv(); }

    DynTransport& get() noexcept { return *link_; }

private:
    std::unique_ptr<DynTransport> link_;
};

static_assert(Transport<AnyTransport> && Receive<AnyTransport>);

}  // namespace trovik::core
