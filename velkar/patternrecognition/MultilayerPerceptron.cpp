#include "velkar/patternrecognition/MultilayerPerceptron.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include <boost/numeric/ublas/vector_expression.hpp>

#include "velkar/patternrecognition/MinMaxNormalize.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {

namespace {

// Vectors are always built with an explicit fill value: with C++20 library headers, uBLAS's
// size-only constructor (also used by its expression constructors) does not compile.
using Vector = MultilayerPerceptron::Vector;
using VectorPtr = MultilayerPerceptron::VectorPtr;
using NeuronList = MultilayerPerceptron::NeuronList;

// An output has to exceed this to win; when none does, Classify chooses no class (-1).
constexpr double smallestNormal = std::numeric_limits<double>::min();

[[noreturn]] void Reject(const std::string& key, const std::string& problem) {
    throw std::runtime_error("Multilayer perceptron configuration: \"" + key + "\" " + problem);
}

std::string Indexed(const std::string& key, std::size_t index) {
    return key + "[" + std::to_string(index) + "]";
}

const util::Array& ArrayValue(util::Collection* value, const std::string& key) {
    if (value == nullptr) {
        Reject(key, "is missing or not an array");
    }
    const auto* array = dynamic_cast<const util::Array*>(value);
    if (array == nullptr) {
        Reject(key, "is not an array");
    }
    return *array;
}

const util::Array& ArrayEntry(const util::Array& parent, int index, const std::string& key) {
    return ArrayValue(parent.GetCollection(index), Indexed(key, index));
}

// Reals may be written as integers in a hand-edited file; both are accepted as reals.
double RealEntry(const util::Array& array, int index, const std::string& key) {
    if (const double* value = array.GetDouble(index)) {
        return *value;
    }
    if (const int* value = array.GetInt(index)) {
        return *value;
    }
    Reject(Indexed(key, index), "is not a number");
}

int IntEntry(const util::Array& array, int index, const std::string& key) {
    const int* value = array.GetInt(index);
    if (value == nullptr) {
        Reject(Indexed(key, index), "is not an integer");
    }
    return *value;
}

VectorPtr RealVectorFrom(const util::Array& array, const std::string& key) {
    auto vector = std::make_shared<Vector>(array.Size(), 0.0);
    for (int i = 0; i < array.Size(); ++i) {
        (*vector)(i) = RealEntry(array, i, key);
    }
    return vector;
}

// New arrays are attached to their parent before they are filled, so the tree owns every
// node at all times and nothing leaks if an allocation fails half-way.
util::Array& PutArray(util::Map& parent, const std::string& key) {
    auto* array = new util::Array();
    parent.Put(key, array);
    return *array;
}

util::Array& AddArray(util::Array& parent) {
    auto* array = new util::Array();
    parent.Add(array);
    return *array;
}

void AddReals(util::Array& array, const Vector& values) {
    for (double value : values) {
        array.Add(new double(value));
    }
}

}  // namespace

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
    weights.clear();
    previousChanges.clear();
    outputs.clear();
    fireStrengths.clear();
    errors.clear();

    // The input layer carries a constant last entry 1, the bias input of the first layer.
    outputs.push_back(std::make_shared<Vector>(inputCount + 1, 0.0));
    fireStrengths.push_back(std::make_shared<Vector>(inputCount + 1, 0.0));
    (*outputs[0])(inputCount) = 1.0;
    (*fireStrengths[0])(inputCount) = 1.0;

    int previous = inputCount;
    for (int size : hiddenLayerSizes) {
        AddLayer(size, previous + 1, false);
        previous = size;
    }
    freshLayers = true;
}

