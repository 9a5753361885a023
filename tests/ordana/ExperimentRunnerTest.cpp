#include "ordana/ExperimentRunner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "ordana/FileNames.h"
#include "ordana/ModelFile.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace {

using ordanatest::CapturedOutput;
using ordanatest::LabelledPolygon;
using ordanatest::Payloads;
using ordanatest::ProtocolLines;
using ordanatest::ReadLines;
using ordanatest::Rectangle;
using ordanatest::Rgb;
using ordanatest::WriteText;
using velkar::ordana::ExperimentSettings;
using velkar::ordana::ExtractionOutput;
using velkar::ordana::LoadPatterns;
using velkar::ordana::AlgorithmBuilder;
using velkar::ordana::PatternSet;
using velkar::ordana::RunExperiments;
using velkar::patternrecognition::Pattern;
using velkar::patternrecognition::PatternRecognitionAlgorithm;

// ---------------------------------------------------------------------------------------------
// Reading descriptor files back.

class LoadPatternsTest : public testing::Test {
  protected:
    std::string Write(const std::string& text) {
        const std::string path = (folder / "plot.cct_2014-05-27_16-05-09.wca").string();
        WriteText(path, text);
        return path;
    }

    ordanatest::TemporaryFolder folder;
};

TEST_F(LoadPatternsTest, NumbersClassesByTheirPositionInTheClassList) {
    const std::string path = Write("water 1 2.5 -3\nfield 0.125 1e-3 255\n\nwater nan 0 7\n");
    PatternSet patterns = LoadPatterns(path, 3, {"field", "forest", "water"});
    ASSERT_EQ(patterns->size(), 3u);
    EXPECT_EQ((*patterns)[0]->Class(), 2);
    EXPECT_EQ((*patterns)[0]->ClassName(), "water");
    EXPECT_EQ(*(*patterns)[0]->Descriptors(), (std::vector<double>{1, 2.5, -3}));
    EXPECT_EQ((*patterns)[1]->Class(), 0);
    EXPECT_EQ(*(*patterns)[1]->Descriptors(), (std::vector<double>{0.125, 0.001, 255}));
    // A window the extractor could not describe (a black pixel under normalisation) reads back.
    EXPECT_EQ((*patterns)[2]->Class(), 2);
    EXPECT_TRUE(std::isnan((*(*patterns)[2]->Descriptors())[0]));
}

TEST_F(LoadPatternsTest, EmptyFileGivesNoPatterns) {
    EXPECT_TRUE(LoadPatterns(Write(""), 3, {"a"})->empty());
}

TEST_F(LoadPatternsTest, MalformedLinesAreRejectedWithFileAndLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a 1 2\nb 1 2\nc 1 2\n", "line 3"},  // class not in the list
        {"a 1 2\na 1\n", "line 2"},           // too few values
        {"a 1 x\n", "line 1"},                // a word for a value
    };
    for (const auto& [text, line] : cases) {
        const std::string path = Write(text);
        try {
            LoadPatterns(path, 2, {"a", "b"});
            ADD_FAILURE() << "accepted: " << text;
        } catch (const std::exception& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("'" + path + "'"), std::string::npos) << message;
            EXPECT_NE(message.find(line), std::string::npos) << message;
        }
    }
    EXPECT_THROW(LoadPatterns((folder / "absent.wca").string(), 2, {"a"}), std::exception);
}

// ---------------------------------------------------------------------------------------------
// The repetitions, driven by scripted classifiers so that every count is known.

// What the scripted classifiers saw, shared by all classifiers of one builder.
struct Journal {
    int created = 0;
    std::vector<int> inputSizes;
    // Per Train call, the first feature of every training pattern, sorted.
    std::vector<std::multiset<double>> trainingSets;
    int classifyCalls = 0;
};

// Answers with a script of its serial number (1 for the first classifier built) and the
// features; its configuration records the serial so that a model file tells which one it was.
using Script = std::function<int(int serial, const std::vector<double>& features)>;

