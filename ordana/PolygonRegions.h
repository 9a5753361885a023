#pragma once

// The pieces of an image the experiments read: consecutive polygons of a polygon list share one
// rectangle of pixels, the union of their boxes (every vertex's pixel and a margin of
// kRegionMargin pixels around, clipped to the image), as long as that union stays within a
// budget of pixels; a polygon whose own box is larger gets a region of its own. Polygons that
// need no pixel of the image (they lie at least the margin past its edges) form regions of
// their own with an empty rectangle at (0, 0). Every polygon lies in exactly one region, in
// list order. The polygons of a region are moved into its coordinates by Translated: the window
// layouts are anchored on each polygon's own box and test only pixels inside it, so they are the
// same in the region as in the whole image.

#include <cstddef>
#include <memory>
#include <vector>

#include "velkar/imageprocessing/RasterFile.h"
#include "velkar/math/Polygon.h"

namespace velkar::ordana {

// Enough for the gradient of a box's edge pixels; no extractor reads further.
constexpr int kRegionMargin = 1;
// About 16 MB of four 8-bit bands.
constexpr long long kRegionPixels = 1LL << 22;

struct PolygonRegion {
    imageprocessing::RasterFile::Rectangle area;
    std::size_t first = 0;
    std::size_t count = 0;
};

using PolygonList = std::vector<std::shared_ptr<math::Polygon>>;

std::vector<PolygonRegion> GroupIntoRegions(const PolygonList& polygons, int width, int height,
                                            long long pixelBudget = kRegionPixels);

// Copies of the region's polygons with every vertex (of the outline and of the holes) moved by
// minus the region's corner; class and id stay.
PolygonList Translated(const PolygonList& polygons, const PolygonRegion& region);

}  // namespace velkar::ordana
