// The experiment workflow of the program: the files it writes beside the image, its protocol,
// seeded repetition, colour variants, the accuracy report and the refusals of unusable input.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "ordana/FileNames.h"
#include "ordana/ModelFile.h"
#include "velkar/util/Map.h"

namespace {

using namespace ordanatest;

// The value after the ':' of a results line.
double ValueOf(const std::string& line) { return std::stod(line.substr(line.find(':') + 1)); }

// Left half red, right half blue, with a little texture so that no window is constant.
velkar::imageprocessing::Pixel RedBlue(int x, int y) {
    const int texture = (x * 7 + y * 13) % 20;
    return x < 30 ? Rgb(200 + texture, 30, 40) : Rgb(30, 40 + texture, 200);
}

const std::vector<LabelledPolygon> kRedBlue = {{"red", Rectangle(0, 0, 30, 40)},
                                               {"blue", Rectangle(30, 0, 60, 40)}};

class ExperimentProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(folder / "images");
        std::filesystem::create_directory(folder / "labels");
        ASSERT_TRUE(ordanatest::WriteImage(folder / "images" / "scene.png", 60, 40, RedBlue));
        ordanatest::WritePolygonFile(folder / "labels" / "plot.cct", {"red", "blue"},
                                     {"#ff0000", "#0000ff"}, kRedBlue);
    }

    ordanatest::ProgramResult Run(std::vector<std::string> arguments) {
        std::vector<std::string> all = {"--image", (folder / "images" / "scene.png").string(),
                                        "--file", (folder / "labels" / "plot.cct").string()};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return ordanatest::RunOrdana(all, folder.Path());
    }

    std::vector<std::filesystem::path> Images(const std::string& extension) const {
        return ordanatest::FilesWithExtension(folder / "images", extension);
    }

    ordanatest::TemporaryFolder folder;
};

const std::vector<std::string> kPerceptron = {
    "--mlp", "--mhidden", "4", "--mlr", "0.3", "--mm", "0.1", "--merr", "0.001", "--miter", "200"};

std::vector<std::string> With(std::vector<std::string> arguments,
                              const std::vector<std::string>& more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

TEST_F(ExperimentProgramTest, WritesDescriptorsResultsAndModelBesideTheImage) {
    auto result = Run(With({"--wca", "--aws", "5", "--experiments", "2", "--seed", "2"}, kPerceptron));
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_TRUE(ProtocolLines(result.output).empty()) << result.output;

    const auto descriptors = Images("wca");
    const auto results = Images("wca-mlp");
    const auto models = Images("mlp");
    ASSERT_EQ(descriptors.size(), 1u);
    ASSERT_EQ(results.size(), 1u);
    ASSERT_EQ(models.size(), 1u);
    EXPECT_TRUE(
        ordanatest::IsTimestampedName(descriptors[0].filename().string(), "plot.cct", "wca"));
    EXPECT_EQ(results[0].string(), descriptors[0].string() + "-mlp");
    // The model is named after its descriptor file.
    EXPECT_EQ(models[0].string(), descriptors[0].string() + ".mlp");
    // Nothing beside the polygon file or in the working directory.
    EXPECT_EQ(folder.FileNames().size(), 2u);
    EXPECT_EQ(ReadLines(descriptors[0]).size(), 96u);  // 6 x 8 windows in each half

    const auto lines = ReadLines(results[0]);
    ASSERT_EQ(lines.size(), 6u);
    const std::vector<std::string> heads = {
        "train 1:", "test 1:", "train 2:", "test 2:", "train global: ", "test global: "};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(heads[i], 0), 0u) << lines[i];
        const double accuracy = ValueOf(lines[i]);
        EXPECT_GE(accuracy, 0.0);
        EXPECT_LE(accuracy, 1.0);
        // 48 training and 48 test patterns per repetition.
        const double denominator = i < 4 ? 48.0 * static_cast<double>(i / 2 + 1) : 96.0;
        EXPECT_NEAR(accuracy * denominator, std::round(accuracy * denominator), 1e-9) << lines[i];
    }

    // The model: the perceptron's own keys and the metadata map.
    const std::string text = ordanatest::ReadText(models[0]);
    EXPECT_NE(text.find('\t'), std::string::npos);
    auto model = velkar::ordana::ReadModelFile(models[0].string());
    for (const char* key : {"weights", "tagged_classes", "min_data_values", "max_data_values",
                            "output_sizes", "firestrength_sizes", "metadata"}) {
        EXPECT_TRUE(model->Exists(key)) << key;
    }
    const velkar::util::Map& metadata = velkar::ordana::ModelMetadata(*model);
    EXPECT_EQ(metadata.Size(), 6);
    EXPECT_EQ(*metadata.GetString("algorithm_name"), "Multilayer Perceptron");
    EXPECT_EQ(*metadata.GetString("algorithm_version"), "2.0");
    EXPECT_EQ(*metadata.GetString("feature_extraction_parameters"),
              "--wca --aam false --anorm false --aws 5");
    EXPECT_EQ(*metadata.GetInt("window_size"), 5);
    EXPECT_EQ(velkar::ordana::StringList(metadata.GetCollection("classes")),
              (std::vector<std::string>{"red", "blue"}));
    EXPECT_EQ(velkar::ordana::StringList(metadata.GetCollection("colors")),
              (std::vector<std::string>{"#ff0000", "#0000ff"}));
}

