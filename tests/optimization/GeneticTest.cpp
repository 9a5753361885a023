#include "velkar/optimization/Genetic.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/StubClassifier.h"
#include "velkar/patternrecognition/MultilayerPerceptron.h"
#include "velkar/patternrecognition/RadialBasisFunctionNetwork.h"
#include "velkar/util/Random.h"

namespace velkar::optimization {
namespace {

using patternrecognition::Pattern;
using patternrecognition::PatternList;
using patternrecognition::PatternSet;
using Mask = std::vector<int>;
using FitnessOfMask = std::function<double(const Mask&)>;

constexpr int testCount = 20;

// A classifier whose accuracy depends only on the mask it is trained with. Every feature holds
// its own index, so the reduced training vectors tell which features were kept; every test
// pattern is of class 0, and the first round(fitness * 20) answers after a Train are right.
class MaskClassifier : public testsupport::StubClassifier {
  public:
    MaskClassifier(int features, FitnessOfMask fitnessOfMask)
        : featureCount(features), fitness(std::move(fitnessOfMask)) {}

    void Train(PatternSet patterns) override {
        Mask mask(static_cast<std::size_t>(featureCount), 0);
        for (double value : *(*patterns)[0]->Descriptors()) {
            mask[static_cast<std::size_t>(value)] = 1;
        }
        masks.push_back(mask);
        rightAnswers = static_cast<int>(std::lround(fitness(mask) * testCount));
        answered = 0;
    }
    int Classify(std::vector<double>&) override { return answered++ < rightAnswers ? 0 : -1; }

    std::vector<Mask> masks;

