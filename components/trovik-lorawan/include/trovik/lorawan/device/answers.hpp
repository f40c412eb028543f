#pragma once
// The MAC answers and requests an end device owes the network, waiting for
// the next uplink. The queue does not look inside the bytes: whoever queues
// an answer decides how long it stays.
#include <array>
#include <cstdint>
#include <span>

namespace trovik::lorawan::device {

enum class AnswerKind : std::uint8_t {
    Once,        // sent with the next uplink only, then dropped
    Sticky,      // repeated in every uplink until a downlink arrives
    OwnRequest,  // the device's own request, kept until an uplink carried it
};

struct Answers {
    static constexpr std::size_t kMaxEntries = 64;
    static constexpr std::size_t kMaxEntryLen = 7;
    static constexpr std::uint8_t kLinkCheckReq = 0x02;
    static constexpr std::uint8_t kDeviceTimeReq = 0x0D;

    struct Entry {
        AnswerKind kind = AnswerKind::Once;
        std::uint8_t len = 0;
        std::array<std::uint8_t, kMaxEntryLen> bytes{};
        std::span<const std::uint8_t> encoded() const { return {bytes.data(), len}; }
        friend constexpr bool operator==(const Entry&, const Entry&) = default;
    };

    // What one `write` put into a frame.
    struct Report {
        std::size_t written = 0;           // bytes
        std::size_t answers_written = 0;   // `Once` and `Sticky` entries, a prefix of them
        std::size_t requests_written = 0;  // `OwnRequest` entries, a prefix of them
        bool link_check = false;
        bool device_time = false;
    };

    std::array<Entry, kMaxEntries> entries{};
    std::uint8_t count = 0;
    bool link_check_requested = false;
    bool device_time_requested = false;

    std::span<const Entry> queued() const { return {entries.data(), count}; }

    // Appends one encoded command, CID first; false (the answer is lost) when
    // the queue is full or the command is empty or longer than 7 bytes.
    bool push_encoded(std::span<const std::uint8_t> command, AnswerKind kind) noexcept;
    // A downlink arrived: only the device's own requests stay.
    void heard_downlink() noexcept;
    // The bytes a write would take if everything fitted.
    std::size_t len() const noexcept;
    // Whole commands into `out`, in order: the answers until one does not
    // fit, then the own requests until one does not fit, then each request
    // flag that still finds a byte.
    Report write(std::span<std::uint8_t> out) const noexcept;
    // Drops what an uplink carried: the answers written (the `Sticky` ones
    // stay until a downlink), the own requests written and the requests
    // written. Answers that did not fit wait for the next uplink.
    void sent(const Report& report) noexcept;
    void clear() noexcept { *this = Answers{}; }

    friend constexpr bool operator==(const Answers&, const Answers&) = default;
};

}  // namespace trovik::lorawan::device
