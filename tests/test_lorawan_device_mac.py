"""The end device's MAC answers, its saved state and the ADR back-off count.

Downlinks carrying MAC commands are built by liblora (`loramsg.pack_dataframe`)
from command bytes written out by hand from the LoRaWAN 1.0.4 and TS011-1.0.1
layouts; the uplinks that follow are opened by liblora and their answers read
back with `lorawan_mac_parse`. The saved state is checked byte by byte against
Python's `zlib.crc32` and `struct`, its plan fingerprint recomputed here from
the plan's own fields.
"""
import random
import struct
import zlib

import loramsg
import pytest

import trovik._native as native
from trovik._native import LorawanDeviceError, TrovikError, lorawan_mac_parse

NWK = bytes(range(16))
APP = bytes(range(16, 32))
DEV_ADDR = 0x26011BDA
SAVED_LEN = native.LORAWAN_SAVED_LEN


def signed(value):
    return value - (1 << 32) if value >= 1 << 31 else value


def plan(region="EU868"):
    return native.ChannelPlan.for_region(region)


def device(region="EU868", dev_addr=DEV_ADDR, **kw):
    kw.setdefault("regional_duty_cycle", False)
    settings = native.LorawanDeviceSettings(-9, 22, **kw)
    return native.LorawanEndDevice.personalized(plan(region), native.LorawanSession(dev_addr, NWK, APP), settings)


class Link:
    """A device and the network's side of its session, on a clock of our own."""

    def __init__(self, region="EU868", **kw):
        self.device = device(region, **kw)
        self.now = 0
        self.fcnt_up = 0
        self.fcnt_down = 0

    def up(self, payload=None):
        """Sends an uplink and gives the MAC commands it carried, as liblora opens it."""
        if payload is None:
            t = self.device.send_empty(self.now)
        else:
            t = self.device.send(1, payload, self.now)
        self.last = loramsg.unpack_dataframe(t.frame, self.fcnt_up, NWK, APP)
        self.fcnt_up += 1
        self.now += 10_000_000
        commands = self.last["FRMPayload"] if self.last["FPort"] == 0 else self.last["FOpts"]
        return lorawan_mac_parse("uplink", commands)

    def down(self, commands="", port0=False, snr_db=0):
        """The network answers the pending uplink with MAC commands, in FOpts or on port 0."""
        commands = bytes.fromhex(commands)
        if port0:
            frame = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(DEV_ADDR), fcnt=self.fcnt_down, port=0,
                                           payload=commands, nwkskey=NWK)
        else:
            frame = loramsg.pack_dataframe(mhdr=0x60, devaddr=signed(DEV_ADDR), fcnt=self.fcnt_down, fopts=commands,
                                           nwkskey=NWK)
        self.fcnt_down += 1
        return self.device.heard(frame, snr_db).delivery

    def silence(self):
        """Both windows closed empty: the repeats NbTrans asks for go out, then the uplink is given up."""
        nxt = self.device.nothing_heard(self.now)
        while nxt.kind == "repeat":
            self.device.repeat(nxt.not_before_us)
            nxt = self.device.nothing_heard(self.now)
        return nxt

    def answer_after(self, commands, **kw):
        self.up()
        self.down(commands, **kw)
        return self.up()


def fields(command, *names):
    return tuple(getattr(command, name) for name in names)


ADR_ACKS = ("power_ack", "data_rate_ack", "channel_mask_ack")


# ---------------------------------------------------------------------------
# LinkADRReq.

