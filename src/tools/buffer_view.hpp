// A read-only, C-contiguous buffer of an array argument of one expected layout, for
// the batches and the mesh, which read their arrays in place.
#pragma once

#include <string>

#include "python/arguments.hpp"
#include "python/error_state.hpp"
#include "python/refs.hpp"

namespace walkmesh::tools {

// A read-only, C-contiguous buffer of an argument, released with it.
class BufferView {
public:
    BufferView(const char* name, PyObject* object, char kind, Py_ssize_t item_size, int dimensions) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) == -1) {
            convert_argument(name, [] { throw_fetched(); });
        }
        held_ = true;
        const char* format = view_.format != nullptr ? view_.format : "B";
        // Native byte order only: an optional '@', '=' or '<' before the type character.
        if (*format == '@' || *format == '=' || *format == '<') {
            ++format;
        }
        const bool kind_matches = kind == 'i' ? (*format == 'q' || *format == 'l') : *format == kind;
        if (!kind_matches || format[1] != '\0' || view_.itemsize != item_size || view_.ndim != dimensions ||
            (dimensions == 2 && view_.shape[1] != 2)) {
            throw_error(PyExc_TypeError, std::string("argument '") + name + "': not a buffer of the expected layout");
        }
    }
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() {
        if (held_) {
            PyBuffer_Release(&view_);
        }
    }

    Py_ssize_t length() const noexcept { return view_.shape[0]; }
    const void* data() const noexcept { return view_.buf; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

}  // namespace walkmesh::tools
