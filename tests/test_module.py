"""The module frame: registration order, exception types, constants, version."""
import importlib.util
import pathlib
import subprocess
import sys
import textwrap

import pytest

import trovik._native as native

ORDER_FILE = pathlib.Path(__file__).resolve().parent.parent / "src" / "registration_order.txt"

# The binding sources built into the module so far. Each area that lands adds
# its source here, and the registration test checks it landed in its place.
BUILT_SOURCES = {
    "lib",
    "exception",
    "constant",
    "constants",
    "mesh",
    "routing",
    "transport",
    "ros2",
    "zenoh",
    "lora",
    "lora_region",
    "codec",
    "bus",
    "coap",
    "loopback",
    "mqtt",
    "sync",
    "ladder",
    "kit",
    "motion",
    "telemetry",
    "power",
    "mavlink",
    "mavlink_schema",
    "mavlink_enums",
    "mavlink_protocol",
    "serial",
    "port",
    "can",
    "lora_radio",
    "radios",
    "hal",
    "gpio",
    "security",
    "audit",
    "session",
    "rules",
    "profile",
    "sim",
    "sensors",
    "sensors_driver",
    "actuators",
    "actuators_driver",
    "update",
    "modbus",
    "lorawan",
    "lorawan_link",
    "lorawan_relay",
    "lorawan_packages",
    "gateway",
    "gateway_chirpstack",
    "gateway_station",
    "gateway_network",
    "lorawan_device",
    "lorawan_relay_node",
}


def registration_order():
    rows = []
    for line in ORDER_FILE.read_text().splitlines():
        if line and not line.startswith("#"):
            source, name = line.split()
            rows.append((source, name))
    return rows


def test_registration_list_is_complete():
    rows = registration_order()
    names = [name for _, name in rows]
    assert len(names) == 778 and len(set(names)) == 778
    assert names[:3] == ["version", "TrovikError", "MqttClient"]
    assert names[-1] == "keyexpr_includes"


def test_all_follows_registration_order():
    expected = [name for source, name in registration_order()
                if source in BUILT_SOURCES]
    assert native.__all__ == expected
    for name in native.__all__:
        assert hasattr(native, name), name


def test_a_fresh_module_object_gets_the_same_entries():
    # Running the execution step again adds the same names in the same order;
    # types and exceptions are made once per process and shared.
    spec = importlib.util.find_spec("trovik._native")
    fresh = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(fresh)
    assert fresh is not native
    assert fresh.__all__ == native.__all__
    assert fresh.TrovikError is native.TrovikError and fresh.Router is native.Router
    assert fresh.version() == native.version()


def test_version():
    assert native.version() == "0.2.0"
    assert native.version.__text_signature__ == "()"
    assert native.version.__doc__ == "Returns the version of the native trovik module."
    assert native.version.__module__ == "trovik._native"
    with pytest.raises(TypeError):
        native.version(1)


def test_trovik_error():
    err = native.TrovikError
    assert issubclass(err, Exception)
    assert err.__module__ == "trovik" and err.__name__ == "TrovikError"
    assert err.__doc__ == "Raised when a trovik operation fails."


@pytest.mark.parametrize(
    "name, value",
    [
        ("I2C_RESERVED_FROM", 120),
        ("I2C_RESERVED_BELOW", 8),
        ("CHIRPSTACK_UPLINK_TOPIC", "application/+/device/+/event/up"),
        ("LORAWAN_SAVED_LEN", 1678),
        ("LORAWAN_RXR_DELAY_US", 18000000),
        ("LORAWAN_MAX_FRAGMENTS", 16383),
        ("LORAWAN_FIRMWARE_PORT", 203),
    ],
)
def test_constants(name, value):
    got = getattr(native, name)
    assert got == value and type(got) is type(value)


def test_classes_and_functions_report_the_module():
    assert native.Router.__module__ == "trovik._native"
    assert native.mesh_frame.__module__ == "trovik._native"
    assert native.Router.__name__ == "Router"


def test_import_starts_no_thread():
    code = textwrap.dedent(
        """
        import threading, os
        import trovik._native
        print(len(os.listdir('/proc/self/task')), threading.active_count())
        """
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.split()
    assert out == ["1", "1"]
