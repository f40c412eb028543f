"""The Sensirion SCD4x: its commands, frames, settings words, driver and simulated part, beside
crcmod's CRC-8 and the Adafruit SCD4x driver run over our simulated part."""

import random

import crcmod
import pytest

import trovik._native as native
from trovik._native import CommandPart, I2cBus, I2cStep, TrovikError

from peers.circuitpython import PeerI2C  # installs the board stand-ins

import adafruit_scd4x  # noqa: E402

sensirion_peer = crcmod.mkCrcFun(0x131, initCrc=0xFF, rev=False, xorOut=0)

RNG = random.Random(31)
ADDRESS = 0x62
SERIAL = 0x5A4D << 32 | 0x0C1E << 16 | 0x2B3F
SERIAL_FRAME = bytes.fromhex("5a4df90c1e692b3fac")


def command(word):
    return word.to_bytes(2, "big")


@pytest.fixture
def peer_sleeps(monkeypatch):
    """The Adafruit driver's waits, recorded instead of slept."""
    slept = []
    monkeypatch.setattr(adafruit_scd4x.time, "sleep", slept.append)
    return slept


# ---- CRC, frames and commands ------------------------------------------------------------------------

@pytest.mark.parametrize("data", [b"", b"\xbe\xef", b"\x00\x01"] +
                         [RNG.randbytes(RNG.randrange(1, 30)) for _ in range(30)])
def test_crc_matches_crcmod_and_the_adafruit_driver(data):
    assert native.scd4x_crc(data) == sensirion_peer(data) == adafruit_scd4x.SCD4X._crc8(data)


@pytest.mark.parametrize("call, args, want", [
    (native.scd4x_word_frame, (0x8010,), bytes.fromhex("8010e1")),
    (native.scd4x_word_frame, (0x0001,), bytes.fromhex("0001b0")),
    (native.scd4x_command_frame, (0x21B1,), bytes.fromhex("21b1")),
    (native.scd4x_write_frame, (0x2427, 0x0000), bytes.fromhex("2427000081")),
    (native.scd4x_serial_number_frame, (SERIAL,), SERIAL_FRAME),
    (native.scd4x_serial_number_frame, (SERIAL | 0xFFFF << 48,), SERIAL_FRAME),  # bits above 47 fall away
    (native.scd4x_measurement_bytes, (800, 25278, 29491), bytes.fromhex("03202a62bead733301")),
])
def test_frames(call, args, want):
    assert call(*args) == want


@pytest.mark.parametrize("value", [0, 1, 0xBEEF, 0xFFFF] + RNG.sample(range(0x10000), 12))
def test_word_and_write_frames_carry_the_word_and_its_crc(value):
    frame = native.scd4x_word_frame(value)
    assert frame == value.to_bytes(2, "big") + bytes([sensirion_peer(value.to_bytes(2, "big"))])
    assert native.scd4x_word(frame) == value
    assert native.scd4x_write_frame(0x241D, value) == b"\x24\x1d" + frame


@pytest.mark.parametrize("call, data, message", [
    (native.scd4x_word, b"\x00\x01", "word frame must be exactly 3 bytes"),
    (native.scd4x_parse_measurement, b"\x00" * 8, "measurement frame must be exactly 9 bytes"),
    (native.scd4x_parse_measurement, SERIAL_FRAME + b"\x00", "measurement frame must be exactly 9 bytes"),
    (native.scd4x_serial_number, SERIAL_FRAME[:6], "serial number frame must be exactly 9 bytes"),
])
def test_lengths_are_checked_before_any_crc(call, data, message):
    with pytest.raises(ValueError) as raised:
        call(data)
    assert raised.value.args == (message,)


@pytest.mark.parametrize("call, data", [
    (native.scd4x_word, b"\x00\x01\xb1"),
    (native.scd4x_serial_number, SERIAL_FRAME[:8] + b"\xad"),
    (native.scd4x_serial_number, b"\x00\x00\x00" + SERIAL_FRAME[3:]),
    (native.scd4x_parse_measurement, bytes.fromhex("03202b62bead733301")),
    (native.scd4x_parse_measurement, bytes.fromhex("03202a62bead733300")),
])
def test_a_wrong_crc_is_a_checksum_mismatch(call, data):
    with pytest.raises(TrovikError) as raised:
        call(data)
    assert raised.value.args == ("sensor checksum mismatch",)


