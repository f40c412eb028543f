#include <doctest/doctest.h>

#include <unistd.h>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "trovik/core/crc8.hpp"
#include "trovik/sensors/ds18b20.hpp"
#include "trovik/sensors/ds18b20_kernel.hpp"

using namespace trovik::sensors;
using namespace trovik::sensors::ds18b20;

namespace {

const std::string kExample = "91 01 4b 46 7f ff 0c 10 70 : crc=70 YES\n91 01 4b 46 7f ff 0c 10 70 t=25062\n";

std::array<std::uint8_t, 9> with_crc(std::array<std::uint8_t, 9> b) {
    b[8] = trovik::core::maxim_crc8(std::span(b).first<8>());
    return b;
}

}  // namespace

TEST_CASE("DS18B20 scratchpad") {
    const Scratchpad example{401, 75, 70, 3};
    CHECK(example.to_bytes() == std::array<std::uint8_t, 9>{0x91, 0x01, 0x4B, 0x46, 0x7F, 0xFF, 0x0C, 0x10, 0x70});
    CHECK(Scratchpad::parse(example.to_bytes()) == example);
    CHECK(w1_slave_text(example) == kExample);
    CHECK(w1_slave_text(Scratchpad{-1, 0, 0, 3}).ends_with("t=-62\n"));
    CHECK(w1_slave_text(Scratchpad{0x07D0, 0, 0, 3}).ends_with("t=125000\n"));

    auto bad = example.to_bytes();
    bad[8] ^= 1;
    CHECK(Scratchpad::parse(bad) == std::unexpected(SensorError::Checksum));

    // A shorted or unpowered line: all zeros, and the CRC of zeros is zero.
    const std::array<std::uint8_t, 9> zeros{};
    CHECK(Scratchpad::parse(zeros) == std::unexpected(SensorError::UndefinedCode));
    for (unsigned config = 0; config < 256; ++config) {
        const auto bytes = with_crc({0x91, 0x01, 0x4B, 0x46, static_cast<std::uint8_t>(config), 0xFF, 0x0C, 0x10});
        const bool part = config == 0x1F || config == 0x3F || config == 0x5F || config == 0x7F;
        CAPTURE(config);
        CHECK(Scratchpad::parse(bytes).has_value() == part);
    }
}

