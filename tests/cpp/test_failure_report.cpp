// Internal failures: the failure report on standard error, the counts of failures in
// progress, the fixed message texts and the fatal paths. Whatever writes a report runs
// in a death-test child, so each case starts from a fresh process-wide state; the child
// announces its thread id first so that the parent can check the reports exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <latch>
#include <limits>
#include <map>
#include <new>
#include <regex>
#include <set>
#include <string_view>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "boundary/panic.hpp"

namespace {

using namespace walkmesh;

constexpr SourceLocation astar_53{"src/astar", 53, 27};
const std::string off_note = "note: run with `RUST_BACKTRACE=1` environment variable to display a backtrace\n";
const std::string brief_note =
    "note: Some details are omitted, run with `RUST_BACKTRACE=full` for a verbose backtrace.\n";

std::string first_piece(const std::string& tid, const std::string& message,
                        const std::string& location = "src/astar:53:27") {
    return "\nthread '<unnamed>' (" + tid + ") panicked at " + location + ":\n" + message + "\n";
}

void write_stderr(const std::string& text) { [[maybe_unused]] auto n = ::write(2, text.data(), text.size()); }

void announce_thread_id() { write_stderr("tid " + std::to_string(gettid()) + "\n"); }

// In a child a failed check cannot fail the test directly: it leaves a line that no
// expected output contains.
void require(bool ok, const std::string& what) {
    if (!ok) {
        write_stderr("check failed: " + what + "\n");
    }
}

// Runs `body`, which must fail, and takes the failure over as the call boundary would.
InternalFailure caught(const std::function<void()>& body) {
    try {
        body();
    } catch (const InternalFailure& failure) {
        require(failures_in_progress_on_this_thread() == 1, "one failure in progress while unwinding");
        failure_taken_over();
        return failure;
    }
    write_stderr("no failure raised\n");
    std::_Exit(2);
}

// Matches a child's standard error by a check that names what is wrong, or nothing.
class StderrMatcher : public testing::MatcherInterface<const std::string&> {
public:
    explicit StderrMatcher(std::function<std::string(const std::string&)> problem) : problem_(std::move(problem)) {}
    bool MatchAndExplain(const std::string& output, testing::MatchResultListener* listener) const override {
        const std::string problem = problem_(output);
        *listener << problem;
        return problem.empty();
    }
    void DescribeTo(std::ostream* os) const override { *os << "is the expected standard error"; }

private:
    std::function<std::string(const std::string&)> problem_;
};

testing::Matcher<const std::string&> stderr_where(std::function<std::string(const std::string&)> problem) {
    return testing::MakeMatcher(new StderrMatcher(std::move(problem)));
}

// The announced thread id and what follows it; check(tid, rest) names what is wrong.
testing::Matcher<const std::string&> after_tid(std::function<std::string(const std::string&, const std::string&)> check) {
    return stderr_where([check](const std::string& output) -> std::string {
        std::smatch m;
        if (!std::regex_search(output, m, std::regex("^tid ([0-9]+)\n"))) {
            return "no thread id announced";
        }
        return check(m[1].str(), m.suffix().str());
    });
}

testing::Matcher<const std::string&> exactly(std::function<std::string(const std::string& tid)> expected) {
    return after_tid([expected](const std::string& tid, const std::string& rest) -> std::string {
        const std::string want = expected(tid);
        return rest == want ? "" : "expected after the thread id:\n" + want;
    });
}

std::string escaped(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), "\\$&");
}

struct MessageCase {
    std::function<void()> raise;
    std::string message;
};

