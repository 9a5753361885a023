// The program under inputs that would take its memory, hold no usable data or try to break its
// log lines: each run is refused with one message naming the file (and line), the size or the
// option, exits with status 2, prints nothing else (not even the image libraries' own lines)
// and writes no file; all within an address space that could not hold what the input declares.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "common/PngFiles.h"
#include "common/RasterFiles.h"

namespace {

using ordanatest::Rgb;
using ordanatest::TemporaryFolder;
using ordanatest::WriteText;

class BadInputProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ordanatest::WriteImage(folder / "scene.png", 64, 48, [](int x, int y) {
            return Rgb(x * 3, y * 5, (x * y) % 256);
        }));
        ordanatest::WritePolygonFile(folder / "scene.cct", {"left", "right"}, {"#f00", "#00f"},
                                     {{"left", ordanatest::Rectangle(0, 0, 32, 48)},
                                      {"right", ordanatest::Rectangle(32, 0, 64, 48)}});
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names = folder.FileNames();
        std::sort(names.begin(), names.end());
        return names;
    }

    // Runs a command line of blank-separated words in the folder.
    ordanatest::ProgramResult Run(const std::string& line, testsupport::ResourceLimits limits) {
        std::istringstream words(line);
        std::vector<std::string> arguments;
        for (std::string word; words >> word;) {
            arguments.push_back(word);
        }
        return ordanatest::RunOrdanaWithin(limits, arguments, folder.Path());
    }

    // Trains a perceptron on the scene; returns its model file, or "" when none was written.
    std::string TrainedModel() {
        const auto result = Run("--image scene.png --file scene.cct --wca --aws 5 --experiments 1 "
                                "--mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr 0.1 --miter 5",
                                {});
        const auto models = ordanatest::FilesWithExtension(folder.Path(), "mlp");
        return result.exitStatus == 0 && models.size() == 1 ? models[0].string() : "";
    }

    TemporaryFolder folder;
};