class ScriptedClassifier : public PatternRecognitionAlgorithm {
  public:
    ScriptedClassifier(int serial, Script script, Journal& journal)
        : serial(serial), script(std::move(script)), journal(journal) {}

    void Train(std::shared_ptr<std::vector<std::shared_ptr<Pattern>>> patterns) override {
        std::multiset<double> firsts;
        for (const auto& pattern : *patterns) {
            firsts.insert((*pattern->Descriptors())[0]);
        }
        journal.trainingSets.push_back(firsts);
    }
    int Classify(std::vector<double>& features) override {
        ++journal.classifyCalls;
        return script(serial, features);
    }
    std::shared_ptr<velkar::util::Collection> Configuration() override {
        auto map = std::make_shared<velkar::util::Map>();
        map->Put("serial", new int(serial));
        return map;
    }
    void SetConfiguration(std::shared_ptr<velkar::util::Collection>) override {}
    std::string FileExtension() override { return "fake"; }
    std::string Version() override { return "0.3"; }
    std::string Name() override { return "Scripted"; }

  private:
    int serial;
    Script script;
    Journal& journal;
};

class ScriptedBuilder : public AlgorithmBuilder {
  public:
    ScriptedBuilder(std::vector<std::string> keys, Script script)
        : keys(std::move(keys)), script(std::move(script)) {}

    std::vector<std::string> SelectedAlgorithms() override { return keys; }
    std::shared_ptr<PatternRecognitionAlgorithm> RestoreAlgorithm(
        const std::string&, std::shared_ptr<velkar::util::Collection>) override {
        return nullptr;
    }
    std::shared_ptr<PatternRecognitionAlgorithm> CreateAlgorithm(const std::string& key,
                                                                 int inputSize) override {
        if (key == "broken") {
            return nullptr;
        }
        journal.inputSizes.push_back(inputSize);
        return std::make_shared<ScriptedClassifier>(++journal.created, script, journal);
    }
    std::shared_ptr<velkar::featureextraction::FeatureExtractionAlgorithm>
    FeatureExtractionFromParameters(const std::string&, bool) override {
        return nullptr;
    }

    Journal journal;

  private:
    std::vector<std::string> keys;
    Script script;
};

// Pattern i has the single feature i and the class i % 2.
int TrueClass(const std::vector<double>& features) { return static_cast<int>(features[0]) % 2; }

class RunExperimentsTest : public testing::Test {
  protected:
    void SetUp() override {
        velkar::util::Seed(20140527);
        WritePatterns(11);
    }

    void WritePatterns(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += std::string(i % 2 == 0 ? "even" : "odd") + " " + std::to_string(i) + "\n";
        }
        output.descriptorFile = (folder / "plot.cct_2014-05-27_16-05-09.wca").string();
        WriteText(output.descriptorFile, text);
        output.featureCount = 1;
        output.algorithmName = "Windowed Color Average";
        output.classes = {"even", "odd"};
        output.colors = {"#ffffff", "#000000"};
        output.parameters = "--wca --aam false --anorm false --aws 5";
        output.windowSize = 5;
    }

    // Runs the experiments and returns what they printed.
    std::string Run(ScriptedBuilder& builder, int experiments, bool chatty = false,
                    int progressStart = 0, int progressEnd = 100) {
        const velkar::ordana::ProtocolWriter protocol(chatty);
        ExperimentSettings settings;
        settings.protocol = &protocol;
        settings.experiments = experiments;
        settings.outputPrefix = (folder / "plot.cct").string();
        settings.builder = &builder;
        return CapturedOutput(
            [&] { RunExperiments(settings, output, progressStart, progressEnd); });
    }

    std::string ResultsFile() const { return output.descriptorFile + "-fake"; }

    std::vector<std::filesystem::path> ModelFiles() const {
        return ordanatest::FilesWithExtension(folder.Path(), "fake");
    }

    ordanatest::TemporaryFolder folder;
    ExtractionOutput output;
};

