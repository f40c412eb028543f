#include "trovik/can/filter.hpp"

#include "trovik/can/id.hpp"
#include "trovik/can/j1939.hpp"

namespace trovik::can {

std::expected<Filter, CanError> Filter::make(std::uint32_t id, std::uint32_t mask, bool extended) noexcept {
    if (!id_fits(id, extended)) return std::unexpected(CanError{CanError::Kind::IdTooWide});
    return Filter(id, mask & id_mask(extended), extended);
}

std::expected<Filter, CanError> Filter::exact(std::uint32_t id, bool extended) noexcept {
    return make(id, id_mask(extended), extended);
}

Filter Filter::pgn(std::uint32_t pgn) noexcept {
    // The data pages and PF sit at bits 25..16 of the identifier; a PDU2
    // group also names its group extension in bits 15..8, where a PDU1
    // group carries the destination, which the filter leaves open.
    if (!j1939::is_pdu2(pgn)) return Filter((pgn << 8) & 0x3FF0000, 0x3FF0000, true);
    return Filter((pgn & 0x3FFFF) << 8, 0x3FFFF00, true);
}

}  // namespace trovik::can
