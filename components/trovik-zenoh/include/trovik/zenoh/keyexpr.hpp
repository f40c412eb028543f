#pragma once
// Zenoh key expressions: `/`-separated chunks where `*` stands for one chunk,
// `**` for any number of chunks (none included) and `$*` for any run of
// bytes inside a chunk. A chunk that begins with `@` is verbatim: it equals
// only the same text and no wildcard stands for it.
//
// Every operation works on the UTF-8 bytes of borrowed texts, keeps no state
// and never fails loudly: a malformed input gives false or nothing.
#include <optional>
#include <string>
#include <string_view>

namespace trovik::zenoh::keyexpr {

// Whether `key` is well formed: non-empty, no empty chunk, and every chunk is
// `*`, `**`, or free of `#` and `?` with `*` only directly after `$` (and `$`
// only directly before `*`).
bool is_valid(std::string_view key) noexcept;

// The canonical form of one chunk: runs of `$*$*` collapse to `$*`, and a
// chunk that is nothing but `$*` becomes `*`.
std::string canon_chunk(std::string_view chunk);

// The canonical form of `key`, or nothing when it is not well formed: every
// chunk canonical, and each run of `*`/`**` chunks written as its `*` chunks
// followed by a single `**` when the run held any.
std::optional<std::string> canonize(std::string_view key);

// Whether `key` is well formed and already equal to its canonical form.
bool is_canon(std::string_view key);

// The canonical form of `prefix`, `/`, `suffix`, or nothing when that text is
// not well formed (an empty side included).
std::optional<std::string> join(std::string_view prefix, std::string_view suffix);

// Whether `pattern` selects `key`. The key must be well formed and hold no
// wildcard (no `*` byte at all); otherwise the answer is false.
bool matches(std::string_view pattern, std::string_view key);

// Whether every key `b` selects is selected by `a` too. False if either side
// is malformed.
bool includes(std::string_view a, std::string_view b);

// Whether some key is selected by both `a` and `b`, the relation routing uses.
// False if either side is malformed.
bool intersects(std::string_view a, std::string_view b);

}  // namespace trovik::zenoh::keyexpr
