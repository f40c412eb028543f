#include <doctest/doctest.h>

#include <array>
#include <cstdint>
#include <set>
#include <string>

#include "trovik/radios/sx126x/command.hpp"
#include "trovik/radios/sx126x/config.hpp"
#include "trovik/radios/sx127x/registers.hpp"

using trovik::lora::Decibels;
using trovik::lora::LinkBudget;
using trovik::lora::LinkSettings;

TEST_CASE("sx126x ramp codes: the shortest ramp lasting at least the duration, the longest past the table") {
    struct Case {
        std::uint32_t at_least_us;
        std::uint8_t code;
    };
    const Case cases[] = {{0, 0}, {10, 0}, {11, 1}, {40, 2}, {41, 3}, {800, 5}, {3400, 7}, {4000, 7}, {UINT32_MAX, 7}};
    for (const Case& c : cases) {
        CAPTURE(c.at_least_us);
        CHECK(trovik::radios::sx126x::ramp_code(c.at_least_us) == c.code);
    }
}

TEST_CASE("sx126x LLCC68 limits follow the bandwidth") {
    using namespace trovik::radios::sx126x;
    struct Case {
        std::uint8_t sf;
        std::uint32_t hz;
        bool supported;
    };
    const Case cases[] = {{9, 125000, true},  {10, 125000, false}, {10, 250000, true}, {11, 250000, false},
                          {11, 500000, true}, {12, 500000, false}, {7, 62500, false},  {5, 7813, false}};
    for (const Case& c : cases) {
        CAPTURE(c.sf);
        CAPTURE(c.hz);
        const auto modulation = LoraModulation::from_link(LinkSettings(c.sf, c.hz));
        REQUIRE(modulation);
        CHECK(llcc68_supports(*modulation) == c.supported);
    }
}

TEST_CASE("power under an EIRP ceiling rounds the allowed conducted power down, on both families") {
    struct Case {
        std::int32_t ceiling;  // hundredths of a dBm
        std::int32_t gain;
        std::int32_t loss;
        std::int8_t sx126x_high;
        std::int8_t sx127x_boost;
    };
    const Case cases[] = {
        {1400, 215, 0, 11, 11},     // 11.85 dBm
        {1400, 215, 50, 12, 12},    // 12.35 dBm
        {100, 250, 0, -2, 2},       // -1.5 dBm rounds down to -2
        {INT32_MAX, 0, 0, 22, 20},  // saturates, then clamps
        {INT32_MIN, 0, 0, -9, 2},
    };
    for (const Case& c : cases) {
        CAPTURE(c.ceiling);
        LinkBudget budget;
        budget.transmit_antenna_gain_dbi = Decibels(c.gain);
        budget.transmit_cable_loss_db = Decibels(c.loss);
        namespace a = trovik::radios::sx126x;
        namespace b = trovik::radios::sx127x;
        CHECK(a::TxPower::under_ceiling(a::Amplifier::HighPower, budget, Decibels(c.ceiling)).setting_dbm ==
              c.sx126x_high);
        CHECK(b::TxPower::under_ceiling(b::Output::PaBoost, budget, Decibels(c.ceiling)).output_dbm == c.sx127x_boost);
    }
}

TEST_CASE("sx126x device errors and instantaneous RSSI") {
    using namespace trovik::radios::sx126x;
    const std::array<std::uint8_t, 2> answer{0x01, 0x40};
    CHECK(decode_device_errors(answer) == (ERROR_PA_RAMP | ERROR_PLL_LOCK));
    CHECK(decode_rssi_inst(0) == Decibels(0));
    CHECK(decode_rssi_inst(0xFF) == Decibels(-12750));
}

namespace sx127x = trovik::radios::sx127x;

TEST_CASE("sx127x register map: 45 distinct names, 0x3B once per page, every address within the 7 bits") {
    const auto map = sx127x::named_registers();
    CHECK(map.size() == 45);
    std::set<std::string_view> names;
    int at_3b = 0;
    for (const auto& r : map) {
        names.insert(r.name);
        CHECK(r.address < 0x80);
        if (r.address == 0x3B) ++at_3b;
    }
    CHECK(names.size() == 45);
    CHECK(at_3b == 2);
}

