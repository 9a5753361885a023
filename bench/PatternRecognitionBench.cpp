// Training and classification throughput of the pattern-recognition classifiers on random
// patterns, reported as patterns per second.

#include <memory>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "velkar/patternrecognition/MultilayerPerceptron.h"
#include "velkar/patternrecognition/Pattern.h"
#include "velkar/util/Random.h"

namespace {

using velkar::patternrecognition::MultilayerPerceptron;
using velkar::patternrecognition::Pattern;
using velkar::patternrecognition::PatternList;
using velkar::patternrecognition::PatternSet;

constexpr int patternCount = 2000;
constexpr int dimension = 12;
constexpr int classCount = 4;

// Uniform features with the class drawn in turn, so every class is present from the start.
PatternSet RandomPatterns() {
    std::mt19937 engine(12345);
    std::uniform_real_distribution<double> feature(-1.0, 1.0);
    auto set = std::make_shared<PatternList>();
    for (int i = 0; i < patternCount; ++i) {
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(i % classCount);
        std::vector<double> features(dimension);
        for (double& value : features) {
            value = feature(engine);
        }
        pattern->SetDescriptors(features);
        set->push_back(pattern);
    }
    return set;
}

void BM_MultilayerPerceptronTrain(benchmark::State& state) {
    const int epochs = static_cast<int>(state.range(0));
    const PatternSet set = RandomPatterns();
    velkar::util::Seed(1);
    for (auto _ : state) {
        // maxError 0 never stops early, so exactly `epochs` passes run.
        MultilayerPerceptron network(dimension, {10}, 0.3, 0.3, 0.0, epochs);
        network.Train(set);
        benchmark::DoNotOptimize(network.EpochsRun());
    }
    state.counters["patterns"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * patternCount * epochs,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MultilayerPerceptronTrain)->Arg(5)->Unit(benchmark::kMillisecond);

void BM_MultilayerPerceptronClassify(benchmark::State& state) {
    const PatternSet set = RandomPatterns();
    velkar::util::Seed(1);
    MultilayerPerceptron network(dimension, {10}, 0.3, 0.3, 0.0, 5);
    network.Train(set);
    std::vector<std::vector<double>> features;
    for (const auto& pattern : *set) {
        features.push_back(*pattern->Descriptors());
    }
    for (auto _ : state) {
        for (auto& vector : features) {
            benchmark::DoNotOptimize(network.Classify(vector));
        }
    }
    state.counters["patterns"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * patternCount, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MultilayerPerceptronClassify)->Unit(benchmark::kMillisecond);

}  // namespace
