// The Python error that module code carries until the call boundary raises it.
// Lazy errors hold an exception type and what its argument is made from, and are
// materialised only when raised, printed or inspected; normalised errors hold the
// exception triple. Module code never sets the interpreter's error indicator itself:
// it throws `PythonError` and the call boundary raises the state.
#pragma once

#include <string>
#include <variant>

#include "python/panic.hpp"
#include "python/refs.hpp"

namespace walkmesh {

class ErrorState {
public:
    // A failed cast of `object` to `target`: "'{type}' object cannot be cast as '{target}'",
    // the names read from `__qualname__` when the message is materialised.
    struct CastFailure {
        OwnedRef object_type;
        OwnedRef target_type;
    };

    // `type` is borrowed from a process-wide exception class (PyExc_*).
    static ErrorState lazy(PyObject* type, std::string message);
    // A ready-made argument object (a str, or a tuple of arguments).
    static ErrorState lazy_object(PyObject* type, OwnedRef argument);
    static ErrorState cast_failure(PyObject* object, PyObject* target_type);
    static ErrorState missing_exception();
    static ErrorState normalized(OwnedRef type, OwnedRef value, OwnedRef traceback);

    // Takes the calling thread's current exception, normalised. A missing exception gives
    // the SystemError of missing_exception(). A PanicException does not return: it
    // continues as an internal failure of this module.
    static ErrorState fetch();
    // Like fetch(), but a PanicException is returned like any other exception.
    static ErrorState take_current();

    ErrorState(ErrorState&&) noexcept = default;
    ErrorState& operator=(ErrorState&&) noexcept = default;

    // Makes this the calling thread's current exception. A lazy error is normalised at
    // once, so the instance exists when the entry returns.
    void raise() &&;

    // Materialises a lazy error; afterwards type(), value() and traceback() are set.
    void normalize();
    PyObject* type();
    PyObject* value();
    PyObject* traceback();

    // "PyErr { type: ..., value: ..., traceback: ... }", used inside failure messages.
    std::string render();

private:
    struct Lazy {
        OwnedRef type;
        std::variant<std::string, OwnedRef, CastFailure> argument;
    };
    struct Normalized {
        OwnedRef type;
        OwnedRef value;
        OwnedRef traceback;
    };

    explicit ErrorState(Lazy lazy) noexcept : state_(std::move(lazy)) {}
    explicit ErrorState(Normalized normalized) noexcept : state_(std::move(normalized)) {}

    static void set_lazy(Lazy& lazy);
    Normalized& as_normalized();

    std::variant<Lazy, Normalized> state_;
};

// Thrown to carry an error to the call boundary.
struct PythonError {
    ErrorState state;
};

[[noreturn]] void throw_error(ErrorState state);
[[noreturn]] void throw_error(PyObject* type, std::string message);
// Throws the calling thread's current exception (see ErrorState::fetch).
[[noreturn]] void throw_fetched();

// A new reference from a C-API call, or the interpreter's error thrown.
OwnedRef require(PyObject* new_reference);
// A status from a C-API call (-1 on failure), or the interpreter's error thrown.
int require_status(int status);

// An interpreter call that creates an object (a float, a string, a tuple, a list) and
// should not fail: on failure the pending error is printed and an internal failure
// "Python API call failed" follows.
OwnedRef expect_object(PyObject* new_reference, SourceLocation where = here());
[[noreturn]] void fail_python_call(SourceLocation where);

}  // namespace walkmesh
