"""A sensor publishing through an in-process broker while its radio path
degrades and the broker drops out of reach for a while.

A dashboard link subscribes to every sensor topic. The sensor's uplink is a
degraded link (it loses every 4th packet and is down one send in every six)
over a loopback link. Halfway through, the broker goes out of reach: sends
fail until it comes back, and the links keep their connections and filters
through the outage. The sensor keeps what it could not send and retries it
on its next reading, so nothing is lost for good.

    python3 examples/loopback_outage.py
"""
import asyncio

import trovik._native as trovik


async def dashboard(link, expected, seen):
    while len(seen) < expected:
        message = await link.recv()
        seen.append(message.number)
        print(f"    dashboard  {message.topic} = {message.number:.1f}")


async def main():
    broker = trovik.LoopbackBroker()

    screen = broker.link()
    await screen.connect()
    await screen.subscribe("sensors/+/temperature")

    uplink = trovik.PyTransport.degraded(broker.rung(), drop_every=4, up=5, down=1)
    await uplink.connect()

    readings = [20.0 + 0.5 * i for i in range(12)]
    seen = []
    listener = asyncio.ensure_future(dashboard(screen, len(readings), seen))

    backlog = []
    for step, reading in enumerate(readings):
        if step == 5:
            print("-- the broker goes out of reach")
            broker.reachable = False
        if step == 8:
            print("-- the broker is back")
            broker.reachable = True
        backlog.append(reading)
        print(f"step {step:2}: reading {reading:.1f}, {len(backlog)} to send")
        while backlog:
            try:
                await uplink.send("sensors/greenhouse/temperature", f"{backlog[0]:.1f}")
            except trovik.TrovikError as failure:
                print(f"    kept for later: {failure}")
                break
            backlog.pop(0)

    while backlog:  # the last few, once the path lets them through
        try:
            await uplink.send("sensors/greenhouse/temperature", f"{backlog[0]:.1f}")
            backlog.pop(0)
        except trovik.TrovikError as failure:
            print(f"    retrying: {failure}")

    await asyncio.wait_for(listener, timeout=5)
    print(f"delivered {len(seen)} of {len(readings)} readings, in order: {seen == readings}")


if __name__ == "__main__":
    asyncio.run(main())
