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
#include "core/shortest_path.hpp"
#include "python/arguments.hpp"
#include "python/array_api.hpp"
#include "tools/buffer_view.hpp"
#include "tools/failures.hpp"
#include "tools/intake.hpp"
#include "tools/mesh.hpp"
#include "tools/results.hpp"

namespace walkmesh::tools {
namespace {

// How often the calling thread looks for a pending signal (Ctrl-C) between queries.
constexpr std::chrono::milliseconds kSignalInterval{10};
// How often it tells the progress callback how many queries are done.
constexpr std::chrono::milliseconds kProgressInterval{100};

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
    // For a query the shortest-path search refuses: why (the fault is unused then).
    std::string reason;
};

// What a batch of routes runs per query: find_path's points, or straight_path's.
class RouteJob {
public:
    using Finder = RouteFinder;
    using Point = PointValue;
    static constexpr int point_type = numpy::kFloat32TypeNumber;
    static constexpr bool has_lengths = false;

    RouteJob(const Graph& graph, const Queries& queries, const RouteOptions& options, bool straight) noexcept
        : graph_(graph), queries_(queries), options_(options), straight_(straight) {}

    std::size_t count() const noexcept { return queries_.count; }
    void bind(RouteFinder& finder) const { finder.bind(graph_); }

    std::optional<BatchFault> check(std::size_t query) const {
        for (const auto& [role, node] : {std::pair{"start", queries_.start(query)}, std::pair{"target", queries_.target(query)}}) {
            if (node < 0 || static_cast<std::uint64_t>(node) >= graph_.node_count()) {
                return BatchFault{query, Fault{Fault::Kind::start_index}, role, node, {}};
            }
        }
        return std::nullopt;
    }

    // Appends the query's points; returns whether it reached its target.
    bool run(RouteFinder& finder, std::size_t query, GrowableArray<PointValue>& points) const {
        const RouteEnd end = finder.find(static_cast<std::uint32_t>(queries_.start(query)),
                                         static_cast<std::uint32_t>(queries_.target(query)), options_);
        const PointValue end_point = end == RouteEnd::partial ? finder.centroid(finder.nodes().back())
                                                               : queries_.target_point(query);
        if (straight_) {
            if (end != RouteEnd::none) {
                finder.append_straight_path(queries_.start_point(query), end_point, points);
            }
        } else {
            finder.append_midpoints(points);
            points.push_back(end_point, Site::batch);
        }
        return end == RouteEnd::target;
    }
    double length(const RouteFinder&) const noexcept { return 0.0; }

private:
    const Graph graph_;
    const Queries queries_;
    const RouteOptions options_;
    const bool straight_;
};

// The query arrays of a batch of shortest paths: polygons (int64) and points (float64
// pairs), read at any alignment.
struct PointQueries {
    const std::byte* start_polygons;
    const std::byte* starts;
    const std::byte* target_polygons;
    const std::byte* targets;
    std::size_t count;

    static std::int64_t polygon_at(const std::byte* data, std::size_t i) noexcept {
        return record::read<std::int64_t>(data + i * sizeof(std::int64_t));
    }
    static XY point_at(const std::byte* data, std::size_t i) noexcept {
        XY point;
        std::memcpy(&point, data + i * sizeof(XY), sizeof(XY));
        return point;
    }
};

// What a batch of shortest paths runs per query.
class ShortestJob {
public:
    using Finder = ShortestPathFinder;
    using Point = XY;
    static constexpr int point_type = numpy::kFloat64TypeNumber;
    static constexpr bool has_lengths = true;

    ShortestJob(const MeshIndex& mesh, const PointQueries& queries) noexcept : mesh_(mesh), queries_(queries) {}

    std::size_t count() const noexcept { return queries_.count; }
    void bind(ShortestPathFinder&) const noexcept {}

    std::optional<BatchFault> check(std::size_t query) const {
        for (const auto& [role, polygon] : {std::pair{"start", PointQueries::polygon_at(queries_.start_polygons, query)},
                                            std::pair{"target", PointQueries::polygon_at(queries_.target_polygons, query)}}) {
            if (polygon < 0 || polygon >= mesh_.polygon_count()) {
                return BatchFault{query, Fault{Fault::Kind::start_index}, nullptr, 0,
                                  std::string(role) + " polygon " + std::to_string(polygon) + " is outside the mesh (" +
                                      std::to_string(mesh_.polygon_count()) + " polygons)"};
            }
        }
        return std::nullopt;
    }

