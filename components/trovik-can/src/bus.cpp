#include "trovik/can/bus.hpp"

#include <atomic>
#include <deque>
#include <mutex>
#include <variant>
#include <vector>

#include "device.hpp"

namespace trovik::can {

namespace {

// A node's place on a simulated network. Seats are never removed or reused,
// so a seat's index names its node for good.
struct Seat {
    std::deque<Frame> queue;                     // oldest first, unbounded
    std::optional<std::vector<Filter>> filters;  // none keeps every frame
    bool live = true;
};

struct Network {
    std::mutex mutex;
    std::deque<Seat> seats;  // a deque: a joining node never moves the others' queues
};

bool keeps(const Seat& seat, const Frame& frame) noexcept {
    if (!seat.filters) return true;
    for (const Filter& f : *seat.filters)
        if (f.passes(frame)) return true;
    return false;
}

void add_saturating(std::atomic<std::uint64_t>& total, std::uint64_t amount) noexcept {
    std::uint64_t old = total.load(std::memory_order_relaxed);
    std::uint64_t sum;
    do {
        sum = old > UINT64_MAX - amount ? UINT64_MAX : old + amount;
    } while (!total.compare_exchange_weak(old, sum, std::memory_order_relaxed));
}

}  // namespace

struct CanBus::Node {
    struct Simulated {
        std::shared_ptr<Network> network;
        std::size_t seat;
    };
    struct Device {
        device::Socket socket;
        std::string interface;
    };

    explicit Node(Simulated s) : place(std::move(s)) {}
    explicit Node(Device d) : place(std::move(d)) {}
    Node(const Node&) = delete;

    // Leaving: the seat stays, dead and empty, and later sends pass it by.
    ~Node() {
        if (auto* sim = std::get_if<Simulated>(&place)) {
            std::lock_guard lock(sim->network->mutex);
            Seat& seat = sim->network->seats[sim->seat];
            seat.live = false;
            std::deque<Frame>().swap(seat.queue);
            seat.filters.reset();
        }
    }

    // Runs every operation on a simulated node, one at a time. A device node
    // does not take it: its socket is safe to share, and a receive that waits
    // on the kernel must not hold up the node's other callers.
    std::mutex mutex;
    std::variant<Simulated, Device> place;
    // Atomic so that reading them never waits for a receive in progress.
    std::atomic<std::uint64_t> sent{0};
    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint64_t> waited_ns{0};  // saturating
};

std::string_view kind_name(Kind kind) noexcept { return kind == Kind::Device ? "Device" : "Simulated"; }

OpenError OpenError::unsupported() {
    return OpenError{std::nullopt, "a CAN interface is opened through SocketCAN, which only Linux has here"};
}

// An empty name is still a name the caller gave: it gets its ": " too.
std::string OpenError::message() const { return interface ? *interface + ": " + reason : reason; }

CanBus CanBus::simulated() {
    auto network = std::make_shared<Network>();
    network->seats.emplace_back();
    return CanBus(std::make_shared<Node>(Node::Simulated{std::move(network), 0}));
}

std::expected<CanBus, OpenError> CanBus::open(std::string_view interface) {
    auto socket = device::open(interface);
    if (!socket) return std::unexpected(std::move(socket.error()));
    return CanBus(std::make_shared<Node>(Node::Device{std::move(*socket), std::string(interface)}));
}

CanBus CanBus::adopt(int socket, std::string interface) {
    return CanBus(std::make_shared<Node>(Node::Device{device::Socket(socket), std::move(interface)}));
}

std::expected<CanBus, OpenError> CanBus::join() const {
    if (auto* dev = std::get_if<Node::Device>(&node_->place)) return open(dev->interface);
    auto& sim = std::get<Node::Simulated>(node_->place);
    std::lock_guard node_lock(node_->mutex);
    std::size_t seat;
    {
        std::lock_guard network_lock(sim.network->mutex);
        sim.network->seats.emplace_back();
        seat = sim.network->seats.size() - 1;
    }
    return CanBus(std::make_shared<Node>(Node::Simulated{sim.network, seat}));
}

std::expected<void, BusError> CanBus::send(const Frame& frame) const {
    if (auto* dev = std::get_if<Node::Device>(&node_->place)) {
        auto sent = device::write_frame(dev->socket, frame);
        if (sent) node_->sent.fetch_add(1, std::memory_order_relaxed);
        return sent;
    }
    auto& sim = std::get<Node::Simulated>(node_->place);
    std::lock_guard node_lock(node_->mutex);
    {
        std::lock_guard network_lock(sim.network->mutex);
        auto& seats = sim.network->seats;
        for (std::size_t i = 0; i < seats.size(); ++i) {
            Seat& seat = seats[i];
            if (i == sim.seat || !seat.live || !keeps(seat, frame)) continue;
            seat.queue.push_back(frame);
        }
    }
    node_->sent.fetch_add(1, std::memory_order_relaxed);
    return {};
}

std::expected<std::optional<Frame>, BusError> CanBus::receive(Nanoseconds timeout) const {
    std::expected<std::optional<Frame>, BusError> frame;
    if (auto* dev = std::get_if<Node::Device>(&node_->place)) {
        frame = device::read_frame(dev->socket, timeout);
    } else {
        auto& sim = std::get<Node::Simulated>(node_->place);
        std::lock_guard node_lock(node_->mutex);
        std::lock_guard network_lock(sim.network->mutex);
        auto& queue = sim.network->seats[sim.seat].queue;
        if (!queue.empty()) {
            frame = queue.front();
            queue.pop_front();
        }
    }
    if (frame && *frame)
        node_->received.fetch_add(1, std::memory_order_relaxed);
    else if (frame)
        add_saturating(node_->waited_ns, timeout.count());
    return frame;
}

std::expected<void, BusError> CanBus::set_filters(std::span<const Filter> filters) const { return filter(filters); }

std::expected<void, BusError> CanBus::clear_filters() const { return filter(std::nullopt); }

std::expected<void, BusError> CanBus::filter(std::optional<std::span<const Filter>> filters) const {
    if (auto* dev = std::get_if<Node::Device>(&node_->place)) return device::apply_filters(dev->socket, filters);
    auto& sim = std::get<Node::Simulated>(node_->place);
    std::optional<std::vector<Filter>> list;
    if (filters) list.emplace(filters->begin(), filters->end());
    std::lock_guard node_lock(node_->mutex);
    std::lock_guard network_lock(sim.network->mutex);
    sim.network->seats[sim.seat].filters = std::move(list);
    return {};
}

Kind CanBus::kind() const noexcept {
    return std::holds_alternative<Node::Device>(node_->place) ? Kind::Device : Kind::Simulated;
}

std::optional<std::string> CanBus::interface() const {
    if (auto* dev = std::get_if<Node::Device>(&node_->place)) return dev->interface;
    return std::nullopt;
}

std::uint64_t CanBus::sent() const noexcept { return node_->sent.load(std::memory_order_relaxed); }
std::uint64_t CanBus::received() const noexcept { return node_->received.load(std::memory_order_relaxed); }
std::uint64_t CanBus::waited_micros() const noexcept { return node_->waited_ns.load(std::memory_order_relaxed) / 1000; }

}  // namespace trovik::can
