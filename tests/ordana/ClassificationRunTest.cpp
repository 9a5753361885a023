#include "ordana/ClassificationRun.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "common/StubClassifier.h"
#include "featureextraction/DenseTexture.h"
#include "ordana/ModelFile.h"
#include "ordana/ParameterParser.h"
#include "ordana/PolygonFile.h"
#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/patternrecognition/MultilayerPerceptron.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"

namespace {

using ordanatest::LabelledPolygon;
using ordanatest::Payloads;
using ordanatest::ProtocolLines;
using ordanatest::ReadLines;
using ordanatest::Rectangle;
using ordanatest::Rgb;
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

// ---------------------------------------------------------------------------------------------
// Models with their metadata replaced.

velkar::util::Array* Strings(const std::vector<std::string>& values) {
    auto* array = new velkar::util::Array();
    for (const std::string& value : values) {
        array->Add(new std::string(value));
    }
    return array;
}

// A metadata map as the experiments write it; skip leaves one key out.
Map* Metadata(const std::string& parameters, int windowSize, const std::string& skip = "",
              const std::string& algorithmName = "Multilayer Perceptron") {
    auto* metadata = new Map();
    if (skip != "colors") {
        metadata->Put("colors",
                      static_cast<velkar::util::Collection*>(Strings({"#ff0000", "#0000ff"})));
    }
    if (skip != "classes") {
        metadata->Put("classes", static_cast<velkar::util::Collection*>(Strings({"red", "blue"})));
    }
    metadata->Put("algorithm_version", new std::string("2.0"));
    if (skip != "algorithm_name") {
        metadata->Put("algorithm_name", new std::string(algorithmName));
    }
    if (skip != "window_size") {
        metadata->Put("window_size", new int(windowSize));
    }
    if (skip != "feature_extraction_parameters") {
        metadata->Put("feature_extraction_parameters", new std::string(parameters));
    }
    return metadata;
}

// ---------------------------------------------------------------------------------------------
// The classification workflow of the program: a perceptron trained once on a red/blue scene
// classifies other scenes.

velkar::imageprocessing::Pixel Red(int x, int y) { return Rgb(200 + (x * 3 + y * 5) % 20, 30, 40); }
velkar::imageprocessing::Pixel Blue(int x, int y) { return Rgb(30, 40 + (x * 11 + y) % 20, 200); }

class ClassificationProgramTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        training = new TemporaryFolder();
        ASSERT_TRUE(ordanatest::WriteImage(*training / "training.png", 60, 40, [](int x, int y) {
            return x < 30 ? Red(x, y) : Blue(x, y);
        }));
        ordanatest::WritePolygonFile(
            *training / "training.cct", {"red", "blue"}, {"#ff0000", "#0000ff"},
            {{"red", Rectangle(0, 0, 30, 40)}, {"blue", Rectangle(30, 0, 60, 40)}});
        auto result = ordanatest::RunOrdana({"--image",   (*training / "training.png").string(),
                                             "--file",    (*training / "training.cct").string(),
                                             "--wca",     "--aws",
                                             "5",         "--experiments",
                                             "3",         "--mlp",
                                             "--mhidden", "4",
                                             "--mlr",     "0.3",
                                             "--mm",      "0.1",
                                             "--merr",    "0.001",
                                             "--miter",   "300",
                                             "--seed",    "17"},
                                            training->Path());
        ASSERT_EQ(result.exitStatus, 0) << result.output;
        const auto models = ordanatest::FilesWithExtension(training->Path(), "mlp");
        ASSERT_EQ(models.size(), 1u) << result.output;
        trainedModel = models[0].string();
    }

    static void TearDownTestSuite() {
        delete training;
        training = nullptr;
    }

    void SetUp() override {
        ASSERT_FALSE(trainedModel.empty()) << "training failed";
        std::filesystem::create_directory(folder / "images");
        // Blue above, red below: another layout than the training scene.
        ASSERT_TRUE(ordanatest::WriteImage(
            ImagePath(), 60, 40, [](int x, int y) { return y < 20 ? Blue(x, y) : Red(x, y); }));
    }

    std::string ImagePath() const { return (folder / "images" / "scene.png").string(); }

    ordanatest::ProgramResult Classify(const std::string& model, std::vector<std::string> more) {
        std::vector<std::string> arguments = {"--image", ImagePath(), "--modelfile", model};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return ordanatest::RunOrdana(arguments, folder.Path());
    }

    // The trained model with its metadata replaced.
    std::string ModelWith(Map* metadata, const std::string& name = "edited.mlp") {
        auto model = velkar::ordana::ReadModelFile(trainedModel);
        model->Put("metadata", static_cast<velkar::util::Collection*>(metadata));
        const std::string path = (folder / name).string();
        velkar::ordana::WriteModelFile(path, *model);
        return path;
    }

    std::vector<std::filesystem::path> ResultsFiles() const {
        return ordanatest::FilesWithExtension(folder / "images", "cct");
    }
    std::vector<std::filesystem::path> SegmentationFiles() const {
        return ordanatest::FilesWithExtension(folder.Path(), "cct");
    }

    static TemporaryFolder* training;
    static std::string trainedModel;
    TemporaryFolder folder;
};

