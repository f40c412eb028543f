"""MAVLink enumerations, built-in messages, message shapes, and the mission and
command protocols, checked against pymavlink and the common.xml it ships."""
import os
import random
import struct
import xml.etree.ElementTree as ET

import pymavlink
import pytest
from pymavlink.dialects.v20 import common as peer

import trovik._native as native

COMMON_XML = os.path.join(os.path.dirname(pymavlink.__file__), "dialects", "v20", "common.xml")
INT_RANGES = {"uint8_t": (0, 255), "int8_t": (-128, 127), "char": (0, 255), "uint16_t": (0, 65535),
              "int16_t": (-32768, 32767), "uint32_t": (0, 2**32 - 1), "int32_t": (-2**31, 2**31 - 1),
              "uint64_t": (0, 2**64 - 1), "int64_t": (-2**63, 2**63 - 1)}


# Entries of the table newer than the common.xml this pymavlink release ships.
NEWER_ENTRIES = {
    "MAV_AUTOPILOT_FLIX", "MAV_TYPE_VTOL_TAILSITTER_DUOROTOR", "MAV_TYPE_VTOL_TAILSITTER_QUADROTOR",
    "MAV_TYPE_VTOL_FIXEDROTOR", "MAV_TYPE_VTOL_TAILSITTER", "MAV_TYPE_VTOL_TILTWING", "MAV_TYPE_RADIO",
    "MAV_SYS_STATUS_SENSOR_3D_GYRO3", "MAV_SYS_STATUS_SENSOR_3D_ACCEL3", "MAV_SYS_STATUS_SENSOR_3D_GYRO4",
    "MAV_SYS_STATUS_SENSOR_3D_ACCEL4", "MAV_SYS_STATUS_SENSOR_3D_MAG3", "MAV_SYS_STATUS_SENSOR_3D_MAG4",
    "MAV_CMD_DO_SET_GLOBAL_ORIGIN", "MAV_RESULT_CANCELLED", "MAV_RESULT_COMMAND_UNSUPPORTED_MAV_FRAME",
    "MAV_RESULT_NOT_IN_CONTROL"}

# Extension fields of the table newer than this pymavlink release.
NEWER_FIELDS = {"MISSION_CURRENT": ["mission_id", "fence_id", "rally_points_id"], "MISSION_COUNT": ["opaque_id"],
                "MISSION_ACK": ["opaque_id"]}


def load_xml(name):
    """A dialect definition with the ones it includes."""
    root = ET.parse(os.path.join(os.path.dirname(COMMON_XML), name)).getroot()
    roots = [root]
    for include in root.iter("include"):
        roots += load_xml(include.text.strip())
    return roots


@pytest.fixture(scope="module")
def common_xml():
    return load_xml("common.xml")


def header(system_id=1, component_id=1, sequence=0):
    return native.MavlinkHeader(system_id, component_id, sequence)


def peer_link(system_id=1, component_id=1):
    mav = peer.MAVLink(None, srcSystem=system_id, srcComponent=component_id)
    mav.robust_parsing = False
    return mav


def peer_read(frame):
    """pymavlink's reading of one of our frames."""
    return peer_link().parse_buffer(frame.bytes)[0]


def peer_frame(msg, seq=0):
    """One pymavlink-encoded frame as ours."""
    return native.MavlinkFrame.parse_known(msg.pack(peer_link(1, 1)))


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


# ---- enumerations -----------------------------------------------------------

def test_enumerations_agree_with_pymavlink(common_xml):
    """Every entry has the value pymavlink's common.xml and its generated code
    give it, and the bitmask flags agree; only entries newer than the release
    are missing there."""
    xml_enums = {e.get("name"): e for root in common_xml for e in root.iter("enum")}
    names = native.mavlink_known_enums()
    assert len(names) == 24
    missing = set()
    for name in names:
        ours = native.mavlink_enum_entries(name)
        xml = xml_enums[name]
        assert native.mavlink_enum_is_bitmask(name) == (xml.get("bitmask") == "true"), name
        theirs = {entry.get("name"): int(entry.get("value"), 0) for entry in xml.findall("entry")}
        generated = {entry.name: value for value, entry in peer.enums[name].items()}
        for entry, value in ours:
            if entry not in theirs:
                missing.add(entry)
                continue
            assert theirs[entry] == generated[entry] == value, entry
    assert missing == NEWER_ENTRIES
    assert sum(len(native.mavlink_enum_entries(n)) for n in names) == 458


