#pragma once
// Why a LoRaWAN frame could not be built or read. The texts are what the
// network side and the Python layer pass on unchanged.
#include <cstdint>
#include <string>

namespace trovik::lorawan {

struct LorawanError {
    enum class Kind : std::uint8_t {
        PayloadTooLarge,
        TooShort,
        MessageType,  // carries the MHDR with its low five bits cleared
        MicMismatch,
        FrameCounterMismatch,
        Malformed,
        UnknownMacCommand,  // carries the command identifier
    };
    Kind kind;
    std::uint8_t value = 0;

    std::string display() const;
    friend bool operator==(const LorawanError&, const LorawanError&) = default;
};

}  // namespace trovik::lorawan
