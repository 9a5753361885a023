#include "velkar/patternrecognition/RadialBasisFunctionNetwork.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <utility>

#include "velkar/patternrecognition/ClassTags.h"
#include "velkar/patternrecognition/ConfigurationTree.h"
#include "velkar/patternrecognition/KMeans.h"
#include "velkar/patternrecognition/MinMaxNormalize.h"
#include "velkar/patternrecognition/TrainingSetCheck.h"
#include "velkar/util/InvalidParameter.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {

namespace {

// An output has to exceed this to win; when none does, Classify chooses no class (-1).
constexpr double smallestNormal = std::numeric_limits<double>::min();
// Iterations of the per-class k-means that places the hidden units.
constexpr int clusteringIterations = 100;
// Above this many cached hidden vectors (N x (H + 1) reals) training recomputes them per visit.
constexpr std::size_t hiddenCacheLimit = std::size_t{1} << 22;

const char* const owner = "RadialBasisFunctionNetwork";

// Members equal to their center leave a spread of rounding noise rather than exactly 0 (the mean
// of equal values is not always that value); on features normalised to [0, 1] any real spread is
// far above this.
constexpr double negligibleSpread = 1e-9;

// beta = 1 / (2 sigma^2). A unit of spread 0 (one member, or members all at the center) would
// get 1 / 0, or a width so large that the unit vanishes off its exact center, so it borrows the
// mean of the positive spreads of all units (1 when none is).
std::vector<double> WidthsFromSpreads(const std::vector<double>& spreads) {
    double positiveSum = 0.0;
    int positiveCount = 0;
    for (double spread : spreads) {
        if (spread > negligibleSpread) {
            positiveSum += spread;
            ++positiveCount;
        }
    }
    const double fallback = positiveCount > 0 ? positiveSum / positiveCount : 1.0;
    std::vector<double> widths;
    widths.reserve(spreads.size());
    for (double spread : spreads) {
        const double sigma = spread > negligibleSpread ? spread : fallback;
        widths.push_back(1.0 / (2.0 * sigma * sigma));
    }
    return widths;
}

// H rows of centers and the mean member distance of each.
struct HiddenUnits {
    std::shared_ptr<std::vector<double>> centers;
    std::vector<double> spreads;
};

// K-means on the normalised inputs of every class alone, classes in output order; clusters left
// without members are dropped.
HiddenUnits PlaceHiddenUnits(const std::vector<std::vector<double>>& inputs, const ClassTags& tags,
                             int clustersPerClass) {
    std::vector<PatternSet> classSets(tags.classIds.size());
    for (auto& set : classSets) {
        set = std::make_shared<PatternList>();
    }
    for (std::size_t p = 0; p < inputs.size(); ++p) {
        const auto output = static_cast<std::size_t>(tags.outputOf[p]);
        auto normalised = std::make_shared<Pattern>();
        normalised->SetClass(tags.classIds[output]);
        normalised->SetDescriptors(inputs[p]);
        classSets[output]->push_back(normalised);
    }
    HiddenUnits hidden{std::make_shared<std::vector<double>>(), {}};
    for (const PatternSet& set : classSets) {
        KMeans clustering(clustersPerClass, clusteringIterations);
        clustering.Train(set);
        const std::vector<int> members = clustering.PatternMembershipCount();
        const std::vector<double> variances = clustering.ClusterVariance();
        const auto clusterCenters = clustering.Centers();
        for (std::size_t j = 0; j < members.size(); ++j) {
            if (members[j] > 0) {
                hidden.centers->insert(hidden.centers->end(), clusterCenters[j]->begin(),
                                       clusterCenters[j]->end());
                hidden.spreads.push_back(variances[j]);
            }
        }
    }
    return hidden;
}

}  // namespace

RadialBasisFunctionNetwork::RadialBasisFunctionNetwork(double learningRate, int clustersPerClass,
                                                       int epochs)
    : clustersPerClass(clustersPerClass),
      epochs(epochs),
      learningRate(learningRate),
      trainable(true) {
    const util::InvalidParameter::Rules rules(owner);
    rules.AtLeast("clustersPerClass", clustersPerClass, 1, "every class needs at least 1 cluster");
    rules.AtLeast("epochs", epochs, 0, "the number of iterations cannot be negative");
    rules.LearningRate("learningRate", learningRate);
}

