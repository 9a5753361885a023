#include "velkar/patternrecognition/LearningVectorQuantization.h"

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

}  // namespace

LearningVectorQuantization::LearningVectorQuantization(int hidden, int outputs, int iterationCount,
                                                       double alpha)
    : hiddenCount(hidden),
      outputCount(outputs),
      neuronsPerClass(outputs >= 1 ? hidden / outputs : 1),
      initialAlpha(alpha),
      iterations(iterationCount),
      trainable(true) {
    const util::InvalidParameter::Rules rules("LearningVectorQuantization");
    rules.AtLeast("outputCount", outputs, 1, "there must be at least 1 class");
    // Every class needs a block of at least one neuron.
    rules.AtLeast("hiddenCount", hidden, outputs,
                  "at least one neuron per class, " + std::to_string(outputs) + " in all");
    rules.AtLeast("iterations", iterationCount, 1, "at least 1 iteration is needed");
    rules.LearningRate("alpha", alpha);
}

void LearningVectorQuantization::Train(
    std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    if (!trainable) {
        throw std::logic_error(
            "LearningVectorQuantization: only an object constructed with its training "
            "parameters can be trained");
    }
    const std::string owner = "LearningVectorQuantization";
    const std::size_t n = FirstPatternLength(patterns, owner);
    if (static_cast<long long>(n) * hiddenCount > maxModelEntries) {
        throw std::invalid_argument("LearningVectorQuantization: " + std::to_string(hiddenCount) +
                                    " neurons of " + std::to_string(n) + " weights exceed the " +
                                    std::to_string(maxModelEntries) + " weights allowed");
    }
    CheckPatternFeatures(patterns, owner, n);
    std::vector<const double*> data;
    std::vector<int> classes;
    data.reserve(patterns->size());
    classes.reserve(patterns->size());
    for (const auto& pattern : *patterns) {
        data.push_back(pattern->Descriptors()->data());
        classes.push_back(pattern->Class());
    }

    const int dim = static_cast<int>(n);
    auto prototypes = std::make_shared<Matrix>(hiddenCount, dim);
    for (int k = 0; k < hiddenCount; ++k) {
        for (int d = 0; d < dim; ++d) {
            (*prototypes)(k, d) = util::RandomReal();
        }
    }

    // Each Train starts from the constructor's rate, so a classifier trained again (as the
    // feature selection does for every candidate) learns as much as the first time.
    double alpha = initialAlpha;
    const double alphaStep = initialAlpha / iterations;
    for (int epoch = 0; epoch < iterations; ++epoch) {
        // The last epoch only presents the patterns; it moves no neuron.
        RunEpoch(*prototypes, data, classes, alpha, epoch < iterations - 1);
        alpha -= alphaStep;
        ReportTraining(epoch + 1, iterations);
    }
    weights = std::move(prototypes);
    dimension = dim;
}

void LearningVectorQuantization::RunEpoch(Matrix& prototypes,
                                          const std::vector<const double*>& data,
                                          const std::vector<int>& classes, double alpha,
                                          bool adjust) const {
    for (std::size_t index : util::RandomPermutation(data.size())) {
        const double* features = data[index];
        const int winner = prototypes.NearestRow(features);
        if (!adjust) {
            continue;
        }
        const double rate = NeuronClass(winner) == classes[index] ? alpha : -alpha;
        for (int d = 0; d < prototypes.Columns(); ++d) {
            double& weight = prototypes(winner, d);
            weight += rate * (features[d] - weight);
        }
    }
}

int LearningVectorQuantization::Classify(std::vector<double>& features) {
    if (!weights) {
        throw std::logic_error("LearningVectorQuantization: Classify needs trained weights");
    }
    if (features.size() != static_cast<std::size_t>(dimension)) {
        throw std::invalid_argument("LearningVectorQuantization: feature vector has length " +
                                    std::to_string(features.size()) + ", the neurons have " +
                                    std::to_string(dimension) + " weights");
    }
    return NeuronClass(weights->NearestRow(features.data()));
}

std::shared_ptr<util::Collection> LearningVectorQuantization::Configuration() {
    if (!weights) {
        throw std::logic_error("LearningVectorQuantization: Configuration needs trained weights");
    }
    auto configuration = std::make_shared<util::Map>();
    configuration->Put("hidden_count", new int(hiddenCount));
    configuration->Put("output_count", new int(outputCount));
    configuration->Put("dimension", new int(dimension));
    ModelTree::PutRows(*configuration, "weights", *weights);
    return configuration;
}

void LearningVectorQuantization::SetConfiguration(std::shared_ptr<util::Collection> configuration) {
    const ModelTree tree(configuration, "Learning vector quantization");
    const int newHidden = tree.Integer("hidden_count", 1, INT_MAX);
    // At least one neuron per class: H / O neurons form a block.
    const int newOutput = tree.Integer("output_count", 1, newHidden);
    const int newDimension = tree.Integer("dimension", 0, INT_MAX);
    auto newWeights = std::make_shared<Matrix>(tree.Rows("weights", newHidden, newDimension));
    hiddenCount = newHidden;
    outputCount = newOutput;
    neuronsPerClass = newHidden / newOutput;
    dimension = newDimension;
    weights = std::move(newWeights);
}

void LearningVectorQuantization::Save(const std::string& path) {
    if (!weights) {
        throw std::logic_error("LearningVectorQuantization: Save needs trained weights");
    }
    MatrixFile::Write(path, {hiddenCount, dimension, outputCount}, *weights);
}

void LearningVectorQuantization::Load(const std::string& path) {
    MatrixFile file(path);
    const std::vector<int> header = file.ReadHeader(3);
    const int hidden = header[0];
    const int dim = header[1];
    const int outputs = header[2];
    if (outputs < 1 || hidden < outputs) {
        file.Reject("needs at least one class and one neuron per class, found " +
                    std::to_string(hidden) + " neurons for " + std::to_string(outputs) +
                    " classes");
    }
    if (dim < 0) {
        file.Reject("the dimension cannot be negative, found " + std::to_string(dim));
    }
    auto newWeights = std::make_shared<Matrix>(file.ReadRows(hidden, dim));
    hiddenCount = hidden;
    outputCount = outputs;
    neuronsPerClass = hidden / outputs;
    dimension = dim;
    weights = std::move(newWeights);
}

}  // namespace velkar::patternrecognition
