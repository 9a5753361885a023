// The rows of the Mahalanobis distance, Point K and learning vector quantization classifiers:
// named rejections of their options, and the two workflows of the program with each (which
// train, store, restore and classify through the rows in the program's class numbering).

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "ordana/AlgorithmFactory.h"
#include "ordana/ModelFile.h"
#include "ordana/ParameterParser.h"
#include "ordana/PolygonFile.h"

namespace {

using ordanatest::CapturedOutput;
using ordanatest::CommandLine;
using ordanatest::Payloads;
using ordanatest::Words;
using velkar::ordana::ParameterParser;
using velkar::patternrecognition::PatternRecognitionAlgorithm;

struct Created {
    std::shared_ptr<PatternRecognitionAlgorithm> classifier;
    std::vector<std::string> messages;
};

Created Create(const std::string& commandLine, const std::string& key, int inputSize) {
    CommandLine line(Words(commandLine));
    ParameterParser parser = line.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    Created created;
    const std::string printed =
        CapturedOutput([&] { created.classifier = factory.CreateAlgorithm(key, inputSize); });
    created.messages = Payloads(printed, "LOGMESSAGE");
    return created;
}

const std::string kMahalanobis = "--mahd --mdcc 2";
const std::string kPointK = "--pntk --pkcc 2 --pkiter 5";
const std::string kVectorQuantization = "--lvq --vqhid 4 --vqout 2 --vqiter 20 --vqalpha 0.2";

TEST(StatisticalClassifierRows, UnusableOptionValuesAreNamedAndBuildNothing) {
    const std::vector<std::tuple<std::string, std::string, int, std::string>> cases = {
        {"--mahd --mdcc 0", "mahd", 3, "'--mdcc': 0"},
        {"--mahd --mdcc 1000000", "mahd", 12, "'--mdcc': 1000000"},
        {"--mahd --mdcc 2", "mahd", 4000, "'--mahd'"},
        {"--pntk --pkcc 0 --pkiter 3", "pntk", 3, "'--pkcc': 0"},
        {"--pntk --pkcc 2 --pkiter -1", "pntk", 3, "'--pkiter': -1"},
        {"--pntk --pkcc 1000000 --pkiter 3", "pntk", 12, "'--pkcc': 1000000"},
        {"--lvq --vqhid 4 --vqout 0 --vqiter 5 --vqalpha 0.1", "lvq", 3, "'--vqout': 0"},
        {"--lvq --vqhid 1 --vqout 2 --vqiter 5 --vqalpha 0.1", "lvq", 3, "'--vqhid': 1"},
        {"--lvq --vqhid 4 --vqout 2 --vqiter 0 --vqalpha 0.1", "lvq", 3, "'--vqiter': 0"},
        {"--lvq --vqhid 4 --vqout 2 --vqiter 5 --vqalpha nan", "lvq", 3, "'--vqalpha': nan"},
        {"--lvq --vqhid 2000000 --vqout 2 --vqiter 5 --vqalpha 0.1", "lvq", 12,
         "'--vqhid': 2000000"},
        {"--lvq --vqhid 4 --vqiter 5 --vqalpha 0.1", "lvq", 3,
         "Parameter 'vqout' is required but missing."},
        {"--pntk --pkcc 2", "pntk", 3, "Parameter 'pkiter' is required but missing."},
    };
    for (const auto& [commandLine, key, inputSize, named] : cases) {
        const Created created = Create(commandLine, key, inputSize);
        EXPECT_EQ(created.classifier, nullptr) << commandLine;
        ASSERT_EQ(created.messages.size(), 1u) << commandLine;
        EXPECT_NE(created.messages[0].find(named), std::string::npos) << created.messages[0];
    }
}

// ---------------------------------------------------------------------------------------------
// The workflows: train on a red/blue scene, then classify a scene laid out the other way.

class StatisticalWorkflowTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ordanatest::WriteRedBlueTraining(folder.Path()));
        std::filesystem::create_directory(folder / "scene");
        ASSERT_TRUE(ordanatest::WriteBlueOverRed(folder / "scene" / "scene.png", 40, 40));
    }

    ordanatest::ProgramResult Experiment(const std::string& options) {
        std::vector<std::string> arguments = {"--image",       (folder / "training.png").string(),
                                              "--file",        (folder / "training.cct").string(),
                                              "--experiments", "2",
                                              "--seed",        "5"};
        for (const std::string& word : Words(options)) {
            arguments.push_back(word);
        }
        return ordanatest::RunOrdana(arguments, folder.Path());
    }

    // Classifies the scene with the model; the labels of its windows, top half first.
    std::vector<std::string> ClassifyScene(const std::filesystem::path& model) {
        auto result = ordanatest::RunOrdana(
            {"--image", (folder / "scene" / "scene.png").string(), "--modelfile", model.string(),
             "--sampling", "window", "--chatty", "true"},
            folder.Path());
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        const auto status = Payloads(result.output, "STATUS");
        if (status.size() != 1 || status[0].empty()) {
            ADD_FAILURE() << result.output;
            return {};
        }
        std::vector<std::string> top;
        std::vector<std::string> bottom;
        for (const auto& polygon : velkar::ordana::ReadPolygonFile(status[0], true).polygons) {
            (polygon->Begin()->y() < 20 ? top : bottom).push_back(polygon->Class());
        }
        EXPECT_EQ(top.size(), 32u);
        EXPECT_EQ(bottom.size(), 32u);
        top.insert(top.end(), bottom.begin(), bottom.end());
        return top;
    }

    ordanatest::TemporaryFolder folder;
};

