#include "velkar/patternrecognition/MinMaxNormalize.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace velkar::patternrecognition {
namespace {

constexpr double tiny = std::numeric_limits<double>::min();

std::shared_ptr<RealVector> Make(const std::vector<double>& values) {
    auto vector = std::make_shared<RealVector>(values.size(), 0.0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        (*vector)(i) = values[i];
    }
    return vector;
}

std::vector<double> Values(const RealVector& vector) {
    return std::vector<double>(vector.begin(), vector.end());
}

TEST(MinMaxNormalize, ScalesEachComponentAndReturnsItsRange) {
    // Components: an ordinary one, an all-negative one, a constant one and an all-zero one.
    std::vector<std::shared_ptr<RealVector>> inputs{
        Make({1.0, -3.0, 5.0, 0.0}), Make({3.0, -1.0, 5.0, 0.0}), Make({2.0, -2.0, 5.0, 0.0})};
    const MinMaxRange range = MinMaxNormalize(inputs);

    EXPECT_EQ(Values(*range.min), (std::vector<double>{1.0, -3.0, 5.0, 0.0}));
    // The maximum starts at the smallest positive normal double, which an all-negative
    // component never exceeds; a constant component's maximum is its minimum.
    EXPECT_EQ(Values(*range.max), (std::vector<double>{3.0, tiny, 5.0, 0.0}));

    EXPECT_EQ(Values(*inputs[0]), (std::vector<double>{0.0, 0.0, 0.0, 0.0}));
    EXPECT_EQ(Values(*inputs[1])[0], 1.0);
    EXPECT_EQ(Values(*inputs[2])[0], 0.5);
    EXPECT_DOUBLE_EQ((*inputs[1])(1), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ((*inputs[2])(1), 1.0 / 3.0);
    for (const auto& input : inputs) {
        EXPECT_EQ((*input)(2), 0.0) << "a constant component scales to 0, not 0/0";
        EXPECT_EQ((*input)(3), 0.0);
    }
}

TEST(MinMaxNormalize, SingleVectorScalesToZeros) {
    std::vector<std::shared_ptr<RealVector>> inputs{Make({4.0, -2.0, 0.0})};
    const MinMaxRange range = MinMaxNormalize(inputs);
    EXPECT_EQ(Values(*inputs[0]), (std::vector<double>{0.0, 0.0, 0.0}));
    EXPECT_EQ(Values(*range.min), (std::vector<double>{4.0, -2.0, 0.0}));
    EXPECT_EQ(Values(*range.max), (std::vector<double>{4.0, -2.0, 0.0}));
}

// Seeded random sets whose components are constant (0, negative, positive or subnormal) or
// vary (all negative, mixed, tiny), against a direct computation of the rule: both vector kinds
// give its range and scaled values, and a later value of a constant component scales to 0.
TEST(MinMaxNormalize, MatchesTheRuleOnRandomSetsAndKeepsConstantsAtZero) {
    std::mt19937 random(2024);
    const std::vector<std::pair<double, double>> kinds = {
        {0.0, 0.0},   {-5.0, -5.0}, {7.5, 7.5},  {4e-320, 4e-320},
        {-9.0, -1.0}, {-2.0, 3.0},  {1e-9, 3e-9}};
    for (int trial = 0; trial < 20; ++trial) {
        const int rows = 1 + trial % 5;
        std::vector<std::pair<double, double>> columns;
        for (int c = 0; c < 6; ++c) {
            columns.push_back(kinds[random() % kinds.size()]);
        }
        std::vector<std::vector<double>> plain(static_cast<std::size_t>(rows));
        std::vector<std::shared_ptr<RealVector>> shared;
        for (auto& row : plain) {
            for (const auto& [low, high] : columns) {
                row.push_back(std::uniform_real_distribution<double>(low, high)(random));
            }
            shared.push_back(Make(row));
        }
        std::vector<double> min;
        std::vector<double> max;
        std::vector<double> spread;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            double low = plain[0][c];
            double high = plain[0][c];
            for (const auto& row : plain) {
                low = std::min(low, row[c]);
                high = std::max(high, row[c]);
            }
            min.push_back(low);
            max.push_back(high == low ? low : std::max(high, tiny));
        }
        const std::vector<std::vector<double>> original = plain;
        std::vector<double> plainMin;
        std::vector<double> plainMax;
        MinMaxNormalize(plain, plainMin, plainMax);
        const MinMaxRange range = MinMaxNormalize(shared);
        EXPECT_EQ(plainMin, min);
        EXPECT_EQ(plainMax, max);
        EXPECT_EQ(Values(*range.min), min);
        EXPECT_EQ(Values(*range.max), max);
        for (std::size_t r = 0; r < plain.size(); ++r) {
            for (std::size_t c = 0; c < columns.size(); ++c) {
                const double span = max[c] - min[c];
                const double expected = span == 0.0 ? 0.0 : (original[r][c] - min[c]) / span;
                EXPECT_EQ(plain[r][c], expected) << trial << " " << r << " " << c;
                EXPECT_EQ((*shared[r])(c), expected) << trial << " " << r << " " << c;
            }
        }
        std::vector<double> later(columns.size(), 30.0);
        ScaleToRange(later, plainMin, plainMax);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            EXPECT_TRUE(std::isfinite(later[c])) << trial << " " << c;
            if (columns[c].first == columns[c].second) {
                EXPECT_EQ(later[c], 0.0) << trial << " " << c;
            }
        }
    }
}

TEST(MinMaxNormalize, EmptyListGivesAnEmptyRange) {
    std::vector<std::shared_ptr<RealVector>> inputs;
    const MinMaxRange range = MinMaxNormalize(inputs);
    EXPECT_EQ(range.min->size(), 0u);
    EXPECT_EQ(range.max->size(), 0u);
}

TEST(MinMaxNormalize, StoredRangeScalesNewVectorsWithoutClipping) {
    const RealVector min = *Make({1.0, -3.0, 5.0});
    const RealVector max = *Make({3.0, tiny, 5.0});
    RealVector values = *Make({5.0, -4.5, 7.0});
    ScaleToRange(values, min, max);
    EXPECT_EQ(values(0), 2.0);
    EXPECT_DOUBLE_EQ(values(1), -0.5);
    EXPECT_EQ(values(2), 0.0) << "a constant component scales to 0 whatever the new value";

    RealVector below = *Make({0.0, -3.0, 5.0});
    ScaleToRange(below, min, max);
    EXPECT_EQ(below(0), -0.5);
    EXPECT_EQ(below(1), 0.0);
}

TEST(MinMaxNormalize, RejectsMismatchedLengths) {
    std::vector<std::shared_ptr<RealVector>> unequal{Make({1.0, 2.0}), Make({1.0})};
    EXPECT_THROW(MinMaxNormalize(unequal), std::invalid_argument);
    std::vector<std::shared_ptr<RealVector>> missing{Make({1.0}), nullptr};
    EXPECT_THROW(MinMaxNormalize(missing), std::invalid_argument);

    RealVector values = *Make({1.0, 2.0});
    EXPECT_THROW(ScaleToRange(values, *Make({0.0}), *Make({1.0})), std::invalid_argument);
    EXPECT_THROW(ScaleToRange(values, *Make({0.0, 0.0}), *Make({1.0})), std::invalid_argument);
}

}  // namespace
}  // namespace velkar::patternrecognition
