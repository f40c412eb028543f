"""The SX126x and SX127x helper functions: command bytes, register values and
decoders, checked against worked values, against LoRaRF's own encoders, and
against what a simulated chip reports after the driver has configured it."""
import math

import pytest

import trovik._native as native

LINK = native.LoraLink(7, 125_000)
LONG = bytes(range(256)) + bytes(range(44))


@pytest.fixture(scope="module")
def lorarf(lorarf_package):
    """LoRaRF's SX126x driver writing its command bytes into a list instead of a bus."""
    SX126x = lorarf_package.SX126x

    class Commands(SX126x):
        def __init__(self):
            self.sent = []

        def _writeBytes(self, opcode, data, n):
            self.sent.append(bytes([opcode, *data[:n]]))

        def _fixInvertedIq(self, invert):  # a register read-modify-write, not a command
            pass

    return Commands


# ---- SX126x commands ------------------------------------------------------------------------------


@pytest.mark.parametrize("call, expected", [
    (lambda: native.sx126x_set_standby(), "8000"),
    (lambda: native.sx126x_set_packet_type_lora(), "8a01"),
    (lambda: native.sx126x_set_rf_frequency(868_100_000), "863641999a"),
    (lambda: native.sx126x_set_rf_frequency(915_000_000), "8639300000"),
    (lambda: native.sx126x_calibrate_image(863_000_000, 870_000_000), "98d7da"),
    (lambda: native.sx126x_calibrate_image(902_000_000, 928_000_000), "98e1e8"),
    (lambda: native.sx126x_calibrate_image(433_000_000, 435_000_000), "986c6d"),
    (lambda: native.sx126x_set_pa_config(native.sx126x_tx_power("HighPower", 14)), "9504070001"),
    (lambda: native.sx126x_set_pa_config(native.sx126x_tx_power("LowPower", 15)), "9506000101"),
    (lambda: native.sx126x_set_tx_params(native.sx126x_tx_power("HighPower", -20), 40), "8ef702"),
    (lambda: native.sx126x_set_tx_params(native.sx126x_tx_power("HighPower", 22), 11), "8e1601"),
    (lambda: native.sx126x_set_tx_params(native.sx126x_tx_power("HighPower", 22), 5000), "8e1607"),
    (lambda: native.sx126x_set_lora_modulation_params(native.LoraLink(12, 125_000, 8)), "8b0c040401"),
    (lambda: native.sx126x_set_lora_modulation_params(native.LoraLink(11, 250_000)), "8b0b050100"),
    (lambda: native.sx126x_set_lora_modulation_params(native.LoraLink(7, 10_400)), "8b07080100"),
    (lambda: native.sx126x_set_lora_packet_params(LINK, 20, False), "8c0008001401" "00"),
    (lambda: native.sx126x_set_lora_packet_params(native.LoraLink(7, 125_000, 5, 300, False, False), 255, True),
     "8c012c01ff0001"),
    (lambda: native.sx126x_set_dio_irq_params(0x43FF, 0x0202), "0843ff020200000000"),
    (lambda: native.sx126x_set_dio_irq_params(1, 2, 3, dio3=4), "080001000200030004"),
    (lambda: native.sx126x_clear_irq_status(0x43FF), "0243ff"),
    (lambda: native.sx126x_set_tx(0), "83000000"),
    (lambda: native.sx126x_set_tx(1_000), "83000040"),
    (lambda: native.sx126x_set_rx(0), "82000000"),
    (lambda: native.sx126x_set_rx(2 ** 64 - 1), "82fffffe"),
    (lambda: native.sx126x_set_rx_continuous(), "82ffffff"),
    (lambda: native.sx126x_set_sleep(True), "8404"),
    (lambda: native.sx126x_set_sleep(False), "8400"),
    (lambda: native.sx126x_write_register(0x0740, b"\x34\x44"), "0d07403444"),
    (lambda: native.sx126x_write_register(0x0740, []), "0d0740"),
    (lambda: native.sx126x_write_buffer(0, b""), "0e00"),
    (lambda: native.sx126x_write_buffer(0x80, bytearray(LONG)), "0e80" + LONG.hex()),  # no length limit
], ids=lambda value: value if isinstance(value, str) and len(value) < 40 else None)
def test_sx126x_command_bytes(call, expected):
    assert call().hex() == expected


