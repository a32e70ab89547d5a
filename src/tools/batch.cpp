// The batch: the searches on worker threads (the calling thread is the first of them)
// with the interpreter lock released, each worker reusing its route finder and
// appending its points to a buffer of its own; then, with the lock back, the buffers
// gathered in query order. A query that fails stops the batch once every query before
// it has run, so the failure reported is always the lowest failing query's.
#include "tools/batch.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>

#include "core/graph.hpp"
#include "core/route.hpp"
#include "python/arguments.hpp"
#include "python/array_api.hpp"
#include "tools/failures.hpp"
#include "tools/intake.hpp"
#include "tools/results.hpp"

namespace walkmesh::tools {
namespace {

// How often the calling thread looks for a pending signal (Ctrl-C) between queries.
constexpr std::chrono::milliseconds kSignalInterval{10};
// How often it tells the progress callback how many queries are done.
constexpr std::chrono::milliseconds kProgressInterval{100};

// A read-only, C-contiguous buffer of an argument, released with it.
class BufferView {
public:
    BufferView(const char* name, PyObject* object, char kind, Py_ssize_t item_size, int dimensions) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) == -1) {
            convert_argument(name, [] { throw_fetched(); });
        }
        held_ = true;
        const char* format = view_.format != nullptr ? view_.format : "B";
        // Native byte order only: an optional '@', '=' or '<' before the type character.
        if (*format == '@' || *format == '=' || *format == '<') {
            ++format;
        }
        const bool kind_matches = kind == 'i' ? (*format == 'q' || *format == 'l') : *format == kind;
        if (!kind_matches || format[1] != '\0' || view_.itemsize != item_size || view_.ndim != dimensions ||
            (dimensions == 2 && view_.shape[1] != 2)) {
            throw_error(PyExc_TypeError, std::string("argument '") + name + "': not a buffer of the expected layout");
        }
    }
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() {
        if (held_) {
            PyBuffer_Release(&view_);
        }
    }

    Py_ssize_t length() const noexcept { return view_.shape[0]; }
    const void* data() const noexcept { return view_.buf; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// The query arrays' buffers, read at any alignment: a contiguous array may still
// start at an odd address.
struct Queries {
    const std::byte* starts;
    const std::byte* targets;
    const std::byte* target_points;
    const std::byte* start_points;  // null unless straight
    std::size_t count;

    std::int64_t start(std::size_t i) const noexcept { return index_at(starts, i); }
    std::int64_t target(std::size_t i) const noexcept { return index_at(targets, i); }
    PointValue target_point(std::size_t i) const noexcept { return point_at(target_points, i); }
    PointValue start_point(std::size_t i) const noexcept { return point_at(start_points, i); }

private:
    static std::int64_t index_at(const std::byte* data, std::size_t i) noexcept {
        return record::read<std::int64_t>(data + i * sizeof(std::int64_t));
    }
    static PointValue point_at(const std::byte* data, std::size_t i) noexcept {
        return record::read_point(data + i * sizeof(PointValue));
    }
};

// Where query i's points lie: in which worker's buffer, from where, how many.
struct QuerySlot {
    std::uint64_t offset;
    std::uint32_t count;
    std::uint16_t worker;
    std::uint8_t reached;
};

// The lowest failing query of the batch and what failed.
struct BatchFault {
    std::size_t query;
    Fault fault;
    // For a start or target outside the node table: which, and the index as given.
    const char* role;
    std::int64_t node;
};

struct Worker {
    RouteFinder* finder;
    GrowableArray<PointValue> points;
};

// The interpreter lock released for its lifetime; `with_lock` takes it back briefly.
class WithoutInterpreterLock {
public:
    WithoutInterpreterLock() noexcept : state_(PyEval_SaveThread()) {}
    WithoutInterpreterLock(const WithoutInterpreterLock&) = delete;
    WithoutInterpreterLock& operator=(const WithoutInterpreterLock&) = delete;
    ~WithoutInterpreterLock() { PyEval_RestoreThread(state_); }

    template <class Body>
    void with_lock(Body&& body) noexcept {
        PyEval_RestoreThread(state_);
        body();
        state_ = PyEval_SaveThread();
    }

private:
    PyThreadState* state_;
};

class Batch {
public:
    // `progress`, when not null, is called as progress(done, total) from the calling
    // thread, with the lock held.
    Batch(const Graph& graph, const Queries& queries, const RouteOptions& options, bool straight,
          std::size_t threads, PyObject* progress)
        : graph_(graph),
          queries_(queries),
          options_(options),
          straight_(straight),
          progress_(progress),
          slots_(Table<QuerySlot>::uninitialised(queries.count, Site::batch)),
          chunk_(std::clamp<std::size_t>(queries.count / (threads * 16), 1, 64)) {
        workers_.reserve(threads);
        finders_.reserve(threads);
    }

    // Each worker gets a finder of its own, the calling thread's too: a signal handler
    // run between its queries may call the single functions, which use that thread's
    // kept finder.
    void add_workers(std::size_t threads) {
        for (std::size_t i = 0; i < threads; ++i) {
            finders_.emplace_back();
            finders_.back().bind(graph_);
            workers_.push_back(Worker{&finders_.back(), {}});
        }
    }

    // Runs every query; returns early when a query fails (once the queries before it
    // have run) or a signal arrives. The lock is released meanwhile and held again on
    // return.
    void run() {
        WithoutInterpreterLock unlocked;
        std::vector<std::thread> threads;
        threads.reserve(workers_.size() - 1);
        for (std::size_t i = 1; i < workers_.size(); ++i) {
            running_.fetch_add(1);
            try {
                threads.emplace_back([this, i] { run_helper(i); });
            } catch (...) {
                // Fewer threads still finish the batch: queries are handed out as they go.
                running_.fetch_sub(1);
                break;
            }
        }
        run_worker(0, &unlocked);
        wait_for_helpers(unlocked);
        for (std::thread& thread : threads) {
            thread.join();
        }
    }

    // With the lock held, after run(): the exception of a signal handler or of the
    // progress callback, if one raised.
    std::optional<ErrorState>& interruption() noexcept { return interruption_; }

    // With the lock held, after a complete run: the progress callback's last call.
    void report_done() {
        if (progress_ != nullptr) {
            call_progress();
            if (interruption_) {
                throw_error(std::move(*interruption_));
            }
        }
    }
    const std::optional<BatchFault>& fault() const noexcept { return fault_; }

    // With the lock held, after a complete run(): (offsets, points, reached).
    OwnedRef gather() const {
        const std::size_t count = queries_.count;
        OwnedRef offsets = new_array({static_cast<Py_ssize_t>(count + 1)}, numpy::kInt64TypeNumber);
        OwnedRef reached = new_array({static_cast<Py_ssize_t>(count)}, numpy::kBoolTypeNumber);
        auto* offset = static_cast<std::int64_t*>(array_data(offsets.get()));
        auto* flags = static_cast<std::uint8_t*>(array_data(reached.get()));
        std::int64_t total = 0;
        offset[0] = 0;
        for (std::size_t i = 0; i < count; ++i) {
            total += slots_[i].count;
            offset[i + 1] = total;
            flags[i] = slots_[i].reached;
        }
        OwnedRef points = new_array({static_cast<Py_ssize_t>(total), 2}, numpy::kFloat32TypeNumber);
        auto* rows = static_cast<PointValue*>(array_data(points.get()));
        for (std::size_t i = 0; i < count; ++i) {
            const QuerySlot& slot = slots_[i];
            if (slot.count != 0) {
                std::memcpy(rows + offset[i], workers_[slot.worker].points.data() + slot.offset,
                            std::size_t{slot.count} * sizeof(PointValue));
            }
        }
        return require(PyTuple_Pack(3, offsets.get(), points.get(), reached.get()));
    }

private:
    void run_helper(std::size_t worker) noexcept {
        run_worker(worker, nullptr);
        std::lock_guard<std::mutex> lock(done_mutex_);
        running_.fetch_sub(1);
        done_.notify_all();
    }

    // While the other workers finish, the calling thread keeps answering signals.
    void wait_for_helpers(WithoutInterpreterLock& unlocked) noexcept {
        std::unique_lock<std::mutex> lock(done_mutex_);
        while (running_.load() > 0) {
            done_.wait_for(lock, kSignalInterval);
            lock.unlock();
            check_signals(unlocked);
            lock.lock();
        }
    }

    // `unlocked` is given to the calling thread's worker only.
    void run_worker(std::size_t index, WithoutInterpreterLock* unlocked) noexcept {
        Worker& worker = workers_[index];
        auto last_check = std::chrono::steady_clock::now();
        while (!stop_.load(std::memory_order_relaxed)) {
            const std::size_t begin = next_.fetch_add(chunk_, std::memory_order_relaxed);
            if (begin >= queries_.count) {
                return;
            }
            const std::size_t end = std::min(begin + chunk_, queries_.count);
            // Counted once per chunk, so that the workers share no line per query.
            ChunkCount counted(done_count_);
            for (std::size_t query = begin; query < end; ++query) {
                // Past a failed query nothing needs to run: its failure is reported
                // unless one before it fails too.
                if (stop_.load(std::memory_order_relaxed) || query >= fault_limit_.load(std::memory_order_relaxed)) {
                    return;
                }
                if (!run_query(worker, static_cast<std::uint16_t>(index), query)) {
                    return;
                }
                ++counted.queries;
                if (unlocked != nullptr) {
                    const auto now = std::chrono::steady_clock::now();
                    if (now - last_check >= kSignalInterval) {
                        last_check = now;
                        check_signals(*unlocked);
                    }
                }
            }
        }
    }

    // Adds the queries a worker finished to the shared count when its chunk ends.
    struct ChunkCount {
        std::atomic<std::size_t>& total;
        std::size_t queries = 0;
        explicit ChunkCount(std::atomic<std::size_t>& shared) noexcept : total(shared) {}
        ChunkCount(const ChunkCount&) = delete;
        ChunkCount& operator=(const ChunkCount&) = delete;
        ~ChunkCount() { total.fetch_add(queries, std::memory_order_relaxed); }
    };

    // False when the query failed.
    bool run_query(Worker& worker, std::uint16_t index, std::size_t query) noexcept {
        const std::int64_t start = queries_.start(query);
        const std::int64_t target = queries_.target(query);
        for (const auto& [role, node] : {std::pair{"start", start}, std::pair{"target", target}}) {
            if (node < 0 || static_cast<std::uint64_t>(node) >= graph_.node_count()) {
                record_fault({query, Fault{Fault::Kind::start_index}, role, node});
                return false;
            }
        }
        try {
            const std::size_t before = worker.points.size();
            const RouteEnd end = worker.finder->find(static_cast<std::uint32_t>(start),
                                                     static_cast<std::uint32_t>(target), options_);
            append_points(worker, end, query);
            slots_[query] = {before, static_cast<std::uint32_t>(worker.points.size() - before), index,
                             static_cast<std::uint8_t>(end == RouteEnd::target)};
            return true;
        } catch (const QueryFault& fault) {
            record_fault({query, fault.fault, nullptr, 0});
        } catch (...) {
            record_fault({query, Fault{Fault::Kind::out_of_memory}, nullptr, 0});
        }
        return false;
    }

    // The same points as the single calls: straight_path's, or find_path's midpoints
    // and end point.
    void append_points(Worker& worker, RouteEnd end, std::size_t query) const {
        RouteFinder& finder = *worker.finder;
        const PointValue end_point = end == RouteEnd::partial ? finder.centroid(finder.nodes().back())
                                                               : queries_.target_point(query);
        if (straight_) {
            if (end != RouteEnd::none) {
                finder.append_straight_path(queries_.start_point(query), end_point, worker.points);
            }
            return;
        }
        finder.append_midpoints(worker.points);
        worker.points.push_back(end_point, Site::batch);
    }

    void record_fault(const BatchFault& fault) noexcept {
        std::lock_guard<std::mutex> lock(fault_mutex_);
        if (!fault_ || fault.query < fault_->query) {
            fault_ = fault;
            fault_limit_.store(fault.query, std::memory_order_relaxed);
        }
    }

    // Also the moment to tell the progress callback, now and then.
    void check_signals(WithoutInterpreterLock& unlocked) noexcept {
        if (interruption_) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        const bool report = progress_ != nullptr && now - last_progress_ >= kProgressInterval;
        unlocked.with_lock([&] {
            if (PyErr_CheckSignals() == -1) {
                interruption_.emplace(ErrorState::take_current());
                stop_.store(true, std::memory_order_relaxed);
            } else if (report) {
                last_progress_ = now;
                call_progress();
            }
        });
    }

    // With the lock held: progress(done, total); an exception it raises stops the batch.
    void call_progress() noexcept {
        OwnedRef result = OwnedRef::steal(PyObject_CallFunction(
            progress_, "nn", static_cast<Py_ssize_t>(done_count_.load(std::memory_order_relaxed)),
            static_cast<Py_ssize_t>(queries_.count)));
        if (!result) {
            interruption_.emplace(ErrorState::take_current());
            stop_.store(true, std::memory_order_relaxed);
        }
    }

    const Graph graph_;
    const Queries queries_;
    const RouteOptions options_;
    const bool straight_;
    PyObject* const progress_;
    std::chrono::steady_clock::time_point last_progress_{};
    // Queries finished, counted chunk by chunk.
    std::atomic<std::size_t> done_count_{0};
    Table<QuerySlot> slots_;
    const std::size_t chunk_;
    std::vector<RouteFinder> finders_;
    std::vector<Worker> workers_;
    std::atomic<std::size_t> next_{0};
    // Set by a signal: every worker stops.
    std::atomic<bool> stop_{false};
    // The lowest failed query so far: no query from here on needs to run.
    std::atomic<std::size_t> fault_limit_{SIZE_MAX};
    std::mutex fault_mutex_;
    std::optional<BatchFault> fault_;
    std::optional<ErrorState> interruption_;
    std::mutex done_mutex_;
    std::condition_variable done_;
    // Helper threads still at work.
    std::atomic<std::size_t> running_{0};
};

// The cores this process may run on.
std::size_t usable_cores() noexcept {
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0) {
        return static_cast<std::size_t>(std::max(CPU_COUNT(&cores), 1));
    }
    return std::max<std::size_t>(std::thread::hardware_concurrency(), 1);
}

