"""The class A end device: join, uplinks, receive windows, counters and timing.

The network's side is the frames/join layer's own (`LorawanGrant`,
`lorawan_parse_join_request`, `LorawanSession.encode_downlink`); independent
checks come from liblora (`loramsg`: join-request MIC, join accepts built on
its side, data frames decoded and built on its side) and from session keys
derived here with the `cryptography` package's AES.
"""
import struct

import loramsg
import pytest
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

import trovik._native as native
from trovik._native import LorawanDeviceError, TrovikError

APP_KEY = bytes.fromhex("2b7e151628aed2a6abf7158809cf4f3c")
DEV_EUI = bytes.fromhex("0004a30b001c0530")
APP_EUI = bytes.fromhex("70b3d57ed0000001")
NWK = bytes(range(16))
APP = bytes(range(16, 32))
DEV_ADDR = 0x26011BDA


def eu868():
    return native.ChannelPlan.for_region("EU868")


def settings(**kw):
    return native.LorawanDeviceSettings(-9, 22, **kw)


def credentials():
    return native.LorawanDevice(DEV_EUI, APP_EUI, APP_KEY)


def session_keys(app_nonce, net_id, dev_nonce):
    """NwkSKey and AppSKey of LoRaWAN 1.0 from the AppKey, with AES-128 alone."""
    def derive(which):
        block = bytes([which]) + app_nonce.to_bytes(3, "little") + net_id.to_bytes(3, "little") + \
            dev_nonce.to_bytes(2, "little") + bytes(7)
        encryptor = Cipher(algorithms.AES(APP_KEY), modes.ECB()).encryptor()
        return encryptor.update(block) + encryptor.finalize()
    return derive(1), derive(2)


def signed(value):
    return value - (1 << 32) if value >= 1 << 31 else value


class Network:
    """One device's network: answers its join and speaks its session."""

    def __init__(self, app_nonce=0x123456, net_id=0x13, dev_addr=DEV_ADDR, **grant):
        self.grant = native.LorawanGrant(app_nonce, net_id, dev_addr, **grant)
        self.app_nonce, self.net_id = app_nonce, net_id
        self.session = None

    def accept(self, request):
        parsed = native.lorawan_parse_join_request(request, APP_KEY)
        self.dev_nonce = parsed.dev_nonce
        self.session = self.grant.session(APP_KEY, parsed.dev_nonce)
        return self.grant.accept(APP_KEY, parsed.dev_nonce)

    def downlink(self, fcnt, port=1, payload=b"\xaa", **flags):
        return self.session.encode_downlink(fcnt, port, payload, **flags)


def joined_device(now_us=0, **kw):
    device = native.LorawanEndDevice.over_the_air(eu868(), credentials(), settings(**kw))
    network = Network()
    t = device.join(7, now_us)
    heard = device.heard(network.accept(t.frame), 0, window="rx1")
    assert (heard.kind, heard.dev_addr, heard.delivery) == ("joined", DEV_ADDR, None)
    return device, network


def personalized(**kw):
    counters = {k: kw.pop(k) for k in ("fcnt_up", "fcnt_down") if k in kw}
    return native.LorawanEndDevice.personalized(eu868(), native.LorawanSession(DEV_ADDR, NWK, APP), settings(**kw),
                                                **counters)


# ---------------------------------------------------------------------------
# Settings and construction.

@pytest.mark.parametrize("args, kw, message", [
    ((10, 9), {}, "the output power and tuning ranges must run from low to high"),
    ((0, 9), {"lowest_hz": 900000000, "highest_hz": 800000000},
     "the output power and tuning ranges must run from low to high"),
    ((0, 9), {"version": "1.0.5"}, "1.0.5 is not a LoRaWAN version; expected 1.0.3 or 1.0.4"),
    ((0, 9), {"version": "1.0.4 "}, "1.0.4  is not a LoRaWAN version; expected 1.0.3 or 1.0.4"),
])
def test_settings_refusals(args, kw, message):
    with pytest.raises(TrovikError) as raised:
        native.LorawanDeviceSettings(*args, **kw)
    assert str(raised.value) == message and type(raised.value) is TrovikError