@pytest.mark.parametrize("call, expected", [
    (lambda: native.mavlink_known_enums()[:3], ["MAV_AUTOPILOT", "MAV_TYPE", "MAV_MODE_FLAG"]),
    (lambda: native.mavlink_known_enums()[-2:], ["POSITION_TARGET_TYPEMASK", "MISSION_STATE"]),
    (lambda: native.mavlink_enum_names("MAV_MODE_FLAG", 0x81),
     ["MAV_MODE_FLAG_SAFETY_ARMED", "MAV_MODE_FLAG_CUSTOM_MODE_ENABLED"]),
    (lambda: native.mavlink_enum_names("POSITION_TARGET_TYPEMASK", 0xDF8),
     ["POSITION_TARGET_TYPEMASK_" + s for s in
      ["VX_IGNORE", "VY_IGNORE", "VZ_IGNORE", "AX_IGNORE", "AY_IGNORE", "AZ_IGNORE", "YAW_IGNORE", "YAW_RATE_IGNORE"]]),
    (lambda: native.mavlink_enum_names("POSITION_TARGET_TYPEMASK", 0), []),
    (lambda: native.mavlink_enum_names("MAV_STATE", 4), ["MAV_STATE_ACTIVE"]),
    (lambda: native.mavlink_enum_names("MAV_STATE", 99), []),
    (lambda: native.mavlink_enum_entry("MAV_MODE_FLAG", 0x81), None),
    (lambda: native.mavlink_enum_entry("MAV_CMD", 400), "MAV_CMD_COMPONENT_ARM_DISARM"),
    (lambda: native.mavlink_enum_value("MAV_CMD_USER_1"), 31010),
    (lambda: native.mavlink_enum_value("MAV_MISSION_TYPE_ALL"), 255),
    (lambda: native.mavlink_enum_value("BATTERY_FAULT_INCOMPATIBLE_CELLS_CONFIGURATION"), 256),
    (lambda: native.mavlink_enum_entries("MAV_CMD")[-17:-15],
     [("MAV_CMD_EXTERNAL_POSITION_ESTIMATE", 43003), ("MAV_CMD_WAYPOINT_USER_1", 31000)]),
    (lambda: native.mavlink_enum_entries("MAV_CMD")[-1], ("MAV_CMD_CAN_FORWARD", 32000)),
    (lambda: len(native.mavlink_enum_entries("MAV_CMD")), 170),
    (lambda: [n for n in native.mavlink_known_enums() if native.mavlink_enum_is_bitmask(n)],
     ["MAV_MODE_FLAG", "MAV_PROTOCOL_CAPABILITY", "MAV_SYS_STATUS_SENSOR", "MAV_SYS_STATUS_SENSOR_EXTENDED",
      "MAV_BATTERY_FAULT", "POSITION_TARGET_TYPEMASK"]),
])
def test_enumeration_lookups(call, expected):
    assert call() == expected


@pytest.mark.parametrize("call, error, text", [
    (lambda: native.mavlink_enum_value("MAV_CMD_NOPE"), ValueError,
     "MAV_CMD_NOPE is not an entry of any dialect enumeration"),
    (lambda: native.mavlink_enum_is_bitmask("mav_type"), ValueError, "mav_type is not a dialect enumeration"),
    (lambda: native.mavlink_enum_entries("MAV_NOPE"), ValueError, "MAV_NOPE is not a dialect enumeration"),
    (lambda: native.mavlink_enum_entry("MAV_CMD", -1), OverflowError, None),
    (lambda: native.mavlink_enum_names("MAV_CMD", 2**64), OverflowError, None),
    (lambda: native.mavlink_enum_entry("MAV_CMD", "400"), TypeError, None),
])
def test_enumeration_refusals(call, error, text):
    with pytest.raises(error) as raised:
        call()
    if text:
        assert str(raised.value) == text


# ---- built-in messages ------------------------------------------------------

