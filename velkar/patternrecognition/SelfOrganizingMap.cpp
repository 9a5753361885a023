#include "velkar/patternrecognition/SelfOrganizingMap.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

#include "velkar/patternrecognition/ClassTags.h"
#include "velkar/patternrecognition/ConfigurationTree.h"
#include "velkar/patternrecognition/TrainingSetCheck.h"
#include "velkar/util/InvalidParameter.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {

namespace {

const char* const owner = "SelfOrganizingMap";

// A neuron has to be nearer than 2^28 to an input to match it; when none is, neuron 0 does.
constexpr double matchBoundSquared = 268435456.0 * 268435456.0;

}  // namespace

SelfOrganizingMap::SelfOrganizingMap(int latticeSize, int problemDimension, double radiusFactor,
                                     double learningRateFactor, int iterations)
    : latticeSize(latticeSize),
      dimension(problemDimension),
      initialRadius(latticeSize * radiusFactor),
      initialLearningRate(learningRateFactor),
      iterations(iterations),
      trainable(true) {
    using util::InvalidParameter;
    const InvalidParameter::Rules rules(owner);
    rules.AtLeast("latticeSize", latticeSize, 1, "the lattice needs at least 1 neuron per side");
    rules.AtLeast("problemDimension", problemDimension, 1, "at least one feature is needed");
    rules.AtLeast("iterations", iterations, 0, "the number of iterations cannot be negative");
    rules.Finite("radiusFactor", radiusFactor);
    rules.LearningRate("learningRateFactor", learningRateFactor);
    // Below 1 the radius time constant turns negative and the learning rate grows without bound.
    if (!(initialRadius >= 1.0)) {
        throw InvalidParameter(owner, "radiusFactor", InvalidParameter::Text(radiusFactor),
                               "{latticeSize} x {radiusFactor} is the initial radius and must "
                               "be at least 1");
    }
    // A real: latticeSize^2 x dimension can exceed every integer type.
    const double weightCount = static_cast<double>(latticeSize) * latticeSize * problemDimension;
    if (weightCount > maxModelEntries) {
        throw InvalidParameter(owner, "latticeSize", std::to_string(latticeSize),
                               "with " + std::to_string(problemDimension) +
                                   " features {latticeSize} x {latticeSize} "
                                   "neurons need " +
                                   InvalidParameter::Text(weightCount) + " weights, more than " +
                                   std::to_string(maxModelEntries));
    }
    // A radius of exactly 1 has ln = 0: the decay then stays 1 (an infinite time constant).
    const double logRadius = std::log(initialRadius);
    timeConstant =
        logRadius > 0.0 ? iterations / logRadius : std::numeric_limits<double>::infinity();
    const std::size_t neuronCount =
        static_cast<std::size_t>(latticeSize) * static_cast<std::size_t>(latticeSize);
    weights.assign(neuronCount * static_cast<std::size_t>(dimension), 0.0);
    neuronClasses.assign(neuronCount, unsetClass);
    DrawWeights();
}

void SelfOrganizingMap::DrawWeights() {
    for (double& weight : weights) {
        weight = util::RandomReal() * 2.0 - 1.0;
    }
    freshWeights = true;
}

double SelfOrganizingMap::HexCoordinatesDistance(int q1, int r1, int q2, int r2) {
    if (q1 > q2) {
        std::swap(q1, q2);
        std::swap(r1, r2);
    }
    const int dq = q2 - q1;
    const int dr = r2 - r1;
    return dr < 0 ? std::max(dq, -dr) : dq + dr;
}

double SelfOrganizingMap::Distance(int row1, int column1, int row2, int column2) {
    return HexCoordinatesDistance(row1 - column1 / 2, column1, row2 - column2 / 2, column2);
}

double SelfOrganizingMap::LatticeDistance(int neuron1, int neuron2) const {
    return Distance(neuron1 / latticeSize, neuron1 % latticeSize, neuron2 / latticeSize,
                    neuron2 % latticeSize);
}

