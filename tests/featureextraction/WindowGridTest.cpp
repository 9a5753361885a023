#include "velkar/featureextraction/WindowGrid.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

namespace velkar::featureextraction {
namespace {

TEST(WindowGridTest, WindowsAreListedXMajorInsideTheImage) {
    // Window size, step, width, height: 5 columns of 3; 9 x 5; 6 x 6; a step larger than the
    // window; images too small for a window.
    using Settings = std::tuple<int, int, int, int>;
    for (const auto& [w, step, width, height] : std::vector<Settings>{{20, 20, 100, 60},
                                                                      {20, 10, 100, 60},
                                                                      {20, 1, 25, 25},
                                                                      {5, 7, 23, 12},
                                                                      {1, 1, 3, 2},
                                                                      {4, 2, 3, 9},
                                                                      {4, 2, 9, 3},
                                                                      {4, 2, 0, 0}}) {
        const WindowGrid grid(w, step, width, height);
        std::vector<std::pair<int, int>> expected;
        std::vector<std::pair<int, int>> listed;
        for (int x = 0; x + w <= width; x += step) {
            for (int y = 0; y + w <= height; y += step) {
                expected.emplace_back(x, y);
            }
        }
        for (std::size_t index = 0; index < grid.Count(); ++index) {
            listed.emplace_back(grid.X(index), grid.Y(index));
        }
        EXPECT_EQ(listed, expected) << w << " " << step << " " << width << " x " << height;
        EXPECT_EQ(grid.Columns() * grid.Rows(), grid.Count());
    }
    const WindowGrid large(1, 1, 60000, 60000);
    EXPECT_EQ(large.Count(), 3600000000u);
    EXPECT_EQ(std::make_pair(large.X(large.Count() - 1), large.Y(large.Count() - 1)),
              std::make_pair(59999, 59999));

    for (const auto& [w, step, width, height] : std::vector<Settings>{
             {0, 1, 10, 10}, {3, 0, 10, 10}, {-2, 1, 10, 10}, {3, 1, -1, 10}, {3, 1, 10, -5}}) {
        EXPECT_THROW(WindowGrid(w, step, width, height), std::invalid_argument)
            << w << " " << step << " " << width << " " << height;
    }
}

}  // namespace
}  // namespace velkar::featureextraction
