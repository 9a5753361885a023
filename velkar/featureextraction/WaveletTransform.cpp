#include "velkar/featureextraction/WaveletTransform.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "velkar/featureextraction/FourierTransform.h"
#include "velkar/featureextraction/WaveletFilters.h"
#include "velkar/util/InvalidParameter.h"
#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

namespace {

// The grid path's tiles are about this many pixels a side, and it transforms this many windows
// of a row at a time, side by side.
constexpr int kGridTileSide = 256;
constexpr std::size_t kGridChunk = 32;

// Position p of a line of n samples extended by whole-sample symmetric reflection
// (..., 2, 1, | 0, 1, ..., n - 1, | n - 2, ...), repeated with period 2n - 2 for filters that
// reach further than one reflection; a one-sample line repeats its sample.
int Reflect(int p, int n) {
    if (n == 1) {
        return 0;
    }
    const int period = 2 * n - 2;
    int q = p % period;
    if (q < 0) {
        q += period;
    }
    return q < n ? q : period - q;
}

std::string JoinedNames() {
    std::string names;
    for (const WaveletFilterPair& entry : WaveletFilterCatalogue()) {
        names += (names.empty() ? "" : ", ") + std::string(entry.name);
    }
    return names;
}

// The scale, checked before the window size is.
int AtLeastOneLevel(int scale) {
    util::InvalidParameter::Rules("WaveletTransform")
        .AtLeast("scale", scale, 1, "at least one decomposition level is needed");
    return scale;
}

}  // namespace

WaveletTransform::WaveletTransform(int windowSize, int scale, std::string waveletName)
    : windowSize(windowSize),
      scale(AtLeastOneLevel(scale)),
      offset(0),
      waveletName(std::move(waveletName)),
      padded(windowSize),
      kept(0) {
    const int largest = MaximumScale(windowSize);
    const util::InvalidParameter::Rules rules("WaveletTransform");
    rules.AtMost("scale", scale, largest,
                 "2^{scale} must not exceed the window padded to a power of two: at most " +
                     std::to_string(largest) + " for window size " + std::to_string(windowSize));
    const WaveletFilterPair* filters = FindWaveletFilters(this->waveletName);
    if (filters == nullptr) {
        throw util::InvalidParameter("WaveletTransform", "waveletName", this->waveletName,
                                     "valid names: " + JoinedNames());
    }
    lowPass.assign(filters->lowPass.begin(), filters->lowPass.end());
    highPass.assign(filters->highPass.begin(), filters->highPass.end());
    // Centres the filters on the pair of samples each step reduces (0 for the two-tap filters).
    offset = static_cast<int>(lowPass.size()) / 2 - 1;
    // The kept corner's side is the integer square root, as for the Fourier coefficients.
    kept = FourierTransform::KeptFrequencies(padded.Side() >> scale);
}

std::string WaveletTransform::Name() const { return "Discrete Wavelet Transform"; }

std::string WaveletTransform::FileExtension() const { return waveletName + ".dwt"; }

int WaveletTransform::WindowSize() const { return windowSize; }

int WaveletTransform::FeatureCount() const { return ImageBandCount() * kept * kept; }

void WaveletTransform::CheckBandCount(int bandCount) const {
    if (static_cast<long long>(bandCount) * kept * kept > INT_MAX) {
        throw std::invalid_argument("The wavelet descriptor of " + std::to_string(kept) + " x " +
                                    std::to_string(kept) + " coefficients over " +
                                    std::to_string(bandCount) +
                                    " bands holds more values than can be counted");
    }
}

std::vector<std::string> WaveletTransform::WaveletNames() {
    std::vector<std::string> names;
    for (const WaveletFilterPair& entry : WaveletFilterCatalogue()) {
        names.emplace_back(entry.name);
    }
    return names;
}

int WaveletTransform::MaximumScale(int windowSize) {
    // Beyond log2(N) levels the approximation block would be empty.
    int levels = 0;
    for (int side = PaddedWindow(windowSize).Side(); side > 1; side /= 2) {
        ++levels;
    }
    return levels;
}

WaveletTransform::DescriptorList WaveletTransform::Process(PolygonList& polygons) {
    util::Combinable<Scratch> scratch;
    return ProcessPolygons(polygons, [&](const math::Polygon& polygon) {
        return ProcessPolygon(polygon, scratch.Local());
    });
}