const std::vector<MessageCase> message_cases = {
    {[] { panic_index(7, 3, astar_53); }, "index out of bounds: the len is 3 but the index is 7"},
    {[] { panic_index(std::numeric_limits<std::uint64_t>::max(), 0, astar_53); },
     "index out of bounds: the len is 0 but the index is 18446744073709551615"},
    {[] { panic_slice(9, 12, 4, astar_53); }, "range start index 9 out of range for slice of length 4"},
    {[] { panic_slice(9, 2, 4, astar_53); }, "range start index 9 out of range for slice of length 4"},
    {[] { panic_slice(2, 12, 4, astar_53); }, "range end index 12 out of range for slice of length 4"},
    {[] { panic_slice(3, 2, 4, astar_53); }, "slice index starts at 3 but ends at 2"},
    {[] { panic_capacity_overflow(astar_53); }, "capacity overflow"},
    {[] { panic_unwrap_err("NotContiguousError", astar_53); },
     "called `Result::unwrap()` on an `Err` value: NotContiguousError"},
    {[] { panic_unwrap_none(astar_53); }, "called `Option::unwrap()` on a `None` value"},
    // Longer than the 512-byte buffer: written in pieces, still whole.
    {[] { panic(std::string(2000, 'x'), astar_53); }, std::string(2000, 'x')},
};

TEST(FailureReportDeathTest, MessagesAndReportsWithTheNoteAfterTheFirstOnly) {
    EXPECT_EXIT(
        {
            unsetenv("RUST_BACKTRACE");
            announce_thread_id();
            for (const MessageCase& c : message_cases) {
                const InternalFailure failure = caught(c.raise);
                require(failure.message() == c.message, "message " + c.message);
                require(failure.where().line == 53 && failure.where().column == 27, "location");
                require(failures_in_progress_in_process() == 0, "no failure in progress after the take-over");
            }
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), exactly([](const std::string& tid) {
            std::string reports;
            for (const MessageCase& c : message_cases) {
                reports += first_piece(tid, c.message) + (reports.empty() ? off_note : "");
            }
            return reports;
        }));
}

TEST(FailureReportDeathTest, ResumedFailureIsCountedButNotReported) {
    EXPECT_EXIT(
        {
            unsetenv("RUST_BACKTRACE");
            announce_thread_id();
            caught([] { resume_panic("resumed", astar_53); });
            // Taking over what is not in progress leaves the counts at zero.
            failure_taken_over();
            require(failures_in_progress_on_this_thread() == 0 && failures_in_progress_in_process() == 0,
                    "counts stay at zero");
            caught([] { panic("after", astar_53); });
            std::_Exit(0);
        },
        testing::ExitedWithCode(0),
        exactly([](const std::string& tid) { return first_piece(tid, "after") + off_note; }));
}

// Each write on a sequenced-packet socket arrives as one record, so the records show how
// reports left: the first piece in one write when it fits the buffer, in 512-byte pieces
// when it does not.
void write_records_of_reports(const std::vector<std::string>& messages) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) != 0) {
        std::_Exit(3);
    }
    const int saved_stderr = dup(2);
    dup2(ends[0], 2);
    for (const std::string& message : messages) {
        caught([&message] { panic(message, astar_53); });
    }
    dup2(saved_stderr, 2);
    close(ends[0]);
    std::string records;
    char record[4096];
    for (ssize_t n; (n = ::read(ends[1], record, sizeof record)) > 0;) {
        records.append(record, static_cast<std::size_t>(n)).append("\x1e");
    }
    write_stderr(records);
}

TEST(FailureReportDeathTest, FirstPieceLeavesInOneWriteWhenItFits) {
    const std::string fits(400, 'p');
    const std::string too_long(1000, 'q');
    EXPECT_EXIT(
        {
            unsetenv("RUST_BACKTRACE");
            announce_thread_id();
            write_records_of_reports({fits, too_long});
            std::_Exit(0);
        },
        testing::ExitedWithCode(0),
        exactly([&](const std::string& tid) {
            std::string records = first_piece(tid, fits) + "\x1e" + off_note + "\x1e";
            const std::string long_piece = first_piece(tid, too_long);
            for (std::size_t at = 0; at < long_piece.size(); at += 512) {
                records += long_piece.substr(at, 512) + "\x1e";
            }
            return records;
        }));
}

