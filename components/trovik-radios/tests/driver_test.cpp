// The SX126x driver, checked by what it clocks out to a simulated chip.
#include <doctest/doctest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "recorder.hpp"
#include "trovik/radios/hal.hpp"
#include "trovik/radios/sim/chip.hpp"
#include "trovik/radios/sx126x/driver.hpp"

using namespace trovik::radios;
using namespace trovik::radios::testing;
using trovik::lora::Decibels;
using trovik::lora::LinkSettings;

namespace {

// A driver over a simulated chip, with its SPI traffic written down.
struct Bench {
    explicit Bench(sx126x::Board board = {}) : chip(sim::Chip::sx126x(board)), log(std::make_shared<Log>()) {
        auto rec = std::make_unique<Recorder>(chip.spi(), log);
        recorder = rec.get();
        driver.emplace(std::move(rec), chip.output_line(), chip.input_line(),
                       std::make_unique<CountingDelay>(waited_ns), board);
    }
    // The log from here on.
    Log take() { return std::exchange(*log, {}); }

    sim::Chip chip;
    std::shared_ptr<Log> log;
    std::shared_ptr<std::uint64_t> waited_ns = std::make_shared<std::uint64_t>(0);
    Recorder* recorder = nullptr;
    std::optional<sx126x::Driver> driver;
};

RadioConfig config_at(std::uint32_t frequency_hz, LinkSettings link = LinkSettings(7, 125000), std::int8_t dbm = 14) {
    RadioConfig c;
    c.frequency_hz = frequency_hz;
    c.band_low_hz = frequency_hz;
    c.band_high_hz = frequency_hz;
    c.link = link;
    c.output_dbm = dbm;
    return c;
}

}  // namespace

TEST_CASE("start-up: reset, presence check and the board settings, in order") {
    sx126x::Board board;
    board.amplifier = sx126x::Amplifier::HighPower;
    board.tcxo_voltage = 2;
    board.tcxo_settle_us = 5000;
    board.dio2_rf_switch = true;
    board.dc_dc = true;
    Bench bench(board);
    REQUIRE(bench.driver->start().has_value());
    CHECK(bench.take() == Log{
                              "W:80 00",
                              "W:C0 R:1",
                              "W:97 02 00 01 40",  // TCXO at 1.8 V, 320 steps
                              "W:89 7F",
                              "W:07 00 00",
                              "W:96 01",
                              "W:9D 01",
                              "W:8A 01",
                              "W:1D 08 D8 00 R:1",  // TX clamp erratum
                              "W:0D 08 D8 W:1E",
                              "W:8F 00 00",
                          });
    // A few tens of milliseconds in all on a real module.
    CHECK(*bench.waited_ns >= 1000000);
    CHECK(*bench.waited_ns <= 50000000);

    Bench plain(sx126x::Board{.amplifier = sx126x::Amplifier::LowPower});
    REQUIRE(plain.driver->start().has_value());
    CHECK(plain.take() == Log{"W:80 00", "W:C0 R:1", "W:96 00", "W:8A 01", "W:8F 00 00"});
}

TEST_CASE("start-up refuses a chip that does not answer in STDBY_RC") {
    Bench bench;
    // A floating MISO line reads zeros.
    bench.recorder->answer_hook = [](const Bytes&, std::span<std::uint8_t> in) { std::ranges::fill(in, 0); };
    const auto started = bench.driver->start();
    REQUIRE_FALSE(started.has_value());
    CHECK(started.error().kind == sx126x::Error::Kind::NoChip);
    CHECK(started.error().message() ==
          "no SX126x answered, status Status { chip_mode: Other(0), command_status: Other(0) }");
}

