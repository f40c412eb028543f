// The commands of the four application-layer packages as one Python value,
// and the functions that write and read them.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding.hpp"
#include "lorawan_packages/image_status.hpp"
#include "trovik/core/text.hpp"
#include "trovik/lorawan_packages/clock.hpp"
#include "trovik/lorawan_packages/firmware.hpp"
#include "trovik/lorawan_packages/fragment.hpp"
#include "trovik/lorawan_packages/multicast.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan_packages"};

namespace {

namespace lp = lorawan::packages;
using lp::Direction;
using Bytes = std::vector<std::uint8_t>;

// name, type held, docstring; in constructor order.
#define TROVIK_PACKAGE_FIELDS(X)                                                                                    \
    X(package, std::uint8_t, "The package identifier a version answer carries.")                                    \
    X(version, std::uint8_t, "The package version it implements.")                                                  \
    X(device_time, std::uint32_t, "A device's own clock, in seconds since the GPS epoch.")                          \
    X(time_correction, std::int32_t, "The seconds to add to a device's clock.")                                     \
    X(token, std::uint8_t, "The token that pairs a clock answer with its request.")                                 \
    X(ans_required, bool, "Whether a clock request must be answered.")                                              \
    X(period, std::uint8_t, "The coded period between clock requests.")                                             \
    X(not_supported, bool, "Whether a device manages its own clock periodicity.")                                   \
    X(transmissions, std::uint8_t, "How many requests a resynchronization command asks for.")                       \
    X(firmware, std::uint32_t, "The firmware a device reports running.")                                            \
    X(hardware, std::uint32_t, "The hardware it runs on.")                                                          \
    X(reboot, std::uint32_t, "The moment or the delay a reboot is set for.")                                        \
    X(image_status, std::string, "What a device makes of the upgrade image it holds.")                              \
    X(next_version, std::uint32_t, "The version it would run once that image is installed.")                        \
    X(delete_version, std::uint32_t, "The version a delete command names.")                                         \
    X(no_valid_image, bool, "Whether a device holds no valid image.")                                               \
    X(invalid_version, bool, "Whether the version named is not the one held.")                                      \
    X(frag_index, std::uint8_t, "Which fragmentation session, 0 to 3.")                                             \
    X(mc_group_bit_mask, std::uint8_t, "Which multicast groups may feed it, a bit for each.")                       \
    X(nb_frag, std::uint16_t, "How many uncoded fragments a block was cut into.")                                   \
    X(frag_size, std::uint8_t, "How many bytes each fragment carries.")                                             \
    X(ack_reception, bool, "Whether a device reports the block once it has it.")                                    \
    X(frag_algo, std::uint8_t, "Which fragmentation algorithm to run.")                                             \
    X(block_ack_delay, std::uint8_t, "The coded spread of the delay before a device answers.")                      \
    X(padding, std::uint8_t, "How many bytes of padding the last fragment carries.")                                \
    X(descriptor, std::vector<std::uint8_t>, "The four bytes a server describes a block with.")                     \
    X(session_cnt, std::uint16_t, "The session counter, which must rise for each new block.")                       \
    X(mic, std::vector<std::uint8_t>, "The code over the block a device checks once it has it all.")                \
    X(received, std::uint16_t, "How many fragments arrived, coded, uncoded and repeated.")                          \
    X(missing, std::uint8_t, "How many uncoded fragments are still missing.")                                       \
    X(mic_error, bool, "Whether the block's code did not check out.")                                               \
    X(memory_error, bool, "Whether a session ran out of memory to defragment with.")                                \
    X(no_session, bool, "Whether the session or group named does not exist on the device.")                         \
    X(unsupported_algorithm, bool, "Whether the setup named an algorithm the device does not run.")                 \
    X(unsupported_index, bool, "Whether the setup named an index the device does not keep.")                        \
    X(wrong_descriptor, bool, "Whether the descriptor is not one the device accepts.")                              \
    X(session_replay, bool, "Whether the session counter repeats one already used.")                                \
    X(all_participants, bool, "Whether every device answers a status request.")                                     \
    X(fragment_n, std::uint16_t, "Which fragment of a session a data fragment carries, counting from one.")         \
    X(data, std::vector<std::uint8_t>, "The bytes a data fragment carries.")                                        \
    X(mc_group_id, std::uint8_t, "Which multicast group, 0 to 3.")                                                  \
    X(mc_addr, std::uint32_t, "The address a group answers to.")                                                    \
    X(mc_key_encrypted, std::vector<std::uint8_t>, "A group's key, wrapped under the device's key encryption key.") \
    X(min_mc_fcnt, std::uint32_t, "The first frame counter a device accepts from a group.")                         \
    X(max_mc_fcnt, std::uint32_t, "The last one, which ends the group's life.")                                     \
    X(group_mask, std::uint8_t, "Which groups a status request or answer covers, a bit for each.")                  \
    X(nb_total_groups, std::uint8_t, "How many groups a device holds in all.")                                      \
    X(id_error, bool, "Whether a device holds no group by the identifier named.")                                   \
    X(session_time, std::uint32_t, "When a multicast window opens, in seconds since the GPS epoch.")                \
    X(time_out, std::uint8_t, "How long it lasts at most, coded.")                                                  \
    X(periodicity, std::uint8_t, "How often a device opens a ping slot inside a Class B window.")                   \
    X(dl_frequency_hz, std::uint32_t, "Where a group listens, in hertz.")                                           \
    X(data_rate, std::uint8_t, "The data rate it listens at.")                                                      \
    X(time_to_start, std::uint32_t, "How many seconds until a window opens.")                                       \
    X(dr_error, bool, "Whether the data rate named is not one the device has.")                                     \
    X(freq_error, bool, "Whether the frequency named is not one it can use.")                                       \
    X(start_missed, bool, "Whether the window was to start at a time already past.")

struct PackageCommand {
    std::uint8_t port = 0;
    std::string kind;
    bool uplink = false;
#define TROVIK_PACKAGE_MEMBER(name, type, doc) std::optional<type> name{};
    TROVIK_PACKAGE_FIELDS(TROVIK_PACKAGE_MEMBER)
#undef TROVIK_PACKAGE_MEMBER
};

enum class F : std::uint8_t {
#define TROVIK_PACKAGE_ENUM(name, type, doc) name,
    TROVIK_PACKAGE_FIELDS(TROVIK_PACKAGE_ENUM)
#undef TROVIK_PACKAGE_ENUM
};

const char* field_name(F f) {
    switch (f) {
#define TROVIK_PACKAGE_NAME(name, type, doc) \
    case F::name: return #name;
        TROVIK_PACKAGE_FIELDS(TROVIK_PACKAGE_NAME)
#undef TROVIK_PACKAGE_NAME
    }
    return "";
}

bool is_set(const PackageCommand& c, F f) {
    switch (f) {
#define TROVIK_PACKAGE_SET(name, type, doc) \
    case F::name: return c.name.has_value();
        TROVIK_PACKAGE_FIELDS(TROVIK_PACKAGE_SET)
#undef TROVIK_PACKAGE_SET
    }
    return false;
}

void clear(PackageCommand& c, F f) {
    switch (f) {
#define TROVIK_PACKAGE_CLEAR(name, type, doc) \
    case F::name: c.name.reset(); break;
        TROVIK_PACKAGE_FIELDS(TROVIK_PACKAGE_CLEAR)
#undef TROVIK_PACKAGE_CLEAR
    }
}

// ---- the kinds each port knows ---------------------------------------------------------------

struct Attr {
    F field;
    bool required = false;
};
constexpr Attr req(F f) { return {f, true}; }

struct KindSpec {
    std::uint8_t port;
    const char* name;
    std::uint8_t kind;  // the package's kind enumeration, as its number
    bool uplink;
    std::initializer_list<Attr> attrs;
};

template <class E>
constexpr std::uint8_t k(E e) {
    return static_cast<std::uint8_t>(e);
}
using lp::clock::ClockKind;
using lp::firmware::FirmwareKind;
using lp::fragment::FragKind;
using lp::multicast::McKind;

const KindSpec kKinds[] = {
    {200, "package_version_req", k(McKind::PackageVersionReq), false, {}},
    {200, "package_version_ans", k(McKind::PackageVersionAns), true, {req(F::package), req(F::version)}},
    {200, "mc_group_status_req", k(McKind::GroupStatusReq), false, {req(F::group_mask)}},
    {200, "mc_group_status_ans", k(McKind::GroupStatusAns), true, {req(F::group_mask), {F::nb_total_groups}}},
    {200, "mc_group_status_item", k(McKind::GroupStatusItem), true, {req(F::mc_group_id), req(F::mc_addr)}},
    {200,
     "mc_group_setup_req",
     k(McKind::GroupSetupReq),
     false,
     {req(F::mc_group_id), req(F::mc_addr), req(F::mc_key_encrypted), {F::min_mc_fcnt}, {F::max_mc_fcnt}}},
    {200, "mc_group_setup_ans", k(McKind::GroupSetupAns), true, {req(F::mc_group_id), {F::id_error}}},
    {200, "mc_group_delete_req", k(McKind::GroupDeleteReq), false, {req(F::mc_group_id)}},
    {200, "mc_group_delete_ans", k(McKind::GroupDeleteAns), true, {req(F::mc_group_id), {F::no_session}}},
    {200,
     "mc_class_c_session_req",
     k(McKind::ClassCSessionReq),
     false,
     {req(F::mc_group_id), req(F::session_time), req(F::dl_frequency_hz), {F::time_out}, {F::data_rate}}},
    {200,
     "mc_class_c_session_ans",
     k(McKind::ClassCSessionAns),
     true,
     {{F::mc_group_id}, {F::dr_error}, {F::freq_error}, {F::no_session}, {F::start_missed}, {F::time_to_start}}},
    {200,
     "mc_class_b_session_req",
     k(McKind::ClassBSessionReq),
     false,
     {req(F::mc_group_id),
      req(F::session_time),
      req(F::dl_frequency_hz),
      {F::time_out},
      {F::periodicity},
      {F::data_rate}}},
    {200,
     "mc_class_b_session_ans",
     k(McKind::ClassBSessionAns),
     true,
     {{F::mc_group_id}, {F::dr_error}, {F::freq_error}, {F::no_session}, {F::start_missed}, {F::time_to_start}}},

    {201, "package_version_req", k(FragKind::PackageVersionReq), false, {}},
    {201, "package_version_ans", k(FragKind::PackageVersionAns), true, {req(F::package), req(F::version)}},
    {201, "frag_session_status_req", k(FragKind::SessionStatusReq), false, {req(F::frag_index), {F::all_participants}}},
    {201,
     "frag_session_status_ans",
     k(FragKind::SessionStatusAns),
     true,
     {req(F::frag_index), req(F::received), {F::missing}, {F::memory_error}, {F::mic_error}, {F::no_session}}},
    {201,
     "frag_session_setup_req",
     k(FragKind::SessionSetupReq),
     false,
     {req(F::frag_index),
      req(F::nb_frag),
      req(F::frag_size),
      req(F::descriptor),
      req(F::mic),
      {F::mc_group_bit_mask},
      {F::frag_algo},
      {F::block_ack_delay},
      {F::padding},
      {F::ack_reception},
      {F::session_cnt}}},
    {201,
     "frag_session_setup_ans",
     k(FragKind::SessionSetupAns),
     true,
     {req(F::frag_index),
      {F::unsupported_algorithm},
      {F::memory_error},
      {F::unsupported_index},
      {F::wrong_descriptor},
      {F::session_replay}}},
    {201, "frag_session_delete_req", k(FragKind::SessionDeleteReq), false, {req(F::frag_index)}},
    {201, "frag_session_delete_ans", k(FragKind::SessionDeleteAns), true, {req(F::frag_index), {F::no_session}}},
    {201,
     "frag_data_block_received_req",
     k(FragKind::DataBlockReceivedReq),
     true,
     {req(F::frag_index), {F::mic_error}}},
    {201, "frag_data_block_received_ans", k(FragKind::DataBlockReceivedAns), false, {req(F::frag_index)}},
    {201, "data_fragment", k(FragKind::DataFragment), false, {req(F::frag_index), req(F::fragment_n), {F::data}}},

    {202, "package_version_req", k(ClockKind::PackageVersionReq), false, {}},
    {202, "package_version_ans", k(ClockKind::PackageVersionAns), true, {req(F::package), req(F::version)}},
    {202, "app_time_req", k(ClockKind::AppTimeReq), true, {req(F::device_time), {F::token}, {F::ans_required}}},
    {202, "app_time_ans", k(ClockKind::AppTimeAns), false, {req(F::time_correction), {F::token}}},
    {202, "device_app_time_periodicity_req", k(ClockKind::PeriodicityReq), false, {req(F::period)}},
    {202,
     "device_app_time_periodicity_ans",
     k(ClockKind::PeriodicityAns),
     true,
     {req(F::device_time), {F::not_supported}}},
    {202, "force_device_resync_cmd", k(ClockKind::ForceResync), false, {req(F::transmissions)}},

    {203, "package_version_req", k(FirmwareKind::PackageVersionReq), false, {}},
    {203, "package_version_ans", k(FirmwareKind::PackageVersionAns), true, {req(F::package), req(F::version)}},
    {203, "dev_version_req", k(FirmwareKind::DevVersionReq), false, {}},
    {203, "dev_version_ans", k(FirmwareKind::DevVersionAns), true, {req(F::firmware), req(F::hardware)}},
    {203, "dev_reboot_time_req", k(FirmwareKind::RebootTimeReq), false, {req(F::reboot)}},
    {203, "dev_reboot_time_ans", k(FirmwareKind::RebootTimeAns), true, {req(F::reboot)}},
    {203, "dev_reboot_countdown_req", k(FirmwareKind::RebootCountdownReq), false, {req(F::reboot)}},
    {203, "dev_reboot_countdown_ans", k(FirmwareKind::RebootCountdownAns), true, {req(F::reboot)}},
    {203, "dev_upgrade_image_req", k(FirmwareKind::UpgradeImageReq), false, {}},
    {203, "dev_upgrade_image_ans", k(FirmwareKind::UpgradeImageAns), true, {req(F::image_status), {F::next_version}}},
    {203, "dev_delete_image_req", k(FirmwareKind::DeleteImageReq), false, {req(F::delete_version)}},
    {203, "dev_delete_image_ans", k(FirmwareKind::DeleteImageAns), true, {{F::no_valid_image}, {F::invalid_version}}},
};

const KindSpec* find_kind(std::uint8_t port, std::string_view name) {
    for (const KindSpec& spec : kKinds)
        if (spec.port == port && name == spec.name) return &spec;
    return nullptr;
}

const KindSpec& spec_of(std::uint8_t port, std::uint8_t kind) {
    for (const KindSpec& spec : kKinds)
        if (spec.port == port && spec.kind == kind) return spec;
    return kKinds[0];  // every kind a parse yields is in the table
}

void check_port(std::uint8_t port) {
    if (port < lp::kMulticastPort || port > lp::kFirmwarePort)
        raise_trovik("port " + std::to_string(port) + " is not an application layer package");
}

[[noreturn]] void not_written(const PackageCommand& c) {
    raise_trovik(c.kind + " on port " + std::to_string(c.port) + " is not a command this build writes");
}

constexpr const char* kImageNames[] = {"none", "corrupt", "wrong_hardware", "valid"};

}  // namespace

