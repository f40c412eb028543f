// The device record, its construction and the building blocks every
// exchange uses: channel choice, power, busy times, receive windows, the
// random generator.
#include <algorithm>
#include <bit>

#include "device_join_channels.hpp"
#include "trovik/lorawan/device/end_device.hpp"

namespace trovik::lorawan::device {

namespace {

constexpr std::uint32_t kLowestChannelHz = 100000000;
constexpr std::uint32_t kJoinRx1DelayUs = 5000000;
constexpr std::uint32_t kJoinRx2DelayUs = 6000000;
constexpr std::uint32_t kNeverZero = 0x2545F491;

std::uint32_t rotl13(std::uint32_t x) { return std::rotl(x, 13); }

std::uint32_t le32(const Eui& eui, std::size_t at) {
    return std::uint32_t{eui[at]} | std::uint32_t{eui[at + 1]} << 8 | std::uint32_t{eui[at + 2]} << 16 |
           std::uint32_t{eui[at + 3]} << 24;
}

// The radio settings of a downlink data rate, received without payload CRC;
// nothing unless it is LoRa.
std::optional<lora::LinkSettings> downlink_link(const lora::ChannelPlan& plan, std::uint8_t data_rate) {
    const auto entry = plan.data_rate(data_rate, lora::Direction::Downlink);
    if (!entry || !*entry) return std::nullopt;
    auto link = (*entry)->link_settings();
    if (link) link->crc = false;
    return link;
}

}  // namespace

EndDevice::Result<EndDevice> EndDevice::build(const lora::ChannelPlan& plan, const DeviceSettings& settings) {
    std::uint32_t join_count = 0;
    for_each_join_block(plan,
                        [&](const lora::ChannelBlock& block, const lora::JoinPlan*) { join_count += block.count; });
    if (join_count > kMaxChannels || plan.default_channel_count() > kMaxChannels)
        return std::unexpected(DeviceError::of(DeviceError::Kind::TooManyChannels, kMaxChannels));
    EndDevice d;
    d.plan = &plan;
    d.settings = settings;
    d.channels = Channels::from_plan(plan);
    d.rx2_data_rate = plan.rx2_data_rate;
    d.rx2_frequency_hz = plan.rx2_frequency_hz;
    d.max_eirp_dbm = plan.default_max_eirp_dbm;
    d.uplink_dwell_time = plan.tx_param_setup;
    d.backoff.version_1_0_4 = settings.version_1_0_4;
    return d;
}

EndDevice::Result<EndDevice> EndDevice::make(const lora::ChannelPlan& plan, const Device& credentials,
                                             const DeviceSettings& settings) {
    auto d = build(plan, settings);
    if (!d) return d;
    d->credentials = credentials;
    const std::uint32_t s0 = settings.seed ^ 0x9E3779B9;
    const std::uint32_t mixed = rotl13(rotl13(s0) ^ le32(credentials.dev_eui, 0)) ^ le32(credentials.dev_eui, 4);
    d->rng = mixed == 0 ? kNeverZero : mixed;
    return d;
}

EndDevice::Result<EndDevice> EndDevice::personalized(const lora::ChannelPlan& plan, const Session& session,
                                                     const DeviceSettings& settings) {
    auto d = build(plan, settings);
    if (!d) return d;
    d->session = session;
    d->data_rate = d->lowest_data_rate();
    const std::uint32_t mixed = rotl13(rotl13(settings.seed ^ 0x9E3779B9) ^ session.dev_addr);
    d->rng = mixed == 0 ? kNeverZero : mixed;
    return d;
}

std::uint32_t EndDevice::step_rng() noexcept {
    std::uint32_t x = rng;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    rng = x;
    return x;
}

std::uint64_t EndDevice::retry_delay_us() noexcept { return 1000000 + step_rng() % 2000001; }

std::optional<lora::MaxPayload> EndDevice::uplink_limit(std::uint8_t dr) const noexcept {
    if (uplink_dwell_time && plan->has_dwell_time_limit) return plan->max_payload(lora::PayloadTable::DwellLimited, dr);
    return plan->max_payload(
        settings.behind_repeater ? lora::PayloadTable::UplinkRepeater : lora::PayloadTable::UplinkDirect, dr);
}

EndDevice::Result<lora::LinkSettings> EndDevice::uplink_link(std::uint8_t dr) const {
    if (const auto link = plan->link_settings(dr)) return *link;
    return std::unexpected(DeviceError::data_rate(dr));
}

std::uint8_t EndDevice::lowest_data_rate() const noexcept {
    for (std::uint8_t d = 0; d < 16; ++d) {
        // Only the first enabled slot carrying d is asked about it.
        for (std::size_t i = 0; i < kMaxChannels; ++i) {
            if (!mask_has(channels.enabled, i) || !channels.slots[i].carries(d)) continue;
            if (plan->link_settings(d) && uplink_limit(d)) return d;
            break;
        }
    }
    return 0;
}

std::uint8_t EndDevice::lower(std::uint8_t dr, std::uint8_t floor) const noexcept {
    std::uint8_t at = dr;
    // A chain longer than the table would be a loop; stop rather than spin.
    for (std::size_t steps = 0; steps <= plan->backoff.size(); ++steps) {
        const auto next = plan->next_backoff_data_rate(at);
        if (!next) return dr;
        if (*next <= floor) return floor;
        if (plan->link_settings(*next) && uplink_limit(*next)) return *next;
        at = *next;
    }
    return dr;
}

std::optional<std::size_t> EndDevice::sub_band_of(std::uint32_t hz) const noexcept {
    const std::size_t n = std::min(plan->sub_bands.size(), Air::kSubBands);
    for (std::size_t i = 0; i < n; ++i)
        if (plan->sub_bands[i].contains(hz)) return i;
    return std::nullopt;
}

std::uint64_t EndDevice::busy_until(std::uint32_t hz) const noexcept {
    if (!settings.regional_duty_cycle) return air.aggregate_busy_until_us;
    const auto band = sub_band_of(hz);
    return band ? std::max(air.aggregate_busy_until_us, air.busy_until_us[*band]) : air.aggregate_busy_until_us;
}

std::uint64_t EndDevice::free_at(std::uint32_t hz) const noexcept { return busy_until(hz); }

void EndDevice::record_air(std::uint64_t start_us, std::uint64_t airtime_us, std::uint32_t hz) noexcept {
    const std::uint64_t end = saturating_add(start_us, airtime_us);
    const auto owed = [](std::uint64_t a, unsigned __int128 factor, std::uint64_t divisor) {
        const unsigned __int128 off = static_cast<unsigned __int128>(a) * factor / divisor;
        return off > ~std::uint64_t{0} ? ~std::uint64_t{0} : static_cast<std::uint64_t>(off);
    };
    if (settings.regional_duty_cycle) {
        if (const auto band = sub_band_of(hz)) {
            const std::uint32_t p = plan->sub_bands[*band].duty_cycle_permille;
            if (p >= 1 && p <= 999) {
                auto& busy = air.busy_until_us[*band];
                busy = std::max(busy, saturating_add(end, owed(airtime_us, 1000 - p, p)));
            }
        }
    }
    if (max_duty_cycle > 0) {
        const unsigned shift = std::min<unsigned>(max_duty_cycle, 15);
        air.aggregate_busy_until_us =
            std::max(air.aggregate_busy_until_us, saturating_add(end, owed(airtime_us, (1u << shift) - 1, 1)));
    }
}

EndDevice::Result<Candidate> EndDevice::pick(std::span<const Candidate> candidates, std::uint64_t now_us) {
    if (candidates.size() > kMaxChannels) candidates = candidates.first(kMaxChannels);
    std::array<std::size_t, kMaxChannels> free{};
    std::size_t k = 0;
    std::uint64_t earliest = ~std::uint64_t{0};
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::uint64_t busy = busy_until(candidates[i].uplink_hz);
        if (now_us >= busy)
            free[k++] = i;
        else
            earliest = std::min(earliest, busy);
    }
    if (k == 0) {
        if (candidates.empty()) return std::unexpected(DeviceError::of(DeviceError::Kind::NoChannel));
        return std::unexpected(DeviceError::wait(earliest));
    }
    return candidates[free[step_rng() % k]];
}

