#pragma once

// The rows that tie the command line to the library: one row per feature extractor, classifier
// and colour space, owning everything about its algorithm (the module name of --help-module, the
// selector flag and its help text, the option group with the description of every option, and
// how the algorithm is made from the options' values). Rows are listed in the fixed order in
// which selections are made, whatever the order on the command line. Adding an algorithm is
// adding its row: declarations, required checks, parameter strings and rejection messages
// follow from the descriptions.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ordana/OptionDescription.h"

namespace velkar::featureextraction {
class FeatureExtractionAlgorithm;
}
namespace velkar::imageprocessing {
class ColorSpaceTransformation;
}
namespace velkar::patternrecognition {
class PatternRecognitionAlgorithm;
}

namespace velkar::ordana {

// What every row shares: how the command line reaches the module.
struct Module {
    // The name --help-module accepts ("wca", "mlp", "hsv").
    std::string name;
    // The selector flag ("wca", "mlp", "cs-hsv") and its help text in its general group.
    std::string flag;
    std::string flagHelp;
    // The caption of the module's own option group and its options, in the order the help
    // shows them.
    std::string group;
    std::vector<OptionDescription> options;
    // The order in which a parameter string writes the options and their absence is reported,
    // where it differs from the help's.
    std::vector<std::string> writtenOrder = {};

    const OptionDescription* Option(const std::string& name) const;
    std::vector<const OptionDescription*> InWrittenOrder() const;
};

using ExtractorPointer = std::shared_ptr<featureextraction::FeatureExtractionAlgorithm>;
using ClassifierPointer = std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm>;

struct ExtractorRow {
    Module module;
    std::function<ExtractorPointer(const OptionValues& values)> build;
};

struct ClassifierRow {
    Module module;
    // The Name() of the class built, which model files store and restoring compares.
    std::string displayName;
    // Both hand the program a classifier that numbers classes from 0, whatever the class's own
    // numbering.
    std::function<ClassifierPointer(const OptionValues& values, int featureCount)> create;
    std::function<ClassifierPointer()> restore;
    // Why the classifier cannot take this many features at all, or none.
    std::function<std::optional<std::string>(int featureCount)> featureLimit = {};
};

struct ColorSpaceRow {
    Module module;
    std::function<std::shared_ptr<imageprocessing::ColorSpaceTransformation>()> create;
};

// In the order com, wca, dft, dwt, hog.
const std::vector<ExtractorRow>& ExtractorRows();
// In the order mlp, rbf, art2, som, lvq, mahd, pntk.
const std::vector<ClassifierRow>& ClassifierRows();
// In the order cs-cmyk, cs-hsi, cs-hsl, cs-hsv, cs-lab, cs-lch, cs-luv, cs-sch, cs-xyz, cs-yiq.
const std::vector<ColorSpaceRow>& ColorSpaceRows();

// Every row's module, in the order --help-module compares names: extractors, classifiers,
// colour spaces.
std::vector<const Module*> AllModules();

// The extractor of the values, and its parameter string ("--wca --aam false ..."); and the
// classifier of the values for featureCount features. A value the class or the program refuses
// throws std::invalid_argument with the message that names its option.
ExtractorPointer BuildExtractor(const ExtractorRow& row, const OptionValues& values,
                                std::string& parameters);
ClassifierPointer CreateClassifier(const ClassifierRow& row, const OptionValues& values,
                                   int featureCount);

// Refuses, naming the option, the first required option of the module that has no value and
// then every real that is not a finite number (the option library reads "nan" and "inf").
void CheckKinds(const Module& module, const OptionValues& values);

}  // namespace velkar::ordana
