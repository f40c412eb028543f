#include "trovik/update/error.hpp"

namespace trovik::update {

std::string_view message(UpdateError error) noexcept {
    switch (error) {
        case UpdateError::Malformed: return "the manifest is malformed";
        case UpdateError::UnsupportedVersion: return "the manifest structure version is not supported";
        case UpdateError::BadSignature: return "the manifest signature is not from the trusted key";
        case UpdateError::DigestMismatch: return "the image does not match the manifest digest";
        case UpdateError::SizeMismatch: return "the image is not the size the manifest declares";
        case UpdateError::WrongDevice: return "the manifest is for a different vendor or device class";
        case UpdateError::Rollback: return "the sequence number would roll the device back";
        case UpdateError::Expired: return "the manifest has expired";
        case UpdateError::NoClock: return "the manifest expires and this device has no clock";
        case UpdateError::DoesNotFit: return "the image does not fit the target slot";
        case UpdateError::NoSuchSlot: return "no such slot on this device";
        case UpdateError::BadSlotState: return "the slot is not in a state that allows this";
        case UpdateError::NothingToRevert: return "there is no confirmed image to revert to";
    }
    return "the manifest is malformed";
}

}  // namespace trovik::update
