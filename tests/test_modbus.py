"""Modbus RTU: frames and CRCs, device servers and the simulated line, and the client.

Frames are checked against pymodbus's RTU framer; our client talks to a pymodbus serial
server, and a pymodbus client to our device server, each over pseudo-terminals.
"""
import asyncio
import os
import random
import select
import threading
import tty

import pytest
from pymodbus.framer import FramerRTU
from pymodbus.pdu import DecodePDU
from pymodbus.pdu import bit_message as bm
from pymodbus.pdu import register_message as rm

import trovik._native as native
from trovik._native import (ModbusClient, ModbusClientError, ModbusLine, ModbusServer, SerialPort,
                            SerialStep, TrovikError)

VALUE_COUNT = "the number of values is outside what one modbus frame carries"
MALFORMED = "modbus response PDU is malformed"


def with_crc(body):
    body = bytes(body)
    return body + native.modbus_crc16(body).to_bytes(2, "little")


def hx(text):
    return bytes.fromhex(text)


# ---- frames and CRCs -------------------------------------------------------------------

def test_crc_agrees_with_pymodbus():
    assert native.modbus_crc16(b"") == 0xFFFF
    assert native.modbus_crc16(b"123456789") == 0x4B37
    rng = random.Random(33)
    for _ in range(500):
        data = rng.randbytes(rng.randrange(0, 300))
        # pymodbus gives the CRC with its two bytes swapped, as they travel.
        assert FramerRTU.compute_CRC(data).to_bytes(2, "big") == native.modbus_crc16(data).to_bytes(2, "little")
    assert native.modbus_crc16([1, 2, 3]) == native.modbus_crc16(b"\x01\x02\x03")
    with pytest.raises(TypeError):
        native.modbus_crc16("123")


def random_requests(rng, n):
    """Pairs of (our frame, pymodbus's request) for the eight functions, random fields."""
    for _ in range(n):
        unit = rng.randrange(0, 256)
        start = rng.randrange(0, 65536)
        bits = [rng.random() < 0.5 for _ in range(rng.randrange(1, 1969))]
        regs = [rng.randrange(0, 65536) for _ in range(rng.randrange(1, 124))]
        count = rng.randrange(1, 2001)
        yield native.modbus_read_coils(unit, start, count), bm.ReadCoilsRequest(address=start, count=count, dev_id=unit)
        yield (native.modbus_read_discrete_inputs(unit, start, count),
               bm.ReadDiscreteInputsRequest(address=start, count=count, dev_id=unit))
        yield (native.modbus_read_holding_registers(unit, start, count % 125 + 1),
               rm.ReadHoldingRegistersRequest(address=start, count=count % 125 + 1, dev_id=unit))
        yield (native.modbus_read_input_registers(unit, start, count % 125 + 1),
               rm.ReadInputRegistersRequest(address=start, count=count % 125 + 1, dev_id=unit))
        yield (native.modbus_write_single_coil(unit, start, bits[0]),
               bm.WriteSingleCoilRequest(address=start, bits=[bits[0]], dev_id=unit))
        yield (native.modbus_write_single_register(unit, start, regs[0]),
               rm.WriteSingleRegisterRequest(address=start, registers=[regs[0]], dev_id=unit))
        yield native.modbus_write_multiple_coils(unit, start, bits), bm.WriteMultipleCoilsRequest(address=start, bits=bits, dev_id=unit)
        yield (native.modbus_write_multiple_registers(unit, start, regs),
               rm.WriteMultipleRegistersRequest(address=start, registers=regs, dev_id=unit))


def test_request_frames_equal_pymodbus_frames():
    framer = FramerRTU(DecodePDU(is_server=False))
    server_side = FramerRTU(DecodePDU(is_server=True))
    for ours, theirs in random_requests(random.Random(1), 60):
        assert ours == framer.buildFrame(theirs), type(theirs).__name__
        # pymodbus's server framer reads our frame back to the same request.
        used, decoded = server_side.handleFrame(ours, 0, 0)
        assert used == len(ours) and type(decoded) is type(theirs)
        assert decoded.address == theirs.address and decoded.dev_id == theirs.dev_id


