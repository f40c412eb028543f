"""The transport ladder: falling through rungs, buffering behind older
messages, flushing in order, listening on several rungs, and its records."""
import asyncio
import os

import pytest

import trovik._native as native

CLOSED = "resource is closed"
STORE_SPENT = "this store was already given to a ladder"
TRANSPORT_SPENT = "this transport was already added to a ladder or a wrapper"
BUSY = "this transport is busy with a call"


def run(coro):
    return asyncio.run(coro)


class Link:
    """A host link recording every call; sends numbered in `fail_at` (1-based) raise."""

    def __init__(self, fail_at=()):
        self.calls = []
        self.sends = 0
        self.fail_at = set(fail_at)

    def connect(self):
        self.calls.append("connect")

    def subscribe(self, topic):
        self.calls.append(("subscribe", topic))

    def send(self, topic, payload):
        self.sends += 1
        if self.sends in self.fail_at:
            raise OSError("no signal")
        self.calls.append(("send", topic, bytes(payload)))


class Listening(Link):
    """A host link that also delivers: `recv` hands out `replies`, then ends the link."""

    def __init__(self, replies=()):
        super().__init__()
        self.replies = list(replies)

    def recv(self):
        if self.replies:
            return self.replies.pop(0)
        return None


async def listener_of(broker, topic="#"):
    link = broker.link()
    await link.connect()
    await link.subscribe(topic)
    return link


async def ladder_with(*transports, store=None):
    ladder = native.Ladder(store or native.Store.memory())
    for t in transports:
        await ladder.rung(t)
    return ladder


def test_a_ladder_without_rungs_buffers_everything():
    async def main():
        ladder = native.Ladder(native.Store.memory())
        assert await ladder.connect() is None
        assert await ladder.subscribe("a/#") is None
        assert await ladder.send("a/b", b"x") == "Buffered"
        assert await ladder.buffered() == 1
        assert await ladder.flush() == 0
        assert await ladder.buffered() == 1
        with pytest.raises(native.TrovikError, match=f"^{CLOSED}$"):
            await ladder.recv()

    run(main())


def test_a_send_falls_through_a_failing_rung_to_the_next():
    async def main():
        broker = native.LoopbackBroker()
        listener = await listener_of(broker)
        ladder = await ladder_with(native.PyTransport.faulty(native.LoopbackBroker().rung(), 100), broker.rung())
        await ladder.connect()
        assert await ladder.send("a/b", "hello") == "Sent"
        got = await listener.recv()
        assert (got.topic, got.payload) == ("a/b", b"hello")
        assert await ladder.buffered() == 0

    run(main())


def test_new_messages_queue_behind_buffered_ones_and_flush_in_order():
    async def main():
        broker = native.LoopbackBroker()
        listener = await listener_of(broker)
        ladder = await ladder_with(broker.rung())
        await ladder.connect()
        broker.reachable = False
        assert await ladder.send("t", b"1") == "Buffered"
        broker.reachable = True  # the rung stayed up: no new connect needed
        assert await ladder.send("t", b"2") == "Buffered"  # behind "1", though the rung would take it
        assert await ladder.flush() == 2
        assert await ladder.send("t", b"3") == "Sent"
        assert [(await listener.recv()).payload for _ in range(3)] == [b"1", b"2", b"3"]

    run(main())


def test_flush_stops_at_the_first_message_no_rung_takes():
    async def main():
        link = Link(fail_at=[1, 3])
        ladder = await ladder_with(native.PyTransport.from_handlers(link))
        await ladder.connect()
        for i in range(3):
            assert await ladder.send("t", b"%d" % i) == "Buffered"
        assert link.sends == 1  # only the first send, into an empty buffer, tried the rung
        assert await ladder.flush() == 1
        assert await ladder.buffered() == 2
        assert await ladder.flush() == 2
        assert [c[2] for c in link.calls if c[0] == "send"] == [b"0", b"1", b"2"]

    run(main())


def test_a_full_store_loses_the_message_and_says_so():
    async def main():
        ladder = native.Ladder(native.Store.memory(1))
        assert await ladder.send("t", b"kept") == "Buffered"
        with pytest.raises(native.TrovikError, match="^io error: store is at capacity$"):
            await ladder.send("t", b"lost")
        assert await ladder.buffered() == 1

    run(main())


def test_subscribing_before_connect_places_the_filter_once_per_rung():
    async def main():
        broker = native.LoopbackBroker()
        host = Listening()
        ladder = await ladder_with(broker.rung(), native.PyTransport.from_handlers(host))
        await ladder.subscribe("a/+")
        await ladder.subscribe("a/+")
        await ladder.connect()
        await ladder.subscribe("a/+")
        assert host.calls.count(("subscribe", "a/+")) == 1
        sender = broker.link()
        await sender.connect()
        await sender.send("a/b", b"hi")
        got = await ladder.recv()
        assert (got.topic, got.payload) == ("a/b", b"hi")

    run(main())


