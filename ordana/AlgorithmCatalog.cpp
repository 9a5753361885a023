#include "ordana/AlgorithmCatalog.h"

#include <stdexcept>

#include "ordana/OneBasedClassifier.h"
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
using IntList = std::vector<int>;
using ExtractorPointer = std::shared_ptr<featureextraction::FeatureExtractionAlgorithm>;
using ClassifierPointer = std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm>;

// Rejects a value the algorithms cannot work with, naming the option.
void RequireAtLeast(const std::string& option, int value, int minimum, const std::string& what) {
    if (value < minimum) {
        throw std::invalid_argument("Invalid value for option '--" + option +
                                    "': " + std::to_string(value) + " (" + what + ").");
    }
}

std::string BooleanText(bool value) { return value ? "true" : "false"; }

// Classifiers that number classes from 1 are handed to the program through OneBasedClassifier,
// the one place where the two numberings meet.
template <typename Classifier>
ClassifierPointer RestoreOneBased() {
    return std::make_shared<OneBasedClassifier>(std::make_shared<Classifier>());
}

template <typename Classifier>
ClassifierPointer Restore() {
    return std::make_shared<Classifier>();
}

// Co-occurrence matrix.

void DeclareCoOccurrenceOptions(po::options_description_easy_init add) {
    add("cnx", po::value<IntList>()->multitoken()->composing(),
        "Reference pixel relationship across x coordinate");
    add("cny", po::value<IntList>()->multitoken()->composing(),
        "Reference pixel relationship across y coordinate");
    add("cws", po::value<int>(), "Window size");
}

// Windowed colour average.

void DeclareColorAverageOptions(po::options_description_easy_init add) {
    add("aws", po::value<int>(), "Window size");
    add("anorm", po::value<bool>()->default_value(false, "false"), "Normalize each pixel");
    add("aam", po::value<bool>()->default_value(false, "false"), "Add monochromatic band");
}

ExtractorPointer BuildColorAverage(const po::variables_map& values, std::string& parameters) {
    const int windowSize = values["aws"].as<int>();
    const bool monochromatic = values["aam"].as<bool>();
    const bool normalize = values["anorm"].as<bool>();
    RequireAtLeast("aws", windowSize, 1, "the window size must be at least 1");
    parameters = "--wca --aam " + BooleanText(monochromatic) + " --anorm " +
                 BooleanText(normalize) + " --aws " + std::to_string(windowSize);
    return std::make_shared<featureextraction::ColorAverage>(windowSize, monochromatic, normalize);
}

// Discrete Fourier transform.

void DeclareFourierOptions(po::options_description_easy_init add) {
    add("fws", po::value<int>(), "Window size");
    add("fcoeff", po::value<int>(), "Number of coefficients to keep");
}

// Histogram of oriented gradients.

void DeclareHogOptions(po::options_description_easy_init add) {
    add("hwx", po::value<int>(), "Window x size");
    add("hwy", po::value<int>(), "Window y size");
    add("hbind", po::value<int>(), "Bindings");
}

// Wavelets.

void DeclareWaveletOptions(po::options_description_easy_init add) {
    add("wws", po::value<int>(), "Window size");
    add("wscale", po::value<int>(), "Scale");
    add("wname", po::value<std::string>(), "Wavelet name; db1, bior1.1, coif1, sym2");
}

// Multilayer perceptron.

void DeclarePerceptronOptions(po::options_description_easy_init add) {
    add("mhidden", po::value<IntList>()->multitoken()->composing(),
        "Size of each of the hidden layers (comma separated)");
    add("mlr", po::value<double>(), "Learning rate");
    add("mm", po::value<double>(), "Momentum");
    add("merr", po::value<double>(), "Max error");
    add("miter", po::value<int>(), "Iterations");
}

