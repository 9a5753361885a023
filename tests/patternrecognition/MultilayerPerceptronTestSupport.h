#pragma once

// Helpers of the multilayer perceptron tests: patterns and pattern sets (Gaussian blobs, XOR),
// accuracy, a probe grid, and the network's configuration tree read into plain vectors.

#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "velkar/patternrecognition/MultilayerPerceptron.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"

namespace velkar::patternrecognition::perceptrontest {

using Weights = std::vector<std::vector<std::vector<double>>>;

inline std::shared_ptr<Pattern> MakePattern(int classId, std::vector<double> features) {
    auto pattern = std::make_shared<Pattern>();
    pattern->SetClass(classId);
    pattern->SetDescriptors(std::move(features));
    return pattern;
}

// Gaussian clouds around the given centres, one sample of every class in turn, so classes
// first appear in the order of the centres.
inline PatternSet Blobs(const std::vector<std::pair<int, std::vector<double>>>& centres,
                        int perClass, double spread, unsigned seed) {
    std::mt19937 engine(seed);
    std::normal_distribution<double> noise(0.0, spread);
    auto set = std::make_shared<PatternList>();
    for (int i = 0; i < perClass; ++i) {
        for (const auto& [classId, centre] : centres) {
            std::vector<double> features;
            for (double c : centre) {
                features.push_back(c + noise(engine));
            }
            set->push_back(MakePattern(classId, features));
        }
    }
    return set;
}

inline PatternSet XorSet() {
    auto set = std::make_shared<PatternList>();
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 2; ++b) {
            set->push_back(MakePattern(a ^ b, {static_cast<double>(a), static_cast<double>(b)}));
        }
    }
    return set;
}

inline double Accuracy(MultilayerPerceptron& network, const PatternSet& set) {
    int correct = 0;
    for (const auto& pattern : *set) {
        std::vector<double> features = *pattern->Descriptors();
        correct += network.Classify(features) == pattern->Class() ? 1 : 0;
    }
    return static_cast<double>(correct) / static_cast<double>(set->size());
}

inline const util::Array& ArrayAt(const util::Map& map, const std::string& key) {
    const auto* array = dynamic_cast<const util::Array*>(map.GetCollection(key));
    if (array == nullptr) {
        throw std::runtime_error("no array under " + key);
    }
    return *array;
}

inline const util::Array& ArrayAt(const util::Array& array, int index) {
    const auto* inner = dynamic_cast<const util::Array*>(array.GetCollection(index));
    if (inner == nullptr) {
        throw std::runtime_error("no array at " + std::to_string(index));
    }
    return *inner;
}

inline std::vector<int> Ints(const util::Array& array) {
    std::vector<int> values;
    for (int i = 0; i < array.Size(); ++i) {
        const int* value = array.GetInt(i);
        if (value == nullptr) {
            throw std::runtime_error("entry " + std::to_string(i) + " is not an integer");
        }
        values.push_back(*value);
    }
    return values;
}

inline std::vector<double> Reals(const util::Array& array) {
    std::vector<double> values;
    for (int i = 0; i < array.Size(); ++i) {
        const double* value = array.GetDouble(i);
        if (value == nullptr) {
            throw std::runtime_error("entry " + std::to_string(i) + " is not a real");
        }
        values.push_back(*value);
    }
    return values;
}

inline Weights WeightsOf(const util::Map& configuration) {
    Weights weights;
    const util::Array& layers = ArrayAt(configuration, "weights");
    for (int j = 0; j < layers.Size(); ++j) {
        weights.emplace_back();
        const util::Array& neurons = ArrayAt(layers, j);
        for (int k = 0; k < neurons.Size(); ++k) {
            weights.back().push_back(Reals(ArrayAt(neurons, k)));
        }
    }
    return weights;
}

inline const util::Map& AsMap(const std::shared_ptr<util::Collection>& collection) {
    const auto* map = dynamic_cast<const util::Map*>(collection.get());
    if (map == nullptr) {
        throw std::runtime_error("configuration is not a map");
    }
    return *map;
}

// A grid of probes reaching beyond the training range on every side.
inline std::vector<std::vector<double>> Probes(double from, double to, int steps) {
    std::vector<std::vector<double>> probes;
    for (int i = 0; i <= steps; ++i) {
        for (int j = 0; j <= steps; ++j) {
            probes.push_back({from + (to - from) * i / steps, from + (to - from) * j / steps});
        }
    }
    return probes;
}

inline std::vector<int> ClassifyAll(MultilayerPerceptron& network,
                                    std::vector<std::vector<double>> probes) {
    std::vector<int> answers;
    for (auto& probe : probes) {
        answers.push_back(network.Classify(probe));
    }
    return answers;
}

}  // namespace velkar::patternrecognition::perceptrontest
