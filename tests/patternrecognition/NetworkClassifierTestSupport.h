#pragma once

// Helpers shared by the tests of the network classifiers: patterns and Gaussian blobs,
// accuracy, a probe grid, the check that a classifier restored from its JSON text answers like the
// trained one, configuration trees built and read as plain vectors, and the check that a bad
// configuration is refused with a message naming its key while the classifier keeps answering as
// before.

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

using velkar::patternrecognition::Pattern;
using velkar::patternrecognition::PatternList;
using velkar::patternrecognition::PatternRecognitionAlgorithm;
using velkar::patternrecognition::PatternSet;
using Centres = std::vector<std::pair<int, std::vector<double>>>;

inline std::shared_ptr<Pattern> MakePattern(int classId, std::vector<double> features) {
    auto pattern = std::make_shared<Pattern>();
    pattern->SetClass(classId);
    pattern->SetDescriptors(std::move(features));
    return pattern;
}

// perClass samples around every centre, the classes taken in turn (or one class after the other
// when grouped), so classes first appear in the order of the centres.
inline PatternSet Blobs(const Centres& centres, int perClass, double spread, unsigned seed,
                        bool grouped = false) {
    std::mt19937 engine(seed);
    std::normal_distribution<double> noise(0.0, spread);
    std::vector<std::vector<std::shared_ptr<Pattern>>> byClass(centres.size());
    for (int i = 0; i < perClass; ++i) {
        for (std::size_t c = 0; c < centres.size(); ++c) {
            std::vector<double> features;
            for (double value : centres[c].second) {
                features.push_back(value + noise(engine));
            }
            byClass[c].push_back(MakePattern(centres[c].first, features));
        }
    }
    auto set = std::make_shared<PatternList>();
    for (int i = 0; i < perClass * static_cast<int>(centres.size()); ++i) {
        const int c = grouped ? i / perClass : i % static_cast<int>(centres.size());
        const int k = grouped ? i % perClass : i / static_cast<int>(centres.size());
        set->push_back(byClass[c][k]);
    }
    return set;
}

inline double Accuracy(PatternRecognitionAlgorithm& classifier, const PatternSet& set) {
    int correct = 0;
    for (const auto& pattern : *set) {
        std::vector<double> features = *pattern->Descriptors();
        correct += classifier.Classify(features) == pattern->Class() ? 1 : 0;
    }
    return static_cast<double>(correct) / static_cast<double>(set->size());
}

