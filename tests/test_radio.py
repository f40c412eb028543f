"""LoRa radios on a simulated SX126x: the Python radio, the simulated chip and
the duty-cycle tracker."""
import sys
import threading

import pytest

import trovik._native as native

LINK = native.LoraLink(7, 125_000)
FREQ = 868_100_000


@pytest.fixture
def chip():
    return native.SimulatedLoraChip.sx126x("HighPower")


@pytest.fixture
def radio(chip):
    r = chip.radio()
    r.configure(FREQ, LINK, 14)
    yield r
    r.close()


# ---- making chips -------------------------------------------------------------------------


@pytest.mark.parametrize("kwargs", [
    {},
    {"tcxo_volts": 1.8},
    {"tcxo_volts": 1.8004},  # 1800 mV after rounding
    {"tcxo_volts": 3.3, "tcxo_settle_us": 100},
    {"tcxo_settle_us": 123},  # ignored without a TCXO
    {"dio2_rf_switch": True, "dc_dc": True, "llcc68": True},
])
@pytest.mark.parametrize("amplifier", ["HighPower", "LowPower"])
def test_boards_a_chip_accepts(amplifier, kwargs):
    chip = native.SimulatedLoraChip.sx126x(amplifier, **kwargs)
    assert chip.family == "Sx126x"
    assert chip.radio().family == "Sx126x"


@pytest.mark.parametrize("amplifier, kwargs, message", [
    ("highpower", {}, "no amplifier is named highpower; use LowPower or HighPower"),
    ("", {"tcxo_volts": 2.0}, "no amplifier is named ; use LowPower or HighPower"),  # the amplifier comes first
    ("HighPower", {"tcxo_volts": 2.0}, "DIO3 cannot supply a TCXO with 2 V; use 1.6, 1.7, 1.8, 2.2, 2.4, 2.7, 3.0, or 3.3"),
    ("HighPower", {"tcxo_volts": 2.5}, "DIO3 cannot supply a TCXO with 2.5 V; use 1.6, 1.7, 1.8, 2.2, 2.4, 2.7, 3.0, or 3.3"),
    ("HighPower", {"tcxo_volts": -1.8}, "DIO3 cannot supply a TCXO with -1.8 V; use 1.6, 1.7, 1.8, 2.2, 2.4, 2.7, 3.0, or 3.3"),
    ("HighPower", {"tcxo_volts": 1.65}, "DIO3 cannot supply a TCXO with 1.65 V; use 1.6, 1.7, 1.8, 2.2, 2.4, 2.7, 3.0, or 3.3"),
    ("HighPower", {"tcxo_volts": float("nan")}, "DIO3 cannot supply a TCXO with NaN V; use 1.6, 1.7, 1.8, 2.2, 2.4, 2.7, 3.0, or 3.3"),
    ("HighPower", {"tcxo_volts": float("inf")}, "DIO3 cannot supply a TCXO with inf V; use 1.6, 1.7, 1.8, 2.2, 2.4, 2.7, 3.0, or 3.3"),
    ("HighPower", {"tcxo_volts": 1e300}, "DIO3 cannot supply a TCXO with 1" + "0" * 300 + " V; use 1.6, 1.7, 1.8, 2.2, 2.4, 2.7, 3.0, or 3.3"),
])
def test_boards_a_chip_refuses(amplifier, kwargs, message):
    with pytest.raises(ValueError) as caught:
        native.SimulatedLoraChip.sx126x(amplifier, **kwargs)
    assert str(caught.value) == message


def test_argument_types_and_widths():
    with pytest.raises(OverflowError):
        native.SimulatedLoraChip.sx126x("HighPower", tcxo_volts=1.8, tcxo_settle_us=-1)
    with pytest.raises(TypeError):
        native.SimulatedLoraChip.sx126x("HighPower", 1.8)  # keyword-only
    with pytest.raises(TypeError):
        native.SimulatedLoraChip()
    with pytest.raises(TypeError):
        native.LoraRadio()
    with pytest.raises(TypeError):
        native.LoraTuning()
    with pytest.raises(TypeError):
        native.LoraSentFrame()


