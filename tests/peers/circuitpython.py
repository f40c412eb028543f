"""Adafruit's CircuitPython drivers and the `smbus` users as peers of our sensor drivers.

The peer drivers import their board's modules only for `const` and for type
hints; plain stand-ins are enough to run them on a desktop interpreter. Import
this module before the peer drivers. `PeerI2C` and `PeerSmbus` carry the
peers' transfers on one of our buses, so they talk to our simulated parts.
"""

import sys
import types


def _stub(name, **attrs):
    module = sys.modules.setdefault(name, types.ModuleType(name))
    for key, value in attrs.items():
        if not hasattr(module, key):
            setattr(module, key, value)


_stub("micropython", const=lambda value: value)
_stub("busio", I2C=object, SPI=object)
_stub("digitalio", DigitalInOut=object)
_stub("pwmio", PWMOut=object)
_stub("circuitpython_typing", ReadableBuffer=object, WriteableBuffer=object)
_stub("circuitpython_typing.device_drivers", I2CDeviceDriver=object)


class PeerI2C:
    """The `busio.I2C` the Adafruit drivers talk through, carried by one of our buses."""

    def __init__(self, bus):
        self.bus = bus

    def try_lock(self):
        return True

    def unlock(self):
        pass

    def writeto(self, address, buffer, *, start=0, end=None):
        data = bytes(buffer[start:end])
        if data:  # the drivers probe a part with an empty write
            self.bus.write(address, data)

    def readfrom_into(self, address, buffer, *, start=0, end=None):
        end = len(buffer) if end is None else end
        buffer[start:end] = self.bus.read(address, end - start)

    def writeto_then_readfrom(self, address, out, into, *, out_start=0, out_end=None, in_start=0, in_end=None):
        in_end = len(into) if in_end is None else in_end
        into[in_start:in_end] = self.bus.write_read(address, bytes(out[out_start:out_end]), in_end - in_start)


class PeerSmbus:
    """The `smbus.SMBus` the `opt3001` package opens, carried by `PeerSmbus.bus`."""

    bus = None

    def __init__(self, number):
        pass

    def read_i2c_block_data(self, address, register, length):
        return list(PeerSmbus.bus.write_read(address, bytes([register]), length))

    def write_i2c_block_data(self, address, register, data):
        PeerSmbus.bus.write(address, bytes([register, *data]))


_stub("smbus", SMBus=PeerSmbus)