// steps + 1 points per axis on [from, to] in every one of `dimension` axes.
inline std::vector<std::vector<double>> Grid(int dimension, double from, double to, int steps) {
    std::vector<std::vector<double>> points{{}};
    for (int axis = 0; axis < dimension; ++axis) {
        std::vector<std::vector<double>> longer;
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

inline std::vector<int> ClassifyAll(PatternRecognitionAlgorithm& classifier,
                                    std::vector<std::vector<double>> inputs) {
    std::vector<int> answers;
    for (auto& input : inputs) {
        answers.push_back(classifier.Classify(input));
    }
    return answers;
}

// Trained on three blobs, the classifier is accurate on fresh samples; a fresh object restored
// from its JSON text answers exactly like it over a grid reaching past the training range.
inline void ExpectLearnsBlobsAndRestores(PatternRecognitionAlgorithm& trained,
                                         PatternRecognitionAlgorithm& fresh, const Centres& centres,
                                         double spread, double from, double to) {
    EXPECT_EQ(trained.InputSize(), -1);
    trained.Train(Blobs(centres, 60, spread, 1));
    EXPECT_EQ(trained.InputSize(), static_cast<int>(centres[0].second.size()));
    EXPECT_GE(Accuracy(trained, Blobs(centres, 100, spread, 2)), 0.95);

    // About 20000 probes whatever the dimension.
    const int dimension = static_cast<int>(centres[0].second.size());
    const int steps = static_cast<int>(std::pow(20000.0, 1.0 / dimension)) - 1;
    const auto grid = Grid(dimension, from, to, steps);
    const std::vector<int> expected = ClassifyAll(trained, grid);
    EXPECT_EQ(fresh.InputSize(), -1);
    fresh.SetConfiguration(ThroughJson(trained.Configuration()));
    EXPECT_EQ(fresh.InputSize(), trained.InputSize());
    EXPECT_EQ(ClassifyAll(fresh, grid), expected);
}

using Rows = std::vector<std::vector<double>>;

inline velkar::util::Array* RealArray(const std::vector<double>& values) {
    auto* array = new velkar::util::Array();
    for (double value : values) {
        array->Add(new double(value));
    }
    return array;
}

inline velkar::util::Array* RowArray(const Rows& rows) {
    auto* array = new velkar::util::Array();
    for (const auto& row : rows) {
        array->Add(RealArray(row));
    }
    return array;
}

// The "tagged_classes" layout from (class id, index) pairs.
inline velkar::util::Array* TaggedArray(const std::vector<std::pair<int, int>>& pairs) {
    auto* array = new velkar::util::Array();
    for (const auto& [key, value] : pairs) {
        auto* entry = new velkar::util::Map();
        array->Add(entry);
        entry->Put("key", new int(key));
        entry->Put("value", new int(value));
    }
    return array;
}

inline const velkar::util::Array& ArrayUnder(const std::shared_ptr<velkar::util::Collection>& tree,
                                             const std::string& key) {
    const auto* array = dynamic_cast<const velkar::util::Array*>(
        dynamic_cast<const velkar::util::Map&>(*tree).GetCollection(key));
    if (array == nullptr) {
        throw std::runtime_error("no array under " + key);
    }
    return *array;
}

// The reals of an array (integers are not accepted: a configuration writes reals as reals).
inline std::vector<double> RealsOf(const velkar::util::Array& array) {
    std::vector<double> values;
    for (int i = 0; i < array.Size(); ++i) {
        if (array.GetDouble(i) == nullptr) {
            throw std::runtime_error("entry " + std::to_string(i) + " is not a real");
        }
        values.push_back(*array.GetDouble(i));
    }
    return values;
}

inline Rows RowsOf(const velkar::util::Array& array) {
    Rows rows;
    for (int i = 0; i < array.Size(); ++i) {
        rows.push_back(RealsOf(dynamic_cast<const velkar::util::Array&>(*array.GetCollection(i))));
    }
    return rows;
}

// (class id, index) pairs of a "tagged_classes" array, in their stored order.
inline std::vector<std::pair<int, int>> TaggedOf(const velkar::util::Array& array) {
    std::vector<std::pair<int, int>> pairs;
    for (int i = 0; i < array.Size(); ++i) {
        const auto& entry = dynamic_cast<const velkar::util::Map&>(*array.GetCollection(i));
        pairs.emplace_back(*entry.GetInt("key"), *entry.GetInt("value"));
    }
    return pairs;
}

// A deep copy of a configuration's root map, to be edited by a test.
inline std::shared_ptr<velkar::util::Map> CopyOf(
    const std::shared_ptr<velkar::util::Collection>& tree) {
    return std::shared_ptr<velkar::util::Map>(dynamic_cast<velkar::util::Map*>(tree->Copy()));
}

// A deep copy of a configuration's root map without key (Map has no removal).
inline std::shared_ptr<velkar::util::Map> Without(
    const std::shared_ptr<velkar::util::Collection>& tree, const std::string& key) {
    using velkar::util::Collection;
    auto reduced = std::make_shared<velkar::util::Map>();
    for (const auto& [name, item] : dynamic_cast<const velkar::util::Map&>(*tree).Items()) {
        if (name == key) {
            continue;
        }
        switch (item->kind) {
            case Collection::IntKind:
                reduced->Put(name, new int(*static_cast<int*>(item->value)));
                break;
            case Collection::DoubleKind:
                reduced->Put(name, new double(*static_cast<double*>(item->value)));
                break;
            case Collection::CollectionKind:
                reduced->Put(name, static_cast<Collection*>(item->value)->Copy());
                break;
            default:
                ADD_FAILURE() << "unexpected value kind under " << name;
        }
    }
    return reduced;
}

// configure() must throw std::runtime_error whose message names "key"; afterwards the
// classifier still gives the answers it gave before.
inline void ExpectRejectedNaming(PatternRecognitionAlgorithm& classifier,
                                 const std::function<void()>& configure, const std::string& key,
                                 const std::vector<std::vector<double>>& probes) {
    const std::vector<int> before = ClassifyAll(classifier, probes);
    try {
        configure();
        ADD_FAILURE() << "accepted a tree with a bad " << key;
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("\"" + key + "\""), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(ClassifyAll(classifier, probes), before);
}

}  // namespace classifiertest
