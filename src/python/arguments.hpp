// Argument binding and conversion for every callable of the module: all parameters
// are required and positional-or-keyword. Binding fills one borrowed slot per
// parameter or throws the binding TypeError; conversion errors pass through the
// argument wrapper, which names the parameter in a TypeError.
#pragma once

#include <cstdint>
#include <span>

#include "python/error_state.hpp"

namespace walkmesh {

struct Signature {
    const char* display_name;  // "find_path()", "Point.__new__()", ...
    std::span<const char* const> parameters;
};

// Fast-call convention: positional arguments, then the values of `keyword_names`.
void bind_fastcall(const Signature& signature, PyObject* const* arguments, Py_ssize_t positional_count,
                   PyObject* keyword_names, std::span<PyObject*> slots);
// Argument tuple and keyword dictionary (constructors).
void bind_tuple_and_dict(const Signature& signature, PyObject* arguments, PyObject* keywords,
                         std::span<PyObject*> slots);

// An exact TypeError becomes "argument '{name}': {text}", keeping the original's cause;
// anything else passes unchanged.
ErrorState wrap_argument_error(const char* name, ErrorState error);

// Runs one conversion and wraps its error with the parameter name.
template <class Convert>
auto convert_argument(const char* name, Convert&& convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (PythonError& error) {
        throw PythonError{wrap_argument_error(name, std::move(error.state))};
    }
}

// The value conversions; each throws PythonError.
std::uint32_t to_u32(PyObject* object);
std::uint8_t to_u8(PyObject* object);
float to_f32(PyObject* object);

}  // namespace walkmesh
