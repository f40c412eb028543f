#pragma once
// A Modbus RTU client, the master of a serial line: one request at a time,
// each held to the serial-line timing (3.5 characters of silence before every
// frame, a response timeout for the whole reply, a turnaround after a
// broadcast), and every reply checked. There is no retry: every transaction
// is one attempt.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/modbus/adu.hpp"
#include "trovik/modbus/error.hpp"
#include "trovik/modbus/function.hpp"
#include "trovik/modbus/pdu.hpp"
#include "trovik/serial/duration.hpp"
#include "trovik/serial/port.hpp"

namespace trovik::modbus {

struct ClientError {
    enum class Kind : std::uint8_t {
        Request,        // `modbus`: the request cannot be sent
        BroadcastRead,  // a read to unit 0
        Port,           // `port`: the serial port failed
        Timeout,        // `received` bytes came, then nothing
        Frame,          // `modbus`: the reply is not a valid frame
        WrongUnit,      // `found` answered
        WrongFunction,  // `found`: the whole function byte of the reply
        Mismatch,       // the reply's values are not those asked for
        Exception,      // the device refused with `exception`
    };
    explicit ClientError(Kind kind, std::uint8_t unit = 0, std::uint8_t function = 0) noexcept
        : kind(kind), unit(unit), function(function) {}

    Kind kind;
    std::uint8_t unit = 0;      // the unit asked
    std::uint8_t function = 0;  // WrongFunction, Exception: the function code asked
    std::uint8_t found = 0;
    std::size_t received = 0;
    modbus::Exception exception = modbus::Exception::IllegalFunction;
    ModbusError modbus{ModbusError::Kind::ValueCount};
    std::optional<serial::PortError> port;

    // "request", "broadcast_read", ... "exception".
    std::string_view kind_name() const noexcept;
    std::string message() const;
};

// What a transaction expects back.
enum class ReplyShape : std::uint8_t {
    Bits,   // functions 1 and 2: a byte count and packed bits
    Words,  // functions 3 and 4: a byte count and registers
    Echo,   // the writes: five PDU bytes
};

class Client {
public:
    explicit Client(serial::SerialPort port) : port_(std::move(port)) {}

    serial::Duration response_timeout{1, 0};
    serial::Duration turnaround{0, 100'000'000};

    // The silence before every frame: 3.5 characters, and a fixed 1.75 ms
    // above 19200 baud.
    static serial::Duration frame_gap(const serial::Settings& settings) noexcept;

    std::expected<std::vector<bool>, ClientError> read_coils(std::uint8_t unit, std::uint16_t start,
                                                             std::uint16_t quantity);
    std::expected<std::vector<bool>, ClientError> read_discrete_inputs(std::uint8_t unit, std::uint16_t start,
                                                                       std::uint16_t quantity);
    std::expected<std::vector<std::uint16_t>, ClientError> read_holding_registers(std::uint8_t unit,
                                                                                  std::uint16_t start,
                                                                                  std::uint16_t quantity);
    std::expected<std::vector<std::uint16_t>, ClientError> read_input_registers(std::uint8_t unit, std::uint16_t start,
                                                                                std::uint16_t quantity);
    // Unit 0 broadcasts a write: nothing is read back.
    std::expected<void, ClientError> write_single_coil(std::uint8_t unit, std::uint16_t address, bool on);
    std::expected<void, ClientError> write_single_register(std::uint8_t unit, std::uint16_t address,
                                                           std::uint16_t value);
    std::expected<void, ClientError> write_multiple_coils(std::uint8_t unit, std::uint16_t start,
                                                          const std::vector<bool>& values);
    std::expected<void, ClientError> write_multiple_registers(std::uint8_t unit, std::uint16_t start,
                                                              std::span<const std::uint16_t> values);

    // One whole transaction: the checked reply, or nothing for a broadcast.
    std::expected<std::optional<Adu>, ClientError> transact(std::uint8_t unit, const Pdu& request, ReplyShape shape,
                                                            std::uint16_t quantity);

private:
    std::expected<std::vector<bool>, ClientError> read_bits(std::uint8_t unit, const Pdu& request,
                                                            std::uint16_t quantity);
    std::expected<std::vector<std::uint16_t>, ClientError> read_words(std::uint8_t unit, const Pdu& request,
                                                                      std::uint16_t quantity);
    std::expected<void, ClientError> write(std::uint8_t unit, const Pdu& request);

    serial::SerialPort port_;
};

}  // namespace trovik::modbus
