#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "WorkflowFixtures.h"
#include "ordana/AlgorithmCatalog.h"
#include "ordana/AlgorithmFactory.h"
#include "ordana/ParameterParser.h"
#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/featureextraction/FourierTransform.h"
#include "velkar/featureextraction/Hog.h"
#include "velkar/featureextraction/WaveletTransform.h"
#include "velkar/imageprocessing/ColorSpaceTransformation.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"
#include "velkar/util/Map.h"

namespace {

using ordanatest::CapturedOutput;
using ordanatest::CommandLine;
using ordanatest::Rgb;
using velkar::featureextraction::ColorAverage;
using velkar::featureextraction::FeatureExtractionAlgorithm;
using velkar::ordana::ExtractionSelection;
using velkar::ordana::ParameterParser;

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

// The selection a command line makes, and what building it printed.
struct Built {
    ExtractionSelection selection;
    std::string printed;
};

Built Extractors(const std::string& commandLine) {
    CommandLine line(Split(commandLine));
    ParameterParser parser = line.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    Built built;
    built.printed =
        CapturedOutput([&] { built.selection = factory.FeatureExtractionAlgorithms(); });
    return built;
}

// The descriptors of one 6 x 6 polygon on a small image with varied colours, as text.
std::string DescribeTestImage(FeatureExtractionAlgorithm& extractor) {
    auto image = velkar::imageprocessing::ImageFileSystem::Create("memory.png", 8, 8, 3);
    for (int x = 0; x < 8; ++x) {
        for (int y = 0; y < 8; ++y) {
            image->SetPixel(x, y, Rgb(10 + 20 * x, 5 + 30 * y, 3 * x * y));
        }
    }
    auto polygon = std::make_shared<velkar::math::Polygon>();
    const velkar::math::Polygon::Point corners[] = {{0, 0}, {0, 6}, {6, 6}, {6, 0}};
    polygon->SetPoints(corners, 4);
    std::vector<std::shared_ptr<velkar::math::Polygon>> polygons = {polygon};
    extractor.SetImage(image);
    std::ostringstream text;
    text.precision(17);
    for (const auto& descriptor : extractor.Process(polygons)) {
        for (const auto& band : descriptor->Features()) {
            for (double value : band) {
                text << value << " ";
            }
        }
        text << "\n";
    }
    return text.str();
}

TEST(AlgorithmCatalogTest, ColourAverageParameterStringListsEveryOption) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--wca --aws 5 --anorm true", "--wca --aam false --anorm true --aws 5"},
        {"--wca --aws 5", "--wca --aam false --anorm false --aws 5"},
        {"--aam true --aws 12 --wca", "--wca --aam true --anorm false --aws 12"},
        {"--wca --aws 7 --aam 1 --anorm yes", "--wca --aam true --anorm true --aws 7"},
    };
    for (const auto& [commandLine, parameters] : cases) {
        const Built built = Extractors(commandLine);
        EXPECT_EQ(built.printed, "") << commandLine;
        ASSERT_EQ(built.selection.algorithms.size(), 1u) << commandLine;
        EXPECT_EQ(built.selection.algorithms[0]->Name(), "Windowed Color Average");
        EXPECT_EQ(built.selection.parameters,
                  (std::map<std::string, std::string>{{"Windowed Color Average", parameters}}))
            << commandLine;
    }
}

