#pragma once

// Converts one pixel from 8-bit red, green, blue (components 0-2 of `in`) into another colour
// space whose three channels are squeezed back into bytes by ToByte, so a transformed image is
// again an ordinary 8-bit three-channel image. The fourth component and the count of `out` are
// written only where a transformation says so. `in` and `out` must be distinct pixels: several
// transformations read the input again after writing part of the output. The objects hold no
// mutable state, so one object may convert pixels from several threads at once.

#include <cstdint>
#include <string>

#include "velkar/imageprocessing/Pixel.h"

namespace velkar::imageprocessing {

class ColorSpaceTransformation {
  public:
    virtual ~ColorSpaceTransformation() = default;

    virtual void ForwardTransformation(const Pixel& in, Pixel& out) const = 0;
    // The inverse conversion where the space has one; otherwise `out` is left untouched.
    virtual void BackwardTransformation(const Pixel& in, Pixel& out) const = 0;
    // Short lower-case tag of the space ("hsv", "xyz", ...).
    virtual std::string ShortName() const = 0;

  protected:
    // Every output channel goes through this: truncation toward zero to a 32-bit integer, of
    // which the low 8 bits are kept (260 -> 4, -1 -> 255). A value that is not a number,
    // infinite or outside the 32-bit range gives 0.
    static std::uint8_t ToByte(double value);

    // out(i) = ToByte(R m(i,0) + G m(i,1) + B m(i,2)) for the three rows, summed in that order.
    // Components 3 and count of `out` are not touched.
    static void ApplyMatrix(const double (&matrix)[3][3], const Pixel& in, Pixel& out);
};

}  // namespace velkar::imageprocessing