std::optional<std::uint8_t> image_status_from_name(std::string_view name) {
    for (std::uint8_t i = 0; i < 4; ++i)
        if (name == kImageNames[i]) return i;
    return std::nullopt;
}
const char* image_status_name(std::uint8_t status) { return kImageNames[status & 0x03]; }

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> fixed_bytes(const std::optional<Bytes>& bytes) {
    std::array<std::uint8_t, N> out{};
    if (bytes) std::copy_n(bytes->begin(), N, out.begin());
    return out;
}

// The package command a Python one stands for; its attributes have been
// checked against the kind.
Bytes encode_command(const PackageCommand& c, const KindSpec& spec, std::size_t room) {
    Bytes out(room);
    std::expected<std::size_t, lorawan::LorawanError> written;
    switch (c.port) {
        case lp::kMulticastPort: {
            const lp::multicast::McCommand m{
                .kind = static_cast<McKind>(spec.kind),
                .package = c.package.value_or(0),
                .version = c.version.value_or(0),
                .group_mask = c.group_mask.value_or(0),
                .nb_total_groups = c.nb_total_groups.value_or(0),
                .mc_group_id = c.mc_group_id.value_or(0),
                .mc_addr = c.mc_addr.value_or(0),
                .mc_key_encrypted = fixed_bytes<16>(c.mc_key_encrypted),
                .min_mc_fcnt = c.min_mc_fcnt.value_or(0),
                .max_mc_fcnt = c.max_mc_fcnt.value_or(0),
                .id_error = c.id_error.value_or(false),
                .no_session = c.no_session.value_or(false),
                .session_time = c.session_time.value_or(0),
                .time_out = c.time_out.value_or(0),
                .periodicity = c.periodicity.value_or(0),
                .dl_frequency_hz = c.dl_frequency_hz.value_or(0),
                .data_rate = c.data_rate.value_or(0),
                .dr_error = c.dr_error.value_or(false),
                .freq_error = c.freq_error.value_or(false),
                .start_missed = c.start_missed.value_or(false),
                .time_to_start = c.time_to_start,
            };
            written = m.encode(out);
            break;
        }
        case lp::kFragmentPort: {
            const lp::fragment::FragCommand f{
                .kind = static_cast<FragKind>(spec.kind),
                .package = c.package.value_or(0),
                .version = c.version.value_or(0),
                .frag_index = c.frag_index.value_or(0),
                .all_participants = c.all_participants.value_or(false),
                .memory_error = c.memory_error.value_or(false),
                .mic_error = c.mic_error.value_or(false),
                .no_session = c.no_session.value_or(false),
                .received = c.received.value_or(0),
                .missing = c.missing.value_or(0),
                .mc_group_bit_mask = c.mc_group_bit_mask.value_or(0),
                .nb_frag = c.nb_frag.value_or(0),
                .frag_size = c.frag_size.value_or(0),
                .block_ack_delay = c.block_ack_delay.value_or(0),
                .frag_algo = c.frag_algo.value_or(0),
                .ack_reception = c.ack_reception.value_or(false),
                .padding = c.padding.value_or(0),
                .descriptor = fixed_bytes<4>(c.descriptor),
                .session_cnt = c.session_cnt.value_or(0),
                .mic = fixed_bytes<4>(c.mic),
                .unsupported_algorithm = c.unsupported_algorithm.value_or(false),
                .unsupported_index = c.unsupported_index.value_or(false),
                .wrong_descriptor = c.wrong_descriptor.value_or(false),
                .session_replay = c.session_replay.value_or(false),
                .fragment_n = c.fragment_n.value_or(0),
                .data = c.data ? std::span<const std::uint8_t>(*c.data) : std::span<const std::uint8_t>(),
            };
            written = f.encode(out);
            break;
        }
        case lp::kClockPort: {
            const lp::clock::ClockCommand k{
                .kind = static_cast<ClockKind>(spec.kind),
                .package = c.package.value_or(0),
                .version = c.version.value_or(0),
                .device_time = c.device_time.value_or(0),
                .time_correction = c.time_correction.value_or(0),
                .token = c.token.value_or(0),
                .ans_required = c.ans_required.value_or(false),
                .period = c.period.value_or(0),
                .not_supported = c.not_supported.value_or(false),
                .transmissions = c.transmissions.value_or(0),
            };
            written = k.encode(out);
            break;
        }
        default: {
            const lp::firmware::FirmwareCommand w{
                .kind = static_cast<FirmwareKind>(spec.kind),
                .package = c.package.value_or(0),
                .version = c.version.value_or(0),
                .firmware = c.firmware.value_or(0),
                .hardware = c.hardware.value_or(0),
                .reboot = c.reboot.value_or(0),
                .image_status = c.image_status ? image_status_from_name(*c.image_status).value_or(0) : std::uint8_t{0},
                .next_version = c.next_version,
                .delete_version = c.delete_version.value_or(0),
                .no_valid_image = c.no_valid_image.value_or(false),
                .invalid_version = c.invalid_version.value_or(false),
            };
            written = w.encode(out);
            break;
        }
    }
    out.resize(unwrap(std::move(written)));
    return out;
}

