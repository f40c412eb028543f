#include <doctest/doctest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

#include "support.hpp"
#include "trovik/sync/file.hpp"

namespace trovik::sync {
namespace {

using testing::bytes;
using testing::read_all;
using testing::ScratchDir;
using testing::shown;

using namespace std::string_view_literals;

constexpr std::uint64_t max_number = std::numeric_limits<std::uint64_t>::max();

FileStore open(const ScratchDir& dir) {
    auto store = FileStore::open(dir.path());
    REQUIRE(store);
    return std::move(*store);
}

TEST_CASE("a file store keeps its records across a reopen, in order, one file each") {
    ScratchDir dir;
    {
        FileStore store = open(dir);
        CHECK(store.next_number() == 0);
        REQUIRE(store.append(bytes("first")));
        REQUIRE(store.append({}));
        REQUIRE(store.append(bytes("th\0rd\xff"sv)));
        CHECK(store.len() == 3);
    }
    CHECK(dir.names() ==
          std::set<std::string>{"00000000000000000000.rec", "00000000000000000001.rec", "00000000000000000002.rec"});
    CHECK(read_all(dir / "00000000000000000000.rec") == "first");
    CHECK(std::filesystem::file_size(dir / "00000000000000000001.rec") == 0);

    FileStore store = open(dir);
    CHECK(store.len() == 3);
    CHECK(store.next_number() == 3);
    CHECK(shown(store.peek()) == "first");
    CHECK(shown(store.pop()) == "first");
    CHECK(shown(store.pop()) == "");
    REQUIRE(store.append(bytes("fourth")));
    CHECK(dir.names() == std::set<std::string>{"00000000000000000002.rec", "00000000000000000003.rec"});
    CHECK(shown(store.pop()) == "th\0rd\xff"sv);
    CHECK(shown(store.pop()) == "fourth");
    CHECK(shown(store.pop()) == "none");
    CHECK(shown(store.peek()) == "none");
    CHECK(dir.names().empty());

    // Nothing left: numbering starts again from 0 at the next open.
    CHECK(open(dir).next_number() == 0);
}

TEST_CASE("opening deletes interrupted writes, indexes record names and leaves every other name alone") {
    ScratchDir dir;
    struct Case {
        const char* name;
        enum { Deleted, Ignored, Indexed } fate;
        std::uint64_t number = 0;
    };
    const Case cases[] = {
        {"00000000000000000004.rec.tmp", Case::Deleted},
        {"junk.rec.tmp", Case::Deleted},
        {"rec.tmp", Case::Deleted},
        {"xrec.tmp", Case::Deleted},
        {"ec.tmp", Case::Ignored},
        {"abc.rec", Case::Ignored},
        {"notes.txt", Case::Ignored},
        {"9.rec.bak", Case::Ignored},
        {".rec", Case::Ignored},
        {"9.REC", Case::Ignored},
        {"-9.rec", Case::Ignored},
        {"+.rec", Case::Ignored},
        {"++9.rec", Case::Ignored},
        {" 9.rec", Case::Ignored},
        {"0x9.rec", Case::Ignored},
        {"18446744073709551616.rec", Case::Ignored},
        {"\xff"
         "1.rec",
         Case::Ignored},
        {"\xff.rec.tmp", Case::Ignored},
        {"00000000000000000002.rec", Case::Indexed, 2},
        {"+7.rec", Case::Indexed, 7},
        {"0011.rec", Case::Indexed, 11},
        {"3.rec", Case::Indexed, 3},
    };
    for (const auto& c : cases)
        dir.write(c.name, c.name);
    std::filesystem::create_directory(dir / "x");

    FileStore store = open(dir);
    auto names = dir.names();
    CHECK(names.contains("x"));
    for (const auto& c : cases) {
        CAPTURE(c.name);
        CHECK(names.contains(c.name) == (c.fate != Case::Deleted));
    }
    CHECK(store.len() == 4);
    CHECK(store.next_number() == 12);
    // Records are read under their canonical names; only the 20-digit one exists.
    auto entry = store.peek_entry();
    REQUIRE(entry);
    CHECK((entry.value() == Entry{2, bytes("00000000000000000002.rec")}));
    CHECK(shown(store.pop()) == "00000000000000000002.rec");
}

TEST_CASE("a record indexed from a short name is read under its canonical name") {
    ScratchDir dir;
    dir.write("5.rec", "short");
    FileStore store = open(dir);
    CHECK(store.len() == 1);
    auto popped = store.pop();
    REQUIRE_FALSE(popped);
    CHECK(popped.error().display().starts_with("io error: "));
    CHECK(popped.error().display() ==
          "io error: " + std::make_error_code(std::errc::no_such_file_or_directory).message());
    // It left the index of this open store all the same.
    CHECK(store.len() == 0);
    CHECK(dir.names().contains("5.rec"));
}

TEST_CASE("a record's name holding anything but a regular file of a record's size is refused without blocking") {
    struct Case {
        const char* what;
        void (*make)(const std::filesystem::path&);
        std::errc reason;
    };
    const Case cases[] = {
        {"a FIFO", [](const std::filesystem::path& p) { REQUIRE(::mkfifo(p.c_str(), 0600) == 0); },
         std::errc::invalid_argument},
        {"a symlink to a device",
         [](const std::filesystem::path& p) { std::filesystem::create_symlink("/dev/null", p); },
         std::errc::invalid_argument},
        {"a directory", [](const std::filesystem::path& p) { std::filesystem::create_directory(p); },
         std::errc::is_a_directory},
        {"a file larger than any record",
         [](const std::filesystem::path& p) {
             std::ofstream(p, std::ios::binary) << "x";
             std::filesystem::resize_file(p, FileStore::max_record_bytes + 1);  // sparse: costs no disk
         },
         std::errc::file_too_large},
    };
    for (const auto& c : cases) {
        CAPTURE(c.what);
        ScratchDir dir;
        c.make(dir / "00000000000000000001.rec");
        dir.write("00000000000000000002.rec", "after");
        const std::string refused = "io error: " + std::make_error_code(c.reason).message();

        // Should a FIFO block the reader again, this ends the run instead of hanging it.
        ::alarm(60);
        FileStore store = open(dir);
        CHECK(store.len() == 2);
        CHECK(shown(store.peek()) == "error " + refused);
        CHECK(store.len() == 2);
        CHECK(shown(store.pop()) == "error " + refused);
        CHECK(shown(store.pop()) == "after");
        ::alarm(0);
        CHECK(dir.names() == std::set<std::string>{"00000000000000000001.rec"});
    }
}

TEST_CASE("a symlink to a record-sized regular file is read through") {
    ScratchDir dir;
    dir.write("elsewhere", "linked");
    std::filesystem::create_symlink(dir / "elsewhere", dir / "00000000000000000000.rec");
    FileStore store = open(dir);
    CHECK(shown(store.pop()) == "linked");
    CHECK(dir.names() == std::set<std::string>{"elsewhere"});
}

TEST_CASE("a record larger than the store reads back is refused before anything is written") {
    ScratchDir dir;
    FileStore store = open(dir);
    // Untouched anonymous pages: the span is as long as needed and costs no memory.
    const std::size_t size = FileStore::max_record_bytes + 1;
    void* pages = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    REQUIRE(pages != MAP_FAILED);
    auto refused = store.append({static_cast<const std::uint8_t*>(pages), size});
    ::munmap(pages, size);
    REQUIRE_FALSE(refused);
    CHECK(refused.error().display() == "io error: " + std::make_error_code(std::errc::file_too_large).message());
    CHECK(store.len() == 0);
    CHECK(store.next_number() == 0);
    CHECK(dir.names().empty());
}

TEST_CASE("two names for one record number index it once") {
    ScratchDir dir;
    dir.write("5.rec", "short name");
    dir.write("00000000000000000005.rec", "canonical");
    dir.write("+0005.rec", "another");
    FileStore store = open(dir);
    CHECK(store.len() == 1);
    CHECK(store.next_number() == 6);
    CHECK(shown(store.pop()) == "canonical");
    CHECK(store.len() == 0);
    CHECK(shown(store.pop()) == "none");
}

TEST_CASE("a record's file name gives back its number") {
    ScratchDir dir;
    const FileStore store = open(dir);
    for (const std::uint64_t number : {std::uint64_t{0}, std::uint64_t{7}, max_number}) {
        CAPTURE(number);
        CHECK(record_number(store.record_path(number).filename().native()) == number);
    }
    CHECK(record_number("18446744073709551615.rec") == max_number);
    CHECK(record_number("18446744073709551616.rec") == std::nullopt);
    CHECK(record_number("+0.rec") == 0);
    CHECK(record_number("7.rec.tmp") == std::nullopt);
    CHECK(record_number("7.") == std::nullopt);
}

TEST_CASE("record numbers never wrap") {
    ScratchDir dir;
    dir.write("18446744073709551614.rec", "last but one");
    {
        FileStore store = open(dir);
        CHECK(store.next_number() == max_number);
        REQUIRE(store.append(bytes("last")));
        CHECK(dir.names().contains("18446744073709551615.rec"));
        CHECK(store.next_number() == std::nullopt);
        auto refused = store.append(bytes("one too many"));
        REQUIRE_FALSE(refused);
        CHECK(refused.error().display() == "io error: store has run out of record numbers");
        CHECK(store.len() == 2);
        CHECK(dir.names().size() == 2);
    }
    {
        FileStore store = open(dir);
        CHECK(store.len() == 2);
        CHECK(store.next_number() == std::nullopt);
        CHECK_FALSE(store.append(bytes("still refused")));
        CHECK(shown(store.pop()) == "last but one");
        CHECK(shown(store.pop()) == "last");
    }
    CHECK(open(dir).next_number() == 0);
}

TEST_CASE("a file store's capacity counts the records it found") {
    ScratchDir dir;
    dir.write("00000000000000000000.rec", "a");
    dir.write("00000000000000000001.rec", "b");
    FileStore store = open(dir);
    store.set_capacity(1);
    CHECK(store.len() == 2);
    auto refused = store.append(bytes("c"));
    REQUIRE_FALSE(refused);
    CHECK(refused.error().display() == "io error: store is at capacity");
    CHECK(dir.names().size() == 2);
    REQUIRE(store.pop());
    CHECK_FALSE(store.append(bytes("c")));
    REQUIRE(store.pop());
    CHECK(store.append(bytes("c")));
    CHECK(dir.names() == std::set<std::string>{"00000000000000000002.rec"});
}

TEST_CASE("a failed append changes neither the index nor the next number") {
    ScratchDir dir;
    FileStore store = open(dir);
    REQUIRE(store.append(bytes("a")));
    std::filesystem::remove_all(dir.path());
    auto failed = store.append(bytes("b"));
    REQUIRE_FALSE(failed);
    CHECK(failed.error().display() ==
          "io error: " + std::make_error_code(std::errc::no_such_file_or_directory).message());
    CHECK(store.len() == 1);
    CHECK(store.next_number() == 1);

    std::filesystem::create_directory(dir.path());
    REQUIRE(store.append(bytes("b")));
    CHECK(dir.names() == std::set<std::string>{"00000000000000000001.rec"});
    auto peeked = store.peek();
    CHECK_FALSE(peeked);  // record 0 went with the directory
    CHECK(store.len() == 2);
}

TEST_CASE("opening fails with an io error where no directory can be") {
    ScratchDir dir;
    dir.write("plain", "a file");
    for (const char* name : {"plain", "plain/below"}) {
        CAPTURE(name);
        auto store = FileStore::open(dir / name);
        REQUIRE_FALSE(store);
        CHECK(store.error().kind() == core::Error::Kind::Io);
    }
}

TEST_CASE("a file store's entries are its record numbers, so a stale removal removes nothing") {
    ScratchDir dir;
    FileStore store = open(dir);
    REQUIRE(store.append(bytes("a")));
    REQUIRE(store.append(bytes("b")));
    auto entry = store.peek_entry();
    REQUIRE(entry);
    CHECK((entry.value() == Entry{0, bytes("a")}));
    CHECK_FALSE(store.remove_entry(1).value());
    CHECK(store.len() == 2);
    CHECK(store.remove_entry(0).value());
    CHECK(dir.names() == std::set<std::string>{"00000000000000000001.rec"});
    CHECK_FALSE(store.remove_entry(0).value());
    CHECK(store.len() == 1);
}

}  // namespace
}  // namespace trovik::sync
