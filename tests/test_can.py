"""CAN and CAN FD frames, filters, J1939 identifiers and signals, and the CAN bus."""
import random
import socket
import threading

import can
import cantools.j1939
import pytest

import trovik._native as native

TOO_LONG = "the data is longer than the frame carries: 8 bytes for classic CAN, 64 for CAN FD"
BAD_FD_LENGTH = "CAN FD carries 0 to 8 bytes, then only 12, 16, 20, 24, 32, 48, or 64"
TOO_WIDE = "the identifier is wider than its format: 11 bits for a standard identifier, 29 for an extended one"
NOT_EIGHT = "a J1939 payload is exactly eight bytes"
FD_LENGTHS = [*range(9), 12, 16, 20, 24, 32, 48, 64]


def frame_fields(f):
    return f.id, f.extended, f.fd, f.remote, f.len, f.dlc, f.data


def as_python_can(f):
    """The same frame as python-can holds it; its checks refuse what no bus carries."""
    return can.Message(arbitration_id=f.id, is_extended_id=f.extended, is_fd=f.fd, is_remote_frame=f.remote,
                       dlc=f.len, data=f.data, check=True)


# ---- frames ---------------------------------------------------------------------------------

@pytest.mark.parametrize(
    "build, fields",
    [
        (lambda: native.can_frame(0x7FF, False, b""), (0x7FF, False, False, False, 0, 0, b"")),
        (lambda: native.can_frame(0x1FFFFFFF, True, b"12345678"), (0x1FFFFFFF, True, False, False, 8, 8, b"12345678")),
        (lambda: native.can_frame(5, False, [1, 2, 255]), (5, False, False, False, 3, 3, b"\x01\x02\xff")),
        (lambda: native.can_frame(5, False, bytearray(b"ab")), (5, False, False, False, 2, 2, b"ab")),
        (lambda: native.can_fd_frame(1, False, bytes(12)), (1, False, True, False, 12, 9, bytes(12))),
        (lambda: native.can_fd_frame(0x1ABCDEF, True, bytes(64)), (0x1ABCDEF, True, True, False, 64, 15, bytes(64))),
        (lambda: native.can_remote_frame(0x100, False, 20), (0x100, False, False, True, 8, 8, b"")),
        (lambda: native.can_remote_frame(0x100, True, 3), (0x100, True, False, True, 3, 3, b"")),
        (lambda: native.can_remote_frame(0, False, 2**64 - 1), (0, False, False, True, 8, 8, b"")),
    ],
)
def test_frames_hold_what_they_were_built_from(build, fields):
    frame = build()
    assert frame_fields(frame) == fields
    assert type(frame) is native.CanFrame
    as_python_can(frame)  # a valid frame by python-can's rules too


@pytest.mark.parametrize(
    "build, message",
    [
        (lambda: native.can_frame(1, False, bytes(9)), TOO_LONG),
        (lambda: native.can_fd_frame(1, False, bytes(10)), BAD_FD_LENGTH),
        (lambda: native.can_fd_frame(1, False, bytes(63)), BAD_FD_LENGTH),
        (lambda: native.can_fd_frame(1, False, bytes(65)), TOO_LONG),
    ],
)
def test_data_a_frame_cannot_carry(build, message):
    with pytest.raises(native.TrovikError) as info:
        build()
    assert info.value.args == (message,)


def test_fd_frames_take_the_fd_lengths_only():
    for n in range(70):
        if n in FD_LENGTHS:
            frame = native.can_fd_frame(7, True, bytes(range(n)))
            assert (frame.len, frame.data) == (n, bytes(range(n)))
            as_python_can(frame)
        else:
            with pytest.raises(native.TrovikError):
                native.can_fd_frame(7, True, bytes(n))


@pytest.mark.parametrize(
    "id, extended",
    [(0x800, False), (0xFFF, False), (0x1FFFFFFF, False), (0x20000000, True), (0xFFFFFFFF, True)],
)
def test_an_identifier_wider_than_its_format_is_refused(id, extended):
    # Cutting 0xFFF to 0x7FF would send another message at another priority:
    # refused, as python-can refuses it.
    with pytest.raises(ValueError, match="Normal|Extended"):
        can.Message(arbitration_id=id, is_extended_id=extended, check=True)
    for build in (lambda: native.can_frame(id, extended, b"\x01"), lambda: native.can_fd_frame(id, extended, b""),
                  lambda: native.can_remote_frame(id, extended, 1), lambda: native.CanFilter(id, 0, extended),
                  lambda: native.CanFilter.exact(id, extended)):
        with pytest.raises(ValueError) as info:
            build()
        assert str(info.value) == TOO_WIDE
        assert not isinstance(info.value, native.TrovikError)
    # No frame carries such an identifier, so none passes a filter, whatever
    # its cut-down bits would match.
    assert not native.CanFilter(0, 0, extended).matches(id, extended)


