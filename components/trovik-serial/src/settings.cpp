#include "trovik/serial/settings.hpp"

#include "trovik/core/text.hpp"

namespace trovik::serial {

std::string_view parity_name(Parity parity) noexcept {
    switch (parity) {
        case Parity::None: return "None";
        case Parity::Even: return "Even";
        case Parity::Odd: return "Odd";
    }
    return "None";
}

std::optional<Parity> parse_parity(std::string_view name) noexcept {
    if (name == "None") return Parity::None;
    if (name == "Even") return Parity::Even;
    if (name == "Odd") return Parity::Odd;
    return std::nullopt;
}

std::string SettingsError::message() const {
    switch (kind) {
        case Kind::ZeroSpeed: return "the speed must be above zero";
        case Kind::Parity: return "parity " + core::text::debug_quoted(parity) + " is not None, Even, or Odd";
        case Kind::StopBits: return std::to_string(stop_bits) + " stop bits is not 1 or 2";
    }
    return "invalid serial settings";
}

std::expected<Settings, SettingsError> Settings::make(std::uint32_t baud, std::string_view parity,
                                                      std::uint8_t stop_bits) {
    if (baud == 0) return std::unexpected(SettingsError{SettingsError::Kind::ZeroSpeed, {}});
    const std::optional<Parity> p = parse_parity(parity);
    if (!p) return std::unexpected(SettingsError{SettingsError::Kind::Parity, std::string(parity)});
    if (stop_bits != 1 && stop_bits != 2)
        return std::unexpected(SettingsError{SettingsError::Kind::StopBits, {}, stop_bits});
    return Settings{baud, *p, stop_bits == 2};
}

std::uint64_t Settings::transfer_micros(std::uint64_t count) const noexcept {
    const unsigned __int128 nanos = static_cast<unsigned __int128>(count) * character_nanos();
    const unsigned __int128 micros = (nanos + 999) / 1000;
    return micros > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(micros);
}

}  // namespace trovik::serial
