#pragma once
// What the store tests share: a scratch directory and byte helpers.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>

#include "trovik/core/message.hpp"

#include "../../trovik-core/tests/async_support.hpp"

namespace trovik::sync::testing {

using core::async::testing::run;

// A fresh directory under the system's temporary directory, removed with
// everything in it when the test ends.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "trovik-sync-XXXXXX").string();
        REQUIRE(::mkdtemp(pattern.data()) != nullptr);
        path_ = pattern;
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

    void write(std::string_view name, std::string_view contents) const {
        std::ofstream(path_ / name, std::ios::binary) << contents;
    }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            out.insert(entry.path().filename());
        return out;
    }

private:
    std::filesystem::path path_;
};

inline core::Bytes bytes(std::string_view text) { return core::Bytes(text.begin(), text.end()); }

// A fetched record as text for comparisons: its bytes, "none", or the error.
template <class Fetched>
std::string shown(const Fetched& fetched) {
    if (!fetched) return "error " + fetched.error().display();
    if (!*fetched) return "none";
    return std::string((*fetched)->begin(), (*fetched)->end());
}

inline std::string read_all(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace trovik::sync::testing
