#pragma once
// The refusals of the update component. Each has one fixed text, which is
// all a caller ever sees of it.
#include <cstdint>
#include <string_view>

namespace trovik::update {

enum class UpdateError : std::uint8_t {
    Malformed,
    UnsupportedVersion,
    BadSignature,
    DigestMismatch,
    SizeMismatch,
    WrongDevice,
    Rollback,
    Expired,
    NoClock,
    DoesNotFit,
    NoSuchSlot,
    BadSlotState,
    NothingToRevert,
};

std::string_view message(UpdateError error) noexcept;

}  // namespace trovik::update
