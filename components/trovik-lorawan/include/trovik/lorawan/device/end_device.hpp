#pragma once
// A LoRaWAN Class A end device (LoRaWAN 1.0.3 or TS001-1.0.4) as a state
// machine with no I/O and no clock: every operation takes the caller's time
// in microseconds and returns what to put on the air and when to listen.
//
//     join (or send) -> Transmission: the frame, its channel and power, two
//                       receive windows timed from the end of the frame
//     heard          -> a frame caught in a window: joined, or a Delivery
//     nothing_heard  -> both windows closed empty: repeat, done, ...
//     repeat         -> the same frame once more, on a channel chosen afresh
//
// The device allocates nothing and its random choices come from one
// xorshift32 word seeded from the settings and the DevEUI or DevAddr, so
// equal inputs give equal behaviour.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <variant>

#include "trovik/lora/channel_plan.hpp"
#include "trovik/lora/link.hpp"
#include "trovik/lorawan/device/air.hpp"
#include "trovik/lorawan/device/answers.hpp"
#include "trovik/lorawan/device/backoff.hpp"
#include "trovik/lorawan/device/channels.hpp"
#include "trovik/lorawan/device/error.hpp"
#include "trovik/lorawan/device/relay.hpp"
#include "trovik/lorawan/device/state.hpp"
#include "trovik/lorawan/device/window.hpp"
#include "trovik/lorawan/frame.hpp"
#include "trovik/lorawan/join.hpp"
#include "trovik/lorawan/session.hpp"

namespace trovik::lorawan::device {

// What the radio can do and how the device takes part; fixed once made.
struct DeviceSettings {
    std::uint32_t lowest_hz = 137000000;  // no uplink channel outside this range is used
    std::uint32_t highest_hz = 1020000000;
    std::uint32_t crystal_ppm = 20;  // the relay timing's allowance for clock drift
    std::uint32_t seed = 0;
    std::int8_t min_output_dbm = 0;  // conducted, min <= max
    std::int8_t max_output_dbm = 0;
    std::int8_t antenna_gain_db = 0;  // less cable and connector losses
    bool version_1_0_4 = true;        // false: LoRaWAN 1.0.3
    bool adr = true;
    bool regional_duty_cycle = true;
    bool behind_repeater = false;
};

// What the device reports when a network asks for its status.
struct Battery {
    enum class Kind : std::uint8_t { Unknown, External, Level };
    Kind kind = Kind::Unknown;
    std::uint8_t level = 0;
};

// A channel the device may choose, with its number in the table it came from
// (a slot, or a join channel).
struct Candidate {
    std::uint16_t index = 0;
    std::uint32_t uplink_hz = 0;
    std::uint32_t downlink_hz = 0;
    std::uint8_t min_data_rate = 0;
    std::uint8_t max_data_rate = 0;
};

// At most 96 candidates are built for any choice.
struct CandidateList {
    std::array<Candidate, kMaxChannels> items{};
    std::size_t size = 0;
    bool full() const noexcept { return size >= items.size(); }
    void push(const Candidate& c) noexcept {
        if (!full()) items[size++] = c;
    }
    std::span<const Candidate> view() const noexcept { return {items.data(), size}; }
};

struct Transmission {
    PhyPayload frame;
    std::uint64_t airtime_us = 0;
    std::optional<RelayExchange> relay;  // the wake-on-radio exchange the frame goes out behind
    std::uint32_t frequency_hz = 0;
    std::uint8_t data_rate = 0;
    lora::LinkSettings link{7, 125000};  // preamble 8, explicit header, CRC on, standard IQ
    std::int8_t output_dbm = 0;          // conducted
    bool carries_payload = false;
    ReceiveWindow rx1;
    ReceiveWindow rx2;
};

// The exchange waiting on its receive windows.
struct Pending {
    enum class Kind : std::uint8_t { Idle, Join, Uplink };
    Kind kind = Kind::Idle;
    std::uint8_t data_rate = 0;
    // Join
    std::uint16_t dev_nonce = 0;
    std::uint16_t channel = 0;  // the join channel's number
    // Uplink
    std::uint8_t repeats_left = 0;
    bool confirmed = false;
    bool carries_payload = false;
    bool repeat_due = false;  // both windows closed empty and a repeat is owed
    PhyPayload frame;
    std::uint64_t repeat_not_before_us = 0;
    std::uint64_t rx2_at_us = 0;  // when the second window opened
    std::uint8_t rx1_data_rate = 0;
    std::uint8_t rx2_data_rate = 0;
    std::optional<std::uint8_t> relay_window_data_rate;
};

struct Delivery {
    std::optional<std::uint8_t> port;  // absent without FPort and for port 0
    std::array<std::uint8_t, kMaxPayload> payload_bytes{};
    std::size_t payload_len = 0;
    bool acknowledged = false;  // the pending confirmed uplink was acknowledged
    bool confirmed = false;     // the next uplink acknowledges this one by itself
    bool more_pending = false;
    std::optional<std::pair<std::uint8_t, std::uint8_t>> link_check;    // margin dB, gateways
    std::optional<std::pair<std::uint32_t, std::uint8_t>> device_time;  // GPS seconds, 1/256 s

