#include "velkar/patternrecognition/MahalanobisDistance.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <utility>

#include "velkar/patternrecognition/MatrixFile.h"
#include "velkar/patternrecognition/ModelTree.h"
#include "velkar/patternrecognition/TrainingSetCheck.h"
#include "velkar/util/InvalidParameter.h"
#include "velkar/util/Map.h"

namespace velkar::patternrecognition {

namespace {

using math::Matrix;

// A feature whose variance, after removing what the features chosen before it explain, is below
// this fraction of its own variance counts as a combination of those features.
constexpr double dependenceTolerance = 1e-9;

// The largest dimension whose covariance matrix stays within maxModelEntries.
constexpr int maxDimension = 3162;
static_assert(static_cast<long long>(maxDimension) * maxDimension <=
              MahalanobisDistance::maxModelEntries);

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

// The inverse of the covariance matrix s, or its pseudo-inverse when s is singular.
//
// Features of zero variance are set aside. The others are scaled to unit variance (the
// correlation matrix r), and a pivoted Cholesky factorisation finds the rank of r. At full rank
// the result is s.Inverse(). Otherwise r ~ g g^T with g of full column rank, whose
// pseudo-inverse is g (g^T g)^-2 g^T; scaled back it is a generalised inverse of s, and for
// differences that lie where the training data vary it gives the same distances as any other.
Matrix<double> InverseOrPseudoInverse(const Matrix<double>& s) {
    const Deviations deviations = DeviationsOf(s);
    const PivotedFactor factor = PivotedCholesky(s, deviations);
    if (factor.rank == s.Rows()) {
        return s.Inverse();
    }
    return ScaledPseudoInverse(factor, deviations, s.Rows());
}

// The training set's statistics, every feature measured from the first pattern's value.
struct ShiftedSums {
    // The mean of the shifted values over all patterns.
    std::vector<double> shift;
    Matrix<double> classSums;
    std::vector<long long> classSizes;
};

ShiftedSums SumFromFirst(const PatternList& patterns, const std::vector<double>& first,
                         int classCount) {
    const int dim = static_cast<int>(first.size());
    ShiftedSums sums{std::vector<double>(first.size(), 0.0), Matrix<double>(classCount, dim),
                     std::vector<long long>(static_cast<std::size_t>(classCount), 0)};
    for (const auto& pattern : patterns) {
        const std::vector<double>& features = *pattern->Descriptors();
        const int c = pattern->Class() - 1;
        ++sums.classSizes[static_cast<std::size_t>(c)];
        for (int j = 0; j < dim; ++j) {
            const double value =
                features[static_cast<std::size_t>(j)] - first[static_cast<std::size_t>(j)];
            sums.shift[static_cast<std::size_t>(j)] += value;
            sums.classSums(c, j) += value;
        }
    }
    for (double& value : sums.shift) {
        value /= static_cast<double>(patterns.size());
    }
    return sums;
}

// The covariance (divisor N) from a second pass over the centred values.
Matrix<double> CentredCovariance(const PatternList& patterns, const std::vector<double>& first,
                                 const std::vector<double>& shift) {
    const int dim = static_cast<int>(first.size());
    Matrix<double> covariance(dim, dim);
    std::vector<double> centred(first.size(), 0.0);
    for (const auto& pattern : patterns) {
        const std::vector<double>& features = *pattern->Descriptors();
        for (int j = 0; j < dim; ++j) {
            const auto u = static_cast<std::size_t>(j);
            centred[u] = (features[u] - first[u]) - shift[u];
        }
        for (int j = 0; j < dim; ++j) {
            for (int k = j; k < dim; ++k) {
                covariance(j, k) +=
                    centred[static_cast<std::size_t>(j)] * centred[static_cast<std::size_t>(k)];
            }
        }
    }
    const double patternCount = static_cast<double>(patterns.size());
    for (int j = 0; j < dim; ++j) {
        for (int k = j; k < dim; ++k) {
            covariance(j, k) /= patternCount;
            covariance(k, j) = covariance(j, k);
        }
    }
    return covariance;
}

}  // namespace

MahalanobisDistance::MahalanobisDistance(int count) : classCount(count) {
    util::InvalidParameter::RequireAtLeast("MahalanobisDistance", "classCount", count, 1,
                                           "there must be at least 1 class");
}

void MahalanobisDistance::Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    CheckTrainingPatterns(patterns);
    // Everything is measured from the first pattern: a constant feature then differs by exactly
    // 0, so its variance is exactly 0 and its class means are exactly its value. The covariance
    // takes a second pass over the centred values rather than sum(x^2)/N - mean^2, which
    // cancels badly for features far from 0.
    const std::vector<double> first = *(*patterns)[0]->Descriptors();
    const int dim = static_cast<int>(first.size());
    const ShiftedSums sums = SumFromFirst(*patterns, first, classCount);
    const Matrix<double> covariance = CentredCovariance(*patterns, first, sums.shift);

