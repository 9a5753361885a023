#pragma once

// The rows that tie the command line to the library: one row per feature extractor, classifier
// and colour space, owning everything about its algorithm (the module name of --help-module, the
// selector flag and its help text, the option group and a function that declares its options,
// the required options in the order they are checked, and the builders). Rows are listed in the
// fixed order in which selections are made, whatever the order on the command line. Every row
// has its builders.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

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
    // The caption of the module's own option group, and a function adding its options to it in
    // the order the help shows them.
    std::string group;
    std::function<void(boost::program_options::options_description_easy_init add)> declare;
    // Options that must be present, in the order their absence is reported.
    std::vector<std::string> required;
};

struct ExtractorRow {
    Module module;
    // Builds the extractor from its module's values and writes its parameter string; a value the
    // extractor cannot use throws std::invalid_argument naming the option.
    std::function<std::shared_ptr<featureextraction::FeatureExtractionAlgorithm>(
        const boost::program_options::variables_map&, std::string& parameters)>
        build;
};

struct ClassifierRow {
    Module module;
    // The Name() of the class built, which model files store and restoring compares.
    std::string displayName;
    // Both hand the program a classifier that numbers classes from 0, whatever the class's own
    // numbering.
    std::function<std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm>(
        const boost::program_options::variables_map&, int inputSize)>
        create;
    std::function<std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm>()> restore;
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

}  // namespace velkar::ordana