def test_replies_agree_with_pymodbus_both_ways():
    rng = random.Random(2)
    framer = FramerRTU(DecodePDU(is_server=True))
    client_side = FramerRTU(DecodePDU(is_server=False))
    for _ in range(100):
        unit = rng.randrange(1, 248)
        regs = [rng.randrange(0, 65536) for _ in range(rng.randrange(1, 126))]
        for ours, cls in ((native.modbus_read_holding_registers_reply(unit, regs), rm.ReadHoldingRegistersResponse),
                          (native.modbus_read_input_registers_reply(unit, regs), rm.ReadInputRegistersResponse)):
            assert ours == framer.buildFrame(cls(registers=regs, dev_id=unit))
            assert native.modbus_parse_frame(ours).registers() == regs
            assert client_side.handleFrame(ours, 0, 0)[1].registers == regs
        bits = [rng.random() < 0.5 for _ in range(rng.randrange(1, 2001))]
        theirs = framer.buildFrame(bm.ReadCoilsResponse(bits=bits, dev_id=unit))
        frame = native.modbus_parse_frame(theirs)
        assert (frame.address, frame.function_code, frame.exception) == (unit, 1, None)
        assert frame.coils(len(bits)) == bits


@pytest.mark.parametrize("frame, expected", [
    (lambda: native.modbus_read_holding_registers(1, 0, 10), "01 03 00 00 00 0A C5 CD"),
    (lambda: native.modbus_write_single_coil(17, 172, True), "11 05 00 AC FF 00 4E 8B"),
    (lambda: native.modbus_write_single_coil(17, 172, False), with_crc(hx("11 05 00 AC 00 00")).hex()),
    (lambda: native.modbus_write_multiple_coils(
        1, 19, [True, False, True, True, False, False, True, True, True, False]), "01 0F 00 13 00 0A 02 CD 01 72 CB"),
    (lambda: native.modbus_write_multiple_registers(1, 1, [10, 258]), "01 10 00 01 00 02 04 00 0A 01 02 92 30"),
    (lambda: native.modbus_read_holding_registers_reply(1, [0x1234, 0xABCD]), "01 03 04 12 34 AB CD 00 20"),
    (lambda: native.modbus_read_coils(1, 0, 0), with_crc(hx("01 01 00 00 00 00")).hex()),
    (lambda: native.modbus_read_coils(1, 0, 5000), with_crc(hx("01 01 00 00 13 88")).hex()),
    (lambda: native.modbus_raw(7, 0x41, b""), with_crc(b"\x07\x41").hex()),
])
def test_builders_give_the_published_frames(frame, expected):
    assert frame() == hx(expected)


@pytest.mark.parametrize("build, length", [
    (lambda: native.modbus_write_multiple_coils(1, 0, [True] * 1968), 255),
    (lambda: native.modbus_write_multiple_registers(1, 0, [1] * 123), 255),
    (lambda: native.modbus_read_input_registers_reply(1, [1] * 125), 255),
    (lambda: native.modbus_raw(1, 0x41, bytes(252)), 256),
])
def test_the_largest_frames_fit(build, length):
    assert len(build()) == length


