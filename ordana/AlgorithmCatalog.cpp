#include "ordana/AlgorithmCatalog.h"

#include <sstream>
#include <stdexcept>

#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/imageprocessing/CMYKColorTransformation.h"
#include "velkar/imageprocessing/HSIColorTransformation.h"
#include "velkar/imageprocessing/HSLColorTransformation.h"
#include "velkar/imageprocessing/HSVColorTransformation.h"
#include "velkar/imageprocessing/LABColorTransformation.h"
#include "velkar/imageprocessing/LCHColorTransformation.h"
#include "velkar/imageprocessing/LUVColorTransformation.h"
#include "velkar/imageprocessing/SCHColorTransformation.h"
#include "velkar/imageprocessing/XYZColorTransformation.h"
#include "velkar/imageprocessing/YIQColorTransformation.h"
#include "velkar/patternrecognition/MultilayerPerceptron.h"

namespace velkar::ordana {

namespace {

namespace po = boost::program_options;

// Rejects a value the algorithms cannot work with, naming the option.
void RequireAtLeast(const std::string& option, int value, int minimum, const std::string& what) {
    if (value < minimum) {
        throw std::invalid_argument("Invalid value for option '--" + option +
                                    "': " + std::to_string(value) + " (" + what + ").");
    }
}

std::string BooleanText(bool value) { return value ? "true" : "false"; }

std::shared_ptr<featureextraction::FeatureExtractionAlgorithm> BuildColorAverage(
    const po::variables_map& values, std::string& parameters) {
    const int windowSize = values["aws"].as<int>();
    const bool monochromatic = values["aam"].as<bool>();
    const bool normalize = values["anorm"].as<bool>();
    RequireAtLeast("aws", windowSize, 1, "the window size must be at least 1");
    parameters = "--wca --aam " + BooleanText(monochromatic) + " --anorm " +
                 BooleanText(normalize) + " --aws " + std::to_string(windowSize);
    return std::make_shared<featureextraction::ColorAverage>(windowSize, monochromatic, normalize);
}

std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> CreatePerceptron(
    const po::variables_map& values, int inputSize) {
    const std::vector<int> hidden = values["mhidden"].as<std::vector<int>>();
    for (int size : hidden) {
        RequireAtLeast("mhidden", size, 1, "every hidden layer needs at least 1 neuron");
    }
    const int iterations = values["miter"].as<int>();
    RequireAtLeast("miter", iterations, 0, "the number of iterations cannot be negative");
    return std::make_shared<patternrecognition::MultilayerPerceptron>(
        inputSize, hidden, values["mlr"].as<double>(), values["mm"].as<double>(),
        values["merr"].as<double>(), iterations);
}

template <typename Classifier>
std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> Restore() {
    return std::make_shared<Classifier>();
}

template <typename Transformation>
std::shared_ptr<imageprocessing::ColorSpaceTransformation> MakeTransformation() {
    return std::make_shared<Transformation>();
}

}  // namespace

const std::vector<ExtractorKind>& ExtractorKinds() {
    static const std::vector<ExtractorKind> kinds = {
        {"com", "Co-Occurrence Matrix options", {"cnx", "cny", "cws"}, nullptr},
        {"wca", "Windowed Color Average options", {"aam", "aws", "anorm"}, BuildColorAverage},
        {"dft", "Discrete Fourier Transform options", {"fcoeff", "fws"}, nullptr},
        {"dwt", "Wavelets options", {"wscale", "wws", "wname"}, nullptr},
        {"hog", "Histogram of Oriented Gradients options", {"hwx", "hwy", "hbind"}, nullptr},
    };
    return kinds;
}

const std::vector<ClassifierKind>& ClassifierKinds() {
    static const std::vector<ClassifierKind> kinds = {
        {"mlp",
         "Multi Layer Perceptron options",
         {"mhidden", "mlr", "mm", "merr", "miter"},
         "Multilayer Perceptron",
         CreatePerceptron,
         Restore<patternrecognition::MultilayerPerceptron>,
         false},
        {"rbf",
         "Radial Basis Function NN options",
         {"rlr", "rclusters", "riter"},
         "Radial Basis Function Network",
         nullptr,
         nullptr,
         false},
        {"art2",
         "Adaptive Resonance Theory 2 options",
         {"a2f2", "a2a", "a2b", "a2c", "a2d", "a2theta", "a2rho"},
         "Adaptive Resonance Theory 2",
         nullptr,
         nullptr,
         false},
        {"som",
         "Self Organizing Map options",
         {"slat", "sradt0", "slrt0", "siter"},
         "Self Organizing Map",
         nullptr,
         nullptr,
         false},
        {"lvq",
         "Learning Vector Quantization options",
         {"vqhid", "vqout", "vqiter", "vqalpha"},
         "Learning Vector Quantization",
         nullptr,
         nullptr,
         true},
        {"mahd",
         "Mahalanobis Distance options",
         {"mdcc"},
         "Mahalanobis Distance",
         nullptr,
         nullptr,
         true},
        {"pntk", "Point K options", {"pkcc", "pkiter"}, "Point K", nullptr, nullptr, true},
    };
    return kinds;
}

const std::vector<ColorSpaceKind>& ColorSpaceKinds() {
    using namespace imageprocessing;
    static const std::vector<ColorSpaceKind> kinds = {
        {"cs-cmyk", MakeTransformation<CMYKColorTransformation>},
        {"cs-hsi", MakeTransformation<HSIColorTransformation>},
        {"cs-hsl", MakeTransformation<HSLColorTransformation>},
        {"cs-hsv", MakeTransformation<HSVColorTransformation>},
        {"cs-lab", MakeTransformation<LABColorTransformation>},
        {"cs-lch", MakeTransformation<LCHColorTransformation>},
        {"cs-luv", MakeTransformation<LUVColorTransformation>},
        {"cs-sch", MakeTransformation<SCHColorTransformation>},
        {"cs-xyz", MakeTransformation<XYZColorTransformation>},
        {"cs-yiq", MakeTransformation<YIQColorTransformation>},
    };
    return kinds;
}

bool IsIntegerListOption(const std::string& name) {
    return name == "cnx" || name == "cny" || name == "mhidden";
}

}  // namespace velkar::ordana
