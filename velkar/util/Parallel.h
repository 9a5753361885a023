#pragma once

// The library's task-parallel building blocks, on oneTBB worker threads: a parallel for-each
// over a random-access range (one task per element, the calling thread takes part), a critical
// section usable with std::lock_guard and std::scoped_lock, and per-thread combinable storage.
// An exception thrown by a task cancels the tasks not yet started and is rethrown, with its own
// type, to the caller of the loop. ThreadLimit caps the worker threads for a scope (tests,
// benchmarks). Nothing else in the library should use the task runtime directly.

#include <concepts>
#include <cstddef>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>

#include <oneapi/tbb/combinable.h>

namespace velkar::util {

// Calls body(i) for every i in [0, count), each index a task of its own; returns once all
// have run. The order and the threads of the calls are not fixed.
void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& body);

// Calls function(element) for every element of [first, last); see ParallelFor.
template <std::random_access_iterator Iterator, typename Function>
void ParallelForEach(Iterator first, Iterator last, Function&& function) {
    if (!(first < last)) {
        return;
    }
    ParallelFor(static_cast<std::size_t>(last - first), [&first, &function](std::size_t index) {
        function(first[static_cast<std::iter_difference_t<Iterator>>(index)]);
    });
}

// A mutex for short sections shared by the tasks of a loop. The lower-case lock/unlock/try_lock
// make it a standard Lockable, so it works with std::lock_guard and std::scoped_lock.
class CriticalSection {
  public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void lock() { mutex.lock(); }
    void unlock() { mutex.unlock(); }
    bool try_lock() { return mutex.try_lock(); }

  private:
    std::mutex mutex;
};

// One private T per thread that asks for it. Local() is safe from any task; Combine, Each and
// Clear must only be called once the loop that fills the storage has returned.
template <typename T>
class Combinable {
  public:
    Combinable() = default;
    // Every thread's value starts as initialise() instead of T().
    template <typename Initialise>
    requires std::invocable<Initialise&>
    explicit Combinable(Initialise initialise) : storage(std::move(initialise)) {}

    T& Local() { return storage.local(); }

    // Folds all threads' values with the binary operation; with no value yet, returns the
    // initial value.
    template <typename BinaryOperation>
    T Combine(BinaryOperation operation) {
        return storage.combine(std::move(operation));
    }

    // Calls visit(value) once for every thread's value.
    template <typename Visitor>
    void Each(Visitor visit) {
        storage.combine_each(std::move(visit));
    }

    void Clear() { storage.clear(); }

  private:
    tbb::combinable<T> storage;
};

// Caps the number of threads that run tasks (the calling thread included) while the object
// lives. Nested limits apply the smallest. A limit below 1 is rejected.
class ThreadLimit {
  public:
    explicit ThreadLimit(int maxThreads);
    ~ThreadLimit();
    ThreadLimit(const ThreadLimit&) = delete;
    ThreadLimit& operator=(const ThreadLimit&) = delete;

  private:
    struct Control;
    std::unique_ptr<Control> control;
};

// The number of threads a loop started now may use: the hardware's, or the active limit.
int MaxThreads();

}  // namespace velkar::util
