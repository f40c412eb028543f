"""The MQTT client against a real mosquitto broker, with paho-mqtt as the second
party, and against a scripted broker for what mosquitto cannot stage."""
import asyncio
import gc
import socket
import uuid

import pytest
from peers import scripted_mqtt as wire
from peers.mosquitto import Mosquitto, make_certificates
from peers.paho_peer import Paho
from peers.scripted_mqtt import scripted_broker

import trovik._native as native

pytestmark = pytest.mark.asyncio

LOCAL = "127.0.0.1"
QOS = ["AtMostOnce", "AtLeastOnce", "ExactlyOnce"]
ACCOUNT = ("sensor", "s3cret")


@pytest.fixture(scope="module")
def broker(tmp_path_factory):
    with Mosquitto(tmp_path_factory.mktemp("mosquitto")) as b:
        yield b


@pytest.fixture(scope="module")
def guarded_broker(tmp_path_factory):
    with Mosquitto(tmp_path_factory.mktemp("mosquitto-guarded"), account=ACCOUNT,
                   settings=("allow_zero_length_clientid false",)) as b:
        yield b


@pytest.fixture(scope="module")
def certs(tmp_path_factory):
    return make_certificates(tmp_path_factory.mktemp("certificates"))


@pytest.fixture(scope="module")
def tls_broker(tmp_path_factory, certs):
    with Mosquitto(tmp_path_factory.mktemp("mosquitto-tls"), certificates=certs) as b:
        yield b


@pytest.fixture
def topic():
    return f"trovik-test/{uuid.uuid4().hex[:12]}"


def client(port, host=LOCAL, **settings):
    settings.setdefault("client_id", f"trovik-{uuid.uuid4().hex[:12]}")
    return native.MqttClient(host=host, port=port, **settings)


async def connected(port, **settings):
    c = client(port, **settings)
    await asyncio.wait_for(c.connect(), 10)
    return c


async def recv(c, timeout=5.0):
    return await asyncio.wait_for(c.recv(), timeout)


async def subscribe(c, topic_filter):
    """Subscribes, and returns once the broker has the subscription in place:
    it answers a connection's packets in order, so a PUBACK after the
    SUBSCRIBE means the SUBSCRIBE was handled."""
    await c.subscribe(topic_filter)
    await c.publish_confirmed("trovik-test/sync", b"", qos="AtLeastOnce")


# ---- settings and values ----------------------------------------------------------


@pytest.mark.parametrize(
    "settings, error, text",
    [
        ({"qos": "atleastonce"}, native.TrovikError, "unknown quality of service: atleastonce"),
        ({"password": "p"}, native.TrovikError, "a password needs a username: MQTT sends no password alone"),
        # the quality of service is looked at before the lone password
        ({"qos": "QoS1", "password": "p"}, native.TrovikError, "unknown quality of service: QoS1"),
        ({"port": 65536}, OverflowError, "out of range integral type conversion attempted"),
        ({"keep_alive_secs": 2**32}, OverflowError, "out of range integral type conversion attempted"),
        ({"will": "a/b"}, TypeError, "'str' object is not an instance of 'MqttWill'"),
        ({"tls": native.MqttWill("a", b"")}, TypeError, "'MqttWill' object is not an instance of 'MqttTls'"),
    ],
)
async def test_client_settings_are_refused(settings, error, text):
    with pytest.raises(error) as caught:
        native.MqttClient(**{"client_id": "c", "host": LOCAL, "port": 1883, **settings})
    assert str(caught.value) == text


async def test_client_arguments_are_keyword_only():
    with pytest.raises(TypeError, match=r"^MqttClient.__new__\(\) takes 0 positional arguments but 3 were given$"):
        native.MqttClient("c", LOCAL, 1883)


