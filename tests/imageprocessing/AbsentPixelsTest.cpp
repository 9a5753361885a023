#include "velkar/imageprocessing/AbsentPixels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace velkar::imageprocessing {
namespace {

// Counts over every rectangle of random masks, many reaching past the image, against counting
// the flags one by one; images without a mask, or whose mask marks nothing, count nothing.
TEST(AbsentPixelsTest, CountsEqualTheFlagsOfEveryRectangle) {
    std::mt19937 random(3);
    for (const auto& [width, height, density] :
         std::vector<std::tuple<int, int, unsigned>>{{1, 1, 2}, {7, 5, 3}, {13, 4, 9}, {6, 11, 1}}) {
        ImageFileSystem image("", width, height, 2);
        std::vector<unsigned char> flags(static_cast<std::size_t>(width) * height);
        for (unsigned char& flag : flags) {
            flag = random() % density == 0 ? static_cast<unsigned char>(1 + random() % 200) : 0;
        }
        image.SetMask(flags);
        const AbsentPixels absent(image);
        for (int y = -2; y <= height + 1; ++y) {
            for (int x = -2; x <= width + 1; ++x) {
                for (int h = 0; h <= height + 3; ++h) {
                    for (int w = 0; w <= width + 3; ++w) {
                        long long expected = 0;
                        for (int j = std::max(y, 0); j < std::min(y + h, height); ++j) {
                            for (int i = std::max(x, 0); i < std::min(x + w, width); ++i) {
                                expected += flags[static_cast<std::size_t>(j) * width + i] != 0;
                            }
                        }
                        ASSERT_EQ(absent.Count(x, y, w, h), expected)
                            << width << " x " << height << " at " << x << ", " << y << ", " << w
                            << " x " << h;
                    }
                }
            }
        }
        EXPECT_EQ(absent.Any(), absent.Count(0, 0, width, height) > 0);
    }
    ImageFileSystem unmasked("", 4, 4, 3);
    EXPECT_FALSE(AbsentPixels(unmasked).Any());
    unmasked.SetMask(std::vector<unsigned char>(16, 0));
    EXPECT_FALSE(AbsentPixels(unmasked).Any());
    EXPECT_EQ(AbsentPixels(unmasked).Count(0, 0, 4, 4), 0);
}

}  // namespace
}  // namespace velkar::imageprocessing
