#include "ordana/OptionDescription.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/program_options/parsers.hpp>

#include "ordana/AlgorithmCatalog.h"
#include "velkar/util/InvalidParameter.h"

namespace {

namespace po = boost::program_options;
using namespace velkar::ordana;

// A usable value of every option of every extractor and classifier, and the values its rule
// refuses (for 3 features).
struct Values {
    std::string usable;
    std::vector<std::string> refused;
};

// com, wca, dft, dwt, hog; mlp, rbf, art2, som, lvq, mahd, pntk.
// clang-format off
const std::map<std::string, Values> kValues = {
    {"cnx", {"1", {"5", "-5"}}}, {"cny", {"0", {"6"}}}, {"cws", {"5", {"0"}}},
    {"aws", {"5", {"0", "-3"}}}, {"anorm", {"false", {}}}, {"aam", {"true", {}}},
    {"fws", {"8", {"0", "1073741825"}}}, {"fcoeff", {"4", {"0", "81"}}},
    {"wws", {"8", {"-2", "1073741825"}}}, {"wscale", {"1", {"0", "4"}}},
    {"wname", {"haar", {"Haar", "db11"}}},
    {"hwx", {"2", {"0", "2000000"}}}, {"hwy", {"2", {"-1"}}}, {"hbind", {"4", {"0"}}},
    {"mhidden", {"4", {"0", "4000000"}}}, {"mlr", {"0.3", {}}}, {"mm", {"0.1", {}}},
    {"merr", {"0.01", {}}}, {"miter", {"20", {"-1"}}},
    {"rlr", {"0.1", {}}}, {"rclusters", {"2", {"0", "4000000"}}}, {"riter", {"5", {"-1"}}},
    {"a2f2", {"5", {"0", "4000000"}}}, {"a2a", {"10", {}}}, {"a2b", {"10", {}}},
    {"a2c", {"0.1", {}}}, {"a2d", {"0.9", {"1", "-0.5"}}}, {"a2theta", {"0.1", {"-0.1"}}},
    {"a2rho", {"0.9", {"1.5", "-0.1"}}},
    {"slat", {"4", {"0", "2000"}}}, {"sradt0", {"0.5", {"0.2"}}}, {"slrt0", {"0.5", {}}},
    {"siter", {"5", {"-2"}}},
    {"vqhid", {"4", {"1", "4000000"}}}, {"vqout", {"2", {"0"}}}, {"vqiter", {"5", {"0"}}},
    {"vqalpha", {"0.1", {}}},
    {"mdcc", {"2", {"0", "4000000"}}},
    {"pkcc", {"2", {"0", "4000000"}}}, {"pkiter", {"3", {"-1"}}},
};
// clang-format on

// The module's values with every option usable but the one given.
OptionValues ValuesOf(const Module& module, const std::string& changed = "",
                      const std::string& value = "") {
    std::vector<std::string> tokens;
    for (const OptionDescription& option : module.options) {
        tokens.push_back("--" + option.name);
        tokens.push_back(option.name == changed ? value : kValues.at(option.name).usable);
    }
    po::options_description group;
    DeclareOptions(module.options, group);
    po::variables_map map;
    po::store(po::command_line_parser(tokens).options(group).run(), map);
    return OptionValues(map);
}

// Whether the class alone refuses the values, naming the option's parameter.
bool ClassRefuses(const std::function<void()>& make, const OptionDescription& option) {
    try {
        make();
    } catch (const velkar::util::InvalidParameter& error) {
        for (const std::string& parameter : error.Parameters()) {
            if (parameter == option.parameter) {
                return true;
            }
        }
        ADD_FAILURE() << option.name << ": " << error.what();
    }
    return false;
}

// Every rule of every option refuses its value once: either the class refuses it or the
// program's rule does, never both; the program's message names the option and quotes the value.
// Reals that are not finite numbers are refused by kind, before any class sees them.
void WalkModule(const Module& module, const std::function<void(const OptionValues&)>& direct,
                const std::function<void(const OptionValues&)>& checked, int featureCount) {
    EXPECT_NO_THROW(checked(ValuesOf(module))) << module.name;
    for (const OptionDescription& option : module.options) {
        ASSERT_EQ(kValues.count(option.name), 1u) << option.name << " has no values in the test";
        EXPECT_FALSE(option.parameter.empty()) << option.name;
        std::vector<std::string> refused = kValues.at(option.name).refused;
        for (const std::string& value : refused) {
            const OptionValues values = ValuesOf(module, option.name, value);
            const bool byClass = ClassRefuses([&] { direct(values); }, option);
            const bool byProgram =
                option.rule && option.rule(values, option.name, featureCount).has_value();
            EXPECT_NE(byClass, byProgram) << option.name << " " << value;
            try {
                checked(values);
                ADD_FAILURE() << option.name << " " << value << " accepted";
            } catch (const std::invalid_argument& error) {
                const std::string message = error.what();
                const bool one = message.rfind("Invalid value for option '--" + option.name +
                                                   "': " + value + " (",
                                               0) == 0;
                const bool several = message.rfind("Invalid values for options ", 0) == 0 &&
                                     message.find("'--" + option.name + "'") != std::string::npos;
                EXPECT_TRUE(one || several) << message;
            }
        }
        if (option.kind == OptionKind::Real) {
            EXPECT_THROW(CheckKinds(module, ValuesOf(module, option.name, "nan")),
                         std::invalid_argument)
                << option.name;
        }
    }
}

TEST(OptionDescriptionTest, EveryRuleOfEveryModuleRefusesItsValueOnceByName) {
    for (const auto& row : ExtractorRows()) {
        std::string parameters;
        WalkModule(
            row.module, [&](const OptionValues& values) { row.build(values); },
            [&](const OptionValues& values) { BuildExtractor(row, values, parameters); }, 0);
    }
    for (const auto& row : ClassifierRows()) {
        WalkModule(
            row.module, [&](const OptionValues& values) { row.create(values, 3); },
            [&](const OptionValues& values) { CreateClassifier(row, values, 3); }, 3);
    }
}

// A class's refusal under the option names: the parameters and the placeholders of the rule
// become options ("{--dx}" keeps its dashes), values are quoted as input; a parameter without an
// option leaves the message to the class.
TEST(OptionDescriptionTest, RefusalsOfTheClassAreWordedWithTheOptionNames) {
    const std::vector<OptionDescription> options = {
        {"cnx", OptionKind::IntegerList, "", "dx"},
        {"cny", OptionKind::IntegerList, "", "dy"},
        {"slat", OptionKind::Integer, "", "latticeSize"}};
    using velkar::util::InvalidParameter;
    const std::vector<std::pair<InvalidParameter, std::optional<std::string>>> cases = {
        {InvalidParameter("T", "dy", "0", "as many items as {--dx}, {dx} or {latticeSize}"),
         "Invalid value for option '--cny': 0 (as many items as --cnx, cnx or slat)."},
        {InvalidParameter("T", {"dx", "dy", "latticeSize"}, {"1", "2!", "3"}, "too many"),
         "Invalid values for options '--cnx', '--cny' and '--slat': 1, 2\\x21 and 3 (too many)."},
        {InvalidParameter("T", std::vector<std::string>{"dx", "dy"},
                          std::vector<std::string>{"1", "2"}, "r"),
         "Invalid values for options '--cnx' and '--cny': 1 and 2 (r)."},
        {InvalidParameter("T", "inputCount", "0", "r"), std::nullopt},
        {InvalidParameter("T", "dx", "0", "with {inputCount}"), std::nullopt},
    };
    for (const auto& [error, message] : cases) {
        EXPECT_EQ(RejectionMessage(error, options), message) << error.what();
    }
}

// Parameter strings write every option in its written order, as its kind writes it.
TEST(OptionDescriptionTest, ParameterStringsFollowTheWrittenOrder) {
    const std::map<std::string, std::string> expected = {
        {"com", "--com --cnx 1 --cny 0 --cws 5"},
        {"wca", "--wca --aam true --anorm false --aws 5"},
        {"dft", "--dft --fcoeff 4 --fws 8"},
        {"dwt", "--dwt --wscale 1 --wws 8 --wname haar"},
        {"hog", "--hog --hwx 2 --hwy 2 --hbind 4"}};
    for (const auto& row : ExtractorRows()) {
        std::string parameters;
        BuildExtractor(row, ValuesOf(row.module), parameters);
        EXPECT_EQ(parameters, expected.at(row.module.name));
    }
}

}  // namespace
