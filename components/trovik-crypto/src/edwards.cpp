#include "trovik/crypto/edwards.hpp"

#include <array>

// Arithmetic modulo p = 2^255 - 19 in five limbs of 51 bits, just enough to
// decompress a point and multiply it by the cofactor. Nothing here handles
// secrets, so nothing needs to run in constant time.
namespace trovik::crypto::edwards {
namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;
constexpr u64 kMask = (u64{1} << 51) - 1;

struct Fe {
    std::array<u64, 5> v{};
};

u64 load64(const std::uint8_t* p) noexcept {
    u64 r = 0;
    for (int i = 0; i < 8; ++i)
        r |= u64{p[i]} << (8 * i);
    return r;
}

// The low 255 bits, little-endian; not reduced below p.
Fe from_bytes(const std::uint8_t* s) noexcept {
    return Fe{{load64(s) & kMask, (load64(s + 6) >> 3) & kMask, (load64(s + 12) >> 6) & kMask,
               (load64(s + 19) >> 1) & kMask, (load64(s + 24) >> 12) & kMask}};
}

Fe one() noexcept { return Fe{{1, 0, 0, 0, 0}}; }

// Brings every limb back to about 51 bits, folding the carry out of the top
// limb in as 19 (2^255 = 19 modulo p).
void carry(Fe& h) noexcept {
    for (int i = 0; i < 4; ++i) {
        h.v[i + 1] += h.v[i] >> 51;
        h.v[i] &= kMask;
    }
    h.v[0] += 19 * (h.v[4] >> 51);
    h.v[4] &= kMask;
}

Fe add(const Fe& a, const Fe& b) noexcept {
    Fe h;
    for (int i = 0; i < 5; ++i)
        h.v[i] = a.v[i] + b.v[i];
    carry(h);
    return h;
}

// a + 2p - b keeps every limb positive for carried inputs.
Fe sub(const Fe& a, const Fe& b) noexcept {
    constexpr u64 two_p0 = 2 * ((u64{1} << 51) - 19);
    constexpr u64 two_p = 2 * kMask;
    Fe h;
    h.v[0] = a.v[0] + two_p0 - b.v[0];
    for (int i = 1; i < 5; ++i)
        h.v[i] = a.v[i] + two_p - b.v[i];
    carry(h);
    return h;
}

Fe mul(const Fe& a, const Fe& b) noexcept {
    const u64 b1 = 19 * b.v[1], b2 = 19 * b.v[2], b3 = 19 * b.v[3], b4 = 19 * b.v[4];
    const auto m = [](u64 x, u64 y) { return static_cast<u128>(x) * y; };
    const auto& x = a.v;
    u128 t0 = m(x[0], b.v[0]) + m(x[1], b4) + m(x[2], b3) + m(x[3], b2) + m(x[4], b1);
    u128 t1 = m(x[0], b.v[1]) + m(x[1], b.v[0]) + m(x[2], b4) + m(x[3], b3) + m(x[4], b2);
    u128 t2 = m(x[0], b.v[2]) + m(x[1], b.v[1]) + m(x[2], b.v[0]) + m(x[3], b4) + m(x[4], b3);
    u128 t3 = m(x[0], b.v[3]) + m(x[1], b.v[2]) + m(x[2], b.v[1]) + m(x[3], b.v[0]) + m(x[4], b4);
    u128 t4 = m(x[0], b.v[4]) + m(x[1], b.v[3]) + m(x[2], b.v[2]) + m(x[3], b.v[1]) + m(x[4], b.v[0]);
    Fe h;
    t1 += t0 >> 51;
    h.v[0] = static_cast<u64>(t0) & kMask;
    t2 += t1 >> 51;
    h.v[1] = static_cast<u64>(t1) & kMask;
    t3 += t2 >> 51;
    h.v[2] = static_cast<u64>(t2) & kMask;
    t4 += t3 >> 51;
    h.v[3] = static_cast<u64>(t3) & kMask;
    h.v[4] = static_cast<u64>(t4) & kMask;
    h.v[0] += static_cast<u64>(t4 >> 51) * 19;
    carry(h);
    return h;
}

Fe sq(const Fe& a) noexcept { return mul(a, a); }

Fe sq_times(Fe a, int n) noexcept {
    while (n-- > 0)
        a = sq(a);
    return a;
}

// The unique representative below p.
Fe reduced(Fe h) noexcept {
    carry(h);
    carry(h);
    // q is 1 exactly when h >= p, that is when h + 19 reaches 2^255.
    u64 q = (h.v[0] + 19) >> 51;
    for (int i = 1; i < 5; ++i)
        q = (h.v[i] + q) >> 51;
    h.v[0] += 19 * q;
    for (int i = 0; i < 4; ++i) {
        h.v[i + 1] += h.v[i] >> 51;
        h.v[i] &= kMask;
    }
    h.v[4] &= kMask;
    return h;
}

bool is_zero(const Fe& a) noexcept {
    const Fe r = reduced(a);
    return (r.v[0] | r.v[1] | r.v[2] | r.v[3] | r.v[4]) == 0;
}

bool is_negative(const Fe& a) noexcept { return (reduced(a).v[0] & 1) != 0; }

// z^((p - 5) / 8) = z^(2^252 - 3), the exponent of the square root.
Fe pow22523(const Fe& z) noexcept {
    Fe t0 = sq(z);                    // 2
    Fe t1 = mul(z, sq_times(t0, 2));  // 9
    t0 = mul(t0, t1);                 // 11
    t0 = mul(t1, sq(t0));             // 2^5 - 1
    t0 = mul(sq_times(t0, 5), t0);    // 2^10 - 1
    t1 = mul(sq_times(t0, 10), t0);   // 2^20 - 1
    t1 = mul(sq_times(t1, 20), t1);   // 2^40 - 1
    t0 = mul(sq_times(t1, 10), t0);   // 2^50 - 1
    t1 = mul(sq_times(t0, 50), t0);   // 2^100 - 1
    t1 = mul(sq_times(t1, 100), t1);  // 2^200 - 1
    t0 = mul(sq_times(t1, 50), t0);   // 2^250 - 1
    return mul(sq_times(t0, 2), z);   // 2^252 - 3
}

// d = -121665 / 121666 and a square root of -1, little-endian.
constexpr std::uint8_t kD[32] = {0xa3, 0x78, 0x59, 0x13, 0xca, 0x4d, 0xeb, 0x75, 0xab, 0xd8, 0x41,
                                 0x41, 0x4d, 0x0a, 0x70, 0x00, 0x98, 0xe8, 0x79, 0x77, 0x79, 0x40,
                                 0xc7, 0x8c, 0x73, 0xfe, 0x6f, 0x2b, 0xee, 0x6c, 0x03, 0x52};
constexpr std::uint8_t kSqrtM1[32] = {0xb0, 0xa0, 0x0e, 0x4a, 0x27, 0x1b, 0xee, 0xc4, 0x78, 0xe4, 0x2f,
                                      0xad, 0x06, 0x18, 0x43, 0x2f, 0xa7, 0xd7, 0xfb, 0x3d, 0x99, 0x00,
                                      0x4d, 0x2b, 0x0b, 0xdf, 0xc1, 0x4f, 0x80, 0x24, 0x83, 0x2b};

// A point in projective coordinates (X : Y : Z), x = X/Z, y = Y/Z.
struct Point {
    Fe x, y, z;
};

// Doubling on -x^2 + y^2 = 1 + d x^2 y^2; the formulas are complete there.
Point dbl(const Point& p) noexcept {
    const Fe a = sq(p.x);
    const Fe b = sq(p.y);
    const Fe c = add(sq(p.z), sq(p.z));
    const Fe d = sub(Fe{}, a);                       // a * A with a = -1
    const Fe e = sub(sub(sq(add(p.x, p.y)), a), b);  // 2xy
    const Fe g = add(d, b);
    const Fe f = sub(g, c);
    const Fe h = sub(d, b);
    return Point{mul(e, f), mul(g, h), mul(f, g)};
}

}  // namespace