void MultilayerPerceptron::AddLayer(int neuronCount, int inputCount, bool isOutputLayer) {
    auto neurons = std::make_shared<NeuronList>();
    auto changes = std::make_shared<NeuronList>();
    for (int k = 0; k < neuronCount; ++k) {
        auto weight = std::make_shared<Vector>(inputCount, 0.0);
        for (int g = 0; g < inputCount; ++g) {
            (*weight)(g) = util::RandomReal();
        }
        neurons->push_back(weight);
        changes->push_back(std::make_shared<Vector>(inputCount, 0.0));
    }
    weights.push_back(neurons);
    previousChanges.push_back(changes);

    const int n = isOutputLayer ? neuronCount : neuronCount + 1;
    outputs.push_back(std::make_shared<Vector>(n, 0.0));
    fireStrengths.push_back(std::make_shared<Vector>(n, 0.0));
    errors.push_back(std::make_shared<Vector>(n, 0.0));
    if (!isOutputLayer) {
        (*outputs.back())(neuronCount) = 1.0;
        (*fireStrengths.back())(neuronCount) = 1.0;
    }
}

void MultilayerPerceptron::TagClasses(const std::vector<std::shared_ptr<Pattern>>& patterns) {
    taggedClasses.clear();
    outputClassIds.clear();
    targets.clear();
    for (const auto& pattern : patterns) {
        const int id = pattern->Class();
        if (taggedClasses.emplace(id, static_cast<int>(outputClassIds.size())).second) {
            outputClassIds.push_back(id);
        }
    }
    const std::size_t classCount = outputClassIds.size();
    for (std::size_t i = 0; i < classCount; ++i) {
        auto target = std::make_shared<Vector>(classCount, 0.0);
        (*target)(i) = 1.0;
        targets.push_back(target);
    }
}

void MultilayerPerceptron::Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    if (!trainable) {
        throw std::logic_error(
            "MultilayerPerceptron: only a network constructed with its training parameters can "
            "be trained");
    }
    if (!patterns || patterns->empty()) {
        throw std::invalid_argument("MultilayerPerceptron: Train needs at least one pattern");
    }
    for (std::size_t i = 0; i < patterns->size(); ++i) {
        const auto& pattern = (*patterns)[i];
        if (!pattern) {
            throw std::invalid_argument("MultilayerPerceptron: pattern " + std::to_string(i) +
                                        " is missing");
        }
        const std::size_t length = pattern->Descriptors()->size();
        if (length != static_cast<std::size_t>(inputCount)) {
            throw std::invalid_argument("MultilayerPerceptron: pattern " + std::to_string(i) +
                                        " has " + std::to_string(length) +
                                        " features, the network has " + std::to_string(inputCount) +
                                        " inputs");
        }
    }

    if (!freshLayers) {
        BuildInputAndHiddenLayers();
    }
    freshLayers = false;

    TagClasses(*patterns);
    AddLayer(static_cast<int>(outputClassIds.size()), static_cast<int>(outputs.back()->size()),
             true);

    std::vector<int> targetIndices;
    std::vector<VectorPtr> inputs;
    targetIndices.reserve(patterns->size());
    inputs.reserve(patterns->size());
    for (const auto& pattern : *patterns) {
        targetIndices.push_back(taggedClasses.at(pattern->Class()));
        const std::vector<double>& features = *pattern->Descriptors();
        auto input = std::make_shared<Vector>(features.size(), 0.0);
        std::copy(features.begin(), features.end(), input->begin());
        inputs.push_back(input);
    }
    MinMaxRange range = MinMaxNormalize(inputs);
    minDataValues = range.min;
    maxDataValues = range.max;

    epochsRun = 0;
    lastEpochError = 0.0;
    if (iterations <= 0) {
        return;
    }
    Vector error(outputClassIds.size(), 0.0);
    for (;;) {
        double sum = 0.0;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            const VectorPtr output = ForwardPass(inputs[i]);
            const Vector& target = *targets[targetIndices[i]];
            for (std::size_t c = 0; c < error.size(); ++c) {
                error(c) = target(c) - (*output)(c);
            }
            sum += boost::numeric::ublas::inner_prod(error, error);
            Backpropagate(error);
        }
        ++epochsRun;
        lastEpochError = sum;
        // The threshold applies to the summed error of the epoch, not to its mean.
        if (sum < maxError || epochsRun >= iterations) {
            break;
        }
    }
}

