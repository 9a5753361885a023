#pragma once

// Describes every square window inside a polygon by the distribution of absolute level differences
// between pixel pairs, per band of the image and displacement k = (dx[k], dy[k]): N bands (red,
// green, blue for a colour picture) of 256 n values, n = dx.size(), where value 256k + d of band b
// folds the co-occurrence matrix of displacement k (TextureHistogram2D) along its diagonals, upper
// triangle only: value 256k + 0 is the whole diagonal and value 256k + d, d > 0, one of the two
// equal halves of difference d; so a band adds up to its diagonal share plus half of the rest of
// its one third. Windows, histograms and threads are TextureHistogramExtractor's. The grid path
// counts each window's pairs per difference as it slides, which gives the same shares up to the
// polygon path's rounding.

#include <string>
#include <vector>

#include "velkar/featureextraction/TextureHistogram2D.h"
#include "velkar/featureextraction/TextureHistogramExtractor.h"

namespace velkar::featureextraction {

class GrayLevelDifferenceVector : public TextureHistogramExtractor {
  public:
    // Throws std::invalid_argument as TextureHistogram2D::CheckDisplacements does.
    GrayLevelDifferenceVector(int windowSize, std::vector<int> dx, std::vector<int> dy);

    std::string Name() const override;
    std::string FileExtension() const override;

  protected:
    void Fold(const TextureHistogram2D::Histogram& histogram, int displacement, int band,
              double* out) const override;
    void DescribeSlidingGrid(const WindowGrid& grid, std::size_t first, std::size_t count,
                             double* features) override;
};

}  // namespace velkar::featureextraction
