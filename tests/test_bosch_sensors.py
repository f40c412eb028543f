"""The Bosch BME280 and BMP280: codecs, compensation, drivers over the shared I2C bus, simulated parts.

The integer compensation is checked two ways: exactly against the integer
formulas Bosch publishes in the parts' datasheets (written out below from the
datasheets, with Python's unbounded integers), and within the float formulas'
precision against Adafruit's BME280 and BMP280 drivers, which compensate in
floating point and run here over a small adapter that carries their transfers
on one of our buses to our simulated parts.
"""

import random
import struct

import pytest

import trovik._native as native
from trovik._native import I2cBus, TrovikError
from peers.circuitpython import PeerI2C  # installs the board stand-ins

from adafruit_bme280 import basic as adafruit_bme280  # noqa: E402
import adafruit_bmp280  # noqa: E402


SIM_CALIBRATION = bytes.fromhex("456F6F68320046916AD6D00B4E1E88FFF9FFAC260AD8BD10004B")
SIM_HUMIDITY = bytes.fromhex("620100152303 1E".replace(" ", ""))
SIM_BURST = bytes.fromhex("655AC07EED007530")


# ---- the datasheets' integer compensation ----------------------------------------------------------

def tdiv(a, b):
    """C's division: truncating toward zero."""
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def coefficients(block):
    t1, t2, t3, p1, *p = struct.unpack("<HhhH8h", bytes(block[:24]))
    return t1, t2, t3, p1, p


def bme280_reference(block, hum, adc_t, adc_p, adc_h):
    """BME280 datasheet: 32-bit temperature and humidity, 64-bit pressure, all divisions truncating."""
    t1, t2, t3, p1, (p2, p3, p4, p5, p6, p7, p8, p9) = coefficients(block)
    h1 = block[25]
    h2 = struct.unpack("<h", hum[0:2])[0]
    h3 = hum[2]
    h4 = struct.unpack("b", hum[3:4])[0] * 16 + (hum[4] & 0x0F)
    h5 = struct.unpack("b", hum[5:6])[0] * 16 + (hum[4] >> 4)
    h6 = struct.unpack("b", hum[6:7])[0]
    var1 = tdiv((tdiv(adc_t, 8) - t1 * 2) * t2, 2048)
    var2 = tdiv(tdiv((tdiv(adc_t, 16) - t1) ** 2, 4096) * t3, 16384)
    t_fine = var1 + var2
    temperature = min(max(tdiv(t_fine * 5 + 128, 256), -4000), 8500)

    var1 = t_fine - 128000
    var2 = var1 * var1 * p6 + var1 * p5 * 131072 + p4 * 34359738368
    var1 = tdiv(var1 * var1 * p3, 256) + var1 * p2 * 4096
    var1 = tdiv((140737488355328 + var1) * p1, 8589934592)
    if var1 == 0:
        pressure = 3000000
    else:
        var4 = tdiv(((1048576 - adc_p) * 2147483648 - var2) * 3125, var1)
        var1 = tdiv(p9 * tdiv(var4, 8192) * tdiv(var4, 8192), 33554432)
        var2 = tdiv(p8 * var4, 524288)
        var4 = tdiv(var4 + var1 + var2, 256) + p7 * 16
        pressure = min(max(tdiv(tdiv(var4, 2) * 100, 128), 3000000), 11000000)

    var1 = t_fine - 76800
    var5 = tdiv(adc_h * 16384 - h4 * 1048576 - h5 * var1 + 16384, 32768)
    var2 = tdiv(var1 * h6, 1024)
    var3 = tdiv(var1 * h3, 2048)
    var4 = tdiv(var2 * (var3 + 32768), 1024) + 2097152
    var2 = tdiv(var4 * h2 + 8192, 16384)
    var3 = var5 * var2
    var4 = tdiv(tdiv(var3, 32768) * tdiv(var3, 32768), 128)
    var5 = min(max(var3 - tdiv(var4 * h1, 16), 0), 419430400)
    return temperature, pressure, tdiv(var5, 4096)


