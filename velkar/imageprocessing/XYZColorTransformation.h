#pragma once

// Linear RGB -> XYZ by a 3 x 3 matrix: out(i) = byte(R m(i,0) + G m(i,1) + B m(i,2)). The
// default matrix holds the CIE RGB primaries (rows sum to 1, so X, Y, Z stay in [0, 255]); a
// matrix given to the constructor is used as it is. Both directions set the output's count to 3.
// Backward applies the published inverse of the standard matrix, or the inverse computed from a
// given matrix (std::domain_error when it is singular). The inverse amplifies the truncation of
// X, Y, Z: backward(forward(p)) is off by -3 to +1 in R and -2 to 0 in G and B, and a result
// outside [0, 255] wraps to the other end (R at 0, 1 or 255, G or B at 0 are affected).

#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"

namespace velkar::imageprocessing {

class XYZColorTransformation : public ColorSpaceTransformation {
  public:
    XYZColorTransformation();
    explicit XYZColorTransformation(const double (&matrix)[3][3]);

    // Adobe RGB (1998) primaries: the XYZ step shared by LAB, LCH, LUV and SCH.
    static const XYZColorTransformation& AdobeRgb1998();

    void ForwardTransformation(const Pixel& in, Pixel& out) const override;
    void BackwardTransformation(const Pixel& in, Pixel& out) const override;
    std::string ShortName() const override;

  private:
    double matrix[3][3];
    bool standardMatrix;
    // Computed only for a given matrix; the standard one has its published inverse.
    double inverse[3][3] = {};
    bool invertible;
};

}  // namespace velkar::imageprocessing
