#include "velkar/patternrecognition/MultilayerPerceptron.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "velkar/patternrecognition/ClassTags.h"
#include "velkar/patternrecognition/ConfigurationTree.h"
#include "velkar/patternrecognition/MinMaxNormalize.h"
#include "velkar/patternrecognition/PerceptronKernels.h"
#include "velkar/util/Array.h"
#include "velkar/util/InvalidParameter.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

// Training and the forward pass of Classify are also built for processors with wider vectors and
// chosen when the program starts; each weight and each neuron's sum is computed by the same
// operations in the same order either way, so results do not depend on the machine.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define VELKAR_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define VELKAR_WIDE_VECTORS
#endif

namespace velkar::patternrecognition {

using namespace perceptronkernels;

namespace {

// An output has to exceed this to win; when none does, Classify chooses no class (-1).
constexpr double smallestNormal = std::numeric_limits<double>::min();

const ConfigurationTree kTree("Multilayer perceptron configuration");

}  // namespace

struct MultilayerPerceptron::Model {
    std::vector<int> outputSizes;
    std::vector<double> minValues;
    std::vector<double> maxValues;
    std::vector<Layer> layers;
    std::vector<int> classIds;
};

MultilayerPerceptron::MultilayerPerceptron(int inputCount, std::vector<int> hiddenLayerSizes,
                                           double learningRate, double momentum, double maxError,
                                           int iterations)
    : learningRate(learningRate),
      momentum(momentum),
      maxError(maxError),
      iterations(iterations),
      inputCount(inputCount),
      hiddenLayerSizes(std::move(hiddenLayerSizes)),
      trainable(true) {
    using util::InvalidParameter;
    const char* const owner = "MultilayerPerceptron";
    const InvalidParameter::Rules rules(owner);
    rules.AtLeast("inputCount", inputCount, 1, "at least one input is needed");
    if (this->hiddenLayerSizes.size() > maxHiddenLayers) {
        throw InvalidParameter(owner, "hiddenLayerSizes",
                               InvalidParameter::Text(this->hiddenLayerSizes),
                               "at most " + std::to_string(maxHiddenLayers) + " hidden layers");
    }
    rules.LearningRate("learningRate", learningRate);
    rules.Momentum("momentum", momentum);
    rules.Finite("maxError", maxError);
    for (int size : this->hiddenLayerSizes) {
        rules.AtLeast("hiddenLayerSizes", size, 1, "every hidden layer needs at least 1 neuron");
    }
    // Each neuron has one weight per input of its layer and a bias; the hidden layers' weights
    // are refused before any is allocated (the output layer, sized by the classes, comes on top).
    long long weights = 0;
    long long inputs = inputCount;
    for (int size : this->hiddenLayerSizes) {
        weights += (inputs + 1) * size;
        inputs = size;
        if (weights > maxModelEntries) {
            throw InvalidParameter(owner, "hiddenLayerSizes",
                                   InvalidParameter::Text(this->hiddenLayerSizes),
                                   "with " + std::to_string(inputCount) +
                                       " features the hidden layers need more than " +
                                       std::to_string(maxModelEntries) + " weights");
        }
    }
    BuildInputAndHiddenLayers();
}

void MultilayerPerceptron::BuildInputAndHiddenLayers() {
    layers.clear();
    int previous = inputCount;
    for (int size : hiddenLayerSizes) {
        AddLayer(size, previous + 1);
        previous = size;
    }
    freshLayers = true;
}

void MultilayerPerceptron::Layer::Allocate(int neurons, int inputs) {
    neuronCount = neurons;
    inputCount = inputs;
    neuronStride = (neurons + kLanes - 1) / kLanes * kLanes;
    const std::size_t stride = static_cast<std::size_t>(neuronStride);
    const std::size_t weightCount = static_cast<std::size_t>(inputs) * stride;
    // Room to start on a cache line, so that no vector of the kernels straddles two lines.
    constexpr std::size_t lineDoubles = 64 / sizeof(double);
    block.assign(2 * weightCount + lineDoubles, 0.0);
    const auto address = reinterpret_cast<std::uintptr_t>(block.data());
    start = (64 - address % 64) % 64 / sizeof(double);
    nets.assign(stride, 0.0);
    scales.assign(stride, 0.0);
}

// Weights are drawn neuron by neuron, input by input, from [0, 1].
void MultilayerPerceptron::AddLayer(int neuronCount, int layerInputs) {
    Layer layer;
    layer.Allocate(neuronCount, layerInputs);
    for (int k = 0; k < neuronCount; ++k) {
        for (int g = 0; g < layerInputs; ++g) {
            layer.Weight(k, g) = util::RandomReal();
        }
    }
    layers.push_back(std::move(layer));
}

void MultilayerPerceptron::AllocateActivations() {
    activations.assign(layers.size() + 1, {});
    errors.assign(layers.size(), {});
    activations[0].assign(static_cast<std::size_t>(layers.front().inputCount), 0.0);
    activations[0].back() = 1.0;
    for (std::size_t j = 0; j < layers.size(); ++j) {
        const bool isOutputLayer = j + 1 == layers.size();
        const std::size_t size =
            static_cast<std::size_t>(layers[j].neuronCount) + (isOutputLayer ? 0 : 1);
        activations[j + 1].assign(size, 0.0);
        if (!isOutputLayer) {
            activations[j + 1].back() = 1.0;
        }
        errors[j].assign(static_cast<std::size_t>(layers[j].neuronStride), 0.0);
    }
}

void MultilayerPerceptron::CheckTrainingSet(
    const std::vector<std::shared_ptr<Pattern>>& patterns) const {
    if (!trainable) {
        throw std::logic_error(
            "MultilayerPerceptron: only a network constructed with its training parameters can "
            "be trained");
    }
    if (patterns.empty()) {
        throw std::invalid_argument("MultilayerPerceptron: Train needs at least one pattern");
    }
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        if (!patterns[i]) {
            throw std::invalid_argument("MultilayerPerceptron: pattern " + std::to_string(i) +
                                        " is missing");
        }
        const std::size_t length = patterns[i]->Descriptors()->size();
        if (length != static_cast<std::size_t>(inputCount)) {
            throw std::invalid_argument("MultilayerPerceptron: pattern " + std::to_string(i) +
                                        " has " + std::to_string(length) +
                                        " features, the network has " + std::to_string(inputCount) +
                                        " inputs");
        }
    }
}