def test_identifiers_at_the_edge_of_their_width_are_kept():
    rng = random.Random(11)
    for extended, width in ((False, 11), (True, 29)):
        for id in [0, 2**width - 1] + [rng.getrandbits(width) for _ in range(200)]:
            frame = native.can_frame(id, extended, b"")
            assert (frame.id, frame.extended) == (id, extended)
            assert as_python_can(frame).arbitration_id == id


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: native.can_frame(1, 1, b""), TypeError),  # extended is a bool, not an int
        (lambda: native.can_frame(1, False, "text"), TypeError),
        (lambda: native.can_frame(1, False, [256]), OverflowError),
        (lambda: native.can_frame(2**32, True, b""), OverflowError),
        (lambda: native.can_frame(-1, True, b""), OverflowError),
        (lambda: native.can_remote_frame(1, False, -1), OverflowError),
        (lambda: native.can_dlc_to_len(256), OverflowError),
        (lambda: native.j1939_compose(8, 0, 256, 0), OverflowError),
        (lambda: native.j1939_decode(1, 0), TypeError),
        (lambda: native.CanFilter(1, 2, extended=1), TypeError),
        (lambda: native.CanFrame(), TypeError),
    ],
)
def test_argument_conversion(call, error):
    with pytest.raises(error):
        call()


def test_length_codes_agree_with_python_can():
    for n in range(70):
        assert native.can_len_to_dlc(n) == can.util.len2dlc(n), n
    assert native.can_len_to_dlc(2**64 - 1) == 15
    for dlc in range(16):
        assert native.can_dlc_to_len(dlc) == can.util.dlc2len(dlc), dlc
    # Only the low four bits of a code count.
    for dlc in range(16, 256):
        assert native.can_dlc_to_len(dlc) == can.util.dlc2len(dlc & 15), dlc
    assert (native.can_len_to_dlc(10), native.can_len_to_dlc(65)) == (9, 15)
    assert (native.can_dlc_to_len(13), native.can_dlc_to_len(16)) == (32, 0)


# ---- J1939 ----------------------------------------------------------------------------------

@pytest.mark.parametrize(
    "fields, id",
    [
        ((6, 0xF004, 0x00, 0x42), 0x18F00400),  # PDU2: the destination is ignored
        ((3, 0xEF00, 0x21, 0x42), 0x0CEF4221),
        ((9, 0x1EF00, 0x21, 0x42), 0x05EF4221),  # priority 1, data page set
        ((0, 0xFFFFFFFF, 0, 0), 0x03FFFF00),  # PGN bits above 17 are ignored
    ],
)
def test_j1939_compose(fields, id):
    assert native.j1939_compose(*fields) == id


def test_j1939_broadcast_and_limits():
    assert native.j1939_broadcast(6, 0xEF00, 0x21) == 0x18EFFF21
    assert native.j1939_broadcast(6, 0xF004, 0x21) == native.j1939_compose(6, 0xF004, 0x21, 0x00)
    assert native.j1939_limits() == (255, 255, 3, 6, 7)


def j1939_fields(m):
    return m.pgn, m.priority, m.source, m.pdu_format, m.destination, m.broadcast


@pytest.mark.parametrize(
    "id, fields",
    [
        (0x0CEF4221, (0xEF00, 3, 0x21, 0xEF, 0x42, False)),
        (0x18F00400, (0xF004, 6, 0x00, 0xF0, None, True)),
        (0x18EFFF21, (0xEF00, 6, 0x21, 0xEF, 0xFF, False)),  # addressed to all, still PDU1
        (0x1FFFFFFF, (0x3FFFF, 7, 0xFF, 0xFF, None, True)),
    ],
)
def test_j1939_decode(id, fields):
    message = native.j1939_decode(id, True)
    assert type(message) is native.J1939Message
    assert j1939_fields(message) == fields


def test_j1939_decode_of_a_standard_or_too_wide_identifier():
    assert native.j1939_decode(0x0CEF4221, False) is None
    assert native.j1939_decode(0x123, False) is None
    with pytest.raises(ValueError, match=TOO_WIDE):
        native.j1939_decode(0x2CEF4221, True)


