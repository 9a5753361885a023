#include "ordana/AlgorithmCatalog.h"

#include <cmath>
#include <stdexcept>

#include <boost/any.hpp>

#include "ordana/OneBasedClassifier.h"
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

// A colour space's group holds only its own flag, without help text.
template <typename Transformation>
ColorSpaceRow ColorSpace(const std::string& name, const std::string& caption) {
    const std::string flag = "cs-" + name;
    return {{name, flag, "RGB to " + caption, caption, {{flag, K::Switch, ""}}},
            [] { return std::make_shared<Transformation>(); }};
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
          {{"cnx", K::IntegerList, "Reference pixel relationship across x coordinate", "dx"},
           {"cny", K::IntegerList, "Reference pixel relationship across y coordinate", "dy"},
           {"cws", K::Integer, "Window size", "windowSize"}}},
         [](const OptionValues& v) {
             return std::make_shared<CoOccurrenceMatrix>(v.Integer("cws"), v.IntegerList("cnx"),
                                                         v.IntegerList("cny"));
         }},
        {{"wca",
          "wca",
          "Windowed Color Average",
          "Windowed Color Average options",
          {{"aws", K::Integer, "Window size", "windowSize"},
           {"anorm", K::Boolean, "Normalize each pixel", "normalize", "false"},
           {"aam", K::Boolean, "Add monochromatic band", "addMonochromaticBand", "false"}},
          {"aam", "anorm", "aws"}},
         [](const OptionValues& v) {
             return std::make_shared<ColorAverage>(v.Integer("aws"), v.Boolean("aam"),
                                                   v.Boolean("anorm"));
         }},
        {{"dft",
          "dft",
          "Discrete Fourier Transform algorithm",
          "Discrete Fourier Transform options",
          {{"fws", K::Integer, "Window size", "windowSize"},
           {"fcoeff", K::Integer, "Number of coefficients to keep", "coefficients"}},
          {"fcoeff", "fws"}},
         [](const OptionValues& v) {
             return std::make_shared<FourierTransform>(v.Integer("fws"), v.Integer("fcoeff"));
         }},
        {{"dwt",
          "dwt",
          "Wavelet Transform algorithm",
          "Wavelets options",
          {{"wws", K::Integer, "Window size", "windowSize"},
           {"wscale", K::Integer, "Scale", "scale"},
           {"wname", K::Text, "Wavelet name; db1, bior1.1, coif1, sym2", "waveletName"}},
          {"wscale", "wws", "wname"}},
         [](const OptionValues& v) {
             return std::make_shared<WaveletTransform>(v.Integer("wws"), v.Integer("wscale"),
                                                       v.Text("wname"));
         }},
        {{"hog",
          "hog",
          "Histogram of Oriented Gradients",
          "Histogram of Oriented Gradients options",
          {{"hwx", K::Integer, "Window x size", "blocksX"},
           {"hwy", K::Integer, "Window y size", "blocksY"},
           {"hbind", K::Integer, "Bindings", "bins"}}},
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
          {{"mhidden", K::IntegerList, "Size of each of the hidden layers (comma separated)",
            "hiddenLayerSizes"},
           {"mlr", K::Real, "Learning rate", "learningRate"},
           {"mm", K::Real, "Momentum", "momentum"},
           {"merr", K::Real, "Max error", "maxError"},
           {"miter",
            K::Integer,
            "Iterations",
            "iterations",
            {},
            AtLeast(0, "the number of iterations cannot be negative")}}},
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
          {{"rlr", K::Real, "Learning rate", "learningRate"},
           {"rclusters",
            K::Integer,
            "Clusters per class",
            "clustersPerClass",
            {},
            TableFits("center values per class")},
           {"riter", K::Integer, "Iterations", "epochs"}}},
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
          {{"a2f2", K::Integer, "F2 layer size", "f2Size"},
           {"a2a", K::Real, "A factor", "a"},
           {"a2b", K::Real, "B factor", "b"},
           {"a2c", K::Real, "C factor", "c"},
           {"a2d", K::Real, "D factor", "d"},
           {"a2theta", K::Real, "Theta factor", "theta"},
           {"a2rho", K::Real, "Rho factor", "rho"}}},
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
          {{"slat", K::Integer, "Lattice size", "latticeSize"},
           {"sradt0", K::Real, "Neighborhood radius t0 factor", "radiusFactor"},
           {"slrt0", K::Real, "Learning rate t0 factor", "learningRateFactor"},
           {"siter", K::Integer, "Iterations", "iterations"}}},
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
          {{"vqhid", K::Integer, "Hidden neuron count", "hiddenCount", {}, TableFits("weights")},
           {"vqout", K::Integer, "Output neuron count", "outputCount"},
           {"vqiter", K::Integer, "Iterations", "iterations"},
           {"vqalpha", K::Real, "Alpha", "alpha"}}},
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
          {{"mdcc", K::Integer, "Class count", "classCount", {}, TableFits("mean values")}}},
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
          {{"pkcc", K::Integer, "Class count", "classCount", {}, TableFits("point values")},
           {"pkiter", K::Integer, "Iterations", "iterations"}}},
         "Point K",
         // Its answers are point numbers from 1, which the program reads as class positions
         // from 0.
         [](const OptionValues& v, int) {
             return std::make_shared<OneBasedClassifier>(
                 std::make_shared<PointK>(v.Integer("pkcc"), v.Integer("pkiter")));
         },
         RestoreOneBased<PointK>},
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
