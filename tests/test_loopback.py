"""The in-process broker and the links driven directly."""
import asyncio
import subprocess
import sys
import textwrap

import pytest

import trovik._native as native

OUT_OF_REACH = "transport error: the broker is out of reach"


def run(coro):
    return asyncio.run(coro)


async def connected(broker, *filters):
    link = broker.link()
    await link.connect()
    for f in filters:
        await link.subscribe(f)
    return link


async def arrivals(receiver, marker_sender):
    """What reached `receiver` before a marker sent now (it subscribes "marker")."""
    await marker_sender.send("marker", b"end")
    got = []
    while True:
        m = await receiver.recv()
        if m.topic == "marker" and m.payload == b"end":
            return got
        got.append((m.topic, m.payload))


# --- topic matching through the broker ---------------------------------------

MATCHES = [
    ("a/b", "a/b", True),
    ("a/b", "a/B", False),
    ("a/+", "a/b", True),
    ("a/+", "a", False),
    ("a/+", "a/", True),
    ("a/+/c", "a//c", True),
    ("+/a", "/a", True),
    ("a/#", "a", True),
    ("a/#", "a/b/c", True),
    ("#", "", True),
    ("+", "", True),
    ("", "", True),
    ("", "a", False),
    ("a", "a/", False),
    ("a/b/", "a/b", False),
    ("#/x", "anything/at/all", True),
    ("a/#/c", "a/b/d", True),
    ("#", "$SYS/load", False),
    ("+/load", "$SYS/load", False),
    ("$SYS/#", "$SYS/load", True),
    ("+", "$", False),
    ("a+", "ab", False),
]


@pytest.mark.parametrize("topic_filter, topic, delivered", MATCHES)
def test_a_filter_decides_what_arrives(topic_filter, topic, delivered):
    async def main():
        broker = native.LoopbackBroker()
        receiver = await connected(broker, topic_filter, "marker")
        sender = await connected(broker)
        await sender.send(topic, b"probe")
        return await arrivals(receiver, sender)

    assert run(main()) == ([(topic, b"probe")] if delivered else [])


# --- fan-out -------------------------------------------------------------------


def test_a_message_reaches_the_subscribers_and_not_the_others():
    async def main():
        broker = native.LoopbackBroker()
        a = await connected(broker, "marker")
        b = await connected(broker, "sensors/+")
        await a.send("sensors/t1", "21.5")
        m = await b.recv()
        return (m.topic, m.payload), await arrivals(a, a)

    assert run(main()) == (("sensors/t1", b"21.5"), [])


def test_a_sender_receives_its_own_message_once_however_many_filters_match():
    async def main():
        broker = native.LoopbackBroker()
        link = await connected(broker, "a/#", "a/+", "marker")
        await link.send("a/b", b"x")
        return await arrivals(link, link)

    assert run(main()) == [("a/b", b"x")]


def test_an_empty_topic_and_an_empty_payload_travel():
    async def main():
        broker = native.LoopbackBroker()
        hash_link = await connected(broker, "#")
        plus_link = await connected(broker, "+")
        await hash_link.send("", b"")
        got = [await hash_link.recv(), await plus_link.recv()]
        return [(m.topic, m.payload) for m in got]

    assert run(main()) == [("", b""), ("", b"")]


def test_messages_a_link_does_not_take_are_kept_in_order():
    async def main():
        broker = native.LoopbackBroker()
        link = await connected(broker, "n/#")
        for i in range(500):
            await link.send(f"n/{i}", str(i))
        return [(await link.recv()).text for _ in range(500)]

    assert run(main()) == [str(i) for i in range(500)]


# --- connection states -------------------------------------------------------


def test_a_link_that_is_not_connected_refuses_and_disconnects_quietly():
    async def main():
        link = native.LoopbackBroker().link()
        refused = []
        for call in (lambda: link.subscribe("a"), lambda: link.send("a", b"x"), link.recv):
            with pytest.raises(native.TrovikError) as e:
                await call()
            refused.append(str(e.value))
        await link.disconnect()
        return refused, await link.is_connected()

    assert run(main()) == (["resource is closed"] * 3, False)


def test_filters_survive_a_reconnect_and_nothing_sent_meanwhile_arrives():
    async def main():
        broker = native.LoopbackBroker()
        sender = await connected(broker)
        link = await connected(broker, "t/#", "marker")
        await link.disconnect()
        assert not await link.is_connected()
        await sender.send("t/1", b"while away")
        await link.connect()
        await sender.send("t/2", b"back")
        return await arrivals(link, sender)

    assert run(main()) == [("t/2", b"back")]


