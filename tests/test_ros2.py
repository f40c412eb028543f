"""ROS 2 names, DDS topic and type names, RIHS01 type hashes, entity keys and CDR.

CDR bytes are checked against the rosbags package's serializer and
deserializer, and type hashes against the hashes rosbags computes.
"""

import math
import struct
import threading

import pytest

STRING_HASH = "RIHS01_df668c740482bbd48fb39d76a70dfd4bd59db1288021743503259e948f6b1a18"
HEADER = b"\x00\x01\x00\x00"
KIND_MESSAGE = "`{}` is not one of Topic, ServiceRequest, or ServiceResponse"


@pytest.fixture(scope="module")
def native():
    import trovik._native as native

    return native


@pytest.fixture(scope="module")
def typestore():
    typesys = pytest.importorskip("rosbags.typesys")
    return typesys.get_typestore(typesys.Stores.ROS2_JAZZY)


# --- names ------------------------------------------------------------------

@pytest.mark.parametrize(
    "name, valid, fully_qualified",
    [
        ("foo", True, False),
        ("/foo/bar", True, True),
        ("~", True, False),
        ("~/foo", True, False),
        ("foo/{ns}/bar", True, False),
        ("_foo", True, False),
        ("foo_bar9", True, False),
        ("/foo", True, True),
        ("/{ns}/foo", True, False),
        ("{9}", True, False),
        ("", False, False),
        ("/", False, False),
        ("foo/", False, False),
        ("foo//bar", False, False),
        ("foo__bar", False, False),
        ("~foo", False, False),
        ("foo/~", False, False),
        ("~/a~b", False, False),
        ("9foo", False, False),
        ("/9foo", False, False),
        ("{a/b}", False, False),
        ("{a", False, False),
        ("a}", False, False),
        ("foo-bar", False, False),
        ("foo bar", False, False),
        ("café", False, False),
    ],
)
def test_name_rules(native, name, valid, fully_qualified):
    assert native.ros2_is_valid_name(name) is valid
    assert native.ros2_is_fully_qualified(name) is fully_qualified


@pytest.mark.parametrize("name, mangled", [("/a/b", "%a%b"), ("", ""), ("~/x%", "~%x%")])
def test_percent_mangle(native, name, mangled):
    assert native.ros2_percent_mangle(name) == mangled


# --- entity kinds and DDS topics --------------------------------------------

@pytest.mark.parametrize(
    "kind, prefix, suffix",
    [("Topic", "rt", ""), ("ServiceRequest", "rq", "Request"), ("ServiceResponse", "rr", "Reply")],
)
def test_entity_kind_prefix_and_suffix(native, kind, prefix, suffix):
    assert native.ros2_entity_kind_prefix(kind) == prefix
    assert native.ros2_entity_kind_suffix(kind) == suffix


@pytest.mark.parametrize(
    "fqn, kind, topic",
    [
        ("/chatter", "Topic", "rt/chatter"),
        ("/add_two_ints", "ServiceRequest", "rq/add_two_intsRequest"),
        ("/add_two_ints", "ServiceResponse", "rr/add_two_intsReply"),
        ("/ns/scan", "Topic", "rt/ns/scan"),
        ("chatter", "Topic", None),
        ("~/chatter", "Topic", None),
    ],
)
def test_dds_topic(native, fqn, kind, topic):
    assert native.ros2_dds_topic(fqn, kind) == topic


@pytest.mark.parametrize("kind", ["topic", "", "Service", "TOPIC"])
def test_unknown_kind_raises_value_error(native, kind):
    message = KIND_MESSAGE.format(kind)
    with pytest.raises(ValueError) as info:
        native.ros2_entity_kind_prefix(kind)
    assert str(info.value) == message
    with pytest.raises(ValueError) as info:
        native.ros2_entity_kind_suffix(kind)
    assert str(info.value) == message
    # The kind is read before the name, so even a bad name raises.
    with pytest.raises(ValueError) as info:
        native.ros2_dds_topic("not qualified", kind)
    assert str(info.value) == message


# --- type names, hashes and entity keys -------------------------------------

@pytest.mark.parametrize(
    "ros_type, dds",
    [
        ("std_msgs/msg/String", "std_msgs::msg::dds_::String_"),
        ("example_interfaces/srv/AddTwoInts", "example_interfaces::srv::dds_::AddTwoInts_"),
        ("std_msgs/String", None),
        ("a/b/c/d", None),
        ("a//c", None),
        ("", None),
    ],
)
def test_dds_type_name(native, ros_type, dds):
    assert native.ros2_dds_type_name(ros_type) == dds


