#pragma once
// A chip whose answers come from the fuzz input, for the radio driver
// targets: every read of an SPI transaction takes the input's next bytes
// (zeros once it runs out), and a transaction whose control byte is 0xEE
// fails with the kind the byte after it names. The lines and the delay
// provider never fail and never wait.
#include <cstdint>
#include <expected>
#include <memory>
#include <span>

#include "trovik/radios/hal.hpp"

namespace trovik::radios::fuzzing {

// The input, read from the front; zeros once it runs out.
struct Script {
    std::span<const std::uint8_t> rest;
    std::uint8_t next() {
        if (rest.empty()) return 0;
        const std::uint8_t b = rest.front();
        rest = rest.subspan(1);
        return b;
    }
};

struct ScriptedSpi final : hal::SpiDevice {
    explicit ScriptedSpi(std::shared_ptr<Script> script) : script(std::move(script)) {}
    std::expected<void, hal::SpiErrorKind> transaction(std::span<hal::SpiOperation> ops) override {
        const std::uint8_t control = script->next();
        if (control == 0xEE) return std::unexpected(static_cast<hal::SpiErrorKind>(script->next() % 5));
        for (hal::SpiOperation& op : ops)
            if (op.kind == hal::SpiOperation::Kind::Read)
                for (std::uint8_t& b : op.in)
                    b = script->next();
        return {};
    }
    std::shared_ptr<Script> script;
};

struct Line final : hal::OutputPin {
    std::expected<void, hal::PinErrorKind> set_low() override { return {}; }
    std::expected<void, hal::PinErrorKind> set_high() override { return {}; }
};

struct NoDelay final : hal::Delay {
    void delay_ns(std::uint32_t) override {}
    void delay_us(std::uint32_t) override {}
};

}  // namespace trovik::radios::fuzzing
