#pragma once

// Describes the texture of every square window inside a polygon by eight statistics of its
// grey-level co-occurrence matrices (TextureHistogram2D), one set per band of the image and
// displacement k = (dx[k], dy[k]): N bands (red, green, blue for a colour picture) of 8 n values, n
// = dx.size(), where values 8k ... 8k + 7 are homogeneity, contrast, dissimilarity, mean, standard
// deviation, energy, correlation and entropy. Each statistic sums over the upper triangle a <= c
// with weight 1 on the diagonal and 2 off it; the mean and deviation are those of the row level a;
// empty cells enter the entropy as machine epsilon. A band of zero variance has correlation 1.
// Windows, histograms and threads are TextureHistogramExtractor's. The grid path
// keeps whole-number sums of each window's pairs up to date as it slides (level sums, squared
// cell counts, and exact fixed-point sums of the homogeneity and entropy terms), so a window's
// statistics come from a few sums instead of its cells; they equal the polygon path's to about
// 1e-15 relative, that path's own rounding.

#include <string>
#include <vector>

#include "velkar/featureextraction/TextureHistogram2D.h"
#include "velkar/featureextraction/TextureHistogramExtractor.h"

namespace velkar::featureextraction {

class CoOccurrenceMatrix : public TextureHistogramExtractor {
  public:
    static constexpr int kStatistics = 8;

    // Throws std::invalid_argument as TextureHistogram2D::CheckDisplacements does.
    CoOccurrenceMatrix(int windowSize, std::vector<int> dx, std::vector<int> dy);

    std::string Name() const override;
    std::string FileExtension() const override;

    // The eight statistics of displacement k on one band of a calculated histogram, written to
    // out[0] ... out[7].
    static void Statistics(const TextureHistogram2D::Histogram& histogram, int displacement,
                           int band, double* out);

  protected:
    void Fold(const TextureHistogram2D::Histogram& histogram, int displacement, int band,
              double* out) const override;
    void DescribeSlidingGrid(const WindowGrid& grid, std::size_t first, std::size_t count,
                             double* features) override;
};

}  // namespace velkar::featureextraction
