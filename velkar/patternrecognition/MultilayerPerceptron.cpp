#include "velkar/patternrecognition/MultilayerPerceptron.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "velkar/patternrecognition/ClassTags.h"
#include "velkar/patternrecognition/ConfigurationTree.h"
#include "velkar/patternrecognition/MinMaxNormalize.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

// The two passes that do nearly all the work of training are also built for processors with
// wider vectors and chosen when the program starts; each weight and each neuron's sum is computed
// by the same operations in the same order either way, so results do not depend on the machine.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define VELKAR_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define VELKAR_WIDE_VECTORS
#endif

namespace velkar::patternrecognition {

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
    if (inputCount < 1) {
        throw std::invalid_argument("MultilayerPerceptron needs at least one input, got " +
                                    std::to_string(inputCount));
    }
    for (std::size_t i = 0; i < this->hiddenLayerSizes.size(); ++i) {
        if (this->hiddenLayerSizes[i] < 1) {
            throw std::invalid_argument("MultilayerPerceptron hidden layer " + std::to_string(i) +
                                        " needs at least one neuron, got " +
                                        std::to_string(this->hiddenLayerSizes[i]));
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

// Weights are drawn neuron by neuron, input by input, from [0, 1].
void MultilayerPerceptron::AddLayer(int neuronCount, int layerInputs) {
    Layer layer;
    layer.neuronCount = neuronCount;
    layer.inputCount = layerInputs;
    const std::size_t size =
        static_cast<std::size_t>(neuronCount) * static_cast<std::size_t>(layerInputs);
    layer.weights.resize(size);
    for (double& weight : layer.weights) {
        weight = util::RandomReal();
    }
    layer.previousChanges.assign(size, 0.0);
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
        errors[j].assign(size, 0.0);
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

std::vector<std::vector<double>> MultilayerPerceptron::NormalisedInputs(
    const std::vector<std::shared_ptr<Pattern>>& patterns) {
    std::vector<std::vector<double>> inputs;
    inputs.reserve(patterns.size());
    for (const auto& pattern : patterns) {
        inputs.push_back(*pattern->Descriptors());
    }
    MinMaxNormalize(inputs, minDataValues, maxDataValues);
    for (std::vector<double>& input : inputs) {
        input.push_back(1.0);
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

    const std::vector<std::vector<double>> inputs = NormalisedInputs(*patterns);
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
        // The threshold applies to the summed error of the epoch, not to its mean.
        if (sum < maxError || epochsRun >= iterations) {
            break;
        }
    }
}

// One pass over the patterns in a fresh random order, so that patterns listed class by class
// do not let the class seen last take over. Returns the summed squared error.
double MultilayerPerceptron::TrainEpoch(const std::vector<std::vector<double>>& inputs,
                                        const std::vector<int>& targetOutputs) {
    std::vector<double>& outputErrors = errors.back();
    double sum = 0.0;
    for (std::size_t i : util::RandomPermutation(inputs.size())) {
        const std::vector<double>& output = ForwardPass(inputs[i].data());
        for (std::size_t c = 0; c < output.size(); ++c) {
            const double target = static_cast<int>(c) == targetOutputs[i] ? 1.0 : 0.0;
            outputErrors[c] = target - output[c];
            sum += outputErrors[c] * outputErrors[c];
        }
        Backpropagate();
    }
    return sum;
}

namespace {

// The net inputs of Width neurons side by side, so that their additions overlap; each neuron
// still adds its inputs in order, so every net input is exactly the plain in-order sum.
template <int Width>
void NetInputs(const double* __restrict below, const double* __restrict weights, std::size_t stride,
               int inputs, double* __restrict nets) {
    double sums[Width] = {};
    for (int g = 0; g < inputs; ++g) {
        const double value = below[g];
        for (int n = 0; n < Width; ++n) {
            sums[n] +=
                value * weights[static_cast<std::size_t>(n) * stride + static_cast<std::size_t>(g)];
        }
    }
    for (int n = 0; n < Width; ++n) {
        nets[n] = sums[n];
    }
}

// The logistic outputs of the count neurons of a layer: eight neurons at a time, then the rest
// together.
void LayerOutputs(const double* __restrict below, const double* __restrict weights, int count,
                  int inputs, double* __restrict out) {
    const std::size_t stride = static_cast<std::size_t>(inputs);
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        NetInputs<8>(below, weights + static_cast<std::size_t>(k) * stride, stride, inputs,
                     out + k);
    }
    const double* rest = weights + static_cast<std::size_t>(k) * stride;
    switch (count - k) {
        case 7:
            NetInputs<7>(below, rest, stride, inputs, out + k);
            break;
        case 6:
            NetInputs<6>(below, rest, stride, inputs, out + k);
            break;
        case 5:
            NetInputs<5>(below, rest, stride, inputs, out + k);
            break;
        case 4:
            NetInputs<4>(below, rest, stride, inputs, out + k);
            break;
        case 3:
            NetInputs<3>(below, rest, stride, inputs, out + k);
            break;
        case 2:
            NetInputs<2>(below, rest, stride, inputs, out + k);
            break;
        case 1:
            NetInputs<1>(below, rest, stride, inputs, out + k);
            break;
        default:
            break;
    }
    // The logistic function 1 / (1 + e^-net), its exponentials first so that the divisions
    // run together.
    for (k = 0; k < count; ++k) {
        out[k] = std::exp(-out[k]);
    }
    for (k = 0; k < count; ++k) {
        out[k] = 1.0 / (1.0 + out[k]);
    }
}

// lower[g] += sum over the neurons m of weight[m][g] * upper[m], neuron after neuron.
void PropagateErrors(const double* __restrict weights, const double* __restrict upper, int count,
                     int inputs, double* __restrict lower) {
    for (int m = 0; m < count; ++m) {
        const double* w = weights + static_cast<std::size_t>(m) * static_cast<std::size_t>(inputs);
        for (int g = 0; g < inputs; ++g) {
            lower[g] += w[g] * upper[m];
        }
    }
}

// One neuron's weights move by scale times their inputs plus momentum times their last move.
void UpdateWeights(double scale, double momentum, const double* __restrict input, int inputs,
                   double* __restrict weight, double* __restrict previousChange) {
    for (int g = 0; g < inputs; ++g) {
        const double change = scale * input[g] + momentum * previousChange[g];
        weight[g] += change;
        previousChange[g] = change;
    }
}

}  // namespace

VELKAR_WIDE_VECTORS const std::vector<double>& MultilayerPerceptron::ForwardPass(
    const double* input) {
    inputLayer = input;
    for (std::size_t j = 0; j < layers.size(); ++j) {
        const Layer& layer = layers[j];
        LayerOutputs(j == 0 ? input : activations[j].data(), layer.weights.data(),
                     layer.neuronCount, layer.inputCount, activations[j + 1].data());
    }
    return activations.back();
}

// The output errors are in errors.back(). Errors propagate down as plain weighted sums; the
// slope of a neuron, taken from its stored output s as s (1 - s), is applied once, where its
// weights change.
VELKAR_WIDE_VECTORS void MultilayerPerceptron::Backpropagate() {
    for (std::size_t j = layers.size() - 1; j-- > 0;) {
        std::fill(errors[j].begin(), errors[j].end(), 0.0);
        const Layer& upper = layers[j + 1];
        PropagateErrors(upper.weights.data(), errors[j + 1].data(), upper.neuronCount,
                        upper.inputCount, errors[j].data());
    }
    for (std::size_t j = 0; j < layers.size(); ++j) {
        Layer& layer = layers[j];
        const double* out = activations[j + 1].data();
        const double* layerErrors = errors[j].data();
        const std::size_t stride = static_cast<std::size_t>(layer.inputCount);
        for (int k = 0; k < layer.neuronCount; ++k) {
            const std::size_t offset = static_cast<std::size_t>(k) * stride;
            const double scale = out[k] * (1.0 - out[k]) * (learningRate * layerErrors[k]);
            UpdateWeights(scale, momentum, j == 0 ? inputLayer : activations[j].data(),
                          layer.inputCount, layer.weights.data() + offset,
                          layer.previousChanges.data() + offset);
        }
    }
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
    scaledInput.assign(features.begin(), features.end());
    ScaleToRange(scaledInput, minDataValues, maxDataValues);
    scaledInput.push_back(1.0);

    const std::vector<double>& output = ForwardPass(scaledInput.data());
    double best = smallestNormal;
    int result = -1;
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (output[i] > best) {
            best = output[i];
            result = outputClassIds[i];
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
        for (int k = 0; k < layer.neuronCount; ++k) {
            ConfigurationTree::AddReals(
                ConfigurationTree::AddArray(neurons),
                layer.weights.data() +
                    static_cast<std::size_t>(k) * static_cast<std::size_t>(layer.inputCount),
                static_cast<std::size_t>(layer.inputCount));
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
        layer.neuronCount = isOutputLayer ? sizes[j + 1] : sizes[j + 1] - 1;
        layer.inputCount = sizes[j];
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
                layer.weights.push_back(kTree.Real(weightArray, g, neuronKey));
            }
        }
        layer.previousChanges.assign(layer.weights.size(), 0.0);
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
