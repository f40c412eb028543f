#include <algorithm>

#include "trovik/core/text.hpp"
#include "trovik/hal/parts.hpp"

namespace trovik::hal::sim {
namespace {

PartResult refuse(PartError::Kind kind) { return std::unexpected(PartError{kind}); }

// The bus routes by address, so only a part driven directly meets this.
PartResult wrong_address(std::uint8_t to, std::uint8_t part) {
    return std::unexpected(PartError{PartError::Kind::WrongAddress, to, part});
}

std::uint8_t next(std::uint8_t reg) noexcept { return static_cast<std::uint8_t>(reg + 1); }

// Every kind begins a transaction the same way: only its own address reaches
// it, every transaction that does is counted however it ends, and the first
// refusal ends it, leaving what the operations before it changed.
template <class Kind, class Write, class Read>
PartResult serve(Kind& part, std::uint8_t to, std::span<const Operation> operations, Write write, Read read) {
    if (to != part.address) return wrong_address(to, part.address);
    ++part.transfers;
    for (const Operation& op : operations) {
        if (!op.is_read())
            write(op.bytes());
        else if (PartResult done = read(op.buffer()); !done)
            return done;
    }
    return {};
}

}  // namespace

std::string PartError::message() const {
    switch (kind) {
        case Kind::WrongAddress:
            return "a transfer to " + core::text::hex_prefixed(to, 4) + " reached the part at " +
                   core::text::hex_prefixed(part, 4);
        case Kind::NoRegister: return "a read came before anything said which register to read";
        case Kind::NoReply: return "a read came when no command had left a reply";
    }
    return {};
}

void store(Registers& registers, std::uint8_t reg, std::uint8_t byte) noexcept { registers[reg] = byte; }
std::uint8_t stored(const Registers& registers, std::uint8_t reg) noexcept { return registers[reg]; }
std::uint8_t following(const Registers&, std::uint8_t reg) noexcept { return next(reg); }

// ---- I2cPart ------------------------------------------------------------------------

void I2cPart::load(std::uint8_t first, std::span<const std::uint8_t> data) noexcept {
    std::uint8_t reg = first;
    for (std::uint8_t byte : data) {
        registers[reg] = byte;
        reg = next(reg);
    }
}

PartResult I2cPart::transaction(std::uint8_t to, std::span<const Operation> operations) noexcept {
    return serve(
        *this, to, operations,
        [this](std::span<const std::uint8_t> bytes) {
            if (bytes.empty()) return;
            std::uint8_t reg = bytes[0];
            for (std::uint8_t byte : bytes.subspan(1)) {
                store(registers, reg, byte);
                reg = following(registers, reg);
            }
            pointer = reg;
        },
        [this](std::span<std::uint8_t> buffer) -> PartResult {
            if (!pointer) return refuse(PartError::Kind::NoRegister);
            std::uint8_t reg = *pointer;
            for (std::uint8_t& byte : buffer) {
                byte = stored(registers, reg);
                reg = following(registers, reg);
            }
            pointer = reg;
            return {};
        });
}

// ---- WordPart -----------------------------------------------------------------------

PartResult WordPart::transaction(std::uint8_t to, std::span<const Operation> operations) noexcept {
    return serve(
        *this, to, operations,
        [this](std::span<const std::uint8_t> bytes) {
            if (bytes.empty()) return;
            pointer = bytes[0];
            std::uint8_t reg = bytes[0];
            // Whole pairs only: a lone last byte is no value.
            for (std::size_t i = 1; i + 1 < bytes.size(); i += 2) {
                auto value = static_cast<std::uint16_t>(bytes[i] << 8 | bytes[i + 1]);
                const std::uint16_t mask = read_only[reg];
                registers[reg] = static_cast<std::uint16_t>((value & ~mask) | (registers[reg] & mask));
                reg = next(reg);
            }
        },
        [this](std::span<std::uint8_t> buffer) -> PartResult {
            if (!pointer) return refuse(PartError::Kind::NoRegister);
            // High byte then low byte per register; the pointer stays.
            std::uint8_t reg = *pointer;
            for (std::size_t i = 0; i < buffer.size(); ++i) {
                const std::uint16_t value = registers[reg];
                if (i % 2 == 0) {
                    buffer[i] = static_cast<std::uint8_t>(value >> 8);
                } else {
                    buffer[i] = static_cast<std::uint8_t>(value);
                    reg = next(reg);
                }
            }
            return {};
        });
}

// ---- CommandPart --------------------------------------------------------------------

void CommandPart::answer(std::span<const std::uint8_t> command, std::span<const std::uint8_t> reply) {
    for (auto& [known, answer] : answers) {
        if (std::ranges::equal(known, command)) {
            answer.assign(reply.begin(), reply.end());
            return;
        }
    }
    answers.emplace_back(Bytes(command.begin(), command.end()), Bytes(reply.begin(), reply.end()));
}

PartResult CommandPart::transaction(std::uint8_t to, std::span<const Operation> operations) {
    return serve(
        *this, to, operations,
        [this](std::span<const std::uint8_t> bytes) {
            received.emplace_back(bytes.begin(), bytes.end());
            std::span<const std::uint8_t> key = bytes.first(std::min(width, bytes.size()));
            auto match =
                std::ranges::find_if(answers, [&](const auto& pair) { return std::ranges::equal(pair.first, key); });
            if (match != answers.end())
                pending = match->second;
            else
                pending.reset();
        },
        [this](std::span<std::uint8_t> buffer) -> PartResult {
            if (!pending) return refuse(PartError::Kind::NoReply);
            // A reply serves one read: short ones are padded, the tail of long ones lost.
            Bytes reply = std::move(*pending);
            pending.reset();
            const std::size_t n = std::min(reply.size(), buffer.size());
            std::copy_n(reply.begin(), n, buffer.begin());
            std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(n), buffer.end(), std::uint8_t{0xFF});
            return {};
        });
}

// ---- Part ---------------------------------------------------------------------------

Part::Kind Part::copy(const Kind& kind) {
    if (auto* words = std::get_if<std::unique_ptr<WordPart>>(&kind)) return std::make_unique<WordPart>(**words);
    if (auto* bytes = std::get_if<I2cPart>(&kind)) return *bytes;
    return std::get<CommandPart>(kind);
}

Part::Part(const Part& other) : kind_(copy(other.kind_)) {}

Part& Part::operator=(const Part& other) {
    if (this != &other) kind_ = copy(other.kind_);
    return *this;
}

std::uint8_t Part::address() const noexcept {
    if (const WordPart* w = words()) return w->address;
    if (const I2cPart* b = bytes()) return b->address;
    return commands()->address;
}

std::uint64_t Part::transfers() const noexcept {
    if (const WordPart* w = words()) return w->transfers;
    if (const I2cPart* b = bytes()) return b->transfers;
    return commands()->transfers;
}

PartResult Part::transaction(std::uint8_t to, std::span<const Operation> operations) {
    return std::visit(
        [&](auto& part) -> PartResult {
            if constexpr (requires { part->transaction(to, operations); })
                return part->transaction(to, operations);
            else
                return part.transaction(to, operations);
        },
        kind_);
}

}  // namespace trovik::hal::sim