void RadialBasisFunctionNetwork::Train(
    std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    if (!trainable) {
        throw std::logic_error(std::string(owner) +
                               ": only a network constructed with its training parameters can "
                               "be trained");
    }
    const std::size_t length = static_cast<std::size_t>(CheckTrainingSet(patterns, owner));
    ClassTags tags = TagClasses(*patterns);
    const std::size_t classCount = tags.classIds.size();

    std::vector<std::vector<double>> inputs;
    inputs.reserve(patterns->size());
    for (const auto& pattern : *patterns) {
        inputs.push_back(*pattern->Descriptors());
    }
    auto newMin = std::make_shared<std::vector<double>>();
    auto newMax = std::make_shared<std::vector<double>>();
    MinMaxNormalize(inputs, *newMin, *newMax);
    const HiddenUnits hidden = PlaceHiddenUnits(inputs, tags, clustersPerClass);
    const std::size_t row = hidden.spreads.size() + 1;

    // Everything the model needs is known: replace it.
    taggedClasses = std::move(tags.tagged);
    outputClassIds = std::move(tags.classIds);
    dimension = static_cast<int>(length);
    minValues = newMin;
    maxValues = newMax;
    centers = hidden.centers;
    widths = WidthsFromSpreads(hidden.spreads);
    weights.assign(classCount * row, 0.0);
    for (double& weight : weights) {
        weight = util::RandomReal() * 2.0 - 1.0;
    }
    inputBuffer.assign(length, 0.0);
    hiddenBuffer.assign(row, 0.0);
    trainingError = 0.0;
    TrainOutputLayer(inputs, tags.outputOf);
}

void RadialBasisFunctionNetwork::TrainOutputLayer(const std::vector<std::vector<double>>& inputs,
                                                  const std::vector<int>& outputOf) {
    const std::size_t count = inputs.size();
    const std::size_t classCount = outputClassIds.size();
    const std::size_t row = widths.size() + 1;
    const bool cacheHidden = count * row <= hiddenCacheLimit;
    std::vector<double> hiddenCache(cacheHidden ? count * row : 0);
    if (cacheHidden) {
        for (std::size_t p = 0; p < count; ++p) {
            HiddenActivations(inputs[p].data(), &hiddenCache[p * row]);
        }
    }
    std::vector<double> error(classCount);
    for (int epoch = 0; epoch < epochs; ++epoch) {
        double sum = 0.0;
        // A fixed order would let the patterns seen last in every epoch pull the weights their
        // way; a fresh order per epoch keeps the classes on an equal footing.
        for (std::size_t p : util::RandomPermutation(count)) {
            const double* phi = hiddenBuffer.data();
            if (cacheHidden) {
                phi = &hiddenCache[p * row];
            } else {
                HiddenActivations(inputs[p].data(), hiddenBuffer.data());
            }
            for (std::size_t c = 0; c < classCount; ++c) {
                const double* w = &weights[c * row];
                double output = 0.0;
                for (std::size_t i = 0; i < row; ++i) {
                    output += w[i] * phi[i];
                }
                const double target = static_cast<int>(c) == outputOf[p] ? 1.0 : -1.0;
                error[c] = target - output;
                sum += error[c] * error[c];
            }
            for (std::size_t c = 0; c < classCount; ++c) {
                double* w = &weights[c * row];
                const double step = learningRate * error[c];
                for (std::size_t i = 0; i < row; ++i) {
                    w[i] += step * phi[i];
                }
            }
        }
        trainingError = sum / static_cast<double>(count);
        ReportTraining(epoch + 1, epochs);
    }
}

void RadialBasisFunctionNetwork::HiddenActivations(const double* normalised, double* phi) const {
    const std::size_t length = static_cast<std::size_t>(dimension);
    const std::size_t hiddenCount = widths.size();
    const double* center = centers->data();
    for (std::size_t i = 0; i < hiddenCount; ++i, center += length) {
        double squared = 0.0;
        for (std::size_t j = 0; j < length; ++j) {
            const double difference = center[j] - normalised[j];
            squared += difference * difference;
        }
        phi[i] = std::exp(-widths[i] * squared);
    }
    phi[hiddenCount] = 1.0;
}

