"""Gateway bridges: packet-forwarder datagrams and their JSON, the base64 and
UTC time texts, and ChirpStack uplink events.

Checked against Python's own `base64`, `json` and `datetime` as independent
peers (payload texts, the JSON we write, the time texts both ways), against
the examples of the Semtech packet forwarder's PROTOCOL.TXT and of the
ChirpStack v4 documentation, typed in as published, and with a bounded fuzz
loop of random and mutated datagrams.
"""
import base64
import datetime
import json
import math
import pathlib
import random

import pytest

import trovik._native as native
from trovik._native import (
    ChirpstackUplinkEvent,
    GatewayPacket,
    GatewayRxpk,
    GatewayStat,
    GatewayTxpk,
    LoraLink,
    TrovikError,
    gateway_acknowledgment,
    gateway_encode,
    gateway_parse,
)

GATEWAY = "aa555a0000000001"
GATEWAY_BYTES = bytes.fromhex(GATEWAY)
EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


def datagram(kind, body=b"", *, gateway=True, token=0x1234):
    head = bytes([2, token >> 8, token & 0xFF, kind])
    if isinstance(body, str):
        body = body.encode()
    return head + (GATEWAY_BYTES if gateway else b"") + body


def push(*packets, status=None):
    return GatewayPacket("PushData", 0x1234, gateway=GATEWAY, packets=list(packets), status=status)


def body_of(data, kind):
    """The JSON a written datagram carries, read by Python's json."""
    return json.loads(data[12:] if kind in (0, 5) else data[4:])


def rxpk_body(packet):
    return body_of(gateway_encode(push(packet)), 0)["rxpk"][0]


def parsed_rxpk(entry):
    packet = gateway_parse(datagram(0, json.dumps({"rxpk": [entry]})))
    (rx,) = packet.packets
    return rx


# ---------------------------------------------------------------------------
# The examples written out byte for byte.


def test_example_uplink_and_downlink_encode_byte_for_byte():
    rx = GatewayRxpk(868100000, bytes([0x40, 1, 2, 3]), rssi_dbm=-57, snr_db=9.5, channel=2, timestamp_us=3512348611)
    assert gateway_encode(push(rx)) == datagram(
        0,
        '{"rxpk":[{"chan":2,"codr":"4/5","data":"QAECAw==","datr":"SF7BW125","freq":868.1,"lsnr":9.5,'
        '"modu":"LORA","rfch":0,"rssi":-57,"size":4,"stat":1,"tmst":3512348611}]}',
    )
    tx = GatewayTxpk(
        869525000,
        bytes([0x60, 4, 3, 2, 1, 0, 1, 0]),
        link=LoraLink(9, 125000),
        timestamp_us=1000000,
        invert_polarity=True,
        without_crc=True,
    )
    assert gateway_encode(GatewayPacket("PullResp", 0x1234, transmit=tx)) == datagram(
        3,
        '{"txpk":{"codr":"4/5","data":"YAQDAgEAAQA=","datr":"SF9BW125","freq":869.525,"imme":false,"ipol":true,'
        '"modu":"LORA","ncrc":true,"powe":14,"rfch":0,"size":8,"tmst":1000000}}',
        gateway=False,
    )


# ---------------------------------------------------------------------------
# The examples of the Semtech packet forwarder's PROTOCOL.TXT (version 2)
# and of ChirpStack, typed in as published; the component tests read the
# same files.
PUBLISHED = pathlib.Path(__file__).resolve().parent.parent / "components" / "trovik-gateway" / "tests" / "published"


def published(name):
    return (PUBLISHED / name).read_text()


PUBLISHED_RXPK = published("semtech_rxpk.json")
PUBLISHED_STAT = published("semtech_stat.json")
PUBLISHED_TXPK_LORA = published("semtech_txpk_lora.json")
PUBLISHED_TXPK_FSK = published("semtech_txpk_fsk.json")


def test_published_rxpk_example_with_url_safe_data_is_refused_with_the_base64_text():
    # Its first entry's data holds "-" and "_"-free URL-safe base64, which
    # the standard alphabet does not have; Python's strict decoder agrees.
    with pytest.raises(Exception):
        base64.b64decode("-DS4CGaDCdG+48eJNM3Vai-zDpsR71Pn9CPA9uCON84=", validate=True)
    with pytest.raises(TrovikError, match="^the rxpk payload is not base64: byte 0 is 0x2d, which is not base64$"):
        gateway_parse(datagram(0, PUBLISHED_RXPK))


def test_published_rxpk_entries_that_are_standard_base64_parse():
    entries = json.loads(PUBLISHED_RXPK)["rxpk"][1:]
    packet = gateway_parse(datagram(0, json.dumps({"rxpk": entries})))
    fsk, lora = packet.packets
    assert (fsk.frequency_hz, fsk.bitrate_bps, fsk.link, fsk.channel, fsk.rf_chain) == (869100000, 50000, None, 9, 1)
    assert (fsk.rssi_dbm, fsk.snr_db, fsk.crc, fsk.timestamp_us) == (-75.0, None, "Ok", 3512348514)
    assert fsk.payload == b"TEST_PACKET_1234"
    assert fsk.received_at_us == (
        datetime.datetime(2013, 3, 31, 16, 21, 17, 530974, tzinfo=datetime.timezone.utc) - EPOCH
    ) // datetime.timedelta(microseconds=1)
    assert lora.frequency_hz == 863009810
    link = lora.link
    assert (link.spreading_factor, link.bandwidth_hz, link.coding_rate_denominator) == (10, 125000, 7)
    assert (link.preamble_symbols, link.explicit_header, link.crc) == (8, True, True)
    assert lora.payload == base64.b64decode("ysgRl452xNLep9S1NTIg2lomKDxUgn3DJ7DE+b00Ass=")
    assert lora.snr_db == 5.5


