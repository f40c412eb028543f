#include <doctest/doctest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "trovik/actuators/pca9685.hpp"
#include "trovik/hal/bus.hpp"

using namespace trovik;
using namespace trovik::actuators;
using namespace trovik::actuators::pca9685;

namespace {

using Bytes = std::vector<std::uint8_t>;

hal::sim::Registers registers_of(const hal::I2cBus& bus, std::uint8_t address = 0x40) {
    return bus.part(address)->bytes()->registers;
}

Bytes channel_bytes(const hal::sim::Registers& r, std::uint8_t first) { return {&r[first], &r[first] + 4}; }

// Drives the simulated part directly: one write transaction.
void send(hal::sim::I2cPart& part, Bytes bytes) {
    const hal::Operation op = hal::Operation::write(bytes);
    REQUIRE(part.transaction(part.address, std::span(&op, 1)));
}

}  // namespace

TEST_CASE("PCA9685 prescale and rate") {
    struct Case {
        std::uint32_t rate, osc;
        std::uint8_t prescale;
    };
    for (const Case c : {Case{200, 25'000'000, 30}, Case{50, 25'000'000, 121}, Case{1000, 25'000'000, 5},
                         Case{1526, 25'000'000, 3}, Case{1'048'576, 25'000'000, 3}, Case{24, 25'000'000, 253},
                         Case{23, 25'000'000, 255}, Case{1, 25'000'000, 255}, Case{0, 25'000'000, 255},
                         // Extremes: no product or sum overflows.
                         Case{0xFFFFFFFF, 0xFFFFFFFF, 3}, Case{1, 0xFFFFFFFF, 255}, Case{200, 0, 3}}) {
        CAPTURE(c.rate);
        CAPTURE(c.osc);
        CHECK(prescale_for_frequency(c.rate, c.osc) == c.prescale);
    }
    CHECK(frequency_for_prescale(30, 25'000'000) == 196.88760375976562f);
    CHECK(frequency_for_prescale(121, 25'000'000) == 50.02881622314453f);
    CHECK(channel_register(0) == 0x06);
    CHECK(channel_register(15) == 0x42);
    CHECK_FALSE(channel_register(16));
}

