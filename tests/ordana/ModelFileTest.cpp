#include "ordana/ModelFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "ordana/AlgorithmFactory.h"
#include "ordana/InputError.h"
#include "ordana/ParameterParser.h"
#include "velkar/patternrecognition/MultilayerPerceptron.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace {

using ordanatest::WriteText;
using velkar::ordana::ComposeModel;
using velkar::ordana::InputError;
using velkar::ordana::ModelMetadata;
using velkar::ordana::ReadModelFile;
using velkar::ordana::StringList;
using velkar::ordana::WriteModelFile;
using velkar::patternrecognition::Pattern;
using velkar::patternrecognition::PatternRecognitionAlgorithm;
using velkar::util::Array;
using velkar::util::Collection;
using velkar::util::Map;

// A classifier whose configuration is a fixed small tree, or none.
class FixedClassifier : public PatternRecognitionAlgorithm {
  public:
    explicit FixedClassifier(bool keepsTree) : keepsTree(keepsTree) {}
    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>>) override {}
    int Classify(std::vector<double>&) override { return 0; }
    std::shared_ptr<Collection> Configuration() override {
        if (!keepsTree) {
            return nullptr;
        }
        auto map = std::make_shared<Map>();
        map->Put("Zulu", new int(26));
        map->Put("alpha", new double(0.5));
        map->Put("zeta", new std::string("last"));
        auto* list = new Array();
        list->Add(new int(1));
        list->Add(new int(2));
        map->Put("n", static_cast<Collection*>(list));
        return map;
    }
    void SetConfiguration(std::shared_ptr<Collection>) override {}
    std::string FileExtension() override { return "fix"; }
    std::string Version() override { return "1.5"; }
    std::string Name() override { return "Fixed"; }

  private:
    bool keepsTree;
};

const std::vector<std::string> kClasses = {"water", "forest", "urban"};
const std::vector<std::string> kColours = {"#0000ff", "#00ff00", "128 128 128"};
const std::string kParameters = "--wca --aam true --anorm false --aws 7";

void ExpectMetadata(const Map& model, const std::string& name, const std::string& version) {
    const Map& metadata = ModelMetadata(model);
    EXPECT_EQ(metadata.Size(), 6);
    ASSERT_NE(metadata.GetString("algorithm_name"), nullptr);
    EXPECT_EQ(*metadata.GetString("algorithm_name"), name);
    ASSERT_NE(metadata.GetString("algorithm_version"), nullptr);
    EXPECT_EQ(*metadata.GetString("algorithm_version"), version);
    EXPECT_EQ(StringList(metadata.GetCollection("classes")), kClasses);
    EXPECT_EQ(StringList(metadata.GetCollection("colors")), kColours);
    ASSERT_NE(metadata.GetString("feature_extraction_parameters"), nullptr);
    EXPECT_EQ(*metadata.GetString("feature_extraction_parameters"), kParameters);
    ASSERT_NE(metadata.GetInt("window_size"), nullptr);
    EXPECT_EQ(*metadata.GetInt("window_size"), 7);
}

TEST(ModelFileTest, ComposeAddsTheMetadataToTheClassifiersTree) {
    FixedClassifier classifier(true);
    auto configuration = classifier.Configuration();
    auto model = ComposeModel(configuration, classifier, kClasses, kColours, kParameters, 7);
    // The classifier's own map receives the metadata.
    EXPECT_EQ(model.get(), configuration.get());
    EXPECT_EQ(model->Size(), 5);
    EXPECT_EQ(*model->GetInt("Zulu"), 26);
    ExpectMetadata(*model, "Fixed", "1.5");
}

TEST(ModelFileTest, AClassifierWithoutTreeGetsMetadataAlone) {
    FixedClassifier classifier(false);
    auto model = ComposeModel(nullptr, classifier, kClasses, kColours, kParameters, 7);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->Size(), 1);
    ExpectMetadata(*model, "Fixed", "1.5");
    // Empty class and colour lists stay empty arrays.
    auto bare = ComposeModel(nullptr, classifier, {}, {}, "", 1);
    const Map& metadata = ModelMetadata(*bare);
    ASSERT_NE(dynamic_cast<Array*>(metadata.GetCollection("classes")), nullptr);
    EXPECT_EQ(metadata.GetCollection("classes")->Size(), 0);
    EXPECT_EQ(metadata.GetCollection("colors")->Size(), 0);
}

