#pragma once
// Why a mesh frame was refused.
#include <cstdint>
#include <string>

namespace trovik::mesh {

struct MeshError {
    enum class Kind { TooShort, TooLong, PayloadTooLong, UnsupportedVersion, CrcMismatch };
    Kind kind;
    std::uint8_t version = 0;    // UnsupportedVersion: the byte found
    std::uint16_t expected = 0;  // CrcMismatch: computed over the received bytes
    std::uint16_t found = 0;     // CrcMismatch: carried by the frame

    std::string message() const;
    friend bool operator==(const MeshError&, const MeshError&) = default;
};

}  // namespace trovik::mesh
