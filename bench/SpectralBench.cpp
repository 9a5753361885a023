// Fourier and wavelet extractors over a generated 1500 x 1500 image with 300 rectangles and
// triangles, on 1 and 2 threads; reports windows (descriptors) per second. The Fourier extractor
// (window 16, 10 coefficients: k = 3) is measured against a baseline that computes the full
// N x N radix-2 FFT of every window and band and reads its k x k corner, on the same windows.
// Both extractors also describe the "pixel" grid of a classification run over the first 512 x 512
// pixels (247,009 windows) through their grid paths, and through one polygon per window (first
// batch only) for comparison.

#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "bench/BenchmarkInputs.h"
#include "velkar/featureextraction/FourierTransform.h"
#include "velkar/featureextraction/PaddedWindow.h"
#include "velkar/featureextraction/WaveletTransform.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/math/Polygon.h"
#include "velkar/util/Parallel.h"

namespace {

using velkar::featureextraction::Descriptor;
using velkar::featureextraction::FeatureExtractionAlgorithm;
using velkar::featureextraction::FourierTransform;
using velkar::featureextraction::PaddedWindow;
using velkar::featureextraction::WaveletTransform;
using velkar::imageprocessing::ImageFileSystem;
using velkar::math::Polygon;
using Complex = std::complex<double>;

constexpr int kImageSize = 1500;
constexpr int kPolygonCount = 300;

const std::shared_ptr<ImageFileSystem>& GeneratedImage() {
    static const std::shared_ptr<ImageFileSystem> image =
        velkar::bench::RandomColourImage(kImageSize, 1);
    return image;
}

velkar::bench::PolygonList GeneratedPolygons() {
    return velkar::bench::RandomPolygons(kImageSize, kPolygonCount);
}

// The baseline: per polygon an N x N complex buffer; per window and band it is cleared, filled
// with the centred window, transformed by an in-place radix-2 FFT along every line and then
// every cross line (each through a temporary copy), and the k x k corner's magnitudes are read.
class FullRadix2Fourier : public FeatureExtractionAlgorithm {
  public:
    FullRadix2Fourier(int windowSize, int coefficients)
        : windowSize(windowSize),
          padded(windowSize),
          kept(FourierTransform::KeptFrequencies(coefficients)) {}

    int WindowSize() const override { return windowSize; }
    int FeatureCount() const override { return 3 * kept * kept; }
    DescriptorList Process(PolygonList& polygons) override {
        return ProcessPolygons(polygons,
                               [this](const Polygon& polygon) { return ProcessPolygon(polygon); });
    }

  private:
    DescriptorList ProcessPolygon(const Polygon& polygon) const {
        const int n = padded.Side();
        std::vector<Complex> buffer(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
        DescriptorList descriptors;
        ForEachCoveredWindow(polygon, windowSize, [&](int x, int y) {
            auto descriptor = LabelledDescriptor(polygon, 3, kept * kept);
            for (int band = 0; band < 3; ++band) {
                std::fill(buffer.begin(), buffer.end(), Complex(0.0, 0.0));
                for (int i = 0; i < windowSize; ++i) {
                    for (int j = 0; j < windowSize; ++j) {
                        buffer[static_cast<std::size_t>((padded.Pad() + i) * n + padded.Pad() +
                                                        j)] = Image()->Pixel(x + i, y + j, band);
                    }
                }
                Transform2D(buffer.data(), n);
                auto& values = descriptor->Features()[static_cast<std::size_t>(band)];
                for (int u = 0; u < kept; ++u) {
                    for (int v = 0; v < kept; ++v) {
                        values[static_cast<std::size_t>(u * kept + v)] =
                            std::abs(buffer[static_cast<std::size_t>(u * n + v)]);
                    }
                }
            }
            descriptors.push_back(std::move(descriptor));
        });
        return descriptors;
    }

    static void Transform2D(Complex* data, int n) {
        std::vector<Complex> line(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            std::copy(data + i * n, data + (i + 1) * n, line.begin());
            Fft(line.data(), n);
            std::copy(line.begin(), line.end(), data + i * n);
        }
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                line[static_cast<std::size_t>(i)] = data[i * n + j];
            }
            Fft(line.data(), n);
            for (int i = 0; i < n; ++i) {
                data[i * n + j] = line[static_cast<std::size_t>(i)];
            }
        }
    }

