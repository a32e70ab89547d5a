// Internal failures: a violated expectation inside the module (an index or a run
// outside its table, an allocation too large to size, an error that should not
// happen). Raising one writes the failure report to standard error at once, so the
// backtrace shows the failing frame, then unwinds as `InternalFailure` to the call
// boundary, which raises it in Python as PanicException. Also the fatal paths that
// end the process. Nothing here touches the interpreter, so that a report can be
// written from any state; the C++ tests exercise it without one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>

namespace walkmesh {

// Where a check failed. `file` is relative to the source root, e.g. "src/astar".
struct SourceLocation {
    const char* file;
    std::uint32_t line;
    std::uint32_t column;
};

// The location of the calling expression, for checks whose location is not fixed.
// The build maps the source root away, so the file name starts with "src/".
constexpr SourceLocation here(std::source_location at = std::source_location::current()) noexcept {
    return {at.file_name(), at.line(), at.column()};
}

// The one C++ exception type for internal failures. Only the call boundary catches it
// (and tests of the core). Deliberately not a std::exception, so that no generic
// handler can swallow it.
class InternalFailure {
public:
    InternalFailure(std::string message, SourceLocation where) noexcept
        : message_(std::move(message)), where_(where) {}
    const std::string& message() const noexcept { return message_; }
    SourceLocation where() const noexcept { return where_; }

private:
    std::string message_;
    SourceLocation where_;
};

// Writes the failure report and throws InternalFailure. The failure stays "in
// progress" on this thread until failure_taken_over() is called; a failure raised while
// another is in progress on the same thread ends the process.
[[noreturn]] void panic(std::string message, SourceLocation where);

// The fixed message texts. A brief backtrace starts at the function that called
// these, or at `failing_caller` (a return address) when one is given: a hook that
// words a fault for another function passes that function's.
[[noreturn]] void panic_index(std::uint64_t index, std::uint64_t len, SourceLocation where,
                              const void* failing_caller = nullptr);
// A run [start, end) of a table of `len` entries that does not lie within it.
[[noreturn]] void panic_slice(std::uint64_t start, std::uint64_t end, std::uint64_t len,
                              SourceLocation where, const void* failing_caller = nullptr);
[[noreturn]] void panic_capacity_overflow(SourceLocation where, const void* failing_caller = nullptr);
// "called `Result::unwrap()` on an `Err` value: {error}"
[[noreturn]] void panic_unwrap_err(std::string_view error, SourceLocation where);
// "called `Option::unwrap()` on a `None` value"
[[noreturn]] void panic_unwrap_none(SourceLocation where, const void* failing_caller = nullptr);
// A failure with a message of its own, from `failing_caller`.
[[noreturn]] void panic_from(std::string message, SourceLocation where, const void* failing_caller);

// Continues a failure whose report was already written elsewhere (a PanicException
// fetched from the interpreter): counts it in progress and throws without a report.
[[noreturn]] void resume_panic(std::string message, SourceLocation where);

// The call boundary has taken a failure over: it is no longer in progress.
void failure_taken_over() noexcept;

// Number of internal failures in progress on this thread (0 outside a failure).
std::uint32_t failures_in_progress_on_this_thread() noexcept;

// Number of internal failures in progress on all threads together.
std::uint32_t failures_in_progress_in_process() noexcept;

// Fatal: writes "memory allocation of {bytes} bytes failed\n" and aborts.
[[noreturn]] void allocation_failed(std::size_t bytes) noexcept;

// Fatal: an internal failure reached code that cannot pass it on. Writes the second
// report ("panic in a function that cannot unwind", located at `where`) and the abort
// line, then aborts.
[[noreturn]] void failure_cannot_unwind(SourceLocation where = here()) noexcept;

// Runs `body` where no failure may escape (C callbacks, destructors, the boundary's
// own steps): an internal failure inside it ends the process.
template <class Body>
decltype(auto) without_unwinding(Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        failure_cannot_unwind();
    }
}

}  // namespace walkmesh
