#include "velkar/imageprocessing/ImageMemory.h"

#include <FreeImagePlus.h>
#include <gtest/gtest.h>

#include "common/TemporaryFolder.h"

#include <array>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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

// The colour that FreeImage finds at scanline `line` (counted from the bottom) of a saved file.
Rgb SavedColour(const std::string& path, unsigned x, unsigned line) {
    fipImage bitmap;
    if (!bitmap.load(path.c_str(), 0)) {
        ADD_FAILURE() << "cannot load " << path;
        return {-1, -1, -1};
    }
    RGBQUAD colour{};
    if (!bitmap.getPixelColor(x, line, &colour)) {
        ADD_FAILURE() << "no colour at (" << x << ", " << line << ") in " << path;
        return {-1, -1, -1};
    }
    return {colour.rgbRed, colour.rgbGreen, colour.rgbBlue};
}

TEST_F(ImageMemoryTest, NewImageIsZeroInterleavesBandsRowByRowAndCopiesItsValues) {
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

    ImageMemory<double> copy(memory);
    copy(3, 1, 1) = 0.9;
    EXPECT_EQ(memory(3, 1, 1), 0.75);
    EXPECT_EQ(copy(3, 1, 1), 0.9);

    EXPECT_THROW(ImageMemory<double>(-1, 2, 3), std::invalid_argument);
    EXPECT_THROW(ImageMemory<double>(2, -1, 3), std::invalid_argument);
    EXPECT_THROW(ImageMemory<double>(2, 2, -3), std::invalid_argument);
}

TEST_F(ImageMemoryTest, FilledFromAnImageDividesEachComponentBy255) {
    auto image = ImageFileSystem::Create(PathOf("source.png"), 3, 2, 24);
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
    // An image that could not be read fills nothing.
    ImageFileSystem missing(PathOf("missing.png"));
    EXPECT_EQ(ImageMemory<double>(missing).Size(), 0u);
}

TEST_F(ImageMemoryTest, SaveImageTruncatesScaledValuesOfTheFirstThreeBands) {
    // Bands 3 and 4 are left out of the picture.
    const std::vector<std::pair<std::array<double, 3>, Rgb>> cases = {
        {{1.0, 0.5, 0.0}, {255, 127, 0}},
        {{0.999, 0.002, 0.004}, {254, 0, 1}},  // 254.745 -> 254, 0.51 -> 0, 1.02 -> 1
        {{0.125, 0.25, 0.75}, {31, 63, 191}},  // 31.875, 63.75, 191.25
        {{2.0, 0.005, -1.0}, {254, 1, 1}},     // 510 and -255 keep their low bytes, 254 and 1
        // -127.5 truncates to -127, whose low byte is 129; what is not finite writes 0.
        {{std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), -0.5},
         {0, 0, 129}},
    };
    ImageMemory<double> memory(static_cast<int>(cases.size()), 1, 5);
    for (int x = 0; x < memory.Width(); ++x) {
        for (int b = 0; b < 3; ++b) {
            memory(x, 0, b) = cases[static_cast<std::size_t>(x)].first[static_cast<std::size_t>(b)];
        }
        memory(x, 0, 3) = 1.0;
        memory(x, 0, 4) = 1.0;
    }
    const std::string path = PathOf("saved.png");
    save_image(&memory, path);
    ASSERT_TRUE(std::filesystem::exists(path));
    for (int x = 0; x < memory.Width(); ++x) {
        EXPECT_EQ(SavedColour(path, static_cast<unsigned>(x), 0),
                  cases[static_cast<std::size_t>(x)].second)
            << "pixel " << x;
    }
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
    for (unsigned x = 0; x < 2; ++x) {
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

TEST_F(ImageMemoryTest, SaveImageRejectsTooFewBandsAndNoImage) {
    ImageMemory<double> grey(2, 2, 1);
    const std::string path = PathOf("grey.png");
    EXPECT_THROW(save_image(&grey, path), std::invalid_argument);
    EXPECT_THROW(save_image(nullptr, path), std::invalid_argument);
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
