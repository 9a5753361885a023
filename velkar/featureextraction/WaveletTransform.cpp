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

}  // namespace velkar::featureextraction
