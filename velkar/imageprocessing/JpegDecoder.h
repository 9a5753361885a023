#pragma once

// Decodes a JPEG file of 8-bit grey, YCbCr, RGB or CMYK samples with libjpeg the way pictures
// have always been decoded here, so that their levels stay exactly what models were trained on:
// the fast integer inverse DCT, plain (not fancy) upsampling of subsampled chroma, and inks
// turned into red C K / 255, green M K / 255, blue Y K / 255 (rounded down) from the inverted
// values Adobe writes. The samples come pixel-interleaved, rows top-down, 1 (grey) or 3 (red,
// green, blue) per pixel. Thread-safe:
// every call has its own decoder.

#include <optional>
#include <string>
#include <vector>

namespace velkar::imageprocessing {

class JpegDecoder {
  public:
    struct Picture {
        int width = 0;
        int height = 0;
        int components = 0;
        std::vector<unsigned char> samples;
        // libjpeg's warning that the data ended before the pixels did, empty when they did not.
        std::string earlyEnd;
    };

    // None when the file is no JPEG of such samples, or holds more than maxPixels pixels (GDAL
    // decodes those). Throws std::runtime_error with libjpeg's message when the data are damaged.
    // Data that end before the pixels do stop the decode there: earlyEnd is set and the samples
    // hold only the rows decoded so far (memory is taken as rows are decoded, never for the
    // size the header declares alone).
    static std::optional<Picture> Decode(const std::string& path, long long maxPixels);
};

}  // namespace velkar::imageprocessing
