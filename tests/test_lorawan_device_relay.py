"""The end device's side of a relay exchange: its wake-on-radio frames, the
acknowledgments it reads, what it does when none came, the policy that turns
relaying on and off, and a whole exchange with a relay node.

The WOR frames and acknowledgments are checked against the model built on the
`cryptography` package's AES and CMAC in test_lorawan_relay; the relay's
forwards and the network's answers are read and built with liblora
(`loramsg`), independently of our session code.
"""
import loramsg
import pytest
from test_lorawan_relay import model_root_key, model_wor_ack, model_wor_keys, model_wor_uplink

import trovik._native as native
from trovik._native import LorawanCarrier, LorawanDeviceError

RELAY_ADDR = 0x01020304
RELAY_NWK = bytes(range(16))
RELAY_APP = bytes(range(16, 32))
DEV_ADDR = 0x26011BDA
DEV_NWK = bytes(range(32, 48))
DEV_APP = bytes(range(48, 64))
KEYS = model_wor_keys(model_root_key(DEV_NWK), DEV_ADDR)
APP_KEY = bytes.fromhex("2b7e151628aed2a6abf7158809cf4f3c")
DEV_EUI = bytes.fromhex("0004a30b001c0530")
JOIN_EUI = bytes.fromhex("70b3d57ed0000001")
STATE = {"t_offset_ms": 0, "cad_periodicity": "ms1000", "xtal_accuracy": "ppm40", "relay_data_rate": 3,
         "forward": "available", "cad_to_rx": "symbols8"}


def signed(value):
    return value - (1 << 32) if value >= 1 << 31 else value


def pair(carrier):
    return (carrier.frequency_hz, carrier.data_rate)


def eu868():
    return native.ChannelPlan.for_region("EU868")


def settings():
    # Without the sub-band duty cycles, every exchange can follow the last at once.
    return native.LorawanDeviceSettings(-9, 22, regional_duty_cycle=False)


def personalized():
    return native.LorawanEndDevice.personalized(eu868(), native.LorawanSession(DEV_ADDR, DEV_NWK, DEV_APP), settings())


@pytest.fixture
def device():
    d = personalized()
    assert d.use_relay(True)
    return d


@pytest.fixture
def relay():
    """A relay node scanning the plan's first default relay channel, trusting the device."""
    r = native.LorawanRelay.personalized(eu868(), native.LorawanSession(RELAY_ADDR, RELAY_NWK, RELAY_APP),
                                         native.LorawanDeviceSettings(-9, 22))
    r.start()
    r.trust(0, DEV_ADDR, native.lorawan_relay_root_wor_s_key(DEV_NWK))
    return r


def answer_through(relay, uplink, ended, device_fcnt):
    """The network's answer to the relay's first forwarded uplink, as the relay
    sends it in the device's RXR window."""
    due = relay.heard_uplink(uplink, -80, 5, ended)
    theirs = loramsg.unpack_dataframe(relay.forward(due).frame, 0, RELAY_NWK, RELAY_APP)
    assert native.lorawan_relay_forward_parse(theirs["FRMPayload"]).phy_payload == uplink
    for_device = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(DEV_ADDR), fcnt=device_fcnt, port=3, payload=b"ok",
                                        nwkskey=DEV_NWK, appskey=DEV_APP)
    down = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(RELAY_ADDR), fcnt=0, port=226, payload=for_device,
                                  nwkskey=RELAY_NWK, appskey=RELAY_APP)
    return relay.heard_in("rx1", down, 3).downlink


def acknowledge(device, transmission, **state):
    """The acknowledgment a relay answers the transmission's WOR frame with."""
    x = transmission.relay
    return model_wor_ack(KEYS, DEV_ADDR, device.wor_counter - 1, pair(x.ack.carrier),
                         (transmission.frequency_hz, transmission.data_rate), {**STATE, **state})


# ---------------------------------------------------------------------------


def test_a_fresh_device_knows_no_relay_and_the_caller_may_switch_it():
    d = personalized()
    assert (d.relay_sync, d.relaying, d.relay_status, d.wor_counter, d.relay_activation) == \
        ("initialized", False, None, 0, "device_controlled")
    assert d.send(1, b"x", 0).relay is None
    d.nothing_heard(2000000)
    assert d.use_relay(True) is True and d.relaying
    assert d.use_relay(False) is True and not d.relaying
    with pytest.raises(TypeError):
        d.use_relay(1)