@pytest.mark.parametrize("build, message", [
    (lambda: native.modbus_write_multiple_coils(1, 0, [True] * 1969), VALUE_COUNT),
    (lambda: native.modbus_write_multiple_coils(1, 0, []), VALUE_COUNT),
    (lambda: native.modbus_write_multiple_registers(1, 0, [1] * 124), VALUE_COUNT),
    (lambda: native.modbus_read_holding_registers_reply(1, [1] * 126), VALUE_COUNT),
    (lambda: native.modbus_read_input_registers_reply(1, []), VALUE_COUNT),
    (lambda: native.modbus_raw(1, 0x41, bytes(253)), "modbus frame exceeds the 256-byte RTU maximum"),
    (lambda: native.modbus_parse_frame(bytes(3)), "modbus frame is shorter than a valid RTU ADU"),
    (lambda: native.modbus_parse_frame(bytes(257)), "modbus frame exceeds the 256-byte RTU maximum"),
    (lambda: native.modbus_parse_frame(hx("01 03 00 00 00 0A C5 CE")),
     "modbus CRC mismatch: expected 0xcdc5, found 0xcec5"),
    (lambda: native.modbus_parse_frame(with_crc(hx("01 01 02 CD 01"))).coils(17), MALFORMED),
    (lambda: native.modbus_parse_frame(with_crc(hx("01 03 03 00 01 02"))).registers(), MALFORMED),
    (lambda: native.modbus_parse_frame(with_crc(hx("01 03 04 00 01"))).registers(), MALFORMED),
])
def test_frame_failures(build, message):
    with pytest.raises(TrovikError) as info:
        build()
    assert type(info.value) is TrovikError and info.value.args == (message,)


@pytest.mark.parametrize("call", [
    lambda: native.modbus_read_coils(256, 0, 1),
    lambda: native.modbus_read_coils(1, 65536, 1),
    lambda: native.modbus_write_multiple_registers(1, 0, [65536]),
    lambda: native.modbus_write_single_register(1, 0, -1),
])
def test_values_outside_their_width_overflow(call):
    with pytest.raises(OverflowError):
        call()


def test_parsed_frames():
    e = native.modbus_parse_frame(hx("01 83 02 C0 F1"))
    assert (e.address, e.function_code, e.exception, e.pdu) == (1, 0x83, 2, b"\x83\x02")
    assert native.modbus_parse_frame(with_crc(hx("01 83 07"))).exception is None
    short = native.modbus_parse_frame(with_crc(hx("01 83")))
    assert short.exception is None and short.pdu == b"\x83"
    for unit in (0, 248, 255):
        assert native.modbus_parse_frame(with_crc([unit, 3])).address == unit
    bits = native.modbus_parse_frame(with_crc(hx("01 01 02 CD 01")))
    assert bits.coils(10) == [True, False, True, True, False, False, True, True, True, False]
    assert len(bits.coils(9)) == 9 and len(bits.coils(16)) == 16
    assert bits.registers() == [0xCD01]
    with pytest.raises(TypeError):
        native.ModbusFrame()


# ---- device servers and the line ---------------------------------------------------------

@pytest.fixture
def device():
    d = ModbusServer(1)
    d.set_coils(10, [True])
    d.set_coils(12, [False])
    d.set_holding_registers(0, [7, 8])
    d.set_input_registers(100, [1, 2, 3])
    d.set_discrete_inputs(0, [True, False, True])
    return d


@pytest.mark.parametrize("unit", [0, 248, 255])
def test_broadcast_and_reserved_units_are_no_device(unit):
    with pytest.raises(TrovikError, match=f"^unit {unit} is not a device address: 0 is broadcast, "
                                          "and 248 to 255 are reserved$"):
        ModbusServer(unit)


@pytest.mark.parametrize("request_, reply, counted", [
    ("01 01 00 0A 00 03", "01 81 02", False),          # coil 11 is missing
    ("01 03 FF FF 00 02", "01 83 02", False),          # past address 65535
    ("01 06 00 05 00 01", "01 86 02", False),          # no register 5: nothing added
    ("01 03", "01 83 03", False),
    ("01 07", "01 87 01", False),
    ("01 03 00 00 00 02", "01 03 04 00 07 00 08", True),
    ("01 04 00 64 00 03", "01 04 06 00 01 00 02 00 03", True),
    ("01 02 00 00 00 03", "01 02 01 05", True),
    ("01 05 00 0A FF 00", "01 05 00 0A FF 00", True),
    ("01 0F 00 0A 00 01 01 00", "01 0F 00 0A 00 01", True),
    ("01 10 00 00 00 02 04 00 01 00 02", "01 10 00 00 00 02", True),
])
def test_a_device_answers_requests(device, request_, reply, counted):
    assert device.answer(with_crc(hx(request_))) == with_crc(hx(reply))
    assert device.served == (1 if counted else 0)
    assert device.holding_register(5) is None