@pytest.mark.parametrize(
    "text",
    [
        STRING_HASH[:-1] + "F",
        STRING_HASH[:-1],
        STRING_HASH + "0",
        "RIHS02_" + STRING_HASH[7:],
        STRING_HASH[:-1] + "g",
        "",
    ],
)
def test_malformed_type_hash(native, text):
    assert native.ros2_type_hash_digest(text) is None


@pytest.mark.parametrize(
    "ros_type",
    ["std_msgs/msg/String", "geometry_msgs/msg/Twist", "sensor_msgs/msg/LaserScan", "std_msgs/msg/Empty"],
)
def test_type_hash_digest_of_real_hashes(native, typestore, ros_type):
    text = typestore.hash_rihs01(ros_type)
    digest = native.ros2_type_hash_digest(text)
    assert isinstance(digest, bytes)
    assert digest == bytes.fromhex(text[len("RIHS01_"):])
    assert len(digest) == 32


def test_entity_key(native, typestore):
    assert typestore.hash_rihs01("std_msgs/msg/String") == STRING_HASH
    assert (
        native.ros2_entity_key(0, "/chatter", "std_msgs/msg/String", STRING_HASH)
        == "0/chatter/std_msgs::msg::dds_::String_/" + STRING_HASH
    )
    twist_hash = typestore.hash_rihs01("geometry_msgs/msg/Twist")
    key = native.ros2_entity_key(
        domain_id=42, fqn="/robot/cmd_vel", ros_type="geometry_msgs/msg/Twist", type_hash=twist_hash
    )
    assert key == "42/robot/cmd_vel/geometry_msgs::msg::dds_::Twist_/" + twist_hash
    assert native.ros2_entity_key(4294967295, "/a", "p/msg/T", STRING_HASH).startswith("4294967295/a/")
    # What comes out is a key: valid and free of wildcards.
    assert native.keyexpr_matches(key, key)


@pytest.mark.parametrize(
    "fqn, ros_type, type_hash",
    [
        ("/chatter", "std_msgs/msg/Str*ng", STRING_HASH),
        ("/chatter", "std_msgs/msg/Str#ng", STRING_HASH),
        ("/chatter", "std_msgs/msg/Str$ng", STRING_HASH),
        # `$*` is a well-formed wildcard, so it would make a pattern, not a key.
        ("/chatter", "std_msgs/msg/Str$*ng", STRING_HASH),
        ("chatter", "std_msgs/msg/String", STRING_HASH),
        ("/chatter", "std_msgs/String", STRING_HASH),
        ("/chatter", "std_msgs/msg/String", "RIHS01_abc"),
        ("/chatter", "std_msgs/msg/String", STRING_HASH.upper()),
    ],
)
def test_unusable_entity_key(native, fqn, ros_type, type_hash):
    assert native.ros2_entity_key(0, fqn, ros_type, type_hash) is None


def test_entity_key_domain_is_unsigned_32_bits(native):
    for domain in (-1, 4294967296):
        with pytest.raises(OverflowError):
            native.ros2_entity_key(domain, "/chatter", "std_msgs/msg/String", STRING_HASH)


# --- CdrWriter --------------------------------------------------------------

def test_writer_aligns_from_the_end_of_the_header(native):
    writer = native.CdrWriter()
    assert writer.bytes == HEADER
    assert writer.write_i32(1) is None
    assert writer.bytes == HEADER + b"\x01\x00\x00\x00"
    writer.write_f64(2.0)
    assert writer.bytes == HEADER + b"\x01\x00\x00\x00" + bytes(4) + struct.pack("<d", 2.0)
    assert len(writer.bytes) == 20
    writer.write_u32(4294967295)
    assert writer.bytes[20:] == b"\xff\xff\xff\xff"


def test_write_f32_narrows_to_single_precision(native):
    writer = native.CdrWriter()
    writer.write_f32(0.1)
    writer.write_f32(1e300)
    assert writer.bytes == HEADER + struct.pack("<f", 0.1) + struct.pack("<f", math.inf)


@pytest.mark.parametrize(
    "method, value",
    [
        ("write_i32", 2147483648),
        ("write_i32", -2147483649),
        ("write_u32", 4294967296),
        ("write_u32", -1),
    ],
)
def test_writer_refuses_integers_out_of_range(native, method, value):
    writer = native.CdrWriter()
    with pytest.raises(OverflowError):
        getattr(writer, method)(value)
    assert writer.bytes == HEADER