def test_serial_number_and_measurement_frames_read_back():
    assert native.scd4x_serial_number(bytearray(SERIAL_FRAME)) == SERIAL
    m = native.scd4x_parse_measurement(list(native.scd4x_measurement_bytes(400, 0, 65535)))
    assert (m.co2_ppm, m.temperature_raw, m.humidity_raw) == (400, 0, 65535)
    assert (m.milli_celsius, m.humidity_milli_percent) == (-45_000, 100_000)
    assert (m.celsius, m.relative_humidity_percent) == (-45.0, 100.0)


@pytest.mark.parametrize("word, ms", [
    (0x3639, 10_000), (0x219D, 5_000), (0x3F86, 500), (0xEC05, 1), (0x362F, 400), (0x3615, 800), (0x3632, 1_200),
    (0x3646, 20), (0x2196, 50), (0x36F6, 20), (0x36E0, 1), (0xE4B8, 1), (0x21B1, None), (0x0000, None),
])
def test_longest_execution_times(word, ms):
    assert native.scd4x_max_duration_ms(word) == ms


def test_only_four_commands_are_taken_while_measuring():
    taken = {word for word in range(0x10000) if native.scd4x_allowed_during_measurement(word)}
    assert taken == {0xEC05, 0x3F86, 0xE000, 0xE4B8}


# ---- conversions and settings words ------------------------------------------------------------------

@pytest.mark.parametrize("call, arg, want", [
    (native.scd4x_temperature_raw, -45_001, 0), (native.scd4x_temperature_raw, -45_000, 0),
    (native.scd4x_temperature_raw, 130_000, 65535), (native.scd4x_temperature_raw, 2**31 - 1, 65535),
    (native.scd4x_temperature_raw, -2**31, 0), (native.scd4x_humidity_raw, 100_000, 65535),
    (native.scd4x_humidity_raw, 2**32 - 1, 65535), (native.scd4x_humidity_raw, 45_000, 29491),
    (native.scd4x_data_ready, 0x8000, False), (native.scd4x_data_ready, 0x0800, False),
    (native.scd4x_data_ready, 0x0001, True), (native.scd4x_data_ready, 0x0400, True),
    (native.scd4x_self_test_passed, 0, True), (native.scd4x_self_test_passed, 1, False),
    (native.scd4x_ambient_pressure_word, 101_325, 1013), (native.scd4x_ambient_pressure_word, 7_000_000, 65535),
    (native.scd4x_ambient_pressure_pascals, 1013, 101_300),
    (native.scd4x_temperature_offset_word, 4_000, 1498),
    (native.scd4x_temperature_offset_word, 2**32 - 1, 65535),
    (native.scd4x_temperature_offset_milli_celsius, 1498, 4_000),
    (native.scd4x_forced_recalibration_word, None, 0xFFFF), (native.scd4x_forced_recalibration_word, 0, 32768),
    (native.scd4x_forced_recalibration_word, -40_000, 0), (native.scd4x_forced_recalibration_word, 40_000, 65534),
    (native.scd4x_forced_recalibration_correction_ppm, 0xFFFF, None),
    (native.scd4x_forced_recalibration_correction_ppm, 32768, 0),
    (native.scd4x_forced_recalibration_correction_ppm, 0, -32768),
    (native.scd4x_automatic_self_calibration_word, True, 1),
    (native.scd4x_automatic_self_calibration_word, False, 0),
    (native.scd4x_automatic_self_calibration_enabled, 1, True),
    (native.scd4x_automatic_self_calibration_enabled, 2, False),
])
def test_conversion_table(call, arg, want):
    assert call(arg) == want


def test_forced_recalibration_word_defaults_to_the_failure_word():
    assert native.scd4x_forced_recalibration_word() == 0xFFFF


@pytest.mark.parametrize("raw", [0, 1, 25278, 29491, 65535] + RNG.sample(range(0x10000), 20))
def test_conversions_agree_with_the_adafruit_formulas_and_come_back(raw):
    assert native.scd4x_celsius(raw) == pytest.approx(-45 + 175 * (raw / 65535), abs=2e-5)
    assert native.scd4x_relative_humidity_percent(raw) == pytest.approx(100 * (raw / 65535), abs=1e-5)
    assert native.scd4x_milli_celsius(raw) == native.sht3x_milli_celsius(raw)
    assert native.scd4x_temperature_raw(native.scd4x_milli_celsius(raw)) == raw
    assert native.scd4x_humidity_raw(native.scd4x_humidity_milli_percent(raw)) == raw
    assert native.scd4x_temperature_offset_word(native.scd4x_temperature_offset_milli_celsius(raw)) == raw