@pytest.mark.parametrize("version, adr, requests, acks, data_rate, transmissions, channels", [
    # DR5, power 1, channels 0 to 2, NbTrans 0 taken as 1.
    ("1.0.4", True, "0351070000", [(True, True, True)], 5, 1, [0, 1, 2]),
    # Channel 3 was never made: the whole request is refused.
    ("1.0.4", True, "0332080000", [(True, True, False)], 0, 1, [0, 1, 2]),
    # A block: every channel on (ChMaskCntl 6), then only channel 0 at DR3 and NbTrans 2.
    ("1.0.4", True, "0300000060" "0330010002", [(True, True, True)] * 2, 3, 2, [0]),
    ("1.0.3", True, "0300000060" "0330010002", [(True, True, True)], 3, 2, [0]),
    # Data rate and power 15: keep the current ones under 1.0.4; EU868 has neither under 1.0.3.
    ("1.0.4", True, "03ff030001", [(True, True, True)], 0, 1, [0, 1]),
    ("1.0.3", True, "03ff030001", [(False, False, True)], 0, 1, [0, 1, 2]),
    # Without ADR, 1.0.4 takes the data rate although the mask is refused.
    ("1.0.4", False, "0342080002", [(True, True, False)], 4, 1, [0, 1, 2]),
    # With ADR it takes nothing.
    ("1.0.4", True, "0342080002", [(True, True, False)], 0, 1, [0, 1, 2]),
])
def test_link_adr_answers_and_effects(version, adr, requests, acks, data_rate, transmissions, channels):
    link = Link(version=version, adr=adr)
    answers = link.answer_after(requests)
    assert [c.kind for c in answers] == ["link_adr_ans"] * len(acks)
    assert [fields(c, *ADR_ACKS) for c in answers] == acks
    d = link.device
    assert (d.data_rate, d.transmissions, [c.index for c in d.channels()]) == (data_rate, transmissions, channels)
    # The answer went once: the next uplink carries nothing.
    link.silence()
    assert link.up() == []


def test_a_power_the_radio_cannot_reach_is_refused():
    link = Link(adr=False)
    weak = native.LorawanEndDevice.personalized(plan(), native.LorawanSession(DEV_ADDR, NWK, APP),
                                                native.LorawanDeviceSettings(14, 22, adr=False,
                                                                             regional_duty_cycle=False))
    link.device = weak
    # Power 7 is 16 - 14 = 2 dBm, under the radio's 14.
    (answer,) = link.answer_after("0357030003")
    assert fields(answer, *ADR_ACKS) == (False, True, True)
    assert (weak.data_rate, weak.transmissions, [c.index for c in weak.channels()]) == (5, 3, [0, 1])


# ---------------------------------------------------------------------------
# The other commands, once and sticky.

def test_once_and_sticky_answers():
    link = Link()
    link.device.set_battery(200)
    link.up()
    # DevStatusReq, RXTimingSetupReq 3, DutyCycleReq 0, RXParamSetupReq (offset 1, DR2, 869525000).
    link.down("06" "0803" "0400" "0512d2ad84", snr_db=-40)
    first = link.up()
    assert [c.kind for c in first] == ["dev_status_ans", "rx_timing_setup_ans", "duty_cycle_ans",
                                       "rx_param_setup_ans"]
    assert fields(first[0], "battery", "snr_margin") == (200, -32)
    assert fields(first[3], "rx1_offset_ack", "rx2_data_rate_ack", "channel_ack") == (True, True, True)
    assert (link.device.receive_delay_us, link.device.rx2) == (3000000, (869525000, 2))
    # Until a downlink arrives, the sticky answers go out again; the others do not.
    link.silence()
    assert [c.kind for c in link.up()] == ["rx_timing_setup_ans", "rx_param_setup_ans"]
    link.down()
    assert link.up() == []


@pytest.mark.parametrize("battery, external, snr_db, reported", [
    (None, False, 5, (255, 5)),
    (0, False, -40, (1, -32)),
    (255, False, 40, (254, 31)),
    (17, True, 0, (0, 0)),
])
def test_device_status_answers(battery, external, snr_db, reported):
    link = Link()
    link.device.set_battery(battery, external=external)
    link.up()
    link.down("06", snr_db=snr_db)
    (answer,) = link.up()
    assert fields(answer, "battery", "snr_margin") == reported


def test_commands_on_port_0_and_the_network_answers_the_device_asked_for():
    link = Link()
    link.device.request_link_check()
    link.device.request_device_time()
    assert [c.kind for c in link.up()] == ["link_check_req", "device_time_req"]
    # LinkCheckAns twice (the later counts), DeviceTimeAns, then RXTimingSetupReq 0.
    delivery = link.down("020a03" "0d7856341280" "021405" "0800", port0=True)
    assert (delivery.port, delivery.link_check, delivery.device_time) == (None, (20, 5), (0x12345678, 128))
    assert [c.kind for c in link.up()] == ["rx_timing_setup_ans"]
    assert link.device.receive_delay_us == 1000000


def test_an_unknown_command_ends_the_processing():
    link = Link()
    answers = link.answer_after("06" "0b" "0805")
    assert [c.kind for c in answers] == ["dev_status_ans"]
    assert link.device.receive_delay_us == 1000000


