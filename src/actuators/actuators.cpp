// The PCA9685 arithmetic and channel settings, and stepper sequences.
#include <cstdint>
#include <string_view>
#include <tuple>
#include <vector>

#include "actuators/pwm.hpp"
#include "binding/binding.hpp"
#include "trovik/actuators/pca9685.hpp"
#include "trovik/actuators/stepper.hpp"

namespace trovik::py {

const BindingSource this_source{"actuators"};

namespace {

namespace pca9685 = actuators::pca9685;
namespace stepper = actuators::stepper;
using pca9685::Pwm;

using actuators_binding::bytes_of;

stepper::Drive drive_of(std::string_view name) {
    const auto drive = stepper::drive_named(name);
    if (!drive) raise_value_error("drive must be Wave, FullStep, or HalfStep");
    return *drive;
}

Class<stepper::Stepper> stepper_class{
    "Stepper", "A stepper motor's place in its drive sequence, and how far it has turned.", [](auto& c) {
        using S = stepper::Stepper;
        c.init({"drive"}, [](std::string_view drive) { return S(drive_of(drive)); });
        c.def("step",
              "Advances one step and returns the four-bit coil pattern to apply.\n\nThe most significant of the four "
              "bits is the first coil.",
              {"direction"}, [](S& self, std::string_view direction) {
                  const auto way = stepper::direction_named(direction);
                  if (!way) raise_value_error("direction must be Forward or Backward");
                  return self.step(*way);
              });
        c.prop("coils", "The coil pattern currently held, without advancing.", [](const S& s) { return s.coils(); });
        c.prop("steps", "How many steps have been taken, signed by direction.", [](const S& s) { return s.steps(); });
    }};

const Function pca9685_limits_fn{
    "pca9685_limits",
    "Returns the PCA9685 constants a caller sizes its arithmetic against.\n\nThe tuple is "
    "the internal oscillator frequency in hertz, the channel count,\nand the counts per "
    "period.",
    {},
    [] {
        return std::tuple{pca9685::kOscillatorHz, pca9685::kChannels, pca9685::kCountsPerPeriod};
    }};

const Function stepper_timing_fn{
    "stepper_timing", "Returns the timing a stepper driver starts with, in microseconds.", {}, [] {
        return std::tuple{stepper::kTiming.step_interval_micros, stepper::kTiming.settle_micros};
    }};

const Function pca9685_channel_register_fn{"pca9685_channel_register",
                                           "Returns the first of a PCA9685 channel's four consecutive registers.",
                                           {"channel"},
                                           [](std::uint8_t channel) {
                                               const auto reg = pca9685::channel_register(channel);
                                               if (!reg) raise_value_error("channel must be below 16");
                                               return *reg;
                                           }};

const Function pca9685_prescale_for_frequency_fn{
    "pca9685_prescale_for_frequency",
    "Returns the prescale value that sets a PCA9685 update rate.",
    {"update_rate_hz", "osc_hz"},
    [](std::uint32_t rate, std::uint32_t osc) { return pca9685::prescale_for_frequency(rate, osc); }};

const Function pca9685_frequency_for_prescale_fn{
    "pca9685_frequency_for_prescale",
    "Returns the update rate a PCA9685 prescale value produces, in hertz.",
    {"prescale", "osc_hz"},
    [](std::uint8_t prescale, std::uint32_t osc) { return pca9685::frequency_for_prescale(prescale, osc); }};

const Function pwm_from_counts_fn{
    "pwm_from_counts",
    "Builds a channel's four register bytes from explicit on and off counts.",
    {"on", "off"},
    [](std::uint16_t on, std::uint16_t off) { return bytes_of(Pwm::from_counts(on, off)); }};

const Function pwm_duty_fn{"pwm_duty",
                           "Builds a channel's register bytes with no phase delay: on at 0, off at `off`.\n\nThe "
                           "datasheet rules out the same count in on and off, so 0 is the full-off setting\nand 4096 "
                           "or more the full-on one.",
                           {"off"},
                           [](std::uint16_t off) { return bytes_of(Pwm::duty(off)); }};

const Function pwm_servo_fn{"pwm_servo",
                            "Builds the register bytes that drive a hobby servo to a given pulse width.",
                            {"pulse_micros", "update_rate_hz"},
                            [](std::uint32_t pulse, std::uint32_t rate) { return bytes_of(Pwm::servo(pulse, rate)); }};

const Function pwm_counts_fn{"pwm_counts",
                             "Reads a PCA9685 setting back from the four register bytes a channel holds.",
                             {"data"},
                             [](ByteView data) {
                                 const Pwm pwm = actuators_binding::pwm_of(data);
                                 return std::tuple{pwm.on, pwm.off};
                             }};

const Function pwm_full_on_fn{"pwm_full_on", "The register bytes that hold a channel continuously high.", {}, [] {
                                  return bytes_of(Pwm::full_on());
                              }};

const Function pwm_full_off_fn{
    "pwm_full_off", "The register bytes that hold a channel continuously low, the power-on state.", {}, [] {
        return bytes_of(Pwm::full_off());
    }};

const Function stepper_step_count_fn{"stepper_step_count",
                                     "Returns how many steps make up one electrical cycle of a drive pattern.",
                                     {"drive"},
                                     [](std::string_view drive) { return stepper::step_count(drive_of(drive)); }};

const Function stepper_steps_for_degrees_fn{
    "stepper_steps_for_degrees",
    "Returns how many steps a rotation of `degrees` takes on a given motor.",
    {"degrees", "steps_per_revolution"},
    [](float degrees, std::uint32_t per_revolution) { return stepper::steps_for_degrees(degrees, per_revolution); }};

}  // namespace
}  // namespace trovik::py
