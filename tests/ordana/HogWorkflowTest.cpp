// The gradient-histogram workflow of the program: a model trained on striped regions, one
// descriptor per region, classifies the windows of a new striped image.

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

using ordanatest::LabelledPolygon;
using ordanatest::Rectangle;
using ordanatest::Rgb;
using ordanatest::TemporaryFolder;

// Stripes across x ("vertical", changing with x) or across y ("horizontal") of the given
// period, with a little texture so that no two regions are alike.
velkar::imageprocessing::Pixel Stripes(bool vertical, int period, int x, int y) {
    const int along = vertical ? x : y;
    const int base = (along / period) % 2 == 0 ? 220 : 40;
    const int texture = (x * 7 + y * 13) % 11;
    return Rgb(base - texture, base - texture / 2, base - texture);
}

TEST(HogWorkflowTest, StripedModelClassifiesANewStripedImage) {
    TemporaryFolder folder;
    // Sixteen 32 x 32 regions in a 4 x 4 grid, the two stripe directions alternating like a
    // chess board, each region with its own period.
    ASSERT_TRUE(ordanatest::WriteImage(folder / "training.png", 128, 128, [](int x, int y) {
        const int cellX = x / 32;
        const int cellY = y / 32;
        return Stripes((cellX + cellY) % 2 == 0, 2 + (cellX + 2 * cellY) % 3, x, y);
    }));
    std::vector<LabelledPolygon> regions;
    for (int cellX = 0; cellX < 4; ++cellX) {
        for (int cellY = 0; cellY < 4; ++cellY) {
            regions.push_back(
                {(cellX + cellY) % 2 == 0 ? "vertical" : "horizontal",
                 Rectangle(cellX * 32, cellY * 32, cellX * 32 + 32, cellY * 32 + 32)});
        }
    }
    ordanatest::WritePolygonFile(folder / "training.cct", {"vertical", "horizontal"},
                                 {"#ff0000", "#0000ff"}, regions);
    auto training = ordanatest::RunOrdana({"--image",   (folder / "training.png").string(),
                                           "--file",    (folder / "training.cct").string(),
                                           "--hog",     "--hwx",
                                           "2",         "--hwy",
                                           "2",         "--hbind",
                                           "6",         "--experiments",
                                           "3",         "--mlp",
                                           "--mhidden", "4",
                                           "--mlr",     "0.3",
                                           "--mm",      "0.1",
                                           "--merr",    "0.001",
                                           "--miter",   "300",
                                           "--seed",    "3"},
                                          folder.Path());
    ASSERT_EQ(training.exitStatus, 0) << training.output;
    const auto models = ordanatest::FilesWithExtension(folder.Path(), "mlp");
    ASSERT_EQ(models.size(), 1u) << training.output;
    const auto model = velkar::ordana::ReadModelFile(models[0].string());
    const velkar::util::Map& metadata = velkar::ordana::ModelMetadata(*model);
    EXPECT_EQ(*metadata.GetString("feature_extraction_parameters"),
              "--hog --hwx 2 --hwy 2 --hbind 6");
    // The regions' side, not the block count: new images are cut into regions of that size.
    EXPECT_EQ(*metadata.GetInt("window_size"), 32);

    // Vertical stripes left of x = 64, horizontal ones right of it, with other periods.
    std::filesystem::create_directory(folder / "scene");
    ASSERT_TRUE(ordanatest::WriteImage(folder / "scene" / "scene.png", 128, 96, [](int x, int y) {
        return Stripes(x < 64, x < 64 ? 3 : 4, x, y);
    }));
    for (const auto& [sampling, windows] :
         std::vector<std::pair<std::string, std::size_t>>{{"window", 12}, {"half", 35}}) {
        TemporaryFolder work;
        auto run = ordanatest::RunOrdana(
            {"--image", (folder / "scene" / "scene.png").string(), "--modelfile",
             models[0].string(), "--sampling", sampling, "--chatty", "true"},
            work.Path());
        ASSERT_EQ(run.exitStatus, 0) << run.output;
        const auto status = ordanatest::Payloads(run.output, "STATUS");
        ASSERT_EQ(status.size(), 1u) << run.output;
        const auto content = velkar::ordana::ReadPolygonFile(status[0], true);
        ASSERT_EQ(content.polygons.size(), windows) << sampling;
        int checked = 0;
        for (const auto& polygon : content.polygons) {
            const int x = polygon->Begin()->x();
            if (x < 64 && x + 32 > 64) {
                continue;  // straddles both stripe directions
            }
            ++checked;
            EXPECT_EQ(polygon->Class(), x < 64 ? "vertical" : "horizontal")
                << sampling << " window at " << x << " " << polygon->Begin()->y();
        }
        EXPECT_EQ(checked, sampling == "window" ? 12 : 30);
        std::filesystem::remove(status[0]);
    }
}

}  // namespace
