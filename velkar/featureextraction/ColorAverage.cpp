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

// Values per window: the band means, or red, green, blue and the luminance.
template <Mode M, int kFixedBands>
int FeaturesPerWindow(int bands) {
    if constexpr (M != Mode::kChannels) {
        return 4;
    } else {
        return kFixedBands > 0 ? kFixedBands : bands;
    }
}

// The quantities a table holds per pixel when the compiler knows their count, 0 when it does not.
template <Mode M, int kFixedBands>
constexpr int kFixedQuantities = M == Mode::kChromaticity ? 7
                                 : M == Mode::kLuminance  ? 3
                                                          : kFixedBands;

// Values a table holds per pixel: the band levels, or R, G, B, or the halves of three
// chromaticities and the luminance.
template <Mode M, int kFixedBands>
int TableQuantities(int bands) {
    return kFixedQuantities<M, kFixedBands> > 0 ? kFixedQuantities<M, kFixedBands> : bands;
}

// Buffers one thread reuses from tile to tile.
struct Workspace {
    std::vector<std::int64_t> table;
    std::vector<std::int64_t> scratch;
};

Mode ModeOf(bool addMonochromaticBand, bool normalize) {
    if (!addMonochromaticBand) {
        // Normalisation is tied to the monochromatic band; alone it changes nothing.
        return Mode::kChannels;
    }
    return normalize ? Mode::kChromaticity : Mode::kLuminance;
}

// Where the pixels of rows y ... y + count - 1 start at column x, and the distance between
// neighbouring pixels.
std::size_t RowStarts(const ImageFileSystem& image, int x, int y, int count,
                      const unsigned char** starts) {
    const std::size_t step = static_cast<std::size_t>(image.BandCount());
    for (int i = 0; i < count; ++i) {
        starts[i] = image.Row(y + i) + static_cast<std::size_t>(x) * step;
    }
    return step;
}

