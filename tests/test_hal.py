"""The shared I2C bus: simulated parts, scripted buses, the Linux adapter and address frames."""
import re
import threading

import pytest

import trovik._native as native

I2cBus, I2cPart, WordPart, CommandPart, I2cStep = (
    native.I2cBus, native.I2cPart, native.WordPart, native.CommandPart, native.I2cStep)


def trovik_error(text):
    return pytest.raises(native.TrovikError, match="^" + re.escape(text) + "$")


# ---- the bus handle -------------------------------------------------------------------

def test_an_empty_simulated_bus_answers_nothing_and_counts_every_attempt():
    bus = I2cBus.simulated()
    assert (bus.kind, bus.transfers, bus.remaining, bus.waited_micros) == ("Simulated", 0, None, 0)
    with trovik_error("nothing answered at 0x48"):
        bus.read(0x48, 2)
    assert bus.transfers == 1
    for address, text in [(0x00, "0x00"), (0x07, "0x07"), (0xFF, "0xff")]:
        with trovik_error("nothing answered at " + text):
            bus.write(address, b"")
    assert bus.transfers == 4
    assert I2cBus.simulated(None).kind == I2cBus.simulated([]).kind == "Simulated"


def test_a_write_read_is_one_transfer_and_a_read_of_nothing_is_one_too():
    bus = I2cBus.simulated([I2cPart(0x48)])
    bus.write(0x48, [0x10, 0xAA, 0xBB])
    assert bus.write_read(0x48, bytearray([0x10]), 2) == b"\xaa\xbb"
    assert bus.read(0x48, 0) == b""
    assert bus.transfers == 3
    assert bus.part(0x48).transfers == 3


def test_parts_at_one_address_replace_each_other_and_copies_are_snapshots():
    a, b, c = I2cPart(0x48), I2cPart(0x48), I2cPart(0x48)
    a.load(0, b"\x01")
    b.load(0, b"\x02")
    c.load(0, b"\x03")
    bus = I2cBus.simulated([a, WordPart(0x40), b])
    assert bus.write_read(0x48, b"\x00", 1) == b"\x02"

    bus.attach(c)
    c.load(0, b"\x09")  # the bus holds its own copy
    snapshot = bus.part(0x48)
    assert type(snapshot) is I2cPart and snapshot.register(0) == 3 and snapshot.transfers == 0
    bus.write(0x48, b"\x00\x44")
    assert snapshot.register(0) == 3
    again = bus.part(0x48)
    assert again.register(0) == 0x44 and again.transfers == 1
    assert type(bus.part(0x40)) is WordPart
    assert bus.part(0x41) is None


def test_only_a_simulated_bus_takes_parts():
    bus = I2cBus.scripted([I2cStep.write(0x40, b"\x00")])
    with trovik_error("only a simulated bus takes parts"):
        bus.attach(I2cPart(0x40))
    assert bus.part(0x40) is None
    assert (bus.kind, bus.remaining, bus.transfers) == ("Scripted", 1, 0)


def test_a_command_part_without_a_reply_refuses_the_read_but_keeps_the_write():
    bus = I2cBus.simulated([CommandPart(0x44)])
    with trovik_error("a read came when no command had left a reply"):
        bus.write_read(0x44, b"\x24\x00", 6)
    assert bus.part(0x44).received == [b"\x24\x00"]


# ---- argument checks, before the bus is touched ----------------------------------------

@pytest.mark.parametrize("call, error", [
    (lambda bus: bus.read(0x48, 10**12), ValueError),
    (lambda bus: bus.read(0x48, 65536), ValueError),
    (lambda bus: bus.write_read(0x48, b"\x00", 2**64 - 1), ValueError),
    (lambda bus: bus.read(0x48, 2**64), OverflowError),
    (lambda bus: bus.read(0x48, -1), OverflowError),
    (lambda bus: bus.read(256, 1), OverflowError),
    (lambda bus: bus.read(-1, 1), OverflowError),
    (lambda bus: bus.read("0x48", 1), TypeError),
    (lambda bus: bus.read(0x48, 1.0), TypeError),
    (lambda bus: bus.write(0x48, "text"), TypeError),
    (lambda bus: bus.write(0x48, [256]), OverflowError),
    (lambda bus: bus.attach(3), TypeError),
])
def test_bad_arguments_are_refused_without_a_transfer(call, error):
    bus = I2cBus.simulated([I2cPart(0x48)])
    with pytest.raises(error):
        call(bus)
    assert bus.transfers == 0 and bus.part(0x48).transfers == 0


