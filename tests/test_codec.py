"""CBOR/JSON transcoding, delta-coded sample batches and the quantizer.

Our CBOR is checked against cbor2, an independent implementation; the delta
format and the quantizer's 32-bit arithmetic against small reference models
written here from the format's definition.
"""

import ctypes
import json
import math
import random
import struct

import pytest

CODEC_ERROR = "codec error: "


@pytest.fixture(scope="module")
def native():
    import trovik._native

    return trovik._native


@pytest.fixture(scope="module")
def cbor2():
    return pytest.importorskip("cbor2")


# --- interface ---------------------------------------------------------------


@pytest.mark.parametrize(
    ("name", "signature", "doc"),
    [
        (
            "json_to_cbor_bytes",
            "(json)",
            "Converts a JSON document into its CBOR encoding, which is typically smaller.",
        ),
        ("cbor_to_json_bytes", "(cbor)", "Converts a CBOR document back into its JSON encoding."),
        (
            "encode_delta_samples",
            "(samples)",
            "Delta-encodes a series of integer samples into a compact buffer.",
        ),
        (
            "decode_delta_samples",
            "(bytes)",
            "Decodes a delta-encoded buffer back into its integer samples.",
        ),
    ],
)
def test_functions_document_themselves(native, name, signature, doc):
    function = getattr(native, name)
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc


@pytest.mark.parametrize(
    ("method", "signature", "doc"),
    [
        (
            "encode",
            "($self, readings)",
            "Quantizes and delta-encodes a batch of readings.\n\n"
            "A reading that is not a number, is infinite, or is too large for the scale is\n"
            "refused, since the format has no way to carry a missing reading.",
        ),
        (
            "decode",
            "($self, bytes)",
            "Decodes a batch back into readings, to within the quantizer's precision.",
        ),
    ],
)
def test_quantizer_methods_document_themselves(native, method, signature, doc):
    function = getattr(native.Quantizer, method)
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc


def test_quantizer_documents_its_constructor(native):
    assert native.Quantizer.__text_signature__ == "(scale)"
    assert native.Quantizer.__doc__ == (
        "Packs float readings to a fixed precision for a metered link.\n\n"
        "Creates a quantizer whose `scale` sets the precision kept.\n\n"
        "A scale of `100` keeps two decimal places. It must be positive and finite,\n"
        "and decoding must use the same scale the batch was encoded with."
    )


# --- JSON to CBOR ------------------------------------------------------------

# RFC 8949 Appendix A, every example JSON can express.
RFC_EXAMPLES = [
    ("0", "00"),
    ("1", "01"),
    ("10", "0a"),
    ("23", "17"),
    ("24", "1818"),
    ("25", "1819"),
    ("100", "1864"),
    ("1000", "1903e8"),
    ("1000000", "1a000f4240"),
    ("1000000000000", "1b000000e8d4a51000"),
    ("18446744073709551615", "1bffffffffffffffff"),
    ("-1", "20"),
    ("-10", "29"),
    ("-100", "3863"),
    ("-1000", "3903e7"),
    ("0.0", "f90000"),
    ("-0.0", "f98000"),
    ("1.0", "f93c00"),
    ("1.1", "fb3ff199999999999a"),
    ("1.5", "f93e00"),
    ("65504.0", "f97bff"),
    ("100000.0", "fa47c35000"),
    ("3.4028234663852886e+38", "fa7f7fffff"),
    ("1.0e+300", "fb7e37e43c8800759c"),
    ("5.960464477539063e-8", "f90001"),
    ("0.00006103515625", "f90400"),
    ("-4.0", "f9c400"),
    ("-4.1", "fbc010666666666666"),
    ("false", "f4"),
    ("true", "f5"),
    ("null", "f6"),
    ('""', "60"),
    ('"a"', "6161"),
    ('"IETF"', "6449455446"),
    (r'"\"\\"', "62225c"),
    (r'"\u00fc"', "62c3bc"),
    (r'"\u6c34"', "63e6b0b4"),
    (r'"\ud800\udd51"', "64f0908591"),
    ("[]", "80"),
    ("[1, 2, 3]", "83010203"),
    ("[1, [2, 3], [4, 5]]", "8301820203820405"),
    (json.dumps(list(range(1, 26))), "98190102030405060708090a0b0c0d0e0f101112131415161718181819"),
    ("{}", "a0"),
    ('{"a": 1, "b": [2, 3]}', "a26161016162820203"),
    ('["a", {"b": "c"}]', "826161a161626163"),
    ('{"a": "A", "b": "B", "c": "C", "d": "D", "e": "E"}', "a56161614161626142616361436164614461656145"),
]