def test_published_stat_example():
    packet = gateway_parse(datagram(0, PUBLISHED_STAT))
    assert packet.packets == []
    stat = packet.status
    assert stat.time_s == int(datetime.datetime(2014, 1, 12, 8, 59, 28, tzinfo=datetime.timezone.utc).timestamp())
    assert (stat.latitude_deg, stat.longitude_deg, stat.altitude_m) == (46.24, 3.2523, 145)
    assert (stat.received, stat.received_ok, stat.forwarded, stat.downlinks, stat.transmitted) == (2, 2, 2, 2, 2)
    assert stat.acknowledged_percent == 100.0
    # Written again, Python's json reads back the same report.
    again = body_of(gateway_encode(push(status=stat)), 0)
    assert again == json.loads(PUBLISHED_STAT)


@pytest.mark.parametrize("text", [PUBLISHED_TXPK_LORA, PUBLISHED_TXPK_FSK])
def test_published_txpk_examples(text):
    tx = gateway_parse(datagram(3, text, gateway=False)).transmit
    published = json.loads(text)["txpk"]
    assert tx.immediate is True
    assert tx.frequency_hz == round(published["freq"] * 1e6)
    assert tx.power_dbm == published["powe"]
    assert tx.payload == base64.b64decode(published["data"] + "=")
    written = body_of(gateway_encode(GatewayPacket("PullResp", 1, transmit=tx)), 3)["txpk"]
    # What the format carries comes back; the data gains its padding.
    assert written["data"] == base64.b64encode(tx.payload).decode()
    assert {k: v for k, v in written.items() if k != "data"} == {k: v for k, v in published.items() if k != "data"}


def test_published_tx_ack_example():
    packet = gateway_parse(datagram(5, published("semtech_txpk_ack.json")))
    assert (packet.kind, packet.gateway, packet.tx_status) == ("TxAck", GATEWAY, "COLLISION_PACKET")


# ---------------------------------------------------------------------------
# Datagrams and every refusal of a body.


@pytest.mark.parametrize(
    "data, message",
    [
        (b"", "a datagram of 0 bytes is shorter than the header"),
        (b"\x02\x00\x00", "a datagram of 3 bytes is shorter than the header"),
        (b"\x01\x00\x00\x09", "protocol version 1 is not 2"),
        (b"\x02\x00\x00\x06", "0x06 is not a packet identifier"),
        (b"\x02\x00\x00\xff", "0xff is not a packet identifier"),
        (b"\x02\x00\x00\x00", "a PushData of 4 bytes is missing fields it must carry"),
        (b"\x02\x00\x00\x02" + bytes(7), "a PullData of 11 bytes is missing fields it must carry"),
        (b"\x02\x00\x00\x05" + bytes(4), "a TxAck of 8 bytes is missing fields it must carry"),
        (datagram(0), "the payload of a PUSH_DATA is not JSON: EOF while parsing a value at line 1 column 0"),
        (datagram(3, gateway=False), "the payload of a PULL_RESP is not JSON: EOF while parsing a value at line 1 column 0"),
        (datagram(0, "[]"), "a PUSH_DATA payload is not a JSON object"),
        (datagram(3, "1", gateway=False), "a PULL_RESP payload is not a JSON object"),
        (datagram(5, '"x"'), "a TX_ACK payload is not a JSON object"),
        (datagram(0, '{"rxpk":[1]}'), "an rxpk entry is not a JSON object"),
        (datagram(0, '{"stat":[]}'), "a stat object is not a JSON object"),
        (datagram(3, '{"txpk":true}', gateway=False), "a txpk object is not a JSON object"),
        (datagram(5, '{"txpk_ack":null}'), "a txpk_ack object is not a JSON object"),
        (datagram(0, '{"rxpk":{}}'), '"rxpk" is not an array'),
        (datagram(0, '{"rxpk":[]}'), 'a PUSH_DATA payload carries neither "rxpk" nor "stat"'),
        (datagram(3, "{}", gateway=False), 'a PULL_RESP payload carries no "txpk"'),
        (datagram(5, "{}"), 'a TX_ACK payload carries no "txpk_ack"'),
        (datagram(5, '{"txpk_ack":{"error":"tx_freq"}}'), "tx_freq is not a TX_ACK error"),
        (datagram(0, '{"rxpk":[{"datr":"SF7BW125","freq":"868.1","data":""}]}'), 'a rxpk carries no "freq"'),
        (datagram(3, '{"txpk":{"data":"","datr":"SF7BW125"}}', gateway=False), 'a txpk carries no "freq"'),
        (datagram(0, '{"rxpk":[{"datr":"SF7BW125","freq":-1,"data":""}]}'), "-1 MHz is not a carrier"),
        (datagram(0, '{"rxpk":[{"datr":"SF7BW125","freq":4294.967296,"data":""}]}'), "4294.967296 MHz is not a carrier"),
        (datagram(0, '{"rxpk":[{"modu":"lora","freq":868.1,"data":""}]}'), "lora is not a modulation"),
        (datagram(0, '{"rxpk":[{"modu":"FSK","freq":868.1,"data":""}]}'), 'an FSK rxpk carries no bitrate in "datr"'),
        (datagram(0, '{"rxpk":[{"freq":868.1,"data":""}]}'), 'a LoRa rxpk carries no "datr"'),
        (datagram(0, '{"rxpk":[{"datr":"SF7BW62.5","freq":868.1,"data":""}]}'), "SF7BW62.5 is not a datarate identifier"),
        (datagram(0, '{"rxpk":[{"datr":"SF256BW125","freq":868.1,"data":""}]}'), "SF256BW125 is not a datarate identifier"),
        (datagram(0, '{"rxpk":[{"datr":"SF7BW125","codr":"4/5 ","freq":868.1,"data":""}]}'), "4/5  is not a coding rate"),
        (datagram(3, '{"txpk":{"datr":"SF7BW125","freq":868.1}}', gateway=False), 'a txpk carries no "data"'),
        (
            datagram(0, '{"rxpk":[{"datr":"SF7BW125","freq":868.1,"data":"QQ=Q"}]}'),
            "the rxpk payload is not base64: padding at byte 2 is before the end",
        ),
        (
            datagram(0, '{"rxpk":[{"datr":"SF7BW125","freq":868.1,"data":"Q"}]}'),
            "the rxpk payload is not base64: 1 base64 characters leave a group of one, which encodes nothing",
        ),
        (
            datagram(0, '{"rxpk":[{"datr":"SF7BW125","freq":868.1,"data":"QQ Q"}]}'),
            "the rxpk payload is not base64: byte 2 is 0x20, which is not base64",
        ),
    ],
)
def test_every_refusal_text(data, message):
    with pytest.raises(TrovikError) as caught:
        gateway_parse(data)
    assert str(caught.value) == message
    assert type(caught.value) is TrovikError


