// The SX127x driver and the simulated SX127x, checked by what the driver
// clocks out and by what the two make of each other.
#include <doctest/doctest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "recorder.hpp"
#include "trovik/radios/radio.hpp"
#include "trovik/radios/sim/chip.hpp"
#include "trovik/radios/sx127x/config.hpp"
#include "trovik/radios/sx127x/driver.hpp"

using namespace trovik::radios;
using namespace trovik::radios::testing;
using trovik::lora::Decibels;
using trovik::lora::LinkSettings;

namespace {

// A driver over a simulated SX127x, with its SPI traffic written down.
struct Bench {
    explicit Bench(sx127x::Board board = {})
        : chip(sim::Chip::sx127x(board.output == sx127x::Output::PaBoost, board.tcxo)), log(std::make_shared<Log>()) {
        auto rec = std::make_unique<Recorder>(chip.spi(), log);
        recorder = rec.get();
        driver.emplace(std::move(rec), chip.output_line(), std::make_unique<CountingDelay>(waited_ns), board);
    }
    Log take() { return std::exchange(*log, {}); }
    std::size_t count(const std::string& line) const {
        return static_cast<std::size_t>(std::ranges::count(*log, line));
    }
    std::uint8_t peek(std::uint8_t address) {
        std::uint8_t value[1] = {};
        REQUIRE(driver->read_registers(address, value));
        log->pop_back();
        return value[0];
    }

    sim::Chip chip;
    std::shared_ptr<Log> log;
    std::shared_ptr<std::uint64_t> waited_ns = std::make_shared<std::uint64_t>(0);
    Recorder* recorder = nullptr;
    std::optional<sx127x::Driver> driver;
};

sx127x::Config config_at(std::uint32_t frequency_hz, LinkSettings link = LinkSettings(7, 125000), std::int8_t dbm = 14,
                         sx127x::Output output = sx127x::Output::PaBoost) {
    sx127x::Config c;
    c.frequency_hz = frequency_hz;
    c.power = sx127x::TxPower::make(output, dbm);
    c.link = link;
    return c;
}

RadioConfig radio_config(std::uint32_t frequency_hz, LinkSettings link = LinkSettings(7, 125000)) {
    RadioConfig c;
    c.frequency_hz = frequency_hz;
    c.link = link;
    c.output_dbm = 14;
    return c;
}

// A radio over a fresh simulated chip, started.
Radio started_radio(const sim::Chip& chip) {
    Radio radio = chip.radio();
    REQUIRE(radio.start());
    return radio;
}

}  // namespace

TEST_CASE("amplifier settings by output and requested power") {
    struct Case {
        sx127x::Output output;
        std::int8_t asked;
        sx127x::TxPower power;
    };
    using enum sx127x::Output;
    const Case cases[] = {
        {PaBoost, 20, {0xFF, 0x87, 0x31, 20}}, {PaBoost, 18, {0xFD, 0x87, 0x31, 18}},
        {PaBoost, 17, {0xFF, 0x84, 0x2B, 17}}, {PaBoost, 2, {0xF0, 0x84, 0x2B, 2}},
        {PaBoost, 0, {0xF0, 0x84, 0x2B, 2}},   {PaBoost, 127, {0xFF, 0x87, 0x31, 20}},
        {Rfo, -10, {0x00, 0x84, 0x2B, -4}},    {Rfo, 0, {0x04, 0x84, 0x2B, 0}},
        {Rfo, 1, {0x71, 0x84, 0x2B, 1}},       {Rfo, 14, {0x7E, 0x84, 0x2B, 14}},
        {Rfo, 20, {0x7F, 0x84, 0x2B, 15}},
    };
    for (const Case& c : cases) {
        CAPTURE(static_cast<int>(c.asked));
        CHECK(sx127x::TxPower::make(c.output, c.asked) == c.power);
    }
}

