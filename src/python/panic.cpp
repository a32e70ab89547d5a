// Internal failures: the counts of failures in progress, the failure report on standard
// error (one process-wide lock, backtrace style read once), the fixed message texts, and
// the fatal paths that end the process.
#include "python/panic.hpp"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include <sys/syscall.h>
#include <unistd.h>

#include "python/backtrace.hpp"
#include "python/fd_writer.hpp"

namespace walkmesh {
namespace {

using detail::BacktraceStyle;
using detail::FdWriter;

std::atomic<std::uint32_t> process_failures{0};
thread_local std::uint32_t thread_failures = 0;

std::atomic<BacktraceStyle> backtrace_style{BacktraceStyle::unset};
std::atomic<bool> backtrace_note_pending{true};

std::mutex report_mutex;
thread_local bool thread_is_reporting = false;

void write_location(FdWriter& out, SourceLocation where) noexcept {
    out.text(where.file != nullptr ? where.file : "<unknown>")
        .text(":")
        .decimal(where.line)
        .text(":")
        .decimal(where.column);
}

// Written without the report lock, which this thread may be holding.
[[noreturn]] void abort_while_processing(std::string_view message, SourceLocation where) noexcept {
    {
        FdWriter out(STDERR_FILENO);
        out.text("panicked at ");
        write_location(out, where);
        out.text(":\n").text(message).text("\nthread panicked while processing panic. aborting.\n");
    }
    std::abort();
}

// A failure raised on a thread that is already failing (while its report is written,
// or while unwinding from it) cannot be handed on: it ends the process.
void count_failure(std::string_view message, SourceLocation where) noexcept {
    process_failures.fetch_add(1, std::memory_order_relaxed);
    if (thread_failures++ > 0) {
        abort_while_processing(message, where);
    }
}

// Holds the process-wide report lock for one report, so that reports of different
// threads never interleave. A thread already writing one would wait on itself forever.
class ReportLock {
public:
    ReportLock(std::string_view message, SourceLocation where) noexcept {
        if (thread_is_reporting) {
            abort_while_processing(message, where);
        }
        report_mutex.lock();
        thread_is_reporting = true;
    }
    ReportLock(const ReportLock&) = delete;
    ReportLock& operator=(const ReportLock&) = delete;
    ~ReportLock() {
        thread_is_reporting = false;
        report_mutex.unlock();
    }
};

BacktraceStyle style_from_environment() noexcept {
    const char* value = std::getenv("RUST_BACKTRACE");
    if (value == nullptr || std::string_view(value) == "0") {
        return BacktraceStyle::off;
    }
    if (std::string_view(value) == "full") {
        return BacktraceStyle::full;
    }
    return BacktraceStyle::brief;
}

// Read at the first report and kept for the rest of the process; the first reader wins.
BacktraceStyle report_style() noexcept {
    BacktraceStyle style = backtrace_style.load(std::memory_order_acquire);
    if (style != BacktraceStyle::unset) {
        return style;
    }
    const BacktraceStyle read = style_from_environment();
    if (backtrace_style.compare_exchange_strong(style, read, std::memory_order_acq_rel)) {
        return read;
    }
    return style;
}

void write_first_piece(FdWriter& out, std::string_view message, SourceLocation where) noexcept {
    // The system call rather than gettid(), which glibc has only since 2.30 (the wheels run on 2.17).
    const auto thread_id = static_cast<std::uint64_t>(syscall(SYS_gettid));
    out.text("\nthread '<unnamed>' (").decimal(thread_id).text(") panicked at ");
    write_location(out, where);
    out.text(":\n").text(message).text("\n");
    out.flush();
}

void write_backtrace_part(FdWriter& out, const void* failing_caller) noexcept {
    switch (report_style()) {
    case BacktraceStyle::brief:
        out.text("stack backtrace:\n");
        detail::write_backtrace(out, BacktraceStyle::brief, failing_caller);
        out.text("note: Some details are omitted, run with `RUST_BACKTRACE=full` for a verbose backtrace.\n");
        break;
    case BacktraceStyle::full:
        out.text("stack backtrace:\n");
        detail::write_backtrace(out, BacktraceStyle::full, failing_caller);
        break;
    case BacktraceStyle::off:
    case BacktraceStyle::unset:
        if (backtrace_note_pending.exchange(false, std::memory_order_acq_rel)) {
            out.text("note: run with `RUST_BACKTRACE=1` environment variable to display a backtrace\n");
        }
        break;
    }
}

// The caller holds the report lock.
void write_report(FdWriter& out, std::string_view message, SourceLocation where,
                  const void* failing_caller) noexcept {
    write_first_piece(out, message, where);
    write_backtrace_part(out, failing_caller);
}

// `failing_caller` is the return address into the function that raised the failure,
// taken by each public entry so that a brief backtrace starts at that function.
[[noreturn]] void raise_failure(std::string message, SourceLocation where, const void* failing_caller) {
    count_failure(message, where);
    {
        ReportLock lock(message, where);
        FdWriter out(STDERR_FILENO);
        write_report(out, message, where, failing_caller);
    }
    throw InternalFailure(std::move(message), where);
}

}  // namespace

[[gnu::noinline]] void panic(std::string message, SourceLocation where) {
    raise_failure(std::move(message), where, __builtin_return_address(0));
}

[[gnu::noinline]] void panic_index(std::uint64_t index, std::uint64_t len, SourceLocation where,
                                   const void* failing_caller) {
    raise_failure("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
                      std::to_string(index),
                  where, failing_caller != nullptr ? failing_caller : __builtin_return_address(0));
}

[[gnu::noinline]] void panic_slice(std::uint64_t start, std::uint64_t end, std::uint64_t len,
                                   SourceLocation where, const void* failing_caller) {
    const void* caller = failing_caller != nullptr ? failing_caller : __builtin_return_address(0);
    if (start > len) {
        raise_failure("range start index " + std::to_string(start) + " out of range for slice of length " +
                          std::to_string(len),
                      where, caller);
    }
    if (end > len) {
        raise_failure("range end index " + std::to_string(end) + " out of range for slice of length " +
                          std::to_string(len),
                      where, caller);
    }
    raise_failure("slice index starts at " + std::to_string(start) + " but ends at " + std::to_string(end),
                  where, caller);
}

[[gnu::noinline]] void panic_capacity_overflow(SourceLocation where, const void* failing_caller) {
    raise_failure("capacity overflow", where,
                  failing_caller != nullptr ? failing_caller : __builtin_return_address(0));
}

[[gnu::noinline]] void panic_unwrap_err(std::string_view error, SourceLocation where) {
    raise_failure("called `Result::unwrap()` on an `Err` value: " + std::string(error), where,
                  __builtin_return_address(0));
}

[[gnu::noinline]] void panic_unwrap_none(SourceLocation where, const void* failing_caller) {
    raise_failure("called `Option::unwrap()` on a `None` value", where,
                  failing_caller != nullptr ? failing_caller : __builtin_return_address(0));
}

[[gnu::noinline]] void panic_from(std::string message, SourceLocation where, const void* failing_caller) {
    raise_failure(std::move(message), where, failing_caller);
}

void resume_panic(std::string message, SourceLocation where) {
    count_failure(message, where);
    throw InternalFailure(std::move(message), where);
}

void failure_taken_over() noexcept {
    // Taking over a failure that is not in progress must not wrap the counts around.
    if (thread_failures == 0) {
        return;
    }
    --thread_failures;
    process_failures.fetch_sub(1, std::memory_order_relaxed);
}

std::uint32_t failures_in_progress_on_this_thread() noexcept { return thread_failures; }

std::uint32_t failures_in_progress_in_process() noexcept {
    return process_failures.load(std::memory_order_relaxed);
}

void allocation_failed(std::size_t bytes) noexcept {
    {
        FdWriter out(STDERR_FILENO);
        out.text("memory allocation of ").decimal(bytes).text(" bytes failed\n");
    }
    std::abort();
}

[[gnu::noinline]] void failure_cannot_unwind(SourceLocation where) noexcept {
    constexpr std::string_view message = "panic in a function that cannot unwind";
    {
        ReportLock lock(message, where);
        FdWriter out(STDERR_FILENO);
        write_report(out, message, where, __builtin_return_address(0));
        out.text("thread caused non-unwinding panic. aborting.\n");
    }
    std::abort();
}

}  // namespace walkmesh
