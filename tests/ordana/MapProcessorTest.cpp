#include "ordana/MapProcessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "ordana/FileNames.h"
#include "ordana/InputError.h"
#include "velkar/featureextraction/CoOccurrenceMatrix.h"
#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/featureextraction/FourierTransform.h"
#include "velkar/featureextraction/Hog.h"
#include "velkar/featureextraction/WaveletTransform.h"
#include "velkar/imageprocessing/HSVColorTransformation.h"
#include "velkar/imageprocessing/LABColorTransformation.h"
#include "velkar/util/Parallel.h"

namespace {

using ordanatest::CapturedOutput;
using ordanatest::LabelledPolygon;
using ordanatest::PixelFunction;
using ordanatest::Rectangle;
using ordanatest::Rgb;
using velkar::featureextraction::ColorAverage;
using velkar::imageprocessing::ColorSpaceTransformation;
using velkar::imageprocessing::Pixel;
using velkar::ordana::ExtractionOutput;
using velkar::ordana::ExtractionSelection;
using velkar::ordana::InputError;
using velkar::ordana::MapProcessor;

// One line of a descriptor file: the class, then the values.
struct Row {
    std::string className;
    std::vector<double> values;
};

std::vector<Row> ReadDescriptorFile(const std::string& path) {
    std::vector<Row> rows;
    for (const std::string& line : ordanatest::ReadLines(path)) {
        std::istringstream words(line);
        Row row;
        words >> row.className;
        double value = 0.0;
        while (words >> value) {
            row.values.push_back(value);
        }
        rows.push_back(row);
    }
    return rows;
}

// The colour averages of every window of axis-aligned rectangles, computed here pixel by pixel:
// windows start at the rectangle's minimum corner, step by w, and are taken when they end at or
// before the rectangle's maximum corner. With a transformation the pixels pass through it first.
std::vector<Row> ExpectedAverages(const PixelFunction& colour,
                                  const std::vector<LabelledPolygon>& rectangles, int w,
                                  bool monochromatic,
                                  const ColorSpaceTransformation* transformation = nullptr) {
    std::vector<Row> rows;
    for (const LabelledPolygon& rectangle : rectangles) {
        const int x0 = rectangle.vertices[0].first;
        const int y0 = rectangle.vertices[0].second;
        const int x1 = rectangle.vertices[2].first;
        const int y1 = rectangle.vertices[2].second;
        for (int x = x0; x + w <= x1; x += w) {
            for (int y = y0; y + w <= y1; y += w) {
                double sums[4] = {0, 0, 0, 0};
                for (int i = x; i < x + w; ++i) {
                    for (int j = y; j < y + w; ++j) {
                        Pixel pixel = colour(i, j);
                        if (transformation != nullptr) {
                            Pixel converted;
                            transformation->ForwardTransformation(pixel, converted);
                            pixel = converted;
                        }
                        for (int band = 0; band < 3; ++band) {
                            sums[band] += pixel[band];
                        }
                        sums[3] += 0.2126 * pixel[0] + 0.7152 * pixel[1] + 0.0722 * pixel[2];
                    }
                }
                Row row{rectangle.label, {}};
                for (int band = 0; band < (monochromatic ? 4 : 3); ++band) {
                    row.values.push_back(sums[band] / (w * w));
                }
                rows.push_back(row);
            }
        }
    }
    return rows;
}

void ExpectSameRows(const std::vector<Row>& actual, const std::vector<Row>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].className, expected[i].className) << "row " << i;
        ASSERT_EQ(actual[i].values.size(), expected[i].values.size()) << "row " << i;
        for (std::size_t k = 0; k < actual[i].values.size(); ++k) {
            EXPECT_NEAR(actual[i].values[k], expected[i].values[k], 1e-9) << "row " << i;
        }
    }
}

// Every channel varies with both coordinates, so a shifted or transposed window shows.
Pixel Gradient(int x, int y) {
    return Rgb((7 * x + 3 * y) % 256, (11 * y + x * x) % 256, (x * y) % 256);
}

const std::vector<std::string> kClasses = {"field", "water"};
const std::vector<std::string> kColours = {"#ffff00", "#0000ff"};
// 4 x 2 windows of 5 in the first, 2 x 3 in the second (its last column and row are strips).
const std::vector<LabelledPolygon> kRectangles = {{"water", Rectangle(0, 0, 20, 10)},
                                                  {"field", Rectangle(22, 12, 33, 29)}};

class MapProcessorTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ordanatest::WriteImage(ImagePath(), 40, 30, Gradient));
        ordanatest::WritePolygonFile(folder / "plot.cct", kClasses, kColours, kRectangles);
    }

    std::string ImagePath() const { return (folder / "scene.png").string(); }

    std::unique_ptr<MapProcessor> Processor(bool chatty, int windowSize, bool monochromatic) {
        protocol.SetChatty(chatty);
        auto processor = std::make_unique<MapProcessor>(protocol);
        processor->imageFile = ImagePath();
        processor->polygonFile = (folder / "plot.cct").string();
        processor->polygonFileName = "plot.cct";
        ExtractionSelection selection;
        selection.algorithms.push_back(
            std::make_shared<ColorAverage>(windowSize, monochromatic, false));
        selection.parameters["Windowed Color Average"] =
            "--wca --aws " + std::to_string(windowSize);
        processor->SetExtraction(selection);
        return processor;
    }

    ordanatest::TemporaryFolder folder;
    velkar::ordana::ProtocolWriter protocol;
};

TEST_F(MapProcessorTest, WritesTheWindowAveragesOfEveryPolygon) {
    auto processor = Processor(false, 5, false);
    std::vector<std::shared_ptr<ExtractionOutput>> outputs;
    testing::internal::CaptureStderr();
    const std::string printed = CapturedOutput([&] { outputs = processor->Process(); });
    const std::string errors = testing::internal::GetCapturedStderr();
    // Not chatty: nothing on standard output; the timer's report follows the extractor's name on
    // standard error.
    EXPECT_EQ(printed, "");
    EXPECT_EQ(errors.rfind("Windowed Color Average: ", 0), 0u) << errors;
    EXPECT_NE(errors.find("s wall, "), std::string::npos) << errors;

    ASSERT_EQ(outputs.size(), 1u);
    const ExtractionOutput& output = *outputs[0];
    EXPECT_TRUE(
        ordanatest::IsTimestampedName(output.descriptorFile, (folder / "plot.cct").string(), "wca"))
        << output.descriptorFile;
    EXPECT_EQ(output.featureCount, 3);
    EXPECT_EQ(output.algorithmName, "Windowed Color Average");
    EXPECT_EQ(output.classes, kClasses);
    EXPECT_EQ(output.colors, kColours);
    EXPECT_EQ(output.parameters, "--wca --aws 5");
    EXPECT_EQ(output.windowSize, 5);

    const std::vector<Row> rows = ReadDescriptorFile(output.descriptorFile);
    ExpectSameRows(rows, ExpectedAverages(Gradient, kRectangles, 5, false));
    EXPECT_EQ(rows.size(), 14u);
}

TEST_F(MapProcessorTest, DescriptorFilesAreTheSameWithOneAndTwoThreads) {
    // 48 small polygons, so that two threads finish them in a mixed order.
    std::vector<LabelledPolygon> cells;
    for (int i = 0; i < 48; ++i) {
        const int x = (i % 8) * 5;
        const int y = (i / 8) * 5;
        cells.push_back(
            {kClasses[static_cast<std::size_t>(i % 3 == 0)], Rectangle(x, y, x + 5, y + 5)});
    }
    ordanatest::WritePolygonFile(folder / "plot.cct", kClasses, kColours, cells);
    std::string texts[2];
    for (int threads : {1, 2}) {
        velkar::util::ThreadLimit limit(threads);
        auto processor = Processor(false, 1, false);
        std::vector<std::shared_ptr<ExtractionOutput>> outputs;
        CapturedOutput([&] { outputs = processor->Process(); });
        ASSERT_EQ(outputs.size(), 1u);
        texts[threads - 1] = ordanatest::ReadText(outputs[0]->descriptorFile);
    }
    EXPECT_EQ(texts[0], texts[1]);
    // Polygon after polygon in file order: 25 windows each.
    const std::vector<std::string> lines =
        ordanatest::ReadLines(ordanatest::FilesWithExtension(folder.Path(), "wca").front());
    ASSERT_EQ(lines.size(), 48u * 25u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& expected = cells[i / 25].label;
        ASSERT_EQ(lines[i].substr(0, expected.size() + 1), expected + " ") << "line " << i;
    }
}

