#include "ordana/ParameterParser.h"

#include <cctype>
#include <iostream>
#include <stdexcept>
#include <utility>

#include "ordana/AlgorithmCatalog.h"
#include "ordana/OneBasedClassifier.h"
#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"

namespace po = boost::program_options;

namespace velkar::ordana {

namespace {

const char* const kGeneral = "General options";
const char* const kFeatureExtraction = "Feature extraction options";
const char* const kClassification = "Classification options";
const char* const kColorSpace = "Color space transformation";

// Module names accepted by --help-module and the group each one prints, in matching order.
const std::vector<std::pair<std::string, std::string>>& HelpModules() {
    static const std::vector<std::pair<std::string, std::string>> modules = {
        {"wca", "Windowed Color Average options"},
        {"com", "Co-Occurrence Matrix options"},
        {"dft", "Discrete Fourier Transform options"},
        {"dwt", "Wavelets options"},
        {"hog", "Histogram of Oriented Gradients options"},
        {"mlp", "Multi Layer Perceptron options"},
        {"rbf", "Radial Basis Function NN options"},
        {"art2", "Adaptive Resonance Theory 2 options"},
        {"som", "Self Organizing Map options"},
        {"mahd", "Mahalanobis Distance options"},
        {"pntk", "Point K options"},
        {"lvq", "Learning Vector Quantization options"},
        {"cmyk", "CMYK"},
        {"hsi", "HSI"},
        {"hsl", "HSL"},
        {"hsv", "HSV"},
        {"lab", "LAB"},
        {"lch", "LCH"},
        {"luv", "LUV"},
        {"sch", "SCH"},
        {"xyz", "XYZ"},
        {"yiq", "YIQ"},
    };
    return modules;
}

// Cuts a parameter string at every blank (two blanks in a row give an empty token). The items
// of an integer list are written joined by commas; they are split back into separate tokens so
// that the list reads back as it was written.
std::vector<std::string> ParameterTokens(const std::string& parameters) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    while (true) {
        auto blank = parameters.find(' ', start);
        pieces.push_back(parameters.substr(start, blank - start));
        if (blank == std::string::npos) {
            break;
        }
        start = blank + 1;
    }
    if (parameters.empty()) {
        pieces.clear();
    }
    std::vector<std::string> tokens;
    std::string option;
    for (const std::string& piece : pieces) {
        if (piece.rfind("--", 0) == 0) {
            option = piece.substr(2);
            tokens.push_back(piece);
            continue;
        }
        if (IsIntegerListOption(option) && piece.find(',') != std::string::npos) {
            std::string::size_type from = 0;
            while (true) {
                auto comma = piece.find(',', from);
                tokens.push_back(piece.substr(from, comma - from));
                if (comma == std::string::npos) {
                    break;
                }
                from = comma + 1;
            }
        } else {
            tokens.push_back(piece);
        }
    }
    return tokens;
}

}  // namespace

void LogMessage(const std::string& text) {
    std::cout << "[LOGMESSAGE] !" << text << "!" << std::endl;
}

ParameterParser::ParameterParser(int argc, const char* const* argv)
    : allowedOptions("Allowed options", po::options_description::m_default_line_length,
                     po::options_description::m_default_line_length / 2),
      ordanaOptions("Ordana options", po::options_description::m_default_line_length,
                    po::options_description::m_default_line_length / 2) {
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    DeclareOptions();
}

ParameterParser::~ParameterParser() = default;

ParameterParser::OptionGroup& ParameterParser::AddGroup(const std::string& caption) {
    auto group =
        std::make_unique<OptionGroup>(caption, po::options_description::m_default_line_length,
                                      po::options_description::m_default_line_length / 2);
    OptionGroup& added = *group;
    groups[caption] = std::move(group);
    return added;
}

const ParameterParser::OptionGroup& ParameterParser::Group(const std::string& caption) const {
    return *groups.at(caption);
}

