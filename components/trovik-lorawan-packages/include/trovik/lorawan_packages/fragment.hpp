#pragma once
// The commands of the fragmented data block transport package (port 201).
// What happens to the block is in defragment.hpp.
#include <array>
#include <cstdint>
#include <span>

#include "trovik/lorawan_packages/command.hpp"

namespace trovik::lorawan::packages::fragment {

// Fragment numbers travel in 14 bits.
inline constexpr std::uint16_t kMaxFragments = 16383;

enum class FragKind : std::uint8_t {
    PackageVersionReq,
    PackageVersionAns,
    SessionStatusReq,
    SessionStatusAns,
    SessionSetupReq,
    SessionSetupAns,
    SessionDeleteReq,
    SessionDeleteAns,
    DataBlockReceivedReq,
    DataBlockReceivedAns,
    DataFragment,
};

struct FragCommand {
    FragKind kind = FragKind::PackageVersionReq;
    std::uint8_t package = 0;
    std::uint8_t version = 0;
    std::uint8_t frag_index = 0;
    bool all_participants = false;
    bool memory_error = false;
    bool mic_error = false;
    bool no_session = false;
    std::uint16_t received = 0;
    std::uint8_t missing = 0;
    std::uint8_t mc_group_bit_mask = 0;
    std::uint16_t nb_frag = 0;
    std::uint8_t frag_size = 0;
    std::uint8_t block_ack_delay = 0;
    std::uint8_t frag_algo = 0;
    bool ack_reception = false;
    std::uint8_t padding = 0;
    std::array<std::uint8_t, 4> descriptor{};
    std::uint16_t session_cnt = 0;
    std::array<std::uint8_t, 4> mic{};
    bool unsupported_algorithm = false;
    bool unsupported_index = false;
    bool wrong_descriptor = false;
    bool session_replay = false;
    std::uint16_t fragment_n = 0;
    // A data fragment's bytes: a view of the payload it was read from, or of
    // the caller's bytes when encoding.
    std::span<const std::uint8_t> data{};

    // A data fragment takes the whole rest of the payload.
    static ParseResult<FragCommand> parse(Direction direction, std::span<const std::uint8_t> payload);
    // Refuses a fragment number above 16383, which 14 bits would turn into
    // another fragment's number.
    EncodeResult encode(std::span<std::uint8_t> out) const;
};

}  // namespace trovik::lorawan::packages::fragment
