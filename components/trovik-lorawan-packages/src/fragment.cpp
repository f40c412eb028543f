#include "trovik/lorawan_packages/fragment.hpp"

#include <algorithm>

#include "trovik/core/little_endian.hpp"
#include "wire.hpp"

namespace trovik::lorawan::packages::fragment {

using core::read_le;
using core::write_le;

ParseResult<FragCommand> FragCommand::parse(Direction direction, std::span<const std::uint8_t> p) {
    if (p.empty()) return wire::malformed();
    const std::uint8_t id = p[0];
    const bool up = direction == Direction::Uplink;
    FragCommand c;
    std::size_t length = 2;
    switch (id) {
        case 0x00: c.kind = up ? FragKind::PackageVersionAns : FragKind::PackageVersionReq, length = up ? 3 : 1; break;
        case 0x01: c.kind = up ? FragKind::SessionStatusAns : FragKind::SessionStatusReq, length = up ? 5 : 2; break;
        case 0x02: c.kind = up ? FragKind::SessionSetupAns : FragKind::SessionSetupReq, length = up ? 2 : 17; break;
        case 0x03: c.kind = up ? FragKind::SessionDeleteAns : FragKind::SessionDeleteReq; break;
        case 0x04: c.kind = up ? FragKind::DataBlockReceivedReq : FragKind::DataBlockReceivedAns; break;
        case 0x08:
            if (up) return wire::unknown(id);
            c.kind = FragKind::DataFragment, length = 3;
            break;
        default: return wire::unknown(id);
    }
    if (p.size() < length) return wire::malformed();
    switch (c.kind) {
        case FragKind::PackageVersionReq: break;
        case FragKind::PackageVersionAns: c.package = p[1], c.version = p[2]; break;
        case FragKind::SessionStatusReq:
            c.all_participants = wire::has(p[1], 0);
            c.frag_index = p[1] >> 1 & 0x03;
            break;
        case FragKind::SessionStatusAns: {
            c.memory_error = wire::has(p[1], 0);
            c.mic_error = wire::has(p[1], 1);
            c.no_session = wire::has(p[1], 2);
            const auto word = static_cast<std::uint16_t>(read_le(&p[2], 2));
            c.received = word & 0x3FFF;
            c.frag_index = static_cast<std::uint8_t>(word >> 14);
            c.missing = p[4];
            break;
        }
        case FragKind::SessionSetupReq:
            c.mc_group_bit_mask = p[1] & 0x0F;
            c.frag_index = p[1] >> 4 & 0x03;
            c.nb_frag = static_cast<std::uint16_t>(read_le(&p[2], 2));
            c.frag_size = p[4];
            c.block_ack_delay = p[5] & 0x07;
            c.frag_algo = p[5] >> 3 & 0x07;
            c.ack_reception = wire::has(p[5], 6);
            c.padding = p[6];
            std::copy_n(&p[7], 4, c.descriptor.begin());
            c.session_cnt = static_cast<std::uint16_t>(read_le(&p[11], 2));
            std::copy_n(&p[13], 4, c.mic.begin());
            break;
        case FragKind::SessionSetupAns:
            c.unsupported_algorithm = wire::has(p[1], 0);
            c.memory_error = wire::has(p[1], 1);
            c.unsupported_index = wire::has(p[1], 2);
            c.wrong_descriptor = wire::has(p[1], 3);
            c.session_replay = wire::has(p[1], 4);
            c.frag_index = p[1] >> 6 & 0x03;
            break;
        case FragKind::SessionDeleteReq:
        case FragKind::DataBlockReceivedAns: c.frag_index = p[1] & 0x03; break;
        case FragKind::SessionDeleteAns:
            c.frag_index = p[1] & 0x03;
            c.no_session = wire::has(p[1], 2);
            break;
        case FragKind::DataBlockReceivedReq:
            c.frag_index = p[1] & 0x03;
            c.mic_error = wire::has(p[1], 2);
            break;
        case FragKind::DataFragment: {
            const auto word = static_cast<std::uint16_t>(read_le(&p[1], 2));
            c.fragment_n = word & 0x3FFF;
            c.frag_index = static_cast<std::uint8_t>(word >> 14);
            c.data = p.subspan(3);
            length = p.size();
            break;
        }
    }
    return Parsed<FragCommand>{c, length};
}

EncodeResult FragCommand::encode(std::span<std::uint8_t> out) const {
    // Fourteen bits would send a larger number as another fragment's, which
    // the receiver would put in the wrong place in its block.
    if (kind == FragKind::DataFragment && fragment_n > kMaxFragments) return wire::malformed();
    std::size_t length = 2;
    std::uint8_t id = 0;
    switch (kind) {
        case FragKind::PackageVersionReq: length = 1; break;
        case FragKind::PackageVersionAns: length = 3; break;
        case FragKind::SessionStatusReq: id = 0x01; break;
        case FragKind::SessionStatusAns: length = 5, id = 0x01; break;
        case FragKind::SessionSetupReq: length = 17, id = 0x02; break;
        case FragKind::SessionSetupAns: id = 0x02; break;
        case FragKind::SessionDeleteReq:
        case FragKind::SessionDeleteAns: id = 0x03; break;
        case FragKind::DataBlockReceivedReq:
        case FragKind::DataBlockReceivedAns: id = 0x04; break;
        case FragKind::DataFragment: length = 3 + data.size(), id = 0x08; break;
    }
    if (out.size() < length) return wire::too_large();
    std::uint8_t* o = out.data();
    o[0] = id;
    const std::uint8_t index = frag_index & 0x03;
    switch (kind) {
        case FragKind::PackageVersionReq: break;
        case FragKind::PackageVersionAns: o[1] = package, o[2] = version; break;
        case FragKind::SessionStatusReq:
            o[1] = static_cast<std::uint8_t>(wire::bit(all_participants, 0) | index << 1);
            break;
        case FragKind::SessionStatusAns:
            o[1] = wire::bit(memory_error, 0) | wire::bit(mic_error, 1) | wire::bit(no_session, 2);
            write_le(&o[2], (received & 0x3FFFu) | std::uint32_t{index} << 14, 2);
            o[4] = missing;
            break;
        case FragKind::SessionSetupReq:
            o[1] = static_cast<std::uint8_t>((mc_group_bit_mask & 0x0F) | index << 4);
            write_le(&o[2], nb_frag, 2);
            o[4] = frag_size;
            o[5] = static_cast<std::uint8_t>((block_ack_delay & 0x07) | (frag_algo & 0x07) << 3 |
                                             wire::bit(ack_reception, 6));
            o[6] = padding;
            std::ranges::copy(descriptor, &o[7]);
            write_le(&o[11], session_cnt, 2);
            std::ranges::copy(mic, &o[13]);
            break;
        case FragKind::SessionSetupAns:
            o[1] = static_cast<std::uint8_t>(wire::bit(unsupported_algorithm, 0) | wire::bit(memory_error, 1) |
                                             wire::bit(unsupported_index, 2) | wire::bit(wrong_descriptor, 3) |
                                             wire::bit(session_replay, 4) | index << 6);
            break;
        case FragKind::SessionDeleteReq:
        case FragKind::DataBlockReceivedAns: o[1] = index; break;
        case FragKind::SessionDeleteAns: o[1] = index | wire::bit(no_session, 2); break;
        case FragKind::DataBlockReceivedReq: o[1] = index | wire::bit(mic_error, 2); break;
        case FragKind::DataFragment:
            write_le(&o[1], fragment_n | std::uint32_t{index} << 14, 2);
            std::ranges::copy(data, &o[3]);
            break;
    }
    return length;
}

}  // namespace trovik::lorawan::packages::fragment
