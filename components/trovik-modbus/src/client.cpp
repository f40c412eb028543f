#include "trovik/modbus/client.hpp"

#include <algorithm>
#include <array>
#include <chrono>

#include "trovik/core/text.hpp"
#include "trovik/modbus/request.hpp"
#include "trovik/modbus/response.hpp"

namespace trovik::modbus {
namespace {

using Kind = ClientError::Kind;

std::unexpected<ClientError> fail(Kind kind, std::uint8_t unit) { return std::unexpected(ClientError{kind, unit}); }

std::unexpected<ClientError> fail_modbus(Kind kind, std::uint8_t unit, ModbusError e) {
    ClientError err{kind, unit};
    err.modbus = e;
    return std::unexpected(std::move(err));
}

std::unexpected<ClientError> fail_port(std::uint8_t unit, serial::PortError e) {
    ClientError err{Kind::Port, unit};
    err.port = std::move(e);
    return std::unexpected(std::move(err));
}

std::string hex2(std::uint8_t v) { return core::text::hex_prefixed(v, 4); }

// The whole reply frame's length before a byte of it has arrived.
std::size_t expected_length(ReplyShape shape, std::uint16_t quantity) {
    switch (shape) {
        case ReplyShape::Bits: return 5 + (std::size_t{quantity} + 7) / 8;
        case ReplyShape::Words: return 5 + 2 * std::size_t{quantity};
        case ReplyShape::Echo: return 8;
    }
    return 8;
}

constexpr std::size_t kExceptionReplyLen = 5;
// A byte count past this would make a frame longer than 256 bytes.
constexpr std::size_t kMaxByteCount = Adu::kMaxLen - 5;

serial::Duration remaining(serial::Duration total, std::chrono::steady_clock::duration elapsed) {
    const std::uint64_t total_ns = total.saturating_nanos();
    const auto spent = static_cast<std::uint64_t>(
        std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()));
    const std::uint64_t left = total_ns > spent ? total_ns - spent : 0;
    return {left / 1'000'000'000, static_cast<std::uint32_t>(left % 1'000'000'000)};
}

}  // namespace

std::string_view ClientError::kind_name() const noexcept {
    switch (kind) {
        case Kind::Request: return "request";
        case Kind::BroadcastRead: return "broadcast_read";
        case Kind::Port: return "port";
        case Kind::Timeout: return "timeout";
        case Kind::Frame: return "frame";
        case Kind::WrongUnit: return "wrong_unit";
        case Kind::WrongFunction: return "wrong_function";
        case Kind::Mismatch: return "mismatch";
        case Kind::Exception: return "exception";
    }
    return {};
}

std::string ClientError::message() const {
    const std::string u = std::to_string(unit);
    switch (kind) {
        case Kind::Request: return "the request cannot be sent: " + modbus.message();
        case Kind::BroadcastRead: return "a read cannot be broadcast, since no device answers a broadcast";
        case Kind::Port: return "the serial port failed: " + (port ? port->message() : std::string());
        case Kind::Timeout:
            if (received == 0) return "unit " + u + " did not answer within the response timeout";
            return "unit " + u + " sent " + std::to_string(received) + " bytes of a reply and then went quiet";
        case Kind::Frame: return "the reply is not a valid frame: " + modbus.message();
        case Kind::WrongUnit: return "unit " + std::to_string(found) + " answered a request for unit " + u;
        case Kind::WrongFunction:
            return "the reply names function " + hex2(found) + ", not the " + hex2(function) + " asked for";
        case Kind::Mismatch: return "unit " + u + " answered with values the request did not ask for";
        case Kind::Exception:
            return "unit " + u + " refused function " + hex2(function) + " with exception " +
                   hex2(exception_code(exception)) + ", " + std::string(exception_text(exception));
    }
    return {};
}

serial::Duration Client::frame_gap(const serial::Settings& settings) noexcept {
    if (settings.baud > 19200) return {0, 1'750'000};
    const std::uint64_t baud = std::max<std::uint64_t>(settings.baud, 1);
    const std::uint64_t character_ns = (settings.bits_per_character() * 1'000'000'000u + baud - 1) / baud;
    const std::uint64_t gap = (7 * character_ns + 1) / 2;
    return {gap / 1'000'000'000, static_cast<std::uint32_t>(gap % 1'000'000'000)};
}