// The first half of labels (the top of the scene) all equal to top, the rest to bottom.
void ExpectHalves(const std::vector<std::string>& labels, const std::string& top,
                  const std::string& bottom, const std::string& what) {
    ASSERT_EQ(labels.size(), 64u) << what;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        EXPECT_EQ(labels[i], i < 32 ? top : bottom) << what << ", window " << i;
    }
}

TEST_F(StatisticalWorkflowTest, EachClassifierTrainsWritesAModelAndClassifiesANewScene) {
    const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> runs = {
        // Chromaticities summing to 1 make the covariance singular.
        {"--wca --aws 5 --aam true --anorm true " + kMahalanobis,
         "md",
         {"class_count", "dimension", "means", "inverse_covariance"}},
        {"--wca --aws 5 " + kPointK, "pk", {"point_count", "dimension", "points"}},
        {"--wca --aws 5 --aam true --anorm true " + kVectorQuantization,
         "lvq",
         {"hidden_count", "output_count", "dimension", "weights"}},
    };
    for (const auto& [options, extension, keys] : runs) {
        const auto result = Experiment(options);
        ASSERT_EQ(result.exitStatus, 0) << result.output;
        const auto results = ordanatest::FilesWithExtension(folder.Path(), "wca-" + extension);
        ASSERT_EQ(results.size(), 1u) << options << "\n" << result.output;
        const auto lines = ordanatest::ReadLines(results.back());
        ASSERT_EQ(lines.size(), 6u);
        // Point K's clusters need not be numbered as the classes are.
        if (extension != "pk") {
            EXPECT_EQ(lines[5], "test global: 1") << options;
        }

        const auto models = ordanatest::FilesWithExtension(folder.Path(), extension);
        ASSERT_EQ(models.size(), 1u) << options;
        auto model = velkar::ordana::ReadModelFile(models[0].string());
        for (const std::string& key : keys) {
            EXPECT_TRUE(model->Exists(key)) << options << ": " << key;
        }
        const auto labels = ClassifyScene(models[0]);
        if (extension == "pk" && !labels.empty() && labels[0] == "red") {
            ExpectHalves(labels, "red", "blue", options);
        } else {
            ExpectHalves(labels, "blue", "red", options);
        }
    }
}

TEST_F(StatisticalWorkflowTest, ClassCountsBelowThePolygonFilesAreNamedBeforeTraining) {
    const auto result = Experiment(
        "--wca --aws 5 --mahd --mdcc 1 --lvq --vqhid 3 --vqout 1 --vqiter 5 --vqalpha 0.1 "
        "--pntk --pkcc 1 --pkiter 2");
    // Named before anything is extracted: the run writes nothing and exits 2.
    ASSERT_EQ(result.exitStatus, 2) << result.output;
    const auto messages = Payloads(result.output, "LOGMESSAGE");
    ASSERT_EQ(messages.size(), 2u) << result.output;
    EXPECT_EQ(messages[0].rfind("Invalid value for option '--vqout': 1 (there are 2 classes", 0),
              0u)
        << messages[0];
    EXPECT_EQ(messages[1].rfind("Invalid value for option '--mdcc': 1 (there are 2 classes", 0), 0u)
        << messages[1];
    EXPECT_TRUE(ordanatest::FilesWithExtension(folder.Path(), "wca").empty());
    EXPECT_TRUE(ordanatest::FilesWithExtension(folder.Path(), "wca-lvq").empty());
    // One point for two classes is a usable, if poor, clustering.
    EXPECT_EQ(Payloads(Experiment("--wca --aws 5 --pntk --pkcc 1 --pkiter 2").output, "LOGMESSAGE")
                  .size(),
              0u);
    EXPECT_EQ(ordanatest::FilesWithExtension(folder.Path(), "wca-pk").size(), 1u);
}

}  // namespace
