#include "ordana/SceneRaster.h"

#include <gtest/gtest.h>

#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"

namespace {

using velkar::ordana::SceneRaster;

// Any rectangle of a picture, the whole of it included, gives the picture's levels there and its
// origin in the file, on a picture of odd size.
TEST(SceneRasterTest, RectanglesOfAPictureHoldItsLevels) {
    ordanatest::TemporaryFolder folder;
    const auto path = folder / "scene.png";
    const auto colour = [](int x, int y) {
        return ordanatest::Rgb((x * 7 + y) % 256, (x + y * 13) % 256, (x * y) % 256);
    };
    ASSERT_TRUE(ordanatest::WriteImage(path, 37, 23, colour));
    const SceneRaster scene(path.string());
    ASSERT_TRUE(scene.HeldWhole());
    const std::vector<velkar::imageprocessing::RasterFile::Rectangle> areas = {
        {0, 0, 37, 23}, {0, 0, 36, 23}, {5, 3, 10, 20}, {36, 22, 1, 1}, {0, 7, 37, 1}};
    for (const auto& area : areas) {
        const auto image = scene.Read(area);
        ASSERT_EQ(image->Width(), area.width);
        ASSERT_EQ(image->Height(), area.height);
        EXPECT_EQ(image->OriginX(), area.x);
        EXPECT_EQ(image->OriginY(), area.y);
        for (int y = 0; y < area.height; ++y) {
            for (int x = 0; x < area.width; ++x) {
                const auto expected = colour(area.x + x, area.y + y);
                for (int band = 0; band < 3; ++band) {
                    ASSERT_EQ(image->Pixel(x, y, band), expected[band])
                        << area.x << ", " << area.y << ", " << area.width << " x " << area.height
                        << " at " << x << ", " << y;
                }
            }
        }
    }
}

}  // namespace