def test_built_in_messages_match_pymavlink(common_xml):
    """Field order, types, array lengths, extensions and seeds, message by message."""
    xml_messages = {m.get("name"): m for root in common_xml for m in root.iter("message")}
    names = native.mavlink_known_messages()
    assert len(names) == 36 and names[0] == "HEARTBEAT" and names[-1] == "STATUSTEXT"
    for name in names:
        schema = native.MessageSchema.for_name(name)
        cls = peer.mavlink_map[schema.id]
        assert cls.msgname == name
        assert schema.crc_extra == cls.crc_extra
        newer = NEWER_FIELDS.get(name, [])
        assert [f.name for f in schema.fields[len(schema.fields) - len(newer):]] == newer
        assert all(f.extension for f in schema.fields if f.name in newer)
        # The layout pymavlink knows ends where the newer fields begin.
        known_len = next((f.offset for f in schema.fields if f.name in newer), schema.wire_len)
        assert known_len == cls.unpacker.size
        fields = [f for f in schema.fields if f.name not in newer]
        assert [f.name for f in fields] == cls.ordered_fieldnames
        types = dict(zip(cls.fieldnames, cls.fieldtypes))
        assert [f.type_name for f in fields] == [types[f.name] for f in fields]
        assert [f.array_len for f in fields] == cls.array_lengths
        # The seed follows from the base fields alone.
        base = [(f.type_name, f.name, f.array_len) for f in fields if not f.extension]
        assert native.mavlink_message_crc_extra(name, base) == schema.crc_extra
        # Extensions: the fields common.xml declares after <extensions/>.
        xml_fields, extension = {}, False
        for child in xml_messages[name]:
            if child.tag == "extensions":
                extension = True
            elif child.tag == "field":
                xml_fields[child.get("name")] = extension
        assert {f.name: f.extension for f in fields} == xml_fields
        offsets = [f.offset for f in schema.fields]
        assert offsets == sorted(offsets) and offsets[0] == 0


@pytest.mark.parametrize("call, error, text", [
    (lambda: native.MessageSchema.for_id(3), ValueError, "message 3 is not one this build types"),
    (lambda: native.MessageSchema.for_id(254), ValueError, "message 254 is not one this build types"),
    (lambda: native.MessageSchema.for_name("heartbeat"), ValueError, "heartbeat is not a message this build types"),
    (lambda: native.MessageSchema.for_id(-1), OverflowError, None),
])
def test_schema_lookups_refuse(call, error, text):
    with pytest.raises(error) as raised:
        call()
    if text:
        assert str(raised.value) == text


def random_value(field, rng):
    if field.type_name == "char":
        return "".join(rng.choice("ABCXYZ_09") for _ in range(rng.randint(0, field.array_len)))
    if field.type_name in ("float", "double"):
        value = lambda: f32(rng.uniform(-1e6, 1e6)) if field.type_name == "float" else rng.uniform(-1e12, 1e12)  # noqa: E731
    else:
        lo, hi = INT_RANGES[field.type_name]
        value = lambda: rng.choice([lo, hi, rng.randint(lo, hi)])  # noqa: E731
    return [value() for _ in range(field.array_len)] if field.array_len else value()


def fill(message, schema, rng):
    values = {}
    for field in schema.fields:
        value = values[field.name] = random_value(field, rng)
        if field.type_name == "char":
            message.set_text(field.name, value)
        elif isinstance(value, list):
            for i, v in enumerate(value):
                message.set(field.name, v, i) if isinstance(v, float) else message.set_int(field.name, v, i)
        elif isinstance(value, float):
            message.set(field.name, value)
        else:
            message.set_int(field.name, value)
    return values


@pytest.mark.parametrize("name", native.mavlink_known_messages())
def test_our_messages_decode_field_for_field_in_pymavlink(name):
    rng = random.Random(name)
    schema = native.MessageSchema.for_name(name)
    for _ in range(5):
        message = native.MavlinkMessage.empty(schema)
        values = fill(message, schema, rng)
        theirs = peer_read(message.to_frame(header()))
        assert theirs.get_type() == name
        for field, value in values.items():
            if field in NEWER_FIELDS.get(name, []):
                continue
            got = getattr(theirs, field)
            if isinstance(value, list) and isinstance(got, (bytes, bytearray)):
                got = list(got)
            assert got == value, field


@pytest.mark.parametrize("name", native.mavlink_known_messages())
def test_pymavlink_messages_read_field_for_field_here(name):
    rng = random.Random("peer" + name)
    schema = native.MessageSchema.for_name(name)
    cls = peer.mavlink_map[schema.id]
    by_name = {f.name: f for f in schema.fields}
    for _ in range(5):
        values = {n: random_value(by_name[n], rng) for n in cls.fieldnames}
        args = [v.encode() if isinstance(v, str) else v for v in values.values()]
        raw = cls(*args).pack(peer_link())
        frame = native.MavlinkFrame.parse_known(raw)
        theirs = peer_link().parse_buffer(raw)[0]
        ours = native.MavlinkMessage.decode(schema, frame.payload)
        for field in schema.fields:
            if field.name in NEWER_FIELDS.get(name, []):
                assert ours.get_int(field.name) == 0
                continue
            expected = getattr(theirs, field.name)
            if field.type_name == "char":
                assert ours.get_text(field.name) == expected
            elif field.array_len:
                assert [ours.get_int(field.name, i) if field.type_name != "float" else ours.get(field.name, i)
                        for i in range(field.array_len)] == list(expected)
            elif field.type_name in ("float", "double"):
                assert ours.get(field.name) == expected
            else:
                assert ours.get_int(field.name) == expected


