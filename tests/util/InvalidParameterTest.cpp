#include "velkar/util/InvalidParameter.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

using velkar::util::InvalidParameter;

// The class's own message, the placeholders of the rule with their own names, and the values as
// messages quote them.
TEST(InvalidParameterTest, MessageNamesTheParametersAndTheRule) {
    struct Case {
        std::vector<std::string> parameters;
        std::vector<std::string> values;
        std::string rule;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"windowSize"},
         {"0"},
         "at least 1",
         "C: invalid value for parameter 'windowSize': 0 (at least 1)"},
        {{"a", "b"},
         {"1", "2"},
         "{a} x {--b} too big",
         "C: invalid values for parameters 'a' and 'b': 1 and 2 (a x b too big)"},
        {{"a", "b", "c"},
         {"1", "2", "3"},
         "unclosed {a",
         "C: invalid values for parameters 'a', 'b' and 'c': 1, 2 and 3 (unclosed {a)"},
    };
    for (const Case& c : cases) {
        const InvalidParameter error("C", c.parameters, c.values, c.rule);
        EXPECT_EQ(error.what(), c.message);
        EXPECT_EQ(error.Parameters(), c.parameters);
        EXPECT_EQ(error.Values(), c.values);
    }
    const InvalidParameter renamed("C", "a", "1", "{a}, {--b} and {}");
    EXPECT_EQ(renamed.Rule([](const std::string& name) { return "<" + name + ">"; }),
              "<a>, <--b> and <>");

    EXPECT_EQ(InvalidParameter::Text(0.5), "0.5");
    EXPECT_EQ(InvalidParameter::Text(1.2e7), "1.2e+07");
    EXPECT_EQ(InvalidParameter::Text(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(InvalidParameter::Text(std::vector<int>{4, -3, 0}), "4,-3,0");
    EXPECT_EQ(InvalidParameter::Text(std::vector<int>{}), "");
}

}  // namespace
