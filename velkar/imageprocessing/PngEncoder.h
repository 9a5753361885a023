#pragma once

// PNG files of 8-bit RGB pictures, for pictures that a palette cannot hold (photographs): the
// input is width x height red, green, blue triples, rows from the top, and the output the bytes
// of a PNG file of colour type 2 (truecolour, 8 bits per sample, not interlaced). Compressed
// (kFast), every row is stored with the row filter (none, sub, up, average, Paeth) whose output
// has the smallest sum of absolute values, the heuristic common encoders use for photographs, and
// then deflated with zlib's run-length strategy: on a noisy picture it is as small as zlib's
// default and about three times as fast; a flat synthetic picture comes out about four times as
// large as the default would make it, still small in bytes. kStored keeps the rows as they are,
// uncompressed, at the cost of a copy: for pictures so small that their bytes do not matter.

#include <span>
#include <vector>

namespace velkar::imageprocessing {

enum class PngCompression { kFast, kStored };

// Throws std::invalid_argument when a side is not positive or rgb does not hold
// width * height * 3 bytes, std::runtime_error when compression fails.
std::vector<unsigned char> EncodeRgbPng(int width, int height, std::span<const unsigned char> rgb,
                                        PngCompression compression = PngCompression::kFast);

}  // namespace velkar::imageprocessing