TEST_CASE("hardware failures end an operation with their own messages") {
    SUBCASE("SPI") {
        Bench bench;
        bench.recorder->fail_at = 2;
        bench.recorder->fail_kind = hal::SpiErrorKind::Overrun;
        const auto started = bench.driver->start();
        REQUIRE_FALSE(started.has_value());
        CHECK(started.error().message() == "SPI error: Overrun");
    }
    SUBCASE("BUSY stuck high") {
        const sim::Chip chip = sim::Chip::sx126x({});
        auto total = std::make_shared<std::uint64_t>(0);
        sx126x::Driver driver(chip.spi(), chip.output_line(), std::make_unique<StuckHigh>(),
                              std::make_unique<CountingDelay>(total), {});
        const auto started = driver.start();
        REQUIRE_FALSE(started.has_value());
        CHECK(started.error().message() == "the radio held BUSY high past the time allowed");
        CHECK(*total >= 50000000);  // it did wait before giving up
    }
    SUBCASE("lines") {
        const sim::Chip chip = sim::Chip::sx126x({});
        sx126x::Driver driver(chip.spi(), std::make_unique<BrokenLine>(), std::make_unique<BrokenLine>(), chip.delay(),
                              {});
        CHECK(driver.start().error().message() == "BUSY or NRESET line error: Other");
        CHECK(driver.standby().error().message() == "BUSY or NRESET line error: Other");
    }
}

TEST_CASE("configure: the command sequence, and image calibration only when the band changes") {
    Bench bench;
    REQUIRE(bench.driver->start().has_value());
    bench.take();
    RadioConfig c = config_at(868100000, LinkSettings(12, 125000).with_coding_rate(6), 14);
    c.sync_word = SyncWord::public_network();
    REQUIRE(bench.driver->configure(c).has_value());
    CHECK(bench.take() == Log{
                              "W:80 00",
                              "W:8A 01",
                              "W:98 D9 DA",
                              "W:86 36 41 99 9A",
                              "W:95 04 07 00 01",
                              "W:8E 0E 02",
                              "W:8B 0C 04 02 01",
                              "W:0D 07 40 W:34 44",
                          });
    REQUIRE(bench.driver->configure(c).has_value());
    CHECK(bench.take().size() == 7);  // no CalibrateImage the second time
    c.frequency_hz = 868500000;       // the same 4 MHz slots
    REQUIRE(bench.driver->configure(c).has_value());
    CHECK(bench.take()[2] == "W:86 36 48 00 00");
    c = config_at(915000000);
    c.band_low_hz = 902000000;
    c.band_high_hz = 928000000;
    REQUIRE(bench.driver->configure(c).has_value());
    CHECK(bench.take()[2] == "W:98 E1 E8");
    // The chip reads back what the driver meant.
    const sim::Tuning t = bench.chip.tuning();
    CHECK(t.frequency_hz == 915000000);
    CHECK(t.output_dbm == 14);
    CHECK(t.sync_word == SyncWord::private_network());
}

TEST_CASE("configure refuses what the chip cannot do, before touching it, and keeps the old configuration") {
    struct Case {
        bool llcc68;
        std::uint8_t sf;
        std::uint32_t bw;
        const char* message;  // null when accepted
    };
    const Case cases[] = {
        {false, 7, 100000, "the SX126x has no 100000 Hz LoRa bandwidth"},
        {true, 10, 125000, "the LLCC68 does not support SF10 at 125000 Hz"},
        {true, 10, 250000, nullptr},
        {true, 9, 125000, nullptr},
        {true, 12, 500000, "the LLCC68 does not support SF12 at 500000 Hz"},
        {true, 11, 500000, nullptr},
        {true, 7, 62500, "the LLCC68 does not support SF7 at 62500 Hz"},
        {false, 12, 62500, nullptr},
    };
    for (const Case& c : cases) {
        CAPTURE(c.sf);
        CAPTURE(c.bw);
        Bench bench(sx126x::Board{.llcc68 = c.llcc68});
        REQUIRE(bench.driver->start().has_value());
        const RadioConfig good = config_at(868100000);
        REQUIRE(bench.driver->configure(good).has_value());
        bench.take();
        const auto result = bench.driver->configure(config_at(868100000, LinkSettings(c.sf, c.bw)));
        if (c.message) {
            REQUIRE_FALSE(result.has_value());
            CHECK(result.error().message() == c.message);
            CHECK(bench.take().empty());
            CHECK(bench.driver->config() == good);
        } else {
            CHECK(result.has_value());
        }
    }
}