TEST(AlgorithmCatalogTest, ParameterStringsRebuildTheSameExtractor) {
    CommandLine none({});
    ParameterParser parser = none.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    for (const std::string commandLine :
         {"--wca --aws 3", "--wca --aws 2 --aam true", "--wca --aws 4 --aam true --anorm true",
          "--wca --aws 1 --anorm true"}) {
        const Built built = Extractors(commandLine);
        ASSERT_EQ(built.selection.algorithms.size(), 1u) << commandLine;
        const std::string parameters = built.selection.parameters.at("Windowed Color Average");

        std::shared_ptr<FeatureExtractionAlgorithm> rebuilt;
        const std::string printed =
            CapturedOutput([&] { rebuilt = factory.FeatureExtractionFromParameters(parameters); });
        EXPECT_EQ(printed, "") << parameters;
        ASSERT_NE(rebuilt, nullptr) << parameters;
        EXPECT_EQ(rebuilt->Name(), "Windowed Color Average");
        EXPECT_EQ(rebuilt->WindowSize(), built.selection.algorithms[0]->WindowSize());
        // Same options, same descriptors.
        EXPECT_EQ(DescribeTestImage(*rebuilt), DescribeTestImage(*built.selection.algorithms[0]))
            << parameters;

        // The string of the rebuilt extractor's command line is the string itself.
        EXPECT_EQ(Extractors(parameters).selection.parameters.at("Windowed Color Average"),
                  parameters);
    }
}

TEST(AlgorithmCatalogTest, ColourAverageGetsItsOptionsInTheirPlaces) {
    // Window size, monochromatic band, normalisation: each switch changes the descriptors as the
    // class constructed directly with the same values does.
    for (bool monochromatic : {false, true}) {
        for (bool normalize : {false, true}) {
            const std::string commandLine = std::string("--wca --aws 3 --aam ") +
                                            (monochromatic ? "true" : "false") + " --anorm " +
                                            (normalize ? "true" : "false");
            const Built built = Extractors(commandLine);
            ASSERT_EQ(built.selection.algorithms.size(), 1u);
            ColorAverage direct(3, monochromatic, normalize);
            EXPECT_EQ(DescribeTestImage(*built.selection.algorithms[0]), DescribeTestImage(direct))
                << commandLine;
        }
    }
}

TEST(AlgorithmCatalogTest, ParameterStringsToleratePlainVariations) {
    CommandLine none({});
    ParameterParser parser = none.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    std::shared_ptr<FeatureExtractionAlgorithm> built;
    std::string printed =
        CapturedOutput([&] { built = factory.FeatureExtractionFromParameters(""); });
    EXPECT_EQ(built, nullptr);
    EXPECT_EQ(printed, "");

    for (const std::string parameters :
         {"--wca  --aws 6", " --wca --aws 6", "--wca --aws 6 ", "--aws 6 --wca", "--wca --aws=6"}) {
        printed =
            CapturedOutput([&] { built = factory.FeatureExtractionFromParameters(parameters); });
        ASSERT_NE(built, nullptr) << "'" << parameters << "' " << printed;
        EXPECT_EQ(built->WindowSize(), 6) << parameters;
    }

    // Options of other modules in the string are set aside.
    printed = CapturedOutput(
        [&] { built = factory.FeatureExtractionFromParameters("--wca --aws 4 --mhidden 4,3"); });
    ASSERT_NE(built, nullptr) << printed;
    EXPECT_EQ(built->WindowSize(), 4);

    // Without a flag nothing is built, and nothing is reported.
    printed = CapturedOutput([&] { built = factory.FeatureExtractionFromParameters("--aws 4"); });
    EXPECT_EQ(built, nullptr);
    EXPECT_EQ(printed, "");
}

TEST(AlgorithmCatalogTest, BrokenParameterStringsAreReported) {
    CommandLine none({});
    ParameterParser parser = none.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    for (const std::string parameters :
         {"--wca", "--wca --aws", "--wca --aws five", "--wca --aws 0", "--wca --aws 2,3"}) {
        std::shared_ptr<FeatureExtractionAlgorithm> built;
        const std::string printed =
            CapturedOutput([&] { built = factory.FeatureExtractionFromParameters(parameters); });
        EXPECT_EQ(built, nullptr) << parameters;
        const auto messages = ordanatest::Payloads(printed, "LOGMESSAGE");
        EXPECT_EQ(messages.size(), 1u) << parameters << ": " << printed;
    }
}