TEST_F(BadInputProgramTest, InputsAreRefusedByNameWithinBoundedMemory) {
    // A BMP of 70 bytes whose header declares 40000 x 40000 pixels (4.8 GB once decoded).
    ASSERT_TRUE(
        ordanatest::WriteImage(folder / "huge.bmp", 2, 2, [](int, int) { return Rgb(0, 0, 0); }));
    std::string bytes = ordanatest::ReadText(folder / "huge.bmp");
    bytes.replace(18, 8, std::string("\x40\x9c\0\0\x40\x9c\0\0", 8));
    WriteText(folder / "huge.bmp", bytes);
    // Pictures cut short, and files that are no picture.
    for (const std::string format : {"jpg", "bmp"}) {
        ASSERT_TRUE(ordanatest::WriteImage(folder / ("cut." + format), 64, 48, [](int x, int y) {
            return Rgb(x * 3, y * 5, (x * y) % 256);
        }));
        const std::string whole = ordanatest::ReadText(folder / ("cut." + format));
        WriteText(folder / ("cut." + format), whole.substr(0, whole.size() * 3 / 4));
    }
    // A tiled GeoTIFF cut short: its header lists blocks past the end of the file.
    testsupport::RasterContent tiled;
    tiled.width = 64;
    tiled.height = 48;
    tiled.bands = 3;
    tiled.samples.assign(3 * 64 * 48, 9.0);
    tiled.options = {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"};
    ASSERT_TRUE(testsupport::WriteRaster((folder / "cut.tif").string(), tiled));
    const std::string wholeTiff = ordanatest::ReadText(folder / "cut.tif");
    WriteText(folder / "cut.tif", wholeTiff.substr(0, wholeTiff.size() * 3 / 4));
    std::filesystem::create_directory(folder / "folder");
    WriteText(folder / "noisy.cct", "t\nmany!\x07" + std::string(500, 'x') + "\n");
    WriteText(folder / "long.cct", "t\n2\nleft\n" + std::string(70000, 'r') + "\n");

    const std::string run = " --wca --aws 5 --experiments 1";
    const std::string image = "Cannot read the image file ";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--image huge.bmp --file scene.cct" + run,
         image + "'huge.bmp': it is 40000 x 40000 pixels, more than the 268435456 an image may "
                 "have."},
        {"--image cut.jpg --file scene.cct" + run,
         image + "'cut.jpg': its data end before its pixels do (Premature end of JPEG file)."},
        {"--image cut.bmp --file scene.cct" + run,
         image + "'cut.bmp': its data end before its pixels do (the file holds 6952 of the "
                 "9270 bytes its header announces)."},
        {"--image cut.tif --file scene.cct" + run,
         image + "'cut.tif': its data end before its pixels do (the file holds "},
        {"--image folder --file scene.cct" + run, image + "'folder': it is a directory."},
        {"--image absent.png --file scene.cct" + run,
         image + "'absent.png': the file does not exist."},
        {"--image scene.cct --file scene.cct" + run,
         image + "'scene.cct': its format is not one of the image formats that can be read."},
        {"--image scene.png --file /dev/zero" + run,
         "The polygon file '/dev/zero', line 1: the line is longer than 65536 bytes."},
        {"--image scene.png --file long.cct" + run,
         "The polygon file 'long.cct', line 4: the line is longer than 65536 bytes."},
        {"--image scene.png --file folder" + run, "The polygon file 'folder' is a directory."},
        {"--image scene.png --file noisy.cct" + run,
         "The polygon file 'noisy.cct', line 2: expected the number of classes (a whole number "
         "of 0 or more), found 'many\\x21\\x07" +
             std::string(74, 'x') + "...'."},
        {"--image scene.png --file scene.cct --wca --experiments 1 --aws !5" + std::string(90, '5'),
         "the argument ('\\x21" + std::string(79, '5') + "...') for option '--aws' is invalid\n"},
        // The option library's own placeholders in a value are quoted, not replaced forever.
        {"--image scene.png --file scene.cct --wca --experiments 1 --aws %value%",
         "the argument ('\\x25value\\x25') for option '--aws' is invalid\n"},
        {"--image scene.png --file scene.cct" + run + " --dwt --wscale 1 --wws 8 --wname " +
             std::string(100, 'w'),
         "Invalid value for option '--wname': " + std::string(80, 'w') +
             "... (valid names: haar, db1, "},
    };
    const auto before = Names();
    for (const auto& [line, expected] : cases) {
        const auto result = Run(line, {rlim_t{512} << 20, 0});
        EXPECT_EQ(result.exitStatus, 2) << line;
        EXPECT_EQ(result.output.rfind("ordana: error: " + expected, 0), 0u) << result.output;
        EXPECT_EQ(result.output.find('\n'), result.output.size() - 1) << result.output;
        EXPECT_EQ(Names(), before) << line;
    }
}

