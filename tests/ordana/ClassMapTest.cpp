#include "ordana/ClassMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/TemporaryFolder.h"
#include "velkar/featureextraction/WindowGrid.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/IndexedImage.h"
#include "velkar/imageprocessing/PictureScaling.h"

namespace {

using velkar::ordana::ClassMap;
using Colour = ClassMap::Colour;

TEST(ClassMapTest, ColourLinesThatNameAColour) {
    const std::vector<std::pair<std::string, std::optional<Colour>>> cases = {
        {"#ff8000", Colour{255, 128, 0}},
        {"  #0A0b0C ", Colour{10, 11, 12}},
        {"255 128 0", Colour{255, 128, 0}},
        {"1,2,3", Colour{1, 2, 3}},
        {"1, 2, 3", Colour{1, 2, 3}},
        {"[255,128,0]", Colour{255, 128, 0}},
        {"(0 0 0)", Colour{0, 0, 0}},
        {"#ff80", std::nullopt},
        {"#gg0000", std::nullopt},
        {"1 2", std::nullopt},
        {"1 2 3 4", std::nullopt},
        {"1,2,,3", std::nullopt},
        {"256 0 0", std::nullopt},
        {"-1 0 0", std::nullopt},
        {"red", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [line, colour] : cases) {
        EXPECT_EQ(ClassMap::ParseColour(line), colour) << "'" << line << "'";
    }
    // Lines that name no colour take distinct palette colours, none of them black.
    std::vector<Colour> chosen;
    for (std::size_t c = 0; c < 12; ++c) {
        const Colour colour = ClassMap::ClassColour(c, "forest green");
        EXPECT_NE(colour, (Colour{0, 0, 0}));
        EXPECT_EQ(std::count(chosen.begin(), chosen.end(), colour), 0) << c;
        chosen.push_back(colour);
    }
}

// Windows painted strip by strip over a grid, against the squares painted straight into one
// picture: the PNG holds the same pixels whatever the strips, and the GeoTIFF is gone with the
// map. The pixel counts of the page's legend are the picture's, and its preview holds the
// picture's pixel under the centre of each of its own (maps wider than the preview's side are
// scaled).
TEST(ClassMapTest, StripsPaintTheSquaresOfOnePicture) {
    struct Case {
        int width;
        int height;
        int windowSize;
        int step;
        int columnsPerStrip;
    };
    const std::vector<Case> cases = {
        {10, 8, 6, 2, 1},       {10, 8, 6, 2, 3},       {37, 23, 5, 5, 2}, {37, 23, 7, 3, 4},
        {40, 9, 4, 1, 7},       {7000, 120, 40, 20, 37}, {6500, 70, 9, 3, 50}};
    const std::vector<std::string> classes = {"a", "b", "c"};
    const std::vector<std::string> colours = {"#010203", "nonsense", "9 8 7"};
    std::mt19937 random(12);
    for (const Case& c : cases) {
        testsupport::TemporaryFolder folder;
        const velkar::featureextraction::WindowGrid grid(c.windowSize, c.step, c.width, c.height);
        velkar::imageprocessing::IndexedImage expected(c.width, c.height);
        std::vector<int> answers(grid.Count());
        for (std::size_t i = 0; i < grid.Count(); ++i) {
            // -1 and 3 are no class and paint nothing.
            answers[i] = static_cast<int>(random() % 5) - 1;
            if (answers[i] >= 0 && answers[i] < 3) {
                const int offset = (c.windowSize - c.step) / 2;
                expected.Fill(grid.X(i) + offset, grid.Y(i) + offset, c.step, c.step,
                              static_cast<unsigned char>(answers[i] + 1));
            }
        }
        const std::string png = (folder / "map.png").string();
        {
            ClassMap map((folder / "map.tif").string(), c.width, c.height, c.windowSize, c.step,
                         classes, colours);
            const std::size_t rows = grid.Rows();
            for (std::size_t column = 0; column < grid.Columns(); column += c.columnsPerStrip) {
                const std::size_t last = std::min(grid.Columns(), column + c.columnsPerStrip) - 1;
                map.BeginStrip(grid.X(column * rows), grid.X(last * rows), grid.Y(column * rows),
                               grid.Y(column * rows + rows - 1));
                for (std::size_t i = column * rows; i < (last + 1) * rows; ++i) {
                    map.Paint(grid.X(i), grid.Y(i), answers[i]);
                }
                map.EndStrip();
            }
            std::vector<long long> pixels(classes.size(), 0);
            for (int y = 0; y < c.height; ++y) {
                for (int x = 0; x < c.width; ++x) {
                    if (expected.Index(x, y) > 0) {
                        ++pixels[expected.Index(x, y) - 1u];
                    }
                }
            }
            EXPECT_EQ(map.PixelCounts(), pixels) << c.width << " x " << c.height;
            const auto size =
                velkar::imageprocessing::FitWithin(c.width, c.height, ClassMap::kPreviewSide);
            const auto& preview = map.Preview();
            ASSERT_EQ(preview.Width(), size.width);
            ASSERT_EQ(preview.Height(), size.height);
            for (int py = 0; py < size.height; ++py) {
                for (int px = 0; px < size.width; ++px) {
                    const int x = static_cast<int>((px + 0.5) * c.width / size.width);
                    const int y = static_cast<int>((py + 0.5) * c.height / size.height);
                    ASSERT_EQ(preview.Index(px, py), expected.Index(x, y))
                        << px << ", " << py << " in the case of " << c.width << " x " << c.height;
                }
            }
            EXPECT_EQ(map.Write(png), png);
        }
        EXPECT_EQ(folder.FileNames(), std::vector<std::string>{"map.png"});
        const velkar::imageprocessing::ImageFileSystem picture(png);
        ASSERT_EQ(picture.Width(), c.width);
        ASSERT_EQ(picture.Height(), c.height);
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const int index = expected.Index(x, y);
                const Colour colour =
                    index == 0 ? Colour{0, 0, 0}
                               : ClassMap::ClassColour(static_cast<std::size_t>(index - 1),
                                                       colours[static_cast<std::size_t>(index - 1)]);
                ASSERT_EQ((Colour{picture.Pixel(x, y, 0), picture.Pixel(x, y, 1),
                                  picture.Pixel(x, y, 2)}),
                          colour)
                    << x << ", " << y << " in the case of " << c.width << " x " << c.height;
            }
        }
    }
}

}  // namespace
