"""DS18B20 scratchpads, the kernel's w1_slave text and thermometer directories, beside
crcmod's CRC-8/MAXIM and the w1thermsensor package reading the same directory tree."""

import errno
import json
import os
import random
import subprocess
import sys

import crcmod.predefined
import pytest

import trovik._native as native
from trovik._native import Ds18b20Thermometer, TrovikError

os.environ.setdefault("W1THERMSENSOR_NO_KERNEL_MODULE", "1")  # it would modprobe on import
import w1thermsensor  # noqa: E402
from w1thermsensor import W1ThermSensor  # noqa: E402
from w1thermsensor.core import evaluate_resolution  # noqa: E402

maxim = crcmod.predefined.mkCrcFun("crc-8-maxim")
RNG = random.Random(30)

EXAMPLE = bytes.fromhex("91014b467fff0c1070")
EXAMPLE_TEXT = "91 01 4b 46 7f ff 0c 10 70 : crc=70 YES\n91 01 4b 46 7f ff 0c 10 70 t=25062\n"
UNDEFINED = "sensor register field holds an undefined code"
CHECKSUM = "sensor checksum mismatch"


def with_crc(first8):
    return bytes(first8) + bytes([maxim(bytes(first8))])


@pytest.mark.parametrize("data", [b"", b"123456789", EXAMPLE[:8], EXAMPLE]
                         + [RNG.randbytes(RNG.randrange(1, 30)) for _ in range(40)])
def test_crc_matches_crcmod(data):
    assert native.ds18b20_crc8(data) == maxim(data)


def test_crc_check_values():
    assert native.ds18b20_crc8(b"123456789") == 0xA1
    assert native.ds18b20_crc8(EXAMPLE[:8]) == 0x70
    assert native.ds18b20_crc8(EXAMPLE) == 0
    assert native.ds18b20_crc8(b"") == 0


@pytest.mark.parametrize("call, arg, want", [
    (native.ds18b20_celsius, 401, 25.0625), (native.ds18b20_celsius, -0x5E, -5.875),
    (native.ds18b20_micro_celsius, 401, 25_062_500), (native.ds18b20_micro_celsius, -1, -62_500),
    (native.ds18b20_micro_celsius, -32768, -2_048_000_000),
    (native.ds18b20_config_byte, 9, 0x1F), (native.ds18b20_config_byte, 12, 0x7F),
    (native.ds18b20_resolution_bits, 0x7F, 12), (native.ds18b20_resolution_bits, 0x1F, 9),
    (native.ds18b20_resolution_bits, 0xFF, 12), (native.ds18b20_resolution_bits, 0x00, 9),
    (native.ds18b20_step_micro_celsius, 9, 500_000), (native.ds18b20_step_micro_celsius, 12, 62_500),
    (native.ds18b20_max_conversion_micros, 9, 93_750), (native.ds18b20_max_conversion_micros, 12, 750_000),
])
def test_function_table(call, arg, want):
    assert call(arg) == want


@pytest.mark.parametrize("call", [native.ds18b20_config_byte, native.ds18b20_step_micro_celsius,
                                  native.ds18b20_max_conversion_micros,
                                  lambda bits: native.ds18b20_build_scratchpad(20.0, bits, 0, 0)])
@pytest.mark.parametrize("bits", [8, 13, 0])
def test_resolutions_outside_9_to_12_are_refused(call, bits):
    with pytest.raises(ValueError) as raised:
        call(bits)
    assert raised.value.args == ("DS18B20 resolution must be 9, 10, 11, or 12 bits",)


@pytest.mark.parametrize("celsius, bits, raw", [
    (25.0625, 12, 0x0191), (25.3, 9, 0x0190), (-0.0625, 12, -1), (-10.125, 12, -0xA2), (125.0, 12, 0x07D0),
    (float("nan"), 12, 0), (-0.0625, 9, -8), (-0.01, 12, -1), (0.0624, 12, 0)])
def test_build_scratchpad_rounds_down_and_clears_undefined_bits(celsius, bits, raw):
    data = native.ds18b20_build_scratchpad(celsius, bits, 75, -10)
    assert maxim(data) == 0
    reading = native.ds18b20_parse_scratchpad(data)
    assert (reading.raw_temperature, reading.resolution_bits, reading.alarm_high, reading.alarm_low) == \
        (raw, bits, 75, -10)
    assert reading.micro_celsius == raw * 62_500


