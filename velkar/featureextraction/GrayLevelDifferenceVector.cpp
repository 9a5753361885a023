#include "velkar/featureextraction/GrayLevelDifferenceVector.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace velkar::featureextraction {

namespace {

constexpr int kLevels = TextureHistogram2D::kLevels;

// The pairs of one displacement and band per level difference.
struct DifferenceCounts {
    std::uint32_t* counts;

    void Add(unsigned low, unsigned high) { ++counts[high - low]; }
    void Remove(unsigned low, unsigned high) { --counts[high - low]; }
};

class DifferenceTally {
  public:
    DifferenceTally(int displacements, int bands)
        : bands(bands), counts(static_cast<std::size_t>(displacements * bands) * kLevels, 0) {
        for (int index = 0; index < displacements * bands; ++index) {
            sums.push_back({counts.data() + static_cast<std::size_t>(index) * kLevels});
        }
    }
    // The pointers into counts must follow the tally.
    DifferenceTally(const DifferenceTally&) = delete;
    DifferenceTally& operator=(const DifferenceTally&) = delete;
    DifferenceTally(DifferenceTally&&) = default;

    DifferenceCounts& Pairs(int k, int band) {
        return sums[static_cast<std::size_t>(k * bands + band)];
    }
    const std::uint32_t* Counts(int k, int band) const {
        return sums[static_cast<std::size_t>(k * bands + band)].counts;
    }

  private:
    int bands;
    std::vector<std::uint32_t> counts;
    std::vector<DifferenceCounts> sums;
};

}  // namespace

GrayLevelDifferenceVector::GrayLevelDifferenceVector(int windowSize, std::vector<int> dx,
                                                     std::vector<int> dy)
    : TextureHistogramExtractor(windowSize, std::move(dx), std::move(dy),
                                TextureHistogram2D::kLevels) {}

std::string GrayLevelDifferenceVector::Name() const { return "Gray Level Difference Vector"; }

std::string GrayLevelDifferenceVector::FileExtension() const { return "glo"; }

void GrayLevelDifferenceVector::DescribeSlidingGrid(const WindowGrid& grid, std::size_t first,
                                                    std::size_t count, double* features) {
    const int bands = Bands();
    const int displacements = Displacements();
    // What one pair adds to a share: 1 / (twice the pairs times a band's share).
    std::vector<double> shares;
    for (int k = 0; k < displacements; ++k) {
        shares.push_back(
            1.0 / (2.0 * TextureHistogram2D::kBandShare * static_cast<double>(PairCount(k))));
    }
    const std::size_t length = static_cast<std::size_t>(FeatureCount());
    SlideOverGrid(
        grid, first, count, [&] { return DifferenceTally(displacements, bands); },
        [&](SlidingTextureWindow& window, DifferenceTally& tally, const GridBatch& batch,
            const GridBatch::Tile& tile) {
            window.Sweep(batch, tile, tally, [&](std::size_t n) {
                for (int band = 0; band < bands; ++band) {
                    for (int k = 0; k < displacements; ++k) {
                        const std::uint32_t* counts = tally.Counts(k, band);
                        const double share = shares[static_cast<std::size_t>(k)];
                        double* values =
                            features + n * length +
                            static_cast<std::size_t>((band * displacements + k) * kLevels);
                        // A pair of equal levels enters its diagonal cell twice, once per order.
                        values[0] = 2.0 * static_cast<double>(counts[0]) * share;
                        for (int d = 1; d < kLevels; ++d) {
                            values[d] = static_cast<double>(counts[d]) * share;
                        }
                    }
                }
            });
        });
}

void GrayLevelDifferenceVector::Fold(const TextureHistogram2D::Histogram& histogram,
                                     int displacement, int band, double* out) const {
    // Empty cells add nothing, so the occupied upper-triangle cells are all there is to fold.
    for (const auto& cell : histogram.OccupiedCells(displacement, band)) {
        out[cell.c - cell.a] += histogram.Share(displacement, cell);
    }
}

}  // namespace velkar::featureextraction
