// The point value shared by the search core, the record classes and the result:
// two 32-bit floats, the field values of a Point.
#pragma once

namespace walkmesh {

struct PointValue {
    float x;
    float y;
};

// Midpoint of a portal: each sum is rounded to 32-bit float before the halving.
inline PointValue midpoint(PointValue left, PointValue right) noexcept {
    const float sum_x = left.x + right.x;
    const float sum_y = left.y + right.y;
    return {sum_x * 0.5f, sum_y * 0.5f};
}

}  // namespace walkmesh