def test_a_length_too_long_for_one_message_is_refused_before_anything_is_allocated():
    bus = I2cBus.simulated([I2cPart(0x48)])
    with pytest.raises(ValueError, match="^a length of 1000000000000 is more than the 65535 bytes an I2C message "
                                         "carries$"):
        bus.read(0x48, 10**12)
    with pytest.raises(ValueError):
        I2cPart(0x48).read(0, 10**12)
    bus.write(0x48, b"\x00")
    assert bus.read(0x48, 65535) == bytes(65535)
    assert bus.transfers == 2


def test_classes_without_a_constructor_refuse_to_be_called():
    for cls in (I2cBus, I2cStep):
        with pytest.raises(TypeError):
            cls()


@pytest.mark.parametrize("parts", [[1], [I2cPart(1), "part"], [I2cStep.write(1, b"")], 5])
def test_simulated_refuses_what_is_not_a_part(parts):
    with pytest.raises(TypeError) as info:
        I2cBus.simulated(parts)
    if isinstance(parts, list):
        assert str(info.value).startswith("failed to extract enum AnyPart ('Bytes | Words | Commands')")


@pytest.mark.parametrize("steps", ["steps", [I2cPart(1)], [None], 3])
def test_scripted_refuses_what_is_not_a_list_of_steps(steps):
    with pytest.raises(TypeError):
        I2cBus.scripted(steps)


# ---- simulated parts ------------------------------------------------------------------

def ramp_part(address=0x48):
    part = I2cPart(address)
    part.load(0, bytes(range(256)))
    return part


@pytest.mark.parametrize("writes, read_len, read_back, pointer_after", [
    ([[0x10, 0xAA, 0xBB]], 1, [0x12], 0x13),
    ([[0x10]], 2, [0x10, 0x11], 0x12),
    ([[0xFE, 1, 2, 3]], 1, [0x01], 0x02),
    ([[0x30], []], 1, [0x30], 0x31),
])
def test_byte_part_pointer(writes, read_len, read_back, pointer_after):
    bus = I2cBus.simulated([ramp_part()])
    for w in writes:
        bus.write(0x48, bytes(w))
    assert list(bus.read(0x48, read_len)) == read_back
    # The pointer moved on by the bytes read.
    assert bus.read(0x48, 1) == bytes([pointer_after])


def test_byte_part_writes_wrap_and_a_new_part_refuses_reads():
    bus = I2cBus.simulated([I2cPart(0x48)])
    bus.write(0x48, [0xFE, 1, 2, 3])
    part = bus.part(0x48)
    assert [part.register(r) for r in (0xFE, 0xFF, 0x00)] == [1, 2, 3]
    fresh = I2cBus.simulated([I2cPart(0x20)])
    with trovik_error("a read came before anything said which register to read"):
        fresh.read(0x20, 0)
    assert fresh.part(0x20).transfers == 1


def test_byte_part_loading_and_direct_reads_wrap():
    part = I2cPart(0x48)
    part.load(0xFF, b"\x01\x02")
    assert (part.register(0xFF), part.register(0x00)) == (1, 2)
    part.load(0, b"\x0a\x0b")
    part.load(0xFE, b"\x0c\x0d")
    assert part.read(0xFE, 4) == b"\x0c\x0d\x0a\x0b"
    assert part.read(0, 0) == b""
    assert ramp_part().read(0xFF, 258) == bytes([255]) + bytes(range(256)) + bytes([0])
    assert part.transfers == 0 and part.address == 0x48


def test_word_part_keeps_its_read_only_bits():
    part = WordPart(0x40)
    part.set(1, 0x8000)
    part.read_only(1, 0x8000)
    bus = I2cBus.simulated([part])
    bus.write(0x40, b"\x01\x00\x12")
    assert bus.part(0x40).word(1) == 0x8012
    bus.write(0x40, b"\x01\x7f\xff")
    assert bus.part(0x40).word(1) == 0xFFFF
    assert bus.read(0x40, 2) == b"\xff\xff"
    assert part.word(1) == 0x8000  # the Python object was copied, not shared


def test_word_part_pointer_and_reads():
    part = WordPart(0x40)
    part.set(0xFF, 0x1234)
    part.set(0x00, 0xABCD)
    bus = I2cBus.simulated([part])
    bus.write(0x40, b"\x02\xab")
    assert bus.part(0x40).word(2) == 0
    bus.write(0x40, b"\xff")
    assert bus.read(0x40, 3) == b"\x12\x34\xab"
    assert bus.read(0x40, 3) == b"\x12\x34\xab"

    marked = WordPart(0x40)
    marked.set(3, 0xFFFF)
    marked.read_only(3, 0x0001)
    marked.read_only(3, 0x0100)
    bus = I2cBus.simulated([marked])
    bus.write(0x40, b"\x03\x00\x00")
    assert bus.part(0x40).word(3) == 0x0101


