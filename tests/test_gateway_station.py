"""Basics Station identifiers, messages, discovery and radio reports.

Checked against: the ID6 examples of the Basics Station documentation; rtlib's
Eui and loramsg's frame readers (Semtech's Basic MAC tooling, the code Basics
Station's own simulations build their updf and jreq messages with); and
Python's json module, which reads back every text we write and, sorting keys
compactly, must write the very same text.
"""
import json
import math
import random
import struct

import loramsg
import pytest
import rtlib

import trovik._native as native
from trovik._native import (
    GatewayStationBroadcast,
    GatewayStationDataRate,
    GatewayStationJoinRange,
    GatewayStationLevels,
    GatewayStationMessage,
    GatewayStationRouter,
    GatewayStationWindow,
    GatewayStationXtime,
    TrovikError,
    station_discovery,
    station_discovery_parse,
    station_encode,
    station_eui_of,
    station_heard,
    station_id6,
    station_parse,
    station_router_accepted,
    station_router_parse,
    station_router_refused,
    station_xtime,
    station_xtime_parts,
)


def compact(text):
    """The text Python's json writes for what it reads in `text`: compact, keys sorted."""
    return json.dumps(json.loads(text), sort_keys=True, separators=(",", ":"), ensure_ascii=False)


# ---------------------------------------------------------------------------
# Identifiers


# The ID6 examples of the Basics Station documentation (glossary, "ID6").
DOCUMENTED_ID6 = [
    ("::0", "0000000000000000"),
    ("1::", "0001000000000000"),
    ("::a:b", "00000000000a000b"),
    ("f::1", "000f000000000001"),
    ("f:a123:f8:100", "000fa12300f80100"),
]


@pytest.mark.parametrize("text, eui", DOCUMENTED_ID6)
def test_documented_id6_examples(text, eui):
    assert station_eui_of(text) == eui
    # We write zero the short way, as the protocol's writers do.
    assert station_id6(eui) == ("::" if text == "::0" else text)


@pytest.mark.parametrize(
    "eui, id6",
    [
        ("0000000000000001", "::1"),
        ("0123456789ABCDEF", "123:4567:89ab:cdef"),
        ("0001000000000001", "1::1"),
        ("0000000100000000", "0:1::"),
        ("0000000000010000", "::1:0"),
        ("0001000000020000", "1:0:2:0"),
        ("0000000000000000", "::"),
    ],
)
def test_id6_writes_the_longest_run_of_zero_groups(eui, id6):
    assert station_id6(eui) == id6
    assert station_eui_of(id6) == eui.lower()


@pytest.mark.parametrize(
    "text, eui",
    [
        ("::1", "0000000000000001"),
        ("01-02-03-04-05-06-07-08", "0102030405060708"),
        ("1-2-3-4-5-6-7-8", "0102030405060708"),
        ("256", "0000000000000100"),
        ("+5", "0000000000000005"),
        ("18446744073709551615", "ffffffffffffffff"),
        # sixteen digits are no form of their own: they read as decimal
        ("0000000000000100", "0000000000000064"),
        ("::1::2", "0000000000010002"),
        ("00001:0:0:0", "0001000000000000"),
    ],
)
def test_eui_of_reads_every_accepted_form(text, eui):
    assert station_eui_of(text) == eui


@pytest.mark.parametrize(
    "text",
    ["0123456789abcdef", "", "-5", "18446744073709551616", "1:2:3", "1:2:3:4:5", "1:2::3:4:5", "10000:0:0:0",
     "01-02-03-04-05-06-07", "01-02-03-04-05-06-07-08-09", "1:2-3-4-5-6-7-8-9", " 1", "0x10"],
)
def test_eui_of_refuses_other_texts(text):
    with pytest.raises(TrovikError) as error:
        station_eui_of(text)
    assert str(error.value) == f"{text} is not an identifier"


