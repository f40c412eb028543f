"""Motion value types, drive kinematics, odometry, arm kinematics, guidance
and motion safety.

Every 32-bit result is checked bit for bit against the float32 model in
motion_model.py (and, for the follower's geodesy, the formulas over Python's
math module), on the edge cases the kit documents and on random inputs with
NaN, infinities and out-of-range values mixed in.
"""

import math
import random

import numpy as np
import pytest

from float32_model import INF, NAN, acosf, atan2f, atanf, cosf, f32, finite, same, sinf, tanf
from motion_model import OdometryModel, magnitude, wrap


@pytest.fixture(autouse=True)
def quiet_numpy():
    # The models overflow and divide by zero on purpose, as the kit does.
    with np.errstate(all="ignore"):
        yield


def sample_floats(rng, n, special=0.08):
    out = []
    for _ in range(n):
        r = rng.random()
        if r < special:
            out.append(rng.choice([NAN, INF, -INF, 1e39, -1e39, 0.0, -0.0]))
        elif r < 0.45:
            out.append(rng.uniform(-10, 10))
        elif r < 0.6:
            out.append(float(rng.randint(-4, 4)))
        else:
            out.append(rng.gauss(0, 1) * 10.0 ** rng.randint(-7, 6))
    return out


SEEDS = [1, 2, 3, 4, 5]


def pose_fields(p):
    return (p.x, p.y, p.theta)


def twist_fields(t):
    return (t.vx, t.vy, t.omega)


# --- value types ------------------------------------------------------------------

@pytest.mark.parametrize(
    "theta, want",
    [
        (3.1415927, f32(3.1415927)),
        (-3.1415927, f32(3.1415927)),
        (4.0, f32(4.0) - f32(6.2831855)),
        (-4.0, f32(-4.0) + f32(6.2831855)),
        (-0.0, f32(-0.0)),
        (100.0, wrap(100.0)),
        (INF, NAN),
        (-INF, NAN),
        (NAN, NAN),
    ],
)
def test_pose_wraps_its_heading(native, theta, want):
    assert same(native.Pose(1, 2, theta).theta, want)


def test_pose_wrap_matches_the_model(native):
    rng = random.Random(7)
    for theta in sample_floats(rng, 3000):
        assert same(native.Pose(theta=theta).theta, wrap(f32(theta))), theta


@pytest.mark.parametrize(
    "value, text",
    [
        (lambda n: n.Pose(), "Pose(x=0.0, y=0.0, theta=0.0)"),
        (lambda n: n.Pose(-0.0, 1e16, NAN), "Pose(x=-0.0, y=1e16, theta=NaN)"),
        (lambda n: n.Twist(vx=1e-5), "Twist(vx=1e-5, vy=0.0, omega=0.0)"),
        (lambda n: n.Twist(0.1, -INF, 0.0001), "Twist(vx=0.1, vy=-inf, omega=0.0001)"),
        (lambda n: n.WheelSpeeds(1, 2.5, -3, INF),
         "WheelSpeeds(front_left=1.0, front_right=2.5, rear_left=-3.0, rear_right=inf)"),
        (lambda n: n.DhParameters(a=1, theta=1.5e-7), "DhParameters(a=1.0, alpha=0.0, d=0.0, theta=1.5e-7)"),
        (lambda n: n.WaypointFollower(1, 0, 1, 1).guide((0.0, 0.0), 30, (0.0, 0.0)),
         "Guidance(twist=Twist(vx=0.0, vy=0.0, omega=0.0), distance_m=0.0, heading_error_deg=-30.0, arrived=True)"),
    ],
)
def test_value_representations(native, value, text):
    assert repr(value(native)) == text


def test_guidance_repr_writes_its_distance_in_64_bits(native):
    g = native.WaypointFollower(1, 0, 1, 1).guide((0.0, 0.0), 0, (0.0, 0.001))
    assert repr(g) == (f"Guidance(twist={g.twist!r}, distance_m={g.distance_m!r}, "
                       f"heading_error_deg=90.0, arrived=False)")
    assert g.distance_m == pytest.approx(111.195, abs=1e-3)


VALUES = [
    (lambda n, *a: n.Pose(*a), 3),
    (lambda n, *a: n.Twist(*a), 3),
    (lambda n, *a: n.WheelSpeeds(*a), 4),
    (lambda n, *a: n.DhParameters(*a), 4),
]


