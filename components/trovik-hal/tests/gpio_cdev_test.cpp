#include <doctest/doctest.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

#include "trovik/hal/gpio_cdev.hpp"

using namespace trovik::hal::gpio_cdev;

// Our structures are written from the interface's documentation; where the
// kernel's own header is at hand, they must agree with it exactly.
#if __has_include(<linux/gpio.h>)
#include <linux/gpio.h>

static_assert(sizeof(LineAttribute) == sizeof(struct gpio_v2_line_attribute));
static_assert(offsetof(LineAttribute, flags) == offsetof(struct gpio_v2_line_attribute, flags));
static_assert(sizeof(LineConfigAttribute) == sizeof(struct gpio_v2_line_config_attribute));
static_assert(offsetof(LineConfigAttribute, mask) == offsetof(struct gpio_v2_line_config_attribute, mask));
static_assert(sizeof(LineConfig) == sizeof(struct gpio_v2_line_config));
static_assert(offsetof(LineConfig, num_attrs) == offsetof(struct gpio_v2_line_config, num_attrs));
static_assert(offsetof(LineConfig, attrs) == offsetof(struct gpio_v2_line_config, attrs));
static_assert(sizeof(LineRequest) == sizeof(struct gpio_v2_line_request));
static_assert(offsetof(LineRequest, consumer) == offsetof(struct gpio_v2_line_request, consumer));
static_assert(offsetof(LineRequest, config) == offsetof(struct gpio_v2_line_request, config));
static_assert(offsetof(LineRequest, num_lines) == offsetof(struct gpio_v2_line_request, num_lines));
static_assert(offsetof(LineRequest, fd) == offsetof(struct gpio_v2_line_request, fd));
static_assert(sizeof(LineValues) == sizeof(struct gpio_v2_line_values));
static_assert(kLinesMax == GPIO_V2_LINES_MAX);
static_assert(kNameSize == GPIO_MAX_NAME_SIZE);
static_assert(kAttributesMax == GPIO_V2_LINE_NUM_ATTRS_MAX);
static_assert(kFlagActiveLow == GPIO_V2_LINE_FLAG_ACTIVE_LOW);
static_assert(kFlagInput == GPIO_V2_LINE_FLAG_INPUT);
static_assert(kFlagOutput == GPIO_V2_LINE_FLAG_OUTPUT);
static_assert(kAttrFlags == GPIO_V2_LINE_ATTR_ID_FLAGS);
static_assert(kAttrOutputValues == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES);
static_assert(kGetLine == GPIO_V2_GET_LINE_IOCTL);
static_assert(kGetValues == GPIO_V2_LINE_GET_VALUES_IOCTL);
static_assert(kSetValues == GPIO_V2_LINE_SET_VALUES_IOCTL);
#endif

TEST_CASE("a request: inputs by default, outputs and their first levels by attribute") {
    const LineSpec lines[] = {{24, Direction::Input}, {25, Direction::Output, true}, {7, Direction::Output, false}};
    const auto request = make_request(lines, "trovik");
    REQUIRE(request);
    CHECK(request->num_lines == 3);
    CHECK(request->offsets[0] == 24);
    CHECK(request->offsets[1] == 25);
    CHECK(request->offsets[2] == 7);
    CHECK(std::string(request->consumer) == "trovik");
    CHECK(request->config.flags == kFlagInput);
    REQUIRE(request->config.num_attrs == 2);
    CHECK(request->config.attrs[0].attr.id == kAttrFlags);
    CHECK(request->config.attrs[0].attr.flags == kFlagOutput);
    CHECK(request->config.attrs[0].mask == 0b110);
    CHECK(request->config.attrs[1].attr.id == kAttrOutputValues);
    CHECK(request->config.attrs[1].attr.values == 0b010);
    CHECK(request->config.attrs[1].mask == 0b110);
    CHECK(request->fd == 0);

    const LineSpec input[] = {{3}};
    const auto plain = make_request(input, std::string(40, 'x'));
    REQUIRE(plain);
    CHECK(plain->config.num_attrs == 0);
    CHECK(std::string(plain->consumer) == std::string(31, 'x'));  // cut, still terminated
}

TEST_CASE("requests the kernel would refuse are refused first") {
    std::vector<LineSpec> many(kLinesMax + 1);
    for (std::size_t i = 0; i < many.size(); ++i)
        many[i].offset = static_cast<std::uint32_t>(i);
    CHECK(make_request(many, "t").error() == "a request names at most 64 lines, not 65");
    CHECK(make_request(std::span(many).first(kLinesMax), "t")->num_lines == 64);
    CHECK(make_request({}, "t").error() == "a request names at least one line");
    const LineSpec twice[] = {{5}, {6, Direction::Output}, {5, Direction::Output}};
    CHECK(make_request(twice, "t").error() == "line 5 is named twice");
}

#ifdef __linux__
TEST_CASE("opening and requesting fail with the device's path and the system's words") {
    const auto words = [](int e) { return std::system_category().message(e); };
    CHECK(Chip::open("/dev/gpiochip-none").error().message() == "/dev/gpiochip-none: " + words(ENOENT));
    CHECK(Chip::open("/").error().message() == "/: " + words(EISDIR));
    CHECK(Chip::open(std::string("/dev/null\0x", 11)).error().message() ==
          std::string("/dev/null\0x", 11) + ": embedded null byte");

    // A file that is no GPIO chip opens, and the kernel refuses the request.
    char path[] = "/tmp/gpiochip-standin-XXXXXX";
    const int fd = ::mkstemp(path);
    REQUIRE(fd >= 0);
    ::close(fd);
    auto chip = Chip::open(path);
    REQUIRE(chip);
    CHECK(chip->path() == path);
    const LineSpec reset[] = {{25, Direction::Output, true}};
    CHECK(chip->request(reset, "trovik").error().message() == std::string(path) + ": " + words(ENOTTY));
    CHECK(chip->request({}, "trovik").error().message() == std::string(path) + ": a request names at least one line");
    ::unlink(path);

    // Granted lines over a file that is none: reading and driving reach the
    // kernel and come back with its error number.
    const Lines lines = Lines::adopt(::open("/dev/null", O_RDWR | O_CLOEXEC), 2);
    CHECK(lines.size() == 2);
    CHECK(lines.get(0).error() == ENOTTY);
    CHECK(lines.set(1, true).error() == ENOTTY);
    CHECK(lines.get(2).error() == EINVAL);  // never reaches the kernel
}
#endif
