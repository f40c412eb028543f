#include <doctest/doctest.h>

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "trovik/hal/bus.hpp"

using namespace trovik::hal;
using Bytes = std::vector<std::uint8_t>;

namespace {

sim::I2cPart byte_part(std::uint8_t address, std::uint8_t fill) {
    sim::I2cPart part(address);
    part.registers.fill(fill);
    return part;
}

std::string failure(const BusResult& result) {
    REQUIRE(!result);
    return result.error().message();
}

}  // namespace

TEST_CASE("a simulated bus routes each transaction to the part at its address") {
    I2cBus bus = I2cBus::simulated({byte_part(0x48, 0xA1), sim::WordPart(0x40)});
    CHECK(bus.kind() == BusKind::Simulated);
    CHECK(bus.transfers() == 0);
    CHECK(bus.remaining() == std::nullopt);
    CHECK(bus.waited_micros() == 0);

    Bytes buffer(2);
    const Bytes pointer{0x00};
    REQUIRE(bus.write_read(0x48, pointer, buffer));
    CHECK(buffer == Bytes{0xA1, 0xA1});
    CHECK(bus.transfers() == 1);  // one transaction, not two
    CHECK(bus.part(0x48)->transfers() == 1);
    CHECK(bus.part(0x40)->transfers() == 0);

    SUBCASE("nothing at an address") {
        const std::pair<std::uint8_t, const char*> cases[] = {
            {0x00, "nothing answered at 0x00"}, {0x49, "nothing answered at 0x49"}, {0xFF, "nothing answered at 0xff"}};
        for (auto [address, message] : cases) {
            CAPTURE(address);
            CHECK(failure(bus.read(address, buffer)) == message);
        }
        CHECK(bus.transfers() == 4);
    }
    SUBCASE("a part's refusal") {
        Bytes none;
        CHECK(failure(bus.read(0x40, none)) == "a read came before anything said which register to read");
        CHECK(bus.transfers() == 2);
        CHECK(bus.part(0x40)->transfers() == 1);
    }
    SUBCASE("a transaction of no operations, and a read of nothing, still count") {
        REQUIRE(bus.transaction(0x48, std::span<const Operation>()));
        Bytes none;
        REQUIRE(bus.read(0x48, none));
        CHECK(bus.transfers() == 3);
    }
}

TEST_CASE("a later part at an address replaces the earlier one, in placing and in attaching") {
    I2cBus bus = I2cBus::simulated({byte_part(0x48, 1), byte_part(0x50, 9), byte_part(0x48, 2)});
    const Bytes pointer{0x00};
    Bytes buffer(1);
    REQUIRE(bus.write_read(0x48, pointer, buffer));
    CHECK(buffer == Bytes{2});

    auto replaced = bus.attach(sim::Part(sim::CommandPart(0x48, 1).answering(pointer, Bytes{3})));
    REQUIRE(replaced);
    REQUIRE(replaced->has_value());
    CHECK((*replaced)->bytes()->registers[0] == 2);
    CHECK((*replaced)->transfers() == 1);
    REQUIRE(bus.write_read(0x48, pointer, buffer));
    CHECK(buffer == Bytes{3});
    CHECK(bus.part(0x48)->commands()->received == std::vector<Bytes>{pointer});

    auto added = bus.attach(sim::Part(byte_part(0x51, 4)));
    REQUIRE(added);
    CHECK(!added->has_value());
    CHECK(bus.part(0x51).has_value());
    CHECK(!bus.part(0x52).has_value());
}

TEST_CASE("a part copied out of the bus is a snapshot") {
    I2cBus bus = I2cBus::simulated({byte_part(0x48, 0)});
    std::optional<sim::Part> before = bus.part(0x48);
    REQUIRE(bus.write(0x48, Bytes{0x10, 0xAB}));
    CHECK(before->bytes()->registers[0x10] == 0);
    CHECK(bus.part(0x48)->bytes()->registers[0x10] == 0xAB);
    CHECK(bus.part(0x48)->bytes()->pointer == 0x11);
}

TEST_CASE("only a simulated bus takes parts or gives copies") {
    I2cBus bus = I2cBus::scripted(script::I2cScript({script::I2cStep::write(0x40, Bytes{1})}));
    CHECK(bus.kind() == BusKind::Scripted);
    CHECK(bus.remaining() == 1);
    auto attached = bus.attach(sim::Part(byte_part(0x40, 0)));
    REQUIRE(!attached);
    CHECK(attached.error().message() == "only a simulated bus takes parts");
    CHECK(!bus.part(0x40));
    CHECK(bus.transfers() == 0);
}

