#include "trovik/zenoh/keyexpr.hpp"

#include <cstdint>
#include <utility>
#include <vector>

namespace trovik::zenoh::keyexpr {
namespace {

constexpr std::string_view kAny = "*";
constexpr std::string_view kAnyDepth = "**";
constexpr std::string_view kInChunkAny = "$*";

bool is_verbatim(std::string_view chunk) noexcept { return !chunk.empty() && chunk.front() == '@'; }

bool is_wild_chunk(std::string_view chunk) noexcept { return chunk == kAny || chunk == kAnyDepth; }

bool is_valid_chunk(std::string_view chunk) noexcept {
    if (chunk.empty()) return false;
    if (is_wild_chunk(chunk)) return true;
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        const auto byte = static_cast<unsigned char>(chunk[i]);
        if (byte > '?') continue;
        if (byte == '$') {
            if (i + 1 < chunk.size() && chunk[i + 1] == '*') {
                ++i;
                continue;
            }
            return false;
        }
        if (byte == '#' || byte == '*' || byte == '?') return false;
    }
    return true;
}

// Splits at every `/`; the pieces borrow from `key`.
std::vector<std::string_view> split_chunks(std::string_view key) {
    std::vector<std::string_view> chunks;
    std::size_t start = 0;
    while (true) {
        const auto slash = key.find('/', start);
        if (slash == std::string_view::npos) {
            chunks.push_back(key.substr(start));
            return chunks;
        }
        chunks.push_back(key.substr(start, slash - start));
        start = slash + 1;
    }
}

// Whether the single chunk `x` selects every text the chunk `y` selects.
bool chunk_includes(std::string_view x, std::string_view y) {
    if (y == kAnyDepth) return false;
    if (x == y) return true;
    if (is_verbatim(x) || is_verbatim(y)) return false;
    if (x == kAny) return true;
    if (y == kAny) return false;
    if (x.find(kInChunkAny) == std::string_view::npos) return false;

    // x is p0 $* p1 $* ... $* pn. The pieces hold neither `$` nor `*`, so they
    // can only ever line up with literal bytes of y, and the first place each
    // middle piece fits is never worse than a later one.
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const auto at = x.find(kInChunkAny, start);
        if (at == std::string_view::npos) {
            pieces.push_back(x.substr(start));
            break;
        }
        pieces.push_back(x.substr(start, at - start));
        start = at + kInChunkAny.size();
    }
    const auto first = pieces.front();
    const auto last = pieces.back();
    if (!y.starts_with(first)) return false;
    const auto rest = y.substr(first.size());
    if (rest.size() < last.size() || !rest.ends_with(last)) return false;
    const auto middle = rest.substr(0, rest.size() - last.size());
    std::size_t from = 0;
    for (std::size_t k = 1; k + 1 < pieces.size(); ++k) {
        if (pieces[k].empty()) continue;
        const auto found = middle.find(pieces[k], from);
        if (found == std::string_view::npos) return false;
        from = found + pieces[k].size();
    }
    return true;
}

// A chunk read as tokens: `$*` is one wildcard, every other byte a literal.
constexpr int kWildToken = -1;

std::vector<int> chunk_tokens(std::string_view chunk) {
    std::vector<int> tokens;
    tokens.reserve(chunk.size());
    for (std::size_t i = 0; i < chunk.size(); ++i) {
        if (chunk[i] == '$' && i + 1 < chunk.size() && chunk[i + 1] == '*') {
            tokens.push_back(kWildToken);
            ++i;
        } else {
            tokens.push_back(static_cast<unsigned char>(chunk[i]));
        }
    }
    return tokens;
}

// Whether two plain chunks have a text in common.
bool chunks_intersect(std::string_view x_chunk, std::string_view y_chunk) {
    const auto x = chunk_tokens(x_chunk);
    const auto y = chunk_tokens(y_chunk);
    const std::size_t nx = x.size();
    const std::size_t ny = y.size();
    std::vector<std::uint8_t> next(ny + 1), cur(ny + 1);
    next[ny] = 1;
    for (std::size_t t = ny; t-- > 0;)
        next[t] = y[t] == kWildToken && next[t + 1];
    for (std::size_t s = nx; s-- > 0;) {
        const bool x_wild = x[s] == kWildToken;
        cur[ny] = x_wild && next[ny];
        for (std::size_t t = ny; t-- > 0;) {
            if (!x_wild && y[t] != kWildToken) {
                cur[t] = x[s] == y[t] && next[t + 1];
            } else {
                cur[t] = next[t] || cur[t + 1];
            }
        }
        std::swap(cur, next);
    }
    return next[0] != 0;
}

}  // namespace

