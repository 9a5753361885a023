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

// The inverse of the covariance matrix s, or its pseudo-inverse when s is singular.
//
// Features of zero variance are set aside. The others are scaled to unit variance (the
// correlation matrix r), and a Cholesky factorisation that always continues with the feature of
// the largest remaining variance finds the rank of r: it stops when every remaining feature is,
// up to dependenceTolerance, a linear combination of the chosen ones. At full rank the result is
// s.Inverse(). Otherwise r ~ g g^T with g of full column rank, whose pseudo-inverse is
// g (g^T g)^-2 g^T; scaled back it is a generalised inverse of s, and for differences that lie
// where the training data vary it gives the same distances as any other.
Matrix<double> InverseOrPseudoInverse(const Matrix<double>& s) {
    const int n = s.Rows();
    std::vector<int> varying;
    std::vector<double> scale(static_cast<std::size_t>(n), 0.0);
    for (int j = 0; j < n; ++j) {
        if (s(j, j) > 0.0) {
            varying.push_back(j);
            scale[static_cast<std::size_t>(j)] = std::sqrt(s(j, j));
        }
    }
    const int m = static_cast<int>(varying.size());
    auto correlation = [&](int a, int b) {
        const int j = varying[static_cast<std::size_t>(a)];
        const int k = varying[static_cast<std::size_t>(b)];
        return s(j, k) / (scale[static_cast<std::size_t>(j)] * scale[static_cast<std::size_t>(k)]);
    };

    // order[i] is the varying feature in position i of the factorisation.
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
    if (rank == n) {
        return s.Inverse();
    }

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
    Matrix<double> result(n, n);
    for (int a = 0; a < m; ++a) {
        const int j = varying[static_cast<std::size_t>(order[static_cast<std::size_t>(a)])];
        for (int b = 0; b < m; ++b) {
            const int k = varying[static_cast<std::size_t>(order[static_cast<std::size_t>(b)])];
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

MahalanobisDistance::MahalanobisDistance(int count) : classCount(count) {
    if (count < 1) {
        throw std::invalid_argument("MahalanobisDistance needs at least one class, got " +
                                    std::to_string(count));
    }
}

void MahalanobisDistance::Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    if (classCount < 1) {
        throw std::logic_error("MahalanobisDistance: Train needs a class count");
    }
    if (!patterns || patterns->empty()) {
        throw std::invalid_argument("MahalanobisDistance: Train needs at least one pattern");
    }
    const std::size_t count = patterns->size();
    for (std::size_t i = 0; i < count; ++i) {
        if (!(*patterns)[i]) {
            throw std::invalid_argument("MahalanobisDistance: pattern " + std::to_string(i) +
                                        " is missing");
        }
    }
    const std::vector<double> first = *(*patterns)[0]->Descriptors();
    const std::size_t n = first.size();
    if (n > static_cast<std::size_t>(maxDimension) ||
        static_cast<long long>(n) * classCount > maxModelEntries) {
        throw std::invalid_argument("MahalanobisDistance: " + std::to_string(n) + " features and " +
                                    std::to_string(classCount) +
                                    " classes need tables of more than the " +
                                    std::to_string(maxModelEntries) + " entries allowed");
    }
    for (std::size_t i = 0; i < count; ++i) {
        Pattern& pattern = *(*patterns)[i];
        const std::vector<double>& features = *pattern.Descriptors();
        if (features.size() != n) {
            throw std::invalid_argument("MahalanobisDistance: pattern " + std::to_string(i) +
                                        " has " + std::to_string(features.size()) +
                                        " features, the first has " + std::to_string(n));
        }
        if (pattern.Class() < 1 || pattern.Class() > classCount) {
            throw std::invalid_argument("MahalanobisDistance: pattern " + std::to_string(i) +
                                        " has class " + std::to_string(pattern.Class()) +
                                        ", outside 1 ... " + std::to_string(classCount));
        }
        for (std::size_t j = 0; j < n; ++j) {
            if (!std::isfinite(features[j])) {
                throw std::invalid_argument("MahalanobisDistance: feature " + std::to_string(j) +
                                            " of pattern " + std::to_string(i) + " is not finite");
            }
        }
    }

    // Everything is measured from the first pattern: a constant feature then differs by exactly
    // 0, so its variance is exactly 0 and its class means are exactly its value. The covariance
    // takes a second pass over the centred values rather than sum(x^2)/N - mean^2, which
    // cancels badly for features far from 0.
    const int dim = static_cast<int>(n);
    const double patternCount = static_cast<double>(count);
    std::vector<double> shift(n, 0.0);
    Matrix<double> classSums(classCount, dim);
    std::vector<long long> classSizes(static_cast<std::size_t>(classCount), 0);
    for (const auto& pattern : *patterns) {
        const std::vector<double>& features = *pattern->Descriptors();
        const int c = pattern->Class() - 1;
        ++classSizes[static_cast<std::size_t>(c)];
        for (int j = 0; j < dim; ++j) {
            const double value =
                features[static_cast<std::size_t>(j)] - first[static_cast<std::size_t>(j)];
            shift[static_cast<std::size_t>(j)] += value;
            classSums(c, j) += value;
        }
    }
    for (double& value : shift) {
        value /= patternCount;
    }
    Matrix<double> covariance(dim, dim);
    std::vector<double> centred(n, 0.0);
    for (const auto& pattern : *patterns) {
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
    for (int j = 0; j < dim; ++j) {
        for (int k = j; k < dim; ++k) {
            covariance(j, k) /= patternCount;
            covariance(k, j) = covariance(j, k);
        }
    }

    auto newMeans = std::make_shared<Matrix<double>>(classCount, dim);
    std::vector<bool> newTrained(static_cast<std::size_t>(classCount), false);
    for (int c = 0; c < classCount; ++c) {
        const long long size = classSizes[static_cast<std::size_t>(c)];
        newTrained[static_cast<std::size_t>(c)] = size > 0;
        for (int j = 0; j < dim; ++j) {
            (*newMeans)(c, j) = size > 0 ? first[static_cast<std::size_t>(j)] +
                                               classSums(c, j) / static_cast<double>(size)
                                         : std::numeric_limits<double>::quiet_NaN();
        }
    }
    auto newInverse = std::make_shared<Matrix<double>>(InverseOrPseudoInverse(covariance));

    dimension = dim;
    means = std::move(newMeans);
    inverseCovariance = std::move(newInverse);
    trainedClasses = std::move(newTrained);
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
