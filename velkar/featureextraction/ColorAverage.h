#pragma once

// Describes every square window inside a polygon by its mean red, green and blue: 3 bands of
// one value each (band 0 red, 1 green, 2 blue), plus a 4th band with the mean luminance
// 0.2126 R + 0.7152 G + 0.0722 B when the monochromatic band is asked for. Normalisation divides
// each pixel's channels by R + G + B and takes effect only with the monochromatic band: bands 0-2
// are then mean chromaticities in 0-1 (a black pixel counts a third for each). The window size
// must be at least 1. Overlapping grid windows are summed from exact summed-area tables over
// tiles of the batch: channel means equal the polygon path's, real-valued means (luminance,
// chromaticities) differ from them by the polygon path's own rounding; disjoint ones are equal.

#include <memory>
#include <string>

#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"

namespace velkar::featureextraction {

class ColorAverage : public FeatureExtractionAlgorithm {
  public:
    // Throws std::invalid_argument when windowSize < 1.
    ColorAverage(int windowSize, bool addMonochromaticBand, bool normalize);

    std::string Name() const override;
    std::string FileExtension() const override;
    int WindowSize() const override;
    int FeatureCount() const override;
    DescriptorList Process(PolygonList& polygons) override;
    FlatDescriptors DescribePolygons(PolygonList& polygons) override;

  protected:
    void DescribeGridWindows(const WindowGrid& grid, std::size_t first, std::size_t count,
                             double* features) override;

  private:
    DescriptorList ProcessPolygon(const math::Polygon& polygon) const;
    // Calls take(means) for every window of the polygon, means holding its bands.
    template <typename Take>
    void DescribeWindows(const math::Polygon& polygon, Take take) const;

    int windowSize;
    bool addMonochromaticBand;
    bool normalize;
};

}  // namespace velkar::featureextraction
