// Co-occurrence textures at window size 16 with the displacements (1, 0) and (0, 1), on a
// 512 x 512 image of random colours (every window fills as many cells as it can). Reports
// windows (descriptors) per second of:
//  - the dense reference of the tests (DenseTexture<double>): a cleared 256 x 256 array per band
//    and displacement and three passes over its upper triangle per window, on one thread;
//  - CoOccurrenceMatrix with every window a polygon of its own, and with 16 large polygons of 64
//    windows each, on 1 and 2 threads;
//  - the "pixel" grid of a classification run (247,009 windows) through the grid path, which
//    slides each window's pairs from its neighbour's, for the co-occurrence statistics and the
//    grey-level differences on 1 and 2 threads, and through one polygon per window (the first
//    batch only) for comparison.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/BenchmarkInputs.h"
#include "tests/featureextraction/DenseTexture.h"
#include "velkar/featureextraction/CoOccurrenceMatrix.h"
#include "velkar/featureextraction/GrayLevelDifferenceVector.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/util/Parallel.h"

namespace {

using velkar::featureextraction::CoOccurrenceMatrix;
using velkar::featureextraction::GrayLevelDifferenceVector;
using velkar::imageprocessing::ImageFileSystem;

constexpr int kImageSize = 512;
constexpr int kWindow = 16;
const std::vector<int> kDx{1, 0};
const std::vector<int> kDy{0, 1};

const std::shared_ptr<ImageFileSystem>& RandomImage() {
    static const std::shared_ptr<ImageFileSystem> image =
        velkar::bench::RandomColourImage(kImageSize, 3);
    return image;
}

// Squares of side size tiling the image, x-major.
velkar::bench::PolygonList Tiles(int size) {
    velkar::bench::PolygonList tiles;
    for (int x = 0; x + size <= kImageSize; x += size) {
        for (int y = 0; y + size <= kImageSize; y += size) {
            tiles.push_back(
                velkar::bench::Rectangle(x, y, x + size, y + size, static_cast<int>(tiles.size())));
        }
    }
    return tiles;
}

void BM_DenseReference(benchmark::State& state) {
    velkar::testing::DenseTexture<double> dense(RandomImage(), kWindow, kDx, kDy);
    // The first 32 windows of the tiling; the dense cost does not depend on where they are.
    std::size_t windows = 0;
    for (auto _ : state) {
        for (int index = 0; index < 32; ++index) {
            auto bands = dense.CoOccurrence(0, index * kWindow);
            benchmark::DoNotOptimize(bands.data());
            ++windows;
        }
    }
    state.counters["windows"] =
        benchmark::Counter(static_cast<double>(windows), benchmark::Counter::kIsRate);
}

// Arguments: polygon side (16: one window per polygon; 128: 64 windows each), threads.
void BM_CoOccurrence(benchmark::State& state) {
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(1)));
    CoOccurrenceMatrix extractor(kWindow, kDx, kDy);
    extractor.SetImage(RandomImage());
    auto polygons = Tiles(static_cast<int>(state.range(0)));
    velkar::bench::ProcessEveryIteration(state, extractor, polygons);
}

BENCHMARK(BM_DenseReference)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoOccurrence)
    ->Args({kWindow, 1})
    ->Args({kWindow, 2})
    ->Args({128, 1})
    ->Args({128, 2})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Argument: threads.
template <typename Extractor>
void PixelGrid(benchmark::State& state, std::size_t windowLimit) {
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(0)));
    Extractor extractor(kWindow, kDx, kDy);
    extractor.SetImage(RandomImage());
    velkar::bench::DescribePixelGrid(state, extractor, *RandomImage(), windowLimit);
}

void BM_CoOccurrencePixelGrid(benchmark::State& state) {
    PixelGrid<CoOccurrenceMatrix>(state, SIZE_MAX);
}
void BM_CoOccurrencePixelGridPolygonPerWindow(benchmark::State& state) {
    PixelGrid<velkar::bench::PolygonPerWindow<CoOccurrenceMatrix>>(state, 32768);
}
void BM_GrayLevelDifferencePixelGrid(benchmark::State& state) {
    PixelGrid<GrayLevelDifferenceVector>(state, SIZE_MAX);
}
void BM_GrayLevelDifferencePixelGridPolygonPerWindow(benchmark::State& state) {
    PixelGrid<velkar::bench::PolygonPerWindow<GrayLevelDifferenceVector>>(state, 32768);
}

BENCHMARK(BM_CoOccurrencePixelGrid)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoOccurrencePixelGridPolygonPerWindow)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrayLevelDifferencePixelGrid)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrayLevelDifferencePixelGridPolygonPerWindow)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
