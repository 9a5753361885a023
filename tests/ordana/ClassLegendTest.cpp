#include "ordana/ClassLegend.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using velkar::ordana::ClassLegend;

// Rows from counts: colours as the class map paints them, shares of the image, areas from the
// pixel area when it is known, and the unknown row taking the unpainted pixels.
TEST(ClassLegendTest, RowsFollowTheCounts) {
    struct Case {
        std::vector<std::string> colours;
        std::vector<long long> pixels;
        long long imagePixels;
        std::optional<double> pixelArea;
        std::vector<std::string> expectedColours;
        std::vector<long long> expectedPixels;
        std::vector<double> expectedShares;
    };
    const std::vector<Case> cases = {
        {{"#ff0000", "0 0 255"},
         {30, 50},
         100,
         4.0,
         {"#ff0000", "#0000ff", ""},
         {30, 50, 20},
         {0.3, 0.5, 0.2}},
        // A colour line that names no colour takes the palette's colour of the class.
        {{"", "amber"},
         {0, 10},
         10,
         std::nullopt,
         {"#ffb300", "#803e75", ""},
         {0, 10, 0},
         {0.0, 1.0, 0.0}},
    };
    for (const Case& c : cases) {
        const ClassLegend legend({"a", "b"}, c.colours, {3, 5}, 7, c.pixels, c.imagePixels,
                                 c.pixelArea);
        ASSERT_EQ(legend.Rows().size(), 3u);
        for (std::size_t r = 0; r < 3; ++r) {
            const auto& row = legend.Rows()[r];
            EXPECT_EQ(row.name, std::vector<std::string>({"a", "b", "unknown"})[r]);
            EXPECT_EQ(row.colour, c.expectedColours[r]);
            EXPECT_EQ(row.windows, std::vector<long long>({3, 5, 7})[r]);
            EXPECT_EQ(row.pixels, c.expectedPixels[r]);
            EXPECT_DOUBLE_EQ(row.share, c.expectedShares[r]);
            EXPECT_EQ(row.area.has_value(), c.pixelArea.has_value());
            if (c.pixelArea) {
                EXPECT_DOUBLE_EQ(*row.area, static_cast<double>(c.expectedPixels[r]) * 4.0);
            }
        }
    }
}

TEST(ClassLegendTest, TextAlignsTheColumns) {
    const ClassLegend legend({"water", "urban"}, {"#0000ff", ""}, {12, 3}, 1, {1200, 25}, 1600,
                             0.25);
    EXPECT_EQ(legend.Text(),
              "class    colour   windows  pixels    area   share\n"
              "water    #0000ff       12    1200  300.00  75.00%\n"
              "urban    #803e75        3      25    6.25   1.56%\n"
              "unknown  -              1     375   93.75  23.44%\n");
}

}  // namespace
