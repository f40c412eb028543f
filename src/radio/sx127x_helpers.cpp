// The SX127x register map and register values for programs with an SPI
// access of their own: addresses, named values, the values the driver writes
// for a link, a carrier and a power, its errata settings, and the decoding of
// the signal and status registers. Each is the driver's own.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "binding/binding.hpp"
#include "lora/region.hpp"
#include "radio/args.hpp"
#include "radio/chip_helpers.hpp"
#include "trovik/radios/sx127x/config.hpp"
#include "trovik/radios/sx127x/error.hpp"
#include "trovik/radios/sx127x/registers.hpp"

namespace trovik::py {

const BindingSource this_source{"radios"};

namespace {

namespace sx = radios::sx127x;

struct Sx127xTxPowerValue {
    sx::TxPower power;
};
struct Sx127xModemValue {
    sx::ModemRegisters registers;
};
struct Sx127xPacketStatusValue {
    sx::PacketStatus status;
};
struct Sx127xModemStatusValue {
    sx::ModemStatus status;
};
struct Sx127xHighBwOptimizeValue {
    sx::HighBwOptimize optimize;
};
struct Sx127xSpuriousReceptionValue {
    sx::SpuriousReception setting;
};

std::int8_t clamp_dbm(std::int32_t dbm) { return static_cast<std::int8_t>(std::clamp<std::int32_t>(dbm, -128, 127)); }

sx::Mode mode_named(std::string_view name) {
    const auto mode = sx::mode_named(name);
    if (!mode) raise_value_error("no SX127x mode is named " + std::string(name));
    return *mode;
}

// The errata settings follow the bandwidth alone, so the carrier plays no
// part in the refusal.
sx::LoraBandwidth bandwidth_of(const lora::LinkSettings& link) {
    const auto bandwidth = radios::sx126x::bandwidth_from_hz(link.bandwidth_hz());
    if (!bandwidth) raise_trovik("the SX127x has no " + std::to_string(link.bandwidth_hz()) + " Hz LoRa bandwidth");
    return *bandwidth;
}

// ---- result classes ------------------------------------------------------------------------

Class<Sx127xTxPowerValue> tx_power_class{
    "Sx127xTxPower", "The amplifier settings of an SX127x.", [](auto& c) {
        c.no_borrow();  // never changes after it is made
        c.prop("pa_config", "RegPaConfig: PaSelect, MaxPower and OutputPower.",
               [](const Sx127xTxPowerValue& v) { return v.power.pa_config; });
        c.prop("pa_dac", "RegPaDac: the +20 dBm setting above +17 dBm on PA_BOOST, else its reset value.",
               [](const Sx127xTxPowerValue& v) { return v.power.pa_dac; });
        c.prop("ocp", "RegOcp: the current limit.", [](const Sx127xTxPowerValue& v) { return v.power.ocp; });
        c.prop("output_dbm", "The output power the settings produce, in dBm.",
               [](const Sx127xTxPowerValue& v) { return v.power.output_dbm; });
    }};

Class<Sx127xModemValue> modem_class{
    "Sx127xModem", "The LoRa modem registers of an SX127x for a link.", [](auto& c) {
        c.no_borrow();
        c.prop("modem_config_1", "RegModemConfig1: bandwidth, coding rate and header mode.",
               [](const Sx127xModemValue& v) { return v.registers.modem_config_1; });
        c.prop("modem_config_2", "RegModemConfig2: spreading factor, CRC and the top bits of the symbol timeout.",
               [](const Sx127xModemValue& v) { return v.registers.modem_config_2; });
        c.prop("modem_config_3", "RegModemConfig3: low data rate optimization and the AGC.",
               [](const Sx127xModemValue& v) { return v.registers.modem_config_3; });
        c.prop("detection_optimize", "The DetectionOptimize bits for the low three bits of RegDetectOptimize.",
               [](const Sx127xModemValue& v) { return v.registers.detection_optimize; });
        c.prop("detection_threshold", "RegDetectionThreshold.",
               [](const Sx127xModemValue& v) { return v.registers.detection_threshold; });
    }};

Class<Sx127xPacketStatusValue> packet_status_class{
    "Sx127xPacketStatus", "The signal levels of a packet an SX127x received.", [](auto& c) {
        c.no_borrow();
        c.prop("rssi_dbm", "The RSSI averaged over the packet, in dBm.",
               [](const Sx127xPacketStatusValue& v) { return v.status.rssi.to_db(); });
        c.prop("snr_db", "The estimated signal-to-noise ratio, in dB.",
               [](const Sx127xPacketStatusValue& v) { return v.status.snr.to_db(); });
        c.prop("signal_rssi_dbm", "The strength of the packet itself, in dBm.",
               [](const Sx127xPacketStatusValue& v) { return v.status.signal_rssi.to_db(); });
    }};

Class<Sx127xModemStatusValue> modem_status_class{
    "Sx127xModemStatus", "The live state of an SX127x LoRa modem.", [](auto& c) {
        c.no_borrow();
        c.prop("coding_rate_denominator",
               "The coding rate denominator the last header announced, or None for a reserved value.",
               [](const Sx127xModemStatusValue& v) { return v.status.coding_rate_denominator; });
        c.prop("clear", "Whether the modem is clear.", [](const Sx127xModemStatusValue& v) { return v.status.clear; });
        c.prop("header_valid", "Whether the header of the packet under way is valid.",
               [](const Sx127xModemStatusValue& v) { return v.status.header_valid; });
        c.prop("rx_ongoing", "Whether a reception is under way.",
               [](const Sx127xModemStatusValue& v) { return v.status.rx_ongoing; });
        c.prop("signal_synchronized", "Whether the modem has synchronized on the end of the preamble.",
               [](const Sx127xModemStatusValue& v) { return v.status.signal_synchronized; });
        c.prop("signal_detected", "Whether a LoRa preamble has been detected.",
               [](const Sx127xModemStatusValue& v) { return v.status.signal_detected; });
    }};

Class<Sx127xHighBwOptimizeValue> high_bw_optimize_class{
    "Sx127xHighBwOptimize", "The writes of the SX127x 500 kHz sensitivity erratum.", [](auto& c) {
        c.no_borrow();
        c.prop("optimize_1", "The RegHighBwOptimize1 value.",
               [](const Sx127xHighBwOptimizeValue& v) { return v.optimize.optimize_1; });
        c.prop("optimize_2", "The RegHighBwOptimize2 value, or None when it is not written.",
               [](const Sx127xHighBwOptimizeValue& v) { return v.optimize.optimize_2; });
    }};

Class<Sx127xSpuriousReceptionValue> spurious_reception_class{
    "Sx127xSpuriousReception", "The receive settings of the SX127x spurious reception erratum.", [](auto& c) {
        c.no_borrow();
        c.prop("automatic_if", "Whether AutomaticIFOn stays on.",
               [](const Sx127xSpuriousReceptionValue& v) { return v.setting.automatic_if; });
        c.prop("if_freq_2", "The RegIfFreq2 value, with RegIfFreq1 cleared, or None when the IF stays automatic.",
               [](const Sx127xSpuriousReceptionValue& v) { return v.setting.if_freq_2; });
        c.prop("offset_hz", "How far above the carrier to receive, in hertz.",
               [](const Sx127xSpuriousReceptionValue& v) { return v.setting.offset_hz; });
    }};

// ---- register map and named values -----------------------------------------------------------

const Function registers_fn{"sx127x_registers", "The SX127x registers by name, with their addresses.", {}, [] {
                                std::vector<radio::NamedValue> entries;
                                for (const sx::NamedRegister& r : sx::named_registers())
                                    entries.push_back({r.name, r.address});
                                return radio::dict_of(entries);
                            }};

const Function constants_fn{"sx127x_constants", "The SX127x's named register values.", {}, [] {
                                const radio::NamedValue entries[] = {
                                    {"version", sx::VERSION},
                                    {"write", sx::reg::WRITE},
                                    {"dio0RxDone", sx::DIO0_RX_DONE},
                                    {"dio0TxDone", sx::DIO0_TX_DONE},
                                    {"dio0CadDone", sx::DIO0_CAD_DONE},
                                    {"paDacDefault", sx::PA_DAC_DEFAULT},
                                    {"paDacHighPower", sx::PA_DAC_HIGH_POWER},
                                    {"imageCalStart", sx::IMAGE_CAL_START},
                                    {"imageCalRunning", sx::IMAGE_CAL_RUNNING},
                                    {"syncWordPublic", radios::SyncWord::public_network().byte()},
                                    {"syncWordPrivate", radios::SyncWord::private_network().byte()},
                                    {"lnaBoosted", sx::LNA_BOOSTED},
                                    {"tcxoInputOn", sx::TCXO_INPUT_ON},
                                };
                                return radio::dict_of(entries);
                            }};

const Function irq_flags_fn{"sx127x_irq_flags", "The RegIrqFlags bits by name.", {}, [] {
                                const radio::NamedValue entries[] = {
                                    {"rxTimeout", sx::IRQ_RX_TIMEOUT},
                                    {"rxDone", sx::IRQ_RX_DONE},
                                    {"payloadCrcError", sx::IRQ_PAYLOAD_CRC_ERROR},
                                    {"validHeader", sx::IRQ_VALID_HEADER},
                                    {"txDone", sx::IRQ_TX_DONE},
                                    {"cadDone", sx::IRQ_CAD_DONE},
                                    {"fhssChangeChannel", sx::IRQ_FHSS_CHANGE_CHANNEL},
                                    {"cadDetected", sx::IRQ_CAD_DETECTED},
                                };
                                return radio::dict_of(entries);
                            }};

const Function frequency_word_fn{"sx127x_frequency_word",
                                 "The 24-bit RegFrf word an SX127x takes for a frequency in hertz.",
                                 {"frequency_hz"},
                                 [](std::uint32_t frequency_hz) { return sx::unchecked_frequency_word(frequency_hz); }};

const Function frequency_from_word_fn{"sx127x_frequency_from_word",
                                      "The frequency in hertz an SX127x RegFrf word selects.",
                                      {"word"},
                                      [](std::uint32_t word) { return sx::frequency_from_word(word); }};

const Function read_address_fn{
    "sx127x_read_address", "The SX127x address byte that reads a register.", {"address"}, [](std::uint8_t address) {
        return sx::read_address(address);
    }};

const Function write_address_fn{
    "sx127x_write_address", "The SX127x address byte that writes a register.", {"address"}, [](std::uint8_t address) {
        return sx::write_address(address);
    }};

const Function lora_op_mode_fn{
    "sx127x_lora_op_mode", "RegOpMode for a LoRa mode by name.", {"mode"}, [](std::string_view mode) {
        return sx::lora_op_mode(mode_named(mode));
    }};

const Function fsk_op_mode_fn{"sx127x_fsk_op_mode",
                              "RegOpMode for an FSK mode by name, as image calibration needs.",
                              {"mode"},
                              [](std::string_view mode) { return sx::fsk_op_mode(mode_named(mode)); }};

const Function mode_from_op_mode_fn{
    "sx127x_mode_from_op_mode", "The name of the mode in RegOpMode bits 2:0.", {"op_mode"}, [](std::uint8_t op_mode) {
        return sx::name(sx::mode_from_op_mode(op_mode));
    }};

// ---- configuration values ----------------------------------------------------------------------

const Function modem_fn{"sx127x_modem",
                        "The LoRa modem registers for a link at a carrier, with the top bits of a symbol timeout.",
                        {"link", "frequency_hz", "symbol_timeout"},
                        [](In<LoraLinkValue> link, std::uint32_t frequency_hz, std::uint16_t symbol_timeout) {
                            const auto modulation = sx::modulation_at(link->settings, frequency_hz);
                            if (!modulation) raise_trovik(modulation.error().message());
                            return make(Sx127xModemValue{sx::modem_registers(*modulation, symbol_timeout)});
                        }};

const Function symbol_timeout_fn{
    "sx127x_symbol_timeout",
    "The SX127x single reception timeout for a duration in microseconds, in the link's symbols.",
    {"link", "timeout_us"},
    [](In<LoraLinkValue> link, std::uint64_t timeout_us) { return sx::symbol_timeout(link->settings, timeout_us); }};

const Function tx_power_fn{
    "sx127x_tx_power",
    "The amplifier settings for an output power on an amplifier output.",
    {"output", "output_dbm"},
    [](std::string_view output, std::int32_t output_dbm) {
        return make(Sx127xTxPowerValue{sx::TxPower::make(radio::output_named(output), clamp_dbm(output_dbm))});
    }};

const Function tx_power_under_ceiling_fn{
    "sx127x_tx_power_under_ceiling",
    "The amplifier settings that keep a link's EIRP at or under a ceiling.",
    {"output", "budget", "eirp_ceiling_dbm"},
    [](std::string_view output, In<LinkBudgetValue> budget, double eirp_ceiling_dbm) {
        const sx::Output chosen = radio::output_named(output);
        return make(Sx127xTxPowerValue{
            sx::TxPower::under_ceiling(chosen, budget->budget, lora::Decibels::from_db(eirp_ceiling_dbm))});
    }};

const Function ocp_register_fn{
    "sx127x_ocp_register", "RegOcp for a current limit in milliamps.", {"milliamps"}, [](std::uint16_t milliamps) {
        return sx::ocp_register(milliamps);
    }};

const Function invert_iq_fn{"sx127x_invert_iq",
                            "RegInvertIQ for the IQ polarity of each path.",
                            {"receive", "transmit"},
                            [](bool receive, bool transmit) { return sx::invert_iq(receive, transmit); }};

const Function invert_iq_2_fn{
    "sx127x_invert_iq_2", "RegInvertIQ2 for the path in use.", {"inverted"}, [](bool inverted) {
        return sx::invert_iq_2(inverted);
    }};

const Function high_bw_optimize_fn{
    "sx127x_high_bw_optimize",
    "The writes of the 500 kHz sensitivity erratum for a link at a carrier.",
    {"link", "frequency_hz"},
    [](In<LoraLinkValue> link, std::uint32_t frequency_hz) {
        return make(Sx127xHighBwOptimizeValue{sx::high_bw_optimize(bandwidth_of(link->settings), frequency_hz)});
    }};

const Function spurious_reception_fn{
    "sx127x_spurious_reception",
    "The receive settings of the spurious reception erratum for a link.",
    {"link"},
    [](In<LoraLinkValue> link) {
        return make(Sx127xSpuriousReceptionValue{sx::spurious_reception(bandwidth_of(link->settings))});
    }};

const Function image_cal_start_fn{"sx127x_image_cal_start",
                                  "RegImageCal with ImageCalStart set and AutoImageCalOn clear, other bits kept.",
                                  {"current"},
                                  [](std::uint8_t current) { return sx::image_cal_start(current); }};

const Function automatic_if_fn{"sx127x_automatic_if",
                               "RegDetectOptimize with AutomaticIFOn set or clear.",
                               {"current", "automatic_if"},
                               [](std::uint8_t current, bool on) { return sx::automatic_if(current, on); }};

// ---- signal and status registers ---------------------------------------------------------------

const Function packet_status_fn{
    "sx127x_packet_status",
    "The signal levels in RegPktSnrValue and RegPktRssiValue, read together.",
    {"answer", "frequency_hz"},
    [](ByteView answer, std::uint32_t frequency_hz) {
        radio::require_length(answer, 2, "RegPktSnrValue and RegPktRssiValue");
        return make(Sx127xPacketStatusValue{sx::decode_packet_status(answer.first<2>(), frequency_hz)});
    }};

const Function rssi_fn{
    "sx127x_rssi_dbm",
    "RegRssiValue decoded for a receiver tuned to the carrier, in dBm.",
    {"byte", "frequency_hz"},
    [](std::uint8_t byte, std::uint32_t frequency_hz) { return sx::rssi(byte, frequency_hz).to_db(); }};

const Function modem_status_fn{"sx127x_modem_status", "RegModemStat decoded.", {"byte"}, [](std::uint8_t byte) {
                                   return make(Sx127xModemStatusValue{sx::decode_modem_status(byte)});
                               }};

}  // namespace

}  // namespace trovik::py
