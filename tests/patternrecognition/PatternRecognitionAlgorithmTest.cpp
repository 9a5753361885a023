#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ClassifierTestSupport.h"
#include "velkar/patternrecognition/AdaptiveResonanceTheory2.h"
#include "velkar/patternrecognition/LearningVectorQuantization.h"
#include "velkar/patternrecognition/MultilayerPerceptron.h"
#include "velkar/patternrecognition/PointK.h"
#include "velkar/patternrecognition/RadialBasisFunctionNetwork.h"
#include "velkar/patternrecognition/SelfOrganizingMap.h"
#include "velkar/util/Json.h"
#include "velkar/util/Random.h"

namespace velkar::patternrecognition {
namespace {

// The smallest possible classifier: it only supplies the pure operations.
class ConstantClassifier : public PatternRecognitionAlgorithm {
  public:
    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>>) override {}
    int Classify(std::vector<double>&) override { return 1; }
    std::shared_ptr<util::Collection> Configuration() override { return nullptr; }
    void SetConfiguration(std::shared_ptr<util::Collection>) override {}
};

TEST(PatternRecognitionAlgorithm, BaseDescribesItselfGenerically) {
    std::unique_ptr<PatternRecognitionAlgorithm> classifier =
        std::make_unique<ConstantClassifier>();
    EXPECT_EQ(classifier->FileExtension(), "txt");
    EXPECT_EQ(classifier->Version(), "1.0");
    EXPECT_EQ(classifier->Name(), "Pattern Recognition Algorithm");
}

// Two classes of points in the unit square, the first nearer the origin.
PatternSet TwoClasses(int count) {
    classifiertest::Samples samples;
    for (int k = 0; k < count; ++k) {
        const double shift = k % 2 == 0 ? 0.0 : 0.5;
        samples.push_back(
            {k % 2 + 1, {shift + 0.5 * util::RandomReal(), shift + 0.5 * util::RandomReal()}});
    }
    return classifiertest::MakeSet(samples);
}

// Every iterative classifier reports 1, 2, ... up to the iterations it ran, each time with the
// iterations asked for, and watching changes nothing of the trained model.
TEST(PatternRecognitionAlgorithm, TrainingObserverSeesEveryIterationWithoutChangingTheModel) {
    constexpr int patternCount = 30;
    struct Case {
        std::string name;
        std::function<std::shared_ptr<PatternRecognitionAlgorithm>()> make;
        long long total;
        // The iterations run by the trained classifier: the total unless it stopped early.
        std::function<long long(PatternRecognitionAlgorithm&)> ran;
    };
    const auto all = [](long long total) {
        return [total](PatternRecognitionAlgorithm&) { return total; };
    };
    const auto epochsRun = [](PatternRecognitionAlgorithm& classifier) {
        return static_cast<long long>(dynamic_cast<MultilayerPerceptron&>(classifier).EpochsRun());
    };
    const std::vector<Case> cases = {
        {"perceptron, every epoch",
         [] {
             return std::make_shared<MultilayerPerceptron>(2, std::vector<int>{3}, 0.3, 0.1, 0.0,
                                                           9);
         },
         9, all(9)},
        {"perceptron, stopped on its error goal",
         [] {
             return std::make_shared<MultilayerPerceptron>(2, std::vector<int>{3}, 0.3, 0.1, 1e9,
                                                           40);
         },
         40, epochsRun},
        {"radial basis functions",
         [] { return std::make_shared<RadialBasisFunctionNetwork>(0.1, 2, 7); }, 7, all(7)},
        {"adaptive resonance",
         [] {
             return std::make_shared<AdaptiveResonanceTheory2>(2, 4, 10, 10, 0.1, 0.9, 0.1, 0.9);
         },
         2 * patternCount, all(2 * patternCount)},
        {"self-organizing map",
         [] { return std::make_shared<SelfOrganizingMap>(3, 2, 1.0, 0.5, 50); }, 50, all(50)},
        {"vector quantization",
         [] { return std::make_shared<LearningVectorQuantization>(4, 2, 6, 0.3); }, 6, all(6)},
        {"point k", [] { return std::make_shared<PointK>(2, 5); }, 5, all(5)},
    };
    const util::Json json(false);
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const Case& testCase = cases[c];
        SCOPED_TRACE(testCase.name);
        const unsigned seed = 1000 + static_cast<unsigned>(c);
        std::vector<std::pair<long long, long long>> reports;

        util::Seed(seed);
        std::shared_ptr<PatternRecognitionAlgorithm> watched = testCase.make();
        watched->SetTrainingObserver(
            [&reports](long long done, long long total) { reports.emplace_back(done, total); });
        watched->Train(TwoClasses(patternCount));

        util::Seed(seed);
        std::shared_ptr<PatternRecognitionAlgorithm> unwatched = testCase.make();
        unwatched->Train(TwoClasses(patternCount));

        const long long ran = testCase.ran(*watched);
        ASSERT_EQ(static_cast<long long>(reports.size()), ran);
        for (std::size_t k = 0; k < reports.size(); ++k) {
            EXPECT_EQ(reports[k].first, static_cast<long long>(k) + 1);
            EXPECT_EQ(reports[k].second, testCase.total);
        }
        EXPECT_EQ(json.Serialize(watched->Configuration().get()),
                  json.Serialize(unwatched->Configuration().get()));

        // An empty observer stops the reports.
        watched->SetTrainingObserver(nullptr);
        watched->Train(TwoClasses(patternCount));
        EXPECT_EQ(static_cast<long long>(reports.size()), ran);
    }
}

}  // namespace
}  // namespace velkar::patternrecognition
