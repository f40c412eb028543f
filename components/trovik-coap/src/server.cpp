#include "trovik/coap/server.hpp"

#include <algorithm>
#include <iterator>
#include <mutex>

#include <asio/buffer.hpp>
#include <asio/detached.hpp>

#include "trovik/coap/random.hpp"
#include "trovik/core/topic.hpp"
#include "udp.hpp"

namespace trovik::coap::server {
namespace {

using namespace detail;
using core::Error;

bool is_request(std::uint8_t c) noexcept { return c >= code::get && c <= code::ipatch; }

// The critical options the server acts on. Any other (Block1 of a request sent
// block by block, a precondition, a query) means the request cannot be carried out
// as sent, so it must not be answered as if it were (RFC 7252 section 5.4.1).
bool has_unrecognised_critical(const Packet& p) noexcept {
    for (const auto& o : p.options) {
        if (!option::is_critical(o.number)) continue;
        if (o.number != option::uri_host && o.number != option::uri_port && o.number != option::uri_path) return true;
    }
    return false;
}

void forget(std::vector<Observer>& list, const Endpoint& peer, const Bytes& token) {
    std::erase_if(list, [&](const Observer& o) { return o.addr == peer && o.token == token; });
}

// The request rules for a CON or NON request: effects on the state, the answer, the notifications.
void request(const Packet& m, const Endpoint& peer, bool confirmable, State& state, Clock::time_point now,
             Outcome& out) {
    std::uint8_t answer_code = code::method_not_allowed;
    Bytes answer_payload;
    std::optional<std::uint32_t> registered;
    std::vector<Datagram> notifications;

    if (has_unrecognised_critical(m)) {
        if (!confirmable) return;  // a rejected NON is silently ignored (RFC 7252 section 4.3)
        answer_code = code::bad_option;
    } else {
        std::string path = path_from_packet(m);
        if (m.code == code::put || m.code == code::post) {
            auto matches = [&](const std::string& filter) { return core::topic_matches(filter, path); };
            if (std::ranges::any_of(state.filters, matches)) {
                out.delivery = core::Message{path, m.payload};
                state.resources.insert_or_assign(path, m.payload);
                notifications = state.notify(path, m.payload);
                answer_code = code::changed;
            } else {
                answer_code = code::not_found;
            }
        } else if (m.code == code::get) {
            auto resource = state.resources.find(path);
            if (resource == state.resources.end()) {
                answer_code = code::not_found;
            } else {
                answer_code = code::content;
                answer_payload = resource->second;
                auto observe = observe_value(m);
                if (observe == 0u) {
                    auto& list = state.observers[path];
                    forget(list, peer, m.token);
                    list.push_back(Observer{m.token, peer, 0});
                    registered = state.seq;
                } else if (observe == 1u) {
                    if (auto it = state.observers.find(path); it != state.observers.end())
                        forget(it->second, peer, m.token);
                }
            }
        }
    }

    Packet answer;
    answer.code = answer_code;
    answer.token = m.token;
    answer.payload = std::move(answer_payload);
    if (registered) answer.add_option(option::observe, encode_uint(*registered));
    if (confirmable) {
        answer.type = Type::Acknowledgement;
        answer.message_id = m.message_id;
    } else {
        answer.type = Type::NonConfirmable;
        answer.message_id = state.mid++;
    }
    // An answer too long for the codec is not sent; the state changes stand.
    if (auto bytes = encode(answer)) {
        if (confirmable) state.remember({peer, m.message_id}, now, *bytes);
        out.datagrams.push_back(Datagram{peer, std::move(*bytes)});
    }
    std::ranges::move(notifications, std::back_inserter(out.datagrams));
}

}  // namespace

std::vector<Datagram> State::notify(std::string_view path, std::span<const std::uint8_t> payload) {
    seq = (seq + 1) & 0xFFFFFF;
    std::vector<Datagram> out;
    auto it = observers.find(path);
    if (it == observers.end()) return out;
    Bytes sequence = encode_uint(seq);
    for (Observer& o : it->second) {
        o.mid = mid++;
        Packet n;
        n.type = Type::NonConfirmable;
        n.code = code::content;
        n.message_id = o.mid;
        n.token = o.token;
        n.add_option(option::observe, sequence);
        n.payload.assign(payload.begin(), payload.end());
        if (auto bytes = encode(n)) out.push_back(Datagram{o.addr, std::move(*bytes)});
    }
    return out;
}

void State::prune_cache(Clock::time_point now) {
    while (!cache_order.empty() && now - cache_order.front().first >= exchange_lifetime) {
        auto entry = cache.find(cache_order.front().second);
        // A later answer under the same key has an entry of its own further back.
        if (entry != cache.end() && now - entry->second.first >= exchange_lifetime) cache.erase(entry);
        cache_order.pop_front();
    }
}

const Bytes* State::cached(const CacheKey& key, Clock::time_point now) const {
    auto entry = cache.find(key);
    // Pruning stops at the first young entry; an older one behind it (from a
    // caller whose clock went back) must still not answer.
    if (entry == cache.end() || now - entry->second.first >= exchange_lifetime) return nullptr;
    return &entry->second.second;
}

void State::remember(const CacheKey& key, Clock::time_point now, Bytes answer) {
    cache.insert_or_assign(key, std::pair{now, std::move(answer)});
    cache_order.emplace_back(now, key);
}

Outcome handle(const Packet& m, const Endpoint& peer, State& state, Clock::time_point now) {
    Outcome out;
    switch (m.type) {
        case Type::Reset:
            // The observer turned the notification with this id away: it is no longer interested.
            for (auto& [path, list] : state.observers)
                std::erase_if(list, [&](const Observer& o) { return o.addr == peer && o.mid == m.message_id; });
            break;
        case Type::Acknowledgement: break;
        case Type::NonConfirmable:
            if (is_request(m.code)) request(m, peer, false, state, now, out);
            break;
        case Type::Confirmable: {
            if (!is_request(m.code)) {
                Packet reset;
                reset.type = Type::Reset;
                reset.message_id = m.message_id;
                out.datagrams.push_back(Datagram{peer, *encode(reset)});
                break;
            }
            state.prune_cache(now);
            if (const Bytes* cached = state.cached({peer, m.message_id}, now)) {
                out.datagrams.push_back(Datagram{peer, *cached});
                break;
            }
            request(m, peer, true, state, now, out);
            break;
        }
    }
    return out;
}

struct Shared {
    explicit Shared(asio::any_io_executor executor)
        : strand(asio::make_strand(executor)), state(static_cast<std::uint16_t>(random())) {}