std::string Precision15(double value) {
    std::ostringstream text;
    text.precision(15);
    text << value;
    return text.str();
}

// The value after the ':' of a results line.
double ValueOf(const std::string& line) { return std::stod(line.substr(line.find(':') + 1)); }

TEST_F(RunExperimentsTest, ElevenPatternsSplitIntoFiveAndSixEveryRepetition) {
    ScriptedBuilder builder({"fake"},
                            [](int, const std::vector<double>& f) { return TrueClass(f); });
    Run(builder, 4);

    EXPECT_EQ(builder.journal.created, 4);  // a fresh classifier per repetition
    EXPECT_EQ(builder.journal.inputSizes, (std::vector<int>(4, 1)));
    ASSERT_EQ(builder.journal.trainingSets.size(), 4u);
    for (const auto& training : builder.journal.trainingSets) {
        EXPECT_EQ(training.size(), 5u);
    }
    // Every repetition classifies all eleven patterns once: training and test set together.
    EXPECT_EQ(builder.journal.classifyCalls, 44);
    // Each repetition draws its own split.
    EXPECT_GT(std::set<std::multiset<double>>(builder.journal.trainingSets.begin(),
                                              builder.journal.trainingSets.end())
                  .size(),
              1u);

    EXPECT_EQ(ReadLines(ResultsFile()),
              (std::vector<std::string>{"train 1:1", "test 1:1", "train 2:1", "test 2:1",
                                        "train 3:1", "test 3:1", "train 4:1", "test 4:1",
                                        "train global: 1", "test global: 1"}));
}

TEST_F(RunExperimentsTest, AccuraciesAccumulateOverRepetitions) {
    // Right only on the patterns 0 to 3, so each repetition's counts follow from its split.
    ScriptedBuilder builder({"fake"}, [](int, const std::vector<double>& f) {
        return f[0] < 4 ? TrueClass(f) : 1 - TrueClass(f);
    });
    const int experiments = 5;
    Run(builder, experiments);

    // Each repetition's counts follow from its training set; the file holds the accumulated
    // fractions with fifteen significant digits.
    std::vector<std::string> expected;
    long long trainingCorrect = 0;
    long long testCorrect = 0;
    for (int h = 1; h <= experiments; ++h) {
        int inTraining = 0;
        for (double value : builder.journal.trainingSets.at(static_cast<std::size_t>(h - 1))) {
            inTraining += value < 4 ? 1 : 0;
        }
        trainingCorrect += inTraining;
        testCorrect += 4 - inTraining;
        expected.push_back("train " + std::to_string(h) + ":" +
                           Precision15(static_cast<double>(trainingCorrect) / (5.0 * h)));
        expected.push_back("test " + std::to_string(h) + ":" +
                           Precision15(static_cast<double>(testCorrect) / (6.0 * h)));
    }
    expected.push_back("train global: " +
                       Precision15(static_cast<double>(trainingCorrect) / (5.0 * experiments)));
    expected.push_back("test global: " +
                       Precision15(static_cast<double>(testCorrect) / (6.0 * experiments)));
    EXPECT_EQ(ReadLines(ResultsFile()), expected);
}

TEST_F(RunExperimentsTest, OneRepetitionGivesFourLinesWithEqualGlobals) {
    ScriptedBuilder builder(
        {"fake"}, [](int, const std::vector<double>& f) { return f[0] < 6 ? TrueClass(f) : -1; });
    Run(builder, 1);
    const auto lines = ReadLines(ResultsFile());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("train 1:", 0), 0u);
    EXPECT_EQ(lines[1].rfind("test 1:", 0), 0u);
    EXPECT_EQ(lines[2], "train global: " + lines[0].substr(8));
    EXPECT_EQ(lines[3], "test global: " + lines[1].substr(7));
    // Six patterns (0 to 5) are answered right, spread over a training set of 5 and a test set
    // of 6.
    const double right = ValueOf(lines[0]) * 5 + ValueOf(lines[1]) * 6;
    EXPECT_NEAR(right, 6.0, 1e-12);
}

