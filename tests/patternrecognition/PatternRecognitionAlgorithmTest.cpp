#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

#include <memory>
#include <vector>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace velkar::patternrecognition