def test_the_wor_frame_matches_the_model_and_times_the_exchange(device):
    t = device.send(1, b"reading", 1000)
    x = t.relay
    wake, ack = x.wake_up, x.ack
    assert wake.frame == model_wor_uplink(KEYS, DEV_ADDR, 0, (t.frequency_hz, t.data_rate), pair(wake.carrier))
    assert device.wor_counter == 1
    # 1 s of scans at 4096 us symbols, seven more and the relay's eight listening symbols.
    assert (wake.start_us, wake.carrier, wake.link.preamble_symbols, wake.link.spreading_factor) == \
        (1000, LorawanCarrier(865100000, 3), 259, 9)
    assert wake.airtime_us == wake.link.airtime_us(15)
    assert (ack.start_us, ack.carrier, ack.link.preamble_symbols) == \
        (1000 + wake.airtime_us + 50000, LorawanCarrier(865300000, 3), 8)
    assert ack.airtime_us == ack.link.airtime_us(7)
    assert x.uplink_start_us == ack.start_us + ack.airtime_us + 50000
    assert (x.rxr.delay_us, x.rxr.frequency_hz, x.rxr.data_rate, x.rxr.link.crc) == (18000000, 865100000, 0, True)
    assert repr(x) == f"LorawanRelayExchange(uplink_start_us={x.uplink_start_us}, rxr_delay_us=18000000)"
    assert repr(wake) == "LorawanWakeUp(start_us=1000, frequency_hz=865100000, data_rate=3)"
    assert repr(ack) == f"LorawanAckWindow(start_us={ack.start_us}, frequency_hz=865300000)"


def test_an_acknowledgment_is_read_and_a_bad_one_changes_nothing(device):
    with pytest.raises(LorawanDeviceError) as idle:
        device.heard_wor_ack(bytes(7))
    assert idle.value.kind == "nothing_pending"
    t = device.send(1, b"reading", 1000)
    good = acknowledge(device, t, forward="retry_in_60_minutes", cad_periodicity="ms500")
    for bad in (good[:6], good[:6] + bytes([good[6] ^ 1])):
        with pytest.raises(LorawanDeviceError) as raised:
            device.heard_wor_ack(bad)
        assert raised.value.kind == "frame"
    assert device.relay_sync == "initialized"

    status = device.heard_wor_ack(good)
    assert (status.cad_periodicity, status.xtal_accuracy, status.cad_to_rx, status.relay_data_rate, status.forward) == \
        ("ms500", "ppm40", "symbols8", 3, "retry_in_60_minutes")
    assert repr(status) == 'LorawanRelayStatus(cad_periodicity="ms500", relay_data_rate=3, forward="retry_in_60_minutes")'
    assert device.relay_sync == "synchronized"
    assert repr(device.relay_status) == repr(status)
    with pytest.raises(LorawanDeviceError) as again:
        device.heard_wor_ack(good)
    assert again.value.kind == "nothing_pending"


def test_a_join_request_is_announced_in_the_clear_without_an_acknowledgment():
    d = native.LorawanEndDevice.over_the_air(eu868(), native.LorawanDevice(DEV_EUI, JOIN_EUI, APP_KEY), settings())
    assert d.use_relay(True)
    t = d.join(7, 0)
    x = t.relay
    assert x.wake_up.frame == native.lorawan_relay_wor_join_request(LorawanCarrier(t.frequency_hz, t.data_rate))
    assert x.ack is None
    assert x.uplink_start_us == x.wake_up.airtime_us + 50000
    assert d.wor_counter == 0


