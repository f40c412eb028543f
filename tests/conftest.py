import pytest


@pytest.fixture(scope="session")
def native():
    import trovik._native as native

    return native


@pytest.fixture(scope="session")
def lorarf_package():
    """LoRaRF, an independent SX126x/SX127x driver, used only for its register and command encoders. Its
    package imports RPi.GPIO, which refuses to load anywhere but on a Raspberry Pi: a bare stand-in module
    serves while it is imported, since no pin is ever touched."""
    import sys
    import types

    saved = {name: sys.modules.get(name) for name in ("RPi", "RPi.GPIO")}
    gpio = types.ModuleType("RPi.GPIO")
    gpio.BCM, gpio.LOW, gpio.HIGH = 11, 0, 1
    gpio.setmode = gpio.setwarnings = lambda *args: None
    rpi = types.ModuleType("RPi")
    rpi.GPIO = gpio
    sys.modules.update({"RPi": rpi, "RPi.GPIO": gpio})
    try:
        import LoRaRF
    finally:
        for name, module in saved.items():
            if module is None:
                sys.modules.pop(name, None)
            else:
                sys.modules[name] = module
    return LoRaRF
