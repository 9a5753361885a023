#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "featureextraction/TestImages.h"
#include "velkar/featureextraction/CoOccurrenceMatrix.h"
#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/featureextraction/FourierTransform.h"
#include "velkar/featureextraction/GrayLevelDifferenceVector.h"
#include "velkar/featureextraction/Hog.h"
#include "velkar/featureextraction/ScaleInvariantFeatureTransform.h"
#include "velkar/featureextraction/TextureHistogramExtractor.h"
#include "velkar/featureextraction/WaveletTransform.h"
#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {
namespace {

using testing::MakePolygon;
using testing::MakeRectangle;
using Origins = std::vector<std::pair<int, int>>;

// Describes every window by its origin, so tests can see the layout itself.
class WindowRecorder : public FeatureExtractionAlgorithm {
  public:
    explicit WindowRecorder(int windowSize, bool coveredCorners = false)
        : windowSize(windowSize), coveredCorners(coveredCorners) {}

    int WindowSize() const override { return windowSize; }
    int FeatureCount() const override { return 1; }

    DescriptorList Process(PolygonList& polygons) override {
        return ProcessPolygons(polygons, [this](const math::Polygon& polygon) {
            if (polygon.Id() == failingId) {
                throw std::runtime_error("cannot describe polygon " + std::to_string(failingId));
            }
            DescriptorList descriptors;
            auto record = [&](int x, int y) {
                auto descriptor = LabelledDescriptor(polygon, 1, 2);
                descriptor->Features()[0] = {static_cast<double>(x), static_cast<double>(y)};
                descriptors.push_back(descriptor);
            };
            if (coveredCorners) {
                ForEachCoveredWindow(polygon, windowSize, record);
            } else {
                ForEachWindow(polygon, windowSize, record);
            }
            return descriptors;
        });
    }

    int failingId = -1;

