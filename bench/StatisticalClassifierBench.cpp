// Training and classification throughput of the Mahalanobis distance, Point K and learning vector
// quantization classifiers on 2,000 random patterns of 12 features and 4 classes (patterns per
// second), the time to classify 1,000,000 patterns with each, and one run of the genetic feature
// selection driven by the Mahalanobis classifier.

#include <iostream>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/BenchmarkInputs.h"
#include "velkar/optimization/Genetic.h"
#include "velkar/patternrecognition/LearningVectorQuantization.h"
#include "velkar/patternrecognition/MahalanobisDistance.h"
#include "velkar/patternrecognition/Pattern.h"
#include "velkar/patternrecognition/PointK.h"
#include "velkar/util/Random.h"

namespace {

using velkar::bench::CountPatterns;
using velkar::bench::FeaturesOf;
using velkar::patternrecognition::LearningVectorQuantization;
using velkar::patternrecognition::MahalanobisDistance;
using velkar::patternrecognition::PatternList;
using velkar::patternrecognition::PatternRecognitionAlgorithm;
using velkar::patternrecognition::PatternSet;
using velkar::patternrecognition::PointK;

constexpr int patternCount = 2000;
constexpr int dimension = 12;
constexpr int classCount = 4;
constexpr int million = 1'000'000;

// Gaussian clouds around one random centre per class, classes 1 ... 4 in turn.
PatternSet RandomPatterns(int count = patternCount, unsigned seed = 12345) {
    return velkar::bench::ClusteredPatterns({count, dimension, classCount, 1}, -2.0, 2.0, 1.0,
                                            seed);
}

// Point K prints the training-set size on standard output; the benchmarks keep it off the report.
class QuietOutput {
  public:
    QuietOutput() : saved(std::cout.rdbuf(nullptr)) {}
    ~QuietOutput() {
        std::cout.rdbuf(saved);
        std::cout.clear();
    }
    QuietOutput(const QuietOutput&) = delete;
    QuietOutput& operator=(const QuietOutput&) = delete;

  private:
    std::streambuf* saved;
};

void ClassifyAll(benchmark::State& state, PatternRecognitionAlgorithm& classifier) {
    velkar::bench::ClassifyEach(state, classifier, FeaturesOf(RandomPatterns(patternCount, 999)));
}

void ClassifyMillion(benchmark::State& state, PatternRecognitionAlgorithm& classifier) {
    std::vector<std::vector<double>> features = FeaturesOf(RandomPatterns(patternCount, 999));
    for (auto _ : state) {
        for (int i = 0; i < million; ++i) {
            benchmark::DoNotOptimize(classifier.Classify(features[i % patternCount]));
        }
    }
    CountPatterns(state, million);
}

std::unique_ptr<MahalanobisDistance> TrainedMahalanobis() {
    auto classifier = std::make_unique<MahalanobisDistance>(classCount);
    classifier->Train(RandomPatterns());
    return classifier;
}

std::unique_ptr<PointK> TrainedPointK() {
    QuietOutput quiet;
    velkar::util::Seed(1);
    auto classifier = std::make_unique<PointK>(classCount, 10);
    classifier->Train(RandomPatterns());
    return classifier;
}

std::unique_ptr<LearningVectorQuantization> TrainedVectorQuantization() {
    velkar::util::Seed(1);
    auto classifier = std::make_unique<LearningVectorQuantization>(8, classCount, 20, 0.1);
    classifier->Train(RandomPatterns());
    return classifier;
}

void BM_MahalanobisTrain(benchmark::State& state) {
    const PatternSet set = RandomPatterns();
    MahalanobisDistance classifier(classCount);
    for (auto _ : state) {
        classifier.Train(set);
        benchmark::DoNotOptimize(classifier.InputSize());
    }
    CountPatterns(state, patternCount);
}
BENCHMARK(BM_MahalanobisTrain)->Unit(benchmark::kMillisecond);

void BM_MahalanobisClassify(benchmark::State& state) { ClassifyAll(state, *TrainedMahalanobis()); }
BENCHMARK(BM_MahalanobisClassify)->Unit(benchmark::kMillisecond);

void BM_MahalanobisClassifyMillion(benchmark::State& state) {
    ClassifyMillion(state, *TrainedMahalanobis());
}
BENCHMARK(BM_MahalanobisClassifyMillion)->Iterations(1)->Unit(benchmark::kMillisecond);

// Ten k-means iterations per Train.
void BM_PointKTrain(benchmark::State& state) {
    const PatternSet set = RandomPatterns();
    velkar::util::Seed(1);
    PointK classifier(classCount, 10);
    QuietOutput quiet;
    for (auto _ : state) {
        classifier.Train(set);
        benchmark::DoNotOptimize(classifier.InputSize());
    }
    CountPatterns(state, patternCount * 10.0);
}
BENCHMARK(BM_PointKTrain)->Unit(benchmark::kMillisecond);

void BM_PointKClassify(benchmark::State& state) { ClassifyAll(state, *TrainedPointK()); }
BENCHMARK(BM_PointKClassify)->Unit(benchmark::kMillisecond);

void BM_PointKClassifyMillion(benchmark::State& state) { ClassifyMillion(state, *TrainedPointK()); }
BENCHMARK(BM_PointKClassifyMillion)->Iterations(1)->Unit(benchmark::kMillisecond);

// Eight prototypes, twenty epochs per Train; the rate counts pattern visits.
void BM_VectorQuantizationTrain(benchmark::State& state) {
    const PatternSet set = RandomPatterns();
    velkar::util::Seed(1);
    LearningVectorQuantization classifier(8, classCount, 20, 0.1);
    for (auto _ : state) {
        classifier.Train(set);
        benchmark::DoNotOptimize(classifier.InputSize());
    }
    CountPatterns(state, patternCount * 20.0);
}
BENCHMARK(BM_VectorQuantizationTrain)->Unit(benchmark::kMillisecond);

void BM_VectorQuantizationClassify(benchmark::State& state) {
    ClassifyAll(state, *TrainedVectorQuantization());
}
BENCHMARK(BM_VectorQuantizationClassify)->Unit(benchmark::kMillisecond);

void BM_VectorQuantizationClassifyMillion(benchmark::State& state) {
    ClassifyMillion(state, *TrainedVectorQuantization());
}
BENCHMARK(BM_VectorQuantizationClassifyMillion)->Iterations(1)->Unit(benchmark::kMillisecond);

// One whole selection (8 generations of up to 9 evaluations) on 1,000 training and 1,000 test
// patterns.
void BM_GeneticWithMahalanobis(benchmark::State& state) {
    const PatternSet all = RandomPatterns();
    const auto train = std::make_shared<PatternList>(all->begin(), all->begin() + 1000);
    const auto test = std::make_shared<PatternList>(all->begin() + 1000, all->end());
    MahalanobisDistance classifier(classCount);
    velkar::optimization::Genetic genetic(&classifier, 2);
    velkar::util::Seed(1);
    QuietOutput quiet;
    for (auto _ : state) {
        double fitness = 0.0;
        benchmark::DoNotOptimize(genetic.Optimize(train, test, &fitness));
    }
}
BENCHMARK(BM_GeneticWithMahalanobis)->Unit(benchmark::kMillisecond);

}  // namespace
