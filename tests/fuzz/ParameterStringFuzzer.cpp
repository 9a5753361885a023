// Feeds arbitrary bytes as the extractor parameter string of a model file. Whatever the string,
// rebuilding either gives nothing (the problem reported as a log line) or an extractor that
// describes a small image without failing, every descriptor holding FeatureCount() values.

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "ordana/AlgorithmFactory.h"
#include "ordana/ParameterParser.h"
#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/math/Polygon.h"

namespace {

std::shared_ptr<velkar::imageprocessing::ImageFileSystem> SmallImage() {
    auto image = velkar::imageprocessing::ImageFileSystem::Create("memory.png", 24, 20, 3);
    for (int x = 0; x < 24; ++x) {
        for (int y = 0; y < 20; ++y) {
            velkar::imageprocessing::Pixel pixel;
            pixel[0] = static_cast<unsigned char>(11 * x + 3 * y);
            pixel[1] = static_cast<unsigned char>(x * y);
            pixel[2] = static_cast<unsigned char>((x + y) % 2 == 0 ? 255 : 0);
            image->SetPixel(x, y, pixel);
        }
    }
    return image;
}

std::vector<std::shared_ptr<velkar::math::Polygon>> Polygons() {
    auto polygon = std::make_shared<velkar::math::Polygon>();
    const velkar::math::Polygon::Point corners[] = {{0, 0}, {0, 19}, {23, 19}, {23, 0}};
    polygon->SetPoints(corners, 4);
    polygon->SetClass("plot");
    return {polygon};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The rebuilding reports its problems on standard output; fuzzing needs no such lines.
    static const bool silenced = [] {
        std::cout.setstate(std::ios::badbit);
        return true;
    }();
    (void)silenced;
    static const auto image = SmallImage();
    static auto polygons = Polygons();

    const char* arguments[] = {"ordana"};
    velkar::ordana::ParameterParser parser(1, arguments);
    velkar::ordana::AlgorithmFactory factory(parser);
    const std::string parameters(reinterpret_cast<const char*>(data), size);
    const auto extractor = factory.FeatureExtractionFromParameters(parameters);
    if (!extractor) {
        return 0;
    }
    if (extractor->FeatureCount() < 1) {
        __builtin_trap();
    }
    extractor->SetImage(image);
    for (const auto& descriptor : extractor->Process(polygons)) {
        std::size_t values = 0;
        for (const auto& band : descriptor->Features()) {
            values += band.size();
        }
        if (values != static_cast<std::size_t>(extractor->FeatureCount())) {
            __builtin_trap();
        }
    }
    return 0;
}