async def test_will_holds_what_it_was_given():
    plain = native.MqttWill("a/#", "gone")  # the topic is only checked at connect
    assert (plain.topic, plain.payload, plain.qos, plain.retain) == ("a/#", b"gone", "AtMostOnce", False)
    will = native.MqttWill('a"b\n', bytearray(b"xyz"), qos="ExactlyOnce", retain=True)
    assert (will.payload, will.qos, will.retain) == (b"xyz", "ExactlyOnce", True)
    assert repr(will) == 'MqttWill(topic="a\\"b\\n", payload=<3 bytes>, qos="ExactlyOnce", retain=True)'
    with pytest.raises(native.TrovikError, match="^unknown quality of service: exactlyonce$"):
        native.MqttWill("a", b"", qos="exactlyonce")


@pytest.mark.parametrize(
    "settings, shown",
    [
        ({}, "MqttTls(ca_pem=None, client_certificate=False)"),
        ({"ca_pem": "-----BEGIN"}, "MqttTls(ca_pem=<given>, client_certificate=False)"),
        ({"certificate_pem": b"c", "key_pem": b"k"}, "MqttTls(ca_pem=None, client_certificate=True)"),
    ],
)
async def test_tls_settings_are_read_only_at_connect(settings, shown):
    assert repr(native.MqttTls(**settings)) == shown


@pytest.mark.parametrize("half", [{"certificate_pem": "c"}, {"key_pem": b"k"}])
async def test_a_client_certificate_needs_its_key(half):
    with pytest.raises(native.TrovikError, match="^a client certificate and its key come together$"):
        native.MqttTls(**half)


async def test_an_unconnected_client_refuses_without_touching_the_network():
    c = native.MqttClient(client_id="c", host="no.such.host.invalid", port=1883)
    assert await c.is_connected() is False
    for call in (c.recv, lambda: c.publish("a", b"x"), lambda: c.subscribe("a/#")):
        with pytest.raises(native.TrovikError, match="^resource is closed$"):
            await call()
    await c.disconnect()  # never fails


async def test_an_unknown_quality_of_service_raises_at_the_call():
    c = native.MqttClient(client_id="c", host=LOCAL, port=1883)
    for method in (c.publish, c.publish_confirmed):
        with pytest.raises(native.TrovikError, match="^unknown quality of service: Exactly$"):
            method("t", b"x", qos="Exactly")  # no awaitable is made
    with pytest.raises(TypeError):
        c.publish("t", 1.5)


# ---- through mosquitto --------------------------------------------------------------


@pytest.mark.parametrize("level, qos", [(0, "AtMostOnce"), (1, "AtLeastOnce"), (2, "ExactlyOnce")])
async def test_messages_pass_both_ways_with_paho_at_each_qos(broker, topic, level, qos):
    c = await connected(broker.port, qos=qos)
    await subscribe(c, f"{topic}/in")
    with Paho(broker.port) as paho:
        paho.subscribe(f"{topic}/out", qos=2)

        paho.publish(f"{topic}/in", "21.5 °C".encode(), qos=level)
        m = await recv(c)
        assert (m.topic, m.payload, m.text) == (f"{topic}/in", "21.5 °C".encode(), "21.5 °C")

        # publish_confirmed returns at the PUBACK, at the PUBCOMP, or once written at QoS 0
        await asyncio.wait_for(c.publish_confirmed(f"{topic}/out", b"\x00\xff"), 5)
        await asyncio.wait_for(c.publish(f"{topic}/out", "text", retain=False), 5)
        for payload in (b"\x00\xff", b"text"):
            got = await paho.next_message()
            assert (got.topic, got.payload, got.qos, got.retain) == (f"{topic}/out", payload, level, False)
    await c.disconnect()
    assert await c.is_connected() is False


