#pragma once

// Feed-forward network of logistic-sigmoid neurons: any number of hidden layers, one output
// neuron per class, trained online (one pattern at a time, in the given order) by
// back-propagation with momentum on min-max normalised inputs. Classes are tagged in order of
// first appearance; Classify answers the trained class id of the strongest output, or -1 when
// no output exceeds the smallest positive normal double. Not copyable; not thread-safe (Classify
// writes the layer activations).

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/numeric/ublas/vector.hpp>

#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::patternrecognition {

class MultilayerPerceptron : public PatternRecognitionAlgorithm {
  public:
    using Vector = boost::numeric::ublas::vector<double>;
    using VectorPtr = std::shared_ptr<Vector>;
    using NeuronList = std::vector<VectorPtr>;

    // inputCount >= 1 and every hidden size >= 1 (std::invalid_argument otherwise). The hidden
    // layers get random weights in [0, 1] here; the output layer is added by Train.
    MultilayerPerceptron(int inputCount, std::vector<int> hiddenLayerSizes, double learningRate,
                         double momentum, double maxError, int iterations);
    // An empty network to be filled by SetConfiguration; it cannot be trained.
    MultilayerPerceptron() = default;
    MultilayerPerceptron(const MultilayerPerceptron& other) = delete;
    MultilayerPerceptron& operator=(const MultilayerPerceptron& other) = delete;
    ~MultilayerPerceptron() override = default;

    // Needs a non-empty set whose feature vectors all have the constructor's input count
    // (std::invalid_argument otherwise). A second Train starts again from fresh random weights.
    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) override;
    // features must have the trained input length (std::invalid_argument otherwise).
    int Classify(std::vector<double>& features) override;
    // Keys "min_data_values", "max_data_values", "weights", "output_sizes",
    // "firestrength_sizes", "tagged_classes". std::logic_error before the network is trained.
    std::shared_ptr<util::Collection> Configuration() override;
    // Replaces the whole model with the one in the tree; a malformed tree is rejected with
    // std::runtime_error naming the offending key and leaves the network unchanged.
    void SetConfiguration(std::shared_ptr<util::Collection> configuration) override;

    std::string FileExtension() override { return "mlp"; }
    std::string Version() override { return "2.0"; }
    std::string Name() override { return "Multilayer Perceptron"; }
    int InputSize() override;

    // Statistics of the last Train: epochs run and the summed squared error of the last epoch.
    int EpochsRun() const { return epochsRun; }
    double LastEpochError() const { return lastEpochError; }

  private:
    void BuildInputAndHiddenLayers();
    void AddLayer(int neuronCount, int inputCount, bool isOutputLayer);
    void TagClasses(const std::vector<std::shared_ptr<Pattern>>& patterns);
    VectorPtr ForwardPass(const VectorPtr& input);
    void Backpropagate(const Vector& error);
    static double ActivationFunction(double x);
    static double ActivationFunctionDerivative(double x);

    double learningRate = 0.0;
    double momentum = 0.0;
    double maxError = 0.0;
    int iterations = 0;
    std::vector<std::shared_ptr<NeuronList>> weights;
    std::vector<std::shared_ptr<NeuronList>> previousChanges;
    std::vector<VectorPtr> outputs;
    std::vector<VectorPtr> fireStrengths;
    std::vector<VectorPtr> errors;
    std::map<int, int> taggedClasses;
    std::vector<VectorPtr> targets;
    VectorPtr minDataValues;
    VectorPtr maxDataValues;

    // Class id answered by each output neuron (the inverse of taggedClasses).
    std::vector<int> outputClassIds;
    // Shape given to the constructor, so that a repeated Train can rebuild the network.
    int inputCount = 0;
    std::vector<int> hiddenLayerSizes;
    bool trainable = false;
    // True while the layers are the untouched random ones made by the constructor.
    bool freshLayers = false;
    int epochsRun = 0;
    double lastEpochError = 0.0;
};

}  // namespace velkar::patternrecognition
