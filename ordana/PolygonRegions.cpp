#include "ordana/PolygonRegions.h"

#include <algorithm>
#include <climits>

namespace velkar::ordana {

namespace {

// Half-open pixel ranges, in 64 bits so that no vertex overflows them.
struct Box {
    long long left = 0;
    long long top = 0;
    long long right = 0;
    long long bottom = 0;

    bool Empty() const { return left >= right || top >= bottom; }
    long long Area() const { return Empty() ? 0 : (right - left) * (bottom - top); }
};

Box Union(const Box& a, const Box& b) {
    if (a.Empty()) {
        return b;
    }
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

// The pixels a polygon's windows and box can read, clipped to the image.
Box NeededPixels(const math::Polygon& polygon, int width, int height) {
    if (polygon.Size() == 0) {
        return {};
    }
    long long minX = LLONG_MAX;
    long long minY = LLONG_MAX;
    long long maxX = LLONG_MIN;
    long long maxY = LLONG_MIN;
    for (auto vertex = polygon.Begin(); vertex != polygon.End(); ++vertex) {
        minX = std::min<long long>(minX, vertex->x());
        minY = std::min<long long>(minY, vertex->y());
        maxX = std::max<long long>(maxX, vertex->x());
        maxY = std::max<long long>(maxY, vertex->y());
    }
    Box box{std::max(minX - kRegionMargin, 0LL), std::max(minY - kRegionMargin, 0LL),
            std::min(maxX + kRegionMargin + 1, static_cast<long long>(width)),
            std::min(maxY + kRegionMargin + 1, static_cast<long long>(height))};
    return box.Empty() ? Box{} : box;
}

}  // namespace

std::vector<PolygonRegion> GroupIntoRegions(const PolygonList& polygons, int width, int height,
                                            long long pixelBudget) {
    std::vector<PolygonRegion> regions;
    Box current;
    bool currentNeedsPixels = false;
    const auto close = [&](std::size_t end) {
        if (!regions.empty()) {
            PolygonRegion& region = regions.back();
            region.count = end - region.first;
            region.area = {static_cast<int>(current.left), static_cast<int>(current.top),
                           static_cast<int>(current.right - current.left),
                           static_cast<int>(current.bottom - current.top)};
            if (current.Empty()) {
                region.area = {};
            }
        }
    };
    for (std::size_t i = 0; i < polygons.size(); ++i) {
        const Box needed = NeededPixels(*polygons[i], width, height);
        const bool needsPixels = !needed.Empty();
        const bool joins = !regions.empty() && needsPixels == currentNeedsPixels &&
                           (!needsPixels || Union(current, needed).Area() <= pixelBudget);
        if (joins) {
            current = Union(current, needed);
            continue;
        }
        close(i);
        regions.push_back({{}, i, 0});
        current = needed;
        currentNeedsPixels = needsPixels;
    }
    close(polygons.size());
    return regions;
}

PolygonList Translated(const PolygonList& polygons, const PolygonRegion& region) {
    PolygonList moved;
    moved.reserve(region.count);
    std::vector<math::Polygon::Point> points;
    for (std::size_t i = region.first; i < region.first + region.count; ++i) {
        const math::Polygon& polygon = *polygons[i];
        points.clear();
        for (auto vertex = polygon.Begin(); vertex != polygon.End(); ++vertex) {
            // A region's corner never lies right of or below a vertex of its polygons that is
            // past the image's left or top edge (the corner is 0 there), so no vertex overflows.
            points.emplace_back(vertex->x() - region.area.x, vertex->y() - region.area.y);
        }
        auto copy = std::make_shared<math::Polygon>();
        copy->SetPoints(points.data(), static_cast<int>(points.size()));
        std::vector<std::vector<math::Polygon::Point>> holes = polygon.Holes();
        for (auto& hole : holes) {
            for (auto& vertex : hole) {
                vertex = {vertex.x() - region.area.x, vertex.y() - region.area.y};
            }
        }
        copy->SetHoles(holes);
        copy->SetClass(polygon.Class());
        copy->SetId(polygon.Id());
        moved.push_back(std::move(copy));
    }
    return moved;
}

}  // namespace velkar::ordana
