#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "velkar/imageprocessing/CMYKColorTransformation.h"
#include "velkar/imageprocessing/HSIColorTransformation.h"
#include "velkar/imageprocessing/HSLColorTransformation.h"
#include "velkar/imageprocessing/HSVColorTransformation.h"
#include "velkar/imageprocessing/LABColorTransformation.h"
#include "velkar/imageprocessing/LCHColorTransformation.h"
#include "velkar/imageprocessing/LUVColorTransformation.h"
#include "velkar/imageprocessing/SCHColorTransformation.h"
#include "velkar/imageprocessing/XYZColorTransformation.h"
#include "velkar/imageprocessing/YIQColorTransformation.h"

namespace velkar::imageprocessing {
namespace {

using Triple = std::array<int, 3>;
using Reference = std::function<Triple(int, int, int)>;

constexpr Triple kBlack{0, 0, 0};
constexpr Triple kRed{255, 0, 0};
constexpr Triple kBlue{0, 0, 255};
constexpr Triple kWhite{255, 255, 255};
constexpr Triple kGrey{128, 128, 128};

Pixel ToPixel(const Triple& c) {
    Pixel p;
    for (int i = 0; i < 3; ++i) p[i] = static_cast<std::uint8_t>(c[i]);
    return p;
}

Triple Channels(const Pixel& p) { return {p[0], p[1], p[2]}; }

Triple Forward(const ColorSpaceTransformation& t, const Triple& c) {
    Pixel out;
    t.ForwardTransformation(ToPixel(c), out);
    return Channels(out);
}

Triple Backward(const ColorSpaceTransformation& t, const Triple& c) {
    Pixel out;
    t.BackwardTransformation(ToPixel(c), out);
    return Channels(out);
}

// The byte rule, evaluated independently with 64-bit integers and a mask.
int Byte(double v) {
    if (!std::isfinite(v) || v <= -2147483649.0 || v >= 2147483648.0) return 0;
    return static_cast<int>(static_cast<long long>(v) & 0xFF);
}

// Black, red, blue, white and grey, in that order.
void ExpectEdgeColours(const ColorSpaceTransformation& t, const std::array<Triple, 5>& expected) {
    const std::array<Triple, 5> colours{kBlack, kRed, kBlue, kWhite, kGrey};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Forward(t, colours[i]), expected[i]) << "colour " << i;
}

// Grey and every colour with channels 0, 15, ..., 255 (black, red, blue and white among them)
// agree with the reference formula, which confirms the hand-computed edge values independently.
void ExpectMatchesReferenceOnGrid(const ColorSpaceTransformation& t, const Reference& ref) {
    ASSERT_EQ(Forward(t, kGrey), ref(128, 128, 128));
    for (int r = 0; r < 256; r += 15)
        for (int g = 0; g < 256; g += 15)
            for (int b = 0; b < 256; b += 15)
                ASSERT_EQ(Forward(t, {r, g, b}), ref(r, g, b)) << r << "," << g << "," << b;
}

// Calls check(colour, round trip, spread) for channels 0, 5, ..., 255.
void ForEachRoundTrip(const ColorSpaceTransformation& t,
                      const std::function<void(const Triple&, const Triple&, int)>& check) {
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 5) {
                const Triple colour{r, g, b};
                const int spread = std::max({r, g, b}) - std::min({r, g, b});
                check(colour, Backward(t, Forward(t, colour)), spread);
                if (::testing::Test::HasFatalFailure()) return;  // report the first colour only
            }
}

Reference MatrixReference(const double (&m)[3][3]) {
    return [&m](int r, int g, int b) {
        Triple out;
        for (int i = 0; i < 3; ++i) out[i] = Byte(r * m[i][0] + g * m[i][1] + b * m[i][2]);
        return out;
    };
}

int MaxError(const Triple& a, const Triple& b) {
    int error = 0;
    for (int i = 0; i < 3; ++i) error = std::max(error, std::abs(a[i] - b[i]));
    return error;
}

// X, Y, Z bytes of the Adobe RGB (1998) step shared by LAB, LCH, LUV and SCH.
std::array<double, 3> AdobeXyz(int r, int g, int b) {
    return {double(Byte(r * 0.5767309 + g * 0.185554 + b * 0.1881852)),
            double(Byte(r * 0.2973769 + g * 0.6273491 + b * 0.0752741)),
            double(Byte(r * 0.0270343 + g * 0.0706872 + b * 0.9911085))};
}

double LabF(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; }

