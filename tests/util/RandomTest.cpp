#include "velkar/util/Random.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <set>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace velkar::util {
namespace {

constexpr std::uint64_t randRange = static_cast<std::uint64_t>(RAND_MAX) + 1;

TEST(Random, RealsLieInTheUnitIntervalAndSpanIt) {
    Seed(3);
    double smallest = 1.0;
    double largest = 0.0;
    double sum = 0.0;
    const int draws = 100000;
    for (int i = 0; i < draws; ++i) {
        const double value = RandomReal();
        ASSERT_GE(value, 0.0);
        ASSERT_LE(value, 1.0);
        smallest = std::min(smallest, value);
        largest = std::max(largest, value);
        sum += value;
    }
    // Dividing by anything but RAND_MAX would either leave [0, 1] or fail to fill it.
    EXPECT_LT(smallest, 0.001);
    EXPECT_GT(largest, 0.999);
    EXPECT_NEAR(sum / draws, 0.5, 0.01);
}

TEST(Random, RealIsTheGeneratorValueOverRandMax) {
    Seed(21);
    std::vector<int> raw;
    for (int i = 0; i < 5; ++i) {
        raw.push_back(std::rand());
    }
    Seed(21);
    for (int value : raw) {
        EXPECT_DOUBLE_EQ(RandomReal(), value / static_cast<double>(RAND_MAX));
    }
}

TEST(Random, SeedRepeatsTheSequenceAndClockSeedingNeverOverridesIt) {
    auto draw = [] {
        std::vector<double> values;
        for (int i = 0; i < 8; ++i) {
            values.push_back(RandomReal());
            values.push_back(static_cast<double>(RandomIndex(1000)));
        }
        return values;
    };
    Seed(42);
    const std::vector<double> first = draw();
    Seed(42);
    EnsureSeeded();
    EXPECT_EQ(draw(), first);
    Seed(43);
    EXPECT_NE(draw(), first);
}

TEST(Random, SmallRangesUseOneDrawModuloTheRange) {
    Seed(5);
    std::vector<int> raw;
    for (int i = 0; i < 20; ++i) {
        raw.push_back(std::rand());
    }
    Seed(5);
    for (int value : raw) {
        EXPECT_EQ(RandomIndex(10), static_cast<std::size_t>(value % 10));
    }
}

TEST(Random, SmallRangesReachEveryIndex) {
    Seed(9);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(RandomIndex(1), 0u);
    }
    std::set<std::size_t> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::size_t index = RandomIndex(7);
        ASSERT_LT(index, 7u);
        seen.insert(index);
    }
    EXPECT_EQ(seen.size(), 7u);
}

TEST(Random, RangesBeyondOneDrawReachTheirUpperPart) {
    Seed(17);
    const std::uint64_t n = 4 * randRange;
    std::uint64_t largest = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::uint64_t index = RandomIndex(n);
        ASSERT_LT(index, n);
        largest = std::max(largest, index);
    }
    // A single rand() could never exceed RAND_MAX; a quarter of the draws should land here.
    EXPECT_GE(largest, 3 * randRange);

    const std::uint64_t huge = (std::uint64_t{1} << 40) + 3;
    bool highBitSeen = false;
    for (int i = 0; i < 200; ++i) {
        const std::uint64_t index = RandomIndex(huge);
        ASSERT_LT(index, huge);
        highBitSeen = highBitSeen || index >= (std::uint64_t{1} << 39);
    }
    EXPECT_TRUE(highBitSeen);

    const std::size_t widest = std::numeric_limits<std::size_t>::max();
    for (int i = 0; i < 20; ++i) {
        EXPECT_LT(RandomIndex(widest), widest);
    }
}

TEST(Random, WideRangesAreEvenlyCovered) {
    Seed(23);
    // Not a power of two, so the rejection step is exercised.
    const std::uint64_t n = 3 * randRange;
    int thirds[3] = {0, 0, 0};
    const int draws = 30000;
    for (int i = 0; i < draws; ++i) {
        ++thirds[RandomIndex(n) / randRange];
    }
    for (int count : thirds) {
        EXPECT_NEAR(count, draws / 3, 500);
    }
}

TEST(Random, EmptyRangeIsRejected) { EXPECT_THROW(RandomIndex(0), std::invalid_argument); }

TEST(Random, PermutationsHoldEveryIndexOnceAndPutEachAnywhere) {
    Seed(5);
    EXPECT_TRUE(RandomPermutation(0).empty());
    EXPECT_EQ(RandomPermutation(1), std::vector<std::size_t>{0});
    // Over many shuffles of 4 indices each index lands in each position about equally often;
    // a swap with the wrong bound (i instead of i + 1) would never leave an index in place.
    const int draws = 24000;
    int where[4][4] = {};
    for (int i = 0; i < draws; ++i) {
        const std::vector<std::size_t> order = RandomPermutation(4);
        std::vector<std::size_t> sorted = order;
        std::sort(sorted.begin(), sorted.end());
        ASSERT_EQ(sorted, (std::vector<std::size_t>{0, 1, 2, 3}));
        for (std::size_t position = 0; position < 4; ++position) {
            ++where[order[position]][position];
        }
    }
    for (const auto& index : where) {
        for (int count : index) {
            EXPECT_NEAR(count, draws / 4, 400);
        }
    }
}

}  // namespace
}  // namespace velkar::util