TEST_CASE("configure refuses a carrier past the frequency word, touching nothing") {
    struct Case {
        std::uint32_t frequency_hz;
        bool accepted;
    };
    // The word of 4096 MHz and up would wrap round to a carrier near 0 Hz.
    const Case cases[] = {
        {4095999999u, true},
        {4096000000u, false},
        {4100000000u, false},
        {UINT32_MAX, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.frequency_hz);
        Bench bench;
        REQUIRE(bench.driver->start().has_value());
        const RadioConfig good = config_at(868100000);
        REQUIRE(bench.driver->configure(good).has_value());
        bench.take();
        const auto result = bench.driver->configure(config_at(c.frequency_hz));
        if (c.accepted) {
            REQUIRE(result.has_value());
            CHECK(bench.chip.tuning().frequency_hz == c.frequency_hz);
            continue;
        }
        REQUIRE_FALSE(result.has_value());
        CHECK(result.error().message() == "the SX126x cannot tune to " + std::to_string(c.frequency_hz) +
                                              " Hz: its frequency word ends at 4095999999 Hz");
        CHECK(bench.take().empty());
        CHECK(bench.driver->config() == good);
        const std::uint8_t payload[] = {1};
        REQUIRE(bench.driver->transmit(payload).has_value());
        CHECK(bench.chip.sent().back().tuning.frequency_hz == 868100000);
    }
}

TEST_CASE("the three amplifier configurations") {
    using sx126x::Amplifier;
    using sx126x::TxPower;
    struct Case {
        Amplifier amplifier;
        std::int8_t requested;
        TxPower power;
    };
    const Case cases[] = {
        {Amplifier::HighPower, 30, {{0x04, 0x07, 0x00, 0x01}, 22}},
        {Amplifier::HighPower, 14, {{0x04, 0x07, 0x00, 0x01}, 14}},
        {Amplifier::HighPower, -20, {{0x04, 0x07, 0x00, 0x01}, -9}},
        {Amplifier::LowPower, 20, {{0x06, 0x00, 0x01, 0x01}, 14}},
        {Amplifier::LowPower, 15, {{0x06, 0x00, 0x01, 0x01}, 14}},
        {Amplifier::LowPower, 14, {{0x04, 0x00, 0x01, 0x01}, 14}},
        {Amplifier::LowPower, -20, {{0x04, 0x00, 0x01, 0x01}, -17}},
        {Amplifier::LowPower, -128, {{0x04, 0x00, 0x01, 0x01}, -17}},
    };
    for (const Case& c : cases) {
        CAPTURE(int(c.requested));
        CHECK(TxPower::make(c.amplifier, c.requested) == c.power);
    }
}

TEST_CASE("sync words: each nibble leads a register byte ending in 4") {
    CHECK(sx126x::sync_word_registers(SyncWord::public_network()) == std::array<std::uint8_t, 2>{0x34, 0x44});
    CHECK(sx126x::sync_word_registers(SyncWord::private_network()) == std::array<std::uint8_t, 2>{0x14, 0x24});
    CHECK(sx126x::sync_word_registers(SyncWord::from_byte(0xAB)) == std::array<std::uint8_t, 2>{0xA4, 0xB4});
    Bench bench;
    REQUIRE(bench.driver->start().has_value());
    RadioConfig c = config_at(433175000);
    c.sync_word = SyncWord::from_byte(0xAB);
    REQUIRE(bench.driver->configure(c).has_value());
    CHECK(bench.take().back() == "W:0D 07 40 W:A4 B4");
    CHECK(bench.chip.tuning().sync_word == SyncWord::from_byte(0xAB));
}

