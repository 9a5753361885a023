#include "velkar/patternrecognition/KMeans.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>

#include "velkar/patternrecognition/TrainingSetCheck.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {

namespace {

double SquaredDistance(const double* a, const double* b, std::size_t length) {
    double sum = 0.0;
    for (std::size_t i = 0; i < length; ++i) {
        const double difference = a[i] - b[i];
        sum += difference * difference;
    }
    return sum;
}

// Points and centers are rows of length values. Gives every point the index of its nearest
// center (the lower index on a tie; a point keeps its cluster when every distance is NaN) and
// answers whether any point changed cluster.
bool AssignToNearest(const std::vector<double>& points, const std::vector<double>& centers,
                     std::size_t length, std::vector<int>& members) {
    const std::size_t k = centers.size() / length;
    bool changed = false;
    for (std::size_t i = 0; i < members.size(); ++i) {
        const double* point = &points[i * length];
        double best = std::numeric_limits<double>::max();
        int nearest = members[i];
        for (std::size_t j = 0; j < k; ++j) {
            // A NaN center (no members) never compares below best.
            const double distance = SquaredDistance(point, &centers[j * length], length);
            if (distance < best) {
                best = distance;
                nearest = static_cast<int>(j);
            }
        }
        changed = changed || nearest != members[i];
        members[i] = nearest;
    }
    return changed;
}

// Every center becomes the mean of its members (NaN without members); counts receives the
// member counts.
void MoveCentersToMeans(const std::vector<double>& points, const std::vector<int>& members,
                        std::size_t length, std::vector<double>& centers,
                        std::vector<int>& counts) {
    std::fill(centers.begin(), centers.end(), 0.0);
    std::fill(counts.begin(), counts.end(), 0);
    for (std::size_t i = 0; i < members.size(); ++i) {
        const std::size_t m = static_cast<std::size_t>(members[i]);
        for (std::size_t c = 0; c < length; ++c) {
            centers[m * length + c] += points[i * length + c];
        }
        ++counts[m];
    }
    for (std::size_t j = 0; j < counts.size(); ++j) {
        for (std::size_t c = 0; c < length; ++c) {
            double& value = centers[j * length + c];
            value = counts[j] > 0 ? value / counts[j] : std::numeric_limits<double>::quiet_NaN();
        }
    }
}

// The mean distance of every cluster's members to its center.
void MeanMemberDistances(const std::vector<double>& points, const std::vector<int>& members,
                         const std::vector<double>& centers, const std::vector<int>& counts,
                         std::size_t length, std::vector<double>& variances) {
    std::fill(variances.begin(), variances.end(), 0.0);
    for (std::size_t i = 0; i < members.size(); ++i) {
        const std::size_t m = static_cast<std::size_t>(members[i]);
        variances[m] +=
            std::sqrt(SquaredDistance(&centers[m * length], &points[i * length], length)) /
            counts[m];
    }
}

}  // namespace

KMeans::KMeans(int clusterCount, int iterations)
    : clusterCount(clusterCount), iterations(iterations) {
    if (clusterCount < 1) {
        throw std::invalid_argument("KMeans needs at least one cluster, got " +
                                    std::to_string(clusterCount));
    }
}

void KMeans::Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    const std::size_t length = static_cast<std::size_t>(CheckTrainingSet(patterns, "KMeans"));
    const std::size_t count = patterns->size();
    const std::size_t k = static_cast<std::size_t>(clusterCount);

    // One contiguous block of points and one of centers keep the distance loops on plain arrays.
    std::vector<double> points(count * length);
    for (std::size_t i = 0; i < count; ++i) {
        const std::vector<double>& features = *(*patterns)[i]->Descriptors();
        std::copy(features.begin(), features.end(), points.begin() + i * length);
    }
    std::vector<double> centerData(k * length);
    for (std::size_t j = 0; j < k; ++j) {
        const std::size_t start = util::RandomIndex(count);
        std::copy_n(points.begin() + start * length, length, centerData.begin() + j * length);
    }

    std::vector<int> members(count, 0);
    std::vector<int> counts(k, 0);
    std::vector<double> variances(k, 0.0);
    for (int iteration = 0; iteration < iterations; ++iteration) {
        const bool changed = AssignToNearest(points, centerData, length, members);
        // The same assignment twice in a row gives the same centers and spreads again, so the
        // remaining iterations could change nothing.
        if (iteration > 0 && !changed) {
            break;
        }
        MoveCentersToMeans(points, members, length, centerData, counts);
    }
    // The spreads of the last assignment; without an iteration they stay 0.
    if (iterations > 0) {
        MeanMemberDistances(points, members, centerData, counts, length, variances);
    }

    centers.clear();
    for (std::size_t j = 0; j < k; ++j) {
        auto center = std::make_shared<Vector>(length, 0.0);
        std::copy_n(centerData.begin() + j * length, length, center->begin());
        centers.push_back(center);
    }
    membership = std::move(members);
    membershipCount = std::move(counts);
    clusterVariance = std::move(variances);
    dimension = static_cast<int>(length);
}

int KMeans::Classify(std::vector<double>& /*features*/) { return -1; }

std::shared_ptr<util::Collection> KMeans::Configuration() { return std::make_shared<util::Map>(); }

void KMeans::SetConfiguration(std::shared_ptr<util::Collection> /*configuration*/) {}

}  // namespace velkar::patternrecognition
