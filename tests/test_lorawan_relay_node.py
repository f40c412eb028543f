"""The relay node: scans, wake-on-radio frames and their acknowledgments, the
uplinks it forwards on port 226, the RXR downlinks it passes back, its limits
and its refusals.

The end devices around the relay are played by hand-built frames: their WOR
frames and the acknowledgments expected back come from a model built here on
the `cryptography` package's AES and CMAC; the relay's own uplinks are read and
its downlinks built with liblora (`loramsg`), independently of our session code.
"""
import loramsg
import pytest
from peers.lorawan_crypto import aes, cmac

import trovik._native as native
from trovik._native import LorawanCarrier, LorawanDeviceError, LorawanRelayError, TrovikError

RELAY_ADDR = 0x01020304
RELAY_NWK = bytes(range(16))
RELAY_APP = bytes(range(16, 32))
DEV_ADDR = 0x26011BDA
DEV_NWK = bytes(range(32, 48))
DEV_APP = bytes(range(48, 64))
ROOT = native.lorawan_relay_root_wor_s_key(DEV_NWK)
UPLINK = (868100000, 5)
APP_KEY = bytes.fromhex("2b7e151628aed2a6abf7158809cf4f3c")
DEV_EUI = bytes.fromhex("0004a30b001c0530")
JOIN_EUI = bytes.fromhex("70b3d57ed0000001")

# ---------------------------------------------------------------------------
# The independent model of the end device's side.


def le(value, n):
    return value.to_bytes(n, "little")


def xor(a, b):
    return bytes(x ^ y for x, y in zip(a, b))


def wor_keys(dev_addr=DEV_ADDR):
    root = aes(DEV_NWK, b"\x01" + bytes(15))
    return (aes(root, b"\x01" + le(dev_addr, 4) + bytes(11)), aes(root, b"\x02" + le(dev_addr, 4) + bytes(11)))


