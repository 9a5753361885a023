#include "velkar/featureextraction/CoOccurrenceMatrix.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace velkar::featureextraction {

namespace {

using Histogram = TextureHistogram2D::Histogram;

constexpr int kLevels = TextureHistogram2D::kLevels;
// An empty cell enters the entropy as this value instead of 0, whose logarithm is undefined.
constexpr double kEmptyCell = std::numeric_limits<double>::epsilon();
const double kLogEmptyCell = std::log(kEmptyCell);

__extension__ typedef __int128 Int128;

// A real held exactly as a whole number of units 2^-scale, high * 2^32 + low of them. The grid
// path adds and removes such terms as pairs come and go, so its sums hold no rounding at all and
// a window's value is its terms' exact sum rounded once, whatever path the window came by.
struct FixedPoint {
    std::int64_t high;
    std::int64_t low;
};

// value * 2^scale must be a whole number.
FixedPoint ToFixedPoint(double value, int scale) {
    const double high = std::floor(std::ldexp(value, scale - 32));
    // The difference is value's lowest 32 bits of units, so it is exact.
    const double low = std::ldexp(value - std::ldexp(high, 32 - scale), scale);
    return {static_cast<std::int64_t>(high), static_cast<std::int64_t>(low)};
}

// The smallest scale at which every value is a whole number of units: a double's 53-bit
// significand ends 52 binary places below its leading bit.
int ExactScale(const std::vector<double>& values) {
    int scale = 0;
    for (const double value : values) {
        if (value != 0.0) {
            scale = std::max(scale, 52 - std::ilogb(value));
        }
    }
    return scale;
}

double ToDouble(Int128 value) {
    const auto narrow = static_cast<std::int64_t>(value);
    return narrow == value ? static_cast<double>(narrow) : static_cast<double>(value);
}

// 1 / (1 + d^2) for every level difference d, at a scale of 2^-68: d = 255 gives a value above
// 2^-16, whose last significand bit is 2^-68. A window's 2^16 pairs keep both halves' sums
// below 2^53, so they convert to double exactly.
constexpr int kHomogeneityScale = 68;
constexpr double kHomogeneityHighUnit = 0x1p-36;
constexpr double kHomogeneityLowUnit = 0x1p-68;

const std::array<FixedPoint, kLevels>& HomogeneityTerms() {
    static const std::array<FixedPoint, kLevels> terms = [] {
        std::array<FixedPoint, kLevels> made{};
        for (int d = 0; d < kLevels; ++d) {
            made[static_cast<std::size_t>(d)] =
                ToFixedPoint(1.0 / (1.0 + static_cast<double>(d) * d), kHomogeneityScale);
        }
        return made;
    }();
    return terms;
}

// What a cell holding n pairs adds to the sums that need the cells: the entropy term
// -weight p log p of its share p, and weight p^2 times divisor^2 (4 n^2 on the diagonal, where
// p = 2 n / divisor, and 2 n^2 off it, where p = n / divisor with weight 2) for the energy.
// Kept as the change from n to n + 1 pairs.
struct CellStep {
    std::int64_t entropyHigh;
    std::int64_t entropyLow;
    std::int64_t squares;
    // The cell's triangle weight when it becomes occupied.
    std::int64_t occupiedWeight;
};

// What the statistics of one displacement need besides the window's sums: its pairs per band,
// the divisor of its cells (twice its pairs times a band's share) and the steps of its cells.
struct DisplacementTerms {
    std::int64_t pairs;
    double divisor;
    // Units of the entropy sums: 2^(32 - scale) for the high word, 2^-scale for the low one.
    double entropyHighUnit;
    double entropyLowUnit;
    std::vector<CellStep> diagonalSteps;
    std::vector<CellStep> offDiagonalSteps;
};

DisplacementTerms MakeDisplacementTerms(int pairs) {
    constexpr int kShare = TextureHistogram2D::kBandShare;
    DisplacementTerms terms{pairs, 2.0 * kShare * static_cast<double>(pairs), 0.0, 0.0, {}, {}};
    const std::size_t size = static_cast<std::size_t>(pairs) + 1;
    std::vector<double> diagonal(size, 0.0);
    std::vector<double> offDiagonal(size, 0.0);
    for (std::size_t n = 1; n < size; ++n) {
        // The terms exactly as Statistics forms them from a cell's pair count.
        const double pairCount = static_cast<double>(n);
        const double diagonalShare = 2.0 * pairCount / terms.divisor;
        const double offDiagonalShare = pairCount / terms.divisor;
        diagonal[n] = -(1.0 * diagonalShare * std::log(diagonalShare));
        offDiagonal[n] = -(2.0 * offDiagonalShare * std::log(offDiagonalShare));
    }
    const int scale = std::max(ExactScale(diagonal), ExactScale(offDiagonal));
    terms.entropyHighUnit = std::ldexp(1.0, 32 - scale);
    terms.entropyLowUnit = std::ldexp(1.0, -scale);
    // squareFactor n^2 is what a cell of n pairs adds to the energy's sum of squares.
    const auto steps = [&](const std::vector<double>& values, std::int64_t squareFactor,
                           std::int64_t weight) {
        std::vector<CellStep> made(size - 1);
        FixedPoint previous = ToFixedPoint(values[0], scale);
        for (std::size_t n = 0; n + 1 < size; ++n) {
            const FixedPoint next = ToFixedPoint(values[n + 1], scale);
            const auto count = static_cast<std::int64_t>(n);
            made[n] = {next.high - previous.high, next.low - previous.low,
                       squareFactor * (2 * count + 1), n == 0 ? weight : 0};
            previous = next;
        }
        return made;
    };
    terms.diagonalSteps = steps(diagonal, 4, 1);
    terms.offDiagonalSteps = steps(offDiagonal, 2, 2);
    return terms;
}

// The sums of one displacement and band that need each cell's pair count, kept whole as pairs
// come and go. counts holds the pairs of every upper-triangle cell (low, high).
struct CellSums {
    std::uint16_t* counts;
    const CellStep* diagonalSteps;
    const CellStep* offDiagonalSteps;
    std::int64_t entropyHigh = 0;
    std::int64_t entropyLow = 0;
    std::int64_t squares = 0;
    std::int64_t occupiedWeight = 0;

