// The SX126x command set for programs with an SPI access of their own: the
// bytes of each command and query, the decoding of the answers, and the
// driver's conversions and amplifier choices. Each is built from the driver's
// own encoders.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "binding/binding.hpp"
#include "lora/region.hpp"
#include "radio/args.hpp"
#include "radio/chip_helpers.hpp"
#include "trovik/radios/sx126x/command.hpp"
#include "trovik/radios/sx126x/config.hpp"
#include "trovik/radios/sx126x/driver.hpp"
#include "trovik/radios/sx126x/error.hpp"

namespace trovik::py {

const BindingSource this_source{"radios"};

namespace {

namespace sx = radios::sx126x;

struct Sx126xTxPowerValue {
    sx::TxPower power;
};
struct Sx126xQueryValue {
    sx::Query query;
};
struct Sx126xStatusValue {
    sx::Status status;
};
struct Sx126xPacketStatusValue {
    sx::PacketStatus status;
};
struct Sx126xRxBufferStatusValue {
    sx::RxBufferStatus status;
};

ByteVec command_bytes(const sx::Command& command) {
    const auto bytes = command.as_bytes();
    return {bytes.begin(), bytes.end()};
}

// A header command followed by its data in one transaction.
ByteVec with_data(const sx::Command& header, ByteView data) {
    ByteVec bytes = command_bytes(header);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

PyObject* query(const sx::Query& q) { return make(Sx126xQueryValue{q}); }

std::int8_t clamp_dbm(std::int32_t dbm) { return static_cast<std::int8_t>(std::clamp<std::int32_t>(dbm, -128, 127)); }

std::uint16_t sync_word_value(radios::SyncWord word) {
    const auto registers = sx::sync_word_registers(word);
    return static_cast<std::uint16_t>(registers[0] << 8 | registers[1]);
}

const char* chip_mode_name(sx::ChipMode::Kind kind) {
    using enum sx::ChipMode::Kind;
    switch (kind) {
        case StandbyRc: return "StandbyRc";
        case StandbyXosc: return "StandbyXosc";
        case Fs: return "Fs";
        case Rx: return "Rx";
        case Tx: return "Tx";
        case Other: return "Other";
    }
    return "Other";
}

const char* command_status_name(sx::CommandStatus::Kind kind) {
    using enum sx::CommandStatus::Kind;
    switch (kind) {
        case DataAvailable: return "DataAvailable";
        case Timeout: return "Timeout";
        case ProcessingError: return "ProcessingError";
        case ExecutionFailure: return "ExecutionFailure";
        case TxDone: return "TxDone";
        case Other: return "Other";
    }
    return "Other";
}

// ---- result classes ------------------------------------------------------------------------

Class<Sx126xTxPowerValue> tx_power_class{
    "Sx126xTxPower", "The amplifier configuration and power setting that produce an output power.", [](auto& c) {
        c.no_borrow();  // never changes after it is made
        c.prop("pa_duty_cycle", "paDutyCycle, the conduction angle of the amplifier.",
               [](const Sx126xTxPowerValue& v) { return v.power.pa.pa_duty_cycle; });
        c.prop("hp_max", "hpMax, the size of the SX1262 amplifier; no effect on the SX1261.",
               [](const Sx126xTxPowerValue& v) { return v.power.pa.hp_max; });
        c.prop("device_sel", "deviceSel: 0 for the SX1262 and the LLCC68, 1 for the SX1261.",
               [](const Sx126xTxPowerValue& v) { return v.power.pa.device_sel; });
        c.prop("pa_lut", "paLut, reserved and always 1.",
               [](const Sx126xTxPowerValue& v) { return v.power.pa.pa_lut; });
        c.prop("setting_dbm", "The power byte of SetTxParams, in dBm.",
               [](const Sx126xTxPowerValue& v) { return v.power.setting_dbm; });
    }};

Class<Sx126xQueryValue> query_class{
    "Sx126xQuery", "A command the chip answers in the same SPI transaction.", [](auto& c) {
        c.no_borrow();
        c.prop("bytes", "The bytes to send: the command, ending with the NOP during which the status byte comes back.",
               [](const Sx126xQueryValue& v) { return v.query.command.as_bytes(); });
        c.prop("answer_len", "How many bytes of answer to read after the query's bytes.",
               [](const Sx126xQueryValue& v) { return v.query.answer_len; });
    }};

Class<Sx126xStatusValue> status_class{
    "Sx126xStatus", "A decoded SX126x status byte.", [](auto& c) {
        c.no_borrow();
        c.prop("chip_mode", "\"StandbyRc\", \"StandbyXosc\", \"Fs\", \"Rx\", \"Tx\" or \"Other\".",
               [](const Sx126xStatusValue& v) { return chip_mode_name(v.status.chip_mode.kind); });
        c.prop("command_status",
               "\"DataAvailable\", \"Timeout\", \"ProcessingError\", \"ExecutionFailure\", \"TxDone\" or \"Other\".",
               [](const Sx126xStatusValue& v) { return command_status_name(v.status.command_status.kind); });
        c.prop("error", "Whether the last command timed out, could not be processed, or failed.",
               [](const Sx126xStatusValue& v) {
                   using enum sx::CommandStatus::Kind;
                   const auto kind = v.status.command_status.kind;
                   return kind == Timeout || kind == ProcessingError || kind == ExecutionFailure;
               });
    }};

Class<Sx126xPacketStatusValue> packet_status_class{
    "Sx126xPacketStatus", "The signal levels of the last LoRa packet received.", [](auto& c) {
        c.no_borrow();
        c.prop("rssi_dbm", "The RSSI averaged over the packet, in dBm.",
               [](const Sx126xPacketStatusValue& v) { return v.status.rssi.to_db(); });
        c.prop("snr_db", "The estimated signal-to-noise ratio, in dB.",
               [](const Sx126xPacketStatusValue& v) { return v.status.snr.to_db(); });
        c.prop("signal_rssi_dbm", "The estimated RSSI of the LoRa signal after despreading, in dBm.",
               [](const Sx126xPacketStatusValue& v) { return v.status.signal_rssi.to_db(); });
    }};

Class<Sx126xRxBufferStatusValue> rx_buffer_status_class{
    "Sx126xRxBufferStatus", "Where a received payload sits in the data buffer.", [](auto& c) {
        c.no_borrow();
        c.prop("payload_len", "The length of the payload in bytes.",
               [](const Sx126xRxBufferStatusValue& v) { return v.status.payload_len; });
        c.prop("start", "The buffer offset of its first byte.",
               [](const Sx126xRxBufferStatusValue& v) { return v.status.start; });
    }};

// ---- conversions and choices -------------------------------------------------------------------

const Function constants_fn{
    "sx126x_constants", "The SX126x's named values: interrupt and error bits, sync words.", {}, [] {
        const radio::NamedValue entries[] = {
            {"RX_CONTINUOUS", sx::RX_CONTINUOUS},
            {"SYNC_WORD_PUBLIC", sync_word_value(radios::SyncWord::public_network())},
            {"SYNC_WORD_PRIVATE", sync_word_value(radios::SyncWord::private_network())},
            {"REGISTER_LORA_SYNC_WORD", sx::REG_SYNC_WORD},
            {"IRQ_TX_DONE", sx::IRQ_TX_DONE},
            {"IRQ_RX_DONE", sx::IRQ_RX_DONE},
            {"IRQ_PREAMBLE_DETECTED", sx::IRQ_PREAMBLE_DETECTED},
            {"IRQ_SYNC_WORD_VALID", sx::IRQ_SYNC_WORD_VALID},
            {"IRQ_HEADER_VALID", sx::IRQ_HEADER_VALID},
            {"IRQ_HEADER_ERROR", sx::IRQ_HEADER_ERROR},
            {"IRQ_CRC_ERROR", sx::IRQ_CRC_ERROR},
            {"IRQ_CAD_DONE", sx::IRQ_CAD_DONE},
            {"IRQ_CAD_DETECTED", sx::IRQ_CAD_DETECTED},
            {"IRQ_TIMEOUT", sx::IRQ_TIMEOUT},
            {"IRQ_LR_FHSS_HOP", sx::IRQ_LR_FHSS_HOP},
            {"IRQ_ALL", sx::IRQ_ALL},
            {"ERROR_RC64K_CALIBRATION", sx::ERROR_RC64K_CALIBRATION},
            {"ERROR_RC13M_CALIBRATION", sx::ERROR_RC13M_CALIBRATION},
            {"ERROR_PLL_CALIBRATION", sx::ERROR_PLL_CALIBRATION},
            {"ERROR_ADC_CALIBRATION", sx::ERROR_ADC_CALIBRATION},
            {"ERROR_IMAGE_CALIBRATION", sx::ERROR_IMAGE_CALIBRATION},
            {"ERROR_XOSC_START", sx::ERROR_XOSC_START},
            {"ERROR_PLL_LOCK", sx::ERROR_PLL_LOCK},
            {"ERROR_PA_RAMP", sx::ERROR_PA_RAMP},
        };
        return radio::dict_of(entries);
    }};

const Function frequency_word_fn{"sx126x_frequency_word",
                                 "The word SetRfFrequency takes for a frequency in hertz.",
                                 {"frequency_hz"},
                                 [](std::uint32_t frequency_hz) { return sx::frequency_word(frequency_hz); }};

const Function timeout_steps_fn{"sx126x_timeout_steps",
                                "The 24-bit timeout word SetTx and SetRx take for a duration in microseconds.",
                                {"timeout_us"},
                                [](std::uint64_t timeout_us) { return sx::timeout_steps(timeout_us); }};

const Function image_calibration_fn{"sx126x_image_calibration",
                                    "The two CalibrateImage codes that cover a band given by its edges in hertz.",
                                    {"low_hz", "high_hz"},
                                    [](std::uint32_t low_hz, std::uint32_t high_hz) {
                                        const sx::ImageCalibration codes = sx::image_calibration(low_hz, high_hz);
                                        return ByteVec{codes.low, codes.high};
                                    }};

const Function ramp_time_fn{
    "sx126x_ramp_time_us",
    "The shortest amplifier ramp time the chip offers that lasts at least the duration, in microseconds.",
    {"at_least_us"},
    [](std::uint32_t at_least_us) { return sx::RAMP_TIMES_US[sx::ramp_code(at_least_us)]; }};

const Function tx_power_fn{
    "sx126x_tx_power",
    "The amplifier settings for an output power, clamped to what the amplifier allows.",
    {"amplifier", "output_dbm"},
    [](std::string_view amplifier, std::int32_t output_dbm) {
        return make(Sx126xTxPowerValue{sx::TxPower::make(radio::amplifier_named(amplifier), clamp_dbm(output_dbm))});
    }};

const Function tx_power_under_ceiling_fn{
    "sx126x_tx_power_under_ceiling",
    "The amplifier settings that keep a link's EIRP at or under a ceiling, rounded down to whole decibels.",
    {"amplifier", "budget", "eirp_ceiling_dbm"},
    [](std::string_view amplifier, In<LinkBudgetValue> budget, double eirp_ceiling_dbm) {
        const sx::Amplifier chosen = radio::amplifier_named(amplifier);
        return make(Sx126xTxPowerValue{
            sx::TxPower::under_ceiling(chosen, budget->budget, lora::Decibels::from_db(eirp_ceiling_dbm))});
    }};

// ---- commands --------------------------------------------------------------------------------

sx::LoraModulation modulation_of(const lora::LinkSettings& link) {
    const auto modulation = sx::LoraModulation::from_link(link);
    if (!modulation) raise_trovik(sx::Error::bandwidth(link.bandwidth_hz()).message());
    return *modulation;
}

const Function set_standby_fn{
    "sx126x_set_standby", "SetStandby into STDBY_RC.", {}, [] { return command_bytes(sx::set_standby(sx::STDBY_RC)); }};

const Function set_packet_type_lora_fn{"sx126x_set_packet_type_lora", "SetPacketType to LoRa.", {}, [] {
                                           return command_bytes(sx::set_packet_type(sx::PacketType::Lora));
                                       }};

const Function set_rf_frequency_fn{
    "sx126x_set_rf_frequency",
    "SetRfFrequency for a frequency in hertz.",
    {"frequency_hz"},
    [](std::uint32_t frequency_hz) { return command_bytes(sx::set_rf_frequency(sx::frequency_word(frequency_hz))); }};

const Function calibrate_image_fn{"sx126x_calibrate_image",
                                  "CalibrateImage for a band given by its edges in hertz.",
                                  {"low_hz", "high_hz"},
                                  [](std::uint32_t low_hz, std::uint32_t high_hz) {
                                      const sx::ImageCalibration codes = sx::image_calibration(low_hz, high_hz);
                                      return command_bytes(sx::calibrate_image(codes.low, codes.high));
                                  }};

const Function set_pa_config_fn{
    "sx126x_set_pa_config", "SetPaConfig for amplifier settings.", {"power"}, [](In<Sx126xTxPowerValue> power) {
        return command_bytes(sx::set_pa_config(power->power.pa));
    }};

const Function set_tx_params_fn{
    "sx126x_set_tx_params",
    "SetTxParams: the power setting, and the shortest ramp time lasting at least ramp_us.",
    {"power", "ramp_us"},
    [](In<Sx126xTxPowerValue> power, std::uint32_t ramp_us) {
        return command_bytes(sx::set_tx_params(power->power.setting_dbm, sx::ramp_code(ramp_us)));
    }};

const Function set_lora_modulation_params_fn{
    "sx126x_set_lora_modulation_params", "SetModulationParams for a LoRa link.", {"link"}, [](In<LoraLinkValue> link) {
        return command_bytes(sx::set_lora_modulation_params(modulation_of(link->settings)));
    }};

const Function set_lora_packet_params_fn{
    "sx126x_set_lora_packet_params",
    "SetPacketParams for a LoRa link, a payload length and the IQ polarity.",
    {"link", "payload_len", "invert_iq"},
    [](In<LoraLinkValue> link, std::uint8_t payload_len, bool invert_iq) {
        const lora::LinkSettings& s = link->settings;
        return command_bytes(
            sx::set_lora_packet_params({s.preamble_symbols, payload_len, s.explicit_header, s.crc, invert_iq}));
    }};

const Function set_dio_irq_params_fn{"sx126x_set_dio_irq_params",
                                     "SetDioIrqParams: the interrupts to raise and the ones each DIO line signals.",
                                     {"irq", "dio1", arg("dio2").def(0), arg("dio3").def(0)},
                                     [](std::uint16_t irq, std::uint16_t dio1, std::uint16_t dio2, std::uint16_t dio3) {
                                         return command_bytes(sx::set_dio_irq_params(irq, dio1, dio2, dio3));
                                     }};

const Function clear_irq_status_fn{
    "sx126x_clear_irq_status", "ClearIrqStatus for the interrupts of a mask.", {"irq"}, [](std::uint16_t irq) {
        return command_bytes(sx::clear_irq_status(irq));
    }};

const Function set_tx_fn{
    "sx126x_set_tx",
    "SetTx with a timeout in microseconds; 0 disables the timeout.",
    {"timeout_us"},
    [](std::uint64_t timeout_us) { return command_bytes(sx::set_tx(sx::timeout_steps(timeout_us))); }};

const Function set_rx_fn{
    "sx126x_set_rx",
    "SetRx with a timeout in microseconds; 0 listens for one packet with no timeout.",
    {"timeout_us"},
    [](std::uint64_t timeout_us) { return command_bytes(sx::set_rx(sx::timeout_steps(timeout_us))); }};

const Function set_rx_continuous_fn{
    "sx126x_set_rx_continuous", "SetRx that keeps receiving packet after packet.", {}, [] {
        return command_bytes(sx::set_rx(sx::RX_CONTINUOUS));
    }};

const Function set_sleep_fn{"sx126x_set_sleep",
                            "SetSleep, keeping the configuration for a warm start or not.",
                            {"warm_start"},
                            [](bool warm_start) { return command_bytes(sx::set_sleep(warm_start, false)); }};

const Function write_register_fn{
    "sx126x_write_register",
    "A whole WriteRegister transaction: the opcode, the address, and the values.",
    {"address", "values"},
    [](std::uint16_t address, ByteView values) { return with_data(sx::write_register(address), values); }};

const Function write_buffer_fn{
    "sx126x_write_buffer",
    "A whole WriteBuffer transaction: the opcode, the offset, and the payload.",
    {"offset", "payload"},
    [](std::uint8_t offset, ByteView payload) { return with_data(sx::write_buffer(offset), payload); }};

// ---- queries -----------------------------------------------------------------------------------

const Function get_status_fn{
    "sx126x_get_status", "GetStatus: the status byte alone.", {}, [] { return query(sx::get_status()); }};
const Function get_irq_status_fn{
    "sx126x_get_irq_status", "GetIrqStatus: the interrupts raised.", {}, [] { return query(sx::get_irq_status()); }};
const Function get_rx_buffer_status_fn{
    "sx126x_get_rx_buffer_status", "GetRxBufferStatus: where the last payload sits.", {}, [] {
        return query(sx::get_rx_buffer_status());
    }};
const Function get_packet_status_fn{
    "sx126x_get_packet_status", "GetPacketStatus: the last packet's signal levels.", {}, [] {
        return query(sx::get_packet_status());
    }};
const Function get_rssi_inst_fn{
    "sx126x_get_rssi_inst", "GetRssiInst: the instantaneous RSSI.", {}, [] { return query(sx::get_rssi_inst()); }};
const Function get_device_errors_fn{
    "sx126x_get_device_errors", "GetDeviceErrors: the errors the chip has seen.", {}, [] {
        return query(sx::get_device_errors());
    }};
const Function read_register_fn{
    "sx126x_read_register",
    "ReadRegister of length bytes from an address.",
    {"address", "length"},
    [](std::uint16_t address, std::uint8_t length) { return query(sx::read_register(address, length)); }};
const Function read_buffer_fn{
    "sx126x_read_buffer",
    "ReadBuffer of length bytes from an offset.",
    {"offset", "length"},
    [](std::uint8_t offset, std::uint8_t length) { return query(sx::read_buffer(offset, length)); }};

// ---- decoders ----------------------------------------------------------------------------------

const Function status_fn{"sx126x_status", "Decodes a status byte.", {"byte"}, [](std::uint8_t byte) {
                             return make(Sx126xStatusValue{sx::decode_status(byte)});
                         }};

const Function irq_fn{"sx126x_irq", "The IRQ bits of a GetIrqStatus answer.", {"answer"}, [](ByteView answer) {
                          radio::require_length(answer, 2, "an IRQ status answer");
                          return sx::decode_irq(answer.first<2>());
                      }};

const Function device_errors_fn{
    "sx126x_device_errors", "The error bits of a GetDeviceErrors answer.", {"answer"}, [](ByteView answer) {
        radio::require_length(answer, 2, "a device errors answer");
        return sx::decode_device_errors(answer.first<2>());
    }};

const Function packet_status_fn{
    "sx126x_packet_status", "Decodes a GetPacketStatus answer.", {"answer"}, [](ByteView answer) {
        radio::require_length(answer, 3, "a packet status answer");
        return make(Sx126xPacketStatusValue{sx::decode_packet_status(answer.first<3>())});
    }};

const Function rx_buffer_status_fn{
    "sx126x_rx_buffer_status", "Decodes a GetRxBufferStatus answer.", {"answer"}, [](ByteView answer) {
        radio::require_length(answer, 2, "an RX buffer status answer");
        return make(Sx126xRxBufferStatusValue{sx::decode_rx_buffer_status(answer.first<2>())});
    }};

const Function rssi_inst_fn{
    "sx126x_rssi_inst_dbm", "The instantaneous RSSI of a GetRssiInst answer, in dBm.", {"byte"}, [](std::uint8_t byte) {
        return sx::decode_rssi_inst(byte).to_db();
    }};

const Function llcc68_supports_fn{"sx126x_llcc68_supports",
                                  "Whether an LLCC68 supports the link's spreading factor at its bandwidth.",
                                  {"link"},
                                  [](In<LoraLinkValue> link) {
                                      const auto modulation = sx::LoraModulation::from_link(link->settings);
                                      return modulation.has_value() && sx::llcc68_supports(*modulation);
                                  }};

}  // namespace

}  // namespace trovik::py