[[gnu::noinline]] void look_up_beyond_the_table(std::uint64_t index) { panic_index(index, 3, astar_53); }

[[gnu::noinline]] void search_that_fails() {
    look_up_beyond_the_table(7);
    asm volatile("");
}

void report_with_backtrace_variable(const char* value) {
    if (value == nullptr) {
        unsetenv("RUST_BACKTRACE");
    } else {
        setenv("RUST_BACKTRACE", value, 1);
    }
    announce_thread_id();
    caught(search_that_fails);
    std::_Exit(0);
}

std::string problem_in_backtrace(const std::string& trace, bool full) {
    const bool numbered_from_zero = trace.rfind(full ? "   0: 0x" : "   0: ", 0) == 0;
    if (!numbered_from_zero) {
        return full ? "frames numbered from 0, with addresses" : "frames numbered from 0";
    }
#ifdef WALKMESH_HAVE_LIBBACKTRACE
    const auto failing = trace.find("look_up_beyond_the_table");
    const auto search = trace.find("search_that_fails");
    if (failing == std::string::npos || search == std::string::npos || search < failing) {
        return "the failing function and its caller, in that order";
    }
    const bool machinery_shown = trace.find("walkmesh::panic_index") != std::string::npos &&
                                 trace.find("walkmesh::detail::write_backtrace") != std::string::npos;
    if (machinery_shown != full) {
        return full ? "the failure machinery's frames" : "no frame of the failure machinery";
    }
    if (!full && trace.rfind("   0: (anonymous namespace)::look_up_beyond_the_table", 0) != 0) {
        return "the failing function as frame 0";
    }
#endif
    return "";
}

TEST(FailureReportDeathTest, BacktraceStyleFromTheEnvironment) {
    for (const char* value : {static_cast<const char*>(nullptr), "0"}) {
        EXPECT_EXIT(report_with_backtrace_variable(value), testing::ExitedWithCode(0),
                    exactly([](const std::string& tid) {
                        return first_piece(tid, "index out of bounds: the len is 3 but the index is 7") + off_note;
                    }))
            << (value != nullptr ? value : "unset");
    }
    for (const char* value : {"1", "yes", "full"}) {
        const bool full = std::string(value) == "full";
        EXPECT_EXIT(report_with_backtrace_variable(value), testing::ExitedWithCode(0),
                    after_tid([full](const std::string& tid, const std::string& rest) -> std::string {
                        const std::string head =
                            first_piece(tid, "index out of bounds: the len is 3 but the index is 7") +
                            "stack backtrace:\n";
                        const std::string tail = full ? "" : brief_note;
                        if (rest.rfind(head, 0) != 0 || rest.size() < head.size() + tail.size() ||
                            rest.compare(rest.size() - tail.size(), tail.size(), tail) != 0) {
                            return "the first piece, \"stack backtrace:\" and " +
                                   (full ? std::string("no note") : brief_note);
                        }
                        return problem_in_backtrace(rest.substr(head.size()), full);
                    }))
            << value;
    }
}

TEST(FailureReportDeathTest, BacktraceStyleIsReadOnceAtTheFirstReport) {
    EXPECT_EXIT(
        {
            unsetenv("RUST_BACKTRACE");
            announce_thread_id();
            caught([] { panic("first", astar_53); });
            setenv("RUST_BACKTRACE", "full", 1);
            caught([] { panic("second", astar_53); });
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), exactly([](const std::string& tid) {
            return first_piece(tid, "first") + off_note + first_piece(tid, "second");
        }));
}