@pytest.mark.parametrize(("text", "expected"), RFC_EXAMPLES)
def test_rfc_examples_encode_like_the_peer(native, cbor2, text, expected):
    ours = native.json_to_cbor_bytes(text.encode())
    assert ours.hex() == expected
    assert ours == cbor2.dumps(json.loads(text), canonical=True)


def test_keys_are_written_in_byte_order_with_short_floats(native, cbor2):
    ours = native.json_to_cbor_bytes(b'{"b":1,"a":[true,null,1.5]}')
    assert ours.hex() == "a2616183f5f6f93e00616201"
    # Byte order, not the length-first order of canonical CBOR: "aa" comes before "b".
    ours = native.json_to_cbor_bytes('{"b":1,"aa":2,"\u00e9":3,"Z":4,"a":5}'.encode())
    decoded = cbor2.loads(ours)
    assert list(decoded) == ["Z", "a", "aa", "b", "\u00e9"]
    assert decoded == {"Z": 4, "a": 5, "aa": 2, "b": 1, "\u00e9": 3}


def test_the_last_duplicate_key_wins(native):
    assert native.json_to_cbor_bytes(b'{"a":1,"a":2}').hex() == "a1616102"


@pytest.mark.parametrize(
    ("text", "value"),
    [
        ("18446744073709551615", 2**64 - 1),
        ("-9223372036854775808", -(2**63)),
        # Integers beyond both ranges become floats.
        ("18446744073709551616", 18446744073709551616.0),
        ("-9223372036854775809", -9223372036854775808.0),
        ("1E2", 100.0),
        ("1e-400", 0.0),
    ],
)
def test_numbers_keep_their_kind(native, cbor2, text, value):
    decoded = cbor2.loads(native.json_to_cbor_bytes(text.encode()))
    assert decoded == value
    assert type(decoded) is type(value)


# Integers at the edges of every CBOR head width and of both 64-bit ranges.
EDGE_INTEGERS = [
    0, 23, 24, 255, 256, 65535, 65536, 2**32 - 1, 2**32, 2**63 - 1, 2**63, 2**64 - 1,
    -1, -24, -25, -256, -257, -(2**32), -(2**32) - 1, -(2**63) + 1, -(2**63),
]  # fmt: skip


def _float_of_width(rng, fmt):
    """A finite float that the IEEE format `fmt` ("e" half, "f" single, "d" double) holds exactly."""
    size = struct.calcsize(fmt)
    while True:
        (value,) = struct.unpack("<" + fmt, rng.getrandbits(8 * size).to_bytes(size, "little"))
        if math.isfinite(value):
            return value


def _same_length_key(rng):
    # Keys of one length, so byte order and canonical CBOR's length-first order agree.
    return "".join(rng.choice("abcXYZ") for _ in range(3))


def _any_key(rng):
    return "".join(rng.choice("aZ~\u00e9\u6c34\U0001f600") for _ in range(rng.randrange(4)))


