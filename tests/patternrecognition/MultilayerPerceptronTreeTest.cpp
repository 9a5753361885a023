// The multilayer perceptron's configuration tree: its keys and the network's shape, restoring,
// trees built by hand, and trees the reader refuses by name.

#include "velkar/patternrecognition/MultilayerPerceptron.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "MultilayerPerceptronTestSupport.h"
#include "velkar/util/Array.h"
#include "velkar/util/Json.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

using namespace perceptrontest;

TEST(MultilayerPerceptron, ConfigurationHasSixKeysOfTheNetworkShape) {
    auto set = std::make_shared<PatternList>();
    set->push_back(MakePattern(10, {1.0, -2.0, 0.5}));
    set->push_back(MakePattern(20, {3.0, -6.0, 0.5}));
    set->push_back(MakePattern(10, {2.0, -4.0, 1.5}));
    util::Seed(41);
    MultilayerPerceptron network(3, {4, 2}, 0.3, 0.3, 0.0, 2);
    network.Train(set);

    const std::shared_ptr<util::Collection> tree = network.Configuration();
    const util::Map& configuration = AsMap(tree);
    std::set<std::string> keys;
    for (const auto& entry : configuration.Items()) {
        keys.insert(entry.first);
    }
    EXPECT_EQ(keys,
              (std::set<std::string>{"firestrength_sizes", "max_data_values", "min_data_values",
                                     "output_sizes", "tagged_classes", "weights"}));
    EXPECT_EQ(Ints(ArrayAt(configuration, "output_sizes")), (std::vector<int>{4, 5, 3, 2}));
    EXPECT_EQ(Ints(ArrayAt(configuration, "firestrength_sizes")), (std::vector<int>{4, 5, 3, 2}));
    EXPECT_EQ(Reals(ArrayAt(configuration, "min_data_values")),
              (std::vector<double>{1.0, -6.0, 0.5}));
    EXPECT_EQ(Reals(ArrayAt(configuration, "max_data_values")),
              (std::vector<double>{3.0, std::numeric_limits<double>::min(), 1.5}));

    const Weights weights = WeightsOf(configuration);
    ASSERT_EQ(weights.size(), 3u);
    const std::size_t neurons[] = {4, 2, 2};
    const std::size_t perNeuron[] = {4, 5, 3};
    for (std::size_t j = 0; j < 3; ++j) {
        ASSERT_EQ(weights[j].size(), neurons[j]) << "layer " << j;
        for (const auto& neuron : weights[j]) {
            EXPECT_EQ(neuron.size(), perNeuron[j]) << "layer " << j;
        }
    }
}

TEST(MultilayerPerceptron, RestoredNetworkClassifiesLikeTheTrainedOne) {
    const std::vector<std::pair<int, std::vector<double>>> centres{
        {2, {0.0, 0.0}}, {0, {5.0, 0.0}}, {1, {0.0, 5.0}}};
    util::Seed(43);
    MultilayerPerceptron trained(2, {5}, 0.3, 0.3, 0.01, 100);
    trained.Train(Blobs(centres, 60, 1.2, 13));
    const auto probes = Probes(-4.0, 9.0, 25);
    const std::vector<int> expected = ClassifyAll(trained, probes);
    EXPECT_EQ(std::set<int>(expected.begin(), expected.end()), (std::set<int>{0, 1, 2}));

    MultilayerPerceptron restored;
    restored.SetConfiguration(trained.Configuration());
    EXPECT_EQ(ClassifyAll(restored, probes), expected);

    // The same through the JSON text of a model file (reals keep 12 decimals there).
    const std::shared_ptr<util::Collection> configuration = trained.Configuration();
    const std::string text = util::Json(true).Serialize(configuration.get());
    std::shared_ptr<util::Collection> parsed(util::Json().Deserialize(text));
    ASSERT_NE(parsed, nullptr);
    MultilayerPerceptron fromText;
    fromText.SetConfiguration(parsed);
    EXPECT_EQ(ClassifyAll(fromText, probes), expected);
}

