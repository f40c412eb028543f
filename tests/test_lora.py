"""LoRa link settings (time on air, duty cycle), the link budget, and the small
channel-plan value classes made from Python."""
import math
import random
from fractions import Fraction

import pytest

import trovik._native as native

U64_MAX = 2**64 - 1
OUT_OF_RANGE = "out of range integral type conversion attempted"


# ---- time on air against the Semtech formula -------------------------------------------


def semtech_airtime_us(sf, bw, cr_denominator, payload, explicit_header=True, crc=True, preamble=8):
    """Semtech's LoRa time-on-air formula (SX1276 datasheet 4.1.1.7), in exact fractions."""
    t_sym = Fraction(2**sf, bw)  # seconds
    de = 1 if t_sym > Fraction(16, 1000) else 0  # low data rate optimisation above 16 ms
    ih = 0 if explicit_header else 1
    cr = cr_denominator - 4  # the datasheet's CR is 1 to 4 for 4/5 to 4/8
    numerator = 8 * payload - 4 * sf + 28 + 16 * int(crc) - 20 * ih
    payload_symbols = 8 + max(math.ceil(Fraction(numerator, 4 * (sf - 2 * de))) * (cr + 4), 0)
    t_preamble = (preamble + Fraction(17, 4)) * t_sym
    return math.floor((t_preamble + payload_symbols * t_sym) * 10**6)


@pytest.mark.parametrize("bw", [125_000, 250_000, 500_000])
@pytest.mark.parametrize("sf", [7, 8, 9, 10, 11, 12])
def test_airtime_matches_semtech_formula(sf, bw):
    for cr in (5, 6, 7, 8):
        for explicit_header in (True, False):
            for crc in (True, False):
                link = native.LoraLink(sf, bw, cr, 8, explicit_header, crc)
                for payload in range(256):
                    expected = semtech_airtime_us(sf, bw, cr, payload, explicit_header, crc)
                    assert link.airtime_us(payload) == expected, (cr, explicit_header, crc, payload)


@pytest.mark.parametrize("preamble", [0, 6, 12, 65535])
def test_airtime_follows_preamble_length(preamble):
    for sf, bw in [(7, 125_000), (12, 125_000), (10, 500_000)]:
        link = native.LoraLink(sf, bw, preamble_symbols=preamble)
        for payload in (0, 13, 51, 255):
            assert link.airtime_us(payload) == semtech_airtime_us(sf, bw, 5, payload, preamble=preamble)


def test_zero_preamble_is_kept_and_saves_eight_symbols():
    default, bare = native.LoraLink(7, 125_000), native.LoraLink(7, 125_000, preamble_symbols=0)
    assert bare.preamble_symbols == 0
    assert default.airtime_us(13) - bare.airtime_us(13) == 8 * 1024


# (SF, BW, payload, airtime, off time at 10 permille, messages per hour at 10 and at 1000)
REFERENCE = [
    (7, 125_000, 13, 46336, 4587264, 776, 77693),
    (7, 125_000, 0, 25856, 2559744, 1392, 139232),
    (12, 125_000, 13, 1155072, 114352128, 31, 3116),
    (12, 125_000, 0, 663552, 65691648, 54, 5425),
    (11, 125_000, 13, 577536, 57176064, 62, 6233),
    (12, 500_000, 13, 288768, 28588032, 124, 12466),
    (9, 125_000, 51, 328704, 32541696, 109, 10952),
    (8, 500_000, 33, 33408, 3307392, 1077, 107758),
    (5, 500_000, 0, 1936, 191664, 18595, 1859504),
]


@pytest.mark.parametrize("sf, bw, payload, airtime, off, per_hour, per_hour_free", REFERENCE)
def test_reference_links(sf, bw, payload, airtime, off, per_hour, per_hour_free):
    link = native.LoraLink(sf, bw)
    assert link.airtime_us(payload) == airtime
    assert link.min_off_time_us(payload, 10) == off == 99 * airtime
    assert link.messages_per_hour(payload, 10) == per_hour
    assert link.messages_per_hour(payload, 1000) == per_hour_free