def test_measurement_from_physical():
    m = native.scd4x_measurement_from_physical(800, 22_500, 45_000)
    assert (m.co2_ppm, m.temperature_raw, m.humidity_raw) == (800, 0x62BE, 0x7333)
    assert (m.milli_celsius, m.humidity_milli_percent) == (22_501, 45_000)
    assert m.celsius == pytest.approx(22.5, abs=0.002)
    assert m != native.scd4x_measurement_from_physical(800, 22_500, 45_000)  # compared by identity


# ---- the driver --------------------------------------------------------------------------------------

def test_a_first_measurement_stops_reads_the_serial_starts_and_waits_for_a_result():
    bus = I2cBus.simulated([native.scd4x_sim_part()])
    scd = native.Scd4x(bus)
    assert scd.serial is None
    m = scd.measure()
    assert (m.co2_ppm, m.milli_celsius, m.humidity_milli_percent) == (800, 22_501, 45_000)
    assert bus.waited_micros == 503_000
    assert scd.serial == SERIAL
    assert bus.part(ADDRESS).received == [command(w) for w in (0x3F86, 0x3682, 0x21B1, 0xE4B8, 0xEC05)]
    scd.measure()  # initialised: only the query and the read
    assert bus.waited_micros == 505_000
    assert scd.data_ready() is True


def test_exact_traffic_of_an_init_and_a_measurement():
    frame = native.scd4x_measurement_bytes(1200, 26214, 29491)
    bus = I2cBus.scripted([
        I2cStep.write(ADDRESS, command(0x3F86)), I2cStep.write(ADDRESS, command(0x3682)),
        I2cStep.read(ADDRESS, SERIAL_FRAME), I2cStep.write(ADDRESS, command(0x21B1)),
        I2cStep.write(ADDRESS, command(0xE4B8)), I2cStep.read(ADDRESS, native.scd4x_word_frame(0)),
        I2cStep.write(ADDRESS, command(0xE4B8)), I2cStep.read(ADDRESS, native.scd4x_word_frame(0x8006)),
        I2cStep.write(ADDRESS, command(0xEC05)), I2cStep.read(ADDRESS, frame)])
    m = native.Scd4x(bus).measure()
    assert (m.co2_ppm, m.milli_celsius, m.humidity_milli_percent) == (1200, 25_000, 45_000)
    assert bus.remaining == 0
    assert bus.waited_micros == 500_000 + 1_000 + (1_000 + 100_000) + 1_000 + 1_000


def test_single_shot_neither_initialises_nor_asks_for_data_ready():
    bus = I2cBus.simulated([native.scd4x_sim_part()])
    scd = native.Scd4x(bus)
    assert scd.measure_single_shot().co2_ppm == 800
    assert scd.serial is None
    assert bus.waited_micros == 5_001_000
    assert bus.part(ADDRESS).received == [command(0x219D), command(0xEC05)]


@pytest.mark.parametrize("call, written, waited", [
    (lambda scd: scd.set_sensor_altitude(0), bytes.fromhex("2427000081"), 501_000),
    (lambda scd: scd.set_sensor_altitude(65535), native.scd4x_write_frame(0x2427, 65535), 501_000),
    (lambda scd: scd.set_temperature_offset(4_000), native.scd4x_write_frame(0x241D, 1498), 501_000),
    (lambda scd: scd.stop(), None, 500_000),
    (lambda scd: scd.start(), None, 0),
])
def test_settings_stop_write_and_start_again(call, written, waited):
    bus = I2cBus.simulated([native.scd4x_sim_part()])
    scd = native.Scd4x(bus)
    call(scd)
    received = bus.part(ADDRESS).received
    if written is None:
        assert len(received) == 1
    else:
        assert received == [command(0x3F86), written, command(0x21B1)]
    assert bus.waited_micros == waited
    assert scd.serial is None  # none of these initialises


def test_a_part_without_results_times_out_after_sixty_queries():
    part = native.scd4x_sim_part()
    part.answer(command(0xE4B8), native.scd4x_word_frame(0x8000))  # no result waiting
    bus = I2cBus.simulated([part])
    scd = native.Scd4x(bus)
    scd.init()
    before = bus.waited_micros
    with pytest.raises(TrovikError) as raised:
        scd.measure()
    assert raised.value.args == ("the part did not finish its conversion in time",)
    assert bus.waited_micros - before == 60 * 101_000
    assert bus.part(ADDRESS).received.count(command(0xE4B8)) == 60
    assert scd.data_ready() is False


