// The relay wire formats from Python: wake-on-radio frames and their
// acknowledgements, forwarded uplinks, and the timing of relay scans.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding.hpp"
#include "lora/region.hpp"
#include "lorawan/keys.hpp"
#include "lorawan/relay_names.hpp"
#include "security/args.hpp"
#include "trovik/core/text.hpp"
#include "trovik/lorawan/relay/ack.hpp"
#include "trovik/lorawan/relay/forward.hpp"
#include "trovik/lorawan/relay/timing.hpp"
#include "trovik/lorawan/relay/wor.hpp"
#include "trovik/lorawan/session.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan_relay"};

namespace relay = lorawan::relay;

namespace {

// One code table: the names in code order, what they name, and the list of
// choices a refusal gives.
template <class Code, std::size_t N>
struct NameTable {
    std::array<std::string_view, N> names;
    const char* what;

    std::string_view out(Code code) const noexcept {
        const auto i = static_cast<std::size_t>(code);
        return i < N ? names[i] : names[N - 1];
    }
    Code in(std::string_view name) const {
        for (std::size_t i = 0; i < N; ++i)
            if (names[i] == name) return static_cast<Code>(i);
        std::string message(name);
        message += " is not ";
        message += what;
        message += "; expected ";
        for (std::size_t i = 0; i < N; ++i) {
            if (i > 0) message += i + 1 == N ? " or " : ", ";
            message += names[i];
        }
        raise_trovik(message);
    }
};

constexpr NameTable<relay::CadPeriodicity, 6> kPeriodicities{{"ms1000", "ms500", "ms250", "ms100", "ms50", "ms20"},
                                                             "a scan periodicity"};
constexpr NameTable<relay::CadToRx, 4> kCadToRx{{"symbols2", "symbols4", "symbols6", "symbols8"}, "a CAD to RX time"};
constexpr NameTable<relay::XtalAccuracy, 4> kXtal{{"ppm10", "ppm20", "ppm30", "ppm40"}, "a crystal accuracy"};
constexpr NameTable<relay::ForwardState, 4> kForward{
    {"available", "retry_in_30_minutes", "retry_in_60_minutes", "disabled"}, "a forwarding state"};
constexpr NameTable<relay::WorChannel, 2> kChannels{{"default", "second"}, "a WOR channel"};

}  // namespace

std::string_view cad_periodicity_out(relay::CadPeriodicity code) noexcept { return kPeriodicities.out(code); }
std::string_view receive_out(relay::CadToRx code) noexcept { return kCadToRx.out(code); }
std::string_view xtal_out(relay::XtalAccuracy code) noexcept { return kXtal.out(code); }
std::string_view forward_out(relay::ForwardState code) noexcept { return kForward.out(code); }
std::string_view channel_out(relay::WorChannel code) noexcept { return kChannels.out(code); }
relay::CadPeriodicity periodicity_in(std::string_view name) { return kPeriodicities.in(name); }
relay::CadToRx receive_in(std::string_view name) { return kCadToRx.in(name); }
relay::XtalAccuracy xtal_in(std::string_view name) { return kXtal.in(name); }
relay::ForwardState forward_in(std::string_view name) { return kForward.in(name); }
relay::WorChannel channel_in(std::string_view name) { return kChannels.in(name); }

namespace {

using lorawan::WorKeys;
using relay::Carrier;
using relay::StateSync;

// Names are plain ASCII: quoted, they read "name".
std::string quoted(std::string_view name) { return core::text::debug_quoted(name); }

// What a Python `LorawanUplinkMetadata` holds: its channel already checked.
struct UplinkMetadataValue {
    relay::WorChannel wor_channel = relay::WorChannel::Default;
    std::int16_t rssi_dbm = 0;
    std::int8_t snr_db = 0;
    std::uint8_t data_rate = 0;
};

// A forwarded uplink that owns its frame, as Python keeps it.
struct ForwardedUplinkValue {
    UplinkMetadataValue metadata;
    std::uint32_t frequency_hz = 0;
    std::vector<std::uint8_t> phy_payload;
};

// ---- value classes -------------------------------------------------------------------------------

Class<Carrier> carrier_class{
    "LorawanCarrier", "Where a frame goes and how fast.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.init({"frequency_hz", "data_rate"}, [](std::uint32_t frequency_hz, std::uint8_t data_rate) {
            return Carrier{frequency_hz, data_rate};
        });
        c.prop("frequency_hz", "The frequency in hertz.", [](const Carrier& k) { return k.frequency_hz; });
        c.prop("data_rate", "The region's data-rate number.", [](const Carrier& k) { return k.data_rate; });
        c.repr([](const Carrier& k) {
            return "LorawanCarrier(frequency_hz=" + std::to_string(k.frequency_hz) +
                   ", data_rate=" + std::to_string(k.data_rate) + ")";
        });
        c.eq([](const Carrier& a, const Carrier& b) { return a == b; });
    }};

