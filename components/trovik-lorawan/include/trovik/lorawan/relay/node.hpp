#pragma once
// A LoRaWAN relay (TS011-1.0.1): an end device of its own that also listens
// for the end devices around it. One turn runs:
//
//     next_scan     -> when and on which WOR channel to run a channel-activity scan
//     heard_wor     -> a WOR frame that scan heard: maybe a WOR ACK to send and
//                      where to listen for the frame it announced
//     heard_uplink  -> that frame, wrapped for port 226 and held
//     forward       -> 50 ms later, the held frame in one of the relay's own uplinks
//     heard_in      -> what the relay's own device hears; a port-226 downlink is
//                      the network's answer for the end device, sent in its RXR window
//
// Like the end device it embeds, the relay does no I/O and reads no clock:
// the caller drives the radio and passes times in microseconds.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "trovik/lora/link.hpp"
#include "trovik/lorawan/device/end_device.hpp"
#include "trovik/lorawan/error.hpp"
#include "trovik/lorawan/relay/codes.hpp"
#include "trovik/lorawan/relay/forward.hpp"
#include "trovik/lorawan/relay/state.hpp"
#include "trovik/lorawan/relay/timing.hpp"

namespace trovik::lorawan::relay {

inline constexpr std::size_t kMaxForwardPayload = 262;  // the forwarded-uplink header and a whole frame

// Every refusal of a relay.
struct RelayError {
    enum class Kind : std::uint8_t {
        Device,  // the relay's own device refused
        Stopped,
        Busy,
        NotListening,
        NothingHeld,
        NothingAwaited,
        Frame,
        Carrier,
        Limited,
        Filtered,
        Foreign,
        Configuration,
    };

    Kind kind = Kind::Stopped;
    device::DeviceError device{};
    LorawanError frame{LorawanError::Kind::Malformed};
    relay::Carrier carrier{};

    static constexpr RelayError of(Kind kind) noexcept { return {kind, {}, {LorawanError::Kind::Malformed}, {}}; }
    static constexpr RelayError of_device(device::DeviceError e) noexcept {
        return {Kind::Device, e, {LorawanError::Kind::Malformed}, {}};
    }
    static constexpr RelayError of_frame(LorawanError e) noexcept { return {Kind::Frame, {}, e, {}}; }
    static constexpr RelayError of_frame(LorawanError::Kind k) noexcept { return of_frame(LorawanError{k}); }
    static constexpr RelayError of_carrier(relay::Carrier c) noexcept {
        return {Kind::Carrier, {}, {LorawanError::Kind::Malformed}, c};
    }

    // The snake_case name the Python layer gives the kind; "device" for a
    // refusal of the relay's own device, which is raised as the device's.
    std::string_view name() const noexcept;
    std::string display() const;
    friend constexpr bool operator==(const RelayError&, const RelayError&) = default;
};

// A channel-activity scan to run: heard with inverted IQ.
struct Scan {
    std::uint64_t start_us = 0;
    Carrier carrier;
    lora::LinkSettings link{7, 125000};
    std::uint16_t preamble_symbols = 0;  // the longest an end device sends on the channel
    WorChannel channel = WorChannel::Default;
};

// A WOR ACK to send, with inverted IQ.
struct Acknowledgment {
    std::array<std::uint8_t, 7> frame{};
    std::uint64_t start_us = 0;
    Carrier carrier;
    lora::LinkSettings link{7, 125000};
    std::uint64_t airtime_us = 0;
    std::int8_t output_dbm = 0;
};

// Where and when to listen for the frame a WOR frame announced (standard IQ).
struct Listen {
    std::uint64_t start_us = 0;
    Carrier carrier;
    lora::LinkSettings link{7, 125000};
    std::size_t max_len = 0;
};

struct Wake {
    enum class Kind : std::uint8_t { JoinRequest, Uplink, Notified };
    Kind kind = Kind::JoinRequest;
    std::optional<ForwardState> forward;    // uplink
    std::optional<std::uint32_t> dev_addr;  // uplink and notified
    std::optional<std::uint32_t> wfcnt;     // uplink
    std::optional<Acknowledgment> acknowledgment;
    std::optional<Listen> listen;
};

// A network answer for an end device, sent in its relay window RXR with
// inverted IQ and a payload CRC.
struct RxrDownlink {
    std::array<std::uint8_t, kMaxFrameSize> bytes{};
    std::size_t len = 0;
    std::uint64_t start_us = 0;
    Carrier carrier;
    lora::LinkSettings link{7, 125000};
    std::uint64_t airtime_us = 0;
    std::int8_t output_dbm = 0;