INF = float("inf")


@pytest.mark.parametrize("celsius, bits, raw", [
    # Past either end the register holds its end, never a wrapped value.
    (2048.0, 12, 0x7FFF), (1e9, 12, 0x7FFF), (INF, 12, 0x7FFF),
    (-2048.0625, 12, -0x8000), (-1e9, 12, -0x8000), (-INF, 12, -0x8000),
    # The ends themselves.
    (2047.9375, 12, 0x7FFF), (-2048.0, 12, -0x8000),
    # Below 12 bits the top is the highest register whose undefined bits are clear.
    (INF, 9, 0x7FF8), (2048.0, 10, 0x7FFC), (1e9, 11, 0x7FFE), (2047.9375, 9, 0x7FF8), (-INF, 9, -0x8000),
    (float("nan"), 12, 0), (float("nan"), 9, 0), (85.0, 12, 0x0550),
])
def test_build_scratchpad_saturates_at_the_ends_of_the_register(celsius, bits, raw):
    data = native.ds18b20_build_scratchpad(celsius, bits, 0, 0)
    assert maxim(data) == 0
    reading = native.ds18b20_parse_scratchpad(data)
    assert (reading.raw_temperature, reading.resolution_bits) == (raw, bits)


def test_the_example_scratchpad_and_its_text():
    assert native.ds18b20_build_scratchpad(25.0625, 12, 75, 70) == EXAMPLE
    assert native.ds18b20_w1_slave_text(EXAMPLE) == EXAMPLE_TEXT
    for reading in (native.ds18b20_parse_scratchpad(EXAMPLE), native.ds18b20_parse_w1_slave(EXAMPLE_TEXT)):
        assert (reading.raw_temperature, reading.celsius, reading.resolution_bits) == (401, 25.0625, 12)
    # Rewritten reserved bytes and a recomputed CRC, as the kernel shows them.
    odd = with_crc(bytes.fromhex("72014b467fff0e10"))
    text = native.ds18b20_w1_slave_text(odd)
    assert text.split()[6] == "0c" and text.startswith(native.ds18b20_w1_slave_text(with_crc(
        bytes.fromhex("72014b467fff0c10")))[:30])
    assert native.ds18b20_w1_slave_text(native.ds18b20_build_scratchpad(-0.0625, 12, 0, 0)).endswith("t=-62\n")


@pytest.mark.parametrize("data, error, message", [
    (EXAMPLE[:8], ValueError, "scratchpad must be exactly 9 bytes"),
    (EXAMPLE + b"\x00", ValueError, "scratchpad must be exactly 9 bytes"),
    (EXAMPLE[:8] + b"\x71", TrovikError, CHECKSUM),
    # What a shorted or unpowered line gives: all zeros, whose CRC holds.
    (bytes(9), TrovikError, UNDEFINED),
    (with_crc(bytes.fromhex("91014b46ffff0c10")), TrovikError, UNDEFINED),  # bit 7 set
    (with_crc(bytes.fromhex("91014b467eff0c10")), TrovikError, UNDEFINED),  # bit 0 clear
    (with_crc(bytes.fromhex("91014b4660ff0c10")), TrovikError, UNDEFINED),  # bits 4..0 clear
])
@pytest.mark.parametrize("call", [native.ds18b20_parse_scratchpad, native.ds18b20_w1_slave_text])
def test_scratchpads_that_no_part_sends_are_refused(call, data, error, message):
    with pytest.raises(error) as raised:
        call(data)
    assert raised.value.args == (message,)


@pytest.mark.parametrize("config", [0x1F, 0x3F, 0x5F, 0x7F])
def test_the_four_configuration_bytes_a_part_sends_are_accepted(config):
    data = with_crc(bytes([0x91, 0x01, 0x4B, 0x46, config, 0xFF, 0x0C, 0x10]))
    assert native.ds18b20_parse_scratchpad(data).resolution_bits == native.ds18b20_resolution_bits(config)


