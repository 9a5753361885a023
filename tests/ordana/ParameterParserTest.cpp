#include "ordana/AlgorithmFactory.h"
#include "ordana/ParameterParser.h"

#include <gtest/gtest.h>

#include "WorkflowFixtures.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using velkar::ordana::ParameterParser;

using ordanatest::CommandLine;

template <typename Query>
std::string OutputOf(Query query) {
    return ordanatest::CapturedOutput(query);
}

TEST(ParameterParserTest, ReadsEachValueKind) {
    CommandLine line({"--experiments", "3", "--image", "scene.png", "-f", "data/plot.txt",
                      "--modelfile", "model.mlp", "-s", "half", "--chatty", "yes"});
    ParameterParser parser = line.Parser();
    std::string output = OutputOf([&] {
        EXPECT_EQ(parser.Experiments(), 3);
        EXPECT_EQ(parser.ImageFile(), "scene.png");
        EXPECT_EQ(parser.PolygonFile(), "data/plot.txt");
        EXPECT_TRUE(parser.HasModelFile());
        EXPECT_EQ(parser.ModelFile(), "model.mlp");
        EXPECT_EQ(parser.SamplingMethod(), "half");
        EXPECT_TRUE(parser.IsChatty());
        EXPECT_FALSE(parser.HelpRequested());
    });
    EXPECT_EQ(output, "");
}

TEST(ParameterParserTest, AbsentOptionsAnswerTheirDefaults) {
    CommandLine line({});
    ParameterParser parser = line.Parser();
    std::string output = OutputOf([&] {
        EXPECT_FALSE(parser.HasModelFile());
        EXPECT_EQ(parser.ModelFile(), "");
        EXPECT_EQ(parser.SamplingMethod(), "");
        EXPECT_FALSE(parser.IsChatty());
    });
    EXPECT_EQ(output, "");

    EXPECT_EQ(OutputOf([&] { EXPECT_EQ(parser.Experiments(), 1); }),
              "[LOGMESSAGE] !Parameter 'experiments' is required but missing.!\n");
    EXPECT_EQ(OutputOf([&] { EXPECT_EQ(parser.ImageFile(), ""); }),
              "[LOGMESSAGE] !Parameter 'image' is required but missing.!\n");
    // Reported again each time the value is asked for.
    EXPECT_EQ(OutputOf([&] { EXPECT_EQ(parser.ImageFile(), ""); }),
              "[LOGMESSAGE] !Parameter 'image' is required but missing.!\n");
}

TEST(ParameterParserTest, MalformedValuesAreReportedAndReadAsAbsent) {
    CommandLine words({"--experiments", "many"});
    ParameterParser parser = words.Parser();
    std::string output = OutputOf([&] { EXPECT_EQ(parser.Experiments(), 1); });
    EXPECT_EQ(output.rfind("[LOGMESSAGE] !", 0), 0u) << output;
    EXPECT_NE(output.find("many"), std::string::npos) << output;

    CommandLine badBoolean({"--chatty", "maybe"});
    ParameterParser chattyParser = badBoolean.Parser();
    output = OutputOf([&] { EXPECT_FALSE(chattyParser.IsChatty()); });
    EXPECT_EQ(output.rfind("[LOGMESSAGE] !", 0), 0u) << output;
}

TEST(ParameterParserTest, ChattyTakesABooleanValue) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--chatty", "true"}, {"-c", "1"}, {"-c", "on"}}) {
        CommandLine line(arguments);
        ParameterParser parser = line.Parser();
        EXPECT_TRUE(parser.IsChatty()) << arguments[0] << " " << arguments[1];
    }
    CommandLine off({"--chatty", "false"});
    ParameterParser offParser = off.Parser();
    EXPECT_FALSE(offParser.IsChatty());

    // Without a value the whole command line fails to parse; the protocol stays off.
    CommandLine bare({"--wca", "--chatty"});
    ParameterParser bareParser = bare.Parser();
    std::string output = OutputOf([&] { EXPECT_FALSE(bareParser.IsChatty()); });
    EXPECT_NE(output.find("[LOGMESSAGE] !"), std::string::npos);
}

TEST(ParameterParserTest, AcceptsUnambiguousAbbreviations) {
    CommandLine line({"--exp", "7", "--model", "m.json", "--samp", "pixel"});
    ParameterParser parser = line.Parser();
    std::string output = OutputOf([&] {
        EXPECT_EQ(parser.Experiments(), 7);
        EXPECT_EQ(parser.ModelFile(), "m.json");
        EXPECT_EQ(parser.SamplingMethod(), "pixel");
    });
    EXPECT_EQ(output, "");
}

TEST(ParameterParserTest, ModuleOptionsAndUnusedGeneralOptionsAreNoError) {
    CommandLine line(
        {"--cws", "5", "--cnx", "1", "2", "--version", "--output", "prefix", "-e", "2"});
    ParameterParser parser = line.Parser();
    std::string output = OutputOf([&] {
        EXPECT_EQ(parser.Experiments(), 2);
        EXPECT_FALSE(parser.HelpRequested());
        EXPECT_FALSE(parser.HasModelFile());
    });
    EXPECT_EQ(output, "");
}

TEST(ParameterParserTest, HelpModuleWithoutValueBreaksEveryParse) {
    CommandLine line({"--image", "a.png", "--help-module"});
    ParameterParser parser = line.Parser();
    std::string output = OutputOf([&] { EXPECT_FALSE(parser.HelpRequested()); });
    EXPECT_EQ(output, "");
    output = OutputOf([&] { EXPECT_EQ(parser.ImageFile(), ""); });
    EXPECT_EQ(output,
              "[LOGMESSAGE] !the required argument for option '--help-module' is missing!\n");
}

