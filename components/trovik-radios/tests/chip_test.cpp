// The simulated SX126x, driven with raw SPI transactions.
#include <doctest/doctest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "trovik/radios/hal.hpp"
#include "trovik/radios/sim/chip.hpp"

using namespace trovik::radios;
using trovik::lora::Decibels;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Speaks to a chip the way a driver does: a command is a transaction that
// only writes, a query one that writes and then reads.
struct Wire {
    explicit Wire(const sim::Chip& chip) : spi(chip.spi()) {}

    void command(const Bytes& bytes) {
        hal::SpiOperation ops[] = {hal::SpiOperation::write(bytes)};
        REQUIRE(spi->transaction(ops).has_value());
    }
    Bytes query(const Bytes& bytes, std::size_t answer_len) {
        Bytes answer(answer_len, 0xEE);
        hal::SpiOperation ops[] = {hal::SpiOperation::write(bytes), hal::SpiOperation::read(answer)};
        REQUIRE(spi->transaction(ops).has_value());
        return answer;
    }
    std::uint8_t status() { return query({0xC0}, 1)[0]; }
    std::uint16_t irq() {
        const Bytes a = query({0x12, 0x00}, 2);
        return static_cast<std::uint16_t>(a[0] << 8 | a[1]);
    }
    void irq_mask(std::uint16_t mask) {
        command({0x08, std::uint8_t(mask >> 8), std::uint8_t(mask), 0, 0, 0, 0, 0, 0});
    }
    void packet_length(std::uint8_t length) { command({0x8C, 0x00, 0x08, 0x00, length, 0x01, 0x00}); }

    std::unique_ptr<hal::SpiDevice> spi;
};

sim::Chip make_chip() { return sim::Chip::sx126x(sx126x::Board{}); }

}  // namespace

TEST_CASE("a fresh chip: tuning, sync word registers, idle RSSI and the noise stream") {
    const sim::Chip chip = make_chip();
    Wire wire(chip);
    const sim::Tuning t = chip.tuning();
    CHECK(t.frequency_hz == 0);
    CHECK(t.link.spreading_factor() == 7);
    CHECK(t.link.bandwidth_hz() == 125000);
    CHECK(t.link.coding_rate_denominator() == 5);
    CHECK(t.link.preamble_symbols == 8);
    CHECK(t.link.explicit_header);
    CHECK(t.link.crc);
    CHECK(t.output_dbm == 0);
    CHECK(t.sync_word == SyncWord::private_network());
    CHECK(wire.status() == 0x20);
    CHECK(wire.query({0x1D, 0x07, 0x40, 0x00}, 2) == Bytes{0x14, 0x24});
    CHECK(wire.query({0x15, 0x00}, 1) == Bytes{234});  // -117 dBm: 6 dB over the 125 kHz thermal floor
    CHECK(wire.query({0x11, 0x00}, 1) == Bytes{0x01});
    // One generator serves every noise read, in order.
    CHECK(wire.query({0x1D, 0x08, 0x19, 0x00}, 4) == Bytes{0x3A, 0xAB, 0xAC, 0x26});
    CHECK(wire.query({0x1D, 0x08, 0x1C, 0x00}, 2) == Bytes{0xAF, 0x00});
    CHECK(wire.query({0x1D, 0x08, 0x1B, 0x00}, 1) == Bytes{0x23});
    // Addresses wrap at 0xFFFF; unwritten registers read 0.
    wire.command({0x0D, 0xFF, 0xFF, 0x5A, 0xA5});
    CHECK(wire.query({0x1D, 0xFF, 0xFF, 0x00}, 2) == Bytes{0x5A, 0xA5});
    CHECK(wire.query({0x1D, 0x12, 0x34, 0x00}, 1) == Bytes{0x00});
    // GetDeviceErrors and unknown opcodes read zeros; so does a read with nothing sent.
    CHECK(wire.query({0x17, 0x00}, 2) == Bytes{0, 0});
    CHECK(wire.query({}, 3) == Bytes{0, 0, 0});
}

TEST_CASE("the idle level follows the tuned bandwidth") {
    const sim::Chip chip = make_chip();
    Wire wire(chip);
    struct Case {
        std::uint8_t code;
        std::uint8_t rssi_inst;
    };
    // noise floor + 6 dB: 500 kHz -111.01, 7.8 kHz -129.07 dBm.
    for (const Case c : {Case{0x04, 234}, Case{0x06, 222}, Case{0x00, 255}}) {  // 7.8 kHz: 258, clamped
        wire.command({0x8B, 7, c.code, 0x01, 0x00});
        CAPTURE(c.code);
        CHECK(wire.query({0x15, 0x00}, 1)[0] == c.rssi_inst);
    }
}

