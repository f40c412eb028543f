// Simulated I2C buses: transactions read from the input run against a bus of
// the three part kinds and against plain models of those parts, which must
// agree on every outcome and every byte read; the same transactions run
// against a scripted bus, whose step count and texts must stay consistent.
// libFuzzer options: -max_len=512
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support.hpp"
#include "trovik/hal/bus.hpp"

using namespace trovik::hal;
using Bytes = std::vector<std::uint8_t>;

namespace {

class Input {
public:
    explicit Input(std::span<const std::uint8_t> data) : data_(data) {}
    bool done() const { return at_ >= data_.size(); }
    std::uint8_t take() { return at_ < data_.size() ? data_[at_++] : 0; }
    Bytes take(std::size_t n) {
        Bytes out(n);
        for (std::uint8_t& b : out)
            b = take();
        return out;
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t at_ = 0;
};

// ---- plain models of the three part kinds ------------------------------------------

enum class Outcome { Done, NoRegister, NoReply };

struct ByteModel {
    std::array<std::uint8_t, 256> regs{};
    std::optional<std::uint8_t> pointer;
    Outcome write(const Bytes& w) {
        if (w.empty()) return Outcome::Done;
        unsigned r = w[0];
        for (std::size_t i = 1; i < w.size(); ++i)
            regs[r++ % 256] = w[i];
        pointer = static_cast<std::uint8_t>(r % 256);
        return Outcome::Done;
    }
    Outcome read(Bytes& buffer) {
        if (!pointer) return Outcome::NoRegister;
        unsigned r = *pointer;
        for (std::uint8_t& b : buffer)
            b = regs[r++ % 256];
        pointer = static_cast<std::uint8_t>(r % 256);
        return Outcome::Done;
    }
};

struct WordModel {
    std::array<std::uint16_t, 256> regs{};
    std::array<std::uint16_t, 256> mask{};
    std::optional<std::uint8_t> pointer;
    Outcome write(const Bytes& w) {
        if (w.empty()) return Outcome::Done;
        pointer = w[0];
        for (std::size_t i = 0; 1 + 2 * i + 1 < w.size(); ++i) {
            const std::size_t r = (w[0] + i) % 256;
            const unsigned v = w[1 + 2 * i] * 256u + w[2 + 2 * i];
            regs[r] = static_cast<std::uint16_t>((v & ~mask[r]) | (regs[r] & mask[r]));
        }
        return Outcome::Done;
    }
    Outcome read(Bytes& buffer) {
        if (!pointer) return Outcome::NoRegister;
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            const std::uint16_t v = regs[(*pointer + i / 2) % 256];
            buffer[i] = static_cast<std::uint8_t>(i % 2 == 0 ? v >> 8 : v & 0xFF);
        }
        return Outcome::Done;
    }
};

struct CommandModel {
    std::vector<std::pair<Bytes, Bytes>> answers;
    std::size_t width = 1;
    std::optional<Bytes> pending;
    std::size_t received = 0;
    Outcome write(const Bytes& w) {
        ++received;
        const Bytes key(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(std::min(width, w.size())));
        pending.reset();
        for (const auto& [command, reply] : answers) {
            if (command == key) {
                pending = reply;
                break;
            }
        }
        return Outcome::Done;
    }
    Outcome read(Bytes& buffer) {
        if (!pending) return Outcome::NoReply;
        for (std::size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = i < pending->size() ? (*pending)[i] : 0xFF;
        pending.reset();
        return Outcome::Done;
    }
};

template <class Model>
Outcome run_model(Model& model, const std::vector<bool>& reads, const std::vector<Bytes>& writes,
                  std::vector<Bytes>& buffers) {
    for (std::size_t i = 0; i < reads.size(); ++i) {
        const Outcome o = reads[i] ? model.read(buffers[i]) : model.write(writes[i]);
        if (o != Outcome::Done) return o;
    }
    return Outcome::Done;
}

Outcome outcome_of(const BusResult& result) {
    if (result) return Outcome::Done;
    const auto* part = std::get_if<sim::PartError>(&result.error().cause);
    FUZZ_CHECK(part != nullptr);
    FUZZ_CHECK(part->kind != sim::PartError::Kind::WrongAddress);
    return part->kind == sim::PartError::Kind::NoRegister ? Outcome::NoRegister : Outcome::NoReply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in({data, size});

    // The parts, and their models set up alike.
    ByteModel byte_model;
    sim::I2cPart bytes(0x48);
    const std::uint8_t first = in.take();
    const Bytes loaded = in.take(in.take() % 8);
    bytes.load(first, loaded);
    for (std::size_t i = 0; i < loaded.size(); ++i)
        byte_model.regs[(first + i) % 256] = loaded[i];

    WordModel word_model;
    sim::WordPart words(0x40);
    for (int n = in.take() % 4; n > 0; --n) {
        const std::uint8_t reg = in.take();
        const auto value = static_cast<std::uint16_t>(in.take() << 8 | in.take());
        const auto mask = static_cast<std::uint16_t>(in.take() << 8 | in.take());
        words.set(reg, value);
        words.mark_read_only(reg, mask);
        word_model.regs[reg] = value;
        word_model.mask[reg] |= mask;
    }

    CommandModel command_model;
    command_model.width = in.take() % 4;
    sim::CommandPart commands(0x44, command_model.width);
    command_model.width = std::max<std::size_t>(command_model.width, 1);
    for (int n = in.take() % 4; n > 0; --n) {
        const Bytes command = in.take(in.take() % 4);
        const Bytes reply = in.take(in.take() % 6);
        commands.answer(command, reply);
        auto known = std::ranges::find_if(command_model.answers, [&](const auto& a) { return a.first == command; });
        if (known != command_model.answers.end())
            known->second = reply;
        else
            command_model.answers.emplace_back(command, reply);
    }
    const I2cBus bus = I2cBus::simulated({bytes, words, commands});

    std::vector<script::I2cStep> steps;
    for (int n = in.take() % 6; n > 0; --n) {
        const std::uint8_t kind = in.take();
        const std::uint8_t address = kind & 0x10 ? 0x41 : 0x40;
        const Bytes written = in.take(in.take() % 3);
        const Bytes reply = in.take(in.take() % 3);
        switch (kind % 4) {
            case 0: steps.push_back(script::I2cStep::write(address, written)); break;
            case 1: steps.push_back(script::I2cStep::read(address, reply)); break;
            case 2: steps.push_back(script::I2cStep::write_read(address, written, reply)); break;
            default: steps.push_back(script::I2cStep::failing(address, static_cast<I2cFault>(in.take() % 7))); break;
        }
    }
    const std::size_t script_len = steps.size();
    const I2cBus scripted = I2cBus::scripted(script::I2cScript(std::move(steps)));

    std::uint64_t transactions = 0;
    std::uint64_t per_part[3] = {};
    while (!in.done()) {
        const std::uint8_t target = in.take();
        std::vector<bool> reads;
        std::vector<Bytes> writes;
        std::vector<Bytes> buffers;
        for (int n = target >> 4 & 3; n > 0; --n) {
            const std::uint8_t op = in.take();
            reads.push_back(op & 0x80);
            writes.push_back(op & 0x80 ? Bytes() : in.take(op % 8));
            buffers.emplace_back(op & 0x80 ? op % 8 : 0, 0xA5);
        }
        std::vector<Bytes> model_buffers = buffers;
        std::vector<Operation> ops;
        for (std::size_t i = 0; i < reads.size(); ++i)
            ops.push_back(reads[i] ? Operation::read(buffers[i]) : Operation::write(writes[i]));

        static constexpr std::uint8_t kAddresses[] = {0x48, 0x40, 0x44, 0x50};
        const std::size_t which = target % 4;
        const BusResult result = bus.transaction(kAddresses[which], ops);
        ++transactions;
        if (which == 3) {
            FUZZ_CHECK(!result && result.error().message() == "nothing answered at 0x50");
        } else {
            ++per_part[which];
            const Outcome expected = which == 0   ? run_model(byte_model, reads, writes, model_buffers)
                                     : which == 1 ? run_model(word_model, reads, writes, model_buffers)
                                                  : run_model(command_model, reads, writes, model_buffers);
            FUZZ_CHECK(outcome_of(result) == expected);
            FUZZ_CHECK(buffers == model_buffers);
        }

        // The same operations against the script: steps only leave from the
        // front, and what the error says agrees with what was taken.
        const std::size_t before = *scripted.remaining();
        const std::uint8_t script_address = target & 0x40 ? 0x41 : 0x40;
        const BusResult played = scripted.transaction(script_address, ops);
        const std::size_t after = *scripted.remaining();
        FUZZ_CHECK(after <= before);
        if (ops.empty()) FUZZ_CHECK(played && after == before);
        if (!played) {
            const auto* error = std::get_if<script::ScriptError>(&played.error().cause);
            FUZZ_CHECK(error != nullptr);
            const std::string text = error->message();
            if (const auto* mismatch = std::get_if<script::Mismatch>(&error->cause)) {
                FUZZ_CHECK(mismatch->step == script_len - after);
                FUZZ_CHECK(mismatch->expected.has_value() == (after > 0));
                FUZZ_CHECK(mismatch->issued.size() == ops.size());
                FUZZ_CHECK(text.starts_with("i2c script step " + std::to_string(mismatch->step) + ": expected "));
            } else {
                FUZZ_CHECK(after < before);
                FUZZ_CHECK(text.starts_with("i2c script fault: "));
            }
        }
    }

    FUZZ_CHECK(bus.transfers() == transactions);
    FUZZ_CHECK(scripted.transfers() == transactions);
    FUZZ_CHECK(bus.part(0x48)->transfers() == per_part[0]);
    FUZZ_CHECK(bus.part(0x40)->transfers() == per_part[1]);
    FUZZ_CHECK(bus.part(0x44)->transfers() == per_part[2]);
    FUZZ_CHECK(bus.part(0x48)->bytes()->registers == byte_model.regs);
    FUZZ_CHECK(bus.part(0x48)->bytes()->pointer == byte_model.pointer);
    FUZZ_CHECK(bus.part(0x40)->words()->registers == word_model.regs);
    FUZZ_CHECK(bus.part(0x44)->commands()->received.size() == command_model.received);
    return 0;
}
