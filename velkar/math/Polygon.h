#pragma once

// One labelled region of an image: integer vertices in pixel coordinates (x column from the
// left, y row from the top), the class name of the region and a numeric identifier. The ring
// closes from the last vertex back to the first. Contains() is Boost.Polygon's point-in-polygon
// test with the boundary counted as inside; a polygon with fewer than two distinct vertices
// contains nothing. A polygon may have holes (rings of their own): a point strictly inside a
// hole is outside the polygon, a point on a hole's boundary is inside. Const operations may be
// called from several threads at once.

#include <string>
#include <vector>

#include <boost/polygon/polygon.hpp>

namespace velkar::math {

class Polygon {
  public:
    using Point = boost::polygon::point_data<int>;
    using ConstIterator = std::vector<Point>::const_iterator;

    Polygon() = default;
    virtual ~Polygon() = default;
    Polygon(const Polygon&) = default;
    Polygon& operator=(const Polygon&) = default;

    void SetPoints(const Point* points, int count);
    // Replaces the holes; a hole with fewer than three vertices has no inside and is dropped.
    void SetHoles(const std::vector<std::vector<Point>>& rings);
    const std::vector<std::vector<Point>>& Holes() const { return holes; }
    void SetClass(std::string name) { className = std::move(name); }
    std::string Class() const { return className; }
    void SetId(int value) { id = value; }
    int Id() const { return id; }

    int Size() const { return static_cast<int>(points.size()); }
    ConstIterator Begin() const { return points.begin(); }
    ConstIterator End() const { return points.end(); }

    // The smallest axis-aligned rectangle holding every vertex; (0, 0)-(0, 0) without vertices.
    boost::polygon::rectangle_data<int> Bounds() const;

    bool Contains(int x, int y) const;
    bool Contains(const Point& point) const;
    // Whether the inside of a hole and the inside of the rectangle [left, right] x [top,
    // bottom] share an area larger than zero (a hole that only touches it does not count).
    bool HoleOverlaps(int left, int top, int right, int bottom) const;

  private:
    std::vector<Point> points;
    // The same vertices in Boost's own polygon type, built once so that containment tests
    // from many threads allocate nothing.
    boost::polygon::polygon_data<int> shape;
    std::vector<std::vector<Point>> holes;
    std::vector<boost::polygon::polygon_data<int>> holeShapes;
    std::vector<boost::polygon::rectangle_data<int>> holeBounds;
    std::string className;
    int id = 0;
};

}  // namespace velkar::math
