// The channel list a join accept may end with.
#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding.hpp"
#include "security/args.hpp"
#include "trovik/core/text.hpp"
#include "trovik/lorawan/cflist.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan_link"};

namespace {

using lorawan::CfList;

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
