#pragma once
// What every document reader of this component shares: the check of a
// document's `$schema` against its kind and the one format this build reads,
// and the "did you mean" rewriting of an unknown key or variant.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace trovik::profile::format {

// The format number of every document kind this build reads and writes.
inline constexpr std::uint32_t format_number = 1;

// The identifiers our writers put under `$schema`; one host serves both kinds.
inline constexpr std::string_view profile_schema = "https://trovik.dev/schema/profile-1.json";
inline constexpr std::string_view rules_schema = "https://trovik.dev/schema/rules-1.json";

// Checks a document's `$schema` value (nothing when the document has none or
// gives null) against its kind ("profile", "rules"). Only the last path
// segment counts: "{kind}-{number}.json", the number read as an unsigned
// 32-bit decimal. `example` is the kind's identifier, quoted in the refusal.
std::expected<void, std::string> check_schema(std::optional<std::string_view> value, std::string_view kind,
                                              std::string_view example);

// Rewrites a reader's "unknown field `x`, expected ..." or "unknown variant
// `x`, expected ..." into "unknown field `x`, did you mean `y`?" (keeping its
// position part) when a known name lies near; returns any other text as it is.
std::string explain(std::string_view message);

// The Levenshtein distance between two texts, counted in characters.
std::size_t distance(std::string_view a, std::string_view b);

// The first of the nearest candidates within reach of `name`: one edit for
// names of up to three characters, two for longer ones.
std::optional<std::string_view> nearest(std::string_view name, std::span<const std::string_view> candidates);

}  // namespace trovik::profile::format
