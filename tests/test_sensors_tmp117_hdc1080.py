"""The Texas Instruments TMP117 and HDC1080: codecs, drivers and simulated parts, beside the
Adafruit TMP117 driver and the sensebox HDC1080 driver run over our simulated parts."""

import random

import pytest

import trovik._native as native
from trovik._native import I2cBus, I2cStep, TrovikError, WordPart

from peers.circuitpython import PeerI2C  # installs the board stand-ins

import adafruit_tmp117  # noqa: E402
import hdc1080  # noqa: E402

RNG = random.Random(32)
TMP = 0x48
HDC = 0x40


@pytest.fixture
def no_sleep(monkeypatch):
    """The peers' waits, recorded instead of slept."""
    slept = []
    monkeypatch.setattr(adafruit_tmp117.time, "sleep", slept.append)
    return slept


# ---- TMP117 codec ------------------------------------------------------------------------------------

@pytest.mark.parametrize("fields, bits", [
    ({}, 0x0220), ({"mode": 3}, 0x0E20), ({"mode": 2}, 0x0220), ({"mode": 1}, 0x0620),
    ({"mode": 7}, 0x0E20), ({"cycle": 12, "averaging": 6}, 0x0240),  # codes keep their low bits
    ({"high_alert": True, "low_alert": True, "data_ready": True, "eeprom_busy": True, "mode": 3, "cycle": 7,
      "averaging": 3, "therm_mode": True, "alert_active_high": True, "alert_pin_data_ready": True,
      "soft_reset": True}, 0xFFFE),
])
def test_tmp117_config_bits(fields, bits):
    config = native.Tmp117Config(**fields)
    assert native.tmp117_config_bits(config) == bits
    for name, value in fields.items():
        assert getattr(config, name) == value  # stored as given


@pytest.mark.parametrize("bits, mode, cycle, averaging", [(0x0800, 0, 0, 0), (0x0C00, 3, 0, 0), (0x0220, 0, 4, 1),
                                                          (0x0400, 1, 0, 0)])
def test_tmp117_config_from_bits(bits, mode, cycle, averaging):
    config = native.tmp117_config_from_bits(bits)
    assert (config.mode, config.cycle, config.averaging) == (mode, cycle, averaging)


def test_tmp117_config_is_a_value():
    a, b = native.Tmp117Config(), native.Tmp117Config()
    assert a == b and not (a != b)
    b.averaging = 200
    assert a != b and b.averaging == 200
    assert a != None and a != 0x0220  # noqa: E711
    with pytest.raises(TypeError):
        a < b
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(OverflowError):
        a.cycle = 300
    for bits in [0x0000, 0x0220, 0xFFFE] + RNG.sample(range(0, 0x10000, 2), 20):
        if bits >> 10 & 3 != 2:
            assert native.tmp117_config_bits(native.tmp117_config_from_bits(bits)) == bits


@pytest.mark.parametrize("call, arg, want", [
    (native.tmp117_device_id, 0x1117, 0x117), (native.tmp117_revision, 0x1117, 1),
    (native.tmp117_micro_celsius, 1, 7_812), (native.tmp117_micro_celsius, -1, -7_812),
    (native.tmp117_micro_celsius, 2, 15_625), (native.tmp117_micro_celsius, 2720, 21_250_000),
    (native.tmp117_micro_celsius, -32768, -256_000_000),
    (native.tmp117_nano_celsius, 1, 7_812_500), (native.tmp117_nano_celsius, -32768, -256_000_000_000),
    (native.tmp117_celsius, 2720, 21.25), (native.tmp117_celsius, -32768, -256.0),
    (native.tmp117_high_alert, 0x8000, True), (native.tmp117_low_alert, 0x8000, False),
    (native.tmp117_data_ready, 0x2000, True), (native.tmp117_eeprom_busy, 0x1000, True),
    (native.tmp117_eeprom_unlock_busy, 0x4000, True), (native.tmp117_eeprom_unlock_busy, 0xBFFF, False),
    (native.tmp117_raw_from_celsius, 21.25, 2720), (native.tmp117_raw_from_celsius, -0.01, -1),
    (native.tmp117_raw_from_celsius, 300.0, 32767), (native.tmp117_raw_from_celsius, float("-inf"), -32768),
    (native.tmp117_raw_from_celsius, float("nan"), 0),
    (native.tmp117_raw_from_micro_celsius, 3_906, 0), (native.tmp117_raw_from_micro_celsius, 3_907, 1),
    (native.tmp117_raw_from_micro_celsius, -3_907, -1), (native.tmp117_raw_from_micro_celsius, 2**31 - 1, 32767),
    (native.tmp117_temperature_bytes, -2, b"\xff\xfe"), (native.tmp117_temperature_from_bytes, b"\x0a\xa0", 2720),
    (native.tmp117_temperature_from_bytes, [0x80, 0x00], -32768),
    (native.tmp117_averaging_conversions, 5, 8), (native.tmp117_cycle_nominal_micros, 9, 125_000),
])
def test_tmp117_conversion_table(call, arg, want):
    assert call(arg) == want


