#include <doctest/doctest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "trovik/radios/sx126x/command.hpp"

using namespace trovik::radios::sx126x;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes bytes(const Command& c) { return {c.as_bytes().begin(), c.as_bytes().end()}; }

}  // namespace

TEST_CASE("queries: the NOP sits in every command but GetStatus, and answer lengths follow the datasheet") {
    struct Case {
        Query query;
        Bytes sent;
        std::size_t answer;
    };
    const Case cases[] = {
        {get_status(), {0xC0}, 1},
        {get_rssi_inst(), {0x15, 0x00}, 1},
        {get_irq_status(), {0x12, 0x00}, 2},
        {get_device_errors(), {0x17, 0x00}, 2},
        {get_packet_status(), {0x14, 0x00}, 3},
        {get_rx_buffer_status(), {0x13, 0x00}, 2},
        {read_register(0x0736, 1), {0x1D, 0x07, 0x36, 0x00}, 1},
        {read_register(0x0819, 4), {0x1D, 0x08, 0x19, 0x00}, 4},
        {read_buffer(0x80, 200), {0x1E, 0x80, 0x00}, 200},
    };
    for (const Case& c : cases) {
        CAPTURE(c.sent.front());
        CHECK(bytes(c.query.command) == c.sent);
        CHECK(c.query.answer_len == c.answer);
    }
}

TEST_CASE("commands encode their fields most significant byte first") {
    LoraModulation sf12{12, LoraBandwidth::Khz125, CodingRate::Cr4_8, true};
    LoraModulation sf7_500{7, LoraBandwidth::Khz500, CodingRate::Cr4_5, false};
    LoraPacketParams explicit_packet{8, 51, true, true, false};
    LoraPacketParams implicit_packet{0x0123, 0, false, false, true};
    struct Case {
        Command command;
        Bytes sent;
    };
    const Case cases[] = {
        {write_register(0x0740), {0x0D, 0x07, 0x40}},
        {write_buffer(0), {0x0E, 0x00}},
        {set_standby(STDBY_RC), {0x80, 0x00}},
        {set_standby(STDBY_XOSC), {0x80, 0x01}},
        {set_sleep(true, false), {0x84, 0x04}},
        {set_sleep(false, true), {0x84, 0x01}},
        {set_sleep(true, true), {0x84, 0x05}},
        {set_packet_type(PacketType::Lora), {0x8A, 0x01}},
        {set_packet_type(PacketType::Gfsk), {0x8A, 0x00}},
        {set_packet_type(PacketType::LrFhss), {0x8A, 0x03}},
        {set_rf_frequency(0x3641999A), {0x86, 0x36, 0x41, 0x99, 0x9A}},
        {calibrate_image(0xD7, 0xDA), {0x98, 0xD7, 0xDA}},
        {calibrate(0x7F), {0x89, 0x7F}},
        {set_pa_config({0x04, 0x07, 0x00, 0x01}), {0x95, 0x04, 0x07, 0x00, 0x01}},
        {set_tx_params(-9, 0x02), {0x8E, 0xF7, 0x02}},
        {set_tx_params(22, 0x04), {0x8E, 0x16, 0x04}},
        {set_lora_modulation_params(sf12), {0x8B, 12, 0x04, 0x04, 0x01}},
        {set_lora_modulation_params(sf7_500), {0x8B, 7, 0x06, 0x01, 0x00}},
        {set_lora_packet_params(explicit_packet), {0x8C, 0x00, 0x08, 0x00, 51, 0x01, 0x00}},
        {set_lora_packet_params(implicit_packet), {0x8C, 0x01, 0x23, 0x01, 0, 0x00, 0x01}},
        {set_buffer_base_address(0x00, 0x80), {0x8F, 0x00, 0x80}},
        {set_dio_irq_params(0x0201, 0x0201, 0, 0), {0x08, 0x02, 0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00}},
        {set_dio_irq_params(IRQ_ALL, 0x0102, 0x0304, 0x0506), {0x08, 0x43, 0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}},
        {clear_irq_status(IRQ_ALL), {0x02, 0x43, 0xFF}},
        {clear_device_errors(), {0x07, 0x00, 0x00}},
        {set_dio3_as_tcxo(2, 320), {0x97, 0x02, 0x00, 0x01, 0x40}},
        {set_dio2_as_rf_switch(true), {0x9D, 0x01}},
        {set_dio2_as_rf_switch(false), {0x9D, 0x00}},
        {set_regulator_mode(1), {0x96, 0x01}},
        {set_rx(RX_CONTINUOUS), {0x82, 0xFF, 0xFF, 0xFF}},
        {set_rx(0x01234567), {0x82, 0x23, 0x45, 0x67}},  // the top byte is dropped
        {set_rx(1), {0x82, 0x00, 0x00, 0x01}},
        {set_tx(0x00FA00), {0x83, 0x00, 0xFA, 0x00}},
        {set_cad_params(4, 22, 10, 0, 0), {0x88, 0x04, 22, 10, 0x00, 0x00, 0x00, 0x00}},
        {set_cad_params(1, 20, 10, 1, 0xABCDEF12), {0x88, 0x01, 20, 10, 0x01, 0xCD, 0xEF, 0x12}},
        {set_cad(), {0xC5}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.sent.front());
        CHECK(bytes(c.command) == c.sent);
    }
}

