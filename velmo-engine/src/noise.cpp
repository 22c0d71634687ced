#include "velmo/noise.hpp"

#include "velmo/bounded_draw.hpp"
#include "velmo/saturate.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace velmo {
namespace {

// The small generator that shuffles a table; used for nothing else.
class XorShift128 {
public:
    explicit XorShift128(std::uint32_t seed) noexcept : x_(1), y_(seed), z_(seed), w_(seed) {}

    std::uint32_t next() noexcept {
        const std::uint32_t t = x_ ^ (x_ << 11);
        x_ = y_;
        y_ = z_;
        z_ = w_;
        w_ = w_ ^ (w_ >> 19) ^ t ^ (t >> 8);
        return w_;
    }

    // An unbiased index in [0, n), 2 <= n <= 256.
    std::uint32_t bounded_index(std::uint32_t n) noexcept {
        return bounded_draw(n, [this] { return next(); });
    }

private:
    std::uint32_t x_, y_, z_, w_;
};

// One axis of the sample point: the lattice cell's near and far table
// indices and the distance from the near face.
struct Axis {
    std::uint8_t near;
    std::uint8_t far;
    double distance;
};

Axis axis_of(double p) noexcept {
    // Below 2^52 in magnitude the truncated integer, less one where it lies
    // above p, is floor(p) in integer form, which saves a round trip through
    // the double floor before the table reads that wait for it. copysign
    // gives floor(-0.0) its sign. NaN, infinities and larger values take the
    // plain path.
    constexpr double two_to_52 = 4503599627370496.0;
    if (!(std::fabs(p) < two_to_52)) [[unlikely]] {
        const double cell = std::floor(p);
        const std::uint64_t lattice = static_cast<std::uint64_t>(saturate_to<std::int64_t>(cell));
        return {static_cast<std::uint8_t>(lattice), static_cast<std::uint8_t>(lattice + 1),
                p - cell};
    }
    const std::int64_t truncated = static_cast<std::int64_t>(p);
    const std::int64_t lattice = truncated - (static_cast<double>(truncated) > p);
    const double cell = std::copysign(static_cast<double>(lattice), p);
    const auto near = static_cast<std::uint8_t>(lattice);
    return {near, static_cast<std::uint8_t>(near + 1), p - cell};
}

// The 16 gradients. Each has two components of +-1, so its dot product with
// a distance vector is one addition or subtraction of two distances; a - b is
// a + (-b) in IEEE arithmetic, so every row is "signed first + signed second".
enum Component : std::uint8_t { U, V, W };

struct Gradient {
    Component first;
    bool negate_first;
    Component second;
    bool negate_second;
};

constexpr Gradient gradients[16] = {
    {U, false, V, false},  //  0: ( 1,  1,  0)  u + v
    {V, false, U, true},   //  1: (-1,  1,  0)  v - u
    {U, false, V, true},   //  2: ( 1, -1,  0)  u - v
    {U, true, V, true},    //  3: (-1, -1,  0) -u - v
    {U, false, W, false},  //  4: ( 1,  0,  1)  u + w
    {W, false, U, true},   //  5: (-1,  0,  1)  w - u
    {U, false, W, true},   //  6: ( 1,  0, -1)  u - w
    {U, true, W, true},    //  7: (-1,  0, -1) -u - w
    {V, false, W, false},  //  8: ( 0,  1,  1)  v + w
    {W, false, V, true},   //  9: ( 0, -1,  1)  w - v
    {V, false, W, true},   // 10: ( 0,  1, -1)  v - w
    {V, true, W, true},    // 11: ( 0, -1, -1) -v - w
    {U, false, V, false},  // 12: ( 1,  1,  0)  u + v
    {V, false, U, true},   // 13: (-1,  1,  0)  v - u
    {W, false, V, true},   // 14: ( 0, -1,  1)  w - v
    {V, true, W, true},    // 15: ( 0, -1, -1) -v - w
};

// The selection runs on every corner with a random hash, where a switch
// would be a mispredicted branch each time. Instead the twelve signed
// distances sit in one array, laid out as [sign][component][near/far], and a
// table built from the gradients above gives, for every hash and corner, the
// positions of the two signed distances to add.
struct Operands {
    std::uint8_t first;
    std::uint8_t second;
};

constexpr std::uint8_t signed_distance_slot(Component c, bool negate, unsigned corner) {
    // Corner bits: 1 for a far u, 2 for a far v, 4 for a far w.
    const unsigned far = (corner >> c) & 1u;
    return static_cast<std::uint8_t>((negate ? 6 : 0) + c * 2 + far);
}

struct OperandTable {
    Operands at[16][8];
};

constexpr OperandTable make_operand_table() {
    OperandTable table{};
    for (unsigned h = 0; h < 16; ++h) {
        for (unsigned corner = 0; corner < 8; ++corner) {
            const Gradient& g = gradients[h];
            table.at[h][corner] = {signed_distance_slot(g.first, g.negate_first, corner),
                                   signed_distance_slot(g.second, g.negate_second, corner)};
        }
    }
    return table;
}

constexpr OperandTable operand_table = make_operand_table();

// The dot product of gradient `hash & 15` with the distance vector of
// `corner`; the negated slots hold exact negations.
double gradient(const double (&signed_distances)[12], std::uint8_t hash, unsigned corner) noexcept {
    const Operands& o = operand_table.at[hash & 15][corner];
    return signed_distances[o.first] + signed_distances[o.second];
}

// 6t^5 - 15t^4 + 10t^3, in this grouping.
double fade(double t) noexcept {
    const double linear = t * 6.0 - 15.0;
    const double quadratic = linear * t + 10.0;
    const double cube = (t * t) * t;
    return quadratic * cube;
}

// 2 / sqrt(3), rounded to double: stretches the blend to fill [-1, 1].
constexpr double output_scale = 1.1547005383792517;

}  // namespace

