#include "trovik/actuators/pca9685.hpp"

#include <algorithm>

namespace trovik::actuators::pca9685 {

std::uint8_t prescale_for_frequency(std::uint32_t update_rate_hz, std::uint32_t osc_hz) noexcept {
    // In 64 bits: 4096 x rate and osc + 2048 x rate both pass 32 bits.
    const std::uint64_t rate = update_rate_hz == 0 ? 1 : update_rate_hz;
    const std::uint64_t quotient = (osc_hz + 2048 * rate) / (4096 * rate);
    const std::uint64_t prescale = quotient == 0 ? 0 : quotient - 1;
    return static_cast<std::uint8_t>(std::clamp<std::uint64_t>(prescale, 3, 255));
}

float frequency_for_prescale(std::uint8_t prescale, std::uint32_t osc_hz) noexcept {
    return static_cast<float>(osc_hz) / ((static_cast<float>(prescale) + 1.0f) * 4096.0f);
}

Pwm Pwm::servo(std::uint32_t pulse_micros, std::uint32_t update_rate_hz) noexcept {
    // floor(p x 4096 / 1e6) for p = pulse x rate, which fills 64 bits: with
    // p = q x 1e6 + r it is q x 4096 + floor(r x 4096 / 1e6), and neither
    // product overflows.
    const std::uint64_t p = std::uint64_t{pulse_micros} * update_rate_hz;
    const std::uint64_t counts = p / 1'000'000 * 4096 + p % 1'000'000 * 4096 / 1'000'000;
    if (counts == 0) return full_off();
    return {0, static_cast<std::uint16_t>(std::min<std::uint64_t>(counts, kCountsPerPeriod - 1))};
}

namespace driver {

namespace {

constexpr std::uint32_t kOscillatorStartMicros = 500;

}  // namespace

Pca9685::Pca9685(hal::I2cBus bus, std::uint8_t address, Settings settings) noexcept
    : bus_(bus), delay_(bus.delay()), settings_(settings), address_(address) {}

std::uint8_t Pca9685::prescale() const noexcept {
    return prescale_for_frequency(settings_.frequency_hz, settings_.oscillator_hz);
}

float Pca9685::frequency() const noexcept { return frequency_for_prescale(prescale(), settings_.oscillator_hz); }

DriverResult<void> Pca9685::write(std::span<const std::uint8_t> bytes) const {
    if (auto done = bus_.write(address_, bytes); !done) return fail(std::move(done.error()));
    return {};
}

DriverResult<void> Pca9685::init() {
    using namespace mode1;
    const auto wiring = static_cast<std::uint8_t>((settings_.totem_pole ? mode2::kTotemPole : 0) |
                                                  (settings_.change_on_ack ? mode2::kChangeOnAck : 0) |
                                                  (settings_.inverted ? mode2::kInverted : 0));
    // The part takes a prescale only while its oscillator sleeps.
    const std::array<std::uint8_t, 2> asleep{Mode1, kSleep | kAutoIncrement};
    const std::array<std::uint8_t, 2> scale{PreScale, prescale()};
    const std::array<std::uint8_t, 2> outputs{Mode2, wiring};
    for (const auto& bytes : {asleep, scale, outputs})
        if (auto done = write(bytes); !done) return done;
    if (auto done = wake(); !done) return done;
    initialised_ = true;
    return {};
}

DriverResult<Pwm> Pca9685::channel(std::uint8_t channel) const {
    const auto first = channel_register(channel);
    if (!first) return fail(Argument{kNoSuchChannel});
    std::array<std::uint8_t, 4> bytes{};
    for (std::uint8_t i = 0; i < 4; ++i) {
        const std::array<std::uint8_t, 1> reg{static_cast<std::uint8_t>(*first + i)};
        if (auto done = bus_.write_read(address_, reg, std::span(bytes).subspan(i, 1)); !done)
            return fail(std::move(done.error()));
    }
    return Pwm::from_bytes(bytes);
}

DriverResult<void> Pca9685::load(std::uint8_t first, const Pwm& pwm) {
    if (!initialised_)
        if (auto done = init(); !done) return done;
    const auto setting = pwm.to_bytes();
    // The part's auto-increment spreads the four bytes over ON_L to OFF_H.
    const std::array<std::uint8_t, 5> bytes{first, setting[0], setting[1], setting[2], setting[3]};
    return write(bytes);
}

DriverResult<void> Pca9685::set_channel(std::uint8_t channel, const Pwm& pwm) {
    const auto first = channel_register(channel);
    if (!first) return fail(Argument{kNoSuchChannel});
    return load(*first, pwm);
}

DriverResult<void> Pca9685::set_all(const Pwm& pwm) { return load(AllLedOnL, pwm); }

DriverResult<void> Pca9685::sleep() {
    const std::array<std::uint8_t, 2> bytes{Mode1, mode1::kSleep | mode1::kAutoIncrement};
    return write(bytes);
}

DriverResult<void> Pca9685::wake() {
    const std::array<std::uint8_t, 2> awake{Mode1, mode1::kAutoIncrement};
    if (auto done = write(awake); !done) return done;
    delay_.delay_us(kOscillatorStartMicros);
    const std::array<std::uint8_t, 2> restart{Mode1, mode1::kRestart | mode1::kAutoIncrement};
    return write(restart);
}

DriverResult<void> Pca9685::software_reset() {
    initialised_ = false;
    const std::array<std::uint8_t, 1> reset{0x06};
    if (auto done = bus_.write(0x00, reset); !done) return fail(std::move(done.error()));
    return {};
}

}  // namespace driver

}  // namespace trovik::actuators::pca9685