TEST_CASE("bandwidths: nominal values, code bytes and the 1 % tolerance") {
    struct Case {
        std::uint32_t hz;
        std::optional<LoraBandwidth> found;
    };
    const Case cases[] = {
        {7813, LoraBandwidth::Khz7_8},   {7813 + 78, LoraBandwidth::Khz7_8},
        {7813 + 79, std::nullopt},       {10417 - 104, LoraBandwidth::Khz10_4},
        {41667, LoraBandwidth::Khz41_7}, {62500, LoraBandwidth::Khz62_5},
        {125000, LoraBandwidth::Khz125}, {124000, LoraBandwidth::Khz125},
        {126250, LoraBandwidth::Khz125}, {123000, std::nullopt},
        {250000, LoraBandwidth::Khz250}, {500000, LoraBandwidth::Khz500},
        {505000, LoraBandwidth::Khz500}, {505001, std::nullopt},
        {100000, std::nullopt},          {0, std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.hz);
        CHECK(bandwidth_from_hz(c.hz) == c.found);
    }
    const std::uint8_t codes[] = {0x00, 0x08, 0x01, 0x09, 0x02, 0x0A, 0x03, 0x04, 0x05, 0x06};
    const std::uint32_t nominal[] = {7813, 10417, 15625, 20833, 31250, 41667, 62500, 125000, 250000, 500000};
    for (std::uint8_t i = 0; i < 10; ++i) {
        CHECK(code_byte(static_cast<LoraBandwidth>(i)) == codes[i]);
        CHECK(nominal_hz(static_cast<LoraBandwidth>(i)) == nominal[i]);
        CHECK(bandwidth_from_hz(nominal[i]) == static_cast<LoraBandwidth>(i));
    }
}

TEST_CASE("modulation from a link: coding rate, and low-data-rate optimisation past 16 ms symbols") {
    using trovik::lora::LinkSettings;
    const auto at = [](std::uint8_t sf, std::uint32_t bw, std::uint8_t cr) {
        return LoraModulation::from_link(LinkSettings(sf, bw).with_coding_rate(cr));
    };
    CHECK(at(7, 125000, 5) == LoraModulation{7, LoraBandwidth::Khz125, CodingRate::Cr4_5, false});
    CHECK(at(9, 250000, 6)->coding_rate == CodingRate::Cr4_6);
    CHECK(at(9, 250000, 7)->coding_rate == CodingRate::Cr4_7);
    CHECK(at(9, 250000, 8)->coding_rate == CodingRate::Cr4_8);
    CHECK_FALSE(at(7, 100000, 5).has_value());
    // The chip follows the link's own rule at every bandwidth it has, including
    // the edges of each 1 % tolerance, so the time on air holds for it.
    for (std::uint32_t nominal : {7813u, 10417u, 15625u, 20833u, 31250u, 41667u, 62500u, 125000u, 250000u, 500000u})
        for (std::uint32_t hz : {nominal - nominal / 100, nominal, nominal + nominal / 100})
            for (std::uint8_t sf = 5; sf <= 12; ++sf) {
                const LinkSettings link(sf, hz);
                CAPTURE(hz);
                CAPTURE(int(sf));
                CHECK(LoraModulation::from_link(link)->low_data_rate_optimization == link.low_data_rate_optimization());
            }
    CHECK(at(11, 125000, 5)->low_data_rate_optimization);
    CHECK(at(12, 250000, 5)->low_data_rate_optimization);
    CHECK_FALSE(at(12, 500000, 5)->low_data_rate_optimization);
}

