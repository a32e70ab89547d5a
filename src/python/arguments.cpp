// Binding errors, the argument wrapper and the integer and float conversions.
#include "python/arguments.hpp"

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "python/text.hpp"

namespace walkmesh {
namespace {

constexpr std::uint64_t kU32Max = 0xFFFFFFFFu;
constexpr const char* kOutOfRange = "out of range integral type conversion attempted";

[[noreturn]] void throw_type_error(std::string message) { throw_error(PyExc_TypeError, std::move(message)); }

[[noreturn]] void too_many_positional(const Signature& signature, Py_ssize_t given) {
    throw_type_error(std::string(signature.display_name) + " takes " +
                     std::to_string(signature.parameters.size()) + " positional arguments but " +
                     std::to_string(given) + (given == 1 ? " was" : " were") + " given");
}

[[noreturn]] void unexpected_keyword(const Signature& signature, PyObject* keyword) {
    OwnedRef name = str_or_unprintable(keyword);
    OwnedRef message = expect_object(PyUnicode_FromFormat(
        "%s got an unexpected keyword argument '%U'", signature.display_name, name.get()));
    throw_error(ErrorState::lazy_object(PyExc_TypeError, std::move(message)));
}

[[noreturn]] void multiple_values(const Signature& signature, std::size_t slot) {
    throw_type_error(std::string(signature.display_name) + " got multiple values for argument '" +
                     signature.parameters[slot] + "'");
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_list(const std::vector<const char*>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            list += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        }
        list += std::string("'") + names[i] + "'";
    }
    return list;
}

void check_complete(const Signature& signature, std::span<PyObject*> slots) {
    std::vector<const char*> missing;
    for (std::size_t slot = 0; slot < slots.size(); ++slot) {
        if (slots[slot] == nullptr) {
            missing.push_back(signature.parameters[slot]);
        }
    }
    if (missing.empty()) {
        return;
    }
    throw_type_error(std::string(signature.display_name) + " missing " + std::to_string(missing.size()) +
                     " required positional " + (missing.size() == 1 ? "argument" : "arguments") + ": " +
                     quoted_list(missing));
}

void bind_positional(const Signature& signature, PyObject* const* arguments, Py_ssize_t count,
                     std::span<PyObject*> slots) {
    if (static_cast<std::size_t>(count) > slots.size()) {
        too_many_positional(signature, count);
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        slots[static_cast<std::size_t>(i)] = arguments[i];
    }
}

// The slot a keyword names, or slots.size() for a name that is no parameter (including
// a name that cannot be encoded as UTF-8).
std::size_t keyword_slot(const Signature& signature, PyObject* keyword) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_Check(keyword) ? PyUnicode_AsUTF8AndSize(keyword, &size) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();
        return signature.parameters.size();
    }
    const std::string_view name(text, static_cast<std::size_t>(size));
    for (std::size_t slot = 0; slot < signature.parameters.size(); ++slot) {
        if (name == signature.parameters[slot]) {
            return slot;
        }
    }
    return signature.parameters.size();
}

void bind_keyword(const Signature& signature, PyObject* keyword, PyObject* value, std::span<PyObject*> slots) {
    const std::size_t slot = keyword_slot(signature, keyword);
    if (slot == slots.size()) {
        unexpected_keyword(signature, keyword);
    }
    if (slots[slot] != nullptr) {
        multiple_values(signature, slot);
    }
    slots[slot] = value;
}

[[noreturn]] void out_of_range() { throw_error(PyExc_OverflowError, kOutOfRange); }

}  // namespace

void bind_fastcall(const Signature& signature, PyObject* const* arguments, Py_ssize_t positional_count,
                   PyObject* keyword_names, std::span<PyObject*> slots) {
    bind_positional(signature, arguments, positional_count, slots);
    if (keyword_names != nullptr) {
        const Py_ssize_t keyword_count = PyTuple_GET_SIZE(keyword_names);
        for (Py_ssize_t i = 0; i < keyword_count; ++i) {
            bind_keyword(signature, PyTuple_GET_ITEM(keyword_names, i), arguments[positional_count + i], slots);
        }
    }
    check_complete(signature, slots);
}

void bind_tuple_and_dict(const Signature& signature, PyObject* arguments, PyObject* keywords,
                         std::span<PyObject*> slots) {
    bind_positional(signature, reinterpret_cast<PyTupleObject*>(arguments)->ob_item, PyTuple_GET_SIZE(arguments),
                    slots);
    if (keywords != nullptr) {
        Py_ssize_t position = 0;
        PyObject* keyword = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(keywords, &position, &keyword, &value)) {
            bind_keyword(signature, keyword, value, slots);
        }
    }
    check_complete(signature, slots);
}

ErrorState wrap_argument_error(const char* name, ErrorState error) {
    if (error.type() != PyExc_TypeError) {
        return error;
    }
    OwnedRef text = str_or_unprintable(error.value());
    OwnedRef message = expect_object(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
    ErrorState wrapped = ErrorState::lazy_object(PyExc_TypeError, std::move(message));
    // The cause carries over; the conversion's own error is not chained.
    PyException_SetCause(wrapped.value(), PyException_GetCause(error.value()));
    return wrapped;
}

std::uint32_t to_u32(PyObject* object) {
    unsigned long long value = 0;
    if (PyLong_Check(object)) {
        value = PyLong_AsUnsignedLongLong(object);
    } else {
        OwnedRef index = require(PyNumber_Index(object));
        value = PyLong_AsUnsignedLongLong(index.get());
    }
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        throw_fetched();
    }
    if (value > kU32Max) {
        out_of_range();
    }
    return static_cast<std::uint32_t>(value);
}

std::uint8_t to_u8(PyObject* object) {
    long value = 0;
    if (PyLong_Check(object)) {
        value = PyLong_AsLong(object);
    } else {
        OwnedRef index = require(PyNumber_Index(object));
        value = PyLong_AsLong(index.get());
    }
    if (value == -1 && PyErr_Occurred()) {
        throw_fetched();
    }
    if (value < 0 || value > 255) {
        out_of_range();
    }
    return static_cast<std::uint8_t>(value);
}

float to_f32(PyObject* object) {
    const double value = PyFloat_CheckExact(object) ? PyFloat_AS_DOUBLE(object) : PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) {
        throw_fetched();
    }
    // Halfway between the largest float and 2^128: from here on, rounding gives infinity.
    constexpr double kRoundsToInfinity = 0x1.ffffffp127;
    if (std::fabs(value) >= kRoundsToInfinity) {
        return std::signbit(value) ? -HUGE_VALF : HUGE_VALF;
    }
    return static_cast<float>(value);
}

}  // namespace walkmesh
