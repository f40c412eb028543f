#include <doctest/doctest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#endif

#include "../src/i2c_dev.hpp"

using namespace trovik::hal;
using namespace trovik::hal::i2c_dev;

// Our structures are written from the interface's documentation; where the
// kernel's own headers are at hand, they must agree with them exactly.
#if __has_include(<linux/i2c-dev.h>) && __has_include(<linux/i2c.h>)
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

static_assert(sizeof(Message) == sizeof(struct i2c_msg));
static_assert(offsetof(Message, addr) == offsetof(struct i2c_msg, addr));
static_assert(offsetof(Message, flags) == offsetof(struct i2c_msg, flags));
static_assert(offsetof(Message, len) == offsetof(struct i2c_msg, len));
static_assert(offsetof(Message, buf) == offsetof(struct i2c_msg, buf));
static_assert(sizeof(Transfer) == sizeof(struct i2c_rdwr_ioctl_data));
static_assert(offsetof(Transfer, msgs) == offsetof(struct i2c_rdwr_ioctl_data, msgs));
static_assert(offsetof(Transfer, nmsgs) == offsetof(struct i2c_rdwr_ioctl_data, nmsgs));
static_assert(kFuncs == I2C_FUNCS);
static_assert(kReadWrite == I2C_RDWR);
static_assert(kFuncI2c == I2C_FUNC_I2C);
static_assert(kMessageRead == I2C_M_RD);
static_assert(kMaxMessages == I2C_RDWR_IOCTL_MAX_MSGS);
#endif

TEST_CASE("a transaction becomes one message per operation, reads flagged") {
    const std::vector<std::uint8_t> pointer{0x05};
    std::vector<std::uint8_t> word(2);
    std::vector<std::uint8_t> none;
    const Operation ops[] = {Operation::write(pointer), Operation::read(word), Operation::read(none)};
    Messages messages{};
    auto count = to_messages(0x48, ops, messages);
    REQUIRE(count);
    CHECK(*count == 3);
    CHECK(messages[0].addr == 0x48);
    CHECK(messages[0].flags == 0);
    CHECK(messages[0].len == 1);
    CHECK(messages[0].buf == pointer.data());
    CHECK(messages[1].flags == kMessageRead);
    CHECK(messages[1].len == 2);
    CHECK(messages[1].buf == word.data());
    CHECK(messages[2].flags == kMessageRead);
    CHECK(messages[2].len == 0);
    CHECK(to_messages(0x7F, {}, messages) == 0u);
}

TEST_CASE("what a combined transfer cannot carry is refused before the kernel sees it") {
    Messages messages{};
    std::vector<std::uint8_t> big(kMaxMessageLen + 1);
    std::vector<std::uint8_t> most(kMaxMessageLen);
    const Operation too_long[] = {Operation::write(big)};
    const Operation longest[] = {Operation::read(most)};
    CHECK(to_messages(0x48, too_long, messages).error() ==
          "a message of 65536 bytes is more than the 65535 an I2C message carries");
    CHECK(to_messages(0x48, longest, messages).value() == 1);
    CHECK(messages[0].len == 0xFFFF);

    std::vector<Operation> many(kMaxMessages + 1, Operation::write({}));
    CHECK(to_messages(0x48, many, messages).error() == "a combined transfer carries at most 42 messages, not 43");
    CHECK(to_messages(0x48, std::span(many).first(kMaxMessages), messages).value() == kMaxMessages);

    // The kernel shifts the address left by one: 0xc8 would reach 0x48.
    CHECK(to_messages(0x80, {}, messages).error() == "0x80 is not a 7-bit I2C address");
    CHECK(to_messages(0xC8, longest, messages).error() == "0xc8 is not a 7-bit I2C address");
}

#ifdef __linux__
// A descriptor that is no adapter stands in for one: the kernel refuses every
// transfer on it, so what the bus does around the kernel shows.
TEST_CASE("an adapter bus counts every transaction, carries the kernel's words and sleeps through its waits") {
    const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    REQUIRE(fd >= 0);
    I2cBus bus = I2cBus::over(Adapter::adopt(fd));
    CHECK(bus.kind() == BusKind::Adapter);
    CHECK(bus.remaining() == std::nullopt);
    CHECK(bus.part(0x48) == std::nullopt);
    CHECK(!bus.attach(sim::I2cPart(0x48)));

    const std::uint8_t pointer[] = {0x00};
    std::uint8_t word[2] = {};
    struct Case {
        std::uint8_t address;
        std::string message;
    };
    const Case cases[] = {
        {0x48, "Inappropriate ioctl for device"},
        {0x80, "0x80 is not a 7-bit I2C address"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.address);
        auto done = bus.write_read(c.address, pointer, word);
        REQUIRE(!done);
        CHECK(std::holds_alternative<BusError::Io>(done.error().cause));
        CHECK(done.error().message() == c.message);
    }
    CHECK(bus.transaction(0x48, {}));  // nothing to carry: the kernel is not asked
    CHECK(bus.transfers() == 3);

    // A chip given its next command mid-conversion answers wrongly: on a real
    // bus the wait is slept through, not only counted.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    bus.delay().delay_ms(20);
    CHECK(Clock::now() - start >= std::chrono::milliseconds(20));
    CHECK(bus.waited_micros() == 20000);
}
#endif