int SelfOrganizingMap::FindBestMatchingUnit(const double* input) const {
    const std::size_t length = static_cast<std::size_t>(dimension);
    const std::size_t neuronCount = neuronClasses.size();
    double best = matchBoundSquared;
    int winner = 0;
    const double* neuron = weights.data();
    for (std::size_t k = 0; k < neuronCount; ++k, neuron += length) {
        double squared = 0.0;
        for (std::size_t i = 0; i < length; ++i) {
            const double difference = input[i] - neuron[i];
            squared += difference * difference;
        }
        if (squared < best) {
            best = squared;
            winner = static_cast<int>(k);
        }
    }
    return winner;
}

void SelfOrganizingMap::Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    if (!trainable) {
        throw std::logic_error(std::string(owner) +
                               ": only a map constructed with its training parameters can be "
                               "trained");
    }
    CheckTrainingSet(patterns, owner, dimension);
    for (std::size_t k = 0; k < patterns->size(); ++k) {
        if ((*patterns)[k]->Class() == unsetClass) {
            throw std::invalid_argument(std::string(owner) + ": pattern " + std::to_string(k) +
                                        " has class -1, which marks neurons without a class");
        }
    }

    if (!freshWeights) {
        DrawWeights();
    }
    freshWeights = false;
    std::fill(neuronClasses.begin(), neuronClasses.end(), unsetClass);
    taggedClasses = TagClasses(*patterns).tagged;
    scores.assign(taggedClasses.size(), 0.0);

    const std::size_t length = static_cast<std::size_t>(dimension);
    const int neuronCount = static_cast<int>(neuronClasses.size());
    for (int step = 1; step <= iterations; ++step) {
        Pattern& pattern = *(*patterns)[util::RandomIndex(patterns->size())];
        const double* input = pattern.Descriptors()->data();
        const int winner = FindBestMatchingUnit(input);
        neuronClasses[winner] = pattern.Class();

        const double decay = std::exp(-step / timeConstant);
        const double radius = initialRadius * decay;
        const double rate = initialLearningRate * decay;
        for (int k = 0; k < neuronCount; ++k) {
            const double distance = LatticeDistance(winner, k);
            // Strict: a neuron exactly at the radius stays where it is.
            if (distance < radius) {
                const double influence =
                    std::exp(-distance * distance / (2.0 * radius * radius)) * rate;
                double* neuron = &weights[static_cast<std::size_t>(k) * length];
                for (std::size_t i = 0; i < length; ++i) {
                    neuron[i] += (input[i] - neuron[i]) * influence;
                }
            }
        }
        ReportTraining(step, iterations);
    }
}

int SelfOrganizingMap::Classify(std::vector<double>& features) {
    if (taggedClasses.empty()) {
        throw std::logic_error(std::string(owner) + ": Classify needs a trained map");
    }
    if (features.size() != static_cast<std::size_t>(dimension)) {
        throw std::invalid_argument(std::string(owner) + ": feature vector has length " +
                                    std::to_string(features.size()) + ", the map has dimension " +
                                    std::to_string(dimension));
    }
    const int winner = FindBestMatchingUnit(features.data());
    const int winnerRow = winner / latticeSize;
    const int winnerColumn = winner % latticeSize;
    std::fill(scores.begin(), scores.end(), 0.0);
    double best = 0.0;
    int result = -1;
    // Every neuron within lattice distance 1 lies in the 3 x 3 block around the winner; the block
    // is walked in neuron order, which decides between classes that reach one score.
    for (int row = std::max(0, winnerRow - 1); row <= std::min(latticeSize - 1, winnerRow + 1);
         ++row) {
        for (int column = std::max(0, winnerColumn - 1);
             column <= std::min(latticeSize - 1, winnerColumn + 1); ++column) {
            const double distance = Distance(winnerRow, winnerColumn, row, column);
            if (distance >= 2.0) {
                continue;
            }
            const auto tagged = taggedClasses.find(neuronClasses[row * latticeSize + column]);
            if (tagged == taggedClasses.end()) {
                continue;
            }
            double& score = scores[tagged->second];
            score += distance <= 0.0 ? 2.0 : 1.0 / distance;
            if (score > best) {
                best = score;
                result = tagged->first;
            }
        }
    }
    return result;
}