// The option table is laid out by hand, one option per line, in the order the help shows it.
// clang-format off
void ParameterParser::DeclareOptions() {
    using IntList = std::vector<int>;

    AddGroup(kGeneral).add_options()
        ("help,h", "Displays this text")
        ("help-module", po::value<std::string>(), "Displays the help information for the given module")
        ("file,f", po::value<std::string>(), "Path to the file containing the polygons descriptions")
        ("image,i", po::value<std::string>(), "Path to the file containing the image")
        ("output,o", po::value<std::string>(), "Prefix for the output files")
        ("chatty,c", po::value<bool>(), "Prints information for UI interface")
        ("experiments,e", po::value<int>(), "Experiment repetition number")
        ("modelfile,m", po::value<std::string>(), "Path to the file containing the trained model")
        ("sampling,s", po::value<std::string>(), "Sampling method to be used in the classification process")
        ("version,v", "Shows the version information of this software");

    AddGroup(kFeatureExtraction).add_options()
        ("com", "Co-Occurrence Matrix algorithm")
        ("wca", "Windowed Color Average")
        ("dft", "Discrete Fourier Transform algorithm")
        ("dwt", "Wavelet Transform algorithm")
        ("hog", "Histogram of Oriented Gradients");

    AddGroup(kClassification).add_options()
        ("mlp", "Multi Layer Perceptron algorithm")
        ("rbf", "Radial Basis Function NN algorithm")
        ("art2", "Adaptive Resonance Theory 2 algorithm")
        ("som", "Self Organizing Map algorithm")
        ("lvq", "Learning Vector Quantization algorithm")
        ("mahd", "Mahalanobis Distance algorithm")
        ("pntk", "Point K algorithm");

    AddGroup(kColorSpace).add_options()
        ("cs-cmyk", "RGB to CMYK")
        ("cs-hsi", "RGB to HSI")
        ("cs-hsl", "RGB to HSL")
        ("cs-hsv", "RGB to HSV")
        ("cs-lab", "RGB to LAB")
        ("cs-lch", "RGB to LCH")
        ("cs-luv", "RGB to LUV")
        ("cs-sch", "RGB to SCH")
        ("cs-xyz", "RGB to XYZ")
        ("cs-yiq", "RGB to YIQ");

    AddGroup("Co-Occurrence Matrix options").add_options()
        ("cnx", po::value<IntList>()->multitoken()->composing(), "Reference pixel relationship across x coordinate")
        ("cny", po::value<IntList>()->multitoken()->composing(), "Reference pixel relationship across y coordinate")
        ("cws", po::value<int>(), "Window size");

    AddGroup("Windowed Color Average options").add_options()
        ("aws", po::value<int>(), "Window size")
        ("anorm", po::value<bool>()->default_value(false, "false"), "Normalize each pixel")
        ("aam", po::value<bool>()->default_value(false, "false"), "Add monochromatic band");

    AddGroup("Discrete Fourier Transform options").add_options()
        ("fws", po::value<int>(), "Window size")
        ("fcoeff", po::value<int>(), "Number of coefficients to keep");

    AddGroup("Histogram of Oriented Gradients options").add_options()
        ("hwx", po::value<int>(), "Window x size")
        ("hwy", po::value<int>(), "Window y size")
        ("hbind", po::value<int>(), "Bindings");

    AddGroup("Wavelets options").add_options()
        ("wws", po::value<int>(), "Window size")
        ("wscale", po::value<int>(), "Scale")
        ("wname", po::value<std::string>(), "Wavelet name; db1, bior1.1, coif1, sym2");

    AddGroup("Multi Layer Perceptron options").add_options()
        ("mhidden", po::value<IntList>()->multitoken()->composing(), "Size of each of the hidden layers (comma separated)")
        ("mlr", po::value<double>(), "Learning rate")
        ("mm", po::value<double>(), "Momentum")
        ("merr", po::value<double>(), "Max error")
        ("miter", po::value<int>(), "Iterations");

    AddGroup("Radial Basis Function NN options").add_options()
        ("rlr", po::value<double>(), "Learning rate")
        ("rclusters", po::value<int>(), "Clusters per class")
        ("riter", po::value<int>(), "Iterations");

    AddGroup("Adaptive Resonance Theory 2 options").add_options()
        ("a2f2", po::value<int>(), "F2 layer size")
        ("a2a", po::value<double>(), "A factor")
        ("a2b", po::value<double>(), "B factor")
        ("a2c", po::value<double>(), "C factor")
        ("a2d", po::value<double>(), "D factor")
        ("a2theta", po::value<double>(), "Theta factor")
        ("a2rho", po::value<double>(), "Rho factor");

    AddGroup("Self Organizing Map options").add_options()
        ("slat", po::value<int>(), "Lattice size")
        ("sradt0", po::value<double>(), "Neighborhood radius t0 factor")
        ("slrt0", po::value<double>(), "Learning rate t0 factor")
        ("siter", po::value<int>(), "Iterations");

    AddGroup("Learning Vector Quantization options").add_options()
        ("vqhid", po::value<int>(), "Hidden neuron count")
        ("vqout", po::value<int>(), "Output neuron count")
        ("vqiter", po::value<int>(), "Iterations")
        ("vqalpha", po::value<double>(), "Alpha");

    AddGroup("Mahalanobis Distance options").add_options()
        ("mdcc", po::value<int>(), "Class count");

    AddGroup("Point K options").add_options()
        ("pkcc", po::value<int>(), "Class count")
        ("pkiter", po::value<int>(), "Iterations");

    const std::vector<std::pair<std::string, std::string>> colorSpaces = {
        {"CMYK", "cs-cmyk"}, {"HSI", "cs-hsi"}, {"HSL", "cs-hsl"}, {"HSV", "cs-hsv"},
        {"LAB", "cs-lab"},   {"LCH", "cs-lch"}, {"LUV", "cs-luv"}, {"SCH", "cs-sch"},
        {"XYZ", "cs-xyz"},   {"YIQ", "cs-yiq"}};
    for (const auto& [caption, flag] : colorSpaces) {
        AddGroup(caption).add_options()(flag.c_str(), "");
    }

    for (OptionGroup* combined : {&allowedOptions, &ordanaOptions}) {
        combined->add(Group(kGeneral))
            .add(Group(kFeatureExtraction))
            .add(Group(kClassification))
            .add(Group(kColorSpace));
    }
}
// clang-format on

