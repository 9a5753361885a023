#include "velkar/math/Polygon.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using velkar::math::Polygon;
using Point = Polygon::Point;

Polygon MakePolygon(std::vector<Point> points) {
    Polygon polygon;
    polygon.SetPoints(points.data(), static_cast<int>(points.size()));
    return polygon;
}

// Compares Contains with an independent description of the region over a grid that reaches
// two pixels beyond it on every side, through both overloads.
void ExpectRegion(const Polygon& polygon, int minX, int maxX, int minY, int maxY,
                  const std::function<bool(int, int)>& inside) {
    for (int y = minY - 2; y <= maxY + 2; ++y) {
        for (int x = minX - 2; x <= maxX + 2; ++x) {
            const Point point(x, y);
            EXPECT_EQ(polygon.Contains(x, y), inside(x, y)) << "at (" << x << ", " << y << ")";
            EXPECT_EQ(polygon.Contains(point), inside(x, y)) << "at (" << x << ", " << y << ")";
        }
    }
}

bool InSquare(int x, int y) { return x >= 0 && x <= 10 && y >= 0 && y <= 10; }

TEST(PolygonTest, SquareContainsItsInteriorAndBoundary) {
    Polygon square = MakePolygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    EXPECT_TRUE(square.Contains(0, 0));
    EXPECT_TRUE(square.Contains(10, 10));
    EXPECT_TRUE(square.Contains(5, 0));
    EXPECT_TRUE(square.Contains(10, 5));
    EXPECT_TRUE(square.Contains(0, 7));
    EXPECT_TRUE(square.Contains(5, 5));
    EXPECT_FALSE(square.Contains(11, 5));
    EXPECT_FALSE(square.Contains(5, -1));
    EXPECT_FALSE(square.Contains(-1, -1));
    EXPECT_FALSE(square.Contains(5, 11));
}

TEST(PolygonTest, SquareAnswersDoNotDependOnOrientationStartOrRepeatedVertices) {
    const std::vector<std::vector<Point>> variants = {
        {{0, 0}, {10, 0}, {10, 10}, {0, 10}},
        {{0, 0}, {0, 10}, {10, 10}, {10, 0}},
        {{10, 10}, {0, 10}, {0, 0}, {10, 0}},
        {{0, 0}, {10, 0}, {10, 0}, {10, 10}, {0, 10}},
        {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}},
        // An extra vertex in the middle of an edge.
        {{0, 0}, {5, 0}, {10, 0}, {10, 10}, {0, 10}},
    };
    for (std::size_t i = 0; i < variants.size(); ++i) {
        SCOPED_TRACE("variant " + std::to_string(i));
        ExpectRegion(MakePolygon(variants[i]), 0, 10, 0, 10, InSquare);
    }
}

TEST(PolygonTest, SlopedEdgesCountTheirPointsAsInside) {
    Polygon triangle = MakePolygon({{0, 0}, {10, 0}, {0, 10}});
    EXPECT_TRUE(triangle.Contains(5, 5));
    EXPECT_TRUE(triangle.Contains(4, 5));
    EXPECT_FALSE(triangle.Contains(6, 5));
    ExpectRegion(triangle, 0, 10, 0, 10,
                 [](int x, int y) { return x >= 0 && y >= 0 && x + y <= 10; });

    // Edge with slope 1/2: points on it are exact lattice points every two columns.
    Polygon shallow = MakePolygon({{0, 0}, {8, 4}, {8, 0}});
    ExpectRegion(shallow, 0, 8, 0, 4, [](int x, int y) { return x <= 8 && y >= 0 && 2 * y <= x; });
}

TEST(PolygonTest, FewerThanTwoVerticesContainNothing) {
    Polygon empty;
    EXPECT_EQ(empty.Size(), 0);
    EXPECT_FALSE(empty.Contains(0, 0));

    Polygon single = MakePolygon({{3, 4}});
    EXPECT_EQ(single.Size(), 1);
    EXPECT_FALSE(single.Contains(3, 4));
    EXPECT_FALSE(single.Contains(0, 0));

    // The same vertex twice forms no edge either.
    Polygon doubled = MakePolygon({{3, 4}, {3, 4}});
    EXPECT_FALSE(doubled.Contains(3, 4));
}

