#pragma once

// RGB -> YIQ (luma, in-phase, quadrature) by the NTSC matrix, one byte per channel. Y lies in
// [0, 255]; I and Q are signed and get no offset, so negative values wrap through the byte rule
// (an I of -82.06 is stored as 174). Components 3 and count are not touched. There is no
// backward transformation: BackwardTransformation leaves its output untouched.

#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"

namespace velkar::imageprocessing {

class YIQColorTransformation : public ColorSpaceTransformation {
  public:
    void ForwardTransformation(const Pixel& in, Pixel& out) const override;
    void BackwardTransformation(const Pixel& in, Pixel& out) const override;
    std::string ShortName() const override;
};

}  // namespace velkar::imageprocessing
