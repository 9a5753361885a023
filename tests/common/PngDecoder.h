#pragma once

// A small PNG reader for tests, written apart from any encoder it checks: 8-bit, non-interlaced
// files of colour type 0 (grey), 2 (RGB), 3 (palette), 4 (grey + alpha) or 6 (RGBA). pixels
// holds the samples as stored (palette indices for type 3), rows from the top. Returns nothing
// for anything else or a damaged file (a chunk whose CRC does not match, say).

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace testsupport {

struct DecodedPng {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<unsigned char> pixels;
    std::vector<std::array<unsigned char, 3>> palette;
};

inline std::optional<DecodedPng> DecodePng(std::span<const unsigned char> file) {
    const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() < 8 || !std::equal(signature, signature + 8, file.begin())) {
        return std::nullopt;
    }
    const auto read32 = [&file](std::size_t at) {
        return std::uint32_t{file[at]} << 24 | std::uint32_t{file[at + 1]} << 16 |
               std::uint32_t{file[at + 2]} << 8 | std::uint32_t{file[at + 3]};
    };
    DecodedPng png;
    std::vector<unsigned char> compressed;
    int colourType = -1;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t length = read32(at);
        if (at + 12 + length > file.size()) {
            return std::nullopt;
        }
        const std::string type(file.begin() + at + 4, file.begin() + at + 8);
        const auto data = file.subspan(at + 8, length);
        if (crc32(crc32(0L, Z_NULL, 0), file.data() + at + 4, static_cast<uInt>(length + 4)) !=
            read32(at + 8 + length)) {
            return std::nullopt;
        }
        if (type == "IHDR" && length == 13) {
            png.width = static_cast<int>(read32(at + 8));
            png.height = static_cast<int>(read32(at + 12));
            colourType = data[9];
            if (data[8] != 8 || data[12] != 0) {
                return std::nullopt;
            }
        } else if (type == "PLTE") {
            for (std::size_t i = 0; i + 3 <= length; i += 3) {
                png.palette.push_back({data[i], data[i + 1], data[i + 2]});
            }
        } else if (type == "IDAT") {
            compressed.insert(compressed.end(), data.begin(), data.end());
        }
        at += 12 + length;
    }
    const int channelsOf[] = {1, 0, 3, 1, 2, 0, 4};
    if (colourType < 0 || colourType > 6 || channelsOf[colourType] == 0 || png.width <= 0 ||
        png.height <= 0) {
        return std::nullopt;
    }
    png.channels = channelsOf[colourType];
    const std::size_t stride = static_cast<std::size_t>(png.width) * png.channels;
    std::vector<unsigned char> raw((stride + 1) * static_cast<std::size_t>(png.height));
    uLongf rawSize = raw.size();
    if (uncompress(raw.data(), &rawSize, compressed.data(), compressed.size()) != Z_OK ||
        rawSize != raw.size()) {
        return std::nullopt;
    }
    png.pixels.resize(stride * static_cast<std::size_t>(png.height));
    const auto bpp = static_cast<std::size_t>(png.channels);
    for (std::size_t y = 0; y < static_cast<std::size_t>(png.height); ++y) {
        const unsigned char filter = raw[y * (stride + 1)];
        const unsigned char* in = raw.data() + y * (stride + 1) + 1;
        unsigned char* out = png.pixels.data() + y * stride;
        const unsigned char* up = y > 0 ? out - stride : nullptr;
        for (std::size_t i = 0; i < stride; ++i) {
            const int a = i >= bpp ? out[i - bpp] : 0;
            const int b = up ? up[i] : 0;
            const int c = up && i >= bpp ? up[i - bpp] : 0;
            int prediction = 0;
            switch (filter) {
                case 0:
                    break;
                case 1:
                    prediction = a;
                    break;
                case 2:
                    prediction = b;
                    break;
                case 3:
                    prediction = (a + b) / 2;
                    break;
                case 4: {
                    const int p = a + b - c;
                    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                    prediction = pa <= pb && pa <= pc ? a : (pb <= pc ? b : c);
                    break;
                }
                default:
                    return std::nullopt;
            }
            out[i] = static_cast<unsigned char>(in[i] + prediction);
        }
    }
    return png;
}

}  // namespace testsupport
