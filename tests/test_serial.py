"""Serial ports (looped, paired, scripted, and a real terminal: a pseudo-terminal
the test plays the far end of), line timing, and COBS and SLIP framing checked
against the cobs and sliplib packages."""
import inspect
import os
import pty
import random
import select
import termios
import threading
import time

import pytest
import sliplib
from cobs import cobs
from cobs.cobs import _cobs_py as cobs_py

import trovik._native as native

U64_MAX = 2**64 - 1


# ---- line settings and timing ------------------------------------------------


@pytest.mark.parametrize(
    "baud, parity, stop_bits, bits, nanos, eight_bytes",
    [
        (9600, "None", 1, 10, 1041667, 8334),
        (19200, "Even", 1, 11, 572917, 4584),
        (115200, "None", 1, 10, 86806, 695),
        (9600, "Odd", 2, 12, 1250000, 10000),
        (9600, "None", 2, 11, 1145834, 9167),
    ],
)
def test_character_timing(baud, parity, stop_bits, bits, nanos, eight_bytes):
    assert native.serial_bits_per_character(baud, parity, stop_bits) == bits
    assert native.serial_character_nanos(baud, parity, stop_bits) == nanos
    assert native.serial_transfer_micros(baud, parity, stop_bits, 8) == eight_bytes
    assert native.serial_transfer_micros(baud, parity, stop_bits, 0) == 0
    # Rounded up, as integer arithmetic on the character time gives it.
    assert native.serial_transfer_micros(baud, parity, stop_bits, 1) == -(-nanos // 1000)


SETTINGS_MAKERS = [
    native.SerialPort.looped,
    native.SerialPort.pair,
    lambda *a: native.SerialPort.scripted(*a, []),
    native.serial_bits_per_character,
    native.serial_character_nanos,
    lambda *a: native.serial_transfer_micros(*a, 1),
    lambda *a: native.SerialPort.open("/dev/nonexistent-serial", *a),
]


@pytest.mark.parametrize("make", SETTINGS_MAKERS)
@pytest.mark.parametrize(
    "args, error, message",
    [
        ((0, "None", 1), ValueError, "the speed must be above zero"),
        ((0, "Mark", 3), ValueError, "the speed must be above zero"),
        ((9600, "Mark", 3), ValueError, 'parity "Mark" is not None, Even, or Odd'),
        ((9600, "none", 1), ValueError, 'parity "none" is not None, Even, or Odd'),
        ((9600, 'a"\\\n', 1), ValueError, 'parity "a\\"\\\\\\n" is not None, Even, or Odd'),
        ((9600, "Odd", 3), ValueError, "3 stop bits is not 1 or 2"),
        ((9600, "Odd", 0), ValueError, "0 stop bits is not 1 or 2"),
        # Conversion comes first, argument by argument.
        ((0, 5, 1), TypeError, None),
        ((2**32, "None", 1), OverflowError, None),
        ((-1, "None", 1), OverflowError, None),
        ((0, "None", 256), OverflowError, None),
    ],
)
def test_settings_are_refused_in_order(make, args, error, message):
    with pytest.raises(error) as info:
        make(*args)
    if message is not None:
        assert str(info.value) == message


def test_ports_and_steps_come_only_from_their_constructors():
    with pytest.raises(TypeError):
        native.SerialPort()
    with pytest.raises(TypeError):
        native.SerialStep()


@pytest.mark.parametrize(
    "member, parameters",
    [
        (native.SerialPort.open, ["path", "baud", "parity", "stop_bits"]),
        (native.SerialPort.scripted, ["baud", "parity", "stop_bits", "steps"]),
        (native.SerialPort.read, ["self", "size", "timeout_micros"]),
        (native.SerialPort.wait, ["self", "micros"]),
        (native.SerialStep.write, ["data"]),
        (native.serial_transfer_micros, ["baud", "parity", "stop_bits", "count"]),
        (native.cobs_max_encoded_len, ["payload_len"]),
        (native.SlipDecoder.feed, ["self", "chunk"]),
        (native.CobsDecoder, []),
    ],
)
def test_signatures_name_their_parameters(member, parameters):
    assert list(inspect.signature(member).parameters) == parameters


# ---- ports inside the program --------------------------------------------------


@pytest.fixture
def looped():
    return native.SerialPort.looped(9600, "Even", 1)


def test_a_looped_port_reads_back_what_it_wrote(looped):
    assert (looped.kind, looped.settings, looped.remaining) == ("Looped", (9600, "Even", 1), None)
    assert looped.write(b"\x01\x02") is None
    assert looped.read(10, 0) == b"\x01\x02"
    assert (looped.written, looped.received, looped.waited_micros) == (2, 2, 0)
    looped.write(bytearray(b"\x03\x04\x05"))
    looped.write([6, 7])
    assert looped.read(2, 0) == b"\x03\x04"
    assert looped.read(10, 0) == b"\x05\x06\x07"
    looped.write(b"abc")
    assert looped.discard_input() is None
    assert looped.read(10, 0) == b""


def test_time_is_counted_not_slept(looped):
    assert looped.read(4, 1500) == b""
    assert looped.waited_micros == 1500
    looped.wait(1)
    assert looped.waited_micros == 1501
    assert looped.read(0, 1000000) == b""
    assert looped.waited_micros == 1501
    looped.wait(U64_MAX)
    assert looped.waited_micros == 18446744073709551
    looped.wait(5)
    assert looped.waited_micros == 18446744073709551


def test_a_read_size_is_a_limit_not_an_allocation(looped):
    looped.write(b"xyz")
    assert looped.read(U64_MAX, 0) == b"xyz"
    assert looped.read(U64_MAX, 0) == b""
    with pytest.raises(OverflowError):
        looped.read(2**64, 0)


@pytest.mark.parametrize("bad", ["text", 3.5, [256], None])
def test_byte_arguments_refuse_what_is_not_bytes(looped, bad):
    with pytest.raises((TypeError, OverflowError)):
        looped.write(bad)
    with pytest.raises((TypeError, OverflowError)):
        native.SerialStep.read(bad)


def test_the_two_ends_of_a_pair():
    a, b = native.SerialPort.pair(19200, "None", 2)
    assert (a.kind, b.kind, b.settings) == ("Paired", "Paired", (19200, "None", 2))
    a.write(b"ping")
    assert a.read(10, 0) == b""
    assert b.read(2, 0) == b"pi"
    b.discard_input()
    assert b.read(10, 0) == b""
    b.write(b"!")
    assert a.read(10, 0) == b"!"
    assert (a.written, a.received, b.written, b.received) == (4, 1, 1, 2)
    # An end whose partner is gone still writes, and reads what it was sent.
    b.write(b"late")
    del b
    a.write(b"nobody reads this")
    assert a.read(10, 0) == b"late"


def test_a_scripted_port_walks_its_script():
    S = native.SerialStep
    steps = [S.read(b"\x10"), S.write(b"\x01"), S.read(b"\x02\x03"), S.write(b"\x04")]
    port = native.SerialPort.scripted(9600, "None", 1, steps)
    steps.clear()  # the script was copied
    assert (port.kind, port.remaining) == ("Scripted", 3)
    assert port.read(10, 0) == b"\x10"
    port.write(b"\x01")
    assert port.remaining == 1
    assert port.read(10, 0) == b"\x02\x03"
    with pytest.raises(native.TrovikError) as info:
        port.write(b"\x05")
    assert info.value.args == ("the script expected 04 to be written, not 05",)
    assert (port.remaining, port.written) == (1, 1)
    port.write(b"\x04")
    with pytest.raises(native.TrovikError, match="^the script expected no more writes, but 04 was written$"):
        port.write(b"\x04")
    assert (port.remaining, port.written) == (0, 2)


def test_a_scripted_write_matches_one_step_in_one_call():
    S = native.SerialStep
    port = native.SerialPort.scripted(9600, "None", 1, [S.write(b"\x01"), S.write(b"\x02")])
    with pytest.raises(native.TrovikError, match="^the script expected 01 to be written, not 01 02$"):
        port.write(b"\x01\x02")
    two_reads = native.SerialPort.scripted(9600, "None", 1, [S.read(b"\x01"), S.read(b"\x02"), S.write(b"\x03")])
    assert two_reads.read(10, 0) == b"\x01\x02"
    with pytest.raises(TypeError):
        native.SerialPort.scripted(9600, "None", 1, [b"\x01"])


def test_a_script_is_copied_from_any_sequence_of_steps():
    class MadeOnTheFly:
        """Each step exists only while the port copies it."""

        def __len__(self):
            return 3

        def __getitem__(self, i):
            if i >= 3:
                raise IndexError(i)
            return native.SerialStep.write(bytes([i]) * 100)

    port = native.SerialPort.scripted(9600, "None", 1, MadeOnTheFly())
    for i in range(3):
        port.write(bytes([i]) * 100)
    assert port.remaining == 0


def test_blocking_calls_let_other_threads_run():
    # Many threads writing and reading one port: every byte arrives once.
    a, b = native.SerialPort.pair(9600, "None", 1)
    chunks = [bytes([i]) * 50 for i in range(200)]
    got = bytearray()

    def reader():
        while len(got) < 50 * len(chunks):
            got.extend(b.read(97, 0))

    thread = threading.Thread(target=reader)
    thread.start()
    for chunk in chunks:
        a.write(chunk)
    thread.join(timeout=30)
    assert bytes(got) == b"".join(chunks)


# ---- a real terminal ------------------------------------------------------------


class Terminal:
    """A pseudo-terminal: the port opens its follower side by name, the test
    plays the far end on the leader and keeps a follower descriptor of its own
    to look at the line's settings and see when input has arrived."""

    def __init__(self):
        self.leader, self.follower = pty.openpty()
        self.name = os.ttyname(self.follower)

    def send(self, data):
        os.write(self.leader, data)

    def receive(self, n, timeout=5):
        got = bytearray()
        deadline = time.monotonic() + timeout
        while len(got) < n:
            ready, _, _ = select.select([self.leader], [], [], max(0, deadline - time.monotonic()))
            assert ready, f"only {len(got)} of {n} bytes arrived"
            got.extend(os.read(self.leader, 4096))
        return bytes(got)

    def wait_for_input(self):
        ready, _, _ = select.select([self.follower], [], [], 5)
        assert ready

    def close(self):
        os.close(self.leader)
        os.close(self.follower)


@pytest.fixture
def terminal():
    t = Terminal()
    yield t
    t.close()


def test_a_terminal_is_opened_raw_with_its_settings(terminal):
    port = native.SerialPort.open(terminal.name, 19200, "None", 2)
    assert (port.kind, port.settings) == ("Device", (19200, "None", 2))
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(terminal.follower)
    assert (ispeed, ospeed) == (termios.B19200, termios.B19200)
    assert cflag & (termios.CSIZE | termios.CSTOPB | termios.CREAD | termios.CLOCAL) == (
        termios.CS8 | termios.CSTOPB | termios.CREAD | termios.CLOCAL
    )
    assert lflag & (termios.ICANON | termios.ECHO | termios.ISIG) == 0
    assert oflag & termios.OPOST == 0
    assert iflag & (termios.ICRNL | termios.IXON) == 0


def test_a_terminal_left_cooked_with_flow_control_is_opened_raw(terminal):
    # As another program may leave the line: cooked, software and hardware flow
    # control, parity checks, every translation of bytes on.
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(terminal.follower)
    iflag |= (termios.IXON | termios.IXOFF | termios.IXANY | termios.INPCK | termios.IGNPAR | termios.PARMRK
              | termios.ISTRIP | termios.ICRNL | termios.INLCR | termios.IGNCR | termios.IUCLC | termios.IMAXBEL
              | termios.IGNBRK | termios.BRKINT)
    oflag |= termios.OPOST | termios.ONLCR | termios.OCRNL | termios.OLCUC
    cflag |= termios.CRTSCTS | termios.PARENB | termios.PARODD | getattr(termios, "CMSPAR", 0o10000000000)
    lflag |= termios.ICANON | termios.ECHO | termios.ECHOE | termios.ECHOK | termios.ECHONL | termios.ISIG | termios.IEXTEN
    termios.tcsetattr(terminal.follower, termios.TCSANOW, [iflag, oflag, cflag, lflag, ispeed, ospeed, cc])

    port = native.SerialPort.open(terminal.name, 9600, "None", 1)
    iflag, oflag, cflag, lflag, *_ = termios.tcgetattr(terminal.follower)
    assert (iflag, oflag, lflag) == (0, 0, 0)
    assert cflag & (termios.CSIZE | termios.CRTSCTS | termios.PARENB | termios.PARODD) == termios.CS8
    assert cflag & getattr(termios, "CMSPAR", 0o10000000000) == 0
    # XON, XOFF, CR and LF among them, unchanged both ways.
    every = bytes(range(256))
    port.write(every)
    assert terminal.receive(len(every)) == every
    terminal.send(every)
    got = bytearray()
    while len(got) < len(every):
        part = port.read(len(every), 2_000_000)
        assert part, "the port timed out with bytes on the way"
        got.extend(part)
    assert bytes(got) == every


def test_a_terminal_carries_every_byte_both_ways(terminal):
    port = native.SerialPort.open(terminal.name, 115200, "None", 1)
    every = bytes(range(256)) * 4
    port.write(every)
    assert terminal.receive(len(every)) == every
    terminal.send(every)
    got = bytearray()
    while len(got) < len(every):
        part = port.read(300, 2_000_000)
        assert part, "the port timed out with bytes on the way"
        got.extend(part)
    assert bytes(got) == every
    assert (port.written, port.received, port.waited_micros) == (1024, 1024, 0)


def test_a_terminal_read_waits_for_the_first_byte_without_holding_the_interpreter(terminal):
    port = native.SerialPort.open(terminal.name, 9600, "None", 1)
    result = []
    reader = threading.Thread(target=lambda: result.append(port.read(U64_MAX, 10_000_000)))
    reader.start()
    # This thread runs while the read waits, and answers it.
    time.sleep(0.05)
    terminal.send(b"\x42\x43")
    reader.join(timeout=10)
    assert result and result[0] in (b"\x42\x43", b"\x42")
    assert port.waited_micros == 0


def test_a_terminal_read_honours_its_timeout(terminal):
    port = native.SerialPort.open(terminal.name, 9600, "None", 1)
    start = time.monotonic()
    assert port.read(10, 100_000) == b""
    assert time.monotonic() - start >= 0.1
    assert port.waited_micros == 100_000
    assert port.read(0, 5_000_000) == b""
    assert port.waited_micros == 100_000
    start = time.monotonic()
    port.wait(30_000)
    assert time.monotonic() - start >= 0.03
    assert port.waited_micros == 130_000


def test_a_terminal_discards_its_input(terminal):
    port = native.SerialPort.open(terminal.name, 9600, "None", 1)
    terminal.send(b"stale")
    terminal.wait_for_input()
    port.discard_input()
    assert port.read(10, 20_000) == b""
    terminal.send(b"fresh")
    got = bytearray()
    while len(got) < 5:
        got.extend(port.read(10, 2_000_000))
    assert bytes(got) == b"fresh"


@pytest.mark.parametrize(
    "path, baud, message",
    [
        ("/nonexistent/ttyUSB0", 9600, "/nonexistent/ttyUSB0: No such file or directory"),
        ("/dev/null", 9600, "/dev/null: Inappropriate ioctl for device"),
        ("/dev/null", 12345, "/dev/null: 12345 baud is not a standard rate from 1200 to 921600"),
        ("/dev/null", 300, "/dev/null: 300 baud is not a standard rate from 1200 to 921600"),
    ],
)
def test_opening_a_device_fails_with_the_path_and_reason(path, baud, message):
    with pytest.raises(native.TrovikError) as info:
        native.SerialPort.open(path, baud, "None", 1)
    assert info.value.args == (message,)


# ---- COBS and SLIP, one shot -------------------------------------------------------


@pytest.mark.parametrize(
    "payload, frame",
    [
        (b"", b"\x01\x00"),
        (b"\x00", b"\x01\x01\x00"),
        (b"\x11\x22\x00\x33", b"\x03\x11\x22\x02\x33\x00"),
        (b"\x01" * 254, b"\xff" + b"\x01" * 254 + b"\x00"),
        (b"\x01" * 255, b"\xff" + b"\x01" * 254 + b"\x02\x01\x00"),
        (b"\x01" * 254 + b"\x00", b"\xff" + b"\x01" * 254 + b"\x01\x01\x00"),
    ],
)
def test_cobs_frames(payload, frame):
    assert native.cobs_encode(payload) == frame
    assert native.cobs_decode(frame) == payload
    assert native.cobs_decode(frame + b"\x07\x07") == payload
    assert cobs.encode(payload) + b"\x00" == frame


def test_cobs_decoding_edges():
    assert native.cobs_decode(b"\x00") == b""
    assert native.cobs_decode(b"") == b""
    assert native.cobs_decode([3, 0x11, 0x22]) == b"\x11\x22"
    for truncated in (b"\x03\x11", b"\x03\x11\x00\x22"):
        with pytest.raises(native.TrovikError) as info:
            native.cobs_decode(truncated)
        assert info.value.args == ("serial frame is truncated",)


def test_slip_frames():
    assert native.slip_encode(b"\xc0\xdb\x01") == b"\xdb\xdc\xdb\xdd\x01\xc0"
    assert native.slip_encode(b"") == b"\xc0"
    assert native.slip_decode(b"\xc0\xc0\x01\xc0\x02") == b"\x01"
    assert native.slip_decode(b"\x01\x02") == b"\x01\x02"
    assert native.slip_decode(b"\xc0\xc0") == b""


@pytest.mark.parametrize(
    "frame, message",
    [
        (b"\xdb\x01", "serial frame contains an invalid SLIP escape sequence"),
        (b"\x01\xdb", "serial frame is truncated"),
        (b"\x01\xdb\xc0", "serial frame is truncated"),
    ],
)
def test_slip_decoding_errors(frame, message):
    with pytest.raises(native.TrovikError) as info:
        native.slip_decode(frame)
    assert info.value.args == (message,)


@pytest.mark.parametrize("function", [native.cobs_encode, native.cobs_decode, native.slip_encode,
                                      native.slip_decode])
def test_framing_refuses_text(function):
    with pytest.raises(TypeError):
        function("\x01")


@pytest.mark.parametrize(
    "function, n, expected",
    [
        (native.cobs_max_encoded_len, 0, 2),
        (native.cobs_max_encoded_len, 254, 257),
        (native.cobs_max_encoded_len, 255, 258),
        (native.cobs_max_encoded_len, U64_MAX, U64_MAX + U64_MAX // 254 + 2),
        (native.slip_max_encoded_len, 0, 1),
        (native.slip_max_encoded_len, 1000, 2001),
        (native.slip_max_encoded_len, U64_MAX, 2 * U64_MAX + 1),
    ],
)
def test_max_encoded_lengths(function, n, expected):
    # Exact, even past 64 bits.
    assert function(n) == expected


def test_framing_bytes():
    assert native.serial_framing_bytes() == (0xC0, 0xDB, 0xDC, 0xDD, 0x00)


def random_payload(rng, max_len):
    """Plain random bytes, or bytes rich in what the codecs treat specially."""
    n = rng.randrange(max_len + 1)
    kind = rng.randrange(4)
    if kind == 0:
        return rng.randbytes(n)
    if kind == 1:
        return bytes(rng.choice((0, 0, 1, 0xFF)) for _ in range(n))
    if kind == 2:
        return bytes(rng.choice((0xC0, 0xDB, 0xDC, 0xDD, 0x41)) for _ in range(n))
    return bytes(rng.choice((0, 0x42)) if rng.random() < 0.01 else 0x42 for _ in range(n))


def test_random_payloads_agree_with_cobs_and_sliplib():
    rng = random.Random(27)
    for _ in range(1500):
        payload = random_payload(rng, 1500)
        frame = native.cobs_encode(payload)
        assert frame == cobs.encode(payload) + b"\x00" == cobs_py.encode(payload) + b"\x00"
        assert len(frame) <= native.cobs_max_encoded_len(len(payload))
        assert native.cobs_decode(frame) == payload
        assert cobs.decode(frame[:-1]) == payload
        slipped = native.slip_encode(payload)
        assert slipped == sliplib.encode(payload) + b"\xc0"
        assert len(slipped) <= native.slip_max_encoded_len(len(payload))
        assert native.slip_decode(slipped) == payload
        assert sliplib.decode(slipped[:-1]) == payload


# ---- streaming decoders ---------------------------------------------------------------


def chunks(rng, stream):
    at = 0
    while at < len(stream):
        n = rng.choice((1, 2, 7, 64, 333, 1000, 5000))
        yield stream[at : at + n]
        at += n


def test_random_streams_decode_in_random_chunks():
    rng = random.Random(1027)
    payloads = [random_payload(rng, 2048) for _ in range(400)]
    cobs_stream = b"".join(cobs.encode(p) + b"\x00" for p in payloads)
    driver = sliplib.Driver()
    slip_stream = b"".join(driver.send(p) for p in payloads)

    decoder = native.CobsDecoder()
    assert [f for chunk in chunks(rng, cobs_stream) for f in decoder.feed(chunk)] == payloads
    decoder = native.SlipDecoder()
    # SLIP has no empty frames.
    assert [f for chunk in chunks(rng, slip_stream) for f in decoder.feed(chunk)] == [p for p in payloads if p]

    # And the other way: sliplib's receiver reads our stream.
    ours = b"".join(native.slip_encode(p) for p in payloads)
    receiver = sliplib.Driver()
    for chunk in chunks(rng, ours):
        receiver.receive(chunk)
    received = []
    while (message := receiver.get(block=False)) is not None:
        received.append(message)
    assert received == [p for p in payloads if p]


def test_decoders_survive_corrupt_streams():
    """Corrupt frames between good ones cost only themselves."""
    rng = random.Random(7)
    for _ in range(200):
        good = [random_payload(rng, 300) or b"\x01" for _ in range(6)]
        cobs_stream, slip_stream = b"", b""
        for p in good:
            cobs_stream += native.cobs_encode(p)
            slip_stream += native.slip_encode(p)
            # A frame cut short, a bad escape, a frame too long for the buffer.
            cobs_stream += rng.choice((b"\x05\x01\x00", native.cobs_encode(bytes(3000))))
            slip_stream += rng.choice((b"\x01\xdb\x02\x03\xc0", native.slip_encode(b"\x07" * 3000), b"\xdb\xc0"))
        for decoder, stream in ((native.CobsDecoder(), cobs_stream), (native.SlipDecoder(), slip_stream)):
            frames = [f for chunk in chunks(rng, stream) for f in decoder.feed(chunk)]
            assert frames == good
            assert decoder.discarded == len(good)


@pytest.mark.parametrize(
    "make, stream, frames, discarded",
    [
        (native.CobsDecoder, b"\x02\x11\x00\x00", [b"\x11", b""], 0),
        (native.CobsDecoder, b"\x03\x11\x00", [], 1),
        (native.CobsDecoder, b"\x03\x11\x00\x02\x22\x00", [b"\x22"], 1),
        (native.SlipDecoder, b"\xc0\xc0\x01\x02\xc0\xc0", [b"\x01\x02"], 0),
        (native.SlipDecoder, b"\x01\xdb\xc0\x02\xc0", [b"\x02"], 1),
        # A frame too long for the 2048-byte buffer is dropped whole, up to its
        # delimiter: no empty frame, no tail of it as a frame of its own.
        (native.CobsDecoder, native.cobs_encode(b"\x09" * 2048), [b"\x09" * 2048], 0),
        (native.CobsDecoder, native.cobs_encode(b"\x09" * 2049) + b"\x02\x42\x00", [b"\x42"], 1),
        (native.CobsDecoder, native.cobs_encode(b"\x09" * 2300), [], 1),
        (native.SlipDecoder, b"\x09" * 2048 + b"\xc0", [b"\x09" * 2048], 0),
        (native.SlipDecoder, b"\x09" * 2049 + b"\xc0", [], 1),
        (native.SlipDecoder, b"\x09" * 2050 + b"\xc0\x42\xc0", [b"\x42"], 1),
        # So is a SLIP frame with a bad escape.
        (native.SlipDecoder, b"\x01\xdb\x05\x02\x03\xc0\x04\xc0", [b"\x04"], 1),
    ],
)
def test_decoder_cases(make, stream, frames, discarded):
    whole = make()
    assert whole.feed(stream) == frames
    assert whole.discarded == discarded
    # Byte by byte, each frame comes out of the call that feeds its last byte.
    bytewise = make()
    assert [f for i in range(len(stream)) for f in bytewise.feed(stream[i : i + 1])] == frames
    assert bytewise.discarded == discarded


def test_a_slip_frame_comes_out_on_its_end_byte():
    decoder = native.SlipDecoder()
    results = [decoder.feed(bytes([b])) for b in b"\xc0\xc0\x01\x02\xc0\xc0"]
    assert results == [[], [], [], [], [b"\x01\x02"], []]


@pytest.mark.parametrize("make, encode", [(native.CobsDecoder, native.cobs_encode),
                                          (native.SlipDecoder, native.slip_encode)])
def test_a_partial_frame_waits_for_the_rest_until_reset(make, encode):
    decoder = make()
    frame = encode(b"partial frame")
    assert decoder.feed(frame[:5]) == []
    assert decoder.feed(bytearray(frame[5:9])) == []
    assert decoder.feed(list(frame[9:])) == [b"partial frame"]
    decoder.feed(encode(b"\x07" * 3000))  # one error
    assert decoder.discarded == 1
    # Reset drops the start of a frame, so a whole one after it comes out alone.
    assert decoder.feed(frame[:5]) == []
    assert decoder.reset() is None
    assert decoder.feed(frame) == [b"partial frame"]
    assert decoder.discarded == 1
    with pytest.raises(TypeError):
        make(1)
    with pytest.raises(TypeError):
        decoder.feed("text")