PyObject* encode(const PackageCommand& c) {
    const std::size_t room = 64 + (c.data ? c.data->size() : 0);
    check_port(c.port);
    const KindSpec* spec = find_kind(c.port, c.kind);
    if (!spec) not_written(c);
    const bool named_errors = c.port >= lp::kClockPort;
    for (const Attr& a : spec->attrs) {
        if (!a.required || is_set(c, a.field)) continue;
        if (named_errors) raise_trovik(c.kind + " needs " + field_name(a.field));
        not_written(c);
    }
    if (spec->kind == k(McKind::GroupSetupReq) && c.port == lp::kMulticastPort && c.mc_key_encrypted->size() != 16)
        not_written(c);
    if (spec->kind == k(FragKind::SessionSetupReq) && c.port == lp::kFragmentPort &&
        (c.descriptor->size() != 4 || c.mic->size() != 4))
        not_written(c);
    if (c.port == lp::kFirmwarePort && spec->kind == k(FirmwareKind::UpgradeImageAns) &&
        !image_status_from_name(*c.image_status))
        raise_trovik(*c.image_status + " is not an image status");
    return to_py(encode_command(c, *spec, room));
}

// ---- reading -----------------------------------------------------------------------------------

std::optional<Bytes> bytes_of(std::span<const std::uint8_t> b) { return Bytes(b.begin(), b.end()); }