def test_command_part_answers_one_read_per_matching_write():
    part = CommandPart(0x44)
    part.answer(b"\x24\x00", b"\x01\x02\x03")
    bus = I2cBus.simulated([part])
    assert bus.write_read(0x44, b"\x24\x00", 6) == b"\x01\x02\x03\xff\xff\xff"
    with trovik_error("a read came when no command had left a reply"):
        bus.read(0x44, 6)
    assert bus.write_read(0x44, [0x24, 0x00, 0x99], 1) == b"\x01"
    bus.write(0x44, b"\x24\x00")
    bus.write(0x44, b"\x24")  # matches nothing and drops the waiting reply
    with trovik_error("a read came when no command had left a reply"):
        bus.read(0x44, 1)
    bus.write(0x44, b"")
    assert bus.part(0x44).received == [b"\x24\x00", b"\x24\x00\x99", b"\x24\x00", b"\x24", b""]
    assert part.received == [] and part.transfers == 0


def test_command_part_width_and_replaced_answers():
    narrow = CommandPart(0x44, width=0)
    narrow.answer(b"\xe0", b"\x07")
    narrow.answer(b"\xe0", b"\x08")
    bus = I2cBus.simulated([narrow])
    assert bus.write_read(0x44, b"\xe0\x55", 2) == b"\x08\xff"
    assert narrow.address == 0x44


# ---- scripted buses -------------------------------------------------------------------

READ_WORD = I2cStep.write_read(0x40, b"\x00", b"\x12\x34")


def test_a_register_read_step_plays_its_reply():
    bus = I2cBus.scripted([READ_WORD])
    assert bus.write_read(0x40, b"\x00", 2) == b"\x12\x34"
    assert (bus.remaining, bus.transfers) == (0, 1)
    split = I2cBus.scripted([I2cStep.write(0x40, b"\x00"), I2cStep.read(0x40, [0x12, 0x34])])
    assert split.write_read(0x40, b"\x00", 2) == b"\x12\x34"
    assert split.remaining == 0


@pytest.mark.parametrize("steps, call, message, remaining", [
    ([READ_WORD], lambda bus: bus.write(0x40, b"\x00"),
     "i2c script step 0: expected Some(WriteRead { address: 64, bytes: [0], reply: [18, 52] }), "
     "the driver issued [Write { address: 64, bytes: [0] }]", 1),
    ([I2cStep.read(0x40, b"\x12\x34")], lambda bus: bus.read(0x40, 3),
     "i2c script step 0: expected Some(Read { address: 64, reply: [18, 52] }), "
     "the driver issued [Read { address: 64, len: 3 }]", 1),
    ([I2cStep.fault(0x40, "NoAcknowledgeAddress")], lambda bus: bus.write(0x41, b"\x01"),
     "i2c script step 0: expected Some(Fault { address: 64, kind: NoAcknowledge(Address) }), "
     "the driver issued [Write { address: 65, bytes: [1] }]", 1),
    ([], lambda bus: bus.write(0x48, b"\x01"),
     "i2c script step 0: expected None, the driver issued [Write { address: 72, bytes: [1] }]", 0),
    ([I2cStep.write(0x40, b"\x01"), I2cStep.read(0x40, b"\x02")], lambda bus: bus.write_read(0x40, b"\x01", 2),
     "i2c script step 1: expected Some(Read { address: 64, reply: [2] }), "
     "the driver issued [Write { address: 64, bytes: [1] }, Read { address: 64, len: 2 }]", 1),
    ([READ_WORD], lambda bus: bus.write_read(0x40, b"", 0),
     "i2c script step 0: expected Some(WriteRead { address: 64, bytes: [0], reply: [18, 52] }), "
     "the driver issued [Write { address: 64, bytes: [] }, Read { address: 64, len: 0 }]", 1),
])
def test_a_transaction_that_is_not_the_next_step(steps, call, message, remaining):
    bus = I2cBus.scripted(steps)
    with trovik_error(message):
        call(bus)
    assert (bus.remaining, bus.transfers) == (remaining, 1)


def test_a_used_up_script_names_its_step_count_and_an_empty_transaction_always_passes():
    bus = I2cBus.scripted([I2cStep.write(0x48, b"\x01")] * 3)
    for _ in range(3):
        bus.write(0x48, b"\x01")
    with trovik_error("i2c script step 3: expected None, the driver issued [Write { address: 72, bytes: [1] }]"):
        bus.write(0x48, b"\x01")
    assert (bus.remaining, bus.transfers) == (0, 4)


