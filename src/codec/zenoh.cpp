// Zenoh key expressions: validity, canonical form, joining and the relations
// zenoh selects and routes by.
#include <optional>
#include <string>
#include <string_view>

#include "binding/binding.hpp"
#include "trovik/zenoh/keyexpr.hpp"

namespace trovik::py {

const BindingSource this_source{"zenoh"};

namespace {

namespace keyexpr = zenoh::keyexpr;

const Function keyexpr_is_valid_fn{
    "keyexpr_is_valid", "Reports whether a key expression is well formed.", {"key"}, [](std::string_view key) {
        return keyexpr::is_valid(key);
    }};

const Function keyexpr_is_canon_fn{"keyexpr_is_canon",
                                   "Reports whether a key expression is already in its canonical form.",
                                   {"key"},
                                   [](std::string_view key) { return keyexpr::is_canon(key); }};

const Function keyexpr_canonize_fn{"keyexpr_canonize",
                                   "Rewrites a key expression into its canonical form, or `None` if it is\nmalformed.",
                                   {"key"},
                                   [](std::string_view key) { return keyexpr::canonize(key); }};

const Function keyexpr_join_fn{
    "keyexpr_join",
    "Joins two key expressions with a `/` and canonizes the result, or returns\n`None` if either side is empty or "
    "the joined expression is malformed.",
    {"prefix", "suffix"},
    [](std::string_view prefix, std::string_view suffix) { return keyexpr::join(prefix, suffix); }};

const Function keyexpr_matches_fn{
    "keyexpr_matches",
    "Reports whether a pattern selects a key. A chunk that starts with `@` is\nverbatim, and no wildcard selects it.",
    {"pattern", "key"},
    [](std::string_view pattern, std::string_view key) { return keyexpr::matches(pattern, key); }};

const Function keyexpr_intersects_fn{
    "keyexpr_intersects",
    "Reports whether two key expressions share at least one key, the relation\nZenoh routes by. `False` if either "
    "is malformed.",
    {"a", "b"},
    [](std::string_view a, std::string_view b) { return keyexpr::intersects(a, b); }};

const Function keyexpr_includes_fn{
    "keyexpr_includes",
    "Reports whether `a` selects every key `b` selects. `False` if either is\nmalformed.",
    {"a", "b"},
    [](std::string_view a, std::string_view b) { return keyexpr::includes(a, b); }};

}  // namespace
}  // namespace trovik::py
