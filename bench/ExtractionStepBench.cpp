// The extraction step of an experiment as the program runs it (MapProcessor::Process): every
// extractor at window size 8 over a 1920 x 1920 PNG of random colours cut into four labelled
// 960 x 960 polygons (57,600 windows), reading the image, describing the polygons and writing
// the descriptor file, on 1 and 2 threads. Reports windows per second; the ratio of the two
// thread counts is the step's scaling. The files go to a temporary folder; each iteration's
// descriptor file is removed, and the step's own timing report is kept off the output.

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
#include "velkar/featureextraction/CoOccurrenceMatrix.h"
#include "velkar/featureextraction/ColorAverage.h"
#include "velkar/featureextraction/FourierTransform.h"
#include "velkar/featureextraction/GrayLevelDifferenceVector.h"
#include "velkar/featureextraction/WaveletTransform.h"
#include "velkar/util/Parallel.h"

namespace {

using velkar::featureextraction::FeatureExtractionAlgorithm;
using velkar::ordana::MapProcessor;

constexpr int kImageSize = 1920;
constexpr int kWindow = 8;

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
        default:
            return std::make_shared<WaveletTransform>(kWindow, 2, "db1");
    }
}

// The scene image and its polygon file, written once.
const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = [] {
        const auto made = std::filesystem::temp_directory_path() / "ordana-extraction-bench";
        std::filesystem::create_directories(made);
        velkar::bench::RandomColourImage(kImageSize, 5)->SaveAs((made / "scene.png").string());
        std::ofstream polygons(made / "scene.cct");
        const int half = kImageSize / 2;
        polygons << "scene.png\n4\na\nb\nc\nd\n4\n#ff0000\n#00ff00\n#0000ff\n#ffff00\n4\n"
                 << "a\nb\nc\nd\n4\n";
        for (int id = 0; id < 4; ++id) {
            const int x = (id % 2) * half;
            const int y = (id / 2) * half;
            polygons << "4\n"
                     << x << " " << y << "\n"
                     << x + half << " " << y << "\n"
                     << x + half << " " << y + half << "\n"
                     << x << " " << y + half << "\n";
        }
        return made;
    }();
    return folder;
}

// Arguments: extractor (0 colour average, 1 co-occurrence, 2 grey-level differences,
// 3 Fourier, 4 wavelets), threads.
void BM_ExtractionStep(benchmark::State& state) {
    const velkar::util::ThreadLimit limit(static_cast<int>(state.range(1)));
    std::ostringstream report;
    const velkar::ordana::ProtocolWriter protocol(false, report, report);
    std::size_t windows = 0;
    Folder();
    for (auto _ : state) {
        MapProcessor processor(protocol);
        processor.imageFile = (Folder() / "scene.png").string();
        processor.polygonFile = (Folder() / "scene.cct").string();
        processor.polygonFileName = "scene.cct";
        processor.algorithms.push_back(Extractor(static_cast<int>(state.range(0))));
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
    ->ArgsProduct({{0, 1, 2, 3, 4}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
