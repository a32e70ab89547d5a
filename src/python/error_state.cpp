// Materialising, raising, fetching and rendering Python errors.
#include "python/error_state.hpp"

#include <unistd.h>

#include <string_view>

#include "python/panic.hpp"
#include "python/panic_exception.hpp"
#include "python/text.hpp"

namespace walkmesh {
namespace {

constexpr std::string_view kResumeBanner =
    "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n";

OwnedRef new_text(const std::string& text) {
    OwnedRef object = OwnedRef::steal(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!object) {
        fail_python_call(here());
    }
    return object;
}

std::string cast_failure_message(const ErrorState::CastFailure& cast) {
    const std::string from =
        type_qualname(cast.object_type.get()).value_or("<failed to extract type name>");
    const std::string to =
        type_qualname(cast.target_type.get()).value_or("<failed to extract type name>");
    return "'" + from + "' object cannot be cast as '" + to + "'";
}

bool is_exception_class(PyObject* type) {
    return PyType_Check(type) &&
           PyType_FastSubclass(reinterpret_cast<PyTypeObject*>(type), Py_TPFLAGS_BASE_EXC_SUBCLASS);
}

void write_stderr(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

// The message a fetched PanicException carries on into this module's failure.
std::string panic_message(PyObject* value) {
    OwnedRef text = OwnedRef::steal(PyObject_Str(value));
    if (!text) {
        PyErr_Clear();
        return "Unwrapped panic from Python code";
    }
    return utf8_lossy(text.get());
}

std::string traceback_text(PyObject* traceback) {
    OwnedRef io = OwnedRef::steal(PyImport_ImportModule("io"));
    OwnedRef buffer = io ? OwnedRef::steal(PyObject_CallMethod(io.get(), "StringIO", nullptr)) : OwnedRef();
    OwnedRef text;
    if (buffer && PyTraceBack_Print(traceback, buffer.get()) == 0) {
        text = OwnedRef::steal(PyObject_CallMethod(buffer.get(), "getvalue", nullptr));
    }
    if (text && PyUnicode_Check(text.get())) {
        return quoted_escaped(utf8_lossy(text.get()));
    }
    if (PyErr_Occurred()) {
        PyErr_WriteUnraisable(traceback);
    }
    OwnedRef repr = repr_or_unprintable(traceback);
    return "<unformattable " + utf8_lossy(repr.get()) + ">";
}

}  // namespace

ErrorState ErrorState::lazy(PyObject* type, std::string message) {
    return ErrorState(Lazy{OwnedRef::new_ref(type), std::move(message)});
}

ErrorState ErrorState::lazy_object(PyObject* type, OwnedRef argument) {
    return ErrorState(Lazy{OwnedRef::new_ref(type), std::move(argument)});
}

ErrorState ErrorState::cast_failure(PyObject* object, PyObject* target_type) {
    CastFailure cast{OwnedRef::new_ref(reinterpret_cast<PyObject*>(Py_TYPE(object))),
                     OwnedRef::new_ref(target_type)};
    return ErrorState(Lazy{OwnedRef::new_ref(PyExc_TypeError), std::move(cast)});
}

ErrorState ErrorState::missing_exception() {
    return lazy(PyExc_SystemError, "attempted to fetch exception but none was set");
}

ErrorState ErrorState::normalized(OwnedRef type, OwnedRef value, OwnedRef traceback) {
    return ErrorState(Normalized{std::move(type), std::move(value), std::move(traceback)});
}

ErrorState ErrorState::take_current() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        Py_XDECREF(value);
        Py_XDECREF(traceback);
        return missing_exception();
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    return normalized(OwnedRef::steal(type), OwnedRef::steal(value), OwnedRef::steal(traceback));
}

ErrorState ErrorState::fetch() {
    if (!PyErr_Occurred()) {
        return missing_exception();
    }
    ErrorState state = take_current();
    // Compared by identity, so the class is created here at the latest.
    if (state.type() != panic_exception_type()) {
        return state;
    }
    std::string message = panic_message(state.value());
    write_stderr(kResumeBanner);
    std::move(state).raise();
    PyErr_PrintEx(0);
    resume_panic(std::move(message), here());
}

void ErrorState::set_lazy(Lazy& lazy) {
    if (!is_exception_class(lazy.type.get())) {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
        return;
    }
    OwnedRef argument;
    if (auto* message = std::get_if<std::string>(&lazy.argument)) {
        argument = new_text(*message);
    } else if (auto* object = std::get_if<OwnedRef>(&lazy.argument)) {
        argument = OwnedRef::new_ref(object->get());
    } else {
        argument = new_text(cast_failure_message(std::get<CastFailure>(lazy.argument)));
    }
    PyErr_SetObject(lazy.type.get(), argument.get());
}

void ErrorState::normalize() {
    if (auto* lazy = std::get_if<Lazy>(&state_)) {
        set_lazy(*lazy);
        *this = take_current();
    }
}

ErrorState::Normalized& ErrorState::as_normalized() {
    normalize();
    return std::get<Normalized>(state_);
}

PyObject* ErrorState::type() { return as_normalized().type.get(); }
PyObject* ErrorState::value() { return as_normalized().value.get(); }
PyObject* ErrorState::traceback() { return as_normalized().traceback.get(); }

void ErrorState::raise() && {
    Normalized& triple = as_normalized();
    PyErr_Restore(triple.type.release(), triple.value.release(), triple.traceback.release());
}

std::string ErrorState::render() {
    Normalized& triple = as_normalized();
    OwnedRef type_repr = repr_or_unprintable(triple.type.get());
    OwnedRef value_repr = repr_or_unprintable(triple.value.get());
    const std::string traceback =
        triple.traceback ? "Some(" + traceback_text(triple.traceback.get()) + ")" : "None";
    return "PyErr { type: " + utf8_lossy(type_repr.get()) + ", value: " + utf8_lossy(value_repr.get()) +
           ", traceback: " + traceback + " }";
}

void throw_error(ErrorState state) { throw PythonError{std::move(state)}; }

void throw_error(PyObject* type, std::string message) {
    throw_error(ErrorState::lazy(type, std::move(message)));
}

void throw_fetched() { throw_error(ErrorState::fetch()); }

OwnedRef require(PyObject* new_reference) {
    if (new_reference == nullptr) {
        throw_fetched();
    }
    return OwnedRef::steal(new_reference);
}

int require_status(int status) {
    if (status == -1) {
        throw_fetched();
    }
    return status;
}

OwnedRef expect_object(PyObject* new_reference, SourceLocation where) {
    if (new_reference == nullptr) {
        fail_python_call(where);
    }
    return OwnedRef::steal(new_reference);
}

void fail_python_call(SourceLocation where) {
    if (PyErr_Occurred()) {
        PyErr_Print();
    }
    panic("Python API call failed", where);
}

}  // namespace walkmesh
