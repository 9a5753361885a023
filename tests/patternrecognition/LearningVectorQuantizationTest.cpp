#include "velkar/patternrecognition/LearningVectorQuantization.h"

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ClassifierTestSupport.h"
#include "common/TemporaryFolder.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

using classifiertest::MakeSet;
using classifiertest::Samples;
using Lvq = LearningVectorQuantization;
using Rows = std::vector<std::vector<double>>;

Rows WeightsOf(const Lvq& classifier) {
    const auto& matrix = *classifier.Weights();
    Rows rows(matrix.Rows(), std::vector<double>(matrix.Columns()));
    for (int r = 0; r < matrix.Rows(); ++r) {
        for (int c = 0; c < matrix.Columns(); ++c) {
            rows[r][c] = matrix(r, c);
        }
    }
    return rows;
}

// LVQ1 written out plainly from the same random draws: weights row by row, then one visiting
// order per epoch; neuron k stands for class k / (H / O) + 1; the last epoch moves nothing.
Rows ReferenceTraining(const Samples& samples, int hidden, int outputs, int iterations,
                       double alpha, unsigned seed) {
    util::Seed(seed);
    Rows w(hidden, std::vector<double>(samples[0].second.size()));
    for (auto& row : w) {
        for (double& value : row) {
            value = util::RandomReal();
        }
    }
    for (int epoch = 0; epoch < iterations; ++epoch) {
        for (std::size_t index : util::RandomPermutation(samples.size())) {
            const auto& [classId, x] = samples[index];
            int winner = 0;
            double best = std::numeric_limits<double>::infinity();
            for (int k = 0; k < hidden; ++k) {
                double sum = 0.0;
                for (std::size_t d = 0; d < x.size(); ++d) {
                    sum += std::pow(x[d] - w[k][d], 2);
                }
                if (std::sqrt(sum) < best) {
                    best = std::sqrt(sum);
                    winner = k;
                }
            }
            const double rate = alpha - epoch * (alpha / iterations);
            const double sign = winner / (hidden / outputs) + 1 == classId ? 1.0 : -1.0;
            for (std::size_t d = 0; d < x.size() && epoch < iterations - 1; ++d) {
                w[winner][d] += sign * rate * (x[d] - w[winner][d]);
            }
        }
    }
    return w;
}

// Three clouds inside the unit square, where the random starting prototypes lie.
Samples Clouds(int perClass, std::mt19937& engine) {
    std::normal_distribution<double> noise(0.0, 0.06);
    const Rows centres{{0.2, 0.2}, {0.8, 0.25}, {0.5, 0.8}};
    Samples samples;
    for (int i = 0; i < 3 * perClass; ++i) {
        samples.push_back(
            {i % 3 + 1, {centres[i % 3][0] + noise(engine), centres[i % 3][1] + noise(engine)}});
    }
    return samples;
}

double Accuracy(Lvq& classifier, const Samples& samples) {
    int correct = 0;
    for (auto [classId, features] : samples) {
        correct += classifier.Classify(features) == classId ? 1 : 0;
    }
    return static_cast<double>(correct) / static_cast<double>(samples.size());
}

TEST(LearningVectorQuantization, TrainingMatchesAPlainLvq1) {
    std::mt19937 engine(3);
    std::uniform_real_distribution<double> value(0.0, 2.0);
    struct Case {
        int hidden, outputs, iterations;
        double alpha;
    };
    // One iteration (the prototypes stay as drawn), H not a multiple of O, and class ids up to
    // O + 1, which push every winner away.
    for (const Case& c : {Case{2, 2, 1, 0.5}, Case{4, 2, 3, 0.3}, Case{5, 2, 4, 0.2},
                          Case{6, 3, 5, 0.1}, Case{3, 1, 2, 0.4}}) {
        Samples samples;
        for (int i = 0; i < 12; ++i) {
            samples.push_back({1 + i % (c.outputs + 1), {value(engine), value(engine)}});
        }
        const unsigned seed = static_cast<unsigned>(100 + c.hidden * 10 + c.iterations);
        const Rows expected =
            ReferenceTraining(samples, c.hidden, c.outputs, c.iterations, c.alpha, seed);
        util::Seed(seed);
        Lvq classifier(c.hidden, c.outputs, c.iterations, c.alpha);
        classifier.Train(MakeSet(samples));
        const Rows actual = WeightsOf(classifier);
        for (int k = 0; k < c.hidden; ++k) {
            EXPECT_NEAR(actual[k][0], expected[k][0], 1e-12) << c.hidden << " " << k;
            EXPECT_NEAR(actual[k][1], expected[k][1], 1e-12) << c.hidden << " " << k;
        }
    }
}