TEST_CASE("sx127x frequency words and back") {
    struct Case {
        std::uint32_t hz;
        std::uint32_t word;
        std::uint32_t back;
    };
    const Case cases[] = {
        {868100000, 0xD90666, 868099976},
        {915000000, 0xE4C000, 915000000},
        {434000000, 0x6C8000, 434000000},
        {1023999969, 0xFFFFFF, 1023999939},
        {1023999970, 0x1000000, 1024000000},
        {UINT32_MAX, 70368744, 4294967285},
        {0, 0, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.hz);
        CHECK(sx127x::unchecked_frequency_word(c.hz) == c.word);
        CHECK(sx127x::frequency_from_word(c.word) == c.back);
        CHECK(sx127x::frequency_word(c.hz).has_value() == (c.word <= 0xFFFFFF));
    }
    // Words past what any 32-bit carrier gives keep the low 32 bits of the hertz.
    CHECK(sx127x::frequency_from_word(UINT32_MAX) == 150994883);
}

TEST_CASE("sx127x operating modes by name and from RegOpMode") {
    CHECK(sx127x::lora_op_mode(sx127x::Mode::Tx) == 0x8B);
    CHECK(sx127x::fsk_op_mode(sx127x::Mode::Tx) == 0x0B);
    CHECK(sx127x::lora_op_mode(sx127x::Mode::Sleep) == 0x88);
    CHECK(sx127x::fsk_op_mode(sx127x::Mode::Sleep) == 0x08);
    CHECK(sx127x::mode_from_op_mode(0x81) == sx127x::Mode::Standby);
    CHECK(sx127x::mode_from_op_mode(0x0D) == sx127x::Mode::RxContinuous);
    for (std::uint8_t bits = 0; bits < 8; ++bits) {
        const auto mode = static_cast<sx127x::Mode>(bits);
        CHECK(sx127x::mode_named(sx127x::name(mode)) == mode);
    }
    CHECK_FALSE(sx127x::mode_named("tx"));
    CHECK_FALSE(sx127x::mode_named(""));
}

TEST_CASE("sx127x modem registers") {
    struct Case {
        LinkSettings link;
        std::uint16_t symbols;
        sx127x::ModemRegisters want;
    };
    LinkSettings sf6(6, 125000);
    sf6.explicit_header = false;
    sf6.crc = false;
    const Case cases[] = {
        {LinkSettings(7, 125000), 0x2FF, {0x72, 0x76, 0x04, 0x03, 0x0A}},
        {LinkSettings(12, 125000), 0, {0x72, 0xC4, 0x0C, 0x03, 0x0A}},
        {LinkSettings(7, 500000).with_coding_rate(8), 0x3FF, {0x98, 0x77, 0x04, 0x03, 0x0A}},
        {sf6, 0x100, {0x73, 0x61, 0x04, 0x05, 0x0C}},
    };
    for (const Case& c : cases) {
        const auto modulation = sx127x::modulation_at(c.link, 868000000);
        REQUIRE(modulation);
        CHECK(sx127x::modem_registers(*modulation, c.symbols) == c.want);
    }
}

TEST_CASE("sx127x modulation refusals come in order: bandwidth, SF, SF6 header, wide bandwidth at a low carrier") {
    using Kind = sx127x::Error::Kind;
    LinkSettings sf6(6, 125000);
    struct Case {
        LinkSettings link;
        std::uint32_t hz;
        Kind kind;
        std::uint32_t value;
    };
    const Case cases[] = {
        {LinkSettings(5, 200000), 868000000, Kind::Bandwidth, 200000},
        {LinkSettings(5, 125000), 868000000, Kind::SpreadingFactor, 5},
        {sf6, 868000000, Kind::Sf6Header, 0},
        {LinkSettings(7, 500000), 169000000, Kind::Bandwidth, 500000},
        {LinkSettings(7, 250000), 175000000, Kind::Bandwidth, 250000},
    };
    for (const Case& c : cases) {
        const auto modulation = sx127x::modulation_at(c.link, c.hz);
        REQUIRE_FALSE(modulation);
        CHECK(modulation.error().kind == c.kind);
        CHECK(modulation.error().value == c.value);
    }
    CHECK(sx127x::modulation_at(LinkSettings(7, 250000), 175000001));
}

TEST_CASE("sx127x current limits") {
    const std::pair<std::uint16_t, std::uint8_t> cases[] = {
        {0, 0x20},   {45, 0x20},  {46, 0x20},  {50, 0x21},  {100, 0x2B},        {120, 0x2F},
        {121, 0x2F}, {140, 0x31}, {240, 0x3B}, {241, 0x3C}, {UINT16_MAX, 0x3C},
    };
    for (const auto& [ma, value] : cases) {
        CAPTURE(ma);
        CHECK(sx127x::ocp_register(ma) == value);
    }
}

