#include "velkar/imageprocessing/XYZColorTransformation.h"

#include <cmath>
#include <stdexcept>

namespace velkar::imageprocessing {

namespace {

constexpr double kCieRgbToXyz[3][3] = {{0.49018626, 0.30987954, 0.1999342},
                                       {0.17701522, 0.81232418, 0.0106606},
                                       {0.0, 0.0100772, 0.9899228}};

// Used as published rather than recomputed, so the standard backward step is reproducible.
constexpr double kXyzToCieRgb[3][3] = {{2.36353918, -0.89582361, -0.46771557},
                                       {-0.51511248, 1.42643694, 0.08867553},
                                       {0.00524373, -0.01452082, 1.00927709}};

constexpr double kAdobeRgbToXyz[3][3] = {{0.5767309, 0.185554, 0.1881852},
                                         {0.2973769, 0.6273491, 0.0752741},
                                         {0.0270343, 0.0706872, 0.9911085}};

void Copy(const double (&from)[3][3], double (&to)[3][3]) {
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            to[row][column] = from[row][column];
        }
    }
}

// Adjugate over determinant; false when the matrix has no finite inverse.
bool Invert(const double (&m)[3][3], double (&result)[3][3]) {
    const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    const double determinant = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
    if (determinant == 0.0 || !std::isfinite(determinant)) {
        return false;
    }
    result[0][0] = c00 / determinant;
    result[1][0] = c01 / determinant;
    result[2][0] = c02 / determinant;
    result[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / determinant;
    result[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / determinant;
    result[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / determinant;
    result[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / determinant;
    result[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / determinant;
    result[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / determinant;
    for (const auto& row : result) {
        for (double value : row) {
            if (!std::isfinite(value)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

XYZColorTransformation::XYZColorTransformation() : standardMatrix(true), invertible(true) {
    Copy(kCieRgbToXyz, matrix);
}

XYZColorTransformation::XYZColorTransformation(const double (&given)[3][3])
    : standardMatrix(false) {
    Copy(given, matrix);
    invertible = Invert(matrix, inverse);
}

const XYZColorTransformation& XYZColorTransformation::AdobeRgb1998() {
    static const XYZColorTransformation adobe(kAdobeRgbToXyz);
    return adobe;
}

void XYZColorTransformation::ForwardTransformation(const Pixel& in, Pixel& out) const {
    ApplyMatrix(matrix, in, out);
    out.count = 3;
}

void XYZColorTransformation::BackwardTransformation(const Pixel& in, Pixel& out) const {
    if (!invertible) {
        throw std::domain_error(
            "XYZ backward transformation: the matrix given to the constructor is singular");
    }
    ApplyMatrix(standardMatrix ? kXyzToCieRgb : inverse, in, out);
    out.count = 3;
}

std::string XYZColorTransformation::ShortName() const { return "xyz"; }

}  // namespace velkar::imageprocessing