def test_identifiers_agree_with_basic_mac_eui():
    rng = random.Random(24)
    for _ in range(500):
        number = rng.getrandbits(64) & rng.choice([0xFFFF0000FFFF0000, 0x0000FFFFFFFF0000, (1 << 64) - 1, 0xFFFF])
        dashed = str(rtlib.Eui(f"{number:016x}"))  # HH-HH-..., upper case
        ours = station_eui_of(dashed)
        assert ours == f"{number:016x}"
        assert station_eui_of(station_id6(ours)) == ours
        assert station_eui_of(str(number)) == ours


@pytest.mark.parametrize("bad", ["::1", "012345678901234", "01234567890123456", "01-02-03-04-05-06-07-08", ""])
def test_identifier_arguments_are_sixteen_hex_digits(bad):
    with pytest.raises(TrovikError) as error:
        station_id6(bad)
    assert str(error.value) == f"{bad} is not sixteen hexadecimal digits"


# ---------------------------------------------------------------------------
# Station clock values


@pytest.mark.parametrize(
    "unit, session, micros, xtime",
    [
        (1, 2, 3, 72620543991349251),
        (127, 255, 2**48 - 1, 9223372036854775807),
        (0, 0, 0, 0),
    ],
)
def test_xtime_packs_and_unpacks(unit, session, micros, xtime):
    assert station_xtime(unit, session, micros) == xtime
    parts = station_xtime_parts(xtime)
    assert (parts.unit, parts.session, parts.micros) == (unit, session, micros)
    assert repr(parts) == f"GatewayStationXtime(unit={unit}, session={session}, micros={micros})"


@pytest.mark.parametrize("unit, micros", [(128, 5), (0, 2**48)])
def test_xtime_out_of_range_names_both_values(unit, micros):
    with pytest.raises(TrovikError) as error:
        station_xtime(unit, 0, micros)
    assert str(error.value) == (
        f"a station clock takes a unit up to 127 and 48 bits of microseconds, not unit {unit} and {micros} us"
    )


def test_xtime_parts_of_any_signed_value():
    assert station_xtime_parts(-1) == station_xtime_parts(-1)
    parts = station_xtime_parts(-1)
    assert (parts.unit, parts.session, parts.micros) == (127, 255, 2**48 - 1)
    assert station_xtime_parts(0) != parts
    with pytest.raises(TypeError):
        hash(parts)
    with pytest.raises(TypeError):
        GatewayStationXtime()


@pytest.mark.parametrize(
    "call, name",
    [
        (lambda: station_xtime(256, 0, 0), "unit"),
        (lambda: station_xtime(0, 256, 0), "session"),
        (lambda: station_xtime(0, 0, -1), "micros"),
        (lambda: station_xtime_parts(2**63), "xtime"),
        (lambda: station_heard(b"\xe0\0\0\0\0", 256, 0), "data_rate"),
    ],
)
def test_integer_widths_name_the_argument(call, name):
    with pytest.raises(OverflowError, match=name):
        call()


# ---------------------------------------------------------------------------
# Value classes


def test_levels_defaults_and_repr():
    levels = GatewayStationLevels()
    assert (levels.rctx, levels.xtime, levels.gpstime, levels.rssi, levels.snr) == (0, 0, None, 0.0, 0.0)
    assert repr(levels) == "GatewayStationLevels(rctx=0, xtime=0, rssi=0, snr=0)"
    shown = GatewayStationLevels(rssi=-35.5, snr=9.25, gpstime=5)
    assert repr(shown) == "GatewayStationLevels(rctx=0, xtime=0, rssi=-35.5, snr=9.25)"
    assert repr(GatewayStationLevels(rssi=1e21, snr=float("nan"))) == (
        "GatewayStationLevels(rctx=0, xtime=0, rssi=1000000000000000000000, snr=NaN)"
    )
    with pytest.raises(TypeError):
        GatewayStationLevels(rctx=None)
    assert GatewayStationLevels() != GatewayStationLevels()
    hash(levels)


