"""The TI power, ADC and light sensors: codecs, drivers over the shared I2C bus, simulated parts.

The register encodings are checked against independent drivers of the same chips
(Adafruit's INA219 and ADS1x15 drivers, and the `opt3001` package), each run
over a small adapter that carries their transfers on one of our buses to our
simulated parts; the INA226, which has no such driver, against its datasheet's
examples.
"""

import math
import struct
import threading

import pytest

import trovik._native as native
from trovik._native import I2cBus, I2cStep, TrovikError
from peers.circuitpython import PeerI2C, PeerSmbus  # installs the board stand-ins

import adafruit_ina219  # noqa: E402
from adafruit_ads1x15 import ADS1115, AnalogIn  # noqa: E402
from opt3001 import opt3001 as opt3001_peer  # noqa: E402


def word(value):
    return bytes([value >> 8 & 0xFF, value & 0xFF])


def traffic(address, steps):
    """A script from ("w", register, value) writes and ("r", register, value) reads."""
    out = []
    for kind, register, value in steps:
        if kind == "w":
            out.append(I2cStep.write(address, bytes([register]) + word(value)))
        else:
            out.append(I2cStep.write_read(address, bytes([register]), word(value)))
    return out


# ---- exact traffic -----------------------------------------------------------------------------------

INA219_TRAFFIC = [("w", 0x00, 0xB99F), ("w", 0x00, 0x399F), ("w", 0x05, 0x1053), ("r", 0x05, 0x1053),
                  ("w", 0x00, 0x399B), ("r", 0x02, 0x5DC2), ("r", 0x01, 0x1388), ("r", 0x04, 0x13EE),
                  ("r", 0x03, 0x0BF5)]
INA226_TRAFFIC = [("w", 0x00, 0xC127), ("r", 0xFE, 0x5449), ("r", 0xFF, 0x2260), ("w", 0x00, 0x4127),
                  ("w", 0x05, 0x020A), ("r", 0x05, 0x020A), ("w", 0x00, 0x4123), ("r", 0x06, 0x0008),
                  ("r", 0x01, 0x4E20), ("r", 0x02, 0x2580), ("r", 0x04, 0x13EE), ("r", 0x03, 0x0990)]
ADS1115_TRAFFIC = [("w", 0x01, 0x0583), ("r", 0x01, 0x0583), ("w", 0x01, 0x8583), ("r", 0x01, 0x8583),
                   ("r", 0x00, 0x6720)]
OPT3001_TRAFFIC = [("r", 0x7E, 0x5449), ("r", 0x7F, 0x3001), ("w", 0x01, 0xC810), ("w", 0x01, 0xCA10),
                   ("r", 0x01, 0xCA90), ("r", 0x00, 0x4947)]


@pytest.mark.parametrize("make, method, address, steps, waited", [
    (lambda bus: native.Ina219(bus, 0x40), "measure", 0x40, INA219_TRAFFIC, 1064),
    (lambda bus: native.Ina226(bus, 0x40), "measure", 0x40, INA226_TRAFFIC, 2200),
    (lambda bus: native.Ads1115(bus, 0x48), "sample", 0x48, ADS1115_TRAFFIC, 8595),
    (lambda bus: native.Opt3001(bus, 0x44), "measure", 0x44, OPT3001_TRAFFIC, 800_000),
], ids=["INA219", "INA226", "ADS1115", "OPT3001"])
def test_a_first_measurement_is_the_whole_initialisation_then_the_conversion(make, method, address, steps, waited):
    bus = I2cBus.scripted(traffic(address, steps))
    getattr(make(bus), method)()
    assert bus.remaining == 0
    assert bus.waited_micros == waited


@pytest.mark.parametrize("make, method, part, init_transfers", [
    (lambda bus: native.Ina219(bus, 0x40), "measure", native.ina219_sim_part(0x40), 4),
    (lambda bus: native.Ina226(bus, 0x40), "measure", native.ina226_sim_part(0x40), 6),
    (lambda bus: native.Ads1115(bus, 0x48), "sample", native.ads1115_sim_part(0x48), 2),
    (lambda bus: native.Opt3001(bus, 0x44), "measure", native.opt3001_sim_part(0x44), 3),
], ids=["INA219", "INA226", "ADS1115", "OPT3001"])
def test_initialisation_runs_once_lazily_and_in_full_on_every_init(make, method, part, init_transfers):
    bus = I2cBus.simulated([part])
    driver = make(bus)
    getattr(driver, method)()
    first = bus.transfers
    getattr(driver, method)()
    assert bus.transfers - first == first - init_transfers
    before = bus.transfers
    assert driver.init() is None
    assert bus.transfers - before == init_transfers


