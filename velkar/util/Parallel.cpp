#include "velkar/util/Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>

namespace velkar::util {

#ifdef VELKAR_PLAIN_THREADS

// The thread-sanitizer build: as many plain threads as the active limit allows take the indices
// in turn; the first exception stops the indices not yet taken and reaches the caller.
void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& body) {
    const std::size_t threads =
        std::min<std::size_t>(count, static_cast<std::size_t>(std::max(MaxThreads(), 1)));
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex errorLock;
    auto work = [&] {
        for (std::size_t index = next++; index < count && !failed; index = next++) {
            try {
                body(index);
            } catch (...) {
                std::lock_guard<std::mutex> guard(errorLock);
                if (!error) {
                    error = std::current_exception();
                }
                failed = true;
            }
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < threads; ++t) {
        helpers.emplace_back(work);
    }
    work();
    for (std::thread& helper : helpers) {
        helper.join();
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

#else

void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& body) {
    if (count == 0) {
        return;
    }
    // Grain size 1 with the simple partitioner gives every index its own task: the elements
    // (polygons) differ widely in cost, so no chunk of cheap ones should wait behind a big one.
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, count, 1),
        [&body](const tbb::blocked_range<std::size_t>& range) {
            for (std::size_t index = range.begin(); index != range.end(); ++index) {
                body(index);
            }
        },
        tbb::simple_partitioner());
}

#endif

struct ThreadLimit::Control {
    explicit Control(std::size_t threads)
        : limit(tbb::global_control::max_allowed_parallelism, threads) {}
    tbb::global_control limit;
};

ThreadLimit::ThreadLimit(int maxThreads) {
    if (maxThreads < 1) {
        throw std::invalid_argument("thread limit must be at least 1, got " +
                                    std::to_string(maxThreads));
    }
    control = std::make_unique<Control>(static_cast<std::size_t>(maxThreads));
}

ThreadLimit::~ThreadLimit() = default;

int MaxThreads() {
    return static_cast<int>(
        tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism));
}

}  // namespace velkar::util
