#include "velkar/patternrecognition/RadialBasisFunctionNetwork.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "patternrecognition/NetworkClassifierTestSupport.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

using namespace classifiertest;

const Centres threeBlobs{{0, {0.0, 0.0}}, {1, {5.0, 0.0}}, {2, {0.0, 5.0}}};

// A model given by hand: three features (the third constant in training), three units, two
// classes whose outputs are both negative far from the centers.
struct HandModel {
    std::vector<double> minimum{0.0, 10.0, 5.0};
    std::vector<double> maximum{2.0, 20.0, 5.0};
    Rows centers{{0.2, 0.1, 0.0}, {0.8, 0.9, 0.0}, {0.5, 0.5, 0.0}};
    std::vector<double> widths{1.5, 0.5, 4.0};
    Rows weights{{2.0, -1.0, 0.5, -0.3}, {-1.0, 2.5, 0.4, -0.6}};
    std::vector<std::pair<int, int>> tagged{{4, 1}, {7, 0}};

    std::shared_ptr<util::Map> Tree() const {
        auto tree = std::make_shared<util::Map>();
        tree->Put("min_data_values", RealArray(minimum));
        tree->Put("max_data_values", RealArray(maximum));
        tree->Put("centers", RowArray(centers));
        tree->Put("widths", RealArray(widths));
        tree->Put("weights", RowArray(weights));
        tree->Put("tagged_classes", TaggedArray(tagged));
        return tree;
    }

    // The network's answer computed directly from the formulas.
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
            for (std::size_t i = 0; i < phi.size(); ++i) {
                output += weights[c][i] * phi[i];
            }
            if (output > best) {
                best = output;
                answer = c == 0 ? 7 : 4;
            }
        }
        return answer;
    }
};

