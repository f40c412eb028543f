"""Confirmable PUT round trips per second against our CoAP server on
127.0.0.1: our client beside aiocoap's client, one request at a time.

    python3 bench/bench_coap.py [seconds per run]
"""
import asyncio
import sys
import time

import aiocoap

import trovik._native as trovik


async def rate(put_once, seconds):
    for _ in range(50):  # warm-up: sockets, caches, the runtime's threads
        await put_once()
    count, start = 0, time.perf_counter()
    while (elapsed := time.perf_counter() - start) < seconds:
        for _ in range(50):
            await put_once()
        count += 50
    return count / elapsed


async def main(seconds):
    server = trovik.CoapServer("127.0.0.1:0")
    await server.subscribe("bench/#")
    await server.connect()
    port = server.local_port

    # Nothing takes the readings: a waiting recv would compete with the
    # clients for the event loop. The queue of a few thousand small readings
    # goes when the server disconnects.
    payload = b"x" * 32

    ours = trovik.CoapClient(host="127.0.0.1", port=port)
    await ours.connect()
    ours_rate = await rate(lambda: ours.send("bench/ours", payload), seconds)
    await ours.disconnect()

    context = await aiocoap.Context.create_client_context()
    uri = f"coap://127.0.0.1:{port}/bench/aiocoap"

    async def aiocoap_put():
        response = await context.request(aiocoap.Message(code=aiocoap.PUT, uri=uri, payload=payload)).response
        assert response.code == aiocoap.CHANGED

    theirs_rate = await rate(aiocoap_put, seconds)
    await context.shutdown()

    await server.disconnect()

    print(f"trovik CoapClient   {ours_rate:10.0f} PUT/s")
    print(f"aiocoap client      {theirs_rate:10.0f} PUT/s")
    print(f"ratio (trovik / aiocoap) {ours_rate / theirs_rate:.2f}")


if __name__ == "__main__":
    asyncio.run(main(float(sys.argv[1]) if len(sys.argv) > 1 else 3.0))
