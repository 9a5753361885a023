#include "velkar/imageprocessing/ImageMemory.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include "common/TemporaryFolder.h"

#include <array>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>

#include "velkar/imageprocessing/GdalMessages.h"
#include "velkar/imageprocessing/ImageFileSystem.h"

namespace {

using velkar::imageprocessing::ImageFileSystem;
using velkar::imageprocessing::ImageMemory;
using velkar::imageprocessing::Pixel;
using velkar::imageprocessing::save_image;
using Rgb = std::array<int, 3>;

class ImageMemoryTest : public ::testing::Test {
  protected:
    std::string PathOf(const std::string& name) const { return (folder / name).string(); }

    testsupport::TemporaryFolder folder;
};

// The colour GDAL decodes at column x of scanline `line` (counted from the bottom) of a saved
// file, which must hold red, green, blue and an opaque alpha band.
Rgb SavedColour(const std::string& path, int x, int line) {
    velkar::imageprocessing::GdalMessages quiet;
    GDALDatasetH file = GDALOpen(path.c_str(), GA_ReadOnly);
    if (file == nullptr || GDALGetRasterCount(file) != 4) {
        ADD_FAILURE() << "cannot load four bands from " << path;
        if (file != nullptr) {
            GDALClose(file);
        }
        return {-1, -1, -1};
    }
    const int y = GDALGetRasterYSize(file) - 1 - line;
    int samples[4] = {-1, -1, -1, -1};
    for (int band = 0; band < 4; ++band) {
        EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(file, band + 1), GF_Read, x, y, 1, 1,
                               &samples[band], 1, 1, GDT_Int32, 0, 0),
                  CE_None);
    }
    GDALClose(file);
    EXPECT_EQ(samples[3], 255) << "alpha at (" << x << ", " << line << ") of " << path;
    return {samples[0], samples[1], samples[2]};
}

TEST_F(ImageMemoryTest, NewImageIsZeroAndInterleavesBandsRowByRow) {
    ImageMemory<double> memory(4, 3, 2);
    EXPECT_EQ(memory.Width(), 4);
    EXPECT_EQ(memory.Height(), 3);
    EXPECT_EQ(memory.Bands(), 2);
    ASSERT_EQ(memory.Size(), 24u);
    for (std::size_t i = 0; i < memory.Size(); ++i) {
        EXPECT_EQ(memory.Data()[i], 0.0);
    }
    memory(3, 1, 1) = 0.75;
    memory(0, 2, 0) = 0.25;
    // (x + y * width) * bands + band
    EXPECT_EQ(memory.Data()[(3 + 1 * 4) * 2 + 1], 0.75);
    EXPECT_EQ(memory.Data()[(0 + 2 * 4) * 2 + 0], 0.25);
    EXPECT_EQ(memory.Index(3, 1, 1), 15u);
    EXPECT_EQ(memory.Index(3, 2, 1), memory.Size() - 1);
}

TEST_F(ImageMemoryTest, NegativeSizeIsRejected) {
    EXPECT_THROW(ImageMemory<double>(-1, 2, 3), std::invalid_argument);
    EXPECT_THROW(ImageMemory<double>(2, -1, 3), std::invalid_argument);
    EXPECT_THROW(ImageMemory<double>(2, 2, -3), std::invalid_argument);
}

TEST_F(ImageMemoryTest, CopyHasItsOwnValues) {
    ImageMemory<double> original(2, 2, 3);
    original(1, 1, 2) = 0.5;
    ImageMemory<double> copy(original);
    copy(1, 1, 2) = 0.9;
    EXPECT_EQ(original(1, 1, 2), 0.5);
    EXPECT_EQ(copy(1, 1, 2), 0.9);
}

TEST_F(ImageMemoryTest, FilledFromAnImageDividesEachComponentBy255) {
    auto image = ImageFileSystem::Create(PathOf("source.png"), 3, 2, 3);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            Pixel pixel;
            pixel[0] = static_cast<std::uint8_t>(50 * x + y);
            pixel[1] = static_cast<std::uint8_t>(255 - 100 * y);
            pixel[2] = static_cast<std::uint8_t>(x == 2 && y == 1 ? 255 : 0);
            image->SetPixel(x, y, pixel);
        }
    }
    ImageMemory<double> memory(*image);
    EXPECT_EQ(memory.Width(), 3);
    EXPECT_EQ(memory.Height(), 2);
    EXPECT_EQ(memory.Bands(), 3);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            for (int b = 0; b < 3; ++b) {
                const int written[3] = {50 * x + y, 255 - 100 * y, x == 2 && y == 1 ? 255 : 0};
                EXPECT_DOUBLE_EQ(memory(x, y, b), written[b] / 255.0)
                    << "at (" << x << ", " << y << ") band " << b;
            }
        }
    }
    EXPECT_DOUBLE_EQ(memory(2, 0, 0), 100.0 / 255.0);
    EXPECT_DOUBLE_EQ(memory(0, 1, 1), 155.0 / 255.0);
    EXPECT_EQ(memory(2, 1, 2), 1.0);
    EXPECT_EQ(memory(0, 0, 2), 0.0);
}

