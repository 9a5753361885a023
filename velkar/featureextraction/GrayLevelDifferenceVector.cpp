#include "velkar/featureextraction/GrayLevelDifferenceVector.h"

#include <utility>

namespace velkar::featureextraction {

GrayLevelDifferenceVector::GrayLevelDifferenceVector(int windowSize, std::vector<int> dx,
                                                     std::vector<int> dy)
    : TextureHistogramExtractor(windowSize, std::move(dx), std::move(dy),
                                TextureHistogram2D::kLevels) {}

std::string GrayLevelDifferenceVector::Name() const { return "Gray Level Difference Vector"; }

std::string GrayLevelDifferenceVector::FileExtension() const { return "glo"; }

void GrayLevelDifferenceVector::Fold(const TextureHistogram2D::Histogram& histogram,
                                     int displacement, int band, double* out) const {
    // Empty cells add nothing, so the occupied upper-triangle cells are all there is to fold.
    for (const auto& cell : histogram.OccupiedCells(displacement, band)) {
        out[cell.c - cell.a] += histogram.Share(displacement, cell);
    }
}

}  // namespace velkar::featureextraction
