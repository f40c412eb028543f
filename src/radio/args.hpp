#pragma once
// Arguments the radio classes share: the SX126x board settings as Python
// names them, and signal levels given in decibels.
#include <cstdint>
#include <optional>
#include <string_view>

#include "trovik/lora/link_budget.hpp"
#include "trovik/radios/opening.hpp"
#include "trovik/radios/sx126x/config.hpp"
#include "trovik/radios/sx127x/config.hpp"

namespace trovik::py::radio {

// An SX126x amplifier by name, "LowPower" or "HighPower"; ValueError otherwise.
radios::sx126x::Amplifier amplifier_named(std::string_view name);
// An SX127x amplifier output by name, "PaBoost" or "Rfo"; ValueError otherwise.
radios::sx127x::Output output_named(std::string_view name);

// The board settings of an SX126x module. Raises ValueError for an amplifier
// other than "LowPower" or "HighPower" (checked first) and for a TCXO voltage
// DIO3 cannot supply. Without a TCXO the settling time is 0; with one it is
// `tcxo_settle_us`, or 5 ms when that is not given.
radios::sx126x::Board sx126x_board(std::string_view amplifier, std::optional<double> tcxo_volts,
                                   std::optional<std::uint32_t> tcxo_settle_us, bool dio2_rf_switch, bool dc_dc,
                                   bool llcc68);

// The board settings of an SX127x module. Raises ValueError for an output
// other than "PaBoost" or "Rfo".
radios::sx127x::Board sx127x_board(std::string_view output, bool tcxo);

// Raises TrovikError with the opening's message.
[[noreturn]] void opened(const radios::on_linux::OpenError& error);

// A level in decibels as hundredths (halves away from zero, saturating).
// Raises ValueError naming `name` for a value that is not finite.
lora::Decibels level(const char* name, double db);

}  // namespace trovik::py::radio