def test_ina226_set_alert_writes_the_limit_then_the_mask_without_initialising():
    bus = I2cBus.scripted([I2cStep.write(0x40, bytes([0x07, 0x25, 0x80])),
                           I2cStep.write(0x40, bytes([0x06, 0x20, 0x00]))])
    ina = native.Ina226(bus, 0x40)
    assert ina.set_alert(mask=native.Ina226MaskEnable(bus_over_limit=True), limit=0x2580) is None
    assert bus.remaining == 0
    assert ina.identity is None


def test_ina226_set_alert_whose_limit_write_fails_leaves_the_mask_unwritten():
    bus = I2cBus.scripted([I2cStep.fault(0x40, "NoAcknowledgeData"), I2cStep.write(0x40, bytes([0x06, 0x20, 0x00]))])
    with pytest.raises(TrovikError):
        native.Ina226(bus, 0x40).set_alert(native.Ina226MaskEnable(bus_over_limit=True), 1)
    assert bus.remaining == 1


def test_ads1115_sample_input_converts_another_input_and_puts_the_configured_one_back():
    steps = traffic(0x48, [("w", 0x01, 0x3583), ("r", 0x01, 0x3583), ("w", 0x01, 0xB583), ("r", 0x01, 0xB583),
                           ("r", 0x00, 0x0100),
                           ("w", 0x01, 0x0583), ("r", 0x01, 0x0583), ("w", 0x01, 0x8583), ("r", 0x01, 0x8583),
                           ("r", 0x00, 0x0200)])
    bus = I2cBus.scripted(steps)
    adc = native.Ads1115(bus, 0x48)
    assert adc.sample_input(mux=3).raw == 0x100
    assert adc.config.mux == 0
    assert adc.sample().raw == 0x200
    assert bus.remaining == 0


def test_ads1115_sample_input_takes_the_low_three_bits_and_restores_even_on_failure():
    part = native.ads1115_sim_part(0x48)
    bus = I2cBus.simulated([part])
    adc = native.Ads1115(bus, 0x48)
    adc.sample_input(9)
    assert bus.part(0x48).word(0x01) == 0x9583
    failing = native.Ads1115(I2cBus.scripted([I2cStep.fault(0x48, "NoAcknowledgeAddress")]), 0x48)
    with pytest.raises(TrovikError):
        failing.sample_input(5)
    assert failing.config.mux == 0


def test_opt3001_set_limits_encodes_both_limits_and_does_not_initialise():
    bus = I2cBus.scripted(traffic(0x44, [("w", 0x02, 0x0000), ("w", 0x03, 0xBFFF)]))
    native.Opt3001(bus, 0x44).set_limits(0, 83_886_080)
    assert bus.remaining == 0


# ---- drivers on simulated parts -----------------------------------------------------------------------

def test_ina219_reads_its_simulated_part():
    bus = I2cBus.simulated([native.ina219_sim_part(0x40)])
    ina = native.Ina219(bus, 0x40)
    assert (ina.current_lsb_microamps, ina.calibration_word) == (98, 0x1053)
    r = ina.measure()
    assert (r.shunt_microvolts, r.bus_millivolts, r.current_microamps, r.power_microwatts, r.math_overflow) == (
        50000, 12000, 499996, 5999560, False)
    assert (r.shunt, r.bus, r.current, r.power, r.current_lsb_microamps) == (0x1388, 0x5DC2, 0x13EE, 0x0BF5, 98)
    assert bus.part(0x40).word(0x00) == 0x399B


def test_ina226_reads_its_simulated_part_and_keeps_its_identity():
    bus = I2cBus.simulated([native.ina226_sim_part(0x40)])
    ina = native.Ina226(bus, 0x40)
    assert ina.identity is None
    r = ina.measure()
    assert (ina.identity.device, ina.identity.revision) == (550, 0)
    assert (r.shunt_nanovolts, r.shunt_millivolts, r.bus_microvolts, r.bus_volts) == (50_000_000, 50.0, 12_000_000, 12.0)
    assert (r.current_microamps, r.power_microwatts, r.math_overflow) == (499_996, 5_997_600, False)
    assert r.current_amps == struct.unpack("f", struct.pack("f", 0.499996))[0]


