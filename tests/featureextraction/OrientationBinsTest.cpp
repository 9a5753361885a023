#include "velkar/featureextraction/OrientationBins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <set>
#include <utility>
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

// Every difference two grey values of an image of the given bands can have, as the extractor
// forms them: the mean of the 8-bit levels, sum / bands for sums 0 ... 255 bands, subtracted.
std::vector<double> GreyDifferences(int bands) {
    std::set<double> differences;
    const int largest = 255 * bands;
    for (int a = 0; a <= largest; ++a) {
        for (int b = 0; b <= largest; ++b) {
            differences.insert(a / static_cast<double>(bands) - b / static_cast<double>(bands));
        }
    }
    return {differences.begin(), differences.end()};
}

// Over every pair of grey differences the gradients can take on images of 1 to 4 bands (about
// 39 million; 21 million for colour pictures), the estimate stays within its stated error of
// atan2, and the bin equals the defined bin of atan2 for bin counts whose edges fall on the axes
// (2, 4: there atan2 decides), near them, and close together.
TEST(OrientationBinsTest, EveryGreyGradientFallsInItsDefinedBin) {
    // Both differences of a gradient come from the same image, so pairs are taken within each
    // band count's list: list b of differences is [lists[b].first, lists[b].second).
    std::vector<double> differences;
    std::vector<std::size_t> listOf;
    std::vector<std::pair<std::size_t, std::size_t>> lists;
    for (int bands = 1; bands <= 4; ++bands) {
        const std::vector<double> ofBands = GreyDifferences(bands);
        // Thirds round apart into more differences than the 1531 exact ones.
        EXPECT_EQ(ofBands.size(), bands == 3 ? 4573u : 510u * bands + 1) << bands << " bands";
        lists.emplace_back(differences.size(), differences.size() + ofBands.size());
        listOf.insert(listOf.end(), ofBands.size(), lists.size() - 1);
        differences.insert(differences.end(), ofBands.begin(), ofBands.end());
    }
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
        const auto [begin, end] = lists[listOf[row]];
        double& largest = largestError.Local();
        long long wrong = 0;
        long long seen = 0;
        for (std::size_t column = begin; column < end; ++column) {
            const double dj = differences[column];
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
    EXPECT_EQ(pairs.load(), 511LL * 511 + 1021LL * 1021 + 4573LL * 4573 + 2041LL * 2041 - 4);
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
