#pragma once

// Helpers of the network classifier tests: Gaussian blobs, accuracy, a probe grid, the check that
// a classifier restored from its JSON text answers like the trained one, trees built from and
// read into plain vectors, and the check that a bad tree is refused by key while the classifier
// keeps its answers.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "patternrecognition/ClassifierTestSupport.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"

namespace classifiertest {

using velkar::patternrecognition::PatternRecognitionAlgorithm;
using velkar::patternrecognition::PatternSet;
using velkar::util::Array;
using velkar::util::Collection;
using velkar::util::Map;
using Rows = std::vector<std::vector<double>>;

// perClass samples around every centre, the classes taken in turn.
inline PatternSet Blobs(const Samples& centres, int perClass, double spread, unsigned seed) {
    std::mt19937 engine(seed);
    std::normal_distribution<double> noise(0.0, spread);
    Samples samples;
    for (std::size_t i = 0; i < perClass * centres.size(); ++i) {
        const auto& [classId, centre] = centres[i % centres.size()];
        samples.emplace_back(classId, centre);
        for (double& value : samples.back().second) value += noise(engine);
    }
    return MakeSet(samples);
}

inline std::vector<int> ClassifyAll(PatternRecognitionAlgorithm& classifier, Rows inputs) {
    std::vector<int> answers;
    for (auto& input : inputs) answers.push_back(classifier.Classify(input));
    return answers;
}

inline double Accuracy(PatternRecognitionAlgorithm& classifier, const PatternSet& set) {
    int correct = 0;
    for (const auto& pattern : *set) {
        correct += classifier.Classify(*pattern->Descriptors()) == pattern->Class() ? 1 : 0;
    }
    return static_cast<double>(correct) / static_cast<double>(set->size());
}

// About `count` points spread evenly over [from, to] in every axis.
inline Rows Grid(int dimension, double from, double to, double count = 20000) {
    const int steps = static_cast<int>(std::pow(count, 1.0 / dimension)) - 1;
    Rows points{{}};
    for (int axis = 0; axis < dimension; ++axis) {
        Rows longer;
        for (const auto& point : points) {
            for (int i = 0; i <= steps; ++i) {
                longer.push_back(point);
                longer.back().push_back(from + (to - from) * i / steps);
            }
        }
        points = std::move(longer);
    }
    return points;
}

// Trained on three blobs the classifier is accurate on fresh samples, and a fresh object restored
// from its JSON text answers exactly like it over a grid reaching past the training range.
inline void ExpectLearnsBlobsAndRestores(PatternRecognitionAlgorithm& trained,
                                         PatternRecognitionAlgorithm& fresh, const Samples& centres,
                                         double spread, double from, double to) {
    EXPECT_EQ(trained.InputSize(), -1);
    trained.Train(Blobs(centres, 60, spread, 1));
    EXPECT_GE(Accuracy(trained, Blobs(centres, 100, spread, 2)), 0.95);
    const Rows grid = Grid(static_cast<int>(centres[0].second.size()), from, to);
    fresh.SetConfiguration(ThroughJson(trained.Configuration()));
    EXPECT_EQ(fresh.InputSize(), static_cast<int>(centres[0].second.size()));
    EXPECT_EQ(ClassifyAll(fresh, grid), ClassifyAll(trained, grid));
}

inline Array* RealArray(const std::vector<double>& values) {
    auto* array = new Array();
    for (double value : values) array->Add(new double(value));
    return array;
}

inline Array* RowArray(const Rows& rows) {
    auto* array = new Array();
    for (const auto& row : rows) array->Add(RealArray(row));
    return array;
}

// The "tagged_classes" layout from (class id, index) pairs.
inline Array* TaggedArray(const std::vector<std::pair<int, int>>& pairs) {
    auto* array = new Array();
    for (const auto& [key, value] : pairs) {
        auto* entry = new Map();
        array->Add(entry);
        entry->Put("key", new int(key));
        entry->Put("value", new int(value));
    }
    return array;
}

inline const Array& ArrayUnder(const std::shared_ptr<Collection>& tree, const std::string& key) {
    return dynamic_cast<const Array&>(*dynamic_cast<const Map&>(*tree).GetCollection(key));
}

inline std::vector<double> RealsOf(const Array& array) {
    std::vector<double> values;
    for (int i = 0; i < array.Size(); ++i) values.push_back(*array.GetDouble(i));
    return values;
}

inline Rows RowsOf(const Array& array) {
    Rows rows;
    for (int i = 0; i < array.Size(); ++i) {
        rows.push_back(RealsOf(dynamic_cast<const Array&>(*array.GetCollection(i))));
    }
    return rows;
}

// A deep copy of the root map without key (Map has no removal).
inline std::shared_ptr<Map> Without(const std::shared_ptr<Map>& tree, const std::string& key) {
    auto reduced = std::make_shared<Map>();
    for (const auto& [name, item] : tree->Items()) {
        if (name == key) continue;
        if (item->kind == Collection::IntKind) reduced->Put(name, new int(*tree->GetInt(name)));
        if (item->kind == Collection::DoubleKind) {
            reduced->Put(name, new double(*tree->GetDouble(name)));
        }
        if (item->kind == Collection::CollectionKind) {
            reduced->Put(name, tree->GetCollection(name)->Copy());
        }
    }
    return reduced;
}

// Giving the classifier tree must throw std::runtime_error naming "key"; the classifier then
// still answers the probes as before.
inline void ExpectRejectedNaming(PatternRecognitionAlgorithm& classifier,
                                 const std::shared_ptr<Collection>& tree, const std::string& key,
                                 const Rows& probes) {
    const std::vector<int> before = ClassifyAll(classifier, probes);
    EXPECT_NE(ThrownMessage([&] { classifier.SetConfiguration(tree); }).find("\"" + key + "\""),
              std::string::npos)
        << key;
    EXPECT_EQ(ClassifyAll(classifier, probes), before) << key;
}

}  // namespace classifiertest
