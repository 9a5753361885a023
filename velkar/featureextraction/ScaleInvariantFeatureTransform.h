#pragma once

// Finds scale-space keypoints inside every polygon's bounding box and describes each by 128
// gradient-orientation values (see SiftProcessingUnit): one descriptor per oriented keypoint,
// one band of 128 values of norm 1, carrying the image band the keypoint was found in (every
// band of the image is searched on its own, red, green and blue of a colour picture) and its
// position (x, y) in the bounding-box image, plus the polygon's class and id. Only the part of
// the box inside the image is examined; positions stay relative to the box's minimum corner.
// It uses no windows: WindowSize() is 0. Polygons run in parallel; descriptors come polygon by
// polygon in input order, keypoint by keypoint within a polygon.

#include <string>
#include <vector>

#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/featureextraction/SiftKeypoint.h"

namespace velkar::featureextraction {

class ScaleInvariantFeatureTransform : public FeatureExtractionAlgorithm {
  public:
    // 4 octaves of 3 intervals.
    ScaleInvariantFeatureTransform();
    // Throws std::invalid_argument when octaves or intervals is below 1.
    ScaleInvariantFeatureTransform(int octaves, int intervals);

    int WindowSize() const override;
    int FeatureCount() const override;
    DescriptorList Process(PolygonList& polygons) override;

    // The keypoints behind one polygon's descriptors, in the same order, for drawing or
    // inspecting them: positions in the bounding-box image, scale as the sigma of the keypoint's
    // octave (scale * 2^octave / 2 in image pixels) and orientation in radians, measured from
    // the x axis towards the y axis (down the rows). Needs an image (std::logic_error).
    std::vector<SiftKeypoint> Keypoints(const math::Polygon& polygon) const;

    int Octaves() const { return octaves; }
    int Intervals() const { return intervals; }

  private:
    struct PolygonKeypoints {
        DescriptorList descriptors;
        std::vector<SiftKeypoint> keypoints;
    };

    DescriptorList ProcessPolygon(const math::Polygon& polygon) const;
    PolygonKeypoints Analyse(const math::Polygon& polygon) const;

    int octaves;
    int intervals;
};

}  // namespace velkar::featureextraction
