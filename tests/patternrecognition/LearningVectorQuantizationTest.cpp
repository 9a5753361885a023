#include "velkar/patternrecognition/LearningVectorQuantization.h"

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TemporaryFolder.h"
#include "velkar/util/Array.h"
#include "velkar/util/Json.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

using Rows = std::vector<std::vector<double>>;
using Lvq = LearningVectorQuantization;

struct Sample {
    int classId;
    std::vector<double> features;
};

PatternSet MakeSet(const std::vector<Sample>& samples) {
    auto set = std::make_shared<PatternList>();
    for (const Sample& sample : samples) {
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(sample.classId);
        pattern->SetDescriptors(sample.features);
        set->push_back(pattern);
    }
    return set;
}

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

// LVQ1 written out plainly from the same random draws: weights row by row, then one random
// visiting order per epoch; the winner's class is winner / (H / O) + 1.
Rows ReferenceTraining(const std::vector<Sample>& samples, int hidden, int outputs, int iterations,
                       double alpha, unsigned seed) {
    util::Seed(seed);
    const std::size_t dimension = samples[0].features.size();
    Rows w(hidden, std::vector<double>(dimension));
    for (auto& row : w) {
        for (double& value : row) {
            value = util::RandomReal();
        }
    }
    const int perClass = hidden / outputs;
    for (int epoch = 0; epoch < iterations; ++epoch) {
        const double rate = alpha - epoch * (alpha / iterations);
        for (std::size_t index : util::RandomPermutation(samples.size())) {
            const Sample& sample = samples[index];
            int winner = 0;
            double best = std::numeric_limits<double>::infinity();
            for (int k = 0; k < hidden; ++k) {
                double sum = 0.0;
                for (std::size_t d = 0; d < dimension; ++d) {
                    sum += std::pow(sample.features[d] - w[k][d], 2);
                }
                if (std::sqrt(sum) < best) {
                    best = std::sqrt(sum);
                    winner = k;
                }
            }
            if (epoch == iterations - 1) {
                continue;
            }
            const double sign = winner / perClass + 1 == sample.classId ? 1.0 : -1.0;
            for (std::size_t d = 0; d < dimension; ++d) {
                w[winner][d] += sign * rate * (sample.features[d] - w[winner][d]);
            }
        }
    }
    return w;
}

// Three clouds inside the unit square, where the random starting prototypes lie.
std::vector<Sample> Blobs(int perClass, std::mt19937& engine) {
    std::normal_distribution<double> noise(0.0, 0.06);
    const std::vector<std::vector<double>> centres{{0.2, 0.2}, {0.8, 0.25}, {0.5, 0.8}};
    std::vector<Sample> samples;
    for (int i = 0; i < perClass; ++i) {
        for (int c = 1; c <= 3; ++c) {
            samples.push_back(
                {c, {centres[c - 1][0] + noise(engine), centres[c - 1][1] + noise(engine)}});
        }
    }
    return samples;
}

double Accuracy(Lvq& classifier, const std::vector<Sample>& samples) {
    int correct = 0;
    for (Sample sample : samples) {
        correct += classifier.Classify(sample.features) == sample.classId ? 1 : 0;
    }
    return static_cast<double>(correct) / static_cast<double>(samples.size());
}

std::string ThrownMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "<nothing thrown>";
}