def test_j1939_identifiers_as_cantools_reads_them():
    rng = random.Random(1939)
    for _ in range(5000):
        priority, source, destination = rng.randrange(8), rng.randrange(256), rng.randrange(256)
        pgn = rng.getrandbits(18)
        edp, dp, pf = pgn >> 17, (pgn >> 16) & 1, (pgn >> 8) & 0xFF
        ps = destination if pf < 240 else pgn & 0xFF
        id = native.j1939_compose(priority, pgn, source, destination)
        assert id == cantools.j1939.frame_id_pack(priority, edp, dp, pf, ps, source)

        theirs = cantools.j1939.frame_id_unpack(id)
        ours = native.j1939_decode(id, True)
        assert ours.pgn == cantools.j1939.pgn_from_frame_id(id)
        assert (ours.priority, ours.pdu_format, ours.source) == (theirs.priority, theirs.pdu_format,
                                                                  theirs.source_address)
        assert ours.destination == (theirs.pdu_specific if cantools.j1939.is_pdu_format_1(pf) else None)
        assert ours.broadcast == (not cantools.j1939.is_pdu_format_1(pf))


# ---- filters --------------------------------------------------------------------------------

def test_filter_by_mask_and_format():
    f = native.CanFilter(0x123, 0x7F0)
    assert (f.id, f.mask, f.extended) == (0x123, 0x7F0, False)
    assert f.matches(0x12F) and not f.matches(0x133)
    assert not f.matches(0x12F, True)
    # A mask wider than the format is cut to it: bits past the width match nothing.
    assert native.CanFilter(0x123, 0xFFFFFFFF).mask == 0x7FF
    assert native.CanFilter(0x123, 0xFFFFFFFF, extended=True).mask == 0x1FFFFFFF


def test_exact_filter():
    f = native.CanFilter.exact(0x123)
    assert (f.id, f.mask, f.extended) == (0x123, 0x7FF, False)
    assert f.matches(0x123) and not f.matches(0x122)
    assert not f.matches(0x123, True)
    assert not native.CanFilter.exact(0x7FF).matches(0xFFF)  # not 0x7FF with a bit to spare
    e = native.CanFilter.exact(0x123, extended=True)
    assert (e.id, e.mask, e.extended) == (0x123, 0x1FFFFFFF, True)
    assert e.matches(0x123, True) and not e.matches(0x123, False)


def test_parameter_group_filters():
    pdu1 = native.CanFilter.pgn(0xEF00)
    assert (pdu1.id, pdu1.mask, pdu1.extended) == (0xEF0000, 0x3FF0000, True)
    for id in (0x0CEF4221, 0x18EF0099):
        assert pdu1.matches(id, True) and not pdu1.matches(id, False)
    pdu2 = native.CanFilter.pgn(0xF004)
    assert (pdu2.id, pdu2.mask) == (0xF00400, 0x3FFFF00)
    assert pdu2.matches(0x18F00400, True) and not pdu2.matches(0x18F00500, True)
    # A group's filter passes exactly the identifiers cantools reads that group from.
    rng = random.Random(5)
    for _ in range(2000):
        pgn = rng.getrandbits(18)
        group = cantools.j1939.pgn_from_frame_id(native.j1939_compose(0, pgn, 0, 0))
        near = pgn ^ (1 << rng.randrange(18))  # one bit off: often the same PDU1 group
        for p in (pgn, near):
            id = native.j1939_compose(rng.randrange(8), p, rng.randrange(256), rng.randrange(256))
            assert native.CanFilter.pgn(pgn).matches(id, True) == (cantools.j1939.pgn_from_frame_id(id) == group)


# ---- signals --------------------------------------------------------------------------------

def test_signals():
    s = native.Signals()
    assert s.bytes == b"\xff" * 8
    assert s.set_u16(2, 0x1234) is None
    assert s.bytes == bytes.fromhex("ffff3412ffffffff")
    assert (s.u16(2), s.u8(2), s.u8(3)) == (0x1234, 0x34, 0x12)
    assert s.u16(6) == 0xFFFF
    for at in (7, 8, 2**64 - 1):
        assert s.u16(at) is None
    for at in (8, 2**64 - 1):
        assert s.u8(at) is None
    for at in (7, 8, 2**64 - 1):
        s.set_u16(at, 1)
    for at in (8, 2**64 - 1):
        s.set_u8(at, 1)
    assert s.bytes == bytes.fromhex("ffff3412ffffffff")
    s.set_u8(7, 0)
    assert s.bytes[7] == 0