// Plain description of a configuration tree, turned into a util::Map by Build().
struct TreeRecipe {
    std::vector<double> minValues{0.0, 10.0};
    std::vector<double> maxValues{2.0, 20.0};
    Weights weights{{{10.0, 0.0, -5.0}, {0.0, 10.0, -5.0}}, {{10.0, 0.0, -5.0}, {0.0, 10.0, -5.0}}};
    std::vector<int> outputSizes{3, 3, 2};
    std::vector<int> strengthSizes{3, 3, 2};
    std::vector<std::pair<int, int>> tagged{{5, 0}, {8, 1}};
    std::string omit;

    std::shared_ptr<util::Map> Build() const {
        auto map = std::make_shared<util::Map>();
        auto reals = [](const std::vector<double>& values) {
            auto* array = new util::Array();
            for (double value : values) {
                array->Add(new double(value));
            }
            return array;
        };
        auto ints = [](const std::vector<int>& values) {
            auto* array = new util::Array();
            for (int value : values) {
                array->Add(new int(value));
            }
            return array;
        };
        map->Put("min_data_values", reals(minValues));
        map->Put("max_data_values", reals(maxValues));
        auto* layers = new util::Array();
        for (const auto& layer : weights) {
            auto* neurons = new util::Array();
            for (const auto& neuron : layer) {
                neurons->Add(reals(neuron));
            }
            layers->Add(neurons);
        }
        map->Put("weights", layers);
        map->Put("output_sizes", ints(outputSizes));
        map->Put("firestrength_sizes", ints(strengthSizes));
        auto* classes = new util::Array();
        for (const auto& [key, value] : tagged) {
            auto* entry = new util::Map();
            entry->Put("key", new int(key));
            entry->Put("value", new int(value));
            classes->Add(entry);
        }
        map->Put("tagged_classes", classes);
        if (!omit.empty()) {
            // Rebuild without the omitted key: Map has no removal.
            auto reduced = std::make_shared<util::Map>();
            for (const auto& [key, item] : map->Items()) {
                if (key != omit) {
                    reduced->Put(key, static_cast<util::Collection*>(item->value)->Copy());
                }
            }
            return reduced;
        }
        return map;
    }
};

TEST(MultilayerPerceptron, HandBuiltTreeClassifiesAsComputedByHand) {
    MultilayerPerceptron network;
    network.SetConfiguration(TreeRecipe().Build());
    // (1.8, 11) scales to (0.9, 0.1): hidden (s(4), s(-4)), outputs (s(4.82), s(-4.82)).
    std::vector<double> first{1.8, 11.0};
    std::vector<double> second{0.2, 19.0};
    EXPECT_EQ(network.Classify(first), 5);
    EXPECT_EQ(network.Classify(second), 8);
}

TEST(MultilayerPerceptron, AnswersMinusOneWhenNoOutputExceedsTheThreshold) {
    TreeRecipe recipe;
    recipe.minValues = {0.0};
    recipe.maxValues = {1.0};
    recipe.weights = {{{-1000.0, 0.0}}};
    recipe.outputSizes = {2, 1};
    recipe.strengthSizes = {2, 1};
    recipe.tagged = {{3, 0}};
    MultilayerPerceptron network;
    network.SetConfiguration(recipe.Build());
    std::vector<double> saturated{1.0};
    std::vector<double> neutral{0.0};
    EXPECT_EQ(network.Classify(saturated), -1);  // sigmoid(-1000) is exactly 0
    EXPECT_EQ(network.Classify(neutral), 3);     // sigmoid(0) = 0.5
}