def test_short_datagrams_and_their_tails():
    assert gateway_parse(datagram(1, gateway=False)).kind == "PushAck"
    long_ack = gateway_parse(datagram(1, b"x" * 36, gateway=False))
    assert (long_ack.kind, long_ack.token, long_ack.gateway, long_ack.packets) == ("PushAck", 0x1234, None, [])
    pull = gateway_parse(datagram(2, b"12345678"))
    assert (pull.kind, pull.gateway, pull.status, pull.transmit, pull.tx_status) == ("PullData", GATEWAY, None, None, None)
    for body in (b"", b" \t\n\f\r"):
        assert gateway_parse(datagram(5, body)).tx_status == "NONE"
    assert gateway_parse(datagram(4, gateway=False)).kind == "PullAck"


def test_nesting_far_past_the_readers_limit_is_refused_with_a_text():
    deep = '{"rxpk":' + "[" * 200_000 + "]" * 200_000 + "}"
    with pytest.raises(TrovikError, match="^the payload of a PUSH_DATA is not JSON: recursion limit exceeded at line 1 column"):
        gateway_parse(datagram(0, deep))
    with pytest.raises(TrovikError, match="^the event is not a JSON object: recursion limit exceeded"):
        ChirpstackUplinkEvent.from_json('{"deviceInfo":' + "{\"a\":" * 200_000 + "1" + "}" * 200_001)


# ---------------------------------------------------------------------------
# Numbers through the stat and packet fields.


@pytest.mark.parametrize(
    "value, text",
    [
        (0.0, "0.0"),
        (868.0, "868.0"),
        (9.5, "9.5"),
        (-12.75, "-12.75"),
        (1e-5, "0.00001"),
        (1e-6, "1e-6"),
        (1.5e16, "1.5e+16"),
        (9999999999999998.0, "9999999999999998.0"),
        (46.24, "46.24"),
        (-0.0, "-0.0"),
    ],
)
def test_doubles_are_written_plain_from_1e_minus_5_to_1e16(value, text):
    data = gateway_encode(push(status=GatewayStat(latitude_deg=value, longitude_deg=value, acknowledged_percent=value)))
    assert f'"ackr":{text},' in data[12:].decode()
    assert f'"lati":{text},"long":{text},' in data[12:].decode()
    assert json.loads(data[12:])["stat"]["ackr"] == value


@pytest.mark.parametrize(
    "hz, text",
    [(868100000, "868.1"), (869525000, "869.525"), (863009810, "863.00981"), (4294967295, "4294.967295"),
     (915000000, "915.0"), (10, "0.00001"), (1, "1e-6"), (0, "0.0")],
)
def test_frequencies_are_divided_into_megahertz(hz, text):
    data = gateway_encode(push(GatewayRxpk(hz, b"")))
    assert f'"freq":{text},' in data[12:].decode()
    assert gateway_parse(data).packets[0].frequency_hz == hz


@pytest.mark.parametrize(
    "rssi, snr, rssi_text, lsnr_text",
    [
        (-57.5, -57.5, "-58", "-57.5"),
        (-57.49, -57.49, "-57", "-57.49"),
        (0.5, 0.125, "1", "0.13"),  # halves away from zero, not to even
        (-0.005, -0.005, "0", "-0.01"),
        (math.nan, math.nan, "0", "0.0"),
        (1e12, 1e12, "21474836", "21474836.47"),
        (-1e12, -1e12, "-21474836", "-21474836.48"),
    ],
)
def test_signal_levels_in_hundredths(rssi, snr, rssi_text, lsnr_text):
    text = gateway_encode(push(GatewayRxpk(868100000, b"", rssi_dbm=rssi, snr_db=snr)))[12:].decode()
    assert f'"rssi":{rssi_text},' in text
    assert f'"lsnr":{lsnr_text},' in text


@pytest.mark.parametrize(
    "fields, attribute, value",
    [
        ({"datr": "SF12BW125"}, "link.spreading_factor", 12),
        ({"datr": "SF4BW125"}, "link.spreading_factor", 5),
        ({"datr": "SF13BW125"}, "link.spreading_factor", 12),
        ({"datr": "SF07BW+500"}, "link.bandwidth_hz", 500000),
        ({"datr": "SF7BW0"}, "link.bandwidth_hz", 1),
        ({"codr": "4/6"}, "link.coding_rate_denominator", 6),
        ({"codr": "4/4"}, "link.coding_rate_denominator", 5),
        ({"codr": "4/9"}, "link.coding_rate_denominator", 8),
        ({"codr": 45}, "link.coding_rate_denominator", 5),
        ({"stat": 1}, "crc", "Ok"),
        ({"stat": -1}, "crc", "Failed"),
        ({"stat": 0}, "crc", "Absent"),
        ({"stat": 2}, "crc", "Absent"),
        ({"stat": 0.6}, "crc", "Ok"),
        ({}, "crc", "Absent"),
        ({"rssi": -57.5}, "rssi_dbm", -58.0),
        ({"rssi": "x"}, "rssi_dbm", 0.0),
        ({"lsnr": -12.25}, "snr_db", -12.25),
        ({}, "snr_db", None),
        ({"chan": 2.5}, "channel", 3),
        ({"chan": 300}, "channel", 44),
        ({"tmst": 4294967296}, "timestamp_us", 0),
        ({"tmms": -1}, "gps_millis", 2**64 - 1),
        ({"freq": 4294.967295}, "frequency_hz", 4294967295),
        ({"data": "QQ"}, "payload", b"A"),
        ({"time": "not a time"}, "received_at_us", None),
    ],
)
def test_rxpk_field_readings(fields, attribute, value):
    entry = {"datr": "SF7BW125", "freq": 868.1, "data": "", **fields}
    got = parsed_rxpk(entry)
    for name in attribute.split("."):
        got = getattr(got, name)
    assert got == value


