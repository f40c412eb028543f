#include "trovik/lorawan_packages/defragment.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "trovik/core/little_endian.hpp"

namespace trovik::lorawan::packages::fragment {

namespace {

constexpr std::size_t set_bytes(std::uint32_t positions) noexcept { return (std::size_t{positions} + 7) / 8; }
bool test(const std::uint8_t* set, std::uint32_t i) noexcept { return (set[i / 8] >> (i % 8) & 1u) != 0; }
void put(std::uint8_t* set, std::uint32_t i) noexcept { set[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8)); }
void xor_into(std::uint8_t* to, const std::uint8_t* from, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i)
        to[i] ^= from[i];
}

std::unexpected<LorawanError> malformed() { return std::unexpected(LorawanError{LorawanError::Kind::Malformed}); }

}  // namespace

// Each draw sets one position, a draw that lands on a position already set
// included: the line senders build, so coded fragments from any of them
// decode here.
void parity_line(std::uint16_t coded, std::uint16_t nb_frag, ParityLine& line) noexcept {
    const std::uint16_t positions = std::min(nb_frag, kSessionLimit);
    std::fill_n(line.begin(), set_bytes(positions), std::uint8_t{0});
    if (positions <= 1 || positions != nb_frag) return;
    const std::uint32_t nm = std::has_single_bit(nb_frag) ? nb_frag + 1u : nb_frag;
    std::uint32_t x = 1u + 1001u * coded;
    for (int draws = 0; draws < nb_frag / 2; ++draws) {
        std::uint32_t r = 0;
        do {
            x = prbs23(x);
            r = x % nm;
        } while (r >= nb_frag);
        put(line.data(), r);
    }
}

// ---- Fragmenter -----------------------------------------------------------------------

std::expected<FragPlan, LorawanError> Fragmenter::plan(std::size_t block_len, std::uint8_t frag_size) {
    if (frag_size == 0) return malformed();
    const std::size_t count = block_len / frag_size + (block_len % frag_size != 0 ? 1 : 0);
    if (count == 0 || count > kSessionLimit) return malformed();
    return FragPlan{static_cast<std::uint16_t>(count), static_cast<std::uint8_t>(count * frag_size - block_len)};
}

std::expected<Fragmenter, LorawanError> Fragmenter::make(std::span<const std::uint8_t> block, std::uint8_t frag_size) {
    const auto p = plan(block.size(), frag_size);
    if (!p) return std::unexpected(p.error());
    return Fragmenter(block, p->nb_frag, frag_size, p->padding);
}

void Fragmenter::xor_piece(std::uint16_t position, std::span<std::uint8_t> out) const noexcept {
    const std::size_t start = std::size_t{position} * frag_size_;
    const std::size_t end = std::min(start + frag_size_, block_.size());
    xor_into(out.data(), block_.data() + start, end - start);
}

std::expected<std::size_t, LorawanError> Fragmenter::fragment(std::uint16_t n, std::span<std::uint8_t> out) const {
    if (out.size() < frag_size_) return std::unexpected(LorawanError{LorawanError::Kind::PayloadTooLarge});
    if (n == 0) return malformed();
    const auto piece = out.first(frag_size_);
    std::ranges::fill(piece, std::uint8_t{0});
    if (n <= nb_frag_) {
        xor_piece(static_cast<std::uint16_t>(n - 1), piece);
        return frag_size_;
    }
    ParityLine line;
    parity_line(static_cast<std::uint16_t>(n - nb_frag_), nb_frag_, line);
    for (std::uint16_t p = 0; p < nb_frag_; ++p)
        if (test(line.data(), p)) xor_piece(p, piece);
    return frag_size_;
}

// ---- Defragmenter -----------------------------------------------------------------------

std::string_view message(FragError error) noexcept {
    switch (error) {
        case FragError::UnsupportedSession: return "the fragmentation session is not one this runs";
        case FragError::StorageTooSmall: return "the storage is too small for the session";
        case FragError::TooManyLost: return "more fragments were lost than there is room to solve for";
        case FragError::NotInSession: return "the fragment is not part of the session";
    }
    return "the fragment is not part of the session";
}

std::expected<Defragmenter, FragError> Defragmenter::resumed(std::uint16_t nb_frag, std::uint8_t frag_size,
                                                             std::span<std::uint8_t> block,
                                                             std::span<std::uint8_t> storage,
                                                             const DefragProgress& progress) {
    if (nb_frag == 0 || nb_frag > kSessionLimit || frag_size == 0)
        return std::unexpected(FragError::UnsupportedSession);
    if (block.size() < std::size_t{nb_frag} * frag_size) return std::unexpected(FragError::StorageTooSmall);
    if (storage.size() < defrag_storage_size(nb_frag, 0)) return std::unexpected(FragError::StorageTooSmall);
    // The most rows the storage holds: the size grows with the rows, so the
    // largest fitting count is found by halving.
    std::uint16_t low = 0;
    std::uint16_t high = nb_frag;
    while (low < high) {
        const auto mid = static_cast<std::uint16_t>((low + high + 1) / 2);
        if (defrag_storage_size(nb_frag, mid) <= storage.size())
            low = mid;
        else
            high = static_cast<std::uint16_t>(mid - 1);
    }
    const Defragmenter d(nb_frag, frag_size, low, block, storage, progress);
    // A progress from elsewhere would send the elimination outside the
    // block or the storage.
    const std::uint16_t listed = std::min(progress.missing, d.rows_);
    if (progress.seen > nb_frag || progress.missing > nb_frag || progress.solved > listed)
        return std::unexpected(FragError::UnsupportedSession);
    for (std::uint16_t k = 0; k < listed; ++k)
        if (d.missing_entry(k) >= nb_frag) return std::unexpected(FragError::UnsupportedSession);
    return d;
}

