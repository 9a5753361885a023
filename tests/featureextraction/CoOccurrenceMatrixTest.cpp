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

using testing::Extract;
using testing::MakeRectangle;
using Bands = std::vector<std::vector<double>>;

// Red in a narrow range, green over the full range, blue a 0/255 checkerboard: every horizontal
// pair is (0, 255), a band of zero variance whose channel is not 0.
std::shared_ptr<imageprocessing::ImageFileSystem> RandomImage(int width, int height) {
    std::mt19937 generator(11);
    std::vector<testing::Rgb> pixels(static_cast<std::size_t>(width * height));
    for (int i = 0; i < width * height; ++i) {
        pixels[i] = {static_cast<int>(30 + generator() % 5), static_cast<int>(generator() % 256),
                     (i % width + i / width) % 2 * 255};
    }
    return testing::MakeImage(width, height, [&](int x, int y) { return pixels[y * width + x]; });
}

void ExpectClose(const Bands& actual, const Bands& expected, const std::string& where) {
    ASSERT_EQ(actual.size(), 3u) << where;
    for (std::size_t band = 0; band < 3; ++band) {
        ASSERT_EQ(actual[band].size(), expected[band].size()) << where;
        for (std::size_t i = 0; i < expected[band].size(); ++i) {
            EXPECT_NEAR(actual[band][i], expected[band][i], 1e-12 * std::abs(expected[band][i]))
                << where << " band " << band << " value " << i;
        }
    }
}

TEST(CoOccurrenceMatrixTest, DescriptorsEqualTheDenseDefinition) {
    const std::vector<std::pair<std::vector<int>, std::vector<int>>> cases{
        {{1}, {0}}, {{-1}, {0}}, {{0}, {0}}, {{-1}, {2}}, {{1, 0}, {0, 1}}, {{2, -1}, {-3, -1, 4}}};
    const auto image = RandomImage(30, 24);
    // Origins x = 2, 10, 18 and y = 3, 11: 6 windows, x-major.
    const auto rectangle = MakeRectangle(2, 3, 26, 20);
    std::vector<Bands> forward;
    for (const auto& [dx, dy] : cases) {
        const auto result = Extract(CoOccurrenceMatrix(8, dx, dy), image, {rectangle});
        testing::DenseTexture<long double> dense(image, 8, dx, dy);
        ASSERT_EQ(result.size(), 6u);
        for (std::size_t index = 0; index < result.size(); ++index) {
            ExpectClose(result[index]->Features(),
                        dense.CoOccurrence(2 + 8 * static_cast<int>(index / 2),
                                           3 + 8 * static_cast<int>(index % 2)),
                        "dx[0] " + std::to_string(dx[0]) + " window " + std::to_string(index));
            // (1, 0) and (-1, 0) count the same pairs, each in both orders.
            if (dx == std::vector<int>{1}) {
                forward.push_back(result[index]->Features());
            } else if (dx == std::vector<int>{-1} && dy[0] == 0) {
                EXPECT_EQ(result[index]->Features(), forward.at(index));
            }
        }
    }
    const CoOccurrenceMatrix two(5, {1, 0}, {0, 1, 9});
    EXPECT_EQ(two.Name(), "Co-Occurrence Matrix");
    EXPECT_EQ(two.FileExtension(), "cmo");
    EXPECT_EQ(two.Version(), "1.0");
    EXPECT_EQ(two.WindowSize(), 5);
    EXPECT_EQ(two.FeatureCount(), 48);
    EXPECT_THROW(CoOccurrenceMatrix(5, {5}, {0}), std::invalid_argument);
}

TEST(CoOccurrenceMatrixTest, UniformWindowGivesTheClosedFormValues) {
    const auto image = testing::MakeImage(6, 6, [](int, int) { return testing::Rgb{90, 0, 255}; });
    const double epsilon = std::numeric_limits<double>::epsilon();
    // One cell of one third; every other cell of the triangle is empty.
    const double entropy = std::log(3.0) / 3 - 65535 * epsilon * std::log(epsilon);
    for (const auto& [dx, dy] : std::vector<std::pair<int, int>>{{1, 0}, {0, 0}, {-2, 3}}) {
        const auto result =
            Extract(CoOccurrenceMatrix(4, {dx}, {dy}), image, {MakeRectangle(1, 1, 5, 5)});
        ASSERT_EQ(result.size(), 1u);
        Bands expected;
        for (const double level : {90.0, 0.0, 255.0}) {
            // The row-level mean is a third of the level; a band at level 0 has correlation 1.
            const double deviation = std::sqrt((level * 2 / 3) * (level * 2 / 3) / 3);
            expected.push_back({1.0 / 3, 0, 0, level / 3, deviation, 1.0 / 9, 1, entropy});
        }
        ExpectClose(result[0]->Features(), expected,
                    "(" + std::to_string(dx) + ", " + std::to_string(dy) + ")");
    }
}

TEST(CoOccurrenceMatrixTest, WindowPerPolygonRunsAgreeOnAnyThreadCount) {
    // As in a classification run every window is a polygon of its own, so each thread's
    // histogram goes from polygon to polygon.
    const auto image = RandomImage(64, 48);
    std::mt19937 generator(4);
    FeatureExtractionAlgorithm::PolygonList polygons;
    for (int id = 0; id < 120; ++id) {
        const int x = static_cast<int>(generator() % 57), y = static_cast<int>(generator() % 41);
        polygons.push_back(MakeRectangle(x, y, x + 8, y + 8, "c", id));
    }
    CoOccurrenceMatrix extractor(8, {1, -1}, {1, 2});
    extractor.SetImage(image);
    FeatureExtractionAlgorithm::DescriptorList alone;
    {
        util::ThreadLimit single(1);
        alone = extractor.Process(polygons);
    }
    const auto parallel = extractor.Process(polygons);
    ASSERT_EQ(parallel.size(), polygons.size());
    ASSERT_EQ(alone.size(), polygons.size());
    testing::DenseTexture<long double> dense(image, 8, {1, -1}, {1, 2});
    for (std::size_t index = 0; index < polygons.size(); ++index) {
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
