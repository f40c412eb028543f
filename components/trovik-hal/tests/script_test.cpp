#include <doctest/doctest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "trovik/hal/script.hpp"

using namespace trovik::hal;
using namespace trovik::hal::script;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::string failure(const std::expected<void, ScriptError>& result) {
    REQUIRE(!result);
    return result.error().message();
}

std::expected<void, ScriptError> write(I2cScript& script, std::uint8_t address, Bytes bytes) {
    const Operation ops[] = {Operation::write(bytes)};
    return script.transaction(address, ops);
}

std::expected<void, ScriptError> write_read(I2cScript& script, std::uint8_t address, Bytes bytes, Bytes& buffer) {
    const Operation ops[] = {Operation::write(bytes), Operation::read(buffer)};
    return script.transaction(address, ops);
}

}  // namespace

TEST_CASE("a write-then-read matches a WriteRead step, or a Write and a Read step") {
    Bytes buffer(2);
    SUBCASE("one step") {
        I2cScript script({I2cStep::write_read(0x40, Bytes{0x00}, Bytes{0x12, 0x34})});
        REQUIRE(write_read(script, 0x40, {0x00}, buffer));
        CHECK(buffer == Bytes{0x12, 0x34});
        CHECK(script.remaining() == 0);
        CHECK(script.consumed() == 1);
    }
    SUBCASE("two steps") {
        I2cScript script({I2cStep::write(0x40, Bytes{0x00}), I2cStep::read(0x40, Bytes{0x12, 0x34})});
        REQUIRE(write_read(script, 0x40, {0x00}, buffer));
        CHECK(buffer == Bytes{0x12, 0x34});
        CHECK(script.remaining() == 0);
    }
}

TEST_CASE("a transaction that is not the next step names the step and what the driver issued") {
    struct Case {
        const char* name;
        std::vector<I2cStep> steps;
        std::vector<Bytes> writes;  // a transaction of one write each, then
        std::size_t read_len;       // a read of this length when not zero
        std::uint8_t address;
        const char* message;
        std::size_t remaining;
    };
    const Bytes zero{0x00};
    const Bytes reply{0x12, 0x34};
    const Case cases[] = {
        {"a register read sent as a lone write",
         {I2cStep::write_read(0x40, zero, reply)},
         {zero},
         0,
         0x40,
         "i2c script step 0: expected Some(WriteRead { address: 64, bytes: [0], reply: [18, 52] }), the driver "
         "issued [Write { address: 64, bytes: [0] }]",
         1},
        {"a read of the wrong length",
         {I2cStep::read(0x40, reply)},
         {},
         3,
         0x40,
         "i2c script step 0: expected Some(Read { address: 64, reply: [18, 52] }), the driver issued [Read { address: "
         "64, len: 3 }]",
         1},
        {"a fault step for another address",
         {I2cStep::failing(0x40, I2cFault::NoAcknowledgeAddress)},
         {Bytes{1}},
         0,
         0x41,
         "i2c script step 0: expected Some(Fault { address: 64, kind: NoAcknowledge(Address) }), the driver issued "
         "[Write { address: 65, bytes: [1] }]",
         1},
        {"an empty script",
         {},
         {Bytes{1}},
         0,
         0x48,
         "i2c script step 0: expected None, the driver issued [Write { address: 72, bytes: [1] }]",
         0},
        {"a write of other bytes, and an empty one",
         {I2cStep::write(0x40, Bytes{})},
         {Bytes{255, 0, 7}},
         0,
         0x40,
         "i2c script step 0: expected Some(Write { address: 64, bytes: [] }), the driver issued [Write { address: 64, "
         "bytes: [255, 0, 7] }]",
         1},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        I2cScript script(c.steps);
        std::vector<Operation> ops;
        for (const Bytes& w : c.writes)
            ops.push_back(Operation::write(w));
        Bytes buffer(c.read_len, 0xEE);
        if (c.read_len) ops.push_back(Operation::read(buffer));
        CHECK(failure(script.transaction(c.address, ops)) == c.message);
        CHECK(script.remaining() == c.remaining);
        CHECK(buffer == Bytes(c.read_len, 0xEE));
    }
}

TEST_CASE("a fault step fails the next transfer to its address and is taken") {
    for (I2cFault fault : {I2cFault::NoAcknowledgeAddress, I2cFault::NoAcknowledgeData, I2cFault::NoAcknowledge,
                           I2cFault::Bus, I2cFault::ArbitrationLoss, I2cFault::Overrun, I2cFault::Other}) {
        CAPTURE(fault_name(fault));
        I2cScript script({I2cStep::failing(0x40, fault), I2cStep::write(0x40, Bytes{1})});
        Bytes buffer(4);
        const Bytes one{1};
        const Operation ops[] = {Operation::write(one), Operation::read(buffer)};
        CHECK(failure(script.transaction(0x40, ops)) == "i2c script fault: " + std::string(fault_text(fault)));
        CHECK(script.remaining() == 1);
        CHECK(script.consumed() == 1);
        REQUIRE(write(script, 0x40, {1}));
    }
    I2cScript script({I2cStep::failing(0x40, I2cFault::NoAcknowledgeAddress)});
    CHECK(failure(write(script, 0x40, {})) == "i2c script fault: The device did not acknowledge its address");
}

