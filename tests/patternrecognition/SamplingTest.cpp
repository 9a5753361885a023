#include "velkar/patternrecognition/Sampling.h"

#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

// Pattern i carries class id i, so a set can be read back as the input positions it holds.
PatternSet MakeSet(int n) {
    auto set = std::make_shared<PatternList>();
    for (int i = 0; i < n; ++i) {
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(i);
        set->push_back(pattern);
    }
    return set;
}

std::vector<int> Positions(const PatternSet& set) {
    std::vector<int> positions;
    for (const auto& pattern : *set) {
        positions.push_back(pattern->Class());
    }
    return positions;
}

// Both sets together hold every input pattern exactly once (the very same objects), and each
// keeps the input order.
void ExpectPartition(const PatternSet& input, const std::vector<PatternSet>& parts) {
    ASSERT_EQ(parts.size(), 2u);
    std::vector<int> seen(input->size(), 0);
    for (const auto& part : parts) {
        ASSERT_NE(part, nullptr);
        int previous = -1;
        for (const auto& pattern : *part) {
            const int position = pattern->Class();
            ASSERT_GE(position, 0);
            ASSERT_LT(position, static_cast<int>(input->size()));
            EXPECT_EQ(pattern, (*input)[position]);
            EXPECT_GT(position, previous);
            previous = position;
            ++seen[position];
        }
    }
    for (int count : seen) {
        EXPECT_EQ(count, 1);
    }
}

TEST(Sampling, SizesFollowTheTruncatedFraction) {
    struct Case {
        int n;
        double fraction;
        std::size_t first;
        std::size_t second;
    };
    const Case cases[] = {{0, 0.5, 0, 0},  {1, 0.5, 0, 1},   {5, 0.5, 2, 3},
                          {11, 0.5, 5, 6}, {5, 1.0, 5, 0},   {5, 0.0, 0, 5},
                          {3, 0.9, 2, 1},  {10, 0.25, 2, 8}, {1, 1.0, 1, 0}};
    util::Seed(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << " patterns, fraction " << c.fraction);
        const PatternSet input = MakeSet(c.n);
        const auto parts = Sampling::Split(input, c.fraction);
        ASSERT_EQ(parts.size(), 2u);
        EXPECT_EQ(parts[0]->size(), c.first);
        EXPECT_EQ(parts[1]->size(), c.second);
        ExpectPartition(input, parts);
    }
}

TEST(Sampling, InputSetIsLeftUnchanged) {
    const PatternSet input = MakeSet(9);
    const PatternList before = *input;
    Sampling::Split(input, 0.5);
    EXPECT_EQ(*input, before);
}

TEST(Sampling, SeedMakesTheSplitReproducible) {
    const PatternSet input = MakeSet(40);
    util::Seed(11);
    const auto first = Sampling::Split(input, 0.5);
    util::Seed(11);
    const auto again = Sampling::Split(input, 0.5);
    EXPECT_EQ(Positions(first[0]), Positions(again[0]));
    EXPECT_EQ(Positions(first[1]), Positions(again[1]));
}

TEST(Sampling, ConsecutiveSplitsContinueOneSequence) {
    const PatternSet input = MakeSet(40);
    util::Seed(11);
    const auto first = Sampling::Split(input, 0.5);
    const auto second = Sampling::Split(input, 0.5);
    // A split that reseeded (or restarted the sequence) would repeat the first selection.
    EXPECT_NE(Positions(first[0]), Positions(second[0]));
    ExpectPartition(input, second);
}

TEST(Sampling, EveryPatternIsEquallyLikelyToBeDrawn) {
    const int n = 10;
    const int rounds = 4000;
    const PatternSet input = MakeSet(n);
    std::vector<int> drawn(n, 0);
    util::Seed(29);
    for (int round = 0; round < rounds; ++round) {
        const auto parts = Sampling::Split(input, 0.3);
        for (const auto& pattern : *parts[0]) {
            ++drawn[pattern->Class()];
        }
    }
    for (int count : drawn) {
        EXPECT_NEAR(count, rounds * 0.3, 120);
    }
}

TEST(Sampling, LargeSetFinishesAndReachesHighPositions) {
    const int n = 100000;
    const PatternSet input = MakeSet(n);
    util::Seed(31);
    const auto parts = Sampling::Split(input, 0.5);
    ASSERT_EQ(parts[0]->size(), 50000u);
    ASSERT_EQ(parts[1]->size(), 50000u);
    ExpectPartition(input, parts);
    // Positions above 32767 are out of reach of a single draw on generators with a small
    // RAND_MAX; about half of them must be drawn.
    int highDrawn = 0;
    for (const auto& pattern : *parts[0]) {
        highDrawn += pattern->Class() >= 32768 ? 1 : 0;
    }
    EXPECT_NEAR(highDrawn, (n - 32768) / 2, 1000);
    EXPECT_GE(parts[0]->back()->Class(), n - 100);
}

TEST(Sampling, RejectsBadArguments) {
    const PatternSet input = MakeSet(4);
    EXPECT_THROW(Sampling::Split(input, -0.1), std::invalid_argument);
    EXPECT_THROW(Sampling::Split(input, 1.5), std::invalid_argument);
    EXPECT_THROW(Sampling::Split(input, std::numeric_limits<double>::quiet_NaN()),
                 std::invalid_argument);
    EXPECT_THROW(Sampling::Split(nullptr, 0.5), std::invalid_argument);
}

}  // namespace
}  // namespace velkar::patternrecognition