@pytest.mark.parametrize("die, revision", [(0x2261, 1), (0x2270, None), (0x2260, 0)])
def test_ina226_accepts_only_its_own_die(die, revision):
    part = native.ina226_sim_part(0x40)
    part.set(0xFF, die)
    ina = native.Ina226(I2cBus.simulated([part]), 0x40)
    if revision is None:
        with pytest.raises(TrovikError, match="^sensor identification mismatch$"):
            ina.init()
        assert ina.identity is None
    else:
        ina.init()
        assert ina.identity.revision == revision


def test_ina226_long_averaging_waits_the_whole_time():
    bus = I2cBus.simulated([native.ina226_sim_part(0x40)])
    config = native.Ina226Config(averaging=7, bus_conversion_time=7, shunt_conversion_time=7)
    native.Ina226(bus, 0x40, config=config).measure()
    assert bus.waited_micros == 16_883_712


@pytest.mark.parametrize("volts, pga, raw, clipped", [
    (1.65, 2, 26400, False), (3.0, 2, 32767, True), (-3.0, 2, -32768, True), (0.1, 5, 12800, False),
    (-1.0, 0, -5333, False),
])
def test_ads1115_reads_what_its_simulated_part_reports(volts, pga, raw, clipped):
    bus = I2cBus.simulated([native.ads1115_sim_reporting(0x48, pga, volts)])
    s = native.Ads1115(bus, 0x48, pga=pga).sample()
    assert (s.raw, s.pga, s.clipped) == (raw, pga, clipped)
    assert s.nanovolts == native.ads1115_to_nanovolts(pga, raw)


def test_ads1115_default_sample_and_its_gain_folding():
    s = native.Ads1115(I2cBus.simulated([native.ads1115_sim_part(0x48)]), 0x48).sample()
    assert (s.raw, s.nanovolts, s.volts, s.clipped) == (26400, 1_650_000_000, 1.649999976158142, False)
    adc = native.Ads1115(I2cBus.simulated([native.ads1115_sim_part(0x48)]), 0x48, pga=7)
    assert adc.config.pga == 5
    adc.init()


@pytest.mark.parametrize("lux, raw", [(380.0, 0x4947), (100000.0, 0xBFFF), (-1.0, 0x0000), (0.015, 0x0001),
                                      (40.95, 0x0FFF)])
def test_opt3001_reads_what_its_simulated_part_reports(lux, raw):
    bus = I2cBus.simulated([native.opt3001_sim_reporting(0x44, lux)])
    r = native.Opt3001(bus, 0x44, long_conversion=False).measure()
    assert (r.raw, r.milli_lux) == (raw, native.opt3001_milli_lux(raw))
    assert bus.waited_micros == 100_000
    assert bus.part(0x44).word(0x01) == 0xC290  # automatic range, single shot, the part's own flags kept


def test_opt3001_measurement_leaves_the_single_shot_word_with_the_parts_flags():
    bus = I2cBus.simulated([native.opt3001_sim_part(0x44)])
    light = native.Opt3001(bus, 0x44)
    r = light.measure()
    assert (r.raw, r.milli_lux, r.lux) == (0x4947, 380_000, 380.0)
    assert bus.part(0x44).word(0x01) == 0xCA90
    assert light.configuration == native.Opt3001Config()


# ---- failures --------------------------------------------------------------------------------------------

@pytest.mark.parametrize("make, method", [
    (lambda bus: native.Ina219(bus, 0x41), "measure"), (lambda bus: native.Ina226(bus, 0x41), "measure"),
    (lambda bus: native.Ads1115(bus, 0x41), "sample"), (lambda bus: native.Opt3001(bus, 0x41), "measure"),
], ids=["INA219", "INA226", "ADS1115", "OPT3001"])
def test_nothing_at_the_address_fails_with_the_bus_words_and_is_tried_again(make, method):
    bus = I2cBus.simulated()
    driver = make(bus)
    for _ in range(2):
        with pytest.raises(TrovikError) as raised:
            getattr(driver, method)()
        assert raised.value.args == ("nothing answered at 0x41",)
    assert bus.transfers == 2
    bus.attach({"INA219": native.ina219_sim_part, "INA226": native.ina226_sim_part,
                "ADS1115": native.ads1115_sim_part, "OPT3001": native.opt3001_sim_part}[
        type(driver).__name__.upper()](0x41))
    getattr(driver, method)()


def never_ready(part, register, flag):
    """The part with its ready flag cleared and held clear, whatever a driver writes."""
    part.set(register, part.word(register) & ~flag)
    part.read_only(register, flag)
    return part


