"""A scripted MQTT 3.1.1 broker for the cases a real broker cannot stage.

`scripted_broker(script)` serves 127.0.0.1 on a free port and runs
`await script(conn)` for every connection it accepts; a failure inside the
script is raised again when the `async with` block ends. The packet helpers
build the broker's side of the conversation byte by byte.
"""

from __future__ import annotations

import asyncio
import contextlib
from dataclasses import dataclass

CONNECT, CONNACK, PUBLISH, PUBACK, PUBREC, PUBREL, PUBCOMP, SUBSCRIBE, SUBACK = 1, 2, 3, 4, 5, 6, 7, 8, 9
PINGREQ, PINGRESP, DISCONNECT = 12, 13, 14


def remaining_length(n: int) -> bytes:
    out = bytearray()
    while True:
        byte, n = n % 128, n // 128
        out.append(byte | (0x80 if n else 0))
        if not n:
            return bytes(out)


def packet(type_: int, flags: int, body: bytes = b"") -> bytes:
    return bytes([type_ << 4 | flags]) + remaining_length(len(body)) + body


def text(s: str | bytes) -> bytes:
    b = s.encode() if isinstance(s, str) else s
    return len(b).to_bytes(2, "big") + b


def connack(code: int = 0) -> bytes:
    return packet(CONNACK, 0, bytes([0, code]))


def publish(topic: str, payload: bytes, qos: int = 0, pkid: int = 0) -> bytes:
    body = text(topic) + (pkid.to_bytes(2, "big") if qos else b"") + payload
    return packet(PUBLISH, qos << 1, body)


def ack(type_: int, pkid: int) -> bytes:
    return packet(type_, 2 if type_ == PUBREL else 0, pkid.to_bytes(2, "big"))


def suback(pkid: int, granted: int) -> bytes:
    return packet(SUBACK, 0, pkid.to_bytes(2, "big") + bytes([granted]))


@dataclass
class Packet:
    type: int
    flags: int
    body: bytes

    @property
    def pkid(self) -> int:
        """The packet id of an acknowledgement, a SUBSCRIBE or a QoS 1 or 2 PUBLISH."""
        if self.type == PUBLISH:
            n = int.from_bytes(self.body[:2], "big")
            return int.from_bytes(self.body[2 + n:4 + n], "big")
        return int.from_bytes(self.body[:2], "big")

    @property
    def qos(self) -> int:
        return (self.flags >> 1) & 3


@dataclass
class Connect:
    client_id: str
    keep_alive: int
    clean_session: bool
    username: bytes | None
    password: bytes | None
    will: tuple[str, bytes, int, bool] | None  # topic, payload, qos, retain


def parse_connect(p: Packet) -> Connect:
    body = p.body
    assert p.type == CONNECT and body[:7] == b"\x00\x04MQTT\x04", body[:7]
    flags = body[7]
    keep_alive = int.from_bytes(body[8:10], "big")
    at = 10

    def field() -> bytes:
        nonlocal at
        n = int.from_bytes(body[at:at + 2], "big")
        value = body[at + 2:at + 2 + n]
        at += 2 + n
        return value

    client_id = field().decode()
    will = None
    if flags & 0x04:
        topic = field().decode()
        will = (topic, field(), (flags >> 3) & 3, bool(flags & 0x20))
    username = field() if flags & 0x80 else None
    password = field() if flags & 0x40 else None
    assert at == len(body)
    return Connect(client_id, keep_alive, bool(flags & 0x02), username, password, will)


class Conn:
    """One accepted connection, as the script sees it."""

    def __init__(self, reader: asyncio.StreamReader, writer: asyncio.StreamWriter) -> None:
        self.reader, self.writer = reader, writer

    async def read(self, timeout: float = 5.0) -> Packet | None:
        """The next packet from the client, or None once it closed the connection."""
        try:
            first = await asyncio.wait_for(self.reader.readexactly(1), timeout)
            n, shift = 0, 0
            for _ in range(4):
                b = (await self.reader.readexactly(1))[0]
                n |= (b & 0x7F) << shift
                shift += 7
                if not b & 0x80:
                    break
            body = await self.reader.readexactly(n)
        except asyncio.IncompleteReadError:
            return None
        return Packet(first[0] >> 4, first[0] & 0x0F, body)

    async def expect(self, type_: int, timeout: float = 5.0) -> Packet:
        """The next packet other than a PINGREQ, which must be of `type_`."""
        while True:
            p = await self.read(timeout)
            assert p is not None, f"the client closed the connection before packet type {type_}"
            if p.type != PINGREQ:
                assert p.type == type_, (p.type, type_)
                return p

    async def accept(self) -> Connect:
        """Reads the CONNECT and accepts it."""
        c = parse_connect(await self.expect(CONNECT))
        await self.send(connack(0))
        return c

    async def send(self, data: bytes) -> None:
        self.writer.write(data)
        await self.writer.drain()

    async def closed(self, timeout: float = 5.0) -> bool:
        """Whether the client closes the connection within `timeout`, skipping what it still sends."""

        async def drain() -> None:
            while await self.read(timeout) is not None:
                pass

        try:
            await asyncio.wait_for(drain(), timeout)
            return True
        except asyncio.TimeoutError:
            return False


class ScriptedBroker:
    def __init__(self, script) -> None:
        self.script = script
        self.port = 0
        self.accepted = 0
        self.failures: list[BaseException] = []
        self._tasks: set[asyncio.Task] = set()

    async def _serve(self, reader: asyncio.StreamReader, writer: asyncio.StreamWriter) -> None:
        self.accepted += 1
        self._tasks.add(asyncio.current_task())
        try:
            await self.script(Conn(reader, writer))
        except asyncio.CancelledError:
            pass
        except BaseException as e:  # reported when the test's block ends
            self.failures.append(e)
        finally:
            writer.close()


@contextlib.asynccontextmanager
async def scripted_broker(script):
    broker = ScriptedBroker(script)
    server = await asyncio.start_server(broker._serve, "127.0.0.1", 0)
    broker.port = server.sockets[0].getsockname()[1]
    try:
        yield broker
    finally:
        server.close()
        for task in list(broker._tasks):
            task.cancel()
        await asyncio.gather(*broker._tasks, return_exceptions=True)
        await server.wait_closed()
    if broker.failures:
        raise broker.failures[0]
