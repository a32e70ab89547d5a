// Exact orientation of three points with double coordinates, for the geometry of the
// exact shortest-path search and the checks of the mesh it reads. Plain C++.
//
// How it stays exact: the determinant is first evaluated in doubles together with a
// bound on its rounding error (Shewchuk, "Adaptive Precision Floating-Point
// Arithmetic and Fast Robust Geometric Predicates", 1997); only when the value lies
// within that bound of zero, or is so small that rounding there is no longer
// relative, is it summed again exactly: the coordinates scaled by a power of two
// (exact) so that the largest is near 2^400, then the six products of the expanded
// determinant split into rounded value and rounding error (Dekker's product) and
// accumulated in a floating-point expansion. That needs every product and its error
// to be representable: coordinates must be finite and at most 2^480 in magnitude
// (supported_coordinate; the mesh and the queries refuse others), and within one
// test no nonzero coordinate may be more than 2^880 times smaller than the largest.
// The build must not contract a * b + c into a fused multiply-add (-ffp-contract=off)
// nor reassociate.
#pragma once

#include <cmath>

namespace walkmesh {

struct XY {
    double x;
    double y;
};

inline bool operator==(XY a, XY b) noexcept { return a.x == b.x && a.y == b.y; }

// Whether the exact predicates support the coordinate (see above).
inline bool supported_coordinate(double value) noexcept { return std::fabs(value) <= 0x1p480; }

namespace detail {
// The sign of (b - a) x (c - a), computed exactly; for the rare calls the filter leaves open.
int exact_orientation(XY a, XY b, XY c) noexcept;
}  // namespace detail

// 1 when c lies to the left of the directed line from a to b (a counter-clockwise turn
// a, b, c), -1 to its right, 0 on it. Exact for supported coordinates.
inline int orientation(XY a, XY b, XY c) noexcept {
    const double left = (a.x - c.x) * (b.y - c.y);
    const double right = (a.y - c.y) * (b.x - c.x);
    const double determinant = left - right;
    // Shewchuk's first error bound, (3 + 16 eps) eps with eps = 2^-53, on |left| + |right|.
    constexpr double epsilon = 0x1p-53;
    constexpr double bound_factor = (3.0 + 16.0 * epsilon) * epsilon;
    const double magnitude = std::fabs(left) + std::fabs(right);
    // Near the bottom of the exponent range rounding errors are absolute.
    const double bound = magnitude < 0x1p-800 ? INFINITY : bound_factor * magnitude;
    if (determinant > bound) {
        return 1;
    }
    if (-determinant > bound) {
        return -1;
    }
    return detail::exact_orientation(a, b, c);
}

// Whether the directions from `origin` to a and to b, known to be collinear and both
// non-zero, point the same way. Exact: it compares coordinates only.
inline bool same_direction(XY origin, XY a, XY b) noexcept {
    const auto sign = [](double from, double to) { return (to > from) - (to < from); };
    return sign(origin.x, a.x) == sign(origin.x, b.x) && sign(origin.y, a.y) == sign(origin.y, b.y);
}

}  // namespace walkmesh
