#pragma once

// The experiment workflow: extract features from the image over the labelled polygons with every
// selected extractor and colour variant, then for every extraction output and selected classifier
// repeat random half/half train/test runs. After each repetition the accumulated accuracies are
// reported and written to a results file ("train H:acc", "test H:acc", then "train global: acc"
// and "test global: acc"), whose lines also go to standard output after its path
// ("<results file>: test global: acc") when the run is not chatty; the classifier of the first
// repetition with the most correct test patterns is stored as a model file named after the
// descriptor file ("<descriptor file>.mlp"). The run of the command line ends with its report
// page ("<polygon file>_<time>.html" beside the other outputs, see ReportPage).

#include <memory>
#include <string>
#include <vector>

#include "ordana/AlgorithmBuilder.h"
#include "ordana/ExtractionOutput.h"
#include "ordana/ProtocolWriter.h"
#include "ordana/ReportPage.h"
#include "velkar/patternrecognition/Pattern.h"

namespace velkar::ordana {

class ConsoleProgress;
class AlgorithmFactory;
class ParameterParser;

struct ExperimentSettings {
    // Where the run reports; the process's writer unless another is given.
    const ProtocolWriter* protocol = &Protocol();
    int experiments = 1;
    AlgorithmBuilder* builder = nullptr;
    // Shows how far the repetitions are, to a person at a terminal; may be null.
    ConsoleProgress* progress = nullptr;
};

using PatternSet = std::shared_ptr<std::vector<std::shared_ptr<patternrecognition::Pattern>>>;

// The experiment run of the command line.
void RunExperimentMode(ParameterParser& parser, AlgorithmFactory& factory,
                       const ProtocolWriter& protocol);

// Returns, for the report page, one section per classifier that ran.
std::vector<ClassifierSection> RunExperiments(const ExperimentSettings& settings,
                                              const ExtractionOutput& output, int progressStart,
                                              int progressEnd);

// Reads a descriptor file back: per line a class name (numbered by its position in classes,
// from 0) and featureCount values. Anything else is rejected with an error naming file and line.
PatternSet LoadPatterns(const std::string& descriptorFile, int featureCount,
                        const std::vector<std::string>& classes);

}  // namespace velkar::ordana
