#include "radio/args.hpp"

#include <array>
#include <cmath>
#include <string>

#include "binding/errors.hpp"
#include "trovik/core/number_text.hpp"

namespace trovik::py::radio {

radios::sx126x::Amplifier amplifier_named(std::string_view name) {
    if (name == "LowPower") return radios::sx126x::Amplifier::LowPower;
    if (name == "HighPower") return radios::sx126x::Amplifier::HighPower;
    raise_value_error("no amplifier is named " + std::string(name) + "; use LowPower or HighPower");
}

radios::sx127x::Output output_named(std::string_view name) {
    if (name == "PaBoost") return radios::sx127x::Output::PaBoost;
    if (name == "Rfo") return radios::sx127x::Output::Rfo;
    raise_value_error("no amplifier output is named " + std::string(name) + "; use Rfo or PaBoost");
}

radios::sx126x::Board sx126x_board(std::string_view amplifier, std::optional<double> tcxo_volts,
                                   std::optional<std::uint32_t> tcxo_settle_us, bool dio2_rf_switch, bool dc_dc,
                                   bool llcc68) {
    radios::sx126x::Board board;
    board.amplifier = amplifier_named(amplifier);
    if (tcxo_volts) {
        // The voltage codes of SetDio3AsTcxoCtrl, 0 to 7, in millivolts.
        constexpr std::array<double, 8> millivolts{1600, 1700, 1800, 2200, 2400, 2700, 3000, 3300};
        const double mv = std::round(*tcxo_volts * 1000);  // halves away from zero; NaN stays NaN
        std::optional<std::uint8_t> code;
        for (std::uint8_t i = 0; i < millivolts.size(); ++i)
            if (mv == millivolts[i]) code = i;
        if (!code)
            raise_value_error("DIO3 cannot supply a TCXO with " + core::number_text::display(*tcxo_volts) +
                              " V; use 1.6, 1.7, 1.8, 2.2, 2.4, 2.7, 3.0, or 3.3");
        board.tcxo_voltage = code;
        board.tcxo_settle_us = tcxo_settle_us.value_or(5000);
    }
    board.dio2_rf_switch = dio2_rf_switch;
    board.dc_dc = dc_dc;
    board.llcc68 = llcc68;
    return board;
}

radios::sx127x::Board sx127x_board(std::string_view output, bool tcxo) {
    radios::sx127x::Board board;
    board.output = output_named(output);
    board.tcxo = tcxo;
    return board;
}

void opened(const radios::on_linux::OpenError& error) { raise_trovik(error.message()); }

lora::Decibels level(const char* name, double db) {
    if (!std::isfinite(db))
        raise_value_error(std::string(name) + " must be a finite number of decibels, not " +
                          core::number_text::display(db));
    return lora::Decibels::from_db(db);
}

}  // namespace trovik::py::radio
