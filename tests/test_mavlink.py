"""MAVLink frames and checksums, the stream parser, signing and verification,
checked against pymavlink, an independent implementation."""
import contextlib
import hashlib
import io
import os
import random

import pytest
from pymavlink.dialects.v20 import common as peer

import trovik._native as native

HEARTBEAT_PAYLOAD = bytes.fromhex("000000000203000403")
HEARTBEAT_V2 = bytes.fromhex("fd0900000001010000000000000002030004034ad7")
HEARTBEAT_V1 = bytes.fromhex("fe09000101000000000002030004 03d014".replace(" ", ""))
KEY = bytes(range(32))

# The built-in messages and their seeds.
KNOWN = {0: 50, 1: 124, 2: 137, 4: 237, 11: 89, 20: 214, 21: 159, 22: 220, 23: 168, 24: 24, 30: 39, 31: 246,
         32: 185, 33: 104, 36: 222, 40: 230, 42: 28, 43: 132, 44: 221, 45: 232, 47: 153, 51: 196, 65: 118,
         69: 243, 73: 38, 74: 20, 75: 158, 76: 152, 77: 143, 84: 143, 86: 5, 147: 154, 148: 178, 242: 104,
         245: 130, 253: 83}


def header(system_id=1, component_id=1, sequence=0):
    return native.MavlinkHeader(system_id, component_id, sequence)


def peer_link(system_id=1, component_id=1, key=None, timestamp=0, link_id=0):
    """A pymavlink endpoint; with a key it signs what it packs and checks what it reads."""
    mav = peer.MAVLink(None, srcSystem=system_id, srcComponent=component_id)
    mav.robust_parsing = True
    if key is not None:
        mav.signing.secret_key = key
        mav.signing.link_id = link_id
        mav.signing.timestamp = timestamp
        mav.signing.sign_outgoing = True
    return mav


def peer_frames(rng, count):
    """Frames of several built-in messages packed by pymavlink, with random values."""
    mav = peer_link(system_id=rng.randrange(256), component_id=rng.randrange(256))
    makers = [
        lambda: peer.MAVLink_heartbeat_message(rng.randrange(30), rng.randrange(20), rng.randrange(256),
                                               rng.getrandbits(32), rng.randrange(9), 3),
        lambda: peer.MAVLink_attitude_message(rng.getrandbits(32), *(rng.uniform(-3, 3) for _ in range(6))),
        lambda: peer.MAVLink_command_long_message(rng.randrange(256), rng.randrange(256), rng.randrange(65536),
                                                  rng.randrange(256), *(rng.uniform(-1e6, 1e6) for _ in range(7))),
        lambda: peer.MAVLink_statustext_message(rng.randrange(8), bytes(rng.choices(b"abcdefgh ", k=rng.randrange(51))),
                                                rng.randrange(65536), rng.randrange(256)),
        lambda: peer.MAVLink_gps_raw_int_message(rng.getrandbits(64), rng.randrange(9), rng.getrandbits(31),
                                                 -rng.getrandbits(31), rng.getrandbits(31), rng.randrange(65536),
                                                 rng.randrange(65536), rng.randrange(65536), rng.randrange(65536),
                                                 rng.randrange(256), rng.getrandbits(31)),
        lambda: peer.MAVLink_param_value_message(b"PARAM_%d" % rng.randrange(1000), rng.uniform(-10, 10),
                                                 rng.randrange(1, 10), rng.randrange(65536), rng.randrange(65536)),
        lambda: peer.MAVLink_mission_count_message(rng.randrange(256), rng.randrange(256), 0, 0),
    ]
    frames = []
    for i in range(count):
        mav.seq = i % 256
        frames.append(bytes(rng.choice(makers)().pack(mav, force_mavlink1=rng.random() < 0.2)))
    return frames


def parsed_by_peer(data, key=None):
    mav = peer_link(key=key)
    return mav.parse_buffer(data) or []


# ---- checksums and seeds --------------------------------------------------------------------------------