TEST_CASE("transmit: the sequence, the errata, and the frame the chip puts on the air") {
    Bench bench;
    REQUIRE(bench.driver->start().has_value());
    RadioConfig c = config_at(868100000, LinkSettings(7, 125000), 14);
    c.invert_iq_transmit = true;
    REQUIRE(bench.driver->configure(c).has_value());
    bench.take();
    const Bytes payload{0xDE, 0xAD, 0xBE};
    const auto airtime = bench.driver->transmit(payload);
    REQUIRE(airtime.has_value());
    CHECK(*airtime == 30976);  // SF7 at 125 kHz, 4/5, CRC, explicit header: 30.976 ms
    CHECK(bench.take() == Log{
                              "W:80 00",
                              "W:0E 00 W:DE AD BE",
                              "W:8C 00 08 00 03 01 01",
                              "W:1D 07 36 00 R:1",
                              "W:0D 07 36 W:00",  // inverted IQ clears bit 2
                              "W:08 02 01 02 01 00 00 00 00",
                              "W:1D 08 89 00 R:1",
                              "W:0D 08 89 W:04",  // not 500 kHz: bit 2 set
                              "W:02 43 FF",
                              "W:83 01 01 BE",  // 30976 us on air + 1 s, in 15.625 us steps
                              "W:12 00 R:2",
                              "W:02 43 FF",
                          });
    const auto sent = bench.chip.sent();
    REQUIRE(sent.size() == 1);
    CHECK(sent[0].payload == payload);
    CHECK(sent[0].tuning.frequency_hz == 868100000);
    CHECK(sent[0].tuning.output_dbm == 14);
    CHECK(sent[0].tuning.link == c.link);

    // At 500 kHz the modulation-quality bit is cleared; an empty frame writes no buffer.
    REQUIRE(bench.driver->configure(config_at(923300000, LinkSettings(8, 500000))).has_value());
    bench.take();
    REQUIRE(bench.driver->transmit({}).has_value());
    const Log log = bench.take();
    CHECK(log[1] == "W:8C 00 08 00 00 01 00");
    CHECK(log[3] == "W:0D 07 36 W:04");
    CHECK(log[6] == "W:0D 08 89 W:00");
    CHECK(bench.chip.sent().back().payload.empty());
}

TEST_CASE("transmit refusals and the chip's silences") {
    Bench bench;
    REQUIRE(bench.driver->start().has_value());
    const Bytes payload(256, 1);
    CHECK(bench.driver->transmit(payload).error().message() == "the radio has not been configured");
    REQUIRE(bench.driver->configure(config_at(868100000)).has_value());
    bench.take();
    CHECK(bench.driver->transmit(payload).error().message() ==
          "a 256 byte payload is longer than the 255 bytes a LoRa frame carries");
    CHECK(bench.take().empty());

    SUBCASE("the chip's own timeout") {
        bench.recorder->answer_hook = [](const Bytes& sent, std::span<std::uint8_t> in) {
            if (sent[0] == 0x12) in[0] = 0x02, in[1] = 0x00;
        };
        CHECK(bench.driver->transmit(Bytes{1}).error().message() == "the transmission timed out before TxDone");
    }
    SUBCASE("no interrupt: two seconds of polls past the time on air") {
        bench.recorder->answer_hook = [](const Bytes& sent, std::span<std::uint8_t> in) {
            if (sent[0] == 0x12) in[0] = 0, in[1] = 0;
        };
        const std::uint64_t before = *bench.waited_ns;
        CHECK(bench.driver->transmit(Bytes{1}).error().message() ==
              "the radio raised no interrupt in the time allowed");
        const Log log = bench.take();
        CHECK(std::ranges::count(log, std::string("W:12 00 R:2")) == 2001);
        CHECK(*bench.waited_ns - before == 2000 * std::uint64_t{1000000});
    }
}

