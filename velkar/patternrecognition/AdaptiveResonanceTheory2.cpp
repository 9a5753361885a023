#include "velkar/patternrecognition/AdaptiveResonanceTheory2.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <utility>

#include "velkar/patternrecognition/ClassTags.h"
#include "velkar/patternrecognition/ConfigurationTree.h"
#include "velkar/patternrecognition/TrainingSetCheck.h"
#include "velkar/util/InvalidParameter.h"

namespace velkar::patternrecognition {

namespace {

// Keeps every normalisation defined for a zero vector.
constexpr double epsilon = std::numeric_limits<double>::epsilon();
// An F2 activation has to exceed this to take part in the competition.
constexpr double competitionFloor = -100000.0;

const char* const owner = "AdaptiveResonanceTheory2";

double Norm(const std::vector<double>& values) {
    double sum = 0.0;
    for (double value : values) {
        sum += value * value;
    }
    return std::sqrt(sum);
}

// The signal function: values at or below the noise threshold are cut to 0.
double Signal(double value, double theta) { return value > theta ? value : 0.0; }

// Why a constant is out of range, or "" when it is usable. Shared by the constructor and the
// configuration reader so both accept the same networks.
std::string ConstantProblem(const std::string& name, double value) {
    if (!std::isfinite(value)) {
        return "must be finite";
    }
    if (name == "d" && !(value >= 0.0 && value < 1.0)) {
        return "must lie in [0, 1) (learning divides by 1 - d), got " + std::to_string(value);
    }
    if (name == "rho" && !(value >= 0.0 && value <= 1.0)) {
        return "must lie in [0, 1], got " + std::to_string(value);
    }
    if (name == "theta" && value < 0.0) {
        return "must be at least 0, got " + std::to_string(value);
    }
    return "";
}

struct LayerSizes {
    int f1;
    int f2;
};

// "layer_sizes": the input size, the F1 size (equal to it, at least 1) and the F2 size.
LayerSizes ReadLayerSizes(const ConfigurationTree& tree, const util::Map& root) {
    const util::Array& sizes = tree.ArrayAt(root, "layer_sizes");
    if (sizes.Size() != 3) {
        tree.Reject("layer_sizes", "has " + std::to_string(sizes.Size()) + " entries, expected 3");
    }
    const int inputSize = tree.Int(sizes, 0, "layer_sizes");
    const LayerSizes read{tree.Int(sizes, 1, "layer_sizes"), tree.Int(sizes, 2, "layer_sizes")};
    if (read.f1 < 1) {
        tree.Reject("layer_sizes[1]", "must be at least 1");
    }
    if (inputSize != read.f1) {
        tree.Reject("layer_sizes[0]", "differs from the F1 size " + std::to_string(read.f1));
    }
    if (read.f2 < 1) {
        tree.Reject("layer_sizes[2]", "must be at least 1");
    }
    tree.CheckTableSize("layer_sizes", read.f2, read.f1);
    return read;
}

// a, b, c, d, theta and rho, each checked as the constructor checks it.
std::array<double, 6> ReadConstants(const ConfigurationTree& tree, const util::Map& root) {
    const char* const keys[] = {"a_const", "b_const", "c_const", "d_const", "theta", "rho"};
    const char* const names[] = {"a", "b", "c", "d", "theta", "rho"};
    std::array<double, 6> constants{};
    for (std::size_t k = 0; k < constants.size(); ++k) {
        constants[k] = tree.Real(root, keys[k]);
        const std::string problem = ConstantProblem(names[k], constants[k]);
        if (!problem.empty()) {
            tree.Reject(keys[k], problem);
        }
    }
    return constants;
}

}  // namespace

AdaptiveResonanceTheory2::AdaptiveResonanceTheory2(int f1Size, int f2Size, double a, double b,
                                                   double c, double d, double theta, double rho)
    : f1Size(f1Size), f2Size(f2Size), a(a), b(b), c(c), d(d), theta(theta), rho(rho) {
    using util::InvalidParameter;
    const InvalidParameter::Rules rules(owner);
    rules.AtLeast("f1Size", f1Size, 1, "the F1 layer needs at least 1 unit");
    rules.AtLeast("f2Size", f2Size, 1, "the F2 layer needs at least 1 neuron");
    // The rule of each constant in words; ConstantProblem words the same for model files.
    const std::tuple<const char*, double, const char*> constants[] = {
        {"a", a, ""},
        {"b", b, ""},
        {"c", c, ""},
        {"d", d, "it must lie in [0, 1) since learning divides by 1 - d"},
        {"theta", theta, "the noise threshold cannot be negative"},
        {"rho", rho, "the vigilance must lie in [0, 1]"}};
    for (const auto& [name, value, rule] : constants) {
        if (!ConstantProblem(name, value).empty()) {
            throw InvalidParameter(owner, name, InvalidParameter::Text(value),
                                   std::isfinite(value) ? rule : "it must be a finite number");
        }
    }
    const long long weights = static_cast<long long>(f2Size) * f1Size;
    if (weights > maxModelEntries) {
        throw InvalidParameter(owner, "f2Size", std::to_string(f2Size),
                               "with " + std::to_string(f1Size) + " features it needs " +
                                   std::to_string(weights) +
                                   " bottom-up and as many top-down weights, more than " +
                                   std::to_string(maxModelEntries));
    }
    InitializeWeights();
    SizeWorkSpace();
}

void AdaptiveResonanceTheory2::InitializeWeights() {
    const std::size_t cells = static_cast<std::size_t>(f1Size) * static_cast<std::size_t>(f2Size);
    topDown.assign(cells, 0.0);
    bottomUp.assign(cells, 1.0 / ((1.0 - d) * std::sqrt(static_cast<double>(f1Size))));
}

void AdaptiveResonanceTheory2::SizeWorkSpace() {
    for (std::vector<double>* layer : {&w, &x, &v, &u, &p, &q, &r}) {
        layer->assign(f1Size, 0.0);
    }
    activations.assign(f2Size, 0.0);
    wasReset.assign(f2Size, 0);
    candidates.reserve(f2Size);
}

void AdaptiveResonanceTheory2::ApplyInput(const double* input) {
    const std::size_t m = static_cast<std::size_t>(f1Size);
    // U and Q are the only layers read before they are written.
    std::fill(u.begin(), u.end(), 0.0);
    std::fill(q.begin(), q.end(), 0.0);
    // Two passes let U and Q feed back into W and V once. The F1 output layer stays 0 during
    // both, so P equals U afterwards: Q is U scaled by U's norm, which Resonates uses again.
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < m; ++i) {
            w[i] = input[i] + a * u[i];
        }
        const double wNorm = Norm(w);
        for (std::size_t i = 0; i < m; ++i) {
            x[i] = w[i] / (epsilon + wNorm);
            v[i] = Signal(x[i], theta) + b * Signal(q[i], theta);
        }
        const double vNorm = Norm(v);
        for (std::size_t i = 0; i < m; ++i) {
            u[i] = v[i] / (epsilon + vNorm);
        }
        uNorm = Norm(u);
        for (std::size_t i = 0; i < m; ++i) {
            q[i] = u[i] / (epsilon + uNorm);
        }
    }
}

