"""CoAP client and server, against aiocoap and against scripted UDP peers."""
import asyncio
import os
import socket

import aiocoap
import pytest
from aiocoap.numbers.codes import Code
from peers.aiocoap_peer import Answer, Plain, Recorder, aiocoap_client, aiocoap_server, scripted_peer, wire

import trovik._native as native

pytestmark = pytest.mark.asyncio

CON, NON, ACK, RST = aiocoap.CON, aiocoap.NON, aiocoap.ACK, aiocoap.RST
LOCAL = "127.0.0.1"


def client(port, **settings):
    return native.CoapClient(host=LOCAL, port=port, **settings)


async def connected_server(*filters):
    server = native.CoapServer(f"{LOCAL}:0")
    for f in filters:
        await server.subscribe(f)
    await server.connect()
    return server


def uri(port, path):
    return f"coap://{LOCAL}:{port}/{path}"


async def eventually(predicate, timeout=5.0):
    for _ in range(int(timeout / 0.01)):
        if predicate():
            return True
        await asyncio.sleep(0.01)
    return predicate()


# ---- settings -------------------------------------------------------------------


@pytest.mark.parametrize(
    "settings, error, text",
    [
        ({"reliability": "confirmable"}, native.TrovikError, "unknown reliability confirmable"),
        ({"reliability": "NON"}, native.TrovikError, "unknown reliability NON"),
        # the arguments are converted before the reliability is looked at
        ({"port": 65536, "reliability": "x"}, OverflowError, "out of range integral type conversion attempted"),
        ({"ack_timeout_ms": -1}, OverflowError, "out of range integral type conversion attempted"),
        ({"max_retransmits": 2**32}, OverflowError, "out of range integral type conversion attempted"),
        ({"bind": b"0.0.0.0:0"}, TypeError, "'bytes' object is not an instance of 'str'"),
    ],
)
async def test_client_settings_are_refused(settings, error, text):
    with pytest.raises(error) as caught:
        native.CoapClient(**{"host": "h", "port": 5683, **settings})
    assert str(caught.value) == text


async def test_client_arguments_are_keyword_only():
    with pytest.raises(TypeError, match=r"CoapClient.__new__\(\) takes 0 positional arguments but 2 were given"):
        native.CoapClient("h", 5683)


@pytest.mark.parametrize("operation", ["recv", "send", "subscribe"])
async def test_an_unconnected_client_refuses_without_touching_the_network(operation):
    c = native.CoapClient(host="no.such.host.invalid", port=5683)
    assert await c.is_connected() is False
    call = {"recv": c.recv, "send": lambda: c.send("a", b"x"), "subscribe": lambda: c.subscribe("a")}[operation]
    with pytest.raises(native.TrovikError, match="^resource is closed$"):
        await call()


async def test_wrong_argument_types_raise_before_any_awaitable():
    c = native.CoapClient(host=LOCAL, port=5683)
    s = native.CoapServer(f"{LOCAL}:0")
    for call in (lambda: c.send("t", 5), lambda: c.send(b"t", b""), lambda: s.send("t", 5.0), lambda: s.subscribe(1)):
        with pytest.raises(TypeError):
            call()


# ---- our client, aiocoap's server -------------------------------------------------


@pytest.mark.parametrize(
    "host, reliability, mtype",
    [(LOCAL, None, CON), ("localhost", "Confirmable", CON), (LOCAL, "NonConfirmable", NON)],
)
async def test_puts_reach_an_aiocoap_server(host, reliability, mtype):
    store = Recorder()
    async with aiocoap_server({("store", "x"): store}) as port:
        c = native.CoapClient(host=host, port=port, reliability=reliability)
        await c.connect()
        assert await c.is_connected() is True
        await c.send("/store//x/", b"\x00\xffraw")
        await c.send("store/x", "t\u00ebxt")
        puts = await store.wait_for_puts(2)
        await c.disconnect()
    assert puts == [(mtype, b"\x00\xffraw"), (mtype, "t\u00ebxt".encode())]


async def test_observing_an_aiocoap_resource_yields_each_change_in_order():
    temp = Recorder(b"20.0")
    async with aiocoap_server({("room", "temp"): temp}) as port:
        c = client(port)
        await c.connect()
        await c.subscribe("/room/temp/")
        got = [await asyncio.wait_for(c.recv(), 5)]  # the registration's answer is the first reading
        for value in (b"20.5", b"21.0", b"21.5"):
            temp.update(value)
            got.append(await asyncio.wait_for(c.recv(), 5))
        await c.disconnect()
    assert [(m.topic, m.payload) for m in got] == [("room/temp", v) for v in (b"20.0", b"20.5", b"21.0", b"21.5")]