    auto newMeans = std::make_shared<Matrix<double>>(classCount, dim);
    std::vector<bool> newTrained(static_cast<std::size_t>(classCount), false);
    for (int c = 0; c < classCount; ++c) {
        const long long size = sums.classSizes[static_cast<std::size_t>(c)];
        newTrained[static_cast<std::size_t>(c)] = size > 0;
        for (int j = 0; j < dim; ++j) {
            (*newMeans)(c, j) = size > 0 ? first[static_cast<std::size_t>(j)] +
                                               sums.classSums(c, j) / static_cast<double>(size)
                                         : std::numeric_limits<double>::quiet_NaN();
        }
    }
    auto newInverse = std::make_shared<Matrix<double>>(InverseOrPseudoInverse(covariance));

    dimension = dim;
    means = std::move(newMeans);
    inverseCovariance = std::move(newInverse);
    trainedClasses = std::move(newTrained);
}

void MahalanobisDistance::CheckTrainingPatterns(const PatternSet& patterns) const {
    if (classCount < 1) {
        throw std::logic_error("MahalanobisDistance: Train needs a class count");
    }
    const std::string owner = "MahalanobisDistance";
    const std::size_t n = FirstPatternLength(patterns, owner);
    if (n > static_cast<std::size_t>(maxDimension) ||
        static_cast<long long>(n) * classCount > maxModelEntries) {
        throw std::invalid_argument("MahalanobisDistance: " + std::to_string(n) + " features and " +
                                    std::to_string(classCount) +
                                    " classes need tables of more than the " +
                                    std::to_string(maxModelEntries) + " entries allowed");
    }
    CheckPatternFeatures(patterns, owner, n, [this](std::size_t i, const Pattern& pattern) {
        if (pattern.Class() < 1 || pattern.Class() > classCount) {
            throw std::invalid_argument("MahalanobisDistance: pattern " + std::to_string(i) +
                                        " has class " + std::to_string(pattern.Class()) +
                                        ", outside 1 ... " + std::to_string(classCount));
        }
    });
}

void MahalanobisDistance::CheckFeatures(const std::vector<double>& features) const {
    if (!means || !inverseCovariance) {
        throw std::logic_error(
            "MahalanobisDistance: classifying needs class means and an inverse covariance");
    }
    if (features.size() != static_cast<std::size_t>(dimension)) {
        throw std::invalid_argument("Invalid matrix dimensions: (1, " + std::to_string(dimension) +
                                    ") != (1, " + std::to_string(features.size()) + ")");
    }
}

double MahalanobisDistance::SquaredDistance(int classIndex,
                                            const std::vector<double>& features) const {
    const Matrix<double>& inverse = *inverseCovariance;
    const int n = dimension;
    difference.resize(static_cast<std::size_t>(n));
    for (int j = 0; j < n; ++j) {
        difference[static_cast<std::size_t>(j)] =
            (*means)(classIndex, j) - features[static_cast<std::size_t>(j)];
    }
    // The inverse is symmetric: each off-diagonal pair is counted once, doubled. The terms are
    // products of two differences, so d and -d give the same sum bit for bit.
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
        const double dj = difference[static_cast<std::size_t>(j)];
        double offDiagonal = 0.0;
        for (int k = j + 1; k < n; ++k) {
            offDiagonal += inverse(j, k) * difference[static_cast<std::size_t>(k)];
        }
        sum += dj * (inverse(j, j) * dj + 2.0 * offDiagonal);
    }
    return sum;
}

