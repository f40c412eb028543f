"""The transport facade: its slot and lock, handing transports on, and the
faulty and degraded wrappers."""
import asyncio

import pytest

import trovik._native as native

SPENT = "this transport was already added to a ladder or a wrapper"
BUSY = "this transport is busy with a call"
CODES = {
    "transport error: simulated link failure": "f",
    "transport error: packet lost on a lossy link": "l",
    "transport error: link unreachable": "u",
    "transport error: the broker is out of reach": "o",
}


def run(coro):
    return asyncio.run(coro)


async def listener_of(broker):
    link = broker.link()
    await link.connect()
    await link.subscribe("t")
    await link.subscribe("marker")
    return link


async def arrivals(listener):
    """Payloads that reached `listener` before a marker it sends itself now."""
    await listener.send("marker", b"end")
    got = []
    while (m := await listener.recv()).topic != "marker":
        got.append(m.text)
    return got


async def send_each(transport, numbers):
    """Sends each number as text to "t"; one letter per send: p passed, else CODES."""
    pattern = ""
    for i in numbers:
        try:
            await transport.send("t", str(i))
            pattern += "p"
        except native.TrovikError as e:
            pattern += CODES[str(e)]
    return pattern


def passed(pattern, first=1):
    return [str(i) for i, c in enumerate(pattern, first) if c == "p"]


# --- a loopback rung ---------------------------------------------------------------


def test_a_rung_drives_like_a_loopback_link():
    async def main():
        broker = native.LoopbackBroker()
        t = broker.rung()
        assert isinstance(t, native.PyTransport) and t.is_available
        with pytest.raises(native.TrovikError, match="^resource is closed$"):
            await t.send("t", b"x")
        await t.connect()
        await t.subscribe("sensors/+")
        await t.send("sensors/t1", "21.5")
        m = await t.recv()
        broker.reachable = False
        with pytest.raises(native.TrovikError, match="^transport error: the broker is out of reach$"):
            await t.subscribe("x")
        return m.topic, m.number

    assert run(main()) == ("sensors/t1", 21.5)


def test_receives_cancelled_at_random_take_nothing():
    """A recv whose caller gives up, even just as its message arrives, leaves
    that message for the next recv: every message arrives once, in order."""

    async def main():
        broker = native.LoopbackBroker()
        sender, receiver = broker.rung(), broker.rung()
        await sender.connect()
        await receiver.connect()
        await receiver.subscribe("m")
        got = []

        async def reader():
            import random

            rng = random.Random(5)
            while len(got) < 300:
                try:
                    m = await asyncio.wait_for(receiver.recv(), rng.choice([0.0001, 0.0005, 0.002]))
                except asyncio.TimeoutError:
                    continue
                got.append(int(m.text))

        reading = asyncio.ensure_future(reader())
        for n in range(300):
            await sender.send("m", str(n))
            if n % 7 == 0:
                await asyncio.sleep(0.0005)
        await asyncio.wait_for(reading, 60)
        return got

    assert run(main()) == list(range(300))


# --- faulty and degraded links ---------------------------------------------------


@pytest.mark.parametrize("failures, expected", [(0, "pppp"), (2, "ffpp"), (6, "ffff")])
def test_a_faulty_link_fails_its_next_sends_and_reaches_no_one_with_them(failures, expected):
    async def main():
        broker = native.LoopbackBroker()
        listener = await listener_of(broker)
        t = native.PyTransport.faulty(broker.rung(), failures)
        await t.connect()  # connect, subscribe and recv work throughout
        await t.subscribe("t")
        pattern = await send_each(t, range(1, 5))
        own = [(await t.recv()).text for _ in passed(pattern)]
        return pattern, await arrivals(listener), own

    pattern, reached, own = run(main())
    assert pattern == expected
    assert reached == own == passed(expected)


