#include "ordana/ParameterParser.h"

#include <cctype>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "ordana/AlgorithmCatalog.h"
#include "ordana/CommandLineCheck.h"
#include "ordana/EchoedInput.h"
#include "ordana/FileNames.h"
#include "ordana/InputError.h"
#include "ordana/OutputSelection.h"
#include "velkar/LibraryInfo.h"
#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"
#include "velkar/util/InvalidParameter.h"

namespace po = boost::program_options;

namespace velkar::ordana {

namespace {

const char* const kGeneral = "General options";
const char* const kFeatureExtraction = "Feature extraction options";
const char* const kClassification = "Classification options";
const char* const kColorSpace = "Color space transformation";

// The items of an integer list may be joined by commas (parameter strings are written so, and
// the help text of --mhidden invites it); they are split into separate tokens, which is how the
// option library reads a list.
std::vector<std::string> SplitListItems(const std::vector<std::string>& pieces,
                                        const std::function<bool(const std::string&)>& isList) {
    std::vector<std::string> tokens;
    std::string option;
    for (const std::string& piece : pieces) {
        if (piece.rfind("--", 0) == 0) {
            option = piece.substr(2);
            tokens.push_back(piece);
            continue;
        }
        if (!isList(option) || piece.find(',') == std::string::npos) {
            tokens.push_back(piece);
            continue;
        }
        std::string::size_type from = 0;
        while (true) {
            auto comma = piece.find(',', from);
            tokens.push_back(piece.substr(from, comma - from));
            if (comma == std::string::npos) {
                break;
            }
            from = comma + 1;
        }
    }
    return tokens;
}

// The option library keeps the pieces of its messages (the option, the token it could not
// read) apart from the wording; they are reachable from a derived class only.
struct OptionErrorPieces : po::error_with_option_name {
    static std::map<std::string, std::string> Of(const po::error_with_option_name& error) {
        return error.*(&OptionErrorPieces::m_substitutions);
    }
};

// Running out of memory is not an option error: it goes on to main. Called while error is
// being handled.
void RethrowOutOfMemory(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
        throw;
    }
}

// The text of an error met by a query or a builder, with the user's input it quotes clipped.
std::string OptionErrorText(const std::exception& error) {
    RethrowOutOfMemory(error);
    const auto* named = dynamic_cast<const po::error_with_option_name*>(&error);
    if (named == nullptr) {
        return error.what();
    }
    po::error_with_option_name clipped(*named);
    for (const auto& [placeholder, value] : OptionErrorPieces::Of(*named)) {
        // The library replaces "%name%" in its wording until none is left, so a piece that
        // holds its own placeholder would never finish: no "%" of the input reaches it.
        std::string echoed;
        for (char c : EchoedInput(value)) {
            echoed += c == '%' ? std::string("\\x25") : std::string(1, c);
        }
        clipped.set_substitute(placeholder, echoed);
    }
    return clipped.what();
}

// The help of an option group as the option library lays it out.
std::string HelpText(const po::options_description& group) {
    std::ostringstream text;
    text << group;
    return text.str();
}

}  // namespace

