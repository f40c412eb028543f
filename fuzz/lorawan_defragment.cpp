// Fragmented data blocks: a block from the input cut into fragments, fed to a
// receiver in an order, with losses, repeats and stray fragments the input
// chooses. Whatever it is fed, the receiver stays inside its memory, and
// once it says the block is whole the block is exactly the one sent.
// libFuzzer options: -max_len=2000
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/lorawan_packages/defragment.hpp"

using namespace trovik::lorawan::packages::fragment;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const auto frag_size = static_cast<std::uint8_t>(1 + data[0] % 16);
    const std::size_t block_len = 1 + data[1] % 200;
    const std::uint8_t max_lost = data[2];
    std::span<const std::uint8_t> rest(data + 3, size - 3);
    std::vector<std::uint8_t> block(block_len);
    for (std::size_t i = 0; i < block_len; ++i)
        block[i] = static_cast<std::uint8_t>(i * 31 + data[3]);

    const auto sender = Fragmenter::make(block, frag_size);
    FUZZ_CHECK(sender.has_value());
    const std::uint16_t nb_frag = sender->nb_frag();
    const auto rows = std::min<std::uint16_t>(max_lost, nb_frag);
    std::vector<std::uint8_t> rebuilt(std::size_t{nb_frag} * frag_size);
    std::vector<std::uint8_t> storage(defrag_storage_size(nb_frag, rows));
    DefragProgress progress;
    std::vector<std::uint8_t> piece(frag_size);

    // Each step: a fragment number, and whether to send it as built or as
    // stray bytes of the input.
    for (std::size_t at = 0; at + 2 <= rest.size(); at += 2) {
        const std::uint16_t n = static_cast<std::uint16_t>(rest[at] % (nb_frag + 24));
        const bool stray = (rest[at + 1] & 0xE0) == 0xE0;
        if (n > 0) FUZZ_CHECK(sender->fragment(n, piece).has_value());
        if (stray) std::ranges::fill(piece, rest[at + 1]);
        auto receiver = Defragmenter::resumed(nb_frag, frag_size, rebuilt, storage, progress);
        FUZZ_CHECK(receiver.has_value());
        FUZZ_CHECK(receiver->rows() == rows);
        const auto result = receiver->fragment(n, piece);
        progress = receiver->progress();
        if (stray) return 0;  // what was fed is no longer the block's
        if (n == 0) FUZZ_CHECK(!result && result.error() == FragError::NotInSession);
        if (result && *result) {
            FUZZ_CHECK(progress.done);
            FUZZ_CHECK(std::ranges::equal(std::span(rebuilt).first(block_len), block));
        }
        if (!result && result.error() == FragError::TooManyLost) FUZZ_CHECK(progress.missing > rows);
    }
    return 0;
}