// Inputs whose word alone would take the memory, each run in an address space of 300 MiB (of
// which the program's libraries map some 170 MiB): a window or a network of 2^31, model files
// whose sizes ask for more than the 10^7 values of any model (each classifier's own), model files
// whose tables disagree with their sizes, a model that is no file, a 16384 x 16384 PNG holding 8
// rows and a JPEG declaring that size with 16 x 16 pixels of data; each ends with status 2 and the
// message naming the file or option, leaving nothing. A valid picture of 7000 x 7000 (147 MB of
// levels, more than the space left) is described and classified within the same space.
TEST_F(BadInputProgramTest, MemoryIsTakenForWhatTheInputHoldsNotForWhatItDeclares) {
    const std::string trained = TrainedModel();
    ASSERT_FALSE(trained.empty());
    const auto colour = [](std::uint32_t y) {
        return std::array<unsigned char, 3>{static_cast<unsigned char>(y / 8), 90, 160};
    };
    ASSERT_TRUE(
        testsupport::WriteRowColouredPng((folder / "cut.png").string(), 16384, 16384, 8, colour));
    // A JPEG of 16 x 16 pixels whose frame header is made to say 16384 x 16384, its end marker
    // cut off.
    ASSERT_TRUE(ordanatest::WriteImage(folder / "cut.jpg", 16, 16,
                                       [](int x, int y) { return Rgb(x * 16, y * 16, 99); }));
    std::string jpeg = ordanatest::ReadText(folder / "cut.jpg");
    const auto frame = jpeg.find("\xff\xc0");
    ASSERT_NE(frame, std::string::npos);
    jpeg.replace(frame + 5, 4, "\x40\x00\x40\x00", 4);
    WriteText(folder / "cut.jpg", jpeg.substr(0, jpeg.size() - 2));
    ASSERT_TRUE(testsupport::WriteRowColouredPng((folder / "large.png").string(), 7000, 7000, 7000,
                                                 colour));
    ordanatest::WritePolygonFile(folder / "large.cct", {"top", "bottom"}, {"#f00", "#00f"},
                                 {{"top", ordanatest::Rectangle(100, 200, 400, 500)},
                                  {"bottom", ordanatest::Rectangle(6000, 6100, 6600, 6900)}});
    // Model files of each classifier whose sizes ask for too much, or disagree with their tables.
    const std::vector<std::pair<std::string, std::string>> models = {
        {"Multilayer Perceptron",
         R"("output_sizes": [4, 2000000000, 2], "firestrength_sizes": [4, 2000000000, 2])"},
        {"Adaptive Resonance Theory 2", R"("layer_sizes": [3, 3, 5000000])"},
        {"Self Organizing Map", R"("lattice_size": 2000, "problem_dimension": 3, "nodes": [])"},
        {"Learning Vector Quantization",
         R"("hidden_count": 4000000, "output_count": 2, "dimension": 3, "weights": [])"},
        {"Mahalanobis Distance", R"("class_count": 5000000, "dimension": 3, "means": [])"},
        {"Point K", R"("point_count": 5000000, "dimension": 3, "points": [[1, 2, 3]])"},
        {"Radial Basis Function Network",
         R"("min_data_values": [0, 0, 0], "max_data_values": [1, 1, 1], "widths": [1],)"
         R"( "centers": [[0, 0]], "weights": [[1, 1]], "tagged_classes": [])"},
        {"Learning Vector Quantization",
         R"("hidden_count": 4, "output_count": 2, "dimension": 3, "weights": [[0, 0, 0]])"},
    };
    for (std::size_t m = 0; m < models.size(); ++m) {
        WriteText(
            folder / ("model" + std::to_string(m) + ".json"),
            "{\"metadata\": {\"algorithm_name\": \"" + models[m].first +
                "\", \"classes\": [\"left\", \"right\"], \"colors\": [], "
                "\"feature_extraction_parameters\": \"--wca --aws 5\", \"window_size\": 5}, " +
                models[m].second + "}");
    }
    const auto damaged = [](int m, const std::string& owner, const std::string& problem) {
        return "The model file 'model" + std::to_string(m) + ".json' is damaged: " + owner +
               " configuration: " + problem;
    };
    const std::string tooMany = " values, more than the 10000000 a model may hold";
    const std::string experiment = " --wca --aws 5 --experiments 1";
    const std::string classify = " --sampling window --modelfile ";
    const std::string cutShort =
        "Cannot read the image file 'cut.png': it is damaged (libpng: Not enough image data).";
    struct Case {
        std::string line;
        int status;
        // The message a refused run starts with; for a run that completes, the start of a file
        // it must have written.
        std::string said;
    };
    const std::vector<Case> cases = {
        {"--image scene.png --file scene.cct --wca --experiments 1 --aws 2147483647", 2,
         "The 2147483647-pixel window of Windowed Color Average is larger than the image "
         "'scene.png' (64 x 48"},
        {"--image scene.png --file scene.cct" + experiment +
             " --mlp --mhidden 2000000000 --mlr 0.3 --mm 0.1 --merr 0.1 --miter 5",
         2,
         "Invalid value for option '--mhidden': 2000000000 (with 3 features the hidden layers "
         "need more than 10000000 weights)."},
        {"--image cut.png --file scene.cct" + experiment, 2, cutShort},
        {"--image cut.png" + classify + trained, 2, cutShort},
        // Decoded while the rows above the cut are classified.
        {"--image cut.png --write map" + classify + trained, 2, cutShort},
        {"--image cut.jpg --file scene.cct" + experiment, 2,
         "Cannot read the image file 'cut.jpg': its data end before its pixels do (Premature "
         "end of JPEG file)."},
        {"--image scene.png" + classify + "/dev/zero", 2,
         "The model file '/dev/zero' is not a regular file (a device, pipe or socket)."},
        {"--image scene.png" + classify + "model0.json", 2,
         damaged(0, "Multilayer perceptron",
                 "\"output_sizes\" describes more than 10000000 weights")},
        {"--image scene.png" + classify + "model1.json", 2,
         damaged(1, "Adaptive resonance theory 2",
                 "\"layer_sizes\" describes 5000000 x 3" + tooMany)},
        {"--image scene.png" + classify + "model2.json", 2,
         damaged(2, "Self organizing map", "\"lattice_size\" describes 4000000 x 3" + tooMany)},
        {"--image scene.png" + classify + "model3.json", 2,
         damaged(3, "Learning vector quantization", "\"weights\" describes 4000000 x 3" + tooMany)},
        {"--image scene.png" + classify + "model4.json", 2,
         damaged(4, "Mahalanobis distance", "\"means\" describes 5000000 x 3" + tooMany)},
        {"--image scene.png" + classify + "model5.json", 2,
         damaged(5, "Point K", "\"points\" describes 5000000 x 3" + tooMany)},
        {"--image scene.png" + classify + "model6.json", 2,
         damaged(6, "Radial basis function network", "\"centers[0]\" has 2 entries, expected 3")},
        {"--image scene.png" + classify + "model7.json", 2,
         damaged(7, "Learning vector quantization", "\"weights\" has 1 rows, expected 4")},
        {"--image large.png --file large.cct" + experiment, 0, "large.cct_"},
        {"--image large.png --region 0,0,1500,1500" + classify + trained, 0,
         "large_results_"},
    };
    const auto before = Names();
    for (const Case& test : cases) {
        const auto result = Run(test.line, {rlim_t{300} << 20, 0});
        EXPECT_EQ(result.exitStatus, test.status) << test.line << "\n" << result.output;
        std::vector<std::string> made;
        for (const std::string& name : Names()) {
            if (std::find(before.begin(), before.end(), name) == before.end()) {
                made.push_back(name);
                std::filesystem::remove(folder / name);
            }
        }
        if (test.status != 0) {
            EXPECT_EQ(result.output.rfind("ordana: error: " + test.said, 0), 0u)
                << test.line << "\n"
                << result.output;
            EXPECT_EQ(made, std::vector<std::string>{}) << test.line;
        } else {
            EXPECT_TRUE(std::any_of(made.begin(), made.end(), [&](const std::string& name) {
                return name.rfind(test.said, 0) == 0;
            })) << test.line;
        }
    }
}

