#include "ordana/AlgorithmCatalog.h"

#include <cstdint>
#include <sstream>
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
#include "velkar/patternrecognition/AdaptiveResonanceTheory2.h"
#include "velkar/patternrecognition/MultilayerPerceptron.h"
#include "velkar/patternrecognition/RadialBasisFunctionNetwork.h"
#include "velkar/patternrecognition/SelfOrganizingMap.h"

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

// A real as the user would have typed it ("0.5", not "0.500000").
std::string RealText(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// Rejects a real option value outside the range the algorithm works in, naming the option.
void RequireReal(const std::string& option, double value, bool usable, const std::string& what) {
    if (!usable) {
        throw std::invalid_argument("Invalid value for option '--" + option +
                                    "': " + RealText(value) + " (" + what + ").");
    }
}

// Classifiers whose options imply more weights or neurons than this are refused before anything
// is allocated: such a model would not fit in memory, or would take days to train.
constexpr std::int64_t maximumModelSize = 10'000'000;

void RequireModelSize(const std::string& option, int value, std::int64_t size,
                      const std::string& what) {
    if (size > maximumModelSize) {
        throw std::invalid_argument("Invalid value for option '--" + option +
                                    "': " + std::to_string(value) + " (" + what + " gives " +
                                    std::to_string(size) + ", more than " +
                                    std::to_string(maximumModelSize) + ").");
    }
}

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

ClassifierPointer CreateRadialBasis(const po::variables_map& values, int inputSize) {
    const int clusters = values["rclusters"].as<int>();
    const int iterations = values["riter"].as<int>();
    RequireAtLeast("rclusters", clusters, 1, "every class needs at least 1 cluster");
    RequireAtLeast("riter", iterations, 0, "the number of iterations cannot be negative");
    RequireModelSize("rclusters", clusters, std::int64_t{clusters} * inputSize,
                     "rclusters x " + std::to_string(inputSize) + " features (center values)");
    return std::make_shared<patternrecognition::RadialBasisFunctionNetwork>(
        values["rlr"].as<double>(), clusters, iterations);
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

ClassifierPointer CreateResonance(const po::variables_map& values, int inputSize) {
    const int f2Size = values["a2f2"].as<int>();
    const double d = values["a2d"].as<double>();
    const double theta = values["a2theta"].as<double>();
    const double rho = values["a2rho"].as<double>();
    RequireAtLeast("a2f2", f2Size, 1, "the F2 layer needs at least 1 neuron");
    RequireReal("a2d", d, d >= 0.0 && d < 1.0,
                "it must lie in [0, 1) since learning divides by 1 - d");
    RequireReal("a2theta", theta, theta >= 0.0, "the noise threshold cannot be negative");
    RequireReal("a2rho", rho, rho >= 0.0 && rho <= 1.0, "the vigilance must lie in [0, 1]");
    RequireModelSize("a2f2", f2Size, 2 * std::int64_t{f2Size} * inputSize,
                     "2 x a2f2 x " + std::to_string(inputSize) + " features (weights)");
    return std::make_shared<patternrecognition::AdaptiveResonanceTheory2>(
        inputSize, f2Size, values["a2a"].as<double>(), values["a2b"].as<double>(),
        values["a2c"].as<double>(), d, theta, rho);
}

// Self-organizing map.

void DeclareSelfOrganizingMapOptions(po::options_description_easy_init add) {
    add("slat", po::value<int>(), "Lattice size");
    add("sradt0", po::value<double>(), "Neighborhood radius t0 factor");
    add("slrt0", po::value<double>(), "Learning rate t0 factor");
    add("siter", po::value<int>(), "Iterations");
}

ClassifierPointer CreateSelfOrganizingMap(const po::variables_map& values, int inputSize) {
    const int lattice = values["slat"].as<int>();
    const double radiusFactor = values["sradt0"].as<double>();
    const int iterations = values["siter"].as<int>();
    RequireAtLeast("slat", lattice, 1, "the lattice needs at least 1 neuron per side");
    RequireAtLeast("siter", iterations, 0, "the number of iterations cannot be negative");
    // Below 1 the radius time constant turns negative and the learning rate grows without bound.
    RequireReal("sradt0", radiusFactor, lattice * radiusFactor >= 1.0,
                "slat x sradt0 is the initial radius and must be at least 1");
    RequireModelSize("slat", lattice, std::int64_t{lattice} * lattice * inputSize,
                     "slat x slat x " + std::to_string(inputSize) + " features (weights)");
    return std::make_shared<patternrecognition::SelfOrganizingMap>(
        lattice, inputSize, radiusFactor, values["slrt0"].as<double>(), iterations);
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
         CreateRadialBasis,
         Restore<patternrecognition::RadialBasisFunctionNetwork>},
        {{"art2",
          "art2",
          "Adaptive Resonance Theory 2 algorithm",
          "Adaptive Resonance Theory 2 options",
          DeclareResonanceOptions,
          {"a2f2", "a2a", "a2b", "a2c", "a2d", "a2theta", "a2rho"}},
         "Adaptive Resonance Theory 2",
         CreateResonance,
         Restore<patternrecognition::AdaptiveResonanceTheory2>},
        {{"som",
          "som",
          "Self Organizing Map algorithm",
          "Self Organizing Map options",
          DeclareSelfOrganizingMapOptions,
          {"slat", "sradt0", "slrt0", "siter"}},
         "Self Organizing Map",
         CreateSelfOrganizingMap,
         Restore<patternrecognition::SelfOrganizingMap>},
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
