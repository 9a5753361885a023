#pragma once

// Places k points in feature space by k-means over the training vectors (class ids are not read)
// and answers the number, from 1, of the point nearest to a vector: a cluster number that an
// experiment compares with the true class. Points start at training vectors drawn at random
// (they may repeat) and are moved to the mean of their members a fixed number of times; ties go
// to the lower point, and a point without members stays where it is. Training hands the number
// of training patterns to the size report, when one is set (the library itself prints nothing).
// The points form a k x n matrix, row i being point i. Copies are deep (the report is shared).
// Not thread-safe (training draws from the library's random source).

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "velkar/math/Matrix.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::patternrecognition {

class PointK : public PatternRecognitionAlgorithm {
  public:
    // The largest point table, in entries.
    static constexpr long long maxModelEntries = 10'000'000;

    // classCount >= 1 points, iterations >= 0 (std::invalid_argument otherwise).
    PointK(int classCount, int iterations);
    // No points: Load or SetConfiguration give it a model; it cannot be trained.
    PointK() = default;

    // Called by Train with the number of training patterns, before the points move; an empty
    // function stops it.
    void SetTrainingSizeReport(std::function<void(std::size_t size)> report) {
        trainingSizeReport = std::move(report);
    }

    // Needs a non-empty set of finite feature vectors of one length, and at most maxModelEntries
    // point values (std::invalid_argument otherwise, the model unchanged).
    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) override;
    // features must have the trained length (std::invalid_argument otherwise).
    int Classify(std::vector<double>& features) override;
    // Keys "point_count", "dimension" and "points" (k rows of n reals). std::logic_error
    // without a model.
    std::shared_ptr<util::Collection> Configuration() override;
    // Validates the whole tree before replacing anything; std::runtime_error names the bad key.
    void SetConfiguration(std::shared_ptr<util::Collection> configuration) override;

    std::string FileExtension() override { return "pk"; }
    std::string Version() override { return "1.0"; }
    std::string Name() override { return "Point K"; }
    int InputSize() override { return dimension; }

    // The text file of the points: "k n" on the first line, then one line per point. Save needs
    // a model; both throw std::runtime_error for files they cannot write or read (see
    // MatrixFile).
    void Save(const std::string& path);
    void Load(const std::string& path);

    const math::Matrix<double>& Points() const { return points; }
    int PointCount() const { return pointCount; }

  private:
    int iterations = 0;
    int pointCount = 0;
    int dimension = -1;
    math::Matrix<double> points;
    bool trainable = false;
    std::function<void(std::size_t)> trainingSizeReport;
};

}  // namespace velkar::patternrecognition
