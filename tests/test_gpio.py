"""GPIO lines, pin levels, polarity, interrupt edges and SPI clock modes (the I2C address frames are
in test_hal.py)."""

import sys

import pytest

import trovik._native as native
from trovik._native import GpioLine, TrovikError


@pytest.mark.parametrize("call, expected", [
    (lambda: native.spi_mode_from_clock(False, False), 0),
    (lambda: native.spi_mode_from_clock(False, True), 1),
    (lambda: native.spi_mode_from_clock(True, False), 2),
    (lambda: native.spi_mode_from_clock(True, True), 3),
    (lambda: repr(native.spi_mode_clock(2)), "SpiClock(cpol=true, cpha=false)"),
    (lambda: repr(native.spi_mode_clock(1)), "SpiClock(cpol=false, cpha=true)"),
    (lambda: native.pin_level_from_bool(True), "High"),
    (lambda: native.pin_level_from_bool(False), "Low"),
    (lambda: native.pin_level_inverted("Low"), "High"),
    (lambda: native.pin_level_inverted("High"), "Low"),
    (lambda: native.pin_polarity_level("ActiveHigh", True), "High"),
    (lambda: native.pin_polarity_level("ActiveHigh", False), "Low"),
    (lambda: native.pin_polarity_level("ActiveLow", True), "Low"),
    (lambda: native.pin_polarity_level("ActiveLow", False), "High"),
    (lambda: native.pin_polarity_is_asserted("ActiveHigh", "High"), True),
    (lambda: native.pin_polarity_is_asserted("ActiveLow", "Low"), True),
    (lambda: native.pin_polarity_is_asserted("ActiveHigh", "Low"), False),
    (lambda: native.pin_polarity_is_asserted("ActiveLow", "High"), False),
    (lambda: native.pin_edge_triggered_by("Rising", "Low", "High"), True),
    (lambda: native.pin_edge_triggered_by("Falling", "Low", "High"), False),
    (lambda: native.pin_edge_triggered_by("Falling", "High", "Low"), True),
    (lambda: native.pin_edge_triggered_by("Both", "High", "Low"), True),
    (lambda: native.pin_edge_triggered_by("Both", "High", "High"), False),
])
def test_pin_and_spi_functions(call, expected):
    assert call() == expected


def test_spi_clock_fields():
    clock = native.spi_mode_clock(3)
    assert (clock.cpol, clock.cpha) == (True, True)
    with pytest.raises(TypeError):
        native.SpiClock()


@pytest.mark.parametrize("call, error, message", [
    (lambda: native.spi_mode_clock(4), ValueError, "SPI mode must be 0, 1, 2, or 3"),
    (lambda: native.spi_mode_clock(256), OverflowError, None),
    (lambda: native.pin_level_inverted("low"), ValueError, "level must be Low or High"),
    (lambda: native.pin_edge_triggered_by("Rising", "low", "High"), ValueError, "level must be Low or High"),
    (lambda: native.pin_edge_triggered_by("rising", "low", "High"), ValueError, "edge must be Rising, Falling, or Both"),
    (lambda: native.pin_edge_triggered_by("Rising", "High", "high"), ValueError, "level must be Low or High"),
    (lambda: native.pin_polarity_level("activehigh", True), ValueError, "polarity must be ActiveHigh or ActiveLow"),
    (lambda: native.pin_polarity_level("ActiveHigh", "yes"), TypeError, None),
    (lambda: native.pin_polarity_is_asserted("ActiveLow", "LOW"), ValueError, "level must be Low or High"),
])
def test_refusals(call, error, message):
    with pytest.raises(error) as caught:
        call()
    if message is not None:
        assert str(caught.value) == message


def test_gpio_line_has_no_constructor():
    with pytest.raises(TypeError):
        GpioLine()


def test_gpio_line_checks_the_level_before_opening():
    with pytest.raises(ValueError, match="^level must be Low or High$"):
        GpioLine.open_output("/dev/gpiochip0", 17, "high")


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="the GPIO character device is Linux's")
@pytest.mark.parametrize("open_line", [
    lambda path: GpioLine.open_input(path, 17),
    lambda path: GpioLine.open_output(path, 17, "High"),
])
def test_gpio_line_refuses_what_is_not_a_gpio_chip(tmp_path, open_line):
    missing = str(tmp_path / "gpiochip9")
    with pytest.raises(TrovikError, match=f"^{missing} line 17: No such file or directory$"):
        open_line(missing)
    plain = tmp_path / "not-a-chip"
    plain.write_bytes(b"plain")
    with pytest.raises(TrovikError) as caught:
        open_line(str(plain))
    assert str(caught.value).startswith(f"{plain} line 17: ")
    with pytest.raises(TrovikError, match=f"^{tmp_path} line 17: "):
        open_line(str(tmp_path))