@pytest.mark.parametrize("operation", ["send", "subscribe"])
@pytest.mark.parametrize(
    "path, text",
    [
        ("missing", "the server answered 4.04 Not Found"),
        ("busy", "the server answered 5.03 Service Unavailable: busy"),
        ("slow-down", "the server answered 4.29"),
        ("binary", "the server answered 4.00 Bad Request"),  # a payload that is not UTF-8 is left out
    ],
)
async def test_error_answers_of_an_aiocoap_server_give_their_texts(operation, path, text):
    resources = {
        ("busy",): Answer(Code.SERVICE_UNAVAILABLE, b"busy"),
        ("slow-down",): Answer(Code.TOO_MANY_REQUESTS),
        ("binary",): Answer(Code.BAD_REQUEST, b"\xff\xfe"),
    }
    async with aiocoap_server(resources) as port:
        c = client(port)
        await c.connect()
        with pytest.raises(native.TrovikError) as caught:
            await (c.send(path, b"1") if operation == "send" else c.subscribe(path))
        await c.disconnect()
    assert str(caught.value) == "transport error: " + text


async def test_observing_a_resource_that_cannot_be_observed_fails_with_the_filter_as_given():
    async with aiocoap_server({("plain",): Plain()}) as port:
        c = client(port)
        await c.connect()
        with pytest.raises(native.TrovikError) as caught:
            await c.subscribe("/plain/")
        await c.disconnect()
    assert str(caught.value) == (
        "transport error: the server answered /plain/ without registering an observation, so no changes will follow"
    )


async def test_disconnect_releases_the_client_and_connect_takes_it_up_again():
    first, second = Recorder(b"a"), Recorder(b"b")
    # aiocoap keeps observers that went away without deregistering, so the
    # second connect observes another resource
    async with aiocoap_server({("first",): first, ("second",): second}) as port:
        c = client(port)
        await c.disconnect()  # never connected: nothing to release
        await c.connect()
        await c.subscribe("first")
        await c.disconnect()
        assert await c.is_connected() is False
        with pytest.raises(native.TrovikError, match="^resource is closed$"):
            await c.recv()  # the queued notification went with the socket
        await c.connect()
        await c.subscribe("second")
        second.update(b"c")
        got = [(await asyncio.wait_for(c.recv(), 5)).payload for _ in range(2)]
        await c.disconnect()
    assert got == [b"b", b"c"]


# ---- aiocoap's client, our server ---------------------------------------------------


@pytest.mark.parametrize("tuning, answer_type", [(aiocoap.Reliable, ACK), (aiocoap.Unreliable, NON)])
async def test_aiocoap_puts_to_our_server(tuning, answer_type):
    s = await connected_server("/sensors/+/")
    async with aiocoap_client() as ctx:

        async def request(code, path, payload=b""):
            message = aiocoap.Message(code=code, uri=uri(s.local_port, path), payload=payload, transport_tuning=tuning)
            return await asyncio.wait_for(ctx.request(message).response, 5)

        taken = await request(aiocoap.PUT, "sensors/t", b"21.5")
        refused = await request(aiocoap.PUT, "actuators/t", b"1")
        posted = await request(aiocoap.POST, "sensors/h", b"40")
        state = await request(aiocoap.GET, "sensors/t")
        deleted = await request(aiocoap.DELETE, "sensors/t")
    readings = [await asyncio.wait_for(s.recv(), 5) for _ in range(2)]
    await s.disconnect()

    assert (taken.code, taken.payload, taken.mtype) == (Code.CHANGED, b"", answer_type)
    assert (refused.code, refused.payload) == (Code.NOT_FOUND, b"")
    assert posted.code == Code.CHANGED
    assert (state.code, state.payload) == (Code.CONTENT, b"21.5")
    assert (deleted.code, deleted.payload) == (Code.METHOD_NOT_ALLOWED, b"")
    assert [(m.topic, m.payload) for m in readings] == [("sensors/t", b"21.5"), ("sensors/h", b"40")]


