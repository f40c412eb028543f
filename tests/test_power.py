"""Duty cycles and the power plan: mode tables, and the exact nanosecond split checked against fractions.Fraction."""
import random
from fractions import Fraction

import numpy as np
import pytest

from float32_model import INF, NAN, f32
from trovik._native import ControlPolicy, DutyCycle, PowerPlan, PowerScheduleSpec, Profile, TrovikError

U64_MAX = 2 ** 64 - 1


@pytest.fixture
def plan():
    return PowerPlan(60_000_000, 300_000_000, 900_000_000)


# ---- the power plan ---------------------------------------------------------------------------

def test_a_plan_starts_with_the_default_thresholds(plan):
    assert (plan.saver_below, plan.critical_below, plan.hysteresis) == (0.5, f32(0.2), f32(0.05))


@pytest.mark.parametrize("soc,mode", [
    (0.5, "Active"), (2.0, "Active"), (0.4999, "Saver"), (0.2, "Saver"), (0.1999, "Critical"), (-1.0, "Critical"),
    (NAN, "Critical"), (INF, "Active"), (-INF, "Critical"),
])
def test_a_charge_calls_for_a_mode(plan, soc, mode):
    assert plan.mode(soc) == mode


@pytest.mark.parametrize("current,soc,mode", [
    ("Saver", 0.52, "Saver"),
    ("Saver", 0.55, "Active"),  # 0.5 + 0.05 in 32 bits is exactly the 32-bit 0.55
    ("Saver", 0.15, "Critical"),
    ("Critical", 0.24, "Critical"),
    ("Critical", 0.25, "Saver"),  # 0.2 + 0.05 in 32 bits is exactly the 32-bit 0.25
    ("Critical", 0.6, "Active"),
    ("Critical", NAN, "Critical"),
    ("Active", 0.45, "Saver"),
    ("Active", 0.1, "Critical"),
    ("Active", 0.5, "Active"),
])
def test_modes_drop_at_once_and_climb_past_the_margin(plan, current, soc, mode):
    assert f32(0.5) + f32(0.05) == f32(0.55) and f32(0.2) + f32(0.05) == f32(0.25)
    assert plan.next_mode(current, soc) == mode
    assert plan.next_mode_while_charging(current, soc, False) == mode


@pytest.mark.parametrize("margin,kept", [(0.0, 0.0), (-1.0, 0.0), (NAN, 0.0), (-0.0, 0.0), (0.1, f32(0.1))])
def test_the_margin_is_never_negative(plan, margin, kept):
    changed = plan.with_hysteresis(margin)
    assert changed.hysteresis == kept and str(changed.hysteresis) == str(float(kept))
    assert plan.hysteresis == f32(0.05)
    if kept == 0:
        # No margin: the modes change exactly at the thresholds.
        assert changed.next_mode("Saver", 0.5) == "Active" and changed.next_mode("Critical", 0.2) == "Saver"
        assert changed.next_mode("Critical", 0.1999) == "Critical"


@pytest.mark.parametrize("call,soc,mode", [
    ("mode", 0.1, "Saver"), ("mode", 0.3, "Active"), ("mode", NAN, "Saver"),
    (("Saver",), 0.22, "Saver"), (("Saver",), 0.25, "Active"), (("Saver",), 0.1, "Saver"),
    (("Critical",), 0.24, "Saver"), (("Critical",), 0.25, "Active"), (("Critical",), NAN, "Saver"),
    (("Active",), 0.19, "Saver"), (("Active",), 0.21, "Active"), (("Active",), NAN, "Saver"),
])
def test_charging_eases_every_band_toward_full_duty(plan, call, soc, mode):
    if call == "mode":
        assert plan.mode_while_charging(soc, True) == mode
        assert plan.mode_while_charging(soc, False) == plan.mode(soc)
    else:
        assert plan.next_mode_while_charging(call[0], soc, True) == mode
    assert plan.mode_while_charging(0.3, False) == "Saver"