// A descriptor file of 300,000 lines is formatted in blocks on the worker threads and written a
// round of blocks at a time; polygons begin and end inside blocks. Its text is, byte for byte,
// every window's class and values printed with "%.15g", in polygon and window order, on one
// thread and on two.
TEST_F(MapProcessorTest, LongDescriptorFilesHoldEveryLineInOrder) {
    const std::vector<LabelledPolygon> regions = {{"water", Rectangle(0, 0, 600, 110)},
                                                  {"field", Rectangle(0, 110, 333, 500)},
                                                  {"water", Rectangle(333, 110, 600, 500)}};
    ASSERT_TRUE(ordanatest::WriteImage(ImagePath(), 600, 500, Gradient));
    ordanatest::WritePolygonFile(folder / "plot.cct", kClasses, kColours, regions);
    std::string expected;
    char number[32];
    for (const Row& row : ExpectedAverages(Gradient, regions, 1, true)) {
        expected += row.className;
        for (const double value : row.values) {
            std::snprintf(number, sizeof number, " %.15g", value);
            expected += number;
        }
        expected += '\n';
    }
    ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), 300000);
    for (int threads : {1, 2}) {
        velkar::util::ThreadLimit limit(threads);
        auto processor = Processor(false, 1, true);
        std::vector<std::shared_ptr<ExtractionOutput>> outputs;
        CapturedOutput([&] { outputs = processor->Process(); });
        ASSERT_EQ(outputs.size(), 1u);
        EXPECT_TRUE(ordanatest::ReadText(outputs[0]->descriptorFile) == expected)
            << threads << " threads";
    }
}

TEST_F(MapProcessorTest, MonochromaticBandAddsTheLuminance) {
    auto processor = Processor(false, 4, true);
    std::vector<std::shared_ptr<ExtractionOutput>> outputs;
    CapturedOutput([&] { outputs = processor->Process(); });
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0]->featureCount, 4);
    EXPECT_EQ(outputs[0]->windowSize, 4);
    ExpectSameRows(ReadDescriptorFile(outputs[0]->descriptorFile),
                   ExpectedAverages(Gradient, kRectangles, 4, true));
}

TEST_F(MapProcessorTest, ColourVariantsReplaceTheImageInSelectionOrder) {
    auto processor = Processor(true, 5, false);
    const velkar::imageprocessing::HSVColorTransformation hsv;
    const velkar::imageprocessing::LABColorTransformation lab;
    processor->colorTransformations.push_back(
        std::make_shared<velkar::imageprocessing::HSVColorTransformation>());
    processor->colorTransformations.push_back(
        std::make_shared<velkar::imageprocessing::LABColorTransformation>());

    std::vector<std::shared_ptr<ExtractionOutput>> outputs;
    const std::string printed = CapturedOutput([&] { outputs = processor->Process(); });
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_TRUE(ordanatest::IsTimestampedName(outputs[0]->descriptorFile,
                                              (folder / "plot.cct_hsv").string(), "wca"))
        << outputs[0]->descriptorFile;
    EXPECT_TRUE(ordanatest::IsTimestampedName(outputs[1]->descriptorFile,
                                              (folder / "plot.cct_lab").string(), "wca"))
        << outputs[1]->descriptorFile;
    ExpectSameRows(ReadDescriptorFile(outputs[0]->descriptorFile),
                   ExpectedAverages(Gradient, kRectangles, 5, false, &hsv));
    ExpectSameRows(ReadDescriptorFile(outputs[1]->descriptorFile),
                   ExpectedAverages(Gradient, kRectangles, 5, false, &lab));
    // The untransformed image is not processed: two descriptor files only.
    EXPECT_EQ(ordanatest::FilesWithExtension(folder.Path(), "wca").size(), 2u);

    // Each variant runs its own progress from 0 to 100.
    EXPECT_EQ(
        ordanatest::ProtocolLines(printed),
        (std::vector<std::string>{
            "[LOGMESSAGE] !Processing image with Windowed Color Average.!", "[PROGRESS] !100!",
            "[LOGMESSAGE] !Processing image with Windowed Color Average.!", "[PROGRESS] !100!"}));
}

