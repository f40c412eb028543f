// The strict document reader and the pretty writer, over a record family that
// uses every kind of value the reader offers (strings, flags, 32-bit numbers,
// their null-or-value forms, arrays, nested records given as objects or
// arrays): whatever reads writes to text that reads back equal, the written
// text is a fixed point of the writer, and nlohmann-json takes both. Refusals
// are one message ending in the reader's position, but for nothing else. Any
// value skipped whole is read and refused as array() and map() would. The
// first line of the input is also checked as the `$schema` of every document
// kind, and the explainer rewrites only what it should.
// libFuzzer options: -max_len=4096
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "trovik/profile/document.hpp"
#include "trovik/profile/format.hpp"

using namespace trovik::profile;
using trovik::fuzz::as_text;

namespace {

struct Leaf {
    std::string text;
    bool flag = false;
    float number = 0;
    std::optional<std::string> note;
    std::optional<bool> choice;
    std::optional<float> level;

    bool operator==(const Leaf& o) const {
        // Numbers compare by bits: NaN never reads, and -0.0 must come back as -0.0.
        auto same = [](float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; };
        return text == o.text && flag == o.flag && same(number, o.number) && note == o.note && choice == o.choice &&
               level.has_value() == o.level.has_value() && (!level || same(*level, *o.level));
    }
};

struct Tree {
    std::string name;
    std::vector<Leaf> leaves;
    std::vector<Tree> children;
    bool operator==(const Tree&) const = default;
};

constexpr std::string_view leaf_keys[] = {"text", "flag", "number", "note", "choice", "level"};
constexpr bool leaf_required[] = {true, false, false, false, false, false};
constexpr std::string_view tree_keys[] = {"name", "leaves", "children"};
constexpr bool tree_required[] = {true, false, false};
constexpr document::RecordShape leaf_shape{"Leaf", leaf_keys, leaf_required};
constexpr document::RecordShape tree_shape{"Tree", tree_keys, tree_required};

bool read_leaf(document::Reader& in, Leaf& out) {
    return in.record(leaf_shape, [&](std::size_t field) {
        switch (field) {
            case 0: return in.string(out.text);
            case 1: return in.boolean(out.flag);
            case 2: return in.f32(out.number);
            case 3: return in.optional_string(out.note);
            case 4: return in.optional_boolean(out.choice);
            default: return in.optional_f32(out.level);
        }
    });
}

bool read_tree(document::Reader& in, Tree& out, int depth) {
    if (depth > 16) return in.refuse("too deep");
    return in.record(tree_shape, [&](std::size_t field) {
        switch (field) {
            case 0: return in.string(out.name);
            case 1: return in.array([&](std::size_t) { return read_leaf(in, out.leaves.emplace_back()); });
            default:
                return in.array([&](std::size_t) { return read_tree(in, out.children.emplace_back(), depth + 1); });
        }
    });
}

std::optional<Tree> read(std::string_view text, std::string* error = nullptr) {
    document::Reader in(text);
    Tree tree;
    if (read_tree(in, tree, 0) && in.finish()) return tree;
    if (error) *error = in.error();
    return std::nullopt;
}

void write_tree(document::Writer& out, const Tree& tree) {
    out.begin_object();
    out.key("name");
    out.string(tree.name);
    out.key("leaves");
    out.begin_array();
    for (const Leaf& leaf : tree.leaves) {
        out.begin_object();
        out.key("text");
        out.string(leaf.text);
        out.key("flag");
        out.boolean(leaf.flag);
        out.key("number");
        out.number(leaf.number);
        if (leaf.note) {
            out.key("note");
            out.string(*leaf.note);
        }
        if (leaf.choice) {
            out.key("choice");
            out.boolean(*leaf.choice);
        }
        if (leaf.level) {
            out.key("level");
            out.number(*leaf.level);
        }
        out.end_object();
    }
    out.end_array();
    out.key("children");
    out.begin_array();
    for (const Tree& child : tree.children)
        write_tree(out, child);
    out.end_array();
    out.end_object();
}

// Infinities write as null, which a number field refuses: keep them out of
// the round trip, as the documents' checks do.
bool finite(const Tree& tree) {
    for (const Leaf& leaf : tree.leaves)
        if (!std::isfinite(leaf.number) || (leaf.level && !std::isfinite(*leaf.level))) return false;
    for (const Tree& child : tree.children)
        if (!finite(child)) return false;
    return true;
}

// A value read through array() and map(), each member by this same walk: the
// steps that skip() takes without recursing, refusal for refusal.
bool skip_by_members(document::Reader& in) {
    std::vector<std::string> keys;
    const auto c = in.peek();
    if (c == '[') return in.array([&](std::size_t) { return skip_by_members(in); });
    if (c == '{') return in.map(keys, [&](std::size_t) { return skip_by_members(in); });
    return in.skip();
}

void check_skip(std::string_view text) {
    document::Reader walked(text);
    document::Reader skipped(text);
    const bool by_members = skip_by_members(walked) && walked.finish();
    const bool read = skipped.skip() && skipped.finish();
    FUZZ_CHECK(read == by_members);
    if (!read) {
        FUZZ_CHECK(skipped.error() == walked.error());
        return;
    }
    FUZZ_CHECK(nlohmann::json::accept(text));
}

void check_schema_of(std::string_view value) {
    for (const auto& [kind, example] : {std::pair{std::string_view("rules"), format::rules_schema},
                                        std::pair{std::string_view("profile"), format::profile_schema}}) {
        auto checked = format::check_schema(value, kind, example);
        const auto slash = value.rfind('/');
        const std::string_view segment = slash == std::string_view::npos ? value : value.substr(slash + 1);
        const std::string exact = std::string(kind) + "-1.json";
        if (segment == exact) FUZZ_CHECK(checked.has_value());
        if (!segment.starts_with(std::string(kind) + "-") || !segment.ends_with(".json"))
            FUZZ_CHECK(!checked.has_value() && checked.error().starts_with("`$schema` is `"));
        if (!checked.has_value() && checked.error().starts_with("this file"))
            FUZZ_CHECK(checked.error().starts_with("this file is written in " + std::string(kind) + " format "));
    }
    // The explainer rewrites only unknown fields and variants.
    const std::string explained = format::explain(value);
    if (!value.starts_with("unknown field `") && !value.starts_with("unknown variant `"))
        FUZZ_CHECK(explained == value);
    if (explained != value) FUZZ_CHECK(explained.find("`, did you mean `") != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = as_text({data, size});
    check_schema_of(text.substr(0, text.find('\n')));
    check_skip(text);

    std::string error;
    const auto tree = read(text, &error);
    if (!tree) {
        // Every refusal, the records' own included, says where reading stopped.
        FUZZ_CHECK(error.find(" at line ") != std::string::npos);
        return 0;
    }
    FUZZ_CHECK(nlohmann::json::accept(text));
    if (!finite(*tree)) return 0;

    document::Writer out;
    write_tree(out, *tree);
    const std::string written = std::move(out).take();
    FUZZ_CHECK(nlohmann::json::accept(written));
    const auto back = read(written);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == *tree);
    document::Writer again;
    write_tree(again, *back);
    FUZZ_CHECK(again.text() == written);
    return 0;
}
