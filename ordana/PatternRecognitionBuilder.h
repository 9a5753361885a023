#pragma once

// What the experiment and classification workflows need to obtain classifiers: the keys of
// the classifiers selected on the command line, a classifier built from its options, and a
// classifier restored from a stored configuration. ParameterParser is the implementation.

#include <memory>
#include <string>
#include <vector>

namespace velkar::util {
class Collection;
}
namespace velkar::patternrecognition {
class PatternRecognitionAlgorithm;
}

namespace velkar::ordana {

class PatternRecognitionBuilder {
  public:
    virtual std::vector<std::string> SelectedAlgorithms() = 0;
    virtual std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> RestoreAlgorithm(
        const std::string& name, std::shared_ptr<util::Collection> configuration) = 0;
    virtual std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> CreateAlgorithm(
        const std::string& key, int inputSize) = 0;
    virtual ~PatternRecognitionBuilder() = default;
};

}  // namespace velkar::ordana