TEST(LearningVectorQuantization, DescribesItselfAndRejectsUnusableSettings) {
    Lvq classifier(4, 2, 3, 0.1);
    EXPECT_EQ(classifier.Name(), "Learning Vector Quantization");
    EXPECT_EQ(classifier.FileExtension(), "lvq");
    EXPECT_EQ(classifier.Version(), "1.0");
    EXPECT_EQ(classifier.InputSize(), -1);
    // No neuron per class would divide by zero; no class, no epoch or a NaN rate cannot train.
    EXPECT_THROW(Lvq(1, 2, 3, 0.1), std::invalid_argument);
    EXPECT_THROW(Lvq(4, 0, 3, 0.1), std::invalid_argument);
    EXPECT_THROW(Lvq(4, 2, 0, 0.1), std::invalid_argument);
    EXPECT_THROW(Lvq(4, 2, 3, std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
    EXPECT_THROW(Lvq().Train(MakeSet({{1, {0.0}}})), std::logic_error);
}

TEST(LearningVectorQuantization, TrainingMatchesAPlainLvq1) {
    std::mt19937 engine(3);
    std::uniform_real_distribution<double> value(0.0, 2.0);
    struct Case {
        int hidden, outputs, iterations;
        double alpha;
    };
    // Includes one iteration (nothing moves), H not a multiple of O, and class ids outside
    // 1 ... O, which push every winner away.
    for (const Case& c : {Case{2, 2, 1, 0.5}, Case{4, 2, 3, 0.3}, Case{5, 2, 4, 0.2},
                          Case{6, 3, 5, 0.1}, Case{3, 1, 2, 0.4}}) {
        std::vector<Sample> samples;
        for (int i = 0; i < 12; ++i) {
            samples.push_back({1 + i % (c.outputs + 1), {value(engine), value(engine)}});
        }
        const unsigned seed = 100 + static_cast<unsigned>(c.hidden * 10 + c.iterations);
        const Rows expected =
            ReferenceTraining(samples, c.hidden, c.outputs, c.iterations, c.alpha, seed);
        util::Seed(seed);
        Lvq classifier(c.hidden, c.outputs, c.iterations, c.alpha);
        classifier.Train(MakeSet(samples));
        const Rows actual = WeightsOf(classifier);
        for (int k = 0; k < c.hidden; ++k) {
            for (int d = 0; d < 2; ++d) {
                EXPECT_NEAR(actual[k][d], expected[k][d], 1e-12)
                    << "H " << c.hidden << ", O " << c.outputs << ", neuron " << k;
            }
        }
    }
}

TEST(LearningVectorQuantization, OneIterationLeavesTheRandomPrototypes) {
    util::Seed(77);
    std::vector<double> drawn;
    for (int i = 0; i < 6; ++i) {
        drawn.push_back(util::RandomReal());
    }
    util::Seed(77);
    Lvq classifier(3, 3, 1, 0.9);
    classifier.Train(MakeSet({{1, {5.0, 5.0}}, {2, {-5.0, 5.0}}, {3, {0.0, -5.0}}}));
    const Rows weights = WeightsOf(classifier);
    for (int k = 0; k < 3; ++k) {
        for (int d = 0; d < 2; ++d) {
            EXPECT_EQ(weights[k][d], drawn[k * 2 + d]);
        }
    }
}

TEST(LearningVectorQuantization, UnevenBlocksAddAClassAfterTheLast) {
    // H = 5, O = 2: neurons 0-1 are class 1, 2-3 class 2, and neuron 4 a block of class 3.
    Lvq classifier;
    auto tree = std::make_shared<util::Map>();
    tree->Put("hidden_count", new int(5));
    tree->Put("output_count", new int(2));
    tree->Put("dimension", new int(1));
    auto* weights = new util::Array();
    tree->Put("weights", weights);
    for (double position : {0.0, 1.0, 2.0, 3.0, 4.0}) {
        auto* row = new util::Array();
        row->Add(new double(position));
        weights->Add(row);
    }
    classifier.SetConfiguration(tree);
    const std::vector<int> expected{1, 1, 2, 2, 3};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(classifier.NeuronClass(k), expected[k]);
        std::vector<double> x{k + 0.2};
        EXPECT_EQ(classifier.Classify(x), expected[k]);
    }
    // Halfway between two neurons the lower one wins.
    std::vector<double> halfway{1.5};
    EXPECT_EQ(classifier.Classify(halfway), 1);
}

TEST(LearningVectorQuantization, LearnsSeparatedClassesInAnyVisitingOrder) {
    std::mt19937 engine(12);
    const std::vector<Sample> training = Blobs(30, engine);
    const std::vector<Sample> test = Blobs(30, engine);
    std::vector<Sample> reversed(training.rbegin(), training.rend());
    util::Seed(5);
    Lvq forward(6, 3, 30, 0.3);
    forward.Train(MakeSet(training));
    Lvq backward(6, 3, 30, 0.3);
    backward.Train(MakeSet(reversed));
    const double forwardAccuracy = Accuracy(forward, test);
    const double backwardAccuracy = Accuracy(backward, test);
    EXPECT_GT(forwardAccuracy, 0.9);
    EXPECT_GT(backwardAccuracy, 0.9);
    EXPECT_NEAR(forwardAccuracy, backwardAccuracy, 0.05);
}

TEST(LearningVectorQuantization, RetrainingStartsAgainFromTheFullRate) {
    std::mt19937 engine(4);
    const PatternSet set = MakeSet(Blobs(10, engine));
    Lvq classifier(3, 3, 5, 0.4);
    util::Seed(21);
    classifier.Train(set);
    const Rows first = WeightsOf(classifier);
    util::Seed(21);
    classifier.Train(set);
    EXPECT_EQ(WeightsOf(classifier), first);
}

TEST(LearningVectorQuantization, RestoredTreeAndPrototypeFileClassifyLikeTheTrainedModel) {
    testsupport::TemporaryFolder folder;
    std::mt19937 engine(6);
    const std::vector<Sample> samples = Blobs(20, engine);
    util::Seed(6);
    Lvq trained(7, 3, 10, 0.3);
    trained.Train(MakeSet(samples));

    const util::Json json(true);
    Lvq restored;
    restored.SetConfiguration(std::shared_ptr<util::Collection>(
        json.Deserialize(json.Serialize(trained.Configuration().get()))));
    const std::string path = (folder / "prototypes.lvq").string();
    trained.Save(path);
    std::ifstream in(path);
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header, "7 2 3");
    Lvq loaded;
    loaded.Load(path);

    EXPECT_EQ(restored.InputSize(), 2);
    EXPECT_EQ(loaded.InputSize(), 2);
    const Rows expected = WeightsOf(trained);
    const Rows fromFile = WeightsOf(loaded);
    for (int k = 0; k < 7; ++k) {
        for (int d = 0; d < 2; ++d) {
            EXPECT_NEAR(fromFile[k][d], expected[k][d], 1e-5 * (std::abs(expected[k][d]) + 1e-3));
        }
    }
    // The neurons themselves are far from any boundary: every copy agrees on them, and neuron
    // 6 (the block of class 4 made by 7 mod 3) answers 4 in all three.
    for (int k = 0; k < 7; ++k) {
        std::vector<double> x = expected[k];
        const int answer = trained.Classify(x);
        EXPECT_EQ(restored.Classify(x), answer);
        EXPECT_EQ(loaded.Classify(x), answer);
    }
    EXPECT_EQ(loaded.NeuronClass(6), 4);
}

