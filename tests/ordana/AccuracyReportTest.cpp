#include "ordana/AccuracyReport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

using velkar::ordana::ConfusionMatrix;

TEST(AccuracyReportTest, FiguresOfAHandComputedMatrix) {
    ConfusionMatrix matrix(4);
    // Row A: 5 right, 1 taken for B, 1 unknown; row B: 4 right, 2 taken for A; row C: 3 right,
    // 1 taken for B; class D has no test window and is never predicted.
    for (const auto& [trueClass, predicted, times] : std::vector<std::tuple<int, int, int>>{
             {0, 0, 5}, {0, 1, 1}, {0, -1, 1}, {1, 1, 4}, {1, 0, 2}, {2, 2, 3}, {2, 1, 1}}) {
        for (int i = 0; i < times; ++i) {
            matrix.Add(trueClass, predicted);
        }
    }
    EXPECT_EQ(matrix.Total(), 17);
    EXPECT_EQ(matrix.Count(0, 4), 1);
    EXPECT_DOUBLE_EQ(*matrix.Recall(0), 5.0 / 7.0);
    EXPECT_DOUBLE_EQ(*matrix.Recall(1), 4.0 / 6.0);
    EXPECT_DOUBLE_EQ(*matrix.Recall(2), 3.0 / 4.0);
    EXPECT_DOUBLE_EQ(*matrix.Precision(0), 5.0 / 7.0);
    EXPECT_DOUBLE_EQ(*matrix.Precision(1), 4.0 / 6.0);
    EXPECT_DOUBLE_EQ(*matrix.Precision(2), 1.0);
    EXPECT_FALSE(matrix.Recall(3));
    EXPECT_FALSE(matrix.Precision(3));
    EXPECT_DOUBLE_EQ(*matrix.OverallAccuracy(), 12.0 / 17.0);
    // Chance agreement (7 * 7 + 6 * 6 + 4 * 3) / 17^2 = 97 / 289; kappa = 107 / 192.
    EXPECT_DOUBLE_EQ(*matrix.Kappa(), 107.0 / 192.0);

    std::ostringstream text;
    text.precision(15);
    matrix.Write(text, "window split", {"A", "B", "C", "D"});
    const std::string written = text.str();
    for (const std::string line :
         {"[window split]\n", "test windows: 17\n", "true\\predicted\tA\tB\tC\tD\tunknown\n",
          "A\t5\t1\t0\t0\t1\n", "B\t2\t4\t0\t0\t0\n", "C\t0\t1\t3\t0\t0\n", "D\t0\t0\t0\t0\t0\n",
          "C\t0.75\t1\n", "D\tn/a\tn/a\n", "overall accuracy: 0.705882352941177\n",
          "kappa: 0.557291666666667\n"}) {
        EXPECT_NE(written.find(line), std::string::npos) << line << "\n" << written;
    }
}

TEST(AccuracyReportTest, UndefinedFiguresAreNotMadeUp) {
    const ConfusionMatrix empty(2);
    EXPECT_FALSE(empty.OverallAccuracy());
    EXPECT_FALSE(empty.Kappa());
    // One class answered perfectly: chance agreement is 1, kappa undefined.
    ConfusionMatrix single(2);
    single.Add(0, 0);
    single.Add(0, 0);
    EXPECT_DOUBLE_EQ(*single.OverallAccuracy(), 1.0);
    EXPECT_FALSE(single.Kappa());
    EXPECT_THROW(single.Add(2, 0), std::out_of_range);
}

}  // namespace
