"""The PCA9685 PWM controller, its simulated part, and stepper sequences.

Our bytes are checked against Adafruit's CircuitPython PCA9685 driver and its
motor library (servo and stepper), which run here over `PeerI2C`: their
transfers go through one of our buses to our simulated PCA9685, so the peer
drives the part our driver drives, under the same register rules.
"""

import random
import threading

import pytest

import trovik._native as native
from trovik._native import I2cBus, I2cStep, Pca9685, Stepper, TrovikError
from peers.circuitpython import PeerI2C  # installs the board stand-ins

import adafruit_pca9685  # noqa: E402
from adafruit_motor import servo as adafruit_servo  # noqa: E402
from adafruit_motor import stepper as adafruit_stepper  # noqa: E402

ADDRESS = 0x40
NO_SUCH_CHANNEL = "^the PCA9685 has sixteen channels, 0 to 15$"
FULL_ON = bytes([0x00, 0x10, 0x00, 0x00])
FULL_OFF = bytes([0x00, 0x00, 0x00, 0x10])


@pytest.fixture
def bus():
    return I2cBus.simulated([native.pca9685_sim_part(ADDRESS)])


def registers(bus, first, length):
    return bus.part(ADDRESS).read(first, length)


# ---- arithmetic and channel settings ------------------------------------------------------------------

@pytest.mark.parametrize("call, expected", [
    (lambda: native.pca9685_limits(), (25_000_000, 16, 4096)),
    (lambda: native.stepper_timing(), (2000, 10)),
    (lambda: native.pca9685_channel_register(0), 0x06),
    (lambda: native.pca9685_channel_register(15), 0x42),
    (lambda: native.pca9685_prescale_for_frequency(200, 25_000_000), 30),
    (lambda: native.pca9685_prescale_for_frequency(50, 25_000_000), 121),
    (lambda: native.pca9685_prescale_for_frequency(1000, 25_000_000), 5),
    (lambda: native.pca9685_prescale_for_frequency(1526, 25_000_000), 3),
    (lambda: native.pca9685_prescale_for_frequency(1_048_576, 25_000_000), 3),
    (lambda: native.pca9685_prescale_for_frequency(2**32 - 1, 2**32 - 1), 3),
    (lambda: native.pca9685_prescale_for_frequency(24, 25_000_000), 253),
    (lambda: native.pca9685_prescale_for_frequency(23, 25_000_000), 255),
    (lambda: native.pca9685_prescale_for_frequency(0, 25_000_000), 255),
    (lambda: native.pca9685_frequency_for_prescale(30, 25_000_000), 196.88760375976562),
    (lambda: native.pca9685_frequency_for_prescale(121, 25_000_000), 50.02881622314453),
    (lambda: native.pwm_servo(1500, 50), bytes([0, 0, 307 & 0xFF, 307 >> 8])),
    (lambda: native.pwm_servo(1000, 50), bytes([0, 0, 204, 0])),
    (lambda: native.pwm_servo(2000, 50), bytes([0, 0, 409 & 0xFF, 409 >> 8])),
    (lambda: native.pwm_servo(0, 50), FULL_OFF),
    (lambda: native.pwm_servo(4, 50), FULL_OFF),
    (lambda: native.pwm_servo(5, 50), bytes([0, 0, 1, 0])),
    (lambda: native.pwm_servo(20_000, 50), bytes([0, 0, 0xFF, 0x0F])),
    (lambda: native.pwm_servo(2**32 - 1, 2**32 - 1), bytes([0, 0, 0xFF, 0x0F])),
    (lambda: native.pwm_duty(0), FULL_OFF),
    (lambda: native.pwm_duty(4095), bytes([0x00, 0x00, 0xFF, 0x0F])),
    (lambda: native.pwm_duty(4096), FULL_ON),
    (lambda: native.pwm_duty(0xFFFF), FULL_ON),
    (lambda: native.pwm_full_on(), FULL_ON),
    (lambda: native.pwm_full_off(), FULL_OFF),
    (lambda: native.pwm_from_counts(4096, 0), bytes(4)),
    (lambda: native.pwm_from_counts(0x1ABC, 0xF123), bytes([0xBC, 0x0A, 0x23, 0x01])),
    (lambda: native.pwm_counts(native.pwm_full_off()), (0, 4096)),
    (lambda: native.pwm_counts(b"\xff\xff\xff\xff"), (0xFFFF, 0xFFFF)),
    (lambda: native.stepper_step_count("Wave"), 4),
    (lambda: native.stepper_step_count("FullStep"), 4),
    (lambda: native.stepper_step_count("HalfStep"), 8),
    (lambda: native.stepper_steps_for_degrees(90.0, 200), 50),
    (lambda: native.stepper_steps_for_degrees(-90.0, 200), -50),
    (lambda: native.stepper_steps_for_degrees(1.8, 200), 1),
    (lambda: native.stepper_steps_for_degrees(1e30, 200), 2**31 - 1),
    (lambda: native.stepper_steps_for_degrees(-1e30, 200), -2**31),
    (lambda: native.stepper_steps_for_degrees(float("nan"), 200), 0),
])
def test_functions(call, expected):
    assert call() == expected