async def test_a_waiting_recv_holds_back_no_publish_and_receivers_keep_their_order(broker, topic):
    c = await connected(broker.port)
    await subscribe(c, f"{topic}/#")
    first, second = asyncio.ensure_future(c.recv()), asyncio.ensure_future(c.recv())
    await asyncio.sleep(0.05)
    await asyncio.wait_for(c.publish(f"{topic}/1", b"1"), 5)
    await asyncio.wait_for(c.publish_confirmed(f"{topic}/2", b"2"), 5)
    assert (await asyncio.wait_for(first, 5)).payload == b"1"
    assert (await asyncio.wait_for(second, 5)).payload == b"2"
    await c.disconnect()


async def test_a_cancelled_recv_takes_nothing(broker, topic):
    c = await connected(broker.port)
    await subscribe(c, f"{topic}/#")
    sent = [str(i).encode() for i in range(60)]
    for payload in sent:
        await c.publish(f"{topic}/n", payload)
    received = []
    timeouts = [0, 0.0001, 0.0005, 0.002]
    for i in range(20000):
        if len(received) == len(sent):
            break
        try:
            received.append((await asyncio.wait_for(c.recv(), timeouts[i % len(timeouts)])).payload)
        except asyncio.TimeoutError:
            pass
    assert received == sent
    await c.disconnect()


async def test_a_retained_message_waits_for_later_subscribers_until_an_empty_one_clears_it(broker, topic):
    c = await connected(broker.port)
    await c.publish_confirmed(topic, b"21.5", retain=True)

    later = await connected(broker.port)
    await later.subscribe(topic)
    m = await recv(later)
    assert (m.topic, m.number) == (topic, 21.5)
    with Paho(broker.port) as paho:
        paho.subscribe(topic, qos=1)
        got = await paho.next_message()
        assert (got.payload, got.retain) == (b"21.5", True)

    await c.publish_confirmed(topic, b"", retain=True)
    cleared = await connected(broker.port)
    await subscribe(cleared, topic)
    await c.publish_confirmed(topic, b"marker")  # a retained message would come before it
    assert (await recv(cleared)).payload == b"marker"
    for each in (c, later, cleared):
        await each.disconnect()


async def test_the_will_is_published_when_the_connection_drops_not_after_a_disconnect(broker, topic):
    will = native.MqttWill(f"{topic}/will", "gone", qos="ExactlyOnce")
    with Paho(broker.port) as paho:
        paho.subscribe(f"{topic}/#", qos=2)

        polite = await connected(broker.port, will=will)
        await polite.disconnect()
        # Had the broker published the will, paho would see it before this marker.
        paho.publish(f"{topic}/marker", b"after the disconnect", qos=1)
        assert (await paho.next_message()).topic == f"{topic}/marker"

        dropped = await connected(broker.port, will=will)
        assert await dropped.is_connected()
        waiting = asyncio.ensure_future(dropped.recv())  # holds the inbox, not the connection
        await asyncio.sleep(0.05)
        del dropped  # the connection is cut without a DISCONNECT
        gc.collect()
        got = await paho.next_message()
        assert (got.topic, got.payload, got.qos) == (f"{topic}/will", b"gone", 2)
        assert await asyncio.wait_for(waiting, 5) is None


async def test_a_will_topic_with_a_wildcard_fails_the_connect(broker):
    c = client(broker.port, will=native.MqttWill("a/#", b"x"))
    with pytest.raises(native.TrovikError) as caught:
        await c.connect()
    assert str(caught.value) == "transport error: the topic a/# holds a wildcard, which only a subscription may use"
    assert await c.is_connected() is False


@pytest.mark.parametrize(
    "settings, text",
    [
        (
            {"username": ACCOUNT[0], "password": "wrong"},
            # mosquitto answers a wrong password with "not authorized" (code 5)
            "authentication error: the broker does not authorize this client",
        ),
        ({}, "authentication error: the broker does not authorize this client"),
        (
            {"client_id": "", "username": ACCOUNT[0], "password": ACCOUNT[1]},
            "transport error: the broker refused the client id",
        ),
    ],
)
async def test_the_broker_refuses_the_connection(guarded_broker, settings, text):
    c = client(guarded_broker.port, **settings)
    with pytest.raises(native.TrovikError) as caught:
        await asyncio.wait_for(c.connect(), 10)
    assert str(caught.value) == text
    assert await c.is_connected() is False
    with pytest.raises(native.TrovikError, match="^resource is closed$"):
        await c.recv()


