#include <doctest/doctest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "trovik/can/bus.hpp"
#include "trovik/can/socketcan.hpp"

using namespace trovik::can;

namespace {

std::vector<std::uint8_t> hex(std::string_view text) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    return out;
}

// A record of `size` bytes with its can_id and len fields set, the rest 0.
std::vector<std::uint8_t> raw(std::size_t size, std::uint32_t can_id, std::uint8_t len) {
    std::vector<std::uint8_t> out(size);
    std::memcpy(out.data(), &can_id, 4);
    out[4] = len;
    return out;
}

std::vector<std::uint8_t> record_of(const Frame& frame) {
    std::array<std::uint8_t, socketcan::kFdRecordSize> out;
    const std::size_t n = socketcan::encode(frame, out);
    return {out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)};
}

// A pair of connected sockets that keep record boundaries, as a CAN_RAW
// socket does: one end becomes a node, the test plays the kernel at the other.
struct Pair {
    int node = -1;
    int kernel = -1;
    Pair() {
        int fds[2];
        REQUIRE(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0);
        node = fds[0];
        kernel = fds[1];
    }
    ~Pair() { ::close(kernel); }
    void deliver(const std::vector<std::uint8_t>& record) const {
        REQUIRE(::send(kernel, record.data(), record.size(), 0) == static_cast<ssize_t>(record.size()));
    }
    std::vector<std::uint8_t> take() const {
        std::vector<std::uint8_t> buf(128);
        const ssize_t n = ::recv(kernel, buf.data(), buf.size(), MSG_DONTWAIT);
        REQUIRE(n >= 0);
        buf.resize(static_cast<std::size_t>(n));
        return buf;
    }
};

}  // namespace