WaveletTransform::FlatDescriptors WaveletTransform::DescribePolygons(PolygonList& polygons) {
    CheckPolygons(polygons);
    util::Combinable<Scratch> scratches;
    util::Combinable<Descriptor> windows(
        [this] { return Descriptor(ImageBandCount(), kept * kept); });
    return DescribeIntoOneBlock(
        polygons,
        [this](const math::Polygon& polygon) { return CountWindows(polygon, windowSize); },
        [&](const math::Polygon& polygon, double* out) {
            Scratch& scratch = scratches.Local();
            Descriptor& window = windows.Local();
            ForEachWindow(polygon, windowSize, [&](int x, int y) {
                DescribeWindow(x, y, scratch, window);
                for (const std::vector<double>& band : window.Features()) {
                    out = std::copy(band.begin(), band.end(), out);
                }
            });
        });
}

WaveletTransform::DescriptorList WaveletTransform::ProcessPolygon(const math::Polygon& polygon,
                                                                  Scratch& scratch) const {
    DescriptorList descriptors;
    ForEachWindow(polygon, windowSize, [&](int x, int y) {
        auto descriptor = LabelledDescriptor(polygon, ImageBandCount(), kept * kept);
        DescribeWindow(x, y, scratch, *descriptor);
        descriptors.push_back(std::move(descriptor));
    });
    return descriptors;
}

void WaveletTransform::DescribeWindow(int x, int y, Scratch& scratch,
                                      Descriptor& descriptor) const {
    const std::size_t side = static_cast<std::size_t>(padded.Side());
    scratch.square.resize(side * side);
    scratch.line.resize(side);
    scratch.transformed.resize(side);
    const std::size_t k = static_cast<std::size_t>(kept);
    const int bands = static_cast<int>(descriptor.Features().size());
    for (int band = 0; band < bands; ++band) {
        double* const square = scratch.square.data();
        LoadBand(x, y, band, square);
        Transform2D(square, scratch);
        std::vector<double>& values = descriptor.Features()[static_cast<std::size_t>(band)];
        for (std::size_t u = 0; u < k; ++u) {
            for (std::size_t v = 0; v < k; ++v) {
                values[u * k + v] = square[u * side + v];
            }
        }
    }
}

void WaveletTransform::LoadBand(int x, int y, int band, double* square) const {
    const imageprocessing::ImageFileSystem& image = *Image();
    const std::size_t side = static_cast<std::size_t>(padded.Side());
    const std::size_t pad = static_cast<std::size_t>(padded.Pad());
    const std::size_t bands = static_cast<std::size_t>(image.BandCount());
    std::fill(square, square + side * side, 0.0);
    for (int j = 0; j < windowSize; ++j) {
        const unsigned char* pixel =
            image.Row(y + j) + static_cast<std::size_t>(x) * bands + static_cast<std::size_t>(band);
        double* target = square + pad * side + pad + static_cast<std::size_t>(j);
        for (int i = 0; i < windowSize; ++i) {
            *target = *pixel;
            pixel += bands;
            target += side;
        }
    }
}

void WaveletTransform::Transform2D(double* square, Scratch& scratch) const {
    const std::size_t side = static_cast<std::size_t>(padded.Side());
    double* const line = scratch.line.data();
    double* const transformed = scratch.transformed.data();
    int block = padded.Side();
    for (int level = 0; level < scale; ++level) {
        const std::size_t extent = static_cast<std::size_t>(block);
        // Before the first level only the window's own lines hold pixels; the padding lines are
        // +0.0 and would transform to +0.0.
        const std::size_t pad = static_cast<std::size_t>(padded.Pad());
        const std::size_t firstLine = level == 0 ? pad : 0;
        const std::size_t endLine =
            level == 0 ? pad + static_cast<std::size_t>(windowSize) : extent;
        for (std::size_t column = firstLine; column < endLine; ++column) {
            double* const values = square + column * side;
            Transform1D(values, block, transformed);
            std::copy(transformed, transformed + extent, values);
        }
        for (std::size_t row = 0; row < extent; ++row) {
            for (std::size_t column = 0; column < extent; ++column) {
                line[column] = square[column * side + row];
            }
            Transform1D(line, block, transformed);
            for (std::size_t column = 0; column < extent; ++column) {
                square[column * side + row] = transformed[column];
            }
        }
        block /= 2;
    }
}