def bmp280_reference(block, adc_t, adc_p):
    """BMP280 datasheet: arithmetic shifts, one truncating division, pressure in Q24.8 pascals."""
    t1, t2, t3, p1, (p2, p3, p4, p5, p6, p7, p8, p9) = coefficients(block)
    var1 = (((adc_t >> 3) - (t1 << 1)) * t2) >> 11
    var2 = (((((adc_t >> 4) - t1) * ((adc_t >> 4) - t1)) >> 12) * t3) >> 14
    t_fine = var1 + var2
    temperature = (t_fine * 5 + 128) >> 8
    var1 = t_fine - 128000
    var2 = var1 * var1 * p6 + ((var1 * p5) << 17) + (p4 << 35)
    var1 = ((var1 * var1 * p3) >> 8) + ((var1 * p2) << 12)
    var1 = (((1 << 47) + var1) * p1) >> 33
    if var1 == 0:
        return temperature, 0
    p = tdiv((((1048576 - adc_p) << 31) - var2) * 3125, var1)
    var1 = (p9 * (p >> 13) * (p >> 13)) >> 25
    var2 = (p8 * p) >> 19
    return temperature, (((p + var1 + var2) >> 8) + (p7 << 4)) & 0xFFFFFFFF


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


# ---- codecs -----------------------------------------------------------------------------------------

@pytest.mark.parametrize("call, expected", [
    (lambda: native.bme280_ctrl_meas_bits(native.Bme280CtrlMeas(temperature=2, pressure=5, mode=3)), 0x57),
    (lambda: native.bme280_ctrl_meas_bits(native.Bme280CtrlMeas(temperature=7, pressure=6, mode=2)), 0xB5),
    (lambda: native.bme280_ctrl_meas_bits(native.Bme280CtrlMeas(temperature=8)), 0x00),
    (lambda: native.bmp280_ctrl_meas_bits(native.Bmp280CtrlMeas(temperature=7, pressure=6, mode=2)), 0xB5),
    (lambda: native.bme280_ctrl_hum_bits(1), 1),
    (lambda: native.bme280_ctrl_hum_bits(6), 5),
    (lambda: native.bme280_ctrl_hum_bits(9), 1),
    (lambda: native.bme280_ctrl_hum_from_bits(0x0F), 5),
    (lambda: native.bme280_config_bits(native.Bme280Config(standby=5, filter=4, spi_3wire=True)), 0xB1),
    (lambda: native.bme280_config_bits(native.Bme280Config(standby=5, filter=7, spi_3wire=True)), 0xB1),
    (lambda: native.bmp280_config_bits(native.Bmp280Config(standby=5, filter=7, spi_3wire=True)), 0xBD),
    (lambda: native.bme280_standby_micros(0), 500),
    (lambda: native.bme280_standby_micros(5), 1_000_000),
    (lambda: native.bme280_standby_micros(6), 10_000),
    (lambda: native.bme280_standby_micros(7), 20_000),
    (lambda: native.bme280_standby_micros(8), 500),
    (lambda: native.bmp280_standby_micros(6), 2_000_000),
    (lambda: native.bmp280_standby_micros(7), 4_000_000),
    (lambda: native.bme280_measuring(0x08), True),
    (lambda: native.bme280_image_updating(0x08), False),
    (lambda: native.bme280_image_updating(0x01), True),
    (lambda: native.bmp280_measuring(0x08), True),
    (lambda: native.bmp280_image_updating(0x01), True),
    (lambda: native.bmp280_pressure_skipped(524_288), True),
    (lambda: native.bmp280_pressure_skipped(524_287), False),
    (lambda: native.bmp280_temperature_skipped(0x80000), True),
    (lambda: native.bme280_oversampling_factor(9), 1),
    (lambda: native.bme280_oversampling_factor(6), 16),
    (lambda: native.bmp280_oversampling_factor(0), 0),
    (lambda: native.bme280_filter_coefficient(7), 16),
    (lambda: native.bme280_filter_coefficient(3), 8),
    (lambda: native.bme280_max_measurement_micros(1, 1, 1), 9300),
    (lambda: native.bme280_typical_measurement_micros(1, 1, 1), 8000),
    (lambda: native.bme280_max_measurement_micros(5, 5, 5), 112_800),
    (lambda: native.bme280_typical_measurement_micros(5, 5, 5), 98_000),
    (lambda: native.bme280_max_measurement_micros(0, 0, 0), 1250),
    (lambda: native.bme280_typical_measurement_micros(0, 0, 0), 1000),
    (lambda: native.bmp280_measurement_bytes(0x80000, 0x80000), bytes.fromhex("800000800000")),
    (lambda: native.bmp280_measurement_bytes(0x1234567, 0xFFFFFFFF), bytes.fromhex("345670FFFFF0")),
])
def test_codec_functions(call, expected):
    assert call() == expected


