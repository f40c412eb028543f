#include <doctest/doctest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "trovik/hal/gpio_line.hpp"
#include "trovik/hal/pins.hpp"

using namespace trovik::hal;
using namespace trovik::hal::pins;

TEST_CASE("pin levels, polarity and edges") {
    CHECK(level_from_bool(true) == Level::High);
    CHECK(inverted(Level::Low) == Level::High);
    CHECK(polarity_level(Polarity::ActiveHigh, true) == Level::High);
    CHECK(polarity_level(Polarity::ActiveLow, true) == Level::Low);
    CHECK(polarity_level(Polarity::ActiveLow, false) == Level::High);
    CHECK(is_asserted(Polarity::ActiveLow, Level::Low));
    CHECK_FALSE(is_asserted(Polarity::ActiveHigh, Level::Low));
    struct Case {
        Edge edge;
        Level before, after;
        bool fires;
    };
    for (const Case c :
         {Case{Edge::Rising, Level::Low, Level::High, true}, Case{Edge::Rising, Level::High, Level::Low, false},
          Case{Edge::Falling, Level::High, Level::Low, true}, Case{Edge::Falling, Level::Low, Level::High, false},
          Case{Edge::Both, Level::Low, Level::High, true}, Case{Edge::Both, Level::High, Level::Low, true},
          Case{Edge::Both, Level::High, Level::High, false}, Case{Edge::Rising, Level::High, Level::High, false}}) {
        CAPTURE(static_cast<int>(c.edge));
        CHECK(triggered_by(c.edge, c.before, c.after) == c.fires);
    }
    CHECK(parse_level("High") == Level::High);
    CHECK_FALSE(parse_level("high"));
    CHECK(parse_polarity("ActiveLow") == Polarity::ActiveLow);
    CHECK_FALSE(parse_edge("rising"));
    CHECK(name(Level::Low) == "Low");
}

TEST_CASE("SPI modes") {
    for (std::uint8_t mode = 0; mode < 4; ++mode) {
        const auto clock = spi_mode_clock(mode);
        REQUIRE(clock);
        CHECK(spi_mode_from_clock(clock->cpol, clock->cpha) == mode);
    }
    CHECK(spi_mode_clock(2) == SpiClock{true, false});
    CHECK_FALSE(spi_mode_clock(4));
}

TEST_CASE("a GPIO line refuses what is not a GPIO chip, naming the path and line") {
    const auto missing = gpio_line::Line::open("/nonexistent/gpiochip9", 17, gpio_cdev::Direction::Input);
    REQUIRE_FALSE(missing);
#ifdef __linux__
    CHECK(missing.error().message() == "/nonexistent/gpiochip9 line 17: No such file or directory");
    const auto file = std::filesystem::temp_directory_path() / "trovik_not_a_gpio_chip";
    std::ofstream(file) << "plain";
    const auto plain = gpio_line::Line::open(file.string(), 3, gpio_cdev::Direction::Output, true);
    REQUIRE_FALSE(plain);
    CHECK(plain.error().message().starts_with(file.string() + " line 3: "));
    std::filesystem::remove(file);
#else
    CHECK(missing.error().message() == "a GPIO line is opened through the GPIO character device, which only Linux has");
#endif
}
