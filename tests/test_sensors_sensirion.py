"""The Sensirion SHT3x: its CRC, frames, conversions, driver and simulated part, beside
crcmod's CRC-8 and the Adafruit SHT31-D driver run over our simulated part."""

import random

import crcmod.predefined
import pytest

import trovik._native as native
from trovik._native import I2cBus, I2cStep, TrovikError

from peers.circuitpython import PeerI2C  # installs the board stand-ins

import adafruit_sht31d  # noqa: E402

# CRC-8/NRSC-5 is the Sensirion check: polynomial 0x31, start 0xFF, no reflection.
sensirion_peer = crcmod.mkCrcFun(0x131, initCrc=0xFF, rev=False, xorOut=0)

RNG = random.Random(30)
SAMPLES = [b"", b"\xbe\xef", b"\x80\x10", b"123456789"] + [RNG.randbytes(RNG.randrange(1, 40)) for _ in range(60)]


# ---- CRC and frames ----------------------------------------------------------------------------------

@pytest.mark.parametrize("data", SAMPLES)
def test_crc_matches_crcmod_and_the_adafruit_driver(data):
    assert native.sht3x_crc(data) == sensirion_peer(data) == adafruit_sht31d._crc(data)


def test_crc_check_values():
    assert native.sht3x_crc(b"\xbe\xef") == 0x92
    assert native.sht3x_crc(b"") == 0xFF
    assert native.sht3x_crc(b"123456789") == 0xF7  # the catalogue check of CRC-8/NRSC-5


@pytest.mark.parametrize("value", [0, 1, 0xBEEF, 0x8010, 0xFFFF] + RNG.sample(range(0x10000), 20))
def test_word_frames_go_there_and_back(value):
    frame = native.sht3x_word_bytes(value)
    assert frame == value.to_bytes(2, "big") + bytes([sensirion_peer(value.to_bytes(2, "big"))])
    assert native.sht3x_word(frame) == value
    assert adafruit_sht31d._unpack(frame + frame) == [value, value]  # it decodes six bytes at a time


@pytest.mark.parametrize("call, data, message", [
    (native.sht3x_word, b"\xbe\xef", "word frame must be exactly 3 bytes"),
    (native.sht3x_word, b"\xbe\xef\x92\x00", "word frame must be exactly 3 bytes"),
    (native.sht3x_parse_measurement, b"\x00" * 5, "measurement frame must be exactly 6 bytes"),
    (native.sht3x_parse_measurement, b"\x00" * 7, "measurement frame must be exactly 6 bytes"),
    (native.sht3x_parse_status, b"\x80\x10", "status frame must be exactly 3 bytes"),
])
def test_lengths_are_checked_before_any_crc(call, data, message):
    with pytest.raises(ValueError) as raised:
        call(data)
    assert raised.value.args == (message,)


@pytest.mark.parametrize("call, data", [
    (native.sht3x_word, b"\xbe\xef\x93"),
    (native.sht3x_parse_measurement, native.sht3x_measurement_bytes(25278, 29491)[:5] + b"\x00"),
    (native.sht3x_parse_measurement, b"\x00\x00\x00" + native.sht3x_word_bytes(29491)),
    (native.sht3x_parse_status, b"\x80\x10\xe0"),
])
def test_a_wrong_crc_is_a_checksum_mismatch(call, data):
    with pytest.raises(TrovikError) as raised:
        call(data)
    assert raised.value.args == ("sensor checksum mismatch",)


def test_measurement_frame_decodes_both_words():
    frame = native.sht3x_measurement_bytes(25278, 29491)
    assert frame == native.sht3x_word_bytes(25278) + native.sht3x_word_bytes(29491)
    m = native.sht3x_parse_measurement(bytearray(frame))
    assert (m.temperature_raw, m.humidity_raw) == (25278, 29491)
    assert (m.milli_celsius, m.milli_percent, m.milli_fahrenheit) == (22_501, 45_000, 72_501)
    assert m.celsius == pytest.approx(-45 + 175 * 25278 / 65535, abs=1e-5)
    assert m.fahrenheit == pytest.approx(-49 + 315 * 25278 / 65535, abs=1e-5)
    assert m.relative_humidity == pytest.approx(100 * 29491 / 65535, abs=1e-5)
    assert m != native.sht3x_parse_measurement(frame)  # compared by identity


@pytest.mark.parametrize("bits, flags", [
    (0x8010, {"alert_pending", "reset_detected"}),
    (0x2000, {"heater_on"}),
    (0x0C03, {"humidity_tracking_alert", "temperature_tracking_alert", "command_failed", "write_checksum_failed"}),
    (0x53EC, set()),  # only bits the decoding ignores
])
def test_status_flags(bits, flags):
    names = ["alert_pending", "heater_on", "humidity_tracking_alert", "temperature_tracking_alert",
             "reset_detected", "command_failed", "write_checksum_failed"]
    for status in (native.sht3x_status_from_bits(bits), native.sht3x_parse_status(native.sht3x_status_bytes(bits))):
        assert status.bits == bits
        assert {name for name in names if getattr(status, name)} == flags
    assert native.sht3x_status_bytes(0x8010) == b"\x80\x10\xe1"


