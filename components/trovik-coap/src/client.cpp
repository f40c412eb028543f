#include <atomic>
#include <chrono>
#include <limits>
#include <map>
#include <unordered_map>

#include <asio/buffer.hpp>
#include <asio/detached.hpp>

#include "trovik/coap/client.hpp"
#include "trovik/coap/random.hpp"
#include "udp.hpp"

namespace trovik::coap {
namespace {

using namespace detail;
using Clock = std::chrono::steady_clock;
using core::Error;

// What an exchange hears back: a reset, or a reply with its code, payload and Observe value.
struct Answer {
    enum class Kind { Reset, Reply };
    Kind kind = Kind::Reply;
    std::uint8_t code = code::empty;
    Bytes payload;
    std::optional<std::uint32_t> observe;
};

// The answer slot of one transmission of a confirmable request.
struct Slot {
    explicit Slot(const Strand& strand) : wake(strand) {}
    asio::steady_timer wake;  // the retransmission timeout; an answer ends it early
    std::optional<Answer> answer;
    bool closed = false;

    void settle(Answer a) {
        answer = std::move(a);
        wake.cancel();
    }
    void close() {
        closed = true;
        wake.cancel();
    }
};

struct Observation {
    std::string path;
    std::uint32_t last_sequence = 0;
    std::optional<Clock::time_point> last_time;
};

// Tokens are at most 8 bytes; any strict order serves the map.
struct TokenOrder {
    bool operator()(const Bytes& a, const Bytes& b) const noexcept {
        if (a.size() != b.size()) return a.size() < b.size();
        for (std::size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i]) return a[i] < b[i];
        return false;
    }
};

enum class Notified { Delivered, Stale, Unrecognised };

Bytes request_token() {
    std::uint64_t r = random();
    return Bytes{static_cast<std::uint8_t>(r >> 56), static_cast<std::uint8_t>(r >> 48),
                 static_cast<std::uint8_t>(r >> 40), static_cast<std::uint8_t>(r >> 32)};
}

// A client understands no critical option in a response. A notification
// carrying one (say Block2, a resource sent block by block) is rejected rather than
// delivered as if it held the whole resource (RFC 7252 section 5.4.1).
bool has_unrecognised_critical(const Packet& p) noexcept {
    for (const auto& o : p.options)
        if (option::is_critical(o.number)) return true;
    return false;
}

// The first wait: ack_timeout scaled by a random factor in [1, 1.5).
std::chrono::nanoseconds first_timeout(std::chrono::milliseconds ack_timeout) {
    double u = static_cast<double>(random() >> 11) * 0x1.0p-53;
    double base = static_cast<double>(ack_timeout.count()) * 1e6;
    double scaled = base * (1.0 + u * 0.5);
    if (scaled >= 0x1.0p63) return std::chrono::nanoseconds::max();
    auto ns = static_cast<std::int64_t>(scaled);
    // Rounding must not reach the upper end of the range.
    if (base * 1.5 < 0x1.0p63) {
        auto ceiling = static_cast<std::int64_t>(base * 1.5);
        if (ack_timeout.count() > 0 && ns >= ceiling) ns = ceiling - 1;
    }
    return std::chrono::nanoseconds(ns);
}

std::chrono::nanoseconds doubled(std::chrono::nanoseconds d) {
    constexpr auto max = std::chrono::nanoseconds::max();
    return d > max / 2 ? max : d * 2;
}

Clock::time_point deadline_after(std::chrono::nanoseconds d) {
    auto now = Clock::now();
    if (d > Clock::time_point::max() - now) return Clock::time_point::max();  // no deadline
    return now + std::chrono::duration_cast<Clock::duration>(d);
}

Error fault(std::string text) { return Error::transport_fault(std::move(text)); }

}  // namespace

struct CoapTransport::Core {
    Core(asio::any_io_executor executor, CoapConfig c)
        : strand(asio::make_strand(executor)), config(std::move(c)), next_mid(static_cast<std::uint16_t>(random())) {}

