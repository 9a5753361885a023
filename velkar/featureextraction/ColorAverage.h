#pragma once

// Describes every square window inside a polygon by its mean red, green and blue: 3 bands of
// one value each (band 0 red, 1 green, 2 blue), plus a 4th band with the mean luminance
// 0.2126 R + 0.7152 G + 0.0722 B when the monochromatic band is asked for. Normalisation
// divides each pixel's channels by R + G + B, and it takes effect only together with the
// monochromatic band: then bands 0-2 are mean chromaticities in 0-1 and band 3 stays in 0-255.
// A black pixel then counts as neutral grey: a third for each chromaticity. Window layout and
// parallel processing are the base's; the window size must be at least 1. Grids of overlapping
// windows are summed from summed-area tables over tiles of the batch: channel sums are exact
// whole numbers, real-valued means differ from the polygon path's by rounding only.

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

  protected:
    void DescribeGridWindows(const WindowGrid& grid, std::size_t first, std::size_t count,
                             double* features) override;

  private:
    DescriptorList ProcessPolygon(const math::Polygon& polygon) const;

    int windowSize;
    bool addMonochromaticBand;
    bool normalize;
};

}  // namespace velkar::featureextraction
