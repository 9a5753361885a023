// The parts and outputs of a classification run: regions of the image that join into the whole
// run, the outputs --write chooses, and runs ended by SIGINT or SIGTERM.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "ClassificationFixture.h"
#include "ordana/GridRegion.h"
#include "velkar/imageprocessing/ImageFileSystem.h"

namespace {

using ordanatest::ClassificationProgramTest;
using ordanatest::Payloads;
using ordanatest::ReadLines;
using velkar::imageprocessing::ImageFileSystem;
using velkar::ordana::GridRegion;

// The label lines and the window lines (counts and corners) of a window file.
struct WindowSections {
    std::vector<std::string> labels;
    std::vector<std::string> corners;
};

WindowSections ReadSections(const std::string& path) {
    const std::vector<std::string> lines = ReadLines(path);
    std::size_t at = 1;
    at += 1 + std::stoul(lines.at(at));
    at += 1 + std::stoul(lines.at(at));
    const std::size_t count = std::stoul(lines.at(at++));
    WindowSections sections;
    sections.labels.assign(lines.begin() + static_cast<long>(at),
                           lines.begin() + static_cast<long>(at + count));
    sections.corners.assign(lines.begin() + static_cast<long>(at + count), lines.end());
    return sections;
}

std::vector<std::string> Files(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ClassificationOutputsTest : public ClassificationProgramTest {
  protected:
    // Classifies the scene into a folder of its own; returns the [STATUS] file.
    std::string ClassifyInto(const std::string& name, std::vector<std::string> more) {
        std::filesystem::create_directory(folder / name);
        more.insert(more.end(), {"--output", (folder / name).string() + "/", "--chatty", "true"});
        const auto result = Classify(trainedModel, more);
        EXPECT_EQ(result.exitStatus, 0) << result.output << result.errors;
        const auto status = Payloads(result.output, "STATUS");
        return status.empty() ? "" : status[0];
    }
};

// Vertical strips of the image give labels and corners that concatenate into the whole run's;
// any tiling gives every window once with the whole run's label, and class maps that are the
// whole map's pixels over their map areas.
TEST_F(ClassificationOutputsTest, RegionsThatTileTheImageGiveTheWholeRun) {
    const std::vector<std::pair<std::string, int>> grids = {{"window", 5}, {"half", 2}, {"pixel", 1}};
    const std::vector<std::vector<int>> tilings = {{0, 17, 60}, {0, 23, 41, 60}};
    for (const auto& [method, step] : grids) {
        const std::string whole = ClassifyInto(method, {"--sampling", method});
        ASSERT_FALSE(whole.empty());
        const WindowSections wholeSections = ReadSections(whole);
        const ImageFileSystem wholeMap(whole.substr(0, whole.size() - 3) + "png");
        for (const auto& cuts : tilings) {
            for (const int rowCut : {40, 13}) {
                WindowSections joined;
                std::vector<std::string> pairs;
                for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
                    for (const auto& [top, height] :
                         std::vector<std::pair<int, int>>{{0, rowCut}, {rowCut, 40 - rowCut}}) {
                        if (height == 0) {
                            continue;
                        }
                        const GridRegion::Rectangle area{cuts[c], top, cuts[c + 1] - cuts[c],
                                                         height};
                        const std::string text = std::to_string(area.x) + "," +
                                                 std::to_string(area.y) + "," +
                                                 std::to_string(area.width) + "," +
                                                 std::to_string(area.height);
                        const std::string part = ClassifyInto(
                            method + text, {"--sampling", method, "--region", text});
                        ASSERT_FALSE(part.empty()) << text;
                        const WindowSections sections = ReadSections(part);
                        joined.labels.insert(joined.labels.end(), sections.labels.begin(),
                                             sections.labels.end());
                        joined.corners.insert(joined.corners.end(), sections.corners.begin() + 1,
                                              sections.corners.end());
                        for (std::size_t i = 0; i < sections.labels.size(); ++i) {
                            pairs.push_back(sections.corners[1 + 5 * i + 1] + " " +
                                            sections.labels[i]);
                        }
                        const ImageFileSystem map(part.substr(0, part.size() - 3) + "png");
                        const auto mapArea = GridRegion(area, 5, step, 60, 40).MapArea();
                        ASSERT_EQ(map.Width(), mapArea.width) << method << " " << text;
                        ASSERT_EQ(map.Height(), mapArea.height) << method << " " << text;
                        for (int x = 0; x < map.Width(); ++x) {
                            for (int y = 0; y < map.Height(); ++y) {
                                for (int band = 0; band < 3; ++band) {
                                    ASSERT_EQ(map.Pixel(x, y, band),
                                              wholeMap.Pixel(mapArea.x + x, mapArea.y + y, band))
                                        << method << " " << text << " at " << x << ", " << y;
                                }
                            }
                        }
                    }
                }
                std::vector<std::string> wholePairs;
                for (std::size_t i = 0; i < wholeSections.labels.size(); ++i) {
                    wholePairs.push_back(wholeSections.corners[1 + 5 * i + 1] + " " +
                                         wholeSections.labels[i]);
                }
                if (rowCut == 40) {
                    EXPECT_EQ(joined.labels, wholeSections.labels) << method;
                    EXPECT_EQ(joined.corners, std::vector<std::string>(
                                                  wholeSections.corners.begin() + 1,
                                                  wholeSections.corners.end()))
                        << method;
                }
                std::sort(pairs.begin(), pairs.end());
                std::sort(wholePairs.begin(), wholePairs.end());
                EXPECT_EQ(pairs, wholePairs) << method << " rows cut at " << rowCut;
            }
        }
    }
}

// The output a file of the run is ("grid", "labels", "map", "gpkg", "legend", "page"), by its
// name "scene_<processing or results>_<time>.<extension>"; empty for any other file.
std::string OutputOf(const std::string& file) {
    if (file.rfind("scene_processing_", 0) == 0 && file.ends_with(".cct")) {
        return "grid";
    }
    if (file.rfind("scene_results_", 0) != 0) {
        return "";
    }
    const std::vector<std::pair<std::string, std::string>> extensions = {
        {".cct", "labels"}, {".png", "map"},     {".gpkg", "gpkg"},
        {".legend", "legend"}, {".html", "page"}};
    for (const auto& [extension, output] : extensions) {
        if (file.ends_with(extension)) {
            return output;
        }
    }
    return "";
}

// Each selection writes its outputs and no other, the text ones with the same content as the
// full run's, and [STATUS] names the labels file, else the map, else the grid, else the first
// file written.
TEST_F(ClassificationOutputsTest, WriteChoosesTheOutputs) {
    const std::string full = ClassifyInto("full", {"--sampling", "half"});
    ASSERT_FALSE(full.empty());
    const std::filesystem::path fullFolder = std::filesystem::path(full).parent_path();
    std::map<std::string, std::string> fullFiles;
    for (const std::string& file : Files(fullFolder)) {
        fullFiles[OutputOf(file)] = file;
    }
    EXPECT_EQ(fullFiles.size(), 6u) << "the full run writes every output once";
    struct Case {
        std::string list;
        std::set<std::string> outputs;
        std::string status;
    };
    const std::vector<Case> cases = {
        {"grid,labels,map", {"grid", "labels", "map"}, "labels"},
        {"map", {"map"}, "map"},
        {"labels", {"labels"}, "labels"},
        {"grid", {"grid"}, "grid"},
        {"map,grid", {"grid", "map"}, "map"},
        {"labels,map", {"labels", "map"}, "labels"},
        {"gpkg", {"gpkg"}, "gpkg"},
        {"legend,page", {"legend", "page"}, "legend"},
        {"page,grid,gpkg", {"page", "grid", "gpkg"}, "grid"},
        {"grid,labels,map,gpkg,legend,page",
         {"grid", "labels", "map", "gpkg", "legend", "page"},
         "labels"},
    };
    for (const Case& test : cases) {
        const std::string name = "write-" + test.list;
        const std::string status = ClassifyInto(name, {"--sampling", "half", "--write", test.list});
        const std::filesystem::path written = folder / name;
        ASSERT_EQ(std::filesystem::path(status).parent_path(), written) << test.list;
        EXPECT_EQ(OutputOf(std::filesystem::path(status).filename().string()), test.status)
            << test.list << ": " << status;
        std::set<std::string> found;
        for (const std::string& file : Files(written)) {
            const std::string output = OutputOf(file);
            EXPECT_TRUE(test.outputs.count(output) == 1) << test.list << " wrote " << file;
            EXPECT_TRUE(found.insert(output).second) << test.list << " wrote two " << output;
            if (output == "grid" || output == "labels" || output == "legend") {
                EXPECT_EQ(ordanatest::ReadText(written / file),
                          ordanatest::ReadText(fullFolder / fullFiles[output]))
                    << test.list << ": " << file;
            }
        }
        EXPECT_EQ(found, test.outputs) << test.list;
    }
}

TEST_F(ClassificationOutputsTest, RefusedRegionsAndOutputListsWriteNothing) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--write", ""},          {"--write", "map,bogus"}, {"--write", "map,map"},
        {"--write", "labels,"},   {"--region", "0,0,61,1"}, {"--region", "1,2,3"},
        {"--region", "0,0,0,40"}, {"--region", "x"},
        // No window corner lies in these regions of the 60 x 40 scene on the window grid.
        {"--region", "56,0,4,40"}, {"--region", "1,1,4,4"}, {"--region", "0,36,60,4"},
    };
    for (const auto& [option, value] : cases) {
        std::filesystem::create_directory(folder / "refused");
        const auto result = Classify(trainedModel, {option, value, "--sampling", "window",
                                                    "--output", (folder / "refused/").string()});
        EXPECT_EQ(result.exitStatus, 2) << option << " " << value;
        EXPECT_NE((result.output + result.errors).find("'" + option + "'"), std::string::npos)
            << result.output << result.errors;
        EXPECT_TRUE(Files(folder / "refused").empty()) << option << " " << value;
    }
}