TEST_F(MapProcessorTest, ProgressIsTheTruncatedRunningSum) {
    auto processor = Processor(true, 5, false);
    processor->algorithms.push_back(std::make_shared<ColorAverage>(3, false, false));
    processor->algorithms.push_back(std::make_shared<ColorAverage>(2, true, false));

    std::vector<std::shared_ptr<ExtractionOutput>> outputs;
    std::string printed = CapturedOutput([&] { outputs = processor->Process(); });
    EXPECT_EQ(ordanatest::Payloads(printed, "PROGRESS"),
              (std::vector<std::string>{"33", "66", "99"}));
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs[0]->windowSize, 5);
    EXPECT_EQ(outputs[1]->windowSize, 3);
    EXPECT_EQ(outputs[2]->featureCount, 4);
    // One timer report per extractor.
    int reports = 0;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) {
        reports += line.find("s wall") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(reports, 3);
}

// Reading each polygon's region alone, or one region for all, gives the descriptors every
// extractor gives over the whole image: polygons at the image's edges, past them, wholly outside,
// and the gradient histograms, whose cells follow the whole box.
TEST_F(MapProcessorTest, RegionsDescribeAsTheWholeImageDoes) {
    const std::vector<LabelledPolygon> polygons = {
        {"water", Rectangle(0, 0, 10, 8)},     {"field", Rectangle(30, 20, 40, 30)},
        {"water", Rectangle(-5, -5, 6, 7)},    {"field", Rectangle(35, -3, 45, 12)},
        {"water", Rectangle(-20, -20, -5, -5)}, {"field", Rectangle(50, 40, 60, 50)},
        {"water", {{14, 3}, {38, 6}, {20, 19}}}, {"field", Rectangle(12, 10, 25, 22)},
        {"water", Rectangle(-1, 22, 9, 31)},   {"field", Rectangle(2, 29, 20, 40)}};
    ordanatest::WritePolygonFile(folder / "plot.cct", kClasses, kColours, polygons);
    using namespace velkar::featureextraction;
    const auto extractors = [] {
        return std::vector<std::shared_ptr<FeatureExtractionAlgorithm>>{
            std::make_shared<ColorAverage>(3, false, false), std::make_shared<Hog>(2, 3, 5),
            std::make_shared<FourierTransform>(4, 2),
            std::make_shared<CoOccurrenceMatrix>(4, std::vector<int>{1}, std::vector<int>{1}),
            std::make_shared<WaveletTransform>(4, 1, "haar")};
    };
    // The reference: every extractor over the whole picture and the polygons as they are.
    auto whole = std::make_shared<velkar::imageprocessing::ImageFileSystem>(ImagePath());
    auto reference = Processor(false, 3, false);
    auto readPolygons = reference->ReadPolygons();
    std::vector<FeatureExtractionAlgorithm::FlatDescriptors> expected;
    for (const auto& extractor : extractors()) {
        extractor->SetImage(whole);
        expected.push_back(extractor->DescribePolygons(readPolygons));
    }
    std::vector<std::string> texts;
    for (const long long budget : {1LL, 150LL, 1LL << 30}) {
        auto processor = Processor(false, 3, false);
        processor->algorithms = extractors();
        processor->regionPixels = budget;
        std::vector<std::shared_ptr<ExtractionOutput>> outputs;
        CapturedOutput([&] { outputs = processor->Process(); });
        ASSERT_EQ(outputs.size(), expected.size());
        std::string text;
        for (std::size_t e = 0; e < outputs.size(); ++e) {
            EXPECT_EQ(outputs[e]->polygonIds, expected[e].polygonIds) << e << ", " << budget;
            const std::vector<Row> rows = ReadDescriptorFile(outputs[e]->descriptorFile);
            const std::size_t length = static_cast<std::size_t>(extractors()[e]->FeatureCount());
            ASSERT_EQ(rows.size() * length, expected[e].values.size()) << e << ", " << budget;
            for (std::size_t r = 0; r < rows.size(); ++r) {
                for (std::size_t k = 0; k < length; ++k) {
                    const double value = expected[e].values[r * length + k];
                    ASSERT_NEAR(rows[r].values[k], value, 1e-12 * (1 + std::abs(value)))
                        << "extractor " << e << ", row " << r << ", budget " << budget;
                }
            }
            text += ordanatest::ReadText(outputs[e]->descriptorFile);
        }
        texts.push_back(text);
    }
    EXPECT_EQ(texts[0], texts[1]);
    EXPECT_EQ(texts[0], texts[2]);
}

TEST_F(MapProcessorTest, ReadPolygonsAppendsClassesAndColours) {
    auto processor = Processor(false, 5, false);
    EXPECT_EQ(processor->ReadPolygons().size(), 2u);
    EXPECT_EQ(processor->ReadPolygons().size(), 2u);
    EXPECT_EQ(processor->classes, (std::vector<std::string>{"field", "water", "field", "water"}));
    EXPECT_EQ(processor->colors.size(), 4u);
}

