#include "trovik/lorawan_packages/multicast.hpp"

#include <algorithm>

#include "trovik/core/little_endian.hpp"
#include "trovik/crypto/aes128.hpp"
#include "wire.hpp"

namespace trovik::lorawan::packages::multicast {

using core::read_le;
using core::write_le;

namespace {

// A session answer carries its start time only when none of its error bits
// (2 to 5) is set.
constexpr std::uint8_t kSessionErrorBits = 0x3C;

std::size_t session_answer_length(std::uint8_t status) { return (status & kSessionErrorBits) == 0 ? 5 : 2; }

}  // namespace

ParseResult<McCommand> McCommand::parse(Direction direction, std::span<const std::uint8_t> p) {
    if (p.empty()) return wire::malformed();
    const std::uint8_t id = p[0];
    const bool up = direction == Direction::Uplink;
    McCommand c;
    std::size_t length = 0;
    switch (id) {
        case 0x00: c.kind = up ? McKind::PackageVersionAns : McKind::PackageVersionReq, length = up ? 3 : 1; break;
        case 0x01: c.kind = up ? McKind::GroupStatusAns : McKind::GroupStatusReq, length = 2; break;
        case 0x02: c.kind = up ? McKind::GroupSetupAns : McKind::GroupSetupReq, length = up ? 2 : 30; break;
        case 0x03: c.kind = up ? McKind::GroupDeleteAns : McKind::GroupDeleteReq, length = 2; break;
        case 0x04: c.kind = up ? McKind::ClassCSessionAns : McKind::ClassCSessionReq, length = up ? 2 : 11; break;
        case 0x05: c.kind = up ? McKind::ClassBSessionAns : McKind::ClassBSessionReq, length = up ? 2 : 11; break;
        default: return wire::unknown(id);
    }
    if (p.size() < length) return wire::malformed();
    const bool session_answer = c.kind == McKind::ClassCSessionAns || c.kind == McKind::ClassBSessionAns;
    if (session_answer) {
        length = session_answer_length(p[1]);
        if (p.size() < length) return wire::malformed();
    }
    switch (c.kind) {
        case McKind::PackageVersionReq: break;
        case McKind::PackageVersionAns: c.package = p[1], c.version = p[2]; break;
        case McKind::GroupStatusReq: c.group_mask = p[1] & 0x0F; break;
        case McKind::GroupStatusAns:
            c.group_mask = p[1] & 0x0F;
            c.nb_total_groups = p[1] >> 4 & 0x07;
            break;
        case McKind::GroupSetupReq:
            c.mc_group_id = p[1] & 0x03;
            c.mc_addr = read_le(&p[2], 4);
            std::copy_n(&p[6], 16, c.mc_key_encrypted.begin());
            c.min_mc_fcnt = read_le(&p[22], 4);
            c.max_mc_fcnt = read_le(&p[26], 4);
            break;
        case McKind::GroupSetupAns:
            c.mc_group_id = p[1] & 0x03;
            c.id_error = wire::has(p[1], 2);
            break;
        case McKind::GroupDeleteReq: c.mc_group_id = p[1] & 0x03; break;
        case McKind::GroupDeleteAns:
            c.mc_group_id = p[1] & 0x03;
            c.no_session = wire::has(p[1], 2);
            break;
        case McKind::ClassCSessionReq:
        case McKind::ClassBSessionReq:
            c.mc_group_id = p[1] & 0x03;
            c.session_time = read_le(&p[2], 4);
            c.time_out = p[6] & 0x0F;
            if (c.kind == McKind::ClassBSessionReq) c.periodicity = p[6] >> 4 & 0x07;
            c.dl_frequency_hz = read_le(&p[7], 3) * 100;
            c.data_rate = p[10];
            break;
        case McKind::ClassCSessionAns:
        case McKind::ClassBSessionAns:
            c.mc_group_id = p[1] & 0x03;
            c.dr_error = wire::has(p[1], 2);
            c.freq_error = wire::has(p[1], 3);
            c.no_session = wire::has(p[1], 4);
            c.start_missed = wire::has(p[1], 5);
            if (length == 5) c.time_to_start = read_le(&p[2], 3);
            break;
        case McKind::GroupStatusItem: break;  // has no identifier: never reached
    }
    return Parsed<McCommand>{c, length};
}

ParseResult<McCommand> McCommand::parse_status_item(std::span<const std::uint8_t> p) {
    if (p.size() < 5) return wire::malformed();
    McCommand c;
    c.kind = McKind::GroupStatusItem;
    c.mc_group_id = p[0] & 0x03;
    c.mc_addr = read_le(&p[1], 4);
    return Parsed<McCommand>{c, 5};
}

EncodeResult McCommand::encode(std::span<std::uint8_t> out) const {
    const bool session_answer = kind == McKind::ClassCSessionAns || kind == McKind::ClassBSessionAns;
    const bool session_error = dr_error || freq_error || no_session || start_missed;
    // An answer that says nothing went wrong must say when the session
    // starts: without it the parser would take it as cut short.
    if (session_answer && !session_error && !time_to_start) return wire::malformed();
    std::size_t length = 2;
    std::uint8_t id = 0;
    switch (kind) {
        case McKind::PackageVersionReq: length = 1, id = 0x00; break;
        case McKind::PackageVersionAns: length = 3, id = 0x00; break;
        case McKind::GroupStatusReq:
        case McKind::GroupStatusAns: id = 0x01; break;
        case McKind::GroupStatusItem: length = 5; break;
        case McKind::GroupSetupReq: length = 30, id = 0x02; break;
        case McKind::GroupSetupAns: id = 0x02; break;
        case McKind::GroupDeleteReq:
        case McKind::GroupDeleteAns: id = 0x03; break;
        case McKind::ClassCSessionReq: length = 11, id = 0x04; break;
        case McKind::ClassBSessionReq: length = 11, id = 0x05; break;
        case McKind::ClassCSessionAns: length = session_error ? 2 : 5, id = 0x04; break;
        case McKind::ClassBSessionAns: length = session_error ? 2 : 5, id = 0x05; break;
    }
    if (out.size() < length) return wire::too_large();
    std::uint8_t* o = out.data();
    if (kind == McKind::GroupStatusItem) {
        o[0] = mc_group_id & 0x03;
        write_le(&o[1], mc_addr, 4);
        return length;
    }
    o[0] = id;
    const std::uint8_t group = mc_group_id & 0x03;
    switch (kind) {
        case McKind::PackageVersionReq:
        case McKind::GroupStatusItem: break;
        case McKind::PackageVersionAns: o[1] = package, o[2] = version; break;
        case McKind::GroupStatusReq: o[1] = group_mask & 0x0F; break;
        case McKind::GroupStatusAns:
            o[1] = static_cast<std::uint8_t>((group_mask & 0x0F) | (nb_total_groups & 0x07) << 4);
            break;
        case McKind::GroupSetupReq:
            o[1] = group;
            write_le(&o[2], mc_addr, 4);
            std::ranges::copy(mc_key_encrypted, &o[6]);
            write_le(&o[22], min_mc_fcnt, 4);
            write_le(&o[26], max_mc_fcnt, 4);
            break;
        case McKind::GroupSetupAns: o[1] = group | wire::bit(id_error, 2); break;
        case McKind::GroupDeleteReq: o[1] = group; break;
        case McKind::GroupDeleteAns: o[1] = group | wire::bit(no_session, 2); break;
        case McKind::ClassCSessionReq:
        case McKind::ClassBSessionReq:
            o[1] = group;
            write_le(&o[2], session_time, 4);
            o[6] = time_out & 0x0F;
            if (kind == McKind::ClassBSessionReq) o[6] |= static_cast<std::uint8_t>((periodicity & 0x07) << 4);
            write_le(&o[7], dl_frequency_hz / 100, 3);
            o[10] = data_rate;
            break;
        case McKind::ClassCSessionAns:
        case McKind::ClassBSessionAns:
            o[1] = group | wire::bit(dr_error, 2) | wire::bit(freq_error, 3) | wire::bit(no_session, 4) |
                   wire::bit(start_missed, 5);
            if (length == 5) write_le(&o[2], *time_to_start, 3);
            break;
    }
    return length;
}

// ---- keys ------------------------------------------------------------------------

namespace {

Key encrypt(KeyView key, const crypto::AesBlock& block) { return crypto::Cipher(key).encrypt_block(block); }

crypto::AesBlock copy_block(KeyView bytes) {
    crypto::AesBlock block;
    std::ranges::copy(bytes, block.begin());
    return block;
}

crypto::AesBlock session_block(std::uint8_t lead, std::uint32_t mc_addr) {
    crypto::AesBlock block{};
    block[0] = lead;
    write_le(&block[1], mc_addr, 4);
    return block;
}

}  // namespace

Key mc_root_key_for(KeyView key, bool lorawan11) {
    crypto::AesBlock block{};
    block[0] = lorawan11 ? 0x20 : 0x00;
    return encrypt(key, block);
}

Key mc_ke_key(KeyView mc_root_key) { return encrypt(mc_root_key, crypto::AesBlock{}); }

Key mc_key(KeyView mc_ke_key, KeyView wrapped) { return encrypt(mc_ke_key, copy_block(wrapped)); }

// The server wraps with the inverse cipher so that a device, which needs
// only the forward one, unwraps with it.
Key wrap_mc_key(KeyView mc_ke_key, KeyView mc_key) {
    return crypto::Cipher(mc_ke_key).decrypt_block(copy_block(mc_key));
}

Key mc_app_s_key(KeyView mc_key, std::uint32_t mc_addr) { return encrypt(mc_key, session_block(0x01, mc_addr)); }

Key mc_nwk_s_key(KeyView mc_key, std::uint32_t mc_addr) { return encrypt(mc_key, session_block(0x02, mc_addr)); }

}  // namespace trovik::lorawan::packages::multicast
