// Zenoh key expressions: two texts, split at the first newline. Canonising is
// idempotent and keeps validity; matching a key agrees with a plain
// backtracking matcher written here from the rules; inclusion and
// intersection hold the relations any two sets of keys have.
// libFuzzer options: -max_len=512
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support.hpp"
#include "trovik/zenoh/keyexpr.hpp"

namespace keyexpr = trovik::zenoh::keyexpr;

namespace {

std::vector<std::string_view> split(std::string_view text) {
    std::vector<std::string_view> out;
    for (std::size_t start = 0;;) {
        const auto slash = text.find('/', start);
        out.push_back(text.substr(start, slash == std::string_view::npos ? slash : slash - start));
        if (slash == std::string_view::npos) return out;
        start = slash + 1;
    }
}

bool verbatim(std::string_view chunk) { return !chunk.empty() && chunk.front() == '@'; }

// Whether `pattern`, where `$*` stands for any run of bytes, matches `text`:
// ok[j] says whether the pattern read so far matches the first j bytes.
bool glob(std::string_view pattern, std::string_view text) {
    std::vector<char> ok(text.size() + 1, 0);
    ok[0] = 1;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern.substr(i).starts_with("$*")) {
            for (std::size_t j = 1; j <= text.size(); ++j)
                ok[j] = ok[j] || ok[j - 1];
            ++i;
            continue;
        }
        for (std::size_t j = text.size(); j > 0; --j)
            ok[j] = ok[j - 1] && text[j - 1] == pattern[i];
        ok[0] = 0;
    }
    return ok[text.size()];
}

// The chunk-by-chunk matcher, memoised on (pattern chunk, key chunk).
class Reference {
public:
    Reference(std::string_view pattern, std::string_view key)
        : p_(split(pattern)), k_(split(key)), memo_((p_.size() + 1) * (k_.size() + 1), -1) {}

    bool matches() { return at(0, 0); }

private:
    bool at(std::size_t i, std::size_t j) {
        signed char& m = memo_[i * (k_.size() + 1) + j];
        if (m < 0) m = compute(i, j);
        return m;
    }
    bool compute(std::size_t i, std::size_t j) {
        if (i == p_.size()) return j == k_.size();
        if (p_[i] == "**") return at(i + 1, j) || (j < k_.size() && !verbatim(k_[j]) && at(i, j + 1));
        if (j == k_.size()) return false;
        bool chunk;
        if (verbatim(p_[i]) || verbatim(k_[j]))
            chunk = p_[i] == k_[j];
        else
            chunk = p_[i] == "*" || glob(p_[i], k_[j]);
        return chunk && at(i + 1, j + 1);
    }

    std::vector<std::string_view> p_, k_;
    std::vector<signed char> memo_;
};

// How a key stands in for each wildcard of an expression.
struct Filling {
    std::string_view any_depth;  // `**`: "" for no chunk
    std::string_view any;        // `*`
    std::string_view in_chunk;   // `$*`
};
constexpr Filling fillings[] = {{"", "x", "x"}, {"x", "yy", ""}, {"a/b", "a", "a"}, {"x/x/x", "b", "ba"}};

// A key the canonical expression selects, filling its wildcards so. Nothing
// when that is no key: empty, an empty chunk, a chunk made verbatim by the
// filling, or a verbatim chunk holding `$*` (which selects only its own text).
std::optional<std::string> instance(std::string_view canon, const Filling& filling) {
    std::string key;
    for (const auto chunk : split(canon)) {
        std::string piece;
        if (chunk == "**") {
            if (filling.any_depth.empty()) continue;
            piece = filling.any_depth;
        } else if (chunk == "*") {
            piece = filling.any;
        } else if (verbatim(chunk)) {
            piece = chunk;
        } else {
            for (std::size_t i = 0; i < chunk.size(); ++i) {
                if (chunk.substr(i).starts_with("$*")) {
                    piece += filling.in_chunk;
                    ++i;
                } else {
                    piece += chunk[i];
                }
            }
            if (piece.empty() || verbatim(piece)) return std::nullopt;
        }
        if (!key.empty()) key += '/';
        key += piece;
    }
    if (key.empty() || key.find('*') != std::string::npos) return std::nullopt;
    return key;
}

void check_one(std::string_view text) {
    const auto canon = keyexpr::canonize(text);
    FUZZ_CHECK(canon.has_value() == keyexpr::is_valid(text));
    if (!canon) return;
    FUZZ_CHECK(keyexpr::is_valid(*canon));
    FUZZ_CHECK(keyexpr::canonize(*canon) == canon);
    FUZZ_CHECK(keyexpr::is_canon(*canon));
    FUZZ_CHECK(keyexpr::is_canon(text) == (*canon == text));
    FUZZ_CHECK(keyexpr::includes(text, text));
    FUZZ_CHECK(keyexpr::includes(text, *canon) && keyexpr::includes(*canon, text));
    FUZZ_CHECK(keyexpr::intersects(text, text));
    for (const auto& filling : fillings) {
        if (const auto key = instance(*canon, filling)) {
            FUZZ_CHECK(keyexpr::matches(text, *key));
            FUZZ_CHECK(keyexpr::matches(*key, *key));
        }
    }
}

void check_pair(std::string_view a, std::string_view b) {
    const bool valid_key = keyexpr::is_valid(b) && b.find('*') == std::string_view::npos;
    FUZZ_CHECK(keyexpr::matches(a, b) == (keyexpr::is_valid(a) && valid_key && Reference(a, b).matches()));

    const bool includes = keyexpr::includes(a, b);
    const bool intersects = keyexpr::intersects(a, b);
    FUZZ_CHECK(intersects == keyexpr::intersects(b, a));
    if (includes) FUZZ_CHECK(intersects);
    // Keys b selects: a selects each when it includes b, and one it selects
    // is a key the two share.
    if (const auto canon_b = keyexpr::canonize(b)) {
        for (const auto& filling : fillings) {
            if (const auto key = instance(*canon_b, filling)) {
                const bool a_matches = keyexpr::matches(a, *key);
                if (includes) FUZZ_CHECK(a_matches);
                if (a_matches) FUZZ_CHECK(intersects);
            }
        }
    }
    std::string joined(a);
    joined += '/';
    joined += b;
    FUZZ_CHECK(keyexpr::join(a, b) == keyexpr::canonize(joined));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = trovik::fuzz::as_text({data, size});
    const auto newline = input.find('\n');
    const std::string_view a = input.substr(0, newline);
    const std::string_view b = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
    check_one(a);
    check_one(b);
    check_pair(a, b);
    check_pair(b, a);
    for (const auto chunk : split(a))
        (void)keyexpr::canon_chunk(chunk);
    return 0;
}
