#pragma once
// What the fuzz targets share: a check that stops the run when a parser gives
// a wrong answer, not only when it crashes. libFuzzer treats the abort as a
// crash and saves the input that caused it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace trovik::fuzz {

inline std::string_view as_text(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

inline std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace trovik::fuzz