PointClass classify(std::span<const std::uint8_t, 32> encoded) noexcept {
    // RFC 8032 decompression: x^2 = (y^2 - 1) / (d y^2 + 1), its root taken as
    // x = u v^3 (u v^7)^((p - 5) / 8), times sqrt(-1) when that squares to -u/v.
    const Fe y = from_bytes(encoded.data());
    const Fe y2 = sq(y);
    const Fe u = sub(y2, one());
    const Fe v = add(mul(y2, from_bytes(kD)), one());
    const Fe v3 = mul(sq(v), v);
    Fe x = mul(mul(v3, u), pow22523(mul(mul(sq(v3), v), u)));
    const Fe vxx = mul(sq(x), v);
    if (!is_zero(sub(vxx, u))) {
        if (!is_zero(add(vxx, u))) return PointClass::NotAPoint;
        x = mul(x, from_bytes(kSqrtM1));
    }
    // The sign bit picks x or -x; for x = 0 both are the same point, as in
    // OpenSSL's decoder.
    if (is_negative(x) != ((encoded[31] >> 7) != 0)) x = sub(Fe{}, x);

    // Small order: eight times the point is the identity (0 : 1 : 1).
    Point p{x, y, one()};
    for (int i = 0; i < 3; ++i)
        p = dbl(p);
    if (is_zero(p.x) && is_zero(sub(p.y, p.z))) return PointClass::SmallOrder;
    return PointClass::Usable;
}

}  // namespace trovik::crypto::edwards
