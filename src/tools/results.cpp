// New NumPy arrays for the companion's results (see results.hpp).
#include "tools/results.hpp"

#include <cstring>
#include <vector>

#include "python/error_state.hpp"
#include "python/array_api.hpp"

namespace walkmesh::tools {

OwnedRef new_array(std::initializer_list<Py_ssize_t> shape, int type_number) {
    const std::vector<Py_ssize_t> dimensions(shape);
    return require(numpy::new_array(static_cast<int>(dimensions.size()), dimensions.data(), type_number));
}

void* array_data(PyObject* array) noexcept { return numpy::array_fields(array).data; }

OwnedRef node_array(std::span<const std::uint32_t> nodes) {
    OwnedRef array = new_array({static_cast<Py_ssize_t>(nodes.size())}, numpy::kUnsigned32TypeNumber);
    if (!nodes.empty()) {
        std::memcpy(array_data(array.get()), nodes.data(), nodes.size_bytes());
    }
    return array;
}

OwnedRef point_rows(std::span<const PointValue> points) {
    static_assert(sizeof(PointValue) == 2 * sizeof(float));
    OwnedRef array = new_array({static_cast<Py_ssize_t>(points.size()), 2}, numpy::kFloat32TypeNumber);
    if (!points.empty()) {
        std::memcpy(array_data(array.get()), points.data(), points.size_bytes());
    }
    return array;
}

}  // namespace walkmesh::tools
