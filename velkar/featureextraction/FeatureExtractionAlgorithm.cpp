#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "velkar/util/Parallel.h"

namespace velkar::featureextraction {

namespace {

// Start values of the bounding box, kept as they are so that window grids stay where they
// have always been (maxima start at 0, not at the lowest vertex).
constexpr long long kBoxMinimumStart = 100000000;
constexpr long long kBoxMaximumStart = 0;

// The first grid origin start, start + step, ... that is not negative.
long long FirstNonNegativeOrigin(long long start, long long step) {
    if (start >= 0) {
        return start;
    }
    return start + (-start + step - 1) / step * step;
}

}  // namespace

void FeatureExtractionAlgorithm::SetImage(
    std::shared_ptr<imageprocessing::ImageFileSystem> newImage) {
    image = std::move(newImage);
}

std::string FeatureExtractionAlgorithm::FileExtension() const { return "txt"; }

std::string FeatureExtractionAlgorithm::Version() const { return "1.0"; }

std::string FeatureExtractionAlgorithm::Name() const { return "Feature Extraction Algorithm"; }

int FeatureExtractionAlgorithm::ClassificationWindowSize(const PolygonList&) const {
    return WindowSize();
}

FeatureExtractionAlgorithm::BoundingBox FeatureExtractionAlgorithm::BoxOf(
    const math::Polygon& polygon) {
    BoundingBox box{kBoxMinimumStart, kBoxMinimumStart, kBoxMaximumStart, kBoxMaximumStart};
    for (auto vertex = polygon.Begin(); vertex != polygon.End(); ++vertex) {
        box.minX = std::min<long long>(box.minX, vertex->x());
        box.minY = std::min<long long>(box.minY, vertex->y());
        box.maxX = std::max<long long>(box.maxX, vertex->x());
        box.maxY = std::max<long long>(box.maxY, vertex->y());
    }
    return box;
}

FeatureExtractionAlgorithm::DescriptorList FeatureExtractionAlgorithm::ProcessPolygons(
    const PolygonList& polygons, const PolygonTask& processPolygon) const {
    if (!image) {
        throw std::logic_error(Name() + " has no image: SetImage must be called before Process");
    }
    for (std::size_t index = 0; index < polygons.size(); ++index) {
        if (!polygons[index]) {
            throw std::invalid_argument("polygon list holds an empty pointer at position " +
                                        std::to_string(index));
        }
    }

    // Every polygon writes its own slot; the slots are joined in input order after the loop,
    // so the result is the same whatever the number of threads and needs no lock.
    std::vector<DescriptorList> slots(polygons.size());
    util::ParallelFor(polygons.size(),
                      [&](std::size_t index) { slots[index] = processPolygon(*polygons[index]); });
    std::size_t total = 0;
    for (const DescriptorList& slot : slots) {
        total += slot.size();
    }
    DescriptorList result;
    result.reserve(total);
    for (DescriptorList& slot : slots) {
        result.insert(result.end(), std::make_move_iterator(slot.begin()),
                      std::make_move_iterator(slot.end()));
    }
    return result;
}

void FeatureExtractionAlgorithm::ForEachWindow(const math::Polygon& polygon, int windowSize,
                                               const WindowVisitor& visit) const {
    LayWindows(polygon, windowSize, windowSize, visit);
}

void FeatureExtractionAlgorithm::ForEachCoveredWindow(const math::Polygon& polygon, int windowSize,
                                                      const WindowVisitor& visit) const {
    LayWindows(polygon, windowSize, windowSize - 1, visit);
}

void FeatureExtractionAlgorithm::LayWindows(const math::Polygon& polygon, int windowSize,
                                            int cornerReach, const WindowVisitor& visit) const {
    if (windowSize < 1) {
        throw std::invalid_argument("window size must be at least 1, got " +
                                    std::to_string(windowSize));
    }
    const auto [minX, minY, maxX, maxY] = BoxOf(polygon);

    // Windows reaching past the image are never taken, so the loops skip the grid origins
    // left of or above it and stop where a window would cross its far edges. This keeps the
    // grid where the box puts it, never reads outside the bitmap, and bounds the work by the
    // image size however large the polygon's coordinates are. 64-bit arithmetic keeps x + w
    // from overflowing.
    const long long step = windowSize;
    const long long width = image ? image->Width() : 0;
    const long long height = image ? image->Height() : 0;
    const long long firstY = FirstNonNegativeOrigin(minY, step);
    for (long long x = FirstNonNegativeOrigin(minX, step); x < maxX && x + step <= width;
         x += step) {
        for (long long y = firstY; y < maxY && y + step <= height; y += step) {
            const int left = static_cast<int>(x);
            const int top = static_cast<int>(y);
            const int right = left + cornerReach;
            const int bottom = top + cornerReach;
            if (polygon.Contains(left, top) && polygon.Contains(right, top) &&
                polygon.Contains(right, bottom) && polygon.Contains(left, bottom)) {
                visit(left, top);
            }
        }
    }
}

std::shared_ptr<Descriptor> FeatureExtractionAlgorithm::LabelledDescriptor(
    const math::Polygon& polygon, int bands, int length) {
    auto descriptor = std::make_shared<Descriptor>(bands, length);
    descriptor->SetClass(polygon.Class());
    descriptor->SetPolygonId(polygon.Id());
    return descriptor;
}

}  // namespace velkar::featureextraction
