// The MAC commands of an accepted downlink: what each does to the device,
// and the answer it owes the network with the next uplink. Answers to
// settings the network must know took hold (RXParamSetupReq, RXTimingSetupReq,
// TxParamSetupReq, DlChannelReq, EndDeviceConfReq) are repeated in every
// uplink until a downlink arrives; the others go out once.
#include <algorithm>
#include <array>

#include "trovik/lorawan/device/end_device.hpp"
#include "trovik/lorawan/relay/state.hpp"

namespace trovik::lorawan::device {

namespace {

constexpr std::uint32_t kLowestChannelHz = 100000000;
// A dynamic plan's network sets slots from the default channels up to 79.
constexpr std::size_t kSettableSlots = 80;
// A downlink holds at most 48 LinkADRReq; a block never needs more room.
constexpr std::size_t kMaxBlock = 64;
// The MaxEIRP codes of TxParamSetupReq, in dBm.
constexpr std::array<std::int8_t, 16> kMaxEirpDbm{8, 10, 12, 13, 14, 16, 18, 20, 21, 24, 26, 27, 29, 30, 33, 36};
// How far above the WOR channel a relay acknowledges, by EndDeviceConfReq code (TS011 table 35).
constexpr std::array<std::uint32_t, 6> kAckOffsetHz{0, 200000, 400000, 800000, 1600000, 3200000};

void queue(Answers& answers, const MacCommand& answer, AnswerKind kind) {
    std::array<std::uint8_t, Answers::kMaxEntryLen> buffer{};
    if (const auto size = answer.encode(buffer)) answers.push_encoded(std::span(buffer).first(*size), kind);
}

bool lora_downlink(const lora::ChannelPlan& plan, std::uint8_t data_rate) {
    const auto entry = plan.data_rate(data_rate, lora::Direction::Downlink);
    return entry && *entry && (*entry)->modulation == lora::DataRate::Modulation::Lora;
}

bool defined_uplink(const lora::ChannelPlan& plan, std::uint8_t data_rate) {
    const auto entry = plan.data_rate(data_rate, lora::Direction::Uplink);
    return entry && entry->has_value();
}

// Whether the device may listen or send on a frequency the network names.
bool usable(const DeviceSettings& settings, std::uint32_t hz) {
    return hz >= kLowestChannelHz && settings.lowest_hz <= hz && hz <= settings.highest_hz;
}

// The commands of one downlink, applied to one device in order.
class Processor {
public:
    Processor(EndDevice& device, std::int8_t snr_db, Delivery& delivery, RelayState* relay_state)
        : d_(device), plan_(*device.plan), snr_db_(snr_db), delivery_(delivery), relay_state_(relay_state) {}

    void run(std::span<const std::uint8_t> commands) {
        std::size_t at = 0;
        while (at < commands.size()) {
            const auto parsed = MacCommand::parse(Direction::Downlink, commands.subspan(at));
            if (!parsed) return;  // unknown or truncated: the rest is not read
            at += parsed->size;
            const auto* adr = parsed->command.get_if<mac::LinkAdrReq>();
            if (!adr) {
                handle(parsed->command);
                continue;
            }
            // A block: this request and every one following it directly.
            std::array<MaskRequest, kMaxBlock> pairs{};
            std::size_t n = 0;
            pairs[n++] = {adr->channel_mask, adr->mask_control};
            mac::LinkAdrReq last = *adr;
            bool ended = false;
            while (at < commands.size() && n < kMaxBlock) {
                const auto next = MacCommand::parse(Direction::Downlink, commands.subspan(at));
                if (!next) {
                    ended = true;
                    break;
                }
                const auto* more = next->command.get_if<mac::LinkAdrReq>();
                if (!more) break;  // read again by the outer loop
                at += next->size;
                pairs[n++] = {more->channel_mask, more->mask_control};
                last = *more;
            }
            link_adr(std::span(pairs).first(n), last);
            if (ended) return;
        }
    }

private:
    void once(const MacCommand& answer) { queue(d_.answers, answer, AnswerKind::Once); }
    void sticky(const MacCommand& answer) { queue(d_.answers, answer, AnswerKind::Sticky); }