def test_writes_change_the_tables(device):
    device.answer(with_crc(hx("01 05 00 0A 00 00")))
    device.answer(with_crc(hx("01 10 00 00 00 02 04 12 34 56 78")))
    assert device.coil(10) is False and device.holding_register(0) == 0x1234 and device.holding_register(1) == 0x5678
    device.set_coils(65534, [True, False, True])
    assert (device.coil(65534), device.coil(65535), device.coil(0)) == (True, False, None)
    assert device.discrete_input(2) is True and device.input_register(102) == 3


@pytest.mark.parametrize("frame", [bytes(3), bytes(257), hx("01 03 00 00 00 02 00 00"),
                                   with_crc(hx("02 03 00 00 00 01")), with_crc(hx("00 03 00 00 00 01"))])
def test_a_device_stays_silent(device, frame):
    assert device.answer(frame) is None
    assert device.served == 0


def test_table_arguments_are_checked(device):
    with pytest.raises(TypeError):
        device.set_coils(0, "abc")
    with pytest.raises(OverflowError):
        device.set_holding_registers(0, [65536])
    with pytest.raises(OverflowError):
        device.coil(65536)


def test_a_line_carries_every_frame_to_every_device():
    twins = [ModbusServer(1), ModbusServer(1)]
    other = ModbusServer(2)
    line = ModbusLine()
    for d in (*twins, other, other):
        d.set_holding_registers(0, [5])
        line.attach(d)
    assert len(line) == 4
    port = line.port(9600, "None", 1)
    assert port.kind == "Simulated" and port.remaining is None
    port.write(with_crc(hx("01 03 00 00 00 01")))
    one = with_crc(hx("01 03 02 00 05"))
    assert port.read(100, 0) == one + one
    port.write(with_crc(hx("09 03 00 00 00 01")))
    assert port.read(100, 0) == b""
    # A broadcast write is carried out by each attachment (`other` twice); nobody answers.
    port.write(with_crc(hx("00 06 00 00 00 09")))
    assert port.read(100, 0) == b""
    assert [d.holding_register(0) for d in (*twins, other)] == [9, 9, 9]
    assert [d.served for d in (*twins, other)] == [2, 2, 2]
    # A broadcast read changes and counts nothing.
    port.write(with_crc(hx("00 03 00 00 00 01")))
    assert [d.served for d in (*twins, other)] == [2, 2, 2]
    # Devices attached after the port was made answer on it too.
    late = ModbusServer(3)
    late.set_coils(0, [True])
    line.attach(late)
    port.write(native.modbus_read_coils(3, 0, 1))
    assert port.read(100, 0) == with_crc(hx("03 01 01 01"))


@pytest.mark.parametrize("baud, parity, stop_bits, exc, message", [
    (0, "None", 1, ValueError, "the speed must be above zero"),
    (9600, "none", 1, ValueError, 'parity "none" is not None, Even, or Odd'),
    (2 ** 32, "None", 1, OverflowError, None),
])
def test_line_port_settings_are_checked(baud, parity, stop_bits, exc, message):
    with pytest.raises(exc) as info:
        ModbusLine().port(baud, parity, stop_bits)
    if message:
        assert str(info.value) == message
    with pytest.raises(exc):
        ModbusClient.frame_gap_nanos(baud, parity, stop_bits)


# ---- the client on a simulated line --------------------------------------------------------

@pytest.fixture
def line_client():
    line = ModbusLine()
    d = ModbusServer(1)
    d.set_holding_registers(0, [10, 20, 30])
    d.set_coils(0, [False] * 16)
    line.attach(d)
    port = line.port(9600, "None", 1)
    return ModbusClient(port), port, d, line