  private:
    int windowSize;
    bool coveredCorners;
};

std::shared_ptr<imageprocessing::ImageFileSystem> BlankImage(int width, int height) {
    return testing::MakeImage(width, height, [](int, int) { return testing::Rgb{0, 0, 0}; });
}

Origins WindowsOf(std::shared_ptr<math::Polygon> polygon, int windowSize, int imageWidth = 100,
                  int imageHeight = 100, bool coveredCorners = false) {
    WindowRecorder recorder(windowSize, coveredCorners);
    recorder.SetImage(BlankImage(imageWidth, imageHeight));
    FeatureExtractionAlgorithm::PolygonList polygons{std::move(polygon)};
    Origins origins;
    for (const auto& descriptor : recorder.Process(polygons)) {
        const auto& values = descriptor->Features().at(0);
        origins.emplace_back(static_cast<int>(values.at(0)), static_cast<int>(values.at(1)));
    }
    return origins;
}

TEST(FeatureExtractionAlgorithmTest, BaseIdentity) {
    WindowRecorder recorder(5);
    EXPECT_EQ(recorder.Name(), "Feature Extraction Algorithm");
    EXPECT_EQ(recorder.FileExtension(), "txt");
    EXPECT_EQ(recorder.Version(), "1.0");
}

TEST(FeatureExtractionAlgorithmTest, RectangleGridIsXMajorFromTheBoxMinimum) {
    const auto rectangle = MakeRectangle(0, 0, 20, 10);
    EXPECT_EQ(WindowsOf(rectangle, 5),
              (Origins{{0, 0}, {0, 5}, {5, 0}, {5, 5}, {10, 0}, {10, 5}, {15, 0}, {15, 5}}));
    EXPECT_EQ(WindowsOf(rectangle, 10), (Origins{{0, 0}, {10, 0}}));
    EXPECT_TRUE(WindowsOf(rectangle, 20).empty());
    // A box that is not a multiple of w leaves its far strip uncovered.
    EXPECT_EQ(WindowsOf(MakeRectangle(3, 4, 15, 11), 5), (Origins{{3, 4}, {8, 4}}));
}

TEST(FeatureExtractionAlgorithmTest, CornersOnTheBoundaryCount) {
    // Windows whose far corner (x + 5, y + 5) lies on the hypotenuse x + y = 20 are taken.
    EXPECT_EQ(WindowsOf(MakePolygon({{0, 0}, {20, 0}, {0, 20}}), 5),
              (Origins{{0, 0}, {0, 5}, {0, 10}, {5, 0}, {5, 5}, {10, 0}}));
}

TEST(FeatureExtractionAlgorithmTest, BoxesSmallerThanTheWindow) {
    EXPECT_TRUE(WindowsOf(MakeRectangle(0, 0, 4, 10), 5).empty());
    EXPECT_TRUE(WindowsOf(MakeRectangle(0, 0, 10, 4), 5).empty());
    // Testing the covered corner pixels, a box of exactly w - 1 still holds one window.
    EXPECT_EQ(WindowsOf(MakeRectangle(0, 0, 4, 4), 5, 100, 100, true), (Origins{{0, 0}}));
    EXPECT_TRUE(WindowsOf(MakeRectangle(0, 0, 3, 4), 5, 100, 100, true).empty());
    EXPECT_EQ(WindowsOf(MakeRectangle(0, 0, 20, 10), 5, 100, 100, true).size(), 8u);
}

TEST(FeatureExtractionAlgorithmTest, NegativeCoordinatesAndDegeneratePolygons) {
    // The grid stays anchored at (-3, -2); origins off the image are skipped.
    EXPECT_EQ(WindowsOf(MakeRectangle(-3, -2, 12, 10), 5), (Origins{{2, 3}, {7, 3}}));
    EXPECT_TRUE(WindowsOf(MakeRectangle(-30, -20, -5, -2), 5).empty());
    EXPECT_TRUE(WindowsOf(MakePolygon({}), 1).empty());
    EXPECT_TRUE(WindowsOf(MakePolygon({{2, 2}}), 1).empty());
}

TEST(FeatureExtractionAlgorithmTest, WindowsOutsideTheImageAreSkipped) {
    const auto rectangle = MakeRectangle(0, 0, 20, 10);
    EXPECT_EQ(WindowsOf(rectangle, 5, 12, 7), (Origins{{0, 0}, {5, 0}}));
    EXPECT_EQ(WindowsOf(rectangle, 5, 10, 10), (Origins{{0, 0}, {0, 5}, {5, 0}, {5, 5}}));
    EXPECT_TRUE(WindowsOf(rectangle, 5, 4, 10).empty());
    // Coordinates near the integer limit neither overflow nor make the loops run past the image.
    EXPECT_EQ(WindowsOf(MakeRectangle(0, 0, 2000000000, 2000000000), 1, 2, 2),
              (Origins{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));
    EXPECT_TRUE(WindowsOf(MakeRectangle(-2000000000, -2000000000, 2147483647, 2147483647),
                          2147483647, 50, 50)
                    .empty());
}

TEST(FeatureExtractionAlgorithmTest, GroupsKeepLabelsAndWindowOrder) {
    WindowRecorder recorder(5);
    recorder.SetImage(BlankImage(60, 60));
    FeatureExtractionAlgorithm::PolygonList polygons;
    std::map<int, Origins> expected;
    for (int id = 0; id < 40; ++id) {
        const int left = id % 7;
        polygons.push_back(
            MakeRectangle(left, id % 5, left + 5 + id % 20, 11, "c" + std::to_string(id), id));
        expected[id] = WindowsOf(polygons.back(), 5, 60, 60);
    }

    const auto result = recorder.Process(polygons);
    std::map<int, Origins> seen;
    int previousId = -1;
    for (const auto& descriptor : result) {
        const int id = descriptor->PolygonId();
        EXPECT_EQ(descriptor->Class(), "c" + std::to_string(id));
        // Each polygon's descriptors arrive as one contiguous group.
        if (id != previousId) {
            EXPECT_EQ(seen.count(id), 0u) << "group of polygon " << id << " is split";
            previousId = id;
        }
        const auto& values = descriptor->Features()[0];
        seen[id].emplace_back(static_cast<int>(values[0]), static_cast<int>(values[1]));
    }
    std::erase_if(expected, [](const auto& entry) { return entry.second.empty(); });
    EXPECT_EQ(seen, expected);
}

TEST(FeatureExtractionAlgorithmTest, MisuseIsReported) {
    WindowRecorder recorder(5);
    FeatureExtractionAlgorithm::PolygonList none;
    EXPECT_THROW(recorder.Process(none), std::logic_error);

    recorder.SetImage(BlankImage(10, 10));
    EXPECT_TRUE(recorder.Process(none).empty());
    FeatureExtractionAlgorithm::PolygonList withHole{MakeRectangle(0, 0, 5, 5), nullptr};
    EXPECT_THROW(recorder.Process(withHole), std::invalid_argument);

    WindowRecorder zeroWindow(0);
    zeroWindow.SetImage(BlankImage(10, 10));
    FeatureExtractionAlgorithm::PolygonList one{MakeRectangle(0, 0, 5, 5)};
    EXPECT_THROW(zeroWindow.Process(one), std::invalid_argument);
}

TEST(FeatureExtractionAlgorithmTest, ExceptionFromATaskReachesTheCaller) {
    WindowRecorder recorder(2);
    recorder.SetImage(BlankImage(20, 20));
    recorder.failingId = 13;
    FeatureExtractionAlgorithm::PolygonList polygons;
    for (int id = 0; id < 50; ++id) {
        polygons.push_back(MakeRectangle(0, 0, 20, 20, "c", id));
    }
    try {
        recorder.Process(polygons);
        FAIL() << "the task's exception was swallowed";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "cannot describe polygon 13");
    }
    recorder.failingId = -1;
    EXPECT_EQ(recorder.Process(polygons).size(), 50u * 100u);
}

// The windows of one polygon by the plain rule: every grid origin from the box's minimum corner
// whose four corners (reach past the origin) are contained and whose pixels lie in the image.
Origins BruteForceWindows(const math::Polygon& polygon, int w, int reach, int width, int height) {
    const auto box = polygon.Bounds();
    Origins origins;
    for (int x = boost::polygon::xl(box); x < boost::polygon::xh(box); x += w) {
        for (int y = boost::polygon::yl(box); y < boost::polygon::yh(box); y += w) {
            if (x >= 0 && y >= 0 && x + w <= width && y + w <= height && polygon.Contains(x, y) &&
                polygon.Contains(x + reach, y) && polygon.Contains(x + reach, y + reach) &&
                polygon.Contains(x, y + reach)) {
                origins.emplace_back(x, y);
            }
        }
    }
    return origins;
}

TEST(FeatureExtractionAlgorithmTest, LayoutsMatchTheFourCornerRuleOnRandomPolygons) {
    auto polygons = testing::RandomPolygons(60, 11, -10, 40, 45);
    // Concave shapes, where a window's corners can be inside while the lines between are not.
    polygons.push_back(MakePolygon({{0, 0}, {40, 0}, {40, 40}, {20, 10}, {0, 40}}));
    polygons.push_back(
        MakePolygon({{5, 0}, {10, 30}, {15, 0}, {20, 30}, {25, 0}, {30, 40}, {0, 40}}));
    polygons.push_back(MakePolygon({{0, 20}, {20, 0}, {40, 20}, {20, 40}}));
    for (const auto& polygon : polygons) {
        for (const int w : {1, 2, 3, 4, 7}) {
            EXPECT_EQ(WindowsOf(polygon, w, 45, 38), BruteForceWindows(*polygon, w, w, 45, 38))
                << "polygon " << polygon->Id() << ", window " << w;
            EXPECT_EQ(WindowsOf(polygon, w, 45, 38, true),
                      BruteForceWindows(*polygon, w, w - 1, 45, 38))
                << "polygon " << polygon->Id() << ", window " << w << ", covered corners";
        }
    }
}

// Gives polygon i (i % 3) descriptors of one value: 1000 minX + 10 minY + the descriptor's
// number, or, when asked, one descriptor of the wrong length.
class Echo : public FeatureExtractionAlgorithm {
  public:
    int WindowSize() const override { return 1; }
    int FeatureCount() const override { return 1; }
    DescriptorList Process(PolygonList& polygons) override {
        return ProcessPolygons(polygons, [this](const math::Polygon& polygon) {
            DescriptorList descriptors;
            const BoundingBox box = BoxOf(polygon);
            for (int k = 0; k < (wrongLength ? 1 : polygon.Id() % 3); ++k) {
                descriptors.push_back(LabelledDescriptor(polygon, 1, wrongLength ? 2 : 1));
                descriptors.back()->Features()[0][0] =
                    static_cast<double>(1000 * box.minX + 10 * box.minY + k);
            }
            return descriptors;
        });
    }
    bool wrongLength = false;
};

bool SameValue(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

TEST(FeatureExtractionAlgorithmTest, GridWindowsTakeTheirLastDescriptorOrNaN) {
    Echo echo;
    std::vector<double> features{1.0, 2.0};
    EXPECT_THROW(echo.DescribeGrid(WindowGrid(2, 1, 5, 5), 0, 1, features), std::logic_error);
    echo.SetImage(BlankImage(13, 9));
    const WindowGrid grid(4, 3, 13, 9);  // x 0, 3, 6, 9; y 0, 3
    for (const auto& [first, count] :
         std::vector<std::pair<std::size_t, std::size_t>>{{0, 8}, {3, 5}, {5, 1}, {8, 0}}) {
        echo.DescribeGrid(grid, first, count, features);
        ASSERT_EQ(features.size(), count);
        for (std::size_t n = 0; n < count; ++n) {
            // Windows are numbered from 0 within each call.
            const double origin = 3000.0 * static_cast<double>((first + n) / 2) +
                                  30.0 * static_cast<double>((first + n) % 2);
            const double expected = n % 3 == 0 ? std::numeric_limits<double>::quiet_NaN()
                                               : origin + static_cast<double>(n % 3 - 1);
            EXPECT_PRED2(SameValue, features[n], expected) << first << "+" << count << ": " << n;
        }
    }
    EXPECT_THROW(echo.DescribeGrid(WindowGrid(4, 1, 14, 9), 0, 1, features), std::invalid_argument);
    EXPECT_THROW(echo.DescribeGrid(WindowGrid(4, 1, 13, 10), 0, 1, features),
                 std::invalid_argument);
    EXPECT_THROW(echo.DescribeGrid(grid, 0, 9, features), std::out_of_range);
    EXPECT_THROW(echo.DescribeGrid(grid, 9, 0, features), std::out_of_range);
    EXPECT_THROW(echo.DescribeGrid(grid, 7, std::numeric_limits<std::size_t>::max(), features),
                 std::out_of_range);
    echo.wrongLength = true;
    EXPECT_THROW(echo.DescribeGrid(grid, 0, 8, features), std::logic_error);
}

// Bands in turn random, mostly 0 (zero variance, correlation 1) and of four levels (cells
// holding many pairs, the diagonal among them); red, green and blue for three bands. With
// absentShare > 0, about one pixel in absentShare is marked absent.
std::shared_ptr<imageprocessing::ImageFileSystem> MixedImage(int width, int height, unsigned seed,
                                                             int bands = 3,
                                                             unsigned absentShare = 0) {
    std::mt19937 generator(seed);
    auto image = imageprocessing::ImageFileSystem::Create("mixed.tif", width, height, bands);
    std::vector<unsigned char> absent(static_cast<std::size_t>(width) * height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned draw = generator();
            const int levels[3] = {static_cast<int>(draw % 256), (draw >> 8) % 9 == 0 ? 200 : 0,
                                   static_cast<int>((draw >> 12) % 4) * 85};
            for (int b = 0; b < bands; ++b) {
                image->SetPixel(x, y, b, static_cast<unsigned char>(levels[b % 3]));
            }
            if (absentShare > 0 && (draw >> 16) % absentShare == 0) {
                absent[static_cast<std::size_t>(y) * width + x] = 1;
            }
        }
    }
    if (absentShare > 0) {
        image->SetMask(std::move(absent));
    }
    return image;
}

// Every extractor of the library through the grid path, on the three grids of a classification
// run, for an even and an odd window size, in uneven batches on one thread and on two, against
// Process on one polygon spanning each window's pixels, on images of 3, 1 and 4 bands, the last
// with absent pixels (whose windows get NaN on both paths); the co-occurrence extractors also
// with a window too large to slide. Values are the very same, except where a path sums its own way:
// the colour average's real-valued means on overlapping grids and the co-occurrence extractors'
// values, which agree to 1e-13 relative (tight enough that an entropy with a wrong empty-cell
// weight fails). Every batching and thread count gives the same bits.
TEST(FeatureExtractionAlgorithmTest, GridPathGivesTheValuesOfOnePolygonPerWindow) {
    using Extractor = std::shared_ptr<FeatureExtractionAlgorithm>;
    enum class Match { kExact, kExactOnDisjointGrids, kClose };
    struct Case {
        std::string name;
        std::function<Extractor(int w)> make;
        Match match;
        bool threeBandsOnly = false;
    };
    const std::vector<int> dx{1, 0, -2};
    const std::vector<int> dy{0, 2, 1};
    const std::vector<Case> cases{
        {"colour average", [](int w) { return std::make_shared<ColorAverage>(w, false, false); },
         Match::kExact},
        {"colour average, normalised alone",
         [](int w) { return std::make_shared<ColorAverage>(w, false, true); }, Match::kExact, true},
        {"colour average, luminance",
         [](int w) { return std::make_shared<ColorAverage>(w, true, false); },
         Match::kExactOnDisjointGrids, true},
        {"colour average, chromaticities",
         [](int w) { return std::make_shared<ColorAverage>(w, true, true); },
         Match::kExactOnDisjointGrids, true},
        {"co-occurrence", [&](int w) { return std::make_shared<CoOccurrenceMatrix>(w, dx, dy); },
         Match::kClose},
        {"co-occurrence, one displacement (0, 0)",
         [](int w) {
             return std::make_shared<CoOccurrenceMatrix>(w, std::vector<int>{0},
                                                         std::vector<int>{0});
         },
         Match::kClose},
        {"grey-level differences",
         [&](int w) { return std::make_shared<GrayLevelDifferenceVector>(w, dx, dy); },
         Match::kClose},
        {"Fourier", [](int w) { return std::make_shared<FourierTransform>(w, 5); }, Match::kExact},
        {"Fourier, every coefficient",
         [](int w) { return std::make_shared<FourierTransform>(w, 80); }, Match::kExact},
        {"wavelets db2", [](int w) { return std::make_shared<WaveletTransform>(w, 1, "db2"); },
         Match::kExact},
        {"wavelets sym2, 3 levels",
         [](int w) { return std::make_shared<WaveletTransform>(w, 3, "sym2"); }, Match::kExact},
        {"wavelets coif1", [](int w) { return std::make_shared<WaveletTransform>(w, 2, "coif1"); },
         Match::kExact},
        {"gradient histograms", [](int) { return std::make_shared<Hog>(2, 2, 5); }, Match::kExact},
        // Finds no keypoint in most windows this small: NaN values stand for that.
        {"keypoints", [](int) { return std::make_shared<ScaleInvariantFeatureTransform>(1, 2); },
         Match::kExact},
    };
    struct Scene {
        int width;
        int height;
        std::vector<int> windowSizes;
        bool coOccurrenceOnly;
        int bands;
        unsigned absentShare;
    };
    const int large = TextureHistogramExtractor::kLargestSlidingWindow + 1;
    const std::vector<Scene> scenes{{37, 29, {6, 7}, false, 3, 0},
                                    {31, 26, {5, 6}, false, 1, 0},
                                    {31, 26, {5, 6}, false, 4, 60},
                                    {large + 3, large + 2, {large}, true, 3, 0},
                                    {large + 2, large + 2, {large}, true, 4, 0}};

    for (const Scene& scene : scenes) {
        const auto image = MixedImage(scene.width, scene.height, 5, scene.bands, scene.absentShare);
        for (const int w : scene.windowSizes) {
            for (const auto& [sampling, step] : std::vector<std::pair<std::string, int>>{
                     {"window", w}, {"half", w / 2}, {"pixel", 1}}) {
                // The windows of the grid, listed here the way a classification run lists them.
                Origins windows;
                for (int x = 0; x + w <= scene.width; x += step) {
                    for (int y = 0; y + w <= scene.height; y += step) {
                        windows.emplace_back(x, y);
                    }
                }
                const WindowGrid grid(w, step, scene.width, scene.height);
                ASSERT_EQ(grid.Count(), windows.size());

                std::size_t withAbsentPixels = 0;
                for (const auto& [x, y] : windows) {
                    for (int j = y; j < y + w; ++j) {
                        for (int i = x; i < x + w; ++i) {
                            if (image->IsAbsent(i, j)) {
                                ++withAbsentPixels;
                                j = y + w;
                                break;
                            }
                        }
                    }
                }
                // The masked scenes hold both kinds of window.
                ASSERT_EQ(scene.absentShare > 0, withAbsentPixels > 0);
                ASSERT_LT(withAbsentPixels, windows.size());

                for (const Case& row : cases) {
                    if ((scene.coOccurrenceOnly && row.match != Match::kClose) ||
                        (row.threeBandsOnly && scene.bands != 3)) {
                        continue;
                    }
                    SCOPED_TRACE(row.name + ", window " + std::to_string(w) + ", " + sampling +
                                 " grid, " + std::to_string(scene.bands) + " bands" +
                                 (scene.absentShare > 0 ? " with absent pixels" : ""));
                    const Extractor extractor = row.make(w);
                    extractor->SetImage(image);
                    const std::size_t length = static_cast<std::size_t>(extractor->FeatureCount());
                    std::vector<double> whole;
                    {
                        const util::ThreadLimit oneThread(1);
                        extractor->DescribeGrid(grid, 0, grid.Count(), whole);
                    }
                    std::vector<double> features;
                    const util::ThreadLimit twoThreads(2);
                    for (std::size_t first = 0, count = 1; first < grid.Count();
                         first += count, count = count * 3 + 2) {
                        count = std::min(count, grid.Count() - first);
                        std::vector<double> batch;
                        extractor->DescribeGrid(grid, first, count, batch);
                        ASSERT_EQ(batch.size(), count * length);
                        features.insert(features.end(), batch.begin(), batch.end());
                    }
                    ASSERT_EQ(features.size(), whole.size());
                    for (std::size_t k = 0; k < whole.size(); ++k) {
                        ASSERT_PRED2(SameValue, features[k], whole[k]) << "value " << k;
                    }

                    for (std::size_t index = 0; index < windows.size(); ++index) {
                        const auto [x, y] = windows[index];
                        FeatureExtractionAlgorithm::PolygonList one{
                            MakeRectangle(x, y, x + w, y + w)};
                        const auto descriptors = extractor->Process(one);
                        std::vector<double> expected(length,
                                                     std::numeric_limits<double>::quiet_NaN());
                        if (!descriptors.empty()) {
                            expected.clear();
                            for (const auto& band : descriptors.back()->Features()) {
                                expected.insert(expected.end(), band.begin(), band.end());
                            }
                        }
                        ASSERT_TRUE(!descriptors.empty() || row.name == "keypoints" ||
                                    scene.absentShare > 0);
                        for (std::size_t k = 0; k < length; ++k) {
                            const double value = features[index * length + k];
                            if (row.match == Match::kExact ||
                                (row.match == Match::kExactOnDisjointGrids && step >= w)) {
                                ASSERT_PRED2(SameValue, value, expected[k])
                                    << "window (" << x << ", " << y << "), value " << k;
                            } else if (std::isnan(expected[k])) {
                                ASSERT_TRUE(std::isnan(value))
                                    << "window (" << x << ", " << y << "), value " << k;
                            } else {
                                ASSERT_NEAR(value, expected[k], 1e-13 * std::abs(expected[k]))
                                    << "window (" << x << ", " << y << "), value " << k;
                            }
                        }
                    }
                }
            }
        }
    }
}

// DescribePolygons against Process for every extractor that describes polygons into one flat
// block: the same values to the last bit, descriptor after descriptor, with the polygon ids and
// the windows left out for absent pixels, on random rectangles and triangles (some reaching past
// the image) on one thread and on two, on a colour image and on one of four bands with absent
// pixels.
TEST(FeatureExtractionAlgorithmTest, FlatPolygonPathGivesTheValuesOfProcess) {
    auto polygons = testing::RandomPolygons(40, 17, -8, 50, 30);
    const std::vector<std::pair<std::string, std::shared_ptr<FeatureExtractionAlgorithm>>> cases{
        {"colour average", std::make_shared<ColorAverage>(4, false, false)},
        {"colour average, chromaticities", std::make_shared<ColorAverage>(4, true, true)},
        {"co-occurrence",
         std::make_shared<CoOccurrenceMatrix>(5, std::vector<int>{1, -1}, std::vector<int>{1, 2})},
        {"grey-level differences",
         std::make_shared<GrayLevelDifferenceVector>(3, std::vector<int>{0}, std::vector<int>{1})},
        {"Fourier", std::make_shared<FourierTransform>(7, 20)},
        {"wavelets", std::make_shared<WaveletTransform>(6, 2, "sym2")},
        {"wavelets, Haar", std::make_shared<WaveletTransform>(4, 2, "db1")},
        {"wavelets, long filter", std::make_shared<WaveletTransform>(4, 1, "db4")},
        {"wavelets, three levels", std::make_shared<WaveletTransform>(5, 3, "bior2.2")},
        {"gradient histograms", std::make_shared<Hog>(2, 1, 6)},
    };
    for (const auto& [bands, absentShare] :
         std::vector<std::pair<int, unsigned>>{{3, 0}, {4, 150}}) {
        const auto image = MixedImage(61, 53, 9, bands, absentShare);
        for (const auto& [name, extractor] : cases) {
            if (name == "colour average, chromaticities" && bands != 3) {
                continue;  // it needs red, green and blue
            }
            SCOPED_TRACE(name + ", " + std::to_string(bands) + " bands");
            extractor->SetImage(image);
            std::vector<double> values;
            std::vector<int> ids;
            for (const auto& descriptor : extractor->Process(polygons)) {
                for (const auto& band : descriptor->Features()) {
                    values.insert(values.end(), band.begin(), band.end());
                }
                ids.push_back(descriptor->PolygonId());
            }
            const std::map<int, long long> leftOut = extractor->TakeLeftOutWindows();
            ASSERT_GE(ids.size(), absentShare > 0 ? 15u : 40u);
            ASSERT_EQ(absentShare > 0, !leftOut.empty());
            for (const int threads : {1, 2}) {
                const util::ThreadLimit limit(threads);
                const auto flat = extractor->DescribePolygons(polygons);
                EXPECT_EQ(flat.polygonIds, ids) << threads << " threads";
                EXPECT_EQ(std::vector<double>(flat.values.begin(), flat.values.end()), values)
                    << threads << " threads";
                EXPECT_EQ(extractor->TakeLeftOutWindows(), leftOut) << threads << " threads";
            }
        }
    }
}

// The extractors defined per band describe every band of an image of any band count: band b of a
// four-band image's descriptors is band 0 of those of a three-band image made of band b alone.
// Before an image is set they count three bands.
TEST(FeatureExtractionAlgorithmTest, PerBandExtractorsDescribeEveryBandAlike) {
    struct Case {
        std::string name;
        std::function<std::unique_ptr<FeatureExtractionAlgorithm>()> make;
        int perBand;
    };
    const std::vector<Case> cases = {
        {"color average", [] { return std::make_unique<ColorAverage>(5, false, false); }, 1},
        {"co-occurrence",
         [] {
             return std::make_unique<CoOccurrenceMatrix>(6, std::vector<int>{1, 0},
                                                         std::vector<int>{0, 2});
         },
         16},
        {"grey-level difference",
         [] {
             return std::make_unique<GrayLevelDifferenceVector>(5, std::vector<int>{1},
                                                                std::vector<int>{1});
         },
         256},
        {"Fourier", [] { return std::make_unique<FourierTransform>(6, 9); }, 9},
        {"wavelet", [] { return std::make_unique<WaveletTransform>(8, 1, "db2"); }, 4},
    };
    const auto image = testing::RandomBands(26, 21, 4, 31);
    FeatureExtractionAlgorithm::PolygonList polygons = {
        MakeRectangle(0, 0, 26, 21, "a", 0), MakePolygon({{2, 1}, {25, 3}, {9, 20}}, "b", 1)};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto extractor = c.make();
        EXPECT_EQ(extractor->FeatureCount(), 3 * c.perBand);
        extractor->SetImage(image);
        EXPECT_EQ(extractor->FeatureCount(), 4 * c.perBand);
        const auto features = testing::AllFeatures(extractor->Process(polygons));
        ASSERT_FALSE(features.empty());
        for (int band = 0; band < 4; ++band) {
            const auto single = c.make();
            single->SetImage(testing::BandsOf(*image, {band, band, band}));
            const auto alone = testing::AllFeatures(single->Process(polygons));
            ASSERT_EQ(alone.size(), features.size());
            for (std::size_t d = 0; d < features.size(); ++d) {
                ASSERT_EQ(features[d].size(), 4u);
                ASSERT_EQ(features[d][static_cast<std::size_t>(band)].size(),
                          static_cast<std::size_t>(c.perBand));
                EXPECT_EQ(features[d][static_cast<std::size_t>(band)], alone[d][0])
                    << "descriptor " << d << ", band " << band;
            }
        }
    }
}

}  // namespace
}  // namespace velkar::featureextraction