TEST_CASE("frequency words round to the nearest synthesizer step") {
    CHECK(frequency_word(868100000) == 0x3641999A);
    CHECK(frequency_word(915000000) == 0x39300000);
    CHECK(frequency_word(433175000) == 0x1B12CCCD);
    CHECK(frequency_word(0) == 0);
}

TEST_CASE("timeout steps of 15.625 us never reach the continuous value") {
    struct Case {
        std::uint64_t us;
        std::uint32_t steps;
    };
    const Case cases[] = {
        {0, 0},
        {1, 1},
        {10, 1},
        {15, 1},
        {16, 1},
        {1000, 64},
        {5000, 320},
        {1000000, 64000},
        {262143968, 0xFFFFFD},
        {262143984, 0xFFFFFE},
        {300000000, 0xFFFFFE},
        {~std::uint64_t{0}, 0xFFFFFE},
    };
    for (const Case& c : cases) {
        CAPTURE(c.us);
        CHECK(timeout_steps(c.us) == c.steps);
    }
}

TEST_CASE("image calibration codes in 4 MHz units") {
    struct Case {
        std::uint32_t low, high;
        ImageCalibration codes;
    };
    const Case cases[] = {
        {863000000, 870000000, {0xD7, 0xDA}},
        {868100000, 868100000, {0xD9, 0xDA}},
        {902000000, 928000000, {0xE1, 0xE8}},
        {433050000, 434790000, {0x6C, 0x6D}},
        {1023999999, 1016000000, {0xFF, 0xFE}},
        {1024000000, 1016000001, {0xFF, 0xFF}},
        {0, 4000000, {0x00, 0x01}},
        {4294967295u, 4294967295u, {0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.low);
        CHECK(image_calibration(c.low, c.high) == c.codes);
    }
    // 1023999999 Hz is below the limit: its code is 255 all the same.
    CHECK(image_calibration(1020000000, 0).low == 0xFF);
    CHECK(image_calibration(1019999999, 0).low == 0xFE);
}

TEST_CASE("answers decode into hundredths of a decibel, lengths and IRQ words") {
    const std::array<std::uint8_t, 3> levels{0xC8, 0xEC, 0xD0};
    CHECK(decode_packet_status(levels) ==
          PacketStatus{trovik::lora::Decibels(-10000), trovik::lora::Decibels(-500), trovik::lora::Decibels(-10400)});
    const std::array<std::uint8_t, 3> extremes{0xFF, 0x7F, 0x00};
    CHECK(decode_packet_status(extremes) ==
          PacketStatus{trovik::lora::Decibels(-12750), trovik::lora::Decibels(3175), trovik::lora::Decibels(0)});
    const std::array<std::uint8_t, 3> lowest_snr{0, 0x80, 0};
    CHECK(decode_packet_status(lowest_snr).snr == trovik::lora::Decibels(-3200));
    const std::array<std::uint8_t, 2> buffer{17, 0x80};
    CHECK(decode_rx_buffer_status(buffer) == RxBufferStatus{17, 0x80});
    const std::array<std::uint8_t, 2> irq{0x02, 0x01};
    CHECK(decode_irq(irq) == 0x0201);
}