TEST_CASE("DS18B20 temperature register from degrees") {
    struct Case {
        std::uint8_t code;
        float celsius;
        std::uint16_t want;
    };
    // From 2048 °C on the cases lie at or past the ends of the register: past an
    // end it holds that end, never a wrapped value of the other sign.
    const Case cases[] = {{3, 25.0625f, 0x0191},  {0, 25.3f, 0x0190},       {3, -0.0625f, 0xFFFF},
                          {3, -10.125f, 0xFF5E},  {3, 125.0f, 0x07D0},      {3, std::nanf(""), 0},
                          {0, -0.0625f, 0xFFF8},  {3, -0.01f, 0xFFFF},      {3, 0.0624f, 0},
                          {0, std::nanf(""), 0},  {3, 2048.0f, 0x7FFF},     {3, 1e9f, 0x7FFF},
                          {3, INFINITY, 0x7FFF},  {3, 2047.9375f, 0x7FFF},  {0, INFINITY, 0x7FF8},
                          {2, 2048.0f, 0x7FFE},   {3, -2048.0625f, 0x8000}, {3, -1e9f, 0x8000},
                          {3, -INFINITY, 0x8000}, {3, -2048.0f, 0x8000},    {0, -INFINITY, 0x8000}};
    for (const Case& c : cases) {
        CAPTURE(c.celsius);
        const int code = c.code;
        CAPTURE(code);
        CHECK(static_cast<std::uint16_t>(temperature_from_celsius(c.code, c.celsius)) == c.want);
    }
    CHECK(step_micro_celsius(0) == 500'000);
    CHECK(step_micro_celsius(3) == 62'500);
    CHECK(max_conversion_micros(0) == 93'750);
    CHECK(max_conversion_micros(3) == 750'000);
}

TEST_CASE("DS18B20 w1_slave text") {
    const Scratchpad example{401, 75, 70, 3};
    struct Case {
        const char* name;
        std::string text;
        std::expected<Scratchpad, SensorError> want;
    };
    const auto undefined = std::unexpected(SensorError::UndefinedCode);
    const auto checksum = std::unexpected(SensorError::Checksum);
    const Case cases[] = {
        {"kernel text", kExample, example},
        {"first line alone", "91 01 4b 46 7f ff 0c 10 70 : crc=70 YES", example},
        {"CR LF", "91 01 4b 46 7f ff 0c 10 70 : crc=70 YES\r\nanything", example},
        {"either case, plus, zeros", "91 +01 4B 046 7f FF 0c 10 0070 : crc=00 YES\n", example},
        {"empty", "", undefined},
        {"no marker", "91 01 4b 46 7f ff 0c 10 70 crc=70 YES\n", undefined},
        {"verdict NO", "91 01 4b 46 7f ff 0c 10 70 : crc=70 NO\n", checksum},
        {"verdict YE", "91 01 4b 46 7f ff 0c 10 70 : crc=70 YE\n", undefined},
        {"verdict short", "91 01 4b 46 7f ff 0c 10 70 : crc=Y\n", undefined},
        {"byte changed", "91 01 4b 46 7f ff 0c 11 70 : crc=70 YES\n", checksum},
        {"eight pieces", "91 01 4b 46 7f ff 0c 10 : crc=70 YES\n", undefined},
        {"ten pieces", "91 01 4b 46 7f ff 0c 10 70 00 : crc=70 YES\n", undefined},
        {"piece 100", "91 01 4b 46 7f ff 0c 10 100 : crc=70 YES\n", undefined},
        {"piece -1", "91 01 4b 46 7f ff 0c 10 -1 : crc=70 YES\n", undefined},
        {"lone plus", "91 01 4b 46 7f ff 0c 10 + : crc=70 YES\n", undefined},
        {"all zeros", "00 00 00 00 00 00 00 00 00 : crc=00 YES\n", undefined},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        CHECK(parse_w1_slave(c.text) == c.want);
    }
}

TEST_CASE("DS18B20 thermometers in a directory laid out as the kernel does") {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("trovik-w1-" + std::to_string(::getpid()));
    fs::remove_all(root);
    for (const char* dir : {"28-0316a279c1ff", "28-00000a1b2c3d", "10-000803b1c0a2", "w1_bus_master1"})
        fs::create_directories(root / dir);
    std::ofstream(root / "28-0316a279c1ff" / "w1_slave") << kExample;

    auto found = kernel::Thermometer::discover_in(root);
    REQUIRE(found);
    REQUIRE(found->size() == 2);
    CHECK((*found)[0].path() == root / "28-00000a1b2c3d" / "w1_slave");
    CHECK((*found)[1].serial() == "0316a279c1ff");
    CHECK((*found)[1].read_scratchpad() == Scratchpad{401, 75, 70, 3});
    const auto missing = (*found)[0].read_scratchpad();
    REQUIRE_FALSE(missing);
    CHECK(missing.error().message() == "reading the w1_slave file: No such file or directory");

    CHECK(kernel::Thermometer::for_serial("abc").path() == "/sys/bus/w1/devices/28-abc/w1_slave");
    CHECK(kernel::Thermometer(root / "10-000803b1c0a2" / "w1_slave").serial() == std::nullopt);
    CHECK(kernel::Thermometer(root / "28-" / "w1_slave").serial() == std::nullopt);
    CHECK(kernel::Thermometer("+28-x/w1_slave").serial() == "x");
    CHECK(kernel::Thermometer("0x28-x/w1_slave").serial() == std::nullopt);
    CHECK(kernel::Thermometer("w1_slave").serial() == std::nullopt);
    CHECK_FALSE(kernel::Thermometer::discover_in(root / "nowhere"));
    fs::remove_all(root);
}

TEST_CASE("DS18B20 thermometer files that are no small regular file are refused by path") {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("trovik-w1-refused-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "28-a" / "w1_slave");
    fs::create_directories(root / "28-\xff" / "w1_slave");
    // The kernel's text padded to a length, past its first line.
    const auto padded = [](std::size_t size) {
        std::string text = kExample;
        text.resize(size, '0');
        return text;
    };
    std::ofstream(root / "full") << padded(kernel::Thermometer::max_file_bytes);
    std::ofstream(root / "over") << padded(kernel::Thermometer::max_file_bytes + 1);
    fs::create_symlink(root / "full", root / "link");

    const Scratchpad example{401, 75, 70, 3};
    CHECK(kernel::Thermometer(root / "full").read_scratchpad() == example);
    CHECK(kernel::Thermometer(root / "link").read_scratchpad() == example);
    struct Case {
        fs::path path;
        std::string message;
    };
    const std::string prefix = "reading the w1_slave file: " + root.native();
    const Case cases[] = {
        {root / "over", prefix + "/over: File too large"},
        {root / "28-a" / "w1_slave", prefix + "/28-a/w1_slave: Is a directory"},
        {root / "28-\xff" / "w1_slave", prefix + "/28-\xef\xbf\xbd/w1_slave: Is a directory"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.message);
        const auto read = kernel::Thermometer(c.path).read_scratchpad();
        REQUIRE_FALSE(read);
        CHECK(read.error().message() == c.message);
    }
    fs::remove_all(root);
}
