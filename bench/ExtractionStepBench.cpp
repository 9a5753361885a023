// The extraction step of an experiment as the program runs it (MapProcessor::Process): every
// extractor at window size 8 over a 1920 x 1920 PNG of random colours cut into four labelled
// 960 x 960 polygons (57,600 windows), reading the image, describing the polygons and writing
// the descriptor file, on 1 and 2 threads. The gradient histograms describe whole polygons, so
// they get a polygon file of 400 boxes of 96 x 96 pixels tiling the image instead. Reports
// windows (descriptors) per second; the ratio of the two thread counts is the step's scaling.
// The picture is decoded inside the step (scene 0), or opened before it (scene 1) as the program
// does when it checks the image's bands before any experiment. The files go to a temporary
// folder; each iteration's descriptor file is removed, and the step's own timing report is kept
// off the output.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchmarkInputs.h"
#include "ordana/MapProcessor.h"
#include "ordana/ProtocolWriter.h"
#include "ordana/SceneRaster.h"
#include "velkar/featureextraction/CoOccurrenceMatrix.h"
#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/featureextraction/FourierTransform.h"
#include "velkar/featureextraction/GrayLevelDifferenceVector.h"
#include "velkar/featureextraction/Hog.h"
#include "velkar/featureextraction/WaveletTransform.h"
#include "velkar/util/Parallel.h"

namespace {

using velkar::featureextraction::FeatureExtractionAlgorithm;
using velkar::ordana::MapProcessor;

constexpr int kImageSize = 1920;
constexpr int kWindow = 8;
constexpr int kHogBox = 96;
constexpr int kHog = 5;

std::shared_ptr<FeatureExtractionAlgorithm> Extractor(int kind) {
    using namespace velkar::featureextraction;
    switch (kind) {
        case 0:
            return std::make_shared<ColorAverage>(kWindow, false, false);
        case 1:
            return std::make_shared<CoOccurrenceMatrix>(kWindow, std::vector<int>{1, 0},
                                                        std::vector<int>{0, 1});
        case 2:
            return std::make_shared<GrayLevelDifferenceVector>(kWindow, std::vector<int>{1},
                                                               std::vector<int>{0});
        case 3:
            return std::make_shared<FourierTransform>(kWindow, 10);
        case 4:
            return std::make_shared<WaveletTransform>(kWindow, 2, "db1");
        default:
            // The program's first choice of blocks and bins.
            return std::make_shared<Hog>(2, 2, 9);
    }
}

// Writes a polygon file of the scene's four classes with square polygons of the given side
// tiling the image, labelled a, b, c, d in turn.
void WritePolygons(const std::filesystem::path& path, int side) {
    const int perRow = kImageSize / side;
    std::ofstream polygons(path);
    polygons << "scene.png\n4\na\nb\nc\nd\n4\n#ff0000\n#00ff00\n#0000ff\n#ffff00\n"
             << perRow * perRow << "\n";
    for (int id = 0; id < perRow * perRow; ++id) {
        polygons << "abcd"[id % 4] << "\n";
    }
    polygons << perRow * perRow << "\n";
    for (int id = 0; id < perRow * perRow; ++id) {
        const int x = (id % perRow) * side;
        const int y = (id / perRow) * side;
        polygons << "4\n"
                 << x << " " << y << "\n"
                 << x + side << " " << y << "\n"
                 << x + side << " " << y + side << "\n"
                 << x << " " << y + side << "\n";
    }
}

// The scene image and its polygon files, written once.
const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = [] {
        const auto made = std::filesystem::temp_directory_path() / "ordana-extraction-bench";
        std::filesystem::create_directories(made);
        velkar::bench::RandomColourImage(kImageSize, 5)->SaveAs((made / "scene.png").string());
        WritePolygons(made / "scene.cct", kImageSize / 2);
        WritePolygons(made / "boxes.cct", kHogBox);
        return made;
    }();
    return folder;
}

// Arguments: extractor (0 colour average, 1 co-occurrence, 2 grey-level differences,
// 3 Fourier, 4 wavelets, 5 gradient histograms), threads, scene (0 decoded in the step,
// 1 opened before it).
void BM_ExtractionStep(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(1)));
    std::ostringstream report;
    const velkar::ordana::ProtocolWriter protocol(false, report, report);
    const std::string image = (Folder() / "scene.png").string();
    const auto opened = state.range(2) == 1 ? std::make_shared<velkar::ordana::SceneRaster>(image)
                                            : nullptr;
    const std::string polygonFile = kind == kHog ? "boxes.cct" : "scene.cct";
    std::size_t windows = 0;
    for (auto _ : state) {
        MapProcessor processor(protocol);
        processor.imageFile = image;
        processor.scene = opened;
        processor.polygonFile = (Folder() / polygonFile).string();
        processor.polygonFileName = polygonFile;
        processor.algorithms.push_back(Extractor(kind));
        const auto outputs = processor.Process();
        windows += outputs.front()->polygonIds.size();
        state.PauseTiming();
        std::filesystem::remove(outputs.front()->descriptorFile);
        report.str("");
        state.ResumeTiming();
    }
    state.counters["windows"] =
        benchmark::Counter(static_cast<double>(windows), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExtractionStep)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {1, 2}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
