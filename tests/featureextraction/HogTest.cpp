#include "velkar/featureextraction/Hog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

#include "featureextraction/TestImages.h"
#include "velkar/featureextraction/ColorAverage.h"

namespace velkar::featureextraction {
namespace {

using testing::MakeImage;
using testing::MakePolygon;
using testing::MakeRectangle;
using testing::Rgb;
using Matrix = std::vector<std::vector<double>>;
using PolygonList = FeatureExtractionAlgorithm::PolygonList;

// The gradient histogram written out step by step from its definition: whole-box matrices
// indexed [column][row], differences of 0 on the box's border, every block histogram filled by the
// edge-by-edge assignment, and the angles left over by the last edge given to the last bin.
std::vector<double> ReferenceHog(const imageprocessing::ImageFileSystem& image,
                                 const math::Polygon& polygon, int blocksX, int blocksY, int bins) {
    long long minX = 100000000, minY = 100000000, maxX = 0, maxY = 0;
    for (auto vertex = polygon.Begin(); vertex != polygon.End(); ++vertex) {
        minX = std::min<long long>(minX, vertex->x());
        minY = std::min<long long>(minY, vertex->y());
        maxX = std::max<long long>(maxX, vertex->x());
        maxY = std::max<long long>(maxY, vertex->y());
    }
    const int width = static_cast<int>(std::max(maxX - minX, 0LL));
    const int height = static_cast<int>(std::max(maxY - minY, 0LL));
    Matrix gray(width, std::vector<double>(height));
    for (int i = 0; i < width; ++i) {
        for (int j = 0; j < height; ++j) {
            const int x = static_cast<int>(minX) + i;
            const int y = static_cast<int>(minY) + j;
            gray[i][j] = (image.Pixel(x, y, 0) + image.Pixel(x, y, 1) + image.Pixel(x, y, 2)) / 3.0;
        }
    }
    Matrix angle(width, std::vector<double>(height));
    Matrix magnitude(width, std::vector<double>(height));
    for (int i = 0; i < width; ++i) {
        for (int j = 0; j < height; ++j) {
            // Differences that would reach past the box are 0.
            const double dj = j > 0 && j < height - 1 ? gray[i][j + 1] - gray[i][j - 1] : 0.0;
            const double di = i > 0 && i < width - 1 ? gray[i + 1][j] - gray[i - 1][j] : 0.0;
            angle[i][j] = std::atan2(di, dj);
            magnitude[i][j] = std::sqrt(di * di + dj * dj);
        }
    }
    const int cw = width / (blocksX + 1);
    const int ch = height / (blocksY + 1);
    std::vector<double> features;
    for (int by = 0; by < blocksY; ++by) {
        for (int bx = 0; bx < blocksX; ++bx) {
            std::vector<double> angles;
            std::vector<double> magnitudes;
            for (int i = bx * cw; i < (bx + 2) * cw; ++i) {
                for (int j = by * ch; j < (by + 2) * ch; ++j) {
                    angles.push_back(angle[i][j]);
                    magnitudes.push_back(magnitude[i][j]);
                }
            }
            std::vector<double> histogram(bins, 0.0);
            std::vector<bool> assigned(angles.size(), false);
            for (int k = 1; k <= bins; ++k) {
                const double edge = -3.14159 + k * (6.28318 / bins);
                for (std::size_t n = 0; n < angles.size(); ++n) {
                    if (!assigned[n] && (angles[n] < edge || k == bins)) {
                        assigned[n] = true;
                        histogram[k - 1] += magnitudes[n];
                    }
                }
            }
            double norm = 0.0;
            for (double value : histogram) {
                norm += value * value;
            }
            norm = std::sqrt(norm);
            for (double value : histogram) {
                features.push_back(value / (norm + 0.01));
            }
        }
    }
    return features;
}

std::vector<double> Describe(Hog& hog, std::shared_ptr<imageprocessing::ImageFileSystem> image,
                             std::shared_ptr<math::Polygon> polygon) {
    hog.SetImage(std::move(image));
    PolygonList polygons{std::move(polygon)};
    const auto descriptors = hog.Process(polygons);
    EXPECT_EQ(descriptors.size(), 1u);
    EXPECT_EQ(descriptors[0]->Features().size(), 1u);
    return descriptors[0]->Features()[0];
}

void ExpectClose(const std::vector<double>& actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t n = 0; n < actual.size(); ++n) {
        EXPECT_NEAR(actual[n], expected[n], 1e-12) << "value " << n;
    }
}

TEST(HogTest, IdentityAndSettingChecks) {
    const Hog hog(3, 2, 9);
    EXPECT_EQ(hog.Name(), "Histogram of Oriented Gradients");
    EXPECT_EQ(hog.FileExtension(), "dat");
    EXPECT_EQ(hog.Version(), "1.0");
    EXPECT_EQ(hog.WindowSize(), 3);
    EXPECT_EQ(hog.FeatureCount(), 54);
    for (const auto& [x, y, bins] : std::vector<std::tuple<int, int, int>>{
             {0, 2, 9}, {2, 0, 9}, {2, 2, 0}, {-1, 1, 1}, {1000, 1000, 11}}) {
        EXPECT_THROW(Hog(x, y, bins), std::invalid_argument) << x << " " << y << " " << bins;
    }
}

TEST(HogTest, EqualsTheStepByStepComputation) {
    // Random colours and hard 0/255 steps: the steps give gradients pointing straight along an
    // axis, among them the angle pi that only the last bin takes.
    std::mt19937 generator(5);
    std::uniform_int_distribution<int> level(0, 255);
    std::vector<Rgb> noise(60 * 50);
    for (Rgb& colour : noise) {
        colour = {level(generator), level(generator), level(generator)};
    }
    const auto noisy = MakeImage(60, 50, [&](int x, int y) { return noise[y * 60 + x]; });
    const auto steps = MakeImage(60, 50, [](int x, int y) {
        const int value = (y / 4) % 2 == 0 ? 255 : 0;
        return x < 30 ? Rgb{value, value, value} : Rgb{255 - value, 0, value};
    });
    const std::vector<std::shared_ptr<math::Polygon>> polygons{
        MakeRectangle(0, 0, 60, 50),
        MakeRectangle(3, 7, 33, 27),
        MakePolygon({{5, 5}, {45, 12}, {20, 40}}),
        MakeRectangle(-10, -6, 25, 20),  // partly left of and above the image
        MakeRectangle(40, 30, 75, 62),   // partly right of and below it
    };
    const std::vector<std::tuple<int, int, int>> settings{
        {2, 1, 9}, {3, 2, 4}, {1, 1, 1}, {4, 3, 7}, {2, 2, 2}};
    for (const auto& image : {noisy, steps}) {
        for (const auto& polygon : polygons) {
            for (const auto& [bx, by, bins] : settings) {
                SCOPED_TRACE(::testing::Message()
                             << bx << " x " << by << " blocks, " << bins << " bins");
                Hog hog(bx, by, bins);
                ExpectClose(Describe(hog, image, polygon),
                            ReferenceHog(*image, *polygon, bx, by, bins));
            }
        }
    }
}

TEST(HogTest, BlockLayoutOfAThirtyByTwentyBox) {
    // cw = ch = 10: block 0 covers columns 0-19, block 1 columns 10-29, both rows 0-19. Texture
    // in columns 22-28 only reaches block 1.
    const auto image = MakeImage(40, 30, [](int x, int y) {
        const int value = x >= 22 && x <= 28 && (x + y) % 3 == 0 ? 200 : 0;
        return Rgb{value, value, value};
    });
    Hog hog(2, 1, 6);
    const auto features = Describe(hog, image, MakeRectangle(0, 0, 30, 20));
    ASSERT_EQ(features.size(), 12u);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(features[k], 0.0);
    }
    double norm = 0.0;
    for (int k = 6; k < 12; ++k) {
        norm += features[k] * features[k];
    }
    EXPECT_GT(norm, 0.9);
    EXPECT_LT(norm, 1.0);
}