def test_broadcast():
    b = GatewayStationBroadcast(bytearray(b"\x01\x02\x03"), data_rate=8, frequency_hz=869525000)
    assert repr(b) == "GatewayStationBroadcast(len=3, data_rate=8, frequency_hz=869525000)"
    assert (b.pdu, b.priority, b.gpstime, b.rctx) == (b"\x01\x02\x03", 0, None, None)
    assert b.pdu is not b.pdu
    with pytest.raises(TypeError):
        GatewayStationBroadcast("abc")
    with pytest.raises(OverflowError):
        GatewayStationBroadcast(b"", data_rate=256)


def test_window_and_data_rate_compare_by_value():
    assert GatewayStationWindow(3, 869525000) == GatewayStationWindow(3, 869525000)
    assert GatewayStationWindow(3, 869525000) != GatewayStationWindow(3, 869525001)
    assert GatewayStationWindow(3, 1) != object()
    with pytest.raises(TypeError):
        GatewayStationWindow(3, 1) < GatewayStationWindow(3, 1)
    with pytest.raises(TypeError):
        hash(GatewayStationWindow(3, 1))
    rate = GatewayStationDataRate(7, 125000)
    assert repr(rate) == "GatewayStationDataRate(spreading_factor=7, bandwidth_hz=125000, downlink_only=False)"
    assert rate == GatewayStationDataRate(7, 125000, False)
    with pytest.raises(TypeError):
        GatewayStationDataRate(7, 125000, downlink_only=1)


def test_join_range_keeps_canonical_texts():
    r = GatewayStationJoinRange("00000000000000FF", "0000000000000fff")
    assert (r.first, r.last) == ("00000000000000ff", "0000000000000fff")
    assert r == GatewayStationJoinRange("00000000000000ff", "0000000000000FFF")
    assert repr(r) == "GatewayStationJoinRange(first=00000000000000ff, last=0000000000000fff)"
    GatewayStationJoinRange("ffffffffffffffff", "0000000000000000")
    for bad in ["::1", "0" * 15, "0" * 17, "00-00-00-00-00-00-00-01"]:
        with pytest.raises(TrovikError, match="is not sixteen hexadecimal digits"):
            GatewayStationJoinRange(bad, "0" * 16)
    # first is checked before last
    with pytest.raises(TrovikError) as error:
        GatewayStationJoinRange("x", "y")
    assert str(error.value) == "x is not sixteen hexadecimal digits"


# ---------------------------------------------------------------------------
# Messages


def updf_example():
    return GatewayStationMessage(
        "updf", mhdr=0x40, dev_addr=0x01020304, fctrl=0, fcnt=1, fport=1, payload=b"\xaa\xbb",
        mic=1144201745, data_rate=5, frequency_hz=868100000,
        levels=GatewayStationLevels(rctx=0, xtime=0, rssi=-35.0, snr=9.5),
    )


def test_updf_example_is_written_exactly():
    text = station_encode(updf_example())
    assert text == (
        '{"DR":5,"DevAddr":16909060,"FCnt":1,"FCtrl":0,"FOpts":"","FPort":1,"FRMPayload":"aabb",'
        '"Freq":868100000,"MHdr":64,"MIC":1144201745,"msgtype":"updf",'
        '"upinfo":{"rctx":0,"rssi":-35.0,"snr":9.5,"xtime":0}}'
    )
    assert compact(text) == text


def test_documented_updf_reads_with_its_extra_keys():
    # The updf of the Basics Station documentation, laid out as it is there,
    # with its RefTime and the upinfo keys of a station that has GPS.
    text = """{
      "msgtype"   : "updf",
      "MHdr"      : 128,
      "DevAddr"   : -1985220863,
      "FCtrl"     : 0,
      "FCnt"      : 7,
      "FOpts"     : "",
      "FPort"     : 2,
      "FRMPayload": "0A0b",
      "MIC"       : 1144201745,
      "RefTime"   : 1563899043.425123,
      "DR"        : 5,
      "Freq"      : 868300000,
      "upinfo"    : {
        "rctx"    : 0,
        "xtime"   : 68116944405337035,
        "gpstime" : 1247657434405337,
        "rssi"    : -35,
        "snr"     : 9.25
      }
    }"""
    m = station_parse(text)
    assert (m.msgtype, m.mhdr, m.dev_addr, m.fcnt, m.fport, m.payload) == ("updf", 128, -1985220863, 7, 2, b"\x0a\x0b")
    assert (m.levels.xtime, m.levels.gpstime, m.levels.rssi, m.levels.snr) == (
        68116944405337035, 1247657434405337, -35.0, 9.25,
    )
    assert (m.xtime, m.rctx, m.gpstime) == (None, None, None)
    written = station_encode(m)
    assert "RefTime" not in written
    assert json.loads(written)["upinfo"]["xtime"] == 68116944405337035  # all 64 bits kept


