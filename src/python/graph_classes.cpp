// The Node and Edge classes, whose fields mirror the node and edge records, and
// their record dtypes. The graph view over the record tables is in graph.hpp.
#include <array>

#include "python/once_cell.hpp"
#include "python/point_class.hpp"
#include "python/graph_classes.hpp"
#include "python/record_class.hpp"
#include "python/record_dtype.hpp"

namespace walkmesh {
namespace {

struct NodeFields {
    PointValue centroid;
    std::uint32_t edge_start;
    std::uint32_t edge_count;
};

struct EdgeFields {
    std::uint32_t to;
    std::uint32_t cost;
    PointValue left;
    PointValue right;
};

// Reading a point-valued field gives a new Point holding a copy.
template <class Payload, PointValue Payload::*Field>
constexpr PyGetSetDef point_attribute(const char* name) {
    return field_attribute<Payload, PointValue, Field, make_point, to_point_value>(name);
}

constexpr std::array<const char*, 3> kNodeParameters = {"centroid", "edge_start", "edge_count"};
constexpr Signature kNodeSignature{"Node.__new__()", kNodeParameters};

PyObject* node_new(PyTypeObject* type, PyObject* arguments, PyObject* keywords) {
    return call_boundary([&] {
        std::array<PyObject*, 3> slots{};
        bind_tuple_and_dict(kNodeSignature, arguments, keywords, slots);
        NodeFields fields{};
        fields.centroid = convert_argument("centroid", [&] { return to_point_value(slots[0]); });
        fields.edge_start = convert_argument("edge_start", [&] { return to_u32(slots[1]); });
        fields.edge_count = convert_argument("edge_count", [&] { return to_u32(slots[2]); });
        return new_record(type, fields);
    });
}

PyGetSetDef node_attributes[] = {
    point_attribute<NodeFields, &NodeFields::centroid>("centroid"),
    u32_attribute<NodeFields, &NodeFields::edge_start>("edge_start"),
    u32_attribute<NodeFields, &NodeFields::edge_count>("edge_count"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr std::array<const char*, 4> kEdgeParameters = {"to", "cost", "left", "right"};
constexpr Signature kEdgeSignature{"Edge.__new__()", kEdgeParameters};

PyObject* edge_new(PyTypeObject* type, PyObject* arguments, PyObject* keywords) {
    return call_boundary([&] {
        std::array<PyObject*, 4> slots{};
        bind_tuple_and_dict(kEdgeSignature, arguments, keywords, slots);
        EdgeFields fields{};
        fields.to = convert_argument("to", [&] { return to_u32(slots[0]); });
        fields.cost = convert_argument("cost", [&] { return to_u32(slots[1]); });
        fields.left = convert_argument("left", [&] { return to_point_value(slots[2]); });
        fields.right = convert_argument("right", [&] { return to_point_value(slots[3]); });
        return new_record(type, fields);
    });
}

PyGetSetDef edge_attributes[] = {
    u32_attribute<EdgeFields, &EdgeFields::to>("to"),
    u32_attribute<EdgeFields, &EdgeFields::cost>("cost"),
    point_attribute<EdgeFields, &EdgeFields::left>("left"),
    point_attribute<EdgeFields, &EdgeFields::right>("right"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject* create_node_type() {
    return create_record_type({"builtins.Node", "Node(centroid, edge_start, edge_count)\n--\n\n",
                               sizeof(RecordObject<NodeFields>), node_new, node_attributes});
}

PyTypeObject* create_edge_type() {
    return create_record_type({"builtins.Edge", "Edge(to, cost, left, right)\n--\n\n",
                               sizeof(RecordObject<EdgeFields>), edge_new, edge_attributes});
}

OnceCell<PyTypeObject*> node_type_cell;
OnceCell<PyTypeObject*> edge_type_cell;

}  // namespace

PyTypeObject* node_type_or_error() { return node_type_cell.get_or_fill(create_node_type); }

PyTypeObject* edge_type_or_error() { return edge_type_cell.get_or_fill(create_edge_type); }

OwnedRef build_node_dtype() {
    static constexpr DtypeField kFields[] = {
        {"centroid", build_point_dtype},
        {"edge_start", unsigned32_descriptor},
        {"edge_count", unsigned32_descriptor},
    };
    return build_record_dtype(kFields);
}

OwnedRef build_edge_dtype() {
    static constexpr DtypeField kFields[] = {
        {"to", unsigned32_descriptor},   {"cost", unsigned32_descriptor}, {"left", build_point_dtype},
        {"right", build_point_dtype},    {"padding", unsigned32_descriptor},
    };
    return build_record_dtype(kFields);
}

}  // namespace walkmesh
