#include "velkar/featureextraction/ColorAverage.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "velkar/featureextraction/GridBatch.h"
#include "velkar/util/InvalidParameter.h"
#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

namespace {

using imageprocessing::ImageFileSystem;

const unsigned char kBlack[4] = {0, 0, 0, 0};

// What the bands hold: plain channel means; those plus the mean luminance; or mean
// chromaticities plus the mean luminance.
enum class Mode { kChannels, kLuminance, kChromaticity };

// Luminance as a whole number: 10000 times 0.2126 R + 0.7152 G + 0.0722 B.
constexpr std::int64_t kRedWeight = 2126;
constexpr std::int64_t kGreenWeight = 7152;
constexpr std::int64_t kBlueWeight = 722;
constexpr double kWeightScale = 10000.0;

// A chromaticity c = channel / (R + G + B) in double precision is 0, fl(1/3) for black, or at
// least 1/511 > 2^-9 (channel 1 against 255 + 255); its 53-bit significand then ends at 2^-61
// or above, so c * 2^62 is a whole number. Split into 31-bit halves, its sums over a tile fit 64
// bits and convert to double exactly, and a window's sum differs from the exact sum of its
// per-pixel values by one final rounding.
constexpr double kChromaticityScale = 0x1p62;
constexpr int kHalfBits = 31;
constexpr std::int64_t kLowMask = (std::int64_t{1} << kHalfBits) - 1;

// Summed-area tables cover tiles of about kTileSide x kTileSide pixels (more when one window is
// larger), which keeps the tables of a thread within a few megabytes whatever the image size.
constexpr int kTileSide = 256;
// Larger windows are summed directly: a table for one would not stay small.
constexpr int kLargestTableWindow = 512;
// Windows per task when windows are summed directly.
constexpr std::size_t kDirectChunk = 1024;

constexpr int BandCount(Mode mode) { return mode == Mode::kChannels ? 3 : 4; }

// Values a table holds per pixel: R, G, B, or the halves of three chromaticities and the
// luminance.
constexpr int TableQuantities(Mode mode) { return mode == Mode::kChromaticity ? 7 : 3; }

Mode ModeOf(bool addMonochromaticBand, bool normalize) {
    if (!addMonochromaticBand) {
        // Normalisation is tied to the monochromatic band; alone it changes nothing.
        return Mode::kChannels;
    }
    return normalize ? Mode::kChromaticity : Mode::kLuminance;
}

// Where the pixels of rows y ... y + count - 1 start at column x, and the distance between
// neighbouring pixels. A bitmap without 8-bit channel rows reads as black, as single-pixel
// reads do.
std::size_t RowStarts(const ImageFileSystem& image, int x, int y, int count,
                      const unsigned char** starts) {
    const std::size_t step = static_cast<std::size_t>(image.BytesPerPixel());
    bool black = false;
    for (int i = 0; i < count; ++i) {
        const unsigned char* row = image.Row(y + i);
        black = black || row == nullptr;
        starts[i] = row != nullptr ? row + static_cast<std::size_t>(x) * step : kBlack;
    }
    if (black) {
        std::fill(starts, starts + count, kBlack);
        return 0;
    }
    return step;
}

// The means of the window whose rows start at rows[0 ... w - 1]. Real-valued sums run column by
// column (column offset outer, row offset inner), the order in which the values have always
// been added; whole-number sums are exact in any order.
template <Mode M>
void WindowMeans(const unsigned char* const* rows, std::size_t step, int w, double* out) {
    constexpr int kRed = ImageFileSystem::kRedOffset;
    constexpr int kGreen = ImageFileSystem::kGreenOffset;
    constexpr int kBlue = ImageFileSystem::kBlueOffset;
    const double pixelCount = static_cast<double>(w) * static_cast<double>(w);
    if constexpr (M == Mode::kChannels) {
        std::int64_t sums[3] = {0, 0, 0};
        for (int i = 0; i < w; ++i) {
            const unsigned char* pixel = rows[i];
            for (int j = 0; j < w; ++j, pixel += step) {
                sums[0] += pixel[kRed];
                sums[1] += pixel[kGreen];
                sums[2] += pixel[kBlue];
            }
        }
        for (int band = 0; band < 3; ++band) {
            out[band] = static_cast<double>(sums[band]) / pixelCount;
        }
    } else {
        double sums[4] = {0.0, 0.0, 0.0, 0.0};
        for (int j = 0; j < w; ++j) {
            const std::size_t offset = static_cast<std::size_t>(j) * step;
            for (int i = 0; i < w; ++i) {
                const unsigned char* pixel = rows[i] + offset;
                const double red = pixel[kRed];
                const double green = pixel[kGreen];
                const double blue = pixel[kBlue];
                sums[3] += 0.2126 * red + 0.7152 * green + 0.0722 * blue;
                if constexpr (M == Mode::kLuminance) {
                    sums[0] += red;
                    sums[1] += green;
                    sums[2] += blue;
                } else {
                    const double total = red + green + blue;
                    if (total == 0.0) {
                        // Black is the limit of dark greys: neutral, a third for each.
                        sums[0] += 1.0 / 3.0;
                        sums[1] += 1.0 / 3.0;
                        sums[2] += 1.0 / 3.0;
                    } else {
                        sums[0] += red / total;
                        sums[1] += green / total;
                        sums[2] += blue / total;
                    }
                }
            }
        }
        for (int band = 0; band < 4; ++band) {
            out[band] = sums[band] / pixelCount;
        }
    }
}

// The values one pixel adds to the tables.
template <Mode M>
void PixelQuantities(const unsigned char* pixel, std::int64_t* quantities) {
    const int red = pixel[ImageFileSystem::kRedOffset];
    const int green = pixel[ImageFileSystem::kGreenOffset];
    const int blue = pixel[ImageFileSystem::kBlueOffset];
    if constexpr (M != Mode::kChromaticity) {
        quantities[0] = red;
        quantities[1] = green;
        quantities[2] = blue;
    } else {
        const double total = static_cast<double>(red + green + blue);
        const int channels[3] = {red, green, blue};
        for (int k = 0; k < 3; ++k) {
            const double chromaticity =
                total == 0.0 ? 1.0 / 3.0 : static_cast<double>(channels[k]) / total;
            const auto scaled = static_cast<std::int64_t>(chromaticity * kChromaticityScale);
            quantities[2 * k] = scaled >> kHalfBits;
            quantities[2 * k + 1] = scaled & kLowMask;
        }
        quantities[6] = kRedWeight * red + kGreenWeight * green + kBlueWeight * blue;
    }
}

// The means of a window from the sums of its table quantities.
template <Mode M>
void MeansFromSums(const std::int64_t* sums, double pixelCount, double* out) {
    if constexpr (M != Mode::kChromaticity) {
        for (int band = 0; band < 3; ++band) {
            out[band] = static_cast<double>(sums[band]) / pixelCount;
        }
        if constexpr (M == Mode::kLuminance) {
            const std::int64_t luminance =
                kRedWeight * sums[0] + kGreenWeight * sums[1] + kBlueWeight * sums[2];
            out[3] = static_cast<double>(luminance) / (kWeightScale * pixelCount);
        }
    } else {
        for (int band = 0; band < 3; ++band) {
            const double high = static_cast<double>(sums[2 * band]) * 0x1p-31;
            const double low = static_cast<double>(sums[2 * band + 1]) * 0x1p-62;
            out[band] = (high + low) / pixelCount;
        }
        out[3] = static_cast<double>(sums[6]) / (kWeightScale * pixelCount);
    }
}

// Builds the summed-area tables of one tile and writes the means of its asked windows. Table
// entry (row, column) holds the sums over the tile's pixels above and left of it, so row 0 and
// column 0 are zeros.
template <Mode M>
void DescribeTile(const ImageFileSystem& image, const GridBatch& batch, const GridBatch::Tile& tile,
                  std::vector<std::int64_t>& table, double* features) {
    constexpr int Q = TableQuantities(M);
    constexpr int F = BandCount(M);
    const int w = batch.Grid().WindowSize();
    const int left = batch.Left(tile);
    const int top = batch.Top(tile);
    const int regionWidth = batch.RegionWidth(tile);
    const int regionHeight = batch.RegionHeight(tile);
    const std::size_t stride = static_cast<std::size_t>(regionWidth + 1) * Q;
    table.resize(stride * static_cast<std::size_t>(regionHeight + 1));
    std::fill(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(stride), 0);

    for (int i = 0; i < regionHeight; ++i) {
        const unsigned char* pixel = nullptr;
        const std::size_t pixelStep = RowStarts(image, left, top + i, 1, &pixel);
        const std::int64_t* above = table.data() + static_cast<std::size_t>(i) * stride;
        std::int64_t* current = table.data() + static_cast<std::size_t>(i + 1) * stride;
        std::int64_t running[Q] = {};
        for (int q = 0; q < Q; ++q) {
            current[q] = 0;
        }
        std::int64_t quantities[Q];
        for (int j = 1; j <= regionWidth; ++j, pixel += pixelStep) {
            PixelQuantities<M>(pixel, quantities);
            for (int q = 0; q < Q; ++q) {
                running[q] += quantities[q];
                current[j * Q + q] = above[j * Q + q] + running[q];
            }
        }
    }

    const double pixelCount = static_cast<double>(w) * static_cast<double>(w);
    const std::size_t corner = static_cast<std::size_t>(w) * Q;
    const std::size_t rowsDown = static_cast<std::size_t>(w) * stride;
    batch.ForEachWindow(tile, [&](std::size_t n, int x, int y) {
        const std::int64_t* topLeft =
            table.data() + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * Q;
        const std::int64_t* bottomLeft = topLeft + rowsDown;
        std::int64_t sums[Q];
        for (int q = 0; q < Q; ++q) {
            sums[q] = bottomLeft[corner + q] - bottomLeft[q] - topLeft[corner + q] + topLeft[q];
        }
        MeansFromSums<M>(sums, pixelCount, features + n * static_cast<std::size_t>(F));
    });
}

template <Mode M>
void DescribeGridWith(const ImageFileSystem& image, const WindowGrid& grid, std::size_t first,
                      std::size_t count, double* features) {
    constexpr std::size_t F = BandCount(M);
    const int w = grid.WindowSize();
    if (grid.Step() >= w || w > kLargestTableWindow) {
        // Windows that do not overlap share no sums: each is added up on its own, exactly as
        // the polygon path does.
        const std::size_t chunks = (count + kDirectChunk - 1) / kDirectChunk;
        util::ParallelFor(chunks, [&](std::size_t chunk) {
            std::vector<const unsigned char*> rows(static_cast<std::size_t>(w));
            const std::size_t begin = chunk * kDirectChunk;
            const std::size_t end = std::min(count, begin + kDirectChunk);
            for (std::size_t n = begin; n < end; ++n) {
                const std::size_t step =
                    RowStarts(image, grid.X(first + n), grid.Y(first + n), w, rows.data());
                WindowMeans<M>(rows.data(), step, w, features + n * F);
            }
        });
        return;
    }
    const GridBatch batch(grid, first, count);
    // Tiles narrower than a window would mostly recompute their neighbours' sums.
    const std::vector<GridBatch::Tile> tiles =
        batch.Tiles(kTileSide, static_cast<std::size_t>((w + grid.Step() - 1) / grid.Step()));
    util::Combinable<std::vector<std::int64_t>> tables;
    util::ParallelFor(tiles.size(), [&](std::size_t index) {
        DescribeTile<M>(image, batch, tiles[index], tables.Local(), features);
    });
}

}  // namespace

