#include "velkar/featureextraction/ColorAverage.h"

#include <stdexcept>

namespace velkar::featureextraction {

namespace {

const unsigned char kBlack[4] = {0, 0, 0, 0};

}  // namespace

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
    using imageprocessing::ImageFileSystem;
    const int bands = addMonochromaticBand ? 4 : 3;
    const ImageFileSystem& image = *Image();
    const std::size_t step = static_cast<std::size_t>(image.BytesPerPixel());
    // Every band adds its pixels column by column (column offset outer, row offset inner), as
    // band-by-band passes would; reading each pixel once gives the same sums.
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    for (int j = 0; j < windowSize; ++j) {
        for (int i = 0; i < windowSize; ++i) {
            const unsigned char* row = image.Row(y + i);
            // A bitmap without colour bytes reads as black, as single-pixel reads do.
            const unsigned char* pixel =
                row != nullptr ? row + static_cast<std::size_t>(x + j) * step : kBlack;
            const double red = pixel[ImageFileSystem::kRedOffset];
            const double green = pixel[ImageFileSystem::kGreenOffset];
            const double blue = pixel[ImageFileSystem::kBlueOffset];
            if (!addMonochromaticBand) {
                sums[0] += red;
                sums[1] += green;
                sums[2] += blue;
                continue;
            }
            sums[3] += 0.2126 * red + 0.7152 * green + 0.0722 * blue;
            // Normalisation is tied to the monochromatic band; alone it changes nothing.
            const double total = red + green + blue;
            if (!normalize) {
                sums[0] += red;
                sums[1] += green;
                sums[2] += blue;
            } else if (total == 0.0) {
                // Black is the limit of dark greys: neutral, a third for each chromaticity.
                sums[0] += 1.0 / 3.0;
                sums[1] += 1.0 / 3.0;
                sums[2] += 1.0 / 3.0;
            } else {
                sums[0] += red / total;
                sums[1] += green / total;
                sums[2] += blue / total;
            }
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
