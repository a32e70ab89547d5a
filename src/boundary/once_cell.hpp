// Process-wide cells filled once, on the first successful use, and never emptied.
// A thread that finds the cell empty gives up the GIL before it waits for the guard,
// so the thread that is filling it (holding the GIL while it runs Python code) can
// always proceed. A failed fill leaves the cell empty for the next use to retry.
#pragma once

#include <atomic>
#include <mutex>
#include <type_traits>

#include "boundary/python.hpp"

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
        std::unique_lock<std::mutex> guard = lock_without_gil();
        if (!filled_.load(std::memory_order_relaxed)) {
            value_ = fill();
            filled_.store(true, std::memory_order_release);
        }
        return value_;
    }

private:
    std::unique_lock<std::mutex> lock_without_gil() {
        std::unique_lock<std::mutex> guard(mutex_, std::defer_lock);
        PyThreadState* saved = PyEval_SaveThread();
        guard.lock();
        PyEval_RestoreThread(saved);
        return guard;
    }

    std::atomic<bool> filled_{false};
    std::mutex mutex_;
    T value_{};
};

}  // namespace walkmesh
