#include "velkar/featureextraction/WaveletTransform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "featureextraction/TestImages.h"
#include "velkar/featureextraction/WaveletFilters.h"

namespace velkar::featureextraction {
namespace {

using testing::Extract;
using testing::MakeImage;
using testing::MakeRectangle;
using testing::RandomPixels;
using testing::Rgb;
using Line = std::vector<double>;

// One analysis step from its definition: output i takes samples 2i - o ... 2i - o + L - 1
// (o = L/2 - 1), each position outside the line folded back one reflection at a time.
Line AnalysisStep(const Line& line, const WaveletFilterPair& filters) {
    const int n = static_cast<int>(line.size());
    const std::size_t half = line.size() / 2;
    const int offset = static_cast<int>(filters.lowPass.size()) / 2 - 1;
    Line result(line.size(), 0.0);
    for (std::size_t i = 0; i < half; ++i) {
        for (std::size_t t = 0; t < filters.lowPass.size(); ++t) {
            int p = 2 * static_cast<int>(i) - offset + static_cast<int>(t);
            while (p < 0 || p >= n) {
                p = p < 0 ? -p : 2 * n - 2 - p;
            }
            result[i] += filters.lowPass[t] * line[static_cast<std::size_t>(p)];
            result[half + i] += filters.highPass[t] * line[static_cast<std::size_t>(p)];
        }
    }
    return result;
}

// square[column][row]; every level transforms the columns, then the rows, of the corner block.
std::vector<Line> PlainTransform(std::vector<Line> square, int scale,
                                 const WaveletFilterPair& filters) {
    for (std::size_t block = square.size(); scale > 0; --scale, block /= 2) {
        for (std::size_t column = 0; column < block; ++column) {
            const Line top(square[column].begin(), square[column].begin() + block);
            const Line done = AnalysisStep(top, filters);
            std::copy(done.begin(), done.end(), square[column].begin());
        }
        for (std::size_t row = 0; row < block; ++row) {
            Line line;
            for (std::size_t column = 0; column < block; ++column) {
                line.push_back(square[column][row]);
            }
            const Line done = AnalysisStep(line, filters);
            for (std::size_t column = 0; column < block; ++column) {
                square[column][row] = done[column];
            }
        }
    }
    return square;
}

// haar (two taps), db3 and sym4 (six and eight), biorthogonal filters with zero taps, db10
// (twenty taps) on 8-sample lines, which reach past one reflection, and padded windows.
TEST(WaveletTransformTest, CoefficientsEqualAPlainMultiLevelTransform) {
    const RandomPixels image(40, 40, 11);
    const auto bitmap = image.Image();
    const std::vector<std::tuple<std::string, int, int>> cases{
        {"haar", 8, 1},     {"haar", 16, 3}, {"db3", 16, 2}, {"sym4", 12, 2}, {"bior2.2", 8, 2},
        {"bior6.8", 16, 1}, {"db10", 8, 2},  {"db10", 8, 3}, {"coif5", 5, 1}};
    for (const auto& [name, w, scale] : cases) {
        SCOPED_TRACE(name + " w " + std::to_string(w) + " s " + std::to_string(scale));
        WaveletTransform extractor(w, scale, name);
        std::size_t n = 1;
        while (n < static_cast<std::size_t>(w)) {
            n *= 2;
        }
        const std::size_t pad = (n - static_cast<std::size_t>(w)) / 2;
        std::size_t k = 0;
        while ((k + 1) * (k + 1) <= (n >> scale)) {
            ++k;
        }
        EXPECT_EQ(extractor.FeatureCount(), static_cast<int>(3 * k * k));
        const auto result = Extract(extractor, bitmap, {MakeRectangle(0, 0, 2 * w, 2 * w)});
        ASSERT_EQ(result.size(), 4u);
        for (std::size_t index = 0; index < 4; ++index) {
            for (int band = 0; band < 3; ++band) {
                std::vector<Line> square(n, Line(n, 0.0));
                for (int i = 0; i < w; ++i) {
                    for (int j = 0; j < w; ++j) {
                        square[pad + static_cast<std::size_t>(i)][pad +
                                                                  static_cast<std::size_t>(j)] =
                            image.Channel(index < 2 ? i : w + i, index % 2 == 0 ? j : w + j, band);
                    }
                }
                const auto expected = PlainTransform(square, scale, *FindWaveletFilters(name));
                const auto& values = result[index]->Features()[static_cast<std::size_t>(band)];
                ASSERT_EQ(values.size(), k * k);
                for (std::size_t u = 0; u < k; ++u) {
                    for (std::size_t v = 0; v < k; ++v) {
                        EXPECT_NEAR(values[u * k + v], expected[u][v],
                                    1e-9 * std::max(1.0, std::abs(expected[u][v])))
                            << "window " << index << " band " << band << " (" << u << ", " << v
                            << ")";
                    }
                }
            }
        }
    }
}

TEST(WaveletTransformTest, HaarOfAUniformWindowDoublesPerLevel) {
    const auto image = MakeImage(8, 8, [](int, int) { return Rgb{200, 100, 50}; });
    for (int scale = 1; scale <= 3; ++scale) {
        WaveletTransform extractor(8, scale, "haar");
        const auto result = Extract(extractor, image, {MakeRectangle(0, 0, 8, 8)});
        ASSERT_EQ(result.size(), 1u);
        const double factor = std::pow(2.0, scale);
        EXPECT_NEAR(result[0]->Features()[0][0], 200.0 * factor, 1e-9) << scale;
        EXPECT_NEAR(result[0]->Features()[1][0], 100.0 * factor, 1e-9) << scale;
        EXPECT_NEAR(result[0]->Features()[2][0], 50.0 * factor, 1e-9) << scale;
    }
}

TEST(WaveletTransformTest, EveryCatalogueNameBuildsAndNamesItsFiles) {
    const auto names = WaveletTransform::WaveletNames();
    ASSERT_EQ(names.size(), 40u);
    for (const std::string& name : names) {
        const WaveletTransform extractor(8, 1, name);
        EXPECT_EQ(extractor.FileExtension(), name + ".dwt");
        EXPECT_EQ(extractor.Name(), "Discrete Wavelet Transform");
        EXPECT_EQ(extractor.Version(), "1.0");
        EXPECT_EQ(extractor.WindowSize(), 8);
    }
    // 3 k^2 features, k = floor(sqrt(N >> s)).
    const std::vector<std::tuple<int, int, int>> counts{
        {8, 1, 12}, {8, 3, 3}, {5, 1, 12}, {2, 1, 3}, {32, 1, 48}, {64, 1, 75}, {1000, 2, 768}};
    for (const auto& [w, s, features] : counts) {
        EXPECT_EQ(WaveletTransform(w, s, "db1").FeatureCount(), features) << w << " " << s;
    }
}

TEST(WaveletTransformTest, RejectsUnknownNamesAndScalesWithoutCoefficients) {
    const auto message = [](int w, int s, const std::string& name) {
        try {
            WaveletTransform extractor(w, s, name);
        } catch (const std::invalid_argument& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    for (const std::string name : {"Haar", "DB2", "db11", "", "bior1.2"}) {
        const std::string text = message(8, 1, name);
        EXPECT_NE(text.find("'waveletName': " + name + " ("), std::string::npos) << text;
        EXPECT_NE(text.find("haar, db1, db2,"), std::string::npos) << text;
        EXPECT_NE(text.find("bior5.5, bior6.8"), std::string::npos) << text;
    }
    // N = 8 for w = 5 and 8 allows three levels; N = 1 for w = 1 allows none.
    for (const auto& [w, s] : std::vector<std::pair<int, int>>{
             {8, 0}, {8, -1}, {8, 4}, {5, 4}, {1, 1}, {8, 31}, {8, 2147483647}}) {
        const std::string text = message(w, s, "haar");
        EXPECT_NE(text.find("scale"), std::string::npos) << w << " " << s << ": " << text;
        EXPECT_NE(text.find(std::to_string(s)), std::string::npos) << text;
    }
    EXPECT_NE(message(0, 1, "haar").find("window size"), std::string::npos);
    EXPECT_EQ(WaveletTransform::MaximumScale(1), 0);
    EXPECT_EQ(WaveletTransform::MaximumScale(5), 3);
    EXPECT_EQ(WaveletTransform::MaximumScale(1 << 30), 30);
    EXPECT_EQ(message(5, 3, "haar"), "accepted");
}

TEST(WaveletTransformTest, SquareLayoutWindowsAndTheSameResultOnEveryThreadCount) {
    WaveletTransform extractor(5, 2, "db2");
    const auto image = RandomPixels(100, 80, 4).Image();
    // The corners one past the window decide: (0,0)-(19,9) holds x origins 0, 5, 10 at y 0.
    EXPECT_EQ(Extract(extractor, image, {MakeRectangle(0, 0, 19, 9)}).size(), 3u);
    EXPECT_EQ(Extract(extractor, image, {MakeRectangle(0, 0, 20, 10)}).size(), 8u);

    auto polygons = testing::RandomPolygons(60, 8, -5, 90, 30);
    EXPECT_GT(testing::ExpectSameOnOneThread(extractor, polygons), 50u);
}

}  // namespace
}  // namespace velkar::featureextraction