TEST_CASE("frequency words, symbol timeouts and the links the chip refuses") {
    CHECK(sx127x::frequency_word(868100000) == 0xD90666u);
    CHECK(sx127x::frequency_word(915000000) == 0xE4C000u);
    CHECK(sx127x::frequency_word(433175000) == 0x6C4B33u);
    CHECK(sx127x::frequency_word(1023999969) == 0xFFFFFFu);
    CHECK(sx127x::frequency_word(1023999970) == std::nullopt);  // would wrap round to 0
    CHECK(sx127x::frequency_word(4294967295u) == std::nullopt);

    CHECK(sx127x::symbol_timeout(LinkSettings(7, 125000), 1000000) == 977);
    CHECK(sx127x::symbol_timeout(LinkSettings(7, 125000), 0) == 4);
    CHECK(sx127x::symbol_timeout(LinkSettings(7, 125000), 1024) == 4);
    CHECK(sx127x::symbol_timeout(LinkSettings(7, 125000), 5121) == 6);
    CHECK(sx127x::symbol_timeout(LinkSettings(12, 7813), 100000000000ull) == 1023);

    LinkSettings sf6(6, 125000);
    CHECK(sx127x::LoraModulation::from_link(sf6).error().message() == "SF6 needs an implicit header");
    sf6.explicit_header = false;
    CHECK(sx127x::LoraModulation::from_link(sf6)->spreading_factor == 6);
    CHECK(sx127x::LoraModulation::from_link(LinkSettings(5, 125000)).error().message() == "the SX127x has no SF5");
    CHECK(sx127x::LoraModulation::from_link(LinkSettings(7, 100000)).error().message() ==
          "the SX127x has no 100000 Hz LoRa bandwidth at this carrier");
    CHECK(sx127x::LoraModulation::from_link(LinkSettings(12, 125000))->low_data_rate_optimization);
    CHECK(!sx127x::LoraModulation::from_link(LinkSettings(11, 250000))->low_data_rate_optimization);
}

TEST_CASE("start-up: reset, version check, LoRa standby, boosted LNA") {
    SUBCASE("crystal") {
        Bench bench;
        REQUIRE(bench.driver->start());
        CHECK(bench.take() == Log{"W:42 R:1", "W:81 W:08", "W:81 W:88", "W:81 W:89", "W:8C W:23"});
        CHECK(*bench.waited_ns >= 1000000);
    }
    SUBCASE("TCXO") {
        Bench bench({sx127x::Output::Rfo, true});
        REQUIRE(bench.driver->start());
        CHECK(bench.take() == Log{"W:42 R:1", "W:81 W:08", "W:CB W:19", "W:81 W:88", "W:81 W:89", "W:8C W:23"});
    }
    SUBCASE("no chip") {
        Bench bench;
        bench.recorder->answer_hook = [](const Bytes&, std::span<std::uint8_t> in) { std::ranges::fill(in, 0); };
        CHECK(bench.driver->start().error().message() == "no SX127x answered: RegVersion read 0x00");
    }
    SUBCASE("failures of the bus and the line") {
        Bench bench;
        bench.recorder->fail_at = 1;
        bench.recorder->fail_kind = hal::SpiErrorKind::ModeFault;
        CHECK(bench.driver->start().error().message() == "SPI error: ModeFault");
        const sim::Chip chip = sim::Chip::sx127x(true, false);
        sx127x::Driver broken(chip.spi(), std::make_unique<BrokenLine>(), chip.delay(), {});
        CHECK(broken.start().error().message() == "NRESET line error: Other");
    }
}

