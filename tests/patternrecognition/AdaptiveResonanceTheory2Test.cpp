#include "velkar/patternrecognition/AdaptiveResonanceTheory2.h"

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "patternrecognition/NetworkClassifierTestSupport.h"
#include "velkar/util/Json.h"

namespace velkar::patternrecognition {
namespace {

using namespace classifiertest;

constexpr double eps = std::numeric_limits<double>::epsilon();

std::vector<double> Normalised(const std::vector<double>& values) {
    double sum = 0.0;
    for (double value : values) {
        sum += value * value;
    }
    std::vector<double> result;
    for (double value : values) {
        result.push_back(value / (eps + std::sqrt(sum)));
    }
    return result;
}

// ART2 written from its description, one field at a time: the search re-applies the input after
// every reset and re-runs the whole competition among the neurons not reset yet.
struct ReferenceArt2 {
    std::size_t m, n;
    double a, b, c, d, theta, rho;
    Rows topDown;   // [unit][neuron]
    Rows bottomUp;  // [neuron][unit]
    Rows votes;
    std::map<int, int> tagged;
    std::vector<double> U, P;

    ReferenceArt2(int m, int n, double a, double b, double c, double d, double theta, double rho)
        : m(m),
          n(n),
          a(a),
          b(b),
          c(c),
          d(d),
          theta(theta),
          rho(rho),
          topDown(m, std::vector<double>(n, 0.0)),
          bottomUp(n, std::vector<double>(m, 1.0 / ((1.0 - d) * std::sqrt(m)))) {}

    double F(double x) const { return x > theta ? x : 0.0; }

    void ApplyInput(const std::vector<double>& input) {
        std::vector<double> W(m), V(m), Q(m, 0.0), layer1(m, 0.0);
        U.assign(m, 0.0);
        for (int pass = 0; pass < 2; ++pass) {
            for (std::size_t i = 0; i < m; ++i) W[i] = input[i] + a * U[i];
            const std::vector<double> X = Normalised(W);
            for (std::size_t i = 0; i < m; ++i) V[i] = F(X[i]) + b * F(Q[i]);
            U = Normalised(V);
            P = U;
            for (std::size_t i = 0; i < m; ++i) P[i] += layer1[i];
            Q = Normalised(P);
        }
    }

    int Search(const std::vector<double>& input) {
        std::vector<bool> reset(n, false);
        for (;;) {
            ApplyInput(input);
            int winner = -1;
            double best = -100000.0;
            for (std::size_t j = 0; j < n; ++j) {
                double activation = 0.0;
                for (std::size_t i = 0; i < m; ++i) activation += P[i] * bottomUp[j][i];
                if (!reset[j] && activation > best) {
                    best = activation;
                    winner = static_cast<int>(j);
                }
            }
            if (winner < 0) return -1;
            std::vector<double> p(m), r(m);
            for (std::size_t i = 0; i < m; ++i) p[i] = U[i] + topDown[i][winner];
            double uNorm = 0.0, pNorm = 0.0, rNorm = 0.0;
            for (std::size_t i = 0; i < m; ++i) uNorm += U[i] * U[i];
            for (std::size_t i = 0; i < m; ++i) pNorm += p[i] * p[i];
            for (std::size_t i = 0; i < m; ++i)
                r[i] = (U[i] + c * p[i]) / (eps + std::sqrt(uNorm) + c * std::sqrt(pNorm));
            for (std::size_t i = 0; i < m; ++i) rNorm += r[i] * r[i];
            if (rho / (eps + std::sqrt(rNorm)) <= 1.0) return winner;
            reset[winner] = true;
        }
    }