TEST(AlgorithmCatalogTest, MissingOrUnusableWindowSizeBuildsNothing) {
    Built built = Extractors("--wca");
    EXPECT_EQ(built.printed, "[LOGMESSAGE] !Parameter 'aws' is required but missing.!\n");
    EXPECT_TRUE(built.selection.algorithms.empty());
    EXPECT_TRUE(built.selection.parameters.empty());

    for (const std::string value : {"0", "-3"}) {
        built = Extractors("--wca --aws " + value);
        const auto messages = ordanatest::Payloads(built.printed, "LOGMESSAGE");
        ASSERT_EQ(messages.size(), 1u) << built.printed;
        EXPECT_NE(messages[0].find("'--aws': " + value), std::string::npos) << messages[0];
        EXPECT_TRUE(built.selection.algorithms.empty());
    }
}

TEST(AlgorithmCatalogTest, ExtractorsMissingFromThisBuildAreReported) {
    // The colour average comes first in the fixed order and is built; a later extractor's
    // missing options are reported, and it is not built.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--hog --wca --aws 3", "Parameter 'hwx' is required but missing."}};
    for (const auto& [commandLine, message] : cases) {
        const Built built = Extractors(commandLine);
        const auto messages = ordanatest::Payloads(built.printed, "LOGMESSAGE");
        ASSERT_EQ(messages.size(), 1u) << built.printed;
        EXPECT_EQ(messages[0], message);
        ASSERT_EQ(built.selection.algorithms.size(), 1u);
        EXPECT_EQ(built.selection.algorithms[0]->WindowSize(), 3);
        EXPECT_EQ(built.selection.parameters.size(), 1u);
    }
    // A failing flag ahead of the colour average stops the selection before it.
    const Built built = Extractors("--wca --aws 3 --com --cnx 5 --cny 0 --cws 5");
    EXPECT_EQ(ordanatest::Payloads(built.printed, "LOGMESSAGE").size(), 1u) << built.printed;
    EXPECT_NE(built.printed.find("'--cnx'"), std::string::npos) << built.printed;
    EXPECT_TRUE(built.selection.algorithms.empty());
}

TEST(AlgorithmCatalogTest, CoOccurrenceOptionsAreWrittenOrRejectedByName) {
    // Built ones give their parameter string, rejected ones one message holding the piece.
    const std::vector<std::tuple<std::string, bool, std::string>> cases = {
        {"--com --cnx 1 --cny 0 --cws 5", true, "--com --cnx 1 --cny 0 --cws 5"},
        // Repeated options compose; a longer cny keeps its extra item, unused.
        {"--cws 6 --cny 0 -1 --com --cnx 0 --cnx -1 --cny 9", true,
         "--com --cnx 0,-1 --cny 0,-1,9 --cws 6"},
        {"--com --cnx 5 --cny 0 --cws 5", false, "'--cnx': 5"},
        {"--com --cnx 1 -5 --cny 0 0 --cws 5", false, "'--cnx': -5"},
        {"--com --cnx 0 --cny 6 --cws 5", false, "'--cny': 6"},
        {"--com --cnx 1 0 --cny 0 --cws 5", false, "'--cny': 0"},
        {"--com --cnx 1 --cny 0 --cws 0", false, "'--cws': 0"},
        {"--com --cnx --cny 0 --cws 5", false, "'--cnx'"},
        {"--com --cny 0 --cws 5", false, "Parameter 'cnx' is required but missing."},
    };
    CommandLine none({});
    ParameterParser parser = none.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    for (const auto& [commandLine, builds, text] : cases) {
        const Built built = Extractors(commandLine);
        const auto messages = ordanatest::Payloads(built.printed, "LOGMESSAGE");
        if (!builds) {
            ASSERT_EQ(messages.size(), 1u) << commandLine << ": " << built.printed;
            EXPECT_NE(messages[0].find(text), std::string::npos) << messages[0];
            EXPECT_TRUE(built.selection.algorithms.empty()) << commandLine;
            continue;
        }
        EXPECT_TRUE(messages.empty()) << built.printed;
        ASSERT_EQ(built.selection.algorithms.size(), 1u) << commandLine;
        EXPECT_EQ(built.selection.parameters,
                  (std::map<std::string, std::string>{{"Co-Occurrence Matrix", text}}));
        std::shared_ptr<FeatureExtractionAlgorithm> rebuilt;
        EXPECT_EQ(CapturedOutput([&] { rebuilt = factory.FeatureExtractionFromParameters(text); }),
                  "");
        ASSERT_NE(rebuilt, nullptr) << text;
        EXPECT_EQ(rebuilt->FeatureCount(), built.selection.algorithms[0]->FeatureCount());
        const std::string descriptors = DescribeTestImage(*rebuilt);
        EXPECT_NE(descriptors, "");
        EXPECT_EQ(descriptors, DescribeTestImage(*built.selection.algorithms[0])) << text;
    }
    // A stored string, whose lists come comma-joined, meets the same checks.
    std::shared_ptr<FeatureExtractionAlgorithm> rebuilt;
    const std::string printed = CapturedOutput([&] {
        rebuilt = factory.FeatureExtractionFromParameters("--com --cnx 1,0 --cny 0 --cws 5");
    });
    EXPECT_EQ(rebuilt, nullptr);
    EXPECT_NE(printed.find("'--cny': 0"), std::string::npos) << printed;
}