TemporaryFolder* ClassificationProgramTest::training = nullptr;
std::string ClassificationProgramTest::trainedModel;

TEST_F(ClassificationProgramTest, LabelsMatchTheTrueClassesOfANewScene) {
    auto result = Classify(trainedModel, {"--sampling", "window", "--chatty", "true"});
    ASSERT_EQ(result.exitStatus, 0) << result.output;

    const auto results = ResultsFiles();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(ordanatest::IsTimestampedName(results[0].filename().string(), "results", "cct"))
        << results[0];
    EXPECT_EQ(ProtocolLines(result.output),
              (std::vector<std::string>{
                  "[TASK] !Setting up!", "[LOGMESSAGE] !Loading model!",
                  "[LOGMESSAGE] !Segmenting image!", "[LOGMESSAGE] !Creating extraction algorithm!",
                  "[TASK] !Extracting features!",
                  "[LOGMESSAGE] !Processing image with Windowed Color Average.!",
                  "[TASK] !Classifying!", "[STATUS] !" + results[0].string() + "!"}));

    const auto lines = ReadLines(results[0]);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "scene.png");
    const auto content = velkar::ordana::ReadPolygonFile(results[0].string(), true);
    ASSERT_EQ(content.polygons.size(), 96u);  // 12 x 8 windows of 5
    for (const auto& polygon : content.polygons) {
        const int y = polygon->Begin()->y();
        EXPECT_EQ(polygon->Class(), y < 20 ? "blue" : "red")
            << "window at " << polygon->Begin()->x() << " " << y;
    }

    // The segmentation file stays in the working directory, every window "unknown".
    const auto segmentation = SegmentationFiles();
    ASSERT_EQ(segmentation.size(), 1u);
    EXPECT_TRUE(
        ordanatest::IsTimestampedName(segmentation[0].filename().string(), "processing", "cct"));
    const auto windows = velkar::ordana::ReadPolygonFile(segmentation[0].string(), false);
    ASSERT_EQ(windows.polygons.size(), 96u);
    for (const auto& polygon : windows.polygons) {
        EXPECT_EQ(polygon->Class(), "unknown");
    }
}