PackageCommand from_mc(const lp::multicast::McCommand& m) {
    PackageCommand c;
    c.port = lp::kMulticastPort;
    c.package = m.package, c.version = m.version, c.group_mask = m.group_mask;
    c.nb_total_groups = m.nb_total_groups, c.mc_group_id = m.mc_group_id, c.mc_addr = m.mc_addr;
    c.mc_key_encrypted = bytes_of(m.mc_key_encrypted);
    c.min_mc_fcnt = m.min_mc_fcnt, c.max_mc_fcnt = m.max_mc_fcnt, c.id_error = m.id_error;
    c.no_session = m.no_session, c.session_time = m.session_time, c.time_out = m.time_out;
    c.periodicity = m.periodicity, c.dl_frequency_hz = m.dl_frequency_hz, c.data_rate = m.data_rate;
    c.dr_error = m.dr_error, c.freq_error = m.freq_error, c.start_missed = m.start_missed;
    c.time_to_start = m.time_to_start;
    return c;
}

PackageCommand from_frag(const lp::fragment::FragCommand& f) {
    PackageCommand c;
    c.port = lp::kFragmentPort;
    c.package = f.package, c.version = f.version, c.frag_index = f.frag_index;
    c.all_participants = f.all_participants, c.memory_error = f.memory_error, c.mic_error = f.mic_error;
    c.no_session = f.no_session, c.received = f.received, c.missing = f.missing;
    c.mc_group_bit_mask = f.mc_group_bit_mask, c.nb_frag = f.nb_frag, c.frag_size = f.frag_size;
    c.block_ack_delay = f.block_ack_delay, c.frag_algo = f.frag_algo, c.ack_reception = f.ack_reception;
    c.padding = f.padding, c.descriptor = bytes_of(f.descriptor), c.session_cnt = f.session_cnt;
    c.mic = bytes_of(f.mic), c.unsupported_algorithm = f.unsupported_algorithm;
    c.unsupported_index = f.unsupported_index, c.wrong_descriptor = f.wrong_descriptor;
    c.session_replay = f.session_replay, c.fragment_n = f.fragment_n, c.data = bytes_of(f.data);
    return c;
}