po::variables_map ParameterParser::ParseAllowed() const { return ParseAllowed(arguments); }

po::variables_map ParameterParser::ParseAllowed(const std::vector<std::string>& tokens) const {
    po::variables_map variables;
    po::store(po::command_line_parser(tokens).options(allowedOptions).allow_unregistered().run(),
              variables);
    return variables;
}

std::vector<std::string> ParameterParser::WithoutGeneralShortOptions(
    const std::vector<std::string>& tokens) const {
    // The module parse reads long options only, so a general short option such as "-e 3"
    // would otherwise be taken as further items of a preceding integer list ("--mhidden 8 -e 3").
    // The short options and the values they take are set aside here; negative numbers stay.
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        const bool shortOption = token.size() >= 2 && token[0] == '-' &&
                                 std::isalpha(static_cast<unsigned char>(token[1])) != 0;
        if (!shortOption) {
            kept.push_back(token);
            continue;
        }
        const auto* option = Group(kGeneral).find_nothrow(token.substr(0, 2), false);
        const bool takesNextToken =
            token.size() == 2 && option != nullptr && option->semantic()->max_tokens() > 0;
        if (takesNextToken) {
            ++i;
        }
    }
    return kept;
}

po::variables_map ParameterParser::ParseModule(const std::string& caption,
                                               const std::vector<std::string>& tokens) const {
    po::variables_map variables;
    const int style = po::command_line_style::default_style & ~po::command_line_style::allow_short;
    po::store(po::command_line_parser(WithoutGeneralShortOptions(tokens))
                  .options(Group(caption))
                  .style(style)
                  .allow_unregistered()
                  .run(),
              variables);
    return variables;
}

void ParameterParser::RequireParameters(const po::variables_map& variables,
                                        const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (variables.count(name) == 0 || variables[name].empty()) {
            throw std::runtime_error("Parameter '" + name + "' is required but missing.");
        }
    }
}

bool ParameterParser::HelpRequested() {
    try {
        po::variables_map variables = ParseAllowed();
        return variables.count("help") != 0 || variables.count("help-module") != 0;
    } catch (const std::exception&) {
        return false;
    }
}

void ParameterParser::PrintHelp() {
    try {
        po::variables_map variables = ParseAllowed();
        if (variables.count("help") != 0) {
            std::cout << ordanaOptions;
            return;
        }
        if (variables.count("help-module") == 0) {
            return;
        }
        const std::string module = variables["help-module"].as<std::string>();
        for (const auto& [name, caption] : HelpModules()) {
            if (name == module) {
                std::cout << Group(caption);
                return;
            }
        }
        std::cout << "Unknown module '" << module << "' in the --help-module option\n";
    } catch (const std::exception& error) {
        LogMessage(error.what());
    }
}

bool ParameterParser::IsChatty() {
    try {
        po::variables_map variables = ParseAllowed();
        if (variables.count("chatty") != 0) {
            chatty = variables["chatty"].as<bool>();
        }
    } catch (const std::exception& error) {
        LogMessage(error.what());
    }
    return chatty;
}

bool ParameterParser::HasModelFile() {
    try {
        return ParseAllowed().count("modelfile") != 0;
    } catch (const std::exception& error) {
        LogMessage(error.what());
        return false;
    }
}

std::string ParameterParser::StringOption(const std::string& name, bool required) {
    try {
        po::variables_map variables = ParseAllowed();
        if (required) {
            RequireParameters(variables, {name});
        }
        if (variables.count(name) != 0) {
            return variables[name].as<std::string>();
        }
    } catch (const std::exception& error) {
        LogMessage(error.what());
    }
    return "";
}

std::string ParameterParser::ModelFile() { return StringOption("modelfile", false); }

std::string ParameterParser::SamplingMethod() { return StringOption("sampling", false); }

int ParameterParser::Experiments() {
    try {
        po::variables_map variables = ParseAllowed();
        RequireParameters(variables, {"experiments"});
        return variables["experiments"].as<int>();
    } catch (const std::exception& error) {
        LogMessage(error.what());
        return 1;
    }
}

std::string ParameterParser::ImageFile() { return StringOption("image", true); }

