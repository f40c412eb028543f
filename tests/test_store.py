"""Store-and-forward buffers: the memory and file stores, the directory they
keep, and draining onto a transport."""
import asyncio
import errno
import json
import os
import subprocess
import sys

import pytest

import trovik._native as native

SPENT = "this store was already given to a ladder"
AT_CAPACITY = "io error: store is at capacity"
NOT_TEXT = "codec error: the record is not UTF-8 text"
TRANSPORT_SPENT = "this transport was already added to a ladder or a wrapper"


def run(coro):
    return asyncio.run(coro)


def name(n):
    return "%020d.rec" % n


async def drain(store):
    got = []
    while (record := await store.pop()) is not None:
        got.append(record)
    return got


@pytest.fixture(params=["memory", "file"])
def make_store(request, tmp_path):
    """Makes a store of either kind; file stores share one directory per test."""

    def make(capacity=0):
        if request.param == "memory":
            return native.Store.memory(capacity)
        return native.Store.file(str(tmp_path / "buffer"), capacity)

    return make


class Sender:
    """A host link that records what it was sent and refuses the sends named in `fail_at` (1-based)."""

    def __init__(self, fail_at=()):
        self.sent = []
        self.fail_at = set(fail_at)
        self.count = 0
        self.release = None  # an asyncio.Event the next send waits for, when set

    def connect(self):
        pass

    def subscribe(self, topic):
        pass

    async def send(self, topic, payload):
        self.count += 1
        if self.release is not None:
            gate, self.release = self.release, None
            self.entered.set()
            await gate.wait()
        if self.count in self.fail_at:
            raise OSError("the radio is off")
        self.sent.append((topic, bytes(payload)))


# --- both stores -----------------------------------------------------------------------


def test_records_come_back_oldest_first_with_their_bytes(make_store):
    async def main():
        store = make_store()
        records = [b"one", b"", "héllo", bytes(range(256))]
        for r in records:
            assert await store.append(r) is None
        assert await store.len() == 4
        assert await store.peek() == b"one"
        assert await store.len() == 4
        assert await drain(store) == [b"one", b"", "héllo".encode(), bytes(range(256))]
        assert await store.len() == 0

    run(main())


def test_an_empty_store_gives_none_everywhere(make_store):
    async def main():
        store = make_store()
        assert [await store.peek(), await store.pop(), await store.peek_text(), await store.pop_text()] == [None] * 4
        assert await store.len() == 0

    run(main())


@pytest.mark.parametrize("capacity", [1, 2])
def test_a_full_store_refuses_and_takes_again_after_a_pop(make_store, capacity):
    async def main():
        store = make_store(capacity)
        for i in range(capacity):
            await store.append(b"%d" % i)
        with pytest.raises(native.TrovikError, match=f"^{AT_CAPACITY}$"):
            await store.append(b"over")
        assert await store.len() == capacity
        assert await store.pop() == b"0"
        await store.append(b"again")
        assert (await drain(store))[-1] == b"again"

    run(main())


def test_capacity_zero_never_refuses(make_store):
    async def main():
        store = make_store(0)
        for i in range(50):
            await store.append(b"%d" % i)
        assert await store.len() == 50

    run(main())


def test_text_reads_decode_and_refuse_what_is_not_utf8(make_store):
    async def main():
        store = make_store()
        await store.append("héllo")
        assert await store.peek() == "héllo".encode()
        assert await store.pop_text() == "héllo"
        await store.append(b"\xff\xfe")
        with pytest.raises(native.TrovikError, match=f"^{NOT_TEXT}$"):
            await store.peek_text()
        assert await store.len() == 1  # a peek leaves it
        with pytest.raises(native.TrovikError, match=f"^{NOT_TEXT}$"):
            await store.pop_text()
        assert await store.len() == 0  # a pop takes it regardless

    run(main())


def test_arguments_are_checked_before_anything_happens(tmp_path):
    with pytest.raises(OverflowError):
        native.Store.memory(-1)
    with pytest.raises(TypeError):
        native.Store.file(tmp_path)  # a path object is not a str
    with pytest.raises(TypeError):
        native.Store()
    store = native.Store.memory()
    with pytest.raises(RuntimeError):
        store.len()  # no running loop
    with pytest.raises(TypeError):
        store.drain_to(object(), "t")


# --- the file store's directory --------------------------------------------------------


def test_a_reopened_directory_finds_its_records_and_numbers_on(tmp_path):
    async def main():
        store = native.Store.file(str(tmp_path))
        for r in [b"a", b"bb", b""]:
            await store.append(r)
        assert sorted(os.listdir(tmp_path)) == [name(0), name(1), name(2)]
        assert (tmp_path / name(2)).read_bytes() == b""
        del store
        again = native.Store.file(str(tmp_path))
        assert await again.len() == 3
        assert await again.pop() == b"a"
        await again.append(b"d")
        assert name(3) in os.listdir(tmp_path)
        assert await drain(again) == [b"bb", b"", b"d"]
        assert os.listdir(tmp_path) == []
        # Emptied and reopened, numbering starts over.
        fresh = native.Store.file(str(tmp_path))
        await fresh.append(b"e")
        assert os.listdir(tmp_path) == [name(0)]

    run(main())