DEGRADED = [
    # drop_every, up, down, sends 1 to 10
    (0, 0, 0, "pppppppppp"),
    (3, 0, 0, "pplpplpplp"),
    (1, 0, 0, "llllllllll"),
    (0, 2, 1, "ppuppuppup"),
    (2, 3, 1, "plpuplpupl"),
    (0, 0, 5, "pppppppppp"),
    (0, 5, 0, "pppppppppp"),
    (0, 4294967295, 1, "pppppppppp"),
]


@pytest.mark.parametrize("drop_every, up, down, expected", DEGRADED)
def test_a_degraded_link_loses_and_goes_down_by_its_send_count(drop_every, up, down, expected):
    async def main():
        broker = native.LoopbackBroker()
        listener = await listener_of(broker)
        t = native.PyTransport.degraded(broker.rung(), drop_every=drop_every, up=up, down=down)
        await t.connect()
        pattern = await send_each(t, range(1, 11))
        return pattern, await arrivals(listener)

    pattern, reached = run(main())
    assert pattern == expected
    assert reached == passed(expected)


def test_a_degraded_link_still_lets_connect_subscribe_and_recv_through():
    async def main():
        broker = native.LoopbackBroker()
        t = native.PyTransport.degraded(broker.rung(), drop_every=1)
        await t.connect()
        await t.subscribe("t")
        other = broker.link()
        await other.connect()
        await other.send("t", b"in")
        return (await t.recv()).payload

    assert run(main()) == b"in"


def test_a_send_the_inner_link_fails_still_counts():
    async def main():
        broker = native.LoopbackBroker()
        t = native.PyTransport.degraded(broker.rung(), drop_every=2)
        await t.connect()
        broker.reachable = False
        first = await send_each(t, [1])
        broker.reachable = True
        return first + await send_each(t, [2, 3, 4])

    assert run(main()) == "olpl"


def test_connecting_again_does_not_restart_the_count():
    async def main():
        broker = native.LoopbackBroker()
        t = native.PyTransport.degraded(broker.rung(), drop_every=2)
        await t.connect()
        before = await send_each(t, [1, 2])
        await t.connect()
        return before + await send_each(t, [3, 4])

    assert run(main()) == "plpl"


def test_wrappers_nest():
    async def main():
        broker = native.LoopbackBroker()
        listener = await listener_of(broker)
        t = native.PyTransport.degraded(native.PyTransport.faulty(broker.rung(), 1), drop_every=2)
        await t.connect()
        pattern = await send_each(t, [1, 2, 3, 4, 5])
        return pattern, await arrivals(listener)

    # send 2 is lost by the degraded link and never uses up the faulty link's failure
    assert run(main()) == ("flplp", ["3", "5"])


# --- handing a transport on --------------------------------------------------------


def test_a_wrapped_transport_is_spent():
    async def main():
        u = native.LoopbackBroker().rung()
        wrapped = native.PyTransport.faulty(u, 2)
        states = (wrapped.is_available, u.is_available)
        refused = []
        for call in (u.connect, lambda: u.send("t", b"x"), lambda: u.subscribe("t"), u.recv):
            with pytest.raises(native.TrovikError) as e:
                await call()
            refused.append(str(e.value))
        for wrap in (lambda: native.PyTransport.faulty(u, 1), lambda: native.PyTransport.degraded(u)):
            with pytest.raises(native.TrovikError) as e:
                wrap()
            refused.append(str(e.value))
        return states, refused, u.is_available

    states, refused, after = run(main())
    assert states == (True, False)
    assert refused == [SPENT] * 6
    assert after is False


def test_a_transport_in_a_call_is_busy_and_stays_usable():
    async def main():
        broker = native.LoopbackBroker()
        t = broker.rung()
        await t.connect()
        await t.subscribe("t")
        waiting = t.recv()  # a message that never comes
        await asyncio.sleep(0.01)
        refused = []
        for wrap in (lambda: native.PyTransport.degraded(t), lambda: native.PyTransport.faulty(t, 1)):
            with pytest.raises(native.TrovikError) as e:
                wrap()
            refused.append(str(e.value))
        available = t.is_available
        waiting.cancel()
        await t.send("t", b"still works")
        return refused, available, (await t.recv()).payload, t.is_available

    assert run(main()) == ([BUSY, BUSY], True, b"still works", True)


