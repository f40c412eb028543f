#pragma once
// Simulated I2C parts: stand-ins for chips that are not there. Each kind
// carries out a transaction itself, the way its kind of chip answers:
//
// - `I2cPart`: 256 byte registers behind an auto-incrementing pointer;
// - `WordPart`: 256 sixteen-bit registers, most significant byte first,
//   with bits the part keeps for itself;
// - `CommandPart`: commands answered with the replies it was given.
//
// A simulated bus routes each transaction to the part at its address; a part
// can also be driven directly. Parts are plain values: copying one copies
// all of its state.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "trovik/hal/i2c.hpp"

namespace trovik::hal::sim {

// Why a part refused a transaction.
struct PartError {
    enum class Kind : std::uint8_t {
        WrongAddress,  // only a part driven directly, not through a bus, meets this
        NoRegister,    // a read before any write named a register
        NoReply,       // a read with no reply waiting
    };
    Kind kind;
    std::uint8_t to = 0;    // WrongAddress: the transaction's address
    std::uint8_t part = 0;  // WrongAddress: the part's own

    std::string message() const;
    friend bool operator==(const PartError&, const PartError&) = default;
};

using PartResult = std::expected<void, PartError>;

using Registers = std::array<std::uint8_t, 256>;
// The rules of an `I2cPart`, plain functions of the register file so a part
// copies whole, rules included. A chip simulation that needs mode bits (a
// sleep bit, an auto-increment bit) keeps them in the register file itself.
using StoreRule = void (*)(Registers& registers, std::uint8_t reg, std::uint8_t byte);
using StoredRule = std::uint8_t (*)(const Registers& registers, std::uint8_t reg);
using FollowingRule = std::uint8_t (*)(const Registers& registers, std::uint8_t reg);

// The default rules: a written byte lands in its register, a read gives the
// register's byte, and the pointer moves to the next register, 255 to 0.
void store(Registers& registers, std::uint8_t reg, std::uint8_t byte) noexcept;
std::uint8_t stored(const Registers& registers, std::uint8_t reg) noexcept;
std::uint8_t following(const Registers& registers, std::uint8_t reg) noexcept;

// A write names the register in its first byte and fills registers from
// there through `store`; a read continues from the pointer through
// `stored`. Both move the pointer with `following`.
struct I2cPart {
    Registers registers{};
    std::uint64_t transfers = 0;
    StoreRule store = &sim::store;
    StoredRule stored = &sim::stored;
    FollowingRule following = &sim::following;
    std::uint8_t address;
    std::optional<std::uint8_t> pointer;

    explicit I2cPart(std::uint8_t address) noexcept : address(address) {}

    // Puts `data` in from register `first` on, wrapping 255 to 0, straight
    // into the register file: no rule, pointer or count is involved.
    void load(std::uint8_t first, std::span<const std::uint8_t> data) noexcept;
    I2cPart holding(std::uint8_t first, std::span<const std::uint8_t> data) && noexcept {
        load(first, data);
        return std::move(*this);
    }

    PartResult transaction(std::uint8_t to, std::span<const Operation> operations) noexcept;
};

// A write's first byte sets the pointer and the byte pairs after it fill
// registers from there, high byte first; the pointer does not move, so every
// read starts again at the register the last write named.
struct WordPart {
    std::array<std::uint16_t, 256> registers{};
    // Per register, the bits the part sets for itself (a conversion-ready
    // flag): a driver's write leaves them as they are.
    std::array<std::uint16_t, 256> read_only{};
    std::uint64_t transfers = 0;
    std::uint8_t address;
    std::optional<std::uint8_t> pointer;

    explicit WordPart(std::uint8_t address) noexcept : address(address) {}

    // Stores all sixteen bits, read-only ones included, as the part itself would.
    void set(std::uint8_t reg, std::uint16_t value) noexcept { registers[reg] = value; }
    // Adds `mask` to the register's read-only bits.
    void mark_read_only(std::uint8_t reg, std::uint16_t mask) noexcept { read_only[reg] |= mask; }
    std::uint16_t word(std::uint8_t reg) const noexcept { return registers[reg]; }

    PartResult transaction(std::uint8_t to, std::span<const Operation> operations) noexcept;
};

// Each write is kept and looked up by its first `width` bytes; a match leaves
// its reply waiting for exactly one read, a miss leaves none.
struct CommandPart {
    using Bytes = std::vector<std::uint8_t>;
    std::vector<std::pair<Bytes, Bytes>> answers;  // (command, reply), one pair per command
    std::vector<Bytes> received;                   // every write, oldest first
    std::optional<Bytes> pending;
    std::size_t width;
    std::uint64_t transfers = 0;
    std::uint8_t address;

    // A width of 0 is taken as 1.
    CommandPart(std::uint8_t address, std::size_t width) : width(width == 0 ? 1 : width), address(address) {}

    // Answers `command` with `reply` from now on, in place of any earlier reply.
    void answer(std::span<const std::uint8_t> command, std::span<const std::uint8_t> reply);
    CommandPart answering(std::span<const std::uint8_t> command, std::span<const std::uint8_t> reply) && {
        answer(command, reply);
        return std::move(*this);
    }

    // Throws std::bad_alloc when a write cannot be kept.
    PartResult transaction(std::uint8_t to, std::span<const Operation> operations);
};

// One part of any kind. A `WordPart` is held out of line, so a list of parts
// stays no wider than an `I2cPart` per element.
class Part {
public:
    Part(I2cPart part) : kind_(std::move(part)) {}
    Part(WordPart part) : kind_(std::make_unique<WordPart>(std::move(part))) {}
    Part(CommandPart part) : kind_(std::move(part)) {}
    Part(const Part& other);
    Part& operator=(const Part& other);
    Part(Part&&) noexcept = default;
    Part& operator=(Part&&) noexcept = default;

    std::uint8_t address() const noexcept;
    std::uint64_t transfers() const noexcept;

    // The part as its own kind, or null when it is another kind.
    const I2cPart* bytes() const noexcept { return std::get_if<I2cPart>(&kind_); }
    const WordPart* words() const noexcept {
        auto* held = std::get_if<std::unique_ptr<WordPart>>(&kind_);
        return held ? held->get() : nullptr;
    }
    const CommandPart* commands() const noexcept { return std::get_if<CommandPart>(&kind_); }

    PartResult transaction(std::uint8_t to, std::span<const Operation> operations);

private:
    using Kind = std::variant<I2cPart, std::unique_ptr<WordPart>, CommandPart>;
    static Kind copy(const Kind& kind);
    Kind kind_;
};

}  // namespace trovik::hal::sim
