#include "trovik/serial/port.hpp"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <type_traits>
#include <variant>

#include "byte_queue.hpp"
#include "device.hpp"

namespace trovik::serial {

std::string_view kind_name(PortKind kind) noexcept {
    switch (kind) {
        case PortKind::Device: return "Device";
        case PortKind::Looped: return "Looped";
        case PortKind::Paired: return "Paired";
        case PortKind::Simulated: return "Simulated";
        case PortKind::Scripted: return "Scripted";
    }
    return "Device";
}

namespace {

struct Looped {
    ByteQueue input;
};

// The input queue of one end of a pair: read by that end, written by the other.
struct PairQueue {
    std::mutex mutex;
    ByteQueue bytes;
};
struct Paired {
    std::shared_ptr<PairQueue> own;
    std::shared_ptr<PairQueue> other;
};

struct Simulated {
    ByteQueue input;
    std::unique_ptr<Peer> peer;
};

struct Scripted {
    std::deque<PortStep> steps;
    ByteQueue input;

    // Makes the read steps at the front readable, up to the next write step.
    void release() {
        while (!steps.empty() && steps.front().kind == PortStep::Kind::Read) {
            input.append(steps.front().bytes);
            steps.pop_front();
        }
    }
};

// In the order of PortKind.
using Backend = std::variant<Device, Looped, Paired, Simulated, Scripted>;

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept {
    return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

}  // namespace

struct SerialPort::Shared {
    Shared(Backend b, Settings s) : backend(std::move(b)), settings(s), kind(static_cast<PortKind>(backend.index())) {}

    std::mutex mutex;
    Backend backend;  // guarded by `mutex`
    const Settings settings;
    const PortKind kind;
    // Changed only under `mutex`, read without it: a device read can hold the
    // mutex for its whole timeout, and a look at a counter need not wait for it.
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> received{0};
    std::atomic<std::uint64_t> waited_ns{0};

    void count_waited(Duration d) noexcept {
        waited_ns.store(saturating_add(waited_ns.load(std::memory_order_relaxed), d.saturating_nanos()),
                        std::memory_order_relaxed);
    }

    // Takes up to `size` queued bytes into the buffer `buffer_for(n)` gives for
    // the `n` bytes that will be taken; for every kind but a device.
    template <class BufferFor>
    std::size_t take_queued(std::uint64_t size, BufferFor&& buffer_for) {
        auto take = [&](ByteQueue& queue) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, queue.size()));
            return n == 0 ? 0 : queue.take(buffer_for(n));
        };
        return std::visit(
            [&]<class B>(B& b) -> std::size_t {
                if constexpr (std::is_same_v<B, Paired>) {
                    std::lock_guard own(b.own->mutex);
                    return take(b.own->bytes);
                } else if constexpr (std::is_same_v<B, Device>) {
                    return 0;
                } else {
                    return take(b.input);
                }
            },
            backend);
    }

    template <class BufferFor>
    std::expected<std::size_t, PortError> read(std::uint64_t size, Duration timeout, BufferFor&& buffer_for) {
        if (size == 0) return 0;
        std::lock_guard lock(mutex);
        std::expected<std::size_t, PortError> got = 0;
        if (auto* device = std::get_if<Device>(&backend)) {
            got = device->read(timeout, [&](std::size_t available) {
                return buffer_for(static_cast<std::size_t>(std::min<std::uint64_t>(size, available)));
            });
        } else {
            got = take_queued(size, buffer_for);
        }
        if (!got) return got;
        if (*got == 0)
            count_waited(timeout);
        else
            received.fetch_add(*got, std::memory_order_relaxed);
        return got;
    }
};

SerialPort SerialPort::looped(Settings settings) { return SerialPort(std::make_shared<Shared>(Looped{}, settings)); }

std::pair<SerialPort, SerialPort> SerialPort::pair(Settings settings) {
    auto a = std::make_shared<PairQueue>();
    auto b = std::make_shared<PairQueue>();
    return {SerialPort(std::make_shared<Shared>(Paired{a, b}, settings)),
            SerialPort(std::make_shared<Shared>(Paired{b, a}, settings))};
}

