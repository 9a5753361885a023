#include "velkar/featureextraction/CoOccurrenceMatrix.h"

#include <cmath>
#include <limits>
#include <utility>

namespace velkar::featureextraction {

namespace {

using Histogram = TextureHistogram2D::Histogram;

constexpr int kLevels = TextureHistogram2D::kLevels;
// An empty cell enters the entropy as this value instead of 0, whose logarithm is undefined.
constexpr double kEmptyCell = std::numeric_limits<double>::epsilon();

}  // namespace

CoOccurrenceMatrix::CoOccurrenceMatrix(int windowSize, std::vector<int> dx, std::vector<int> dy)
    : TextureHistogramExtractor(windowSize, std::move(dx), std::move(dy), kStatistics) {}

std::string CoOccurrenceMatrix::Name() const { return "Co-Occurrence Matrix"; }

std::string CoOccurrenceMatrix::FileExtension() const { return "cmo"; }

void CoOccurrenceMatrix::Fold(const Histogram& histogram, int displacement, int band,
                              double* out) const {
    Statistics(histogram, displacement, band, out);
}

void CoOccurrenceMatrix::Statistics(const Histogram& histogram, int displacement, int band,
                                    double* out) {
    // Every sum runs over the upper triangle with weight 1 on the diagonal and 2 off it. Cells
    // without a pair add nothing to any sum but the entropy, so only the occupied cells are
    // visited and the empty ones enter the entropy together, by their total weight.
    const std::vector<TextureHistogram2D::OccupiedCell>& cells =
        histogram.OccupiedCells(displacement, band);
    double homogeneity = 0.0;
    double contrast = 0.0;
    double dissimilarity = 0.0;
    double mean = 0.0;
    double energy = 0.0;
    double entropy = 0.0;
    double occupiedWeight = 0.0;
    for (const auto& cell : cells) {
        const double p = histogram.Share(displacement, cell);
        const double weight = cell.a == cell.c ? 1.0 : 2.0;
        const double difference = static_cast<double>(cell.a) - static_cast<double>(cell.c);
        homogeneity += weight * p / (1.0 + difference * difference);
        contrast += weight * p * difference * difference;
        dissimilarity += weight * p * std::abs(difference);
        mean += weight * p * cell.a;
        energy += weight * p * p;
        entropy -= weight * p * std::log(p);
        occupiedWeight += weight;
    }
    // The triangle's weights add up to kLevels^2: kLevels diagonal cells and twice the rest.
    const double emptyWeight = static_cast<double>(kLevels) * kLevels - occupiedWeight;
    entropy -= emptyWeight * kEmptyCell * std::log(kEmptyCell);

    double variance = 0.0;
    for (const auto& cell : cells) {
        const double weight = cell.a == cell.c ? 1.0 : 2.0;
        variance +=
            weight * histogram.Share(displacement, cell) * (cell.a - mean) * (cell.a - mean);
    }

    // Zero variance means every occupied row level equals the mean; since the band's weights
    // add up to one third, that happens only at row level 0 (a channel that is 0 over the
    // window, for one). A uniform window of any other level has correlation exactly 1, and 0
    // continues that instead of dividing 0 by 0.
    double correlation = 1.0;
    if (variance > 0.0) {
        double covariance = 0.0;
        for (const auto& cell : cells) {
            const double weight = cell.a == cell.c ? 1.0 : 2.0;
            covariance +=
                weight * histogram.Share(displacement, cell) * (cell.a - mean) * (cell.c - mean);
        }
        correlation = covariance / variance;
    }

    out[0] = homogeneity;
    out[1] = contrast;
    out[2] = dissimilarity;
    out[3] = mean;
    out[4] = std::sqrt(variance);
    out[5] = energy;
    out[6] = correlation;
    out[7] = entropy;
}

}  // namespace velkar::featureextraction
