#include "velkar/patternrecognition/MahalanobisDistance.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <utility>

#include "velkar/math/CovarianceInverse.h"
#include "velkar/patternrecognition/MatrixFile.h"
#include "velkar/patternrecognition/ModelTree.h"
#include "velkar/patternrecognition/TrainingSetCheck.h"
#include "velkar/util/InvalidParameter.h"
#include "velkar/util/Map.h"

namespace velkar::patternrecognition {

namespace {

using math::Matrix;

// The largest dimension whose covariance matrix stays within maxModelEntries.
constexpr int maxDimension = 3162;
static_assert(static_cast<long long>(maxDimension) * maxDimension <=
              MahalanobisDistance::maxModelEntries);

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
    const util::InvalidParameter::Rules rules("MahalanobisDistance");
    rules.AtLeast("classCount", count, 1, "there must be at least 1 class");
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
    auto newInverse = std::make_shared<Matrix<double>>(math::InverseOrPseudoInverse(covariance));

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
