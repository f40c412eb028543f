"""The robotics kit: windowed statistics, filters, detectors and controllers,
geodesy, tilt, dew point, unit conversions, and servo, ESC and encoder scaling.

Every 32-bit result is checked bit for bit against a model written here with
numpy.float32, each operation rounded to 32 bits in the documented order; the
64-bit geodesy against the same formulas over Python's math module.
"""

import math
import random

import numpy as np
import pytest

from float32_model import INF, NAN, f32, finite, same


@pytest.fixture(autouse=True)
def quiet_numpy():
    # The models overflow and divide by zero on purpose, as the kit does.
    with np.errstate(all="ignore"):
        yield


def as_f32(x):
    """How an argument arrives: the nearest 32-bit float."""
    return f32(x)


def sample_floats(rng, n, special=0.08):
    out = []
    for _ in range(n):
        r = rng.random()
        if r < special:
            out.append(rng.choice([NAN, INF, -INF, 1e39, -1e39]))
        elif r < 0.45:
            out.append(rng.uniform(-100, 100))
        elif r < 0.65:
            out.append(float(rng.randint(-20, 20)))
        else:
            out.append(rng.gauss(0, 1) * 10.0 ** rng.randint(-6, 8))
    return out


SEEDS = [1, 2, 3, 4, 5]


# --- the window models ------------------------------------------------------------