@pytest.mark.parametrize("sf", [5, 6])
def test_short_spreading_factors_use_the_same_formula(sf):
    # SF5 and SF6 are timed like every other spreading factor, with no
    # separate preamble rule.
    for bw in (125_000, 250_000, 500_000):
        for cr in (5, 8):
            link = native.LoraLink(sf, bw, cr)
            for payload in (0, 1, 13, 51, 255):
                assert link.airtime_us(payload) == semtech_airtime_us(sf, bw, cr, payload)


@pytest.mark.parametrize("kwargs, airtime", [
    ({"explicit_header": False}, 41216),  # 28 payload symbols
    ({"coding_rate_denominator": 8}, 61696),  # 48 payload symbols
])
def test_reference_header_and_coding_rate(kwargs, airtime):
    assert native.LoraLink(7, 125_000, **kwargs).airtime_us(13) == airtime


def test_empty_frames_carry_eight_payload_symbols():
    # n = -4 with CRC and explicit header, n = -40 without either: both 8 symbols.
    assert native.LoraLink(12, 125_000).airtime_us(0) == 663552
    assert native.LoraLink(12, 125_000, explicit_header=False, crc=False).airtime_us(0) == 663552


def test_saturation_instead_of_wrapping():
    slowest = native.LoraLink(12, 0)  # 1 Hz
    assert slowest.airtime_us(U64_MAX) == U64_MAX
    assert slowest.min_off_time_us(U64_MAX, 1) == U64_MAX
    assert slowest.messages_per_hour(U64_MAX, 1) == 0
    # Airtime rounds down to 0 us: each frame counts as costing 1 us.
    fastest = native.LoraLink(5, 4_294_967_295)
    assert fastest.airtime_us(0) == 0
    assert fastest.messages_per_hour(0, 1) == fastest.messages_per_hour(0, 1000) == 3_600_000_000


@pytest.mark.parametrize("permille, off", [(0, None), (1000, 0), (5000, 0), (10, 99 * 46336), (500, 46336)])
def test_min_off_time(permille, off):
    assert native.LoraLink(7, 125_000).min_off_time_us(13, permille) == off


def test_messages_per_hour_without_allowance_is_zero():
    assert native.LoraLink(7, 125_000).messages_per_hour(13, 0) == 0


@pytest.mark.parametrize("sf, bw, symbol_us, ldro", [
    (11, 125_000, 16384, True),
    (12, 250_000, 16384, True),
    (10, 62_500, 16384, True),
    (12, 500_000, 8192, False),
    (11, 128_000, 16000, False),  # exactly 16 ms stays off
    (10, 125_000, 8192, False),
])
def test_symbol_time_and_low_data_rate_optimization(sf, bw, symbol_us, ldro):
    link = native.LoraLink(sf, bw)
    assert link.symbol_time_us() == symbol_us
    assert link.low_data_rate_optimization() is ldro


# ---- LoraLink values and arguments ----------------------------------------------------------


@pytest.mark.parametrize("args, stored", [
    ((0, 0), (5, 1, 5, 8, True, True)),
    ((13, 0, 9), (12, 1, 8, 8, True, True)),
    ((255, 4_294_967_295, 255, 65535, False, False), (12, 4_294_967_295, 8, 65535, False, False)),
    ((7, 125_000, 0, 12, True, False), (7, 125_000, 5, 12, True, False)),
    ((9, 812_500, 6), (9, 812_500, 6, 8, True, True)),
])
def test_link_values_are_clamped_as_documented(args, stored):
    link = native.LoraLink(*args)
    got = (link.spreading_factor, link.bandwidth_hz, link.coding_rate_denominator,
           link.preamble_symbols, link.explicit_header, link.crc)
    assert got == stored
    assert type(link.explicit_header) is bool and type(link.crc) is bool


