#include "velkar/featureextraction/TextureHistogramExtractor.h"

#include <memory>
#include <utility>

#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

namespace {

using Histogram = TextureHistogram2D::Histogram;

}  // namespace

TextureHistogramExtractor::TextureHistogramExtractor(int windowSize, std::vector<int> dx,
                                                     std::vector<int> dy, int valuesPerDisplacement)
    : windowSize(windowSize),
      dx(std::move(dx)),
      dy(std::move(dy)),
      valuesPerDisplacement(valuesPerDisplacement) {
    TextureHistogram2D::CheckDisplacements(this->windowSize, this->dx, this->dy);
}

int TextureHistogramExtractor::WindowSize() const { return windowSize; }

int TextureHistogramExtractor::FeatureCount() const {
    return ImageBandCount() * valuesPerDisplacement * static_cast<int>(dx.size());
}

TextureHistogramExtractor::DescriptorList TextureHistogramExtractor::Process(
    PolygonList& polygons) {
    CheckPolygons(polygons);
    const TextureHistogram2D texture(Image(), windowSize, dx, dy, TextureHistogram2D::kLevels);
    util::Combinable<std::unique_ptr<Histogram>> histograms;
    return ProcessPolygons(polygons, [&](const math::Polygon& polygon) {
        std::unique_ptr<Histogram>& histogram = histograms.Local();
        if (!histogram) {
            texture.InitHistogram(histogram);
        }
        return ProcessPolygon(polygon, texture, *histogram);
    });
}

TextureHistogramExtractor::DescriptorList TextureHistogramExtractor::ProcessPolygon(
    const math::Polygon& polygon, const TextureHistogram2D& texture, Histogram& histogram) const {
    DescriptorList descriptors;
    const int displacements = static_cast<int>(dx.size());
    const int bands = histogram.Bands();
    ForEachWindow(polygon, windowSize, [&](int x, int y) {
        texture.Calculate(x, y, histogram);
        auto descriptor = LabelledDescriptor(polygon, bands, valuesPerDisplacement * displacements);
        for (int band = 0; band < bands; ++band) {
            double* values = descriptor->Features()[static_cast<std::size_t>(band)].data();
            for (int k = 0; k < displacements; ++k) {
                Fold(histogram, k, band, values + valuesPerDisplacement * k);
            }
        }
        descriptors.push_back(std::move(descriptor));
    });
    return descriptors;
}

}  // namespace velkar::featureextraction
