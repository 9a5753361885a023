#include "velkar/patternrecognition/RadialBasisFunctionNetwork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "patternrecognition/NetworkClassifierTestSupport.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

using namespace classifiertest;

// A model given by hand: three features (the third constant in training), three units and two
// classes (7 at output 0, 4 at output 1) whose outputs are both negative far from the centers.
struct HandModel {
    std::vector<double> minimum{0.0, 10.0, 5.0}, maximum{2.0, 20.0, 5.0}, widths{1.5, 0.5, 4.0};
    Rows centers{{0.2, 0.1, 0.0}, {0.8, 0.9, 0.0}, {0.5, 0.5, 0.0}};
    Rows weights{{2.0, -1.0, 0.5, -0.3}, {-1.0, 2.5, 0.4, -0.6}};
    std::vector<std::pair<int, int>> tagged{{4, 1}, {7, 0}};

    std::shared_ptr<Map> Tree() const {
        auto tree = std::make_shared<Map>();
        tree->Put("min_data_values", RealArray(minimum));
        tree->Put("max_data_values", RealArray(maximum));
        tree->Put("centers", RowArray(centers));
        tree->Put("widths", RealArray(widths));
        tree->Put("weights", RowArray(weights));
        tree->Put("tagged_classes", TaggedArray(tagged));
        return tree;
    }

    // The network's answer computed directly from its formulas.
    int Classify(const std::vector<double>& x) const {
        std::vector<double> phi;
        for (std::size_t i = 0; i < centers.size(); ++i) {
            double squared = 0.0;
            for (std::size_t j = 0; j < x.size(); ++j) {
                const double span = maximum[j] - minimum[j];
                const double scaled = span == 0.0 ? 0.0 : (x[j] - minimum[j]) / span;
                squared += (scaled - centers[i][j]) * (scaled - centers[i][j]);
            }
            phi.push_back(std::exp(-widths[i] * squared));
        }
        phi.push_back(1.0);
        double best = std::numeric_limits<double>::min();
        int answer = -1;
        for (std::size_t c = 0; c < weights.size(); ++c) {
            double output = 0.0;
            for (std::size_t i = 0; i < phi.size(); ++i) output += weights[c][i] * phi[i];
            if (output > best) {
                best = output;
                answer = c == 0 ? 7 : 4;
            }
        }
        return answer;
    }
};

TEST(RadialBasisFunctionNetwork, LearnsThreeBlobsAndRestoresFromJson) {
    // Six features: in two, the Gaussian tails reach where every output is negative (answer -1)
    // for about a tenth of the samples.
    const std::vector<double> origin(6, 0.0);
    Samples centres{{0, origin}, {1, origin}, {2, origin}};
    centres[1].second[0] = centres[2].second[1] = 5.0;
    util::Seed(11);
    RadialBasisFunctionNetwork trained(0.05, 2, 60), fresh;
    ExpectLearnsBlobsAndRestores(trained, fresh, centres, 0.8, -3.0, 8.0);
}

TEST(RadialBasisFunctionNetwork, ClassifiesLikeTheFormulasComputedDirectly) {
    const HandModel model;
    RadialBasisFunctionNetwork network;
    network.SetConfiguration(model.Tree());
    std::vector<int> answers;
    for (auto point : Grid(3, -1.0, 21.0, 12000)) {
        answers.push_back(model.Classify(point));
        ASSERT_EQ(network.Classify(point), answers.back());
    }
    for (int answer : {-1, 4, 7}) {
        EXPECT_NE(std::count(answers.begin(), answers.end(), answer), 0) << answer;
    }
    // Equal outputs go to the lower output index: class 7.
    HandModel tied = model;
    tied.weights[1] = tied.weights[0];
    network.SetConfiguration(tied.Tree());
    std::vector<double> atFirstCenter{0.4, 11.0, 5.0};
    EXPECT_EQ(network.Classify(atFirstCenter), 7);
}

TEST(RadialBasisFunctionNetwork, TagsClassesInOrderOfFirstAppearance) {
    const Samples sequence{{3, {0.0, 0.0}}, {1, {6.0, 0.0}}, {3, {0.3, 0.2}}, {2, {0.0, 6.0}}};
    Samples samples;
    for (int round = 0; round < 20; ++round) {
        for (auto [classId, features] : sequence) {
            features[0] += 0.01 * round;
            samples.emplace_back(classId, features);
        }
    }
    util::Seed(12);
    RadialBasisFunctionNetwork network(0.05, 1, 80);
    network.Train(MakeSet(samples));
    const auto tree = network.Configuration();
    const Array& array = ArrayUnder(tree, "tagged_classes");
    std::vector<std::pair<int, int>> tagged;
    for (int i = 0; i < array.Size(); ++i) {
        const auto& entry = dynamic_cast<const Map&>(*array.GetCollection(i));
        tagged.emplace_back(*entry.GetInt("key"), *entry.GetInt("value"));
    }
    EXPECT_EQ(tagged, (std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 0}}));
    EXPECT_GE(Accuracy(network, MakeSet(samples)), 0.95);
}

