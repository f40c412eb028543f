#include "trovik/mqtt/client.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <unordered_map>
#include <vector>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <asio/co_spawn.hpp>
#include <asio/connect.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "trovik/core/async/oneshot.hpp"

namespace trovik::mqtt::client {

namespace {

using asio::ip::tcp;
using namespace asio::experimental::awaitable_operators;
using Clock = std::chrono::steady_clock;
constexpr auto use_tuple = asio::experimental::as_tuple(asio::use_awaitable);

// Bodies of packets other than PUBLISH are a few bytes; anything larger is
// refused before it is buffered.
constexpr std::size_t max_control_body = 1024;

// How long a closing connection waits for the broker to close its side after
// the DISCONNECT, so that nothing unread makes the close a reset.
constexpr std::chrono::milliseconds disconnect_linger{250};

// A write buffer that grew past this for a large burst is let go after it, so
// one burst does not pin its size for the life of the connection.
constexpr std::size_t write_buffer_kept = 256 * 1024;

const char* refusal_name(std::uint8_t code) {
    switch (code) {
        case 1: return "RefusedProtocolVersion";
        case 2: return "BadClientId";
        case 3: return "ServiceUnavailable";
        case 4: return "BadUserNamePassword";
        case 5: return "NotAuthorized";
        default: return "Unknown";
    }
}

std::string describe_error(const std::error_code& ec) {
    if (ec.category() == asio::error::get_ssl_category()) {
        if (const char* reason = ERR_reason_error_string(static_cast<unsigned long>(ec.value()))) return reason;
    }
    if (ec == asio::ssl::error::stream_truncated) return "the peer closed the TLS stream without a close_notify";
    return ec.message();
}

bool is_peer_close(const std::error_code& ec) {
    return ec == asio::error::eof || ec == asio::ssl::error::stream_truncated;
}

// The connection's byte stream, plain TCP or TLS over it.
class Stream {
public:
    explicit Stream(tcp::socket socket) : tcp_(std::move(socket)) {}

    // Gives nothing on success, or the reason the handshake failed.
    asio::awaitable<std::optional<std::string>> handshake(asio::ssl::context& context, const std::string& host) {
        tls_.emplace(std::move(*tcp_), context);
        tcp_.reset();
        SSL* ssl = tls_->native_handle();
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
        std::error_code not_an_address;
        (void)asio::ip::make_address(host, not_an_address);
        if (!not_an_address) {
            X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
        } else {
            X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
            SSL_set_tlsext_host_name(ssl, host.c_str());
        }
        auto [ec] = co_await tls_->async_handshake(asio::ssl::stream_base::client, use_tuple);
        if (!ec) co_return std::nullopt;
        const long verify = SSL_get_verify_result(ssl);
        std::string reason = describe_error(ec);
        if (verify != X509_V_OK) reason += ": " + std::string(X509_verify_cert_error_string(verify));
        ERR_clear_error();
        co_return reason;
    }

    asio::awaitable<std::tuple<std::error_code, std::size_t>> read_some(asio::mutable_buffer buffer) {
        if (tls_) co_return co_await tls_->async_read_some(buffer, use_tuple);
        co_return co_await tcp_->async_read_some(buffer, use_tuple);
    }

    asio::awaitable<std::tuple<std::error_code, std::size_t>> write(asio::const_buffer bytes) {
        if (tls_) co_return co_await asio::async_write(*tls_, bytes, use_tuple);
        co_return co_await asio::async_write(*tcp_, bytes, use_tuple);
    }

    // Writes what the socket takes at once, without waiting: over plain TCP
    // the usual small write goes out whole with one system call and no
    // timer. Gives how much was written; a full socket is no error. (TLS
    // writes always go through `write`.)
    std::size_t write_now(asio::const_buffer bytes, std::error_code& ec) {
        ec.clear();
        if (tls_) return 0;
        if (!tcp_->non_blocking()) tcp_->non_blocking(true, ec);
        if (ec) return 0;
        const std::size_t written = tcp_->write_some(bytes, ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) ec.clear();
        return written;
    }