TEST_CASE("a single reception delivers a queued frame as far as the mask allows") {
    const sim::Chip chip = make_chip();
    Wire wire(chip);
    const Bytes payload(300, 0x42);
    chip.hear(payload, Decibels(-8013), Decibels(725));
    CHECK(chip.waiting() == 1);
    wire.irq_mask(0x0262);  // RxDone, HeaderErr, CrcErr, Timeout
    wire.command({0x82, 0x00, 0x00, 0x40});
    CHECK(wire.status() == 0x50);  // in RX until the interrupts are read
    CHECK(wire.irq() == 0x0002);   // PreambleDetected and HeaderValid are not enabled
    CHECK(chip.waiting() == 0);
    CHECK(wire.status() == 0x24);  // back in STDBY_RC, data available
    CHECK(wire.query({0x13, 0x00}, 2) == Bytes{255, 0});
    // -80.13 dBm to the half decibel, 7.25 dB to the quarter, signal = packet level above the noise.
    CHECK(wire.query({0x14, 0x00}, 3) == Bytes{160, 29, 160});
    CHECK(wire.query({0x1E, 0x00, 0x00}, 255) == Bytes(255, 0x42));
    // Bits stay until cleared, and only ClearIrqStatus with both bytes clears them.
    wire.command({0x02, 0x00});
    CHECK(wire.irq() == 0x0002);
    wire.command({0x02, 0x00, 0x02});
    CHECK(wire.irq() == 0x0000);
}

TEST_CASE("signal levels: half decibels for strengths, quarters for the SNR, both clamped") {
    struct Case {
        std::int32_t rssi, snr;
        Bytes levels;
    };
    const Case cases[] = {
        {-8000, 1000, {160, 40, 160}},
        {-8025, 0, {161, 0, 161}},  // -80.25 dBm: a tie goes to the lower level
        {-8026, -1, {161, 0, 161}},
        {-12000, -1000, {240, 0xD8, 255}},  // below the noise: signal = -130 dBm, clamped
        {-9000, -550, {180, 0xEA, 191}},
        {100, 4000, {0, 127, 0}},
        {-20000, -4000, {255, 0x80, 255}},
        {-2147483647 - 1, -2147483647 - 1, {255, 0x80, 255}},
        {2147483647, 2147483647, {0, 127, 0}},
    };
    for (const Case& c : cases) {
        const sim::Chip chip = make_chip();
        Wire wire(chip);
        chip.hear(Bytes{1}, Decibels(c.rssi), Decibels(c.snr));
        wire.irq_mask(0x0002);
        wire.command({0x82, 0xFF, 0xFF, 0xFF});
        CHECK(wire.irq() == 0x0002);
        CAPTURE(c.rssi);
        CAPTURE(c.snr);
        CHECK(wire.query({0x14, 0x00}, 3) == c.levels);
    }
}

TEST_CASE("receptions without a frame: a timed one times out, an untimed one keeps listening") {
    const sim::Chip chip = make_chip();
    Wire wire(chip);
    wire.irq_mask(0xFFFF);
    wire.command({0x82, 0x00, 0x00, 0x01});
    CHECK(wire.irq() == 0x0200);
    CHECK(wire.status() == 0x26);
    wire.command({0x02, 0xFF, 0xFF});

    wire.command({0x82, 0x00, 0x00, 0x00});  // single, no timeout
    CHECK(wire.irq() == 0x0000);
    CHECK(wire.status() == 0x56);  // still in RX; the last command status stays
    chip.hear(Bytes{1, 2, 3}, Decibels(-9000), Decibels(500));
    CHECK(wire.irq() == 0x0016);
    CHECK(wire.status() == 0x24);

    // A timeout the mask does not enable is not raised, but the reception still ends.
    wire.irq_mask(0x0002);
    wire.command({0x02, 0xFF, 0xFF});
    wire.command({0x82, 0x00, 0x10, 0x00});
    CHECK(wire.irq() == 0x0000);
    CHECK(wire.status() == 0x26);
}