def test_documentation():
    assert native.LoraRadio.__doc__ == "A LoRa radio opened on a Linux board or wired to a simulated chip."
    assert native.LoraRadio.configure.__text_signature__ == (
        "($self, frequency_hz, link, output_dbm, *, sync_word=None, band_low_hz=None, band_high_hz=None, "
        "invert_iq_transmit=False, invert_iq_receive=False)")
    assert native.LoraRadio.__exit__.__text_signature__ == "($self, exception_type=None, exception=None, traceback=None)"
    assert native.SimulatedLoraChip.sx126x.__text_signature__ == (
        "(amplifier, *, tcxo_volts=None, tcxo_settle_us=None, dio2_rf_switch=False, dc_dc=False, llcc68=False)")
    assert native.SimulatedLoraChip.sx126x.__doc__.endswith("A simulated SX1261, SX1262, SX1268, or LLCC68, out of reset.")
    assert native.RadioDutyCycle.__text_signature__ == "(permille)"
    assert native.LoraReception.outcome.__doc__ == 'How it ended: `"Frame"`, `"Timeout"`, or `"Corrupt"`.'
    assert native.LoraRadio.transmit.__doc__.endswith(
        "Sends one frame and returns its airtime in microseconds once it has left.")


# ---- tuning and transmitting -------------------------------------------------------------------


def test_a_fresh_chip_is_tuned_to_the_reset_values(chip):
    t = chip.tuning()
    assert (t.frequency_hz, t.output_dbm, t.sync_word) == (0, 0, 0x12)
    link = t.link
    assert (link.spreading_factor, link.bandwidth_hz, link.coding_rate_denominator, link.preamble_symbols,
            link.explicit_header, link.crc) == (7, 125_000, 5, 8, True, True)
    assert t.link is not t.link  # a new LoraLink at each access
    assert chip.sent() == [] and chip.waiting == 0


@pytest.mark.parametrize("freq", [433_175_000, 868_100_000, 868_100_001, 902_300_000, 915_000_000, 927_999_999,
                                  150_000_000, 960_000_000])
def test_the_synthesizer_lands_within_a_hertz(chip, freq):
    r = chip.radio()
    r.configure(freq, LINK, 14)
    assert abs(chip.tuning().frequency_hz - freq) <= 1


@pytest.mark.parametrize("sf, bw, cr", [(7, 125_000, 5), (12, 125_000, 8), (9, 250_000, 6), (8, 500_000, 7),
                                        (5, 7_813, 5), (10, 62_500, 6), (11, 41_667, 7), (6, 20_833, 8),
                                        (7, 124_000, 5)])
@pytest.mark.parametrize("payload", [b"", b"\x01", bytes(range(64)), bytes(255)])
def test_transmit_takes_the_time_on_air_and_the_chip_records_the_frame(chip, sf, bw, cr, payload):
    radio = chip.radio()
    link = native.LoraLink(sf, bw, cr, 10, False, False)
    radio.configure(915_000_000, link, 20, sync_word=0x34)
    assert radio.transmit(payload) == link.airtime_us(len(payload))
    frame = chip.sent()[-1]
    assert frame.payload == payload
    t = frame.tuning
    assert t is frame.tuning
    assert (t.frequency_hz, t.output_dbm, t.sync_word) == (915_000_000, 20, 0x34)
    nominal = {124_000: 125_000}.get(bw, bw)  # the chip steps to its nominal bandwidth
    assert (t.link.spreading_factor, t.link.bandwidth_hz, t.link.coding_rate_denominator,
            t.link.preamble_symbols, t.link.explicit_header, t.link.crc) == (sf, nominal, cr, 10, False, False)


@pytest.mark.parametrize("amplifier, asked, set_to", [
    ("HighPower", 14, 14), ("HighPower", 30, 22), ("HighPower", -20, -9), ("HighPower", 1000, 22),
    ("HighPower", -1000, -9), ("LowPower", 14, 14), ("LowPower", 20, 14), ("LowPower", -20, -17),
])
def test_output_power_follows_the_amplifier(amplifier, asked, set_to):
    chip = native.SimulatedLoraChip.sx126x(amplifier)
    radio = chip.radio()
    radio.configure(FREQ, LINK, asked)
    assert chip.tuning().output_dbm == set_to


