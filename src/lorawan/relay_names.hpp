#pragma once
// The Python names of the relay codes, both ways, for every binding source
// that reports or takes them. Reading accepts exactly the names listed and
// refuses anything else with TrovikError "{name} is not {what}; expected
// {choices}".
#include <string_view>

#include "trovik/lorawan/relay/codes.hpp"

namespace trovik::py {

std::string_view cad_periodicity_out(lorawan::relay::CadPeriodicity code) noexcept;
std::string_view receive_out(lorawan::relay::CadToRx code) noexcept;
std::string_view xtal_out(lorawan::relay::XtalAccuracy code) noexcept;
std::string_view forward_out(lorawan::relay::ForwardState code) noexcept;
// "default" for the default channel, "second" for any other code.
std::string_view channel_out(lorawan::relay::WorChannel code) noexcept;

lorawan::relay::CadPeriodicity periodicity_in(std::string_view name);
lorawan::relay::CadToRx receive_in(std::string_view name);
lorawan::relay::XtalAccuracy xtal_in(std::string_view name);
lorawan::relay::ForwardState forward_in(std::string_view name);
lorawan::relay::WorChannel channel_in(std::string_view name);

}  // namespace trovik::py
