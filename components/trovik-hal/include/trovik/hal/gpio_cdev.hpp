#pragma once
// GPIO lines through the kernel's GPIO character device (/dev/gpiochipN), in
// its second interface: one request asks for a set of lines of one chip,
// each an input or an output with its first level, and the kernel hands back
// a file through which they are read and driven together. The structures and
// request numbers are written here from the interface's documented layout.
//
//     auto chip = gpio_cdev::Chip::open("/dev/gpiochip0");
//     const gpio_cdev::LineSpec lines[] = {{25, gpio_cdev::Direction::Output, true}, {24}};
//     auto granted = chip->request(lines, "trovik");
//     granted->set(0, false);  // line 25 low
//     granted->get(1);         // line 24
//
// On systems without the interface every opening fails with a fixed text.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace trovik::hal::gpio_cdev {

inline constexpr std::size_t kLinesMax = 64;       // GPIO_V2_LINES_MAX
inline constexpr std::size_t kNameSize = 32;       // GPIO_MAX_NAME_SIZE
inline constexpr std::size_t kAttributesMax = 10;  // GPIO_V2_LINE_NUM_ATTRS_MAX

inline constexpr std::uint64_t kFlagActiveLow = 1u << 1;  // GPIO_V2_LINE_FLAG_ACTIVE_LOW
inline constexpr std::uint64_t kFlagInput = 1u << 2;      // GPIO_V2_LINE_FLAG_INPUT
inline constexpr std::uint64_t kFlagOutput = 1u << 3;     // GPIO_V2_LINE_FLAG_OUTPUT
inline constexpr std::uint32_t kAttrFlags = 1;            // GPIO_V2_LINE_ATTR_ID_FLAGS
inline constexpr std::uint32_t kAttrOutputValues = 2;     // GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES

// `struct gpio_v2_line_attribute`: what `id` names is in the union.
struct LineAttribute {
    std::uint32_t id;
    std::uint32_t padding;
    union {
        std::uint64_t flags;
        std::uint64_t values;
        std::uint32_t debounce_period_us;
    };
};
// `struct gpio_v2_line_config_attribute`: an attribute for the lines in `mask`
// (bit i for the i-th requested line).
struct LineConfigAttribute {
    LineAttribute attr;
    std::uint64_t mask;
};
// `struct gpio_v2_line_config`: flags for every line, attributes for some.
struct LineConfig {
    std::uint64_t flags;
    std::uint32_t num_attrs;
    std::uint32_t padding[5];
    LineConfigAttribute attrs[kAttributesMax];
};
// `struct gpio_v2_line_request`: the kernel fills in `fd`.
struct LineRequest {
    std::uint32_t offsets[kLinesMax];
    char consumer[kNameSize];
    LineConfig config;
    std::uint32_t num_lines;
    std::uint32_t event_buffer_size;
    std::uint32_t padding[5];
    std::int32_t fd;
};
// `struct gpio_v2_line_values`: bit i for the i-th requested line.
struct LineValues {
    std::uint64_t bits;
    std::uint64_t mask;
};

inline constexpr unsigned long kGetLine = 0xC250B407;    // GPIO_V2_GET_LINE_IOCTL
inline constexpr unsigned long kGetValues = 0xC010B40E;  // GPIO_V2_LINE_GET_VALUES_IOCTL
inline constexpr unsigned long kSetValues = 0xC010B40F;  // GPIO_V2_LINE_SET_VALUES_IOCTL

enum class Direction : std::uint8_t { Input, Output };

// One line to ask for: its offset on the chip, its direction, and for an
// output the level it starts at.
struct LineSpec {
    std::uint32_t offset = 0;
    Direction direction = Direction::Input;
    bool initial_high = false;
};

// Why a device or a line could not be had: "{device}: {reason}", the reason
// most often the system's own text for an error number.
struct Error {
    std::string device;
    std::string reason;

    static Error system(std::string_view device, int error_number);
    std::string message() const { return device + ": " + reason; }
};

// The request the kernel takes for `lines` under the label `consumer` (cut
// to the 31 bytes the kernel keeps): inputs by default, the outputs named by
// one attribute and their first levels by another. Refuses no lines, more
// than the kernel takes, and a line asked for twice.
std::expected<LineRequest, std::string> make_request(std::span<const LineSpec> lines, std::string_view consumer);

// Lines a chip granted. Owns the request's file; closing it frees the lines.
class Lines {
public:
    // Owns `fd` as granted lines without asking the kernel: a test's
    // stand-in for a real request.
    static Lines adopt(int fd, std::size_t count) noexcept { return Lines(fd, count); }
    Lines(Lines&& other) noexcept;
    Lines& operator=(Lines&& other) noexcept;
    Lines(const Lines&) = delete;
    ~Lines();

    std::size_t size() const noexcept { return count_; }
    // The level of the `index`-th requested line; an error number on failure.
    std::expected<bool, int> get(std::size_t index) const;
    // Drives the `index`-th requested line (an output); an error number on failure.
    std::expected<void, int> set(std::size_t index, bool high) const;

private:
    Lines(int fd, std::size_t count) noexcept : fd_(fd), count_(count) {}
    int fd_ = -1;
    std::size_t count_ = 0;
};

// An open GPIO chip. Owns its file.
class Chip {
public:
    // Opening fails with the path and the system's words: a missing device,
    // one we may not open, or (on other systems) no such interface.
    static std::expected<Chip, Error> open(std::string_view path);
    Chip(Chip&& other) noexcept;
    Chip& operator=(Chip&& other) noexcept;
    Chip(const Chip&) = delete;
    ~Chip();

    const std::string& path() const noexcept { return path_; }
    // Asks for `lines` in one request. A file that is no GPIO chip, a line
    // the chip lacks or one already in use fails with the chip's path.
    std::expected<Lines, Error> request(std::span<const LineSpec> lines, std::string_view consumer) const;

private:
    Chip(int fd, std::string path) noexcept : fd_(fd), path_(std::move(path)) {}
    int fd_ = -1;
    std::string path_;
};

}  // namespace trovik::hal::gpio_cdev