TEST_CASE("a scripted bus wraps the script's refusals and counts every transaction") {
    I2cBus bus = I2cBus::scripted(script::I2cScript({script::I2cStep::write_read(0x40, Bytes{0}, Bytes{0x12, 0x34})}));
    CHECK(failure(bus.write(0x40, Bytes{0})) ==
          "i2c script step 0: expected Some(WriteRead { address: 64, bytes: [0], reply: [18, 52] }), the driver "
          "issued [Write { address: 64, bytes: [0] }]");
    Bytes buffer(2);
    const Bytes zero{0};
    REQUIRE(bus.write_read(0x40, zero, buffer));
    CHECK(buffer == Bytes{0x12, 0x34});
    CHECK(bus.remaining() == 0);
    CHECK(bus.transfers() == 2);
}

TEST_CASE("waits add up in nanoseconds and show in whole microseconds, saturating") {
    I2cBus bus = I2cBus::simulated();
    BusDelay delay = bus.delay();
    delay.delay_ns(999);
    CHECK(bus.waited_micros() == 0);
    delay.delay_ns(1);
    delay.delay_ns(1000);
    CHECK(bus.waited_micros() == 2);
    delay.delay_us(4294967295u);  // more than 32 bits of nanoseconds
    delay.delay_ms(100);
    CHECK(bus.waited_micros() == 2 + 4294967295ull + 100000);

    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    delay.wait_ns(most - 2002 - 4294967295000ull - 100000000 - 5);
    CHECK(bus.waited_micros() == (most - 5) / 1000);
    delay.delay_ns(4);
    delay.delay_ns(1000);
    delay.delay_ms(std::numeric_limits<std::uint32_t>::max());
    CHECK(bus.waited_micros() == 18446744073709551ull);
    // A copy of the handle, or of the delay, is the same bus.
    I2cBus same = bus;
    BusDelay(same).delay_ns(5);
    CHECK(same.waited_micros() == 18446744073709551ull);
}

TEST_CASE("transactions from several threads on one bus are each counted once") {
    I2cBus bus = I2cBus::simulated({sim::WordPart(0x40)});
    constexpr int threads = 4;
    constexpr int each = 10000;
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([bus, t, &wrong] {
            const BusDelay delay = bus.delay();
            const std::uint8_t reg = static_cast<std::uint8_t>(t);
            for (int i = 0; i < each; ++i) {
                const std::uint8_t value[] = {reg, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
                std::uint8_t back[2] = {};
                const Operation ops[] = {Operation::write(value), Operation::write({&reg, 1}), Operation::read(back)};
                // Within one transaction no other thread's write comes between.
                if (!bus.transaction(0x40, ops) || (back[0] << 8 | back[1]) != (i & 0xFFFF)) ++wrong;
                delay.delay_us(1);
            }
        });
    }
    for (std::thread& w : workers)
        w.join();
    CHECK(wrong == 0);
    CHECK(bus.transfers() == threads * each);
    CHECK(bus.part(0x40)->transfers() == threads * each);
    CHECK(bus.waited_micros() == threads * each);
}

TEST_CASE("opening a file that is not an adapter names the path and the reason") {
#ifdef __linux__
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("trovik-hal-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string regular = (dir / "i2c-9").string();
    std::ofstream(regular) << "not an adapter";

    struct Case {
        std::string path;
        std::string message;
    };
    const Case cases[] = {
        {regular, regular + ": not an I2C adapter: Inappropriate ioctl for device"},
        {(dir / "absent").string(), (dir / "absent").string() + ": No such file or directory"},
        {dir.string(), dir.string() + ": Is a directory"},
        {"", ": No such file or directory"},
        {regular + std::string(1, '\0') + "x", regular + std::string(1, '\0') + "x: embedded null byte"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.path);
        auto bus = I2cBus::open(c.path);
        REQUIRE(!bus);
        CHECK(bus.error().kind == OpenError::Kind::Io);
        CHECK(bus.error().message() == c.message);
    }
    std::filesystem::remove_all(dir);
#else
    auto bus = I2cBus::open("/dev/i2c-1");
    REQUIRE(!bus);
    CHECK(bus.error().message() ==
          "an I2C adapter is opened through the kernel's i2c-dev interface, which only Linux has");
#endif
    CHECK(OpenError{OpenError::Kind::Unsupported, {}, {}}.message() ==
          "an I2C adapter is opened through the kernel's i2c-dev interface, which only Linux has");
}