std::string ParameterParser::PolygonFile() { return StringOption("file", true); }

std::string ParameterParser::PolygonFileName() {
    if (polygonFileName.empty()) {
        const std::string path = PolygonFile();
        // Both separators count, so that a path written on another system still names its file.
        const auto separator = path.find_last_of("/\\");
        polygonFileName = separator == std::string::npos ? path : path.substr(separator + 1);
    }
    return polygonFileName;
}

std::shared_ptr<featureextraction::FeatureExtractionAlgorithm> ParameterParser::BuildExtractor(
    const std::string& flag, const std::vector<std::string>& tokens, std::string* parameters) {
    for (const ExtractorKind& kind : ExtractorKinds()) {
        if (kind.flag != flag) {
            continue;
        }
        po::variables_map variables = ParseModule(kind.group, tokens);
        RequireParameters(variables, kind.required);
        if (!kind.build) {
            throw std::runtime_error("The option '--" + flag +
                                     "' selects an extractor that this build does not provide.");
        }
        std::string text;
        auto extractor = kind.build(variables, text);
        if (parameters != nullptr) {
            *parameters = text;
        }
        return extractor;
    }
    return nullptr;
}

ExtractionSelection ParameterParser::FeatureExtractionAlgorithms() {
    ExtractionSelection selection;
    try {
        po::variables_map variables = ParseAllowed();
        for (const ExtractorKind& kind : ExtractorKinds()) {
            if (variables.count(kind.flag) == 0) {
                continue;
            }
            std::string parameters;
            auto extractor = BuildExtractor(kind.flag, arguments, &parameters);
            selection.algorithms.push_back(extractor);
            selection.parameters[extractor->Name()] = parameters;
        }
    } catch (const std::exception& error) {
        LogMessage(error.what());
    }
    return selection;
}

std::shared_ptr<featureextraction::FeatureExtractionAlgorithm>
ParameterParser::FeatureExtractionFromParameters(const std::string& parameters) {
    std::shared_ptr<featureextraction::FeatureExtractionAlgorithm> result;
    try {
        const std::vector<std::string> tokens = ParameterTokens(parameters);
        po::variables_map variables = ParseAllowed(tokens);
        for (const ExtractorKind& kind : ExtractorKinds()) {
            if (variables.count(kind.flag) != 0) {
                result = BuildExtractor(kind.flag, tokens, nullptr);
            }
        }
    } catch (const std::exception& error) {
        LogMessage(error.what());
    }
    return result;
}

std::vector<std::shared_ptr<imageprocessing::ColorSpaceTransformation>>
ParameterParser::ColorTransformations() {
    std::vector<std::shared_ptr<imageprocessing::ColorSpaceTransformation>> transformations;
    try {
        po::variables_map variables = ParseAllowed();
        for (const ColorSpaceKind& kind : ColorSpaceKinds()) {
            if (variables.count(kind.flag) != 0) {
                transformations.push_back(kind.create());
            }
        }
    } catch (const std::exception& error) {
        LogMessage(error.what());
    }
    return transformations;
}

std::vector<std::string> ParameterParser::SelectedAlgorithms() {
    std::vector<std::string> keys;
    try {
        po::variables_map variables = ParseAllowed();
        for (const ClassifierKind& kind : ClassifierKinds()) {
            if (variables.count(kind.key) != 0) {
                keys.push_back(kind.key);
            }
        }
    } catch (const std::exception& error) {
        LogMessage(error.what());
    }
    return keys;
}

std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> ParameterParser::CreateAlgorithm(
    const std::string& key, int inputSize) {
    try {
        for (const ClassifierKind& kind : ClassifierKinds()) {
            if (kind.key != key) {
                continue;
            }
            po::variables_map variables = ParseModule(kind.group, arguments);
            RequireParameters(variables, kind.required);
            if (!kind.create) {
                throw std::runtime_error(
                    "The option '--" + key +
                    "' selects a classifier that this build does not provide.");
            }
            auto classifier = kind.create(variables, inputSize);
            if (kind.countsClassesFromOne) {
                classifier = std::make_shared<OneBasedClassifier>(classifier);
            }
            return classifier;
        }
    } catch (const std::exception& error) {
        LogMessage(error.what());
    }
    return nullptr;
}

std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> ParameterParser::RestoreAlgorithm(
    const std::string& name, std::shared_ptr<util::Collection> configuration) {
    for (const ClassifierKind& kind : ClassifierKinds()) {
        if (kind.displayName != name || !kind.restore) {
            continue;
        }
        auto classifier = kind.restore();
        if (kind.countsClassesFromOne) {
            classifier = std::make_shared<OneBasedClassifier>(classifier);
        }
        classifier->SetConfiguration(configuration);
        return classifier;
    }
    return nullptr;
}

}  // namespace velkar::ordana