std::expected<std::optional<Adu>, ClientError> Client::transact(std::uint8_t unit, const Pdu& request, ReplyShape shape,
                                                                std::uint16_t quantity) {
    // Whatever the device would refuse, nothing is sent: the values do not
    // make a request one frame carries.
    const std::expected<Request, Exception> checked = Request::parse(request.as_bytes());
    if (!checked) return fail_modbus(Kind::Request, unit, ModbusError::of(ModbusError::Kind::ValueCount));
    if (unit == 0 && !checked->is_write()) return fail(Kind::BroadcastRead, unit);

    const Adu frame = request.to_adu(unit);
    port_.wait(frame_gap(port_.settings()));
    // Nothing left over from earlier traffic may be taken for this reply.
    if (auto r = port_.discard_input(); !r) return fail_port(unit, std::move(r.error()));
    if (auto r = port_.write(frame.as_bytes()); !r) return fail_port(unit, std::move(r.error()));
    if (unit == 0) {
        port_.wait(turnaround);
        return std::optional<Adu>{};
    }

    const bool real_time = port_.kind() == serial::PortKind::Device;
    const auto start = std::chrono::steady_clock::now();
    std::array<std::uint8_t, Adu::kMaxLen> buffer{};
    std::size_t expected = expected_length(shape, quantity);
    std::size_t received = 0;
    const std::uint8_t asked_fc = request.function_code();
    while (received < expected) {
        const serial::Duration timeout =
            real_time ? remaining(response_timeout, std::chrono::steady_clock::now() - start) : response_timeout;
        const auto n = port_.read(std::span(buffer).subspan(received, expected - received), timeout);
        if (!n) return fail_port(unit, std::move(n.error()));
        if (*n == 0) {
            ClientError err{Kind::Timeout, unit};
            err.received = received;
            return std::unexpected(std::move(err));
        }
        received += *n;
        if (received >= 2 && (buffer[1] & function::kExceptionBit))
            expected = kExceptionReplyLen;
        else if (shape != ReplyShape::Echo && received >= 3)
            expected = 5 + std::min<std::size_t>(buffer[2], kMaxByteCount);
    }

    const std::expected<Adu, ModbusError> reply = Adu::parse(std::span(buffer).first(expected));
    if (!reply) return fail_modbus(Kind::Frame, unit, reply.error());
    if (reply->unit() != unit) {
        ClientError err{Kind::WrongUnit, unit};
        err.found = reply->unit();
        return std::unexpected(std::move(err));
    }
    const std::uint8_t fc = reply->pdu()[0];
    if ((fc & ~function::kExceptionBit) != asked_fc) {
        ClientError err{Kind::WrongFunction, unit, asked_fc};
        err.found = fc;
        return std::unexpected(std::move(err));
    }
    if (fc & function::kExceptionBit) {
        const std::optional<Exception> e = reply->exception();
        if (!e) return fail_modbus(Kind::Frame, unit, ModbusError::of(ModbusError::Kind::MalformedResponse));
        ClientError err{Kind::Exception, unit, asked_fc};
        err.exception = *e;
        return std::unexpected(std::move(err));
    }
    return std::optional<Adu>(*reply);
}

std::expected<std::vector<bool>, ClientError> Client::read_bits(std::uint8_t unit, const Pdu& request,
                                                                std::uint16_t quantity) {
    auto reply = transact(unit, request, ReplyShape::Bits, quantity);
    if (!reply) return std::unexpected(std::move(reply.error()));
    const auto bits = response::coils((*reply)->pdu(), quantity);
    if (!bits) return fail(Kind::Mismatch, unit);
    return bits->to_vector();
}

std::expected<std::vector<std::uint16_t>, ClientError> Client::read_words(std::uint8_t unit, const Pdu& request,
                                                                          std::uint16_t quantity) {
    auto reply = transact(unit, request, ReplyShape::Words, quantity);
    if (!reply) return std::unexpected(std::move(reply.error()));
    const auto words = response::registers((*reply)->pdu());
    if (!words) return fail_modbus(Kind::Frame, unit, words.error());
    if (words->size() != quantity) return fail(Kind::Mismatch, unit);
    return words->to_vector();
}

std::expected<void, ClientError> Client::write(std::uint8_t unit, const Pdu& request) {
    auto reply = transact(unit, request, ReplyShape::Echo, 1);
    if (!reply) return std::unexpected(std::move(reply.error()));
    if (!*reply) return {};  // a broadcast
    // Single writes echo the whole request; multiple writes its first five bytes.
    const auto got = (*reply)->pdu();
    const auto want = request.as_bytes().first(5);
    if (!std::ranges::equal(got, want)) return fail(Kind::Mismatch, unit);
    return {};
}

std::expected<std::vector<bool>, ClientError> Client::read_coils(std::uint8_t unit, std::uint16_t start,
                                                                 std::uint16_t quantity) {
    return read_bits(unit, Pdu::read_coils(start, quantity), quantity);
}
std::expected<std::vector<bool>, ClientError> Client::read_discrete_inputs(std::uint8_t unit, std::uint16_t start,
                                                                           std::uint16_t quantity) {
    return read_bits(unit, Pdu::read_discrete_inputs(start, quantity), quantity);
}
std::expected<std::vector<std::uint16_t>, ClientError> Client::read_holding_registers(std::uint8_t unit,
                                                                                      std::uint16_t start,
                                                                                      std::uint16_t quantity) {
    return read_words(unit, Pdu::read_holding_registers(start, quantity), quantity);
}
std::expected<std::vector<std::uint16_t>, ClientError> Client::read_input_registers(std::uint8_t unit,
                                                                                    std::uint16_t start,
                                                                                    std::uint16_t quantity) {
    return read_words(unit, Pdu::read_input_registers(start, quantity), quantity);
}
std::expected<void, ClientError> Client::write_single_coil(std::uint8_t unit, std::uint16_t address, bool on) {
    return write(unit, Pdu::write_single_coil(address, on));
}
std::expected<void, ClientError> Client::write_single_register(std::uint8_t unit, std::uint16_t address,
                                                               std::uint16_t value) {
    return write(unit, Pdu::write_single_register(address, value));
}
std::expected<void, ClientError> Client::write_multiple_coils(std::uint8_t unit, std::uint16_t start,
                                                              const std::vector<bool>& values) {
    const auto request = Pdu::write_multiple_coils(start, values);
    if (!request) return fail_modbus(Kind::Request, unit, request.error());
    return write(unit, *request);
}
std::expected<void, ClientError> Client::write_multiple_registers(std::uint8_t unit, std::uint16_t start,
                                                                  std::span<const std::uint16_t> values) {
    const auto request = Pdu::write_multiple_registers(start, values);
    if (!request) return fail_modbus(Kind::Request, unit, request.error());
    return write(unit, *request);
}

}  // namespace trovik::modbus