// A run stopped part way ends with 128 + the signal and leaves nothing: neither a temporary file
// nor the outputs it had finished (the classification's files on the pixel grid, the descriptor
// file of an experiment that is still training).
TEST_F(ClassificationOutputsTest, InterruptedRunsLeaveNothing) {
    const std::string image = (folder / "images" / "large.png").string();
    ASSERT_TRUE(ordanatest::WriteImage(image, 700, 700, [](int x, int y) {
        return (x / 50 + y / 50) % 2 == 0 ? ordanatest::Red(x, y) : ordanatest::Blue(x, y);
    }));
    const std::string polygons = (folder / "images" / "large.cct").string();
    ordanatest::WritePolygonFile(polygons, {"red", "blue"}, {"#ff0000", "#0000ff"},
                                 {{"red", ordanatest::Rectangle(0, 0, 50, 50)},
                                  {"blue", ordanatest::Rectangle(50, 0, 100, 50)}});
    struct Case {
        std::vector<std::string> arguments;
        // The signal comes once a file whose name holds this is there.
        std::string awaited;
    };
    const std::vector<Case> runs = {
        {{"--image", image, "--modelfile", trainedModel, "--sampling", "pixel"}, ".part-"},
        {{"--image", image, "--file", polygons, "--wca", "--aws", "5", "--experiments", "1",
          "--pntk", "--pkcc", "2", "--pkiter", "2000000000"},
         ".wca"},
    };
    for (std::size_t r = 0; r < runs.size(); ++r) {
        for (const auto& [signalNumber, status] :
             std::vector<std::pair<int, int>>{{SIGINT, 130}, {SIGTERM, 143}}) {
            const std::filesystem::path out =
                folder / ("stopped" + std::to_string(r) + "_" + std::to_string(signalNumber));
            std::filesystem::create_directory(out);
            std::vector<std::string> arguments = runs[r].arguments;
            arguments.insert(arguments.end(), {"--output", out.string() + "/"});
            std::vector<char*> argv = {const_cast<char*>(ORDANA_BINARY)};
            for (std::string& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                execv(ORDANA_BINARY, argv.data());
                _exit(127);
            }
            bool seen = false;
            for (int wait = 0; wait < 2000 && !seen; ++wait) {
                for (const std::string& file : Files(out)) {
                    seen = seen || file.find(runs[r].awaited) != std::string::npos;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            EXPECT_TRUE(seen) << r;
            kill(child, signalNumber);
            int childStatus = 0;
            ASSERT_EQ(waitpid(child, &childStatus, 0), child);
            ASSERT_TRUE(WIFEXITED(childStatus));
            EXPECT_EQ(WEXITSTATUS(childStatus), status) << r;
            EXPECT_EQ(Files(out), std::vector<std::string>{}) << r << " " << signalNumber;
        }
    }
}

}  // namespace
