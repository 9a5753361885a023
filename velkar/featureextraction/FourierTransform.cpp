#include "velkar/featureextraction/FourierTransform.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "velkar/util/InvalidParameter.h"
#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

namespace {

// The largest k with 3 k^2 <= 2^31 - 1.
constexpr long long kLargestKept = 26754;
// The grid path's tiles are about this many pixels a side.
constexpr int kGridTileSide = 256;

}  // namespace

FourierTransform::FourierTransform(int windowSize, int coefficients)
    : windowSize(windowSize),
      coefficients(coefficients),
      padded(windowSize),
      kept(KeptFrequencies(coefficients)) {
    const int largest = MaximumCoefficients(windowSize);
    if (coefficients < 1 || coefficients > largest) {
        throw util::InvalidParameter(
            "FourierTransform", "coefficients", std::to_string(coefficients),
            "floor(sqrt({coefficients})) frequencies are kept along each axis of the window "
            "padded to a power of two, so it must lie between 1 and " +
                std::to_string(largest) + " for window size " + std::to_string(windowSize));
    }
}

std::string FourierTransform::Name() const { return "Discrete Fourier Transform"; }

std::string FourierTransform::FileExtension() const { return "dft"; }

int FourierTransform::WindowSize() const { return windowSize; }

int FourierTransform::FeatureCount() const { return ImageBandCount() * kept * kept; }

void FourierTransform::CheckBandCount(int bandCount) const {
    if (static_cast<long long>(bandCount) * kept * kept > INT_MAX) {
        throw std::invalid_argument("The Fourier descriptor of " + std::to_string(kept) + " x " +
                                    std::to_string(kept) + " coefficients over " +
                                    std::to_string(bandCount) +
                                    " bands holds more values than can be counted");
    }
}

int FourierTransform::KeptFrequencies(int coefficients) {
    if (coefficients < 1) {
        return 0;
    }
    const long long count = coefficients;
    long long root = static_cast<long long>(std::sqrt(static_cast<double>(count)));
    while (root * root > count) {
        --root;
    }
    while ((root + 1) * (root + 1) <= count) {
        ++root;
    }
    return static_cast<int>(root);
}

int FourierTransform::MaximumCoefficients(int windowSize) {
    // Beyond N the kept block would reach past the spectrum.
    const long long side = std::min<long long>(PaddedWindow(windowSize).Side(), kLargestKept);
    return static_cast<int>(std::min<long long>((side + 1) * (side + 1) - 1, INT_MAX));
}

FourierTransform::Twiddles FourierTransform::TwiddlesForImage() const {
    const auto& image = Image();
    if (image && windowSize <= image->Width() && windowSize <= image->Height()) {
        return MakeTwiddles();
    }
    return {};
}

FourierTransform::DescriptorList FourierTransform::Process(PolygonList& polygons) {
    const Twiddles twiddles = TwiddlesForImage();
    util::Combinable<Scratch> scratch;
    return ProcessPolygons(polygons, [&](const math::Polygon& polygon) {
        return ProcessPolygon(polygon, twiddles, scratch.Local());
    });
}

FourierTransform::FlatDescriptors FourierTransform::DescribePolygons(PolygonList& polygons) {
    CheckPolygons(polygons);
    const Twiddles twiddles = TwiddlesForImage();
    util::Combinable<Scratch> scratches;
    util::Combinable<Descriptor> windows(
        [this] { return Descriptor(ImageBandCount(), kept * kept); });
    return DescribeIntoOneBlock(
        polygons,
        [this](const math::Polygon& polygon) { return CountWindows(polygon, windowSize, true); },
        [&](const math::Polygon& polygon, double* out) {
            Scratch& scratch = scratches.Local();
            Descriptor& window = windows.Local();
            ForEachCoveredWindow(polygon, windowSize, [&](int x, int y) {
                DescribeWindow(x, y, twiddles, scratch, window);
                for (const std::vector<double>& band : window.Features()) {
                    out = std::copy(band.begin(), band.end(), out);
                }
            });
        });
}

FourierTransform::Twiddles FourierTransform::MakeTwiddles() const {
    const long long side = padded.Side();
    Twiddles twiddles;
    const std::size_t count = static_cast<std::size_t>(kept) * static_cast<std::size_t>(windowSize);
    twiddles.cosines.resize(count);
    twiddles.sines.resize(count);
    for (int frequency = 0; frequency < kept; ++frequency) {
        for (int offset = 0; offset < windowSize; ++offset) {
            // Reducing the exponent modulo N first keeps every angle below 2 pi, where cos and
            // sin lose no accuracy to a large argument.
            const long long turn = frequency * static_cast<long long>(padded.Pad() + offset) % side;
            const double angle =
                2.0 * std::numbers::pi * static_cast<double>(turn) / static_cast<double>(side);
            const std::size_t index = static_cast<std::size_t>(frequency) * windowSize + offset;
            twiddles.cosines[index] = std::cos(angle);
            twiddles.sines[index] = -std::sin(angle);
        }
    }
    return twiddles;
}