Triple LabReference(int r, int g, int b) {
    const auto xyz = AdobeXyz(r, g, b);
    const double fx = LabF(xyz[0] / 255 / 0.95045), fy = LabF(xyz[1] / 255),
                 fz = LabF(xyz[2] / 255 / 1.08905);
    return {Byte((116 * fy - 16) * 255 / 100), Byte((fx - fy) * 500 + 127),
            Byte((fy - fz) * 200 + 127)};
}

// L, u' - u'n, v' - v'n of the LUV family.
std::array<double, 3> LuvReference(int r, int g, int b) {
    const auto xyz = AdobeXyz(r, g, b);
    const double x = xyz[0] / 255, y = xyz[1] / 255, z = xyz[2] / 255;
    const double d = x + 15 * y + 3 * z;
    const double l = y <= 0.008856 ? std::pow(29.0 / 3.0, 3) * y : 116 * std::cbrt(y) - 16;
    return {l, 4 * x / d - 0.20088762188603454, 9 * y / d - 0.46088308659172633};
}

double Degrees360(double y, double x) {
    const double h = std::atan2(y, x) * (180 / std::numbers::pi);
    return h < 0 ? h + 360 : h;
}

TEST(ColorSpaceTransformation, ByteRuleTruncatesTowardZeroAndKeepsTheLowByte) {
    struct Rule : ColorSpaceTransformation {
        using ColorSpaceTransformation::ToByte;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<double, int>> cases = {{260, 4},
                                                       {-1, 255},
                                                       {nan, 0},
                                                       {1e12, 0},
                                                       {inf, 0},
                                                       {-inf, 0},
                                                       {255.999, 255},
                                                       {-0.9, 0},
                                                       {-1.5, 255},
                                                       {-256.5, 0},
                                                       {2147483647.9, 255},
                                                       {2147483648.0, 0},
                                                       {-2147483647.0, 1},
                                                       {-2147483393.0, 255},
                                                       {-2147483649.0, 0},
                                                       {2147483903.0, 0}};
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(Rule::ToByte(value), expected) << value;
    }
}

std::vector<std::shared_ptr<ColorSpaceTransformation>> AllTen() {
    return {
        std::make_shared<CMYKColorTransformation>(), std::make_shared<HSIColorTransformation>(),
        std::make_shared<HSLColorTransformation>(),  std::make_shared<HSVColorTransformation>(),
        std::make_shared<LABColorTransformation>(),  std::make_shared<LCHColorTransformation>(),
        std::make_shared<LUVColorTransformation>(),  std::make_shared<SCHColorTransformation>(),
        std::make_shared<XYZColorTransformation>(),  std::make_shared<YIQColorTransformation>()};
}

TEST(ColorSpaceTransformation, ShortNamesOfAllTen) {
    std::vector<std::string> names;
    for (const auto& t : AllTen()) names.push_back(t->ShortName());
    EXPECT_EQ(names, (std::vector<std::string>{"cmyk", "hsi", "hsl", "hsv", "lab", "lch", "luv",
                                               "sch", "xyz", "yiq"}));
}

TEST(ColorSpaceTransformation, OnlyCmykWritesTheFourthComponentAndOnlyXyzTheCount) {
    for (const auto& t : AllTen()) {
        for (const Triple& colour : {kBlack, kRed, kBlue, kWhite, kGrey, Triple{10, 200, 90}}) {
            Pixel out;
            out[3] = 77;
            out.count = -5;
            t->ForwardTransformation(ToPixel(colour), out);
            const std::string name = t->ShortName();
            if (name == "cmyk") {
                const double k0 =
                    std::min({1 - colour[0] / 255.0, 1 - colour[1] / 255.0, 1 - colour[2] / 255.0});
                EXPECT_EQ(out[3], k0 < 0.3 ? 0 : Byte((k0 - 0.3) / 0.7 * 0.9 * 255));
            } else {
                EXPECT_EQ(out[3], 77) << name;
            }
            EXPECT_EQ(out.count, name == "xyz" ? 3 : -5) << name;
        }
    }
}

TEST(ColorSpaceTransformation, BackwardWithoutInverseLeavesTheOutputUntouched) {
    for (const auto& t : AllTen()) {
        const std::string name = t->ShortName();
        if (name == "hsi" || name == "hsl" || name == "hsv" || name == "xyz") continue;
        for (const Triple& colour : {kBlack, kRed, kWhite, Triple{10, 200, 90}}) {
            Pixel out{{9, 8, 7, 6}, 5};
            t->BackwardTransformation(ToPixel(colour), out);
            EXPECT_EQ((std::array<int, 5>{out[0], out[1], out[2], out[3], out.count}),
                      (std::array<int, 5>{9, 8, 7, 6, 5}))
                << name;
        }
    }
}