@pytest.mark.parametrize("sf, bw, cr", [(7, 125_000, 5), (12, 125_000, 8), (9, 500_000, 6), (5, 7_813, 7),
                                        (11, 41_667, 5), (10, 250_000, 8), (12, 62_500, 6)])
@pytest.mark.parametrize("preamble, explicit, crc, payload, invert", [(8, True, True, 20, False),
                                                                      (300, False, False, 255, True)])
def test_sx126x_link_commands_agree_with_lorarf(lorarf, sf, bw, cr, preamble, explicit, crc, payload, invert):
    link = native.LoraLink(sf, bw, cr, preamble, explicit, crc)
    peer = lorarf()
    peer.setLoRaModulation(sf, bw, cr, (1_000_000 << sf) // bw > 16_000)
    peer.setLoRaPacket(peer.HEADER_EXPLICIT if explicit else peer.HEADER_IMPLICIT, preamble, payload, crc, invert)
    modulation, packet = peer.sent
    # LoRaRF pads both commands to their longest (FSK) layout with zeros.
    assert modulation.startswith(native.sx126x_set_lora_modulation_params(link))
    assert packet.startswith(native.sx126x_set_lora_packet_params(link, payload, invert))


@pytest.mark.parametrize("freq", [150_000_000, 433_175_000, 868_100_000, 915_000_000, 959_999_999])
def test_sx126x_frequency_word_within_a_step_of_lorarf(lorarf, freq):
    """LoRaRF truncates the word; ours is the nearest step."""
    peer = lorarf()
    peer.setFrequency(freq)
    theirs = int.from_bytes(peer.sent[-1][1:], "big")
    ours = native.sx126x_frequency_word(freq)
    assert ours - theirs in (0, 1)
    assert ours == math.floor(freq * 2 ** 25 / 32_000_000 + 0.5)
    assert native.sx126x_set_rf_frequency(freq)[1:] == ours.to_bytes(4, "big")


@pytest.mark.parametrize("timeout, steps", [(0, 0), (1, 1), (15, 1), (16, 1), (1_000, 0x40), (262_143_984, 0xFFFFFE),
                                            (262_143_985, 0xFFFFFE), (2 ** 64 - 1, 0xFFFFFE)])
def test_sx126x_timeout_steps(timeout, steps):
    assert native.sx126x_timeout_steps(timeout) == steps
    assert native.sx126x_set_tx(timeout)[1:] == steps.to_bytes(3, "big")


@pytest.mark.parametrize("freq, word", [(868_100_000, 0x3641999A), (915_000_000, 0x39300000), (0, 0),
                                        (4_095_999_999, 0xFFFFFFFF), (4_096_000_000, 0), (2 ** 32 - 1, 0x0C6F_7A0A)])
def test_sx126x_frequency_words_wrap_at_32_bits(freq, word):
    assert native.sx126x_frequency_word(freq) == word


@pytest.mark.parametrize("low, high, codes", [(863_000_000, 870_000_000, b"\xd7\xda"),
                                              (1_024_000_000, 1_030_000_000, b"\xff\xff"),
                                              (0, 1, b"\x00\x01"), (0, 2 ** 32 - 1, b"\x00\xff")])
def test_sx126x_image_calibration(low, high, codes):
    assert native.sx126x_image_calibration(low, high) == codes


@pytest.mark.parametrize("at_least, ramp", [(0, 10), (10, 10), (11, 20), (40, 40), (201, 800), (3400, 3400),
                                            (4000, 3400), (2 ** 32 - 1, 3400)])
def test_sx126x_ramp_times(at_least, ramp):
    assert native.sx126x_ramp_time_us(at_least) == ramp


# ---- SX126x queries and decoders ---------------------------------------------------------------------


@pytest.mark.parametrize("call, sent, answer_len", [
    (lambda: native.sx126x_get_status(), "c0", 1),
    (lambda: native.sx126x_get_irq_status(), "1200", 2),
    (lambda: native.sx126x_get_rx_buffer_status(), "1300", 2),
    (lambda: native.sx126x_get_packet_status(), "1400", 3),
    (lambda: native.sx126x_get_rssi_inst(), "1500", 1),
    (lambda: native.sx126x_get_device_errors(), "1700", 2),
    (lambda: native.sx126x_read_register(0x0740, 2), "1d074000", 2),
    (lambda: native.sx126x_read_buffer(0x80, 255), "1e8000", 255),
    (lambda: native.sx126x_read_buffer(0, 0), "1e0000", 0),
])
def test_sx126x_queries(call, sent, answer_len):
    q = call()
    assert (q.bytes.hex(), q.answer_len) == (sent, answer_len)


@pytest.mark.parametrize("byte, mode, status, error", [
    (0x24, "StandbyRc", "DataAvailable", False), (0x26, "StandbyRc", "Timeout", True),
    (0x2C, "StandbyRc", "TxDone", False), (0x6A, "Tx", "ExecutionFailure", True),
    (0x00, "Other", "Other", False), (0x38, "StandbyXosc", "ProcessingError", True),
    (0x4E, "Fs", "Other", False), (0x52, "Rx", "Other", False), (0xFF, "Other", "Other", False),
])
def test_sx126x_status(byte, mode, status, error):
    s = native.sx126x_status(byte)
    assert (s.chip_mode, s.command_status, s.error) == (mode, status, error)


def test_sx126x_answer_decoders():
    assert native.sx126x_irq(b"\x02\x01") == 0x0201
    assert native.sx126x_irq([0x43, 0xFF]) == 0x43FF
    assert native.sx126x_device_errors(bytearray(b"\x01\x40")) == 0x0140
    p = native.sx126x_packet_status(b"\xa0\xf8\xa2")
    assert (p.rssi_dbm, p.snr_db, p.signal_rssi_dbm) == (-80.0, -2.0, -81.0)
    p = native.sx126x_packet_status(b"\xff\x7f\x01")
    assert (p.rssi_dbm, p.snr_db, p.signal_rssi_dbm) == (-127.5, 31.75, -0.5)
    b = native.sx126x_rx_buffer_status(b"\x14\x80")
    assert (b.payload_len, b.start) == (20, 0x80)
    assert native.sx126x_rssi_inst_dbm(0xA1) == -80.5


@pytest.mark.parametrize("decode, name, wanted", [
    (native.sx126x_irq, "an IRQ status answer", 2), (native.sx126x_device_errors, "a device errors answer", 2),
    (native.sx126x_packet_status, "a packet status answer", 3),
    (native.sx126x_rx_buffer_status, "an RX buffer status answer", 2),
])
@pytest.mark.parametrize("given", [0, 1, 4])
def test_sx126x_answers_of_the_wrong_length(decode, name, wanted, given):
    with pytest.raises(ValueError) as caught:
        decode(bytes(given))
    assert str(caught.value) == f"{name} is {wanted} bytes, not {given}"


# ---- SX126x amplifier and link choices --------------------------------------------------------------


@pytest.mark.parametrize("amplifier, requested, setting, pa", [
    ("HighPower", 30, 22, (4, 7, 0, 1)), ("HighPower", -20, -9, (4, 7, 0, 1)), ("HighPower", 14, 14, (4, 7, 0, 1)),
    ("HighPower", 2 ** 31 - 1, 22, (4, 7, 0, 1)), ("LowPower", 15, 14, (6, 0, 1, 1)),
    ("LowPower", 14, 14, (4, 0, 1, 1)), ("LowPower", -30, -17, (4, 0, 1, 1)), ("LowPower", -2 ** 31, -17, (4, 0, 1, 1)),
])
def test_sx126x_tx_power(amplifier, requested, setting, pa):
    p = native.sx126x_tx_power(amplifier, requested)
    assert (p.setting_dbm, (p.pa_duty_cycle, p.hp_max, p.device_sel, p.pa_lut)) == (setting, pa)


@pytest.mark.parametrize("gain, loss, ceiling, high, low", [
    (2.15, 0.0, 14.0, 11, 11), (2.15, 0.5, 14.0, 12, 12), (2.5, 0.0, 1.0, -2, -2),
    (0.0, 0.0, float("nan"), 0, 0), (0.0, 0.0, float("inf"), 22, 14), (0.0, 0.0, -1e300, -9, -17),
])
def test_sx126x_tx_power_under_ceiling(gain, loss, ceiling, high, low):
    budget = native.LinkBudget(transmit_antenna_gain_dbi=gain, transmit_cable_loss_db=loss, transmit_power_dbm=30)
    assert native.sx126x_tx_power_under_ceiling("HighPower", budget, ceiling).setting_dbm == high
    assert native.sx126x_tx_power_under_ceiling("LowPower", budget, ceiling).setting_dbm == low


def test_sx126x_amplifier_names_are_checked_after_the_arguments():
    with pytest.raises(ValueError, match="^no amplifier is named highpower; use LowPower or HighPower$"):
        native.sx126x_tx_power("highpower", 14)
    with pytest.raises(TypeError):
        native.sx126x_tx_power_under_ceiling("highpower", "not a budget", 14.0)
    with pytest.raises(ValueError, match="^no amplifier is named x; use LowPower or HighPower$"):
        native.sx126x_tx_power_under_ceiling("x", native.LinkBudget(), 14.0)


@pytest.mark.parametrize("sf, bw, supported", [(9, 125_000, True), (10, 125_000, False), (10, 250_000, True),
                                               (11, 500_000, True), (12, 500_000, False), (7, 62_500, False),
                                               (7, 200_000, False)])
def test_sx126x_llcc68_supports(sf, bw, supported):
    assert native.sx126x_llcc68_supports(native.LoraLink(sf, bw)) is supported


def test_sx126x_refusals():
    with pytest.raises(native.TrovikError, match="^the SX126x has no 200000 Hz LoRa bandwidth$"):
        native.sx126x_set_lora_modulation_params(native.LoraLink(7, 200_000))
    with pytest.raises(OverflowError):
        native.sx126x_write_register(0x10000, b"")
    with pytest.raises(OverflowError):
        native.sx126x_write_buffer(256, b"")
    with pytest.raises(OverflowError):
        native.sx126x_read_register(0, 256)
    with pytest.raises(OverflowError):
        native.sx126x_timeout_steps(-1)
    with pytest.raises(TypeError):
        native.sx126x_write_buffer(0, "text")
    with pytest.raises(TypeError):
        native.sx126x_set_pa_config(native.sx127x_tx_power("Rfo", 10))


def test_sx126x_constants():
    c = native.sx126x_constants()
    assert c == {
        "RX_CONTINUOUS": 0xFFFFFF, "SYNC_WORD_PUBLIC": 0x3444, "SYNC_WORD_PRIVATE": 0x1424,
        "REGISTER_LORA_SYNC_WORD": 0x0740, "IRQ_TX_DONE": 0x0001, "IRQ_RX_DONE": 0x0002,
        "IRQ_PREAMBLE_DETECTED": 0x0004, "IRQ_SYNC_WORD_VALID": 0x0008, "IRQ_HEADER_VALID": 0x0010,
        "IRQ_HEADER_ERROR": 0x0020, "IRQ_CRC_ERROR": 0x0040, "IRQ_CAD_DONE": 0x0080, "IRQ_CAD_DETECTED": 0x0100,
        "IRQ_TIMEOUT": 0x0200, "IRQ_LR_FHSS_HOP": 0x4000, "IRQ_ALL": 0x43FF, "ERROR_RC64K_CALIBRATION": 0x0001,
        "ERROR_RC13M_CALIBRATION": 0x0002, "ERROR_PLL_CALIBRATION": 0x0004, "ERROR_ADC_CALIBRATION": 0x0008,
        "ERROR_IMAGE_CALIBRATION": 0x0010, "ERROR_XOSC_START": 0x0020, "ERROR_PLL_LOCK": 0x0040,
        "ERROR_PA_RAMP": 0x0100,
    }
    c["IRQ_ALL"] = 0
    assert native.sx126x_constants()["IRQ_ALL"] == 0x43FF  # a new dict each call


def test_result_classes_are_made_only_by_the_functions():
    for cls in (native.Sx126xTxPower, native.Sx126xQuery, native.Sx126xStatus, native.Sx126xPacketStatus,
                native.Sx126xRxBufferStatus, native.Sx127xTxPower, native.Sx127xModem, native.Sx127xPacketStatus,
                native.Sx127xModemStatus, native.Sx127xHighBwOptimize, native.Sx127xSpuriousReception):
        with pytest.raises(TypeError):
            cls()
    status = native.sx126x_status(0x24)
    with pytest.raises(AttributeError):
        status.error = True
    assert native.sx126x_status(0x24) != status  # equal only to itself


# ---- SX127x ----------------------------------------------------------------------------------------


SX127X_REGISTERS = {
    "fifo": 0x00, "opMode": 0x01, "frfMsb": 0x06, "frfMid": 0x07, "frfLsb": 0x08, "paConfig": 0x09, "paRamp": 0x0A,
    "ocp": 0x0B, "lna": 0x0C, "fifoAddrPtr": 0x0D, "fifoTxBaseAddr": 0x0E, "fifoRxBaseAddr": 0x0F,
    "fifoRxCurrentAddr": 0x10, "irqFlagsMask": 0x11, "irqFlags": 0x12, "rxNbBytes": 0x13, "modemStat": 0x18,
    "pktSnrValue": 0x19, "pktRssiValue": 0x1A, "rssiValue": 0x1B, "hopChannel": 0x1C, "modemConfig1": 0x1D,
    "modemConfig2": 0x1E, "symbTimeoutLsb": 0x1F, "preambleMsb": 0x20, "preambleLsb": 0x21, "payloadLength": 0x22,
    "maxPayloadLength": 0x23, "modemConfig3": 0x26, "rssiWideband": 0x2C, "ifFreq2": 0x2F, "ifFreq1": 0x30,
    "detectOptimize": 0x31, "invertIq": 0x33, "highBwOptimize1": 0x36, "detectionThreshold": 0x37, "syncWord": 0x39,
    "highBwOptimize2": 0x3A, "invertIq2": 0x3B, "imageCal": 0x3B, "dioMapping1": 0x40, "dioMapping2": 0x41,
    "version": 0x42, "tcxo": 0x4B, "paDac": 0x4D,
}


def test_sx127x_named_tables():
    assert native.sx127x_registers() == SX127X_REGISTERS
    assert len(SX127X_REGISTERS) == 45
    assert native.sx127x_constants() == {
        "version": 0x12, "write": 0x80, "dio0RxDone": 0x00, "dio0TxDone": 0x40, "dio0CadDone": 0x80,
        "paDacDefault": 0x84, "paDacHighPower": 0x87, "imageCalStart": 0x40, "imageCalRunning": 0x20,
        "syncWordPublic": 0x34, "syncWordPrivate": 0x12, "lnaBoosted": 0x23, "tcxoInputOn": 0x19,
    }
    assert native.sx127x_irq_flags() == {
        "rxTimeout": 0x80, "rxDone": 0x40, "payloadCrcError": 0x20, "validHeader": 0x10, "txDone": 0x08,
        "cadDone": 0x04, "fhssChangeChannel": 0x02, "cadDetected": 0x01,
    }
    native.sx127x_registers()["fifo"] = 9
    assert native.sx127x_registers()["fifo"] == 0


def test_sx127x_register_map_matches_lorarf(lorarf_package):
    """LoRaRF's own constants for the registers both name."""
    theirs = {name[4:].replace("_", "").lower(): value for name, value in vars(lorarf_package.SX127x).items()
              if name.startswith("REG_")}
    ours = {name.lower(): address for name, address in SX127X_REGISTERS.items()}
    common = set(ours) & set(theirs)
    assert len(common) >= 30
    for name in common:
        assert ours[name] == theirs[name], name


@pytest.mark.parametrize("freq, word, back", [(868_100_000, 0xD90666, 868_099_976), (915_000_000, 0xE4C000, 915_000_000),
                                              (434_000_000, 0x6C8000, 434_000_000),
                                              (1_023_999_969, 0xFFFFFF, 1_023_999_939),
                                              (1_023_999_970, 0x1000000, 1_024_000_000), (0, 0, 0)])
def test_sx127x_frequency_words(freq, word, back):
    assert native.sx127x_frequency_word(freq) == word
    assert native.sx127x_frequency_from_word(word) == back


def test_sx127x_address_bytes_and_modes():
    assert native.sx127x_read_address(0x42) == 0x42
    assert native.sx127x_read_address(0xC2) == 0x42
    assert native.sx127x_write_address(0x01) == 0x81
    assert (native.sx127x_lora_op_mode("Tx"), native.sx127x_fsk_op_mode("Tx")) == (0x8B, 0x0B)
    assert (native.sx127x_lora_op_mode("Sleep"), native.sx127x_fsk_op_mode("Sleep")) == (0x88, 0x08)
    names = ["Sleep", "Standby", "FsTx", "Tx", "FsRx", "RxContinuous", "RxSingle", "Cad"]
    for bits, name in enumerate(names):
        assert native.sx127x_mode_from_op_mode(native.sx127x_lora_op_mode(name)) == name
        assert native.sx127x_mode_from_op_mode(0xF0 | bits) == name
    assert native.sx127x_mode_from_op_mode(0x81) == "Standby"
    assert native.sx127x_mode_from_op_mode(0x0D) == "RxContinuous"
    for call in (native.sx127x_lora_op_mode, native.sx127x_fsk_op_mode):
        with pytest.raises(ValueError, match="^no SX127x mode is named tx$"):
            call("tx")


@pytest.mark.parametrize("link, freq, symbols, registers", [
    (native.LoraLink(7, 125_000), 868_000_000, 0x2FF, (0x72, 0x76, 0x04, 0x03, 0x0A)),
    (native.LoraLink(12, 125_000), 868_000_000, 0, (0x72, 0xC4, 0x0C, 0x03, 0x0A)),
    (native.LoraLink(6, 62_500, 8, 8, False, False), 433_000_000, 0x1FF, (0x69, 0x61, 0x04, 0x05, 0x0C)),
    (native.LoraLink(9, 500_000, 6), 915_000_000, 0xFFFF, (0x94, 0x97, 0x04, 0x03, 0x0A)),
])
def test_sx127x_modem(link, freq, symbols, registers):
    m = native.sx127x_modem(link, freq, symbols)
    assert (m.modem_config_1, m.modem_config_2, m.modem_config_3, m.detection_optimize,
            m.detection_threshold) == registers


@pytest.mark.parametrize("link, freq, message", [
    (native.LoraLink(7, 200_000), 868_000_000, "the SX127x has no 200000 Hz LoRa bandwidth at this carrier"),
    (native.LoraLink(5, 125_000), 868_000_000, "the SX127x has no SF5"),
    (native.LoraLink(6, 125_000), 868_000_000, "SF6 needs an implicit header"),
    (native.LoraLink(7, 500_000), 169_000_000, "the SX127x has no 500000 Hz LoRa bandwidth at this carrier"),
    (native.LoraLink(5, 500_000), 169_000_000, "the SX127x has no SF5"),  # the spreading factor comes first
])
def test_sx127x_modem_refusals(link, freq, message):
    with pytest.raises(native.TrovikError) as caught:
        native.sx127x_modem(link, freq, 0)
    assert str(caught.value) == message


@pytest.mark.parametrize("link, timeout, symbols", [(LINK, 0, 4), (LINK, 10_000_000, 1023), (LINK, 1024 * 5, 5),
                                                    (LINK, 1024 * 5 + 1, 6), (LINK, 2 ** 64 - 1, 1023)])
def test_sx127x_symbol_timeout(link, timeout, symbols):
    assert native.sx127x_symbol_timeout(link, timeout) == symbols


@pytest.mark.parametrize("output, requested, power", [
    ("PaBoost", 20, (0xFF, 0x87, 0x31, 20)), ("PaBoost", 17, (0xFF, 0x84, 0x2B, 17)),
    ("PaBoost", 18, (0xFD, 0x87, 0x31, 18)), ("PaBoost", 1, (0xF0, 0x84, 0x2B, 2)),
    ("PaBoost", 2 ** 31 - 1, (0xFF, 0x87, 0x31, 20)), ("Rfo", 14, (0x7E, 0x84, 0x2B, 14)),
    ("Rfo", 0, (0x04, 0x84, 0x2B, 0)), ("Rfo", -10, (0x00, 0x84, 0x2B, -4)), ("Rfo", 99, (0x7F, 0x84, 0x2B, 15)),
])
def test_sx127x_tx_power(output, requested, power):
    p = native.sx127x_tx_power(output, requested)
    assert (p.pa_config, p.pa_dac, p.ocp, p.output_dbm) == power


def test_sx127x_tx_power_under_ceiling_and_names():
    budget = native.LinkBudget(transmit_antenna_gain_dbi=2.15, transmit_cable_loss_db=0.5)
    assert native.sx127x_tx_power_under_ceiling("PaBoost", budget, 14.0).output_dbm == 12
    assert native.sx127x_tx_power_under_ceiling("Rfo", budget, 30.0).output_dbm == 15
    assert native.sx127x_tx_power_under_ceiling("PaBoost", budget, -5.0).output_dbm == 2
    with pytest.raises(ValueError, match="^no amplifier output is named PA_BOOST; use Rfo or PaBoost$"):
        native.sx127x_tx_power("PA_BOOST", 14)
    with pytest.raises(TypeError):
        native.sx127x_tx_power_under_ceiling("PA_BOOST", budget, "14")


@pytest.mark.parametrize("milliamps, value", [(0, 0x20), (45, 0x20), (50, 0x21), (100, 0x2B), (120, 0x2F),
                                              (121, 0x2F), (140, 0x31), (240, 0x3B), (241, 0x3C), (65535, 0x3C)])
def test_sx127x_ocp_register(milliamps, value):
    assert native.sx127x_ocp_register(milliamps) == value


def test_sx127x_iq_and_bit_helpers():
    assert [native.sx127x_invert_iq(rx, tx) for rx, tx in [(False, False), (True, False), (False, True),
                                                            (True, True)]] == [0x27, 0x67, 0x26, 0x66]
    assert (native.sx127x_invert_iq_2(True), native.sx127x_invert_iq_2(False)) == (0x19, 0x1D)
    assert native.sx127x_image_cal_start(0x82) == 0x42
    assert native.sx127x_image_cal_start(0xFF) == 0x7F
    assert native.sx127x_automatic_if(0x03, True) == 0x83
    assert native.sx127x_automatic_if(0xC3, False) == 0x43


@pytest.mark.parametrize("bw, freq, optimize", [(500_000, 868_000_000, (0x02, 0x64)),
                                                (500_000, 525_000_000, (0x02, 0x7F)),
                                                (125_000, 868_000_000, (0x03, None))])
def test_sx127x_high_bw_optimize(bw, freq, optimize):
    o = native.sx127x_high_bw_optimize(native.LoraLink(7, bw), freq)
    assert (o.optimize_1, o.optimize_2) == optimize


@pytest.mark.parametrize("bw, setting", [
    (7_813, (7810, 0x48, False)), (10_417, (10420, 0x44, False)), (15_625, (15620, 0x44, False)),
    (20_833, (20830, 0x44, False)), (31_250, (31250, 0x44, False)), (41_667, (41670, 0x44, False)),
    (62_500, (0, 0x40, False)), (125_000, (0, 0x40, False)), (250_000, (0, 0x40, False)), (500_000, (0, None, True)),
])
def test_sx127x_spurious_reception(bw, setting):
    s = native.sx127x_spurious_reception(native.LoraLink(7, bw))
    assert (s.offset_hz, s.if_freq_2, s.automatic_if) == setting


def test_sx127x_errata_refuse_a_bandwidth_the_chip_lacks():
    for call in (lambda l: native.sx127x_high_bw_optimize(l, 868_000_000), native.sx127x_spurious_reception):
        with pytest.raises(native.TrovikError) as caught:
            call(native.LoraLink(7, 200_000))
        assert str(caught.value) == "the SX127x has no 200000 Hz LoRa bandwidth"


def test_sx127x_signal_and_status_registers():
    p = native.sx127x_packet_status(b"\xf8\x4f", 868_000_000)
    assert (p.rssi_dbm, p.snr_db, p.signal_rssi_dbm) == (-78.0, -2.0, -80.0)
    assert native.sx127x_packet_status([0xF8, 0x4F], 433_000_000).rssi_dbm == -85.0
    p = native.sx127x_packet_status(b"\x28\x4f", 525_000_001)
    assert (p.rssi_dbm, p.snr_db, p.signal_rssi_dbm) == (-78.0, 10.0, -78.0)
    assert native.sx127x_rssi_dbm(0, 525_000_000) == -164.0
    assert native.sx127x_rssi_dbm(0, 525_000_001) == -157.0
    for given in (0, 1, 3):
        with pytest.raises(ValueError) as caught:
            native.sx127x_packet_status(bytes(given), 868_000_000)
        assert str(caught.value) == f"RegPktSnrValue and RegPktRssiValue is 2 bytes, not {given}"


@pytest.mark.parametrize("byte, status", [
    (0x24, (5, False, False, True, False, False)), (0x00, (None, False, False, False, False, False)),
    (0x9F, (8, True, True, True, True, True)), (0xA0, (None, False, False, False, False, False)),
    (0x4B, (6, False, True, False, True, True)),
])
def test_sx127x_modem_status(byte, status):
    s = native.sx127x_modem_status(byte)
    assert (s.coding_rate_denominator, s.clear, s.header_valid, s.rx_ongoing, s.signal_synchronized,
            s.signal_detected) == status


# ---- what the helpers encode is what a configured chip is tuned to --------------------------------------


@pytest.mark.parametrize("freq", [150_000_000, 433_175_000, 868_100_000, 869_525_000, 915_000_000, 959_999_999])
def test_sx126x_helpers_encode_what_the_chip_tunes_to(freq):
    chip = native.SimulatedLoraChip.sx126x("HighPower")
    radio = chip.radio()
    radio.configure(freq, LINK, 14)
    word = int.from_bytes(native.sx126x_set_rf_frequency(freq)[1:], "big")
    assert word == native.sx126x_frequency_word(freq)
    # The chip reports the carrier its word selects.
    assert chip.tuning().frequency_hz == (word * 32_000_000 + 2 ** 24) >> 25
    radio.close()


@pytest.mark.parametrize("freq", [137_000_000, 433_175_000, 868_100_000, 915_000_000, 1_023_999_969])
def test_sx127x_helpers_encode_what_the_chip_tunes_to(freq):
    chip = native.SimulatedLoraChip.sx127x("PaBoost")
    radio = chip.radio()
    radio.configure(freq, LINK, 14)
    word = native.sx127x_frequency_word(freq)
    assert chip.tuning().frequency_hz == native.sx127x_frequency_from_word(word)
    assert [radio.read_register(a) for a in (0x06, 0x07, 0x08)] == list(word.to_bytes(3, "big"))
    modem = native.sx127x_modem(LINK, freq, 0)
    assert radio.read_register(0x1D) == modem.modem_config_1
    assert radio.read_register(0x1E) & 0xFC == modem.modem_config_2 & 0xFC
    assert radio.read_register(0x26) == modem.modem_config_3
    power = native.sx127x_tx_power("PaBoost", 14)
    assert [radio.read_register(a) for a in (0x09, 0x4D, 0x0B)] == [power.pa_config, power.pa_dac, power.ocp]
    radio.close()
