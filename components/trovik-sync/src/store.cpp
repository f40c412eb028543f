#include "trovik/sync/store.hpp"

#include <string_view>

#include "trovik/core/text.hpp"

namespace trovik::sync {

Text as_text(std::optional<core::Bytes> record) {
    if (!record) return std::optional<std::string>();
    std::string text(record->begin(), record->end());
    if (!core::text::is_valid_utf8(text)) return std::unexpected(core::Error::codec("the record is not UTF-8 text"));
    return std::optional<std::string>(std::move(text));
}

}  // namespace trovik::sync