    void shutdown_send() {
        std::error_code ignored;
        socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

private:
    tcp::socket& socket() { return tls_ ? tls_->next_layer() : *tcp_; }

    std::optional<tcp::socket> tcp_;
    std::optional<asio::ssl::stream<tcp::socket>> tls_;
};

// A condition between coroutines of one strand: `wait` returns after the
// next `notify`, or when the waiting coroutine is cancelled. Waiters check
// their condition again after every wake-up.
class Signal {
public:
    explicit Signal(const asio::any_io_executor& executor) : timer_(executor, Clock::time_point::max()) {}
    asio::awaitable<void> wait() { co_await timer_.async_wait(use_tuple); }
    void notify() { timer_.cancel(); }

private:
    asio::steady_timer timer_;
};

using Endpoints = std::vector<tcp::endpoint>;
using Resolution = std::expected<Endpoints, std::error_code>;

// Resolves in a task of its own: the system resolver cannot be interrupted,
// and the connection time limit must not wait for it.
asio::awaitable<Resolution> resolve(const asio::any_io_executor& executor, std::string host, std::uint16_t port) {
    auto [sender, receiver] = core::async::make_oneshot<Resolution>();
    asio::co_spawn(
        executor,
        [](std::string host, std::string service,
           core::async::OneShotSender<Resolution> sender) -> asio::awaitable<void> {
            tcp::resolver resolver(co_await asio::this_coro::executor);
            auto [ec, results] = co_await resolver.async_resolve(host, service, use_tuple);
            if (ec) {
                std::move(sender).send(std::unexpected(ec));
            } else {
                Endpoints endpoints;
                for (const auto& entry : results)
                    endpoints.push_back(entry.endpoint());
                std::move(sender).send(std::move(endpoints));
            }
        }(std::move(host), std::to_string(port), std::move(sender)),
        asio::detached);
    auto answer = co_await receiver.async_wait();
    if (!answer) co_return std::unexpected(make_error_code(asio::error::operation_aborted));
    co_return std::move(*answer);
}

// One connection: everything the event loop keeps while it serves it.
class Session {
public:
    Session(asio::any_io_executor executor, const Options& options, RequestReceiver& requests, EventLoop::Sink& sink)
        : executor_(executor),
          options_(options),
          requests_(requests),
          sink_(sink),
          write_wanted_(executor),
          flushed_(executor),
          slots_freed_(executor),
          peer_closed_signal_(executor),
          never_(executor) {}

    asio::awaitable<std::optional<ConnectionError>> run() {
        asio::steady_timer limit(executor_, options_.connection_timeout);
        auto attempt = co_await (establish() || limit.async_wait(asio::use_awaitable));
        if (attempt.index() == 1) co_return ConnectionError::network_timeout();
        if (auto& established = std::get<0>(attempt); !established) co_return established.error();

        auto ending = co_await (read_loop() || write_loop() || request_loop() || keep_alive_loop());
        co_return std::visit([](auto& end) -> std::optional<ConnectionError> { return std::move(end); }, ending);
    }

private:
    // --- Connecting ---------------------------------------------------------

    asio::awaitable<std::expected<void, ConnectionError>> establish() {
        Endpoints endpoints;
        std::error_code not_an_address;
        const auto address = asio::ip::make_address(options_.host, not_an_address);
        if (!not_an_address) {
            endpoints.emplace_back(address, options_.port);
        } else {
            auto resolved = co_await resolve(executor_, options_.host, options_.port);
            if (!resolved) co_return std::unexpected(ConnectionError::io(describe_error(resolved.error())));
            endpoints = std::move(*resolved);
        }

        tcp::socket socket(executor_);
        auto [connect_error, endpoint] = co_await asio::async_connect(socket, endpoints, use_tuple);
        if (connect_error) co_return std::unexpected(ConnectionError::io(describe_error(connect_error)));
        std::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        stream_.emplace(std::move(socket));

        if (options_.tls) {
            if (auto failure = co_await stream_->handshake(*options_.tls, options_.host))
                co_return std::unexpected(ConnectionError::tls(std::move(*failure)));
        }

        codec::Connect connect;
        connect.client_id = options_.client_id;
        connect.keep_alive = options_.keep_alive_secs;
        connect.clean_session = true;
        connect.will = options_.will;
        connect.login = options_.login;
        const auto bytes = codec::encode(connect);
        auto [write_error, written] = co_await stream_->write(asio::buffer(bytes));
        if (write_error) co_return std::unexpected(exchange_failure(write_error));
        last_write_ = Clock::now();

        for (;;) {
            auto next = next_packet();
            if (!next) co_return std::unexpected(next.error());
            if (*next) {
                auto* connack = std::get_if<codec::ConnAck>(&**next);
                if (!connack) co_return std::unexpected(ConnectionError::not_connack(codec::describe(**next)));
                if (connack->code != 0) co_return std::unexpected(ConnectionError::refused(connack->code));
                sink_(Incoming{std::move(**next)});
                co_return std::expected<void, ConnectionError>{};
            }
            auto [read_error, count] = co_await read_more();
            if (read_error) co_return std::unexpected(exchange_failure(read_error));
        }
    }