def _json_document(rng, key, depth=0):
    """A nested document with unicode, integers at the 64-bit edges and floats of each width."""
    # Always a container at the top, leaves only from depth 4.
    kind = rng.choice([9, 11]) if depth == 0 else rng.randrange(12 if depth < 4 else 9)
    if kind == 0:
        return rng.choice([None, True, False])
    if kind == 1:
        return rng.choice(EDGE_INTEGERS)
    if kind == 2:
        return rng.randint(-(2**63), 2**64 - 1)
    if kind == 3:
        return _float_of_width(rng, "e")
    if kind == 4:
        return _float_of_width(rng, "f")
    if kind == 5:
        # Any double, from its bits, or a short decimal.
        return _float_of_width(rng, "d") if rng.random() < 0.5 else round(rng.uniform(-1e4, 1e4), rng.randrange(4))
    if kind in (6, 7, 8):
        alphabet = 'az"\\/\n\t\x01\x1f\x7f\u00e9\u6c34\U0001f600 '
        return "".join(rng.choice(alphabet) for _ in range(rng.randrange(6)))
    if kind in (9, 10):
        return [_json_document(rng, key, depth + 1) for _ in range(rng.randrange(5))]
    return {key(rng): _json_document(rng, key, depth + 1) for _ in range(rng.randrange(5))}


def _keys_in_byte_order(value):
    if isinstance(value, list):
        return all(map(_keys_in_byte_order, value))
    if isinstance(value, dict):
        keys = [k.encode() for k in value]
        return keys == sorted(keys) and all(map(_keys_in_byte_order, value.values()))
    return True


@pytest.mark.parametrize("seed", range(40))
def test_generated_documents_encode_like_the_peer(native, cbor2, seed):
    rng = random.Random(seed)
    document = _json_document(rng, _same_length_key)
    text = json.dumps(document, ensure_ascii=rng.random() < 0.5, indent=rng.choice([None, 2]))
    ours = native.json_to_cbor_bytes(text.encode())
    # Byte for byte: shortest heads, and each float in the narrowest width that holds it.
    assert ours == cbor2.dumps(document, canonical=True)
    assert cbor2.loads(ours) == json.loads(text)


@pytest.mark.parametrize("seed", range(40))
def test_the_peer_reads_our_cbor_as_json_reads_the_text(native, cbor2, seed):
    rng = random.Random(seed)
    document = _json_document(rng, _any_key)
    text = json.dumps(document, ensure_ascii=rng.random() < 0.5)
    decoded = cbor2.loads(native.json_to_cbor_bytes(text.encode()))
    expected = json.loads(text)
    assert decoded == expected
    assert _same_kinds(decoded, expected)
    assert _keys_in_byte_order(decoded)


@pytest.mark.parametrize("seed", range(40))
def test_our_json_of_the_peers_cbor_reads_back_the_document(native, cbor2, seed):
    rng = random.Random(seed)
    document = _json_document(rng, _any_key)
    for encoded in (cbor2.dumps(document), cbor2.dumps(document, canonical=True)):
        ours = json.loads(native.cbor_to_json_bytes(encoded))
        assert ours == document
        assert _same_kinds(ours, document)


@pytest.mark.parametrize(
    ("text", "where"),
    [
        (b"", "line 1 column 0"),
        (b"x", "line 1 column 1"),
        (b"[1,]", "line 1 column 4"),
        (b'{"a":1,\n"b" 2}', "line 2 column 5"),
        (b"1 2", "line 1 column 3"),
        (b"1e400", "line 1 column 5"),
        (b'"\\ud800"', "line 1 column 2"),
        (b'"\xff"', "line 1 column 2"),
        (b"[" * 129 + b"]" * 129, "line 1 column 129"),
    ],
)
def test_unreadable_json_names_line_and_column(native, text, where):
    with pytest.raises(native.TrovikError) as caught:
        native.json_to_cbor_bytes(text)
    message = str(caught.value)
    assert message.startswith(CODEC_ERROR)
    assert message.endswith(" at " + where)


def test_json_may_nest_128_levels(native, cbor2):
    ours = native.json_to_cbor_bytes(b"[" * 128 + b"]" * 128)
    assert ours == cbor2.dumps(json.loads("[" * 128 + "]" * 128))


def test_json_arguments_take_any_byte_sequence(native):
    assert native.json_to_cbor_bytes(bytearray(b"[1]")) == b"\x81\x01"
    assert native.json_to_cbor_bytes([0x5B, 0x31, 0x5D]) == b"\x81\x01"
    with pytest.raises(TypeError):
        native.json_to_cbor_bytes("[1]")


# --- CBOR to JSON ------------------------------------------------------------


