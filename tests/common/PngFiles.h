#pragma once

// PNG files written byte by byte for the tests: 8-bit RGB, every row of one colour, compressed
// with zlib row by row (so a picture of any size costs a row of memory), either whole or with
// its compressed data stopping after the first rows, as in a file cut short in transfer.

#include <zlib.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

inline std::string PngChunk(const std::string& type, const std::string& data) {
    std::string chunk;
    for (int shift = 24; shift >= 0; shift -= 8) {
        chunk += static_cast<char>((data.size() >> shift) & 0xff);
    }
    const std::string body = type + data;
    chunk += body;
    const auto crc =
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    for (int shift = 24; shift >= 0; shift -= 8) {
        chunk += static_cast<char>((crc >> shift) & 0xff);
    }
    return chunk;
}

// width x height pixels, row y all of colourOfRow(y); only the first rowsGiven rows are in the
// file when that is below height. Whether the file was written.
inline bool WriteRowColouredPng(
    const std::string& path, std::uint32_t width, std::uint32_t height, std::uint32_t rowsGiven,
    const std::function<std::array<unsigned char, 3>(std::uint32_t)>& colourOfRow) {
    std::string header;
    for (const std::uint32_t value : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            header += static_cast<char>((value >> shift) & 0xff);
        }
    }
    header += std::string("\x08\x02\x00\x00\x00", 5);
    z_stream stream{};
    if (deflateInit(&stream, Z_BEST_SPEED) != Z_OK) {
        return false;
    }
    std::string data;
    std::vector<unsigned char> row(1 + 3 * static_cast<std::size_t>(width));
    std::vector<unsigned char> out(1 << 16);
    const auto pump = [&](int flush) {
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            deflate(&stream, flush);
            data.append(reinterpret_cast<const char*>(out.data()), out.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    };
    const std::uint32_t rows = rowsGiven < height ? rowsGiven : height;
    for (std::uint32_t y = 0; y < rows; ++y) {
        const auto colour = colourOfRow(y);
        for (std::size_t x = 0; x < width; ++x) {
            for (std::size_t c = 0; c < 3; ++c) {
                row[1 + 3 * x + c] = colour[c];
            }
        }
        stream.next_in = row.data();
        stream.avail_in = static_cast<uInt>(row.size());
        pump(Z_NO_FLUSH);
    }
    pump(rows == height ? Z_FINISH : Z_SYNC_FLUSH);
    deflateEnd(&stream);
    std::ofstream file(path, std::ios::binary);
    file << std::string("\x89PNG\r\n\x1a\n", 8) << PngChunk("IHDR", header)
         << PngChunk("IDAT", data) << PngChunk("IEND", "");
    return static_cast<bool>(file);
}

}  // namespace testsupport
