#include "velkar/math/CovarianceInverse.h"

#include <cmath>
#include <numeric>
#include <utility>
#include <vector>

namespace velkar::math {

namespace {

// A feature whose variance, after removing what the features chosen before it explain, is below
// this fraction of its own variance counts as a combination of those features.
constexpr double dependenceTolerance = 1e-9;

// Every feature's standard deviation (0 for a feature of zero variance) and the features of
// positive variance, in order.
struct Deviations {
    std::vector<double> scale;
    std::vector<int> varying;
};

Deviations DeviationsOf(const Matrix<double>& s) {
    Deviations deviations{std::vector<double>(static_cast<std::size_t>(s.Rows()), 0.0), {}};
    for (int j = 0; j < s.Rows(); ++j) {
        if (s(j, j) > 0.0) {
            deviations.varying.push_back(j);
            deviations.scale[static_cast<std::size_t>(j)] = std::sqrt(s(j, j));
        }
    }
    return deviations;
}

// r ~ g g^T for the correlation matrix r of the varying features: position i of the
// factorisation holds varying feature order[i], and columns 0 ... rank - 1 of g are filled.
struct PivotedFactor {
    std::vector<int> order;
    Matrix<double> g;
    int rank;
};

// A Cholesky factorisation of r that always continues with the feature of the largest remaining
// variance, and stops when every remaining feature is, up to dependenceTolerance, a linear
// combination of the chosen ones.
PivotedFactor PivotedCholesky(const Matrix<double>& s, const Deviations& deviations) {
    const std::vector<int>& varying = deviations.varying;
    const std::vector<double>& scale = deviations.scale;
    const int m = static_cast<int>(varying.size());
    auto correlation = [&](int a, int b) {
        const int j = varying[static_cast<std::size_t>(a)];
        const int k = varying[static_cast<std::size_t>(b)];
        return s(j, k) / (scale[static_cast<std::size_t>(j)] * scale[static_cast<std::size_t>(k)]);
    };

    std::vector<int> order(static_cast<std::size_t>(m));
    std::iota(order.begin(), order.end(), 0);
    std::vector<double> residual(static_cast<std::size_t>(m), 1.0);
    Matrix<double> g(m, m);
    int rank = 0;
    for (int k = 0; k < m; ++k) {
        int pivot = k;
        for (int i = k + 1; i < m; ++i) {
            if (residual[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])] >
                residual[static_cast<std::size_t>(order[static_cast<std::size_t>(pivot)])]) {
                pivot = i;
            }
        }
        const double pivotResidual =
            residual[static_cast<std::size_t>(order[static_cast<std::size_t>(pivot)])];
        if (!(pivotResidual > dependenceTolerance)) {
            break;
        }
        std::swap(order[static_cast<std::size_t>(k)], order[static_cast<std::size_t>(pivot)]);
        g.SwapRows(k, pivot);
        const double diagonal = std::sqrt(pivotResidual);
        g(k, k) = diagonal;
        for (int i = k + 1; i < m; ++i) {
            double value =
                correlation(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(k)]);
            for (int t = 0; t < k; ++t) {
                value -= g(i, t) * g(k, t);
            }
            value /= diagonal;
            g(i, k) = value;
            residual[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])] -= value * value;
        }
        rank = k + 1;
    }
    return {std::move(order), std::move(g), rank};
}

// The pseudo-inverse g (g^T g)^-2 g^T of r ~ g g^T, scaled back by the deviations into an
// n x n generalised inverse of s (0 in the rows and columns of features without variance).
Matrix<double> ScaledPseudoInverse(const PivotedFactor& factor, const Deviations& deviations,
                                   int n) {
    const Matrix<double>& g = factor.g;
    const int rank = factor.rank;
    const int m = static_cast<int>(deviations.varying.size());
    Matrix<double> gram(rank, rank);
    for (int a = 0; a < rank; ++a) {
        for (int b = 0; b < rank; ++b) {
            double sum = 0.0;
            for (int i = 0; i < m; ++i) {
                sum += g(i, a) * g(i, b);
            }
            gram(a, b) = sum;
        }
    }
    const Matrix<double> gramInverse = gram.Inverse();
    Matrix<double> w(m, rank);
    for (int i = 0; i < m; ++i) {
        for (int b = 0; b < rank; ++b) {
            double sum = 0.0;
            for (int a = 0; a < rank; ++a) {
                sum += g(i, a) * gramInverse(a, b);
            }
            w(i, b) = sum;
        }
    }
    const std::vector<double>& scale = deviations.scale;
    auto feature = [&](int position) {
        return deviations
            .varying[static_cast<std::size_t>(factor.order[static_cast<std::size_t>(position)])];
    };
    Matrix<double> result(n, n);
    for (int a = 0; a < m; ++a) {
        const int j = feature(a);
        for (int b = 0; b < m; ++b) {
            const int k = feature(b);
            double sum = 0.0;
            for (int t = 0; t < rank; ++t) {
                sum += w(a, t) * w(b, t);
            }
            result(j, k) =
                sum / (scale[static_cast<std::size_t>(j)] * scale[static_cast<std::size_t>(k)]);
        }
    }
    return result;
}

}  // namespace

Matrix<double> InverseOrPseudoInverse(const Matrix<double>& s) {
    const Deviations deviations = DeviationsOf(s);
    const PivotedFactor factor = PivotedCholesky(s, deviations);
    if (factor.rank == s.Rows()) {
        return s.Inverse();
    }
    return ScaledPseudoInverse(factor, deviations, s.Rows());
}

}  // namespace velkar::math
