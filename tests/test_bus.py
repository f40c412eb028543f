"""The in-process event bus."""
import asyncio
import gc

import pytest

import trovik._native as native


def run(coro):
    return asyncio.run(coro)


async def drain(endpoint, count):
    return [await endpoint.next_event() for _ in range(count)]


def test_an_endpoint_receives_its_own_events():
    async def main():
        b = native.EventBus()
        b.publish(b"x")
        b.publish("y")
        return await drain(b, 2)

    assert run(main()) == [b"x", b"y"]


def test_subscribers_see_only_later_events():
    async def main():
        b = native.EventBus()
        early = b.subscribe()
        b.publish("one")
        late = b.subscribe()
        b.publish("two")
        return await drain(early, 2), await drain(late, 1)

    assert run(main()) == ([b"one", b"two"], [b"two"])


@pytest.mark.parametrize(
    "capacity, published, first, missed",
    [(4, 6, b"2", 2), (0, 3, b"2", 2), (1, 3, b"2", 2), (100, 128, b"0", 0), (100, 130, b"2", 2), (3, 4, b"0", 0)],
)
def test_ring_sizes_and_missed_counts(capacity, published, first, missed):
    async def main():
        b = native.EventBus(capacity)
        for i in range(published):
            b.publish(str(i))
        assert b.missed == 0  # nothing counted before a wait completes
        got = await b.next_event()
        return got, b.missed

    assert run(main()) == (first, missed)


def test_missed_does_not_grow_without_new_loss():
    async def main():
        b = native.EventBus(4)
        for i in range(6):
            b.publish(str(i))
        out = [await b.next_text(), b.missed, await b.next_text(), b.missed]
        return out

    assert run(main()) == ["2", 2, "3", 2]


def test_publisher_counts_current_subscribers():
    async def main():
        p = native.EventPublisher(8)
        assert p.publish(b"x") == 0
        e1, e2 = p.subscribe(), p.subscribe()
        assert p.publish("go") == 2
        assert [await e1.next_text(), await e2.next_text()] == ["go", "go"]
        del e1, e2
        gc.collect()
        return p.publish("go")

    assert run(main()) == 0


def test_endpoint_publish_counts_itself_and_publishers_share_the_bus():
    async def main():
        b = native.EventBus()
        p = b.publisher()
        assert p.publish("a") == 1
        q = p.publisher()
        assert q.publish("b") == 1
        return await drain(b, 2)

    assert run(main()) == [b"a", b"b"]


def test_next_text_refuses_bytes_that_are_not_utf8_and_consumes_them():
    async def main():
        b = native.EventBus()
        b.publish(b"\xff")
        b.publish(b"ok")
        with pytest.raises(ValueError, match="^the event is not UTF-8 text$"):
            await b.next_text()
        return await b.next_event()

    assert run(main()) == b"ok"


def test_a_cancelled_wait_takes_nothing():
    async def main():
        b = native.EventBus()
        with pytest.raises(asyncio.TimeoutError):
            await asyncio.wait_for(b.next_event(), 0.01)
        b.publish("after")
        return await b.next_event()

    assert run(main()) == b"after"


def test_concurrent_waits_never_share_an_event():
    async def main():
        b = native.EventBus()
        waits = [asyncio.ensure_future(b.next_event()) for _ in range(2)]
        await asyncio.sleep(0.01)
        b.publish("A")
        b.publish("B")
        return sorted(await asyncio.gather(*waits))

    assert run(main()) == [b"A", b"B"]


def test_many_waits_on_one_endpoint_take_each_event_once():
    async def main():
        b = native.EventBus(256)
        waits = [asyncio.ensure_future(b.next_text()) for _ in range(50)]
        await asyncio.sleep(0.01)
        for i in range(50):
            b.publish(str(i))
        return await asyncio.gather(*waits)

    assert sorted(run(main()), key=int) == [str(i) for i in range(50)]


@pytest.mark.parametrize(
    "args, exc",
    [((-1,), OverflowError), (("8",), TypeError), ((None,), TypeError), ((1, 2), TypeError)],
)
def test_capacity_refusals(args, exc):
    with pytest.raises(exc):
        native.EventBus(*args)
    with pytest.raises(exc):
        native.EventPublisher(*args)


def test_argument_texts():
    with pytest.raises(TypeError, match=r"^EventBus\.__new__\(\) takes from 0 to 1 positional arguments but 2 were given$"):
        native.EventBus(1, 2)
    with pytest.raises(TypeError, match=r"^EventBus\.__new__\(\) got an unexpected keyword argument 'size'$"):
        native.EventBus(size=3)
    with pytest.raises(TypeError) as info:
        native.EventBus().publish(1.5)
    assert str(info.value).startswith("failed to extract enum Payload ('Text | Bytes')")


def test_huge_capacity_is_bounded():
    async def main():
        b = native.EventBus(10**7)
        for i in range(3):
            b.publish(str(i))
        return await drain(b, 3)

    assert run(main()) == [b"0", b"1", b"2"]


def test_signatures_and_docs():
    assert native.EventBus.__text_signature__ == "(capacity=64)"
    assert native.EventPublisher.__text_signature__ == "(capacity=64)"
    assert native.EventBus.next_event.__text_signature__ == "($self)"
    assert native.EventBus.publish.__text_signature__ == "($self, event)"
    assert native.EventBus.next_text.__doc__ == "Waits for the next event as text.\n\nRaises `ValueError` if the event is not UTF-8 text."