TEST(MultilayerPerceptron, TiedOutputsAnswerTheLowerOutputIndex) {
    TreeRecipe recipe;
    recipe.minValues = {0.0};
    recipe.maxValues = {1.0};
    recipe.weights = {{{1.0, 0.5}, {1.0, 0.5}}};
    recipe.outputSizes = {2, 2};
    recipe.strengthSizes = {2, 2};
    recipe.tagged = {{4, 1}, {9, 0}};
    MultilayerPerceptron network;
    network.SetConfiguration(recipe.Build());
    std::vector<double> features{0.3};
    EXPECT_EQ(network.Classify(features), 9);
}

TEST(MultilayerPerceptron, MalformedTreesAreRejectedByName) {
    struct Case {
        std::string name;
        std::function<void(TreeRecipe&)> change;
        std::string key;
    };
    const std::vector<Case> cases{
        {"missing min", [](TreeRecipe& s) { s.omit = "min_data_values"; }, "min_data_values"},
        {"missing max", [](TreeRecipe& s) { s.omit = "max_data_values"; }, "max_data_values"},
        {"missing weights", [](TreeRecipe& s) { s.omit = "weights"; }, "weights"},
        {"missing sizes", [](TreeRecipe& s) { s.omit = "output_sizes"; }, "output_sizes"},
        {"missing strengths", [](TreeRecipe& s) { s.omit = "firestrength_sizes"; },
         "firestrength_sizes"},
        {"missing classes", [](TreeRecipe& s) { s.omit = "tagged_classes"; }, "tagged_classes"},
        {"no weight layer", [](TreeRecipe& s) { s.outputSizes = s.strengthSizes = {3}; },
         "output_sizes"},
        {"no inputs",
         [](TreeRecipe& s) {
             s.outputSizes = s.strengthSizes = {1, 3, 2};
         },
         "output_sizes[0]"},
        {"no outputs",
         [](TreeRecipe& s) {
             s.outputSizes = s.strengthSizes = {3, 3, 0};
         },
         "output_sizes[2]"},
        {"strength count",
         [](TreeRecipe& s) {
             s.strengthSizes = {3, 3};
         },
         "firestrength_sizes"},
        {"strength size",
         [](TreeRecipe& s) {
             s.strengthSizes = {3, 4, 2};
         },
         "firestrength_sizes[1]"},
        {"min length",
         [](TreeRecipe& s) {
             s.minValues = {0.0, 1.0, 2.0};
         },
         "min_data_values"},
        {"max length", [](TreeRecipe& s) { s.maxValues = {2.0}; }, "max_data_values"},
        {"layer count", [](TreeRecipe& s) { s.weights.pop_back(); }, "weights"},
        {"hidden neurons",
         [](TreeRecipe& s) {
             s.weights[0].push_back({1.0, 2.0, 3.0});
         },
         "weights[0]"},
        {"output neurons", [](TreeRecipe& s) { s.weights[1].pop_back(); }, "weights[1]"},
        {"weight count", [](TreeRecipe& s) { s.weights[1][0].pop_back(); }, "weights[1][0]"},
        {"extra weight", [](TreeRecipe& s) { s.weights[0][1].push_back(0.0); }, "weights[0][1]"},
        {"output too high", [](TreeRecipe& s) { s.tagged[1].second = 2; }, "tagged_classes[1]"},
        {"negative output", [](TreeRecipe& s) { s.tagged[0].second = -1; }, "tagged_classes[0]"},
        {"repeated output", [](TreeRecipe& s) { s.tagged[1].second = 0; }, "tagged_classes[1]"},
        {"too few classes", [](TreeRecipe& s) { s.tagged.pop_back(); }, "tagged_classes"},
    };

    MultilayerPerceptron network;
    network.SetConfiguration(TreeRecipe().Build());
    std::vector<double> first{1.8, 11.0};
    std::vector<double> second{0.2, 19.0};

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TreeRecipe recipe;
        c.change(recipe);
        try {
            network.SetConfiguration(recipe.Build());
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("\"" + c.key + "\""), std::string::npos)
                << error.what();
        }
        // A rejected tree leaves the earlier model in place.
        EXPECT_EQ(network.Classify(first), 5);
        EXPECT_EQ(network.Classify(second), 8);
    }
}