TEST_CASE("configure: the register sequence, and image calibration once per band") {
    Bench bench;
    REQUIRE(bench.driver->start());
    bench.take();
    sx127x::Config c = config_at(868100000, LinkSettings(7, 500000), 20);
    c.sync_word = SyncWord::public_network();
    REQUIRE(bench.driver->configure(c));
    CHECK(bench.take() == Log{
                              "W:81 W:88",
                              "W:81 W:08",
                              "W:81 W:09",        // to FSK standby
                              "W:89 W:00",        // amplifier off
                              "W:86 W:D9 06 66",  // the carrier
                              "W:3B R:1",
                              "W:BB W:42",  // start, automatic calibration off
                              "W:3B R:1",   // done at once on the model
                              "W:81 W:08",
                              "W:81 W:88",
                              "W:81 W:89",  // back to LoRa standby
                              // the frequency is not written again
                              "W:89 W:FF",
                              "W:CD W:87",
                              "W:8B W:31",     // 20 dBm on PA_BOOST
                              "W:9D W:92",     // 500 kHz, 4/5, explicit
                              "W:9E W:74",     // SF7, CRC on
                              "W:A6 W:04",     // AGC on
                              "W:A0 W:00 08",  // preamble
                              "W:31 R:1",
                              "W:B1 W:C3",
                              "W:B7 W:0A",  // detection
                              "W:B6 W:02",
                              "W:BA W:64",  // 500 kHz erratum, high band
                              "W:A3 W:FF",
                              "W:B9 W:34",
                          });
    CHECK(bench.driver->config() == c);

    // The same band again: standby, no calibration, no frequency write.
    REQUIRE(bench.driver->configure(config_at(868100000)));
    CHECK(bench.count("W:BB W:42") == 0);
    CHECK(bench.take().front() == "W:81 W:89");
    // The low band calibrates once; going back to either band does not again.
    REQUIRE(bench.driver->configure(config_at(433175000)));
    REQUIRE(bench.driver->configure(config_at(915000000)));
    REQUIRE(bench.driver->configure(config_at(433175000)));
    CHECK(bench.count("W:BB W:42") == 1);
    CHECK(bench.count("W:86 W:6C 4B 33") == 2);
    // A reset chip has lost its calibrations.
    REQUIRE(bench.driver->start());
    REQUIRE(bench.driver->configure(config_at(433175000)));
    CHECK(bench.count("W:BB W:42") == 2);
}

TEST_CASE("configure refuses what the chip cannot do, keeping the configuration it has") {
    Bench bench;
    REQUIRE(bench.driver->start());
    const sx127x::Config kept = config_at(868100000);
    REQUIRE(bench.driver->configure(kept));
    bench.take();
    struct Case {
        sx127x::Config config;
        std::string message;
    };
    LinkSettings sf6_implicit(6, 125000);
    sf6_implicit.explicit_header = false;
    const Case cases[] = {
        {config_at(169400000, LinkSettings(7, 500000)), "the SX127x has no 500000 Hz LoRa bandwidth at this carrier"},
        {config_at(175000000, LinkSettings(7, 250000)), "the SX127x has no 250000 Hz LoRa bandwidth at this carrier"},
        {config_at(868100000, LinkSettings(5, 125000)), "the SX127x has no SF5"},
        {config_at(868100000, LinkSettings(6, 125000)), "SF6 needs an implicit header"},
        {config_at(868100000, LinkSettings(7, 125000), 14, sx127x::Output::Rfo),
         "the power settings are for the other amplifier output"},
        {config_at(1024000000), "the SX127x cannot tune to 1024000000 Hz: its frequency word ends at 1023999969 Hz"},
        {config_at(4000000000u), "the SX127x cannot tune to 4000000000 Hz: its frequency word ends at 1023999969 Hz"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.message);
        const auto done = bench.driver->configure(c.config);
        REQUIRE(!done);
        CHECK(done.error().message() == c.message);
        CHECK(bench.take().empty());  // nothing reached the chip
        CHECK(bench.driver->config() == kept);
    }
    CHECK(bench.driver->configure(config_at(169400000, LinkSettings(7, 125000))));
    CHECK(bench.driver->configure(config_at(1023999969)));
    CHECK(bench.chip.tuning().frequency_hz == 1023999939);
    sf6_implicit.crc = false;
    REQUIRE(bench.driver->configure(config_at(868100000, sf6_implicit)));
    CHECK((bench.peek(0x31) & 0x07) == 0x05);
    CHECK(bench.peek(0x37) == 0x0C);
}