def test_signals_from_bytes():
    data = bytes(range(8))
    for form in (data, bytearray(data), list(data)):
        s = native.Signals.from_bytes(form)
        assert s.bytes == data and s.u16(0) == 0x0100
    for wrong in (bytes(7), bytes(9), b""):
        with pytest.raises(native.TrovikError) as info:
            native.Signals.from_bytes(wrong)
        assert info.value.args == (NOT_EIGHT,)
    with pytest.raises(TypeError):
        native.Signals.from_bytes("12345678")
    # Written into a frame and read back off it.
    s = native.Signals()
    s.set_u16(0, 8000)
    frame = native.can_frame(native.j1939_broadcast(3, 0xF004, 0x00), True, s.bytes)
    assert native.Signals.from_bytes(frame.data).u16(0) == 8000


# ---- the bus --------------------------------------------------------------------------------

@pytest.fixture
def nodes():
    a = native.CanBus.simulated()
    return a, a.join(), a.join()


def drain(node):
    out = []
    while (frame := node.receive(0)) is not None:
        out.append(frame)
    return out


def test_a_lone_node_hears_nothing_of_its_own():
    a = native.CanBus.simulated()
    assert (a.kind, a.interface) == ("Simulated", None)
    assert a.send(native.can_frame(1, False, b"x")) is None
    assert a.receive(0) is None
    assert (a.sent, a.received, a.waited_micros) == (1, 0, 0)


def test_every_other_node_receives_each_frame_once_in_order(nodes):
    a, b, c = nodes
    sent = [native.can_fd_frame(0x1ABCDEF, True, bytes(range(12))), native.can_remote_frame(0x7FF, False, 4)]
    sent += [native.can_frame(n, n % 2 == 0, bytes([n])) for n in range(5)]
    for frame in sent:
        a.send(frame)
    for node in (b, c):
        got = drain(node)
        assert [frame_fields(f) for f in got] == [frame_fields(f) for f in sent]
        assert node.received == len(sent)
    assert drain(a) == []
    assert a.sent == len(sent)


def test_a_receive_with_nothing_waiting_counts_its_timeout(nodes):
    a, _, _ = nodes
    assert a.receive(1500) is None
    assert a.waited_micros == 1500
    assert a.receive(0) is None
    assert a.waited_micros == 1500
    a.receive(2**64 - 1)
    a.receive(2**64 - 1)
    assert a.waited_micros == (2**64 - 1) // 1000  # saturated, not wrapped
    with pytest.raises(OverflowError):
        a.receive(-1)


def test_filters_decide_for_frames_sent_afterwards(nodes):
    a, b, c = nodes
    a.send(native.can_frame(0x123, False, b"0"))  # queued for B before its filters
    assert b.set_filters([]) is None
    a.send(native.can_frame(0x123, False, b"1"))
    assert [f.data for f in drain(b)] == [b"0"]
    assert [f.data for f in drain(c)] == [b"0", b"1"]
    assert b.clear_filters() is None
    a.send(native.can_frame(0x123, False, b"2"))
    assert [f.data for f in drain(b)] == [b"2"]

    b.set_filters([native.CanFilter.exact(0x123)])
    a.send(native.can_frame(0x123, False, b"3"))
    a.send(native.can_frame(0x123, True, b"4"))  # same identifier, other format
    a.send(native.can_frame(0x124, False, b"5"))
    assert [f.data for f in drain(b)] == [b"3"]

    b.set_filters((native.CanFilter.exact(0x200), native.CanFilter.pgn(0xF004)))
    a.send(native.can_frame(0x200, False, b"6"))
    a.send(native.can_frame(native.j1939_broadcast(6, 0xF004, 0x17), True, b"7"))
    a.send(native.can_frame(native.j1939_broadcast(6, 0xF005, 0x17), True, b"8"))
    assert [f.data for f in drain(b)] == [b"6", b"7"]
    # A node that joins starts with no filters, whatever its sponsor's are.
    d = b.join()
    a.send(native.can_frame(0x555, False, b"9"))
    assert [f.data for f in drain(d)] == [b"9"]


class FiltersMadeOnDemand:
    """A sequence that makes each filter as it is asked for and keeps none."""

    def __init__(self, *ids):
        self.ids = ids

    def __len__(self):
        return len(self.ids)

    def __getitem__(self, i):
        return native.CanFilter.exact(self.ids[i])


def test_filters_a_sequence_makes_on_demand_are_each_kept(nodes):
    a, b, _ = nodes
    b.set_filters(FiltersMadeOnDemand(0x100, 0x101, 0x102))
    for ident in (0x100, 0x101, 0x102, 0x103):
        a.send(native.can_frame(ident, False, b""))
    assert [f.id for f in drain(b)] == [0x100, 0x101, 0x102]