MultilayerPerceptron::VectorPtr MultilayerPerceptron::ForwardPass(const VectorPtr& input) {
    Vector& inputLayer = *outputs[0];
    Vector& inputStrengths = *fireStrengths[0];
    for (std::size_t c = 0; c < input->size(); ++c) {
        inputLayer(c) = (*input)(c);
        inputStrengths(c) = (*input)(c);
    }
    for (std::size_t j = 0; j < weights.size(); ++j) {
        const Vector& previous = *outputs[j];
        Vector& strengths = *fireStrengths[j + 1];
        Vector& activations = *outputs[j + 1];
        const NeuronList& neurons = *weights[j];
        for (std::size_t k = 0; k < neurons.size(); ++k) {
            const double net = boost::numeric::ublas::inner_prod(previous, *neurons[k]);
            strengths(k) = net;
            activations(k) = ActivationFunction(net);
        }
    }
    return outputs.back();
}

void MultilayerPerceptron::Backpropagate(const Vector& error) {
    const std::size_t layerCount = weights.size();
    Vector& outputErrors = *errors[layerCount - 1];
    for (std::size_t i = 0; i < error.size(); ++i) {
        outputErrors(i) = error(i);
    }
    // Plain weighted sums: the slope of the upper layer is not applied here, only once below
    // for the neuron whose weights change.
    for (std::size_t j = layerCount - 1; j-- > 0;) {
        Vector& lower = *errors[j];
        const Vector& upper = *errors[j + 1];
        const NeuronList& neurons = *weights[j + 1];
        lower.clear();
        for (std::size_t m = 0; m < neurons.size(); ++m) {
            const Vector& weight = *neurons[m];
            for (std::size_t g = 0; g < weight.size(); ++g) {
                lower(g) += weight(g) * upper(m);
            }
        }
    }
    for (std::size_t j = 0; j < layerCount; ++j) {
        const Vector& input = *outputs[j];
        const Vector& strengths = *fireStrengths[j + 1];
        const Vector& layerErrors = *errors[j];
        NeuronList& neurons = *weights[j];
        NeuronList& changes = *previousChanges[j];
        for (std::size_t k = 0; k < neurons.size(); ++k) {
            const double scale =
                ActivationFunctionDerivative(strengths(k)) * (learningRate * layerErrors(k));
            Vector& weight = *neurons[k];
            Vector& previousChange = *changes[k];
            for (std::size_t g = 0; g < weight.size(); ++g) {
                const double change = scale * input(g) + momentum * previousChange(g);
                weight(g) += change;
                previousChange(g) = change;
            }
        }
    }
}

double MultilayerPerceptron::ActivationFunction(double x) { return 1.0 / (1.0 + std::exp(-x)); }

double MultilayerPerceptron::ActivationFunctionDerivative(double x) {
    const double s = ActivationFunction(x);
    return s * (1.0 - s);
}

int MultilayerPerceptron::Classify(std::vector<double>& features) {
    if (!minDataValues || outputClassIds.empty()) {
        throw std::logic_error("MultilayerPerceptron: Classify needs a trained network");
    }
    if (features.size() != minDataValues->size()) {
        throw std::invalid_argument(
            "MultilayerPerceptron: feature vector has length " + std::to_string(features.size()) +
            ", the network was trained on length " + std::to_string(minDataValues->size()));
    }
    auto input = std::make_shared<Vector>(features.size(), 0.0);
    std::copy(features.begin(), features.end(), input->begin());
    ScaleToRange(*input, *minDataValues, *maxDataValues);

    const Vector& output = *ForwardPass(input);
    double best = smallestNormal;
    int result = -1;
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (output(i) > best) {
            best = output(i);
            result = outputClassIds[i];
        }
    }
    return result;
}

int MultilayerPerceptron::InputSize() {
    return minDataValues ? static_cast<int>(minDataValues->size()) : -1;
}