@pytest.mark.parametrize("sync_word, registers, byte", [
    (None, (0x14, 0x24), 0x12), (0x12, (0x14, 0x24), 0x12), (0x34, (0x34, 0x44), 0x34),
    (0xAB, (0xA4, 0xB4), 0xAB), (0x00, (0x04, 0x04), 0x00), (0xFF, (0xF4, 0xF4), 0xFF),
])
def test_sync_words(chip, sync_word, registers, byte):
    radio = chip.radio()
    radio.configure(FREQ, LINK, 14, sync_word=sync_word)
    assert (radio.read_register(0x0740), radio.read_register(0x0741)) == registers
    assert chip.tuning().sync_word == byte
    radio.transmit(b"x")
    assert chip.sent()[-1].tuning.sync_word == byte


def test_configure_refusals_touch_nothing(chip, radio):
    before = chip.tuning()
    with pytest.raises(ValueError) as caught:
        radio.configure(433_000_000, native.LoraLink(9, 250_000), 2, sync_word=256)
    assert str(caught.value) == "a sync word is one byte, not 256"
    with pytest.raises(OverflowError):
        radio.configure(FREQ, LINK, 14, sync_word=65536)
    with pytest.raises(native.TrovikError) as caught:
        radio.configure(FREQ, native.LoraLink(7, 100_000), 14)
    assert str(caught.value) == "the SX126x has no 100000 Hz LoRa bandwidth"
    after = chip.tuning()
    assert (after.frequency_hz, after.output_dbm, after.link.bandwidth_hz) == (
        before.frequency_hz, before.output_dbm, before.link.bandwidth_hz)
    radio.transmit(b"still configured")  # the earlier configuration holds


@pytest.mark.parametrize("freq", [4_096_000_000, 4_100_000_000, 2 ** 32 - 1])
def test_a_carrier_past_the_frequency_word_is_refused_touching_nothing(chip, radio, freq):
    def state():
        t = chip.tuning()
        return (t.frequency_hz, t.output_dbm, t.sync_word, t.link.spreading_factor, t.link.bandwidth_hz,
                radio.read_register(0x0740), radio.read_register(0x0741))

    before = state()
    with pytest.raises(native.TrovikError) as caught:
        radio.configure(freq, native.LoraLink(9, 250_000), 2, sync_word=0x34)
    assert str(caught.value) == f"the SX126x cannot tune to {freq} Hz: its frequency word ends at 4095999999 Hz"
    assert state() == before
    radio.transmit(b"on the earlier carrier")
    sent = chip.sent()[-1].tuning
    assert (sent.frequency_hz, sent.link.spreading_factor, sent.output_dbm, sent.sync_word) == (FREQ, 7, 14, 0x12)


def test_the_last_carrier_whose_frequency_word_fits(chip, radio):
    radio.configure(4_095_999_999, LINK, 14)  # the word 0xFFFFFFFF
    assert chip.tuning().frequency_hz == 4_095_999_999


@pytest.mark.parametrize("sf, bw, accepted", [(9, 125_000, True), (10, 125_000, False), (10, 250_000, True),
                                              (11, 500_000, True), (12, 500_000, False), (7, 62_500, False)])
def test_llcc68_limits(sf, bw, accepted):
    radio = native.SimulatedLoraChip.sx126x("HighPower", llcc68=True).radio()
    if accepted:
        radio.configure(FREQ, native.LoraLink(sf, bw), 14)
    else:
        with pytest.raises(native.TrovikError) as caught:
            radio.configure(FREQ, native.LoraLink(sf, bw), 14)
        assert str(caught.value) == f"the LLCC68 does not support SF{sf} at {bw} Hz"


def test_iq_and_modulation_errata_registers(chip):
    radio = chip.radio()
    radio.configure(FREQ, native.LoraLink(7, 500_000), 14, invert_iq_transmit=True)
    radio.transmit(b"down")
    assert radio.read_register(0x0736) & 0x04 == 0  # inverted IQ clears bit 2
    assert radio.read_register(0x0889) & 0x04 == 0  # 500 kHz clears bit 2
    radio.configure(FREQ, LINK, 14)
    radio.transmit(b"up")
    assert radio.read_register(0x0736) & 0x04 == 0x04
    assert radio.read_register(0x0889) & 0x04 == 0x04
    assert radio.read_register(0x08D8) & 0x1E == 0x1E  # the high-power TX clamp


