#include <doctest/doctest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "trovik/can/dlc.hpp"
#include "trovik/can/frame.hpp"
#include "trovik/can/id.hpp"

using namespace trovik::can;

namespace {

std::vector<std::uint8_t> bytes(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i + 1);
    return v;
}

}  // namespace

TEST_CASE("data length codes and the lengths they stand for") {
    struct Case {
        std::uint64_t len;
        std::uint8_t dlc;
    };
    const Case cases[] = {{0, 0},   {1, 1},   {8, 8},   {9, 9},   {12, 9},         {13, 10}, {16, 10},
                          {17, 11}, {20, 11}, {21, 12}, {24, 12}, {25, 13},        {32, 13}, {33, 14},
                          {48, 14}, {49, 15}, {64, 15}, {65, 15}, {UINT64_MAX, 15}};
    for (const Case& c : cases) {
        CAPTURE(c.len);
        CHECK(len_to_dlc(c.len) == c.dlc);
    }
    // Only the low four bits of a code count.
    CHECK(dlc_to_len(13) == 32);
    CHECK(dlc_to_len(16) == 0);
    CHECK(dlc_to_len(0xFF) == 64);
    // The code of every length holds it, and the code of a length a code
    // stands for gives that length back.
    for (std::uint64_t len = 0; len <= 70; ++len) {
        CAPTURE(len);
        CHECK(dlc_to_len(len_to_dlc(len)) >= std::min<std::uint64_t>(len, 64));
        CHECK(is_fd_len(len) == (len <= 64 && dlc_to_len(len_to_dlc(len)) == len));
    }
    for (std::uint8_t dlc = 0; dlc < 16; ++dlc)
        CHECK(len_to_dlc(dlc_to_len(dlc)) == dlc);
}

TEST_CASE("classic frames carry up to eight bytes") {
    auto empty = Frame::classic(0x7FF, false, {});
    REQUIRE(empty);
    CHECK(empty->len() == 0);
    CHECK(empty->dlc() == 0);
    CHECK(empty->data().empty());

    const auto eight = bytes(8);
    auto full = Frame::classic(0x1FFFFFFF, true, eight);
    REQUIRE(full);
    CHECK(full->id() == 0x1FFFFFFF);
    CHECK(full->is_extended());
    CHECK_FALSE(full->is_fd());
    CHECK_FALSE(full->is_remote());
    CHECK(full->dlc() == 8);
    CHECK(std::ranges::equal(full->data(), eight));

    CHECK(Frame::classic(1, false, bytes(9)).error().kind == CanError::Kind::DataTooLong);
    CHECK(Frame::classic(1, false, bytes(9)).error().message() ==
          "the data is longer than the frame carries: 8 bytes for classic CAN, 64 for CAN FD");
}

TEST_CASE("FD frames carry the FD lengths only") {
    for (std::size_t n = 0; n <= 66; ++n) {
        CAPTURE(n);
        auto frame = Frame::fd(1, false, bytes(n));
        if (n > 64) {
            CHECK(frame.error().kind == CanError::Kind::DataTooLong);
        } else if (!is_fd_len(n)) {
            CHECK(frame.error().kind == CanError::Kind::InvalidFdLength);
            CHECK(frame.error().message() == "CAN FD carries 0 to 8 bytes, then only 12, 16, 20, 24, 32, 48, or 64");
        } else {
            REQUIRE(frame);
            CHECK(frame->is_fd());
            CHECK(frame->len() == n);
            CHECK(dlc_to_len(frame->dlc()) == n);
            CHECK(std::ranges::equal(frame->data(), bytes(n)));
        }
    }
    CHECK(Frame::fd(1, false, bytes(12))->dlc() == 9);
}

TEST_CASE("remote frames ask for a length and carry nothing") {
    auto frame = Frame::remote(0x100, false, 20);
    REQUIRE(frame);
    CHECK(frame->is_remote());
    CHECK_FALSE(frame->is_fd());
    CHECK(frame->len() == 8);
    CHECK(frame->dlc() == 8);
    CHECK(frame->data().empty());
    CHECK(Frame::remote(0x100, false, UINT64_MAX)->len() == 8);
    CHECK(Frame::remote(0x100, false, 3)->len() == 3);
}

TEST_CASE("an identifier wider than its format is refused, never cut") {
    struct Case {
        std::uint32_t id;
        bool extended;
        bool fits;
    };
    const Case cases[] = {{0x7FF, false, true},       {0x800, false, false},     {0xFFF, false, false},
                          {0x1FFFFFFF, true, true},   {0x20000000, true, false}, {0xFFFFFFFF, true, false},
                          {0x1FFFFFFF, false, false}, {0, false, true}};
    const std::uint8_t one[] = {1};
    for (const Case& c : cases) {
        CAPTURE(c.id);
        CAPTURE(c.extended);
        CHECK(id_fits(c.id, c.extended) == c.fits);
        auto classic = Frame::classic(c.id, c.extended, one);
        auto fd = Frame::fd(c.id, c.extended, one);
        auto remote = Frame::remote(c.id, c.extended, 1);
        CHECK(classic.has_value() == c.fits);
        CHECK(fd.has_value() == c.fits);
        CHECK(remote.has_value() == c.fits);
        if (!c.fits) {
            CHECK(classic.error().kind == CanError::Kind::IdTooWide);
            CHECK(fd.error().kind == CanError::Kind::IdTooWide);
            CHECK(remote.error().kind == CanError::Kind::IdTooWide);
        } else {
            CHECK(classic->id() == c.id);
        }
    }
    // The identifier is checked before the data.
    CHECK(Frame::classic(0x800, false, bytes(9)).error().kind == CanError::Kind::IdTooWide);
}