@pytest.mark.parametrize("steps, message", [
    ([I2cStep.write(ADDRESS, command(0x3F86)), I2cStep.write(ADDRESS, command(0x3682)),
      I2cStep.read(ADDRESS, SERIAL_FRAME[:5] + b"\x00" + SERIAL_FRAME[6:])], "sensor checksum mismatch"),
    ([I2cStep.write(ADDRESS, command(0x3F86)), I2cStep.write(ADDRESS, command(0x3682)),
      I2cStep.read(ADDRESS, SERIAL_FRAME), I2cStep.write(ADDRESS, command(0x21B1)),
      I2cStep.write(ADDRESS, command(0xE4B8)), I2cStep.read(ADDRESS, b"\x00\x01\xb1")], "sensor checksum mismatch"),
], ids=["serial", "data-ready"])
def test_a_bad_crc_from_the_part_is_a_checksum_mismatch(steps, message):
    scd = native.Scd4x(I2cBus.scripted(steps))
    with pytest.raises(TrovikError) as raised:
        scd.measure()
    assert raised.value.args == (message,)
    assert (scd.serial is None) == (len(steps) == 3)


def test_nothing_at_the_address_keeps_no_serial():
    scd = native.Scd4x(I2cBus.simulated())
    with pytest.raises(TrovikError) as raised:
        scd.measure()
    assert raised.value.args == ("nothing answered at 0x62",)
    assert scd.serial is None


def test_sim_reporting_clamps_to_the_part_range():
    bus = I2cBus.simulated([native.scd4x_sim_reporting(400, -50.0, 120.0)])
    m = native.Scd4x(bus).measure()
    assert (m.co2_ppm, m.temperature_raw, m.humidity_raw) == (400, 0, 65535)
    with pytest.raises(OverflowError):
        native.scd4x_sim_reporting(65536, 20.0, 50.0)


# ---- the Adafruit driver on our simulated part -------------------------------------------------------

@pytest.mark.parametrize("co2, celsius, humidity", [(800, 22.5, 45.0), (400, -10.0, 0.0), (5000, 60.0, 100.0),
                                                    (0, 0.0, 33.3)])
def test_adafruit_driver_reads_our_simulated_part_as_we_do(peer_sleeps, co2, celsius, humidity):
    bus = I2cBus.simulated([native.scd4x_sim_reporting(co2, celsius, humidity)])
    peer = adafruit_scd4x.SCD4X(PeerI2C(bus))
    assert peer.serial_number == tuple(SERIAL_FRAME[i] for i in (0, 1, 3, 4, 6, 7))
    peer.start_periodic_measurement()
    assert peer.CO2 == co2
    ours = native.Scd4x(bus).measure()
    assert ours.co2_ppm == co2
    assert peer.temperature == pytest.approx(ours.celsius, abs=1e-4)
    assert peer.relative_humidity == pytest.approx(ours.relative_humidity_percent, abs=1e-4)
    assert ours.celsius == pytest.approx(celsius, abs=0.003)
    assert ours.relative_humidity_percent == pytest.approx(humidity, abs=0.002)
    # The peer waits what our table gives: the stop, then each query's millisecond.
    assert peer_sleeps[0] * 1000 == native.scd4x_max_duration_ms(0x3F86)


@pytest.mark.parametrize("setting, command_word, value", [
    (lambda peer: setattr(peer, "altitude", 1234), 0x2427, 1234),
    (lambda peer: setattr(peer, "ambient_pressure", 1013), 0xE000, native.scd4x_ambient_pressure_word(101_325)),
    (lambda peer: setattr(peer, "self_calibration_enabled", True), 0x2416,
     native.scd4x_automatic_self_calibration_word(True)),
    (lambda peer: setattr(peer, "self_calibration_enabled", False), 0x2416,
     native.scd4x_automatic_self_calibration_word(False)),
])
def test_adafruit_settings_frames_are_our_write_frames(peer_sleeps, setting, command_word, value):
    bus = I2cBus.simulated([native.scd4x_sim_part()])
    peer = adafruit_scd4x.SCD4X(PeerI2C(bus))
    setting(peer)
    assert bus.part(ADDRESS).received[-1] == native.scd4x_write_frame(command_word, value)
    assert peer_sleeps[-1] * 1000 == native.scd4x_max_duration_ms(command_word)


def test_our_altitude_setting_is_the_frame_the_adafruit_driver_writes(peer_sleeps):
    ours, theirs = I2cBus.simulated([native.scd4x_sim_part()]), I2cBus.simulated([native.scd4x_sim_part()])
    native.Scd4x(ours).set_sensor_altitude(350)
    peer = adafruit_scd4x.SCD4X(PeerI2C(theirs))
    peer.altitude = 350
    assert ours.part(ADDRESS).received[1] == theirs.part(ADDRESS).received[-1]
