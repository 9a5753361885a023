#pragma once

// RGB -> CMY with under-colour removal, plus a black (K) channel in the pixel's fourth
// component. With c, m, y = 1 - R/255, 1 - G/255, 1 - B/255 and k0 = min(c, m, y): 10 % of k0
// is removed from each of c, m, y, and K grows linearly from 0 at k0 = 0.3 to 0.9 at k0 = 1
// (0 below 0.3). All four are scaled to bytes; black gives (229, 229, 229) with K 229. Only
// the first three components reach an image. The count is not touched, and there is no
// backward transformation: BackwardTransformation leaves its output untouched.

#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"

namespace velkar::imageprocessing {

class CMYKColorTransformation : public ColorSpaceTransformation {
  public:
    void ForwardTransformation(const Pixel& in, Pixel& out) const override;
    void BackwardTransformation(const Pixel& in, Pixel& out) const override;
    std::string ShortName() const override;
};

}  // namespace velkar::imageprocessing