    // A failure while CONNECT and CONNACK are exchanged. Under TLS 1.3 the
    // broker checks the client's certificate after the client has finished
    // its handshake, so a refusal arrives here, as an alert: a TLS failure.
    static ConnectionError exchange_failure(const std::error_code& ec) {
        if (ec.category() == asio::error::get_ssl_category()) return ConnectionError::tls(describe_error(ec));
        return ConnectionError::io(is_peer_close(ec) ? "the broker closed the connection" : describe_error(ec));
    }

    // --- Reading ------------------------------------------------------------

    asio::awaitable<std::tuple<std::error_code, std::size_t>> read_more() {
        auto [ec, count] = co_await stream_->read_some(asio::buffer(chunk_));
        inbound_.insert(inbound_.end(), chunk_.begin(), chunk_.begin() + static_cast<std::ptrdiff_t>(count));
        co_return std::tuple{ec, count};
    }

    // The next whole packet of the bytes read so far, nothing when more are
    // needed, or why the bytes cannot be a packet.
    std::expected<std::optional<codec::Packet>, ConnectionError> next_packet() {
        const std::span<const std::uint8_t> available = std::span(inbound_).subspan(consumed_);
        auto header = codec::read_header(available);
        if (!header) return std::unexpected(ConnectionError::state("malformed packet: " + header.error()));
        if (!*header) return std::nullopt;
        const codec::Header& h = **header;
        if (h.type() == codec::PacketType::Publish && h.packet_size() > options_.max_incoming_packet_size) {
            return std::unexpected(ConnectionError::state(
                "the broker sent a " + std::to_string(h.packet_size()) + "-byte packet, over this connection's " +
                std::to_string(options_.max_incoming_packet_size) + "-byte limit"));
        }
        if (h.type() != codec::PacketType::Publish && h.remaining_length > max_control_body) {
            return std::unexpected(ConnectionError::state("malformed packet: a " +
                                                          std::string(codec::name_of(h.type())) + " of " +
                                                          std::to_string(h.packet_size()) + " bytes"));
        }
        if (available.size() < h.packet_size()) return std::nullopt;
        auto packet = codec::decode(h, available.subspan(h.header_length, h.remaining_length));
        consumed_ += h.packet_size();
        if (consumed_ == inbound_.size()) {
            inbound_.clear();
            consumed_ = 0;
        } else if (consumed_ > 65'536) {
            inbound_.erase(inbound_.begin(), inbound_.begin() + static_cast<std::ptrdiff_t>(consumed_));
            consumed_ = 0;
        }
        if (!packet) return std::unexpected(ConnectionError::state("malformed packet: " + packet.error()));
        return std::optional<codec::Packet>(std::move(*packet));
    }

    asio::awaitable<ConnectionError> read_loop() {
        for (;;) {
            for (;;) {
                auto next = next_packet();
                if (!next) co_return next.error();
                if (!*next) break;
                if (auto failure = handle(std::move(**next))) co_return std::move(*failure);
            }
            auto [ec, count] = co_await read_more();
            if (ec) {
                if (disconnect_queued_) {
                    // The broker closed its side after our DISCONNECT: the end we asked for. The
                    // broker may close as soon as it reads the DISCONNECT, before our write has
                    // even completed here, so this holds from the moment it was queued.
                    peer_closed_ = true;
                    peer_closed_signal_.notify();
                    for (;;)
                        co_await never_.wait();
                }
                if (is_peer_close(ec)) co_return ConnectionError::state("the broker closed the connection");
                co_return ConnectionError::state("I/O error: " + describe_error(ec));
            }
        }
    }

