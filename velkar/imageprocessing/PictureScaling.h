#pragma once

// Scaling pictures down for display. FitWithin gives the size of a picture shrunk by one factor
// until neither side exceeds a limit. ScaleDownByAreaAverage shrinks an 8-bit picture of
// interleaved channels (rows from the top): output pixel (x, y) covers the input rectangle
// [x W / w, (x + 1) W / w) x [y H / h, (y + 1) H / h) and is the mean of the input pixels weighted
// by the part of each that lies inside it, rounded to the nearest level, so that no input pixel is
// skipped and none counts twice. ScaleDownByMajority shrinks a picture of palette indices, where
// a mean means nothing: every input pixel falls into the output pixel its centre lies in, and the
// output pixel takes the index most of them hold (the smallest index among equals).

#include <span>
#include <vector>

#include "velkar/imageprocessing/IndexedImage.h"

namespace velkar::imageprocessing {

struct PictureSize {
    int width = 0;
    int height = 0;
};

// The size itself when both sides are within maxSide, otherwise both sides times
// maxSide / longer side, rounded, and at least 1.
PictureSize FitWithin(int width, int height, int maxSide);

// Throws std::invalid_argument unless 0 < outWidth <= width, 0 < outHeight <= height, channels
// > 0 and pixels holds width * height * channels bytes.
std::vector<unsigned char> ScaleDownByAreaAverage(std::span<const unsigned char> pixels, int width,
                                                  int height, int channels, int outWidth,
                                                  int outHeight);

// The result gets the given palette (a picture does not tell its own). The same conditions on the
// sizes as ScaleDownByAreaAverage.
IndexedImage ScaleDownByMajority(const IndexedImage& picture, int outWidth, int outHeight,
                                 std::vector<IndexedImage::Colour> palette);

}  // namespace velkar::imageprocessing
