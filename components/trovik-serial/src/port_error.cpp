#include "trovik/serial/port_error.hpp"

namespace trovik::serial {

std::string hex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

std::string PortError::message() const {
    if (kind == Kind::Io) return text;
    if (!expected) return "the script expected no more writes, but " + hex(written) + " was written";
    return "the script expected " + hex(*expected) + " to be written, not " + hex(written);
}

std::string OpenError::message() const {
    if (kind == Kind::Unsupported)
        return "a serial device is opened through the kernel's terminal interface, which only Linux has here";
    return path + ": " + reason;
}

}  // namespace trovik::serial