def test_client_reads_and_writes_on_the_line(line_client):
    client, port, d, _ = line_client
    assert client.read_holding_registers(1, 0, 3) == [10, 20, 30]
    assert port.waited_micros == 3645
    assert client.write_multiple_coils(1, 2, [True, True]) is None
    assert client.write_single_coil(1, 7, True) is None
    assert client.read_coils(1, 0, 8) == [False, False, True, True, False, False, False, True]
    assert client.write_single_register(1, 1, 0xBEEF) is None
    assert client.write_multiple_registers(1, 0, [1, 2]) is None
    assert [d.holding_register(a) for a in range(3)] == [1, 2, 30]


def test_a_silent_unit_costs_the_gap_and_the_timeout(line_client):
    client, port, _, _ = line_client
    with pytest.raises(ModbusClientError) as info:
        client.read_holding_registers(5, 0, 1)
    e = info.value
    assert str(e) == "unit 5 did not answer within the response timeout"
    assert (e.kind, e.unit, e.received, e.function_code, e.found, e.exception) == ("timeout", 5, 0, None, None, None)
    assert port.waited_micros == 3645 + 1_000_000
    client.set_response_timeout_micros(2500)
    with pytest.raises(ModbusClientError):
        client.read_holding_registers(5, 0, 1)
    assert port.waited_micros == (2 * 3_645_835 + 1_002_500_000) // 1000


def test_a_broadcast_write_waits_the_turnaround(line_client):
    client, port, d, line = line_client
    other = ModbusServer(2)
    other.set_holding_registers(0, [0, 0])
    line.attach(other)
    assert client.write_single_register(0, 1, 7) is None
    assert port.waited_micros == 3645 + 100_000 and port.received == 0
    assert d.holding_register(1) == 7 and other.holding_register(1) == 7


@pytest.mark.parametrize("call, kind, message", [
    (lambda c: c.read_holding_registers(0, 0, 1), "broadcast_read",
     "a read cannot be broadcast, since no device answers a broadcast"),
    (lambda c: c.read_holding_registers(0, 0, 0), "request", "the request cannot be sent: " + VALUE_COUNT),
    (lambda c: c.read_holding_registers(1, 0, 126), "request", "the request cannot be sent: " + VALUE_COUNT),
    (lambda c: c.read_coils(1, 0, 2001), "request", "the request cannot be sent: " + VALUE_COUNT),
    (lambda c: c.write_multiple_coils(1, 0, []), "request", "the request cannot be sent: " + VALUE_COUNT),
    (lambda c: c.write_multiple_registers(0, 0, [0] * 124), "request", "the request cannot be sent: " + VALUE_COUNT),
])
def test_refused_requests_touch_nothing(line_client, call, kind, message):
    client, port, _, _ = line_client
    with pytest.raises(ModbusClientError) as info:
        call(client)
    assert (info.value.kind, str(info.value), info.value.unit) == (kind, message, info.value.unit)
    assert port.written == 0 and port.waited_micros == 0


def test_a_refusal_names_its_exception(line_client):
    client, _, d, _ = line_client
    with pytest.raises(ModbusClientError) as info:
        client.read_holding_registers(1, 5, 1)
    e = info.value
    assert isinstance(e, TrovikError) and e.args == ("unit 1 refused function 0x03 with exception 0x02, "
                                                     "illegal data address",)
    assert (e.kind, e.unit, e.function_code, e.exception, e.found, e.received) == ("exception", 1, 3, 2, None, None)
    assert d.served == 0


def test_two_replies_the_second_is_discarded():
    line = ModbusLine()
    for _ in range(2):
        d = ModbusServer(1)
        d.set_holding_registers(0, [4])
        line.attach(d)
    client = ModbusClient(line.port(9600, "None", 1))
    assert client.read_holding_registers(1, 0, 1) == [4]
    assert client.read_holding_registers(1, 0, 1) == [4]