    void report(codec::Packet&& packet) {
        if (!disconnecting_) sink_(Incoming{std::move(packet)});
    }

    std::optional<ConnectionError> unsolicited(const char* what, std::uint16_t pkid) {
        return ConnectionError::state(std::string("the broker sent ") + what + " for packet id " +
                                      std::to_string(pkid) + ", which awaits no " + what);
    }

    std::optional<ConnectionError> handle(codec::Packet&& packet) {
        using namespace codec;
        if (auto* publish = std::get_if<Publish>(&packet)) {
            if (publish->qos == QoS::AtLeastOnce) queue_write(PubAck{publish->pkid});
            if (publish->qos == QoS::ExactlyOnce) queue_write(PubRec{publish->pkid});
        } else if (auto* ack = std::get_if<PubAck>(&packet)) {
            auto it = outgoing_.find(ack->pkid);
            if (it == outgoing_.end() || it->second != Stage::AwaitPubAck) return unsolicited("PUBACK", ack->pkid);
            outgoing_.erase(it);
            release(ack->pkid);
        } else if (auto* rec = std::get_if<PubRec>(&packet)) {
            auto it = outgoing_.find(rec->pkid);
            if (it == outgoing_.end() || it->second == Stage::AwaitPubAck) return unsolicited("PUBREC", rec->pkid);
            it->second = Stage::AwaitPubComp;  // a repeated PUBREC is answered again
            queue_write(PubRel{rec->pkid});
        } else if (auto* comp = std::get_if<PubComp>(&packet)) {
            auto it = outgoing_.find(comp->pkid);
            if (it == outgoing_.end() || it->second != Stage::AwaitPubComp) return unsolicited("PUBCOMP", comp->pkid);
            outgoing_.erase(it);
            release(comp->pkid);
        } else if (auto* rel = std::get_if<PubRel>(&packet)) {
            queue_write(PubComp{rel->pkid});
        } else if (auto* suback = std::get_if<SubAck>(&packet)) {
            auto it = subscriptions_.find(suback->pkid);
            if (it == subscriptions_.end()) return unsolicited("SUBACK", suback->pkid);
            subscriptions_.erase(it);
            ids_in_use_.reset(suback->pkid);
        } else if (std::holds_alternative<PingResp>(packet)) {
            ping_outstanding_ = false;
        } else {
            return ConnectionError::state("unexpected packet from the broker: " + describe(packet));
        }
        report(std::move(packet));
        return std::nullopt;
    }

    // --- Writing ------------------------------------------------------------

    // Appends the packet to what the next write sends.
    void queue_write(const codec::Packet& packet) {
        codec::encode(packet, outbox_);
        write_wanted_.notify();
    }

    static ConnectionError write_failure(const std::error_code& ec) {
        if (is_peer_close(ec)) return ConnectionError::state("the broker closed the connection");
        return ConnectionError::state("I/O error: " + describe_error(ec));
    }

    // Writes whatever has been encoded since the last write, all in one
    // buffer, so a burst of packets costs one write, not one each.
    asio::awaitable<ConnectionError> write_loop() {
        for (;;) {
            while (outbox_.empty())
                co_await write_wanted_.wait();
            sending_.swap(outbox_);
            std::error_code failed;
            const std::size_t at_once = stream_->write_now(asio::buffer(sending_), failed);
            if (failed) co_return write_failure(failed);
            if (at_once == sending_.size()) {
                sending_.clear();
                last_write_ = Clock::now();
                flushed_.notify();
                continue;
            }
            writing_ = true;
            asio::steady_timer limit(executor_, options_.flush_timeout);
            auto rest = asio::buffer(sending_) + at_once;
            auto outcome = co_await (stream_->write(rest) || limit.async_wait(asio::use_awaitable));
            writing_ = false;
            if (sending_.capacity() > write_buffer_kept)
                codec::Bytes().swap(sending_);
            else
                sending_.clear();
            if (outcome.index() == 1) co_return ConnectionError::flush_timeout();
            if (auto [ec, count] = std::get<0>(outcome); ec) co_return write_failure(ec);
            last_write_ = Clock::now();
            flushed_.notify();
        }
    }