@pytest.mark.parametrize("name, text", [
    ("NoAcknowledgeAddress", "The device did not acknowledge its address"),
    ("NoAcknowledgeData", "The device did not acknowledge the data"),
    ("NoAcknowledge", "The device did not acknowledge its address or the data"),
    ("Bus", "Bus error occurred"),
    ("ArbitrationLoss", "The arbitration was lost"),
    ("Overrun", "The peripheral receive buffer was overrun"),
    ("Other", "A different error occurred. The original error may contain more information"),
])
def test_a_fault_step_fails_the_next_transfer_and_is_taken(name, text):
    bus = I2cBus.scripted([I2cStep.fault(0x40, name), I2cStep.read(0x40, b"\x05")])
    with trovik_error("i2c script fault: " + text):
        bus.write_read(0x40, b"\x00", 1)
    assert bus.remaining == 1
    assert bus.read(0x40, 1) == b"\x05"


@pytest.mark.parametrize("name", ["noacknowledge", "Nack", "", "bus", "NoAcknowledge(Address)"])
def test_a_fault_outside_the_seven_is_refused(name):
    with pytest.raises(ValueError, match="^" + re.escape(name) + " is not an I2C fault$"):
        I2cStep.fault(0x40, name)


def test_step_arguments_are_checked():
    with pytest.raises(TypeError):
        I2cStep.write(0x40, "text")
    with pytest.raises(OverflowError):
        I2cStep.read(256, b"")
    with pytest.raises(TypeError):
        I2cStep.fault(0x40, b"Bus")


# ---- concurrency ----------------------------------------------------------------------

def test_four_threads_on_one_bus_keep_the_transfer_count_exact():
    bus = I2cBus.simulated([WordPart(0x40)])
    errors = []

    def work(register):
        try:
            for i in range(10_000):
                value = i.to_bytes(2, "big")
                # The write and the read back are one transaction: no other
                # thread's write comes between them.
                assert bus.write_read(0x40, bytes([register]) + value, 2) == value
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(r,)) for r in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert bus.transfers == 40_000
    assert bus.part(0x40).transfers == 40_000


# ---- the Linux adapter ----------------------------------------------------------------

def test_opening_what_is_not_an_adapter_names_the_path(tmp_path):
    regular = tmp_path / "i2c-1"
    regular.write_text("not an adapter")
    cases = [
        (str(regular), str(regular) + ": not an I2C adapter: Inappropriate ioctl for device"),
        (str(tmp_path / "i2c-7"), str(tmp_path / "i2c-7") + ": No such file or directory"),
        (str(tmp_path), str(tmp_path) + ": Is a directory"),
        (str(regular) + "\0x", str(regular) + "\0x: embedded null byte"),
    ]
    for path, message in cases:
        with pytest.raises(native.TrovikError) as info:
            I2cBus.open(path)
        assert str(info.value) == message
        assert info.value.args == (message,)


# ---- address frames -------------------------------------------------------------------

@pytest.mark.parametrize("address, ten_bit, read, frame", [
    (0x50, False, True, b"\xa1"),
    (0x50, False, False, b"\xa0"),
    (0x7F, False, True, b"\xff"),
    (0x3FF, True, False, b"\xf6\xff"),
    (0x17F, True, True, b"\xf3\x7f"),
    (0x000, True, False, b"\xf0\x00"),
])
def test_address_frames(address, ten_bit, read, frame):
    assert native.i2c_address_frame(address, ten_bit, read) == frame
    assert native.i2c_address_frame_len(address, ten_bit) == len(frame)


@pytest.mark.parametrize("call", [
    lambda: native.i2c_address_frame(0x80, False, False),
    lambda: native.i2c_address_frame_len(0x80, False),
    lambda: native.i2c_address_is_reserved(0x400, True),
    lambda: native.i2c_address_is_general_call(0x400, True),
])
def test_addresses_out_of_range(call):
    with trovik_error("I2C address is out of range"):
        call()


def test_reserved_and_general_call_addresses():
    reserved = [a for a in range(0x80) if native.i2c_address_is_reserved(a, False)]
    assert reserved == list(range(native.I2C_RESERVED_BELOW)) + list(range(native.I2C_RESERVED_FROM, 0x80))
    assert native.i2c_address_frame_len(0x80, True) == 2
    assert not any(native.i2c_address_is_reserved(a, True) for a in (0, 7, 0x78, 0x3FF))
    assert [native.i2c_address_is_general_call(0, t) for t in (False, True)] == [True, False]
    assert not native.i2c_address_is_general_call(1, False)
    with pytest.raises(OverflowError):
        native.i2c_address_frame(0x10000, True, False)
