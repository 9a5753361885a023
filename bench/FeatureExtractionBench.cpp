// Windowed colour average over a generated 2000 x 2000 image with 400 rectangles and triangles,
// window size 5, on one thread and on all threads. Reports windows (descriptors) per second.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/Pixel.h"
#include "velkar/math/Polygon.h"
#include "velkar/util/Parallel.h"

namespace {

using velkar::featureextraction::ColorAverage;
using velkar::imageprocessing::ImageFileSystem;
using velkar::math::Polygon;

constexpr int kImageSize = 2000;
constexpr int kPolygonCount = 400;

std::shared_ptr<ImageFileSystem> GeneratedImage() {
    static const std::shared_ptr<ImageFileSystem> image = [] {
        auto created = ImageFileSystem::Create("bench.png", kImageSize, kImageSize, 24);
        std::mt19937 generator(1);
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

std::vector<std::shared_ptr<Polygon>> GeneratedPolygons() {
    std::mt19937 generator(2);
    std::uniform_int_distribution<int> origin(0, kImageSize - 1);
    std::uniform_int_distribution<int> extent(20, 300);
    std::vector<std::shared_ptr<Polygon>> polygons;
    for (int id = 0; id < kPolygonCount; ++id) {
        const int x = origin(generator);
        const int y = origin(generator);
        const int width = extent(generator);
        const int height = extent(generator);
        std::vector<Polygon::Point> points;
        if (id % 2 == 0) {
            points = {{x, y}, {x + width, y}, {x + width, y + height}, {x, y + height}};
        } else {
            points = {{x, y}, {x + width, y}, {x, y + height}};
        }
        auto polygon = std::make_shared<Polygon>();
        polygon->SetPoints(points.data(), static_cast<int>(points.size()));
        polygon->SetClass("class" + std::to_string(id % 4));
        polygon->SetId(id);
        polygons.push_back(polygon);
    }
    return polygons;
}

// Argument: number of threads.
void BM_ColorAverage(benchmark::State& state) {
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(0)));
    ColorAverage extractor(5, true, true);
    extractor.SetImage(GeneratedImage());
    auto polygons = GeneratedPolygons();
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

BENCHMARK(BM_ColorAverage)
    ->Arg(1)
    ->Arg(velkar::util::MaxThreads())
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
