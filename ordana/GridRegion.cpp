#include "ordana/GridRegion.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "ordana/InputError.h"
#include "ordana/OptionDescription.h"

namespace velkar::ordana {

namespace {

// The first grid position at or after position.
int FirstCorner(int position, int step) { return (position + step - 1) / step * step; }

// Along one axis of the given size: the first corner, the span the region's windows cover from
// it (below windowSize when there is none), and the map's pixels [begin, end).
struct Axis {
    int origin = 0;
    int span = 0;
    int begin = 0;
    int end = 0;
};

Axis RegionAxis(int start, int length, int size, int windowSize, int step) {
    Axis axis;
    const int stop = start + length;
    axis.origin = FirstCorner(start, step);
    if (axis.origin < stop && axis.origin < size) {
        const int lastCorner = axis.origin + (stop - 1 - axis.origin) / step * step;
        axis.span = std::max(0, std::min(size, lastCorner + windowSize) - axis.origin);
    } else {
        axis.origin = std::min(axis.origin, size);
    }
    const int offset = (windowSize - step) / 2;
    axis.begin = start <= 0 ? 0 : std::min(size, FirstCorner(start, step) + offset);
    axis.end = stop >= size ? size : std::min(size, FirstCorner(stop, step) + offset);
    return axis;
}

}  // namespace

GridRegion::Rectangle GridRegion::Parse(const std::string& text, int imageWidth,
                                        int imageHeight) {
    std::vector<long long> numbers;
    bool valid = true;
    for (std::size_t start = 0; valid;) {
        const std::size_t comma = text.find(',', start);
        const char* stop = text.data() + (comma == std::string::npos ? text.size() : comma);
        long long value = 0;
        const auto read = std::from_chars(text.data() + start, stop, value);
        valid = read.ec == std::errc() && read.ptr == stop;
        numbers.push_back(value);
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (!valid || numbers.size() != 4) {
        throw InputError(RejectionMessage({"region"}, {text},
                                          "four whole numbers X,Y,W,H are expected, the "
                                          "top-left pixel and the width and height"));
    }
    const long long x = numbers[0], y = numbers[1], w = numbers[2], h = numbers[3];
    if (x < 0 || y < 0 || w < 1 || h < 1 || x + w > imageWidth || y + h > imageHeight) {
        throw InputError(RejectionMessage(
            {"region"}, {text},
            "the rectangle must hold a pixel and lie inside the image of " +
                std::to_string(imageWidth) + " x " + std::to_string(imageHeight) + " pixels"));
    }
    return {static_cast<int>(x), static_cast<int>(y), static_cast<int>(w), static_cast<int>(h)};
}

GridRegion::GridRegion(int windowSize, int step, int imageWidth, int imageHeight)
    : GridRegion({0, 0, imageWidth, imageHeight}, windowSize, step, imageWidth, imageHeight) {}

GridRegion::GridRegion(const Rectangle& region, int windowSize, int step, int imageWidth,
                       int imageHeight)
    : area(region),
      whole(region.x == 0 && region.y == 0 && region.width == imageWidth &&
            region.height == imageHeight),
      local(windowSize, step, 0, 0) {
    const Axis across = RegionAxis(region.x, region.width, imageWidth, windowSize, step);
    const Axis down = RegionAxis(region.y, region.height, imageHeight, windowSize, step);
    originX = across.origin;
    originY = down.origin;
    local = featureextraction::WindowGrid(windowSize, step, across.span, down.span);
    mapArea = {across.begin, down.begin, across.end - across.begin, down.end - down.begin};
}

}  // namespace velkar::ordana
