"""Modbus RTU frames built and parsed with their CRC, beside pymodbus's RTU framer.

    python3 bench/bench_modbus.py [frames]

Build: a read-holding-registers request and a 60-register write-multiple-registers request,
framed for a unit with their CRC, the way each library is called for it (ours: the module's
builder functions; pymodbus: a request PDU object handed to `FramerRTU.buildFrame`).

Parse: a 60-register read reply frame, its CRC checked and its registers read out (ours:
`modbus_parse_frame(...).registers()`; pymodbus: `FramerRTU.handleFrame` on a client-side
framer, which checks the CRC and decodes the reply PDU).

Each row times the same work on both sides in interleaved rounds and reports the medians per
frame and the ratio theirs / ours (above 1 means ours is faster).
"""
import statistics
import sys
import time

from pymodbus.framer import FramerRTU
from pymodbus.pdu import DecodePDU
from pymodbus.pdu import register_message as rm

import trovik._native as trovik

ROUNDS = 15
FRAMES = int(sys.argv[1]) if len(sys.argv) > 1 else 20_000
REGISTERS = list(range(1000, 1060))


def timed(run):
    def go():
        start = time.perf_counter()
        run()
        return time.perf_counter() - start

    return go


def compare(ours, theirs):
    """The median times of both sides, run alternately round by round."""
    times = {"ours": [], "theirs": []}
    for r in range(ROUNDS):
        order = (("ours", ours), ("theirs", theirs)) if r % 2 == 0 else (("theirs", theirs), ("ours", ours))
        for name, run in order:
            times[name].append(run())
    return statistics.median(times["ours"]), statistics.median(times["theirs"])


def row(label, ours, theirs):
    a, b = compare(timed(ours), timed(theirs))
    print(f"{label:<44} {a / FRAMES * 1e9:9.0f} ns {b / FRAMES * 1e9:9.0f} ns   {b / a:7.1f}x")


def main():
    client_framer = FramerRTU(DecodePDU(is_server=False))
    server_framer = FramerRTU(DecodePDU(is_server=True))
    reply = trovik.modbus_read_holding_registers_reply(1, REGISTERS)
    # Both sides must agree before they are timed.
    assert trovik.modbus_read_holding_registers(1, 100, 10) == client_framer.buildFrame(
        rm.ReadHoldingRegistersRequest(address=100, count=10, dev_id=1))
    assert trovik.modbus_write_multiple_registers(1, 100, REGISTERS) == client_framer.buildFrame(
        rm.WriteMultipleRegistersRequest(address=100, registers=REGISTERS, dev_id=1))
    assert reply == server_framer.buildFrame(rm.ReadHoldingRegistersResponse(registers=REGISTERS, dev_id=1))
    assert client_framer.handleFrame(reply, 0, 0)[1].registers == trovik.modbus_parse_frame(reply).registers()

    def build_read_ours():
        f = trovik.modbus_read_holding_registers
        for i in range(FRAMES):
            f(1, i, 10)

    def build_read_theirs():
        build, request = client_framer.buildFrame, rm.ReadHoldingRegistersRequest
        for i in range(FRAMES):
            build(request(address=i, count=10, dev_id=1))

    def build_write_ours():
        f = trovik.modbus_write_multiple_registers
        for i in range(FRAMES):
            f(1, i, REGISTERS)

    def build_write_theirs():
        build, request = client_framer.buildFrame, rm.WriteMultipleRegistersRequest
        for i in range(FRAMES):
            build(request(address=i, registers=REGISTERS, dev_id=1))

    def parse_ours():
        parse = trovik.modbus_parse_frame
        for _ in range(FRAMES):
            parse(reply).registers()

    def parse_theirs():
        handle = client_framer.handleFrame
        for _ in range(FRAMES):
            handle(reply, 0, 0)[1].registers

    print(f"{'per frame':<44} {'ours':>12} {'pymodbus':>12}   theirs/ours")
    row("build read holding registers (8 B)", build_read_ours, build_read_theirs)
    row("build write 60 registers (129 B)", build_write_ours, build_write_theirs)
    row("parse a 60-register reply (125 B)", parse_ours, parse_theirs)


if __name__ == "__main__":
    main()
