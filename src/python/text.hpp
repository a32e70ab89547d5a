// Turning Python objects into text for messages and failure reports. Values whose
// `str()` or `repr()` raises are reported through the unraisable-exception hook and
// shown as "<unprintable {qualname} object>" instead of failing a second time.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "python/refs.hpp"

namespace walkmesh {

// The `__qualname__` of a type object, if it can be read as a string.
std::optional<std::string> type_qualname(PyObject* type);

// `str(object)` (or `repr(object)`) as a Python str, never null (new reference).
OwnedRef str_or_unprintable(PyObject* object);
OwnedRef repr_or_unprintable(PyObject* object);

// The UTF-8 text of a Python str: unpaired surrogates are passed through, then
// invalid sequences replaced by U+FFFD. Never fails (a failure gives "").
std::string utf8_lossy(PyObject* str);

// Replaces each maximal invalid UTF-8 sequence with U+FFFD.
std::string repair_utf8(std::string_view bytes);

// `text` as a double-quoted string with escapes, as it appears inside a rendered error.
std::string quoted_escaped(std::string_view text);

}  // namespace walkmesh
