#include "velkar/featureextraction/WindowGrid.h"

#include <stdexcept>
#include <string>

namespace velkar::featureextraction {

namespace {

// Origins 0, step, ... with origin + windowSize <= side.
std::size_t OriginCount(int side, int windowSize, int step) {
    if (side < windowSize) {
        return 0;
    }
    return static_cast<std::size_t>((side - windowSize) / step) + 1;
}

}  // namespace

WindowGrid::WindowGrid(int windowSize, int step, int width, int height)
    : windowSize(windowSize), step(step), width(width), height(height) {
    if (windowSize < 1 || step < 1) {
        throw std::invalid_argument("a window grid needs a window size and a step of at least 1, " +
                                    std::string("got window size ") + std::to_string(windowSize) +
                                    " and step " + std::to_string(step));
    }
    if (width < 0 || height < 0) {
        throw std::invalid_argument("a window grid needs a width and height of at least 0, got " +
                                    std::to_string(width) + " x " + std::to_string(height));
    }
    columns = OriginCount(width, windowSize, step);
    rows = OriginCount(height, windowSize, step);
}

}  // namespace velkar::featureextraction
