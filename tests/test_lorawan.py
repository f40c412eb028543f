"""LoRaWAN 1.0.x data frames and sessions, the join procedure and the channel list.

Checked against two independent implementations: a model built here from the
`cryptography` package's AES and CMAC following the LoRaWAN 1.0.x layouts,
and liblora (the Python frame library of Semtech's Basic MAC), over random
keys, addresses, counters, ports and payload lengths; and against published
frames.
"""
import random
import struct

import loramsg
import pytest
import rtlib

from peers.lorawan_crypto import aes, aes_inverse, cmac

import trovik._native as native
from trovik._native import TrovikError

# ---------------------------------------------------------------------------
# The independent model: LoRaWAN 1.0.x from its published layouts.


def model_block(tag, direction, dev_addr, fcnt, last):
    return struct.pack("<BIBIIBB", tag, 0, direction, dev_addr, fcnt, 0, last)


def model_crypt(key, dev_addr, direction, fcnt, data):
    stream = b"".join(aes(key, model_block(1, direction, dev_addr, fcnt, i + 1)) for i in range((len(data) + 15) // 16))
    return bytes(a ^ b for a, b in zip(data, stream))


def model_mic(nwk_skey, dev_addr, direction, fcnt, message):
    return cmac(nwk_skey, model_block(0x49, direction, dev_addr, fcnt, len(message)) + message)[:4]


def model_frame(nwk_skey, app_skey, dev_addr, mhdr, fctrl, fcnt, fopts, fport, payload):
    direction = (mhdr >> 5) & 1
    message = struct.pack("<BIBH", mhdr, dev_addr, fctrl | len(fopts), fcnt & 0xFFFF) + fopts
    if fport is not None:
        key = nwk_skey if fport == 0 else app_skey
        message += bytes([fport]) + model_crypt(key, dev_addr, direction, fcnt, payload)
    return message + model_mic(nwk_skey, dev_addr, direction, fcnt, message)


def model_keys(app_key, app_nonce, net_id, dev_nonce):
    def block(which):
        return bytes([which]) + (app_nonce & 0xFFFFFF).to_bytes(3, "little") + \
            (net_id & 0xFFFFFF).to_bytes(3, "little") + dev_nonce.to_bytes(2, "little") + bytes(7)
    return aes(app_key, block(1)), aes(app_key, block(2))


def model_accept(app_key, app_nonce, net_id, dev_addr, dl_settings, rx_delay, cflist=b""):
    body = (app_nonce & 0xFFFFFF).to_bytes(3, "little") + (net_id & 0xFFFFFF).to_bytes(3, "little") + \
        struct.pack("<IBB", dev_addr, dl_settings, rx_delay) + cflist
    mic = cmac(app_key, b"\x20" + body)[:4]
    return b"\x20" + aes_inverse(app_key, body + mic)


def signed(value):
    """liblora packs addresses as signed 32-bit numbers."""
    return value - (1 << 32) if value >= 1 << 31 else value


def key(rng):
    return rng.randbytes(16)


# ---------------------------------------------------------------------------
# Published frames.

QUOTED_NWK = bytes.fromhex("44024241ed4ce9a68c6a8bc055233fd3")
QUOTED_APP = bytes.fromhex("ec925802ae430ca77fd3dd73cb2cc588")
QUOTED_UPLINK = bytes.fromhex("40f17dbe4900020001954378762b11ff0d")
APP_KEY = bytes.fromhex("00112233445566778899aabbccddeeff")


def test_published_uplink_decodes_to_its_contents():
    session = native.LorawanSession(0x49BE7DF1, QUOTED_NWK, QUOTED_APP)
    rx = session.decode(QUOTED_UPLINK, 2)
    assert (rx.direction, rx.dev_addr, rx.fcnt, rx.fport, rx.payload) == ("Uplink", 0x49BE7DF1, 2, 1, b"test")
    assert (rx.confirmed, rx.adr, rx.ack, rx.fpending, rx.adr_ack_req, rx.class_b) == (False,) * 6
    assert rx.fopts == b""
    assert session.encode_uplink(2, 1, b"test") == QUOTED_UPLINK
    header = native.lorawan_parse_header(QUOTED_UPLINK)
    assert (header.message_type, header.dev_addr, header.fcnt, header.fport, header.payload_len) == \
        ("UnconfirmedUp", 0x49BE7DF1, 2, 1, 4)


def test_published_join_accept_decodes_to_its_settings():
    # AppNonce 0x570BC7, NetID 0x221101, DevAddr 0x02031980 under AppKey
    # 00112233...eeff, as liblora builds it; the keys as the model derives them.
    frame = loramsg.pack_jacc(APP_KEY, appnonce=0x570BC7, netid=0x221101, devaddr=0x02031980, dlset=0, rxdly=1)
    assert frame == model_accept(APP_KEY, 0x570BC7, 0x221101, 0x02031980, 0, 1)
    device = native.LorawanDevice(bytes(8), bytes(8), APP_KEY)
    accept = device.accept_join(frame, 0x2D10)
    assert (accept.dev_addr, accept.net_id, accept.dl_settings, accept.rx_delay, accept.cflist) == \
        (0x02031980, 0x221101, 0, 1, None)
    nwk, app = model_keys(APP_KEY, 0x570BC7, 0x221101, 0x2D10)
    uplink = accept.session().encode_uplink(1, 1, b"hi")
    assert uplink == model_frame(nwk, app, 0x02031980, 0x40, 0, 1, b"", 1, b"hi")
    grant = native.LorawanGrant(0x570BC7, 0x221101, 0x02031980, rx_delay=1)
    assert grant.accept(APP_KEY, 0x2D10) == frame


# ---------------------------------------------------------------------------
# Data frames against the model and liblora, over random sessions.

def random_frames(count, seed):
    rng = random.Random(seed)
    for _ in range(count):
        fport = rng.choice([0, 1, rng.randrange(1, 224), 255])
        fopts = b"" if fport == 0 or rng.random() < 0.5 else rng.randbytes(rng.randrange(0, 16))
        payload_len = rng.choice([0, 1, 15, 16, 17, 32, rng.randrange(0, 243 - len(fopts)), 242 - len(fopts)])
        fcnt = rng.choice([0, 1, 0xFFFF, 0x10000, 0x12345, rng.randrange(1 << 32), 0xFFFFFFFF])
        yield dict(nwk=key(rng), app=key(rng), dev_addr=rng.randrange(1 << 32), fcnt=fcnt, fport=fport,
                   fopts=fopts, payload=rng.randbytes(payload_len), confirmed=rng.random() < 0.5,
                   adr=rng.random() < 0.5, ack=rng.random() < 0.5, flag=rng.random() < 0.5)


@pytest.mark.parametrize("case", list(random_frames(200, 18)), ids=lambda c: f"port{c['fport']}-{len(c['payload'])}")
def test_uplinks_agree_with_the_model_and_liblora(case):
    session = native.LorawanSession(case["dev_addr"], case["nwk"], case["app"])
    frame = session.encode_uplink(case["fcnt"], case["fport"], case["payload"], confirmed=case["confirmed"],
                                  adr=case["adr"], ack=case["ack"], fopts=case["fopts"] or None,
                                  adr_ack_req=case["flag"])
    mhdr = 0x80 if case["confirmed"] else 0x40
    fctrl = case["adr"] << 7 | case["flag"] << 6 | case["ack"] << 5
    assert frame == model_frame(case["nwk"], case["app"], case["dev_addr"], mhdr, fctrl, case["fcnt"],
                                case["fopts"], case["fport"], case["payload"])
    assert frame == loramsg.pack_dataframe(mhdr=mhdr, devaddr=signed(case["dev_addr"]), fctrl=fctrl,
                                           fcnt=case["fcnt"], fopts=case["fopts"], port=case["fport"],
                                           payload=case["payload"], nwkskey=case["nwk"], appskey=case["app"])
    rx = session.decode(frame, case["fcnt"])
    assert (rx.direction, rx.fport, rx.fopts, rx.payload) == ("Uplink", case["fport"], case["fopts"], case["payload"])
    assert (rx.confirmed, rx.adr, rx.ack, rx.adr_ack_req, rx.fpending) == \
        (case["confirmed"], case["adr"], case["ack"], case["flag"], False)
    assert rx.fcnt == case["fcnt"] & 0xFFFF
    # liblora reads it back too, extending the counter from the one before.
    theirs = loramsg.unpack_dataframe(frame, case["fcnt"], case["nwk"], case["app"])
    assert (theirs["FCnt"], theirs["FRMPayload"]) == (case["fcnt"], case["payload"])


@pytest.mark.parametrize("case", list(random_frames(100, 1018)), ids=lambda c: f"port{c['fport']}-{len(c['payload'])}")
def test_downlinks_agree_with_the_model_and_liblora(case):
    session = native.LorawanSession(case["dev_addr"], case["nwk"], case["app"])
    frame = session.encode_downlink(case["fcnt"], case["fport"], case["payload"], confirmed=case["confirmed"],
                                    adr=case["adr"], ack=case["ack"], fpending=case["flag"],
                                    fopts=case["fopts"] or None)
    mhdr = 0xA0 if case["confirmed"] else 0x60
    fctrl = case["adr"] << 7 | case["ack"] << 5 | case["flag"] << 4
    assert frame == model_frame(case["nwk"], case["app"], case["dev_addr"], mhdr, fctrl, case["fcnt"],
                                case["fopts"], case["fport"], case["payload"])
    assert frame == loramsg.pack_dataframe(mhdr=mhdr, devaddr=signed(case["dev_addr"]), fctrl=fctrl,
                                           fcnt=case["fcnt"], fopts=case["fopts"], port=case["fport"],
                                           payload=case["payload"], nwkskey=case["nwk"], appskey=case["app"])
    rx = session.decode(frame, case["fcnt"])
    assert (rx.direction, rx.payload, rx.fpending, rx.adr_ack_req, rx.class_b) == \
        ("Downlink", case["payload"], case["flag"], False, False)


def test_frames_built_elsewhere_decode_here():
    rng = random.Random(5)
    for _ in range(50):
        nwk, app, dev_addr = key(rng), key(rng), rng.randrange(1 << 32)
        fcnt, payload = rng.randrange(1 << 32), rng.randbytes(rng.randrange(243))
        mhdr = rng.choice([0x40, 0x60, 0x80, 0xA0])
        frame = model_frame(nwk, app, dev_addr, mhdr, 0x10, fcnt, b"", 9, payload)
        rx = native.LorawanSession(dev_addr, nwk, app).decode(frame, fcnt)
        assert (rx.dev_addr, rx.fport, rx.payload, rx.confirmed) == (dev_addr, 9, payload, mhdr in (0x80, 0xA0))
        assert rx.class_b == (mhdr in (0x40, 0x80))


def test_the_whole_counter_enters_mic_and_key_stream():
    rng = random.Random(7)
    nwk, app = key(rng), key(rng)
    session = native.LorawanSession(0x26011BDA, nwk, app)
    frame = session.encode_uplink(0x10005, 3, b"sixteen bytes!!!")
    assert frame[6:8] == b"\x05\x00"
    assert frame == model_frame(nwk, app, 0x26011BDA, 0x40, 0, 0x10005, b"", 3, b"sixteen bytes!!!")
    with pytest.raises(TrovikError, match="^lorawan MIC does not match the frame$"):
        session.decode(frame, 5)
    with pytest.raises(TrovikError, match="^lorawan frame counter does not match the one expected$"):
        session.decode(frame, 0x10006)


def test_relay_keys_follow_the_derivation():
    rng = random.Random(9)
    nwk = key(rng)
    session = native.LorawanSession(0xE0112233, nwk, key(rng))
    root = aes(nwk, b"\x01" + bytes(15))
    assert session.root_wor_s_key() == root
    keys = session.wor_keys()
    assert keys.integrity == aes(root, b"\x01" + struct.pack("<I", 0xE0112233) + bytes(11))
    assert keys.encryption == aes(root, b"\x02" + struct.pack("<I", 0xE0112233) + bytes(11))
    assert keys == native.LorawanWorKeys(keys.integrity, keys.encryption)
    assert keys != native.LorawanWorKeys(keys.encryption, keys.integrity)
    assert (keys == 1) is False and keys.__eq__(1) is NotImplemented
    assert repr(keys) == "LorawanWorKeys(..)"
    with pytest.raises(TypeError):
        keys < keys  # noqa: B015
    with pytest.raises(TrovikError, match="^integrity must be exactly 16 bytes$"):
        native.LorawanWorKeys(bytes(15), bytes(3))
    with pytest.raises(TrovikError, match="^encryption must be exactly 16 bytes$"):
        native.LorawanWorKeys(bytes(16), bytes(17))


# ---------------------------------------------------------------------------
# Refusals.

SESSION = native.LorawanSession(0x01020304, bytes(range(16)), bytes(range(16, 32)))


@pytest.mark.parametrize("fport, fopts, payload, message", [
    (0, b"\x02", b"", "lorawan frame is malformed"),
    (1, bytes(16), b"", "lorawan payload does not fit a single frame"),
    (1, b"", bytes(244), "lorawan payload does not fit a single frame"),
    (1, bytes(15), bytes(229), "lorawan payload does not fit a single frame"),
])
def test_encode_refuses(fport, fopts, payload, message):
    with pytest.raises(TrovikError, match=f"^{message}$"):
        SESSION.encode_uplink(1, fport, payload, fopts=fopts)


@pytest.mark.parametrize("fopts, payload, size", [(bytes(15), b"", 28), (b"", bytes(243), 256), (bytes(15), bytes(228), 256)])
def test_encode_fills_a_frame_to_256_bytes(fopts, payload, size):
    frame = SESSION.encode_uplink(1, 1, payload, fopts=fopts)
    assert len(frame) == size
    assert SESSION.decode(frame, 1).payload == payload


def test_port_zero_payload_is_under_the_network_key():
    frame = SESSION.encode_uplink(4, 0, b"\x02\x03")
    assert frame[9:11] == model_crypt(bytes(range(16)), 0x01020304, 0, 4, b"\x02\x03")


def frame_of(first, rest):
    return bytes([first]) + rest


GOOD = SESSION.encode_uplink(4, 2, b"abc")


@pytest.mark.parametrize("frame, fcnt, message", [
    (GOOD[:11], 4, "lorawan frame is shorter than its header and MIC"),
    (b"", 4, "lorawan frame is shorter than its header and MIC"),
    (GOOD + bytes(300), 4, "lorawan frame is malformed"),
    (bytes([0x40]) + bytes(256), 0, "lorawan frame is malformed"),
    (frame_of(0x00, GOOD[1:]), 4, "lorawan message type 0x00 is not decoded here"),
    (frame_of(0x20, GOOD[1:]), 4, "lorawan message type 0x20 is not decoded here"),
    (frame_of(0xE5, GOOD[1:]), 4, "lorawan message type 0xe0 is not decoded here"),
    (GOOD, 5, "lorawan frame counter does not match the one expected"),
    (GOOD[:5] + b"\x05" + GOOD[6:12] + GOOD[-4:], 4, "lorawan frame is shorter than its header and MIC"),
    (GOOD[:-1] + bytes([GOOD[-1] ^ 1]), 4, "lorawan MIC does not match the frame"),
    (GOOD, 0x10004, "lorawan MIC does not match the frame"),
])
def test_decode_refuses_in_order(frame, fcnt, message):
    with pytest.raises(TrovikError, match=f"^{message}$"):
        SESSION.decode(frame, fcnt)


def test_port_zero_with_options_is_malformed_after_the_mic():
    message = struct.pack("<BIBH", 0x40, 0x01020304, 1, 4) + b"\x02" + b"\x00"
    frame = message + model_mic(bytes(range(16)), 0x01020304, 0, 4, message)
    with pytest.raises(TrovikError, match="^lorawan frame is malformed$"):
        SESSION.decode(frame, 4)


def test_a_frame_for_another_device_fails_the_mic():
    other = native.LorawanSession(0x01020305, bytes(range(16)), bytes(range(16, 32)))
    with pytest.raises(TrovikError, match="^lorawan MIC does not match the frame$"):
        other.decode(GOOD, 4)


def test_a_twelve_byte_frame_has_no_port():
    frame = model_frame(bytes(range(16)), bytes(range(16, 32)), 0x01020304, 0x60, 0x20, 7, b"", None, b"")
    rx = SESSION.decode(frame, 7)
    assert (rx.fport, rx.payload, rx.ack) == (None, b"", True)
    header = native.lorawan_parse_header(frame)
    assert (header.fport, header.payload_len, header.message_type, header.is_data) == (None, 0, "UnconfirmedDown", True)


@pytest.mark.parametrize("call", [
    lambda big: SESSION.decode(big, 0),
    lambda big: native.lorawan_parse_header(big),
    lambda big: native.LorawanDevice(bytes(8), bytes(8), APP_KEY).accept_join(big, 0),
    lambda big: native.lorawan_parse_join_request(big, APP_KEY),
], ids=["decode", "parse_header", "accept_join", "parse_join_request"])
@pytest.mark.parametrize("first", [0x00, 0x20, 0x40, 0xA0, 0xE0])
@pytest.mark.parametrize("length", [257, 300, 4096])
def test_frames_past_256_bytes_are_malformed_everywhere(call, first, length):
    big = bytearray(length)
    big[0] = first
    with pytest.raises(TrovikError, match="^lorawan frame is malformed$"):
        call(bytes(big))
    with pytest.raises(TrovikError, match="^lorawan frame is malformed$"):
        call(list(big))


# ---------------------------------------------------------------------------
# Headers.

@pytest.mark.parametrize("mhdr, name, confirmed", [
    (0x40, "UnconfirmedUp", False), (0x60, "UnconfirmedDown", False),
    (0x80, "ConfirmedUp", True), (0xA0, "ConfirmedDown", True),
])
def test_header_names_follow_the_wire_codes(mhdr, name, confirmed):
    frame = model_frame(bytes(16), bytes(16), 0xDEADBEEF, mhdr, 0xF0, 0x1234, b"\x06\x07", 5, b"xyz")
    h = native.lorawan_parse_header(frame)
    down = mhdr in (0x60, 0xA0)
    assert (h.message_type, h.confirmed, h.dev_addr, h.fcnt, h.fport, h.fopts_len, h.payload_len) == \
        (name, confirmed, 0xDEADBEEF, 0x1234, 5, 2, 3)
    assert (h.adr, h.ack, h.adr_ack_req, h.class_b, h.fpending) == (True, True, not down, not down, down)


def test_header_of_join_frames_and_refusals():
    h = native.lorawan_parse_header(b"\x20")
    assert (h.message_type, h.is_data, h.dev_addr, h.fcnt, h.fport, h.fopts_len, h.payload_len) == \
        ("JoinAccept", False, None, None, None, 0, 0)
    assert (h.confirmed, h.adr, h.ack, h.fpending, h.adr_ack_req, h.class_b) == (False,) * 6
    with pytest.raises(TrovikError, match="^lorawan frame is shorter than its header and MIC$"):
        native.lorawan_parse_header(b"")
    with pytest.raises(TrovikError, match="^lorawan message type 0xe0 is not decoded here$"):
        native.lorawan_parse_header(frame_of(0xE5, GOOD[1:]))
    with pytest.raises(TrovikError, match="^lorawan frame is malformed$"):
        native.lorawan_parse_header(GOOD[:5] + b"\x0f" + GOOD[6:])
    with pytest.raises(TrovikError, match="^lorawan frame is shorter than its header and MIC$"):
        native.lorawan_parse_header(GOOD[:11])


# ---------------------------------------------------------------------------
# The join procedure.

DEV_EUI = bytes.fromhex("0001020304050607")
APP_EUI = bytes.fromhex("08090a0b0c0d0e0f")
DEVICE = native.LorawanDevice(DEV_EUI, APP_EUI, APP_KEY)


def test_join_request_layout_against_liblora():
    frame = DEVICE.join_request(0x0102)
    assert frame[:19] == bytes.fromhex("000f0e0d0c0b0a090807060504030201000201")
    assert frame[19:] == cmac(APP_KEY, frame[:19])[:4]
    assert frame == loramsg.pack_jreq(APP_KEY, rtlib.Eui(int.from_bytes(APP_EUI, "big")),
                                      rtlib.Eui(int.from_bytes(DEV_EUI, "big")), 0x0102)
    loramsg.verify_jreq(APP_KEY, frame)
    request = native.lorawan_parse_join_request(frame, APP_KEY)
    assert (request.dev_eui, request.app_eui, request.dev_nonce) == (DEV_EUI, APP_EUI, 0x0102)
    assert DEVICE.dev_eui == DEV_EUI


def test_join_requests_from_liblora_parse_here():
    rng = random.Random(23)
    for _ in range(30):
        app_key, dev_eui, app_eui = key(rng), rng.randrange(1 << 63), rng.randrange(1 << 63)
        nonce = rng.randrange(1 << 16)
        frame = loramsg.pack_jreq(app_key, rtlib.Eui(app_eui), rtlib.Eui(dev_eui), nonce)
        request = native.lorawan_parse_join_request(frame, app_key)
        assert request.dev_eui == dev_eui.to_bytes(8, "big")
        assert request.app_eui == app_eui.to_bytes(8, "big")
        assert request.dev_nonce == nonce


def with_mic(frame19):
    return frame19 + cmac(APP_KEY, frame19)[:4]


@pytest.mark.parametrize("frame, app_key, message", [
    (DEVICE.join_request(0x0102), bytes(16), "lorawan MIC does not match the frame"),
    (b"\x20" + DEVICE.join_request(0x0102)[1:], APP_KEY, "lorawan message type 0x20 is not decoded here"),
    (DEVICE.join_request(0x0102)[:22], APP_KEY, "lorawan frame is malformed"),
    (DEVICE.join_request(0x0102) + b"\x00", APP_KEY, "lorawan frame is malformed"),
    (b"", APP_KEY, "lorawan frame is shorter than its header and MIC"),
])
def test_parse_join_request_refuses(frame, app_key, message):
    with pytest.raises(TrovikError, match=f"^{message}$"):
        native.lorawan_parse_join_request(frame, app_key)


def test_parse_join_request_checks_the_key_before_the_frame():
    with pytest.raises(TrovikError, match="^app_key must be exactly 16 bytes$"):
        native.lorawan_parse_join_request(b"", bytes(15))
    # The major bits are covered by the MIC, not checked.
    request = native.lorawan_parse_join_request(with_mic(b"\x03" + DEVICE.join_request(7)[1:19]), APP_KEY)
    assert request.dev_nonce == 7


@pytest.mark.parametrize("cflist", [None, native.LorawanCfList.from_frequencies([867100000, 867300000, 0, 0, 0]).bytes,
                                    native.LorawanCfList.from_channel_masks([0xFF, 0, 0, 0, 0, 0]).bytes])
def test_join_round_trip_between_both_sides_and_liblora(cflist):
    rng = random.Random(31)
    for _ in range(20):
        app_key = key(rng)
        device = native.LorawanDevice(rng.randbytes(8), rng.randbytes(8), app_key)
        nonce = rng.randrange(1 << 16)
        request = native.lorawan_parse_join_request(device.join_request(nonce), app_key)
        app_nonce, net_id, dev_addr = rng.randrange(1 << 32), rng.randrange(1 << 32), rng.randrange(1 << 32)
        dl_settings, rx_delay = rng.randrange(0x80), rng.randrange(256)
        grant = native.LorawanGrant(app_nonce, net_id, dev_addr, dl_settings, rx_delay, cflist)
        frame = grant.accept(app_key, request.dev_nonce)
        assert len(frame) == (33 if cflist else 17)
        assert frame == model_accept(app_key, app_nonce, net_id, dev_addr, dl_settings, rx_delay, cflist or b"")
        assert frame == loramsg.pack_jacc(app_key, app_nonce, net_id & 0xFFFFFF, signed(dev_addr), dl_settings,
                                          rx_delay, cflist)
        theirs = loramsg.unpack_jacc(app_key, frame, nonce)
        assert (theirs["AppNonce"], theirs["NetID"]) == (app_nonce & 0xFFFFFF, net_id & 0xFFFFFF)
        accept = device.accept_join(frame, nonce)
        assert (accept.dev_addr, accept.net_id, accept.dl_settings, accept.rx_delay) == \
            (dev_addr, net_id & 0xFFFFFF, dl_settings, rx_delay)
        assert grant.net_id == net_id and grant.dev_addr == dev_addr
        assert accept.rx1_dr_offset == (dl_settings >> 4) & 7 and accept.rx2_data_rate == dl_settings & 0x0F
        assert (accept.cflist.bytes if accept.cflist else None) == cflist
        # Both ends hold the same keys: what one encodes the other decodes.
        nwk, app = model_keys(app_key, app_nonce, net_id, nonce)
        device_side, network_side = accept.session(), grant.session(app_key, nonce)
        uplink = device_side.encode_uplink(1, 1, b"hello")
        assert uplink == model_frame(nwk, app, dev_addr, 0x40, 0, 1, b"", 1, b"hello")
        assert network_side.decode(uplink, 1).payload == b"hello"
        assert network_side.root_wor_s_key() == aes(nwk, b"\x01" + bytes(15))


def test_accept_join_refuses_in_order():
    frame = native.LorawanGrant(1, 2, 3).accept(APP_KEY, 0)
    cases = [
        (b"", "lorawan frame is shorter than its header and MIC"),
        (b"\x40" + frame[1:], "lorawan message type 0x40 is not decoded here"),
        (frame + b"\x00", "lorawan frame is malformed"),
        (frame[:5] + bytes([frame[5] ^ 1]) + frame[6:], "lorawan MIC does not match the frame"),
        (b"\x21" + frame[1:], "lorawan MIC does not match the frame"),
    ]
    for bad, message in cases:
        with pytest.raises(TrovikError, match=f"^{message}$"):
            DEVICE.accept_join(bad, 0)
    with pytest.raises(TrovikError, match="^lorawan MIC does not match the frame$"):
        native.LorawanDevice(DEV_EUI, APP_EUI, bytes(16)).accept_join(frame, 0)


def test_a_wrong_dev_nonce_gives_other_keys_without_an_error():
    grant = native.LorawanGrant(5, 6, 7)
    accept = DEVICE.accept_join(grant.accept(APP_KEY, 1), 2)
    frame = accept.session().encode_uplink(1, 1, b"x")
    with pytest.raises(TrovikError, match="^lorawan MIC does not match the frame$"):
        grant.session(APP_KEY, 1).decode(frame, 1)


@pytest.mark.parametrize("rx_delay, us", [(0, 1000000), (1, 1000000), (0x0F, 15000000), (0xFF, 15000000), (0x35, 5000000)])
def test_receive_delay(rx_delay, us):
    accept = DEVICE.accept_join(native.LorawanGrant(1, 2, 3, rx_delay=rx_delay).accept(APP_KEY, 0), 0)
    assert accept.receive_delay_us == us


def test_net_id_top_byte_stays_off_the_air():
    grant = native.LorawanGrant(0x11223344, 0xAB221101, 9)
    assert grant.net_id == 0xAB221101
    frame = grant.accept(APP_KEY, 0)
    assert DEVICE.accept_join(frame, 0).net_id == 0x221101
    assert frame == native.LorawanGrant(0x223344, 0x221101, 9).accept(APP_KEY, 0)


@pytest.mark.parametrize("args, message", [
    ((bytes(7), APP_EUI, APP_KEY), "dev_eui must be exactly 8 bytes"),
    ((DEV_EUI, bytes(9), APP_KEY), "app_eui must be exactly 8 bytes"),
    ((DEV_EUI, APP_EUI, bytes(15)), "app_key must be exactly 16 bytes"),
    ((bytes(7), bytes(9), bytes(15)), "dev_eui must be exactly 8 bytes"),
])
def test_device_checks_lengths_in_order(args, message):
    with pytest.raises(TrovikError, match=f"^{message}$"):
        native.LorawanDevice(*args)


def test_argument_checks():
    with pytest.raises(TrovikError, match="^nwk_skey must be exactly 16 bytes$"):
        native.LorawanSession(1, bytes(15), bytes(15))
    with pytest.raises(TrovikError, match="^app_skey must be exactly 16 bytes$"):
        native.LorawanSession(1, bytes(16), bytes(17))
    with pytest.raises(TrovikError, match="^cflist must be exactly 16 bytes$"):
        native.LorawanGrant(1, 2, 3, cflist=bytes(15))
    with pytest.raises(TrovikError, match="^app_key must be exactly 16 bytes$"):
        native.LorawanGrant(1, 2, 3).accept(bytes(15), 0)
    with pytest.raises(TrovikError, match="^app_key must be exactly 16 bytes$"):
        native.LorawanGrant(1, 2, 3).session(bytes(17), 0)
    with pytest.raises(OverflowError):
        native.LorawanGrant(1, 2, 3).accept(APP_KEY, 1 << 16)
    with pytest.raises(OverflowError):
        SESSION.encode_uplink(1 << 32, 1, b"")
    with pytest.raises(OverflowError):
        SESSION.encode_uplink(1, 256, b"")
    with pytest.raises(TypeError):
        SESSION.decode("text", 1)
    with pytest.raises(TypeError):
        native.LorawanJoinAccept()
    assert SESSION.dev_addr == 0x01020304


# ---------------------------------------------------------------------------
# Channel lists.

CfList = native.LorawanCfList


def test_cflist_frequencies():
    empty = CfList.from_frequencies([0] * 5)
    assert (empty.bytes, empty.kind, empty.type_byte, empty.frequencies_hz()) == (bytes(16), "frequencies", 0, [0] * 5)
    assert empty.channel_mask_groups() is None and empty.enabled_channels() == [] and empty.enables(0) is None
    eu = CfList.from_frequencies([867100000, 100000000, 1677721500, 0, 867900000])
    assert eu.bytes[:3] == bytes.fromhex("184f84")
    assert eu.frequencies_hz() == [867100000, 100000000, 1677721500, 0, 867900000]


@pytest.mark.parametrize("hz", [99999900, 1677721600, 868100050, 1, 0xFFFFFFFF])
def test_cflist_refuses_frequencies(hz):
    with pytest.raises(TrovikError, match="^a channel list frequency is a whole number of hundreds of hertz "
                                          "from 100 MHz to just under 1.678 GHz$"):
        CfList.from_frequencies([0, 0, 0, 0, hz])


@pytest.mark.parametrize("make, count, message", [
    (CfList.from_frequencies, 4, "a channel list takes 5 frequencies, not 4"),
    (CfList.from_frequencies, 6, "a channel list takes 5 frequencies, not 6"),
    (CfList.from_channel_masks, 0, "a channel list takes 6 mask groups, not 0"),
    (CfList.from_channel_masks, 7, "a channel list takes 6 mask groups, not 7"),
    (lambda values: CfList.from_bytes(bytes(values)), 15, "a channel list is exactly 16 bytes, not 15"),
    (lambda values: CfList.from_bytes(bytes(values)), 17, "a channel list is exactly 16 bytes, not 17"),
])
def test_cflist_counts(make, count, message):
    with pytest.raises(TrovikError, match=f"^{message}$"):
        make([0] * count)


def test_cflist_masks():
    masks = CfList.from_channel_masks([0x00FF, 0, 0, 0, 0, 0x8001])
    assert (masks.kind, masks.type_byte, masks.frequencies_hz()) == ("channel_masks", 1, None)
    assert masks.bytes == bytes.fromhex("ff00000000000000000001800000 0001".replace(" ", ""))
    assert masks.channel_mask_groups() == [0x00FF, 0, 0, 0, 0, 0x8001]
    assert [masks.enables(c) for c in (7, 8, 80, 95, 96, 300)] == [True, False, True, True, None, None]
    assert masks.enabled_channels() == list(range(8)) + [80, 95]


def test_cflist_keeps_what_arrived():
    reserved = CfList.from_bytes(bytes(15) + b"\x02")
    assert (reserved.kind, reserved.frequencies_hz(), reserved.channel_mask_groups(), reserved.enabled_channels()) == \
        ("reserved", None, None, [])
    made = CfList.from_channel_masks([1, 2, 3, 4, 5, 6])
    kept = CfList.from_bytes(made.bytes[:12] + b"\x01\x02\x03" + b"\x01")
    assert kept.channel_mask_groups() == made.channel_mask_groups()
    assert kept != made and not (kept == made)
    assert CfList.from_bytes(made.bytes) == made
    assert made.__eq__("x") is NotImplemented
    with pytest.raises(TypeError):
        made < made  # noqa: B015
    with pytest.raises(TypeError):
        hash(made)


@pytest.mark.parametrize("cflist", [CfList.from_frequencies([867100000, 0, 0, 0, 868800000]),
                                    CfList.from_channel_masks([0xFFFF] * 6), CfList.from_bytes(bytes(range(16)))])
def test_cflist_repr_rebuilds_it(cflist):
    text = repr(cflist)
    assert text == f'LorawanCfList.from_bytes(bytes.fromhex("{cflist.bytes.hex()}"))'
    assert eval(text, {"LorawanCfList": CfList}) == cflist


def test_cflist_from_a_join_accept():
    cflist = CfList.from_frequencies([867100000, 867300000, 867500000, 867700000, 867900000])
    accept = DEVICE.accept_join(native.LorawanGrant(1, 2, 3, cflist=cflist.bytes).accept(APP_KEY, 0), 0)
    assert accept.cflist == cflist