    void Train(const PatternSet& set) {
        for (const auto& pattern : *set) tagged.emplace(pattern->Class(), tagged.size());
        votes.assign(n, std::vector<double>(tagged.size(), 0.0));
        for (int pass = 0; pass < 2; ++pass) {
            for (const auto& pattern : *set) {
                const int J = Search(*pattern->Descriptors());
                if (J < 0) continue;
                votes[J][tagged[pattern->Class()]] += 1.0;
                for (std::size_t i = 0; i < m; ++i) {
                    bottomUp[J][i] = topDown[i][J] = U[i] / (1.0 - d);
                }
            }
        }
    }

    int Classify(const std::vector<double>& input) {
        const int J = Search(input);
        if (J < 0) return -1;
        double best = -1.0;
        int answer = -1;
        for (const auto& [classId, index] : tagged) {
            if (votes[J][index] > best) {
                best = votes[J][index];
                answer = classId;
            }
        }
        return answer;
    }
};

// Patterns around a few random directions (some components negative, so the threshold cuts
// them), with zero vectors among them, which no neuron accepts once rho > 0.
PatternSet DirectionalPatterns(int m, int count, unsigned seed) {
    std::mt19937 engine(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    Rows directions(4, std::vector<double>(m));
    for (auto& direction : directions) {
        for (double& value : direction) value = noise(engine) + 1.0;
    }
    auto set = std::make_shared<PatternList>();
    for (int k = 0; k < count; ++k) {
        std::vector<double> features(m, 0.0);
        if (k % 9 != 4) {
            const auto& direction = directions[engine() % directions.size()];
            for (int i = 0; i < m; ++i) features[i] = direction[i] + 0.3 * noise(engine);
        }
        set->push_back(MakePattern(static_cast<int>(engine() % 3) * 2, features));
    }
    return set;
}

TEST(AdaptiveResonanceTheory2, MatchesTheFieldByFieldReference) {
    struct Setting {
        int n;
        double theta, rho;
    };
    for (const Setting& s : {Setting{1, 0.0, 0.0}, Setting{5, 0.1, 0.9}, Setting{6, 0.2, 0.98},
                             Setting{8, 0.0, 0.995}, Setting{3, 0.3, 1.0}}) {
        SCOPED_TRACE(testing::Message() << "n " << s.n << ", rho " << s.rho);
        const PatternSet set = DirectionalPatterns(4, 40, static_cast<unsigned>(s.n));
        AdaptiveResonanceTheory2 network(4, s.n, 10.0, 10.0, 0.1, 0.9, s.theta, s.rho);
        ReferenceArt2 reference(4, s.n, 10.0, 10.0, 0.1, 0.9, s.theta, s.rho);
        network.Train(set);
        reference.Train(set);
        const auto tree = network.Configuration();
        EXPECT_EQ(RowsOf(ArrayUnder(tree, "layer1_weights")), reference.topDown);
        EXPECT_EQ(RowsOf(ArrayUnder(tree, "layer2_weights")), reference.bottomUp);
        EXPECT_EQ(RowsOf(ArrayUnder(tree, "neuron_class_votes")), reference.votes);
        // Every presentation either votes once or is counted as unresolved.
        double voteCount = 0.0;
        for (const auto& row : reference.votes) {
            for (double vote : row) voteCount += vote;
        }
        EXPECT_EQ(voteCount + network.UnresolvedPresentations(), 2.0 * set->size());
        if (s.rho == 0.0) {
            EXPECT_EQ(network.UnresolvedPresentations(), 0);
        }
        const PatternSet probes = DirectionalPatterns(4, 60, 100 + s.n);
        for (const auto& pattern : *probes) {
            std::vector<double> features = *pattern->Descriptors();
            EXPECT_EQ(network.Classify(features), reference.Classify(features));
        }
    }
}

TEST(AdaptiveResonanceTheory2, LearnsThreeDirectionsAndRestoresFromJson) {
    const Centres blobs{{0, {5.0, 1.0, 1.0}}, {1, {1.0, 5.0, 1.0}}, {2, {1.0, 1.0, 5.0}}};
    AdaptiveResonanceTheory2 trained(3, 10, 10.0, 10.0, 0.1, 0.9, 0.1, 0.95);
    AdaptiveResonanceTheory2 fresh;
    ExpectLearnsBlobsAndRestores(trained, fresh, blobs, 0.6, -1.0, 7.0);
    EXPECT_EQ(trained.Name(), "Adaptive Resonance Theory 2");
    EXPECT_EQ(trained.FileExtension(), "art2");
}

TEST(AdaptiveResonanceTheory2, ClassifyingLeavesTheNetworkAsItWas) {
    const PatternSet set = DirectionalPatterns(4, 40, 7);
    AdaptiveResonanceTheory2 network(4, 6, 10.0, 10.0, 0.1, 0.9, 0.1, 0.98);
    network.Train(set);
    const util::Json json;
    const std::string before = json.Serialize(network.Configuration().get());
    std::vector<int> first, second;
    for (std::vector<int>* answers : {&first, &second}) {
        for (const auto& pattern : *set) {
            std::vector<double> features = *pattern->Descriptors();
            answers->push_back(network.Classify(features));
        }
    }
    EXPECT_EQ(first, second);
    EXPECT_EQ(json.Serialize(network.Configuration().get()), before);
}

TEST(AdaptiveResonanceTheory2, ASearchWithoutResonanceEndsWithoutAnAnswer) {
    // The only neuron, committed to the first axis, cannot accept the second axis at rho 0.999:
    // that pattern is refused in both passes and classifies as unknown.
    auto set = std::make_shared<PatternList>();
    set->push_back(MakePattern(3, {1.0, 0.0}));
    set->push_back(MakePattern(5, {0.0, 1.0}));
    AdaptiveResonanceTheory2 network(2, 1, 10.0, 10.0, 0.1, 0.9, 0.0, 0.999);
    network.Train(set);
    EXPECT_EQ(network.UnresolvedPresentations(), 2);
    EXPECT_EQ(RowsOf(ArrayUnder(network.Configuration(), "neuron_class_votes")),
              (Rows{{2.0, 0.0}}));
    std::vector<double> along{2.0, 0.0}, across{0.0, 1.0};
    EXPECT_EQ(network.Classify(along), 3);
    EXPECT_EQ(network.Classify(across), -1);
}

// Two units, two neurons that prefer one axis each; class 9 has index 0, class 4 index 1.
std::shared_ptr<util::Map> HandTree() {
    auto tree = std::make_shared<util::Map>();
    auto* sizes = new util::Array();
    for (int size : {2, 2, 2}) sizes->Add(new int(size));
    tree->Put("layer_sizes", sizes);
    tree->Put("layer1_weights", RowArray({{0.0, 0.0}, {0.0, 0.0}}));
    tree->Put("layer2_weights", RowArray({{2.0, 0.0}, {0.0, 2.0}}));
    tree->Put("layer1_modifier", new double(1.0));
    tree->Put("layer2_modifier", new double(0.0));
    for (const char* key : {"a_const", "b_const"}) tree->Put(key, new double(10.0));
    tree->Put("c_const", new double(0.1));
    tree->Put("d_const", new double(0.9));
    tree->Put("theta", new double(0.0));
    tree->Put("rho", new double(0.0));
    tree->Put("tagged_classes", TaggedArray({{4, 1}, {9, 0}}));
    tree->Put("neuron_class_votes", RowArray({{5.0, 3.0}, {0.0, 0.0}}));
    return tree;
}

TEST(AdaptiveResonanceTheory2, VotesDecideAndAnUnvotedNeuronGivesTheLowestClass) {
    AdaptiveResonanceTheory2 network;
    network.SetConfiguration(HandTree());
    EXPECT_EQ(network.InputSize(), 2);
    std::vector<double> first{1.0, 0.2}, second{0.2, 1.0};
    EXPECT_EQ(network.Classify(first), 9);
    EXPECT_EQ(network.Classify(second), 4);
}

TEST(AdaptiveResonanceTheory2, MalformedTreesAreRejectedByName) {
    AdaptiveResonanceTheory2 network;
    network.SetConfiguration(HandTree());
    const Rows probes{{1.0, 0.2}, {0.2, 1.0}};
    const auto reject = [&](const std::shared_ptr<util::Collection>& tree, const std::string& key) {
        SCOPED_TRACE(key);
        ExpectRejectedNaming(
            network, [&] { network.SetConfiguration(tree); }, key, probes);
    };
    const auto complete = HandTree();
    for (const auto& [key, item] : complete->Items()) {
        reject(Without(HandTree(), key), key);
    }
    const auto with = [](const std::string& key, util::Collection* value) {
        auto tree = HandTree();
        tree->Put(key, value);
        return tree;
    };
    const auto withReal = [](const std::string& key, double value) {
        auto tree = HandTree();
        tree->Put(key, new double(value));
        return tree;
    };
    reject(withReal("rho", 1.5), "rho");
    reject(withReal("d_const", 1.0), "d_const");
    reject(withReal("theta", -0.1), "theta");
    reject(withReal("a_const", std::nan("")), "a_const");
    reject(with("layer_sizes", RealArray({2.0, 2.0, 2.0})), "layer_sizes[0]");
    auto* sizes = new util::Array();
    for (int size : {3, 2, 2}) sizes->Add(new int(size));
    reject(with("layer_sizes", sizes), "layer_sizes[0]");
    reject(with("layer1_weights", RowArray({{0.0, 0.0}})), "layer1_weights");
    reject(with("layer2_weights", RowArray({{2.0, 0.0}, {0.0}})), "layer2_weights[1]");
    reject(with("neuron_class_votes", RowArray({{5.0}, {0.0}})), "neuron_class_votes[0]");
    reject(with("tagged_classes", TaggedArray({})), "tagged_classes");
}

TEST(AdaptiveResonanceTheory2, RejectsBadSettingsAndInputs) {
    const double nan = std::nan("");
    EXPECT_THROW(AdaptiveResonanceTheory2(0, 3, 10, 10, 0.1, 0.9, 0.1, 0.9), std::invalid_argument);
    EXPECT_THROW(AdaptiveResonanceTheory2(2, 0, 10, 10, 0.1, 0.9, 0.1, 0.9), std::invalid_argument);
    EXPECT_THROW(AdaptiveResonanceTheory2(2, 3, 10, 10, 0.1, 1.0, 0.1, 0.9), std::invalid_argument);
    EXPECT_THROW(AdaptiveResonanceTheory2(2, 3, 10, 10, 0.1, -0.1, 0.1, 0.9),
                 std::invalid_argument);
    EXPECT_THROW(AdaptiveResonanceTheory2(2, 3, 10, 10, 0.1, 0.9, -0.1, 0.9),
                 std::invalid_argument);
    EXPECT_THROW(AdaptiveResonanceTheory2(2, 3, 10, 10, 0.1, 0.9, 0.1, 1.1), std::invalid_argument);
    EXPECT_THROW(AdaptiveResonanceTheory2(2, 3, nan, 10, 0.1, 0.9, 0.1, 0.9),
                 std::invalid_argument);
    EXPECT_NO_THROW(AdaptiveResonanceTheory2(2, 3, 10, 10, 0.1, 0.0, 0.0, 1.0));

    AdaptiveResonanceTheory2 network(2, 3, 10, 10, 0.1, 0.9, 0.1, 0.9);
    std::vector<double> features{1.0, 2.0};
    EXPECT_THROW(network.Classify(features), std::logic_error);
    EXPECT_THROW(network.Configuration(), std::logic_error);
    EXPECT_THROW(network.Train(DirectionalPatterns(3, 5, 1)), std::invalid_argument);
    EXPECT_THROW(AdaptiveResonanceTheory2().Train(DirectionalPatterns(2, 5, 1)), std::logic_error);
}

}  // namespace
}  // namespace velkar::patternrecognition
