// The program under inputs that would take its memory, hold no usable data or try to break its
// log lines: each run is refused with one message naming the file (and line) or the size, exits
// with status 2 (1 when memory runs out), and writes no file.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <FreeImagePlus.h>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"

namespace {

using ordanatest::Payloads;
using ordanatest::Rectangle;
using ordanatest::Rgb;
using ordanatest::TemporaryFolder;
using ordanatest::WriteText;

class BadInputProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ordanatest::WriteImage(folder / "scene.png", 40, 30,
                                           [](int x, int y) { return Rgb(x * 5, y * 7, 90); }));
        ordanatest::WritePolygonFile(
            folder / "scene.cct", {"left", "right"}, {"#f00", "#00f"},
            {{"left", Rectangle(0, 0, 20, 30)}, {"right", Rectangle(20, 0, 40, 30)}});
    }

    std::vector<std::string> Names() const {
        std::vector<std::string> names = folder.FileNames();
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string Path(const std::string& name) const { return (folder / name).string(); }

    TemporaryFolder folder;
};

struct Case {
    std::string image;
    std::string polygons;
    std::string expected;
};

TEST_F(BadInputProgramTest, InputsAreRefusedByNameWithinBoundedMemory) {
    // A PNG of 69 bytes whose header declares 40000 x 40000 pixels (4.8 GB once decoded).
    {
        fipImage small(FIT_BITMAP, 2, 2, 24);
        ASSERT_TRUE(small.save(Path("huge.png").c_str(), 0));
        std::string bytes = ordanatest::ReadText(Path("huge.png"));
        const unsigned char declared[] = {0, 0, 0x9c, 0x40, 0, 0, 0x9c, 0x40};
        bytes.replace(16, 8, reinterpret_cast<const char*>(declared), 8);
        // The IHDR checksum over its type and data, bit by bit.
        unsigned crc = 0xffffffffu;
        for (std::size_t i = 12; i < 29; ++i) {
            crc ^= static_cast<unsigned char>(bytes[i]);
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
            }
        }
        crc = ~crc;
        for (int k = 0; k < 4; ++k) {
            bytes[29 + static_cast<std::size_t>(k)] = static_cast<char>(crc >> (24 - 8 * k));
        }
        WriteText(Path("huge.png"), bytes);
    }
    // A photograph cut short.
    ASSERT_TRUE(ordanatest::WriteImage(folder / "photo.jpg", 64, 48, [](int x, int y) {
        return Rgb(x * 3, y * 5, (x * y) % 256);
    }));
    const std::string photo = ordanatest::ReadText(Path("photo.jpg"));
    WriteText(Path("cut.jpg"), photo.substr(0, photo.size() / 2));
    std::filesystem::create_directory(folder / "folder");
    // A count line that tries to end the log line early and to fill the screen.
    WriteText(Path("noisy.cct"), "t\nmany!\x07" + std::string(500, 'x') + "\n");
    WriteText(Path("long.cct"), "t\n2\nleft\n" + std::string(70000, 'r') + "\n");

    const std::vector<Case> cases = {
        {"huge.png", "scene.cct",
         "Cannot read the image file 'huge.png': it is 40000 x 40000 pixels, more than the "
         "268435456 an image may have."},
        {"cut.jpg", "scene.cct",
         "Cannot read the image file 'cut.jpg': its data end before its pixels do (Premature end "
         "of JPEG file)."},
        {"folder", "scene.cct", "Cannot read the image file 'folder': it is a directory."},
        {"absent.png", "scene.cct",
         "Cannot read the image file 'absent.png': the file does not exist."},
        {"scene.cct", "scene.cct",
         "Cannot read the image file 'scene.cct': its format is not one of the image formats "
         "that can be read."},
        {"scene.png", "/dev/zero",
         "The polygon file '/dev/zero', line 1: the line is longer than 65536 bytes."},
        {"scene.png", "long.cct",
         "The polygon file 'long.cct', line 4: the line is longer than 65536 bytes."},
        {"scene.png", "folder", "The polygon file 'folder' is a directory."},
        {"scene.png", "noisy.cct",
         "The polygon file 'noisy.cct', line 2: expected the number of classes (a whole number "
         "of 0 or more), found 'many\\x21\\x07" +
             std::string(74, 'x') + "...'."},
    };
    const auto before = Names();
    for (const Case& bad : cases) {
        const auto result = ordanatest::RunOrdanaWithin(
            {rlim_t{512} << 20, 0},
            {"--image",       bad.image, "--file", bad.polygons, "--wca",   "--aws", "5",
             "--experiments", "1",       "--mlp",  "--mhidden",  "4",       "--mlr", "0.3",
             "--mm",          "0.1",     "--merr", "0.1",        "--miter", "5"},
            folder.Path());
        EXPECT_EQ(result.exitStatus, 2) << bad.image << " " << bad.polygons;
        EXPECT_EQ(result.output, "[LOGMESSAGE] !" + bad.expected + "!\n");
        EXPECT_EQ(Names(), before) << bad.image << " " << bad.polygons;
    }
}

