#include "trovik/mavlink/dialect.hpp"

#include <algorithm>

#include "trovik/mavlink/frame.hpp"

namespace trovik::mavlink {

std::expected<void, MavlinkError> Dialect::add(std::uint32_t msgid, std::uint8_t crc_extra) {
    if (auto checked = check_message_id(msgid); !checked) return checked;
    auto it = std::ranges::find(entries_, msgid, &Entry::msgid);
    if (it != entries_.end())
        it->crc_extra = crc_extra;
    else
        entries_.push_back({msgid, crc_extra});
    return {};
}

std::optional<std::uint8_t> Dialect::resolve(std::uint32_t msgid) const noexcept {
    auto it = std::ranges::find(entries_, msgid, &Entry::msgid);
    if (it != entries_.end()) return it->crc_extra;
    return known_crc_extra(msgid);
}

}  // namespace trovik::mavlink
