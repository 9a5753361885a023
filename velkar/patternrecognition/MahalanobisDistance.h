#pragma once

// Nearest class mean in Mahalanobis distance: one mean per class and one covariance matrix of
// all training vectors (divisor N), shared by the classes. Classes are numbered 1 ... C; Classify
// answers the class whose mean is nearest, ties going to the later class, and never a class
// without training patterns. A singular covariance (a constant feature, or features that sum to
// a constant) is replaced by its pseudo-inverse, so distances stay finite and measure only the
// directions in which the training data vary. Copies share the trained matrices until one of
// them trains again. Not thread-safe (Classify uses a scratch buffer).

#include <memory>
#include <string>
#include <vector>

#include "velkar/math/Matrix.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::patternrecognition {

class MahalanobisDistance : public PatternRecognitionAlgorithm {
  public:
    // The largest covariance matrix, and the largest table of class means, in entries.
    static constexpr long long maxModelEntries = 10'000'000;

    // classCount >= 1 (std::invalid_argument otherwise).
    explicit MahalanobisDistance(int classCount);
    // No class count and no model: SetConfiguration gives it both.
    MahalanobisDistance() = default;

    // Needs a non-empty set of finite feature vectors of one length whose class ids lie in
    // 1 ... C, and tables within maxModelEntries (std::invalid_argument otherwise, the model
    // unchanged).
    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) override;
    // features must have the trained length (std::invalid_argument otherwise).
    int Classify(std::vector<double>& features) override;
    // Keys "class_count", "dimension", "means" (C rows of n reals; an empty row for a class
    // without training patterns) and "inverse_covariance" (n rows of n reals).
    // std::logic_error without a model.
    std::shared_ptr<util::Collection> Configuration() override;
    // Validates the whole tree before replacing anything; std::runtime_error names the bad key.
    void SetConfiguration(std::shared_ptr<util::Collection> configuration) override;

    std::string FileExtension() override { return "md"; }
    std::string Version() override { return "1.0"; }
    std::string Name() override { return "Mahalanobis Distance"; }
    int InputSize() override { return dimension; }

    // The text file of the dimension and the inverse covariance (not the means): the dimension
    // on the first line, then one line per matrix row. Save needs a trained model; both throw
    // std::runtime_error for files they cannot write or read (see MatrixFile). Load keeps the
    // class means only when they have the loaded dimension.
    void Save(const std::string& path);
    void Load(const std::string& path);

    // The distance of features to every class mean (NaN for a class without training patterns).
    std::vector<double> Distances(const std::vector<double>& features) const;
    int ClassCount() const { return classCount; }
    std::shared_ptr<const math::Matrix<double>> Means() const { return means; }
    std::shared_ptr<const math::Matrix<double>> InverseCovariance() const {
        return inverseCovariance;
    }

  private:
    // Throws unless the patterns can train a model of classCount classes (see Train).
    void CheckTrainingPatterns(const PatternSet& patterns) const;
    void CheckFeatures(const std::vector<double>& features) const;
    // (mean of class c - features)^T inverse covariance (mean of class c - features).
    double SquaredDistance(int classIndex, const std::vector<double>& features) const;

    int classCount = 0;
    int dimension = -1;
    std::shared_ptr<math::Matrix<double>> means;
    std::shared_ptr<math::Matrix<double>> inverseCovariance;
    // One flag per class: it had training patterns.
    std::vector<bool> trainedClasses;
    mutable std::vector<double> difference;
};

}  // namespace velkar::patternrecognition