@pytest.mark.parametrize("args, kwargs, error, message", [
    ((256, 125_000), {}, OverflowError, OUT_OF_RANGE),
    ((-1, 125_000), {}, OverflowError, OUT_OF_RANGE),
    ((7, 2**32), {}, OverflowError, OUT_OF_RANGE),
    ((7, 125_000), {"preamble_symbols": 65536}, OverflowError, OUT_OF_RANGE),
    ((7, 125_000), {"explicit_header": 1}, TypeError, "'int' object is not an instance of 'bool'"),
    ((7.0, 125_000), {}, TypeError, None),
    ((7,), {}, TypeError, "LoraLink.__new__() missing 1 required positional argument: 'bandwidth_hz'"),
    ((7, 125_000), {"bandwidth": 1}, TypeError, "LoraLink.__new__() got an unexpected keyword argument 'bandwidth'"),
])
def test_link_argument_refusals(args, kwargs, error, message):
    with pytest.raises(error) as caught:
        native.LoraLink(*args, **kwargs)
    if message is not None:
        assert str(caught.value) == message


@pytest.mark.parametrize("call", [
    lambda link: link.airtime_us(-1),
    lambda link: link.airtime_us(2**64),
    lambda link: link.min_off_time_us(13, -1),
    lambda link: link.messages_per_hour(13, 2**32),
])
def test_link_method_overflow(call):
    with pytest.raises(OverflowError):
        call(native.LoraLink(7, 125_000))


def test_link_has_no_value_semantics_and_no_setters():
    a, b = native.LoraLink(7, 125_000), native.LoraLink(7, 125_000)
    assert a != b and a == a
    assert "LoraLink object at" in repr(a)
    assert len({a, b}) == 2
    with pytest.raises(AttributeError):
        a.spreading_factor = 9
    assert a.spreading_factor == 7


def test_plan_link_settings_are_ready_for_airtime():
    link = native.ChannelPlan.for_region("EU868").link_settings(6)
    assert (link.spreading_factor, link.bandwidth_hz, link.coding_rate_denominator,
            link.preamble_symbols, link.explicit_header, link.crc) == (7, 250_000, 5, 8, True, True)
    assert link.airtime_us(13) == semtech_airtime_us(7, 250_000, 5, 13)


# ---- link budget against textbook formulas ------------------------------------------------------

C = 299_792_458.0
SNR_DB = {5: -2.5, 6: -5.0, 7: -7.5, 8: -10.0, 9: -12.5, 10: -15.0, 11: -17.5, 12: -20.0}
# Hundredths of a decibel: results may differ from the unrounded value by half a hundredth.
HALF_HUNDREDTH = 0.005 + 1e-9

_rng = random.Random(868)
BANDWIDTHS = [1, 2, 10, 7_800, 10_400, 15_600, 20_800, 31_250, 41_700, 62_500, 125_000, 250_000,
              500_000, 812_500, 1_625_000, 1_000_000, 2**31, 2**32 - 1] + [_rng.randrange(1, 2**32) for _ in range(40)]
DISTANCES = [1, 2, 10, 100, 1_000, 12_345, 100_000, 4_000_000, 2**32 - 1]
FREQUENCIES = [1, 1_000, 433_175_000, 868_100_000, 915_000_000, 2_400_000_000, 2**32 - 1]


def hundredths(value):
    """The value is a whole number of hundredths of a decibel."""
    return abs(value * 100 - round(value * 100)) < 1e-6


def test_noise_floor_against_textbook():
    for bw in BANDWIDTHS:
        got = native.lora_noise_floor_dbm(bw)
        assert hundredths(got)
        assert abs(got - (-174 + 10 * math.log10(bw))) <= HALF_HUNDREDTH, bw