@pytest.mark.parametrize(
    ("cbor", "json_text"),
    [
        ("f5ff", b"true"),
        ("f97e00", b"null"),
        ("fa7f800000", b"null"),
        ("f7", b"null"),
        ("fb3ff0000000000000", b"1.0"),
        ("fb4341c37937e08000", b"1e16"),
        ("f98000", b"-0.0"),
        ("c248ffffffffffffffff", b"18446744073709551615"),
        ("c3487fffffffffffffff", b"-9223372036854775808"),
        ("9f01bf6161f4ffff", b'[1,{"a":false}]'),
        ("a2616202616101", b'{"a":1,"b":2}'),
        ("6b225c0a01c3a92f7f6f6b21", '"\\"\\\\\\n\\u0001\u00e9/\x7fok!"'.encode()),
    ],
)
def test_cbor_becomes_compact_json(native, cbor, json_text):
    assert native.cbor_to_json_bytes(bytes.fromhex(cbor)) == json_text


def _random_cbor_value(rng, depth=0):
    kind = rng.randrange(9 if depth < 4 else 6)
    if kind == 0:
        return rng.choice([None, True, False])
    if kind == 1:
        return rng.randint(-(2**63), 2**64 - 1)
    if kind == 2:
        return rng.choice([0.5, -1e-7, 1e16, 123.456, 2.0**-24, 65504.0, 1e300, -0.0])
    if kind == 3:
        return ctypes.c_double.from_buffer_copy(rng.getrandbits(64).to_bytes(8, "little")).value
    if kind in (4, 5):
        return "".join(rng.choice('ab"\\\n\x1f\u00e9\U0001f600') for _ in range(rng.randrange(5)))
    if kind in (6, 7):
        return [_random_cbor_value(rng, depth + 1) for _ in range(rng.randrange(4))]
    return {
        "".join(rng.choice("abc\u00e9") for _ in range(rng.randrange(1, 4))): _random_cbor_value(rng, depth + 1)
        for _ in range(rng.randrange(4))
    }


def _as_json(value):
    """What the JSON holds for a CBOR value: NaN and the infinities become null."""
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, list):
        return [_as_json(v) for v in value]
    if isinstance(value, dict):
        return {k: _as_json(v) for k, v in value.items()}
    return value


def _same_kinds(ours, expected):
    """Whether every number kept its kind: a float is never written as an integer."""
    if isinstance(expected, list):
        return len(ours) == len(expected) and all(map(_same_kinds, ours, expected))
    if isinstance(expected, dict):
        return ours.keys() == expected.keys() and all(_same_kinds(ours[k], expected[k]) for k in expected)
    return type(ours) is type(expected)


def _has_float(value):
    if isinstance(value, list):
        return any(map(_has_float, value))
    if isinstance(value, dict):
        return any(map(_has_float, value.values()))
    return isinstance(value, float)


@pytest.mark.parametrize("seed", range(40))
def test_random_peer_cbor_becomes_the_same_json(native, cbor2, seed):
    rng = random.Random(seed)
    value = _random_cbor_value(rng)
    for encoded in (cbor2.dumps(value), cbor2.dumps(value, canonical=True)):
        ours = native.cbor_to_json_bytes(encoded)
        expected = _as_json(value)
        assert json.loads(ours) == expected
        assert _same_kinds(json.loads(ours), expected)
        if not _has_float(expected):
            # Exactly compact JSON: sorted keys, non-ASCII characters written as they are.
            assert ours == json.dumps(expected, separators=(",", ":"), sort_keys=True, ensure_ascii=False).encode()


def test_json_survives_a_round_trip_through_cbor(native):
    text = b'{"a":[1,-2,3.25,"x",null,true,false,{}],"b":{"c":[[]]},"d":1e300,"e":-0.0,"f":0.1}'
    assert native.cbor_to_json_bytes(native.json_to_cbor_bytes(text)) == text