@pytest.mark.parametrize(
    "wrap, error",
    [
        (lambda t: native.PyTransport.faulty(t, -1), OverflowError),
        (lambda t: native.PyTransport.faulty(t, "1"), TypeError),
        (lambda t: native.PyTransport.degraded(t, up=None), TypeError),
        (lambda t: native.PyTransport.degraded(t, drop_every=2**32), OverflowError),
        (lambda t: native.PyTransport.degraded(t, down=-1), OverflowError),
    ],
)
def test_a_refused_argument_leaves_the_inner_transport_alone(wrap, error):
    t = native.LoopbackBroker().rung()
    with pytest.raises(error):
        wrap(t)
    assert t.is_available


def test_only_a_transport_can_be_wrapped():
    with pytest.raises(TypeError, match="'LoopbackTransport' object is not an instance of 'PyTransport'"):
        native.PyTransport.faulty(native.LoopbackBroker().link(), 1)


def test_a_transport_has_no_public_constructor():
    with pytest.raises(TypeError):
        native.PyTransport()


# --- one call at a time, in issue order -----------------------------------------


def test_a_waiting_recv_holds_back_a_send_until_it_is_cancelled():
    async def main():
        t = native.LoopbackBroker().rung()
        await t.connect()
        await t.subscribe("t")
        waiting = t.recv()
        held = t.send("t", b"x")
        await asyncio.sleep(0.01)
        assert not held.done()
        waiting.cancel()
        await held
        return (await t.recv()).payload

    assert run(main()) == b"x"


class Recorder:
    """Handlers whose send records its start and end; send "1" waits for a gate."""

    def __init__(self):
        self.log = []
        self.entered = asyncio.Event()
        self.gate = asyncio.Event()

    async def connect(self):
        pass

    async def subscribe(self, topic):
        pass

    async def send(self, topic, payload):
        self.log.append(("start", payload))
        if payload == b"1":
            self.entered.set()
            await self.gate.wait()
        self.log.append(("end", payload))


def test_two_sends_reach_the_link_in_issue_order_one_after_the_other():
    async def main():
        h = Recorder()
        t = native.PyTransport.from_handlers(h)
        await t.connect()
        first, second = t.send("t", "1"), t.send("t", "2")
        await h.entered.wait()
        await asyncio.sleep(0.01)
        assert h.log == [("start", b"1")]
        h.gate.set()
        await asyncio.gather(first, second)
        return h.log

    assert run(main()) == [("start", b"1"), ("end", b"1"), ("start", b"2"), ("end", b"2")]


def test_many_calls_are_served_in_issue_order():
    async def main():
        h = Recorder()
        h.gate.set()
        t = native.PyTransport.from_handlers(h)
        await t.connect()
        await asyncio.gather(*[t.send("t", str(i)) for i in range(2, 60)])
        return [p for what, p in h.log if what == "start"]

    assert run(main()) == [str(i).encode() for i in range(2, 60)]


# --- the Python surface ---------------------------------------------------------------


def test_documentation():
    assert native.PyTransport.__doc__ == (
        "One transport: a link to drive with `connect`, `subscribe`, `send`, and `recv`,\n"
        "or to compose into a ladder or a wrapper.\n\n"
        "Build one with the module constructors, then drive it or hand it to whatever should\n"
        "own it. A transport handed on is spent: using it afterwards raises."
    )
    assert native.PyTransport.faulty.__text_signature__ == "(inner, failures)"
    assert native.PyTransport.degraded.__text_signature__ == "(inner, drop_every=0, up=0, down=0)"
    assert native.PyTransport.from_handlers.__text_signature__ == "(handlers)"
    assert native.PyTransport.send.__text_signature__ == "($self, topic, payload)"
    assert native.PyTransport.degraded.__doc__ == (
        "Wraps a transport in a link that loses packets and goes down.\n\nThe wrapped transport is consumed."
    )
    assert native.PyTransport.is_available.__doc__ == "Whether this transport is still holdable, or has been handed on."