@pytest.mark.parametrize("part, make, method, waited", [
    (never_ready(native.ina219_sim_part(0x40), 0x02, 0x0002), lambda b: native.Ina219(b, 0x40), "measure",
     1064 + 20_000),
    (never_ready(native.ina226_sim_part(0x40), 0x06, 0x0008), lambda b: native.Ina226(b, 0x40), "measure",
     2200 + 20_000),
    (never_ready(native.ads1115_sim_part(0x48), 0x01, 0x8000), lambda b: native.Ads1115(b, 0x48), "sample",
     8595 + 10_000),
    (never_ready(native.opt3001_sim_part(0x44), 0x01, 0x0080), lambda b: native.Opt3001(b, 0x44), "measure",
     800_000 + 100 * 10_000),
], ids=["INA219", "INA226", "ADS1115", "OPT3001"])
def test_a_part_that_never_finishes_times_out_after_its_polls(part, make, method, waited):
    bus = I2cBus.simulated([part])
    with pytest.raises(TrovikError, match="^the part did not finish its conversion in time$"):
        getattr(make(bus), method)()
    assert bus.waited_micros == waited


def test_a_calibration_that_does_not_read_back_is_an_identification_mismatch():
    part = native.ina219_sim_part(0x40)
    part.read_only(0x05, 0xFFFF)
    with pytest.raises(TrovikError, match="^sensor identification mismatch$"):
        native.Ina219(I2cBus.simulated([part]), 0x40).init()


@pytest.mark.parametrize("back, accepted", [(0x0B83, True), (0x8B83, True), (0x0F83, True), (0x0B63, False),
                                            (0x0583, False)])
def test_ads1115_read_back_ignores_only_the_status_bit_and_the_repeated_gains(back, accepted):
    part = native.WordPart(0x48)
    part.set(0x01, back)
    part.read_only(0x01, 0xFFFF)
    adc = native.Ads1115(I2cBus.simulated([part]), 0x48, pga=5)
    if accepted:
        adc.init()
    else:
        with pytest.raises(TrovikError, match="^sensor identification mismatch$"):
            adc.init()


def test_a_driver_needs_a_bus():
    with pytest.raises(TypeError):
        native.Ina219(bus=None, address=0x40)
    with pytest.raises(OverflowError):
        native.Ads1115(I2cBus.simulated(), 0x148)


# ---- configuration classes -----------------------------------------------------------------------------

CONFIGS = [native.Ina219Config, native.Ina226Config, native.Ina226MaskEnable, native.Ads1115Config,
           native.Opt3001Config]


@pytest.mark.parametrize("cls", CONFIGS)
def test_configuration_classes_compare_field_by_field_and_are_unhashable(cls):
    assert cls() == cls()
    assert not (cls() != cls())
    assert cls() != None  # noqa: E711
    assert not (cls() == 1)
    with pytest.raises(TypeError):
        cls() < cls()
    with pytest.raises(TypeError):
        hash(cls())


@pytest.mark.parametrize("cls, field", [(native.Ina219Config, "gain"), (native.Ina226Config, "averaging"),
                                        (native.Ads1115Config, "pga"), (native.Opt3001Config, "range_number")])
def test_configuration_codes_are_stored_unchecked_within_a_byte(cls, field):
    config = cls()
    setattr(config, field, 200)
    assert getattr(config, field) == 200
    assert config != cls()
    with pytest.raises(OverflowError):
        setattr(config, field, 300)
    with pytest.raises(TypeError):
        setattr(config, field, "3")


def test_a_driver_copies_its_configuration():
    config = native.Ina219Config(mode=7)
    bus = I2cBus.simulated([native.ina219_sim_part(0x40)])
    ina = native.Ina219(bus, 0x40, config=config)
    config.bus_range = 0
    config.gain = 0
    ina.init()
    assert bus.part(0x40).word(0x00) == 0x399F


# ---- codec tables -------------------------------------------------------------------------------------