ParameterParser::ParameterParser(int argc, const char* const* argv, const ProtocolWriter& protocol)
    : protocol(protocol),
      allowedOptions("Allowed options", po::options_description::m_default_line_length,
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

// The help of --write: the outputs it chooses from, as ClassificationOutputs lists them.
static std::string WriteOptionHelp() {
    std::string names;
    for (const ClassificationOutput& output : ClassificationOutputs()) {
        names += (names.empty() ? "" : ", ") + output.name;
    }
    return "Outputs a classification writes, joined by commas, from " + names +
           " (default: all)";
}

const std::vector<OptionDescription>& GeneralOptions() {
    using K = OptionKind;
    static const std::vector<OptionDescription> options = {
        {"help", K::Switch, "Displays this text", {}, {}, {}, 'h'},
        {"help-module", K::Text, "Displays the help information for the given module"},
        {"file", K::Text, "Path to the file containing the polygons descriptions", {}, {}, {}, 'f'},
        {"image", K::Text, "Path to the file containing the image", {}, {}, {}, 'i'},
        {"output", K::Text, "Prefix for the output files", {}, {}, {}, 'o'},
        {"chatty", K::Boolean, "Prints information for UI interface", {}, {}, {}, 'c'},
        {"experiments", K::Integer, "Experiment repetition number", {}, {}, {}, 'e'},
        {"modelfile", K::Text, "Path to the file containing the trained model", {}, {}, {}, 'm'},
        {"sampling",
         K::Text,
         "Sampling method to be used in the classification process",
         {},
         {},
         {},
         's'},
        {"version", K::Switch, "Shows the version information of this software", {}, {}, {}, 'v'},
        {"seed", K::LongInteger,
         "Seed of the random generator; the same seed and inputs repeat a run exactly"},
        {"bands", K::Text,
         "Bands of the image to use, numbered from 1, in the order used (e.g. 4,3,2); by "
         "default those of the file without alpha, or those the model records"},
        {"stretch", K::Text,
         "LOW,HIGH: samples mapped to levels 0 and 255 in every band used; by default the 2nd "
         "and 98th percentiles of each band deeper than 8 bits, or what the model records"},
        {"class-field", K::Text,
         "Attribute of a vector --file (GeoPackage, Shapefile, GeoJSON, ...) holding the class; "
         "by default 'class'"},
        {"color-field", K::Text,
         "Attribute of a vector --file holding the colour of the class (#rrggbb); by default "
         "none"},
        {"region", K::Text,
         "X,Y,W,H: classifies only the windows whose top-left corner lies in this rectangle of "
         "the image (pixels), on the whole image's grid"},
        {"write", K::Text, WriteOptionHelp()},
    };
    return options;
}

void ParameterParser::DeclareOptions() {
    ordana::DeclareOptions(GeneralOptions(), AddGroup(kGeneral));
    auto addFlags = [this](const std::string& caption, const auto& rows) {
        std::vector<OptionDescription> flags;
        for (const auto& row : rows) {
            flags.push_back({row.module.flag, OptionKind::Switch, row.module.flagHelp});
        }
        ordana::DeclareOptions(flags, AddGroup(caption));
    };
    addFlags(kFeatureExtraction, ExtractorRows());
    addFlags(kClassification, ClassifierRows());
    addFlags(kColorSpace, ColorSpaceRows());
    for (const Module* module : AllModules()) {
        ordana::DeclareOptions(module->options, AddGroup(module->group));
    }

    for (OptionGroup* combined : {&allowedOptions, &ordanaOptions}) {
        combined->add(Group(kGeneral))
            .add(Group(kFeatureExtraction))
            .add(Group(kClassification))
            .add(Group(kColorSpace));
    }
}

bool ParameterParser::IsIntegerListOption(const std::string& name) const {
    for (const Module* module : AllModules()) {
        const OptionDescription* option = module->Option(name);
        if (option != nullptr) {
            return option->kind == OptionKind::IntegerList;
        }
    }
    return false;
}

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
    const std::vector<std::string> items =
        SplitListItems(WithoutGeneralShortOptions(tokens),
                       [this](const std::string& name) { return IsIntegerListOption(name); });
    po::store(po::command_line_parser(items)
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
            throw std::runtime_error(MissingParameterMessage(name));
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
            protocol.Answer(HelpText(ordanaOptions));
            return;
        }
        if (variables.count("help-module") == 0) {
            return;
        }
        const std::string module = variables["help-module"].as<std::string>();
        std::vector<std::string> names;
        for (const Module* candidate : AllModules()) {
            if (candidate->name == module) {
                protocol.Answer(HelpText(Group(candidate->group)));
                return;
            }
            names.push_back(candidate->name);
        }
        const std::optional<std::string> closest = ClosestName(module, names);
        Report("Unknown module '" + EchoedInput(module) + "' for --help-module" +
               (closest ? "; did you mean '" + *closest + "'?" : ".") + " The modules are " +
               util::InvalidParameter::Enumeration(names) + ".");
    } catch (const std::exception& error) {
        Report(OptionErrorText(error));
    }
}

