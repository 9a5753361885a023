#include "velkar/patternrecognition/PointK.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "velkar/patternrecognition/MatrixFile.h"
#include "velkar/patternrecognition/ModelTree.h"
#include "velkar/patternrecognition/TrainingSetCheck.h"
#include "velkar/util/InvalidParameter.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {

namespace {

using Matrix = math::Matrix<double>;

void CheckTableSize(long long rows, long long columns) {
    if (rows * columns > PointK::maxModelEntries) {
        throw std::invalid_argument("PointK: " + std::to_string(rows) + " points of " +
                                    std::to_string(columns) + " features exceed the " +
                                    std::to_string(PointK::maxModelEntries) + " values allowed");
    }
}

// One k-means step: every point moves to the mean of the vectors nearest to it. sums is work
// space of the points' shape.
void MoveToMeans(Matrix& points, const std::vector<const double*>& data, Matrix& sums) {
    std::vector<long long> members(static_cast<std::size_t>(points.Rows()), 0);
    sums.Fill(0.0);
    for (const double* features : data) {
        const int nearest = points.NearestRow(features);
        ++members[static_cast<std::size_t>(nearest)];
        for (int l = 0; l < points.Columns(); ++l) {
            sums(nearest, l) += features[l];
        }
    }
    for (int p = 0; p < points.Rows(); ++p) {
        const long long size = members[static_cast<std::size_t>(p)];
        // A point without members keeps its place instead of becoming 0 / 0: a NaN point
        // could not be stored, and a NaN first point would capture every vector.
        if (size == 0) {
            continue;
        }
        for (int l = 0; l < points.Columns(); ++l) {
            points(p, l) = sums(p, l) / static_cast<double>(size);
        }
    }
}

}  // namespace

PointK::PointK(int classCount, int iterationCount)
    : iterations(iterationCount), pointCount(classCount), trainable(true) {
    const util::InvalidParameter::Rules rules("PointK");
    rules.AtLeast("classCount", classCount, 1, "there must be at least 1 point");
    rules.AtLeast("iterations", iterationCount, 0, "the number of iterations cannot be negative");
}

void PointK::Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    if (!trainable) {
        throw std::logic_error(
            "PointK: only an object constructed with its point and iteration counts can be "
            "trained");
    }
    const std::size_t n = FirstPatternLength(patterns, "PointK");
    CheckTableSize(pointCount, static_cast<long long>(n));
    CheckPatternFeatures(patterns, "PointK", n);
    std::vector<const double*> data;
    data.reserve(patterns->size());
    for (const auto& pattern : *patterns) {
        data.push_back(pattern->Descriptors()->data());
    }

    if (trainingSizeReport) {
        trainingSizeReport(data.size());
    }

    const int dim = static_cast<int>(n);
    Matrix newPoints(pointCount, dim);
    for (int p = 0; p < pointCount; ++p) {
        const double* start = data[util::RandomIndex(data.size())];
        for (int l = 0; l < dim; ++l) {
            newPoints(p, l) = start[l];
        }
    }
    Matrix sums(pointCount, dim);
    for (int iteration = 0; iteration < iterations; ++iteration) {
        MoveToMeans(newPoints, data, sums);
        ReportTraining(iteration + 1, iterations);
    }
    points = std::move(newPoints);
    dimension = dim;
}

int PointK::Classify(std::vector<double>& features) {
    if (dimension < 0) {
        throw std::logic_error("PointK: Classify needs trained or loaded points");
    }
    if (features.size() != static_cast<std::size_t>(dimension)) {
        throw std::invalid_argument("PointK: feature vector has length " +
                                    std::to_string(features.size()) + ", the points have " +
                                    std::to_string(dimension));
    }
    return points.NearestRow(features.data()) + 1;
}

std::shared_ptr<util::Collection> PointK::Configuration() {
    if (dimension < 0) {
        throw std::logic_error("PointK: Configuration needs trained or loaded points");
    }
    auto configuration = std::make_shared<util::Map>();
    configuration->Put("point_count", new int(pointCount));
    configuration->Put("dimension", new int(dimension));
    ModelTree::PutRows(*configuration, "points", points);
    return configuration;
}

void PointK::SetConfiguration(std::shared_ptr<util::Collection> configuration) {
    const ModelTree tree(configuration, "Point K");
    const int newCount = tree.Integer("point_count", 1, INT_MAX);
    const int newDimension = tree.Integer("dimension", 0, INT_MAX);
    Matrix newPoints = tree.Rows("points", newCount, newDimension);
    pointCount = newCount;
    dimension = newDimension;
    points = std::move(newPoints);
}

void PointK::Save(const std::string& path) {
    if (dimension < 0) {
        throw std::logic_error("PointK: Save needs trained or loaded points");
    }
    MatrixFile::Write(path, {pointCount, dimension}, points);
}

void PointK::Load(const std::string& path) {
    MatrixFile file(path);
    const std::vector<int> header = file.ReadHeader(2);
    if (header[0] < 1) {
        file.Reject("the point count must be at least 1, found " + std::to_string(header[0]));
    }
    if (header[1] < 0) {
        file.Reject("the dimension cannot be negative, found " + std::to_string(header[1]));
    }
    Matrix newPoints = file.ReadRows(header[0], header[1]);
    pointCount = header[0];
    dimension = header[1];
    points = std::move(newPoints);
}

}  // namespace velkar::patternrecognition