def test_a_packet_forwarder_crc_error_packet_without_a_coding_rate_keeps_its_datagram():
    # Written as the packet forwarder writes a PUSH_DATA when it forwards
    # CRC errors: a packet whose coding rate it could not tell says "OFF",
    # and the datagram carries a good packet and the status beside it.
    body = (
        '{"rxpk":[{"jver":1,"tmst":1074853380,"chan":2,"rfch":1,"freq":868.500000,"mid": 8,"stat":1,'
        '"modu":"LORA","datr":"SF9BW125","codr":"4/5","rssis":-46,"lsnr":10.5,"foff":-264,"rssi":-46,'
        '"size":4,"data":"QAECAw=="},'
        '{"jver":1,"tmst":1074961244,"chan":0,"rfch":1,"freq":868.100000,"mid": 8,"stat":-1,'
        '"modu":"LORA","datr":"SF12BW125","codr":"OFF","rssis":-122,"lsnr":-19.8,"foff":-1526,"rssi":-110,'
        '"size":3,"data":"AQID"}],'
        '"stat":{"time":"2024-01-01 00:00:00 GMT","lati":46.24000,"long":3.25230,"alti":145,"rxnb":2,"rxok":1,'
        '"rxfw":2,"ackr":100.0,"dwnb":0,"txnb":0,"temp":37.5}}'
    )
    packet = gateway_parse(datagram(0, body))
    good, failed = packet.packets
    assert (good.crc, good.link.spreading_factor, good.link.coding_rate_denominator) == ("Ok", 9, 5)
    assert good.payload == bytes([0x40, 1, 2, 3])
    assert (failed.crc, failed.frequency_hz, failed.payload) == ("Failed", 868100000, b"\x01\x02\x03")
    assert (failed.link.spreading_factor, failed.link.coding_rate_denominator) == (12, 5)
    assert (packet.status.received, packet.status.received_ok, packet.status.forwarded) == (2, 1, 2)
    # Written again, it carries the coding rate a missing "codr" reads as.
    written = body_of(gateway_encode(packet), 0)["rxpk"]
    assert [entry["codr"] for entry in written] == ["4/5", "4/5"]


def test_txpk_field_readings_and_writings():
    def txpk(**fields):
        body = {"txpk": {"datr": "SF7BW125", "freq": 868.1, "data": "", **fields}}
        return gateway_parse(datagram(3, json.dumps(body), gateway=False)).transmit

    assert txpk().power_dbm == 14
    assert txpk(powe=-2).power_dbm == -2
    assert txpk(powe=200).power_dbm == -56
    assert txpk(imme=1).immediate is False
    fsk = txpk(modu="FSK", datr=50000, fdev=25000, ipol=True)
    assert (fsk.bitrate_bps, fsk.frequency_deviation_hz, fsk.link) == (50000, 25000, None)
    written = body_of(gateway_encode(GatewayPacket("PullResp", 1, transmit=fsk)), 3)["txpk"]
    assert (written["datr"], written["fdev"]) == (50000, 25000)
    assert "codr" not in written and "ipol" not in written
    assert "ncrc" not in body_of(gateway_encode(GatewayPacket("PullResp", 1, transmit=txpk(ncrc=False))), 3)["txpk"]
    assert body_of(gateway_encode(GatewayPacket("PullResp", 1, transmit=txpk(ncrc=True))), 3)["txpk"]["ncrc"] is True


# ---------------------------------------------------------------------------
# Base64 against Python's base64.


def test_payloads_are_written_as_pythons_base64_writes_them():
    rng = random.Random(23)
    for length in list(range(0, 40)) + [rng.randrange(40, 256) for _ in range(20)]:
        payload = rng.randbytes(length)
        entry = rxpk_body(GatewayRxpk(868100000, payload))
        assert entry["data"] == base64.b64encode(payload).decode()
        assert entry["size"] == length


def test_payloads_are_read_as_pythons_base64_reads_them():
    rng = random.Random(24)
    for length in range(0, 60):
        payload = rng.randbytes(length)
        text = base64.b64encode(payload).decode()
        for variant in (text, text.rstrip("=")):
            assert parsed_rxpk({"datr": "SF7BW125", "freq": 868.1, "data": variant}).payload == payload


@pytest.mark.parametrize("text", ["QQ Q", "QQ-_", "Q*==", "QQ\nQ", "QUJD\xe9"])
def test_characters_outside_the_standard_alphabet_are_refused_as_python_refuses_them(text):
    with pytest.raises(ValueError):
        base64.b64decode(text + "=" * (-len(text) % 4), validate=True)
    with pytest.raises(TrovikError, match="which is not base64$"):
        parsed_rxpk({"datr": "SF7BW125", "freq": 868.1, "data": text})


# ---------------------------------------------------------------------------
# Time texts against Python's datetime.


def utc(micros):
    return EPOCH + datetime.timedelta(microseconds=micros)


def test_received_times_are_written_and_read_as_datetime_does():
    rng = random.Random(25)
    top = (datetime.datetime(9999, 12, 31, 23, 59, 59, 999999, tzinfo=datetime.timezone.utc) - EPOCH) // datetime.timedelta(microseconds=1)
    samples = [0, 1, 951782400000000, 1704067200000000, top] + [rng.randrange(0, top) for _ in range(300)]
    for micros in samples:
        rx = GatewayRxpk(868100000, b"", received_at_us=micros)
        text = rxpk_body(rx)["time"]
        assert text == utc(micros).strftime("%Y-%m-%dT%H:%M:%S.%fZ")
        assert datetime.datetime.fromisoformat(text[:-1] + "+00:00") == utc(micros)
        assert gateway_parse(gateway_encode(push(rx))).packets[0].received_at_us == micros