TEST_F(ExperimentProgramTest, ChattyProtocolOfFourRepetitions) {
    auto result =
        Run(With({"--wca", "--aws", "5", "--experiments", "4", "--chatty", "true", "--seed", "3"},
                 kPerceptron));
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    const auto lines = ProtocolLines(result.output);
    ASSERT_EQ(lines.size(), 21u) << result.output;
    const std::vector<std::string> head = {
        "[TASK] !Setting up!",
        "[TASK] !Extracting features!",
        "[LOGMESSAGE] !Processing image with Windowed Color Average.!",
        "[PROGRESS] !100!",
        "[TASK] !Classifying!",
        "[LOGMESSAGE] !Processing Windowed Color Average output.!",
        "[PROGRESS] !0!",
        "[LOGMESSAGE] !Running experiments with mlp.!"};
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 8), head);
    EXPECT_EQ(lines.back(), "[STATUS] !!");

    // The accumulated accuracies of the protocol are those of the results file, to six digits.
    const auto results = ReadLines(Images("wca-mlp").at(0));
    ASSERT_EQ(results.size(), 10u);
    for (int h = 1; h <= 4; ++h) {
        const std::size_t at = 8 + 3 * static_cast<std::size_t>(h - 1);
        EXPECT_EQ(lines[at], "[PROGRESS] !" + std::to_string(25 * h) + "!");
        const std::string train = "[LOGMESSAGE] !Accumulated train " + std::to_string(h) + ": ";
        const std::string test = "[LOGMESSAGE] !Accumulated test " + std::to_string(h) + ": ";
        ASSERT_EQ(lines[at + 1].rfind(train, 0), 0u) << lines[at + 1];
        ASSERT_EQ(lines[at + 2].rfind(test, 0), 0u) << lines[at + 2];
        const double printedTrain = std::stod(lines[at + 1].substr(train.size()));
        const double printedTest = std::stod(lines[at + 2].substr(test.size()));
        EXPECT_NEAR(printedTrain, ValueOf(results[2 * (h - 1)]), 1e-6);
        EXPECT_NEAR(printedTest, ValueOf(results[2 * (h - 1) + 1]), 1e-6);
    }
}

TEST_F(ExperimentProgramTest, TheSameSeedRepeatsARunExactly) {
    // Every file the run writes beside the image, by extension (the names carry the time, and
    // the report page names the files written, so its times are left out).
    auto writtenFiles = [&] {
        static const std::regex stamp(R"(_\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2})");
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder / "images")) {
            if (entry.path().filename() != "scene.png") {
                files[entry.path().extension().string()] =
                    std::regex_replace(ordanatest::ReadText(entry.path()), stamp, "_<time>");
                std::filesystem::remove(entry.path());
            }
        }
        return files;
    };
    const auto arguments =
        With({"--wca", "--aws", "3", "--experiments", "3", "--seed", "12345"}, kPerceptron);
    ASSERT_EQ(Run(arguments).exitStatus, 0);
    const auto first = writtenFiles();
    ASSERT_EQ(Run(arguments).exitStatus, 0);
    const auto second = writtenFiles();
    ASSERT_EQ(first.size(), 5u);  // descriptors, results, report, model, page
    EXPECT_EQ(first, second);
    // A different seed draws other splits and weights.
    ASSERT_EQ(
        Run(With({"--wca", "--aws", "3", "--experiments", "3", "--seed", "54321"}, kPerceptron))
            .exitStatus,
        0);
    EXPECT_NE(writtenFiles().at(".mlp"), first.at(".mlp"));

    const auto rejected =
        Run(With({"--wca", "--aws", "3", "--experiments", "1", "--seed", "-4"}, kPerceptron));
    EXPECT_EQ(rejected.exitStatus, 2);
    EXPECT_NE(rejected.errors.find("'--seed': -4"), std::string::npos) << rejected.errors;
    EXPECT_TRUE(writtenFiles().empty());
}

