#pragma once

// Images and polygons built in memory for the extractor tests, random ones from fixed seeds, and
// the runs of an extractor over them that every extractor test makes.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "velkar/featureextraction/Descriptor.h"
#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/Pixel.h"
#include "velkar/math/Polygon.h"
#include "velkar/util/Parallel.h"

namespace velkar::testing {

struct Rgb {
    int red;
    int green;
    int blue;
};

inline std::shared_ptr<imageprocessing::ImageFileSystem> MakeImage(
    int width, int height, const std::function<Rgb(int x, int y)>& colourAt) {
    auto image = imageprocessing::ImageFileSystem::Create("test.png", width, height, 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb colour = colourAt(x, y);
            imageprocessing::Pixel pixel;
            pixel[0] = static_cast<std::uint8_t>(colour.red);
            pixel[1] = static_cast<std::uint8_t>(colour.green);
            pixel[2] = static_cast<std::uint8_t>(colour.blue);
            image->SetPixel(x, y, pixel);
        }
    }
    return image;
}

inline std::shared_ptr<math::Polygon> MakePolygon(
    std::initializer_list<std::pair<int, int>> corners, std::string className = "class",
    int id = 0) {
    std::vector<math::Polygon::Point> points;
    for (const auto& [x, y] : corners) {
        points.emplace_back(x, y);
    }
    auto polygon = std::make_shared<math::Polygon>();
    polygon->SetPoints(points.data(), static_cast<int>(points.size()));
    polygon->SetClass(std::move(className));
    polygon->SetId(id);
    return polygon;
}

inline std::shared_ptr<math::Polygon> MakeRectangle(int left, int top, int right, int bottom,
                                                    std::string className = "class", int id = 0) {
    return MakePolygon({{left, top}, {right, top}, {right, bottom}, {left, bottom}},
                       std::move(className), id);
}

// A width x height image of random levels whose channels the tests can read back.
struct RandomPixels {
    int width;
    std::vector<Rgb> pixels;

    RandomPixels(int width, int height, unsigned seed)
        : width(width), pixels(static_cast<std::size_t>(width * height)) {
        std::mt19937 generator(seed);
        std::uniform_int_distribution<int> level(0, 255);
        for (auto& pixel : pixels) {
            pixel = {level(generator), level(generator), level(generator)};
        }
    }
    const Rgb& At(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    // Band 0 red, 1 green, 2 blue.
    int Channel(int x, int y, int band) const {
        const Rgb& pixel = At(x, y);
        return band == 0 ? pixel.red : band == 1 ? pixel.green : pixel.blue;
    }
    std::shared_ptr<imageprocessing::ImageFileSystem> Image() const {
        const int height = static_cast<int>(pixels.size()) / width;
        return MakeImage(width, height, [this](int x, int y) { return At(x, y); });
    }
};

// A width x height image of the given bands whose levels are drawn uniformly from 0 ... 255.
inline std::shared_ptr<imageprocessing::ImageFileSystem> RandomBands(int width, int height,
                                                                     int bands, unsigned seed) {
    auto image = imageprocessing::ImageFileSystem::Create("bands.tif", width, height, bands);
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> level(0, 255);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int b = 0; b < bands; ++b) {
                image->SetPixel(x, y, b, static_cast<unsigned char>(level(generator)));
            }
        }
    }
    return image;
}

// An image of the chosen bands of source, in the order given (bands may repeat).
inline std::shared_ptr<imageprocessing::ImageFileSystem> BandsOf(
    const imageprocessing::ImageFileSystem& source, const std::vector<int>& bands) {
    auto image = imageprocessing::ImageFileSystem::Create(
        "chosen.tif", source.Width(), source.Height(), static_cast<int>(bands.size()));
    for (int y = 0; y < source.Height(); ++y) {
        for (int x = 0; x < source.Width(); ++x) {
            for (std::size_t b = 0; b < bands.size(); ++b) {
                image->SetPixel(x, y, static_cast<int>(b), source.Pixel(x, y, bands[b]));
            }
        }
    }
    return image;
}

// count rectangles and triangles with ids 0, 1, ..., their first corner in [low, high] on both
// axes and sides of 3 to maxSide pixels.
inline std::vector<std::shared_ptr<math::Polygon>> RandomPolygons(int count, unsigned seed, int low,
                                                                  int high, int maxSide) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> corner(low, high);
    std::uniform_int_distribution<int> side(3, maxSide);
    std::vector<std::shared_ptr<math::Polygon>> polygons;
    for (int id = 0; id < count; ++id) {
        const int x = corner(generator);
        const int y = corner(generator);
        const int w = side(generator);
        const int h = side(generator);
        const std::string label = "class" + std::to_string(id % 3);
        polygons.push_back(id % 2 == 0 ? MakeRectangle(x, y, x + w, y + h, label, id)
                                       : MakePolygon({{x, y}, {x + w, y}, {x, y + h}}, label, id));
    }
    return polygons;
}

// The features of every descriptor, in order.
inline std::vector<std::vector<std::vector<double>>> AllFeatures(
    const std::vector<std::shared_ptr<featureextraction::Descriptor>>& descriptors) {
    std::vector<std::vector<std::vector<double>>> features;
    for (const auto& descriptor : descriptors) {
        features.push_back(descriptor->Features());
    }
    return features;
}

// The extractor's descriptors of the polygons on the image; takes temporaries too.
template <typename Extractor>
featureextraction::FeatureExtractionAlgorithm::DescriptorList Extract(
    Extractor&& extractor, std::shared_ptr<imageprocessing::ImageFileSystem> image,
    featureextraction::FeatureExtractionAlgorithm::PolygonList polygons) {
    extractor.SetImage(std::move(image));
    return extractor.Process(polygons);
}

// Expects the extractor (its image set) to give the same descriptors, value for value and in the
// same order, on all threads as on one; answers how many descriptors there were.
inline std::size_t ExpectSameOnOneThread(
    featureextraction::FeatureExtractionAlgorithm& extractor,
    featureextraction::FeatureExtractionAlgorithm::PolygonList& polygons) {
    std::vector<std::vector<std::vector<double>>> single;
    {
        const util::ThreadLimit one(1);
        single = AllFeatures(extractor.Process(polygons));
    }
    EXPECT_EQ(AllFeatures(extractor.Process(polygons)), single);
    return single.size();
}

}  // namespace velkar::testing
