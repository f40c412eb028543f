"""LoRa radios on a simulated SX127x, and opening radio modules on a Linux
board: the open errors, met on device files that are missing or are none."""
import errno
import os
import sys

import pytest

import trovik._native as native

LINK = native.LoraLink(7, 125_000)
FREQ = 868_100_000
STEP = 32_000_000 / 2 ** 19  # the synthesizer's step, about 61.04 Hz


@pytest.fixture
def chip():
    return native.SimulatedLoraChip.sx127x("PaBoost")


@pytest.fixture
def radio(chip):
    r = chip.radio()
    r.configure(FREQ, LINK, 14)
    yield r
    r.close()


def noise_bits():
    """The simulated chip's noise generator, written out again: bit 0 of each byte."""
    x = 0x2545F491
    while True:
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        yield x & 1


# ---- making chips ---------------------------------------------------------------------------


@pytest.mark.parametrize("output, tcxo", [("PaBoost", False), ("Rfo", False), ("PaBoost", True)])
def test_chips_of_either_output(output, tcxo):
    chip = native.SimulatedLoraChip.sx127x(output, tcxo=tcxo)
    assert chip.family == "Sx127x"
    radio = chip.radio()
    assert radio.family == "Sx127x"
    assert radio.read_register(0x4B) == (0x19 if tcxo else 0x09)  # TCXO input on
    assert radio.read_register(0x01) == 0x89  # LoRa standby
    assert radio.read_register(0x0C) == 0x23  # LNA boosted


@pytest.mark.parametrize("output", ["PA_BOOST", "paboost", "RFO", ""])
def test_output_names_are_exact(output):
    with pytest.raises(ValueError) as caught:
        native.SimulatedLoraChip.sx127x(output)
    assert str(caught.value) == f"no amplifier output is named {output}; use Rfo or PaBoost"


def test_documentation_and_argument_forms():
    assert native.SimulatedLoraChip.sx127x.__text_signature__ == "(output, *, tcxo=False)"
    assert native.SimulatedLoraChip.sx127x.__doc__.endswith(
        "A simulated SX1276, SX1277, SX1278, or SX1279, out of reset.")
    assert native.LoraRadio.open_sx127x.__text_signature__ == (
        "(spi, gpio_chip, reset_line, output, *, spi_hz=None, tcxo=False)")
    assert native.LoraRadio.open_sx126x.__text_signature__ == (
        "(spi, gpio_chip, busy_line, reset_line, amplifier, *, spi_hz=None, tcxo_volts=None, tcxo_settle_us=None, "
        "dio2_rf_switch=False, dc_dc=False, llcc68=False)")
    assert native.LoraRadio.open_sx127x.__doc__.endswith(
        "Opens an SX1276, SX1277, SX1278, or SX1279 module, such as an RFM95W, and resets it into LoRa mode.\n\n"
        "Raises `TrovikError` when the platform is not Linux, a device cannot be opened, or no chip answers, "
        "and `ValueError` for an amplifier output name the chip has no setting for.")
    assert "which takes a few tens of milliseconds." in native.LoraRadio.open_sx126x.__doc__
    with pytest.raises(TypeError):
        native.SimulatedLoraChip.sx127x("PaBoost", True)  # keyword-only


# ---- tuning and transmitting ---------------------------------------------------------------------


def test_a_fresh_chip_is_tuned_to_the_reset_values(chip):
    t = chip.tuning()
    assert (t.frequency_hz, t.output_dbm, t.sync_word) == (434_000_000, 11, 0x12)
    link = t.link
    assert (link.spreading_factor, link.bandwidth_hz, link.coding_rate_denominator, link.preamble_symbols,
            link.explicit_header, link.crc) == (7, 125_000, 5, 8, True, False)


@pytest.mark.parametrize("freq", [137_000_000, 169_400_000, 433_175_000, 525_000_000, 525_000_061, 868_100_000,
                                  915_000_000, 1_020_000_000, 1_023_999_969])
def test_the_synthesizer_lands_within_a_step(chip, freq):
    radio = chip.radio()
    radio.configure(freq, LINK, 14)
    assert abs(chip.tuning().frequency_hz - freq) <= STEP / 2 + 1