def test_opening_cleans_temporaries_and_leaves_foreign_names(tmp_path):
    (tmp_path / (name(4) + ".tmp")).write_bytes(b"half a record")
    (tmp_path / "junk.rec.tmp").write_bytes(b"")
    (tmp_path / "abc.rec").write_bytes(b"not a record")
    (tmp_path / "notes.txt").write_bytes(b"keep me")
    (tmp_path / "x").mkdir()
    (tmp_path / name(1)).write_bytes(b"real")

    async def main():
        store = native.Store.file(str(tmp_path / ""))
        assert await store.len() == 1
        assert await store.pop() == b"real"
        await store.append(b"next")
        assert name(2) in os.listdir(tmp_path)  # numbering goes on after the largest found

    run(main())
    assert sorted(os.listdir(tmp_path)) == sorted([name(2), "abc.rec", "notes.txt", "x"])


def test_a_short_name_is_indexed_but_read_under_the_padded_one(tmp_path):
    (tmp_path / "5.rec").write_bytes(b"short")

    async def main():
        store = native.Store.file(str(tmp_path))
        assert await store.len() == 1
        with pytest.raises(native.TrovikError, match="^io error: "):
            await store.pop()
        assert await store.len() == 0  # it left the index all the same

    run(main())


MAX_RECORD = 2**30  # the largest record a file store writes or reads back

# Runs in a child process, so that a reader blocked on a FIFO or filling memory
# from a device fails the test by its timeout or memory limit instead of hanging
# or starving the run.
UNREADABLE_CHILD = r"""
import asyncio, json, os, resource, sys
import trovik._native as native

if "asan" not in os.environ.get("LD_PRELOAD", ""):  # AddressSanitizer maps far more than it uses
    resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))

async def outcome(awaitable):
    try:
        return ["gave", (await awaitable).decode()]
    except native.TrovikError as e:
        return ["raised", str(e)]

async def main():
    store = native.Store.file(sys.argv[1])
    steps = [await store.len()]
    for method in (store.peek, store.pop, store.pop):
        steps.append(await outcome(method()))
    steps.append(await store.len())
    print(json.dumps(steps), flush=True)

asyncio.run(main())
# What is under test ends here; leave without interpreter shutdown, which is
# not what this test is about.
os._exit(0)
"""


def oversize(path):
    with open(path, "wb") as f:
        f.truncate(MAX_RECORD + 1)  # sparse: costs no disk


@pytest.mark.parametrize(
    "make, reason",
    [
        (os.mkfifo, errno.EINVAL),
        (lambda path: os.symlink("/dev/zero", path), errno.EINVAL),
        (oversize, errno.EFBIG),
        (os.mkdir, errno.EISDIR),
    ],
    ids=["fifo", "symlink-to-dev-zero", "oversize-file", "directory"],
)
def test_a_record_name_holding_no_readable_record_raises_without_blocking(tmp_path, make, reason):
    make(tmp_path / name(1))
    (tmp_path / name(2)).write_bytes(b"after")
    child = subprocess.run(
        [sys.executable, "-c", UNREADABLE_CHILD, str(tmp_path)], capture_output=True, text=True, timeout=120
    )
    assert child.returncode == 0, child.stderr
    refused = ["raised", "io error: " + os.strerror(reason)]
    # Opening indexes it like any record; peek and pop refuse it as an unreadable
    # record, and the pop moves past it to the next one.
    assert json.loads(child.stdout) == [2, refused, refused, ["gave", "after"], 0]
    assert os.listdir(tmp_path) == [name(1)]


def test_two_names_for_one_number_are_one_record(tmp_path):
    (tmp_path / "5.rec").write_bytes(b"short")
    (tmp_path / name(5)).write_bytes(b"padded")

    async def main():
        store = native.Store.file(str(tmp_path))
        assert await store.len() == 1
        assert await store.pop() == b"padded"
        assert await store.pop() is None

    run(main())


def test_numbering_never_wraps(tmp_path):
    (tmp_path / name(2**64 - 1)).write_bytes(b"last")

    async def main():
        store = native.Store.file(str(tmp_path))
        with pytest.raises(native.TrovikError, match="^io error: "):
            await store.append(b"would wrap")
        assert await store.len() == 1
        assert await store.pop() == b"last"

    run(main())
    assert os.listdir(tmp_path) == []