// Files that cannot be written whole (past a file-size limit) end the run with status 1 and a
// message naming them, and leave nothing behind: the descriptor file of an experiment, the
// GeoPackage of a classification run (the first of its files to outgrow the limit).
TEST_F(BadInputProgramTest, FailedWritesLeaveNoFile) {
    const std::string model = TrainedModel();
    ASSERT_FALSE(model.empty());
    const std::vector<std::array<std::string, 3>> cases = {
        {"--image scene.png --file scene.cct --wca --aws 5 --experiments 1",
         "error: Writing the file 'scene.cct_", "' failed."},
        {"--image scene.png --sampling window --modelfile " + model,
         "error: Cannot write the GeoPackage 'scene_results_", ".gpkg'."}};
    const auto before = Names();
    for (const auto& [line, start, end] : cases) {
        const auto result = Run(line, {0, 256});
        EXPECT_EQ(result.exitStatus, 1) << line;
        const auto messages = ordanatest::ProblemLines(result.output);
        ASSERT_EQ(messages.size(), 1u) << result.output;
        EXPECT_EQ(messages[0].rfind(start, 0), 0u) << messages[0];
        EXPECT_TRUE(messages[0].ends_with(end)) << messages[0];
        EXPECT_EQ(Names(), before) << line;
    }
}