def test_servo_counts_match_exact_arithmetic():
    rng = random.Random(9685)
    for _ in range(2000):
        pulse, rate = rng.randrange(2**32), rng.choice([50, 60, 200, rng.randrange(2**32)])
        counts = pulse * rate * 4096 // 1_000_000
        off = 0x1000 if counts == 0 else min(counts, 4095)
        assert native.pwm_counts(native.pwm_servo(pulse, rate)) == (0, off)


@pytest.mark.parametrize("call, error, message", [
    (lambda: native.pca9685_channel_register(16), ValueError, "^channel must be below 16$"),
    (lambda: native.pwm_counts(b"\x00\x00\x00"), ValueError, "^pwm must be exactly 4 bytes$"),
    (lambda: native.pwm_counts(bytes(5)), ValueError, "^pwm must be exactly 4 bytes$"),
    (lambda: native.stepper_step_count("wave"), ValueError, "^drive must be Wave, FullStep, or HalfStep$"),
    (lambda: Stepper("MicroStep"), ValueError, "^drive must be Wave, FullStep, or HalfStep$"),
    (lambda: native.pca9685_channel_register(256), OverflowError, None),
    (lambda: native.pwm_from_counts(65536, 0), OverflowError, None),
    (lambda: native.pca9685_prescale_for_frequency(-1, 25_000_000), OverflowError, None),
    (lambda: native.pwm_duty("1"), TypeError, None),
])
def test_refusals(call, error, message):
    with pytest.raises(error, match=message):
        call()


# ---- stepper ---------------------------------------------------------------------------------------------

def test_stepper_sequences():
    wave = Stepper("Wave")
    assert wave.coils == 0b1000 and wave.steps == 0
    assert wave.step("Forward") == 0b0100
    assert Stepper("Wave").step("Backward") == 0b0001
    half = Stepper("HalfStep")
    assert half.step("Backward") == 0b1001 and half.steps == -1
    half = Stepper("HalfStep")
    assert [half.step("Forward") for _ in range(8)][-1] == 0b1000 and half.steps == 8
    full = Stepper("FullStep")
    assert [full.step("Forward") for _ in range(4)] == [0b0110, 0b0011, 0b1001, 0b1100]
    with pytest.raises(ValueError, match="^direction must be Forward or Backward$"):
        full.step("forward")
    assert (full.coils, full.steps) == (0b1100, 4)


class Pin:
    """A digital output Adafruit's stepper sets; `value` is all it touches."""
    value = 0


