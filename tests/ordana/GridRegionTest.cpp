#include "ordana/GridRegion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ordana/InputError.h"
#include "velkar/featureextraction/WindowGrid.h"

namespace {

using velkar::featureextraction::WindowGrid;
using velkar::ordana::GridRegion;

// Cuts [0, size) at random places into pieces of at least one pixel.
std::vector<std::pair<int, int>> RandomCuts(int size, int pieces, std::mt19937& random) {
    std::set<int> cuts = {0, size};
    while (static_cast<int>(cuts.size()) < std::min(pieces, size) + 1) {
        cuts.insert(std::uniform_int_distribution<int>(1, size - 1)(random));
    }
    std::vector<std::pair<int, int>> spans;
    for (auto at = cuts.begin(); std::next(at) != cuts.end(); ++at) {
        spans.emplace_back(*at, *std::next(at) - *at);
    }
    return spans;
}

// Regions that tile an image hold every window of the whole grid once, each region in the whole
// grid's order, and their map areas tile the map, each holding the squares its windows paint.
TEST(GridRegionTest, RegionsThatTileAnImageShareOutItsWindowsAndItsMap) {
    std::mt19937 random(27);
    for (int trial = 0; trial < 300; ++trial) {
        const int width = std::uniform_int_distribution<int>(1, 60)(random);
        const int height = std::uniform_int_distribution<int>(1, 60)(random);
        const int windowSize = std::uniform_int_distribution<int>(1, 12)(random);
        const int step = std::uniform_int_distribution<int>(1, windowSize)(random);
        const int offset = (windowSize - step) / 2;
        const WindowGrid whole(windowSize, step, width, height);
        std::vector<std::pair<int, int>> expected;
        for (std::size_t i = 0; i < whole.Count(); ++i) {
            expected.emplace_back(whole.X(i), whole.Y(i));
        }
        std::vector<std::pair<int, int>> found;
        std::vector<int> owners(static_cast<std::size_t>(width * height), 0);
        const auto columns = RandomCuts(width, 4, random);
        const auto rows = RandomCuts(height, 4, random);
        for (const auto& [x, w] : columns) {
            for (const auto& [y, h] : rows) {
                const GridRegion region({x, y, w, h}, windowSize, step, width, height);
                const auto map = region.MapArea();
                for (int i = map.x; i < map.x + map.width; ++i) {
                    for (int j = map.y; j < map.y + map.height; ++j) {
                        ++owners[static_cast<std::size_t>(j * width + i)];
                    }
                }
                std::vector<std::pair<int, int>> own;
                for (std::size_t i = 0; i < region.Count(); ++i) {
                    const int wx = region.X(i);
                    const int wy = region.Y(i);
                    own.emplace_back(wx, wy);
                    ASSERT_TRUE(wx >= x && wx < x + w && wy >= y && wy < y + h);
                    ASSERT_TRUE(wx + offset >= map.x && wx + offset + step <= map.x + map.width &&
                                wy + offset >= map.y && wy + offset + step <= map.y + map.height)
                        << "trial " << trial;
                }
                ASSERT_TRUE(std::is_sorted(own.begin(), own.end())) << "trial " << trial;
                found.insert(found.end(), own.begin(), own.end());
            }
        }
        std::sort(found.begin(), found.end());
        ASSERT_EQ(found, expected) << "trial " << trial;
        ASSERT_EQ(std::count(owners.begin(), owners.end(), 1), width * height)
            << "trial " << trial;
    }
}

TEST(GridRegionTest, TheWholeImageIsTheWholeGridAndMap) {
    const GridRegion region(5, 2, 23, 17);
    const WindowGrid whole(5, 2, 23, 17);
    EXPECT_TRUE(region.IsWholeImage());
    ASSERT_EQ(region.Count(), whole.Count());
    for (std::size_t i = 0; i < whole.Count(); ++i) {
        EXPECT_EQ(std::make_pair(region.X(i), region.Y(i)), std::make_pair(whole.X(i), whole.Y(i)));
    }
    const auto map = region.MapArea();
    EXPECT_EQ(std::vector<int>({map.x, map.y, map.width, map.height}),
              std::vector<int>({0, 0, 23, 17}));
}

TEST(GridRegionTest, ParsesRectanglesInsideTheImageAndRefusesOthers) {
    const std::vector<std::pair<std::string, std::vector<int>>> good = {
        {"0,0,40,30", {0, 0, 40, 30}}, {"39,29,1,1", {39, 29, 1, 1}}, {"5,6,7,8", {5, 6, 7, 8}}};
    for (const auto& [text, expected] : good) {
        const auto area = GridRegion::Parse(text, 40, 30);
        EXPECT_EQ(std::vector<int>({area.x, area.y, area.width, area.height}), expected) << text;
    }
    const std::vector<std::string> bad = {"",        "1,2,3",     "1,2,3,4,5", "a,0,1,1",
                                          "0,0,0,1", "-1,0,1,1",  "0,0,41,1",  "39,0,2,1",
                                          "0,0,1,",  "0,0,1,1 ",  "0,,1,1",    "0,0,1,99999999999"};
    for (const std::string& text : bad) {
        try {
            GridRegion::Parse(text, 40, 30);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const velkar::ordana::InputError& error) {
            EXPECT_NE(std::string(error.what()).find("'--region'"), std::string::npos) << text;
        }
    }
}

}  // namespace