constexpr std::size_t kMostThreads = 1024;

// None: the usable cores (at most kMostThreads).
std::size_t thread_count(PyObject* object) {
    if (object == Py_None) {
        return std::min(usable_cores(), kMostThreads);
    }
    return static_cast<std::size_t>(bounded_index_argument("threads", object, 1, kMostThreads, "None or "));
}

constexpr std::array<const char*, 11> kFindPathsParameters = {
    "nodes", "edges", "starts", "targets", "target_points", "start_points", "straight", "threads",
    "max_expansions", "partial", "progress"};
constexpr Signature kFindPathsSignature{"find_paths()", kFindPathsParameters};

}  // namespace

OwnedRef find_paths(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 11> slots{};
    bind_fastcall(kFindPathsSignature, arguments, positional_count, keyword_names, slots);
    HeldTables tables(slots[0], slots[1]);
    const BufferView starts("starts", slots[2], 'i', 8, 1);
    const BufferView targets("targets", slots[3], 'i', 8, 1);
    const BufferView target_points("target_points", slots[4], 'f', 4, 2);
    const bool straight = flag_argument("straight", slots[6]);
    std::optional<BufferView> start_points;
    if (straight) {
        start_points.emplace("start_points", slots[5], 'f', 4, 2);
    }
    const std::size_t threads = thread_count(slots[7]);
    const RouteOptions options = route_options(slots[8], slots[9]);
    PyObject* const progress = slots[10] == Py_None ? nullptr : slots[10];
    if (progress != nullptr && !PyCallable_Check(progress)) {
        throw_error(PyExc_TypeError, "argument 'progress': expected None or a callable taking (done, total)");
    }
    const std::size_t count = static_cast<std::size_t>(starts.length());
    if (targets.length() != starts.length() || target_points.length() != starts.length() ||
        (start_points && start_points->length() != starts.length())) {
        throw_error(PyExc_ValueError, "starts, targets and the point arrays differ in length");
    }
    const Queries queries{static_cast<const std::byte*>(starts.data()), static_cast<const std::byte*>(targets.data()),
                          static_cast<const std::byte*>(target_points.data()),
                          start_points ? static_cast<const std::byte*>(start_points->data()) : nullptr, count};
    const Graph graph = tables.graph();

    const std::size_t workers = std::max<std::size_t>(1, std::min(threads, count));
    Batch batch(graph, queries, options, straight, workers, progress);
    batch.add_workers(workers);
    batch.run();
    if (std::optional<ErrorState>& interruption = batch.interruption()) {
        throw_error(std::move(*interruption));
    }
    if (const std::optional<BatchFault>& fault = batch.fault()) {
        if (fault->role != nullptr) {
            throw_node_outside(fault->role, fault->node, graph.node_count(), fault->query);
        }
        throw_fault(fault->fault, fault->query);
    }
    batch.report_done();
    // Python code may have run meanwhile, on other threads, in a signal handler or in
    // the progress callback.
    tables.require_unchanged();
    return batch.gather();
}

}  // namespace walkmesh::tools
