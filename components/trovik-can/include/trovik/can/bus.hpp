#pragma once
// One node's place on a CAN bus: a kernel interface through SocketCAN on
// Linux, or a bus inside the program that several nodes of one process share.
//
// A node hears every frame the others send and none of its own, and keeps
// only the frames its filters pass. On the simulated bus nothing ever sleeps:
// a receive that finds nothing returns at once and counts its timeout as
// waited time. A `CanBus` is a handle: copies share the node, which leaves the
// bus when the last copy is gone. Any thread may use any node.
#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "trovik/can/filter.hpp"
#include "trovik/can/frame.hpp"

namespace trovik::can {

// Receive timeouts and waited time: unsigned, so that the largest timeout a
// caller can give is counted in full.
using Nanoseconds = std::chrono::duration<std::uint64_t, std::nano>;

// `micros` microseconds, or the largest duration when that does not fit.
constexpr Nanoseconds saturating_micros(std::uint64_t micros) noexcept {
    constexpr std::uint64_t max = UINT64_MAX;
    return Nanoseconds(micros > max / 1000 ? max : micros * 1000);
}

enum class Kind : std::uint8_t { Device, Simulated };
std::string_view kind_name(Kind kind) noexcept;  // "Device", "Simulated"

// A failed device operation, in the operating system's words.
struct BusError {
    std::string text;
    std::string_view message() const noexcept { return text; }
};

// Why an interface could not be opened: SocketCAN is not there on this
// system, or the interface with the operating system's reason.
struct OpenError {
    std::optional<std::string> interface;  // none where SocketCAN is missing
    std::string reason;

    static OpenError unsupported();
    std::string message() const;
};

class CanBus {
public:
    // A new bus inside the program, with this node its first.
    static CanBus simulated();
    // A kernel interface such as "can0", opened and bound through SocketCAN.
    static std::expected<CanBus, OpenError> open(std::string_view interface);
    // A node over a CAN_RAW socket the caller already opened and bound (or a
    // socket that carries the same records); the node owns it from now on.
    static CanBus adopt(int socket, std::string interface);

    // Another node on the same bus, with its own counters and no filters; on
    // a device, another socket on the same interface.
    std::expected<CanBus, OpenError> join() const;

    std::expected<void, BusError> send(const Frame& frame) const;
    // The oldest frame the node kept, or nothing once `timeout` passed.
    std::expected<std::optional<Frame>, BusError> receive(Nanoseconds timeout) const;

    // From now on keeps only the frames that pass at least one filter; an
    // empty list keeps nothing. Frames already waiting stay.
    std::expected<void, BusError> set_filters(std::span<const Filter> filters) const;
    // Keeps every frame again, as a node does when it joins.
    std::expected<void, BusError> clear_filters() const;

    Kind kind() const noexcept;
    // The kernel interface, or nothing on a simulated bus.
    std::optional<std::string> interface() const;
    std::uint64_t sent() const noexcept;
    std::uint64_t received() const noexcept;
    // Receives' waited time without a frame, in whole microseconds.
    std::uint64_t waited_micros() const noexcept;

    struct Node;

private:
    explicit CanBus(std::shared_ptr<Node> node) noexcept : node_(std::move(node)) {}
    std::expected<void, BusError> filter(std::optional<std::span<const Filter>> filters) const;

    std::shared_ptr<Node> node_;
};

}  // namespace trovik::can
