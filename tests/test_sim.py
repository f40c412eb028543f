"""The simulated sensor, replay, recording actuator and robot.

Readings are checked bit for bit against a model of the seeded generator in
numpy.float32, and the robot against the odometry model of motion_model.py.
Every method is awaitable: calls on one object take effect one at a time,
whole or not at all.
"""

import asyncio
import math
import random
import threading

import numpy as np
import pytest

from float32_model import INF, NAN, f32
from motion_model import OdometryModel, magnitude


@pytest.fixture(autouse=True)
def quiet_numpy():
    with np.errstate(all="ignore"):
        yield


def run(coro):
    return asyncio.run(coro)


def same(got, want):
    want = float(want)
    if math.isnan(want):
        return math.isnan(got)
    return math.copysign(1, got) == math.copysign(1, want) and got == want


class SensorModel:
    def __init__(self, baseline, drift=None, noise=None, seed=None):
        self.level = f32(baseline)
        self.drift = f32(0 if drift is None else drift)
        self.noise = f32(0) if noise is None else magnitude(noise)
        self.rng = 0x9E3779B9 if seed is None else (seed or 1)

    def read(self):
        n = f32(0)
        if self.noise != 0 or np.isnan(self.noise):
            x = self.rng
            x ^= (x << 13) & 0xFFFFFFFF
            x ^= x >> 17
            x ^= (x << 5) & 0xFFFFFFFF
            self.rng = x
            u = f32(x) * f32(2.3283064e-10)
            n = self.noise * ((u + u) - f32(1))
        reading = self.level + n
        self.level = self.drift + self.level
        return reading


# --- the simulated sensor -----------------------------------------------------------

@pytest.mark.parametrize(
    "kwargs, first",
    [
        (dict(), [20.0, 20.0, 20.0]),
        (dict(drift_per_read=0.5), [20.0, 20.5, 21.0]),
    ],
)
def test_sensor_baseline_and_drift(native, kwargs, first):
    async def main():
        s = native.SimulatedSensor(20, **kwargs)
        return [await s.read() for _ in first]

    assert run(main()) == first


@pytest.mark.parametrize(
    "seed, noise, first",
    [
        (1, 1, [-0.9998741149902344, -0.9685051441192627, 0.23280823230743408]),
        (0, 1, [-0.9998741149902344, -0.9685051441192627, 0.23280823230743408]),
        (1, -1, [-0.9998741149902344, -0.9685051441192627, 0.23280823230743408]),
        (None, 1, [-0.36681294441223145, 0.7514139413833618, -0.03339970111846924]),
    ],
)
def test_sensor_noise_is_seeded(native, seed, noise, first):
    async def main():
        s = native.SimulatedSensor(0, noise=noise, seed=seed)
        return [await s.read() for _ in first]

    assert run(main()) == first


@pytest.mark.parametrize("seed", [1, 2, 3, 4, 5])
def test_sensor_sequences_match_the_model(native, seed):
    rng = random.Random(seed)
    cases = []
    for _ in range(40):
        baseline = rng.choice([rng.uniform(-50, 50), 0.0, -0.0, NAN, INF, 1e39])
        drift = rng.choice([None, rng.uniform(-1, 1), 0.0, NAN, -INF])
        noise = rng.choice([None, 0.0, -0.0, rng.uniform(-5, 5), NAN, INF, 1e-30])
        s = rng.choice([None, 0, 1, rng.getrandbits(32), 4294967295])
        cases.append((baseline, drift, noise, s))

    async def main():
        out = []
        for baseline, drift, noise, s in cases:
            sensor = native.SimulatedSensor(baseline, drift_per_read=drift, noise=noise, seed=s)
            out.append([await sensor.read() for _ in range(50)])
        return out

    for (baseline, drift, noise, s), got in zip(cases, run(main())):
        model = SensorModel(baseline, drift, noise, s)
        for i, value in enumerate(got):
            assert same(value, model.read()), (baseline, drift, noise, s, i)