    Strand strand;
    mutable std::mutex state_lock;  // held for in-memory work only, never across a wait
    State state;
    mutable std::mutex socket_lock;
    std::shared_ptr<Link> socket;  // the link itself is touched on the strand only

    std::shared_ptr<Link> current() const {
        std::lock_guard lock(socket_lock);
        return socket;
    }
};

namespace {

asio::awaitable<void> serve(std::shared_ptr<Shared> shared, std::shared_ptr<Link> link) {
    std::vector<std::uint8_t> buffer(max_datagram + 1);
    Endpoint peer;
    for (;;) {
        auto [ec, n] = co_await link->socket.async_receive_from(asio::buffer(buffer), peer, use_tuple);
        if (link->stopped) break;
        if (ec) {
            if (refused(ec)) continue;
            break;
        }
        if (n > max_datagram) continue;  // longer than the buffer: never act on it cut short
        auto packet = parse(std::span<const std::uint8_t>(buffer.data(), n));
        if (!packet) continue;
        Outcome out;
        {
            std::lock_guard lock(shared->state_lock);
            out = handle(*packet, peer, shared->state, Clock::now());
        }
        if (out.delivery) link->inbox.push(std::move(*out.delivery));
        for (const auto& d : out.datagrams)
            co_await link->socket.async_send_to(asio::buffer(d.bytes), d.to, use_tuple);
    }
    link->inbox.close();
}

asio::awaitable<Result<void>> publish_on_strand(std::shared_ptr<Shared> shared, std::string_view path,
                                                std::span<const std::uint8_t> payload) {
    auto link = shared->current();
    if (!link) co_return std::unexpected(Error::closed());
    std::vector<Datagram> notifications;
    {
        std::lock_guard lock(shared->state_lock);
        std::string_view trimmed = trim_slashes(path);
        shared->state.resources.insert_or_assign(std::string(trimmed), Bytes(payload.begin(), payload.end()));
        notifications = shared->state.notify(trimmed, payload);
    }
    std::optional<Error> first_failure;
    for (const auto& d : notifications) {
        auto [ec, n] = co_await link->socket.async_send_to(asio::buffer(d.bytes), d.to, use_tuple);
        if (ec && !refused(ec) && !first_failure) first_failure = Error::transport_fault(ec.message());
    }
    if (first_failure) co_return std::unexpected(std::move(*first_failure));
    co_return Result<void>{};
}

}  // namespace

struct CoapServer::Core {
    Core(asio::any_io_executor executor, std::string b)
        : bind(std::move(b)), shared(std::make_shared<Shared>(std::move(executor))) {}

