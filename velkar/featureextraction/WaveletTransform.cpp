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
    // The grid path's restricted transform (only the coefficients the kept corner depends on,
    // with the operations of the full transform), on the runs of a polygon's windows that lie
    // side by side in a row; each window's values go where its turn in ForEachWindow puts them.
    const GridPlan plan = MakeGridPlan();
    const std::size_t length = static_cast<std::size_t>(FeatureCount());
    util::Combinable<GridScratch> scratches;
    return DescribeIntoOneBlock(
        polygons,
        [this](const math::Polygon& polygon) { return CountWindows(polygon, windowSize); },
        [&](const math::Polygon& polygon, double* out) {
            GridScratch& scratch = scratches.Local();
            std::vector<PlacedWindow>& visited = scratch.visited;
            visited.clear();
            int top = INT_MAX;
            int bottom = INT_MIN;
            ForEachWindow(polygon, windowSize, [&](int x, int y) {
                visited.push_back({y, x, visited.size() * length});
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            });
            if (visited.empty()) {
                return;
            }
            // The windows lie on rows windowSize apart and come column by column, each column
            // top down: counted into their rows, they stay left to right within a row.
            std::vector<std::size_t>& rowStarts = scratch.rowStarts;
            rowStarts.assign(static_cast<std::size_t>((bottom - top) / windowSize) + 2, 0);
            for (const PlacedWindow& window : visited) {
                ++rowStarts[static_cast<std::size_t>((window.y - top) / windowSize) + 1];
            }
            for (std::size_t row = 1; row < rowStarts.size(); ++row) {
                rowStarts[row] += rowStarts[row - 1];
            }
            std::vector<PlacedWindow>& windows = scratch.windows;
            windows.resize(visited.size());
            for (const PlacedWindow& window : visited) {
                windows[rowStarts[static_cast<std::size_t>((window.y - top) / windowSize)]++] =
                    window;
            }
            for (std::size_t first = 0; first < windows.size();) {
                std::size_t end = first + 1;
                while (end < windows.size() && windows[end].y == windows[first].y &&
                       windows[end].x == windows[end - 1].x + windowSize) {
                    ++end;
                }
                scratch.offsets.resize(end - first);
                for (std::size_t m = first; m < end; ++m) {
                    scratch.offsets[m - first] = windows[m].offset;
                }
                DescribeRun(windows[first].x, windows[first].y, end - first, windowSize, plan,
                            scratch, out);
                first = end;
            }
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
        const std::size_t length = static_cast<std::size_t>(FeatureCount());
        const std::size_t rows = batch.Grid().Rows();
        batch.ForEachRow(tiles[index], [&](const GridBatch::RowRun& run) {
            // The batch's windows go column by column.
            scratch.offsets.resize(run.count);
            for (std::size_t m = 0; m < run.count; ++m) {
                scratch.offsets[m] = (run.first + m * rows) * length;
            }
            DescribeRun(batch.Left(tiles[index]) + run.x, batch.Top(tiles[index]) + run.y,
                        run.count, batch.Grid().Step(), plan, scratch, features);
        });
    });
}

// Transform2D restricted to what the kept corner needs, for count windows side by side, step
// pixels apart, the first with its corner at (left, top); window m's values go to
// values + scratch.offsets[m]. A level transforms the columns of its block, then its rows:
// here the first level's columns are image columns shared by the windows, and everything after
// runs on chunks of windows.
void WaveletTransform::DescribeRun(int left, int top, std::size_t count, int step,
                                   const GridPlan& plan, GridScratch& scratch,
                                   double* values) const {
    const imageprocessing::ImageFileSystem& image = *Image();
    const std::size_t length = lowPass.size();
    const double* const low = lowPass.data();
    const int pad = padded.Pad();
    const std::size_t columns =
        (count - 1) * static_cast<std::size_t>(step) + static_cast<std::size_t>(windowSize);
    const std::size_t firstOutputs = static_cast<std::size_t>(plan.outputs[0]);
    const int bands = image.BandCount();
    const std::size_t stride = static_cast<std::size_t>(bands);
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

        for (std::size_t chunk0 = 0; chunk0 < count; chunk0 += kGridChunk) {
            const std::size_t windows = std::min(kGridChunk, count - chunk0);
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
                double* const target = values + scratch.offsets[chunk0 + m] +
                                       static_cast<std::size_t>(band) * k * k;
                for (std::size_t u = 0; u < k; ++u) {
                    for (std::size_t v = 0; v < k; ++v) {
                        target[u * k + v] = scratch.block[(u * extent + v) * kGridChunk + m];
                    }
                }
            }
        }
    }
}

}  // namespace velkar::featureextraction
