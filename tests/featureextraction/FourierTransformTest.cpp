#include "velkar/featureextraction/FourierTransform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "featureextraction/TestImages.h"

namespace velkar::featureextraction {
namespace {

using testing::Extract;
using testing::MakeImage;
using testing::MakeRectangle;
using testing::RandomPixels;
using testing::Rgb;

// The definition: the window centred in an N x N square of zeros, summed term by term.
std::vector<double> PlainDftMagnitudes(const RandomPixels& image, int x0, int y0, int w, int band,
                                       int k) {
    int n = 1;
    while (n < w) {
        n *= 2;
    }
    const int pad = (n - w) / 2;
    std::vector<double> magnitudes;
    for (int u = 0; u < k; ++u) {
        for (int v = 0; v < k; ++v) {
            std::complex<double> sum = 0.0;
            for (int a = 0; a < n; ++a) {
                for (int b = 0; b < n; ++b) {
                    const bool inside = a >= pad && a < pad + w && b >= pad && b < pad + w;
                    const double f = inside ? image.Channel(x0 + a - pad, y0 + b - pad, band) : 0.0;
                    sum += f * std::polar(1.0, -2.0 * std::numbers::pi * ((u * a + v * b) % n) / n);
                }
            }
            magnitudes.push_back(std::abs(sum));
        }
    }
    return magnitudes;
}

TEST(FourierTransformTest, IdentityAndSettingsThatReachPastTheSpectrumAreRejected) {
    const FourierTransform extractor(16, 10);
    EXPECT_EQ(extractor.Name(), "Discrete Fourier Transform");
    EXPECT_EQ(extractor.FileExtension(), "dft");
    EXPECT_EQ(extractor.Version(), "1.0");
    EXPECT_EQ(extractor.WindowSize(), 16);
    EXPECT_EQ(extractor.FeatureCount(), 27);
    // N = 8 for w = 5, so k may reach 8 (c up to 80); N = 1 for w = 1. For the largest windows
    // the descriptor length 3 k^2 must still be an int: k up to 26754.
    EXPECT_EQ(FourierTransform(5, 80).FeatureCount(), 3 * 64);
    EXPECT_EQ(FourierTransform(1, 3).FeatureCount(), 3);
    EXPECT_EQ(FourierTransform::MaximumCoefficients(16), 17 * 17 - 1);
    EXPECT_EQ(FourierTransform::MaximumCoefficients(1 << 30), 26755 * 26755 - 1);
    EXPECT_EQ(FourierTransform(1 << 30, 26755 * 26755 - 1).FeatureCount(), 3 * 26754 * 26754);
    const std::vector<std::tuple<int, int, std::string>> rejected{
        {0, 1, "0"},
        {-4, 9, "-4"},
        {5, 0, "0"},
        {5, -9, "-9"},
        {5, 81, "81"},
        {1, 4, "4"},
        {1 << 30, 26755 * 26755, "715830025"},
        {(1 << 30) + 1, 1, "1073741825"}};
    for (const auto& [w, c, named] : rejected) {
        try {
            FourierTransform bad(w, c);
            ADD_FAILURE() << w << ", " << c << " accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(named), std::string::npos) << error.what();
        }
    }
}

TEST(FourierTransformTest, KeptFrequenciesIsTheIntegerSquareRoot) {
    for (int c = -3; c <= 3000; ++c) {
        const int k = FourierTransform::KeptFrequencies(c);
        EXPECT_TRUE(c < 1 ? k == 0 : k * k <= c && (k + 1) * (k + 1) > c) << c << " -> " << k;
    }
    EXPECT_EQ(FourierTransform::KeptFrequencies(46340 * 46340), 46340);
    EXPECT_EQ(FourierTransform::KeptFrequencies(46340 * 46340 - 1), 46339);
    EXPECT_EQ(FourierTransform::KeptFrequencies(2147483647), 46340);
}

// All four windows of a 2 x 2 block, for padded and unpadded sizes, from the DC term alone to
// the whole spectrum.
TEST(FourierTransformTest, MagnitudesEqualAPlainDftOfThePaddedWindow) {
    const RandomPixels image(40, 40, 5);
    const auto bitmap = image.Image();
    const std::vector<std::pair<int, int>> settings{{8, 10}, {5, 9}, {16, 10},  {3, 16},
                                                    {6, 64}, {1, 1}, {12, 200}, {7, 2}};
    for (const auto& [w, c] : settings) {
        SCOPED_TRACE("w " + std::to_string(w) + " c " + std::to_string(c));
        FourierTransform extractor(w, c);
        const auto result = Extract(extractor, bitmap, {MakeRectangle(0, 0, 2 * w, 2 * w, "a", 3)});
        ASSERT_EQ(result.size(), 4u);
        for (std::size_t index = 0; index < 4; ++index) {
            EXPECT_EQ(result[index]->Class(), "a");
            EXPECT_EQ(result[index]->PolygonId(), 3);
            const auto& features = result[index]->Features();
            ASSERT_EQ(features.size(), 3u);
            for (int band = 0; band < 3; ++band) {
                const auto expected =
                    PlainDftMagnitudes(image, index < 2 ? 0 : w, index % 2 == 0 ? 0 : w, w, band,
                                       FourierTransform::KeptFrequencies(c));
                const auto& values = features[static_cast<std::size_t>(band)];
                ASSERT_EQ(values.size(), expected.size());
                for (std::size_t i = 0; i < expected.size(); ++i) {
                    EXPECT_NEAR(values[i], expected[i], 1e-9 * std::max(1.0, expected[i]))
                        << "window " << index << " band " << band << " value " << i;
                }
            }
        }
    }
}

TEST(FourierTransformTest, CoveredCornerWindowsAndTheSameResultOnEveryThreadCount) {
    // Red encodes the 5 x 5 block, so each DC term names its window: 25 (10 bx + by).
    const auto blocks = MakeImage(30, 20, [](int x, int y) {
        return Rgb{10 * (x / 5) + y / 5, 0, 0};
    });
    FourierTransform extractor(5, 1);
    const auto inBox = [&](int right, int bottom) {
        std::vector<double> names;
        for (const auto& d : Extract(extractor, blocks, {MakeRectangle(0, 0, right, bottom)})) {
            names.push_back(d->Features()[0][0] / 25.0);
        }
        return names;
    };
    EXPECT_EQ(inBox(19, 9), (std::vector<double>{0, 1, 10, 11, 20, 21, 30, 31}));
    EXPECT_EQ(inBox(18, 9).size(), 6u);  // x origin 15 needs column 19
    EXPECT_EQ(inBox(4, 4).size(), 1u);   // a box of w - 1 still holds a window
    EXPECT_EQ(inBox(3, 4).size(), 0u);

    FourierTransform spectrum(4, 10);
    spectrum.SetImage(RandomPixels(120, 90, 9).Image());
    auto polygons = testing::RandomPolygons(80, 3, -5, 110, 30);
    EXPECT_GT(testing::ExpectSameOnOneThread(spectrum, polygons), 100u);
}

}  // namespace
}  // namespace velkar::featureextraction