@pytest.mark.parametrize(
    ("cbor", "message"),
    [
        ("4100", "the CBOR has no JSON form: invalid type: byte array, expected any valid JSON value"),
        ("c1fb41d452d9ec200000", "the CBOR has no JSON form: invalid type: enum, expected any valid JSON value"),
        ("3b8000000000000000", "the CBOR has no JSON form: JSON number out of range"),
        ("c249010000000000000000", "the CBOR has no JSON form: JSON number out of range"),
        ("", "the CBOR ends part-way through a value"),
        ("8301", "the CBOR ends part-way through a value"),
        ("5bffffffffffffffff00", "the CBOR ends part-way through a value"),
        ("1c", "the CBOR is malformed at byte 0"),
        ("8201ff", "the CBOR is malformed at byte 2"),
        ("81" * 257 + "00", "the CBOR nests too deeply to read"),
    ],
)
def test_cbor_without_json_form_is_refused(native, cbor, message):
    with pytest.raises(native.TrovikError) as caught:
        native.cbor_to_json_bytes(bytes.fromhex(cbor))
    assert str(caught.value) == CODEC_ERROR + message


def test_a_map_key_that_is_not_text_is_refused(native):
    with pytest.raises(native.TrovikError) as caught:
        native.cbor_to_json_bytes(b"\xa1\x01\x02")
    assert str(caught.value).startswith(CODEC_ERROR + "the CBOR has no JSON form: ")


def test_an_unknown_simple_value_is_a_reading_failure(native):
    with pytest.raises(native.TrovikError) as caught:
        native.cbor_to_json_bytes(b"\x82\x01\xf0")
    message = str(caught.value)
    assert message.startswith(CODEC_ERROR) and "no JSON form" not in message


def test_cbor_may_nest_256_levels(native):
    assert native.cbor_to_json_bytes(b"\x81" * 256 + b"\x00") == b"[" * 256 + b"0" + b"]" * 256


# --- delta batches -----------------------------------------------------------


def _reference_batch(samples):
    """The batch as its definition writes it: count, then zigzag LEB128 deltas."""

    def uvarint(value):
        out = bytearray()
        while True:
            byte, value = value & 0x7F, value >> 7
            out.append(byte | (0x80 if value else 0))
            if not value:
                return bytes(out)

    out, previous = uvarint(len(samples)), 0
    for sample in samples:
        delta = (sample - previous + 2**63) % 2**64 - 2**63  # wrapping 64-bit difference
        out += uvarint(((delta << 1) ^ (delta >> 63)) & (2**64 - 1))
        previous = sample
    return out


@pytest.mark.parametrize(
    ("samples", "batch"),
    [
        ([], "00"),
        ([5, 7, 6], "030a0401"),
        ([-(2**63)], "01ffffffffffffffffff01"),
        ([2**63 - 1, -(2**63)], "02feffffffffffffffff0102"),
    ],
)
def test_delta_batches_have_the_documented_bytes(native, samples, batch):
    assert native.encode_delta_samples(samples).hex() == batch
    assert native.decode_delta_samples(bytes.fromhex(batch)) == samples


@pytest.mark.parametrize("seed", range(20))
def test_random_series_round_trip(native, seed):
    rng = random.Random(seed)
    extremes = [-(2**63), 2**63 - 1, 0, -1]
    samples = [
        rng.choice(extremes) if rng.random() < 0.3 else rng.randint(-(2**63), 2**63 - 1)
        for _ in range(rng.randrange(30))
    ]
    batch = native.encode_delta_samples(samples)
    assert batch == _reference_batch(samples)
    assert native.decode_delta_samples(batch) == samples
    assert native.decode_delta_samples(bytearray(batch)) == samples


@pytest.mark.parametrize(
    ("batch", "message"),
    [
        ("", "the batch ends part-way through a value"),
        ("010aff", "1 bytes follow the batch's last sample"),
        ("01ffffffffffffffffff02", "a value in the batch does not fit in 64 bits"),
        ("0280", "the batch ends part-way through a value"),
        # A huge count over a short input fails at its end.
        ("ffffffffffffffffff0100", "the batch ends part-way through a value"),
    ],
)
def test_broken_batches_are_refused(native, batch, message):
    with pytest.raises(native.TrovikError) as caught:
        native.decode_delta_samples(bytes.fromhex(batch))
    assert str(caught.value) == CODEC_ERROR + message