TEST_CASE("PCA9685 channel settings") {
    struct Case {
        Pwm pwm;
        std::array<std::uint8_t, 4> bytes;
    };
    for (const Case c : {
             Case{Pwm::servo(1500, 50), {0x00, 0x00, 0x33, 0x01}},  // 307
             Case{Pwm::servo(1000, 50), {0x00, 0x00, 0xCC, 0x00}},  // 204
             Case{Pwm::servo(2000, 50), {0x00, 0x00, 0x99, 0x01}},  // 409
             Case{Pwm::servo(0, 50), {0x00, 0x00, 0x00, 0x10}},
             Case{Pwm::servo(4, 50), {0x00, 0x00, 0x00, 0x10}},
             Case{Pwm::servo(5, 50), {0x00, 0x00, 0x01, 0x00}},
             Case{Pwm::servo(20'000, 50), {0x00, 0x00, 0xFF, 0x0F}},
             // p = pulse x rate fills 64 bits and is still counted exactly.
             Case{Pwm::servo(0xFFFFFFFF, 0xFFFFFFFF), {0x00, 0x00, 0xFF, 0x0F}},
             Case{Pwm::duty(0), {0x00, 0x00, 0x00, 0x10}},
             Case{Pwm::duty(1), {0x00, 0x00, 0x01, 0x00}},
             Case{Pwm::duty(4095), {0x00, 0x00, 0xFF, 0x0F}},
             Case{Pwm::duty(4096), {0x00, 0x10, 0x00, 0x00}},
             Case{Pwm::duty(0xFFFF), {0x00, 0x10, 0x00, 0x00}},
             Case{Pwm::full_on(), {0x00, 0x10, 0x00, 0x00}},
             Case{Pwm::full_off(), {0x00, 0x00, 0x00, 0x10}},
             Case{Pwm::from_counts(4096, 0), {0x00, 0x00, 0x00, 0x00}},
             Case{Pwm::from_counts(0x1ABC, 0xF123), {0xBC, 0x0A, 0x23, 0x01}},
         }) {
        CHECK(c.pwm.to_bytes() == c.bytes);
        CHECK(Pwm::from_bytes(c.bytes) == c.pwm);
    }
    // Every bit comes back, flags and bits the part does not keep included.
    const std::array<std::uint8_t, 4> all{0xFF, 0xFF, 0xFF, 0xFF};
    CHECK(Pwm::from_bytes(all) == Pwm{0xFFFF, 0xFFFF});
    CHECK(Pwm::from_bytes(Pwm::full_off().to_bytes()) == Pwm{0, 4096});
}

TEST_CASE("simulated PCA9685 registers") {
    hal::sim::I2cPart part = sim::part(0x40);
    const auto& r = part.registers;
    CHECK(r[Mode1] == 0x11);
    CHECK(r[Mode2] == 0x04);
    CHECK(Bytes(&r[2], &r[6]) == Bytes{0xE2, 0xE4, 0xE8, 0xE0});
    CHECK(r[PreScale] == 0x1E);
    for (std::uint8_t n = 0; n < 16; ++n)
        CHECK(channel_bytes(r, *channel_register(n)) == Bytes{0, 0, 0, 0x10});

    SUBCASE("the prescale is taken only while asleep, and never below 3") {
        send(part, {PreScale, 0x01});
        CHECK(r[PreScale] == 3);
        send(part, {Mode1, 0x00});
        send(part, {PreScale, 0x79});
        CHECK(r[PreScale] == 3);
    }
    SUBCASE("masks, reserved registers and the sticky clock bit") {
        send(part, {Mode1, 0x40});
        send(part, {Mode1, 0x00});
        CHECK(r[Mode1] == 0x40);
        send(part, {Mode2, 0xFF});
        CHECK(r[Mode2] == 0x1F);
        send(part, {0x02, 0xFF});
        CHECK(r[0x02] == 0xFE);
        send(part, {0x07, 0xFF});
        CHECK(r[0x07] == 0x1F);
        send(part, {0x06, 0xFF});
        CHECK(r[0x06] == 0xFF);
        send(part, {0x46, 0x55});
        send(part, {0xFF, 0x55});
        CHECK(r[0x46] == 0);
        CHECK(r[0xFF] == 0);
    }
    SUBCASE("the all-channel registers write every channel and read 0") {
        send(part, {AllLedOnL, 0x5A});
        for (std::uint8_t n = 0; n < 16; ++n)
            CHECK(r[*channel_register(n)] == 0x5A);
        CHECK(r[AllLedOnL] == 0);
        CHECK(sim::read(r, AllLedOnL) == 0);
        send(part, {AllLedOffH, 0xFF});
        CHECK(r[0x45] == 0x1F);
    }
    SUBCASE("the pointer") {
        // Auto-increment off: every byte lands in the named register.
        send(part, {0x42, 1, 2, 3, 4});
        CHECK(channel_bytes(r, 0x42) == Bytes{4, 0, 0, 0x10});
        CHECK(part.pointer == 0x42);
        // On: LED15's four registers, then back to MODE1.
        send(part, {Mode1, 0x31});
        send(part, {0x42, 1, 2, 3, 4});
        CHECK(channel_bytes(r, 0x42) == Bytes{1, 2, 3, 4});
        CHECK(part.pointer == 0x00);
        CHECK(sim::next(r, PreScale) == 0x00);
        CHECK(sim::next(r, 0xFF) == 0x00);
        CHECK(sim::next(r, 0x46) == 0x47);
    }
    SUBCASE("restart") {
        send(part, {Mode1, 0x20});
        // Asleep with every output held off: nothing to restart.
        send(part, {Mode1, 0x30});
        CHECK(r[Mode1] == 0x30);
        send(part, {Mode1, 0x20});
        send(part, {0x06, 0, 0, 0x00, 0x08});  // channel 0 running
        send(part, {Mode1, 0x30});
        CHECK(r[Mode1] == 0xB0);
        send(part, {Mode1, 0x20});
        CHECK(r[Mode1] == 0xA0);
        send(part, {Mode1, 0xA0});
        CHECK(r[Mode1] == 0x20);

        send(part, {Mode1, 0x30});
        REQUIRE(r[Mode1] == 0xB0);
        send(part, {Mode2, mode2::kChangeOnAck});
        send(part, {0x06, 0x01});  // ON_L with outputs changing on acknowledge: the mark stays
        CHECK(r[Mode1] == 0xB0);
        send(part, {0x09, 0x00});  // OFF_H ends a setting whatever OCH says
        CHECK(r[Mode1] == 0x30);

        send(part, {Mode1, 0x20});
        send(part, {Mode1, 0x30});
        REQUIRE(r[Mode1] == 0xB0);
        send(part, {Mode2, 0x00});
        send(part, {0x06, 0x01});
        CHECK(r[Mode1] == 0x30);
    }
}

TEST_CASE("PCA9685 driver against the simulated part") {
    const hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x40)});
    driver::Pca9685 pca(bus, 0x40);
    CHECK(pca.prescale() == 30);
    CHECK(pca.frequency() == 196.88760375976562f);

    SUBCASE("reading a channel changes nothing") {
        const auto before = registers_of(bus);
        CHECK(pca.channel(0) == Pwm::full_off());
        CHECK(bus.transfers() == 4);
        CHECK(registers_of(bus) == before);
        CHECK_FALSE(pca.initialised());
        CHECK(pca.channel(16).error() == DriverError{Argument{kNoSuchChannel}});
        CHECK(bus.transfers() == 4);
    }
    SUBCASE("a channel load initialises first") {
        const Pwm pwm = Pwm::from_bytes(std::array<std::uint8_t, 4>{0, 0, 0, 0x08});
        REQUIRE(pca.set_channel(15, pwm));
        CHECK(bus.transfers() == 6);
        CHECK(bus.waited_micros() == 500);
        const auto r = registers_of(bus);
        CHECK(r[Mode1] == 0x20);
        CHECK(r[Mode2] == 0x04);
        CHECK(r[PreScale] == 30);
        CHECK(pca.channel(15) == pwm);
        // Initialised once only.
        REQUIRE(pca.set_channel(0, Pwm::duty(100)));
        CHECK(bus.transfers() == 6 + 4 + 1);
    }
    SUBCASE("a channel past 15 sends nothing, not even the initialisation") {
        CHECK(pca.set_channel(16, Pwm::full_on()).error() == DriverError{Argument{kNoSuchChannel}});
        CHECK(bus.transfers() == 0);
        CHECK(DriverError{Argument{kNoSuchChannel}}.message() == "the PCA9685 has sixteen channels, 0 to 15");
    }
    SUBCASE("sleep, wake and the general-call reset") {
        REQUIRE(pca.init());
        REQUIRE(pca.set_all(Pwm::duty(2048)));
        CHECK(registers_of(bus)[0x45] == 0x08);
        REQUIRE(pca.sleep());
        CHECK(bus.waited_micros() == 500);
        CHECK(registers_of(bus)[Mode1] == 0xB0);
        REQUIRE(pca.wake());
        CHECK(bus.waited_micros() == 1000);
        CHECK(registers_of(bus)[Mode1] == 0x20);
        // Nothing answers the general call on a simulated bus.
        const auto reset = pca.software_reset();
        REQUIRE_FALSE(reset);
        CHECK(reset.error().message() == hal::BusError{hal::BusError::NoAnswer{0x00}}.message());
        CHECK_FALSE(pca.initialised());
        const auto before = bus.transfers();
        REQUIRE(pca.set_all(Pwm::full_off()));
        CHECK(bus.transfers() == before + 6);
    }
    SUBCASE("wiring flags") {
        driver::Pca9685 wired(bus, 0x40,
                              {.frequency_hz = 50, .totem_pole = false, .inverted = true, .change_on_ack = true});
        REQUIRE(wired.init());
        CHECK(registers_of(bus)[Mode2] == 0x18);
        CHECK(registers_of(bus)[PreScale] == 121);
    }
}

TEST_CASE("PCA9685 initialisation that fails leaves the driver uninitialised") {
    const hal::I2cBus bus = hal::I2cBus::simulated({});
    driver::Pca9685 pca(bus, 0x40);
    const auto done = pca.init();
    REQUIRE_FALSE(done);
    CHECK(std::holds_alternative<hal::BusError>(done.error().cause));
    CHECK(bus.transfers() == 1);
    CHECK_FALSE(pca.initialised());
}