TEST(MultilayerPerceptron, WrongKindsInTheTreeAreRejected) {
    auto expectRejected = [](const std::shared_ptr<util::Collection>& tree,
                             const std::string& key) {
        MultilayerPerceptron network;
        try {
            network.SetConfiguration(tree);
            ADD_FAILURE() << "accepted a tree with a bad " << key;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(key), std::string::npos) << error.what();
        }
    };

    auto tree = TreeRecipe().Build();
    tree->Put("weights", new int(3));
    expectRejected(tree, "\"weights\"");

    tree = TreeRecipe().Build();
    auto* sizes = new util::Array();
    sizes->Add(new int(3));
    sizes->Add(new std::string("3"));
    sizes->Add(new int(2));
    tree->Put("output_sizes", sizes);
    expectRejected(tree, "\"output_sizes[1]\"");

    tree = TreeRecipe().Build();
    auto* values = new util::Array();
    values->Add(new bool(true));
    values->Add(new double(1.0));
    tree->Put("max_data_values", values);
    expectRejected(tree, "\"max_data_values[0]\"");

    tree = TreeRecipe().Build();
    auto* layers = new util::Array();
    layers->Add(new double(1.0));
    layers->Add(new util::Array());
    tree->Put("weights", layers);
    expectRejected(tree, "\"weights[0]\"");

    tree = TreeRecipe().Build();
    auto* classes = new util::Array();
    auto* incomplete = new util::Map();
    incomplete->Put("key", new int(5));
    classes->Add(incomplete);
    classes->Add(new int(8));
    tree->Put("tagged_classes", classes);
    expectRejected(tree, "\"tagged_classes[0]\"");

    tree = TreeRecipe().Build();
    classes = new util::Array();
    auto* entry = new util::Map();
    entry->Put("key", new int(5));
    entry->Put("value", new int(0));
    classes->Add(entry);
    classes->Add(new int(8));
    tree->Put("tagged_classes", classes);
    expectRejected(tree, "\"tagged_classes[1]\"");

    tree = TreeRecipe().Build();
    classes = new util::Array();
    for (int output : {0, 1}) {
        auto* repeated = new util::Map();
        repeated->Put("key", new int(5));
        repeated->Put("value", new int(output));
        classes->Add(repeated);
    }
    tree->Put("tagged_classes", classes);
    expectRejected(tree, "\"tagged_classes[1]\"");

    expectRejected(std::make_shared<util::Array>(), "map");
    expectRejected(nullptr, "map");
}

TEST(MultilayerPerceptron, IntegerWeightsInAHandWrittenTreeAreReadAsReals) {
    auto tree = TreeRecipe().Build();
    auto* layers = new util::Array();
    for (const auto& layer : TreeRecipe().weights) {
        auto* neurons = new util::Array();
        for (const auto& neuron : layer) {
            auto* weights = new util::Array();
            for (double weight : neuron) {
                weights->Add(new int(static_cast<int>(weight)));
            }
            neurons->Add(weights);
        }
        layers->Add(neurons);
    }
    tree->Put("weights", layers);
    MultilayerPerceptron network;
    network.SetConfiguration(tree);
    std::vector<double> first{1.8, 11.0};
    EXPECT_EQ(network.Classify(first), 5);
}

