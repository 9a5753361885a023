// The radial basis function network, ART2 and the self-organizing map through the program:
// experiments on a red/blue scene write a model, which then labels a scene of another layout.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "ordana/ModelFile.h"
#include "ordana/PolygonFile.h"
#include "velkar/util/Map.h"

namespace {

using ordanatest::ReadLines;
using ordanatest::Rectangle;
using ordanatest::Rgb;

velkar::imageprocessing::Pixel Red(int x, int y) { return Rgb(200 + (x * 3 + y * 5) % 20, 30, 40); }
velkar::imageprocessing::Pixel Blue(int x, int y) { return Rgb(30, 40 + (x * 11 + y) % 20, 200); }

struct NetworkCase {
    std::vector<std::string> options;
    std::string extension;
    std::string name;
    // A key only this classifier's model holds.
    std::string ownKey;
};

class NetworkClassifierProgramTest : public testing::TestWithParam<NetworkCase> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ordanatest::WriteImage(folder / "training.png", 60, 40, [](int x, int y) {
            return x < 30 ? Red(x, y) : Blue(x, y);
        }));
        ordanatest::WritePolygonFile(
            folder / "training.cct", {"red", "blue"}, {"#ff0000", "#0000ff"},
            {{"red", Rectangle(0, 0, 30, 40)}, {"blue", Rectangle(30, 0, 60, 40)}});
        // Blue above, red below: another layout than the training scene.
        std::filesystem::create_directory(folder / "new");
        ASSERT_TRUE(ordanatest::WriteImage(folder / "new" / "scene.png", 60, 40, [](int x, int y) {
            return y < 20 ? Blue(x, y) : Red(x, y);
        }));
    }

    ordanatest::TemporaryFolder folder;
};

TEST_P(NetworkClassifierProgramTest, ExperimentsWriteAModelThatLabelsANewScene) {
    const NetworkCase& c = GetParam();
    std::vector<std::string> arguments = {"--image", (folder / "training.png").string(),
                                          "--file",  (folder / "training.cct").string(),
                                          "--wca",   "--aws",
                                          "5",       "--experiments",
                                          "2",       "--seed",
                                          "7"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    auto experiments = ordanatest::RunOrdana(arguments, folder.Path());
    ASSERT_EQ(experiments.exitStatus, 0) << experiments.output;
    EXPECT_TRUE(ordanatest::ProtocolLines(experiments.output).empty()) << experiments.output;

    const auto results = ordanatest::FilesWithExtension(folder.Path(), "wca-" + c.extension);
    ASSERT_EQ(results.size(), 1u) << experiments.output;
    const auto lines = ReadLines(results[0]);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[5].rfind("test global: ", 0), 0u) << lines[5];
    EXPECT_GE(std::stod(lines[5].substr(13)), 0.95) << lines[5];

    const auto models = ordanatest::FilesWithExtension(folder.Path(), c.extension);
    ASSERT_EQ(models.size(), 1u);
    auto model = velkar::ordana::ReadModelFile(models[0].string());
    EXPECT_TRUE(model->Exists(c.ownKey)) << c.ownKey;
    const velkar::util::Map& metadata = velkar::ordana::ModelMetadata(*model);
    EXPECT_EQ(*metadata.GetString("algorithm_name"), c.name);

    auto run = ordanatest::RunOrdana({"--image", (folder / "new" / "scene.png").string(),
                                      "--modelfile", models[0].string(), "--sampling", "window"},
                                     folder.Path());
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    const auto labelled = ordanatest::FilesWithExtension(folder / "new", "cct");
    ASSERT_EQ(labelled.size(), 1u) << run.output;
    const auto content = velkar::ordana::ReadPolygonFile(labelled[0].string(), true);
    ASSERT_EQ(content.polygons.size(), 96u);  // 12 x 8 windows of 5
    for (const auto& polygon : content.polygons) {
        const int y = polygon->Begin()->y();
        EXPECT_EQ(polygon->Class(), y < 20 ? "blue" : "red")
            << "window at " << polygon->Begin()->x() << " " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Networks, NetworkClassifierProgramTest,
    testing::Values(NetworkCase{{"--rbf", "--rlr", "0.1", "--rclusters", "4", "--riter", "40"},
                                "rbf",
                                "Radial Basis Function Network",
                                "widths"},
                    NetworkCase{{"--art2", "--a2f2", "6", "--a2a", "10", "--a2b", "10", "--a2c",
                                 "0.1", "--a2d", "0.9", "--a2theta", "0.1", "--a2rho", "0.9"},
                                "art2",
                                "Adaptive Resonance Theory 2",
                                "neuron_class_votes"},
                    NetworkCase{{"--som", "--slat", "4", "--sradt0", "0.5", "--slrt0", "0.5",
                                 "--siter", "300"},
                                "som",
                                "Self Organizing Map",
                                "nodes"}),
    [](const testing::TestParamInfo<NetworkCase>& info) { return info.param.extension; });

}  // namespace
