#pragma once

// Inputs and measuring loops shared by the benchmark programs. Every input comes from a fixed
// seed, so two runs measure the same work: images of random colours, labelled rectangles and
// triangles, and pattern sets of 0 ... count - 1 whose classes are taken in turn (features drawn
// uniformly, or as clouds around one random centre per class). The loops run an extractor or a
// classifier once per iteration and report windows or patterns per second.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/featureextraction/WindowGrid.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/Pixel.h"
#include "velkar/math/Polygon.h"
#include "velkar/patternrecognition/Pattern.h"
#include "velkar/patternrecognition/PatternRecognitionAlgorithm.h"
#include "velkar/util/Parallel.h"

namespace velkar::bench {

using PolygonList = std::vector<std::shared_ptr<math::Polygon>>;

// A size x size three-band image whose levels are drawn uniformly from 0 ... 255, red, green
// and blue of each pixel in turn, row after row.
inline std::shared_ptr<imageprocessing::ImageFileSystem> RandomColourImage(int size,
                                                                           unsigned seed) {
    auto image = imageprocessing::ImageFileSystem::Create("bench.png", size, size, 3);
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> level(0, 255);
    imageprocessing::Pixel pixel;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            pixel[0] = static_cast<std::uint8_t>(level(generator));
            pixel[1] = static_cast<std::uint8_t>(level(generator));
            pixel[2] = static_cast<std::uint8_t>(level(generator));
            image->SetPixel(x, y, pixel);
        }
    }
    return image;
}

// A polygon of the given corners with class "class<id % 4>" and the id.
inline std::shared_ptr<math::Polygon> LabelledPolygon(std::vector<math::Polygon::Point> corners,
                                                      int id) {
    auto polygon = std::make_shared<math::Polygon>();
    polygon->SetPoints(corners.data(), static_cast<int>(corners.size()));
    polygon->SetClass("class" + std::to_string(id % 4));
    polygon->SetId(id);
    return polygon;
}

inline std::shared_ptr<math::Polygon> Rectangle(int left, int top, int right, int bottom,
                                                int id = 0) {
    return LabelledPolygon({{left, top}, {right, top}, {right, bottom}, {left, bottom}}, id);
}

// count polygons with first corners drawn from the image and sides of 20 ... 300 pixels: even
// ids rectangles, odd ids right triangles.
inline PolygonList RandomPolygons(int imageSize, int count) {
    std::mt19937 generator(2);
    std::uniform_int_distribution<int> origin(0, imageSize - 1);
    std::uniform_int_distribution<int> extent(20, 300);
    PolygonList polygons;
    for (int id = 0; id < count; ++id) {
        const int x = origin(generator);
        const int y = origin(generator);
        const int width = extent(generator);
        const int height = extent(generator);
        polygons.push_back(id % 2 == 0
                               ? Rectangle(x, y, x + width, y + height, id)
                               : LabelledPolygon({{x, y}, {x + width, y}, {x, y + height}}, id));
    }
    return polygons;
}

// Runs the extractor over the polygons once per iteration; reports windows (descriptors) per
// second and the threads in use.
inline void ProcessEveryIteration(benchmark::State& state,
                                  featureextraction::FeatureExtractionAlgorithm& extractor,
                                  PolygonList& polygons) {
    std::size_t windows = 0;
    for (auto _ : state) {
        auto descriptors = extractor.Process(polygons);
        windows += descriptors.size();
        benchmark::DoNotOptimize(descriptors.data());
    }
    state.counters["windows"] =
        benchmark::Counter(static_cast<double>(windows), benchmark::Counter::kIsRate);
    state.counters["threads"] = static_cast<double>(util::MaxThreads());
}

// The windows a classification run describes on the "pixel" grid (step 1) of the extractor's
// window size over its image, in the run's batches of 32768, at most windowLimit of them, once
// per iteration; reports windows per second and the threads in use.
inline void DescribePixelGrid(benchmark::State& state,
                              featureextraction::FeatureExtractionAlgorithm& extractor,
                              const imageprocessing::ImageFileSystem& image,
                              std::size_t windowLimit = SIZE_MAX) {
    constexpr std::size_t kBatch = 32768;
    const featureextraction::WindowGrid grid(extractor.WindowSize(), 1, image.Width(),
                                             image.Height());
    const std::size_t total = std::min(grid.Count(), windowLimit);
    std::vector<double> features;
    for (auto _ : state) {
        for (std::size_t first = 0; first < total; first += kBatch) {
            extractor.DescribeGrid(grid, first, std::min(kBatch, total - first), features);
            benchmark::DoNotOptimize(features.data());
        }
    }
    state.counters["windows"] = benchmark::Counter(static_cast<double>(total * state.iterations()),
                                                   benchmark::Counter::kIsRate);
    state.counters["threads"] = static_cast<double>(util::MaxThreads());
}

