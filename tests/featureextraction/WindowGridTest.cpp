#include "velkar/featureextraction/WindowGrid.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

namespace velkar::featureextraction {
namespace {

TEST(WindowGridTest, WindowsAreListedXMajorAndLieInsideTheImage) {
    struct Case {
        int windowSize;
        int step;
        int width;
        int height;
    };
    const std::vector<Case> cases{
        {
            20,
            20,
            100,
            60,
        },                  // 5 columns of 3
        {20, 10, 100, 60},  // 9 x 5
        {20, 1, 25, 25},    // 6 x 6
        {5, 7, 23, 12},     // a step larger than the window skips pixels
        {1, 1, 3, 2},
        {4, 2, 4, 4},
        {4, 2, 3, 9},
        {4, 2, 0, 0},
    };
    for (const Case& c : cases) {
        const WindowGrid grid(c.windowSize, c.step, c.width, c.height);
        std::vector<std::pair<int, int>> expected;
        for (int x = 0; x + c.windowSize <= c.width; x += c.step) {
            for (int y = 0; y + c.windowSize <= c.height; y += c.step) {
                expected.emplace_back(x, y);
            }
        }
        std::vector<std::pair<int, int>> listed;
        for (std::size_t index = 0; index < grid.Count(); ++index) {
            listed.emplace_back(grid.X(index), grid.Y(index));
        }
        EXPECT_EQ(listed, expected)
            << c.windowSize << " " << c.step << " " << c.width << " x " << c.height;
        if (grid.Count() > 0) {
            EXPECT_EQ(grid.Columns() * grid.Rows(), grid.Count());
            EXPECT_EQ(grid.Y(grid.Rows()), 0) << "column 1 starts at the top again";
        }
    }
    EXPECT_EQ(WindowGrid(20, 20, 100, 60).Count(), 15u);
    EXPECT_EQ(WindowGrid(20, 10, 100, 60).Count(), 45u);
    EXPECT_EQ(WindowGrid(20, 1, 25, 25).Count(), 36u);
}

TEST(WindowGridTest, LargeGridsCountWithoutOverflow) {
    const WindowGrid grid(1, 1, 60000, 60000);
    EXPECT_EQ(grid.Count(), 3600000000u);
    EXPECT_EQ(grid.X(grid.Count() - 1), 59999);
    EXPECT_EQ(grid.Y(grid.Count() - 1), 59999);
}

TEST(WindowGridTest, BadSettingsAreRejected) {
    for (const auto& [windowSize, step, width, height] :
         std::vector<std::tuple<int, int, int, int>>{
             {0, 1, 10, 10}, {3, 0, 10, 10}, {-2, 1, 10, 10}, {3, 1, -1, 10}, {3, 1, 10, -5}}) {
        EXPECT_THROW(WindowGrid(windowSize, step, width, height), std::invalid_argument)
            << windowSize << " " << step << " " << width << " " << height;
    }
}

}  // namespace
}  // namespace velkar::featureextraction
