#include "ordana/AlgorithmCatalog.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "ordana/EchoedInput.h"
#include "ordana/OneBasedClassifier.h"
#include "velkar/featureextraction/CoOccurrenceMatrix.h"
#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/featureextraction/FourierTransform.h"
#include "velkar/featureextraction/Hog.h"
#include "velkar/featureextraction/PaddedWindow.h"
#include "velkar/featureextraction/WaveletTransform.h"
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
#include "velkar/patternrecognition/LearningVectorQuantization.h"
#include "velkar/patternrecognition/MahalanobisDistance.h"
#include "velkar/patternrecognition/MultilayerPerceptron.h"
#include "velkar/patternrecognition/PointK.h"
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

void RequireAtMost(const std::string& option, int value, int maximum, const std::string& what) {
    if (value > maximum) {
        throw std::invalid_argument("Invalid value for option '--" + option +
                                    "': " + std::to_string(value) + " (" + what + ").");
    }
}

// The window of the spectral extractors, padded to a power of two, must fit an int.
void RequireSpectralWindowSize(const std::string& option, int windowSize) {
    RequireAtLeast(option, windowSize, 1, "the window size must be at least 1");
    RequireAtMost(option, windowSize, featureextraction::PaddedWindow::kLargestWindowSize,
                  "the window size must be at most " +
                      std::to_string(featureextraction::PaddedWindow::kLargestWindowSize));
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

// Tables beyond this many values (weights, prototypes, means) are refused before any is
// allocated.
constexpr long long maxTableEntries = 10'000'000;

// Rejects a count whose table of count x width values would be larger than maxTableEntries.
void RequireTableFits(const std::string& option, int count, int width, const std::string& what) {
    const long long entries = static_cast<long long>(count) * static_cast<long long>(width);
    if (entries > maxTableEntries) {
        throw std::invalid_argument(
            "Invalid value for option '--" + option + "': " + std::to_string(count) + " (with " +
            std::to_string(width) + " features it needs " + std::to_string(entries) + " " + what +
            ", more than " + std::to_string(maxTableEntries) + ").");
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

std::string JoinedList(const IntList& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : ",") + std::to_string(items[i]);
    }
    return text;
}

// A displacement step that reaches the window size pairs no pixel inside a window. Only the
// first count steps form displacements.
void RequireStepsInsideWindow(const std::string& option, const IntList& steps, std::size_t count,
                              int windowSize) {
    const std::string what = "a displacement must stay inside the window, from " +
                             std::to_string(1 - windowSize) + " to " +
                             std::to_string(windowSize - 1);
    for (std::size_t k = 0; k < count; ++k) {
        RequireAtLeast(option, steps[k], 1 - windowSize, what);
        RequireAtMost(option, steps[k], windowSize - 1, what);
    }
}

ExtractorPointer BuildCoOccurrence(const po::variables_map& values, std::string& parameters) {
    const IntList dx = values["cnx"].as<IntList>();
    const IntList dy = values["cny"].as<IntList>();
    const int windowSize = values["cws"].as<int>();
    RequireAtLeast("cws", windowSize, 1, "the window size must be at least 1");
    if (dx.empty() || dy.empty()) {
        throw std::invalid_argument("Invalid value for option '--" +
                                    std::string(dx.empty() ? "cnx" : "cny") +
                                    "': an empty list (at least one displacement is needed).");
    }
    if (dy.size() < dx.size()) {
        throw std::invalid_argument(
            "Invalid value for option '--cny': " + EchoedInput(JoinedList(dy)) +
            " (it needs at least as many items as --cnx, which has " + std::to_string(dx.size()) +
            ").");
    }
    // Items of cny past the length of cnx are kept in the string but pair with nothing.
    RequireStepsInsideWindow("cnx", dx, dx.size(), windowSize);
    RequireStepsInsideWindow("cny", dy, dx.size(), windowSize);
    parameters = "--com --cnx " + JoinedList(dx) + " --cny " + JoinedList(dy) + " --cws " +
                 std::to_string(windowSize);
    return std::make_shared<featureextraction::CoOccurrenceMatrix>(windowSize, dx, dy);
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

ExtractorPointer BuildFourier(const po::variables_map& values, std::string& parameters) {
    const int coefficients = values["fcoeff"].as<int>();
    const int windowSize = values["fws"].as<int>();
    RequireSpectralWindowSize("fws", windowSize);
    const int largest = featureextraction::FourierTransform::MaximumCoefficients(windowSize);
    const std::string range =
        "floor(sqrt(fcoeff)) frequencies are kept along each axis of the window padded to a "
        "power of two, so it must lie between 1 and " +
        std::to_string(largest) + " for window size " + std::to_string(windowSize);
    RequireAtLeast("fcoeff", coefficients, 1, range);
    RequireAtMost("fcoeff", coefficients, largest, range);
    parameters =
        "--dft --fcoeff " + std::to_string(coefficients) + " --fws " + std::to_string(windowSize);
    return std::make_shared<featureextraction::FourierTransform>(windowSize, coefficients);
}

// Histogram of oriented gradients.

void DeclareHogOptions(po::options_description_easy_init add) {
    add("hwx", po::value<int>(), "Window x size");
    add("hwy", po::value<int>(), "Window y size");
    add("hbind", po::value<int>(), "Bindings");
}

ExtractorPointer BuildHog(const po::variables_map& values, std::string& parameters) {
    const int blocksX = values["hwx"].as<int>();
    const int blocksY = values["hwy"].as<int>();
    const int bins = values["hbind"].as<int>();
    RequireAtLeast("hwx", blocksX, 1, "at least 1 block across x is needed");
    RequireAtLeast("hwy", blocksY, 1, "at least 1 block across y is needed");
    RequireAtLeast("hbind", bins, 1, "at least 1 orientation bin is needed");
    const long long features = static_cast<long long>(blocksX) * blocksY * bins;
    if (features > featureextraction::Hog::kMaxFeatureCount) {
        throw std::invalid_argument(
            "Invalid values for options '--hwx', '--hwy' and '--hbind': " +
            std::to_string(blocksX) + ", " + std::to_string(blocksY) + " and " +
            std::to_string(bins) + " (they give " + std::to_string(features) +
            " values per descriptor, more than " +
            std::to_string(featureextraction::Hog::kMaxFeatureCount) + ").");
    }
    parameters = "--hog --hwx " + std::to_string(blocksX) + " --hwy " + std::to_string(blocksY) +
                 " --hbind " + std::to_string(bins);
    return std::make_shared<featureextraction::Hog>(blocksX, blocksY, bins);
}

// Wavelets.

void DeclareWaveletOptions(po::options_description_easy_init add) {
    add("wws", po::value<int>(), "Window size");
    add("wscale", po::value<int>(), "Scale");
    add("wname", po::value<std::string>(), "Wavelet name; db1, bior1.1, coif1, sym2");
}

ExtractorPointer BuildWavelet(const po::variables_map& values, std::string& parameters) {
    const int scale = values["wscale"].as<int>();
    const int windowSize = values["wws"].as<int>();
    const std::string name = values["wname"].as<std::string>();
    RequireAtLeast("wscale", scale, 1, "at least one decomposition level is needed");
    RequireSpectralWindowSize("wws", windowSize);
    const int largest = featureextraction::WaveletTransform::MaximumScale(windowSize);
    RequireAtMost("wscale", scale, largest,
                  "2^wscale must not exceed the window padded to a power of two: at most " +
                      std::to_string(largest) + " for window size " + std::to_string(windowSize));
    const std::vector<std::string> names = featureextraction::WaveletTransform::WaveletNames();
    if (std::find(names.begin(), names.end(), name) == names.end()) {
        std::string valid;
        for (const std::string& known : names) {
            valid += (valid.empty() ? "" : ", ") + known;
        }
        throw std::invalid_argument("Invalid value for option '--wname': " + EchoedInput(name) +
                                    " (valid names: " + valid + ").");
    }
    parameters = "--dwt --wscale " + std::to_string(scale) + " --wws " +
                 std::to_string(windowSize) + " --wname " + name;
    return std::make_shared<featureextraction::WaveletTransform>(windowSize, scale, name);
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

// Rejects hidden layers whose weights (each neuron one per input of its layer plus a bias)
// would be more than maxTableEntries; the output layer, sized by the classes, comes on top.
void RequireHiddenLayersFit(const IntList& hidden, int inputSize) {
    long long weights = 0;
    long long inputs = inputSize;
    for (int size : hidden) {
        weights += (inputs + 1) * size;
        inputs = size;
        if (weights > maxTableEntries) {
            throw std::invalid_argument(
                "Invalid value for option '--mhidden': " + EchoedInput(JoinedList(hidden)) +
                " (with " + std::to_string(inputSize) +
                " features the hidden layers need more than " + std::to_string(maxTableEntries) +
                " weights).");
        }
    }
}

ClassifierPointer CreatePerceptron(const po::variables_map& values, int inputSize) {
    const IntList hidden = values["mhidden"].as<IntList>();
    for (int size : hidden) {
        RequireAtLeast("mhidden", size, 1, "every hidden layer needs at least 1 neuron");
    }
    RequireHiddenLayersFit(hidden, inputSize);
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
    RequireTableFits("rclusters", clusters, inputSize, "center values per class");
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
    RequireTableFits("a2f2", f2Size, inputSize, "bottom-up and as many top-down weights");
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
    // A real: slat x slat x features can exceed every integer type.
    const double weights = static_cast<double>(lattice) * lattice * inputSize;
    if (weights > maxTableEntries) {
        throw std::invalid_argument(
            "Invalid value for option '--slat': " + std::to_string(lattice) + " (with " +
            std::to_string(inputSize) + " features slat x slat neurons need " + RealText(weights) +
            " weights, more than " + std::to_string(maxTableEntries) + ").");
    }
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

ClassifierPointer CreateVectorQuantization(const po::variables_map& values, int inputSize) {
    const int hidden = values["vqhid"].as<int>();
    const int outputs = values["vqout"].as<int>();
    const int iterations = values["vqiter"].as<int>();
    RequireAtLeast("vqout", outputs, 1, "there must be at least 1 class");
    // Every class needs a block of at least one neuron.
    RequireAtLeast("vqhid", hidden, outputs,
                   "at least one neuron per class, " + std::to_string(outputs) + " in all");
    RequireAtLeast("vqiter", iterations, 1, "at least 1 iteration is needed");
    RequireTableFits("vqhid", hidden, inputSize, "weights");
    return std::make_shared<OneBasedClassifier>(
        std::make_shared<patternrecognition::LearningVectorQuantization>(
            hidden, outputs, iterations, values["vqalpha"].as<double>()),
        "vqout", outputs);
}

// Mahalanobis distance.

void DeclareMahalanobisOptions(po::options_description_easy_init add) {
    add("mdcc", po::value<int>(), "Class count");
}

ClassifierPointer CreateMahalanobis(const po::variables_map& values, int inputSize) {
    const int classCount = values["mdcc"].as<int>();
    RequireAtLeast("mdcc", classCount, 1, "there must be at least 1 class");
    RequireTableFits("mdcc", classCount, inputSize, "mean values");
    const long long covariance = static_cast<long long>(inputSize) * inputSize;
    if (covariance > maxTableEntries) {
        throw std::invalid_argument(
            "The option '--mahd' cannot be used with " + std::to_string(inputSize) +
            " features: their covariance matrix would hold " + std::to_string(covariance) +
            " values, more than " + std::to_string(maxTableEntries) + ".");
    }
    return std::make_shared<OneBasedClassifier>(
        std::make_shared<patternrecognition::MahalanobisDistance>(classCount), "mdcc", classCount);
}

// Point K.

void DeclarePointKOptions(po::options_description_easy_init add) {
    add("pkcc", po::value<int>(), "Class count");
    add("pkiter", po::value<int>(), "Iterations");
}

ClassifierPointer CreatePointK(const po::variables_map& values, int inputSize) {
    const int pointCount = values["pkcc"].as<int>();
    const int iterations = values["pkiter"].as<int>();
    RequireAtLeast("pkcc", pointCount, 1, "there must be at least 1 point");
    RequireAtLeast("pkiter", iterations, 0, "the number of iterations cannot be negative");
    RequireTableFits("pkcc", pointCount, inputSize, "point values");
    // Its answers are point numbers from 1, which the program reads as class positions from 0.
    return std::make_shared<OneBasedClassifier>(
        std::make_shared<patternrecognition::PointK>(pointCount, iterations));
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
         BuildCoOccurrence},
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
         BuildFourier},
        {{"dwt",
          "dwt",
          "Wavelet Transform algorithm",
          "Wavelets options",
          DeclareWaveletOptions,
          {"wscale", "wws", "wname"}},
         BuildWavelet},
        {{"hog",
          "hog",
          "Histogram of Oriented Gradients",
          "Histogram of Oriented Gradients options",
          DeclareHogOptions,
          {"hwx", "hwy", "hbind"}},
         BuildHog},
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
         CreateVectorQuantization,
         RestoreOneBased<patternrecognition::LearningVectorQuantization>},
        {{"mahd",
          "mahd",
          "Mahalanobis Distance algorithm",
          "Mahalanobis Distance options",
          DeclareMahalanobisOptions,
          {"mdcc"}},
         "Mahalanobis Distance",
         CreateMahalanobis,
         RestoreOneBased<patternrecognition::MahalanobisDistance>},
        {{"pntk",
          "pntk",
          "Point K algorithm",
          "Point K options",
          DeclarePointKOptions,
          {"pkcc", "pkiter"}},
         "Point K",
         CreatePointK,
         RestoreOneBased<patternrecognition::PointK>},
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
