// The catalogue's classifier rows through the parser: the perceptron's layers and option
// checks, tables refused before they are allocated, unknown keys, the values of the network
// classifiers, and restoring by display name.

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "WorkflowFixtures.h"
#include "common/ChildProcess.h"
#include "ordana/AlgorithmFactory.h"
#include "ordana/ParameterParser.h"
#include "velkar/patternrecognition/MultilayerPerceptron.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace {

using namespace ordanatest;
using velkar::ordana::ParameterParser;
using namespace velkar::patternrecognition;

// A perceptron from the options, trained on two classes of three features.
std::shared_ptr<PatternRecognitionAlgorithm> TrainedPerceptron(const std::string& commandLine,
                                                               std::string* printed = nullptr) {
    CommandLine line(ordanatest::Words(commandLine));
    ParameterParser parser = line.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    std::shared_ptr<PatternRecognitionAlgorithm> classifier;
    const std::string output =
        CapturedOutput([&] { classifier = factory.CreateAlgorithm("mlp", 3); });
    if (printed != nullptr) {
        *printed = output;
    }
    if (!classifier) {
        return nullptr;
    }
    velkar::util::Seed(11);
    auto patterns = std::make_shared<std::vector<std::shared_ptr<Pattern>>>();
    for (int i = 0; i < 8; ++i) {
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(i % 2);
        pattern->SetDescriptors({i % 2 == 0 ? 10.0 + i : 200.0 - i, 50.0, i % 2 == 0 ? 5.0 : 90.0});
        patterns->push_back(pattern);
    }
    classifier->Train(patterns);
    return classifier;
}

std::vector<int> OutputSizes(PatternRecognitionAlgorithm& classifier) {
    auto configuration = std::dynamic_pointer_cast<velkar::util::Map>(classifier.Configuration());
    std::vector<int> sizes;
    const auto* array =
        dynamic_cast<const velkar::util::Array*>(configuration->GetCollection("output_sizes"));
    for (int i = 0; array != nullptr && i < array->Size(); ++i) {
        sizes.push_back(*array->GetInt(i));
    }
    return sizes;
}

const std::string kPerceptronRest = " --mlr 0.3 --mm 0.1 --merr 0.01 --miter 20";

TEST(AlgorithmCatalogTest, PerceptronTakesEveryHiddenLayer) {
    // Layer outputs: the inputs and every hidden layer carry a bias unit; one output per class.
    auto one = TrainedPerceptron("--mlp --mhidden 4" + kPerceptronRest);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->Name(), "Multilayer Perceptron");
    EXPECT_EQ(OutputSizes(*one), (std::vector<int>{4, 5, 2}));

    auto two = TrainedPerceptron("--mlp --mhidden 4 3" + kPerceptronRest);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(OutputSizes(*two), (std::vector<int>{4, 5, 4, 2}));

    auto repeated = TrainedPerceptron("--mlp --mhidden 6 --mhidden 2" + kPerceptronRest);
    ASSERT_NE(repeated, nullptr);
    EXPECT_EQ(OutputSizes(*repeated), (std::vector<int>{4, 7, 3, 2}));

    // Comma-joined, as the option's help text says.
    auto joined = TrainedPerceptron("--mlp --mhidden 4,3" + kPerceptronRest);
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(OutputSizes(*joined), (std::vector<int>{4, 5, 4, 2}));
}

TEST(AlgorithmCatalogTest, PerceptronOptionsAreRequiredInOrder) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--mlp", "mhidden"},
        {"--mlp --mhidden 4", "mlr"},
        {"--mlp --mhidden 4 --mlr 0.3", "mm"},
        {"--mlp --mhidden 4 --mlr 0.3 --mm 0.1", "merr"},
        {"--mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr 0.1", "miter"},
        {"--mlp --miter 3 --merr 0.1 --mm 0.1", "mhidden"},
    };
    for (const auto& [commandLine, missing] : cases) {
        std::string printed;
        EXPECT_EQ(TrainedPerceptron(commandLine, &printed), nullptr) << commandLine;
        EXPECT_EQ(printed, "[LOGMESSAGE] !Parameter '" + missing + "' is required but missing.!\n")
            << commandLine;
    }
}

