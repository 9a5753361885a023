#include "velkar/patternrecognition/SelfOrganizingMap.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
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

// Hexagonal distance in axial coordinates q = row - column / 2, r = column.
int AxialDistance(int row1, int column1, int row2, int column2) {
    const int dq = (row2 - column2 / 2) - (row1 - column1 / 2);
    const int dr = column2 - column1;
    return (std::abs(dq) + std::abs(dr) + std::abs(dq + dr)) / 2;
}

int NeuronDistance(int k1, int k2, int lattice) {
    return AxialDistance(k1 / lattice, k1 % lattice, k2 / lattice, k2 % lattice);
}

int BestMatch(const Rows& weights, const std::vector<double>& input) {
    double best = 268435456.0;
    int winner = 0;
    for (std::size_t k = 0; k < weights.size(); ++k) {
        double sum = 0.0;
        for (std::size_t i = 0; i < input.size(); ++i) {
            sum += (input[i] - weights[k][i]) * (input[i] - weights[k][i]);
        }
        if (std::sqrt(sum) < best) {
            best = std::sqrt(sum);
            winner = static_cast<int>(k);
        }
    }
    return winner;
}

// The neighbour vote walked over every neuron of the lattice.
int ReferenceClassify(const Rows& weights, const std::vector<int>& classes,
                      const std::set<int>& tagged, int lattice, const std::vector<double>& input) {
    const int winner = BestMatch(weights, input);
    std::map<int, double> scores;
    double best = 0.0;
    int answer = -1;
    for (std::size_t k = 0; k < weights.size(); ++k) {
        const int d = NeuronDistance(winner, static_cast<int>(k), lattice);
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

struct Lattice {
    int size;
    Rows weights;
    std::vector<int> classes;
};

// Training written out step by step, drawing from the library's random source in the same order
// (the weights in the constructor, then one pattern per step) after seeding it.
Lattice ReferenceTraining(int size, int dimension, double radiusFactor, double rate, int iterations,
                          const PatternSet& set, unsigned seed) {
    util::Seed(seed);
    Lattice lattice{size, Rows(size * size, std::vector<double>(dimension)),
                    std::vector<int>(size * size, -1)};
    for (auto& neuron : lattice.weights) {
        for (double& weight : neuron) weight = util::RandomReal() * 2.0 - 1.0;
    }
    const double sigma0 = size * radiusFactor;
    const double lambda = std::log(sigma0) > 0.0 ? iterations / std::log(sigma0)
                                                 : std::numeric_limits<double>::infinity();
    for (int n = 1; n <= iterations; ++n) {
        Pattern& pattern = *(*set)[util::RandomIndex(set->size())];
        const std::vector<double>& x = *pattern.Descriptors();
        const int winner = BestMatch(lattice.weights, x);
        lattice.classes[winner] = pattern.Class();
        const double sigma = sigma0 * std::exp(-n / lambda);
        const double eta = rate * std::exp(-n / lambda);
        for (int k = 0; k < size * size; ++k) {
            const double d = NeuronDistance(winner, k, size);
            if (d < sigma) {
                for (int i = 0; i < dimension; ++i) {
                    lattice.weights[k][i] += (x[i] - lattice.weights[k][i]) *
                                             std::exp(-d * d / (2 * sigma * sigma)) * eta;
                }
            }
        }
    }
    return lattice;
}

std::shared_ptr<util::Map> TreeOf(const Lattice& lattice,
                                  const std::vector<std::pair<int, int>>& tagged) {
    auto tree = std::make_shared<util::Map>();
    tree->Put("lattice_size", new int(lattice.size));
    tree->Put("problem_dimension", new int(static_cast<int>(lattice.weights[0].size())));
    auto* nodes = new util::Array();
    tree->Put("nodes", nodes);
    for (std::size_t k = 0; k < lattice.weights.size(); ++k) {
        auto* node = new util::Map();
        nodes->Add(node);
        node->Put("class", new int(lattice.classes[k]));
        node->Put("weights", RealArray(lattice.weights[k]));
    }
    tree->Put("tagged_classes", TaggedArray(tagged));
    return tree;
}

TEST(SelfOrganizingMap, DistanceIsTheHexagonalLatticeDistance) {
    for (int k1 = 0; k1 < 36; ++k1) {
        int neighbours = 0;
        for (int k2 = 0; k2 < 36; ++k2) {
            const double d = SelfOrganizingMap::Distance(k1 / 6, k1 % 6, k2 / 6, k2 % 6);
            ASSERT_EQ(d, NeuronDistance(k1, k2, 6)) << k1 << " " << k2;
            EXPECT_EQ(d, SelfOrganizingMap::Distance(k2 / 6, k2 % 6, k1 / 6, k1 % 6));
            neighbours += d == 1.0 ? 1 : 0;
        }
        const bool interior = k1 / 6 > 0 && k1 / 6 < 5 && k1 % 6 > 0 && k1 % 6 < 5;
        if (interior) {
            EXPECT_EQ(neighbours, 6) << k1;
        }
    }
}

TEST(SelfOrganizingMap, TrainingMatchesTheStepByStepReference) {
    struct Setting {
        int size;
        double radiusFactor, rate;
        int iterations;
    };
    // The second has sigma0 = 1: the radius never shrinks and, the test being strict, only the
    // winner itself moves.
    const PatternSet set = Blobs({{0, {0.0, 0.0}}, {1, {3.0, 0.0}}, {2, {0.0, 3.0}}}, 10, 0.5, 3);
    for (const Setting& s :
         {Setting{4, 0.5, 0.3, 60}, Setting{4, 0.25, 0.5, 40}, Setting{5, 0.8, 0.1, 0}}) {
        SCOPED_TRACE(testing::Message() << "lattice " << s.size << ", factor " << s.radiusFactor);
        const Lattice expected =
            ReferenceTraining(s.size, 2, s.radiusFactor, s.rate, s.iterations, set, 21);
        util::Seed(21);
        SelfOrganizingMap map(s.size, 2, s.radiusFactor, s.rate, s.iterations);
        map.Train(set);
        const auto tree = map.Configuration();
        const auto& nodes = ArrayUnder(tree, "nodes");
        ASSERT_EQ(nodes.Size(), s.size * s.size);
        for (int k = 0; k < nodes.Size(); ++k) {
            const auto& node = dynamic_cast<const util::Map&>(*nodes.GetCollection(k));
            EXPECT_EQ(*node.GetInt("class"), expected.classes[k]) << k;
            const auto weights =
                RealsOf(dynamic_cast<const util::Array&>(*node.GetCollection("weights")));
            for (int i = 0; i < 2; ++i) {
                EXPECT_NEAR(weights[i], expected.weights[k][i], 1e-12) << k;
            }
        }
        if (s.iterations == 0) {
            // No neuron ever won: nothing can be named.
            EXPECT_EQ(ClassifyAll(map, Grid(2, -1.0, 4.0, 5)), std::vector<int>(36, -1));
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
        Lattice lattice{size, Rows(size * size, std::vector<double>(2)),
                        std::vector<int>(size * size)};
        for (int k = 0; k < size * size; ++k) {
            lattice.weights[k] = {uniform(engine), uniform(engine)};
            lattice.classes[k] = classChoices[engine() % 6];
        }
        SelfOrganizingMap map;
        map.SetConfiguration(TreeOf(lattice, {{0, 0}, {1, 1}, {2, 2}}));
        for (int probe = 0; probe < 50; ++probe) {
            std::vector<double> input{1.2 * uniform(engine), 1.2 * uniform(engine)};
            const int expected =
                ReferenceClassify(lattice.weights, lattice.classes, {0, 1, 2}, size, input);
            ASSERT_EQ(map.Classify(input), expected) << "trial " << trial;
            answers.insert(expected);
            outvoted += expected != lattice.classes[BestMatch(lattice.weights, input)] ? 1 : 0;
        }
    }
    // Unknown answers and winners outvoted by their neighbours both occurred.
    EXPECT_EQ(answers, (std::set<int>{-1, 0, 1, 2}));
    EXPECT_GT(outvoted, 0);
}

TEST(SelfOrganizingMap, LearnsThreeBlobsAndRestoresFromJson) {
    const Centres blobs{{0, {0.0, 0.0}}, {1, {5.0, 0.0}}, {2, {0.0, 5.0}}};
    util::Seed(22);
    SelfOrganizingMap trained(6, 2, 0.5, 0.5, 3000);
    SelfOrganizingMap fresh;
    ExpectLearnsBlobsAndRestores(trained, fresh, blobs, 0.7, -3.0, 8.0);
    EXPECT_EQ(trained.Name(), "Self Organizing Map");
    EXPECT_EQ(trained.FileExtension(), "som");
}

TEST(SelfOrganizingMap, MalformedTreesAreRejectedByName) {
    const Lattice lattice{2, {{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}, {1.0, 1.0}}, {4, 6, -1, 4}};
    const auto good = [&] { return TreeOf(lattice, {{4, 0}, {6, 1}}); };
    SelfOrganizingMap map;
    map.SetConfiguration(good());
    EXPECT_EQ(map.InputSize(), 2);
    const Rows probes{{0.1, 0.0}, {0.9, 0.1}, {0.0, 0.9}};
    const auto reject = [&](const std::shared_ptr<util::Collection>& tree, const std::string& key) {
        SCOPED_TRACE(key);
        ExpectRejectedNaming(
            map, [&] { map.SetConfiguration(tree); }, key, probes);
    };
    for (const std::string key : {"lattice_size", "problem_dimension", "nodes", "tagged_classes"}) {
        reject(Without(good(), key), key);
    }
    Lattice changed = lattice;
    changed.size = 3;
    reject(TreeOf(changed, {{4, 0}}), "nodes");
    changed = lattice;
    changed.weights[3].push_back(2.0);
    reject(TreeOf(changed, {{4, 0}}), "nodes[3].weights");
    changed = lattice;
    changed.weights[1][1] = std::numeric_limits<double>::infinity();
    reject(TreeOf(changed, {{4, 0}}), "nodes[1].weights[1]");
    reject(TreeOf(lattice, {}), "tagged_classes");
    auto tree = good();
    tree->Put("lattice_size", new int(0));
    reject(tree, "lattice_size");
}

TEST(SelfOrganizingMap, RejectsUnusableSettingsAndInputs) {
    // Lattice size x radius factor below 1 would make the time constant negative.
    EXPECT_THROW(SelfOrganizingMap(4, 2, 0.2, 0.5, 10), std::invalid_argument);
    EXPECT_NO_THROW(SelfOrganizingMap(4, 2, 0.25, 0.5, 10));
    EXPECT_THROW(SelfOrganizingMap(0, 2, 1.0, 0.5, 10), std::invalid_argument);
    EXPECT_THROW(SelfOrganizingMap(3, 0, 1.0, 0.5, 10), std::invalid_argument);
    EXPECT_THROW(SelfOrganizingMap(3, 2, 1.0, 0.5, -1), std::invalid_argument);
    EXPECT_THROW(SelfOrganizingMap(3, 2, std::nan(""), 0.5, 10), std::invalid_argument);

    SelfOrganizingMap map(3, 2, 1.0, 0.5, 10);
    std::vector<double> features{1.0, 2.0};
    EXPECT_THROW(map.Classify(features), std::logic_error);
    EXPECT_THROW(map.Configuration(), std::logic_error);
    auto unlabelled = std::make_shared<PatternList>();
    unlabelled->push_back(MakePattern(-1, {1.0, 2.0}));
    EXPECT_THROW(map.Train(unlabelled), std::invalid_argument);
    auto longer = std::make_shared<PatternList>();
    longer->push_back(MakePattern(0, {1.0, 2.0, 3.0}));
    EXPECT_THROW(map.Train(longer), std::invalid_argument);
    EXPECT_THROW(SelfOrganizingMap().Train(longer), std::logic_error);
}

}  // namespace
}  // namespace velkar::patternrecognition