TEST(AlgorithmCatalogTest, GradientHistogramRow) {
    CommandLine none({});
    ParameterParser parser = none.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    const std::string name = "Histogram of Oriented Gradients";
    for (const auto& [commandLine, parameters] : std::vector<std::pair<std::string, std::string>>{
             {"--hog --hwx 2 --hwy 3 --hbind 9", "--hog --hwx 2 --hwy 3 --hbind 9"},
             {"--hbind 4 --hwy 1 --hwx 5 --hog", "--hog --hwx 5 --hwy 1 --hbind 4"}}) {
        const Built built = Extractors(commandLine);
        EXPECT_EQ(built.printed, "") << commandLine;
        ASSERT_EQ(built.selection.algorithms.size(), 1u) << commandLine;
        EXPECT_EQ(built.selection.parameters,
                  (std::map<std::string, std::string>{{name, parameters}}));
        std::shared_ptr<FeatureExtractionAlgorithm> rebuilt;
        CapturedOutput([&] { rebuilt = factory.FeatureExtractionFromParameters(parameters); });
        ASSERT_NE(rebuilt, nullptr) << parameters;
        const auto words = Split(parameters);
        velkar::featureextraction::Hog direct(std::stoi(words[2]), std::stoi(words[4]),
                                              std::stoi(words[6]));
        EXPECT_EQ(rebuilt->WindowSize(), direct.WindowSize());
        EXPECT_EQ(DescribeTestImage(*rebuilt), DescribeTestImage(direct)) << parameters;
        EXPECT_EQ(DescribeTestImage(*built.selection.algorithms[0]), DescribeTestImage(direct));
    }

    // Counts below 1, and counts whose product no descriptor could hold, are named and build
    // nothing.
    for (const auto& [commandLine, named] : std::vector<std::pair<std::string, std::string>>{
             {"--hog --hwx 0 --hwy 3 --hbind 9", "'--hwx': 0"},
             {"--hog --hwx 2 --hwy -1 --hbind 9", "'--hwy': -1"},
             {"--hog --hwx 2 --hwy 3 --hbind 0", "'--hbind': 0"},
             {"--hog --hwx 1000 --hwy 1000 --hbind 11", "'--hbind': 1000, 1000 and 11"}}) {
        const Built built = Extractors(commandLine);
        const auto messages = ordanatest::Payloads(built.printed, "LOGMESSAGE");
        ASSERT_EQ(messages.size(), 1u) << built.printed;
        EXPECT_NE(messages[0].find(named), std::string::npos) << messages[0];
        EXPECT_TRUE(built.selection.algorithms.empty()) << commandLine;
    }
}

