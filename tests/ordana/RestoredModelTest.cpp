// A model file restores the very classifier the experiment trained. The experiment workflow
// trains each classifier of the program on a descriptor file whose windows hold a feature that
// is 0 in every training window and features in the 1e-9 range, and writes its model file; the
// classification run's reader and restore path bring it back. The restored classifier must give
// every window the label the trained object gives it, also windows in which the constant
// feature is no longer 0 (a colour channel that was 0 in the training scene only).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "WorkflowFixtures.h"
#include "common/TemporaryFolder.h"
#include "ordana/ExperimentRunner.h"
#include "ordana/ModelFile.h"
#include "ordana/AlgorithmFactory.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"
#include "velkar/util/Random.h"

namespace {

using velkar::ordana::AlgorithmBuilder;
using velkar::patternrecognition::PatternRecognitionAlgorithm;
using Classifier = std::shared_ptr<PatternRecognitionAlgorithm>;
using Window = std::vector<double>;

// The program's builder, keeping every classifier it creates: with one repetition and no known
// polygons the experiment creates exactly one, the object it trains and stores.
class RecordingBuilder : public AlgorithmBuilder {
  public:
    explicit RecordingBuilder(AlgorithmBuilder& builder) : builder(builder) {}

    std::vector<std::string> SelectedAlgorithms() override { return builder.SelectedAlgorithms(); }
    Classifier RestoreAlgorithm(const std::string& name,
                                std::shared_ptr<velkar::util::Collection> model) override {
        return builder.RestoreAlgorithm(name, model);
    }
    Classifier CreateAlgorithm(const std::string& key, int inputSize) override {
        created.push_back(builder.CreateAlgorithm(key, inputSize));
        return created.back();
    }
    std::shared_ptr<velkar::featureextraction::FeatureExtractionAlgorithm>
    FeatureExtractionFromParameters(const std::string& parameters, bool reportErrors) override {
        return builder.FeatureExtractionFromParameters(parameters, reportErrors);
    }

    std::vector<Classifier> created;

