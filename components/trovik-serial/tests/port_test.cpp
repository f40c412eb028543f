#include <doctest/doctest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "trovik/serial/port.hpp"

namespace {

using namespace trovik::serial;
using Bytes = std::vector<std::uint8_t>;

const Settings k9600{9600, Parity::None, false};
constexpr Duration kNoWait{};

Bytes read_all(const SerialPort& port, std::uint64_t size = 4096, Duration timeout = kNoWait) {
    auto got = port.read_up_to(size, timeout);
    REQUIRE(got.has_value());
    return *got;
}

// A far end that answers every write with its bytes reversed, and counts.
class Reverser : public Peer {
public:
    explicit Reverser(int* calls) : calls_(calls) {}
    Bytes receive(std::span<const std::uint8_t> written) override {
        ++*calls_;
        return {written.rbegin(), written.rend()};
    }

private:
    int* calls_;
};

}  // namespace

TEST_CASE("a looped port reads back what it wrote, and counts") {
    const SerialPort port = SerialPort::looped(k9600);
    CHECK(port.kind() == PortKind::Looped);
    REQUIRE(port.write(Bytes{1, 2}));
    CHECK(read_all(port, 10) == Bytes{1, 2});
    CHECK(port.written() == 2);
    CHECK(port.received() == 2);
    CHECK(port.waited_micros() == 0);
    CHECK_FALSE(port.remaining().has_value());

    SUBCASE("reads take from the front, a few bytes at a time") {
        REQUIRE(port.write(Bytes{1, 2, 3, 4, 5}));
        std::uint8_t buffer[3];
        CHECK(port.read(buffer, kNoWait) == 3u);
        CHECK(Bytes(buffer, buffer + 3) == Bytes{1, 2, 3});
        CHECK(read_all(port) == Bytes{4, 5});
        CHECK(port.received() == 7);
    }
    SUBCASE("a read that finds nothing counts its timeout, a read of nothing counts nothing") {
        CHECK(read_all(port, 4, Duration::from_micros(1500)).empty());
        CHECK(port.waited_micros() == 1500);
        port.wait(Duration::from_micros(1));
        CHECK(port.waited_micros() == 1501);
        CHECK(read_all(port, 0, Duration::from_micros(1'000'000)).empty());
        CHECK(port.waited_micros() == 1501);
    }
    SUBCASE("the waited time saturates") {
        port.wait(Duration::from_micros(UINT64_MAX));
        CHECK(port.waited_micros() == 18446744073709551u);
        port.wait(Duration::from_micros(5));
        CHECK(port.waited_micros() == 18446744073709551u);
    }
    SUBCASE("a huge read size takes what is there") {
        REQUIRE(port.write(Bytes{7, 8, 9}));
        CHECK(read_all(port, UINT64_MAX) == Bytes{7, 8, 9});
    }
    SUBCASE("copies share one state") {
        const SerialPort other = port;
        REQUIRE(other.write(Bytes{3}));
        CHECK(read_all(port) == Bytes{3});
        CHECK(other.written() == 3);
    }
    SUBCASE("discard_input drops what was not read") {
        REQUIRE(port.write(Bytes{1, 2, 3}));
        REQUIRE(port.discard_input());
        CHECK(read_all(port).empty());
    }
}

TEST_CASE("the two ends of a pair") {
    auto [a, b] = SerialPort::pair(k9600);
    CHECK(a.kind() == PortKind::Paired);
    REQUIRE(a.write(Bytes{1, 2, 3}));
    CHECK(read_all(a).empty());
    CHECK(read_all(b, 2) == Bytes{1, 2});
    REQUIRE(b.discard_input());
    CHECK(read_all(b).empty());
    REQUIRE(b.write(Bytes{9}));
    CHECK(read_all(a) == Bytes{9});
    CHECK((a.written() == 3 && a.received() == 1 && b.written() == 1 && b.received() == 2));

    SUBCASE("an end whose partner is gone still writes and reads what it had") {
        REQUIRE(a.write(Bytes{4}));
        REQUIRE(b.write(Bytes{5}));
        { const SerialPort gone = std::move(b); }
        REQUIRE(a.write(Bytes{6}));
        CHECK(read_all(a) == Bytes{5});
    }
    SUBCASE("ends used from two threads see every byte once, in order") {
        Bytes got;
        std::thread reader([&, &b = b] {
            while (got.size() < 10000) {
                const Bytes part = read_all(b, 333);
                got.insert(got.end(), part.begin(), part.end());
            }
        });
        Bytes sent(10000);
        for (std::size_t i = 0; i < sent.size(); ++i)
            sent[i] = static_cast<std::uint8_t>(i * 7);
        for (std::size_t i = 0; i < sent.size(); i += 100)
            REQUIRE(a.write(std::span(sent).subspan(i, 100)));
        reader.join();
        CHECK(got == sent);
    }
}