ClassifierPointer CreatePerceptron(const po::variables_map& values, int inputSize) {
    const IntList hidden = values["mhidden"].as<IntList>();
    for (int size : hidden) {
        RequireAtLeast("mhidden", size, 1, "every hidden layer needs at least 1 neuron");
    }
    const int iterations = values["miter"].as<int>();
    RequireAtLeast("miter", iterations, 0, "the number of iterations cannot be negative");
    return std::make_shared<patternrecognition::MultilayerPerceptron>(
        inputSize, hidden, values["mlr"].as<double>(), values["mm"].as<double>(),
        values["merr"].as<double>(), iterations);
}

// Radial basis function network.

void DeclareRadialBasisOptions(po::options_description_easy_init add) {
    add("rlr", po::value<double>(), "Learning rate");
    add("rclusters", po::value<int>(), "Clusters per class");
    add("riter", po::value<int>(), "Iterations");
}

// Adaptive resonance theory 2.

void DeclareResonanceOptions(po::options_description_easy_init add) {
    add("a2f2", po::value<int>(), "F2 layer size");
    add("a2a", po::value<double>(), "A factor");
    add("a2b", po::value<double>(), "B factor");
    add("a2c", po::value<double>(), "C factor");
    add("a2d", po::value<double>(), "D factor");
    add("a2theta", po::value<double>(), "Theta factor");
    add("a2rho", po::value<double>(), "Rho factor");
}

// Self-organizing map.

void DeclareSelfOrganizingMapOptions(po::options_description_easy_init add) {
    add("slat", po::value<int>(), "Lattice size");
    add("sradt0", po::value<double>(), "Neighborhood radius t0 factor");
    add("slrt0", po::value<double>(), "Learning rate t0 factor");
    add("siter", po::value<int>(), "Iterations");
}

// Learning vector quantization.

void DeclareVectorQuantizationOptions(po::options_description_easy_init add) {
    add("vqhid", po::value<int>(), "Hidden neuron count");
    add("vqout", po::value<int>(), "Output neuron count");
    add("vqiter", po::value<int>(), "Iterations");
    add("vqalpha", po::value<double>(), "Alpha");
}

// Mahalanobis distance.

void DeclareMahalanobisOptions(po::options_description_easy_init add) {
    add("mdcc", po::value<int>(), "Class count");
}

// Point K.

void DeclarePointKOptions(po::options_description_easy_init add) {
    add("pkcc", po::value<int>(), "Class count");
    add("pkiter", po::value<int>(), "Iterations");
}

// A colour space's group holds only its own flag, without help text.
template <typename Transformation>
ColorSpaceRow ColorSpace(const std::string& name, const std::string& caption) {
    const std::string flag = "cs-" + name;
    Module module{name,
                  flag,
                  "RGB to " + caption,
                  caption,
                  [flag](po::options_description_easy_init add) { add(flag.c_str(), ""); },
                  {}};
    return {std::move(module), [] { return std::make_shared<Transformation>(); }};
}

}  // namespace

const std::vector<ExtractorRow>& ExtractorRows() {
    static const std::vector<ExtractorRow> rows = {
        {{"com",
          "com",
          "Co-Occurrence Matrix algorithm",
          "Co-Occurrence Matrix options",
          DeclareCoOccurrenceOptions,
          {"cnx", "cny", "cws"}},
         nullptr},
        {{"wca",
          "wca",
          "Windowed Color Average",
          "Windowed Color Average options",
          DeclareColorAverageOptions,
          {"aam", "aws", "anorm"}},
         BuildColorAverage},
        {{"dft",
          "dft",
          "Discrete Fourier Transform algorithm",
          "Discrete Fourier Transform options",
          DeclareFourierOptions,
          {"fcoeff", "fws"}},
         nullptr},
        {{"dwt",
          "dwt",
          "Wavelet Transform algorithm",
          "Wavelets options",
          DeclareWaveletOptions,
          {"wscale", "wws", "wname"}},
         nullptr},
        {{"hog",
          "hog",
          "Histogram of Oriented Gradients",
          "Histogram of Oriented Gradients options",
          DeclareHogOptions,
          {"hwx", "hwy", "hbind"}},
         nullptr},
    };
    return rows;
}

