#include "velkar/featureextraction/Hog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "featureextraction/TestImages.h"
#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {
namespace {

using testing::MakeImage;
using testing::MakePolygon;
using testing::MakeRectangle;
using testing::Rgb;
using Grid = std::vector<std::vector<double>>;
using PolygonList = FeatureExtractionAlgorithm::PolygonList;

// The gradient histogram step by step: whole-box matrices indexed [column][row], differences of
// 0 on the box's border, each block filled edge by edge, angles past the last edge in the last
// bin.
std::vector<double> ReferenceHog(const imageprocessing::ImageFileSystem& image,
                                 const math::Polygon& polygon, int blocksX, int blocksY, int bins) {
    int minX = 100000000, minY = 100000000, maxX = 0, maxY = 0;
    for (auto vertex = polygon.Begin(); vertex != polygon.End(); ++vertex) {
        minX = std::min(minX, vertex->x());
        minY = std::min(minY, vertex->y());
        maxX = std::max(maxX, vertex->x());
        maxY = std::max(maxY, vertex->y());
    }
    const int width = std::max(maxX - minX, 0);
    const int height = std::max(maxY - minY, 0);
    Grid gray(width, std::vector<double>(height));
    for (int i = 0; i < width; ++i) {
        for (int j = 0; j < height; ++j) {
            const int x = minX + i, y = minY + j;
            gray[i][j] = (image.Pixel(x, y, 0) + image.Pixel(x, y, 1) + image.Pixel(x, y, 2)) / 3.0;
        }
    }
    Grid angle(width, std::vector<double>(height)), magnitude = angle;
    for (int i = 0; i < width; ++i) {
        for (int j = 0; j < height; ++j) {
            const double dj = j > 0 && j < height - 1 ? gray[i][j + 1] - gray[i][j - 1] : 0.0;
            const double di = i > 0 && i < width - 1 ? gray[i + 1][j] - gray[i - 1][j] : 0.0;
            angle[i][j] = std::atan2(di, dj);
            magnitude[i][j] = std::sqrt(di * di + dj * dj);
        }
    }
    const int cw = width / (blocksX + 1), ch = height / (blocksY + 1);
    std::vector<double> features;
    for (int by = 0; by < blocksY; ++by) {
        for (int bx = 0; bx < blocksX; ++bx) {
            std::vector<double> histogram(bins, 0.0);
            for (int i = bx * cw; i < (bx + 2) * cw; ++i) {
                for (int j = by * ch; j < (by + 2) * ch; ++j) {
                    int k = 1;
                    while (k < bins && !(angle[i][j] < -3.14159 + k * (6.28318 / bins))) {
                        ++k;
                    }
                    histogram[k - 1] += magnitude[i][j];
                }
            }
            double norm = 0.0;
            for (double value : histogram) {
                norm += value * value;
            }
            for (double value : histogram) {
                features.push_back(value / (std::sqrt(norm) + 0.01));
            }
        }
    }
    return features;
}

std::vector<double> Describe(int blocksX, int blocksY, int bins,
                             std::shared_ptr<imageprocessing::ImageFileSystem> image,
                             std::shared_ptr<math::Polygon> polygon) {
    Hog hog(blocksX, blocksY, bins);
    hog.SetImage(std::move(image));
    PolygonList polygons{std::move(polygon)};
    const auto descriptors = hog.Process(polygons);
    EXPECT_EQ(descriptors.size(), 1u);
    EXPECT_EQ(descriptors[0]->Features().size(), 1u);
    return descriptors[0]->Features()[0];
}

TEST(HogTest, IdentityAndSettingChecks) {
    const Hog hog(3, 2, 9);
    EXPECT_EQ(hog.Name(), "Histogram of Oriented Gradients");
    EXPECT_EQ(hog.FileExtension(), "dat");
    EXPECT_EQ(hog.WindowSize(), 3);
    EXPECT_EQ(hog.FeatureCount(), 54);
    for (const auto& [x, y, bins] : std::vector<std::tuple<int, int, int>>{
             {0, 2, 9}, {2, 0, 9}, {2, 2, 0}, {-1, 1, 1}, {1000, 1000, 11}}) {
        EXPECT_THROW(Hog(x, y, bins), std::invalid_argument) << x << " " << y << " " << bins;
    }
}

TEST(HogTest, EqualsTheStepByStepComputation) {
    // Random colours, and hard 0/255 steps whose gradients point straight along the axes (among
    // them the angle pi that only the last bin takes).
    const auto noisy = testing::RandomPixels(60, 50, 5).Image();
    const auto steps = MakeImage(60, 50, [](int x, int y) {
        const int value = (y / 4) % 2 == 0 ? 255 : 0;
        return x < 30 ? Rgb{value, value, value} : Rgb{255 - value, 0, value};
    });
    const std::vector<std::shared_ptr<math::Polygon>> polygons{
        MakeRectangle(0, 0, 60, 50), MakeRectangle(3, 7, 33, 27),
        MakePolygon({{5, 5}, {45, 12}, {20, 40}}),
        MakeRectangle(-10, -6, 25, 20),  // partly outside the image
        MakeRectangle(40, 30, 75, 62)};
    for (const auto& image : {noisy, steps}) {
        for (const auto& polygon : polygons) {
            for (const auto& [bx, by, bins] : std::vector<std::tuple<int, int, int>>{
                     {2, 1, 9}, {3, 2, 4}, {1, 1, 1}, {4, 3, 7}, {2, 2, 2}}) {
                const auto actual = Describe(bx, by, bins, image, polygon);
                const auto expected = ReferenceHog(*image, *polygon, bx, by, bins);
                ASSERT_EQ(actual.size(), expected.size());
                for (std::size_t n = 0; n < actual.size(); ++n) {
                    EXPECT_NEAR(actual[n], expected[n], 1e-12) << bx << " " << by << " " << bins;
                }
            }
        }
    }
}

// The same extractor describing grid windows one polygon at a time, as the base class does.
class PolygonPathHog : public Hog {
  public:
    using Hog::Hog;