    bool run(ShortestPathFinder& finder, std::size_t query, GrowableArray<XY>& points) const {
        const bool reached = finder.find(mesh_, PointQueries::polygon_at(queries_.start_polygons, query),
                                         PointQueries::point_at(queries_.starts, query),
                                         PointQueries::polygon_at(queries_.target_polygons, query),
                                         PointQueries::point_at(queries_.targets, query));
        for (const XY point : finder.path()) {
            points.push_back(point, Site::batch);
        }
        return reached;
    }
    double length(const ShortestPathFinder& finder) const noexcept { return finder.length(); }

private:
    const MeshIndex& mesh_;
    const PointQueries queries_;
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

template <class Job>
class Batch {
public:
    using Finder = typename Job::Finder;
    using Point = typename Job::Point;
    struct Worker {
        Finder* finder;
        GrowableArray<Point> points;
    };

    // `progress`, when not null, is called as progress(done, total) from the calling
    // thread, with the lock held.
    Batch(const Job& job, std::size_t threads, PyObject* progress)
        : job_(job),
          count_(job.count()),
          progress_(progress),
          slots_(Table<QuerySlot>::uninitialised(count_, Site::batch)),
          lengths_(Table<double>::uninitialised(Job::has_lengths ? count_ : 0, Site::batch)),
          chunk_(std::clamp<std::size_t>(count_ / (threads * 16), 1, 64)) {
        workers_.reserve(threads);
        finders_.reserve(threads);
    }

    // Each worker gets a finder of its own, the calling thread's too: a signal handler
    // run between its queries may call the single functions, which use that thread's
    // kept finder.
    void add_workers(std::size_t threads) {
        for (std::size_t i = 0; i < threads; ++i) {
            finders_.emplace_back();
            job_.bind(finders_.back());
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

    // With the lock held, after a complete run(): (offsets, points, reached), and the
    // lengths when the job has them.
    OwnedRef gather() const {
        const std::size_t count = count_;
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
        OwnedRef points = new_array({static_cast<Py_ssize_t>(total), 2}, Job::point_type);
        auto* rows = static_cast<Point*>(array_data(points.get()));
        for (std::size_t i = 0; i < count; ++i) {
            const QuerySlot& slot = slots_[i];
            if (slot.count != 0) {
                std::memcpy(rows + offset[i], workers_[slot.worker].points.data() + slot.offset,
                            std::size_t{slot.count} * sizeof(Point));
            }
        }
        if constexpr (Job::has_lengths) {
            OwnedRef lengths = new_array({static_cast<Py_ssize_t>(count)}, numpy::kFloat64TypeNumber);
            if (count != 0) {
                std::memcpy(array_data(lengths.get()), lengths_.data(), count * sizeof(double));
            }
            return require(PyTuple_Pack(4, offsets.get(), points.get(), reached.get(), lengths.get()));
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
            if (begin >= count_) {
                return;
            }
            const std::size_t end = std::min(begin + chunk_, count_);
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
        try {
            if (std::optional<BatchFault> fault = job_.check(query)) {
                record_fault(*fault);
                return false;
            }
            const std::size_t before = worker.points.size();
            const bool reached = job_.run(*worker.finder, query, worker.points);
            slots_[query] = {before, static_cast<std::uint32_t>(worker.points.size() - before), index,
                             static_cast<std::uint8_t>(reached)};
            if constexpr (Job::has_lengths) {
                lengths_[query] = job_.length(*worker.finder);
            }
            return true;
        } catch (const QueryFault& fault) {
            record_fault({query, fault.fault, nullptr, 0, {}});
        } catch (const PointFault& fault) {
            record_fault({query, Fault{Fault::Kind::start_index}, nullptr, 0, fault.what()});
        } catch (...) {
            record_fault({query, Fault{Fault::Kind::out_of_memory}, nullptr, 0, {}});
        }
        return false;
    }

    // A fault's reason is copied under the lock; running out of memory there ends the
    // process, as it cannot be reported.
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
            static_cast<Py_ssize_t>(count_)));
        if (!result) {
            interruption_.emplace(ErrorState::take_current());
            stop_.store(true, std::memory_order_relaxed);
        }
    }