@pytest.mark.filterwarnings("ignore:register_callback:DeprecationWarning")
async def test_aiocoap_observes_our_server():
    s = await connected_server()
    async with aiocoap_client() as ctx:
        missing = await ctx.request(aiocoap.Message(code=aiocoap.GET, uri=uri(s.local_port, "cmd"), observe=0)).response
        assert missing.code == Code.NOT_FOUND and s.observers("cmd") == 0  # nothing to observe yet

        await s.send("/cmd/", b"c0")
        observation = ctx.request(aiocoap.Message(code=aiocoap.GET, uri=uri(s.local_port, "cmd"), observe=0))
        first = await asyncio.wait_for(observation.response, 5)
        notifications = []
        # every notification, not just the latest one aiocoap's iterator keeps
        observation.observation.register_callback(notifications.append)
        assert s.observers("cmd/") == 1
        for value in ("c1", "c2", "c3"):
            await s.send("cmd", value)
        assert await eventually(lambda: len(notifications) == 3)
        observation.observation.cancel()
    await s.disconnect()

    assert (first.code, first.payload) == (Code.CONTENT, b"c0")
    assert [n.payload for n in notifications] == [b"c1", b"c2", b"c3"]
    sequence = [first.opt.observe] + [n.opt.observe for n in notifications]
    assert sequence == sorted(set(sequence))
    assert all(n.mtype == NON and n.code == Code.CONTENT for n in notifications)


async def test_the_server_lifecycle_keeps_filters_and_resources_and_forgets_observers():
    s = native.CoapServer(f"{LOCAL}:0")
    assert (s.is_connected, s.local_port) == (False, None)
    with pytest.raises(native.TrovikError, match="^resource is closed$"):
        await s.recv()
    with pytest.raises(native.TrovikError, match="^resource is closed$"):
        await s.send("early", b"x")  # stores nothing
    await s.subscribe("in/#")  # taken before any connect
    await s.connect()
    assert s.is_connected and s.local_port > 0
    async with aiocoap_client() as ctx:

        async def get(path, **options):
            message = aiocoap.Message(code=aiocoap.GET, uri=uri(s.local_port, path), **options)
            return await asyncio.wait_for(ctx.request(message).response, 5)

        assert (await get("early")).code == Code.NOT_FOUND
        await s.send("state", b"kept")
        await get("state", observe=0)
        assert s.observers("state") == 1

        await s.disconnect()
        assert (s.is_connected, s.local_port) == (False, None)
        with pytest.raises(native.TrovikError, match="^resource is closed$"):
            await s.recv()
        await s.connect()

        assert s.observers("state") == 0
        assert (await get("state")).payload == b"kept"
        put = aiocoap.Message(code=aiocoap.PUT, uri=uri(s.local_port, "in/a/b"), payload=b"r")
        assert (await ctx.request(put).response).code == Code.CHANGED
    assert (await s.recv()).topic == "in/a/b"
    await s.disconnect()


async def test_connect_reports_a_bind_failure_and_stays_disconnected():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
        taken.bind((LOCAL, 0))
        bind = f"{LOCAL}:{taken.getsockname()[1]}"
        s = native.CoapServer(bind)
        with pytest.raises(native.TrovikError) as caught:
            await s.connect()
    assert str(caught.value).startswith(f"transport error: could not bind {bind}: ")
    assert s.is_connected is False


# ---- the one-call-at-a-time rules -----------------------------------------------------


async def test_a_server_sends_while_a_recv_waits_and_disconnect_waits_for_the_recv():
    s = await connected_server()
    waiting = asyncio.ensure_future(s.recv())
    await asyncio.sleep(0.05)
    await asyncio.wait_for(s.send("cmd", b"go"), 5)  # not held back by the waiting recv
    disconnecting = asyncio.ensure_future(s.disconnect())
    await asyncio.sleep(0.1)
    assert not disconnecting.done() and s.is_connected
    waiting.cancel()
    await asyncio.wait_for(disconnecting, 5)
    assert s.is_connected is False


async def test_client_calls_run_one_at_a_time_in_the_order_asked():
    async with scripted_peer() as peer:
        c = client(peer.port, ack_timeout_ms=10_000)
        await c.connect()
        listening = asyncio.ensure_future(c.recv())
        await asyncio.sleep(0.05)
        dropped = asyncio.ensure_future(c.send("dropped", b"0"))
        sends = asyncio.ensure_future(asyncio.gather(c.send("a", b"1"), c.send("b", b"2")))
        with pytest.raises(asyncio.TimeoutError):
            await peer.next(timeout=0.2)  # the waiting recv holds the client
        dropped.cancel()  # a call cancelled while it waits for the client never runs
        await asyncio.sleep(0.05)
        listening.cancel()  # and cancelling the recv lets the sends through

        _, first, _, addr = await peer.next()
        with pytest.raises(asyncio.TimeoutError):
            await peer.next(timeout=0.2)  # the second send waits for the first's answer
        peer.send(wire(ACK, first.mid, Code.CHANGED, first.token), addr)
        _, second, _, _ = await peer.next()
        peer.send(wire(ACK, second.mid, Code.CHANGED, second.token), addr)
        await asyncio.wait_for(sends, 5)
        await c.disconnect()
    assert [(m.opt.uri_path, m.payload) for m in (first, second)] == [(("a",), b"1"), (("b",), b"2")]
    assert second.mid == (first.mid + 1) % 65536


