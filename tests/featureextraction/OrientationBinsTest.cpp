#include "velkar/featureextraction/OrientationBins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <set>
#include <vector>

#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {
namespace {

// The bin of an angle as the gradient histograms define it: the first k whose upper edge
// -3.14159 + k * (6.28318 / K) lies above the angle, the last bin when none does.
int DefinedBin(double angle, int bins) {
    int k = 1;
    while (k < bins && !(angle < -3.14159 + k * (6.28318 / bins))) {
        ++k;
    }
    return k - 1;
}

// Every difference two grey values (R + G + B) / 3 of 8-bit channels can have, as the extractor
// forms it: sum / 3.0 - sum' / 3.0 for sums 0 ... 765.
std::vector<double> GreyDifferences() {
    std::set<double> differences;
    for (int a = 0; a <= 765; ++a) {
        for (int b = 0; b <= 765; ++b) {
            differences.insert(a / 3.0 - b / 3.0);
        }
    }
    return {differences.begin(), differences.end()};
}

// Over every pair of grey differences the gradients can take (about 21 million), the estimate
// stays within its stated error of atan2, and the bin equals the defined bin of atan2 for bin
// counts whose edges fall on the axes (2, 4: there atan2 decides), near them, and close
// together.
TEST(OrientationBinsTest, EveryGreyGradientFallsInItsDefinedBin) {
    const std::vector<double> differences = GreyDifferences();
    ASSERT_EQ(differences.size(), 4573u);
    const std::vector<int> counts{1, 2, 3, 4, 9, 36};
    std::vector<OrientationBins> orientations;
    for (const int count : counts) {
        orientations.emplace_back(count);
    }
    std::atomic<long long> wrongBins{0};
    std::atomic<long long> pairs{0};
    util::Combinable<double> largestError([] { return 0.0; });
    util::ParallelFor(differences.size(), [&](std::size_t row) {
        const double di = differences[row];
        double& largest = largestError.Local();
        long long wrong = 0;
        long long seen = 0;
        for (const double dj : differences) {
            if (di == 0.0 && dj == 0.0) {
                continue;
            }
            ++seen;
            const double angle = std::atan2(di, dj);
            largest = std::max(largest, std::abs(OrientationBins::EstimateAngle(di, dj) - angle));
            for (std::size_t c = 0; c < counts.size(); ++c) {
                wrong += orientations[c].Bin(di, dj) != DefinedBin(angle, counts[c]) ? 1 : 0;
            }
        }
        wrongBins += wrong;
        pairs += seen;
    });
    EXPECT_EQ(pairs.load(), 4573LL * 4573LL - 1);
    EXPECT_EQ(wrongBins.load(), 0);
    const double largest = largestError.Combine([](double a, double b) { return std::max(a, b); });
    EXPECT_LT(largest, OrientationBins::kEstimateError);
}

// The rule at and around every edge, and the four axis directions, for angles given directly.
TEST(OrientationBinsTest, AnglesOnAndBesideTheEdges) {
    for (const int count : {1, 2, 3, 7, 9, 360}) {
        const OrientationBins orientations(count);
        EXPECT_EQ(orientations.Count(), count);
        EXPECT_EQ(orientations.BinOfAngle(-std::acos(-1.0)), 0);
        EXPECT_EQ(orientations.BinOfAngle(std::acos(-1.0)), count - 1);
        for (int k = 1; k < count; ++k) {
            const double edge = -3.14159 + k * (6.28318 / count);
            EXPECT_EQ(orientations.BinOfAngle(edge), k) << count << " bins, edge " << k;
            EXPECT_EQ(orientations.BinOfAngle(std::nextafter(edge, -4.0)), k - 1);
        }
        for (const auto& [di, dj] : std::vector<std::pair<double, double>>{
                 {0.0, 1.0}, {0.0, -1.0}, {1.0, 0.0}, {-1.0, 0.0}, {1e-300, -1.0}, {-5.0, 1e-9}}) {
            EXPECT_EQ(orientations.Bin(di, dj), DefinedBin(std::atan2(di, dj), count))
                << count << " bins, (" << di << ", " << dj << ")";
        }
    }
}

}  // namespace
}  // namespace velkar::featureextraction
