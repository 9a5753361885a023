#pragma once

// Two-layer classifier: H Gaussian hidden units phi_i(x) = exp(-beta_i * |x - center_i|^2),
// placed by k-means run on each class separately (clusters left without members are dropped),
// and a linear output layer of one output per class with a bias weight, trained by the delta
// rule against targets +1 / -1 for a number of epochs, one pattern at a time in a fresh random
// order every epoch. Inputs are min-max normalised to the training range first. Classes are
// tagged in order of first appearance; Classify answers the class id of the largest output, or
// -1 when no output exceeds the smallest positive normal double. Copies share the normalisation
// and center data with their source. Not thread-safe (Classify uses internal buffers).

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::patternrecognition {

class RadialBasisFunctionNetwork : public PatternRecognitionAlgorithm {
  public:
    // clustersPerClass >= 1, epochs >= 0 and a finite learning rate (std::invalid_argument
    // otherwise).
    RadialBasisFunctionNetwork(double learningRate, int clustersPerClass, int epochs);
    // An empty network to be filled by SetConfiguration; it cannot be trained.
    RadialBasisFunctionNetwork() = default;
    RadialBasisFunctionNetwork(const RadialBasisFunctionNetwork& other) = default;
    RadialBasisFunctionNetwork& operator=(const RadialBasisFunctionNetwork& other) = default;
    ~RadialBasisFunctionNetwork() override = default;

    // A non-empty set of finite feature vectors of one length (std::invalid_argument otherwise);
    // replaces any earlier model.
    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) override;
    // features must have the trained length (std::invalid_argument); std::logic_error before
    // the network is trained or restored.
    int Classify(std::vector<double>& features) override;
    // Keys "weights", "centers", "widths", "min_data_values", "max_data_values",
    // "tagged_classes". std::logic_error before the network is trained or restored.
    std::shared_ptr<util::Collection> Configuration() override;
    // Replaces the whole model; a malformed tree (a key missing or of the wrong kind, a
    // non-finite number, sizes that do not fit together) is rejected with std::runtime_error
    // naming the key and leaves the network unchanged.
    void SetConfiguration(std::shared_ptr<util::Collection> configuration) override;

    std::string FileExtension() override { return "rbf"; }
    std::string Version() override { return "2.0"; }
    std::string Name() override { return "Radial Basis Function Network"; }
    int InputSize() override;

    // Mean squared output error of the last training epoch (0 before any epoch ran).
    double TrainingError() const { return trainingError; }
    int HiddenUnitCount() const { return static_cast<int>(widths.size()); }

  private:
    // The normalised input x' (length dimension) to the hidden vector phi (length H + 1).
    void HiddenActivations(const double* normalised, double* phi) const;

    int clustersPerClass = 0;
    int epochs = 0;
    int dimension = 0;
    double learningRate = 0.0;
    double trainingError = 0.0;
    bool trainable = false;
    std::map<int, int> taggedClasses;
    // Class id of every output (the inverse of taggedClasses).
    std::vector<int> outputClassIds;
    std::shared_ptr<const std::vector<double>> minValues;
    std::shared_ptr<const std::vector<double>> maxValues;
    // H rows of dimension values each, in hidden-unit order.
    std::shared_ptr<const std::vector<double>> centers;
    std::vector<double> widths;
    // C rows of H + 1 weights; the last column multiplies the constant bias input 1.
    std::vector<double> weights;

    // Per-call work space of Classify, sized once per model.
    std::vector<double> inputBuffer;
    std::vector<double> hiddenBuffer;
};

}  // namespace velkar::patternrecognition
