#pragma once
// The acceptance filter a node keeps frames by: a frame passes when its
// format is the filter's and its identifier, masked, equals the filter's
// identifier, masked. The format is compared first; identifier bits outside
// the mask never matter.
#include <cstdint>
#include <expected>

#include "trovik/can/error.hpp"
#include "trovik/can/frame.hpp"
#include "trovik/can/id.hpp"

namespace trovik::can {

class Filter {
public:
    // Refuses an identifier wider than its format; the mask is cut to the
    // width, since bits past it match nothing either way.
    static std::expected<Filter, CanError> make(std::uint32_t id, std::uint32_t mask, bool extended) noexcept;
    // Passes that one identifier and nothing else.
    static std::expected<Filter, CanError> exact(std::uint32_t id, bool extended) noexcept;
    // Passes one J1939 parameter group at any priority and from any source,
    // and for an addressed (PDU1) group to any destination. PGN bits above
    // bit 17 are ignored.
    static Filter pgn(std::uint32_t pgn) noexcept;

    std::uint32_t id() const noexcept { return id_; }
    std::uint32_t mask() const noexcept { return mask_; }
    bool extended() const noexcept { return extended_; }

    // An identifier wider than its format is no frame's, and passes nothing.
    bool passes(std::uint32_t id, bool extended) const noexcept {
        return extended == extended_ && id_fits(id, extended) && ((id ^ id_) & mask_) == 0;
    }
    bool passes(const Frame& frame) const noexcept { return passes(frame.id(), frame.is_extended()); }

    friend bool operator==(const Filter&, const Filter&) = default;

private:
    Filter(std::uint32_t id, std::uint32_t mask, bool extended) noexcept : id_(id), mask_(mask), extended_(extended) {}

    std::uint32_t id_;
    std::uint32_t mask_;
    bool extended_;
};

}  // namespace trovik::can
