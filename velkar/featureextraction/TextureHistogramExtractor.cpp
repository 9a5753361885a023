#include "velkar/featureextraction/TextureHistogramExtractor.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

namespace {

using Histogram = TextureHistogram2D::Histogram;

// Windows per task when large windows are folded one at a time.
constexpr std::size_t kFoldChunk = 64;

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

TextureHistogramExtractor::FlatDescriptors TextureHistogramExtractor::DescribePolygons(
    PolygonList& polygons) {
    CheckPolygons(polygons);
    const TextureHistogram2D texture(Image(), windowSize, dx, dy, TextureHistogram2D::kLevels);
    util::Combinable<std::unique_ptr<Histogram>> histograms;
    const std::size_t length = static_cast<std::size_t>(FeatureCount());
    return DescribeIntoOneBlock(
        polygons,
        [this](const math::Polygon& polygon) { return CountWindows(polygon, windowSize); },
        [&](const math::Polygon& polygon, double* out) {
            std::unique_ptr<Histogram>& histogram = histograms.Local();
            if (!histogram) {
                texture.InitHistogram(histogram);
            }
            ForEachWindow(polygon, windowSize, [&](int x, int y) {
                texture.Calculate(x, y, *histogram);
                std::fill(out, out + length, 0.0);
                FoldWindow(*histogram, out);
                out += length;
            });
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

int TextureHistogramExtractor::PairCount(int k) const {
    const std::size_t index = static_cast<std::size_t>(k);
    return (windowSize - std::abs(dx[index])) * (windowSize - std::abs(dy[index]));
}

void TextureHistogramExtractor::FoldWindow(const Histogram& histogram, double* out) const {
    const int displacements = static_cast<int>(dx.size());
    for (int band = 0; band < histogram.Bands(); ++band) {
        for (int k = 0; k < displacements; ++k) {
            Fold(histogram, k, band, out + (band * displacements + k) * valuesPerDisplacement);
        }
    }
}

void TextureHistogramExtractor::DescribeGridWindows(const WindowGrid& grid, std::size_t first,
                                                    std::size_t count, double* features) {
    if (windowSize <= kLargestSlidingWindow) {
        DescribeSlidingGrid(grid, first, count, features);
        return;
    }
    // A window this large shares little with its neighbours next to its own pairs.
    const std::size_t length = static_cast<std::size_t>(FeatureCount());
    std::fill(features, features + count * length, 0.0);
    const TextureHistogram2D texture(Image(), windowSize, dx, dy, TextureHistogram2D::kLevels);
    util::Combinable<std::unique_ptr<Histogram>> histograms;
    util::ParallelFor((count + kFoldChunk - 1) / kFoldChunk, [&](std::size_t chunk) {
        std::unique_ptr<Histogram>& histogram = histograms.Local();
        if (!histogram) {
            texture.InitHistogram(histogram);
        }
        const std::size_t end = std::min(count, (chunk + 1) * kFoldChunk);
        for (std::size_t n = chunk * kFoldChunk; n < end; ++n) {
            texture.Calculate(grid.X(first + n), grid.Y(first + n), *histogram);
            FoldWindow(*histogram, features + n * length);
        }
    });
}

}  // namespace velkar::featureextraction