@pytest.mark.parametrize("payload", [b"abc", bytearray(b"abc"), [97, 98, 99], (97, 98, 99)])
def test_payload_forms(chip, radio, payload):
    radio.transmit(payload)
    assert chip.sent()[-1].payload == b"abc"


def test_transmit_refusals(chip, radio):
    with pytest.raises(TypeError):
        radio.transmit("abc")
    with pytest.raises(native.TrovikError) as caught:
        radio.transmit(bytes(256))
    assert str(caught.value) == "a 256 byte payload is longer than the 255 bytes a LoRa frame carries"
    assert chip.sent() == []


def test_sent_frames_keep_their_own_tuning(chip, radio):
    radio.transmit(b"one")
    radio.configure(923_300_000, native.LoraLink(10, 500_000), 2, sync_word=0x34)
    radio.transmit(b"two")
    first, second = chip.sent()
    assert (first.payload, first.tuning.frequency_hz, first.tuning.output_dbm, first.tuning.sync_word) == (
        b"one", FREQ, 14, 0x12)
    assert (second.payload, second.tuning.frequency_hz, second.tuning.link.spreading_factor) == (
        b"two", 923_300_000, 10)
    assert len(chip.sent()) == 2  # reading them keeps them


# ---- receiving ------------------------------------------------------------------------------------


@pytest.mark.parametrize("rssi, snr, levels", [
    (-80.125, 7.3, (-80.0, 7.25, -80.0)),
    (-80.25, 0.0, (-80.5, 0.0, -80.5)),   # a tie goes to the lower level
    (-120.0, -10.0, (-120.0, -10.0, -127.5)),  # below the noise; the signal level bottoms out
    (-90.0, -5.5, (-90.0, -5.5, -95.5)),
    (0.0, 0.125, (0.0, 0.25, 0.0)),       # 12.5 hundredths round away from zero
    (10.0, 40.0, (0.0, 31.75, 0.0)),
    (-1e12, -1e12, (-127.5, -32.0, -127.5)),
])
def test_receive_a_frame_with_its_levels(chip, radio, rssi, snr, levels):
    chip.hear(b"\x01\x02payload", rssi, snr)
    assert chip.waiting == 1
    got = radio.receive(1_000_000)
    assert chip.waiting == 0
    assert got.outcome == "Frame"
    assert (got.rssi_dbm, got.snr_db, got.signal_rssi_dbm) == levels
    assert got.payload == b"\x01\x02payload"


def test_receive_timeout_and_corrupt(chip, radio):
    for timeout in (0, 1, 10**6, 2**64 - 1):
        got = radio.receive(timeout)
        assert (got.outcome, got.rssi_dbm, got.snr_db, got.signal_rssi_dbm, got.payload) == (
            "Timeout", None, None, None, None)
    chip.hear_corrupt(-100, 3)
    got = radio.receive(1000)
    assert (got.outcome, got.payload, got.rssi_dbm) == ("Corrupt", None, None)
    with pytest.raises(OverflowError):
        radio.receive(-1)


def test_frames_arrive_in_order_and_long_ones_are_cut(chip, radio):
    chip.hear(bytes(range(256)) + bytes(44), -70, 5)
    chip.hear(payload=b"second", rssi_dbm=-71, snr_db=6)
    assert chip.waiting == 2
    assert radio.receive(10).payload == bytes(range(255))
    assert radio.receive(10).payload == b"second"
    assert radio.receive(10).outcome == "Timeout"


@pytest.mark.parametrize("rssi, snr, message", [
    (float("nan"), 1.0, "rssi_dbm must be a finite number of decibels, not NaN"),
    (-80.0, float("inf"), "snr_db must be a finite number of decibels, not inf"),
    (float("-inf"), float("nan"), "rssi_dbm must be a finite number of decibels, not -inf"),
])
def test_levels_must_be_finite(chip, rssi, snr, message):
    with pytest.raises(ValueError) as caught:
        chip.hear(b"x", rssi, snr)
    assert str(caught.value) == message
    with pytest.raises(ValueError) as caught:
        chip.hear_corrupt(rssi, snr)
    assert str(caught.value) == message
    assert chip.waiting == 0
    with pytest.raises(TypeError):
        chip.hear("text", -80, 1)