# Adafruit's styles against our drives. Its pins, in the motor's coil order,
# are ain1, bin1, ain2, bin2; its FORWARD runs through the coils the way our
# Backward does.
@pytest.mark.parametrize("drive, style", [
    ("Wave", adafruit_stepper.SINGLE),
    ("FullStep", adafruit_stepper.DOUBLE),
    ("HalfStep", adafruit_stepper.INTERLEAVE),
])
def test_stepper_agrees_with_adafruit_motor(drive, style):
    ain1, ain2, bin1, bin2 = Pin(), Pin(), Pin(), Pin()
    peer = adafruit_stepper.StepperMotor(ain1, ain2, bin1, bin2, microsteps=None)
    ours = Stepper(drive)
    cycle = [ours.coils]
    probe = Stepper(drive)
    cycle += [probe.step("Forward") for _ in range(native.stepper_step_count(drive) - 1)]
    rng = random.Random(drive)
    offset = None
    for _ in range(200):
        forward = rng.random() < 0.6
        peer.onestep(direction=adafruit_stepper.FORWARD if forward else adafruit_stepper.BACKWARD, style=style)
        pattern = ours.step("Backward" if forward else "Forward")
        theirs = ain1.value << 3 | bin1.value << 2 | ain2.value << 1 | bin2.value
        # The two start at different places of the same cycle.
        shift = (cycle.index(theirs) - cycle.index(pattern)) % len(cycle)
        offset = shift if offset is None else offset
        assert shift == offset
    assert ours.steps != 0


# ---- the simulated part ------------------------------------------------------------------------------

def test_simulated_part_powers_up_asleep_with_outputs_off(bus):
    part = bus.part(ADDRESS)
    assert (part.register(0x00), part.register(0x01), part.register(0xFE)) == (0x11, 0x04, 0x1E)
    assert part.read(0x02, 4) == bytes([0xE2, 0xE4, 0xE8, 0xE0])
    assert part.read(0x06, 64) == FULL_OFF * 16
    assert native.pca9685_prescale_for_frequency(200, 25_000_000) == part.register(0xFE)


def test_simulated_part_register_rules(bus):
    bus.write(ADDRESS, b"\xfe\x01")  # asleep: taken, and never below 3
    assert registers(bus, 0xFE, 1) == b"\x03"
    bus.write(ADDRESS, b"\x00\x20")
    bus.write(ADDRESS, b"\xfe\x79")  # awake: ignored
    assert registers(bus, 0xFE, 1) == b"\x03"
    bus.write(ADDRESS, b"\xfa\x5a")
    assert bus.write_read(ADDRESS, b"\xfa", 1) == b"\x00"
    assert registers(bus, 0x06, 64)[::4] == b"\x5a" * 16
    # With auto-increment, five bytes fill LED15 and the pointer wraps to MODE1.
    bus.write(ADDRESS, b"\x42\x01\x02\x03\x04")
    assert registers(bus, 0x42, 4) == b"\x01\x02\x03\x04"
    assert bus.read(ADDRESS, 2) == b"\x20\x04"
    # Without it every byte lands in the register named.
    bus.write(ADDRESS, b"\x00\x00")
    bus.write(ADDRESS, b"\x42\x05\x06\x07\x08")
    assert registers(bus, 0x42, 4) == b"\x08\x02\x03\x04"
    assert bus.read(ADDRESS, 3) == b"\x08\x08\x08"


@pytest.mark.parametrize("mode2, register, cleared", [
    (0x04, 0x09, True),   # LED0_OFF_H ends a setting whatever OCH says
    (0x0C, 0x09, True),
    (0x04, 0x06, True),   # LED0_ON_L with outputs changing on stop
    (0x0C, 0x06, False),  # ... and on acknowledge: the restart stays pending
    (0x0C, 0xFD, True),
    (0x0C, 0xFA, False),
])
def test_simulated_part_restart_bit(bus, mode2, register, cleared):
    pca = Pca9685(bus, ADDRESS)
    pca.set_channel(0, native.pwm_duty(100))
    pca.sleep()
    assert registers(bus, 0x00, 1) == b"\xb0"
    bus.write(ADDRESS, bytes([0x01, mode2]))
    bus.write(ADDRESS, bytes([register, 0x00]))
    assert registers(bus, 0x00, 1) == (b"\x30" if cleared else b"\xb0")


# ---- the driver -------------------------------------------------------------------------------------------

INIT = [I2cStep.write(ADDRESS, b"\x00\x30"), I2cStep.write(ADDRESS, b"\xfe\x1e"),
        I2cStep.write(ADDRESS, b"\x01\x04"), I2cStep.write(ADDRESS, b"\x00\x20"),
        I2cStep.write(ADDRESS, b"\x00\xa0")]


