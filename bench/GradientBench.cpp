// Whole-region features: gradient histograms over the windows a classification run cuts from a
// 1000 x 1000 image (the "half" grid of 32-pixel windows: 3721 polygons), over the "pixel" grid
// of a 400 x 400 image, over the 100 boxes of 100 x 100 pixels tiling the 1000 x 1000 image
// (2 x 2 blocks of 9 bins: the layout of OpenCV's HOGDescriptor with 33-pixel cells, 66-pixel
// blocks and a 33-pixel block stride), and over a few large boxes; keypoints of one 512 x 512
// box; one Gaussian smoothing of a 1024 x 1024 x 3 image of reals, the scale space's largest
// step. The first argument of the histogram and keypoint benchmarks is the number of threads.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "bench/BenchmarkInputs.h"
#include "velkar/featureextraction/Hog.h"
#include "velkar/featureextraction/ScaleInvariantFeatureTransform.h"
#include "velkar/imageprocessing/ConvolutionFilter.h"
#include "velkar/imageprocessing/GaussianFilter.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/ImageMemory.h"
#include "velkar/imageprocessing/Pixel.h"
#include "velkar/util/Parallel.h"

namespace {

using velkar::bench::PolygonList;
using velkar::bench::Rectangle;
using velkar::featureextraction::Hog;
using velkar::featureextraction::ScaleInvariantFeatureTransform;
using velkar::imageprocessing::ImageFileSystem;

// Stripes, blobs and noise: gradients of every direction and keypoints of many sizes.
std::shared_ptr<ImageFileSystem> TexturedImage(int width, int height) {
    auto image = ImageFileSystem::Create("bench.png", width, height, 3);
    std::mt19937 generator(3);
    std::uniform_int_distribution<int> noise(0, 40);
    velkar::imageprocessing::Pixel pixel;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double stripes = 60.0 * std::sin((x + 2 * y) / 7.0);
            const double blob =
                120.0 * std::exp(-(std::pow((x % 97) - 48, 2) + std::pow((y % 83) - 41, 2)) /
                                 (2.0 * std::pow(4.0 + (x / 97) % 5, 2)));
            const int level = static_cast<int>(90.0 + stripes + blob) + noise(generator);
            pixel[0] = static_cast<std::uint8_t>(std::clamp(level, 0, 255));
            pixel[1] = static_cast<std::uint8_t>(std::clamp(level - 30, 0, 255));
            pixel[2] = static_cast<std::uint8_t>(std::clamp(255 - level, 0, 255));
            image->SetPixel(x, y, pixel);
        }
    }
    return image;
}

// The windows of the "half" grid, each widened to the 32 pixels it covers.
PolygonList HalfGridWindows(int size, int window) {
    PolygonList polygons;
    for (int x = 0; x + window <= size; x += window / 2) {
        for (int y = 0; y + window <= size; y += window / 2) {
            polygons.push_back(Rectangle(x, y, x + window, y + window));
        }
    }
    return polygons;
}

void BM_HogHalfGrid(benchmark::State& state) {
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(0)));
    static const auto image = TexturedImage(1000, 1000);
    Hog hog(2, 2, 9);
    hog.SetImage(image);
    PolygonList polygons = HalfGridWindows(1000, 32);
    for (auto _ : state) {
        auto descriptors = hog.Process(polygons);
        benchmark::DoNotOptimize(descriptors.data());
    }
    state.counters["polygons"] = benchmark::Counter(
        static_cast<double>(polygons.size() * state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HogHalfGrid)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// The gradient histograms of the "pixel" grid of 48-pixel windows on a 400 x 400 image, in the
// classification run's batches: the grid path, which takes each pixel's gradient once, and the
// base's path of one polygon per window (on the first batch only; it is slow). Counted in
// windows per second.
constexpr int kGridImage = 400;
constexpr int kGridWindow = 48;
constexpr std::size_t kGridBatch = 32768;

template <typename Extractor>
void HogPixelGrid(benchmark::State& state, std::size_t windowLimit) {
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(0)));
    static const auto image = TexturedImage(kGridImage, kGridImage);
    Extractor hog(2, 2, 9);
    hog.SetImage(image);
    const velkar::featureextraction::WindowGrid grid(kGridWindow, 1, kGridImage, kGridImage);
    const std::size_t total = std::min(grid.Count(), windowLimit);
    std::vector<double> features;
    for (auto _ : state) {
        for (std::size_t first = 0; first < total; first += kGridBatch) {
            hog.DescribeGrid(grid, first, std::min(kGridBatch, total - first), features);
            benchmark::DoNotOptimize(features.data());
        }
    }
    state.counters["windows"] = benchmark::Counter(static_cast<double>(total * state.iterations()),
                                                   benchmark::Counter::kIsRate);
}

