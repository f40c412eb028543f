#include "trovik/coap/random.hpp"

#include <sys/random.h>

#include <array>
#include <bit>
#include <chrono>
#include <cstring>

namespace trovik::coap {
namespace {

struct SipState {
    std::uint64_t v0, v1, v2, v3;

    void round() noexcept {
        v0 += v1;
        v1 = std::rotl(v1, 13);
        v1 ^= v0;
        v0 = std::rotl(v0, 32);
        v2 += v3;
        v3 = std::rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = std::rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = std::rotl(v1, 17);
        v1 ^= v2;
        v2 = std::rotl(v2, 32);
    }
    void absorb(std::uint64_t m) noexcept {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};

std::uint64_t load_le(const std::uint8_t* p, std::size_t n) noexcept {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i)
        v |= std::uint64_t{p[i]} << (8 * i);
    return v;
}

struct ThreadKey {
    std::uint64_t k0 = 0, k1 = 0;

    ThreadKey() noexcept {
        std::array<std::uint8_t, 16> seed{};
        std::size_t got = 0;
        while (got < seed.size()) {
            ssize_t n = getrandom(seed.data() + got, seed.size() - got, 0);
            if (n <= 0) break;  // no random source: the time alone still varies the values
            got += static_cast<std::size_t>(n);
        }
        k0 = load_le(seed.data(), 8);
        k1 = load_le(seed.data() + 8, 8);
    }
};

}  // namespace

std::uint64_t siphash13(std::uint64_t k0, std::uint64_t k1, std::span<const std::uint8_t> data) noexcept {
    SipState s{k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL, k0 ^ 0x6c7967656e657261ULL,
               k1 ^ 0x7465646279746573ULL};
    std::size_t whole = data.size() / 8 * 8;
    for (std::size_t i = 0; i < whole; i += 8)
        s.absorb(load_le(data.data() + i, 8));
    std::uint64_t last = (std::uint64_t{data.size()} << 56) | load_le(data.data() + whole, data.size() - whole);
    s.absorb(last);
    s.v2 ^= 0xFF;
    for (int i = 0; i < 3; ++i)
        s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::uint64_t random() noexcept {
    thread_local ThreadKey key;
    auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
    auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - seconds);
    std::array<std::uint8_t, 12> time{};
    auto s = static_cast<std::uint64_t>(seconds.count());
    auto n = static_cast<std::uint32_t>(nanos.count());
    for (int i = 0; i < 8; ++i)
        time[i] = static_cast<std::uint8_t>(s >> (8 * i));
    for (int i = 0; i < 4; ++i)
        time[8 + i] = static_cast<std::uint8_t>(n >> (8 * i));
    std::uint64_t value = siphash13(key.k0, key.k1, time);
    ++key.k0;
    return value;
}

}  // namespace trovik::coap