@pytest.mark.parametrize("seed", [-1, 4294967296, 2**70])
def test_sensor_seed_range(native, seed):
    with pytest.raises(OverflowError):
        native.SimulatedSensor(0, seed=seed)


def test_sensor_arguments(native):
    with pytest.raises(TypeError):
        native.SimulatedSensor(0, 1.0)  # drift is keyword-only
    with pytest.raises(TypeError):
        native.SimulatedSensor("0")
    with pytest.raises(TypeError):
        native.SimulatedSensor(0, seed=1.5)
    assert native.SimulatedSensor.__doc__.startswith("A sensor that invents plausible readings.")


# --- the replay ------------------------------------------------------------------

def test_replay_runs_out_for_good(native):
    async def main():
        r = native.Replay([1, 2, 3])
        got = [await r.read() for _ in range(3)]
        errors = []
        for _ in range(3):
            with pytest.raises(native.TrovikError) as err:
                await r.read()
            errors.append(err.value.args)
        return got, errors

    got, errors = run(main())
    assert got == [1.0, 2.0, 3.0]
    assert errors == [("resource is closed",)] * 3


@pytest.mark.parametrize("readings", [[1, 2, 3], (0.5,), np.array([1.5, -2.0], dtype=np.float64)])
def test_replay_repeats(native, readings):
    async def main():
        r = native.Replay(readings, repeating=True)
        return [await r.read() for _ in range(7)]

    want = [float(f32(x)) for x in readings]
    assert run(main()) == [want[i % len(want)] for i in range(7)]


@pytest.mark.parametrize("repeating", [False, True])
def test_an_empty_replay_fails_at_once(native, repeating):
    async def main():
        r = native.Replay([], repeating=repeating)
        for _ in range(2):
            with pytest.raises(native.TrovikError, match="^resource is closed$"):
                await r.read()

    run(main())


def test_replay_copies_its_series_and_refuses_text(native):
    series = [1.0, 2.0]
    r = native.Replay(series)
    series.append(3.0)

    async def main():
        got = [await r.read() for _ in range(2)]
        with pytest.raises(native.TrovikError):
            await r.read()
        return got

    assert run(main()) == [1.0, 2.0]
    with pytest.raises(TypeError):
        native.Replay("123")
    with pytest.raises(TypeError):
        native.Replay([1, "2"])
    with pytest.raises(TypeError):
        native.Replay([1], True)  # repeating is keyword-only


# --- the recording actuator ------------------------------------------------------------

def test_actuator_records_every_command(native):
    async def main():
        a = native.RecordingActuatorHandle()
        assert await a.apply(0.5) is None
        early = await a.commands()
        await a.apply(1.0)
        for x in (NAN, INF, -0.0, 1e39):
            await a.apply(x)
        return early, await a.commands()

    early, later = run(main())
    assert early == [0.5]
    assert later[:2] == [0.5, 1.0] and math.isnan(later[2]) and later[3:5] == [INF, -0.0] and later[5] == INF
    assert math.copysign(1, later[4]) == -1


# --- the robot ---------------------------------------------------------------------

def test_robot_moves_by_its_step(native):
    async def main():
        r = native.SimulatedRobot(0.1)
        for _ in range(10):
            await r.apply(vx=1.0)
        p1 = await r.pose()
        await r.apply(vy=1.0)
        p2 = await r.pose()
        return p1, p2

    p1, p2 = run(main())
    assert (p1.x, p1.y, p1.theta) == pytest.approx((1.0, 0.0, 0.0), abs=1e-6)
    assert p2 == p1 and p2 is not p1


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_robot_matches_the_odometry_model(native, seed):
    rng = random.Random(seed)
    dt = rng.choice([0.1, -0.05, 0.02])
    start = (rng.uniform(-5, 5), rng.uniform(-5, 5), rng.uniform(-10, 10))
    steps = [(rng.uniform(-2, 2), rng.uniform(-1, 1), rng.choice([rng.uniform(-2, 2), 0.0, 1e-6, NAN]))
             for _ in range(300)]

    async def main():
        r = native.SimulatedRobot(dt, x=start[0], y=start[1], theta=start[2])
        out = []
        for vx, vy, omega in steps:
            await r.apply(vx=vx, vy=vy, omega=omega)
            p = await r.pose()
            out.append((p.x, p.y, p.theta))
        return out

    model = OdometryModel(*start)
    step = magnitude(dt)
    for (vx, _, omega), got in zip(steps, run(main())):
        want = model.integrate(vx, omega, step)
        assert all(same(g, w) for g, w in zip(got, want))


