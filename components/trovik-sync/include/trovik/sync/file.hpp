#pragma once
// The store kept in a directory, one file per record, so that its records
// survive a restart of the process or a power cut.
//
// Layout: record n is the file named n in decimal, zero-padded to 20 digits,
// with the extension ".rec" (00000000000000000007.rec); its contents are
// exactly the record's bytes. A record is written to "<name>.rec.tmp", synced
// in full, renamed into place, and the directory synced; only then does it
// count as appended. Opening deletes every name ending in "rec.tmp" (records a
// crash interrupted) and ignores every name that is not "<number>.rec".
//
// The index of record numbers lives in memory: `len` and the capacity check
// never touch the disk, while peek and pop read the record's file each time.
// Every operation here blocks on the file system, syncs included; callers on
// an asynchronous runtime go through `SharedStore`, which runs them on the
// runtime's pool for blocking work.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>

#include "trovik/core/error.hpp"
#include "trovik/core/message.hpp"
#include "trovik/core/transport.hpp"
#include "trovik/sync/store.hpp"

namespace trovik::sync {

class FileStore {
public:
    // Opens the store in `directory`, creating it and any missing parents.
    // Fails with an io error when the directory cannot be created or listed,
    // or a leftover temporary file cannot be deleted. The capacity starts
    // absent.
    static std::expected<FileStore, core::Error> open(const std::filesystem::path& directory);

    // The largest record the store writes or reads back: 1 GiB. A record's file
    // is exactly its bytes, so the layout itself sets no bound; this one is far
    // above what any link here carries (the largest, an MQTT packet, stays under
    // 256 MiB) and keeps a stray file under a record's name from exhausting memory
    // when it is read whole.
    static constexpr std::size_t max_record_bytes = std::size_t{1} << 30;

    // One index per open directory: two copies would hand out the same numbers.
    FileStore(FileStore&&) noexcept = default;
    FileStore& operator=(FileStore&&) noexcept = default;
    FileStore(const FileStore&) = delete;
    FileStore& operator=(const FileStore&) = delete;

    const std::filesystem::path& directory() const noexcept { return directory_; }
    std::optional<std::size_t> capacity() const noexcept { return capacity_; }
    void set_capacity(std::optional<std::size_t> capacity) noexcept { capacity_ = capacity; }

    // The file of record `number`.
    std::filesystem::path record_path(std::uint64_t number) const;

    // Fails with "io error: store is at capacity" when full, and with an io
    // error when a file operation fails, every record number has been used or
    // the record is larger than `max_record_bytes`; a failed append leaves the
    // store as it was.
    core::Status append(std::span<const std::uint8_t> record);
    // A record's name that holds anything but a regular file of at most
    // `max_record_bytes` (a FIFO, a device, a directory, a symlink to one of
    // those, an oversize file) is refused with an io error, as an unreadable
    // record is, without blocking or reading it.
    Fetched peek() const;
    // The oldest number leaves the index first, so a record whose file cannot
    // be read or deleted is not offered again by this open store.
    Fetched pop();
    std::size_t len() const noexcept { return index_.size(); }

    // The position of an entry is its record number.
    FetchedEntry peek_entry() const;
    // Deletes the oldest record's file without reading it, when it is still
    // record `number`.
    std::expected<bool, core::Error> remove_entry(std::uint64_t number);

    // The number the next append will use; none once the largest 64-bit
    // number has been used, after which appends are refused until the store
    // has been emptied and opened again.
    std::optional<std::uint64_t> next_number() const noexcept { return next_; }

private:
    FileStore(std::filesystem::path directory, std::deque<std::uint64_t> index, std::optional<std::uint64_t> next)
        : directory_(std::move(directory)), index_(std::move(index)), next_(next) {}

    std::filesystem::path directory_;
    std::optional<std::size_t> capacity_;
    std::deque<std::uint64_t> index_;  // ascending; the front is the oldest
    std::optional<std::uint64_t> next_;
};

// The record number a file name in a store's directory gives, or nothing when
// the name is not a record's: a number, a dot and "rec". The number is read
// as the platform's unsigned parse reads it (decimal digits, leading zeros
// and one leading "+" allowed, at most the largest 64-bit number), so
// "5.rec" gives 5, which the store then reads under its own name.
std::optional<std::uint64_t> record_number(std::string_view file_name);

// Opens the directory, syncs it to the device in full and closes it, so that
// a rename inside it is durable.
core::Status sync_dir(const std::filesystem::path& directory);

// An operating-system failure as an io error carrying the platform's
// description of it.
core::Error io(std::error_code error);

}  // namespace trovik::sync