TEST(CMYKColorTransformation, EdgeColoursAndReference) {
    const CMYKColorTransformation t;
    auto reference = [](int r, int g, int b) {
        const double c = 1 - r / 255.0, m = 1 - g / 255.0, y = 1 - b / 255.0;
        const double u = 0.1 * std::min({c, m, y});
        return Triple{Byte((c - u) * 255), Byte((m - u) * 255), Byte((y - u) * 255)};
    };
    ExpectEdgeColours(
        t, {{{229, 229, 229}, {0, 255, 255}, {255, 255, 0}, {0, 0, 0}, {114, 114, 114}}});
    ExpectMatchesReferenceOnGrid(t, reference);

    Pixel out;
    t.ForwardTransformation(ToPixel(kBlack), out);
    EXPECT_EQ(out[3], 229);
    t.ForwardTransformation(ToPixel(kGrey), out);
    EXPECT_EQ(out[3], 64);  // k0 = 127/255, above the 0.3 threshold
}

Triple HsiReference(int r, int g, int b) {
    const double num = 2.0 * r - g - b;
    const double den = 2 * (std::sqrt(double((r - g) * (r - g) + (g - b) * (r - b))) + 0.00001);
    double h = std::acos(num / den);
    if (b > g) h = 2 * std::numbers::pi - h;
    return {Byte(h / (2 * std::numbers::pi) * 255),
            Byte((1 - 3.0 * std::min({r, g, b}) / (r + g + b + 0.00001)) * 255), (r + g + b) / 3};
}

TEST(HSIColorTransformation, EdgeColoursAndReference) {
    const HSIColorTransformation t;
    ExpectEdgeColours(t,
                      {{{63, 255, 0}, {0, 255, 85}, {170, 255, 85}, {63, 0, 255}, {63, 0, 128}}});
    ExpectMatchesReferenceOnGrid(t, HsiReference);
    EXPECT_EQ(Forward(t, {1, 1, 2}), (Triple{170, 63, 1}));  // intensity 4 / 3 truncates to 1
}

TEST(HSIColorTransformation, RoundTripIsCloseAndStaysInsideTheCube) {
    const HSIColorTransformation t;
    // Hue bytes are 1.4 degrees wide and intensity loses up to 2/3; greys come back exactly.
    ForEachRoundTrip(t, [](const Triple& colour, const Triple& back, int spread) {
        ASSERT_LE(MaxError(colour, back), spread == 0 ? 0 : 4 + 6.0 * spread / 255)
            << colour[0] << "," << colour[1] << "," << colour[2];
    });
    EXPECT_EQ(Backward(t, {0, 255, 85}), kRed);
    // Full saturation with intensity 200 is no colour; its channels are limited to the cube.
    EXPECT_EQ(Backward(t, {0, 255, 200}), (Triple{255, 0, 0}));
}

TEST(HSVColorTransformation, EdgeColoursAndBackwardValues) {
    const HSVColorTransformation t;
    // Blue has h = 4 exactly.
    ExpectEdgeColours(t, {{{1, 0, 0}, {0, 255, 255}, {170, 255, 255}, {1, 0, 255}, {1, 0, 128}}});
    EXPECT_EQ(Forward(t, {255, 0, 1}), (Triple{254, 255, 255}));  // negative hue wraps by 6
    EXPECT_EQ(Backward(t, {170, 255, 255}), kBlue);
    EXPECT_EQ(Backward(t, {85, 255, 255}), (Triple{0, 255, 0}));
    EXPECT_EQ(Backward(t, {1, 0, 128}), kGrey);
    // Hue byte 255 (never produced) is sextant 0 with f = 6: t = v (1 + 5 s) wraps.
    EXPECT_EQ(Backward(t, {255, 255, 255}), (Triple{255, Byte(6 * 255.0), 0}));
}

TEST(HSVColorTransformation, RoundTripWithinOneBytePlusTheHueStep) {
    const HSVColorTransformation t;
    // A hue byte is 6/255 of a sextant, worth 6 * spread / 255 levels of the middle channel;
    // everything else costs at most one level. Below a spread of 43 that is one byte in all.
    ForEachRoundTrip(t, [](const Triple& colour, const Triple& back, int spread) {
        const int error = MaxError(colour, back);
        ASSERT_LE(error, 1 + 6.0 * spread / 255)
            << colour[0] << "," << colour[1] << "," << colour[2];
        if (spread < 43) {
            ASSERT_LE(error, 1);
        }
    });
}