def test_a_whole_exchange_with_a_relay_node(device, relay):
    t = device.send(1, b"reading", 1000)
    x = t.relay
    wake_end = x.wake_up.start_us + x.wake_up.airtime_us
    # The relay's scan falls inside the long preamble.
    scan = relay.next_scan(x.wake_up.start_us + 300000)
    assert pair(scan.carrier) == pair(x.wake_up.carrier)
    wake = relay.heard_wor(scan, x.wake_up.frame, -80, 5, wake_end)
    assert (wake.kind, wake.dev_addr, wake.wfcnt) == ("uplink", DEV_ADDR, 0)
    assert (wake.acknowledgment.start_us, wake.acknowledgment.carrier) == (x.ack.start_us, x.ack.carrier)
    assert (wake.listen.start_us, pair(wake.listen.carrier)) == (x.uplink_start_us, (t.frequency_hz, t.data_rate))
    status = device.heard_wor_ack(wake.acknowledgment.frame)
    assert (status.forward, status.relay_data_rate) == ("available", relay.data_rate)

    ended = x.uplink_start_us + t.airtime_us
    due = relay.heard_uplink(t.frame, -80, 5, ended)
    sent = relay.forward(due)
    theirs = loramsg.unpack_dataframe(sent.frame, 0, RELAY_NWK, RELAY_APP)
    assert theirs["FPort"] == 226
    forwarded = native.lorawan_relay_forward_parse(theirs["FRMPayload"])
    assert (forwarded.phy_payload, forwarded.frequency_hz) == (t.frame, t.frequency_hz)

    # The network answers through the relay; the device takes it in its relay window.
    for_device = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(DEV_ADDR), fcnt=0, port=3, payload=b"ok",
                                        nwkskey=DEV_NWK, appskey=DEV_APP)
    down = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(RELAY_ADDR), fcnt=0, port=226, payload=for_device,
                                  nwkskey=RELAY_NWK, appskey=RELAY_APP)
    rxr = relay.heard_in("rx1", down, 3).downlink
    assert rxr.start_us == ended + x.rxr.delay_us
    assert (pair(rxr.carrier), rxr.link.crc) == ((x.rxr.frequency_hz, x.rxr.data_rate), x.rxr.link.crc)
    heard = device.heard(rxr.frame, 3, window="rxr")
    assert (heard.kind, heard.delivery.port, heard.delivery.payload) == ("data", 3, b"ok")

    # Synchronized, the next WOR frame needs only the drift as preamble, and
    # the relay's scan still falls inside it.
    t = device.send(1, b"again", ended + 30000000)
    later = t.relay
    assert later.wake_up.frame == model_wor_uplink(KEYS, DEV_ADDR, 1, (t.frequency_hz, t.data_rate),
                                                   pair(later.wake_up.carrier))
    assert later.wake_up.link.preamble_symbols < 30
    preamble_us = later.wake_up.link.preamble_symbols * 4096
    scan = relay.next_scan(later.wake_up.start_us)
    assert later.wake_up.start_us <= scan.start_us <= later.wake_up.start_us + preamble_us


# EndDeviceConfReq: relaying enabled, smart level 1, no back-off, no second channel.
ENABLE_RELAYING = bytes.fromhex("41050000d2ad84")


@pytest.mark.parametrize("enabled_by", ["caller", "network"])
def test_a_relay_that_answered_despite_a_lost_acknowledgment_keeps_the_device_on_its_channel(enabled_by, relay):
    d = personalized()
    now = device_fcnt = 0
    if enabled_by == "caller":
        assert d.use_relay(True)
    else:
        d.send(1, b"x", now)
        conf = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(DEV_ADDR), fcnt=0, fopts=ENABLE_RELAYING,
                                      nwkskey=DEV_NWK)
        d.heard(conf, 0)
        assert (d.relay_activation, d.relaying) == ("enabled", True)
        now, device_fcnt = 3000000, 1

    # The relay hears the WOR frame and acknowledges it, but the device misses
    # the acknowledgment and moves on to the next default relay channel.
    t = d.send(1, b"reading", now)
    x = t.relay
    scan = relay.next_scan(x.wake_up.start_us + 300000)
    assert pair(scan.carrier) == pair(x.wake_up.carrier) == (865100000, 3)
    wake = relay.heard_wor(scan, x.wake_up.frame, -80, 5, x.wake_up.start_us + x.wake_up.airtime_us)
    assert wake.kind == "uplink"
    assert d.no_wor_ack(x.ack.start_us + x.ack.airtime_us).uplink

    # The uplink still went through the relay, and the answer came back in RXR.
    ended = x.uplink_start_us + t.airtime_us
    rxr = answer_through(relay, t.frame, ended, device_fcnt)
    assert d.heard(rxr.frame, 3, window="rxr").delivery.payload == b"ok"
    now = ended + x.rxr.delay_us + 3000000

    carriers = []
    for _ in range(12):
        t = d.send(1, b"x", now)
        carriers.append(pair(t.relay.wake_up.carrier))
        assert d.no_wor_ack(t.relay.ack.start_us + t.relay.ack.airtime_us).uplink
        now = t.relay.uplink_start_us + t.airtime_us + 20000000
        assert d.nothing_heard(now).kind == "done"
    assert d.relaying
    assert carriers[0] == pair(scan.carrier)
    assert pair(relay.next_scan(now).carrier) in carriers