TEST_CASE("an image calibration that never ends fails after 100 ms of polling") {
    Bench bench;
    REQUIRE(bench.driver->start());
    bench.take();
    bench.recorder->answer_hook = [](const Bytes& written, std::span<std::uint8_t> in) {
        if (written == Bytes{0x3B}) in[0] |= 0x20;
    };
    CHECK(bench.driver->configure(config_at(868100000)).error().message() == "the image calibration did not finish");
    CHECK(bench.count("W:3B R:1") == 102);  // the read to start it, then 101
    CHECK(!bench.driver->config());
}

TEST_CASE("operations that need a configuration refuse without one") {
    Bench bench;
    REQUIRE(bench.driver->start());
    std::array<std::uint8_t, 255> buffer{};
    const std::uint8_t payload[] = {1};
    const std::string message = "the radio has not been configured";
    CHECK(bench.driver->transmit(payload).error().message() == message);
    CHECK(bench.driver->receive(buffer, 1000).error().message() == message);
    CHECK(bench.driver->listen().error().message() == message);
    CHECK(bench.driver->take_frame(buffer).error().message() == message);
    CHECK(bench.driver->detect().error().message() == message);
    CHECK(bench.driver->standby());
    CHECK(bench.driver->sleep());
}

TEST_CASE("transmit: the register sequence, the frame on the air and the payload limits") {
    Bench bench;
    REQUIRE(bench.driver->start());
    sx127x::Config c = config_at(868100000);
    c.invert_iq_transmit = true;
    REQUIRE(bench.driver->configure(c));
    bench.take();
    const std::uint8_t payload[] = {0xDE, 0xAD, 0xBE, 0xEF};
    const auto airtime = bench.driver->transmit(payload);
    REQUIRE(airtime);
    CHECK(*airtime == c.link.airtime_us(4));
    CHECK(bench.take() == Log{"W:81 W:89", "W:B3 W:26", "W:BB W:19", "W:A2 W:04", "W:8E W:00", "W:8D W:00",
                              "W:80 W:DE AD BE EF", "W:C0 W:40", "W:92 W:FF", "W:81 W:8B", "W:12 R:1", "W:92 W:08"});
    const auto sent = bench.chip.sent();
    REQUIRE(sent.size() == 1);
    CHECK(sent[0].payload == Bytes{0xDE, 0xAD, 0xBE, 0xEF});
    CHECK(sent[0].tuning.frequency_hz == 868099976);  // the nearest synthesizer step
    CHECK(sent[0].tuning.output_dbm == 14);

    std::vector<std::uint8_t> big(256, 1);
    CHECK(bench.driver->transmit({}).error().message() == "a LoRa frame carries 1 to 255 bytes, not 0");
    CHECK(bench.driver->transmit(big).error().message() == "a LoRa frame carries 1 to 255 bytes, not 256");
    CHECK(bench.driver->transmit(std::span(big).first(255)));
    CHECK(bench.chip.sent().back().payload.size() == 255);

    // A chip that never raises TxDone: polls every millisecond until two
    // seconds past the time on air.
    bench.recorder->answer_hook = [](const Bytes& written, std::span<std::uint8_t> in) {
        if (written == Bytes{0x12}) in[0] = 0;
    };
    bench.take();
    CHECK(bench.driver->transmit(payload).error().message() == "the radio raised no interrupt in time");
    CHECK(bench.count("W:12 R:1") == 2001);
}

