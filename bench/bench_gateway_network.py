"""A one-site network server's uplink path for 1,000 joined devices: each
PUSH_DATA datagram read, its uplink checked and decrypted with the device's
session, an answer encrypted for the first receive window and written into a
PULL_RESP datagram. Ours is `gateway_parse` + `GatewayNetwork.uplink` +
`GatewayNetwork.answer` + `gateway_encode`; beside it, what a Python server
would do with liblora (the frame library of Semtech's Basic MAC, over
pycryptodome) and the standard library's json and base64: the same datagram
read, the device found by its address, the counter widened, the frame checked
and decrypted, the answer built and written. Both read the same datagrams,
in one process, rounds interleaved; each figure is the median over the rounds.

    python3 bench/bench_gateway_network.py [rounds]

Uplinks per second for each side; the ratio is ours / theirs, so above 1
means ours is faster.
"""
import base64
import json
import statistics
import struct
import sys
import time

import loramsg
from Crypto.Cipher import AES

import trovik._native as trovik

DEVICES = 1_000
NET_ID = 0x13
JOIN_EUI = bytes.fromhex("70b3d57ed0000001")
GATEWAY = "a84041ffff1f2a3b"
CHANNELS = (868_100_000, 868_300_000, 868_500_000)


def credentials(i):
    return (0x0004A30B00000000 + i).to_bytes(8, "big"), bytes([i & 0xFF, i >> 8]) * 8


def session_keys(app_key, join_nonce, dev_nonce):
    cipher = AES.new(app_key, AES.MODE_ECB)
    tail = join_nonce.to_bytes(3, "little") + NET_ID.to_bytes(3, "little") + dev_nonce.to_bytes(2, "little") + bytes(7)
    return cipher.encrypt(b"\x01" + tail), cipher.encrypt(b"\x02" + tail)


def push_data(token, frame, frequency_hz, timestamp_us):
    rxpk = trovik.GatewayRxpk(frequency_hz, frame, link=trovik.LoraLink(7, 125000), rssi_dbm=-70.0, snr_db=8.0,
                              timestamp_us=timestamp_us)
    return trovik.gateway_encode(trovik.GatewayPacket("PushData", token, gateway=GATEWAY, packets=[rxpk]))


class Ours:
    def __init__(self, plan):
        self.network = trovik.GatewayNetwork(plan, NET_ID)

    def served(self, datagram):
        for heard in trovik.gateway_parse(datagram).packets:
            event = self.network.uplink(heard)
            txpk = self.network.answer(event.dev_addr, event.slot, 1, b"ok")
            return trovik.gateway_encode(trovik.GatewayPacket("PullResp", 0, transmit=txpk))


class Theirs:
    """A server written in Python over liblora."""

    def __init__(self):
        self.devices = {}  # DevAddr: [NwkSKey, AppSKey, last FCnt or None, FCntDown]

    def served(self, datagram):
        body = json.loads(datagram[12:])
        for rxpk in body["rxpk"]:
            frame = base64.b64decode(rxpk["data"])
            dev_addr, fcnt16 = struct.unpack_from("<IxH", frame, 1)
            device = self.devices[dev_addr]
            nwk, app, last, fcnt_down = device
            if last is None:
                full = fcnt16
            else:
                full = (last & 0xFFFF0000) | fcnt16
                if full <= last:
                    full += 0x10000
            up = loramsg.unpack_dataframe(frame, full, nwk, app)
            device[2] = up["FCnt"]
            down = loramsg.pack_dataframe(mhdr=0x60, devaddr=struct.unpack("<i", frame[1:5])[0], fcnt=fcnt_down,
                                          port=1, payload=b"ok", nwkskey=nwk, appskey=app)
            device[3] = fcnt_down + 1
            txpk = {"imme": False, "tmst": (rxpk["tmst"] + 1_000_000) & 0xFFFFFFFF, "freq": rxpk["freq"],
                    "rfch": 0, "powe": 14, "modu": "LORA", "datr": rxpk["datr"], "codr": "4/5", "ipol": True,
                    "size": len(down), "data": base64.b64encode(down).decode()}
            return b"\x02\x00\x00\x03" + json.dumps({"txpk": txpk}, separators=(",", ":")).encode()


def setup(rounds):
    plan = trovik.ChannelPlan.for_region("EU868")
    ours, theirs = Ours(plan), Theirs()
    keys = []
    for i in range(DEVICES):
        dev_eui, app_key = credentials(i)
        ours.network.register(dev_eui, JOIN_EUI, app_key)
        event = ours.network.uplink(trovik.gateway_parse(
            push_data(i, trovik.LorawanDevice(dev_eui, JOIN_EUI, app_key).join_request(1), CHANNELS[0], 0)).packets[0])
        nwk, app = session_keys(app_key, i + 1, 1)
        theirs.devices[event.dev_addr] = [nwk, app, None, 0]
        keys.append((event.dev_addr, nwk, app))
    # One uplink per device per round, frames built by liblora.
    batches = []
    for r in range(rounds):
        batch = []
        for i, (dev_addr, nwk, app) in enumerate(keys):
            frame = loramsg.pack_dataframe(mhdr=0x40, devaddr=struct.unpack("<i", dev_addr.to_bytes(4, "little"))[0],
                                           fcnt=r, port=2, payload=bytes(range(20)), nwkskey=nwk, appskey=app)
            batch.append(push_data(r * DEVICES + i & 0xFFFF, frame, CHANNELS[i % 3], r * 1000 + i))
        batches.append(batch)
    return ours, theirs, batches


def check(ours_reply, theirs_reply):
    a, b = trovik.gateway_parse(ours_reply).transmit, trovik.gateway_parse(theirs_reply).transmit
    assert (a.payload, a.timestamp_us, a.frequency_hz) == (b.payload, b.timestamp_us, b.frequency_hz)


def timed(server, batch):
    start = time.perf_counter()
    for datagram in batch:
        server.served(datagram)
    return (time.perf_counter() - start) / len(batch)


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 9
    ours, theirs, batches = setup(rounds + 1)
    # The first round checks that both answer every uplink with the same bytes.
    for datagram in batches[0]:
        check(ours.served(datagram), theirs.served(datagram))
    times = {"ours": [], "liblora": []}
    for batch in batches[1:]:
        times["ours"].append(timed(ours, batch))
        times["liblora"].append(timed(theirs, batch))
    o = 1 / statistics.median(times["ours"])
    t = 1 / statistics.median(times["liblora"])
    print(f"{'path, ' + str(DEVICES) + ' devices':<32} {'ours /s':>10} {'liblora /s':>11} {'ratio':>6}")
    print(f"{'PUSH_DATA to PULL_RESP':<32} {o:10.0f} {t:11.0f} {o / t:6.2f}")


if __name__ == "__main__":
    main()
