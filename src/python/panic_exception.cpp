// The PanicException class: a BaseException, so that `except Exception` lets it pass.
#include "python/panic_exception.hpp"

#include "python/error_state.hpp"
#include "python/once_cell.hpp"
#include "python/panic.hpp"

namespace walkmesh {
namespace {

constexpr const char* kName = "pyo3_runtime.PanicException";
constexpr const char* kDoc =
    "Raised when walkmesh's own code fails unexpectedly while it is called from Python.\n"
    "\n"
    "Like SystemExit, it derives from BaseException, so that it usually propagates "
    "through the whole stack and makes the interpreter exit.";

OnceCell<PyObject*> panic_type_cell;

PyObject* create_panic_exception_type() {
    PyObject* type = PyErr_NewExceptionWithDoc(kName, kDoc, PyExc_BaseException, nullptr);
    if (type == nullptr) {
        // Without the class no failure can be raised at all: nothing sensible is left.
        std::string error = ErrorState::take_current().render();
        without_unwinding([&] { panic("Failed to initialize new exception type.: " + error, here()); });
    }
    return type;
}

}  // namespace

PyObject* panic_exception_type() { return panic_type_cell.get_or_fill(create_panic_exception_type); }

}  // namespace walkmesh