Class<StateSync> state_sync_class{
    "LorawanStateSync", "What a relay tells an end device about itself in a WOR ACK, TS011-1.0.1 table 14.",
    [](auto& c) {
        c.no_borrow();  // a plain value
        c.init({"cad_to_rx", "forward", "relay_data_rate", "xtal_accuracy", "cad_periodicity", "t_offset_ms"},
               [](std::string_view cad_to_rx, std::string_view forward, std::uint8_t relay_data_rate,
                  std::string_view xtal_accuracy, std::string_view cad_periodicity, std::uint16_t t_offset_ms) {
                   StateSync s;
                   s.cad_to_rx = receive_in(cad_to_rx);
                   s.forward = forward_in(forward);
                   s.xtal_accuracy = xtal_in(xtal_accuracy);
                   s.cad_periodicity = periodicity_in(cad_periodicity);
                   s.relay_data_rate = relay_data_rate;
                   s.t_offset_ms = t_offset_ms;
                   return s;
               });
        c.prop("cad_to_rx", "How long the relay listens after channel activity, \"symbols2\" to \"symbols8\".",
               [](const StateSync& s) { return receive_out(s.cad_to_rx); });
        c.prop("forward", "Whether the relay forwards, or when to try again.",
               [](const StateSync& s) { return forward_out(s.forward); });
        c.prop("relay_data_rate", "The data rate the relay scans at.",
               [](const StateSync& s) { return s.relay_data_rate; });
        c.prop("xtal_accuracy", "The accuracy of the relay's crystal, \"ppm10\" to \"ppm40\".",
               [](const StateSync& s) { return xtal_out(s.xtal_accuracy); });
        c.prop("cad_periodicity", "How often the relay scans, \"ms1000\" to \"ms20\".",
               [](const StateSync& s) { return cad_periodicity_out(s.cad_periodicity); });
        c.prop("t_offset_ms", "Milliseconds from the relay's scan to the end of the WOR preamble.",
               [](const StateSync& s) { return s.t_offset_ms; });
        c.repr([](const StateSync& s) {
            return "LorawanStateSync(cad_to_rx=" + quoted(receive_out(s.cad_to_rx)) +
                   ", forward=" + quoted(forward_out(s.forward)) +
                   ", relay_data_rate=" + std::to_string(s.relay_data_rate) +
                   ", xtal_accuracy=" + quoted(xtal_out(s.xtal_accuracy)) +
                   ", cad_periodicity=" + quoted(cad_periodicity_out(s.cad_periodicity)) +
                   ", t_offset_ms=" + std::to_string(s.t_offset_ms) + ")";
        });
        c.eq([](const StateSync& a, const StateSync& b) { return a == b; });
    }};

Class<UplinkMetadataValue> metadata_class{
    "LorawanUplinkMetadata", "What a relay heard of an uplink it forwards.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.init({"wor_channel", "rssi_dbm", "snr_db", "data_rate"},
               [](std::string_view wor_channel, std::int16_t rssi_dbm, std::int8_t snr_db, std::uint8_t data_rate) {
                   return UplinkMetadataValue{channel_in(wor_channel), rssi_dbm, snr_db, data_rate};
               });
        c.prop("wor_channel", "The relay's WOR channel the device woke it on, \"default\" or \"second\".",
               [](const UplinkMetadataValue& m) { return channel_out(m.wor_channel); });
        c.prop("rssi_dbm", "The uplink's signal strength at the relay, in dBm.",
               [](const UplinkMetadataValue& m) { return m.rssi_dbm; });
        c.prop("snr_db", "The uplink's signal to noise ratio at the relay, in dB.",
               [](const UplinkMetadataValue& m) { return m.snr_db; });
        c.prop("data_rate", "The data rate the uplink arrived at.",
               [](const UplinkMetadataValue& m) { return m.data_rate; });
        c.repr([](const UplinkMetadataValue& m) {
            return "LorawanUplinkMetadata(wor_channel=" + quoted(channel_out(m.wor_channel)) +
                   ", rssi_dbm=" + std::to_string(m.rssi_dbm) + ", snr_db=" + std::to_string(m.snr_db) +
                   ", data_rate=" + std::to_string(m.data_rate) + ")";
        });
    }};

