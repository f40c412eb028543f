// The radio front end over a simulated chip, and its error messages.
#include <doctest/doctest.h>

#include <cstdint>
#include <vector>

#include "trovik/radios/radio.hpp"
#include "trovik/radios/sim/chip.hpp"

using namespace trovik::radios;
using trovik::lora::Decibels;
using trovik::lora::LinkSettings;
using Bytes = std::vector<std::uint8_t>;

TEST_CASE("radio errors read as the failure inside them") {
    CHECK(RadioError(sx126x::Error::bandwidth(100000)).message() == "the SX126x has no 100000 Hz LoRa bandwidth");
    CHECK(RadioError(sx126x::Error::spi_failed(hal::SpiErrorKind::ChipSelectFault)).message() ==
          "SPI error: ChipSelectFault");
    CHECK(RadioError(sx126x::Error::buffer_too_small(300)).message() == "300 bytes do not fit the buffer");
    CHECK(RadioError::no_register(0x80).message() == "the SX127x has no register at 0x0080; its map ends at 0x7F");
    CHECK(RadioError::no_register(0xFFFF).message() == "the SX127x has no register at 0xffff; its map ends at 0x7F");
    const char* spi_names[] = {"Overrun", "ModeFault", "FrameFormat", "ChipSelectFault", "Other"};
    for (std::uint8_t k = 0; k < 5; ++k)
        CHECK(hal::name(static_cast<hal::SpiErrorKind>(k)) == spi_names[k]);
}

TEST_CASE("a radio over a simulated chip: start, configure, send, hear, registers; usable after a failure") {
    const sim::Chip chip = sim::Chip::sx126x({});
    Radio radio = chip.radio();
    CHECK(radio.family() == Family::Sx126x);
    CHECK(chip.sent().empty());
    REQUIRE(radio.start().has_value());

    RadioConfig config;
    config.frequency_hz = 868100000;
    config.band_low_hz = config.band_high_hz = config.frequency_hz;
    config.link = LinkSettings(9, 125000);
    config.output_dbm = 10;
    RadioConfig bad = config;
    bad.link = LinkSettings(9, 100000);
    CHECK(radio.configure(bad).error().message() == "the SX126x has no 100000 Hz LoRa bandwidth");
    REQUIRE(radio.configure(config).has_value());
    CHECK(radio.transmit(Bytes{1, 2}) == config.link.airtime_us(2));
    CHECK(chip.sent().back().payload == Bytes{1, 2});

    chip.hear(Bytes{3}, Decibels(-6000), Decibels(1000));
    Bytes buffer(255);
    const auto heard = radio.receive(buffer, 1000000);
    CHECK(heard->kind == RxOutcome::Kind::Frame);
    CHECK(buffer[0] == 3);
    CHECK(radio.detect(1) == false);
    REQUIRE(radio.listen().has_value());
    CHECK(radio.take_frame(buffer)->has_value() == false);

    REQUIRE(radio.write_register(0x06B8, 0x5A).has_value());
    CHECK(radio.read_register(0x06B8) == 0x5A);
    CHECK(radio.random().has_value());
    REQUIRE(radio.sleep().has_value());
    CHECK(radio.transmit(Bytes{1}).error().message() == "the radio has not been configured");
    REQUIRE(radio.standby().has_value());
}
