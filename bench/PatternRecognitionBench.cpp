// Training and classification throughput of the pattern-recognition classifiers on random
// patterns, reported as patterns per second.

#include <chrono>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/BenchmarkInputs.h"
#include "velkar/patternrecognition/MultilayerPerceptron.h"
#include "velkar/patternrecognition/Pattern.h"
#include "velkar/util/Random.h"

namespace {

using velkar::patternrecognition::MultilayerPerceptron;
using velkar::patternrecognition::PatternSet;

constexpr int patternCount = 2000;
constexpr int dimension = 12;

// Uniform features with the class drawn in turn, so every class is present from the start.
PatternSet RandomPatterns() {
    return velkar::bench::UniformPatterns({patternCount, dimension, 4, 0}, -1.0, 1.0, 12345);
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
    velkar::bench::CountPatterns(state, static_cast<double>(patternCount) * epochs);
}
BENCHMARK(BM_MultilayerPerceptronTrain)->Arg(5)->Unit(benchmark::kMillisecond);

// The time of one epoch on 2000 patterns of the given features, one hidden layer and classes:
// a 21-epoch training less a 1-epoch one, over 20, so that setting up is left out.
void BM_MultilayerPerceptronEpoch(benchmark::State& state) {
    const int features = static_cast<int>(state.range(0));
    const int hidden = static_cast<int>(state.range(1));
    const int classes = static_cast<int>(state.range(2));
    const PatternSet set =
        velkar::bench::UniformPatterns({patternCount, features, classes, 0}, -1.0, 1.0, 12345);
    velkar::util::Seed(1);
    auto trainingTime = [&](int epochs) {
        const auto start = std::chrono::steady_clock::now();
        MultilayerPerceptron network(features, {hidden}, 0.3, 0.3, 0.0, epochs);
        network.Train(set);
        benchmark::DoNotOptimize(network.EpochsRun());
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    for (auto _ : state) {
        const double one = trainingTime(1);
        state.SetIterationTime((trainingTime(21) - one) / 20.0);
    }
}
BENCHMARK(BM_MultilayerPerceptronEpoch)
    ->Args({12, 10, 4})
    ->Args({3, 8, 3})
    ->Args({30, 40, 6})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

void BM_MultilayerPerceptronClassify(benchmark::State& state) {
    const PatternSet set = RandomPatterns();
    velkar::util::Seed(1);
    MultilayerPerceptron network(dimension, {10}, 0.3, 0.3, 0.0, 5);
    network.Train(set);
    velkar::bench::ClassifyEach(state, network, velkar::bench::FeaturesOf(set));
}
BENCHMARK(BM_MultilayerPerceptronClassify)->Unit(benchmark::kMillisecond);

}  // namespace
