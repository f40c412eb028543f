#include <doctest/doctest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "trovik/profile/control.hpp"

using namespace trovik::profile::control;
namespace model = trovik::profile::profile;

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float not_a_number = std::numeric_limits<float>::quiet_NaN();

// One reading and the reaction it must give.
struct Step {
    float reading;
    Reaction expected;
};

void run(Controller controller, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        CAPTURE(step.reading);
        const Reaction got = controller.evaluate(step.reading);
        CHECK(got.actuator == step.expected.actuator);
        REQUIRE(got.alert.has_value() == step.expected.alert.has_value());
        if (!got.alert) continue;
        // Not-a-number readings compare by kind and bits.
        if (const auto* invalid = std::get_if<InvalidReading>(&*got.alert)) {
            const auto* want = std::get_if<InvalidReading>(&*step.expected.alert);
            REQUIRE(want);
            CHECK(std::bit_cast<std::uint32_t>(invalid->reading) == std::bit_cast<std::uint32_t>(want->reading));
        } else {
            CHECK(*got.alert == *step.expected.alert);
        }
    }
}

const Reaction quiet{};
Reaction output(bool on) { return {on, std::nullopt}; }
Reaction output(bool on, Alert alert) { return {on, std::move(alert)}; }
Reaction alert(Alert alert) { return {std::nullopt, std::move(alert)}; }

Controller built(const model::ControlSpec& spec) {
    auto controller = Controller::from_spec(spec);
    REQUIRE(controller.has_value());
    return std::move(*controller);
}

}  // namespace

TEST_CASE("a setpoint controller switches at the deadband edges and alerts outside the safe band") {
    SUBCASE("cooling at 5, hysteresis 0.5, safe band 3") {
        run(Controller::setpoint(5, 0.5f, true, 3), {{5.5f, output(true)},
                                                     {5.2f, output(true)},
                                                     {4.5f, output(false)},
                                                     {4.8f, output(false)},
                                                     {8.0f, output(true)},
                                                     {8.1f, output(true, OutOfRange{8.1f})},
                                                     {1.9f, output(false, OutOfRange{1.9f})}});
    }
    SUBCASE("heating at 35, hysteresis 5: a first reading inside the deadband reports off") {
        run(Controller::setpoint(35, 5, false, 25), {{36, output(false)},
                                                     {30, output(true)},
                                                     {36, output(true)},
                                                     {40, output(false)},
                                                     {36, output(false)},
                                                     {9.9f, output(true, OutOfRange{9.9f})}});
    }
    SUBCASE("a reading that is no number reports the output as it was and changes nothing") {
        run(Controller::setpoint(5, 0.5f, true, 3), {{6, output(true)},
                                                     {not_a_number, output(true, InvalidReading{not_a_number})},
                                                     {-inf, output(true, InvalidReading{-inf})},
                                                     {5.2f, output(true)}});
    }
    SUBCASE("a negative hysteresis counts by its magnitude; not-a-number as zero") {
        run(Controller::setpoint(5, -0.5f, true, 3), {{5.4f, output(false)}, {5.5f, output(true)}});
        run(Controller::setpoint(5, not_a_number, false, 3),
            {{5.1f, output(false)}, {5, output(true)}, {5.01f, output(false)}});
    }
}

TEST_CASE("a level controller estimates the samples left until empty, rounding up") {
    SUBCASE("empty 0.5, warn within 6") {
        run(Controller::level(0.5f, 6), {{2.0f, quiet},
                                         {1.8f, quiet},  // (1.8 - 0.5) / 0.2 = 6.5 -> 7
                                         {1.6f, alert(RunningOut{6})},
                                         {1.7f, quiet},  // rising
                                         {1.7f, quiet},  // level
                                         {0.5f, alert(RunningOut{0})}});
    }
    SUBCASE("at or below empty warns at once, whatever came before") {
        run(Controller::level(0.5f, 6), {{0.4f, alert(RunningOut{0})}, {9, quiet}, {0.5f, alert(RunningOut{0})}});
    }
    SUBCASE("a reading that is no number leaves the previous reading in place") {
        run(Controller::level(0.5f, 6), {{2.0f, quiet},
                                         {inf, alert(InvalidReading{inf})},
                                         {not_a_number, alert(InvalidReading{not_a_number})},
                                         {1.6f, alert(RunningOut{3})},  // (1.6 - 0.5) / 0.4 = 2.75
                                         {1.4f, alert(RunningOut{5})}});
    }
    SUBCASE("a warning horizon of zero warns only at empty") {
        run(Controller::level(0.5f, 0), {{0.7f, quiet}, {0.51f, quiet}, {0.5f, alert(RunningOut{0})}});
    }
    SUBCASE("an empty mark that is not a number never warns; an infinite one is crossed at once or never") {
        run(Controller::level(not_a_number, 6), {{2, quiet}, {1, quiet}, {-1e30f, quiet}});
        run(Controller::level(inf, 6), {{2, alert(RunningOut{0})}});
    }
    SUBCASE("an estimate beyond the largest count is held at it") {
        run(Controller::level(-inf, UINT32_MAX), {{3.4e38f, quiet}, {3e38f, alert(RunningOut{UINT32_MAX})}});
        run(Controller::level(-3e38f, UINT32_MAX), {{3.4e38f, quiet}, {3e38f, alert(RunningOut{UINT32_MAX})}});
        run(Controller::level(0, 1000), {{1, quiet}, {0.999999f, quiet}});
    }
}