@pytest.mark.parametrize("cls, parse, bits, fields", [
    (native.Bme280CtrlMeas, native.bme280_ctrl_meas_from_bits, 0xFF, dict(temperature=5, pressure=5, mode=3)),
    (native.Bme280CtrlMeas, native.bme280_ctrl_meas_from_bits, 0x26, dict(temperature=1, pressure=1, mode=1)),
    (native.Bmp280CtrlMeas, native.bmp280_ctrl_meas_from_bits, 0x26, dict(temperature=1, pressure=1, mode=1)),
    (native.Bme280Config, native.bme280_config_from_bits, 0xFF, dict(standby=7, filter=4, spi_3wire=True)),
    (native.Bmp280Config, native.bmp280_config_from_bits, 0xFF, dict(standby=7, filter=7, spi_3wire=True)),
    (native.Bmp280Config, native.bmp280_config_from_bits, 0x02, dict(standby=0, filter=0, spi_3wire=False)),
])
def test_register_parsing(cls, parse, bits, fields):
    parsed = parse(bits)
    assert parsed == cls(**fields)
    assert {name: getattr(parsed, name) for name in fields} == fields


def test_register_classes_keep_codes_as_given():
    config = native.Bme280Config(filter=12)
    assert config.filter == 12
    assert config != native.Bme280Config(filter=4)
    assert native.bme280_config_bits(config) == native.bme280_config_bits(native.Bme280Config(filter=4))
    config.standby = 9
    assert native.bme280_config_bits(config) == 0x30
    ctrl = native.Bmp280CtrlMeas()
    ctrl.mode = 2
    assert native.bmp280_ctrl_meas_bits(ctrl) == 1
    with pytest.raises(OverflowError):
        native.bme280_ctrl_hum_bits(256)
    with pytest.raises(TypeError):
        native.bme280_standby_micros("1")


def test_parse_measurement():
    raw = native.bmp280_parse_measurement(bytes.fromhex("800000800000"))
    assert (raw.pressure, raw.temperature, raw.pressure_skipped, raw.temperature_skipped) == (
        0x80000, 0x80000, True, True)
    raw = native.bmp280_parse_measurement([0x65, 0x5A, 0xC0, 0x7E, 0xED, 0x00])
    assert (raw.pressure, raw.temperature, raw.pressure_skipped) == (415_148, 519_888, False)
    with pytest.raises(ValueError, match="^measurement must be exactly 6 bytes$"):
        native.bmp280_parse_measurement(bytes(7))


# ---- calibration and compensation ---------------------------------------------------------------------

def test_simulated_reference_bytes():
    assert native.bme280_sim_calibration() == SIM_CALIBRATION
    assert native.bme280_sim_calibration_humidity() == SIM_HUMIDITY
    assert native.bme280_sim_burst() == SIM_BURST
    assert native.bmp280_sim_calibration() == SIM_CALIBRATION[:24]
    assert native.bmp280_sim_burst() == SIM_BURST[:6]


def test_bme280_compensation_of_the_simulated_part():
    m = native.Bme280Calibration(SIM_CALIBRATION, SIM_HUMIDITY).compensate(SIM_BURST)
    assert m.celsius == f32(20.44)
    assert m.pascals == 84805
    assert m.hectopascals == f32(848.0523)
    assert m.relative_humidity_percent == 44.6533203125


def test_bmp280_calibration_and_compensation():
    calibration = native.Bmp280Calibration(SIM_CALIBRATION[:24])
    c = calibration.coefficients
    assert (c.dig_t1, c.dig_t2, c.dig_t3, c.dig_p1, c.dig_p2, c.dig_p9) == (28485, 26735, 50, 37190, -10646, 4285)
    assert calibration.to_bytes() == SIM_CALIBRATION[:24]
    reading = calibration.compensate(SIM_BURST[:6])
    assert (reading.celsius, reading.pascals, reading.hectopascals) == (f32(20.44), 84805, f32(21_710_140 / 25_600))
    rng = random.Random(7)
    for _ in range(50):
        data = bytes(rng.randrange(256) for _ in range(24))
        assert native.Bmp280Calibration(data).to_bytes() == data


@pytest.mark.parametrize("call, message", [
    (lambda: native.Bme280Calibration(bytes(25), bytes(6)),
     "temperature and pressure calibration must be exactly 26 bytes"),
    (lambda: native.Bme280Calibration(bytes(26), bytes(8)), "humidity calibration must be exactly 7 bytes"),
    (lambda: native.Bme280Calibration(SIM_CALIBRATION, SIM_HUMIDITY).compensate(bytes(6)),
     "measurement must be exactly 8 bytes"),
    (lambda: native.Bmp280Calibration(bytes(26)), "calibration must be exactly 24 bytes"),
    (lambda: native.Bmp280Calibration(bytes(24)).compensate(SIM_BURST), "measurement must be exactly 6 bytes"),
])
def test_length_errors(call, message):
    with pytest.raises(ValueError, match=f"^{message}$"):
        call()


