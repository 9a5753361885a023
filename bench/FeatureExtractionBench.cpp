// Windowed colour average (monochromatic band and normalisation on) over a generated
// 2000 x 2000 image of random colours. Reports windows per second of:
//  - ColorAverage::Process on 400 rectangles and triangles, at window size 5 and 16, on 1 and 2
//    threads, with the freeing of the descriptors timed (third argument 0) or not (1);
//  - the reference: a plain loop over the same windows, listed beforehand, writing the four
//    values of each into one flat array, with the same arithmetic and threads
//    (arguments: window size, threads);
//  - the grid path over the "pixel" grid of the whole image at window size 16 (3.94 million
//    windows), in batches of the given size (0: the whole grid at once) on 1 and 2 threads, and
//    the polygon-per-window default over the first 65536 of them, for comparison
//    (arguments: batch size, threads).
//
// Run: /work/bin/vlock build/bench/FeatureExtractionBench

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchmarkInputs.h"
#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/math/Polygon.h"
#include "velkar/util/Parallel.h"

namespace {

using velkar::featureextraction::ColorAverage;
using velkar::featureextraction::FeatureExtractionAlgorithm;
using velkar::featureextraction::WindowGrid;
using velkar::imageprocessing::ImageFileSystem;
using velkar::math::Polygon;

constexpr int kImageSize = 2000;
constexpr int kPolygonCount = 400;

std::shared_ptr<ImageFileSystem> GeneratedImage() {
    static const std::shared_ptr<ImageFileSystem> image =
        velkar::bench::RandomColourImage(kImageSize, 1);
    return image;
}

std::vector<std::shared_ptr<Polygon>> GeneratedPolygons() {
    return velkar::bench::RandomPolygons(kImageSize, kPolygonCount);
}

struct Origin {
    int x;
    int y;
};

// The windows ColorAverage takes in each polygon, listed by the same rule: grid from the box's
// minimum corner, all four corners contained, wholly inside the image.
std::vector<std::vector<Origin>> WindowsOf(const std::vector<std::shared_ptr<Polygon>>& polygons,
                                           int w) {
    std::vector<std::vector<Origin>> windows;
    for (const auto& polygon : polygons) {
        const auto box = polygon->Bounds();
        std::vector<Origin>& list = windows.emplace_back();
        for (int x = boost::polygon::xl(box); x < boost::polygon::xh(box); x += w) {
            for (int y = boost::polygon::yl(box); y < boost::polygon::yh(box); y += w) {
                if (x + w <= kImageSize && y + w <= kImageSize && polygon->Contains(x, y) &&
                    polygon->Contains(x + w, y) && polygon->Contains(x + w, y + w) &&
                    polygon->Contains(x, y + w)) {
                    list.push_back({x, y});
                }
            }
        }
    }
    return windows;
}

// The four values of the window at (x, y), as ColorAverage computes them with both flags.
void PlainWindow(const ImageFileSystem& image, int w, int x, int y, double* out) {
    const std::size_t step = static_cast<std::size_t>(image.BandCount());
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    for (int j = 0; j < w; ++j) {
        for (int i = 0; i < w; ++i) {
            const unsigned char* pixel = image.Row(y + i) + static_cast<std::size_t>(x + j) * step;
            const double red = pixel[0];
            const double green = pixel[1];
            const double blue = pixel[2];
            sums[3] += 0.2126 * red + 0.7152 * green + 0.0722 * blue;
            const double total = red + green + blue;
            if (total == 0.0) {
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
    const double pixels = static_cast<double>(w) * static_cast<double>(w);
    for (int band = 0; band < 4; ++band) {
        out[band] = sums[band] / pixels;
    }
}

void BM_ColorAverage(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0));
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(1)));
    const bool excludeRelease = state.range(2) != 0;
    ColorAverage extractor(w, true, true);
    extractor.SetImage(GeneratedImage());
    auto polygons = GeneratedPolygons();
    std::size_t windows = 0;
    double releaseSeconds = 0.0;
    for (auto _ : state) {
        auto descriptors = extractor.Process(polygons);
        windows += descriptors.size();
        benchmark::DoNotOptimize(descriptors.data());
        if (excludeRelease) {
            state.PauseTiming();
        }
        const auto start = std::chrono::steady_clock::now();
        descriptors = {};
        releaseSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (excludeRelease) {
            state.ResumeTiming();
        }
    }
    state.counters["windows"] =
        benchmark::Counter(static_cast<double>(windows), benchmark::Counter::kIsRate);
    state.counters["threads"] = static_cast<double>(velkar::util::MaxThreads());
    // Milliseconds per run spent freeing the descriptors, on the calling thread alone.
    state.counters["release_ms"] =
        1000.0 * releaseSeconds / static_cast<double>(state.iterations());
}

