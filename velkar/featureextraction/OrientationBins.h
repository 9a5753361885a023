#pragma once

// The orientation bins of the gradient histograms (Hog): K bins of width 6.28318 / K from
// -3.14159, the constants used as written; bin b takes the angles from the upper edge of bin
// b - 1 (included) to its own (excluded), the first bin having no lower limit and the last no
// upper one. Bin(di, dj) gives the bin of the angle atan2(di, dj) without calling atan2: an
// estimate of the angle within kEstimateError of it decides unless it lies within kMargin of an
// edge, where atan2 itself is taken, so the result is always the rule's. A plain value.

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace velkar::featureextraction {

class OrientationBins {
  public:
    // The lower limit of the first bin and the span of all bins, as written.
    static constexpr double kLowestAngle = -3.14159;
    static constexpr double kFullTurn = 6.28318;
    // EstimateAngle's largest error: the 8.2e-5 of its polynomial plus a few roundings. Angles
    // estimated within kMargin of an edge, a few in ten thousand, go to atan2.
    static constexpr double kEstimateError = 9e-5;
    static constexpr double kMargin = 3e-4;

    // bins >= 1.
    explicit OrientationBins(int bins);

    int Count() const { return bins; }
    // The bin of an angle by the rule.
    int BinOfAngle(double angle) const;
    // The bin of atan2(di, dj) for finite di and dj, not both 0.
    int Bin(double di, double dj) const;
    // The same bin when the estimate decides it, -1 when atan2 must: loops over many pixels
    // can settle those apart.
    int ClearBin(double di, double dj) const;
    // atan2(di, dj) within kEstimateError, from an odd polynomial and the quadrant of (dj, di).
    static double EstimateAngle(double di, double dj);

  private:
    // atan(u) on [-1, 1] as u (c0 + c1 u^2 + c2 u^4 + c3 u^6), fitted for the least largest
    // error (8.2e-5).
    static constexpr double kArctangent[] = {0.9992137890370109, -0.32117476901639036,
                                             0.1462640468778981, -0.038986269047371874};

    int bins;
    double inverseWidth;
    // Upper edge of every bin: -3.14159 + (k + 1) * (6.28318 / K).
    std::vector<double> upperEdges;
    // The range of every bin, infinite below the first and above the last.
    std::vector<double> lowerLimits;
    std::vector<double> upperLimits;
};

// These run once per pixel, so they are inline, and free of branches on the direction, which is
// as good as random from pixel to pixel.
inline double OrientationBins::EstimateAngle(double di, double dj) {
    // In the first quadrant the angle is pi / 4 + atan(u), u = (|di| - |dj|) / (|di| + |dj|) in
    // [-1, 1]; pi minus that when the gradient points up, and the sign of di.
    const double across = std::abs(di);
    const double down = std::abs(dj);
    const double u = (across - down) / (across + down);
    const double u2 = u * u;
    const double quadrant =
        std::numbers::pi / 4 +
        u * (kArctangent[0] + u2 * (kArctangent[1] + u2 * (kArctangent[2] + u2 * kArctangent[3])));
    const double upwards = dj < 0.0 ? 1.0 : 0.0;
    return std::copysign(quadrant + upwards * (std::numbers::pi - 2.0 * quadrant), di);
}

inline int OrientationBins::ClearBin(double di, double dj) const {
    if (bins == 1) {
        return 0;
    }
    const double angle = EstimateAngle(di, dj);
    // Angles below the lowest edge truncate towards bin 0, those above the last one clamp to it.
    const int bin =
        std::clamp(static_cast<int>((angle - kLowestAngle) * inverseWidth), 0, bins - 1);
    // The true angle lies within kEstimateError of the estimate, so an estimate at least kMargin
    // inside its bin's edges puts it in that bin.
    const std::size_t index = static_cast<std::size_t>(bin);
    const bool clear =
        (angle - kMargin >= lowerLimits[index]) & (angle + kMargin < upperLimits[index]);
    return clear ? bin : -1;
}

inline int OrientationBins::Bin(double di, double dj) const {
    const int bin = ClearBin(di, dj);
    return bin >= 0 ? bin : BinOfAngle(std::atan2(di, dj));
}

}  // namespace velkar::featureextraction
