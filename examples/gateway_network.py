"""A LoRaWAN end device, a gateway and a one-site network server, on a
simulated clock and simulated radios.

The device is a state machine that says what to put on the air; its radio is
a simulated SX1262. The gateway hands what it heard to the server in a
packet-forwarder PUSH_DATA datagram, and the server's `GatewayNetwork` admits
the join, decodes each uplink with the device's session and answers in the
first receive window; the answer goes back in a PULL_RESP datagram, and the
device's radio hears it. Along the way a replayed uplink and a replayed join
request are refused without harm to the live session.

    python3 examples/gateway_network.py
"""
import trovik._native as trovik

APP_KEY = bytes.fromhex("2b7e151628aed2a6abf7158809cf4f3c")
DEV_EUI = bytes.fromhex("0004a30b001c0530")
JOIN_EUI = bytes.fromhex("70b3d57ed0000001")
GATEWAY = "a84041ffff1f2a3b"
SYNC_WORD = 0x34  # public LoRaWAN networks


class Gateway:
    """The packet forwarder: radio frames in datagrams, datagrams to radio frames."""

    def __init__(self):
        self.token = 0

    def push(self, payload, tuning, timestamp_us):
        self.token += 1
        heard = trovik.GatewayRxpk(tuning.frequency_hz, payload, link=tuning.link, rssi_dbm=-71.0, snr_db=8.5,
                                   timestamp_us=timestamp_us)
        return trovik.gateway_encode(trovik.GatewayPacket("PushData", self.token, gateway=GATEWAY, packets=[heard]))

    def transmit(self, datagram):
        return trovik.gateway_parse(datagram).transmit


class Server:
    """The network server: datagrams in, downlinks out."""

    def __init__(self, plan):
        self.network = trovik.GatewayNetwork(plan, 0x13, first_dev_addr=0x26011BD0)
        self.network.register(DEV_EUI, JOIN_EUI, APP_KEY)

    def received(self, datagram):
        packet = trovik.gateway_parse(datagram)
        assert trovik.gateway_acknowledgment(packet).kind == "PushAck"
        events = []
        for heard in packet.packets:
            try:
                events.append(self.network.uplink(heard))
            except trovik.TrovikError as refused:
                print(f"{'':14}server refused it: {refused}")
        return events

    def send(self, txpk):
        return trovik.gateway_encode(trovik.GatewayPacket("PullResp", 1, transmit=txpk))


def main():
    plan = trovik.ChannelPlan.for_region("EU868")
    settings = trovik.LorawanDeviceSettings(min_output_dbm=-9, max_output_dbm=14, seed=11)
    device = trovik.LorawanEndDevice.over_the_air(plan, trovik.LorawanDevice(DEV_EUI, JOIN_EUI, APP_KEY), settings)
    chip = trovik.SimulatedLoraChip.sx126x("HighPower")
    radio = chip.radio()
    gateway, server = Gateway(), Server(plan)

    def over_the_air(t, now_us):
        """Transmits on the device's radio; the gateway stamps the end of reception."""
        radio.configure(t.frequency_hz, t.link, t.output_dbm, sync_word=SYNC_WORD)
        airtime = radio.transmit(t.frame)
        sent = chip.sent()[-1]
        return server.received(gateway.push(sent.payload, sent.tuning, (now_us + airtime) % (1 << 32)))

    def listen(txpk, window):
        """The gateway sends the downlink; the device's radio listens in its window."""
        down = gateway.transmit(server.send(txpk))
        assert (down.frequency_hz, down.link.spreading_factor) == (window.frequency_hz, window.link.spreading_factor)
        radio.configure(window.frequency_hz, window.link, 14, sync_word=SYNC_WORD, invert_iq_receive=True)
        chip.hear(down.payload, -65.0, 9.0)
        return radio.receive(1_000_000).payload

    now = 0
    t = device.join(1, now)
    print(f"{now / 1e6:10.3f} s  join request on {t.frequency_hz / 1e6:.1f} MHz DR{t.data_rate}")
    (event,) = over_the_air(t, now)
    accept = event.accept
    print(f"{'':14}{event.outcome} {event.dev_eui} as 0x{event.dev_addr:08x}; accept at "
          f"{accept.timestamp_us / 1e6:.3f} s on {accept.frequency_hz / 1e6:.1f} MHz")
    heard = device.heard(listen(accept, t.rx1), 9, window="rx1")
    print(f"{'':14}device {heard.kind} as 0x{heard.dev_addr:08x}")
    now += t.airtime_us + t.rx1.delay_us

    for reading in range(4):
        now += 10_000_000
        confirmed = reading == 2
        t = device.send(1, f"t={20 + reading}".encode(), now, confirmed=confirmed)
        (event,) = over_the_air(t, now)
        print(f"{now / 1e6:10.3f} s  uplink {event.fcnt} {event.payload!r} on {t.frequency_hz / 1e6:.1f} MHz "
              f"DR{t.data_rate}{' (confirmed)' if event.confirmed else ''}")
        if reading % 2:
            # The server answers in the device's first receive window.
            txpk = server.network.answer(event.dev_addr, event.slot, 2, b"ok")
            delivery = device.heard(listen(txpk, t.rx1), 9, window="rx1").delivery
            print(f"{'':14}answered in RX1: port {delivery.port} {delivery.payload!r}")
        else:
            # The server reports a confirmed uplink but does not acknowledge it.
            after = device.nothing_heard(now + t.airtime_us + t.rx2.delay_us)
            print(f"{'':14}no answer: {after.kind}")
        now += t.airtime_us + t.rx2.delay_us

    # Someone records the last uplink and the join request and plays them back.
    print(f"{now / 1e6:10.3f} s  a replayed uplink")
    server.received(gateway.push(t.frame, chip.sent()[-1].tuning, now))
    print(f"{now / 1e6:10.3f} s  a replayed join request")
    server.received(gateway.push(trovik.LorawanDevice(DEV_EUI, JOIN_EUI, APP_KEY).join_request(1),
                                 chip.sent()[0].tuning, now))

    now += 10_000_000
    t = device.send(1, b"still here", now)
    (event,) = over_the_air(t, now)
    print(f"{now / 1e6:10.3f} s  uplink {event.fcnt} {event.payload!r}: the session lives on")


if __name__ == "__main__":
    main()