  private:
    int featureCount;
    FitnessOfMask fitness;
    int rightAnswers = 0;
    int answered = 0;
};

PatternSet IndexPatterns(int count, int features) {
    auto set = std::make_shared<PatternList>();
    for (int i = 0; i < count; ++i) {
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(0);
        std::vector<double> values;
        for (int c = 0; c < features; ++c) {
            values.push_back(c);
        }
        pattern->SetDescriptors(values);
        set->push_back(pattern);
    }
    return set;
}

// The random masks of the starting population as the rule defines them: r uniform in
// [1, D^2 - 1] (rand() % (D^2 - 1) + 1), its binary digits from the least significant one
// written into genes D-1, D-2, ..., digits beyond gene 0 dropped.
std::vector<Mask> StartingPopulation(unsigned seed, int d) {
    util::Seed(seed);
    std::vector<Mask> population;
    for (int row = 0; row < Genetic::populationSize; ++row) {
        unsigned r =
            static_cast<unsigned>(util::RandomIndex(static_cast<std::size_t>(d * d - 1))) + 1;
        Mask mask(static_cast<std::size_t>(d), 0);
        for (int gene = d - 1; gene >= 0; --gene) {
            mask[static_cast<std::size_t>(gene)] = static_cast<int>(r % 2);
            r /= 2;
        }
        population.push_back(mask);
    }
    return population;
}

struct Outcome {
    Mask best;
    double fitness = -1.0;
    std::string output;
};

Outcome Optimize(MaskClassifier& classifier, int eliteCount, int features, unsigned seed) {
    Genetic genetic(&classifier, eliteCount);
    util::Seed(seed);
    Outcome run;
    testing::internal::CaptureStdout();
    run.best = *genetic.Optimize(IndexPatterns(3, features), IndexPatterns(testCount, features),
                                 &run.fitness);
    run.output = testing::internal::GetCapturedStdout();
    return run;
}

TEST(Genetic, RejectsSettingsItCannotRunWith) {
    MaskClassifier classifier(4, [](const Mask&) { return 0.5; });
    for (int elite : {0, -1, 5}) {
        EXPECT_THROW(Genetic(&classifier, elite), std::invalid_argument) << elite;
    }
    EXPECT_THROW(Genetic(nullptr, 2), std::invalid_argument);
    Genetic genetic(&classifier, 2);
    double fitness = 0.0;
    EXPECT_THROW(genetic.Optimize(IndexPatterns(3, 1), IndexPatterns(3, 1), &fitness),
                 std::invalid_argument);
    EXPECT_THROW(genetic.Optimize(IndexPatterns(3, 4), std::make_shared<PatternList>(), &fitness),
                 std::invalid_argument);
    EXPECT_THROW(genetic.Optimize(std::make_shared<PatternList>(), IndexPatterns(3, 4), &fitness),
                 std::invalid_argument);
    EXPECT_THROW(genetic.Optimize(IndexPatterns(3, 4), IndexPatterns(3, 5), &fitness),
                 std::invalid_argument);
    EXPECT_THROW(Genetic().Optimize(IndexPatterns(3, 4), IndexPatterns(3, 4), &fitness),
                 std::invalid_argument);
    EXPECT_TRUE(classifier.masks.empty());
}

TEST(Genetic, EightGenerationLinesAndEveryNonEliteRowEvaluatedEachGeneration) {
    for (int elite = 1; elite <= Genetic::maxEliteCount; ++elite) {
        MaskClassifier classifier(5, [](const Mask& mask) { return 0.05 * mask[4]; });
        const Outcome run = Optimize(classifier, elite, 5, 40 + static_cast<unsigned>(elite));
        EXPECT_EQ(run.output, "0\n1\n2\n3\n4\n5\n6\n7\n");
        EXPECT_EQ(
            classifier.masks.size(),
            static_cast<std::size_t>(Genetic::generationCount * (Genetic::populationSize - elite)));
        EXPECT_EQ(run.best.size(), 5U);
    }
}

TEST(Genetic, EqualFitnessNeitherDisplacesNorDuplicatesTheElite) {
    // Every mask scores 0.5, so after the first mask that differs from the unevaluated starting
    // elite (row 0, fitness 0) takes its place, nothing can displace it. A mask equal to row 0
    // is not inserted over it.
    int duplicatesOfRowZero = 0;
    int truncatedDraws = 0;
    for (int d : {2, 3}) {
        for (unsigned seed = 1; seed <= 30; ++seed) {
            const std::vector<Mask> start = StartingPopulation(seed, d);
            MaskClassifier classifier(d, [](const Mask&) { return 0.5; });
            const Outcome run = Optimize(classifier, 1, d, seed);
            // The first generation evaluates rows 1 ... 9 of the starting population in order.
            for (int row = 1; row < Genetic::populationSize; ++row) {
                ASSERT_EQ(classifier.masks[static_cast<std::size_t>(row - 1)], start[row])
                    << "seed " << seed << ", D " << d << ", row " << row;
                truncatedDraws += std::count(start[row].begin(), start[row].end(), 1) == 0;
            }
            duplicatesOfRowZero += classifier.masks[0] == start[0] ? 1 : 0;
            const auto firstDifferent =
                std::find_if(classifier.masks.begin(), classifier.masks.end(),
                             [&](const Mask& mask) { return mask != start[0]; });
            ASSERT_NE(firstDifferent, classifier.masks.end());
            EXPECT_EQ(run.best, *firstDifferent) << "seed " << seed << ", D " << d;
            EXPECT_EQ(run.fitness, 0.5);
        }
    }
    EXPECT_GT(duplicatesOfRowZero, 0);
    EXPECT_GT(truncatedDraws, 0);
}

TEST(Genetic, ReturnsTheBestMaskEvaluatedAndFindsThePlantedFeatures) {
    // Features 0 and 1 carry the accuracy; random masks never set them (r < 64 fills only genes
    // 2 ... 7), so only crossover and mutation can find them.
    const FitnessOfMask planted = [](const Mask& mask) {
        const int zeros = static_cast<int>(std::count(mask.begin() + 2, mask.end(), 0));
        return 0.05 * (6 * mask[0] + 6 * mask[1] + zeros);
    };
    for (int elite = 1; elite <= Genetic::maxEliteCount; ++elite) {
        for (unsigned seed = 1; seed <= 4; ++seed) {
            MaskClassifier classifier(8, planted);
            const Outcome run = Optimize(classifier, elite, 8, seed * 7);
            double bestSeen = 0.0;
            for (const Mask& mask : classifier.masks) {
                bestSeen = std::max(bestSeen, planted(mask));
            }
            EXPECT_NEAR(run.fitness, bestSeen, 1e-12) << "elite " << elite << ", seed " << seed;
            EXPECT_NEAR(planted(run.best), run.fitness, 1e-12);
            // Random masks reach 0.25 at most; the search has to go beyond them.
            EXPECT_GE(run.best[0] + run.best[1], 1) << "elite " << elite << ", seed " << seed;
        }
    }
}

// Passes every call to a real classifier and records the feature count of every training set
// and whether the classifier refused it.
class RefusalLog : public testsupport::StubClassifier {
  public:
    explicit RefusalLog(std::unique_ptr<patternrecognition::PatternRecognitionAlgorithm> real)
        : real(std::move(real)) {}