def test_calibration_types_are_checked_before_lengths():
    with pytest.raises(TypeError):
        native.Bme280Calibration(bytes(25), "humidity")


def _raw_cases(seed, count):
    rng = random.Random(seed)
    cases = [(519_888, 415_148, 30_000), (0, 0, 0), (0xFFFFF, 0xFFFFF, 0xFFFF), (0x80000, 0x80000, 0x8000)]
    cases += [(rng.randrange(0x100000), rng.randrange(0x100000), rng.randrange(0x10000)) for _ in range(count)]
    return cases


def test_bme280_compensation_matches_the_datasheet_formulas():
    calibration = native.Bme280Calibration(SIM_CALIBRATION, SIM_HUMIDITY)
    for adc_t, adc_p, adc_h in _raw_cases(1, 3000):
        burst = native.bmp280_measurement_bytes(adc_p, adc_t) + bytes([adc_h >> 8, adc_h & 0xFF])
        m = calibration.compensate(burst)
        t, p, h = bme280_reference(SIM_CALIBRATION, SIM_HUMIDITY, adc_t, adc_p, adc_h)
        assert (m.celsius, m.pascals, m.hectopascals, m.relative_humidity_percent) == (
            f32(f32(t) / 100), p // 100, f32(f32(p) / 10000), f32(f32(h) / 1024)), (adc_t, adc_p, adc_h)


def test_bmp280_compensation_matches_the_datasheet_formulas():
    calibration = native.Bmp280Calibration(SIM_CALIBRATION[:24])
    for adc_t, adc_p, _ in _raw_cases(2, 3000):
        r = calibration.compensate(native.bmp280_measurement_bytes(adc_p, adc_t))
        t, p = bmp280_reference(SIM_CALIBRATION, adc_t, adc_p)
        assert (r.celsius, r.pascals, r.hectopascals) == (f32(f32(t) / 100), p >> 8, f32(p / 25600)), (adc_t, adc_p)


def test_degenerate_calibration_never_divides_by_zero():
    no_p1 = bytearray(SIM_CALIBRATION)
    no_p1[6:8] = b"\0\0"
    assert native.Bme280Calibration(bytes(no_p1), SIM_HUMIDITY).compensate(SIM_BURST).pascals == 30000
    assert native.Bmp280Calibration(bytes(no_p1[:24])).compensate(SIM_BURST[:6]).pascals == 0


def test_humidity_clamps():
    calibration = native.Bme280Calibration(SIM_CALIBRATION, SIM_HUMIDITY)
    assert calibration.compensate(SIM_BURST[:6] + b"\0\0").relative_humidity_percent == 0.0
    assert calibration.compensate(SIM_BURST[:6] + b"\xff\xff").relative_humidity_percent == 100.0


# ---- simulated parts ----------------------------------------------------------------------------------

@pytest.mark.parametrize("call, expected", [
    (lambda: native.bme280_sim_burst_for(20.44, 848.05, 44.65), bytes.fromhex("655AC07EEC80752E")),
    (lambda: native.bme280_sim_burst_for(90.0, 848.05, 44.65)[3:6], bytes.fromhex("FFFFF0")),
    (lambda: native.bme280_sim_burst_for(-50.0, 848.05, 44.65)[3:6], bytes.fromhex("000000")),
    (lambda: native.bmp280_sim_burst_for(20.44, 848.05), bytes.fromhex("655AC07EEC80")),
])
def test_burst_for(call, expected):
    assert call() == expected


@pytest.mark.parametrize("celsius, hectopascals, humidity", [
    (-20.0, 500.0, 5.0), (0.0, 1013.25, 50.0), (25.5, 900.0, 80.0), (60.0, 1090.0, 99.0)])
def test_simulated_reporting_reads_back_through_the_driver(celsius, hectopascals, humidity):
    bus = I2cBus.simulated([native.bme280_sim_reporting(0x76, celsius, hectopascals, humidity),
                            native.bmp280_sim_reporting(0x77, celsius, hectopascals)])
    m = native.Bme280(bus, 0x76).measure()
    assert m.celsius == pytest.approx(celsius, abs=0.01)
    assert m.hectopascals == pytest.approx(hectopascals, abs=0.01)
    assert m.relative_humidity_percent == pytest.approx(humidity, abs=0.01)
    r = native.Bmp280(bus, 0x77).measure()
    assert r.celsius == pytest.approx(celsius, abs=0.01)
    assert r.hectopascals == pytest.approx(hectopascals, abs=0.01)


# ---- the drivers --------------------------------------------------------------------------------------

def test_bme280_driver_against_its_simulated_part():
    bus = I2cBus.simulated([native.bme280_sim_part(0x76)])
    sensor = native.Bme280(bus, 0x76)
    m = sensor.measure()
    assert (m.celsius, m.pascals, m.relative_humidity_percent) == (f32(20.44), 84805, 44.6533203125)
    assert bus.waited_micros == 11_300
    sensor.measure()
    assert bus.waited_micros == 20_600
    part = bus.part(0x76)
    assert [part.register(r) for r in (0xE0, 0xF2, 0xF4, 0xF5)] == [0xB6, 0x01, 0x25, 0x00]


def test_bme280_driver_settings_and_timing():
    bus = I2cBus.simulated([native.bme280_sim_part(0x76)])
    sensor = native.Bme280(bus, 0x76, temperature=0, pressure=0, humidity=0, filter=12)
    sensor.init()
    assert bus.part(0x76).register(0xF5) == 0x10
    before = bus.waited_micros
    sensor.measure()
    assert bus.waited_micros - before == 1250


@pytest.mark.parametrize("filter_code, written", [(12, 0x10), (13, 0x14), (7, 0x1C), (8, 0x00)])
def test_bmp280_driver_writes_the_filter_as_given(filter_code, written):
    bus = I2cBus.simulated([native.bmp280_sim_part(0x77)])
    native.Bmp280(bus, 0x77, filter=filter_code).init()
    assert bus.part(0x77).register(0xF5) == written


def test_bmp280_driver_against_its_simulated_part():
    bus = I2cBus.simulated([native.bmp280_sim_part(0x77)])
    sensor = native.Bmp280(bus, 0x77)
    assert sensor.coefficients is None
    r = sensor.measure()
    assert (r.celsius, r.pascals, r.hectopascals) == (f32(20.44), 84805, f32(21_710_140 / 25_600))
    assert bus.waited_micros == 8425
    assert sensor.coefficients.dig_p2 == -10646


@pytest.mark.parametrize("driver, part", [
    (lambda bus: native.Bme280(bus, 0x76), native.bmp280_sim_part),
    (lambda bus: native.Bmp280(bus, 0x76), native.bme280_sim_part),
])
def test_drivers_refuse_the_other_part(driver, part):
    bus = I2cBus.simulated([part(0x76)])
    sensor = driver(bus)
    with pytest.raises(TrovikError, match="^sensor identification mismatch$"):
        sensor.init()
    assert bus.waited_micros == 2000
    assert getattr(sensor, "coefficients", None) is None


def test_a_part_that_never_finishes_times_out():
    part = native.bme280_sim_part(0x76)
    part.load(0xF3, b"\x01")
    bus = I2cBus.simulated([part])
    with pytest.raises(TrovikError, match="^the part did not finish its conversion in time$"):
        native.Bme280(bus, 0x76).measure()
    assert bus.waited_micros == 2000 + 20 * 1000


def test_nothing_answering_raises_the_bus_error():
    with pytest.raises(TrovikError):
        native.Bmp280(I2cBus.simulated([]), 0x77).measure()


# ---- the Adafruit drivers, compensating in floating point ---------------------------------------------

@pytest.mark.parametrize("celsius, hectopascals, humidity", [
    (-30.0, 450.0, 10.0), (0.0, 1013.25, 50.0), (21.7, 980.0, 35.0), (45.0, 1080.0, 90.0)])
def test_adafruit_drivers_agree(celsius, hectopascals, humidity):
    bus = I2cBus.simulated([native.bme280_sim_reporting(0x76, celsius, hectopascals, humidity),
                            native.bmp280_sim_reporting(0x77, celsius, hectopascals)])
    ours = native.Bme280(bus, 0x76).measure()
    peer = adafruit_bme280.Adafruit_BME280_I2C(PeerI2C(bus), 0x76)
    # The float formulas keep the fine temperature unrounded where the
    # integer ones step by 0.01 degrees: within two steps of each other.
    assert peer.temperature == pytest.approx(ours.celsius, abs=0.02)
    assert peer.pressure == pytest.approx(ours.hectopascals, abs=0.01)
    assert peer.relative_humidity == pytest.approx(ours.relative_humidity_percent, abs=0.05)

    ours = native.Bmp280(bus, 0x77).measure()
    peer = adafruit_bmp280.Adafruit_BMP280_I2C(PeerI2C(bus), 0x77)
    assert peer.temperature == pytest.approx(ours.celsius, abs=0.02)
    assert peer.pressure == pytest.approx(ours.hectopascals, abs=0.01)
