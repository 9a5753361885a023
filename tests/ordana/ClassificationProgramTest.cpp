// The classification workflow of the program: labels of new scenes by models of every
// extractor and colour space, window counts of the grids, the files' places, colour lines and
// the class-map picture.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ClassificationFixture.h"
#include "featureextraction/DenseTexture.h"
#include "ordana/ModelFile.h"
#include "ordana/PolygonFile.h"

namespace {

using ordanatest::Blue;
using ordanatest::ClassificationProgramTest;
using ordanatest::Metadata;
using ordanatest::Payloads;
using ordanatest::ProtocolLines;
using ordanatest::ReadLines;
using ordanatest::Red;
using ordanatest::Rectangle;
using ordanatest::Rgb;
using ordanatest::TemporaryFolder;
using ordanatest::WriteText;
using velkar::util::Map;

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
