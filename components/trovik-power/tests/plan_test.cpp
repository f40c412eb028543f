#include <doctest/doctest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "trovik/power/plan.hpp"

using namespace trovik::power::plan;

namespace {

constexpr float not_a_number = std::numeric_limits<float>::quiet_NaN();
constexpr auto Active = PowerMode::Active;
constexpr auto Saver = PowerMode::Saver;
constexpr auto Critical = PowerMode::Critical;

const PowerPlan plan =
    PowerPlan::make(Duration::from_micros(60'000'000), Duration::from_micros(300'000'000), Duration::from_secs(900));

}  // namespace

TEST_CASE("a charge calls for a mode on its own, exactly at a threshold the higher one") {
    struct Case {
        float soc;
        PowerMode mode;
    };
    for (const Case& c : std::vector<Case>{{0.5f, Active},
                                           {2.0f, Active},
                                           {0.4999f, Saver},
                                           {0.2f, Saver},
                                           {0.1999f, Critical},
                                           {-1, Critical},
                                           {not_a_number, Critical}}) {
        CAPTURE(c.soc);
        CHECK(plan.mode(c.soc) == c.mode);
    }
}

TEST_CASE("moving between modes drops at once and climbs only past the margin") {
    struct Case {
        PowerMode current;
        float soc;
        PowerMode next;
    };
    const std::vector<Case> cases = {
        {Saver, 0.52f, Saver},
        {Saver, 0.55f, Active},  // 0.5 + 0.05 in 32 bits is 0.55
        {Saver, 0.5f, Saver},
        {Saver, 0.15f, Critical},
        {Critical, 0.24f, Critical},
        {Critical, 0.25f, Saver},  // 0.2 + 0.05 in 32 bits is 0.25
        {Critical, 0.54f, Saver},
        {Critical, 0.6f, Active},  // straight up past saver_below + margin
        {Critical, not_a_number, Critical},
        {Active, 0.45f, Saver},
        {Active, 0.1f, Critical},
        {Active, 0.5f, Active},
    };
    for (const Case& c : cases) {
        CAPTURE(name(c.current));
        CAPTURE(c.soc);
        CHECK(plan.next_mode(c.current, c.soc) == c.next);
    }
    SUBCASE("with no margin the modes change exactly at the thresholds") {
        const PowerPlan sharp = plan.with_hysteresis(0);
        CHECK(sharp.next_mode(Saver, 0.5f) == Active);
        CHECK(sharp.next_mode(Critical, 0.2f) == Saver);
        CHECK(sharp.next_mode(Critical, 0.1999f) == Critical);
    }
}

TEST_CASE("while charging only the critical threshold counts, its margin applied on the way up") {
    CHECK(plan.mode_while_charging(0.1f, true) == Saver);
    CHECK(plan.mode_while_charging(0.3f, true) == Active);
    CHECK(plan.mode_while_charging(0.3f, false) == Saver);
    CHECK(plan.mode_while_charging(not_a_number, true) == Saver);
    struct Case {
        PowerMode current;
        float soc;
        PowerMode next;
    };
    const std::vector<Case> cases = {
        {Saver, 0.22f, Saver},           {Saver, 0.25f, Active},   {Saver, 0.1f, Saver},
        {Saver, not_a_number, Saver},    {Critical, 0.24f, Saver}, {Critical, 0.25f, Active},
        {Critical, not_a_number, Saver}, {Active, 0.1f, Saver},    {Active, 0.21f, Active},
        {Active, not_a_number, Saver},
    };
    for (const Case& c : cases) {
        CAPTURE(name(c.current));
        CAPTURE(c.soc);
        CHECK(plan.next_mode_while_charging(c.current, c.soc, true) == c.next);
        CHECK(plan.next_mode_while_charging(c.current, c.soc, false) == plan.next_mode(c.current, c.soc));
    }
}

TEST_CASE("each mode has its interval; margins and thresholds are replaced in copies") {
    CHECK(plan.interval(plan.mode(0.3f)).as_micros() == 300'000'000);
    CHECK(plan.interval(plan.mode(not_a_number)).as_micros() == 900'000'000);
    CHECK(plan.interval(Active) == Duration::from_secs(60));
    CHECK(plan.with_hysteresis(-1).hysteresis == 0.0f);
    CHECK(plan.with_hysteresis(not_a_number).hysteresis == 0.0f);
    CHECK_FALSE(std::signbit(plan.with_hysteresis(-0.0f).hysteresis));
    CHECK(plan.with_hysteresis(0.25f).hysteresis == 0.25f);
    const PowerPlan odd = plan.with_thresholds(0.1f, 0.9f);  // taken as given
    CHECK((odd.saver_below == 0.1f && odd.critical_below == 0.9f && odd.hysteresis == 0.05f));
    CHECK(odd.interval(Saver) == plan.interval(Saver));
    // No charge counts as below a threshold that is not a number.
    const PowerPlan blind = plan.with_thresholds(not_a_number, not_a_number);
    CHECK(blind.mode(-5) == Active);
    CHECK(blind.next_mode(Critical, -5) == Active);
    CHECK(plan.hysteresis == 0.05f);
}

TEST_CASE("mode names match exactly") {
    CHECK(parse_mode("Saver") == Saver);
    for (const char* name : {"Turbo", "active", " Active", ""}) {
        CAPTURE(name);
        const auto mode = parse_mode(name);
        REQUIRE_FALSE(mode.has_value());
        CHECK(mode.error().message() == std::string("unknown power mode ") + name);
    }
    CHECK(name(Critical) == "Critical");
}