@pytest.mark.parametrize("make, arity", VALUES)
def test_value_classes_compare_field_by_field(native, make, arity):
    a = make(native, *range(1, arity + 1))
    assert a == make(native, *range(1, arity + 1)) and not (a != make(native, *range(1, arity + 1)))
    assert a != make(native, *range(2, arity + 2))
    assert make(native, *([0.0] * arity)) == make(native, *([-0.0] * arity))
    odd = make(native, *([NAN] + [0] * (arity - 1)))
    assert odd != odd and not (odd == odd)
    with pytest.raises(TypeError):
        hash(a)
    for op in ("__lt__", "__le__", "__gt__", "__ge__"):
        assert getattr(a, op)(a) is NotImplemented
    with pytest.raises(TypeError):
        a < a  # noqa: B015
    # Another class is never equal: Python falls back to identity.
    other = native.Transform.identity()
    assert a.__eq__(other) is NotImplemented
    assert (a == other) is False and (a != other) is True


def test_pose_and_twist_of_the_same_numbers_differ(native):
    assert native.Pose(1, 2, 3) != native.Twist(1, 2, 3)
    assert native.Pose(1, 2, 3) == native.Pose(1, 2, 3)
    assert native.Pose(1, 2, 3) != (1.0, 2.0, 3.0)


def test_value_fields_are_read_only(native):
    p = native.Pose(1, 2, 3)
    with pytest.raises(AttributeError):
        p.x = 5
    g = native.WaypointFollower(1, 0, 1, 1).guide((0.0, 0.0), 0, (0.0, 0.0))
    t = g.twist
    assert t == g.twist and t is not g.twist


def test_transform_identity_and_construction(native):
    ident = native.Transform.identity()
    assert ident.elements == [1.0 if i in (0, 5, 10, 15) else 0.0 for i in range(16)]
    assert ident.position == (0.0, 0.0, 0.0)
    assert ident == native.Transform.identity() and ident.multiply(ident) == ident
    with pytest.raises(TypeError):
        native.Transform()
    with pytest.raises(TypeError):
        hash(ident)
    with pytest.raises(TypeError):
        ident.multiply(native.Pose())


# --- arm: transforms and chains ---------------------------------------------------------

def dh_model(a, alpha, d, theta):
    a, alpha, d, theta = f32(a), f32(alpha), f32(d), f32(theta)
    ct, st, ca, sa = cosf(theta), sinf(theta), cosf(alpha), sinf(alpha)
    z = f32(0)
    return [ct, -st * ca, st * sa, a * ct,
            st, ct * ca, -ct * sa, a * st,
            z, sa, ca, d,
            z, z, z, f32(1)]


def multiply_model(m, o):
    out = []
    for i in range(4):
        for j in range(4):
            out.append(((m[4 * i] * o[j] + m[4 * i + 1] * o[4 + j]) + m[4 * i + 2] * o[8 + j]) + m[4 * i + 3] * o[12 + j])
    return out


def identity_model():
    return [f32(1) if i in (0, 5, 10, 15) else f32(0) for i in range(16)]


def chain_model(joints):
    t = identity_model()
    for j in joints:
        t = multiply_model(t, dh_model(*j))
    return t


@pytest.mark.parametrize("seed", SEEDS)
def test_transforms_and_chains_match_the_model(native, seed):
    rng = random.Random(seed)
    for _ in range(60):
        joints = [tuple(sample_floats(rng, 4, special=0.03)) for _ in range(rng.randint(0, 6))]
        objs = [native.DhParameters(*j) for j in joints]
        for obj, j in zip(objs, joints):
            assert same(obj.transform().elements, dh_model(*j))
            assert same((obj.a, obj.alpha, obj.d, obj.theta), tuple(f32(v) for v in j))
        got = native.forward_kinematics(objs)
        assert same(got.elements, chain_model(joints)), joints
        want = chain_model(joints)
        assert same(got.position, (want[3], want[7], want[11]))
        if len(objs) >= 2:
            m = objs[0].transform().multiply(objs[1].transform())
            assert same(m.elements, multiply_model(dh_model(*joints[0]), dh_model(*joints[1])))


def test_a_chain_starts_from_the_identity(native):
    # One joint alone carries -0 at element 1 (-sin 0 * cos 0); multiplied onto
    # the identity it becomes +0, and a NaN offset spreads down its column.
    joint = native.DhParameters(d=NAN)
    assert math.copysign(1, joint.transform().elements[1]) == -1
    chain = native.forward_kinematics([joint])
    assert math.copysign(1, chain.elements[1]) == 1
    assert all(math.isnan(chain.elements[i]) for i in (3, 7, 11, 15))
    assert chain.elements[0] == 1.0
    assert chain != chain  # NaN elements are never equal