// The shape of a generated pattern set: count patterns of dimension features whose classes
// firstClass, firstClass + 1, ... (classCount of them) are taken in turn.
struct PatternShape {
    int count = 2000;
    int dimension = 12;
    int classCount = 4;
    int firstClass = 0;
};

// Pattern i gets class firstClass + i % classCount and features draw(i, j), j = 0, 1, ...
template <typename Draw>
patternrecognition::PatternSet MakePatterns(const PatternShape& shape, Draw&& draw) {
    auto set = std::make_shared<patternrecognition::PatternList>();
    for (int i = 0; i < shape.count; ++i) {
        auto pattern = std::make_shared<patternrecognition::Pattern>();
        pattern->SetClass(shape.firstClass + i % shape.classCount);
        std::vector<double> features(static_cast<std::size_t>(shape.dimension));
        for (int j = 0; j < shape.dimension; ++j) {
            features[static_cast<std::size_t>(j)] = draw(i, j);
        }
        pattern->SetDescriptors(features);
        set->push_back(pattern);
    }
    return set;
}

// Features drawn uniformly from [low, high].
inline patternrecognition::PatternSet UniformPatterns(const PatternShape& shape, double low,
                                                      double high, unsigned seed) {
    std::mt19937 engine(seed);
    std::uniform_real_distribution<double> feature(low, high);
    return MakePatterns(shape, [&](int, int) { return feature(engine); });
}

// Every class a cloud of normal noise of the given deviation around a centre whose coordinates
// are drawn uniformly from [low, high] (all centres first, then the patterns).
inline patternrecognition::PatternSet ClusteredPatterns(const PatternShape& shape, double low,
                                                        double high, double deviation,
                                                        unsigned seed) {
    std::mt19937 engine(seed);
    std::uniform_real_distribution<double> centre(low, high);
    std::normal_distribution<double> noise(0.0, deviation);
    std::vector<std::vector<double>> centres(
        static_cast<std::size_t>(shape.classCount),
        std::vector<double>(static_cast<std::size_t>(shape.dimension)));
    for (auto& coordinates : centres) {
        for (double& value : coordinates) {
            value = centre(engine);
        }
    }
    return MakePatterns(shape, [&](int i, int j) {
        return centres[static_cast<std::size_t>(i % shape.classCount)]
                      [static_cast<std::size_t>(j)] +
               noise(engine);
    });
}

inline std::vector<std::vector<double>> FeaturesOf(const patternrecognition::PatternSet& set) {
    std::vector<std::vector<double>> features;
    for (const auto& pattern : *set) {
        features.push_back(*pattern->Descriptors());
    }
    return features;
}

// Reports perIteration patterns per iteration as a rate.
inline void CountPatterns(benchmark::State& state, double perIteration) {
    state.counters["patterns"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * perIteration, benchmark::Counter::kIsRate);
}

// Classifies every feature vector once per iteration.
inline void ClassifyEach(benchmark::State& state,
                         patternrecognition::PatternRecognitionAlgorithm& classifier,
                         std::vector<std::vector<double>> features) {
    for (auto _ : state) {
        for (auto& vector : features) {
            benchmark::DoNotOptimize(classifier.Classify(vector));
        }
    }
    CountPatterns(state, static_cast<double>(features.size()));
}

// An extractor that describes grid windows by the base's path, one polygon per window, so that
// an extractor's own grid path can be measured against it.
template <typename Extractor>
class PolygonPerWindow : public Extractor {
  public:
    using Extractor::Extractor;

  protected:
    void DescribeGridWindows(const featureextraction::WindowGrid& grid, std::size_t first,
                             std::size_t count, double* features) override {
        featureextraction::FeatureExtractionAlgorithm::DescribeGridWindows(grid, first, count,
                                                                           features);
    }
};

}  // namespace velkar::bench
