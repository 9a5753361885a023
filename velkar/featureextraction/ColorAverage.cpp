#include "velkar/featureextraction/ColorAverage.h"

#include <stdexcept>

#include "velkar/imageprocessing/Pixel.h"

namespace velkar::featureextraction {

ColorAverage::ColorAverage(int windowSize, bool addMonochromaticBand, bool normalize)
    : windowSize(windowSize), addMonochromaticBand(addMonochromaticBand), normalize(normalize) {
    if (windowSize < 1) {
        throw std::invalid_argument(
            "The window size of the windowed color average must be at "
            "least 1, got " +
            std::to_string(windowSize));
    }
}

std::string ColorAverage::Name() const { return "Windowed Color Average"; }

std::string ColorAverage::FileExtension() const { return "wca"; }

int ColorAverage::WindowSize() const { return windowSize; }

int ColorAverage::FeatureCount() const { return addMonochromaticBand ? 4 : 3; }

ColorAverage::DescriptorList ColorAverage::Process(PolygonList& polygons) {
    return ProcessPolygons(
        polygons, [this](const math::Polygon& polygon) { return ProcessPolygon(polygon); });
}

ColorAverage::DescriptorList ColorAverage::ProcessPolygon(const math::Polygon& polygon) const {
    DescriptorList descriptors;
    ForEachWindow(polygon, windowSize,
                  [&](int x, int y) { descriptors.push_back(DescribeWindow(polygon, x, y)); });
    return descriptors;
}

std::shared_ptr<Descriptor> ColorAverage::DescribeWindow(const math::Polygon& polygon, int x,
                                                         int y) const {
    const int bands = addMonochromaticBand ? 4 : 3;
    // Every band accumulates its pixels in the same order (column offset outer, row offset
    // inner), so reading each pixel once gives the sums that band-by-band passes would.
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    const imageprocessing::ImageFileSystem& image = *Image();
    imageprocessing::Pixel pixel;
    for (int j = 0; j < windowSize; ++j) {
        for (int i = 0; i < windowSize; ++i) {
            image.Pixel(x + j, y + i, pixel);
            const double red = pixel[0];
            const double green = pixel[1];
            const double blue = pixel[2];
            double divisor = 1.0;
            if (addMonochromaticBand) {
                // Normalisation is tied to the monochromatic band; alone it changes nothing.
                if (normalize) {
                    divisor = red + green + blue;
                }
                sums[3] += 0.2126 * red + 0.7152 * green + 0.0722 * blue;
            }
            sums[0] += red / divisor;
            sums[1] += green / divisor;
            sums[2] += blue / divisor;
        }
    }

    auto descriptor = LabelledDescriptor(polygon, bands, 1);
    const double pixelCount = static_cast<double>(windowSize) * static_cast<double>(windowSize);
    for (int band = 0; band < bands; ++band) {
        descriptor->Features()[static_cast<std::size_t>(band)][0] = sums[band] / pixelCount;
    }
    return descriptor;
}

}  // namespace velkar::featureextraction
