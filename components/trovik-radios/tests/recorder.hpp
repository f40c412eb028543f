#pragma once
// What the driver tests run a driver through: an SPI device that writes each
// transaction down as text and can change answers or fail, lines that fail
// or stay busy, and a delay provider that counts the time asked for.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "trovik/radios/hal.hpp"

namespace trovik::radios::testing {

using Bytes = std::vector<std::uint8_t>;
using Log = std::vector<std::string>;

inline std::string hex(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Passes every transaction on to the chip and writes it down as text:
// "W:80 00", "W:12 00 R:2", "P:100000 W:C0 R:1". A hook may change the
// answers or fail a transaction.
struct Recorder final : hal::SpiDevice {
    Recorder(std::unique_ptr<hal::SpiDevice> inner, std::shared_ptr<Log> log) : inner(std::move(inner)), log(log) {}

    std::expected<void, hal::SpiErrorKind> transaction(std::span<hal::SpiOperation> ops) override {
        if (fail_at && log->size() + 1 == *fail_at) return std::unexpected(fail_kind);
        std::string line;
        Bytes written;
        for (const hal::SpiOperation& op : ops) {
            if (!line.empty()) line += ' ';
            switch (op.kind) {
                case hal::SpiOperation::Kind::Write:
                    line += "W:" + hex(op.out);
                    written.insert(written.end(), op.out.begin(), op.out.end());
                    break;
                case hal::SpiOperation::Kind::Read: line += "R:" + std::to_string(op.in.size()); break;
                case hal::SpiOperation::Kind::Pause: line += "P:" + std::to_string(op.pause_ns); break;
                default: line += "?"; break;
            }
        }
        log->push_back(line);
        auto done = inner->transaction(ops);
        if (answer_hook)
            for (hal::SpiOperation& op : ops)
                if (op.kind == hal::SpiOperation::Kind::Read) answer_hook(written, op.in);
        return done;
    }

    std::unique_ptr<hal::SpiDevice> inner;
    std::shared_ptr<Log> log;
    std::optional<std::size_t> fail_at;  // 1-based count of the transaction to fail
    hal::SpiErrorKind fail_kind = hal::SpiErrorKind::Other;
    std::function<void(const Bytes&, std::span<std::uint8_t>)> answer_hook;
};

struct StuckHigh final : hal::InputPin {
    std::expected<bool, hal::PinErrorKind> is_high() override { return true; }
};
struct BrokenLine final : hal::OutputPin, hal::InputPin {
    std::expected<void, hal::PinErrorKind> set_low() override { return std::unexpected(hal::PinErrorKind::Other); }
    std::expected<void, hal::PinErrorKind> set_high() override { return {}; }
    std::expected<bool, hal::PinErrorKind> is_high() override { return std::unexpected(hal::PinErrorKind::Other); }
};
// Counts the time a driver asks to wait.
struct CountingDelay final : hal::Delay {
    explicit CountingDelay(std::shared_ptr<std::uint64_t> total_ns) : total_ns(total_ns) {}
    void delay_ns(std::uint32_t ns) override { *total_ns += ns; }
    void delay_us(std::uint32_t us) override { *total_ns += std::uint64_t{us} * 1000; }
    std::shared_ptr<std::uint64_t> total_ns;
};

}  // namespace trovik::radios::testing
