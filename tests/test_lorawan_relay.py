"""The TS011-1.0.1 relay wire formats: wake-on-radio frames, their
acknowledgements, forwarded uplinks and the timing of relay scans.

Keys, key streams and integrity codes are checked against a model built here
from the `cryptography` package's AES and CMAC following the layouts of
TS011-1.0.1, over random keys, addresses, counters and carriers.
"""
import random

import pytest
from peers.lorawan_crypto import aes, cmac

from trovik._native import (
    LoraRelayChannel,
    LorawanCarrier,
    LorawanStateSync,
    LorawanUplinkMetadata,
    LorawanWorKeys,
    TrovikError,
    lorawan_relay_forward_encode,
    lorawan_relay_forward_parse,
    lorawan_relay_next_wor,
    lorawan_relay_root_wor_s_key,
    lorawan_relay_second_channel,
    lorawan_relay_synchronization,
    lorawan_relay_t_offset_ms,
    lorawan_relay_unsynchronized_preamble,
    lorawan_relay_wor_ack,
    lorawan_relay_wor_ack_open,
    lorawan_relay_wor_join_request,
    lorawan_relay_wor_keys,
    lorawan_relay_wor_open,
    lorawan_relay_wor_parse,
    lorawan_relay_wor_uplink,
)

MALFORMED = "^lorawan frame is malformed$"

# ---------------------------------------------------------------------------
# The independent model.


def le(value, n):
    return value.to_bytes(n, "little")


def xor(a, b):
    return bytes(x ^ y for x, y in zip(a, b))


def model_root_key(nwk_skey):
    return aes(nwk_skey, b"\x01" + bytes(15))


def model_wor_keys(root, dev_addr):
    return (aes(root, b"\x01" + le(dev_addr, 4) + bytes(11)), aes(root, b"\x02" + le(dev_addr, 4) + bytes(11)))


