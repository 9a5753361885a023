#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

#include "featureextraction/TestImages.h"

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

}  // namespace
}  // namespace velkar::featureextraction