    // --- Requests -----------------------------------------------------------

    std::optional<std::uint16_t> allocate_id() {
        for (std::size_t tries = 0; tries < 65'535; ++tries) {
            next_id_ = next_id_ == 65'535 ? 1 : static_cast<std::uint16_t>(next_id_ + 1);
            if (!ids_in_use_.test(next_id_)) {
                ids_in_use_.set(next_id_);
                return next_id_;
            }
        }
        return std::nullopt;
    }

    void release(std::uint16_t pkid) {
        ids_in_use_.reset(pkid);
        --in_flight_;
        slots_freed_.notify();
    }

    // Takes requests in the order they were queued. Each time it wakes, it
    // takes what is queued, as far as the in-flight cap lets it, and encodes
    // it all for the same write. It takes at most a queue's worth per wake:
    // senders on other threads can refill the queue as fast as it is
    // emptied, and the bound keeps the write buffer, like the queue, bounded.
    asio::awaitable<std::optional<ConnectionError>> request_loop() {
        for (;;) {
            while (in_flight_ >= options_.max_inflight)
                co_await slots_freed_.wait();
            // While a write is stuck, what waits behind it stays in the
            // bounded request queue instead of piling up here.
            while (writing_ && !outbox_.empty())
                co_await flushed_.wait();
            auto request = co_await requests_.async_pop();
            if (!request) co_return ConnectionError::requests_done();
            for (std::size_t taken = 1;; ++taken) {
                if (std::holds_alternative<DisconnectRequest>(*request)) co_return co_await close_politely();
                if (auto failure = encode_request(std::move(*request))) co_return failure;
                if (in_flight_ >= options_.max_inflight || taken == requests_.capacity()) break;
                request = requests_.try_pop();
                if (!request) break;
            }
        }
    }

    // Encodes one publish or subscribe request, or gives the failure that
    // ends the connection.
    std::optional<ConnectionError> encode_request(Request&& request) {
        if (auto* publish = std::get_if<PublishRequest>(&request)) {
            const std::size_t size =
                codec::publish_packet_size(publish->topic.size(), publish->payload.size(), publish->qos);
            if (size > options_.max_outgoing_packet_size) {
                return ConnectionError::state("a " + std::to_string(size) + "-byte PUBLISH is over this connection's " +
                                              std::to_string(options_.max_outgoing_packet_size) + "-byte limit");
            }
            // The topic and payload move into the packet; encoding is their
            // only copy, into the write buffer.
            codec::Packet packet = codec::Publish{
                std::move(publish->topic), std::move(publish->payload), publish->qos, publish->retain, false, 0};
            auto& written = std::get<codec::Publish>(packet);
            if (written.qos != QoS::AtMostOnce) {
                auto id = allocate_id();
                if (!id) return ConnectionError::state("every packet id is in use");
                written.pkid = *id;
                outgoing_[*id] = written.qos == QoS::AtLeastOnce ? Stage::AwaitPubAck : Stage::AwaitPubRec;
                ++in_flight_;
            }
            queue_write(packet);
            sink_(Outgoing{codec::PacketType::Publish, written.pkid});
        } else {
            auto& subscribe = std::get<SubscribeRequest>(request);
            auto id = allocate_id();
            if (!id) return ConnectionError::state("every packet id is in use");
            subscriptions_.emplace(*id, true);
            codec::Packet packet = codec::Subscribe{*id, {{std::move(subscribe.filter), subscribe.qos}}};
            queue_write(packet);
            sink_(Outgoing{codec::PacketType::Subscribe, *id});
        }
        return std::nullopt;
    }

    // Writes DISCONNECT after everything queued before it, then waits a
    // moment for the broker to close its side.
    asio::awaitable<std::optional<ConnectionError>> close_politely() {
        disconnect_queued_ = true;
        queue_write(codec::Disconnect{});
        while (!outbox_.empty() || writing_)
            co_await flushed_.wait();
        sink_(Outgoing{codec::PacketType::Disconnect, 0});
        disconnecting_ = true;
        stream_->shutdown_send();
        if (!peer_closed_) {
            asio::steady_timer linger(executor_, disconnect_linger);
            co_await (peer_closed_signal_.wait() || linger.async_wait(use_tuple));
        }
        co_return std::nullopt;
    }

