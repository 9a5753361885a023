#include "velkar/patternrecognition/TrainingSetCheck.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ClassifierTestSupport.h"

namespace velkar::patternrecognition {
namespace {

using classifiertest::MakeSet;
using classifiertest::ThrownMessage;

// The two-step check with a per-pattern rule that refuses class 9, as a classifier with a
// class range would.
std::string Checked(const PatternSet& patterns) {
    return ThrownMessage([&] {
        const std::size_t length = FirstPatternLength(patterns, "Owner");
        CheckPatternFeatures(patterns, "Owner", length, [](std::size_t i, const Pattern& pattern) {
            if (pattern.Class() == 9) {
                throw std::invalid_argument("class of pattern " + std::to_string(i));
            }
        });
    });
}

TEST(TrainingSetCheck, TwoStepsNameTheFirstFaultOfTheFirstBadPattern) {
    PatternSet missing = MakeSet({{1, {1.0}}, {1, {2.0}}});
    (*missing)[1].reset();
    const double nan = std::nan("");
    const std::vector<std::pair<PatternSet, std::string>> cases = {
        {nullptr, "Owner: Train needs at least one pattern"},
        {MakeSet({}), "Owner: Train needs at least one pattern"},
        {missing, "Owner: pattern 1 is missing"},
        {MakeSet({{1, {1.0, 2.0}}, {9, {1.0}}}),
         "Owner: pattern 1 has 1 features, the first has 2"},
        // The per-pattern rule runs after the length and before the values are looked at.
        {MakeSet({{1, {1.0}}, {9, {nan}}}), "class of pattern 1"},
        {MakeSet({{1, {1.0, nan}}, {9, {1.0, 2.0}}}),
         "Owner: feature 1 of pattern 0 is not finite"},
        {MakeSet({{1, {}}, {2, {}}}), "<nothing thrown>"},
    };
    for (const auto& [patterns, message] : cases) {
        EXPECT_EQ(Checked(patterns), message);
    }
    EXPECT_EQ(FirstPatternLength(MakeSet({{1, {1.0, 2.0, 3.0}}}), "Owner"), 3u);
}

}  // namespace
}  // namespace velkar::patternrecognition
