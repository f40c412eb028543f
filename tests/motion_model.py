"""A float32 model of the motion kit's poses and odometry, shared by the
motion and simulation tests; each operation is rounded to 32 bits in the
documented order.
"""

import numpy as np

from float32_model import cosf, f32, finite, sinf

PI = f32(3.1415927)
TWO_PI = f32(6.2831855)


def magnitude(v):
    v = f32(v)
    return -v if v < 0 else v


def wrap(theta):
    r = np.fmod(f32(theta), TWO_PI)
    if r > PI:
        return r - TWO_PI
    if r <= -PI:
        return r + TWO_PI
    return r


class PoseModel:
    def __init__(self, x=0.0, y=0.0, theta=0.0):
        self.x, self.y, self.theta = f32(x), f32(y), wrap(theta)

    def fields(self):
        return (self.x, self.y, self.theta)


class OdometryModel:
    def __init__(self, x=0.0, y=0.0, theta=0.0):
        self.pose = PoseModel(x, y, theta)

    def advance(self, distance, turn):
        p = self.pose
        if not finite(distance) or not finite(turn):
            return
        th = p.theta
        if abs(turn) < f32(1e-6):
            dx = distance * cosf(th)
            dy = distance * sinf(th)
        else:
            r = distance / turn
            after = turn + th
            dx = r * (sinf(after) - sinf(th))
            dy = r * (cosf(th) - cosf(after))
        p.x = p.x + dx
        p.y = p.y + dy
        p.theta = wrap(turn + th)

    def integrate(self, linear, angular, dt):
        self.advance(f32(linear) * f32(dt), f32(angular) * f32(dt))
        return self.pose.fields()

    def integrate_wheels(self, left, right, track):
        left, right, track = f32(left), f32(right), f32(track)
        turn = f32(0) if track == 0 else (right - left) / track
        self.advance((left + right) * f32(0.5), turn)
        return self.pose.fields()

    def fuse_heading(self, measured, weight):
        measured, weight = f32(measured), f32(weight)
        if not finite(measured) or np.isnan(weight):
            return
        w = f32(0) if weight < 0 else f32(1) if weight > 1 else weight
        error = wrap(measured - self.pose.theta)
        self.pose.theta = wrap(self.pose.theta + w * error)