def test_free_space_loss_against_textbook():
    for d in DISTANCES:
        for f in FREQUENCIES:
            textbook = 20 * math.log10(d) + 20 * math.log10(f) + 20 * math.log10(4 * math.pi / C)
            got = native.lora_free_space_loss_db(d, f)
            assert hundredths(got)
            assert abs(got - textbook) <= HALF_HUNDREDTH, (d, f)


def test_fresnel_radius_against_textbook():
    for near in DISTANCES[:-1] + [0]:
        for far in DISTANCES[:-1]:
            for f in FREQUENCIES[1:]:
                wavelength = C / f
                radius_mm = math.sqrt(wavelength * near * far / (near + far)) * 1000
                got = native.lora_fresnel_radius_mm(near, far, f)
                assert abs(got - radius_mm) <= 0.5 + 1e-9 * radius_mm, (near, far, f)


@pytest.mark.parametrize("sf", range(5, 13))
def test_sensitivity_and_path_loss_against_textbook(sf):
    budget = native.LinkBudget(20.0, 2.15, 0.5, 3.0, 1.25, 6.0)
    eirp = 20.0 + 2.15 - 0.5
    for bw in (62_500, 125_000, 250_000, 500_000):
        link = native.LoraLink(sf, bw)
        sensitivity = -174 + 10 * math.log10(bw) + 6.0 + SNR_DB[sf]
        max_path_loss = eirp + 3.0 - 1.25 - sensitivity
        assert abs(budget.sensitivity_dbm(link) - sensitivity) <= HALF_HUNDREDTH
        assert abs(budget.max_path_loss_db(link) - max_path_loss) <= HALF_HUNDREDTH
        for path_loss in (80.0, 120.5, 160.0):
            received = eirp - path_loss + 3.0 - 1.25
            assert budget.received_dbm(path_loss) == pytest.approx(received, abs=1e-9)
            assert abs(budget.margin_db(link, path_loss) - (received - sensitivity)) <= HALF_HUNDREDTH


def test_eirp_and_transmit_power_against_textbook():
    for tx, gain, loss in [(14.0, 2.15, 0.5), (30.0, 8.5, 1.0), (-3.0, 0.0, 0.0), (20.0, -2.0, 3.25)]:
        budget = native.LinkBudget(tx, gain, loss)
        assert budget.eirp_dbm() == pytest.approx(tx + gain - loss, abs=1e-9)
        for ceiling in (16.0, 27.0, 36.0):
            assert budget.max_transmit_power_dbm(ceiling) == pytest.approx(ceiling - gain + loss, abs=1e-9)


@pytest.mark.parametrize("sf, snr", [(0, -2.5), (4, -2.5), (5, -2.5), (6, -5.0), (9, -12.5), (12, -20.0),
                                     (13, -20.0), (255, -20.0)])
def test_demodulator_snr(sf, snr):
    assert native.lora_demodulator_snr_db(sf) == snr


@pytest.mark.parametrize("function, args, result", [
    (native.lora_noise_floor_dbm, (0,), -174.0),
    (native.lora_noise_floor_dbm, (1,), -174.0),
    (native.lora_noise_floor_dbm, (125_000,), -123.03),
    (native.lora_noise_floor_dbm, (250_000,), -120.02),
    (native.lora_noise_floor_dbm, (62_500,), -126.04),
    (native.lora_noise_floor_dbm, (4_294_967_295,), -77.67),
    (native.lora_free_space_loss_db, (0, 0), -147.55),
    (native.lora_free_space_loss_db, (1_000, 868_000_000), 91.22),
    (native.lora_fresnel_radius_mm, (1_000, 1_000, 868_000_000), 13141),
    (native.lora_fresnel_radius_mm, (500, 1_500, 915_000_000), 11084),
    (native.lora_fresnel_radius_mm, (1_000, 1_000, 0), 0),
    (native.lora_fresnel_radius_mm, (0, 0, 868_000_000), 0),
    (native.lora_fresnel_radius_mm, (0, 1_000, 868_000_000), 0),
    (native.lora_fresnel_radius_mm, (4_294_967_295, 4_294_967_295, 1), 4_294_967_295),
])
def test_budget_function_figures(function, args, result):
    assert function(*args) == result