async def test_the_right_credentials_connect(guarded_broker, topic):
    c = await connected(guarded_broker.port, username=ACCOUNT[0], password=ACCOUNT[1])
    await subscribe(c, topic)
    await c.publish(topic, b"signed in")
    assert (await recv(c)).payload == b"signed in"
    await c.disconnect()


async def test_a_publish_over_the_packet_limit_is_refused_and_the_connection_stays_up(broker, topic):
    # At QoS 0 a packet is the topic, the payload and 4 bytes while it stays under 128.
    limit = len(topic) + 20 + 4
    c = await connected(broker.port, max_packet_size=limit, qos="AtMostOnce")
    await subscribe(c, topic)
    with pytest.raises(native.TrovikError) as caught:
        await c.publish(topic, bytes(21))
    assert str(caught.value) == (
        f"transport error: the message makes a {limit + 1}-byte packet, over this connection's {limit}-byte limit")
    assert await c.is_connected()
    await c.publish(topic, bytes(20))
    assert (await recv(c)).payload == bytes(20)
    await c.disconnect()

    nothing_fits = await connected(broker.port, max_packet_size=0)
    with pytest.raises(native.TrovikError, match="-byte packet, over this connection's 0-byte limit$"):
        await nothing_fits.publish_confirmed(topic, b"")
    await nothing_fits.disconnect()


async def test_disconnect_releases_a_waiting_recv_with_none(broker, topic):
    c = client(broker.port)
    # mosquitto closes as soon as it reads the DISCONNECT, which may reach the
    # client before its own write has finished: still the end it asked for.
    for _ in range(20):
        await c.connect()
        waiting = asyncio.ensure_future(c.recv())
        await asyncio.sleep(0.002)
        await c.disconnect()
        assert await asyncio.wait_for(waiting, 5) is None
        with pytest.raises(native.TrovikError, match="^resource is closed$"):
            await c.recv()
    # and it connects again, with a new session
    await c.connect()
    await subscribe(c, topic)
    await c.publish(topic, b"again")
    assert (await recv(c)).payload == b"again"
    await c.disconnect()


# ---- TLS ------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "listener, host, ca, reason",
    [
        ("tls_ip_port", "127.0.0.1", "ca.crt", None),
        ("tls_dns_port", "localhost", "ca.crt", None),
        ("tls_ip_port", "127.0.0.1", "other_ca.crt", "self-signed certificate in certificate chain"),
        ("tls_dns_port", "127.0.0.1", "ca.crt", "IP address mismatch"),
        ("tls_ip_port", "localhost", "ca.crt", "hostname mismatch"),
    ],
)
async def test_tls_checks_the_broker_against_the_ca_and_its_name(tls_broker, certs, topic, listener, host, ca, reason):
    c = client(getattr(tls_broker, listener), host=host, tls=native.MqttTls(ca_pem=certs.text(ca)))
    if reason:
        with pytest.raises(native.TrovikError) as caught:
            await asyncio.wait_for(c.connect(), 10)
        assert str(caught.value) == f"transport error: TLS: certificate verify failed: {reason}"
        assert await c.is_connected() is False
        return
    await asyncio.wait_for(c.connect(), 10)
    await subscribe(c, topic)
    await c.publish(topic, b"sealed")
    assert (await recv(c)).payload == b"sealed"
    await c.disconnect()