    void Train(PatternSet patterns) override {
        lengths.push_back(static_cast<int>((*patterns)[0]->Descriptors()->size()));
        refused.push_back(true);
        real->Train(patterns);
        refused.back() = false;
    }
    int Classify(std::vector<double>& features) override { return real->Classify(features); }

    std::vector<int> lengths;
    std::vector<bool> refused;

  private:
    std::unique_ptr<patternrecognition::PatternRecognitionAlgorithm> real;
};

// Two classes told apart by features 0 and 2; features 1 and 3 are noise.
PatternSet TwoClasses(std::mt19937& random, int count) {
    std::normal_distribution<double> noise(0.0, 0.3);
    auto set = std::make_shared<PatternList>();
    for (int i = 0; i < count; ++i) {
        const int type = i % 2;
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(type);
        pattern->SetDescriptors({type * 2.0 + noise(random), noise(random) + 5.0,
                                 type * -3.0 + noise(random), noise(random)});
        set->push_back(pattern);
    }
    return set;
}

// Masks a classifier cannot train on (an empty one, or one of another length than the network
// was built for) score 0 without ending the search, and one line reports them.
TEST(Genetic, MasksTheClassifierRefusesScoreZeroAndAreReportedOnce) {
    using patternrecognition::MultilayerPerceptron;
    using patternrecognition::RadialBasisFunctionNetwork;
    struct Case {
        std::string name;
        std::function<std::unique_ptr<patternrecognition::PatternRecognitionAlgorithm>()> make;
        std::function<bool(int length)> refuses;
    };
    const std::vector<Case> cases = {
        {"radial basis network",
         [] { return std::make_unique<RadialBasisFunctionNetwork>(0.1, 2, 20); },
         [](int length) { return length == 0; }},
        {"perceptron of 4 inputs",
         [] {
             return std::make_unique<MultilayerPerceptron>(4, std::vector<int>{3}, 0.3, 0.1, 0.01,
                                                           50);
         },
         [](int length) { return length != 4; }},
        {"perceptron of 5 inputs",
         [] {
             return std::make_unique<MultilayerPerceptron>(5, std::vector<int>{3}, 0.3, 0.1, 0.01,
                                                           50);
         },
         [](int) { return true; }}};
    const int evaluations = Genetic::generationCount * (Genetic::populationSize - 2);
    for (const Case& c : cases) {
        int refusedInAll = 0;
        for (unsigned seed = 1; seed <= 6; ++seed) {
            const std::string where = c.name + ", seed " + std::to_string(seed);
            std::mt19937 random(seed);
            const PatternSet train = TwoClasses(random, 30);
            const PatternSet test = TwoClasses(random, 30);
            RefusalLog classifier(c.make());
            Genetic genetic(&classifier, 2);
            util::Seed(seed);
            double fitness = -1.0;
            testing::internal::CaptureStdout();
            testing::internal::CaptureStderr();
            std::shared_ptr<Mask> best;
            EXPECT_NO_THROW(best = genetic.Optimize(train, test, &fitness)) << where;
            const std::string errors = testing::internal::GetCapturedStderr();
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "0\n1\n2\n3\n4\n5\n6\n7\n");
            ASSERT_NE(best, nullptr) << where;

            ASSERT_EQ(classifier.lengths.size(), static_cast<std::size_t>(evaluations)) << where;
            int refused = 0;
            for (std::size_t i = 0; i < classifier.lengths.size(); ++i) {
                EXPECT_EQ(classifier.refused[i], c.refuses(classifier.lengths[i])) << where;
                refused += classifier.refused[i] ? 1 : 0;
            }
            refusedInAll += refused;
            const std::string report =
                "Genetic: the classifier refused " + std::to_string(refused) + " of the " +
                std::to_string(evaluations) + " mask evaluations, which scored 0 (first: ";
            if (refused > 0) {
                EXPECT_EQ(errors.rfind(report, 0), 0u) << where << ": " << errors;
                EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
            } else {
                EXPECT_EQ(errors, "") << where;
            }
            const int chosen = static_cast<int>(std::count(best->begin(), best->end(), 1));
            if (c.refuses(chosen)) {
                EXPECT_EQ(fitness, 0.0) << where;
            } else {
                EXPECT_GT(fitness, 0.5) << where;
            }
        }
        EXPECT_GT(refusedInAll, 0) << c.name;
    }
}

}  // namespace
}  // namespace velkar::optimization