    const Job& job_;
    const std::size_t count_;
    PyObject* const progress_;
    std::chrono::steady_clock::time_point last_progress_{};
    // Queries finished, counted chunk by chunk.
    std::atomic<std::size_t> done_count_{0};
    Table<QuerySlot> slots_;
    Table<double> lengths_;
    const std::size_t chunk_;
    std::vector<Finder> finders_;
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

// Runs the batch and raises what stopped it: a signal's or the progress callback's
// exception, or the lowest failed query's fault.
template <class Job>
void run_batch(Batch<Job>& batch, std::size_t node_count) {
    batch.run();
    if (std::optional<ErrorState>& interruption = batch.interruption()) {
        throw_error(std::move(*interruption));
    }
    if (const std::optional<BatchFault>& fault = batch.fault()) {
        if (!fault->reason.empty()) {
            throw_point_fault(fault->reason, fault->query);
        }
        if (fault->role != nullptr) {
            throw_node_outside(fault->role, fault->node, node_count, fault->query);
        }
        throw_fault(fault->fault, fault->query);
    }
    batch.report_done();
}

std::size_t workers_for(std::size_t threads, std::size_t count) noexcept {
    return std::max<std::size_t>(1, std::min(threads, count));
}

// None, or a callable taking (done, total).
PyObject* progress_argument(PyObject* object) {
    if (object == Py_None) {
        return nullptr;
    }
    if (!PyCallable_Check(object)) {
        throw_error(PyExc_TypeError, "argument 'progress': expected None or a callable taking (done, total)");
    }
    return object;
}

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
    PyObject* const progress = progress_argument(slots[10]);
    const std::size_t count = static_cast<std::size_t>(starts.length());
    if (targets.length() != starts.length() || target_points.length() != starts.length() ||
        (start_points && start_points->length() != starts.length())) {
        throw_error(PyExc_ValueError, "starts, targets and the point arrays differ in length");
    }
    const Queries queries{static_cast<const std::byte*>(starts.data()), static_cast<const std::byte*>(targets.data()),
                          static_cast<const std::byte*>(target_points.data()),
                          start_points ? static_cast<const std::byte*>(start_points->data()) : nullptr, count};
    const Graph graph = tables.graph();

    const RouteJob job(graph, queries, options, straight);
    const std::size_t workers = workers_for(threads, count);
    Batch<RouteJob> batch(job, workers, progress);
    batch.add_workers(workers);
    run_batch(batch, graph.node_count());
    // Python code may have run meanwhile, on other threads, in a signal handler or in
    // the progress callback.
    tables.require_unchanged();
    return batch.gather();
}

constexpr std::array<const char*, 7> kShortestPathsParameters = {
    "mesh", "start_polygons", "starts", "target_polygons", "targets", "threads", "progress"};
constexpr Signature kShortestPathsSignature{"shortest_paths()", kShortestPathsParameters};

OwnedRef shortest_paths(PyObject* const* arguments, Py_ssize_t positional_count, PyObject* keyword_names) {
    std::array<PyObject*, 7> slots{};
    bind_fastcall(kShortestPathsSignature, arguments, positional_count, keyword_names, slots);
    const MeshIndex& mesh = mesh_argument("mesh", slots[0]);
    const BufferView start_polygons("start_polygons", slots[1], 'i', 8, 1);
    const BufferView starts("starts", slots[2], 'd', 8, 2);
    const BufferView target_polygons("target_polygons", slots[3], 'i', 8, 1);
    const BufferView targets("targets", slots[4], 'd', 8, 2);
    const std::size_t threads = thread_count(slots[5]);
    PyObject* const progress = progress_argument(slots[6]);
    const Py_ssize_t length = start_polygons.length();
    if (starts.length() != length || target_polygons.length() != length || targets.length() != length) {
        throw_error(PyExc_ValueError, "the polygon and point arrays differ in length");
    }
    const std::size_t count = static_cast<std::size_t>(length);
    const PointQueries queries{static_cast<const std::byte*>(start_polygons.data()),
                               static_cast<const std::byte*>(starts.data()),
                               static_cast<const std::byte*>(target_polygons.data()),
                               static_cast<const std::byte*>(targets.data()), count};
    const ShortestJob job(mesh, queries);
    const std::size_t workers = workers_for(threads, count);
    Batch<ShortestJob> batch(job, workers, progress);
    batch.add_workers(workers);
    run_batch(batch, 0);
    return batch.gather();
}

}  // namespace walkmesh::tools
