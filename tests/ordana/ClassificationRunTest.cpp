#include "ordana/ClassificationRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ClassificationFixture.h"
#include "common/StubClassifier.h"
#include "ordana/AlgorithmFactory.h"
#include "ordana/InputError.h"
#include "ordana/ModelFile.h"
#include "ordana/ParameterParser.h"
#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/patternrecognition/MultilayerPerceptron.h"
#include "velkar/util/Array.h"

namespace {

using ordanatest::ClassificationProgramTest;
using ordanatest::Metadata;
using ordanatest::Payloads;
using ordanatest::ProtocolLines;
using ordanatest::ReadLines;
using ordanatest::Rectangle;
using ordanatest::Rgb;
using ordanatest::Strings;
using ordanatest::TemporaryFolder;
using ordanatest::WriteText;
using velkar::featureextraction::FeatureExtractionAlgorithm;
using velkar::patternrecognition::PatternRecognitionAlgorithm;
using velkar::util::Map;

TEST(ClassificationRunTest, SamplingStepOfEveryMethod) {
    const std::vector<std::tuple<std::string, int, int>> cases = {
        {"window", 5, 5}, {"window", 1, 1}, {"half", 5, 2},  {"half", 8, 4},
        {"half", 1, 1},   {"pixel", 8, 1},  {"pixel", 0, 0}, {"window", -2, 0},
        {"", 5, 0},       {"Window", 5, 0}, {"half ", 5, 0}, {"pixels", 5, 0}};
    for (const auto& [method, w, step] : cases) {
        EXPECT_EQ(velkar::ordana::SamplingStep(method, w), step) << "'" << method << "' " << w;
    }
}

// Runs a classification that must be rejected: exit status 2, one log line naming the file,
// the chatty status empty, and no output file anywhere.
void ExpectRejected(const ordanatest::ProgramResult& result, const std::string& named,
                    const std::string& topic, const std::string& what) {
    EXPECT_EQ(result.exitStatus, 2) << what << "\n" << result.output;
    const auto lines = ProtocolLines(result.output);
    ASSERT_EQ(lines.size(), 4u) << what << "\n" << result.output;
    EXPECT_EQ(lines[0], "[TASK] !Setting up!") << what;
    EXPECT_EQ(lines[1], "[LOGMESSAGE] !Loading model!") << what;
    EXPECT_EQ(lines[2].rfind("[LOGMESSAGE] !", 0), 0u) << what;
    EXPECT_NE(lines[2].find("'" + named + "'"), std::string::npos) << what << ": " << lines[2];
    EXPECT_NE(lines[2].find(topic), std::string::npos) << what << ": " << lines[2];
    EXPECT_EQ(lines[3], "[STATUS] !!") << what;
}

TEST_F(ClassificationProgramTest, UnusableModelsAreRejected) {
    std::vector<std::pair<std::string, std::string>> models;  // path, expected topic
    models.emplace_back((folder / "absent.mlp").string(), "open");
    WriteText(folder / "empty.mlp", "");
    models.emplace_back((folder / "empty.mlp").string(), "JSON object");
    WriteText(folder / "array.mlp", "[{\"metadata\": {}}]");
    models.emplace_back((folder / "array.mlp").string(), "JSON object");
    WriteText(folder / "words.mlp", "a perceptron");
    models.emplace_back((folder / "words.mlp").string(), "JSON object");
    WriteText(folder / "nometa.mlp", "{\"weights\": [1, 2]}");
    models.emplace_back((folder / "nometa.mlp").string(), "metadata");
    for (const std::string key :
         {"algorithm_name", "classes", "colors", "feature_extraction_parameters", "window_size"}) {
        models.emplace_back(ModelWith(Metadata("--wca --aam false --anorm false --aws 5", 5, key),
                                      "without_" + key + ".mlp"),
                            "\"" + key + "\"");
    }
    models.emplace_back(ModelWith(Metadata("--wca --aws 5", 0), "window0.mlp"), "window_size");
    Map* unknownSpace = Metadata("--wca --aws 5", 5);
    unknownSpace->Put("color_space", new std::string("LAB"));
    models.emplace_back(ModelWith(unknownSpace, "unknown_space.mlp"),
                        "unknown colour space 'LAB' under \"color_space\"");
    models.emplace_back(
        ModelWith(Metadata("--wca --aws 5", 5, "", "multilayer perceptron"), "lowercase.mlp"),
        "unknown algorithm 'multilayer perceptron'");
    models.emplace_back(ModelWith(Metadata("--wca --aws 5", 5, "", "Point K"), "pointk.mlp"),
                        "Point K");

    // A classifier without trained state: only the metadata.
    Map onlyMetadata;
    onlyMetadata.Put("metadata", static_cast<velkar::util::Collection*>(
                                     Metadata("--wca --aws 5", 5, "", "Mahalanobis Distance")));
    velkar::ordana::WriteModelFile((folder / "metadata_only.mahd").string(), onlyMetadata);
    models.emplace_back((folder / "metadata_only.mahd").string(), "cannot classify");

    // Extractor settings that disagree with the window size or with the classifier's 3 inputs;
    // gradient histograms learn their size from the regions but need at least max(Bx, By) + 1.
    models.emplace_back(ModelWith(Metadata("--wca --aam false --anorm false --aws 5", 7), "w7.mlp"),
                        "\"window_size\" of 7, but its \"feature_extraction_parameters\" "
                        "('--wca --aam false --anorm false --aws 5') need 5");
    models.emplace_back(
        ModelWith(Metadata("--wca --aam true --anorm false --aws 5", 5), "four.mlp"),
        "classifier of 3 inputs, but its \"feature_extraction_parameters\" ('--wca --aam true "
        "--anorm false --aws 5') give 4 features");
    models.emplace_back(ModelWith(Metadata("--hog --hwx 1 --hwy 3 --hbind 1", 3), "hog3.mlp"),
                        "\"window_size\" of 3, but its \"feature_extraction_parameters\" "
                        "('--hog --hwx 1 --hwy 3 --hbind 1') need at least 4");
    // Classes the model cannot name: none, or fewer than its colours.
    Map* noClasses = Metadata("--wca --aws 5", 5);
    noClasses->Put("classes", static_cast<velkar::util::Collection*>(Strings({})));
    models.emplace_back(ModelWith(noClasses, "no_classes.mlp"), "empty \"classes\"");
    Map* extraColour = Metadata("--wca --aws 5", 5);
    extraColour->Put("colors",
                     static_cast<velkar::util::Collection*>(Strings({"#f00", "#00f", "#0f0"})));
    models.emplace_back(ModelWith(extraColour, "extra_colour.mlp"),
                        "3 \"colors\" for 2 \"classes\"");
    // Numbers that are not finite, wherever they stand: the first value after the key; the
    // trained model cut short in its last bytes; a folder.
    const std::string whole = ordanatest::ReadText(trainedModel);
    for (const auto& [key, word] : std::vector<std::pair<std::string, std::string>>{
             {"min_data_values", "nan"}, {"max_data_values", "inf"}, {"weights", "-inf"}}) {
        std::string text = whole;
        const auto at = text.find_first_of("-0123456789", text.find("\"" + key + "\""));
        text.replace(at, text.find_first_of(",]", at) - at, word);
        WriteText(folder / (key + ".mlp"), text);
        models.emplace_back((folder / (key + ".mlp")).string(), key + "[0");
    }
    WriteText(folder / "cut.mlp", whole.substr(0, whole.size() - 3));
    models.emplace_back((folder / "cut.mlp").string(), "cut short");
    std::filesystem::create_directory(folder / "folder.mlp");
    models.emplace_back((folder / "folder.mlp").string(), "is a directory");

    // A perceptron state the classifier refuses.
    auto damaged = velkar::ordana::ReadModelFile(trainedModel);
    damaged->Put("weights", new std::string("none"));
    velkar::ordana::WriteModelFile((folder / "damaged.mlp").string(), *damaged);
    models.emplace_back((folder / "damaged.mlp").string(), "weights");

    const auto inputs = folder.FileNames().size();
    for (const auto& [model, topic] : models) {
        auto result = Classify(model, {"--sampling", "window", "--chatty", "true"});
        ExpectRejected(result, model, topic, model);
        EXPECT_TRUE(ResultsFiles().empty()) << model;
        EXPECT_EQ(folder.FileNames().size(), inputs) << model;
    }
}

// The files of a classification run worked out here window by window: the grid laid by its rule
// (x outer, y inner, the step, windows wholly inside the image), every window's features from the
// extractor's polygon path, its label from the classifier ("unknown" for an answer outside the
// classes), and the polygon file text written out here.
struct ReferenceFiles {
    std::string segmentation;
    std::string results;
};

ReferenceFiles ReferenceRun(const std::string& imagePath, int w, int step, const Map& metadata,
                            FeatureExtractionAlgorithm& extractor,
                            PatternRecognitionAlgorithm& classifier) {
    auto image = std::make_shared<velkar::imageprocessing::ImageFileSystem>(imagePath);
    std::vector<std::pair<int, int>> origins;
    for (int x = 0; x + w <= image->Width(); x += step) {
        for (int y = 0; y + w <= image->Height(); y += step) {
            origins.emplace_back(x, y);
        }
    }
    FeatureExtractionAlgorithm::PolygonList windows;
    for (const auto& [x, y] : origins) {
        auto polygon = std::make_shared<velkar::math::Polygon>();
        const velkar::math::Polygon::Point corners[] = {
            {x, y}, {x, y + w}, {x + w, y + w}, {x + w, y}};
        polygon->SetPoints(corners, 4);
        polygon->SetId(static_cast<int>(windows.size()));
        windows.push_back(polygon);
    }
    extractor.SetImage(image);
    const auto classes = velkar::ordana::StringList(metadata.GetCollection("classes"));
    std::vector<std::string> labels(origins.size(), "unknown");
    for (const auto& descriptor : extractor.Process(windows)) {
        std::vector<double> features;
        for (const auto& band : descriptor->Features()) {
            features.insert(features.end(), band.begin(), band.end());
        }
        const int answer = classifier.Classify(features);
        if (answer >= 0 && answer < static_cast<int>(classes.size())) {
            labels.at(static_cast<std::size_t>(descriptor->PolygonId())) =
                classes[static_cast<std::size_t>(answer)];
        }
    }
    std::ostringstream head;
    head << std::filesystem::path(imagePath).filename().string() << "\n" << classes.size() << "\n";
    for (const std::string& name : classes) {
        head << name << "\n";
    }
    const auto colours = velkar::ordana::StringList(metadata.GetCollection("colors"));
    head << colours.size() << "\n";
    for (const std::string& colour : colours) {
        head << colour << "\n";
    }
    head << origins.size() << "\n";
    std::ostringstream corners;
    corners << origins.size() << "\n";
    for (const auto& [x, y] : origins) {
        corners << "4\n"
                << x << " " << y << "\n"
                << x << " " << y + w - 1 << "\n"
                << x + w - 1 << " " << y + w - 1 << "\n"
                << x + w - 1 << " " << y << "\n";
    }
    ReferenceFiles files;
    std::string unknown;
    std::string answered;
    for (const std::string& label : labels) {
        unknown += "unknown\n";
        answered += label + "\n";
    }
    files.segmentation = head.str() + unknown + corners.str();
    files.results = head.str() + answered + corners.str();
    return files;
}

// Answers class 7, outside the model's two classes, for windows redder than blue, else class 1.
class OutOfListClassifier : public testsupport::StubClassifier {
  public:
    int Classify(std::vector<double>& features) override {
        return features.at(0) > features.at(2) ? 7 : 1;
    }
};

using ClassifierFactory = std::function<std::shared_ptr<PatternRecognitionAlgorithm>()>;

// The program's extractors with classifiers of the test's choosing, a new one for every thread.
class ChosenClassifierBuilder : public velkar::ordana::AlgorithmBuilder {
  public:
    ChosenClassifierBuilder(velkar::ordana::AlgorithmBuilder& program, ClassifierFactory classifier)
        : program(program), classifier(std::move(classifier)) {}
    std::vector<std::string> SelectedAlgorithms() override { return {}; }
    std::shared_ptr<PatternRecognitionAlgorithm> RestoreAlgorithm(
        const std::string&, std::shared_ptr<velkar::util::Collection>) override {
        return classifier();
    }
    std::shared_ptr<PatternRecognitionAlgorithm> CreateAlgorithm(const std::string&, int) override {
        return nullptr;
    }
    std::shared_ptr<FeatureExtractionAlgorithm> FeatureExtractionFromParameters(
        const std::string& parameters, bool reportErrors) override {
        return program.FeatureExtractionFromParameters(parameters, reportErrors);
    }