@pytest.mark.parametrize("cycle, averaging, micros", [(0, 0, 15_500), (0, 1, 125_000), (0, 3, 1_000_000),
                                                      (2, 2, 500_000), (4, 1, 1_000_000), (7, 3, 16_000_000),
                                                      (12, 0, 1_000_000)])
def test_tmp117_cycle_micros(cycle, averaging, micros):
    assert native.tmp117_cycle_micros(cycle, averaging) == micros


def test_tmp117_timing_tables_match_the_adafruit_driver():
    for code in range(4):
        assert native.tmp117_averaging_conversions(code) == adafruit_tmp117.AverageCount.string[code]
    for code in range(8):
        assert native.tmp117_cycle_nominal_micros(code) == round(adafruit_tmp117.MeasurementDelay.string[code] * 1e6)


def test_tmp117_temperature_register_length_is_checked():
    with pytest.raises(ValueError) as raised:
        native.tmp117_temperature_from_bytes(b"\x0a")
    assert raised.value.args == ("temperature register must be exactly 2 bytes",)


@pytest.mark.parametrize("raw", [-32768, -1, 0, 1, 2720, 32767] + RNG.sample(range(-32768, 32768), 20))
def test_tmp117_conversions_come_back(raw):
    assert native.tmp117_raw_from_micro_celsius(native.tmp117_micro_celsius(raw)) == raw
    assert native.tmp117_raw_from_celsius(native.tmp117_celsius(raw)) == raw
    assert native.tmp117_temperature_from_bytes(native.tmp117_temperature_bytes(raw)) == raw
    assert native.tmp117_celsius(raw) == raw * adafruit_tmp117._TMP117_RESOLUTION


# ---- TMP117 driver -----------------------------------------------------------------------------------

def test_tmp117_first_measurement_initialises_then_converts_once():
    bus = I2cBus.simulated([native.tmp117_sim_part(TMP)])
    tmp = native.Tmp117(bus, TMP)
    assert tmp.silicon_revision is None
    r = tmp.measure()
    assert (r.raw, r.micro_celsius, r.celsius) == (2720, 21_250_000, 21.25)
    assert bus.waited_micros == 125_000
    assert tmp.silicon_revision == 0
    tmp.measure()
    assert bus.waited_micros == 250_000
    assert bus.part(TMP).word(0x01) == 0x2E20  # one-shot, cycle 4, averaging 1, the part's ready flag


def test_tmp117_exact_traffic_of_an_init_and_a_measurement():
    bus = I2cBus.scripted([
        I2cStep.write_read(TMP, b"\x0f", b"\x21\x17"),  # revision 2
        I2cStep.write_read(TMP, b"\x04", b"\x40\x00"), I2cStep.write_read(TMP, b"\x04", b"\x00\x00"),
        I2cStep.write(TMP, b"\x01\x06\x60"),  # shutdown, cycle 4, averaging 3
        I2cStep.write(TMP, b"\x01\x0e\x60"),  # one-shot
        I2cStep.write_read(TMP, b"\x01", b"\x40\x00"),  # a stale low alert
        I2cStep.write_read(TMP, b"\x01", b"\x00\x00"), I2cStep.write_read(TMP, b"\x01", b"\x20\x00"),
        I2cStep.write_read(TMP, b"\x00", b"\xf3\x80"),
        I2cStep.write_read(TMP, b"\x01", b"\x00\x00"),  # the alert read
    ])
    tmp = native.Tmp117(bus, TMP, averaging=3)
    r = tmp.measure()
    assert (r.raw, r.micro_celsius) == (-3200, -25_000_000)
    assert tmp.silicon_revision == 2
    assert bus.waited_micros == 1_000 + 1_000_000 + 1_000
    alerts = tmp.alerts()
    assert (alerts.high, alerts.low) == (False, True)
    assert bus.remaining == 0