def test_crc16_mcrf4xx():
    assert native.mavlink_crc16_mcrf4xx(b"") == 65535
    assert native.mavlink_crc16_mcrf4xx(b"123456789") == 0x6F91
    assert native.mavlink_crc16_mcrf4xx([0x31, 0x32]) == native.mavlink_crc16_mcrf4xx(b"12")
    with pytest.raises(TypeError):
        native.mavlink_crc16_mcrf4xx("123")


def test_every_frame_checksum_matches_the_peer():
    # pymavlink's own X.25 accumulator over frames it packed.
    from pymavlink.generator.mavcrc import x25crc

    rng = random.Random(5)
    for _ in range(200):
        data = rng.randbytes(rng.randrange(0, 300))
        assert native.mavlink_crc16_mcrf4xx(data) == x25crc(data).crc


def test_the_registry_holds_the_common_dialect_seeds():
    for msgid in range(256):
        expected = KNOWN.get(msgid)
        assert native.mavlink_known_crc_extra(msgid) == expected, msgid
        if expected is not None:
            assert peer.mavlink_map[msgid].crc_extra == expected
    assert native.mavlink_known_crc_extra(2**32 - 1) is None
    with pytest.raises(OverflowError):
        native.mavlink_known_crc_extra(2**32)


def common_messages():
    """Every message of the common dialect as pymavlink's own parser reads its XML."""
    from pymavlink.generator import mavparse

    import pymavlink

    path = os.path.join(os.path.dirname(pymavlink.__file__), "dialects", "v20", "common.xml")
    with contextlib.redirect_stdout(io.StringIO()):
        return mavparse.MAVXML(path, mavparse.PROTOCOL_2_0).message


def test_seeds_derived_from_definitions_match_the_peer():
    messages = common_messages()
    assert len(messages) > 150
    for m in messages:
        base = [(f.type, f.name, f.array_length) for f in m.ordered_fields[: m.base_fields()]]
        assert native.mavlink_message_crc_extra(m.name, base) == m.crc_extra, m.name
        assert native.mavlink_message_crc_extra(m.name, tuple(base)) == m.crc_extra


@pytest.mark.parametrize(
    "fields, error",
    [
        ("uint8_t x", TypeError),
        ([("uint8_t", "x")], TypeError),
        ([["uint8_t", "x", 0]], TypeError),
        ([("uint8_t", b"x", 0)], TypeError),
        ([("uint8_t", "x", 256)], OverflowError),
        ([("uint8_t", "x", -1)], OverflowError),
    ],
)
def test_field_lists_are_checked(fields, error):
    with pytest.raises(error):
        native.mavlink_message_crc_extra("M", fields)
    with pytest.raises(error):
        native.Dialect().add_message(1, "M", fields)


# ---- frames ------------------------------------------------------------------------------------------------


def test_heartbeat_in_both_versions():
    v2 = native.MavlinkFrame.encode_v2(header(), 0, HEARTBEAT_PAYLOAD, 50)
    assert v2.bytes == HEARTBEAT_V2
    assert (v2.version, v2.message_id, v2.incompat_flags, v2.signed, v2.payload, v2.signature) == (
        2, 0, 0, False, HEARTBEAT_PAYLOAD, None)
    assert repr(v2) == "MavlinkFrame(version=2, message_id=0, signed=false)"
    v1 = native.MavlinkFrame.encode_v1(header(), 0, HEARTBEAT_PAYLOAD, 50)
    assert v1.bytes == HEARTBEAT_V1
    assert (v1.version, v1.incompat_flags, v1.signed) == (1, 0, False)
    assert native.MavlinkFrame.raw(header(), 0, 50, HEARTBEAT_PAYLOAD).bytes == HEARTBEAT_V2
    # pymavlink packs the same message to the same bytes.
    msg = peer.MAVLink_heartbeat_message(2, 3, 0, 0, 4, 3)
    assert bytes(msg.pack(peer_link())) == HEARTBEAT_V2
    assert bytes(msg.pack(peer_link(), force_mavlink1=True)) == HEARTBEAT_V1