// The records below are laid out as the kernel's CAN documentation gives
// struct can_frame and struct canfd_frame, on a little-endian host. They
// agree with python-can's SocketCAN records, byte for byte apart from the
// len8_dlc byte of a classic record, which that library fills with the
// length and which a kernel reads only for a length of 8 and codes 9 to 15.
TEST_CASE("frames as the kernel's records") {
    if constexpr (std::endian::native != std::endian::little) return;
    const std::uint8_t three[] = {0x11, 0x22, 0x33};
    const std::uint8_t eight[] = {0, 1, 2, 3, 4, 5, 6, 7};
    const std::uint8_t twelve[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    struct Case {
        Frame frame;
        std::string record;
    };
    const Case cases[] = {
        {*Frame::classic(0x123, false, three), "23010000030000001122330000000000"},
        {*Frame::classic(0x18F00400, true, eight), "0004f098080000000001020304050607"},
        {*Frame::remote(0x100, false, 5), "00010040050000000000000000000000"},
        {*Frame::remote(0x1ABCDEF, true, 8), "efcdabc1080000000000000000000000"},
        {*Frame::fd(0x1FFFFFFF, true, twelve), "ffffff9f0c0400000102030405060708090a0b0c" + std::string(104, '0')},
    };
    for (const Case& c : cases) {
        CAPTURE(c.record);
        const auto expected = hex(c.record);
        CHECK(record_of(c.frame) == expected);
        CHECK(socketcan::decode(expected) == c.frame);
    }
}

TEST_CASE("records that are no frame of ours are passed over") {
    const std::vector<std::uint8_t> records[] = {
        {},
        raw(17, 0x123, 1),
        raw(16, 0x20000001, 8),  // an error frame
        raw(16, 0x123, 9),       // classic length 9
        raw(16, 0x40000123, 9),  // remote length 9
        raw(16, 0x800, 1),       // a standard identifier past 11 bits
        raw(72, 0x40000100, 1),  // a remote FD record
        raw(72, 0x123, 10),      // not an FD length
        raw(72, 0x123, 65),
        raw(72, 0xA0000123, 8),  // an extended error frame
    };
    for (const auto& r : records) {
        CAPTURE(r.size());
        CHECK_FALSE(socketcan::decode(r));
    }
    if constexpr (std::endian::native != std::endian::little) return;
    // Padding, reserved and flag bytes are not read.
    const auto loud = hex("2301000002ffffff1122ffffffffffff");
    const auto frame = socketcan::decode(loud);
    REQUIRE(frame);
    CHECK(frame->len() == 2);
    CHECK(std::ranges::equal(frame->data(), std::array<std::uint8_t, 2>{0x11, 0x22}));
}

TEST_CASE("filters as the kernel's struct can_filter") {
    using socketcan::KernelFilter;
    CHECK(socketcan::kernel_filter(*Filter::exact(0x123, false)) == KernelFilter{0x123, 0x800007FF});
    CHECK(socketcan::kernel_filter(*Filter::exact(0x123, true)) == KernelFilter{0x80000123, 0x9FFFFFFF});
    CHECK(socketcan::kernel_filter(Filter::pgn(0xF004)) == KernelFilter{0x80F00400, 0x83FFFF00});
    // The kernel's test, on the records' can_id: the format must match, the
    // remote flag need not.
    auto kernel_passes = [](const Filter& f, const Frame& frame) {
        const KernelFilter k = socketcan::kernel_filter(f);
        std::uint32_t can_id = 0;
        std::memcpy(&can_id, record_of(frame).data(), 4);
        return (can_id & k.can_mask) == (k.can_id & k.can_mask);
    };
    const std::uint8_t one[] = {1};
    const Frame frames[] = {*Frame::classic(0x123, false, one), *Frame::classic(0x123, true, one),
                            *Frame::remote(0x123, false, 1),    *Frame::fd(0x18F00455, true, one),
                            *Frame::classic(0x124, false, one), *Frame::remote(0x18F00400, true, 0)};
    const Filter filters[] = {*Filter::exact(0x123, false), *Filter::exact(0x123, true),
                              *Filter::make(0x120, 0x7F0, false), Filter::pgn(0xF004), *Filter::make(0, 0, true)};
    for (const Filter& f : filters)
        for (const Frame& frame : frames)
            CHECK(kernel_passes(f, frame) == f.passes(frame));
}

TEST_CASE("a device node moves records through its socket") {
    Pair pair;
    const CanBus node = CanBus::adopt(pair.node, "vcan7");
    CHECK(node.kind() == Kind::Device);
    CHECK(kind_name(node.kind()) == "Device");
    CHECK(node.interface() == "vcan7");

    SUBCASE("sending writes one record a frame") {
        const std::uint8_t twelve[12] = {9};
        const Frame classic = *Frame::classic(0x123, false, std::array<std::uint8_t, 2>{1, 2});
        const Frame fd = *Frame::fd(0x123, true, twelve);
        REQUIRE(node.send(classic));
        REQUIRE(node.send(fd));
        CHECK(pair.take() == record_of(classic));
        CHECK(pair.take() == record_of(fd));
        CHECK(node.sent() == 2);
    }
    SUBCASE("receiving reads frames in order and passes over what is none") {
        const Frame first = *Frame::classic(0x10, false, std::array<std::uint8_t, 1>{1});
        const Frame second = *Frame::remote(0x20, true, 4);
        pair.deliver(record_of(first));
        pair.deliver(hex("01000020080000000000000000000000"));  // an error frame
        pair.deliver(record_of(second));
        CHECK(*node.receive(Nanoseconds(0)) == first);
        CHECK(*node.receive(Nanoseconds(0)) == second);
        CHECK(node.received() == 2);
        CHECK(node.waited_micros() == 0);
    }
    SUBCASE("a receive with nothing coming waits out its timeout and counts it") {
        CHECK_FALSE(*node.receive(saturating_micros(2000)));
        CHECK(node.waited_micros() == 2000);
        CHECK_FALSE(*node.receive(Nanoseconds(0)));
        CHECK(node.waited_micros() == 2000);
    }
    SUBCASE("failures are the operating system's words") {
        const Filter exact = *Filter::exact(0x123, false);
        auto filtered = node.set_filters({&exact, 1});
        REQUIRE_FALSE(filtered);
        // What the kernel says to a CAN option on a socket of another family.
        Pair other;
        ::close(other.node);
        const int on = 1;
        REQUIRE(::setsockopt(other.kernel, 101, 1, &on, sizeof on) < 0);
        CHECK(filtered.error().message() == std::system_category().message(errno));
        CHECK_FALSE(node.clear_filters());
        ::shutdown(pair.kernel, SHUT_RDWR);
        auto sent = node.send(*Frame::classic(1, false, {}));
        REQUIRE_FALSE(sent);
        CHECK(sent.error().message() == std::system_category().message(EPIPE));
        CHECK(node.sent() == 0);
    }
}

TEST_CASE("opening an interface the kernel cannot give names it first") {
    for (const std::string& name : {std::string("can0"), std::string("trovik-none9"), std::string(40, 'x'),
                                    std::string(), std::string("can\0", 4)}) {
        CAPTURE(name);
        auto bus = CanBus::open(name);
        if (bus) continue;  // a kernel with such an interface
        const std::string text = bus.error().message();
        CHECK(text.starts_with(name + ": "));
        CHECK(text.size() > name.size() + 2);
    }
    const int no_can = ::socket(PF_CAN, SOCK_RAW, 1);
    if (no_can < 0) {
        // This kernel has no CAN at all: the socket itself is refused.
        const std::string reason = std::system_category().message(errno);
        CHECK(CanBus::open("can0").error().message() == "can0: " + reason);
    } else {
        ::close(no_can);
    }
    CHECK(OpenError::unsupported().message() ==
          "a CAN interface is opened through SocketCAN, which only Linux has here");
}