class WindowModel:
    def __init__(self, capacity):
        self.capacity = capacity
        self.ring = [f32(0)] * 32
        self.count = 0
        self.next = 0

    def push(self, x):
        x = as_f32(x)
        if not finite(x):
            return
        self.ring[self.next] = x
        self.next = (self.next + 1) % self.capacity
        self.count = min(self.count + 1, self.capacity)

    def held(self):
        return self.ring[: self.count]

    def oldest_first(self):
        start = self.next if self.count == self.capacity else 0
        return [self.ring[(start + i) % self.capacity] for i in range(self.count)]

    def mean(self):
        if not self.count:
            return None
        s = f32(-0.0)
        for x in self.held():
            s = s + x
        return s / f32(self.count)

    def variance(self):
        if not self.count:
            return None
        m = self.mean()
        s = f32(-0.0)
        for x in self.held():
            d = x - m
            s = s + d * d
        return s / f32(self.count)

    def min(self):
        return min(self.held()) if self.count else None

    def max(self):
        return max(self.held()) if self.count else None

    def range(self):
        return self.max() - self.min() if self.count else None

    def latest(self):
        return self.ring[(self.capacity + self.next - 1) % self.capacity] if self.count else None

    def oldest(self):
        return self.oldest_first()[0] if self.count else None

    def median(self):
        a = sorted(self.held())
        n = len(a)
        if n == 0:
            return None
        if n % 2:
            return a[n // 2]
        return (a[n // 2 - 1] + a[n // 2]) * f32(0.5)

    def slope(self):
        ys = self.oldest_first()
        n = len(ys)
        if n < 2:
            return None
        s = f32(-0.0)
        for y in ys:
            s = s + y
        mean_y = s / f32(n)
        mean_x = f32(n - 1) * f32(0.5)
        sxy = f32(-0.0)
        sxx = f32(-0.0)
        for i, y in enumerate(ys):
            dx = f32(i) - mean_x
            sxy = sxy + dx * (y - mean_y)
            sxx = sxx + dx * dx
        return None if sxx == 0 else sxy / sxx


# --- windowed statistics ------------------------------------------------------------

@pytest.mark.parametrize(
    "make, given, smallest",
    [
        (lambda n, c: n.Window(c), 0, 1),
        (lambda n, c: n.Window(c), 33, 1),
        (lambda n, c: n.Window(c), -1, 1),
        (lambda n, c: n.Median(capacity=c), 0, 1),
        (lambda n, c: n.Trend(c), 1, 2),
        (lambda n, c: n.Anomaly(2, c), 1, 2),
        (lambda n, c: n.Anomaly(2, capacity=c), 2**62, 2),
    ],
)
def test_capacity_out_of_range_is_refused(native, make, given, smallest):
    with pytest.raises(ValueError) as err:
        make(native, given)
    assert str(err.value) == f"capacity must be a whole number from {smallest} to 32, not {given}"


def test_capacity_defaults_to_the_window_size(native):
    assert native.window_capacity() == 32
    for obj in (native.Window(), native.Window(None), native.Median(), native.Trend(capacity=None),
                native.Anomaly(1.0)):
        assert obj.capacity == 32
    assert native.Window(1).capacity == 1 and native.Trend(2).capacity == 2
    with pytest.raises(OverflowError):
        native.Window(2**64)
    with pytest.raises(TypeError):
        native.Window(3.0)
    with pytest.raises(TypeError) as err:
        native.Window(3).push("1")
    assert "reading" in str(getattr(err.value, "__notes__", [""])[0])


def test_window_rolls_over(native):
    w = native.Window(3)
    assert (len(w), w.mean(), w.latest(), w.oldest(), w.variance(), w.range()) == (0, None, None, None, None, None)
    for x in (1, 2, 3, 4):
        w.push(x)
    assert len(w) == 3 and w.is_full
    assert (w.oldest(), w.latest(), w.mean(), w.min(), w.max(), w.range()) == (2.0, 4.0, 3.0, 2.0, 4.0, 2.0)
    assert w.variance() == float(f32(2) / f32(3))  # population: divisor n


@pytest.mark.parametrize("reading", [NAN, INF, -INF, 1e39, -1e39])
def test_window_ignores_non_finite_readings(native, reading):
    w = native.Window()
    w.push(reading)
    assert len(w) == 0 and w.mean() is None and not w.is_full


@pytest.mark.parametrize("seed", SEEDS)
def test_window_matches_the_model(native, seed):
    rng = random.Random(seed)
    capacity = rng.randint(1, 32)
    w, model = native.Window(capacity), WindowModel(capacity)
    for x in sample_floats(rng, 120):
        w.push(x)
        model.push(x)
        assert len(w) == model.count
        assert w.is_full == (model.count == capacity)
        for query in ("mean", "variance", "min", "max", "range", "latest", "oldest"):
            assert same(getattr(w, query)(), getattr(model, query)()), (query, x)


def test_median_rejects_a_wild_reading(native):
    m = native.Median(4)
    assert [m.update(x) for x in (1, 100, 2, 3)] == [1.0, 50.5, 2.0, 2.5]
    empty = native.Median()
    assert math.isnan(empty.update(NAN)) and empty.value is None
    assert empty.update(-INF) == -INF and empty.value is None
    assert m.update(NAN) == 2.5 and m.value == 2.5


@pytest.mark.parametrize("seed", SEEDS)
def test_median_matches_the_model(native, seed):
    rng = random.Random(seed)
    capacity = rng.randint(1, 32)
    m, model = native.Median(capacity), WindowModel(capacity)
    for x in sample_floats(rng, 120):
        model.push(x)
        want = model.median()
        assert same(m.update(x), as_f32(x) if want is None else want)
        assert same(m.value, want)


def test_trend_slope(native):
    t = native.Trend(3)
    assert t.slope is None
    t.push(0)
    assert t.slope is None
    t.push(2)
    t.push(4)
    assert t.slope == 2.0
    t.push(-2)  # oldest first 2, 4, -2: falling, though slot order reads -2, 2, 4
    assert t.slope == -2.0
    assert native.Trend.slope.__doc__.endswith("A positive slope is a rising signal.")


@pytest.mark.parametrize("seed", SEEDS)
def test_trend_matches_the_model(native, seed):
    rng = random.Random(seed)
    capacity = rng.randint(2, 32)
    t, model = native.Trend(capacity), WindowModel(capacity)
    for x in sample_floats(rng, 100):
        t.push(x)
        model.push(x)
        assert same(t.slope, model.slope())


def test_anomaly_flags_what_stands_out(native):
    a = native.Anomaly(2)
    assert [a.check(x) for x in (10, 1000)] == [False, False]
    b = native.Anomaly(2)
    assert [b.check(x) for x in (10, 10, 10, 10.5)] == [False, False, False, True]
    c = native.Anomaly(2)
    assert c.check(NAN) is True and c.check(INF) is True
    assert [c.check(x) for x in (10, 10)] == [False, False]  # the NaN left the baseline empty
    # sigmas NaN acts as 0: any reading off the mean is flagged.
    zero = native.Anomaly(NAN)
    assert [zero.check(x) for x in (2, 2, 2, 2.5, 2)] == [False, False, False, True, True]
    # sigmas -2 acts as 2.
    rng = random.Random(3)
    neg, pos = native.Anomaly(-2), native.Anomaly(2)
    readings = [rng.gauss(0, 1) for _ in range(100)]
    assert [neg.check(x) for x in readings] == [pos.check(x) for x in readings]
    assert any(pos.check(x) for x in (10, -10))


@pytest.mark.parametrize("seed", SEEDS)
def test_anomaly_matches_the_model(native, seed):
    rng = random.Random(seed)
    capacity = rng.randint(2, 32)
    sigmas = rng.choice([0.0, 0.5, 1.0, 2.0, 3.0, -1.5])
    a, model = native.Anomaly(sigmas, capacity), WindowModel(capacity)
    s = f32(abs(sigmas))
    for x in sample_floats(rng, 150):
        v = as_f32(x)
        if not finite(v):
            want = True
        elif model.count >= 2:
            d = v - model.mean()
            want = bool(d * d > (s * s) * model.variance())
        else:
            want = False
        model.push(x)
        assert a.check(x) is want


# --- filters, detectors and controllers --------------------------------------------

def test_smoother(native):
    s = native.Smoother(0.25)
    assert s.value is None
    assert math.isnan(s.update(NAN)) and s.value is None
    assert (s.update(8), s.update(0)) == (8.0, 6.0)
    assert s.update(INF) == 6.0
    s.reset()
    assert s.value is None and s.update(4) == 4.0
    passthrough = native.Smoother(NAN)
    assert [passthrough.update(x) for x in (1, 5, -3)] == [1.0, 5.0, -3.0]


@pytest.mark.parametrize("weight", [0.25, 0.1, 0.9, 1.7, -3.0, NAN])
def test_smoother_matches_the_model(native, weight):
    rng = random.Random(str(weight))
    w = f32(1) if math.isnan(weight) else min(max(f32(weight), f32(0)), f32(1))
    s, value = native.Smoother(weight), None
    for x in sample_floats(rng, 60):
        x = as_f32(x)
        if finite(x):
            value = x if value is None else x * w + (f32(1) - w) * value
            want = value
        else:
            want = x if value is None else value
        assert same(s.update(float(x)), want)


def test_kalman(native):
    k = native.Kalman(0.01, 1, 0)
    assert k.estimate == 0.0
    assert k.update(10) == 10.0
    p = f32(1) + f32(0.01)
    gain = p / (f32(1) + p)
    assert k.update(12) == float((f32(12) - f32(10)) * gain + f32(10))
    assert abs(k.estimate - 11.004975) < 1e-6
    assert k.update(NAN) == k.estimate
    exact = native.Kalman(0.5, 0, 3)
    assert [exact.update(x) for x in (1, 7, -2)] == [1.0, 7.0, -2.0]


@pytest.mark.parametrize("params", [(0.01, 1, 0), (0.5, 0.1, 5), (-0.2, -4, 1), (NAN, INF, 2), (1e-3, 0, 0)])
def test_kalman_matches_the_model(native, params):
    rng = random.Random(str(params))
    q, r, initial = params
    q, r = (abs(f32(v)) if finite(f32(v)) else f32(0) for v in (q, r))
    k = native.Kalman(*params)
    est, cov, seen = f32(initial), f32(1), False
    for x in sample_floats(rng, 60):
        x = as_f32(x)
        if finite(x):
            if not seen:
                est, seen = x, True
            else:
                p = cov + q
                g = f32(1) if r == 0 else p / (r + p)
                est = (x - est) * g + est
                cov = p * (f32(1) - g)
        assert same(k.update(float(x)), est)


def test_complementary(native):
    c = native.Complementary(0.98, 0)
    got = c.update(10, 5, 0.1)
    a = f32(0.98)
    assert got == float(f32(5) * (f32(1) - a) + (f32(10) * f32(0.1) + f32(0)) * a)
    assert abs(got - 1.08) < 1e-6
    for args in ((NAN, 1, 1), (1, INF, 1), (1, 1, NAN)):
        assert c.update(*args) == got and c.estimate == got


@pytest.mark.parametrize("alpha", [0.98, 0.5, 1.5, -1.0, NAN])
def test_complementary_matches_the_model(native, alpha):
    rng = random.Random(str(alpha))
    a = f32(0) if math.isnan(alpha) else min(max(f32(alpha), f32(0)), f32(1))
    c, est = native.Complementary(alpha, 1.5), f32(1.5)
    for rate, absolute, dt in zip(*[sample_floats(rng, 50, 0.03) for _ in range(3)]):
        rate, absolute, dt = as_f32(rate), as_f32(absolute), as_f32(dt)
        if finite(rate) and finite(absolute) and finite(dt):
            est = absolute * (f32(1) - a) + (rate * dt + est) * a
        assert same(c.update(float(rate), float(absolute), float(dt)), est)


@pytest.mark.parametrize(
    "samples, initial, inputs, outputs",
    [
        (3, False, [True, True, True], [False, False, True]),
        (3, False, [True, False, True, False, True], [False] * 5),
        (0, False, [True, False], [True, False]),
        (1, True, [False, True], [False, True]),
        (2, True, [False, True, False, False], [True, True, True, False]),
    ],
)
def test_debounce(native, samples, initial, inputs, outputs):
    d = native.Debounce(samples, initial)
    assert d.state is initial
    assert [d.update(x) for x in inputs] == outputs


@pytest.mark.parametrize("samples", [70000, -1, 65536])
def test_debounce_samples_out_of_range(native, samples):
    with pytest.raises(ValueError) as err:
        native.Debounce(samples, False)
    assert str(err.value) == f"samples must be a whole number from 0 to 65535, not {samples}"


def test_debounce_takes_only_bools(native):
    with pytest.raises(TypeError):
        native.Debounce(3, 0)
    with pytest.raises(TypeError):
        native.Debounce(3, False).update(1)


def test_ramp(native):
    r = native.Ramp(0, 1)
    assert [r.update(x) for x in (5, 5, -5)] == [1.0, 2.0, 1.0]
    r.set(10)
    assert r.update(10.5) == 10.5
    assert r.update(NAN) == 10.5
    r.set(INF)
    assert r.value == 10.5
    assert [native.Ramp(0, -2).update(5), native.Ramp(3, NAN).update(5)] == [2.0, 3.0]
    assert native.Ramp(0, INF).update(-1e30) == float(f32(-1e30))


@pytest.mark.parametrize("max_step", [0.75, 3.0, -0.1, INF])
def test_ramp_matches_the_model(native, max_step):
    rng = random.Random(str(max_step))
    step = abs(f32(max_step))
    r, value = native.Ramp(0.5, max_step), f32(0.5)
    for x in sample_floats(rng, 60):
        x = as_f32(x)
        if finite(x):
            d = x - value
            value = value + step if d > step else value - step if d < -step else x
        assert same(r.update(float(x)), value)


def test_surge(native):
    rising = native.Surge.rising(5)
    assert [rising.update(x) for x in (10, 20, 22, 10)] == [None, 10.0, None, None]
    falling = native.Surge.falling(-5)
    assert [falling.update(x) for x in (20, NAN, 10, 9)] == [None, None, 10.0, None]
    with pytest.raises(TypeError):
        native.Surge(5)
    step = native.Surge.rising(0.1)
    step.update(0.1)
    assert step.update(0.35) == float(f32(0.35) - f32(0.1))


@pytest.mark.parametrize(
    "threshold, levels, answers",
    [
        (10, [50, 40, 35, 12, 10, 12], [None, 3, 5, 1, 0, None]),
        (0, [10, 7], [None, 3]),
        (10, [5], [0]),
        (10, [50, 50, 60, 55], [None, None, None, 9]),
        (10, [50, INF, 40], [None, None, 3]),
        (NAN, [50, 40, 0], [None, None, None]),
        (-INF, [50, 40], [None, 4294967295]),
        (-1e6, [1, 0.5], [None, 2000001]),
        (0, [1e9, 999999936.0], [None, 15624999]),
    ],
)
def test_depletion(native, threshold, levels, answers):
    d = native.Depletion(threshold)
    assert [d.update(x) for x in levels] == answers


def test_depletion_matches_the_model(native):
    rng = random.Random(9)
    for threshold in (0.0, 10.0, -3.5):
        d, last, t = native.Depletion(threshold), None, f32(threshold)
        for x in sample_floats(rng, 80):
            x = as_f32(x)
            want = None
            if finite(x):
                if x <= t:
                    want = 0
                elif last is not None and last - x > 0:
                    n = np.ceil((x - t) / (last - x))
                    want = 4294967295 if n >= f32(4294967296) else int(n)
                last = x
            assert d.update(float(x)) == want


@pytest.mark.parametrize(
    "make, readings, states",
    [
        (lambda n: n.Thermostat.heating(20, 1), [18.5, 20, 21, 19.5, 19, NAN], [True, True, False, False, True, True]),
        (lambda n: n.Thermostat.cooling(20, -1), [21.5, 20, 19, 20.5, 21], [True, True, False, False, True]),
        (lambda n: n.Thermostat.heating(20, 0), [20, 20.5, 20], [True, False, True]),
        (lambda n: n.Thermostat.cooling(20, NAN), [20, 19.9, 20], [True, False, True]),
    ],
)
def test_thermostat(native, make, readings, states):
    t = make(native)
    assert t.is_on is False
    assert [t.update(x) for x in readings] == states
    assert t.is_on is states[-1]


def test_trigger(native):
    up = native.Trigger.above(10, 2)
    assert [up.update(x) for x in (9, 10.5, 9, 7.9, 11)] == [None, "set", None, "cleared", "set"]
    assert (up.threshold, up.hysteresis, up.watches_above, up.is_set) == (10.0, 2.0, True, True)
    line = native.Trigger.above(10, 2)
    assert [line.update(x) for x in (10, 10, NAN, INF)] == [None] * 4
    down = native.Trigger.below(10, -2)
    assert down.hysteresis == 2.0 and down.watches_above is False
    assert [down.update(x) for x in (11, 9, 12, 12.5, 9.9)] == [None, "set", None, "cleared", "set"]


def test_pid(native):
    swapped = native.Pid(1, 0, 0, min=5, max=-5)
    assert swapped.update(10, 0, 1) == 5.0
    assert swapped.update(-10, 0, 1) == -5.0
    integral = native.Pid(0, 2, 0, max=1)
    assert [integral.update(1, 0, 1) for _ in range(4)] == [1.0] * 4
    # The integral held at 0.5 shows when the error goes away: 2 * 0.5.
    assert integral.update(0, 0, 0) == 1.0
    derivative = native.Pid(0, 0, 1)
    assert derivative.update(1, 0, 0.5) == 0.0
    assert derivative.update(2, 0, 0.5) == 2.0
    assert derivative.update(2, 0, NAN) == 0.0  # no derivative with an invalid dt
    assert derivative.update(NAN, 0, 1) == 0.0  # the previous output
    both = native.Pid(2, 1, 0)
    assert both.update(1, 0, 1) == 3.0
    assert both.update(1, 0, 0) == 3.0  # dt 0 keeps the integral, applies kp
    both.reset()
    assert both.update(1, 0, 0) == 2.0
    with pytest.raises(TypeError):
        native.Pid(1, 0, 0, 5)  # the limits are keyword-only


@pytest.mark.parametrize(
    "gains, limits",
    [((1.2, 0.5, 0.05), {}), ((0.8, 3, 0.2), {"min": -10, "max": 10}), ((2, 0.7, 0), {"min": 1, "max": -1}),
     ((NAN, 1, INF), {"max": NAN}), ((0.3, -0.4, 0.1), {"min": 0})],
)
def test_pid_matches_the_model(native, gains, limits):
    rng = random.Random(str(gains))
    kp, ki, kd = (f32(g) if finite(f32(g)) else f32(0) for g in gains)
    lo, hi = (f32(limits[k]) if limits.get(k) is not None and not math.isnan(limits[k]) else f32(d)
              for k, d in (("min", -INF), ("max", INF)))
    if lo > hi:
        lo, hi = hi, lo

    def clamp(x):
        return lo if x < lo else hi if x > hi else x

    pid = native.Pid(*gains, **limits)
    last_error, integral, output = None, f32(0), f32(0)
    for _ in range(80):
        sp, meas = (as_f32(v) for v in sample_floats(rng, 2, 0.03))
        dt = as_f32(rng.choice([0.01, 0.1, 1.0, 0.0, -0.5, NAN, 1e-40, rng.random()]))
        if finite(sp) and finite(meas):
            error = sp - meas
            valid = finite(dt) and dt > 0
            deriv = (error - last_error) / dt if last_error is not None and valid else f32(0)
            last_error = error
            if valid and ki != 0:
                integral = clamp((dt * error + integral) * ki) / ki
            output = clamp((ki * integral + error * kp) + deriv * kd)
        assert same(pid.update(float(sp), float(meas), float(dt)), output)


def test_calibration(native):
    adc = native.Calibration.two_point(0, 0, 1023, 5)
    assert adc.apply(1023) == 5.0
    assert adc.apply(512) == float(f32(512) * (f32(5) / f32(1023)) + f32(0))
    flat = native.Calibration.two_point(7, 3.5, 7, 100)
    assert [flat.apply(x) for x in (-1, 7, 1e6)] == [3.5, 3.5, 3.5]
    lin = native.Calibration.linear(0.1, -40)
    assert lin.apply(650) == float(f32(650) * f32(0.1) + f32(-40))
    assert math.isnan(lin.apply(NAN))
    with pytest.raises(TypeError):
        native.Calibration()


@pytest.mark.parametrize(
    "value, center, width, want",
    [(0.05, 0, 0.1, 0.0), (0.1, 0, 0.1, 0.0), (0.2, 0, 0.1, 0.2), (-0.05, 0, -0.1, 0.0), (NAN, 0, 1, NAN),
     (5, NAN, 1, 5.0), (5, 4, NAN, 5.0), (1e30, 0, INF, 0.0)],
)
def test_deadband(native, value, center, width, want):
    assert same(native.deadband(value, center, width), f32(want))


# --- geodesy, tilt and dew point ------------------------------------------------------

DEG = 0.017453292519943295
RAD = 57.29577951308232


def model_distance(lat1, lon1, lat2, lon2):
    s1 = math.sin((lat2 - lat1) * DEG * 0.5)
    s2 = math.sin(DEG * (lon2 - lon1) * 0.5)
    a = math.cos(lat2 * DEG) * math.cos(lat1 * DEG) * s2 * s2 + s1 * s1
    return (2 * math.atan2(math.sqrt(a), math.sqrt(1 - a))) * 6371008.8


def model_bearing(lat1, lon1, lat2, lon2):
    p1, p2 = lat1 * DEG, lat2 * DEG
    d = DEG * (lon2 - lon1)
    y = math.cos(p2) * math.sin(d)
    x = math.cos(p1) * math.sin(p2) - math.cos(d) * (math.cos(p2) * math.sin(p1))
    t = math.atan2(y, x) * RAD
    return 360 + t if t < 0 else t


def coordinates(rng, n):
    return [(rng.uniform(-90, 90), rng.uniform(-180, 180), rng.uniform(-90, 90), rng.uniform(-180, 180))
            for _ in range(n)] + [(51.5, -0.12, 51.5000001, -0.12), (0, 0, 0, 180), (90, 0, -90, 0), (10, 20, 10, 20)]


def test_geodesy_matches_the_formulas(native):
    for fix in coordinates(random.Random(11), 300):
        assert same(native.distance_between(*fix), model_distance(*fix)), fix
        assert same(native.bearing_between(*fix), model_bearing(*fix)), fix


@pytest.mark.parametrize(
    "to, distance, bearing",
    [((0, 0), 0.0, 0.0), ((0, 1), 111195.08, 90.0), ((0, 180), math.pi * 6371008.8, 90.0), ((1, 0), 111195.08, 0.0),
     ((0, -1), 111195.08, 270.0), ((-1, 0), 111195.08, 180.0)],
)
def test_distance_and_bearing_from_the_origin(native, to, distance, bearing):
    assert native.distance_between(0, 0, *to) == pytest.approx(distance, rel=1e-7, abs=0)
    assert native.bearing_between(0, 0, *to) == bearing


def test_geodesy_lets_non_finite_values_through(native):
    assert math.isnan(native.distance_between(NAN, 0, 0, 0))
    assert math.isnan(native.bearing_between(0, INF, 0, 0))
    assert same(native.distance_between(100, 0, 100, 0), 0.0)  # no range check


def test_geofence_crossings(native):
    fence = native.Geofence(0, 0, 1000)
    answers = [fence.update(*fix) for fix in ((0, 0), (1, 1), (1, 1), (0, 0), (NAN, 0), (0, INF))]
    assert answers == ["Inside", "Exited", "Outside", "Entered", "Inside", "Inside"]
    assert fence.contains(0, 0) and not fence.contains(1, 1) and not fence.contains(NAN, 0)
    assert native.Geofence(0, 0, 1000).update(NAN, NAN) == "Outside"
    negative = native.Geofence(0, 0, -1000)
    assert negative.update(0, 0.005) == "Inside"
    # The circle's edge is inside.
    edge = native.distance_between(0, 0, 0, 0.01)
    on = native.Geofence(0, 0, edge)
    assert on.contains(0, 0.01) and on.update(0, 0.01) == "Inside"
    assert not native.Geofence(0, 0, NAN).contains(0, 0)


def test_geofence_contains_records_nothing(native):
    fence = native.Geofence(10, 10, 500)
    assert fence.update(11, 11) == "Outside"
    assert fence.contains(10, 10)
    assert fence.update(11, 11) == "Outside"
    assert fence.update(10, 10) == "Entered"


@pytest.mark.parametrize(
    "accel, roll, pitch, text",
    [
        ((0, 0, 9.81), 0.0, -0.0, "Tilt(roll=0.0, pitch=-0.0)"),
        ((0, 9.81, 0), 90.0, -0.0, "Tilt(roll=90.0, pitch=-0.0)"),
        ((-9.81, 0, 0), 0.0, 90.0, "Tilt(roll=0.0, pitch=90.0)"),
        ((0, 0, -1), 180.0, -0.0, "Tilt(roll=180.0, pitch=-0.0)"),
        ((NAN, 0, 1), 0.0, NAN, "Tilt(roll=0.0, pitch=NaN)"),
        ((1, 1e-7, 1), math.atan2(1e-7, 1) * RAD, math.atan2(-1, math.sqrt(1 + 1e-14)) * RAD,
         "Tilt(roll=5.729577951308213e-6, pitch=-44.99999999999986)"),
    ],
)
def test_tilt_from_accel(native, accel, roll, pitch, text):
    t = native.tilt_from_accel(*accel)
    ax, ay, az = map(float, accel)
    assert same(t.roll, math.atan2(ay, az) * RAD) and same(t.roll, roll)
    assert same(t.pitch, math.atan2(-ax, math.sqrt(az * az + ay * ay)) * RAD) and same(t.pitch, pitch)
    assert repr(t) == text


def test_tilt_is_a_value(native):
    a, b = native.tilt_from_accel(0, 0, 9.81), native.tilt_from_accel(0, 0, 1)
    assert a == b and not a != b
    assert native.tilt_from_accel(0, 1, 1) != a
    nan = native.tilt_from_accel(NAN, 0, 1)
    assert nan != nan and not nan == nan
    assert (a == "Tilt(roll=0.0, pitch=-0.0)") is False
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(TypeError):
        a < b
    with pytest.raises(TypeError):
        native.Tilt()
    with pytest.raises(AttributeError):
        a.roll = 1.0
    assert native.Tilt.__doc__ == "Roll and pitch, in degrees."


def test_dew_point(native):
    def model(c, h):
        ratio = 1e-6 if h <= 0 else h / 100
        g = (c * 17.62) / (c + 243.12) + math.log(ratio)
        return 243.12 * g / (17.62 - g)

    rng = random.Random(5)
    cases = [(20, 50), (25, 100), (0, 0), (0, -10), (30, 150), (-40, 5)]
    cases += [(rng.uniform(-40, 50), rng.uniform(-5, 110)) for _ in range(200)]
    for c, h in cases:
        assert same(native.dew_point(c, h), model(c, h)), (c, h)
    assert native.dew_point(20, 50) == pytest.approx(9.255, abs=5e-4)
    assert native.dew_point(25, 100) == pytest.approx(25, abs=1e-12)
    assert native.dew_point(0, 0) == pytest.approx(-106.8, abs=0.05)
    assert math.isnan(native.dew_point(20, NAN))


# --- unit conversions --------------------------------------------------------------------

CONVERSIONS = {
    "celsius_to_kelvin": lambda x: x + f32(273.15),
    "kelvin_to_celsius": lambda x: x - f32(273.15),
    "celsius_to_fahrenheit": lambda x: x * f32(9) / f32(5) + f32(32),
    "fahrenheit_to_celsius": lambda x: (x - f32(32)) * f32(5) / f32(9),
    "pascals_to_hectopascals": lambda x: x / f32(100),
    "hectopascals_to_pascals": lambda x: x * f32(100),
    "pascals_to_kilopascals": lambda x: x / f32(1000),
    "kilopascals_to_pascals": lambda x: x * f32(1000),
    "pascals_to_psi": lambda x: x / f32(6894.757293168),
    "psi_to_pascals": lambda x: x * f32(6894.757293168),
    "ratio_to_percent": lambda x: x * f32(100),
    "percent_to_ratio": lambda x: x / f32(100),
}


@pytest.mark.parametrize("name", sorted(CONVERSIONS))
def test_conversion_matches_the_model(native, name):
    fn = getattr(native, name)
    assert fn.__doc__.startswith("Converts ")
    rng = random.Random(name)
    for x in sample_floats(rng, 300) + [0.0, -0.0, 1e38, -3.4e38, 1.4e-45]:
        assert same(fn(x), CONVERSIONS[name](as_f32(x))), x


@pytest.mark.parametrize(
    "name, arg, want",
    [("celsius_to_fahrenheit", 100, 212.0), ("fahrenheit_to_celsius", 32, 0.0), ("psi_to_pascals", 1, 6894.75732421875),
     ("celsius_to_kelvin", 0, float(f32(273.15))), ("ratio_to_percent", 0.5, 50.0)],
)
def test_conversion_examples(native, name, arg, want):
    assert getattr(native, name)(arg) == want


def test_conversion_docstrings(native):
    assert native.pascals_to_psi.__doc__.endswith("Converts pascals to pounds per square inch.")
    assert native.ratio_to_percent.__doc__.endswith("Converts a ratio from 0 to 1 to a percentage.")
    assert native.celsius_to_kelvin.__doc__.endswith("Converts degrees Celsius to kelvin.")


# --- servo, ESC and encoder scaling ---------------------------------------------------------

def model_pulse(p):
    if math.isnan(p):
        return 0
    return int(min(max(p, f32(0)), f32(65535)))


def model_servo_pulse(lo, hi, rng_deg, angle):
    a = as_f32(angle)
    if math.isnan(a):
        return 0
    r = abs(f32(rng_deg))
    t = f32(0)
    if r != 0:
        c = f32(0) if a < 0 else r if a > r else a
        t = c / r
    return model_pulse((f32(hi) - f32(lo)) * t + f32(lo) + f32(0.5))


@pytest.mark.parametrize(
    "angle, pulse", [(0, 1000), (90, 1500), (180, 2000), (-10, 1000), (200, 2000), (NAN, 0), (45, 1250), (1, 1006)]
)
def test_standard_servo(native, angle, pulse):
    servo = native.ServoMap.standard()
    assert (servo.min_us, servo.max_us, servo.range_deg) == (1000, 2000, 180.0)
    assert servo.pulse(angle) == pulse


@pytest.mark.parametrize("pulse, angle", [(1500, 90.0), (500, 0.0), (1000, 0.0), (2000, 180.0), (65535, 180.0)])
def test_servo_angle(native, pulse, angle):
    assert native.ServoMap.standard().angle(pulse) == angle


def test_servo_variants(native):
    reversed_map = native.ServoMap(2000, 1000, 180)
    assert (reversed_map.pulse(0), reversed_map.pulse(180)) == (2000, 1000)
    assert reversed_map.angle(1250) == 135.0 and reversed_map.angle(900) == 180.0
    flat = native.ServoMap(1500, 1500, 180)
    assert {flat.angle(p) for p in (0, 1500, 65535)} == {0.0}
    no_travel = native.ServoMap(1100, 1900, 0)
    assert {no_travel.pulse(a) for a in (-5, 0, 90, INF)} == {1100}
    assert native.ServoMap(1000, 2000, -90).range_deg == 90.0


def test_servo_with_infinite_travel_gives_no_pulse_for_an_infinite_angle(native):
    # inf / inf is NaN: the pulse is 0 rather than a conversion of NaN.
    servo = native.ServoMap(1000, 2000, INF)
    assert servo.pulse(INF) == 0
    assert servo.pulse(1e30) == 1000 and servo.pulse(-INF) == 1000
    assert native.ServoMap(1000, 2000, NAN).pulse(10) == 0


@pytest.mark.parametrize("seed", SEEDS)
def test_servo_matches_the_model(native, seed):
    rng = random.Random(seed)
    lo, hi = rng.randint(0, 65535), rng.randint(0, 65535)
    travel = rng.choice([180.0, 270.0, 90.5, 0.0, -120.0, 1e-3])
    servo = native.ServoMap(lo, hi, travel)
    for angle in sample_floats(rng, 100):
        assert servo.pulse(angle) == model_servo_pulse(lo, hi, travel, angle)
    for _ in range(100):
        p = rng.randint(0, 65535)
        span = f32(hi) - f32(lo)
        want = f32(0) if span == 0 else (f32(min(max(p, min(lo, hi)), max(lo, hi))) - f32(lo)) / span * abs(f32(travel))
        assert same(servo.angle(p), want)


@pytest.mark.parametrize(
    "make, name, value",
    [
        (lambda n: n.ServoMap(70000, 2000, 180), "min_us", 70000),
        (lambda n: n.ServoMap(-1, 2000, 180), "min_us", -1),
        (lambda n: n.ServoMap(1000, -1, 180), "max_us", -1),
        (lambda n: n.ServoMap(-5, 70000, 180), "min_us", -5),
        (lambda n: n.ServoMap.standard().angle(70000), "pulse_us", 70000),
        (lambda n: n.Esc(1000, 65536, -2), "neutral_us", 65536),
        (lambda n: n.Esc(1000, 1500, -1), "max_us", -1),
    ],
)
def test_pulse_widths_out_of_range(native, make, name, value):
    with pytest.raises(ValueError) as err:
        make(native)
    assert str(err.value) == f"{name} must be a whole number of microseconds from 0 to 65535, not {value}"


def test_pulse_width_argument_types(native):
    with pytest.raises(TypeError):
        native.ServoMap(1000.0, 2000, 180)
    with pytest.raises(OverflowError):
        native.Esc(2**63, 1500, 2000)
    with pytest.raises(TypeError):
        native.ServoMap(1000, 2000, "180")  # converted before any range check


@pytest.mark.parametrize(
    "throttle, pulse", [(-1, 1000), (-0.5, 1250), (0, 1500), (0.5, 1750), (1, 2000), (5, 2000), (-5, 1000), (NAN, 1500)]
)
def test_bidirectional_esc(native, throttle, pulse):
    esc = native.Esc.bidirectional()
    assert (esc.min_us, esc.neutral_us, esc.max_us) == (1000, 1500, 2000)
    assert esc.pulse(throttle) == pulse


@pytest.mark.parametrize("seed", SEEDS)
def test_esc_matches_the_model(native, seed):
    rng = random.Random(seed)
    lo, mid, hi = (rng.randint(0, 65535) for _ in range(3))
    esc = native.Esc(lo, mid, hi)
    for x in sample_floats(rng, 100) + [-0.0, 0.999, -0.999]:
        t = as_f32(x)
        t = f32(0) if math.isnan(t) else min(max(t, f32(-1)), f32(1))
        half = f32(hi) - f32(mid) if t >= 0 else f32(mid) - f32(lo)
        assert esc.pulse(x) == model_pulse(t * half + f32(mid) + f32(0.5)), x


def test_quadrature(native):
    q = native.Quadrature()
    assert [q.update(a, b) for a, b in ((False, True), (True, True), (True, False), (False, False))] == [1] * 4
    assert q.count == 4
    assert [q.update(a, b) for a, b in ((True, False), (True, True), (False, True), (False, False))] == [-1] * 4
    assert q.count == 0
    assert q.update(True, True) == 0 and q.count == 0  # both channels at once
    q.update(True, False)
    q.reset()
    assert q.count == 0 and q.update(True, False) == 0
    seeded = native.Quadrature(b=True)
    assert seeded.update(False, True) == 0 and seeded.update(True, True) == 1
    with pytest.raises(TypeError):
        native.Quadrature(1, 0)
    with pytest.raises(TypeError):
        q.update(0, 1)


def test_quadrature_scale(native):
    scale = native.QuadratureScale(-100, 0.05)
    want = float(f32(100) / f32(100) * (f32(0.05) * f32(6.2831855)))
    assert scale.distance(100) == want and abs(want - 0.31416) < 1e-5
    assert scale.velocity(50, 0.5) == float(f32(want / 2) / f32(0.5))
    assert scale.velocity(50, 0) == 0.0
    assert scale.velocity(50, -0.5) == -scale.velocity(50, 0.5)
    none = native.QuadratureScale(0, 0.05)
    assert none.distance(100) == 0.0 and none.velocity(100, 1) == 0.0
    big = native.QuadratureScale(4096, 0.033)
    for count in (2**63 - 1, -(2**63), 123456789, -7):
        assert same(big.distance(count), f32(count) / f32(4096) * (f32(0.033) * f32(6.2831855)))
    with pytest.raises(OverflowError):
        big.distance(2**63)
