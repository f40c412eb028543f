#include "trovik/modbus/function.hpp"

#include <array>

namespace trovik::modbus {
namespace {

struct Row {
    std::uint8_t code;
    std::string_view text;
};
constexpr std::array<Row, 9> kExceptions{{
    {0x01, "illegal function"},
    {0x02, "illegal data address"},
    {0x03, "illegal data value"},
    {0x04, "server device failure"},
    {0x05, "acknowledge"},
    {0x06, "server device busy"},
    {0x08, "memory parity error"},
    {0x0A, "gateway path unavailable"},
    {0x0B, "gateway target device failed to respond"},
}};

}  // namespace

std::uint8_t exception_code(Exception e) noexcept { return kExceptions[static_cast<std::size_t>(e)].code; }

std::string_view exception_text(Exception e) noexcept { return kExceptions[static_cast<std::size_t>(e)].text; }

std::optional<Exception> exception_from_code(std::uint8_t code) noexcept {
    for (std::size_t i = 0; i < kExceptions.size(); ++i)
        if (kExceptions[i].code == code) return static_cast<Exception>(i);
    return std::nullopt;
}

}  // namespace trovik::modbus