async def test_tls_presents_a_client_certificate_to_a_broker_that_requires_one(tls_broker, certs, topic):
    pair = native.MqttTls(ca_pem=certs.text("ca.crt"), certificate_pem=certs.text("client.crt"),
                          key_pem=certs.path("client.key").read_bytes())
    c = await connected(tls_broker.tls_client_port, tls=pair)
    await subscribe(c, topic)
    await c.publish(topic, b"known")
    assert (await recv(c)).payload == b"known"
    await c.disconnect()

    anonymous = client(tls_broker.tls_client_port, tls=native.MqttTls(ca_pem=certs.text("ca.crt")))
    # under TLS 1.3 the broker's refusal arrives as an alert after the handshake,
    # unless the reset that follows the CONNECT written meanwhile discards it
    with pytest.raises(native.TrovikError, match="^transport error: (TLS|I/O): "):
        await asyncio.wait_for(anonymous.connect(), 10)
    assert await anonymous.is_connected() is False


@pytest.mark.parametrize("ca, trusted", [("ca.crt", True), ("other_ca.crt", False)])
async def test_without_a_ca_the_system_roots_come_from_ssl_cert_file(tls_broker, certs, monkeypatch, ca, trusted):
    monkeypatch.setenv("SSL_CERT_FILE", str(certs.path(ca)))
    monkeypatch.delenv("SSL_CERT_DIR", raising=False)
    c = client(tls_broker.tls_ip_port, tls=native.MqttTls())
    if trusted:
        await asyncio.wait_for(c.connect(), 10)
        assert await c.is_connected()
        await c.disconnect()
    else:
        with pytest.raises(native.TrovikError, match="^transport error: TLS: certificate verify failed"):
            await asyncio.wait_for(c.connect(), 10)


async def test_a_ca_file_that_is_not_pem_fails_the_connect(tls_broker):
    c = client(tls_broker.tls_ip_port, tls=native.MqttTls(ca_pem="not a certificate"))
    with pytest.raises(native.TrovikError, match="^transport error: the CA file holds no CERTIFICATE block$"):
        await c.connect()


# ---- against a scripted broker --------------------------------------------------------


@pytest.mark.parametrize(
    "code, text",
    [
        (1, "transport error: Connection refused, return code: `RefusedProtocolVersion`"),
        (3, "transport error: Connection refused, return code: `ServiceUnavailable`"),
        (4, "authentication error: the broker refused the username or password"),
        (5, "authentication error: the broker does not authorize this client"),
    ],
)
async def test_a_refused_connack_fails_the_connect_with_its_text(code, text):
    async def script(conn):
        await conn.expect(wire.CONNECT)
        await conn.send(wire.connack(code))
        await conn.closed()

    async with scripted_broker(script) as b:
        c = client(b.port)
        with pytest.raises(native.TrovikError) as caught:
            await asyncio.wait_for(c.connect(), 10)
        assert str(caught.value) == text


async def test_a_first_packet_other_than_connack_fails_the_connect():
    async def script(conn):
        await conn.expect(wire.CONNECT)
        await conn.send(wire.packet(wire.PINGRESP, 0))
        await conn.closed()

    async with scripted_broker(script) as b:
        with pytest.raises(native.TrovikError, match="^transport error: Expected ConnAck packet, received: "):
            await asyncio.wait_for(client(b.port).connect(), 10)


async def test_a_silent_listener_fails_the_connect_after_five_seconds():
    async def script(conn):
        await asyncio.sleep(30)  # reads nothing, answers nothing

    async with scripted_broker(script) as b:
        with pytest.raises(native.TrovikError, match="^transport error: Network timeout$"):
            await asyncio.wait_for(client(b.port).connect(), 15)


async def test_a_connect_abandoned_with_its_closed_loop_holds_the_client_no_longer():
    with socket.create_server((LOCAL, 0)) as silent:  # accepts, never answers
        c = client(silent.getsockname()[1])

        def connect_then_close_the_loop():
            loop = asyncio.new_event_loop()

            async def start():
                pending = c.connect()
                await asyncio.sleep(0.1)
                return pending

            loop.run_until_complete(start())
            loop.close()

        await asyncio.to_thread(connect_then_close_the_loop)
        # Without the abandoned connect let go, this waits out its five seconds.
        await asyncio.wait_for(c.disconnect(), 2)
        assert await c.is_connected() is False