@pytest.mark.parametrize("sf, bw, cr, explicit, crc", [
    (7, 125_000, 5, True, True), (12, 125_000, 8, True, False), (9, 250_000, 6, False, True),
    (8, 500_000, 7, True, True), (6, 62_500, 5, False, True), (10, 7_813, 6, True, True),
    (11, 41_667, 7, True, False), (7, 124_000, 5, True, True),
])
@pytest.mark.parametrize("payload", [b"\x01", bytes(range(64)), bytes(255)])
def test_transmit_takes_the_time_on_air_and_the_chip_records_the_frame(chip, sf, bw, cr, explicit, crc, payload):
    radio = chip.radio()
    link = native.LoraLink(sf, bw, cr, 10, explicit, crc)
    radio.configure(915_000_000, link, 20, sync_word=0x34)
    assert radio.transmit(payload) == link.airtime_us(len(payload))
    frame = chip.sent()[-1]
    assert frame.payload == payload
    t = frame.tuning
    assert (t.frequency_hz, t.output_dbm, t.sync_word) == (915_000_000, 20, 0x34)
    nominal = {124_000: 125_000}.get(bw, bw)
    assert (t.link.spreading_factor, t.link.bandwidth_hz, t.link.coding_rate_denominator,
            t.link.preamble_symbols, t.link.explicit_header, t.link.crc) == (sf, nominal, cr, 10, explicit, crc)


@pytest.mark.parametrize("output, asked, set_to, registers", [
    ("PaBoost", 20, 20, (0xFF, 0x87, 0x31)), ("PaBoost", 17, 17, (0xFF, 0x84, 0x2B)),
    ("PaBoost", 0, 2, (0xF0, 0x84, 0x2B)), ("PaBoost", 1000, 20, (0xFF, 0x87, 0x31)),
    ("Rfo", -10, -4, (0x00, 0x84, 0x2B)), ("Rfo", 14, 14, (0x7E, 0x84, 0x2B)), ("Rfo", 20, 15, (0x7F, 0x84, 0x2B)),
])
def test_output_power_follows_the_amplifier_output(output, asked, set_to, registers):
    chip = native.SimulatedLoraChip.sx127x(output)
    radio = chip.radio()
    radio.configure(FREQ, LINK, asked)
    assert chip.tuning().output_dbm == set_to
    assert (radio.read_register(0x09), radio.read_register(0x4D), radio.read_register(0x0B)) == registers


@pytest.mark.parametrize("freq, link, message", [
    (FREQ, native.LoraLink(5, 125_000), "the SX127x has no SF5"),
    (FREQ, native.LoraLink(6, 125_000), "SF6 needs an implicit header"),
    (FREQ, native.LoraLink(7, 100_000), "the SX127x has no 100000 Hz LoRa bandwidth at this carrier"),
    (169_400_000, native.LoraLink(7, 500_000), "the SX127x has no 500000 Hz LoRa bandwidth at this carrier"),
    # A frequency word past 24 bits would wrap round to a carrier near 0 Hz.
    (1_024_000_000, LINK, "the SX127x cannot tune to 1024000000 Hz: its frequency word ends at 1023999969 Hz"),
    (4_294_967_295, LINK, "the SX127x cannot tune to 4294967295 Hz: its frequency word ends at 1023999969 Hz"),
])
def test_configure_refusals_keep_the_configuration(chip, radio, freq, link, message):
    before = chip.tuning()
    with pytest.raises(native.TrovikError) as caught:
        radio.configure(freq, link, 14)
    assert str(caught.value) == message
    after = chip.tuning()
    assert (after.frequency_hz, after.link.bandwidth_hz) == (before.frequency_hz, before.link.bandwidth_hz)
    radio.transmit(b"still configured")
    assert chip.sent()[-1].tuning.frequency_hz == before.frequency_hz


def test_narrow_bands_below_175_mhz_and_sf6_with_an_implicit_header(chip, radio):
    radio.configure(169_400_000, native.LoraLink(7, 125_000), 14)
    radio.configure(FREQ, native.LoraLink(6, 125_000, 5, 8, False, True), 14)
    assert radio.read_register(0x31) & 0x07 == 0x05
    assert radio.read_register(0x37) == 0x0C
    assert chip.tuning().link.spreading_factor == 6


def test_transmit_refusals(chip, radio):
    with pytest.raises(native.TrovikError) as caught:
        radio.transmit(b"")
    assert str(caught.value) == "a LoRa frame carries 1 to 255 bytes, not 0"
    with pytest.raises(native.TrovikError) as caught:
        radio.transmit(bytes(256))
    assert str(caught.value) == "a LoRa frame carries 1 to 255 bytes, not 256"
    fresh = chip.radio()
    with pytest.raises(native.TrovikError) as caught:
        fresh.transmit(b"x")
    assert str(caught.value) == "the radio has not been configured"
    assert chip.sent() == []


# ---- against LoRaRF, an independent SX127x driver ----------------------------------------------------