Class<relay::Wor> wor_class{
    "LorawanWor", "A wake-on-radio frame, as a relay reads it.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.prop("kind", "\"join_request\" or \"uplink\".", [](const relay::Wor& w) {
            return std::holds_alternative<relay::JoinRequestWor>(w.frame) ? "join_request" : "uplink";
        });
        c.prop("uplink", "Where the join request follows, or None for an uplink WOR, whose carrier is sealed.",
               [](const relay::Wor& w) -> PyObject* {
                   if (const auto* join = std::get_if<relay::JoinRequestWor>(&w.frame)) return make(join->uplink);
                   return none();
               });
        c.prop("dev_addr", "The device address of an uplink WOR, else None.",
               [](const relay::Wor& w) -> std::optional<std::uint32_t> {
                   if (const auto* sealed = std::get_if<relay::SealedWor>(&w.frame)) return sealed->dev_addr;
                   return std::nullopt;
               });
        c.prop("wfcnt", "The low 16 bits of an uplink WOR's frame counter, else None.",
               [](const relay::Wor& w) -> std::optional<std::uint16_t> {
                   if (const auto* sealed = std::get_if<relay::SealedWor>(&w.frame)) return sealed->wfcnt;
                   return std::nullopt;
               });
    }};

Class<ForwardedUplinkValue> forwarded_class{
    "LorawanForwardedUplink", "An end device's uplink as a relay forwards it on port 226.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.prop("metadata", "What the relay heard of the uplink.",
               [](const ForwardedUplinkValue& f) { return make(f.metadata); });
        c.prop("frequency_hz", "The frequency the uplink arrived on, in hertz.",
               [](const ForwardedUplinkValue& f) { return f.frequency_hz; });
        c.prop("phy_payload", "The end device's frame, unchanged.",
               [](const ForwardedUplinkValue& f) { return to_py(f.phy_payload); });
    }};

Class<relay::Synchronization> synchronization_class{
    "LorawanSynchronization", "What an end device knows of a relay's scans once a WOR ACK has arrived.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.prop("reference_us", "A moment the relay started a scan, in the device's clock.",
               [](const relay::Synchronization& s) { return s.reference_us; });
        c.prop("cad_periodicity", "How often the relay scans.",
               [](const relay::Synchronization& s) { return cad_periodicity_out(s.cad_periodicity); });
        c.prop("relay_xtal", "The accuracy of the relay's crystal.",
               [](const relay::Synchronization& s) { return xtal_out(s.relay_xtal); });
        c.prop("cad_to_rx", "How long the relay listens after channel activity.",
               [](const relay::Synchronization& s) { return receive_out(s.cad_to_rx); });
    }};

Class<relay::WorSlot> wor_slot_class{"LorawanWorSlot", "When a synchronized end device's next WOR frame goes out.",
                                     [](auto& c) {
                                         c.no_borrow();  // a plain value
                                         c.prop("start_us", "When the WOR frame starts, in the device's clock.",
                                                [](const relay::WorSlot& s) { return s.start_us; });
                                         c.prop("preamble_symbols", "The preamble length to send, in symbols.",
                                                [](const relay::WorSlot& s) { return s.preamble_symbols; });
                                     }};

// ---- keys ------------------------------------------------------------------------------------------

const Function root_key_fn{
    "lorawan_relay_root_wor_s_key",
    "The root key of a device's relayed frames (RootWorSKey), from its network\n"
    "session key.",
    {"network_key"},
    [](ByteView network_key) { return bytes_of(lorawan::root_wor_s_key(key_arg(network_key, "network_key"))); }};