  private:
    velkar::ordana::AlgorithmBuilder& program;
    ClassifierFactory classifier;
};

// The streamed run, in batches of 7 windows, writes the files of the reference with the model's
// perceptron; a classifier whose answers fall outside the model's classes ends the run.
TEST_F(ClassificationProgramTest, StreamedRunWritesTheFilesOfTheWindowByWindowReference) {
    const auto model = velkar::ordana::ReadModelFile(trainedModel);
    const Map& metadata = velkar::ordana::ModelMetadata(*model);
    ASSERT_EQ(*metadata.GetString("feature_extraction_parameters"),
              "--wca --aam false --anorm false --aws 5");
    ASSERT_EQ(*metadata.GetInt("window_size"), 5);
    ordanatest::CommandLine none({});
    velkar::ordana::ParameterParser parser = none.Parser();
    velkar::ordana::AlgorithmFactory factory(parser);
    for (const bool perceptron : {true, false}) {
        for (const auto& [method, step] :
             std::vector<std::pair<std::string, int>>{{"window", 5}, {"half", 2}, {"pixel", 1}}) {
            const ClassifierFactory classifier =
                [&]() -> std::shared_ptr<PatternRecognitionAlgorithm> {
                if (!perceptron) {
                    return std::make_shared<OutOfListClassifier>();
                }
                auto restored =
                    std::make_shared<velkar::patternrecognition::MultilayerPerceptron>();
                restored->SetConfiguration(model);
                return restored;
            };
            TemporaryFolder streamed;
            velkar::ordana::ClassificationSettings settings;
            settings.modelFile = trainedModel;
            settings.imageFile = ImagePath();
            settings.samplingMethod = method;
            settings.outputPrefix = (streamed.Path() / "").string();
            settings.batchSize = 7;
            ChosenClassifierBuilder builder(factory, classifier);
            if (!perceptron) {
                try {
                    ordanatest::CapturedOutput(
                        [&] { velkar::ordana::ClassifyImage(settings, builder); });
                    ADD_FAILURE() << "answers past the class list were accepted";
                } catch (const velkar::ordana::InputError& error) {
                    EXPECT_NE(std::string(error.what()).find(
                                  "lists 2 classes, but its classifier answered class 8"),
                              std::string::npos)
                        << error.what();
                }
                continue;
            }
            std::string resultsFile;
            EXPECT_EQ(ordanatest::CapturedOutput(
                          [&] { resultsFile = velkar::ordana::ClassifyImage(settings, builder); }),
                      "");

            velkar::featureextraction::ColorAverage extractor(5, false, false);
            const ReferenceFiles reference =
                ReferenceRun(ImagePath(), 5, step, metadata, extractor, *classifier());
            EXPECT_EQ(ordanatest::ReadText(resultsFile), reference.results) << method;
            const auto written = ordanatest::FilesWithExtension(streamed.Path(), "cct");
            ASSERT_EQ(written.size(), 2u);  // scene_processing_..., scene_results_...
            EXPECT_EQ(ordanatest::ReadText(written[0]), reference.segmentation) << method;
            // Both kinds of label occur.
            EXPECT_NE(reference.results.find(perceptron ? "\nred\n" : "\nunknown\n"),
                      std::string::npos);
            EXPECT_NE(reference.results.find("\nblue\n"), std::string::npos);

            // Without the text outputs the batches are bands of grid rows instead of columns:
            // the same map and legend, to the byte.
            TemporaryFolder byRows;
            settings.outputPrefix = (byRows.Path() / "").string();
            settings.outputs = velkar::ordana::OutputSelection::Parse("map,legend");
            ordanatest::CapturedOutput([&] { velkar::ordana::ClassifyImage(settings, builder); });
            for (const std::string extension : {"png", "legend"}) {
                const auto columnFiles = ordanatest::FilesWithExtension(streamed.Path(), extension);
                const auto rowFiles = ordanatest::FilesWithExtension(byRows.Path(), extension);
                ASSERT_EQ(columnFiles.size(), 1u) << extension;
                ASSERT_EQ(rowFiles.size(), 1u) << extension;
                EXPECT_EQ(ordanatest::ReadText(rowFiles[0]), ordanatest::ReadText(columnFiles[0]))
                    << method << " " << extension;
            }
        }
    }
}

TEST_F(ClassificationProgramTest, UnreadableImageIsRejected) {
    WriteText(ImagePath(), "not a picture");
    auto result = Classify(trainedModel, {"--sampling", "window", "--chatty", "true"});
    ExpectRejected(result, ImagePath(), "image", "broken image");
    EXPECT_TRUE(SegmentationFiles().empty());

    result = Classify(trainedModel, {"--sampling", "window"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.Messages().size(), 1u) << result.errors;
    EXPECT_EQ(ResultsFiles().size(), 0u);
    EXPECT_TRUE(SegmentationFiles().empty());
}

TEST_F(ClassificationProgramTest, StoredParametersWithoutExtractorEndTheRun) {
    // No Fourier transform keeps zero coefficients, so this parameter string builds nothing.
    const std::string model = ModelWith(Metadata("--dft --fcoeff 0 --fws 16", 16));
    auto result = Classify(model, {"--sampling", "window", "--chatty", "true"});
    EXPECT_EQ(result.exitStatus, 2) << result.output;
    const auto lines = ProtocolLines(result.output);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_NE(lines[lines.size() - 5].find("'--fcoeff': 0"), std::string::npos)
        << lines[lines.size() - 5];
    EXPECT_EQ(lines[lines.size() - 4], "[LOGMESSAGE] !Segmenting image!");
    EXPECT_EQ(lines[lines.size() - 3], "[LOGMESSAGE] !Creating extraction algorithm!");
    EXPECT_EQ(lines[lines.size() - 2], "[LOGMESSAGE] !No valid extraction algorithm selected.!");
    EXPECT_EQ(lines.back(), "[STATUS] !!");
    // The extractor is rebuilt before anything is written.
    EXPECT_TRUE(SegmentationFiles().empty());
    EXPECT_TRUE(ResultsFiles().empty());

    // Without --chatty the run is silent but for the builder's report.
    result = Classify(model, {"--sampling", "window"});
    EXPECT_EQ(result.exitStatus, 2) << result.output;
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.Messages().size(), 1u) << result.errors;
}

}  // namespace