TEST(FailureReportDeathTest, FailureWhileOneIsInProgressAborts) {
    const auto first_then_processing = [](const std::string& second) {
        return exactly([second](const std::string& tid) {
            return first_piece(tid, "first") + off_note + "panicked at src/graph:2:3:\n" + second +
                   "\nthread panicked while processing panic. aborting.\n";
        });
    };
    struct FailsOnDestruction {
        ~FailsOnDestruction() { panic("from a destructor", {"src/graph", 2, 3}); }
    };
    const auto first = [] {
        unsetenv("RUST_BACKTRACE");
        announce_thread_id();
        panic("first", astar_53);
    };

    EXPECT_EXIT(
        {
            try {
                first();
            } catch (const InternalFailure&) {
                panic("second", {"src/graph", 2, 3});
            }
        },
        testing::KilledBySignal(SIGABRT), first_then_processing("second"));
    EXPECT_EXIT(
        {
            FailsOnDestruction guard;
            first();
        },
        testing::KilledBySignal(SIGABRT), first_then_processing("from a destructor"));
    EXPECT_EXIT(
        {
            try {
                first();
            } catch (const InternalFailure&) {
                resume_panic("resumed", {"src/graph", 2, 3});
            }
        },
        testing::KilledBySignal(SIGABRT), first_then_processing("resumed"));
}

constexpr int cannot_unwind_line = __LINE__ + 4;
[[noreturn]] void fail_where_nothing_can_unwind() {
    unsetenv("RUST_BACKTRACE");
    announce_thread_id();
    failure_cannot_unwind();
}

TEST(FailureReportDeathTest, FailureWhereNothingCanUnwindAborts) {
    EXPECT_EXIT(
        {
            unsetenv("RUST_BACKTRACE");
            announce_thread_id();
            without_unwinding([] { panic("inner", astar_53); });
        },
        testing::KilledBySignal(SIGABRT), after_tid([](const std::string& tid, const std::string& rest) {
            const std::regex second("\nthread '<unnamed>' \\(" + tid +
                                    "\\) panicked at src/boundary/panic\\.hpp:[0-9]+:[0-9]+:\n"
                                    "panic in a function that cannot unwind\n"
                                    "thread caused non-unwinding panic\\. aborting\\.\n");
            const std::string first = first_piece(tid, "inner") + off_note;
            const bool ok = rest.rfind(first, 0) == 0 && std::regex_match(rest.substr(first.size()), second);
            return ok ? "" : "the inner report, then the second report located in without_unwinding";
        }));

    EXPECT_EXIT(fail_where_nothing_can_unwind(), testing::KilledBySignal(SIGABRT),
                after_tid([](const std::string& tid, const std::string& rest) {
                    const std::regex report("\nthread '<unnamed>' \\(" + tid +
                                            "\\) panicked at tests/cpp/test_failure_report\\.cpp:" +
                                            std::to_string(cannot_unwind_line) + ":[0-9]+:\n" +
                                            "panic in a function that cannot unwind\n" + escaped(off_note) +
                                            "thread caused non-unwinding panic\\. aborting\\.\n");
                    return std::regex_match(rest, report) ? "" : "a report located at the call, the note, the abort line";
                }));
}

TEST(AllocationDeathTest, FailedAllocationWritesItsSizeAndAborts) {
    EXPECT_EXIT(allocation_failed(12345), testing::KilledBySignal(SIGABRT),
                stderr_where([](const std::string& output) -> std::string {
                    return output == "memory allocation of 12345 bytes failed\n" ? "" : "the allocation message alone";
                }));
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer answers huge allocations itself";
#endif
    static volatile std::size_t huge = std::numeric_limits<std::size_t>::max() / 2;
    const std::string message = "^memory allocation of " + std::to_string(huge) + " bytes failed\n$";
    EXPECT_EXIT(::operator delete(::operator new(huge)), testing::KilledBySignal(SIGABRT), message);
    EXPECT_EXIT(delete[] new char[huge], testing::KilledBySignal(SIGABRT), message);
    EXPECT_EXIT(::operator delete(::operator new(huge, std::align_val_t{64})), testing::KilledBySignal(SIGABRT),
                message);
}