const Function wor_keys_fn{"lorawan_relay_wor_keys",
                           "The WOR integrity and encryption keys of one device, from its root key.",
                           {"root_key", "dev_addr"},
                           [](ByteView root_key, std::uint32_t dev_addr) {
                               return make(WorKeys::derive(key_arg(root_key, "root_key"), dev_addr));
                           }};

// ---- WOR frames ------------------------------------------------------------------------------------

const Function wor_join_request_fn{
    "lorawan_relay_wor_join_request",
    "The WOR frame an end device sends ahead of a join request; `uplink` is\n"
    "where the join request follows.",
    {"uplink"},
    [](In<Carrier> uplink) { return bytes_of(unwrap(relay::wor_join_request(*uplink))); }};

const Function wor_uplink_fn{
    "lorawan_relay_wor_uplink",
    "The WOR frame an end device sends ahead of an uplink, its carrier sealed.\n\n"
    "`wfcnt` is the full 32-bit WOR frame counter; `uplink` is where the uplink\n"
    "follows, `wor` where this frame goes.",
    {"keys", "dev_addr", "wfcnt", "uplink", "wor"},
    [](In<WorKeys> keys, std::uint32_t dev_addr, std::uint32_t wfcnt, In<Carrier> uplink, In<Carrier> wor) {
        return bytes_of(unwrap(relay::wor_uplink(*keys, dev_addr, wfcnt, *uplink, *wor)));
    }};

const Function wor_parse_fn{
    "lorawan_relay_wor_parse", "Reads a WOR frame, leaving an uplink's carrier sealed.", {"frame"}, [](ByteView frame) {
        return make(unwrap(relay::Wor::parse(frame)));
    }};

const Function wor_open_fn{"lorawan_relay_wor_open",
                           "Checks an uplink WOR and opens the carrier its uplink follows on.\n\n"
                           "`wfcnt` is the full WOR frame counter expected; `wor` is the carrier the\n"
                           "frame was heard on.",
                           {"frame", "keys", "wfcnt", "wor"},
                           [](ByteView frame, In<WorKeys> keys, std::uint32_t wfcnt, In<Carrier> wor) {
                               const relay::Wor read = unwrap(relay::Wor::parse(frame));
                               const auto* sealed = std::get_if<relay::SealedWor>(&read.frame);
                               if (!sealed) raise_trovik("a join request WOR carries nothing sealed");
                               return make(unwrap(sealed->open(*keys, wfcnt, *wor)));
                           }};

// ---- WOR ACK ---------------------------------------------------------------------------------------

const Function wor_ack_fn{"lorawan_relay_wor_ack",
                          "The acknowledgement a relay answers an uplink WOR with.\n\n"
                          "`ack` is where the acknowledgement goes, `uplink` where the device's uplink\n"
                          "follows.",
                          {"keys", "dev_addr", "wfcnt", "ack", "uplink", "state"},
                          [](In<WorKeys> keys, std::uint32_t dev_addr, std::uint32_t wfcnt, In<Carrier> ack,
                             In<Carrier> uplink, In<StateSync> state) {
                              return bytes_of(unwrap(relay::wor_ack(*keys, dev_addr, wfcnt, *ack, *uplink, *state)));
                          }};

const Function wor_ack_open_fn{
    "lorawan_relay_wor_ack_open",
    "Checks a WOR acknowledgement and reads the relay's state out of it.",
    {"frame", "keys", "dev_addr", "wfcnt", "ack", "uplink"},
    [](ByteView frame, In<WorKeys> keys, std::uint32_t dev_addr, std::uint32_t wfcnt, In<Carrier> ack,
       In<Carrier> uplink) { return make(unwrap(relay::open_wor_ack(frame, *keys, dev_addr, wfcnt, *ack, *uplink))); }};

// ---- forwarded uplinks -------------------------------------------------------------------------------

const Function forward_parse_fn{
    "lorawan_relay_forward_parse",
    "Reads the payload of a relay's uplink on port 226.",
    {"payload"},
    [](ByteView payload) {
        const auto up = unwrap(relay::ForwardedUplink::parse(payload));
        return make(ForwardedUplinkValue{UplinkMetadataValue{up.wor_channel, up.rssi_dbm, up.snr_db, up.data_rate},
                                         up.frequency_hz,
                                         {up.phy_payload.begin(), up.phy_payload.end()}});
    }};