bool AdaptiveResonanceTheory2::Resonates(int neuron) {
    const std::size_t m = static_cast<std::size_t>(f1Size);
    const double* signal = &topDown[static_cast<std::size_t>(neuron) * m];
    // The winner's top-down signal returns to F1: P = U + signal, then R compares U with P.
    for (std::size_t i = 0; i < m; ++i) {
        p[i] = u[i] + signal[i];
    }
    const double pNorm = Norm(p);
    for (std::size_t i = 0; i < m; ++i) {
        r[i] = (u[i] + c * p[i]) / (epsilon + uNorm + c * pNorm);
    }
    return rho / (epsilon + Norm(r)) <= 1.0;
}

int AdaptiveResonanceTheory2::Search() {
    const std::size_t m = static_cast<std::size_t>(f1Size);
    const std::size_t n = static_cast<std::size_t>(f2Size);
    // The F1 output carries P = U when the bids are made.
    for (std::size_t j = 0; j < n; ++j) {
        const double* weights = &bottomUp[j * m];
        double sum = 0.0;
        for (std::size_t i = 0; i < m; ++i) {
            sum += u[i] * weights[i];
        }
        activations[j] = sum;
    }

    // The strongest bid wins; ties go to the lower index.
    int winner = -1;
    double best = competitionFloor;
    for (std::size_t j = 0; j < n; ++j) {
        if (activations[j] > best) {
            best = activations[j];
            winner = static_cast<int>(j);
        }
    }
    if (winner < 0) {
        return -1;
    }
    if (Resonates(winner)) {
        return winner;
    }

    // A reset: the remaining neurons are tried in the order of the competition, each once, so
    // the search ends even when no neuron can resonate.
    candidates.clear();
    for (std::size_t j = 0; j < n; ++j) {
        if (static_cast<int>(j) != winner && activations[j] > competitionFloor) {
            candidates.push_back(static_cast<int>(j));
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](int left, int right) { return activations[left] > activations[right]; });
    for (int candidate : candidates) {
        if (Resonates(candidate)) {
            return candidate;
        }
    }
    return -1;
}