def test_writer_agrees_with_rosbags(native, typestore):
    from rosbags.typesys.msg import get_types_from_msg

    typestore.register(
        get_types_from_msg(
            "int32 a\nfloat64 b\nuint32 c\nfloat32 d\nfloat64 e\nint32 f\n", "trovik_test_msgs/msg/Mixed"
        )
    )
    mixed = typestore.types["trovik_test_msgs/msg/Mixed"]
    values = dict(a=-5, b=2.5, c=4000000000, d=0.1, e=-1e300, f=2147483647)

    writer = native.CdrWriter()
    writer.write_i32(values["a"])
    writer.write_f64(values["b"])
    writer.write_u32(values["c"])
    writer.write_f32(values["d"])
    writer.write_f64(values["e"])
    writer.write_i32(values["f"])
    ours = writer.bytes
    assert ours == bytes(typestore.serialize_cdr(mixed(**values), "trovik_test_msgs/msg/Mixed"))

    decoded = typestore.deserialize_cdr(ours, "trovik_test_msgs/msg/Mixed")
    assert (decoded.a, decoded.b, decoded.c, decoded.e, decoded.f) == (-5, 2.5, 4000000000, -1e300, 2147483647)
    assert decoded.d == pytest.approx(0.1, rel=1e-7)

    reader = native.CdrReader(ours)
    assert reader.read_i32() == -5
    assert reader.read_f64() == 2.5
    assert reader.read_u32() == 4000000000
    assert reader.read_f32() == struct.unpack("<f", struct.pack("<f", 0.1))[0]
    assert reader.read_f64() == -1e300
    assert reader.read_i32() == 2147483647
    assert reader.read_i32() is None


def test_writer_keeps_writing_after_its_bytes_are_read(native):
    writer = native.CdrWriter()
    first = writer.bytes
    writer.write_i32(7)
    assert first == HEADER
    assert writer.bytes == HEADER + b"\x07\x00\x00\x00"


def test_writer_is_safe_to_share_between_threads(native):
    writer = native.CdrWriter()

    def work():
        for _ in range(500):
            writer.write_i32(-1)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert writer.bytes == HEADER + b"\xff" * (4 * 4 * 500)


# --- CdrReader --------------------------------------------------------------

@pytest.mark.parametrize("data", [b"\x00\x00\x00\x00", b"\x00\x01\x00", b"", b"\x01\x00\x00\x00"])
def test_reader_refuses_a_missing_header(native, data):
    with pytest.raises(ValueError) as info:
        native.CdrReader(data)
    assert str(info.value) == "the bytes carry no valid CDR encapsulation header"


@pytest.mark.parametrize(
    "data", [b"\x00\x01\xab\xcd\x01\x00\x00\x00", bytearray(b"\x00\x01\x00\x00\x01\x00\x00\x00"), [0, 1, 0, 0, 1, 0, 0, 0]]
)
def test_reader_takes_bytes_and_ignores_header_options(native, data):
    reader = native.CdrReader(data)
    assert reader.read_i32() == 1
    assert reader.read_i32() is None
    assert reader.read_f32() is None


def test_reader_keeps_its_own_copy_of_the_bytes(native):
    data = bytearray(HEADER + b"\x05\x00\x00\x00\x06\x00\x00\x00")
    reader = native.CdrReader(data)
    assert reader.read_i32() == 5
    data[8:12] = b"\xff\xff\xff\xff"
    del data[:]
    assert reader.read_i32() == 6


def test_reader_refuses_text(native):
    with pytest.raises(TypeError):
        native.CdrReader("\x00\x01\x00\x00")


def test_failed_read_leaves_the_reader_where_it_was(native):
    reader = native.CdrReader(HEADER + bytes(range(12)))
    assert reader.read_i32() == 0x03020100
    assert reader.read_f64() is None  # would start at 8 and needs 16 bytes
    assert reader.read_i32() == 0x07060504  # not 8..11: the failed read consumed no padding
    assert reader.read_u32() == 0x0B0A0908
    assert reader.read_f32() is None
    assert reader.read_u32() is None


def test_reader_is_safe_to_share_between_threads(native):
    writer = native.CdrWriter()
    for value in range(2000):
        writer.write_i32(value)
    reader = native.CdrReader(writer.bytes)
    seen = [[] for _ in range(4)]

    def work(out):
        while (value := reader.read_i32()) is not None:
            out.append(value)

    threads = [threading.Thread(target=work, args=(out,)) for out in seen]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert sorted(v for out in seen for v in out) == list(range(2000))


