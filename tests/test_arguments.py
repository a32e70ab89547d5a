"""Argument binding and conversion errors, shared by find_path and the three constructors."""
import pytest

from walkmesh import Edge, Node, Point, find_path

P = Point(0, 0)

# (callable, display name, parameter names, valid arguments)
CALLABLES = [
    (find_path, "find_path()", ["nodes", "edges", "start", "target", "target_point"], None),
    (Point, "Point.__new__()", ["x", "y"], [1.0, 2.0]),
    (Node, "Node.__new__()", ["centroid", "edge_start", "edge_count"], [P, 1, 2]),
    (Edge, "Edge.__new__()", ["to", "cost", "left", "right"], [1, 2, P, P]),
]
IDS = [entry[1] for entry in CALLABLES]


def arguments_for(parameters, valid):
    return list(valid) if valid is not None else [object()] * len(parameters)


def raises_type_error(function, *args, **kwargs):
    with pytest.raises(TypeError) as caught:
        function(*args, **kwargs)
    assert type(caught.value) is TypeError
    return str(caught.value)


@pytest.mark.parametrize("function, name, parameters, valid", CALLABLES, ids=IDS)
def test_too_many_positional(function, name, parameters, valid):
    args = arguments_for(parameters, valid)
    n = len(parameters)
    message = raises_type_error(function, *args, 0)
    assert message == f"{name} takes {n} positional arguments but {n + 1} were given"
    # Counted before any keyword is looked at.
    message = raises_type_error(function, *args, 0, 0, bogus=1)
    assert message == f"{name} takes {n} positional arguments but {n + 2} were given"


def test_too_many_positional_singular_verb():
    # Only reachable with one parameter fewer than given; the wording still follows the count.
    message = raises_type_error(find_path, *[0] * 6)
    assert message.endswith("but 6 were given")


@pytest.mark.parametrize("function, name, parameters, valid", CALLABLES, ids=IDS)
def test_unexpected_and_duplicate_keywords(function, name, parameters, valid):
    args = arguments_for(parameters, valid)
    assert raises_type_error(function, *args, z=0) == f"{name} got an unexpected keyword argument 'z'"
    first = parameters[0]
    assert raises_type_error(function, *args, **{first: 0}) == f"{name} got multiple values for argument '{first}'"
    # Names match exactly: case and length matter.
    upper = first.upper()
    assert raises_type_error(function, *args[1:], **{upper: 0}) == (
        f"{name} got an unexpected keyword argument '{upper}'"
    )


def test_first_bad_keyword_wins():
    message = raises_type_error(find_path, 1, 2, 3, 4, 5, nodes=1, bogus=2)
    assert message == "find_path() got multiple values for argument 'nodes'"
    message = raises_type_error(find_path, bogus=2, nodes=1)
    assert message == "find_path() got an unexpected keyword argument 'bogus'"


def test_keyword_that_is_not_utf8_counts_as_unknown():
    message = raises_type_error(find_path, **{"\udc80": 1})
    assert message == "find_path() got an unexpected keyword argument '\udc80'"


@pytest.mark.parametrize(
    "function, name, parameters, valid", CALLABLES, ids=IDS
)
def test_missing_arguments_listed_in_order(function, name, parameters, valid):
    quoted = [f"'{p}'" for p in parameters]
    if len(quoted) == 2:
        listing = " and ".join(quoted)
    else:
        listing = ", ".join(quoted[:-1]) + ", and " + quoted[-1]
    assert raises_type_error(function) == f"{name} missing {len(parameters)} required positional arguments: {listing}"
    args = arguments_for(parameters, valid)
    one_missing = raises_type_error(function, *args[:-1])
    assert one_missing == f"{name} missing 1 required positional argument: '{parameters[-1]}'"


def test_missing_names_every_empty_slot():
    message = raises_type_error(find_path, 1, 2, target_point=3)
    assert message == "find_path() missing 2 required positional arguments: 'start' and 'target'"
    message = raises_type_error(find_path, edges=1)
    assert message == (
        "find_path() missing 4 required positional arguments: 'nodes', 'start', 'target', and 'target_point'"
    )


def test_keywords_bind_in_any_order():
    assert Edge(right=P, left=Point(5, 0), cost=3, to=2).left.x == 5.0
    assert Node(P, edge_count=7, edge_start=6).edge_count == 7
    assert Point(1, y=2).y == 2.0


class IndexRaises:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


class TypeErrorSubclass(TypeError):
    pass


def test_u32_conversion_errors():
    with pytest.raises(OverflowError) as caught:
        Edge(-1, 2, P, P)
    assert not str(caught.value).startswith("argument")
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        Edge(2**32, 2, P, P)
    with pytest.raises(OverflowError) as caught:
        Edge(2**64, 2, P, P)
    assert str(caught.value) != "out of range integral type conversion attempted"
    assert raises_type_error(Edge, 1.5, 2, P, P).startswith("argument 'to': ")
    assert raises_type_error(Edge, "1", 2, P, P).startswith("argument 'to': ")


class Seven:
    def __index__(self):
        return 7


def test_u32_conversion_accepts_index_and_bool():
    assert Edge(True, Seven(), P, P).cost == 7
    assert Edge(True, 0, P, P).to == 1
    assert Edge(4294967295, 0, P, P).to == 4294967295


def test_type_error_subclass_passes_unwrapped():
    error = TypeErrorSubclass("from __index__")
    with pytest.raises(TypeErrorSubclass) as caught:
        Edge(IndexRaises(error), 0, P, P)
    assert caught.value is error


def test_wrapped_type_error_keeps_cause_and_drops_chain():
    cause = ValueError("root")
    error = TypeError("inner")
    error.__cause__ = cause
    with pytest.raises(TypeError) as caught:
        Edge(IndexRaises(error), 0, P, P)
    assert str(caught.value) == "argument 'to': inner"
    assert caught.value.__cause__ is cause
    assert caught.value is not error


def test_first_bad_argument_in_parameter_order_is_reported():
    with pytest.raises(OverflowError):
        Edge(-1, "x", None, None)
    assert raises_type_error(Node, P, 1.0, -1).startswith("argument 'edge_start': ")


def test_error_raised_in_except_block_gets_context_and_no_cause():
    try:
        raise KeyError("handled")
    except KeyError as handled:
        try:
            Point("x", 0)
        except TypeError as error:
            assert error.__context__ is handled
            assert error.__cause__ is None


def test_float_conversion():
    assert Point(0.1, 0).x == 0.10000000149011612
    assert Point(1e39, -1e39).x == float("inf")
    assert Point(1e39, -1e39).y == float("-inf")
    assert Point(-1, 0).x == -1.0
    # Narrowing rounds to nearest: just below the midpoint to 2**128 gives the largest
    # float32, the midpoint itself (a tie, to even) gives infinity.
    assert Point(3.4028235e38, 0).x == 3.4028234663852886e38
    assert Point(3.4028235677973366e38, 0).x == float("inf")
    x = Point(float("nan"), 0).x
    assert x != x
    assert Point(2**1000, 0).x == float("inf")
    with pytest.raises(OverflowError):
        Point(2**1100, 0)
    assert raises_type_error(Point, "1", 2).startswith("argument 'x': ")
    assert raises_type_error(Point, 1, None).startswith("argument 'y': ")


def test_float_conversion_uses_dunder_float():
    class Half:
        def __float__(self):
            return 0.5

    assert Point(Half(), 0).x == 0.5
