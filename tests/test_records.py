"""The record classes Point, Node and Edge: layout, fields, conversions and borrow flags."""
import ctypes
import gc
import sys
import weakref

import pytest

from walkmesh import Edge, Node, Point

WORD = ctypes.sizeof(ctypes.c_size_t)
HEADER = object.__basicsize__
ALL_ONES = 2 ** (8 * WORD) - 1


def make_node():
    return Node(Point(1, 2), 3, 4)


def make_edge():
    return Edge(5, 6, Point(7, 8), Point(9, 10))


CLASSES = [(Point, lambda: Point(1, 2), ["x", "y"], 8),
           (Node, make_node, ["centroid", "edge_start", "edge_count"], 16),
           (Edge, make_edge, ["to", "cost", "left", "right"], 24)]


@pytest.mark.parametrize("cls, make, attributes, payload", CLASSES, ids=lambda v: getattr(v, "__name__", None))
def test_type_object(cls, make, attributes, payload):
    assert cls.__module__ == "builtins"
    assert cls.__name__ == cls.__qualname__
    assert cls.__bases__ == (object,)
    assert cls.__basicsize__ == HEADER + payload + WORD
    assert cls.__itemsize__ == 0
    assert cls.__text_signature__ == "(" + ", ".join(attributes) + ")"
    own = [name for name in vars(cls) if not name.startswith("__")]
    assert own == attributes
    for name in ("__init__", "__repr__", "__eq__", "__hash__", "__reduce__"):
        assert name not in vars(cls)
    instance = make()
    assert not hasattr(instance, "__dict__")
    assert not gc.is_tracked(instance)
    with pytest.raises(TypeError):
        weakref.ref(instance)
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


def test_values_round_trip():
    node = make_node()
    assert (node.centroid.x, node.centroid.y, node.edge_start, node.edge_count) == (1.0, 2.0, 3, 4)
    edge = make_edge()
    assert (edge.to, edge.cost, edge.left.x, edge.left.y, edge.right.x, edge.right.y) == (5, 6, 7, 8, 9, 10)
    assert type(edge.cost) is int
    assert type(Point(1, 2).x) is float
    assert not hasattr(edge, "padding")
    assert Node(Point(0, 0), True, 0).edge_start == 1
    assert Node(Point(0, 0), 4294967295, 0).edge_start == 4294967295


def test_identity_semantics():
    assert Point(1, 2) != Point(1, 2)
    p = Point(1, 2)
    assert p == p
    assert hash(p) == hash(p)


def test_point_fields_are_copies():
    edge = make_edge()
    assert edge.left is not edge.left
    edge.left.x = 3
    assert edge.left.x == 7.0
    assigned = Point(3, 0)
    edge.left = assigned
    assigned.x = 99
    assert edge.left.x == 3.0
    node = Node(assigned, 0, 0)
    assigned.y = 5
    assert node.centroid.y == 0.0


@pytest.mark.parametrize("make, attribute, bad, prefix", [
    (lambda: Point(1, 2), "x", "a", "argument 'x': "),
    (make_node, "edge_start", 1.0, "argument 'edge_start': "),
    (make_node, "centroid", (0, 0), "argument 'centroid': 'tuple' object cannot be cast as 'Point'"),
    (make_edge, "right", None, "argument 'right': 'NoneType' object cannot be cast as 'Point'"),
])
def test_setter_type_errors_name_the_attribute(make, attribute, bad, prefix):
    instance = make()
    before = getattr(instance, attribute)
    with pytest.raises(TypeError) as caught:
        setattr(instance, attribute, bad)
    assert str(caught.value).startswith(prefix)
    after = getattr(instance, attribute)
    if isinstance(before, Point):
        assert (after.x, after.y) == (before.x, before.y)
    else:
        assert after == before


def test_setter_overflow_errors_pass_unchanged():
    edge = make_edge()
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        edge.cost = 2**32
    with pytest.raises(OverflowError) as caught:
        edge.to = -1
    assert not str(caught.value).startswith("argument")
    assert (edge.to, edge.cost) == (5, 6)


@pytest.mark.parametrize("cls, make, attributes, payload", CLASSES, ids=lambda v: getattr(v, "__name__", None))
def test_delete_is_refused(cls, make, attributes, payload):
    instance = make()
    for attribute in attributes:
        with pytest.raises(AttributeError, match="^can't delete attribute$"):
            delattr(instance, attribute)


def test_constructor_conversion_order():
    with pytest.raises(OverflowError):
        Edge(-1, "x", None, None)
    with pytest.raises(TypeError, match="^argument 'centroid': "):
        Node((0, 0), -1, 0)


def borrow_flag(instance):
    """The instance's borrow flag word, the last word of the object."""
    return ctypes.c_size_t.from_address(id(instance) + type(instance).__basicsize__ - WORD)


@pytest.mark.parametrize("cls, make, attributes, payload", CLASSES, ids=lambda v: getattr(v, "__name__", None))
def test_borrow_conflicts(cls, make, attributes, payload):
    instance = make()
    flag = borrow_flag(instance)
    assert flag.value == 0
    values = {attribute: getattr(instance, attribute) for attribute in attributes}
    flag.value = ALL_ONES  # a writer elsewhere
    try:
        for attribute in attributes:
            with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
                getattr(instance, attribute)
            with pytest.raises(RuntimeError, match="^Already borrowed$"):
                setattr(instance, attribute, values[attribute])
        flag.value = 2  # two readers elsewhere
        for attribute in attributes:
            getattr(instance, attribute)
            with pytest.raises(RuntimeError, match="^Already borrowed$"):
                setattr(instance, attribute, values[attribute])
        assert flag.value == 2
    finally:
        flag.value = 0
    for attribute in attributes:
        setattr(instance, attribute, values[attribute])
    assert flag.value == 0


def test_bad_value_reported_before_borrow_conflict():
    point = Point(1, 2)
    flag = borrow_flag(point)
    flag.value = ALL_ONES
    try:
        with pytest.raises(TypeError, match="^argument 'x': "):
            point.x = "bad"
    finally:
        flag.value = 0


def test_exclusively_borrowed_point_cannot_be_converted():
    source = Point(1, 2)
    flag = borrow_flag(source)
    flag.value = ALL_ONES
    try:
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            Node(source, 0, 0)
    finally:
        flag.value = 0


def test_no_reference_leaks():
    point = Point(1, 2)
    values = [10**12 % 7, 1.5, point]

    def counts():
        # Instances freed by a collection in between would lower the types' counts.
        gc.collect()
        return [sys.getrefcount(v) for v in values] + [sys.getrefcount(Point), sys.getrefcount(Edge)]

    before = counts()
    for _ in range(1000):
        edge = Edge(values[0], 1, point, point)
        edge.left = point
        edge.left.x = values[1]
        Point(values[1], values[1]).y
        del edge
        try:
            Edge(0, 0, point, (0, 0))
        except TypeError:
            pass
    assert counts() == before