TEST(HSLColorTransformation, EdgeColoursAndGreyCollapse) {
    const HSLColorTransformation t;
    ExpectEdgeColours(t, {{{1, 0, 0}, {0, 255, 127}, {170, 255, 127}, {1, 0, 0}, {1, 0, 0}}});
    // L = 160/510 uses delta / 2 / L = 0.25, L = 350/510 uses delta / 2 / (1 - L) = 0.3125.
    EXPECT_EQ(Forward(t, {100, 60, 60}), (Triple{0, 63, 80}));
    EXPECT_EQ(Forward(t, {200, 150, 150}), (Triple{0, 79, 175}));
    EXPECT_EQ(Backward(t, {1, 0, 0}), kBlack);
}

TEST(HSLColorTransformation, RoundTripOfColoursThatAreNotGrey) {
    const HSLColorTransformation t;
    ForEachRoundTrip(t, [](const Triple& colour, const Triple& back, int spread) {
        if (spread == 0) return;
        ASSERT_LE(MaxError(colour, back), 3 + 6.0 * spread / 255)
            << colour[0] << "," << colour[1] << "," << colour[2];
    });
}

TEST(LABColorTransformation, EdgeColoursAndReference) {
    const LABColorTransformation t;
    // White's Z = 277.65 is stored as 21 by the Adobe step.
    ExpectEdgeColours(
        t, {{{0, 127, 127}, {155, 217, 204}, {83, 206, 17}, {255, 126, 242}, {194, 126, 127}}});
    ExpectMatchesReferenceOnGrid(t, LabReference);
}

TEST(LCHColorTransformation, EdgeColoursAndReference) {
    const LCHColorTransformation t;
    auto reference = [](int r, int g, int b) {
        const Triple lab = LabReference(r, g, b);
        const int a = lab[1] - 127, bb = lab[2] - 127;
        return Triple{lab[0], Byte(std::hypot(a, bb) * 255 / 100),
                      Byte(Degrees360(bb, a) * 255 / 360)};
    };
    // Grey has (a, b) = (-1, 0): 180 degrees, hue byte 127.
    ExpectEdgeColours(t, {{{0, 0, 0}, {155, 46, 28}, {83, 89, 216}, {255, 37, 64}, {194, 2, 127}}});
    ExpectMatchesReferenceOnGrid(t, reference);
}

TEST(LUVColorTransformation, EdgeColoursAndReference) {
    const LUVColorTransformation t;
    auto reference = [](int r, int g, int b) {
        const auto [l, du, dv] = LuvReference(r, g, b);
        return Triple{Byte(l * 255 / 100), Byte(255 * (13 * l * du + 134) / 354),
                      Byte(255 * (13 * l * dv + 140) / 262)};
    };
    // Black's chromaticity is 0/0, stored as 0.
    ExpectEdgeColours(t,
                      {{{0, 0, 0}, {155, 242, 184}, {83, 87, 10}, {255, 127, 0}, {194, 93, 143}}});
    ExpectMatchesReferenceOnGrid(t, reference);
}

TEST(SCHColorTransformation, EdgeColoursAndReference) {
    const SCHColorTransformation t;
    auto reference = [](int r, int g, int b) {
        const auto [l, du, dv] = LuvReference(r, g, b);
        const double s = 13 * std::hypot(du, dv);
        return Triple{Byte(s), Byte(s * l), Byte(Degrees360(13 * l * dv, 13 * l * du) * 255 / 360)};
    };
    // s of red is 3.2: the first channel is not scaled.
    ExpectEdgeColours(t, {{{0, 0, 0}, {3, 208, 9}, {3, 130, 187}, {1, 130, 49}, {0, 8, 82}}});
    ExpectMatchesReferenceOnGrid(t, reference);
}

const double kCieRgb[3][3] = {{0.49018626, 0.30987954, 0.1999342},
                              {0.17701522, 0.81232418, 0.0106606},
                              {0, 0.0100772, 0.9899228}};
const double kCieRgbInverse[3][3] = {{2.36353918, -0.89582361, -0.46771557},
                                     {-0.51511248, 1.42643694, 0.08867553},
                                     {0.00524373, -0.01452082, 1.00927709}};