    // Decimation in time: bit-reversal permutation, then log2(n) butterfly stages whose twiddle
    // rotation comes from the previous stage's by the half-angle formulas.
    static void Fft(Complex* data, int n) {
        for (int i = 0, j = 0; i < n; ++i) {
            if (i < j) {
                std::swap(data[i], data[j]);
            }
            int bit = n >> 1;
            while (bit >= 1 && (j & bit)) {
                j ^= bit;
                bit >>= 1;
            }
            j |= bit;
        }
        double c = -1.0;
        double s = 0.0;
        for (int span = 1; span < n; span *= 2) {
            Complex twiddle(1.0, 0.0);
            const Complex rotation(c, s);
            for (int m = 0; m < span; ++m) {
                for (int i = m; i < n; i += 2 * span) {
                    const Complex product = twiddle * data[i + span];
                    data[i + span] = data[i] - product;
                    data[i] += product;
                }
                twiddle *= rotation;
            }
            s = -std::sqrt((1.0 - c) / 2.0);
            c = std::sqrt((1.0 + c) / 2.0);
        }
    }

    int windowSize;
    PaddedWindow padded;
    int kept;
};

// The largest difference between two descriptor lists, relative to max(1, value).
double LargestDifference(const FeatureExtractionAlgorithm::DescriptorList& a,
                         const FeatureExtractionAlgorithm::DescriptorList& b) {
    if (a.size() != b.size()) {
        return INFINITY;
    }
    double largest = 0.0;
    for (std::size_t d = 0; d < a.size(); ++d) {
        for (std::size_t band = 0; band < 3; ++band) {
            const auto& x = a[d]->Features()[band];
            const auto& y = b[d]->Features()[band];
            for (std::size_t i = 0; i < x.size(); ++i) {
                largest = std::max(largest, std::abs(x[i] - y[i]) / std::max(1.0, std::abs(y[i])));
            }
        }
    }
    return largest;
}

void Run(benchmark::State& state, FeatureExtractionAlgorithm& extractor) {
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(0)));
    extractor.SetImage(GeneratedImage());
    auto polygons = GeneratedPolygons();
    velkar::bench::ProcessEveryIteration(state, extractor, polygons);
}

// Argument: number of threads.
void BM_FourierFullRadix2(benchmark::State& state) {
    FullRadix2Fourier baseline(16, 10);
    Run(state, baseline);
}

void BM_FourierKeptCorner(benchmark::State& state) {
    FourierTransform extractor(16, 10);
    // The two must agree before their speeds are compared.
    FullRadix2Fourier baseline(16, 10);
    baseline.SetImage(GeneratedImage());
    extractor.SetImage(GeneratedImage());
    auto sample = GeneratedPolygons();
    sample.resize(20);
    const double difference =
        LargestDifference(extractor.Process(sample), baseline.Process(sample));
    state.counters["max_rel_diff"] = difference;
    if (!(difference <= 1e-9)) {
        state.SkipWithError("the extractor disagrees with the full transform");
        return;
    }
    Run(state, extractor);
}

void BM_WaveletDb4(benchmark::State& state) {
    WaveletTransform extractor(16, 2, "db4");
    Run(state, extractor);
}

BENCHMARK(BM_FourierFullRadix2)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FourierKeptCorner)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WaveletDb4)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

const std::shared_ptr<ImageFileSystem>& GridImage() {
    static const std::shared_ptr<ImageFileSystem> image = velkar::bench::RandomColourImage(512, 1);
    return image;
}

// Argument: threads.
void PixelGrid(benchmark::State& state, FeatureExtractionAlgorithm& extractor,
               std::size_t windowLimit) {
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(0)));
    extractor.SetImage(GridImage());
    velkar::bench::DescribePixelGrid(state, extractor, *GridImage(), windowLimit);
}

void BM_FourierPixelGrid(benchmark::State& state) {
    FourierTransform extractor(16, 10);
    PixelGrid(state, extractor, SIZE_MAX);
}
void BM_FourierPixelGridPolygonPerWindow(benchmark::State& state) {
    velkar::bench::PolygonPerWindow<FourierTransform> extractor(16, 10);
    PixelGrid(state, extractor, 32768);
}
void BM_WaveletDb1PixelGrid(benchmark::State& state) {
    WaveletTransform extractor(16, 2, "db1");
    PixelGrid(state, extractor, SIZE_MAX);
}
void BM_WaveletDb1PixelGridPolygonPerWindow(benchmark::State& state) {
    velkar::bench::PolygonPerWindow<WaveletTransform> extractor(16, 2, "db1");
    PixelGrid(state, extractor, 32768);
}
void BM_WaveletDb4PixelGrid(benchmark::State& state) {
    WaveletTransform extractor(16, 2, "db4");
    PixelGrid(state, extractor, SIZE_MAX);
}

BENCHMARK(BM_FourierPixelGrid)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FourierPixelGridPolygonPerWindow)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WaveletDb1PixelGrid)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WaveletDb1PixelGridPolygonPerWindow)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WaveletDb4PixelGrid)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
