"""The calling conventions every function, method and constructor shares,
exercised on real classes and functions of the module."""
import subprocess
import sys
import textwrap

import pytest

import trovik._native as native

HAS_NOTES = sys.version_info >= (3, 11)


def raises(exc_type, fn, *args, **kwargs):
    with pytest.raises(exc_type) as info:
        fn(*args, **kwargs)
    return info.value


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: native.mesh_frame(1, 2, 3, b"", 4, 5),
         "mesh_frame() takes from 4 to 5 positional arguments but 6 were given"),
        (lambda: native.mesh_parse_frame(b"", b""), "mesh_parse_frame() takes 1 positional arguments but 2 were given"),
        (lambda: native.Router(1, 2, 3), "Router.__new__() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda: native.SeenPackets(size=3), "SeenPackets.__new__() got an unexpected keyword argument 'size'"),
        (lambda: native.mesh_frame(1, 2, 3, b"", src=1), "mesh_frame() got multiple values for argument 'src'"),
        (lambda: native.mesh_frame(1), "mesh_frame() missing 3 required positional arguments: 'dst', 'id', and 'payload'"),
        (lambda: native.mesh_frame(1, 2), "mesh_frame() missing 2 required positional arguments: 'id' and 'payload'"),
        (lambda: native.mesh_crc16(), "mesh_crc16() missing 1 required positional argument: 'data'"),
        (lambda: native.Router(1).observe(1, 2), "Router.observe() missing 1 required positional argument: 'cost'"),
        (lambda: native.Router(1).forward(1, 2), "Router.forward() takes 1 positional arguments but 2 were given"),
    ],
)
def test_argument_count_and_keyword_texts(call, message):
    assert str(raises(TypeError, call)) == message


def test_keywords_fill_parameters_by_name():
    frame = native.mesh_frame(payload=b"hi", id=258, dst=2, src=1, hop_limit=None)
    assert (frame.src, frame.dst, frame.id, frame.hop_limit) == (1, 2, 258, 3)


@pytest.mark.parametrize(
    "call, param",
    [
        (lambda: native.mesh_frame(1, 2, 3, b"", hop_limit=256), "hop_limit"),
        (lambda: native.mesh_frame(-1, 2, 3, b""), "src"),
        (lambda: native.mesh_frame(1, 2**32, 3, b""), "dst"),
        (lambda: native.mesh_frame(1, 2, 65536, b""), "id"),
        (lambda: native.Router(1).observe(1, 2, 65536), "cost"),
        (lambda: native.mesh_crc16([1, 256]), "data"),
    ],
)
def test_narrow_integers_overflow(call, param):
    exc = raises(OverflowError, call)
    assert str(exc) == "out of range integral type conversion attempted"
    if HAS_NOTES:
        assert exc.__notes__ == [f"while processing '{param}'"]


def test_wide_integers_use_the_interpreters_errors():
    exc = raises(OverflowError, native.SeenPackets, -1)
    assert str(exc) != "out of range integral type conversion attempted"
    raises(TypeError, native.SeenPackets, 1.5)
    raises(OverflowError, native.SeenPackets, 2**64)


def test_integers_accept_index_objects_and_bools():
    class Index:
        def __index__(self):
            return 7

    assert native.Router(Index()).address == 7
    assert native.Router(True).address == 1
    raises(TypeError, native.Router, 1.0)
    raises(TypeError, native.Router, "1")


def test_none_is_refused_where_the_default_is_not_none():
    exc = raises(TypeError, native.SeenPackets, None)
    if HAS_NOTES:
        assert exc.__notes__ == ["while processing 'capacity'"]
    raises(TypeError, native.Router, 1, None)


@pytest.mark.parametrize("data", [b"ab", bytearray(b"ab"), [97, 98], (97, 98), memoryview(b"ab")])
def test_bytes_parameters_accept_byte_sequences(data):
    assert native.mesh_crc16(data) == native.mesh_crc16(b"ab")


@pytest.mark.parametrize("data", ["ab", 1.5, None, [1, "x"]])
def test_bytes_parameters_refuse_other_things(data):
    exc = raises(TypeError, native.mesh_crc16, data)
    if HAS_NOTES:
        assert exc.__notes__ == ["while processing 'data'"]


def test_text_parameter_refuses_bytes():
    exc = raises(TypeError, native.Message, b"x", b"")
    assert str(exc) == "'bytes' object is not an instance of 'str'"


