// Reading a file from the top in strips gives what one read of the whole file gives: ReadWhole
// the same levels and mask, DecodedRasterFile the same rectangles in any order; files of several
// strips and column blocks, masks that turn up in a later strip only, palettes, grey + alpha,
// deep samples and a tall picture whose blocks are read back in parts. A
// picture whose data stop early is refused with its reason within memory far below its size.

#include "velkar/imageprocessing/DecodedRasterFile.h"

#include <gtest/gtest.h>

#include "common/ChildProcess.h"
#include "common/PngFiles.h"
#include "common/RasterFiles.h"
#include "common/TemporaryFolder.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using velkar::imageprocessing::DecodedRasterFile;
using velkar::imageprocessing::ImageFileSystem;
using velkar::imageprocessing::RasterFile;

// Whether two images hold the same levels and the same absent pixels (no mask: none absent),
// with the same origin and georeference.
::testing::AssertionResult SameImage(const ImageFileSystem& expected, const ImageFileSystem& got) {
    if (expected.Width() != got.Width() || expected.Height() != got.Height() ||
        expected.BandCount() != got.BandCount() || expected.OriginX() != got.OriginX() ||
        expected.OriginY() != got.OriginY() ||
        expected.GetGeoreference().geoTransform != got.GetGeoreference().geoTransform) {
        return ::testing::AssertionFailure() << "sizes, bands, origins or georeferences differ";
    }
    for (int y = 0; y < got.Height(); ++y) {
        for (int x = 0; x < got.Width(); ++x) {
            if (expected.IsAbsent(x, y) != got.IsAbsent(x, y)) {
                return ::testing::AssertionFailure() << "absent differs at " << x << ", " << y;
            }
            for (int b = 0; b < got.BandCount(); ++b) {
                if (expected.Pixel(x, y, b) != got.Pixel(x, y, b)) {
                    return ::testing::AssertionFailure()
                           << "level differs at " << x << ", " << y << ", band " << b;
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The rectangle of a whole image.
std::shared_ptr<ImageFileSystem> CutOf(const ImageFileSystem& whole,
                                       const RasterFile::Rectangle& r) {
    auto part = ImageFileSystem::Create(whole.Filename(), r.width, r.height, whole.BandCount());
    std::vector<unsigned char> absent(whole.HasMask() ? static_cast<std::size_t>(r.width) * r.height
                                                      : 0);
    for (int y = 0; y < r.height; ++y) {
        for (int x = 0; x < r.width; ++x) {
            for (int b = 0; b < whole.BandCount(); ++b) {
                part->SetPixel(x, y, b, whole.Pixel(r.x + x, r.y + y, b));
            }
            if (!absent.empty()) {
                absent[static_cast<std::size_t>(y) * r.width + x] =
                    whole.IsAbsent(r.x + x, r.y + y);
            }
        }
    }
    part->SetMask(std::move(absent));
    part->SetGeoreference(whole.GetGeoreference());
    part->SetOrigin(r.x, r.y);
    return part;
}

TEST(DecodedRasterFileTest, StripsFromTheTopGiveTheWholeFile) {
    testsupport::TemporaryFolder folder;
    std::mt19937 random(30);
    const auto levels = [&random](std::size_t count, int top) {
        std::vector<double> samples(count);
        for (double& sample : samples) {
            sample = static_cast<double>(random() % static_cast<unsigned>(top + 1));
        }
        return samples;
    };
    struct Case {
        std::string name;
        testsupport::RasterContent content;
    };
    std::vector<Case> cases;
    {
        // 1100 x 1300 x 3 levels: two strips.
        auto rgb = testsupport::RasterOf("PNG", 1100, 1300, 3, GDT_Byte);
        rgb.samples = levels(3u * 1100 * 1300, 255);
        cases.push_back({"rgb.png", rgb});
        auto greyAlpha = testsupport::RasterOf("PNG", 97, 61, 2, GDT_Byte);
        greyAlpha.samples = levels(2u * 97 * 61, 255);
        greyAlpha.colours = {GCI_GrayIndex, GCI_AlphaBand};
        cases.push_back({"grey-alpha.png", greyAlpha});
        auto palette = testsupport::RasterOf("PNG", 80, 50, 1, GDT_Byte);
        palette.samples = levels(80u * 50, 3);
        palette.palette = {{10, 20, 30}, {200, 0, 0}, {0, 255, 7}, {90, 90, 91}};
        cases.push_back({"palette.png", palette});
        auto deep = testsupport::RasterOf("PNG", 70, 45, 1, GDT_UInt16);
        deep.samples = levels(70u * 45, 65535);
        cases.push_back({"deep.png", deep});
        auto noData = testsupport::RasterOf("GTiff", 64, 40, 1, GDT_Byte);
        noData.noData = 0.0;
        noData.samples = levels(64u * 40, 5);
        noData.geoTransform = std::array<double, 6>{500000.0, 10.0, 0.0, 4100000.0, 0.0, -10.0};
        cases.push_back({"nodata.tif", noData});
        // 4100 x 1100 levels of one band: two strips, the second alone holding absent pixels.
        auto floats = testsupport::RasterOf("GTiff", 4100, 1100, 1, GDT_Float32);
        floats.samples = levels(4100u * 1100, 1000);
        for (std::size_t i = 4100u * 1050; i < floats.samples.size(); i += 37) {
            floats.samples[i] = std::numeric_limits<double>::quiet_NaN();
        }
        cases.push_back({"floats.tif", floats});
        // A tall grey picture: its columns' blocks are read back a part of their rows at a time.
        auto tall = testsupport::RasterOf("PNG", 70, 5000, 1, GDT_Byte);
        tall.samples = levels(70u * 5000, 255);
        cases.push_back({"tall.png", tall});
    }
    for (const Case& test : cases) {
        const std::string path = folder.Path() / test.name;
        ASSERT_TRUE(testsupport::WriteRaster(path, test.content)) << test.name;
        const RasterFile file(path);
        auto bands = file.DefaultBands();
        file.FillStretches(bands);
        const auto whole = file.Read(file.Whole(), bands);
        // Read in one call, and from the top in strips however small the file is.
        for (const long long oneCallLevels : {RasterFile::kOneCallLevels, 0LL}) {
            const auto read = file.ReadWhole(bands, oneCallLevels);
            EXPECT_TRUE(SameImage(*whole, *read)) << test.name << " " << oneCallLevels;
            EXPECT_EQ(read->HasMask(), whole->HasMask()) << test.name << " " << oneCallLevels;
        }
        const DecodedRasterFile decoded(file, bands);
        EXPECT_EQ(decoded.HasMask(), whole->HasMask()) << test.name;
        // Read while a second file, of its own RasterFile, still decodes in the background.
        const RasterFile sameFile(path);
        const DecodedRasterFile background(sameFile, bands, DecodedRasterFile::InBackground{});
        for (int trial = 0; trial < 12; ++trial) {
            RasterFile::Rectangle area;
            area.x = static_cast<int>(random() % static_cast<unsigned>(file.Width()));
            area.y = static_cast<int>(random() % static_cast<unsigned>(file.Height()));
            area.width =
                1 + static_cast<int>(random() % static_cast<unsigned>(file.Width() - area.x));
            area.height =
                1 + static_cast<int>(random() % static_cast<unsigned>(file.Height() - area.y));
            const auto expected = CutOf(*whole, area);
            EXPECT_TRUE(SameImage(*expected, *decoded.Read(area)))
                << test.name << " at " << area.x << ", " << area.y << ", " << area.width << " x "
                << area.height;
            EXPECT_TRUE(SameImage(*expected, *background.Read(area)))
                << test.name << " in the background at " << area.x << ", " << area.y;
        }
        EXPECT_THROW(decoded.Read({1, 0, file.Width(), 1}), std::invalid_argument) << test.name;
    }
}

// A 16384 x 16384 picture (805 MB of levels) whose data stop after 8 rows is refused for that,
// in an address space 64 MiB above what the test uses, both read whole and decoded to a file;
// the same picture given whole is read to the end in that space by DecodedRasterFile.
TEST(DecodedRasterFileTest, PicturesCutShortAreRefusedBeforeMemoryOfTheirSize) {
    if (!testsupport::kAddressSpaceLimitWorks) {
        GTEST_SKIP() << "the sanitizers' address space cannot be limited";
    }
    testsupport::TemporaryFolder folder;
    const auto colour = [](std::uint32_t y) {
        return std::array<unsigned char, 3>{static_cast<unsigned char>(y), 7, 200};
    };
    const std::string cut = folder.Path() / "cut.png";
    const std::string whole = folder.Path() / "whole.png";
    ASSERT_TRUE(testsupport::WriteRowColouredPng(cut, 16384, 16384, 8, colour));
    ASSERT_TRUE(testsupport::WriteRowColouredPng(whole, 6000, 6000, 6000, colour));
    const testsupport::ResourceLimits limits{testsupport::AddressSpaceInUse() + (rlim_t{64} << 20),
                                             0};
    const auto loaded = testsupport::RunInChild(limits, [&] {
        std::cout << ImageFileSystem(cut).LoadError();
        return 0;
    });
    EXPECT_EQ(loaded.output, "it is damaged (libpng: Not enough image data)");
    const auto decoded = testsupport::RunInChild(limits, [&] {
        const RasterFile file(cut);
        try {
            DecodedRasterFile spilled(file, file.DefaultBands());
        } catch (const RasterFile::Error& error) {
            std::cout << error.Reason();
        }
        return 0;
    });
    EXPECT_EQ(decoded.output, "it is damaged (libpng: Not enough image data)");
    // Decoded in the background, every read of rows the decoding did not reach gives the
    // reason (the cut lies in the first strip); a file dropped while it decodes stops the
    // decoding.
    const auto background = testsupport::RunInChild(limits, [&] {
        const RasterFile file(cut);
        const DecodedRasterFile spilled(file, file.DefaultBands(),
                                        DecodedRasterFile::InBackground{});
        for (const int top : {0, 9000}) {
            try {
                spilled.Read({0, top, 5, 5});
            } catch (const RasterFile::Error& error) {
                std::cout << error.Reason() << ";";
            }
        }
        const RasterFile large(whole);
        const DecodedRasterFile dropped(large, large.DefaultBands(),
                                        DecodedRasterFile::InBackground{});
        return 0;
    });
    EXPECT_EQ(background.output, "it is damaged (libpng: Not enough image data);it is damaged "
                                 "(libpng: Not enough image data);");
    const auto read = testsupport::RunInChild(limits, [&] {
        const RasterFile file(whole);
        DecodedRasterFile spilled(file, file.DefaultBands());
        const auto corner = spilled.Read({5990, 5000, 10, 3});
        std::cout << int(corner->Pixel(9, 2, 0)) << " " << int(corner->Pixel(0, 0, 2));
        return 0;
    });
    EXPECT_EQ(read.output, std::to_string(5002 % 256) + " 200");
}

}  // namespace