TEST_CASE("sx127x amplifier settings") {
    struct Case {
        sx127x::Output output;
        std::int8_t requested;
        sx127x::TxPower want;
    };
    using enum sx127x::Output;
    const Case cases[] = {
        {PaBoost, 20, {0xFF, 0x87, 0x31, 20}},  {PaBoost, 17, {0xFF, 0x84, 0x2B, 17}},
        {PaBoost, 18, {0xFD, 0x87, 0x31, 18}},  {PaBoost, 1, {0xF0, 0x84, 0x2B, 2}},
        {PaBoost, 127, {0xFF, 0x87, 0x31, 20}}, {Rfo, 14, {0x7E, 0x84, 0x2B, 14}},
        {Rfo, 0, {0x04, 0x84, 0x2B, 0}},        {Rfo, -10, {0x00, 0x84, 0x2B, -4}},
        {Rfo, 1, {0x71, 0x84, 0x2B, 1}},        {Rfo, -128, {0x00, 0x84, 0x2B, -4}},
    };
    for (const Case& c : cases) {
        CAPTURE(int{c.requested});
        CHECK(sx127x::TxPower::make(c.output, c.requested) == c.want);
    }
}

TEST_CASE("sx127x IQ, image calibration and IF bits") {
    CHECK(sx127x::invert_iq(false, false) == 0x27);
    CHECK(sx127x::invert_iq(true, false) == 0x67);
    CHECK(sx127x::invert_iq(false, true) == 0x26);
    CHECK(sx127x::invert_iq(true, true) == 0x66);
    CHECK(sx127x::invert_iq_2(true) == 0x19);
    CHECK(sx127x::invert_iq_2(false) == 0x1D);
    CHECK(sx127x::image_cal_start(0x82) == 0x42);
    CHECK(sx127x::image_cal_start(0xFF) == 0x7F);
    CHECK(sx127x::automatic_if(0x03, true) == 0x83);
    CHECK(sx127x::automatic_if(0xC3, false) == 0x43);
}

TEST_CASE("sx127x errata settings") {
    using enum sx127x::LoraBandwidth;
    CHECK(sx127x::high_bw_optimize(Khz500, 868000000) == sx127x::HighBwOptimize{0x02, 0x64});
    CHECK(sx127x::high_bw_optimize(Khz500, 525000001) == sx127x::HighBwOptimize{0x02, 0x64});
    CHECK(sx127x::high_bw_optimize(Khz500, 525000000) == sx127x::HighBwOptimize{0x02, 0x7F});
    CHECK(sx127x::high_bw_optimize(Khz125, 868000000) == sx127x::HighBwOptimize{0x03, std::nullopt});
    CHECK(sx127x::spurious_reception(Khz7_8) == sx127x::SpuriousReception{false, 0x48, 7810});
    CHECK(sx127x::spurious_reception(Khz41_7) == sx127x::SpuriousReception{false, 0x44, 41670});
    CHECK(sx127x::spurious_reception(Khz62_5) == sx127x::SpuriousReception{false, 0x40, 0});
    CHECK(sx127x::spurious_reception(Khz500) == sx127x::SpuriousReception{true, std::nullopt, 0});
}

TEST_CASE("sx127x signal and status registers") {
    const std::array<std::uint8_t, 2> answer{0xF8, 0x4F};
    const auto high = sx127x::decode_packet_status(answer, 868000000);
    CHECK(high.rssi == Decibels(-7800));
    CHECK(high.snr == Decibels(-200));
    CHECK(high.signal_rssi == Decibels(-8000));
    const std::array<std::uint8_t, 2> positive{0x28, 0x4F};
    const auto low = sx127x::decode_packet_status(positive, 433000000);
    CHECK(low.rssi == Decibels(-8500));
    CHECK(low.snr == Decibels(1000));
    CHECK(low.signal_rssi == Decibels(-8500));
    CHECK(sx127x::rssi(0, 525000000) == Decibels(-16400));
    CHECK(sx127x::rssi(0xFF, 525000001) == Decibels(9800));

    struct Case {
        std::uint8_t stat;
        sx127x::ModemStatus want;
    };
    const Case cases[] = {
        {0x24, {5, false, false, true, false, false}},
        {0x00, {std::nullopt, false, false, false, false, false}},
        {0x9F, {8, true, true, true, true, true}},
        {0xA0, {std::nullopt, false, false, false, false, false}},
        {0xFF, {std::nullopt, true, true, true, true, true}},
    };
    for (const Case& c : cases) {
        CAPTURE(int{c.stat});
        CHECK(sx127x::decode_modem_status(c.stat) == c.want);
    }
}