@pytest.mark.parametrize("sample", [2**63, -(2**63) - 1])
def test_samples_beyond_64_bits_are_refused(native, sample):
    with pytest.raises(OverflowError):
        native.encode_delta_samples([0, sample])


# --- quantizer ---------------------------------------------------------------


def _f32(x):
    return ctypes.c_float(x).value


def _reference_samples(scale, readings):
    """round(reading × scale) in 32-bit arithmetic, halves away from zero."""
    scale = _f32(scale)
    out = []
    for reading in readings:
        y = _f32(_f32(reading) * scale)  # the product of two floats is exact in a double
        out.append(int(math.copysign(math.floor(abs(y) + 0.5), y)))
    return out


def test_quantizer_rounds_halves_away_from_zero(native):
    q = native.Quantizer(100.0)
    assert native.decode_delta_samples(q.encode([1.005, -2.5])) == [101, -250]
    q = native.Quantizer(4)
    assert native.decode_delta_samples(q.encode([0.125, -0.125])) == [1, -1]


@pytest.mark.parametrize("seed", range(10))
def test_quantizer_matches_32_bit_arithmetic(native, seed):
    rng = random.Random(seed)
    scale = rng.choice([1.0, 4.0, 100.0, 0.1, 1000.0, 3.3])
    readings = [rng.uniform(-1e5, 1e5) for _ in range(rng.randrange(1, 20))]
    q = native.Quantizer(scale)
    batch = q.encode(readings)
    samples = _reference_samples(scale, readings)
    assert batch == _reference_batch(samples)
    decoded = q.decode(batch)
    assert decoded == [_f32(_f32(float(s)) / _f32(scale)) for s in samples]
    for reading, back in zip(readings, decoded):
        assert abs(back - _f32(reading)) <= 0.5 / _f32(scale) + abs(reading) * 2.0**-22


@pytest.mark.parametrize(
    ("scale", "readings", "message"),
    [
        (100.0, [1e300], "reading 0 is inf, which cannot be quantized"),
        (1.0, [0.0, 1.0, math.nan], "reading 2 is NaN, which cannot be quantized"),
        (1.0, [-math.inf], "reading 0 is -inf, which cannot be quantized"),
        (1.0, [1e19], "reading 0 is 10000000000000000000, too large for a scale of 1"),
        (100.0, [1.5, 1e17], "reading 1 is 100000000000000000, too large for a scale of 100"),
    ],
)
def test_quantizer_refuses_readings_it_cannot_carry(native, scale, readings, message):
    with pytest.raises(native.TrovikError) as caught:
        native.Quantizer(scale).encode(readings)
    assert str(caught.value) == CODEC_ERROR + message


@pytest.mark.parametrize(
    ("scale", "shown"),
    [
        (0.0, "0"),
        (-1.0, "-1"),
        (1e-50, "0.00000000000000000000000000000000000000000000000001"),
        (2.0**-150, "0.0000000000000000000000000000000000000000000007006492321624085"),
        (math.nan, "NaN"),
        (math.inf, "inf"),
        (-math.inf, "-inf"),
        (1e39, "1000000000000000000000000000000000000000"),
    ],
)
def test_quantizer_refuses_a_bad_scale(native, scale, shown):
    with pytest.raises(ValueError) as caught:
        native.Quantizer(scale)
    assert str(caught.value) == "a quantizer's scale must be a positive, finite number, not " + shown


@pytest.mark.parametrize("scale", [1e-45, 2.0**-150 * 1.01])
def test_a_tiny_scale_becomes_the_smallest_32_bit_float(native, scale):
    q = native.Quantizer(scale)
    # 3e38 × 2^-149 is far below one step, and one step is beyond the 32-bit range.
    assert native.decode_delta_samples(q.encode([3e38])) == [0]
    assert q.decode(native.encode_delta_samples([1])) == [math.inf]


def test_quantizer_decoding_refuses_broken_batches(native):
    with pytest.raises(native.TrovikError) as caught:
        native.Quantizer(100).decode(b"\x01\x0a\xff")
    assert str(caught.value) == CODEC_ERROR + "1 bytes follow the batch's last sample"
