"""Transports whose link is a Python object's methods."""
import asyncio
import collections
import contextvars
import os
import sys
import threading

import pytest

import trovik._native as native

BAD_RECV = "transport error: recv must return a Message, a (topic, payload) pair, or None"
CLOSED = "resource is closed"


def run(coro):
    return asyncio.run(coro)


class Handlers:
    """Records every call; `recv` hands out `replies` in turn (raising the
    exceptions among them), then None."""

    def __init__(self, replies=()):
        self.calls = []
        self.replies = list(replies)
        self.recv_calls = 0

    def _connect(self):
        self.calls.append(("connect",))

    def _send(self, topic, payload):
        self.calls.append(("send", topic, payload))

    def _subscribe(self, topic):
        self.calls.append(("subscribe", topic))

    def _recv(self):
        self.recv_calls += 1
        if not self.replies:
            return None
        reply = self.replies.pop(0)
        if isinstance(reply, BaseException):
            raise reply
        return reply


class Plain(Handlers):
    def connect(self):
        return self._connect()

    def send(self, topic, payload):
        return self._send(topic, payload)

    def subscribe(self, topic):
        return self._subscribe(topic)

    def recv(self):
        return self._recv()


class Coroutines(Handlers):
    async def connect(self):
        return self._connect()

    async def send(self, topic, payload):
        return self._send(topic, payload)

    async def subscribe(self, topic):
        return self._subscribe(topic)

    async def recv(self):
        await asyncio.sleep(0)
        return self._recv()


@pytest.fixture(params=[Plain, Coroutines], ids=["plain", "coroutine"])
def kind(request):
    return request.param


async def received(transport, count):
    out = []
    for _ in range(count):
        m = await transport.recv()
        out.append(None if m is None else (m.topic, m.payload))
    return out


# --- driving a handler object -------------------------------------------------------


def test_a_handler_object_is_the_link(kind):
    async def main():
        h = kind([("t/1", "21.5"), native.Message("a", b"x")])
        t = native.PyTransport.from_handlers(h)
        await t.connect()
        await t.subscribe("f/#")
        await t.send("a", "text")
        await t.send("b", bytearray(b"\x00\xff"))
        return h.calls, await received(t, 4)

    calls, got = run(main())
    assert calls == [("connect",), ("subscribe", "f/#"), ("send", "a", b"text"), ("send", "b", b"\x00\xff")]
    assert all(type(c[1]) is str and type(c[2]) is bytes for c in calls if c[0] == "send")
    assert got == [("t/1", b"21.5"), ("a", b"x"), None, None]


def test_nothing_reaches_the_handler_before_connect(kind):
    async def main():
        h = kind([("t", "x")])
        t = native.PyTransport.from_handlers(h)
        refused = []
        for call in (lambda: t.send("a", b"x"), lambda: t.subscribe("a"), t.recv):
            with pytest.raises(native.TrovikError) as e:
                await call()
            refused.append(str(e.value))
        return refused, h.calls, h.recv_calls

    assert run(main()) == ([CLOSED] * 3, [], 0)


Pair = collections.namedtuple("Pair", "topic payload")


@pytest.mark.parametrize(
    "reply, expected",
    [
        (("t", b"raw"), ("t", b"raw")),
        (("t", bytearray(b"ba")), ("t", b"ba")),
        (("t", [1, 2]), ("t", b"\x01\x02")),
        (("", ""), ("", b"")),
        (Pair("p", "named"), ("p", b"named")),
    ],
)
def test_recv_may_return_any_pair_of_a_topic_and_a_payload(reply, expected):
    async def main():
        t = native.PyTransport.from_handlers(Plain([reply]))
        await t.connect()
        return await received(t, 2)

    assert run(main()) == [expected, None]