def test_settings_values_and_repr():
    assert repr(settings()) == 'LorawanDeviceSettings(min_output_dbm=-9, max_output_dbm=22, version="1.0.4")'
    zero = native.LorawanDeviceSettings(0, 0, version="1.0.3", seed=5)
    assert (zero.version, zero.seed, zero.adr, zero.regional_duty_cycle, zero.lowest_hz) == \
        ("1.0.3", 5, True, True, 137000000)
    with pytest.raises(OverflowError):
        native.LorawanDeviceSettings(-129, 0)


def test_a_built_plan_is_refused_and_a_fresh_device_is_not_joined():
    builder = native.ChannelPlanBuilder("private")
    builder.data_rate(native.LoraDataRate.lora(12, 125000, 250))
    builder.rx1_row([0])
    with pytest.raises(TrovikError) as raised:
        native.LorawanEndDevice.over_the_air(builder.build(), credentials(), settings())
    assert str(raised.value) == \
        "a device runs on a published plan, from ChannelPlan.for_region or ChannelPlan.for_cn470"
    d = native.LorawanEndDevice.over_the_air(eu868(), credentials(), settings())
    assert (d.is_joined, d.dev_addr, d.fcnt_up, d.fcnt_down, d.transmissions, d.rx2, d.receive_delay_us) == \
        (False, None, 0, None, 1, (869525000, 0), 1000000)
    assert repr(d) == "LorawanEndDevice(not joined)"
    assert [(c.index, c.uplink_hz, c.min_data_rate, c.max_data_rate) for c in d.channels()] == \
        [(0, 868100000, 0, 5), (1, 868300000, 0, 5), (2, 868500000, 0, 5)]
    p = native.LorawanEndDevice.personalized(eu868(), native.LorawanSession(0xABCD, NWK, APP), settings(),
                                             fcnt_up=7, fcnt_down=3)
    assert (p.fcnt_up, p.fcnt_down, p.is_joined, p.dev_addr) == (7, 3, True, 0xABCD)
    assert repr(p) == "LorawanEndDevice(dev_addr=0x0000abcd)"


# ---------------------------------------------------------------------------
# Join, uplinks, downlinks.

def test_join_uplink_and_downlinks_in_both_windows():
    device = native.LorawanEndDevice.over_the_air(eu868(), credentials(), settings())
    network = Network(rx_delay=2)
    t = device.join(0x0102, 1000)
    # liblora checks the request's MIC and reads the identifiers.
    loramsg.verify_jreq(APP_KEY, t.frame)
    request = loramsg.unpack_jreq(t.frame)
    assert request["DevNonce"] == 0x0102
    assert (t.rx1.delay_us, t.rx2.delay_us, t.rx2.frequency_hz, t.rx2.data_rate) == (5000000, 6000000, 869525000, 0)
    assert t.rx1.frequency_hz == t.frequency_hz and t.carries_payload and t.relay is None
    assert t.link.spreading_factor == 7 and t.rx2.link.crc is False and t.link.crc is True

    assert device.heard(network.accept(t.frame), 3, window="rx2").kind == "joined"
    assert (device.is_joined, device.dev_addr, device.receive_delay_us, device.fcnt_up) == \
        (True, DEV_ADDR, 2000000, 0)
    assert repr(device) == f"LorawanEndDevice(dev_addr=0x{DEV_ADDR:08x})"

    up = device.send(10, b"hello", 20_000_000)
    assert up.carries_payload and (up.rx1.delay_us, up.rx2.delay_us) == (2000000, 3000000)
    assert network.session.decode(up.frame, 0).payload == b"hello"
    nwk, app = session_keys(0x123456, 0x13, 0x0102)
    theirs = loramsg.unpack_dataframe(up.frame, 0, nwk, app)
    assert (theirs["FPort"], theirs["FRMPayload"], theirs["FCnt"]) == (10, b"hello", 0)

    heard = device.heard(network.downlink(0, port=3, payload=b"back"), 5, window="rx1")
    assert heard.kind == "data" and heard.dev_addr == DEV_ADDR
    assert (heard.delivery.port, heard.delivery.payload, heard.delivery.acknowledged) == (3, b"back", False)
    assert repr(heard.delivery) == "LorawanDelivery(port=Some(3), payload_len=4, acknowledged=False)"
    assert device.fcnt_down == 0

    device.send(10, b"again", 40_000_000)
    # A frame built by liblora for another address in RX1 leaves RX2 open.
    foreign = loramsg.pack_dataframe(mhdr=0x60, devaddr=0x01020304, fcnt=1, port=1, payload=b"x",
                                     nwkskey=nwk, appskey=app)
    with pytest.raises(LorawanDeviceError) as raised:
        device.heard(foreign, 0, window="rx1")
    assert raised.value.kind == "foreign"
    with pytest.raises(LorawanDeviceError) as raised:
        device.heard(network.downlink(0), 0, window="rx2")
    assert (raised.value.kind, str(raised.value)) == ("replayed", "the frame repeats an earlier downlink")
    ours = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(DEV_ADDR), fcnt=1, port=2, payload=b"peer",
                                  nwkskey=nwk, appskey=app)
    assert device.heard(ours, 0, window="rx2").delivery.payload == b"peer"
    assert device.fcnt_down == 1