FourierTransform::DescriptorList FourierTransform::ProcessPolygon(const math::Polygon& polygon,
                                                                  const Twiddles& twiddles,
                                                                  Scratch& scratch) const {
    DescriptorList descriptors;
    ForEachCoveredWindow(polygon, windowSize, [&](int x, int y) {
        auto descriptor = LabelledDescriptor(polygon, ImageBandCount(), kept * kept);
        DescribeWindow(x, y, twiddles, scratch, *descriptor);
        descriptors.push_back(std::move(descriptor));
    });
    return descriptors;
}

// Separable partial DFT: first, for every column i and kept row frequency v,
// G(i, v) = sum over rows j of f(i, j) e^(-2 pi i v (pad + j) / N); then, for every kept column
// frequency u, F(u, v) = sum over columns i of e^(-2 pi i u (pad + i) / N) G(i, v). The padding
// zeros add nothing, so only window pixels are visited: w * w * k + w * k * k complex products
// per band instead of an N x N transform.
void FourierTransform::DescribeWindow(int x, int y, const Twiddles& twiddles, Scratch& scratch,
                                      Descriptor& descriptor) const {
    SumAlongRows(x, y, twiddles, scratch);
    WriteMagnitudes(twiddles, scratch, descriptor);
}

// The partial sums G, stored per band and row frequency as runs over the columns, so the inner
// loops run over contiguous memory.
void FourierTransform::SumAlongRows(int x, int y, const Twiddles& twiddles,
                                    Scratch& scratch) const {
    const imageprocessing::ImageFileSystem& image = *Image();
    const std::size_t bands = static_cast<std::size_t>(image.BandCount());
    const std::size_t w = static_cast<std::size_t>(windowSize);
    const std::size_t k = static_cast<std::size_t>(kept);
    const std::size_t partialSize = bands * k * w;
    scratch.samples.resize(bands * w);
    scratch.real.assign(partialSize, 0.0);
    scratch.imaginary.assign(partialSize, 0.0);
    double* const samples = scratch.samples.data();
    double* const real = scratch.real.data();
    double* const imaginary = scratch.imaginary.data();
    const double* const cosines = twiddles.cosines.data();
    const double* const sines = twiddles.sines.data();

    for (std::size_t j = 0; j < w; ++j) {
        const unsigned char* row = image.Row(y + static_cast<int>(j));
        for (std::size_t band = 0; band < bands; ++band) {
            double* const bandSamples = samples + band * w;
            for (std::size_t i = 0; i < w; ++i) {
                bandSamples[i] = row[(static_cast<std::size_t>(x) + i) * bands + band];
            }
        }
        for (std::size_t v = 0; v < k; ++v) {
            const double c = cosines[v * w + j];
            const double s = sines[v * w + j];
            for (std::size_t band = 0; band < bands; ++band) {
                const double* const bandSamples = samples + band * w;
                double* const partialReal = real + (band * k + v) * w;
                double* const partialImaginary = imaginary + (band * k + v) * w;
                for (std::size_t i = 0; i < w; ++i) {
                    partialReal[i] += bandSamples[i] * c;
                    partialImaginary[i] += bandSamples[i] * s;
                }
            }
        }
    }
}

// |F(u, v)| from the partial sums, at value u k + v of each band.
void FourierTransform::WriteMagnitudes(const Twiddles& twiddles, const Scratch& scratch,
                                       Descriptor& descriptor) const {
    const std::size_t w = static_cast<std::size_t>(windowSize);
    const std::size_t k = static_cast<std::size_t>(kept);
    const double* const real = scratch.real.data();
    const double* const imaginary = scratch.imaginary.data();
    const double* const cosines = twiddles.cosines.data();
    const double* const sines = twiddles.sines.data();
    const std::size_t bands = descriptor.Features().size();
    for (std::size_t band = 0; band < bands; ++band) {
        std::vector<double>& values = descriptor.Features()[band];
        for (std::size_t u = 0; u < k; ++u) {
            const double* const c = cosines + u * w;
            const double* const s = sines + u * w;
            for (std::size_t v = 0; v < k; ++v) {
                const double* const partialReal = real + (band * k + v) * w;
                const double* const partialImaginary = imaginary + (band * k + v) * w;
                double re = 0.0;
                double im = 0.0;
                for (std::size_t i = 0; i < w; ++i) {
                    re += c[i] * partialReal[i] - s[i] * partialImaginary[i];
                    im += c[i] * partialImaginary[i] + s[i] * partialReal[i];
                }
                values[u * k + v] = std::sqrt(im * im + re * re);
            }
        }
    }
}

