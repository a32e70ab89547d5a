// The Point class: two 32-bit floats by value. Also the point conversion used for
// point-valued attributes and for find_path's target point, make_point for results,
// and the Point record dtype.
#include <array>

#include "python/once_cell.hpp"
#include "python/point_class.hpp"
#include "python/record_class.hpp"
#include "python/record_dtype.hpp"

namespace walkmesh {
namespace {

using PointObject = RecordObject<PointValue>;

constexpr std::array<const char*, 2> kPointParameters = {"x", "y"};
constexpr Signature kPointSignature{"Point.__new__()", kPointParameters};

PyObject* point_new(PyTypeObject* type, PyObject* arguments, PyObject* keywords) {
    return call_boundary([&] {
        std::array<PyObject*, 2> slots{};
        bind_tuple_and_dict(kPointSignature, arguments, keywords, slots);
        const float x = convert_argument("x", [&] { return to_f32(slots[0]); });
        const float y = convert_argument("y", [&] { return to_f32(slots[1]); });
        return new_record(type, PointValue{x, y});
    });
}

PyGetSetDef point_attributes[] = {
    f32_attribute<PointValue, &PointValue::x>("x"),
    f32_attribute<PointValue, &PointValue::y>("y"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_point_type() {
    return create_record_type({"builtins.Point", "Point(x, y)\n--\n\n", sizeof(PointObject), point_new,
                               point_attributes});
}

OnceCell<PyTypeObject*> point_type_cell;

}  // namespace

PyTypeObject* point_type_or_error() { return point_type_cell.get_or_fill(create_point_type); }

PyTypeObject* point_type() {
    if (PyTypeObject* const* type = point_type_cell.get()) {
        return *type;
    }
    return type_or_internal_failure(point_type_or_error, "Point");
}

OwnedRef make_point(PointValue value) { return new_record(point_type(), value); }

PointValue to_point_value(PyObject* object) {
    PyTypeObject* type = point_type();
    if (Py_TYPE(object) != type && !PyType_IsSubtype(Py_TYPE(object), type)) {
        throw_error(ErrorState::cast_failure(object, reinterpret_cast<PyObject*>(type)));
    }
    PointObject* point = as_record<PointValue>(object);
    SharedBorrow borrow(point->borrow);
    return point->payload;
}

OwnedRef build_point_dtype() {
    static constexpr DtypeField kFields[] = {{"x", float32_descriptor}, {"y", float32_descriptor}};
    return build_record_dtype(kFields);
}

}  // namespace walkmesh