def test_a_join_accept_built_by_liblora_is_taken():
    device = native.LorawanEndDevice.over_the_air(eu868(), credentials(), settings())
    device.join(9, 0)
    accept = loramsg.pack_jacc(APP_KEY, appnonce=0xABCDEF, netid=0x13, devaddr=signed(0x11223344),
                               dlset=0x21, rxdly=0x15)
    assert device.heard(accept, 0).dev_addr == 0x11223344
    assert (device.receive_delay_us, device.rx2) == (5000000, (869525000, 1))
    nwk, app = session_keys(0xABCDEF, 0x13, 9)
    up = device.send(1, b"z", 10_000_000)
    assert loramsg.unpack_dataframe(up.frame, 0, nwk, app)["FRMPayload"] == b"z"


@pytest.mark.parametrize("dl_settings", [0x70, 0x0F])
def test_a_join_accept_with_settings_not_allowed_leaves_the_join_pending(dl_settings):
    device = native.LorawanEndDevice.over_the_air(eu868(), credentials(), settings())
    t = device.join(1, 0)
    with pytest.raises(LorawanDeviceError) as raised:
        device.heard(Network(dl_settings=dl_settings).accept(t.frame), 0)
    assert raised.value.kind == "refused"
    assert device.heard(Network().accept(t.frame), 0).kind == "joined"


def test_eu868_joins_rotate_from_dr5_to_dr0():
    device = native.LorawanEndDevice.over_the_air(eu868(), credentials(), settings(regional_duty_cycle=False))
    now, rates = 0, []
    for nonce in range(7):
        t = device.join(nonce, now)
        assert t.frequency_hz in (868100000, 868300000, 868500000)
        rates.append(t.data_rate)
        nxt = device.nothing_heard(now + 7_000_000)
        assert nxt.kind == "join_again" and 1_000_000 <= nxt.not_before_us - (now + 7_000_000) <= 3_000_000
        now = nxt.not_before_us
    assert rates == [5, 4, 3, 2, 1, 0, 5]


def test_us915_joins_move_through_the_groups():
    plan = native.ChannelPlan.for_region("US915")
    device = native.LorawanEndDevice.over_the_air(plan, credentials(), settings())
    now, seen = 0, []
    for nonce in range(10):
        t = device.join(nonce, now)
        seen.append((t.data_rate, t.frequency_hz))
        now = device.nothing_heard(now + 7_000_000).not_before_us
    for group, (rate, hz) in enumerate(seen[:8]):
        assert rate == 0 and 902300000 + 1600000 * group <= hz < 902300000 + 1600000 * (group + 1)
    assert seen[8][0] == 4 and (seen[8][1] - 903000000) % 1600000 == 0
    assert seen[9][0] == 0 and seen[9][1] < 902300000 + 1600000