def test_new_channels_and_downlink_frequencies():
    link = Link()
    # NewChannelReq: channel 1 is a default one; channel 3 at 867100000 for DR0 to DR5.
    # DlChannelReq: channel 3 answers at 868700000.
    answers = link.answer_after("0701184f8450" "0703184f8450" "0a03988d84", port0=True)
    assert [fields(c, "data_rate_range_ok", "frequency_ok") for c in answers[:2]] == [(False, False), (True, True)]
    assert fields(answers[2], "uplink_frequency_exists", "frequency_ok") == (True, True)
    assert [(c.index, c.uplink_hz, c.downlink_hz) for c in link.device.channels()][3] == (3, 867100000, 868700000)
    # Frequency 0 deletes it again.
    link.down("070300000000")
    assert [c.index for c in link.device.channels()] == [0, 1, 2]
    # A fixed plan takes neither, and EU868 no TxParamSetupReq: no answers.
    us = Link("US915")
    assert us.answer_after("0703184f8450" "0a03988d84" "0935", port0=True) == []
    assert Link().answer_after("0935") == []


def test_tx_param_setup_on_a_plan_that_takes_it():
    link = Link("AS923")
    before = link.up()
    link.down("090d")
    assert [c.kind for c in link.up()] == ["tx_param_setup_ans"]
    assert before == []


# EndDeviceConfReq: 41, mode and smart level, 16 bits of back-off, index, data rate and
# ack offset, then the frequency in 100 Hz.
@pytest.mark.parametrize("request_hex, acks", [
    # Activation 1 on the second channel, ack offset code 6: refused.
    ("4104" "8600" "d2ad84", (False, True, True, True)),
    # Activation 1, no second channel: taken.
    ("4105" "000e" "d2ad84", (True, True, True, True)),
    # Second channel at 869100000, DR3, ack 200 kHz up: taken.
    ("4108" "9900" "389d84", (True, True, True, True)),
    # Second channel at 100 Hz: the frequency and its ack frequency refused.
    ("4108" "9900" "010000", (False, True, True, False)),
    # Index 2 with an activation.
    ("410c" "0001" "389d84", (True, False, True, True)),
])
def test_end_device_conf_answers(request_hex, acks):
    link = Link()
    answers = link.answer_after(request_hex)
    assert [c.kind for c in answers] == ["end_device_conf_ans"]
    assert fields(answers[0], "second_channel_ack_offset_ack", "second_channel_index_ack",
                  "second_channel_data_rate_ack", "second_channel_frequency_ack") == acks
    # Sticky until a downlink.
    link.silence()
    assert [c.kind for c in link.up()] == ["end_device_conf_ans"]


def test_relay_requests_reach_no_plain_device():
    assert Link().answer_after("4401" "450000000000") == []


def test_answers_move_to_port_0_when_they_outgrow_fopts():
    link = Link()
    link.up()
    # Six DevStatusReq: 18 bytes of answers, more than FOpts holds.
    link.down("06" * 6)
    t = link.device.send(1, b"data", link.now)
    opened = loramsg.unpack_dataframe(t.frame, link.fcnt_up, NWK, APP)
    assert (opened["FPort"], opened["FOpts"]) == (0, b"")
    assert [c.kind for c in lorawan_mac_parse("uplink", opened["FRMPayload"])] == ["dev_status_ans"] * 6
    assert not t.carries_payload


# ---------------------------------------------------------------------------
# The saved state.

def fingerprint(p):
    """The plan's fingerprint, from its name, channel blocks and second window."""
    data = p.name.encode()
    for which in ("default", "downlink"):
        blocks = p.channel_blocks(which)
        data += struct.pack("<I", len(blocks))
        for b in blocks:
            data += struct.pack("<IIHBB", b.start_hz, b.step_hz, b.count, b.min_data_rate, b.max_data_rate)
    data += struct.pack("<IB", *p.rx2())
    return zlib.crc32(data)


def resealed(saved):
    saved = bytearray(saved)
    saved[1674:] = struct.pack("<I", zlib.crc32(bytes(saved[:1674])))
    return bytes(saved)


def worked_link():
    link = Link(regional_duty_cycle=True)
    link.device.request_link_check()
    link.up()
    link.down("0703184f8450" "0803" "06")
    return link