def every_kind():
    return [
        GatewayStationMessage("version", station="2.0.6(linux/std)", firmware="1.0", package="p", model="linux",
                              protocol=2, features="rmtsh gps"),
        GatewayStationMessage(
            "router_config", net_id=[1, 19], region="EU863", max_eirp=16.0, hwspec="sx1301/1",
            join_eui_ranges=[GatewayStationJoinRange("0000000000000000", "FFFFFFFFFFFFFFFF")],
            freq_min=863000000, freq_max=870000000,
            data_rates=[GatewayStationDataRate(12, 125000), None, GatewayStationDataRate(7, 250000),
                        GatewayStationDataRate(0, 0), GatewayStationDataRate(10, 500000, True)],
        ),
        GatewayStationMessage("jreq", mhdr=0, join_eui="0000000000000001", dev_eui="0123456789ABCDEF",
                              dev_nonce=0xABCD, mic=-12, data_rate=5, frequency_hz=868100000,
                              levels=GatewayStationLevels(rctx=1, xtime=2, gpstime=3, rssi=-120.25, snr=-7.5)),
        updf_example(),
        GatewayStationMessage("updf", dev_addr=-2147483648, fopts=b"\x03\x04", mic=-1, fcnt=65535),
        GatewayStationMessage("propdf", payload=b"\xe0\x01\x02\x03\x04", data_rate=3, frequency_hz=869525000),
        GatewayStationMessage("dnmsg", dev_eui="00000000000000ff", class_=1, diid=-5, payload=b"\x60\x01",
                              rx_delay=1, rx1=GatewayStationWindow(5, 868100000),
                              rx2=GatewayStationWindow(0, 869525000), ping_slot=GatewayStationWindow(3, 869525000),
                              priority=2, xtime=68116944405337035, rctx=0, gpstime=99),
        GatewayStationMessage("dnmsg", dev_eui="0000000000000000"),
        GatewayStationMessage("dnsched", schedule=[
            GatewayStationBroadcast(b"\x01\x02", data_rate=3, frequency_hz=869525000, gpstime=5, rctx=1),
            GatewayStationBroadcast(b"", priority=255),
        ]),
        GatewayStationMessage("dntxed", diid=7, dev_eui="FFFFFFFFFFFFFFFF", rctx=0, xtime=42, txtime=1.25,
                              gpstime=11),
        GatewayStationMessage("timesync", txtime=1250000.0, xtime=-3, gpstime=1234567890000),
        GatewayStationMessage("timesync"),
        GatewayStationMessage("getxtime"),
    ]


@pytest.mark.parametrize("message", every_kind(), ids=lambda m: m.msgtype)
def test_every_kind_round_trips(message):
    text = station_encode(message)
    assert compact(text) == text  # compact, keys in byte order, at every level
    assert json.loads(text)["msgtype"] == message.msgtype
    again = station_parse(text)
    assert again.msgtype == message.msgtype
    assert station_encode(again) == text
    assert station_encode(message) == text  # writing twice gives the same text


