#include "ordana/PolygonRegions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using velkar::math::Polygon;
using velkar::ordana::GroupIntoRegions;
using velkar::ordana::kRegionMargin;
using velkar::ordana::PolygonList;
using velkar::ordana::Translated;

std::shared_ptr<Polygon> RandomPolygon(std::mt19937& random, int id) {
    std::uniform_int_distribution<int> corner(-60, 160);
    std::uniform_int_distribution<int> side(1, 70);
    const int x = corner(random);
    const int y = corner(random);
    const Polygon::Point points[] = {{x, y}, {x + side(random), y}, {x, y + side(random)}};
    auto polygon = std::make_shared<Polygon>();
    polygon->SetPoints(points, 3);
    polygon->SetId(id);
    polygon->SetClass("c" + std::to_string(id % 3));
    return polygon;
}

// Over random polygons and budgets: regions follow each other in list order, lie in the image,
// hold every pixel of their polygons' boxes (with the margin) that lies in the image, stay
// within the budget unless a single polygon needs more, and are empty only for polygons that
// need no pixel; Translated moves the vertices by the region's corner and keeps class and id.
TEST(PolygonRegionsTest, RegionsCoverTheirPolygonsWithinTheBudget) {
    std::mt19937 random(8);
    const int width = 100;
    const int height = 90;
    for (const long long budget : {1LL, 500LL, 4000LL, 1LL << 20}) {
        PolygonList polygons;
        for (int id = 0; id < 60; ++id) {
            polygons.push_back(RandomPolygon(random, id));
        }
        const auto regions = GroupIntoRegions(polygons, width, height, budget);
        std::size_t next = 0;
        for (const auto& region : regions) {
            ASSERT_EQ(region.first, next);
            ASSERT_GE(region.count, 1u);
            next += region.count;
            const auto& area = region.area;
            EXPECT_TRUE(area.x >= 0 && area.y >= 0 && area.x + area.width <= width &&
                        area.y + area.height <= height);
            const long long pixels = static_cast<long long>(area.width) * area.height;
            EXPECT_TRUE(pixels <= budget || region.count == 1) << pixels << " > " << budget;
            const PolygonList moved = Translated(polygons, region);
            ASSERT_EQ(moved.size(), region.count);
            for (std::size_t k = 0; k < region.count; ++k) {
                const Polygon& polygon = *polygons[region.first + k];
                const auto box = polygon.Bounds();
                const int left = std::max(boost::polygon::xl(box) - kRegionMargin, 0);
                const int top = std::max(boost::polygon::yl(box) - kRegionMargin, 0);
                const int right = std::min(boost::polygon::xh(box) + kRegionMargin + 1, width);
                const int bottom = std::min(boost::polygon::yh(box) + kRegionMargin + 1, height);
                const bool needsPixels = left < right && top < bottom;
                EXPECT_EQ(area.width > 0, needsPixels) << polygon.Id();
                if (needsPixels) {
                    EXPECT_TRUE(area.x <= left && area.y <= top &&
                                area.x + area.width >= right && area.y + area.height >= bottom)
                        << polygon.Id();
                }
                EXPECT_EQ(moved[k]->Id(), polygon.Id());
                EXPECT_EQ(moved[k]->Class(), polygon.Class());
                ASSERT_EQ(moved[k]->Size(), polygon.Size());
                for (int v = 0; v < polygon.Size(); ++v) {
                    EXPECT_EQ(moved[k]->Begin()[v].x(), polygon.Begin()[v].x() - area.x);
                    EXPECT_EQ(moved[k]->Begin()[v].y(), polygon.Begin()[v].y() - area.y);
                }
            }
        }
        EXPECT_EQ(next, polygons.size());
        if (budget == 1) {
            // Every polygon that needs pixels stands alone.
            for (const auto& region : regions) {
                EXPECT_TRUE(region.count == 1 || region.area.width == 0);
            }
        }
    }
}

}  // namespace
