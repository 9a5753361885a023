#include "velkar/patternrecognition/SelfOrganizingMap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "patternrecognition/NetworkClassifierTestSupport.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

using namespace classifiertest;

// Hexagonal distance in axial coordinates q = row - column / 2, r = column, written as the
// standard axial formula; both references below use it.
int LatticeDistance(int k1, int k2, int size) {
    const int dq = (k2 / size - k2 % size / 2) - (k1 / size - k1 % size / 2);
    const int dr = k2 % size - k1 % size;
    return (std::abs(dq) + std::abs(dr) + std::abs(dq + dr)) / 2;
}

int BestMatch(const Rows& weights, const std::vector<double>& input) {
    double best = 268435456.0;
    int winner = 0;
    for (std::size_t k = 0; k < weights.size(); ++k) {
        double sum = 0.0;
        for (std::size_t i = 0; i < input.size(); ++i) sum += std::pow(input[i] - weights[k][i], 2);
        if (std::sqrt(sum) < best) {
            best = std::sqrt(sum);
            winner = static_cast<int>(k);
        }
    }
    return winner;
}

struct Lattice {
    int size;
    Rows weights;
    std::vector<int> classes;

    std::shared_ptr<Map> Tree(const std::vector<std::pair<int, int>>& tagged) const {
        auto tree = std::make_shared<Map>();
        tree->Put("lattice_size", new int(size));
        tree->Put("problem_dimension", new int(static_cast<int>(weights[0].size())));
        auto* nodes = new Array();
        tree->Put("nodes", nodes);
        for (std::size_t k = 0; k < weights.size(); ++k) {
            auto* node = new Map();
            nodes->Add(node);
            node->Put("class", new int(classes[k]));
            node->Put("weights", RealArray(weights[k]));
        }
        tree->Put("tagged_classes", TaggedArray(tagged));
        return tree;
    }

    // The neighbour vote walked over every neuron of the lattice.
    int Classify(const std::set<int>& tagged, const std::vector<double>& input) const {
        const int winner = BestMatch(weights, input);
        std::map<int, double> scores;
        double best = 0.0;
        int answer = -1;
        for (std::size_t k = 0; k < weights.size(); ++k) {
            const int d = LatticeDistance(winner, static_cast<int>(k), size);
            if (d < 2 && tagged.count(classes[k]) > 0) {
                scores[classes[k]] += d == 0 ? 2.0 : 1.0;
                if (scores[classes[k]] > best) {
                    best = scores[classes[k]];
                    answer = classes[k];
                }
            }
        }
        return answer;
    }
};

// Training written out step by step, drawing from the library's random source in the same order
// (the weights in the constructor, then one pattern per step) after seeding it.
Lattice ReferenceTraining(int size, double radiusFactor, double rate, int iterations,
                          const PatternSet& set, unsigned seed) {
    util::Seed(seed);
    Lattice lattice{size, Rows(size * size, std::vector<double>(2)),
                    std::vector<int>(size * size, -1)};
    for (auto& neuron : lattice.weights) {
        for (double& weight : neuron) weight = util::RandomReal() * 2.0 - 1.0;
    }
    const double sigma0 = size * radiusFactor;
    const double lambda = std::log(sigma0) > 0.0 ? iterations / std::log(sigma0)
                                                 : std::numeric_limits<double>::infinity();
    for (int n = 1; n <= iterations; ++n) {
        Pattern& pattern = *(*set)[util::RandomIndex(set->size())];
        const std::vector<double> x = *pattern.Descriptors();
        const int winner = BestMatch(lattice.weights, x);
        lattice.classes[winner] = pattern.Class();
        const double sigma = sigma0 * std::exp(-n / lambda), eta = rate * std::exp(-n / lambda);
        for (int k = 0; k < size * size; ++k) {
            const double d = LatticeDistance(winner, k, size);
            for (int i = 0; i < 2 && d < sigma; ++i) {
                lattice.weights[k][i] +=
                    (x[i] - lattice.weights[k][i]) * std::exp(-d * d / (2 * sigma * sigma)) * eta;
            }
        }
    }
    return lattice;
}