void AdaptiveResonanceTheory2::Train(
    std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) {
    if (f1Size < 1) {
        throw std::logic_error(std::string(owner) +
                               ": only a network with its sizes and constants can be trained");
    }
    CheckTrainingSet(patterns, owner, f1Size);

    ClassTags tags = TagClasses(*patterns);
    const std::vector<int> indexOf = std::move(tags.outputOf);
    taggedClasses = std::move(tags.tagged);
    classIds = std::move(tags.classIds);
    const std::size_t classCount = classIds.size();
    const std::size_t m = static_cast<std::size_t>(f1Size);
    votes.assign(static_cast<std::size_t>(f2Size) * classCount, 0.0);
    InitializeWeights();
    unresolvedPresentations = 0;

    // Every presentation is one iteration: the patterns are shown twice.
    const long long presentations = 2 * static_cast<long long>(patterns->size());
    long long presented = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t k = 0; k < patterns->size(); ++k) {
            ApplyInput((*patterns)[k]->Descriptors()->data());
            const int winner = Search();
            ReportTraining(++presented, presentations);
            if (winner < 0) {
                ++unresolvedPresentations;
                continue;
            }
            const std::size_t j = static_cast<std::size_t>(winner);
            votes[j * classCount + static_cast<std::size_t>(indexOf[k])] += 1.0;
            for (std::size_t i = 0; i < m; ++i) {
                const double learned = u[i] / (1.0 - d);
                bottomUp[j * m + i] = learned;
                topDown[j * m + i] = learned;
            }
        }
    }
}

int AdaptiveResonanceTheory2::Classify(std::vector<double>& features) {
    if (classIds.empty()) {
        throw std::logic_error(std::string(owner) + ": Classify needs a trained network");
    }
    if (features.size() != static_cast<std::size_t>(f1Size)) {
        throw std::invalid_argument(std::string(owner) + ": feature vector has length " +
                                    std::to_string(features.size()) + ", the network has " +
                                    std::to_string(f1Size) + " F1 units");
    }
    ApplyInput(features.data());
    const int winner = Search();
    if (winner < 0) {
        return -1;
    }
    const double* neuronVotes = &votes[static_cast<std::size_t>(winner) * classIds.size()];
    double best = -1.0;
    int result = -1;
    // Classes in ascending id order: ties, and a neuron without votes, give the lowest id.
    for (const auto& [classId, index] : taggedClasses) {
        if (neuronVotes[index] > best) {
            best = neuronVotes[index];
            result = classId;
        }
    }
    return result;
}