// The means of the window whose rows start at rows[0 ... w - 1], pixels step levels apart.
// Real-valued sums run column by column (column offset outer, row offset inner), the order in
// which the values have always been added; whole-number sums are exact in any order.
template <Mode M, int kFixedBands>
void WindowMeans(const unsigned char* const* rows, std::size_t step, int w, int bands,
                 std::int64_t* scratch, double* out) {
    const double pixelCount = static_cast<double>(w) * static_cast<double>(w);
    if constexpr (M == Mode::kChannels) {
        const int count = kFixedBands > 0 ? kFixedBands : bands;
        // A local array when the band count is known, so that the sums stay in registers.
        std::int64_t fixedSums[kFixedBands > 0 ? kFixedBands : 1];
        std::int64_t* sums = kFixedBands > 0 ? fixedSums : scratch;
        std::fill(sums, sums + count, 0);
        for (int i = 0; i < w; ++i) {
            const unsigned char* pixel = rows[i];
            for (int j = 0; j < w; ++j, pixel += step) {
                for (int band = 0; band < count; ++band) {
                    sums[band] += pixel[band];
                }
            }
        }
        for (int band = 0; band < count; ++band) {
            out[band] = static_cast<double>(sums[band]) / pixelCount;
        }
    } else {
        double sums[4] = {0.0, 0.0, 0.0, 0.0};
        for (int j = 0; j < w; ++j) {
            const std::size_t offset = static_cast<std::size_t>(j) * step;
            for (int i = 0; i < w; ++i) {
                const unsigned char* pixel = rows[i] + offset;
                const double red = pixel[0];
                const double green = pixel[1];
                const double blue = pixel[2];
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
template <Mode M, int kFixedBands>
void PixelQuantities(const unsigned char* pixel, int bands, std::int64_t* quantities) {
    if constexpr (M == Mode::kChannels) {
        const int count = kFixedBands > 0 ? kFixedBands : bands;
        for (int band = 0; band < count; ++band) {
            quantities[band] = pixel[band];
        }
    } else if constexpr (M == Mode::kLuminance) {
        quantities[0] = pixel[0];
        quantities[1] = pixel[1];
        quantities[2] = pixel[2];
    } else {
        const int red = pixel[0];
        const int green = pixel[1];
        const int blue = pixel[2];
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
template <Mode M, int kFixedBands>
void MeansFromSums(const std::int64_t* sums, int bands, double pixelCount, double* out) {
    if constexpr (M != Mode::kChromaticity) {
        const int count = TableQuantities<M, kFixedBands>(bands);
        for (int band = 0; band < count; ++band) {
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

// Adds the pixels of one row of a tile, step levels apart, to the summed-area table: current[j]
// holds the quantities of the pixels of the rows above and this one left of column j, above the
// same for the rows above. Local arrays when the quantity count is known at compile time keep the
// running sums in registers; scratch holds them otherwise.
template <Mode M, int kFixedBands>
void AddRow(const unsigned char* pixel, std::size_t step, int regionWidth, int bands,
            const std::int64_t* above, std::int64_t* current, std::int64_t* scratch) {
    constexpr int kQ = kFixedQuantities<M, kFixedBands>;
    const int Q = TableQuantities<M, kFixedBands>(bands);
    std::int64_t fixedRunning[kQ > 0 ? kQ : 1] = {};
    std::int64_t fixedQuantities[kQ > 0 ? kQ : 1];
    std::int64_t* running = kQ > 0 ? fixedRunning : scratch;
    std::int64_t* quantities = kQ > 0 ? fixedQuantities : scratch + Q;
    for (int q = 0; q < Q; ++q) {
        running[q] = 0;
        current[q] = 0;
    }
    for (int j = 1; j <= regionWidth; ++j, pixel += step) {
        PixelQuantities<M, kFixedBands>(pixel, bands, quantities);
        for (int q = 0; q < Q; ++q) {
            running[q] += quantities[q];
            current[j * Q + q] = above[j * Q + q] + running[q];
        }
    }
}

// Builds the summed-area tables of one tile and writes the means of its asked windows. Table
// entry (row, column) holds the sums over the tile's pixels above and left of it, so row 0 and
// column 0 are zeros.
template <Mode M, int kFixedBands>
void DescribeTile(const ImageFileSystem& image, const GridBatch& batch, const GridBatch::Tile& tile,
                  Workspace& workspace, double* features) {
    const int bands = image.BandCount();
    const int Q = TableQuantities<M, kFixedBands>(bands);
    const std::size_t F = static_cast<std::size_t>(FeaturesPerWindow<M, kFixedBands>(bands));
    const int w = batch.Grid().WindowSize();
    const int left = batch.Left(tile);
    const int top = batch.Top(tile);
    const int regionWidth = batch.RegionWidth(tile);
    const int regionHeight = batch.RegionHeight(tile);
    const std::size_t stride = static_cast<std::size_t>(regionWidth + 1) * Q;
    std::vector<std::int64_t>& table = workspace.table;
    table.resize(stride * static_cast<std::size_t>(regionHeight + 1));
    std::fill(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(stride), 0);
    workspace.scratch.resize(3 * static_cast<std::size_t>(Q));

    for (int i = 0; i < regionHeight; ++i) {
        const unsigned char* pixel = nullptr;
        const std::size_t pixelStep = RowStarts(image, left, top + i, 1, &pixel);
        AddRow<M, kFixedBands>(pixel, pixelStep, regionWidth, bands,
                               table.data() + static_cast<std::size_t>(i) * stride,
                               table.data() + static_cast<std::size_t>(i + 1) * stride,
                               workspace.scratch.data());
    }

    const double pixelCount = static_cast<double>(w) * static_cast<double>(w);
    const std::size_t corner = static_cast<std::size_t>(w) * Q;
    const std::size_t rowsDown = static_cast<std::size_t>(w) * stride;
    constexpr int kQ = kFixedQuantities<M, kFixedBands>;
    batch.ForEachWindow(tile, [&](std::size_t n, int x, int y) {
        const std::int64_t* topLeft =
            table.data() + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * Q;
        const std::int64_t* bottomLeft = topLeft + rowsDown;
        std::int64_t fixedSums[kQ > 0 ? kQ : 1];
        std::int64_t* sums = kQ > 0 ? fixedSums : workspace.scratch.data();
        for (int q = 0; q < Q; ++q) {
            sums[q] = bottomLeft[corner + q] - bottomLeft[q] - topLeft[corner + q] + topLeft[q];
        }
        MeansFromSums<M, kFixedBands>(sums, bands, pixelCount, features + n * F);
    });
}

template <Mode M, int kFixedBands>
void DescribeGridWith(const ImageFileSystem& image, const WindowGrid& grid, std::size_t first,
                      std::size_t count, double* features) {
    const int bands = image.BandCount();
    const std::size_t F = static_cast<std::size_t>(FeaturesPerWindow<M, kFixedBands>(bands));
    const int w = grid.WindowSize();
    if (grid.Step() >= w || w > kLargestTableWindow) {
        // Windows that do not overlap share no sums: each is added up on its own, exactly as
        // the polygon path does.
        const std::size_t chunks = (count + kDirectChunk - 1) / kDirectChunk;
        util::ParallelFor(chunks, [&](std::size_t chunk) {
            std::vector<const unsigned char*> rows(static_cast<std::size_t>(w));
            std::vector<std::int64_t> scratch(static_cast<std::size_t>(bands));
            const std::size_t begin = chunk * kDirectChunk;
            const std::size_t end = std::min(count, begin + kDirectChunk);
            for (std::size_t n = begin; n < end; ++n) {
                const std::size_t step =
                    RowStarts(image, grid.X(first + n), grid.Y(first + n), w, rows.data());
                WindowMeans<M, kFixedBands>(rows.data(), step, w, bands, scratch.data(),
                                            features + n * F);
            }
        });
        return;
    }
    const GridBatch batch(grid, first, count);
    // Tiles narrower than a window would mostly recompute their neighbours' sums.
    const std::vector<GridBatch::Tile> tiles =
        batch.Tiles(kTileSide, static_cast<std::size_t>((w + grid.Step() - 1) / grid.Step()));
    util::Combinable<Workspace> workspaces;
    util::ParallelFor(tiles.size(), [&](std::size_t index) {
        DescribeTile<M, kFixedBands>(image, batch, tiles[index], workspaces.Local(), features);
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
    return ModeOf(addMonochromaticBand, normalize) == Mode::kChannels ? ImageBandCount() : 4;
}

void ColorAverage::CheckBandCount(int bandCount) const {
    if (bandCount == 3 || (!addMonochromaticBand && !normalize)) {
        return;
    }
    const std::string setting = addMonochromaticBand ? "monochromatic band (aam)"
                                                     : "normalisation (anorm)";
    throw std::invalid_argument("The color average's " + setting +
                                " needs exactly 3 bands, red, green and blue; the image has " +
                                std::to_string(bandCount));
}

ColorAverage::DescriptorList ColorAverage::Process(PolygonList& polygons) {
    return ProcessPolygons(
        polygons, [this](const math::Polygon& polygon) { return ProcessPolygon(polygon); });
}

template <typename Take>
void ColorAverage::DescribeWindows(const math::Polygon& polygon, Take take) const {
    const ImageFileSystem& image = *Image();
    const int bands = image.BandCount();
    const Mode mode = ModeOf(addMonochromaticBand, normalize);
    std::vector<const unsigned char*> rows(static_cast<std::size_t>(windowSize));
    std::vector<std::int64_t> scratch(static_cast<std::size_t>(bands));
    std::vector<double> means(static_cast<std::size_t>(std::max(bands, 4)));
    ForEachWindow(polygon, windowSize, [&](int x, int y) {
        const std::size_t step = RowStarts(image, x, y, windowSize, rows.data());
        switch (mode) {
            case Mode::kChannels:
                if (bands == 3) {
                    WindowMeans<Mode::kChannels, 3>(rows.data(), step, windowSize, bands,
                                                    scratch.data(), means.data());
                } else {
                    WindowMeans<Mode::kChannels, 0>(rows.data(), step, windowSize, bands,
                                                    scratch.data(), means.data());
                }
                break;
            case Mode::kLuminance:
                WindowMeans<Mode::kLuminance, 3>(rows.data(), step, windowSize, bands,
                                                 scratch.data(), means.data());
                break;
            case Mode::kChromaticity:
                WindowMeans<Mode::kChromaticity, 3>(rows.data(), step, windowSize, bands,
                                                    scratch.data(), means.data());
                break;
        }
        take(means.data());
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
            if (image.BandCount() == 3) {
                DescribeGridWith<Mode::kChannels, 3>(image, grid, first, count, features);
            } else {
                DescribeGridWith<Mode::kChannels, 0>(image, grid, first, count, features);
            }
            break;
        case Mode::kLuminance:
            DescribeGridWith<Mode::kLuminance, 3>(image, grid, first, count, features);
            break;
        case Mode::kChromaticity:
            DescribeGridWith<Mode::kChromaticity, 3>(image, grid, first, count, features);
            break;
    }
}

}  // namespace velkar::featureextraction
