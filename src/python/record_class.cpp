// Type creation, allocation and the shared field helpers of the record classes.
#include "python/record_class.hpp"

#include <cstring>
#include <string>

namespace walkmesh {

SharedBorrow::SharedBorrow(BorrowFlag& flag) : flag_(flag) {
    if (!flag_.try_acquire_shared()) {
        throw_error(PyExc_RuntimeError, "Already mutably borrowed");
    }
}

ExclusiveBorrow::ExclusiveBorrow(BorrowFlag& flag) : flag_(flag) {
    if (!flag_.try_acquire_exclusive()) {
        throw_error(PyExc_RuntimeError, "Already borrowed");
    }
}

namespace {

// Some interpreters keep only the text after the signature in a heap type's doc slot;
// the full text is put back so that `__text_signature__` reports the parameters.
void restore_doc_with_signature(PyTypeObject* type, const char* doc) {
    if (type->tp_doc != nullptr && std::strcmp(type->tp_doc, doc) == 0) {
        return;
    }
    const std::size_t size = std::strlen(doc) + 1;
    char* copy = static_cast<char*>(PyObject_Malloc(size));
    if (copy == nullptr) {
        // The interpreter's allocator failing is a MemoryError, so that a later import can retry.
        PyErr_NoMemory();
        throw_fetched();
    }
    std::memcpy(copy, doc, size);
    PyObject_Free(const_cast<char*>(type->tp_doc));
    type->tp_doc = copy;
}

}  // namespace

PyTypeObject* create_record_type(const RecordTypeSpec& spec) {
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(spec.doc)},
        {Py_tp_new, reinterpret_cast<void*>(spec.constructor)},
        {Py_tp_getset, spec.attributes},
        {Py_tp_dealloc, reinterpret_cast<void*>(deallocate_record)},
        {0, nullptr},
    };
    PyType_Spec type_spec = {spec.qualified_name, spec.basic_size, 0, Py_TPFLAGS_DEFAULT, slots};
    OwnedRef type = require(PyType_FromSpec(&type_spec));
    restore_doc_with_signature(reinterpret_cast<PyTypeObject*>(type.get()), spec.doc);
    return reinterpret_cast<PyTypeObject*>(type.release());
}

PyObject* allocate_record(PyTypeObject* type) {
    allocfunc allocate = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
    PyObject* object = allocate(type, 0);
    if (object == nullptr) {
        throw_fetched();
    }
    return object;
}

void deallocate_record(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyTypeObject* type_or_internal_failure(PyTypeObject* (*type_or_error)(), const char* name) {
    try {
        return type_or_error();
    } catch (PythonError& error) {
        std::move(error.state).raise();
        PyErr_WriteUnraisable(nullptr);
        panic(std::string("failed to create type object for `") + name + "`", here());
    }
}

void refuse_deletion() { throw_error(PyExc_AttributeError, "can't delete attribute"); }

OwnedRef float_object(float value) { return expect_object(PyFloat_FromDouble(static_cast<double>(value))); }

OwnedRef u32_object(std::uint32_t value) { return expect_object(PyLong_FromUnsignedLongLong(value)); }

}  // namespace walkmesh