EndDevice::Result<Candidate> EndDevice::pick_enabled(const Channels& table, std::uint8_t dr, std::uint64_t now_us) {
    CandidateList list;
    for (std::size_t i = 0; i < kMaxChannels && !list.full(); ++i) {
        const ChannelSlot& slot = table.slots[i];
        if (!mask_has(table.enabled, i) || !slot.carries(dr)) continue;
        if (slot.uplink_hz < kLowestChannelHz || slot.uplink_hz < settings.lowest_hz ||
            slot.uplink_hz > settings.highest_hz)
            continue;
        list.push(
            {static_cast<std::uint16_t>(i), slot.uplink_hz, slot.downlink_hz, slot.min_data_rate, slot.max_data_rate});
    }
    return pick(list.view(), now_us);
}

std::int8_t EndDevice::output_dbm(std::uint32_t hz, std::uint8_t index) const noexcept {
    std::int8_t eirp = std::min(max_eirp_dbm, plan->max_eirp_dbm(hz));
    if (index <= plan->max_tx_power_index) {
        // Eight-bit wrapping, as the radio register would hold it.
        const auto stepped =
            static_cast<std::int8_t>(static_cast<std::uint8_t>(max_eirp_dbm - index * plan->tx_power_step_db));
        eirp = std::min(eirp, stepped);
    }
    const int gain = plan->power_reference.type == lora::PowerReference::Type::Conducted
                         ? std::max(0, settings.antenna_gain_db - int{plan->power_reference.gain_allowance_db})
                         : int{settings.antenna_gain_db};
    const auto conducted = static_cast<std::int16_t>(eirp - gain);
    return static_cast<std::int8_t>(
        std::clamp<std::int16_t>(conducted, settings.min_output_dbm, settings.max_output_dbm));
}