@pytest.mark.parametrize("gain, channels, limit", [
    (6.0, None, 30.0),
    (0.0, None, 30.0),
    (8.5, None, 27.5),
    (3.0, 25, 23.98),
    (3.0, 24, None),
    (3.0, 49, 23.98),
    (3.0, 50, 30.0),
    (10.0, 0, None),
    (10.0, 25, 19.98),
    (float("nan"), None, 30.0),
])
def test_fcc_conducted_limit(gain, channels, limit):
    assert native.lora_fcc_max_conducted_dbm(gain, channels) == limit


def test_default_budget_figures():
    budget = native.LinkBudget(14.0)
    link = native.LoraLink(12, 125_000)
    assert budget.max_path_loss_db(link) == 151.03
    assert budget.margin_db(link, 140.0) == 11.03
    assert budget.sensitivity_dbm(link) == -137.03
    assert native.LinkBudget().sensitivity_dbm(native.LoraLink(7, 125_000)) == -124.53
    lossy = native.LinkBudget(14.0, 2.15, 0.5)
    assert lossy.eirp_dbm() == 15.65
    assert lossy.max_transmit_power_dbm(16.0) == 14.35


@pytest.mark.parametrize("given, held", [
    (14.004, 14.0),
    (0.125, 0.13),  # halves away from zero
    (-0.125, -0.13),
    (1e300, 21474836.47),
    (-1e300, -21474836.48),
    (float("inf"), 21474836.47),
    (float("nan"), 0.0),
    (7, 7.0),
])
def test_budget_values_are_resolved_to_hundredths(given, held):
    budget = native.LinkBudget(given, given, given, given, given, given)
    assert [budget.transmit_power_dbm, budget.transmit_antenna_gain_dbi, budget.transmit_cable_loss_db,
            budget.receive_antenna_gain_dbi, budget.receive_cable_loss_db, budget.noise_figure_db] == [held] * 6


def test_budget_defaults():
    budget = native.LinkBudget()
    assert [budget.transmit_power_dbm, budget.transmit_antenna_gain_dbi, budget.transmit_cable_loss_db,
            budget.receive_antenna_gain_dbi, budget.receive_cable_loss_db, budget.noise_figure_db] == [
        0.0, 0.0, 0.0, 0.0, 0.0, 6.0]


def test_budget_sums_saturate():
    loud = native.LinkBudget(1e300, transmit_antenna_gain_dbi=10.0)
    assert loud.eirp_dbm() == 21474836.47
    assert loud.received_dbm(-1e300) == 21474836.47
    quiet = native.LinkBudget(-1e300, transmit_cable_loss_db=10.0)
    assert quiet.eirp_dbm() == -21474836.48
    # Received power stops at the floor; the margin then adds back the 124.53 dB
    # the sensitivity lies below zero.
    assert quiet.margin_db(native.LoraLink(7, 125_000), 1e300) == -21474711.95


@pytest.mark.parametrize("call, error, message", [
    (lambda: native.LinkBudget("14"), TypeError, None),
    (lambda: native.LinkBudget(None), TypeError, None),
    (lambda: native.LinkBudget().sensitivity_dbm(3), TypeError, "'int' object is not an instance of 'LoraLink'"),
    (lambda: native.LinkBudget().margin_db(native.LoraLink(7, 125_000), "x"), TypeError, None),
    (lambda: native.lora_noise_floor_dbm(-1), OverflowError, OUT_OF_RANGE),
    (lambda: native.lora_demodulator_snr_db(256), OverflowError, OUT_OF_RANGE),
    (lambda: native.lora_fresnel_radius_mm(1, 1, 2**32), OverflowError, OUT_OF_RANGE),
    (lambda: native.lora_fcc_max_conducted_dbm(6.0, 65536), OverflowError, OUT_OF_RANGE),
    (lambda: native.lora_fcc_max_conducted_dbm(6.0, 25.0), TypeError, None),
])
def test_budget_argument_refusals(call, error, message):
    with pytest.raises(error) as caught:
        call()
    if message is not None:
        assert str(caught.value) == message