# ---- message shapes -----------------------------------------------------------

def test_a_built_heartbeat_equals_the_built_in_one():
    b = native.MessageSchemaBuilder(0, "HEARTBEAT")
    b.field("type", 1)
    b.field("autopilot", 1)
    b.field("base_mode", 1)
    b.field("custom_mode", "uint32_t")
    b.field("system_status", 1)
    b.field("mavlink_version", "uint8_t_mavlink_version")
    built = b.build()
    builtin = native.MessageSchema.for_id(0)
    assert repr(builtin) == repr(built) == 'MessageSchema(id=0, name="HEARTBEAT", crc_extra=50)'
    assert [repr(f) for f in built.fields] == [repr(f) for f in builtin.fields]
    last = built.fields[-1]
    assert (last.name, last.type_name, last.field_type, last.offset) == ("mavlink_version", "uint8_t", 1, 8)
    assert repr(built.fields[0]) == ('MavlinkFieldInfo(name="custom_mode", type_name="uint32_t", array_len=0, '
                                     'extension=false, offset=0)')
    assert built.wire_len == 9


def test_a_built_shape_carries_a_private_message_through_pymavlink_style_framing():
    """A message of our own: the seed is the one pymavlink's generator derives."""
    b = native.MessageSchemaBuilder(42000, "MY_SENSOR")
    b.field("label", "char", 8)
    b.field("reading", "double")
    b.field("count", "uint16_t")
    b.extension("quality", "uint8_t")
    schema = b.build()
    assert [f.name for f in schema.fields] == ["reading", "count", "label", "quality"]
    assert schema.crc_extra == native.mavlink_message_crc_extra(
        "MY_SENSOR", [("double", "reading", 0), ("uint16_t", "count", 0), ("char", "label", 8)])
    m = native.MavlinkMessage.empty(schema)
    m.set("reading", 2.5)
    m.set_text("label", "probe")
    frame = m.to_frame(header())
    again = native.MavlinkFrame.parse(frame.bytes, schema.crc_extra)
    read = native.MavlinkMessage.decode(schema, again.payload)
    assert read.get("reading") == 2.5 and read.get_text("label") == "probe"


def test_builder_refusals():
    b = native.MessageSchemaBuilder(1, "X")
    b.field("a", "uint8_t")
    b.extension("a", "uint8_t")
    with pytest.raises(native.TrovikError, match="^message names the same field twice$"):
        b.build()
    with pytest.raises(ValueError, match="^this builder has already been built$"):
        b.field("b", 1)
    with pytest.raises(ValueError, match="^this builder has already been built$"):
        b.build()
    b = native.MessageSchemaBuilder(1, "X")
    b.field("a", "uint8_t", 255)
    assert b.build().wire_len == 255
    b = native.MessageSchemaBuilder(1, "X")
    b.field("a", "uint8_t", 255)
    b.field("b", "uint8_t")
    with pytest.raises(native.TrovikError, match="^payload exceeds the maximum frame size$"):
        b.build()
    empty = native.MessageSchemaBuilder(7, "EMPTY").build()
    assert empty.wire_len == 0 and native.MavlinkMessage.empty(empty).payload == b""


@pytest.mark.parametrize("field_type, error, text", [
    (0, ValueError, "0 is not a MAVLink field type"),
    (12, ValueError, "12 is not a MAVLink field type"),
    ("UINT8_T", ValueError, "UINT8_T is not a MAVLink field type"),
    ("uint8", ValueError, "uint8 is not a MAVLink field type"),
    (-1, TypeError, None),
    (2**32, TypeError, None),
    (1.0, TypeError, None),
])
def test_field_types_refused(field_type, error, text):
    b = native.MessageSchemaBuilder(1, "X")
    with pytest.raises(error) as raised:
        b.field("a", field_type)
    if text:
        assert str(raised.value) == text
    b.field("a", "char", 16)  # a refused field leaves the builder open
    assert b.build().fields[0].array_len == 16


