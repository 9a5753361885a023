#include "velkar/patternrecognition/LearningVectorQuantization.h"

#include <climits>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "velkar/patternrecognition/MatrixFile.h"
#include "velkar/patternrecognition/ModelTree.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {

namespace {

using Matrix = math::Matrix<double>;

// The neuron nearest to features.
int Winner(const Matrix& prototypes, const double* features) {
    int winner = 0;
    double winnerDistance = 0.0;
    for (int k = 0; k < prototypes.Rows(); ++k) {
        double distance = 0.0;
        for (int d = 0; d < prototypes.Columns(); ++d) {
            const double difference = features[d] - prototypes(k, d);
            distance += difference * difference;
        }
        // Squared distances order the neurons as the distances do; only a strictly nearer
        // neuron replaces the current winner.
        if (k == 0 || distance < winnerDistance) {
            winner = k;
            winnerDistance = distance;
        }
    }
    return winner;
}

}  // namespace

LearningVectorQuantization::LearningVectorQuantization(int hidden, int outputs, int iterationCount,
                                                       double alpha)
    : hiddenCount(hidden),
      outputCount(outputs),
      neuronsPerClass(outputs >= 1 ? hidden / outputs : 1),
      initialAlpha(alpha),
      iterations(iterationCount),
      trainable(true) {
    if (outputs < 1 || hidden < outputs) {
        throw std::invalid_argument(
            "LearningVectorQuantization needs at least one class and at least one neuron per "
            "class, got " +
            std::to_string(hidden) + " neurons for " + std::to_string(outputs) + " classes");
    }
    if (iterationCount < 1) {
        throw std::invalid_argument(
            "LearningVectorQuantization needs at least one iteration, got " +
            std::to_string(iterationCount));
    }
    if (!std::isfinite(alpha)) {
        throw std::invalid_argument("LearningVectorQuantization: alpha must be finite");
    }
}

void LearningVectorQuantization::Train(
    std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    if (!trainable) {
        throw std::logic_error(
            "LearningVectorQuantization: only an object constructed with its training "
            "parameters can be trained");
    }
    if (!patterns || patterns->empty()) {
        throw std::invalid_argument("LearningVectorQuantization: Train needs at least one pattern");
    }
    const std::size_t count = patterns->size();
    for (std::size_t i = 0; i < count; ++i) {
        if (!(*patterns)[i]) {
            throw std::invalid_argument("LearningVectorQuantization: pattern " + std::to_string(i) +
                                        " is missing");
        }
    }
    const std::size_t n = (*patterns)[0]->Descriptors()->size();
    if (static_cast<long long>(n) * hiddenCount > maxModelEntries) {
        throw std::invalid_argument("LearningVectorQuantization: " + std::to_string(hiddenCount) +
                                    " neurons of " + std::to_string(n) + " weights exceed the " +
                                    std::to_string(maxModelEntries) + " weights allowed");
    }
    std::vector<const double*> data;
    std::vector<int> classes;
    data.reserve(count);
    classes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::vector<double>& features = *(*patterns)[i]->Descriptors();
        if (features.size() != n) {
            throw std::invalid_argument("LearningVectorQuantization: pattern " + std::to_string(i) +
                                        " has " + std::to_string(features.size()) +
                                        " features, the first has " + std::to_string(n));
        }
        for (std::size_t d = 0; d < n; ++d) {
            if (!std::isfinite(features[d])) {
                throw std::invalid_argument("LearningVectorQuantization: feature " +
                                            std::to_string(d) + " of pattern " + std::to_string(i) +
                                            " is not finite");
            }
        }
        data.push_back(features.data());
        classes.push_back((*patterns)[i]->Class());
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
        const bool lastEpoch = epoch == iterations - 1;
        for (std::size_t index : util::RandomPermutation(count)) {
            const double* features = data[index];
            const int winner = Winner(*prototypes, features);
            if (lastEpoch) {
                continue;
            }
            const double rate = NeuronClass(winner) == classes[index] ? alpha : -alpha;
            for (int d = 0; d < dim; ++d) {
                double& weight = (*prototypes)(winner, d);
                weight += rate * (features[d] - weight);
            }
        }
        alpha -= alphaStep;
    }
    weights = std::move(prototypes);
    dimension = dim;
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
    return NeuronClass(Winner(*weights, features.data()));
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
