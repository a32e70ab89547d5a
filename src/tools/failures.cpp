// The companion's call boundary and its words for the core's faults (see failures.hpp).
// It has no PanicException, so a Python exception met in a conversion passes on
// unchanged.
#include "tools/failures.hpp"

#include <exception>
#include <new>
#include <string>

#include "python/error_state.hpp"
#include "python/once_cell.hpp"
#include "python/panic_exception.hpp"
#include "python/text.hpp"

namespace walkmesh {

// The fault goes to the call boundary, or to the batch, which names the query.
void raise_fault(const Fault& fault) { throw tools::QueryFault{fault}; }

// Never equal to a fetched exception's type.
PyObject* panic_exception_type() { return nullptr; }

namespace tools {
namespace {

std::string outside_nodes(std::uint64_t node_count) {
    return "outside the node table (" + std::to_string(node_count) + " nodes)";
}

std::string run_reason(const Fault& fault) {
    const std::uint32_t run_count = fault.run_end - fault.run_start;
    return "node " + std::to_string(fault.node) + " has edge_start " + std::to_string(fault.run_start) +
           " and edge_count " + std::to_string(run_count) + ", a run outside the edge table (" +
           std::to_string(fault.table_size) + " edges)";
}

std::string fault_reason(const Fault& fault) {
    const std::string node = std::to_string(fault.node);
    switch (fault.kind) {
    case Fault::Kind::start_index:
        return "start node " + node + " is " + outside_nodes(fault.table_size);
    case Fault::Kind::target_index:
        return "target node " + node + " is " + outside_nodes(fault.table_size);
    case Fault::Kind::expanded_index:
    case Fault::Kind::walk_index:
    case Fault::Kind::predecessor_index:
        return "node " + node + " is " + outside_nodes(fault.table_size);
    case Fault::Kind::expanded_run:
    case Fault::Kind::walk_run:
        return run_reason(fault);
    case Fault::Kind::edge_target:
        return "edge " + std::to_string(fault.edge) + " of node " + node + " leads to node " +
               std::to_string(fault.other) + ", " + outside_nodes(fault.table_size);
    case Fault::Kind::missing_edge:
        return "node " + node + " has no edge to node " + std::to_string(fault.other) + " any more";
    case Fault::Kind::broken_chain:
        return "the route to node " + node +
               " does not lead back to the start: path costs plus estimates exceed 4294967295";
    case Fault::Kind::too_large:
        return "the result is too large for one allocation";
    case Fault::Kind::out_of_memory:
        return "cannot allocate " + std::to_string(fault.table_size) + " bytes";
    }
    return "unknown fault";
}

// walkmesh_tools.QueryError, looked up once.
OnceCell<PyObject*> query_error_cell;

PyObject* query_error_type() {
    return query_error_cell.get_or_fill([] {
        OwnedRef module = require(PyImport_ImportModule("walkmesh_tools.errors"));
        return require(PyObject_GetAttrString(module.get(), "QueryError")).release();
    });
}

OwnedRef optional_index(std::optional<std::size_t> value) {
    return value ? require(PyLong_FromSize_t(*value)) : OwnedRef::new_ref(Py_None);
}

// QueryError(reason, query=..., node=..., edge=...), raised as it is.
[[noreturn]] void throw_query_error(const std::string& reason, std::optional<std::size_t> query, OwnedRef node,
                                    OwnedRef edge) {
    PyObject* type = query_error_type();
    OwnedRef arguments = require(Py_BuildValue("(s#)", reason.data(), static_cast<Py_ssize_t>(reason.size())));
    OwnedRef keywords = require(PyDict_New());
    OwnedRef query_object = optional_index(query);
    require_status(PyDict_SetItemString(keywords.get(), "query", query_object.get()));
    require_status(PyDict_SetItemString(keywords.get(), "node", node ? node.get() : Py_None));
    require_status(PyDict_SetItemString(keywords.get(), "edge", edge ? edge.get() : Py_None));
    OwnedRef error = require(PyObject_Call(type, arguments.get(), keywords.get()));
    PyObject* error_type = reinterpret_cast<PyObject*>(Py_TYPE(error.get()));
    throw_error(ErrorState::normalized(OwnedRef::new_ref(error_type), std::move(error), OwnedRef()));
}

std::string with_query(std::string reason, std::optional<std::size_t> query) {
    return query ? "query " + std::to_string(*query) + ": " + reason : reason;
}

std::string repr_text(PyObject* object) { return utf8_lossy(repr_or_unprintable(object).get()); }

}  // namespace

void throw_node_outside(const char* role, PyObject* node, std::size_t node_count, std::optional<std::size_t> query) {
    throw_query_error(std::string(role) + " node " + repr_text(node) + " is " + outside_nodes(node_count), query,
                      OwnedRef::new_ref(node), OwnedRef());
}

void throw_node_outside(const char* role, std::int64_t node, std::size_t node_count,
                        std::optional<std::size_t> query) {
    OwnedRef index = require(PyLong_FromLongLong(node));
    throw_node_outside(role, index.get(), node_count, query);
}

void throw_point_fault(const std::string& reason, std::optional<std::size_t> query) {
    throw_query_error(reason, query, OwnedRef(), OwnedRef());
}

void throw_fault(const Fault& fault, std::optional<std::size_t> query) {
    if (fault.kind == Fault::Kind::too_large || fault.kind == Fault::Kind::out_of_memory) {
        throw_error(PyExc_MemoryError, with_query(fault_reason(fault), query));
    }
    OwnedRef node = require(PyLong_FromUnsignedLong(fault.node));
    OwnedRef edge;
    if (fault.kind == Fault::Kind::edge_target) {
        edge = require(PyLong_FromUnsignedLongLong(fault.edge));
    }
    throw_query_error(fault_reason(fault), query, std::move(node), std::move(edge));
}

namespace {

void set_error(PyObject* type, const std::string& message) noexcept { PyErr_SetString(type, message.c_str()); }

// Materialising a lazy error runs interpreter calls, which could themselves fail.
void raise_error_state(ErrorState state) noexcept {
    try {
        std::move(state).raise();
    } catch (...) {
        set_error(PyExc_SystemError, "an error could not be raised");
    }
}

}  // namespace

void raise_caught_exception() noexcept {
    try {
        throw;
    } catch (PythonError& error) {
        raise_error_state(std::move(error.state));
    } catch (const QueryFault& fault) {
        try {
            throw_fault(fault.fault);
        } catch (PythonError& error) {
            raise_error_state(std::move(error.state));
        } catch (...) {
            PyErr_NoMemory();
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const InternalFailure& failure) {
        failure_taken_over();
        set_error(PyExc_SystemError, failure.message());
    } catch (const std::exception& exception) {
        set_error(PyExc_SystemError, std::string("unexpected C++ exception: ") + exception.what());
    } catch (...) {
        set_error(PyExc_SystemError, "unexpected C++ exception");
    }
}

}  // namespace tools
}  // namespace walkmesh