TEST_CASE("receive: frame, timeout and corrupt outcomes, and the timeout erratum") {
    Bench bench;
    REQUIRE(bench.driver->start().has_value());
    REQUIRE(bench.driver->configure(config_at(868100000)).has_value());
    bench.take();
    Bytes buffer(255);

    bench.chip.hear(Bytes{1, 2, 3, 4}, Decibels(-9050), Decibels(-725));
    auto got = bench.driver->receive(buffer, 500000);
    REQUIRE(got.has_value());
    CHECK(*got == RxOutcome::frame(4, Decibels(-9050), Decibels(-725), Decibels(-9800)));
    CHECK(Bytes(buffer.begin(), buffer.begin() + 4) == Bytes{1, 2, 3, 4});
    CHECK(bench.take() == Log{
                              "W:80 00",
                              "W:8C 00 08 00 FF 01 00",
                              "W:1D 07 36 00 R:1",
                              "W:0D 07 36 W:04",
                              "W:08 02 62 02 62 00 00 00 00",
                              "W:02 43 FF",
                              "W:82 00 7D 00",
                              "W:12 00 R:2",
                              "W:0D 09 02 W:00",
                              "W:1D 09 44 00 R:1",
                              "W:0D 09 44 W:02",
                              "W:02 43 FF",
                              "W:13 00 R:2",
                              "W:1E 00 00 R:4",
                              "W:14 00 R:3",
                          });

    got = bench.driver->receive(buffer, 0);
    CHECK(*got == RxOutcome::timeout());
    CHECK(bench.take()[6] == "W:82 00 00 01");  // a timeout of 0 still gives one step

    bench.chip.hear_corrupt(Decibels(-10000), Decibels(0));
    CHECK(*bench.driver->receive(buffer, 1000) == RxOutcome::corrupt());
    CHECK(bench.take().back() == "W:02 43 FF");

    // A frame longer than the buffer is refused, not overrun.
    bench.chip.hear(Bytes(10, 7), Decibels(-9000), Decibels(0));
    Bytes small(4);
    CHECK(bench.driver->receive(small, 1000).error().message() == "10 bytes do not fit the buffer");
    CHECK(bench.take()[1] == "W:8C 00 08 00 04 01 00");
}

TEST_CASE("listen and take frames as they arrive") {
    Bench bench;
    REQUIRE(bench.driver->start().has_value());
    Bytes buffer(255);
    CHECK(bench.driver->listen().error().kind == sx126x::Error::Kind::NotConfigured);
    CHECK(bench.driver->take_frame(buffer)->has_value() == false);  // needs no configuration
    REQUIRE(bench.driver->configure(config_at(868100000)).has_value());
    bench.take();
    REQUIRE(bench.driver->listen().has_value());
    const Log log = bench.take();
    CHECK(log[1] == "W:8C 00 08 00 FF 01 00");
    CHECK(log[4] == "W:08 00 62 00 62 00 00 00 00");
    CHECK(log.back() == "W:82 FF FF FF");

    CHECK(bench.driver->take_frame(buffer)->has_value() == false);
    bench.chip.hear(Bytes{9, 8}, Decibels(-7000), Decibels(800));
    bench.chip.hear_corrupt(Decibels(-7000), Decibels(800));
    bench.chip.hear(Bytes{7}, Decibels(-7000), Decibels(800));
    auto first = bench.driver->take_frame(buffer);
    REQUIRE(first->has_value());
    CHECK(**first == RxOutcome::frame(2, Decibels(-7000), Decibels(800), Decibels(-7000)));
    CHECK(**bench.driver->take_frame(buffer) == RxOutcome::corrupt());
    auto third = bench.driver->take_frame(buffer);
    CHECK((*third)->length == 1);
    CHECK(buffer[0] == 7);
    CHECK(bench.take()[2] == "W:02 00 62");
}

