#pragma once

// The tables that tie command-line flags to library classes: for every feature extractor and
// classifier the flag or key, the option group that configures it, its required options in the
// order they are checked, and how it is built. Rows are listed in the fixed order in which
// selections are made, whatever the order on the command line. A row whose class is not part of
// this build has no builder; selecting it is reported instead of built.

#include <functional>
#include <memory>
#include <string>
#include <vector>

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

struct ExtractorKind {
    std::string flag;
    std::string group;
    std::vector<std::string> required;
    // Builds the extractor from its module's values and writes its parameter string.
    std::function<std::shared_ptr<featureextraction::FeatureExtractionAlgorithm>(
        const boost::program_options::variables_map&, std::string& parameters)>
        build;
};

struct ClassifierKind {
    std::string key;
    std::string group;
    std::vector<std::string> required;
    std::string displayName;
    std::function<std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm>(
        const boost::program_options::variables_map&, int inputSize)>
        create;
    std::function<std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm>()> restore;
    // The classifier numbers classes from 1 while the program numbers them from 0.
    bool countsClassesFromOne = false;
};

struct ColorSpaceKind {
    std::string flag;
    std::function<std::shared_ptr<imageprocessing::ColorSpaceTransformation>()> create;
};

// In the order com, wca, dft, dwt, hog.
const std::vector<ExtractorKind>& ExtractorKinds();
// In the order mlp, rbf, art2, som, lvq, mahd, pntk.
const std::vector<ClassifierKind>& ClassifierKinds();
// In the order cs-cmyk, cs-hsi, cs-hsl, cs-hsv, cs-lab, cs-lch, cs-luv, cs-sch, cs-xyz, cs-yiq.
const std::vector<ColorSpaceKind>& ColorSpaceKinds();

// Option names whose values are integer lists (written comma-joined in parameter strings).
bool IsIntegerListOption(const std::string& name);

}  // namespace velkar::ordana
