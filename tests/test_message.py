"""Messages and payload arguments."""
import math

import pytest

import trovik._native as native


@pytest.mark.parametrize(
    "payload, expected",
    [("21.5", b"21.5"), (b"\x00\xff", b"\x00\xff"), (bytearray(b"ab"), b"ab"), ([0, 255], b"\x00\xff"), ((1,), b"\x01"),
     ("", b""), ("h\u00e9", "h\u00e9".encode())],
)
def test_payload_forms(payload, expected):
    m = native.Message("t", payload)
    assert m.payload == expected and type(m.payload) is bytes


@pytest.mark.parametrize("payload", [1.5, [256], [-1], None, object()])
def test_payload_refusals_name_both_forms(payload):
    with pytest.raises(TypeError) as info:
        native.Message("t", payload)
    text = str(info.value)
    assert text.startswith("failed to extract enum Payload ('Text | Bytes')\n- variant Text (Text): ")
    assert "\n- variant Bytes (Bytes): " in text


def test_payload_refusal_reasons():
    with pytest.raises(TypeError) as info:
        native.Message("t", [256])
    assert str(info.value) == (
        "failed to extract enum Payload ('Text | Bytes')\n"
        "- variant Text (Text): TypeError: failed to extract field Payload::Text.0, caused by "
        "TypeError: 'list' object is not an instance of 'str'\n"
        "- variant Bytes (Bytes): TypeError: failed to extract field Payload::Bytes.0, caused by "
        "OverflowError: out of range integral type conversion attempted"
    )


@pytest.mark.parametrize(
    "text, expected",
    [
        ("21.5", 21.5), (" 7\n", 7.0), ("1e400", math.inf), ("-1e400", -math.inf), ("1e-400", 0.0),
        ("inf", math.inf), ("-Infinity", -math.inf), ("+INF", math.inf), (".5", 0.5), ("5.", 5.0),
        ("1E+3", 1000.0), ("\u2003-2.5\u00a0", -2.5), ("0", 0.0), ("-0", -0.0),
        ("0.1", 0.1), ("2.2250738585072011e-308", 2.2250738585072011e-308),
    ],
)
def test_number_grammar_accepts(text, expected):
    assert native.Message("t", text).number == expected


@pytest.mark.parametrize("text", ["1_000", "0x10", "1 0", "", " ", ".", "e5", "1e", "1e+", "nanx", "--1", "in", "1.2.3",
                                  "\u0661"])
def test_number_grammar_refuses(text):
    with pytest.raises(ValueError) as info:
        native.Message("t", text).number
    assert str(info.value) == "the payload is not a number"


def test_nan_in_any_case():
    assert math.isnan(native.Message("t", "NaN").number)
    assert math.isnan(native.Message("t", "-nan").number)


@pytest.mark.parametrize("getter", ["text", "number"])
def test_invalid_utf8(getter):
    m = native.Message("t", b"\xff")
    with pytest.raises(ValueError) as info:
        getattr(m, getter)
    assert str(info.value) == "the payload is not UTF-8 text"
    assert m.payload == b"\xff"


@pytest.mark.parametrize(
    "topic, expected",
    [
        ("a/b", '"a/b"'),
        ('q"b\\s', '"q\\"b\\\\s"'),
        ("\0\t\r\n", '"\\0\\t\\r\\n"'),
        ("\x07", '"\\u{7}"'),
        ("caf\u00e9 \u2603", '"caf\u00e9 \u2603"'),
        ("it's", "\"it's\""),
        ("\u200b", '"\\u{200b}"'),
    ],
)
def test_repr_debug_quotes_the_topic(topic, expected):
    assert repr(native.Message(topic, b"xyz")) == f"Message(topic={expected}, payload=3 bytes)"


def test_empty_message():
    m = native.Message("", b"")
    assert (m.topic, m.payload, m.text) == ("", b"", "")
    with pytest.raises(ValueError, match="the payload is not a number"):
        m.number


def test_message_has_no_value_equality():
    a, b = native.Message("t", b"x"), native.Message("t", b"x")
    assert a != b and a == a
    with pytest.raises(AttributeError):
        a.topic = "u"