// A disk that fills part way through a run (every file limited to a size, so that the larger
// outputs fail while the smaller ones were written) leaves none of the run's files; a run that
// completes leaves its whole set.
TEST_F(BadInputProgramTest, RunsThatFailPartWayLeaveNothing) {
    const std::string model = TrainedModel();
    ASSERT_FALSE(model.empty());
    const std::vector<std::string> lines = {
        "--image scene.png --file scene.cct --wca --aws 5 --experiments 2 --mlp --mhidden 4 "
        "--mlr 0.3 --mm 0.1 --merr 0.1 --miter 5",
        "--image scene.png --sampling window --modelfile " + model};
    const auto before = Names();
    int failed = 0;
    int completed = 0;
    for (const std::string& line : lines) {
        for (const rlim_t limit : {rlim_t{600}, rlim_t{2000}, rlim_t{6000}, rlim_t{20000},
                                   rlim_t{60000}, rlim_t{200000}, rlim_t{0}}) {
            const auto result = Run(line, {0, limit});
            if (result.exitStatus == 0) {
                ++completed;
                EXPECT_GT(Names().size(), before.size()) << line << " " << limit;
            } else {
                ++failed;
                EXPECT_EQ(result.exitStatus, 1) << line << " " << limit << result.output;
                EXPECT_EQ(Names(), before) << line << " " << limit << result.output;
            }
            for (const auto& name : Names()) {
                if (std::find(before.begin(), before.end(), name) == before.end()) {
                    std::filesystem::remove(folder / name);
                }
            }
        }
    }
    // The limits reach from the first file failing to none failing, in both workflows.
    EXPECT_GE(failed, 4);
    EXPECT_GE(completed, 2);
}

// Memory that runs out is no input error: the run ends with status 1 and says so. A model of a
// million numbers cannot be held within 40 MiB beyond what the program's libraries map.
TEST_F(BadInputProgramTest, RunningOutOfMemoryEndsWithStatusOne) {
    if (!testsupport::kAddressSpaceLimitWorks) {
        GTEST_SKIP() << "the sanitizers' address space cannot be limited";
    }
    std::string model =
        "{\"metadata\": {\"algorithm_name\": \"Multilayer Perceptron\", \"classes\": [\"a\"], "
        "\"colors\": [], \"feature_extraction_parameters\": \"--wca --aws 5\", \"window_size\": "
        "5}, \"weights\": [";
    for (int i = 0; i < 1000000; ++i) {
        model += "0.5,";
    }
    WriteText(folder / "big.mlp", model + "0.5]}");
    const auto before = Names();
    const auto result = Run("--image scene.png --modelfile big.mlp --sampling window",
                            {testsupport::SharedLibraryAddressSpace() + (rlim_t{40} << 20), 0});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output,
              "ordana: error: The run needs more memory than this machine gives it.\n");
    EXPECT_EQ(Names(), before);
}

// An image read otherwise than as a plain picture says once which bands and stretches it was
// read with (a plain RGBA picture says nothing); nothing of the image libraries' own reaches
// the output.
TEST_F(BadInputProgramTest, ImagesReadOtherwiseThanPlainPicturesSaySoOnce) {
    testsupport::RasterContent alpha;
    alpha.width = 64;
    alpha.height = 48;
    alpha.bands = 4;
    alpha.samples.assign(4 * 64 * 48, 0.0);
    alpha.colours = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand, GCI_AlphaBand};
    ASSERT_TRUE(testsupport::WriteRaster((folder / "alpha.tif").string(), alpha));
    testsupport::RasterContent deep;
    deep.driver = "PNG";
    deep.width = 64;
    deep.height = 48;
    deep.type = GDT_UInt16;
    deep.samples.assign(64 * 48, 700.0);
    ASSERT_TRUE(testsupport::WriteRaster((folder / "deep.png").string(), deep));
    for (const auto& [image, said] : std::vector<std::pair<std::string, std::string>>{
             {"alpha.tif", ""},
             {"deep.png", "bands 1, 1, 1 of 1, band 1 stretched from 700 to 700"}}) {
        const auto result = Run(
            "--image " + image + " --file scene.cct --wca --aws 5 --experiments 0 --chatty true",
            {});
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        EXPECT_EQ(result.output.find("TIFF"), std::string::npos) << result.output;
        std::vector<std::string> reads;
        for (const std::string& line : ordanatest::Payloads(result.output, "LOGMESSAGE")) {
            if (line.find("is read as") != std::string::npos) {
                reads.push_back(line);
            }
        }
        EXPECT_EQ(reads, said.empty() ? std::vector<std::string>{}
                                      : std::vector<std::string>{"The image '" + image +
                                                                 "' is read as " + said + "."});
    }
}

}  // namespace
