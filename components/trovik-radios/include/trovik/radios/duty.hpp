#pragma once
// The silence a radio owes after its transmissions under a duty-cycle limit,
// on the caller's clock (microseconds).
#include <cstdint>
#include <limits>
#include <optional>

#include "trovik/lora/link.hpp"

namespace trovik::radios::duty {

class DutyCycle {
public:
    // The earliest start that means "never": a limit of 0 forbids transmitting.
    static constexpr std::uint64_t never = std::numeric_limits<std::uint64_t>::max();

    // `permille` parts per thousand; 1000 or more is unrestricted.
    explicit constexpr DutyCycle(std::uint32_t permille) noexcept
        : permille_(permille), earliest_(permille == 0 ? never : 0) {}

    constexpr std::uint32_t permille() const noexcept { return permille_; }
    // The earliest start of the next transmission; none when never.
    constexpr std::optional<std::uint64_t> earliest_us() const noexcept {
        if (earliest_ == never) return std::nullopt;
        return earliest_;
    }
    constexpr bool ready(std::uint64_t now_us) const noexcept { return permille_ != 0 && now_us >= earliest_; }
    // How long to stay silent from `now_us`: 0 once the earliest start has
    // passed, none when never.
    constexpr std::optional<std::uint64_t> wait_us(std::uint64_t now_us) const noexcept {
        if (earliest_ == never) return std::nullopt;
        return earliest_ > now_us ? earliest_ - now_us : 0;
    }

    // Records a transmission of `payload_len` bytes on `link` that started
    // at `started_us`, and returns its time on air. The silence it owes runs
    // from its end; a silence already owed that ends later still holds, so a
    // transmission recorded out of order never shortens it.
    std::uint64_t transmitted(std::uint64_t started_us, const lora::LinkSettings& link,
                              std::uint64_t payload_len) noexcept;

private:
    std::uint32_t permille_;
    std::uint64_t earliest_;
};

}  // namespace trovik::radios::duty
