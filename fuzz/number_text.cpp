// Numbers read from text, and the shortest float texts read back. The input
// is one text for the reader: it must accept exactly what the grammar below
// (written here from the reader's own description) accepts, after white space
// is trimmed from both ends, and give what strtod and from_chars give for the
// trimmed text. Every double it yields, and the double in the input's first
// eight bytes, must print in each layout to a text that reads back to the very
// same double (its sign and NaN-ness kept).
// libFuzzer options: -max_len=1024
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "support.hpp"
#include "trovik/core/number_text.hpp"

namespace number_text = trovik::core::number_text;

namespace {

// Unicode's White_Space characters, as UTF-8.
constexpr std::string_view white_space[] = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

// Drops whole white-space characters from the front and the back; a stray
// byte that is no character of its own stops the trim.
std::string_view trim(std::string_view text) {
    for (bool again = true; again;) {
        again = false;
        for (const auto space : white_space) {
            if (text.starts_with(space)) {
                text.remove_prefix(space.size());
                again = true;
            }
        }
    }
    for (bool again = true; again;) {
        again = false;
        for (const auto space : white_space) {
            if (text.ends_with(space)) {
                text.remove_suffix(space.size());
                again = true;
            }
        }
    }
    return text;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_word(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (lower(text[i]) != word[i]) return false;
    return true;
}

// The reader's grammar:
//   number   = [sign] (decimal [exponent] | "inf" | "infinity" | "nan")   words in any case
//   decimal  = digits ["." [digits]] | "." digits
//   exponent = ("e" | "E") [sign] digits
class Grammar {
public:
    explicit Grammar(std::string_view text) : text_(text) {}

    bool number() {
        sign();
        const std::string_view rest = text_.substr(at_);
        if (same_word(rest, "inf") || same_word(rest, "infinity") || same_word(rest, "nan")) return true;
        if (!decimal()) return false;
        if (take('e') || take('E')) {
            sign();
            if (digits() == 0) return false;
        }
        return at_ == text_.size();
    }

private:
    bool take(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void sign() {
        if (!take('+')) take('-');
    }
    std::size_t digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            ++at_;
        return at_ - start;
    }
    bool decimal() {
        if (digits() > 0) {
            if (take('.')) digits();
            return true;
        }
        return take('.') && digits() > 0;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

bool same(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

void check_reads_back(double value) {
    for (const auto& text : {number_text::display(value), number_text::debug(value), number_text::json_number(value)}) {
        const auto back = number_text::parse_number(text);
        FUZZ_CHECK(back.has_value());
        FUZZ_CHECK(same(*back, value));
    }
    // The 32-bit layouts print the float's own shortest digits: they are a
    // number to the reader, and name that very float.
    if (!(std::fabs(value) <= std::numeric_limits<float>::max())) return;
    const auto narrow = static_cast<float>(value);
    for (const auto& text :
         {number_text::display(narrow), number_text::debug(narrow), number_text::json_number(narrow)}) {
        FUZZ_CHECK(number_text::parse_number(text).has_value());
        const float back = std::strtof(text.c_str(), nullptr);
        FUZZ_CHECK(std::bit_cast<std::uint32_t>(back) == std::bit_cast<std::uint32_t>(narrow));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = trovik::fuzz::as_text({data, size});
    const auto parsed = number_text::parse_number(input);

    const std::string trimmed(trim(input));
    FUZZ_CHECK(parsed.has_value() == Grammar(trimmed).number());
    if (parsed) {
        FUZZ_CHECK(same(*parsed, std::strtod(trimmed.c_str(), nullptr)));
        // from_chars reads the same numbers less the plus sign; it reports
        // overflow and underflow rather than rounding to infinity or zero.
        const std::string_view unsigned_text = std::string_view(trimmed).substr(trimmed.starts_with('+'));
        double other = 0;
        const auto [end, ec] =
            std::from_chars(unsigned_text.data(), unsigned_text.data() + unsigned_text.size(), other);
        if (ec == std::errc() && end == unsigned_text.data() + unsigned_text.size()) FUZZ_CHECK(same(*parsed, other));
        check_reads_back(*parsed);
    }

    if (size >= sizeof(double)) {
        double value = 0;
        std::memcpy(&value, data, sizeof value);
        check_reads_back(value);
    }
    return 0;
}
