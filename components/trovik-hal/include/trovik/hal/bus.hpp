#pragma once
// The handle to one I2C bus, shared by the program and every driver built on
// it. Copies of a handle share one bus; the bus lives while any copy does.
//
//     I2cBus bus = I2cBus::simulated({sim::I2cPart(0x48).holding(0x00, bytes)});
//     std::array<std::uint8_t, 2> word{};
//     if (auto done = bus.write_read(0x48, pointer, word); !done) report(done.error().message());
//     BusDelay delay = bus.delay();
//     delay.delay_ms(100);  // on a simulated bus: counted, not slept
//
// What answers a transaction is the bus's back end: simulated parts, a script
// of expected transfers, or (on Linux) an adapter opened through the kernel's
// i2c-dev interface. Each transaction holds the bus lock for itself alone, so
// the transactions of several drivers on one bus interleave whole; the lock
// is never held across two calls, and nothing here waits for anything else
// while holding it. Every call is safe from any thread.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "trovik/hal/i2c.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/hal/script.hpp"

namespace trovik::hal {

namespace i2c_dev {
class Adapter;
}

// Why a transaction failed.
struct BusError {
    struct NoAnswer {  // "nothing answered at 0x48"
        std::uint8_t address;
        friend bool operator==(const NoAnswer&, const NoAnswer&) = default;
    };
    struct Io {  // the kernel's words
        std::string reason;
        friend bool operator==(const Io&, const Io&) = default;
    };
    std::variant<NoAnswer, sim::PartError, script::ScriptError, Io> cause;

    std::string message() const;
    friend bool operator==(const BusError&, const BusError&) = default;
};

using BusResult = std::expected<void, BusError>;

// Why an adapter could not be opened.
struct OpenError {
    enum class Kind : std::uint8_t {
        Unsupported,  // the system has no i2c-dev interface
        Io,           // the file cannot be opened as an adapter
    };
    Kind kind;
    std::string path;  // Io: exactly as given
    std::string reason;

    // "{path}: {reason}", or the fixed text where there is no i2c-dev.
    std::string message() const;
};

// Putting a part on a bus that is not simulated.
struct NotSimulated {
    std::string message() const { return "only a simulated bus takes parts"; }
};

enum class BusKind : std::uint8_t { Adapter, Simulated, Scripted };

class BusDelay;

class I2cBus {
public:
    // A bus of simulated parts, placed in order; a later part at an address
    // an earlier one holds takes its place.
    static I2cBus simulated(std::vector<sim::Part> parts = {});
    static I2cBus scripted(script::I2cScript script);
    // The kernel's adapter at `path`, such as "/dev/i2c-1".
    static std::expected<I2cBus, OpenError> open(std::string_view path);
    // A bus over an adapter already opened; `open` is the way to one.
    static I2cBus over(i2c_dev::Adapter adapter);

    // One transaction: the operations in order, with a repeated start
    // between them, to `address`. It counts in `transfers` whatever its
    // outcome. What completed before a failure stays done: bytes written
    // into a part, buffers filled, script steps taken.
    BusResult transaction(std::uint8_t address, std::span<const Operation> operations) const;
    BusResult write(std::uint8_t address, std::span<const std::uint8_t> bytes) const;
    BusResult read(std::uint8_t address, std::span<std::uint8_t> buffer) const;
    // A write then a read, in one transaction.
    BusResult write_read(std::uint8_t address, std::span<const std::uint8_t> bytes,
                         std::span<std::uint8_t> buffer) const;

    // Puts `part` on a simulated bus in place of any part at its address and
    // returns the part it replaced.
    std::expected<std::optional<sim::Part>, NotSimulated> attach(sim::Part part) const;
    // A copy of the simulated part at `address`, as it is now.
    std::optional<sim::Part> part(std::uint8_t address) const;

    BusKind kind() const;
    // Transactions begun on the bus, failed ones included.
    std::uint64_t transfers() const;
    // Steps a scripted bus has left; nothing on other buses.
    std::optional<std::size_t> remaining() const;
    // How long the drivers asked to wait, in whole microseconds.
    std::uint64_t waited_micros() const;

    // The delay provider drivers on this bus wait with.
    BusDelay delay() const;

private:
    struct Shared;
    explicit I2cBus(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    friend class BusDelay;
    std::shared_ptr<Shared> shared_;
};

// A driver's waits between transactions on one bus. Every wait adds to the
// bus's waited time (saturating, never wrapping); only an adapter bus, where a
// real chip is converting meanwhile, also sleeps through it. Simulated and
// scripted buses return at once, so a driver's polling runs at full speed
// against simulated parts.
class BusDelay {
public:
    explicit BusDelay(I2cBus bus) : bus_(std::move(bus)) {}

    // One wait of any length.
    void wait_ns(std::uint64_t ns) const;
    void delay_ns(std::uint32_t ns) const { wait_ns(ns); }
    void delay_us(std::uint32_t us) const { wait_ns(std::uint64_t{us} * 1000); }
    void delay_ms(std::uint32_t ms) const { wait_ns(std::uint64_t{ms} * 1000000); }

private:
    I2cBus bus_;
};

inline BusDelay I2cBus::delay() const { return BusDelay(*this); }

}  // namespace trovik::hal