def test_signed_and_unsigned_share_their_bytes(native):
    writer = native.CdrWriter()
    writer.write_i32(-1)
    writer.write_u32(2147483648)
    reader = native.CdrReader(writer.bytes)
    assert reader.read_u32() == 4294967295
    assert reader.read_i32() == -2147483648


def test_reader_reads_what_rosbags_wrote(native, typestore):
    twist = typestore.types["geometry_msgs/msg/Twist"]
    vector = typestore.types["geometry_msgs/msg/Vector3"]
    data = bytes(
        typestore.serialize_cdr(
            twist(linear=vector(x=-1.5, y=0.0, z=1e-310), angular=vector(x=math.pi, y=-0.0, z=7.0)),
            "geometry_msgs/msg/Twist",
        )
    )
    reader = native.CdrReader(data)
    values = [reader.read_f64() for _ in range(6)]
    assert values[:3] == [-1.5, 0.0, 1e-310]
    assert values[3:] == [math.pi, -0.0, 7.0]
    assert math.copysign(1.0, values[4]) == -1.0
    assert reader.read_f64() is None


# --- the twist --------------------------------------------------------------

def test_twist_round_trip_and_agreement_with_rosbags(native, typestore):
    data = native.ros2_twist_to_cdr((1.0, 2.0, 3.0), (0.0, 0.0, 0.5))
    assert isinstance(data, bytes)
    assert len(data) == 52
    assert native.ros2_twist_from_cdr(data) == ((1.0, 2.0, 3.0), (0.0, 0.0, 0.5))

    twist = typestore.types["geometry_msgs/msg/Twist"]
    vector = typestore.types["geometry_msgs/msg/Vector3"]
    expected = typestore.serialize_cdr(
        twist(linear=vector(x=1.0, y=2.0, z=3.0), angular=vector(x=0.0, y=0.0, z=0.5)), "geometry_msgs/msg/Twist"
    )
    assert data == bytes(expected)
    decoded = typestore.deserialize_cdr(native.ros2_twist_to_cdr((-1, 1e308, -0.0), (5, 6, 7)), "geometry_msgs/msg/Twist")
    assert (decoded.linear.x, decoded.linear.y, decoded.linear.z) == (-1.0, 1e308, -0.0)
    assert (decoded.angular.x, decoded.angular.y, decoded.angular.z) == (5.0, 6.0, 7.0)


def test_twist_from_cdr_boundaries(native):
    data = native.ros2_twist_to_cdr((1.0, 2.0, 3.0), (0.0, 0.0, 0.5))
    assert native.ros2_twist_from_cdr(data[:51]) is None
    assert native.ros2_twist_from_cdr(b"\x00\x00" + data[2:]) is None
    assert native.ros2_twist_from_cdr(data[:2] + b"\xff\xff" + data[4:] + b"extra") == (
        (1.0, 2.0, 3.0),
        (0.0, 0.0, 0.5),
    )
    assert native.ros2_twist_from_cdr(list(data)) == ((1.0, 2.0, 3.0), (0.0, 0.0, 0.5))


@pytest.mark.parametrize(
    "linear, error",
    [
        ([1.0, 2.0, 3.0], TypeError),
        (None, TypeError),
        ((1.0, 2.0), ValueError),
        ((1.0, 2.0, 3.0, 4.0), ValueError),
        (("1", 2.0, 3.0), TypeError),
    ],
)
def test_twist_velocities_must_be_triples_of_numbers(native, linear, error):
    with pytest.raises(error):
        native.ros2_twist_to_cdr(linear, (0.0, 0.0, 0.0))
    with pytest.raises(error):
        native.ros2_twist_to_cdr((0.0, 0.0, 0.0), angular=linear)


def test_twist_velocities_take_any_numbers_in_a_tuple(native):
    from collections import namedtuple

    Vector = namedtuple("Vector", "x y z")
    data = native.ros2_twist_to_cdr(Vector(1, 2, 3), (True, 0, 0.5))
    assert native.ros2_twist_from_cdr(data) == ((1.0, 2.0, 3.0), (1.0, 0.0, 0.5))


def test_twist_from_cdr_refuses_text(native):
    with pytest.raises(TypeError):
        native.ros2_twist_from_cdr("\x00\x01" + "\x00" * 50)


# --- the Python surface -----------------------------------------------------

