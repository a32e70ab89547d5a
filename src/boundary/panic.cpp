// Interim: message texts and a plain report; the full report machinery replaces it.
#include "boundary/panic.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace walkmesh {
namespace {
thread_local std::uint32_t thread_failures = 0;
}

void panic(std::string message, SourceLocation where) {
    ++thread_failures;
    std::fprintf(stderr, "\nthread '<unnamed>' panicked at %s:%u:%u:\n%s\n", where.file, where.line,
                 where.column, message.c_str());
    throw InternalFailure(std::move(message), where);
}

void panic_index(std::uint64_t index, std::uint64_t len, SourceLocation where) {
    panic("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
              std::to_string(index),
          where);
}

void panic_slice(std::uint64_t start, std::uint64_t end, std::uint64_t len, SourceLocation where) {
    if (start > len) {
        panic("range start index " + std::to_string(start) + " out of range for slice of length " +
                  std::to_string(len),
              where);
    }
    if (end > len) {
        panic("range end index " + std::to_string(end) + " out of range for slice of length " +
                  std::to_string(len),
              where);
    }
    panic("slice index starts at " + std::to_string(start) + " but ends at " + std::to_string(end),
          where);
}

void panic_capacity_overflow(SourceLocation where) { panic("capacity overflow", where); }

void panic_unwrap_err(std::string_view error, SourceLocation where) {
    panic("called `Result::unwrap()` on an `Err` value: " + std::string(error), where);
}

void panic_unwrap_none(SourceLocation where) {
    panic("called `Option::unwrap()` on a `None` value", where);
}

void resume_panic(std::string message, SourceLocation where) {
    ++thread_failures;
    throw InternalFailure(std::move(message), where);
}

void failure_taken_over() noexcept { --thread_failures; }

std::uint32_t failures_in_progress_on_this_thread() noexcept { return thread_failures; }

void allocation_failed(std::size_t bytes) noexcept {
    std::fprintf(stderr, "memory allocation of %zu bytes failed\n", bytes);
    std::abort();
}

void failure_cannot_unwind() noexcept {
    std::fputs("thread caused non-unwinding panic. aborting.\n", stderr);
    std::abort();
}

}  // namespace walkmesh
