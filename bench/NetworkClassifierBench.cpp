// Training and classification throughput of k-means and the network classifiers (radial basis
// function network, ART2, self-organizing map) on 2,000 patterns of 12 features in 4 classes,
// reported as patterns per second. Classifying the windows of a 1 Mpx image means 10^6 calls.

#include <memory>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "velkar/patternrecognition/AdaptiveResonanceTheory2.h"
#include "velkar/patternrecognition/KMeans.h"
#include "velkar/patternrecognition/Pattern.h"
#include "velkar/patternrecognition/RadialBasisFunctionNetwork.h"
#include "velkar/patternrecognition/SelfOrganizingMap.h"
#include "velkar/util/Random.h"

namespace {

using namespace velkar::patternrecognition;

constexpr int patternCount = 2000;
constexpr int dimension = 12;
constexpr int classCount = 4;

// Four clouds around random centres in [0, 1]^12, the classes taken in turn.
PatternSet ClusteredPatterns() {
    std::mt19937 engine(12345);
    std::uniform_real_distribution<double> centre(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<std::vector<double>> centres(classCount, std::vector<double>(dimension));
    for (auto& c : centres) {
        for (double& value : c) {
            value = centre(engine);
        }
    }
    auto set = std::make_shared<PatternList>();
    for (int i = 0; i < patternCount; ++i) {
        auto pattern = std::make_shared<Pattern>();
        pattern->SetClass(i % classCount);
        std::vector<double> features(dimension);
        for (int f = 0; f < dimension; ++f) {
            features[f] = centres[i % classCount][f] + noise(engine);
        }
        pattern->SetDescriptors(features);
        set->push_back(pattern);
    }
    return set;
}

void CountPatterns(benchmark::State& state, double perIteration) {
    state.counters["patterns"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * perIteration, benchmark::Counter::kIsRate);
}

// Classifies every pattern of the set once per iteration.
void ClassifyAll(benchmark::State& state, PatternRecognitionAlgorithm& classifier,
                 const PatternSet& set) {
    std::vector<std::vector<double>> features;
    for (const auto& pattern : *set) {
        features.push_back(*pattern->Descriptors());
    }
    for (auto _ : state) {
        for (auto& vector : features) {
            benchmark::DoNotOptimize(classifier.Classify(vector));
        }
    }
    CountPatterns(state, patternCount);
}

std::unique_ptr<RadialBasisFunctionNetwork> RadialBasis() {
    return std::make_unique<RadialBasisFunctionNetwork>(0.05, 4, 20);
}

std::unique_ptr<AdaptiveResonanceTheory2> Resonance() {
    return std::make_unique<AdaptiveResonanceTheory2>(dimension, 20, 10.0, 10.0, 0.1, 0.9, 0.1,
                                                      0.9);
}

std::unique_ptr<SelfOrganizingMap> Map() {
    return std::make_unique<SelfOrganizingMap>(10, dimension, 0.5, 0.5, 10000);
}

void BM_KMeansTrain(benchmark::State& state) {
    const PatternSet set = ClusteredPatterns();
    velkar::util::Seed(1);
    for (auto _ : state) {
        KMeans clustering(8, 100);
        clustering.Train(set);
        benchmark::DoNotOptimize(clustering.PatternMembershipCount());
    }
    CountPatterns(state, patternCount);
}
BENCHMARK(BM_KMeansTrain)->Unit(benchmark::kMillisecond);

// 4 clusters per class, 20 epochs of the output layer.
void BM_RadialBasisTrain(benchmark::State& state) {
    const PatternSet set = ClusteredPatterns();
    velkar::util::Seed(1);
    for (auto _ : state) {
        auto network = RadialBasis();
        network->Train(set);
        benchmark::DoNotOptimize(network->TrainingError());
    }
    CountPatterns(state, patternCount);
}
BENCHMARK(BM_RadialBasisTrain)->Unit(benchmark::kMillisecond);

void BM_RadialBasisClassify(benchmark::State& state) {
    const PatternSet set = ClusteredPatterns();
    velkar::util::Seed(1);
    auto network = RadialBasis();
    network->Train(set);
    ClassifyAll(state, *network, set);
}
BENCHMARK(BM_RadialBasisClassify)->Unit(benchmark::kMillisecond);

// 20 F2 neurons, vigilance 0.9, two passes over the patterns.
void BM_Art2Train(benchmark::State& state) {
    const PatternSet set = ClusteredPatterns();
    for (auto _ : state) {
        auto network = Resonance();
        network->Train(set);
        benchmark::DoNotOptimize(network->UnresolvedPresentations());
    }
    CountPatterns(state, patternCount);
}
BENCHMARK(BM_Art2Train)->Unit(benchmark::kMillisecond);

void BM_Art2Classify(benchmark::State& state) {
    const PatternSet set = ClusteredPatterns();
    auto network = Resonance();
    network->Train(set);
    ClassifyAll(state, *network, set);
}
BENCHMARK(BM_Art2Classify)->Unit(benchmark::kMillisecond);

// A 10 x 10 lattice and 10,000 training steps (each one draws a single pattern).
void BM_SelfOrganizingMapTrain(benchmark::State& state) {
    const PatternSet set = ClusteredPatterns();
    velkar::util::Seed(1);
    for (auto _ : state) {
        auto map = Map();
        map->Train(set);
        benchmark::DoNotOptimize(map->InputSize());
    }
    state.counters["steps"] = benchmark::Counter(static_cast<double>(state.iterations()) * 10000,
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SelfOrganizingMapTrain)->Unit(benchmark::kMillisecond);

void BM_SelfOrganizingMapClassify(benchmark::State& state) {
    const PatternSet set = ClusteredPatterns();
    velkar::util::Seed(1);
    auto map = Map();
    map->Train(set);
    ClassifyAll(state, *map, set);
}
BENCHMARK(BM_SelfOrganizingMapClassify)->Unit(benchmark::kMillisecond);

}  // namespace
