"""MQTT through a real mosquitto on 127.0.0.1: our client beside paho-mqtt,
on the same broker in the same run.

- QoS 0 publish throughput: messages per second from the first publish until a
  final QoS 1 publish is acknowledged (the broker answers one connection's
  packets in order, so by then it has taken every message before it). Ours
  both awaited one by one and issued in batches that are awaited together
  (calls on one client keep the order they were made in); paho's `publish`
  only queues, so it never waits.
- QoS 1 latency: one publish at a time, from the call until the PUBACK is in
  (`publish_confirmed` for us, `wait_for_publish` for paho). Beside both, the
  floor of any asyncio client: a bare asyncio stream writing the same PUBLISH
  and awaiting its 4-byte PUBACK.

Rounds alternate ours and paho's in one run on one broker; each figure is the
median over the rounds.

    python3 bench/bench_mqtt.py [seconds per run] [rounds]
"""
import asyncio
import statistics
import sys
import tempfile
import time
import uuid
from pathlib import Path

import paho.mqtt.client as paho

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from peers.mosquitto import Mosquitto  # noqa: E402

import trovik._native as trovik  # noqa: E402

PAYLOAD = b"x" * 64
BATCH = 500


def ours_client(port):
    return trovik.MqttClient(client_id=f"bench-{uuid.uuid4().hex[:8]}", host="127.0.0.1", port=port,
                             capacity=1024)


async def one_by_one(c):
    for _ in range(BATCH):
        await c.publish("bench/ours", PAYLOAD, qos="AtMostOnce")


async def batched(c):
    await asyncio.gather(*(c.publish("bench/ours", PAYLOAD, qos="AtMostOnce") for _ in range(BATCH)))


async def ours_throughput(port, seconds, publish_batch):
    c = ours_client(port)
    await c.connect()
    await publish_batch(c)  # warm-up: the socket, the runtime's threads
    await c.publish_confirmed("bench/ours", b"", qos="AtLeastOnce")
    count, start = 0, time.perf_counter()
    while time.perf_counter() - start < seconds:
        await publish_batch(c)
        count += BATCH
    await c.publish_confirmed("bench/ours", b"", qos="AtLeastOnce")
    elapsed = time.perf_counter() - start
    await c.disconnect()
    return count / elapsed


async def ours_latency(port, seconds):
    c = ours_client(port)
    await c.connect()
    for _ in range(100):
        await c.publish_confirmed("bench/ours", PAYLOAD, qos="AtLeastOnce")
    samples, start = [], time.perf_counter()
    while time.perf_counter() - start < seconds:
        t = time.perf_counter()
        await c.publish_confirmed("bench/ours", PAYLOAD, qos="AtLeastOnce")
        samples.append(time.perf_counter() - t)
    await c.disconnect()
    return samples


def mqtt_packet(first, body):
    return bytes([first, len(body)]) + body


async def asyncio_floor(port, seconds):
    reader, writer = await asyncio.open_connection("127.0.0.1", port)
    client_id = f"bench-floor-{uuid.uuid4().hex[:8]}".encode()
    writer.write(mqtt_packet(0x10, b"\x00\x04MQTT\x04\x02\x00\x3c" + len(client_id).to_bytes(2, "big") + client_id))
    await reader.readexactly(4)
    topic = b"bench/floor"
    samples, pkid, start = [], 0, time.perf_counter()
    while time.perf_counter() - start < seconds:
        pkid = pkid % 65535 + 1
        packet = mqtt_packet(0x32, len(topic).to_bytes(2, "big") + topic + pkid.to_bytes(2, "big") + PAYLOAD)
        t = time.perf_counter()
        writer.write(packet)
        await reader.readexactly(4)
        samples.append(time.perf_counter() - t)
    writer.close()
    return samples


def paho_client(port):
    c = paho.Client(paho.CallbackAPIVersion.VERSION2, client_id=f"bench-paho-{uuid.uuid4().hex[:8]}",
                    protocol=paho.MQTTv311)
    c.max_queued_messages_set(0)
    c.connect("127.0.0.1", port)
    c.loop_start()
    return c


def paho_confirm(c, payload):
    info = c.publish("bench/paho", payload, qos=1)
    info.wait_for_publish(10)
    assert info.is_published()


def paho_throughput(port, seconds):
    c = paho_client(port)
    for _ in range(BATCH):
        c.publish("bench/paho", PAYLOAD, qos=0)
    paho_confirm(c, b"")
    count, start = 0, time.perf_counter()
    while time.perf_counter() - start < seconds:
        for _ in range(BATCH):
            c.publish("bench/paho", PAYLOAD, qos=0)
        count += BATCH
    paho_confirm(c, b"")
    elapsed = time.perf_counter() - start
    c.disconnect()
    c.loop_stop()
    return count / elapsed


def paho_latency(port, seconds):
    c = paho_client(port)
    for _ in range(100):
        paho_confirm(c, PAYLOAD)
    samples, start = [], time.perf_counter()
    while time.perf_counter() - start < seconds:
        t = time.perf_counter()
        paho_confirm(c, PAYLOAD)
        samples.append(time.perf_counter() - t)
    c.disconnect()
    c.loop_stop()
    return samples


async def main(seconds, rounds):
    rates = {"one": [], "batched": [], "paho": []}
    latency = {"ours": [], "paho": [], "floor": []}
    with tempfile.TemporaryDirectory() as directory, Mosquitto(Path(directory)) as broker:
        for r in range(rounds):
            runs = [
                ("one", lambda: ours_throughput(broker.port, seconds, one_by_one)),
                ("batched", lambda: ours_throughput(broker.port, seconds, batched)),
                ("paho", lambda: asyncio.to_thread(paho_throughput, broker.port, seconds)),
            ]
            for name, run in runs if r % 2 == 0 else reversed(runs):
                rates[name].append(await run())
            sides = [("ours", lambda: ours_latency(broker.port, seconds)),
                     ("paho", lambda: asyncio.to_thread(paho_latency, broker.port, seconds)),
                     ("floor", lambda: asyncio_floor(broker.port, seconds))]
            for name, run in sides if r % 2 == 0 else reversed(sides):
                latency[name].append(statistics.median(await run()))

    one, batch, theirs = (statistics.median(rates[k]) for k in ("one", "batched", "paho"))
    ours_median, paho_median, floor_median = (statistics.median(latency[k]) for k in ("ours", "paho", "floor"))
    print("QoS 0 publish throughput (median of rounds)")
    print(f"  trovik MqttClient, one by one  {one:10.0f} msg/s")
    print(f"  trovik MqttClient, batches     {batch:10.0f} msg/s")
    print(f"  paho-mqtt                      {theirs:10.0f} msg/s")
    print("QoS 1 publish_confirmed latency (median of round medians)")
    print(f"  trovik MqttClient  {ours_median * 1e6:8.0f} us")
    print(f"  paho-mqtt          {paho_median * 1e6:8.0f} us")
    print(f"  asyncio stream     {floor_median * 1e6:8.0f} us  (the floor: bare PUBLISH/PUBACK bytes)")
    print(f"throughput ratio (trovik / paho, higher is better) {one / theirs:.2f} one by one, "
          f"{batch / theirs:.2f} in batches")
    print(f"latency ratio    (trovik / paho, lower is better)  {ours_median / paho_median:.2f}"
          f" (the asyncio floor: {floor_median / paho_median:.2f})")


if __name__ == "__main__":
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 2.0
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    asyncio.run(main(seconds, rounds))