@pytest.mark.parametrize(
    "joints, position",
    [
        ([], (0.0, 0.0, 0.0)),
        ([dict(a=1)], (1.0, 0.0, 0.0)),
        ([dict(a=1, theta=math.pi / 2)], (0.0, 1.0, 0.0)),
        ([dict(a=1, alpha=math.pi / 2, d=2)], (1.0, 0.0, 2.0)),
        ([dict(a=1, theta=math.pi / 2), dict(a=1, theta=math.pi / 2)], (-1.0, 1.0, 0.0)),
    ],
)
def test_chain_positions(native, joints, position):
    t = native.forward_kinematics([native.DhParameters(**j) for j in joints])
    assert t.position == pytest.approx(position, abs=1e-6)


def test_forward_kinematics_refuses_other_things(native):
    assert native.forward_kinematics(()) == native.Transform.identity()
    with pytest.raises(TypeError):
        native.forward_kinematics([native.DhParameters(), native.Pose()])
    with pytest.raises(TypeError):
        native.forward_kinematics("ab")
    row2 = native.DhParameters(a=1, alpha=math.pi / 2, d=2).transform().elements[8:12]
    assert row2 == pytest.approx([0, 1, 0, 2], abs=1e-6)


# --- arm: the two-link arm ---------------------------------------------------------------

def joints_model(l1, l2, x, y, up=True):
    l1, l2, x, y = magnitude(l1), magnitude(l2), f32(x), f32(y)
    if not finite(x) or not finite(y):
        return None
    d2 = y * y + x * x
    d = np.sqrt(d2)
    tol = f32(1e-4)
    if not (d <= (l1 + l2) + tol) or not (d >= abs(l1 - l2) - tol):
        return None
    m = (l1 + l1) * l2
    if m == 0:
        return None
    c = ((d2 - l1 * l1) - l2 * l2) / m
    c = f32(-1) if c < -1 else f32(1) if c > 1 else c
    e = acosf(c)
    if not up:
        e = -e
    return (atan2f(y, x) - atan2f(l2 * sinf(e), l2 * cosf(e) + l1), e)


def tip_model(l1, l2, shoulder, elbow):
    l1, l2, shoulder, elbow = magnitude(l1), magnitude(l2), f32(shoulder), f32(elbow)
    hand = shoulder + elbow
    return (l2 * cosf(hand) + l1 * cosf(shoulder), l2 * sinf(hand) + l1 * sinf(shoulder))


@pytest.mark.parametrize("seed", SEEDS)
def test_two_link_arm_matches_the_model(native, seed):
    rng = random.Random(seed)
    for _ in range(400):
        l1, l2 = (rng.uniform(-2, 2) if rng.random() > 0.05 else rng.choice([0.0, NAN, INF]) for _ in range(2))
        arm = native.TwoLinkArm(l1, l2)
        assert same(arm.reach, (abs(magnitude(l1) - magnitude(l2)), magnitude(l1) + magnitude(l2)))
        s, e = sample_floats(rng, 2, special=0.05)
        assert same(arm.tip(s, e), tip_model(l1, l2, s, e))
        r = rng.uniform(0, 4)
        a = rng.uniform(-4, 4)
        x, y = (r * math.cos(a), r * math.sin(a)) if rng.random() > 0.05 else tuple(sample_floats(rng, 2, 0.5))
        for elbow, up in (("up", True), ("down", False)):
            assert same(arm.joints_for(x, y, elbow), joints_model(l1, l2, x, y, up)), (l1, l2, x, y, elbow)
        assert same(arm.joints_for(x, y), joints_model(l1, l2, x, y))


def test_two_link_arm_edges(native):
    assert native.TwoLinkArm(-1, 0.5).reach == (0.5, 1.5)
    arm = native.TwoLinkArm(1, 1)
    assert arm.tip(0, 0) == (2.0, 0.0)
    assert arm.joints_for(2, 0) == (0.0, 0.0) and arm.joints_for(2, 0, "down") == (0.0, 0.0)
    up, down = arm.joints_for(1, 1, "up"), arm.joints_for(1, 1, "down")
    assert up == pytest.approx((0, math.pi / 2), abs=1e-6)
    assert down == pytest.approx((math.pi / 2, -math.pi / 2), abs=1e-6)
    for joints in (up, down):
        assert arm.tip(*joints) == pytest.approx((1, 1), abs=1e-6)
    assert arm.joints_for(2.00005, 0) == (0.0, 0.0)
    assert arm.joints_for(2.001, 0) is None
    assert native.TwoLinkArm(1, 0.5).joints_for(0, 0) is None
    assert native.TwoLinkArm(1, 0).joints_for(1, 0) is None
    for bad in (NAN, INF, -INF):
        assert arm.joints_for(bad, 0) is None and arm.joints_for(0, bad) is None
        assert native.TwoLinkArm(INF, 1).joints_for(bad, 0) is None