@pytest.mark.parametrize("keep_alive_secs, sent", [(None, 30), (0, 0), (65535, 65535), (65536, 65535), (2**32 - 1, 65535)])
async def test_connect_carries_the_settings(keep_alive_secs, sent):
    connects = []

    async def script(conn):
        connects.append(await conn.accept())
        await conn.closed()

    will = native.MqttWill("status/n1", b"offline", qos="AtLeastOnce", retain=True)
    async with scripted_broker(script) as b:
        c = client(b.port, client_id="", username="n1", keep_alive_secs=keep_alive_secs, will=will)
        await c.connect()
        await c.disconnect()
    (seen,) = connects
    # MQTT carries the keep-alive in 16 bits: longer ones are sent as the longest it holds
    assert seen.keep_alive == sent
    assert (seen.client_id, seen.clean_session, seen.username, seen.password) == ("", True, b"n1", b"")
    assert seen.will == ("status/n1", b"offline", 1, True)


@pytest.mark.parametrize("qos", ["AtLeastOnce", "ExactlyOnce"])
async def test_publish_confirmed_waits_for_the_last_acknowledgement_and_lets_other_calls_go_on(qos):
    progress, release = asyncio.Queue(), asyncio.Event()

    async def script(conn):
        await conn.accept()
        p = await conn.expect(wire.PUBLISH)
        assert p.qos == QOS.index(qos)
        if qos == "ExactlyOnce":
            await conn.send(wire.ack(wire.PUBREC, p.pkid))
            assert (await conn.expect(wire.PUBREL)).pkid == p.pkid
        await progress.put(p)
        another = await conn.expect(wire.PUBLISH)  # published while the first awaits its answer
        await progress.put(another)
        await release.wait()
        await conn.send(wire.ack(wire.PUBACK if qos == "AtLeastOnce" else wire.PUBCOMP, p.pkid))
        await conn.closed()

    async with scripted_broker(script) as b:
        c = await connected(b.port)
        confirmed = asyncio.ensure_future(c.publish_confirmed("t/1", b"x", qos=qos))
        await asyncio.wait_for(progress.get(), 5)
        await asyncio.wait_for(c.publish("t/2", b"y", qos="AtMostOnce"), 5)
        assert await asyncio.wait_for(c.is_connected(), 5)
        await asyncio.wait_for(progress.get(), 5)
        await asyncio.sleep(0.1)
        assert not confirmed.done()
        release.set()
        assert await asyncio.wait_for(confirmed, 5) is None
        await c.disconnect()


@pytest.mark.parametrize(
    "ending, confirmation, received",
    [
        (
            "broker",
            "transport error: the connection ended before the broker acknowledged the message: "
            "Mqtt state: the broker closed the connection",
            "transport error: the connection to the broker ended: Mqtt state: the broker closed the connection",
        ),
        ("client", "transport error: the connection ended before the broker acknowledged the message: "
                   "the client disconnected", None),
    ],
)
async def test_an_unacknowledged_publish_fails_when_the_connection_ends(ending, confirmation, received):
    async def script(conn):
        await conn.accept()
        await conn.expect(wire.SUBSCRIBE)
        await conn.send(wire.publish("t/in", b"before the end"))
        await conn.expect(wire.PUBLISH)
        if ending == "client":
            await conn.closed()  # never acknowledges

    async with scripted_broker(script) as b:
        c = await connected(b.port)
        await c.subscribe("t/in")
        confirmed = asyncio.ensure_future(c.publish_confirmed("t/out", b"x"))
        assert (await recv(c)).payload == b"before the end"
        if ending == "client":
            await asyncio.sleep(0.1)
            await c.disconnect()
        with pytest.raises(native.TrovikError) as caught:
            await asyncio.wait_for(confirmed, 5)
        assert str(caught.value) == confirmation
        assert await c.is_connected() is False
        if received:
            # the end is reported once, then the inbox stays empty
            with pytest.raises(native.TrovikError) as caught:
                await recv(c)
            assert str(caught.value) == received
            assert await recv(c) is None
            assert await recv(c) is None
        else:
            with pytest.raises(native.TrovikError, match="^resource is closed$"):
                await c.recv()