TEST(RadialBasisFunctionNetwork, LearnsThreeBlobsAndRestoresFromJson) {
    // Six features: in two the Gaussian tails reach where every output is negative (answer -1)
    // for about a tenth of the samples.
    const Centres blobs{{0, {0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
                        {1, {5.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
                        {2, {0.0, 5.0, 0.0, 0.0, 0.0, 0.0}}};
    util::Seed(11);
    RadialBasisFunctionNetwork trained(0.05, 2, 60);
    RadialBasisFunctionNetwork fresh;
    ExpectLearnsBlobsAndRestores(trained, fresh, blobs, 0.8, -3.0, 8.0);
    EXPECT_EQ(trained.Name(), "Radial Basis Function Network");
    EXPECT_EQ(trained.Version(), "2.0");
    EXPECT_EQ(trained.FileExtension(), "rbf");
}

TEST(RadialBasisFunctionNetwork, ClassifiesLikeTheFormulasComputedDirectly) {
    const HandModel model;
    RadialBasisFunctionNetwork network;
    network.SetConfiguration(model.Tree());
    EXPECT_EQ(network.InputSize(), 3);
    std::vector<int> seen;
    for (const auto& point : Grid(3, -1.0, 21.0, 22)) {
        std::vector<double> input = point;
        const int answer = network.Classify(input);
        ASSERT_EQ(answer, model.Classify(point)) << point[0] << " " << point[1] << " " << point[2];
        seen.push_back(answer);
    }
    // The grid reaches all three answers, -1 included.
    for (int answer : {-1, 4, 7}) {
        EXPECT_NE(std::find(seen.begin(), seen.end(), answer), seen.end()) << answer;
    }
}

TEST(RadialBasisFunctionNetwork, TagsClassesInOrderOfFirstAppearance) {
    auto set = std::make_shared<PatternList>();
    const std::vector<std::pair<int, std::vector<double>>> sequence{
        {3, {0.0, 0.0}}, {1, {6.0, 0.0}}, {3, {0.3, 0.2}}, {2, {0.0, 6.0}}};
    std::mt19937 engine(5);
    std::normal_distribution<double> noise(0.0, 0.5);
    for (int round = 0; round < 30; ++round) {
        for (const auto& [classId, centre] : sequence) {
            set->push_back(
                MakePattern(classId, {centre[0] + noise(engine), centre[1] + noise(engine)}));
        }
    }
    util::Seed(12);
    RadialBasisFunctionNetwork network(0.05, 1, 80);
    network.Train(set);
    const auto tree = network.Configuration();
    EXPECT_EQ(TaggedOf(ArrayUnder(tree, "tagged_classes")),
              (std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 0}}));
    EXPECT_EQ(ArrayUnder(tree, "weights").Size(), 3);
    EXPECT_GE(Accuracy(network, set), 0.95);
}

TEST(RadialBasisFunctionNetwork, SpreadlessUnitsBorrowTheMeanPositiveSpread) {
    // One unit per class. In normalised space class 0 is {(0, 0), (1, 0)} (spread 0.5), class 2
    // is {(0, 1), (0.5, 1)} (spread 0.25), class 1 a single point and class 3 three copies of
    // (0.1, 0.1), whose mean is off by rounding: both take the mean spread 0.375.
    // Widths are 1 / (2 spread^2).
    auto set = std::make_shared<PatternList>();
    set->push_back(MakePattern(0, {0.0, 0.0}));
    set->push_back(MakePattern(0, {2.0, 0.0}));
    set->push_back(MakePattern(1, {2.0, 2.0}));
    set->push_back(MakePattern(2, {0.0, 2.0}));
    set->push_back(MakePattern(2, {1.0, 2.0}));
    for (int copy = 0; copy < 3; ++copy) {
        set->push_back(MakePattern(3, {0.2, 0.2}));
    }
    RadialBasisFunctionNetwork network(0.1, 1, 200);
    network.Train(set);
    const std::vector<double> widths = RealsOf(ArrayUnder(network.Configuration(), "widths"));
    const double borrowed = 1.0 / (2.0 * 0.375 * 0.375);
    ASSERT_EQ(widths.size(), 4u);
    EXPECT_DOUBLE_EQ(widths[0], 2.0);
    EXPECT_DOUBLE_EQ(widths[1], borrowed);
    EXPECT_DOUBLE_EQ(widths[2], 8.0);
    EXPECT_DOUBLE_EQ(widths[3], borrowed);

    // With no positive spread at all every unit gets sigma 1.
    auto singles = std::make_shared<PatternList>();
    singles->push_back(MakePattern(5, {1.0, 3.0}));
    singles->push_back(MakePattern(6, {2.0, 1.0}));
    network.Train(singles);
    EXPECT_EQ(RealsOf(ArrayUnder(network.Configuration(), "widths")),
              (std::vector<double>{0.5, 0.5}));
}

TEST(RadialBasisFunctionNetwork, TrainingOrderDoesNotFavourTheClassListedLast) {
    const Centres overlapping{{0, {0.0, 0.0}}, {1, {2.5, 0.0}}, {2, {1.25, 2.2}}};
    const PatternSet test = Blobs(overlapping, 200, 0.7, 9);
    std::vector<double> accuracies;
    for (bool grouped : {false, true}) {
        util::Seed(13);
        RadialBasisFunctionNetwork network(0.2, 2, 40);
        network.Train(Blobs(overlapping, 80, 0.7, 8, grouped));
        accuracies.push_back(Accuracy(network, test));
    }
    EXPECT_GE(accuracies[0], 0.8);
    EXPECT_NEAR(accuracies[0], accuracies[1], 0.04);
}

TEST(RadialBasisFunctionNetwork, ZeroEpochsLeaveTheRandomStartingWeights) {
    util::Seed(14);
    RadialBasisFunctionNetwork network(0.1, 2, 0);
    network.Train(Blobs(threeBlobs, 10, 0.5, 3));
    EXPECT_EQ(network.TrainingError(), 0.0);
    std::set<double> distinct;
    for (const auto& row : RowsOf(ArrayUnder(network.Configuration(), "weights"))) {
        for (double weight : row) {
            EXPECT_GE(weight, -1.0);
            EXPECT_LE(weight, 1.0);
            distinct.insert(weight);
        }
    }
    EXPECT_GT(distinct.size(), 3u);
}

TEST(RadialBasisFunctionNetwork, MalformedTreesAreRejectedByName) {
    const HandModel model;
    RadialBasisFunctionNetwork network;
    network.SetConfiguration(model.Tree());
    const auto probes = Grid(3, 0.0, 20.0, 3);
    const auto reject = [&](const std::shared_ptr<util::Collection>& tree, const std::string& key) {
        SCOPED_TRACE(key);
        ExpectRejectedNaming(
            network, [&] { network.SetConfiguration(tree); }, key, probes);
    };
    for (const std::string key :
         {"min_data_values", "max_data_values", "centers", "widths", "weights", "tagged_classes"}) {
        reject(Without(model.Tree(), key), key);
    }
    const auto edited = [&](const std::function<void(HandModel&)>& change) {
        HandModel copy = model;
        change(copy);
        return copy.Tree();
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    reject(edited([](HandModel& m) { m.minimum.clear(); }), "min_data_values");
    reject(edited([](HandModel& m) { m.maximum.pop_back(); }), "max_data_values");
    reject(edited([&](HandModel& m) { m.maximum[1] = nan; }), "max_data_values[1]");
    reject(edited([](HandModel& m) { m.widths[1] = -0.5; }), "widths[1]");
    reject(edited([](HandModel& m) { m.widths.push_back(1.0); }), "centers");
    reject(edited([](HandModel& m) { m.centers[2].pop_back(); }), "centers[2]");
    reject(edited([](HandModel& m) { m.weights[1].push_back(0.0); }), "weights[1]");
    reject(edited([&](HandModel& m) { m.weights[0][3] = nan; }), "weights[0][3]");
    reject(edited([](HandModel& m) { m.tagged.erase(m.tagged.begin()); }), "tagged_classes");
    reject(edited([](HandModel& m) { m.tagged[1].second = 1; }), "tagged_classes[1]");
    auto root = CopyOf(model.Tree());
    root->Put("widths", new int(3));
    reject(root, "widths");
}

TEST(RadialBasisFunctionNetwork, RejectsBadSettingsAndUseOutOfOrder) {
    EXPECT_THROW(RadialBasisFunctionNetwork(0.1, 0, 5), std::invalid_argument);
    EXPECT_THROW(RadialBasisFunctionNetwork(0.1, 1, -1), std::invalid_argument);
    EXPECT_THROW(RadialBasisFunctionNetwork(std::nan(""), 1, 5), std::invalid_argument);
    RadialBasisFunctionNetwork empty;
    std::vector<double> features{1.0, 2.0, 3.0};
    EXPECT_THROW(empty.Classify(features), std::logic_error);
    EXPECT_THROW(empty.Configuration(), std::logic_error);
    EXPECT_THROW(empty.Train(Blobs(threeBlobs, 3, 0.5, 4)), std::logic_error);
    empty.SetConfiguration(HandModel().Tree());
    std::vector<double> shorter{1.0, 2.0};
    EXPECT_THROW(empty.Classify(shorter), std::invalid_argument);
}

}  // namespace
}  // namespace velkar::patternrecognition
