#pragma once
// The far end of a simulated serial line: it answers every write at once. A
// simulated Modbus line is one.
#include <cstdint>
#include <span>
#include <vector>

namespace trovik::serial {

class Peer {
public:
    virtual ~Peer() = default;
    // Takes the bytes of one write and returns the reply, possibly none.
    virtual std::vector<std::uint8_t> receive(std::span<const std::uint8_t> written) = 0;
};

}  // namespace trovik::serial
