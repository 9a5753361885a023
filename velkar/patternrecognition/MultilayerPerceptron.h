#pragma once

// Feed-forward network of logistic-sigmoid neurons: any number of hidden layers, one output
// neuron per class, trained online by back-propagation with momentum on min-max normalised
// inputs, visiting the training patterns in a fresh random order every epoch. Classes are
// tagged in order of first appearance; Classify answers the trained class id of the strongest
// output, or -1 when no output exceeds the smallest positive normal double. Every net input is the
// in-order sum over the neuron's inputs, the bias last, so results do not depend on the machine.
// Not copyable; not thread-safe (Classify writes the layer activations).

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace velkar::util {
class Array;
class Map;
}  // namespace velkar::util

namespace velkar::patternrecognition {

class MultilayerPerceptron : public PatternRecognitionAlgorithm {
  public:
    // The most weights the hidden layers may have.
    static constexpr long long maxModelEntries = 10'000'000;
    // The most hidden layers: past a few layers a network learns nothing more here, and each
    // one is a pass per pattern and epoch.
    static constexpr std::size_t maxHiddenLayers = 100;

    // inputCount >= 1, at most maxHiddenLayers hidden layers, every hidden size >= 1, a learning
    // rate in (0, 1], a momentum in [0, 1), and at most maxModelEntries hidden weights
    // (util::InvalidParameter otherwise, naming the parameter); no iterations, or fewer, train
    // no epoch. The hidden layers get random weights in [0, 1] here; the output layer is added
    // by Train.
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
    // Replaces the whole model with the one in the tree; a malformed tree (a missing key, a
    // wrong shape, a number that is not finite) is rejected with std::runtime_error naming the
    // offending key and leaves the network unchanged.
    void SetConfiguration(std::shared_ptr<util::Collection> configuration) override;

    std::string FileExtension() override { return "mlp"; }
    std::string Version() override { return "2.0"; }
    std::string Name() override { return "Multilayer Perceptron"; }
    int InputSize() override;

    // Statistics of the last Train: epochs run and the summed squared error of the last epoch.
    int EpochsRun() const { return epochsRun; }
    double LastEpochError() const { return lastEpochError; }

  private:
    // One layer of neurons, input-major so that the neurons of a layer are summed side by side:
    // Weights()[g * neuronStride + k] is neuron k's weight of input g, the last input being the
    // bias 1 of the layer below. neuronStride rounds neuronCount up to whole vectors; the lanes
    // past neuronCount hold zeros. The moves of the last update follow the weights in the same
    // block.
    struct Layer {
        int neuronCount = 0;
        int inputCount = 0;
        int neuronStride = 0;
        std::vector<double> block;
        // The weights begin at block[start], on a cache line.
        std::size_t start = 0;
        // Per-pattern scratch of neuronStride entries: net inputs, and the scaled slopes of an
        // update (zero in the padding lanes).
        std::vector<double> nets;
        std::vector<double> scales;

        void Allocate(int neurons, int inputs);
        double* Weights() { return block.data() + start; }
        const double* Weights() const { return block.data() + start; }
        double* Changes() {
            return Weights() +
                   static_cast<std::size_t>(inputCount) * static_cast<std::size_t>(neuronStride);
        }
        double& Weight(int neuron, int input) {
            return Weights()[static_cast<std::size_t>(input) *
                                 static_cast<std::size_t>(neuronStride) +
                             static_cast<std::size_t>(neuron)];
        }
        double Weight(int neuron, int input) const {
            return Weights()[static_cast<std::size_t>(input) *
                                 static_cast<std::size_t>(neuronStride) +
                             static_cast<std::size_t>(neuron)];
        }
    };
    // A validated model read from a configuration tree, not yet in use.
    struct Model;

    void BuildInputAndHiddenLayers();
    void AddLayer(int neuronCount, int inputCount);
    void AllocateActivations();
    void CheckTrainingSet(const std::vector<std::shared_ptr<Pattern>>& patterns) const;
    // Normalises the training vectors and keeps the range; returns them in one block, one row
    // of inputCount + 1 values per pattern, the bias input 1 last.
    std::vector<double> NormalisedInputs(const std::vector<std::shared_ptr<Pattern>>& patterns);
    double TrainEpoch(const std::vector<double>& inputs, const std::vector<int>& targetOutputs);
    // input holds the input layer's values, the bias 1 last. The trained class id Classify
    // answers: the hidden layers as Forward, then the output sigmoids only of the neurons that
    // can be strongest.
    int StrongestOutput(const double* input);
    // The outputs of the first layerCount layers; returns the last of them (input for none).
    const double* ForwardThrough(const double* input, std::size_t layerCount);
    // Every layer's outputs; training inlines Forward and Backpropagate into TrainEpoch.
    const std::vector<double>& Forward(const double* input);
    void Backpropagate();

    static Model ReadModel(const util::Map& root);
    static std::vector<Layer> ReadLayers(const util::Map& root, const std::vector<int>& sizes);
    void Install(Model&& model);

    double learningRate = 0.0;
    double momentum = 0.0;
    double maxError = 0.0;
    int iterations = 0;
    std::vector<Layer> layers;
    // activations[j + 1] is the output of layers[j]; every layer but the output one carries a
    // last entry 1, the bias input of the layer above. The input layer is the caller's vector
    // of the current pass (inputLayer); activations[0] stays unused.
    std::vector<std::vector<double>> activations;
    // errors[j]: the back-propagated error of layers[j]'s outputs, padded like its neurons
    // with zeros.
    std::vector<std::vector<double>> errors;
    const double* inputLayer = nullptr;
    std::map<int, int> taggedClasses;
    std::vector<double> minDataValues;
    std::vector<double> maxDataValues;
    bool trained = false;

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
    // Classify's scaled copy of its input with the bias entry, reused.
    std::vector<double> scaledInput;
};

}  // namespace velkar::patternrecognition