@pytest.mark.parametrize("fn, args, result", [
    ("ina219_calibration", (98, 100), 4179), ("ina219_calibration", (1, 1), 0), ("ina219_calibration", (0, 100), 0),
    ("ina219_calibration", (65536, 65536), 0),
    ("ina219_minimum_current_lsb_microamps", (3_200_000,), 98), ("ina219_minimum_current_lsb_microamps", (32_768,), 1),
    ("ina219_minimum_current_lsb_microamps", (32_769,), 2), ("ina219_minimum_current_lsb_microamps", (0,), 0),
    ("ina219_bus_register", (12000,), 0x5DC2), ("ina219_bus_millivolts", (0x5DC2,), 12000),
    ("ina219_current_register", (-1000, 0), 0), ("ina219_shunt_register", (50000,), 5000),
    ("ina219_shunt_microvolts", (-32768,), -327680), ("ina219_conversion_ready", (0x0002,), True),
    ("ina219_math_overflow", (0x0001,), True), ("ina219_power_register", (5_999_560, 98), 0x0BF5),
    ("ina219_power_microwatts", (0x0BF5, 98), 5_999_560), ("ina219_current_microamps", (-2, 98), -196),
    # Wide products: a large step never wraps a reading.
    ("ina219_current_microamps", (-32768, 4_000_000_000), -32768 * 4_000_000_000),
    ("ina219_power_microwatts", (0xFFFF, 4_000_000_000), 0xFFFF * 4_000_000_000 * 20),
    ("ina226_current_microamps", (32767, 4_294_967_295), 32767 * 4_294_967_295),
    ("ina226_power_microwatts", (0xFFFF, 4_294_967_295), 0xFFFF * 4_294_967_295 * 25),
    ("ina219_address", (0, 0), 0x40), ("ina219_address", (3, 2), 0x4E), ("ina226_address", (1, 1), 0x45),
    ("ina219_adc_conversion_micros", (3,), 532), ("ina219_adc_conversion_micros", (7,), 532),
    ("ina219_adc_conversion_micros", (8,), 532), ("ina219_adc_conversion_micros", (0,), 84),
    ("ina219_adc_conversion_micros", (4,), 84), ("ina219_adc_conversion_micros", (16,), 84),
    ("ina219_adc_conversion_micros", (15,), 68100), ("ina219_gain_range_millivolts", (2,), 160),
    ("ina219_gain_range_millivolts", (7,), 320),
    ("ina226_calibration", (98, 100), 522), ("ina226_calibration", (1, 100), 32767),
    ("ina226_calibration", (100, 100), 512), ("ina226_calibration", (0, 7), 0),
    ("ina226_calibration", (65536, 65536), 0), ("ina226_calibration", (1, 1), 0x7FFF),
    ("ina226_minimum_current_lsb_microamps", (3_200_000,), 98),
    ("ina226_averaging_samples", (7,), 1024), ("ina226_averaging_samples", (9,), 4),
    ("ina226_conversion_micros", (4,), 1100), ("ina226_measures_shunt", (5,), True),
    ("ina226_measures_bus", (5,), False), ("ina226_is_continuous", (4,), False), ("ina226_is_continuous", (5,), True),
    ("ina226_current_register_from_shunt", (-1, 1), 0), ("ina226_current_register_from_shunt", (20000, 522), 5097),
    ("ina226_power_register_from_current", (-32768, 0xFFFF), 53685),
    ("ina226_shunt_register", (-2499,), 0), ("ina226_shunt_register", (-2500,), -1),
    ("ina226_bus_register", (12_000_000,), 0x2580), ("ina226_bus_volts", (0x8000,), 0.0),
    ("ina226_shunt_millivolts", (20000,), 50.0), ("ina226_shunt_nanovolts", (-4,), -10000),
    ("ina226_bus_microvolts", (0xFFFF,), 40_958_750), ("ina226_current_register", (500_000, 98), 5102),
    ("ina226_power_register", (6_000_000, 98), 2448),
    ("ads1115_conversion_micros", (4,), 8595), ("ads1115_conversion_micros", (0,), 137_500),
    ("ads1115_conversion_micros", (7,), 1280), ("ads1115_conversion_micros", (3,), 17_188),
    ("ads1115_full_scale_microvolts", (7,), 256_000), ("ads1115_full_scale_microvolts", (0,), 6_144_000),
    ("ads1115_samples_per_second", (12,), 128), ("ads1115_to_nanovolts", (5, 1), 7812),
    ("ads1115_to_nanovolts", (5, -1), -7812), ("ads1115_to_nanovolts", (0, 32767), 6_143_812_500),
    ("opt3001_milli_lux", (0x4947,), 380_000), ("opt3001_milli_lux", (0xBFFF,), 83_865_600),
    ("opt3001_milli_lux", (0xF001,), 327_680), ("opt3001_lux", (0x4947,), 380.0),
    ("opt3001_lsb_milli_lux", (0,), 10), ("opt3001_lsb_milli_lux", (11,), 20_480), ("opt3001_lsb_milli_lux", (12,), None),
    ("opt3001_raw_from_milli_lux", (40_950,), 0x0FFF), ("opt3001_raw_from_milli_lux", (40_960,), 0x1800),
    ("opt3001_raw_from_milli_lux", (83_886_080,), 0xBFFF), ("opt3001_raw_from_milli_lux", (0,), 0),
    ("opt3001_full_scale_milli_lux", (0,), 40_950), ("opt3001_full_scale_milli_lux", (11,), 83_865_600),
    ("opt3001_full_scale_milli_lux", (12,), None), ("opt3001_is_automatic_range", (12,), True),
    ("opt3001_is_automatic_range", (13,), False), ("opt3001_conversion_millis", (True,), 800),
    ("opt3001_conversion_millis", (False,), 100), ("opt3001_fault_count", (3,), 8), ("opt3001_fault_count", (4,), 1),
    ("opt3001_word_from_bytes", (b"\x49\x47",), 0x4947), ("opt3001_word_from_bytes", ([0xBF, 0xFF],), 0xBFFF),
    ("opt3001_word_to_bytes", (0x4947,), b"\x49\x47"),
])
def test_codec_functions(fn, args, result):
    assert getattr(native, fn)(*args) == result


