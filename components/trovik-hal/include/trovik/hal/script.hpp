#pragma once
// A script of the transfers a driver must issue, played in order: each
// transaction must be the next step, reads receive the bytes the step
// carries, and a fault step fails a transfer the way a missing or busy part
// does. A test states a driver's exact traffic this way, and `remaining`
// shows whether the driver used the whole script.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "trovik/hal/i2c.hpp"

namespace trovik::hal::script {

struct I2cStep {
    enum class Kind : std::uint8_t {
        Write,      // the driver writes exactly `bytes`
        Read,       // the driver reads `reply.size()` bytes and receives `reply`
        WriteRead,  // both, in one transaction: the shape of a register read
        Fault,      // the next transfer to the address fails with `fault`
    };
    Kind kind;
    std::uint8_t address;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> reply;
    I2cFault fault = I2cFault::Other;

    static I2cStep write(std::uint8_t address, std::span<const std::uint8_t> bytes);
    static I2cStep read(std::uint8_t address, std::span<const std::uint8_t> reply);
    static I2cStep write_read(std::uint8_t address, std::span<const std::uint8_t> bytes,
                              std::span<const std::uint8_t> reply);
    static I2cStep failing(std::uint8_t address, I2cFault fault);

    // "WriteRead { address: 64, bytes: [0], reply: [18, 52] }"
    std::string render() const;
    friend bool operator==(const I2cStep&, const I2cStep&) = default;
};

// One operation a driver issued, as a mismatch shows it.
struct Transfer {
    bool read;
    std::uint8_t address;
    std::vector<std::uint8_t> bytes;  // a write's bytes
    std::size_t len = 0;              // a read's length

    // "Write { address: 64, bytes: [0] }" or "Read { address: 64, len: 2 }"
    std::string render() const;
    friend bool operator==(const Transfer&, const Transfer&) = default;
};

struct Mismatch {
    std::size_t step;                 // how many steps were taken before it
    std::optional<I2cStep> expected;  // the step at the front, if any was left
    std::vector<Transfer> issued;     // every operation of the failed transaction
    friend bool operator==(const Mismatch&, const Mismatch&) = default;
};

struct ScriptError {
    std::variant<I2cFault, Mismatch> cause;

    // "i2c script fault: {}" or "i2c script step {}: expected {}, the driver issued {}"
    std::string message() const;
    friend bool operator==(const ScriptError&, const ScriptError&) = default;
};

class I2cScript {
public:
    I2cScript() = default;
    explicit I2cScript(std::vector<I2cStep> steps)
        : steps_(std::make_move_iterator(steps.begin()), std::make_move_iterator(steps.end())) {}

    // Matches the transaction's operations against the steps at the front,
    // taking each step it matches. A write followed by a read matches one
    // `WriteRead` step or a `Write` and a `Read`; read lengths match exactly.
    // On a mismatch the unmatched step stays at the front, while steps taken
    // by earlier operations stay taken and the buffers they filled stay
    // filled. A transaction of no operations always succeeds.
    std::expected<void, ScriptError> transaction(std::uint8_t address, std::span<const Operation> operations);

    // The mismatch error for `operations`, from the script as it stands.
    ScriptError mismatch(std::uint8_t address, std::span<const Operation> operations) const;

    std::size_t remaining() const noexcept { return steps_.size(); }
    // Steps taken so far: the index of the front step in the script as given.
    std::size_t consumed() const noexcept { return consumed_; }

private:
    std::deque<I2cStep> steps_;
    std::size_t consumed_ = 0;
};

}  // namespace trovik::hal::script