@pytest.fixture(scope="module")
def lorarf(lorarf_package):
    """LoRaRF's SX127x driver writing into a register file of its own instead of a bus."""
    SX127x = lorarf_package.SX127x

    class Registers(SX127x):
        def __init__(self):
            self.registers = {}

        def _transfer(self, address, data):
            if address & 0x80:
                self.registers[address & 0x7F] = data
                return 0
            return self.registers.get(address, 0)

    return Registers


@pytest.mark.parametrize("freq", [169_400_000, 433_175_000, 868_100_000, 868_300_000, 915_000_000, 923_300_000])
@pytest.mark.parametrize("sf, bw, cr, explicit, crc, preamble", [
    (7, 125_000, 5, True, True, 8), (12, 125_000, 8, True, False, 12), (9, 250_000, 6, False, True, 16),
    (8, 500_000, 7, True, True, 6), (6, 62_500, 5, False, False, 8), (10, 7_813, 6, True, True, 400),
    (11, 41_667, 7, False, True, 8), (12, 10_417, 5, True, True, 8),
])
def test_registers_agree_with_lorarf(lorarf, freq, sf, bw, cr, explicit, crc, preamble):
    if bw >= 250_000 and freq <= 175_000_000:
        pytest.skip("the SX127x has no wide bandwidth this low")
    link = native.LoraLink(sf, bw, cr, preamble, explicit, crc)
    chip = native.SimulatedLoraChip.sx127x("PaBoost")
    radio = chip.radio()
    radio.configure(freq, link, 14, sync_word=0x34)
    peer = lorarf()
    peer.registers.update({0x1D: 0x72, 0x1E: 0x70, 0x26: 0x04})  # the chip's reset values
    peer.setFrequency(freq)
    peer.setLoRaModulation(sf, bw, cr, (1_000_000 << sf) // bw > 16_000)  # a symbol past 16 ms
    peer.setLoRaPacket(peer.HEADER_EXPLICIT if explicit else peer.HEADER_IMPLICIT, preamble, 255, crc)
    peer.setSyncWord(0x34)
    ours = {address: radio.read_register(address) for address in (0x06, 0x07, 0x08, 0x1D, 0x1E, 0x20, 0x21, 0x26,
                                                                  0x31, 0x37, 0x39)}
    theirs = peer.registers
    # LoRaRF truncates the frequency word; we round to the nearest step.
    word = lambda r: r[0x06] << 16 | r[0x07] << 8 | r[0x08]
    assert word(ours) - word(theirs) in (0, 1)
    assert word(ours) == round(freq * 2 ** 19 / 32_000_000)
    assert ours[0x1D] == theirs[0x1D]  # bandwidth, coding rate, header
    assert ours[0x1E] & 0xFC == theirs[0x1E] & 0xFC  # spreading factor, CRC
    assert (ours[0x20], ours[0x21]) == (theirs[0x20], theirs[0x21])
    assert ours[0x26] & 0x08 == theirs[0x26] & 0x08  # low-data-rate optimisation
    assert (ours[0x31] & 0x07, ours[0x37]) == (theirs[0x31], theirs[0x37])  # detection settings
    assert ours[0x39] == theirs[0x39]


# ---- receiving ------------------------------------------------------------------------------------


@pytest.mark.parametrize("freq, bw", [
    (868_100_000, 125_000), (433_175_000, 125_000), (915_000_000, 500_000),
    # Narrow bandwidths tune the synthesizer above the carrier: these cross
    # 525 MHz by that offset alone, and must still read the heard level.
    (524_990_000, 20_833), (524_970_000, 41_667), (525_000_000, 7_813), (525_000_000, 125_000),
    (525_000_061, 7_813),
])
@pytest.mark.parametrize("rssi, snr, levels", [
    (-80.0, -5.0, (-80.0, -5.0, -85.0)),
    (-30.2, 10.25, (-30.0, 10.25, -30.0)),
    (-120.4, -20.0, (-120.0, -20.0, -140.0)),
])
def test_a_frame_reads_back_at_its_level_on_either_side_of_525_mhz(freq, bw, rssi, snr, levels):
    chip = native.SimulatedLoraChip.sx127x("PaBoost")
    radio = chip.radio()
    radio.configure(freq, native.LoraLink(7, bw), 14)
    chip.hear(b"level", rssi, snr)
    got = radio.receive(1_000_000)
    assert got.outcome == "Frame"
    assert (got.rssi_dbm, got.snr_db, got.signal_rssi_dbm) == levels
    assert got.payload == b"level"


@pytest.mark.parametrize("freq", [
    524_992_000, 524_999_900, 524_999_990, 525_000_000,
    # Up to 525,000,030 Hz the synthesizer lands on 525,000,000 Hz where no receive offset applies.
    525_000_001, 525_000_030, 525_000_031, 525_000_047, 525_000_100, 526_000_000,
])
@pytest.mark.parametrize("bw", [7_813, 20_833, 41_667, 62_500, 125_000, 500_000])
def test_the_rssi_offset_follows_the_synthesizer_across_525_mhz(freq, bw):
    chip = native.SimulatedLoraChip.sx127x("PaBoost")
    radio = chip.radio()
    radio.configure(freq, native.LoraLink(7, bw), 14)
    chip.hear(b"single", -80.0, 5.0)
    got = radio.receive(1_000_000)
    assert (got.payload, got.rssi_dbm, got.signal_rssi_dbm) == (b"single", -80.0, -80.0)
    # The chip itself encodes with the offset of the frequency it is tuned to.
    offset = 157 if chip.tuning().frequency_hz > 525_000_000 else 164
    assert radio.read_register(0x1A) == offset - 80  # RegPktRssiValue

    radio.listen()
    chip.hear(b"listened", -80.0, 5.0)
    got = radio.take_frame()
    assert (got.payload, got.rssi_dbm, got.signal_rssi_dbm) == (b"listened", -80.0, -80.0)


def test_receive_timeout_and_corrupt(chip, radio):
    got = radio.receive(0)
    assert (got.outcome, got.rssi_dbm, got.snr_db, got.signal_rssi_dbm, got.payload) == ("Timeout", None, None, None,
                                                                                          None)
    chip.hear_corrupt(-90, 0)
    got = radio.receive(1000)
    assert (got.outcome, got.payload) == ("Corrupt", None)
    assert chip.waiting == 0


def test_an_implicit_header_reception_expects_the_longest_frame(chip):
    radio = chip.radio()
    radio.configure(FREQ, native.LoraLink(7, 125_000, 5, 8, False, True), 14)
    radio.transmit(b"four")
    assert radio.read_register(0x22) == 4
    radio.receive(0)
    assert radio.read_register(0x22) == 255  # not the length last sent
    radio.transmit(b"x")
    radio.listen()
    assert radio.read_register(0x22) == 255


def test_a_narrow_reception_retunes_and_the_next_transmission_tunes_back(chip):
    radio = chip.radio()
    radio.configure(FREQ, native.LoraLink(7, 7_813), 14)
    radio.receive(0)
    assert abs(chip.tuning().frequency_hz - (FREQ + 7_810)) <= STEP / 2 + 1
    radio.transmit(b"x")
    assert abs(chip.sent()[-1].tuning.frequency_hz - FREQ) <= STEP / 2 + 1


def test_listen_take_frames_detect_and_sleep(chip, radio):
    radio.listen()
    assert radio.take_frame() is None
    chip.hear(b"one", -70, 5)
    chip.hear(b"two", -71, 5)
    chip.hear_corrupt(-70, 0)
    assert radio.take_frame().payload == b"one"
    assert radio.take_frame().payload == b"two"
    assert radio.take_frame().outcome == "Corrupt"
    assert radio.take_frame() is None

    assert radio.detect(8) is False
    chip.hear(b"preamble", -70, 0)
    assert radio.detect(0) is True
    assert chip.waiting == 1  # detected, not received
    assert radio.receive(1000).payload == b"preamble"

    radio.sleep()
    assert radio.read_register(0x01) == 0x88
    radio.transmit(b"no configure needed after sleep")
    assert chip.sent()[-1].payload == b"no configure needed after sleep"


def test_random_numbers_come_from_the_chips_noise(chip):
    radio = chip.radio()  # no configuration needed
    bits = noise_bits()
    expected = sum(next(bits) << i for i in range(32))
    assert radio.random() == expected
    assert radio.random() == sum(next(bits) << i for i in range(32))
    assert radio.read_register(0x11) == 0x00  # the interrupt mask is restored
    assert radio.read_register(0x01) == 0x89


@pytest.mark.parametrize("address", [0x80, 0xFF, 0x100, 0xFFFF])
def test_registers_end_at_0x7f(chip, address):
    radio = chip.radio()
    for call in (lambda: radio.read_register(address), lambda: radio.write_register(address, 1)):
        with pytest.raises(native.TrovikError) as caught:
            call()
        assert str(caught.value) == f"the SX127x has no register at {address:#06x}; its map ends at 0x7F"
    radio.write_register(0x7F, 0xA5)
    assert radio.read_register(0x7F) == 0xA5
    assert radio.read_register(0x42) == 0x12


def test_each_radio_resets_the_chip_and_frames_on_the_air_survive(chip):
    chip.hear(b"early", -60, 0)
    first = chip.radio()
    first.configure(FREQ, LINK, 14)
    second = chip.radio()  # resets the chip again
    assert chip.tuning().frequency_hz == 434_000_000
    second.configure(FREQ, LINK, 14)
    assert second.receive(1000).payload == b"early"


# ---- opening modules on a board -----------------------------------------------------------------


linux_only = pytest.mark.skipif(not sys.platform.startswith("linux"), reason="spidev and GPIO lines exist on Linux")
NOT_LINUX = ("a LoRa radio or concentrator is opened through spidev and the GPIO character device, which only "
             "Linux has")


def open_sx127x(spi, gpio, **kwargs):
    return native.LoraRadio.open_sx127x(spi, gpio, 25, "PaBoost", **kwargs)


def open_sx126x(spi, gpio, **kwargs):
    return native.LoraRadio.open_sx126x(spi, gpio, 24, 25, "HighPower", **kwargs)


@pytest.fixture
def stand_in(tmp_path):
    """A regular file standing in for a device: it opens, and the kernel refuses every device request on it."""
    def make(name):
        path = tmp_path / name
        path.write_bytes(b"")
        return str(path)
    return make


@linux_only
@pytest.mark.parametrize("opener", [open_sx127x, open_sx126x])
def test_opening_names_the_device_that_failed(opener, stand_in, tmp_path):
    spi, gpio = stand_in("spidev0.0"), stand_in("gpiochip0")
    missing = str(tmp_path / "missing")
    cases = [
        (missing, missing, f"{missing}: {os.strerror(errno.ENOENT)}"),
        ("/dev/spidev-none", gpio, f"/dev/spidev-none: {os.strerror(errno.ENOENT)}"),
        (spi, "/dev/gpiochip-none", f"/dev/gpiochip-none: {os.strerror(errno.ENOENT)}"),
        (spi, str(tmp_path), f"{tmp_path}: {os.strerror(errno.EISDIR)}"),
        (spi, gpio, f"{gpio}: {os.strerror(errno.ENOTTY)}"),  # a file that is no GPIO chip
    ]
    for spi_path, gpio_path, message in cases:
        with pytest.raises(native.TrovikError) as caught:
            opener(spi_path, gpio_path, spi_hz=8_000_000)
        assert str(caught.value) == message


def test_opening_checks_the_arguments_first():
    with pytest.raises(ValueError) as caught:
        native.LoraRadio.open_sx127x("/dev/spidev-none", "/dev/gpiochip-none", 25, "PA_BOOST")
    assert str(caught.value) == "no amplifier output is named PA_BOOST; use Rfo or PaBoost"
    with pytest.raises(ValueError) as caught:
        native.LoraRadio.open_sx126x("/dev/spidev-none", "/dev/gpiochip-none", 24, 25, "highpower")
    assert str(caught.value) == "no amplifier is named highpower; use LowPower or HighPower"
    with pytest.raises(ValueError) as caught:
        native.LoraRadio.open_sx126x("/dev/spidev-none", "/dev/gpiochip-none", 24, 25, "HighPower", tcxo_volts=2.0)
    assert str(caught.value) == ("DIO3 cannot supply a TCXO with 2 V; use 1.6, 1.7, 1.8, 2.2, 2.4, 2.7, 3.0, "
                                 "or 3.3")
    with pytest.raises(OverflowError):
        native.LoraRadio.open_sx127x("/dev/spidev-none", "/dev/gpiochip-none", -1, "PaBoost")
    with pytest.raises(OverflowError):
        native.LoraRadio.open_sx127x("/dev/spidev-none", "/dev/gpiochip-none", 25, "PaBoost", spi_hz=2 ** 32)
    with pytest.raises(TypeError):
        native.LoraRadio.open_sx127x(b"/dev/spidev0.0", "/dev/gpiochip0", 25, "PaBoost")
    # A TCXO of 1.8 V is accepted: the failure is the missing device's.
    with pytest.raises(native.TrovikError) as caught:
        native.LoraRadio.open_sx126x("/dev/spidev-none", "/dev/gpiochip-none", 24, 25, "HighPower", tcxo_volts=1.8)
    expected = (f"/dev/spidev-none: {os.strerror(errno.ENOENT)}" if sys.platform.startswith("linux")
                else NOT_LINUX)
    assert str(caught.value) == expected