TEST(HogTest, FlatAndDirectionalImages) {
    const auto uniform = MakeImage(30, 30, [](int, int) { return Rgb{90, 90, 90}; });
    const auto vertical = MakeImage(30, 30, [](int x, int) {
        return x % 6 < 3 ? Rgb{250, 250, 250} : Rgb{10, 10, 10};
    });
    // Bright above dark: the gradient down the rows is negative, giving atan2(0, -d) = pi.
    const auto horizontal = MakeImage(30, 30, [](int, int y) {
        return y < 15 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    });
    const auto box = MakeRectangle(0, 0, 30, 30);
    const int bins = 6;  // bin 1 holds -pi/2, bin 4 holds pi/2, bin 5 holds pi
    struct Case {
        std::shared_ptr<imageprocessing::ImageFileSystem> image;
        std::vector<int> nonZeroBins;
    };
    for (const Case& c : std::vector<Case>{{uniform, {}}, {vertical, {1, 4}}, {horizontal, {5}}}) {
        Hog hog(2, 2, bins);
        const auto features = Describe(hog, c.image, box);
        std::vector<bool> seen(bins, false);
        for (std::size_t n = 0; n < features.size(); ++n) {
            const int bin = static_cast<int>(n % bins);
            const bool allowed =
                std::find(c.nonZeroBins.begin(), c.nonZeroBins.end(), bin) != c.nonZeroBins.end();
            if (!allowed) {
                EXPECT_EQ(features[n], 0.0) << "bin " << bin;
            }
            seen[bin] = seen[bin] || features[n] > 0.0;
        }
        for (int bin : c.nonZeroBins) {
            EXPECT_TRUE(seen[bin]) << "bin " << bin;
        }
    }

    // A box narrower than Bx + 1 columns has empty cells and a zero descriptor.
    Hog wide(5, 1, 4);
    for (double value : Describe(wide, vertical, MakeRectangle(0, 0, 4, 30))) {
        EXPECT_EQ(value, 0.0);
    }
}

