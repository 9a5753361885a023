#pragma once

// RGB -> CIE L*a*b*, one byte per channel. The pixel first goes through the Adobe RGB (1998)
// XYZ step, whose X, Y, Z are bytes (Z of bright blue-heavy colours exceeds 255 and wraps:
// white gives (242, 255, 21)); then x = X/255/0.95045, y = Y/255, z = Z/255/1.08905 and
// out = (byte((116 f(y) - 16) * 255/100), byte(500 (f(x) - f(y)) + 127),
// byte(200 (f(y) - f(z)) + 127)) with f(t) = t^(1/3) above 0.008856, else 7.787 t + 16/116.
// Components 3 and count are not touched; BackwardTransformation leaves its output untouched.

#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"

namespace velkar::imageprocessing {

class LABColorTransformation : public ColorSpaceTransformation {
  public:
    void ForwardTransformation(const Pixel& in, Pixel& out) const override;
    void BackwardTransformation(const Pixel& in, Pixel& out) const override;
    std::string ShortName() const override;
};

}  // namespace velkar::imageprocessing
