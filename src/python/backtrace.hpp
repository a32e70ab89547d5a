// Stack backtraces for failure reports: the calling thread's frames, symbolised
// (function, source file and line where debug information has them) and demangled.
#pragma once

#include <cstdint>

#include "python/fd_writer.hpp"

namespace walkmesh::detail {

enum class BacktraceStyle : std::uint8_t {
    unset,
    off,
    // From the failing function outwards, within the object file that holds it.
    brief,
    // Every frame, the failure machinery's own included, with its address.
    full,
};

// Writes the frames of the calling thread in `style` (brief or full). `failing_caller`
// is the return address into the function that raised the failure: the brief style
// starts at that frame. Call it under the report lock only: the symboliser and its
// demangling buffer are shared by the whole process.
void write_backtrace(FdWriter& out, BacktraceStyle style, const void* failing_caller) noexcept;

}  // namespace walkmesh::detail
