// Draws the training regions of a polygon file or a vector file (GeoPackage, Shapefile, GeoJSON,
// ...) over the image they belong to, each outline (and each hole's) in its class's colour, so
// that regions placed in the wrong spot or coordinate system show before training. The image is
// read as ordana reads it (its default bands) and held whole, so this is for scenes that fit in
// memory; the picture is a PNG of the image's size.
//
//     draw_regions <image> <polygon or vector file> <output.png> [class field [colour field]]

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "ordana/ClassMap.h"
#include "ordana/PolygonFile.h"
#include "ordana/SceneRaster.h"
#include "ordana/VectorLayerFile.h"
#include "velkar/imageprocessing/ImageFileSystem.h"

namespace {

using velkar::imageprocessing::ImageFileSystem;
using velkar::imageprocessing::Pixel;
using Point = velkar::math::Polygon::Point;

// The closed ring as lines of single pixels (the pixel right of and below each vertex corner).
void DrawRing(ImageFileSystem& picture, const std::vector<Point>& ring, const Pixel& colour) {
    for (std::size_t k = 0; k < ring.size(); ++k) {
        const Point& a = ring[k];
        const Point& b = ring[(k + 1) % ring.size()];
        const int steps = std::max({std::abs(b.x() - a.x()), std::abs(b.y() - a.y()), 1});
        for (int s = 0; s <= steps; ++s) {
            const int x = a.x() + (b.x() - a.x()) * s / steps;
            const int y = a.y() + (b.y() - a.y()) * s / steps;
            if (x >= 0 && y >= 0 && x < picture.Width() && y < picture.Height()) {
                picture.SetPixel(x, y, colour);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 6) {
        std::cerr << "usage: " << argv[0]
                  << " <image> <polygon or vector file> <output.png> [class field [colour "
                     "field]]\n";
        return EXIT_FAILURE;
    }
    try {
        using namespace velkar::ordana;
        const SceneRaster scene(argv[1]);
        VectorFields fields;
        if (argc > 4) {
            fields.classField = argv[4];
        }
        if (argc > 5) {
            fields.colorField = argv[5];
        }
        const PolygonFileContent content =
            IsVectorLayerFile(argv[2])
                ? ReadVectorLayerFile(
                      argv[2], fields, {scene.GetGeoreference(), scene.Width(), scene.Height()},
                      [](const std::string& message) { std::cerr << message << "\n"; })
                : ReadPolygonFile(argv[2], true);

        const auto image = scene.Read({0, 0, scene.Width(), scene.Height()});
        auto picture = ImageFileSystem::Create(argv[3], scene.Width(), scene.Height(), 3);
        Pixel pixel;
        for (int y = 0; y < scene.Height(); ++y) {
            for (int x = 0; x < scene.Width(); ++x) {
                image->Pixel(x, y, pixel);
                picture->SetPixel(x, y, pixel);
            }
        }
        for (const auto& polygon : content.polygons) {
            const auto found =
                std::find(content.classes.begin(), content.classes.end(), polygon->Class());
            const auto index = static_cast<std::size_t>(found - content.classes.begin());
            const auto rgb = ClassMap::ClassColour(
                index, index < content.colors.size() ? content.colors[index] : "");
            Pixel colour;
            colour[0] = rgb[0];
            colour[1] = rgb[1];
            colour[2] = rgb[2];
            DrawRing(*picture, std::vector<Point>(polygon->Begin(), polygon->End()), colour);
            for (const auto& hole : polygon->Holes()) {
                DrawRing(*picture, hole, colour);
            }
        }
        if (!picture->SaveAs(argv[3])) {
            std::cerr << "Cannot write '" << argv[3] << "'.\n";
            return EXIT_FAILURE;
        }
        std::cout << "Drew " << content.polygons.size() << " regions of " << content.classes.size()
                  << " classes into " << argv[3] << "\n";
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