std::vector<double> MultilayerPerceptron::NormalisedInputs(
    const std::vector<std::shared_ptr<Pattern>>& patterns) {
    std::vector<std::vector<double>> vectors;
    vectors.reserve(patterns.size());
    for (const auto& pattern : patterns) {
        vectors.push_back(*pattern->Descriptors());
    }
    MinMaxNormalize(vectors, minDataValues, maxDataValues);
    std::vector<double> inputs;
    inputs.reserve(patterns.size() * (static_cast<std::size_t>(inputCount) + 1));
    for (const std::vector<double>& vector : vectors) {
        inputs.insert(inputs.end(), vector.begin(), vector.end());
        inputs.push_back(1.0);
    }
    return inputs;
}

void MultilayerPerceptron::Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    if (!patterns) {
        throw std::invalid_argument("MultilayerPerceptron: Train needs at least one pattern");
    }
    CheckTrainingSet(*patterns);
    if (!freshLayers) {
        BuildInputAndHiddenLayers();
    }
    freshLayers = false;

    ClassTags tags = TagClasses(*patterns);
    taggedClasses = std::move(tags.tagged);
    outputClassIds = std::move(tags.classIds);
    const std::vector<int> targetOutputs = std::move(tags.outputOf);
    const int lastOutputs = layers.empty() ? inputCount : layers.back().neuronCount;
    AddLayer(static_cast<int>(outputClassIds.size()), lastOutputs + 1);
    AllocateActivations();

    const std::vector<double> inputs = NormalisedInputs(*patterns);
    trained = true;

    epochsRun = 0;
    lastEpochError = 0.0;
    if (iterations <= 0) {
        return;
    }
    for (;;) {
        const double sum = TrainEpoch(inputs, targetOutputs);
        ++epochsRun;
        lastEpochError = sum;
        ReportTraining(epochsRun, iterations);
        // The threshold applies to the summed error of the epoch, not to its mean.
        if (sum < maxError || epochsRun >= iterations) {
            break;
        }
    }
}