ColorAverage::ColorAverage(int windowSize, bool addMonochromaticBand, bool normalize)
    : windowSize(windowSize), addMonochromaticBand(addMonochromaticBand), normalize(normalize) {
    const util::InvalidParameter::Rules rules("ColorAverage");
    rules.AtLeast("windowSize", windowSize, 1, "the window size must be at least 1");
}

std::string ColorAverage::Name() const { return "Windowed Color Average"; }

std::string ColorAverage::FileExtension() const { return "wca"; }

int ColorAverage::WindowSize() const { return windowSize; }

int ColorAverage::FeatureCount() const {
    return BandCount(ModeOf(addMonochromaticBand, normalize));
}

ColorAverage::DescriptorList ColorAverage::Process(PolygonList& polygons) {
    return ProcessPolygons(
        polygons, [this](const math::Polygon& polygon) { return ProcessPolygon(polygon); });
}

template <typename Take>
void ColorAverage::DescribeWindows(const math::Polygon& polygon, Take take) const {
    const ImageFileSystem& image = *Image();
    const Mode mode = ModeOf(addMonochromaticBand, normalize);
    std::vector<const unsigned char*> rows(static_cast<std::size_t>(windowSize));
    ForEachWindow(polygon, windowSize, [&](int x, int y) {
        const std::size_t step = RowStarts(image, x, y, windowSize, rows.data());
        double means[4];
        switch (mode) {
            case Mode::kChannels:
                WindowMeans<Mode::kChannels>(rows.data(), step, windowSize, means);
                break;
            case Mode::kLuminance:
                WindowMeans<Mode::kLuminance>(rows.data(), step, windowSize, means);
                break;
            case Mode::kChromaticity:
                WindowMeans<Mode::kChromaticity>(rows.data(), step, windowSize, means);
                break;
        }
        take(means);
    });
}