PackageCommand from_clock(const lp::clock::ClockCommand& k) {
    PackageCommand c;
    c.port = lp::kClockPort;
    c.package = k.package, c.version = k.version, c.device_time = k.device_time;
    c.time_correction = k.time_correction, c.token = k.token, c.ans_required = k.ans_required;
    c.period = k.period, c.not_supported = k.not_supported, c.transmissions = k.transmissions;
    return c;
}

PackageCommand from_firmware(const lp::firmware::FirmwareCommand& w) {
    PackageCommand c;
    c.port = lp::kFirmwarePort;
    c.package = w.package, c.version = w.version, c.firmware = w.firmware, c.hardware = w.hardware;
    c.reboot = w.reboot, c.image_status = image_status_name(w.image_status), c.next_version = w.next_version;
    c.delete_version = w.delete_version, c.no_valid_image = w.no_valid_image;
    c.invalid_version = w.invalid_version;
    return c;
}

// Keeps only the attributes the kind carries; the rest read None.
PackageCommand finish(PackageCommand c, std::uint8_t kind) {
    const KindSpec& spec = spec_of(c.port, kind);
    c.kind = spec.name;
    c.uplink = spec.uplink;
    for (std::uint8_t f = 0; f <= static_cast<std::uint8_t>(F::start_missed); ++f) {
        const bool carried = std::ranges::any_of(spec.attrs, [f](const Attr& a) { return k(a.field) == f; });
        if (!carried) clear(c, static_cast<F>(f));
    }
    return c;
}