TEST(ModelFileTest, WrittenModelsReadBack) {
    ordanatest::TemporaryFolder folder;
    FixedClassifier classifier(true);
    auto model =
        ComposeModel(classifier.Configuration(), classifier, kClasses, kColours, kParameters, 7);
    const std::string path = (folder / "plot.cct_2014-05-27_16-05-09.fix").string();
    WriteModelFile(path, *model);

    const std::string text = ordanatest::ReadText(path);
    // Pretty layout: members on their own lines, indented by tabs, keys in byte order with the
    // metadata among the classifier's keys and its own keys in table order.
    EXPECT_NE(text.find("\n\t\"Zulu\""), std::string::npos) << text;
    std::size_t previous = 0;
    for (const char* key :
         {"\"Zulu\"", "\"alpha\"", "\"metadata\"", "\"algorithm_name\"", "\"algorithm_version\"",
          "\"classes\"", "\"colors\"", "\"feature_extraction_parameters\"", "\"window_size\"",
          "\"n\"", "\"zeta\""}) {
        const std::size_t at = text.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, previous) << key;
        previous = at;
    }

    auto read = ReadModelFile(path);
    EXPECT_EQ(read->Size(), 5);
    EXPECT_EQ(*read->GetInt("Zulu"), 26);
    EXPECT_DOUBLE_EQ(*read->GetDouble("alpha"), 0.5);
    EXPECT_EQ(*read->GetString("zeta"), "last");
    ExpectMetadata(*read, "Fixed", "1.5");
    // Writing what was read gives the same text.
    WriteModelFile(path + "2", *read);
    EXPECT_EQ(ordanatest::ReadText(path + "2"), text);
}

TEST(ModelFileTest, ReadingDropsLineBreaksInsideStrings) {
    ordanatest::TemporaryFolder folder;
    FixedClassifier classifier(false);
    auto model = ComposeModel(nullptr, classifier, kClasses, kColours, "--wca\n--aws 5", 5);
    WriteModelFile((folder / "m.fix").string(), *model);
    auto read = ReadModelFile((folder / "m.fix").string());
    EXPECT_EQ(*ModelMetadata(*read).GetString("feature_extraction_parameters"), "--wca--aws 5");
}

TEST(ModelFileTest, PerceptronModelRestoresTheSameClassifier) {
    ordanatest::TemporaryFolder folder;
    velkar::util::Seed(5);
    auto trained = std::make_shared<velkar::patternrecognition::MultilayerPerceptron>(
        2, std::vector<int>{3}, 0.3, 0.1, 0.001, 300);
    auto patterns = std::make_shared<std::vector<std::shared_ptr<Pattern>>>();
    for (int i = 0; i < 12; ++i) {
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(i % 3);
        pattern->SetDescriptors({static_cast<double>(i % 3) * 40.0 + i, 100.0 - i % 3 * 30.0});
        patterns->push_back(pattern);
    }
    trained->Train(patterns);
    auto model =
        ComposeModel(trained->Configuration(), *trained, kClasses, kColours, kParameters, 7);
    WriteModelFile((folder / "m.mlp").string(), *model);

    auto read = ReadModelFile((folder / "m.mlp").string());
    ExpectMetadata(*read, "Multilayer Perceptron", "2.0");
    ordanatest::CommandLine none({});
    velkar::ordana::ParameterParser parser = none.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    auto restored =
        factory.RestoreAlgorithm(*ModelMetadata(*read).GetString("algorithm_name"), read);
    ASSERT_NE(restored, nullptr);
    // JSON keeps twelve decimals, so answers agree away from the decision borders; the
    // training patterns lie well inside their classes.
    for (const auto& pattern : *patterns) {
        std::vector<double> features = *pattern->Descriptors();
        std::vector<double> same = features;
        EXPECT_EQ(restored->Classify(features), trained->Classify(same));
    }
}

class ModelFileReadTest : public testing::Test {
  protected:
    // The message of the InputError that reading text raises, or "" when it reads.
    std::string Rejection(const std::string& text) {
        const std::string path = (folder / "model.mlp").string();
        WriteText(path, text);
        try {
            ReadModelFile(path);
        } catch (const InputError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("'" + path + "'"), std::string::npos) << message;
            return message;
        }
        return "";
    }

    ordanatest::TemporaryFolder folder;
};