void BM_HogPixelGrid(benchmark::State& state) { HogPixelGrid<Hog>(state, SIZE_MAX); }
BENCHMARK(BM_HogPixelGrid)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_HogPixelGridPolygonPerWindow(benchmark::State& state) {
    HogPixelGrid<velkar::bench::PolygonPerWindow<Hog>>(state, kGridBatch);
}
BENCHMARK(BM_HogPixelGridPolygonPerWindow)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_HogBoxes100(benchmark::State& state) {
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(0)));
    static const auto image = TexturedImage(1000, 1000);
    Hog hog(2, 2, 9);
    hog.SetImage(image);
    PolygonList polygons;
    for (int n = 0; n < 100; ++n) {
        polygons.push_back(Rectangle((n % 10) * 100, (n / 10) * 100, (n % 10) * 100 + 100,
                                     (n / 10) * 100 + 100, n));
    }
    for (auto _ : state) {
        auto descriptors = hog.Process(polygons);
        benchmark::DoNotOptimize(descriptors.data());
    }
    state.counters["boxes"] = benchmark::Counter(
        static_cast<double>(polygons.size() * state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HogBoxes100)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_HogLargeBoxes(benchmark::State& state) {
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(0)));
    static const auto image = TexturedImage(1000, 1000);
    Hog hog(4, 4, 9);
    hog.SetImage(image);
    PolygonList polygons;
    for (int n = 0; n < 16; ++n) {
        polygons.push_back(
            Rectangle((n % 4) * 250, (n / 4) * 250, (n % 4) * 250 + 250, (n / 4) * 250 + 250));
    }
    for (auto _ : state) {
        auto descriptors = hog.Process(polygons);
        benchmark::DoNotOptimize(descriptors.data());
    }
    state.counters["pixels"] = benchmark::Counter(1e6 * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HogLargeBoxes)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_KeypointsOneBox512(benchmark::State& state) {
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(0)));
    static const auto image = TexturedImage(512, 512);
    ScaleInvariantFeatureTransform extractor;
    extractor.SetImage(image);
    PolygonList polygons{Rectangle(0, 0, 512, 512)};
    std::size_t keypoints = 0;
    for (auto _ : state) {
        auto descriptors = extractor.Process(polygons);
        keypoints = descriptors.size();
        benchmark::DoNotOptimize(descriptors.data());
    }
    state.counters["descriptors"] = static_cast<double>(keypoints);
}
BENCHMARK(BM_KeypointsOneBox512)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_GaussianSmoothing1024(benchmark::State& state) {
    velkar::imageprocessing::ImageMemory<double> image(1024, 1024, 3);
    for (std::size_t i = 0; i < image.Size(); ++i) {
        image.Data()[i] = static_cast<double>(i % 251) / 251.0;
    }
    const velkar::imageprocessing::GaussianFilter filter(0, 0,
                                                         0.1 * static_cast<double>(state.range(0)));
    velkar::imageprocessing::ImageMemory<double> target(1024, 1024, 3);
    for (auto _ : state) {
        velkar::imageprocessing::ConvolutionFilter::Convolve(image, filter, &target);
        benchmark::DoNotOptimize(target.Data());
    }
    state.counters["mask"] = filter.SizeX();
}
// Sigma 2.0 and 5.1: the first and the last level of the scale space's first octave.
BENCHMARK(BM_GaussianSmoothing1024)->Arg(20)->Arg(51)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