TEST(PolygonTest, NotchOfAConcavePolygonIsOutside) {
    // A U open at the top: the notch spans 3 < x < 6 above y = 3.
    Polygon u = MakePolygon({{0, 0}, {9, 0}, {9, 9}, {6, 9}, {6, 3}, {3, 3}, {3, 9}, {0, 9}});
    EXPECT_FALSE(u.Contains(4, 5));
    EXPECT_FALSE(u.Contains(5, 8));
    EXPECT_FALSE(u.Contains(4, 9));
    EXPECT_TRUE(u.Contains(4, 3));
    EXPECT_TRUE(u.Contains(3, 6));
    EXPECT_TRUE(u.Contains(1, 8));
    EXPECT_TRUE(u.Contains(7, 8));
    ExpectRegion(u, 0, 9, 0, 9, [](int x, int y) {
        const bool inBox = x >= 0 && x <= 9 && y >= 0 && y <= 9;
        const bool inNotch = x > 3 && x < 6 && y > 3;
        return inBox && !inNotch;
    });
}

TEST(PolygonTest, SelfIntersectingPolygonUsesTheEvenOddRule) {
    // A ring that runs around the square twice crosses every ray an even number of times, so
    // the interior is outside, while the boundary still counts as inside.
    Polygon twice =
        MakePolygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}, {10, 0}, {10, 10}, {0, 10}});
    EXPECT_FALSE(twice.Contains(5, 5));
    EXPECT_TRUE(twice.Contains(5, 0));
}

TEST(PolygonTest, SetPointsReplacesAndKeepsFileOrder) {
    Polygon polygon = MakePolygon({{1, 1}, {2, 2}, {3, 3}});
    const std::vector<Point> replacement = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    polygon.SetPoints(replacement.data(), static_cast<int>(replacement.size()));
    ASSERT_EQ(polygon.Size(), 4);
    std::vector<Point> stored(polygon.Begin(), polygon.End());
    EXPECT_EQ(stored, replacement);
    EXPECT_TRUE(polygon.Contains(5, 5));
}

TEST(PolygonTest, CopiesCarryPointsClassAndIdAndStayIndependent) {
    Polygon original = MakePolygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    original.SetClass("forest");
    original.SetId(7);

    Polygon copy(original);
    Polygon assigned;
    assigned = original;
    for (const Polygon* polygon : {&copy, &assigned}) {
        EXPECT_EQ(polygon->Class(), "forest");
        EXPECT_EQ(polygon->Id(), 7);
        EXPECT_EQ(std::vector<Point>(polygon->Begin(), polygon->End()),
                  std::vector<Point>(original.Begin(), original.End()));
        EXPECT_TRUE(polygon->Contains(10, 10));
    }

    const std::vector<Point> smaller = {{0, 0}, {2, 0}, {2, 2}, {0, 2}};
    original.SetPoints(smaller.data(), static_cast<int>(smaller.size()));
    original.SetClass("water");
    original.SetId(8);
    EXPECT_FALSE(original.Contains(5, 5));
    EXPECT_TRUE(copy.Contains(5, 5));
    EXPECT_TRUE(assigned.Contains(5, 5));
    EXPECT_EQ(copy.Class(), "forest");
    EXPECT_EQ(assigned.Id(), 7);
}

TEST(PolygonTest, BoundsHoldEveryVertex) {
    Polygon polygon;
    const Polygon::Point vertices[] = {{3, -2}, {10, 4}, {-1, 7}, {5, 5}};
    polygon.SetPoints(vertices, 4);
    const auto box = polygon.Bounds();
    EXPECT_EQ(boost::polygon::xl(box), -1);
    EXPECT_EQ(boost::polygon::xh(box), 10);
    EXPECT_EQ(boost::polygon::yl(box), -2);
    EXPECT_EQ(boost::polygon::yh(box), 7);

    const auto empty = Polygon().Bounds();
    EXPECT_EQ(boost::polygon::xl(empty), 0);
    EXPECT_EQ(boost::polygon::yh(empty), 0);
}

}  // namespace
