"""Mesh frames and the seen-packet cache."""
import random

import crcmod.predefined
import pytest

import trovik._native as native

EXAMPLE = bytes.fromhex("01000000010000000201020368 69a517".replace(" ", ""))


def test_example_frame():
    f = native.mesh_frame(1, 2, 258, b"hi")
    assert f.bytes == EXAMPLE
    assert (f.version, f.src, f.dst, f.id, f.hop_limit, f.broadcast, f.payload) == (1, 1, 2, 258, 3, False, b"hi")
    seven = native.mesh_frame(1, 2, 258, b"hi", hop_limit=7)
    assert seven.bytes[11] == 7 and seven.bytes[-2:] == b"\xa5\x17"


def test_crc_matches_an_independent_implementation():
    reference = crcmod.predefined.mkCrcFun("crc-ccitt-false")
    rng = random.Random(1234)
    for _ in range(500):
        data = rng.randbytes(rng.randrange(0, 300))
        assert native.mesh_crc16(data) == reference(data)
    assert native.mesh_crc16(b"123456789") == 0x29B1
    assert native.mesh_crc16(b"") == 0xFFFF


def test_frame_crc_covers_all_but_the_hop_limit():
    reference = crcmod.predefined.mkCrcFun("crc-ccitt-false")
    rng = random.Random(99)
    for _ in range(200):
        payload = rng.randbytes(rng.randrange(0, 237))
        f = native.mesh_frame(rng.getrandbits(32), rng.getrandbits(32), rng.getrandbits(16), payload)
        raw = f.bytes
        assert int.from_bytes(raw[-2:], "big") == reference(raw[:11] + raw[12:-2])
        assert native.mesh_parse_frame(raw).bytes == raw


@pytest.mark.parametrize(
    "payload_len, frame_len", [(0, 14), (1, 15), (236, 250)],
)
def test_frame_sizes(payload_len, frame_len):
    f = native.mesh_frame(1, 2, 3, bytes(payload_len))
    assert len(f.bytes) == frame_len and len(f.payload) == payload_len


def test_payload_too_long():
    with pytest.raises(native.TrovikError, match="^mesh payload is larger than a single frame can carry$"):
        native.mesh_frame(1, 2, 3, bytes(237))
    with pytest.raises(native.TrovikError, match="^mesh payload is larger than a single frame can carry$"):
        native.mesh_broadcast_frame(1, 3, bytes(237))


@pytest.mark.parametrize(
    "data, message",
    [
        (bytes(13), "mesh frame is shorter than its header and checksum"),
        (bytes([2]) * 251, "mesh frame is larger than the maximum frame size"),
        (bytes([2]) + EXAMPLE[1:], "unsupported mesh protocol version 2"),
        (bytes([255]) + EXAMPLE[1:], "unsupported mesh protocol version 255"),
        (EXAMPLE[:-1] + b"\x16", "mesh CRC mismatch: expected 0xa517, found 0xa516"),
        (EXAMPLE[:-2] + b"\x00\xff", "mesh CRC mismatch: expected 0xa517, found 0x00ff"),
        (EXAMPLE[:12] + b"hj" + EXAMPLE[-2:], None),
    ],
)
def test_parse_refusals(data, message):
    with pytest.raises(native.TrovikError) as info:
        native.mesh_parse_frame(data)
    if message:
        assert str(info.value) == message
    else:
        assert str(info.value).startswith("mesh CRC mismatch: expected 0x")
    with pytest.raises(native.TrovikError):
        native.mesh_relayed(data)


def test_relaying_spends_hops_until_none():
    raw = native.mesh_frame(1, 2, 3, b"x").bytes
    hops = []
    while (frame := native.mesh_relayed(raw)) is not None:
        hops.append(frame.hop_limit)
        assert frame.bytes[:11] == raw[:11] and frame.bytes[12:] == raw[12:]
        raw = frame.bytes
    assert hops == [2, 1, 0]


def test_hop_limit_zero_is_valid_but_not_relayed():
    f = native.mesh_frame(1, 2, 3, b"", hop_limit=0)
    assert native.mesh_parse_frame(f.bytes).hop_limit == 0
    assert native.mesh_relayed(f.bytes) is None


def test_broadcast():
    b = native.mesh_broadcast_frame(9, 4, b"all")
    assert b.dst == 0xFFFFFFFF and b.broadcast
    assert native.mesh_frame(9, 0xFFFFFFFF, 4, b"all").bytes == b.bytes
    assert native.mesh_frame(9, 0xFFFFFFFF, 4, b"all").broadcast
    with pytest.raises(OverflowError):
        native.mesh_frame(9, 0x1_0000_0000, 4, b"")


def test_frames_accept_any_addressing():
    f = native.mesh_parse_frame(native.mesh_frame(0, 0, 0, b"", hop_limit=255).bytes)
    assert (f.src, f.dst, f.id, f.hop_limit) == (0, 0, 0, 255)


def test_seen_cache_is_first_in_first_out():
    s = native.SeenPackets(2)
    assert [s.record(1, 1), s.record(1, 1), s.record(1, 2), s.record(1, 3)] == [True, False, True, True]
    assert not s.contains(1, 1) and s.contains(1, 2) and s.contains(1, 3)
    assert s.record(1, 1)  # forgotten, so new again
    assert s.record(2, 3) and s.contains(1, 3) is False


def test_repeated_packet_keeps_its_place():
    s = native.SeenPackets(2)
    s.record(1, 1)
    s.record(1, 2)
    assert not s.record(1, 1)  # no refresh: (1, 1) is still the oldest
    s.record(1, 3)
    assert not s.contains(1, 1) and s.contains(1, 2)


def test_seen_cache_of_capacity_zero():
    s = native.SeenPackets(0)
    assert s.capacity == 0
    assert s.record(1, 1) and s.record(1, 1)
    assert not s.contains(1, 1)


def test_seen_cache_defaults():
    assert native.SeenPackets().capacity == 64
    with pytest.raises(TypeError):
        native.SeenPackets(None)


@pytest.mark.parametrize("capacity", [2**62, 2**63, 2**64 - 1])
def test_a_seen_cache_past_any_memory_is_a_memory_error_with_its_reason(capacity):
    with pytest.raises(MemoryError) as info:
        native.SeenPackets(capacity)
    assert info.value.args == ("no seen-packet cache can be that large",)


def test_a_huge_seen_cache_costs_nothing_until_packets_arrive():
    s = native.SeenPackets(2**40)  # its whole ring would take terabytes
    assert s.capacity == 2**40
    assert all(s.record(7, i) for i in range(1000))
    assert s.contains(7, 0) and s.contains(7, 999) and not s.contains(8, 0)
    assert not s.record(7, 500)


def test_same_id_from_two_sources():
    s = native.SeenPackets()
    assert s.record(1, 7) and s.record(2, 7)
    assert not s.record(1, 7)


def test_limits():
    assert native.mesh_limits() == (250, 236, 4294967295, 3, 64, 12)
