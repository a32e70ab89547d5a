// The batch: every query checked before any search runs, then the searches on worker
// threads (the calling thread is the first of them) with the interpreter lock
// released, each worker reusing its route finder and appending its points to a buffer
// of its own; then, with the lock back, the buffers gathered in query order.
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

#include "boundary/arguments.hpp"
#include "graph.hpp"
#include "numpy_access/array_api.hpp"
#include "route.hpp"
#include "tools/failures.hpp"
#include "tools/intake.hpp"
#include "tools/results.hpp"

namespace walkmesh::tools {
namespace {

constexpr SourceLocation batch_site{"src/tools/batch", 0, 0};

// How often the calling thread looks for a pending signal (Ctrl-C) between queries.
constexpr std::chrono::milliseconds kSignalInterval{10};

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

// The first failure of the batch, by query position.
struct BatchFault {
    std::size_t query;
    PyObject* type;
    std::string message;
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
    Batch(const Graph& graph, const Queries& queries, const RouteOptions& options, bool straight,
          std::size_t threads)
        : graph_(graph),
          queries_(queries),
          options_(options),
          straight_(straight),
          slots_(Table<QuerySlot>::uninitialised(queries.count, batch_site)),
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

    // Runs every query; returns early when a search fails or a signal arrives. The
    // lock is released meanwhile and held again on return.
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

    // With the lock held, after run(): the signal's exception, if one arrived.
    std::optional<ErrorState>& interruption() noexcept { return interruption_; }
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
            for (std::size_t query = begin; query < end; ++query) {
                if (stop_.load(std::memory_order_relaxed)) {
                    return;
                }
                if (!run_query(worker, static_cast<std::uint16_t>(index), query)) {
                    return;
                }
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

    // False when the query failed and the batch stops.
    bool run_query(Worker& worker, std::uint16_t index, std::size_t query) noexcept {
        try {
            const std::size_t before = worker.points.size();
            const RouteEnd end = find_route(*worker.finder, query);
            append_points(worker, end, query);
            slots_[query] = {before, static_cast<std::uint32_t>(worker.points.size() - before), index,
                             static_cast<std::uint8_t>(end == RouteEnd::target)};
            return true;
        } catch (const GraphFault& fault) {
            record_fault(query, PyExc_ValueError, fault.message);
        } catch (const StorageFailure& failure) {
            record_fault(query, PyExc_MemoryError,
                         failure.bytes == 0 ? "the results are too large for one allocation"
                                            : "cannot allocate " + std::to_string(failure.bytes) + " bytes");
        } catch (...) {
            record_fault(query, PyExc_MemoryError, "out of memory");
        }
        return false;
    }

    RouteEnd find_route(RouteFinder& finder, std::size_t query) const {
        return finder.find(static_cast<std::uint32_t>(queries_.start(query)),
                           static_cast<std::uint32_t>(queries_.target(query)), options_);
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
        worker.points.push_back(end_point, batch_site);
    }

    void record_fault(std::size_t query, PyObject* type, std::string message) noexcept {
        try {
            std::lock_guard<std::mutex> lock(fault_mutex_);
            if (!fault_ || query < fault_->query) {
                fault_ = BatchFault{query, type, "query " + std::to_string(query) + ": " + message};
            }
        } catch (...) {
            // Without room for the message the batch still stops; gather() never runs.
        }
        stop_.store(true, std::memory_order_relaxed);
    }

    void check_signals(WithoutInterpreterLock& unlocked) noexcept {
        if (interruption_) {
            return;
        }
        unlocked.with_lock([&] {
            if (PyErr_CheckSignals() == -1) {
                interruption_.emplace(ErrorState::take_current());
                stop_.store(true, std::memory_order_relaxed);
            }
        });
    }

    const Graph graph_;
    const Queries queries_;
    const RouteOptions options_;
    const bool straight_;
    Table<QuerySlot> slots_;
    const std::size_t chunk_;
    std::vector<RouteFinder> finders_;
    std::vector<Worker> workers_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::mutex fault_mutex_;
    std::optional<BatchFault> fault_;
    std::optional<ErrorState> interruption_;
    std::mutex done_mutex_;
    std::condition_variable done_;
    // Helper threads still at work.
    std::atomic<std::size_t> running_{0};
};

// Every query's start and target within the node table, checked in query order.
void check_node_indices(const Queries& queries, std::size_t node_count) {
    const auto outside = [&](std::int64_t node) {
        return node < 0 || static_cast<std::uint64_t>(node) >= node_count;
    };
    for (std::size_t i = 0; i < queries.count; ++i) {
        for (const auto& [role, node] : {std::pair{"start", queries.start(i)}, std::pair{"target", queries.target(i)}}) {
            if (outside(node)) {
                throw_error(PyExc_ValueError, "query " + std::to_string(i) + ": " + role + " node " +
                                                  std::to_string(node) + " is outside the node table (" +
                                                  std::to_string(node_count) + " nodes)");
            }
        }
    }
}

std::size_t thread_count(PyObject* object) {
    const std::uint64_t threads = budget_argument("threads", object);
    if (threads == 0 || threads > 1024) {
        throw_error(PyExc_ValueError, "argument 'threads': must be from 1 to 1024");
    }
    return static_cast<std::size_t>(threads);
}

constexpr std::array<const char*, 10> kFindPathsParameters = {
    "nodes", "edges", "starts", "targets", "target_points", "start_points", "straight", "threads",
    "max_expansions", "partial"};
constexpr Signature kFindPathsSignature{"find_paths()", kFindPathsParameters};

}  // namespace

OwnedRef find_paths(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 10> slots{};
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
    const std::size_t count = static_cast<std::size_t>(starts.length());
    if (targets.length() != starts.length() || target_points.length() != starts.length() ||
        (start_points && start_points->length() != starts.length())) {
        throw_error(PyExc_ValueError, "starts, targets and the point arrays differ in length");
    }
    const Queries queries{static_cast<const std::byte*>(starts.data()), static_cast<const std::byte*>(targets.data()),
                          static_cast<const std::byte*>(target_points.data()),
                          start_points ? static_cast<const std::byte*>(start_points->data()) : nullptr, count};
    const Graph graph = tables.graph();
    check_node_indices(queries, graph.node_count());

    const std::size_t workers = std::max<std::size_t>(1, std::min(threads, count));
    Batch batch(graph, queries, options, straight, workers);
    batch.add_workers(workers);
    batch.run();
    if (std::optional<ErrorState>& interruption = batch.interruption()) {
        throw_error(std::move(*interruption));
    }
    if (const std::optional<BatchFault>& fault = batch.fault()) {
        throw_error(fault->type, fault->message);
    }
    // Python code may have run meanwhile, on other threads or in a signal handler.
    tables.graph();
    return batch.gather();
}

}  // namespace walkmesh::tools