TEST(AlgorithmCatalogTest, UnusablePerceptronValuesAreNamed) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--mlp --mhidden 0 --mlr 0.3 --mm 0.1 --merr 0.01 --miter 20", "'--mhidden': 0"},
        {"--mlp --mhidden 4 0 --mlr 0.3 --mm 0.1 --merr 0.01 --miter 20", "'--mhidden': 0"},
        {"--mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr 0.01 --miter -1", "'--miter': -1"},
        {"--mlp --mhidden 4 --mlr nan --mm 0.1 --merr 0.01 --miter 5", "'--mlr': nan"},
        {"--mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr inf --miter 5", "'--merr': inf"},
    };
    for (const auto& [commandLine, named] : cases) {
        std::string printed;
        EXPECT_EQ(TrainedPerceptron(commandLine, &printed), nullptr) << commandLine;
        const auto messages = ordanatest::Payloads(printed, "LOGMESSAGE");
        ASSERT_EQ(messages.size(), 1u) << printed;
        EXPECT_NE(messages[0].find(named), std::string::npos) << messages[0];
    }
    // No iterations is a usable value: the network keeps its first weights.
    EXPECT_NE(TrainedPerceptron("--mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr 0.01 --miter 0"),
              nullptr);
}

// Hidden layers whose weights would pass 10^7 are refused by name before anything is allocated
// (each case runs in a child that could not hold them); the count is recomputed here from the
// layer sizes: (inputs + 1) x neurons per layer.
TEST(AlgorithmCatalogTest, PerceptronsOfTooManyWeightsAreRefusedBeforeAllocating) {
    struct Case {
        int inputs;
        std::vector<int> hidden;
    };
    const std::vector<Case> cases = {{3, {2000000000}},   {3, {2500001}}, {9999, {1001}},
                                     {3, {1000, 10000}},  {3, {8, 8}},    {50, {30, 40, 20}},
                                     {2, {3, 2000000000}}};
    for (const Case& one : cases) {
        long long weights = 0;
        bool tooMany = false;
        for (std::size_t k = 0; k < one.hidden.size(); ++k) {
            weights += (static_cast<long long>(k == 0 ? one.inputs : one.hidden[k - 1]) + 1) *
                       one.hidden[k];
            tooMany = tooMany || weights > 10000000;
        }
        std::string list;
        std::string words;
        for (int size : one.hidden) {
            list += (list.empty() ? "" : ",") + std::to_string(size);
            words += " " + std::to_string(size);
        }
        const auto child = testsupport::RunInChild(
            {testsupport::AddressSpaceInUse() + (rlim_t{64} << 20), 0}, [&] {
                CommandLine line(ordanatest::Words("--mlp --mhidden" + words +
                                                   " --mlr 0.3 --mm 0.1 --merr 0.01 --miter 5"));
                ParameterParser parser = line.Parser();
                velkar::ordana::AlgorithmFactory factory(parser);
                return factory.CreateAlgorithm("mlp", one.inputs) ? 1 : 0;
            });
        EXPECT_EQ(child.exitStatus, tooMany ? 0 : 1) << list << "\n" << child.output;
        const std::string expected = "[LOGMESSAGE] !Invalid value for option '--mhidden': " + list +
                                     " (with " + std::to_string(one.inputs) +
                                     " features the hidden layers need more than 10000000 "
                                     "weights).!\n";
        EXPECT_EQ(child.output, tooMany ? expected : "") << list;
    }
}

// Running out of memory while building is no option error: it leaves the query for main.
TEST(AlgorithmCatalogTest, RunningOutOfMemoryIsNotReportedAsAnOptionError) {
    if (!testsupport::kAddressSpaceLimitWorks) {
        GTEST_SKIP() << "the sanitizers' address space cannot be limited";
    }
    const auto child =
        testsupport::RunInChild({testsupport::AddressSpaceInUse() + (rlim_t{32} << 20), 0}, [] {
            CommandLine line(ordanatest::Words(
                "--mlp --mhidden 2000 2000 --mlr 0.3 --mm 0.1 --merr 0.01 --miter 5"));
            ParameterParser parser = line.Parser();
            velkar::ordana::AlgorithmFactory factory(parser);
            try {
                factory.CreateAlgorithm("mlp", 3);
            } catch (const std::bad_alloc&) {
                return 0;
            }
            return 1;
        });
    EXPECT_EQ(child.exitStatus, 0);
    EXPECT_EQ(child.output, "");
}

TEST(AlgorithmCatalogTest, UnknownClassifierKeysBuildNothing) {
    CommandLine line(ordanatest::Words("--rbf --rlr 0.1 --rclusters 2 --riter 5"));
    ParameterParser parser = line.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    std::shared_ptr<PatternRecognitionAlgorithm> classifier;
    std::string printed = CapturedOutput([&] { classifier = factory.CreateAlgorithm("xyz", 3); });
    EXPECT_EQ(classifier, nullptr);
    EXPECT_EQ(printed, "");
    // Keys are compared exactly.
    printed = CapturedOutput([&] { classifier = factory.CreateAlgorithm("MLP", 3); });
    EXPECT_EQ(classifier, nullptr);
    EXPECT_EQ(printed, "");
    printed = CapturedOutput([&] { classifier = factory.CreateAlgorithm("RBF", 3); });
    EXPECT_EQ(classifier, nullptr);
    EXPECT_EQ(printed, "");
}