TEST_CASE("a scripted port walks its script") {
    const SerialPort port = SerialPort::scripted(k9600, {PortStep::read({0x10}), PortStep::write({0x01}),
                                                         PortStep::read({0x02, 0x03}), PortStep::write({0x04})});
    CHECK(port.kind() == PortKind::Scripted);
    CHECK(port.remaining() == 3u);
    CHECK(read_all(port) == Bytes{0x10});
    REQUIRE(port.write(Bytes{0x01}));
    CHECK(port.remaining() == 1u);
    CHECK(read_all(port) == Bytes{0x02, 0x03});

    const auto wrong = port.write(Bytes{0x05});
    REQUIRE_FALSE(wrong);
    CHECK(wrong.error().message() == "the script expected 04 to be written, not 05");
    CHECK(port.remaining() == 1u);
    CHECK(port.written() == 1);

    REQUIRE(port.write(Bytes{0x04}));
    CHECK(port.remaining() == 0u);
    const auto extra = port.write(Bytes{0x04});
    REQUIRE_FALSE(extra);
    CHECK(extra.error().message() == "the script expected no more writes, but 04 was written");
    CHECK(port.written() == 2);
}

TEST_CASE("a scripted write must match one step in one call") {
    const SerialPort port = SerialPort::scripted(k9600, {PortStep::write({1}), PortStep::write({2})});
    CHECK(port.write(Bytes{1, 2}).error().message() == "the script expected 01 to be written, not 01 02");
    CHECK(port.write(Bytes{}).error().message() == "the script expected 01 to be written, not ");
    const SerialPort two_reads =
        SerialPort::scripted(k9600, {PortStep::read({1}), PortStep::read({2, 3}), PortStep::write({4})});
    CHECK(read_all(two_reads) == Bytes{1, 2, 3});
    CHECK(hex(Bytes{0x01, 0x03, 0xAB}) == "01 03 ab");
    CHECK(hex(Bytes{}).empty());
}

TEST_CASE("a simulated port hands every write to its peer") {
    int calls = 0;
    const SerialPort port = SerialPort::simulated(k9600, std::make_unique<Reverser>(&calls));
    CHECK(port.kind() == PortKind::Simulated);
    REQUIRE(port.write(Bytes{1, 2, 3}));
    CHECK(read_all(port, 2) == Bytes{3, 2});
    REQUIRE(port.write(Bytes{}));
    CHECK(calls == 2);
    CHECK(read_all(port) == Bytes{1});
    CHECK(read_all(port, 5, Duration::from_micros(250)).empty());
    CHECK(port.waited_micros() == 250);
}

#if defined(__linux__)