    // Everything below is touched on the strand only, except `connected`.
    Strand strand;
    CoapConfig config;
    std::unordered_map<std::uint16_t, std::shared_ptr<Slot>> pending;
    std::map<Bytes, Observation, TokenOrder> observations;
    std::shared_ptr<Link> link;
    std::atomic<bool> connected{false};
    std::uint16_t next_mid;

    std::uint16_t take_mid() noexcept { return next_mid++; }

    std::shared_ptr<Slot> take_slot(std::uint16_t mid) {
        auto it = pending.find(mid);
        if (it == pending.end()) return nullptr;
        auto slot = std::move(it->second);
        pending.erase(it);
        return slot;
    }

    void release() {
        if (link) {
            link->stop();
            link.reset();
        }
        connected = false;
        observations.clear();
    }

    Notified notify(const Packet& p, std::uint32_t sequence, Inbox& inbox) {
        auto it = observations.find(p.token);
        if (it == observations.end()) return Notified::Unrecognised;
        auto now = Clock::now();
        Observation& o = it->second;
        if (!is_fresh(o.last_sequence, o.last_time, sequence, now)) return Notified::Stale;
        o.last_sequence = sequence;
        o.last_time = now;
        inbox.push(core::Message{o.path, p.payload});
        return Notified::Delivered;
    }

    // A response that ends the observation its token names (RFC 7641 section 3.2).
    bool end(const Packet& p) { return observations.erase(p.token) > 0; }

    static asio::awaitable<void> send_empty(Link& link, Type type, std::uint16_t mid) {
        Packet p;
        p.type = type;
        p.message_id = mid;
        if (auto bytes = encode(p)) co_await link.socket.async_send(asio::buffer(*bytes), use_tuple);
    }

    asio::awaitable<void> on_datagram(const Packet& p, Link& link) {
        auto sequence = observe_value(p);
        switch (p.type) {
            case Type::Reset:
                if (auto slot = take_slot(p.message_id)) slot->settle(Answer{Answer::Kind::Reset, code::empty, {}, {}});
                co_return;
            case Type::Acknowledgement:
                if (sequence && is_success(p.code) && !has_unrecognised_critical(p)) notify(p, *sequence, link.inbox);
                if (auto slot = take_slot(p.message_id))
                    slot->settle(Answer{Answer::Kind::Reply, p.code, p.payload, sequence});
                co_return;
            case Type::Confirmable:
            case Type::NonConfirmable: {
                bool known = false;
                if (is_response_code(p.code)) {
                    bool notification = sequence && is_success(p.code);
                    if (notification && !has_unrecognised_critical(p))
                        known = notify(p, *sequence, link.inbox) != Notified::Unrecognised;
                    else if (notification)
                        end(p);  // rejected: the reset below deregisters it at the server too
                    else
                        known = end(p);
                }
                if (p.type == Type::Confirmable)
                    co_await send_empty(link, known ? Type::Acknowledgement : Type::Reset, p.message_id);
                co_return;
            }
        }
    }

    static asio::awaitable<void> serve(std::shared_ptr<Core> self, std::shared_ptr<Link> link) {
        std::vector<std::uint8_t> buffer(max_datagram + 1);
        for (;;) {
            auto [ec, n] = co_await link->socket.async_receive(asio::buffer(buffer), use_tuple);
            if (link->stopped) break;
            if (ec) {
                if (refused(ec)) continue;  // an earlier datagram hit a closed port
                break;
            }
            if (n > max_datagram) continue;  // longer than the buffer: never deliver it cut short
            auto packet = parse(std::span<const std::uint8_t>(buffer.data(), n));
            if (!packet) continue;
            co_await self->on_datagram(*packet, *link);
        }
        link->inbox.close();
    }