    void Add(unsigned low, unsigned high) {
        std::uint16_t& cell = counts[low * kLevels + high];
        const unsigned n = cell;
        cell = static_cast<std::uint16_t>(n + 1);
        const CellStep& step = low == high ? diagonalSteps[n] : offDiagonalSteps[n];
        entropyHigh += step.entropyHigh;
        entropyLow += step.entropyLow;
        squares += step.squares;
        occupiedWeight += step.occupiedWeight;
    }

    void Remove(unsigned low, unsigned high) {
        std::uint16_t& cell = counts[low * kLevels + high];
        const unsigned n = cell - 1u;
        cell = static_cast<std::uint16_t>(n);
        const CellStep& step = low == high ? diagonalSteps[n] : offDiagonalSteps[n];
        entropyHigh -= step.entropyHigh;
        entropyLow -= step.entropyLow;
        squares -= step.squares;
        occupiedWeight -= step.occupiedWeight;
    }
};

class CellTally {
  public:
    CellTally(const std::vector<DisplacementTerms>& terms, int bands)
        : bands(bands),
          counts(terms.size() * static_cast<std::size_t>(bands) * kLevels * kLevels, 0) {
        for (const DisplacementTerms& displacement : terms) {
            for (int band = 0; band < bands; ++band) {
                CellSums cells{};
                cells.counts = counts.data() + sums.size() * kLevels * kLevels;
                cells.diagonalSteps = displacement.diagonalSteps.data();
                cells.offDiagonalSteps = displacement.offDiagonalSteps.data();
                sums.push_back(cells);
            }
        }
    }
    // The pointers into counts must follow the tally.
    CellTally(const CellTally&) = delete;
    CellTally& operator=(const CellTally&) = delete;
    CellTally(CellTally&&) = default;

    CellSums& Pairs(int k, int band) { return sums[static_cast<std::size_t>(k * bands + band)]; }

  private:
    int bands;
    std::vector<std::uint16_t> counts;
    std::vector<CellSums> sums;
};

// The sums of a window's pairs that need no cells: of the two levels low <= high, their
// squares and product, their difference d, its square and 1 / (1 + d^2).
struct LevelSums {
    std::int64_t low = 0;
    std::int64_t lowSquared = 0;
    std::int64_t high = 0;
    std::int64_t product = 0;
    std::int64_t difference = 0;
    std::int64_t differenceSquared = 0;
    std::int64_t homogeneityHigh = 0;
    std::int64_t homogeneityLow = 0;

