// Process-wide cells filled once, on the first successful use, and never emptied.
// A thread that finds the cell empty gives up the GIL before it waits for the guard,
// so the thread that is filling it (holding the GIL while it runs Python code) can
// always proceed. A failed fill leaves the cell empty for the next use to retry.
// Python code run by a fill may use the cell again on the same thread: that use runs
// the fill itself rather than wait for itself, and the first value stored wins.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <type_traits>

#include "python/python.hpp"

namespace walkmesh {

template <class T>
class OnceCell {
    static_assert(std::is_trivially_copyable_v<T>, "cells hold plain values");

public:
    // The value if the cell is filled, else nullptr. Lock-free.
    const T* get() const noexcept {
        return filled_.load(std::memory_order_acquire) ? &value_ : nullptr;
    }

    // Needs the GIL. `fill` returns the value or throws; it runs with the GIL held and
    // at most one thread at a time runs it.
    template <class Fill>
    const T& get_or_fill(Fill&& fill) {
        if (const T* value = get()) {
            return *value;
        }
        if (filling_thread_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
            return store(fill());
        }
        std::unique_lock<std::mutex> guard = lock_without_gil();
        if (!filled_.load(std::memory_order_relaxed)) {
            FillingMark mark(filling_thread_);
            return store(fill());
        }
        return value_;
    }

private:
    // Names the thread that runs the fill, until the fill returns or throws.
    class FillingMark {
    public:
        explicit FillingMark(std::atomic<std::thread::id>& thread) noexcept : thread_(thread) {
            thread_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        }
        ~FillingMark() { thread_.store(std::thread::id(), std::memory_order_relaxed); }
        FillingMark(const FillingMark&) = delete;
        FillingMark& operator=(const FillingMark&) = delete;

    private:
        std::atomic<std::thread::id>& thread_;
    };

    // Only the filling thread stores; a value stored by a nested fill stays.
    const T& store(const T& value) noexcept {
        if (!filled_.load(std::memory_order_relaxed)) {
            value_ = value;
            filled_.store(true, std::memory_order_release);
        }
        return value_;
    }

    std::unique_lock<std::mutex> lock_without_gil() {
        std::unique_lock<std::mutex> guard(mutex_, std::defer_lock);
        PyThreadState* saved = PyEval_SaveThread();
        guard.lock();
        PyEval_RestoreThread(saved);
        return guard;
    }

    std::atomic<bool> filled_{false};
    std::atomic<std::thread::id> filling_thread_{};
    std::mutex mutex_;
    T value_{};
};

}  // namespace walkmesh