@pytest.mark.parametrize("fn, args, error, text", [
    ("ina219_address", (4, 0), ValueError, "an address pin must be tied to GND, the supply, SDA, or SCL: code 0 to 3"),
    ("ina226_address", (0, 9), ValueError, "an address pin must be tied to GND, the supply, SDA, or SCL: code 0 to 3"),
    ("ina226_identify", (0x5449, 0x2270), TrovikError, "sensor identification mismatch"),
    ("ina226_identify", (0x5448, 0x2260), TrovikError, "sensor identification mismatch"),
    ("opt3001_word_from_bytes", (b"\x01\x02\x03",), ValueError, "register must be exactly 2 bytes"),
    ("opt3001_word_from_bytes", (b"",), ValueError, "register must be exactly 2 bytes"),
])
def test_codec_function_refusals(fn, args, error, text):
    with pytest.raises(error) as raised:
        getattr(native, fn)(*args)
    assert raised.value.args == (text,)
    with pytest.raises(TypeError):
        native.opt3001_word_from_bytes("ab")


def test_configuration_registers_assemble_and_parse():
    assert native.ina219_config_bits(native.Ina219Config()) == 0x399F
    assert native.ina219_config_bits(native.Ina219Config(bus_adc=8)) == 0x399F
    assert native.ina219_config_from_bits(0x3C1F).bus_adc == 3
    assert native.ina219_config_from_bits(0x3A1F).bus_adc == 0
    assert native.ina219_config_from_bits(0xFFFF) == native.Ina219Config(True, 1, 3, 15, 15, 7)
    assert native.ina219_conversion_micros(native.Ina219Config()) == 1064
    assert native.ina219_conversion_micros(native.Ina219Config(mode=4)) == 0
    assert native.ina226_config_to_register(native.Ina226Config()) == 0x4127
    assert native.ina226_config_from_register(0x4127) == native.Ina226Config()
    assert native.ina226_config_from_register(0x4124).mode == 0
    assert native.ina226_config_to_register(native.Ina226Config(mode=4)) == 0x4120
    assert native.ina226_update_micros(native.Ina226Config()) == 2200
    assert native.ina226_update_micros(native.Ina226Config(averaging=7)) == 2_252_800
    mask = native.ina226_mask_enable_from_register(0xFFFF)
    assert all(getattr(mask, f) for f in ("shunt_over_limit", "conversion_ready", "alert_latch", "math_overflow"))
    assert native.ina226_mask_enable_to_register(mask) == 0xFC1F
    assert native.ina226_active_alert_function(
        native.Ina226MaskEnable(bus_under_limit=True, shunt_under_limit=True)) == "ShuntUnderLimit"
    assert native.ina226_active_alert_function(native.Ina226MaskEnable(conversion_ready=True)) is None
    die = native.ina226_die_id(0x2261)
    assert (die.device, die.revision) == (0x226, 1)
    assert native.ina226_identify(0x5449, 0x2261).revision == 1
    assert native.ads1115_config_bits(native.Ads1115Config()) == 0x8583
    assert native.ads1115_config_bits(native.Ads1115Config(pga=6)) == 0x8B83
    assert native.ads1115_config_bits(native.Ads1115Config(pga=8)) == 0x8183
    assert native.ads1115_config_from_bits(0x8583) == native.Ads1115Config()
    assert native.ads1115_config_from_bits(0x0F83).pga == 5
    assert native.opt3001_config_bits(native.Opt3001Config()) == 0xC810
    assert native.opt3001_config_bits(native.Opt3001Config(overflow=True, conversion_ready=True)) == 0xC810
    assert native.opt3001_config_bits(native.Opt3001Config(mode=3)) == 0xCC10
    assert native.opt3001_config_from_bits(0xC810) == native.Opt3001Config()
    assert native.opt3001_config_from_bits(0xCE10).mode == 2
    assert native.opt3001_config_from_bits(0xCA90).conversion_ready