bool is_valid(std::string_view key) noexcept {
    if (key.empty() || key.front() == '/' || key.back() == '/') return false;
    std::size_t start = 0;
    while (true) {
        const auto slash = key.find('/', start);
        const auto chunk = key.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (!is_valid_chunk(chunk)) return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

std::string canon_chunk(std::string_view chunk) {
    if (is_wild_chunk(chunk)) return std::string(chunk);
    std::string out(chunk);
    constexpr std::string_view kDouble = "$*$*";
    while (out.size() >= kDouble.size() && out.find(kDouble) != std::string::npos) {
        std::string collapsed;
        collapsed.reserve(out.size());
        std::size_t start = 0;
        while (true) {
            const auto at = out.find(kDouble, start);
            if (at == std::string::npos) {
                collapsed.append(out, start);
                break;
            }
            collapsed.append(out, start, at - start);
            collapsed.append(kInChunkAny);
            start = at + kDouble.size();
        }
        out = std::move(collapsed);
    }
    if (out == kInChunkAny) return std::string(kAny);
    return out;
}

std::optional<std::string> canonize(std::string_view key) {
    if (!is_valid(key)) return std::nullopt;
    std::string out;
    out.reserve(key.size());
    std::size_t singles = 0;
    bool any_depth = false;
    const auto put = [&out](std::string_view chunk) {
        if (!out.empty()) out.push_back('/');
        out.append(chunk);
    };
    const auto flush_run = [&] {
        for (; singles > 0; --singles)
            put(kAny);
        if (any_depth) put(kAnyDepth);
        any_depth = false;
    };
    for (const auto raw : split_chunks(key)) {
        const auto chunk = canon_chunk(raw);
        if (chunk == kAny) {
            ++singles;
        } else if (chunk == kAnyDepth) {
            any_depth = true;
        } else {
            flush_run();
            put(chunk);
        }
    }
    flush_run();
    return out;
}

bool is_canon(std::string_view key) {
    const auto canon = canonize(key);
    return canon && *canon == key;
}

std::optional<std::string> join(std::string_view prefix, std::string_view suffix) {
    std::string joined;
    joined.reserve(prefix.size() + 1 + suffix.size());
    joined.append(prefix);
    joined.push_back('/');
    joined.append(suffix);
    return canonize(joined);
}

bool matches(std::string_view pattern, std::string_view key) {
    if (!is_valid(key) || key.find('*') != std::string_view::npos) return false;
    return includes(pattern, key);
}

bool includes(std::string_view a, std::string_view b) {
    const auto canon_a = canonize(a);
    const auto canon_b = canonize(b);
    if (!canon_a || !canon_b) return false;
    const auto A = split_chunks(*canon_a);
    const auto B = split_chunks(*canon_b);
    const std::size_t nB = B.size();

    // Row i of the table says, for each j, whether A[i..] includes B[j..];
    // only the row below is kept.
    std::vector<std::uint8_t> next(nB + 1, 0), cur(nB + 1);
    next[nB] = 1;
    for (std::size_t i = A.size(); i-- > 0;) {
        if (A[i] == kAnyDepth) {
            cur[nB] = next[nB];
            for (std::size_t j = nB; j-- > 0;) {
                cur[j] = next[j] || (!is_verbatim(B[j]) && cur[j + 1]);
            }
        } else {
            cur[nB] = 0;
            for (std::size_t j = nB; j-- > 0;) {
                cur[j] = next[j + 1] && chunk_includes(A[i], B[j]);
            }
        }
        std::swap(cur, next);
    }
    return next[0] != 0;
}

bool intersects(std::string_view a, std::string_view b) {
    const auto canon_a = canonize(a);
    const auto canon_b = canonize(b);
    if (!canon_a || !canon_b) return false;
    const auto A = split_chunks(*canon_a);
    const auto B = split_chunks(*canon_b);
    const std::size_t nB = B.size();

    // Row i says, for each j, whether A[i..] and B[j..] share a key.
    std::vector<std::uint8_t> next(nB + 1), cur(nB + 1);
    next[nB] = 1;
    for (std::size_t j = nB; j-- > 0;)
        next[j] = B[j] == kAnyDepth && next[j + 1];
    for (std::size_t i = A.size(); i-- > 0;) {
        const auto x = A[i];
        if (x == kAnyDepth) {
            cur[nB] = next[nB];
            for (std::size_t j = nB; j-- > 0;) {
                cur[j] = next[j] || (!is_verbatim(B[j]) && cur[j + 1]);
            }
        } else {
            cur[nB] = 0;
            for (std::size_t j = nB; j-- > 0;) {
                const auto y = B[j];
                if (y == kAnyDepth) {
                    cur[j] = cur[j + 1] || (!is_verbatim(x) && next[j]);
                } else if (x == y) {
                    cur[j] = next[j + 1];
                } else if (is_verbatim(x) || is_verbatim(y)) {
                    cur[j] = 0;
                } else if (x == kAny || y == kAny) {
                    cur[j] = next[j + 1];
                } else {
                    cur[j] = next[j + 1] && chunks_intersect(x, y);
                }
            }
        }
        std::swap(cur, next);
    }
    return next[0] != 0;
}

}  // namespace trovik::zenoh::keyexpr