TEST_CASE("a frame heard reads back at its level on either side of 525 MHz, at every bandwidth") {
    struct Case {
        std::uint32_t carrier;
        std::uint32_t bandwidth;
    };
    // Narrow bandwidths tune the synthesizer above the carrier; the first
    // two carriers cross 525 MHz only by that offset.
    const Case cases[] = {
        {524990000, 20833},  {524970000, 41667},  {525000000, 7813},   {525000100, 7813},
        {868100000, 125000}, {433175000, 125000}, {915000000, 500000}, {470300000, 62500},
    };
    for (const Case& c : cases) {
        CAPTURE(c.carrier);
        CAPTURE(c.bandwidth);
        const sim::Chip chip = sim::Chip::sx127x(true, false);
        Radio radio = started_radio(chip);
        REQUIRE(radio.configure(radio_config(c.carrier, LinkSettings(7, c.bandwidth))));
        const std::uint8_t frame[] = {'h', 'i'};
        chip.hear(frame, Decibels(-8000), Decibels(-500));
        std::array<std::uint8_t, 255> buffer{};
        const auto heard = radio.receive(buffer, 1000000);
        REQUIRE(heard);
        CHECK(*heard == RxOutcome::frame(2, Decibels(-8000), Decibels(-500), Decibels(-8500)));
        CHECK(buffer[0] == 'h');
        chip.hear(frame, Decibels(-3020), Decibels(1025));  // rounds to -30 dBm, 10.25 dB
        CHECK(*radio.receive(buffer, 0) == RxOutcome::frame(2, Decibels(-3000), Decibels(1025), Decibels(-3000)));
    }
}

TEST_CASE("reception: IF offset, symbol timeout, expected length, outcomes") {
    Bench bench;
    REQUIRE(bench.driver->start());
    LinkSettings narrow(7, 7813);
    narrow.explicit_header = false;
    REQUIRE(bench.driver->configure(config_at(868100000, narrow)));
    std::array<std::uint8_t, 40> small{};
    bench.take();
    CHECK(*bench.driver->receive(small, 0) == RxOutcome::timeout());
    // Retuned 7810 Hz above the carrier, the IF moved to match.
    const auto tuned = bench.chip.tuning().frequency_hz;
    CHECK(tuned >= 868107810 - 61);
    CHECK(tuned <= 868107810 + 61);
    const Log log = bench.take();
    CHECK(std::ranges::count(log, "W:B0 W:00") == 1);
    CHECK(std::ranges::count(log, "W:AF W:48") == 1);
    CHECK(std::ranges::count(log, "W:A2 W:28") == 1);  // the expected length: the buffer's 40
    CHECK(std::ranges::count(log, "W:9F W:04") == 1);  // a timeout of 0 still waits 4 symbols
    CHECK(bench.peek(0x22) == 40);
    // The next transmission tunes back to the carrier.
    const std::uint8_t one[] = {1};
    REQUIRE(bench.driver->transmit(one));
    CHECK(bench.chip.sent().back().tuning.frequency_hz == 868099976);
    CHECK(bench.peek(0x22) == 1);
    std::array<std::uint8_t, 255> full{};
    CHECK(*bench.driver->receive(full, 0) == RxOutcome::timeout());
    CHECK(bench.peek(0x22) == 255);
    REQUIRE(bench.driver->listen());
    CHECK(bench.peek(0x22) == 255);

    // Long timeouts put the symbol count's high bits into RegModemConfig2.
    REQUIRE(bench.driver->configure(config_at(868100000, LinkSettings(7, 125000))));
    bench.take();
    CHECK(*bench.driver->receive(full, 1000000) == RxOutcome::timeout());
    const Log long_wait = bench.take();
    CHECK(std::ranges::count(long_wait, "W:9E W:77") == 1);  // SF7, CRC, 977 >> 8 = 3
    CHECK(std::ranges::count(long_wait, "W:9F W:D1") == 1);

    bench.chip.hear_corrupt(Decibels(-9000), Decibels(0));
    CHECK(*bench.driver->receive(full, 1000) == RxOutcome::corrupt());
    std::vector<std::uint8_t> twenty(20, 7);
    bench.chip.hear(twenty, Decibels(-9000), Decibels(0));
    std::array<std::uint8_t, 10> tiny{};
    CHECK(bench.driver->receive(tiny, 1000).error().message() == "a 20 byte payload does not fit the buffer");
    CHECK(bench.chip.waiting() == 0);

    // A chip that never answers: polls until past the deadline.
    bench.recorder->answer_hook = [](const Bytes& written, std::span<std::uint8_t> in) {
        if (written == Bytes{0x12}) in[0] = 0;
    };
    CHECK(bench.driver->receive(full, 0).error().message() == "the radio raised no interrupt in time");
}