TEST(AlgorithmCatalogTest, SpectralRowsWriteParameterStringsThatRebuildThem) {
    using velkar::featureextraction::FourierTransform;
    using velkar::featureextraction::WaveletTransform;
    struct Case {
        std::string commandLine;
        std::string parameters;
        std::shared_ptr<FeatureExtractionAlgorithm> direct;
    };
    const std::vector<Case> cases = {
        {"--dft --fws 4 --fcoeff 10", "--dft --fcoeff 10 --fws 4",
         std::make_shared<FourierTransform>(4, 10)},
        {"--fcoeff 2 --dft --fws 6", "--dft --fcoeff 2 --fws 6",
         std::make_shared<FourierTransform>(6, 2)},
        {"--dwt --wws 4 --wname db2 --wscale 1", "--dwt --wscale 1 --wws 4 --wname db2",
         std::make_shared<WaveletTransform>(4, 1, "db2")},
        {"--wname bior6.8 --dwt --wscale 2 --wws 6", "--dwt --wscale 2 --wws 6 --wname bior6.8",
         std::make_shared<WaveletTransform>(6, 2, "bior6.8")},
    };
    CommandLine none({});
    ParameterParser parser = none.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    for (const Case& c : cases) {
        const Built built = Extractors(c.commandLine);
        EXPECT_EQ(built.printed, "") << c.commandLine;
        ASSERT_EQ(built.selection.algorithms.size(), 1u) << c.commandLine;
        EXPECT_EQ(built.selection.parameters,
                  (std::map<std::string, std::string>{{c.direct->Name(), c.parameters}}));
        EXPECT_EQ(built.selection.algorithms[0]->FileExtension(), c.direct->FileExtension());
        const std::string described = DescribeTestImage(*c.direct);
        EXPECT_NE(described, "");
        EXPECT_EQ(DescribeTestImage(*built.selection.algorithms[0]), described) << c.commandLine;

        std::shared_ptr<FeatureExtractionAlgorithm> rebuilt;
        const std::string printed = CapturedOutput(
            [&] { rebuilt = factory.FeatureExtractionFromParameters(c.parameters); });
        EXPECT_EQ(printed, "");
        ASSERT_NE(rebuilt, nullptr) << c.parameters;
        EXPECT_EQ(rebuilt->FileExtension(), c.direct->FileExtension());
        EXPECT_EQ(DescribeTestImage(*rebuilt), described) << c.parameters;
        EXPECT_EQ(Extractors(c.parameters).selection.parameters.at(c.direct->Name()), c.parameters);
    }
}

TEST(AlgorithmCatalogTest, SpectralValuesThatLeaveNoCoefficientsAreNamed) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--dft --fws 8", "Parameter 'fcoeff' is required but missing."},
        {"--dft --fws 0 --fcoeff 4", "'--fws': 0"},
        {"--dft --fws 1073741825 --fcoeff 1", "'--fws': 1073741825"},
        {"--dft --fws 5 --fcoeff 0", "'--fcoeff': 0"},
        {"--dft --fws 5 --fcoeff 81", "'--fcoeff': 81"},  // k = 9 > N = 8
        {"--dwt --wws 8 --wscale 1", "Parameter 'wname' is required but missing."},
        {"--dwt --wws -2 --wscale 1 --wname haar", "'--wws': -2"},
        {"--dwt --wws 8 --wscale 0 --wname haar", "'--wscale': 0"},
        {"--dwt --wws 8 --wscale 4 --wname haar", "'--wscale': 4"},  // 2^4 > N = 8
        {"--dwt --wws 1 --wscale 1 --wname haar", "'--wscale': 1"},
        {"--dwt --wws 8 --wscale 1 --wname Haar", "'--wname': Haar (valid names: haar, db1, db2,"},
        {"--dwt --wws 8 --wscale 1 --wname db11", "sym10, bior1.1, bior1.3,"},
    };
    for (const auto& [commandLine, named] : cases) {
        const Built built = Extractors(commandLine);
        const auto messages = ordanatest::Payloads(built.printed, "LOGMESSAGE");
        ASSERT_EQ(messages.size(), 1u) << commandLine << ": " << built.printed;
        EXPECT_NE(messages[0].find(named), std::string::npos) << messages[0];
        EXPECT_TRUE(built.selection.algorithms.empty()) << commandLine;
        EXPECT_TRUE(built.selection.parameters.empty()) << commandLine;
    }
}