def test_budget_has_no_value_semantics_and_no_setters():
    a, b = native.LinkBudget(), native.LinkBudget()
    assert a != b and a == a
    assert "LinkBudget object at" in repr(a)
    with pytest.raises(AttributeError):
        a.noise_figure_db = 3.0


# ---- channel-plan value classes made from Python ----------------------------------------------


@pytest.mark.parametrize("make, text, attributes", [
    (lambda c: c.lora(7, 125_000, 5470), "LoraDataRate.lora(spreading_factor=7, bandwidth_hz=125000, bitrate_bps=5470)",
     ("lora", 5470, 125_000, 7, None, None)),
    (lambda c: c.fsk(50_000), "LoraDataRate.fsk(bitrate_bps=50000)", ("fsk", 50_000, None, None, None, None)),
    (lambda c: c.lr_fhss(2, 3, 1_523_000, 325), "LoraDataRate.lr_fhss(coding_rate=2/3, bandwidth_hz=1523000, bitrate_bps=325)",
     ("lr_fhss", 325, 1_523_000, None, 2, 3)),
    (lambda c: c.reserved(), "LoraDataRate.reserved()", ("reserved", 0, None, None, None, None)),
    # Nothing is checked: any spreading factor or coding rate is taken.
    (lambda c: c.lora(0, 0, 0), "LoraDataRate.lora(spreading_factor=0, bandwidth_hz=0, bitrate_bps=0)",
     ("lora", 0, 0, 0, None, None)),
])
def test_data_rates(make, text, attributes):
    rate = make(native.LoraDataRate)
    assert repr(rate) == text
    assert (rate.kind, rate.bitrate_bps, rate.bandwidth_hz, rate.spreading_factor,
            rate.coding_rate_numerator, rate.coding_rate_denominator) == attributes


@pytest.mark.parametrize("make, text, attributes", [
    (lambda m: m.one_group(3), "LoraMaskControl.one_group(3)", ("group", 3, None, None)),
    (lambda m: m.banks(), "LoraMaskControl.banks()", ("banks", None, None, None)),
    (lambda m: m.paired_banks(), "LoraMaskControl.paired_banks()", ("paired_banks", None, None, None)),
    (lambda m: m.all_channels(True), "LoraMaskControl.all_channels(True)", ("all", None, True, None)),
    (lambda m: m.all_channels(False, then_group=4), "LoraMaskControl.all_channels(False, then_group=4)",
     ("all", None, False, 4)),
    (lambda m: m.all_channels(True, 0), "LoraMaskControl.all_channels(True, then_group=0)", ("all", None, True, 0)),
    (lambda m: m.reserved(), "LoraMaskControl.reserved()", ("reserved", None, None, None)),
])
def test_mask_controls(make, text, attributes):
    control = make(native.LoraMaskControl)
    assert repr(control) == text
    assert (control.kind, control.group, control.on, control.then_group) == attributes
    assert control == make(native.LoraMaskControl)


def test_mask_control_equality_tells_kinds_and_groups_apart():
    m = native.LoraMaskControl
    assert m.all_channels(True) != m.all_channels(True, 0)
    assert m.all_channels(True) != m.all_channels(False)
    assert m.one_group(0) != m.all_channels(False)
    assert m.one_group(0) != m.reserved()


