#include "udp.hpp"

#include <charconv>

#include <asio/error.hpp>
#include <asio/ip/address.hpp>
#include <asio/system_error.hpp>

namespace trovik::coap::detail {

void throw_cancelled() { throw asio::system_error(asio::error::operation_aborted); }

Inbox::Inbox(const Strand& strand) : wake_(strand, asio::steady_timer::time_point::max()) {}

void Inbox::push(core::Message message) {
    items_.push_back(std::move(message));
    wake_.cancel();
}

void Inbox::close() {
    closed_ = true;
    wake_.cancel();
}

asio::awaitable<std::optional<core::Message>> Inbox::pop() {
    for (;;) {
        if (!items_.empty()) {
            core::Message m = std::move(items_.front());
            items_.pop_front();
            co_return m;
        }
        if (closed_) co_return std::nullopt;
        co_await wake_.async_wait(use_tuple);
        if (co_await cancelled()) throw_cancelled();
    }
}

Link::Link(const Strand& strand, udp::socket s) : socket(std::move(s)), inbox(strand) {
    std::error_code ec;
    auto ep = socket.local_endpoint(ec);
    if (!ec) local = ep;
}

void Link::stop() {
    stopped = true;
    std::error_code ec;
    socket.close(ec);
}

std::expected<HostPort, std::string> split_host_port(std::string_view text) {
    auto colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::unexpected(std::string("invalid socket address"));
    std::string_view host = text.substr(0, colon);
    std::string_view port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string_view::npos)
        return std::unexpected(std::string("invalid socket address"));
    HostPort out{std::string(host), 0};
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), out.port);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size())
        return std::unexpected(std::string("invalid port value"));
    return out;
}

asio::awaitable<std::expected<std::vector<udp::endpoint>, std::error_code>> resolve(const Strand& strand,
                                                                                    std::string host,
                                                                                    std::uint16_t port) {
    std::error_code ec;
    auto literal = asio::ip::make_address(host, ec);
    if (!ec) co_return std::vector<udp::endpoint>{udp::endpoint(literal, port)};

    udp::resolver resolver(strand);
    auto [error, results] =
        co_await resolver.async_resolve(host, std::to_string(port), udp::resolver::numeric_service, use_tuple);
    if (co_await cancelled()) throw_cancelled();
    if (error) co_return std::unexpected(error);
    std::vector<udp::endpoint> out;
    for (const auto& entry : results)
        out.push_back(entry.endpoint());
    co_return out;
}

asio::awaitable<std::expected<udp::socket, BindFailure>> bind_socket(const Strand& strand, std::string text) {
    auto parts = split_host_port(text);
    if (!parts) co_return std::unexpected(BindFailure{parts.error()});
    auto addresses = co_await resolve(strand, parts->host, parts->port);
    if (!addresses) co_return std::unexpected(BindFailure{addresses.error().message()});
    if (addresses->empty()) co_return std::unexpected(BindFailure{"could not resolve to any address"});
    std::error_code last;
    for (const auto& address : *addresses) {
        udp::socket socket(strand);
        std::error_code ec;
        socket.open(address.protocol(), ec);
        if (!ec) socket.bind(address, ec);
        if (!ec) co_return std::move(socket);
        last = ec;
    }
    co_return std::unexpected(BindFailure{last.message()});
}

}  // namespace trovik::coap::detail
