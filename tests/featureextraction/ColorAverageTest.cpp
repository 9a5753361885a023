#include "velkar/featureextraction/ColorAverage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "featureextraction/TestImages.h"
#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {
namespace {

using testing::MakeImage;
using testing::MakePolygon;
using testing::MakeRectangle;
using testing::Rgb;
using PolygonList = FeatureExtractionAlgorithm::PolygonList;
using DescriptorList = FeatureExtractionAlgorithm::DescriptorList;

DescriptorList Extract(ColorAverage& extractor,
                       std::shared_ptr<imageprocessing::ImageFileSystem> image,
                       PolygonList polygons) {
    extractor.SetImage(std::move(image));
    return extractor.Process(polygons);
}

std::vector<double> Values(const Descriptor& descriptor) {
    std::vector<double> values;
    for (const auto& band : descriptor.Features()) {
        EXPECT_EQ(band.size(), 1u);
        values.insert(values.end(), band.begin(), band.end());
    }
    return values;
}

TEST(ColorAverageTest, IdentityAndWindowSizeCheck) {
    const ColorAverage extractor(7, true, false);
    EXPECT_EQ(extractor.Name(), "Windowed Color Average");
    EXPECT_EQ(extractor.FileExtension(), "wca");
    EXPECT_EQ(extractor.Version(), "1.0");
    EXPECT_EQ(extractor.WindowSize(), 7);
    EXPECT_NO_THROW(ColorAverage(1, false, false));
    for (int bad : {0, -3}) {
        try {
            ColorAverage(bad, false, false);
            FAIL() << "window size " << bad << " accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(std::to_string(bad)), std::string::npos)
                << error.what();
        }
    }
}

TEST(ColorAverageTest, UniformWindowUnderEveryFlagCombination) {
    const auto image = MakeImage(8, 8, [](int, int) { return Rgb{200, 100, 50}; });
    const auto square = MakeRectangle(0, 0, 5, 5);
    struct Case {
        bool monochromatic;
        bool normalize;
        std::vector<double> expected;
    };
    const std::vector<Case> cases{
        {false, false, {200.0, 100.0, 50.0}},
        {false, true, {200.0, 100.0, 50.0}},  // normalisation alone changes nothing
        {true, false, {200.0, 100.0, 50.0, 117.65}},
        {true, true, {4.0 / 7.0, 2.0 / 7.0, 1.0 / 7.0, 117.65}},
    };
    for (const Case& c : cases) {
        ColorAverage extractor(5, c.monochromatic, c.normalize);
        const auto result = Extract(extractor, image, {square});
        ASSERT_EQ(result.size(), 1u);
        const auto values = Values(*result[0]);
        ASSERT_EQ(values.size(), c.expected.size());
        for (std::size_t band = 0; band < values.size(); ++band) {
            EXPECT_NEAR(values[band], c.expected[band], 1e-12)
                << "band " << band << " mono " << c.monochromatic << " norm " << c.normalize;
        }
    }
}

TEST(ColorAverageTest, WindowSizeOneGivesEachPixel) {
    const auto image = MakeImage(3, 3, [](int x, int y) {
        return Rgb{10 * x + y, 50 + x, 90 + y};
    });
    ColorAverage extractor(1, false, false);
    const auto result = Extract(extractor, image, {MakeRectangle(0, 0, 2, 2)});
    // Origins x-major: (0,0), (0,1), (1,0), (1,1).
    const std::vector<std::vector<double>> expected{
        {0, 50, 90}, {1, 50, 91}, {10, 51, 90}, {11, 51, 91}};
    ASSERT_EQ(result.size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index) {
        EXPECT_EQ(Values(*result[index]), expected[index]) << "window " << index;
    }
}

TEST(ColorAverageTest, MixedWindowsMatchABruteForceMean) {
    std::mt19937 generator(20240611);
    std::uniform_int_distribution<int> level(1, 255);
    std::vector<Rgb> pixels(31 * 27);
    for (auto& pixel : pixels) {
        pixel = {level(generator), level(generator), level(generator)};
    }
    const auto image = MakeImage(31, 27, [&](int x, int y) { return pixels[y * 31 + x]; });
    const auto polygon = MakePolygon({{1, 2}, {30, 2}, {30, 26}, {1, 26}});

    for (bool normalize : {false, true}) {
        ColorAverage extractor(6, true, normalize);
        const auto result = Extract(extractor, image, {polygon});
        // Origins x = 1, 7, 13, 19 (25 + 6 passes 30), y = 2, 8, 14, 20.
        ASSERT_EQ(result.size(), 16u);
        for (std::size_t index = 0; index < result.size(); ++index) {
            const int left = 1 + 6 * static_cast<int>(index / 4);
            const int top = 2 + 6 * static_cast<int>(index % 4);
            std::vector<double> mean(4, 0.0);
            for (int y = top; y < top + 6; ++y) {
                for (int x = left; x < left + 6; ++x) {
                    const Rgb& p = pixels[y * 31 + x];
                    const double sum = normalize ? p.red + p.green + p.blue : 1.0;
                    mean[0] += p.red / sum / 36.0;
                    mean[1] += p.green / sum / 36.0;
                    mean[2] += p.blue / sum / 36.0;
                    mean[3] += (0.2126 * p.red + 0.7152 * p.green + 0.0722 * p.blue) / 36.0;
                }
            }
            const auto values = Values(*result[index]);
            ASSERT_EQ(values.size(), 4u);
            for (int band = 0; band < 4; ++band) {
                EXPECT_NEAR(values[band], mean[band], 1e-9)
                    << "window (" << left << ", " << top << ") band " << band;
            }
        }
    }
}

TEST(ColorAverageTest, BlackPixelUnderNormalisationCountsAsNeutral) {
    const auto image = MakeImage(4, 4, [](int x, int y) {
        return x == 1 && y == 2 ? Rgb{0, 0, 0} : Rgb{30, 60, 90};
    });
    ColorAverage normalized(2, true, true);
    const auto result = Extract(normalized, image, {MakeRectangle(0, 0, 4, 4)});
    ASSERT_EQ(result.size(), 4u);
    // Window (0, 2) holds the black pixel, which adds a third to every chromaticity; the
    // other three pixels add 1/6, 2/6 and 3/6.
    const std::vector<double> withBlack = {(3 * 1.0 / 6 + 1.0 / 3) / 4, (3 * 2.0 / 6 + 1.0 / 3) / 4,
                                           (3 * 3.0 / 6 + 1.0 / 3) / 4,
                                           3.0 / 4.0 * (0.2126 * 30 + 0.7152 * 60 + 0.0722 * 90)};
    for (std::size_t index = 0; index < result.size(); ++index) {
        const auto values = Values(*result[index]);
        for (std::size_t band = 0; band < 4; ++band) {
            const double expected =
                index == 1 ? withBlack[band]
                           : std::vector<double>{1.0 / 6, 2.0 / 6, 3.0 / 6,
                                                 0.2126 * 30 + 0.7152 * 60 + 0.0722 * 90}[band];
            EXPECT_NEAR(values[band], expected, 1e-12) << "window " << index << " band " << band;
        }
    }
}

TEST(ColorAverageTest, DescriptorsCarryTheirPolygonsLabel) {
    const auto image = MakeImage(40, 20, [](int x, int) {
        return x < 20 ? Rgb{0, 128, 0} : Rgb{0, 0, 255};
    });
    ColorAverage extractor(5, false, false);
    const auto result = Extract(
        extractor, image,
        {MakeRectangle(0, 0, 20, 20, "forest", 7), MakeRectangle(20, 0, 40, 10, "water", 42)});
    std::map<int, int> counts;
    for (const auto& descriptor : result) {
        ++counts[descriptor->PolygonId()];
        const bool forest = descriptor->PolygonId() == 7;
        EXPECT_EQ(descriptor->Class(), forest ? "forest" : "water");
        const std::vector<double> expected =
            forest ? std::vector<double>{0, 128, 0} : std::vector<double>{0, 0, 255};
        EXPECT_EQ(Values(*descriptor), expected);
    }
    EXPECT_EQ(counts, (std::map<int, int>{{7, 16}, {42, 8}}));
}

using Row = std::tuple<int, std::string, std::vector<double>>;

std::vector<Row> Rows(const DescriptorList& descriptors) {
    std::vector<Row> rows;
    for (const auto& descriptor : descriptors) {
        rows.emplace_back(descriptor->PolygonId(), descriptor->Class(), Values(*descriptor));
    }
    return rows;
}

TEST(ColorAverageTest, ParallelRunsAgreeWithOneThreadAndWithEachOther) {
    std::mt19937 generator(77);
    std::uniform_int_distribution<int> level(0, 255);
    std::vector<Rgb> pixels(300 * 240);
    for (auto& pixel : pixels) {
        pixel = {level(generator), level(generator), level(generator)};
    }
    const auto image = MakeImage(300, 240, [&](int x, int y) { return pixels[y * 300 + x]; });

    std::uniform_int_distribution<int> coordinate(-20, 320);
    std::uniform_int_distribution<int> extent(2, 60);
    PolygonList polygons;
    for (int id = 0; id < 300; ++id) {
        const int x = coordinate(generator);
        const int y = coordinate(generator);
        const int w = extent(generator);
        const int h = extent(generator);
        const std::string label = "class" + std::to_string(id % 5);
        polygons.push_back(id % 2 == 0 ? MakeRectangle(x, y, x + w, y + h, label, id)
                                       : MakePolygon({{x, y}, {x + w, y}, {x, y + h}}, label, id));
    }

    ColorAverage extractor(3, true, false);
    extractor.SetImage(image);
    std::vector<Row> reference;
    {
        util::ThreadLimit single(1);
        for (auto& polygon : polygons) {
            PolygonList alone{polygon};
            const auto own = Rows(extractor.Process(alone));
            reference.insert(reference.end(), own.begin(), own.end());
        }
        EXPECT_EQ(Rows(extractor.Process(polygons)), reference);
    }
    ASSERT_GT(reference.size(), 1000u);
    const auto first = extractor.Process(polygons);
    const auto second = extractor.Process(polygons);
    EXPECT_EQ(Rows(first), reference);
    EXPECT_EQ(Rows(second), reference);

    // The flat path gives the same values and polygons, descriptor after descriptor.
    const auto flat = extractor.DescribePolygons(polygons);
    ASSERT_EQ(flat.polygonIds.size(), reference.size());
    ASSERT_EQ(flat.values.size(), 4 * reference.size());
    for (std::size_t d = 0; d < reference.size(); ++d) {
        EXPECT_EQ(flat.polygonIds[d], std::get<0>(reference[d])) << d;
        EXPECT_EQ(std::vector<double>(flat.values.begin() + 4 * static_cast<long>(d),
                                      flat.values.begin() + 4 * static_cast<long>(d + 1)),
                  std::get<2>(reference[d]))
            << d;
    }
}

// Random colours where a sixth of the pixels are black and a sixth have one channel at 1 and
// the other two at 255, which gives the smallest chromaticity there is.
std::vector<Rgb> MixedPixels(int count, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> level(0, 255);
    std::uniform_int_distribution<int> kind(0, 5);
    std::vector<Rgb> pixels(static_cast<std::size_t>(count));
    for (auto& pixel : pixels) {
        const int k = kind(generator);
        int levels[3] = {level(generator), level(generator), level(generator)};
        if (k < 2) {
            levels[0] = levels[1] = levels[2] = k == 0 ? 0 : 255;
            levels[level(generator) % 3] = k == 0 ? 0 : 1;
        }
        pixel = {levels[0], levels[1], levels[2]};
    }
    return pixels;
}

// The grid path against brute-force means over every window, in batches of uneven sizes:
//  - grids of disjoint windows give, to the last bit, the double sums added column by column
//    (column offset outer, row offset inner), the arithmetic of the polygon path;
//  - overlapping grids give the channel means exactly and the real-valued means (luminance,
//    chromaticities) within a few units in the last place of an extended-precision sum, which
//    only exact table sums reach.
// One thread or two, whole grid or batches: the same values to the last bit.
TEST(ColorAverageTest, GridPathAgreesWithABruteForceMeanOnEveryGrid) {
    const int width = 171;
    const int height = 58;
    const auto pixels = MixedPixels(width * height, 8);
    const auto image =
        MakeImage(width, height, [&](int x, int y) { return pixels[y * width + x]; });
    std::mt19937 generator(12);
    for (const auto& [w, step] : std::vector<std::pair<int, int>>{
             {1, 1}, {3, 1}, {5, 2}, {16, 1}, {16, 8}, {7, 7}, {4, 6}}) {
        const WindowGrid grid(w, step, width, height);
        for (const bool monochromatic : {false, true}) {
            for (const bool normalize : {false, true}) {
                ColorAverage extractor(w, monochromatic, normalize);
                extractor.SetImage(image);
                const std::size_t bands = monochromatic ? 4 : 3;
                std::vector<double> whole;
                {
                    util::ThreadLimit single(1);
                    extractor.DescribeGrid(grid, 0, grid.Count(), whole);
                }
                std::vector<double> batched;
                std::uniform_int_distribution<std::size_t> size(1, 3 * grid.Rows() / 2 + 1);
                for (std::size_t first = 0, count = 0; first < grid.Count(); first += count) {
                    count = std::min(size(generator), grid.Count() - first);
                    std::vector<double> batch;
                    extractor.DescribeGrid(grid, first, count, batch);
                    batched.insert(batched.end(), batch.begin(), batch.end());
                }
                ASSERT_EQ(whole.size(), grid.Count() * bands);
                ASSERT_EQ(batched, whole) << "w " << w << ", step " << step;

                for (std::size_t index = 0; index < grid.Count(); ++index) {
                    const int x = grid.X(index);
                    const int y = grid.Y(index);
                    double sums[4] = {0, 0, 0, 0};
                    long double preciseSums[4] = {0, 0, 0, 0};
                    for (int column = x; column < x + w; ++column) {
                        for (int row = y; row < y + w; ++row) {
                            const Rgb& p = pixels[static_cast<std::size_t>(row * width + column)];
                            const double channels[3] = {static_cast<double>(p.red),
                                                        static_cast<double>(p.green),
                                                        static_cast<double>(p.blue)};
                            const double total = channels[0] + channels[1] + channels[2];
                            for (int k = 0; k < 4; ++k) {
                                const double value =
                                    k == 3 ? 0.2126 * p.red + 0.7152 * p.green + 0.0722 * p.blue
                                    : !(monochromatic && normalize) ? channels[k]
                                    : total == 0.0                  ? 1.0 / 3.0
                                                                    : channels[k] / total;
                                sums[k] += value;
                                preciseSums[k] += value;
                            }
                        }
                    }
                    const double pixelCount = static_cast<double>(w) * w;
                    for (std::size_t band = 0; band < bands; ++band) {
                        const double value = whole[index * bands + band];
                        const bool real = band == 3 || (monochromatic && normalize);
                        if (step >= w || !real) {
                            ASSERT_EQ(value, sums[band] / pixelCount)
                                << "w " << w << ", step " << step << ", window (" << x << ", " << y
                                << "), band " << band;
                        } else {
                            const long double expected = preciseSums[band] / pixelCount;
                            ASSERT_LE(std::abs(value - expected), 1e-15L * expected)
                                << "w " << w << ", step " << step << ", window (" << x << ", " << y
                                << "), band " << band;
                        }
                    }
                }
            }
        }
    }
}

// Black pixels, drawn and as a new image starts, on both paths: chromaticities of a third,
// channels and luminance 0.
TEST(ColorAverageTest, BlackImagesAreNeutralOnEveryPath) {
    for (const auto& image : {MakeImage(30, 20,
                                        [](int, int) {
                                            return Rgb{0, 0, 0};
                                        }),
                              imageprocessing::ImageFileSystem::Create("black.png", 30, 20)}) {
        for (const bool normalize : {false, true}) {
            ColorAverage extractor(8, true, normalize);
            const double chromaticity = normalize ? 1.0 / 3.0 : 0.0;
            std::vector<double> features;
            for (const auto& descriptor :
                 Extract(extractor, image, {MakeRectangle(0, 0, 30, 20)})) {
                const auto values = Values(*descriptor);
                features.insert(features.end(), values.begin(), values.end());
            }
            ASSERT_EQ(features.size(), 6u * 4u);
            for (const int step : {1, 8}) {
                const WindowGrid grid(8, step, 30, 20);
                std::vector<double> batch;
                extractor.DescribeGrid(grid, 0, grid.Count(), batch);
                features.insert(features.end(), batch.begin(), batch.end());
            }
            ASSERT_EQ(features.size(), (6u + 23u * 13u + 6u) * 4u);
            for (std::size_t index = 0; index < features.size(); ++index) {
                ASSERT_NEAR(features[index], index % 4 == 3 ? 0.0 : chromaticity, 1e-15)
                    << "value " << index;
            }
        }
    }
}

// An image of five bands: every band's mean, on the polygon path and on overlapping and disjoint
// grids, equals the brute-force sum; the monochromatic band and normalisation need three bands,
// say so, and leave the extractor its image.
TEST(ColorAverageTest, ImagesOfManyBandsGiveEveryBandsMean) {
    const int width = 47;
    const int height = 33;
    const int bands = 5;
    const auto image = testing::RandomBands(width, height, bands, 17);
    const auto mean = [&](int x, int y, int w, int band) {
        long long sum = 0;
        for (int row = y; row < y + w; ++row) {
            for (int column = x; column < x + w; ++column) {
                sum += image->Pixel(column, row, band);
            }
        }
        return static_cast<double>(sum) / (static_cast<double>(w) * w);
    };
    for (const auto& [w, step] : std::vector<std::pair<int, int>>{{4, 1}, {6, 6}, {3, 2}}) {
        ColorAverage extractor(w, false, false);
        extractor.SetImage(image);
        ASSERT_EQ(extractor.FeatureCount(), bands);
        const WindowGrid grid(w, step, width, height);
        std::vector<double> features;
        extractor.DescribeGrid(grid, 0, grid.Count(), features);
        ASSERT_EQ(features.size(), grid.Count() * bands);
        for (std::size_t index = 0; index < grid.Count(); ++index) {
            for (int band = 0; band < bands; ++band) {
                ASSERT_EQ(features[index * bands + static_cast<std::size_t>(band)],
                          mean(grid.X(index), grid.Y(index), w, band))
                    << "w " << w << ", step " << step << ", window " << index;
            }
        }
        // The windows of the rectangle (1, 2) - (45, 30), column after column.
        std::vector<std::pair<int, int>> windows;
        for (int x = 1; x + w <= 45; x += w) {
            for (int y = 2; y + w <= 30; y += w) {
                windows.emplace_back(x, y);
            }
        }
        PolygonList polygons = {MakeRectangle(1, 2, 45, 30)};
        const auto descriptors = extractor.Process(polygons);
        ASSERT_EQ(descriptors.size(), windows.size());
        for (std::size_t n = 0; n < windows.size(); ++n) {
            ASSERT_EQ(descriptors[n]->Features().size(), static_cast<std::size_t>(bands));
            for (int band = 0; band < bands; ++band) {
                EXPECT_EQ(descriptors[n]->Features()[static_cast<std::size_t>(band)][0],
                          mean(windows[n].first, windows[n].second, w, band));
            }
        }
    }
    const auto colour = MakeImage(8, 8, [](int, int) { return Rgb{1, 2, 3}; });
    for (const auto& [monochromatic, normalize, setting] :
         std::vector<std::tuple<bool, bool, std::string>>{
             {true, false, "monochromatic band (aam)"},
             {false, true, "normalisation (anorm)"},
             {true, true, "monochromatic band (aam)"}}) {
        ColorAverage extractor(4, monochromatic, normalize);
        extractor.SetImage(colour);
        try {
            extractor.SetImage(image);
            ADD_FAILURE() << setting << " took five bands";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(std::string(error.what()),
                      "The color average's " + setting +
                          " needs exactly 3 bands, red, green and blue; the image has 5");
        }
        EXPECT_EQ(extractor.FeatureCount(), monochromatic ? 4 : 3);
    }
}

}  // namespace
}  // namespace velkar::featureextraction
