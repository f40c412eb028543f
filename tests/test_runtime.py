"""The bridge between the runtime and asyncio, seen through the event bus."""
import asyncio
import contextvars
import gc
import os
import random
import subprocess
import sys
import textwrap
import threading

import pytest

import trovik._native as native


def thread_count():
    return len(os.listdir("/proc/self/task"))


def run_isolated(code):
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    return out.stdout.split()


def test_no_loop_raises_and_starts_nothing():
    out = run_isolated(
        """
        import os, trovik._native as n
        b = n.EventBus()
        try:
            b.next_event()
        except RuntimeError:
            print("refused")
        print(len(os.listdir('/proc/self/task')))
        """
    )
    assert out == ["refused", "1"]


def test_in_process_work_starts_no_thread_and_real_io_starts_the_runtime(tmp_path):
    out = run_isolated(
        f"""
        import asyncio, os, trovik._native as n
        def threads():
            return len(os.listdir('/proc/self/task'))
        print(threads())
        async def main():
            b = n.EventBus(); b.publish(b"x"); await b.next_event()
            s = n.Store.memory(); await s.append(b"r"); await s.pop()
            print(threads())
            f = n.Store.file({str(tmp_path)!r}); await f.append(b"r")
            print(threads() > 1)
        asyncio.run(main())
        """
    )
    assert out == ["1", "1", "True"]


def test_future_is_returned_pending_and_completes_on_the_loop_thread():
    async def main():
        b = native.EventBus()
        fut = b.next_event()
        assert isinstance(fut, asyncio.Future) and not fut.done()
        seen = []
        fut.add_done_callback(lambda f: seen.append(threading.get_ident()))
        b.publish("x")
        await fut
        await asyncio.sleep(0)
        return seen

    assert asyncio.run(main()) == [threading.get_ident()]