def stream_block(direction, dev_addr, wfcnt, carrier):
    return bytes([1, 0, 0, direction]) + le(dev_addr, 4) + le(wfcnt, 4) + le(carrier[0] // 100, 3) + bytes([carrier[1]])


def mic_head(direction, dev_addr, wfcnt, length):
    return bytes([0x49, 0, 0, 0, 0, direction]) + le(dev_addr, 4) + le(wfcnt, 4) + bytes([0, length])


def model_wor(wfcnt, wor, uplink=UPLINK, dev_addr=DEV_ADDR):
    integrity, encryption = wor_keys(dev_addr)
    sealed = xor(bytes([uplink[1]]) + le(uplink[0] // 100, 3), aes(encryption, stream_block(0, dev_addr, wfcnt, wor)))
    mic = cmac(integrity, mic_head(0, dev_addr, wfcnt, 14) + le(dev_addr, 4) + sealed + le(wfcnt & 0xFFFF, 2))[:4]
    return b"\x01" + le(dev_addr, 4) + sealed + le(wfcnt & 0xFFFF, 2) + mic


def model_ack(wfcnt, ack, word, uplink=UPLINK):
    integrity, encryption = wor_keys()
    sealed = xor(le(word, 3), aes(encryption, stream_block(1, DEV_ADDR, wfcnt, ack)))
    covered = (mic_head(1, DEV_ADDR, wfcnt, 7) + sealed + bytes([uplink[1]]) + le(uplink[0] // 100, 3)
               + le(wfcnt & 0xFFFF, 2) + le(DEV_ADDR, 4) + bytes(3))
    return sealed + cmac(integrity, covered)[:4]


def signed(value):
    return value - (1 << 32) if value >= 1 << 31 else value


def device_uplink(fcnt=0, payload=b"reading", dev_addr=DEV_ADDR):
    return loramsg.pack_dataframe(mhdr=0x40, devaddr=signed(dev_addr), fcnt=fcnt, port=1, payload=payload,
                                  nwkskey=DEV_NWK, appskey=DEV_APP)


def carrier(pair):
    return LorawanCarrier(*pair)


# ---------------------------------------------------------------------------
# Fixtures.


def eu868():
    return native.ChannelPlan.for_region("EU868")


def settings(**kw):
    return native.LorawanDeviceSettings(-9, 22, **kw)


def personalized_relay(**kw):
    return native.LorawanRelay.personalized(eu868(), native.LorawanSession(RELAY_ADDR, RELAY_NWK, RELAY_APP),
                                            settings(), **kw)


class Turn:
    """A running relay trusting the device, and the scan it runs first."""

    def __init__(self, relay=None, start_us=1000, **trust):
        self.relay = relay or personalized_relay()
        self.relay.start()
        self.relay.trust(0, DEV_ADDR, ROOT, **trust)
        self.scan = self.relay.next_scan(start_us)
        self.wor_carrier = (self.scan.carrier.frequency_hz, self.scan.carrier.data_rate)

    def wake(self, wfcnt, ended_us, **kw):
        return self.relay.heard_wor(self.scan, model_wor(wfcnt, self.wor_carrier, **kw), -80, 5, ended_us)


@pytest.fixture
def turn():
    return Turn()


# ---------------------------------------------------------------------------
# Making and configuring a relay.


def test_a_fresh_relay_is_stopped_until_started():
    relay = native.LorawanRelay.over_the_air(eu868(), native.LorawanDevice(DEV_EUI, JOIN_EUI, APP_KEY), settings())
    assert (relay.running, relay.next_scan(0), relay.joined, relay.dev_addr, relay.forward_due) == \
        (False, None, False, None, None)
    assert repr(relay) == "LorawanRelay(not joined)"
    assert repr(personalized_relay()) == "LorawanRelay(dev_addr=0x01020304)"
    relay.start()
    scans = [relay.next_scan(t) for t in (5, 6, 1000005)]
    assert [s.start_us for s in scans] == [5, 1000005, 1000005]
    assert (scans[0].carrier, scans[0].channel) == (LorawanCarrier(865100000, 3), "default")
    relay.stop()
    assert (relay.running, relay.next_scan(0)) == (False, None)
    with pytest.raises(TypeError):
        native.LorawanRelay()


@pytest.mark.parametrize("kw, message", [
    ({"xtal_accuracy": "ppm50"}, "ppm50 is not a crystal accuracy; expected ppm10, ppm20, ppm30 or ppm40"),
    ({"cad_to_rx": "symbols3"}, "symbols3 is not a CAD to RX time; expected symbols2, symbols4, symbols6 or symbols8"),
])
def test_hardware_names_are_checked(kw, message):
    with pytest.raises(TrovikError, match=f"^{message}$"):
        personalized_relay(**kw)


def test_a_built_plan_is_refused():
    builder = native.ChannelPlanBuilder("private")
    builder.data_rate(native.LoraDataRate.lora(12, 125000, 250))
    builder.rx1_row([0])
    with pytest.raises(TrovikError, match="^a device runs on a published plan"):
        native.LorawanRelay.personalized(builder.build(), native.LorawanSession(RELAY_ADDR, RELAY_NWK, RELAY_APP),
                                         settings())


@pytest.mark.parametrize("region, args, error, message", [
    ("EU868", ("ms30", 9), TrovikError,
     "ms30 is not a scan periodicity; expected ms1000, ms500, ms250, ms100, ms50 or ms20"),
    ("EU868", ("ms1000", 2), TrovikError, "the region does not define that wake-on-radio channel"),
    ("EU433", ("ms1000", 0), TrovikError, "the region does not define that wake-on-radio channel"),
    # DR3 at 125 kHz: 4096 us symbols, ten to a scan, longer than 20 ms.
    ("EU868", ("ms20", 0), LorawanRelayError, "the relay cannot run that configuration"),
])
def test_start_refusals(region, args, error, message):
    relay = native.LorawanRelay.personalized(native.ChannelPlan.for_region(region),
                                             native.LorawanSession(RELAY_ADDR, RELAY_NWK, RELAY_APP), settings())
    with pytest.raises(error) as raised:
        relay.start(*args)
    assert str(raised.value) == message
    if error is LorawanRelayError:
        assert raised.value.kind == "configuration"
    assert not relay.running


@pytest.mark.parametrize("index, key, message", [
    (16, bytes(16), "a relay trusts sixteen devices, at indexes 0 to 15"),
    (16, bytes(15), "a root relay session key is sixteen bytes"),
    (0, bytes(17), "a root relay session key is sixteen bytes"),
])
def test_trust_refusals(index, key, message):
    with pytest.raises(TrovikError) as raised:
        personalized_relay().trust(index, DEV_ADDR, key)
    assert str(raised.value) == message and type(raised.value) is TrovikError


def test_scan_schedule_with_a_second_channel():
    relay = personalized_relay()
    relay.start("ms50")
    first = relay.next_scan(1000)
    # The default channel serves unsynchronized devices: a whole second of preamble.
    assert (first.start_us, first.preamble_symbols, first.link.spreading_factor) == (1000, 8 + 244 + 7, 9)
    assert repr(first) == "LorawanScan(start_us=1000, frequency_hz=865100000, data_rate=3)"
    relay.start("ms100", second_channel=native.LoraRelayChannel(869100000, 869500000, 3))
    second = relay.next_scan(1001)
    assert (second.start_us, second.channel, second.preamble_symbols) == (51000, "second", 8 + 100000 // 4096 + 7)
    assert (relay.next_scan(51001).start_us, relay.next_scan(51001).channel) == (101000, "default")
    assert relay.next_scan(101000).channel == "default"


# ---------------------------------------------------------------------------
# One whole turn.


def test_wor_ack_uplink_forward_and_rxr_downlink(turn):
    relay, scan = turn.relay, turn.scan
    # 15 bytes at SF9 take 132096 us after the preamble: ending 200 ms after
    # the scan started, the preamble ended 67904 us in, 68 ms rounded up.
    wake = turn.wake(7, scan.start_us + 200000)
    assert (wake.kind, wake.dev_addr, wake.wfcnt, wake.forward) == ("uplink", DEV_ADDR, 7, "available")
    assert repr(wake) == f'LorawanWake(kind="uplink", dev_addr=Some({DEV_ADDR}))'
    ack = wake.acknowledgment
    ack_carrier = (865300000, 3)
    word = 68 | 0 << 11 | 3 << 14 | relay.data_rate << 16 | 0 << 20 | 3 << 22
    assert ack.frame == model_ack(7, ack_carrier, word)
    assert (ack.start_us, ack.carrier, ack.link.preamble_symbols) == \
        (scan.start_us + 250000, carrier(ack_carrier), 8)
    assert ack.airtime_us == ack.link.airtime_us(7) and ack.output_dbm == 16
    assert repr(ack) == f"LorawanAcknowledgment(start_us={scan.start_us + 250000}, frequency_hz=865300000)"
    listen = wake.listen
    assert (listen.start_us, listen.carrier, listen.max_len, listen.link.spreading_factor) == \
        (scan.start_us + 300000 + ack.airtime_us, carrier(UPLINK), 45, 7)

    frame = device_uplink()
    ended = listen.start_us + listen.link.airtime_us(len(frame))
    assert relay.heard_uplink(frame, -80, 5, ended) == relay.forward_due == ended + 50000
    with pytest.raises(LorawanRelayError) as raised:
        turn.wake(8, ended + 1000)
    assert (raised.value.kind, str(raised.value)) == ("busy", "a forwarded uplink is still waiting to go out")
    with pytest.raises(LorawanDeviceError) as early:
        relay.forward(ended + 49999)
    assert (early.value.kind, early.value.until_us) == ("wait", ended + 50000)

    sent = relay.forward(ended + 50000)
    assert relay.forward_due is None and sent.carries_payload
    theirs = loramsg.unpack_dataframe(sent.frame, 0, RELAY_NWK, RELAY_APP)
    assert theirs["FPort"] == native.LORAWAN_LA_FPORT_RELAY == 226
    forwarded = native.lorawan_relay_forward_parse(theirs["FRMPayload"])
    assert forwarded.phy_payload == frame and forwarded.frequency_hz == UPLINK[0]
    meta = forwarded.metadata
    assert (meta.wor_channel, meta.rssi_dbm, meta.snr_db, meta.data_rate) == ("default", -80, 5, 5)

    # The network answers the device through the relay, on port 226.
    for_device = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(DEV_ADDR), fcnt=0, port=1, payload=b"ok",
                                        nwkskey=DEV_NWK, appskey=DEV_APP)
    down = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(RELAY_ADDR), fcnt=0, port=226, payload=for_device,
                                  nwkskey=RELAY_NWK, appskey=RELAY_APP)
    heard = relay.heard_in("rx1", down, 3)
    assert (heard.kind, heard.reason, heard.heard.kind, heard.heard.delivery.port) == ("downlink", None, "data", 226)
    assert repr(heard) == 'LorawanRelayHeard(kind="downlink")'
    rxr = heard.downlink
    assert rxr.frame == for_device
    assert loramsg.unpack_dataframe(rxr.frame, 0, DEV_NWK, DEV_APP)["FRMPayload"] == b"ok"
    # RX1 of DR5 at offset 0 is DR5, sent on the WOR channel's frequency.
    assert (rxr.start_us, rxr.carrier, rxr.link.crc) == (ended + 18000000, LorawanCarrier(scan.carrier.frequency_hz, 5),
                                                         True)
    assert rxr.airtime_us == rxr.link.airtime_us(len(for_device)) and rxr.output_dbm == 16
    assert repr(rxr) == f"LorawanRxrDownlink(start_us={ended + 18000000}, frequency_hz=865100000)"


def test_a_device_the_relay_does_not_know_is_notified_once(turn):
    stranger = 0x26AABBCC
    first = turn.wake(1, 300000, dev_addr=stranger)
    assert (first.kind, first.dev_addr, first.acknowledgment, first.listen, first.wfcnt) == \
        ("notified", stranger, None, None, None)
    assert turn.wake(2, 400000, dev_addr=stranger).kind == "notified"
    up = turn.relay.send_empty(1000000)
    fopts = loramsg.unpack_dataframe(up.frame, 0, RELAY_NWK, RELAY_APP)["FOpts"]
    [notice] = native.lorawan_mac_parse("uplink", fopts)
    assert (notice.kind, notice.dev_addr, notice.rssi_dbm, notice.snr_db) == \
        ("notify_new_end_device_req", stranger, -80, 5)
    # Carried once: the next uplink owes nothing.
    turn.relay.nothing_heard(4000000)
    again = turn.relay.send_empty(200_000_000)
    assert loramsg.unpack_dataframe(again.frame, 1, RELAY_NWK, RELAY_APP)["FOpts"] == b""


def test_notifications_are_limited_per_hour(turn):
    # Four notifications an hour by default.
    for n in range(4):
        assert turn.wake(1, 300000 + n, dev_addr=0x26000000 + n).kind == "notified"
    with pytest.raises(LorawanRelayError) as raised:
        turn.wake(1, 400000, dev_addr=0x26000010)
    assert (raised.value.kind, str(raised.value)) == ("limited", "a forwarding limit is reached")


def test_counters_extend_past_16_bits_and_are_spent():
    turn = Turn(next_wfcnt=0x1FFFE)
    assert turn.wake(0x20001, 300000).wfcnt == 0x20001
    turn.relay.uplink_missed()
    assert turn.wake(0x2FFFE, 400000).wfcnt == 0x2FFFE
    turn.relay.uplink_missed()
    assert relay_error(turn.wake, 0x2FFFE, 500000) == \
        ("frame", "the frame did not decode: lorawan MIC does not match the frame")


def test_a_device_out_of_tokens_is_told_when_to_retry():
    turn = Turn(reload_rate=1, bucket_size=0)
    frame = device_uplink()
    wake = turn.wake(0, 300000)
    turn.relay.heard_uplink(frame, -80, 5, wake.listen.start_us + 60000)
    turn.relay.forward(wake.listen.start_us + 110000)
    turn.relay.nothing_heard(10000000)
    # Its one token an hour is spent: the acknowledgment says so and nobody listens.
    refused = turn.wake(1, 20000000)
    assert (refused.forward, refused.listen) == ("retry_in_60_minutes", None)
    assert refused.acknowledgment is not None
    late = turn.wake(2, turn.scan.start_us + 1900000000)
    assert late.forward == "retry_in_30_minutes"


def test_a_join_request_is_announced_and_forwarded(turn):
    join = native.LorawanEndDevice.over_the_air(eu868(), native.LorawanDevice(DEV_EUI, JOIN_EUI, APP_KEY),
                                                settings()).join(3, 0)
    announced = (join.frequency_hz, join.data_rate)
    wake = turn.relay.heard_wor(turn.scan, native.lorawan_relay_wor_join_request(carrier(announced)), -90, 2, 500000)
    assert (wake.kind, wake.dev_addr, wake.forward, wake.acknowledgment) == ("join_request", None, None, None)
    assert (wake.listen.start_us, wake.listen.max_len, wake.listen.carrier) == (550000, 23, carrier(announced))
    due = turn.relay.heard_uplink(join.frame, -90, 2, 700000)
    sent = turn.relay.forward(due)
    payload = loramsg.unpack_dataframe(sent.frame, 0, RELAY_NWK, RELAY_APP)["FRMPayload"]
    forwarded = native.lorawan_relay_forward_parse(payload)
    assert forwarded.phy_payload == join.frame
    loramsg.verify_jreq(APP_KEY, forwarded.phy_payload)


# ---------------------------------------------------------------------------
# Refusals.


def relay_error(call, *args):
    with pytest.raises(LorawanRelayError) as raised:
        call(*args)
    assert type(raised.value) is LorawanRelayError and isinstance(raised.value, TrovikError)
    return raised.value.kind, str(raised.value)


def test_uplink_refusals(turn):
    relay = turn.relay
    assert relay_error(relay.heard_uplink, device_uplink(), 0, 0, 1) == \
        ("not_listening", "no WOR frame announced this uplink")
    assert relay_error(relay.forward, 1) == ("nothing_held", "no forwarded uplink is waiting to go out")
    cases = [
        (device_uplink(dev_addr=0x26000001), ("foreign", "the uplink is not from the device that woke it")),
        (device_uplink()[:11], ("frame", "the frame did not decode: lorawan frame is shorter than its header and MIC")),
        (b"\x60" + device_uplink()[1:], ("frame", "the frame did not decode: lorawan frame is malformed")),
        (device_uplink(payload=bytes(40)),
         ("frame", "the frame did not decode: lorawan payload does not fit a single frame")),
    ]
    for n, (frame, expected) in enumerate(cases):
        turn.wake(n, 300000 + n)
        assert relay_error(relay.heard_uplink, frame, 0, 0, 500000) == expected
        # The announced frame is gone whatever happened.
        assert relay_error(relay.heard_uplink, device_uplink(), 0, 0, 500000)[0] == "not_listening"


def test_wor_refusals(turn):
    relay = turn.relay
    assert relay_error(relay.heard_wor, turn.scan, b"", 0, 0, 1)[0] == "frame"
    assert relay_error(relay.heard_wor, turn.scan, bytes(6), 0, 0, 1) == \
        ("frame", "the frame did not decode: lorawan frame is malformed")
    wrong = native.lorawan_relay_wor_join_request(LorawanCarrier(868100000, 9))
    assert relay_error(relay.heard_wor, turn.scan, wrong, 0, 0, 1) == \
        ("carrier", "the relay cannot use 868100000 Hz at DR9")
    relay.stop()
    assert relay_error(turn.wake, 1, 2) == ("stopped", "the relay is not scanning")
    # A scan of a second channel the relay no longer has.
    relay.start("ms100", second_channel=native.LoraRelayChannel(869100000, 869500000, 3))
    relay.next_scan(60000)
    second = relay.next_scan(60001)
    relay.start("ms100")
    assert second.channel == "second"
    assert relay_error(relay.heard_wor, second, model_wor(1, (869100000, 3)), 0, 0, 70000) == \
        ("carrier", "the relay cannot use 869100000 Hz at DR3")


def test_a_port_226_downlink_with_nothing_awaited_is_undeliverable(turn):
    relay = turn.relay
    relay.send(2, b"own", 0)
    down = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(RELAY_ADDR), fcnt=0, port=226, payload=bytes(20),
                                  nwkskey=RELAY_NWK, appskey=RELAY_APP)
    heard = relay.heard_in("rx2", down, 0)
    assert (heard.kind, heard.reason, heard.downlink) == \
        ("undeliverable", "no forwarded uplink awaits an answer", None)
    with pytest.raises(TrovikError, match="^rx3 is not a receive window; expected rx1, rx2 or rxr$"):
        relay.heard_in("rx3", down, 0)
    # What the relay's own device refuses is raised as its own.
    with pytest.raises(LorawanDeviceError) as raised:
        relay.heard_in("rx1", down, 0)
    assert raised.value.kind == "nothing_pending"


def test_a_held_forward_the_relay_can_no_longer_send_is_dropped():
    # The relay's own device joins on DR5, where a forward of 150 bytes fits.
    relay = native.LorawanRelay.over_the_air(eu868(), native.LorawanDevice(DEV_EUI, JOIN_EUI, APP_KEY),
                                             settings(version="1.0.3"))
    request = relay.join(1, 0)
    grant = native.LorawanGrant(0x123456, 0x13, RELAY_ADDR)
    dev_nonce = native.lorawan_parse_join_request(request.frame, APP_KEY).dev_nonce
    assert relay.heard_in("rx1", grant.accept(APP_KEY, dev_nonce), 0).kind == "device"
    assert (relay.joined, relay.data_rate) == (True, 5)
    turn = Turn(relay, start_us=10_000_000)
    wake = turn.wake(0, 10_300_000)
    assert wake.listen.max_len >= 150
    relay.heard_uplink(device_uplink(payload=bytes(137)), 0, 0, 11_000_000)
    # Without a downlink, ADR lowers the relay's own data rate, and at DR3
    # its uplinks carry 115 bytes.
    now = 12_000_000
    while relay.data_rate > 3:
        relay.send_empty(now)
        relay.nothing_heard(now + 3_000_000)
        now += 10_000_000
    assert relay.data_rate == 3
    with pytest.raises(LorawanDeviceError) as raised:
        relay.forward(now)
    assert (raised.value.kind, raised.value.max) == ("payload_too_long", 115)
    assert relay.forward_due is None
    assert relay_error(relay.forward, now)[0] == "nothing_held"
    assert turn.wake(1, now + 1_000_000).kind == "uplink"


# ---------------------------------------------------------------------------
# The relay requests a network configures the relay with.


def downlink_with(relay_fcnt, *commands):
    """The commands on port 0, where any number of them fits."""
    return loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(RELAY_ADDR), fcnt=relay_fcnt, port=0,
                                  payload=b"".join(c.encode() for c in commands), nwkskey=RELAY_NWK)


def answers_after(relay, fcnt, *commands, now_us=0):
    """The answers the relay's next uplink carries after a downlink of `commands`.

    Its own uplinks go at DR0, a second and more on air each: they are spaced
    200 s apart for the duty cycle."""
    relay.send_empty(now_us)
    relay.heard_in("rx1", downlink_with(fcnt, *commands), 0)
    up = relay.send_empty(now_us + 200_000_000)
    relay.nothing_heard(now_us + 203_000_000)
    return native.lorawan_mac_parse("uplink", loramsg.unpack_dataframe(up.frame, fcnt + 1, RELAY_NWK)["FOpts"])


@pytest.fixture
def configured():
    relay = personalized_relay()
    # Its own device answers a DevStatusReq: it processes what its downlinks carry.
    assert answers_after(relay, 0, native.LorawanMacCommand(0x06, "downlink"))
    return relay


def test_the_relay_answers_the_five_relay_requests(configured):
    relay = configured
    req = lambda cid, **fields: native.LorawanMacCommand(cid, "downlink", **fields)  # noqa: E731
    conf, filt, update, ctrl = answers_after(
        relay, 1,
        req(0x40, enabled=True, cad_periodicity=4, default_channel_index=0, second_channel_index=0,
            second_channel_data_rate=0, second_channel_ack_offset=0, frequency_hz=0),
        req(0x42, index=0, action=2, eui_len=0, eui=bytes(16)),
        req(0x43, index=3, bucket_size=0, reload_rate=63, dev_addr=DEV_ADDR, wfcnt=5, root_wor_s_key=ROOT),
        req(0x44, action=0, index=3),
        now_us=500_000_000)
    assert conf.kind == "relay_conf_ans" and all(getattr(conf, f) for f in (
        "cad_periodicity_ack", "default_channel_index_ack", "second_channel_index_ack",
        "second_channel_data_rate_ack", "second_channel_ack_offset_ack", "second_channel_frequency_ack"))
    assert (filt.combined_rules_ack, filt.eui_len_ack, filt.action_ack) == (True, True, True)
    assert update.kind == "update_uplink_list_ans"
    assert (ctrl.index_ack, ctrl.wfcnt) == (True, 4)
    assert relay.running
    [limits] = answers_after(relay, 2, req(0x45, reset_limit_counters=2, join_request_reload_rate=127,
                                           notify_reload_rate=127, global_uplink_reload_rate=127,
                                           overall_reload_rate=127, join_request_bucket_size=0,
                                           notify_bucket_size=0, global_uplink_bucket_size=0,
                                           overall_bucket_size=0), now_us=1_000_000_000)
    assert limits.kind == "configure_fwd_limit_ans"
    # Every join request is now filtered.
    scan = relay.next_scan(1_500_000_000)
    relay.heard_wor(scan, native.lorawan_relay_wor_join_request(carrier(UPLINK)), 0, 0, scan.start_us + 100000)
    join = native.LorawanEndDevice.over_the_air(eu868(), native.LorawanDevice(DEV_EUI, JOIN_EUI, APP_KEY),
                                                settings()).join(3, 0)
    assert relay_error(relay.heard_uplink, join.frame, 0, 0, scan.start_us + 300000) == \
        ("filtered", "the join request filter drops it")
    # A network that disables the relay stops it.
    answers_after(relay, 3, req(0x40, enabled=False, cad_periodicity=0, default_channel_index=0,
                                second_channel_index=0, second_channel_data_rate=0, second_channel_ack_offset=0,
                                frequency_hz=0), now_us=2_000_000_000)
    assert not relay.running
