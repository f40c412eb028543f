"""aiocoap as the independent CoAP peer: a server on a free 127.0.0.1 port,
a client context, and a scripted UDP socket for exchanges aiocoap would not
produce on its own."""
import asyncio
import contextlib
import socket
import time

import aiocoap
import aiocoap.resource as resource


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Recorder(resource.ObservableResource):
    """Keeps every PUT (message type and payload) in arrival order; GET reads
    the last one, and each PUT or `update` notifies the observers."""

    def __init__(self, value=b""):
        super().__init__()
        self.value = value
        self.puts = []

    async def render_get(self, request):
        return aiocoap.Message(payload=self.value)

    async def render_put(self, request):
        self.puts.append((request.mtype, request.payload))
        self.update(request.payload)
        return aiocoap.Message(code=aiocoap.CHANGED)

    def update(self, value):
        self.value = value
        self.updated_state()

    async def wait_for_puts(self, count, timeout=5.0):
        deadline = time.monotonic() + timeout
        while len(self.puts) < count and time.monotonic() < deadline:
            await asyncio.sleep(0.005)
        return self.puts


class Plain(resource.Resource):
    """A resource that cannot be observed: GET answers without Observe."""

    async def render_get(self, request):
        return aiocoap.Message(payload=b"plain")


class Answer(resource.Resource):
    """Answers every PUT and GET with one fixed code and payload."""

    def __init__(self, code, payload=b""):
        super().__init__()
        self.code, self.payload = code, payload

    async def render_put(self, request):
        return aiocoap.Message(code=self.code, payload=self.payload)

    render_get = render_put


@contextlib.asynccontextmanager
async def aiocoap_server(resources):
    """Serves `resources` ({path tuple: resource}) on 127.0.0.1; yields the port."""
    site = resource.Site()
    for path, res in resources.items():
        site.add_resource(path, res)
    for attempt in range(20):  # another process may take the port between probe and bind
        port = free_udp_port()
        try:
            context = await aiocoap.Context.create_server_context(site, bind=("127.0.0.1", port))
            break
        except OSError:
            if attempt == 19:
                raise
    try:
        yield port
    finally:
        await context.shutdown()


@contextlib.asynccontextmanager
async def aiocoap_client():
    context = await aiocoap.Context.create_client_context()
    try:
        yield context
    finally:
        await context.shutdown()


def wire(mtype, mid, code, token=b"", payload=b"", **options):
    """One datagram with exactly the given header, encoded by aiocoap (whose
    applications leave type, message id and token to the library)."""
    message = aiocoap.Message(code=code, payload=payload, **options)
    message.mtype, message.mid, message.token = mtype, mid, token
    return message.encode()


class ScriptedPeer(asyncio.DatagramProtocol):
    """A plain UDP socket on 127.0.0.1 that records what arrives (with the
    arrival time) and sends exactly the datagrams a test writes."""

    def __init__(self):
        self.arrivals = asyncio.Queue()
        self.transport = None

    def connection_made(self, transport):
        self.transport = transport

    def datagram_received(self, data, addr):
        self.arrivals.put_nowait((time.monotonic(), data, addr))

    @property
    def port(self):
        return self.transport.get_extra_info("sockname")[1]

    async def next(self, timeout=5.0):
        """The next datagram as (arrival time, aiocoap.Message, raw bytes, sender)."""
        at, data, addr = await asyncio.wait_for(self.arrivals.get(), timeout)
        return at, aiocoap.Message.decode(data), data, addr

    def send(self, datagram, addr):
        self.transport.sendto(datagram, addr)


@contextlib.asynccontextmanager
async def scripted_peer():
    loop = asyncio.get_running_loop()
    transport, peer = await loop.create_datagram_endpoint(ScriptedPeer, local_addr=("127.0.0.1", 0))
    try:
        yield peer
    finally:
        transport.close()