@pytest.mark.parametrize(
    "reply",
    [["t", "x"], ("t",), ("t", "x", "y"), (1, "x"), ("t", 1.5), ("t", [256]), 42, b"t"],
    ids=["list", "one", "three", "int topic", "float payload", "wide byte", "int", "bytes"],
)
def test_a_bad_recv_value_ends_the_link_with_an_error_once(kind, reply):
    async def main():
        t = native.PyTransport.from_handlers(kind([reply, ("never", "reached")]))
        await t.connect()
        with pytest.raises(native.TrovikError) as e:
            await t.recv()
        return str(e.value), await received(t, 2)

    assert run(main()) == (BAD_RECV, [None, None])


@pytest.mark.parametrize(
    "exception, text",
    [
        (ValueError("boom"), "transport error: boom"),
        (ValueError(), "transport error: the handler raised ValueError"),
        (KeyError("k"), "transport error: 'k'"),
    ],
)
def test_a_raising_recv_ends_the_link_until_the_next_connect(kind, exception, text):
    async def main():
        h = kind([("t", "before"), exception])
        t = native.PyTransport.from_handlers(h)
        await t.connect()
        first = await received(t, 1)
        with pytest.raises(native.TrovikError) as e:
            await t.recv()
        after = await received(t, 2)
        await t.send("s", b"still")  # sending goes on
        h.replies = [("t", "again")]
        await t.connect()
        return first, str(e.value), after, await received(t, 1), h.calls

    first, error, after, again, calls = run(main())
    assert first == [("t", b"before")]
    assert error == text
    assert after == [None, None]
    assert again == [("t", b"again")]
    assert calls == [("connect",), ("send", "s", b"still"), ("connect",)]


def test_a_failing_connect_changes_nothing(kind):
    class Refusing(kind):
        def connect(self):
            raise ConnectionRefusedError("no route")

    async def main():
        h = Refusing([("t", "x")])
        t = native.PyTransport.from_handlers(h)
        with pytest.raises(native.TrovikError) as connect_error:
            await t.connect()
        with pytest.raises(native.TrovikError) as send_error:
            await t.send("a", b"x")
        return str(connect_error.value), str(send_error.value), h.recv_calls

    assert run(main()) == ("transport error: no route", CLOSED, 0)


@pytest.mark.parametrize("method", ["send", "subscribe"])
def test_a_raising_handler_fails_the_call_and_the_link_stays_usable(kind, method):
    class Failing(kind):
        fail = True

        def _send(self, topic, payload):
            if self.fail:
                raise OSError("link down")
            super()._send(topic, payload)

        def _subscribe(self, topic):
            if self.fail:
                raise OSError()
            super()._subscribe(topic)

    async def main():
        h = Failing()
        t = native.PyTransport.from_handlers(h)
        await t.connect()
        call = (lambda: t.send("a", b"x")) if method == "send" else (lambda: t.subscribe("a"))
        with pytest.raises(native.TrovikError) as e:
            await call()
        h.fail = False
        await call()
        return str(e.value), len(h.calls)

    text = "transport error: link down" if method == "send" else "transport error: the handler raised OSError"
    assert run(main()) == (text, 2)


def test_an_unprintable_exception_is_named_and_reported(monkeypatch):
    class Unprintable(Exception):
        def __str__(self):
            raise RuntimeError("cannot say")

    class H(Plain):
        def send(self, topic, payload):
            raise Unprintable()

    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: reported.append(type(u.exc_value)))

    async def main():
        t = native.PyTransport.from_handlers(H())
        await t.connect()
        with pytest.raises(native.TrovikError) as e:
            await t.send("a", b"x")
        return str(e.value)

    assert run(main()) == "transport error: <unprintable Unprintable object>"
    assert reported == [RuntimeError]


def test_a_handler_without_recv_only_sends():
    class SendOnly:
        def __init__(self):
            self.sent = []

        def connect(self):
            pass

        def subscribe(self, topic):
            pass

        async def send(self, topic, payload):
            self.sent.append(payload)

    async def main():
        h = SendOnly()
        t = native.PyTransport.from_handlers(h)
        await t.connect()
        first = await received(t, 3)
        await t.connect()
        await t.send("a", "x")
        return first + await received(t, 1), h.sent

    assert run(main()) == ([None] * 4, [b"x"])


