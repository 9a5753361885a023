#pragma once

// How many pixels of a rectangle of an image are absent (its mask marks them), answered in
// constant time from a summed-area table of the mask made once: entry (x, y) of the table holds
// the absent pixels of columns 0 ... x - 1 and rows 0 ... y - 1, so (Width() + 1) x (Height() + 1)
// 32-bit counts. An image without a mask, or whose mask marks nothing, keeps no table and answers
// 0 everywhere. Rectangles are clipped to the image; the part outside counts nothing. A plain
// value, safe to read from many threads.

#include <cstdint>
#include <vector>

#include "velkar/imageprocessing/ImageFileSystem.h"

namespace velkar::imageprocessing {

class AbsentPixels {
  public:
    explicit AbsentPixels(const ImageFileSystem& image);

    // Whether any pixel of the image is absent.
    bool Any() const { return !sums.empty(); }
    // The absent pixels among columns x ... x + width - 1 and rows y ... y + height - 1.
    long long Count(long long x, long long y, long long width, long long height) const;

  private:
    long long width = 0;
    long long height = 0;
    std::vector<std::uint32_t> sums;
};

}  // namespace velkar::imageprocessing