TEST_F(ImageMemoryTest, FilledFromAnEmptyImageIsEmpty) {
    ImageFileSystem missing(PathOf("missing.png"));
    ImageMemory<double> memory(missing);
    EXPECT_EQ(memory.Size(), 0u);
    EXPECT_EQ(memory.Width(), 0);
}

TEST_F(ImageMemoryTest, SaveImageTruncatesScaledValues) {
    ImageMemory<double> memory(4, 1, 3);
    const double values[4][3] = {
        {1.0, 0.5, 0.0},
        {0.999, 0.002, 0.004},  // 254.745 -> 254, 0.51 -> 0, 1.02 -> 1
        {0.125, 0.25, 0.75},    // 31.875, 63.75, 191.25
        {2.0, 0.005, -1.0},     // 510 and -255 keep their low bytes, 254 and 1
    };
    for (int x = 0; x < 4; ++x) {
        for (int b = 0; b < 3; ++b) {
            memory(x, 0, b) = values[x][b];
        }
    }
    const std::string path = PathOf("saved.png");
    save_image(&memory, path);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(SavedColour(path, 0, 0), (Rgb{255, 127, 0}));
    EXPECT_EQ(SavedColour(path, 1, 0), (Rgb{254, 0, 1}));
    EXPECT_EQ(SavedColour(path, 2, 0), (Rgb{31, 63, 191}));
    EXPECT_EQ(SavedColour(path, 3, 0), (Rgb{254, 1, 1}));
}

TEST_F(ImageMemoryTest, SaveImageDoesNotFlipRows) {
    // Memory row 0 is red, row 1 green, row 2 blue.
    ImageMemory<double> memory(2, 3, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 2; ++x) {
            memory(x, y, y) = 1.0;
        }
    }
    const std::string path = PathOf("rows.png");
    save_image(&memory, path);
    // Bitmap scanlines count from the bottom, so memory row 0 is the bottom of the picture.
    for (int x = 0; x < 2; ++x) {
        EXPECT_EQ(SavedColour(path, x, 0), (Rgb{255, 0, 0}));
        EXPECT_EQ(SavedColour(path, x, 1), (Rgb{0, 255, 0}));
        EXPECT_EQ(SavedColour(path, x, 2), (Rgb{0, 0, 255}));
    }
    // Read back through the image class, whose row 0 is the top: the picture is upside down.
    ImageFileSystem reloaded(path);
    ASSERT_EQ(reloaded.Height(), 3);
    EXPECT_EQ(reloaded.Pixel(0, 0, 2), 255);
    EXPECT_EQ(reloaded.Pixel(0, 2, 0), 255);
    EXPECT_EQ(reloaded.Pixel(0, 2, 2), 0);
}

TEST_F(ImageMemoryTest, SaveImageUsesTheFirstThreeOfMoreBands) {
    ImageMemory<double> memory(1, 1, 5);
    memory(0, 0, 0) = 0.25;
    memory(0, 0, 1) = 0.5;
    memory(0, 0, 2) = 0.75;
    memory(0, 0, 3) = 1.0;
    memory(0, 0, 4) = 1.0;
    const std::string path = PathOf("bands.png");
    save_image(&memory, path);
    EXPECT_EQ(SavedColour(path, 0, 0), (Rgb{63, 127, 191}));
}

TEST_F(ImageMemoryTest, SaveImageOfNonFiniteValuesWritesZero) {
    ImageMemory<double> memory(1, 1, 3);
    memory(0, 0, 0) = std::numeric_limits<double>::quiet_NaN();
    memory(0, 0, 1) = std::numeric_limits<double>::infinity();
    memory(0, 0, 2) = -0.5;  // -127.5 truncates to -127, whose low byte is 129
    const std::string path = PathOf("odd.png");
    save_image(&memory, path);
    EXPECT_EQ(SavedColour(path, 0, 0), (Rgb{0, 0, 129}));
}

TEST_F(ImageMemoryTest, SaveImageRejectsTooFewBandsAndNoImage) {
    ImageMemory<double> grey(2, 2, 1);
    const std::string path = PathOf("grey.png");
    EXPECT_THROW(save_image(&grey, path), std::invalid_argument);
    EXPECT_THROW(save_image(nullptr, path), std::invalid_argument);
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
