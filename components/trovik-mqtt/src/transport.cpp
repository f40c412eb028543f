#include "trovik/mqtt/transport.hpp"

#include <algorithm>
#include <chrono>
#include <string>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include "trovik/core/transport.hpp"
#include "trovik/mqtt/topics.hpp"

namespace trovik::mqtt {

// The link serves wherever any link does, held by value or in the object form.
static_assert(core::Transport<MqttTransport> && core::Receive<MqttTransport>);
static_assert(std::is_nothrow_move_constructible_v<MqttTransport> && std::is_nothrow_move_assignable_v<MqttTransport>);

using core::Error;
using namespace std::chrono_literals;

namespace {

// MQTT carries the keep-alive in 16 bits; a longer one is sent as the
// longest it can hold rather than wrapped into a short (or zero) one.
std::uint16_t keep_alive_seconds(std::chrono::seconds keep_alive) {
    return static_cast<std::uint16_t>(std::clamp<std::chrono::seconds::rep>(keep_alive.count(), 0, 65'535));
}

// The event-loop task of one connection: it drives the client's event loop
// and turns what it reports into inbox items, delivery completions and the
// `closed` flag.
asio::awaitable<void> serve(client::EventLoop event_loop, InboxSender inbox,
                            std::shared_ptr<delivery::Requested> requested, std::shared_ptr<std::atomic<bool>> closed,
                            core::async::OneShotSender<Result<void>> connected_sender) {
    std::optional<client::EventLoop> loop(std::move(event_loop));
    std::optional<core::async::OneShotSender<Result<void>>> connected(std::move(connected_sender));
    delivery::InFlight in_flight;
    std::string end_reason;

    auto ending = co_await loop->run([&](client::Event&& event) {
        if (auto* incoming = std::get_if<client::Incoming>(&event)) {
            auto& packet = incoming->packet;
            if (std::holds_alternative<codec::ConnAck>(packet)) {
                if (connected) {
                    std::move(*connected).send(Result<void>{});
                    connected.reset();
                }
            } else if (auto* publish = std::get_if<codec::Publish>(&packet)) {
                // A receiving end that is gone just drops the message.
                inbox.push(core::Message{std::move(publish->topic), std::move(publish->payload)});
            } else if (auto* ack = std::get_if<codec::PubAck>(&packet)) {
                in_flight.acknowledged(ack->pkid);
            } else if (auto* comp = std::get_if<codec::PubComp>(&packet)) {
                in_flight.acknowledged(comp->pkid);
            }
            return;
        }
        const auto& outgoing = std::get<client::Outgoing>(event);
        if (outgoing.type == codec::PacketType::Publish) {
            in_flight.sent(*requested, outgoing.pkid);
        } else if (outgoing.type == codec::PacketType::Disconnect) {
            closed->exchange(true);
            end_reason = "the client disconnected";
            in_flight.fail(*requested, end_reason);
        }
    });

    if (ending) {
        closed->exchange(true);
        end_reason = ending->description();
        in_flight.fail(*requested, end_reason);
        if (connected) {
            std::move(*connected).send(std::unexpected(map_connection_error(*ending)));
        } else {
            inbox.push(Error::transport_fault("the connection to the broker ended: " + end_reason));
        }
    }

    // Dropping the loop closes the request queue. A publish pushed after the
    // drain above but queued before that moment would otherwise wait
    // unanswered until the next connect or disconnect: fail it now too.
    loop.reset();
    in_flight.fail(*requested, end_reason);
}

}  // namespace

// The handle of one event-loop task: it can be aborted from any thread, and
// tells whether the task has finished, which it has only once everything the
// task held (connection, inbox sender, completions) is gone.
struct MqttTransport::Task : std::enable_shared_from_this<Task> {
    explicit Task(asio::strand<asio::any_io_executor> strand_) : strand(std::move(strand_)) {}

    static std::shared_ptr<Task> spawn(const asio::any_io_executor& executor, asio::awaitable<void> body) {
        auto task = std::make_shared<Task>(asio::make_strand(executor));
        asio::co_spawn(task->strand, run(task, std::move(body)),
                       asio::bind_cancellation_slot(task->signal.slot(), [task](std::exception_ptr) {}));
        return task;
    }

    // The cancellation reaches the task on its own strand.
    void abort() {
        asio::post(strand, [self = shared_from_this()] { self->signal.emit(asio::cancellation_type::terminal); });
    }

    bool is_finished() const { return finished.load(); }

    asio::strand<asio::any_io_executor> strand;
    asio::cancellation_signal signal;
    std::atomic<bool> finished{false};

private:
    static asio::awaitable<void> run(std::shared_ptr<Task> task, asio::awaitable<void> body) {
        struct MarkFinished {
            Task& task;
            ~MarkFinished() { task.finished.store(true); }
        } mark{*task};
        {
            auto serving = std::move(body);
            co_await std::move(serving);
        }
    }
};

Error map_connection_error(const client::ConnectionError& error) {
    if (error.kind() == client::ConnectionError::Kind::ConnectionRefused) {
        switch (error.code()) {
            case 2: return Error::transport_fault("the broker refused the client id");
            case 4: return Error::auth("the broker refused the username or password");
            case 5: return Error::auth("the broker does not authorize this client");
            default: break;
        }
    }
    return Error::transport_fault(error.description());
}

Error map_client_error() { return Error::closed(); }

MqttTransport::MqttTransport(MqttConfig config, asio::any_io_executor executor)
    : config_(std::move(config)),
      executor_(std::move(executor)),
      closed_(std::make_shared<std::atomic<bool>>(false)),
      requested_(std::make_shared<delivery::Requested>()) {}

// The channel is ended first: dropping the request handle along with the
// transport can wake the event loop ahead of the abort, and the reason it then
// ends for ("Requests done") is no failure a receiver should be told of. A
// waiting recv gets nothing, as after a disconnect.
void MqttTransport::drop_connection() noexcept {
    if (inbox_end_) inbox_end_->close();
    if (task_) task_->abort();
}

MqttTransport::~MqttTransport() { drop_connection(); }

MqttTransport& MqttTransport::operator=(MqttTransport&& other) noexcept {
    if (this == &other) return *this;
    drop_connection();
    config_ = std::move(other.config_);
    executor_ = std::move(other.executor_);
    inbox_ = std::move(other.inbox_);
    closed_ = std::move(other.closed_);
    requested_ = std::move(other.requested_);
    client_ = std::move(other.client_);
    task_ = std::move(other.task_);
    inbox_end_ = std::move(other.inbox_end_);
    return *this;
}

asio::awaitable<Result<void>> MqttTransport::connect() {
    co_await disconnect();

    client::Options options;
    options.client_id = config_.client_id();
    options.host = config_.host();
    options.port = config_.port();
    options.keep_alive_secs = keep_alive_seconds(config_.keep_alive());
    options.max_incoming_packet_size = config_.max_packet_size();
    options.max_outgoing_packet_size = config_.max_packet_size();
    if (const auto& credentials = config_.credentials())
        options.login = codec::Login{credentials->username, credentials->password};
    if (const auto& will = config_.will()) {
        if (auto checked = check_topic(will->topic); !checked) co_return std::unexpected(checked.error());
        options.will = codec::LastWill{will->topic, will->payload, will->qos, will->retain};
    }
    if (const auto& tls = config_.tls()) {
        auto context = tls->client_config();
        if (!context) co_return std::unexpected(context.error());
        options.tls = std::move(*context);
    }

    auto [handle, loop] = client::make_client(std::move(options), config_.capacity());
    auto [inbox_sender, inbox_receiver] = core::async::make_queue<InboxItem>();
    auto [connected_sender, connected_receiver] = core::async::make_oneshot<Result<void>>();
    auto closed = std::make_shared<std::atomic<bool>>(false);
    auto requested = std::make_shared<delivery::Requested>();
    auto task = Task::spawn(
        executor_, serve(std::move(loop), std::move(inbox_sender), requested, closed, std::move(connected_sender)));

    // Until the connection is stored, leaving (a failure, or this call being
    // cancelled) must not leave its task running unowned.
    struct AbortUnlessKept {
        std::shared_ptr<Task> task;
        ~AbortUnlessKept() {
            if (task) task->abort();
        }
    } pending{task};

    auto outcome = co_await connected_receiver.async_wait();
    if (!outcome)
        co_return std::unexpected(Error::transport_fault("event loop closed before the connection was established"));
    if (!*outcome) co_return std::unexpected(std::move(outcome->error()));

    auto ender = inbox_receiver.closer();
    co_await inbox_.replace(std::move(inbox_receiver));
    pending.task.reset();
    client_ = std::move(handle);
    task_ = std::move(task);
    closed_ = std::move(closed);
    requested_ = std::move(requested);
    inbox_end_ = std::move(ender);
    co_return Result<void>{};
}

asio::awaitable<void> MqttTransport::disconnect() {
    auto task = std::exchange(task_, nullptr);
    auto client = std::exchange(client_, std::nullopt);
    auto ender = std::exchange(inbox_end_, std::nullopt);

    // Whatever happens below, even this call being cancelled, the old
    // connection is cut and a recv waiting on its channel is released.
    struct Cut {
        std::shared_ptr<Task> task;
        std::optional<core::async::QueueCloser<InboxItem>> ender;
        void now() {
            if (auto t = std::exchange(task, nullptr)) t->abort();
            if (auto e = std::exchange(ender, std::nullopt)) e->close();
        }
        ~Cut() { now(); }
    } cut{task, std::move(ender)};

    if (client) {
        const bool queued = co_await client->disconnect();
        if (queued && task) {
            const auto deadline = std::chrono::steady_clock::now() + 1s;
            // On the transport's executor: the caller's may have no timers.
            asio::steady_timer timer(executor_);
            while (!task->is_finished() && std::chrono::steady_clock::now() < deadline) {
                timer.expires_after(10ms);
                co_await timer.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
            }
        }
        client.reset();
    }
    cut.now();
    co_await inbox_.replace(std::nullopt);
    requested_ = std::make_shared<delivery::Requested>();
}

bool MqttTransport::is_connected() const { return client_ && task_ && !task_->is_finished() && !closed_->load(); }

Result<client::Handle> MqttTransport::live() const {
    if (!is_connected()) return std::unexpected(Error::closed());
    return *client_;
}

Result<client::Handle> MqttTransport::ready_to_publish(std::string_view topic, std::size_t payload_size,
                                                       QoS level) const {
    auto client = live();
    if (!client) return client;
    if (auto checked = check_topic(topic); !checked) return std::unexpected(checked.error());
    // MQTT cannot express a longer packet, whatever limit the config sets.
    const std::size_t limit = std::min(config_.max_packet_size(),
                                       codec::max_remaining_length + codec::header_size(codec::max_remaining_length));
    const std::size_t size = codec::publish_packet_size(topic.size(), payload_size, level);
    if (size > limit) {
        return std::unexpected(Error::transport_fault("the message makes a " + std::to_string(size) +
                                                      "-byte packet, over this connection's " + std::to_string(limit) +
                                                      "-byte limit"));
    }
    return client;
}

asio::awaitable<Result<delivery::Delivery>> MqttTransport::publish(std::string topic, core::Bytes payload,
                                                                   std::optional<QoS> qos, bool retain) {
    const QoS level = qos.value_or(config_.qos());
    auto client = ready_to_publish(topic, payload.size(), level);
    if (!client) co_return std::unexpected(client.error());

    auto requested = requested_;
    auto delivery = requested->push(level);
    // The entry must leave the queue again unless the publish was queued, or
    // the next written PUBLISH would be matched to it.
    struct WithdrawUnlessQueued {
        delivery::Requested* requested;
        ~WithdrawUnlessQueued() {
            if (requested) requested->withdraw();
        }
    } pending{requested.get()};

    // Named before it is awaited (CONTRIBUTING.md, "g++ 12 and coroutines").
    client::PublishRequest request{std::move(topic), level, retain, std::move(payload)};
    const bool queued = co_await client->publish(std::move(request));
    if (!queued) co_return std::unexpected(map_client_error());
    pending.requested = nullptr;
    co_return std::move(delivery);
}

std::optional<Result<delivery::Delivery>> MqttTransport::try_publish(std::string& topic, core::Bytes& payload,
                                                                     std::optional<QoS> qos, bool retain) {
    const QoS level = qos.value_or(config_.qos());
    auto client = ready_to_publish(topic, payload.size(), level);
    if (!client) return std::unexpected(client.error());
    auto delivery = requested_->push(level);
    client::Request request = client::PublishRequest{std::move(topic), level, retain, std::move(payload)};
    const std::optional<bool> queued = client->try_push(request);
    if (queued && *queued) return delivery;
    requested_->withdraw();
    if (queued) return std::unexpected(map_client_error());
    auto& kept = std::get<client::PublishRequest>(request);
    topic = std::move(kept.topic);
    payload = std::move(kept.payload);
    return std::nullopt;
}

asio::awaitable<Result<delivery::Delivery>> MqttTransport::publish(std::string_view topic,
                                                                   std::span<const std::uint8_t> payload,
                                                                   std::optional<QoS> qos, bool retain) {
    std::string owned_topic(topic);
    core::Bytes owned_payload(payload.begin(), payload.end());
    co_return co_await publish(std::move(owned_topic), std::move(owned_payload), qos, retain);
}

asio::awaitable<Result<void>> MqttTransport::send(std::string_view topic, std::span<const std::uint8_t> payload) {
    auto delivery = co_await publish(topic, payload, std::nullopt, false);
    if (!delivery) co_return std::unexpected(delivery.error());
    co_return Result<void>{};
}

asio::awaitable<Result<void>> MqttTransport::subscribe(std::string_view filter) {
    auto client = live();
    if (!client) co_return std::unexpected(client.error());
    if (auto checked = check_filter(filter); !checked) co_return std::unexpected(checked.error());
    client::SubscribeRequest request{std::string(filter), config_.qos()};
    const bool queued = co_await client->subscribe(std::move(request));
    if (!queued) co_return std::unexpected(map_client_error());
    co_return Result<void>{};
}

}  // namespace trovik::mqtt