# ---- exchanges aiocoap would not produce: scripted peers ------------------------------


@pytest.mark.parametrize(
    "max_retransmits, transmissions, text",
    [(0, 1, "1 transmission"), (1, 2, "2 transmissions"), (None, 5, "5 transmissions")],
)
async def test_an_unanswered_confirmable_put_is_retransmitted_then_fails(max_retransmits, transmissions, text):
    async with scripted_peer() as peer:
        c = client(peer.port, ack_timeout_ms=0, max_retransmits=max_retransmits)
        await c.connect()
        with pytest.raises(native.TrovikError) as caught:
            await c.send("/a/b", b"p")
        await asyncio.sleep(0.05)
        raws = [peer.arrivals.get_nowait()[1] for _ in range(peer.arrivals.qsize())]
        await c.disconnect()
    assert str(caught.value) == "transport error: no acknowledgment after " + text
    assert len(raws) == transmissions and len(set(raws)) == 1  # the same bytes, message id and token
    request = aiocoap.Message.decode(raws[0])
    assert (request.mtype, request.code, request.opt.uri_path, request.payload) == (CON, Code.PUT, ("a", "b"), b"p")


async def test_retransmission_waits_start_between_one_and_one_and_a_half_timeouts_and_double():
    async with scripted_peer() as peer:
        c = client(peer.port, ack_timeout_ms=100, max_retransmits=3)
        await c.connect()
        sending = asyncio.ensure_future(c.send("a", b""))
        times = [(await peer.next())[0] for _ in range(4)]
        with pytest.raises(native.TrovikError, match="^transport error: no acknowledgment after 4 transmissions$"):
            await asyncio.wait_for(sending, 5)
        await c.disconnect()
    gaps = [b - a for a, b in zip(times, times[1:])]
    # The peer stamps a datagram when the loop gets to it, so a late stamp can
    # lengthen one gap and shorten the next by `slack`. A timer that fires late on
    # a busy machine only lengthens a gap, by up to `late`, so each gap is held to
    # the doubled timeout from below and to the doubled first gap from above. The sanitizers slow everything down.
    asan = "asan" in os.environ.get("LD_PRELOAD", "")
    slack, late = (0.1, 0.5) if asan else (0.025, 0.25)
    assert 0.100 - slack <= gaps[0] < 0.150 + late
    for n, gap in enumerate(gaps[1:], start=1):
        assert 2**n * 0.100 - slack <= gap <= 2**n * (gaps[0] + slack) + late


async def test_a_reset_answer_fails_the_put():
    async with scripted_peer() as peer:
        c = client(peer.port)
        await c.connect()
        sending = asyncio.ensure_future(c.send("a", b"x"))
        _, request, _, addr = await peer.next()
        peer.send(wire(RST, request.mid, Code.EMPTY), addr)
        with pytest.raises(native.TrovikError) as caught:
            await asyncio.wait_for(sending, 5)
        await c.disconnect()
    assert str(caught.value) == (
        "transport error: the server reset the request: it arrived, but the server could not process it"
    )