FUNCTION_DOCS = {
    "ros2_is_valid_name": ("(name)", "Reports whether a string is a valid ROS 2 topic or service name."),
    "ros2_is_fully_qualified": (
        "(name)",
        "Reports whether a name is fully qualified, so it resolves with no namespace.",
    ),
    "ros2_entity_kind_prefix": ("(kind)", "Returns the DDS topic prefix a subsystem uses."),
    "ros2_entity_kind_suffix": (
        "(kind)",
        "Returns what the middleware appends to a name for a subsystem: nothing for a topic,\n"
        "`Request` for a service request, and `Reply` for a service response.",
    ),
    "ros2_dds_topic": (
        "(fqn, kind)",
        "Returns the DDS topic a fully qualified name maps onto, or `None` if the\nname is not fully qualified.",
    ),
    "ros2_percent_mangle": (
        "(name)",
        "Percent-mangles a name as `rmw_zenoh` writes it in a liveliness token, each `/` as `%`.",
    ),
    "ros2_dds_type_name": (
        "(ros_type)",
        "Returns the DDS type name an interface type maps onto, or `None` if the type\n"
        "is not a valid `package/namespace/Type`.",
    ),
    "ros2_type_hash_digest": (
        "(text)",
        "Returns the 32-byte digest a RIHS01 hash string carries, or `None` if the\nstring is malformed.",
    ),
    "ros2_entity_key": (
        "(domain_id, fqn, ros_type, type_hash)",
        "Builds the Zenoh key an `rmw_zenoh` peer publishes an entity on, or `None`\n"
        "if the name, type, or hash is not usable.",
    ),
    "ros2_twist_to_cdr": (
        "(linear, angular)",
        "Encodes a twist into its CDR representation.\n\n"
        "The linear and angular velocities each cross as an `(x, y, z)` triple.",
    ),
    "ros2_twist_from_cdr": (
        "(data)",
        "Decodes a twist from its CDR representation, or `None` if the bytes are not\n"
        "a well-formed twist.\n\n"
        "Returns the linear and angular velocities as two `(x, y, z)` triples.",
    ),
}


@pytest.mark.parametrize("name", sorted(FUNCTION_DOCS))
def test_function_signatures_and_docstrings(native, name):
    signature, doc = FUNCTION_DOCS[name]
    function = getattr(native, name)
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc


METHOD_DOCS = [
    ("CdrWriter", "write_i32", "($self, value)", "Appends a 32-bit signed integer."),
    ("CdrWriter", "write_u32", "($self, value)", "Appends a 32-bit unsigned integer."),
    ("CdrWriter", "write_f32", "($self, value)", "Appends a 32-bit float."),
    ("CdrWriter", "write_f64", "($self, value)", "Appends a 64-bit float."),
    ("CdrReader", "read_i32", "($self)", "Reads the next 32-bit signed integer, or `None` once exhausted."),
    ("CdrReader", "read_u32", "($self)", "Reads the next 32-bit unsigned integer, or `None` once exhausted."),
    ("CdrReader", "read_f32", "($self)", "Reads the next 32-bit float, or `None` once exhausted."),
    ("CdrReader", "read_f64", "($self)", "Reads the next 64-bit float, or `None` once exhausted."),
]


@pytest.mark.parametrize("cls, method, signature, doc", METHOD_DOCS)
def test_method_signatures_and_docstrings(native, cls, method, signature, doc):
    function = getattr(getattr(native, cls), method)
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc


def test_class_docstrings(native):
    assert native.CdrWriter.__text_signature__ == "()"
    assert native.CdrWriter.__doc__ == (
        "A CDR encoder, which writes primitives with the alignment the wire format\nrequires.\n\n"
        "Creates an encoder with the encapsulation header already written."
    )
    assert native.CdrWriter.bytes.__doc__ == "The bytes written so far."
    assert native.CdrReader.__text_signature__ == "(data)"
    assert native.CdrReader.__doc__ == (
        "A CDR decoder, which reads primitives back in the order they were written.\n\n"
        "Reading past the end returns `None` rather than raising, because a short\n"
        "buffer is a wire condition rather than a programming error.\n\n"
        "Creates a decoder over encoded bytes.\n\nRaises `ValueError` if the bytes carry no valid CDR "
        "encapsulation header."
    )


def test_bytes_is_read_only(native):
    writer = native.CdrWriter()
    with pytest.raises(AttributeError):
        writer.bytes = b""


def test_string_arguments_must_be_text(native):
    with pytest.raises(TypeError) as info:
        native.ros2_is_valid_name(b"/foo")
    assert str(info.value) == "'bytes' object is not an instance of 'str'"
    with pytest.raises(TypeError):
        native.ros2_entity_key(0, "/chatter", "std_msgs/msg/String", None)
    with pytest.raises(TypeError):
        native.ros2_dds_topic("/chatter", 1)
