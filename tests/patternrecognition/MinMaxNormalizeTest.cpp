#include "velkar/patternrecognition/MinMaxNormalize.h"

#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
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
    // The maximum starts at the smallest positive normal double, which an all-negative or
    // all-zero component never exceeds.
    EXPECT_EQ(Values(*range.max), (std::vector<double>{3.0, tiny, 5.0, tiny}));

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
    EXPECT_EQ(Values(*range.max), (std::vector<double>{4.0, tiny, tiny}));
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