    // --- Keep-alive ---------------------------------------------------------

    asio::awaitable<ConnectionError> keep_alive_loop() {
        if (options_.keep_alive_secs == 0) {
            for (;;)
                co_await never_.wait();
        }
        const std::chrono::seconds period(options_.keep_alive_secs);
        asio::steady_timer timer(executor_);
        for (;;) {
            const auto due = std::max(last_write_, last_ping_) + period;
            if (Clock::now() < due) {
                timer.expires_at(due);
                co_await timer.async_wait(use_tuple);
                continue;
            }
            if (ping_outstanding_) co_return ConnectionError::state("the broker did not answer the last PINGREQ");
            ping_outstanding_ = true;
            last_ping_ = Clock::now();
            queue_write(codec::PingReq{});
            sink_(Outgoing{codec::PacketType::PingReq, 0});
        }
    }

    enum class Stage { AwaitPubAck, AwaitPubRec, AwaitPubComp };

    asio::any_io_executor executor_;
    const Options& options_;
    RequestReceiver& requests_;
    EventLoop::Sink& sink_;
    std::optional<Stream> stream_;

    std::array<std::uint8_t, 16'384> chunk_{};
    codec::Bytes inbound_;
    std::size_t consumed_ = 0;

    codec::Bytes outbox_;   // encoded, waiting for the next write
    codec::Bytes sending_;  // being written; swapped with outbox_ so both keep their room
    bool writing_ = false;
    Clock::time_point last_write_{};
    Clock::time_point last_ping_{};
    bool ping_outstanding_ = false;

    std::bitset<65'536> ids_in_use_;
    std::uint16_t next_id_ = 0;
    std::unordered_map<std::uint16_t, Stage> outgoing_;
    std::unordered_map<std::uint16_t, bool> subscriptions_;
    std::size_t in_flight_ = 0;
    bool disconnect_queued_ = false;  // a DISCONNECT is on its way: the broker's close is expected
    bool disconnecting_ = false;      // the DISCONNECT is written: nothing more is reported
    bool peer_closed_ = false;

    Signal write_wanted_;
    Signal flushed_;
    Signal slots_freed_;
    Signal peer_closed_signal_;
    Signal never_;
};

}  // namespace

std::string ConnectionError::description() const {
    switch (kind_) {
        case Kind::MqttState: return "Mqtt state: " + detail_;
        case Kind::NetworkTimeout: return "Network timeout";
        case Kind::FlushTimeout: return "Flush timeout";
        case Kind::Tls: return "TLS: " + detail_;
        case Kind::Io: return "I/O: " + detail_;
        case Kind::ConnectionRefused:
            return std::string("Connection refused, return code: `") + refusal_name(code_) + "`";
        case Kind::NotConnAck: return "Expected ConnAck packet, received: " + detail_;
        case Kind::RequestsDone: return "Requests done";
    }
    return detail_;
}

struct EventLoop::Parts {
    Options options;
    RequestReceiver requests;
};

EventLoop::EventLoop(Options options, RequestReceiver requests)
    : parts_(std::make_unique<Parts>(Parts{std::move(options), std::move(requests)})) {}
EventLoop::EventLoop(EventLoop&&) noexcept = default;
EventLoop& EventLoop::operator=(EventLoop&&) noexcept = default;
EventLoop::~EventLoop() = default;

asio::awaitable<std::optional<ConnectionError>> EventLoop::run(Sink sink) {
    auto executor = co_await asio::this_coro::executor;
    Session session(executor, parts_->options, parts_->requests, sink);
    co_return co_await session.run();
}

std::pair<Handle, EventLoop> make_client(Options options, std::size_t capacity) {
    auto [sender, receiver] = core::async::make_bounded_queue<Request>(capacity);
    return {Handle(std::move(sender)), EventLoop(std::move(options), std::move(receiver))};
}

}  // namespace trovik::mqtt::client
