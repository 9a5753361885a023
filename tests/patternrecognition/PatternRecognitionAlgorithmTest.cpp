#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "common/StubClassifier.h"

namespace velkar::patternrecognition {
namespace {

TEST(PatternRecognitionAlgorithm, BaseDescribesItselfGenerically) {
    std::unique_ptr<PatternRecognitionAlgorithm> classifier =
        std::make_unique<testsupport::StubClassifier>();
    EXPECT_EQ(classifier->FileExtension(), "txt");
    EXPECT_EQ(classifier->Version(), "1.0");
    EXPECT_EQ(classifier->Name(), "Pattern Recognition Algorithm");
}

}  // namespace
}  // namespace velkar::patternrecognition