TEST_CASE("a surge controller compares each reading with the one before, in 32 bits") {
    SUBCASE("watching rises: 1.0 to 1.3 stays under the 32-bit limit 0.3; 1.0 to 1.4 does not") {
        run(Controller::surge(true, 0.3f), {{1.0f, quiet}, {1.3f, quiet}});
        run(Controller::surge(true, 0.3f), {{1.0f, quiet}, {1.4f, alert(ChangingFast{0.39999998f})}, {-50, quiet}});
    }
    SUBCASE("watching falls, the change is positive") {
        run(Controller::surge(false, 0.3f), {{1.4f, quiet}, {1.0f, alert(ChangingFast{0.39999998f})}, {9, quiet}});
    }
    SUBCASE("a reading that is no number leaves the previous reading in place") {
        run(Controller::surge(true, 0.3f),
            {{1.0f, quiet}, {inf, alert(InvalidReading{inf})}, {1.25f, quiet}, {1.75f, alert(ChangingFast{0.5f})}});
    }
    SUBCASE("a negative limit counts by its magnitude; not-a-number as zero") {
        run(Controller::surge(true, -0.3f), {{1.0f, quiet}, {1.25f, quiet}, {1.75f, alert(ChangingFast{0.5f})}});
        run(Controller::surge(true, not_a_number), {{1.0f, quiet}, {1.0f, quiet}, {1.5f, alert(ChangingFast{0.5f})}});
    }
}

TEST_CASE("a monitor judges nothing") { run(Controller::monitor(), {{1, quiet}, {not_a_number, quiet}, {inf, quiet}}); }

TEST_CASE("a profile's policy becomes its controller") {
    SUBCASE("the irrigation node opens its valve at 30, closes it at 40 and alerts outside 10 to 60") {
        run(built(model::Profile::irrigation_node().control), {{45, output(false)},
                                                               {31, output(false)},
                                                               {30, output(true)},
                                                               {39, output(true)},
                                                               {40, output(false)},
                                                               {10, output(true)},
                                                               {9.9f, output(true, OutOfRange{9.9f})},
                                                               {60, output(false)},
                                                               {60.5f, output(false, OutOfRange{60.5f})}});
    }
    SUBCASE("the fridge monitor cools on at 5.5 and off at 4.5 and alerts outside 2 to 8") {
        run(built(model::Profile::vaccine_fridge_monitor().control), {{5.4f, output(false)},
                                                                      {5.5f, output(true)},
                                                                      {4.6f, output(true)},
                                                                      {4.5f, output(false)},
                                                                      {2, output(false)},
                                                                      {1.9f, output(false, OutOfRange{1.9f})},
                                                                      {8.2f, output(true, OutOfRange{8.2f})}});
    }
    SUBCASE("the flood sensor warns of a 0.4 rise and stays quiet for any fall") {
        run(built(model::Profile::flood_sensor().control),
            {{1.0f, quiet}, {1.4f, alert(ChangingFast{0.39999998f})}, {-20, quiet}});
    }
    SUBCASE("the well-level monitor warns once six samples or fewer are left") {
        auto controller = model::Profile::well_level().controller();
        REQUIRE(controller.has_value());
        run(*controller, {{2.0f, quiet}, {1.8f, quiet}, {1.6f, alert(RunningOut{6})}});
    }
    SUBCASE("a custom kind has no controller here") {
        const auto refusal = [](std::string kind) {
            auto controller = Controller::from_spec({model::Custom{std::move(kind), {}}});
            REQUIRE_FALSE(controller.has_value());
            CHECK(controller.error().kind() == trovik::core::Error::Kind::Codec);
            return controller.error().detail();
        };
        CHECK(refusal("Level") ==
              "no policy decides the control kind `Level`, which is not built in; did you mean "
              "`level`?");
        CHECK(refusal("monitr") ==
              "no policy decides the control kind `monitr`, which is not built in; did you "
              "mean `monitor`?");
        CHECK(refusal("pump_guard") ==
              "no policy decides the control kind `pump_guard`, which is not built in; "
              "resolve the profile through a PolicyRegistry that registers it");
    }
}
