"""Frames per second through `LoraRadio.transmit` and `LoraRadio.receive` on a
simulated SX126x, beside a plain pure-Python driver that clocks the same
command sequence into a pure-Python model of the chip (what a program without
this module would write to test its radio code).

    python3 bench/bench_radio.py

Rounds are interleaved; each figure is the median over the rounds.
"""
import statistics
import time

import trovik._native as trovik

FREQ = 868_100_000
PAYLOAD = bytes(range(32))


class PyChip:
    """The SX126x commands the driver uses, kept in dicts and a bytearray."""

    def __init__(self):
        self.buffer = bytearray(256)
        self.registers = {0x0740: 0x14, 0x0741: 0x24}
        self.irq_mask = self.irq = 0
        self.mode = "stdby"
        self.timed = False
        self.packet = bytes([0, 8, 0, 255, 1, 0])
        self.arrivals = []
        self.sent = []
        self.rx_len = 0

    def write(self, data):
        op, p = data[0], data[1:]
        if op == 0x80:
            self.mode = "stdby"
        elif op == 0x0E:
            self.buffer[p[0]:p[0] + len(p) - 1] = p[1:]
        elif op == 0x0D:
            address = p[0] << 8 | p[1]
            for k, v in enumerate(p[2:]):
                self.registers[address + k] = v
        elif op == 0x8C:
            self.packet = bytes(p[:6])
        elif op == 0x08:
            self.irq_mask = p[0] << 8 | p[1]
        elif op == 0x02:
            self.irq &= ~(p[0] << 8 | p[1])
        elif op == 0x83:
            self.sent.append(bytes(self.buffer[:self.packet[3]]))
            self.irq |= self.irq_mask & 0x0001
        elif op == 0x82:
            t = p[0] << 16 | p[1] << 8 | p[2]
            self.mode, self.timed = ("rx", t not in (0, 0xFFFFFF))

    def query(self, data, n):
        op = data[0]
        if op == 0x12:
            if self.mode == "rx":
                if self.arrivals:
                    frame = self.arrivals.pop(0)
                    self.buffer[:len(frame)] = frame
                    self.rx_len = len(frame)
                    self.irq |= self.irq_mask & 0x0016
                    self.mode = "stdby"
                elif self.timed:
                    self.irq |= self.irq_mask & 0x0200
                    self.mode = "stdby"
            return bytes([self.irq >> 8, self.irq & 0xFF])
        if op == 0x1D:
            address = data[1] << 8 | data[2]
            return bytes(self.registers.get(address + i, 0) for i in range(n))
        if op == 0x13:
            return bytes([self.rx_len, 0])
        if op == 0x14:
            return bytes([180, 20, 180])
        if op == 0x1E:
            return bytes(self.buffer[data[1]:data[1] + n])
        return bytes(n)


class PyDriver:
    """The same command sequence as the module's driver, in plain Python."""

    def __init__(self, chip, link):
        self.chip, self.link = chip, link

    def update(self, address, change):
        value = self.chip.query(bytes([0x1D, address >> 8, address & 0xFF, 0]), 1)[0]
        self.chip.write(bytes([0x0D, address >> 8, address & 0xFF, change(value)]))

    def packet_params(self, length):
        link = self.link
        self.chip.write(bytes([0x8C, link.preamble_symbols >> 8, link.preamble_symbols & 0xFF,
                               0 if link.explicit_header else 1, length, int(link.crc), 0]))
        self.update(0x0736, lambda v: v | 0x04)

    def transmit(self, payload):
        c = self.chip
        c.write(b"\x80\x00")
        c.write(b"\x0e\x00" + bytes(payload))
        self.packet_params(len(payload))
        c.write(b"\x08\x02\x01\x02\x01\x00\x00\x00\x00")
        self.update(0x0889, lambda v: v | 0x04)
        c.write(b"\x02\x43\xff")
        airtime = self.link.airtime_us(len(payload))
        steps = min((airtime + 1_000_000) * 64 // 1000, 0xFFFFFE)
        c.write(bytes([0x83, steps >> 16, (steps >> 8) & 0xFF, steps & 0xFF]))
        while True:
            irq = c.query(b"\x12\x00", 2)
            if irq[1] & 0x01:
                c.write(b"\x02\x43\xff")
                return airtime

    def receive(self, timeout_us):
        c = self.chip
        c.write(b"\x80\x00")
        self.packet_params(255)
        c.write(b"\x08\x02\x62\x02\x62\x00\x00\x00\x00")
        c.write(b"\x02\x43\xff")
        steps = max(1, min(timeout_us * 64 // 1000, 0xFFFFFE))
        c.write(bytes([0x82, steps >> 16, (steps >> 8) & 0xFF, steps & 0xFF]))
        while True:
            irq = c.query(b"\x12\x00", 2)
            value = irq[0] << 8 | irq[1]
            if value & 0x0262:
                c.write(b"\x0d\x09\x02\x00")
                self.update(0x0944, lambda v: v | 0x02)
                c.write(b"\x02\x43\xff")
                if value & 0x0002:
                    length = c.query(b"\x13\x00", 2)[0]
                    payload = c.query(b"\x1e\x00\x00", length)
                    levels = c.query(b"\x14\x00", 3)
                    return payload, -levels[0] / 2, levels[1] / 4
                return None


def rate(fn, frames):
    start = time.perf_counter()
    fn(frames)
    return frames / (time.perf_counter() - start)


def main(rounds=7, frames=5_000):
    link = trovik.LoraLink(7, 125_000)
    chip = trovik.SimulatedLoraChip.sx126x("HighPower")
    radio = chip.radio()
    radio.configure(FREQ, link, 14)
    py_chip = PyChip()
    py_radio = PyDriver(py_chip, link)

    def ours_tx(n):
        for _ in range(n):
            radio.transmit(PAYLOAD)

    def theirs_tx(n):
        for _ in range(n):
            py_radio.transmit(PAYLOAD)

    def ours_rx(n):
        for _ in range(n):
            chip.hear(PAYLOAD, -90.0, 5.0)
            radio.receive(100_000)

    def theirs_rx(n):
        for _ in range(n):
            py_chip.arrivals.append(PAYLOAD)
            py_radio.receive(100_000)

    def ours_timeout(n):
        for _ in range(n):
            radio.receive(100_000)

    def theirs_timeout(n):
        for _ in range(n):
            py_radio.receive(100_000)

    cases = [("transmit 32 B", ours_tx, theirs_tx), ("receive 32 B", ours_rx, theirs_rx),
             ("receive, timeout", ours_timeout, theirs_timeout)]
    times = {name: ([], []) for name, _, _ in cases}
    for _ in range(rounds):
        for name, ours, theirs in cases:
            times[name][0].append(rate(ours, frames))
            times[name][1].append(rate(theirs, frames))
    print(f"{'frames/s':<18}  {'trovik':>10}  {'pure Python':>11}  {'ratio':>6}")
    for name, _, _ in cases:
        ours, theirs = (statistics.median(t) for t in times[name])
        print(f"{name:<18}  {ours:10,.0f}  {theirs:11,.0f}  {ours / theirs:6.2f}")


if __name__ == "__main__":
    main()