namespace {

// A pseudo-terminal: the port opens the follower side, the test plays the far
// end on the leader.
struct Pty {
    int leader = -1;
    std::string follower;
    Pty() {
        leader = posix_openpt(O_RDWR | O_NOCTTY);
        REQUIRE(leader >= 0);
        REQUIRE(grantpt(leader) == 0);
        REQUIRE(unlockpt(leader) == 0);
        follower = ptsname(leader);
    }
    ~Pty() { ::close(leader); }
    void send(const Bytes& bytes) const {
        REQUIRE(::write(leader, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    }
    Bytes receive(std::size_t n) const {
        Bytes got;
        while (got.size() < n) {
            pollfd p{leader, POLLIN, 0};
            REQUIRE(poll(&p, 1, 5000) == 1);
            std::uint8_t buffer[256];
            const ssize_t r = ::read(leader, buffer, sizeof buffer);
            REQUIRE(r > 0);
            got.insert(got.end(), buffer, buffer + r);
        }
        return got;
    }
};

}  // namespace

TEST_CASE("a device port on a pseudo-terminal") {
    Pty pty;
    // A pseudo-terminal keeps no parity (its driver clears the flag), so the
    // format asked for here is one it holds.
    auto opened = SerialPort::open(pty.follower, Settings{115200, Parity::None, true});
    REQUIRE(opened.has_value());
    const SerialPort port = *opened;
    CHECK(port.kind() == PortKind::Device);

    // Raw, at the speed and format asked for.
    const int fd = ::open(pty.follower.c_str(), O_RDWR | O_NOCTTY);
    REQUIRE(fd >= 0);
    termios tio{};
    REQUIRE(tcgetattr(fd, &tio) == 0);
    ::close(fd);
    CHECK(cfgetospeed(&tio) == B115200);
    CHECK((tio.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB)) == (CS8 | CSTOPB));
    CHECK((tio.c_lflag & (ICANON | ECHO)) == 0);

    SUBCASE("bytes go both ways, every byte value unchanged") {
        Bytes all(256);
        for (int i = 0; i < 256; ++i)
            all[i] = static_cast<std::uint8_t>(i);
        REQUIRE(port.write(all));
        CHECK(pty.receive(256) == all);
        pty.send(all);
        Bytes got;
        while (got.size() < 256) {
            const Bytes part = read_all(port, 1000, Duration::from_micros(2'000'000));
            REQUIRE_FALSE(part.empty());
            got.insert(got.end(), part.begin(), part.end());
        }
        CHECK(got == all);
        CHECK((port.written() == 256 && port.received() == 256));
    }
    SUBCASE("a read waits for the first byte") {
        std::thread later([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pty.send({0x42});
        });
        CHECK(read_all(port, UINT64_MAX, Duration::from_micros(5'000'000)) == Bytes{0x42});
        later.join();
        CHECK(port.waited_micros() == 0);
    }
    SUBCASE("a read that gets nothing waits its timeout and counts it") {
        const auto start = std::chrono::steady_clock::now();
        CHECK(read_all(port, 10, Duration::from_micros(100'000)).empty());
        CHECK(std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(100));
        CHECK(port.waited_micros() == 100'000);
    }
    SUBCASE("discard_input drops what arrived") {
        pty.send({1, 2, 3});
        // Wait until the kernel has passed the bytes to the follower side.
        const int watch = ::open(pty.follower.c_str(), O_RDONLY | O_NOCTTY);
        pollfd p{watch, POLLIN, 0};
        REQUIRE(poll(&p, 1, 5000) == 1);
        ::close(watch);
        REQUIRE(port.discard_input());
        CHECK(read_all(port, 10, Duration::from_micros(20'000)).empty());
        pty.send({4});
        CHECK(read_all(port, 10, Duration::from_micros(2'000'000)) == Bytes{4});
    }
    SUBCASE("wait really sleeps") {
        const auto start = std::chrono::steady_clock::now();
        port.wait(Duration::from_micros(30'000));
        CHECK(std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(30));
        CHECK(port.waited_micros() == 30'000);
    }
}

TEST_CASE("opening a device fails with the path and the reason") {
    const struct {
        const char* path;
        std::uint32_t baud;
        std::string message;
    } cases[] = {
        {"/nonexistent/tty", 9600, "/nonexistent/tty: No such file or directory"},
        {"/dev/null", 9600, "/dev/null: Inappropriate ioctl for device"},
        {"/dev/null", 12345, "/dev/null: 12345 baud is not a standard rate from 1200 to 921600"},
        {"/dev/null", 300, "/dev/null: 300 baud is not a standard rate from 1200 to 921600"},
    };
    for (const auto& c : cases) {
        const auto port = SerialPort::open(c.path, Settings{c.baud, Parity::None, false});
        REQUIRE_FALSE(port.has_value());
        CHECK(port.error().message() == c.message);
    }
}

#endif