def test_missed_acknowledgments_switch_relaying_off_again():
    d = personalized()
    now = 0
    # Left to itself, the device turns to a relay after 16 uplinks went unanswered.
    for _ in range(16):
        assert d.send(1, b"x", now).relay is None
        now += 3000000
        assert d.nothing_heard(now).kind == "done"
    assert d.relaying and d.relay_activation == "device_controlled"

    frequencies = []
    for _ in range(8):
        t = d.send(1, b"x", now)
        frequencies.append(t.relay.wake_up.carrier.frequency_hz)
        nxt = d.no_wor_ack(t.relay.ack.start_us + t.relay.ack.airtime_us)
        assert (nxt.uplink, nxt.wake_up, repr(nxt)) == (True, None, "LorawanWorNext(uplink=True)")
        now = t.relay.uplink_start_us + 3000000
        d.nothing_heard(now)
    # Never having reached a relay, it tried each default relay channel in turn.
    assert frequencies == [865100000, 865500000] * 4
    assert not d.relaying and d.relay_sync == "initialized"
    assert d.send(1, b"x", now).relay is None
    with pytest.raises(LorawanDeviceError) as raised:
        d.no_wor_ack(now)
    assert raised.value.kind == "nothing_pending"


def test_the_saved_state_keeps_relaying_and_the_relay_status(device):
    t = device.send(1, b"reading", 1000)
    device.heard_wor_ack(acknowledge(device, t, forward="retry_in_30_minutes"))
    device.nothing_heard(30000000)
    saved = device.save(30000000)
    back = personalized()
    back.resume(saved, 0)
    assert (back.relaying, back.wor_counter, back.relay_activation) == (True, 1, "device_controlled")
    assert repr(back.relay_status) == repr(device.relay_status)
    assert back.relay_status.forward == "retry_in_30_minutes"
    # When the relay scans is device time, lost with the clock.
    assert (device.relay_sync, back.relay_sync) == ("synchronized", "unsynchronized")
    t = back.send(1, b"x", 0)
    assert t.relay.wake_up.frame == model_wor_uplink(KEYS, DEV_ADDR, 1, (t.frequency_hz, t.data_rate),
                                                     pair(t.relay.wake_up.carrier))


def test_a_network_that_enables_relaying_holds_the_decision_and_sets_the_back_off():
    d = personalized()
    d.send(1, b"x", 0)
    # EndDeviceConfReq: relaying enabled, smart level 1, back-off 7, no second channel.
    conf = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(DEV_ADDR), fcnt=0, fopts=bytes.fromhex("4105000ed2ad84"),
                                  nwkskey=DEV_NWK)
    d.heard(conf, 0)
    assert (d.relay_activation, d.relaying) == ("enabled", True)
    assert d.use_relay(False) is False and d.relaying

    t = d.send(1, b"x", 3000000)
    nxt = d.no_wor_ack(t.relay.ack.start_us + t.relay.ack.airtime_us)
    assert (nxt.uplink, repr(nxt)) == (False, "LorawanWorNext(uplink=False)")
    # The relay is woken again first, on the next default channel, with the next counter.
    again = nxt.wake_up.wake_up
    assert pair(again.carrier) == (865500000, 5)
    assert again.frame == model_wor_uplink(KEYS, DEV_ADDR, 1, (t.frequency_hz, t.data_rate), pair(again.carrier))
    assert nxt.wake_up.ack.carrier == LorawanCarrier(865900000, 5)
