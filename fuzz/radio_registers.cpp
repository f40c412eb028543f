// Radio register values: the SX127x signal and status decoders on any bytes,
// frequency words there and back, and the SX126x answer decoders. Levels stay
// within what a register byte can carry, a word selects a carrier within half
// a step of the one asked for, and the settings for any link and carrier
// are either refused with a message or fit their registers.
// libFuzzer options: -max_len=64
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "support.hpp"
#include "trovik/radios/sx126x/command.hpp"
#include "trovik/radios/sx126x/config.hpp"
#include "trovik/radios/sx127x/registers.hpp"

using namespace trovik::radios;

namespace {

std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 16) return 0;
    const std::uint32_t hz = u32(data);
    const std::uint32_t other = u32(data + 4);
    const std::array<std::uint8_t, 2> levels{data[8], data[9]};
    const std::array<std::uint8_t, 3> answer{data[8], data[9], data[10]};

    // SX127x packet status: RSSI is a byte less 157 or 164; the packet's own
    // strength is never above it.
    const sx127x::PacketStatus status = sx127x::decode_packet_status(levels, hz);
    FUZZ_CHECK(status.rssi.hundredths() >= -16400 && status.rssi.hundredths() <= 25500 - 15700);
    FUZZ_CHECK(status.snr.hundredths() >= -3200 && status.snr.hundredths() <= 3175);
    FUZZ_CHECK(status.signal_rssi <= status.rssi);
    const sx127x::ModemStatus modem = sx127x::decode_modem_status(data[11]);
    if (modem.coding_rate_denominator)
        FUZZ_CHECK(*modem.coding_rate_denominator >= 5 && *modem.coding_rate_denominator <= 8);
    FUZZ_CHECK(sx127x::lora_op_mode(sx127x::mode_from_op_mode(data[11])) == (data[11] & 0x07 | 0x88));
    FUZZ_CHECK(sx127x::read_address(data[11]) < 0x80 && sx127x::write_address(data[11]) >= 0x80);

    // Frequency words: a word selects its carrier within half a step.
    const std::uint32_t word = sx127x::unchecked_frequency_word(hz);
    const std::uint64_t back = (std::uint64_t{word} * 32000000 + (1u << 18)) >> 19;
    const std::uint64_t distance = back > hz ? back - hz : hz - back;
    FUZZ_CHECK(distance <= 31);
    FUZZ_CHECK(sx127x::frequency_from_word(word) == static_cast<std::uint32_t>(back));
    FUZZ_CHECK(sx127x::frequency_word(hz).has_value() == (word <= 0xFFFFFF));

    // The settings for any link at any carrier.
    trovik::lora::LinkSettings link(data[12], other);
    link.explicit_header = (data[13] & 1) != 0;
    link.crc = (data[13] & 2) != 0;
    const auto modulation = sx127x::modulation_at(link, hz);
    if (!modulation) {
        FUZZ_CHECK(!modulation.error().message().empty());
    } else {
        const std::uint16_t symbols = static_cast<std::uint16_t>(data[14] << 8 | data[15]);
        const sx127x::ModemRegisters registers = sx127x::modem_registers(*modulation, symbols);
        FUZZ_CHECK(registers.modem_config_1 >> 4 <= 9);
        FUZZ_CHECK((registers.modem_config_2 & 0x03) == (symbols >> 8 & 0x03));
        FUZZ_CHECK(registers.modem_config_2 >> 4 == modulation->spreading_factor);
        const auto optimize = sx127x::high_bw_optimize(modulation->bandwidth, hz);
        FUZZ_CHECK(optimize.optimize_2.has_value() == (modulation->bandwidth == sx127x::LoraBandwidth::Khz500));
        const auto setting = sx127x::spurious_reception(modulation->bandwidth);
        FUZZ_CHECK(setting.automatic_if != setting.if_freq_2.has_value());
        FUZZ_CHECK(
            sx126x::llcc68_supports(sx126x::LoraModulation{modulation->spreading_factor, modulation->bandwidth}) ==
            sx126x::llcc68_supports(*sx126x::LoraModulation::from_link(link)));
    }

    // SX126x answers and conversions.
    const sx126x::PacketStatus packet = sx126x::decode_packet_status(answer);
    FUZZ_CHECK(packet.rssi.hundredths() <= 0 && packet.signal_rssi.hundredths() <= 0);
    FUZZ_CHECK(sx126x::decode_device_errors(levels) == sx126x::decode_irq(levels));
    FUZZ_CHECK(sx126x::timeout_steps(std::uint64_t{hz} << 32 | other) <= 0xFFFFFE);
    const std::uint8_t ramp = sx126x::ramp_code(other);
    FUZZ_CHECK(ramp < sx126x::RAMP_TIMES_US.size());
    FUZZ_CHECK(sx126x::RAMP_TIMES_US[ramp] >= other || ramp == sx126x::RAMP_TIMES_US.size() - 1);
    std::int8_t ceiling_db = 0;
    std::memcpy(&ceiling_db, data + 12, 1);
    const auto power = sx126x::TxPower::make(sx126x::Amplifier::HighPower, ceiling_db);
    FUZZ_CHECK(power.setting_dbm >= -9 && power.setting_dbm <= 22);
    FUZZ_CHECK(sx127x::ocp_register(static_cast<std::uint16_t>(other)) >= 0x20);
    return 0;
}