  protected:
    void DescribeGridWindows(const WindowGrid& grid, std::size_t first, std::size_t count,
                             double* features) override {
        FeatureExtractionAlgorithm::DescribeGridWindows(grid, first, count, features);
    }
};

// The grid path against one polygon per window, to the last bit, on overlapping and disjoint
// grids, windows not a multiple of the cells, windows too small for a cell, and batches of
// uneven sizes on one thread or two.
TEST(HogTest, GridPathEqualsThePolygonPathToTheLastBit) {
    const auto noisy = testing::RandomPixels(61, 47, 9).Image();
    const auto fiveBands = testing::RandomBands(61, 47, 5, 10);
    const auto steps = MakeImage(61, 47, [](int x, int y) {
        const int value = (y / 3 + x / 7) % 2 == 0 ? 255 : 0;
        return x < 30 ? Rgb{value, value, value} : Rgb{255 - value, 0, value};
    });
    std::mt19937 generator(4);
    for (const auto& image : {noisy, steps, fiveBands}) {
        for (const auto& [bx, by, bins, w, step] :
             std::vector<std::tuple<int, int, int, int, int>>{{2, 2, 9, 12, 1},
                                                              {1, 3, 4, 13, 2},
                                                              {3, 1, 6, 7, 3},
                                                              {2, 2, 8, 2, 1},
                                                              {1, 1, 5, 4, 4},
                                                              {2, 1, 7, 47, 1},
                                                              {1, 1, 3, 3, 1}}) {
            SCOPED_TRACE(::testing::Message() << bx << " x " << by << " blocks, " << bins
                                              << " bins, window " << w << ", step " << step);
            const WindowGrid grid(w, step, 61, 47);
            PolygonPathHog reference(bx, by, bins);
            reference.SetImage(image);
            std::vector<double> expected;
            reference.DescribeGrid(grid, 0, grid.Count(), expected);
            Hog hog(bx, by, bins);
            hog.SetImage(image);
            for (const int threads : {1, 2}) {
                util::ThreadLimit limit(threads);
                std::vector<double> whole;
                hog.DescribeGrid(grid, 0, grid.Count(), whole);
                EXPECT_EQ(whole, expected);
                std::vector<double> batched;
                std::uniform_int_distribution<std::size_t> size(1, 2 * grid.Rows() + 1);
                for (std::size_t first = 0, count = 0; first < grid.Count(); first += count) {
                    count = std::min(size(generator), grid.Count() - first);
                    std::vector<double> batch;
                    hog.DescribeGrid(grid, first, count, batch);
                    batched.insert(batched.end(), batch.begin(), batch.end());
                }
                EXPECT_EQ(batched, expected);
            }
        }
    }
}

TEST(HogTest, LayoutAndDirectionalImages) {
    // 30 x 20 box, 2 x 1 blocks: cells of 10, block 0 on columns 0-19, block 1 on 10-29. Texture
    // in columns 22-28 reaches block 1 only.
    const auto right = MakeImage(40, 30, [](int x, int y) {
        const int value = x >= 22 && x <= 28 && (x + y) % 3 == 0 ? 200 : 0;
        return Rgb{value, value, value};
    });
    const auto layout = Describe(2, 1, 6, right, MakeRectangle(0, 0, 30, 20));
    ASSERT_EQ(layout.size(), 12u);
    EXPECT_TRUE(std::all_of(layout.begin(), layout.begin() + 6, [](double v) { return v == 0; }));
    EXPECT_TRUE(std::any_of(layout.begin() + 6, layout.end(), [](double v) { return v > 0; }));

    // With 6 bins, -pi/2 falls in bin 1, pi/2 in bin 4 and pi (bright above dark) in bin 5.
    struct Case {
        std::function<Rgb(int, int)> colour;
        std::vector<int> bins;
    };
    const std::vector<Case> cases{{[](int, int) {
                                       return Rgb{90, 90, 90};
                                   },
                                   {}},
                                  {[](int x, int) {
                                       return x % 6 < 3 ? Rgb{250, 250, 250} : Rgb{10, 10, 10};
                                   },
                                   {1, 4}},
                                  {[](int, int y) {
                                       return y < 15 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
                                   },
                                   {5}}};
    for (const Case& c : cases) {
        const auto features =
            Describe(2, 2, 6, MakeImage(30, 30, c.colour), MakeRectangle(0, 0, 30, 30));
        std::vector<bool> seen(6, false);
        for (std::size_t n = 0; n < features.size(); ++n) {
            const int bin = static_cast<int>(n % 6);
            const bool allowed = std::find(c.bins.begin(), c.bins.end(), bin) != c.bins.end();
            EXPECT_TRUE(allowed || features[n] == 0.0) << "bin " << bin;
            seen[bin] = seen[bin] || features[n] > 0.0;
        }
        for (int bin : c.bins) {
            EXPECT_TRUE(seen[bin]) << "bin " << bin;
        }
    }
    // A box narrower than Bx + 1 columns has empty cells and a zero descriptor.
    const auto narrow = Describe(5, 1, 4, right, MakeRectangle(20, 0, 24, 30));
    EXPECT_TRUE(std::all_of(narrow.begin(), narrow.end(), [](double v) { return v == 0; }));
}

TEST(HogTest, ShapesDoNotMatterAndHugeBoxesCostNoMoreThanTheImage) {
    const auto image = MakeImage(40, 40, [](int x, int y) {
        return Rgb{(x * 37 + y * 11) % 256, (x * y) % 256, (x + 3 * y) % 256};
    });
    EXPECT_EQ(Describe(2, 3, 5, image, MakeRectangle(2, 2, 32, 36)),
              Describe(2, 3, 5, image, MakePolygon({{2, 2}, {32, 2}, {2, 36}})));

    // The image lies inside cell (1, 1) of a box 2 * 10^8 pixels a side: all four blocks hold
    // that cell alone, and only the image is visited.
    const auto huge =
        Describe(2, 2, 5, image, MakeRectangle(-100000000, -100000000, 100000000, 100000000));
    ASSERT_EQ(huge.size(), 20u);
    for (std::size_t block = 1; block < 4; ++block) {
        EXPECT_TRUE(std::equal(huge.begin(), huge.begin() + 5, huge.begin() + 5 * block));
    }
    EXPECT_GT(*std::max_element(huge.begin(), huge.end()), 0.3);
}

TEST(HogTest, ClassificationWindowIsTheMedianLongerSide) {
    const Hog hog(5, 3, 9);
    const PolygonList odd{MakeRectangle(0, 0, 10, 4), MakeRectangle(5, 5, 25, 55),
                          MakeRectangle(0, 0, 30, 30)};
    EXPECT_EQ(hog.ClassificationWindowSize(odd), 30);
    EXPECT_EQ(
        hog.ClassificationWindowSize({MakeRectangle(0, 0, 10, 10), MakeRectangle(0, 0, 20, 5),
                                      MakeRectangle(0, 0, 3, 31), MakeRectangle(0, 0, 40, 40)}),
        25);
    // At least max(Bx, By) + 1, so that no cell is empty.
    EXPECT_EQ(hog.ClassificationWindowSize({MakeRectangle(0, 0, 2, 2), MakeRectangle(0, 0, 3, 1)}),
              6);
    EXPECT_EQ(hog.ClassificationWindowSize({}), 6);
    // Window extractors keep their own window size.
    EXPECT_EQ(ColorAverage(7, false, false).ClassificationWindowSize(odd), 7);
}

// The grey value is the mean of all bands: bands (a, a, b, b) give the gradients of (a, b), and a
// single band its own, on the polygon path and the grid path.
TEST(HogTest, GreyIsTheMeanOfAllBands) {
    const auto pair = testing::RandomBands(40, 31, 2, 21);
    const auto doubled = testing::BandsOf(*pair, {0, 0, 1, 1});
    const auto single = testing::BandsOf(*pair, {1});
    const auto singleAsColour = testing::BandsOf(*pair, {1, 1, 1});
    const auto polygon = MakePolygon({{0, 0}, {39, 2}, {30, 30}, {3, 25}});
    EXPECT_EQ(Describe(2, 3, 7, doubled, polygon), Describe(2, 3, 7, pair, polygon));
    EXPECT_EQ(Describe(2, 3, 7, single, polygon), Describe(2, 3, 7, singleAsColour, polygon));
    const WindowGrid grid(9, 2, 40, 31);
    std::vector<std::vector<double>> gridFeatures;
    for (const auto& image : {doubled, pair}) {
        Hog hog(2, 2, 5);
        hog.SetImage(image);
        gridFeatures.emplace_back();
        hog.DescribeGrid(grid, 0, grid.Count(), gridFeatures.back());
    }
    EXPECT_EQ(gridFeatures[0], gridFeatures[1]);
}

}  // namespace
}  // namespace velkar::featureextraction
