"""Controllers: readings judged one at a time in single precision, against an independent numpy.float32 model."""
import math
import random

import numpy as np
import pytest

from float32_model import INF, NAN, f32, same
from trovik._native import (AlertReport, ControlPolicy, Controller, PowerScheduleSpec, Profile, Reaction,
                            TrovikError)

U32_MAX = 2 ** 32 - 1


# ---- the model: each operation rounded to 32 bits --------------------------------------------

def magnitude(x):
    x = f32(x)
    return f32(0) if np.isnan(x) else abs(x)


class SetpointModel:
    def __init__(self, setpoint, hysteresis, cooling, safe_band):
        self.setpoint, self.hysteresis = f32(setpoint), magnitude(hysteresis)
        self.cooling, self.safe_band, self.on = cooling, f32(safe_band), False

    def evaluate(self, r):
        if not np.isfinite(r):
            return self.on, ("InvalidReading", r)
        low, high = self.setpoint - self.hysteresis, self.setpoint + self.hysteresis
        switch_on, switch_off = (r >= high, r <= low) if self.cooling else (r <= low, r >= high)
        if switch_on:
            self.on = True
        elif switch_off:
            self.on = False
        return self.on, (("OutOfRange", r) if abs(r - self.setpoint) > self.safe_band else None)


class LevelModel:
    def __init__(self, empty, warn_within):
        self.empty, self.warn_within, self.previous = f32(empty), warn_within, None

    def evaluate(self, r):
        if not np.isfinite(r):
            return None, ("InvalidReading", r)
        previous, self.previous = self.previous, r
        if np.isnan(self.empty):
            return None, None
        if r <= self.empty:
            return None, ("RunningOut", 0)
        if previous is None or previous - r <= 0:
            return None, None
        estimate = np.ceil((r - self.empty) / (previous - r))
        samples = U32_MAX if not estimate <= U32_MAX else int(estimate)
        return None, (("RunningOut", samples) if samples <= self.warn_within else None)


class SurgeModel:
    def __init__(self, rising, limit):
        self.rising, self.limit, self.previous = rising, magnitude(limit), None

    def evaluate(self, r):
        if not np.isfinite(r):
            return None, ("InvalidReading", r)
        previous, self.previous = self.previous, r
        if previous is None:
            return None, None
        change = r - previous if self.rising else previous - r
        return None, (("ChangingFast", change) if change > self.limit else None)


def reaction_of(reaction):
    """(actuator, (kind, value) or None), reading the attribute the kind sets and checking the others are None."""
    alert = reaction.alert
    if alert is None:
        return reaction.actuator, None
    fields = {"OutOfRange": "reading", "InvalidReading": "reading", "RunningOut": "samples", "ChangingFast": "rate"}
    name = fields[alert.kind]
    others = [getattr(alert, f) for f in ("reading", "samples", "rate", "code", "value") if f != name]
    assert others == [None] * 4
    return reaction.actuator, (alert.kind, getattr(alert, name))


def assert_same_run(controller, model, readings):
    with np.errstate(all="ignore"):
        for reading in readings:
            want_actuator, want_alert = model.evaluate(f32(reading))
            got_actuator, got_alert = reaction_of(controller.evaluate(reading))
            assert got_actuator == want_actuator, reading
            assert (got_alert is None) == (want_alert is None), (reading, got_alert, want_alert)
            if want_alert:
                assert got_alert[0] == want_alert[0] and same(got_alert[1], want_alert[1]), (reading, got_alert)


def readings(seed, count=400):
    """Values near the thresholds, with small steps, big jumps and readings that are no numbers."""
    rng = random.Random(seed)
    value, out = rng.uniform(0, 10), []
    for _ in range(count):
        pick = rng.random()
        if pick < 0.03:
            out.append(rng.choice([NAN, INF, -INF]))
            continue
        step = rng.choice([0.1, 0.2, 0.3, 0.4]) * rng.choice([-1, 1])
        value += rng.choice([rng.gauss(0, 0.3), rng.uniform(-5, 5), 0.0, step])
        out.append(value)
    return out