def stream_block(direction, dev_addr, wfcnt, carrier):
    frequency_hz, data_rate = carrier
    return bytes([1, 0, 0, direction]) + le(dev_addr, 4) + le(wfcnt, 4) + le(frequency_hz // 100, 3) + bytes([data_rate])


def mic_head(direction, dev_addr, wfcnt, length):
    return bytes([0x49, 0, 0, 0, 0, direction]) + le(dev_addr, 4) + le(wfcnt, 4) + bytes([0, length])


def model_wor_uplink(keys, dev_addr, wfcnt, uplink, wor):
    integrity, encryption = keys
    plain = bytes([uplink[1]]) + le(uplink[0] // 100, 3)
    sealed = xor(plain, aes(encryption, stream_block(0, dev_addr, wfcnt, wor)))
    mic = cmac(integrity, mic_head(0, dev_addr, wfcnt, 14) + le(dev_addr, 4) + sealed + le(wfcnt & 0xFFFF, 2))[:4]
    return b"\x01" + le(dev_addr, 4) + sealed + le(wfcnt & 0xFFFF, 2) + mic


PERIODICITIES = ["ms1000", "ms500", "ms250", "ms100", "ms50", "ms20"]
CAD_TO_RX = ["symbols2", "symbols4", "symbols6", "symbols8"]
XTALS = ["ppm10", "ppm20", "ppm30", "ppm40"]
FORWARDS = ["available", "retry_in_30_minutes", "retry_in_60_minutes", "disabled"]


def model_state_word(s):
    return (s["t_offset_ms"] | PERIODICITIES.index(s["cad_periodicity"]) << 11 | XTALS.index(s["xtal_accuracy"]) << 14
            | s["relay_data_rate"] << 16 | FORWARDS.index(s["forward"]) << 20 | CAD_TO_RX.index(s["cad_to_rx"]) << 22)


def model_wor_ack(keys, dev_addr, wfcnt, ack, uplink, state):
    integrity, encryption = keys
    sealed = xor(le(model_state_word(state), 3), aes(encryption, stream_block(1, dev_addr, wfcnt, ack)))
    covered = (mic_head(1, dev_addr, wfcnt, 7) + sealed + bytes([uplink[1]]) + le(uplink[0] // 100, 3)
               + le(wfcnt & 0xFFFF, 2) + le(dev_addr, 4) + bytes(3))
    return sealed + cmac(integrity, covered)[:4]


def model_forward(channel, rssi, snr, data_rate, frequency_hz, frame):
    snr = min(max(snr, -20), 11)
    rssi = min(max(rssi, -142), -15)
    metadata = data_rate | (snr + 20) << 4 | (-rssi - 15) << 9 | ["default", "second"].index(channel) << 16
    return le(metadata, 3) + le(frequency_hz // 100, 3) + frame


def random_carrier(rng):
    return (rng.randrange(0, 0xFFFFFF + 1) * 100, rng.randrange(16))


def random_state(rng):
    return dict(cad_to_rx=rng.choice(CAD_TO_RX), forward=rng.choice(FORWARDS), relay_data_rate=rng.randrange(16),
                xtal_accuracy=rng.choice(XTALS), cad_periodicity=rng.choice(PERIODICITIES),
                t_offset_ms=rng.randrange(2048))


@pytest.fixture
def device():
    """A device's keys, derived as the network derives them."""
    nwk_skey = bytes(range(16, 32))
    dev_addr = 0x26011BDA
    root = lorawan_relay_root_wor_s_key(nwk_skey)
    return dev_addr, lorawan_relay_wor_keys(root, dev_addr)


# ---------------------------------------------------------------------------
# Keys and frames against the model.


def test_keys_frames_and_acknowledgements_agree_with_the_model():
    rng = random.Random(11)
    for _ in range(150):
        nwk_skey = rng.randbytes(16)
        dev_addr = rng.getrandbits(32)
        wfcnt = rng.getrandbits(32)
        root = lorawan_relay_root_wor_s_key(nwk_skey)
        assert root == model_root_key(nwk_skey)
        keys = lorawan_relay_wor_keys(root, dev_addr)
        model_keys = model_wor_keys(root, dev_addr)
        assert (keys.integrity, keys.encryption) == model_keys
        uplink, wor, ack = random_carrier(rng), random_carrier(rng), random_carrier(rng)

        frame = lorawan_relay_wor_uplink(keys, dev_addr, wfcnt, LorawanCarrier(*uplink), LorawanCarrier(*wor))
        assert frame == model_wor_uplink(model_keys, dev_addr, wfcnt, uplink, wor)
        opened = lorawan_relay_wor_open(frame, keys, wfcnt, LorawanCarrier(*wor))
        assert opened == LorawanCarrier(*uplink)

        state = random_state(rng)
        sent = lorawan_relay_wor_ack(keys, dev_addr, wfcnt, LorawanCarrier(*ack), LorawanCarrier(*uplink),
                                     LorawanStateSync(**state))
        assert sent == model_wor_ack(model_keys, dev_addr, wfcnt, ack, uplink, state)
        read = lorawan_relay_wor_ack_open(sent, keys, dev_addr, wfcnt, LorawanCarrier(*ack), LorawanCarrier(*uplink))
        assert read == LorawanStateSync(**state)


def test_forwarded_uplinks_agree_with_the_model_and_read_back():
    rng = random.Random(12)
    for _ in range(300):
        channel = rng.choice(["default", "second"])
        rssi, snr = rng.randrange(-32768, 32768), rng.randrange(-128, 128)
        data_rate = rng.randrange(16)
        frequency_hz = rng.randrange(0xFFFFFF + 1) * 100
        frame = rng.randbytes(rng.randrange(0, 64))
        payload = lorawan_relay_forward_encode(LorawanUplinkMetadata(channel, rssi, snr, data_rate), frequency_hz, frame)
        assert payload == model_forward(channel, rssi, snr, data_rate, frequency_hz, frame)
        read = lorawan_relay_forward_parse(payload)
        assert (read.frequency_hz, read.phy_payload) == (frequency_hz, frame)
        m = read.metadata
        assert (m.wor_channel, m.data_rate) == (channel, data_rate)
        assert (m.rssi_dbm, m.snr_db) == (min(max(rssi, -142), -15), min(max(snr, -20), 11))


# ---------------------------------------------------------------------------
# Wake-on-radio frames.


def test_a_carrier_travels_as_a_24_bit_count_of_100_hz():
    assert lorawan_relay_wor_join_request(LorawanCarrier(868_100_000, 5)) == bytes.fromhex("0005287684")
    assert lorawan_relay_wor_join_request(LorawanCarrier(1_677_721_500, 15)) == bytes.fromhex("000fffffff")


@pytest.mark.parametrize("carrier", [(868_100_050, 5), (1_677_721_600, 5), (868_100_000, 16)])
def test_carriers_that_cannot_travel_are_refused_everywhere(device, carrier):
    dev_addr, keys = device
    bad, good = LorawanCarrier(*carrier), LorawanCarrier(869_100_000, 3)
    state = LorawanStateSync("symbols2", "available", 3, "ppm10", "ms1000", 12)
    calls = [
        lambda: lorawan_relay_wor_join_request(bad),
        lambda: lorawan_relay_wor_uplink(keys, dev_addr, 1, bad, good),
        lambda: lorawan_relay_wor_uplink(keys, dev_addr, 1, good, bad),
        lambda: lorawan_relay_wor_ack(keys, dev_addr, 1, bad, good, state),
        lambda: lorawan_relay_wor_ack(keys, dev_addr, 1, good, bad, state),
        lambda: lorawan_relay_forward_encode(LorawanUplinkMetadata("default", -50, 5, carrier[1]), carrier[0], b""),
    ]
    for call in calls:
        with pytest.raises(TrovikError, match=MALFORMED):
            call()


def test_an_uplink_wor_opens_only_with_its_counter_and_keys(device):
    dev_addr, keys = device
    uplink, wor = LorawanCarrier(868_100_000, 5), LorawanCarrier(869_100_000, 3)
    wfcnt = 0x0003_0007
    frame = lorawan_relay_wor_uplink(keys, dev_addr, wfcnt, uplink, wor)
    parsed = lorawan_relay_wor_parse(frame)
    assert (parsed.kind, parsed.uplink, parsed.dev_addr, parsed.wfcnt) == ("uplink", None, dev_addr, 7)

    # The WOR carrier is not covered by the MIC: another one opens to another carrier.
    other = lorawan_relay_wor_open(frame, keys, wfcnt, LorawanCarrier(868_300_000, 3))
    assert other != uplink
    with pytest.raises(TrovikError, match="^lorawan frame counter does not match the one expected$"):
        lorawan_relay_wor_open(frame, keys, wfcnt + 1, wor)
    with pytest.raises(TrovikError, match="^lorawan MIC does not match the frame$"):
        lorawan_relay_wor_open(frame, keys, wfcnt + 65536, wor)
    with pytest.raises(TrovikError, match="^lorawan MIC does not match the frame$"):
        lorawan_relay_wor_open(frame, LorawanWorKeys(bytes(16), keys.encryption), wfcnt, wor)
    with pytest.raises(TrovikError, match=MALFORMED):
        lorawan_relay_wor_open(frame, keys, wfcnt, LorawanCarrier(868_100_001, 3))
    # The upper nibble of the type byte is not looked at.
    assert lorawan_relay_wor_open(b"\x11" + frame[1:], keys, wfcnt, wor) == uplink


@pytest.mark.parametrize(
    "frame, message",
    [
        (b"", "^lorawan frame is shorter than its header and MIC$"),
        (bytes(15), MALFORMED),
        (bytes.fromhex("0105287684"), MALFORMED),
        (bytes.fromhex("000528768400"), MALFORMED),
        (bytes.fromhex("02") + bytes(14), MALFORMED),
    ],
)
def test_a_wor_is_known_by_its_type_and_exact_length(frame, message):
    with pytest.raises(TrovikError, match=message):
        lorawan_relay_wor_parse(frame)


def test_a_join_request_wor_is_in_the_clear(device):
    dev_addr, keys = device
    parsed = lorawan_relay_wor_parse(bytes.fromhex("f0f5287684"))
    assert (parsed.kind, parsed.uplink, parsed.dev_addr, parsed.wfcnt) == (
        "join_request", LorawanCarrier(868_100_000, 5), None, None)
    # Refused before any key is used, right or wrong.
    wrong = LorawanWorKeys(bytes(16), bytes(16))
    with pytest.raises(TrovikError, match="^a join request WOR carries nothing sealed$"):
        lorawan_relay_wor_open(bytes.fromhex("0005287684"), wrong, 0, LorawanCarrier(1, 99))


# ---------------------------------------------------------------------------
# WOR acknowledgements.


def test_an_acknowledgement_is_checked_against_the_uplink_carrier_but_not_its_own(device):
    dev_addr, keys = device
    ack, uplink = LorawanCarrier(869_500_000, 3), LorawanCarrier(868_100_000, 5)
    state = LorawanStateSync("symbols8", "retry_in_60_minutes", 15, "ppm40", "ms20", 2047)
    frame = lorawan_relay_wor_ack(keys, dev_addr, 9, ack, uplink, state)
    assert len(frame) == 7
    assert lorawan_relay_wor_ack_open(frame, keys, dev_addr, 9, ack, uplink) == state
    with pytest.raises(TrovikError, match="^lorawan MIC does not match the frame$"):
        lorawan_relay_wor_ack_open(frame, keys, dev_addr, 9, ack, LorawanCarrier(868_300_000, 5))
    outcomes = set()
    for hz in range(869_000_000, 869_020_000, 100):
        try:
            got = lorawan_relay_wor_ack_open(frame, keys, dev_addr, 9, LorawanCarrier(hz, 3), uplink)
            outcomes.add("same" if got == state else "different")
        except TrovikError as e:
            assert str(e) == "lorawan frame is malformed"  # decrypted to periodicity 6 or 7
            outcomes.add("malformed")
    assert outcomes == {"different", "malformed"}
    for length in (6, 8):
        with pytest.raises(TrovikError, match=MALFORMED):
            lorawan_relay_wor_ack_open((frame + b"\0")[:length], keys, dev_addr, 9, ack, uplink)


def test_a_state_sync_is_a_value_with_checked_names():
    s = LorawanStateSync("symbols2", "available", 3, "ppm10", "ms1000", 12)
    assert repr(s) == ('LorawanStateSync(cad_to_rx="symbols2", forward="available", relay_data_rate=3, '
                       'xtal_accuracy="ppm10", cad_periodicity="ms1000", t_offset_ms=12)')
    assert s == LorawanStateSync("symbols2", "available", 3, "ppm10", "ms1000", 12)
    others = ["symbols4", "disabled", 4, "ppm20", "ms500", 13]
    for i, value in enumerate(others):
        args = ["symbols2", "available", 3, "ppm10", "ms1000", 12]
        args[i] = value
        other = LorawanStateSync(*args)
        assert s != other and not s == other
    assert s.__eq__(3) is NotImplemented
    with pytest.raises(TypeError):
        s < s  # noqa: B015
    assert (LorawanCarrier(1, 2) == LorawanCarrier(1, 2), LorawanCarrier(1, 2) != LorawanCarrier(1, 3)) == (True, True)
    assert repr(LorawanCarrier(868_100_000, 5)) == "LorawanCarrier(frequency_hz=868100000, data_rate=5)"


@pytest.mark.parametrize(
    "args, message",
    [
        (("symbols3", "available", 3, "ppm10", "ms30", 12),
         "symbols3 is not a CAD to RX time; expected symbols2, symbols4, symbols6 or symbols8"),
        (("symbols2", "Available", 3, "ppm0", "ms30", 12),
         "Available is not a forwarding state; expected available, retry_in_30_minutes, retry_in_60_minutes or "
         "disabled"),
        (("symbols2", "available", 3, "ppm0", "ms30", 12),
         "ppm0 is not a crystal accuracy; expected ppm10, ppm20, ppm30 or ppm40"),
        (("symbols2", "available", 3, "ppm10", "ms30", 12),
         "ms30 is not a scan periodicity; expected ms1000, ms500, ms250, ms100, ms50 or ms20"),
    ],
)
def test_state_names_are_checked_in_order(args, message):
    with pytest.raises(TrovikError) as caught:
        LorawanStateSync(*args)
    assert str(caught.value) == message


def test_a_state_that_cannot_travel_is_built_but_not_sent(device):
    dev_addr, keys = device
    carrier = LorawanCarrier(869_500_000, 3)
    late = LorawanStateSync("symbols2", "available", 3, "ppm10", "ms1000", 3000)
    assert late.t_offset_ms == 3000
    for state in (late, LorawanStateSync("symbols2", "available", 16, "ppm10", "ms1000", 1),
                  LorawanStateSync("symbols2", "available", 3, "ppm10", "ms1000", 2048)):
        with pytest.raises(TrovikError, match=MALFORMED):
            lorawan_relay_wor_ack(keys, dev_addr, 1, carrier, carrier, state)


# ---------------------------------------------------------------------------
# Forwarded uplinks.


def test_forwarded_metadata_reads_as_laid_out():
    top = lorawan_relay_forward_parse(bytes.fromhex("ffff00000000"))
    m = top.metadata
    assert (m.data_rate, m.snr_db, m.rssi_dbm, m.wor_channel, top.frequency_hz, top.phy_payload) == (
        15, 11, -142, "default", 0, b"")
    assert repr(m) == 'LorawanUplinkMetadata(wor_channel="default", rssi_dbm=-142, snr_db=11, data_rate=15)'
    assert lorawan_relay_forward_parse(bytes.fromhex("0000fd287684")).metadata.wor_channel == "second"
    for bad in ("000002000000", "000003000000"):
        with pytest.raises(TrovikError, match=MALFORMED):
            lorawan_relay_forward_parse(bytes.fromhex(bad))
    with pytest.raises(TrovikError, match="^lorawan frame is shorter than its header and MIC$"):
        lorawan_relay_forward_parse(bytes(5))


@pytest.mark.parametrize("snr, rssi, snr_read, rssi_read", [(20, -10, 11, -15), (-25, -150, -20, -142)])
def test_forwarded_levels_are_clamped(snr, rssi, snr_read, rssi_read):
    payload = lorawan_relay_forward_encode(LorawanUplinkMetadata("default", rssi, snr, 0), 868_100_000, b"\x40")
    m = lorawan_relay_forward_parse(payload).metadata
    assert (m.snr_db, m.rssi_dbm) == (snr_read, rssi_read)


def test_a_wor_channel_is_named_default_or_second():
    with pytest.raises(TrovikError) as caught:
        LorawanUplinkMetadata("third", -50, 5, 3)
    assert str(caught.value) == "third is not a WOR channel; expected default or second"


# ---------------------------------------------------------------------------
# Timing.


@pytest.mark.parametrize(
    "scan, end, ms",
    [(1000, 1000, 0), (0, 1, 1), (0, 2_047_000, 2047), (0, 2_047_001, None), (0, 2_048_000, None), (10, 9, None)],
)
def test_t_offset(scan, end, ms):
    assert lorawan_relay_t_offset_ms(scan, end) == ms


def test_a_synchronization_meets_the_relay_s_scans():
    state = LorawanStateSync("symbols4", "available", 3, "ppm20", "ms100", 12)
    sync = lorawan_relay_synchronization(1_000_000, 100, 1024, state)
    assert (sync.reference_us, sync.cad_periodicity, sync.relay_xtal, sync.cad_to_rx) == (
        1_000_000 + 102_400 - 12_000, "ms100", "ppm20", "symbols4")
    assert lorawan_relay_synchronization(1000, 0, 0, state).reference_us == 0

    slot = lorawan_relay_next_wor(sync, sync.reference_us, 20, 1024)
    assert (slot.start_us, slot.preamble_symbols) == (sync.reference_us, 4 + 7)
    # On the other WOR channel, the scan half a period later.
    assert lorawan_relay_next_wor(sync, sync.reference_us, 20, 1024, other_channel=True).start_us == (
        sync.reference_us + 50_000)

    fast = lorawan_relay_synchronization(0, 0, 1024, LorawanStateSync("symbols2", "available", 3, "ppm40", "ms20", 0))
    # 80 ppm over 250 s is a whole 20 ms period of drift; after it, nothing is certain.
    slot = lorawan_relay_next_wor(fast, 249_990_000, 40, 1024)
    assert (slot.start_us, slot.preamble_symbols) == (249_990_000, 2 + 19 + 7)
    assert lorawan_relay_next_wor(fast, 249_990_001, 40, 1024) is None
    assert lorawan_relay_next_wor(fast, 2**64 - 1, 40, 1024) is None


U64_MAX = 2**64 - 1


@pytest.mark.parametrize(
    "wor_start, preamble, symbol_us, t_offset",
    [
        # Near the top of the clock: a preamble end past 2**64 that t_offset brings back in range.
        (2**64 - 100, 1, 200, 1),
        (U64_MAX, 1, 2_047_000, 2047),
        (U64_MAX, 1, 2_047_001, 2047),
        (U64_MAX, 0, 0, 0),
        (U64_MAX, 0, 0, 2047),
        (2**64 - 1000, 0, 1000, 1),
        (2**64 - 1000, 1, 1001, 1),
        (U64_MAX, 65535, U64_MAX, 2047),
        (0, 65535, U64_MAX, 2047),
        (0, 65535, 2**64 // 65535 + 1, 2047),
        # Near zero: an offset reaching back past the clock's start.
        (0, 0, 0, 0),
        (999, 0, 0, 1),
        (1000, 0, 0, 1),
        (1001, 0, 0, 1),
        (0, 1000, 1, 1),
        (0, 1001, 1, 1),
        (0, 0, 0, 2047),
        (1_000_000, 100, 1024, 12),
    ],
)
def test_a_synchronization_reference_saturates_only_at_the_ends(wor_start, preamble, symbol_us, t_offset):
    state = LorawanStateSync("symbols4", "available", 3, "ppm20", "ms100", t_offset)
    expected = min(max(wor_start + preamble * symbol_us - 1000 * t_offset, 0), U64_MAX)
    assert lorawan_relay_synchronization(wor_start, preamble, symbol_us, state).reference_us == expected


@pytest.mark.parametrize(
    "periodicity, symbol_us, cad_to_rx, symbols",
    [("ms1000", 1024, "symbols2", 985), ("ms20", 1024, "symbols8", 34), ("ms1000", 0, "symbols2", 65535),
     ("ms1000", 1, "symbols2", 65535)],
)
def test_unsynchronized_preamble(periodicity, symbol_us, cad_to_rx, symbols):
    assert lorawan_relay_unsynchronized_preamble(periodicity, symbol_us, cad_to_rx) == symbols


def test_unsynchronized_preamble_checks_the_periodicity_first():
    with pytest.raises(TrovikError, match="^ms30 is not a scan periodicity"):
        lorawan_relay_unsynchronized_preamble("ms30", 1024, "symbols3")
    with pytest.raises(TrovikError, match="^symbols3 is not a CAD to RX time"):
        lorawan_relay_unsynchronized_preamble("ms20", 1024, "symbols3")


@pytest.mark.parametrize(
    "index, data_rate, ack_offset, frequency_hz, channel",
    [
        (1, 3, 2, 869_100_000, (869_100_000, 869_500_000, 3)),
        (1, 3, 0, 869_100_000, (869_100_000, 869_100_000, 3)),
        (1, 3, 5, 869_100_000, (869_100_000, 872_300_000, 3)),
        (0, 3, 2, 869_100_000, None),
        (2, 3, 2, 869_100_000, None),
        (1, 3, 6, 869_100_000, None),
        (1, 3, 5, 2**32 - 1_000_000, None),
    ],
)
def test_second_channel(index, data_rate, ack_offset, frequency_hz, channel):
    got = lorawan_relay_second_channel(index, data_rate, ack_offset, frequency_hz)
    assert got == (None if channel is None else LoraRelayChannel(*channel))


# ---------------------------------------------------------------------------
# Arguments.


def test_key_lengths_are_refused_by_name():
    with pytest.raises(TrovikError, match="^root_key must be exactly 16 bytes$"):
        lorawan_relay_wor_keys(bytes(15), 1)
    with pytest.raises(TrovikError, match="^network_key must be exactly 16 bytes$"):
        lorawan_relay_root_wor_s_key(bytes(17))
    with pytest.raises(TrovikError, match="^encryption must be exactly 16 bytes$"):
        LorawanWorKeys(bytes(16), bytes(3))


def test_arguments_are_converted_first(device):
    dev_addr, keys = device
    with pytest.raises(OverflowError):
        LorawanCarrier(2**32, 0)
    with pytest.raises(OverflowError):
        LorawanUplinkMetadata("default", -40000, 0, 0)
    with pytest.raises(TypeError):
        lorawan_relay_wor_join_request((868_100_000, 5))
    with pytest.raises(OverflowError):
        lorawan_relay_t_offset_ms(-1, 0)
    with pytest.raises(TypeError):
        lorawan_relay_wor_parse("0005287684")
    with pytest.raises(TypeError):
        lorawan_relay_wor_uplink(keys, dev_addr, 1, LorawanCarrier(1, 1), LorawanCarrier(100, 1), "extra")
