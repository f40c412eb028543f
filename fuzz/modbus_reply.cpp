// The Modbus client reading whatever a far end answers: byte 0 picks the
// function and the quantity, the rest is the reply. Whatever comes back, a
// read returns exactly the values asked for or one of the client's errors.
// libFuzzer options: -max_len=300
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/modbus/client.hpp"

using namespace trovik::modbus;
using trovik::serial::Peer;
using trovik::serial::SerialPort;
using trovik::serial::Settings;

namespace {

class Canned : public Peer {
public:
    explicit Canned(std::span<const std::uint8_t> reply) : reply_(reply.begin(), reply.end()) {}
    std::vector<std::uint8_t> receive(std::span<const std::uint8_t>) override { return reply_; }

private:
    std::vector<std::uint8_t> reply_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t how = data[0];
    const std::span<const std::uint8_t> reply(data + 1, size - 1);
    SerialPort port = SerialPort::simulated(Settings{}, std::make_unique<Canned>(reply));
    Client client(port);
    const std::uint8_t unit = (how & 0x80) ? 0 : 1;
    const auto quantity = static_cast<std::uint16_t>(1 + (how >> 3 & 0x0F) * 9);
    switch (how & 7) {
        case 0:
            if (auto r = client.read_coils(unit, 0, quantity)) FUZZ_CHECK(r->size() == quantity);
            break;
        case 1:
            if (auto r = client.read_discrete_inputs(unit, 0, quantity)) FUZZ_CHECK(r->size() == quantity);
            break;
        case 2:
            if (auto r = client.read_holding_registers(unit, 0, quantity)) FUZZ_CHECK(r->size() == quantity);
            break;
        case 3:
            if (auto r = client.read_input_registers(unit, 0, quantity)) FUZZ_CHECK(r->size() == quantity);
            break;
        case 4: (void)client.write_single_coil(unit, 1, true); break;
        case 5: (void)client.write_single_register(unit, 1, 7); break;
        case 6: (void)client.write_multiple_coils(unit, 0, std::vector<bool>(quantity, true)); break;
        default: (void)client.write_multiple_registers(unit, 0, std::vector<std::uint16_t>(quantity % 123 + 1)); break;
    }
    // Whatever failed, the message renders.
    if (auto r = client.read_holding_registers(1, 0, 2); !r) FUZZ_CHECK(!r.error().message().empty());
    return 0;
}