TEST_F(MapProcessorTest, UnusableInputsAreRejectedBeforeAnythingIsWritten) {
    auto expectRejected = [&](MapProcessor& processor, const std::string& named) {
        const auto before = folder.FileNames().size();
        try {
            CapturedOutput([&] { processor.Process(); });
            ADD_FAILURE() << "no error naming " << named;
        } catch (const InputError& error) {
            EXPECT_NE(std::string(error.what()).find("'" + named + "'"), std::string::npos)
                << error.what();
        }
        EXPECT_EQ(folder.FileNames().size(), before);
    };

    ordanatest::WriteText(folder / "broken.png", "not an image");
    auto broken = Processor(false, 5, false);
    broken->imageFile = (folder / "broken.png").string();
    expectRejected(*broken, broken->imageFile);

    auto missing = Processor(false, 5, false);
    missing->imageFile = (folder / "absent.png").string();
    expectRejected(*missing, missing->imageFile);

    auto noPolygons = Processor(false, 5, false);
    noPolygons->polygonFile = (folder / "absent.cct").string();
    expectRejected(*noPolygons, noPolygons->polygonFile);

    ordanatest::WriteText(folder / "bad.cct", "t\n1\nwater\n1\nc\n1\nfield\n1\n0\n");
    auto badLabel = Processor(false, 5, false);
    badLabel->polygonFile = (folder / "bad.cct").string();
    expectRejected(*badLabel, badLabel->polygonFile);

    // Runs that would give no window: polygons smaller than the window, and a window larger
    // than the image (refused before any extractor sizes a buffer by it).
    ordanatest::WritePolygonFile(folder / "tiny.cct", kClasses, kColours,
                                 {{"water", Rectangle(0, 0, 3, 3)}});
    auto tiny = Processor(false, 5, false);
    tiny->polygonFile = (folder / "tiny.cct").string();
    expectRejected(*tiny, tiny->polygonFile);
    auto huge = Processor(false, 2147483647, false);
    expectRejected(*huge, huge->imageFile);
}

// The program writes the descriptor file beside the image, named after the polygon file.
TEST(MapProcessorProgramTest, DescriptorFileLiesBesideTheImage) {
    ordanatest::TemporaryFolder folder;
    std::filesystem::create_directory(folder / "images");
    std::filesystem::create_directory(folder / "labels");
    ASSERT_TRUE(ordanatest::WriteImage(folder / "images" / "scene.png", 40, 30, Gradient));
    ordanatest::WritePolygonFile(folder / "labels" / "plot.cct", kClasses, kColours, kRectangles);

    auto result = ordanatest::RunOrdana(
        {"--image", (folder / "images" / "scene.png").string(), "--file",
         (folder / "labels" / "plot.cct").string(), "--wca", "--aws", "5", "--experiments", "1"},
        folder.Path());
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_TRUE(ordanatest::ProtocolLines(result.output).empty()) << result.output;
    const auto files = ordanatest::FilesWithExtension(folder / "images", "wca");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(ordanatest::IsTimestampedName(files[0].filename().string(), "plot.cct", "wca"))
        << files[0];
    ExpectSameRows(ReadDescriptorFile(files[0].string()),
                   ExpectedAverages(Gradient, kRectangles, 5, false));
    // Nothing lands beside the polygon file or in the working directory.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "labels"),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_EQ(folder.FileNames().size(), 2u);
}

TEST(MapProcessorProgramTest, BackslashPathsWriteIntoTheWorkingDirectory) {
    ordanatest::TemporaryFolder folder;
    // On this system the backslash is part of the file name, not a separator.
    ASSERT_TRUE(ordanatest::WriteImage(folder / "images\\scene.png", 40, 30, Gradient));
    ordanatest::WritePolygonFile(folder / "labels\\plot.cct", kClasses, kColours, kRectangles);

    auto result =
        ordanatest::RunOrdana({"--image", "images\\scene.png", "--file", "labels\\plot.cct",
                               "--wca", "--aws", "5", "--experiments", "1"},
                              folder.Path());
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    const auto files = ordanatest::FilesWithExtension(folder.Path(), "wca");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(ordanatest::IsTimestampedName(files[0].filename().string(), "plot.cct", "wca"))
        << files[0];
}

}  // namespace