// The saved arguments never change, so the cache of a found name cannot be told from a fresh
// parse; what can be seen is that an absent name is not cached.
TEST(ParameterParserTest, PolygonFileNameIsTheLastComponent) {
    CommandLine nested({"--file", "data/sub/plot.txt"});
    ParameterParser parser = nested.Parser();
    EXPECT_EQ(parser.PolygonFileName(), "plot.txt");

    CommandLine bare({"--file", "plot.txt"});
    ParameterParser bareParser = bare.Parser();
    EXPECT_EQ(bareParser.PolygonFileName(), "plot.txt");

    CommandLine backslashes({"--file", "C:\\data\\plot.txt"});
    ParameterParser backslashParser = backslashes.Parser();
    EXPECT_EQ(backslashParser.PolygonFileName(), "plot.txt");

    // An absent file is reported, cached as empty, and so asked for again on the next call.
    CommandLine none({});
    ParameterParser noneParser = none.Parser();
    const std::string missing = "[LOGMESSAGE] !Parameter 'file' is required but missing.!\n";
    EXPECT_EQ(OutputOf([&] { EXPECT_EQ(noneParser.PolygonFileName(), ""); }), missing);
    EXPECT_EQ(OutputOf([&] { EXPECT_EQ(noneParser.PolygonFileName(), ""); }), missing);
}

TEST(ParameterParserTest, RequireParametersReportsTheFirstMissingNameInOrder) {
    boost::program_options::variables_map variables;
    variables.insert({"b", boost::program_options::variable_value(std::string("x"), false)});
    try {
        ParameterParser::RequireParameters(variables, {"b", "c", "a"});
        FAIL() << "no exception";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "Parameter 'c' is required but missing.");
    }
    EXPECT_NO_THROW(ParameterParser::RequireParameters(variables, {"b"}));
}

// The hidden layer sizes a perceptron was built with, read from its trained configuration.
std::vector<int> LayerSizes(ParameterParser& parser) {
    velkar::ordana::AlgorithmFactory factory(parser);
    auto classifier = factory.CreateAlgorithm("mlp", 3);
    if (!classifier) {
        return {};
    }
    auto patterns =
        std::make_shared<std::vector<std::shared_ptr<velkar::patternrecognition::Pattern>>>();
    for (int i = 0; i < 2; ++i) {
        auto pattern = std::make_shared<velkar::patternrecognition::Pattern>();
        pattern->SetClass(i);
        pattern->SetDescriptors({1.0 * i, 2.0, 3.0 - i});
        patterns->push_back(pattern);
    }
    classifier->Train(patterns);
    auto configuration = std::dynamic_pointer_cast<velkar::util::Map>(classifier->Configuration());
    auto* sizes = dynamic_cast<velkar::util::Array*>(configuration->GetCollection("output_sizes"));
    std::vector<int> result;
    for (int i = 0; sizes != nullptr && i < sizes->Size(); ++i) {
        result.push_back(*sizes->GetInt(i));
    }
    return result;
}

TEST(ParameterParserTest, IntegerListsTakeSeparateTokensUpToTheNextOption) {
    const std::vector<std::string> training = {"--mlr",  "0.5",  "--mm",    "0.1",
                                               "--merr", "0.01", "--miter", "2"};
    auto withList = [&](std::vector<std::string> list) {
        list.insert(list.end(), training.begin(), training.end());
        return CommandLine(list);
    };
    // Input layer 3 + bias, each hidden layer + bias, one output per class.
    CommandLine separate = withList({"--mlp", "--mhidden", "8", "4"});
    ParameterParser separateParser = separate.Parser();
    EXPECT_EQ(LayerSizes(separateParser), (std::vector<int>{4, 9, 5, 2}));

    CommandLine repeated = withList({"--mhidden", "8", "--mlp", "--mhidden", "4"});
    ParameterParser repeatedParser = repeated.Parser();
    EXPECT_EQ(LayerSizes(repeatedParser), (std::vector<int>{4, 9, 5, 2}));

    // A general short option ends the list instead of being read as one of its items.
    CommandLine shortAfter = withList({"--mlp", "--mhidden", "8", "-e", "3", "-c", "1"});
    ParameterParser shortParser = shortAfter.Parser();
    std::string output = OutputOf([&] {
        EXPECT_EQ(LayerSizes(shortParser), (std::vector<int>{4, 9, 2}));
        EXPECT_EQ(shortParser.Experiments(), 3);
    });
    EXPECT_EQ(output, "");

    // Comma-joined, as the help text of --mhidden says, and as parameter strings write lists.
    CommandLine commaJoined = withList({"--mlp", "--mhidden", "8,4", "--mhidden", "3"});
    ParameterParser commaParser = commaJoined.Parser();
    output = OutputOf([&] {
        EXPECT_EQ(LayerSizes(commaParser), (std::vector<int>{4, 9, 5, 4, 2}));
    });
    EXPECT_EQ(output, "");
    CommandLine brokenList = withList({"--mlp", "--mhidden", "8,,4"});
    ParameterParser brokenParser = brokenList.Parser();
    velkar::ordana::AlgorithmFactory brokenFactory(brokenParser);
    output = OutputOf([&] { EXPECT_EQ(brokenFactory.CreateAlgorithm("mlp", 3), nullptr); });
    EXPECT_NE(output.find("[LOGMESSAGE] !"), std::string::npos) << output;
}

}  // namespace