# ---- conversions -------------------------------------------------------------------------------------

@pytest.mark.parametrize("call, raw, want", [
    (native.sht3x_milli_celsius, 0, -45_000), (native.sht3x_milli_celsius, 65535, 130_000),
    (native.sht3x_milli_fahrenheit, 0, -49_000), (native.sht3x_milli_fahrenheit, 65535, 266_000),
    (native.sht3x_milli_percent, 0, 0), (native.sht3x_milli_percent, 65535, 100_000),
    (native.sht3x_temperature_raw_from_milli_celsius, -45_001, 0),
    (native.sht3x_temperature_raw_from_milli_celsius, 25_000, 26214),
    (native.sht3x_temperature_raw_from_milli_celsius, 2**31 - 1, 65535),
    (native.sht3x_temperature_raw_from_milli_fahrenheit, 77_000, 26214),
    (native.sht3x_temperature_raw_from_milli_fahrenheit, -2**31, 0),
    (native.sht3x_temperature_raw_from_celsius, -273.0, 0),
    (native.sht3x_temperature_raw_from_celsius, 1e30, 65535),
    (native.sht3x_temperature_raw_from_celsius, float("nan"), 16852),
    (native.sht3x_humidity_raw_from_milli_percent, 45_000, 29491),
    (native.sht3x_humidity_raw_from_milli_percent, 2**32 - 1, 65535),
    (native.sht3x_humidity_raw_from_relative_humidity, -5.0, 0),
    (native.sht3x_humidity_raw_from_relative_humidity, 150.0, 65535),
])
def test_conversion_table(call, raw, want):
    assert call(raw) == want


@pytest.mark.parametrize("raw", [0, 1, 25278, 29491, 32767, 65534, 65535] + RNG.sample(range(0x10000), 30))
def test_conversions_agree_with_the_part_formulas_and_come_back(raw):
    # The Adafruit driver's float formulas, against ours in single precision.
    assert native.sht3x_celsius(raw) == pytest.approx(-45 + 175 * (raw / 65535), abs=2e-5)
    assert native.sht3x_relative_humidity(raw) == pytest.approx(100 * (raw / 65535), abs=1e-5)
    assert native.sht3x_fahrenheit(raw) == pytest.approx(-49 + 315 * (raw / 65535), abs=4e-5)
    assert native.sht3x_milli_celsius(raw) == round(-45_000 + 175_000 * raw / 65535)
    assert native.sht3x_temperature_raw_from_milli_celsius(native.sht3x_milli_celsius(raw)) == raw
    assert native.sht3x_humidity_raw_from_milli_percent(native.sht3x_milli_percent(raw)) == raw


# ---- commands and names ------------------------------------------------------------------------------

def test_commands_match_the_adafruit_tables():
    for repeatability, stretching, command in adafruit_sht31d._SINGLE_COMMANDS:
        assert native.sht3x_single_shot(repeatability, stretching) == command
    rates = {0.5: "HalfMps", 1: "OneMps", 2: "TwoMps", 4: "FourMps", 10: "TenMps"}
    checked = 0
    for repeatability, frequency, command in adafruit_sht31d._PERIODIC_COMMANDS:
        if frequency in rates:
            assert native.sht3x_periodic(repeatability, rates[frequency]) == command
            checked += 1
    assert checked == 15


@pytest.mark.parametrize("call, want", [
    (lambda: native.sht3x_interval_micros("HalfMps"), 2_000_000),
    (lambda: native.sht3x_interval_micros("TenMps"), 100_000),
    (lambda: native.sht3x_max_measurement_micros("Low"), 4_000),
    (lambda: native.sht3x_max_measurement_micros("High"), 15_000),
    (lambda: native.sht3x_typical_measurement_micros("Medium"), 4_500),
])
def test_timings(call, want):
    assert call() == want


REPEATABILITY = "SHT3x repeatability must be Low, Medium, or High"
RATE = "SHT3x rate must be HalfMps, OneMps, TwoMps, FourMps, or TenMps"


@pytest.mark.parametrize("call, message", [
    (lambda: native.sht3x_single_shot("high", False), REPEATABILITY),
    (lambda: native.sht3x_periodic("bad", "bad"), REPEATABILITY),
    (lambda: native.sht3x_periodic("High", "tenmps"), RATE),
    (lambda: native.sht3x_interval_micros(""), RATE),
    (lambda: native.Sht3x(I2cBus.simulated(), 0x44, "HIGH"), REPEATABILITY),
])
def test_names_are_exact(call, message):
    with pytest.raises(ValueError) as raised:
        call()
    assert raised.value.args == (message,)