# ---- simulated parts -----------------------------------------------------------------------------------

def words(part, registers):
    return [part.word(r) for r in registers]


def test_simulated_parts_hold_the_reference_registers():
    assert words(native.ina219_sim_part(0x40), [1, 2, 3, 4, 0, 5]) == [0x1388, 0x5DC2, 0x0BF5, 0x13EE, 0, 0]
    assert words(native.ina226_sim_part(0x40), [1, 2, 3, 4, 6, 0xFE, 0xFF]) == [
        0x4E20, 0x2580, 0x0990, 0x13EE, 0x0008, 0x5449, 0x2260]
    assert words(native.ads1115_sim_part(0x48), [0, 1]) == [0x6720, 0x8583]
    assert words(native.opt3001_sim_part(0x44), [0, 1, 0x7E, 0x7F]) == [0x4947, 0xC890, 0x5449, 0x3001]
    assert words(native.ina219_sim_reporting(0x40, 100, 3_200_000, 12000, 500_000), range(256)) == words(
        native.ina219_sim_part(0x40), range(256))
    assert words(native.ina226_sim_reporting(0x40, 100, 3_200_000, 12_000_000, 500_000), range(256)) == words(
        native.ina226_sim_part(0x40), range(256))


@pytest.mark.parametrize("fn, args, register, value", [
    ("ads1115_sim_reporting", (0x48, 2, 10.0), 0, 0x7FFF), ("ads1115_sim_reporting", (0x48, 2, -10.0), 0, 0x8000),
    ("ads1115_sim_reporting", (0x48, 2, math.nan), 0, 0x8000),
    ("opt3001_sim_reporting", (0x44, 100000.0), 0, 0xBFFF), ("opt3001_sim_reporting", (0x44, -1.0), 0, 0),
    ("opt3001_sim_reporting", (0x44, math.nan), 0, 0), ("opt3001_sim_reporting", (0x44, math.inf), 0, 0xBFFF),
    ("ina226_sim_reporting", (0x40, 100, 0, 12_000_000, 500_000), 4, 0),
    ("ina226_sim_reporting", (0x40, 100, 0, 12_000_000, 500_000), 1, 0x4E20),
    ("ina226_sim_reporting", (0x40, 100, 3_200_000, 12_000_000, -500_000), 4, 0x10000 - 5102),
    ("ina226_sim_reporting", (0x40, 100, 3_200_000, 12_000_000, -500_000), 3, 0x0990),
    # Past what a signed 32-bit product holds: the register ends at full scale instead of wrapping.
    ("ina226_sim_reporting", (0x40, 1_000_000, 3_200_000, 12_000_000, 2_000_000), 1, 0x7FFF),
    ("ina226_sim_reporting", (0x40, 1_000_000, 3_200_000, 12_000_000, -2_000_000), 1, 0x8000),
    ("ina219_sim_reporting", (0x40, 100_000, 1_000_000, 40_000, -2_000_000_000), 1, 0x8000),
    ("ina219_sim_reporting", (0x40, 100, 0, 5000, 1000), 3, 0),
])
def test_simulated_reporting_parts(fn, args, register, value):
    assert getattr(native, fn)(*args).word(register) == value


# ---- against the independent drivers ----------------------------------------------------------------------

@pytest.mark.parametrize("bus_mv, microamps", [(12000, 500_000), (3300, -250_000), (31996, 3_000_000), (0, 0)])
def test_adafruit_ina219_reads_our_simulated_part_as_we_do(bus_mv, microamps):
    bus = I2cBus.simulated([native.ina219_sim_reporting(0x40, 100, 3_200_000, bus_mv, microamps)])
    peer = adafruit_ina219.INA219(PeerI2C(bus), 0x40)
    ours = native.Ina219(bus, 0x40).measure()
    assert peer.bus_voltage * 1000 == pytest.approx(ours.bus_millivolts)
    assert peer.shunt_voltage * 1_000_000 == pytest.approx(ours.shunt_microvolts)
    assert peer.conversion_ready == native.ina219_conversion_ready(ours.bus)
    assert peer.overflow == ours.math_overflow