    std::span<const std::uint8_t> payload() const noexcept { return {payload_bytes.data(), payload_len}; }
};

// What a frame heard in a window was: the DevAddr of the session a join
// accept granted, or a data downlink.
using Heard = std::variant<std::uint32_t, Delivery>;

// What to do once both windows closed empty.
struct Next {
    enum class Kind : std::uint8_t { Repeat, Done, Unacknowledged, JoinAgain };
    Kind kind = Kind::Done;
    std::optional<std::uint64_t> not_before_us;  // Repeat and JoinAgain
};

// Which receive window a frame was heard in.
enum class Window : std::uint8_t { First = 0, Second = 1, Relay = 2, Unnamed = 255 };

class EndDevice {
public:
    template <class T>
    using Result = std::expected<T, DeviceError>;

    // Over the air: not joined until a join accept is taken.
    static Result<EndDevice> make(const lora::ChannelPlan& plan, const Device& credentials,
                                  const DeviceSettings& settings);
    // Activated by personalization: joined from the start.
    static Result<EndDevice> personalized(const lora::ChannelPlan& plan, const Session& session,
                                          const DeviceSettings& settings);

    // ---- exchanges ----------------------------------------------------------
    Result<Transmission> join(std::uint16_t dev_nonce, std::uint64_t now_us);
    // Port 0 is refused as malformed: MAC commands are the device's own.
    Result<Transmission> send(std::uint8_t port, std::span<const std::uint8_t> payload, bool confirmed,
                              std::uint64_t now_us);
    Result<Transmission> send_empty(std::uint64_t now_us);
    Result<Transmission> repeat(std::uint64_t now_us);
    Result<Heard> heard(std::span<const std::uint8_t> frame, std::int8_t snr_db);
    Result<Heard> heard_in(std::uint8_t window, std::span<const std::uint8_t> frame, std::int8_t snr_db);
    Result<Heard> heard_frame(Window window, std::span<const std::uint8_t> frame, std::int8_t snr_db,
                              RelayState* relay_state);
    Result<Next> nothing_heard(std::uint64_t now_us);

    // ---- relay exchange ---------------------------------------------------------
    // The wake-on-radio exchange a frame on this carrier goes out behind; none
    // while the device does not relay or knows no relay channel.
    Result<std::optional<RelayExchange>> wor_exchange(std::uint32_t uplink_frequency_hz, std::uint8_t uplink_data_rate,
                                                      bool join, std::uint64_t now_us);
    // The relay's acknowledgment of the pending WOR frame: what it said about itself.
    Result<RelayStatus> heard_wor_ack(std::span<const std::uint8_t> frame);
    // The acknowledgment window closed empty: none to send the frame as the
    // exchange named, or a new exchange to wake the relay with first.
    Result<std::optional<RelayExchange>> no_wor_ack(std::uint64_t now_us);
    // The LoRa settings of a downlink data rate, as WOR frames and their
    // acknowledgments use them.
    static Result<lora::LinkSettings> wor_link(const lora::ChannelPlan& plan, std::uint8_t data_rate);

    // ---- saved state ----------------------------------------------------------
    // A joined, idle device's state, its busy times relative to `now_us`.
    Result<SavedBytes> save(std::uint64_t now_us) const;
    // Puts a saved state on this idle device, made the same way; times come
    // back relative to `now_us`. A refusal changes nothing.
    Result<void> resume(const Saved& saved, std::uint64_t now_us);