TEST_CASE("listening, taking frames, detecting activity, and sleep keeps the configuration") {
    const sim::Chip chip = sim::Chip::sx127x(true, false);
    Radio radio = started_radio(chip);
    REQUIRE(radio.configure(radio_config(868100000)));
    std::array<std::uint8_t, 255> buffer{};
    REQUIRE(radio.listen());
    CHECK(radio.take_frame(buffer)->has_value() == false);
    const std::uint8_t first[] = {1, 2, 3};
    const std::uint8_t second[] = {4, 5};
    chip.hear(first, Decibels(-7000), Decibels(500));
    chip.hear(second, Decibels(-7100), Decibels(500));
    chip.hear_corrupt(Decibels(-7000), Decibels(0));
    CHECK(**radio.take_frame(buffer) == RxOutcome::frame(3, Decibels(-7000), Decibels(500), Decibels(-7000)));
    CHECK(**radio.take_frame(buffer) == RxOutcome::frame(2, Decibels(-7100), Decibels(500), Decibels(-7100)));
    CHECK(buffer[0] == 4);
    CHECK(**radio.take_frame(buffer) == RxOutcome::corrupt());
    CHECK(radio.take_frame(buffer)->has_value() == false);

    CHECK(*radio.detect(8) == false);
    chip.hear(first, Decibels(-7000), Decibels(0));
    CHECK(*radio.detect(0) == true);
    CHECK(chip.waiting() == 1);  // detected, not received

    REQUIRE(radio.sleep());
    CHECK(radio.transmit(first));  // no configure needed after sleep
    CHECK(chip.sent().size() == 1);
    CHECK(radio.family() == Family::Sx127x);
}

TEST_CASE("random draws bit i from the i-th wideband RSSI read, without a configuration") {
    const sim::Chip chip = sim::Chip::sx127x(true, false);
    Radio radio = started_radio(chip);
    REQUIRE(radio.write_register(0x11, 0x5A));
    // The chip's noise generator, written out again here.
    std::uint32_t x = 0x2545F491;
    std::uint32_t expected = 0;
    for (int i = 0; i < 32; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        expected |= (x & 1) << i;
    }
    CHECK(*radio.random() == expected);
    CHECK(*radio.read_register(0x11) == 0x5A);  // the interrupt mask is restored
    CHECK(*radio.read_register(0x01) == 0x89);  // in standby
}

TEST_CASE("register access stops at the end of the map") {
    const sim::Chip chip = sim::Chip::sx127x(false, false);
    Radio radio = started_radio(chip);
    CHECK(*radio.read_register(0x42) == 0x12);
    REQUIRE(radio.write_register(0x7F, 0xA5));
    CHECK(*radio.read_register(0x7F) == 0xA5);
    for (const std::uint16_t address : {0x80, 0xFF, 0xFFFF}) {
        CAPTURE(address);
        const auto read = radio.read_register(address);
        REQUIRE(!read);
        CHECK(read.error().kind() == RadioError::Kind::Register);
        CHECK(radio.write_register(address, 0).error() == read.error());
    }
    CHECK(radio.read_register(0x80).error().message() == "the SX127x has no register at 0x0080; its map ends at 0x7F");
    CHECK(radio.configure(radio_config(868100000, LinkSettings(5, 125000))).error().message() ==
          "the SX127x has no SF5");
}