    static asio::awaitable<Result<void>> connect(std::shared_ptr<Core> self) {
        const CoapConfig& config = self->config;
        auto servers = co_await resolve(self->strand, config.host, config.port);
        if (!servers) co_return std::unexpected(fault(servers.error().message()));
        if (servers->empty()) co_return std::unexpected(fault("could not resolve " + config.host));
        auto socket = co_await bind_socket(self->strand, config.bind);
        if (!socket) co_return std::unexpected(fault(socket.error().text));
        // The first server address of the bound socket's family: "localhost" often
        // resolves to ::1 first, which an IPv4 socket cannot reach.
        udp::endpoint server = servers->front();
        std::error_code ec;
        auto local = socket->local_endpoint(ec);
        if (!ec) {
            for (const auto& candidate : *servers) {
                if (candidate.protocol() == local.protocol()) {
                    server = candidate;
                    break;
                }
            }
        }
        socket->connect(server, ec);
        if (ec) co_return std::unexpected(fault(ec.message()));

        auto link = std::make_shared<Link>(self->strand, std::move(*socket));
        if (self->link) self->link->stop();  // a replaced connection ends with its task
        self->link = link;
        self->connected = true;
        asio::co_spawn(self->strand, serve(self, link), asio::detached);
        co_return Result<void>{};
    }

    asio::awaitable<Result<Answer>> exchange(std::shared_ptr<Link> link, const Bytes& request, std::uint16_t mid) {
        // Whatever way the wait ends, this transmission's slot leaves `pending`.
        struct Forget {
            Core& core;
            std::uint16_t mid;
            std::shared_ptr<Slot> slot;
            ~Forget() {
                auto it = core.pending.find(mid);
                if (it != core.pending.end() && it->second == slot) core.pending.erase(it);
            }
        };
        std::chrono::nanoseconds timeout = first_timeout(config.ack_timeout);
        std::uint32_t count = 0;
        bool last = false;
        for (;;) {
            if (count < config.max_retransmits)
                ++count;
            else
                last = true;

            auto slot = std::make_shared<Slot>(strand);
            if (auto it = pending.find(mid); it != pending.end()) it->second->close();
            pending[mid] = slot;
            Forget forget{*this, mid, slot};

            auto [ec, n] = co_await link->socket.async_send(asio::buffer(request), use_tuple);
            if (co_await cancelled()) throw_cancelled();
            if (ec && !refused(ec)) co_return std::unexpected(fault(ec.message()));
            if (!slot->answer && !slot->closed) {
                slot->wake.expires_at(deadline_after(timeout));
                co_await slot->wake.async_wait(use_tuple);
                if (co_await cancelled()) throw_cancelled();
            }
            if (slot->answer) {
                if (slot->answer->kind == Answer::Kind::Reset)
                    co_return std::unexpected(
                        fault("the server reset the request: it arrived, but the server could not process it"));
                co_return std::move(*slot->answer);
            }
            if (slot->closed) co_return std::unexpected(Error::closed());

            timeout = doubled(timeout);
            if (last) {
                std::uint64_t transmissions = std::uint64_t{config.max_retransmits} + 1;
                co_return std::unexpected(fault("no acknowledgment after " + std::to_string(transmissions) +
                                                (config.max_retransmits == 0 ? " transmission" : " transmissions")));
            }
        }
    }

    asio::awaitable<Result<void>> send(std::string_view topic, std::span<const std::uint8_t> payload) {
        auto current = link;
        if (!current) co_return std::unexpected(Error::closed());
        Packet request;
        request.type = config.confirmable ? Type::Confirmable : Type::NonConfirmable;
        request.code = code::put;
        request.message_id = take_mid();
        request.token = request_token();
        add_path(request, topic);
        request.payload.assign(payload.begin(), payload.end());
        auto bytes = encode(request);
        if (!bytes) co_return std::unexpected(Error::codec(bytes.error().message));

        if (!config.confirmable) {
            auto [ec, n] = co_await current->socket.async_send(asio::buffer(*bytes), use_tuple);
            if (ec && !refused(ec)) co_return std::unexpected(fault(ec.message()));
            co_return Result<void>{};
        }
        auto answer = co_await exchange(current, *bytes, request.message_id);
        if (!answer) co_return std::unexpected(answer.error());
        if (auto failure = answered(answer->code, answer->payload)) co_return std::unexpected(*failure);
        co_return Result<void>{};
    }

