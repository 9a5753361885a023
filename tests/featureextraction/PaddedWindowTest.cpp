#include "velkar/featureextraction/PaddedWindow.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace velkar::featureextraction {
namespace {

TEST(PaddedWindowTest, SmallestPowerOfTwoSideWithTheWindowCentredAndSizesOutsideRejected) {
    for (int w : {1, 2, 3, 5, 8, 9, 12, 100, 255, 256, 257, (1 << 29) + 1, 1 << 30}) {
        const PaddedWindow padded(w);
        const int side = padded.Side();
        EXPECT_EQ(side & (side - 1), 0) << w;
        EXPECT_GE(side, w);
        EXPECT_TRUE(side == 1 || side / 2 < w) << w;
        EXPECT_EQ(padded.Pad(), (side - w) / 2) << w;
    }
    EXPECT_EQ(PaddedWindow(5).Side(), 8);
    EXPECT_EQ(PaddedWindow(5).Pad(), 1);
    for (int bad : {0, -1, (1 << 30) + 1, 2147483647}) {
        EXPECT_THROW(PaddedWindow window(bad), std::invalid_argument) << bad;
    }
}

}  // namespace
}  // namespace velkar::featureextraction
