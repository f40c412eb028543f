#pragma once
// Why an operation on an open serial port failed, and why a device could not
// be opened.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace trovik::serial {

// Bytes as two lowercase hex digits each, one space between: "01 03 ab".
std::string hex(std::span<const std::uint8_t> bytes);

struct PortError {
    enum class Kind : std::uint8_t {
        Io,        // a device operation failed: the operating system's words
        Mismatch,  // a scripted port was written what its script did not expect
    };
    Kind kind;
    std::string text;                                   // Io
    std::optional<std::vector<std::uint8_t>> expected;  // Mismatch: the expected write, if one was
    std::vector<std::uint8_t> written;                  // Mismatch: what was written

    static PortError io(std::string text) { return {Kind::Io, std::move(text), std::nullopt, {}}; }
    static PortError mismatch(std::optional<std::vector<std::uint8_t>> expected,
                              std::span<const std::uint8_t> written) {
        return {Kind::Mismatch, {}, std::move(expected), {written.begin(), written.end()}};
    }

    std::string message() const;
    friend bool operator==(const PortError&, const PortError&) = default;
};

struct OpenError {
    enum class Kind : std::uint8_t {
        Unsupported,  // no kernel terminal interface on this system
        Io,           // the device path and the reason
    };
    Kind kind;
    std::string path;
    std::string reason;

    std::string message() const;
    friend bool operator==(const OpenError&, const OpenError&) = default;
};

}  // namespace trovik::serial
