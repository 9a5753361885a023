#pragma once

// Describes every square window inside a polygon by the mean level of each band of the image:
// N bands of one value each, in the image's band order (red, green, blue for a colour picture).
// The monochromatic band asks for exactly three bands, red, green and blue, and gives 4 bands:
// the three means and the mean luminance 0.2126 R + 0.7152 G + 0.0722 B. Normalisation needs
// three bands too; it divides each pixel's channels by R + G + B and takes effect only with the
// monochromatic band: bands 0-2 are then mean chromaticities in 0-1 (a black pixel counts a third
// for each). Setting an image of another band count with either throws std::invalid_argument
// naming the setting. The window size must be at least 1. Overlapping grid windows are summed from exact summed-area tables over
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
    void CheckBandCount(int bandCount) const override;
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
