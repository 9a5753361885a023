#pragma once

// A classifier that learns nothing, answers class 0 and keeps no configuration tree. Test
// classifiers derive from it and override only the operations their test looks at.

#include <memory>
#include <vector>

#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace testsupport {

class StubClassifier : public velkar::patternrecognition::PatternRecognitionAlgorithm {
  public:
    void Train(velkar::patternrecognition::PatternSet) override {}
    int Classify(std::vector<double>&) override { return 0; }
    std::shared_ptr<velkar::util::Collection> Configuration() override { return nullptr; }
    void SetConfiguration(std::shared_ptr<velkar::util::Collection>) override {}
};

}  // namespace testsupport
