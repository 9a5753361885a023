// Training and classification throughput of the pattern-recognition classifiers on random
// patterns, reported as patterns per second.

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

void BM_MultilayerPerceptronClassify(benchmark::State& state) {
    const PatternSet set = RandomPatterns();
    velkar::util::Seed(1);
    MultilayerPerceptron network(dimension, {10}, 0.3, 0.3, 0.0, 5);
    network.Train(set);
    velkar::bench::ClassifyEach(state, network, velkar::bench::FeaturesOf(set));
}
BENCHMARK(BM_MultilayerPerceptronClassify)->Unit(benchmark::kMillisecond);

}  // namespace