def test_driver_traffic_on_a_scripted_bus():
    bus = I2cBus.scripted(INIT + [I2cStep.write(ADDRESS, b"\x42\x00\x00\x00\x08"),
                                  I2cStep.write(ADDRESS, b"\xfa\x00\x10\x00\x00"),
                                  I2cStep.write(ADDRESS, b"\x00\x30"),
                                  I2cStep.write(ADDRESS, b"\x00\x20"), I2cStep.write(ADDRESS, b"\x00\xa0"),
                                  *[I2cStep.write_read(ADDRESS, bytes([r]), bytes([r])) for r in range(6, 10)]])
    pca = Pca9685(bus, ADDRESS)
    pca.set_channel(15, b"\x00\x00\x00\x08")
    assert bus.waited_micros == 500
    pca.set_all(native.pwm_full_on())
    pca.sleep()
    assert bus.waited_micros == 500
    pca.wake()
    assert bus.waited_micros == 1000
    assert pca.channel(0) == bytes([6, 7, 8, 9])
    assert bus.remaining == 0


@pytest.mark.parametrize("kwargs, prescale, mode2", [
    ({}, 0x1E, 0x04),
    ({"frequency_hz": 50, "totem_pole": False, "inverted": True}, 121, 0x10),
    ({"frequency_hz": 1000, "oscillator_hz": 50_000_000, "change_on_ack": True}, 11, 0x0C),
])
def test_init_programs_prescale_and_wiring(kwargs, prescale, mode2):
    steps = list(INIT)
    steps[1] = I2cStep.write(ADDRESS, bytes([0xFE, prescale]))
    steps[2] = I2cStep.write(ADDRESS, bytes([0x01, mode2]))
    bus = I2cBus.scripted(steps)
    pca = Pca9685(bus, ADDRESS, **kwargs)
    assert pca.prescale == prescale
    pca.init()
    assert bus.remaining == 0


def test_driver_against_the_simulated_part(bus):
    pca = Pca9685(bus, ADDRESS)
    assert (pca.prescale, pca.frequency) == (30, 196.88760375976562)
    before = bus.part(ADDRESS).read(0, 256)
    assert pca.channel(0) == FULL_OFF
    assert bus.transfers == 4 and bus.part(ADDRESS).read(0, 256) == before
    pca.set_channel(15, b"\x00\x00\x00\x08")
    assert (bus.transfers, bus.waited_micros) == (4 + 6, 500)
    assert pca.channel(15) == b"\x00\x00\x00\x08"
    assert registers(bus, 0x00, 2) == b"\x20\x04"


def test_refused_channels_and_lengths_send_nothing(bus):
    pca = Pca9685(bus, ADDRESS)
    with pytest.raises(ValueError, match=NO_SUCH_CHANNEL):
        pca.set_channel(16, FULL_ON)
    with pytest.raises(ValueError, match="^pwm must be exactly 4 bytes$"):
        pca.set_channel(16, b"\x00\x10\x00")
    with pytest.raises(ValueError, match="^pwm must be exactly 4 bytes$"):
        pca.set_all(bytes(5))
    with pytest.raises(ValueError, match=NO_SUCH_CHANNEL):
        pca.channel(16)
    with pytest.raises(OverflowError):
        pca.channel(256)
    assert bus.transfers == 0


def test_software_reset_fails_on_a_simulated_bus_and_forgets_the_initialisation(bus):
    pca = Pca9685(bus, ADDRESS)
    pca.init()
    with pytest.raises(TrovikError) as raised:
        pca.software_reset()
    assert type(raised.value) is TrovikError and "0x00" in str(raised.value)
    before = bus.transfers
    pca.set_all(native.pwm_duty(1024))
    assert bus.transfers - before == 6
    assert registers(bus, 0x06, 64) == bytes([0, 0, 0, 4]) * 16


def test_a_failed_initialisation_is_run_again():
    bus = I2cBus.scripted(INIT[:2] + [I2cStep.fault(ADDRESS, "NoAcknowledgeData")] + INIT
                          + [I2cStep.write(ADDRESS, b"\x06\x00\x10\x00\x00")])
    pca = Pca9685(bus, ADDRESS)
    with pytest.raises(TrovikError):
        pca.set_channel(0, FULL_ON)
    pca.set_channel(0, FULL_ON)
    assert bus.remaining == 0