def scripted_client(request, reply):
    steps = [SerialStep.write(request), SerialStep.read(reply)]
    return ModbusClient(SerialPort.scripted(9600, "None", 1, steps))


READ_2 = native.modbus_read_holding_registers(1, 0, 2)


@pytest.mark.parametrize("request_, reply, call, attrs, message", [
    (READ_2, with_crc(hx("02 03 04 00 01 00 02")), lambda c: c.read_holding_registers(1, 0, 2),
     {"kind": "wrong_unit", "found": 2}, "unit 2 answered a request for unit 1"),
    (READ_2, with_crc(hx("01 04 04 00 01 00 02")), lambda c: c.read_holding_registers(1, 0, 2),
     {"kind": "wrong_function", "function_code": 3, "found": 4},
     "the reply names function 0x04, not the 0x03 asked for"),
    (READ_2, with_crc(hx("01 84 02")), lambda c: c.read_holding_registers(1, 0, 2),
     {"kind": "wrong_function", "function_code": 3, "found": 0x84},
     "the reply names function 0x84, not the 0x03 asked for"),
    (READ_2, with_crc(hx("01 83 07")), lambda c: c.read_holding_registers(1, 0, 2),
     {"kind": "frame"}, "the reply is not a valid frame: " + MALFORMED),
    (READ_2, hx("01 03 04 00 01 00 02 00 00"), lambda c: c.read_holding_registers(1, 0, 2),
     {"kind": "frame"}, None),
    (READ_2, with_crc(hx("01 03 06 00 01 00 02 00 03")), lambda c: c.read_holding_registers(1, 0, 2),
     {"kind": "mismatch"}, "unit 1 answered with values the request did not ask for"),
    (READ_2, with_crc(hx("01 03 03 00 01 00")), lambda c: c.read_holding_registers(1, 0, 2),
     {"kind": "frame"}, "the reply is not a valid frame: " + MALFORMED),
    (READ_2, hx("01 03 04 00"), lambda c: c.read_holding_registers(1, 0, 2),
     {"kind": "timeout", "received": 4}, "unit 1 sent 4 bytes of a reply and then went quiet"),
    (native.modbus_read_coils(1, 0, 10), with_crc(hx("01 01 03 CD 01 00")), lambda c: c.read_coils(1, 0, 10),
     {"kind": "mismatch"}, None),
    (native.modbus_write_single_coil(1, 1, True), with_crc(hx("01 05 00 01 00 00")),
     lambda c: c.write_single_coil(1, 1, True), {"kind": "mismatch"}, None),
    (native.modbus_write_multiple_registers(1, 0, [1]), with_crc(hx("01 10 00 00 00 02")),
     lambda c: c.write_multiple_registers(1, 0, [1]), {"kind": "mismatch"}, None),
    (hx("01 02 03"), b"", lambda c: c.read_coils(1, 0, 1), {"kind": "port"},
     "the serial port failed: the script expected 01 02 03 to be written, not 01 01 00 00 00 01 fd ca"),
])
def test_every_reply_is_checked(request_, reply, call, attrs, message):
    client = scripted_client(request_, reply)
    with pytest.raises(ModbusClientError) as info:
        call(client)
    e = info.value
    everything = {"unit": 1, "function_code": None, "found": None, "exception": None, "received": None, **attrs}
    assert {name: getattr(e, name) for name in everything} == everything
    if message:
        assert str(e) == message


def test_the_whole_reply_is_read_by_its_byte_count():
    # A device answering two registers with three: all eleven bytes are read,
    # then the values are refused.
    reply = with_crc(hx("01 03 06 00 01 00 02 00 03"))
    port = SerialPort.scripted(9600, "None", 1, [SerialStep.write(READ_2), SerialStep.read(reply + b"\xAA")])
    with pytest.raises(ModbusClientError, match="did not ask for"):
        ModbusClient(port).read_holding_registers(1, 0, 2)
    assert port.received == 11