class Fed(Coroutines):
    """recv waits on a queue the test feeds."""

    def __init__(self):
        super().__init__()
        self.queue = asyncio.Queue()

    async def recv(self):
        self.recv_calls += 1
        return await self.queue.get()


async def until(condition):
    for _ in range(5000):
        if condition():
            return
        await asyncio.sleep(0.001)
    raise AssertionError("condition never held")


class Answered(Coroutines):
    """Each recv call waits for its own answer, given by the test."""

    def __init__(self):
        super().__init__()
        self.waiting = []
        self.ended = False

    async def recv(self):
        if self.ended:
            return None
        answer = asyncio.get_running_loop().create_future()
        self.waiting.append(answer)
        return await answer


def test_connecting_again_restarts_the_pump_and_drops_what_the_first_queued():
    async def main():
        h = Answered()
        t = native.PyTransport.from_handlers(h)
        await t.connect()
        for i in (0, 1):
            await until(lambda: len(h.waiting) == i + 1)
            h.waiting[i].set_result(("t", f"first pump {i}"))
        await until(lambda: len(h.waiting) == 3)  # both queued, the third call waiting
        await t.connect()
        await until(lambda: len(h.waiting) == 4)  # the new pump's first call
        h.ended = True  # the new pump stops after this one
        h.waiting[3].set_result(("t", "second pump"))
        return await received(t, 1), h.calls

    assert run(main()) == ([("t", b"second pump")], [("connect",), ("connect",)])


def test_messages_arrive_in_order_once_each_when_waiting_receives_are_cancelled():
    async def main():
        h = Fed()
        t = native.PyTransport.from_handlers(h)
        await t.connect()
        got = []
        for i in range(30):
            if i % 3 == 0:
                waiting = t.recv()  # everything so far was taken: this one waits
                await asyncio.sleep(0)
                waiting.cancel()
                with pytest.raises(asyncio.CancelledError):
                    await waiting
                await t.send("sync", b"")  # queued behind the cancelled receive, so it has let go
            if i % 2:
                receiving = t.recv()  # waiting when the message comes
                h.queue.put_nowait(("t", str(i)))
                got.append((await receiving).text)
            else:
                h.queue.put_nowait(("t", str(i)))
                got.append((await t.recv()).text)
        return got

    assert run(main()) == [str(i) for i in range(30)]


def test_a_method_removed_after_construction_fails_that_call_only():
    class H(Handlers):
        def connect(self):
            pass

        def subscribe(self, topic):
            self._subscribe(topic)

        def send(self, topic, payload):
            self.calls.append(("class send", payload))

    async def main():
        h = H()
        h.send = lambda topic, payload: h.calls.append(("instance send", payload))
        t = native.PyTransport.from_handlers(h)
        await t.connect()
        await t.send("a", b"1")
        del h.send  # looked up at every call: the class's now
        await t.send("a", b"2")
        del H.send
        with pytest.raises(native.TrovikError) as e:
            await t.send("a", b"3")
        await t.subscribe("still usable")
        return str(e.value), h.calls

    error, calls = run(main())
    assert error == "transport error: 'H' object has no attribute 'send'"
    assert calls == [("instance send", b"1"), ("class send", b"2"), ("subscribe", "still usable")]


# --- what from_handlers accepts -----------------------------------------------------


def obj(*methods):
    return type("Obj", (), {m: (lambda self, *a: None) for m in methods})()


@pytest.mark.parametrize(
    "handlers, missing",
    [
        (object(), "connect"),
        (obj("send", "subscribe", "recv"), "connect"),
        (obj("connect", "subscribe"), "send"),
        (obj("connect", "send", "recv"), "subscribe"),
    ],
)
def test_from_handlers_names_the_first_missing_method(handlers, missing):
    with pytest.raises(native.TrovikError, match=f"^a transport handler needs a {missing} method$"):
        native.PyTransport.from_handlers(handlers)


