#pragma once
// A simulated Modbus device, its four tables, and the RS-485 line that
// carries every frame to every device on it. Nothing here is timed: a device
// answers within the call that delivers the frame.
#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "trovik/modbus/adu.hpp"
#include "trovik/modbus/error.hpp"
#include "trovik/modbus/locked.hpp"
#include "trovik/modbus/pdu.hpp"
#include "trovik/serial/peer.hpp"
#include "trovik/serial/port.hpp"

namespace trovik::modbus {

// A table holds only the addresses it was given: an address never set is
// absent, not zero, and a request that touches it is refused.
class Server {
public:
    // Units 1 to 247; 0 is broadcast and 248 to 255 are reserved.
    static std::expected<Server, ModbusError> make(std::uint8_t unit);

    std::uint8_t unit() const noexcept { return unit_; }
    // Requests carried out, broadcasts included and refusals not.
    std::uint64_t served() const noexcept { return served_; }

    std::optional<bool> coil(std::uint16_t address) const;
    std::optional<bool> discrete_input(std::uint16_t address) const;
    std::optional<std::uint16_t> holding_register(std::uint16_t address) const;
    std::optional<std::uint16_t> input_register(std::uint16_t address) const;

    // Value i goes to start + i, adding the address when it is new; values
    // that would fall past 65535 are dropped.
    void set_coils(std::uint16_t start, const std::vector<bool>& values);
    void set_discrete_inputs(std::uint16_t start, const std::vector<bool>& values);
    void set_holding_registers(std::uint16_t start, std::span<const std::uint16_t> values);
    void set_input_registers(std::uint16_t start, std::span<const std::uint16_t> values);

    // Answers one request PDU with the normal reply or an exception reply.
    Pdu serve(std::span<const std::uint8_t> pdu);
    // Answers one RTU frame, or nothing when the device stays silent: a bad
    // length or CRC, another unit, or a broadcast (whose write it carries out).
    std::optional<Adu> answer(std::span<const std::uint8_t> frame);

private:
    explicit Server(std::uint8_t unit) : unit_(unit) {}

    std::map<std::uint16_t, bool> coils_;
    std::map<std::uint16_t, bool> discrete_inputs_;
    std::map<std::uint16_t, std::uint16_t> holding_registers_;
    std::map<std::uint16_t, std::uint16_t> input_registers_;
    std::uint64_t served_ = 0;
    std::uint8_t unit_;
};

using SharedServer = std::shared_ptr<Locked<Server>>;

// Several devices sharing one pair: every frame reaches each of them in
// attach order, and their replies come back one after another.
class Line {
public:
    // No check for a unit already on the line or a device attached twice.
    void attach_shared(SharedServer device) { devices_.push_back(std::move(device)); }
    std::size_t size() const noexcept { return devices_.size(); }
    // Takes each device's lock in turn.
    std::vector<std::uint8_t> units() const;
    // The replies of the devices that answer, back to back; empty when all
    // stay silent.
    std::vector<std::uint8_t> receive(std::span<const std::uint8_t> frame) const;

private:
    std::vector<SharedServer> devices_;
};

using SharedLine = std::shared_ptr<Locked<Line>>;

// A simulated port with `line` on its far end; the port keeps the line
// itself, so devices attached later answer on it too.
serial::SerialPort simulated_port(serial::Settings settings, SharedLine line);

}  // namespace trovik::modbus
