#include "trovik/hal/bus.hpp"

#include <algorithm>
#include <chrono>
#include <limits>
#include <mutex>
#include <thread>

#include "i2c_dev.hpp"
#include "trovik/core/text.hpp"

namespace trovik::hal {

// The bus lock guards all of it. A fault that unwinds while the lock is held
// leaves the state as it was left, and later calls go on with it: the bus is
// never poisoned.
struct I2cBus::Shared {
    using Backend = std::variant<i2c_dev::Adapter, std::vector<sim::Part>, script::I2cScript>;

    explicit Shared(Backend backend) : backend(std::move(backend)) {}

    std::mutex lock;
    Backend backend;
    std::uint64_t transfers = 0;
    std::uint64_t waited_ns = 0;  // saturates, never wraps
};

namespace {

using Parts = std::vector<sim::Part>;

sim::Part* find(Parts& parts, std::uint8_t address) {
    for (sim::Part& part : parts)
        if (part.address() == address) return &part;
    return nullptr;
}

// Puts `part` in place of any part at its address, else at the end; returns
// the part it displaced.
std::optional<sim::Part> place(Parts& parts, sim::Part part) {
    if (sim::Part* held = find(parts, part.address())) return std::exchange(*held, std::move(part));
    parts.push_back(std::move(part));
    return std::nullopt;
}

}  // namespace

std::string BusError::message() const {
    struct Text {
        std::string operator()(const NoAnswer& e) const {
            return "nothing answered at " + core::text::hex_prefixed(e.address, 4);
        }
        std::string operator()(const sim::PartError& e) const { return e.message(); }
        std::string operator()(const script::ScriptError& e) const { return e.message(); }
        std::string operator()(const Io& e) const { return e.reason; }
    };
    return std::visit(Text{}, cause);
}

std::string OpenError::message() const {
    if (kind == Kind::Unsupported)
        return "an I2C adapter is opened through the kernel's i2c-dev interface, which only Linux has";
    return path + ": " + reason;
}

I2cBus I2cBus::simulated(std::vector<sim::Part> parts) {
    Parts placed;
    placed.reserve(parts.size());
    for (sim::Part& part : parts)
        place(placed, std::move(part));
    return I2cBus(std::make_shared<Shared>(std::move(placed)));
}

I2cBus I2cBus::scripted(script::I2cScript script) { return I2cBus(std::make_shared<Shared>(std::move(script))); }

std::expected<I2cBus, OpenError> I2cBus::open(std::string_view path) {
    auto adapter = i2c_dev::Adapter::open(path);
    if (!adapter) return std::unexpected(std::move(adapter.error()));
    return over(std::move(*adapter));
}

I2cBus I2cBus::over(i2c_dev::Adapter adapter) { return I2cBus(std::make_shared<Shared>(std::move(adapter))); }

BusResult I2cBus::transaction(std::uint8_t address, std::span<const Operation> operations) const {
    std::lock_guard guard(shared_->lock);
    ++shared_->transfers;
    struct Dispatch {
        std::uint8_t address;
        std::span<const Operation> operations;
        BusResult operator()(Parts& parts) const {
            sim::Part* part = find(parts, address);
            if (!part) return std::unexpected(BusError{BusError::NoAnswer{address}});
            if (auto done = part->transaction(address, operations); !done)
                return std::unexpected(BusError{std::move(done.error())});
            return {};
        }
        BusResult operator()(script::I2cScript& script) const {
            if (auto done = script.transaction(address, operations); !done)
                return std::unexpected(BusError{std::move(done.error())});
            return {};
        }
        BusResult operator()(const i2c_dev::Adapter& adapter) const { return adapter.transfer(address, operations); }
    };
    return std::visit(Dispatch{address, operations}, shared_->backend);
}

BusResult I2cBus::write(std::uint8_t address, std::span<const std::uint8_t> bytes) const {
    const Operation ops[] = {Operation::write(bytes)};
    return transaction(address, ops);
}

BusResult I2cBus::read(std::uint8_t address, std::span<std::uint8_t> buffer) const {
    const Operation ops[] = {Operation::read(buffer)};
    return transaction(address, ops);
}

BusResult I2cBus::write_read(std::uint8_t address, std::span<const std::uint8_t> bytes,
                             std::span<std::uint8_t> buffer) const {
    const Operation ops[] = {Operation::write(bytes), Operation::read(buffer)};
    return transaction(address, ops);
}

std::expected<std::optional<sim::Part>, NotSimulated> I2cBus::attach(sim::Part part) const {
    std::lock_guard guard(shared_->lock);
    Parts* parts = std::get_if<Parts>(&shared_->backend);
    if (!parts) return std::unexpected(NotSimulated{});
    return place(*parts, std::move(part));
}

std::optional<sim::Part> I2cBus::part(std::uint8_t address) const {
    std::lock_guard guard(shared_->lock);
    Parts* parts = std::get_if<Parts>(&shared_->backend);
    if (!parts) return std::nullopt;
    if (sim::Part* held = find(*parts, address)) return *held;
    return std::nullopt;
}

BusKind I2cBus::kind() const {
    std::lock_guard guard(shared_->lock);
    return static_cast<BusKind>(shared_->backend.index());
}

std::uint64_t I2cBus::transfers() const {
    std::lock_guard guard(shared_->lock);
    return shared_->transfers;
}

std::optional<std::size_t> I2cBus::remaining() const {
    std::lock_guard guard(shared_->lock);
    if (auto* script = std::get_if<script::I2cScript>(&shared_->backend)) return script->remaining();
    return std::nullopt;
}

std::uint64_t I2cBus::waited_micros() const {
    std::lock_guard guard(shared_->lock);
    return shared_->waited_ns / 1000;
}

void BusDelay::wait_ns(std::uint64_t ns) const {
    I2cBus::Shared& shared = *bus_.shared_;
    bool sleeps = false;
    {
        std::lock_guard guard(shared.lock);
        constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
        shared.waited_ns = shared.waited_ns > most - ns ? most : shared.waited_ns + ns;
        sleeps = std::holds_alternative<i2c_dev::Adapter>(shared.backend);
    }
    // A real chip is converting meanwhile, and given its next command early
    // it answers wrongly. The sleep is outside the bus lock: other drivers'
    // transactions go on while this one waits.
    if (sleeps)
        std::this_thread::sleep_for(std::chrono::nanoseconds(
            static_cast<std::int64_t>(std::min<std::uint64_t>(ns, std::numeric_limits<std::int64_t>::max()))));
}

}  // namespace trovik::hal