def test_router_config_tables():
    text = station_encode(every_kind()[1])
    doc = json.loads(text)
    assert doc["DRs"] == [[12, 125, 0], [-1, 0, 0], [7, 250, 0], [0, 0, 0], [10, 500, 1]]
    assert doc["JoinEui"] == [[0, 18446744073709551615]]
    assert doc["freq_range"] == [863000000, 870000000]
    back = station_parse(text)
    assert back.data_rates == [GatewayStationDataRate(12, 125000), None, GatewayStationDataRate(7, 250000),
                               GatewayStationDataRate(0, 0), GatewayStationDataRate(10, 500000, True)]
    assert back.join_eui_ranges == [GatewayStationJoinRange("0000000000000000", "ffffffffffffffff")]
    assert back.net_id == [1, 19]
    assert back.data_rates is not back.data_rates
    # An empty NetID forwards no data frame; a missing one forwards all.
    assert json.loads(station_encode(GatewayStationMessage("router_config", net_id=[])))["NetID"] == []
    assert json.loads(station_encode(GatewayStationMessage("router_config")))["NetID"] is None
    # The DR table as a station reads it.
    read = station_parse('{"msgtype":"router_config","DRs":[[7,125,0],[-1,0,0],"x",[12,125,1],[8,125,true]]}')
    assert read.data_rates == [GatewayStationDataRate(7, 125000), None, None,
                               GatewayStationDataRate(12, 125000, True), GatewayStationDataRate(8, 125000)]
    assert json.loads(station_encode(read))["DRs"] == [[7, 125, 0], [-1, 0, 0], [-1, 0, 0], [12, 125, 1], [8, 125, 0]]


def test_message_construction():
    with pytest.raises(TrovikError) as error:
        GatewayStationMessage("")
    assert str(error.value) == "a message names its kind in msgtype, such as updf"
    with pytest.raises(TypeError):
        GatewayStationMessage(None)
    with pytest.raises(TypeError):
        GatewayStationMessage("updf", None)  # everything but msgtype is keyword-only
    m = GatewayStationMessage("updf")
    assert (m.fopts, m.payload, m.fport, m.levels, m.schedule, m.net_id) == (b"", b"", None, None, None, None)
    assert repr(GatewayStationMessage("getxtime")) == "GatewayStationMessage(msgtype=getxtime)"
    assert station_encode(GatewayStationMessage("getxtime", dev_eui="x")) == '{"msgtype":"getxtime"}'
    assert station_encode(GatewayStationMessage("UPDF", dev_addr=1)) == '{"msgtype":"UPDF"}'
    assert json.loads(station_encode(m)) == {
        "msgtype": "updf", "MHdr": 0, "DevAddr": 0, "FCtrl": 0, "FCnt": 0, "FOpts": "", "FPort": -1,
        "FRMPayload": "", "MIC": 0, "DR": 0, "Freq": 0, "upinfo": {"rctx": 0, "xtime": 0, "rssi": 0.0, "snr": 0.0},
    }
    assert json.loads(station_encode(GatewayStationMessage("version"))) == {
        "msgtype": "version", "station": "", "firmware": "", "package": "", "model": "", "protocol": 2, "features": "",
    }
    levels = GatewayStationLevels()
    held = GatewayStationMessage("jreq", levels=levels, rx1=GatewayStationWindow(1, 2))
    assert held.levels is levels  # the objects themselves, not copies
    with pytest.raises(OverflowError, match="dev_addr"):
        GatewayStationMessage("updf", dev_addr=2147483648)
    assert json.loads(station_encode(GatewayStationMessage("updf", dev_addr=-2147483648)))["DevAddr"] == -2147483648
    with pytest.raises(TypeError, match="data_rates"):
        GatewayStationMessage("router_config", data_rates=[GatewayStationWindow(1, 2)])
    with pytest.raises(TypeError, match="message"):
        station_encode("updf")


def test_uplink_levels_come_from_the_message_when_none_are_given():
    m = GatewayStationMessage("updf", xtime=5, rctx=1, gpstime=7)
    assert json.loads(station_encode(m))["upinfo"] == {"rctx": 1, "xtime": 5, "gpstime": 7, "rssi": 0.0, "snr": 0.0}
    m = GatewayStationMessage("updf", xtime=5, rctx=1, gpstime=7, levels=GatewayStationLevels(rssi=-1.5))
    assert json.loads(station_encode(m))["upinfo"] == {"rctx": 0, "xtime": 0, "rssi": -1.5, "snr": 0.0}
    back = station_parse(station_encode(m))
    assert back.levels is not None and (back.xtime, back.rctx, back.gpstime) == (None, None, None)