# ---- the driver --------------------------------------------------------------------------------------

def test_a_first_measurement_resets_reads_the_status_then_measures():
    bus = I2cBus.simulated([native.sht3x_sim_part(0x44)])
    sht = native.Sht3x(bus, 0x44)
    assert sht.last_status is None
    m = sht.measure()
    assert (m.temperature_raw, m.humidity_raw, m.milli_celsius, m.milli_percent) == (25278, 29491, 22_501, 45_000)
    assert bus.waited_micros == 17_500
    assert sht.last_status.bits == 0x8010
    sht.measure()
    assert bus.waited_micros == 32_500
    assert bus.part(0x44).received == [b"\x30\xa2", b"\xf3\x2d", b"\x24\x00", b"\x24\x00"]


@pytest.mark.parametrize("repeatability, command, wait", [
    ("Low", 0x2416, 4_000), ("Medium", 0x240B, 6_000), ("High", 0x2400, 15_000)])
def test_exact_traffic_of_an_init_and_a_measurement(repeatability, command, wait):
    frame = native.sht3x_measurement_bytes(26214, 29491)
    bus = I2cBus.scripted([
        I2cStep.write(0x45, b"\x30\xa2"), I2cStep.write(0x45, b"\xf3\x2d"), I2cStep.read(0x45, b"\x00\x00\x81"),
        I2cStep.write(0x45, command.to_bytes(2, "big")), I2cStep.read(0x45, frame)])
    m = native.Sht3x(bus, 0x45, repeatability).measure()
    assert (m.milli_celsius, m.milli_percent) == (25_000, 45_000)
    assert bus.remaining == 0
    assert bus.waited_micros == 1_500 + 1_000 + wait


def test_heater_initialises_first_and_waits_a_millisecond():
    bus = I2cBus.simulated([native.sht3x_sim_part(0x44)])
    sht = native.Sht3x(bus, 0x44)
    sht.heater_on()
    sht.heater_off()
    assert bus.part(0x44).received == [b"\x30\xa2", b"\xf3\x2d", b"\x30\x6d", b"\x30\x66"]
    assert bus.waited_micros == 1_500 + 1_000 + 1_000 + 1_000
    sht.init()  # always resets again
    assert bus.part(0x44).received[-2:] == [b"\x30\xa2", b"\xf3\x2d"]
    assert sht.read_status().bits == 0x8010


def test_nothing_at_the_address_fails_at_the_reset_and_keeps_no_status():
    sht = native.Sht3x(I2cBus.simulated(), 0x44)
    with pytest.raises(TrovikError) as raised:
        sht.measure()
    assert raised.value.args == ("nothing answered at 0x44",)
    assert sht.last_status is None


@pytest.mark.parametrize("steps", [
    # a status with a bad CRC
    [I2cStep.write(0x44, b"\x30\xa2"), I2cStep.write(0x44, b"\xf3\x2d"), I2cStep.read(0x44, b"\x80\x10\xe0")],
    # a good status, then a measurement whose humidity CRC is wrong
    [I2cStep.write(0x44, b"\x30\xa2"), I2cStep.write(0x44, b"\xf3\x2d"), I2cStep.read(0x44, b"\x80\x10\xe1"),
     I2cStep.write(0x44, b"\x24\x00"), I2cStep.read(0x44, native.sht3x_measurement_bytes(1, 2)[:5] + b"\xff")],
], ids=["status", "measurement"])
def test_a_bad_crc_from_the_part_is_a_checksum_mismatch(steps):
    sht = native.Sht3x(I2cBus.scripted(steps), 0x44)
    with pytest.raises(TrovikError) as raised:
        sht.measure()
    assert raised.value.args == ("sensor checksum mismatch",)
    assert (sht.last_status is None) == (len(steps) == 3)


@pytest.mark.parametrize("celsius, humidity", [(22.5, 45.0), (-40.0, 0.0), (125.0, 100.0), (0.0, 12.345)])
def test_adafruit_driver_reads_our_simulated_part_as_we_do(celsius, humidity):
    bus = I2cBus.simulated([native.sht3x_sim_reporting(0x44, celsius, humidity)])
    peer = adafruit_sht31d.SHT31D(PeerI2C(bus))
    ours = native.Sht3x(bus, 0x44).measure()
    assert peer.temperature == pytest.approx(ours.celsius, abs=1e-4)
    assert peer.relative_humidity == pytest.approx(ours.relative_humidity, abs=1e-4)
    assert peer.status == 0x8010
    assert ours.celsius == pytest.approx(celsius, abs=0.003)
    assert ours.relative_humidity == pytest.approx(humidity, abs=0.002)
    # The peer's reset sequence (break, soft reset) parses as our commands.
    assert bus.part(0x44).received[:2] == [b"\x30\x93", b"\x30\xa2"]
