#pragma once
// The published examples under tests/published, read whole.
#include <fstream>
#include <iterator>
#include <string>

#include <doctest/doctest.h>

inline std::string published(const char* name) {
    std::ifstream file(std::string(TROVIK_GATEWAY_PUBLISHED) + "/" + name, std::ios::binary);
    REQUIRE_MESSAGE(file, name);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}