@pytest.mark.parametrize("averaging, waited", [(0, 15_500), (2, 500_000), (4, 15_500), (255, 1_000_000)])
def test_tmp117_averaging_keeps_its_low_two_bits(averaging, waited):
    bus = I2cBus.simulated([native.tmp117_sim_part(TMP)])
    native.Tmp117(bus, TMP, averaging).measure()
    assert bus.waited_micros == waited


def test_tmp117_alert_flags_are_sticky_until_read():
    flagged = native.tmp117_sim_part(TMP)
    flagged.set(0x01, 0xA000)  # the part shows a high alert on every read
    bus = I2cBus.simulated([flagged])
    tmp = native.Tmp117(bus, TMP)
    tmp.measure()
    bus.attach(native.tmp117_sim_part(TMP))  # now its flags read clear, as a real part's do once read
    first, second = tmp.alerts(), tmp.alerts()
    assert (first.high, first.low) == (True, False)
    assert (second.high, second.low) == (False, False)
    bus.attach(flagged)
    assert tmp.alerts().high  # the part's own flag, with nothing collected


@pytest.mark.parametrize("high, low", [(30.0, -10.3), (100.123, 0.0), (-55.5, -56.0078125)])
def test_tmp117_alert_limits_are_the_registers_the_adafruit_driver_writes(no_sleep, high, low):
    ours, theirs = I2cBus.simulated([native.tmp117_sim_part(TMP)]), I2cBus.simulated([native.tmp117_sim_part(TMP)])
    native.Tmp117(ours, TMP).set_alert_limits(high, low)
    peer = adafruit_tmp117.TMP117(PeerI2C(theirs))
    peer.high_limit, peer.low_limit = high, low
    for reg in (0x02, 0x03):
        assert ours.part(TMP).word(reg) == theirs.part(TMP).word(reg)
    assert peer.high_limit == pytest.approx(high, abs=0.004)


def test_tmp117_limits_clamp_to_the_register():
    bus = I2cBus.simulated([native.tmp117_sim_part(TMP)])
    native.Tmp117(bus, TMP).set_alert_limits(1e6, float("nan"))
    assert (bus.part(TMP).word(0x02), bus.part(TMP).word(0x03)) == (0x7FFF, 0x0000)


@pytest.mark.parametrize("make_part, message", [
    (lambda: native.bme280_sim_part(TMP), "sensor identification mismatch"),
    (lambda: None, "nothing answered at 0x48"),
], ids=["another-part", "missing"])
def test_tmp117_init_failures_keep_no_revision(make_part, message):
    part = make_part()
    tmp = native.Tmp117(I2cBus.simulated([part] if part else []), TMP)
    for call in (tmp.init, tmp.measure):
        with pytest.raises(TrovikError) as raised:
            call()
        assert raised.value.args == (message,)
    assert tmp.silicon_revision is None


@pytest.mark.parametrize("reg, value, waited", [(0x04, 0x4000, 150_000), (0x01, 0x0000, 125_000 + 150_000)],
                         ids=["eeprom-busy", "never-ready"])
def test_tmp117_time_outs(reg, value, waited):
    part = native.tmp117_sim_part(TMP)
    part.set(reg, value)
    bus = I2cBus.simulated([part])
    with pytest.raises(TrovikError) as raised:
        native.Tmp117(bus, TMP).measure()
    assert raised.value.args == ("the part did not finish its conversion in time",)
    assert bus.waited_micros == waited


@pytest.mark.parametrize("celsius, raw", [(21.25, 0x0AA0), (-0.01, -1), (300.0, 32767), (float("nan"), 0),
                                          (-40.0, -5120)])
def test_tmp117_sim_reporting(celsius, raw):
    bus = I2cBus.simulated([native.tmp117_sim_reporting(TMP, celsius)])
    assert native.Tmp117(bus, TMP).measure().raw == raw
    bus.write(TMP, b"\x01\xff\xff")
    bus.write(TMP, b"\x01\x00\x00")
    # The four flags are the part's own: a driver's writes leave them as they are.
    assert (bus.part(TMP).word(0x01), bus.part(TMP).word(0x0F)) == (0x2000, 0x0117)