def test_listen_and_take_frames(chip, radio):
    assert radio.take_frame() is None
    radio.listen()
    assert radio.take_frame() is None
    chip.hear(b"a", -60, 9)
    chip.hear_corrupt(-60, 9)
    chip.hear(b"c", -60, 9)
    assert radio.take_frame().payload == b"a"
    assert radio.take_frame().outcome == "Corrupt"
    assert radio.take_frame().payload == b"c"
    assert radio.take_frame() is None


def test_detect_channel_activity(chip, radio):
    assert radio.detect(8) is False
    chip.hear(b"preamble", -90, 2)
    for symbols in (0, 1, 3, 8, 100, 255):
        assert radio.detect(symbols) is True
    assert chip.waiting == 1  # the frame stays for the next reception
    assert radio.receive(100).payload == b"preamble"
    with pytest.raises(OverflowError):
        radio.detect(256)


def test_random_numbers_come_from_the_chips_noise(chip):
    radio = chip.radio()  # needs no configuration
    # The simulated chip's noise is xorshift32 from 0x2545F491; one byte a read.
    x, noise = 0x2545F491, []
    for _ in range(8):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        noise.append(x & 0xFF)
    assert radio.random() == int.from_bytes(bytes(noise[:4]), "little")
    assert radio.random() == int.from_bytes(bytes(noise[4:]), "little")


def test_registers_need_no_configuration(chip):
    radio = chip.radio()
    radio.write_register(0x06B8, 0xA5)
    assert radio.read_register(0x06B8) == 0xA5
    assert radio.read_register(0xFFFF) == 0
    with pytest.raises(OverflowError):
        radio.read_register(0x10000)
    with pytest.raises(OverflowError):
        radio.write_register(0x06B8, 256)


def test_sleep_asks_for_a_new_configuration(chip, radio):
    radio.sleep()
    for call in (lambda: radio.transmit(b"x"), lambda: radio.receive(10), radio.listen, lambda: radio.detect(1)):
        with pytest.raises(native.TrovikError) as caught:
            call()
        assert str(caught.value) == "the radio has not been configured"
    radio.standby()
    radio.configure(FREQ, LINK, 14)
    assert radio.transmit(b"awake") == LINK.airtime_us(5)


# ---- opening, closing, sharing -------------------------------------------------------------------------


def test_each_radio_resets_the_chip_and_frames_on_the_air_survive(chip):
    first = chip.radio()
    first.configure(FREQ, LINK, 14)
    first.transmit(b"kept")
    chip.hear(b"queued", -80, 5)
    second = chip.radio()
    assert chip.tuning().frequency_hz == 0  # reset
    assert [f.payload for f in chip.sent()] == [b"kept"]
    second.configure(FREQ, LINK, 14)
    assert second.receive(10).payload == b"queued"
    # Both radios drive the one chip: the first one's configuration is still its own.
    first.transmit(b"again")
    assert chip.sent()[-1].payload == b"again"


def test_close(chip):
    radio = chip.radio()
    radio.close()
    radio.close()  # again: nothing
    assert radio.family == "Sx126x"
    for call in (lambda: radio.transmit(b"x"), radio.standby, radio.random, lambda: radio.read_register(0),
                 lambda: radio.configure(FREQ, LINK, 14), radio.take_frame):
        with pytest.raises(native.TrovikError) as caught:
            call()
        assert str(caught.value) == "the radio is closed"


def test_with_block_closes_and_lets_exceptions_through(chip):
    with chip.radio() as radio:
        assert radio.family == "Sx126x"
        radio.standby()
    with pytest.raises(native.TrovikError):
        radio.standby()
    with pytest.raises(KeyError):
        with chip.radio() as radio:
            raise KeyError("mine")
    with pytest.raises(native.TrovikError):
        radio.standby()
    assert chip.radio().__exit__(None, None, None) is False