TEST_CASE("the simulated SX127x: reset values, pages, FIFO and offsets") {
    const sim::Chip chip = sim::Chip::sx127x(true, false);
    const sim::Tuning fresh = chip.tuning();
    CHECK(fresh.frequency_hz == 434000000);
    CHECK(fresh.link.spreading_factor() == 7);
    CHECK(fresh.link.bandwidth_hz() == 125000);
    CHECK(fresh.link.coding_rate_denominator() == 5);
    CHECK(fresh.link.preamble_symbols == 8);
    CHECK(fresh.link.explicit_header);
    CHECK(!fresh.link.crc);
    CHECK(fresh.output_dbm == 11);
    CHECK(fresh.sync_word == SyncWord::private_network());
    CHECK(chip.family() == Family::Sx127x);

    const auto spi = chip.spi();
    const auto write = [&](std::initializer_list<std::uint8_t> bytes) {
        const std::vector<std::uint8_t> b(bytes);
        hal::SpiOperation ops[] = {hal::SpiOperation::write(b)};
        REQUIRE(spi->transaction(ops));
    };
    const auto read = [&](std::uint8_t address, std::size_t n = 1) {
        const std::uint8_t header[] = {address};
        std::vector<std::uint8_t> out(n);
        hal::SpiOperation ops[] = {hal::SpiOperation::write(header), hal::SpiOperation::read(out)};
        REQUIRE(spi->transaction(ops));
        return out;
    };

    // FSK mode at reset: 0x0D to 0x3F are the FSK page's.
    CHECK(read(0x3B) == Bytes{0x82});
    write({0xBB, 0xC2});
    CHECK(read(0x3B) == Bytes{0x82});  // start and running read back clear
    write({0x92, 0xFF});               // an ordinary FSK register
    CHECK(read(0x12) == Bytes{0xFF});
    write({0xC2, 0x00});
    CHECK(read(0x42) == Bytes{0x12});           // RegVersion is read-only
    write({0x8D, 0x05});                        // the FSK page's 0x0D, not the FIFO pointer
    write({0x80, 0x11, 0x22});                  // the FIFO is written in FSK mode too
    CHECK(read(0x00, 2) == Bytes{0x00, 0x00});  // but not read there
    write({0x81, 0x88});
    CHECK(read(0x3B) == Bytes{0x1D});
    CHECK(read(0x12) == Bytes{0x00});
    CHECK(read(0x0D) == Bytes{0x02});  // advanced by the two FIFO bytes

    write({0x8D, 0x00});
    CHECK(read(0x00, 2) == Bytes{0x11, 0x22});
    CHECK(read(0x0D) == Bytes{0x02});  // each FIFO byte advanced the pointer
    // A run of two at 0x19 reads two registers; a run at the FIFO stays there.
    write({0x99, 0x7F, 0x80});
    CHECK(read(0x19, 2) == Bytes{0x7F, 0x80});

    // RSSI offsets: 164 up to 525 MHz, 157 above; an idle 125 kHz channel.
    write({0x81, 0x89});
    write({0x86, 0x83, 0x40, 0x00});
    CHECK(chip.tuning().frequency_hz == 525000000);
    CHECK(read(0x1B) == Bytes{47});
    write({0x86, 0x83, 0x40, 0x01});
    CHECK(chip.tuning().frequency_hz == 525000061);
    CHECK(read(0x1B) == Bytes{40});

    // Writes of fewer than two bytes write nothing; the reset keeps the air.
    write({0x81});
    CHECK(read(0x01) == Bytes{0x89});
    const std::uint8_t frame[] = {9};
    chip.hear(frame, Decibels(-5000), Decibels(0));
    REQUIRE(chip.output_line()->set_low());
    CHECK(read(0x01) == Bytes{0x09});
    CHECK(chip.waiting() == 1);
}