TEST_F(RunExperimentsTest, ModelHoldsTheFirstRepetitionWithTheMostCorrectTests) {
    // Classifier 1 is always wrong, 2 and 3 always right (a tie), 4 right on half.
    ScriptedBuilder builder({"fake"}, [](int serial, const std::vector<double>& f) {
        if (serial == 1) {
            return 1 - TrueClass(f);
        }
        if (serial == 4) {
            return f[0] < 6 ? TrueClass(f) : 1 - TrueClass(f);
        }
        return TrueClass(f);
    });
    const std::string printed = Run(builder, 4);
    EXPECT_EQ(printed, "");

    const auto models = ModelFiles();
    ASSERT_EQ(models.size(), 1u);
    EXPECT_TRUE(ordanatest::IsTimestampedName(models[0].filename().string(), "plot.cct", "fake"))
        << models[0];
    auto model = velkar::ordana::ReadModelFile(models[0].string());
    ASSERT_NE(model->GetInt("serial"), nullptr);
    EXPECT_EQ(*model->GetInt("serial"), 2);

    const velkar::util::Map& metadata = velkar::ordana::ModelMetadata(*model);
    EXPECT_EQ(*metadata.GetString("algorithm_name"), "Scripted");
    EXPECT_EQ(*metadata.GetString("algorithm_version"), "0.3");
    EXPECT_EQ(*metadata.GetString("feature_extraction_parameters"),
              "--wca --aam false --anorm false --aws 5");
    EXPECT_EQ(*metadata.GetInt("window_size"), 5);
    EXPECT_EQ(velkar::ordana::StringList(metadata.GetCollection("classes")), output.classes);
    EXPECT_EQ(velkar::ordana::StringList(metadata.GetCollection("colors")), output.colors);
}

TEST_F(RunExperimentsTest, NoCorrectTestPatternMeansNoModel) {
    ScriptedBuilder builder({"fake"},
                            [](int, const std::vector<double>& f) { return 1 - TrueClass(f); });
    const std::string printed = Run(builder, 3);
    EXPECT_EQ(
        ReadLines(ResultsFile()),
        (std::vector<std::string>{"train 1:0", "test 1:0", "train 2:0", "test 2:0", "train 3:0",
                                  "test 3:0", "train global: 0", "test global: 0"}));
    EXPECT_TRUE(ModelFiles().empty());
    const auto messages = Payloads(printed, "LOGMESSAGE");
    ASSERT_EQ(messages.size(), 1u) << printed;
    EXPECT_NE(messages[0].find("no model file"), std::string::npos) << messages[0];
}

TEST_F(RunExperimentsTest, ZeroRepetitionsWriteAnEmptyResultsFile) {
    ScriptedBuilder builder({"fake"},
                            [](int, const std::vector<double>& f) { return TrueClass(f); });
    const std::string printed = Run(builder, 0, true);
    ASSERT_TRUE(std::filesystem::exists(ResultsFile()));
    EXPECT_EQ(ordanatest::ReadText(ResultsFile()), "");
    EXPECT_TRUE(ModelFiles().empty());
    EXPECT_TRUE(builder.journal.trainingSets.empty());
    const auto messages = Payloads(printed, "LOGMESSAGE");
    ASSERT_EQ(messages.size(), 2u) << printed;
    EXPECT_EQ(messages[0], "Running experiments with fake.");
    EXPECT_NE(messages[1].find("no model file"), std::string::npos) << messages[1];
}

