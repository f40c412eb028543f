#include <doctest/doctest.h>

#include <array>
#include <random>
#include <vector>

#include "trovik/lorawan_packages/block_mic.hpp"
#include "trovik/lorawan_packages/defragment.hpp"

namespace trovik::lorawan::packages::fragment {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<int> positions(std::uint16_t coded, std::uint16_t nb_frag) {
    ParityLine line;
    parity_line(coded, nb_frag, line);
    std::vector<int> out;
    for (int p = 0; p < nb_frag; ++p)
        if (line[p / 8] >> (p % 8) & 1) out.push_back(p);
    return out;
}

TEST_CASE("parity lines are drawn as senders draw them") {
    CHECK(prbs23(1) == 4194304);
    CHECK(prbs23(2) == 1);
    CHECK(positions(1, 4) == std::vector<int>{0, 2});
    CHECK(positions(2, 6) == std::vector<int>{0, 3, 4});
    CHECK(positions(1, 16) == std::vector<int>{0, 1, 2, 4, 5, 10, 13, 15});
    // Draws that land twice on one position set it once.
    CHECK(positions(1, 6) == std::vector<int>{0, 1});
    CHECK(positions(1, 10) == std::vector<int>{2, 5});
    CHECK(positions(7, 1).empty());
}

// A receiver with its own memory, as a caller would keep it.
struct Receiver {
    std::uint16_t nb_frag;
    std::uint8_t frag_size;
    Bytes block;
    Bytes storage;
    DefragProgress progress;

    Receiver(std::uint16_t n, std::uint8_t size, std::uint16_t rows)
        : nb_frag(n), frag_size(size), block(std::size_t{n} * size), storage(defrag_storage_size(n, rows)) {}

    std::expected<bool, FragError> take(std::uint16_t number, const Bytes& data) {
        auto d = Defragmenter::resumed(nb_frag, frag_size, block, storage, progress);
        REQUIRE(d.has_value());
        auto result = d->fragment(number, data);
        progress = d->progress();
        return result;
    }
};

Bytes fragment_of(const Fragmenter& f, std::uint16_t n) {
    Bytes out(f.frag_size());
    REQUIRE(f.fragment(n, out).has_value());
    return out;
}

TEST_CASE("random blocks with losses up to the rows rebuild exactly") {
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        CAPTURE(round);
        const std::size_t length = 1 + rng() % 3000;
        const auto frag_size = static_cast<std::uint8_t>(1 + rng() % 60);
        Bytes block(length);
        for (auto& b : block)
            b = static_cast<std::uint8_t>(rng());
        const auto f = Fragmenter::make(block, frag_size).value();
        const std::uint16_t rows = static_cast<std::uint16_t>(std::min<int>(f.nb_frag(), 1 + rng() % 20));
        Receiver r(f.nb_frag(), frag_size, rows);
        int lost = 0;
        bool whole = false;
        for (std::uint16_t n = 1; n <= f.nb_frag(); ++n) {
            if (lost < rows && rng() % 4 == 0) {
                ++lost;
                continue;
            }
            whole = r.take(n, fragment_of(f, n)).value();
        }
        for (std::uint16_t n = static_cast<std::uint16_t>(f.nb_frag() + 1); !whole && n < 60000; ++n)
            whole = r.take(n, fragment_of(f, n)).value();
        REQUIRE(whole);
        CHECK(Bytes(r.block.begin(), r.block.begin() + static_cast<std::ptrdiff_t>(length)) == block);
    }
}

TEST_CASE("losses beyond the rows fail every coded fragment") {
    const Bytes block(40, 0x5A);
    const auto f = Fragmenter::make(block, 4).value();
    Receiver r(f.nb_frag(), 4, 2);
    for (std::uint16_t n : {1, 5, 6, 7, 8})
        CHECK_FALSE(r.take(n, fragment_of(f, n)).value());
    CHECK(r.take(11, fragment_of(f, 11)).error() == FragError::TooManyLost);
    CHECK(r.progress.missing == 5);
    CHECK(r.progress.received == 6);
    Receiver none(f.nb_frag(), 4, 0);
    CHECK_FALSE(none.take(2, fragment_of(f, 2)).value());
    CHECK(none.take(11, fragment_of(f, 11)).error() == FragError::TooManyLost);
}