    asio::awaitable<Result<void>> subscribe(std::string_view filter) {
        auto current = link;
        if (!current) co_return std::unexpected(Error::closed());
        std::uint16_t mid = take_mid();
        std::string path(trim_slashes(filter));

        // Observing a path again reuses its token, so the server replaces its registration.
        Bytes token;
        for (const auto& [key, observation] : observations) {
            if (observation.path == path) {
                token = key;
                break;
            }
        }
        if (token.empty()) token = request_token();

        Packet request;
        request.type = Type::Confirmable;
        request.code = code::get;
        request.message_id = mid;
        request.token = token;
        request.add_option(option::observe);
        add_path(request, filter);
        auto bytes = encode(request);
        if (!bytes) co_return std::unexpected(Error::codec(bytes.error().message));

        // Registered before sending, so the first answer is already taken for a notification.
        observations.insert_or_assign(token, Observation{path, 0, std::nullopt});

        auto answer = co_await exchange(current, *bytes, mid);
        std::optional<Error> failure;
        if (!answer)
            failure = answer.error();
        else if (auto refusal = answered(answer->code, answer->payload))
            failure = std::move(refusal);
        else if (answer->code != code::empty && !answer->observe)
            failure = fault("the server answered " + std::string(filter) +
                            " without registering an observation, so no changes will follow");
        if (failure) {
            observations.erase(token);
            co_return std::unexpected(std::move(*failure));
        }
        co_return Result<void>{};
    }

    asio::awaitable<Result<std::optional<core::Message>>> recv() {
        auto current = link;
        if (!current) co_return std::unexpected(Error::closed());
        co_return co_await current->inbox.pop();
    }

    asio::awaitable<void> disconnect() {
        release();
        co_return;
    }
};

CoapTransport::CoapTransport(asio::any_io_executor executor, CoapConfig config)
    : core_(std::make_shared<Core>(std::move(executor), std::move(config))) {}

CoapTransport::~CoapTransport() {
    if (core_) asio::post(core_->strand, [core = core_] { core->release(); });
}

CoapTransport::CoapTransport(CoapTransport&& other) noexcept = default;

CoapTransport& CoapTransport::operator=(CoapTransport&& other) noexcept {
    if (this != &other) {
        if (core_) asio::post(core_->strand, [core = core_] { core->release(); });
        core_ = std::move(other.core_);
    }
    return *this;
}

const CoapConfig& CoapTransport::config() const noexcept { return core_->config; }

asio::awaitable<Result<void>> CoapTransport::connect() {
    auto core = core_;
    co_return co_await run_on(core->strand, Core::connect(core));
}

asio::awaitable<Result<void>> CoapTransport::send(std::string_view topic, std::span<const std::uint8_t> payload) {
    auto core = core_;
    co_return co_await run_on(core->strand, core->send(topic, payload));
}

asio::awaitable<Result<void>> CoapTransport::subscribe(std::string_view filter) {
    auto core = core_;
    co_return co_await run_on(core->strand, core->subscribe(filter));
}

asio::awaitable<Result<std::optional<core::Message>>> CoapTransport::recv() {
    auto core = core_;
    co_return co_await run_on(core->strand, core->recv());
}

asio::awaitable<void> CoapTransport::disconnect() {
    auto core = core_;
    co_await run_on(core->strand, core->disconnect());
}

bool CoapTransport::is_connected() const noexcept { return core_ && core_->connected; }

}  // namespace trovik::coap