TEST_CASE("continuous reception delivers frame after frame at the same receive base, wrapping the buffer") {
    const sim::Chip chip = make_chip();
    Wire wire(chip);
    wire.command({0x8F, 0x00, 0xF0});  // receive base 0xF0
    wire.irq_mask(0x0002);
    Bytes first(20);
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<std::uint8_t>(i + 1);
    chip.hear(first, Decibels(-9000), Decibels(0));
    chip.hear(Bytes{0xAA, 0xBB}, Decibels(-9000), Decibels(0));
    wire.command({0x82, 0xFF, 0xFF, 0xFF});
    CHECK(wire.irq() == 0x0002);
    CHECK(wire.status() == 0x54);
    CHECK(wire.query({0x13, 0x00}, 2) == Bytes{20, 0xF0});
    CHECK(wire.query({0x1E, 0xF0, 0x00}, 20) == first);                 // read back across the wrap
    CHECK(wire.query({0x1E, 0x00, 0x00}, 4) == Bytes{17, 18, 19, 20});  // the wrapped tail
    wire.command({0x02, 0x00, 0x02});
    CHECK(wire.irq() == 0x0002);
    CHECK(wire.query({0x13, 0x00}, 2) == Bytes{2, 0xF0});
    CHECK(wire.query({0x1E, 0xF0, 0x00}, 3) == Bytes{0xAA, 0xBB, 3});
    wire.command({0x02, 0x00, 0x02});
    CHECK(wire.irq() == 0x0000);  // nothing more on the air: still listening
    CHECK(wire.status() == 0x54);
}

TEST_CASE("a corrupt frame raises CrcErr with RxDone and carries nothing") {
    const sim::Chip chip = make_chip();
    Wire wire(chip);
    chip.hear_corrupt(Decibels(-10000), Decibels(-300));
    wire.irq_mask(0x43FF);
    wire.command({0x82, 0x00, 0x00, 0x40});
    CHECK(wire.irq() == 0x0056);
    CHECK(wire.query({0x13, 0x00}, 2) == Bytes{0, 0});
    CHECK(wire.query({0x14, 0x00}, 3) == Bytes{200, 0xF4, 206});
}

TEST_CASE("transmission: the frame is recorded with the tuning of its moment") {
    const sim::Chip chip = make_chip();
    Wire wire(chip);
    wire.command({0x86, 0x36, 0x41, 0x99, 0x9A});  // 868.1 MHz
    wire.command({0x8B, 9, 0x05, 0x03, 0x00});     // SF9, 250 kHz, 4/7
    wire.command({0x8E, 0xF7, 0x02});              // -9 dBm
    wire.command({0x0D, 0x07, 0x40, 0x34, 0x44});  // public sync word
    wire.command({0x8C, 0x00, 0x0C, 0x01, 3, 0x00, 0x00});
    wire.command({0x0E, 0x00, 0xC1, 0xC2, 0xC3, 0xC4});
    wire.irq_mask(0x0201);
    wire.command({0x83, 0x00, 0x00, 0x00});
    CHECK(wire.irq() == 0x0001);
    CHECK(wire.status() == 0x2C);
    const auto sent = chip.sent();
    REQUIRE(sent.size() == 1);
    CHECK(sent[0].payload == Bytes{0xC1, 0xC2, 0xC3});
    CHECK(sent[0].tuning.frequency_hz == 868100000);
    CHECK(sent[0].tuning.link.spreading_factor() == 9);
    CHECK(sent[0].tuning.link.bandwidth_hz() == 250000);
    CHECK(sent[0].tuning.link.coding_rate_denominator() == 7);
    CHECK(sent[0].tuning.link.preamble_symbols == 12);
    CHECK_FALSE(sent[0].tuning.link.explicit_header);
    CHECK_FALSE(sent[0].tuning.link.crc);
    CHECK(sent[0].tuning.output_dbm == -9);
    CHECK(sent[0].tuning.sync_word == SyncWord::public_network());

    // A payload length of 0 sends an empty frame; the list keeps growing.
    wire.packet_length(0);
    wire.command({0x8E, 0x0E, 0x02});
    wire.command({0x83});
    const auto both = chip.sent();
    REQUIRE(both.size() == 2);
    CHECK(both[0].tuning.output_dbm == -9);  // the first frame keeps its own tuning
    CHECK(both[1].payload.empty());
    CHECK(both[1].tuning.output_dbm == 14);
}

TEST_CASE("the transmit base and the buffer wrap") {
    const sim::Chip chip = make_chip();
    Wire wire(chip);
    wire.command({0x8F, 0xFE, 0x00});
    wire.command({0x0E, 0xFE, 1, 2, 3, 4});
    wire.packet_length(4);
    wire.command({0x83});
    CHECK(chip.sent().back().payload == Bytes{1, 2, 3, 4});
}

TEST_CASE("channel-activity detection sees a queued frame and leaves it queued") {
    const sim::Chip chip = make_chip();
    Wire wire(chip);
    wire.irq_mask(0x0180);
    wire.command({0xC5});
    CHECK(wire.status() == 0x50);
    CHECK(wire.irq() == 0x0080);
    CHECK(wire.status() == 0x20);
    wire.command({0x02, 0xFF, 0xFF});
    chip.hear(Bytes{9}, Decibels(-9000), Decibels(0));
    wire.command({0xC5});
    CHECK(wire.irq() == 0x0180);
    CHECK(chip.waiting() == 1);
}