@pytest.mark.parametrize("soc,interval", [(0.3, 300_000_000), (NAN, 900_000_000), (0.9, 60_000_000)])
def test_each_mode_has_its_interval(plan, soc, interval):
    assert plan.interval_us(soc) == interval
    assert plan.interval_for_us(plan.mode(soc)) == interval


def test_thresholds_are_replaced_as_given(plan):
    odd = plan.with_thresholds(0.1, 0.9)
    assert (odd.saver_below, odd.critical_below, odd.hysteresis) == (f32(0.1), f32(0.9), f32(0.05))
    assert odd.mode(0.5) == "Critical" and odd.interval_for_us("Saver") == 300_000_000
    # No charge counts as below a threshold that is not a number.
    blind = plan.with_thresholds(NAN, NAN)
    assert blind.mode(-5.0) == "Active" and blind.next_mode("Critical", -5.0) == "Active"
    assert plan.saver_below == 0.5


@pytest.mark.parametrize("name", ["Turbo", "active", "ACTIVE", " Saver", ""])
def test_an_unknown_mode_name_is_refused_as_given(plan, name):
    for call in (lambda: plan.next_mode(name, 0.5), lambda: plan.next_mode_while_charging(name, 0.5, True),
                 lambda: plan.interval_for_us(name)):
        with pytest.raises(TrovikError) as info:
            call()
        assert str(info.value) == "unknown power mode " + name


@pytest.mark.parametrize("call,error", [
    (lambda p: p.next_mode(1, 0.5), TypeError),
    (lambda p: p.next_mode("Turbo", "0.5"), TypeError),  # every argument is converted before the name is judged
    (lambda p: p.mode_while_charging(0.5, 1), TypeError),
    (lambda p: p.interval_for_us(None), TypeError),
    (lambda p: PowerPlan(-1, 0, 0), OverflowError),
    (lambda p: PowerPlan(0, 2 ** 64, 0), OverflowError),
])
def test_plan_arguments_are_converted_strictly(plan, call, error):
    with pytest.raises(error):
        call(plan)


def model_next_mode(current, soc, saver_below=f32(0.5), critical_below=f32(0.2), h=f32(0.05)):
    if np.isnan(soc) or soc < critical_below:
        return "Critical"
    if current == "Active":
        return "Saver" if soc < saver_below else "Active"
    if current == "Saver" and soc < saver_below:
        return "Saver"
    if soc < critical_below + h:
        return current
    return "Saver" if soc < saver_below + h else "Active"


def test_next_mode_agrees_with_a_32_bit_model_around_every_threshold(plan):
    edges = [f32(x) for x in (0.2, 0.25, 0.5, 0.55)]
    charges = [np.nextafter(e, f32(d)) for e in edges for d in (-1, 1)] + edges + [f32(0), f32(1)]
    for soc in charges:
        for current in ("Active", "Saver", "Critical"):
            assert plan.next_mode(current, float(soc)) == model_next_mode(current, soc), (current, soc)


# ---- a profile's plan -------------------------------------------------------------------------

def test_the_well_level_plan_is_its_schedule():
    plan = Profile.well_level().power_plan()
    assert [plan.interval_for_us(m) for m in ("Active", "Saver", "Critical")] == [600_000_000, 1_800_000_000,
                                                                                   3_600_000_000]
    assert (plan.saver_below, plan.critical_below, plan.hysteresis) == (0.5, f32(0.2), f32(0.05))


def test_a_plan_from_a_schedule_keeps_whole_seconds_beyond_64_bits_of_microseconds():
    profile = Profile("n", "t", ControlPolicy("Monitor"),
                      PowerScheduleSpec(1, U64_MAX, U64_MAX, saver_below=1.0, critical_below=0.3, hysteresis=0.0))
    plan = profile.power_plan()
    assert plan.interval_for_us("Critical") == U64_MAX * 10 ** 6
    assert plan.interval_us(0.1) == U64_MAX * 10 ** 6 and plan.interval_us(1.0) == 10 ** 6
    assert (plan.saver_below, plan.critical_below, plan.hysteresis) == (1.0, f32(0.3), 0.0)
    assert profile.power_plan() is not plan