TEST_F(RunExperimentsTest, AMissingClassifierIsSkippedWithAMessage) {
    ScriptedBuilder builder({"broken", "fake"},
                            [](int, const std::vector<double>& f) { return TrueClass(f); });
    const std::string printed = Run(builder, 1);
    const auto messages = Payloads(printed, "LOGMESSAGE");
    ASSERT_EQ(messages.size(), 1u) << printed;
    EXPECT_NE(messages[0].find("'--broken'"), std::string::npos) << messages[0];
    // The other key still runs; only its results file exists.
    EXPECT_EQ(ReadLines(ResultsFile()).size(), 4u);
    EXPECT_EQ(ordanatest::FilesWithExtension(folder.Path(), "wca-fake").size(), 1u);
    EXPECT_EQ(folder.FileNames().size(), 4u);  // descriptors, results, report, model
}

TEST_F(RunExperimentsTest, ClassifiersShareTheProgressRangeEqually) {
    ScriptedBuilder builder({"fake", "other"},
                            [](int, const std::vector<double>& f) { return TrueClass(f); });
    const std::string printed = Run(builder, 2, true);
    EXPECT_EQ(Payloads(printed, "PROGRESS"),
              (std::vector<std::string>{"0", "25", "50", "75", "100"}));
    const auto lines = ProtocolLines(printed);
    ASSERT_EQ(lines.size(), 15u) << printed;
    EXPECT_EQ(lines[0], "[PROGRESS] !0!");
    EXPECT_EQ(lines[1], "[LOGMESSAGE] !Running experiments with fake.!");
    EXPECT_EQ(lines[2], "[PROGRESS] !25!");
    EXPECT_EQ(lines[3], "[LOGMESSAGE] !Accumulated train 1: 1!");
    EXPECT_EQ(lines[4], "[LOGMESSAGE] !Accumulated test 1: 1!");
    EXPECT_EQ(lines[8], "[LOGMESSAGE] !Running experiments with other.!");
    EXPECT_EQ(lines[14], "[LOGMESSAGE] !Accumulated test 2: 1!");
}

TEST_F(RunExperimentsTest, ProgressStaysWithinTheOutputsRange) {
    ScriptedBuilder builder({"fake"},
                            [](int, const std::vector<double>& f) { return TrueClass(f); });
    std::string printed = Run(builder, 4, true, 50, 100);
    EXPECT_EQ(Payloads(printed, "PROGRESS"),
              (std::vector<std::string>{"50", "62", "75", "87", "100"}));
    printed = Run(builder, 3, true, 0, 33);
    EXPECT_EQ(Payloads(printed, "PROGRESS"), (std::vector<std::string>{"0", "11", "22", "33"}));
}

TEST_F(RunExperimentsTest, TheDescriptorFileIsReadOncePerClassifier) {
    // The first answer removes the descriptor file; the later repetitions must not need it.
    const std::string descriptorFile = output.descriptorFile;
    ScriptedBuilder builder({"fake"}, [&](int, const std::vector<double>& f) {
        std::filesystem::remove(descriptorFile);
        return TrueClass(f);
    });
    Run(builder, 3);
    EXPECT_FALSE(std::filesystem::exists(descriptorFile));
    EXPECT_EQ(ReadLines(ResultsFile()).size(), 8u);
    EXPECT_EQ(builder.journal.trainingSets.size(), 3u);
}

TEST_F(RunExperimentsTest, NothingToTrainOnIsReported) {
    ScriptedBuilder builder({"fake"},
                            [](int, const std::vector<double>& f) { return TrueClass(f); });
    output.featureCount = 0;
    WriteText(output.descriptorFile, "");
    std::string printed = Run(builder, 2);
    EXPECT_EQ(Payloads(printed, "LOGMESSAGE").size(), 1u) << printed;
    EXPECT_EQ(builder.journal.created, 0);

    // A single pattern cannot be split into a training and a test set.
    WritePatterns(1);
    printed = Run(builder, 2);
    EXPECT_EQ(Payloads(printed, "LOGMESSAGE").size(), 1u) << printed;
    EXPECT_TRUE(builder.journal.trainingSets.empty());
    EXPECT_EQ(folder.FileNames().size(), 1u);
}

}  // namespace