struct ReadOne {
    PackageCommand command;
    std::size_t used;
};

template <class Command, class Convert>
std::expected<ReadOne, lorawan::LorawanError> convert(const lp::ParseResult<Command>& parsed, Convert to_py_command) {
    if (!parsed) return std::unexpected(parsed.error());
    return ReadOne{finish(to_py_command(parsed->command), k(parsed->command.kind)), parsed->used};
}

std::expected<ReadOne, lorawan::LorawanError> read_one(std::uint8_t port, bool uplink,
                                                       std::span<const std::uint8_t> payload) {
    const Direction direction = uplink ? Direction::Uplink : Direction::Downlink;
    switch (port) {
        case lp::kMulticastPort: return convert(lp::multicast::McCommand::parse(direction, payload), from_mc);
        case lp::kFragmentPort: return convert(lp::fragment::FragCommand::parse(direction, payload), from_frag);
        case lp::kClockPort: return convert(lp::clock::ClockCommand::parse(direction, payload), from_clock);
        default: return convert(lp::firmware::FirmwareCommand::parse(direction, payload), from_firmware);
    }
}

std::expected<ReadOne, lorawan::LorawanError> read_status_item(std::span<const std::uint8_t> payload) {
    return convert(lp::multicast::McCommand::parse_status_item(payload), from_mc);
}