const Function forward_encode_fn{
    "lorawan_relay_forward_encode",
    "Builds the payload a relay forwards an uplink in, on port 226.\n\n"
    "Signal levels outside what the payload carries are written as the nearest\n"
    "one it does.",
    {"metadata", "frequency_hz", "phy_payload"},
    [](In<UplinkMetadataValue> metadata, std::uint32_t frequency_hz, ByteView phy_payload) {
        const relay::ForwardedUplink up{.data_rate = metadata->data_rate,
                                        .snr_db = metadata->snr_db,
                                        .rssi_dbm = metadata->rssi_dbm,
                                        .wor_channel = metadata->wor_channel,
                                        .frequency_hz = frequency_hz,
                                        .phy_payload = phy_payload};
        std::vector<std::uint8_t> out(relay::kForwardOverhead + phy_payload.size());
        out.resize(unwrap(up.encode(out)));
        return to_py(out);
    }};

// ---- timing ------------------------------------------------------------------------------------------

const Function unsynchronized_preamble_fn{
    "lorawan_relay_unsynchronized_preamble",
    "The preamble, in symbols, of a WOR frame sent without knowing when the relay\n"
    "scans: long enough to span a whole scan period.",
    {"cad_periodicity", "symbol_us", "cad_to_rx"},
    [](std::string_view cad_periodicity, std::uint64_t symbol_us, std::string_view cad_to_rx) {
        const auto periodicity = periodicity_in(cad_periodicity);
        return relay::unsynchronized_preamble(periodicity, symbol_us, receive_in(cad_to_rx));
    }};

const Function t_offset_fn{"lorawan_relay_t_offset_ms",
                           "The milliseconds from a relay's scan to the end of a WOR preamble, rounded\n"
                           "up; None when the preamble ended first or more than 2047 ms later.",
                           {"scan_start_us", "preamble_end_us"},
                           [](std::uint64_t scan_start_us, std::uint64_t preamble_end_us) {
                               return relay::t_offset_ms(scan_start_us, preamble_end_us);
                           }};

const Function synchronization_fn{
    "lorawan_relay_synchronization",
    "What a device learns of a relay's scans from a WOR ACK, its WOR having\n"
    "started at `wor_start_us` with `preamble_symbols` of `symbol_us` each.",
    {"wor_start_us", "preamble_symbols", "symbol_us", "state"},
    [](std::uint64_t wor_start_us, std::uint16_t preamble_symbols, std::uint64_t symbol_us, In<StateSync> state) {
        return make(relay::Synchronization::after_ack(wor_start_us, preamble_symbols, symbol_us, *state));
    }};

const Function next_wor_fn{
    "lorawan_relay_next_wor",
    "When the next WOR frame goes out to meet a scan, and its preamble; None once\n"
    "the crystals may have drifted more than a scan period.\n\n"
    "`other_channel` is true when the WOR goes out on the relay's other WOR\n"
    "channel than the one the synchronization was taken on.",
    {"synchronization", "now_us", "device_xtal_ppm", "symbol_us", arg("other_channel").def(false)},
    [](In<relay::Synchronization> synchronization, std::uint64_t now_us, std::uint32_t device_xtal_ppm,
       std::uint64_t symbol_us, bool other_channel) -> PyObject* {
        const auto slot = synchronization->next_wor(now_us, device_xtal_ppm, symbol_us, other_channel);
        if (!slot) return none();
        return make(*slot);
    }};

const Function second_channel_fn{"lorawan_relay_second_channel",
                                 "The second relay channel a configuration describes, or None when it has none.",
                                 {"second_channel_index", "data_rate", "ack_offset", "frequency_hz"},
                                 [](std::uint8_t second_channel_index, std::uint8_t data_rate, std::uint8_t ack_offset,
                                    std::uint32_t frequency_hz) -> PyObject* {
                                     const auto channel = relay::second_channel(second_channel_index, data_rate,
                                                                                ack_offset, frequency_hz);
                                     if (!channel) return none();
                                     return make(LoraRelayChannelValue{*channel});
                                 }};

}  // namespace
}  // namespace trovik::py