def test_the_join_budget_of_the_first_hour():
    device = native.LorawanEndDevice.over_the_air(eu868(), credentials(), settings(regional_duty_cycle=False))
    now, spent = 5000, 0
    with pytest.raises(LorawanDeviceError) as raised:
        for nonce in range(200):
            t = device.join(nonce, now)
            spent += t.airtime_us
            now = device.nothing_heard(now + 7_000_000).not_before_us
    assert raised.value.kind == "wait" and raised.value.until_us == 5000 + 3600000000
    assert 36000000 - 2_000_000 < spent <= 36000000
    assert device.join(999, 5000 + 3600000000).data_rate in range(6)


def test_same_seed_same_choices():
    def run(seed):
        device = native.LorawanEndDevice.over_the_air(eu868(), credentials(), settings(seed=seed))
        out, now = [], 0
        for nonce in range(6):
            t = device.join(nonce, now)
            nxt = device.nothing_heard(now + 7_000_000)
            out.append((t.frequency_hz, nxt.not_before_us))
            now = max(nxt.not_before_us, now + 200 * t.airtime_us)
        return out
    assert run(1) == run(1)
    assert run(1) != run(2)


# ---------------------------------------------------------------------------
# Timing and counters.

def test_sub_band_duty_cycle_holds_the_next_uplink():
    device = personalized()
    t = device.send_empty(1_000_000)
    assert device.nothing_heard(4_000_000).kind == "done"
    with pytest.raises(LorawanDeviceError) as raised:
        device.send_empty(4_000_000)
    end = 1_000_000 + t.airtime_us
    assert (raised.value.kind, raised.value.until_us) == ("wait", end + 99 * t.airtime_us)
    assert str(raised.value) == f"the air is not free until {end + 99 * t.airtime_us}"
    assert (raised.value.max, raised.value.data_rate, raised.value.state, raised.value.format) == (None,) * 4
    free = personalized(regional_duty_cycle=False)
    free.send_empty(1_000_000)
    free.nothing_heard(4_000_000)
    free.send_empty(4_000_000)


@pytest.mark.parametrize("version, last, sent, kind, taken", [
    ("1.0.4", 0x0001FFF0, 0x00020005, None, 0x00020005),
    ("1.0.3", 100, 100 + 16383, None, 100 + 16383),
    ("1.0.3", 100, 100 + 16384, "counter_gap", None),
    ("1.0.4", 100, 100 + 16384, None, 100 + 16384),
    ("1.0.4", 0xFFFF0005, 0x00010003, "counter_exhausted", None),
    ("1.0.4", 7, 7, "replayed", None),
])
def test_downlink_counter_edges(version, last, sent, kind, taken):
    device = personalized(version=version, fcnt_down=last)
    session = native.LorawanSession(DEV_ADDR, NWK, APP)
    device.send_empty(1_000_000)
    frame = session.encode_downlink(sent, 1, b"x")
    if kind is None:
        device.heard(frame, 0)
        assert device.fcnt_down == taken
    else:
        with pytest.raises(LorawanDeviceError) as raised:
            device.heard(frame, 0)
        assert raised.value.kind == kind and device.fcnt_down == last


def test_uplink_counter_stops_at_its_top():
    device = personalized(fcnt_up=0xFFFFFFFE, regional_duty_cycle=False)
    t = device.send_empty(0)
    assert native.LorawanSession(DEV_ADDR, NWK, APP).decode(t.frame, 0xFFFFFFFE).fcnt == 0xFFFE
    device.nothing_heard(3_000_000)
    with pytest.raises(LorawanDeviceError) as raised:
        device.send_empty(3_000_000)
    assert (raised.value.kind, str(raised.value)) == ("counter_exhausted", "the uplink frame counter is spent")