void WaveletTransform::Transform1D(double* line, int n, double* transformed) const {
    const int length = static_cast<int>(lowPass.size());
    const double* const low = lowPass.data();
    const double* const high = highPass.data();
    const int half = n / 2;
    for (int i = 0; i < half; ++i) {
        const int start = 2 * i - offset;
        double approximation = 0.0;
        double detail = 0.0;
        if (start >= 0 && start + length <= n) {
            const double* const samples = line + start;
            for (int t = 0; t < length; ++t) {
                approximation += low[t] * samples[t];
                detail += high[t] * samples[t];
            }
        } else {
            for (int t = 0; t < length; ++t) {
                const double sample = line[Reflect(start + t, n)];
                approximation += low[t] * sample;
                detail += high[t] * sample;
            }
        }
        transformed[i] = approximation;
        transformed[half + i] = detail;
    }
}

WaveletTransform::GridPlan WaveletTransform::MakeGridPlan() const {
    const int length = static_cast<int>(lowPass.size());
    GridPlan plan;
    plan.outputs.assign(static_cast<std::size_t>(scale), 0);
    plan.inputs.assign(static_cast<std::size_t>(scale), 0);
    plan.taps.resize(static_cast<std::size_t>(scale));
    int needed = kept;
    for (int level = scale - 1; level >= 0; --level) {
        const std::size_t l = static_cast<std::size_t>(level);
        const int n = padded.Side() >> level;
        plan.outputs[l] = needed;
        int inputs = 0;
        for (int i = 0; i < needed; ++i) {
            const int start = 2 * i - offset;
            for (int t = 0; t < length; ++t) {
                // Transform1D reads lines straight where the filter fits and reflects otherwise;
                // both read the same samples there.
                const int tap =
                    start >= 0 && start + length <= n ? start + t : Reflect(start + t, n);
                plan.taps[l].push_back(tap);
                inputs = std::max(inputs, tap + 1);
            }
        }
        plan.inputs[l] = inputs;
        needed = inputs;
    }
    return plan;
}

void WaveletTransform::DescribeGridWindows(const WindowGrid& grid, std::size_t first,
                                           std::size_t count, double* features) {
    const GridPlan plan = MakeGridPlan();
    const GridBatch batch(grid, first, count);
    const std::vector<GridBatch::Tile> tiles = batch.Tiles(
        kGridTileSide, static_cast<std::size_t>((windowSize + grid.Step() - 1) / grid.Step()));
    util::Combinable<GridScratch> scratches;
    util::ParallelFor(tiles.size(), [&](std::size_t index) {
        GridScratch& scratch = scratches.Local();
        batch.ForEachRow(tiles[index], [&](const GridBatch::RowRun& run) {
            DescribeGridRow(batch, tiles[index], run, plan, scratch, features);
        });
    });
}