std::pair<std::uint32_t, std::uint32_t> EndDevice::frequency_span() const noexcept {
    std::uint32_t low = std::min(rx2_frequency_hz, plan->rx2_frequency_hz);
    std::uint32_t high = std::max(rx2_frequency_hz, plan->rx2_frequency_hz);
    const auto take = [&](std::uint32_t hz) {
        low = std::min(low, hz);
        high = std::max(high, hz);
    };
    for (std::size_t i = 0; i < kMaxChannels; ++i) {
        if (!mask_has(channels.enabled, i) || !channels.slots[i].present) continue;
        take(channels.slots[i].uplink_hz);
        take(channels.slots[i].downlink_hz);
    }
    for_each_join_channel(*plan, [&](const JoinChannel& c) {
        take(c.uplink_hz);
        take(c.downlink_hz);
    });
    return {low, high};
}

void EndDevice::reset_mac() noexcept {
    channels = Channels::from_plan(*plan);
    rx2_frequency_hz = plan->rx2_frequency_hz;
    rx2_data_rate = plan->rx2_data_rate;
    tx_power_index = 0;
    transmissions = 1;
    rx1_dr_offset = 0;
    receive_delay_us = 1000000;
    max_eirp_dbm = plan->default_max_eirp_dbm;
    uplink_dwell_time = plan->tx_param_setup;
    downlink_dwell_time = false;
    max_duty_cycle = 0;
    answers.clear();
    backoff = Backoff{};
    backoff.version_1_0_4 = settings.version_1_0_4;
    ack_owed = false;
}

EndDevice::Result<Transmission> EndDevice::transmission(const PhyPayload& frame, std::uint64_t airtime_us,
                                                        const Candidate& channel, std::uint8_t uplink_dr,
                                                        std::uint8_t power_index,
                                                        std::optional<std::uint32_t> join_rx2_hz,
                                                        bool carries_payload) const {
    const bool join = join_rx2_hz.has_value();
    const std::uint8_t offset = join ? 0 : rx1_dr_offset;
    const std::uint32_t delay1 = join ? kJoinRx1DelayUs : receive_delay_us;
    const std::uint32_t delay2 =
        join ? kJoinRx2DelayUs : (receive_delay_us > 0xFFFFFFFFu - 1000000 ? 0xFFFFFFFFu : receive_delay_us + 1000000);
    const std::uint32_t rx2_hz = join ? *join_rx2_hz : rx2_frequency_hz;
    const std::uint8_t rx2_dr = join ? plan->rx2_data_rate : rx2_data_rate;

    if (offset > plan->max_rx1_data_rate_offset) return std::unexpected(DeviceError::data_rate(uplink_dr));
    std::optional<std::uint8_t> rx1_dr;
    if (downlink_dwell_time && plan->rx1_rows_dwell_limited && uplink_dr < plan->rx1_rows_dwell_limited->size() &&
        offset < (*plan->rx1_rows_dwell_limited)[uplink_dr].size())
        rx1_dr = (*plan->rx1_rows_dwell_limited)[uplink_dr][offset];
    else if (uplink_dr < plan->rx1_rows.size() && offset < plan->rx1_rows[uplink_dr].size())
        rx1_dr = plan->rx1_rows[uplink_dr][offset];
    if (!rx1_dr) return std::unexpected(DeviceError::data_rate(uplink_dr));

    const auto up_link = uplink_link(uplink_dr);
    if (!up_link) return std::unexpected(up_link.error());
    const auto rx1_link = downlink_link(*plan, *rx1_dr);
    if (!rx1_link) return std::unexpected(DeviceError::data_rate(*rx1_dr));
    const auto rx2_link = downlink_link(*plan, rx2_dr);
    if (!rx2_link) return std::unexpected(DeviceError::data_rate(rx2_dr));

    Transmission t;
    t.frame = frame;
    t.airtime_us = airtime_us;
    t.frequency_hz = channel.uplink_hz;
    t.data_rate = uplink_dr;
    t.link = *up_link;
    t.output_dbm = output_dbm(channel.uplink_hz, power_index);
    t.carries_payload = carries_payload;
    t.rx1 = {delay1, channel.downlink_hz, *rx1_dr, *rx1_link};
    t.rx2 = {delay2, rx2_hz, rx2_dr, *rx2_link};
    return t;
}

}  // namespace trovik::lorawan::device