# ---- duty cycles ------------------------------------------------------------------------------

def model_active_us(period_us, fraction):
    """The awake time: the fraction (widened) times the period's seconds as a double, made exact with Fraction,
    rounded to the nearest nanosecond (ties to even, as round() of a Fraction does), then down to microseconds."""
    fraction = f32(fraction)
    if fraction >= 1:
        return period_us
    if not fraction > 0:
        return 0
    secs, rest = divmod(period_us, 10 ** 6)
    seconds = float(fraction) * (float(secs) + float(rest * 1000) / 1e9)
    return round(Fraction(seconds) * 10 ** 9) // 1000


@pytest.mark.parametrize("period_us,fraction,active_us", [
    (1000, 0.25, 250), (1000, 0.7, 700), (3, 0.5, 1), (1000, 1.5, 1000), (1000, 1.0, 1000), (1000, -0.5, 0),
    (1000, NAN, 0), (1000, 0.0, 0), (0, 0.5, 0), (1000, INF, 1000), (U64_MAX, 0.5, 9223372036854775390),
])
def test_a_fraction_of_a_period_is_awake(period_us, fraction, active_us):
    duty = DutyCycle.from_fraction(period_us, fraction)
    assert (duty.active_us, duty.sleep_us, duty.period_us) == (active_us, period_us - active_us, period_us)
    assert model_active_us(period_us, fraction) == active_us


def test_the_awake_time_is_the_exact_nearest_nanosecond_of_the_product():
    rng = random.Random(7)
    periods = [rng.randrange(1, 10 ** 6) for _ in range(300)] + [rng.randrange(1, U64_MAX) for _ in range(300)]
    # 32-bit fractions such as 0.7 sit just below their decimal value: the product lands a hair under a
    # whole microsecond, and only rounding to the nearest nanosecond first brings it back up.
    cases = [(p, rng.random()) for p in periods] + [(p, rng.choice([0.7, 0.1, 0.3, 0.999])) for p in periods]
    for period_us, fraction in cases:
        duty = DutyCycle.from_fraction(period_us, fraction)
        assert duty.active_us == model_active_us(period_us, fraction), (period_us, fraction)
        assert duty.active_us + duty.sleep_us == period_us
    # Without the nanosecond step, 0.7 of a millisecond would be 699 us.
    assert int(float(f32(0.7)) * 1000) == 699 and DutyCycle.from_fraction(1000, 0.7).active_us == 700


@pytest.mark.parametrize("active_us,sleep_us,fraction,period_us", [
    (250, 750, 0.25, 1000),
    (0, 0, 0.0, 0),
    (7, 0, 1.0, 7),
    (1_100_000, 2_000_000, float(f32(f32(1) + f32(0.1)) / f32(f32(3) + f32(0.1))), 3_100_000),
    (U64_MAX, 1, 1.0, U64_MAX),  # the period is held at the largest count
])
def test_a_duty_cycle_reports_its_split(active_us, sleep_us, fraction, period_us):
    duty = DutyCycle(active_us, sleep_us)
    assert (duty.active_us, duty.sleep_us, duty.period_us, duty.fraction) == (active_us, sleep_us, period_us,
                                                                              fraction)


@pytest.mark.parametrize("call,error", [
    (lambda: DutyCycle(-1, 0), OverflowError),
    (lambda: DutyCycle(0, 2 ** 64), OverflowError),
    (lambda: DutyCycle.from_fraction(-1, 0.5), OverflowError),
    (lambda: DutyCycle.from_fraction(1000, "half"), TypeError),
    (lambda: DutyCycle(1.5, 0), TypeError),
])
def test_duty_arguments_are_converted_strictly(call, error):
    with pytest.raises(error):
        call()