def test_calls_from_threads_are_serialized(bus):
    pca = Pca9685(bus, ADDRESS)

    def load(channel):
        for value in range(1, 200):
            pca.set_channel(channel, native.pwm_duty(value))
            assert pca.channel(channel) == native.pwm_duty(value)

    threads = [threading.Thread(target=load, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert registers(bus, 0x06, 16) == native.pwm_duty(199) * 4
    assert bus.waited_micros == 500  # initialised once


# ---- against Adafruit's driver ----------------------------------------------------------------------

def adafruit_on(bus, frequency=None):
    pca = adafruit_pca9685.PCA9685(PeerI2C(bus), address=ADDRESS)
    if frequency is not None:
        pca.frequency = frequency
    return pca


@pytest.mark.parametrize("frequency", [24, 50, 60, 200, 333, 1000, 1526])
def test_prescale_agrees_with_adafruit(bus, frequency):
    peer = adafruit_on(bus, frequency)
    assert registers(bus, 0xFE, 1)[0] == native.pca9685_prescale_for_frequency(frequency, 25_000_000)
    assert Pca9685(bus, ADDRESS, frequency_hz=frequency).frequency == pytest.approx(peer.frequency, rel=1e-6)


def test_prescale_formula_agrees_with_adafruit_everywhere_it_has_one():
    for osc in (25_000_000, 24_576_000, 27_000_000):
        for frequency in range(1, 3000):
            theirs = int(osc / 4096.0 / frequency + 0.5) - 1
            if 3 <= theirs <= 255:
                assert native.pca9685_prescale_for_frequency(frequency, osc) == theirs


@pytest.mark.parametrize("duty_cycle, ours, read_back", [
    (0xFFFF, native.pwm_full_on(), 0xFFFF),
    (0, native.pwm_full_off(), 0),
    (0x000F, native.pwm_full_off(), 0),
    (0x7FFF, native.pwm_duty(0x7FF), 0x7FF0),
    (0x0010, native.pwm_duty(1), 0x0010),
])
def test_adafruit_duty_cycles_read_back_through_our_driver(bus, duty_cycle, ours, read_back):
    peer = adafruit_on(bus, 200)
    peer.channels[3].duty_cycle = duty_cycle
    assert Pca9685(bus, ADDRESS).channel(3) == ours
    assert peer.channels[3].duty_cycle == read_back


@pytest.mark.parametrize("pwm, duty_cycle", [
    (native.pwm_full_on(), 0xFFFF),
    (native.pwm_full_off(), 0),
    (native.pwm_duty(2048), 0x8000),
    (native.pwm_servo(1500, 50), 307 << 4),
])
def test_our_settings_read_back_through_adafruit(bus, pwm, duty_cycle):
    ours = Pca9685(bus, ADDRESS, frequency_hz=50)
    ours.set_channel(7, pwm)
    # Adafruit reads a channel's four registers in one transfer, which needs
    # the auto-increment its frequency setter turns on.
    assert adafruit_on(bus, 50).channels[7].duty_cycle == duty_cycle
    ours.set_all(pwm)
    peer = adafruit_on(bus, 50)
    assert [peer.channels[n].duty_cycle for n in range(16)] == [duty_cycle] * 16


@pytest.mark.parametrize("pulse", [600, 750, 1000, 1500, 2000, 2250, 2400])
def test_servo_pulses_agree_with_adafruit_motor(bus, pulse):
    peer = adafruit_on(bus, 50)
    servo = adafruit_servo.Servo(peer.channels[0], min_pulse=500, max_pulse=2500, actuation_range=2000)
    servo.angle = pulse - 500
    theirs = Pca9685(bus, ADDRESS).channel(0)
    # Adafruit works from the rate the prescale gives (50.03 Hz), in 16-bit
    # duty steps cut to 12 bits; ours from the rate asked for, in counts.
    on, off = native.pwm_counts(theirs)
    assert on == 0
    assert abs(off - native.pwm_counts(native.pwm_servo(pulse, 50))[1]) <= 1