@pytest.mark.parametrize("how", ["uplink", "rung without recv"])
def test_send_only_rungs_are_never_subscribed_or_listened_on(how):
    async def main():
        if how == "uplink":
            host = Listening(replies=[("t", b"never read")])
            ladder = native.Ladder(native.Store.memory())
            await ladder.uplink(native.PyTransport.from_handlers(host))
        else:
            host = Link()
            ladder = await ladder_with(native.PyTransport.from_handlers(host))
        await ladder.subscribe("t")
        await ladder.connect()
        assert await ladder.send("t", b"up") == "Sent"
        with pytest.raises(native.TrovikError, match=f"^{CLOSED}$"):
            await ladder.recv()
        assert host.calls == ["connect", ("send", "t", b"up")]

    run(main())


def test_recv_takes_whichever_broker_delivers_and_turns_between_them():
    async def main():
        brokers = [native.LoopbackBroker(), native.LoopbackBroker()]
        ladder = await ladder_with(*(b.rung() for b in brokers))
        await ladder.subscribe("t")
        await ladder.connect()
        senders = []
        for b in brokers:
            s = b.link()
            await s.connect()
            senders.append(s)
        # One at a time: each broker's message arrives whichever it is.
        await senders[1].send("t", b"B0")
        assert (await ladder.recv()).payload == b"B0"
        await senders[0].send("t", b"A0")
        assert (await ladder.recv()).payload == b"A0"
        # Both ready at once: the starting rung turns each pass, so neither starves.
        for i in range(1, 4):
            await senders[0].send("t", b"A%d" % i)
            await senders[1].send("t", b"B%d" % i)
        got = [(await ladder.recv()).payload for _ in range(6)]
        assert sorted(got) == sorted([b"A1", b"A2", b"A3", b"B1", b"B2", b"B3"])
        assert [p for p in got if p.startswith(b"A")] == [b"A1", b"A2", b"A3"]
        assert [p for p in got if p.startswith(b"B")] == [b"B1", b"B2", b"B3"]
        assert got[0][:1] != got[1][:1] and got[1][:1] != got[2][:1]

    run(main())


def test_a_link_that_ends_goes_down_and_recv_goes_on_with_the_rest():
    async def main():
        host = Listening(replies=[("t", b"last words")])
        broker = native.LoopbackBroker()
        ladder = await ladder_with(native.PyTransport.from_handlers(host), broker.rung())
        await ladder.subscribe("t")
        await ladder.connect()
        assert (await ladder.recv()).payload == b"last words"
        sender = broker.link()
        await sender.connect()
        await sender.send("t", b"from the broker")
        assert (await ladder.recv()).payload == b"from the broker"

        only = Listening(replies=[])
        alone = await ladder_with(native.PyTransport.from_handlers(only))
        await alone.connect()
        with pytest.raises(native.TrovikError, match=f"^{CLOSED}$"):
            await alone.recv()

    run(main())


def test_a_rung_that_would_not_connect_stays_down_until_connect():
    async def main():
        broker = native.LoopbackBroker()
        listener = await listener_of(broker)
        broker.reachable = False
        ladder = await ladder_with(broker.rung())
        await ladder.connect()
        broker.reachable = True
        assert await ladder.send("t", b"1") == "Buffered"
        await ladder.connect()
        assert await ladder.flush() == 1
        assert (await listener.recv()).payload == b"1"

    run(main())


def test_a_send_waits_behind_a_recv_in_progress():
    async def main():
        broker = native.LoopbackBroker()
        listener = await listener_of(broker, "out")
        ladder = await ladder_with(broker.rung())
        await ladder.subscribe("in")
        await ladder.connect()
        receiving = asyncio.ensure_future(ladder.recv())
        await asyncio.sleep(0.05)
        sending = asyncio.ensure_future(ladder.send("out", b"x"))
        await asyncio.sleep(0.05)
        assert not sending.done()
        receiving.cancel()
        assert await sending == "Sent"
        assert (await listener.recv()).payload == b"x"

    run(main())