async def test_notifications_fresh_stale_unknown_and_ending():
    async with scripted_peer() as peer:
        c = client(peer.port)
        await c.connect()
        subscribing = asyncio.ensure_future(c.subscribe("/room/temp/"))
        _, register, _, addr = await peer.next()
        token = register.token

        def notification(mtype, mid, observe, payload, code=Code.CONTENT, token=token):
            return wire(mtype, mid, code, token, payload, observe=observe)

        async def answer_to(message):
            peer.send(message, addr)
            _, reply, raw, _ = await peer.next()
            return reply.mtype, reply.mid, raw

        peer.send(wire(ACK, register.mid, Code.CONTENT, token, b"a", observe=2**23 + 16), addr)
        await asyncio.wait_for(subscribing, 5)
        replies = [
            await answer_to(notification(CON, 100, 12, b"wrapped")),  # 2^23 + 16 -> 12: the sequence wrapped
            await answer_to(notification(CON, 101, 10, b"stale")),  # older: acknowledged, not delivered
        ]
        peer.send(notification(NON, 102, 11, b"older, unacknowledged"), addr)
        peer.send(notification(NON, 103, 30, b"unknown", token=b"\x01\x02"), addr)  # ignored
        replies += [
            await answer_to(notification(CON, 104, 13, b"fresh")),
            await answer_to(notification(CON, 105, 40, b"unknown", token=b"\x01\x02")),  # reset
            await answer_to(notification(CON, 106, None, b"", code=Code.NOT_FOUND)),  # ends the observation
            await answer_to(notification(CON, 107, 50, b"after the end")),  # reset
        ]
        got = [(await asyncio.wait_for(c.recv(), 5)) for _ in range(3)]
        await c.disconnect()

    assert (register.mtype, register.code, register.opt.observe, register.opt.uri_path) == (
        CON,
        Code.GET,
        0,
        ("room", "temp"),
    )
    empty_ack, empty_rst = bytes([0x60, 0]), bytes([0x70, 0])
    assert replies == [
        (ACK, 100, empty_ack + (100).to_bytes(2, "big")),
        (ACK, 101, empty_ack + (101).to_bytes(2, "big")),
        (ACK, 104, empty_ack + (104).to_bytes(2, "big")),
        (RST, 105, empty_rst + (105).to_bytes(2, "big")),
        (ACK, 106, empty_ack + (106).to_bytes(2, "big")),
        (RST, 107, empty_rst + (107).to_bytes(2, "big")),
    ]
    assert [(m.topic, m.payload) for m in got] == [("room/temp", b"a"), ("room/temp", b"wrapped"), ("room/temp", b"fresh")]


async def test_the_server_answers_a_duplicate_confirmable_put_from_its_cache():
    s = await connected_server("sensors/+")
    async with scripted_peer() as peer:
        server = (LOCAL, s.local_port)

        def put(mid, payload):
            return wire(CON, mid, Code.PUT, b"tk", payload, uri_path=("sensors", "t"))

        answers = []
        for message in (put(0x1234, b"1"), put(0x1234, b"1"), put(0x1235, b"2")):
            peer.send(message, server)
            answers.append((await peer.next())[2])
    readings = [await asyncio.wait_for(s.recv(), 5) for _ in range(2)]
    await s.disconnect()
    # ACK 2.04, the request's message id and token, no payload
    assert answers == [bytes([0x62, 0x44, 0x12, 0x34]) + b"tk"] * 2 + [bytes([0x62, 0x44, 0x12, 0x35]) + b"tk"]
    assert [m.payload for m in readings] == [b"1", b"2"]  # the duplicate was not delivered again


async def test_our_client_and_our_server_carry_readings_and_commands():
    s = await connected_server("nodes/+/reading")
    c = client(s.local_port, ack_timeout_ms=500)
    await s.send("nodes/7/command", b"idle")
    await c.connect()
    await c.subscribe("nodes/7/command")
    await c.send("nodes/7/reading", b"21.5")
    await s.send("/nodes/7/command/", "sample")
    got = [await asyncio.wait_for(c.recv(), 5) for _ in range(2)]
    reading = await asyncio.wait_for(s.recv(), 5)
    assert s.observers("nodes/7/command") == 1
    await c.disconnect()
    await s.disconnect()
    assert [(m.topic, m.payload) for m in got] == [("nodes/7/command", b"idle"), ("nodes/7/command", b"sample")]
    assert (reading.topic, reading.payload) == ("nodes/7/reading", b"21.5")


# ---- the transport facade over a CoAP client ---------------------------------------


async def test_pytransport_coap_puts_to_our_server_and_hands_on():
    server = await connected_server("sensors/#")
    link = native.PyTransport.coap(host=LOCAL, port=server.local_port, ack_timeout_ms=200)
    await link.connect()
    await link.send("sensors/t", "21.5")
    message = await asyncio.wait_for(server.recv(), 5)
    assert (message.topic, message.number) == ("sensors/t", 21.5)
    wrapped = native.PyTransport.faulty(link, 1)
    assert not link.is_available and wrapped.is_available
    with pytest.raises(native.TrovikError):
        await wrapped.send("sensors/t", b"x")
    await wrapped.send("sensors/t", b"y")
    assert (await asyncio.wait_for(server.recv(), 5)).payload == b"y"
    await server.disconnect()


async def test_pytransport_coap_settings_are_the_clients():
    with pytest.raises(native.TrovikError, match="^unknown reliability Sometimes$"):
        native.PyTransport.coap(host=LOCAL, port=1, reliability="Sometimes")
    with pytest.raises(TypeError):
        native.PyTransport.coap(LOCAL, 1)
    assert native.PyTransport.coap.__text_signature__ == (
        "(*, host, port, bind=None, reliability=None, ack_timeout_ms=None, max_retransmits=None)"
    )