TEST(SelfOrganizingMap, TrainingMatchesTheStepByStepReference) {
    // The second setting has sigma0 = 1: the radius never shrinks and, the test being strict,
    // only the winner itself moves. The third never trains: nothing can be named.
    const PatternSet set = Blobs({{0, {0.0, 0.0}}, {1, {3.0, 0.0}}, {2, {0.0, 3.0}}}, 10, 0.5, 3);
    for (const auto& [size, radiusFactor, rate, iterations] :
         {std::tuple{4, 0.5, 0.3, 60}, std::tuple{4, 0.25, 0.5, 40}, std::tuple{5, 0.8, 0.1, 0}}) {
        SCOPED_TRACE(testing::Message() << "lattice " << size << ", factor " << radiusFactor);
        const Lattice expected = ReferenceTraining(size, radiusFactor, rate, iterations, set, 21);
        util::Seed(21);
        SelfOrganizingMap map(size, 2, radiusFactor, rate, iterations);
        map.Train(set);
        const auto tree = map.Configuration();
        const Array& nodes = ArrayUnder(tree, "nodes");
        ASSERT_EQ(nodes.Size(), size * size);
        for (int k = 0; k < nodes.Size(); ++k) {
            const auto& node = dynamic_cast<const Map&>(*nodes.GetCollection(k));
            EXPECT_EQ(*node.GetInt("class"), expected.classes[k]) << k;
            const auto weights =
                RealsOf(dynamic_cast<const Array&>(*node.GetCollection("weights")));
            for (int i = 0; i < 2; ++i) EXPECT_NEAR(weights[i], expected.weights[k][i], 1e-12) << k;
        }
        if (iterations == 0) {
            EXPECT_EQ(ClassifyAll(map, Grid(2, -1.0, 4.0, 36)), std::vector<int>(36, -1));
        }
    }
}

TEST(SelfOrganizingMap, ClassifyMatchesTheVoteOverEveryNeuron) {
    std::mt19937 engine(4);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    const int classChoices[] = {-1, -1, 0, 1, 2, 8};  // 8 is not a tagged class
    std::set<int> answers;
    int outvoted = 0;
    for (int trial = 0; trial < 40; ++trial) {
        const int size = 1 + trial % 6;
        Lattice lattice{size, Rows(size * size), std::vector<int>(size * size)};
        for (int k = 0; k < size * size; ++k) {
            lattice.weights[k] = {uniform(engine), uniform(engine)};
            lattice.classes[k] = classChoices[engine() % 6];
        }
        SelfOrganizingMap map;
        map.SetConfiguration(lattice.Tree({{0, 0}, {1, 1}, {2, 2}}));
        for (int probe = 0; probe < 50; ++probe) {
            std::vector<double> input{1.2 * uniform(engine), 1.2 * uniform(engine)};
            const int expected = lattice.Classify({0, 1, 2}, input);
            ASSERT_EQ(map.Classify(input), expected) << "trial " << trial;
            answers.insert(expected);
            outvoted += expected != lattice.classes[BestMatch(lattice.weights, input)] ? 1 : 0;
        }
    }
    // Unknown answers, and winners outvoted by their neighbours, both occurred.
    EXPECT_EQ(answers, (std::set<int>{-1, 0, 1, 2}));
    EXPECT_GT(outvoted, 0);
}

TEST(SelfOrganizingMap, LearnsThreeBlobsAndRestoresFromJson) {
    util::Seed(22);
    SelfOrganizingMap trained(6, 2, 0.5, 0.5, 3000), fresh;
    ExpectLearnsBlobsAndRestores(
        trained, fresh, {{0, {0.0, 0.0}}, {1, {5.0, 0.0}}, {2, {0.0, 5.0}}}, 0.7, -3.0, 8.0);
}

TEST(SelfOrganizingMap, RefusesMalformedTreesBadSettingsAndMisuse) {
    const Lattice lattice{2, {{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}, {1.0, 1.0}}, {4, 6, -1, 4}};
    SelfOrganizingMap map;
    map.SetConfiguration(lattice.Tree({{4, 0}, {6, 1}}));
    const Rows probes{{0.1, 0.0}, {0.9, 0.1}, {0.0, 0.9}};
    for (const char* key : {"lattice_size", "problem_dimension", "nodes", "tagged_classes"}) {
        ExpectRejectedNaming(map, Without(lattice.Tree({{4, 0}}), key), key, probes);
    }
    Lattice bigger = lattice, longer = lattice, infinite = lattice;
    bigger.size = 3;
    longer.weights[3].push_back(2.0);
    infinite.weights[1][1] = std::numeric_limits<double>::infinity();
    ExpectRejectedNaming(map, bigger.Tree({{4, 0}}), "nodes", probes);
    ExpectRejectedNaming(map, longer.Tree({{4, 0}}), "nodes[3].weights", probes);
    ExpectRejectedNaming(map, infinite.Tree({{4, 0}}), "nodes[1].weights[1]", probes);
    // Lattice size x radius factor below 1 would make the time constant negative.
    EXPECT_THROW(SelfOrganizingMap(4, 2, 0.2, 0.5, 10), std::invalid_argument);
    EXPECT_THROW(SelfOrganizingMap(3, 2, 1.0, 0.5, -1), std::invalid_argument);
    SelfOrganizingMap untrained(3, 2, 1.0, 0.5, 10);
    EXPECT_THROW(untrained.Train(MakeSet({{-1, {1.0, 2.0}}})), std::invalid_argument);
    EXPECT_THROW(SelfOrganizingMap().Train(MakeSet({{0, {1.0}}})), std::logic_error);
}

}  // namespace
}  // namespace velkar::patternrecognition
