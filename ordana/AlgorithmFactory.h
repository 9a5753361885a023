#pragma once

// Builds what a command line selects from the catalogue's rows: the extractors with their
// parameter strings and the colour transformations, in row order; the classifier of a selected
// key for a number of features; a classifier restored from a model's configuration by its
// display name; and the extractor a stored parameter string selects. The options are read
// through the parser, which reports every problem (a malformed or missing value, a value an
// algorithm refuses) and remembers that there was one; the query then answers as if nothing
// were selected.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ordana/AlgorithmBuilder.h"
#include "ordana/ParameterParser.h"

namespace velkar::featureextraction {
class FeatureExtractionAlgorithm;
}
namespace velkar::imageprocessing {
class ColorSpaceTransformation;
}

namespace velkar::ordana {

// The extractors selected on a command line, in build order, with the parameter string of each
// keyed by the extractor's Name().
struct ExtractionSelection {
    std::vector<std::shared_ptr<featureextraction::FeatureExtractionAlgorithm>> algorithms;
    std::map<std::string, std::string> parameters;
};

class AlgorithmFactory : public AlgorithmBuilder {
  public:
    explicit AlgorithmFactory(ParameterParser& parser);

    ExtractionSelection FeatureExtractionAlgorithms();
    std::vector<std::shared_ptr<imageprocessing::ColorSpaceTransformation>> ColorTransformations();

    std::vector<std::string> SelectedAlgorithms() override;
    std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> RestoreAlgorithm(
        const std::string& name, std::shared_ptr<util::Collection> configuration) override;
    std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> CreateAlgorithm(
        const std::string& key, int inputSize) override;
    std::shared_ptr<featureextraction::FeatureExtractionAlgorithm> FeatureExtractionFromParameters(
        const std::string& parameters, bool reportErrors = true) override;

  private:
    ParameterParser& parser;
};

}  // namespace velkar::ordana