std::span<std::uint8_t> Defragmenter::piece(std::uint16_t position) const noexcept {
    return block_.subspan(std::size_t{position} * frag_size_, frag_size_);
}

std::uint8_t* Defragmenter::row(std::uint16_t k) const noexcept { return storage_.data() + k * set_bytes(rows_); }

std::uint16_t Defragmenter::missing_entry(std::uint16_t k) const noexcept {
    return static_cast<std::uint16_t>(core::read_le(storage_.data() + rows_ * set_bytes(rows_) + 2 * k, 2));
}

bool Defragmenter::is_received(std::uint16_t position) const noexcept {
    return test(storage_.data() + rows_ * (set_bytes(rows_) + 2), position);
}

void Defragmenter::mark_received(std::uint16_t position) noexcept {
    put(storage_.data() + rows_ * (set_bytes(rows_) + 2), position);
}

void Defragmenter::record_losses(std::uint16_t from, std::uint16_t to) noexcept {
    for (std::uint16_t q = from; q < to; ++q) {
        if (is_received(q)) continue;
        if (progress_.missing < rows_)
            core::write_le(storage_.data() + rows_ * set_bytes(rows_) + 2 * progress_.missing, q, 2);
        ++progress_.missing;
    }
}

std::expected<bool, FragError> Defragmenter::fragment(std::uint16_t n, std::span<const std::uint8_t> data) {
    if (n == 0 || data.size() < frag_size_) return std::unexpected(FragError::NotInSession);
    data = data.first(frag_size_);
    if (progress_.received != 0xFFFF) ++progress_.received;
    if (progress_.done) return true;
    if (n > nb_frag_) return coded(static_cast<std::uint16_t>(n - nb_frag_), data);

    const auto p = static_cast<std::uint16_t>(n - 1);
    if (p >= progress_.seen) {
        std::ranges::copy(data, piece(p).begin());
        mark_received(p);
    }
    // A position below `seen` is either a repeat or already on the missing
    // list, where its piece may hold an equation's right-hand side: a late
    // copy is left out rather than pulled out of the system of equations.
    if (n > progress_.seen) {
        record_losses(progress_.seen, p);
        progress_.seen = n;
    }
    if (progress_.seen == nb_frag_ && progress_.missing == 0) progress_.done = true;
    return progress_.done;
}

std::expected<bool, FragError> Defragmenter::coded(std::uint16_t c, std::span<const std::uint8_t> data) {
    if (progress_.seen < nb_frag_) {
        record_losses(progress_.seen, nb_frag_);
        progress_.seen = nb_frag_;
    }
    const std::uint16_t missing = progress_.missing;
    if (missing == 0) {
        progress_.done = true;
        return true;
    }
    if (missing > rows_) return std::unexpected(FragError::TooManyLost);

    ParityLine line;
    parity_line(c, nb_frag_, line);
    const std::size_t width = set_bytes(rows_);
    std::array<std::uint8_t, kLineBytes> equation{};
    std::array<std::uint8_t, 255> rhs{};
    std::ranges::copy(data, rhs.begin());
    for (std::uint16_t k = 0; k < missing; ++k)
        if (test(line.data(), missing_entry(k))) put(equation.data(), k);
    for (std::uint16_t p = 0; p < nb_frag_; ++p)
        if (test(line.data(), p) && is_received(p)) xor_into(rhs.data(), piece(p).data(), frag_size_);

    // Rows stay in echelon form: stored row k has no bit below k.
    for (std::uint16_t k = 0; k < missing; ++k) {
        if (!test(equation.data(), k) || !test(row(k), k)) continue;
        xor_into(equation.data(), row(k), width);
        xor_into(rhs.data(), piece(missing_entry(k)).data(), frag_size_);
    }
    std::uint16_t lowest = 0;
    while (lowest < missing && !test(equation.data(), lowest))
        ++lowest;
    if (lowest == missing) return false;  // nothing new
    std::memcpy(row(lowest), equation.data(), width);
    std::memcpy(piece(missing_entry(lowest)).data(), rhs.data(), frag_size_);
    ++progress_.solved;
    if (progress_.solved < missing) return false;

    for (std::uint16_t k = missing; k-- > 0;) {
        const auto target = piece(missing_entry(k));
        for (std::uint16_t j = static_cast<std::uint16_t>(k + 1); j < missing; ++j)
            if (test(row(k), j)) xor_into(target.data(), piece(missing_entry(j)).data(), frag_size_);
        mark_received(missing_entry(k));
    }
    progress_.done = true;
    return true;
}

}  // namespace trovik::lorawan::packages::fragment