@pytest.mark.parametrize("msgid", [2**24, 2**32 - 1])
def test_message_ids_past_24_bits_are_refused_by_the_builder(msgid):
    with pytest.raises(ValueError, match=f"^message id {msgid} is above the MAVLink 2 limit of 16777215$"):
        native.MessageSchemaBuilder(msgid, "X")
    assert native.MessageSchemaBuilder(2**24 - 1, "X").build().id == 2**24 - 1


@pytest.fixture
def autopilot():
    return native.MavlinkMessage.empty(native.MessageSchema.for_name("AUTOPILOT_VERSION"))


@pytest.mark.parametrize("value", [0, 1, 2**63 - 1, 2**63, 2**63 + 1, 2**64 - 1])
def test_unsigned_64_bit_fields_read_and_write_exactly(autopilot, value):
    autopilot.set_int("uid", value)
    assert autopilot.get_int("uid") == value
    theirs = peer_read(autopilot.to_frame(header()))
    assert theirs.uid == value


@pytest.mark.parametrize("field, value, error", [
    ("uid", 2**64, OverflowError),
    ("uid", -2**63 - 1, OverflowError),
    ("uid", -1, native.TrovikError),
    ("flight_sw_version", 2**32, native.TrovikError),
    ("flight_custom_version", 256, native.TrovikError),
])
def test_integers_outside_their_field(autopilot, field, value, error):
    before = autopilot.payload
    with pytest.raises(error):
        autopilot.set_int(field, value)
    assert autopilot.payload == before


def test_signed_64_bit_fields_take_their_whole_range():
    b = native.MessageSchemaBuilder(9000, "WIDE")
    b.field("v", "int64_t")
    m = native.MavlinkMessage.empty(b.build())
    for value in (-2**63, -1, 2**63 - 1):
        m.set_int("v", value)
        assert m.get_int("v") == value
    with pytest.raises(native.TrovikError, match="^value does not fit the field type$"):
        m.set_int("v", 2**63)


@pytest.mark.parametrize("message, field, value, index, text", [
    ("PARAM_VALUE", "param_id", 0, 16, "array index is past the end of the field"),
    ("PARAM_VALUE", "param_value", 0, 1, "array index is past the end of the field"),
    ("PARAM_VALUE", "nope", 0, 0, "message has no field of that name"),
    ("AUTOPILOT_VERSION", "uid", 2.0**64, 0, "value does not fit the field type"),
    ("HEARTBEAT", "type", 1.5, 0, "value does not fit the field type"),
    ("HEARTBEAT", "type", 256, 0, "value does not fit the field type"),
    ("SYS_STATUS", "battery_remaining", -129, 0, "value does not fit the field type"),
    ("HEARTBEAT", "type", float("nan"), 0, "value does not fit the field type"),
    ("HEARTBEAT", "type", float("inf"), 0, "value does not fit the field type"),
])
def test_set_refusals(message, field, value, index, text):
    m = native.MavlinkMessage.empty(native.MessageSchema.for_name(message))
    with pytest.raises(native.TrovikError) as raised:
        m.set(field, value, index)
    assert str(raised.value) == text


def test_numbers_text_and_bytes():
    m = native.MavlinkMessage.empty(native.MessageSchema.for_name("AUTOPILOT_VERSION"))
    m.set("uid", 2.0**63)
    assert m.get_int("uid") == 2**63 and m.get("uid") == 9.223372036854776e18
    a = native.MavlinkMessage.empty(native.MessageSchema.for_name("ATTITUDE"))
    a.set("roll", 1e40)
    assert a.get("roll") == float("inf")
    with pytest.raises(native.TrovikError, match="^field is not of the requested kind$"):
        a.set_int("roll", 1)
    with pytest.raises(native.TrovikError, match="^field is not of the requested kind$"):
        a.get_int("roll")
    p = native.MavlinkMessage.empty(native.MessageSchema.for_name("PARAM_VALUE"))
    p.set_text("param_id", "A" * 16)
    assert p.get_text("param_id") == "A" * 16 and p.get("param_id", 15) == 65.0
    with pytest.raises(native.TrovikError, match="^payload exceeds the maximum frame size$"):
        p.set_text("param_id", "A" * 17)
    p.set_bytes("param_id", [0xFF, 0xFE])
    with pytest.raises(native.TrovikError, match="^payload does not match the message layout$"):
        p.get_text("param_id")
    m.set_bytes("flight_custom_version", b"\x01\x02\x03")
    assert m.get_bytes("flight_custom_version") == b"\x01\x02\x03" + bytes(5)
    with pytest.raises(native.TrovikError, match="^field is not of the requested kind$"):
        m.set_text("flight_custom_version", "abc")
    with pytest.raises(TypeError):
        m.set_bytes("flight_custom_version", "abc")