TEST_CASE("the seven faults have their names, texts and renderings") {
    struct Row {
        I2cFault fault;
        const char* name;
        const char* text;
        const char* rendering;
    };
    const Row rows[] = {
        {I2cFault::NoAcknowledgeAddress, "NoAcknowledgeAddress", "The device did not acknowledge its address",
         "NoAcknowledge(Address)"},
        {I2cFault::NoAcknowledgeData, "NoAcknowledgeData", "The device did not acknowledge the data",
         "NoAcknowledge(Data)"},
        {I2cFault::NoAcknowledge, "NoAcknowledge", "The device did not acknowledge its address or the data",
         "NoAcknowledge(Unknown)"},
        {I2cFault::Bus, "Bus", "Bus error occurred", "Bus"},
        {I2cFault::ArbitrationLoss, "ArbitrationLoss", "The arbitration was lost", "ArbitrationLoss"},
        {I2cFault::Overrun, "Overrun", "The peripheral receive buffer was overrun", "Overrun"},
        {I2cFault::Other, "Other", "A different error occurred. The original error may contain more information",
         "Other"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        CHECK(fault_name(row.fault) == row.name);
        CHECK(fault_text(row.fault) == row.text);
        CHECK(fault_rendering(row.fault) == row.rendering);
        CHECK(fault_named(row.name) == row.fault);
        CHECK(I2cStep::failing(7, row.fault).render() ==
              std::string("Fault { address: 7, kind: ") + row.rendering + " }");
    }
    for (const char* other : {"noacknowledge", "Nack", "", "Bus ", "NoAcknowledge(Address)"}) {
        CAPTURE(other);
        CHECK(!fault_named(other));
    }
}

TEST_CASE("a used-up script refuses every transaction that has operations, naming the step count") {
    I2cScript script({I2cStep::write(0x48, Bytes{1}), I2cStep::write(0x48, Bytes{2}), I2cStep::write(0x48, Bytes{3})});
    for (std::uint8_t b : {1, 2, 3})
        REQUIRE(write(script, 0x48, {b}));
    CHECK(script.remaining() == 0);
    CHECK(failure(write(script, 0x48, {1})) ==
          "i2c script step 3: expected None, the driver issued [Write { address: 72, bytes: [1] }]");
    CHECK(script.transaction(0x48, std::span<const Operation>()));
    I2cScript empty;
    CHECK(empty.transaction(0x48, std::span<const Operation>()));
}

TEST_CASE("steps matched before a mismatch in one transaction stay taken") {
    I2cScript script({I2cStep::write(0x40, Bytes{0x01}), I2cStep::read(0x40, Bytes{0x02})});
    Bytes buffer(2);
    CHECK(failure(write_read(script, 0x40, {0x01}, buffer)) ==
          "i2c script step 1: expected Some(Read { address: 64, reply: [2] }), the driver issued [Write { address: "
          "64, bytes: [1] }, Read { address: 64, len: 2 }]");
    CHECK(script.remaining() == 1);
    CHECK(script.consumed() == 1);

    // A read filled before the mismatch stays filled.
    I2cScript reads({I2cStep::read(0x40, Bytes{9}), I2cStep::write(0x40, Bytes{5})});
    Bytes first(1), second(1);
    const Operation ops[] = {Operation::read(first), Operation::read(second)};
    CHECK(!reads.transaction(0x40, ops));
    CHECK(first == Bytes{9});
    CHECK(reads.remaining() == 1);
}

TEST_CASE("a WriteRead step matches only its whole shape") {
    const I2cStep step = I2cStep::write_read(0x40, Bytes{0x00}, Bytes{0x12, 0x34});
    Bytes buffer(2), short_buffer(1);
    SUBCASE("other write bytes") {
        I2cScript script({step});
        CHECK(!write_read(script, 0x40, {0x01}, buffer));
        CHECK(script.remaining() == 1);
    }
    SUBCASE("another read length") {
        I2cScript script({step});
        CHECK(!write_read(script, 0x40, {0x00}, short_buffer));
        CHECK(short_buffer == Bytes{0});
    }
    SUBCASE("a lone read") {
        I2cScript script({step});
        const Operation ops[] = {Operation::read(buffer)};
        CHECK(!script.transaction(0x40, ops));
    }
    SUBCASE("a read, then a write") {
        I2cScript script({I2cStep::read(0x40, Bytes{1, 2}), I2cStep::write_read(0x40, Bytes{0}, Bytes{3})});
        const Bytes zero{0};
        const Operation ops[] = {Operation::read(buffer), Operation::write(zero)};
        CHECK(failure(script.transaction(0x40, ops)) ==
              "i2c script step 1: expected Some(WriteRead { address: 64, bytes: [0], reply: [3] }), the driver issued "
              "[Read { address: 64, len: 2 }, Write { address: 64, bytes: [0] }]");
    }
}
