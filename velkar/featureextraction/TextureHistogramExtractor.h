#pragma once

// Base of the extractors that describe every square window inside a polygon by what they fold out
// of its grey-level co-occurrence matrices (TextureHistogram2D), one fold per band of the image and
// displacement k = (dx[k], dy[k]): N bands (red, green, blue for a colour picture) of v n values, n
// = dx.size(), where v values per displacement start at value v k. Process gives every worker
// thread one histogram, made on its first polygon and reused for every window after it (a window
// clears only the cells the one before it filled). Window layout and parallel processing are the
// base's.

#include <vector>

#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/featureextraction/TextureHistogram2D.h"

namespace velkar::featureextraction {

class TextureHistogramExtractor : public FeatureExtractionAlgorithm {
  public:
    int WindowSize() const override;
    int FeatureCount() const override;
    DescriptorList Process(PolygonList& polygons) override;

  protected:
    // Throws std::invalid_argument as TextureHistogram2D::CheckDisplacements does.
    TextureHistogramExtractor(int windowSize, std::vector<int> dx, std::vector<int> dy,
                              int valuesPerDisplacement);

    // Writes the values of displacement k on one band of a calculated histogram to
    // out[0] ... out[v - 1], which hold 0 when it is called.
    virtual void Fold(const TextureHistogram2D::Histogram& histogram, int displacement, int band,
                      double* out) const = 0;

  private:
    DescriptorList ProcessPolygon(const math::Polygon& polygon, const TextureHistogram2D& texture,
                                  TextureHistogram2D::Histogram& histogram) const;

    int windowSize;
    std::vector<int> dx;
    std::vector<int> dy;
    int valuesPerDisplacement;
};

}  // namespace velkar::featureextraction
