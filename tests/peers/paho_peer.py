"""paho-mqtt as the independent second party of the MQTT tests.

`Paho(port)` connects an MQTT 3.1.1 paho client to a broker on 127.0.0.1 and
runs its network loop on paho's own thread; every call here waits at most a
few seconds.
"""

from __future__ import annotations

import asyncio
import queue
import threading
import uuid

import paho.mqtt.client as paho

WAIT = 5.0


class Paho:
    def __init__(self, port: int, *, client_id: str | None = None) -> None:
        self.client = paho.Client(paho.CallbackAPIVersion.VERSION2, client_id=client_id or f"paho-{uuid.uuid4().hex[:12]}",
                                  protocol=paho.MQTTv311)
        self.messages: queue.Queue[paho.MQTTMessage] = queue.Queue()
        self._connected = threading.Event()
        self._subscribed: dict[int, threading.Event] = {}
        self._lock = threading.Lock()
        self.client.on_connect = lambda c, u, flags, reason, props: self._connected.set()
        self.client.on_message = lambda c, u, message: self.messages.put(message)
        self.client.on_subscribe = self._on_subscribe
        self.client.connect("127.0.0.1", port, keepalive=30)
        self.client.loop_start()
        if not self._connected.wait(WAIT):
            self.close()
            raise RuntimeError("paho did not connect")

    def _on_subscribe(self, client, userdata, mid, reasons, properties) -> None:
        with self._lock:
            event = self._subscribed.setdefault(mid, threading.Event())
        event.set()

    def subscribe(self, topic: str, qos: int = 2) -> None:
        """Subscribes and waits for the SUBACK."""
        with self._lock:
            result, mid = self.client.subscribe(topic, qos)
            assert result == paho.MQTT_ERR_SUCCESS
            event = self._subscribed.setdefault(mid, threading.Event())
        assert event.wait(WAIT), "no SUBACK"

    def publish(self, topic: str, payload: bytes, qos: int = 0, retain: bool = False) -> None:
        """Publishes and waits until paho has finished the QoS handshake."""
        info = self.client.publish(topic, payload, qos=qos, retain=retain)
        info.wait_for_publish(WAIT)
        assert info.is_published()

    async def next_message(self, timeout: float = WAIT) -> paho.MQTTMessage | None:
        """The next message paho received, or None after `timeout`."""
        try:
            return await asyncio.to_thread(self.messages.get, True, timeout)
        except queue.Empty:
            return None

    def close(self) -> None:
        self.client.disconnect()
        self.client.loop_stop()

    def __enter__(self) -> Paho:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
