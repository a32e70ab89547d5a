// Ownership of interpreter objects. `OwnedRef` holds one strong reference and releases
// it when it goes; `BorrowedRef` is a plain pointer that owns nothing. The factories
// say whether they take over a reference (`steal`) or add one (`new_ref`).
// Every function that owns a PyObject* keeps it in an OwnedRef. Needs the GIL.
#pragma once

#include <utility>

#include "python/python.hpp"

namespace walkmesh {

using BorrowedRef = PyObject*;

class OwnedRef {
public:
    OwnedRef() noexcept = default;
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    OwnedRef(OwnedRef&& other) noexcept : object_(other.release()) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~OwnedRef() { Py_XDECREF(object_); }

    // Takes over a reference the caller owns (a new reference from the C API); may be null.
    static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }
    // Adds a reference of its own to a borrowed object; may be null.
    static OwnedRef new_ref(PyObject* object) noexcept {
        Py_XINCREF(object);
        return OwnedRef(object);
    }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference to the caller.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    // Drops the current reference and takes over `object`.
    void reset(PyObject* object = nullptr) noexcept {
        PyObject* old = std::exchange(object_, object);
        Py_XDECREF(old);
    }

private:
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace walkmesh