    std::span<const std::uint8_t> frame() const noexcept { return {bytes.data(), len}; }
};

// What a frame the relay's own device heard turned out to be.
struct RelayHeard {
    enum class Outcome : std::uint8_t { Device, Downlink, Undeliverable };
    device::Heard heard;
    Outcome outcome = Outcome::Device;
    std::optional<RxrDownlink> downlink;      // Downlink
    std::optional<RelayError> undeliverable;  // why, for Undeliverable
};

// A heard uplink wrapped for port 226, waiting to go out.
struct HeldForward {
    std::uint64_t ended_us = 0;
    std::uint32_t wor_frequency_hz = 0;
    std::uint8_t uplink_data_rate = 0;
    std::array<std::uint8_t, kMaxForwardPayload> payload{};
    std::size_t len = 0;
    std::uint64_t due_us = 0;
};

// A forwarded uplink whose network answer may still come.
struct AwaitedAnswer {
    std::uint64_t ended_us = 0;
    std::uint32_t wor_frequency_hz = 0;
    std::uint8_t uplink_data_rate = 0;
};

// The frame a WOR frame announced.
struct Listening {
    bool join_request = false;
    std::uint8_t slot = 0;
    std::uint32_t dev_addr = 0;
    Carrier carrier;
    std::size_t max_len = 0;
    std::uint32_t wor_frequency_hz = 0;
    WorChannel channel = WorChannel::Default;
};

class Relay {
public:
    template <class T>
    using Result = std::expected<T, RelayError>;

    Relay(device::EndDevice own, XtalAccuracy xtal_accuracy, CadToRx cad_to_rx) noexcept
        : device(std::move(own)), state(device::RelayState::fresh(xtal_accuracy, cad_to_rx)) {}

    // Starts scanning, or changes what a running relay scans from its next scan on.
    Result<void> start(const RelayConfig& config);
    // A held uplink still goes out, and its answer is still awaited.
    void stop() noexcept;
    // As an UpdateUplinkListReq with these fields; false for an index above 15.
    bool trust(std::uint8_t index, std::uint32_t dev_addr, const Key& root_wor_s_key, std::uint32_t next_wfcnt,
               std::uint8_t reload_rate, std::uint8_t bucket_size) noexcept;

    std::optional<Scan> next_scan(std::uint64_t now_us) noexcept;
    Result<Wake> heard_wor(const Scan& scan, std::span<const std::uint8_t> frame, std::int16_t rssi_dbm,
                           std::int8_t snr_db, std::uint64_t ended_us);
    // Returns when the held uplink is due.
    Result<std::uint64_t> heard_uplink(std::span<const std::uint8_t> frame, std::int16_t rssi_dbm, std::int8_t snr_db,
                                       std::uint64_t ended_us);
    void uplink_missed() noexcept { listening.reset(); }
    Result<device::Transmission> forward(std::uint64_t now_us);
    Result<RelayHeard> heard_in(device::Window window, std::span<const std::uint8_t> frame, std::int8_t snr_db);
    Result<device::Next> nothing_heard(std::uint64_t now_us);

    // ---- building blocks ----------------------------------------------------
    // A WOR frame from a device the relay does not trust: one NotifyNewEndDeviceReq
    // goes to the network with the relay's next uplink.
    Result<Wake> notify(std::uint32_t dev_addr, std::int16_t rssi_dbm, std::int8_t snr_db);
    // The longest end-device frame the relay can forward from `carrier` now.
    Result<std::size_t> forwardable_len(const Carrier& carrier) const;
    // The radio settings of an end device's uplink on `carrier`.
    Result<lora::LinkSettings> uplink_link(const Carrier& carrier) const;
    ForwardState forward_status(std::uint8_t slot, std::uint64_t now_us) const noexcept {
        return state.forward_status(slot, now_us);
    }

    device::EndDevice device;
    device::RelayState state;
    std::optional<HeldForward> held;
    std::optional<AwaitedAnswer> awaiting;
    std::optional<Listening> listening;

private:
    Result<Wake> heard_uplink_wor(const Scan& scan, std::span<const std::uint8_t> frame, const Carrier& ack,
                                  std::int16_t rssi_dbm, std::int8_t snr_db, std::uint64_t ended_us);
    Result<Wake> heard_join_wor(const Scan& scan, std::span<const std::uint8_t> frame, std::uint64_t ended_us);
};

}  // namespace trovik::lorawan::relay
