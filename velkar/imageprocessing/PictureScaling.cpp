#include "velkar/imageprocessing/PictureScaling.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

namespace velkar::imageprocessing {

namespace {

void CheckSizes(int width, int height, int outWidth, int outHeight) {
    if (outWidth <= 0 || outHeight <= 0 || outWidth > width || outHeight > height) {
        throw std::invalid_argument("Cannot scale a picture of " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels down to " +
                                    std::to_string(outWidth) + " x " + std::to_string(outHeight));
    }
}

// The input pixels an output pixel covers along one axis, and the part of each inside it, in
// input pixels (the parts of one output pixel add up to size / outSize).
struct Span {
    int first = 0;
    std::vector<double> weights;
};

std::vector<Span> Spans(int size, int outSize) {
    const double scale = static_cast<double>(size) / outSize;
    std::vector<Span> spans(static_cast<std::size_t>(outSize));
    for (int out = 0; out < outSize; ++out) {
        const double start = out * scale;
        const double end = out + 1 == outSize ? size : (out + 1) * scale;
        Span& span = spans[static_cast<std::size_t>(out)];
        span.first = static_cast<int>(std::floor(start));
        for (int in = span.first; in < size && in < end; ++in) {
            span.weights.push_back(std::min<double>(in + 1, end) - std::max<double>(in, start));
        }
    }
    return spans;
}

// Where the input pixels of every output pixel begin along one axis (outSize + 1 entries, the
// last one size): each input pixel belongs to the output pixel its centre lies in, and since an
// output pixel is at least one input pixel long, none is left empty.
std::vector<int> CellStarts(int size, int outSize) {
    std::vector<int> starts(static_cast<std::size_t>(outSize) + 1, size);
    for (int in = size - 1; in >= 0; --in) {
        starts[static_cast<std::size_t>((2LL * in + 1) * outSize / (2LL * size))] = in;
    }
    return starts;
}

}  // namespace

PictureSize FitWithin(int width, int height, int maxSide) {
    const int longer = std::max(width, height);
    if (longer <= maxSide) {
        return {width, height};
    }
    const double factor = static_cast<double>(maxSide) / longer;
    const auto side = [factor](int length) {
        return std::max(1, static_cast<int>(std::lround(length * factor)));
    };
    return {side(width), side(height)};
}

std::vector<unsigned char> ScaleDownByAreaAverage(std::span<const unsigned char> pixels, int width,
                                                  int height, int channels, int outWidth,
                                                  int outHeight) {
    CheckSizes(width, height, outWidth, outHeight);
    const auto rowLength = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    if (channels <= 0 || pixels.size() != rowLength * static_cast<std::size_t>(height)) {
        throw std::invalid_argument("A picture of " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels of " +
                                    std::to_string(channels) + " channels cannot have " +
                                    std::to_string(pixels.size()) + " bytes");
    }
    const std::vector<Span> columns = Spans(width, outWidth);
    const std::vector<Span> rows = Spans(height, outHeight);
    const auto channelCount = static_cast<std::size_t>(channels);
    const std::size_t outRowLength = static_cast<std::size_t>(outWidth) * channelCount;
    // Each input row is first reduced to the output's columns, then added into the output rows it
    // overlaps.
    std::vector<double> narrowRow(outRowLength);
    std::vector<double> sums(outRowLength * static_cast<std::size_t>(outHeight), 0.0);
    std::size_t outRow = 0;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = pixels.data() + static_cast<std::size_t>(y) * rowLength;
        for (std::size_t x = 0; x < columns.size(); ++x) {
            for (std::size_t c = 0; c < channelCount; ++c) {
                double sum = 0.0;
                const unsigned char* in =
                    row + static_cast<std::size_t>(columns[x].first) * channelCount + c;
                for (const double weight : columns[x].weights) {
                    sum += weight * *in;
                    in += channelCount;
                }
                narrowRow[x * channelCount + c] = sum;
            }
        }
        while (rows[outRow].first + static_cast<int>(rows[outRow].weights.size()) <= y) {
            ++outRow;
        }
        for (std::size_t r = outRow; r < rows.size() && rows[r].first <= y; ++r) {
            const double weight = rows[r].weights[static_cast<std::size_t>(y - rows[r].first)];
            double* out = sums.data() + r * outRowLength;
            for (std::size_t i = 0; i < outRowLength; ++i) {
                out[i] += weight * narrowRow[i];
            }
        }
    }
    const double area = static_cast<double>(width) / outWidth * height / outHeight;
    std::vector<unsigned char> result(sums.size());
    for (std::size_t i = 0; i < sums.size(); ++i) {
        result[i] = static_cast<unsigned char>(std::clamp(std::lround(sums[i] / area), 0L, 255L));
    }
    return result;
}

IndexedImage ScaleDownByMajority(const IndexedImage& picture, int outWidth, int outHeight,
                                 std::vector<IndexedImage::Colour> palette) {
    CheckSizes(picture.Width(), picture.Height(), outWidth, outHeight);
    const std::vector<int> columnStarts = CellStarts(picture.Width(), outWidth);
    const std::vector<int> rowStarts = CellStarts(picture.Height(), outHeight);
    IndexedImage result(outWidth, outHeight);
    result.SetPalette(std::move(palette));
    std::array<int, 256> votes{};
    std::vector<unsigned char> seen;
    for (std::size_t outY = 0; outY + 1 < rowStarts.size(); ++outY) {
        for (std::size_t outX = 0; outX + 1 < columnStarts.size(); ++outX) {
            for (int y = rowStarts[outY]; y < rowStarts[outY + 1]; ++y) {
                for (int x = columnStarts[outX]; x < columnStarts[outX + 1]; ++x) {
                    const unsigned char index = picture.Index(x, y);
                    if (votes[index]++ == 0) {
                        seen.push_back(index);
                    }
                }
            }
            unsigned char winner = seen.front();
            for (const unsigned char index : seen) {
                if (votes[index] > votes[winner] ||
                    (votes[index] == votes[winner] && index < winner)) {
                    winner = index;
                }
            }
            for (const unsigned char index : seen) {
                votes[index] = 0;
            }
            seen.clear();
            result.Fill(static_cast<int>(outX), static_cast<int>(outY), 1, 1, winner);
        }
    }
    return result;
}

}  // namespace velkar::imageprocessing