@pytest.mark.parametrize("baud, parity, stop_bits, nanos", [
    (9600, "None", 1, 3_645_835), (9600, "Even", 1, 4_010_419), (9600, "Even", 2, 4_375_000),
    (19200, "None", 1, 1_822_919), (19201, "None", 1, 1_750_000), (115200, "Odd", 2, 1_750_000),
])
def test_frame_gap(baud, parity, stop_bits, nanos):
    assert ModbusClient.frame_gap_nanos(baud, parity, stop_bits) == nanos


def test_client_timings_are_settable(line_client):
    client = line_client[0]
    assert (client.response_timeout_micros, client.turnaround_micros) == (1_000_000, 100_000)
    client.set_response_timeout_micros(2500)
    client.set_turnaround_micros(0)
    assert (client.response_timeout_micros, client.turnaround_micros) == (2500, 0)
    client.set_response_timeout_micros(2 ** 64 - 1)
    assert client.response_timeout_micros == 2 ** 64 - 1
    with pytest.raises(TypeError):
        ModbusClient(ModbusServer(1))


def test_transactions_from_threads_stay_whole(line_client):
    client, _, d, _ = line_client
    failures = []

    def work(value):
        for _ in range(200):
            client.write_single_register(1, 2, value)
            if client.read_holding_registers(1, 0, 3)[2] not in (100, 200):
                failures.append(value)
            d.set_holding_registers(0, [value])

    threads = [threading.Thread(target=work, args=(v,)) for v in (100, 200)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures and d.served == 800


def test_module_error_type():
    assert ModbusClientError.__mro__[1] is TrovikError
    assert ModbusClientError.__module__ == "trovik" and ModbusClientError.__name__ == "ModbusClientError"
    assert ModbusClientError.__doc__.startswith("Raised when a Modbus transaction fails. `kind` names why:")


# ---- over pseudo-terminals, against pymodbus ---------------------------------------------------

def open_pty():
    master, slave = os.openpty()
    tty.setraw(master)
    return master, slave, os.ttyname(slave)


@pytest.fixture
def relay():
    """Two pseudo-terminals joined by a thread, as a null-modem cable: the test's end and the
    peer's end, each a terminal path."""
    a_master, a_slave, a_path = open_pty()
    b_master, b_slave, b_path = open_pty()
    stop = threading.Event()

    def run():
        while not stop.is_set():
            ready, _, _ = select.select([a_master, b_master], [], [], 0.02)
            for fd in ready:
                try:
                    data = os.read(fd, 4096)
                except OSError:
                    continue
                os.write(b_master if fd == a_master else a_master, data)

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    yield a_path, b_path
    stop.set()
    thread.join()
    for fd in (a_master, a_slave, b_master, b_slave):
        os.close(fd)


@pytest.fixture
def pymodbus_server(relay):
    from pymodbus.datastore import ModbusDeviceContext, ModbusSequentialDataBlock, ModbusServerContext
    from pymodbus.server import ServerAsyncStop, StartAsyncSerialServer

    ours, theirs = relay
    # A block at 1 serves request address 0.
    device = ModbusDeviceContext(co=ModbusSequentialDataBlock(1, [False] * 64),
                                 di=ModbusSequentialDataBlock(1, [True, False, False] * 20),
                                 hr=ModbusSequentialDataBlock(1, list(range(100, 164))),
                                 ir=ModbusSequentialDataBlock(1, list(range(1000, 1064))))
    context = ModbusServerContext(devices={7: device}, single=False)
    loop = asyncio.new_event_loop()
    started = threading.Event()

    def run():
        asyncio.set_event_loop(loop)
        loop.call_soon(started.set)
        loop.run_until_complete(StartAsyncSerialServer(context=context, port=theirs, baudrate=9600))

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    started.wait(5)
    port = SerialPort.open(ours, 9600, "None", 1)
    # The server opens its terminal after its loop starts: ask until it answers.
    probe = ModbusClient(port)
    probe.set_response_timeout_micros(200_000)
    for _ in range(25):
        try:
            probe.read_input_registers(7, 0, 1)
            break
        except ModbusClientError as e:
            assert e.kind == "timeout"
    yield port
    asyncio.run_coroutine_threadsafe(ServerAsyncStop(), loop).result(5)
    thread.join(5)


def test_our_client_talks_to_a_pymodbus_server(pymodbus_server):
    port = pymodbus_server
    assert port.kind == "Device"
    client = ModbusClient(port)
    assert client.read_holding_registers(7, 0, 4) == [100, 101, 102, 103]
    assert client.read_input_registers(7, 10, 3) == [1010, 1011, 1012]
    assert client.read_discrete_inputs(7, 0, 7) == [True, False, False, True, False, False, True]
    assert client.read_coils(7, 0, 10) == [False] * 10
    client.write_single_coil(7, 3, True)
    client.write_multiple_coils(7, 5, [True, False, True, True])
    assert client.read_coils(7, 0, 10) == [False, False, False, True, False, True, False, True, True, False]
    client.write_single_register(7, 1, 0xBEEF)
    client.write_multiple_registers(7, 2, [1, 2, 3])
    assert client.read_holding_registers(7, 0, 6) == [100, 0xBEEF, 1, 2, 3, 105]
    with pytest.raises(ModbusClientError) as info:
        client.read_holding_registers(7, 60, 10)  # past the end of the block
    assert (info.value.kind, info.value.function_code, info.value.exception) == ("exception", 3, 2)
    # The port is still good after a refusal.
    assert client.read_input_registers(7, 0, 1) == [1000]


@pytest.fixture
def our_server_on_a_terminal():
    """Our device answers whatever arrives on one end of a pseudo-terminal; a pymodbus client
    opens the other end's path."""
    master, slave, path = open_pty()
    device = ModbusServer(9)
    device.set_coils(0, [False] * 32)
    device.set_discrete_inputs(0, [True, False] * 16)
    device.set_holding_registers(0, list(range(50)))
    device.set_input_registers(0, [0xA000 + i for i in range(50)])
    stop = threading.Event()

    def run():
        pending = b""
        while not stop.is_set():
            ready, _, _ = select.select([master], [], [], 0.02)
            if not ready:
                continue
            try:
                pending += os.read(master, 4096)
            except OSError:
                continue
            try:
                native.modbus_parse_frame(pending)
            except TrovikError:
                if len(pending) > 256:
                    pending = b""
                continue  # the rest of the frame is still on its way
            reply, pending = device.answer(pending), b""
            if reply:
                os.write(master, reply)

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    yield path, device
    stop.set()
    thread.join()
    os.close(master)
    os.close(slave)


def test_a_pymodbus_client_talks_to_our_server(our_server_on_a_terminal):
    from pymodbus.client import ModbusSerialClient

    path, device = our_server_on_a_terminal
    client = ModbusSerialClient(path, baudrate=9600, timeout=1, retries=0)
    assert client.connect()
    try:
        assert client.read_coils(0, count=5, device_id=9).bits[:5] == [False] * 5
        assert client.read_discrete_inputs(0, count=4, device_id=9).bits[:4] == [True, False, True, False]
        assert client.read_holding_registers(10, count=3, device_id=9).registers == [10, 11, 12]
        assert client.read_input_registers(1, count=2, device_id=9).registers == [0xA001, 0xA002]
        assert not client.write_coil(2, True, device_id=9).isError()
        assert not client.write_coils(4, [True, True, False, True], device_id=9).isError()
        assert not client.write_register(0, 4242, device_id=9).isError()
        assert not client.write_registers(20, [7, 8, 9], device_id=9).isError()
        refused = client.read_holding_registers(49, count=2, device_id=9)
        assert refused.isError() and refused.exception_code == 2
    finally:
        client.close()
    assert [device.coil(a) for a in range(8)] == [False, False, True, False, True, True, False, True]
    assert device.holding_register(0) == 4242
    assert [device.holding_register(a) for a in (20, 21, 22)] == [7, 8, 9]
    assert device.served == 8