void FourierTransform::DescribeGridWindows(const WindowGrid& grid, std::size_t first,
                                           std::size_t count, double* features) {
    const Twiddles twiddles = MakeTwiddles();
    const GridBatch batch(grid, first, count);
    const std::vector<GridBatch::Tile> tiles = batch.Tiles(
        kGridTileSide, static_cast<std::size_t>((windowSize + grid.Step() - 1) / grid.Step()));
    util::Combinable<Scratch> scratches;
    util::ParallelFor(tiles.size(), [&](std::size_t index) {
        const GridBatch::Tile& tile = tiles[index];
        Scratch& scratch = scratches.Local();
        batch.ForEachRow(tile, [&](const GridBatch::RowRun& run) {
            const int columns = static_cast<int>(run.count - 1) * batch.Grid().Step() + windowSize;
            SumColumnsAlongRows(batch.Left(tile) + run.x, batch.Top(tile) + run.y, columns,
                                twiddles, scratch);
            WriteRowMagnitudes(run, batch, twiddles, scratch, features);
        });
    });
}

// G(X, v) of SumAlongRows for the image columns left ... left + columns - 1 and rows top ...
// top + w - 1, stored per band and row frequency as runs over the columns.
void FourierTransform::SumColumnsAlongRows(int left, int top, int columns, const Twiddles& twiddles,
                                           Scratch& scratch) const {
    const imageprocessing::ImageFileSystem& image = *Image();
    const std::size_t w = static_cast<std::size_t>(windowSize);
    const std::size_t k = static_cast<std::size_t>(kept);
    const std::size_t width = static_cast<std::size_t>(columns);
    const std::size_t bands = static_cast<std::size_t>(image.BandCount());
    scratch.samples.resize(bands * width);
    scratch.real.assign(bands * k * width, 0.0);
    scratch.imaginary.assign(bands * k * width, 0.0);
    for (std::size_t j = 0; j < w; ++j) {
        const unsigned char* row =
            image.Row(top + static_cast<int>(j)) + static_cast<std::size_t>(left) * bands;
        for (std::size_t band = 0; band < bands; ++band) {
            double* const bandSamples = scratch.samples.data() + band * width;
            for (std::size_t i = 0; i < width; ++i) {
                bandSamples[i] = row[i * bands + band];
            }
        }
        for (std::size_t v = 0; v < k; ++v) {
            const double c = twiddles.cosines[v * w + j];
            const double s = twiddles.sines[v * w + j];
            for (std::size_t band = 0; band < bands; ++band) {
                const double* const bandSamples = scratch.samples.data() + band * width;
                double* const partialReal = scratch.real.data() + (band * k + v) * width;
                double* const partialImaginary = scratch.imaginary.data() + (band * k + v) * width;
                for (std::size_t i = 0; i < width; ++i) {
                    partialReal[i] += bandSamples[i] * c;
                    partialImaginary[i] += bandSamples[i] * s;
                }
            }
        }
    }
}

// WriteMagnitudes for every window of the run, the windows side by side in the inner loop; each
// window's sums still run over its columns in order.
void FourierTransform::WriteRowMagnitudes(const GridBatch::RowRun& run, const GridBatch& batch,
                                          const Twiddles& twiddles, Scratch& scratch,
                                          double* features) const {
    const std::size_t w = static_cast<std::size_t>(windowSize);
    const std::size_t k = static_cast<std::size_t>(kept);
    const std::size_t windows = run.count;
    const std::size_t step = static_cast<std::size_t>(batch.Grid().Step());
    const std::size_t width = (windows - 1) * step + w;
    const std::size_t length = static_cast<std::size_t>(FeatureCount());
    const std::size_t rows = batch.Grid().Rows();
    scratch.windowSums.resize(2 * windows);
    double* const re = scratch.windowSums.data();
    double* const im = re + windows;
    const std::size_t bands = static_cast<std::size_t>(Image()->BandCount());
    for (std::size_t band = 0; band < bands; ++band) {
        for (std::size_t u = 0; u < k; ++u) {
            const double* const c = twiddles.cosines.data() + u * w;
            const double* const s = twiddles.sines.data() + u * w;
            for (std::size_t v = 0; v < k; ++v) {
                const double* const partialReal = scratch.real.data() + (band * k + v) * width;
                const double* const partialImaginary =
                    scratch.imaginary.data() + (band * k + v) * width;
                std::fill(re, re + 2 * windows, 0.0);
                for (std::size_t i = 0; i < w; ++i) {
                    const double ci = c[i];
                    const double si = s[i];
                    if (step == 1) {
                        const double* const pr = partialReal + i;
                        const double* const pi = partialImaginary + i;
                        for (std::size_t m = 0; m < windows; ++m) {
                            re[m] += ci * pr[m] - si * pi[m];
                            im[m] += ci * pi[m] + si * pr[m];
                        }
                    } else {
                        for (std::size_t m = 0; m < windows; ++m) {
                            const double pr = partialReal[m * step + i];
                            const double pi = partialImaginary[m * step + i];
                            re[m] += ci * pr - si * pi;
                            im[m] += ci * pi + si * pr;
                        }
                    }
                }
                for (std::size_t m = 0; m < windows; ++m) {
                    features[(run.first + m * rows) * length + band * k * k + u * k + v] =
                        std::sqrt(im[m] * im[m] + re[m] * re[m]);
                }
            }
        }
    }
}

}  // namespace velkar::featureextraction