    std::string bind;
    std::shared_ptr<Shared> shared;
    std::shared_ptr<Link> link;  // the receiving end; strand only

    void disconnect_now() {
        if (link) {
            link->stop();
            link.reset();
        }
        {
            std::lock_guard lock(shared->socket_lock);
            shared->socket.reset();
        }
        std::lock_guard lock(shared->state_lock);
        shared->state.observers.clear();
    }

    static asio::awaitable<Result<void>> connect(std::shared_ptr<Core> self) {
        self->disconnect_now();
        auto socket = co_await bind_socket(self->shared->strand, self->bind);
        if (!socket)
            co_return std::unexpected(
                Error::transport_fault("could not bind " + self->bind + ": " + socket.error().text));
        auto link = std::make_shared<Link>(self->shared->strand, std::move(*socket));
        asio::co_spawn(self->shared->strand, serve(self->shared, link), asio::detached);
        {
            std::lock_guard lock(self->shared->socket_lock);
            self->shared->socket = link;
        }
        self->link = std::move(link);
        co_return Result<void>{};
    }

    asio::awaitable<Result<std::optional<core::Message>>> recv() {
        auto current = link;
        if (!current) co_return std::unexpected(Error::closed());
        co_return co_await current->inbox.pop();
    }

    asio::awaitable<void> disconnect() {
        disconnect_now();
        co_return;
    }
};

asio::awaitable<Result<void>> CoapPublisher::publish(std::string_view path,
                                                     std::span<const std::uint8_t> payload) const {
    auto shared = shared_;
    co_return co_await run_on(shared->strand, publish_on_strand(shared, path, payload));
}

std::size_t CoapPublisher::observers(std::string_view path) const {
    std::lock_guard lock(shared_->state_lock);
    auto it = shared_->state.observers.find(trim_slashes(path));
    return it == shared_->state.observers.end() ? 0 : it->second.size();
}

std::optional<Endpoint> CoapPublisher::local_addr() const {
    auto link = shared_->current();
    return link ? link->local : std::nullopt;
}

bool CoapPublisher::is_connected() const { return shared_->current() != nullptr; }

CoapServer::CoapServer(asio::any_io_executor executor, std::string bind)
    : core_(std::make_shared<Core>(std::move(executor), std::move(bind))) {}

CoapServer::~CoapServer() {
    asio::post(core_->shared->strand, [core = core_] { core->disconnect_now(); });
}

const std::string& CoapServer::bind() const noexcept { return core_->bind; }

CoapPublisher CoapServer::publisher() const { return CoapPublisher(core_->shared); }

asio::awaitable<Result<void>> CoapServer::connect() {
    auto core = core_;
    co_return co_await run_on(core->shared->strand, Core::connect(core));
}

asio::awaitable<void> CoapServer::disconnect() {
    auto core = core_;
    co_await run_on(core->shared->strand, core->disconnect());
}

void CoapServer::subscribe(std::string_view filter) {
    std::lock_guard lock(core_->shared->state_lock);
    core_->shared->state.filters.emplace_back(trim_slashes(filter));
}

asio::awaitable<Result<std::optional<core::Message>>> CoapServer::recv() {
    auto core = core_;
    co_return co_await run_on(core->shared->strand, core->recv());
}

}  // namespace trovik::coap::server
