#pragma once
// Every refusal of an end device. A refused operation leaves the device as it
// was, except where the operation says otherwise.
#include <cstdint>
#include <string>
#include <string_view>

#include "trovik/lorawan/error.hpp"

namespace trovik::lorawan::device {

// Why a saved device state was not resumed.
struct StateError {
    enum class Kind : std::uint8_t { Length, Corrupt, Format, Plan };
    Kind kind = Kind::Length;
    std::uint8_t format = 0;  // Format: the format byte the state carried

    std::string_view name() const noexcept;
    std::string display() const;
    friend constexpr bool operator==(const StateError&, const StateError&) = default;
};

struct DeviceError {
    enum class Kind : std::uint8_t {
        TooManyChannels,  // value: the most channels a device keeps
        NoCredentials,
        NotJoined,
        Busy,
        NothingPending,
        Wait,  // value: the earliest time, µs on the caller's clock
        NoChannel,
        DataRate,        // value: the data-rate number
        PayloadTooLong,  // value: how many bytes do fit
        CounterExhausted,
        Frame,  // `frame`
        Foreign,
        Replayed,
        CounterGap,
        Refused,
        State,  // `state`
    };

    Kind kind = Kind::Busy;
    std::uint64_t value = 0;
    LorawanError frame{LorawanError::Kind::Malformed};
    StateError state{};

    static constexpr DeviceError of(Kind kind, std::uint64_t value = 0) noexcept { return {kind, value, {}, {}}; }
    static constexpr DeviceError wait(std::uint64_t until_us) noexcept { return of(Kind::Wait, until_us); }
    static constexpr DeviceError data_rate(std::uint8_t data_rate) noexcept { return of(Kind::DataRate, data_rate); }
    static constexpr DeviceError of_frame(LorawanError error) noexcept { return {Kind::Frame, 0, error, {}}; }

    // The snake_case name the Python layer gives the kind.
    std::string_view name() const noexcept;
    std::string display() const;
    friend constexpr bool operator==(const DeviceError&, const DeviceError&) = default;
};

}  // namespace trovik::lorawan::device