TEST(XYZColorTransformation, EdgeColoursAndTheAdobeStep) {
    const XYZColorTransformation t;
    // The rows sum to 1, so white stays white.
    ExpectEdgeColours(t,
                      {{{0, 0, 0}, {124, 45, 0}, {50, 2, 252}, {255, 255, 255}, {128, 128, 128}}});
    ExpectMatchesReferenceOnGrid(t, MatrixReference(kCieRgb));
    EXPECT_EQ(Forward(XYZColorTransformation::AdobeRgb1998(), kWhite), (Triple{242, 255, 21}));
    Pixel out;
    t.BackwardTransformation(ToPixel({124, 45, 0}), out);
    EXPECT_EQ(Channels(out), (Triple{252, 0, 0}));  // red: R = 252.77, B = -0.003 truncates to 0
    EXPECT_EQ(out.count, 3);
    // The inverse table that the round-trip bound below relies on is the forward table's
    // inverse to its printed precision.
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double product = 0.0;
            for (int k = 0; k < 3; ++k) product += kCieRgb[i][k] * kCieRgbInverse[k][j];
            EXPECT_NEAR(product, i == j ? 1.0 : 0.0, 1e-7) << i << ", " << j;
        }
    }
}

TEST(XYZColorTransformation, RoundTripErrorIsBoundedByTheInverse) {
    const auto& inverse = kCieRgbInverse;
    // X, Y, Z each lose [0, 1) to truncation; the inverse turns that into at most the sum of
    // its positive coefficients below and of its negative ones above, and the final truncation
    // toward zero costs up to one more below. Errors are read modulo 256 because a result
    // below 0 or above 255 wraps to the other end.
    double below[3] = {}, above[3] = {};
    for (int i = 0; i < 3; ++i)
        for (double c : inverse[i]) (c > 0 ? below[i] : above[i]) += std::abs(c);
    const XYZColorTransformation t;
    ForEachRoundTrip(t, [&](const Triple& colour, const Triple& back, int) {
        for (int i = 0; i < 3; ++i) {
            const int error = ((back[i] - colour[i]) % 256 + 256 + 128) % 256 - 128;
            ASSERT_GE(error, -below[i] - 1) << i;
            ASSERT_LE(error, above[i]) << i;
        }
    });
    // So even a grey can come back three levels off: X = 118.99999999999999 truncates to 118,
    // and R = 2.36 X - 0.90 Y - 0.47 Z turns the lost 0.99 into 2.36.
    EXPECT_EQ(Backward(t, Forward(t, {119, 119, 119})), (Triple{116, 119, 118}));
    // (1, 50, 20) gives X, Y, Z = (19, 41, 20) and R = -1.18, which wraps to 255.
    EXPECT_EQ(Backward(t, Forward(t, {1, 50, 20})), (Triple{255, 50, 19}));
}

TEST(XYZColorTransformation, GivenMatrixUsesItsComputedInverse) {
    const double doubling[3][3] = {{2, 1, 0}, {0, 1, 0}, {0, 0, 1}};
    const XYZColorTransformation t(doubling);
    EXPECT_EQ(Forward(t, {10, 20, 30}), (Triple{40, 20, 30}));
    EXPECT_EQ(Backward(t, {40, 20, 30}), (Triple{10, 20, 30}));
    EXPECT_EQ(Forward(t, {200, 0, 0}), (Triple{144, 0, 0}));  // 400 wraps

    // The standard matrix given explicitly: its computed inverse agrees with the published one.
    const XYZColorTransformation given(kCieRgb), standardDefault;
    for (const Triple& c : {kRed, kBlue, kGrey, Triple{30, 140, 220}, Triple{250, 10, 90}}) {
        EXPECT_EQ(Forward(given, c), Forward(standardDefault, c));
        EXPECT_LE(MaxError(Backward(given, c), Backward(standardDefault, c)), 1);
    }

    const double singular[3][3] = {{1, 2, 3}, {2, 4, 6}, {0, 0, 1}};
    const XYZColorTransformation flat(singular);
    EXPECT_EQ(Forward(flat, {1, 1, 1}), (Triple{6, 12, 1}));
    Pixel out;
    EXPECT_THROW(flat.BackwardTransformation(ToPixel(kRed), out), std::domain_error);
    t.BackwardTransformation(ToPixel(kRed), out);
    EXPECT_EQ(out.count, 3);
}

TEST(YIQColorTransformation, EdgeColoursWrapNegativeChannels) {
    const YIQColorTransformation t;
    const double m[3][3] = {{0.29889531, 0.58662247, 0.11448223},
                            {0.59597799, -0.2741761, -0.32180189},
                            {0.21147017, -0.52261711, 0.31114694}};
    // Blue's I = -82.06 is stored as 174.
    ExpectEdgeColours(t, {{{0, 0, 0}, {76, 151, 53}, {29, 174, 79}, {255, 0, 0}, {128, 0, 0}}});
    ExpectMatchesReferenceOnGrid(t, MatrixReference(m));
}

}  // namespace
}  // namespace velkar::imageprocessing
