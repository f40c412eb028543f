#include <doctest/doctest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "trovik/hal/parts.hpp"

using namespace trovik::hal;
using namespace trovik::hal::sim;
using Bytes = std::vector<std::uint8_t>;

namespace {

// One transaction of a write and/or a read, as drivers issue them.
template <class P>
PartResult write(P& part, Bytes bytes) {
    const Operation ops[] = {Operation::write(bytes)};
    return part.transaction(part.address, ops);
}

template <class P>
std::expected<Bytes, PartError> read(P& part, std::size_t n) {
    Bytes buffer(n);
    const Operation ops[] = {Operation::read(buffer)};
    if (auto done = part.transaction(part.address, ops); !done) return std::unexpected(done.error());
    return buffer;
}

template <class P>
std::expected<Bytes, PartError> write_read(P& part, Bytes bytes, std::size_t n) {
    Bytes buffer(n);
    const Operation ops[] = {Operation::write(bytes), Operation::read(buffer)};
    if (auto done = part.transaction(part.address, ops); !done) return std::unexpected(done.error());
    return buffer;
}

}  // namespace

TEST_CASE("a byte part fills registers from the named one and reads on from the pointer") {
    I2cPart part(0x48);
    for (int r = 0; r < 256; ++r)
        part.registers[static_cast<std::size_t>(r)] = static_cast<std::uint8_t>(r ^ 0x5A);

    SUBCASE("a write of a register and two bytes") {
        REQUIRE(write(part, {0x10, 0xAA, 0xBB}));
        CHECK(part.registers[0x10] == 0xAA);
        CHECK(part.registers[0x11] == 0xBB);
        CHECK(part.pointer == 0x12);
        CHECK(read(part, 1).value() == Bytes{0x12 ^ 0x5A});
        CHECK(part.pointer == 0x13);
    }
    SUBCASE("a register read in one transaction") {
        CHECK(write_read(part, {0x10}, 2).value() == Bytes{0x10 ^ 0x5A, 0x11 ^ 0x5A});
        CHECK(part.pointer == 0x12);
        CHECK(part.transfers == 1);
    }
    SUBCASE("writes wrap from the last register to the first") {
        REQUIRE(write(part, {0xFE, 1, 2, 3}));
        CHECK(part.registers[0xFE] == 1);
        CHECK(part.registers[0xFF] == 2);
        CHECK(part.registers[0x00] == 3);
        CHECK(part.pointer == 0x01);
    }
    SUBCASE("an empty write changes nothing, not even the pointer") {
        REQUIRE(write(part, {0x20}));
        REQUIRE(write(part, {}));
        CHECK(part.pointer == 0x20);
        CHECK(part.transfers == 2);
    }
}

TEST_CASE("a byte part refuses a read before any write named a register, and counts it") {
    I2cPart part(0x48);
    for (std::size_t n : {0, 1, 4}) {
        CAPTURE(n);
        CHECK(read(part, n).error() == PartError{PartError::Kind::NoRegister});
    }
    CHECK(part.transfers == 3);
    CHECK(PartError{PartError::Kind::NoRegister}.message() ==
          "a read came before anything said which register to read");
}

TEST_CASE("a part refuses a transaction to another address, changing nothing") {
    I2cPart bytes(0x48);
    WordPart words(0x48);
    CommandPart commands(0x48, 2);
    const std::uint8_t reg = 0;
    const Operation ops[] = {Operation::write({&reg, 1})};
    const PartError wrong{PartError::Kind::WrongAddress, 0x49, 0x48};
    CHECK(bytes.transaction(0x49, ops).error() == wrong);
    CHECK(words.transaction(0x49, ops).error() == wrong);
    CHECK(commands.transaction(0x49, ops).error() == wrong);
    CHECK(bytes.transfers + words.transfers + commands.transfers == 0);
    CHECK(!bytes.pointer);
    CHECK(commands.received.empty());
    CHECK(wrong.message() == "a transfer to 0x49 reached the part at 0x48");
}

TEST_CASE("loading wraps past the last register and touches no pointer or count") {
    I2cPart part(0x10);
    part.load(0xFF, Bytes{1, 2});
    CHECK(part.registers[0xFF] == 1);
    CHECK(part.registers[0x00] == 2);
    CHECK(!part.pointer);
    CHECK(part.transfers == 0);
    // Longer than the register file: later bytes overwrite earlier ones.
    Bytes long_data(300);
    for (std::size_t i = 0; i < long_data.size(); ++i)
        long_data[i] = static_cast<std::uint8_t>(i / 256 + 7);
    const I2cPart held = I2cPart(0x10).holding(0x00, long_data);
    CHECK(held.registers[0x00] == 8);
    CHECK(held.registers[0x2B] == 8);
    CHECK(held.registers[0x2C] == 7);
}

