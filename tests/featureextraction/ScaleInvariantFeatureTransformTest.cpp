#include "velkar/featureextraction/ScaleInvariantFeatureTransform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "featureextraction/SiftImages.h"
#include "featureextraction/TestImages.h"
#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {
namespace {

using testing::Blob;
using testing::BlobImage;
using testing::MakeImage;
using testing::MakeRectangle;
using testing::Rgb;
using DescriptorList = FeatureExtractionAlgorithm::DescriptorList;
using PolygonList = FeatureExtractionAlgorithm::PolygonList;

DescriptorList Extract(std::shared_ptr<imageprocessing::ImageFileSystem> image,
                       PolygonList polygons) {
    return testing::Extract(ScaleInvariantFeatureTransform(), std::move(image),
                            std::move(polygons));
}

const std::vector<Blob> kBlobs{{14.0, 15.0, 2.5}, {44.0, 20.0, 3.0}, {28.0, 44.0, 2.0}};

TEST(ScaleInvariantFeatureTransformTest, IdentityAndSettings) {
    const ScaleInvariantFeatureTransform extractor;
    EXPECT_EQ(extractor.Name(), "Feature Extraction Algorithm");
    EXPECT_EQ(extractor.FileExtension(), "txt");
    EXPECT_EQ(extractor.Version(), "1.0");
    EXPECT_EQ(extractor.WindowSize(), 0);
    EXPECT_EQ(extractor.FeatureCount(), 128);
    EXPECT_EQ(extractor.Octaves(), 4);
    EXPECT_EQ(extractor.Intervals(), 3);
    EXPECT_THROW(ScaleInvariantFeatureTransform(0, 3), std::invalid_argument);
    EXPECT_THROW(ScaleInvariantFeatureTransform(4, 0), std::invalid_argument);
}

TEST(ScaleInvariantFeatureTransformTest, UniformBoxesYieldNothing) {
    for (int level : {0, 128, 255}) {
        const auto image = MakeImage(40, 40, [&](int, int) { return Rgb{level, level, level}; });
        EXPECT_TRUE(Extract(image, {MakeRectangle(0, 0, 40, 40)}).empty()) << level;
    }
    // A box wholly outside the image, one without area, and boxes too small for any extremum
    // once the octaves have shrunk them to nothing.
    const auto blobs = BlobImage(60, 60, kBlobs);
    EXPECT_TRUE(Extract(blobs, {MakeRectangle(100, 100, 140, 140), MakeRectangle(5, 5, 5, 40),
                                MakeRectangle(13, 14, 14, 15), MakeRectangle(12, 13, 15, 16)})
                    .empty());
}

TEST(ScaleInvariantFeatureTransformTest, BrightBlobsYieldKeypointsNearTheirCentres) {
    // Blobs well inside the box, so that the unsmoothed border bands stay dark.
    const std::vector<Blob> blobs{{30.0, 30.0, 2.5}, {66.0, 36.0, 3.0}, {40.0, 66.0, 2.0}};
    const auto descriptors =
        Extract(BlobImage(96, 96, blobs), {MakeRectangle(0, 0, 96, 96, "blobs", 3)});
    ASSERT_FALSE(descriptors.empty());
    std::vector<int> centred(blobs.size(), 0);
    std::size_t close = 0;
    for (const auto& descriptor : descriptors) {
        EXPECT_EQ(descriptor->Class(), "blobs");
        EXPECT_EQ(descriptor->PolygonId(), 3);
        double closest = 1e9;
        std::size_t which = 0;
        for (std::size_t n = 0; n < blobs.size(); ++n) {
            const double distance =
                std::hypot(descriptor->X() - blobs[n].x, descriptor->Y() - blobs[n].y);
            if (distance < closest) {
                closest = distance;
                which = n;
            }
        }
        // Coarser scales also answer to the blobs' flanks, but nothing lies in the empty ground.
        EXPECT_LE(closest, 15.0) << "keypoint at " << descriptor->X() << ", " << descriptor->Y();
        close += closest <= 2.0 ? 1 : 0;
        centred[which] += closest <= 1.0 ? 1 : 0;
    }
    EXPECT_GT(2 * close, descriptors.size());
    for (std::size_t n = 0; n < blobs.size(); ++n) {
        EXPECT_GT(centred[n], 0) << "no keypoint at the centre of blob " << n;
    }
}

TEST(ScaleInvariantFeatureTransformTest, PositionsAreRelativeToTheBoxAndBandsAreKept) {
    // The same blobs, in the green band only, drawn 30 columns and 10 rows further in a larger
    // image: the same descriptors, in the same box coordinates.
    std::vector<Blob> shifted = kBlobs;
    for (Blob& blob : shifted) {
        blob.x += 30.0;
        blob.y += 10.0;
    }
    const auto reference = Extract(BlobImage(60, 60, kBlobs, 1), {MakeRectangle(0, 0, 60, 60)});
    const auto moved =
        Extract(BlobImage(100, 80, shifted, 1), {MakeRectangle(30, 10, 90, 70, "moved", 8)});
    ASSERT_FALSE(reference.empty());
    ASSERT_EQ(moved.size(), reference.size());
    for (std::size_t n = 0; n < moved.size(); ++n) {
        EXPECT_EQ(moved[n]->Band(), 1);
        EXPECT_EQ(moved[n]->X(), reference[n]->X());
        EXPECT_EQ(moved[n]->Y(), reference[n]->Y());
        EXPECT_EQ(moved[n]->Features(), reference[n]->Features());
        EXPECT_EQ(moved[n]->PolygonId(), 8);
    }

    // A box reaching past the image's left and top edges describes the part inside, with
    // positions still counted from the box's corner.
    const auto clipped = Extract(BlobImage(60, 60, kBlobs, 1), {MakeRectangle(-30, -10, 60, 60)});
    ASSERT_EQ(clipped.size(), reference.size());
    for (std::size_t n = 0; n < clipped.size(); ++n) {
        EXPECT_EQ(clipped[n]->X(), reference[n]->X() + 30);
        EXPECT_EQ(clipped[n]->Y(), reference[n]->Y() + 10);
        EXPECT_EQ(clipped[n]->Features(), reference[n]->Features());
    }
}

TEST(ScaleInvariantFeatureTransformTest, DescriptorsKeypointsAndThreadCounts) {
    // Blobs of many sizes in three different colour patterns: many keypoints of every kind.
    std::vector<Blob> blobs;
    for (int n = 0; n < 12; ++n) {
        blobs.push_back({6.0 + (n * 17) % 52, 5.0 + (n * 23) % 54, 1.2 + (n % 5) * 0.7});
    }
    const auto image = MakeImage(70, 64, [&](int x, int y) {
        const int level = testing::BlobLevel(blobs, x, y);
        return Rgb{level, (level * 3 + x) % 256, (x * y) % 7 * 30};
    });
    const auto box = MakeRectangle(5, 0, 70, 64);
    ScaleInvariantFeatureTransform extractor;
    EXPECT_THROW(extractor.Keypoints(*box), std::logic_error);
    extractor.SetImage(image);
    PolygonList polygons{box};
    const auto descriptors = extractor.Process(polygons);
    const auto keypoints = extractor.Keypoints(*box);
    ASSERT_GT(descriptors.size(), 20u);
    ASSERT_EQ(keypoints.size(), descriptors.size());
    std::vector<int> perBand(3, 0);
    for (std::size_t n = 0; n < keypoints.size(); ++n) {
        // 128 finite values of norm 1.
        const auto& values = descriptors[n]->Features().at(0);
        ASSERT_EQ(values.size(), 128u);
        double squares = 0.0;
        for (double value : values) {
            ASSERT_TRUE(std::isfinite(value) && value >= 0.0) << value;
            squares += value * value;
        }
        EXPECT_NEAR(squares, 1.0, 1e-12);
        EXPECT_EQ(static_cast<int>(keypoints[n].x), descriptors[n]->X());
        EXPECT_EQ(static_cast<int>(keypoints[n].y), descriptors[n]->Y());
        EXPECT_TRUE(descriptors[n]->X() >= 0 && descriptors[n]->X() < 65 &&
                    descriptors[n]->Y() >= 0 && descriptors[n]->Y() < 64);
        ++perBand.at(static_cast<std::size_t>(descriptors[n]->Band()));
        EXPECT_EQ(keypoints[n].band, descriptors[n]->Band());
        EXPECT_GT(keypoints[n].scale, 0.0);
        EXPECT_TRUE(keypoints[n].orientation >= -3.141592653589793 &&
                    keypoints[n].orientation < 3.141592653589793);
    }
    EXPECT_TRUE(perBand[0] > 0 && perBand[1] > 0 && perBand[2] > 0);

    // One thread finds the same keypoints in the same order.
    const util::ThreadLimit limit(1);
    const auto single = extractor.Process(polygons);
    ASSERT_EQ(single.size(), descriptors.size());
    for (std::size_t n = 0; n < single.size(); ++n) {
        EXPECT_EQ(single[n]->Features(), descriptors[n]->Features());
    }
}

}  // namespace
}  // namespace velkar::featureextraction
