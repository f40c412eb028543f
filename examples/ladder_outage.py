"""A field node reporting through a ladder of two links, with a buffer on disk
that carries its readings across an outage.

The preferred rung is a cheap radio path that is up for three sends and down
for five, over and over (a degraded link). The fallback rung is a wired
backhaul to the same broker (a loopback link). A send takes the first rung
that accepts it. Halfway through, the broker goes out of reach: both rungs
refuse, so the ladder keeps each reading in its file store. Once a reading is
buffered, later ones queue behind it, so nothing overtakes. When the broker
is back, `flush` replays the buffer oldest first, and the dashboard sees every
reading once, in the order it was taken.

    python3 examples/ladder_outage.py
"""
import asyncio
import tempfile

import trovik._native as trovik

TOPIC = "field/node7/soil_moisture"


async def main():
    broker = trovik.LoopbackBroker()
    dashboard = broker.link()
    await dashboard.connect()
    await dashboard.subscribe("field/+/soil_moisture")

    with tempfile.TemporaryDirectory() as buffer_dir:
        ladder = trovik.Ladder(trovik.Store.file(buffer_dir, 1000))
        await ladder.rung(trovik.PyTransport.degraded(broker.rung(), up=3, down=5))  # the radio, preferred
        await ladder.rung(broker.rung())  # the backhaul, the fallback
        await ladder.connect()

        readings = [f"{31.0 + 0.25 * i:.2f}" for i in range(14)]
        for step, reading in enumerate(readings):
            if step == 5:
                print("-- the broker goes out of reach")
                broker.reachable = False
            if step == 9:
                print("-- the broker is back")
                broker.reachable = True
                print(f"   flushed {await ladder.flush()} buffered readings, oldest first")
            outcome = await ladder.send(TOPIC, reading)
            print(f"step {step:2}: {reading} {outcome:8} ({await ladder.buffered()} in the buffer)")

        print(f"-- final flush: {await ladder.flush()} sent, {await ladder.buffered()} left")

    seen = [(await dashboard.recv()).text for _ in readings]
    print("dashboard saw:", ", ".join(seen))
    assert seen == readings, "every reading, once, in order"


asyncio.run(main())