@pytest.mark.parametrize(
    "elbow, message",
    [
        ("sideways", 'elbow must be "up" or "down", not "sideways"'),
        ("left", 'elbow must be "up" or "down", not "left"'),
        ("Up", 'elbow must be "up" or "down", not "Up"'),
        ('a"b\\c\n\t\0', 'elbow must be "up" or "down", not "a\\"b\\\\c\\n\\t\\0"'),
    ],
)
def test_elbow_text_is_checked(native, elbow, message):
    with pytest.raises(ValueError) as err:
        native.TwoLinkArm(1, 1).joints_for(1, 1, elbow)
    assert str(err.value) == message


def test_elbow_must_be_text(native):
    with pytest.raises(TypeError):
        native.TwoLinkArm(1, 1).joints_for(1, 1, 1)


# --- drives ------------------------------------------------------------------------

def diff_model(track, linear, angular, left, right):
    t = magnitude(track)
    linear, angular, left, right = f32(linear), f32(angular), f32(left), f32(right)
    h = (angular * t) * f32(0.5)
    body_angular = f32(0) if t == 0 else (right - left) / t
    return (linear - h, linear + h), ((left + right) * f32(0.5), body_angular)


def skid_model(track, slip, linear, angular, left, right):
    t, s = magnitude(track), magnitude(slip)
    if s == 0:
        s = f32(1)
    linear, angular, left, right = f32(linear), f32(angular), f32(left), f32(right)
    h = ((t * s) * angular) * f32(0.5)
    eff = s * t
    body_angular = f32(0) if eff == 0 else (right - left) / eff
    return (linear - h, linear + h), ((left + right) * f32(0.5), body_angular)


def mecanum_model(wheelbase, track, twist, wheels):
    k = magnitude(wheelbase) * f32(0.5) + magnitude(track) * f32(0.5)
    vx, vy, om = (f32(v) for v in twist)
    w = k * om
    a, b = vx - vy, vx + vy
    fl, fr, rl, rr = (f32(v) for v in wheels)
    omega = f32(0) if k == 0 else (((fr - fl) - rl) + rr) / (k * f32(4))
    return ((a - w, b + w, b - w, a + w),
            ((((fl + fr) + rl) + rr) * f32(0.25), (((fr - fl) + rl) - rr) * f32(0.25), omega))


def ackermann_model(wheelbase, steering, linear, angular):
    L, s, v, w = magnitude(wheelbase), f32(steering), f32(linear), f32(angular)
    t = tanf(s)
    return (f32(INF) if t == 0 else L / t,
            f32(0) if L == 0 else tanf(s) / L,
            f32(0) if v == 0 else atanf((w * L) / v),
            f32(0) if L == 0 else (v * tanf(s)) / L)


@pytest.mark.parametrize("seed", SEEDS)
def test_drives_match_the_model(native, seed):
    rng = random.Random(seed)
    for _ in range(300):
        track, slip, linear, angular, left, right, base = sample_floats(rng, 7)
        d = native.DiffDrive(track)
        assert same((d.wheel_speeds(linear, angular), d.body_motion(left, right)),
                    diff_model(track, linear, angular, left, right))
        s = native.SkidSteer(track, slip)
        assert same((s.wheel_speeds(linear, angular), s.body_motion(left, right)),
                    skid_model(track, slip, linear, angular, left, right))
        twist = sample_floats(rng, 3)
        wheels = sample_floats(rng, 4)
        m = native.Mecanum(base, track)
        want_wheels, want_body = mecanum_model(base, track, twist, wheels)
        got = m.wheel_speeds(native.Twist(*twist))
        assert same((got.front_left, got.front_right, got.rear_left, got.rear_right), want_wheels)
        assert same(twist_fields(m.body_motion(native.WheelSpeeds(*wheels))), want_body)
        a = native.Ackermann(base)
        assert same((a.turn_radius(slip), a.curvature(slip), a.steering_angle(linear, angular), a.yaw_rate(linear, slip)),
                    ackermann_model(base, slip, linear, angular))


