// The network's traffic: heard packets, relayed uplinks and the downlinks
// the owner asks for.
#include "trovik/gateway/network.hpp"
#include "trovik/lorawan/header.hpp"
#include "trovik/lorawan/relay/forward.hpp"

namespace trovik::gateway::network {
namespace {

using Kind = NetworkError::Kind;
using lorawan::LorawanError;
using lorawan::MType;

LorawanError message_type(std::span<const std::uint8_t> frame) {
    return LorawanError{LorawanError::Kind::MessageType, static_cast<std::uint8_t>(frame[0] & 0xE0)};
}

}  // namespace

std::expected<Event, NetworkError> Network::uplink(const udp::Rxpk& heard) {
    const auto* link = std::get_if<lora::LinkSettings>(&heard.modulation);
    if (!link) return std::unexpected(NetworkError::of(Kind::NotLora));
    const std::span<const std::uint8_t> frame = heard.payload;
    const auto header = lorawan::FrameHeader::parse(frame);
    if (!header) return std::unexpected(NetworkError::refused(header.error()));
    switch (header->message_type) {
        case MType::JoinRequest: {
            const auto accept_slot = slot(heard, *link, settings_.join_delay_us, true);
            if (!accept_slot) return std::unexpected(accept_slot.error());
            return admit_frame(frame, *accept_slot, std::nullopt);
        }
        case MType::UnconfirmedUp:
        case MType::ConfirmedUp: return data(heard, *link, frame, *header);
        default: return std::unexpected(NetworkError::refused(message_type(frame)));
    }
}

std::expected<Event, NetworkError> Network::data(const udp::Rxpk& heard, const lora::LinkSettings& link,
                                                 std::span<const std::uint8_t> frame,
                                                 const lorawan::FrameHeader& header) {
    // Where the answer goes is settled first: a frame at a rate the plan
    // does not know is refused as such, whoever sent it.
    const auto answer_slot = slot(heard, link, settings_.receive_delay_us);
    if (!answer_slot) return std::unexpected(answer_slot.error());
    const std::uint32_t dev_addr = *header.dev_addr;
    Admitted* device = find(dev_addr);
    if (!device) return Foreign{dev_addr};
    const auto fcnt = device->uplink_counter(*header.fcnt);
    if (!fcnt) return std::unexpected(fcnt.error());
    const auto rx = device->session.decode(frame, *fcnt);
    if (!rx) return std::unexpected(NetworkError::refused(rx.error()));
    device->last_fcnt = *fcnt;
    device->relay.reset();
    collect_notices(dev_addr, *rx);

    const auto payload = rx->payload();
    if (rx->fport == lorawan::relay::kRelayPort) return forwarded(dev_addr, payload, *answer_slot);
    return Data{std::vector<std::uint8_t>(payload.begin(), payload.end()),
                std::nullopt,
                *answer_slot,
                dev_addr,
                *fcnt,
                rx->fport,
                rx->confirmed};
}

void Network::collect_notices(std::uint32_t dev_addr, const lorawan::RxData& rx) {
    const auto run = rx.fport == 0 ? rx.payload() : rx.fopts();
    for (const auto& command : lorawan::MacCommands(run, lorawan::Direction::Uplink)) {
        // A command that cannot be read ends the run; what came before stays.
        if (!command) break;
        if (const auto* notify = command->get_if<lorawan::mac::NotifyNewEndDeviceReq>())
            notices_.push_back({dev_addr, notify->dev_addr, notify->rssi_dbm, notify->snr_db});
    }
}

std::expected<Event, NetworkError> Network::forwarded(std::uint32_t relay, std::span<const std::uint8_t> payload,
                                                      const Slot& slot) {
    const auto up = lorawan::relay::ForwardedUplink::parse(payload);
    if (!up) return std::unexpected(NetworkError::relay_refused(up.error()));
    const auto frame = up->phy_payload;
    const auto header = lorawan::FrameHeader::parse(frame);
    if (!header) return std::unexpected(NetworkError::relay_refused(header.error()));
    switch (header->message_type) {
        // The accept goes to the relay, wrapped, in the relay's own window.
        case MType::JoinRequest: return admit_frame(frame, slot, relay);
        case MType::UnconfirmedUp:
        case MType::ConfirmedUp: break;
        default: return std::unexpected(NetworkError::relay_refused(message_type(frame)));
    }
    const std::uint32_t dev_addr = *header->dev_addr;
    Admitted* device = find(dev_addr);
    if (!device) return Foreign{dev_addr};
    const auto fcnt = device->uplink_counter(*header->fcnt);
    if (!fcnt) return std::unexpected(fcnt.error());
    const auto rx = device->session.decode(frame, *fcnt);
    if (!rx) return std::unexpected(NetworkError::relay_refused(rx.error()));
    device->last_fcnt = *fcnt;
    device->relay = relay;
    const auto decrypted = rx->payload();
    return Data{std::vector<std::uint8_t>(decrypted.begin(), decrypted.end()),
                Relayed{relay, up->frequency_hz, up->rssi_dbm, up->snr_db, up->data_rate, up->wor_channel},
                slot,
                dev_addr,
                *fcnt,
                rx->fport,
                rx->confirmed};
}

std::expected<udp::Txpk, NetworkError> Network::answer(std::uint32_t dev_addr, const Slot& slot, std::uint8_t fport,
                                                       std::span<const std::uint8_t> payload) {
    Admitted* device = find(dev_addr);
    if (!device) return std::unexpected(NetworkError::for_address(Kind::NoSession, dev_addr));
    const lorawan::DownlinkFrame down{.payload = payload, .fcnt = device->fcnt_down, .fport = fport};
    const auto encoded = device->session.encode_downlink(down);
    if (!encoded) return std::unexpected(NetworkError::refused(encoded.error()));
    ++device->fcnt_down;
    const auto bytes = encoded->as_bytes();
    if (!device->relay) return downlink_record(slot, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    auto wrapped = wrap_for_relay(*device->relay, bytes);
    if (!wrapped) return std::unexpected(wrapped.error());
    return downlink_record(slot, std::move(*wrapped));
}

std::expected<udp::Txpk, NetworkError> Network::command(std::uint32_t dev_addr, const Slot& slot,
                                                        std::span<const lorawan::MacCommand> commands) {
    std::vector<std::uint8_t> written(commands.size() * lorawan::mac::UpdateUplinkListReq::size);
    const auto size = lorawan::encode_all(commands, written);
    if (!size) return std::unexpected(NetworkError::refused(size.error()));
    written.resize(*size);
    Admitted* device = find(dev_addr);
    if (!device) return std::unexpected(NetworkError::for_address(Kind::NoSession, dev_addr));
    lorawan::DownlinkFrame down{.fcnt = device->fcnt_down};
    if (written.size() <= lorawan::kMaxFOpts) {
        down.fopts = written;
    } else {
        down.payload = written;
        down.fport = 0;
    }
    const auto encoded = device->session.encode_downlink(down);
    if (!encoded) return std::unexpected(NetworkError::refused(encoded.error()));
    ++device->fcnt_down;
    const auto bytes = encoded->as_bytes();
    return downlink_record(slot, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::expected<lorawan::MacCommand, NetworkError> Network::trust_command(std::uint32_t dev_addr, std::uint8_t index,
                                                                        std::uint8_t reload_rate,
                                                                        std::uint8_t bucket_size) const {
    const Admitted* device = admitted(dev_addr);
    if (!device) return std::unexpected(NetworkError::for_address(Kind::NoSession, dev_addr));
    lorawan::mac::UpdateUplinkListReq trust;
    trust.index = index;
    trust.reload_rate = reload_rate;
    trust.bucket_size = bucket_size;
    trust.dev_addr = dev_addr;
    trust.wfcnt = 0;
    trust.root_wor_s_key = device->session.root_wor_s_key();
    return lorawan::MacCommand(trust);
}

}  // namespace trovik::gateway::network
