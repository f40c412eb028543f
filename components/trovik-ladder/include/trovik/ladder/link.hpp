#pragma once
// How a ladder holds its links: one object form for every link type, and the
// two adapters that give a link that form.
//
// `Erased<T>` is the shared adapter of the messaging core: each operation
// starts the same operation of the link it owns, and nothing runs until the
// returned awaitable is awaited. `Uplink<T>` does the same for connect, send
// and subscribe, while its receive reports the link ended at once, without
// touching the link: a ladder never listens on an uplink, whatever the link
// could deliver.
#include <optional>
#include <span>
#include <string_view>

#include <asio/awaitable.hpp>

#include "trovik/core/transport.hpp"

namespace trovik::ladder {

using DynTransport = core::DynTransport;

template <class T>
using Erased = core::Erased<T>;

template <class T>
    requires core::Transport<T>
class Uplink final : public DynTransport {
public:
    explicit Uplink(T link) : link_(std::move(link)) {}
    asio::awaitable<core::Status> connect() override { return link_.connect(); }
    asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t> payload) override {
        return link_.send(topic, payload);
    }
    asio::awaitable<core::Status> subscribe(std::string_view filter) override { return link_.subscribe(filter); }
    asio::awaitable<core::Received> recv() override { return ended(); }

    T& link() noexcept { return link_; }

private:
    static asio::awaitable<core::Received> ended() { co_return std::optional<core::Message>(); }
    T link_;
};

}  // namespace trovik::ladder