def test_header():
    h = native.MavlinkHeader(7, 200, sequence=255)
    assert (h.system_id, h.component_id, h.sequence) == (7, 200, 255)
    assert repr(h) == "MavlinkHeader(system_id=7, component_id=200, sequence=255)"
    assert native.MavlinkHeader(1, 2).sequence == 0
    frame = native.MavlinkFrame.encode_v2(h, 77, b"\x01", 143)
    assert repr(frame.header) == repr(h)
    with pytest.raises(TypeError):
        native.MavlinkHeader(1, 2, None)
    with pytest.raises(OverflowError):
        native.MavlinkHeader(256, 1)
    with pytest.raises(TypeError):
        native.MavlinkFrame()


@pytest.mark.parametrize(
    "payload, length",
    [(b"", 0), (bytes(9), 1), (b"\x05\x00\x00", 1), (b"\x00\x07\x00", 2), (b"\x00\x00\x00", 1), (b"\x01\x02", 2)],
)
def test_v2_payloads_lose_trailing_zeros_but_keep_the_first_byte(payload, length):
    frame = native.MavlinkFrame.encode_v2(header(), 0, payload, 50)
    assert frame.payload == payload[:length]
    assert frame.bytes[1] == length and len(frame.bytes) == length + 12
    assert native.MavlinkFrame.encode_v1(header(), 0, payload, 50).payload == payload
    if payload == bytes(9):
        assert frame.bytes == bytes.fromhex("fd01000000010100000000d52c")