def test_payloads_shorter_or_longer_than_the_layout():
    schema = native.MessageSchema.for_id(0)
    short = native.MavlinkMessage.decode(schema, b"\x01\x00\x00\x00")
    assert short.payload == b"\x01" + bytes(8)
    # A newer peer's extensions: the known fields read, the rest is left out.
    longer = native.MavlinkMessage.decode(schema, bytes([1, 0, 0, 0, 2, 3, 4, 5, 3, 0xAA]))
    assert longer.payload == bytes([1, 0, 0, 0, 2, 3, 4, 5, 3])
    assert longer.get_int("mavlink_version") == 3
    assert repr(longer) == 'MavlinkMessage(name="HEARTBEAT", id=0)'
    frame = native.MavlinkMessage.empty(schema).to_frame(header())
    assert frame.payload == b"\x00"


# ---- mission protocol -------------------------------------------------------

def item_frame(seq, x=0, command=16):
    """A MISSION_ITEM_INT frame pymavlink encoded."""
    return peer_frame(peer.MAVLink_mission_item_int_message(1, 1, seq, 6, command, 0, 1, 1.0, 2.0, 3.0, 4.0, x, -x,
                                                            10.5, 0))


def item_payload(seq, x=0, command=16):
    """Its payload, without the trailing zeros a MAVLink 2 frame cuts."""
    return item_frame(seq, x, command).payload


def transfer(sender, receiver, lose=lambda n: False):
    """Moves frames between the two ends; `lose(n)` drops the n-th frame the
    sender sends, and the receiver's last request goes out again as its timer
    would resend it."""
    h_gcs, h_vehicle = header(255, 190), header(1, 1)
    items, sent = [], 0
    opening = receiver.request_list(h_gcs)
    step = sender.on_frame(opening, h_vehicle)
    assert step.kind == "reply"
    reply, last_request = step.reply, None
    for _ in range(10_000):
        sent += 1
        if lose(sent):
            if last_request is None:
                reply = sender.on_frame(opening, h_vehicle).reply
                continue
            reply = sender.on_frame(last_request, h_vehicle).reply
            continue
        r = receiver.on_frame(reply, h_gcs)
        if r.accepted is not None:
            items.append(r.accepted)
        s = sender.on_frame(r.reply, h_vehicle)
        if r.kind == "ack":
            assert (s.kind, s.result, s.reply) == ("finished", 0, None)
            return items
        last_request, reply = r.reply, s.reply
    raise AssertionError("the transfer did not finish")


@pytest.mark.parametrize("n", [0, 1, 2, 7])
@pytest.mark.parametrize("loss", [0, 2, 3])
def test_plans_cross_between_sender_and_receiver(n, loss):
    sender = native.MissionSender(1, 1, 0)
    for i in range(n):
        sender.add_item(item_payload(99, x=i * 1000, command=16 + i))
    assert len(sender) == n
    receiver = native.MissionReceiver(1, 1, 0)
    items = transfer(sender, receiver, lose=(lambda k: loss and k % loss == 0))
    assert receiver.complete and receiver.expected == n
    assert [(m.get_int("seq"), m.get_int("x"), m.get_int("command")) for m in items] == [
        (i, i * 1000, 16 + i) for i in range(n)]


def test_pymavlink_items_decode_field_for_field():
    receiver = native.MissionReceiver(1, 1, 2)
    h = header(255, 190)
    step = receiver.on_frame(peer_frame(peer.MAVLink_mission_count_message(1, 1, 2, 2)), h)
    theirs = peer_read(step.reply)
    assert (theirs.get_type(), theirs.seq, theirs.target_system, theirs.mission_type) == ("MISSION_REQUEST_INT", 0, 1, 2)
    for seq in range(2):
        msg = peer.MAVLink_mission_item_int_message(
            1, 1, seq, 6, 16, 0, 1, 0.5, -1.25, 3.0e3, 4.0, -473977418, 85455939, 120.25, 2)
        step = receiver.on_frame(peer_frame(msg), h)
        item = step.accepted
        for field in msg.fieldnames:
            expected = getattr(msg, field)
            got = item.get(field) if isinstance(expected, float) else item.get_int(field)
            assert got == expected, field
    assert step.kind == "ack"
    ack = peer_read(step.reply)
    assert (ack.get_type(), ack.type, ack.mission_type) == ("MISSION_ACK", 0, 2)
    assert repr(step) == 'ReceiverStep(kind="ack", accepted=true)'