TEST(LearningVectorQuantization, MalformedTreesAndFilesAreRejectedAndChangeNothing) {
    testsupport::TemporaryFolder folder;
    util::Seed(1);
    Lvq classifier(2, 2, 2, 0.1);
    classifier.Train(MakeSet({{1, {0.0, 0.0}}, {2, {1.0, 1.0}}}));

    using Edit = std::function<void(util::Map&)>;
    const std::vector<std::pair<Edit, std::string>> trees = {
        {[](util::Map& t) { t.Put("hidden_count", new int(0)); }, "\"hidden_count\""},
        {[](util::Map& t) { t.Put("output_count", new int(3)); }, "\"output_count\""},
        {[](util::Map& t) { t.Put("output_count", new int(0)); }, "\"output_count\""},
        {[](util::Map& t) { t.Put("hidden_count", new int(3)); }, "\"weights\""},
        {[](util::Map& t) { t.Put("dimension", new int(-1)); }, "\"dimension\""},
        {[](util::Map& t) { t.Put("dimension", new int(1)); }, "\"weights[0]\""},
        {[](util::Map& t) {
             auto* row = new util::Array();
             row->Add(new double(0.0));
             row->Add(new bool(true));
             dynamic_cast<util::Array*>(t.GetCollection("weights"))->Add(row);
             t.Put("hidden_count", new int(3));
         },
         "\"weights[2][1]\""},
    };
    for (const auto& [edit, key] : trees) {
        auto tree = std::dynamic_pointer_cast<util::Map>(classifier.Configuration());
        edit(*tree);
        Lvq target;
        const std::string message = ThrownMessage([&] { target.SetConfiguration(tree); });
        EXPECT_NE(message.find(key), std::string::npos) << message;
        EXPECT_EQ(target.InputSize(), -1);
    }

    const std::vector<std::pair<std::string, std::string>> files = {
        {"", "line 1"},
        {"2 2\n0 0\n1 1\n", "line 1"},
        {"1 2 2\n0 0\n", "line 1"},
        {"2 2 0\n0 0\n1 1\n", "line 1"},
        {"2 -2 1\n", "line 1"},
        {"2 2 2\n0 0\n", "line 3"},
        {"2 2 2\n0 0\n1\n", "line 3"},
        {"2 2 2\n0 0\n1 1\n2 2\n", "line 4"},
        {"2 2 2\n0 0\n1 inf\n", "line 3"},
        {"2 2 2\n0 0\n1 0x1\n", "line 3"},
    };
    for (const auto& [text, line] : files) {
        const std::string path = (folder / "bad.lvq").string();
        std::ofstream(path) << text;
        const std::string message = ThrownMessage([&] { classifier.Load(path); });
        EXPECT_NE(message.find("'" + path + "', " + line), std::string::npos)
            << text << " -> " << message;
        EXPECT_EQ(classifier.InputSize(), 2);
        EXPECT_EQ(classifier.Weights()->Rows(), 2);
    }
}

TEST(LearningVectorQuantization, UnusableInputIsRejected) {
    Lvq classifier(2, 2, 2, 0.1);
    EXPECT_THROW(classifier.Train(std::make_shared<PatternList>()), std::invalid_argument);
    EXPECT_THROW(classifier.Train(MakeSet({{1, {1.0}}, {2, {1.0, 2.0}}})), std::invalid_argument);
    EXPECT_THROW(
        classifier.Train(MakeSet({{1, {1.0}}, {2, {std::numeric_limits<double>::quiet_NaN()}}})),
        std::invalid_argument);
    EXPECT_EQ(classifier.InputSize(), -1);
    std::vector<double> x{1.0};
    EXPECT_THROW(classifier.Classify(x), std::logic_error);
    classifier.Train(MakeSet({{1, {1.0}}, {2, {3.0}}}));
    std::vector<double> wrong{1.0, 2.0};
    EXPECT_THROW(classifier.Classify(wrong), std::invalid_argument);
}

}  // namespace
}  // namespace velkar::patternrecognition
