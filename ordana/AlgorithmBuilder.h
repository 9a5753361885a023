#pragma once

// What the experiment and classification workflows need to obtain algorithms: the keys of the
// classifiers selected on the command line, a classifier built from its options, a classifier
// restored from a stored configuration, and the extractor a stored parameter string selects.
// ParameterParser is the implementation.

#include <memory>
#include <string>
#include <vector>

namespace velkar::util {
class Collection;
}
namespace velkar::featureextraction {
class FeatureExtractionAlgorithm;
}
namespace velkar::patternrecognition {
class PatternRecognitionAlgorithm;
}

namespace velkar::ordana {

class AlgorithmBuilder {
  public:
    virtual std::vector<std::string> SelectedAlgorithms() = 0;
    virtual std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> RestoreAlgorithm(
        const std::string& name, std::shared_ptr<util::Collection> configuration) = 0;
    virtual std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> CreateAlgorithm(
        const std::string& key, int inputSize) = 0;
    // None when the string selects no extractor or one that cannot be built; reportErrors false
    // keeps the reasons to itself.
    virtual std::shared_ptr<featureextraction::FeatureExtractionAlgorithm>
    FeatureExtractionFromParameters(const std::string& parameters, bool reportErrors = true) = 0;
    virtual ~AlgorithmBuilder() = default;
};

}  // namespace velkar::ordana