def test_capacity_counts_records_already_in_the_directory(tmp_path):
    for n in range(2):
        (tmp_path / name(n)).write_bytes(b"old")

    async def main():
        store = native.Store.file(str(tmp_path), 1)
        assert await store.len() == 2
        for _ in range(2):
            with pytest.raises(native.TrovikError, match=f"^{AT_CAPACITY}$"):
                await store.append(b"new")
            await store.pop()
        await store.append(b"new")

    run(main())


def test_a_directory_that_cannot_be_made_raises_at_once(tmp_path):
    blocker = tmp_path / "file"
    blocker.write_bytes(b"")
    with pytest.raises(native.TrovikError, match="^io error: "):
        native.Store.file(str(blocker / "sub"))


# --- draining --------------------------------------------------------------------------


def test_drain_sends_in_order_and_stops_at_a_failed_send():
    async def main():
        store = native.Store.memory()
        for i in range(5):
            await store.append(b"r%d" % i)
        handlers = Sender(fail_at=[3])
        transport = native.PyTransport.from_handlers(handlers)
        await transport.connect()
        with pytest.raises(native.TrovikError, match="^transport error: the radio is off$"):
            await store.drain_to(transport, "up")
        assert handlers.sent == [("up", b"r0"), ("up", b"r1")]
        assert await store.peek() == b"r2"
        assert await store.len() == 3
        # The transport is driven, not consumed: the next drain picks up where it stopped.
        assert transport.is_available
        assert await store.drain_to(transport, "up") == 3
        assert [p for _, p in handlers.sent] == [b"r0", b"r1", b"r2", b"r3", b"r4"]
        assert await store.drain_to(transport, "up") == 0

    run(main())


def test_drain_over_a_loopback_rung_reaches_the_broker(tmp_path):
    async def main():
        broker = native.LoopbackBroker()
        listener = broker.link()
        await listener.connect()
        await listener.subscribe("up")
        transport = broker.rung()
        await transport.connect()
        store = native.Store.file(str(tmp_path))
        for r in [b"a", b"b"]:
            await store.append(r)
        assert await store.drain_to(transport, "up") == 2
        assert [(await listener.recv()).payload for _ in range(2)] == [b"a", b"b"]
        assert os.listdir(tmp_path) == []

    run(main())


def test_drain_never_removes_a_record_it_did_not_send():
    """A pop from elsewhere while a record is being sent must not cost the next one."""

    async def main():
        store = native.Store.memory()
        for r in [b"a", b"b", b"c"]:
            await store.append(r)
        handlers = Sender()
        handlers.release = asyncio.Event()
        handlers.entered = asyncio.Event()
        gate = handlers.release
        transport = native.PyTransport.from_handlers(handlers)
        await transport.connect()
        draining = asyncio.ensure_future(store.drain_to(transport, "t"))
        await handlers.entered.wait()  # "a" is on its way
        assert await store.pop() == b"a"  # taken from under the drain
        gate.set()
        assert await draining == 3
        assert [p for _, p in handlers.sent] == [b"a", b"b", b"c"]
        assert await store.len() == 0

    run(main())


def test_drain_waits_for_the_transport_and_refuses_a_spent_one():
    async def main():
        store = native.Store.memory()
        transport = native.LoopbackBroker().rung()
        native.PyTransport.faulty(transport, 1)
        with pytest.raises(native.TrovikError, match=f"^{TRANSPORT_SPENT}$"):
            await store.drain_to(transport, "t")  # even with nothing to drain

    run(main())


# --- handing the store to a ladder ------------------------------------------------------


def test_a_store_given_to_a_ladder_is_spent(tmp_path):
    async def main():
        store = native.Store.file(str(tmp_path))
        await store.append(b"kept")
        assert store.is_available
        native.Ladder(store)
        assert not store.is_available
        for call in [store.len, store.peek, store.pop, store.peek_text, store.pop_text]:
            with pytest.raises(native.TrovikError, match=f"^{SPENT}$"):
                call()  # at call time, before any awaitable exists
        with pytest.raises(native.TrovikError, match=f"^{SPENT}$"):
            store.append(b"x")
        with pytest.raises(native.TrovikError, match=f"^{SPENT}$"):
            store.drain_to(native.LoopbackBroker().rung(), "t")
        with pytest.raises(native.TrovikError, match=f"^{SPENT}$"):
            native.Ladder(store)
        assert os.listdir(tmp_path) == [name(0)]  # the records went with it

    run(main())


def test_docstrings_carry_their_signatures():
    assert native.Store.memory.__text_signature__ == "(capacity=0)"
    assert native.Store.file.__text_signature__ == "(dir, capacity=0)"
    assert native.Store.drain_to.__text_signature__ == "($self, transport, topic)"
    assert native.Store.__doc__.startswith("A store-and-forward buffer.\n\nHanding a store")