TEST_F(ExperimentProgramTest, EveryColourVariantIsAnOutputOfItsOwn) {
    auto result = Run(With(
        {"--wca", "--aws", "5", "--experiments", "1", "--seed", "2", "--cs-lab", "--cs-hsv", "--chatty", "true"},
        kPerceptron));
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    // Extraction: each variant runs to 100; experiments: the two outputs share 0 to 100.
    EXPECT_EQ(Payloads(result.output, "PROGRESS"),
              (std::vector<std::string>{"100", "100", "0", "50", "50", "100"}));
    EXPECT_EQ(result.CountLines("[LOGMESSAGE] !Processing Windowed Color Average output.!"), 2);

    const auto descriptors = Images("wca");
    ASSERT_EQ(descriptors.size(), 2u);
    // hsv comes before lab in the fixed order, and sorts first by name as well.
    EXPECT_TRUE(
        ordanatest::IsTimestampedName(descriptors[0].filename().string(), "plot.cct_hsv", "wca"))
        << descriptors[0];
    EXPECT_TRUE(
        ordanatest::IsTimestampedName(descriptors[1].filename().string(), "plot.cct_lab", "wca"))
        << descriptors[1];
    const auto results = Images("wca-mlp");
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].string(), descriptors[0].string() + "-mlp");
    EXPECT_EQ(results[1].string(), descriptors[1].string() + "-mlp");
    // A variant's model carries the variant in its name, as its descriptor file does, and
    // records its colour space.
    const auto models = Images("mlp");
    ASSERT_EQ(models.size(), 2u);
    const std::string spaces[] = {"hsv", "lab"};
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(models[i].string(), descriptors[i].string() + ".mlp");
        const auto model = velkar::ordana::ReadModelFile(models[i].string());
        EXPECT_EQ(*velkar::ordana::ModelMetadata(*model).GetString("color_space"), spaces[i]);
    }
}

// The value after "key: " on the line that starts so, or "" when no line does.
std::string ReportValue(const std::vector<std::string>& lines, const std::string& key) {
    for (const std::string& line : lines) {
        if (line.rfind(key + ": ", 0) == 0) {
            return line.substr(key.size() + 2);
        }
    }
    return "";
}

TEST_F(ExperimentProgramTest, AccuracyReportBesideTheResultsFile) {
    // One polygon per class: the window split only, and the report says why.
    ASSERT_EQ(Run(With({"--wca", "--aws", "5", "--experiments", "3", "--seed", "4"}, kPerceptron))
                  .exitStatus,
              0);
    const auto results = Images("wca-mlp");
    ASSERT_EQ(results.size(), 1u);
    const auto single = ReadLines(results[0].string() + ".report");
    // 96 windows: 48 test windows in each of the 3 repetitions.
    EXPECT_EQ(ReportValue(single, "test windows"), "144");
    EXPECT_EQ(ReportValue(single, "repetitions"), "3");
    EXPECT_EQ(ReportValue(single, "classifier"), "Multilayer Perceptron");
    EXPECT_EQ(ReportValue(single, "not evaluated"),
              "the class 'red' has fewer than two polygons with windows, so none of its polygons "
              "can be held out");
    // The matrix rows follow its header line; together they hold every test window.
    const auto header =
        std::find(single.begin(), single.end(), "true\\predicted\tred\tblue\tunknown");
    ASSERT_LT(header + 2, single.end());
    long long windows = 0;
    for (auto row = header + 1; row != header + 3; ++row) {
        std::istringstream cells(*row);
        std::string name;
        cells >> name;
        for (long long count = 0; cells >> count;) {
            windows += count;
        }
    }
    EXPECT_EQ(windows, 144);

    // Two polygons per class: each repetition also tests on polygons it did not train on.
    ordanatest::WritePolygonFile(folder / "labels" / "plot.cct", {"red", "blue"},
                                 {"#ff0000", "#0000ff"},
                                 {{"red", Rectangle(0, 0, 30, 20)},
                                  {"blue", Rectangle(30, 0, 60, 20)},
                                  {"red", Rectangle(0, 20, 30, 40)},
                                  {"blue", Rectangle(30, 20, 60, 40)}});
    for (const auto& file : results) {
        std::filesystem::remove(file);
    }
    ASSERT_EQ(Run(With({"--wca", "--aws", "5", "--experiments", "2", "--seed", "4"}, kPerceptron))
                  .exitStatus,
              0);
    const auto twice = ReadLines(Images("wca-mlp").at(0).string() + ".report");
    const auto heldOut = std::find(twice.begin(), twice.end(), "[held-out polygons]");
    ASSERT_NE(heldOut, twice.end());
    // One of the two polygons of each class is tested: 24 windows a class, twice.
    EXPECT_EQ(ReportValue({heldOut, twice.end()}, "test windows"), "96");
    EXPECT_EQ(ReportValue({heldOut, twice.end()}, "overall accuracy"), "1");
}