ColorAverage::DescriptorList ColorAverage::ProcessPolygon(const math::Polygon& polygon) const {
    const int bands = FeatureCount();
    DescriptorList descriptors;
    DescribeWindows(polygon, [&](const double* means) {
        auto descriptor = LabelledDescriptor(polygon, bands, 1);
        for (int band = 0; band < bands; ++band) {
            descriptor->Features()[static_cast<std::size_t>(band)][0] = means[band];
        }
        descriptors.push_back(std::move(descriptor));
    });
    return descriptors;
}

// Every polygon's windows go to a block of its own, joined in polygon order: no object per
// window.
ColorAverage::FlatDescriptors ColorAverage::DescribePolygons(PolygonList& polygons) {
    CheckPolygons(polygons);
    const std::size_t bands = static_cast<std::size_t>(FeatureCount());
    std::vector<std::vector<double>> blocks(polygons.size());
    util::ParallelFor(polygons.size(), [&](std::size_t index) {
        std::vector<double>& block = blocks[index];
        DescribeWindows(*polygons[index], [&](const double* means) {
            block.insert(block.end(), means, means + bands);
        });
    });
    FlatDescriptors flat;
    std::size_t total = 0;
    for (const auto& block : blocks) {
        total += block.size();
    }
    flat.values.reserve(total);
    flat.polygonIds.reserve(total / bands);
    for (std::size_t index = 0; index < blocks.size(); ++index) {
        flat.values.insert(flat.values.end(), blocks[index].begin(), blocks[index].end());
        flat.polygonIds.insert(flat.polygonIds.end(), blocks[index].size() / bands,
                               polygons[index]->Id());
    }
    return flat;
}

void ColorAverage::DescribeGridWindows(const WindowGrid& grid, std::size_t first, std::size_t count,
                                       double* features) {
    const ImageFileSystem& image = *Image();
    switch (ModeOf(addMonochromaticBand, normalize)) {
        case Mode::kChannels:
            DescribeGridWith<Mode::kChannels>(image, grid, first, count, features);
            break;
        case Mode::kLuminance:
            DescribeGridWith<Mode::kLuminance>(image, grid, first, count, features);
            break;
        case Mode::kChromaticity:
            DescribeGridWith<Mode::kChromaticity>(image, grid, first, count, features);
            break;
    }
}

}  // namespace velkar::featureextraction