def test_futures_belong_to_the_callers_loop_on_any_thread():
    results = []

    def worker():
        async def main():
            b = native.EventBus()
            b.publish("t")
            fut = b.next_event()
            assert fut.get_loop() is asyncio.get_running_loop()
            return await fut

        results.append(asyncio.run(main()))

    threads = [threading.Thread(target=worker) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [b"t"] * 4


EVENTS = 1000


def test_stress_waits_publishes_and_cancellations():
    """Many endpoints, many waits, random cancellations: no event reaches one
    endpoint twice, every event reaches each endpoint that kept waiting, and
    nothing hangs or leaks."""

    async def main(seed):
        rng = random.Random(seed)
        publisher = native.EventPublisher(4096)
        endpoints = [publisher.subscribe() for _ in range(20)]
        received = [[] for _ in endpoints]

        async def reader(i, endpoint):
            while True:
                try:
                    event = await asyncio.wait_for(endpoint.next_event(), rng.choice([0.0005, 0.002, 1.0]))
                except asyncio.TimeoutError:
                    continue
                if event == b"end":
                    return
                received[i].append(event)

        readers = [asyncio.ensure_future(reader(i, e)) for i, e in enumerate(endpoints)]
        for n in range(EVENTS):
            publisher.publish(str(n))
            if n % 50 == 0:
                await asyncio.sleep(0)
        await asyncio.sleep(0.05)
        publisher.publish("end")
        await asyncio.wait_for(asyncio.gather(*readers), 30)
        for events in received:
            assert len(events) == len(set(events))
            assert events == sorted(events, key=int)
        return [len(events) for events in received]

    for seed in range(2):
        counts = asyncio.run(main(seed))
        assert counts == [EVENTS] * 20

    gc.collect()
    before_objects = len(gc.get_objects())
    before_threads = thread_count()
    for seed in range(2, 4):
        asyncio.run(main(seed))
    gc.collect()
    assert len(gc.get_objects()) < before_objects + 500
    assert thread_count() <= before_threads + 4


def test_cancelling_many_pending_waits_leaves_the_endpoint_working():
    async def main():
        b = native.EventBus()
        waits = [b.next_event() for _ in range(1000)]
        for w in waits:
            w.cancel()
        await asyncio.sleep(0.05)
        b.publish("still")
        return await asyncio.wait_for(b.next_event(), 5)

    assert asyncio.run(main()) == b"still"


def test_outcome_after_the_loop_closed_is_not_raised():
    loop = asyncio.new_event_loop()
    b = native.EventBus()

    async def start():
        return b.next_event()

    fut = loop.run_until_complete(start())
    loop.close()
    b.publish("late")  # completion finds the loop closed: printed, not raised
    assert not fut.done()


ABANDONED_WORK = """
import asyncio, gc, tempfile, threading
import trovik._native as n

async def cancellations():
    broker = n.LoopbackBroker()
    link = broker.link(); await link.connect(); await link.subscribe("t")
    rung = broker.rung(); await rung.connect(); await rung.subscribe("t")
    ladder = n.Ladder(n.Store.memory()); await ladder.rung(broker.rung())
    await ladder.connect(); await ladder.subscribe("t")
    bus = n.EventBus()
    sender = broker.link(); await sender.connect()
    for i in range(60):
        for wait in (link.recv, rung.recv, ladder.recv, bus.next_event):
            try:
                await asyncio.wait_for(wait(), 0.0005)
            except asyncio.TimeoutError:
                pass
        if i % 7 == 0:
            await sender.send("t", b"x")
            bus.publish(b"e")

def two_loops():
    broker = n.LoopbackBroker()
    link, tx, store = broker.link(), broker.link(), n.Store.memory()
    async def setup():
        await link.connect(); await link.subscribe("t"); await tx.connect()
    asyncio.run(setup())
    async def use():
        for _ in range(50):
            await store.append(b"r")
            try:
                await asyncio.wait_for(link.recv(), 0.01)
            except asyncio.TimeoutError:
                pass
    threads = [threading.Thread(target=lambda: asyncio.run(use())) for _ in range(2)]
    for t in threads:
        t.start()
    async def feed():
        for _ in range(40):
            await tx.send("t", b"m"); await asyncio.sleep(0.001)
    asyncio.run(feed())
    for t in threads:
        t.join()

async def dropped_mid_call():
    link = n.LoopbackBroker().link(); await link.connect()
    waiting = link.recv(); del link; gc.collect()
    await asyncio.sleep(0); waiting.cancel()
    store = n.Store.file(tempfile.mkdtemp())
    appending = store.append(b"record"); del store; gc.collect()
    await appending

def loop_closed_mid_call():
    loop = asyncio.new_event_loop()
    link = n.LoopbackBroker().link()
    async def start():
        await link.connect()
        return link.recv(), n.Store.file(tempfile.mkdtemp()).append(b"x"), n.EventBus().next_event()
    pending = loop.run_until_complete(start())
    loop.close()
    async def after():  # the abandoned recv let go of the link
        await asyncio.wait_for(link.disconnect(), 5)
    asyncio.run(after())

asyncio.run(cancellations())
two_loops()
asyncio.run(dropped_mid_call())
loop_closed_mid_call()
print("done")
"""


def test_abandoned_work_never_disturbs_the_interpreter_or_its_exit():
    """Cancellations, two loops sharing objects, objects dropped and loops
    closed mid-call: every run exits cleanly and prints nothing to stderr
    (no abort at exit, no outcome handed to a closed loop)."""
    for _ in range(8):
        out = subprocess.run([sys.executable, "-c", ABANDONED_WORK], capture_output=True, text=True, timeout=120)
        assert (out.returncode, out.stdout.split(), out.stderr) == (0, ["done"], "")


def test_a_waiting_future_completes_while_the_loop_keeps_other_tasks_busy(tmp_path):
    async def main():
        done = False

        async def busy():
            while not done:
                await asyncio.sleep(0)

        spinner = asyncio.ensure_future(busy())
        store = native.Store.file(str(tmp_path))
        await asyncio.wait_for(store.append(b"from the blocking pool"), 10)
        bus = native.EventBus()
        waiting = asyncio.ensure_future(bus.next_event())
        await asyncio.sleep(0)
        threading.Thread(target=bus.publisher().publish, args=(b"from another thread",)).start()
        event = await asyncio.wait_for(waiting, 10)
        done = True
        await spinner
        return event

    assert asyncio.run(main()) == b"from another thread"


def test_two_loops_on_two_threads_sharing_one_object_each_get_their_own_futures():
    broker = native.LoopbackBroker()
    rx, tx = broker.link(), broker.link()

    async def setup():
        await rx.connect()
        await rx.subscribe("t")
        await tx.connect()

    asyncio.run(setup())
    seen = {}
    ready = threading.Barrier(3)

    def receiver(name):
        async def main():
            loop = asyncio.get_running_loop()
            completions = []
            ready.wait()
            for _ in range(20):
                fut = rx.recv()
                assert fut.get_loop() is loop
                fut.add_done_callback(lambda f: completions.append(threading.get_ident()))
                await fut
            await asyncio.sleep(0)
            return completions

        seen[name] = (threading.get_ident(), asyncio.run(main()))

    threads = [threading.Thread(target=receiver, args=(name,)) for name in "ab"]
    for t in threads:
        t.start()

    async def feed():
        ready.wait()
        for i in range(40):
            await tx.send("t", str(i))
            await asyncio.sleep(0.0005)

    asyncio.run(feed())
    for t in threads:
        t.join(30)
    for ident, completions in seen.values():
        assert completions == [ident] * 20


class NoReaderLoop(asyncio.SelectorEventLoop):
    """A loop that cannot watch a file descriptor, as some loops cannot."""

    def add_reader(self, fd, callback, *args):
        raise NotImplementedError


def test_a_loop_that_cannot_watch_descriptors_still_gets_its_outcomes(tmp_path):
    async def main():
        store = native.Store.file(str(tmp_path))
        await asyncio.wait_for(store.append(b"through the fallback"), 10)
        bus = native.EventBus()
        waiting = asyncio.ensure_future(bus.next_event())
        await asyncio.sleep(0)
        threading.Thread(target=bus.publisher().publish, args=(b"from another thread",)).start()
        return await asyncio.wait_for(waiting, 10), await store.pop()

    loop = NoReaderLoop()
    try:
        assert loop.run_until_complete(main()) == (b"from another thread", b"through the fallback")
    finally:
        loop.close()