def test_drive_edges(native):
    assert native.DiffDrive(-0.5).wheel_speeds(1, 2) == native.DiffDrive(0.5).wheel_speeds(1, 2) == (0.5, 1.5)
    assert native.DiffDrive(0).body_motion(1, 2) == (1.5, 0.0)
    assert native.SkidSteer(1, 0).wheel_speeds(0, 1) == native.SkidSteer(1).wheel_speeds(0, 1)
    assert native.SkidSteer(1, -2).wheel_speeds(0, 1) == native.SkidSteer(1, 2).wheel_speeds(0, 1) == (-1.0, 1.0)
    m = native.Mecanum(0.4, 0.3)
    k = float(f32(0.2) + f32(0.15))
    assert m.wheel_speeds(native.Twist(omega=1)) == native.WheelSpeeds(-k, k, -k, k)
    assert m.body_motion(m.wheel_speeds(native.Twist(omega=1))) == native.Twist(0, 0, 1)
    car = native.Ackermann(2)
    assert car.turn_radius(0) == INF and car.steering_angle(0, 1) == 0.0
    assert car.turn_radius(-0.3) < 0
    flat = native.Ackermann(0)
    assert flat.curvature(0.5) == 0.0 and flat.yaw_rate(1, 0.5) == 0.0
    with pytest.raises(TypeError):
        m.wheel_speeds(native.Pose())
    with pytest.raises(TypeError):
        native.DiffDrive("1")


# --- odometry ----------------------------------------------------------------------

@pytest.mark.parametrize("seed", SEEDS)
def test_odometry_sequences_match_the_model(native, seed):
    rng = random.Random(seed)
    start = sample_floats(rng, 3, special=0.0)
    odo = native.Odometry(native.Pose(*start))
    model = OdometryModel(*start)
    kept = []
    for step in range(800):
        kind = rng.random()
        if kind < 0.45:
            linear, angular, dt = sample_floats(rng, 3, special=0.03)
            got = odo.integrate(linear, angular, dt)
            want = model.integrate(linear, angular, dt)
        elif kind < 0.8:
            left, right, track = sample_floats(rng, 3, special=0.03)
            got = odo.integrate_wheels(left, right, native.DiffDrive(track))
            want = model.integrate_wheels(left, right, magnitude(track))
        elif kind < 0.97:
            measured, weight = rng.uniform(-7, 7), rng.choice([rng.uniform(-0.5, 1.5), NAN, INF, 0.3])
            assert odo.fuse_heading(measured, weight) is None
            model.fuse_heading(measured, weight)
            got, want = odo.pose, model.pose.fields()
        else:
            pose = sample_floats(rng, 3, special=0.0)
            odo.reset(native.Pose(*pose))
            model = OdometryModel(*pose)
            got, want = odo.pose, model.pose.fields()
        assert same(pose_fields(got), want), step
        kept.append((got, pose_fields(got)))
    # Poses handed out earlier are copies: later steps did not change them.
    assert all(same(pose_fields(p), f) for p, f in kept)


@pytest.mark.parametrize(
    "steps, want",
    [
        ([("integrate", 1, 0, 2)], (2.0, 0.0, 0.0)),
        ([("integrate", 1, 0, NAN)], (0.0, 0.0, 0.0)),
        ([("integrate", 1, 0, INF)], (0.0, 0.0, 0.0)),
        ([("integrate", 1, 5e-7, 1)], (1.0, 0.0, float(f32(5e-7)))),
        ([("wheels", 0, 1, 0)], (0.5, 0.0, 0.0)),
        ([("wheels", 1, 1, 0.3)], (1.0, 0.0, 0.0)),
        ([("wheels", 1, 1, NAN)], (0.0, 0.0, 0.0)),
        ([("wheels", NAN, 1, 1)], (0.0, 0.0, 0.0)),
    ],
)
def test_odometry_edges(native, steps, want):
    odo = native.Odometry()
    for kind, a, b, c in steps:
        got = odo.integrate(a, b, c) if kind == "integrate" else odo.integrate_wheels(a, b, native.DiffDrive(c))
    assert same(pose_fields(got), want)
    assert same(pose_fields(odo.pose), want)


