#include "velkar/math/Polygon.h"

#include <algorithm>
#include <cmath>

namespace velkar::math {

namespace {

struct Vertex {
    double x;
    double y;
};

// The part of the ring on the inner side of one edge of an axis-aligned rectangle
// (Sutherland-Hodgman): inside(v) tells the side, cross(a, b) the crossing of the edge a-b with
// the rectangle's line. Against a convex window the clipped ring of any simple polygon encloses
// exactly the shared area; its extra edges run along the window's border and add no area.
template <typename Inside, typename Cross>
std::vector<Vertex> ClipRing(const std::vector<Vertex>& ring, Inside inside, Cross cross) {
    std::vector<Vertex> clipped;
    if (ring.empty()) {
        return clipped;
    }
    Vertex previous = ring.back();
    bool previousInside = inside(previous);
    for (const Vertex& current : ring) {
        const bool currentInside = inside(current);
        if (currentInside != previousInside) {
            clipped.push_back(cross(previous, current));
        }
        if (currentInside) {
            clipped.push_back(current);
        }
        previous = current;
        previousInside = currentInside;
    }
    return clipped;
}

double RingArea(const std::vector<Vertex>& ring) {
    double twice = 0.0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const Vertex& a = ring[i];
        const Vertex& b = ring[(i + 1) % ring.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return std::abs(twice) / 2.0;
}

double SharedArea(const std::vector<Polygon::Point>& hole, double left, double top, double right,
                  double bottom) {
    // Measured from the window's corner, so that the products of the area stay small.
    std::vector<Vertex> ring;
    ring.reserve(hole.size());
    for (const Polygon::Point& point : hole) {
        ring.push_back(
            {static_cast<double>(point.x()) - left, static_cast<double>(point.y()) - top});
    }
    right -= left;
    bottom -= top;
    left = 0.0;
    top = 0.0;
    const auto atX = [](double x) {
        return [x](const Vertex& a, const Vertex& b) {
            return Vertex{x, a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x)};
        };
    };
    const auto atY = [](double y) {
        return [y](const Vertex& a, const Vertex& b) {
            return Vertex{a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y), y};
        };
    };
    ring = ClipRing(
        ring, [left](const Vertex& v) { return v.x >= left; }, atX(left));
    ring = ClipRing(
        ring, [right](const Vertex& v) { return v.x <= right; }, atX(right));
    ring = ClipRing(
        ring, [top](const Vertex& v) { return v.y >= top; }, atY(top));
    ring = ClipRing(
        ring, [bottom](const Vertex& v) { return v.y <= bottom; }, atY(bottom));
    return RingArea(ring);
}

}  // namespace

void Polygon::SetPoints(const Point* newPoints, int count) {
    points.assign(newPoints, newPoints + (count > 0 ? count : 0));
    shape.set(points.begin(), points.end());
}

void Polygon::SetHoles(const std::vector<std::vector<Point>>& rings) {
    holes.clear();
    holeShapes.clear();
    holeBounds.clear();
    for (const auto& ring : rings) {
        if (ring.size() < 3) {
            continue;
        }
        holes.push_back(ring);
        holeShapes.emplace_back();
        holeShapes.back().set(ring.begin(), ring.end());
        boost::polygon::rectangle_data<int> box(0, 0, 0, 0);
        boost::polygon::extents(box, holeShapes.back());
        holeBounds.push_back(box);
    }
}

boost::polygon::rectangle_data<int> Polygon::Bounds() const {
    boost::polygon::rectangle_data<int> box(0, 0, 0, 0);
    boost::polygon::extents(box, shape);
    return box;
}

bool Polygon::Contains(int x, int y) const { return Contains(Point(x, y)); }

bool Polygon::Contains(const Point& point) const {
    if (points.size() < 2 || !boost::polygon::contains(shape, point, true)) {
        return false;
    }
    for (const auto& hole : holeShapes) {
        if (boost::polygon::contains(hole, point, false)) {
            return false;
        }
    }
    return true;
}

bool Polygon::HoleOverlaps(int left, int top, int right, int bottom) const {
    namespace bp = boost::polygon;
    for (std::size_t h = 0; h < holes.size(); ++h) {
        const auto& box = holeBounds[h];
        // Boxes that meet at most along a line share no area.
        if (bp::xh(box) <= left || bp::xl(box) >= right || bp::yh(box) <= top ||
            bp::yl(box) >= bottom) {
            continue;
        }
        // Vertices are whole numbers, so a shared area is never a rounding error's size.
        if (SharedArea(holes[h], left, top, right, bottom) > 1e-9) {
            return true;
        }
    }
    return false;
}

}  // namespace velkar::math
