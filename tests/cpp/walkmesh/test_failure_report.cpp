// Internal failures: the failure report on standard error, the counts of failures in
// progress, the fixed message texts, the fatal paths and the allocator replacements.
// Whatever writes a report runs in a death-test child, so each case starts from a fresh
// process-wide state; the child announces its thread id first, so that the parent can
// check the reports exactly.
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
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "python/panic.hpp"

namespace {

using namespace walkmesh;

constexpr SourceLocation astar_53{"src/astar", 53, 27};
const std::string off_note = "note: run with `RUST_BACKTRACE=1` environment variable to display a backtrace\n";
const std::string brief_note =
    "note: Some details are omitted, run with `RUST_BACKTRACE=full` for a verbose backtrace.\n";
const std::string processing_tail = "\nthread panicked while processing panic. aborting.\n";

std::string piece(const std::string& tid, const std::string& message, const std::string& at = "src/astar:53:27") {
    return "\nthread '<unnamed>' (" + tid + ") panicked at " + at + ":\n" + message + "\n";
}

void write_stderr(std::string_view text) { [[maybe_unused]] auto n = ::write(2, text.data(), text.size()); }

// Sets the backtrace variable (nullptr: unset) and announces the thread id.
void start_child(const char* backtrace) {
    if (backtrace != nullptr) {
        setenv("RUST_BACKTRACE", backtrace, 1);
    } else {
        unsetenv("RUST_BACKTRACE");
    }
    write_stderr("tid " + std::to_string(gettid()) + "\n");
}

// A failed check in a child leaves a line that no expected output contains.
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

// check(tid, output after the announcement) names what is wrong, or nothing.
using StderrCheck = std::function<std::string(const std::string&, const std::string&)>;

// A user-mode emulator (qemu-user, for the armhf run) reports a guest killed by a signal
// on the guest's own standard error; that line is the emulator's, not ours.
std::string without_emulator_notice(const std::string& output) {
    static const std::regex notice("qemu: uncaught target signal [0-9]+ \\([^)]*\\) - core dumped\n$");
    return std::regex_replace(output, notice, "");
}

class StderrMatcher : public testing::MatcherInterface<const std::string&> {
public:
    explicit StderrMatcher(StderrCheck check) : check_(std::move(check)) {}
    bool MatchAndExplain(const std::string& raw_output, testing::MatchResultListener* listener) const override {
        const std::string output = without_emulator_notice(raw_output);
        const auto end_of_line = output.find('\n');
        if (output.rfind("tid ", 0) != 0 || end_of_line == std::string::npos) {
            *listener << "no thread id announced";
            return false;
        }
        const std::string problem = check_(output.substr(4, end_of_line - 4), output.substr(end_of_line + 1));
        *listener << problem;
        return problem.empty();
    }
    void DescribeTo(std::ostream* os) const override { *os << "is the expected standard error"; }

private:
    StderrCheck check_;
};

testing::Matcher<const std::string&> stderr_where(StderrCheck check) {
    return testing::MakeMatcher(new StderrMatcher(std::move(check)));
}

testing::Matcher<const std::string&> exactly(std::function<std::string(const std::string&)> expected) {
    return stderr_where([expected](const std::string& tid, const std::string& rest) {
        const std::string want = expected(tid);
        return rest == want ? std::string() : "expected after the thread id:\n" + want;
    });
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

TEST(FailureReportDeathTest, MessagesCountsAndTheNoteAfterTheFirstReportOnly) {
    EXPECT_EXIT(
        {
            start_child(nullptr);
            // Resumed failures are counted but not reported, and leave the note to the first report.
            caught([] { resume_panic("resumed", astar_53); });
            for (const MessageCase& c : message_cases) {
                const InternalFailure failure = caught(c.raise);
                require(failure.message() == c.message && failure.where().line == 53, "message " + c.message);
            }
            // Taking over what is not in progress leaves the counts at zero.
            failure_taken_over();
            require(failures_in_progress_on_this_thread() == 0 && failures_in_progress_in_process() == 0, "counts");
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), exactly([](const std::string& tid) {
            std::string reports;
            for (const MessageCase& c : message_cases) {
                reports += piece(tid, c.message) + (reports.empty() ? off_note : "");
            }
            return reports;
        }));
}

// Each write on a sequenced-packet socket arrives as one record, so the records show how
// reports left: the first piece in one write when it fits the buffer, else in 512-byte pieces.
TEST(FailureReportDeathTest, FirstPieceLeavesInOneWriteWhenItFits) {
    const std::string fits(400, 'p');
    const std::string too_long(1000, 'q');
    EXPECT_EXIT(
        {
            start_child(nullptr);
            int ends[2];
            require(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) == 0, "socket pair");
            const int saved_stderr = dup(2);
            dup2(ends[0], 2);
            caught([&] { panic(fits, astar_53); });
            caught([&] { panic(too_long, astar_53); });
            dup2(saved_stderr, 2);
            close(ends[0]);
            char record[4096];
            for (ssize_t n; (n = ::read(ends[1], record, sizeof record)) > 0;) {
                write_stderr(std::string(record, static_cast<std::size_t>(n)) + "\x1e");
            }
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), exactly([&](const std::string& tid) {
            std::string records = piece(tid, fits) + "\x1e" + off_note + "\x1e";
            const std::string long_piece = piece(tid, too_long);
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

std::string problem_in_backtrace(const std::string& trace, bool full) {
    if (trace.rfind(full ? "   0: 0x" : "   0: ", 0) != 0) {
        return "frames numbered from 0, with addresses in the full style only";
    }
#ifdef WALKMESH_HAVE_LIBBACKTRACE
    // Its parameter type reads "unsigned long" or "unsigned long long" by platform.
    const auto failing = trace.find("(anonymous namespace)::look_up_beyond_the_table(unsigned long");
    if (failing == std::string::npos || trace.find("search_that_fails", failing) == std::string::npos) {
        return "the failing function, then its caller";
    }
    const bool machinery_shown = trace.find("walkmesh::panic_index(") != std::string::npos &&
                                 trace.find("walkmesh::detail::write_backtrace(") != std::string::npos;
    if (machinery_shown != full || (!full && failing != 6)) {
        return full ? "the failure machinery's frames first" : "the failing function as frame 0";
    }
#endif
    return "";
}

TEST(FailureReportDeathTest, BacktraceStyleIsReadFromTheEnvironmentAtTheFirstReport) {
    const std::string message = "index out of bounds: the len is 3 but the index is 7";
    for (const char* value : {static_cast<const char*>(nullptr), "0", "1", "yes", "full"}) {
        const std::string name = value != nullptr ? value : "unset";
        const bool off = value == nullptr || name == "0";
        const bool full = name == "full";
        EXPECT_EXIT((start_child(value), caught(search_that_fails), std::_Exit(0)), testing::ExitedWithCode(0),
                    stderr_where([&](const std::string& tid, const std::string& rest) -> std::string {
                        const std::string head = piece(tid, message) + (off ? off_note : "stack backtrace:\n");
                        const std::string tail = full || off ? "" : brief_note;
                        if (off) {
                            return rest == head ? "" : "the first piece and the note";
                        }
                        if (rest.rfind(head, 0) != 0 || !rest.ends_with(tail)) {
                            return "the first piece, a backtrace and " + (full ? std::string("no note") : brief_note);
                        }
                        return problem_in_backtrace(rest.substr(head.size()), full);
                    }))
            << name;
    }
    // A value set after the first report changes nothing.
    EXPECT_EXIT(
        {
            start_child(nullptr);
            caught([] { panic("first", astar_53); });
            setenv("RUST_BACKTRACE", "full", 1);
            caught([] { panic("second", astar_53); });
            std::_Exit(0);
        },
        testing::ExitedWithCode(0),
        exactly([](const std::string& tid) { return piece(tid, "first") + off_note + piece(tid, "second"); }));
}

TEST(FailureReportDeathTest, FailureWhileOneIsInProgressAborts) {
    struct FailsOnDestruction {
        ~FailsOnDestruction() { panic("from a destructor", {"src/graph", 2, 3}); }
    };
    const auto reports_then_processing = [](const std::string& second) {
        return exactly([second](const std::string& tid) {
            return piece(tid, "first") + off_note + "panicked at src/graph:2:3:\n" + second + processing_tail;
        });
    };
    const auto first = [] {
        start_child(nullptr);
        panic("first", astar_53);
    };
    EXPECT_EXIT(
        try { first(); } catch (const InternalFailure&) { panic("while unwinding", {"src/graph", 2, 3}); },
        testing::KilledBySignal(SIGABRT), reports_then_processing("while unwinding"));
    EXPECT_EXIT(
        {
            FailsOnDestruction guard;
            first();
        },
        testing::KilledBySignal(SIGABRT), reports_then_processing("from a destructor"));
    EXPECT_EXIT(
        try { first(); } catch (const InternalFailure&) { resume_panic("resumed", {"src/graph", 2, 3}); },
        testing::KilledBySignal(SIGABRT), reports_then_processing("resumed"));
}

constexpr int cannot_unwind_line = __LINE__ + 3;
[[noreturn]] void fail_where_nothing_can_unwind() {
    start_child(nullptr);
    failure_cannot_unwind();
}

// Hides what the test cannot know (a line or column) behind `stand_in`.
std::string masked(const std::string& output, const std::string& pattern, const std::string& stand_in) {
    return std::regex_replace(output, std::regex(pattern), stand_in);
}

TEST(FailureReportDeathTest, FailureWhereNothingCanUnwindAborts) {
    const std::string second = "panic in a function that cannot unwind";
    const std::string abort_line = "thread caused non-unwinding panic. aborting.\n";
    EXPECT_EXIT((start_child(nullptr), without_unwinding([] { panic("inner", astar_53); })),
                testing::KilledBySignal(SIGABRT), stderr_where([&](const std::string& tid, const std::string& rest) {
                    const std::string want = piece(tid, "inner") + off_note +
                                             piece(tid, second, "src/python/panic.hpp:L:C") + abort_line;
                    const std::string got = masked(rest, R"(panic\.hpp:[0-9]+:[0-9]+)", "panic.hpp:L:C");
                    return got == want ? "" : "expected: " + want;
                }));
    // Called directly, it locates the report at its call.
    const std::string line = std::to_string(cannot_unwind_line);
    const std::string caller = "tests/cpp/walkmesh/test_failure_report.cpp:" + line;
    EXPECT_EXIT(fail_where_nothing_can_unwind(), testing::KilledBySignal(SIGABRT),
                stderr_where([&](const std::string& tid, const std::string& rest) {
                    const std::string want = piece(tid, second, caller + ":C") + off_note + abort_line;
                    const std::string got = masked(rest, R"(report\.cpp:)" + line + ":[0-9]+", "report.cpp:" + line + ":C");
                    return got == want ? "" : "expected: " + want;
                }));
}

TEST(AllocationDeathTest, FailedAllocationWritesItsSizeAndAborts) {
    const auto only = [](const std::string& message) {
        return stderr_where([message](const std::string&, const std::string& rest) {
            return rest == message ? "" : "expected: " + message;
        });
    };
    EXPECT_EXIT((start_child(nullptr), allocation_failed(12345)), testing::KilledBySignal(SIGABRT),
                only("memory allocation of 12345 bytes failed\n"));
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer answers huge allocations itself";
#endif
    // Past PTRDIFF_MAX, which no allocator answers; half the address space is not enough
    // on 32 bits, where an emulator may well grant it.
    static volatile std::size_t huge = std::numeric_limits<std::size_t>::max() / 2 + 1;
    const std::string message = "memory allocation of " + std::to_string(huge) + " bytes failed\n";
    EXPECT_EXIT((start_child(nullptr), ::operator delete(::operator new(huge))), testing::KilledBySignal(SIGABRT),
                only(message));
    EXPECT_EXIT((start_child(nullptr), delete[] new char[huge]), testing::KilledBySignal(SIGABRT), only(message));
    EXPECT_EXIT((start_child(nullptr), ::operator delete(::operator new(huge, std::align_val_t{64}))),
                testing::KilledBySignal(SIGABRT), only(message));
}

TEST(Allocation, AlignedFormsAlignAndNothrowFormsAnswerNull) {
    void* aligned = ::operator new(3, std::align_val_t{256});
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % 256, 0U);
    ::operator delete(aligned, std::align_val_t{256});
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer answers huge allocations itself";
#endif
    // Past PTRDIFF_MAX, which no allocator answers; half the address space is not enough
    // on 32 bits, where an emulator may well grant it.
    static volatile std::size_t huge = std::numeric_limits<std::size_t>::max() / 2 + 1;
    EXPECT_EQ(::operator new(huge, std::nothrow), nullptr);
    EXPECT_EQ(::operator new[](huge, std::align_val_t{64}, std::nothrow), nullptr);
}

// Six threads fail at once, four times each, into a pipe; every report (first piece,
// message longer than the buffer, brief backtrace, note) must come out whole.
constexpr int racing_threads = 6;
constexpr int reports_per_thread = 4;
constexpr std::size_t racing_message_size = 1500;

std::string reports_of_racing_threads() {
    int ends[2];
    require(pipe(ends) == 0, "pipe");
    std::string collected;
    std::thread reader([&] {
        char chunk[4096];
        for (ssize_t n; (n = ::read(ends[0], chunk, sizeof chunk)) > 0;) {
            collected.append(chunk, static_cast<std::size_t>(n));
        }
    });
    const int saved_stderr = dup(2);
    dup2(ends[1], 2);
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
    close(ends[1]);
    reader.join();
    return collected;
}

bool consume(std::string_view& rest, std::string_view expected) {
    const bool found = rest.starts_with(expected);
    rest.remove_prefix(found ? expected.size() : 0);
    return found;
}

std::string problem_in_racing_reports(const std::string&, const std::string& output) {
    std::map<char, std::set<std::string>> tids_by_thread;
    std::map<char, int> reports_by_thread;
    for (std::string_view rest = output; !rest.empty();) {
        const std::string broken = "an intact report at offset " + std::to_string(output.size() - rest.size());
        if (!consume(rest, "\nthread '<unnamed>' (")) {
            return broken;
        }
        const std::string_view tid = rest.substr(0, rest.find(')'));
        if (!consume(rest, tid) || !consume(rest, ") panicked at src/astar:53:27:\n") || rest.empty()) {
            return broken;
        }
        const char thread = rest.front();
        if (!consume(rest, std::string(racing_message_size, thread) + "\nstack backtrace:\n")) {
            return broken;
        }
        while (rest.starts_with(" ")) {
            rest.remove_prefix(std::min(rest.size(), rest.find('\n') + 1));
        }
        if (!consume(rest, brief_note)) {
            return broken;
        }
        tids_by_thread[thread].insert(std::string(tid));
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
    EXPECT_EXIT((start_child("1"), write_stderr(reports_of_racing_threads()), std::_Exit(0)),
                testing::ExitedWithCode(0), stderr_where(problem_in_racing_reports));
}

}  // namespace
