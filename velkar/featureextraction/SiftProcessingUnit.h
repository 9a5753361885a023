#pragma once

// The scale-space keypoints of one image (every colour band on its own) and their 128-value
// descriptors. The image is smoothed, doubled and smoothed again into octave 0; every octave
// holds intervals + 3 Gaussian levels (sigma 1.6 * 2^(i / intervals)), their intervals + 2
// differences, and the level of sigma 3.2 halved as the next octave's level 0. Keypoints are
// strict extrema among their 26 neighbours of at least 0.0075, localised to a stable position
// and kept off edges; each gets one oriented keypoint per orientation-histogram peak of at least
// 0.8 of the largest, and each oriented keypoint a descriptor (see SiftDescriptor). Call the
// steps in the order declared.

#include <memory>
#include <vector>

#include "velkar/featureextraction/Descriptor.h"
#include "velkar/featureextraction/SiftDescriptor.h"
#include "velkar/featureextraction/SiftKeypoint.h"
#include "velkar/imageprocessing/ImageMemory.h"
#include "velkar/math/Matrix.h"

namespace velkar::featureextraction {

class SiftProcessingUnit {
  public:
    using Image = imageprocessing::ImageMemory<double>;
    using KeypointList = std::vector<std::shared_ptr<SiftKeypoint>>;

    static constexpr int kDescriptorLength = SiftDescriptor::kLength;
    static constexpr int kDescriptorWindow = SiftDescriptor::kWindow;

    // image holds values in [0, 1]. Throws std::invalid_argument when octaves or intervals is
    // below 1.
    SiftProcessingUnit(const Image& image, int octaves, int intervals);

    void GenerateOctavesAndIntervals();
    void FindExtrema();
    void CalculateMagnitudesAndOrientations();
    void FindKeypoints();
    void ExtractKeypointDescriptors();
    void DestroyMagnitudesAndOrientations();

    // One descriptor per oriented keypoint in keypoint order, one band of 128 values, with the
    // keypoint's band and integer position; class and polygon id are left to the caller.
    std::vector<std::shared_ptr<Descriptor>> Descriptors() const;

    int Octaves() const { return octaves; }
    int Intervals() const { return intervals; }
    // Level 0 ... intervals + 2 of an octave, and its sigma.
    const Image& Level(int octave, int level) const;
    double Sigma(int octave, int level) const;
    // The keypoints that survived localisation, and the oriented ones.
    const KeypointList& Keypoints() const { return keypoints; }
    const KeypointList& OrientedKeypoints() const { return orientedKeypoints; }
    // The oriented keypoints that received a descriptor, in the order of Descriptors().
    const KeypointList& DescribedKeypoints() const { return describedKeypoints; }

    // Localises a candidate keypoint of the difference image current (below and above are its
    // neighbouring levels): moves it to the extremum of the quadratic through its 3 x 3 x 3
    // neighbourhood, at most iterations times, then sets its sub-level offset and contrast.
    // True when it is kept: a stable position, a sub-level offset of at most half a level, and
    // principal curvatures in a ratio below the edge limit.
    bool IsGoodLocalizationAndCurvature(int band, int iterations, SiftKeypoint& keypoint,
                                        const Image& below, const Image& current,
                                        const Image& above) const;

    // See SiftDescriptor::Normalize.
    static bool NormalizeDescriptor(std::vector<double>& values) {
        return SiftDescriptor::Normalize(values);
    }

  private:
    // The sub-level and sub-pixel offset (level, y, x) that moves the keypoint to the extremum
    // of the quadratic through its 3 x 3 x 3 neighbourhood, and offset . gradient.
    math::Matrix<double> AdjustPointLocalization(int band, const SiftKeypoint& keypoint,
                                                 const Image& below, const Image& current,
                                                 const Image& above, double& dotGradient) const;
    void AssignOrientations(const SiftKeypoint& keypoint);
    // The 36-bin histogram of gradient directions around the keypoint, weighted by magnitude
    // and a Gaussian of 1.5 times its scale.
    std::vector<double> OrientationHistogram(const SiftKeypoint& keypoint) const;

    int octaves;
    int intervals;
    int bands;
    // [octave][level]
    std::vector<std::vector<Image>> levels;
    std::vector<std::vector<double>> sigmas;
    std::vector<std::vector<Image>> differences;
    // [octave][level - 1] for levels 1 ... intervals + 1; empty for levels without keypoints,
    // which nothing reads.
    std::vector<std::vector<Image>> magnitudes;
    std::vector<std::vector<Image>> orientations;
    KeypointList keypoints;
    KeypointList orientedKeypoints;
    // Oriented keypoints whose window held no gradient have no descriptor and are dropped.
    KeypointList describedKeypoints;
    std::vector<std::vector<double>> descriptors;
};

}  // namespace velkar::featureextraction
