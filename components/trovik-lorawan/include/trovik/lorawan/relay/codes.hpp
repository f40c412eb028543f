#pragma once
// The codes a LoRaWAN relay (TS011-1.0.1) and the end devices around it
// carry on the air, and the carrier a relayed frame is sent on.
#include <cstdint>

namespace trovik::lorawan::relay {

// How often a relay scans its WOR channels.
enum class CadPeriodicity : std::uint8_t { Ms1000, Ms500, Ms250, Ms100, Ms50, Ms20 };
// How many symbols a relay listens after channel activity before it gives up.
enum class CadToRx : std::uint8_t { Symbols2, Symbols4, Symbols6, Symbols8 };
enum class XtalAccuracy : std::uint8_t { Ppm10, Ppm20, Ppm30, Ppm40 };
enum class ForwardState : std::uint8_t { Available, RetryIn30Minutes, RetryIn60Minutes, Disabled };
// Which of a relay's two WOR channels a frame was heard on.
enum class WorChannel : std::uint8_t { Default, Second };

inline constexpr std::uint8_t kCadPeriodicities = 6;

// The scan period in microseconds; a code past the table counts as the
// shortest period.
constexpr std::uint64_t period_us(CadPeriodicity p) noexcept {
    constexpr std::uint64_t kPeriods[kCadPeriodicities] = {1'000'000, 500'000, 250'000, 100'000, 50'000, 20'000};
    const auto code = static_cast<std::uint8_t>(p);
    return kPeriods[code < kCadPeriodicities ? code : kCadPeriodicities - 1];
}
constexpr std::uint32_t symbols(CadToRx c) noexcept { return 2 + 2 * (static_cast<std::uint32_t>(c) & 3); }
constexpr std::uint32_t ppm(XtalAccuracy x) noexcept { return 10 + 10 * (static_cast<std::uint32_t>(x) & 3); }

// Where a frame goes and how fast: `data_rate` is the region's DR number.
// Relay frames carry the frequency as a 24-bit count of 100 Hz.
struct Carrier {
    static constexpr std::uint32_t kStepHz = 100;
    static constexpr std::uint32_t kHighestHz = 0xFFFFFF * kStepHz;

    std::uint32_t frequency_hz = 0;
    std::uint8_t data_rate = 0;

    constexpr bool valid() const noexcept {
        return frequency_hz % kStepHz == 0 && frequency_hz <= kHighestHz && data_rate <= 15;
    }
    friend constexpr bool operator==(const Carrier&, const Carrier&) = default;
};

}  // namespace trovik::lorawan::relay