@pytest.mark.parametrize("make, text", [
    (lambda: native.LoraMaxPayload(230, 222), "LoraMaxPayload(mac_payload=230, application=222)"),
    (lambda: native.LoraChannelBlock(868_100_000, 200_000, 3, 0, 5),
     "LoraChannelBlock(start_hz=868100000, step_hz=200000, count=3)"),
    (lambda: native.LoraSubBand(868_000_000, 868_600_000, 10, -128),
     "LoraSubBand(start_hz=868000000, end_hz=868600000, duty_cycle_permille=10, max_eirp_dbm=-128)"),
    (lambda: native.LoraRelayChannel(865_100_000, 865_300_000, 3),
     "LoraRelayChannel(wor_frequency_hz=865100000, ack_frequency_hz=865300000, data_rate=3)"),
    (lambda: native.LoraBeacon(869_525_000, 869_525_000, 3),
     "LoraBeacon(frequency_hz=869525000, ping_slot_frequency_hz=869525000, data_rate=3)"),
])
def test_value_class_reprs(make, text):
    assert repr(make()) == text


@pytest.mark.parametrize("call", [
    lambda: native.LoraMaxPayload(65536, 0),
    lambda: native.LoraChannelBlock(0, 0, 65536, 0, 0),
    lambda: native.LoraSubBand(0, 0, 0, 128),
    lambda: native.LoraSubBand(0, 0, 0, -129),
    lambda: native.LoraRelayChannel(0, 0, 256),
    lambda: native.LoraBeacon(2**32, 0, 0),
    lambda: native.LoraMaskControl.one_group(256),
    lambda: native.LoraDataRate.lr_fhss(1, 256, 0, 0),
])
def test_value_class_width_refusals(call):
    with pytest.raises(OverflowError, match=OUT_OF_RANGE):
        call()


def test_mask_control_on_must_be_a_bool():
    with pytest.raises(TypeError, match="'int' object is not an instance of 'bool'"):
        native.LoraMaskControl.all_channels(1)


@pytest.mark.parametrize("cls", ["ChannelPlan", "LoraDataRate", "LoraMaskControl", "LoraPlanInfo", "LoraPlanRules",
                                 "LoraJoinPlan", "LoraJoinPlanPlace"])
def test_classes_without_constructor(cls):
    with pytest.raises(TypeError):
        getattr(native, cls)()


def test_choice_refusals_quote_the_lowered_text():
    plan = native.ChannelPlan.for_region("EU868")
    with pytest.raises(ValueError) as caught:
        plan.channel_blocks("Uplink")
    assert str(caught.value) == "uplink is not a channel set; expected join, default or downlink"
    with pytest.raises(ValueError) as caught:
        plan.max_payload(0, "Dwell")
    assert str(caught.value) == ("dwell is not a payload table; expected uplink_repeater, uplink_direct, "
                                 "downlink_repeater, downlink_direct or dwell_limited")
    # The first argument is converted before the text is looked at.
    with pytest.raises(OverflowError):
        plan.data_rate(256, "sideways")


def test_mars_is_not_a_region():
    with pytest.raises(ValueError) as caught:
        native.ChannelPlan.for_region("Mars")
    assert str(caught.value) == ("Mars is not a published region; expected one of "
                                 "EU868, US915, EU433, AU915, CN470, AS923, KR920, IN865, RU864")


def test_cn470_join_plan_repr_and_place():
    plan = native.ChannelPlan.for_region("CN470")
    assert repr(plan.join_plans()[0]) == 'LoraJoinPlan(start_hz=470900000, count=4, plan=Some("antenna_20mhz_a"))'
    assert repr(plan.join_plan_for_channel(9)) == (
        "LoraJoinPlanPlace(index=2, offset=1, accept_hz=499900000, rx2_hz=498300000)")
    assert native.ChannelPlan.for_cn470("CHANNELS_96").join_plan_for_channel(0) is None


def test_transmit_power_saturates_instead_of_wrapping():
    # A power below -128 dBm is as good as silence; wrapping would turn it into +126 dBm.
    plan = native.ChannelPlan.for_region("EU868")
    assert plan.tx_power_dbm(1, -128) == -128
    assert plan.tx_power_dbm(7, -114) == -128
    assert plan.tx_power_dbm(7, 16) == 2
    assert plan.tx_power_dbm(8, 16) is None
