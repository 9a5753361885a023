#include "velkar/imageprocessing/PngEncoder.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

#include "common/PngDecoder.h"

namespace {

using velkar::imageprocessing::EncodeRgbPng;
using velkar::imageprocessing::PngCompression;

// Pictures that make the encoder pick every row filter: noise (none), horizontal and vertical
// ramps (sub, up), smooth gradients (average, Paeth), and sizes down to one pixel.
std::vector<unsigned char> Picture(int kind, int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<unsigned char> rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int noise = static_cast<int>(random() % 256);
                const int values[] = {noise, x * 7 + c, y * 5 + c * 40, (x * x + y * 3) / 4 + c,
                                      x < width / 2 ? noise : 200};
                rgb.push_back(static_cast<unsigned char>(values[kind]));
            }
        }
    }
    return rgb;
}

TEST(PngEncoderTest, DecodesToTheSamePixels) {
    struct Case {
        int kind, width, height;
    };
    unsigned seed = 11;
    for (const Case& c : std::vector<Case>{{0, 1, 1},
                                           {0, 37, 23},
                                           {1, 64, 3},
                                           {2, 3, 64},
                                           {3, 90, 70},
                                           {4, 41, 17},
                                           {0, 300, 2}}) {
        const std::vector<unsigned char> rgb = Picture(c.kind, c.width, c.height, seed++);
        for (const auto compression : {PngCompression::kFast, PngCompression::kStored}) {
            const std::vector<unsigned char> png =
                EncodeRgbPng(c.width, c.height, rgb, compression);
            // Stored rows keep every byte (and add one per row); smooth ones compress.
            if (compression == PngCompression::kStored) {
                EXPECT_GT(png.size(), rgb.size() + static_cast<std::size_t>(c.height));
            } else if (c.kind == 3) {
                EXPECT_LT(png.size(), rgb.size() / 4);
            }
            const auto decoded = testsupport::DecodePng(png);
            ASSERT_TRUE(decoded) << c.kind << " " << c.width << " x " << c.height;
            EXPECT_EQ(decoded->width, c.width);
            EXPECT_EQ(decoded->height, c.height);
            EXPECT_EQ(decoded->channels, 3);
            EXPECT_EQ(decoded->pixels, rgb) << c.kind << " " << c.width << " x " << c.height;
        }
    }
}

TEST(PngEncoderTest, RejectsSizesThatDoNotMatch) {
    const std::vector<unsigned char> rgb(12, 0);
    EXPECT_THROW(EncodeRgbPng(0, 4, rgb), std::invalid_argument);
    EXPECT_THROW(EncodeRgbPng(4, -1, rgb), std::invalid_argument);
    EXPECT_THROW(EncodeRgbPng(3, 2, rgb), std::invalid_argument);
    EXPECT_NO_THROW(EncodeRgbPng(2, 2, rgb));
}

}  // namespace