TEST_CASE("commands with too few parameters do nothing; unknown opcodes are ignored") {
    const sim::Chip chip = make_chip();
    Wire wire(chip);
    const sim::Tuning before = chip.tuning();
    wire.command({0x86, 0x36, 0x41, 0x99});
    wire.command({0x8B, 9, 0x05, 0x03});
    wire.command({0x8C, 0x00, 0x0C, 0x01, 3, 0x00});
    wire.command({0x8E});
    wire.command({0x0D, 0x07, 0x40});
    wire.command({0x0E, 0x00});
    wire.command({0x95, 1, 2, 3, 4});
    wire.command({0x42, 0x42});
    wire.command({});
    CHECK(chip.tuning() == before);
    CHECK(wire.query({0x1E, 0x00, 0x00}, 1) == Bytes{0});
    // SetDioIrqParams without both mask bytes leaves no interrupt enabled.
    wire.irq_mask(0xFFFF);
    wire.command({0x08, 0xFF});
    wire.command({0x82, 0x00, 0x00, 0x01});
    CHECK(wire.irq() == 0);
    CHECK(wire.status() == 0x26);
    // SetStandby(1) is STDBY_XOSC; without a parameter STDBY_RC; SetFs is FS.
    wire.command({0x80, 0x01});
    CHECK((wire.status() >> 4) == 3);
    wire.command({0xC1});
    CHECK((wire.status() >> 4) == 4);
    wire.command({0x80});
    CHECK((wire.status() >> 4) == 2);
}

TEST_CASE("sleep: a cold start loses the settings, a warm one keeps them; any transaction wakes") {
    for (const bool warm : {true, false}) {
        CAPTURE(warm);
        const sim::Chip chip = make_chip();
        Wire wire(chip);
        wire.command({0x86, 0x36, 0x41, 0x99, 0x9A});
        wire.command({0x8B, 12, 0x06, 0x04, 0x01});
        wire.command({0x0D, 0x07, 0x40, 0x34, 0x44});
        const sim::Tuning tuned = chip.tuning();
        wire.command({0x84, std::uint8_t(warm ? 0x04 : 0x00)});
        if (warm) {
            CHECK(chip.tuning() == tuned);
        } else {
            const sim::Tuning t = chip.tuning();
            CHECK(t.frequency_hz == 0);
            CHECK(t.link.spreading_factor() == 7);
            CHECK(t.link.bandwidth_hz() == 125000);
            CHECK(t.sync_word == SyncWord::private_network());
        }
        // Even a transaction of only a pause wakes the chip.
        hal::SpiOperation pause[] = {hal::SpiOperation::pause(100000)};
        REQUIRE(wire.spi->transaction(pause).has_value());
        CHECK(wire.status() == 0x20);
    }
}

TEST_CASE("NRESET resets the settings but keeps the air, the sent list and the noise stream") {
    const sim::Chip chip = make_chip();
    Wire wire(chip);
    auto reset = chip.output_line();
    CHECK(wire.query({0x1D, 0x08, 0x19, 0x00}, 1) == Bytes{0x3A});
    wire.command({0x83});
    chip.hear(Bytes{5, 6}, Decibels(-9000), Decibels(0));
    wire.command({0x86, 0x36, 0x41, 0x99, 0x9A});
    REQUIRE(reset->set_low().has_value());
    REQUIRE(reset->set_high().has_value());
    CHECK(chip.tuning().frequency_hz == 0);
    CHECK(chip.waiting() == 1);
    CHECK(chip.sent().size() == 1);
    CHECK(wire.query({0x1D, 0x08, 0x19, 0x00}, 1) == Bytes{0xAB});
    CHECK(chip.input_line()->is_high() == false);
}

TEST_CASE("transfers answer too, and an answer longer than the command's is padded with zeros") {
    const sim::Chip chip = make_chip();
    auto spi = chip.spi();
    const Bytes command{0x13, 0x00};
    Bytes in(5, 0xEE);
    hal::SpiOperation transfer[] = {hal::SpiOperation::transfer(in, command)};
    REQUIRE(spi->transaction(transfer).has_value());
    CHECK(in == Bytes{0, 0, 0, 0, 0});
    Bytes in_place{0xC0, 0x00};
    hal::SpiOperation ops[] = {hal::SpiOperation::transfer_in_place(in_place)};
    REQUIRE(spi->transaction(ops).has_value());
    CHECK(in_place == Bytes{0x20, 0x00});
    // An empty read still counts as an answer: the written SetTx is not carried out.
    const Bytes set_tx{0x83};
    hal::SpiOperation empty_read[] = {hal::SpiOperation::write(set_tx), hal::SpiOperation::read({})};
    REQUIRE(spi->transaction(empty_read).has_value());
    CHECK(chip.sent().empty());
}
