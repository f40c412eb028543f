"""One LoRaWAN end device joining a network and sending readings, on a
simulated clock.

The device is a state machine with no clock and no radio: every call takes
the time in microseconds and returns what to put on the air and when to
listen. Here the "air" is a direct hand-over to the network side: the join
request is checked and answered with a join accept, each uplink is decoded
with the granted session, and every third uplink is answered with a downlink
in the first receive window. When both windows close empty the device says
what comes next; when the duty cycle of its sub-band holds it back, the
refusal says until when.

    python3 examples/lorawan_join.py
"""
import trovik._native as trovik

APP_KEY = bytes.fromhex("2b7e151628aed2a6abf7158809cf4f3c")
DEV_EUI = bytes.fromhex("0004a30b001c0530")
JOIN_EUI = bytes.fromhex("70b3d57ed0000001")


class Network:
    """The network server's side of one device."""

    def __init__(self):
        self.grant = trovik.LorawanGrant(app_nonce=0x0A0B0C, net_id=0x13, dev_addr=0x26011BDA, rx_delay=1)
        self.session = None
        self.fcnt_down = 0

    def join(self, frame):
        request = trovik.lorawan_parse_join_request(frame, APP_KEY)
        self.session = self.grant.session(APP_KEY, request.dev_nonce)
        return self.grant.accept(APP_KEY, request.dev_nonce)

    def uplink(self, frame, fcnt):
        return self.session.decode(frame, fcnt)

    def downlink(self, payload):
        frame = self.session.encode_downlink(self.fcnt_down, 2, payload)
        self.fcnt_down += 1
        return frame


def main():
    plan = trovik.ChannelPlan.for_region("EU868")
    settings = trovik.LorawanDeviceSettings(min_output_dbm=-9, max_output_dbm=14, seed=7)
    device = trovik.LorawanEndDevice.over_the_air(plan, trovik.LorawanDevice(DEV_EUI, JOIN_EUI, APP_KEY), settings)
    network = Network()
    now = 0

    # Join: the accept comes in the first join-accept window.
    nonce = 1
    while not device.is_joined:
        t = device.join(nonce, now)
        nonce += 1
        print(f"{now / 1e6:10.3f} s  join request on {t.frequency_hz / 1e6:.1f} MHz DR{t.data_rate}")
        if nonce == 2:
            # The first request is lost; the device says when to try again.
            after = device.nothing_heard(now + t.airtime_us + t.rx2.delay_us)
            print(f"{'':14}nothing heard: {after.kind}, not before {after.not_before_us / 1e6:.3f} s")
            now = after.not_before_us
            continue
        heard = device.heard(network.join(t.frame), 0, window="rx1")
        print(f"{'':14}{heard.kind} as 0x{heard.dev_addr:08x}")
        now += t.airtime_us + t.rx1.delay_us

    # Uplinks: a reading every 5 s, unless the 1 % sub-band is still busy.
    for reading in range(6):
        now += 5_000_000
        payload = f"t={20 + reading}".encode()
        try:
            t = device.send(1, payload, now)
        except trovik.LorawanDeviceError as e:
            print(f"{now / 1e6:10.3f} s  {e.kind}: {e}")
            now = e.until_us
            t = device.send(1, payload, now)
        got = network.uplink(t.frame, device.fcnt_up - 1)
        print(f"{now / 1e6:10.3f} s  uplink {got.fcnt} {got.payload!r} on {t.frequency_hz / 1e6:.1f} MHz "
              f"DR{t.data_rate}, {t.airtime_us} us on air")
        if reading % 3 == 2:
            heard = device.heard(network.downlink(b"ok"), 0, window="rx1")
            print(f"{'':14}downlink in RX1: port {heard.delivery.port} {heard.delivery.payload!r}")
        else:
            print(f"{'':14}nothing heard: {device.nothing_heard(now + t.airtime_us + t.rx2.delay_us).kind}")
        now += t.airtime_us + t.rx2.delay_us


if __name__ == "__main__":
    main()
