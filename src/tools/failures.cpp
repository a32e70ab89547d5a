// The companion's call boundary, and the hooks it brings in place of walkmesh's: its
// storage failures throw, and it has no PanicException, so a Python exception met in a
// conversion passes on unchanged.
#include "tools/failures.hpp"

#include <exception>
#include <new>
#include <string>

#include "boundary/error_state.hpp"
#include "boundary/memory.hpp"
#include "boundary/panic_exception.hpp"
#include "route.hpp"

namespace walkmesh {

void storage_too_large(SourceLocation) { throw tools::StorageFailure{0}; }

void storage_unavailable(std::size_t bytes) { throw tools::StorageFailure{bytes}; }

// Never equal to a fetched exception's type.
PyObject* panic_exception_type() { return nullptr; }

namespace tools {
namespace {

void set_error(PyObject* type, const std::string& message) noexcept {
    PyErr_SetString(type, message.c_str());
}

std::string storage_message(const StorageFailure& failure) {
    if (failure.bytes == 0) {
        return "the result is too large for one allocation";
    }
    return "cannot allocate " + std::to_string(failure.bytes) + " bytes";
}

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
    } catch (const GraphFault& fault) {
        const bool index = fault.kind != GraphFault::Kind::graph;
        set_error(index ? PyExc_IndexError : PyExc_ValueError, fault.message);
    } catch (const StorageFailure& failure) {
        set_error(PyExc_MemoryError, storage_message(failure));
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