// ---- the class and the functions ---------------------------------------------------------------

Class<PackageCommand> command_class{
    "LorawanPackageCommand",
    "One command of an application layer package, whichever package it belongs to.\n\n"
    "The port picks the package and the kind the command; together they decide\n"
    "which of the other fields carry anything. The rest are None.",
    [](auto& c) {
        c.no_borrow();  // never changes once made
#define TROVIK_PACKAGE_PARAM(name, type, doc) , std::optional<type> name
#define TROVIK_PACKAGE_SPEC(name, type, doc) , arg(#name).none()
#define TROVIK_PACKAGE_TAKE(name, type, doc) command.name = std::move(name);
        c.init({"port", "kind", arg("uplink").def(false) TROVIK_PACKAGE_FIELDS(TROVIK_PACKAGE_SPEC)},
               [](std::uint8_t port, std::string kind, bool uplink TROVIK_PACKAGE_FIELDS(TROVIK_PACKAGE_PARAM)) {
                   PackageCommand command;
                   command.port = port;
                   command.kind = std::move(kind);
                   command.uplink = uplink;
                   TROVIK_PACKAGE_FIELDS(TROVIK_PACKAGE_TAKE)
                   return command;
               });
#undef TROVIK_PACKAGE_PARAM
#undef TROVIK_PACKAGE_SPEC
#undef TROVIK_PACKAGE_TAKE
        c.prop("port", "Which package this command belongs to, as its port.",
               [](const PackageCommand& p) { return p.port; });
        c.prop("kind", "Which command this is, as a name.", [](const PackageCommand& p) { return p.kind; });
        c.prop("uplink", "Which way it travels.", [](const PackageCommand& p) { return p.uplink; });
#define TROVIK_PACKAGE_PROP(name, type, doc) c.prop(#name, doc, [](const PackageCommand& p) { return p.name; });
        TROVIK_PACKAGE_FIELDS(TROVIK_PACKAGE_PROP)
#undef TROVIK_PACKAGE_PROP
        c.def("encode", "Writes the command out, as `lorawan_package_encode` does.",
              [](const PackageCommand& p) { return encode(p); });
        c.repr([](const PackageCommand& p) {
            return "LorawanPackageCommand(port=" + std::to_string(p.port) +
                   ", kind=" + core::text::debug_quoted(p.kind) + ", uplink=" + (p.uplink ? "True" : "False") + ")";
        });
    }};