TEST(AlgorithmCatalogTest, SelectionsFollowTheFixedOrder) {
    CommandLine classifiers(Split("--pntk --mahd --lvq --som --art2 --rbf --mlp"));
    ParameterParser parser = classifiers.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    EXPECT_EQ(factory.SelectedAlgorithms(),
              (std::vector<std::string>{"mlp", "rbf", "art2", "som", "lvq", "mahd", "pntk"}));

    CommandLine two(Split("--rbf --mlp --wca"));
    ParameterParser twoParser = two.Parser();
    velkar::ordana::AlgorithmFactory twoFactory(twoParser);
    EXPECT_EQ(twoFactory.SelectedAlgorithms(), (std::vector<std::string>{"mlp", "rbf"}));

    CommandLine spaces(
        Split("--cs-yiq --cs-xyz --cs-sch --cs-luv --cs-lch --cs-lab --cs-hsv --cs-hsl --cs-hsi "
              "--cs-cmyk"));
    ParameterParser spaceParser = spaces.Parser();
    velkar::ordana::AlgorithmFactory spaceFactory(spaceParser);
    std::vector<std::string> names;
    for (const auto& transformation : spaceFactory.ColorTransformations()) {
        names.push_back(transformation->ShortName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"cmyk", "hsi", "hsl", "hsv", "lab", "lch", "luv",
                                               "sch", "xyz", "yiq"}));
}

// Every row is reachable and consistent: its module's help names each described option, the
// module name and flag are unique, its parameter strings write every option once, and a restored
// classifier reports the row's display name.
TEST(AlgorithmCatalogTest, EveryRowIsReachableThroughItsModule) {
    std::set<std::string> names;
    std::set<std::string> flags;
    for (const velkar::ordana::Module* module : velkar::ordana::AllModules()) {
        EXPECT_TRUE(names.insert(module->name).second) << module->name;
        EXPECT_TRUE(flags.insert(module->flag).second) << module->flag;
        CommandLine line({"--help-module", module->name});
        ParameterParser parser = line.Parser();
        const std::string help = CapturedOutput([&] { parser.PrintHelp(); });
        EXPECT_EQ(help.rfind(module->group + ":\n", 0), 0u) << module->name << "\n" << help;
        std::set<std::string> described;
        for (const velkar::ordana::OptionDescription& option : module->options) {
            described.insert(option.name);
            EXPECT_NE(help.find("--" + option.name + " "), std::string::npos)
                << module->name << " does not declare " << option.name << "\n"
                << help;
        }
        // The written order holds every option once.
        std::set<std::string> written;
        for (const auto* option : module->InWrittenOrder()) {
            ASSERT_NE(option, nullptr) << module->name;
            EXPECT_TRUE(written.insert(option->name).second) << module->name << " " << option->name;
        }
        EXPECT_EQ(written, described) << module->name;
    }
    for (const velkar::ordana::ClassifierRow& row : velkar::ordana::ClassifierRows()) {
        ASSERT_TRUE(row.create) << row.module.flag;
        ASSERT_TRUE(row.restore) << row.module.flag;
        EXPECT_EQ(row.restore()->Name(), row.displayName) << row.module.flag;
    }
    for (const velkar::ordana::ColorSpaceRow& row : velkar::ordana::ColorSpaceRows()) {
        EXPECT_EQ(row.create()->ShortName(), row.module.name);
    }
    // Every selector builds: no flag leads to a class this build lacks.
    for (const velkar::ordana::ExtractorRow& row : velkar::ordana::ExtractorRows()) {
        EXPECT_TRUE(row.build) << row.module.flag;
    }
}

}  // namespace