std::shared_ptr<util::Collection> MultilayerPerceptron::Configuration() {
    if (!minDataValues || outputClassIds.empty()) {
        throw std::logic_error("MultilayerPerceptron: Configuration needs a trained network");
    }
    auto configuration = std::make_shared<util::Map>();
    AddReals(PutArray(*configuration, "min_data_values"), *minDataValues);
    AddReals(PutArray(*configuration, "max_data_values"), *maxDataValues);

    util::Array& layers = PutArray(*configuration, "weights");
    for (const auto& neurons : weights) {
        util::Array& layer = AddArray(layers);
        for (const auto& weight : *neurons) {
            AddReals(AddArray(layer), *weight);
        }
    }

    util::Array& outputSizes = PutArray(*configuration, "output_sizes");
    for (const auto& output : outputs) {
        outputSizes.Add(new int(static_cast<int>(output->size())));
    }
    util::Array& strengthSizes = PutArray(*configuration, "firestrength_sizes");
    for (const auto& strengths : fireStrengths) {
        strengthSizes.Add(new int(static_cast<int>(strengths->size())));
    }

    util::Array& tagged = PutArray(*configuration, "tagged_classes");
    for (const auto& [classId, outputIndex] : taggedClasses) {
        auto* entry = new util::Map();
        tagged.Add(entry);
        entry->Put("key", new int(classId));
        entry->Put("value", new int(outputIndex));
    }
    return configuration;
}

