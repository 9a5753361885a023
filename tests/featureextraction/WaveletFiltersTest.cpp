#include "velkar/featureextraction/WaveletFilters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numbers>
#include <numeric>
#include <span>
#include <string>
#include <vector>

namespace velkar::featureextraction {
namespace {

// sum over t of a[t] b[t + shift], taps outside b counting as zero.
double ShiftedProduct(std::span<const double> a, std::span<const double> b, int shift) {
    double sum = 0.0;
    for (int t = std::max(0, -shift); t < static_cast<int>(a.size()); ++t) {
        if (t + shift < static_cast<int>(b.size())) {
            sum += a[static_cast<std::size_t>(t)] * b[static_cast<std::size_t>(t + shift)];
        }
    }
    return sum;
}

std::vector<double> Taps(const char* name, bool low) {
    const WaveletFilterPair* entry = FindWaveletFilters(name);
    const std::span<const double> taps = low ? entry->lowPass : entry->highPass;
    return {taps.begin(), taps.end()};
}

TEST(WaveletFiltersTest, CatalogueHoldsTheFortyNamesAndFindsOnlyExactOnes) {
    std::vector<std::string> expected{"haar"};
    for (const auto& [family, first, last] :
         {std::tuple{"db", 1, 10}, {"coif", 1, 5}, {"sym", 2, 10}}) {
        for (int order = first; order <= last; ++order) {
            expected.push_back(family + std::to_string(order));
        }
    }
    for (const char* order : {"1.1", "1.3", "1.5", "2.2", "2.4", "2.6", "2.8", "3.1", "3.3", "3.5",
                              "3.7", "3.9", "4.4", "5.5", "6.8"}) {
        expected.push_back(std::string("bior") + order);
    }
    std::vector<std::string> names;
    for (const WaveletFilterPair& entry : WaveletFilterCatalogue()) {
        names.emplace_back(entry.name);
        EXPECT_EQ(FindWaveletFilters(entry.name), &entry);
    }
    EXPECT_EQ(names, expected);
    for (const char* unknown : {"Haar", "DB2", "db11", "sym1", "coif6", "bior1.2", "", " haar"}) {
        EXPECT_EQ(FindWaveletFilters(unknown), nullptr) << unknown;
    }
}

// Low-pass h and high-pass g of every entry: h sums to sqrt(2) and g to 0; the synthesis low-pass
// implied by g (its alternating flip) sums to sqrt(2) and is biorthogonal to h under even shifts,
// which fails for a swapped, unreversed, misaligned or mismatched pair. The orthogonal families
// are orthonormal under even shifts as well. pywt's symlet tables hold to about 1e-12.
TEST(WaveletFiltersTest, EveryPairFormsAPerfectReconstructionFilterBank) {
    for (const WaveletFilterPair& entry : WaveletFilterCatalogue()) {
        SCOPED_TRACE(std::string(entry.name));
        const std::span<const double> low = entry.lowPass;
        const std::span<const double> high = entry.highPass;
        const int length = static_cast<int>(low.size());
        ASSERT_EQ(high.size(), low.size());
        ASSERT_EQ(length % 2, 0);
        EXPECT_NEAR(std::accumulate(low.begin(), low.end(), 0.0), std::numbers::sqrt2, 1e-12);
        EXPECT_NEAR(std::accumulate(high.begin(), high.end(), 0.0), 0.0, 1e-10);
        std::vector<double> synthesis;
        for (int t = 0; t < length; ++t) {
            synthesis.push_back((t % 2 == 0 ? -1.0 : 1.0) *
                                high[static_cast<std::size_t>(length - 1 - t)]);
        }
        EXPECT_NEAR(std::accumulate(synthesis.begin(), synthesis.end(), 0.0), std::numbers::sqrt2,
                    1e-12);
        const bool orthogonal = entry.name.rfind("bior", 0) != 0;
        for (int shift = 2 - length; shift < length - 1; shift += 2) {
            const double delta = shift == 0 ? 1.0 : 0.0;
            EXPECT_NEAR(ShiftedProduct(low, synthesis, shift), delta, 1e-11) << "shift " << shift;
            if (orthogonal) {
                EXPECT_NEAR(ShiftedProduct(low, low, shift), delta, 1e-11) << "shift " << shift;
            }
        }
    }
}

TEST(WaveletFiltersTest, SharedPairsHaarAndDb2HoldTheirPublishedValues) {
    for (const auto& [name, same] :
         {std::pair{"db1", "haar"}, {"bior1.1", "haar"}, {"sym2", "db2"}, {"sym3", "db3"}}) {
        EXPECT_EQ(Taps(name, true), Taps(same, true)) << name;
        EXPECT_EQ(Taps(name, false), Taps(same, false)) << name;
    }
    const double root = std::numbers::sqrt2 / 2.0;  // 1/sqrt(2), correctly rounded
    EXPECT_EQ(Taps("haar", true), (std::vector<double>{root, root}));
    EXPECT_EQ(Taps("haar", false), (std::vector<double>{root, -root}));
    EXPECT_EQ(Taps("db2", true), (std::vector<double>{0.48296291314469025, 0.836516303737469,
                                                      0.22414386804185735, -0.12940952255092145}));
    EXPECT_EQ(Taps("db2", false), (std::vector<double>{-0.12940952255092145, -0.22414386804185735,
                                                       0.836516303737469, -0.48296291314469025}));
    // Biorthogonal tables keep their zero taps: bior2.2 has six.
    EXPECT_EQ(Taps("bior2.2", true).size(), 6u);
    EXPECT_EQ(Taps("bior2.2", false)[0], 0.0);
}

}  // namespace
}  // namespace velkar::featureextraction
