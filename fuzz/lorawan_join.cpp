// The join procedure: join requests and accepts read from the input as they
// are, and a grant made from the input's bytes, whose accept the device must
// read back to the grant's settings and session. Channel lists from the same
// bytes answer their per-channel and whole-list questions alike.
// libFuzzer options: -max_len=600
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/lorawan/cflist.hpp"
#include "trovik/lorawan/join.hpp"
#include "trovik/lorawan/network.hpp"

using namespace trovik::lorawan;

namespace {

const Device kDevice{{0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255},
                     {0, 1, 2, 3, 4, 5, 6, 7},
                     {8, 9, 10, 11, 12, 13, 14, 15}};

std::uint32_t u32(std::span<const std::uint8_t> b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= std::uint32_t{at + i < b.size() ? b[at + i] : std::uint8_t{0}} << (8 * i);
    return v;
}

void check_cflist(const CfList& list) {
    std::vector<std::uint32_t> listed(list.enabled_channels().begin(), list.enabled_channels().end());
    std::vector<std::uint32_t> asked;
    for (std::uint32_t c = 0; c < 256; ++c) {
        const auto on = list.enables(static_cast<std::uint8_t>(c));
        FUZZ_CHECK(on.has_value() == (list.type_byte() == 1 && c < 96));
        if (on && *on) asked.push_back(c);
    }
    FUZZ_CHECK(listed == asked);
    if (const auto hz = list.frequencies_hz()) {
        // Written back, the frequencies make the same list, when every one is in range.
        const auto again = CfList::from_frequencies(*hz);
        if (again) FUZZ_CHECK(again->frequencies_hz() == hz);
    }
    if (const auto groups = list.channel_mask_groups()) {
        FUZZ_CHECK(CfList::from_channel_masks(*groups).channel_mask_groups() == groups);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const std::uint16_t nonce = static_cast<std::uint16_t>(u32(input, 0));

    const auto request = JoinRequest::parse(input, kDevice.app_key);
    if (request) {
        // The MIC ties a request to the key, not to one device: whatever EUIs
        // a holder of the key writes, the request reads as theirs and is
        // built again from them.
        const Device sender{kDevice.app_key, request->dev_eui, request->app_eui};
        const auto again = sender.join_request(request->dev_nonce);
        FUZZ_CHECK(input[0] != 0 || std::ranges::equal(again.as_bytes(), input));
    }
    const auto accept = kDevice.accept_join(input, nonce);
    if (accept) FUZZ_CHECK(input.size() == kJoinAcceptSize || input.size() == kJoinAcceptWithListSize);
    if (size > kMaxFrameSize) FUZZ_CHECK(!request && !accept);

    if (size >= CfList::kSize) check_cflist(CfList(input.first<CfList::kSize>()));

    // A grant from the input's bytes: its accept reads back to the grant.
    JoinGrant grant{.app_nonce = u32(input, 2),
                    .net_id = u32(input, 6),
                    .dev_addr = u32(input, 10),
                    .cflist = std::nullopt,
                    .dl_settings = static_cast<std::uint8_t>(u32(input, 14)),
                    .rx_delay = static_cast<std::uint8_t>(u32(input, 15))};
    if (size >= 32) grant.cflist = CfList(input.subspan(16).first<CfList::kSize>());
    const auto frame = grant.accept(kDevice.app_key);
    const auto read = kDevice.accept_join(frame.as_bytes(), nonce);
    FUZZ_CHECK(read.has_value());
    FUZZ_CHECK(read->dev_addr == grant.dev_addr && read->net_id == (grant.net_id & 0xFFFFFF));
    FUZZ_CHECK(read->dl_settings == grant.dl_settings && read->rx_delay == grant.rx_delay);
    FUZZ_CHECK(read->cflist == grant.cflist);
    FUZZ_CHECK(read->session == grant.session(kDevice.app_key, nonce));
    return 0;
}