TEST_CASE("fragments that are not part of the session change nothing") {
    Receiver r(4, 8, 2);
    CHECK(r.take(0, Bytes(8)).error() == FragError::NotInSession);
    CHECK(r.take(1, Bytes(7)).error() == FragError::NotInSession);
    CHECK(r.progress.received == 0);
    for (std::uint16_t n = 1; n <= 4; ++n)
        CHECK(r.take(n, Bytes(8, static_cast<std::uint8_t>(n))).value() == (n == 4));
    CHECK(r.take(9, Bytes(8)).value());
    CHECK(r.progress.received == 5);
    CHECK(r.take(0, Bytes(8)).error() == FragError::NotInSession);
}

TEST_CASE("a repeated coded fragment adds no row") {
    const Bytes block(24, 0x11);
    const auto f = Fragmenter::make(block, 4).value();
    Receiver r(f.nb_frag(), 4, 3);
    for (std::uint16_t n : {1, 2, 6})
        CHECK_FALSE(r.take(n, fragment_of(f, n)).value());
    CHECK_FALSE(r.take(7, fragment_of(f, 7)).value());
    const auto solved = r.progress.solved;
    const Bytes storage = r.storage;
    CHECK_FALSE(r.take(7, fragment_of(f, 7)).value());
    CHECK(r.progress.solved == solved);
    CHECK(r.storage == storage);
}

TEST_CASE("sessions and progress that do not fit are refused before anything is touched") {
    Bytes block(16, 0);
    Bytes storage(defrag_storage_size(4, 2));
    CHECK(Defragmenter::resumed(16384, 1, block, storage, {}).error() == FragError::UnsupportedSession);
    CHECK(Defragmenter::resumed(4, 0, block, storage, {}).error() == FragError::UnsupportedSession);
    CHECK(Defragmenter::resumed(4, 4, std::span(block).first(15), storage, {}).error() == FragError::StorageTooSmall);
    CHECK(Defragmenter::resumed(4, 4, block, storage, {}).value().rows() == 2);
    CHECK(Defragmenter::resumed(4, 4, block, storage, {.seen = 5}).error() == FragError::UnsupportedSession);
    CHECK(Defragmenter::resumed(4, 4, block, storage, {.missing = 1, .solved = 2}).error() ==
          FragError::UnsupportedSession);
    storage[2] = 9;  // a missing-list entry past the block
    CHECK(Defragmenter::resumed(4, 4, block, storage, {.missing = 1}).error() == FragError::UnsupportedSession);
}

TEST_CASE("the fragmenter cuts blocks and pads the last piece") {
    const Bytes block{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const auto f = Fragmenter::make(block, 4).value();
    CHECK(f.nb_frag() == 3);
    CHECK(f.padding() == 2);
    CHECK(fragment_of(f, 3) == Bytes{8, 9, 0, 0});
    Bytes out(3);
    CHECK(f.fragment(1, out).error().kind == LorawanError::Kind::PayloadTooLarge);
    out.resize(4);
    CHECK(f.fragment(0, out).error().kind == LorawanError::Kind::Malformed);
    CHECK_FALSE(Fragmenter::make({}, 4).has_value());
    CHECK_FALSE(Fragmenter::make(block, 0).has_value());
    const Bytes big(16384, 0);
    CHECK_FALSE(Fragmenter::make(big, 1).has_value());
}

TEST_CASE("the block code is the same however the block is split") {
    const std::array<std::uint8_t, 16> root{};
    const BlockKey key = data_block_int_key(root);
    const BlockMicKey mic_key(key);
    Bytes block(100);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i);
    auto whole = mic_key.start(3, 1, 0x04030201, 100);
    whole.update(block);
    auto pieces = mic_key.start(3, 1, 0x04030201, 100);
    pieces.update(std::span(block).first(17)).update({}).update(std::span(block).subspan(17));
    CHECK(whole.finish() == pieces.finish());
}

}  // namespace
}  // namespace trovik::lorawan::packages::fragment