std::shared_ptr<util::Collection> SelfOrganizingMap::Configuration() {
    if (taggedClasses.empty()) {
        throw std::logic_error(std::string(owner) + ": Configuration needs a trained map");
    }
    const std::size_t length = static_cast<std::size_t>(dimension);
    auto configuration = std::make_shared<util::Map>();
    configuration->Put("lattice_size", new int(latticeSize));
    configuration->Put("problem_dimension", new int(dimension));
    util::Array& nodes = ConfigurationTree::PutArray(*configuration, "nodes");
    for (std::size_t k = 0; k < neuronClasses.size(); ++k) {
        auto* node = new util::Map();
        nodes.Add(node);
        node->Put("class", new int(neuronClasses[k]));
        ConfigurationTree::AddReals(ConfigurationTree::PutArray(*node, "weights"),
                                    &weights[k * length], length);
    }
    ConfigurationTree::PutTaggedClasses(*configuration, "tagged_classes", taggedClasses);
    return configuration;
}

void SelfOrganizingMap::SetConfiguration(std::shared_ptr<util::Collection> configuration) {
    const ConfigurationTree tree("Self organizing map configuration");
    const util::Map& root = tree.Root(configuration.get());

    const int newLatticeSize = tree.Int(root, "lattice_size");
    if (newLatticeSize < 1) {
        tree.Reject("lattice_size", "must be at least 1");
    }
    const int newDimension = tree.Int(root, "problem_dimension");
    if (newDimension < 1) {
        tree.Reject("problem_dimension", "must be at least 1");
    }
    const std::int64_t neuronCount = std::int64_t{newLatticeSize} * newLatticeSize;
    tree.CheckTableSize("lattice_size", neuronCount, newDimension);
    const util::Array& nodes = tree.ArrayAt(root, "nodes");
    if (nodes.Size() != neuronCount) {
        tree.Reject("nodes", "has " + std::to_string(nodes.Size()) + " neurons, a lattice of " +
                                 std::to_string(newLatticeSize) + " needs " +
                                 std::to_string(neuronCount));
    }
    std::vector<double> newWeights;
    std::vector<int> newClasses;
    newClasses.reserve(nodes.Size());
    for (int k = 0; k < nodes.Size(); ++k) {
        const std::string nodeKey = ConfigurationTree::Indexed("nodes", k);
        const util::Map& node = tree.MapAt(nodes, k, "nodes");
        const int* nodeClass = node.GetInt("class");
        if (nodeClass == nullptr) {
            tree.Reject(nodeKey + ".class", "is missing or not an integer");
        }
        newClasses.push_back(*nodeClass);
        const std::string weightsKey = nodeKey + ".weights";
        const auto* nodeWeights = dynamic_cast<const util::Array*>(node.GetCollection("weights"));
        if (nodeWeights == nullptr) {
            tree.Reject(weightsKey, "is missing or not an array");
        }
        if (nodeWeights->Size() != newDimension) {
            tree.Reject(weightsKey, "has " + std::to_string(nodeWeights->Size()) +
                                        " entries, the problem dimension is " +
                                        std::to_string(newDimension));
        }
        for (int i = 0; i < newDimension; ++i) {
            newWeights.push_back(tree.Real(*nodeWeights, i, weightsKey));
        }
    }
    std::vector<int> classIds = tree.TaggedClasses(root, "tagged_classes");
    if (classIds.empty()) {
        tree.Reject("tagged_classes", "has no class");
    }

    // Everything is valid: replace the map.
    latticeSize = newLatticeSize;
    dimension = newDimension;
    weights = std::move(newWeights);
    neuronClasses = std::move(newClasses);
    taggedClasses = OutputsOf(classIds);
    scores.assign(classIds.size(), 0.0);
    trainable = false;
    freshWeights = false;
}

}  // namespace velkar::patternrecognition
