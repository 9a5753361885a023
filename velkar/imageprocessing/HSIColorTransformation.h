#pragma once

// RGB <-> HSI, one byte per channel. Hue: theta = arccos((2R - G - B) / (2 (sqrt((R - G)^2 +
// (G - B)(R - B)) + 0.00001))) with integer sums inside, H = theta, or 2 pi - theta when B > G,
// stored as byte(H / 2 pi * 255); saturation byte((1 - 3 min / (R + G + B + 0.00001)) * 255);
// intensity (R + G + B) / 3 in integer division. Grey has hue 63; black is (63, 255, 0).
// Backward: at angle a into the 120-degree sector starting at red, green or blue, that channel
// is I (1 + S cos a / cos(60 deg - a)), the one cyclically before it I (1 - S), the one after
// 3I minus both. Each is rounded and limited to [0, 255]: the truncated hue and intensity put
// some edge colours a little outside the cube, and triples no colour produces (full saturation
// with intensity above 170) far outside. Components 3 and count are not touched.

#include <string>

#include "velkar/imageprocessing/ColorSpaceTransformation.h"

namespace velkar::imageprocessing {

class HSIColorTransformation : public ColorSpaceTransformation {
  public:
    void ForwardTransformation(const Pixel& in, Pixel& out) const override;
    void BackwardTransformation(const Pixel& in, Pixel& out) const override;
    std::string ShortName() const override;
};

}  // namespace velkar::imageprocessing