const Function encode_fn{"lorawan_package_encode",
                         "Writes one command of an application layer package.",
                         {"command"},
                         [](In<PackageCommand> command) { return encode(*command); }};

const Function parse_fn{"lorawan_package_parse",
                        "Reads one command of an application layer package.\n\n"
                        "`uplink` says which way the frame traveled, because the same identifier names\n"
                        "a different command in each direction. A data fragment takes the whole message\n"
                        "(TS004-2.0.0 section 3); its bytes come back on `data`.",
                        {"port", "uplink", "payload"},
                        [](std::uint8_t port, bool uplink, ByteView payload) {
                            check_port(port);
                            return make(unwrap(read_one(port, uplink, payload)).command);
                        }};

const Function parse_all_fn{
    "lorawan_package_parse_all",
    "Reads every command in one message, stopping at an identifier the package does not define.\n\n"
    "The group records that follow a multicast status answer come back as\n"
    "`mc_group_status_item` commands, one for each group its mask names.",
    {"port", "uplink", "payload"},
    [](std::uint8_t port, bool uplink, ByteView payload) {
        Ref list{check(PyList_New(0))};
        if (payload.empty()) return list.release();
        check_port(port);
        std::size_t at = 0;
        auto append = [&](PackageCommand command) {
            Ref item{make(std::move(command))};
            if (PyList_Append(list.get(), item.get()) != 0) throw PendingError{};
        };
        while (at < payload.size()) {
            auto one = read_one(port, uplink, payload.subspan(at));
            if (!one) break;
            at += one->used;
            const bool status_answer = port == lp::kMulticastPort && one->command.kind == "mc_group_status_ans";
            const int records = status_answer ? std::popcount(static_cast<unsigned>(*one->command.group_mask)) : 0;
            append(std::move(one->command));
            // A status answer is followed by a record for each group it
            // reports, which has no identifier of its own.
            for (int r = 0; r < records && at < payload.size(); ++r) {
                auto item = read_status_item(payload.subspan(at));
                if (!item) return list.release();
                at += item->used;
                append(std::move(item->command));
            }
        }
        return list.release();
    }};

const Function status_item_fn{"lorawan_package_status_item",
                              "Reads one group record of a multicast status answer, TS005-2.0.0 section 4.2.",
                              {"payload"},
                              [](ByteView payload) { return make(unwrap(read_status_item(payload)).command); }};

}  // namespace
}  // namespace trovik::py
