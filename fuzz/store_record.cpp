// The file store reading records from a real directory. The input is, in
// turn: a file name, read as a record number and checked against the naming
// rules; the bytes of a record file, which the store must give back exactly;
// and the name of a file found in the directory when it is opened.
// libFuzzer options: -max_len=1024
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "support.hpp"
#include "trovik/core/text.hpp"
#include "trovik/sync/file.hpp"

using namespace trovik;
using trovik::fuzz::as_text;

namespace {

std::filesystem::path scratch;

void remove_scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
}

// The naming rule, read plainly: "<digits>.rec" with one optional "+" and a
// value that fits in 64 bits.
std::optional<std::uint64_t> expected_number(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || name.substr(dot) != ".rec") return std::nullopt;
    std::string_view stem = name.substr(0, dot);
    if (stem.starts_with('+')) stem.remove_prefix(1);
    if (stem.empty()) return std::nullopt;
    unsigned __int128 value = 0;
    for (const char c : stem) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > UINT64_MAX) return std::nullopt;
    }
    return static_cast<std::uint64_t>(value);
}

bool is_leftover(std::string_view name) {
    return name.size() >= 7 && name.ends_with("rec.tmp") && core::text::is_valid_utf8(name);
}

void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(out.good());
}

bool scratch_is_empty() { return std::filesystem::is_empty(scratch); }

void check_name(std::string_view name) {
    const auto number = sync::record_number(name);
    FUZZ_CHECK(number == expected_number(name));
    if (number) FUZZ_CHECK(!is_leftover(name));
}

void check_record(std::span<const std::uint8_t> record) {
    // Numbers from the input, so the names vary too.
    std::uint64_t number = record.size();
    if (record.size() >= 8) std::copy_n(record.begin(), 8, reinterpret_cast<std::uint8_t*>(&number));
    const auto probe = sync::FileStore::open(scratch);
    FUZZ_CHECK(probe.has_value() && probe->len() == 0);
    const auto path = probe->record_path(number);
    FUZZ_CHECK(sync::record_number(path.filename().native()) == number);
    write_file(path, record);

    auto store = sync::FileStore::open(scratch);
    FUZZ_CHECK(store.has_value() && store->len() == 1);
    FUZZ_CHECK(store->next_number() == (number == UINT64_MAX ? std::nullopt : std::optional(number + 1)));
    const auto peeked = store->peek();
    FUZZ_CHECK(peeked && *peeked && std::ranges::equal(**peeked, record));
    const auto text = sync::as_text(*peeked);
    FUZZ_CHECK(text.has_value() == core::text::is_valid_utf8(as_text(record)));
    if (text) FUZZ_CHECK(**text == as_text(record));
    const auto entry = store->peek_entry();
    FUZZ_CHECK(entry && *entry && (*entry)->position == number && (*entry)->record == **peeked);
    const auto popped = store->pop();
    FUZZ_CHECK(popped && *popped && **popped == **peeked);
    FUZZ_CHECK(store->len() == 0 && scratch_is_empty());
}

// What opening does with one file of this name in the directory.
void check_found(std::string_view name) {
    if (name.empty() || name.size() > 255 || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
        return;
    const std::filesystem::path path = scratch / std::string(name);
    const std::uint8_t contents[] = {'x'};
    write_file(path, contents);
    auto store = sync::FileStore::open(scratch);
    FUZZ_CHECK(store.has_value());
    const auto number = sync::record_number(name);
    if (is_leftover(name)) {
        FUZZ_CHECK(store->len() == 0 && scratch_is_empty());
        return;
    }
    FUZZ_CHECK(std::filesystem::exists(path));
    FUZZ_CHECK(store->len() == (number ? 1u : 0u));
    if (number) {
        // Read under its own name: found only when the name is that name.
        const auto peeked = store->peek();
        if (path == store->record_path(*number))
            FUZZ_CHECK(peeked && *peeked && std::ranges::equal(**peeked, contents));
        else
            FUZZ_CHECK(!peeked && peeked.error().kind() == core::Error::Kind::Io);
    }
    std::filesystem::remove(path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Under $TMPDIR, which scripts/fuzz.sh points into the build directory so
    // that a crashed run leaves nothing behind elsewhere.
    std::string pattern = (std::filesystem::temp_directory_path() / "trovik-fuzz-store-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    scratch = pattern;
    std::atexit(remove_scratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    check_name(as_text(input));
    check_record(input);
    check_found(as_text(input));
    return 0;
}
