#pragma once
// A data block carried in fragments: the sender cuts it into uncoded pieces
// and then sends coded ones, each the exclusive-or of a pseudo-random half
// of the pieces; the receiver rebuilds lost pieces by an on-line elimination
// over GF(2) whose memory is sized by how many may be lost, not by the block.
//
// Nothing here allocates: the receiver's block and working storage belong
// to the caller, with the small progress value beside them, so a session
// survives a restart when the caller keeps all three.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "trovik/lorawan/error.hpp"

namespace trovik::lorawan::packages::fragment {

inline constexpr std::size_t kLineBytes = 2048;  // 16384 positions
inline constexpr std::uint16_t kSessionLimit = 16383;
using ParityLine = std::array<std::uint8_t, kLineBytes>;

// One step of the 23-bit sequence the parity lines are drawn from.
constexpr std::uint32_t prbs23(std::uint32_t x) noexcept { return (x >> 1) + (((x ^ (x >> 5)) & 1u) << 22); }

// The positions coded fragment `coded` (1 for the first) is made of, as a
// bit set over the first ceil(nb_frag / 8) bytes of `line`.
void parity_line(std::uint16_t coded, std::uint16_t nb_frag, ParityLine& line) noexcept;

// How a block of a given length is cut.
struct FragPlan {
    std::uint16_t nb_frag;
    std::uint8_t padding;  // the zero bytes that complete the last piece
};

class Fragmenter {
public:
    // Refused as malformed when `frag_size` is 0 or the block needs no
    // fragment or more than 16383.
    static std::expected<FragPlan, LorawanError> plan(std::size_t block_len, std::uint8_t frag_size);
    static std::expected<Fragmenter, LorawanError> make(std::span<const std::uint8_t> block, std::uint8_t frag_size);

    std::uint16_t nb_frag() const noexcept { return nb_frag_; }
    std::uint8_t frag_size() const noexcept { return frag_size_; }
    std::uint8_t padding() const noexcept { return padding_; }

    // Fragment `n` (from 1): a piece of the block up to nb_frag, a coded
    // fragment past it. Writes frag_size bytes.
    std::expected<std::size_t, LorawanError> fragment(std::uint16_t n, std::span<std::uint8_t> out) const;

private:
    Fragmenter(std::span<const std::uint8_t> block, std::uint16_t nb_frag, std::uint8_t frag_size,
               std::uint8_t padding) noexcept
        : block_(block), nb_frag_(nb_frag), frag_size_(frag_size), padding_(padding) {}
    void xor_piece(std::uint16_t position, std::span<std::uint8_t> out) const noexcept;

    std::span<const std::uint8_t> block_;
    std::uint16_t nb_frag_;
    std::uint8_t frag_size_;
    std::uint8_t padding_;
};

enum class FragError : std::uint8_t { UnsupportedSession, StorageTooSmall, TooManyLost, NotInSession };
std::string_view message(FragError error) noexcept;

// What the caller keeps between fragments, beside the block and storage.
struct DefragProgress {
    std::uint16_t received = 0;  // every fragment taken; stops at 65535
    std::uint16_t missing = 0;   // uncoded fragments found lost, counting past the rows
    std::uint16_t solved = 0;    // equation rows held
    std::uint16_t seen = 0;      // leading positions accounted for
    bool done = false;
};

// The storage a session needs to solve for `rows` lost fragments.
constexpr std::size_t defrag_storage_size(std::uint16_t nb_frag, std::uint16_t rows) noexcept {
    return (std::size_t{nb_frag} + 7) / 8 + std::size_t{rows} * ((std::size_t{rows} + 7) / 8 + 2);
}

class Defragmenter {
public:
    // Takes the caller's memory for one call or many. Refuses a progress
    // that does not fit the session (one kept from another session, say), so
    // that nothing later reads outside the block or storage.
    static std::expected<Defragmenter, FragError> resumed(std::uint16_t nb_frag, std::uint8_t frag_size,
                                                          std::span<std::uint8_t> block,
                                                          std::span<std::uint8_t> storage,
                                                          const DefragProgress& progress);

    // Takes fragment `n` (from 1); true once the block is whole. The caller
    // saves the progress after every call, whatever it returned.
    std::expected<bool, FragError> fragment(std::uint16_t n, std::span<const std::uint8_t> data);

    const DefragProgress& progress() const noexcept { return progress_; }
    std::uint16_t rows() const noexcept { return rows_; }

private:
    Defragmenter(std::uint16_t nb_frag, std::uint8_t frag_size, std::uint16_t rows, std::span<std::uint8_t> block,
                 std::span<std::uint8_t> storage, const DefragProgress& progress) noexcept
        : block_(block),
          storage_(storage),
          progress_(progress),
          nb_frag_(nb_frag),
          rows_(rows),
          frag_size_(frag_size) {}

    std::span<std::uint8_t> piece(std::uint16_t position) const noexcept;
    std::uint8_t* row(std::uint16_t k) const noexcept;
    std::uint16_t missing_entry(std::uint16_t k) const noexcept;
    bool is_received(std::uint16_t position) const noexcept;
    void mark_received(std::uint16_t position) noexcept;
    void record_losses(std::uint16_t from, std::uint16_t to) noexcept;
    std::expected<bool, FragError> coded(std::uint16_t c, std::span<const std::uint8_t> data);

    std::span<std::uint8_t> block_;
    std::span<std::uint8_t> storage_;
    DefragProgress progress_;
    std::uint16_t nb_frag_;
    std::uint16_t rows_;
    std::uint8_t frag_size_;
};

}  // namespace trovik::lorawan::packages::fragment
