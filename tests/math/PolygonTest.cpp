#include "velkar/math/Polygon.h"

#include <gtest/gtest.h>

#include <boost/geometry.hpp>
#include <cmath>
#include <functional>
#include <random>
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

// A point strictly inside a hole is outside; the hole's boundary belongs to the polygon.
TEST(PolygonTest, HolesCutTheirInsideOutOfThePolygon) {
    Polygon polygon = MakePolygon({{0, 0}, {20, 0}, {20, 20}, {0, 20}});
    polygon.SetHoles({{{5, 5}, {15, 5}, {15, 15}, {5, 15}}, {{1, 1}, {2, 2}}});
    ASSERT_EQ(polygon.Holes().size(), 1u);
    ExpectRegion(polygon, 0, 20, 0, 20, [](int x, int y) {
        const bool inOuter = x >= 0 && x <= 20 && y >= 0 && y <= 20;
        const bool inHole = x > 5 && x < 15 && y > 5 && y < 15;
        return inOuter && !inHole;
    });
}

// HoleOverlaps against Boost.Geometry's area of the intersection of the hole and the rectangle,
// over seeded random star-shaped holes (simple by construction) and rectangles around them.
TEST(PolygonTest, HoleOverlapsAgreesWithTheIntersectionArea) {
    namespace bg = boost::geometry;
    using BgPoint = bg::model::d2::point_xy<double>;
    using BgPolygon = bg::model::polygon<BgPoint, false>;
    std::mt19937 random(25);
    std::uniform_int_distribution<int> radius(1, 9);
    std::uniform_int_distribution<int> corner(-4, 24);
    std::uniform_int_distribution<int> size(1, 8);
    int overlapping = 0;
    int folded = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<Point> hole;
        const int count = 3 + round % 7;
        for (int k = 0; k < count; ++k) {
            const double angle = 2.0 * M_PI * k / count;
            const int r = radius(random);
            hole.emplace_back(10 + static_cast<int>(std::lround(r * std::cos(angle))),
                              10 + static_cast<int>(std::lround(r * std::sin(angle))));
        }
        Polygon polygon = MakePolygon({{-10, -10}, {40, -10}, {40, 40}, {-10, 40}});
        polygon.SetHoles({hole});
        BgPolygon reference;
        for (const Point& p : hole) {
            bg::append(reference.outer(), BgPoint(p.x(), p.y()));
        }
        bg::unique(reference);
        bg::correct(reference);
        // Rounding can fold a small star onto itself; such rings have no area to compare.
        if (!bg::is_valid(reference)) {
            ++folded;
            continue;
        }
        for (int window = 0; window < 20; ++window) {
            const int left = corner(random);
            const int top = corner(random);
            const int right = left + size(random);
            const int bottom = top + size(random);
            const bg::model::box<BgPoint> box(BgPoint(left, top), BgPoint(right, bottom));
            std::vector<BgPolygon> shared;
            bg::intersection(reference, box, shared);
            double area = 0.0;
            for (const auto& part : shared) {
                area += bg::area(part);
            }
            const bool expected = area > 1e-9;
            overlapping += expected ? 1 : 0;
            EXPECT_EQ(polygon.HoleOverlaps(left, top, right, bottom), expected)
                << "round " << round << " window " << left << " " << top << " " << right << " "
                << bottom << " area " << area << " hole " << bg::wkt(reference);
        }
    }
    // Both answers occur often enough for the comparison to mean something.
    EXPECT_GT(overlapping, 500);
    EXPECT_LT(overlapping, 5500);
    EXPECT_LT(folded, 60);
}

}  // namespace