@pytest.mark.parametrize("text, message", [
    ("", UNDEFINED),
    ("91 01 4b 46 7f ff 0c 10 70 crc=70 YES\n", UNDEFINED),
    ("91 01 4b 46 7f ff 0c 10 70 : crc=70 NO\n", CHECKSUM),
    ("zz : crc=70 NO\n", CHECKSUM),  # the verdict comes before the bytes
    ("91 01 4b 46 7f ff 0c 10 70 : crc=70 YE\n", UNDEFINED),
    ("91 01 4b 46 7f ff 0c 10 71 : crc=71 YES\n", CHECKSUM),
    ("91 01 4b 46 7f ff 0c 10 : crc=70 YES\n", UNDEFINED),
    ("91 01 4b 46 7f ff 0c 10 70 00 : crc=70 YES\n", UNDEFINED),
    ("91 01 4b 46 7f ff 0c 10 100 : crc=70 YES\n", UNDEFINED),
    ("91 01 4b 46 7f ff 0c 10 -1 : crc=70 YES\n", UNDEFINED),
    ("00 00 00 00 00 00 00 00 00 : crc=00 YES\n00 00 00 00 00 00 00 00 00 t=0\n", UNDEFINED),
])
def test_malformed_and_refused_texts(text, message):
    with pytest.raises(TrovikError) as raised:
        native.ds18b20_parse_w1_slave(text)
    assert raised.value.args == (message,)


@pytest.mark.parametrize("text", [
    EXAMPLE_TEXT.replace("\n", "\r\n"),
    "91 01 4b 46 7f ff 0c 10 70 : crc=70 YES",
    "  91\t+01 4B 046 7f FF 0c 10 0070  : crc=ab  YES \nnot read\n",
])
def test_texts_that_read_as_the_example(text):
    assert native.ds18b20_parse_w1_slave(text).raw_temperature == 401


# ---- thermometer files ---------------------------------------------------------------------------------

@pytest.fixture
def devices(tmp_path):
    """A directory laid out as /sys/bus/w1/devices, with two probes, another family and the master."""
    readings = {"28-0316a279c1ff": native.ds18b20_build_scratchpad(25.0625, 12, 75, 70),
                "28-00000a1b2c3d": native.ds18b20_build_scratchpad(-10.125, 11, 30, -20)}
    for name, data in readings.items():
        (tmp_path / name).mkdir()
        (tmp_path / name / "w1_slave").write_text(native.ds18b20_w1_slave_text(data))
    (tmp_path / "10-000803b1c0a2").mkdir()
    (tmp_path / "w1_bus_master1").mkdir()
    return tmp_path


def test_discovery_and_reading_agree_with_w1thermsensor(devices, monkeypatch):
    found = Ds18b20Thermometer.discover(str(devices))
    assert [t.serial for t in found] == ["00000a1b2c3d", "0316a279c1ff"]
    assert [t.path for t in found] == [str(devices / ("28-" + t.serial) / "w1_slave") for t in found]
    monkeypatch.setattr(W1ThermSensor, "BASE_DIRECTORY", devices)
    peers = {p.id: p for p in W1ThermSensor.get_available_sensors([w1thermsensor.Sensor.DS18B20])}
    assert sorted(peers) == [t.serial for t in found]
    for thermometer in found:
        ours = thermometer.read()
        peer = peers[thermometer.serial]
        assert peer.get_temperature() == pytest.approx(ours.micro_celsius / 1e6, abs=1e-3)
        assert evaluate_resolution(peer.get_raw_sensor_strings()[1]) == ours.resolution_bits


def test_thermometer_files_that_fail(devices):
    missing = Ds18b20Thermometer.at(str(devices / "28-ffffffffffff" / "w1_slave"))
    with pytest.raises(TrovikError) as raised:
        missing.read()
    assert raised.value.args == ("reading the w1_slave file: No such file or directory",)
    assert missing.serial == "ffffffffffff"

    shorted = devices / "28-0316a279c1ff" / "w1_slave"
    shorted.write_text("00 00 00 00 00 00 00 00 00 : crc=00 YES\n00 00 00 00 00 00 00 00 00 t=0\n")
    with pytest.raises(TrovikError) as raised:
        Ds18b20Thermometer.at(str(shorted)).read()
    assert raised.value.args == (UNDEFINED,)

    with pytest.raises(TrovikError) as raised:
        Ds18b20Thermometer.discover(str(devices / "nowhere"))
    assert raised.value.args == (f"{devices / 'nowhere'}: No such file or directory",)
    assert Ds18b20Thermometer.discover(str(devices / "10-000803b1c0a2")) == []