TEST(Allocation, AlignedFormsAlignAndNothrowFormsAnswerNull) {
    void* aligned = ::operator new(3, std::align_val_t{256});
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % 256, 0U);
    ::operator delete(aligned, std::align_val_t{256});
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer answers huge allocations itself";
#endif
    static volatile std::size_t huge = std::numeric_limits<std::size_t>::max() / 2;
    EXPECT_EQ(::operator new(huge, std::nothrow), nullptr);
    EXPECT_EQ(::operator new[](huge, std::align_val_t{64}, std::nothrow), nullptr);
}

// Several threads fail at once into a pipe; each report (first piece, message longer than
// the buffer, backtrace) must come out whole.
constexpr int racing_threads = 6;
constexpr int reports_per_thread = 4;
constexpr std::size_t racing_message_size = 1500;

std::string reports_from_racing_threads() {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) {
        std::_Exit(3);
    }
    std::string collected;
    std::thread reader([&] {
        char chunk[4096];
        for (ssize_t n; (n = ::read(pipe_ends[0], chunk, sizeof chunk)) > 0;) {
            collected.append(chunk, static_cast<std::size_t>(n));
        }
    });
    const int saved_stderr = dup(2);
    dup2(pipe_ends[1], 2);
    std::latch start(racing_threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < racing_threads; ++t) {
        threads.emplace_back([&start, t] {
            start.arrive_and_wait();
            for (int i = 0; i < reports_per_thread; ++i) {
                caught([t] { panic(std::string(racing_message_size, static_cast<char>('a' + t)), astar_53); });
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    dup2(saved_stderr, 2);
    close(pipe_ends[1]);
    reader.join();
    return collected;
}

bool consume(std::string_view& rest, std::string_view expected) {
    if (rest.substr(0, expected.size()) != expected) {
        return false;
    }
    rest.remove_prefix(expected.size());
    return true;
}

// Reads one whole report of a racing thread off the front of `rest`.
bool consume_racing_report(std::string_view& rest, std::string& tid, char& thread) {
    if (!consume(rest, "\nthread '<unnamed>' (")) {
        return false;
    }
    tid = std::string(rest.substr(0, rest.find_first_not_of("0123456789")));
    rest.remove_prefix(tid.size());
    if (tid.empty() || !consume(rest, ") panicked at src/astar:53:27:\n") || rest.empty()) {
        return false;
    }
    thread = rest.front();
    if (!consume(rest, std::string(racing_message_size, thread)) || !consume(rest, "\nstack backtrace:\n")) {
        return false;
    }
    while (!rest.empty() && rest.front() == ' ') {
        rest.remove_prefix(std::min(rest.size(), rest.find('\n') + 1));
    }
    return consume(rest, brief_note);
}

std::string problem_in_racing_reports(const std::string& output) {
    std::map<char, std::set<std::string>> tids_by_thread;
    std::map<char, int> reports_by_thread;
    std::string_view rest = output;
    while (!rest.empty()) {
        std::string tid;
        char thread = 0;
        if (!consume_racing_report(rest, tid, thread)) {
            return "an intact report at offset " + std::to_string(output.size() - rest.size());
        }
        tids_by_thread[thread].insert(tid);
        ++reports_by_thread[thread];
    }
    std::set<std::string> tids;
    for (const auto& [thread, count] : reports_by_thread) {
        if (count != reports_per_thread || tids_by_thread[thread].size() != 1) {
            return std::string("every report of thread ") + thread + " once, under one thread id";
        }
        tids.insert(*tids_by_thread[thread].begin());
    }
    return static_cast<int>(tids.size()) == racing_threads ? "" : "one thread id per thread";
}

TEST(FailureReportDeathTest, ReportsOfConcurrentThreadsDoNotInterleave) {
    EXPECT_EXIT(
        {
            setenv("RUST_BACKTRACE", "1", 1);
            write_stderr(reports_from_racing_threads());
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), stderr_where(problem_in_racing_reports));
}

}  // namespace