TEST(RadialBasisFunctionNetwork, SpreadlessUnitsBorrowTheMeanPositiveSpread) {
    // One unit per class. Normalised, class 0 is {(0, 0), (1, 0)} (spread 0.5), class 2
    // {(0, 1), (0.5, 1)} (spread 0.25), class 1 one point and class 3 three copies of (0.1, 0.1)
    // whose mean is off by rounding: both take the mean 0.375. Widths are 1 / (2 spread^2).
    RadialBasisFunctionNetwork network(0.1, 1, 10);
    network.Train(MakeSet({{0, {0.0, 0.0}},
                           {0, {2.0, 0.0}},
                           {1, {2.0, 2.0}},
                           {2, {0.0, 2.0}},
                           {2, {1.0, 2.0}},
                           {3, {0.2, 0.2}},
                           {3, {0.2, 0.2}},
                           {3, {0.2, 0.2}}}));
    const double borrowed = 1.0 / (2.0 * 0.375 * 0.375);
    const std::vector<double> expected{2.0, borrowed, 8.0, borrowed};
    const std::vector<double> widths = RealsOf(ArrayUnder(network.Configuration(), "widths"));
    ASSERT_EQ(widths.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(widths[i], expected[i]);
    // Without any positive spread every unit takes sigma 1.
    network.Train(MakeSet({{5, {1.0, 3.0}}, {6, {2.0, 1.0}}}));
    EXPECT_EQ(RealsOf(ArrayUnder(network.Configuration(), "widths")),
              (std::vector<double>{0.5, 0.5}));
}

TEST(RadialBasisFunctionNetwork, TrainingOrderDoesNotFavourTheClassListedLast) {
    const Samples centres{{0, {0.0, 0.0}}, {1, {2.5, 0.0}}, {2, {1.25, 2.2}}};
    const PatternSet test = Blobs(centres, 200, 0.7, 9);
    const PatternSet interleaved = Blobs(centres, 80, 0.7, 8);
    auto grouped = std::make_shared<PatternList>(*interleaved);
    std::stable_sort(grouped->begin(), grouped->end(),
                     [](const auto& a, const auto& b) { return a->Class() < b->Class(); });
    std::vector<double> accuracies;
    for (const PatternSet& set : {interleaved, PatternSet(grouped)}) {
        util::Seed(13);
        RadialBasisFunctionNetwork network(0.2, 2, 40);
        network.Train(set);
        accuracies.push_back(Accuracy(network, test));
    }
    EXPECT_GE(accuracies[0], 0.8);
    EXPECT_NEAR(accuracies[0], accuracies[1], 0.04);
}

TEST(RadialBasisFunctionNetwork, RefusesMalformedTreesBadSettingsAndMisuse) {
    const HandModel model;
    RadialBasisFunctionNetwork network;
    network.SetConfiguration(model.Tree());
    const Rows probes = Grid(3, 0.0, 20.0, 64);
    const auto complete = model.Tree();
    for (const auto& [key, item] : complete->Items()) {
        ExpectRejectedNaming(network, Without(complete, key), key, probes);
    }
    HandModel infinite = model, negative = model, extraUnit = model, twoIndexOne = model;
    infinite.maximum[1] = std::nan("");
    negative.widths[1] = -0.5;
    extraUnit.widths.push_back(1.0);
    twoIndexOne.tagged[1].second = 1;
    ExpectRejectedNaming(network, infinite.Tree(), "max_data_values[1]", probes);
    ExpectRejectedNaming(network, negative.Tree(), "widths[1]", probes);
    ExpectRejectedNaming(network, extraUnit.Tree(), "centers", probes);
    ExpectRejectedNaming(network, twoIndexOne.Tree(), "tagged_classes[1]", probes);

    EXPECT_THROW(RadialBasisFunctionNetwork(0.1, 0, 5), std::invalid_argument);
    EXPECT_THROW(RadialBasisFunctionNetwork(0.1, 1, -1), std::invalid_argument);
    std::vector<double> features{1.0, 2.0};
    EXPECT_THROW(RadialBasisFunctionNetwork().Classify(features), std::logic_error);
    EXPECT_THROW(RadialBasisFunctionNetwork().Train(MakeSet({{0, {1.0}}})), std::logic_error);
    RadialBasisFunctionNetwork restored;
    restored.SetConfiguration(HandModel().Tree());
    EXPECT_THROW(restored.Classify(features), std::invalid_argument);
}

}  // namespace
}  // namespace velkar::patternrecognition