    void link_adr(std::span<const MaskRequest> pairs, const mac::LinkAdrReq& last) {
        const bool v104 = d_.settings.version_1_0_4;
        const auto mask = d_.channels.mask_after(pairs, plan_.mask_controls);
        const ChannelMask candidate = mask ? *mask : d_.channels.enabled;

        const std::uint8_t data_rate = v104 && last.data_rate == 15 ? d_.data_rate : last.data_rate;
        const bool data_rate_ok = plan_.link_settings(data_rate).has_value() && d_.uplink_limit(data_rate) &&
                                  Channels::carries(d_.channels.slots, candidate, data_rate);

        std::uint8_t power = d_.tx_power_index;
        bool power_ok = true;
        if (!v104 || last.tx_power != 15) {
            power = last.tx_power;
            // The EIRP the index stands for, on the register's eight bits.
            const auto eirp = static_cast<std::int8_t>(
                static_cast<std::uint8_t>(d_.max_eirp_dbm - last.tx_power * plan_.tx_power_step_db));
            const int gain =
                plan_.power_reference.type == lora::PowerReference::Type::Conducted
                    ? std::max(0, d_.settings.antenna_gain_db - int{plan_.power_reference.gain_allowance_db})
                    : int{d_.settings.antenna_gain_db};
            power_ok = last.tx_power <= plan_.max_tx_power_index &&
                       static_cast<std::int16_t>(eirp - gain) >= d_.settings.min_output_dbm;
        }

        const std::uint8_t transmissions = last.transmissions == 0 ? 1 : last.transmissions;
        if (!v104 || d_.settings.adr) {
            // All or nothing.
            if (mask && data_rate_ok && power_ok) {
                d_.channels.enabled = *mask;
                d_.transmissions = transmissions;
                d_.data_rate = data_rate;
                d_.tx_power_index = power;
            }
        } else {
            // TS001-1.0.4 without ADR takes each part on its own.
            if (mask) {
                d_.channels.enabled = *mask;
                d_.transmissions = transmissions;
            }
            if (data_rate_ok) d_.data_rate = data_rate;
            if (power_ok) d_.tx_power_index = power;
        }

        const MacCommand answer{mac::LinkAdrAns{power_ok, data_rate_ok, mask.has_value()}};
        // 1.0.4 answers every request of the block, 1.0.3 the block once.
        const std::size_t answers = v104 ? pairs.size() : 1;
        for (std::size_t i = 0; i < answers; ++i)
            once(answer);
    }

    void handle(const MacCommand& command) {
        command.visit([&](const auto& c) { on(c); });
    }

    void on(const mac::LinkCheckAns& c) { delivery_.link_check = std::pair{c.margin, c.gateways}; }
    void on(const mac::DeviceTimeAns& c) { delivery_.device_time = std::pair{c.seconds, c.fraction}; }

    void on(const mac::DutyCycleReq& c) {
        d_.max_duty_cycle = c.max_duty_cycle & 0x0F;
        once(mac::DutyCycleAns{});
    }

    void on(const mac::RxParamSetupReq& c) {
        const bool channel_ok = usable(d_.settings, c.frequency_hz);
        const bool rx2_ok = lora_downlink(plan_, c.rx2_data_rate);
        const bool offset_ok = c.rx1_offset <= plan_.max_rx1_data_rate_offset;
        if (channel_ok && rx2_ok && offset_ok) {
            d_.rx1_dr_offset = c.rx1_offset;
            d_.rx2_data_rate = c.rx2_data_rate;
            d_.rx2_frequency_hz = c.frequency_hz;
        }
        sticky(mac::RxParamSetupAns{offset_ok, rx2_ok, channel_ok});
    }

    void on(const mac::DevStatusReq&) {
        std::uint8_t battery = 255;
        switch (d_.battery.kind) {
            case Battery::Kind::External: battery = 0; break;
            case Battery::Kind::Level: battery = std::clamp<std::uint8_t>(d_.battery.level, 1, 254); break;
            case Battery::Kind::Unknown: battery = 255; break;
        }
        const auto margin = static_cast<std::int8_t>(std::clamp<int>(snr_db_, -32, 31));
        once(mac::DevStatusAns{battery, margin});
    }

    void on(const mac::NewChannelReq& c) {
        if (plan_.kind.is_fixed()) return;
        const std::size_t i = c.index;
        const bool index_ok = d_.channels.default_count <= i && i < kSettableSlots;
        if (c.frequency_hz == 0) {
            if (index_ok) {
                d_.channels.slots[i] = {};
                mask_set(d_.channels.enabled, i, false);
            }
            once(mac::NewChannelAns{index_ok, index_ok});
            return;
        }
        if (!index_ok) {
            once(mac::NewChannelAns{false, false});
            return;
        }
        const bool frequency_ok = usable(d_.settings, c.frequency_hz);
        const bool range_ok = c.min_data_rate <= c.max_data_rate && defined_uplink(plan_, c.min_data_rate) &&
                              defined_uplink(plan_, c.max_data_rate);
        if (frequency_ok && range_ok) {
            d_.channels.slots[i] = {true, c.frequency_hz, c.frequency_hz, c.min_data_rate, c.max_data_rate};
            mask_set(d_.channels.enabled, i, true);
        }
        once(mac::NewChannelAns{range_ok, frequency_ok});
    }

