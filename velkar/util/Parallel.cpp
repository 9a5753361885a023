#include "velkar/util/Parallel.h"

#include <stdexcept>
#include <string>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>

namespace velkar::util {

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