def test_the_saved_layout():
    link = worked_link()
    saved = link.device.save(link.now)
    assert len(saved) == SAVED_LEN == 1678
    assert saved[:5] == b"TKLW\x01"
    assert struct.unpack_from("<I", saved, 1674)[0] == zlib.crc32(saved[:1674])
    assert struct.unpack_from("<I", saved, 5)[0] == fingerprint(plan())
    assert fingerprint(plan()) != fingerprint(plan("US915"))
    assert struct.unpack_from("<I16s16sII", saved, 12) == (DEV_ADDR, NWK, APP, 1, 0)
    assert saved[9] & 0x01  # fcnt_down held
    assert struct.unpack_from("<I", saved, 67)[0] == 3000000
    # Channel 3 is present and enabled; its record follows the three defaults.
    assert (saved[151], saved[152], saved[164]) == (3, 0x0F, 0x0F)
    assert struct.unpack_from("<IIBB", saved, 176 + 30) == (867100000, 867100000, 0, 5)
    # The answers owed: NewChannelAns and DevStatusAns once, RXTimingSetupAns sticky.
    assert saved[1136:1136 + 10] == bytes.fromhex("03" "020703" "8108" "0306ff00")
    assert saved == link.device.save(link.now)


def test_a_resumed_device_continues_its_counters_and_busy_times():
    link = Link(regional_duty_cycle=True)
    link.up()
    link.down("0803")
    link.now = 200_000_000  # past the first uplink's duty cycle
    first = link.up()  # carries the answer owed and keeps the default channels' sub-band busy
    link.silence()
    saved = link.device.save(link.now)
    busy_for = None
    try:
        link.device.send_empty(link.now)
    except LorawanDeviceError as wait:
        busy_for = wait.until_us - link.now
    assert busy_for and busy_for > 0 and [c.kind for c in first] == ["rx_timing_setup_ans"]

    # The device wakes on a clock that restarted at 0, made the same way.
    woken = device(regional_duty_cycle=True)
    woken.resume(saved, 50)
    with pytest.raises(LorawanDeviceError) as raised:
        woken.send_empty(50)
    assert (raised.value.kind, raised.value.until_us) == ("wait", 50 + busy_for)
    t = woken.send(2, b"again", 50 + busy_for)
    opened = loramsg.unpack_dataframe(t.frame, link.fcnt_up, NWK, APP)
    assert (opened["FCnt"], opened["FRMPayload"], opened["FPort"]) == (link.fcnt_up, b"again", 2)
    assert lorawan_mac_parse("uplink", opened["FOpts"])[0].kind == "rx_timing_setup_ans"
    assert (woken.receive_delay_us, woken.fcnt_down, woken.dev_addr) == (3000000, 0, DEV_ADDR)
    assert t.rx1.delay_us == 3000000


@pytest.mark.parametrize("change, state, text", [
    (lambda s: s[:-1], "length", "a saved state is 1678 bytes"),
    (lambda s: s + b"\x00", "length", "a saved state is 1678 bytes"),
    (lambda s: b"TKLX" + s[4:], "corrupt", "the saved state is corrupt"),
    (lambda s: s[:700] + bytes([s[700] ^ 0x10]) + s[701:], "corrupt", "the saved state is corrupt"),
    (lambda s: s[:1677] + bytes([s[1677] ^ 0x80]), "corrupt", "the saved state is corrupt"),
    (lambda s: resealed(s[:4] + b"\x02" + s[5:]), "format", "saved state format 2 is not read here"),
    (lambda s: resealed(s[:58] + b"\x00" + s[59:]), "corrupt", "the saved state is corrupt"),
    (lambda s: resealed(s[:1136] + b"\x01\xc1\x06" + s[1139:]), "corrupt", "the saved state is corrupt"),
])
def test_resume_refusals_change_nothing(change, state, text):
    saved = device().save(0)
    target = device(dev_addr=0x1234)
    before = target.save(0)
    with pytest.raises(LorawanDeviceError) as raised:
        target.resume(change(saved), 0)
    e = raised.value
    assert (e.kind, e.state, str(e)) == ("state", state, f"the saved state was not resumed: {text}")
    assert e.format == (2 if state == "format" else None)
    assert (e.until_us, e.max, e.data_rate) == (None, None, None)
    assert target.save(0) == before


def test_a_state_from_another_plan_is_refused():
    us = device("US915")
    before = us.save(0)
    with pytest.raises(LorawanDeviceError) as raised:
        us.resume(device().save(0), 0)
    assert (raised.value.state, str(raised.value)) == \
        ("plan", "the saved state was not resumed: the state was saved on another channel plan")
    assert us.save(0) == before