def test_handing_on_refuses_spent_and_busy_things():
    async def main():
        store = native.Store.memory()
        ladder = native.Ladder(store)
        assert not store.is_available
        with pytest.raises(native.TrovikError, match=f"^{STORE_SPENT}$"):
            native.Ladder(store)
        with pytest.raises(TypeError):
            native.Ladder(object())

        t = native.LoopbackBroker().rung()
        await ladder.rung(t)
        assert not t.is_available
        other = native.Ladder(native.Store.memory())
        with pytest.raises(native.TrovikError, match=f"^{TRANSPORT_SPENT}$"):
            other.rung(t)  # at the call, before any awaitable exists
        with pytest.raises(TypeError):
            other.uplink(object())

        busy = native.LoopbackBroker().rung()
        await busy.connect()
        await busy.subscribe("t")
        waiting = asyncio.ensure_future(busy.recv())
        await asyncio.sleep(0.01)
        with pytest.raises(native.TrovikError, match=f"^{BUSY}$"):
            other.rung(busy)
        waiting.cancel()
        await asyncio.sleep(0.01)
        await other.rung(busy)  # unchanged by the refusal

    run(main())


def test_a_rung_call_without_a_loop_leaves_the_transport_alone():
    ladder = native.Ladder(native.Store.memory())
    t = native.LoopbackBroker().rung()
    with pytest.raises(RuntimeError):
        ladder.rung(t)
    assert t.is_available


# --- ladder records --------------------------------------------------------------------


def test_a_buffered_message_is_written_as_a_ladder_record(tmp_path):
    async def main():
        ladder = native.Ladder(native.Store.file(str(tmp_path)))
        assert await ladder.send("a/b", b"xyz") == "Buffered"
        assert await ladder.send("", b"") == "Buffered"
        del ladder
        records = sorted(os.listdir(tmp_path))
        assert [(tmp_path / r).read_bytes() for r in records] == [
            bytes.fromhex("00000003612F6278797A"),
            bytes(4),
        ]
        # Reopened, the records replay as the messages they were.
        broker = native.LoopbackBroker()
        listener = await listener_of(broker)
        again = await ladder_with(broker.rung(), store=native.Store.file(str(tmp_path)))
        await again.connect()
        assert await again.flush() == 2
        got = [await listener.recv() for _ in range(2)]
        assert [(m.topic, m.payload) for m in got] == [("a/b", b"xyz"), ("", b"")]

    run(main())


@pytest.mark.parametrize(
    "record, message",
    [
        (bytes(3), "ladder record is missing its length header"),
        (bytes.fromhex("000000056162"), "ladder record topic is truncated"),
        (bytes.fromhex("00000002ff41"), "invalid utf-8 sequence of 1 bytes from index 0"),
        (bytes.fromhex("0000000361e282"), "incomplete utf-8 byte sequence from index 1"),
    ],
)
def test_flush_refuses_what_is_not_a_ladder_record_and_keeps_it(record, message):
    async def main():
        store = native.Store.memory()
        await store.append(record)
        broker = native.LoopbackBroker()
        ladder = await ladder_with(broker.rung(), store=store)
        await ladder.connect()
        for _ in range(2):  # the record stays at the head, refused the same way
            with pytest.raises(native.TrovikError, match=f"^codec error: {message}$"):
                await ladder.flush()
        assert await ladder.buffered() == 1

    run(main())


def test_records_put_in_before_the_ladder_are_replayed():
    async def main():
        store = native.Store.memory()
        await store.append(bytes.fromhex("00000001") + b"t" + b"early")
        broker = native.LoopbackBroker()
        listener = await listener_of(broker)
        ladder = await ladder_with(broker.rung(), store=store)
        await ladder.connect()
        assert await ladder.send("t", b"late") == "Buffered"
        assert await ladder.flush() == 2
        assert [(await listener.recv()).payload for _ in range(2)] == [b"early", b"late"]

    run(main())


def test_docstrings_carry_their_signatures():
    assert native.Ladder.__text_signature__ == "(store)"
    assert native.Ladder.send.__text_signature__ == "($self, topic, payload)"
    assert native.Ladder.recv.__text_signature__ == "($self)"
    assert native.Ladder.__doc__.startswith("An ordered set of transports backed by an offline buffer.")


def test_receives_cancelled_at_random_take_nothing():
    """A recv whose caller gives up, even just as its message arrives, leaves
    that message for the next recv: every message arrives once, in order."""

    async def main():
        import random

        broker = native.LoopbackBroker()
        sender = broker.rung()
        await sender.connect()
        ladder = await ladder_with(broker.rung())
        await ladder.connect()
        await ladder.subscribe("m")
        got = []
        rng = random.Random(11)

        async def reader():
            while len(got) < 200:
                try:
                    m = await asyncio.wait_for(ladder.recv(), rng.choice([0.0001, 0.0005, 0.002]))
                except asyncio.TimeoutError:
                    continue
                got.append(int(m.text))

        reading = asyncio.ensure_future(reader())
        for n in range(200):
            await sender.send("m", str(n))
            if n % 7 == 0:
                await asyncio.sleep(0.0005)
        await asyncio.wait_for(reading, 60)
        return got

    assert run(main()) == list(range(200))