def test_frames_we_build_are_read_by_the_peer():
    rng = random.Random(8)
    for _ in range(300):
        msgid = rng.choice(sorted(KNOWN))
        cls = peer.mavlink_map[msgid]
        payload = bytearray(rng.randbytes(cls.unpacker.size))
        for i in rng.sample(range(len(payload)), len(payload) // 3):
            payload[i] = 0  # trailing zeros to trim, now and then
        h = header(rng.randrange(256), rng.randrange(256), rng.randrange(256))
        v1 = msgid < 256 and rng.random() < 0.3
        if v1:
            frame = native.MavlinkFrame.encode_v1(h, msgid, bytes(payload[: cls.unpacker.size]), KNOWN[msgid])
        else:
            frame = native.MavlinkFrame.encode_v2(h, msgid, bytes(payload), KNOWN[msgid])
        msgs = parsed_by_peer(frame.bytes)
        assert len(msgs) == 1 and msgs[0].get_type() != "BAD_DATA", msgs
        msg = msgs[0]
        assert bytes(msg.get_msgbuf()) == frame.bytes
        assert (msg.get_msgId(), msg.get_srcSystem(), msg.get_srcComponent(), msg.get_seq()) == (
            msgid, h.system_id, h.component_id, h.sequence)


def test_peer_frames_are_read_here_and_rebuilt_byte_for_byte():
    rng = random.Random(9)
    for raw in peer_frames(rng, 300):
        frame = native.MavlinkFrame.parse_known(raw)
        assert frame.bytes == raw
        seed = KNOWN[frame.message_id]
        assert native.MavlinkFrame.parse(raw, seed).bytes == raw
        build = native.MavlinkFrame.encode_v2 if frame.version == 2 else native.MavlinkFrame.encode_v1
        assert build(frame.header, frame.message_id, frame.payload, seed).bytes == raw


def test_message_ids_use_all_24_bits_and_no_more():
    top = native.MavlinkFrame.encode_v2(header(), 2**24 - 1, b"\x01", 9)
    assert top.message_id == 2**24 - 1 and top.bytes[7:10] == b"\xff\xff\xff"
    assert native.MavlinkFrame.parse(top.bytes, 9).message_id == 2**24 - 1
    # One more would go out as message 0: refused, wherever an id is given.
    text = "message id 16777216 is above the MAVLink 2 limit of 16777215"
    for build in (
        lambda i: native.MavlinkFrame.encode_v2(header(), i, b"\x01", 9),
        lambda i: native.MavlinkFrame.raw(header(), i, 9, b"\x01"),
        lambda i: native.MavlinkSigner(KEY).sign(header(), i, b"\x01", 9),
        lambda i: native.Dialect().add(i, 9),
        lambda i: native.Dialect().add_message(i, "M", [("uint8_t", "x", 0)]),
    ):
        with pytest.raises(ValueError, match=f"^{text}$"):
            build(2**24)
        with pytest.raises(ValueError, match="above the MAVLink 2 limit of 16777215"):
            build(2**32 - 1)
        with pytest.raises(OverflowError):
            build(2**32)


def test_assembling_checks_the_length_before_the_id():
    with pytest.raises(native.TrovikError, match="^payload exceeds the maximum frame size$"):
        native.MavlinkFrame.encode_v1(header(), 300, bytes(256), 0)
    with pytest.raises(native.TrovikError, match="^no CRC_EXTRA known for message id 300$"):
        native.MavlinkFrame.encode_v1(header(), 300, bytes(8), 0)
    with pytest.raises(native.TrovikError, match="^payload exceeds the maximum frame size$"):
        native.MavlinkFrame.encode_v2(header(), 2**24, bytes(256), 0)
    assert len(native.MavlinkFrame.encode_v2(header(), 1, b"\x01" * 255, 0).bytes) == 267


def test_a_frame_assembled_as_signed_keeps_room_for_the_signature():
    # Only the general assembler sets flags; the signer uses it with bit 0.
    frame = native.MavlinkSigner(KEY).sign(header(), 1, bytes(range(1, 11)), 7)
    assert len(frame.bytes) == 35 and frame.signed and frame.incompat_flags == 1
    assert frame.signature == frame.bytes[-13:]


FLAGS_2 = bytearray(HEARTBEAT_V2)
FLAGS_2[2] = 2


@pytest.mark.parametrize(
    "data, message",
    [
        (b"", "frame is shorter than a valid frame"),
        (b"\x55" + HEARTBEAT_V2[1:], "unrecognized start marker: 0x55"),
        (bytes(FLAGS_2), "frame sets incompatibility flags 0x02"),
        (b"\xfe\x00" + bytes(5), "frame is shorter than its length field promises"),
        (b"\xfe" + bytes(4), "frame is shorter than a valid frame"),
        (b"\xfd" + bytes(8), "frame is shorter than a valid frame"),
        (HEARTBEAT_V2[:-1], "frame is shorter than its length field promises"),
        (HEARTBEAT_V2[:2] + b"\x01" + HEARTBEAT_V2[3:], "frame is shorter than its length field promises"),
    ],
)
def test_reading_refuses_with_the_first_check_that_fails(data, message):
    with pytest.raises(native.TrovikError, match=f"^{message}$"):
        native.MavlinkFrame.parse(data, 50)
    with pytest.raises(native.TrovikError, match=f"^{message}$"):
        native.MavlinkFrame.parse_known(data)


def test_a_wrong_seed_names_both_checksums():
    computed = native.mavlink_crc16_mcrf4xx(HEARTBEAT_V2[1:19] + bytes([51]))
    with pytest.raises(native.TrovikError) as info:
        native.MavlinkFrame.parse(HEARTBEAT_V2, 51)
    assert str(info.value) == f"checksum mismatch: expected {computed:#06x}, found 0xd74a"
    assert info.value.args == (str(info.value),)


def test_bytes_after_a_frame_are_ignored():
    frame = native.MavlinkFrame.parse(HEARTBEAT_V2 + b"\xfd\x01\x02", 50)
    assert frame.bytes == HEARTBEAT_V2
    assert native.MavlinkFrame.parse(list(HEARTBEAT_V2), 50).bytes == HEARTBEAT_V2


def test_dialect_seeds_come_before_the_registry():
    d = native.Dialect()
    assert d.crc_extra(0) == 50 and d.crc_extra(1000) is None
    d.add(0, 7)
    assert d.crc_extra(0) == 7
    d.add(0, 9)
    assert d.crc_extra(0) == 9
    d.add(1000, 12)
    assert d.crc_extra(1000) == 12
    frame = native.MavlinkFrame.encode_v2(header(), 1000, b"\x01\x02", 12)
    assert native.MavlinkFrame.parse_known(frame.bytes, d).bytes == frame.bytes
    assert native.MavlinkFrame.parse_known(frame.bytes, dialect=d).message_id == 1000
    with pytest.raises(native.TrovikError, match="^no CRC_EXTRA known for message id 1000$"):
        native.MavlinkFrame.parse_known(frame.bytes)
    with pytest.raises(native.TrovikError, match="^no CRC_EXTRA known for message id 1000$"):
        native.MavlinkFrame.parse_known(frame.bytes, None)
    with pytest.raises(TypeError):
        native.MavlinkFrame.parse_known(frame.bytes, "dialect")
    # A private seed overrides the common one: heartbeats no longer check out.
    with pytest.raises(native.TrovikError, match="^checksum mismatch"):
        native.MavlinkFrame.parse_known(HEARTBEAT_V2, d)


def test_add_message_derives_the_seed_it_adds():
    d = native.Dialect()
    seed = d.add_message(42000, "A", [("uint8_t", "x", 0)])
    assert seed == native.mavlink_message_crc_extra("A", [("uint8_t", "x", 0)])
    assert d.crc_extra(42000) == seed
    # A dialect message packed by the peer's generator with the same definition.
    m = next(m for m in common_messages() if m.name == "COMMAND_LONG")
    base = [(f.type, f.name, f.array_length) for f in m.ordered_fields[: m.base_fields()]]
    assert d.add_message(60000, "COMMAND_LONG", base) == 152


# ---- the stream parser --------------------------------------------------------------------------------------


def test_a_frame_pushed_byte_by_byte_completes_on_its_last_byte():
    parser = native.MavlinkParser()
    for b in HEARTBEAT_V2[:-1]:
        assert parser.push(bytes([b])) == []
    [frame] = parser.push(HEARTBEAT_V2[-1:])
    assert frame.bytes == HEARTBEAT_V2


def test_push_returns_and_feed_queues():
    parser = native.MavlinkParser()
    assert [f.bytes for f in parser.push(HEARTBEAT_V2 * 2)] == [HEARTBEAT_V2] * 2
    assert parser.pending == 0
    assert parser.feed(HEARTBEAT_V2 + HEARTBEAT_V1) is None
    assert parser.pending == 2
    assert parser.next_frame().bytes == HEARTBEAT_V2
    assert parser.next_frame().bytes == HEARTBEAT_V1
    assert parser.next_frame() is None and parser.pending == 0
    assert parser.feed(b"") is None and parser.pending == 0
    # push and feed share the held bytes: whoever brings the last byte gets the frame.
    parser.feed(HEARTBEAT_V2[:10])
    assert [f.bytes for f in parser.push(HEARTBEAT_V2[10:])] == [HEARTBEAT_V2]
    assert parser.pending == 0


def test_noise_and_bad_frames_are_skipped_silently():
    bad = bytearray(HEARTBEAT_V2)
    bad[-1] ^= 0xFF
    unknown = native.MavlinkFrame.encode_v2(header(), 1000, b"\x01", 12).bytes
    stream = b"\x00\x11\x55\xaa" + bytes(bad) + unknown + HEARTBEAT_V2
    assert [f.bytes for f in native.MavlinkParser().push(stream)] == [HEARTBEAT_V2]
    d = native.Dialect()
    d.add(1000, 12)
    assert [f.bytes for f in native.MavlinkParser().push(stream, dialect=d)] == [unknown, HEARTBEAT_V2]
    with pytest.raises(TypeError):
        native.MavlinkParser().push(stream, dialect=0)
    with pytest.raises(TypeError):
        native.MavlinkParser().push("text")
    with pytest.raises(OverflowError):
        native.MavlinkParser().push([1, 256])


def test_a_stray_start_marker_holds_frames_back_for_its_promised_length():
    # fd 30 00 promises a 60-byte frame; the two heartbeats after it are whole
    # by byte 45, but come out with the 60th byte and the one after it.
    stream = b"\xfd\x30\x00" + HEARTBEAT_V2 * 2 + bytes(20)
    parser = native.MavlinkParser()
    completed = [i + 1 for i, b in enumerate(stream) if parser.push(bytes([b]))]
    assert completed == [60, 61]
    # An odd flags byte promises a signature too: 73 bytes.
    stream = b"\xfd\x30\x01" + HEARTBEAT_V2 + bytes(60)
    parser = native.MavlinkParser()
    assert [i + 1 for i, b in enumerate(stream) if parser.push(bytes([b]))] == [73]


def test_a_frame_with_unknown_flag_bits_is_awaited_with_room_for_a_signature():
    flags3 = bytearray(HEARTBEAT_V2)
    flags3[2] = 3
    parser = native.MavlinkParser()
    assert parser.push(bytes(flags3) + bytes(12)) == []  # 33 bytes of the 34 it waits for
    assert [f.bytes for f in parser.push(b"\x00" + HEARTBEAT_V2)] == [HEARTBEAT_V2]


def test_a_long_noisy_stream_fed_in_random_pieces_yields_exactly_the_valid_frames():
    rng = random.Random(31)
    valid = peer_frames(rng, 2000)
    stream = bytearray()
    for raw in valid:
        if rng.random() < 0.3:
            if rng.random() < 0.5:
                stream += bytes([rng.choice((0xFD, 0xFE)), rng.randrange(256), rng.randrange(4)])  # a stray marker
            stream += bytes(b for b in rng.randbytes(rng.randrange(40)) if b not in (0xFD, 0xFE))
        if rng.random() < 0.05:
            broken = bytearray(raw)
            broken[rng.randrange(1, len(broken))] ^= 1 + rng.randrange(255)
            stream += broken
        stream += raw
    stream += bytes(300)  # a quiet tail lets out frames held behind a stray marker
    parser = native.MavlinkParser()
    got = []
    at = 0
    while at < len(stream):
        n = rng.choice((1, 2, 3, rng.randrange(600)))
        piece = bytes(stream[at : at + n])
        if rng.random() < 0.5:
            got += [f.bytes for f in parser.push(piece)]
        else:
            parser.feed(piece)
            while (f := parser.next_frame()) is not None:
                got.append(f.bytes)
        at += n
    assert got == valid
    # pymavlink reads the same frames out of the clean stream.
    assert [bytes(m.get_msgbuf()) for m in parsed_by_peer(b"".join(valid))] == valid


# ---- signing ---------------------------------------------------------------------------------------------------


def test_signing_a_heartbeat():
    signer = native.MavlinkSigner(KEY, link_id=0, timestamp=1000)
    frame = signer.sign(header(), 0, HEARTBEAT_PAYLOAD, 50)
    assert frame.incompat_flags == 1 and frame.signed and len(frame.bytes) == 9 + 25
    assert frame.signature[:7] == bytes.fromhex("00e80300000000")
    digest = hashlib.sha256(KEY + frame.bytes[:21] + frame.signature[:7]).digest()
    assert frame.signature[7:] == digest[:6]
    assert signer.sign(header(), 0, HEARTBEAT_PAYLOAD, 50).signature[1:7] == (1001).to_bytes(6, "little")
    assert signer.link_id == 0
    # pymavlink signs the same message to the same bytes.
    msg = peer.MAVLink_heartbeat_message(2, 3, 0, 0, 4, 3)
    assert bytes(msg.pack(peer_link(key=KEY, timestamp=1000))) == frame.bytes


def test_frames_we_sign_pass_the_peers_signature_check():
    rng = random.Random(12)
    signer = native.MavlinkSigner(KEY, link_id=5, timestamp=native.mavlink_timestamp_from_unix_micros(1_700_000_000_000_000))
    checker, reader = peer_link(key=KEY), peer_link(key=KEY)
    for i in range(200):
        msgid = rng.choice(sorted(KNOWN))
        payload = rng.randbytes(peer.mavlink_map[msgid].unpacker.size)
        h = header(rng.randrange(1, 4), 1, i % 256)
        frame = signer.sign(h, msgid, payload, KNOWN[msgid])
        assert checker.check_signature(bytearray(frame.bytes), h.system_id, h.component_id)
        [msg] = reader.parse_buffer(frame.bytes)
        assert msg.get_signed() and bytes(msg.get_msgbuf()) == frame.bytes
    stranger = peer_link(key=bytes(32))
    assert not stranger.check_signature(bytearray(frame.bytes), h.system_id, h.component_id)


def test_frames_the_peer_signs_pass_our_verifier():
    rng = random.Random(13)
    verifier = native.MavlinkVerifier(KEY)
    mav = peer_link(system_id=9, component_id=4, key=KEY, timestamp=10**9, link_id=3)
    for i in range(100):
        mav.seq = i
        raw = bytes(peer.MAVLink_attitude_message(i, *(rng.uniform(-1, 1) for _ in range(6))).pack(mav))
        mav.signing.timestamp += 1  # pymavlink moves it on when it sends
        frame = native.MavlinkFrame.parse_known(raw)
        assert frame.signed and frame.bytes == raw
        assert verifier.verify(frame) is None
    with pytest.raises(native.TrovikError, match="^signing timestamp is too old$"):
        verifier.verify(frame)
    with pytest.raises(native.TrovikError, match="^signature does not verify$"):
        native.MavlinkVerifier(bytes(32)).verify(frame)
    # The same frame signed with another key, later, is still refused.
    forged = native.MavlinkSigner(bytes(32), 3, 10**10).sign(frame.header, 30, frame.payload, 39)
    with pytest.raises(native.TrovikError, match="^signature does not verify$"):
        verifier.verify(forged)


def test_a_verifier_takes_each_frame_once():
    signer = native.MavlinkSigner(KEY, timestamp=1000)
    first = signer.sign(header(), 0, HEARTBEAT_PAYLOAD, 50)
    verifier = native.MavlinkVerifier(KEY)
    assert verifier.verify(first) is None
    with pytest.raises(native.TrovikError, match="^signing timestamp is too old$"):
        verifier.verify(first)
    assert verifier.verify(signer.sign(header(), 0, HEARTBEAT_PAYLOAD, 50)) is None
    with pytest.raises(native.TrovikError, match="^signature does not verify$"):
        native.MavlinkVerifier(bytes(32)).verify(first)
    with pytest.raises(native.TrovikError, match="^frame is not signed$"):
        verifier.verify(native.MavlinkFrame.parse(HEARTBEAT_V2, 50))
    with pytest.raises(native.TrovikError, match="^frame is not signed$"):
        verifier.verify(native.MavlinkFrame.parse(HEARTBEAT_V1, 50))
    with pytest.raises(TypeError):
        verifier.verify(first.bytes)


def signed_at(timestamp, system_id, link_id=0):
    return native.MavlinkSigner(KEY, link_id, timestamp).sign(header(system_id), 0, HEARTBEAT_PAYLOAD, 50)


def test_the_window_bounds_where_a_new_stream_may_start():
    verifier = native.MavlinkVerifier(KEY)
    verifier.verify(signed_at(10_000_000, 1))
    verifier.verify(signed_at(4_000_000, 2))
    with pytest.raises(native.TrovikError, match="^signing timestamp is too old$"):
        verifier.verify(signed_at(3_999_999, 3))
    # A known stream goes on above its own last timestamp, however far behind.
    verifier.verify(signed_at(4_000_001, 2))
    # Another link of the same system is another stream.
    verifier.verify(signed_at(4_000_000, 2, link_id=1))
    verifier.set_window(0)
    with pytest.raises(native.TrovikError, match="^signing timestamp is too old$"):
        verifier.verify(signed_at(9_999_999, 4))
    verifier.verify(signed_at(10_000_000, 4))
    # The widest window takes any new stream.
    verifier.set_window(2**64 - 1)
    verifier.verify(signed_at(1, 5))
    with pytest.raises(OverflowError):
        verifier.set_window(2**64)


def test_a_seventeenth_stream_evicts_the_oldest():
    verifier = native.MavlinkVerifier(KEY)
    for system_id in range(1, 18):
        verifier.verify(signed_at(system_id, system_id))
    # Stream 1 (timestamp 1) was forgotten: timestamp 2 is judged as a new
    # stream, within the window of 17, where a known one would be too old.
    verifier.verify(signed_at(2, 1))
    # It took the slot of stream 2, the oldest left; stream 2 is new again too.
    verifier.verify(signed_at(2, 2))
    # Stream 17 is still known.
    with pytest.raises(native.TrovikError, match="^signing timestamp is too old$"):
        verifier.verify(signed_at(17, 17))


def test_the_peer_and_our_verifier_agree_on_replays():
    rng = random.Random(14)
    verifier = native.MavlinkVerifier(KEY)
    checker = peer_link(key=KEY)
    for _ in range(300):
        frame = signed_at(rng.randrange(7_000_000), rng.randrange(1, 4), rng.randrange(2))
        ours = True
        try:
            verifier.verify(frame)
        except native.TrovikError:
            ours = False
        # pymavlink's newest timestamp is its own sending timestamp, which
        # follows the newest it accepted, as ours does.
        theirs = checker.check_signature(bytearray(frame.bytes), frame.header.system_id, 1)
        assert ours == theirs


def test_signing_refusals_leave_the_counter_where_it_was():
    signer = native.MavlinkSigner(KEY, timestamp=5)
    with pytest.raises(native.TrovikError, match="^payload exceeds the maximum frame size$"):
        signer.sign(header(), 0, bytes(256), 50)
    assert signer.sign(header(), 0, HEARTBEAT_PAYLOAD, 50).signature[1:7] == (5).to_bytes(6, "little")


def test_timestamps_stop_at_48_bits():
    last = 2**48 - 1
    with pytest.raises(ValueError, match="^signing timestamp 281474976710656 is above the 48-bit limit of "
                                         "281474976710655$"):
        native.MavlinkSigner(KEY, timestamp=2**48)
    with pytest.raises(ValueError):
        native.MavlinkSigner(KEY, timestamp=2**64 - 1)
    signer = native.MavlinkSigner(KEY, timestamp=last)
    frame = signer.sign(header(), 0, HEARTBEAT_PAYLOAD, 50)
    assert frame.signature[1:7] == b"\xff" * 6
    for _ in range(2):
        with pytest.raises(native.TrovikError, match="^the signing timestamp has run out of its 48 bits$"):
            signer.sign(header(), 0, HEARTBEAT_PAYLOAD, 50)
    # The last frame it signed still verifies.
    assert native.MavlinkVerifier(KEY).verify(frame) is None


@pytest.mark.parametrize("key", [bytes(31), bytes(33), b""])
def test_keys_are_32_bytes(key):
    with pytest.raises(ValueError, match="^a signing key is 32 bytes$"):
        native.MavlinkSigner(key)
    with pytest.raises(ValueError, match="^a signing key is 32 bytes$"):
        native.MavlinkVerifier(key)


@pytest.mark.parametrize(
    "unix_micros, timestamp",
    [(0, 0), (1_420_070_400_000_009, 0), (1_420_070_400_000_010, 1), (1_420_070_401_000_000, 100_000),
     (2**64 - 1, (2**64 - 1 - 1_420_070_400_000_000) // 10)],
)
def test_timestamp_from_unix_micros(unix_micros, timestamp):
    assert native.mavlink_timestamp_from_unix_micros(unix_micros) == timestamp