  private:
    AlgorithmBuilder& builder;
};

// A scene's windows of class 0, 1 and 2 as feature vectors. constantFeature is 0 in training;
// in new windows it carries a value of 1 to 40.
struct Scene {
    std::string name;
    int constantFeature;
    // The features of one window of a class; spread widens the classes for new windows.
    Window (*draw)(std::mt19937& random, int classIndex, double spread);
};

double Normal(std::mt19937& random, double mean, double deviation) {
    return std::normal_distribution<double>(mean, deviation)(random);
}

// An ordinary colour value, the constant channel, a class-dependent value near 1e-9 and a tiny
// one that is noise.
Window MixedWindow(std::mt19937& random, int classIndex, double spread) {
    return {Normal(random, 60.0 + 70.0 * classIndex, 15.0 * spread), 0.0,
            Normal(random, (1.0 + classIndex) * 1e-9, 4e-10 * spread),
            std::uniform_real_distribution<double>(0.0, 1e-9)(random)};
}

// The constant channel first, then two values near 1e-9 whose classes lie a few 1e-12 apart
// (the last digits twelve decimals would keep).
Window TinyWindow(std::mt19937& random, int classIndex, double spread) {
    return {0.0, Normal(random, 1e-9 + classIndex * 3e-12, 1.5e-12 * spread),
            Normal(random, 2e-9 - classIndex * 3e-12, 1.5e-12 * spread)};
}

const std::vector<std::string> kClasses = {"field", "forest", "water"};

struct ClassifierCase {
    std::string options;
    std::string extension;
    // Min-max scaling maps a feature that was constant in training to 0, whatever its value.
    bool scalesFeatures = false;
};

void PrintTo(const ClassifierCase& c, std::ostream* out) { *out << c.options; }

class RestoredModelTest : public testing::TestWithParam<ClassifierCase> {};

TEST_P(RestoredModelTest, RestoredClassifierLabelsEveryWindowAsTheTrainedOne) {
    const ClassifierCase& c = GetParam();
    std::size_t mostLabels = 0;
    for (const Scene& scene : {Scene{"mixed", 1, MixedWindow}, Scene{"tiny", 0, TinyWindow}}) {
        SCOPED_TRACE(scene.name);
        testsupport::TemporaryFolder folder;
        std::mt19937 random(31);
        std::vector<Window> windows;
        const std::string descriptorFile = (folder / "scene.cct_descriptors.wca").string();
        {
            FILE* out = std::fopen(descriptorFile.c_str(), "w");
            ASSERT_NE(out, nullptr);
            for (int i = 0; i < 150; ++i) {
                const Window window = scene.draw(random, i % 3, 1.0);
                std::fprintf(out, "%s", kClasses[static_cast<std::size_t>(i % 3)].c_str());
                for (double value : window) {
                    std::fprintf(out, " %.17g", value);
                }
                std::fprintf(out, "\n");
                windows.push_back(window);
            }
            std::fclose(out);
        }
        // New windows: wider classes, and the constant channel no longer 0.
        for (int i = 0; i < 300; ++i) {
            Window window = scene.draw(random, i % 3, 1.5);
            window[static_cast<std::size_t>(scene.constantFeature)] =
                std::uniform_real_distribution<double>(1.0, 40.0)(random);
            windows.push_back(window);
        }

        velkar::ordana::ExtractionOutput output;
        output.descriptorFile = descriptorFile;
        output.featureCount = static_cast<int>(windows[0].size());
        output.algorithmName = "Windowed Color Average";
        output.classes = kClasses;
        output.colors = {"#ffff00", "#00ff00", "#0000ff"};
        output.parameters = "--wca --aam false --anorm false --aws 5";
        output.windowSize = 5;

        ordanatest::CommandLine line(ordanatest::Words(c.options));
        velkar::ordana::ParameterParser parser = line.Parser();
        velkar::ordana::AlgorithmFactory factory(parser);
        RecordingBuilder builder(factory);
        velkar::ordana::ExperimentSettings settings;
        settings.outputPrefix = (folder / "scene.cct").string();
        settings.builder = &builder;
        velkar::util::Seed(9);
        testing::internal::CaptureStderr();
        const std::string printed = ordanatest::CapturedOutput(
            [&] { velkar::ordana::RunExperiments(settings, output, 0, 100); });
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(ordanatest::ProtocolLines(printed).empty()) << printed;
        ASSERT_EQ(builder.created.size(), 1u);
        const Classifier trained = builder.created[0];

        const auto models = ordanatest::FilesWithExtension(folder.Path(), c.extension);
        ASSERT_EQ(models.size(), 1u);
        const auto model = velkar::ordana::ReadModelFile(models[0].string());
        const Classifier restored = factory.RestoreAlgorithm(
            *velkar::ordana::ModelMetadata(*model).GetString("algorithm_name"), model);
        ASSERT_NE(restored, nullptr);

        // The scaled networks keep their range under the same keys; the constant feature's
        // range is empty.
        if (model->Exists("max_data_values")) {
            const auto* min =
                dynamic_cast<velkar::util::Array*>(model->GetCollection("min_data_values"));
            const auto* max =
                dynamic_cast<velkar::util::Array*>(model->GetCollection("max_data_values"));
            ASSERT_NE(min, nullptr);
            ASSERT_NE(max, nullptr);
            EXPECT_EQ(*max->GetDouble(scene.constantFeature),
                      *min->GetDouble(scene.constantFeature));
        }

        std::vector<int> trainedLabels;
        std::vector<int> restoredLabels;
        for (const Window& window : windows) {
            Window first = window;
            Window second = window;
            trainedLabels.push_back(trained->Classify(first));
            restoredLabels.push_back(restored->Classify(second));
        }
        EXPECT_EQ(restoredLabels, trainedLabels);
        if (c.scalesFeatures) {
            std::vector<int> withoutConstant;
            for (Window window : windows) {
                window[static_cast<std::size_t>(scene.constantFeature)] = 0.0;
                withoutConstant.push_back(trained->Classify(window));
            }
            EXPECT_EQ(withoutConstant, trainedLabels);
        }
        mostLabels =
            std::max(mostLabels, std::set<int>(trainedLabels.begin(), trainedLabels.end()).size());
    }
    // The comparison means something only when windows get different labels; learning vector
    // quantization, which does not scale its input, tells none of the 1e-9 windows apart.
    EXPECT_GE(mostLabels, 2u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryClassifier, RestoredModelTest,
    testing::Values(ClassifierCase{"--mlp --mhidden 6 --mlr 0.3 --mm 0.1 --merr 0.001 --miter 200",
                                   "mlp", true},
                    ClassifierCase{"--rbf --rlr 0.1 --rclusters 4 --riter 40", "rbf", true},
                    ClassifierCase{
                        "--art2 --a2f2 6 --a2a 10 --a2b 10 --a2c 0.1 --a2d 0.9 --a2theta 0.1 "
                        "--a2rho 0.9",
                        "art2"},
                    ClassifierCase{"--som --slat 4 --sradt0 0.5 --slrt0 0.5 --siter 300", "som"},
                    ClassifierCase{"--lvq --vqhid 9 --vqout 3 --vqiter 100 --vqalpha 0.3", "lvq"},
                    ClassifierCase{"--mahd --mdcc 3", "md"},
                    ClassifierCase{"--pntk --pkcc 3 --pkiter 10", "pk"}),
    [](const testing::TestParamInfo<ClassifierCase>& info) { return info.param.extension; });

}  // namespace