def test_adafruit_ina219_writes_the_calibration_and_configuration_we_compute():
    bus = I2cBus.simulated([native.ina219_sim_part(0x40)])
    peer = adafruit_ina219.INA219(PeerI2C(bus), 0x40)  # 32 V, 2 A: a 100 uA step on 100 milliohms
    part = bus.part(0x40)
    assert part.word(0x05) == native.ina219_calibration(100, 100)
    assert native.ina219_config_from_bits(part.word(0x00)) == native.Ina219Config()
    peer.bus_adc_resolution = adafruit_ina219.ADCResolution.ADCRES_12BIT_32S
    peer.shunt_adc_resolution = adafruit_ina219.ADCResolution.ADCRES_10BIT_1S
    peer.gain = adafruit_ina219.Gain.DIV_2_80MV
    peer.bus_voltage_range = adafruit_ina219.BusVoltageRange.RANGE_16V
    peer.mode = adafruit_ina219.Mode.SVOLT_TRIGGERED
    written = bus.part(0x40).word(0x00)
    ours = native.Ina219Config(bus_range=0, gain=1, bus_adc=13, shunt_adc=1, mode=1)
    assert native.ina219_config_bits(ours) == written
    assert native.ina219_config_from_bits(written) == ours
    assert native.ina219_adc_conversion_micros(13) == 17_020


@pytest.mark.parametrize("gain, pga", [(2 / 3, 0), (1, 1), (2, 2), (4, 3), (8, 4), (16, 5)])
@pytest.mark.parametrize("volts", [0.1, -0.2, 0.25])
def test_adafruit_ads1115_reads_our_simulated_part_as_we_do(gain, pga, volts):
    bus = I2cBus.simulated([native.ads1115_sim_reporting(0x48, pga, volts)])
    peer = ADS1115(PeerI2C(bus), gain=gain, address=0x48)
    channel = AnalogIn(peer, 0, 1)  # the differential pair AIN0 - AIN1, mux 0
    raw = channel.value
    config = native.ads1115_config_from_bits(bus.part(0x48).word(0x01))
    assert (config.mux, config.pga, config.single_shot) == (0, pga, True)
    assert native.ads1115_samples_per_second(config.data_rate) == peer.data_rate
    ours = native.Ads1115(bus, 0x48, pga=pga).sample()
    assert ours.raw == raw
    # The peer divides by 32767 where the datasheet's step is full scale / 32768.
    assert ours.volts == pytest.approx(channel.voltage, rel=1e-4)
    assert ours.volts == pytest.approx(volts, abs=native.ads1115_full_scale_microvolts(pga) / 32768 / 1e6)


@pytest.mark.parametrize("lux", [0.0, 0.01, 1.5, 380.0, 4000.0, 40950.0, 83865.6])
def test_opt3001_package_reads_our_simulated_part_as_we_do(lux):
    bus = I2cBus.simulated([native.opt3001_sim_reporting(0x44, lux)])
    PeerSmbus.bus = bus
    peer = opt3001_peer.OPT3001(0x44)
    assert (peer.read_manufacture_id(), peer.read_device_id()) == (0x5449, 0x3001)
    ours = native.Opt3001(bus, 0x44).measure()
    assert ours.milli_lux == round(peer.read_lux_float() * 1000)
    assert ours.lux == pytest.approx(peer.read_lux_float(), rel=1e-7)  # ours in single precision
    assert ours.lux == pytest.approx(lux, rel=1 / 4096, abs=0.01)


# ---- the driver frame and threads -----------------------------------------------------------------------

def test_many_threads_on_one_bus_interleave_whole_measurements():
    bus = I2cBus.simulated([native.ina219_sim_part(0x40), native.ina226_sim_part(0x41),
                            native.ads1115_sim_part(0x48), native.opt3001_sim_part(0x44)])
    drivers = [(native.Ina219(bus, 0x40), "measure"), (native.Ina226(bus, 0x41), "measure"),
               (native.Ads1115(bus, 0x48), "sample"), (native.Opt3001(bus, 0x44), "measure")]
    failures = []

    def run(driver, method):
        try:
            for _ in range(300):
                getattr(driver, method)()
        except Exception as e:  # pragma: no cover - reported below
            failures.append(e)

    threads = [threading.Thread(target=run, args=d) for d in drivers for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
    # 2 threads x 300 measurements each, plus one initialisation per driver.
    assert bus.transfers == 600 * (5 + 6 + 3 + 3) + 4 + 6 + 2 + 3


def test_one_driver_called_from_many_threads_keeps_its_sequence_whole():
    bus = I2cBus.scripted(traffic(0x48, ADS1115_TRAFFIC[:2] + ADS1115_TRAFFIC[2:] * 200))
    adc = native.Ads1115(bus, 0x48)
    threads = [threading.Thread(target=lambda: [adc.sample() for _ in range(50)]) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert bus.remaining == 0
