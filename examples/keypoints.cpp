// Draws the keypoints the library finds inside the polygons of a polygon file: every keypoint
// as a circle whose radius is its scale in image pixels and a line from its centre along its
// orientation, in red, green or blue for the colour band it was found in.
//
//     keypoints <image> <polygon file> <output.png>

#include <cmath>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "ordana/PolygonFile.h"
#include "velkar/featureextraction/ScaleInvariantFeatureTransform.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/Pixel.h"

namespace {

using velkar::imageprocessing::ImageFileSystem;
using velkar::imageprocessing::Pixel;

constexpr double kPi = 3.141592653589793;

Pixel BandColour(int band) {
    Pixel colour;
    colour[0] = band == 0 ? 255 : 0;
    colour[1] = band == 1 ? 255 : 0;
    colour[2] = band == 2 ? 255 : 0;
    return colour;
}

void DrawCircle(ImageFileSystem& image, double x, double y, double radius, const Pixel& colour) {
    // Enough points to close the outline at any radius.
    const int steps = std::max(16, static_cast<int>(2.0 * kPi * radius * 2.0));
    for (int step = 0; step < steps; ++step) {
        const double angle = 2.0 * kPi * step / steps;
        image.SetPixel(static_cast<int>(std::lround(x + radius * std::cos(angle))),
                       static_cast<int>(std::lround(y + radius * std::sin(angle))), colour);
    }
}

void DrawLine(ImageFileSystem& image, double x, double y, double length, double angle,
              const Pixel& colour) {
    const int steps = std::max(2, static_cast<int>(length * 2.0));
    for (int step = 0; step <= steps; ++step) {
        const double along = length * step / steps;
        image.SetPixel(static_cast<int>(std::lround(x + along * std::cos(angle))),
                       static_cast<int>(std::lround(y + along * std::sin(angle))), colour);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: " << argv[0] << " <image> <polygon file> <output.png>\n";
        return EXIT_FAILURE;
    }
    try {
        auto image = std::make_shared<ImageFileSystem>(argv[1]);
        if (!image->IsLoaded()) {
            std::cerr << "Cannot read the image file '" << argv[1] << "'.\n";
            return EXIT_FAILURE;
        }
        const auto content = velkar::ordana::ReadPolygonFile(argv[2], false);

        // The picture: a copy of the image with the keypoints drawn over it.
        auto picture = ImageFileSystem::Create(argv[3], image->Width(), image->Height(), 3);
        Pixel pixel;
        for (int y = 0; y < image->Height(); ++y) {
            for (int x = 0; x < image->Width(); ++x) {
                image->Pixel(x, y, pixel);
                picture->SetPixel(x, y, pixel);
            }
        }

        velkar::featureextraction::ScaleInvariantFeatureTransform extractor;
        extractor.SetImage(image);
        std::size_t count = 0;
        for (const auto& polygon : content.polygons) {
            const auto box = polygon->Bounds();
            // Keypoint positions are counted from the corner of the polygon's bounding box.
            const double left = boost::polygon::xl(box);
            const double top = boost::polygon::yl(box);
            for (const auto& keypoint : extractor.Keypoints(*polygon)) {
                const double radius =
                    std::max(2.0, keypoint.scale * std::pow(2.0, keypoint.octave) / 2.0);
                const Pixel colour = BandColour(keypoint.band);
                DrawCircle(*picture, left + keypoint.x, top + keypoint.y, radius, colour);
                DrawLine(*picture, left + keypoint.x, top + keypoint.y, radius,
                         keypoint.orientation, colour);
                ++count;
            }
        }
        if (!picture->SaveAs(argv[3])) {
            std::cerr << "Cannot write '" << argv[3] << "'.\n";
            return EXIT_FAILURE;
        }
        std::cout << count << " keypoints in " << content.polygons.size() << " polygons drawn to "
                  << argv[3] << "\n";
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