    void on(const mac::RxTimingSetupReq& c) {
        d_.receive_delay_us = std::max(1u, c.delay & 0x0Fu) * 1000000u;
        sticky(mac::RxTimingSetupAns{});
    }

    void on(const mac::TxParamSetupReq& c) {
        if (!plan_.tx_param_setup) return;
        d_.max_eirp_dbm = kMaxEirpDbm[c.max_eirp & 0x0F];
        d_.uplink_dwell_time = c.uplink_dwell;
        d_.downlink_dwell_time = c.downlink_dwell;
        sticky(mac::TxParamSetupAns{});
    }

    void on(const mac::DlChannelReq& c) {
        if (plan_.kind.is_fixed()) return;
        const bool exists = c.index < kMaxChannels && d_.channels.slots[c.index].present;
        const bool frequency_ok = usable(d_.settings, c.frequency_hz);
        if (exists && frequency_ok) d_.channels.slots[c.index].downlink_hz = c.frequency_hz;
        sticky(mac::DlChannelAns{exists, frequency_ok});
    }

    void on(const mac::EndDeviceConfReq& c) {
        const auto activation = static_cast<std::uint8_t>(c.relay_mode & 3);
        const std::uint32_t hz = c.frequency_hz;
        std::optional<std::uint32_t> ack_hz;
        if (c.second_channel_index == 1 && c.second_channel_ack_offset < kAckOffsetHz.size()) {
            const std::uint64_t sum = std::uint64_t{hz} + kAckOffsetHz[c.second_channel_ack_offset];
            if (sum <= 0xFFFFFFFF) ack_hz = static_cast<std::uint32_t>(sum);
        }
        mac::EndDeviceConfAns answer{true, true, true, true};
        if (c.second_channel_index == 1 && activation != 0) {
            const bool data_rate_ok = lora_downlink(plan_, c.second_channel_data_rate);
            const bool offset_ok = ack_hz && usable(d_.settings, *ack_hz);
            const bool frequency_ok = usable(d_.settings, hz);
            if (data_rate_ok && offset_ok && frequency_ok)
                configure_relay(c, activation, lora::RelayChannel{hz, *ack_hz, c.second_channel_data_rate});
            else
                answer = {offset_ok, true, data_rate_ok, frequency_ok};
        } else if (c.second_channel_index >= 2 && activation != 0) {
            answer = {true, false, true, true};
        } else {
            configure_relay(c, activation, std::nullopt);
        }
        sticky(answer);
    }

    void configure_relay(const mac::EndDeviceConfReq& c, std::uint8_t activation,
                         std::optional<lora::RelayChannel> second_channel) {
        DeviceRelay& r = d_.relay;
        r.activation = static_cast<DeviceRelay::Activation>(activation);
        r.automatic_relaying = r.activation == DeviceRelay::Activation::DeviceControlled;
        r.smart_enable_level = c.smart_enable_level;
        r.back_off = c.back_off;
        r.second_channel = second_channel;
        switch (r.activation) {
            case DeviceRelay::Activation::Disabled:
                r.relaying = false;
                r.pending_wor.reset();
                break;
            case DeviceRelay::Activation::Enabled: r.relaying = true; break;
            case DeviceRelay::Activation::Dynamic: r.uplinks_unanswered = 0; break;
            case DeviceRelay::Activation::DeviceControlled: break;
        }
    }

    // The relay configuration requests belong to a relay node's state; a
    // plain end device ignores them.
    void relay_request(const MacCommand& request) {
        if (!relay_state_) return;
        if (const auto answer = relay_state_->command(d_, request)) once(*answer);
    }
    void on(const mac::RelayConfReq& c) { relay_request(c); }
    void on(const mac::FilterListReq& c) { relay_request(c); }
    void on(const mac::UpdateUplinkListReq& c) { relay_request(c); }
    void on(const mac::CtrlUplinkListReq& c) { relay_request(c); }
    void on(const mac::ConfigureFwdLimitReq& c) { relay_request(c); }

    // Uplink commands never come out of a downlink parse.
    template <class Uplink>
    void on(const Uplink&) {}

    EndDevice& d_;
    const lora::ChannelPlan& plan_;
    std::int8_t snr_db_;
    Delivery& delivery_;
    RelayState* relay_state_;
};

}  // namespace

void EndDevice::process_commands(std::span<const std::uint8_t> commands, std::int8_t snr_db, Delivery& delivery,
                                 RelayState* relay_state) noexcept {
    Processor(*this, snr_db, delivery, relay_state).run(commands);
}

}  // namespace trovik::lorawan::device