[[gnu::always_inline]] inline const double* MultilayerPerceptron::ForwardThrough(
    const double* input, std::size_t layerCount) {
    inputLayer = input;
    for (std::size_t j = 0; j < layerCount; ++j) {
        Layer& layer = layers[j];
        LayerOutputs(j == 0 ? input : activations[j].data(), layer.Weights(), layer.neuronCount,
                     layer.neuronStride, layer.inputCount, layer.nets.data(),
                     activations[j + 1].data());
    }
    return layerCount == 0 ? input : activations[layerCount].data();
}

[[gnu::always_inline]] inline const std::vector<double>& MultilayerPerceptron::Forward(
    const double* input) {
    ForwardThrough(input, layers.size());
    return activations.back();
}

// The output errors are in errors.back(). Errors propagate down as plain weighted sums through
// the weights before this update; the slope of a neuron, taken from its stored output s as
// s (1 - s), is applied once, where its weights change.
[[gnu::always_inline]] inline void MultilayerPerceptron::Backpropagate() {
    for (std::size_t j = layers.size() - 1; j-- > 0;) {
        const Layer& upper = layers[j + 1];
        PropagateErrors(upper.Weights(), upper.neuronStride, errors[j + 1].data(),
                        layers[j].neuronCount, errors[j].data());
    }
    for (std::size_t j = 0; j < layers.size(); ++j) {
        Layer& layer = layers[j];
        const double* out = activations[j + 1].data();
        const double* layerErrors = errors[j].data();
        for (int k = 0; k < layer.neuronCount; ++k) {
            layer.scales[static_cast<std::size_t>(k)] =
                out[k] * (1.0 - out[k]) * (learningRate * layerErrors[k]);
        }
        LayerUpdate(layer.scales.data(), momentum, j == 0 ? inputLayer : activations[j].data(),
                    layer.inputCount, layer.neuronStride, layer.Weights(), layer.Changes());
    }
}

// One pass over the patterns in a fresh random order, so that patterns listed class by class
// do not let the class seen last take over. Returns the summed squared error.
VELKAR_WIDE_VECTORS double MultilayerPerceptron::TrainEpoch(const std::vector<double>& inputs,
                                                            const std::vector<int>& targetOutputs) {
    const std::size_t rowLength = static_cast<std::size_t>(inputCount) + 1;
    std::vector<double>& outputErrors = errors.back();
    double sum = 0.0;
    for (std::size_t i : util::RandomPermutation(targetOutputs.size())) {
        const std::vector<double>& output = Forward(inputs.data() + i * rowLength);
        for (std::size_t c = 0; c < output.size(); ++c) {
            const double target = static_cast<int>(c) == targetOutputs[i] ? 1.0 : 0.0;
            outputErrors[c] = target - output[c];
            sum += outputErrors[c] * outputErrors[c];
        }
        Backpropagate();
    }
    return sum;
}

int MultilayerPerceptron::Classify(std::vector<double>& features) {
    if (!trained) {
        throw std::logic_error("MultilayerPerceptron: Classify needs a trained network");
    }
    if (features.size() != minDataValues.size()) {
        throw std::invalid_argument(
            "MultilayerPerceptron: feature vector has length " + std::to_string(features.size()) +
            ", the network was trained on length " + std::to_string(minDataValues.size()));
    }
    // Scaled into a buffer kept between calls, the bias input 1 last.
    const std::size_t count = features.size();
    scaledInput.resize(count + 1);
    for (std::size_t c = 0; c < count; ++c) {
        scaledInput[c] = ScaledValue(features[c], minDataValues[c], maxDataValues[c]);
    }
    scaledInput[count] = 1.0;

    return StrongestOutput(scaledInput.data());
}

// The answer is the first output of the largest sigmoid above smallestNormal. An output whose
// net input is more than 1 below the largest one and below 30 has a sigmoid below the largest
// one's even as rounded (its e^-net is over e times larger and far above the rounding of
// 1 + e^-net), so it can never be that output and its exponential is left out; the others are
// computed exactly as Forward computes them. A NaN net input makes every output count.
VELKAR_WIDE_VECTORS int MultilayerPerceptron::StrongestOutput(const double* input) {
    const std::size_t last = layers.size() - 1;
    const double* hidden = ForwardThrough(input, last);
    Layer& output = layers[last];
    LayerNets(hidden, output.Weights(), output.neuronStride, output.inputCount,
              output.nets.data());
    const double* nets = output.nets.data();
    double largest = -std::numeric_limits<double>::infinity();
    bool anyNaN = false;
    for (int k = 0; k < output.neuronCount; ++k) {
        anyNaN = anyNaN || std::isnan(nets[k]);
        largest = std::max(largest, nets[k]);
    }
    const double below = anyNaN ? -std::numeric_limits<double>::infinity()
                                : std::min(largest - 1.0, 30.0);
    double best = smallestNormal;
    int result = -1;
    for (int k = 0; k < output.neuronCount; ++k) {
        if (nets[k] < below) {
            continue;
        }
        const double sigmoid = 1.0 / (1.0 + std::exp(-nets[k]));
        if (sigmoid > best) {
            best = sigmoid;
            result = outputClassIds[static_cast<std::size_t>(k)];
        }
    }
    return result;
}