namespace velkar::featureextraction {
namespace {

// A mask of scattered absent pixels and blocks of them: every layout keeps exactly the windows
// of the four-corner rule that hold no absent pixel, and counts the others per polygon; the
// gradient histograms drop a whole polygon whose box holds one.
TEST(FeatureExtractionAlgorithmTest, WindowsWithAbsentPixelsAreLeftOutAndCounted) {
    const int width = 45;
    const int height = 38;
    std::mt19937 random(29);
    std::vector<unsigned char> absent(static_cast<std::size_t>(width) * height, 0);
    for (unsigned char& flag : absent) {
        flag = random() % 40 == 0 ? 1 : 0;
    }
    for (int y = 20; y < 30; ++y) {
        for (int x = 30; x < 45; ++x) {
            absent[static_cast<std::size_t>(y) * width + x] = 1;
        }
    }
    auto image = BlankImage(width, height);
    image->SetMask(absent);
    const auto isAbsent = [&](int x0, int y0, int w, int h) {
        for (int y = std::max(y0, 0); y < std::min(y0 + h, height); ++y) {
            for (int x = std::max(x0, 0); x < std::min(x0 + w, width); ++x) {
                if (absent[static_cast<std::size_t>(y) * width + x] != 0) {
                    return true;
                }
            }
        }
        return false;
    };
    auto polygons = testing::RandomPolygons(40, 5, -5, 40, 30);
    for (const bool covered : {false, true}) {
        for (const int w : {1, 3, 5}) {
            WindowRecorder recorder(w, covered);
            recorder.SetImage(image);
            const auto descriptors = recorder.Process(polygons);
            std::map<int, Origins> kept;
            for (const auto& descriptor : descriptors) {
                const auto& values = descriptor->Features().at(0);
                kept[descriptor->PolygonId()].emplace_back(static_cast<int>(values.at(0)),
                                                           static_cast<int>(values.at(1)));
            }
            const std::map<int, long long> leftOut = recorder.TakeLeftOutWindows();
            for (const auto& polygon : polygons) {
                Origins expected;
                long long lost = 0;
                for (const auto& [x, y] :
                     BruteForceWindows(*polygon, w, covered ? w - 1 : w, width, height)) {
                    if (isAbsent(x, y, w, w)) {
                        ++lost;
                    } else {
                        expected.emplace_back(x, y);
                    }
                }
                EXPECT_EQ(kept[polygon->Id()], expected) << polygon->Id() << ", window " << w;
                const auto found = leftOut.find(polygon->Id());
                EXPECT_EQ(found == leftOut.end() ? 0 : found->second, lost)
                    << polygon->Id() << ", window " << w;
                EXPECT_TRUE(found == leftOut.end() || found->second > 0);
            }
            EXPECT_TRUE(recorder.TakeLeftOutWindows().empty());
        }
    }

    Hog hog(2, 2, 4);
    hog.SetImage(image);
    std::set<int> described;
    for (const auto& descriptor : hog.Process(polygons)) {
        described.insert(descriptor->PolygonId());
    }
    const std::map<int, long long> dropped = hog.TakeLeftOutWindows();
    for (const auto& polygon : polygons) {
        const auto box = polygon->Bounds();
        const bool lost = isAbsent(boost::polygon::xl(box), boost::polygon::yl(box),
                                   boost::polygon::xh(box) - boost::polygon::xl(box),
                                   boost::polygon::yh(box) - boost::polygon::yl(box));
        EXPECT_EQ(described.count(polygon->Id()), lost ? 0u : 1u) << polygon->Id();
        EXPECT_EQ(dropped.count(polygon->Id()), lost ? 1u : 0u) << polygon->Id();
    }
}

}  // namespace
}  // namespace velkar::featureextraction
