#include "velkar/patternrecognition/AdaptiveResonanceTheory2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "patternrecognition/NetworkClassifierTestSupport.h"

namespace velkar::patternrecognition {
namespace {

using namespace classifiertest;

constexpr double eps = std::numeric_limits<double>::epsilon();

double Norm(const std::vector<double>& values) {
    double sum = 0.0;
    for (double value : values) sum += value * value;
    return std::sqrt(sum);
}

std::vector<double> Normalised(const std::vector<double>& values) {
    std::vector<double> result;
    for (double value : values) result.push_back(value / (eps + Norm(values)));
    return result;
}

// ART2 written from its description one field at a time: after every reset the input is applied
// again and the whole competition re-run among the neurons not reset yet.
struct ReferenceArt2 {
    std::size_t m, n;
    double a, b, c, d, theta, rho;
    Rows topDown, bottomUp, votes;  // [unit][neuron], [neuron][unit], [neuron][class index]
    std::map<int, int> tagged;
    std::vector<double> U, P;

    double F(double x) const { return x > theta ? x : 0.0; }

    void ApplyInput(const std::vector<double>& input) {
        std::vector<double> W(m), V(m), Q(m, 0.0), layer1(m, 0.0);
        U.assign(m, 0.0);
        for (int pass = 0; pass < 2; ++pass) {
            for (std::size_t i = 0; i < m; ++i) W[i] = input[i] + a * U[i];
            const std::vector<double> X = Normalised(W);
            for (std::size_t i = 0; i < m; ++i) V[i] = F(X[i]) + b * F(Q[i]);
            U = Normalised(V);
            for (std::size_t i = 0; i < m; ++i) P[i] = U[i] + layer1[i];
            Q = Normalised(P);
        }
    }

    int Search(const std::vector<double>& input) {
        std::vector<bool> reset(n, false);
        for (;;) {
            ApplyInput(input);
            int J = -1;
            double best = -100000.0;
            for (std::size_t j = 0; j < n; ++j) {
                double activation = 0.0;
                for (std::size_t i = 0; i < m; ++i) activation += P[i] * bottomUp[j][i];
                if (!reset[j] && activation > best) {
                    best = activation;
                    J = static_cast<int>(j);
                }
            }
            if (J < 0) return -1;
            std::vector<double> p(m), r(m);
            for (std::size_t i = 0; i < m; ++i) p[i] = U[i] + topDown[i][J];
            for (std::size_t i = 0; i < m; ++i)
                r[i] = (U[i] + c * p[i]) / (eps + Norm(U) + c * Norm(p));
            if (rho / (eps + Norm(r)) <= 1.0) return J;
            reset[J] = true;
        }
    }

    void Train(const PatternSet& set) {
        topDown.assign(m, std::vector<double>(n, 0.0));
        bottomUp.assign(n, std::vector<double>(m, 1.0 / ((1.0 - d) * std::sqrt(double(m)))));
        P.assign(m, 0.0);
        for (const auto& pattern : *set) tagged.emplace(pattern->Class(), tagged.size());
        votes.assign(n, std::vector<double>(tagged.size(), 0.0));
        for (int pass = 0; pass < 2; ++pass) {
            for (const auto& pattern : *set) {
                const int J = Search(*pattern->Descriptors());
                if (J < 0) continue;
                votes[J][tagged[pattern->Class()]] += 1.0;
                for (std::size_t i = 0; i < m; ++i)
                    bottomUp[J][i] = topDown[i][J] = U[i] / (1.0 - d);
            }
        }
    }

