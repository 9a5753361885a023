#include "ordana/PageContent.h"

#include <gtest/gtest.h>

#include <ogr_spatialref.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "common/RasterFiles.h"
#include "common/TemporaryFolder.h"
#include "velkar/imageprocessing/PictureScaling.h"

namespace {

using velkar::ordana::PageSetting;
using velkar::ordana::SceneRaster;

// The picture computed from the whole scene at once: every input pixel adds to the output pixel
// (x w / W, y h / H), absent pixels are left out.
velkar::ordana::RgbPicture WholeScenePicture(const SceneRaster& scene, int maxSide) {
    const auto whole = scene.Read({0, 0, scene.Width(), scene.Height()});
    const auto size = velkar::imageprocessing::FitWithin(scene.Width(), scene.Height(), maxSide);
    std::vector<double> sums(static_cast<std::size_t>(size.width) * size.height * 3, 0.0);
    std::vector<int> counts(static_cast<std::size_t>(size.width) * size.height, 0);
    for (int y = 0; y < scene.Height(); ++y) {
        for (int x = 0; x < scene.Width(); ++x) {
            if (whole->IsAbsent(x, y)) {
                continue;
            }
            const std::size_t cell =
                static_cast<std::size_t>(y * size.height / scene.Height()) * size.width +
                static_cast<std::size_t>(x * size.width / scene.Width());
            for (int c = 0; c < 3; ++c) {
                sums[cell * 3 + c] += whole->Pixel(x, y, scene.BandCount() >= 3 ? c : 0);
            }
            ++counts[cell];
        }
    }
    velkar::ordana::RgbPicture picture{size.width, size.height, {}};
    for (std::size_t cell = 0; cell < counts.size(); ++cell) {
        for (int c = 0; c < 3; ++c) {
            picture.rgb.push_back(static_cast<unsigned char>(
                counts[cell] == 0 ? 0 : std::floor(sums[cell * 3 + c] / counts[cell] + 0.5)));
        }
    }
    return picture;
}

// Scenes of 1, 3 and 4 bands, with and without absent pixels, scaled or not, read in strips of
// one row up to the whole scene: the picture is the one computed from the whole scene.
TEST(PageContentTest, ScenePictureReadInStripsIsTheWholeScenesAverage) {
    struct Case {
        int width;
        int height;
        int bands;
        bool noData;
        int maxSide;
        long long stripPixels;
    };
    const std::vector<Case> cases = {
        {50, 30, 3, false, 1600, 1 << 22}, {50, 30, 3, false, 17, 1},   {97, 61, 1, true, 23, 300},
        {61, 97, 4, true, 40, 5000},       {200, 3, 3, false, 64, 450}, {5, 240, 3, true, 31, 7},
    };
    std::mt19937 random(29);
    for (const Case& c : cases) {
        testsupport::TemporaryFolder folder;
        testsupport::RasterContent content;
        content.width = c.width;
        content.height = c.height;
        content.bands = c.bands;
        for (int i = 0; i < c.width * c.height * c.bands; ++i) {
            // Level 0 is the no-data value where there is one.
            content.samples.push_back(static_cast<double>(random() % 256));
        }
        if (c.noData) {
            content.noData = 0.0;
        }
        const std::string path = (folder / "scene.tif").string();
        ASSERT_TRUE(testsupport::WriteRaster(path, content));
        const SceneRaster scene(path);
        const auto expected = WholeScenePicture(scene, c.maxSide);
        const auto picture = velkar::ordana::ScenePicture(scene, c.maxSide, c.stripPixels);
        EXPECT_EQ(picture.width, expected.width);
        EXPECT_EQ(picture.height, expected.height);
        EXPECT_EQ(picture.rgb, expected.rgb) << c.width << " x " << c.height << ", " << c.bands
                                             << " bands, strips of " << c.stripPixels;
    }
}

TEST(PageContentTest, CommandLineSettingsTakeEachOptionWithItsWords) {
    const std::vector<std::pair<std::vector<std::string>, std::vector<PageSetting>>> cases = {
        {{}, {}},
        {{"stray", "--wca"}, {{"--wca", ""}}},
        {{"--image", "a b.png", "--mhidden", "20", "10", "--mlp"},
         {{"--image", "a b.png"}, {"--mhidden", "20 10"}, {"--mlp", ""}}},
        {{"--seed", "-1", "--", "x"}, {{"--seed", "-1 -- x"}}},
    };
    for (const auto& [arguments, expected] : cases) {
        const auto settings = velkar::ordana::CommandLineSettings(arguments);
        ASSERT_EQ(settings.size(), expected.size());
        for (std::size_t i = 0; i < settings.size(); ++i) {
            EXPECT_EQ(settings[i].name, expected[i].name);
            EXPECT_EQ(settings[i].value, expected[i].value);
        }
    }
}

std::string Wkt(int epsg) {
    OGRSpatialReference system;
    EXPECT_EQ(system.importFromEPSG(epsg), OGRERR_NONE) << epsg;
    char* text = nullptr;
    system.exportToWkt(&text);
    const std::string wkt = text == nullptr ? "" : text;
    CPLFree(text);
    return wkt;
}

// The area of a pixel is the absolute determinant of the geotransform's linear part, in the
// coordinate system's unit squared.
TEST(PageContentTest, PixelAreaInTheUnitsOfTheCoordinateSystem) {
    struct Case {
        std::optional<std::array<double, 6>> transform;
        std::string system;
        double area;
        std::string unit;
    };
    const std::vector<Case> cases = {
        {std::nullopt, Wkt(32633), 0.0, ""},
        {std::array<double, 6>{500000, 10, 0, 6000000, 0, -10}, Wkt(32633), 100.0, "m²"},
        {std::array<double, 6>{0, 2, 0.5, 0, 0.25, -3}, Wkt(32633), 6.125, "m²"},
        {std::array<double, 6>{10, 0.001, 0, 50, 0, -0.002}, Wkt(4326), 2e-6, "degree²"},
        {std::array<double, 6>{0, 3, 0, 0, 0, -3}, Wkt(2263), 9.0, "US survey foot²"},
        {std::array<double, 6>{0, 4, 0, 0, 0, 5}, "", 20.0, "map unit²"},
        {std::array<double, 6>{0, 4, 0, 0, 0, 5}, "not a system", 20.0, "map unit²"},
    };
    for (const Case& c : cases) {
        const auto pixel = velkar::ordana::PixelAreaOf({c.transform, c.system});
        EXPECT_NEAR(pixel.area, c.area, 1e-12 * c.area) << c.unit;
        EXPECT_EQ(pixel.unit, c.unit);
    }
}

}  // namespace
