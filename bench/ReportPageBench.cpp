// Report pages: the time to turn a run's data into its HTML page (scaling and encoding the
// pictures, the tables and charts) and the page's size in megabytes, for the demo's image sizes
// and for a 4-megapixel image with a 16-megapixel class map. Inputs come from fixed seeds: an
// image of smooth colour fields with noise of +-noise levels (a photograph lies between little
// and much noise; pure noise is the worst case for PNG and takes the byte-budget path), and a
// class map of 8-pixel windows whose classes follow large fields, one window in ten flipped.

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>

#include "ordana/ReportPage.h"

namespace {

using velkar::ordana::ClassificationPage;
using velkar::ordana::ExperimentPage;
using velkar::ordana::PageClass;

const velkar::ordana::PageColour kColours[] = {
    {0xe6, 0x19, 0x4b}, {0x3c, 0xb4, 0x4b}, {0xff, 0xe1, 0x19}, {0x43, 0x63, 0xd8}};

velkar::ordana::RgbPicture Image(int width, int height, int noise, unsigned seed) {
    std::mt19937 random(seed);
    velkar::ordana::RgbPicture picture{width, height, {}};
    picture.rgb.reserve(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double field = std::sin(x * 0.004) + std::cos(y * 0.006 + x * 0.001);
            for (int c = 0; c < 3; ++c) {
                const int shift = static_cast<int>(random() % (2 * noise + 1)) - noise;
                const double level = 110 + 60 * field + 25 * c + shift;
                picture.rgb.push_back(static_cast<unsigned char>(std::clamp(level, 0.0, 255.0)));
            }
        }
    }
    return picture;
}

velkar::imageprocessing::IndexedImage ClassMap(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    velkar::imageprocessing::IndexedImage map(width, height);
    constexpr int kWindow = 8;
    for (int y = 0; y + kWindow <= height; y += kWindow) {
        for (int x = 0; x + kWindow <= width; x += kWindow) {
            int index = 1 + (x / 600 + 2 * (y / 500)) % 4;
            if (random() % 10 == 0) {
                index = static_cast<int>(random() % 5);
            }
            map.Fill(x, y, kWindow, kWindow, static_cast<unsigned char>(index));
        }
    }
    return map;
}

std::vector<PageClass> Classes() {
    std::vector<PageClass> classes;
    const char* names[] = {"forest", "meadow", "field", "water"};
    for (int c = 0; c < 4; ++c) {
        classes.push_back({names[c], kColours[c], 1000, 64000, 16000.0});
    }
    return classes;
}

void ClassificationPageBench(benchmark::State& state) {
    ClassificationPage page;
    page.imageFile = "scene.png";
    page.image = Image(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                       static_cast<int>(state.range(4)), 1);
    page.classMap = ClassMap(static_cast<int>(state.range(2)), static_cast<int>(state.range(3)), 2);
    page.classes = Classes();
    page.modelFile = "scene.cct_run.mlp";
    std::string html;
    for (auto _ : state) {
        html = velkar::ordana::RenderClassificationPage(page);
        benchmark::DoNotOptimize(html.data());
    }
    state.counters["page_MB"] = static_cast<double>(html.size()) / 1e6;
}

void ExperimentPageBench(benchmark::State& state) {
    ExperimentPage page;
    page.imageFile = "scene.png";
    page.polygonFile = "scene.cct";
    page.image = Image(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                       static_cast<int>(state.range(2)), 3);
    page.classes = Classes();
    for (int i = 0; i < 40; ++i) {
        const double x = (i % 8) * page.image.width / 8.0;
        const double y = (i / 8) * page.image.height / 5.0;
        page.polygons.push_back({{{x + 5, y + 5}, {x + 60, y + 8}, {x + 50, y + 70}}, i % 4});
    }
    for (int s = 0; s < 2; ++s) {
        velkar::ordana::ClassifierSection section;
        section.classifierName = s == 0 ? "mlp" : "mahalanobis";
        section.extraction = "wca aws=5";
        section.repetitions = 10;
        section.accumulatedTestAccuracy.assign(10, 0.8);
        section.windowSplit = velkar::ordana::ConfusionMatrix(4);
        for (int i = 0; i < 400; ++i) {
            section.windowSplit.Add(i % 4, i % 7 == 0 ? (i + 1) % 4 : i % 4);
        }
        section.heldOut = section.windowSplit;
        page.sections.push_back(section);
    }
    std::string html;
    for (auto _ : state) {
        html = velkar::ordana::RenderExperimentPage(page);
        benchmark::DoNotOptimize(html.data());
    }
    state.counters["page_MB"] = static_cast<double>(html.size()) / 1e6;
}

// Image width, height, class-map width, height, noise.
BENCHMARK(ClassificationPageBench)
    ->Args({240, 160, 240, 160, 12})
    ->Args({2448, 1632, 4896, 3264, 12})
    ->Args({2448, 1632, 4896, 3264, 40})
    ->Args({2448, 1632, 4896, 3264, 128})
    ->Unit(benchmark::kMillisecond);
// Image width, height, noise.
BENCHMARK(ExperimentPageBench)
    ->Args({320, 240, 12})
    ->Args({2448, 1632, 12})
    ->Args({2448, 1632, 40})
    ->Unit(benchmark::kMillisecond);

}  // namespace