@pytest.mark.parametrize("celsius", [21.25, -40.0, 125.5, 0.0078125])
def test_adafruit_tmp117_reads_our_simulated_part_as_we_do(no_sleep, celsius):
    bus = I2cBus.simulated([native.tmp117_sim_reporting(TMP, celsius)])
    peer = adafruit_tmp117.TMP117(PeerI2C(bus))
    ours = native.Tmp117(bus, TMP).measure()
    assert peer.temperature == ours.celsius == celsius
    assert peer.take_single_measurement() == celsius
    peer.averaged_measurements = adafruit_tmp117.AverageCount.AVERAGE_32X
    peer.measurement_delay = adafruit_tmp117.MeasurementDelay.DELAY_4_S
    config = native.tmp117_config_from_bits(bus.part(TMP).word(0x01))
    assert (config.averaging, config.cycle, config.mode) == (2, 5, 3)


# ---- HDC1080 codec -----------------------------------------------------------------------------------

@pytest.mark.parametrize("call, arg, want", [
    (native.hdc1080_milli_celsius, 0, -40_000), (native.hdc1080_milli_celsius, 65535, 124_997),
    (native.hdc1080_milli_celsius, 0x60F8, 22_499), (native.hdc1080_milli_percent, 65535, 99_998),
    (native.hdc1080_milli_percent, 0x7334, 45_001), (native.hdc1080_celsius, 0, -40.0),
    (native.hdc1080_relative_humidity, 0x8000, 50.0),
    (native.hdc1080_temperature_register, 22_500, 0x60F8), (native.hdc1080_temperature_register, -50_000, 0),
    (native.hdc1080_temperature_register, 125_000, 0xFFFC), (native.hdc1080_temperature_register, 2**31 - 1, 0xFFFC),
    (native.hdc1080_humidity_register, 45_000, 0x7334), (native.hdc1080_humidity_register, 200_000, 0xFFFC),
    (native.hdc1080_temperature_conversion_micros, 14, 6_350),
    (native.hdc1080_temperature_conversion_micros, 11, 3_650),
    (native.hdc1080_humidity_conversion_micros, 14, 6_500), (native.hdc1080_humidity_conversion_micros, 11, 3_850),
    (native.hdc1080_humidity_conversion_micros, 8, 2_500),
])
def test_hdc1080_conversion_table(call, arg, want):
    assert call(arg) == want


@pytest.mark.parametrize("raw", [0, 4, 0x60F8, 0x7334, 0xFFFC] + [RNG.randrange(0x4000) << 2 for _ in range(20)])
def test_hdc1080_conversions_agree_with_the_peer_formulas_and_come_back(raw):
    assert native.hdc1080_celsius(raw) == pytest.approx(raw / 65536.0 * 165.0 - 40.0, abs=2e-5)
    assert native.hdc1080_relative_humidity(raw) == pytest.approx(raw / 65536.0 * 100.0, abs=1e-5)
    assert native.hdc1080_temperature_register(native.hdc1080_milli_celsius(raw)) == raw
    assert native.hdc1080_humidity_register(native.hdc1080_milli_percent(raw)) == raw


def test_hdc1080_measurement_frames():
    m = native.hdc1080_parse_measurement(bytes.fromhex("60f87334"))
    assert (m.temperature_raw, m.humidity_raw, m.milli_celsius, m.milli_percent) == (0x60F8, 0x7334, 22_499, 45_001)
    assert m.celsius == pytest.approx(22.499, abs=1e-3) and m.relative_humidity == pytest.approx(45.001, abs=1e-3)
    assert native.hdc1080_measurement_bytes(0x60F8, 0x7334) == bytes.fromhex("60f87334")
    built = native.hdc1080_measurement_from_physical(22_500, 45_000)
    assert (built.temperature_raw, built.humidity_raw) == (0x60F8, 0x7334)
    with pytest.raises(ValueError) as raised:
        native.hdc1080_parse_measurement(b"\x60\xf8\x73")
    assert raised.value.args == ("measurement must be exactly 4 bytes",)


@pytest.mark.parametrize("serial", [0, 1, 0x1_2345_6789, 2**41 - 1] + [RNG.getrandbits(41) for _ in range(10)])
def test_hdc1080_serial_id_goes_there_and_back(serial):
    high, mid, low = native.hdc1080_serial_id_registers(serial)
    assert native.hdc1080_serial_id(high, mid, low) == serial
    assert native.hdc1080_serial_id(high, mid, low | 0x7F) == serial  # the low seven bits never matter
    assert native.hdc1080_serial_id_registers(serial | 1 << 41) == [high, mid, low]  # nor bits above 40