def test_a_radio_call_lets_other_threads_run():
    # With a switch interval this long the interpreter never takes the lock
    # from a thread that holds it: the main thread gets back to Python only
    # while a radio call on the worker has released it. Were the calls to
    # keep the lock, the worker would run all of its calls first.
    chip = native.SimulatedLoraChip.sx126x("HighPower")
    radio = chip.radio()
    radio.configure(FREQ, LINK, 14)
    limit = 1_000_000
    main_ran = threading.Event()
    calls = 0

    def worker():
        nonlocal calls
        while not main_ran.is_set() and calls < limit:
            radio.transmit(b"x")
            calls += 1

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    try:
        thread = threading.Thread(target=worker)
        thread.start()
        main_ran.set()
    finally:
        sys.setswitchinterval(interval)
    thread.join()
    assert calls < limit


def test_threads_share_a_radio_and_a_chip():
    chip = native.SimulatedLoraChip.sx126x("HighPower")
    radio = chip.radio()
    radio.configure(FREQ, LINK, 14)
    errors = []

    def send(n):
        try:
            for i in range(200):
                radio.transmit(bytes([n, i]))
        except Exception as e:  # pragma: no cover - reported below
            errors.append(e)

    def hear():
        for i in range(200):
            chip.hear(bytes([i]), -80, 5)

    threads = [threading.Thread(target=send, args=(n,)) for n in range(3)] + [threading.Thread(target=hear)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    sent = chip.sent()
    assert len(sent) == 600
    for n in range(3):  # each thread's frames in its own order
        assert [f.payload[1] for f in sent if f.payload[0] == n] == list(range(200))
    assert chip.waiting == 200

    # close from another thread while receptions run: every call either
    # finishes or finds the radio closed.
    outcomes = []

    def receive_until_closed():
        while True:
            try:
                outcomes.append(radio.receive(10).outcome)
            except native.TrovikError as e:
                assert str(e) == "the radio is closed"
                return

    t = threading.Thread(target=receive_until_closed)
    t.start()
    while len(outcomes) < 50:
        pass
    radio.close()
    t.join()
    assert set(outcomes) <= {"Frame", "Timeout"}


# ---- duty cycle ------------------------------------------------------------------------------------


def test_duty_cycle_of_one_percent():
    duty = native.RadioDutyCycle(10)
    assert duty.permille == 10
    assert duty.ready(0) and duty.wait_us(0) == 0 and duty.earliest_us == 0
    airtime = LINK.airtime_us(10)
    assert duty.transmitted(1000, LINK, 10) == airtime
    assert duty.earliest_us == 1000 + 100 * airtime
    assert not duty.ready(1000 + 100 * airtime - 1)
    assert duty.ready(1000 + 100 * airtime)
    assert duty.wait_us(1000) == 100 * airtime
    assert duty.wait_us(2**64 - 1) == 0


@pytest.mark.parametrize("permille, factor", [(1000, 1), (5000, 1), (100, 10), (1, 1000)])
def test_duty_cycle_silence_by_limit(permille, factor):
    duty = native.RadioDutyCycle(permille)
    airtime = duty.transmitted(500, LINK, 20)
    assert duty.earliest_us == 500 + factor * airtime


def test_a_limit_of_zero_forbids_transmitting():
    duty = native.RadioDutyCycle(0)
    assert not duty.ready(0) and not duty.ready(2**64 - 1)
    assert duty.wait_us(5) is None and duty.earliest_us is None
    assert duty.transmitted(0, LINK, 10) == LINK.airtime_us(10)
    assert duty.earliest_us is None


def test_a_late_record_never_shortens_the_silence_owed():
    duty = native.RadioDutyCycle(10)
    slow = native.LoraLink(12, 125_000)
    duty.transmitted(0, slow, 50)
    owed = duty.earliest_us
    duty.transmitted(10, LINK, 1)  # owes less, from an earlier start
    assert duty.earliest_us == owed
    duty.transmitted(owed, LINK, 1)
    assert duty.earliest_us == owed + 100 * LINK.airtime_us(1)


def test_duty_cycle_arguments():
    with pytest.raises(OverflowError):
        native.RadioDutyCycle(-1)
    with pytest.raises(OverflowError):
        native.RadioDutyCycle(2**32)
    duty = native.RadioDutyCycle(10)
    with pytest.raises(OverflowError):
        duty.transmitted(-1, LINK, 1)
    with pytest.raises(TypeError):
        duty.transmitted(0, "link", 1)