namespace {

// A chip whose registers 0x80 and up read back inverted and whose pointer
// stays put, to show a part's own rules are the ones that run.
void store_doubled(Registers& r, std::uint8_t reg, std::uint8_t byte) noexcept {
    r[reg] = static_cast<std::uint8_t>(byte * 2);
}
std::uint8_t stored_inverted(const Registers& r, std::uint8_t reg) noexcept {
    return reg >= 0x80 ? static_cast<std::uint8_t>(~r[reg]) : r[reg];
}
std::uint8_t following_none(const Registers&, std::uint8_t reg) noexcept { return reg; }

}  // namespace

TEST_CASE("a byte part's own rules store, read and move the pointer") {
    I2cPart part(0x40);
    part.store = store_doubled;
    part.stored = stored_inverted;
    part.following = following_none;
    REQUIRE(write(part, {0x90, 3, 4}));
    CHECK(part.registers[0x90] == 8);  // the second byte overwrote the first, doubled
    CHECK(part.registers[0x91] == 0);
    CHECK(write_read(part, {0x90}, 2).value() == Bytes{0xF7, 0xF7});
    // A copy keeps the rules.
    Part copy = Part(part);
    Part again = copy;
    const bool same_rule = again.bytes()->stored == &stored_inverted;
    CHECK(same_rule);
}

TEST_CASE("a word part writes pairs high byte first and keeps its read-only bits") {
    WordPart part(0x40);
    part.set(1, 0x8000);
    part.mark_read_only(1, 0x8000);

    SUBCASE("a driver's value keeps the part's own bits") {
        REQUIRE(write(part, {0x01, 0x00, 0x12}));
        CHECK(part.word(1) == 0x8012);
        REQUIRE(write(part, {0x01, 0x7F, 0xFF}));
        CHECK(part.word(1) == 0xFFFF);
        CHECK(read(part, 2).value() == Bytes{0xFF, 0xFF});
    }
    SUBCASE("one byte after the register only sets the pointer") {
        REQUIRE(write(part, {0x02, 0xAB}));
        CHECK(part.word(2) == 0);
        CHECK(part.pointer == 2);
    }
    SUBCASE("reads wrap, end on a high byte when odd, and start again at the pointer") {
        part.set(0xFF, 0x1234);
        part.set(0x00, 0xABCD);
        REQUIRE(write(part, {0xFF}));
        CHECK(read(part, 3).value() == Bytes{0x12, 0x34, 0xAB});
        CHECK(read(part, 3).value() == Bytes{0x12, 0x34, 0xAB});
        CHECK(part.pointer == 0xFF);
    }
    SUBCASE("values wrap from the last register and the pointer stays on the first named") {
        REQUIRE(write(part, {0xFF, 0x11, 0x22, 0x33, 0x44, 0x55}));
        CHECK(part.word(0xFF) == 0x1122);
        CHECK(part.word(0x00) == 0x3344);
        CHECK(part.pointer == 0xFF);
    }
    SUBCASE("read-only masks accumulate") {
        part.mark_read_only(3, 0x0001);
        part.mark_read_only(3, 0x0100);
        CHECK(part.read_only[3] == 0x0101);
    }
    SUBCASE("a read before any write is refused") { CHECK(read(part, 0).error().kind == PartError::Kind::NoRegister); }
}