// Perceptrons trained on Fourier magnitudes and on wavelet coefficients label the new scene; the
// descriptor file of the wavelets is named after the wavelet.
TEST_F(ClassificationProgramTest, SpectralModelsLabelANewScene) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> extractors = {
        {{"--dft", "--fws", "8", "--fcoeff", "4"}, "dft"},
        {{"--dwt", "--wws", "8", "--wscale", "2", "--wname", "db2"}, "db2.dwt"}};
    for (const auto& [options, extension] : extractors) {
        TemporaryFolder work;
        for (const char* name : {"training.png", "training.cct"}) {
            std::filesystem::copy_file(*training / name, work / name);
        }
        std::vector<std::string> arguments = {
            "--image", "training.png", "--file", "training.cct", "--experiments", "1",
            "--mlp",   "--mhidden",    "4",      "--mlr",        "0.3",           "--mm",
            "0.1",     "--merr",       "0.001",  "--miter",      "300",           "--seed",
            "17"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const auto trained = ordanatest::RunOrdana(arguments, work.Path());
        ASSERT_EQ(trained.exitStatus, 0) << trained.output;
        EXPECT_EQ(ordanatest::FilesWithExtension(work.Path(), extension).size(), 1u) << extension;
        const auto models = ordanatest::FilesWithExtension(work.Path(), "mlp");
        ASSERT_EQ(models.size(), 1u) << trained.output;

        const auto result =
            Classify(models[0].string(), {"--sampling", "window", "--chatty", "true"});
        ASSERT_EQ(result.exitStatus, 0) << result.output;
        const auto status = Payloads(result.output, "STATUS");
        ASSERT_EQ(status.size(), 1u);
        const auto content = velkar::ordana::ReadPolygonFile(status[0], true);
        ASSERT_EQ(content.polygons.size(), 35u) << extension;  // 7 x 5 windows of 8
        for (const auto& polygon : content.polygons) {
            const int y = polygon->Begin()->y();
            // Windows that straddle the border between the colours may go either way.
            if (y + 8 <= 20 || y >= 20) {
                EXPECT_EQ(polygon->Class(), y < 20 ? "blue" : "red")
                    << extension << " window at " << polygon->Begin()->x() << " " << y;
            }
        }
        std::filesystem::remove(status[0]);
    }
}

TEST_F(ClassificationProgramTest, EveryWindowOfOverlappingGridsGetsALabel) {
    auto result = Classify(trainedModel, {"--sampling", "half"});
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_TRUE(ProtocolLines(result.output).empty()) << result.output;
    const auto results = ResultsFiles();
    ASSERT_EQ(results.size(), 1u);
    const auto content = velkar::ordana::ReadPolygonFile(results[0].string(), true);
    // Step 2: ((40 + 2 - 5) / 2) x ((60 + 2 - 5) / 2) windows.
    ASSERT_EQ(content.polygons.size(), 18u * 28u);
    for (const auto& polygon : content.polygons) {
        const int y = polygon->Begin()->y();
        // Windows that straddle the border between the colours may go either way.
        if (y + 5 <= 20 || y >= 20) {
            EXPECT_EQ(polygon->Class(), y < 20 ? "blue" : "red")
                << "window at " << polygon->Begin()->x() << " " << y;
        }
    }
}

TEST_F(ClassificationProgramTest, WindowCountsFollowTheModelsWindowSize) {
    const std::string model = ModelWith(Metadata("--wca --aam false --anorm false --aws 20", 20));
    ASSERT_TRUE(ordanatest::WriteImage(ImagePath(), 100, 60, Red));
    ASSERT_TRUE(ordanatest::WriteImage(folder / "images" / "small.png", 25, 25, Blue));
    ASSERT_TRUE(ordanatest::WriteImage(folder / "images" / "narrow.png", 19, 40, Blue));
    const std::vector<std::tuple<std::string, std::string, std::size_t>> runs = {
        {"scene.png", "window", 15},
        {"scene.png", "half", 45},
        {"small.png", "pixel", 36},
        {"narrow.png", "pixel", 0}};
    for (const auto& [image, method, count] : runs) {
        TemporaryFolder work;
        auto result =
            ordanatest::RunOrdana({"--image", (folder / "images" / image).string(), "--modelfile",
                                   model, "--sampling", method, "--chatty", "true"},
                                  work.Path());
        ASSERT_EQ(result.exitStatus, 0) << method << "\n" << result.output;
        const auto status = Payloads(result.output, "STATUS");
        ASSERT_EQ(status.size(), 1u);
        const auto content = velkar::ordana::ReadPolygonFile(status[0], true);
        EXPECT_EQ(content.polygons.size(), count) << method;
        // An image narrower than the window is said to give no window.
        EXPECT_EQ(result.output.find("(19 x 40 pixels) is smaller than the 20-pixel window") !=
                      std::string::npos,
                  count == 0)
            << result.output;
        std::filesystem::remove(status[0]);

        const auto segmentation = ordanatest::FilesWithExtension(work.Path(), "cct");
        ASSERT_EQ(segmentation.size(), 1u);
        const auto lines = ReadLines(segmentation[0]);
        ASSERT_EQ(lines.size(), 1 + 3 + 3 + 1 + count + 1 + 5 * count) << method;
        EXPECT_EQ(lines[0], image);
        if (count == 0) {
            continue;
        }
        // The first window's corners.
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 9 + static_cast<long>(count),
                                           lines.begin() + 14 + static_cast<long>(count)),
                  (std::vector<std::string>{"4", "0 0", "0 19", "19 19", "19 0"}))
            << method;
    }
}