def test_odometry_follows_arcs_and_fuses_the_short_way(native):
    odo = native.Odometry()
    assert pose_fields(odo.pose) == (0.0, 0.0, 0.0)
    quarter = odo.integrate(1, math.pi / 2, 1)
    assert (quarter.x, quarter.y) == pytest.approx((2 / math.pi, 2 / math.pi), abs=1e-6)
    odo.reset(native.Pose(0, 0, 3.0))
    assert odo.integrate(0, 0.5, 1).theta == pytest.approx(3.5 - 2 * math.pi, abs=1e-6)
    odo = native.Odometry(native.Pose(0, 0, -3.1))
    odo.fuse_heading(3.1, 0.5)
    assert abs(odo.pose.theta) == pytest.approx(math.pi, abs=1e-6)
    for weight, want in ((2, 1.0), (1, 1.0), (-1, 0.25), (NAN, 0.25)):
        o = native.Odometry(native.Pose(1, 2, 0.25))
        o.fuse_heading(1.0, weight)
        assert pose_fields(o.pose) == (1.0, 2.0, want)
    o = native.Odometry(native.Pose(0, 0, 0.25))
    o.fuse_heading(NAN, 1)
    assert o.pose.theta == 0.25


def test_odometry_arguments(native):
    odo = native.Odometry(None)
    assert odo.pose == native.Pose()
    assert native.Odometry(native.Pose(0, 0, 4.0)).pose.theta == native.Pose(0, 0, 4.0).theta
    with pytest.raises(TypeError) as err:
        native.Odometry(native.Twist())
    assert "start" in str(getattr(err.value, "__notes__", [""])[0])
    with pytest.raises(TypeError):
        odo.reset(native.Twist())
    with pytest.raises(TypeError):
        odo.integrate_wheels(1, 1, native.SkidSteer(1))
    p = odo.pose
    odo.integrate(1, 0, 1)
    assert p == native.Pose()  # a copy


# --- guidance --------------------------------------------------------------------

K = 0.017453292519943295


def guide_model(cruise, arrival, gain, max_angular, here, heading, target):
    cruise, gain, max_angular = magnitude(cruise), magnitude(gain), magnitude(max_angular)
    arrival = abs(arrival) if not math.isnan(arrival) else arrival
    (p1, l1), (p2, l2) = here, target
    s1 = math.sin((p2 - p1) * K * 0.5)
    s2 = math.sin(K * (l2 - l1) * 0.5)
    a = math.cos(p2 * K) * math.cos(p1 * K) * s2 * s2 + s1 * s1
    try:
        distance = (2.0 * math.atan2(math.sqrt(a), math.sqrt(1.0 - a))) * 6371008.8
    except ValueError:
        distance = NAN
    phi1, phi2, delta = p1 * K, p2 * K, K * (l2 - l1)
    y = math.cos(phi2) * math.sin(delta)
    x = math.cos(phi1) * math.sin(phi2) - math.cos(delta) * (math.cos(phi2) * math.sin(phi1))
    bearing = math.atan2(y, x) * 57.29577951308232
    if bearing < 0:
        bearing = 360.0 + bearing
    e = np.fmod(f32(bearing) - f32(heading), f32(360))
    if e > 180:
        e = e - f32(360)
    elif e <= -180:
        e = e + f32(360)
    arrived = distance <= arrival
    if arrived:
        return (0.0, 0.0, 0.0), distance, e, True
    e_rad = f32(0.017453292) * e
    angular = -gain * e_rad
    if angular < -max_angular:
        angular = -max_angular
    elif angular > max_angular:
        angular = max_angular
    c = cosf(e_rad)
    linear = cruise * c if c > 0 else f32(0)
    if not finite(linear) or not finite(angular):
        linear = angular = f32(0)
    return (linear, f32(0), angular), distance, e, False


@pytest.mark.parametrize("seed", SEEDS)
def test_guidance_matches_the_model(native, seed):
    rng = random.Random(seed)
    for _ in range(400):
        cruise, gain, max_angular = sample_floats(rng, 3, special=0.03)
        arrival = rng.choice([0.0, 5.0, 50.0, 1e4, NAN, -20.0])
        here = (rng.uniform(-80, 80), rng.uniform(-180, 180))
        near = rng.random() < 0.5
        target = (here[0] + rng.uniform(-0.01, 0.01), here[1] + rng.uniform(-0.01, 0.01)) if near else \
            (rng.uniform(-80, 80), rng.uniform(-180, 180))
        heading = rng.choice([rng.uniform(-720, 720), NAN, INF, 0.0, 90.0])
        g = native.WaypointFollower(cruise, arrival, gain, max_angular).guide(here, heading, target)
        twist, distance, e, arrived = guide_model(cruise, arrival, gain, max_angular, here, heading, target)
        assert same(twist_fields(g.twist), twist)
        assert same(g.distance_m, distance)
        assert same(g.heading_error_deg, e)
        assert g.arrived is arrived


