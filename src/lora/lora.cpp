// LoRa link settings (time on air, duty-cycle silence) and the link budget.
#include <cstdint>
#include <optional>

#include "binding/binding.hpp"
#include "lora/region.hpp"
#include "trovik/lora/link.hpp"
#include "trovik/lora/link_budget.hpp"

namespace trovik::py {

const BindingSource this_source{"lora"};

namespace {

using lora::Decibels;
using lora::LinkSettings;

Class<LoraLinkValue> lora_link_class{
    "LoraLink",
    "The radio settings of a LoRa link.\n\n"
    "The spreading factor is clamped into 5 to 12, a bandwidth of 0 is taken\n"
    "as 1 Hz and the coding-rate denominator is clamped into 5 to 8; the\n"
    "preamble length and both flags are kept as given.",
    [](auto& c) {
        c.no_borrow();  // never changes after construction
        c.init({"spreading_factor", "bandwidth_hz", arg("coding_rate_denominator").def(5),
                arg("preamble_symbols").def(8), arg("explicit_header").def(true), arg("crc").def(true)},
               [](std::uint8_t spreading_factor, std::uint32_t bandwidth_hz, std::uint8_t coding_rate_denominator,
                  std::uint16_t preamble_symbols, bool explicit_header, bool crc) {
                   LinkSettings settings =
                       LinkSettings(spreading_factor, bandwidth_hz).with_coding_rate(coding_rate_denominator);
                   settings.preamble_symbols = preamble_symbols;
                   settings.explicit_header = explicit_header;
                   settings.crc = crc;
                   return LoraLinkValue{settings};
               });
        c.prop("spreading_factor", "The spreading factor, 5 (fastest) to 12 (longest range).",
               [](const LoraLinkValue& l) { return l.settings.spreading_factor(); });
        c.prop("bandwidth_hz", "The channel bandwidth in hertz, such as `125_000`.",
               [](const LoraLinkValue& l) { return l.settings.bandwidth_hz(); });
        c.prop("coding_rate_denominator", "The coding-rate denominator, 5 to 8, for 4/5 to 4/8.",
               [](const LoraLinkValue& l) { return l.settings.coding_rate_denominator(); });
        c.prop("preamble_symbols", "The preamble length in symbols; the LoRa default is 8.",
               [](const LoraLinkValue& l) { return l.settings.preamble_symbols; });
        c.prop("explicit_header", "Whether the frame carries an explicit header.",
               [](const LoraLinkValue& l) { return l.settings.explicit_header; });
        c.prop("crc", "Whether the frame carries a CRC.", [](const LoraLinkValue& l) { return l.settings.crc; });
        c.def("symbol_time_us",
              "The duration of one symbol on this link, in microseconds.\n\n"
              "That is floor((1000000 << spreading_factor) / bandwidth_hz).",
              [](const LoraLinkValue& l) { return l.settings.symbol_time_us(); });
        c.def("low_data_rate_optimization",
              "Whether the link uses low data rate optimization.\n\n"
              "It is on exactly when a symbol lasts longer than 16 ms (SF11 and SF12\n"
              "at 125 kHz, SF12 at 250 kHz). A radio configured from this link must\n"
              "enable it under the same rule, since the time on air assumes it.",
              [](const LoraLinkValue& l) { return l.settings.low_data_rate_optimization(); });
        c.def("airtime_us",
              "The time on air of a payload, in microseconds.\n\n"
              "Preamble, header, payload and CRC, computed in integers and rounded\n"
              "down once at the end; a time too long for 64 bits comes back as\n"
              "18446744073709551615.",
              {"payload_len"},
              [](const LoraLinkValue& l, std::uint64_t payload_len) { return l.settings.airtime_us(payload_len); });
        c.def("min_off_time_us",
              "The minimum silence after a transmission to honor a duty-cycle limit.\n\n"
              "The limit is in parts per thousand (10 is one percent): the silence is\n"
              "airtime * (1000 - limit) / limit microseconds, 0 at 1000 or more, and\n"
              "`None` at 0, where the limit forbids transmitting at all.",
              {"payload_len", "duty_cycle_permille"},
              [](const LoraLinkValue& l, std::uint64_t payload_len,
                 std::uint32_t duty_cycle_permille) -> std::optional<std::uint64_t> {
                  // The core's "never" (2^64 - 1) is spelled None here.
                  if (duty_cycle_permille == 0) return std::nullopt;
                  return l.settings.min_off_time_us(payload_len, duty_cycle_permille);
              });
        c.def("messages_per_hour",
              "How many transmissions of a payload fit in an hour under a duty-cycle limit.\n\n"
              "Each transmission is followed by the silence `min_off_time_us` owes;\n"
              "a limit of 0 allows none.",
              {"payload_len", "duty_cycle_permille"},
              [](const LoraLinkValue& l, std::uint64_t payload_len, std::uint32_t duty_cycle_permille) {
                  return l.settings.messages_per_hour(payload_len, duty_cycle_permille);
              });
    }};

double db(Decibels d) { return d.to_db(); }

Class<LinkBudgetValue> link_budget_class{
    "LinkBudget",
    "The gains and losses of a LoRa link, from the transmitting radio to the\n"
    "receiving one.\n\n"
    "Every value is in decibels, resolved to the hundredth of a decibel: each\n"
    "argument is rounded to the nearest hundredth (halves away from zero) and\n"
    "reads back that way. Losses are positive numbers that are subtracted.\n"
    "Sums saturate instead of wrapping.",
    [](auto& c) {
        c.no_borrow();  // never changes after construction
        c.init({arg("transmit_power_dbm").def(0.0), arg("transmit_antenna_gain_dbi").def(0.0),
                arg("transmit_cable_loss_db").def(0.0), arg("receive_antenna_gain_dbi").def(0.0),
                arg("receive_cable_loss_db").def(0.0), arg("noise_figure_db").def(6.0)},
               [](double transmit_power_dbm, double transmit_antenna_gain_dbi, double transmit_cable_loss_db,
                  double receive_antenna_gain_dbi, double receive_cable_loss_db, double noise_figure_db) {
                   return LinkBudgetValue{lora::LinkBudget{
                       .transmit_power_dbm = Decibels::from_db(transmit_power_dbm),
                       .transmit_antenna_gain_dbi = Decibels::from_db(transmit_antenna_gain_dbi),
                       .transmit_cable_loss_db = Decibels::from_db(transmit_cable_loss_db),
                       .receive_antenna_gain_dbi = Decibels::from_db(receive_antenna_gain_dbi),
                       .receive_cable_loss_db = Decibels::from_db(receive_cable_loss_db),
                       .noise_figure_db = Decibels::from_db(noise_figure_db),
                   }};
               });
        c.prop("transmit_power_dbm", "The power the transmitting radio delivers at its antenna port, in dBm.",
               [](const LinkBudgetValue& b) { return db(b.budget.transmit_power_dbm); });
        c.prop("transmit_antenna_gain_dbi", "The gain of the transmitting antenna over an isotropic antenna, in dBi.",
               [](const LinkBudgetValue& b) { return db(b.budget.transmit_antenna_gain_dbi); });
        c.prop("transmit_cable_loss_db",
               "The loss in the cable and connectors between the transmitting radio and\nits antenna, in dB.",
               [](const LinkBudgetValue& b) { return db(b.budget.transmit_cable_loss_db); });
        c.prop("receive_antenna_gain_dbi", "The gain of the receiving antenna over an isotropic antenna, in dBi.",
               [](const LinkBudgetValue& b) { return db(b.budget.receive_antenna_gain_dbi); });
        c.prop("receive_cable_loss_db",
               "The loss in the cable and connectors between the receiving antenna and\nits radio, in dB.",
               [](const LinkBudgetValue& b) { return db(b.budget.receive_cable_loss_db); });
        c.prop("noise_figure_db", "The noise figure of the receiver, in dB.",
               [](const LinkBudgetValue& b) { return db(b.budget.noise_figure_db); });
        c.def("eirp_dbm",
              "The equivalent isotropically radiated power, in dBm.\n\n"
              "Transmit power plus transmit antenna gain minus transmit cable loss.",
              [](const LinkBudgetValue& b) { return db(b.budget.eirp_dbm()); });
        c.def("received_dbm",
              "The power arriving at the receiving radio over a path that loses\n"
              "`path_loss_db`, in dBm.",
              {"path_loss_db"}, [](const LinkBudgetValue& b, double path_loss_db) {
                  return db(b.budget.received_dbm(Decibels::from_db(path_loss_db)));
              });
        c.def("sensitivity_dbm",
              "The weakest signal the receiver decodes on `link`, in dBm: the noise\n"
              "floor of its bandwidth, plus the noise figure, plus the SNR its\n"
              "spreading factor needs.",
              {"link"}, [](const LinkBudgetValue& b, In<LoraLinkValue> link) {
                  return db(b.budget.sensitivity_dbm(link->settings.spreading_factor(), link->settings.bandwidth_hz()));
              });
        c.def(
            "max_path_loss_db", "The most path loss `link` survives, in dB.", {"link"},
            [](const LinkBudgetValue& b, In<LoraLinkValue> link) {
                return db(b.budget.max_path_loss_db(link->settings.spreading_factor(), link->settings.bandwidth_hz()));
            });
        c.def("margin_db",
              "How far the received power stays above the sensitivity of `link` over a\n"
              "path that loses `path_loss_db`, in dB; negative when the path loses more\n"
              "than the link survives.",
              {"link", "path_loss_db"}, [](const LinkBudgetValue& b, In<LoraLinkValue> link, double path_loss_db) {
                  return db(b.budget.margin_db(link->settings.spreading_factor(), link->settings.bandwidth_hz(),
                                               Decibels::from_db(path_loss_db)));
              });
        c.def("max_transmit_power_dbm",
              "The most power the radio may deliver under an EIRP ceiling, in dBm.\n\n"
              "A higher-gain antenna leaves less power for the radio.",
              {"eirp_ceiling_dbm"}, [](const LinkBudgetValue& b, double eirp_ceiling_dbm) {
                  return db(b.budget.max_transmit_power_dbm(Decibels::from_db(eirp_ceiling_dbm)));
              });
    }};

const Function lora_noise_floor_dbm_fn{
    "lora_noise_floor_dbm",
    "The thermal noise power in a channel, in dBm.\n\n"
    "That is -174 dBm/Hz plus 10 log10 of the bandwidth, to the hundredth of a\n"
    "decibel; a bandwidth of 0 counts as 1 Hz.",
    {"bandwidth_hz"},
    [](std::uint32_t bandwidth_hz) { return db(lora::noise_floor_dbm(bandwidth_hz)); }};

const Function lora_demodulator_snr_db_fn{
    "lora_demodulator_snr_db",
    "The signal-to-noise ratio the LoRa demodulator needs at a spreading factor, in dB.\n\n"
    "From -2.5 dB at SF5 down to -20 dB at SF12; spreading factors outside 5\n"
    "to 12 count as the nearest of them.",
    {"spreading_factor"},
    [](std::uint8_t spreading_factor) { return db(lora::demodulator_snr_db(spreading_factor)); }};

const Function lora_free_space_loss_db_fn{
    "lora_free_space_loss_db",
    "The free-space basic transmission loss between isotropic antennas, in dB.\n\n"
    "That is 20 log10(distance) + 20 log10(frequency) - 147.55, to the\n"
    "hundredth of a decibel; a distance or frequency of 0 counts as 1.",
    {"distance_m", "frequency_hz"},
    [](std::uint32_t distance_m, std::uint32_t frequency_hz) {
        return db(lora::free_space_loss_db(distance_m, frequency_hz));
    }};

const Function lora_fresnel_radius_mm_fn{
    "lora_fresnel_radius_mm",
    "The radius of the first Fresnel ellipsoid at a point on a path, in millimeters.\n\n"
    "The point lies `near_m` meters from one end and `far_m` from the other.\n"
    "The radius is rounded to the nearest millimeter; it is 0 at a frequency\n"
    "of 0 or on a path of zero length.",
    {"near_m", "far_m", "frequency_hz"},
    [](std::uint32_t near_m, std::uint32_t far_m, std::uint32_t frequency_hz) {
        return lora::fresnel_radius_mm(near_m, far_m, frequency_hz);
    }};

const Function lora_fcc_max_conducted_dbm_fn{
    "lora_fcc_max_conducted_dbm",
    "The most conducted power 47 CFR 15.247 allows a 902-928 MHz transmitter\n"
    "through an antenna, in dBm.\n\n"
    "Without a channel count the transmitter uses digital modulation (1 W);\n"
    "with 50 or more hopping channels it may use 1 W too, with 25 to 49 0.25 W.\n"
    "Each dB of antenna gain above 6 dBi takes one dB off the limit. Fewer\n"
    "than 25 hopping channels come back as `None`: paragraph (b)(2) sets no\n"
    "limit for them.",
    {"antenna_gain_dbi", arg("hopping_channels").none()},
    [](double antenna_gain_dbi, std::optional<std::uint16_t> hopping_channels) -> std::optional<double> {
        const auto limit = lora::fcc_max_conducted_dbm(Decibels::from_db(antenna_gain_dbi), hopping_channels);
        if (!limit) return std::nullopt;
        return db(*limit);
    }};

}  // namespace

PyObject* make_lora_link(const lora::LinkSettings& settings) { return make(LoraLinkValue{settings}); }

}  // namespace trovik::py
