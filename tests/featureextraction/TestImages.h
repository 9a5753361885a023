#pragma once

// Images and polygons built in memory for the extractor tests.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/Pixel.h"
#include "velkar/math/Polygon.h"

namespace velkar::testing {

struct Rgb {
    int red;
    int green;
    int blue;
};

inline std::shared_ptr<imageprocessing::ImageFileSystem> MakeImage(
    int width, int height, const std::function<Rgb(int x, int y)>& colourAt) {
    auto image = imageprocessing::ImageFileSystem::Create("test.png", width, height, 24);
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

}  // namespace velkar::testing