TEST_F(ExperimentProgramTest, TheOrderOfThePolygonsDoesNotDecideTheAccuracy) {
    // Three classes whose colours overlap, so that a perceptron trained in file order leans
    // towards the class it saw last.
    ASSERT_TRUE(ordanatest::WriteImage(folder / "images" / "scene.png", 90, 40, [](int x, int y) {
        const int noise = (x * 37 + y * 91 + x * y * 13) % 90;
        return x < 30   ? Rgb(100 + noise, 90, 80)
               : x < 60 ? Rgb(80, 100 + noise, 90)
                        : Rgb(90, 80, 100 + noise);
    }));
    const std::vector<LabelledPolygon> forward = {{"a", Rectangle(0, 0, 30, 40)},
                                                  {"b", Rectangle(30, 0, 60, 40)},
                                                  {"c", Rectangle(60, 0, 90, 40)}};
    double accuracies[2] = {0.0, 0.0};
    for (int order = 0; order < 2; ++order) {
        std::vector<LabelledPolygon> polygons = forward;
        if (order == 1) {
            std::reverse(polygons.begin(), polygons.end());
        }
        ordanatest::WritePolygonFile(folder / "labels" / "plot.cct", {"a", "b", "c"},
                                     {"#f00", "#0f0", "#00f"}, polygons);
        ASSERT_EQ(
            Run({"--wca", "--aws", "2", "--experiments", "3", "--seed", "8", "--mlp", "--mhidden",
                 "3", "--mlr", "0.9", "--mm", "0.5", "--merr", "0", "--miter", "4"})
                .exitStatus,
            0);
        const auto results = Images("wca-mlp");
        ASSERT_EQ(results.size(), 1u);
        accuracies[order] = ValueOf(ReadLines(results[0]).back());
        for (const auto& file : std::filesystem::directory_iterator(folder / "images")) {
            if (file.path().filename() != "scene.png") {
                std::filesystem::remove(file.path());
            }
        }
    }
    EXPECT_NEAR(accuracies[0], accuracies[1], 0.03);
}

TEST_F(ExperimentProgramTest, BlackPixelsUnderNormalisationCountAsNeutral) {
    ASSERT_TRUE(ordanatest::WriteImage(folder / "images" / "scene.png", 60, 40, [](int x, int y) {
        return (x + y) % 7 == 0 ? Rgb(0, 0, 0) : RedBlue(x, y);
    }));
    ASSERT_EQ(Run(With({"--wca", "--aws", "5", "--aam", "true", "--anorm", "true", "--experiments",
                        "2", "--seed", "6"},
                       kPerceptron))
                  .exitStatus,
              0);
    EXPECT_EQ(ordanatest::ReadText(Images("wca").at(0)).find("nan"), std::string::npos);
    EXPECT_DOUBLE_EQ(ValueOf(ReadLines(Images("wca-mlp").at(0)).back()), 1.0);
}

TEST_F(ExperimentProgramTest, PolygonsThatGiveNoWindowAreReported) {
    ordanatest::WritePolygonFile(folder / "labels" / "plot.cct", {"red", "blue", "sand"},
                                 {"#ff0000", "#0000ff", "#ffff00"},
                                 {{"red", Rectangle(0, 0, 30, 40)},
                                  {"blue", Rectangle(30, 0, 70, 40)},
                                  {"sand", Rectangle(2, 2, 5, 5)}});
    const auto result = Run(With({"--wca", "--aws", "5", "--experiments", "1", "--seed", "2"}, kPerceptron));
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    const auto messages = result.Messages();
    ASSERT_EQ(messages.size(), 3u) << result.errors;
    EXPECT_NE(messages[0].find("polygon 2 (class 'blue')"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("reaches past the image (60 x 40 pixels)"), std::string::npos);
    EXPECT_NE(messages[1].find("polygon 3 (class 'sand')"), std::string::npos) << messages[1];
    EXPECT_NE(messages[1].find("smaller than the 5-pixel window"), std::string::npos);
    EXPECT_NE(messages[2].find("class 'sand'"), std::string::npos) << messages[2];
    EXPECT_NE(messages[2].find("gets no window"), std::string::npos);
}

TEST_F(ExperimentProgramTest, NegativeRepetitionCountIsRejected) {
    auto result =
        Run(With({"--wca", "--aws", "5", "--experiments", "-1", "--chatty", "true"}, kPerceptron));
    EXPECT_EQ(result.exitStatus, 2) << result.output;
    const auto lines = ProtocolLines(result.output);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), "[STATUS] !!");
    EXPECT_NE(lines[lines.size() - 2].find("'--experiments': -1"), std::string::npos)
        << lines[lines.size() - 2];
    EXPECT_EQ(lines[lines.size() - 2].rfind("[LOGMESSAGE] !", 0), 0u);
    EXPECT_TRUE(Images("wca-mlp").empty());
    EXPECT_TRUE(Images("mlp").empty());
}