    // ---- building blocks ----------------------------------------------------
    Result<Candidate> pick(std::span<const Candidate> candidates, std::uint64_t now_us);
    Result<Candidate> pick_enabled(const Channels& table, std::uint8_t data_rate, std::uint64_t now_us);
    Result<lora::LinkSettings> uplink_link(std::uint8_t data_rate) const;
    std::int8_t output_dbm(std::uint32_t frequency_hz, std::uint8_t tx_power_index) const noexcept;
    void record_air(std::uint64_t start_us, std::uint64_t airtime_us, std::uint32_t frequency_hz) noexcept;
    std::uint64_t free_at(std::uint32_t frequency_hz) const noexcept;
    std::uint8_t lowest_data_rate() const noexcept;
    std::uint8_t lower(std::uint8_t data_rate, std::uint8_t floor) const noexcept;
    std::pair<std::uint32_t, std::uint32_t> frequency_span() const noexcept;
    void reset_mac() noexcept;
    // The uplink payload limits of a data rate in the table the device's
    // dwell time and path select; nothing where that table has no entry.
    std::optional<lora::MaxPayload> uplink_limit(std::uint8_t data_rate) const noexcept;
    // One xorshift32 step.
    std::uint32_t step_rng() noexcept;
    // One step, then 1 to 3 seconds in microseconds.
    std::uint64_t retry_delay_us() noexcept;
    // Applies the MAC commands of an accepted downlink; their answers go to
    // `answers`. An unknown or truncated command ends the processing there.
    void process_commands(std::span<const std::uint8_t> commands, std::int8_t snr_db, Delivery& delivery,
                          RelayState* relay_state) noexcept;

    // ---- the record ---------------------------------------------------------
    const lora::ChannelPlan* plan = nullptr;  // a published plan, which outlives the device
    std::optional<Device> credentials;
    std::optional<Session> session;
    DeviceSettings settings;
    std::uint32_t fcnt_up = 0;
    std::optional<std::uint32_t> fcnt_down;
    std::uint8_t data_rate = 0;
    std::uint8_t tx_power_index = 0;
    std::uint8_t transmissions = 1;  // NbTrans
    std::uint8_t rx1_dr_offset = 0;
    std::uint8_t rx2_data_rate = 0;
    std::uint32_t rx2_frequency_hz = 0;
    std::uint32_t receive_delay_us = 1000000;
    std::int8_t max_eirp_dbm = 0;
    std::uint8_t max_duty_cycle = 0;
    bool uplink_dwell_time = false;
    bool downlink_dwell_time = false;
    bool ack_owed = false;
    Battery battery;
    Channels channels;
    Air air;
    Backoff backoff;
    Answers answers;
    Pending pending;
    std::uint64_t not_before_us = 0;
    std::uint32_t join_attempts = 0;
    ChannelMask join_tried{};
    std::uint32_t join_turn = 0;
    bool joined_on_join_plan = false;
    std::uint16_t join_channel = 0;
    std::uint32_t rng = 1;
    DeviceRelay relay;

private:
    static Result<EndDevice> build(const lora::ChannelPlan& plan, const DeviceSettings& settings);
    struct JoinChoice;
    Result<JoinChoice> choose_join_channel(std::uint64_t now_us);
    Result<Transmission> uplink(std::optional<std::pair<std::uint8_t, std::span<const std::uint8_t>>> payload,
                                bool confirmed, std::uint64_t now_us);
    // The transmission record: windows, power and links. `join_rx2_hz` is
    // set for a join and names its second-window frequency. The relay
    // exchange, if any, is attached afterward.
    Result<Transmission> transmission(const PhyPayload& frame, std::uint64_t airtime_us, const Candidate& channel,
                                      std::uint8_t uplink_data_rate, std::uint8_t tx_power_index,
                                      std::optional<std::uint32_t> join_rx2_hz, bool carries_payload) const;
    Result<Heard> take_join_accept(Window window, std::span<const std::uint8_t> frame);
    Result<Heard> take_downlink(Window window, std::span<const std::uint8_t> frame, std::int8_t snr_db,
                                RelayState* relay_state);
    std::optional<std::size_t> sub_band_of(std::uint32_t frequency_hz) const noexcept;
    std::uint64_t busy_until(std::uint32_t frequency_hz) const noexcept;
};

}  // namespace trovik::lorawan::device
