#include "trovik/hal/script.hpp"

#include <algorithm>

namespace trovik::hal::script {
namespace {

// "[18, 52]": bytes in decimal.
void append_bytes(std::string& out, std::span<const std::uint8_t> bytes) {
    out += '[';
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) out += ", ";
        out += std::to_string(bytes[i]);
    }
    out += ']';
}

// "Name { address: 64" — the fields that follow are appended by the caller.
std::string open_fields(std::string_view name, std::uint8_t address) {
    std::string out(name);
    out += " { address: ";
    out += std::to_string(address);
    return out;
}

std::vector<Transfer> transfers_of(std::uint8_t address, std::span<const Operation> operations) {
    std::vector<Transfer> issued;
    issued.reserve(operations.size());
    for (const Operation& op : operations) {
        if (op.is_read())
            issued.push_back(Transfer{true, address, {}, op.size()});
        else
            issued.push_back(Transfer{false, address, {op.bytes().begin(), op.bytes().end()}, 0});
    }
    return issued;
}

}  // namespace

I2cStep I2cStep::write(std::uint8_t address, std::span<const std::uint8_t> bytes) {
    return I2cStep{Kind::Write, address, {bytes.begin(), bytes.end()}, {}};
}
I2cStep I2cStep::read(std::uint8_t address, std::span<const std::uint8_t> reply) {
    return I2cStep{Kind::Read, address, {}, {reply.begin(), reply.end()}};
}
I2cStep I2cStep::write_read(std::uint8_t address, std::span<const std::uint8_t> bytes,
                            std::span<const std::uint8_t> reply) {
    return I2cStep{Kind::WriteRead, address, {bytes.begin(), bytes.end()}, {reply.begin(), reply.end()}};
}
I2cStep I2cStep::failing(std::uint8_t address, I2cFault fault) { return I2cStep{Kind::Fault, address, {}, {}, fault}; }

std::string I2cStep::render() const {
    std::string out;
    switch (kind) {
        case Kind::Write:
            out = open_fields("Write", address);
            out += ", bytes: ";
            append_bytes(out, bytes);
            break;
        case Kind::Read:
            out = open_fields("Read", address);
            out += ", reply: ";
            append_bytes(out, reply);
            break;
        case Kind::WriteRead:
            out = open_fields("WriteRead", address);
            out += ", bytes: ";
            append_bytes(out, bytes);
            out += ", reply: ";
            append_bytes(out, reply);
            break;
        case Kind::Fault:
            out = open_fields("Fault", address);
            out += ", kind: ";
            out += fault_rendering(fault);
            break;
    }
    out += " }";
    return out;
}

std::string Transfer::render() const {
    std::string out = open_fields(read ? "Read" : "Write", address);
    if (read) {
        out += ", len: ";
        out += std::to_string(len);
    } else {
        out += ", bytes: ";
        append_bytes(out, bytes);
    }
    out += " }";
    return out;
}

std::string ScriptError::message() const {
    if (const I2cFault* fault = std::get_if<I2cFault>(&cause))
        return "i2c script fault: " + std::string(fault_text(*fault));
    const Mismatch& m = std::get<Mismatch>(cause);
    std::string out = "i2c script step " + std::to_string(m.step) + ": expected ";
    out += m.expected ? "Some(" + m.expected->render() + ")" : "None";
    out += ", the driver issued [";
    for (std::size_t i = 0; i < m.issued.size(); ++i) {
        if (i > 0) out += ", ";
        out += m.issued[i].render();
    }
    out += ']';
    return out;
}

ScriptError I2cScript::mismatch(std::uint8_t address, std::span<const Operation> operations) const {
    std::optional<I2cStep> expected;
    if (!steps_.empty()) expected = steps_.front();
    return ScriptError{Mismatch{consumed_, std::move(expected), transfers_of(address, operations)}};
}

std::expected<void, ScriptError> I2cScript::transaction(std::uint8_t address, std::span<const Operation> operations) {
    // The issued transfers are built only when a mismatch needs them: they
    // show the writes' bytes and the reads' lengths, which matching never
    // changes, so building them late shows what building them first would.
    auto refuse = [&] { return std::unexpected(mismatch(address, operations)); };
    auto take = [&] {
        steps_.pop_front();
        ++consumed_;
    };
    std::size_t i = 0;
    while (i < operations.size()) {
        if (steps_.empty()) return refuse();
        const I2cStep& step = steps_.front();
        if (step.address != address) return refuse();
        if (step.kind == I2cStep::Kind::Fault) {
            const I2cFault fault = step.fault;
            take();
            return std::unexpected(ScriptError{fault});
        }
        const Operation& op = operations[i];
        const bool register_read = !op.is_read() && i + 1 < operations.size() && operations[i + 1].is_read();
        if (register_read && step.kind == I2cStep::Kind::WriteRead) {
            const Operation& read = operations[i + 1];
            if (!std::ranges::equal(step.bytes, op.bytes()) || step.reply.size() != read.size()) return refuse();
            std::ranges::copy(step.reply, read.buffer().begin());
            take();
            i += 2;
        } else if (!op.is_read()) {
            if (step.kind != I2cStep::Kind::Write || !std::ranges::equal(step.bytes, op.bytes())) return refuse();
            take();
            i += 1;
        } else {
            if (step.kind != I2cStep::Kind::Read || step.reply.size() != op.size()) return refuse();
            std::ranges::copy(step.reply, op.buffer().begin());
            take();
            i += 1;
        }
    }
    return {};
}

}  // namespace trovik::hal::script