TEST_CASE("a command part answers a matching write with one reply") {
    const Bytes measure{0x24, 0x00};
    CommandPart part = CommandPart(0x44, 2).answering(measure, Bytes{1, 2, 3});

    SUBCASE("the reply serves one read, padded with 0xff") {
        REQUIRE(write(part, measure));
        CHECK(read(part, 6).value() == Bytes{1, 2, 3, 0xFF, 0xFF, 0xFF});
        CHECK(read(part, 6).error() == PartError{PartError::Kind::NoReply});
        CHECK(PartError{PartError::Kind::NoReply}.message() == "a read came when no command had left a reply");
    }
    SUBCASE("a read shorter than the reply loses its tail") {
        REQUIRE(write(part, measure));
        CHECK(read(part, 2).value() == Bytes{1, 2});
        CHECK(!part.pending);
    }
    SUBCASE("arguments after a full-width command still match, and are kept") {
        REQUIRE(write(part, {0x24, 0x00, 0x99}));
        CHECK(part.received.back() == Bytes{0x24, 0x00, 0x99});
        CHECK(read(part, 1).value() == Bytes{1});
    }
    SUBCASE("a write that matches nothing drops a waiting reply") {
        REQUIRE(write(part, measure));
        REQUIRE(write(part, {0x24}));
        CHECK(!part.pending);
        CHECK(read(part, 1).error().kind == PartError::Kind::NoReply);
    }
    SUBCASE("every write is received, empty ones too") {
        REQUIRE(write(part, {}));
        REQUIRE(write(part, {0x01, 0x02}));
        CHECK(part.received == std::vector<Bytes>{{}, {0x01, 0x02}});
        CHECK(part.transfers == 2);
    }
    SUBCASE("answering again replaces the reply") {
        part.answer(measure, Bytes{9});
        CHECK(part.answers.size() == 1);
        REQUIRE(write(part, measure));
        CHECK(read(part, 2).value() == Bytes{9, 0xFF});
    }
    SUBCASE("an empty reply is a reply") {
        part.answer(Bytes{0x30}, Bytes{});
        REQUIRE(write(part, {0x30}));
        CHECK(read(part, 2).value() == Bytes{0xFF, 0xFF});
    }
}

TEST_CASE("a command shorter than the width matches only writes of its length; a longer one never") {
    CommandPart part = CommandPart(0x44, 0).answering(Bytes{0xE0}, Bytes{7}).answering(Bytes{0xE1, 0x00}, Bytes{8});
    CHECK(part.width == 1);
    REQUIRE(write(part, {0xE0, 0x55}));
    CHECK(read(part, 1).value() == Bytes{7});
    REQUIRE(write(part, {0xE1, 0x00}));
    CHECK(read(part, 1).error().kind == PartError::Kind::NoReply);

    CommandPart wide = CommandPart(0x44, 3).answering(Bytes{0xE0}, Bytes{7});
    REQUIRE(write(wide, {0xE0}));
    CHECK(read(wide, 1).value() == Bytes{7});
    REQUIRE(write(wide, {0xE0, 0x01}));
    CHECK(read(wide, 1).error().kind == PartError::Kind::NoReply);
}

TEST_CASE("an operation after a refusal is not carried out, and what came before stays done") {
    I2cPart part(0x48);
    Bytes buffer(2, 0x77);
    const Bytes second{0x05, 0x42};
    const Operation ops[] = {Operation::read(buffer), Operation::write(second)};
    CHECK(part.transaction(0x48, ops).error().kind == PartError::Kind::NoRegister);
    CHECK(part.registers[0x05] == 0);
    CHECK(buffer == Bytes{0x77, 0x77});

    CommandPart commands = CommandPart(0x44, 1).answering(Bytes{0x01}, Bytes{0x10});
    Bytes first(1), after(1);
    const Bytes command{0x01};
    const Operation twice[] = {Operation::write(command), Operation::read(first), Operation::read(after)};
    CHECK(commands.transaction(0x44, twice).error().kind == PartError::Kind::NoReply);
    CHECK(first == Bytes{0x10});
}

TEST_CASE("a part of any kind copies whole and goes on apart from its copy") {
    WordPart words(0x40);
    words.set(7, 0x1234);
    Part part(words);
    Part copy = part;
    const Bytes set{0x07, 0xAB, 0xCD};
    const Operation ops[] = {Operation::write(set)};
    REQUIRE(copy.transaction(0x40, ops));
    CHECK(copy.words()->word(7) == 0xABCD);
    CHECK(copy.transfers() == 1);
    CHECK(part.words()->word(7) == 0x1234);
    CHECK(part.transfers() == 0);
    CHECK(part.words() != copy.words());
    CHECK(part.bytes() == nullptr);
    CHECK(part.commands() == nullptr);

    Part commands(CommandPart(0x44, 2).answering(Bytes{1, 2}, Bytes{3}));
    REQUIRE(commands.transaction(0x44, std::span<const Operation>()));
    Part assigned(I2cPart(0x10));
    assigned = commands;
    CHECK(assigned.address() == 0x44);
    CHECK(assigned.transfers() == 1);
    CHECK(assigned.commands()->answers.size() == 1);
}