void ParameterParser::HandleError(const std::exception& error, bool report) {
    RethrowOutOfMemory(error);
    if (report) {
        Report(OptionErrorText(error));
    }
}

void ParameterParser::Report(const std::string& text) {
    problemReported = true;
    protocol.Error(text);
}

bool ParameterParser::VersionRequested() {
    try {
        return ParseAllowed().count("version") != 0;
    } catch (const std::exception&) {
        return false;
    }
}

void ParameterParser::PrintVersion() const {
    protocol.Answer(std::string("ordana ") + ORDANA_VERSION + " (velkar " + LibraryVersion() +
                    ")\n");
}

std::string ParameterParser::OutputPrefix() { return StringOption("output", false); }

bool ParameterParser::CheckCommandLine() {
    const std::vector<std::string> problems = ordana::CheckCommandLine(arguments, !chatty);
    for (const std::string& problem : problems) {
        Report(problem);
    }
    return problems.empty();
}

bool ParameterParser::IsChatty() {
    try {
        po::variables_map variables = ParseAllowed();
        if (variables.count("chatty") != 0) {
            chatty = variables["chatty"].as<bool>();
        }
    } catch (const std::exception& error) {
        Report(OptionErrorText(error));
    }
    return chatty;
}

bool ParameterParser::ChattyRequested() {
    try {
        po::variables_map variables = ParseAllowed();
        chatty = variables.count("chatty") != 0 && variables["chatty"].as<bool>();
    } catch (const std::exception& error) {
        RethrowOutOfMemory(error);
        chatty = false;
    }
    return chatty;
}

bool ParameterParser::HasModelFile() {
    try {
        return ParseAllowed().count("modelfile") != 0;
    } catch (const std::exception& error) {
        Report(OptionErrorText(error));
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
        Report(OptionErrorText(error));
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
        Report(OptionErrorText(error));
        return 1;
    }
}

std::optional<unsigned> ParameterParser::RandomSeed() {
    long long value = 0;
    try {
        po::variables_map variables = ParseAllowed();
        if (variables.count("seed") == 0) {
            return std::nullopt;
        }
        value = variables["seed"].as<long long>();
    } catch (const std::exception& error) {
        Report(OptionErrorText(error));
        return std::nullopt;
    }
    if (value < 0 || value > std::numeric_limits<unsigned>::max()) {
        throw InputError(RejectionMessage(
            {"seed"}, {std::to_string(value)},
            "it must lie between 0 and " + std::to_string(std::numeric_limits<unsigned>::max())));
    }
    return static_cast<unsigned>(value);
}

std::string ParameterParser::ImageFile() { return StringOption("image", true); }

std::optional<std::string> ParameterParser::GivenImageFile() {
    try {
        po::variables_map variables = ParseAllowed();
        if (variables.count("image") != 0) {
            return variables["image"].as<std::string>();
        }
    } catch (const std::exception& error) {
        Report(OptionErrorText(error));
    }
    return std::nullopt;
}

std::optional<std::string> ParameterParser::GivenText(const std::string& name) {
    try {
        po::variables_map variables = ParseAllowed();
        if (variables.count(name) != 0) {
            return variables[name].as<std::string>();
        }
    } catch (const std::exception& error) {
        Report(OptionErrorText(error));
    }
    return std::nullopt;
}

std::string ParameterParser::PolygonFile() { return StringOption("file", true); }

std::string ParameterParser::PolygonFileName() {
    if (polygonFileName.empty()) {
        polygonFileName = LastPathComponent(PolygonFile(), "/\\");
    }
    return polygonFileName;
}

OptionValues ParameterParser::ReadModule(const Module& module,
                                         const std::vector<std::string>& tokens) const {
    OptionValues values(ParseModule(module.group, tokens));
    CheckKinds(module, values);
    return values;
}

}  // namespace velkar::ordana