TEST_CASE("channel-activity detection: symbol codes, peaks, and what the chip hears") {
    struct Case {
        std::uint8_t symbols;
        std::uint32_t bandwidth;
        std::uint8_t sf;
        const char* params;
    };
    const Case cases[] = {
        {0, 125000, 7, "W:88 00 16 0A 00 00 00 00"},   {1, 125000, 7, "W:88 00 16 0A 00 00 00 00"},
        {3, 125000, 7, "W:88 01 16 0A 00 00 00 00"},   {4, 125000, 9, "W:88 02 17 0A 00 00 00 00"},
        {8, 500000, 12, "W:88 03 21 0A 00 00 00 00"},  {100, 125000, 7, "W:88 04 14 0A 00 00 00 00"},
        {255, 500000, 5, "W:88 04 14 0A 00 00 00 00"},
    };
    for (const Case& c : cases) {
        CAPTURE(int(c.symbols));
        Bench bench;
        REQUIRE(bench.driver->start().has_value());
        REQUIRE(bench.driver->configure(config_at(868100000, LinkSettings(c.sf, c.bandwidth))).has_value());
        bench.take();
        CHECK(bench.driver->detect(c.symbols) == false);
        const Log log = bench.take();
        CHECK(log[1] == c.params);
        CHECK(log[2] == "W:08 01 80 01 80 00 00 00 00");
        CHECK(log[4] == "W:C5");
    }
    Bench bench;
    CHECK(bench.driver->detect(4).error().kind == sx126x::Error::Kind::NotConfigured);
    REQUIRE(bench.driver->start().has_value());
    REQUIRE(bench.driver->configure(config_at(868100000)).has_value());
    bench.chip.hear(Bytes{1}, Decibels(-9000), Decibels(0));
    CHECK(bench.driver->detect(8) == true);
    CHECK(bench.chip.waiting() == 1);
}

TEST_CASE("random numbers come from the noise registers, which are put back") {
    Bench bench;
    REQUIRE(bench.driver->start().has_value());
    const Bytes a{0x0F}, b{0xF0};
    REQUIRE(bench.driver->write_registers(sx126x::REG_RANDOM_CTRL_A, a).has_value());
    REQUIRE(bench.driver->write_registers(sx126x::REG_RANDOM_CTRL_B, b).has_value());
    bench.take();
    CHECK(bench.driver->random() == 0x26ACAB3Au);  // the chip's first four noise bytes, least significant first
    CHECK(bench.take() == Log{
                              "W:1D 08 E2 00 R:1",
                              "W:0D 08 E2 W:0E",
                              "W:1D 08 E5 00 R:1",
                              "W:0D 08 E5 W:70",
                              "W:82 FF FF FF",
                              "W:1D 08 19 00 R:4",
                              "W:80 00",
                              "W:0D 08 E2 W:0F",
                              "W:0D 08 E5 W:F0",
                          });
    CHECK(bench.driver->random() == 0x711A23AFu);
}

TEST_CASE("sleep forgets the configuration; the next exchange wakes the chip first") {
    Bench bench;
    REQUIRE(bench.driver->start().has_value());
    REQUIRE(bench.driver->configure(config_at(868100000)).has_value());
    bench.take();
    REQUIRE(bench.driver->sleep().has_value());
    CHECK(bench.take() == Log{"W:80 00", "W:84 04"});
    CHECK(bench.driver->transmit(Bytes{1}).error().message() == "the radio has not been configured");
    CHECK(bench.take().empty());
    REQUIRE(bench.driver->standby().has_value());
    CHECK(bench.take() == Log{"P:100000 W:C0 R:1", "W:80 00"});
    // The warm sleep kept the calibration, and the driver knows it.
    REQUIRE(bench.driver->configure(config_at(868100000)).has_value());
    CHECK(bench.take().size() == 7);
}

TEST_CASE("a query longer than the caller's buffer sends nothing") {
    Bench bench;
    REQUIRE(bench.driver->start().has_value());
    bench.take();
    std::uint8_t none[1];
    CHECK(bench.driver->read_registers(0x0740, std::span<std::uint8_t>(none, 0)).has_value());
    CHECK(bench.take() == Log{"W:1D 07 40 00 R:0"});
}