# Reads one thermometer file in a child process, so that a read blocked on a FIFO
# or filling memory from a device fails the test by its timeout or memory limit
# instead of hanging or starving the run.
READ_CHILD = r"""
import json, os, resource, sys
from trovik._native import Ds18b20Thermometer, TrovikError

if "asan" not in os.environ.get("LD_PRELOAD", ""):  # AddressSanitizer maps far more than it uses
    resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
try:
    print(json.dumps(["gave", Ds18b20Thermometer.at(sys.argv[1]).read().raw_temperature]), flush=True)
except TrovikError as e:
    print(json.dumps(["raised", str(e)]), flush=True)
os._exit(0)
"""


def read_in_a_child(path):
    child = subprocess.run([sys.executable, "-c", READ_CHILD, str(path)], capture_output=True, text=True,
                           timeout=60)
    assert child.returncode == 0, child.stderr
    return json.loads(child.stdout)


def kernel_text_and_more(path):
    """A good kernel text, followed by a few MiB its first line never needs."""
    path.write_text(EXAMPLE_TEXT + "0" * (4 << 20))


@pytest.mark.parametrize("make, reason", [
    (os.mkfifo, errno.EINVAL),
    (lambda path: os.symlink("/dev/zero", path), errno.EINVAL),
    (os.mkdir, errno.EISDIR),
    (kernel_text_and_more, errno.EFBIG),
], ids=["fifo-without-writer", "symlink-to-dev-zero", "directory", "few-mib-file"])
def test_a_w1_slave_that_is_no_small_regular_file_is_refused_without_blocking(tmp_path, make, reason):
    path = tmp_path / "28-0316a279c1ff" / "w1_slave"
    path.parent.mkdir()
    make(path)
    assert read_in_a_child(path) == ["raised", f"reading the w1_slave file: {path}: {os.strerror(reason)}"]


def test_symlinked_entries_read_as_their_targets_with_w1thermsensor(tmp_path, monkeypatch):
    """The kernel lists each part as a symlink to its directory under the bus master; a
    w1_slave that is itself a symlink to a regular file reads as that file."""
    master, devices = tmp_path / "w1_bus_master1", tmp_path / "devices"
    devices.mkdir()
    readings = {"28-0316a279c1ff": native.ds18b20_build_scratchpad(25.0625, 12, 75, 70),
                "28-00000a1b2c3d": native.ds18b20_build_scratchpad(-10.125, 11, 30, -20)}
    for name, data in readings.items():
        (master / name).mkdir(parents=True)
        (devices / name).symlink_to(master / name)
    (master / "28-0316a279c1ff" / "w1_slave").write_text(native.ds18b20_w1_slave_text(readings["28-0316a279c1ff"]))
    (master / "saved").write_text(native.ds18b20_w1_slave_text(readings["28-00000a1b2c3d"]))
    (master / "28-00000a1b2c3d" / "w1_slave").symlink_to(master / "saved")

    found = Ds18b20Thermometer.discover(str(devices))
    monkeypatch.setattr(W1ThermSensor, "BASE_DIRECTORY", devices)
    peers = {p.id: p for p in W1ThermSensor.get_available_sensors([w1thermsensor.Sensor.DS18B20])}
    assert sorted(peers) == [t.serial for t in found] == ["00000a1b2c3d", "0316a279c1ff"]
    for thermometer in found:
        ours = thermometer.read()
        written = native.ds18b20_parse_scratchpad(readings["28-" + thermometer.serial])
        assert ours.raw_temperature == written.raw_temperature
        assert peers[thermometer.serial].get_temperature() == pytest.approx(ours.micro_celsius / 1e6, abs=1e-3)
        assert read_in_a_child(thermometer.path) == ["gave", ours.raw_temperature]


@pytest.mark.parametrize("path, serial", [
    ("/sys/bus/w1/devices/28-0316a279c1ff/w1_slave", "0316a279c1ff"),
    ("/x/10-000803b1c0a2/w1_slave", None), ("/x/28-/w1_slave", None), ("/x/+28-ab/w1_slave", "ab"),
    ("/x/028-ab/w1_slave", "ab"), ("/x/0x28-ab/w1_slave", None), ("w1_slave", None), ("/x/28-a-b/w1_slave", "a-b"),
])
def test_serial_from_the_directory_name(path, serial):
    assert Ds18b20Thermometer.at(path).serial == serial


def test_for_serial_names_the_kernel_path():
    assert Ds18b20Thermometer.for_serial("0316a279c1ff").path == "/sys/bus/w1/devices/28-0316a279c1ff/w1_slave"