int MultilayerPerceptron::InputSize() {
    return trained ? static_cast<int>(minDataValues.size()) : -1;
}

std::shared_ptr<util::Collection> MultilayerPerceptron::Configuration() {
    if (!trained) {
        throw std::logic_error("MultilayerPerceptron: Configuration needs a trained network");
    }
    auto configuration = std::make_shared<util::Map>();
    ConfigurationTree::AddReals(ConfigurationTree::PutArray(*configuration, "min_data_values"),
                                minDataValues.data(), minDataValues.size());
    ConfigurationTree::AddReals(ConfigurationTree::PutArray(*configuration, "max_data_values"),
                                maxDataValues.data(), maxDataValues.size());

    util::Array& layerArray = ConfigurationTree::PutArray(*configuration, "weights");
    for (const Layer& layer : layers) {
        util::Array& neurons = ConfigurationTree::AddArray(layerArray);
        std::vector<double> neuronWeights(static_cast<std::size_t>(layer.inputCount));
        for (int k = 0; k < layer.neuronCount; ++k) {
            for (int g = 0; g < layer.inputCount; ++g) {
                neuronWeights[static_cast<std::size_t>(g)] = layer.Weight(k, g);
            }
            ConfigurationTree::AddReals(ConfigurationTree::AddArray(neurons), neuronWeights.data(),
                                        neuronWeights.size());
        }
    }

    // The net inputs of a layer are as many as its outputs, so both lists give the same sizes.
    for (const char* key : {"output_sizes", "firestrength_sizes"}) {
        util::Array& sizes = ConfigurationTree::PutArray(*configuration, key);
        for (const auto& activation : activations) {
            sizes.Add(new int(static_cast<int>(activation.size())));
        }
    }
    ConfigurationTree::PutTaggedClasses(*configuration, "tagged_classes", taggedClasses);
    return configuration;
}

void MultilayerPerceptron::SetConfiguration(std::shared_ptr<util::Collection> configuration) {
    Install(ReadModel(kTree.Root(configuration.get())));
}

namespace {

// "output_sizes" and "firestrength_sizes": the values of every layer, input layer first.
std::vector<int> ReadLayerSizes(const util::Map& root) {
    const util::Array& outputSizeArray = kTree.ArrayAt(root, "output_sizes");
    if (outputSizeArray.Size() < 2) {
        kTree.Reject("output_sizes", "needs an input layer and at least one weight layer");
    }
    std::vector<int> sizes;
    for (int j = 0; j < outputSizeArray.Size(); ++j) {
        const int size = kTree.Int(outputSizeArray, j, "output_sizes");
        const bool isOutputLayer = j == outputSizeArray.Size() - 1;
        // Input and hidden layers hold at least one value plus their bias entry.
        if (size < (isOutputLayer ? 1 : 2)) {
            kTree.Reject(ConfigurationTree::Indexed("output_sizes", j),
                         "is too small: " + std::to_string(size));
        }
        sizes.push_back(size);
    }
    const util::Array& strengthSizeArray = kTree.ArrayAt(root, "firestrength_sizes");
    if (strengthSizeArray.Size() != outputSizeArray.Size()) {
        kTree.Reject("firestrength_sizes", "has " + std::to_string(strengthSizeArray.Size()) +
                                               " entries, output_sizes has " +
                                               std::to_string(outputSizeArray.Size()));
    }
    for (int j = 0; j < strengthSizeArray.Size(); ++j) {
        if (kTree.Int(strengthSizeArray, j, "firestrength_sizes") !=
            sizes[static_cast<std::size_t>(j)]) {
            kTree.Reject(ConfigurationTree::Indexed("firestrength_sizes", j),
                         "differs from output_sizes");
        }
    }
    // The sizes decide what is allocated before any weight is read: the hidden layers are held
    // to the limit a new network is, and so is the output layer.
    long long hiddenWeights = 0;
    for (std::size_t j = 0; j + 1 < sizes.size(); ++j) {
        const bool isOutputLayer = j + 2 == sizes.size();
        const long long weights =
            static_cast<long long>(sizes[j]) * (isOutputLayer ? sizes[j + 1] : sizes[j + 1] - 1);
        hiddenWeights += isOutputLayer ? 0 : weights;
        if (hiddenWeights > MultilayerPerceptron::maxModelEntries ||
            weights > MultilayerPerceptron::maxModelEntries) {
            kTree.Reject("output_sizes",
                         "describes more than " +
                             std::to_string(MultilayerPerceptron::maxModelEntries) + " weights");
        }
    }
    return sizes;
}

}  // namespace

