#include "ordana/WindowFileWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"

namespace {

using velkar::ordana::WindowFileWriter;

// A results file whose window section is copied from the segmentation file equals one whose
// corners are formatted; label lines given in blocks equal labels given one at a time, the
// ones past the window count left out.
TEST(WindowFileWriterTest, CopiedCornersAndBlocksOfLabelsGiveTheFormattedFile) {
    ordanatest::TemporaryFolder folder;
    const std::vector<std::string> classes{"field", "", "forest"};
    const std::vector<std::string> colours{"#00ff00"};
    const std::size_t windowCount = 11;
    const auto origin = [](std::size_t i) {
        return std::make_pair(static_cast<int>(i % 4) * 95, static_cast<int>(i / 4) * 1000);
    };
    const auto segmentation = WindowFileWriter((folder / "processing.cct").string(), "scene.png",
                                               classes, colours, windowCount)
                                  .Finish(100, origin);

    WindowFileWriter formatted((folder / "formatted.cct").string(), "scene.png", classes, colours,
                               windowCount);
    for (const char* label : {"field", "", "forest", "forest", "field"}) {
        formatted.AddLabel(label);
    }
    const std::string expected = formatted.Finish(100, origin).path;

    WindowFileWriter copied((folder / "copied.cct").string(), "scene.png", classes, colours,
                            windowCount);
    copied.AddLabelLines("field\nunknown\n", 2);
    copied.AddLabelLines("forest\nforest\nfield\n", 3);
    const std::string actual = copied.FinishWithCornersOf(segmentation);
    EXPECT_EQ(ordanatest::ReadText(actual), ordanatest::ReadText(expected));

    WindowFileWriter capped((folder / "capped.cct").string(), "scene.png", classes, colours, 2);
    capped.AddLabelLines("field\nforest\nfield\n", 3);
    const std::string cappedFile = capped.Finish(100, origin).path;
    const std::string text = ordanatest::ReadText(cappedFile);
    EXPECT_NE(text.find("2\nfield\nforest\n2\n4\n"), std::string::npos) << text;
}

// A segmentation file that no longer has the length it was written with is not copied from:
// the results are refused and leave no file.
TEST(WindowFileWriterTest, ChangedSegmentationFileIsNotCopied) {
    ordanatest::TemporaryFolder folder;
    const auto origin = [](std::size_t i) { return std::make_pair(static_cast<int>(i), 0); };
    const auto segmentation =
        WindowFileWriter((folder / "processing.cct").string(), "scene.png", {"a"}, {}, 3)
            .Finish(2, origin);
    std::filesystem::resize_file(segmentation.path, segmentation.end - 1);
    {
        WindowFileWriter results((folder / "results.cct").string(), "scene.png", {"a"}, {}, 3);
        EXPECT_THROW(results.FinishWithCornersOf(segmentation), std::runtime_error);
    }
    EXPECT_EQ(folder.FileNames(), (std::vector<std::string>{"processing.cct"}));
}

}  // namespace