def test_status_times_are_written_and_read_as_datetime_does():
    rng = random.Random(26)
    for seconds in [0, 1704067200] + [rng.randrange(0, 253402300799) for _ in range(200)]:
        data = gateway_encode(push(status=GatewayStat(time_s=seconds)))
        text = json.loads(data[12:])["stat"]["time"]
        assert text == utc(seconds * 1_000_000).strftime("%Y-%m-%d %H:%M:%S GMT")
        assert gateway_parse(data).status.time_s == seconds


def test_times_beyond_datetimes_years_still_round_trip():
    rx = GatewayRxpk(868100000, b"", received_at_us=2**64 - 1)
    assert rxpk_body(rx)["time"] == "586524-01-19T08:01:49.551615Z"
    assert gateway_parse(gateway_encode(push(rx))).packets[0].received_at_us == 2**64 - 1


@pytest.mark.parametrize(
    "text, expected",
    [
        ("2024-01-01T00:00:00Z", datetime.datetime(2024, 1, 1, tzinfo=datetime.timezone.utc)),
        ("2024-01-01T00:00:00.5Z", datetime.datetime(2024, 1, 1, 0, 0, 0, 500000, tzinfo=datetime.timezone.utc)),
        ("2024-1-2T3:4:5Z", datetime.datetime(2024, 1, 2, 3, 4, 5, tzinfo=datetime.timezone.utc)),
        ("2016-12-31T23:59:60Z", datetime.datetime(2017, 1, 1, tzinfo=datetime.timezone.utc)),
        ("2024-02-30T00:00:00Z", datetime.datetime(2024, 3, 1, tzinfo=datetime.timezone.utc)),
        ("2024-01-01T00:00:00.1234567Z", None),
        ("2024-01-01T00:00:00.Z", None),
        ("2024-01-01T00:00:00", None),
        ("2024-01-01 00:00:00Z", None),
        ("2024-01-01T00:00Z", None),
        ("2024-13-01T00:00:00Z", None),
        ("2024-01-32T00:00:00Z", None),
        ("2024-01-01T24:00:00Z", None),
        ("1969-12-31T23:59:59Z", None),
    ],
)
def test_received_time_texts(text, expected):
    got = parsed_rxpk({"datr": "SF7BW125", "freq": 868.1, "data": "", "time": text}).received_at_us
    assert got == (None if expected is None else (expected - EPOCH) // datetime.timedelta(microseconds=1))


@pytest.mark.parametrize(
    "text, seconds",
    [
        ("2024-01-01 00:00:00 GMT", 1704067200),
        ("2024-01-01 00:00:00.9 GMT", 1704067200),
        ("2024-01-01 00:00:00 UTC", None),
        ("2024-01-01T00:00:00 GMT", None),
        ("2024-01-01  00:00:00 GMT", None),
    ],
)
def test_status_time_texts(text, seconds):
    assert gateway_parse(datagram(0, json.dumps({"stat": {"time": text}}))).status.time_s == seconds


# ---------------------------------------------------------------------------
# The Python objects and their conversions.


def test_acknowledgments():
    ack = gateway_acknowledgment(push())
    assert (ack.kind, ack.token, ack.gateway, ack.packets, ack.status, ack.transmit, ack.tx_status) == (
        "PushAck", 0x1234, None, [], None, None, None)
    assert gateway_acknowledgment(GatewayPacket("PullData", 0x1234, gateway=GATEWAY)).kind == "PullAck"
    assert gateway_acknowledgment(GatewayPacket("PullData", 7, gateway=GATEWAY)).token == 7
    tx = GatewayTxpk(869525000, b"")
    for packet in (
        GatewayPacket("PushAck", 1),
        GatewayPacket("PullAck", 1),
        GatewayPacket("PullResp", 1, transmit=tx),
        GatewayPacket("TxAck", 1, gateway=GATEWAY),
    ):
        assert gateway_acknowledgment(packet) is None


@pytest.mark.parametrize(
    "packet, message",
    [
        (GatewayPacket("pushdata", 1), "no datagram is of kind pushdata"),
        (GatewayPacket("PushData", 1), "this kind of datagram carries the gateway's identifier"),
        (GatewayPacket("PullData", 1, gateway="xyz"), "a gateway identifier is sixteen hexadecimal digits, not xyz"),
        (GatewayPacket("TxAck", 1, gateway=GATEWAY + "0"), f"a gateway identifier is sixteen hexadecimal digits, not {GATEWAY}0"),
        (GatewayPacket("PullResp", 1), "a PullResp carries what to transmit in `transmit`"),
        (GatewayPacket("TxAck", 1, gateway=GATEWAY, tx_status="none"), "none is not a TX_ACK status"),
        (
            GatewayPacket("PushData", 1, gateway=GATEWAY, packets=[GatewayRxpk(1, b"", crc="ok")]),
            "no CRC status is named ok; use Ok, Failed, or Absent",
        ),
    ],
)
@pytest.mark.parametrize("function", [gateway_encode, gateway_acknowledgment])
def test_conversion_refusals(function, packet, message):
    with pytest.raises(ValueError) as caught:
        function(packet)
    assert str(caught.value) == message


def test_fields_a_kind_does_not_read_are_ignored():
    assert gateway_encode(GatewayPacket("PushAck", 0x1234, gateway="xyz", tx_status="bad")) == datagram(1, gateway=False)
    assert gateway_encode(GatewayPacket("TxAck", 0x1234, gateway=GATEWAY)) == datagram(5, '{"txpk_ack":{"error":"NONE"}}')
    empty = gateway_encode(push())
    assert empty == datagram(0, "{}")
    with pytest.raises(TrovikError, match='^a PUSH_DATA payload carries neither "rxpk" nor "stat"$'):
        gateway_parse(empty)


def test_modulation_from_the_python_fields():
    both = rxpk_body(GatewayRxpk(868100000, b"", link=LoraLink(9, 250000), bitrate_bps=50000))
    assert (both["modu"], both["datr"]) == ("FSK", 50000) and "codr" not in both
    neither = rxpk_body(GatewayRxpk(868100000, b""))
    assert (neither["modu"], neither["datr"], neither["codr"]) == ("LORA", "SF7BW125", "4/5")
    link = LoraLink(12, 62500, coding_rate_denominator=8)
    assert rxpk_body(GatewayRxpk(868100000, b"", link=link))["datr"] == "SF12BW62"


def test_txpk_defaults():
    assert GatewayTxpk(869525000, b"").immediate is True
    assert GatewayTxpk(869525000, b"").power_dbm == 14
    assert GatewayTxpk(869525000, b"", timestamp_us=5).immediate is False
    assert GatewayTxpk(869525000, b"", gps_millis=5).immediate is True
    assert GatewayTxpk(869525000, b"", immediate=False).immediate is False
    with pytest.raises(OverflowError):
        GatewayTxpk(869525000, b"", power_dbm=128)


@pytest.mark.parametrize(
    "make",
    [
        lambda: GatewayRxpk(868100000, "text"),
        lambda: GatewayRxpk(868100000, b"", crc=None),
        lambda: GatewayRxpk(868100000, b"", link=5),
        lambda: GatewayTxpk(869525000, b"", invert_polarity=1),
        lambda: GatewayPacket("PushData", 1, packets=[5]),
        lambda: GatewayPacket("PushData", 1, status=GatewayTxpk(1, b"")),
        lambda: GatewayPacket("PushData", 1, gateway=7),
    ],
)
def test_construction_refuses_only_wrong_types(make):
    with pytest.raises(TypeError):
        make()


NOT_A_SEQUENCE = "'NoneType' object is not an instance of 'Sequence'"
NOT_A_STR = "'NoneType' object is not an instance of 'str'"
NOT_AN_INTEGER = "'NoneType' object cannot be interpreted as an integer"
NOT_A_FLOAT = "must be real number, not NoneType"
NOT_A_BOOL = "'NoneType' object is not an instance of 'bool'"


@pytest.mark.parametrize(
    "cls, args, keyword, message",
    [
        (GatewayPacket, ("PushData", 1), "packets", NOT_A_SEQUENCE),
        (GatewayRxpk, (868100000, b""), "crc", NOT_A_STR),
        (GatewayRxpk, (868100000, b""), "rssi_dbm", NOT_A_FLOAT),
        (GatewayRxpk, (868100000, b""), "channel", NOT_AN_INTEGER),
        (GatewayRxpk, (868100000, b""), "rf_chain", NOT_AN_INTEGER),
        (GatewayTxpk, (869525000, b""), "rf_chain", NOT_AN_INTEGER),
        (GatewayTxpk, (869525000, b""), "power_dbm", NOT_AN_INTEGER),
        (GatewayTxpk, (869525000, b""), "invert_polarity", NOT_A_BOOL),
        (GatewayTxpk, (869525000, b""), "without_crc", NOT_A_BOOL),
        (GatewayStat, (), "received", NOT_AN_INTEGER),
        (GatewayStat, (), "received_ok", NOT_AN_INTEGER),
        (GatewayStat, (), "forwarded", NOT_AN_INTEGER),
        (GatewayStat, (), "acknowledged_percent", NOT_A_FLOAT),
        (GatewayStat, (), "downlinks", NOT_AN_INTEGER),
        (GatewayStat, (), "transmitted", NOT_AN_INTEGER),
    ],
)
def test_keywords_whose_default_is_not_none_refuse_none(cls, args, keyword, message):
    with pytest.raises(TypeError) as caught:
        cls(*args, **{keyword: None})
    assert str(caught.value) == message
    assert caught.value.__notes__ == [f"while processing '{keyword}'"]


def test_construction_keeps_what_it_was_given():
    assert GatewayRxpk(868100000, b"", crc="ok").crc == "ok"
    rx = GatewayRxpk(1, bytearray(b"ab"))
    stat = GatewayStat()
    packet = GatewayPacket("nothing", 65535, gateway="xyz", packets=(rx,), status=stat, tx_status="x")
    assert packet.packets[0] is rx and packet.status is stat
    assert packet.packets is not packet.packets
    assert rx.payload == b"ab" and type(rx.payload) is bytes
    with pytest.raises(OverflowError):
        GatewayPacket("PushData", 65536)


def test_one_coordinate_alone_is_not_written():
    data = gateway_encode(push(status=GatewayStat(latitude_deg=46.24)))
    assert "lati" not in json.loads(data[12:])["stat"]
    status = gateway_parse(data).status
    assert (status.latitude_deg, status.longitude_deg) == (None, None)


def test_round_trip_through_the_wire():
    rx = GatewayRxpk(
        902300000, b"\x01\x02\x03", link=LoraLink(10, 500000, coding_rate_denominator=8, preamble_symbols=12),
        crc="Failed", rssi_dbm=-119.4, snr_db=-7.25, channel=63, rf_chain=1, timestamp_us=4294967295,
        received_at_us=1704067200000001, gps_millis=1388534418000,
    )
    stat = GatewayStat(time_s=1704067200, latitude_deg=-33.5, longitude_deg=151.25, altitude_m=-12, received=2**32 - 1,
                       received_ok=1, forwarded=2, acknowledged_percent=99.5, downlinks=3, transmitted=4)
    packet = gateway_parse(gateway_encode(GatewayPacket("PushData", 0xBEEF, gateway=GATEWAY.upper(), packets=[rx, rx], status=stat)))
    assert (packet.kind, packet.token, packet.gateway) == ("PushData", 0xBEEF, GATEWAY)
    got = packet.packets[1]
    for name in ("frequency_hz", "payload", "crc", "snr_db", "channel", "rf_chain", "timestamp_us", "received_at_us",
                 "gps_millis", "bitrate_bps"):
        assert getattr(got, name) == getattr(rx, name), name
    assert got.rssi_dbm == -119.0  # whole dBm on the wire
    # Whole numbers are read through a double, saturating at the signed
    # 64-bit end: a GPS time past 2^63 ms (some 292 million years) is not one.
    huge = GatewayRxpk(1, b"", gps_millis=2**64 - 1)
    assert gateway_parse(gateway_encode(push(huge))).packets[0].gps_millis == 2**63 - 1
    link = got.link
    assert (link.spreading_factor, link.bandwidth_hz, link.coding_rate_denominator) == (10, 500000, 8)
    assert link.preamble_symbols == 8  # the wire does not carry it
    for name in ("time_s", "latitude_deg", "longitude_deg", "altitude_m", "received", "received_ok", "forwarded",
                 "acknowledged_percent", "downlinks", "transmitted"):
        assert getattr(packet.status, name) == getattr(stat, name), name

    tx = GatewayTxpk(869525000, b"\xff" * 5, bitrate_bps=50000, frequency_deviation_hz=25000, gps_millis=99, rf_chain=1,
                     power_dbm=-3, preamble_symbols=5, without_crc=True)
    back = gateway_parse(gateway_encode(GatewayPacket("PullResp", 9, transmit=tx))).transmit
    for name in ("frequency_hz", "payload", "bitrate_bps", "immediate", "timestamp_us", "gps_millis", "rf_chain",
                 "power_dbm", "frequency_deviation_hz", "preamble_symbols", "without_crc", "link"):
        assert getattr(back, name) == getattr(tx, name), name

    ack = gateway_parse(gateway_encode(GatewayPacket("TxAck", 3, gateway=GATEWAY, tx_status="GPS_UNLOCKED")))
    assert (ack.kind, ack.tx_status, ack.packets, ack.status) == ("TxAck", "GPS_UNLOCKED", [], None)


def test_classes_compare_by_identity():
    a, b = GatewayStat(), GatewayStat()
    assert a != b and a == a
    assert repr(a).startswith("<trovik._native.GatewayStat object at ")


# ---------------------------------------------------------------------------
# A bounded fuzz loop: random and mutated datagrams raise only our errors.


def test_fuzz_loop_over_gateway_parse():
    rng = random.Random(2301)
    seeds = [
        datagram(0, PUBLISHED_STAT),
        datagram(0, json.dumps({"rxpk": json.loads(PUBLISHED_RXPK)["rxpk"][1:]})),
        datagram(3, PUBLISHED_TXPK_LORA, gateway=False),
        datagram(3, PUBLISHED_TXPK_FSK, gateway=False),
        datagram(5, '{"txpk_ack":{"error":"TX_FREQ"}}'),
        datagram(2),
        datagram(1, gateway=False),
    ]
    parsed = 0
    for _ in range(4000):
        if rng.random() < 0.2:
            data = bytes([2, rng.randrange(256), rng.randrange(256), rng.randrange(7)]) + rng.randbytes(rng.randrange(40))
        else:
            data = bytearray(rng.choice(seeds))
            for _ in range(rng.randrange(1, 6)):
                choice = rng.randrange(4)
                at = rng.randrange(len(data) + 1)
                if choice == 0 and at < len(data):
                    data[at] = rng.randrange(256)
                elif choice == 1:
                    data[at:at] = rng.choice([b"[", b"{", b"}", b"]", b",", b'"', b"-", b"1e999", b"\\u", b"\xff", b"null"])
                elif choice == 2 and at < len(data):
                    del data[at : at + rng.randrange(1, 8)]
                else:
                    data[at:at] = data[rng.randrange(len(data) + 1) :][: rng.randrange(16)]
            data = bytes(data)
        try:
            packet = gateway_parse(data)
        except (TrovikError, ValueError):
            continue
        parsed += 1
        # Whatever reads also writes, and reads again.
        try:
            gateway_parse(gateway_encode(packet))
        except TrovikError as e:
            # Only an uplink left with nothing to carry is refused on its way back.
            assert "neither" in str(e)
    assert parsed > 100


# ---------------------------------------------------------------------------
# ChirpStack uplink events.

PUBLISHED_V4_UP = published("chirpstack_v4_up.json")
# An event of ChirpStack v3's application server: the device EUI sits at the
# top level, in base64.
PUBLISHED_V3_UP = published("chirpstack_v3_up.json")

DEVICE = '"deviceInfo":{"devEui":"0102030405060708"}'


def test_published_v4_event():
    event = ChirpstackUplinkEvent.from_json(PUBLISHED_V4_UP)
    published = json.loads(PUBLISHED_V4_UP)
    assert event.deduplication_id == published["deduplicationId"]
    assert event.time == published["time"]
    assert event.application_id == published["deviceInfo"]["applicationId"]
    assert event.device_name == "Test device"
    assert event.dev_eui == "0101010101010101"
    assert event.dev_addr == 0x00189440
    assert (event.data_rate, event.fport, event.fcnt, event.adr, event.confirmed) == (1, 1, 0, False, False)
    assert event.data == base64.b64decode(published["data"])
    assert event.frequency_hz == 867100000
    (reception,) = event.receptions
    assert (reception.gateway, reception.rssi_dbm, reception.snr_db) == ("0016c001f153a14c", -36, 10.5)
    assert repr(event) == 'ChirpstackUplinkEvent(dev_eui="0101010101010101", fcnt=0, fport=Some(1))'
    assert repr(event.best_reception()) == 'ChirpstackReception(gateway="0016c001f153a14c", rssi_dbm=-36, snr_db=10.5)'


def test_v3_event_is_refused():
    with pytest.raises(TrovikError, match="^the event has no deviceInfo.devEui$"):
        ChirpstackUplinkEvent.from_json(PUBLISHED_V3_UP)


@pytest.mark.parametrize(
    "text, message",
    [
        ("{}", "the event has no deviceInfo.devEui"),
        ("[1]", "the event is not a JSON object: the top level is not an object"),
        ('{"deviceInfo":null}', "the event's deviceInfo is not valid"),
        ('{"deviceInfo":{"devEui":42}}', "the event has no deviceInfo.devEui"),
        ('{"deviceInfo":{"devEui":"0102"}}', "the event's deviceInfo.devEui is not valid"),
        *[("{" + DEVICE + f',"devAddr":"{a}"}}', "the event's devAddr is not valid") for a in ("123456789", "-1", "0x10", "")],
        ("{" + DEVICE + ',"data":"AQ-D"}', "the event's data is not valid"),
        ("{" + DEVICE + ',"rxInfo":[5]}', "the event's rxInfo is not valid"),
        ("{" + DEVICE + ',"rxInfo":[{"gatewayId":"01"}]}', "the event's rxInfo.gatewayId is not valid"),
        ("{" + DEVICE + ',"rxInfo":[{"gatewayId":"0102030405060708","rssi":-57.5}]}', "the event's rxInfo.rssi is not valid"),
        ("{" + DEVICE + ',"txInfo":{"frequency":8.681e8}}', "the event's txInfo.frequency is not valid"),
        ("{" + DEVICE + ',"dr":256}', "the event's dr is not valid"),
        *[("{" + DEVICE + f',"fCnt":{v}}}', "the event's fCnt is not valid") for v in ("4294967296", "5.0", "-1", '"5"')],
        ("{" + DEVICE + ',"fPort":256}', "the event's fPort is not valid"),
        ('{"deviceInfo":{"devEui":"x"},"fCnt":-1}', "the event's deviceInfo.devEui is not valid"),
    ],
)
def test_event_refusals(text, message):
    with pytest.raises(TrovikError) as caught:
        ChirpstackUplinkEvent.from_json(text)
    assert str(caught.value) == message


def test_text_that_is_not_json_names_the_fault():
    with pytest.raises(TrovikError, match="^the event is not a JSON object: .+ at line 1 column "):
        ChirpstackUplinkEvent.from_json("{")


def test_smallest_event_and_defaults():
    event = ChirpstackUplinkEvent.from_json("{" + DEVICE + "}")
    assert (event.fcnt, event.fport, event.adr, event.confirmed, event.data_rate, event.data) == (0, None, False, False, 0, b"")
    assert (event.receptions, event.best_reception(), event.dev_addr, event.frequency_hz, event.time) == ([], None, None, None, None)
    assert (event.deduplication_id, event.application_id, event.device_name) == ("", "", "")


@pytest.mark.parametrize(
    "fields, attribute, value",
    [
        ('"devAddr":"01ab23cd"', "dev_addr", 27993037),
        ('"devAddr":"+1f"', "dev_addr", 31),
        ('"devAddr":"000000001"', "dev_addr", 1),
        ('"devAddr":16', "dev_addr", None),
        ('"fCnt":4294967295', "fcnt", 4294967295),
        ('"fCnt":null', "fcnt", 0),
        ('"fPort":0', "fport", 0),
        ('"fPort":null', "fport", None),
        ('"txInfo":{"frequency":868100000}', "frequency_hz", 868100000),
        ('"txInfo":[1]', "frequency_hz", None),
        ('"data":"AQID"', "data", b"\x01\x02\x03"),
        ('"data":5', "data", b""),
        ('"adr":"true"', "adr", False),
        ('"adr":true', "adr", True),
        ('"confirmed":true', "confirmed", True),
        ('"rxInfo":{"gatewayId":"0102030405060708"}', "receptions", []),
    ],
)
def test_event_readings(fields, attribute, value):
    assert getattr(ChirpstackUplinkEvent.from_json("{" + DEVICE + "," + fields + "}"), attribute) == value


def test_receptions():
    def event(*receptions):
        rx = ",".join(receptions)
        return ChirpstackUplinkEvent.from_json("{" + DEVICE + ',"rxInfo":[' + rx + "]}")

    def reception(n, extra=""):
        return '{"gatewayId":"000000000000000%d"%s}' % (n, extra)

    assert event(reception(1)).receptions[0].rssi_dbm == 0
    assert event(reception(1, ',"snr":"7"')).receptions[0].snr_db == 0.0
    assert event(reception(1, ',"snr":7.3')).receptions[0].snr_db == 7.300000190734863
    assert event(reception(1, ',"snr":3'), reception(2, ',"snr":3')).best_reception().gateway == "0000000000000002"
    assert event(reception(1, ',"snr":9.5'), reception(2, ',"snr":3')).best_reception().gateway == "0000000000000001"
    assert event(reception(1, ',"snr":-0.0'), reception(2, ',"snr":0')).best_reception().gateway == "0000000000000002"
    got = event(reception(1, ',"rssi":-57,"snr":7'), reception(2, ',"snr":1e-7'))
    assert repr(got.receptions[0]) == 'ChirpstackReception(gateway="0000000000000001", rssi_dbm=-57, snr_db=7)'
    assert repr(got.receptions[1]) == 'ChirpstackReception(gateway="0000000000000002", rssi_dbm=0, snr_db=0.00000010000000116860974)'
    assert got.receptions is not got.receptions


def test_topic_and_constant():
    assert native.chirpstack_uplink_topic("42") == "application/42/device/+/event/up"
    assert native.chirpstack_uplink_topic("") == "application//device/+/event/up"
    assert native.CHIRPSTACK_UPLINK_TOPIC == "application/+/device/+/event/up"
    with pytest.raises(TypeError):
        native.chirpstack_uplink_topic(42)
    with pytest.raises(TypeError):
        ChirpstackUplinkEvent.from_json(b"{}")
    with pytest.raises(TypeError):
        ChirpstackUplinkEvent()
    with pytest.raises(TypeError):
        native.ChirpstackReception()