TEST_F(ExperimentProgramTest, ZeroRepetitionsLeaveAnEmptyResultsFileAndNoModel) {
    auto result = Run(With({"--wca", "--aws", "5", "--experiments", "0"}, kPerceptron));
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    const auto messages = result.Messages();
    ASSERT_EQ(messages.size(), 1u) << result.errors;
    EXPECT_NE(messages[0].find("no model file"), std::string::npos) << messages[0];
    const auto results = Images("wca-mlp");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(ordanatest::ReadText(results[0]), "");
    EXPECT_TRUE(Images("mlp").empty());
}

TEST_F(ExperimentProgramTest, UnusableInputFilesStopTheRunWithStatusTwo) {
    struct Case {
        std::string what;
        std::string polygonText;  // empty: keep the good polygon file
        bool breakImage = false;
    };
    const std::vector<Case> cases = {
        {"unreadable image", "", true},
        {"count without a number", "t\nsome\n"},
        {"fewer labels than polygons", "t\n1\nred\n1\nc\n1\nred\n2\n0\n0\n"},
        {"too many vertices", "t\n1\nred\n1\nc\n1\nred\n1\n1001\n"},
        {"label not a class", "t\n1\nred\n1\nc\n1\nblue\n1\n0\n"},
        {"file ends early", "t\n2\nred\nblue\n2\nc\nd\n2\nred\nblue\n2\n4\n0 0\n"},
        {"bad vertex line", "t\n1\nred\n1\nc\n1\nred\n1\n1\n5\n"},
    };
    for (const Case& bad : cases) {
        ordanatest::TemporaryFolder run;
        std::filesystem::create_directory(run / "images");
        ASSERT_TRUE(ordanatest::WriteImage(run / "images" / "scene.png", 60, 40, RedBlue));
        if (bad.breakImage) {
            WriteText(run / "images" / "scene.png", "PNG? no");
        }
        ordanatest::WritePolygonFile(run / "plot.cct", {"red", "blue"}, {"#ff0000", "#0000ff"},
                                     kRedBlue);
        if (!bad.polygonText.empty()) {
            WriteText(run / "plot.cct", bad.polygonText);
        }
        const std::string named =
            bad.breakImage ? (run / "images" / "scene.png").string() : (run / "plot.cct").string();
        auto result =
            ordanatest::RunOrdana(With({"--image", (run / "images" / "scene.png").string(),
                                        "--file", (run / "plot.cct").string(), "--wca", "--aws",
                                        "5", "--experiments", "1", "--chatty", "true"},
                                       kPerceptron),
                                  run.Path());
        EXPECT_EQ(result.exitStatus, 2) << bad.what << "\n" << result.output;
        const auto lines = ProtocolLines(result.output);
        ASSERT_GE(lines.size(), 2u) << bad.what;
        EXPECT_EQ(lines.back(), "[STATUS] !!") << bad.what;
        const std::string& rejection = lines[lines.size() - 2];
        EXPECT_EQ(rejection.rfind("[LOGMESSAGE] !", 0), 0u) << bad.what << ": " << rejection;
        EXPECT_NE(rejection.find("'" + named + "'"), std::string::npos)
            << bad.what << ": " << rejection;
        if (!bad.breakImage) {
            EXPECT_NE(rejection.find("line "), std::string::npos) << bad.what << ": " << rejection;
        }
        EXPECT_EQ(Payloads(result.output, "LOGMESSAGE").size(), 1u) << bad.what;
        // Only the inputs remain.
        EXPECT_EQ(run.FileNames().size(), 2u) << bad.what;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(run / "images"),
                                std::filesystem::directory_iterator()),
                  1)
            << bad.what;
    }
}

}  // namespace