def test_guidance_edges(native):
    f = native.WaypointFollower(1, 2, 1, 0.5)
    here = (45.0, 7.0)
    g = f.guide(here, 30, here)
    assert (g.distance_m, g.arrived, g.twist, g.heading_error_deg) == (0.0, True, native.Twist(), -30.0)
    assert f.guide(here, 200, here).heading_error_deg == 160.0
    # On the equator the bearings east and west are exactly 90 and 270.
    east, west, origin = (0.0, 0.001), (0.0, -0.001), (0.0, 0.0)
    pivot = f.guide(origin, 0, east)
    assert pivot.heading_error_deg == 90.0 and pivot.twist == native.Twist(0, 0, -0.5)
    gentle = native.WaypointFollower(1, 2, 0.1, 5).guide(origin, 0, east)
    assert gentle.twist.omega == float(-f32(0.1) * (f32(0.017453292) * f32(90)))
    assert f.guide(origin, 90, east).twist.vx == 1.0
    assert f.guide(origin, 0, west).heading_error_deg == -90.0
    assert f.guide(origin, 90, west).heading_error_deg == 180.0
    lost = f.guide(origin, NAN, east)
    assert lost.twist == native.Twist() and not lost.arrived and math.isnan(lost.heading_error_deg)
    assert not native.WaypointFollower(1, NAN, 1, 1).guide(here, 0, here).arrived
    assert native.WaypointFollower(1, -5, 1, 1).guide(origin, 0, (0.0, 0.00001)).arrived


@pytest.mark.parametrize("bad", [[0.0, 0.0], (0.0,), (0.0, 0.0, 0.0), "ab", (0.0, "x")])
def test_guidance_wants_tuples_of_two_numbers(native, bad):
    f = native.WaypointFollower(1, 2, 1, 0.5)
    with pytest.raises(TypeError) as err:
        f.guide(bad, 0, (0.0, 0.0))
    assert "here" in str(getattr(err.value, "__notes__", [""])[0])
    with pytest.raises(TypeError):
        f.guide((0.0, 0.0), 0, bad)


def test_guidance_is_a_value(native):
    f = native.WaypointFollower(1, 2, 1, 0.5)
    a, b = f.guide((0.0, 0.0), 0, (0.0, 0.001)), f.guide((0.0, 0.0), 0, (0.0, 0.001))
    assert a == b and a != f.guide((0.0, 0.0), 10, (0.0, 0.001))
    assert a.__eq__(a.twist) is NotImplemented
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(TypeError):
        native.Guidance()


# --- safety ------------------------------------------------------------------------

def limit(v):
    v = f32(v)
    return f32(0) if np.isnan(v) else magnitude(v)


class LimitsModel:
    def __init__(self, ml, ma, mla, maa):
        self.ml, self.ma, self.mla, self.maa = limit(ml), limit(ma), limit(mla), limit(maa)
        self.reset()

    def reset(self):
        self.last = [f32(0), f32(0), f32(0)]

    def apply(self, desired, dt):
        vx, vy, om = (f32(v) if finite(f32(v)) else f32(0) for v in desired)
        dt = f32(dt)
        dt = abs(dt) if finite(dt) else f32(0)
        s = np.sqrt(vy * vy + vx * vx)
        if s > self.ml:
            scale = self.ml / s
            vx, vy = vx * scale, vy * scale
        if om < -self.ma:
            om = -self.ma
        elif om > self.ma:
            om = self.ma

        def step_of(x):
            return f32(0) if np.isnan(x) else abs(x)

        ls, as_ = step_of(self.mla * dt), step_of(dt * self.maa)

        def ease(last, target, step):
            delta = target - last
            if delta > step:
                return last + step
            if delta < -step:
                return last - step
            return target

        self.last = [ease(self.last[0], vx, ls), ease(self.last[1], vy, ls), ease(self.last[2], om, as_)]
        return tuple(self.last)


class GateModel:
    def __init__(self, limits, timeout):
        self.limits = limits
        self.timeout = limit(timeout)
        self.elapsed = f32(0)
        self.engaged = False

    def command(self, desired, dt):
        dt = f32(dt)
        self.elapsed = self.elapsed + abs(dt) if finite(dt) else f32(INF)
        if self.engaged or self.elapsed > self.timeout:
            self.limits.reset()
            return (f32(0), f32(0), f32(0))
        return self.limits.apply(desired, dt)


