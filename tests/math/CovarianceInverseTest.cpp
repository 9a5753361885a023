#include "velkar/math/CovarianceInverse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using velkar::math::Matrix;

// The covariance (divisor N) of 40 random samples of n features, where feature k copies a
// combination of earlier ones when combined[k] and is constant when constant[k].
Matrix<double> Covariance(int n, const std::vector<bool>& combined,
                          const std::vector<bool>& constant, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> normal(0.0, 3.0);
    const int samples = 40;
    Matrix<double> x(samples, n);
    for (int i = 0; i < samples; ++i) {
        for (int k = 0; k < n; ++k) {
            x(i, k) = constant[k]   ? 7.0
                      : combined[k] ? 2.0 * x(i, 0) - 0.5 * x(i, k - 1)
                                    : normal(random);
        }
    }
    Matrix<double> s(n, n);
    for (int j = 0; j < n; ++j) {
        for (int k = 0; k < n; ++k) {
            double mj = 0.0;
            double mk = 0.0;
            for (int i = 0; i < samples; ++i) {
                mj += x(i, j);
                mk += x(i, k);
            }
            mj /= samples;
            mk /= samples;
            for (int i = 0; i < samples; ++i) {
                s(j, k) += (x(i, j) - mj) * (x(i, k) - mk) / samples;
            }
        }
    }
    return s;
}

// At full rank the inverse, otherwise a symmetric generalised inverse (s G s = s) that is 0 for
// features without variance, over random covariances of several ranks.
TEST(CovarianceInverseTest, InverseAtFullRankGeneralisedInverseBelow) {
    struct Case {
        std::vector<bool> combined;
        std::vector<bool> constant;
    };
    const std::vector<Case> cases = {
        {{false, false, false}, {false, false, false}},
        {{false, false, true}, {false, false, false}},
        {{false, false, false, false}, {false, true, false, false}},
        {{false, false, true, true, false}, {false, false, false, false, true}},
        {{false}, {true}},
    };
    for (unsigned seed = 1; seed <= 4; ++seed) {
        for (const Case& c : cases) {
            const int n = static_cast<int>(c.combined.size());
            const Matrix<double> s = Covariance(n, c.combined, c.constant, seed);
            const Matrix<double> g = velkar::math::InverseOrPseudoInverse(s);
            const Matrix<double> sgs = s * g * s;
            const Matrix<double> sg = s * g;
            const bool fullRank =
                std::find(c.combined.begin(), c.combined.end(), true) == c.combined.end() &&
                std::find(c.constant.begin(), c.constant.end(), true) == c.constant.end();
            for (int j = 0; j < n; ++j) {
                for (int k = 0; k < n; ++k) {
                    EXPECT_NEAR(sgs(j, k), s(j, k), 1e-8 * (1.0 + std::abs(s(j, k))))
                        << seed << " " << n << " (" << j << ", " << k << ")";
                    EXPECT_NEAR(g(j, k), g(k, j), 1e-9 * (1.0 + std::abs(g(j, k))));
                    if (fullRank) {
                        EXPECT_NEAR(sg(j, k), j == k ? 1.0 : 0.0, 1e-9);
                    }
                    if (c.constant[j] || c.constant[k]) {
                        EXPECT_EQ(g(j, k), 0.0);
                    }
                }
            }
        }
    }
}

}  // namespace
