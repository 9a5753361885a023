#include "velkar/math/Polygon.h"

namespace velkar::math {

void Polygon::SetPoints(const Point* newPoints, int count) {
    points.assign(newPoints, newPoints + (count > 0 ? count : 0));
    shape.set(points.begin(), points.end());
}

boost::polygon::rectangle_data<int> Polygon::Bounds() const {
    boost::polygon::rectangle_data<int> box(0, 0, 0, 0);
    boost::polygon::extents(box, shape);
    return box;
}

bool Polygon::Contains(int x, int y) const { return Contains(Point(x, y)); }

bool Polygon::Contains(const Point& point) const {
    if (points.size() < 2) {
        return false;
    }
    return boost::polygon::contains(shape, point, true);
}

}  // namespace velkar::math