    static LevelSums Of(unsigned lowLevel, unsigned highLevel) {
        const std::int64_t a = lowLevel;
        const std::int64_t c = highLevel;
        const FixedPoint& homogeneity = HomogeneityTerms()[highLevel - lowLevel];
        return {a, a * a, c, a * c, c - a, (c - a) * (c - a), homogeneity.high, homogeneity.low};
    }
    LevelSums& operator+=(const LevelSums& other) {
        low += other.low;
        lowSquared += other.lowSquared;
        high += other.high;
        product += other.product;
        difference += other.difference;
        differenceSquared += other.differenceSquared;
        homogeneityHigh += other.homogeneityHigh;
        homogeneityLow += other.homogeneityLow;
        return *this;
    }
    LevelSums& operator-=(const LevelSums& other) {
        low -= other.low;
        lowSquared -= other.lowSquared;
        high -= other.high;
        product -= other.product;
        difference -= other.difference;
        differenceSquared -= other.differenceSquared;
        homogeneityHigh -= other.homogeneityHigh;
        homogeneityLow -= other.homogeneityLow;
        return *this;
    }
};

// The statistics Statistics writes at 0-4 and 6, from a window's level sums: the sums over
// cells there become exact sums over pairs, as every cell's weight times share is
// 2 n / divisor.
void WriteLevelStatistics(const LevelSums& sums, const DisplacementTerms& terms, double* out) {
    // A band's cells sum to 1 / share.
    constexpr int share = TextureHistogram2D::kBandShare;
    const double divisor = terms.divisor;
    const Int128 low = sums.low;
    // The variance and covariance about mean = low / (share pairs), times share^2 pairs so
    // that they stay whole numbers.
    const Int128 scale = static_cast<Int128>(share) * share * terms.pairs;
    const Int128 variance = scale * sums.lowSquared - (2 * share - 1) * low * low;
    const Int128 covariance = scale * sums.product - share * low * (low + sums.high) + low * low;
    const double homogeneity = static_cast<double>(sums.homogeneityHigh) * kHomogeneityHighUnit +
                               static_cast<double>(sums.homogeneityLow) * kHomogeneityLowUnit;
    out[0] = 2.0 * homogeneity / divisor;
    out[1] = 2.0 * static_cast<double>(sums.differenceSquared) / divisor;
    out[2] = 2.0 * static_cast<double>(sums.difference) / divisor;
    out[3] = 2.0 * static_cast<double>(sums.low) / divisor;
    out[4] = std::sqrt(2.0 * ToDouble(variance) / (divisor * ToDouble(scale)));
    out[6] = variance > 0 ? ToDouble(covariance) / ToDouble(variance) : 1.0;
}

// The statistics Statistics writes at 5 and 7, from a window's cell sums.
void WriteCellStatistics(const CellSums& sums, const DisplacementTerms& terms, double* out) {
    out[5] = static_cast<double>(sums.squares) / (terms.divisor * terms.divisor);
    const double entropy = static_cast<double>(sums.entropyHigh) * terms.entropyHighUnit +
                           static_cast<double>(sums.entropyLow) * terms.entropyLowUnit;
    const double emptyWeight =
        static_cast<double>(kLevels) * kLevels - static_cast<double>(sums.occupiedWeight);
    out[7] = entropy - emptyWeight * kEmptyCell * kLogEmptyCell;
}

}  // namespace

CoOccurrenceMatrix::CoOccurrenceMatrix(int windowSize, std::vector<int> dx, std::vector<int> dy)
    : TextureHistogramExtractor(windowSize, std::move(dx), std::move(dy), kStatistics) {}

std::string CoOccurrenceMatrix::Name() const { return "Co-Occurrence Matrix"; }

std::string CoOccurrenceMatrix::FileExtension() const { return "cmo"; }

void CoOccurrenceMatrix::Fold(const Histogram& histogram, int displacement, int band,
                              double* out) const {
    Statistics(histogram, displacement, band, out);
}

void CoOccurrenceMatrix::DescribeSlidingGrid(const WindowGrid& grid, std::size_t first,
                                             std::size_t count, double* features) {
    const int bands = Bands();
    const int displacements = Displacements();
    std::vector<DisplacementTerms> terms;
    for (int k = 0; k < displacements; ++k) {
        terms.push_back(MakeDisplacementTerms(PairCount(k)));
    }
    const std::size_t length = static_cast<std::size_t>(FeatureCount());
    const auto valuesOf = [&](std::size_t n, int k, int band) {
        return features + n * length +
               static_cast<std::size_t>((band * displacements + k) * kStatistics);
    };
    SlideOverGrid(
        grid, first, count, [&] { return CellTally(terms, bands); },
        [&](SlidingTextureWindow& window, CellTally& tally, const GridBatch& batch,
            const GridBatch::Tile& tile) {
            window.Sweep(batch, tile, tally, [&](std::size_t n) {
                for (int k = 0; k < displacements; ++k) {
                    for (int band = 0; band < bands; ++band) {
                        WriteCellStatistics(tally.Pairs(k, band),
                                            terms[static_cast<std::size_t>(k)],
                                            valuesOf(n, k, band));
                    }
                }
            });
            window.SumPairTerms<LevelSums>(
                batch, tile, [&](std::size_t n, int k, int band, const LevelSums& sums) {
                    WriteLevelStatistics(sums, terms[static_cast<std::size_t>(k)],
                                         valuesOf(n, k, band));
                });
        });
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
