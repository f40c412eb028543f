"""Helpers for checking 32-bit float arithmetic bit for bit.

The single-precision sine, cosine, tangent and arctangents are the C
library's own float functions, called through ctypes, so a model and the
module round each transcendental the same way while the order of the
arithmetic is written out in the model independently. Everything else is
numpy.float32, each operation rounded to 32 bits.
"""

import ctypes
import ctypes.util
import math
import struct

import numpy as np

f32 = np.float32
NAN = float("nan")
INF = float("inf")

_libm = ctypes.CDLL(ctypes.util.find_library("m"))


def _float_fn(name, nargs):
    fn = getattr(_libm, name)
    fn.restype = ctypes.c_float
    fn.argtypes = [ctypes.c_float] * nargs
    return lambda *args: f32(fn(*(float(a) for a in args)))


sinf = _float_fn("sinf", 1)
cosf = _float_fn("cosf", 1)
tanf = _float_fn("tanf", 1)
atanf = _float_fn("atanf", 1)
acosf = _float_fn("acosf", 1)
atan2f = _float_fn("atan2f", 2)


def bits(x):
    return struct.pack("<d", float(x))


def same(got, want):
    """Equal as IEEE values, down to the sign of zero; NaN matches NaN.
    Tuples and lists compare item by item."""
    if want is None or got is None:
        return got is want
    if isinstance(want, (tuple, list)):
        return len(got) == len(want) and all(same(g, w) for g, w in zip(got, want))
    want = float(want)
    if math.isnan(want):
        return math.isnan(got)
    return bits(got) == bits(want)


def finite(x):
    return bool(np.isfinite(x))