def test_required_identifiers_are_checked_when_written():
    with pytest.raises(TrovikError) as error:
        station_encode(GatewayStationMessage("jreq", join_eui="0000000000000001"))
    assert str(error.value) == " is not sixteen hexadecimal digits"
    with pytest.raises(TrovikError) as error:
        station_encode(GatewayStationMessage("jreq", join_eui="::1", dev_eui="bad"))
    assert str(error.value) == "::1 is not sixteen hexadecimal digits"
    written = json.loads(station_encode(GatewayStationMessage("dnmsg", dev_eui="0000000000000001",
                                                              join_eui="x", fopts=b"\x01")))
    assert "JoinEui" not in written and "FOpts" not in written and written["DevEui"] == "::1"


@pytest.mark.parametrize(
    "txtime, written", [(1.5, 2), (-1.5, -2), (2.4, 2), (float("nan"), 0), (1e30, 9223372036854775807)]
)
def test_timesync_txtime_is_whole_microseconds(txtime, written):
    text = station_encode(GatewayStationMessage("timesync", txtime=txtime))
    assert json.loads(text)["txtime"] == written
    assert station_parse(text).txtime == float(written)


def test_dntxed_txtime_is_seconds_and_not_finite_doubles_are_null():
    text = station_encode(GatewayStationMessage("dntxed", dev_eui="0" * 16, txtime=1.25))
    assert json.loads(text)["txtime"] == 1.25
    assert station_parse(text).txtime == 1.25
    text = station_encode(GatewayStationMessage("dntxed", dev_eui="0" * 16, txtime=math.inf))
    assert json.loads(text)["txtime"] is None
    assert station_parse(text).txtime == 0.0


@pytest.mark.parametrize(
    "text, error",
    [
        ("[1]", "the message is not a JSON object"),
        ("null", "the message is not a JSON object"),
        ('{"MHdr":1}', "the message names no kind"),
        ('{"msgtype":7}', "the message names no kind"),
        ('{"msgtype":"jreq","JoinEui":1,"DevEui":"::1"}', "JoinEui is not an identifier"),
        ('{"msgtype":"jreq","JoinEui":"1"}', "DevEui is not an identifier"),
        ('{"msgtype":"dnmsg","DevEui":"0123456789abcdef"}', "DevEui is not an identifier"),
        ('{"msgtype":"updf","FRMPayload":"0a0"}', "FRMPayload is not whole bytes"),
        ('{"msgtype":"updf","FRMPayload":"+f"}', "FRMPayload is not hexadecimal"),
        ('{"msgtype":"dnsched","schedule":[1]}', "a scheduled frame is not a JSON object"),
    ],
)
def test_reader_refusals(text, error):
    with pytest.raises(TrovikError) as raised:
        station_parse(text)
    assert str(raised.value) == error


def test_reader_refuses_text_that_is_not_json():
    with pytest.raises(TrovikError, match=r"^the message is not JSON: .*line 1 column"):
        station_parse('{"msgtype":')


@pytest.mark.parametrize(
    "field, json_value, read",
    [
        ("DR", "5.5", 6), ("DR", "-0.5", 255), ("DR", "260", 4), ("DR", '"5"', 0),
        ("FPort", "-1", None), ("FPort", "-7", None), ("FPort", '"1"', None), ("FPort", "257", 1),
        ("MIC", "4294967295", -1), ("FCnt", "65537", 1),
    ],
)
def test_numbers_read_leniently(field, json_value, read):
    attribute = {"DR": "data_rate", "FPort": "fport", "MIC": "mic", "FCnt": "fcnt"}[field]
    m = station_parse(f'{{"msgtype":"updf","{field}":{json_value}}}')
    assert getattr(m, attribute) == read


# ---------------------------------------------------------------------------
# Heard frames, against Basic MAC's frame readers


