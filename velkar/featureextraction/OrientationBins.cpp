#include "velkar/featureextraction/OrientationBins.h"

#include <algorithm>

namespace velkar::featureextraction {

OrientationBins::OrientationBins(int bins)
    : bins(bins), inverseWidth(static_cast<double>(bins) / kFullTurn) {
    for (int k = 1; k <= bins; ++k) {
        upperEdges.push_back(kLowestAngle + k * (kFullTurn / bins));
    }
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    for (int k = 0; k < bins; ++k) {
        const std::size_t index = static_cast<std::size_t>(k);
        lowerLimits.push_back(k == 0 ? -kInfinity : upperEdges[index - 1]);
        upperLimits.push_back(k == bins - 1 ? kInfinity : upperEdges[index]);
    }
}

int OrientationBins::BinOfAngle(double angle) const {
    // The estimate from the bin width is corrected against the edges themselves, so the result
    // is exactly the rule.
    int bin = static_cast<int>((angle - kLowestAngle) / (kFullTurn / bins));
    bin = std::clamp(bin, 0, bins - 1);
    while (bin > 0 && angle < upperEdges[static_cast<std::size_t>(bin - 1)]) {
        --bin;
    }
    while (bin < bins - 1 && angle >= upperEdges[static_cast<std::size_t>(bin)]) {
        ++bin;
    }
    return bin;
}

}  // namespace velkar::featureextraction