TEST(MultilayerPerceptron, DamagedModelTextIsRejectedOrGivesAWorkingNetwork) {
    util::Seed(47);
    MultilayerPerceptron trained(2, {3}, 0.3, 0.3, 0.01, 20);
    trained.Train(Blobs({{4, {0.0, 0.0}}, {6, {3.0, 3.0}}}, 10, 1.0, 14));
    const std::shared_ptr<util::Collection> tree = trained.Configuration();
    const std::string text = util::Json().Serialize(tree.get());
    const std::string alphabet = "{}[],:\"0123456789.-ekvy_ ";

    std::mt19937 engine(15);
    int accepted = 0;
    for (int round = 0; round < 400; ++round) {
        std::string damaged = text;
        const int edits = 1 + static_cast<int>(engine() % 3);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = engine() % damaged.size();
            switch (engine() % 3) {
                case 0:
                    damaged.erase(at, 1 + engine() % 8);
                    break;
                case 1:
                    damaged[at] = alphabet[engine() % alphabet.size()];
                    break;
                default:
                    damaged.insert(at, 1, alphabet[engine() % alphabet.size()]);
            }
            if (damaged.empty()) {
                damaged = "{";
            }
        }
        std::shared_ptr<util::Collection> parsed(util::Json().Deserialize(damaged));
        MultilayerPerceptron network;
        try {
            network.SetConfiguration(parsed);
        } catch (const std::runtime_error&) {
            continue;
        }
        ++accepted;
        // An accepted tree is consistent: the network answers -1 or one of its class ids.
        std::set<int> classIds{-1};
        const util::Array& tagged = ArrayAt(AsMap(parsed), "tagged_classes");
        for (int i = 0; i < tagged.Size(); ++i) {
            classIds.insert(
                *dynamic_cast<const util::Map&>(*tagged.GetCollection(i)).GetInt("key"));
        }
        std::vector<double> probe{1.0, 2.0};
        EXPECT_EQ(classIds.count(network.Classify(probe)), 1u) << damaged;
    }
    // Edits inside numbers keep the tree well formed, so some damaged texts still load.
    EXPECT_GT(accepted, 0);
    EXPECT_LT(accepted, 400);
}

TEST(MultilayerPerceptron, RejectsBadShapesAndLengths) {
    EXPECT_THROW(MultilayerPerceptron(0, {3}, 0.3, 0.3, 0.01, 10), std::invalid_argument);
    EXPECT_THROW(MultilayerPerceptron(2, {3, 0}, 0.3, 0.3, 0.01, 10), std::invalid_argument);
    EXPECT_THROW(MultilayerPerceptron(2, {-1}, 0.3, 0.3, 0.01, 10), std::invalid_argument);

    MultilayerPerceptron network(2, {3}, 0.3, 0.3, 0.01, 10);
    EXPECT_THROW(network.Train(std::make_shared<PatternList>()), std::invalid_argument);
    EXPECT_THROW(network.Train(nullptr), std::invalid_argument);
    auto unequal = std::make_shared<PatternList>();
    unequal->push_back(MakePattern(0, {1.0, 2.0}));
    unequal->push_back(MakePattern(1, {1.0, 2.0, 3.0}));
    EXPECT_THROW(network.Train(unequal), std::invalid_argument);
    auto tooShort = std::make_shared<PatternList>();
    tooShort->push_back(MakePattern(0, {1.0}));
    EXPECT_THROW(network.Train(tooShort), std::invalid_argument);

    std::vector<double> features{1.0, 2.0};
    EXPECT_THROW(network.Classify(features), std::logic_error);
    EXPECT_THROW(network.Configuration(), std::logic_error);

    network.Train(XorSet());
    std::vector<double> longer{1.0, 2.0, 3.0};
    try {
        network.Classify(longer);
        ADD_FAILURE() << "a feature vector of the wrong length was accepted";
    } catch (const std::invalid_argument& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find('3'), std::string::npos) << message;
        EXPECT_NE(message.find('2'), std::string::npos) << message;
    }
    std::vector<double> shorter{1.0};
    EXPECT_THROW(network.Classify(shorter), std::invalid_argument);
    EXPECT_NO_THROW(network.Classify(features));
}

TEST(MultilayerPerceptron, RestoredNetworkCannotBeTrained) {
    MultilayerPerceptron network;
    EXPECT_THROW(network.Train(XorSet()), std::logic_error);
    network.SetConfiguration(TreeRecipe().Build());
    EXPECT_THROW(network.Train(XorSet()), std::logic_error);
}

}  // namespace
}  // namespace velkar::patternrecognition
