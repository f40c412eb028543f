// The channel list a join accept may end with, and the ADR back-off count
// on its own.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding.hpp"
#include "lorawan/version.hpp"
#include "security/args.hpp"
#include "trovik/core/text.hpp"
#include "trovik/lorawan/cflist.hpp"
#include "trovik/lorawan/device/backoff.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan_link"};

namespace {

using lorawan::CfList;
using lorawan::device::Backoff;
using lorawan::device::BackoffStep;

const char* kind_of(const CfList& list) {
    switch (list.type_byte()) {
        case 0: return "frequencies";
        case 1: return "channel_masks";
        default: return "reserved";
    }
}

template <std::size_t N, class T>
std::vector<T> listed(const std::array<T, N>& values) {
    return {values.begin(), values.end()};
}

// ---- LorawanBackoff ---------------------------------------------------------------

const char* py_bool(bool v) { return v ? "True" : "False"; }
const char* version_text(const Backoff& b) { return b.version_1_0_4 ? "1.0.4" : "1.0.3"; }

Class<BackoffStep> backoff_step_class{
    "LorawanBackoffStep", "What a back-off says to do with one uplink.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.prop("request_ack", "Set the ADRACKReq bit, asking the network to answer.",
               [](const BackoffStep& s) { return s.request_ack; });
        c.prop("restore_power",
               "Go back to the default transmit power before sending. Only TS001-1.0.4 takes this step.",
               [](const BackoffStep& s) { return s.restore_power; });
        c.prop("lower_data_rate", "Step the data rate down by the region's back-off table before sending.",
               [](const BackoffStep& s) { return s.lower_data_rate; });
        c.prop("restore_channels",
               "Re-enable the default channels and set the repetition count back to one before sending. Only "
               "TS001-1.0.4 takes this step.",
               [](const BackoffStep& s) { return s.restore_channels; });
        c.repr([](const BackoffStep& s) {
            return std::string("LorawanBackoffStep(request_ack=") + py_bool(s.request_ack) +
                   ", restore_power=" + py_bool(s.restore_power) + ", lower_data_rate=" + py_bool(s.lower_data_rate) +
                   ", restore_channels=" + py_bool(s.restore_channels) + ")";
        });
    }};

Class<Backoff> backoff_class{
    "LorawanBackoff",
    "A device's count of how long the network has been silent.\n\n"
    "A network running adaptive data rate moves a device to the fastest rate and lowest power that still reach "
    "it. Once uplinks go unanswered, this says when to ask the network to answer and which of those settings to "
    "give back, a step at a time, as LoRaWAN 1.0.3 or TS001-1.0.4 describes.",
    [](auto& c) {
        c.init({arg("version").def("1.0.4"), arg("limit").def(64), arg("delay").def(32)},
               [](std::string_view version, std::uint32_t limit, std::uint32_t delay) {
                   Backoff b;
                   b.version_1_0_4 = lorawan_link::version(version);
                   b.limit = limit;
                   b.delay = std::max<std::uint32_t>(delay, 1);
                   return b;
               });
        c.def("uplink",
              "Counts an uplink sent since the last downlink and says what to do with it. "
              "`at_default_data_rate` is whether the device already sends at its slowest data rate.",
              {"at_default_data_rate"}, [](Backoff& b, bool at_default) { return make(b.uplink(at_default)); });
        c.def("downlink", "A downlink arrived: the count starts over.", [](Backoff& b) { b.downlink(); });
        c.prop("counter", "How many uplinks have gone unanswered.", [](const Backoff& b) { return b.adr_ack_cnt; });
        c.prop("version", "The revision whose steps this count follows, `1.0.3` or `1.0.4`.",
               [](const Backoff& b) { return std::string_view(version_text(b)); });
        c.repr([](const Backoff& b) {
            return std::string("LorawanBackoff(version=\"") + version_text(b) +
                   "\", counter=" + std::to_string(b.adr_ack_cnt) + ")";
        });
    }};

Class<CfList> cflist_class{
    "LorawanCfList", "The optional channel list at the end of a join accept.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.def_static("from_bytes", "Keeps a channel list exactly as it arrived, whatever its type byte says.", {"data"},
                     [](ByteView data) {
                         if (data.size() != CfList::kSize)
                             raise_trovik("a channel list is exactly 16 bytes, not " + std::to_string(data.size()));
                         return make(CfList(std::span<const std::uint8_t, CfList::kSize>(data.data(), CfList::kSize)));
                     });
        c.def_static("from_frequencies",
                     "A list of five extra frequencies in hertz, 0 for a slot left unused.\n\n"
                     "Each frequency is a whole number of hundreds of hertz from 100 MHz to\n"
                     "just under 1.678 GHz.",
                     {"frequencies_hz"}, [](std::vector<std::uint32_t> hz) {
                         if (hz.size() != CfList::kFrequencies)
                             raise_trovik("a channel list takes 5 frequencies, not " + std::to_string(hz.size()));
                         const auto list =
                             CfList::from_frequencies(std::span<const std::uint32_t, CfList::kFrequencies>(hz));
                         if (!list)
                             raise_trovik(
                                 "a channel list frequency is a whole number of hundreds of hertz from 100 MHz to "
                                 "just under 1.678 GHz");
                         return make(*list);
                     });
        c.def_static(
            "from_channel_masks",
            "A list of six 16-bit channel-mask groups; bit n of group g enables\n"
            "channel 16 * g + n.",
            {"masks"}, [](std::vector<std::uint16_t> masks) {
                if (masks.size() != CfList::kMaskGroups)
                    raise_trovik("a channel list takes 6 mask groups, not " + std::to_string(masks.size()));
                return make(CfList::from_channel_masks(std::span<const std::uint16_t, CfList::kMaskGroups>(masks)));
            });
        c.prop("bytes", "The sixteen bytes, as a join accept carries them.",
               [](const CfList& l) { return bytes_of(l.bytes()); });
        c.prop("kind", "\"frequencies\", \"channel_masks\" or \"reserved\", from the type byte.",
               [](const CfList& l) { return kind_of(l); });
        c.prop("type_byte", "The CFListType byte the list ends with.", [](const CfList& l) { return l.type_byte(); });
        c.def("frequencies_hz", "The five frequencies in hertz (0 for an unused slot), or None unless type 0.",
              [](const CfList& l) -> std::optional<std::vector<std::uint32_t>> {
                  if (const auto hz = l.frequencies_hz()) return listed(*hz);
                  return std::nullopt;
              });
        c.def("channel_mask_groups", "The six channel-mask groups, or None unless type 1.",
              [](const CfList& l) -> std::optional<std::vector<std::uint16_t>> {
                  if (const auto groups = l.channel_mask_groups()) return listed(*groups);
                  return std::nullopt;
              });
        c.def("enables", "Whether the list enables a channel; None unless type 1 and channel 0 to 95.", {"channel"},
              [](const CfList& l, std::uint32_t channel) -> std::optional<bool> {
                  if (channel > 0xFF) return std::nullopt;
                  return l.enables(static_cast<std::uint8_t>(channel));
              });
        c.def("enabled_channels", "The channels a type 1 list enables, lowest first; empty for other types.",
              [](const CfList& l) {
                  const auto channels = l.enabled_channels();
                  return std::vector<std::uint32_t>(channels.begin(), channels.end());
              });
        c.repr([](const CfList& l) {
            return "LorawanCfList.from_bytes(bytes.fromhex(\"" + core::text::hex_bytes(l.bytes()) + "\"))";
        });
        c.eq([](const CfList& a, const CfList& b) { return a == b; });
    }};

}  // namespace
}  // namespace trovik::py
