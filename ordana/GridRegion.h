#pragma once

// The part of a classification grid a run covers (--region X,Y,W,H, in pixels): the windows
// whose top-left corners lie in the rectangle, on the grid of the whole image, so that regions
// that tile an image hold every window once. Its windows are those of Local(), a grid of its
// own whose window i lies at (OriginX() + Local().X(i), OriginY() + Local().Y(i)) in the image,
// in the whole grid's order (x outer, y inner). A window may reach past the rectangle, never past
// the image. MapArea() is the part of the class map the region owns: the pixels whose painting
// window (the one whose centre square of side step covers them) has its corner in the region,
// with the map's unpainted borders going to the regions at the image's edges; the map areas of
// regions that tile the image tile the whole map.

#include <string>

#include "velkar/featureextraction/WindowGrid.h"
#include "velkar/imageprocessing/RasterFile.h"

namespace velkar::ordana {

class GridRegion {
  public:
    using Rectangle = imageprocessing::RasterFile::Rectangle;

    // The rectangle "X,Y,W,H" must lie in the width x height image and hold a pixel; throws
    // InputError naming the option otherwise.
    static Rectangle Parse(const std::string& text, int imageWidth, int imageHeight);

    // The whole image's windows of side windowSize at the step.
    GridRegion(int windowSize, int step, int imageWidth, int imageHeight);
    GridRegion(const Rectangle& region, int windowSize, int step, int imageWidth,
               int imageHeight);

    const featureextraction::WindowGrid& Local() const { return local; }
    int OriginX() const { return originX; }
    int OriginY() const { return originY; }
    std::size_t Count() const { return local.Count(); }
    int X(std::size_t index) const { return originX + local.X(index); }
    int Y(std::size_t index) const { return originY + local.Y(index); }

    const Rectangle& Area() const { return area; }
    const Rectangle& MapArea() const { return mapArea; }
    bool IsWholeImage() const { return whole; }

  private:
    Rectangle area;
    bool whole;
    int originX = 0;
    int originY = 0;
    featureextraction::WindowGrid local;
    Rectangle mapArea;
};

}  // namespace velkar::ordana