    int Classify(const std::vector<double>& input) {
        const int J = Search(input);
        double best = -1.0;
        int answer = -1;
        for (const auto& [classId, index] : tagged) {
            if (J >= 0 && votes[J][index] > best) {
                best = votes[J][index];
                answer = classId;
            }
        }
        return answer;
    }
};

// Patterns around four random directions (some components negative, so the threshold cuts them)
// in three classes, every ninth a zero vector, which no uncommitted neuron accepts once rho > 0.
PatternSet DirectionalPatterns(int count, unsigned seed) {
    std::mt19937 engine(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    Rows directions(4, std::vector<double>(4));
    for (auto& direction : directions) {
        for (double& value : direction) value = noise(engine) + 1.0;
    }
    Samples samples;
    for (int k = 0; k < count; ++k) {
        std::vector<double> features(4, 0.0);
        const auto& direction = directions[engine() % 4];
        for (int i = 0; i < 4 && k % 9 != 4; ++i) features[i] = direction[i] + 0.3 * noise(engine);
        samples.emplace_back(static_cast<int>(engine() % 3) * 2, features);
    }
    return MakeSet(samples);
}

TEST(AdaptiveResonanceTheory2, MatchesTheFieldByFieldReference) {
    for (const auto& [n, theta, rho] :
         {std::tuple{1, 0.0, 0.0}, std::tuple{5, 0.1, 0.9}, std::tuple{6, 0.2, 0.98},
          std::tuple{8, 0.0, 0.995}, std::tuple{3, 0.3, 1.0}}) {
        SCOPED_TRACE(testing::Message() << "n " << n << ", rho " << rho);
        const PatternSet set = DirectionalPatterns(40, n);
        AdaptiveResonanceTheory2 network(4, n, 10.0, 10.0, 0.1, 0.9, theta, rho);
        ReferenceArt2 reference{
            4, std::size_t(n), 10.0, 10.0, 0.1, 0.9, theta, rho, {}, {}, {}, {}, {}, {}};
        network.Train(set);
        reference.Train(set);
        const PatternSet probes = DirectionalPatterns(60, 100 + n);
        for (const auto& pattern : *probes) {
            EXPECT_EQ(network.Classify(*pattern->Descriptors()),
                      reference.Classify(*pattern->Descriptors()));
        }
        // Classifying learned nothing: the weights are those of the reference's training.
        const auto tree = network.Configuration();
        EXPECT_EQ(RowsOf(ArrayUnder(tree, "layer1_weights")), reference.topDown);
        EXPECT_EQ(RowsOf(ArrayUnder(tree, "layer2_weights")), reference.bottomUp);
        EXPECT_EQ(RowsOf(ArrayUnder(tree, "neuron_class_votes")), reference.votes);
        // Every presentation of the two passes votes once or is counted as unresolved.
        double voteCount = network.UnresolvedPresentations();
        for (const auto& row : reference.votes) {
            for (double vote : row) voteCount += vote;
        }
        EXPECT_EQ(voteCount, 2.0 * set->size());
        EXPECT_TRUE(rho > 0.0 || network.UnresolvedPresentations() == 0);
    }
}

TEST(AdaptiveResonanceTheory2, LearnsThreeDirectionsAndRestoresFromJson) {
    const Samples centres{{0, {5.0, 1.0, 1.0}}, {1, {1.0, 5.0, 1.0}}, {2, {1.0, 1.0, 5.0}}};
    AdaptiveResonanceTheory2 trained(3, 10, 10.0, 10.0, 0.1, 0.9, 0.1, 0.95), fresh;
    ExpectLearnsBlobsAndRestores(trained, fresh, centres, 0.6, -1.0, 7.0);
}

TEST(AdaptiveResonanceTheory2, ASearchWithoutResonanceEndsWithoutAnAnswer) {
    // The only neuron, committed to the first axis, cannot accept the second axis at rho 0.999:
    // that pattern is refused in both passes and classifies as unknown.
    AdaptiveResonanceTheory2 network(2, 1, 10.0, 10.0, 0.1, 0.9, 0.0, 0.999);
    network.Train(MakeSet({{3, {1.0, 0.0}}, {5, {0.0, 1.0}}}));
    EXPECT_EQ(network.UnresolvedPresentations(), 2);
    EXPECT_EQ(RowsOf(ArrayUnder(network.Configuration(), "neuron_class_votes")),
              (Rows{{2.0, 0.0}}));
    EXPECT_EQ(ClassifyAll(network, {{2.0, 0.0}, {0.0, 1.0}}), (std::vector<int>{3, -1}));
}

TEST(AdaptiveResonanceTheory2, TiedAndMissingVotesGiveTheLowestClass) {
    // Both patterns resonate with neuron 0 (two votes each); neuron 1 stays without votes and
    // takes the second axis.
    AdaptiveResonanceTheory2 network(2, 2, 10.0, 10.0, 0.1, 0.9, 0.0, 0.999);
    network.Train(MakeSet({{5, {1.0, 0.0}}, {3, {1.0, 0.01}}}));
    EXPECT_EQ(RowsOf(ArrayUnder(network.Configuration(), "neuron_class_votes")),
              (Rows{{2.0, 2.0}, {0.0, 0.0}}));  // class 5 has index 0
    EXPECT_EQ(ClassifyAll(network, {{1.0, 0.0}, {0.0, 1.0}}), (std::vector<int>{3, 3}));
}

TEST(AdaptiveResonanceTheory2, RefusesMalformedTreesBadSettingsAndMisuse) {
    AdaptiveResonanceTheory2 network(4, 5, 10.0, 10.0, 0.1, 0.9, 0.1, 0.9);
    network.Train(DirectionalPatterns(30, 3));
    const auto tree = std::dynamic_pointer_cast<Map>(network.Configuration());
    const Rows probes = Grid(4, -1.0, 2.0, 100);
    for (const auto& [key, item] : tree->Items()) {
        ExpectRejectedNaming(network, Without(tree, key), key, probes);
    }
    for (const auto& [key, value] : std::vector<std::pair<std::string, double>>{
             {"rho", 1.5}, {"d_const", 1.0}, {"theta", -0.1}, {"a_const", std::nan("")}}) {
        auto changed = Without(tree, key);
        changed->Put(key, new double(value));
        ExpectRejectedNaming(network, changed, key, probes);
    }
    auto changed = Without(tree, "layer2_weights");
    changed->Put("layer2_weights", RowArray(Rows(5, {1.0, 1.0, 1.0})));
    ExpectRejectedNaming(network, changed, "layer2_weights[0]", probes);

    EXPECT_THROW(AdaptiveResonanceTheory2(2, 0, 10, 10, 0.1, 0.9, 0.1, 0.9), std::invalid_argument);
    EXPECT_THROW(AdaptiveResonanceTheory2(2, 3, 10, 10, 0.1, 1.0, 0.1, 0.9), std::invalid_argument);
    EXPECT_THROW(AdaptiveResonanceTheory2(2, 3, 10, 10, 0.1, 0.9, 0.1, 1.1), std::invalid_argument);
    EXPECT_THROW(AdaptiveResonanceTheory2(2, 3, 10, 10, 0.1, 0.9, -0.1, 0.9),
                 std::invalid_argument);
    std::vector<double> features{1.0, 2.0};
    EXPECT_THROW(AdaptiveResonanceTheory2().Classify(features), std::logic_error);
    EXPECT_THROW(AdaptiveResonanceTheory2().Train(DirectionalPatterns(5, 1)), std::logic_error);
}

}  // namespace
}  // namespace velkar::patternrecognition
