// Text of Python objects for messages, with the fallbacks for unprintable values.
#include "python/text.hpp"

#include <cstdio>

namespace walkmesh {
namespace {

OwnedRef unprintable_text(PyObject* object) {
    const std::optional<std::string> name = type_qualname(reinterpret_cast<PyObject*>(Py_TYPE(object)));
    const std::string text = name ? "<unprintable " + *name + " object>" : "<unprintable object>";
    return OwnedRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

OwnedRef text_or_unprintable(PyObject* object, PyObject* (*to_text)(PyObject*)) {
    if (OwnedRef text = OwnedRef::steal(to_text(object))) {
        return text;
    }
    PyErr_WriteUnraisable(object);
    return unprintable_text(object);
}

// Length of the well-formed sequence starting at `bytes[at]`, or the length of its
// maximal invalid prefix (at least 1) negated.
int sequence_length(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return -1;
    }
    for (int i = 1; i < length; ++i) {
        if (at + i >= bytes.size()) {
            return -i;
        }
        const unsigned char next = byte(at + i);
        const bool ok = i == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
        if (!ok) {
            return -i;
        }
    }
    return length;
}

}  // namespace

std::optional<std::string> type_qualname(PyObject* type) {
    OwnedRef name = OwnedRef::steal(PyObject_GetAttrString(type, "__qualname__"));
    if (!name || !PyUnicode_Check(name.get())) {
        PyErr_Clear();
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (data == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

OwnedRef str_or_unprintable(PyObject* object) { return text_or_unprintable(object, PyObject_Str); }

OwnedRef repr_or_unprintable(PyObject* object) { return text_or_unprintable(object, PyObject_Repr); }

std::string utf8_lossy(PyObject* str) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(str, &size)) {
        return std::string(data, static_cast<std::size_t>(size));
    }
    PyErr_Clear();
    OwnedRef bytes = OwnedRef::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    if (!bytes) {
        PyErr_Clear();
        return {};
    }
    return repair_utf8(std::string_view(PyBytes_AS_STRING(bytes.get()),
                                        static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get()))));
}

std::string repair_utf8(std::string_view bytes) {
    std::string repaired;
    repaired.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const int length = sequence_length(bytes, at);
        if (length > 0) {
            repaired.append(bytes.substr(at, static_cast<std::size_t>(length)));
            at += static_cast<std::size_t>(length);
        } else {
            repaired.append("\xEF\xBF\xBD");
            at += static_cast<std::size_t>(-length);
        }
    }
    return repaired;
}

std::string quoted_escaped(std::string_view text) {
    std::string quoted = "\"";
    for (std::size_t at = 0; at < text.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        switch (c) {
            case '\t': quoted += "\\t"; continue;
            case '\r': quoted += "\\r"; continue;
            case '\n': quoted += "\\n"; continue;
            case '\\': quoted += "\\\\"; continue;
            case '"': quoted += "\\\""; continue;
            case '\0': quoted += "\\0"; continue;
            default: break;
        }
        if (c < 0x20 || c == 0x7F) {
            char escape[16];
            std::snprintf(escape, sizeof escape, "\\u{%x}", c);
            quoted += escape;
        } else if (c == 0xC2 && at + 1 < text.size() &&
                   static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
            // C1 control characters, U+0080 to U+009F.
            char escape[16];
            std::snprintf(escape, sizeof escape, "\\u{%x}", static_cast<unsigned char>(text[at + 1]));
            quoted += escape;
            ++at;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    quoted += '"';
    return quoted;
}

}  // namespace walkmesh