def test_confirmed_uplinks_and_acknowledgments():
    device = personalized(regional_duty_cycle=False)
    t = device.send(1, b"c", 1_000_000, confirmed=True)
    assert loramsg.unpack_dataframe(t.frame, 0, NWK, APP)["MHdr"] & 0xE0 == 0x80
    # Downlinks without a port, built by liblora: FCtrl 0x20 is ACK.
    got = device.heard(loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(DEV_ADDR), fcnt=0, nwkskey=NWK), 0)
    assert got.delivery.acknowledged is False and got.delivery.port is None
    rx2_at = 1_000_000 + t.airtime_us + t.rx2.delay_us
    with pytest.raises(LorawanDeviceError) as raised:
        device.send(1, b"c", rx2_at)
    assert rx2_at + 1_000_000 <= raised.value.until_us <= rx2_at + 3_000_000
    device.send(1, b"c", raised.value.until_us, confirmed=True)
    acked = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(DEV_ADDR), fctrl=0x20, fcnt=1, nwkskey=NWK)
    assert device.heard(acked, 0).delivery.acknowledged is True
    device.send(1, b"d", raised.value.until_us + 1)


def test_repeats_and_what_comes_after_silence():
    device = personalized(regional_duty_cycle=False)
    first = device.send(1, b"r", 0)
    nxt = device.nothing_heard(3_000_000)
    assert (nxt.kind, nxt.not_before_us) == ("done", None)
    assert repr(nxt) == 'LorawanNext(kind="done", not_before_us=None)'
    with pytest.raises(LorawanDeviceError) as raised:
        device.nothing_heard(3_000_000)
    assert raised.value.kind == "nothing_pending"
    with pytest.raises(LorawanDeviceError):
        device.repeat(3_000_000)
    c = personalized(regional_duty_cycle=False)
    c.send(1, b"r", 0, confirmed=True)
    nxt = c.nothing_heard(3_000_000)
    assert nxt.kind == "unacknowledged" and nxt.not_before_us is None
    assert first.frame[0] == 0x40


def test_payload_limits_and_argument_refusals():
    device = personalized()
    limit = 51  # EU868 DR0
    assert device.data_rate == 0
    with pytest.raises(LorawanDeviceError) as raised:
        device.send(1, bytes(limit + 1), 0)
    assert (raised.value.kind, raised.value.max) == ("payload_too_long", limit)
    assert str(raised.value) == f"the payload does not fit; {limit} bytes do"
    with pytest.raises(LorawanDeviceError) as raised:
        device.send(0, b"", 0)
    assert raised.value.kind == "frame"
    with pytest.raises(OverflowError):
        device.send(256, b"", 0)
    device.send(1, bytes(limit), 0)
    with pytest.raises(LorawanDeviceError) as raised:
        device.send(1, b"", 10_000_000)
    assert raised.value.kind == "busy"
    with pytest.raises(TrovikError) as window:
        device.heard(b"\x60" + bytes(12), 0, window="RX1")
    assert str(window.value) == "RX1 is not a receive window; expected rx1, rx2 or rxr"


def test_requests_ride_in_fopts():
    device = personalized(regional_duty_cycle=False)
    device.request_link_check()
    device.request_device_time()
    t = device.send(1, b"p", 0)
    theirs = loramsg.unpack_dataframe(t.frame, 0, NWK, APP)
    assert theirs["FOpts"] == b"\x02\x0d" and theirs["FRMPayload"] == b"p"
    device.nothing_heard(3_000_000)
    again = device.send(1, b"p", 3_000_000)
    assert loramsg.unpack_dataframe(again.frame, 1, NWK, APP)["FOpts"] == b""


def test_constants():
    assert (native.LORAWAN_RECEIVE_DELAY1_US, native.LORAWAN_RECEIVE_DELAY2_US,
            native.LORAWAN_JOIN_ACCEPT_DELAY1_US, native.LORAWAN_JOIN_ACCEPT_DELAY2_US,
            native.LORAWAN_MAX_FCNT_GAP, native.LORAWAN_ADR_ACK_LIMIT, native.LORAWAN_ADR_ACK_DELAY,
            native.LORAWAN_RETRANSMIT_TIMEOUT_MIN_US, native.LORAWAN_RETRANSMIT_TIMEOUT_MAX_US) == \
        (1000000, 2000000, 5000000, 6000000, 16384, 64, 32, 1000000, 3000000)
    assert issubclass(LorawanDeviceError, TrovikError) and LorawanDeviceError.__module__ == "trovik"