TEST(LearningVectorQuantization, UnevenBlocksAddAClassAfterTheLast) {
    // H = 5, O = 2: neurons 0-1 are class 1, 2-3 class 2, and neuron 4 a block of class 3.
    auto tree = std::make_shared<util::Map>();
    tree->Put("hidden_count", new int(5));
    tree->Put("output_count", new int(2));
    tree->Put("dimension", new int(1));
    auto* weights = new util::Array();
    tree->Put("weights", weights);
    for (int k = 0; k < 5; ++k) {
        auto* row = new util::Array();
        row->Add(new double(k));
        weights->Add(row);
    }
    Lvq classifier;
    classifier.SetConfiguration(tree);
    const std::vector<int> expected{1, 1, 2, 2, 3};
    for (int k = 0; k < 5; ++k) {
        std::vector<double> x{k + 0.2};
        EXPECT_EQ(classifier.Classify(x), expected[k]);
    }
    std::vector<double> halfway{1.5};  // the lower neuron wins a tie
    EXPECT_EQ(classifier.Classify(halfway), 1);
}

TEST(LearningVectorQuantization, LearnsInAnyOrderAndRetrainsFromTheFullRate) {
    std::mt19937 engine(12);
    const Samples training = Clouds(30, engine);
    const Samples reversed(training.rbegin(), training.rend());
    const Samples test = Clouds(30, engine);
    util::Seed(5);
    Lvq forward(6, 3, 30, 0.3);
    forward.Train(MakeSet(training));
    Lvq backward(6, 3, 30, 0.3);
    backward.Train(MakeSet(reversed));
    EXPECT_GT(Accuracy(forward, test), 0.9);
    EXPECT_NEAR(Accuracy(forward, test), Accuracy(backward, test), 0.05);

    // A second Train from the same random state learns exactly what the first did.
    util::Seed(21);
    forward.Train(MakeSet(training));
    const Rows first = WeightsOf(forward);
    util::Seed(21);
    forward.Train(MakeSet(training));
    EXPECT_EQ(WeightsOf(forward), first);
}

TEST(LearningVectorQuantization, TreeAndPrototypeFileRestoreTheModel) {
    testsupport::TemporaryFolder folder;
    std::mt19937 engine(6);
    util::Seed(6);
    Lvq trained(7, 3, 10, 0.3);
    trained.Train(MakeSet(Clouds(20, engine)));
    Lvq restored;
    restored.SetConfiguration(classifiertest::ThroughJson(trained.Configuration()));
    const std::string path = (folder / "prototypes.lvq").string();
    trained.Save(path);
    Lvq loaded;
    loaded.Load(path);
    const Rows expected = WeightsOf(trained);
    for (Lvq* copy : {&restored, &loaded}) {
        EXPECT_EQ(copy->InputSize(), 2);
        EXPECT_EQ(copy->NeuronClass(6), 4);  // 7 mod 3 leaves a block of class 4
        for (int k = 0; k < 7; ++k) {
            std::vector<double> x = expected[k];
            EXPECT_NEAR(WeightsOf(*copy)[k][0], x[0], 1e-5 * std::abs(x[0]) + 1e-12);
            EXPECT_EQ(copy->Classify(x), trained.Classify(x));
        }
    }
    // Fewer neurons than classes, in a file or a tree, changes nothing.
    classifiertest::WriteFile(path, "1 2 2\n0 0\n");
    EXPECT_NE(classifiertest::ThrownMessage([&] { loaded.Load(path); }).find("line 1"),
              std::string::npos);
    auto tree = std::dynamic_pointer_cast<util::Map>(trained.Configuration());
    tree->Put("output_count", new int(8));
    EXPECT_NE(classifiertest::ThrownMessage([&] {
                  restored.SetConfiguration(tree);
              }).find("\"output_count\""),
              std::string::npos);
    EXPECT_EQ(loaded.Weights()->Rows(), 7);
    EXPECT_EQ(restored.NeuronClass(6), 4);
}

TEST(LearningVectorQuantization, UnusableSettingsAndInputAreRejected) {
    EXPECT_THROW(Lvq(1, 2, 3, 0.1), std::invalid_argument);  // no neuron for a class
    EXPECT_THROW(Lvq(4, 0, 3, 0.1), std::invalid_argument);
    EXPECT_THROW(Lvq(4, 2, 0, 0.1), std::invalid_argument);
    EXPECT_THROW(Lvq(4, 2, 3, std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
    EXPECT_THROW(Lvq().Train(MakeSet({{1, {0.0}}})), std::logic_error);
    Lvq classifier(2, 2, 2, 0.1);
    EXPECT_THROW(classifier.Train(MakeSet({})), std::invalid_argument);
    EXPECT_THROW(classifier.Train(MakeSet({{1, {1.0}}, {2, {1.0, 2.0}}})), std::invalid_argument);
    std::vector<double> x{1.0};
    EXPECT_THROW(classifier.Classify(x), std::logic_error);
    classifier.Train(MakeSet({{1, {1.0}}, {2, {3.0}}}));
    std::vector<double> wrong{1.0, 2.0};
    EXPECT_THROW(classifier.Classify(wrong), std::invalid_argument);
}

}  // namespace
}  // namespace velkar::patternrecognition