NoiseTable NoiseTable::from_seed(std::uint32_t seed) noexcept {
    XorShift128 generator(seed);
    NoiseTable table;
    for (unsigned i = 0; i < 256; ++i) table.perm[i] = static_cast<std::uint8_t>(i);
    for (std::uint32_t i = 255; i >= 1; --i) {
        const std::uint32_t j = generator.bounded_index(i + 1);
        std::swap(table.perm[i], table.perm[j]);
    }
    table.seed = seed;
    return table;
}

double NoiseTable::sample(double x, double y, double z) const noexcept {
    const Axis ax = axis_of(x);
    const Axis ay = axis_of(y);
    const Axis az = axis_of(z);

    // Corner hashes share their prefixes: 2 + 4 + 8 table reads.
    const std::uint8_t a0 = perm[ax.near];
    const std::uint8_t a1 = perm[ax.far];
    const std::uint8_t b00 = perm[a0 ^ ay.near];
    const std::uint8_t b01 = perm[a0 ^ ay.far];
    const std::uint8_t b10 = perm[a1 ^ ay.near];
    const std::uint8_t b11 = perm[a1 ^ ay.far];
    const std::uint8_t h000 = perm[b00 ^ az.near];
    const std::uint8_t h001 = perm[b00 ^ az.far];
    const std::uint8_t h010 = perm[b01 ^ az.near];
    const std::uint8_t h011 = perm[b01 ^ az.far];
    const std::uint8_t h100 = perm[b10 ^ az.near];
    const std::uint8_t h101 = perm[b10 ^ az.far];
    const std::uint8_t h110 = perm[b11 ^ az.near];
    const std::uint8_t h111 = perm[b11 ^ az.far];

    const double u0 = ax.distance;
    const double u1 = ax.distance - 1.0;
    const double v0 = ay.distance;
    const double v1 = ay.distance - 1.0;
    const double w0 = az.distance;
    const double w1 = az.distance - 1.0;
    const double signed_distances[12] = {u0, u1, v0, v1, w0, w1, -u0, -u1, -v0, -v1, -w0, -w1};

    // Corner numbers: 1 for a far u, 2 for a far v, 4 for a far w.
    const double g000 = gradient(signed_distances, h000, 0);
    const double g100 = gradient(signed_distances, h100, 1);
    const double g010 = gradient(signed_distances, h010, 2);
    const double g110 = gradient(signed_distances, h110, 3);
    const double g001 = gradient(signed_distances, h001, 4);
    const double g101 = gradient(signed_distances, h101, 5);
    const double g011 = gradient(signed_distances, h011, 6);
    const double g111 = gradient(signed_distances, h111, 7);

    const double sx = fade(u0);
    const double sy = fade(v0);
    const double sz = fade(w0);

    // The trilinear blend as a polynomial in sx, sy, sz.
    const double k0 = g000;
    const double k1 = g100 - g000;
    const double k2 = g010 - g000;
    const double k3 = g001 - g000;
    const double k4 = ((g000 + g110) - g100) - g010;
    const double k5 = ((g000 + g101) - g100) - g001;
    const double k6 = ((g000 + g011) - g010) - g001;
    const double k7 = ((((((g100 + g010) + g001) + g111) - g000) - g110) - g101) - g011;

    // Summed strictly left to right.
    double blend = k0;
    blend = blend + k1 * sx;
    blend = blend + k2 * sy;
    blend = blend + k3 * sz;
    blend = blend + (k4 * sx) * sy;
    blend = blend + (k5 * sx) * sz;
    blend = blend + (k6 * sy) * sz;
    blend = blend + ((k7 * sx) * sy) * sz;

    const double scaled = blend * output_scale;
    if (scaled < -1.0) return -1.0;
    if (scaled > 1.0) return 1.0;
    return scaled;
}

}  // namespace velmo