int RadialBasisFunctionNetwork::Classify(std::vector<double>& features) {
    if (!minValues) {
        throw std::logic_error(std::string(owner) + ": Classify needs a trained network");
    }
    if (features.size() != static_cast<std::size_t>(dimension)) {
        throw std::invalid_argument(
            std::string(owner) + ": feature vector has length " + std::to_string(features.size()) +
            ", the network was trained on length " + std::to_string(dimension));
    }
    std::copy(features.begin(), features.end(), inputBuffer.begin());
    ScaleToRange(inputBuffer, *minValues, *maxValues);
    HiddenActivations(inputBuffer.data(), hiddenBuffer.data());

    const std::size_t row = hiddenBuffer.size();
    double best = smallestNormal;
    int result = -1;
    for (std::size_t c = 0; c < outputClassIds.size(); ++c) {
        const double* w = &weights[c * row];
        double output = 0.0;
        for (std::size_t i = 0; i < row; ++i) {
            output += w[i] * hiddenBuffer[i];
        }
        if (output > best) {
            best = output;
            result = outputClassIds[c];
        }
    }
    return result;
}

int RadialBasisFunctionNetwork::InputSize() { return minValues ? dimension : -1; }

std::shared_ptr<util::Collection> RadialBasisFunctionNetwork::Configuration() {
    if (!minValues) {
        throw std::logic_error(std::string(owner) + ": Configuration needs a trained network");
    }
    const std::size_t length = static_cast<std::size_t>(dimension);
    auto configuration = std::make_shared<util::Map>();
    ConfigurationTree::PutRealRows(*configuration, "weights", weights.data(), outputClassIds.size(),
                                   widths.size() + 1);
    ConfigurationTree::PutRealRows(*configuration, "centers", centers->data(), widths.size(),
                                   length);
    ConfigurationTree::AddReals(ConfigurationTree::PutArray(*configuration, "widths"),
                                widths.data(), widths.size());
    ConfigurationTree::AddReals(ConfigurationTree::PutArray(*configuration, "min_data_values"),
                                minValues->data(), length);
    ConfigurationTree::AddReals(ConfigurationTree::PutArray(*configuration, "max_data_values"),
                                maxValues->data(), length);
    ConfigurationTree::PutTaggedClasses(*configuration, "tagged_classes", taggedClasses);
    return configuration;
}

void RadialBasisFunctionNetwork::SetConfiguration(std::shared_ptr<util::Collection> configuration) {
    const ConfigurationTree tree("Radial basis function network configuration");
    const util::Map& root = tree.Root(configuration.get());

    const std::vector<double> minimum = tree.Reals(root, "min_data_values", -1);
    if (minimum.empty()) {
        tree.Reject("min_data_values", "is empty");
    }
    const int length = static_cast<int>(minimum.size());
    const std::vector<double> maximum = tree.Reals(root, "max_data_values", length);

    std::vector<double> newWidths = tree.Reals(root, "widths", -1);
    if (newWidths.empty()) {
        tree.Reject("widths", "is empty");
    }
    for (std::size_t i = 0; i < newWidths.size(); ++i) {
        // A negative width would make the activation grow without bound away from the center.
        if (newWidths[i] < 0.0) {
            tree.Reject(ConfigurationTree::Indexed("widths", static_cast<int>(i)), "is negative");
        }
    }
    const int hiddenCount = static_cast<int>(newWidths.size());
    auto newCenters =
        std::make_shared<std::vector<double>>(tree.RealRows(root, "centers", hiddenCount, length));

    const int classCount = tree.ArrayAt(root, "weights").Size();
    if (classCount < 1) {
        tree.Reject("weights", "has no output row");
    }
    std::vector<double> newWeights = tree.RealRows(root, "weights", classCount, hiddenCount + 1);

    std::vector<int> classIds = tree.TaggedClasses(root, "tagged_classes");
    if (static_cast<int>(classIds.size()) != classCount) {
        tree.Reject("tagged_classes", "has " + std::to_string(classIds.size()) +
                                          " classes, \"weights\" has " +
                                          std::to_string(classCount) + " outputs");
    }

    auto newMin = std::make_shared<const std::vector<double>>(minimum);
    auto newMax = std::make_shared<const std::vector<double>>(maximum);
    std::map<int, int> newTagged = OutputsOf(classIds);

    // Everything is valid: replace the model.
    dimension = length;
    minValues = newMin;
    maxValues = newMax;
    centers = newCenters;
    widths = std::move(newWidths);
    weights = std::move(newWeights);
    taggedClasses = std::move(newTagged);
    outputClassIds = std::move(classIds);
    inputBuffer.assign(length, 0.0);
    hiddenBuffer.assign(hiddenCount + 1, 0.0);
    trainingError = 0.0;
}

}  // namespace velkar::patternrecognition