@pytest.mark.parametrize("dt, theta, want_theta", [(-0.1, 4.0, float(f32(4.0) - f32(6.2831855))),
                                                   (0.1, 0.0, 0.0)])
def test_robot_construction(native, dt, theta, want_theta):
    async def main():
        r = native.SimulatedRobot(dt, theta=theta)
        start = await r.pose()
        await r.apply(vx=1.0)
        return start, await r.pose()

    start, moved = run(main())
    assert start.theta == want_theta
    assert math.hypot(moved.x, moved.y) == pytest.approx(0.1)


def test_a_nan_step_never_moves(native):
    async def main():
        r = native.SimulatedRobot(NAN, x=1)
        await r.apply(vx=1, omega=1)
        return await r.pose()

    assert run(main()) == native.Pose(1, 0, 0)


def test_robot_arguments(native):
    r = native.SimulatedRobot(0.1)
    with pytest.raises(TypeError):
        r.apply(1.0)  # keyword-only
    with pytest.raises(TypeError) as err:
        r.apply(vx="fast")
    assert "vx" in str(getattr(err.value, "__notes__", [""])[0])


# --- the awaitable calling convention ---------------------------------------------------

CALLS = [
    lambda n: n.SimulatedSensor(1).read(),
    lambda n: n.Replay([1]).read(),
    lambda n: n.RecordingActuatorHandle().apply(1.0),
    lambda n: n.RecordingActuatorHandle().commands(),
    lambda n: n.SimulatedRobot(0.1).apply(vx=1.0),
    lambda n: n.SimulatedRobot(0.1).pose(),
]


@pytest.mark.parametrize("call", CALLS)
def test_no_running_loop_raises_at_the_call(native, call):
    with pytest.raises(RuntimeError):
        call(native)


def test_a_call_on_a_device_without_a_loop_changes_nothing(native):
    a = native.RecordingActuatorHandle()
    with pytest.raises(RuntimeError):
        a.apply(5.0)

    async def main():
        return await a.commands()

    assert run(main()) == []


def test_cancelled_calls_take_effect_whole_or_not_at_all(native):
    async def main():
        a = native.RecordingActuatorHandle()
        futures = [a.apply(float(i)) for i in range(200)]
        for f in futures[::3]:
            f.cancel()
        await asyncio.sleep(0)
        applied = [float(i) for i, f in enumerate(futures) if not f.cancelled()]
        for f in futures:
            if not f.cancelled():
                assert f.result() is None
        return applied, await a.commands()

    applied, recorded = run(main())
    assert recorded == applied


def test_calls_from_many_loops_each_draw_exactly_once(native):
    sensor = native.SimulatedSensor(0, noise=1, seed=42)
    robot = native.SimulatedRobot(0.01)
    results = []
    lock = threading.Lock()

    def worker():
        async def main():
            out = []
            for _ in range(250):
                out.append(await sensor.read())
                await robot.apply(vx=1.0)
            return out

        got = asyncio.run(main())
        with lock:
            results.extend(got)

    threads = [threading.Thread(target=worker) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    model = SensorModel(0, noise=1, seed=42)
    assert sorted(results) == sorted(float(model.read()) for _ in range(1000))

    async def pose():
        return await robot.pose()

    odo = OdometryModel()
    for _ in range(1000):
        odo.integrate(1.0, 0.0, 0.01)
    assert run(pose()) == native.Pose(*(float(v) for v in odo.pose.fields()))