def test_connecting_again_discards_what_waits_and_delivers_once_afterwards():
    async def main():
        broker = native.LoopbackBroker()
        link = await connected(broker, "t", "marker")
        await link.send("t", b"stale")
        await link.connect()
        await link.send("t", b"fresh")
        return await arrivals(link, link)

    assert run(main()) == [("t", b"fresh")]


def test_an_outage_stops_connect_send_and_subscribe_but_not_delivery():
    async def main():
        broker = native.LoopbackBroker()
        link = await connected(broker, "t", "marker")
        other = broker.link()
        await link.send("t", b"queued")
        broker.reachable = False
        assert broker.reachable is False
        refused = []
        for call in (other.connect, link.connect, lambda: link.send("t", b"x"), lambda: link.subscribe("u")):
            with pytest.raises(native.TrovikError) as e:
                await call()
            refused.append(str(e.value))
        queued = await link.recv()
        still = await link.is_connected()
        broker.reachable = True
        await link.send("t", b"after")  # the same connection carries traffic again
        after = await arrivals(link, link)
        await link.disconnect()
        return refused, queued.payload, still, after

    refused, queued, still, after = run(main())
    assert refused == [OUT_OF_REACH] * 4
    assert queued == b"queued"
    assert still is True
    assert after == [("t", b"after")]


def test_disconnect_works_out_of_reach():
    async def main():
        broker = native.LoopbackBroker()
        link = await connected(broker)
        broker.reachable = False
        await link.disconnect()
        return await link.is_connected()

    assert run(main()) is False


@pytest.mark.parametrize("value", [1, 0, None, "yes"])
def test_reachable_takes_only_a_bool(value):
    broker = native.LoopbackBroker()
    with pytest.raises(TypeError, match=f"'{type(value).__name__}' object is not an instance of 'bool'"):
        broker.reachable = value
    assert broker.reachable is True


def test_reachable_cannot_be_deleted_and_other_attributes_stay_read_only():
    broker = native.LoopbackBroker()
    with pytest.raises(TypeError):
        del broker.reachable
    with pytest.raises(AttributeError):
        broker.elsewhere = 1


# --- one call at a time --------------------------------------------------------


def test_a_waiting_recv_holds_back_later_calls_on_the_same_link_only():
    async def main():
        broker = native.LoopbackBroker()
        link = await connected(broker, "t")
        other = await connected(broker)
        waiting = link.recv()
        held = link.send("elsewhere", b"x")
        await asyncio.sleep(0.01)
        assert not held.done()
        await other.send("t", b"from the other link")  # not held back
        message = await waiting
        await held
        return message.payload

    assert run(main()) == b"from the other link"


def test_cancelling_a_waiting_recv_frees_the_link_and_takes_nothing():
    async def main():
        broker = native.LoopbackBroker()
        link = await connected(broker, "t")
        waiting = link.recv()
        held = link.send("t", b"one")
        await asyncio.sleep(0.01)
        assert not held.done()
        waiting.cancel()
        await held
        return (await link.recv()).payload

    assert run(main()) == b"one"


def test_calls_outside_a_running_loop_raise_and_start_nothing():
    code = textwrap.dedent(
        """
        import os, trovik._native as n
        class H:
            def connect(self): pass
            def send(self, topic, payload): pass
            def subscribe(self, topic): pass
        broker = n.LoopbackBroker()
        for call in (broker.link().connect, broker.rung().connect, n.PyTransport.from_handlers(H()).connect):
            try:
                call()
            except RuntimeError:
                print("refused")
        print(len(os.listdir("/proc/self/task")))
        """
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["refused"] * 3 + ["1"]


# --- the Python surface ----------------------------------------------------------


def test_links_come_only_from_a_broker():
    with pytest.raises(TypeError):
        native.LoopbackTransport()
    assert isinstance(native.LoopbackBroker().link(), native.LoopbackTransport)


def test_documentation():
    assert native.LoopbackBroker.__text_signature__ == "()"
    assert native.LoopbackBroker.__doc__.startswith("An in-process broker.\n\nEvery transport built from one broker")
    assert native.LoopbackTransport.__doc__ == "One in-process link to a broker."
    assert native.LoopbackTransport.send.__text_signature__ == "($self, topic, payload)"
    assert native.LoopbackTransport.recv.__doc__ == (
        "Waits for the next message on a subscribed topic, or `None` once closed."
    )
    assert native.LoopbackBroker.reachable.__doc__.startswith("Whether the broker is in reach.")
    assert native.LoopbackBroker.rung.__doc__ == (
        "Creates a link to this broker as a transport, for composing into a ladder\nor a wrapper."
    )