def random_data_frame(rng):
    options = rng.randrange(16)
    has_port = rng.random() < 0.8
    payload = rng.randbytes(rng.randrange(20)) if has_port else b""
    mhdr = rng.choice([0x40, 0x80]) | rng.randrange(4)
    body = struct.pack("<BiBH", mhdr, rng.randrange(-2**31, 2**31), (rng.randrange(16) << 4) | options,
                       rng.randrange(65536))
    body += rng.randbytes(options)
    if has_port:
        body += bytes([rng.randrange(256)]) + payload
    return body + rng.randbytes(4)


def test_heard_data_frames_agree_with_basic_mac():
    rng = random.Random(2024)
    for _ in range(400):
        frame = random_data_frame(rng)
        levels = GatewayStationLevels(rctx=rng.randrange(3), xtime=rng.getrandbits(62), rssi=-rng.randrange(140))
        ours = json.loads(station_encode(station_heard(frame, 5, 868100000, levels)))
        peer = loramsg.unpack_updf(frame)
        for key in ["msgtype", "MHdr", "DevAddr", "FCtrl", "FCnt", "FOpts", "FPort", "FRMPayload", "MIC"]:
            assert ours[key] == peer[key], key
        assert (ours["DR"], ours["Freq"], ours["upinfo"]["xtime"]) == (5, 868100000, levels.xtime)


def test_heard_join_requests_agree_with_basic_mac():
    rng = random.Random(7)
    for _ in range(200):
        frame = bytes([0x00]) + rng.randbytes(22)
        ours = station_heard(frame, 0, 868300000)
        peer = loramsg.unpack_nomic(frame)
        assert ours.msgtype == "jreq"
        assert station_eui_of(peer["JoinEUI"]) == ours.join_eui
        assert station_eui_of(peer["DevEUI"]) == ours.dev_eui
        assert (ours.dev_nonce, ours.mic, ours.mhdr) == (peer["DevNonce"], peer["MIC"], peer["MHdr"])
        levels = ours.levels
        assert (levels.rctx, levels.xtime, levels.gpstime, levels.rssi, levels.snr) == (0, 0, None, 0.0, 0.0)


@pytest.mark.parametrize(
    "frame, error",
    [
        (bytes(22), "a join request carries 18 bytes, not 17"),
        (b"\x40" + bytes(10), "a data frame carries 7 bytes of header, not 6"),
        (b"\x40\0\0\0\0\x03" + bytes(8), "a frame naming 3 bytes of options carries 9 in all"),
        (b"\x20" + bytes(4), "a station does not send a frame of kind 1 up"),
        (b"\xa0" + bytes(4), "a station does not send a frame of kind 5 up"),
        (b"\xe0" + bytes(3), "a frame of 4 bytes is shorter than a header and an integrity code"),
    ],
)
def test_heard_refusals(frame, error):
    with pytest.raises(TrovikError) as raised:
        station_heard(frame, 0, 0)
    assert str(raised.value) == error


def test_heard_proprietary_and_arguments():
    m = station_heard([0xE0, 1, 2, 3, 4], 9, 10)
    assert (m.msgtype, m.payload, m.data_rate, m.frequency_hz) == ("propdf", b"\xe0\x01\x02\x03\x04", 9, 10)
    with pytest.raises(TypeError):
        station_heard("frame", 0, 0)


# ---------------------------------------------------------------------------
# Discovery


def test_discovery_round_trip():
    assert station_discovery("0000000000000001") == '{"router":"::1"}'
    assert station_discovery_parse(station_discovery("ABCDEF0123456789")) == "abcdef0123456789"
    assert station_discovery_parse('{"router":"00-00-00-00-00-00-00-01"}') == "0000000000000001"
    assert station_discovery_parse('{"router":"1"}') == "0000000000000001"
    for text in ['{"router":1}', "{}", "[]", '{"router":"x"}']:
        with pytest.raises(TrovikError) as error:
            station_discovery_parse(text)
        assert str(error.value) == "router is not an identifier"
    with pytest.raises(TrovikError) as error:
        station_discovery_parse("{")
    assert "line 1 column" in str(error.value) and not str(error.value).startswith("the message")