CONTROLLERS = [
    ("setpoint cooling", lambda: Controller.setpoint(5.0, 0.5, True, 3.0), lambda: SetpointModel(5.0, 0.5, True, 3.0)),
    ("setpoint heating", lambda: Controller.setpoint(35.0, 5.0, False, 25.0),
     lambda: SetpointModel(35.0, 5.0, False, 25.0)),
    ("setpoint negative hysteresis", lambda: Controller.setpoint(5.0, -0.3, False, 1.0),
     lambda: SetpointModel(5.0, -0.3, False, 1.0)),
    ("setpoint NaN hysteresis", lambda: Controller.setpoint(5.0, NAN, True, 1.0),
     lambda: SetpointModel(5.0, NAN, True, 1.0)),
    ("level", lambda: Controller.level(0.5, 6), lambda: LevelModel(0.5, 6)),
    ("level no horizon", lambda: Controller.level(2.0, 0), lambda: LevelModel(2.0, 0)),
    ("level far horizon", lambda: Controller.level(-3.0, U32_MAX), lambda: LevelModel(-3.0, U32_MAX)),
    ("surge rising", lambda: Controller.surge(True, 0.3), lambda: SurgeModel(True, 0.3)),
    ("surge falling", lambda: Controller.surge(False, 0.3), lambda: SurgeModel(False, 0.3)),
    ("surge negative limit", lambda: Controller.surge(True, -0.3), lambda: SurgeModel(True, -0.3)),
    ("surge NaN limit", lambda: Controller.surge(False, NAN), lambda: SurgeModel(False, NAN)),
]


@pytest.mark.parametrize("name,make,model", CONTROLLERS, ids=[c[0] for c in CONTROLLERS])
@pytest.mark.parametrize("seed", [1, 2, 3])
def test_a_controller_follows_the_single_precision_model(name, make, model, seed):
    assert_same_run(make(), model(), readings(seed))


# ---- the documented sequences ------------------------------------------------------------------

ON, OFF = True, False


def run(controller, steps):
    for reading, actuator, alert in steps:
        got = reaction_of(controller.evaluate(reading))
        assert got[0] == actuator, reading
        assert (got[1] is None) == (alert is None), (reading, got)
        if alert is not None:
            assert got[1][0] == alert[0] and same(got[1][1], alert[1]), (reading, got)


@pytest.mark.parametrize("controller,steps", [
    # Cooling at 5 with hysteresis 0.5 and safe band 3.
    (lambda: Controller.setpoint(5.0, 0.5, True, 3.0),
     [(5.5, ON, None), (5.2, ON, None), (4.5, OFF, None), (4.8, OFF, None), (8.0, ON, None),
      (8.1, ON, ("OutOfRange", f32(8.1))), (1.9, OFF, ("OutOfRange", f32(1.9)))]),
    # Heating at 35 with hysteresis 5: a first reading inside the deadband reports off.
    (lambda: Controller.setpoint(35.0, 5.0, False, 25.0),
     [(36.0, OFF, None), (30.0, ON, None), (36.0, ON, None), (40.0, OFF, None), (36.0, OFF, None)]),
    # Not a number on a controller that is on: the output stays on.
    (lambda: Controller.setpoint(5.0, 0.5, True, 3.0), [(6.0, ON, None), (NAN, ON, ("InvalidReading", NAN))]),
    # (1.8 - 0.5) / 0.2 = 6.5 -> 7, no alert; 1.6 gives 5.5 -> 6.
    (lambda: Controller.level(0.5, 6),
     [(2.0, None, None), (1.8, None, None), (1.6, None, ("RunningOut", 6)), (1.7, None, None),
      (0.5, None, ("RunningOut", 0))]),
    # An infinite reading leaves the previous reading in place.
    (lambda: Controller.level(0.5, 6),
     [(2.0, None, None), (INF, None, ("InvalidReading", INF)), (1.6, None, ("RunningOut", 3))]),
    (lambda: Controller.level(0.5, 0), [(0.7, None, None), (0.51, None, None), (0.5, None, ("RunningOut", 0))]),
    # The 32-bit change 0.29999995 is below the 32-bit limit 0.30000001.
    (lambda: Controller.surge(True, 0.3), [(1.0, None, None), (1.3, None, None)]),
    (lambda: Controller.surge(True, 0.3),
     [(1.0, None, None), (1.4, None, ("ChangingFast", f32(0.39999998))), (-9.0, None, None)]),
    (lambda: Controller.surge(False, 0.3), [(1.4, None, None), (1.0, None, ("ChangingFast", f32(0.39999998)))]),
    (lambda: Controller.surge(True, -0.3),
     [(1.0, None, None), (1.3, None, None), (1.7, None, ("ChangingFast", f32(1.7) - f32(1.3)))]),
    (lambda: Controller.surge(True, 0.3),
     [(1.0, None, None), (-INF, None, ("InvalidReading", -INF)), (1.5, None, ("ChangingFast", 0.5))]),
    (lambda: Controller.monitor(), [(NAN, None, None), (1e30, None, None), (INF, None, None)]),
])
def test_documented_sequences(controller, steps):
    run(controller(), steps)