const std::vector<ClassifierRow>& ClassifierRows() {
    static const std::vector<ClassifierRow> rows = {
        {{"mlp",
          "mlp",
          "Multi Layer Perceptron algorithm",
          "Multi Layer Perceptron options",
          DeclarePerceptronOptions,
          {"mhidden", "mlr", "mm", "merr", "miter"}},
         "Multilayer Perceptron",
         CreatePerceptron,
         Restore<patternrecognition::MultilayerPerceptron>},
        {{"rbf",
          "rbf",
          "Radial Basis Function NN algorithm",
          "Radial Basis Function NN options",
          DeclareRadialBasisOptions,
          {"rlr", "rclusters", "riter"}},
         "Radial Basis Function Network",
         nullptr,
         nullptr},
        {{"art2",
          "art2",
          "Adaptive Resonance Theory 2 algorithm",
          "Adaptive Resonance Theory 2 options",
          DeclareResonanceOptions,
          {"a2f2", "a2a", "a2b", "a2c", "a2d", "a2theta", "a2rho"}},
         "Adaptive Resonance Theory 2",
         nullptr,
         nullptr},
        {{"som",
          "som",
          "Self Organizing Map algorithm",
          "Self Organizing Map options",
          DeclareSelfOrganizingMapOptions,
          {"slat", "sradt0", "slrt0", "siter"}},
         "Self Organizing Map",
         nullptr,
         nullptr},
        {{"lvq",
          "lvq",
          "Learning Vector Quantization algorithm",
          "Learning Vector Quantization options",
          DeclareVectorQuantizationOptions,
          {"vqhid", "vqout", "vqiter", "vqalpha"}},
         "Learning Vector Quantization",
         nullptr,
         nullptr},
        {{"mahd",
          "mahd",
          "Mahalanobis Distance algorithm",
          "Mahalanobis Distance options",
          DeclareMahalanobisOptions,
          {"mdcc"}},
         "Mahalanobis Distance",
         nullptr,
         nullptr},
        {{"pntk",
          "pntk",
          "Point K algorithm",
          "Point K options",
          DeclarePointKOptions,
          {"pkcc", "pkiter"}},
         "Point K",
         nullptr,
         nullptr},
    };
    return rows;
}

const std::vector<ColorSpaceRow>& ColorSpaceRows() {
    using namespace imageprocessing;
    static const std::vector<ColorSpaceRow> rows = {
        ColorSpace<CMYKColorTransformation>("cmyk", "CMYK"),
        ColorSpace<HSIColorTransformation>("hsi", "HSI"),
        ColorSpace<HSLColorTransformation>("hsl", "HSL"),
        ColorSpace<HSVColorTransformation>("hsv", "HSV"),
        ColorSpace<LABColorTransformation>("lab", "LAB"),
        ColorSpace<LCHColorTransformation>("lch", "LCH"),
        ColorSpace<LUVColorTransformation>("luv", "LUV"),
        ColorSpace<SCHColorTransformation>("sch", "SCH"),
        ColorSpace<XYZColorTransformation>("xyz", "XYZ"),
        ColorSpace<YIQColorTransformation>("yiq", "YIQ"),
    };
    return rows;
}

std::vector<const Module*> AllModules() {
    std::vector<const Module*> modules;
    for (const ExtractorRow& row : ExtractorRows()) {
        modules.push_back(&row.module);
    }
    for (const ClassifierRow& row : ClassifierRows()) {
        modules.push_back(&row.module);
    }
    for (const ColorSpaceRow& row : ColorSpaceRows()) {
        modules.push_back(&row.module);
    }
    return modules;
}

}  // namespace velkar::ordana
