#include "ordana/AlgorithmCatalog.h"

#include <cmath>
#include <stdexcept>

#include <boost/any.hpp>

#include "ordana/OneBasedClassifier.h"
#include "ordana/ProtocolWriter.h"
#include "velkar/featureextraction/CoOccurrenceMatrix.h"
#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/featureextraction/FourierTransform.h"
#include "velkar/featureextraction/Hog.h"
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
#include "velkar/util/InvalidParameter.h"

namespace velkar::ordana {

namespace {

using K = OptionKind;

// Tables beyond this many values (prototypes, means, points) are refused before a classifier
// that builds them from the training patterns is trained.
constexpr long long kMaxTableEntries = 10'000'000;

// A value below minimum is refused for the reason given.
OptionRule AtLeast(int minimum, std::string reason) {
    return [minimum, reason](const OptionValues& values, const std::string& option,
                             int) -> std::optional<std::string> {
        if (values.Integer(option) < minimum) {
            return reason;
        }
        return std::nullopt;
    };
}

// A count whose table of count x features values would pass kMaxTableEntries is refused.
OptionRule TableFits(std::string what) {
    return [what](const OptionValues& values, const std::string& option,
                  int featureCount) -> std::optional<std::string> {
        const long long entries = static_cast<long long>(values.Integer(option)) * featureCount;
        if (entries > kMaxTableEntries) {
            return "with " + std::to_string(featureCount) + " features it needs " +
                   std::to_string(entries) + " " + what + ", more than " +
                   std::to_string(kMaxTableEntries);
        }
        return std::nullopt;
    };
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

// A colour space's group holds only its own flag, whose help says how the channels are stored
// and whether the space is safe near neutral colours.
template <typename Transformation>
ColorSpaceRow ColorSpace(const std::string& name, const std::string& caption,
                         const std::string& channels, bool safeNearNeutral) {
    const std::string flag = "cs-" + name;
    const std::string help =
        channels + (safeNearNeutral ? ". Safe near neutral colours (greys, white)."
                                    : ". Not safe near neutral colours (greys, white): a small "
                                      "change there can move a byte across its whole range.");
    return {{name, flag, "RGB to " + caption, caption, {{flag, K::Switch, help}}},
            [] { return std::make_shared<Transformation>(); },
            safeNearNeutral};
}

// Makes the algorithm, turning a refusal of the class into the message that names the option,
// then applies the program's own rules.
template <typename Make>
auto Checked(const Module& module, const OptionValues& values, int featureCount, Make make) {
    decltype(make()) made;
    try {
        made = make();
    } catch (const util::InvalidParameter& error) {
        const std::optional<std::string> message = RejectionMessage(error, module.options);
        throw std::invalid_argument(message ? *message : error.what());
    }
    for (const OptionDescription& option : module.options) {
        if (!option.rule) {
            continue;
        }
        if (const auto reason = option.rule(values, option.name, featureCount)) {
            throw std::invalid_argument(
                RejectionMessage({option.name}, {values.Written(option)}, *reason));
        }
    }
    return made;
}

}  // namespace

const OptionDescription* Module::Option(const std::string& name) const {
    for (const OptionDescription& option : options) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

std::vector<const OptionDescription*> Module::InWrittenOrder() const {
    std::vector<const OptionDescription*> ordered;
    if (writtenOrder.empty()) {
        for (const OptionDescription& option : options) {
            ordered.push_back(&option);
        }
    }
    for (const std::string& name : writtenOrder) {
        ordered.push_back(Option(name));
    }
    return ordered;
}

const std::vector<ExtractorRow>& ExtractorRows() {
    using namespace featureextraction;
    static const std::vector<ExtractorRow> rows = {
        {{"com",
          "com",
          "Co-Occurrence Matrix algorithm",
          "Co-Occurrence Matrix options",
          {{.name = "cnx",
            .kind = K::IntegerList,
            .caption = "Reference pixel relationship across x coordinate",
            .parameter = "dx",
            .range = "each from 1 - cws to cws - 1, paired with the items of --cny",
            .firstTry = "1 0"},
           {.name = "cny",
            .kind = K::IntegerList,
            .caption = "Reference pixel relationship across y coordinate",
            .parameter = "dy",
            .range = "each from 1 - cws to cws - 1, at least as many items as --cnx",
            .firstTry = "0 1"},
           {.name = "cws",
            .kind = K::Integer,
            .caption = "Window size",
            .parameter = "windowSize",
            .range = "1 or more",
            .firstTry = "8"}}},
         [](const OptionValues& v) {
             return std::make_shared<CoOccurrenceMatrix>(v.Integer("cws"), v.IntegerList("cnx"),
                                                         v.IntegerList("cny"));
         }},
        {{"wca",
          "wca",
          "Windowed Color Average",
          "Windowed Color Average options",
          {{.name = "aws",
            .kind = K::Integer,
            .caption = "Window size",
            .parameter = "windowSize",
            .range = "1 or more",
            .firstTry = "5"},
           {.name = "anorm",
            .kind = K::Boolean,
            .caption = "Normalize each pixel",
            .parameter = "normalize",
            .defaultValue = "false",
            .range = "true or false"},
           {.name = "aam",
            .kind = K::Boolean,
            .caption = "Add monochromatic band",
            .parameter = "addMonochromaticBand",
            .defaultValue = "false",
            .range = "true or false"}},
          {"aam", "anorm", "aws"}},
         [](const OptionValues& v) {
             return std::make_shared<ColorAverage>(v.Integer("aws"), v.Boolean("aam"),
                                                   v.Boolean("anorm"));
         }},
        {{"dft",
          "dft",
          "Discrete Fourier Transform algorithm",
          "Discrete Fourier Transform options",
          {{.name = "fws",
            .kind = K::Integer,
            .caption = "Window size",
            .parameter = "windowSize",
            .range = "1 to 1073741824",
            .firstTry = "8"},
           {.name = "fcoeff",
            .kind = K::Integer,
            .caption = "Number of coefficients to keep",
            .parameter = "coefficients",
            .range = "1 to (p + 1)^2 - 1, p the window padded to a power of two: 80 for --fws 8",
            .firstTry = "16"}},
          {"fcoeff", "fws"}},
         [](const OptionValues& v) {
             return std::make_shared<FourierTransform>(v.Integer("fws"), v.Integer("fcoeff"));
         }},
        {{"dwt",
          "dwt",
          "Wavelet Transform algorithm",
          "Wavelets options",
          {{.name = "wws",
            .kind = K::Integer,
            .caption = "Window size",
            .parameter = "windowSize",
            .range = "2 or more",
            .firstTry = "8"},
           {.name = "wscale",
            .kind = K::Integer,
            .caption = "Scale",
            .parameter = "scale",
            .range = "1 to log2 of the window padded to a power of two: 3 for --wws 8",
            .firstTry = "2"},
           {.name = "wname",
            .kind = K::Text,
            .caption = "Wavelet name; db1, bior1.1, coif1, sym2",
            .parameter = "waveletName",
            .range = "haar, db1 to db10, coif1 to coif5, sym2 to sym10, bior1.1 to bior6.8",
            .firstTry = "db2"}},
          {"wscale", "wws", "wname"}},
         [](const OptionValues& v) {
             return std::make_shared<WaveletTransform>(v.Integer("wws"), v.Integer("wscale"),
                                                       v.Text("wname"));
         }},
        {{"hog",
          "hog",
          "Histogram of Oriented Gradients",
          "Histogram of Oriented Gradients options",
          {{.name = "hwx",
            .kind = K::Integer,
            .caption = "Window x size",
            .parameter = "blocksX",
            .range = "1 or more",
            .firstTry = "2"},
           {.name = "hwy",
            .kind = K::Integer,
            .caption = "Window y size",
            .parameter = "blocksY",
            .range = "1 or more",
            .firstTry = "2"},
           {.name = "hbind",
            .kind = K::Integer,
            .caption = "Bindings",
            .parameter = "bins",
            .range = "1 or more",
            .firstTry = "9"}}},
         [](const OptionValues& v) {
             return std::make_shared<Hog>(v.Integer("hwx"), v.Integer("hwy"), v.Integer("hbind"));
         }},
    };
    return rows;
}

const std::vector<ClassifierRow>& ClassifierRows() {
    using namespace patternrecognition;
    static const std::vector<ClassifierRow> rows = {
        {{"mlp",
          "mlp",
          "Multi Layer Perceptron algorithm",
          "Multi Layer Perceptron options",
          {{.name = "mhidden",
            .kind = K::IntegerList,
            .caption = "Size of each of the hidden layers (comma separated)",
            .parameter = "hiddenLayerSizes",
            .range = "1 or more neurons per layer, at most 100 layers",
            .firstTry = "8"},
           {.name = "mlr",
            .kind = K::Real,
            .caption = "Learning rate",
            .parameter = "learningRate",
            .range = "above 0 and at most 1, usually 0.05 to 0.5",
            .firstTry = "0.3"},
           {.name = "mm",
            .kind = K::Real,
            .caption = "Momentum",
            .parameter = "momentum",
            .range = "0 or more and below 1, usually 0 to 0.9",
            .firstTry = "0.1"},
           {.name = "merr",
            .kind = K::Real,
            .caption = "Max error",
            .parameter = "maxError",
            .range = "a finite number; training stops below it",
            .firstTry = "0.01"},
           {.name = "miter",
            .kind = K::Integer,
            .caption = "Iterations",
            .parameter = "iterations",
            .rule = AtLeast(0, "the number of iterations cannot be negative"),
            .range = "0 or more",
            .firstTry = "300"}}},
         "Multilayer Perceptron",
         [](const OptionValues& v, int featureCount) {
             return std::make_shared<MultilayerPerceptron>(featureCount, v.IntegerList("mhidden"),
                                                           v.Real("mlr"), v.Real("mm"),
                                                           v.Real("merr"), v.Integer("miter"));
         },
         Restore<MultilayerPerceptron>},
        {{"rbf",
          "rbf",
          "Radial Basis Function NN algorithm",
          "Radial Basis Function NN options",
          {{.name = "rlr",
            .kind = K::Real,
            .caption = "Learning rate",
            .parameter = "learningRate",
            .range = "above 0 and at most 1",
            .firstTry = "0.1"},
           {.name = "rclusters",
            .kind = K::Integer,
            .caption = "Clusters per class",
            .parameter = "clustersPerClass",
            .rule = TableFits("center values per class"),
            .range = "1 or more",
            .firstTry = "2"},
           {.name = "riter",
            .kind = K::Integer,
            .caption = "Iterations",
            .parameter = "epochs",
            .range = "0 or more",
            .firstTry = "100"}}},
         "Radial Basis Function Network",
         [](const OptionValues& v, int) {
             return std::make_shared<RadialBasisFunctionNetwork>(
                 v.Real("rlr"), v.Integer("rclusters"), v.Integer("riter"));
         },
         Restore<RadialBasisFunctionNetwork>},
        {{"art2",
          "art2",
          "Adaptive Resonance Theory 2 algorithm",
          "Adaptive Resonance Theory 2 options",
          {{.name = "a2f2",
            .kind = K::Integer,
            .caption = "F2 layer size",
            .parameter = "f2Size",
            .range = "1 or more",
            .firstTry = "20"},
           {.name = "a2a",
            .kind = K::Real,
            .caption = "A factor",
            .parameter = "a",
            .range = "a finite number",
            .firstTry = "10"},
           {.name = "a2b",
            .kind = K::Real,
            .caption = "B factor",
            .parameter = "b",
            .range = "a finite number",
            .firstTry = "10"},
           {.name = "a2c",
            .kind = K::Real,
            .caption = "C factor",
            .parameter = "c",
            .range = "a finite number",
            .firstTry = "0.1"},
           {.name = "a2d",
            .kind = K::Real,
            .caption = "D factor",
            .parameter = "d",
            .range = "0 to 1, 1 excluded",
            .firstTry = "0.9"},
           {.name = "a2theta",
            .kind = K::Real,
            .caption = "Theta factor",
            .parameter = "theta",
            .range = "0 or more",
            .firstTry = "0.1"},
           {.name = "a2rho",
            .kind = K::Real,
            .caption = "Rho factor",
            .parameter = "rho",
            .range = "0 to 1",
            .firstTry = "0.99"}}},
         "Adaptive Resonance Theory 2",
         [](const OptionValues& v, int featureCount) {
             return std::make_shared<AdaptiveResonanceTheory2>(
                 featureCount, v.Integer("a2f2"), v.Real("a2a"), v.Real("a2b"), v.Real("a2c"),
                 v.Real("a2d"), v.Real("a2theta"), v.Real("a2rho"));
         },
         Restore<AdaptiveResonanceTheory2>},
        {{"som",
          "som",
          "Self Organizing Map algorithm",
          "Self Organizing Map options",
          {{.name = "slat",
            .kind = K::Integer,
            .caption = "Lattice size",
            .parameter = "latticeSize",
            .range = "1 or more",
            .firstTry = "5"},
           {.name = "sradt0",
            .kind = K::Real,
            .caption = "Neighborhood radius t0 factor",
            .parameter = "radiusFactor",
            .range = "slat x sradt0 at least 1",
            .firstTry = "0.5"},
           {.name = "slrt0",
            .kind = K::Real,
            .caption = "Learning rate t0 factor",
            .parameter = "learningRateFactor",
            .range = "above 0 and at most 1",
            .firstTry = "0.5"},
           {.name = "siter",
            .kind = K::Integer,
            .caption = "Iterations",
            .parameter = "iterations",
            .range = "0 or more",
            .firstTry = "500"}}},
         "Self Organizing Map",
         [](const OptionValues& v, int featureCount) {
             return std::make_shared<SelfOrganizingMap>(v.Integer("slat"), featureCount,
                                                        v.Real("sradt0"), v.Real("slrt0"),
                                                        v.Integer("siter"));
         },
         Restore<SelfOrganizingMap>},
        {{"lvq",
          "lvq",
          "Learning Vector Quantization algorithm",
          "Learning Vector Quantization options",
          {{.name = "vqhid",
            .kind = K::Integer,
            .caption = "Hidden neuron count",
            .parameter = "hiddenCount",
            .rule = TableFits("weights"),
            .range = "--vqout or more",
            .firstTry = "5 per class"},
           {.name = "vqout",
            .kind = K::Integer,
            .caption = "Output neuron count",
            .parameter = "outputCount",
            .range = "the number of classes or more",
            .firstTry = "the number of classes"},
           {.name = "vqiter",
            .kind = K::Integer,
            .caption = "Iterations",
            .parameter = "iterations",
            .range = "1 or more",
            .firstTry = "200"},
           {.name = "vqalpha",
            .kind = K::Real,
            .caption = "Alpha",
            .parameter = "alpha",
            .range = "above 0 and at most 1",
            .firstTry = "0.1"}}},
         "Learning Vector Quantization",
         [](const OptionValues& v, int) {
             return std::make_shared<OneBasedClassifier>(
                 std::make_shared<LearningVectorQuantization>(
                     v.Integer("vqhid"), v.Integer("vqout"), v.Integer("vqiter"),
                     v.Real("vqalpha")),
                 "vqout", v.Integer("vqout"));
         },
         RestoreOneBased<LearningVectorQuantization>},
        {{"mahd",
          "mahd",
          "Mahalanobis Distance algorithm",
          "Mahalanobis Distance options",
          {{.name = "mdcc",
            .kind = K::Integer,
            .caption = "Class count",
            .parameter = "classCount",
            .rule = TableFits("mean values"),
            .range = "the number of classes or more",
            .firstTry = "the number of classes"}}},
         "Mahalanobis Distance",
         [](const OptionValues& v, int) {
             return std::make_shared<OneBasedClassifier>(
                 std::make_shared<MahalanobisDistance>(v.Integer("mdcc")), "mdcc",
                 v.Integer("mdcc"));
         },
         RestoreOneBased<MahalanobisDistance>,
         [](int featureCount) -> std::optional<std::string> {
             const long long covariance = static_cast<long long>(featureCount) * featureCount;
             if (covariance > kMaxTableEntries) {
                 return "their covariance matrix would hold " + std::to_string(covariance) +
                        " values, more than " + std::to_string(kMaxTableEntries);
             }
             return std::nullopt;
         }},
        {{"pntk",
          "pntk",
          "Point K algorithm",
          "Point K options",
          {{.name = "pkcc",
            .kind = K::Integer,
            .caption = "Class count",
            .parameter = "classCount",
            .rule = TableFits("point values"),
            .range = "1 or more",
            .firstTry = "the number of classes"},
           {.name = "pkiter",
            .kind = K::Integer,
            .caption = "Iterations",
            .parameter = "iterations",
            .range = "0 or more",
            .firstTry = "10"}}},
         "Point K",
         // Its answers are point numbers from 1, which the program reads as class positions
         // from 0. The front end's protocol carries the training-set size on a line of its own.
         [](const OptionValues& v, int) {
             auto pointK = std::make_shared<PointK>(v.Integer("pkcc"), v.Integer("pkiter"));
             pointK->SetTrainingSizeReport(
                 [](std::size_t size) { Protocol().Bare(std::to_string(size)); });
             return std::make_shared<OneBasedClassifier>(pointK);
         },
         RestoreOneBased<PointK>,
         {},
         true},
    };
    return rows;
}

const std::vector<ColorSpaceRow>& ColorSpaceRows() {
    using namespace imageprocessing;
    static const std::vector<ColorSpaceRow> rows = {
        ColorSpace<CMYKColorTransformation>(
            "cmyk", "CMYK", "Cyan, magenta and yellow after under-colour removal, each 0 to 255",
            true),
        ColorSpace<HSIColorTransformation>(
            "hsi", "HSI",
            "Hue, saturation and intensity as bytes; the hue is circular (0 and 255 are "
            "neighbours at red) and undefined for greys",
            false),
        ColorSpace<HSLColorTransformation>(
            "hsl", "HSL",
            "Hue, saturation and lightness as bytes; the hue is circular (0 and 255 are "
            "neighbours at red), and every grey becomes (1, 0, 0)",
            false),
        ColorSpace<HSVColorTransformation>(
            "hsv", "HSV",
            "Hue, saturation and value as bytes; the hue is circular (0 and 255 are neighbours "
            "at red) and undefined for greys",
            false),
        ColorSpace<LABColorTransformation>(
            "lab", "LAB",
            "L*, a* + 127 and b* + 127 as bytes, with wrap-around; near white the XYZ step "
            "wraps and b* jumps (white gives 242)",
            false),
        ColorSpace<LCHColorTransformation>(
            "lch", "LCH",
            "Lightness, chroma and hue on the LAB bytes; chroma above 100 wraps and the hue is "
            "undefined for greys",
            false),
        ColorSpace<LUVColorTransformation>(
            "luv", "LUV",
            "L*, u* and v* scaled into bytes; near white the XYZ step wraps and u*, v* jump",
            false),
        ColorSpace<SCHColorTransformation>(
            "sch", "SCH",
            "Saturation, chroma and hue in the LUV space as bytes; the hue is undefined for "
            "greys and chroma above 255 wraps",
            false),
        ColorSpace<XYZColorTransformation>("xyz", "XYZ",
                                           "X, Y and Z by the CIE RGB matrix, each 0 to 255", true),
        ColorSpace<YIQColorTransformation>(
            "yiq", "YIQ",
            "Y, I and Q as bytes without offset: a negative I or Q wraps to a large byte (an I "
            "of -82 is stored as 174), so both jump between 0 and 255 at every grey",
            false),
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

ExtractorPointer BuildExtractor(const ExtractorRow& row, const OptionValues& values,
                                std::string& parameters) {
    ExtractorPointer extractor = Checked(row.module, values, 0, [&] { return row.build(values); });
    parameters = "--" + row.module.flag;
    for (const OptionDescription* option : row.module.InWrittenOrder()) {
        parameters += " --" + option->name + " " + values.Written(*option);
    }
    return extractor;
}

ClassifierPointer CreateClassifier(const ClassifierRow& row, const OptionValues& values,
                                   int featureCount) {
    ClassifierPointer classifier =
        Checked(row.module, values, featureCount, [&] { return row.create(values, featureCount); });
    if (row.featureLimit) {
        if (const auto reason = row.featureLimit(featureCount)) {
            throw std::invalid_argument("The option '--" + row.module.flag +
                                        "' cannot be used with " + std::to_string(featureCount) +
                                        " features: " + *reason + ".");
        }
    }
    return classifier;
}

void CheckKinds(const Module& module, const OptionValues& values) {
    for (const OptionDescription* option : module.InWrittenOrder()) {
        if (option->Required() && !values.Has(option->name)) {
            throw std::runtime_error(MissingParameterMessage(option->name));
        }
    }
    for (const auto& [name, value] : values.Map()) {
        const auto* real = boost::any_cast<double>(&value.value());
        if (real != nullptr && !std::isfinite(*real)) {
            throw std::invalid_argument(
                RejectionMessage({name}, {std::to_string(*real)}, "it must be a finite number"));
        }
    }
}

}  // namespace velkar::ordana