def test_the_sender_speaks_to_pymavlink():
    sender = native.MissionSender(3, 4, 1)
    sender.add_item(item_payload(7, x=123, command=22)[:20])  # a short item reads zero-filled
    sender.add_item(item_payload(7, x=456, command=16))
    h = header(1, 1)
    count = peer_read(sender.count(h))
    assert (count.count, count.target_system, count.target_component, count.mission_type) == (2, 3, 4, 1)
    request = peer_frame(peer.MAVLink_mission_request_message(1, 1, 1, 1))
    item = peer_read(sender.on_frame(request, h).reply)
    assert (item.seq, item.x, item.command, item.target_system, item.mission_type, item.z) == (1, 456, 16, 3, 1, 10.5)
    past = sender.on_frame(peer_frame(peer.MAVLink_mission_request_int_message(1, 1, 2, 1)), h)
    assert peer_read(past.reply).type == 13
    assert repr(past) == 'SenderStep(kind="reply", result=None)'
    done = sender.on_frame(peer_frame(peer.MAVLink_mission_ack_message(1, 1, 4, 1)), h)
    assert (done.kind, done.result, repr(done)) == ("finished", 4, 'SenderStep(kind="finished", result=Some(4))')
    heartbeat = peer_frame(peer.MAVLink_heartbeat_message(6, 8, 0, 0, 0, 3))
    assert sender.on_frame(heartbeat, h) is None
    assert native.MissionReceiver(1, 1).on_frame(heartbeat, h) is None


def test_a_completed_receiver_acknowledges_a_repeated_last_item():
    """The sender missed the acknowledgment and sends its last item again."""
    receiver = native.MissionReceiver(1, 1)
    h = header(255, 190)
    receiver.on_frame(peer_frame(peer.MAVLink_mission_count_message(1, 1, 1, 0)), h)
    assert receiver.on_frame(item_frame(0), h).kind == "ack"
    again = receiver.on_frame(item_frame(0), h)
    assert (again.kind, again.accepted) == ("ack", None)
    assert peer_read(again.reply).type == 0
    assert receiver.expected == 1


def test_a_new_count_reopens_a_completed_receiver():
    receiver = native.MissionReceiver(1, 1)
    h = header(255, 190)
    receiver.on_frame(peer_frame(peer.MAVLink_mission_count_message(1, 1, 0, 0)), h)
    assert receiver.complete and receiver.expected == 0
    step = receiver.on_frame(peer_frame(peer.MAVLink_mission_count_message(1, 1, 2, 0)), h)
    assert step.kind == "request" and not receiver.complete
    step = receiver.on_frame(item_frame(0, x=5), h)
    assert step.accepted.get_int("x") == 5 and peer_read(step.reply).seq == 1


def test_an_item_before_any_count_is_not_accepted():
    receiver = native.MissionReceiver(1, 1)
    assert receiver.on_frame(item_frame(0), header()) is None
    assert not receiver.complete and receiver.expected == 0


def test_a_plan_holds_what_mission_count_can_announce():
    sender = native.MissionSender(1, 1)
    item = item_payload(0)
    for _ in range(65535):
        sender.add_item(item)
    with pytest.raises(ValueError, match="^a mission plan holds at most 65535 items$"):
        sender.add_item(item)
    assert len(sender) == 65535
    assert peer_read(sender.count(header())).count == 65535


@pytest.mark.parametrize("call, error", [
    (lambda: native.MissionReceiver(256, 1), OverflowError),
    (lambda: native.MissionSender(1, 1, -1), OverflowError),
    (lambda: native.MissionSender(1, 1).add_item("abc"), TypeError),
    (lambda: native.MissionReceiver(1, 1).on_frame(b"\xfd", header()), TypeError),
    (lambda: native.MissionReceiver(1, 1).request_list((1, 1, 0)), TypeError),
])
def test_mission_argument_refusals(call, error):
    with pytest.raises(error):
        call()


# ---- command protocol and offboard setpoints -------------------------------

