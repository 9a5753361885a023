#include "velkar/featureextraction/CoOccurrenceMatrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "featureextraction/DenseTexture.h"
#include "featureextraction/TestImages.h"
#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {
namespace {

using testing::MakeImage;
using testing::MakeRectangle;
using testing::Rgb;
using PolygonList = FeatureExtractionAlgorithm::PolygonList;
using DescriptorList = FeatureExtractionAlgorithm::DescriptorList;

std::shared_ptr<imageprocessing::ImageFileSystem> RandomImage(int width, int height,
                                                              unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> narrow(30, 34);
    std::uniform_int_distribution<int> full(0, 255);
    std::vector<Rgb> pixels(static_cast<std::size_t>(width * height));
    for (int index = 0; index < width * height; ++index) {
        // Blue is a 0/255 checkerboard: every horizontal pair is (0, 255), a band of zero
        // variance whose channel is not 0.
        pixels[index] = {narrow(generator), full(generator),
                         (index % width + index / width) % 2 * 255};
    }
    return MakeImage(width, height, [&](int x, int y) { return pixels[y * width + x]; });
}

DescriptorList Extract(CoOccurrenceMatrix& extractor,
                       std::shared_ptr<imageprocessing::ImageFileSystem> image,
                       PolygonList polygons) {
    extractor.SetImage(std::move(image));
    return extractor.Process(polygons);
}

void ExpectClose(const std::vector<std::vector<double>>& actual,
                 const std::vector<std::vector<double>>& expected, const std::string& where) {
    ASSERT_EQ(actual.size(), expected.size()) << where;
    for (std::size_t band = 0; band < expected.size(); ++band) {
        ASSERT_EQ(actual[band].size(), expected[band].size()) << where;
        for (std::size_t i = 0; i < expected[band].size(); ++i) {
            EXPECT_NEAR(actual[band][i], expected[band][i], 1e-12 * std::abs(expected[band][i]))
                << where << " band " << band << " value " << i;
        }
    }
}

TEST(CoOccurrenceMatrixTest, IdentityAndLayout) {
    CoOccurrenceMatrix extractor(5, {1, 0}, {0, 1, 9});
    EXPECT_EQ(extractor.Name(), "Co-Occurrence Matrix");
    EXPECT_EQ(extractor.FileExtension(), "cmo");
    EXPECT_EQ(extractor.Version(), "1.0");
    EXPECT_EQ(extractor.WindowSize(), 5);
    EXPECT_EQ(extractor.FeatureCount(), 48);
    EXPECT_EQ(CoOccurrenceMatrix(3, {2}, {-2}).FeatureCount(), 24);
    PolygonList none;
    EXPECT_THROW(extractor.Process(none), std::logic_error);
    EXPECT_THROW(CoOccurrenceMatrix(5, {5}, {0}), std::invalid_argument);
}

TEST(CoOccurrenceMatrixTest, DescriptorsEqualTheDenseDefinition) {
    struct Case {
        std::vector<int> dx;
        std::vector<int> dy;
    };
    const std::vector<Case> cases{
        {{1}, {0}}, {{0}, {0}}, {{-1}, {2}}, {{1, 0}, {0, 1}}, {{2, -1}, {-3, -1, 4}}};
    const auto image = RandomImage(30, 24, 11);
    // Origins x = 2, 10, 18 and y = 3, 11: 6 windows, x-major.
    const auto rectangle = MakeRectangle(2, 3, 26, 20);
    for (const Case& c : cases) {
        CoOccurrenceMatrix extractor(8, c.dx, c.dy);
        testing::DenseTexture<long double> dense(image, 8, c.dx, c.dy);
        const auto result = Extract(extractor, image, {rectangle});
        ASSERT_EQ(result.size(), 6u);
        for (std::size_t index = 0; index < result.size(); ++index) {
            const int x = 2 + 8 * static_cast<int>(index / 2);
            const int y = 3 + 8 * static_cast<int>(index % 2);
            ExpectClose(result[index]->Features(), dense.CoOccurrence(x, y),
                        "dx[0] " + std::to_string(c.dx[0]) + " window " + std::to_string(index));
        }
    }
}

TEST(CoOccurrenceMatrixTest, OppositeDisplacementsGiveIdenticalValues) {
    const auto image = RandomImage(30, 30, 3);
    const auto square = MakeRectangle(0, 0, 30, 30);
    CoOccurrenceMatrix forward(6, {1, 2}, {0, 1});
    CoOccurrenceMatrix backward(6, {-1, -2}, {0, -1});
    const auto there = Extract(forward, image, {square});
    const auto back = Extract(backward, image, {square});
    ASSERT_EQ(there.size(), 25u);
    ASSERT_EQ(back.size(), there.size());
    for (std::size_t index = 0; index < there.size(); ++index) {
        EXPECT_EQ(there[index]->Features(), back[index]->Features()) << "window " << index;
    }
}

TEST(CoOccurrenceMatrixTest, UniformWindowGivesTheClosedFormValues) {
    const auto image = MakeImage(6, 6, [](int, int) { return Rgb{90, 0, 255}; });
    const double epsilon = std::numeric_limits<double>::epsilon();
    for (const auto& [dx, dy] : std::vector<std::pair<int, int>>{{1, 0}, {0, 0}, {-2, 3}}) {
        CoOccurrenceMatrix extractor(4, {dx}, {dy});
        const auto result = Extract(extractor, image, {MakeRectangle(1, 1, 5, 5)});
        ASSERT_EQ(result.size(), 1u);
        const int levels[3] = {90, 0, 255};
        for (int band = 0; band < 3; ++band) {
            const double level = levels[band];
            // One cell of one third; the row-level mean is a third of the level.
            const double deviation = std::sqrt((level - level / 3) * (level - level / 3) / 3);
            const double entropy = std::log(3.0) / 3 - 65535 * epsilon * std::log(epsilon);
            const std::vector<double> expected{1.0 / 3,   0,       0, level / 3,
                                               deviation, 1.0 / 9, 1, entropy};
            const auto& values = result[0]->Features()[band];
            ASSERT_EQ(values.size(), 8u);
            for (int i = 0; i < 8; ++i) {
                EXPECT_NEAR(values[i], expected[i], 1e-12 * std::abs(expected[i]))
                    << "(" << dx << ", " << dy << ") band " << band << " statistic " << i;
            }
        }
    }
}

TEST(CoOccurrenceMatrixTest, WindowPerPolygonRunsAgreeOnAnyThreadCount) {
    // As in a classification run: every window is a polygon of its own, so each thread's
    // histogram goes from polygon to polygon.
    const auto image = RandomImage(64, 48, 8);
    std::mt19937 generator(4);
    std::uniform_int_distribution<int> column(0, 56);
    std::uniform_int_distribution<int> row(0, 40);
    PolygonList polygons;
    for (int id = 0; id < 120; ++id) {
        const int x = column(generator);
        const int y = row(generator);
        polygons.push_back(MakeRectangle(x, y, x + 8, y + 8, "c", id));
    }
    CoOccurrenceMatrix extractor(8, {1, -1}, {1, 2});
    extractor.SetImage(image);
    DescriptorList alone;
    {
        util::ThreadLimit single(1);
        alone = extractor.Process(polygons);
    }
    const auto parallel = extractor.Process(polygons);
    ASSERT_EQ(parallel.size(), polygons.size());
    ASSERT_EQ(alone.size(), polygons.size());
    testing::DenseTexture<long double> dense(image, 8, {1, -1}, {1, 2});
    for (std::size_t index = 0; index < polygons.size(); ++index) {
        EXPECT_EQ(parallel[index]->PolygonId(), static_cast<int>(index));
        EXPECT_EQ(parallel[index]->Features(), alone[index]->Features()) << "polygon " << index;
        if (index % 20 == 0) {
            const auto corner = *polygons[index]->Begin();
            ExpectClose(parallel[index]->Features(), dense.CoOccurrence(corner.x(), corner.y()),
                        "polygon " + std::to_string(index));
        }
    }
}

}  // namespace
}  // namespace velkar::featureextraction