// The classifier a command line builds for 12 features, and what building it printed.
std::shared_ptr<PatternRecognitionAlgorithm> Created(const std::string& commandLine,
                                                     std::string& printed) {
    CommandLine line(ordanatest::Words(commandLine));
    ParameterParser parser = line.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    std::shared_ptr<PatternRecognitionAlgorithm> classifier;
    const std::string key = ordanatest::Words(commandLine)[0].substr(2);
    printed = CapturedOutput([&] { classifier = factory.CreateAlgorithm(key, 12); });
    return classifier;
}

TEST(AlgorithmCatalogTest, NetworkClassifierValuesAreCheckedBeforeBuilding) {
    const std::string rbf = "--rbf --rlr 0.1";
    const std::string art2 = "--art2 --a2a 10 --a2b 10 --a2c 0.1";
    const std::string som = "--som --slrt0 0.5";
    // Each line with the text its message must hold, or "" when it builds.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {rbf + " --rclusters 3 --riter 0", ""},
        {rbf + " --rclusters 0 --riter 5", "'--rclusters': 0"},
        {rbf + " --rclusters 3 --riter -1", "'--riter': -1"},
        {rbf + " --rclusters 900000 --riter 5", "'--rclusters': 900000"},
        {art2 + " --a2f2 5 --a2d 0 --a2theta 0 --a2rho 1", ""},
        {art2 + " --a2f2 0 --a2d 0.9 --a2theta 0.1 --a2rho 0.9", "'--a2f2': 0"},
        {art2 + " --a2f2 5 --a2d 1 --a2theta 0.1 --a2rho 0.9", "'--a2d': 1"},
        {art2 + " --a2f2 5 --a2d -0.5 --a2theta 0.1 --a2rho 0.9", "'--a2d': -0.5"},
        {art2 + " --a2f2 5 --a2d 0.9 --a2theta -0.1 --a2rho 0.9", "'--a2theta': -0.1"},
        {art2 + " --a2f2 5 --a2d 0.9 --a2theta 0.1 --a2rho 1.5", "'--a2rho': 1.5"},
        {art2 + " --a2f2 1000000 --a2d 0.9 --a2theta 0.1 --a2rho 0.9", "'--a2f2': 1000000"},
        {som + " --slat 4 --sradt0 0.25 --siter 0", ""},
        {som + " --slat 0 --sradt0 0.5 --siter 5", "'--slat': 0"},
        {som + " --slat 4 --sradt0 0.2 --siter 5", "'--sradt0': 0.2"},
        {som + " --slat 4 --sradt0 0.5 --siter -2", "'--siter': -2"},
        {som + " --slat 1000 --sradt0 0.5 --siter 5", "'--slat': 1000"},
    };
    for (const auto& [commandLine, named] : cases) {
        std::string printed;
        const auto classifier = Created(commandLine, printed);
        if (named.empty()) {
            EXPECT_NE(classifier, nullptr) << commandLine << "\n" << printed;
            EXPECT_EQ(printed, "") << commandLine;
            continue;
        }
        EXPECT_EQ(classifier, nullptr) << commandLine;
        const auto messages = ordanatest::Payloads(printed, "LOGMESSAGE");
        ASSERT_EQ(messages.size(), 1u) << printed;
        EXPECT_NE(messages[0].find("Invalid value for option " + named), std::string::npos)
            << messages[0];
    }
}

TEST(AlgorithmCatalogTest, RestoringComparesDisplayNamesExactly) {
    auto trained = TrainedPerceptron("--mlp --mhidden 4" + kPerceptronRest);
    ASSERT_NE(trained, nullptr);
    auto configuration = trained->Configuration();

    CommandLine none({});
    ParameterParser parser = none.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    auto restored = factory.RestoreAlgorithm("Multilayer Perceptron", configuration);
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->Name(), "Multilayer Perceptron");
    EXPECT_NE(dynamic_cast<MultilayerPerceptron*>(restored.get()), nullptr);
    for (double red : {0.0, 15.0, 100.0, 190.0, 255.0}) {
        std::vector<double> features = {red, 50.0, red / 2};
        std::vector<double> same = features;
        EXPECT_EQ(restored->Classify(features), trained->Classify(same)) << red;
    }

    for (const std::string name :
         {"multilayer perceptron", "Multilayer perceptron", "Multilayer Perceptron ", "mlp", ""}) {
        EXPECT_EQ(factory.RestoreAlgorithm(name, configuration), nullptr) << "'" << name << "'";
    }
}

}  // namespace