def test_save_and_resume_need_an_idle_device():
    over_the_air = native.LorawanEndDevice.over_the_air(
        plan(), native.LorawanDevice(bytes(8), bytes(8), bytes(16)), native.LorawanDeviceSettings(0, 14))
    with pytest.raises(LorawanDeviceError) as raised:
        over_the_air.save(0)
    assert raised.value.kind == "not_joined"
    d = device()
    saved = d.save(0)
    d.send_empty(0)
    with pytest.raises(LorawanDeviceError) as raised:
        d.save(0)
    assert raised.value.kind == "busy"
    # The bytes are judged first, the device after.
    with pytest.raises(LorawanDeviceError) as raised:
        d.resume(saved[:10], 0)
    assert raised.value.state == "length"
    with pytest.raises(LorawanDeviceError) as raised:
        d.resume(saved, 0)
    assert raised.value.kind == "busy"
    with pytest.raises(TypeError):
        d.resume("text", 0)


def test_crafted_states_are_refused_or_taken_and_never_misread():
    link = worked_link()
    link.up()
    link.silence()
    good = link.device.save(link.now)
    rng = random.Random(21)
    taken = 0
    for _ in range(400):
        blob = bytearray(good)
        for _ in range(rng.randint(1, 40)):
            blob[rng.randrange(5, 1674)] = rng.randrange(256)
        if rng.random() < 0.3:
            blob[1136] = rng.randrange(256)  # any answer count
        target = device(regional_duty_cycle=rng.random() < 0.5)
        try:
            target.resume(resealed(bytes(blob)), rng.randrange(1 << 40))
        except LorawanDeviceError as e:
            assert e.kind == "state" and e.state in ("corrupt", "plan")
            continue
        taken += 1
        # Whatever was taken drives the device without a fault.
        assert len(target.save(0)) == SAVED_LEN
        target.channels()
        target.frequency_span
        for call in (lambda: target.send(1, b"x", 1 << 62), lambda: target.send_empty(1 << 62)):
            try:
                call()
                target.heard(b"\x60" + bytes(12), 0)
            except LorawanDeviceError:
                pass
            try:
                target.nothing_heard(1 << 62)
            except LorawanDeviceError:
                pass
    assert taken > 0


# ---------------------------------------------------------------------------
# The back-off count on its own.

def flags(step):
    return tuple(name for name in ("request_ack", "restore_power", "lower_data_rate", "restore_channels")
                 if getattr(step, name))


def test_backoff_of_1_0_4():
    b = native.LorawanBackoff()
    steps = {n: flags(b.uplink(n >= 128)) for n in range(1, 200)}
    assert all(steps[n] == () for n in range(1, 64))
    assert steps[64] == ("request_ack",) and steps[95] == ("request_ack",)
    assert steps[96] == ("request_ack", "restore_power")
    assert steps[128] == ("request_ack", "restore_channels")
    assert all(steps[n] == () for n in range(129, 200))
    assert (b.counter, b.version, repr(b)) == (199, "1.0.4", 'LorawanBackoff(version="1.0.4", counter=199)')
    b.downlink()
    assert b.counter == 0
    assert [flags(b.uplink(False)) for _ in range(64)][-1] == ("request_ack",)


def test_backoff_of_1_0_3_and_its_arguments():
    at_default = native.LorawanBackoff("1.0.3")
    assert all(flags(at_default.uplink(True)) == () for _ in range(300))
    slower = native.LorawanBackoff("1.0.3", limit=2, delay=2)
    assert [flags(slower.uplink(False)) for _ in range(6)] == [
        (), ("request_ack",), ("request_ack",), ("request_ack", "lower_data_rate"), ("request_ack",),
        ("request_ack", "lower_data_rate")]
    zero, one = native.LorawanBackoff(delay=0, limit=3), native.LorawanBackoff(delay=1, limit=3)
    assert [flags(zero.uplink(n > 6)) for n in range(12)] == [flags(one.uplink(n > 6)) for n in range(12)]
    step = native.LorawanBackoff(limit=1).uplink(False)
    assert repr(step) == ("LorawanBackoffStep(request_ack=True, restore_power=False, lower_data_rate=False, "
                          "restore_channels=False)")
    with pytest.raises(TrovikError) as raised:
        native.LorawanBackoff("1.0.4 ")
    assert str(raised.value) == "1.0.4  is not a LoRaWAN version; expected 1.0.3 or 1.0.4"
    with pytest.raises(TypeError):
        native.LorawanBackoffStep()