@pytest.mark.parametrize("seed", SEEDS)
def test_limits_and_gate_sequences_match_the_model(native, seed):
    rng = random.Random(seed)
    lims = [rng.choice([rng.uniform(0, 3), rng.uniform(-3, 0), NAN, INF, 0.0]) for _ in range(4)]
    timeout = rng.choice([0.5, 1.0, 0.0, NAN, -2.0, INF])
    limits, model = native.Limits(*lims), LimitsModel(*lims)
    gate, gate_model = native.SafetyGate(limits, timeout), GateModel(LimitsModel(*lims), timeout)
    for step in range(600):
        desired = sample_floats(rng, 3, special=0.05)
        dt = rng.choice([rng.uniform(0, 0.3), rng.uniform(-0.3, 0), 0.0, NAN, INF]) if rng.random() < 0.2 \
            else rng.uniform(0, 0.2)
        r = rng.random()
        if r < 0.03:
            limits.reset()
            model.reset()
        elif r < 0.06:
            gate.feed()
            gate_model.elapsed = f32(0)
        elif r < 0.08:
            gate.engage_estop()
            gate_model.engaged = True
        elif r < 0.12:
            gate.reset_estop()
            gate_model.engaged = False
        elif r < 0.4:
            gate.feed()
            gate_model.elapsed = f32(0)
        t = native.Twist(*desired)
        assert same(twist_fields(limits.apply(t, dt)), model.apply(desired, dt)), step
        assert same(twist_fields(gate.command(t, dt)), gate_model.command(desired, dt)), step
        assert gate.is_stopped is (gate_model.engaged or bool(gate_model.elapsed > gate_model.timeout))


def test_limits_edges(native):
    lim = native.Limits(1, 1, 1, 1)
    assert [lim.apply(native.Twist(2), 0.5).vx for _ in range(3)] == [0.5, 1.0, 1.0]
    assert lim.apply(native.Twist(), 0) == native.Twist(1, 0, 0)  # dt 0 repeats the last
    lim.reset()
    assert lim.apply(native.Twist(2), 0) == native.Twist()
    fast = native.Limits(1, 10, 100, 100)
    got = fast.apply(native.Twist(3, 4, 0), 1)
    assert (got.vx, got.vy, got.omega) == pytest.approx((0.6, 0.8, 0), abs=1e-7)
    assert native.Limits(NAN, 1, 1, 1).apply(native.Twist(1, 1, 1), 1) == native.Twist(0, 0, 1)
    with pytest.raises(TypeError):
        fast.apply(native.Pose(), 1)


def test_gate_watchdog_and_estop(native):
    dog = native.Watchdog(0.5)
    assert (dog.update(0.5), dog.update(0.01), dog.is_expired) == (False, True, True)
    dog.feed()
    assert not dog.is_expired
    assert dog.update(NAN) and dog.update(0) and dog.is_expired
    dog.feed()
    assert not dog.update(-0.3)
    assert native.Watchdog(0).update(1e-30) and native.Watchdog(NAN).update(1e-30)
    assert not native.Watchdog(-1).update(0.9)

    stop = native.EStop()
    go = native.Twist(1, 0, 0.5)
    assert not stop.is_engaged and stop.gate(go) == go and stop.gate(go) is not go
    stop.engage()
    stop.engage()
    assert stop.is_engaged and stop.gate(go) == native.Twist()
    stop.reset()
    assert stop.gate(go) == go

    limits = native.Limits(1, 1, 1, 1)
    limits.apply(native.Twist(1), 0.7)
    gate = native.SafetyGate(limits, 1)
    # The gate copied the limits, including the motion last allowed.
    assert gate.command(native.Twist(1), 0.5).vx == 1.0
    limits.reset()
    assert gate.command(native.Twist(1), 0.6) == native.Twist()
    assert gate.is_stopped
    gate.feed()
    assert not gate.is_stopped
    assert gate.command(native.Twist(1), 0.5).vx == 0.5  # eases up from rest
    gate.engage_estop()
    assert gate.is_stopped and gate.command(native.Twist(1), 0.1) == native.Twist()
    gate.reset_estop()
    assert gate.command(native.Twist(1), 0.1).vx == pytest.approx(0.1)


@pytest.mark.parametrize(
    "range_m, stop, cut",
    [(2.0, 1.0, False), (1.0, 1.0, True), (0.5, -1.0, True), (1.5, -1.0, False), (NAN, 1.0, True),
     (INF, INF, True), (0.0, NAN, True)],
)
def test_obstacle_stop(native, range_m, stop, cut):
    t = native.Twist(1, 0.5, 0.25)
    got = native.obstacle_stop(t, range_m, stop)
    assert got == (native.Twist(0, 0, 0.25) if cut else t)
    with pytest.raises(TypeError):
        native.obstacle_stop(native.Pose(), 1, 1)