TEST(HogTest, HugeBoxesCostNoMoreThanTheImage) {
    // The image lies wholly inside cell (1, 1) of a box of 2 * 10^8 pixels a side, so all four
    // blocks hold that cell's histogram and nothing else; only the image is ever visited.
    const auto image = MakeImage(40, 40, [](int x, int y) {
        return Rgb{(x * 37 + y * 11) % 256, (x * y) % 256, (x + 3 * y) % 256};
    });
    Hog hog(2, 2, 5);
    const auto features =
        Describe(hog, image, MakeRectangle(-100000000, -100000000, 100000000, 100000000));
    ASSERT_EQ(features.size(), 20u);
    double norm = 0.0;
    for (std::size_t n = 0; n < 5; ++n) {
        norm += features[n] * features[n];
        for (std::size_t block = 1; block < 4; ++block) {
            EXPECT_EQ(features[block * 5 + n], features[n]);
        }
    }
    EXPECT_GT(norm, 0.9);
}

TEST(HogTest, OneDescriptorPerPolygonInInputOrder) {
    const auto image = MakeImage(40, 40, [](int x, int y) {
        return Rgb{(x * 7) % 256, (y * 11) % 256, (x * y) % 256};
    });
    // A triangle and a rectangle with the same bounding box describe alike.
    PolygonList polygons{MakeRectangle(2, 2, 32, 36, "box", 4),
                         MakePolygon({{2, 2}, {32, 2}, {2, 36}}, "triangle", 9),
                         MakeRectangle(0, 0, 1, 1, "tiny", 1)};
    Hog hog(2, 3, 5);
    hog.SetImage(image);
    const auto descriptors = hog.Process(polygons);
    ASSERT_EQ(descriptors.size(), 3u);
    const std::vector<std::pair<std::string, int>> labels{{"box", 4}, {"triangle", 9}, {"tiny", 1}};
    for (std::size_t n = 0; n < 3; ++n) {
        EXPECT_EQ(descriptors[n]->Class(), labels[n].first);
        EXPECT_EQ(descriptors[n]->PolygonId(), labels[n].second);
        EXPECT_EQ(descriptors[n]->Features()[0].size(), 30u);
    }
    EXPECT_EQ(descriptors[0]->Features(), descriptors[1]->Features());
}

TEST(HogTest, ClassificationWindowIsTheMedianLongerSide) {
    struct Case {
        std::vector<std::shared_ptr<math::Polygon>> polygons;
        int expected;
    };
    const std::vector<Case> cases{
        {{MakeRectangle(0, 0, 10, 4), MakeRectangle(5, 5, 25, 55), MakeRectangle(0, 0, 30, 30)},
         30},
        {{MakeRectangle(0, 0, 10, 10), MakeRectangle(0, 0, 20, 5), MakeRectangle(0, 0, 3, 31),
          MakeRectangle(0, 0, 40, 40)},
         25},
        {{MakeRectangle(0, 0, 2, 2), MakeRectangle(0, 0, 3, 1)}, 6},
        {{}, 6},
    };
    const Hog hog(5, 3, 9);
    for (const Case& c : cases) {
        EXPECT_EQ(hog.ClassificationWindowSize(c.polygons), c.expected);
    }
    // Window extractors keep their own window size.
    EXPECT_EQ(ColorAverage(7, false, false).ClassificationWindowSize(cases[0].polygons), 7);
}

}  // namespace
}  // namespace velkar::featureextraction
