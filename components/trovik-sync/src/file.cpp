#include "trovik/sync/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/core/descriptor.hpp"
#include "trovik/core/number_text.hpp"
#include "trovik/core/text.hpp"
#include "trovik/sync/memory.hpp"

namespace trovik::sync {
namespace {

using core::Descriptor;

constexpr std::uint64_t last_number = std::numeric_limits<std::uint64_t>::max();

std::error_code last_error() { return {errno, std::system_category()}; }

int open_retrying(const char* path, int flags, mode_t mode = 0) {
    for (;;) {
        int fd = ::open(path, flags | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

std::error_code write_all(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return last_error();
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return {};
}

// Why a record's name may not be read: it holds no regular file, or more than
// a record can be. A directory keeps the platform's own answer for reading one;
// anything else that is not a regular file gets the one the kernel gives when a
// file copy meets a file that is not regular.
std::error_code unreadable(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) return std::make_error_code(std::errc::is_a_directory);
    if (!S_ISREG(info.st_mode)) return std::make_error_code(std::errc::invalid_argument);
    if (static_cast<std::uintmax_t>(info.st_size) > FileStore::max_record_bytes)
        return std::make_error_code(std::errc::file_too_large);
    return {};
}

// Reads a record's file whole. Whatever sits under a record's name is opened
// without blocking, since a FIFO would otherwise hold the reader until a writer
// came, and the opened descriptor itself is checked, so that the file checked is
// the file read: a device such as /dev/zero never ends, and a regular file is
// read only up to the largest a record can be, even if it grows meanwhile.
std::expected<core::Bytes, core::Error> read_file(const std::filesystem::path& path) {
    Descriptor file(open_retrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (!file.valid()) return std::unexpected(io(last_error()));
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return std::unexpected(io(last_error()));
    if (auto refused = unreadable(info)) return std::unexpected(io(refused));
    core::Bytes bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    std::uint8_t chunk[16384];
    for (;;) {
        ssize_t got = ::read(file.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(io(last_error()));
        }
        if (got == 0) break;
        if (static_cast<std::size_t>(got) > FileStore::max_record_bytes - bytes.size())
            return std::unexpected(io(std::make_error_code(std::errc::file_too_large)));
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

core::Status remove_file(const std::filesystem::path& path) {
    if (::unlink(path.c_str()) != 0) return std::unexpected(io(last_error()));
    return {};
}

// The platform's unsigned parse: one or more decimal digits after an optional
// "+", nothing else, within 64 bits; leading zeros allowed.
std::optional<std::uint64_t> parse_number(std::string_view text) {
    return core::number_text::parse_unsigned(text, 10, UINT64_MAX);
}

}  // namespace

// The part after the last dot is the extension; a name whose only dot leads
// it has none.
std::optional<std::uint64_t> record_number(std::string_view file_name) {
    auto dot = file_name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    if (file_name.substr(dot + 1) != "rec") return std::nullopt;
    return parse_number(file_name.substr(0, dot));
}

core::Error io(std::error_code error) { return core::Error::io(error.message()); }

core::Status sync_dir(const std::filesystem::path& directory) {
    Descriptor dir(open_retrying(directory.c_str(), O_RDONLY | O_DIRECTORY));
    if (!dir.valid()) return std::unexpected(io(last_error()));
    if (::fsync(dir.get()) != 0) return std::unexpected(io(last_error()));
    if (auto error = dir.close()) return std::unexpected(io(error));
    return {};
}

std::expected<FileStore, core::Error> FileStore::open(const std::filesystem::path& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) return std::unexpected(io(error));

    std::vector<std::uint64_t> numbers;
    std::filesystem::directory_iterator entries(directory, error);
    if (error) return std::unexpected(io(error));
    // A failed step ends the iteration and leaves `error` set.
    for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::filesystem::path& path = entries->path();
        const std::string name = path.filename().native();
        if (name.size() >= 7 && name.ends_with("rec.tmp") && core::text::is_valid_utf8(name)) {
            // A record a crash interrupted before its rename: never a record.
            if (auto removed = remove_file(path); !removed) return std::unexpected(removed.error());
        } else if (auto number = record_number(name)) {
            numbers.push_back(*number);
        }
    }
    if (error) return std::unexpected(io(error));

    // "5.rec" and "00000000000000000005.rec" name the same record: index it once.
    std::ranges::sort(numbers);
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::optional<std::uint64_t> next = 0;
    if (!numbers.empty()) next = numbers.back() == last_number ? std::nullopt : std::optional(numbers.back() + 1);
    return FileStore(directory, std::deque<std::uint64_t>(numbers.begin(), numbers.end()), next);
}

std::filesystem::path FileStore::record_path(std::uint64_t number) const {
    char name[32];
    std::snprintf(name, sizeof name, "%020llu.rec", static_cast<unsigned long long>(number));
    return directory_ / name;
}

core::Status FileStore::append(std::span<const std::uint8_t> record) {
    if (capacity_ && index_.size() >= *capacity_) return std::unexpected(at_capacity());
    // Numbers are never reused or wrapped: a wrapped number would sort before
    // the records still held and be replayed out of order.
    if (!next_) return std::unexpected(core::Error::io("store has run out of record numbers"));
    // What the store would refuse to read back, it refuses to write.
    if (record.size() > max_record_bytes) return std::unexpected(io(std::make_error_code(std::errc::file_too_large)));
    const std::uint64_t number = *next_;
    const std::filesystem::path path = record_path(number);
    const std::filesystem::path temporary = path.native() + ".tmp";

    Descriptor file(open_retrying(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
    if (!file.valid()) return std::unexpected(io(last_error()));
    if (auto error = write_all(file.get(), record)) return std::unexpected(io(error));
    // Data and metadata both: the record must be whole on the device before
    // the rename can expose it.
    if (::fsync(file.get()) != 0) return std::unexpected(io(last_error()));
    if (auto error = file.close()) return std::unexpected(io(error));
    if (::rename(temporary.c_str(), path.c_str()) != 0) return std::unexpected(io(last_error()));
    if (auto synced = sync_dir(directory_); !synced) return synced;

    index_.push_back(number);
    next_ = number == last_number ? std::nullopt : std::optional(number + 1);
    return {};
}

Fetched FileStore::peek() const {
    if (index_.empty()) return std::optional<core::Bytes>();
    auto bytes = read_file(record_path(index_.front()));
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return std::optional(std::move(*bytes));
}

Fetched FileStore::pop() {
    if (index_.empty()) return std::optional<core::Bytes>();
    const std::uint64_t number = index_.front();
    index_.pop_front();
    const std::filesystem::path path = record_path(number);
    auto bytes = read_file(path);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    if (auto removed = remove_file(path); !removed) return std::unexpected(std::move(removed.error()));
    return std::optional(std::move(*bytes));
}

FetchedEntry FileStore::peek_entry() const {
    if (index_.empty()) return std::optional<Entry>();
    auto bytes = read_file(record_path(index_.front()));
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return std::optional(Entry{index_.front(), std::move(*bytes)});
}

std::expected<bool, core::Error> FileStore::remove_entry(std::uint64_t number) {
    if (index_.empty() || index_.front() != number) return false;
    index_.pop_front();
    if (auto removed = remove_file(record_path(number)); !removed) return std::unexpected(std::move(removed.error()));
    return true;
}

}  // namespace trovik::sync
