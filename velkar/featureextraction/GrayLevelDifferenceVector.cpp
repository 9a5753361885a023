#include "velkar/featureextraction/GrayLevelDifferenceVector.h"

#include <memory>
#include <stdexcept>
#include <utility>

#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

namespace {

using Histogram = TextureHistogram2D::Histogram;

constexpr int kLevels = TextureHistogram2D::kLevels;
constexpr int kBands = TextureHistogram2D::kBands;

}  // namespace

GrayLevelDifferenceVector::GrayLevelDifferenceVector(int windowSize, std::vector<int> dx,
                                                     std::vector<int> dy)
    : windowSize(windowSize), dx(std::move(dx)), dy(std::move(dy)) {
    TextureHistogram2D::CheckDisplacements(this->windowSize, this->dx, this->dy);
}

std::string GrayLevelDifferenceVector::Name() const { return "Gray Level Difference Vector"; }

std::string GrayLevelDifferenceVector::FileExtension() const { return "glo"; }

int GrayLevelDifferenceVector::WindowSize() const { return windowSize; }

int GrayLevelDifferenceVector::FeatureCount() const {
    return kBands * kLevels * static_cast<int>(dx.size());
}

GrayLevelDifferenceVector::DescriptorList GrayLevelDifferenceVector::Process(
    PolygonList& polygons) {
    if (!Image()) {
        throw std::logic_error(Name() + " has no image: SetImage must be called before Process");
    }
    const TextureHistogram2D texture(Image(), windowSize, dx, dy, kLevels);
    // One histogram per worker thread, reused for every window it computes.
    util::Combinable<std::unique_ptr<Histogram>> histograms;
    return ProcessPolygons(polygons, [&](const math::Polygon& polygon) {
        std::unique_ptr<Histogram>& histogram = histograms.Local();
        if (!histogram) {
            texture.InitHistogram(histogram);
        }
        return ProcessPolygon(polygon, texture, *histogram);
    });
}

GrayLevelDifferenceVector::DescriptorList GrayLevelDifferenceVector::ProcessPolygon(
    const math::Polygon& polygon, const TextureHistogram2D& texture, Histogram& histogram) const {
    DescriptorList descriptors;
    const int displacements = static_cast<int>(dx.size());
    ForEachWindow(polygon, windowSize, [&](int x, int y) {
        texture.Calculate(x, y, histogram);
        auto descriptor = LabelledDescriptor(polygon, kBands, kLevels * displacements);
        for (int band = 0; band < kBands; ++band) {
            double* values = descriptor->Features()[static_cast<std::size_t>(band)].data();
            for (int k = 0; k < displacements; ++k) {
                // Empty cells add nothing, so the occupied upper-triangle cells are all there is
                // to fold.
                for (const auto& cell : histogram.OccupiedCells(k, band)) {
                    values[kLevels * k + (cell.c - cell.a)] += histogram.Share(k, cell);
                }
            }
        }
        descriptors.push_back(std::move(descriptor));
    });
    return descriptors;
}

}  // namespace velkar::featureextraction
