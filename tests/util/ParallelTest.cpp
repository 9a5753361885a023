#include "velkar/util/Parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <numeric>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace velkar::util {
namespace {

TEST(ParallelTest, ForEachVisitsEveryElementOnce) {
    std::vector<int> elements(2000);
    std::iota(elements.begin(), elements.end(), 0);
    std::vector<std::atomic<int>> visits(elements.size());
    ParallelForEach(elements.begin(), elements.end(), [&](int element) { ++visits[element]; });
    for (std::size_t index = 0; index < visits.size(); ++index) {
        EXPECT_EQ(visits[index].load(), 1) << "element " << index;
    }

    int calls = 0;
    ParallelForEach(elements.begin(), elements.begin(), [&](int) { ++calls; });
    ParallelForEach(elements.end(), elements.begin(), [&](int) { ++calls; });
    ParallelFor(0, [&](std::size_t) { ++calls; });
    EXPECT_EQ(calls, 0);
}

TEST(ParallelTest, ForEachCanChangeTheElements) {
    std::vector<long> values(500, 3);
    ParallelForEach(values.begin(), values.end(), [](long& value) { value *= value; });
    EXPECT_EQ(std::accumulate(values.begin(), values.end(), 0L), 500L * 9);
}

TEST(ParallelTest, ThreadLimitOfOneRunsEverythingOnTheCaller) {
    const int unlimited = MaxThreads();
    EXPECT_GE(unlimited, 1);
    {
        ThreadLimit limit(1);
        EXPECT_EQ(MaxThreads(), 1);
        std::set<std::thread::id> threads;
        CriticalSection lock;
        ParallelFor(300, [&](std::size_t) {
            std::lock_guard<CriticalSection> guard(lock);
            threads.insert(std::this_thread::get_id());
        });
        EXPECT_EQ(threads, std::set<std::thread::id>{std::this_thread::get_id()});
    }
    EXPECT_EQ(MaxThreads(), unlimited);
}

TEST(ParallelTest, ThreadLimitRejectsLessThanOne) {
    try {
        ThreadLimit limit(0);
        FAIL() << "limit 0 accepted";
    } catch (const std::invalid_argument& error) {
        EXPECT_NE(std::string(error.what()).find('0'), std::string::npos) << error.what();
    }
    EXPECT_THROW(ThreadLimit(-2), std::invalid_argument);
}

struct TaskFailure : std::runtime_error {
    explicit TaskFailure(int index) : std::runtime_error("task failed"), index(index) {}
    int index;
};

TEST(ParallelTest, ExceptionOfATaskReachesTheCallerWithItsType) {
    std::vector<int> elements(400);
    std::iota(elements.begin(), elements.end(), 0);
    try {
        ParallelForEach(elements.begin(), elements.end(), [](int element) {
            if (element == 123) {
                throw TaskFailure(element);
            }
        });
        FAIL() << "exception swallowed";
    } catch (const TaskFailure& failure) {
        EXPECT_EQ(failure.index, 123);
    }
    // The runtime is usable after a cancelled loop.
    std::atomic<int> calls{0};
    ParallelFor(100, [&](std::size_t) { ++calls; });
    EXPECT_EQ(calls.load(), 100);
}

TEST(ParallelTest, CriticalSectionSerialisesUpdates) {
    long counter = 0;
    CriticalSection lock;
    ParallelFor(4000, [&](std::size_t) {
        for (int step = 0; step < 10; ++step) {
            std::scoped_lock guard(lock);
            counter += 1;
        }
    });
    EXPECT_EQ(counter, 40000);

    ASSERT_TRUE(lock.try_lock());
    bool takenElsewhere = true;
    std::thread other([&] { takenElsewhere = lock.try_lock(); });
    other.join();
    EXPECT_FALSE(takenElsewhere);
    lock.unlock();
}

TEST(ParallelTest, CombinableGathersEveryThreadsValue) {
    Combinable<long> sums;
    ParallelFor(1000, [&](std::size_t index) { sums.Local() += static_cast<long>(index); });
    EXPECT_EQ(sums.Combine(std::plus<long>()), 999L * 1000 / 2);
    long visited = 0;
    sums.Each([&](long value) { visited += value; });
    EXPECT_EQ(visited, 999L * 1000 / 2);

    sums.Clear();
    EXPECT_EQ(sums.Combine(std::plus<long>()), 0);

    Combinable<std::vector<int>> lists([] { return std::vector<int>{-1}; });
    {
        ThreadLimit limit(1);
        ParallelFor(5,
                    [&](std::size_t index) { lists.Local().push_back(static_cast<int>(index)); });
    }
    std::multiset<int> gathered;
    lists.Each([&](const std::vector<int>& list) { gathered.insert(list.begin(), list.end()); });
    EXPECT_EQ(gathered, (std::multiset<int>{-1, 0, 1, 2, 3, 4}));
}

}  // namespace
}  // namespace velkar::util