void MultilayerPerceptron::SetConfiguration(std::shared_ptr<util::Collection> configuration) {
    const auto* root = dynamic_cast<const util::Map*>(configuration.get());
    if (root == nullptr) {
        throw std::runtime_error("Multilayer perceptron configuration: expected a map");
    }

    // Layer sizes come first: every other key is checked against them.
    const util::Array& outputSizeArray =
        ArrayValue(root->GetCollection("output_sizes"), "output_sizes");
    if (outputSizeArray.Size() < 2) {
        Reject("output_sizes", "needs an input layer and at least one weight layer");
    }
    std::vector<int> outputSizes;
    for (int j = 0; j < outputSizeArray.Size(); ++j) {
        const int size = IntEntry(outputSizeArray, j, "output_sizes");
        const bool isOutputLayer = j == outputSizeArray.Size() - 1;
        // Input and hidden layers hold at least one value plus their bias entry.
        if (size < (isOutputLayer ? 1 : 2)) {
            Reject(Indexed("output_sizes", j), "is too small: " + std::to_string(size));
        }
        outputSizes.push_back(size);
    }
    const std::size_t layerCount = outputSizes.size() - 1;

    const util::Array& strengthSizeArray =
        ArrayValue(root->GetCollection("firestrength_sizes"), "firestrength_sizes");
    if (strengthSizeArray.Size() != outputSizeArray.Size()) {
        Reject("firestrength_sizes", "has " + std::to_string(strengthSizeArray.Size()) +
                                         " entries, output_sizes has " +
                                         std::to_string(outputSizeArray.Size()));
    }
    for (int j = 0; j < strengthSizeArray.Size(); ++j) {
        if (IntEntry(strengthSizeArray, j, "firestrength_sizes") != outputSizes[j]) {
            Reject(Indexed("firestrength_sizes", j), "differs from output_sizes");
        }
    }

    const int inputLength = outputSizes[0] - 1;
    auto readRange = [&](const std::string& key) {
        const util::Array& values = ArrayValue(root->GetCollection(key), key);
        if (values.Size() != inputLength) {
            Reject(key, "has " + std::to_string(values.Size()) + " entries, the input layer has " +
                            std::to_string(inputLength));
        }
        return RealVectorFrom(values, key);
    };
    const VectorPtr minValues = readRange("min_data_values");
    const VectorPtr maxValues = readRange("max_data_values");

    const util::Array& layerArray = ArrayValue(root->GetCollection("weights"), "weights");
    if (static_cast<std::size_t>(layerArray.Size()) != layerCount) {
        Reject("weights", "has " + std::to_string(layerArray.Size()) +
                              " layers, output_sizes describes " + std::to_string(layerCount));
    }
    std::vector<std::shared_ptr<NeuronList>> newWeights;
    for (std::size_t j = 0; j < layerCount; ++j) {
        const std::string layerKey = Indexed("weights", j);
        const util::Array& neuronArray = ArrayEntry(layerArray, static_cast<int>(j), "weights");
        const bool isOutputLayer = j + 1 == layerCount;
        const int neuronCount = isOutputLayer ? outputSizes[j + 1] : outputSizes[j + 1] - 1;
        if (neuronArray.Size() != neuronCount) {
            Reject(layerKey, "has " + std::to_string(neuronArray.Size()) + " neurons, expected " +
                                 std::to_string(neuronCount));
        }
        auto neurons = std::make_shared<NeuronList>();
        for (int k = 0; k < neuronCount; ++k) {
            const util::Array& weightArray = ArrayEntry(neuronArray, k, layerKey);
            if (weightArray.Size() != outputSizes[j]) {
                Reject(Indexed(layerKey, k), "has " + std::to_string(weightArray.Size()) +
                                                 " weights, expected " +
                                                 std::to_string(outputSizes[j]));
            }
            neurons->push_back(RealVectorFrom(weightArray, Indexed(layerKey, k)));
        }
        newWeights.push_back(neurons);
    }

    const int classCount = outputSizes.back();
    const util::Array& taggedArray =
        ArrayValue(root->GetCollection("tagged_classes"), "tagged_classes");
    if (taggedArray.Size() != classCount) {
        Reject("tagged_classes", "has " + std::to_string(taggedArray.Size()) +
                                     " classes, the output layer has " +
                                     std::to_string(classCount) + " neurons");
    }
    std::map<int, int> newTagged;
    std::vector<int> newClassIds(classCount);
    std::set<int> usedOutputs;
    for (int i = 0; i < taggedArray.Size(); ++i) {
        const std::string entryKey = Indexed("tagged_classes", i);
        const auto* entry = dynamic_cast<const util::Map*>(taggedArray.GetCollection(i));
        if (entry == nullptr) {
            Reject(entryKey, "is not a map");
        }
        const int* classId = entry->GetInt("key");
        const int* outputIndex = entry->GetInt("value");
        if (classId == nullptr || outputIndex == nullptr) {
            Reject(entryKey, "needs integer \"key\" and \"value\"");
        }
        if (*outputIndex < 0 || *outputIndex >= classCount) {
            Reject(entryKey, "maps to output " + std::to_string(*outputIndex) + ", outside [0, " +
                                 std::to_string(classCount) + ")");
        }
        if (!newTagged.emplace(*classId, *outputIndex).second) {
            Reject(entryKey, "repeats class " + std::to_string(*classId));
        }
        if (!usedOutputs.insert(*outputIndex).second) {
            Reject(entryKey, "repeats output " + std::to_string(*outputIndex));
        }
        newClassIds[*outputIndex] = *classId;
    }

    // Everything is valid: replace the model.
    std::vector<VectorPtr> newOutputs;
    std::vector<VectorPtr> newStrengths;
    std::vector<VectorPtr> newErrors;
    std::vector<std::shared_ptr<NeuronList>> newChanges;
    for (std::size_t j = 0; j < outputSizes.size(); ++j) {
        newOutputs.push_back(std::make_shared<Vector>(outputSizes[j], 0.0));
        newStrengths.push_back(std::make_shared<Vector>(outputSizes[j], 0.0));
        if (j + 1 < outputSizes.size()) {
            (*newOutputs[j])(outputSizes[j] - 1) = 1.0;
        }
        if (j > 0) {
            newErrors.push_back(std::make_shared<Vector>(outputSizes[j], 0.0));
        }
    }
    for (const auto& neurons : newWeights) {
        auto changes = std::make_shared<NeuronList>();
        for (const auto& weight : *neurons) {
            changes->push_back(std::make_shared<Vector>(weight->size(), 0.0));
        }
        newChanges.push_back(changes);
    }

    weights = std::move(newWeights);
    previousChanges = std::move(newChanges);
    outputs = std::move(newOutputs);
    fireStrengths = std::move(newStrengths);
    errors = std::move(newErrors);
    taggedClasses = std::move(newTagged);
    outputClassIds = std::move(newClassIds);
    targets.clear();
    minDataValues = minValues;
    maxDataValues = maxValues;
    freshLayers = false;
    epochsRun = 0;
    lastEpochError = 0.0;
}

}  // namespace velkar::patternrecognition