def test_text_signatures_come_from_the_declaration():
    assert native.Router.__text_signature__ == "(address, capacity=...)"
    assert native.SeenPackets.__text_signature__ == "(capacity=...)"
    assert native.Router.observe.__text_signature__ == "($self, origin, via, cost)"
    assert native.Router.routes.__text_signature__ == "($self)"
    assert native.mesh_frame.__text_signature__ == "(src, dst, id, payload, hop_limit=None)"
    assert native.Message.__text_signature__ == "(topic, payload)"
    assert native.Router.__doc__.startswith(
        "One node routing table, learned from the traffic the node hears.\n\n"
        "Creates an empty routing table for a node at `address`."
    )
    assert native.Router.address.__doc__ == "The address this router answers for."


def test_methods_without_parameters_use_the_no_argument_convention():
    with pytest.raises(TypeError):
        native.Router(1).routes(1)
    with pytest.raises(TypeError):
        native.mesh_limits(1)


@pytest.mark.parametrize("cls", ["MeshFrame", "Route", "ForwardDecision"])
def test_classes_without_a_constructor_refuse_instantiation(cls):
    with pytest.raises(TypeError):
        getattr(native, cls)()


def test_component_errors_are_trovik_errors():
    exc = raises(native.TrovikError, native.mesh_parse_frame, b"\x00" * 13)
    assert isinstance(exc, Exception)
    assert exc.args == ("mesh frame is shorter than its header and checksum",)


def test_reentrant_borrow_is_refused():
    # A method that changes the object holds it exclusively for the call; a
    # callback re-entering the same object sees the conflict.
    router = native.Router(1)
    seen = []

    class Index:
        def __index__(self):
            seen.append(router.capacity)  # a shared borrow while none is held: fine
            return 5

    assert router.observe(Index(), 2, 3)
    assert seen == [64]


# ---- blocking calls in daemon threads at interpreter exit ---------------------------------------

# Each kind of blocking call: what it needs, then one step a daemon thread
# repeats until the interpreter exits under it.
DAEMON_LOOPS = {
    "serial port": ("a, b = native.SerialPort.pair(9600, 'None', 1)", "a.write(b'x'); b.read(1, 0)"),
    "radio": ("chip = native.SimulatedLoraChip.sx126x('HighPower'); radio = chip.radio()\n"
              "radio.configure(868_100_000, native.LoraLink(7, 125000), 14)", "radio.transmit(b'x')"),
    "CAN bus": ("a = native.CanBus.simulated(); b = a.join()",
                "a.send(native.can_frame(1, False, b'x')); b.receive(0)"),
    "I2C driver": ("ina = native.Ina219(native.I2cBus.simulated([native.ina219_sim_part(0x40)]), 0x40)",
                   "ina.measure()"),
    "Modbus client": ("line = native.ModbusLine(); device = native.ModbusServer(1)\n"
                      "device.set_holding_registers(0, [1, 2]); line.attach(device)\n"
                      "client = native.ModbusClient(line.port(9600, 'None', 1))",
                      "client.read_holding_registers(1, 0, 2)"),
    "1-Wire thermometer": ("thermometer = native.Ds18b20Thermometer.at(sys.argv[1])", "thermometer.read()"),
}

W1_SLAVE = "72 01 4b 46 7f ff 0e 10 57 : crc=57 YES\n72 01 4b 46 7f ff 0e 10 57 t=23125\n"


@pytest.mark.parametrize("kind", DAEMON_LOOPS)
def test_an_exit_under_daemon_threads_inside_blocking_calls_is_clean(kind, tmp_path):
    # The interpreter ends such threads as they take its lock back; the exit
    # must neither abort nor say anything, however the threads are caught.
    setup, step = DAEMON_LOOPS[kind]
    program = textwrap.dedent("""\
        import sys, threading, time
        import trovik._native as native
        {setup}
        def loop():
            while True:
                {step}
        for _ in range(3):
            threading.Thread(target=loop, daemon=True).start()
        time.sleep(0.2)
        """).format(setup=setup, step=step)
    w1_slave = tmp_path / "w1_slave"
    w1_slave.write_text(W1_SLAVE)
    for _ in range(4):
        run = subprocess.run([sys.executable, "-c", program, str(w1_slave)], capture_output=True, timeout=120)
        assert (run.returncode, run.stderr.decode()) == (0, "")