@pytest.mark.parametrize("make,steps", [
    # Opens the valve at a moisture of 30, closes it at 40, alerts below 10 and above 60.
    (Profile.irrigation_node, [(45.0, OFF, None), (31.0, OFF, None), (30.0, ON, None), (39.0, ON, None),
                               (40.0, OFF, None), (9.9, ON, ("OutOfRange", f32(9.9))),
                               (60.5, OFF, ("OutOfRange", 60.5))]),
    # Switches the cooler on at 5.5 and off at 4.5; alerts below 2 and above 8.
    (Profile.vaccine_fridge_monitor, [(5.4, OFF, None), (5.5, ON, None), (4.6, ON, None), (4.5, OFF, None),
                                      (1.9, OFF, ("OutOfRange", f32(1.9))), (8.2, ON, ("OutOfRange", f32(8.2)))]),
    (Profile.flood_sensor, [(1.0, None, None), (1.4, None, ("ChangingFast", f32(0.39999998))), (-20.0, None, None)]),
    (Profile.well_level, [(2.0, None, None), (1.8, None, None), (1.6, None, ("RunningOut", 6))]),
])
def test_each_built_in_controls_as_described(make, steps):
    run(make().controller(), steps)


def test_each_controller_from_a_profile_starts_afresh():
    profile = Profile.flood_sensor()
    first = profile.controller()
    first.evaluate(1.0)
    assert first.evaluate(1.4).alert.kind == "ChangingFast"
    assert profile.controller().evaluate(1.4).alert is None


@pytest.mark.parametrize("kind,message", [
    ("Level", "no policy decides the control kind `Level`, which is not built in; did you mean `level`?"),
    ("surges", "no policy decides the control kind `surges`, which is not built in; did you mean `surge`?"),
    ("pump_guard", "no policy decides the control kind `pump_guard`, which is not built in; resolve the profile "
     "through a PolicyRegistry that registers it"),
])
def test_a_custom_kind_has_no_controller(kind, message):
    profile = Profile("n", "t", ControlPolicy("Custom", custom_kind=kind), PowerScheduleSpec(60, 300, 900))
    with pytest.raises(TrovikError) as info:
        profile.controller()
    assert str(info.value) == "codec error: " + message


def test_reactions_and_alerts_are_new_objects_with_only_their_kind_set():
    reaction = Controller.setpoint(5.0, 0.5, True, 3.0).evaluate(9.0)
    assert reaction.alert is not reaction.alert
    alert = reaction.alert
    assert (alert.kind, alert.reading, alert.samples, alert.rate, alert.code, alert.value) == \
        ("OutOfRange", 9.0, None, None, None, None)
    monitor = Controller.monitor().evaluate(NAN)
    assert (monitor.actuator, monitor.alert) == (None, None)
    for cls in (Controller, Reaction, AlertReport):
        with pytest.raises(TypeError):
            cls()


@pytest.mark.parametrize("call,error", [
    (lambda: Controller.level(0.5, -1), OverflowError),
    (lambda: Controller.level(0.5, 2 ** 32), OverflowError),
    (lambda: Controller.surge(1, 0.3), TypeError),
    (lambda: Controller.setpoint(5.0, 0.5, "yes", 3.0), TypeError),
    (lambda: Controller.monitor().evaluate("1.0"), TypeError),
    (lambda: Controller.level(None, 6), TypeError),
])
def test_controller_arguments_are_converted_strictly(call, error):
    with pytest.raises(error):
        call()


def test_readings_are_narrowed_to_32_bits():
    # 1 + 2**-30 narrows to 1.0: no fall at all, so no estimate.
    controller = Controller.level(0.5, 1000)
    controller.evaluate(1.0 + 2 ** -30)
    assert controller.evaluate(1.0).alert is None
    alert = Controller.surge(True, 0.0).evaluate(0.0)
    assert alert.alert is None
    controller = Controller.surge(True, 0.0)
    controller.evaluate(0.1)
    assert controller.evaluate(0.2).alert.rate == float(f32(0.2) - f32(0.1))