def test_router_answers():
    refused = station_router_refused("0000000000000001", "unknown")
    assert refused == '{"error":"unknown","router":"::1"}'
    answer = station_router_parse(refused)
    assert (answer.router, answer.muxs, answer.uri, answer.error) == ("0000000000000001", None, None, "unknown")
    assert repr(answer) == "GatewayStationRouter(error=unknown)"
    accepted = station_router_accepted("0102030405060708", "00000000000000FF", "wss://lns.example:6039/router-1")
    assert compact(accepted) == accepted
    answer = station_router_parse(accepted)
    assert (answer.router, answer.muxs, answer.uri, answer.error) == (
        "0102030405060708", "00000000000000ff", "wss://lns.example:6039/router-1", None,
    )
    assert repr(answer) == "GatewayStationRouter(uri=wss://lns.example:6039/router-1)"
    assert json.loads(station_router_accepted("0" * 16, "0" * 16, ""))["uri"] == ""
    with pytest.raises(TrovikError) as error:
        station_router_accepted("0" * 15, "x", "u")
    assert str(error.value) == "0" * 15 + " is not sixteen hexadecimal digits"
    assert repr(station_router_parse("[]")) == "GatewayStationRouter()"
    assert station_router_parse('{"router":"x","uri":"u","error":"e"}').router is None
    assert repr(station_router_parse('{"uri":"u","error":"e"}')) == "GatewayStationRouter(error=e)"
    with pytest.raises(TypeError):
        GatewayStationRouter()


# ---------------------------------------------------------------------------
# A fuzz loop over the message reader: whatever arrives, only TrovikError.


def mutations(rng, seeds):
    alphabet = list('{}[]":,-+.0123456789eE abcdefxyzn\\u') + ["null", "true", "1e400", "\\ud800", "é"]
    for _ in range(6000):
        text = list(rng.choice(seeds))
        for _ in range(rng.randrange(1, 6)):
            op = rng.randrange(3)
            at = rng.randrange(len(text) + 1)
            if op == 0 and text:
                del text[min(at, len(text) - 1)]
            elif op == 1:
                text.insert(at, rng.choice(alphabet))
            elif text:
                text[min(at, len(text) - 1)] = rng.choice(alphabet)
        yield "".join(text)


def test_fuzz_loop_over_station_parse():
    rng = random.Random(0x5EED)
    seeds = [station_encode(m) for m in every_kind()]
    seeds += ['{"msgtype":"updf","FPort":1e400,"DR":-1e308,"upinfo":[]}', '{"msgtype":"dnsched","schedule":[{}]}']
    read = 0
    for text in mutations(rng, seeds):
        try:
            message = station_parse(text)
        except TrovikError:
            continue
        read += 1
        # What reads, writes; and what we wrote reads back to the same text.
        written = station_encode(message)
        assert station_encode(station_parse(written)) == written
    assert read > 0


@pytest.mark.parametrize(
    "callable_, signature",
    [
        (station_parse, "(text)"),
        (station_encode, "(message)"),
        (station_heard, "(frame, data_rate, frequency_hz, levels=None)"),
        (station_xtime_parts, "(xtime)"),
        (station_router_accepted, "(router, muxs, uri)"),
        (GatewayStationLevels, "(rctx=0, xtime=0, gpstime=None, rssi=0.0, snr=0.0)"),
        (GatewayStationBroadcast, "(pdu, data_rate=0, frequency_hz=0, priority=0, gpstime=None, rctx=None)"),
        (GatewayStationDataRate, "(spreading_factor, bandwidth_hz, downlink_only=False)"),
    ],
)
def test_text_signatures(callable_, signature):
    assert callable_.__text_signature__ == signature


def test_message_signature_takes_everything_but_msgtype_by_keyword():
    signature = GatewayStationMessage.__text_signature__
    assert signature.startswith("(msgtype, *, station=None, firmware=None,")
    assert signature.endswith("txtime=None, gpstime=None, schedule=None)")
    assert signature.count("=None") == 40