// A metadata text with one member replaced (or left out when replacement is empty).
std::string ModelText(const std::string& key, const std::string& replacement) {
    const std::vector<std::pair<std::string, std::string>> members = {
        {"algorithm_name", "\"Multilayer Perceptron\""},
        {"algorithm_version", "\"2.0\""},
        {"classes", "[\"a\", \"b\"]"},
        {"colors", "[\"red\", \"blue\"]"},
        {"feature_extraction_parameters", "\"--wca --aws 5\""},
        {"window_size", "5"}};
    std::string text = "{\n\t\"weights\": [1],\n\t\"metadata\": {";
    bool first = true;
    for (const auto& [name, value] : members) {
        const std::string written = name == key ? replacement : value;
        if (written.empty()) {
            continue;
        }
        text += std::string(first ? "" : ",") + "\n\t\t\"" + name + "\": " + written;
        first = false;
    }
    return text + "\n\t}\n}\n";
}

TEST_F(ModelFileReadTest, AWellFormedTextReads) {
    EXPECT_EQ(Rejection(ModelText("", "")), "");
    EXPECT_EQ(Rejection(ModelText("colors", "[]")), "");
    EXPECT_EQ(Rejection(ModelText("colors", "[\"red\"]")), "");
    EXPECT_EQ(Rejection(ModelText("window_size", "1")), "");
}

TEST_F(ModelFileReadTest, MalformedModelsAreRejected) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "JSON object"},
        {"   \n\t\n", "JSON object"},
        {"[1, 2]", "JSON object"},
        {"model", "JSON object"},
        {"{\"weights\": [1]}", "\"metadata\""},
        {"{\"metadata\": [1]}", "\"metadata\""},
        {"{\"metadata\": \"none\"}", "\"metadata\""},
        {ModelText("algorithm_name", ""), "\"algorithm_name\""},
        {ModelText("algorithm_name", "7"), "\"algorithm_name\""},
        {ModelText("feature_extraction_parameters", ""), "\"feature_extraction_parameters\""},
        {ModelText("classes", ""), "\"classes\""},
        {ModelText("classes", "\"a\""), "\"classes\""},
        {ModelText("classes", "[\"a\", 3]"), "\"classes\""},
        {ModelText("colors", ""), "\"colors\""},
        {ModelText("colors", "{\"a\": \"b\"}"), "\"colors\""},
        {ModelText("window_size", ""), "\"window_size\""},
        {ModelText("window_size", "0"), "\"window_size\""},
        {ModelText("window_size", "-5"), "\"window_size\""},
        {ModelText("window_size", "\"5\""), "\"window_size\""},
        {ModelText("window_size", "5.5"), "\"window_size\""},
        {ModelText("classes", "[]"), "empty \"classes\""},
        {ModelText("colors", "[\"red\", \"blue\", \"green\"]"), "3 \"colors\" for 2 \"classes\""},
        // Cut short in its last bytes, or inside a string that holds a closing bracket.
        {ModelText("", "").substr(0, ModelText("", "").size() - 3), "cut short"},
        {ModelText("colors", "[\"red]\"]")
             .substr(0, ModelText("colors", "[\"red]\"]").find(']') + 1),
         "cut short"},
    };
    for (const auto& [text, topic] : cases) {
        const std::string message = Rejection(text);
        EXPECT_NE(message.find(topic), std::string::npos) << text << "\n-> " << message;
    }
}

// Files that hold no model text are named with what they are: missing, a folder, or larger
// than the size limit (by their size, or for an endless device once the limit is read). A file
// at the limit reads.
TEST_F(ModelFileReadTest, FilesThatAreNoModelTextAreNamed) {
    const std::string text = ModelText("", "");
    WriteText(folder / "model.mlp", text);
    EXPECT_NO_THROW(ReadModelFile((folder / "model.mlp").string(), text.size()));
    std::filesystem::create_directory(folder / "folder.mlp");
    const std::string tooLarge = "larger than " + std::to_string(text.size() - 1) + " bytes";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {(folder / "absent.mlp").string(), "No such file"},
        {(folder / "folder.mlp").string(), "is a directory"},
        {(folder / "model.mlp").string(), tooLarge},
        {"/dev/zero", tooLarge},
    };
    for (const auto& [path, topic] : cases) {
        try {
            ReadModelFile(path, text.size() - 1);
            ADD_FAILURE() << path << " read";
        } catch (const InputError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("'" + path + "'"), std::string::npos) << message;
            EXPECT_NE(message.find(topic), std::string::npos) << message;
        }
    }
}

}  // namespace
