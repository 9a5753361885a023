// Co-occurrence textures at window size 16 with the displacements (1, 0) and (0, 1), on a
// 512 x 512 image of random colours (every window fills as many cells as it can). Reports
// windows (descriptors) per second of:
//  - the dense reference of the tests (DenseTexture<double>): a cleared 256 x 256 array per band
//    and displacement and three passes over its upper triangle per window, on one thread;
//  - CoOccurrenceMatrix with every window a polygon of its own, as in a classification run, and
//    with 16 large polygons of 64 windows each, on 1 and 2 threads.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/featureextraction/DenseTexture.h"
#include "velkar/featureextraction/CoOccurrenceMatrix.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/Pixel.h"
#include "velkar/math/Polygon.h"
#include "velkar/util/Parallel.h"

namespace {

using velkar::featureextraction::CoOccurrenceMatrix;
using velkar::imageprocessing::ImageFileSystem;
using velkar::math::Polygon;

constexpr int kImageSize = 512;
constexpr int kWindow = 16;
const std::vector<int> kDx{1, 0};
const std::vector<int> kDy{0, 1};

std::shared_ptr<ImageFileSystem> RandomImage() {
    static const std::shared_ptr<ImageFileSystem> image = [] {
        auto created = ImageFileSystem::Create("bench.png", kImageSize, kImageSize, 24);
        std::mt19937 generator(3);
        std::uniform_int_distribution<int> level(0, 255);
        velkar::imageprocessing::Pixel pixel;
        for (int y = 0; y < kImageSize; ++y) {
            for (int x = 0; x < kImageSize; ++x) {
                pixel[0] = static_cast<std::uint8_t>(level(generator));
                pixel[1] = static_cast<std::uint8_t>(level(generator));
                pixel[2] = static_cast<std::uint8_t>(level(generator));
                created->SetPixel(x, y, pixel);
            }
        }
        return created;
    }();
    return image;
}

std::shared_ptr<Polygon> Square(int x, int y, int size, int id) {
    const std::vector<Polygon::Point> corners{
        {x, y}, {x + size, y}, {x + size, y + size}, {x, y + size}};
    auto polygon = std::make_shared<Polygon>();
    polygon->SetPoints(corners.data(), static_cast<int>(corners.size()));
    polygon->SetClass("class" + std::to_string(id % 4));
    polygon->SetId(id);
    return polygon;
}

// Squares of side size tiling the image, x-major.
std::vector<std::shared_ptr<Polygon>> Tiles(int size) {
    std::vector<std::shared_ptr<Polygon>> tiles;
    for (int x = 0; x + size <= kImageSize; x += size) {
        for (int y = 0; y + size <= kImageSize; y += size) {
            tiles.push_back(Square(x, y, size, static_cast<int>(tiles.size())));
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
    std::size_t windows = 0;
    for (auto _ : state) {
        auto descriptors = extractor.Process(polygons);
        windows += descriptors.size();
        benchmark::DoNotOptimize(descriptors.data());
    }
    state.counters["windows"] =
        benchmark::Counter(static_cast<double>(windows), benchmark::Counter::kIsRate);
    state.counters["threads"] = static_cast<double>(velkar::util::MaxThreads());
}

BENCHMARK(BM_DenseReference)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoOccurrence)
    ->Args({kWindow, 1})
    ->Args({kWindow, 2})
    ->Args({128, 1})
    ->Args({128, 2})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