def test_hdc1080_serial_id_of_all_ones():
    assert native.hdc1080_serial_id(0xFFFF, 0xFFFF, 0xFF80) == 2**41 - 1


@pytest.mark.parametrize("raw, fields", [
    (0x1000, {"sequential": True, "temperature_resolution_bits": 14, "humidity_resolution_bits": 14}),
    (0x0600, {"sequential": False, "temperature_resolution_bits": 11, "humidity_resolution_bits": 8}),
    (0xA900, {"software_reset": True, "heater": True, "battery_low": True, "sequential": False,
              "humidity_resolution_bits": 11}),
])
def test_hdc1080_config_from_register(raw, fields):
    config = native.hdc1080_config_from_register(raw)
    for name, value in fields.items():
        assert getattr(config, name) == value
    assert native.hdc1080_config_to_register(config) == raw


def test_hdc1080_config_register_with_the_undefined_humidity_code():
    with pytest.raises(TrovikError) as raised:
        native.hdc1080_config_from_register(0x0300)
    assert raised.value.args == ("sensor register field holds an undefined code",)


TEMPERATURE = "HDC1080 temperature resolution must be 14 or 11 bits"
HUMIDITY = "HDC1080 humidity resolution must be 14, 11, or 8 bits"


@pytest.mark.parametrize("call, message", [
    (lambda: native.hdc1080_config_to_register(native.Hdc1080Config(temperature_resolution_bits=12)), TEMPERATURE),
    (lambda: native.hdc1080_config_to_register(
        native.Hdc1080Config(temperature_resolution_bits=99, humidity_resolution_bits=9)), TEMPERATURE),
    (lambda: native.hdc1080_conversion_time_micros(native.Hdc1080Config(humidity_resolution_bits=12)), HUMIDITY),
    (lambda: native.hdc1080_temperature_conversion_micros(8), TEMPERATURE),
    (lambda: native.hdc1080_humidity_conversion_micros(0), HUMIDITY),
    (lambda: native.Hdc1080(I2cBus.simulated(), 12), TEMPERATURE),
    (lambda: native.Hdc1080(I2cBus.simulated(), 12, 9), TEMPERATURE),
    (lambda: native.Hdc1080(I2cBus.simulated(), 11, 9), HUMIDITY),
])
def test_hdc1080_resolutions_are_checked_when_used(call, message):
    with pytest.raises(ValueError) as raised:
        call()
    assert raised.value.args == (message,)


@pytest.mark.parametrize("fields, micros", [
    ({}, 12_850),
    ({"sequential": False, "temperature_resolution_bits": 11, "humidity_resolution_bits": 8}, 3_650),
    ({"temperature_resolution_bits": 11, "humidity_resolution_bits": 8}, 6_150),
])
def test_hdc1080_conversion_time(fields, micros):
    assert native.hdc1080_conversion_time_micros(native.Hdc1080Config(**fields)) == micros


def test_hdc1080_config_is_a_value_storing_any_byte():
    assert native.Hdc1080Config(temperature_resolution_bits=99).temperature_resolution_bits == 99
    a, b = native.Hdc1080Config(), native.Hdc1080Config(sequential=True)
    assert a == b
    b.heater = True
    assert a != b
    with pytest.raises(OverflowError):
        b.humidity_resolution_bits = 256


# ---- HDC1080 driver ----------------------------------------------------------------------------------

def test_hdc1080_first_measurement_checks_identity_configures_and_measures():
    bus = I2cBus.simulated([native.hdc1080_sim_part()])
    hdc = native.Hdc1080(bus)
    m = hdc.measure()
    assert (m.temperature_raw, m.humidity_raw, m.milli_celsius, m.milli_percent) == (0x60F8, 0x7334, 22_499, 45_001)
    assert bus.waited_micros == 12_850
    assert bus.part(HDC).word(0x02) == 0x1000
    assert bus.transfers == 5  # two identity reads, the configuration, the trigger, the read
    hdc.measure()
    assert bus.transfers == 7


