// The exact fallback of the orientation test: the determinant expanded into six
// products of input coordinates, each split into its rounded value and its rounding
// error, and summed without error into a nonoverlapping expansion whose largest
// component carries the sign.
#include "core/orientation.hpp"

#include <algorithm>
#include <cmath>

namespace walkmesh::detail {
namespace {

// Dekker's split: hi holds the upper 26 bits of the significand, lo the rest, exactly.
void split(double a, double& hi, double& lo) noexcept {
    const double scaled = 134217729.0 * a;  // 2^27 + 1
    const double big = scaled - a;
    hi = scaled - big;
    lo = a - hi;
}

// a * b == product + error exactly.
void two_product(double a, double b, double& product, double& error) noexcept {
    product = a * b;
    double a_hi, a_lo, b_hi, b_lo;
    split(a, a_hi, a_lo);
    split(b, b_hi, b_lo);
    const double rest1 = product - a_hi * b_hi;
    const double rest2 = rest1 - a_lo * b_hi;
    const double rest3 = rest2 - a_hi * b_lo;
    error = a_lo * b_lo - rest3;
}

// Adds `value` to the expansion (components of increasing magnitude, none
// overlapping), dropping zero components; returns the new component count.
int grow(double* expansion, int count, double value) noexcept {
    double carry = value;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const double sum = carry + expansion[i];
        const double virtual_b = sum - carry;
        const double virtual_a = sum - virtual_b;
        const double error = (carry - virtual_a) + (expansion[i] - virtual_b);
        carry = sum;
        if (error != 0.0) {
            expansion[kept++] = error;
        }
    }
    if (carry != 0.0 || kept == 0) {
        expansion[kept++] = carry;
    }
    return kept;
}

}  // namespace

int exact_orientation(XY a, XY b, XY c) noexcept {
    // Scaling by a power of two changes no sign and rounds nothing; it lifts small
    // coordinates clear of the bottom of the exponent range.
    const double largest = std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(b.x), std::fabs(b.y),
                                      std::fabs(c.x), std::fabs(c.y)});
    if (largest == 0.0) {
        return 0;
    }
    const int exponent = std::ilogb(largest);
    if (exponent < 400) {
        const auto lift = [&](XY p) { return XY{std::ldexp(p.x, 400 - exponent), std::ldexp(p.y, 400 - exponent)}; };
        a = lift(a);
        b = lift(b);
        c = lift(c);
    }
    // (b - a) x (c - a) = bx cy - bx ay - ax cy - by cx + by ax + ay cx: the ax ay terms cancel.
    const double factors[6][2] = {{b.x, c.y}, {-b.x, a.y}, {-a.x, c.y}, {-b.y, c.x}, {b.y, a.x}, {a.y, c.x}};
    // Twelve terms, and each addition adds at most one component.
    double expansion[13];
    int count = 0;
    for (const auto& pair : factors) {
        double product, error;
        two_product(pair[0], pair[1], product, error);
        count = grow(expansion, count, error);
        count = grow(expansion, count, product);
    }
    const double top = expansion[count - 1];
    return (top > 0.0) - (top < 0.0);
}

}  // namespace walkmesh::detail
