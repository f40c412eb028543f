// Modbus RTU frames from arbitrary bytes: the frame checks, the request
// parser against the builders (a request that parses is rebuilt to the same
// PDU), the reply readers, and a device answering the frame.
// libFuzzer options: -max_len=300
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/modbus/adu.hpp"
#include "trovik/modbus/crc.hpp"
#include "trovik/modbus/pdu.hpp"
#include "trovik/modbus/request.hpp"
#include "trovik/modbus/response.hpp"
#include "trovik/modbus/server.hpp"

using namespace trovik::modbus;

namespace {

bool same(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// The PDU the builders make for a parsed request.
Pdu rebuild(const Request& r) {
    using K = Request::Kind;
    switch (r.kind) {
        case K::ReadCoils: return Pdu::read_coils(r.start, r.count);
        case K::ReadDiscreteInputs: return Pdu::read_discrete_inputs(r.start, r.count);
        case K::ReadHoldingRegisters: return Pdu::read_holding_registers(r.start, r.count);
        case K::ReadInputRegisters: return Pdu::read_input_registers(r.start, r.count);
        case K::WriteSingleCoil: return Pdu::write_single_coil(r.start, r.on);
        case K::WriteSingleRegister: return Pdu::write_single_register(r.start, r.value);
        case K::WriteMultipleCoils: return *Pdu::write_multiple_coils(r.start, r.coils().to_vector());
        case K::WriteMultipleRegisters: return *Pdu::write_multiple_registers(r.start, r.registers().to_vector());
    }
    std::abort();
}

void requests(std::span<const std::uint8_t> pdu) {
    const auto r = Request::parse(pdu);
    if (!r) {
        FUZZ_CHECK(r.error() == Exception::IllegalFunction || r.error() == Exception::IllegalDataValue);
        return;
    }
    const Pdu again = rebuild(*r);
    if (r->kind == Request::Kind::WriteMultipleCoils) {
        // Bits past the count in the last byte are not examined: they are the
        // one thing a rebuild may not repeat.
        FUZZ_CHECK(again.as_bytes().size() == pdu.size());
        FUZZ_CHECK(same(again.as_bytes().first(pdu.size() - 1), pdu.first(pdu.size() - 1)));
    } else {
        FUZZ_CHECK(same(again.as_bytes(), pdu));
    }
}

void replies(std::span<const std::uint8_t> pdu) {
    if (const auto regs = response::registers(pdu)) FUZZ_CHECK(2 * regs->size() + 2 == pdu.size());
    const std::size_t count = pdu.size() < 2 ? 0 : 8 * (pdu.size() - 2);
    if (const auto bits = response::coils(pdu, count)) FUZZ_CHECK(bits->to_vector().size() == count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    requests(input);
    replies(input);

    const auto adu = Adu::parse(input);
    if (!adu) {
        FUZZ_CHECK(size < 4 || size > 256 || adu.error().kind == ModbusError::Kind::CrcMismatch);
        if (size >= 4 && size <= 256) {
            // The same bytes with their own CRC are a frame.
            std::vector<std::uint8_t> fixed(input.begin(), input.end() - 2);
            const std::uint16_t crc = crc16(fixed);
            fixed.push_back(static_cast<std::uint8_t>(crc));
            fixed.push_back(static_cast<std::uint8_t>(crc >> 8));
            FUZZ_CHECK(Adu::parse(fixed));
        }
        return 0;
    }
    FUZZ_CHECK(same(Adu::frame(adu->unit(), adu->pdu()).as_bytes(), input));
    requests(adu->pdu());

    // A device with a few of each table answers with a frame of its own
    // unit, a normal reply or an exception, or stays silent.
    auto device = *Server::make(1);
    device.set_coils(0, std::vector<bool>(40, true));
    device.set_discrete_inputs(65530, std::vector<bool>(6, false));
    const std::vector<std::uint16_t> words(130, 0xA5A5);
    device.set_holding_registers(0, words);
    device.set_input_registers(100, words);
    const auto reply = device.answer(input);
    if (adu->unit() != 1) FUZZ_CHECK(!reply);
    if (reply) {
        const auto back = Adu::parse(reply->as_bytes());
        FUZZ_CHECK(back && back->unit() == 1);
        const std::uint8_t fc = back->pdu()[0];
        FUZZ_CHECK((fc | 0x80) == (adu->pdu()[0] | 0x80));
        FUZZ_CHECK((fc & 0x80) ? back->pdu().size() == 2 : device.served() == 1);
    }
    return 0;
}