def test_hdc1080_exact_traffic_at_low_resolution():
    bus = I2cBus.scripted([
        I2cStep.write_read(HDC, b"\xfe", b"\x54\x49"), I2cStep.write_read(HDC, b"\xff", b"\x10\x50"),
        I2cStep.write(HDC, b"\x02\x16\x00"), I2cStep.write(HDC, b"\x00"), I2cStep.read(HDC, b"\x66\x68\x80\x00")])
    m = native.Hdc1080(bus, 11, 8).measure()
    assert (m.milli_celsius, m.milli_percent) == (26_004, 50_000)
    assert bus.waited_micros == 3_650 + 2_500
    assert bus.remaining == 0


def test_hdc1080_heater_and_configuration():
    bus = I2cBus.simulated([native.hdc1080_sim_part()])
    hdc = native.Hdc1080(bus, temperature_resolution_bits=11, humidity_resolution_bits=8)
    config = hdc.configuration
    assert (config.temperature_resolution_bits, config.humidity_resolution_bits, config.sequential) == (11, 8, True)
    config.heater = True  # a copy: the driver is not changed
    assert hdc.configuration.heater is False
    hdc.heater(True)
    assert bus.part(HDC).word(0x02) == 0x3600 and hdc.configuration.heater
    assert bus.transfers == 1  # neither initialises nor checks the identity


def test_hdc1080_heater_flag_is_kept_when_its_write_fails():
    hdc = native.Hdc1080(I2cBus.simulated())
    with pytest.raises(TrovikError) as raised:
        hdc.heater(True)
    assert raised.value.args == ("nothing answered at 0x40",)
    assert hdc.configuration.heater is True


def test_hdc1080_foreign_device_is_refused_before_any_write():
    part = native.hdc1080_sim_part()
    part.set(0xFF, 0x1000)
    bus = I2cBus.simulated([part])
    hdc = native.Hdc1080(bus)
    with pytest.raises(TrovikError) as raised:
        hdc.init()
    assert raised.value.args == ("sensor identification mismatch",)
    assert bus.part(HDC).word(0x02) == 0
    bus.attach(native.hdc1080_sim_part())
    hdc.measure()  # the failed initialisation is tried again


def test_hdc1080_a_read_the_part_refuses_is_the_result():
    bus = I2cBus.scripted([
        I2cStep.write_read(HDC, b"\xfe", b"\x54\x49"), I2cStep.write_read(HDC, b"\xff", b"\x10\x50"),
        I2cStep.write(HDC, b"\x02\x10\x00"), I2cStep.write(HDC, b"\x00"), I2cStep.fault(HDC, "NoAcknowledgeAddress")])
    hdc = native.Hdc1080(bus)
    with pytest.raises(TrovikError) as raised:
        hdc.measure()  # no retry: the refusal is the result
    assert raised.value.args == ("i2c script fault: The device did not acknowledge its address",)
    assert bus.remaining == 0


@pytest.mark.parametrize("celsius, humidity, registers", [
    (22.5, 45.0, (0x60F8, 0x7334)), (-50.0, -5.0, (0x0000, 0x0000)), (200.0, 150.0, (0xFFFC, 0xFFFC))])
def test_hdc1080_sim_reporting(celsius, humidity, registers):
    part = native.hdc1080_sim_reporting(celsius, humidity)
    assert (part.word(0x00), part.word(0x01), part.word(0xFE), part.word(0xFF), part.address) == (
        *registers, 0x5449, 0x1050, HDC)


@pytest.mark.parametrize("celsius, humidity", [(22.5, 45.0), (-40.0, 0.0), (85.0, 99.5), (0.0, 12.345)])
def test_sensebox_hdc1080_reads_our_simulated_part_as_we_do(monkeypatch, celsius, humidity):
    monkeypatch.setattr(hdc1080.time, "sleep", lambda seconds: None)
    bus = I2cBus.simulated([native.hdc1080_sim_reporting(celsius, humidity)])
    peer = hdc1080.HDC1080(PeerI2C(bus))
    ours = native.Hdc1080(bus).measure()
    assert peer.temperature == pytest.approx(ours.celsius, abs=1e-4)
    assert peer.humidity == pytest.approx(ours.relative_humidity, abs=1e-4)
    assert ours.celsius == pytest.approx(celsius, abs=0.003 + 165 / 65536)
    assert ours.relative_humidity == pytest.approx(humidity, abs=0.002 + 100 / 65536)