async def test_a_publish_from_the_broker_over_the_packet_limit_ends_the_connection():
    async def script(conn):
        await conn.accept()
        await conn.expect(wire.SUBSCRIBE)
        await conn.send(wire.publish("t", bytes(10)))
        await conn.send(wire.publish("t", bytes(100)))
        await conn.closed()

    async with scripted_broker(script) as b:
        c = await connected(b.port, max_packet_size=50)
        await c.subscribe("t")
        assert (await recv(c)).payload == bytes(10)
        with pytest.raises(native.TrovikError) as caught:
            await recv(c)
        assert str(caught.value) == ("transport error: the connection to the broker ended: "
                                     "Mqtt state: the broker sent a 105-byte packet, over this connection's "
                                     "50-byte limit")
        assert await recv(c) is None
        assert await c.is_connected() is False


async def test_recv_gives_a_message_that_names_its_payload():
    async def script(conn):
        await conn.accept()
        await conn.expect(wire.SUBSCRIBE)
        await conn.send(wire.publish("t/\"q\"", b"\xff", qos=1, pkid=7))
        assert (await conn.expect(wire.PUBACK)).pkid == 7
        await conn.closed()

    async with scripted_broker(script) as b:
        c = await connected(b.port)
        await c.subscribe("t/#")
        m = await recv(c)
        assert repr(m) == 'MqttMessage(topic="t/\\"q\\"", payload=<1 bytes>)'
        for getter in ("text", "number"):
            with pytest.raises(ValueError, match="^the payload is not UTF-8 text$"):
                getattr(m, getter)
        with pytest.raises(TypeError):
            native.MqttMessage()
        await c.disconnect()


# ---- the transport facade over an MQTT client ---------------------------------------


async def test_pytransport_mqtt_moves_messages_through_the_broker(broker, topic):
    will = native.MqttWill(f"{topic}/will", "gone")
    receiver = native.PyTransport.mqtt(client_id=f"trovik-{uuid.uuid4().hex[:12]}", host=LOCAL, port=broker.port,
                                       qos="AtLeastOnce")
    sender = native.PyTransport.mqtt(client_id=f"trovik-{uuid.uuid4().hex[:12]}", host=LOCAL, port=broker.port,
                                     will=will)
    await asyncio.wait_for(receiver.connect(), 10)
    await asyncio.wait_for(sender.connect(), 10)
    await receiver.subscribe(f"{topic}/+")
    # The SUBSCRIBE and the PUBLISH travel on two connections: send again
    # until the broker has the subscription in place.
    for _ in range(20):
        await sender.send(f"{topic}/t", "21.5")
        try:
            message = await asyncio.wait_for(receiver.recv(), 0.5)
            break
        except asyncio.TimeoutError:
            pass
    assert (message.topic, message.number) == (f"{topic}/t", 21.5)
    assert will.topic == f"{topic}/will"  # the will was copied, not consumed


async def test_pytransport_mqtt_settings_are_the_clients():
    with pytest.raises(native.TrovikError, match="^unknown quality of service: Sometimes$"):
        native.PyTransport.mqtt(client_id="x", host=LOCAL, port=1, qos="Sometimes")
    with pytest.raises(TypeError):
        native.PyTransport.mqtt("x", LOCAL, 1)
    assert native.PyTransport.mqtt.__doc__ == "Creates an MQTT transport from broker settings."