TEST_F(ClassificationProgramTest, ResultsFileOfAnImageInTheWorkingDirectory) {
    std::filesystem::copy_file(ImagePath(), folder / "local.png");
    auto result = ordanatest::RunOrdana({"--image", "local.png", "--modelfile", trainedModel,
                                         "--sampling", "window", "--chatty", "true"},
                                        folder.Path());
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    const auto status = Payloads(result.output, "STATUS");
    ASSERT_EQ(status.size(), 1u);
    EXPECT_TRUE(ordanatest::IsTimestampedName(status[0], "results", "cct")) << status[0];
    EXPECT_EQ(ReadLines(folder / status[0]).at(0), "local.png");
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

// Trains in the folder, with the extra options, on the image and polygon file there; returns the
// model file written.
std::string TrainIn(TemporaryFolder& work, const std::vector<std::string>& more) {
    std::vector<std::string> arguments = {"--image",
                                          "training.png",
                                          "--file",
                                          "training.cct",
                                          "--experiments",
                                          "1",
                                          "--wca",
                                          "--aws",
                                          "5",
                                          "--mlp",
                                          "--mhidden",
                                          "6",
                                          "--mlr",
                                          "0.3",
                                          "--mm",
                                          "0.1",
                                          "--merr",
                                          "0.001",
                                          "--miter",
                                          "300",
                                          "--seed",
                                          "5"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    const auto trained = ordanatest::RunOrdana(arguments, work.Path());
    EXPECT_EQ(trained.exitStatus, 0) << trained.output;
    const auto models = ordanatest::FilesWithExtension(work.Path(), "mlp");
    return models.size() == 1 ? models[0].string() : "";
}

// Models trained on a colour variant convert the new image into their colour space: three
// classes of equal brightness and different hue, classified on the image they came from.
TEST_F(ClassificationProgramTest, ColourSpaceModelsSeeTheNewImageInTheirSpace) {
    const auto hue = [](int x, int y) {
        const int texture = (x * 7 + y * 3) % 12;
        return x < 30   ? Rgb(170 + texture, 90, 90)
               : x < 60 ? Rgb(90, 170 + texture, 90)
                        : Rgb(90, 90, 170 + texture);
    };
    for (const std::string space : {"lab", "hsi"}) {
        TemporaryFolder work;
        ASSERT_TRUE(ordanatest::WriteImage(work / "training.png", 90, 30, hue));
        ordanatest::WritePolygonFile(work / "training.cct", {"red", "green", "blue"},
                                     {"#f00", "#0f0", "#00f"},
                                     {{"red", Rectangle(0, 0, 30, 30)},
                                      {"green", Rectangle(30, 0, 60, 30)},
                                      {"blue", Rectangle(60, 0, 90, 30)}});
        const std::string model = TrainIn(work, {"--cs-" + space});
        ASSERT_FALSE(model.empty()) << space;
        EXPECT_NE(model.find("training.cct_" + space + "_"), std::string::npos) << model;
        EXPECT_EQ(*velkar::ordana::ModelMetadata(*velkar::ordana::ReadModelFile(model))
                       .GetString("color_space"),
                  space);

        const auto result = ordanatest::RunOrdana(
            {"--image", "training.png", "--modelfile", model, "--sampling", "window"}, work.Path());
        ASSERT_EQ(result.exitStatus, 0) << result.output;
        std::string resultsFile;
        for (const auto& file : ordanatest::FilesWithExtension(work.Path(), "cct")) {
            if (file.filename().string().rfind("results_", 0) == 0) {
                resultsFile = file.string();
            }
        }
        const auto content = velkar::ordana::ReadPolygonFile(resultsFile, true);
        int right = 0;
        for (const auto& polygon : content.polygons) {
            const int x = polygon->Begin()->x();
            right += polygon->Class() == (x < 30 ? "red" : x < 60 ? "green" : "blue") ? 1 : 0;
        }
        ASSERT_EQ(content.polygons.size(), 108u);  // 18 x 6 windows of 5
        EXPECT_GE(right, 98) << space;             // at least 90 %
    }
}

// Every colour line the model file can carry comes back in the results file, one per class,
// however it is written.
TEST_F(ClassificationProgramTest, ColourLinesSurviveTheRoundTrip) {
    TemporaryFolder work;
    std::filesystem::copy_file(*training / "training.png", work / "training.png");
    const std::vector<std::string> colours = {"[255,0,0]", ""};
    ordanatest::WritePolygonFile(
        work / "training.cct", {"red", "blue"}, colours,
        {{"red", Rectangle(0, 0, 30, 40)}, {"blue", Rectangle(30, 0, 60, 40)}});
    const std::string model = TrainIn(work, {});
    ASSERT_FALSE(model.empty());
    const auto result = Classify(model, {"--sampling", "window"});
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    const auto content = velkar::ordana::ReadPolygonFile(ResultsFiles().at(0).string(), true);
    EXPECT_EQ(content.colors, colours);

    // A line the model file cannot keep is refused with its line number.
    ordanatest::WritePolygonFile(work / "training.cct", {"red", "blue"}, {"[255,0,0", "blue"},
                                 {{"red", Rectangle(0, 0, 30, 40)}});
    const auto refused = ordanatest::RunOrdana(
        {"--image", "training.png", "--file", "training.cct", "--wca", "--aws", "5"}, work.Path());
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_NE(refused.output.find("line 6: the colour '[255,0,0'"), std::string::npos)
        << refused.output;
}

// The picture beside the results file shows, at every window's centre, its class's colour line
// (red "#ff0000", blue "#0000ff"); pixels no window paints stay black.
TEST_F(ClassificationProgramTest, ClassMapShowsEveryWindowsClassAtItsCentre) {
    for (const auto& [method, step] :
         std::vector<std::pair<std::string, int>>{{"window", 5}, {"half", 2}, {"pixel", 1}}) {
        const auto result = Classify(trainedModel, {"--sampling", method, "--chatty", "true"});
        ASSERT_EQ(result.exitStatus, 0) << result.output;
        const std::string resultsFile = Payloads(result.output, "STATUS").at(0);
        const std::string pictureFile = resultsFile.substr(0, resultsFile.size() - 3) + "png";
        const velkar::imageprocessing::ImageFileSystem picture(pictureFile);
        ASSERT_EQ(picture.Width(), 60) << method;
        ASSERT_EQ(picture.Height(), 40) << method;
        const auto content = velkar::ordana::ReadPolygonFile(resultsFile, true);
        std::vector<std::vector<bool>> painted(60, std::vector<bool>(40, false));
        for (const auto& polygon : content.polygons) {
            const int x = polygon->Begin()->x() + (5 - step) / 2;
            const int y = polygon->Begin()->y() + (5 - step) / 2;
            const std::array<int, 3> colour = polygon->Class() == "red"
                                                  ? std::array<int, 3>{255, 0, 0}
                                                  : std::array<int, 3>{0, 0, 255};
            for (int i = x; i < x + step; ++i) {
                for (int j = y; j < y + step; ++j) {
                    painted[i][j] = true;
                    EXPECT_EQ((std::array<int, 3>{picture.Pixel(i, j, 0), picture.Pixel(i, j, 1),
                                                  picture.Pixel(i, j, 2)}),
                              colour)
                        << method << " at " << i << ", " << j;
                }
            }
        }
        for (int i = 0; i < 60; ++i) {
            for (int j = 0; j < 40; ++j) {
                if (!painted[i][j]) {
                    EXPECT_EQ(
                        picture.Pixel(i, j, 0) + picture.Pixel(i, j, 1) + picture.Pixel(i, j, 2), 0)
                        << method << " at " << i << ", " << j;
                }
            }
        }
        std::filesystem::remove(resultsFile);
        std::filesystem::remove(pictureFile);
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
    ChosenClassifierBuilder(velkar::ordana::ParameterParser& parser, ClassifierFactory classifier)
        : parser(parser), classifier(std::move(classifier)) {}
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
        return parser.FeatureExtractionFromParameters(parameters, reportErrors);
    }

  private:
    velkar::ordana::ParameterParser& parser;
    ClassifierFactory classifier;
};

// The streamed run, in batches of 7 windows, writes the files of the reference, with the model's
// perceptron and with a classifier whose answers fall outside the classes.
TEST_F(ClassificationProgramTest, StreamedRunWritesTheFilesOfTheWindowByWindowReference) {
    const auto model = velkar::ordana::ReadModelFile(trainedModel);
    const Map& metadata = velkar::ordana::ModelMetadata(*model);
    ASSERT_EQ(*metadata.GetString("feature_extraction_parameters"),
              "--wca --aam false --anorm false --aws 5");
    ASSERT_EQ(*metadata.GetInt("window_size"), 5);
    ordanatest::CommandLine none({});
    velkar::ordana::ParameterParser parser = none.Parser();
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
            ChosenClassifierBuilder builder(parser, classifier);
            std::string resultsFile;
            EXPECT_EQ(ordanatest::CapturedOutput(
                          [&] { resultsFile = velkar::ordana::ClassifyImage(settings, builder); }),
                      "");

            velkar::featureextraction::ColorAverage extractor(5, false, false);
            const ReferenceFiles reference =
                ReferenceRun(ImagePath(), 5, step, metadata, extractor, *classifier());
            EXPECT_EQ(ordanatest::ReadText(resultsFile), reference.results) << method;
            const auto written = ordanatest::FilesWithExtension(streamed.Path(), "cct");
            ASSERT_EQ(written.size(), 2u);  // processing_..., results_...
            EXPECT_EQ(ordanatest::ReadText(written[0]), reference.segmentation) << method;
            // Both kinds of label occur.
            EXPECT_NE(reference.results.find(perceptron ? "\nred\n" : "\nunknown\n"),
                      std::string::npos);
            EXPECT_NE(reference.results.find("\nblue\n"), std::string::npos);
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
    EXPECT_EQ(Payloads(result.output, "LOGMESSAGE").size(), 1u) << result.output;
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
    EXPECT_EQ(ProtocolLines(result.output).size(), 1u) << result.output;
}

// A model of co-occurrence textures: two regions of the same mean colour, one flat and one in
// vertical stripes, told apart by texture alone. The negative displacement is written as
// "-1,0" in the model and must read back as the list it was.
velkar::imageprocessing::Pixel Flat(int x, int y) { return Rgb(120 + (x + y) % 2, 90, 60); }
velkar::imageprocessing::Pixel Striped(int x, int) {
    return x % 2 == 0 ? Rgb(80, 90, 20) : Rgb(160, 90, 100);
}

TEST(CoOccurrenceProgramTest, TrainsAndClassifiesANewSceneByTexture) {
    TemporaryFolder folder;
    ASSERT_TRUE(ordanatest::WriteImage(folder / "training.png", 64, 40, [](int x, int y) {
        return x < 32 ? Flat(x, y) : Striped(x, y);
    }));
    ordanatest::WritePolygonFile(
        folder / "training.cct", {"flat", "striped"}, {"#ffffff", "#000000"},
        {{"flat", Rectangle(0, 0, 32, 40)}, {"striped", Rectangle(32, 0, 64, 40)}});
    std::vector<std::string> arguments{"--image", (folder / "training.png").string(), "--file",
                                       (folder / "training.cct").string()};
    std::istringstream words(
        "--com --cnx -1 0 --cny 0 1 --cws 8 --experiments 2 --mlp --mhidden 4 --mlr 0.3 --mm 0.1 "
        "--merr 0.001 --miter 300 --seed 5");
    for (std::string word; words >> word;) {
        arguments.push_back(word);
    }
    auto result = ordanatest::RunOrdana(arguments, folder.Path());
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_TRUE(Payloads(result.output, "LOGMESSAGE").empty()) << result.output;
    const auto descriptors = ordanatest::FilesWithExtension(folder.Path(), "cmo");
    ASSERT_EQ(descriptors.size(), 1u) << result.output;
    // 4 x 5 windows of 8 in each half, x-major, each line the class and the 3 x 16 values.
    const auto lines = ReadLines(descriptors[0]);
    ASSERT_EQ(lines.size(), 40u);
    velkar::testing::DenseTexture<long double> dense(
        std::make_shared<velkar::imageprocessing::ImageFileSystem>(
            (folder / "training.png").string()),
        8, {-1, 0}, {0, 1});
    for (std::size_t index = 0; index < lines.size(); ++index) {
        std::istringstream line(lines[index]);
        std::string label;
        line >> label;
        EXPECT_EQ(label, index < 20 ? "flat" : "striped");
        const int window = static_cast<int>(index % 20);
        const auto expected =
            dense.CoOccurrence(8 * (window / 5) + (index < 20 ? 0 : 32), 8 * (window % 5));
        for (const auto& band : expected) {
            for (double value : band) {
                double written = 0;
                ASSERT_TRUE(line >> written) << lines[index];
                EXPECT_NEAR(written, value, 1e-12 * std::abs(value)) << lines[index];
            }
        }
        EXPECT_FALSE(line >> label) << lines[index];
    }
    const auto models = ordanatest::FilesWithExtension(folder.Path(), "mlp");
    ASSERT_EQ(models.size(), 1u) << result.output;
    auto model = velkar::ordana::ReadModelFile(models[0].string());
    const Map& metadata = velkar::ordana::ModelMetadata(*model);
    EXPECT_EQ(*metadata.GetString("feature_extraction_parameters"),
              "--com --cnx -1,0 --cny 0,1 --cws 8");
    EXPECT_EQ(*metadata.GetInt("window_size"), 8);

    // Striped above, flat below.
    ASSERT_TRUE(ordanatest::WriteImage(folder / "scene.png", 48, 32, [](int x, int y) {
        return y < 16 ? Striped(x, y) : Flat(x, y);
    }));
    result = ordanatest::RunOrdana({"--image", (folder / "scene.png").string(), "--modelfile",
                                    models[0].string(), "--sampling", "window", "--chatty", "true"},
                                   folder.Path());
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_TRUE(result.HasLine("[LOGMESSAGE] !Processing image with Co-Occurrence Matrix.!"))
        << result.output;
    const auto protocol = ProtocolLines(result.output);
    ASSERT_FALSE(protocol.empty());
    const std::string status = protocol.back();
    ASSERT_EQ(status.rfind("[STATUS] !", 0), 0u) << result.output;
    const auto content =
        velkar::ordana::ReadPolygonFile(status.substr(10, status.size() - 11), true);
    ASSERT_EQ(content.polygons.size(), 24u);  // 6 x 4 windows of 8
    for (const auto& polygon : content.polygons) {
        const int y = polygon->Begin()->y();
        EXPECT_EQ(polygon->Class(), y < 16 ? "striped" : "flat")
            << "window at " << polygon->Begin()->x() << " " << y;
    }
}

}  // namespace