@pytest.mark.parametrize("filters, error", [("abc", TypeError), ([native.CanFilter.exact(1), 1], TypeError),
                                             (5, TypeError)])
def test_set_filters_takes_a_sequence_of_filters(nodes, filters, error):
    a, b, _ = nodes
    with pytest.raises(error):
        b.set_filters(filters)
    a.send(native.can_frame(2, False, b""))
    assert len(drain(b)) == 1  # a refused list leaves the filters as they were


def test_send_takes_a_can_frame(nodes):
    a, _, _ = nodes
    with pytest.raises(TypeError):
        a.send(b"\x01\x02")
    with pytest.raises(TypeError):
        native.CanBus()


def test_a_node_that_leaves_loses_its_queue(nodes):
    a, b, c = nodes
    a.send(native.can_frame(1, False, b"old"))
    del b
    a.send(native.can_frame(1, False, b"passing"))
    late = a.join()
    assert drain(late) == []
    a.send(native.can_frame(1, False, b"new"))
    assert [f.data for f in drain(late)] == [b"new"]
    assert [f.data for f in drain(c)] == [b"old", b"passing", b"new"]


def test_three_nodes_on_two_threads_deliver_every_frame_once_and_in_order():
    count = 10_000
    a = native.CanBus.simulated()
    nodes = [a, a.join(), a.join()]
    expected = [[0] * 3 for _ in nodes]  # expected[receiver][sender]: the next number due
    faults = []

    def take(me):
        while (frame := nodes[me].receive(0)) is not None:
            sender, number = frame.id, int.from_bytes(frame.data, "little")
            if number != expected[me][sender]:
                faults.append((me, sender, number, expected[me][sender]))
            expected[me][sender] = number + 1

    def drive(mine):
        for n in range(count):
            for me in mine:
                nodes[me].send(native.can_frame(me, False, n.to_bytes(2, "little")))
            for me in mine:
                take(me)

    other = threading.Thread(target=drive, args=([2],))
    other.start()
    drive([0, 1])
    other.join()
    for me in range(3):
        take(me)

    assert faults == []
    for me, node in enumerate(nodes):
        assert expected[me] == [0 if sender == me else count for sender in range(3)]
        assert (node.sent, node.received) == (count, 2 * count)


def test_opening_an_interface_the_kernel_cannot_give():
    try:
        socket.socket(socket.PF_CAN, socket.SOCK_RAW, socket.CAN_RAW).close()
        no_can = None
    except OSError as e:
        no_can = e.strerror  # this kernel has no CAN at all
    for name in ("can0", "trovik-none9", "", "x" * 40):
        with pytest.raises(native.TrovikError) as info:
            native.CanBus.open(name)
        text = str(info.value)
        assert text.startswith(name + ": ") and len(text) > len(name) + 2
        assert info.value.args == (text,)
        if no_can is not None:
            assert text == f"{name}: {no_can}"


@pytest.mark.parametrize(
    "member, signature",
    [
        (native.can_frame, "(id, extended, data)"),
        (native.can_fd_frame, "(id, extended, data)"),
        (native.can_remote_frame, "(id, extended, len)"),
        (native.can_len_to_dlc, "(len)"),
        (native.can_dlc_to_len, "(dlc)"),
        (native.j1939_decode, "(id, extended)"),
        (native.j1939_compose, "(priority, pgn, source, destination)"),
        (native.j1939_broadcast, "(priority, pgn, source)"),
        (native.j1939_limits, "()"),
        (native.CanFilter, "(id, mask, extended=False)"),
        (native.CanFilter.exact, "(id, extended=False)"),
        (native.CanFilter.pgn, "(pgn)"),
        (native.CanFilter.matches, "($self, id, extended=False)"),
        (native.Signals, "()"),
        (native.Signals.from_bytes, "(bytes)"),
        (native.Signals.u8, "($self, at)"),
        (native.Signals.set_u16, "($self, at, value)"),
        (native.CanBus.open, "(interface)"),
        (native.CanBus.simulated, "()"),
        (native.CanBus.join, "($self)"),
        (native.CanBus.send, "($self, frame)"),
        (native.CanBus.receive, "($self, timeout_micros)"),
        (native.CanBus.set_filters, "($self, filters)"),
        (native.CanBus.clear_filters, "($self)"),
    ],
)
def test_signatures(member, signature):
    assert member.__text_signature__ == signature