// The experiments' path: every window's values straight into one block, no object per window.
void BM_ColorAverageFlat(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0));
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(1)));
    ColorAverage extractor(w, true, true);
    extractor.SetImage(GeneratedImage());
    auto polygons = GeneratedPolygons();
    std::size_t windows = 0;
    for (auto _ : state) {
        const auto flat = extractor.DescribePolygons(polygons);
        windows += flat.polygonIds.size();
        benchmark::DoNotOptimize(flat.values.data());
    }
    state.counters["windows"] =
        benchmark::Counter(static_cast<double>(windows), benchmark::Counter::kIsRate);
    state.counters["threads"] = static_cast<double>(velkar::util::MaxThreads());
}

void BM_PlainLoop(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0));
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(1)));
    const auto image = GeneratedImage();
    const auto polygons = GeneratedPolygons();
    const auto windowLists = WindowsOf(polygons, w);
    std::vector<std::size_t> offsets{0};
    for (const auto& list : windowLists) {
        offsets.push_back(offsets.back() + list.size());
    }

    // The reference only counts if it computes what the extractor computes.
    ColorAverage extractor(w, true, true);
    extractor.SetImage(image);
    auto polygonCopy = polygons;
    const auto descriptors = extractor.Process(polygonCopy);
    if (descriptors.size() != offsets.back()) {
        state.SkipWithError("the plain loop lists other windows than the extractor");
        return;
    }

    std::vector<double> values(offsets.back() * 4);
    const auto run = [&] {
        velkar::util::ParallelFor(windowLists.size(), [&](std::size_t polygon) {
            double* out = values.data() + offsets[polygon] * 4;
            for (const Origin& origin : windowLists[polygon]) {
                PlainWindow(*image, w, origin.x, origin.y, out);
                out += 4;
            }
        });
    };
    run();
    for (std::size_t index = 0; index < descriptors.size(); ++index) {
        for (std::size_t band = 0; band < 4; ++band) {
            if (descriptors[index]->Features()[band][0] != values[index * 4 + band]) {
                state.SkipWithError("the plain loop computes other values");
                return;
            }
        }
    }

    std::size_t windows = 0;
    for (auto _ : state) {
        run();
        windows += offsets.back();
        benchmark::DoNotOptimize(values.data());
    }
    state.counters["windows"] =
        benchmark::Counter(static_cast<double>(windows), benchmark::Counter::kIsRate);
    state.counters["threads"] = static_cast<double>(velkar::util::MaxThreads());
}

void WindowsAndThreads(benchmark::internal::Benchmark* benchmark) {
    for (int w : {5, 16}) {
        for (int threads : {1, 2}) {
            benchmark->Args({w, threads});
        }
    }
}

constexpr int kGridWindow = 16;

void BM_GridPath(benchmark::State& state) {
    const std::size_t batchSize = static_cast<std::size_t>(state.range(0));
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(1)));
    ColorAverage extractor(kGridWindow, true, true);
    extractor.SetImage(GeneratedImage());
    const WindowGrid grid(kGridWindow, 1, kImageSize, kImageSize);
    const std::size_t batch = batchSize == 0 ? grid.Count() : batchSize;
    std::vector<double> features;
    std::size_t windows = 0;
    for (auto _ : state) {
        for (std::size_t first = 0; first < grid.Count(); first += batch) {
            extractor.DescribeGrid(grid, first, std::min(batch, grid.Count() - first), features);
            benchmark::DoNotOptimize(features.data());
        }
        windows += grid.Count();
    }
    state.counters["windows"] =
        benchmark::Counter(static_cast<double>(windows), benchmark::Counter::kIsRate);
    state.counters["threads"] = static_cast<double>(velkar::util::MaxThreads());
}

void BM_GridPolygonPerWindow(benchmark::State& state) {
    const std::size_t batch = static_cast<std::size_t>(state.range(0));
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(1)));
    velkar::bench::PolygonPerWindow<ColorAverage> extractor(kGridWindow, true, true);
    extractor.SetImage(GeneratedImage());
    const WindowGrid grid(kGridWindow, 1, kImageSize, kImageSize);
    std::vector<double> features;
    std::size_t windows = 0;
    for (auto _ : state) {
        extractor.DescribeGrid(grid, 0, batch, features);
        benchmark::DoNotOptimize(features.data());
        windows += batch;
    }
    state.counters["windows"] =
        benchmark::Counter(static_cast<double>(windows), benchmark::Counter::kIsRate);
    state.counters["threads"] = static_cast<double>(velkar::util::MaxThreads());
}

BENCHMARK(BM_ColorAverage)
    ->ArgsProduct({{5, 16}, {1, 2}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorAverageFlat)
    ->ArgsProduct({{5, 16}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainLoop)->Apply(WindowsAndThreads)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK(BM_GridPath)
    ->ArgsProduct({{65536, 0}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridPolygonPerWindow)
    ->ArgsProduct({{65536}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