@pytest.mark.parametrize("command, result, progress, kind, value", [
    (400, 5, 40, "in_progress", 40),
    (400, 0, 0, "final", 0),
    (400, 4, 0, "final", 4),
    (176, 0, 0, "unrelated", None),
])
def test_pymavlink_command_acks(command, result, progress, kind, value):
    tracker = native.CommandProtocol(400)
    outcome = tracker.on_frame(peer_frame(peer.MAVLink_command_ack_message(command, result, progress, 0, 255, 190)))
    assert (outcome.kind, outcome.value) == (kind, value)
    shown = "None" if value is None else f"Some({value})"
    assert repr(outcome) == f'AckOutcome(kind="{kind}", value={shown})'


def test_a_version_1_ack_reads_no_progress():
    v1 = native.MavlinkFrame.encode_v1(header(), 77, bytes([0x90, 0x01, 5]), 143)
    outcome = native.CommandProtocol(400).on_frame(v1)
    assert (outcome.kind, outcome.value) == ("in_progress", 0)
    heartbeat = peer_frame(peer.MAVLink_heartbeat_message(6, 8, 0, 0, 0, 3))
    assert native.CommandProtocol(400).on_frame(heartbeat) is None


def test_the_retry_budget():
    tracker = native.CommandProtocol(400)
    assert tracker.command == 400 and tracker.confirmation == 0
    assert [tracker.on_timeout() for _ in range(6)] == [1, 2, 3, 4, 5, None]
    assert tracker.confirmation == 5
    assert native.CommandProtocol(400, max_retries=0).on_timeout() is None
    # A command stamped with each confirmation is what pymavlink reads back.
    long = peer.MAVLink_command_long_message(1, 1, 400, tracker.confirmation, 1, 0, 0, 0, 0, 0, 0)
    assert peer_read(peer_frame(long)).confirmation == 5
    for bad in (dict(command=65536), dict(command=1, max_retries=256)):
        with pytest.raises(OverflowError):
            native.CommandProtocol(**bad)


@pytest.mark.parametrize("flags, mask", [(0, 0xDFF), (1, 0xDF8), (2, 0xDC7), (3, 0xDC0), (9, 0x9F8), (63, 0x200),
                                         (64 | 1, 0xDF8), (4, 0xC3F & 0xDFF), (16, 0x5FF)])
def test_offboard_type_masks(flags, mask):
    assert native.mavlink_offboard_type_mask(flags) == mask


@pytest.mark.parametrize("build, name, expected", [
    (lambda h: native.mavlink_offboard_local_position(h, 1234, 1, 7, 8, 1.5, -2.25, 3.0),
     "SET_POSITION_TARGET_LOCAL_NED", dict(x=1.5, y=-2.25, z=3.0, vx=0.0, type_mask=0xDF8, coordinate_frame=1)),
    (lambda h: native.mavlink_offboard_local_velocity(h, 1234, 9, 7, 8, 1.0, 0.0, -0.5),
     "SET_POSITION_TARGET_LOCAL_NED", dict(x=0.0, y=0.0, z=0.0, vx=1.0, vy=0.0, vz=-0.5, type_mask=0xDC7,
                                           coordinate_frame=9)),
    (lambda h: native.mavlink_offboard_global_position(h, 1234, 6, 7, 8, -473977418, 2**31 - 1, 488.1),
     "SET_POSITION_TARGET_GLOBAL_INT", dict(lat_int=-473977418, lon_int=2**31 - 1, alt=f32(488.1), vx=0.0,
                                            type_mask=0xDF8, coordinate_frame=6)),
])
def test_offboard_setpoints_decode_in_pymavlink(build, name, expected):
    frame = build(header(255, 190, 9))
    theirs = peer_read(frame)
    assert theirs.get_type() == name
    assert (theirs.get_srcSystem(), theirs.get_srcComponent(), theirs.get_seq()) == (255, 190, 9)
    assert (theirs.time_boot_ms, theirs.target_system, theirs.target_component) == (1234, 7, 8)
    for field, value in expected.items():
        assert getattr(theirs, field) == value, field


@pytest.mark.parametrize("call, error", [
    (lambda: native.mavlink_offboard_type_mask(2**32), OverflowError),
    (lambda: native.mavlink_offboard_global_position(header(), 0, 0, 0, 0, 2**31, 0, 0.0), OverflowError),
    (lambda: native.mavlink_offboard_local_position(header(), 0, 256, 0, 0, 0.0, 0.0, 0.0), OverflowError),
    (lambda: native.mavlink_offboard_local_position(header(), 0, 0, 0, 0, "1", 0.0, 0.0), TypeError),
    (lambda: native.CommandProtocol(1).on_frame(header()), TypeError),
])
def test_offboard_argument_refusals(call, error):
    with pytest.raises(error):
        call()