// "weights": one array per layer, one array of inputCount reals per neuron.
std::vector<MultilayerPerceptron::Layer> MultilayerPerceptron::ReadLayers(
    const util::Map& root, const std::vector<int>& sizes) {
    const std::size_t layerCount = sizes.size() - 1;
    const util::Array& layerArray = kTree.ArrayAt(root, "weights");
    if (static_cast<std::size_t>(layerArray.Size()) != layerCount) {
        kTree.Reject("weights", "has " + std::to_string(layerArray.Size()) +
                                    " layers, output_sizes describes " +
                                    std::to_string(layerCount));
    }
    std::vector<Layer> layers;
    for (std::size_t j = 0; j < layerCount; ++j) {
        const bool isOutputLayer = j + 1 == layerCount;
        Layer layer;
        layer.Allocate(isOutputLayer ? sizes[j + 1] : sizes[j + 1] - 1, sizes[j]);
        const std::string layerKey = ConfigurationTree::Indexed("weights", static_cast<int>(j));
        const util::Array& neuronArray = kTree.ArrayAt(layerArray, static_cast<int>(j), "weights");
        if (neuronArray.Size() != layer.neuronCount) {
            kTree.Reject(layerKey, "has " + std::to_string(neuronArray.Size()) +
                                       " neurons, expected " + std::to_string(layer.neuronCount));
        }
        for (int k = 0; k < layer.neuronCount; ++k) {
            const util::Array& weightArray = kTree.ArrayAt(neuronArray, k, layerKey);
            const std::string neuronKey = ConfigurationTree::Indexed(layerKey, k);
            if (weightArray.Size() != layer.inputCount) {
                kTree.Reject(neuronKey, "has " + std::to_string(weightArray.Size()) +
                                            " weights, expected " +
                                            std::to_string(layer.inputCount));
            }
            for (int g = 0; g < layer.inputCount; ++g) {
                layer.Weight(k, g) = kTree.Real(weightArray, g, neuronKey);
            }
        }
        layers.push_back(std::move(layer));
    }
    return layers;
}

// Layer sizes come first: every other key is checked against them.
MultilayerPerceptron::Model MultilayerPerceptron::ReadModel(const util::Map& root) {
    Model model;
    model.outputSizes = ReadLayerSizes(root);
    const int inputLength = model.outputSizes[0] - 1;
    model.minValues = kTree.Reals(root, "min_data_values", inputLength);
    model.maxValues = kTree.Reals(root, "max_data_values", inputLength);
    model.layers = ReadLayers(root, model.outputSizes);
    model.classIds = kTree.TaggedClasses(root, "tagged_classes");
    const int classCount = model.outputSizes.back();
    if (static_cast<int>(model.classIds.size()) != classCount) {
        kTree.Reject("tagged_classes", "has " + std::to_string(model.classIds.size()) +
                                           " classes, the output layer has " +
                                           std::to_string(classCount) + " neurons");
    }
    return model;
}

void MultilayerPerceptron::Install(Model&& model) {
    layers = std::move(model.layers);
    taggedClasses = OutputsOf(model.classIds);
    outputClassIds = std::move(model.classIds);
    minDataValues = std::move(model.minValues);
    maxDataValues = std::move(model.maxValues);
    AllocateActivations();
    trained = true;
    freshLayers = false;
    epochsRun = 0;
    lastEpochError = 0.0;
}

}  // namespace velkar::patternrecognition