// A descriptor file that cannot be written whole (past a file-size limit) ends the run with
// status 1, naming the file, and leaves nothing behind.
TEST_F(BadInputProgramTest, FailedWriteOfADescriptorFileLeavesNoFile) {
    const auto before = Names();
    const auto result = ordanatest::RunOrdanaWithin({0, 256},
                                                    {"--image", "scene.png", "--file", "scene.cct",
                                                     "--wca", "--aws", "5", "--experiments", "1"},
                                                    folder.Path());
    EXPECT_EQ(result.exitStatus, 1) << result.output;
    const auto messages = Payloads(result.output, "LOGMESSAGE");
    ASSERT_EQ(messages.size(), 1u) << result.output;
    EXPECT_EQ(messages[0].rfind("Writing the file 'scene.cct_", 0), 0u) << messages[0];
    EXPECT_TRUE(messages[0].ends_with(".wca' failed.")) << messages[0];
    EXPECT_EQ(Names(), before);
}

// Files with more than three bands or more than 8 bits per sample are read as 8-bit RGB, said
// once with the file's name.
TEST_F(BadInputProgramTest, ImagesBeyondThreeEightBitBandsAreReportedOnce) {
    fipImage alpha(FIT_BITMAP, 40, 30, 32);
    ASSERT_TRUE(alpha.save(Path("alpha.tif").c_str(), 0));
    fipImage deep(FIT_UINT16, 40, 30, 16);
    ASSERT_TRUE(deep.save(Path("deep.png").c_str(), 0));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"alpha.tif", "has 4 bands of 8 bits"},
        {"deep.png", "has 1 band of 16 bits"},
        {"scene.png", ""},
    };
    for (const auto& [image, layout] : cases) {
        TemporaryFolder work;
        std::filesystem::copy_file(folder / image, work / image);
        std::filesystem::copy_file(folder / "scene.cct", work / "scene.cct");
        const auto result = ordanatest::RunOrdana(
            {"--image", image, "--file", "scene.cct", "--wca", "--aws", "5", "--experiments", "0"},
            work.Path());
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        const auto messages = Payloads(result.output, "LOGMESSAGE");
        const auto reports = std::count_if(messages.begin(), messages.end(), [](const auto& m) {
            return m.find("8-bit RGB") != std::string::npos;
        });
        EXPECT_EQ(reports, layout.empty() ? 0 : 1) << result.output;
        if (!layout.empty()) {
            EXPECT_NE(result.output.find("The image file '" + image + "' " + layout +
                                         "; it is read as 8-bit RGB"),
                      std::string::npos)
                << result.output;
        }
    }
}

// Memory that runs out is no input error: the run ends with status 1 and says so. A model of a
// few million numbers cannot be held within the limit.
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
    model += "0.5]}";
    WriteText(Path("big.mlp"), model);
    const auto before = Names();
    const auto result = ordanatest::RunOrdanaWithin(
        {rlim_t{80} << 20, 0},
        {"--image", "scene.png", "--modelfile", "big.mlp", "--sampling", "window"}, folder.Path());
    EXPECT_EQ(result.exitStatus, 1) << result.output;
    EXPECT_EQ(result.output,
              "[LOGMESSAGE] !The run needs more memory than this machine gives it.!\n");
    EXPECT_EQ(Names(), before);
}

}  // namespace