std::shared_ptr<util::Collection> AdaptiveResonanceTheory2::Configuration() {
    if (classIds.empty()) {
        throw std::logic_error(std::string(owner) + ": Configuration needs a trained network");
    }
    const std::size_t m = static_cast<std::size_t>(f1Size);
    const std::size_t n = static_cast<std::size_t>(f2Size);
    auto configuration = std::make_shared<util::Map>();
    util::Array& sizes = ConfigurationTree::PutArray(*configuration, "layer_sizes");
    for (int size : {f1Size, f1Size, f2Size}) {
        sizes.Add(new int(size));
    }
    // The file lists the top-down table by F1 unit: entry [i][j] runs from neuron j to unit i.
    util::Array& topDownRows = ConfigurationTree::PutArray(*configuration, "layer1_weights");
    for (std::size_t i = 0; i < m; ++i) {
        util::Array& row = ConfigurationTree::AddArray(topDownRows);
        for (std::size_t j = 0; j < n; ++j) {
            row.Add(new double(topDown[j * m + i]));
        }
    }
    configuration->Put("layer1_modifier", new double(layer1Modifier));
    ConfigurationTree::PutRealRows(*configuration, "layer2_weights", bottomUp.data(), n, m);
    configuration->Put("layer2_modifier", new double(layer2Modifier));
    configuration->Put("a_const", new double(a));
    configuration->Put("b_const", new double(b));
    configuration->Put("c_const", new double(c));
    configuration->Put("d_const", new double(d));
    configuration->Put("theta", new double(theta));
    configuration->Put("rho", new double(rho));
    ConfigurationTree::PutTaggedClasses(*configuration, "tagged_classes", taggedClasses);
    ConfigurationTree::PutRealRows(*configuration, "neuron_class_votes", votes.data(), n,
                                   classIds.size());
    return configuration;
}

void AdaptiveResonanceTheory2::SetConfiguration(std::shared_ptr<util::Collection> configuration) {
    const ConfigurationTree tree("Adaptive resonance theory 2 configuration");
    const util::Map& root = tree.Root(configuration.get());
    const LayerSizes sizes = ReadLayerSizes(tree, root);
    const std::array<double, 6> constants = ReadConstants(tree, root);
    const double newLayer1Modifier = tree.Real(root, "layer1_modifier");
    const double newLayer2Modifier = tree.Real(root, "layer2_modifier");

    const std::vector<double> topDownByUnit =
        tree.RealRows(root, "layer1_weights", sizes.f1, sizes.f2);
    std::vector<double> newBottomUp = tree.RealRows(root, "layer2_weights", sizes.f2, sizes.f1);
    std::vector<int> newClassIds = tree.TaggedClasses(root, "tagged_classes");
    if (newClassIds.empty()) {
        tree.Reject("tagged_classes", "has no class");
    }
    std::vector<double> newVotes =
        tree.RealRows(root, "neuron_class_votes", sizes.f2, static_cast<int>(newClassIds.size()));

    const std::size_t m = static_cast<std::size_t>(sizes.f1);
    const std::size_t n = static_cast<std::size_t>(sizes.f2);
    std::vector<double> newTopDown(m * n);
    for (std::size_t i = 0; i < m; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            newTopDown[j * m + i] = topDownByUnit[i * n + j];
        }
    }
    std::map<int, int> newTagged = OutputsOf(newClassIds);

    // Everything is valid: replace the network.
    f1Size = sizes.f1;
    f2Size = sizes.f2;
    a = constants[0];
    b = constants[1];
    c = constants[2];
    d = constants[3];
    theta = constants[4];
    rho = constants[5];
    layer1Modifier = newLayer1Modifier;
    layer2Modifier = newLayer2Modifier;
    topDown = std::move(newTopDown);
    bottomUp = std::move(newBottomUp);
    votes = std::move(newVotes);
    taggedClasses = std::move(newTagged);
    classIds = std::move(newClassIds);
    unresolvedPresentations = 0;
    SizeWorkSpace();
}

}  // namespace velkar::patternrecognition