// Transform2D restricted to what the kept corner needs, for the windows of one grid row. A
// level transforms the columns of its block, then its rows: here the first level's columns are
// image columns shared by the row's windows, and everything after runs on chunks of windows.
void WaveletTransform::DescribeGridRow(const GridBatch& batch, const GridBatch::Tile& tile,
                                       const GridBatch::RowRun& run, const GridPlan& plan,
                                       GridScratch& scratch, double* features) const {
    const imageprocessing::ImageFileSystem& image = *Image();
    const std::size_t length = lowPass.size();
    const double* const low = lowPass.data();
    const int pad = padded.Pad();
    const int step = batch.Grid().Step();
    const int left = batch.Left(tile) + run.x;
    const int top = batch.Top(tile) + run.y;
    const std::size_t columns =
        (run.count - 1) * static_cast<std::size_t>(step) + static_cast<std::size_t>(windowSize);
    const std::size_t firstOutputs = static_cast<std::size_t>(plan.outputs[0]);
    const int bands = image.BandCount();
    const std::size_t stride = static_cast<std::size_t>(bands);
    const std::size_t featureCount = static_cast<std::size_t>(FeatureCount());
    const std::size_t rows = batch.Grid().Rows();
    const std::size_t k = static_cast<std::size_t>(kept);
    // A line of the padded square holds window pixels at pad ... pad + w - 1 and zeros around.
    const auto inWindow = [&](int position) {
        return position >= pad && position < pad + windowSize;
    };

    for (int band = 0; band < bands; ++band) {
        // The first level's column coefficients, [i][X]: coefficient i of image column
        // left + X over rows top ... top + w - 1.
        scratch.columns.assign(firstOutputs * columns, 0.0);
        const std::vector<int>& taps = plan.taps[0];
        for (std::size_t i = 0; i < firstOutputs; ++i) {
            double* const out = scratch.columns.data() + i * columns;
            for (std::size_t t = 0; t < length; ++t) {
                const int tap = taps[i * length + t];
                const double coefficient = low[t];
                if (!inWindow(tap)) {
                    for (std::size_t x = 0; x < columns; ++x) {
                        out[x] += coefficient * 0.0;
                    }
                    continue;
                }
                const unsigned char* row = image.Row(top + tap - pad) +
                                           static_cast<std::size_t>(left) * stride +
                                           static_cast<std::size_t>(band);
                for (std::size_t x = 0; x < columns; ++x) {
                    out[x] += coefficient * static_cast<double>(row[x * stride]);
                }
            }
        }

        for (std::size_t chunk0 = 0; chunk0 < run.count; chunk0 += kGridChunk) {
            const std::size_t windows = std::min(kGridChunk, run.count - chunk0);
            // The first level's rows: block [i][r][m], coefficient i along row r of window m.
            std::size_t extent = firstOutputs;
            scratch.block.assign(extent * extent * kGridChunk, 0.0);
            for (std::size_t r = 0; r < extent; ++r) {
                const double* const line = scratch.columns.data() + r * columns;
                for (std::size_t i = 0; i < extent; ++i) {
                    double* const out = scratch.block.data() + (i * extent + r) * kGridChunk;
                    for (std::size_t t = 0; t < length; ++t) {
                        const int tap = taps[i * length + t];
                        const double coefficient = low[t];
                        if (!inWindow(tap)) {
                            for (std::size_t m = 0; m < windows; ++m) {
                                out[m] += coefficient * 0.0;
                            }
                            continue;
                        }
                        const double* const samples = line +
                                                      chunk0 * static_cast<std::size_t>(step) +
                                                      static_cast<std::size_t>(tap - pad);
                        for (std::size_t m = 0; m < windows; ++m) {
                            out[m] += coefficient * samples[m * static_cast<std::size_t>(step)];
                        }
                    }
                }
            }
            for (std::size_t level = 1; level < plan.outputs.size(); ++level) {
                const std::size_t outputs = static_cast<std::size_t>(plan.outputs[level]);
                const std::size_t inputs = static_cast<std::size_t>(plan.inputs[level]);
                const std::vector<int>& levelTaps = plan.taps[level];
                // The previous block is inputs x inputs; its columns first, into [c][i][m].
                scratch.transformed.assign(inputs * outputs * kGridChunk, 0.0);
                for (std::size_t c = 0; c < inputs; ++c) {
                    for (std::size_t i = 0; i < outputs; ++i) {
                        double* const out =
                            scratch.transformed.data() + (c * outputs + i) * kGridChunk;
                        for (std::size_t t = 0; t < length; ++t) {
                            const double* const in =
                                scratch.block.data() +
                                (c * extent + static_cast<std::size_t>(levelTaps[i * length + t])) *
                                    kGridChunk;
                            for (std::size_t m = 0; m < windows; ++m) {
                                out[m] += low[t] * in[m];
                            }
                        }
                    }
                }
                // Then its rows, into the next block [i][r][m].
                scratch.block.assign(outputs * outputs * kGridChunk, 0.0);
                for (std::size_t r = 0; r < outputs; ++r) {
                    for (std::size_t i = 0; i < outputs; ++i) {
                        double* const out = scratch.block.data() + (i * outputs + r) * kGridChunk;
                        for (std::size_t t = 0; t < length; ++t) {
                            const double* const in =
                                scratch.transformed.data() +
                                (static_cast<std::size_t>(levelTaps[i * length + t]) * outputs +
                                 r) *
                                    kGridChunk;
                            for (std::size_t m = 0; m < windows; ++m) {
                                out[m] += low[t] * in[m];
                            }
                        }
                    }
                }
                extent = outputs;
            }
            for (std::size_t m = 0; m < windows; ++m) {
                double* const values = features + (run.first + (chunk0 + m) * rows) * featureCount +
                                       static_cast<std::size_t>(band) * k * k;
                for (std::size_t u = 0; u < k; ++u) {
                    for (std::size_t v = 0; v < k; ++v) {
                        values[u * k + v] = scratch.block[(u * extent + v) * kGridChunk + m];
                    }
                }
            }
        }
    }
}

}  // namespace velkar::featureextraction
