#include "velkar/imageprocessing/PngEncoder.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace velkar::imageprocessing {

namespace {

constexpr std::size_t kChannels = 3;

void AppendBigEndian(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

void AppendChunk(std::vector<unsigned char>& out, const char (&type)[5],
                 std::span<const unsigned char> data) {
    AppendBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), out.data() + typeStart,
                            static_cast<uInt>(out.size() - typeStart));
    AppendBigEndian(out, static_cast<std::uint32_t>(crc));
}

int Paeth(int left, int up, int upLeft) {
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft) {
        return left;
    }
    return toUp <= toUpLeft ? up : upLeft;
}

// Writes filter type + filtered row for every filter into candidates[filter] and returns the
// filter whose bytes, read as signed values, have the smallest sum of magnitudes. Both rows start
// with kChannels zero bytes, the left neighbours of the first pixel; every filter is one loop
// without branches, which the compiler vectorises.
std::size_t FilterRow(const unsigned char* paddedRow, const unsigned char* paddedAbove,
                      std::size_t length, std::array<std::vector<unsigned char>, 5>& candidates) {
    const unsigned char* value = paddedRow + kChannels;
    const unsigned char* left = paddedRow;
    const unsigned char* up = paddedAbove + kChannels;
    const unsigned char* upLeft = paddedAbove;
    const auto filterWith = [&candidates, value, length](std::size_t filter, auto predict) {
        candidates[filter].resize(length + 1);
        candidates[filter][0] = static_cast<unsigned char>(filter);
        unsigned char* out = candidates[filter].data() + 1;
        long long cost = 0;
        for (std::size_t i = 0; i < length; ++i) {
            const auto residual = static_cast<unsigned char>(value[i] - predict(i));
            out[i] = residual;
            cost += std::abs(static_cast<int>(static_cast<signed char>(residual)));
        }
        return cost;
    };
    const std::array<long long, 5> cost = {
        filterWith(0, [](std::size_t) { return 0; }),
        filterWith(1, [left](std::size_t i) { return int{left[i]}; }),
        filterWith(2, [up](std::size_t i) { return int{up[i]}; }),
        filterWith(3, [left, up](std::size_t i) { return (left[i] + up[i]) / 2; }),
        filterWith(4,
                   [left, up, upLeft](std::size_t i) { return Paeth(left[i], up[i], upLeft[i]); })};
    return static_cast<std::size_t>(std::min_element(cost.begin(), cost.end()) - cost.begin());
}

}  // namespace

std::vector<unsigned char> EncodeRgbPng(int width, int height, std::span<const unsigned char> rgb,
                                        PngCompression compression) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) {
        throw std::invalid_argument("Cannot encode a picture of " + size + " pixels as PNG");
    }
    const std::size_t rowLength = static_cast<std::size_t>(width) * kChannels;
    if (rgb.size() != rowLength * static_cast<std::size_t>(height)) {
        throw std::invalid_argument("A picture of " + size + " pixels needs " +
                                    std::to_string(rowLength * static_cast<std::size_t>(height)) +
                                    " bytes of red, green and blue, not " +
                                    std::to_string(rgb.size()));
    }
    // zlib takes one call's input and output sizes as 32-bit counts.
    if ((rowLength + 1) * static_cast<std::size_t>(height) > (std::size_t{1} << 31)) {
        throw std::invalid_argument("A picture of " + size + " pixels is too large for one PNG");
    }
    std::vector<unsigned char> filtered;
    filtered.reserve((rowLength + 1) * static_cast<std::size_t>(height));
    std::array<std::vector<unsigned char>, 5> candidates;
    std::vector<unsigned char> row(kChannels + rowLength, 0);
    std::vector<unsigned char> above(kChannels + rowLength, 0);
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
        const unsigned char* pixels = rgb.data() + y * rowLength;
        if (compression == PngCompression::kStored) {
            filtered.push_back(0);
            filtered.insert(filtered.end(), pixels, pixels + rowLength);
            continue;
        }
        std::copy_n(pixels, rowLength, row.begin() + kChannels);
        const std::size_t best = FilterRow(row.data(), above.data(), rowLength, candidates);
        filtered.insert(filtered.end(), candidates[best].begin(), candidates[best].end());
        std::swap(row, above);
    }

    z_stream stream{};
    const bool stored = compression == PngCompression::kStored;
    if (deflateInit2(&stream, stored ? Z_NO_COMPRESSION : Z_BEST_SPEED, Z_DEFLATED, 15, 8,
                     stored ? Z_DEFAULT_STRATEGY : Z_RLE) != Z_OK) {
        throw std::runtime_error("Cannot start compressing a picture of " + size + " pixels");
    }
    std::vector<unsigned char> compressed(deflateBound(&stream, filtered.size()));
    stream.next_in = filtered.data();
    stream.avail_in = static_cast<uInt>(filtered.size());
    stream.next_out = compressed.data();
    stream.avail_out = static_cast<uInt>(compressed.size());
    const int status = deflate(&stream, Z_FINISH);
    compressed.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        throw std::runtime_error("Cannot compress a picture of " + size + " pixels");
    }

    std::vector<unsigned char> header;
    AppendBigEndian(header, static_cast<std::uint32_t>(width));
    AppendBigEndian(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // depth 8, truecolour, deflate, filters, none
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.reserve(compressed.size() + 64);
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", compressed);
    AppendChunk(png, "IEND", {});
    return png;
}

}  // namespace velkar::imageprocessing