SerialPort SerialPort::scripted(Settings settings, std::vector<PortStep> steps) {
    Scripted script{{std::make_move_iterator(steps.begin()), std::make_move_iterator(steps.end())}, {}};
    script.release();
    return SerialPort(std::make_shared<Shared>(std::move(script), settings));
}

SerialPort SerialPort::simulated(Settings settings, std::unique_ptr<Peer> peer) {
    return SerialPort(std::make_shared<Shared>(Simulated{{}, std::move(peer)}, settings));
}

std::expected<SerialPort, OpenError> SerialPort::open(std::string_view path, Settings settings) {
    std::expected<Device, OpenError> device = Device::open(path, settings);
    if (!device) return std::unexpected(std::move(device.error()));
    return SerialPort(std::make_shared<Shared>(std::move(*device), settings));
}

std::expected<void, PortError> SerialPort::write(std::span<const std::uint8_t> data) const {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    std::expected<void, PortError> done = std::visit(
        [&]<class B>(B& b) -> std::expected<void, PortError> {
            if constexpr (std::is_same_v<B, Device>) {
                return b.write(data);
            } else if constexpr (std::is_same_v<B, Looped>) {
                b.input.append(data);
            } else if constexpr (std::is_same_v<B, Paired>) {
                std::lock_guard other(b.other->mutex);
                b.other->bytes.append(data);
            } else if constexpr (std::is_same_v<B, Simulated>) {
                b.input.append(b.peer->receive(data));
            } else {
                // A write step must match in one call; a mismatch consumes
                // nothing, so a corrected write can follow.
                if (b.steps.empty() || b.steps.front().kind != PortStep::Kind::Write)
                    return std::unexpected(PortError::mismatch(std::nullopt, data));
                const std::vector<std::uint8_t>& expected = b.steps.front().bytes;
                if (!std::ranges::equal(expected, data)) return std::unexpected(PortError::mismatch(expected, data));
                b.steps.pop_front();
                b.release();
            }
            return {};
        },
        s.backend);
    if (done) s.written.fetch_add(data.size(), std::memory_order_relaxed);
    return done;
}

std::expected<std::size_t, PortError> SerialPort::read(std::span<std::uint8_t> buffer, Duration timeout) const {
    return shared_->read(buffer.size(), timeout, [&](std::size_t n) { return buffer.first(n); });
}

std::expected<std::vector<std::uint8_t>, PortError> SerialPort::read_up_to(std::uint64_t size, Duration timeout) const {
    // The buffer is sized under the port's lock to what is there to be read:
    // a large `size` costs nothing.
    std::vector<std::uint8_t> bytes;
    const std::expected<std::size_t, PortError> got = shared_->read(size, timeout, [&](std::size_t n) {
        bytes.resize(n);
        return std::span<std::uint8_t>(bytes);
    });
    if (!got) return std::unexpected(got.error());
    bytes.resize(*got);
    return bytes;
}

void SerialPort::wait(Duration duration) const {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    if (const auto* device = std::get_if<Device>(&s.backend)) device->sleep(duration);
    s.count_waited(duration);
}

std::expected<void, PortError> SerialPort::discard_input() const {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    return std::visit(
        [&]<class B>(B& b) -> std::expected<void, PortError> {
            if constexpr (std::is_same_v<B, Device>) {
                return b.discard_input();
            } else if constexpr (std::is_same_v<B, Paired>) {
                std::lock_guard own(b.own->mutex);
                b.own->bytes.clear();
            } else {
                b.input.clear();
            }
            return {};
        },
        s.backend);
}

PortKind SerialPort::kind() const noexcept { return shared_->kind; }
Settings SerialPort::settings() const noexcept { return shared_->settings; }
std::uint64_t SerialPort::written() const noexcept { return shared_->written.load(std::memory_order_relaxed); }
std::uint64_t SerialPort::received() const noexcept { return shared_->received.load(std::memory_order_relaxed); }
std::uint64_t SerialPort::waited_micros() const noexcept {
    return shared_->waited_ns.load(std::memory_order_relaxed) / 1000;
}

std::optional<std::size_t> SerialPort::remaining() const {
    if (shared_->kind != PortKind::Scripted) return std::nullopt;
    std::lock_guard lock(shared_->mutex);
    return std::get<Scripted>(shared_->backend).steps.size();
}

}  // namespace trovik::serial