int MahalanobisDistance::Classify(std::vector<double>& features) {
    CheckFeatures(features);
    int best = -1;
    double bestDistance = 0.0;
    for (int c = 0; c < classCount; ++c) {
        if (!trainedClasses[static_cast<std::size_t>(c)]) {
            continue;
        }
        const double distance = SquaredDistance(c, features);
        // Ties go to the later class; a NaN distance (from NaN features) neither wins nor loses.
        if (best < 0 || distance <= bestDistance) {
            best = c;
            bestDistance = distance;
        }
    }
    return best + 1;
}

std::vector<double> MahalanobisDistance::Distances(const std::vector<double>& features) const {
    CheckFeatures(features);
    std::vector<double> distances(static_cast<std::size_t>(classCount),
                                  std::numeric_limits<double>::quiet_NaN());
    for (int c = 0; c < classCount; ++c) {
        if (trainedClasses[static_cast<std::size_t>(c)]) {
            // Rounding can leave a pseudo-inverse's quadratic form a hair below 0.
            distances[static_cast<std::size_t>(c)] =
                std::sqrt(std::max(SquaredDistance(c, features), 0.0));
        }
    }
    return distances;
}

std::shared_ptr<util::Collection> MahalanobisDistance::Configuration() {
    if (!means || !inverseCovariance) {
        throw std::logic_error("MahalanobisDistance: Configuration needs a trained model");
    }
    auto configuration = std::make_shared<util::Map>();
    configuration->Put("class_count", new int(classCount));
    configuration->Put("dimension", new int(dimension));
    std::vector<bool> untrained(trainedClasses.size());
    for (std::size_t c = 0; c < trainedClasses.size(); ++c) {
        untrained[c] = !trainedClasses[c];
    }
    ModelTree::PutRows(*configuration, "means", *means, untrained);
    ModelTree::PutRows(*configuration, "inverse_covariance", *inverseCovariance);
    return configuration;
}

void MahalanobisDistance::SetConfiguration(std::shared_ptr<util::Collection> configuration) {
    const ModelTree tree(configuration, "Mahalanobis distance");
    const int newClassCount = tree.Integer("class_count", 1, INT_MAX);
    const int newDimension = tree.Integer("dimension", 1, maxDimension);
    std::vector<bool> emptyRows;
    auto newMeans = std::make_shared<Matrix<double>>(
        tree.Rows("means", newClassCount, newDimension, &emptyRows));
    auto newInverse = std::make_shared<Matrix<double>>(
        tree.Rows("inverse_covariance", newDimension, newDimension));

    classCount = newClassCount;
    dimension = newDimension;
    means = std::move(newMeans);
    inverseCovariance = std::move(newInverse);
    trainedClasses.assign(emptyRows.size(), false);
    for (std::size_t c = 0; c < emptyRows.size(); ++c) {
        trainedClasses[c] = !emptyRows[c];
    }
}

void MahalanobisDistance::Save(const std::string& path) {
    if (!inverseCovariance) {
        throw std::logic_error("MahalanobisDistance: Save needs a trained model");
    }
    MatrixFile::Write(path, {dimension}, *inverseCovariance);
}

void MahalanobisDistance::Load(const std::string& path) {
    MatrixFile file(path);
    const int n = file.ReadHeader(1)[0];
    if (n < 0 || n > maxDimension) {
        file.Reject("the dimension " + std::to_string(n) + " lies outside 0 ... " +
                    std::to_string(maxDimension));
    }
    auto newInverse = std::make_shared<Matrix<double>>(file.ReadRows(n, n));
    dimension = n;
    inverseCovariance = std::move(newInverse);
    if (means && means->Columns() != n) {
        means.reset();
        trainedClasses.clear();
    }
}

}  // namespace velkar::patternrecognition