def test_from_handlers_needs_only_the_attributes():
    assert native.PyTransport.from_handlers(obj("connect", "send", "subscribe")).is_available
    assert native.PyTransport.from_handlers(type("T", (), {"connect": 1, "send": 2, "subscribe": 3})()).is_available


def test_from_handlers_lets_a_failing_lookup_through():
    class Broken:
        def __getattr__(self, name):
            raise KeyError(name)

    with pytest.raises(KeyError):
        native.PyTransport.from_handlers(Broken())


# --- the caller's loop and context -----------------------------------------------------

request = contextvars.ContextVar("request", default="unset")


def test_handlers_see_the_callers_context(kind):
    class Seeing(kind):
        def _connect(self):
            self.calls.append(("connect", request.get()))

        def _send(self, topic, payload):
            self.calls.append(("send", request.get()))

        def _subscribe(self, topic):
            self.calls.append(("subscribe", request.get()))

        def _recv(self):
            self.recv_calls += 1
            return None if self.recv_calls > 1 else ("seen", request.get())

    async def main():
        h = Seeing()
        t = native.PyTransport.degraded(native.PyTransport.from_handlers(h))  # through a wrapper
        request.set("at connect")
        await t.connect()
        request.set("at send")
        await t.send("a", b"x")
        request.set("at subscribe")
        await t.subscribe("a")
        return h.calls, (await t.recv()).text

    calls, pumped = run(main())
    assert calls == [("connect", "at connect"), ("send", "at send"), ("subscribe", "at subscribe")]
    assert pumped == "at connect"  # the pump runs in the context of the connect that started it


def test_coroutines_run_on_the_callers_loop():
    class H(Coroutines):
        async def send(self, topic, payload):
            self.calls.append(asyncio.get_running_loop())

    async def main():
        h = H()
        t = native.PyTransport.from_handlers(h)
        await t.connect()
        await t.send("a", b"x")
        return h.calls[1:] == [asyncio.get_running_loop()]

    assert run(main())


def test_a_plain_handler_may_return_an_awaitable_of_the_module():
    class Forwarding(Plain):
        def __init__(self, link):
            super().__init__()
            self.link = link

        def send(self, topic, payload):
            return self.link.send(topic, payload)

    async def main():
        broker = native.LoopbackBroker()
        listener = broker.link()
        await listener.connect()
        await listener.subscribe("fwd")
        out = broker.link()
        await out.connect()
        t = native.PyTransport.from_handlers(Forwarding(out))
        await t.connect()
        await t.send("fwd", b"through")
        return (await listener.recv()).payload

    assert run(main()) == b"through"


def test_blocking_plain_handlers_do_not_stall_the_runtime():
    gate = threading.Event()

    class Blocking(Plain):
        def send(self, topic, payload):
            gate.wait(30)

    async def main():
        transports = [native.PyTransport.from_handlers(Blocking()) for _ in range(2 * (os.cpu_count() or 1) + 2)]
        for t in transports:
            await t.connect()
        blocked = [asyncio.ensure_future(t.send("a", b"x")) for t in transports]
        try:
            broker = native.LoopbackBroker()
            link = broker.link()
            await asyncio.wait_for(link.connect(), 10)
            await asyncio.wait_for(link.subscribe("t"), 10)
            await asyncio.wait_for(link.send("t", b"meanwhile"), 10)
            got = await asyncio.wait_for(link.recv(), 10)
        finally:
            gate.set()
        await asyncio.gather(*blocked)
        return got.payload

    assert run(main()) == b"meanwhile"


def test_documentation():
    assert native.PyTransport.from_handlers.__doc__.startswith(
        "Wraps an object whose methods are the link.\n\n`handlers` needs `connect()`, `send(topic, payload)`, and "
        "`subscribe(topic)`,\neach a coroutine function or a plain one."
    )
    assert native.PyTransport.from_handlers.__doc__.endswith(
        "Without `recv` the transport only sends, and\na ladder never listens on it."
    )
